#pragma once
// Ends the program with status 1 once it has unwound to WinMain, every object on the way destroyed
// (a partial download among them): the user closed the progress dialog, or no plugin exports "run",
// whose message WinMain shows. Not a std::exception, so that the attempt loop, which reports errors
// and asks again, lets it pass.
#include <cstdio>

class Stop {
public:
    explicit Stop(const char* text = "") { std::snprintf(message, sizeof message, "%s", text); }
    // The message for the user; empty when the user asked to stop.
    const char* what() const noexcept { return message; }

private:
    char message[128];
};
