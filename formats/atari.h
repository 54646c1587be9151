// The Atari ST and TT screen: what the picture files of that machine's paint
// programs share, since most of them are more or less a dump of screen memory.
//
// - Six screen modes (ST low, medium and high, TT low, medium and high), each
//   a fixed size, number of bit planes and pixel aspect.
// - Screen rows are groups of 16 pixels; a group is one big-endian word per
//   plane, plane 0 first, the leftmost pixel in the word's top bit. Bit k of a
//   colour index comes from plane k. Some files store rows line-planar
//   instead: all bytes of plane 0 for the row, then plane 1, and so on.
// - Palette words 0x0RGB: three bits a gun on the ST (bit 3 of each nibble is
//   the STE's extra, least significant bit), four bits a gun on the TT.
#pragma once
#include <cstdint>
#include <cstdio>

#include "codec.h"
#include "rowkit.h"

enum StModeCode : int {
    ST_LOW = 0,
    ST_MEDIUM = 1,
    ST_HIGH = 2,
    TT_LOW = 3,
    TT_MEDIUM = 4,
    TT_HIGH = 5,
    ST_MODE_COUNT = 6,
};

struct StMode {
    int32_t width;
    int32_t height;
    int16_t planes;
    int32_t xdpi;
    int32_t ydpi;
};

// The mode's geometry; code must be 0..5.
const StMode& stMode(int code);

// Bytes of one plane of one row (whole 16-pixel words).
constexpr int32_t stPlaneRowBytes(int32_t width) { return (width + 15) / 16 * 2; }
// Bytes of one whole row of the mode and of its whole screen.
int64_t stRowBytes(int code);
int64_t stScreenBytes(int code);

// Fills rh for a picture of the mode (1-bit planes, the mode's dpi) with the
// layout given (PL_WORD_PLANES for screen order, 0 for line-planar rows), and
// calls beginImage.
Status stBeginScreen(int code, uint16_t layout, const char* name, const char* compression, RasterHeader* rh);

// Delivers rows rows of rowBytes bytes each from a decoded buffer.
Status stDeliverRows(const uint8_t* screen, int64_t rowBytes, int32_t rows);

// Whether n big-endian palette words all leave their top nibble clear, as
// every ST and TT colour word does.
bool stPaletteWordsPlausible(const uint8_t* words, int n);

// PF_ST9 for palettes of three bits a gun, PF_STE12 when any word uses the
// STE's fourth bit (0x0888).
uint16_t stPaletteForm(const uint8_t* words, int n);

// Ends the image with 16 ST palette words, read as stPaletteForm says.
Status stEndPalette(const uint8_t* words);

// An ST colour word (three bits a gun in bits 8-10, 4-6, 0-2) as 8-bit R,G,B.
void stWordToRgb(unsigned word, uint8_t* rgb);

// The colour indices of width pixels of a line-planar row (planes rows of
// planeBytes bytes each, plane 0 first).
void stPlanarIndices(const uint8_t* row, int32_t planeBytes, int planes, int32_t width, uint8_t* out);

// Turns a row in screen order (word-interleaved) into a line-planar one.
void stInterleavedToPlanar(const uint8_t* in, int32_t planeBytes, int planes, uint8_t* out);

// Degas Elite runs: a control byte n of 0..127 copies the next n + 1 bytes,
// 128..255 repeats the next byte 257 - n times. Decodes from f into feed
// until its rows are done; the data ending early cuts the feed.
Status stUnpackDegasRuns(FILE* f, RowFeed* feed);
