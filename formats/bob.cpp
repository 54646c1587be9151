// Bob ray tracer pictures (reader only).
//
// No signature: width and height as 16-bit little-endian words, a palette of
// 256 R,G,B triplets (8 bits each), then one index a pixel, rows top first,
// no padding. The file is exactly that long, which is how it is known.
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_BOB[] = "Bob Raytracer";
constexpr int64_t BOB_HEADER = 4 + 768;

bool bobParse(const uint8_t* b, size_t n, int64_t fileSize, int32_t* w, int32_t* h) {
    if (n < 4 || fileSize < BOB_HEADER + 1) return false;
    *w = loadU16LE(b);
    *h = loadU16LE(b + 2);
    return *w >= 1 && *h >= 1 && *w <= MAX_IMAGE_SIDE && *h <= MAX_IMAGE_SIDE &&
           BOB_HEADER + static_cast<int64_t>(*w) * *h == fileSize;
}

}  // namespace

bool acceptBob(const uint8_t* head, size_t n, int64_t fileSize) {
    int32_t w, h;
    return bobParse(head, n, fileSize, &w, &h);
}

Status readBob(FILE* stream, LoadRequest* request) {
    uint8_t head[BOB_HEADER];
    int32_t w, h;
    if (!readBlock(stream, head, 4) || !bobParse(head, 4, request->fileSize, &w, &h)) return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = w;
    rh.height = h;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = w;
    setRasterName(rh.name, NAME_BOB);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    uint8_t palette[768] = {};
    st = readBlock(stream, palette, sizeof palette) ? readRows(stream, w, h) : ST_READ_ERROR;
    endImage(PF_TRIPLETS, 8, palette);
    return st;
}
