// Vista pictures: uncompressed rows from the bottom up behind a 36-byte
// little-endian header (width and height at 12, depth 8, 16, 24 or 32 at 16,
// the signature "IGCH" at 20). Depth 8 has a 256-entry R,G,B palette before
// the rows; 16 bits are 5-5-5 words with red on top; 24 and 32 bits are R,G,B
// and R,G,B,A bytes.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_VISTA[] = "Vista";
const char MSG_TYPE[] = "Vista : Unknown image type !";
const char MSG_SIZE[] = "Vista : Bad picture's size !";
constexpr size_t HEADER_BYTES = 36;
constexpr uint8_t SIGNATURE[4] = {'I', 'G', 'C', 'H'};

}  // namespace

bool acceptVista(const uint8_t* head, size_t n, int64_t) {
    return n >= HEADER_BYTES && memcmp(head + 20, SIGNATURE, 4) == 0;
}

Status readVista(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER_BYTES];
    if (!readBlock(stream, h, sizeof h) || !acceptVista(h, sizeof h, 0)) return ST_UNKNOWN_FORMAT;
    const int32_t width = static_cast<int16_t>(loadU16LE(h + 12));
    const int32_t height = static_cast<int16_t>(loadU16LE(h + 14));
    const int depth = loadU16LE(h + 16);
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32) {
        setReaderMessage(request, MSG_TYPE);
        return ST_BAD_FILE;
    }
    if (width < 1 || height < 1) {
        setReaderMessage(request, MSG_SIZE);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = width;
    rh.height = height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(depth == 16 ? 15 : depth);
    rh.layout = depth == 16 ? PL_WORD_HINT : 0;
    rh.bytesPerPlane = depth / 8 * width;
    setRasterName(rh.name, NAME_VISTA);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    uint8_t palette[PALETTE_BYTES] = {};
    if (depth == 8 && !readBlock(stream, palette, sizeof palette)) st = ST_READ_ERROR;
    if (st == ST_OK) st = readRows(stream, rh.bytesPerPlane, height);
    endImage(depth == 8 ? PF_TRIPLETS : 0, 8, depth == 8 ? palette : nullptr);
    return st;
}

Status writeVista(FILE* stream, SaveRequest* request) {
    const int32_t width = request->width, height = request->height;
    if (width < 1 || height < 1 || width > 0x7FFF || height > 0x7FFF) return ST_KIND_REFUSED;
    const bool trueColour = request->kind == KIND_ANY_TRUECOLOUR;
    const int depth = trueColour ? (request->bitsPerPixel == 32 ? 32 : 24) : 8;
    WriteHeader wh{};
    wh.orientation = OR_BOTTOM_UP;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(depth);
    wh.bytesPerPlane = depth / 8 * width;
    wh.paletteFormat = trueColour ? 0 : PF_TRIPLETS;
    wh.componentBits = 8;
    setRasterName(wh.name, NAME_VISTA);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    uint8_t h[HEADER_BYTES] = {};
    h[12] = static_cast<uint8_t>(width), h[13] = static_cast<uint8_t>(width >> 8);
    h[14] = static_cast<uint8_t>(height), h[15] = static_cast<uint8_t>(height >> 8);
    h[16] = static_cast<uint8_t>(depth);
    memcpy(h + 20, SIGNATURE, 4);
    if (!writeBlock(stream, h, sizeof h)) st = ST_WRITE_ERROR;
    if (st == ST_OK && !trueColour && (!wh.palette || !writeBlock(stream, wh.palette, PALETTE_BYTES)))
        st = ST_WRITE_ERROR;
    if (st == ST_OK) st = writeRows(stream, wh.bytesPerPlane, height);
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
