// Windows 3.x clipboard files holding one bitmap (reader only).
//
// The file header gives the identifier 50000 and the number of formats (one);
// the format entry gives the clipboard format, the data length, the data
// offset and the format's name (not read). All numbers are little-endian.
//
// Device-independent bitmaps (format 8): a 40-byte information header, the
// colour table for 8 bits or less (B,G,R,x entries), the rows bottom row
// first, each padded to 4 bytes. Device-dependent bitmaps (format 2): a
// 14-byte bitmap structure (type, width, height, bytes per row, then planes
// and bits per pixel as single bytes, 4 unused bytes), no colours, the rows
// top row first, each padded to 2 bytes; they read as black and white or grey.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "dib.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_CLIPBOARD[] = "Windows Clipboard";

constexpr uint16_t CLP_IDENTIFIER = 50000;
constexpr uint16_t CF_BITMAP = 2;
constexpr uint16_t CF_DIB = 8;
constexpr size_t CLP_HEADER_SIZE = 14;  // identifier, count and the entry's first three fields
constexpr size_t DDB_HEADER_SIZE = 14;
constexpr int32_t MAX_SIDE = 16000;

struct ClpRaster {
    int32_t width;
    int32_t height;
    uint32_t planes;
    uint32_t bits;
    uint32_t coloursUsed;
    bool dib;
};

Status clpReadRaster(FILE* f, uint16_t format, ClpRaster* r) {
    r->dib = format == CF_DIB;
    if (r->dib) {
        uint8_t b[DIB_INFO_HEADER_SIZE];
        if (!readBlock(f, b, sizeof b)) return ST_UNKNOWN_FORMAT;
        const DibInfo d = dibParseInfo(b);
        if (d.headerSize != DIB_INFO_HEADER_SIZE || d.compression != 0) return ST_UNKNOWN_FORMAT;
        r->width = d.width;
        r->height = d.height;
        r->planes = d.planes;
        r->bits = d.bits;
        r->coloursUsed = d.coloursUsed;
    } else {
        uint8_t b[DDB_HEADER_SIZE];
        if (!readBlock(f, b, sizeof b)) return ST_UNKNOWN_FORMAT;
        r->width = loadU16LE(b + 2);
        r->height = loadU16LE(b + 4);
        r->planes = b[8];
        r->bits = b[9];
        r->coloursUsed = 0;
    }
    if (r->width < 1 || r->width > MAX_SIDE || r->height < 1 || r->height > MAX_SIDE || r->planes != 1 ||
        r->bits < 1 || r->bits > 32)
        return ST_UNKNOWN_FORMAT;
    return ST_OK;
}

}  // namespace

bool acceptClp(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < CLP_HEADER_SIZE || loadU16LE(head) != CLP_IDENTIFIER || loadU16LE(head + 2) != 1) return false;
    const uint16_t format = loadU16LE(head + 4);
    const uint32_t offset = loadU32LE(head + 10);
    return (format == CF_BITMAP || format == CF_DIB) && offset >= CLP_HEADER_SIZE &&
           (fileSize <= 0 || offset < static_cast<uint64_t>(fileSize));
}

Status readClp(FILE* stream, LoadRequest* request) {
    uint8_t head[CLP_HEADER_SIZE];
    if (!readBlock(stream, head, sizeof head)) return ST_UNKNOWN_FORMAT;
    if (!acceptClp(head, sizeof head, request->fileSize)) return ST_UNKNOWN_FORMAT;
    const uint16_t format = loadU16LE(head + 4);
    if (!seekTo(stream, loadU32LE(head + 10))) return ST_UNKNOWN_FORMAT;
    ClpRaster r{};
    Status st = clpReadRaster(stream, format, &r);
    if (st != ST_OK) return st;

    const int64_t rowBytes = r.dib ? dibRowBytes(r.width, static_cast<int>(r.bits))
                                   : (static_cast<int64_t>(r.width) * r.bits + 15) / 16 * 2;
    RasterHeader rh{};
    rh.layout = dibTrueColourLayout(r.bits);
    rh.orientation = r.dib ? OR_BOTTOM_UP : 0;
    rh.channels = 1;
    rh.width = r.width;
    rh.height = r.height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(r.bits);
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, NAME_CLIPBOARD);
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    uint8_t table[PALETTE_BYTES] = {};
    const uint32_t entries = r.dib ? dibPaletteEntries(r.bits, r.coloursUsed) : 0;
    if (entries > 0) st = dibReadPalette(stream, entries, 4, table);
    if (st == ST_OK) st = readRows(stream, rowBytes, rh.height);
    if (entries > 0) endImage(PF_BGR, 8, table);
    else endImage(0, 8, nullptr);
    return st;
}
