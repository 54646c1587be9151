// Dr Halo pictures (.cut) and their palettes (.pal), little-endian.
//
// The picture: width, height, a zero word, then every row as a byte count and
// that many bytes of runs (a control byte with its top bit set repeats the
// next byte, a smaller one copies that many bytes, 0 ends the row). It holds
// colour indexes only: the colours come from the file of the same name with
// the extension .pal ("AH", version, size, type 10, subtype 0, ..., the
// largest index and component values at 12-18, then R,G,B words from offset
// 40, never across a 512-byte block). Without one, the indexes show as grey.
#include <cstring>
#include <initializer_list>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME[] = "Dr Halo";
const char NAME_PALETTE[] = "Dr Halo (with palette)";
constexpr size_t HEADER = 6;
constexpr size_t PALETTE_HEADER = 40;
constexpr size_t PALETTE_FILE_MAX = 8192;

// The .pal beside the picture as 256 triplets; false without a usable one.
bool readCompanionPalette(const char* fileName, uint8_t* table) {
    char path[FILE_NAME_LEN + 8];
    const size_t n = strnlen(fileName, FILE_NAME_LEN);
    const char* dot = strrchr(fileName, '.');
    if (!dot || strchr(dot, '/') || strchr(dot, '\\')) return false;
    const size_t stem = static_cast<size_t>(dot - fileName);
    if (stem + 5 > sizeof path || n > FILE_NAME_LEN) return false;
    for (const char* ext : {".pal", ".PAL", ".Pal"}) {
        memcpy(path, fileName, stem);
        memcpy(path + stem, ext, 5);
        FILE* f = fopen(path, "rb");
        if (!f) continue;
        const StreamPtr closer(f);
        uint8_t b[PALETTE_FILE_MAX];
        const size_t got = fread(b, 1, sizeof b, f);
        if (got < PALETTE_HEADER || b[0] != 'A' || b[1] != 'H' || b[6] != 0x0A || b[7] != 0) return false;
        const uint32_t last = loadU16LE(b + 12);
        const uint32_t maxima[3] = {loadU16LE(b + 14), loadU16LE(b + 16), loadU16LE(b + 18)};
        size_t at = PALETTE_HEADER;
        for (uint32_t i = 0; i <= last && i < 256; ++i) {
            if (at % 512 > 506) at = (at / 512 + 1) * 512;
            if (at + 6 > got) break;
            for (int c = 0; c < 3; ++c) {
                uint32_t v = loadU16LE(b + at + 2 * c);
                if (maxima[c] > 255) v = v * 255 / maxima[c];
                table[3 * i + c] = static_cast<uint8_t>(v > 255 ? 255 : v);
            }
            at += 6;
        }
        return true;
    }
    return false;
}

void unpackRow(const uint8_t* in, size_t n, uint8_t* row, size_t width) {
    memset(row, 0, width);
    size_t at = 0, out = 0;
    while (at < n && out < width) {
        const uint8_t c = in[at++];
        const size_t count = c & 0x7F;
        if (count == 0) break;
        if (c & 0x80) {
            if (at >= n) break;
            const uint8_t v = in[at++];
            for (size_t i = 0; i < count && out < width; ++i) row[out++] = v;
        } else {
            for (size_t i = 0; i < count && at < n; ++i, ++at)
                if (out < width) row[out++] = in[at];
        }
    }
}

}  // namespace

bool acceptCut(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < HEADER + 2) return false;
    const uint16_t w = loadU16LE(head), h = loadU16LE(head + 2), first = loadU16LE(head + 6);
    return w >= 1 && h >= 1 && loadU16LE(head + 4) == 0 && first > 0 && (fileSize <= 0 || first <= fileSize - 8);
}

Status readCut(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER + 2];
    if (!readBlock(stream, h, sizeof h) || !acceptCut(h, sizeof h, request->fileSize)) return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = loadU16LE(h);
    rh.height = loadU16LE(h + 2);
    if (rh.width > MAX_IMAGE_SIDE || rh.height > MAX_IMAGE_SIDE) return ST_UNKNOWN_FORMAT;
    rh.planes = 1;
    rh.layout = PL_BYTE_PIXELS;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    uint8_t table[PALETTE_BYTES] = {};
    const bool mapped = readCompanionPalette(request->fileName, table);
    setRasterName(rh.name, mapped ? NAME_PALETTE : NAME);
    rh.compression = "RLE";
    if (!seekTo(stream, HEADER)) return ST_READ_ERROR;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    Buffer coded = allocBuffer(0x10000), row = allocBuffer(static_cast<uint64_t>(rh.width));
    if (!coded || !row) st = ST_NO_MEMORY;
    for (int32_t y = 0; y < rh.height && st == ST_OK; ++y) {
        uint8_t count[2];
        if (!readBlock(stream, count, 2)) {
            st = ST_READ_ERROR;
            break;
        }
        const size_t n = loadU16LE(count);
        const size_t got = fread(coded.get(), 1, n, stream);
        unpackRow(coded.get(), got, row.get(), static_cast<size_t>(rh.width));
        if (got < n) {
            deliverRow(row.get(), rh.width, y);
            st = ST_READ_ERROR;
            break;
        }
        st = deliverRow(row.get(), rh.width, y);
    }
    if (mapped) endImage(PF_TRIPLETS, 8, table);
    else endImage(0, 8, nullptr);
    return st;
}
