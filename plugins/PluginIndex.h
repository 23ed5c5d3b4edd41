#pragma once
// Splitting the router's plugin index into lines: the router's bytes, so no system headers here.
#include <functional>

// Hands each non-empty line of `text` to `line`, in order, terminated in place. Lines end at CR or
// LF, and a run of them counts as one separator; the last line needs no line end.
void parseIndex(char* text, const std::function<void(const char* line)>& line);
