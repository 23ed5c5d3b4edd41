#pragma once
// The modeless window of a connection, from name resolution until the plugins are loaded: the current
// step, and while plugins download a percentage bar, the rate and the time left. Close ends the
// program. Steps taken before the window exists are remembered: it opens on the latest. While a step
// waits on the router and no byte has come for more than 5 s, the time-left line says for how long.
#include <windows.h>

#include <cstdint>

#include "base/FetcherListener.h"
#include "ui/Dialog.h"

class ProgressBar : public Dialog, public FetcherListener {
public:
    ProgressBar() = default;

    void showResolving(const char* host);
    void showConnecting(const char* host, int port);
    void showChecking();
    // Another copy of the program is filling the same version folder.
    void showWaiting();
    // Names the host in the caption and starts the rate clock: the rate counts the bytes from here on.
    void showDownloading(const char* host);
    // Status line only: rate, time left, their labels and the bar go away.
    void showStarting();

    // Counts every report; redraws at most every 200 ms, and only once `total` is known.
    void bytesReceived(uint32_t count) override;

    uint32_t total = 0;  // bytes the downloads will deliver; 0 while unknown

protected:
    bool onInitDialog(WPARAM wParam, LPARAM lParam) override;
    bool onCommand(WPARAM wParam, LPARAM lParam) override;
    int templateId() override;
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Run by the window's timer: shows how long the router has been silent, once that is over 5 s.
    void showSilence();

    // Milliseconds, as GetTickCount counts them; tests drive their own clock.
    virtual uint32_t tick();

    uint32_t received = 0;
    uint32_t receivedAtStart = 0;  // `received` when the rate clock started
    uint32_t startTick = 0;
    uint32_t lastTick = 0;  // last refresh; the start of the downloads counts as one

private:
    // `awaitsRouter`: the step waits on the router's bytes, so its silence is shown.
    void setStatus(const char* text, bool awaitsRouter = false);
    void setCaption(const char* text);
    char status_[256] = {};
    char caption_[256] = {};  // empty: the template's
    void setControlText(int control, const char* text);

    // The router's silence, kept apart from the progress itself.
    void heard(uint32_t now);
    bool awaitingRouter_ = false;
    uint32_t heardTick_ = 0;
    uint32_t silenceShown_ = 0;  // the seconds the time-left line says; 0 while it says nothing of it
};
