#pragma once
// A dialog the user may make larger: its controls follow the size by their anchors, it never becomes
// smaller than its template made it, and the pixel sizes of its own follow a move to another DPI.
#include <windows.h>

#include <utility>
#include <vector>

#include "settings/WindowSettings.h"
#include "ui/Dialog.h"

class ResizableDialog : public Dialog {
protected:
    // How a control follows the window's size.
    enum class Anchor {
        Right,           // keeps its distance from the right edge
        Width,           // keeps its right edge's distance from the window's
        WidthAndHeight,  // fills the rest of the window
    };
    struct AnchoredControl {
        int control;
        Anchor anchor;
    };

    // In the order the controls are laid out.
    explicit ResizableDialog(std::vector<AnchoredControl> anchors) : anchors_(std::move(anchors)) {}

    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The window as the template made it: the smallest it may become, and what the layout starts from.
    // Called once the window is made, before it first moves.
    void recordMinimum();
    // The DPI the sizes of the layout are for.
    unsigned layoutDpi() const { return dpi_; }
    // The window went to a monitor of another DPI and the layout's sizes followed it: the sizes the
    // dialog keeps of its own follow it too. The dialog manager itself scales the window, its font
    // and its controls.
    virtual void onDpiChanged(unsigned /*from*/, unsigned /*to*/) {}

    Rect32 bounds;  // outer rectangle when last moved or sized while not minimised
    // The smallest outer size: the size the template gives, at the window's DPI.
    int minWidth = 0, minHeight = 0;

private:
    void trackWindow();
    void enforceMinimum(WINDOWPOS& proposed);
    void relayout();
    void dpiChanged(unsigned dpi);

    std::vector<AnchoredControl> anchors_;
    int clientWidth = 0, clientHeight = 0;  // the client size at the last layout
    unsigned dpi_ = 0;                      // the DPI of the sizes above
    // The minimum as first measured, and the DPI it was measured at.
    int firstMinWidth_ = 0, firstMinHeight_ = 0;
    unsigned firstDpi_ = 0;
};
