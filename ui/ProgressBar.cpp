#include "ui/ProgressBar.h"

#include <commctrl.h>

#include <cstdio>
#include <initializer_list>

#include "base/Product.h"
#include "ui/resource.h"

namespace {
const char kTitle[] = TARSEL_TITLE;

// The router is silent once no byte has come for longer than this; the window looks twice a second.
constexpr uint32_t kSilenceMs = 5000;
constexpr UINT_PTR kSilenceTimer = 1;
constexpr UINT kSilenceCheckMs = 500;

// Half-up rounding to a 32-bit count; estimates beyond its range stay at the largest value.
uint32_t roundedCount(double value) {
    const double rounded = value + 0.5;
    if (!(rounded < 4294967296.0))
        return UINT32_MAX;
    return static_cast<uint32_t>(rounded);
}
}  // namespace

int ProgressBar::templateId() { return IDD_PROGRESS; }

uint32_t ProgressBar::tick() { return GetTickCount(); }

bool ProgressBar::onInitDialog(WPARAM, LPARAM) {
    // Set on the class, so the connect dialog shows the icon as well.
    SetClassLongPtrA(hwnd, GCLP_HICON,
                     reinterpret_cast<LONG_PTR>(LoadIconA(appInstance, MAKEINTRESOURCEA(IDI_TARSEL))));
    centerOnDesktop();
    if (status_[0])
        SetDlgItemTextA(hwnd, IDC_STATUS, status_);
    if (caption_[0])
        SetWindowTextA(hwnd, caption_);
    SendDlgItemMessageA(hwnd, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SetTimer(hwnd, kSilenceTimer, kSilenceCheckMs, nullptr);
    return false;
}

bool ProgressBar::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kSilenceTimer) {
        showSilence();
        return true;
    }
    return Dialog::handleMessage(message, wParam, lParam);
}

void ProgressBar::heard(uint32_t now) {
    heardTick_ = now;
    if (silenceShown_) {
        silenceShown_ = 0;
        setControlText(IDC_TIME_LEFT, "");  // until the progress, if any, is shown again
    }
}

void ProgressBar::showSilence() {
    if (!awaitingRouter_)
        return;
    const uint32_t silent = tick() - heardTick_;
    const uint32_t seconds = silent / 1000;
    if (silent <= kSilenceMs || seconds == silenceShown_)
        return;
    char text[64];
    std::snprintf(text, sizeof text, "No answer for %u s", static_cast<unsigned>(seconds));
    setControlText(IDC_TIME_LEFT, text);
    silenceShown_ = seconds;
}

bool ProgressBar::onCommand(WPARAM wParam, LPARAM) {
    // Close, Esc and the close box: the user's only way out of a network wait. The pump that
    // handled this message raises the stop, outside the system's frames.
    if (LOWORD(wParam) != IDCANCEL)
        return false;
    requestStop();
    return true;
}

void ProgressBar::setControlText(int control, const char* text) {
    if (hwnd)
        SetWindowTextA(GetDlgItem(hwnd, control), text);
}

void ProgressBar::setStatus(const char* text, bool awaitsRouter) {
    std::snprintf(status_, sizeof status_, "%s", text);
    setControlText(IDC_STATUS, text);
    awaitingRouter_ = awaitsRouter;
    heard(tick());  // each step starts its own count
}

void ProgressBar::setCaption(const char* text) {
    std::snprintf(caption_, sizeof caption_, "%s", text);
    if (hwnd)
        SetWindowTextA(hwnd, text);
}

void ProgressBar::showResolving(const char* host) {
    char text[256];
    std::snprintf(text, sizeof text, "Resolving %s", host);
    setStatus(text, true);
}

void ProgressBar::showConnecting(const char* host, int port) {
    char text[256];
    std::snprintf(text, sizeof text, "Connecting to IP: %s (port %d)...", host, port);
    setStatus(text, true);
}

void ProgressBar::showChecking() { setStatus("Checking for downloaded plugins"); }
void ProgressBar::showWaiting() { setStatus("Waiting for another copy of " TARSEL_TITLE "..."); }

void ProgressBar::showDownloading(const char* host) {
    char text[256];
    std::snprintf(text, sizeof text, "Downloading plugins from %s...", host);
    setStatus(text, true);
    std::snprintf(text, sizeof text, "%s - %s", host, kTitle);
    setCaption(text);
    startTick = lastTick = tick();
    receivedAtStart = received;
}

void ProgressBar::showStarting() {
    setStatus("Starting tarsel...");
    setCaption(kTitle);
    if (!hwnd)
        return;
    for (int control : {IDC_SPEED, IDC_TIME_LEFT, IDC_TIME_LEFT_LABEL, IDC_SPEED_LABEL})
        setControlText(control, "");
    ShowWindow(GetDlgItem(hwnd, IDC_PROGRESS), SW_HIDE);
}

void ProgressBar::bytesReceived(uint32_t count) {
    received += count;
    const uint32_t now = tick();
    if (count)
        heard(now);
    if (now < lastTick + 200u)
        return;
    if (total == 0)
        return;
    lastTick = now;

    // The added quarter moves the bar to k once the exact share reaches k - 0.25.
    uint64_t position = (static_cast<uint64_t>(received) * 100 + total / 4) / total;
    if (position > 100)
        position = 100;  // more bytes than announced
    if (hwnd)
        SendDlgItemMessageA(hwnd, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);

    char timeText[kDurationTextLength] = "Not known";
    const uint32_t elapsed = now - startTick;
    // Under 100 ms only when the tick counter wrapped; the rate would be noise.
    if (elapsed >= 100) {
        const double rate = (received - receivedAtStart) / static_cast<double>(elapsed) * 1000.0;
        char size[kSizeTextLength];
        char line[256];
        formatSize(roundedCount(rate), size, sizeof size);
        std::snprintf(line, sizeof line, "%s/sec", size);
        setControlText(IDC_SPEED, line);
        if (received >= total)
            formatDuration(0, timeText, sizeof timeText);
        else if (rate > 0)
            formatDuration(roundedCount((total - received) / rate), timeText, sizeof timeText);
    }

    char receivedText[kSizeTextLength];
    char totalText[kSizeTextLength];
    char line[256];
    formatSize(received, receivedText, sizeof receivedText);
    formatSize(total, totalText, sizeof totalText);
    std::snprintf(line, sizeof line, "%s (%s of %s copied)", timeText, receivedText, totalText);
    setControlText(IDC_TIME_LEFT, line);
}
