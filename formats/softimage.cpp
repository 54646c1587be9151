// Softimage pictures: 24-bit R,G,B with an optional alpha channel, plain or
// with mixed run-length coding, packet by packet within each row.
//
// A 104-byte big-endian header (magic, version, comment, "PICT", width,
// height, ratio, fields = 3), then a chain of 4-byte channel packets (chained,
// sample size, type 0 plain / 2 mixed runs, channel mask: 0x80 red, 0x40
// green, 0x20 blue, 0x10 alpha; writers use 0xE0 and 0x10). Mixed runs, per
// packet and row: a count c < 128 is followed by c + 1 literal pixels; c > 128
// by one pixel repeated c - 127 times; c = 128 by a 16-bit count n and one
// pixel repeated n times.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_PLAIN[] = "Softimage";
const char NAME_RLE_READ[] = "Softimage (RLE)";
const char NAME_RLE_WRITE[] = "Softimage RLE";
const char MSG_FIELDS[] = "Softimage : Bad number of fields !";
const char MSG_CHANNEL[] = "Softimage : Unknown channel type !";

constexpr size_t HEADER_BYTES = 104;
constexpr uint8_t MAGIC[4] = {0x53, 0x80, 0xF6, 0x34};
constexpr uint8_t TYPE_MIXED = 2;
constexpr uint8_t MASK_RGB = 0xE0;
constexpr uint8_t MASK_ALPHA = 0x10;
constexpr int MAX_PACKETS = 16;  // longer chains are nonsense
constexpr int MAX_LITERAL = 128;
constexpr uint32_t MAX_LONG_RUN = 65535;

struct Packet {
    uint8_t chained, size, type, mask;
};

// The channels of a mask (0x80 red, 0x40 green, 0x20 blue, 0x10 alpha) as the
// first byte of a pixel and a count; false unless they follow one another.
bool channelRun(uint8_t mask, int* offset, int* size) {
    if (mask == 0 || (mask & 0x0F)) return false;
    int first = 0;
    while (!(mask & (0x80 >> first))) ++first;
    int n = 0;
    while (first + n < 4 && (mask & (0x80 >> (first + n)))) ++n;
    if (mask & ~(((0xF0u >> first) & ~(0xF0u >> (first + n))) & 0xF0u)) return false;
    *offset = first;
    *size = n;
    return true;
}

// One packet's part of a row: size bytes per pixel (3 or 1) placed at
// offset within pixels of stride bytes. A run or literal group that would
// pass the end of the row ends the packet's row (reported, not an error).
Status readMixed(FILE* f, uint8_t* row, int32_t width, int stride, int offset, int size) {
    int32_t x = 0;
    uint8_t pixel[4];
    while (x < width) {
        const int c = getc(f);
        if (c == EOF) return ST_READ_ERROR;
        if (c < 128) {
            const int n = c + 1;
            const bool over = n > width - x;
            for (int i = 0; i < n; ++i) {
                if (!readBlock(f, pixel, static_cast<size_t>(size))) return ST_READ_ERROR;
                if (x + i < width) memcpy(row + int64_t(x + i) * stride + offset, pixel, static_cast<size_t>(size));
            }
            if (over) {
                reportWarning("ERROR RLE");
                return ST_OK;
            }
            x += n;
            continue;
        }
        uint32_t n = static_cast<uint32_t>(c - 127);
        if (c == 128) {
            uint8_t b[2];
            if (!readBlock(f, b, 2)) return ST_READ_ERROR;
            n = loadU16BE(b);
        }
        if (n > static_cast<uint32_t>(width - x)) {
            reportWarning("ERROR RLE");
            return ST_OK;
        }
        if (!readBlock(f, pixel, static_cast<size_t>(size))) return ST_READ_ERROR;
        for (uint32_t i = 0; i < n; ++i, ++x) memcpy(row + int64_t(x) * stride + offset, pixel, static_cast<size_t>(size));
    }
    return ST_OK;
}

Status readPlain(FILE* f, uint8_t* row, int32_t width, int stride, int offset, int size) {
    for (int32_t x = 0; x < width; ++x)
        if (!readBlock(f, row + int64_t(x) * stride + offset, static_cast<size_t>(size))) return ST_READ_ERROR;
    return ST_OK;
}

// The run-length encoder for one channel of one row: pixels of size bytes at
// stride apart, starting at offset.
struct MixedWriter {
    FILE* f;
    const uint8_t* row;
    int stride, offset, size;
    uint8_t list[MAX_LITERAL * 3];
    int listed = 0;
    bool ok = true;

    const uint8_t* at(int32_t x) const { return row + int64_t(x) * stride + offset; }
    void put(const void* p, size_t n) { ok = ok && writeBlock(f, p, n); }
    void flushList() {
        if (listed == 0) return;
        const uint8_t c = static_cast<uint8_t>(listed - 1);
        put(&c, 1);
        put(list, static_cast<size_t>(listed) * size);
        listed = 0;
    }
    void append(const uint8_t* p) {
        memcpy(list + listed * size, p, static_cast<size_t>(size));
        if (++listed == MAX_LITERAL) flushList();
    }
    // The reference repeated copies + 1 times.
    void run(const uint8_t* p, uint32_t copies) {
        if (copies < 128) {
            const uint8_t c = static_cast<uint8_t>(0x80 | copies);
            put(&c, 1);
        } else {
            const uint8_t c[3] = {0x80, static_cast<uint8_t>((copies + 1) >> 8), static_cast<uint8_t>(copies + 1)};
            put(c, 3);
        }
        put(p, static_cast<size_t>(size));
    }
    bool encode(int32_t width) {
        int32_t ref = 0;
        uint32_t repeats = 0;
        for (int32_t x = 1; x < width; ++x) {
            if (memcmp(at(x), at(ref), static_cast<size_t>(size)) != 0) {
                if (repeats > 0) {
                    run(at(ref), repeats);
                    repeats = 0;
                } else {
                    append(at(ref));
                }
            } else {
                flushList();
                if (++repeats == MAX_LONG_RUN) {
                    const uint8_t c[3] = {0x80, 0xFF, 0xFF};
                    put(c, 3);
                    put(at(ref), static_cast<size_t>(size));
                    repeats = 0;  // this pixel starts the next run
                }
            }
            ref = x;
        }
        if (repeats == 0) {
            append(at(ref));
            flushList();
        } else {
            run(at(ref), repeats);
        }
        return ok;
    }
};

}  // namespace

bool acceptSoftimage(const uint8_t* head, size_t n, int64_t) {
    return n >= HEADER_BYTES && memcmp(head + 88, "PICT", 4) == 0;
}

Status readSoftimage(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER_BYTES];
    if (!readBlock(stream, h, sizeof h) || !acceptSoftimage(h, sizeof h, 0)) return ST_UNKNOWN_FORMAT;
    if (loadU16BE(h + 100) != 3) {
        setReaderMessage(request, MSG_FIELDS);
        return ST_BAD_FILE;
    }
    Packet packets[MAX_PACKETS];
    int count = 0;
    bool rle = false, alpha = false;
    do {
        if (count == MAX_PACKETS) return ST_CORRUPT;
        uint8_t b[4];
        if (!readBlock(stream, b, 4)) return ST_READ_ERROR;
        packets[count] = {b[0], b[1], b[2], b[3]};
        rle = rle || (b[2] & 2);
        alpha = alpha || (b[3] & MASK_ALPHA);
    } while (packets[count++].chained == 1);

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = loadU16BE(h + 92);
    rh.height = loadU16BE(h + 94);
    rh.planes = 1;
    rh.bitsPerPlane = alpha ? 32 : 24;
    const int stride = alpha ? 4 : 3;
    rh.bytesPerPlane = stride * rh.width;
    setRasterName(rh.name, rle ? NAME_RLE_READ : NAME_PLAIN);
    rh.compression = rle ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    Buffer row = allocBuffer(static_cast<uint64_t>(rh.bytesPerPlane));
    if (!row) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < rh.height; ++y) {
        memset(row.get(), 0, static_cast<size_t>(rh.bytesPerPlane));
        for (int p = 0; st == ST_OK && p < count; ++p) {
            const Packet& k = packets[p];
            int offset, size;
            if (!channelRun(k.mask, &offset, &size)) {
                setReaderMessage(request, MSG_CHANNEL);
                st = ST_BAD_FILE;
                break;
            }
            st = k.type == TYPE_MIXED ? readMixed(stream, row.get(), rh.width, stride, offset, size)
                                      : readPlain(stream, row.get(), rh.width, stride, offset, size);
        }
        if (st == ST_OK || st == ST_READ_ERROR) {
            const Status delivered = deliverRow(row.get(), rh.bytesPerPlane, y);
            if (st == ST_OK) st = delivered;
        }
    }
    endImage(0, 8, nullptr);
    return st;
}

Status writeSoftimage(FILE* stream, SaveRequest* request) {
    if (request->kind != KIND_ANY_TRUECOLOUR) return ST_KIND_REFUSED;
    const int32_t width = request->width, height = request->height;
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ST_KIND_REFUSED;
    const bool alpha = request->bitsPerPixel == 32 && savedImageHasAlpha();
    const bool rle = request->writerOption1 != 0;
    const int stride = alpha ? 4 : 3;

    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(8 * stride);
    wh.bytesPerPlane = stride * width;
    setRasterName(wh.name, rle ? NAME_RLE_WRITE : NAME_PLAIN);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    uint8_t h[HEADER_BYTES] = {};
    memcpy(h, MAGIC, 4);
    const uint8_t version[4] = {0x40, 0x20, 0x00, 0x00};  // 2.5
    const uint8_t one[4] = {0x3F, 0x80, 0x00, 0x00};      // 1.0
    memcpy(h + 4, version, 4);
    memcpy(h + 8, "Created by Kaleos", 18);
    memcpy(h + 88, "PICT", 4);
    h[92] = static_cast<uint8_t>(width >> 8), h[93] = static_cast<uint8_t>(width);
    h[94] = static_cast<uint8_t>(height >> 8), h[95] = static_cast<uint8_t>(height);
    memcpy(h + 96, one, 4);
    h[101] = 3;
    const uint8_t type = rle ? TYPE_MIXED : 0;
    const uint8_t chain[8] = {static_cast<uint8_t>(alpha ? 1 : 0), 8, type, MASK_RGB, 0, 8, type, MASK_ALPHA};
    if (!writeBlock(stream, h, sizeof h) || !writeBlock(stream, chain, alpha ? 8 : 4)) {
        endWrite();
        return ST_WRITE_ERROR;
    }
    const int64_t rowBytes = int64_t(stride) * width;
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    Buffer plain = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row || !plain) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < height; ++y) {
        st = fetchRow(y, row.get(), rowBytes);
        if (st != ST_OK) break;
        bool ok;
        if (rle) {
            MixedWriter rgb{stream, row.get(), stride, 0, 3, {}, 0, true};
            ok = rgb.encode(width);
            if (ok && alpha) {
                MixedWriter a{stream, row.get(), stride, 3, 1, {}, 0, true};
                ok = a.encode(width);
            }
        } else if (!alpha) {
            ok = writeBlock(stream, row.get(), static_cast<size_t>(rowBytes));
        } else {
            // All the triplets, then all the alpha bytes.
            for (int32_t x = 0; x < width; ++x) {
                memcpy(plain.get() + 3 * int64_t(x), row.get() + 4 * int64_t(x), 3);
                plain[3 * int64_t(width) + x] = row[4 * int64_t(x) + 3];
            }
            ok = writeBlock(stream, plain.get(), static_cast<size_t>(rowBytes));
        }
        if (!ok) st = ST_WRITE_ERROR;
    }
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
