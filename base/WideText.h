#pragma once
// The system spells file names in UTF-16; the program's own texts (the router's bytes, record files,
// diagnostic lines) are bytes of the ANSI code page. This is the one place that goes between them.
#include <string>

// Bytes of the ANSI code page, read as the system's "A" functions read them. Empty when they are
// not text of that code page (a cut double-byte character): no guessed name.
std::wstring widen(const char* text);
// For display only: a character the code page lacks shows as '?', never as a look-alike letter,
// which could name another file.
std::string narrow(const std::wstring& text);
