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

#include "codecs.h"
#include "packbits.h"
#include "pictint.h"
#include "rowkit.h"

namespace pict {

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

Status badFile(LoadRequest* request, const char* message) {
    setReaderMessage(request, message);
    return ST_BAD_FILE;
}

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
        Status put = deliverRow(r, deliver, y);
        if (put != ST_OK) st = put;
    }
    endImage(paletteFormat, 8, palette);
    return st;
}

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
    band->rh.compression = band->coding.packed ? "PackBits" : nullptr;
    return decodeRows(in, &band->rh, band->coding, band->fix, band->paletteFormat, band->palette.get());
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

}  // namespace pict

using namespace pict;

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
