// Print geometry.
#include "printlogic.h"

namespace {

constexpr int64_t SIZE_MAX_PRINT = INT32_MAX / 4;

int32_t clampSize(int64_t v) { return static_cast<int32_t>(v < 1 ? 1 : v > SIZE_MAX_PRINT ? SIZE_MAX_PRINT : v); }

}  // namespace

PrintRect printOutputRect(int option, int32_t w, int32_t h, const PrintPage& page, int32_t xScale, int32_t yScale) {
    int64_t iw = w < 1 ? 1 : w, ih = h < 1 ? 1 : h;
    int64_t pw = page.width < 1 ? 1 : page.width, ph = page.height < 1 ? 1 : page.height;
    int64_t rx = page.dpiX, ry = page.dpiY;
    if (rx < 1) rx = ry < 1 ? 1 : ry;
    if (ry < 1) ry = rx;
    int64_t ow, oh;
    switch (option) {
    case PRINT_BEST_SIZE: {
        ow = pw;
        // Three factors of up to 31 bits each: beyond 64 bits.
        __int128 num = static_cast<__int128>(ih) * pw * ry;
        __int128 q = num / (static_cast<__int128>(iw) * rx);
        oh = q > SIZE_MAX_PRINT ? SIZE_MAX_PRINT : static_cast<int64_t>(q);
        break;
    }
    case PRINT_SCALE:
        ow = iw * (xScale < 1 ? 1 : xScale);
        oh = ih * (yScale < 1 ? 1 : yScale);
        break;
    default:
        ow = pw;
        oh = ph;
        break;
    }
    PrintRect r;
    r.width = clampSize(ow);
    r.height = clampSize(oh);
    r.left = static_cast<int32_t>((pw - r.width) / 2);
    r.top = static_cast<int32_t>((ph - r.height) / 2);
    return r;
}

bool printRegionPart(const PrintRect& output, const PrintRect& region, int32_t w, int32_t h, PrintRect* destination,
                     PrintRect* source) {
    int64_t l = output.left > region.left ? output.left : region.left;
    int64_t t = output.top > region.top ? output.top : region.top;
    int64_t r = static_cast<int64_t>(output.left) + output.width;
    int64_t rr = static_cast<int64_t>(region.left) + region.width;
    if (rr < r) r = rr;
    int64_t b = static_cast<int64_t>(output.top) + output.height;
    int64_t rb = static_cast<int64_t>(region.top) + region.height;
    if (rb < b) b = rb;
    if (r <= l || b <= t || output.width < 1 || output.height < 1 || w < 1 || h < 1) return false;
    destination->left = static_cast<int32_t>(l);
    destination->top = static_cast<int32_t>(t);
    destination->width = static_cast<int32_t>(r - l);
    destination->height = static_cast<int32_t>(b - t);
    // Back to image pixels, rounded; at least one pixel.
    int64_t sx0 = ((l - output.left) * w * 2 + output.width) / (2 * static_cast<int64_t>(output.width));
    int64_t sx1 = ((r - output.left) * w * 2 + output.width) / (2 * static_cast<int64_t>(output.width));
    int64_t sy0 = ((t - output.top) * h * 2 + output.height) / (2 * static_cast<int64_t>(output.height));
    int64_t sy1 = ((b - output.top) * h * 2 + output.height) / (2 * static_cast<int64_t>(output.height));
    if (sx1 <= sx0) sx1 = sx0 + 1;
    if (sy1 <= sy0) sy1 = sy0 + 1;
    if (sx1 > w) sx1 = w, sx0 = sx0 < sx1 - 1 ? sx0 : sx1 - 1;
    if (sy1 > h) sy1 = h, sy0 = sy0 < sy1 - 1 ? sy0 : sy1 - 1;
    source->left = static_cast<int32_t>(sx0);
    source->top = static_cast<int32_t>(sy0);
    source->width = static_cast<int32_t>(sx1 - sx0);
    source->height = static_cast<int32_t>(sy1 - sy0);
    return true;
}
