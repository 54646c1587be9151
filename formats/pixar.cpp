// Pixar picture files (reader only).
//
// A little-endian header: magic 0x0000E880, the picture's height and width at
// 416 and 418, the tile's at 420 and 422, the channel format at 424 (8 grey,
// 14 R,G,B, 15 R,G,B and alpha), the storage at 426 (0 8-bit run-length,
// 1 12-bit run-length, 2 8-bit plain, 3 12-bit plain), the block size of the
// run-length storages at 428 and the offset of the tile's data at 512. Only
// single-tile pictures are read. A 12-bit sample is a 16-bit word whose value
// shifted right by 4 gives the byte.
//
// Run-length data come in blocks of the block size. Each packet starts with a
// word: opcode in bits 12-15, n in bits 0-11. 0 ends the block; 1 dumps n + 1
// pixels; 2 gives n + 1 runs of a count c and a pixel (c + 1 copies); 3 and 4
// are the same with an alpha value first and pixels of three samples. Values
// are bytes in 8-bit storage and words in 12-bit storage. Once a packet leaves
// fewer than two values in its block, the next block follows.
#include <algorithm>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_MULTIPLE_TILES[] = "PIXAR : Can't read (Multiple tile) !";

constexpr uint32_t PIXAR_MAGIC = 0x0000E880;
constexpr size_t HEADER_BYTES = 520;
constexpr int32_t MAX_SIDE = 16000;
constexpr int FORMAT_GREY = 8;
constexpr int FORMAT_RGB = 14;
constexpr int FORMAT_RGBA = 15;
constexpr int STORAGE_RLE8 = 0;
constexpr int STORAGE_RLE12 = 1;
constexpr int STORAGE_PLAIN8 = 2;
constexpr int STORAGE_PLAIN12 = 3;
constexpr uint32_t MIN_BLOCK = 4;

enum Opcode { OP_END_BLOCK = 0, OP_FULL_DUMP, OP_FULL_RUN, OP_PARTIAL_DUMP, OP_PARTIAL_RUN };

struct PixarHeader {
    int32_t width, height, tileWidth, tileHeight;
    int format;
    int storage;
    uint32_t blockSize;
    uint32_t dataOffset;
};

bool parseHeader(const uint8_t* b, size_t n, PixarHeader* h) {
    if (n < HEADER_BYTES || loadU32LE(b) != PIXAR_MAGIC) return false;
    h->height = loadU16LE(b + 416);
    h->width = loadU16LE(b + 418);
    h->tileHeight = loadU16LE(b + 420);
    h->tileWidth = loadU16LE(b + 422);
    h->format = loadU16LE(b + 424);
    h->storage = loadU16LE(b + 426);
    h->blockSize = loadU16LE(b + 428);
    h->dataOffset = loadU32LE(b + 512);
    return h->width <= MAX_SIDE && h->height <= MAX_SIDE && h->storage <= STORAGE_PLAIN12;
}

void pixarName(const PixarHeader& h, char (&name)[RASTER_NAME_LEN]) {
    const bool wide = h.storage == STORAGE_RLE12 || h.storage == STORAGE_PLAIN12;
    const char* kind;
    if (h.format == FORMAT_GREY) kind = wide ? "12 bits Grayscale" : "8 bits Grayscale";
    else if (h.format == FORMAT_RGB) kind = wide ? "36 bits RGB" : "24 bits RGB";
    else if (h.format == FORMAT_RGBA) kind = wide ? "48 bits RGB & Alpha" : "32 bits RGB & Alpha";
    else kind = wide ? "12 bits" : "8 bits";
    const bool rle = h.storage == STORAGE_RLE8 || h.storage == STORAGE_RLE12;
    char text[RASTER_NAME_LEN];
    snprintf(text, sizeof text, "Pixar picture (%s)%s", kind, rle ? " RLE" : "");
    setRasterName(name, text);
}

// A 12-bit sample word as a byte.
uint8_t narrow(uint32_t word) { return static_cast<uint8_t>(std::min<uint32_t>(word >> 4, 255)); }

// Run-length values, one block in memory at a time.
class BlockReader {
public:
    BlockReader(FILE* f, uint32_t blockSize, bool wide) : f_(f), size_(blockSize), wide_(wide) {}

    Status begin() {
        block_ = allocBuffer(size_);
        if (!block_) return ST_NO_MEMORY;
        return load();
    }
    // The next value (byte or word); ST_READ_ERROR when the file ended inside
    // the block, ST_CORRUPT when the value would lie past the block.
    Status value(uint32_t* v) {
        const uint32_t step = wide_ ? 2 : 1;
        if (pos_ + step > size_) return ST_CORRUPT;
        if (pos_ + step > got_) return ST_READ_ERROR;
        *v = wide_ ? loadU16LE(block_.get() + pos_) : block_[pos_];
        pos_ += step;
        return ST_OK;
    }
    // The packet header word, from a new block when the last one is used up.
    Status header(uint32_t* v) {
        if (exhausted_) {
            Status st = load();
            if (st != ST_OK) return st;
        }
        if (pos_ + 2 > got_) return pos_ + 2 > size_ ? ST_CORRUPT : ST_READ_ERROR;
        *v = loadU16LE(block_.get() + pos_);
        pos_ += 2;
        return ST_OK;
    }
    void endBlock() { exhausted_ = true; }
    // After each packet: fewer than two values left moves to the next block.
    void packetDone() {
        const uint32_t last = wide_ ? (size_ / 2 - 2) * 2 : size_ - 2;
        if (pos_ >= last) exhausted_ = true;
    }

private:
    Status load() {
        got_ = static_cast<uint32_t>(fread(block_.get(), 1, size_, f_));
        pos_ = 0;
        exhausted_ = false;
        return got_ == 0 ? ST_READ_ERROR : ST_OK;
    }

    FILE* f_;
    uint32_t size_;
    bool wide_;
    Buffer block_;
    uint32_t got_ = 0;
    uint32_t pos_ = 0;
    bool exhausted_ = false;
};

// One row of run-length packets: pixels of b bytes, clipped at the row's end.
// *produced counts the pixels placed.
Status decodeRow(BlockReader* in, bool wide, int b, int32_t width, uint8_t* row, int32_t* produced) {
    int32_t& x = *produced;
    x = 0;
    uint8_t pixel[4];
    while (x < width) {
        uint32_t word;
        Status st = in->header(&word);
        if (st != ST_OK) return st;
        const uint32_t op = word >> 12;
        const uint32_t n = (word & 0x0FFF) + 1;
        if (op == OP_END_BLOCK) {
            in->endBlock();
            continue;
        }
        if (op > OP_PARTIAL_RUN) {
            in->packetDone();
            continue;
        }
        const bool partial = op == OP_PARTIAL_DUMP || op == OP_PARTIAL_RUN;
        const bool run = op == OP_FULL_RUN || op == OP_PARTIAL_RUN;
        const int samples = partial ? 3 : b;
        uint32_t alpha = 0;
        if (partial && (st = in->value(&alpha)) != ST_OK) return st;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t count = 0;
            if (run && (st = in->value(&count)) != ST_OK) return st;
            memset(pixel, 0, sizeof pixel);
            for (int s = 0; s < samples; ++s) {
                uint32_t v;
                if ((st = in->value(&v)) != ST_OK) return st;
                if (s < b) pixel[s] = wide ? narrow(v) : static_cast<uint8_t>(v);
            }
            if (partial && b == 4) pixel[3] = wide ? narrow(alpha) : static_cast<uint8_t>(alpha);
            const int64_t copies = std::min<int64_t>(int64_t(count) + 1, width - x);
            for (int64_t c = 0; c < copies; ++c, ++x) memcpy(row + int64_t(x) * b, pixel, static_cast<size_t>(b));
        }
        in->packetDone();
    }
    return ST_OK;
}

Status readRunLength(FILE* f, const PixarHeader& h, int b, int64_t rowBytes, int32_t height) {
    const bool wide = h.storage == STORAGE_RLE12;
    BlockReader in(f, h.blockSize, wide);
    Status st = in.begin();
    if (st != ST_OK) return st;
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) return ST_NO_MEMORY;
    for (int32_t y = 0; y < height; ++y) {
        memset(row.get(), 0, static_cast<size_t>(rowBytes));
        int32_t produced = 0;
        st = decodeRow(&in, wide, b, h.width, row.get(), &produced);
        if (st != ST_OK) {
            if (produced > 0) deliverRow(row.get(), rowBytes, y);  // the pixels decoded so far
            return st;
        }
        if ((st = deliverRow(row.get(), rowBytes, y)) != ST_OK) return st;
    }
    return ST_OK;
}

// 12-bit plain rows: a word a sample; a row cut short keeps the rest of the last one.
Status readPlainWide(FILE* f, int64_t rowBytes, int32_t height) {
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    Buffer words = allocBuffer(static_cast<uint64_t>(rowBytes) * 2);
    if (!row || !words) return ST_NO_MEMORY;
    for (int32_t y = 0; y < height; ++y) {
        const size_t got = fread(words.get(), 2, static_cast<size_t>(rowBytes), f);
        for (size_t i = 0; i < got; ++i) row[i] = narrow(loadU16LE(words.get() + 2 * i));
        if (got > 0) {
            Status st = deliverRow(row.get(), rowBytes, y);
            if (st != ST_OK) return st;
        }
        if (got < static_cast<size_t>(rowBytes)) return ST_READ_ERROR;
    }
    return ST_OK;
}

}  // namespace

bool acceptPixar(const uint8_t* head, size_t n, int64_t) {
    PixarHeader h{};
    return parseHeader(head, n, &h);
}

Status readPixar(FILE* stream, LoadRequest* request) {
    uint8_t b[HEADER_BYTES];
    PixarHeader h{};
    if (!readBlock(stream, b, sizeof b) || !parseHeader(b, sizeof b, &h)) return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    pixarName(h, rh.name);
    if (h.tileWidth != h.width || h.tileHeight != h.height) {
        setReaderMessage(request, MSG_MULTIPLE_TILES);
        return ST_BAD_FILE;
    }
    const bool rle = h.storage == STORAGE_RLE8 || h.storage == STORAGE_RLE12;
    if (rle && h.blockSize < MIN_BLOCK) return ST_CORRUPT;
    const int bytes = h.format == FORMAT_RGBA ? 4 : h.format == FORMAT_RGB ? 3 : 1;
    rh.channels = 1;
    rh.width = h.width;
    rh.height = h.height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(8 * bytes);
    rh.bytesPerPlane = bytes * h.width;
    rh.compression = rle ? "RLE" : nullptr;
    if (h.dataOffset > HEADER_BYTES && !seekTo(stream, h.dataOffset)) return ST_READ_ERROR;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    if (rle) st = readRunLength(stream, h, bytes, rh.bytesPerPlane, rh.height);
    else if (h.storage == STORAGE_PLAIN12) st = readPlainWide(stream, rh.bytesPerPlane, rh.height);
    else st = readRows(stream, rh.bytesPerPlane, rh.height);
    endImage(0, 8, nullptr);
    return st;
}
