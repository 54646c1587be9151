// Screen copies of images: the dithering tables and the DIB conversion.
#include "display.h"

#include "viewlayout.h"

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
