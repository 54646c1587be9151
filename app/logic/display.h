// Colour tables of the screen copy and the conversion of an Image, whole or
// the region of it that a window shows at some zoom, into a device-independent
// bitmap (bottom-up rows padded to 4 bytes).
#pragma once
#include <cstdint>

#include "image.h"
#include "stream.h"

// The 8x8 ordered-dither matrix of displays of 256 colours or fewer.
extern const uint8_t DITHER_MATRIX[8][8];

// A cube of 6 levels per channel: for each channel (0 red, 1 green, 2 blue)
// and value v, the fraction between the two nearest levels (0…63) and the cube
// index contributions of the lower and the upper level; useUpper answers, for
// a dither position and a fraction, whether the upper level is taken.
struct DisplayTables {
    uint8_t fraction[3][256];
    uint8_t lower[3][256];
    uint8_t upper[3][256];
    uint8_t useUpper[8][8][64];
};

void buildDisplayTables(DisplayTables* t);
// Cube index (36 r + 6 g + b) of a colour at display position (x, y).
uint8_t cubeIndex(const DisplayTables& t, uint8_t r, uint8_t g, uint8_t b, int x, int y);
// Colour of cube entry i: (r × 51, g × 51, b × 51).
void cubeColour(int index, uint8_t rgb[3]);

struct DibBuffer {
    int32_t width = 0;
    int32_t height = 0;
    int32_t originX = 0;        // position of the copy in the displayed picture
    int32_t originY = 0;
    int bitsPerPixel = 0;       // 24, or 8 with a colour table
    int32_t stride = 0;         // bytes per row, a multiple of 4
    int colourCount = 0;        // entries of the colour table (8 bits)
    uint8_t colours[256][4] = {};  // blue, green, red, 0
    Buffer pixels;                 // stride × height bytes, bottom-up rows
    uint64_t capacity = 0;         // bytes allocated in pixels
};

// The 256-entry grey ramp of an n-level grey image: i × 255 / (n − 1); an
// image that gives no usable count (below 2 or above 256) uses 256 levels.
int greyLevels(const Image& image);

// Builds a 1:1 copy for a display of displayBits bits per pixel: 24-bit above
// 8 bits, otherwise 8-bit through the image's palette, its grey ramp or the
// dithered colour cube. False when the image is empty or memory runs out.
bool buildDib(const Image& image, int displayBits, const DisplayTables& tables, DibBuffer* out);

// The part of the displayed picture (in displayed coordinates) that a window
// shows: the origin and size of the copy.
struct ViewRegion {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
// Nearest-neighbour maps: display column i shows source column
// i × imageW / displayW (64-bit arithmetic).
int32_t sourceColumn(int32_t i, int32_t imageW, int32_t displayW);
// Builds in *out the screen copy of `region` of the picture displayed at
// displayW x displayH: 24-bit above 8 display bits, else 8-bit through the
// picture's palette, grey ramp or the dithered cube (dither positions are
// those of the displayed picture, so scrolling does not move the pattern).
// The buffer is reused when its size allows. False when the picture is
// empty, the region lies outside it, or memory runs out.
bool renderView(const Image& image, int displayBits, const DisplayTables& tables, int32_t displayW, int32_t displayH,
                const ViewRegion& region, DibBuffer* out);
