// The conversion state shared by the reading side (beginImage / putRows /
// endImage) and the writing side (beginWrite / getRows / endWrite). Internal to
// the core: codecs go through codec.h.
#pragma once
#include <cstdint>
#include <cstring>

#include "codec.h"
#include "context.h"
#include "stream.h"

struct RowConverter;

// Per-row routines, chosen once per image. Each is one straight loop.
// Unpacking: one file row (src) -> converted row (dst), width pixels or more.
using UnpackFn = void (*)(const RowConverter& c, const uint8_t* src, uint8_t* dst);
// Placing: converted row -> image row, n output pixels; plane for channel planes.
using PlaceFn = void (*)(const uint8_t* src, uint8_t* dst, int32_t n, int plane);
// Fetching: image row -> converted row, n pixels.
using FetchFn = void (*)(const RowConverter& c, const uint8_t* src, uint8_t* dst, int32_t n);
// Packing: converted row -> one file row.
using PackFn = void (*)(const RowConverter& c, const uint8_t* src, uint8_t* dst);

enum class ConvPhase : uint8_t { Idle, Reading, Writing };

using IndexMap = std::unique_ptr<int32_t[], FreeDeleter>;

struct RowConverter {
    ConvPhase phase = ConvPhase::Idle;
    Image* image = nullptr;            // the image being built or saved

    int32_t width = 0, height = 0;     // the file raster
    int32_t outWidth = 0, outHeight = 0;
    int32_t xdpi = 0, ydpi = 0;
    int planes = 0, bitsPerPlane = 0, depth = 0;
    uint16_t layout = 0;
    int channels = 0;
    uint16_t orientation = 0;          // the file's (header's) orientation word
    int32_t bytesPerPlane = 0;

    int workBytes = 1;                 // bytes per pixel of the image: 1, 3 or 4
    bool bgr = false;
    int32_t stride = 0;
    int convBytes = 1;                 // bytes per pixel of the converted row
    bool channelPlanes = false;        // PL_CHANNEL_PLANES rows, one channel per delivery
    bool flip = false;                 // OR_BOTTOM_UP differs between file and options
    bool mirror = false;               // OR_MIRRORED differs between file and options
    bool progressBar = false;

    int64_t rowLength = 0;             // bytes of one delivered or produced row
    Buffer rowBuffer;
    uint64_t rowBufferSize = 0;
    Buffer conv;                       // converted row, also the bit (un)packing area
    uint64_t convSize = 0;
    IndexMap rowMap;                   // bounded loads only
    IndexMap colMap;

    UnpackFn unpack = nullptr;
    PlaceFn place = nullptr;
    bool direct = false;               // delivered rows land in the image unchanged
    FetchFn fetch = nullptr;
    PackFn pack = nullptr;

    int32_t groups = 0;                // 16-pixel groups of word planes
    int chanPlane[4] = {0, 1, 2, 3};   // plane holding R, G, B, A for planes within the line

    int32_t delivered = 0;
    int lastStep = 0;

    // Writing.
    Buffer filePalette;
    uint8_t valueMap[256] = {};
    bool valueMapActive = false;
    uint8_t expand[PALETTE_BYTES] = {};  // 8-bit image values as colours, planar
    // A save that turns the picture a quarter: its rows are made a band at a time.
    int turn = 0;                      // 1 clockwise, -1 anticlockwise
    Buffer band;
    size_t bandStride = 0;
    int32_t bandFirst = 0, bandEnd = 0;
    bool inPlace = false;              // the file's rows are the picture's bytes as they are
};

// The calling thread's state: one load or save at a time per thread.
RowConverter& rowConverter();
// Frees every buffer and returns to Idle.
void resetConverter(RowConverter& c);

// Following a load (see setLoadFollower): followBegin with the record the
// load will settle, once its pixels exist; followRows as rows 0 .. rows-1 are
// placed in order; followWithdraw before placed rows are written again;
// followEnd when the load is over. A save asks gateRows before it reads rows
// 0 .. rows-1 (false: stop), after gateBegin.
void followBegin(const Image& settled);
bool following();
void followRows(int32_t rows);
void followWithdraw();
void followEnd();
void gateBegin();
bool gateRows(int32_t rows);
// As gateRows, then how many rows may be read (at least rows), -1 to stop.
int32_t gateOpenRows(int32_t rows);

// How the rows of a raster are laid out, shared by both directions.
enum class RowLayout : uint8_t {
    WordPlanes,     // 1-bit planes interleaved by 16-pixel words
    ChannelPlanes,  // one 8-bit channel per delivered row
    BytePixels,     // one byte per pixel
    Packed1, Packed2, Packed4, Packed8,
    Rgb555, Bgr555, Rgb565,
    Rgb24, Bgr24,
    Rgb32, Abgr32, Argb32, Bgra32,
    LinePlanes,     // whole lines of 1-bit planes one after another
    InLinePlanes,   // three or four 8-bit channel lines within one row
};

struct RowPlan {
    RowLayout kind = RowLayout::BytePixels;
    int64_t rowLength = 0;        // bytes of one file row
    int64_t unpackedPixels = 0;   // pixels the bit routines touch (may pass the width)
    int32_t groups = 0;           // 16-pixel groups of word planes
    int chanPlane[4] = {0, 1, 2, 3};  // the plane holding R, G, B, A (InLinePlanes)
};

// Describes the rows of a raster; false when no routine handles the
// combination (so that nothing can divide by zero or run past a buffer).
bool planRows(uint16_t layout, int planes, int bits, int32_t width, int32_t bytesPerPlane, RowPlan* plan);

// Reverses the n pixels of unit bytes of a converted row.
void mirrorRow(uint8_t* row, int32_t n, int unit);
void mirrorAny(uint8_t* row, int32_t n, int unit);
// Keeps the pixels of a converted row that a bounded load's column map names.
void compactRow(uint8_t* row, const int32_t* map, int32_t n, int unit);
// The reading side's routines for a raster (core/unpack.cpp).
UnpackFn chooseUnpacking(RowLayout kind, int planes);
PlaceFn choosePlacing(int depth, bool channelPlanes, int convBytes, int workBytes, bool bgr);
// Whether unpacking then placing copies a row's bytes unchanged.
bool placesUnchanged(UnpackFn unpack, PlaceFn place);

// Progress bar and callback, shared by putRows and getRows.
void progressBegin(RowConverter& c, const IoContext& ctx);
void progressRow(RowConverter& c, IoContext& ctx, int64_t total);
void progressEnd(RowConverter& c);

// Little-endian 64-bit load and store of eight pixel bytes.
inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// Bit p of eight consecutive pixel bytes gathered into one byte, first pixel
// in the most significant bit.
inline uint8_t gatherBits(const uint8_t* px, int p) {
    uint64_t v = (load64(px) >> p) & 0x0101010101010101ull;
    return static_cast<uint8_t>((v * 0x8040201008040201ull) >> 56);
}

// 2^depth - 1 for depths 1..8 (the largest value of a sample).
inline int maxValue(int bits) { return bits >= 8 ? 255 : (1 << bits) - 1; }

// The rows a putRows or getRows call converts: from firstRow (-1 or out of
// range: after the last row converted), count of them but only whole rows
// inside the row buffer.
inline void rowsToConvert(const RowConverter& c, int32_t firstRow, int32_t count, int32_t* row, int64_t* n) {
    *row = firstRow;
    if (*row < 0 || *row >= c.height) {
        *row = c.delivered;
        if (*row >= c.height) *row = 0;
    }
    const int64_t fits = static_cast<int64_t>(c.rowBufferSize) / c.rowLength;
    *n = count < fits ? count : fits;
}

// Rounds bytes up to a multiple of alignment, in 64 bits.
inline int64_t alignUp(int64_t bytes, int64_t alignment) {
    return (bytes + alignment - 1) / alignment * alignment;
}
