#pragma once
// The product's name and version, as captions, messages and the version resource show them. Plain
// macros, so that the resource script can use them too.
#define TARSEL_TITLE "Veskaral tarsel"
#define TARSEL_ERROR_CAPTION TARSEL_TITLE " Error"
#define TARSEL_VERSION_TEXT "3.2.8"
#define TARSEL_VERSION_NUMBERS 3, 2, 8, 0
