#pragma once
// Reading the port after the colon of a router address. Plain code, no windows.h: it reads user input.
#include <cstdint>

// A decimal number from 1 to 65535 that uses the whole text (leading blanks and a sign accepted,
// "+80" and "080" give 80), read with a 32-bit unsigned long on every build. False for anything
// else, the port then unchanged.
bool parsePort(const char* text, uint16_t& port);
