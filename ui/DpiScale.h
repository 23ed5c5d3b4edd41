#pragma once
// Pixel sizes that the dialogs lay out for one DPI, at another: the list's column widths, the
// minimum window size, the sort arrows. Plain arithmetic: no window system needed.

enum : unsigned { kBaseDpi = 96 };  // 100 %: the DPI the pixel sizes of the code are written for

// `pixels` at `from` DPI, at `to` DPI, rounded to the nearest pixel (halves away from zero).
int scaleToDpi(int pixels, unsigned from, unsigned to);

// The edge of the sort-arrow images that suit `dpi`: of the sizes drawn (14, 21 and 28 pixels, for
// 100, 150 and 200 %), the one nearest to 14 pixels scaled, the larger one on a tie.
int sortArrowSize(unsigned dpi);
