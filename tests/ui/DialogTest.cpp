#include <winsock2.h>
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "ui/Dialog.h"
#include "ui/resource.h"

namespace {
// A plain window that counts the messages dispatched to it.
class CountingWindow {
public:
    CountingWindow() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "CountingWindow";
        RegisterClassA(&wc);
        hwnd = CreateWindowA("CountingWindow", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                             nullptr);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~CountingWindow() { DestroyWindow(hwnd); }
    static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<CountingWindow*>(GetWindowLongPtrA(w, GWLP_USERDATA));
        if (self && m >= WM_USER)
            self->seen.push_back(m);
        return DefWindowProcA(w, m, wp, lp);
    }
    HWND hwnd;
    std::vector<UINT> seen;
};

void drainQueue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

TEST(PumpTest, PollHandlesAtMostTenMessagesPerCall) {
    CountingWindow window;
    drainQueue();
    for (int i = 0; i < 25; ++i)
        PostMessageA(window.hwnd, WM_USER + 10, i, 0);
    pollMessages();
    EXPECT_EQ(10u, window.seen.size());
    pollMessages();
    EXPECT_EQ(20u, window.seen.size());
    pollMessages();
    EXPECT_EQ(25u, window.seen.size());
    pollMessages();  // nothing queued: returns at once
    EXPECT_EQ(25u, window.seen.size());
}

TEST(PumpTest, WaitReturnsTheWantedMessageUndispatched) {
    CountingWindow window;
    drainQueue();
    PostMessageA(window.hwnd, WM_USER + 2, 0, 0);
    PostMessageA(window.hwnd, WM_USER + 3, 0, 0);
    PostMessageA(window.hwnd, WM_USER + 1, 0, 0x12345);
    PostMessageA(window.hwnd, WM_USER + 4, 0, 0);
    MSG msg;
    ASSERT_TRUE(waitForMessage(msg, WM_USER + 1));
    EXPECT_EQ(static_cast<UINT>(WM_USER + 1), msg.message);
    EXPECT_EQ(0x12345, msg.lParam);
    EXPECT_EQ((std::vector<UINT>{WM_USER + 2, WM_USER + 3}), window.seen);
    drainQueue();
    EXPECT_EQ((std::vector<UINT>{WM_USER + 2, WM_USER + 3, WM_USER + 4}), window.seen);
}

TEST(PumpTest, WaitGivesUpOnQuit) {
    CountingWindow window;
    drainQueue();
    PostMessageA(window.hwnd, WM_USER + 2, 0, 0);
    PostQuitMessage(0);  // the system hands out quit once nothing else is posted
    MSG msg;
    EXPECT_FALSE(waitForMessage(msg, WM_USER + 1));
    EXPECT_EQ(std::vector<UINT>{WM_USER + 2}, window.seen);
}

// The progress template serves as a real dialog; this subclass records what reaches the object.
class ProbeDialog : public Dialog {
public:
    explicit ProbeDialog(int id = IDD_PROGRESS) : id(id) {}
    int id;
    int endWith = -1;
    std::vector<UINT> messages;

protected:
    int templateId() override { return id; }
    bool onInitDialog(WPARAM, LPARAM) override {
        if (endWith >= 0)
            EndDialog(hwnd, endWith);
        return true;
    }
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back(message);
        return Dialog::handleMessage(message, wParam, lParam);
    }
};

TEST(DialogTest, NoTemplateMeansNoWindow) {
    ProbeDialog dialog(-1);
    EXPECT_FALSE(dialog.showModeless());
    EXPECT_EQ(nullptr, dialog.hwnd);
    EXPECT_EQ(nullptr, currentModeless);
    EXPECT_EQ(-1, dialog.runModal());
    EXPECT_FALSE(dialog.destroy());
}

TEST(DialogTest, ModelessDialogIsCurrentUntilDestroyed) {
    ProbeDialog first, second;
    ASSERT_TRUE(first.showModeless());
    EXPECT_EQ(first.hwnd, currentModeless);
    EXPECT_TRUE(IsWindowVisible(first.hwnd));
    ASSERT_TRUE(second.showModeless());
    EXPECT_EQ(second.hwnd, currentModeless);

    HWND window = second.hwnd;
    EXPECT_TRUE(second.destroy());
    EXPECT_EQ(nullptr, currentModeless);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(second.destroy());  // destroyed once only

    HWND firstWindow = first.hwnd;
    EXPECT_TRUE(first.destroy());  // not current any more: current stays as it was
    EXPECT_FALSE(IsWindow(firstWindow));
}

TEST(DialogTest, DestructorClosesTheWindow) {
    HWND window;
    {
        ProbeDialog dialog;
        ASSERT_TRUE(dialog.showModeless());
        window = dialog.hwnd;
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, currentModeless);
}

TEST(DialogTest, MessagesBeforeInitialisationReachNoHandler) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.showModeless());
    ASSERT_FALSE(dialog.messages.empty());
    EXPECT_EQ(static_cast<UINT>(WM_INITDIALOG), dialog.messages.front());
    for (UINT m : dialog.messages)
        EXPECT_NE(static_cast<UINT>(WM_SETFONT), m);
    dialog.destroy();
}

TEST(DialogTest, ModalRunReturnsTheEndValue) {
    ProbeDialog dialog;
    dialog.endWith = 7;
    EXPECT_EQ(7, dialog.runModal());
    EXPECT_EQ(nullptr, dialog.hwnd);
}

TEST(DialogTest, CentringKeepsTheSize) {
    ProbeDialog dialog;
    ASSERT_TRUE(dialog.showModeless());
    RECT before, after, desktop;
    SetWindowPos(dialog.hwnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    GetWindowRect(dialog.hwnd, &before);
    dialog.centerOnDesktop();
    GetWindowRect(dialog.hwnd, &after);
    GetWindowRect(GetDesktopWindow(), &desktop);
    EXPECT_EQ(before.right - before.left, after.right - after.left);
    EXPECT_EQ(before.bottom - before.top, after.bottom - after.top);
    EXPECT_EQ((desktop.right - before.right) / 2, after.left);
    EXPECT_EQ((desktop.bottom - before.bottom) / 2, after.top);
}

TEST(AddressTextTest, PrintsDottedForm) {
    EXPECT_STREQ("10.0.0.1", addressText(inet_addr("10.0.0.1")));
    EXPECT_STREQ("255.255.255.255", addressText(0xFFFFFFFFu));
}
}  // namespace
