// Pictures that arrive as packed device-independent bitmaps (the clipboard's
// CF_DIB block, a screen capture read back with GetDIBits): the block is
// checked against its own length before a byte of it is read as pixels.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image.h"

enum DibResult {
    DIB_OK = 0,
    DIB_NOT_INFO_HEADER,  // the header is not a 40-byte bitmap information header
    DIB_UNSUPPORTED,      // compressed, a depth other than 1/4/8/16/24/32, more than 256 colours...
    DIB_TRUNCATED,        // the block is shorter than its header says
    DIB_TOO_LARGE,        // more pixels than the library's limit
    DIB_NO_MEMORY,
};

struct DibLayout {
    int32_t width, height;   // height positive; topDown tells the order
    bool topDown;
    int bitsPerPixel;
    uint32_t colours;        // entries of the colour table (bit depths up to 8)
    size_t tableOffset;      // of the colour table
    size_t bitsOffset;       // of the first stored row
    size_t stride;           // bytes per stored row
    uint32_t masks[3];       // red, green, blue (16 and 32 bits)
};

// Checks a packed DIB of `size` bytes: a 40-byte header, one plane, a
// non-zero width and height (negative height: rows top-down), uncompressed
// (BI_RGB) or bit fields (BI_BITFIELDS, 16 and 32 bits), at most 256 colours
// in the table, and the table and every row within the block.
DibResult checkPackedDib(const uint8_t* data, size_t size, DibLayout* layout);

// Builds the image of a checked packed DIB: an 8-bit palette image with its
// colour table for 1, 4 and 8 bits per pixel, true colour (R, G, B) above.
// The image is left empty on failure.
DibResult imageFromPackedDib(const uint8_t* data, size_t size, Image* image);
