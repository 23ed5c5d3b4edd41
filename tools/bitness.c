/* Prints the width of a pointer in bits: whoever reads "32" knows that this machine runs programs of
   the i686 build. */
#include <stdio.h>

int main(void) {
    printf("%u\n", (unsigned)(sizeof(void*) * 8));
    return 0;
}
