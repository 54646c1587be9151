// Macintosh QuickDraw pictures (reader only).
//
// A picture file is a 512-byte preamble that QuickDraw ignores, the picture
// size word, the frame (top, left, bottom, right) and a stream of opcodes.
// Version 1 pictures use byte opcodes and start with 0x11 0x01; version 2
// pictures use word opcodes, start with 0x0011 0x02FF and the 0x0C00 header
// opcode with its 24 bytes, and pad the data of every opcode to an even length.
// All numbers are big-endian.
//
// The reader walks the opcodes, skipping each by its defined length, to the
// bits opcodes: BitsRect (0x90), PackBitsRect (0x98), DirectBitsRect (0x9A)
// and their region forms (0x91, 0x99, 0x9B), which hold 1-bit bitmaps, indexed
// pixmaps of 1, 2, 4 and 8 bits with their colour table, 16-bit pixmaps (5-5-5
// words, run-length coded a word at a time) and 32-bit pixmaps (run-length
// coded component planes, or unpacked pixels). A picture of one bits opcode is
// that bitmap, decoded row by row. Scanners and screen grabbers write pictures
// as several bands, each with its own rectangles: those are drawn into the
// picture frame (source rectangle onto destination rectangle, clipped to the
// frame), white where no band falls, and delivered at the end.
#include <algorithm>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "packbits.h"
#include "stream.h"

namespace {

const char MSG_BAD_FORMAT[] = "APPLE pict : Bad picture's format !";
const char MSG_BAD_PIXEL_TYPE[] = "APPLE pict : Bad pixel type !";
const char MSG_BAD_CMP_COUNT[] = "APPLE pict : Bad cmpCount != 1 !";
const char MSG_BAD_PIXEL_SIZE[] = "APPLE pict : Bad pixel size !";
const char MSG_BAD_SIZE[] = "APPLE pict : Bad picture's size !";

const char NAME_PIXMAP[] = "Macintosh PICT (Pixmap)";
const char NAME_BITMAP[] = "Macintosh PICT (Bitmap)";
const char NAME_DIRECT[] = "Macintosh PICT 2 (DirectBits Pixmap)";

constexpr long PREAMBLE = 512;
constexpr uint16_t VERSION_1 = 0x1101;        // VersionOp 0x11 and version byte 1
constexpr uint16_t VERSION_2 = 0x0011;        // VersionOp as a word ...
constexpr uint16_t VERSION_2_NUMBER = 0x02FF; // ... and its version number
constexpr int VERSION_2_HEADER = 26;          // HeaderOp 0x0C00 and its 24 bytes

constexpr uint16_t OP_BITS_RECT = 0x90;
constexpr uint16_t OP_BITS_RGN = 0x91;
constexpr uint16_t OP_PACK_BITS_RECT = 0x98;
constexpr uint16_t OP_PACK_BITS_RGN = 0x99;
constexpr uint16_t OP_DIRECT_BITS_RECT = 0x9A;
constexpr uint16_t OP_DIRECT_BITS_RGN = 0x9B;
constexpr uint16_t OP_END = 0xFF;

constexpr uint16_t ROW_BYTES_PIXMAP = 0x8000;  // top bit of rowBytes: a PixMap follows
constexpr uint16_t ROW_BYTES_MASK = 0x7FFF;
constexpr uint16_t CT_FLAG_DEVICE = 0x8000;    // colour table entries are in position order
constexpr int64_t UNPACKED_BELOW = 8;          // rows of fewer bytes are stored as they stand
constexpr int64_t BYTE_COUNT_MAX_ROW = 250;    // longer rows have a word byte count
constexpr size_t MAX_PACKED_ROW = 0xFFFF;      // a word byte count
constexpr int64_t MIN_REGION = 10;             // size word and bounding box

// PixMap packing types.
constexpr uint16_t PACK_DEFAULT = 0;
constexpr uint16_t PACK_NONE = 1;
constexpr uint16_t PACK_NO_PAD = 2;     // 32-bit pixels stored as R,G,B, unpacked

// Data length of the opcodes 0x00..0xA1; the negative codes name the opcodes
// whose data describe their own length.
enum : int8_t {
    REGION = -1,      // region or polygon: a size word that counts itself, then the rest
    WORD_LENGTH = -2, // a length word, then that many bytes
    PIX_PAT = -3,     // colour pattern
    TEXT_4 = -4,      // LongText: a 4-byte point, a count byte and the text
    TEXT_1 = -5,      // DHText, DVText: one offset byte, a count byte and the text
    TEXT_2 = -6,      // DHDVText: two offset bytes, a count byte and the text
    LONG_COMMENT = -7,// kind word, size word, data
    IMAGE = -8,       // the bitmaps and pixmaps (0x90..0x9B)
    VERSION = -9,     // VersionOp: one byte in version 1, a word in version 2
};

constexpr int OPCODE_TABLE_SIZE = 0xA2;
const int8_t OPCODE_LENGTH[OPCODE_TABLE_SIZE] = {
    // 0x00 NOP, Clip, BkPat, TxFont, TxFace, TxMode, SpExtra, PnSize,
    //      PnMode, PnPat, FillPat, OvSize, Origin, TxSize, FgColor, BkColor
    0, REGION, 8, 2, 1, 2, 4, 4, 2, 8, 8, 4, 4, 2, 4, 4,
    // 0x10 TxRatio, VersionOp, BkPixPat, PnPixPat, FillPixPat, PnLocHFrac, ChExtra,
    //      reserved x3, RGBFgCol, RGBBkCol, HiliteMode, HiliteColor, DefHilite, OpColor
    8, VERSION, PIX_PAT, PIX_PAT, PIX_PAT, 2, 2, 0, 0, 0, 6, 6, 0, 6, 0, 6,
    // 0x20 Line, LineFrom, ShortLine, ShortLineFrom, reserved x4, LongText, DHText,
    //      DVText, DHDVText, fontName, lineJustify, glyphState, reserved
    8, 4, 6, 2, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH, TEXT_4, TEXT_1, TEXT_1, TEXT_2,
    WORD_LENGTH, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH,
    // 0x30 rectangles (frame, paint, erase, invert, fill, reserved x3), then "same" forms
    8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x40 rounded rectangles
    8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x50 ovals
    8, 8, 8, 8, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x60 arcs: rectangle and two angles; "same" arcs: the angles
    12, 12, 12, 12, 12, 12, 12, 12, 4, 4, 4, 4, 4, 4, 4, 4,
    // 0x70 polygons
    REGION, REGION, REGION, REGION, REGION, REGION, REGION, REGION, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x80 regions
    REGION, REGION, REGION, REGION, REGION, REGION, REGION, REGION, 0, 0, 0, 0, 0, 0, 0, 0,
    // 0x90 BitsRect, BitsRgn, reserved x6, PackBitsRect, PackBitsRgn, DirectBitsRect,
    //      DirectBitsRgn, reserved x4
    IMAGE, IMAGE, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH,
    IMAGE, IMAGE, IMAGE, IMAGE, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH, WORD_LENGTH,
    // 0xA0 ShortComment, LongComment
    2, LONG_COMMENT,
};

// Sequential reading with a position, so that lengths can be checked against
// the size of the file before anything is skipped or allocated.
class PictInput {
public:
    PictInput(FILE* f, int64_t size, int64_t position) : f_(f), size_(size), pos_(position) {}

    bool ended() const { return ended_; }
    int64_t position() const { return pos_; }
    int64_t remaining() const { return size_ > 0 ? size_ - pos_ : INT64_MAX; }

    int byte() {
        int c = getc(f_);
        if (c == EOF) {
            ended_ = true;
            return -1;
        }
        ++pos_;
        return c;
    }
    uint16_t u16() {
        int a = byte(), b = byte();
        return ended_ ? 0 : static_cast<uint16_t>((a << 8) | b);
    }
    int16_t s16() { return static_cast<int16_t>(u16()); }
    uint32_t u32() {
        uint32_t hi = u16();
        uint32_t lo = u16();
        return ended_ ? 0 : (hi << 16) | lo;
    }
    // Reads up to n bytes; returns how many were there.
    size_t read(uint8_t* dst, size_t n) {
        size_t got = fread(dst, 1, n, f_);
        pos_ += static_cast<int64_t>(got);
        if (got < n) ended_ = true;
        return got;
    }
    bool skip(uint64_t n) {
        if (n == 0) return !ended_;
        if (static_cast<uint64_t>(remaining()) < n) {
            ended_ = true;
            return false;
        }
        if (size_ > 0) {
            if (fseek(f_, static_cast<long>(n), SEEK_CUR) != 0) {
                ended_ = true;
                return false;
            }
            pos_ += static_cast<int64_t>(n);
            return true;
        }
        for (uint64_t i = 0; i < n; ++i)
            if (byte() < 0) return false;
        return true;
    }
    // Version 2 opcodes start on even offsets (the preamble is even).
    void align() {
        if (pos_ & 1) skip(1);
    }

private:
    FILE* f_;
    int64_t size_;
    int64_t pos_;
    bool ended_ = false;
};

struct PictRect {
    int16_t top, left, bottom, right;
};

PictRect readRect(PictInput* in) {
    PictRect r;
    r.top = in->s16();
    r.left = in->s16();
    r.bottom = in->s16();
    r.right = in->s16();
    return r;
}

// The PixMap fields after rowBytes (44 bytes).
struct PixMapFields {
    PictRect bounds;
    uint16_t version;
    uint16_t packType;
    uint32_t packSize;
    uint32_t hRes, vRes;
    uint16_t pixelType;
    uint16_t pixelSize;
    uint16_t cmpCount;
    uint16_t cmpSize;
};

PixMapFields readPixMap(PictInput* in) {
    PixMapFields p;
    p.bounds = readRect(in);
    p.version = in->u16();
    p.packType = in->u16();
    p.packSize = in->u32();
    p.hRes = in->u32();
    p.vRes = in->u32();
    p.pixelType = in->u16();
    p.pixelSize = in->u16();
    p.cmpCount = in->u16();
    p.cmpSize = in->u16();
    in->skip(12);  // planeBytes, pmTable, pmReserved
    return p;
}

// A 16-bit colour component (0xFFFF full intensity) scaled to 0..255, rounded.
uint8_t componentByte(uint32_t v) { return static_cast<uint8_t>((v * 255 + 32767) / 65535); }

// Reads a colour table into 256 R,G,B triplets (palette null: skipped).
// Entries land at their position when the device flag is set, else at their
// value; an index past the table's last entry goes to the last entry.
bool readColourTable(PictInput* in, uint8_t* palette) {
    in->skip(4);  // seed
    const uint16_t flags = in->u16();
    const int16_t size = in->s16();  // entries minus 1; -1 for none
    if (in->ended()) return false;
    const int32_t entries = size < 0 ? 0 : size + 1;
    const int32_t last = size < 0 ? 0 : size > 255 ? 255 : size;
    if (in->remaining() < static_cast<int64_t>(entries) * 8) {
        in->skip(static_cast<uint64_t>(entries) * 8);
        return false;
    }
    for (int32_t i = 0; i < entries; ++i) {
        uint8_t e[8];
        if (in->read(e, sizeof e) < sizeof e) return false;
        if (!palette) continue;
        int32_t index = (flags & CT_FLAG_DEVICE) ? i : loadU16BE(e);
        if (index > last) index = last;
        for (int c = 0; c < 3; ++c) palette[3 * index + c] = componentByte(loadU16BE(e + 2 + 2 * c));
    }
    return true;
}

// Skips a region or polygon: its size word counts itself and is at least the
// size word and the bounding box.
bool skipRegion(PictInput* in) {
    int64_t size = in->u16();
    if (in->ended()) return false;
    if (size < MIN_REGION) size = MIN_REGION;
    return in->skip(static_cast<uint64_t>(size - 2));
}

// How the rows of one bitmap or pixmap are stored.
struct RowCoding {
    int64_t unpacked = 0;      // bytes one row expands to
    bool packed = false;       // each row: a byte count and run-length groups
    bool wordCounts = false;   // the byte count is a word
    int unit = 1;              // bytes repeated by a run: 1, or 2 for 16-bit pixels
};

// Rows of bitmaps and indexed pixmaps: rowBytes bytes, packed from 8 bytes on.
RowCoding byteRows(int64_t rowBytes) {
    RowCoding c;
    c.unpacked = rowBytes;
    c.packed = rowBytes >= UNPACKED_BELOW;
    c.wordCounts = rowBytes > BYTE_COUNT_MAX_ROW;
    return c;
}

// Reads one row into out (coding.unpacked bytes, zeroed first). The first row of
// component planes whose word count cannot be a packed row is read with a byte
// count: some writers choose the count's width from the unpacked planes.
Status readRow(PictInput* in, RowCoding* coding, uint8_t* packed, uint8_t* out, bool firstRow) {
    const size_t size = static_cast<size_t>(coding->unpacked);
    memset(out, 0, size);
    if (!coding->packed) return in->read(out, size) < size ? ST_READ_ERROR : ST_OK;

    size_t count, have = 0;
    if (coding->wordCounts) {
        int hi = in->byte(), lo = in->byte();
        if (lo < 0) return ST_READ_ERROR;
        count = static_cast<size_t>(hi << 8 | lo);
        if (firstRow && count > packBitsMaxEncodedSize(size) && size <= BYTE_COUNT_MAX_ROW) {
            coding->wordCounts = false;
            count = static_cast<size_t>(hi);
            packed[have++] = static_cast<uint8_t>(lo);
        }
    } else {
        int c = in->byte();
        if (c < 0) return ST_READ_ERROR;
        count = static_cast<size_t>(c);
    }
    if (count > have) have += in->read(packed + have, count - have);
    if (coding->unit == 2) packBitsDecodeWords(packed, have, out, size);
    else packBitsDecode(packed, have, out, size);
    return have < count ? ST_READ_ERROR : ST_OK;
}

// Skips the rows of an image that is not decoded.
bool skipRows(PictInput* in, const RowCoding& coding, int64_t height) {
    if (!coding.packed) return in->skip(static_cast<uint64_t>(coding.unpacked * height));
    for (int64_t y = 0; y < height; ++y) {
        uint32_t count = coding.wordCounts ? in->u16() : static_cast<uint32_t>(in->byte());
        if (in->ended() || !in->skip(count)) return false;
    }
    return true;
}

int64_t rectWidth(const PictRect& r) { return int64_t(r.right) - r.left; }
int64_t rectHeight(const PictRect& r) { return int64_t(r.bottom) - r.top; }

bool sizeFits(const PictRect& bounds) {
    const int64_t w = rectWidth(bounds), h = rectHeight(bounds);
    return w >= 1 && w <= MAX_IMAGE_SIDE && h >= 1 && h <= MAX_IMAGE_SIDE;
}

Status badFile(LoadRequest* request, const char* message) {
    setReaderMessage(request, message);
    return ST_BAD_FILE;
}

// How the decoded rows reach the core.
enum class RowFix {
    None,
    SwapWords,   // 16-bit big-endian words to machine order
    ClearPad,    // unpacked 32-bit pixels without alpha: the first byte is padding
};

// Decodes height rows and delivers them; calls endImage on every path after beginImage.
Status decodeRows(PictInput* in, RasterHeader* rh, RowCoding coding, RowFix fix, uint16_t paletteFormat,
                  const uint8_t* palette) {
    Status st = beginImage(rh);
    if (st != ST_OK) return st;
    const int64_t deliver = fileRowLength();
    Buffer row = allocBuffer(static_cast<uint64_t>(coding.unpacked > deliver ? coding.unpacked : deliver));
    Buffer packed = coding.packed ? allocBuffer(MAX_PACKED_ROW + 1) : Buffer();
    if (!row || (coding.packed && !packed)) {
        endImage(paletteFormat, 8, palette);
        return ST_NO_MEMORY;
    }
    for (int32_t y = 0; y < rh->height && st == ST_OK; ++y) {
        st = readRow(in, &coding, packed.get(), row.get(), y == 0);
        uint8_t* r = row.get();
        if (fix == RowFix::SwapWords) {
            for (int64_t i = 0; i + 1 < deliver; i += 2) {
                uint8_t t = r[i];
                r[i] = r[i + 1];
                r[i + 1] = t;
            }
        } else if (fix == RowFix::ClearPad) {
            for (int64_t i = 0; i < deliver; i += 4) r[i] = 0;
        }
        memcpy(rh->rowBuffer, r, static_cast<size_t>(deliver));
        Status put = putRows(-1, y, 1);
        if (put != ST_OK) st = put;
    }
    endImage(paletteFormat, 8, palette);
    return st;
}

// How the pixels of one bits opcode are stored, once its rows are unpacked.
enum class BandPixels {
    Bits,        // 1-bit bitmap, 1 is black
    Indexed,     // 1, 2, 4 or 8-bit indices into the colour table
    Rgb555,      // big-endian 5-5-5 words
    Triplets,    // R,G,B (32-bit pixmaps stored without their padding byte)
    Whole,       // padding or alpha, R, G, B
    Planes,      // the component planes one after another (alpha first when four)
};

// One bits opcode: its rectangles, how its rows are coded and delivered.
struct Band {
    PictRect bounds{}, src{}, dst{};
    BandPixels pixels = BandPixels::Bits;
    int cmpCount = 1;
    RowCoding coding;
    RowFix fix = RowFix::None;
    RasterHeader rh{};       // the rows as a picture of their own
    Buffer palette;          // indexed pixmaps being decoded
    uint16_t paletteFormat = 0;
    bool alpha() const {
        return cmpCount == 4 && (pixels == BandPixels::Whole || pixels == BandPixels::Planes);
    }
};

// BitsRect, BitsRgn, PackBitsRect, PackBitsRgn: everything up to the rows.
// With check set, what the decoder cannot read is refused with its message.
Status readBitsHeader(PictInput* in, uint16_t op, bool check, Band* band, LoadRequest* request) {
    const uint16_t rowBytesWord = in->u16();
    const int64_t rowBytes = rowBytesWord & ROW_BYTES_MASK;
    const bool pixmap = (rowBytesWord & ROW_BYTES_PIXMAP) != 0;
    RasterHeader& rh = band->rh;
    rh.channels = 1;
    rh.planes = 1;
    if (pixmap) {
        PixMapFields pm = readPixMap(in);
        band->bounds = pm.bounds;
        if (check && !in->ended()) {
            if (pm.pixelType != 0) return badFile(request, MSG_BAD_PIXEL_TYPE);
            if (pm.cmpCount != 1) return badFile(request, MSG_BAD_CMP_COUNT);
            if (pm.pixelSize != pm.cmpSize ||
                (pm.pixelSize != 1 && pm.pixelSize != 2 && pm.pixelSize != 4 && pm.pixelSize != 8))
                return badFile(request, MSG_BAD_PIXEL_SIZE);
            band->palette = allocBuffer(PALETTE_BYTES);
            if (!band->palette) return ST_NO_MEMORY;
        }
        readColourTable(in, band->palette.get());
        band->pixels = BandPixels::Indexed;
        band->paletteFormat = PF_TRIPLETS;
        rh.bitsPerPlane = static_cast<int16_t>(pm.pixelSize);
        setRasterName(rh.name, NAME_PIXMAP);
    } else {
        band->bounds = readRect(in);
        band->pixels = BandPixels::Bits;
        band->paletteFormat = PF_INVERT;
        rh.bitsPerPlane = 1;
        setRasterName(rh.name, NAME_BITMAP);
    }
    band->src = readRect(in);
    band->dst = readRect(in);
    in->skip(2);  // transfer mode
    if (op == OP_BITS_RGN || op == OP_PACK_BITS_RGN) skipRegion(in);
    if (in->ended()) return check ? badFile(request, MSG_BAD_FORMAT) : ST_READ_ERROR;
    band->coding = byteRows(rowBytes);
    if (check && !sizeFits(band->bounds)) return badFile(request, MSG_BAD_SIZE);
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    return ST_OK;
}

// DirectBitsRect and DirectBitsRgn: 16- and 32-bit pixmaps without colour table.
Status readDirectHeader(PictInput* in, uint16_t op, bool check, Band* band, LoadRequest* request) {
    in->skip(4);  // base address
    const int64_t rowBytes = in->u16() & ROW_BYTES_MASK;
    const PixMapFields pm = readPixMap(in);
    band->bounds = pm.bounds;
    band->src = readRect(in);
    band->dst = readRect(in);
    in->skip(2);  // transfer mode
    if (op == OP_DIRECT_BITS_RGN) skipRegion(in);
    if (in->ended()) return check ? badFile(request, MSG_BAD_FORMAT) : ST_READ_ERROR;
    if (check && pm.pixelSize != 16 && pm.pixelSize != 32) return badFile(request, MSG_BAD_PIXEL_SIZE);

    const int64_t width = rectWidth(pm.bounds) > 0 ? rectWidth(pm.bounds) : 0;
    RasterHeader& rh = band->rh;
    rh.channels = 1;
    rh.planes = 1;
    band->cmpCount = pm.cmpCount;
    RowCoding& coding = band->coding;
    const bool unpacked = rowBytes < UNPACKED_BELOW || pm.packType == PACK_NONE || pm.packType == PACK_NO_PAD;
    if (pm.pixelSize == 16) {
        // 5-5-5 words, red in bits 10-14, each row packed a word at a time.
        coding = byteRows(rowBytes);
        coding.packed = !unpacked;
        coding.unit = 2;
        band->pixels = BandPixels::Rgb555;
        rh.layout = PL_WORD_HINT;
        rh.bitsPerPlane = 16;
        rh.bytesPerPlane = static_cast<int32_t>(2 * width);
        band->fix = RowFix::SwapWords;
    } else if (pm.packType == PACK_NO_PAD) {
        // R,G,B pixels: the padding byte of each pixel is left out.
        coding.unpacked = rowBytes * 3 / 4;
        band->pixels = BandPixels::Triplets;
        rh.bitsPerPlane = 24;
        rh.bytesPerPlane = static_cast<int32_t>(coding.unpacked);
    } else if (unpacked) {
        // Whole pixels: padding or alpha, R, G, B.
        coding.unpacked = rowBytes;
        band->pixels = BandPixels::Whole;
        rh.layout = PL_ALPHA_FIRST;
        rh.bitsPerPlane = 32;
        rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
        if (pm.cmpCount != 4) band->fix = RowFix::ClearPad;
    } else {
        // Each row holds the component planes one after another (alpha first
        // when there are four), each packed with the rest of the row.
        if (check && pm.cmpCount != 3 && pm.cmpCount != 4) return ST_CORRUPT;
        coding.packed = true;
        coding.wordCounts = rowBytes > BYTE_COUNT_MAX_ROW;
        coding.unpacked = pm.cmpCount * width;
        band->pixels = BandPixels::Planes;
        rh.layout = pm.cmpCount == 3 ? 0 : PL_ALPHA_FIRST;
        rh.channels = static_cast<int16_t>(pm.cmpCount);
        rh.planes = static_cast<int16_t>(pm.cmpCount);
        rh.bitsPerPlane = 8;
        rh.bytesPerPlane = static_cast<int32_t>(width);
    }
    if (check && !sizeFits(pm.bounds)) return badFile(request, MSG_BAD_SIZE);
    setRasterName(rh.name, NAME_DIRECT);
    return ST_OK;
}

bool isBitsOpcode(uint16_t op) {
    return op == OP_BITS_RECT || op == OP_BITS_RGN || op == OP_PACK_BITS_RECT || op == OP_PACK_BITS_RGN ||
           op == OP_DIRECT_BITS_RECT || op == OP_DIRECT_BITS_RGN;
}

Status readBandHeader(PictInput* in, uint16_t op, bool check, Band* band, LoadRequest* request) {
    return op == OP_DIRECT_BITS_RECT || op == OP_DIRECT_BITS_RGN ? readDirectHeader(in, op, check, band, request)
                                                                 : readBitsHeader(in, op, check, band, request);
}

// A picture with one bits opcode: its rows go to the core as they are decoded.
Status streamBand(PictInput* in, Band* band) {
    band->rh.width = static_cast<int32_t>(rectWidth(band->bounds));
    band->rh.height = static_cast<int32_t>(rectHeight(band->bounds));
    return decodeRows(in, &band->rh, band->coding, band->fix, band->paletteFormat, band->palette.get());
}

// ---- pictures of several bands ----------------------------------------------------

// The whole picture frame, drawn band after band: colour canvases start white
// (and opaque), black-and-white canvases hold the bitmap values, 0 white.
struct Canvas {
    PictRect frame{};
    int64_t width = 0, height = 0;
    int unit = 1;     // bytes a pixel: 1 (black and white), 3, or 4 with alpha
    Buffer pixels;
    int64_t budget = 0;  // pixels the bands may still draw: stretched bands cannot run forever
};

// Bands may paint the frame over this many times.
constexpr int64_t OVERDRAW = 4;

inline int64_t ceilDiv(int64_t a, int64_t b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }

// One unpacked band row as canvas pixels (width of them).
void bandRowToCanvas(const Band& band, const uint8_t* row, int64_t width, int unit, uint8_t* out) {
    for (int64_t x = 0; x < width; ++x, out += unit) {
        uint8_t r = 0, g = 0, b = 0, a = 255;
        switch (band.pixels) {
        case BandPixels::Bits: {
            const int bit = (row[x >> 3] >> (7 - (x & 7))) & 1;
            if (unit == 1) {
                out[0] = static_cast<uint8_t>(bit);
                continue;
            }
            r = g = b = bit ? 0 : 255;
            break;
        }
        case BandPixels::Indexed: {
            const int bits = band.rh.bitsPerPlane;
            const int64_t bitPos = x * bits;
            const int index = (row[bitPos >> 3] >> (8 - bits - (bitPos & 7))) & ((1 << bits) - 1);
            const uint8_t* c = band.palette.get() + 3 * index;
            r = c[0], g = c[1], b = c[2];
            break;
        }
        case BandPixels::Rgb555: {
            const uint16_t v = loadU16BE(row + 2 * x);
            r = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
            g = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
            b = static_cast<uint8_t>((v & 31) * 255 / 31);
            break;
        }
        case BandPixels::Triplets:
            r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
            break;
        case BandPixels::Whole:
            if (band.cmpCount == 4) a = row[4 * x];
            r = row[4 * x + 1], g = row[4 * x + 2], b = row[4 * x + 3];
            break;
        case BandPixels::Planes: {
            const uint8_t* p = row + (band.cmpCount == 4 ? width : 0);
            if (band.cmpCount == 4) a = row[x];
            r = p[x], g = p[width + x], b = p[2 * width + x];
            break;
        }
        }
        out[0] = r;
        out[1] = g;
        out[2] = b;
        if (unit == 4) out[3] = a;
    }
}

// Decodes a band's rows and draws its source rectangle into its destination
// rectangle (nearest pixel when the two differ in size), clipped to the frame.
Status drawBand(PictInput* in, Band* band, Canvas* canvas) {
    const int64_t width = rectWidth(band->bounds), height = rectHeight(band->bounds);
    const PictRect& s = band->src;
    const PictRect& d = band->dst;
    const PictRect& f = canvas->frame;
    const int64_t srcW = rectWidth(s), srcH = rectHeight(s), dstW = rectWidth(d), dstH = rectHeight(d);
    // A black-and-white canvas takes bitmaps only (the first walk saw no other band).
    const bool fits = canvas->unit > 1 || band->pixels == BandPixels::Bits;
    const bool visible = fits && srcW > 0 && srcH > 0 && dstW > 0 && dstH > 0;

    // Canvas column -> band column, for the destination columns inside the frame.
    const int64_t left = std::max<int64_t>(d.left, f.left), right = std::min<int64_t>(d.right, f.right);
    const int64_t columns = visible && right > left ? right - left : 0;
    Buffer map = allocBuffer(static_cast<uint64_t>(columns) * 2 * sizeof(int32_t));
    const int64_t minRow = (width + 7) / 8 * std::max<int64_t>(1, band->rh.bitsPerPlane);
    const int64_t rowSize = std::max<int64_t>(band->coding.unpacked, std::max<int64_t>(minRow, 4 * width));
    Buffer row = allocBuffer(static_cast<uint64_t>(rowSize));
    Buffer pixels = allocBuffer(static_cast<uint64_t>(width) * canvas->unit);
    Buffer packed = band->coding.packed ? allocBuffer(MAX_PACKED_ROW + 1) : Buffer();
    if (!map || !row || !pixels || (band->coding.packed && !packed)) return ST_NO_MEMORY;
    int32_t* cols = reinterpret_cast<int32_t*>(map.get());
    int64_t used = 0;
    for (int64_t xd = left; xd < left + columns; ++xd) {
        const int64_t xs = s.left + (xd - d.left) * srcW / dstW - band->bounds.left;
        if (xs < 0 || xs >= width) continue;
        cols[2 * used] = static_cast<int32_t>(xd - f.left);
        cols[2 * used + 1] = static_cast<int32_t>(xs);
        ++used;
    }

    Status st = ST_OK;
    const int unit = canvas->unit;
    for (int64_t r = 0; r < height && st == ST_OK; ++r) {
        memset(row.get(), 0, static_cast<size_t>(rowSize));
        st = readRow(in, &band->coding, packed.get(), row.get(), r == 0);
        const int64_t a = band->bounds.top + r - s.top;  // row within the source rectangle
        if (!visible || a < 0 || a >= srcH || used == 0) continue;
        bandRowToCanvas(*band, row.get(), width, unit, pixels.get());
        const int64_t y0 = std::max<int64_t>(d.top + ceilDiv(a * dstH, srcH), f.top);
        const int64_t y1 = std::min<int64_t>(d.top + ceilDiv((a + 1) * dstH, srcH), f.bottom);
        if (y1 > y0) {
            canvas->budget -= (y1 - y0) * used;
            if (canvas->budget < 0) return ST_CORRUPT;
        }
        for (int64_t y = y0; y < y1; ++y) {
            uint8_t* out = canvas->pixels.get() + (y - f.top) * canvas->width * unit;
            for (int64_t i = 0; i < used; ++i)
                memcpy(out + int64_t(cols[2 * i]) * unit, pixels.get() + int64_t(cols[2 * i + 1]) * unit,
                       static_cast<size_t>(unit));
        }
    }
    return st;
}

// What a first walk over the opcodes learns about the bits opcodes.
struct BandSurvey {
    int count = 0;
    bool allBitmaps = true;   // every band a 1-bit bitmap
    bool alpha = false;       // some band carries alpha
    bool direct = false;      // some band is a direct pixmap
};

Status readOpcode(PictInput* in, int version, uint16_t* op);
bool skipOpcodeData(PictInput* in, uint16_t op, int version);

// Counts the bands up to the end of the picture (or where the data end),
// skipping their rows.
BandSurvey surveyBands(PictInput* in, int version, LoadRequest* request) {
    BandSurvey survey;
    for (;;) {
        uint16_t op;
        if (readOpcode(in, version, &op) != ST_OK || op == OP_END) break;
        if (!isBitsOpcode(op)) {
            if (!skipOpcodeData(in, op, version)) break;
            continue;
        }
        Band band;
        if (readBandHeader(in, op, false, &band, request) != ST_OK) break;
        ++survey.count;
        survey.allBitmaps = survey.allBitmaps && band.pixels == BandPixels::Bits;
        survey.alpha = survey.alpha || band.alpha();
        survey.direct = survey.direct || (op == OP_DIRECT_BITS_RECT || op == OP_DIRECT_BITS_RGN);
        const int64_t h = rectHeight(band.bounds);
        if (!skipRows(in, band.coding, h > 0 ? h : 0)) break;
    }
    return survey;
}

// Draws every band of the picture into its frame, then delivers the frame.
Status composeBands(PictInput* in, int version, const PictRect& frame, const BandSurvey& survey,
                    LoadRequest* request) {
    if (!sizeFits(frame)) return badFile(request, MSG_BAD_SIZE);
    Canvas canvas;
    canvas.frame = frame;
    canvas.width = rectWidth(frame);
    canvas.height = rectHeight(frame);
    canvas.unit = survey.allBitmaps ? 1 : survey.alpha ? 4 : 3;
    canvas.budget = OVERDRAW * canvas.width * canvas.height;

    RasterHeader rh{};
    rh.channels = 1;
    rh.planes = 1;
    rh.width = static_cast<int32_t>(canvas.width);
    rh.height = static_cast<int32_t>(canvas.height);
    rh.layout = canvas.unit == 1 ? PL_BYTE_PIXELS : 0;
    rh.bitsPerPlane = static_cast<int16_t>(canvas.unit == 1 ? 1 : 8 * canvas.unit);
    rh.bytesPerPlane = static_cast<int32_t>(canvas.width * canvas.unit);
    setRasterName(rh.name, canvas.unit == 1 ? NAME_BITMAP : survey.direct ? NAME_DIRECT : NAME_PIXMAP);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    const uint16_t paletteFormat = canvas.unit == 1 ? PF_INVERT : 0;
    canvas.pixels = allocBuffer(static_cast<uint64_t>(canvas.width) * static_cast<uint64_t>(canvas.height) *
                                static_cast<uint64_t>(canvas.unit));
    if (!canvas.pixels) {
        endImage(paletteFormat, 8, nullptr);
        return ST_NO_MEMORY;
    }
    if (canvas.unit > 1) memset(canvas.pixels.get(), 0xFF, static_cast<size_t>(canvas.width * canvas.height * canvas.unit));

    for (;;) {
        uint16_t op;
        st = readOpcode(in, version, &op);
        if (st != ST_OK || op == OP_END) break;
        if (!isBitsOpcode(op)) {
            if (!skipOpcodeData(in, op, version)) st = ST_READ_ERROR;
        } else {
            Band band;
            st = readBandHeader(in, op, true, &band, request);
            if (st == ST_BAD_FILE && in->ended()) {
                // A header cut by the end of the file: the bands before it stay.
                request->message[0] = '\0';
                st = ST_READ_ERROR;
            }
            if (st == ST_OK) st = drawBand(in, &band, &canvas);
        }
        if (st != ST_OK) break;
    }
    if (st != ST_OK && st != ST_READ_ERROR && st != ST_CORRUPT) {
        endImage(paletteFormat, 8, nullptr);
        return st;
    }
    // What was drawn, the rest white, even when the data ended early or went wrong.
    const size_t rowBytes = static_cast<size_t>(canvas.width * canvas.unit);
    for (int64_t y = 0; y < canvas.height; ++y) {
        memcpy(rh.rowBuffer, canvas.pixels.get() + static_cast<size_t>(y) * rowBytes, rowBytes);
        Status put = putRows(-1, static_cast<int32_t>(y), 1);
        if (put != ST_OK) {
            st = put;
            break;
        }
    }
    endImage(paletteFormat, 8, nullptr);
    return st;
}

// Skips a colour pattern: its type, the 8-byte black-and-white pattern, then an
// RGB colour (dither patterns) or a whole pixmap with its table and pixels.
bool skipPixPat(PictInput* in) {
    const uint16_t type = in->u16();
    in->skip(8);
    if (type == 2) return in->skip(6);
    if (type != 1) return !in->ended();
    const int64_t rowBytes = in->u16() & ROW_BYTES_MASK;
    const PixMapFields pm = readPixMap(in);
    if (in->ended() || !readColourTable(in, nullptr)) return false;
    const int64_t height = rectHeight(pm.bounds);
    return skipRows(in, byteRows(rowBytes), height > 0 ? height : 0);
}

// Skips the data of a drawing, text or comment opcode. False when the file ends.
bool skipOpcodeData(PictInput* in, uint16_t op, int version) {
    if (op < OPCODE_TABLE_SIZE) {
        int8_t length = OPCODE_LENGTH[op];
        if (length >= 0) return in->skip(static_cast<uint64_t>(length));
        switch (length) {
        case REGION: return skipRegion(in);
        case WORD_LENGTH: {
            uint16_t n = in->u16();
            return !in->ended() && in->skip(n);
        }
        case PIX_PAT: return skipPixPat(in);
        case TEXT_4: case TEXT_1: case TEXT_2: {
            in->skip(length == TEXT_4 ? 4 : length == TEXT_2 ? 2 : 1);
            int count = in->byte();
            return count >= 0 && in->skip(static_cast<uint64_t>(count));
        }
        case LONG_COMMENT: {
            in->skip(2);  // kind
            uint16_t n = in->u16();
            return !in->ended() && in->skip(n);
        }
        case VERSION: return in->skip(version == 1 ? 1 : 2);
        default: return false;  // images are handled by the caller
        }
    }
    // Opcodes past the table: 0xA2..0xAF a length word and data, 0xB0..0xCF
    // nothing, 0xD0..0xFE a 32-bit length and data; from 0x0100 on (version 2):
    // 0x0100..0x7FFF (high byte x 2) bytes, 0x8000..0x80FF nothing, then a
    // 32-bit length and data.
    if (op <= 0xAF) {
        uint16_t n = in->u16();
        return !in->ended() && in->skip(n);
    }
    if (op <= 0xCF) return true;
    if (op <= 0xFE) {
        uint32_t n = in->u32();
        return !in->ended() && in->skip(n);
    }
    if (op <= 0x7FFF) return in->skip(static_cast<uint64_t>(op >> 8) * 2);
    if (op <= 0x80FF) return true;
    uint32_t n = in->u32();
    return !in->ended() && in->skip(n);
}

// Reads the next opcode: a byte in version 1, a word on an even offset in version 2.
Status readOpcode(PictInput* in, int version, uint16_t* op) {
    if (version == 2) {
        in->align();
        *op = in->u16();
    } else {
        const int c = in->byte();
        *op = static_cast<uint16_t>(c < 0 ? 0 : c);
    }
    return in->ended() ? ST_READ_ERROR : ST_OK;
}

}  // namespace

// After the 512-byte preamble, the picture size and frame: the version opcode
// of a version 1 picture, or that of version 2 and its version number.
bool acceptPict(const uint8_t* head, size_t n, int64_t) {
    constexpr size_t at = PREAMBLE + 10;
    if (n < at + 2) return false;
    const uint16_t version = loadU16BE(head + at);
    return version == VERSION_1 || (version == VERSION_2 && n >= at + 4 && loadU16BE(head + at + 2) == VERSION_2_NUMBER);
}

Status readPict(FILE* stream, LoadRequest* request) {
    if (request->fileSize > 0 && request->fileSize < PREAMBLE + 12) return ST_UNKNOWN_FORMAT;
    if (fseek(stream, PREAMBLE, SEEK_SET) != 0) return ST_UNKNOWN_FORMAT;
    PictInput in(stream, request->fileSize, PREAMBLE);
    in.skip(2);  // picture size
    const PictRect frame = readRect(&in);
    const uint16_t versionWord = in.u16();
    if (in.ended()) return ST_UNKNOWN_FORMAT;
    int version;
    if (versionWord == VERSION_1) {
        version = 1;
    } else if (versionWord == VERSION_2) {
        if (in.u16() != VERSION_2_NUMBER || in.ended()) return ST_UNKNOWN_FORMAT;
        version = 2;
        in.skip(VERSION_2_HEADER);
    } else {
        return ST_UNKNOWN_FORMAT;
    }

    // A first walk counts the bands; the second decodes them.
    const int64_t opcodes = in.position();
    const BandSurvey survey = surveyBands(&in, version, request);
    if (fseek(stream, static_cast<long>(opcodes), SEEK_SET) != 0) return ST_READ_ERROR;
    PictInput walk(stream, request->fileSize, opcodes);
    if (survey.count > 1) return composeBands(&walk, version, frame, survey, request);
    for (;;) {
        uint16_t op;
        if (readOpcode(&walk, version, &op) != ST_OK || op == OP_END) break;
        if (isBitsOpcode(op)) {
            Band band;
            Status st = readBandHeader(&walk, op, true, &band, request);
            return st == ST_OK ? streamBand(&walk, &band) : st;
        }
        if (!skipOpcodeData(&walk, op, version)) break;
    }
    return badFile(request, MSG_BAD_FORMAT);
}
