// Small helpers for the tests of the image operations: building pictures of
// every kind by hand and reading their colours back.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "image.h"

namespace optest {

struct Rgb3 {
    uint8_t r, g, b;
    bool operator==(const Rgb3& o) const { return r == o.r && g == o.g && b == o.b; }
};

// Byte positions of R, G, B and X in a pixel of a true-colour kind.
inline void offsetsOf(uint16_t kind, int* r, int* g, int* b, int* x) {
    switch (kind) {
    case IMG_BGR: *r = 2, *g = 1, *b = 0, *x = -1; break;
    case IMG_RGB32: *r = 0, *g = 1, *b = 2, *x = 3; break;
    case IMG_BGR32: *r = 3, *g = 2, *b = 1, *x = 0; break;
    default: *r = 0, *g = 1, *b = 2, *x = -1; break;
    }
}

// A picture of any kind filled from one-byte values (one-byte kinds) or from
// R, G, B triplets (true-colour kinds; X is set to xByte).
inline bool makeImage(Image* img, uint16_t kind, int w, int h, const std::vector<uint8_t>& values,
                      int colours = 0, uint8_t xByte = 0) {
    if (!createImage(img, kind, 4, w, h)) return false;
    if (colours) img->colours = colours;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = imageRow(img, y);
        for (int x = 0; x < w; ++x) {
            size_t i = static_cast<size_t>(y) * w + x;
            if (img->bytesPerPixel == 1) {
                row[x] = values[i];
            } else {
                int r, g, b, xo;
                offsetsOf(kind, &r, &g, &b, &xo);
                uint8_t* p = row + x * img->bytesPerPixel;
                p[r] = values[3 * i];
                p[g] = values[3 * i + 1];
                p[b] = values[3 * i + 2];
                if (xo >= 0) p[xo] = xByte;
            }
        }
    }
    return true;
}

inline void setPaletteEntry(Image* img, int i, uint8_t r, uint8_t g, uint8_t b) {
    img->palette[i] = r;
    img->palette[256 + i] = g;
    img->palette[512 + i] = b;
}

inline Rgb3 paletteEntry(const Image& img, int i) {
    return {img.palette[i], img.palette[256 + i], img.palette[512 + i]};
}

inline uint8_t valueAt(const Image& img, int x, int y) {
    return imageRow(&img, y)[x];
}

// The colour a pixel shows: palette colour, grey spread over its levels
// (binary 0/255), or the true-colour components.
inline Rgb3 colourAt(const Image& img, int x, int y) {
    const uint8_t* row = imageRow(&img, y);
    if (img.bytesPerPixel == 1) {
        uint8_t v = row[x];
        if (img.kind == IMG_PALETTE) return paletteEntry(img, v);
        uint8_t g = img.kind == IMG_BINARY ? (v ? 255 : 0)
                                           : (img.colours > 1 && img.colours < 256 ? v * 255 / (img.colours - 1) : v);
        return {g, g, g};
    }
    int r, g, b, xo;
    offsetsOf(img.kind, &r, &g, &b, &xo);
    const uint8_t* p = row + x * img.bytesPerPixel;
    return {p[r], p[g], p[b]};
}

inline uint8_t xByteAt(const Image& img, int x, int y) {
    int r, g, b, xo;
    offsetsOf(img.kind, &r, &g, &b, &xo);
    return xo < 0 ? 0 : imageRow(&img, y)[x * img.bytesPerPixel + xo];
}

// Writes a binary PPM (P6) of the picture's colours, for the peers.
inline bool writePpm(const std::string& path, const Image& img) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    fprintf(f, "P6\n%d %d\n255\n", img.width, img.height);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            Rgb3 c = colourAt(img, x, y);
            uint8_t b[3] = {c.r, c.g, c.b};
            fwrite(b, 1, 3, f);
        }
    return fclose(f) == 0;
}

inline const char* kindName(uint16_t kind) {
    switch (kind) {
    case IMG_BINARY: return "binary";
    case IMG_GREY: return "grey";
    case IMG_PALETTE: return "palette";
    case IMG_RGB: return "rgb";
    case IMG_RGB32: return "rgb32";
    case IMG_BGR: return "bgr";
    case IMG_BGR32: return "bgr32";
    default: return "?";
    }
}

}  // namespace optest
