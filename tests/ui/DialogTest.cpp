#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/Handles.h"
#include "base/MessagePump.h"
#include "tests/ui/AddressList.h"
#include "ui/DelayedShow.h"
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
        hwnd =
            CreateWindowA("CountingWindow", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
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

// The network waits sleep in pumpUntilSignalled: it must wake for messages, also for those left over
// from a flood, handle at most 10 of them per call, and tell a signalled object apart.
TEST(PumpTest, EventWaitWakesForMessagesAndHandlesTenPerCall) {
    CountingWindow window;
    drainQueue();
    KernelHandle idle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    KernelHandle finished(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // Should a wait sleep through queued messages, this wakes it as signalled, and the test fails.
    std::thread watchdog([&] {
        if (WaitForSingleObject(finished.get(), 10000) == WAIT_TIMEOUT)
            SetEvent(idle.get());
    });
    for (int i = 0; i < 25; ++i)
        PostMessageA(window.hwnd, WM_USER + 10, i, 0);
    for (size_t handled : {10u, 20u, 25u}) {
        EXPECT_FALSE(pumpUntilSignalled(idle.get(), INFINITE));
        EXPECT_EQ(handled, window.seen.size());
    }
    // A message from another thread wakes an empty wait.
    std::thread poster([&] {
        Sleep(50);
        PostMessageA(window.hwnd, WM_USER + 11, 0, 0);
    });
    EXPECT_FALSE(pumpUntilSignalled(idle.get(), INFINITE));
    poster.join();
    EXPECT_EQ(26u, window.seen.size());
    SetEvent(finished.get());
    watchdog.join();
    EXPECT_TRUE(pumpUntilSignalled(finished.get(), INFINITE));
    EXPECT_FALSE(pumpUntilSignalled(idle.get(), 0));  // nothing queued, nothing signalled: the time-out
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

// A delayed window is shown by the look-up wait when its moment comes (the network waits are the
// attempt's tests'). The show posts the message that the wait is for; should the moment be missed,
// a helper thread ends the wait after 10 s.
TEST(PumpTest, LookUpWaitShowsTheDelayedWindowWhenDue) {
    int shown = 0;
    const DWORD thread = GetCurrentThreadId();
    KernelHandle finished(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread bound([&] {
        if (WaitForSingleObject(finished.get(), 10000) == WAIT_TIMEOUT)
            PostThreadMessageA(thread, WM_USER + 1, 0, 0);
    });
    DelayedShow show(100, [&] {
        ++shown;
        PostThreadMessageA(thread, WM_USER + 1, 0, 7);
    });
    MSG msg;
    EXPECT_TRUE(waitForMessage(msg, WM_USER + 1));
    EXPECT_EQ(7, msg.lParam);
    EXPECT_EQ(1, shown);
    SetEvent(finished.get());
    bound.join();
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

    // Closing a dialog that is no longer current must not take the current one's place away.
    HWND firstWindow = first.hwnd;
    EXPECT_TRUE(first.destroy());
    EXPECT_FALSE(IsWindow(firstWindow));
    EXPECT_EQ(second.hwnd, currentModeless);

    HWND window = second.hwnd;
    EXPECT_TRUE(second.destroy());
    EXPECT_EQ(nullptr, currentModeless);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(second.destroy());  // destroyed once only
}

// The connect template's list view and check box, driven through the primitives.
class ControlsDialog : public Dialog {
public:
    using Dialog::deleteItem;
    using Dialog::findItem;
    using Dialog::firstSelected;
    using Dialog::insertColumn;
    using Dialog::isChecked;
    using Dialog::itemData;
    using Dialog::selectItem;
    using Dialog::setCell;
    using Dialog::setChecked;

protected:
    int templateId() override { return IDD_CONNECT; }
};

TEST(DialogTest, ListAndCheckBoxPrimitives) {
    ControlsDialog dialog;
    ASSERT_TRUE(dialog.showModeless());
    const int list = IDC_ADDRESS_LIST;
    // The template's list is virtual; the primitives are for a list that holds its items.
    DestroyWindow(GetDlgItem(dialog.hwnd, list));
    ASSERT_TRUE(CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | LVS_REPORT, 0, 0, 200, 100, dialog.hwnd,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(list)), appInstance, nullptr));
    dialog.insertColumn(list, 0, "Address", 80);
    dialog.insertColumn(list, 1, "Login", 80);

    int a = 1, b = 2, c = 3;
    // A first-column cell one past the end adds a row; other cells fill in the row.
    dialog.setCell(list, 0, 0, "10.0.0.1", &a);
    dialog.setCell(list, 0, 1, "admin", nullptr);
    dialog.setCell(list, 1, 0, "10.0.0.2", &b);
    dialog.setCell(list, 2, 0, "router", &c);
    ASSERT_EQ(3, itemCount(dialog.hwnd));
    EXPECT_EQ("10.0.0.1", cellText(dialog.hwnd, 0, 0));
    EXPECT_EQ("admin", cellText(dialog.hwnd, 0, 1));
    EXPECT_EQ(&a, dialog.itemData(list, 0));  // a later column leaves the row's entry alone
    EXPECT_EQ(&c, dialog.itemData(list, 2));
    EXPECT_EQ(nullptr, dialog.itemData(list, -1));
    EXPECT_EQ(nullptr, dialog.itemData(list, 3));

    // Rewriting the first column replaces the row's entry.
    dialog.setCell(list, 1, 0, "10.0.0.9", &a);
    EXPECT_EQ("10.0.0.9", cellText(dialog.hwnd, 1, 0));
    EXPECT_EQ(&a, dialog.itemData(list, 1));
    dialog.setCell(list, 1, 0, "10.0.0.2", &b);

    EXPECT_EQ(1, dialog.findItem(list, &b));
    int stranger = 0;
    EXPECT_EQ(-1, dialog.findItem(list, &stranger));

    EXPECT_EQ(-1, dialog.firstSelected(list));
    dialog.selectItem(list, 2);
    EXPECT_EQ(2, dialog.firstSelected(list));
    dialog.selectItem(list, -1);
    EXPECT_EQ(-1, dialog.firstSelected(list));

    dialog.deleteItem(list, 0);
    EXPECT_EQ(2, itemCount(dialog.hwnd));
    EXPECT_EQ(0, dialog.findItem(list, &b));
    EXPECT_EQ(-1, dialog.findItem(list, &a));

    dialog.setChecked(IDC_KEEP_PASSWORD, true);
    EXPECT_TRUE(dialog.isChecked(IDC_KEEP_PASSWORD));
    dialog.setChecked(IDC_KEEP_PASSWORD, false);
    EXPECT_FALSE(dialog.isChecked(IDC_KEEP_PASSWORD));
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

// A handler that fails: the error must come out of runModal or showModeless, not through the
// system's frames.
class FailingDialog : public ProbeDialog {
public:
    int failWith = 0;  // 1 a runtime error, 2 an allocation failure, 3 one in initialisation

protected:
    bool onInitDialog(WPARAM, LPARAM) override {
        if (failWith == 3)
            throw std::runtime_error("during initialisation");
        PostMessageA(hwnd, WM_APP, 0, 0);
        return true;
    }
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_APP && failWith == 1)
            throw std::runtime_error("handler failed");
        if (message == WM_APP && failWith == 2)
            throw std::bad_alloc();
        return ProbeDialog::handleMessage(message, wParam, lParam);
    }
};

TEST(DialogTest, HandlerErrorsEndTheRunAndAreRaisedAgain) {
    struct Case {
        int failWith;
        const char* what;
    } cases[] = {{1, "handler failed"}, {2, "std::bad_alloc"}, {3, "during initialisation"}};
    for (const Case& c : cases) {
        FailingDialog dialog;
        dialog.failWith = c.failWith;
        std::string caught;
        try {
            dialog.runModal();
        } catch (const std::exception& error) {
            caught = error.what();
        }
        EXPECT_EQ(c.what, caught);
        EXPECT_EQ(nullptr, dialog.hwnd);
    }
    FailingDialog modeless;
    modeless.failWith = 3;
    EXPECT_THROW(modeless.showModeless(), std::runtime_error);
    EXPECT_EQ(nullptr, modeless.hwnd);
    EXPECT_EQ(nullptr, currentModeless);
}

// The dialogs centre themselves from where the system creates them, the screen's origin.
TEST(DialogTest, CentringFromTheOriginLeavesEqualMarginsAndTheSize) {
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
    EXPECT_NEAR(after.left - desktop.left, desktop.right - after.right, 1);
    EXPECT_NEAR(after.top - desktop.top, desktop.bottom - after.bottom, 1);
}

// The program's manifests, which this test program carries too: none for the process or for the
// program's imports, as without a manifest; the loader's own look only where it makes a context of it.
TEST(ManifestTest, OnlyTheOwnLookHasAManifest) {
    const struct {
        int id;
        const char* holds;  // null: no such resource
    } manifests[] = {{1, nullptr}, {2, nullptr}, {3, "Microsoft.Windows.Common-Controls"}};
    for (const auto& manifest : manifests) {
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(manifest.id), MAKEINTRESOURCEA(24));  // RT_MANIFEST
        ASSERT_EQ(found != nullptr, manifest.holds != nullptr) << manifest.id;
        if (!found)
            continue;
        const std::string text(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                               SizeofResource(nullptr, found));
        EXPECT_NE(text.find(manifest.holds), std::string::npos) << text;
        EXPECT_EQ(text.find("requestedExecutionLevel"), std::string::npos) << text;
    }
}
}  // namespace
