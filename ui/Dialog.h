#pragma once
// Base of the program's dialogs: binds a dialog window to its object and routes its messages to
// virtual handlers.
#include <windows.h>

#include <exception>

#include "base/MessagePump.h"
#include "ui/Format.h"

class Dialog {
public:
    Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Runs the dialog modally; the EndDialog value, or -1 when no window was made. An error raised
    // by a handler ends the run and is raised again here.
    INT_PTR runModal();
    // Creates, shows and paints the dialog and makes it current; false when no window was made. An
    // error raised by a handler during creation is raised again here, the window destroyed.
    bool showModeless();
    // Destroys the window; false when there was none. An error a handler raised while the window
    // ran is raised again here.
    bool destroy();
    void centerOnDesktop();

    HWND hwnd = nullptr;

protected:
    virtual bool onInitDialog(WPARAM wParam, LPARAM lParam);
    virtual bool onCommand(WPARAM wParam, LPARAM lParam);
    virtual int templateId();

public:
    virtual ~Dialog();

protected:
    // Sees every message after initialisation; overrides pass what they leave to this version.
    virtual bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

public:
    // Control primitives; `list` is the list-view control's ID. Public for the helpers that own a
    // control of a dialog.
    void insertColumn(int list, int index, const char* title, int width);
    void insertItem(int list, int index, const char* text, void* entry);
    void setCell(int list, int item, int column, const char* text, void* entry);
    void deleteItem(int list, int index);
    int firstSelected(int list);
    void selectItem(int list, int index);
    void* itemData(int list, int index);
    int findItem(int list, void* entry);
    void setColumnImage(int list, int column, int image);  // image < 0: none
    void setChecked(int control, bool checked);
    bool isChecked(int control);
    // Both add to a deferred positioning the caller began with BeginDeferWindowPos.
    void growControl(HDWP& positions, int control, int dx, int dy);
    void moveControl(HDWP& positions, int control, int dx, int dy);
    // `pixels` at 96 DPI, grown as the dialog's font has grown from its size at 96 DPI: the dialog
    // follows its font, which may grow less than the DPI.
    int scaleWithFont(int pixels) const;

protected:
    // destroy() without raising a kept error, for destructors.
    bool destroyWindow();
    // The DPI the window is drawn at: its monitor's where the system tells each window its own,
    // else the system's.
    unsigned windowDpi() const;

private:
    LRESULT sendTo(int control, UINT message, WPARAM wParam, LPARAM lParam);
    void raiseFailure();

    bool modal_ = false;
    // The first error a handler raised; kept because it cannot unwind through the system's frames.
    std::exception_ptr failure_;
};
