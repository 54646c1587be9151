// Truevision Targa files.
//
// Reader: colour-mapped (types 1 and 9), true-colour (2 and 10) and
// black-and-white or grey images (3 and 11), uncompressed or run-length
// encoded, at 1, 8, 15, 16, 24 and 32 bits per pixel. Writer: black-and-white
// (1 bit), grey (8 bits), palette (8 bits with a 256-entry B,G,R map), 24- and
// 32-bit true colour, run-length encoded on request except at 32 bits.
//
// An 18-byte little-endian header, the image ID, the colour map, then the
// pixels: B,G,R(,A) bytes, 15/16-bit words with red in bits 10-14, or indices.
// Rows are stored bottom row first unless bit 5 of the descriptor is set (bit
// 4, right to left, is ignored, as other readers ignore it). Targa has no
// signature: the header's fields are judged together, and a header outside
// their ranges is refused so that other readers get their turn.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_WRITE[] = "Targa";
const char NAME_WRITE_RLE[] = "Targa RLE";

constexpr size_t TGA_HEADER_SIZE = 18;
constexpr int TGA_MAX_SIDE = 6000;
constexpr int TGA_MAX_MAP = 256;

constexpr uint8_t TGA_MAPPED = 1;
constexpr uint8_t TGA_TRUECOLOUR = 2;
constexpr uint8_t TGA_GREY = 3;
constexpr uint8_t TGA_RLE = 8;  // added to the three types above

constexpr uint8_t TGA_TOP_DOWN = 0x20;

constexpr int TGA_RAW_MAX = 127;   // pixels of a raw packet the writer gathers
constexpr int TGA_RUN_MAX = 128;   // pixels of a run packet
constexpr uint8_t TGA_RUN_FLAG = 0x80;

struct TgaHeader {
    uint8_t idLength;
    uint8_t colourMapType;
    uint8_t imageType;
    uint16_t firstEntry;
    uint16_t mapLength;
    uint8_t entrySize;
    uint16_t width;
    uint16_t height;
    uint8_t depth;
    uint8_t descriptor;
};

void tgaUnpackHeader(const uint8_t* b, TgaHeader* h) {
    h->idLength = b[0];
    h->colourMapType = b[1];
    h->imageType = b[2];
    h->firstEntry = loadU16LE(b + 3);
    h->mapLength = loadU16LE(b + 5);
    h->entrySize = b[7];
    h->width = loadU16LE(b + 12);
    h->height = loadU16LE(b + 14);
    h->depth = b[16];
    h->descriptor = b[17];
}

// True when the header's fields all lie in the ranges of a Targa file.
bool tgaIdentify(const uint8_t* head, size_t n) {
    if (n < TGA_HEADER_SIZE) return false;
    TgaHeader h;
    tgaUnpackHeader(head, &h);
    if (h.colourMapType > 1) return false;
    if (h.colourMapType == 1 && (h.mapLength == 0 || h.entrySize == 0)) return false;
    switch (h.depth) {
    case 1: case 8: case 15: case 16: case 24: case 32: break;
    default: return false;
    }
    switch (h.imageType) {
    case 1: case 2: case 3: case 9: case 10: case 11: break;
    default: return false;
    }
    if (h.width > TGA_MAX_SIDE || h.height > TGA_MAX_SIDE) return false;
    return h.mapLength >= h.firstEntry && h.mapLength <= TGA_MAX_MAP;
}

// A colour map, when the file has one, is stored here. Entries of 15 and 16
// bits take two bytes.
bool tgaHasMap(const TgaHeader& h) {
    return h.colourMapType != 0 || h.imageType == TGA_MAPPED || h.imageType == TGA_MAPPED + TGA_RLE;
}
uint64_t tgaMapBytes(const TgaHeader& h) {
    return tgaHasMap(h) ? static_cast<uint64_t>((h.entrySize + 7) / 8) * h.mapLength : 0;
}

// Reads the colour map into a 256-entry B,G,R table (left black where the
// entry size is not one we know); entry k of the file is colour firstEntry + k.
// False when the file ends inside the map.
bool tgaReadMap(FILE* f, const TgaHeader& h, uint8_t* table) {
    const uint64_t bytes = tgaMapBytes(h);
    // At most 256 entries of up to 255 bits (32 bytes).
    uint8_t raw[TGA_MAX_MAP * 32];
    if (bytes > sizeof raw) return false;
    const size_t got = fread(raw, 1, static_cast<size_t>(bytes), f);
    const int entryBytes = (h.entrySize + 7) / 8;
    for (int k = 0; k < h.mapLength; ++k) {
        const int index = h.firstEntry + k;
        if (index >= TGA_MAX_MAP || static_cast<size_t>(k + 1) * entryBytes > got) break;
        const uint8_t* e = raw + static_cast<size_t>(k) * entryBytes;
        uint8_t* d = table + 3 * index;
        switch (h.entrySize) {
        case 24:
        case 32:
            memcpy(d, e, 3);
            break;
        case 15:
        case 16: {
            const unsigned v = loadU16LE(e);
            d[0] = static_cast<uint8_t>((v & 31) * 255 / 31);
            d[1] = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
            d[2] = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
            break;
        }
        default:
            break;
        }
    }
    return got == bytes;
}

// Bytes of one stored row.
int64_t tgaRowBytes(int depth, int64_t width) {
    if (depth == 1) return (width + 7) / 8;
    return (depth + 7) / 8 * width;
}

// Run-length packets: a header with bit 7 set repeats the one pixel after it
// (low 7 bits + 1) times, otherwise (header + 1) pixels follow as they are.
// Packets run on from one row into the next. 1-bit rows are coded byte by byte.
Status tgaReadRleRows(FILE* f, const TgaHeader& h) {
    const int pixelBytes = h.depth <= 8 ? 1 : (h.depth + 7) / 8;
    RowFeed feed;
    Status st = feed.begin(tgaRowBytes(h.depth, h.width), h.height);
    // A packet's pixels (at most 128 of 4 bytes) are read and placed at once;
    // a run's pixel is repeated there first.
    uint8_t pixels[128 * 4];
    const size_t size = static_cast<size_t>(pixelBytes);
    while (st == ST_OK && !feed.done()) {
        const int c = getc(f);
        if (c == EOF) return feed.cut();
        const size_t count = static_cast<size_t>((c & 0x7F) + 1);
        if (c & TGA_RUN_FLAG) {
            if (!readBlock(f, pixels, size)) return feed.cut();
            for (size_t k = 1; k < count; ++k) memcpy(pixels + k * size, pixels, size);
            st = feed.put(pixels, static_cast<int64_t>(count * size));
        } else {
            // Raw pixels: those read whole are kept when the file ends among them.
            const size_t got = fread(pixels, 1, count * size, f);
            st = feed.put(pixels, static_cast<int64_t>(got / size * size));
            if (st == ST_OK && got < count * size) return feed.cut();
        }
    }
    return st;
}

// ---------------------------------------------------------------------------
// Writing.

// One row of n pixels of `size` bytes in Targa packets; returns the encoded length.
size_t tgaEncodeRow(const uint8_t* p, int64_t n, int size, uint8_t* out) {
    auto same = [p, size](int64_t a, int64_t b) { return memcmp(p + a * size, p + b * size, size) == 0; };
    size_t o = 0;
    int64_t i = 0;
    while (i < n) {
        int64_t count = 1;
        if (i + 1 < n && same(i, i + 1)) {
            while (i + count < n && count < TGA_RUN_MAX && same(i, i + count)) ++count;
            out[o++] = static_cast<uint8_t>(TGA_RUN_FLAG | (count - 1));
            memcpy(out + o, p + i * size, static_cast<size_t>(size));
            o += static_cast<size_t>(size);
        } else {
            // Raw pixels up to the first pair of equal ones.
            while (i + count < n && count < TGA_RAW_MAX && !(i + count + 1 < n && same(i + count, i + count + 1)))
                ++count;
            out[o++] = static_cast<uint8_t>(count - 1);
            memcpy(out + o, p + i * size, static_cast<size_t>(count * size));
            o += static_cast<size_t>(count * size);
        }
        i += count;
    }
    return o;
}

void tgaStoreU16(uint8_t* d, unsigned v) {
    d[0] = static_cast<uint8_t>(v);
    d[1] = static_cast<uint8_t>(v >> 8);
}

// One row written in packets through the encoding buffer.
struct TgaRleRows {
    int pixelBytes;
    Buffer encoded;
};

Status tgaWriteEncodedRow(void* data, FILE* f, uint8_t* row, int64_t rowBytes) {
    TgaRleRows& r = *static_cast<TgaRleRows*>(data);
    const size_t len = tgaEncodeRow(row, rowBytes / r.pixelBytes, r.pixelBytes, r.encoded.get());
    return writeBlock(f, r.encoded.get(), len) ? ST_OK : ST_WRITE_ERROR;
}

}  // namespace

bool acceptTga(const uint8_t* head, size_t n, int64_t) { return tgaIdentify(head, n); }

Status readTga(FILE* stream, LoadRequest* request) {
    uint8_t b[TGA_HEADER_SIZE];
    if (!readBlock(stream, b, sizeof b) || !tgaIdentify(b, sizeof b)) return ST_UNKNOWN_FORMAT;
    TgaHeader h;
    tgaUnpackHeader(b, &h);

    // The image ID, then the colour map (read for indexed depths only).
    bool complete = skipBytes(stream, h.idLength);
    uint8_t table[PALETTE_BYTES] = {};
    bool mapRead = false;
    if (complete && tgaHasMap(h) && h.depth <= 8) {
        complete = tgaReadMap(stream, h, table);
        mapRead = true;
    }
    const uint64_t dataOffset = TGA_HEADER_SIZE + h.idLength + tgaMapBytes(h);
    if (complete) complete = fseek(stream, static_cast<long>(dataOffset), SEEK_SET) == 0;

    const bool rle = h.imageType > TGA_RLE;
    RasterHeader rh{};
    rh.orientation = (h.descriptor & TGA_TOP_DOWN) ? 0 : OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = h.width;
    rh.height = h.height;
    rh.planes = 1;
    rh.bitsPerPlane = h.depth;
    rh.bytesPerPlane = static_cast<int32_t>(tgaRowBytes(h.depth, h.width));
    switch (h.depth) {
    case 15:
    case 16:
        rh.layout = PL_WORD_HINT;
        rh.bitsPerPlane = 15;
        break;
    case 24: rh.layout = PL_REVERSED; break;
    case 32: rh.layout = PL_BGRA; break;
    default: rh.layout = 0; break;
    }
    char name[RASTER_NAME_LEN];
    snprintf(name, sizeof name, rle ? "Truevision TARGA (Type %d - RLE)" : "Truevision TARGA (Type %d)",
             h.imageType);
    setRasterName(rh.name, name);
    rh.compression = rle ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    if (!complete) st = ST_READ_ERROR;
    else st = rle ? tgaReadRleRows(stream, h) : readRows(stream, rh.bytesPerPlane, h.height);
    // Indices without a colour map are grey levels (black and white at 1 bit).
    endImage(PF_BGR, 8, mapRead ? table : nullptr);
    return st;
}

Status writeTga(FILE* stream, SaveRequest* request) {
    const int32_t width = request->width;
    const int32_t height = request->height;
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ST_KIND_REFUSED;
    bool rle = request->writerOption1 != 0;
    int depth;
    uint8_t type;
    bool palette = false;
    switch (request->kind) {
    case IMG_BINARY:
        depth = 1;
        type = TGA_GREY;
        break;
    case IMG_GREY:
        depth = 8;
        type = TGA_GREY;
        break;
    case IMG_PALETTE:
        depth = 8;
        type = TGA_MAPPED;
        palette = true;
        break;
    case KIND_ANY_TRUECOLOUR:
        // A fourth byte that holds nothing is no alpha: such pictures are written in 24 bits.
        depth = savedImageHasAlpha() ? 32 : 24;
        type = TGA_TRUECOLOUR;
        if (depth == 32) rle = false;
        break;
    default:
        return ST_KIND_REFUSED;
    }
    if (rle) type = static_cast<uint8_t>(type + TGA_RLE);

    WriteHeader wh{};
    wh.layout = depth == 32 ? PL_BGRA : depth == 24 ? PL_REVERSED : 0;
    wh.orientation = 0;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(depth);
    wh.bytesPerPlane = static_cast<int32_t>(tgaRowBytes(depth, width));
    wh.paletteFormat = palette ? PF_BGR : 0;
    wh.componentBits = 8;
    setRasterName(wh.name, rle ? NAME_WRITE_RLE : NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    uint8_t header[TGA_HEADER_SIZE] = {};
    header[1] = palette ? 1 : 0;
    header[2] = type;
    if (palette) {
        tgaStoreU16(header + 5, TGA_MAX_MAP);
        header[7] = 24;
    }
    tgaStoreU16(header + 12, static_cast<unsigned>(width));
    tgaStoreU16(header + 14, static_cast<unsigned>(height));
    header[16] = static_cast<uint8_t>(depth);
    header[17] = TGA_TOP_DOWN;
    if (!writeBlock(stream, header, sizeof header)) st = ST_WRITE_ERROR;
    if (st == ST_OK && palette && (!wh.palette || !writeBlock(stream, wh.palette, PALETTE_BYTES)))
        st = ST_WRITE_ERROR;

    TgaRleRows coder{depth <= 8 ? 1 : depth / 8, Buffer()};
    // Every packet holds at least one pixel and adds one header byte.
    if (rle) coder.encoded = allocBuffer(static_cast<uint64_t>(wh.bytesPerPlane + wh.bytesPerPlane / coder.pixelBytes) + 16);
    if (st == ST_OK && rle && !coder.encoded) st = ST_NO_MEMORY;
    if (st == ST_OK) st = writeRows(stream, wh.bytesPerPlane, height, rle ? tgaWriteEncodedRow : nullptr, &coder);
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
