// The decoder and encoder interface: how a codec describes its file's raster
// to the core and hands over (or fetches) rows in the file's own layout.
#pragma once
#include <cstdint>
#include <cstdio>

#include "image.h"
#include "status.h"

// Pixel layout flags of file rows.
constexpr uint16_t PL_WORD_PLANES = 0x0001;     // bit-planes interleaved by 16-pixel words
constexpr uint16_t PL_BYTE_PIXELS = 0x0002;     // one byte per pixel already
constexpr uint16_t PL_CHANNEL_PLANES = 0x0004;  // each delivered row is one channel of one line
constexpr uint16_t PL_REVERSED = 0x0008;        // B,G,R / A,B,G,R, or planes in reverse order
constexpr uint16_t PL_ALPHA_FIRST = 0x0010;     // A,R,G,B
constexpr uint16_t PL_BGRA = 0x0020;            // B,G,R(,A)
constexpr uint16_t PL_WORD_HINT = 0x0040;       // 15/16-bit hint, no effect on conversion
constexpr uint16_t PL_565 = 0x0080;             // 16-bit words 5-6-5
constexpr uint16_t PL_CMYK_INV = 0x0100;        // inverted C,M,Y,K or inverted R,G,B
constexpr uint16_t PL_CMYK = 0x0200;            // C,M,Y,K
constexpr uint16_t PL_BGR555 = 0x0400;          // 15-bit words with red in the low bits
constexpr uint16_t PL_MIN_IS_WHITE = 0x1000;    // writing: grey values stored inverted

// Palette format flags: how a file stores its palette.
constexpr uint16_t PF_INVERT = 0x01;
constexpr uint16_t PF_ST9 = 0x02;       // big-endian words 0x0RGB, 3 bits per component
constexpr uint16_t PF_STE12 = 0x04;     // big-endian words, 4-bit components with rotated bit order
constexpr uint16_t PF_PLANAR = 0x08;    // all reds, all greens, all blues
constexpr uint16_t PF_TRIPLETS = 0x10;  // writing: plain R,G,B triplets
constexpr uint16_t PF_BGR = 0x20;       // B,G,R order
constexpr uint16_t PF_RGB12 = 0x40;     // big-endian words 0x0RGB, 4 bits per component

constexpr int RASTER_NAME_LEN = 128;
constexpr int MAX_IMAGE_SIDE = 15999;

struct RasterHeader {
    uint16_t layout;
    uint16_t orientation;
    int16_t channels;       // samples per pixel the decoder may place in the row buffer
    uint8_t* rowBuffer;     // set by beginImage
    int32_t width;
    int32_t height;
    int16_t planes;
    int16_t bitsPerPlane;
    int32_t bytesPerPlane;  // bytes of one line of one plane as stored in the file
    int32_t xdpi;
    int32_t ydpi;
    char name[RASTER_NAME_LEN];
    const char* compression;  // how the file codes its pixels ("LZW", "RLE8"...); null: not at all
};

struct WriteHeader {
    uint16_t layout;
    uint16_t orientation;
    int16_t channels;
    uint8_t* rowBuffer;       // set by beginWrite
    int16_t planes;
    int16_t bitsPerPlane;
    int32_t bytesPerPlane;
    uint16_t paletteFormat;   // 0 = no palette in the file
    uint16_t componentBits;
    uint8_t* palette;         // set by beginWrite: the palette in the file's form, or null
    char name[RASTER_NAME_LEN];
};

// Copies a display name into a header's name field (truncating).
void setRasterName(char (&dst)[RASTER_NAME_LEN], const char* name);

// Reading. beginImage returns ST_OK, ST_NO_MEMORY, ST_UNKNOWN_FORMAT when the
// header is out of bounds, or ST_INFO_ONLY when the load only examines the file.
// Out of bounds also covers rasters no unpacking routine reads. Accepted:
// PL_WORD_PLANES with 1..8 planes of 1 bit; PL_CHANNEL_PLANES with 1..4 planes
// of 8 bits; one plane of 1, 2, 4 or 8 bits (any 1..8 with PL_BYTE_PIXELS),
// 15, 16, 24 or 32 bits; 2..8 planes of 1 bit (line planes); 3 or 4 planes
// of 8 bits (channel lines within the row). Planar rasters need bytesPerPlane
// large enough for the width (at most 1 MB). The row buffer holds at least
// channels x width x sample bytes and one whole file row, plus 1024 bytes.
Status beginImage(RasterHeader* header);
// Converts count rows from the row buffer; firstRow -1 continues after the last row.
Status putRows(int plane, int32_t firstRow, int32_t count);
// Completes the image: final kind, palette, CMYK and grey conversions.
// A non-null palette is read for 2^depth entries (depth <= 8) in its stored
// form, so the decoder's buffer must hold them all, unused entries zeroed:
// 3 bytes an entry for triplets and 8-bit planar forms (768 at depth 8),
// 6 bytes an entry for planar 16-bit components (componentBits > 8; 1536),
// 2 bytes an entry for the word forms PF_ST9, PF_STE12, PF_RGB12 (512).
Status endImage(uint16_t paletteFormat, int componentBits, const uint8_t* palette);
// Where the next row (row, counted from the first delivered) lands in the
// picture when the pipeline would copy it there unchanged (same pixel layout,
// no turn, no bounded load): a decoder may write the row there itself and then
// count it with rowsPlaced instead of putRows. Null otherwise.
uint8_t* directRow(int32_t row);
Status rowsPlaced(int32_t count);
// When the load may map its file (OPT_MAP_FILE) and the whole picture, rows
// rows of rowBytes, is stored from byte offset of the stream's file on
// exactly as the picture holds it: maps it as the picture's pixels and moves
// the stream past it (the caller then counts the rows with rowsPlaced).
// False otherwise, nothing changed.
bool mapDirectRows(FILE* f, int64_t offset, int64_t rowBytes, int32_t rows);
// How many rows from row on (the next one, as for directRow) follow one
// another in the image, each rowBytes long as in the file, so that one read
// may fill them all: 0 when row cannot be placed directly.
int32_t directRun(int32_t row, int64_t rowBytes);
// Bytes of one delivered row, as computed by beginImage (0 outside a decode).
int64_t fileRowLength();
// Reports a warning about the file being read or written (see setWarningHandler).
void reportWarning(const char* message);
// Whether the file being read can hold a picture of width x height pixels of
// bytesPerPixel bytes: ST_OK, ST_READ_ERROR when the file is too short for it
// (its size times its format's largest compression ratio), or ST_NO_MEMORY
// past the pixel limit. beginImage applies it to every raster; a reader that
// allocates a whole-picture buffer of its own before beginImage asks first.
Status checkPictureBudget(int64_t width, int64_t height, int bytesPerPixel);

// Writing: the image comes from the save in progress. Returns ST_OK,
// ST_NO_MEMORY, ST_UNKNOWN_FORMAT for a header no packing routine handles,
// or ST_KIND_REFUSED when there is no image with pixels to write. The rows
// are packed from the image's own stride.
Status beginWrite(WriteHeader* header);
Status getRows(int32_t firstRow, int32_t count);
void endWrite();
// Rows firstRow .. of the file, up to count of them, when the file stores them
// as the picture holds them, one after the other and rowBytes long: *rows is
// where they start in the picture and *got how many follow there (progress
// and a followed load treat them as getRows does). *got is 0 when the rows
// must come through getRows.
Status savedRowsInPlace(int32_t firstRow, int64_t rowBytes, int32_t count, const uint8_t** rows, int32_t* got);
// Bytes of one produced row, as computed by beginWrite (0 outside an encode).
int64_t writeRowLength();
// The converted row of the last getRows (R,G,B(,X) or one byte per pixel), for
// PL_CHANNEL_PLANES encoders that read the channels themselves.
const uint8_t* convertedRow();
// True when the image being saved carries something in its fourth byte (see
// imageHasAlpha): writers store an alpha channel only then.
// It is the one test every writer that can store alpha makes (PNG, TIFF, SGI,
// Targa); a 32-bit picture whose fourth bytes are all 0 is saved without one.
bool savedImageHasAlpha();

// Whole rows between a stream and the calls above (reading rows into putRows,
// feeding decoded bytes row by row, writing fetched rows with their padding):
// see rowkit.h.
