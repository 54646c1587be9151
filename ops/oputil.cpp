#include "oputil.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "codec.h"
#include "opsupport.h"

namespace oputil {

// The two families of operations share one definition of a usable picture.
bool validImage(const Image* image) { return opImageValid(image); }

int32_t clampSide(int64_t side) {
    if (side < 1) return 1;
    if (side > MAX_IMAGE_SIDE) return MAX_IMAGE_SIDE;
    return static_cast<int32_t>(side);
}

bool createLike(const Image* source, uint16_t kind, int32_t width, int32_t height, Image* out) {
    if (!createImage(out, kind, source->alignment, width, height)) {
        freeImage(out);
        return false;
    }
    out->orientation = source->orientation;
    out->xdpi = source->xdpi;
    out->ydpi = source->ydpi;
    if (kind == source->kind) {
        out->colours = source->colours;
        if (kind == IMG_PALETTE && source->palette) memcpy(out->palette, source->palette, PALETTE_BYTES);
    }
    return true;
}

void commitResult(Image* source, Image* destination, Image* result) {
    Image* target = destination ? destination : source;
    freeImage(target);
    *target = *result;
    result->pixels = nullptr;
    result->palette = nullptr;
}

Status promoteForBytes(const Image* source, Image* promoted, const Image** work) {
    *work = source;
    bool fewLevels = source->kind == IMG_GREY && source->colours > 1 && source->colours < 256;
    if (source->kind != IMG_PALETTE && source->kind != IMG_BINARY && !fewLevels) return ST_OK;
    int32_t w = source->width;
    if (source->kind == IMG_PALETTE) {
        if (!createLike(source, IMG_RGB, w, source->height, promoted)) return ST_NO_MEMORY;
        const uint8_t* pal = source->palette;
        for (int32_t y = 0; y < source->height; ++y) {
            const uint8_t* s = imageRow(source, y);
            uint8_t* d = imageRow(promoted, y);
            for (int32_t x = 0; x < w; ++x, d += 3) {
                d[0] = pal[s[x]];
                d[1] = pal[256 + s[x]];
                d[2] = pal[512 + s[x]];
            }
        }
    } else {
        if (!createLike(source, IMG_GREY, w, source->height, promoted)) return ST_NO_MEMORY;
        promoted->colours = 256;
        uint8_t spread[256];
        int top = source->kind == IMG_BINARY ? 1 : source->colours - 1;
        for (int v = 0; v < 256; ++v) spread[v] = v >= top ? 255 : static_cast<uint8_t>(v * 255 / top);
        for (int32_t y = 0; y < source->height; ++y) {
            const uint8_t* s = imageRow(source, y);
            uint8_t* d = imageRow(promoted, y);
            for (int32_t x = 0; x < w; ++x) d[x] = spread[s[x]];
        }
    }
    *work = promoted;
    return ST_OK;
}

int extraByteOffset(uint16_t kind) {
    if (kind == IMG_RGB32) return 3;
    if (kind == IMG_BGR32) return 0;
    return -1;
}

namespace {
bool gSeedFixed = false;
uint32_t gSeed = 0;
}  // namespace

Random operationRandom() {
    if (gSeedFixed) return Random(gSeed);
    return Random(static_cast<uint32_t>(time(nullptr)));
}

}  // namespace oputil

void setEffectSeed(uint32_t seed) {
    oputil::gSeedFixed = true;
    oputil::gSeed = seed;
}

void setEffectSeedFromClock() {
    oputil::gSeedFixed = false;
}
