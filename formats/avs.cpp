// AVS X images (reader only).
//
// Two big-endian 32-bit words, width and height, then the pixels as A,R,G,B
// bytes, rows top to bottom without padding (alpha 255 is opaque). Several
// images may follow one another, each with its own two words; a block that
// does not fit the bytes left ends the walk (a first block cut short is read
// as far as it goes).
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_AVS[] = "AVS X";
constexpr int32_t MAX_PAGES = 4096;

bool sidesValid(uint32_t w, uint32_t h) { return w >= 1 && w <= MAX_IMAGE_SIDE && h >= 1 && h <= MAX_IMAGE_SIDE; }

int64_t blockBytes(uint32_t w, uint32_t h) { return 8 + 4ll * w * h; }

}  // namespace

bool acceptAvs(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < 8) return false;
    const uint32_t w = loadU32BE(head), h = loadU32BE(head + 4);
    return sidesValid(w, h) && 8 + 4ll * w <= fileSize;  // at least a row: cut files are read in part
}

Status readAvs(FILE* stream, LoadRequest* request) {
    // Walk the blocks to count the pages and find the one asked for.
    int64_t at = 0, wanted = 0;
    uint32_t width = 0, height = 0;
    int32_t pages = 0;
    while (pages < MAX_PAGES && at + 8 <= request->fileSize) {
        uint8_t b[8];
        if (!seekTo(stream, static_cast<uint64_t>(at)) || !readBlock(stream, b, sizeof b)) break;
        const uint32_t w = loadU32BE(b), h = loadU32BE(b + 4);
        if (!sidesValid(w, h) || at + blockBytes(w, h) > request->fileSize) break;
        if (pages == 0 || pages == request->pageIndex) {
            wanted = at;
            width = w;
            height = h;
        }
        ++pages;
        at += blockBytes(w, h);
    }
    if (pages == 0) {
        // A file shorter than its first block: read what there is.
        uint8_t b[8];
        if (!seekTo(stream, 0) || !readBlock(stream, b, sizeof b)) return ST_UNKNOWN_FORMAT;
        width = loadU32BE(b);
        height = loadU32BE(b + 4);
        if (!sidesValid(width, height)) return ST_UNKNOWN_FORMAT;
        pages = 1;
    }
    request->pageCount = pages;
    if (!seekTo(stream, static_cast<uint64_t>(wanted) + 8)) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.layout = PL_ALPHA_FIRST;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.planes = 1;
    rh.bitsPerPlane = 32;
    rh.bytesPerPlane = static_cast<int32_t>(4 * width);
    setRasterName(rh.name, NAME_AVS);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.bytesPerPlane, rh.height);
    endImage(0, 8, nullptr);
    return st;
}
