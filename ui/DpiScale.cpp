#include "ui/DpiScale.h"

#include <cstdint>
#include <cstdlib>

int scaleToDpi(int pixels, unsigned from, unsigned to) {
    if (from == 0)
        return pixels;
    const int64_t product = int64_t(pixels) * to;
    const int64_t half = from / 2;
    return static_cast<int>(product >= 0 ? (product + half) / from : -((-product + half) / from));
}

int sortArrowSize(unsigned dpi) {
    const int drawn[] = {14, 21, 28};
    const int wanted = scaleToDpi(14, kBaseDpi, dpi);
    int best = drawn[0];
    for (int size : drawn) {
        if (std::abs(size - wanted) <= std::abs(best - wanted))
            best = size;
    }
    return best;
}
