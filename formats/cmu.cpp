// CMU window manager bitmaps (reader only).
//
// A 14-byte big-endian header: magic F1 00 40 BB, width, height (32 bits
// each) and a 16-bit depth that is always 1. Rows of (width + 7) / 8 bytes
// follow, top first, the leftmost pixel in the high bit; a set bit is white.
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_CMU[] = "CMU Window Manager";
constexpr uint32_t CMU_MAGIC = 0xF10040BB;
constexpr size_t CMU_HEADER = 14;

bool cmuHeader(const uint8_t* b, size_t n, uint32_t* w, uint32_t* h) {
    if (n < CMU_HEADER || loadU32BE(b) != CMU_MAGIC || loadU16BE(b + 12) != 1) return false;
    *w = loadU32BE(b + 4);
    *h = loadU32BE(b + 8);
    return *w >= 1 && *w <= MAX_IMAGE_SIDE && *h >= 1 && *h <= MAX_IMAGE_SIDE;
}

}  // namespace

bool acceptCmu(const uint8_t* head, size_t n, int64_t) {
    uint32_t w, h;
    return cmuHeader(head, n, &w, &h);
}

Status readCmu(FILE* stream, LoadRequest*) {
    uint8_t b[CMU_HEADER];
    uint32_t w, h;
    if (!readBlock(stream, b, sizeof b) || !cmuHeader(b, sizeof b, &w, &h)) return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(w);
    rh.height = static_cast<int32_t>(h);
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = static_cast<int32_t>((w + 7) / 8);
    setRasterName(rh.name, NAME_CMU);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.bytesPerPlane, rh.height);
    endImage(0, 0, nullptr);
    return st;
}
