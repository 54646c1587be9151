// ZSoft PC Paintbrush files and their multi-page DCX container.
//
// Reader: any combination of planes and bits per plane the core converts:
// 1-bit, 2-bit CGA and 4-plane EGA images with the header's 16-colour map,
// 8-bit images with the 256-colour palette that follows the pixel data,
// 24-bit images as three 8-bit planes (four planes: with alpha), and 15/16-bit
// images. Writer: black-and-white and palette images of up to 16 colours as
// 1-bit planes, other palette and grey images as 8 bits with the trailing
// palette, true colour as three 8-bit planes; run-length encoded or not.
//
// A file is a 128-byte little-endian header, the rows, then optionally the
// byte 0x0C and 256 R,G,B triplets. A row is each plane's line one after
// another, every line `bytesPerLine` bytes long. Run-length data: a byte
// 0xC0..0xFF repeats the next byte (its low 6 bits) times, any other byte is
// itself.
//
// DCX: the magic 987654321, then up to 1024 little-endian offsets of the PCX
// pages, ended by 0.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "Pcx : Bad picture's size !";
const char MSG_BAD_LINE[] = "Pcx : Bad bytes per line !";

const char NAME_READ[] = "Zsoft Paintbrush";
const char NAME_READ_RLE[] = "Zsoft Paintbrush (RLE)";
const char NAME_WRITE[] = "Pcx";
const char NAME_WRITE_RLE[] = "Pcx Rle";

constexpr size_t PCX_HEADER_SIZE = 128;
constexpr uint8_t PCX_MANUFACTURER = 10;
constexpr uint8_t PCX_WRITE_VERSION = 5;
// Version 3 files carry no colour map: the default EGA palette stands for it.
constexpr uint8_t PCX_VERSION_NO_PALETTE = 3;
constexpr uint8_t PCX_PALETTE_MARKER = 0x0C;
constexpr int PCX_MAP_BYTES = 48;
constexpr int PCX_RUN_FLAG = 0xC0;
constexpr int PCX_MAX_RUN = 63;

constexpr uint32_t DCX_MAGIC = 987654321u;  // 0x3ADE68B1
constexpr int DCX_MAX_PAGES = 1024;

struct PcxHeader {
    uint8_t version;
    uint8_t encoding;
    uint8_t bitsPerPixel;  // per plane
    uint16_t xmin, ymin, xmax, ymax;
    uint16_t hdpi, vdpi;
    uint8_t colourMap[PCX_MAP_BYTES];
    uint8_t planes;
    uint16_t bytesPerLine;
    int32_t width;
    int32_t height;
};

// True when the first bytes of a file can start a PCX header.
bool pcxIdentify(const uint8_t* head, size_t n) { return n >= PCX_HEADER_SIZE && head[0] == PCX_MANUFACTURER; }

// Reads and unpacks the header; ST_UNKNOWN_FORMAT when it is not PCX.
Status pcxReadHeader(FILE* f, PcxHeader* h) {
    uint8_t b[PCX_HEADER_SIZE];
    if (!readBlock(f, b, sizeof b) || !pcxIdentify(b, sizeof b)) return ST_UNKNOWN_FORMAT;
    h->version = b[1];
    h->encoding = b[2];
    h->bitsPerPixel = b[3];
    h->xmin = loadU16LE(b + 4);
    h->ymin = loadU16LE(b + 6);
    h->xmax = loadU16LE(b + 8);
    h->ymax = loadU16LE(b + 10);
    h->hdpi = loadU16LE(b + 12);
    h->vdpi = loadU16LE(b + 14);
    memcpy(h->colourMap, b + 16, PCX_MAP_BYTES);
    h->planes = b[65];
    h->bytesPerLine = loadU16LE(b + 66);
    h->width = static_cast<int32_t>(h->xmax) - h->xmin + 1;
    h->height = static_cast<int32_t>(h->ymax) - h->ymin + 1;
    return ST_OK;
}

// Bytes one plane's line needs for the width; 15-bit pixels take whole words.
int64_t pcxLineBytesNeeded(const PcxHeader& h) {
    const int64_t bits = h.bitsPerPixel == 15 ? 16 : h.bitsPerPixel;
    return (static_cast<int64_t>(h.width) * bits + 7) / 8;
}

// Rows of all the planes' lines. Run-length data: runs that go past the end of
// a row carry on into the next; the file ending inside a row keeps that row.
Status pcxReadRows(FILE* f, const PcxHeader& h) {
    const int64_t rowBytes = static_cast<int64_t>(h.planes) * h.bytesPerLine;
    if (h.encoding == 0) return readRows(f, rowBytes, h.height);
    RowFeed feed;
    Status st = feed.begin(rowBytes, h.height);
    while (st == ST_OK && !feed.done()) {
        const int c = getc(f);
        if (c == EOF) return feed.cut();
        if ((c & PCX_RUN_FLAG) != PCX_RUN_FLAG) {
            st = feed.put(static_cast<uint8_t>(c));
            continue;
        }
        const int v = getc(f);
        if (v == EOF) return feed.cut();
        st = feed.repeat(static_cast<uint8_t>(v), c & PCX_MAX_RUN);
    }
    return st;
}

// Looks for the 256-colour palette after the rows: bytes are skipped up to the
// marker 0x0C, no further than `limit` (a file offset, -1 for none). Returns
// ST_OK with *found set, or ST_READ_ERROR when the palette is cut short (the
// part read stays in `table`).
Status pcxReadTrailingPalette(FILE* f, int64_t limit, uint8_t* table, bool* found) {
    *found = false;
    int64_t pos = ftell(f);
    for (;;) {
        if (limit >= 0 && pos >= limit) return ST_OK;
        int c = getc(f);
        if (c == EOF) return ST_OK;
        ++pos;
        if (c == PCX_PALETTE_MARKER) break;
    }
    *found = true;
    size_t got = fread(table, 1, PALETTE_BYTES, f);
    return got == PALETTE_BYTES ? ST_OK : ST_READ_ERROR;
}

// The PCX reader proper, from the stream's current position. `limit` is the
// file offset where the page's data ends (DCX), -1 for the end of the file.
Status pcxReadImage(FILE* f, LoadRequest* request, int64_t limit) {
    PcxHeader h;
    Status st = pcxReadHeader(f, &h);
    if (st != ST_OK) return st;
    if (h.width < 1 || h.width > MAX_IMAGE_SIDE || h.height < 1 || h.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    // A line shorter than its pixels would leave the core reading past the data.
    if (h.planes >= 1 && h.bitsPerPixel >= 1 && h.bytesPerLine < pcxLineBytesNeeded(h)) {
        setReaderMessage(request, MSG_BAD_LINE);
        return ST_BAD_FILE;
    }

    RasterHeader rh{};
    rh.layout = h.bitsPerPixel == 15 || h.bitsPerPixel == 16 ? PL_WORD_HINT : 0;
    rh.orientation = 0;
    rh.channels = 1;
    rh.width = h.width;
    rh.height = h.height;
    rh.planes = h.planes;
    rh.bitsPerPlane = h.bitsPerPixel;
    rh.bytesPerPlane = h.bytesPerLine;
    rh.xdpi = h.hdpi;
    rh.ydpi = h.vdpi;
    setRasterName(rh.name, h.encoding ? NAME_READ_RLE : NAME_READ);
    rh.compression = h.encoding ? "RLE" : nullptr;
    if (h.version == PCX_VERSION_NO_PALETTE) memcpy(h.colourMap, PC_COLOURS_16, PCX_MAP_BYTES);
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    st = pcxReadRows(f, h);
    // endImage reads 2^depth entries: the 16-entry map sits in a zeroed table.
    uint8_t table[PALETTE_BYTES] = {};
    bool found = false;
    if (st == ST_OK) {
        Status paletteStatus = pcxReadTrailingPalette(f, limit, table, &found);
        if (paletteStatus != ST_OK) st = paletteStatus;
    }
    const int depth = h.planes * h.bitsPerPixel;
    if (found) {
        endImage(PF_TRIPLETS, 8, table);
    } else if (depth >= 2 && depth <= 7) {
        memcpy(table, h.colourMap, PCX_MAP_BYTES);
        endImage(PF_TRIPLETS, 8, table);
    } else {
        endImage(0, 8, nullptr);
    }
    return st;
}

// ---------------------------------------------------------------------------
// Writing.

struct PcxWriteLayout {
    int planes;
    int bits;
    int32_t bytesPerLine;
    bool trailingPalette;
};

// Run-length encoding of one row: runs of up to 63 equal bytes, a lone byte
// below 0xC0 as itself. Returns the encoded length (at most 2 x n).
size_t pcxEncodeRow(const uint8_t* p, size_t n, uint8_t* out) {
    size_t o = 0;
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < PCX_MAX_RUN && p[i + run] == p[i]) ++run;
        if (run == 1 && p[i] < PCX_RUN_FLAG) {
            out[o++] = p[i];
        } else {
            out[o++] = static_cast<uint8_t>(PCX_RUN_FLAG | run);
            out[o++] = p[i];
        }
        i += run;
    }
    return o;
}

// Writes one row run-length encoded through the buffer in data (2 x the row).
Status pcxWriteEncodedRow(void* data, FILE* f, uint8_t* row, int64_t rowBytes) {
    uint8_t* encoded = static_cast<uint8_t*>(data);
    const size_t len = pcxEncodeRow(row, static_cast<size_t>(rowBytes), encoded);
    return writeBlock(f, encoded, len) ? ST_OK : ST_WRITE_ERROR;
}

}  // namespace

bool acceptPcx(const uint8_t* head, size_t n, int64_t) { return pcxIdentify(head, n); }

bool acceptDcx(const uint8_t* head, size_t n, int64_t) { return n >= 8 && loadU32LE(head) == DCX_MAGIC; }

Status readPcx(FILE* stream, LoadRequest* request) { return pcxReadImage(stream, request, -1); }

Status readDcx(FILE* stream, LoadRequest* request) {
    uint8_t magic[4];
    if (!readBlock(stream, magic, sizeof magic) || loadU32LE(magic) != DCX_MAGIC) return ST_UNKNOWN_FORMAT;
    uint32_t offsets[DCX_MAX_PAGES];
    int pages = 0;
    for (int i = 0; i < DCX_MAX_PAGES; ++i) {
        uint8_t b[4];
        if (!readBlock(stream, b, sizeof b)) return ST_UNKNOWN_FORMAT;
        uint32_t offset = loadU32LE(b);
        if (offset == 0) break;
        if (offset > INT32_MAX || static_cast<int64_t>(offset) >= request->fileSize) return ST_UNKNOWN_FORMAT;
        offsets[pages++] = offset;
    }
    if (pages == 0) return ST_UNKNOWN_FORMAT;
    const int page = request->pageIndex >= 0 && request->pageIndex < pages ? request->pageIndex : 0;
    const uint32_t start = offsets[page];
    // The page ends where the next page in the file begins.
    int64_t end = request->fileSize;
    for (int i = 0; i < pages; ++i)
        if (offsets[i] > start && offsets[i] < end) end = offsets[i];
    if (fseek(stream, static_cast<long>(start), SEEK_SET) != 0) return ST_UNKNOWN_FORMAT;

    const int32_t entryCount = request->pageCount;
    request->pageCount = pages;
    Status st = pcxReadImage(stream, request, end);
    if (st == ST_UNKNOWN_FORMAT) request->pageCount = entryCount;
    return st;
}

Status writePcx(FILE* stream, SaveRequest* request) {
    const int32_t width = request->width;
    const int32_t height = request->height;
    if (width < 1 || height < 1 || width > 65536 || height > 65536) return ST_KIND_REFUSED;
    PcxWriteLayout w{};
    // Bit planes are padded to whole 16-pixel words.
    const int32_t wordLine = static_cast<int32_t>((static_cast<int64_t>(width) + 15) / 16 * 2);
    switch (request->kind) {
    case IMG_BINARY:
        w = {1, 1, wordLine, false};
        break;
    case IMG_PALETTE:
        if (request->colours <= 16) w = {4, 1, wordLine, false};
        else w = {1, 8, width, true};
        break;
    case IMG_GREY:
        w = {1, 8, width, true};
        break;
    case KIND_ANY_TRUECOLOUR:
        w = {3, 8, width, false};
        break;
    default:
        return ST_KIND_REFUSED;
    }
    if (w.bytesPerLine > 0xFFFF) return ST_KIND_REFUSED;
    const bool rle = request->writerOption1 != 0;

    WriteHeader wh{};
    wh.layout = 0;
    wh.orientation = 0;
    wh.channels = 1;
    wh.planes = static_cast<int16_t>(w.planes);
    wh.bitsPerPlane = static_cast<int16_t>(w.bits);
    wh.bytesPerPlane = w.bytesPerLine;
    wh.paletteFormat = request->kind == KIND_ANY_TRUECOLOUR ? 0 : PF_TRIPLETS;
    wh.componentBits = 8;
    setRasterName(wh.name, rle ? NAME_WRITE_RLE : NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    const int depth = w.planes * w.bits;
    uint8_t header[PCX_HEADER_SIZE] = {};
    header[0] = PCX_MANUFACTURER;
    header[1] = PCX_WRITE_VERSION;
    header[2] = rle ? 1 : 0;
    header[3] = static_cast<uint8_t>(w.bits);
    const uint16_t fields[6] = {0, 0, static_cast<uint16_t>(width - 1), static_cast<uint16_t>(height - 1),
                                static_cast<uint16_t>(request->xdpi > 0 ? request->xdpi : 0),
                                static_cast<uint16_t>(request->ydpi > 0 ? request->ydpi : 0)};
    for (int i = 0; i < 6; ++i) {
        header[4 + 2 * i] = static_cast<uint8_t>(fields[i]);
        header[5 + 2 * i] = static_cast<uint8_t>(fields[i] >> 8);
    }
    if (depth <= 4 && wh.palette) memcpy(header + 16, wh.palette, static_cast<size_t>(3) << depth);
    header[65] = static_cast<uint8_t>(w.planes);
    header[66] = static_cast<uint8_t>(w.bytesPerLine);
    header[67] = static_cast<uint8_t>(w.bytesPerLine >> 8);
    header[68] = 1;  // palette information: colour
    if (!writeBlock(stream, header, sizeof header)) st = ST_WRITE_ERROR;

    const size_t rowBytes = static_cast<size_t>(w.planes) * static_cast<size_t>(w.bytesPerLine);
    // Packed 1-bit rows come without the padding to a whole word: it is written as 0.
    Buffer encoded = rle ? allocBuffer(2 * static_cast<uint64_t>(rowBytes)) : Buffer();
    if (st == ST_OK && rle && !encoded) st = ST_NO_MEMORY;
    if (st == ST_OK)
        st = writeRows(stream, static_cast<int64_t>(rowBytes), height, rle ? pcxWriteEncodedRow : nullptr,
                       encoded.get());
    if (st == ST_OK && w.trailingPalette) {
        if (putc(PCX_PALETTE_MARKER, stream) == EOF || !wh.palette || !writeBlock(stream, wh.palette, PALETTE_BYTES))
            st = ST_WRITE_ERROR;
    }
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
