// QDV pictures of Random Dot Software (reader): a width and a height
// (big-endian words of at most 14 bits), the number of colours less one, the
// colour map as R,G,B bytes, then one byte per pixel, rows top to bottom,
// without padding. No signature: the file size must be exactly what the
// header describes.
#include <cstring>

#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

struct QdvHeader {
    int32_t width;
    int32_t height;
    int colours;
};

bool qdvHeader(const uint8_t* b, size_t n, int64_t size, QdvHeader* h) {
    if (n < 5) return false;
    h->width = loadU16BE(b);
    h->height = loadU16BE(b + 2);
    h->colours = b[4] + 1;
    if (h->width == 0 || h->height == 0 || (h->width & 0xC000) || (h->height & 0xC000)) return false;
    return size == 5 + 3 * int64_t(h->colours) + int64_t(h->width) * h->height;
}

}  // namespace

bool acceptQdv(const uint8_t* head, size_t n, int64_t size) {
    QdvHeader h;
    return qdvHeader(head, n, size, &h);
}

Status readQdv(FILE* stream, LoadRequest* request) {
    uint8_t b[5];
    QdvHeader h;
    if (!readBlock(stream, b, sizeof b) || !qdvHeader(b, sizeof b, request->fileSize, &h)) return ST_UNKNOWN_FORMAT;
    uint8_t map[PALETTE_BYTES] = {};  // indices past the map are black
    if (!readBlock(stream, map, 3 * static_cast<size_t>(h.colours))) return ST_READ_ERROR;
    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = h.width;
    rh.height = h.height;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = h.width;
    setRasterName(rh.name, "QDV");
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, h.width, h.height);
    endImage(PF_TRIPLETS, 8, map);
    return st;
}
