// Screen copies of images: the dithering tables and the DIB conversion.
#include "display.h"

#include <cstring>

const uint8_t DITHER_MATRIX[8][8] = {
    {0, 38, 9, 47, 2, 40, 11, 50},
    {25, 12, 35, 22, 27, 15, 37, 24},
    {6, 44, 3, 41, 8, 47, 5, 43},
    {31, 19, 28, 15, 34, 21, 31, 18},
    {1, 39, 11, 49, 0, 39, 10, 48},
    {27, 14, 36, 23, 26, 13, 35, 23},
    {7, 46, 4, 43, 7, 45, 3, 42},
    {33, 20, 30, 17, 32, 19, 29, 16},
};

namespace {

constexpr int CUBE_STEP = 255 / 5;  // 51 between two of the six levels
const int CHANNEL_WEIGHT[3] = {36, 6, 1};

// Colour of one pixel of any kind as r, g, b.
void pixelColour(const Image& image, const uint8_t* row, int x, int levels, uint8_t rgb[3]) {
    switch (image.kind) {
    case IMG_BINARY: rgb[0] = rgb[1] = rgb[2] = row[x] ? 255 : 0; return;
    case IMG_GREY: {
        unsigned v = row[x] < levels ? row[x] : static_cast<unsigned>(levels - 1);
        rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(v * 255 / static_cast<unsigned>(levels - 1));
        return;
    }
    case IMG_PALETTE:
        if (image.palette) {
            rgb[0] = image.palette[row[x]];
            rgb[1] = image.palette[256 + row[x]];
            rgb[2] = image.palette[512 + row[x]];
        } else {
            rgb[0] = rgb[1] = rgb[2] = row[x];
        }
        return;
    case IMG_RGB: memcpy(rgb, row + x * 3, 3); return;
    case IMG_RGB32: memcpy(rgb, row + x * 4, 3); return;
    case IMG_BGR: rgb[0] = row[x * 3 + 2]; rgb[1] = row[x * 3 + 1]; rgb[2] = row[x * 3]; return;
    case IMG_BGR32: rgb[0] = row[x * 4 + 3]; rgb[1] = row[x * 4 + 2]; rgb[2] = row[x * 4 + 1]; return;
    default: rgb[0] = rgb[1] = rgb[2] = 0; return;
    }
}

bool validImage(const Image& image) {
    if (!image.pixels || image.width <= 0 || image.height <= 0) return false;
    int bpp = kindBytesPerPixel(image.kind);
    return image.stride >= static_cast<int64_t>(image.width) * bpp;
}

}  // namespace

void buildDisplayTables(DisplayTables* t) {
    for (int v = 0; v < 256; ++v) {
        int level = v / CUBE_STEP;
        if (level == 5) level = 4;
        // (v − level × s) / (s / 63), computed exactly as 63 (v − level × s) / s.
        int f = (v - level * CUBE_STEP) * 63 / CUBE_STEP;
        for (int c = 0; c < 3; ++c) {
            t->fraction[c][v] = static_cast<uint8_t>(f);
            t->lower[c][v] = static_cast<uint8_t>(level * CHANNEL_WEIGHT[c]);
            t->upper[c][v] = static_cast<uint8_t>((level + 1) * CHANNEL_WEIGHT[c]);
        }
    }
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            for (int f = 0; f < 64; ++f) t->useUpper[y][x][f] = f > DITHER_MATRIX[y][x];
}

uint8_t cubeIndex(const DisplayTables& t, uint8_t r, uint8_t g, uint8_t b, int x, int y) {
    const uint8_t* up = t.useUpper[y & 7][x & 7];
    const uint8_t v[3] = {r, g, b};
    int index = 0;
    for (int c = 0; c < 3; ++c) index += up[t.fraction[c][v[c]]] ? t.upper[c][v[c]] : t.lower[c][v[c]];
    return static_cast<uint8_t>(index);
}

void cubeColour(int index, uint8_t rgb[3]) {
    rgb[0] = static_cast<uint8_t>(index / 36 % 6 * 51);
    rgb[1] = static_cast<uint8_t>(index / 6 % 6 * 51);
    rgb[2] = static_cast<uint8_t>(index % 6 * 51);
}

int greyLevels(const Image& image) {
    return image.colours >= 2 && image.colours <= 256 ? image.colours : 256;
}

bool buildDib(const Image& image, int displayBits, const DisplayTables& tables, DibBuffer* out) {
    if (!validImage(image)) return false;
    const bool trueColour = (image.kind & IMG_TRUECOLOUR) != 0;
    out->width = image.width;
    out->height = image.height;
    out->bitsPerPixel = displayBits > 8 ? 24 : 8;
    int64_t rowBytes = static_cast<int64_t>(image.width) * (out->bitsPerPixel / 8);
    int64_t stride = (rowBytes + 3) & ~int64_t{3};
    int64_t total = stride * image.height;
    if (stride > INT32_MAX || total > (int64_t{1} << 31)) return false;
    out->stride = static_cast<int32_t>(stride);
    out->pixels = allocBuffer(static_cast<uint64_t>(total));
    if (!out->pixels) return false;

    const int levels = greyLevels(image);
    out->colourCount = 0;
    if (out->bitsPerPixel == 8) {
        // Colour table: the image's own for 8-bit kinds, else the 216-colour cube.
        uint8_t rgb[3];
        if (trueColour) {
            out->colourCount = 216;
            for (int i = 0; i < 216; ++i) {
                cubeColour(i, rgb);
                out->colours[i][0] = rgb[2];
                out->colours[i][1] = rgb[1];
                out->colours[i][2] = rgb[0];
            }
        } else {
            out->colourCount = image.kind == IMG_BINARY ? 2 : image.kind == IMG_GREY ? levels : 256;
            for (int i = 0; i < out->colourCount; ++i) {
                uint8_t index = static_cast<uint8_t>(i);
                pixelColour(image, &index, 0, levels, rgb);
                out->colours[i][0] = rgb[2];
                out->colours[i][1] = rgb[1];
                out->colours[i][2] = rgb[0];
            }
        }
    }

    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* src = imageRow(&image, y);
        uint8_t* dst = out->pixels.get() + static_cast<size_t>(image.height - 1 - y) * out->stride;
        uint8_t rgb[3];
        for (int32_t x = 0; x < image.width; ++x) {
            if (out->bitsPerPixel == 24) {
                pixelColour(image, src, x, levels, rgb);
                dst[x * 3] = rgb[2];
                dst[x * 3 + 1] = rgb[1];
                dst[x * 3 + 2] = rgb[0];
            } else if (trueColour) {
                pixelColour(image, src, x, levels, rgb);
                dst[x] = cubeIndex(tables, rgb[0], rgb[1], rgb[2], x, y);
            } else {
                uint8_t v = src[x];
                if (image.kind == IMG_BINARY) v = v ? 1 : 0;
                else if (image.kind == IMG_GREY && v >= levels) v = static_cast<uint8_t>(levels - 1);
                dst[x] = v;
            }
        }
    }
    return true;
}
