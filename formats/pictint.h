// The PICT reader's shared pieces: the input, the rectangles, the bands and
// how their rows are coded, for the reader (pict.cpp) and the drawing of
// pictures made of several bands (pictbands.cpp).
#pragma once
#include <cstdint>
#include <cstdio>

#include "codec.h"
#include "kaleocore.h"
#include "stream.h"

namespace pict {

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

// How the rows of one bitmap or pixmap are stored.
struct RowCoding {
    int64_t unpacked = 0;      // bytes one row expands to
    bool packed = false;       // each row: a byte count and run-length groups
    bool wordCounts = false;   // the byte count is a word
    int unit = 1;              // bytes repeated by a run: 1, or 2 for 16-bit pixels
};

// How the decoded rows reach the core.
enum class RowFix {
    None,
    SwapWords,   // 16-bit big-endian words to machine order
    ClearPad,    // unpacked 32-bit pixels without alpha: the first byte is padding
};

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

inline int64_t rectWidth(const PictRect& r) { return int64_t(r.right) - r.left; }
inline int64_t rectHeight(const PictRect& r) { return int64_t(r.bottom) - r.top; }

inline bool sizeFits(const PictRect& bounds) {
    const int64_t w = rectWidth(bounds), h = rectHeight(bounds);
    return w >= 1 && w <= MAX_IMAGE_SIDE && h >= 1 && h <= MAX_IMAGE_SIDE;
}

// The reader's message and ST_BAD_FILE.
Status badFile(LoadRequest* request, const char* message);
// Reads one row into out (coding.unpacked bytes, zeroed first).
Status readRow(PictInput* in, RowCoding* coding, uint8_t* packed, uint8_t* out, bool firstRow);
// Skips the rows of an image that is not decoded.
bool skipRows(PictInput* in, const RowCoding& coding, int64_t height);
bool isBitsOpcode(uint16_t op);
// Everything of a bits opcode up to its rows; with check set, what cannot be
// decoded is refused with its message.
Status readBandHeader(PictInput* in, uint16_t op, bool check, Band* band, LoadRequest* request);
// Reads the next opcode: a byte in version 1, a word on an even offset in version 2.
Status readOpcode(PictInput* in, int version, uint16_t* op);
// Skips the data of an opcode that is not a bits opcode.
bool skipOpcodeData(PictInput* in, uint16_t op, int version);

// What a first walk over the opcodes learns about the bits opcodes.
struct BandSurvey {
    int count = 0;
    bool allBitmaps = true;   // every band a 1-bit bitmap
    bool alpha = false;       // some band carries alpha
    bool direct = false;      // some band is a direct pixmap
};

// Counts the bands up to the end of the picture (or where the data end).
BandSurvey surveyBands(PictInput* in, int version, LoadRequest* request);
// Draws every band of the picture into its frame, then delivers the frame.
Status composeBands(PictInput* in, int version, const PictRect& frame, const BandSurvey& survey,
                    LoadRequest* request);

}  // namespace pict
