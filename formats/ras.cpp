// Sun raster files (reader only).
//
// Old (type 0), standard (type 1), byte-encoded (type 2) and R,G,B-ordered
// (type 3) rasters of 1, 8, 24 and 32 bits, with or without an R,G,B colour
// map. The header is eight big-endian 32-bit values: magic, width, height,
// depth, data length (not needed), type, colour map type and colour map
// length in bytes. The colour map follows as all reds, all greens, all blues.
// Rows are padded to a multiple of 16 bits; pixels of several bytes are stored
// blue first (and the fourth byte first) except in type 3 files.
//
// Byte encoding: 0x80 escapes; 0x80 0x00 is one byte 0x80, 0x80 n v (n > 0)
// is n + 1 bytes v, any other byte stands for itself. Runs go on across rows.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "Sun Raster : Bad picture's size !";
const char MSG_BAD_DEPTH[] = "Sun Raster : Bad number of bits per pixel !";

const char NAME_PLAIN[] = "Sun Raster File";
const char NAME_RLE[] = "Sun Raster File (RLE)";

constexpr uint32_t RAS_MAGIC = 0x59A66A95;
constexpr uint32_t RT_BYTE_ENCODED = 2;
constexpr uint32_t RT_FORMAT_RGB = 3;
constexpr uint32_t RMT_NONE = 0;
constexpr uint32_t RMT_EQUAL_RGB = 1;
constexpr uint32_t RMT_RAW = 2;
constexpr uint32_t MAX_MAP_READ = PALETTE_BYTES;  // longer maps are skipped
constexpr uint8_t ESCAPE = 0x80;

struct RasHeader {
    uint32_t width;
    uint32_t height;
    uint32_t depth;
    uint32_t type;
    uint32_t mapType;
    uint32_t mapLength;
};

Status rasReadHeader(FILE* f, RasHeader* h) {
    uint8_t b[32];
    if (!readBlock(f, b, sizeof b) || loadU32BE(b) != RAS_MAGIC) return ST_UNKNOWN_FORMAT;
    h->width = loadU32BE(b + 4);
    h->height = loadU32BE(b + 8);
    h->depth = loadU32BE(b + 12);
    h->type = loadU32BE(b + 20);
    h->mapType = loadU32BE(b + 24);
    h->mapLength = loadU32BE(b + 28);
    if (h->type > RT_FORMAT_RGB) return ST_UNKNOWN_FORMAT;
    if (h->mapLength > 0 ? h->mapType != RMT_EQUAL_RGB : (h->mapType != RMT_NONE && h->mapType != RMT_RAW))
        return ST_UNKNOWN_FORMAT;
    return ST_OK;
}

// Byte-encoded data: runs go on across rows, the last row may end early.
Status rasReadEncoded(FILE* f, int64_t rowBytes, int32_t height) {
    RowFeed feed;
    Status st = feed.begin(rowBytes, height);
    while (st == ST_OK && !feed.done()) {
        const int c = getc(f);
        if (c == EOF) return feed.cut();
        if (c != ESCAPE) {
            st = feed.put(static_cast<uint8_t>(c));
            continue;
        }
        const int n = getc(f);
        if (n == EOF) return feed.cut();
        if (n == 0) {
            st = feed.put(ESCAPE);
            continue;
        }
        const int v = getc(f);
        if (v == EOF) return feed.cut();
        st = feed.repeat(static_cast<uint8_t>(v), n + 1);
    }
    return st;
}

// The colour map as R,G,B triplets in a 256-entry table (the rest black), or
// skipped when it is longer than the table.
Status rasReadColourMap(FILE* f, const RasHeader& h, uint8_t* table, bool* present) {
    *present = false;
    if (h.mapLength == 0) return ST_OK;
    if (h.mapLength > MAX_MAP_READ) {
        if (h.mapLength > 0x7FFFFFFF) return ST_READ_ERROR;
        return skipBytes(f, static_cast<long>(h.mapLength)) ? ST_OK : ST_READ_ERROR;
    }
    uint8_t map[MAX_MAP_READ];
    if (!readBlock(f, map, h.mapLength)) return ST_READ_ERROR;
    const uint32_t n = h.mapLength / 3;
    for (uint32_t j = 0; j < n; ++j) {
        table[3 * j] = map[j];
        table[3 * j + 1] = map[n + j];
        table[3 * j + 2] = map[2 * n + j];
    }
    *present = true;
    return ST_OK;
}

}  // namespace

bool acceptRas(const uint8_t* head, size_t n, int64_t) { return n >= 32 && loadU32BE(head) == RAS_MAGIC; }

Status readRas(FILE* stream, LoadRequest* request) {
    RasHeader h{};
    Status st = rasReadHeader(stream, &h);
    if (st != ST_OK) return st;
    if (h.width < 1 || h.width > MAX_IMAGE_SIDE || h.height < 1 || h.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (h.depth != 1 && h.depth != 8 && h.depth != 24 && h.depth != 32) {
        setReaderMessage(request, MSG_BAD_DEPTH);
        return ST_BAD_FILE;
    }

    // Rows padded to 16 bits.
    const int64_t rowBytes = (static_cast<int64_t>(h.width) * h.depth + 15) / 16 * 2;
    RasterHeader rh{};
    if (h.type == RT_FORMAT_RGB) rh.layout = h.depth == 32 ? PL_ALPHA_FIRST : 0;  // X,R,G,B / R,G,B
    else rh.layout = PL_REVERSED;                                                // X,B,G,R / B,G,R
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(h.depth);
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, h.type == RT_BYTE_ENCODED ? NAME_RLE : NAME_PLAIN);
    rh.compression = h.type == RT_BYTE_ENCODED ? "RLE" : nullptr;
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    uint8_t table[PALETTE_BYTES] = {};
    bool mapped = false;
    st = rasReadColourMap(stream, h, table, &mapped);
    if (st == ST_OK) {
        st = h.type == RT_BYTE_ENCODED ? rasReadEncoded(stream, rowBytes, rh.height)
                                       : readRows(stream, rowBytes, rh.height);
    }
    if (mapped) endImage(PF_TRIPLETS, 8, table);
    else endImage(h.depth == 1 ? PF_INVERT : 0, 8, nullptr);  // without a map, 1 is black
    return st;
}
