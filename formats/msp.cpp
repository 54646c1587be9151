// Microsoft Paint bitmaps (.msp) of Windows 1 and 2: black and white, 1 bit
// per pixel, the leftmost pixel in the high bit, a set bit white.
//
// A 32-byte header of little-endian words: the key "DanM" (version 1) or
// "LinS" (version 2), width, height, aspect ratios and printer sizes, and a
// checksum that makes the XOR of all sixteen words 0. Version 1 rows follow
// plainly. Version 2 has a table of the coded length of every row, then the
// rows: a byte t > 0 copies the next t bytes, t = 0 repeats the byte after the
// count byte that follows. A row of length 0 is white.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "MSP : Bad picture's size !";
const char NAME_PLAIN[] = "Microsoft Paint";
const char NAME_RLE[] = "Microsoft Paint (RLE)";

constexpr size_t HEADER = 32;
constexpr uint32_t MAX_CODED_ROW = 0xFFFF;

bool isV1(const uint8_t* b) { return memcmp(b, "DanM", 4) == 0; }
bool isV2(const uint8_t* b) { return memcmp(b, "LinS", 4) == 0; }

// One coded row into row (rowBytes), white where the codes stop short.
void unpackRow(const uint8_t* in, size_t n, uint8_t* row, size_t rowBytes) {
    memset(row, 0xFF, rowBytes);
    size_t at = 0, out = 0;
    while (at < n && out < rowBytes) {
        const uint8_t t = in[at++];
        if (t == 0) {
            if (at + 2 > n) break;
            const size_t count = in[at];
            const uint8_t v = in[at + 1];
            at += 2;
            for (size_t i = 0; i < count && out < rowBytes; ++i) row[out++] = v;
        } else {
            for (size_t i = 0; i < t && at < n; ++i, ++at)
                if (out < rowBytes) row[out++] = in[at];
        }
    }
}

Status readCodedRows(FILE* f, int32_t width, int32_t height) {
    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    Buffer table = allocBuffer(2 * static_cast<uint64_t>(height));
    Buffer coded = allocBuffer(MAX_CODED_ROW);
    Buffer row = allocBuffer(rowBytes);
    if (!table || !coded || !row) return ST_NO_MEMORY;
    if (!readBlock(f, table.get(), 2 * static_cast<size_t>(height))) return ST_READ_ERROR;
    for (int32_t y = 0; y < height; ++y) {
        const size_t n = loadU16LE(table.get() + 2 * y);
        if (!readBlock(f, coded.get(), n)) return ST_READ_ERROR;
        unpackRow(coded.get(), n, row.get(), rowBytes);
        const Status st = deliverRow(row.get(), static_cast<int64_t>(rowBytes), y);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

}  // namespace

bool acceptMsp(const uint8_t* head, size_t n, int64_t) {
    if (n < HEADER || (!isV1(head) && !isV2(head))) return false;
    return loadU16LE(head + 4) >= 1 && loadU16LE(head + 6) >= 1;
}

Status readMsp(FILE* stream, LoadRequest* request) {
    uint8_t b[HEADER];
    if (!readBlock(stream, b, HEADER) || !acceptMsp(b, HEADER, 0)) return ST_UNKNOWN_FORMAT;
    const bool coded = isV2(b);
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = loadU16LE(b + 4);
    rh.height = loadU16LE(b + 6);
    if (rh.width > MAX_IMAGE_SIDE || rh.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = (rh.width + 7) / 8;
    setRasterName(rh.name, coded ? NAME_RLE : NAME_PLAIN);
    rh.compression = coded ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = coded ? readCodedRows(stream, rh.width, rh.height)
               : readRows(stream, rh.bytesPerPlane, rh.height);
    endImage(0, 8, nullptr);  // a set bit is white, as in the picture
    return st;
}
