// Amiga interchange files: ILBM (interleaved bit-planes) and PBM (chunky bytes).
//
// A file is a "FORM" chunk whose first four data bytes name the form type,
// followed by chunks of a 4-character identifier, a 32-bit big-endian length
// and the data, padded to an even length. The reader takes the bitmap header
// (BMHD), the colour map (CMAP), the viewport mode (CAMG) and the pixels (BODY);
// everything else is skipped.
//
// BODY rows hold, for each image row, the row of each plane in turn (plane 0
// first, (width + 15) / 16 x 2 bytes each), followed by a mask-plane row when
// the masking field is 1; PBM rows are one byte per pixel, padded to an even
// length. Rows are stored as they are or ByteRun1-packed (the PackBits coding).
//
// Reader: 1 to 8 planes with a colour map (extra-half-brite palettes made from
// the first 32 colours), hold-and-modify with 6 and 8 planes, 24 or 32 planes of
// true colour (red in planes 0-7, green in 8-15, blue in 16-23) and PBM bodies.
// Other plane counts are refused.
// Writer: ILBM with a colour map for black-and-white, grey and palette images,
// 24 planes for true colour, each plane row packed on its own when compressed.
#include <climits>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "packbits.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "Iff : Bad picture's size !";
const char MSG_BAD_PLANES[] = "Iff : Bad number of planes !";
const char MSG_BAD_COMPRESSION[] = "Iff : Unknown compression !";
const char MSG_BAD_HEADER[] = "Iff : Bad bitmap header !";

const char NAME_READ[] = "Amiga Interchange Format IFF (ILBM)";
const char NAME_READ_RLE[] = "Amiga Interchange Format IFF (ILBM - RLE)";
const char NAME_WRITE[] = "IFF/ILBM";
const char NAME_WRITE_RLE[] = "IFF/ILBM Packbits";

constexpr uint32_t BMHD_SIZE = 20;
constexpr uint32_t CAMG_HAM = 0x800;
constexpr uint32_t CAMG_EHB = 0x80;
constexpr int MASK_PLANE = 1;  // masking 1: a mask-plane row follows each row's planes
constexpr int DEEP_PLANES = 24;        // 8 bits each of red, green and blue
constexpr int DEEP_PLANES_EXTRA = 32;  // the same and a fourth byte, not read
constexpr int MAX_CMAP_ENTRIES = 256;
constexpr int EHB_BASE = 32;   // extra-half-brite: colours 32-63 are colours 0-31 at half brightness

// Micrometres per inch as the PSIM chunk scales it.
constexpr double PSIM_SCALE = 25399.16666666667;

inline bool sameId(const uint8_t* p, const char* id) { return memcmp(p, id, 4) == 0; }

// Bytes of one plane row: the width rounded up to 16 pixels.
inline uint64_t planeRowBytes(uint64_t width) { return (width + 15) / 16 * 2; }

struct IffBitmap {
    bool chunky = false;     // PBM form
    bool haveHeader = false;
    int32_t width = 0;
    int32_t height = 0;
    int planes = 0;
    int masking = 0;
    int compression = 0;
    uint32_t camg = 0;
    int cmapEntries = 0;     // 0: the file has no colour map
    uint8_t cmap[PALETTE_BYTES] = {};
};

// How BODY rows become delivered rows.
enum class IffPixels {
    Indexed,      // one index byte per pixel
    HoldModify6,  // hold-and-modify with 4 data bits
    HoldModify8,  // hold-and-modify with 6 data bits
    Deep,         // bits 0-7 red, 8-15 green, 16-23 blue
};

Status iffReadBitmapHeader(FILE* f, uint32_t length, IffBitmap* b, LoadRequest* request) {
    if (length < BMHD_SIZE) {
        setReaderMessage(request, MSG_BAD_HEADER);
        return ST_BAD_FILE;
    }
    uint8_t h[BMHD_SIZE];
    if (!readBlock(f, h, sizeof h)) return ST_READ_ERROR;
    b->width = loadU16BE(h);
    b->height = loadU16BE(h + 2);
    b->planes = h[8];
    b->masking = h[9];
    b->compression = h[10];
    if (b->width < 1 || b->width > MAX_IMAGE_SIDE || b->height < 1 || b->height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    // Chunky bodies hold one byte per pixel. Bit-planes give colour-map
    // indices (1 to 8 planes) or true colour (24, or 32 with a byte the reader
    // leaves out); other depths have no colour layout to map them to.
    const bool indexed = b->planes >= 1 && b->planes <= 8;
    const bool deep = !b->chunky && (b->planes == DEEP_PLANES || b->planes == DEEP_PLANES_EXTRA);
    if (!indexed && !deep) {
        setReaderMessage(request, MSG_BAD_PLANES);
        return ST_BAD_FILE;
    }
    if (b->compression > 1) {
        setReaderMessage(request, MSG_BAD_COMPRESSION);
        return ST_BAD_FILE;
    }
    b->haveHeader = true;
    return ST_OK;
}

// Bit x of each plane row (plane 0 the lowest bit) makes the value of pixel x.
void iffGatherPlanes(const uint8_t* row, int planes, uint64_t rowBytes, int32_t width, uint32_t* values) {
    memset(values, 0, static_cast<size_t>(width) * sizeof *values);
    for (int p = 0; p < planes; ++p) {
        const uint8_t* plane = row + static_cast<uint64_t>(p) * rowBytes;
        const uint32_t bit = 1u << p;
        for (int32_t x = 0; x < width; ++x)
            if (plane[x >> 3] & (0x80 >> (x & 7))) values[x] |= bit;
    }
}

class IffBodyReader {
public:
    IffBodyReader(const IffBitmap& b, RasterHeader* rh, IffPixels mode) : b_(b), rh_(rh), mode_(mode) {}

    // Decodes every row from the cursor. Returns ST_OK, ST_NO_MEMORY, ST_STOPPED,
    // or ST_READ_ERROR / ST_CORRUPT when the data end early (in the file / in the chunk).
    Status run(StreamCursor* in) {
        const uint64_t planeBytes = planeRowBytes(static_cast<uint64_t>(b_.width));
        const uint64_t fileRow = b_.chunky ? static_cast<uint64_t>(b_.width) + (b_.width & 1)
                                           : planeBytes * static_cast<uint64_t>(b_.planes + (b_.masking == MASK_PLANE));
        Buffer row = allocBuffer(fileRow);
        Buffer values = b_.chunky ? Buffer() : allocBuffer(static_cast<uint64_t>(b_.width) * sizeof(uint32_t));
        if (!row || (!b_.chunky && !values)) return ST_NO_MEMORY;
        uint32_t* k = reinterpret_cast<uint32_t*>(values.get());

        for (int32_t y = 0; y < b_.height; ++y) {
            memset(row.get(), 0, static_cast<size_t>(fileRow));
            bool whole;
            if (b_.compression) {
                PackBitsResult r = packBitsDecode(in, row.get(), static_cast<size_t>(fileRow));
                whole = r.end != PackBitsEnd::EndOfInput;
            } else {
                whole = in->read(row.get(), static_cast<size_t>(fileRow)) == fileRow;
            }
            if (b_.chunky) {
                chunkyRow(row.get());
            } else {
                iffGatherPlanes(row.get(), b_.planes, planeBytes, b_.width, k);
                planarRow(k);
            }
            // A row the data ended in is still delivered: its missing bytes are 0.
            Status st = putRows(-1, y, 1);
            if (st != ST_OK) return st;
            if (!whole) return in->endOfFile() ? ST_READ_ERROR : ST_CORRUPT;
        }
        return ST_OK;
    }

private:
    void chunkyRow(const uint8_t* row) {
        // Values beyond the depth would fall outside its palette.
        const uint8_t mask = static_cast<uint8_t>((1u << b_.planes) - 1);
        uint8_t* out = rh_->rowBuffer;
        for (int32_t x = 0; x < b_.width; ++x) out[x] = row[x] & mask;
    }

    void planarRow(const uint32_t* k) {
        uint8_t* out = rh_->rowBuffer;
        const int32_t w = b_.width;
        uint8_t* red = out;
        uint8_t* green = out + w;
        uint8_t* blue = out + 2 * static_cast<size_t>(w);
        switch (mode_) {
        case IffPixels::Indexed:
            // Indices beyond the colour map keep their value: the zeroed palette shows them black.
            for (int32_t x = 0; x < w; ++x) out[x] = static_cast<uint8_t>(k[x]);
            break;
        case IffPixels::Deep:
            for (int32_t x = 0; x < w; ++x) {
                red[x] = static_cast<uint8_t>(k[x]);
                green[x] = static_cast<uint8_t>(k[x] >> 8);
                blue[x] = static_cast<uint8_t>(k[x] >> 16);
            }
            break;
        case IffPixels::HoldModify6:
        case IffPixels::HoldModify8: {
            const bool eight = mode_ == IffPixels::HoldModify8;
            const int dataBits = eight ? 6 : 4;
            const uint32_t dataMask = (1u << dataBits) - 1;
            // Each line starts from the background colour, colour register 0.
            uint8_t r = b_.cmap[0], g = b_.cmap[1], bl = b_.cmap[2];
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t data = k[x] & dataMask;
                const uint32_t control = (k[x] >> dataBits) & 3;
                const uint8_t v = eight ? 0 : static_cast<uint8_t>(data * 17);
                switch (control) {
                case 0:
                    r = b_.cmap[3 * data];
                    g = b_.cmap[3 * data + 1];
                    bl = b_.cmap[3 * data + 2];
                    break;
                case 1: bl = eight ? static_cast<uint8_t>((data << 2) | (bl & 3)) : v; break;
                case 2: r = eight ? static_cast<uint8_t>((data << 2) | (r & 3)) : v; break;
                default: g = eight ? static_cast<uint8_t>((data << 2) | (g & 3)) : v; break;
                }
                red[x] = r;
                green[x] = g;
                blue[x] = bl;
            }
            break;
        }
        }
    }

    const IffBitmap& b_;
    RasterHeader* rh_;
    IffPixels mode_;
};

Status iffReadBody(FILE* f, IffBitmap* b, uint64_t length, LoadRequest* request) {
    if (!b->haveHeader) {
        setReaderMessage(request, MSG_BAD_HEADER);
        return ST_BAD_FILE;
    }
    IffPixels mode = IffPixels::Indexed;
    if (!b->chunky && b->planes > 8) mode = IffPixels::Deep;
    else if (!b->chunky && (b->camg & CAMG_HAM)) mode = b->planes >= 7 ? IffPixels::HoldModify8 : IffPixels::HoldModify6;

    if (mode == IffPixels::Indexed && (b->camg & CAMG_EHB) && b->planes == 6 && b->cmapEntries > 0) {
        for (int i = 0; i < EHB_BASE; ++i)
            for (int c = 0; c < 3; ++c) b->cmap[3 * (EHB_BASE + i) + c] = static_cast<uint8_t>(b->cmap[3 * i + c] >> 1);
        b->cmapEntries = 2 * EHB_BASE;
    }

    RasterHeader rh{};
    rh.width = b->width;
    rh.height = b->height;
    rh.orientation = 0;
    if (mode == IffPixels::Indexed) {
        rh.layout = PL_BYTE_PIXELS;
        rh.channels = 1;
        rh.planes = 1;
        rh.bitsPerPlane = static_cast<int16_t>(b->planes);
        rh.bytesPerPlane = b->width;
    } else {
        // Red, green and blue lines one after another.
        rh.layout = 0;
        rh.channels = 3;
        rh.planes = 3;
        rh.bitsPerPlane = 8;
        rh.bytesPerPlane = b->width;
    }
    setRasterName(rh.name, b->compression ? NAME_READ_RLE : NAME_READ);
    rh.compression = b->compression ? "ByteRun1" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    StreamCursor in(f, length);
    IffBodyReader reader(*b, &rh, mode);
    st = reader.run(&in);
    if (mode == IffPixels::Indexed && b->cmapEntries > 0) endImage(PF_TRIPLETS, 8, b->cmap);
    else endImage(0, 8, nullptr);
    return st;
}

// ---------------------------------------------------------------------------
// Writing.

// Writes a 32-bit big-endian value at an absolute offset.
bool iffPatchU32(FILE* f, long offset, uint32_t value) {
    if (fseek(f, offset, SEEK_SET) != 0) return false;
    writeU32BE(f, value);
    return !ferror(f);
}

void putU16BE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

uint16_t iffPsimValue(int dpi) {
    if (dpi <= 0) return 0;  // no resolution known
    return static_cast<uint16_t>(PSIM_SCALE / dpi);
}

// Spreads R,G,B pixels over 24 plane rows: plane k holds bit k of red + green x 256 + blue x 65536.
void iffSpreadTrueColour(const uint8_t* rgb, int32_t width, uint64_t rowBytes, uint8_t* planes) {
    memset(planes, 0, static_cast<size_t>(24 * rowBytes));
    for (int32_t x = 0; x < width; ++x) {
        const uint32_t v = rgb[3 * x] | (rgb[3 * x + 1] << 8) | (static_cast<uint32_t>(rgb[3 * x + 2]) << 16);
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        uint8_t* p = planes + (x >> 3);
        for (int k = 0; k < 24; ++k, p += rowBytes)
            if (v & (1u << k)) *p |= bit;
    }
}

// The BODY's rows: every plane's line, ByteRun1-packed on request.
struct IffBodyRows {
    int32_t width;
    int planes;
    uint64_t rowBytes;       // one plane's line
    bool trueColour;
    bool compress;
    size_t packedCapacity;
    Buffer spread;           // true colour: the 24 plane lines of the row
    Buffer packed;
    uint64_t written;
};

Status iffWriteBodyRow(void* data, FILE* f, uint8_t* row, int64_t allPlanes) {
    IffBodyRows& b = *static_cast<IffBodyRows*>(data);
    if (b.trueColour) {
        iffSpreadTrueColour(row, b.width, b.rowBytes, b.spread.get());
        row = b.spread.get();
    }
    if (!b.compress) {
        b.written += static_cast<uint64_t>(allPlanes);
        return writeBlock(f, row, static_cast<size_t>(allPlanes)) ? ST_OK : ST_WRITE_ERROR;
    }
    // ByteRun1 readers expect each plane row packed on its own.
    for (int p = 0; p < b.planes; ++p) {
        size_t n = packBitsEncode(row + p * b.rowBytes, static_cast<size_t>(b.rowBytes), b.packed.get(), b.packedCapacity);
        if (n == 0 || !writeBlock(f, b.packed.get(), n)) return ST_WRITE_ERROR;
        b.written += n;
    }
    return ST_OK;
}

// Bits needed for a palette of n colours (1 for two colours, 8 above 128).
int iffPlanesFor(int colours) {
    int planes = 1;
    while (planes < 8 && (1 << planes) < colours) ++planes;
    return planes;
}

}  // namespace

// A FORM of interleaved bit-planes (ILBM) or of chunky pixels (PBM).
bool acceptIff(const uint8_t* head, size_t n, int64_t) {
    return n >= 12 && memcmp(head, "FORM", 4) == 0 && (memcmp(head + 8, "ILBM", 4) == 0 || memcmp(head + 8, "PBM ", 4) == 0);
}

Status readIff(FILE* stream, LoadRequest* request) {
    uint8_t head[12];
    if (!readBlock(stream, head, sizeof head) || !sameId(head, "FORM")) return ST_UNKNOWN_FORMAT;
    IffBitmap b;
    if (sameId(head + 8, "PBM ")) b.chunky = true;
    else if (!sameId(head + 8, "ILBM")) return ST_UNKNOWN_FORMAT;

    const uint64_t fileSize = request->fileSize > 0 ? static_cast<uint64_t>(request->fileSize) : UINT64_MAX;
    uint64_t pos = sizeof head;
    for (;;) {
        uint8_t ch[8];
        if (!readBlock(stream, ch, sizeof ch)) return ST_READ_ERROR;  // the file ended before the pixels
        const uint32_t length = loadU32BE(ch + 4);
        const uint64_t dataStart = pos + sizeof ch;
        const uint64_t next = dataStart + length + (length & 1);
        Status st = ST_OK;
        if (sameId(ch, "FORM")) {
            // A form inside the form: its chunks follow its type.
            uint8_t type[4];
            if (!readBlock(stream, type, sizeof type)) return ST_READ_ERROR;
            if (sameId(type, "PBM ")) b.chunky = true;
            else if (sameId(type, "ILBM")) b.chunky = false;
            else return ST_UNKNOWN_FORMAT;
            pos = dataStart + sizeof type;
            continue;
        }
        if (sameId(ch, "BODY")) {
            // The pixels end at the chunk's end, or where the file does.
            return iffReadBody(stream, &b, length, request);
        }
        // Every other chunk must lie inside the file: a longer one means it was cut.
        if (next > fileSize && !(next == fileSize + 1 && (length & 1))) return ST_READ_ERROR;
        if (sameId(ch, "BMHD")) {
            st = iffReadBitmapHeader(stream, length, &b, request);
        } else if (sameId(ch, "CMAP")) {
            uint32_t entries = length / 3;
            if (entries > MAX_CMAP_ENTRIES) return ST_UNKNOWN_FORMAT;
            memset(b.cmap, 0, sizeof b.cmap);
            if (!readBlock(stream, b.cmap, 3 * entries)) return ST_READ_ERROR;
            b.cmapEntries = static_cast<int>(entries);
        } else if (sameId(ch, "CAMG") && length >= 4) {
            b.camg = readU32BE(stream);
        }
        if (st != ST_OK) return st;
        if (!seekTo(stream, next)) return ST_READ_ERROR;
        pos = next;
    }
}

Status writeIff(FILE* stream, SaveRequest* request) {
    const int32_t width = request->width;
    const int32_t height = request->height;
    if (width < 1 || height < 1 || width > 0xFFFF || height > 0xFFFF) return ST_KIND_REFUSED;
    bool trueColour = false;
    int planes;
    switch (request->kind) {
    case KIND_ANY_TRUECOLOUR:
        trueColour = true;
        planes = 24;
        break;
    case IMG_BINARY:
        planes = 1;
        break;
    case IMG_GREY:
    case IMG_PALETTE:
        planes = iffPlanesFor(request->colours > 0 ? request->colours : 256);
        break;
    default:
        return ST_KIND_REFUSED;
    }
    const bool compress = request->writerOption1 != 0;
    const uint64_t rowBytes = planeRowBytes(static_cast<uint64_t>(width));
    const uint64_t allPlanes = rowBytes * static_cast<uint64_t>(planes);
    const uint64_t rawBody = allPlanes * static_cast<uint64_t>(height);
    if (rawBody > 0x7FFFFFF0u) return ST_KIND_REFUSED;

    WriteHeader wh{};
    wh.layout = 0;
    wh.orientation = 0;
    wh.channels = 1;
    if (trueColour) {
        wh.planes = 1;
        wh.bitsPerPlane = 24;
        wh.bytesPerPlane = static_cast<int32_t>(24 * rowBytes);
    } else {
        wh.planes = static_cast<int16_t>(planes);
        wh.bitsPerPlane = 1;
        wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
        wh.paletteFormat = PF_TRIPLETS;
        wh.componentBits = 8;
    }
    setRasterName(wh.name, compress ? NAME_WRITE_RLE : NAME_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    // FORM, BMHD, CMAP and PSIM before the pixels.
    const uint32_t cmapBytes = trueColour ? 0 : 3u << planes;
    uint8_t head[12 + 8 + BMHD_SIZE] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M',
                                        'B', 'M', 'H', 'D', 0, 0, 0, BMHD_SIZE};
    uint8_t* bmhd = head + 20;
    putU16BE(bmhd, static_cast<uint32_t>(width));
    putU16BE(bmhd + 2, static_cast<uint32_t>(height));
    bmhd[8] = static_cast<uint8_t>(planes);
    bmhd[9] = 0;  // no mask and no transparent colour
    bmhd[10] = compress ? 1 : 0;
    bmhd[14] = 1;
    bmhd[15] = 1;
    putU16BE(bmhd + 16, static_cast<uint32_t>(width));
    putU16BE(bmhd + 18, static_cast<uint32_t>(height));
    const uint64_t formLength = 4 + 8 + BMHD_SIZE + (cmapBytes ? 8 + cmapBytes : 0) + 12 + 8 + rawBody;
    head[4] = static_cast<uint8_t>(formLength >> 24);
    head[5] = static_cast<uint8_t>(formLength >> 16);
    head[6] = static_cast<uint8_t>(formLength >> 8);
    head[7] = static_cast<uint8_t>(formLength);
    bool ok = writeBlock(stream, head, sizeof head);
    if (cmapBytes) {
        const uint8_t id[8] = {'C', 'M', 'A', 'P', 0, 0, static_cast<uint8_t>(cmapBytes >> 8),
                               static_cast<uint8_t>(cmapBytes)};
        ok = ok && writeBlock(stream, id, sizeof id);
        uint8_t table[PALETTE_BYTES] = {};
        if (wh.palette) memcpy(table, wh.palette, cmapBytes);
        ok = ok && writeBlock(stream, table, cmapBytes);
    }
    uint8_t psim[12] = {'P', 'S', 'I', 'M', 0, 0, 0, 4};
    putU16BE(psim + 8, iffPsimValue(request->xdpi));
    putU16BE(psim + 10, iffPsimValue(request->ydpi));
    ok = ok && writeBlock(stream, psim, sizeof psim);
    const long bodyLengthAt = static_cast<long>(sizeof head + (cmapBytes ? 8 + cmapBytes : 0) + sizeof psim + 4);
    uint8_t body[8] = {'B', 'O', 'D', 'Y'};
    const uint32_t provisional = static_cast<uint32_t>(rawBody);
    body[4] = static_cast<uint8_t>(provisional >> 24);
    body[5] = static_cast<uint8_t>(provisional >> 16);
    body[6] = static_cast<uint8_t>(provisional >> 8);
    body[7] = static_cast<uint8_t>(provisional);
    ok = ok && writeBlock(stream, body, sizeof body);
    if (!ok) st = ST_WRITE_ERROR;

    IffBodyRows rows{width, planes, rowBytes, trueColour, compress, packBitsMaxEncodedSize(static_cast<size_t>(rowBytes)),
                     Buffer(), Buffer(), 0};
    if (trueColour) rows.spread = allocBuffer(allPlanes);
    if (compress) rows.packed = allocBuffer(rows.packedCapacity);
    if (st == ST_OK && ((trueColour && !rows.spread) || (compress && !rows.packed))) st = ST_NO_MEMORY;
    // True colour comes as R,G,B from the pipeline and is spread into 24 planes here.
    if (st == ST_OK) st = writeRows(stream, static_cast<int64_t>(allPlanes), height, iffWriteBodyRow, &rows);
    const uint64_t bodyBytes = rows.written;
    endWrite();
    if (st != ST_OK) return st;
    if ((bodyBytes & 1) && putc(0, stream) == EOF) return ST_WRITE_ERROR;  // chunks end on an even byte
    if (bodyBytes > 0xFFFFFFF0u) return ST_WRITE_ERROR;

    long end = ftell(stream);
    // Patch the real lengths; a stream that cannot seek keeps the provisional ones.
    if (end > 0 && iffPatchU32(stream, 4, static_cast<uint32_t>(end - 8)) &&
        iffPatchU32(stream, bodyLengthAt, static_cast<uint32_t>(bodyBytes)))
        fseek(stream, end, SEEK_SET);
    if (fflush(stream) != 0 || ferror(stream)) return ST_WRITE_ERROR;
    return ST_OK;
}
