// Colour reduction and dithering: black and white, grey levels, palettes of
// 8 to 256 colours (adaptive or a fixed dithered cube), true colour, and the
// count of colours in use. Also the 32 conversions of the "&Image" menu.
#pragma once
#include <cstdint>

#include "image.h"
#include "optable.h"  // ST_OP_BAD_PARAMETER
#include "status.h"

// Targets of convertImage.
enum ConvTarget {
    CT_BINARY = 1,
    CT_GREY4 = 2,
    CT_GREY8 = 3,
    CT_GREY16 = 4,
    CT_GREY32 = 5,
    CT_GREY64 = 6,
    CT_GREY128 = 7,
    CT_GREY256 = 9,
    CT_COLOURS8 = 12,
    CT_COLOURS16 = 13,
    CT_COLOURS32 = 14,
    CT_COLOURS64 = 15,
    CT_COLOURS128 = 16,
    CT_COLOURS216 = 17,
    CT_COLOURS256 = 18,
    CT_TRUECOLOUR = 19,
};

// Methods of convertImage.
enum DitherMethod {
    DM_THRESHOLD = 0,
    DM_ORDERED = 1,
    DM_HALFTONE45 = 2,
    DM_HALFTONE90 = 3,
    DM_NONE = 4,
    DM_DIFFUSION = 5,
};

// Levels or colours of a target: 2 for black and white, 4..256 grey levels,
// 8..256 colours, 0 for true colour, -1 for a value that is not a target.
int targetLevels(int target);

// Converts source to target with method. The result replaces destination when
// one is given (its previous pixels are released), otherwise source. The result
// keeps the source's orientation word, resolution and row alignment.
// ST_OK; ST_NO_MEMORY (nothing changed); ST_KIND_REFUSED for a record that is
// not a valid picture; ST_OP_BAD_PARAMETER for an unknown target or
// method (nothing changed).
Status convertImage(Image* source, Image* destination, int target, int method);

// Number of distinct colours in use: distinct stored values of one-byte kinds,
// distinct (R, G, B) triples of true-colour kinds. -1 for an invalid record or
// when memory runs out.
int32_t countColours(const Image* image);

// The menu conversions, codes 1 to 32 (menu command 50 + code, string 4300 + code).
struct Conversion {
    int code;
    int command;
    const char* label;
    int target;
    int method;
};
constexpr int CONVERSION_COUNT = 32;
// The conversion of code 1..32, or null.
const Conversion* conversionByCode(int code);
// Label of a code; code 0 is "Aucun"; null outside 0..32.
const char* conversionLabel(int code);
// convertImage with the target and method of a code; ST_OP_BAD_PARAMETER outside 1..32.
Status convertWithCode(Image* source, Image* destination, int code);

// Threshold matrices, for the tests and the effects that reuse them.
uint8_t orderedThreshold16(int y, int x);  // 16 x 16 ordered dither, 0..255
uint8_t halftone45(int y, int x);          // 6 x 6, 1..36
uint8_t halftone90(int y, int x);          // 6 x 6, 1..36
uint8_t levelThreshold8(int y, int x);     // 8 x 8, 0..50

// Batch table entries (OpRun): "-truecolors"; "-colors" (ints[0] target 12..18,
// ints[1] dither flag); "-grey" (ints[0] target 2..7 or 9, ints[1] dither flag);
// "-binary" (ints[0] method 1, 2, 3 or 5).
Status opTrueColour(Image* image, const OpInstance& op);
Status opColours(Image* image, const OpInstance& op);
Status opGrey(Image* image, const OpInstance& op);
Status opBinary(Image* image, const OpInstance& op);
