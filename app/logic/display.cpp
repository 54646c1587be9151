// Screen copies of images: the dithering tables and the DIB conversion of a
// whole picture or of the region a window shows.
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

bool usableImage(const Image& image) {
    if (!image.pixels || image.width <= 0 || image.height <= 0) return false;
    int bpp = kindBytesPerPixel(image.kind);
    return bpp > 0 && image.stride >= static_cast<int64_t>(image.width) * bpp;
}

// Colours of the 256 values of an 8-bit picture (binary, grey, palette), as
// red, green, blue.
void valueColours(const Image& image, uint8_t rgb[256][3]) {
    const int levels = greyLevels(image);
    for (int v = 0; v < 256; ++v) {
        uint8_t c0, c1, c2;
        switch (image.kind) {
        case IMG_BINARY: c0 = c1 = c2 = v ? 255 : 0; break;
        case IMG_GREY: {
            int l = v < levels ? v : levels - 1;
            c0 = c1 = c2 = static_cast<uint8_t>(l * 255 / (levels - 1));
            break;
        }
        default:
            if (image.palette) {
                c0 = image.palette[v];
                c1 = image.palette[256 + v];
                c2 = image.palette[512 + v];
            } else {
                c0 = c1 = c2 = static_cast<uint8_t>(v);
            }
            break;
        }
        rgb[v][0] = c0;
        rgb[v][1] = c1;
        rgb[v][2] = c2;
    }
}

// Byte offsets of red, green and blue in a true-colour pixel.
void channelOffsets(int kind, int o[3]) {
    switch (kind) {
    case IMG_RGB:
    case IMG_RGB32: o[0] = 0; o[1] = 1; o[2] = 2; return;
    case IMG_BGR: o[0] = 2; o[1] = 1; o[2] = 0; return;
    default: o[0] = 3; o[1] = 2; o[2] = 1; return;  // IMG_BGR32: the X byte comes first
    }
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
    ViewRegion whole;
    whole.width = image.width;
    whole.height = image.height;
    return renderView(image, displayBits, tables, image.width, image.height, whole, out);
}

int32_t sourceColumn(int32_t i, int32_t imageW, int32_t displayW) {
    if (displayW == imageW) return i;
    return static_cast<int32_t>(static_cast<int64_t>(i) * imageW / displayW);
}

bool renderView(const Image& image, int displayBits, const DisplayTables& tables, int32_t displayW, int32_t displayH,
                const ViewRegion& region, DibBuffer* out) {
    if (!usableImage(image) || displayW <= 0 || displayH <= 0 || region.width <= 0 || region.height <= 0 ||
        region.x < 0 || region.y < 0 || static_cast<int64_t>(region.x) + region.width > displayW ||
        static_cast<int64_t>(region.y) + region.height > displayH)
        return false;
    const int bits = displayBits > 8 ? 24 : 8;
    const int64_t stride = (static_cast<int64_t>(region.width) * (bits / 8) + 3) & ~int64_t{3};
    const int64_t total = stride * region.height;
    if (stride > INT32_MAX || total > (int64_t{1} << 31)) return false;
    // The buffer grows only: a window resized back and forth keeps its copy.
    if (!out->pixels || static_cast<uint64_t>(total) > out->capacity) {
        out->pixels.reset();
        out->capacity = 0;
        out->pixels = allocBuffer(static_cast<uint64_t>(total));
        if (!out->pixels) return false;
        out->capacity = static_cast<uint64_t>(total);
    }
    out->width = region.width;
    out->height = region.height;
    out->originX = region.x;
    out->originY = region.y;
    out->bitsPerPixel = bits;
    out->stride = static_cast<int32_t>(stride);

    // The maps: byte offset in a source row per column, source row per row.
    const int bpp = kindBytesPerPixel(image.kind);
    Buffer xBuffer = allocBuffer(static_cast<uint64_t>(region.width) * sizeof(int64_t));
    if (!xBuffer) return false;
    int64_t* xMap = reinterpret_cast<int64_t*>(xBuffer.get());
    for (int32_t i = 0; i < region.width; ++i)
        xMap[i] = static_cast<int64_t>(sourceColumn(region.x + i, image.width, displayW)) * bpp;

    const bool trueColour = (image.kind & IMG_TRUECOLOUR) != 0;
    uint8_t colours[256][3];
    int offsets[3] = {0, 1, 2};
    out->colourCount = 0;
    if (trueColour) {
        channelOffsets(image.kind, offsets);
        if (bits == 8) {
            out->colourCount = 216;
            uint8_t rgb[3];
            for (int i = 0; i < 216; ++i) {
                cubeColour(i, rgb);
                out->colours[i][0] = rgb[2];
                out->colours[i][1] = rgb[1];
                out->colours[i][2] = rgb[0];
                out->colours[i][3] = 0;
            }
        }
    } else {
        valueColours(image, colours);
        if (bits == 8) {
            out->colourCount = image.kind == IMG_BINARY ? 2 : image.kind == IMG_GREY ? greyLevels(image) : 256;
            for (int i = 0; i < out->colourCount; ++i) {
                out->colours[i][0] = colours[i][2];
                out->colours[i][1] = colours[i][1];
                out->colours[i][2] = colours[i][0];
                out->colours[i][3] = 0;
            }
        }
    }
    const int levels = greyLevels(image);
    const int r = offsets[0], g = offsets[1], b = offsets[2];
    for (int32_t j = 0; j < region.height; ++j) {
        const int32_t displayRow = region.y + j;
        const int32_t sourceRow = static_cast<int32_t>(static_cast<int64_t>(displayRow) * image.height / displayH);
        const uint8_t* src = imageRow(&image, sourceRow);
        // Bottom-up rows.
        uint8_t* dst = out->pixels.get() + static_cast<size_t>(region.height - 1 - j) * out->stride;
        if (bits == 24) {
            if (trueColour) {
                for (int32_t i = 0; i < region.width; ++i, dst += 3) {
                    const uint8_t* p = src + xMap[i];
                    dst[0] = p[b];
                    dst[1] = p[g];
                    dst[2] = p[r];
                }
            } else {
                for (int32_t i = 0; i < region.width; ++i, dst += 3) {
                    const uint8_t* c = colours[src[xMap[i]]];
                    dst[0] = c[2];
                    dst[1] = c[1];
                    dst[2] = c[0];
                }
            }
        } else if (trueColour) {
            const uint8_t (*up)[64] = tables.useUpper[displayRow & 7];
            for (int32_t i = 0; i < region.width; ++i) {
                const uint8_t* p = src + xMap[i];
                const uint8_t* u = up[(region.x + i) & 7];
                const uint8_t vr = p[r], vg = p[g], vb = p[b];
                dst[i] = static_cast<uint8_t>((u[tables.fraction[0][vr]] ? tables.upper[0][vr] : tables.lower[0][vr]) +
                                              (u[tables.fraction[1][vg]] ? tables.upper[1][vg] : tables.lower[1][vg]) +
                                              (u[tables.fraction[2][vb]] ? tables.upper[2][vb] : tables.lower[2][vb]));
            }
        } else {
            for (int32_t i = 0; i < region.width; ++i) {
                uint8_t v = src[xMap[i]];
                if (image.kind == IMG_BINARY) v = v ? 1 : 0;
                else if (image.kind == IMG_GREY && v >= levels) v = static_cast<uint8_t>(levels - 1);
                dst[i] = v;
            }
        }
    }
    return true;
}
