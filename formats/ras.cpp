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

// Decodes byte-encoded data into rows of rowBytes and hands each full row over.
class RasRleDecoder {
public:
    RasRleDecoder(FILE* f, uint8_t* row, int64_t rowBytes, int32_t height)
        : f_(f), row_(row), rowBytes_(rowBytes), height_(height) {}

    Status run() {
        for (;;) {
            int c = next();
            if (c == EOF) return truncated();
            if (c != ESCAPE) {
                Status st = put(static_cast<uint8_t>(c), 1);
                if (st != ST_OK || y_ >= height_) return st;
                continue;
            }
            int n = next();
            if (n == EOF) return truncated();
            uint32_t count = 1;
            uint8_t v = ESCAPE;
            if (n != 0) {
                int value = next();
                if (value == EOF) return truncated();
                count = static_cast<uint32_t>(n) + 1;
                v = static_cast<uint8_t>(value);
            }
            Status st = put(v, count);
            if (st != ST_OK || y_ >= height_) return st;
        }
    }

private:
    int next() {
        if (pos_ == len_) {
            len_ = fread(buf_, 1, sizeof buf_, f_);
            pos_ = 0;
            if (len_ == 0) return EOF;
        }
        return buf_[pos_++];
    }

    // Writes count bytes v, delivering every row that fills up.
    Status put(uint8_t v, uint32_t count) {
        while (count > 0 && y_ < height_) {
            int64_t n = rowBytes_ - x_ < count ? rowBytes_ - x_ : count;
            memset(row_ + x_, v, static_cast<size_t>(n));
            x_ += n;
            count -= static_cast<uint32_t>(n);
            if (x_ == rowBytes_) {
                Status st = putRows(-1, y_++, 1);
                x_ = 0;
                if (st != ST_OK) return st;
            }
        }
        return ST_OK;
    }

    // The data ended before the last row: keep the part of the row decoded so far.
    Status truncated() {
        if (x_ > 0) {
            memset(row_ + x_, 0, static_cast<size_t>(rowBytes_ - x_));
            Status st = putRows(-1, y_, 1);
            if (st != ST_OK) return st;
        }
        return ST_READ_ERROR;
    }

    FILE* f_;
    uint8_t* row_;
    int64_t rowBytes_;
    int32_t height_;
    int64_t x_ = 0;
    int32_t y_ = 0;
    uint8_t buf_[16384];
    size_t pos_ = 0;
    size_t len_ = 0;
};

Status rasReadRows(FILE* f, uint8_t* row, int64_t rowBytes, int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        if (!readBlock(f, row, static_cast<size_t>(rowBytes))) return ST_READ_ERROR;
        Status st = putRows(-1, y, 1);
        if (st != ST_OK) return st;
    }
    return ST_OK;
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
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    uint8_t table[PALETTE_BYTES] = {};
    bool mapped = false;
    st = rasReadColourMap(stream, h, table, &mapped);
    if (st == ST_OK) {
        if (h.type == RT_BYTE_ENCODED) {
            RasRleDecoder decoder(stream, rh.rowBuffer, rowBytes, rh.height);
            st = decoder.run();
        } else {
            st = rasReadRows(stream, rh.rowBuffer, rowBytes, rh.height);
        }
    }
    if (mapped) endImage(PF_TRIPLETS, 8, table);
    else endImage(h.depth == 1 ? PF_INVERT : 0, 8, nullptr);  // without a map, 1 is black
    return st;
}
