// GEM bit images (reader only): 1 to 8 bit planes, each scan line plane after
// plane, coded with pattern runs, solid runs, literal strings and vertical
// replication.
//
// Header: eight big-endian words (version 1, header length in words, planes,
// pattern length, pixel width and height in micrometres, line width, lines).
// An extended header ("XIMG", a colour model, then 2^planes R,G,B words from 0
// to 1000) may follow; the data start at twice the header length. Items:
// 0x00 n pattern: the pattern n times; 0x80 n bytes: n literal bytes; any
// other c: (c & 0x7F) bytes of 0xFF (bit 7 set) or 0x00. The record
// 0x00 0x00 0xFF n uses the next scan line for n lines.
#include <algorithm>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_GEM[] = "GEM Paint";
constexpr uint32_t MAX_SIDE = 16000;
constexpr size_t HEADER_BYTES = 16;
constexpr size_t EXTENSION_BYTES = 6;  // tag and colour model
constexpr double MICRONS_PER_INCH = 25399.16666666667;

struct GemHeader {
    uint32_t headerWords, planes, patternLength, pixelWidth, pixelHeight, width, height;
};

bool parseHeader(const uint8_t* b, GemHeader* h) {
    if (loadU16BE(b) != 1) return false;
    h->headerWords = loadU16BE(b + 2);
    h->planes = loadU16BE(b + 4);
    h->patternLength = loadU16BE(b + 6);
    h->pixelWidth = loadU16BE(b + 8);
    h->pixelHeight = loadU16BE(b + 10);
    h->width = loadU16BE(b + 12);
    h->height = loadU16BE(b + 14);
    return h->headerWords >= 8 && h->planes >= 1 && h->planes <= 8 && h->width >= 1 && h->width <= MAX_SIDE &&
           h->height >= 1 && h->height <= MAX_SIDE;
}

// Fills one scan line of n bytes from the items; items are clipped at its end.
Status decodeLine(FILE* f, uint8_t* line, int64_t n, uint32_t patternLength, uint8_t* pattern) {
    int64_t x = 0;
    while (x < n) {
        const int c = getc(f);
        if (c == EOF) return ST_READ_ERROR;
        if (c == 0x00) {
            const int count = getc(f);
            if (count == EOF || !readBlock(f, pattern, patternLength)) return ST_READ_ERROR;
            for (int i = 0; i < count && x < n; ++i)
                for (uint32_t k = 0; k < patternLength && x < n; ++k) line[x++] = pattern[k];
        } else if (c == 0x80) {
            const int count = getc(f);
            if (count == EOF) return ST_READ_ERROR;
            uint8_t bytes[256];
            if (!readBlock(f, bytes, static_cast<size_t>(count))) return ST_READ_ERROR;
            const int64_t take = std::min<int64_t>(count, n - x);
            memcpy(line + x, bytes, static_cast<size_t>(take));
            x += take;
        } else {
            const int64_t take = std::min<int64_t>(c & 0x7F, n - x);
            memset(line + x, (c & 0x80) ? 0xFF : 0x00, static_cast<size_t>(take));
            x += take;
        }
    }
    return ST_OK;
}

}  // namespace

bool acceptGem(const uint8_t* head, size_t n, int64_t fileSize) {
    GemHeader h{};
    return n >= HEADER_BYTES && parseHeader(head, &h) && (fileSize <= 0 || fileSize > 2 * int64_t(h.headerWords));
}

Status readGem(FILE* stream, LoadRequest*) {
    uint8_t b[HEADER_BYTES];
    GemHeader h{};
    if (!readBlock(stream, b, sizeof b) || !parseHeader(b, &h)) return ST_UNKNOWN_FORMAT;

    // The palette of an "XIMG" extended header long enough to hold one.
    const uint32_t entries = 1u << h.planes;
    uint8_t palette[PALETTE_BYTES] = {};
    bool extended = false;
    if (h.headerWords >= 8 + EXTENSION_BYTES / 2 + 3 * entries) {
        uint8_t tag[EXTENSION_BYTES];
        uint8_t words[6 * 256];
        if (!readBlock(stream, tag, sizeof tag)) return ST_READ_ERROR;
        extended = memcmp(tag, "XIMG", 4) == 0;
        if (extended && !readBlock(stream, words, 6 * size_t(entries))) return ST_READ_ERROR;
        for (uint32_t i = 0; extended && i < 3 * entries; ++i)
            palette[i] = static_cast<uint8_t>(std::min<uint32_t>(loadU16BE(words + 2 * i), 1000) * 255 / 1000);
    }
    if (!seekTo(stream, 2 * uint64_t(h.headerWords))) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = static_cast<int16_t>(h.planes);
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = static_cast<int32_t>((h.width + 7) / 8);
    if (h.pixelWidth > 0) rh.xdpi = static_cast<int32_t>(MICRONS_PER_INCH / h.pixelWidth);
    if (h.pixelHeight > 0) rh.ydpi = static_cast<int32_t>(MICRONS_PER_INCH / h.pixelHeight);
    setRasterName(rh.name, NAME_GEM);
    rh.compression = "RLE";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    const int64_t lineBytes = int64_t(h.planes) * rh.bytesPerPlane;
    Buffer line = allocBuffer(static_cast<uint64_t>(lineBytes));
    Buffer pattern = allocBuffer(h.patternLength);
    if (!line || !pattern) st = ST_NO_MEMORY;
    int32_t next = 0;
    while (st == ST_OK && next < rh.height) {
        // A replication record, or the first bytes of the line's items.
        uint8_t t[4];
        const size_t got = fread(t, 1, 4, stream);
        int repeat = 1;
        if (got == 4 && t[0] == 0 && t[1] == 0 && t[2] == 0xFF) repeat = t[3];
        else if (got > 0 && fseek(stream, -static_cast<long>(got), SEEK_CUR) != 0) st = ST_READ_ERROR;
        if (st != ST_OK) break;
        memset(line.get(), 0, static_cast<size_t>(lineBytes));
        st = decodeLine(stream, line.get(), lineBytes, h.patternLength, pattern.get());
        if (st != ST_OK) {
            deliverRow(line.get(), lineBytes, next);  // the line begun
            break;
        }
        for (int i = 0; st == ST_OK && i < repeat && next < rh.height; ++i) st = deliverRow(line.get(), lineBytes, next++);
    }
    if (extended) endImage(PF_TRIPLETS, 8, palette);
    else endImage(h.planes == 1 ? PF_INVERT : 0, 8, nullptr);
    return st;
}
