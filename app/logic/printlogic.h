// The geometry of a printed page: where and how large the image goes, and
// which part of the image falls into a band of the page.
#pragma once
#include <cstdint>

// Print options (Option of the [Print] settings).
constexpr int PRINT_BEST_SIZE = 0;  // the page width, proportions kept in physical units
constexpr int PRINT_SCALE = 1;      // XScale × YScale device pixels per image pixel
constexpr int PRINT_FIT_PAGE = 2;   // the whole page, proportions not kept

struct PrintRect {
    int32_t left, top, width, height;
};

struct PrintPage {
    int32_t width, height;   // printable area in device pixels (HORZRES, VERTRES)
    int32_t dpiX, dpiY;      // LOGPIXELSX, LOGPIXELSY
};

// The output rectangle of a w × h image, centred on the page (it may be
// larger than the page and start at negative offsets). Computed in 64 bits;
// sizes are at least 1 and at most INT32_MAX / 4; scale factors below 1 count
// as 1, a resolution below 1 as the other one (or 1).
PrintRect printOutputRect(int option, int32_t w, int32_t h, const PrintPage& page, int32_t xScale, int32_t yScale);

// The part of the output rectangle inside a region of the page (a band or
// the whole page) and the image pixels that map onto it (rounded). False when
// nothing of the image falls into the region.
bool printRegionPart(const PrintRect& output, const PrintRect& region, int32_t w, int32_t h, PrintRect* destination,
                     PrintRect* source);
