#include "ui/ResizableDialog.h"

#include "ui/DpiScale.h"

bool ResizableDialog::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (wParam == SIZE_RESTORED)
            relayout();
        return false;
    case WM_WINDOWPOSCHANGED: trackWindow(); return false;
    case WM_WINDOWPOSCHANGING: enforceMinimum(*reinterpret_cast<WINDOWPOS*>(lParam)); return false;
    case WM_DPICHANGED: dpiChanged(LOWORD(wParam)); return false;  // the dialog manager does the rest
    default: return Dialog::handleMessage(message, wParam, lParam);
    }
}

void ResizableDialog::recordMinimum() {
    RECT outer, client;
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    minWidth = firstMinWidth_ = outer.right - outer.left;
    minHeight = firstMinHeight_ = outer.bottom - outer.top;
    clientWidth = client.right;
    clientHeight = client.bottom;
    dpi_ = firstDpi_ = windowDpi();
}

void ResizableDialog::trackWindow() {
    RECT outer;
    GetWindowRect(hwnd, &outer);
    if (!IsIconic(hwnd))
        bounds = Rect32{outer.left, outer.top, outer.right, outer.bottom};
}

void ResizableDialog::enforceMinimum(WINDOWPOS& proposed) {
    // A minimised window is as small as the system makes it.
    if ((proposed.flags & SWP_NOSIZE) || IsIconic(hwnd))
        return;
    if (minWidth != 0 && proposed.cx < minWidth)
        proposed.cx = minWidth;
    if (minHeight != 0 && proposed.cy < minHeight)
        proposed.cy = minHeight;
}

void ResizableDialog::relayout() {
    if (minWidth == 0)
        return;  // not placed yet: nothing to measure against
    RECT client;
    GetClientRect(hwnd, &client);
    const int dx = client.right - clientWidth, dy = client.bottom - clientHeight;
    clientWidth = client.right;
    clientHeight = client.bottom;
    HDWP positions = BeginDeferWindowPos(static_cast<int>(anchors_.size()));
    for (const AnchoredControl& anchored : anchors_) {
        switch (anchored.anchor) {
        case Anchor::Right: moveControl(positions, anchored.control, dx, 0); break;
        case Anchor::Width: growControl(positions, anchored.control, dx, 0); break;
        case Anchor::WidthAndHeight: growControl(positions, anchored.control, dx, dy); break;
        }
    }
    if (positions)
        EndDeferWindowPos(positions);
}

void ResizableDialog::dpiChanged(unsigned dpi) {
    if (dpi == 0 || dpi == dpi_ || minWidth == 0)
        return;
    // The controls are scaled with the window, so the next layout measures against the scaled size.
    clientWidth = scaleToDpi(clientWidth, dpi_, dpi);
    clientHeight = scaleToDpi(clientHeight, dpi_, dpi);
    minWidth = scaleToDpi(firstMinWidth_, firstDpi_, dpi);
    minHeight = scaleToDpi(firstMinHeight_, firstDpi_, dpi);
    const unsigned from = dpi_;
    dpi_ = dpi;
    onDpiChanged(from, dpi);
}
