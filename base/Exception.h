#pragma once
// The one error type of the program: a finished message for the user, at most 127 characters.
#include <cstdarg>
#include <cstdio>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(const char* text) { std::snprintf(message, sizeof message, "%s", text ? text : ""); }

    // Builds the message from a printf format; longer output is cut at 127 characters.
    static Exception format(const char* fmt, ...) __attribute__((format(printf, 1, 2))) {
        char text[512];
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(text, sizeof text, fmt, args);
        va_end(args);
        return Exception(text);
    }

    const char* what() const noexcept override { return message; }

private:
    char message[128];
};
