// Macintosh pictures: hand-built pictures pin down the opcode walk, every pixel
// coding and the refusals; pictures written by ImageMagick, GraphicsMagick and
// netpbm, and the corpus, decode to the pixels the peers read.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "packbits.h"
#include "kit.h"

using namespace testutil;


namespace {

using Bytes = std::vector<uint8_t>;
const char IM[] = "convert-im6.q16";

void put16(Bytes* b, unsigned v) { b->insert(b->end(), {uint8_t(v >> 8), uint8_t(v)}); }
void put32(Bytes* b, uint32_t v) { put16(b, v >> 16), put16(b, v & 0xFFFF); }
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
// Version 2 pads the data of each opcode to an even length.
Bytes even(Bytes b) {
    if (b.size() & 1) b.push_back(0);
    return b;
}
Bytes words(std::initializer_list<unsigned> ws) {
    Bytes b;
    for (unsigned w : ws) put16(&b, w);
    return b;
}

// A picture file: preamble, size, frame, version (and the version 2 header), opcodes, end.
Bytes picture(int version, const Bytes& ops) {
    Bytes f(512, 0);
    put16(&f, 0);
    put32(&f, 0), put32(&f, 0x00100010);
    if (version == 1) {
        f.insert(f.end(), {0x11, 0x01});
    } else {
        f = cat({f, words({0x0011, 0x02FF, 0x0C00, 0xFFFE, 0, 0x48, 0, 0x48, 0, 0, 0, 0x10, 0x10, 0, 0})});
    }
    f = cat({f, ops});
    if (version == 1) f.push_back(0xFF);
    else f = cat({f, words({0x00FF})});
    return f;
}

Bytes rect(int w, int h) { return words({0, 0, unsigned(h), unsigned(w)}); }
Bytes rectsAndMode(int w, int h) { return cat({rect(w, h), rect(w, h), words({0})}); }

// The 44 PixMap bytes after rowBytes.
Bytes pixMap(int w, int h, unsigned packType, unsigned pixelType, unsigned pixelSize, unsigned cmpCount,
             unsigned cmpSize) {
    return cat({rect(w, h), words({0, packType, 0, 0, 0x48, 0, 0x48, 0, pixelType, pixelSize, cmpCount, cmpSize,
                                   0, 0, 0, 0, 0, 0})});
}

// Entries: value, red, green, blue.
Bytes colourTable(unsigned flags, const std::vector<std::array<unsigned, 4>>& entries) {
    Bytes b = words({0, 0, flags, unsigned(entries.size() - 1)});
    for (const auto& e : entries) b = cat({b, words({e[0], e[1], e[2], e[3]})});
    return b;
}

// Rows coded with PackBits, each after its byte count.
Bytes packRows(const std::vector<Bytes>& rows, bool wordCounts) {
    Bytes out;
    for (const Bytes& r : rows) {
        Bytes p(packBitsMaxEncodedSize(r.size()));
        p.resize(packBitsEncode(r.data(), r.size(), p.data(), p.size()));
        if (wordCounts) put16(&out, unsigned(p.size()));
        else out.push_back(uint8_t(p.size()));
        out = cat({out, p});
    }
    return out;
}

const std::vector<std::array<unsigned, 4>> RGB_TABLE = {
    {0, 0xFFFF, 0, 0}, {1, 0, 0xFFFF, 0}, {2, 0, 0, 0xFFFF}, {3, 0xFFFF, 0xFFFF, 0xFFFF}};

// A version 2 PackBitsRect (or other opcode) holding an indexed pixmap.
Bytes indexedOp(unsigned op, int w, int h, unsigned bits, unsigned rowBytes, const Bytes& table, const Bytes& data,
                unsigned pixelType = 0, unsigned cmpCount = 1, unsigned cmpSize = 0) {
    return cat({words({op, 0x8000 | rowBytes}), pixMap(w, h, 0, pixelType, bits, cmpCount, cmpSize ? cmpSize : bits),
                table, rectsAndMode(w, h), data});
}

Bytes directOp(unsigned op, int w, int h, unsigned rowBytes, unsigned packType, unsigned pixelSize,
               unsigned cmpCount, const Bytes& data) {
    return cat({words({op, 0, 0xFF, 0x8000 | rowBytes}),
                pixMap(w, h, packType, 16, pixelSize, cmpCount, pixelSize == 16 ? 5 : 8), rectsAndMode(w, h), data});
}

Bytes planes70(bool wordCounts) {
    Bytes row;
    for (int c = 0; c < 3; ++c)
        for (int x = 0; x < 70; ++x) row.push_back(uint8_t(c == 0 ? x : c == 1 ? 2 * x : 255 - x));
    return packRows({row}, wordCounts);
}
Bytes rgb70() {
    Bytes v;
    for (int x = 0; x < 70; ++x) v.insert(v.end(), {uint8_t(x), uint8_t(2 * x), uint8_t(255 - x)});
    return v;
}

// Drawing, text, comment, pattern and reserved opcodes of every kind of length,
// odd lengths padded, that the walk must step over.
Bytes everyKindOfOpcode() {
    return cat({words({0x0001, 10, 0, 0, 16, 16}),                       // Clip
                words({0x001E, 0x001D, 1, 2, 3}),                         // DefHilite, HiliteColor
                words({0x0004}), {7, 0},                                  // TxFace, padded
                words({0x0028, 1, 2}), {5, 'h', 'e', 'l', 'l', 'o'},      // LongText
                words({0x0029}), {4, 2, 'a', 'b'},                        // DHText
                words({0x002C, 3}), {1, 2, 3, 0},                         // fontName, padded
                words({0x0070, 14, 0, 0, 4, 4, 2, 2}),                    // polygon
                words({0x0081, 12, 0, 0, 4, 4, 9}),                       // region
                words({0x0012, 2, 0, 0, 0, 0, 1, 2, 3}),                  // dither colour pattern
                words({0x0014, 1, 0, 0, 0, 0, 0x8002}), pixMap(8, 2, 0, 0, 2, 1, 2),
                colourTable(0, {{0, 0, 0, 0}, {1, 1, 1, 1}}), {1, 2, 3, 4},  // pixel pattern
                words({0x00A0, 9, 0x00A1, 4, 3}), {1, 2, 3, 0},           // Short- and LongComment
                words({0x00A2, 1}), {9, 0},                               // reserved, length word
                words({0x00B0, 0x0100, 5, 0x8000}),                       // reserved, fixed lengths
                words({0x8100, 0, 3}), {1, 2, 3, 0},                      // reserved, 32-bit length
                words({0x00D0, 0, 2, 7, 0x30, 0, 0, 8, 8})});             // reserved, frameRect
}

struct HandCase {
    const char* name;
    Bytes file;
    Status status;
    const char* message;  // reader message, or the format name on success
    uint16_t kind;
    Bytes pixels;         // as R,G,B triplets when rgb is set
    bool rgb = false;
};

Status loadPict(const Bytes& bytes, Image* img, uint16_t flags, FileInfo* info) {
    return loadBytesAs("pict", bytes, img, flags, info);
}

TEST(PictReader, HandBuiltPictures) {
    const Bytes table8 = colourTable(0, RGB_TABLE);
    const Bytes rgbPixmap = indexedOp(0x98, 3, 2, 8, 8, table8, packRows({{0, 1, 2, 0, 0, 0, 0, 0}, {2, 2, 1, 0, 0, 0, 0, 0}}, false));
    const Bytes rgbPixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 255, 0};
    const std::vector<HandCase> cases = {
        {"version 2 reads its first pixmap after every kind of opcode", picture(2, cat({everyKindOfOpcode(), rgbPixmap})),
         ST_OK, "Macintosh PICT (Pixmap)", IMG_PALETTE, rgbPixels, true},
        {"version 1 BitsRect of 2-byte rows stands unpacked, 1 is black",
         picture(1, cat({{0x90, 0, 2}, rect(10, 2), rectsAndMode(10, 2), {0xC0, 0x40, 0x00, 0x80}})), ST_OK,
         "Macintosh PICT (Bitmap)", IMG_BINARY, {0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1}},
        {"version 1 PackBitsRect bitmap of 8-byte rows is packed",
         picture(1, cat({{0x98, 0, 8}, rect(12, 1), rectsAndMode(12, 1), packRows({{0xF0, 0xA0, 0, 0, 0, 0, 0, 0}}, false)})),
         ST_OK, nullptr, IMG_BINARY, {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1}},
        {"colour table in position order when flags bit 15 is set",
         picture(2, indexedOp(0x98, 4, 1, 2, 1, colourTable(0x8000, {{0, 0xFFFF, 0, 0}, {0, 0, 0xFFFF, 0}, {0, 0, 0, 0xFFFF}, {0, 0xFFFF, 0xFFFF, 0xFFFF}}), {0x1B})),
         ST_OK, nullptr, IMG_PALETTE, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}, true},
        {"16-bit colour components are scaled, not cut to a byte",
         picture(2, indexedOp(0x98, 2, 1, 4, 1, colourTable(0, {{0, 0x8000, 0x40FF, 0x00C0}, {1, 0x1234, 0xFF00, 0x0101}}), {0x01})),
         ST_OK, nullptr, IMG_PALETTE, {128, 65, 1, 18, 254, 1}, true},
        {"an entry value past the table lands on its last entry",
         picture(2, indexedOp(0x98, 2, 1, 8, 2, colourTable(0, {{0, 0xFFFF, 0, 0}, {7, 0, 0, 0xFFFF}}), {0, 1})), ST_OK,
         nullptr, IMG_PALETTE, {255, 0, 0, 0, 0, 255}, true},
        {"a run past the row is cut and the next row stays in step",
         picture(2, indexedOp(0x98, 8, 2, 8, 8, table8, {4, 0xF0, 3, 0x00, 1, 2, 0xF9, 2})), ST_OK, nullptr, IMG_PALETTE,
         {3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2}},
        {"16-bit rows run-length coded a word at a time",
         picture(2, directOp(0x9A, 5, 1, 10, 0, 16, 3, {8, 0xFE, 0x7C, 0x00, 0x01, 0x03, 0xE0, 0x00, 0x1F})), ST_OK,
         "Macintosh PICT 2 (DirectBits Pixmap)", IMG_RGB, {255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}},
        {"16-bit rows of 6 bytes stand unpacked",
         picture(2, directOp(0x9A, 3, 1, 6, 0, 16, 3, {0x7F, 0xFF, 0, 0, 0x42, 0x10})), ST_OK, nullptr, IMG_RGB,
         {255, 255, 255, 0, 0, 0, 131, 131, 131}},
        {"32-bit pixels of three component planes read as RGB",
         picture(2, directOp(0x9A, 2, 1, 8, 4, 32, 3, packRows({{10, 20, 30, 40, 50, 60}}, false))), ST_OK, nullptr,
         IMG_RGB, {10, 30, 50, 20, 40, 60}},
        {"32-bit pixels of four planes carry alpha, stored first",
         picture(2, directOp(0x9A, 2, 1, 8, 4, 32, 4, packRows({{1, 2, 10, 20, 30, 40, 50, 60}}, false))), ST_OK,
         nullptr, IMG_RGB32, {10, 30, 50, 1, 20, 40, 60, 2}},
        {"32-bit unpacked pixels (packType 1) drop their padding byte",
         picture(2, directOp(0x9A, 2, 1, 8, 1, 32, 3, {9, 10, 30, 50, 9, 20, 40, 60})), ST_OK, nullptr, IMG_RGB32,
         {10, 30, 50, 0, 20, 40, 60, 0}},
        {"32-bit pixels without padding (packType 2)",
         picture(2, directOp(0x9A, 2, 1, 8, 2, 32, 3, {10, 30, 50, 20, 40, 60})), ST_OK, nullptr, IMG_RGB,
         {10, 30, 50, 20, 40, 60}},
        {"rows over 250 bytes have word counts",
         picture(2, directOp(0x9A, 70, 1, 280, 4, 32, 3, planes70(true))), ST_OK, nullptr, IMG_RGB, rgb70()},
        {"byte counts are accepted where the planes fit 250 bytes",
         picture(2, directOp(0x9A, 70, 1, 280, 4, 32, 3, planes70(false))), ST_OK, nullptr, IMG_RGB, rgb70()},
        {"region forms are bands too: three over one place, the last drawn shows, the rest of the frame is white",
         picture(2, cat({even(indexedOp(0x99, 2, 1, 8, 8, table8, cat({words({10, 0, 0, 1, 2}), packRows({Bytes(8, 1)}, false)}))),
                         even(directOp(0x9B, 2, 1, 8, 4, 32, 3, cat({words({10, 0, 0, 1, 2}), packRows({Bytes(6, 9)}, false)}))),
                         indexedOp(0x98, 2, 1, 8, 2, table8, {2, 3})})),
         ST_OK, nullptr, IMG_RGB, [] { Bytes p(16 * 16 * 3, 255); p[0] = p[1] = 0; return p; }(), true},
        // Refusals.
        {"shorter than the preamble", Bytes(400, 0), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"unknown version word", [] { Bytes f = picture(1, {}); f[523] = 0x02; return f; }(), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"version 2 without 0x02FF", [] { Bytes f = picture(2, {}); f[525] = 0xFE; return f; }(), ST_UNKNOWN_FORMAT,
         nullptr, 0, {}},
        {"vector drawing only", picture(2, cat({words({0x0031, 0, 0, 8, 8}), words({0x0038})})), ST_BAD_FILE,
         "APPLE pict : Bad picture's format !", 0, {}},
        {"a comment longer than the file", picture(2, cat({words({0x00A1, 1, 0xFFFF}), rgbPixmap})), ST_BAD_FILE,
         "APPLE pict : Bad picture's format !", 0, {}},
        {"pixmap header cut", [&] { Bytes f = picture(2, rgbPixmap); f.resize(600); return f; }(), ST_BAD_FILE,
         "APPLE pict : Bad picture's format !", 0, {}},
        {"pixel type 16 in a PackBitsRect", picture(2, indexedOp(0x98, 2, 1, 8, 2, table8, {0, 1}, 16)), ST_BAD_FILE,
         "APPLE pict : Bad pixel type !", 0, {}},
        {"three components in a PackBitsRect", picture(2, indexedOp(0x98, 2, 1, 8, 2, table8, {0, 1}, 0, 3)),
         ST_BAD_FILE, "APPLE pict : Bad cmpCount != 1 !", 0, {}},
        {"pixelSize 8 with cmpSize 4", picture(2, indexedOp(0x98, 2, 1, 8, 2, table8, {0, 1}, 0, 1, 4)), ST_BAD_FILE,
         "APPLE pict : Bad pixel size !", 0, {}},
        {"indexed pixels of 16 bits", picture(2, indexedOp(0x98, 2, 1, 16, 4, table8, {0, 1, 0, 1})), ST_BAD_FILE,
         "APPLE pict : Bad pixel size !", 0, {}},
        {"direct pixels of 24 bits", picture(2, directOp(0x9A, 2, 1, 8, 4, 24, 3, {})), ST_BAD_FILE,
         "APPLE pict : Bad pixel size !", 0, {}},
        {"width 0", picture(2, indexedOp(0x98, 0, 1, 8, 2, table8, {})), ST_BAD_FILE,
         "APPLE pict : Bad picture's size !", 0, {}},
        {"height 16000", picture(2, directOp(0x9A, 1, 16000, 4, 0, 32, 3, {})), ST_BAD_FILE,
         "APPLE pict : Bad picture's size !", 0, {}},
        // Damaged data: the rows so far stay.
        {"rows cut", [&] { Bytes f = picture(2, rgbPixmap); f.resize(f.size() - 6); return f; }(), ST_READ_ERROR, nullptr,
         IMG_PALETTE, {0, 1, 2, 2, 2, 0}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadPict(c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(c.status == ST_OK ? info.formatName : info.message, c.message);
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            if (c.pixels.empty()) continue;
            ASSERT_EQ(loadPict(c.file, &img, OPT_ACCEPT_DAMAGED, nullptr), ST_OK);
        }
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

int maxDifference(const Rgb& a, const Rgb& b);

// ---- pictures of several bands ------------------------------------------------------

struct Place {
    int top, left, bottom, right;
};
Bytes box(const Place& p) { return words({unsigned(p.top), unsigned(p.left), unsigned(p.bottom), unsigned(p.right)}); }

// A version 2 picture with its own frame.
Bytes framed(const Place& frame, const Bytes& ops) {
    Bytes f = picture(2, ops);
    const Bytes b = box(frame);
    std::copy(b.begin(), b.end(), f.begin() + 514);
    return f;
}

// The PixMap fields after rowBytes, with its bounds.
Bytes pixMapAt(const Place& b, unsigned packType, unsigned pixelType, unsigned size, unsigned cmpCount,
               unsigned cmpSize) {
    return cat({box(b), words({0, packType, 0, 0, 0x48, 0, 0x48, 0, pixelType, size, cmpCount, cmpSize, 0, 0, 0, 0, 0,
                               0})});
}

// An 8-bit PackBitsRect band of one index a row (rows of 8 bytes or more are packed).
Bytes indexedBand(const Place& b, const Place& src, const Place& dst, const std::vector<Bytes>& rows) {
    const unsigned rowBytes = unsigned(b.right - b.left);
    Bytes data;
    if (rowBytes < 8) {
        for (const Bytes& r : rows) data = cat({data, r});
    } else {
        data = packRows(rows, false);
    }
    return even(cat({words({0x98, 0x8000 | rowBytes}), pixMapAt(b, 0, 0, 8, 1, 8), colourTable(0, RGB_TABLE), box(src),
                     box(dst), words({0}), data}));
}

// A 32-bit DirectBitsRect band of component planes (A,R,G,B when alpha is set).
Bytes directBand(const Place& b, const Place& src, const Place& dst, const std::vector<Bytes>& rows, bool alpha) {
    const unsigned w = unsigned(b.right - b.left);
    return even(cat({words({0x9A, 0, 0xFF, 0x8000 | 4 * w}), pixMapAt(b, 4, 16, 32, alpha ? 4 : 3, 8), box(src),
                     box(dst), words({0}), packRows(rows, 4 * w > 250)}));
}

// A 1-bit BitsRect band of unpacked rows (1 is black).
Bytes bitmapBand(const Place& b, const Place& src, const Place& dst, const Bytes& rows, unsigned rowBytes) {
    return even(cat({words({0x90, rowBytes}), box(b), box(src), box(dst), words({0}), rows}));
}

// A picture of w x h R,G,B triplets, white where nothing is set.
struct Expect {
    int w, h, unit;
    Bytes px;
    Expect(int w_, int h_, int unit_ = 3) : w(w_), h(h_), unit(unit_), px(size_t(w_) * h_ * unit_, 255) {}
    Expect& set(int x, int y, Bytes v) {
        std::copy(v.begin(), v.end(), px.begin() + (size_t(y) * w + x) * unit);
        return *this;
    }
};

TEST(PictReader, BandsAreDrawnIntoTheFrame) {
    const Bytes red = {255, 0, 0}, green = {0, 255, 0}, blue = {0, 0, 255}, black = {0, 0, 0};
    const Place frame = {10, 20, 16, 24};  // 4 wide, 6 high, not at the origin
    // Rows 10-11: indices 0,1,2,3 (red, green, blue, white); rows 12-13: direct pixels.
    const Bytes top = indexedBand({10, 20, 12, 24}, {10, 20, 12, 24}, {10, 20, 12, 24}, {{0, 1, 2, 3}, {1, 1, 2, 2}});
    const Bytes middle = directBand({0, 0, 2, 4}, {0, 0, 2, 4}, {12, 20, 14, 24},
                                    {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, false);
    // Row 14, left half only: 1 bits black.
    const Bytes low = bitmapBand({14, 20, 15, 22}, {14, 20, 15, 22}, {14, 20, 15, 22}, {0x80}, 1);
    Expect three(4, 6);
    three.set(0, 0, red).set(1, 0, green).set(2, 0, blue).set(0, 1, green).set(1, 1, green).set(2, 1, blue).set(3, 1, blue);
    three.set(0, 2, {1, 5, 9}).set(1, 2, {2, 6, 10}).set(2, 2, {3, 7, 11}).set(3, 2, {4, 8, 12});
    for (int x = 0; x < 4; ++x) three.set(x, 3, black);
    three.set(0, 4, black);

    // Bitmaps only: the picture stays black and white (0 black in the image).
    const Bytes bitsA = bitmapBand({0, 0, 1, 8}, {0, 0, 1, 8}, {0, 0, 1, 8}, {0xA5}, 1);
    const Bytes bitsB = bitmapBand({0, 0, 1, 8}, {0, 0, 1, 8}, {2, 0, 3, 8}, {0x0F}, 1);
    Expect bits(8, 3, 1);
    for (int x = 0; x < 8; ++x) bits.set(x, 0, {uint8_t(!(0xA5 >> (7 - x) & 1))}).set(x, 1, {1}).set(x, 2, {uint8_t(x < 4)});

    // Reaching out of the frame on every side: clipped.
    const Bytes wide = directBand({0, 0, 1, 6}, {0, 0, 1, 6}, {0, -2, 1, 4},
                                  {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}}, false);
    const Bytes past = indexedBand({0, 0, 2, 3}, {0, 0, 2, 3}, {1, 2, 3, 5}, {{0, 1, 2}, {2, 1, 0}});
    Expect clipped(3, 2);
    clipped.set(0, 0, {3, 9, 15}).set(1, 0, {4, 10, 16}).set(2, 0, {5, 11, 17});  // columns 2-4 of `wide`
    clipped.set(2, 1, red);  // only the top left pixel of `past` falls inside

    // A source rectangle of 2 x 1 stretched over 4 x 2: each pixel twice each way.
    const Bytes stretched = indexedBand({0, 0, 1, 2}, {0, 0, 1, 2}, {0, 0, 2, 4}, {{0, 2}});
    const Bytes dummy = indexedBand({0, 0, 1, 1}, {0, 0, 1, 1}, {3, 3, 4, 4}, {{1}});
    Expect stretch(4, 4);
    for (int y = 0; y < 2; ++y) stretch.set(0, y, red).set(1, y, red).set(2, y, blue).set(3, y, blue);
    stretch.set(3, 3, green);
    // Only part of the bounds as source: the right column, moved left.
    const Bytes part = indexedBand({0, 0, 1, 3}, {0, 2, 1, 3}, {1, 0, 2, 1}, {{0, 1, 2}});
    Expect partial(4, 4);
    partial.set(0, 1, blue).set(3, 3, green);

    // An alpha band makes the picture carry alpha; other bands are opaque.
    const Bytes alphaBand = directBand({0, 0, 1, 2}, {0, 0, 1, 2}, {0, 0, 1, 2}, {{7, 8, 1, 2, 3, 4, 5, 6}}, true);
    const Bytes opaque = indexedBand({0, 0, 1, 2}, {0, 0, 1, 2}, {1, 0, 2, 2}, {{0, 1}});
    Expect alpha(2, 3, 4);
    alpha.set(0, 0, {1, 3, 5, 7}).set(1, 0, {2, 4, 6, 8}).set(0, 1, {255, 0, 0, 255}).set(1, 1, {0, 255, 0, 255});

    Bytes cut = framed(frame, cat({top, middle, low}));
    cut.resize(cut.size() - low.size() - 2 - 10);  // into the middle band's rows
    Expect cutExpect(4, 6);
    cutExpect.set(0, 0, red).set(1, 0, green).set(2, 0, blue).set(0, 1, green).set(1, 1, green).set(2, 1, blue).set(3, 1, blue);
    // The first middle row lost its last 6 bytes: red 1-4 and green 5-6 remain.
    cutExpect.set(0, 2, {1, 5, 0}).set(1, 2, {2, 6, 0}).set(2, 2, {3, 0, 0}).set(3, 2, {4, 0, 0});

    // Each band stretches one pixel over the whole frame: the fifth paints it a fifth time.
    const Bytes cover = indexedBand({0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 4, 4}, {{1}});
    Expect covered(4, 4);
    for (int i = 0; i < 16; ++i) covered.set(i % 4, i / 4, green);

    struct BandCase {
        const char* name;
        Bytes file;
        Status status;
        const char* message;
        uint16_t kind;
        Expect expect;
    };
    const std::vector<BandCase> cases = {
        {"indexed, direct and bitmap bands, white elsewhere", framed(frame, cat({words({0x00A0, 3}), top, middle, low})),
         ST_OK, "Macintosh PICT 2 (DirectBits Pixmap)", IMG_RGB, three},
        {"bitmap bands only stay black and white", framed({0, 0, 3, 8}, cat({bitsA, bitsB})), ST_OK,
         "Macintosh PICT (Bitmap)", IMG_BINARY, bits},
        {"bands reaching out of the frame are clipped", framed({0, 0, 2, 3}, cat({wide, past})), ST_OK, nullptr,
         IMG_RGB, clipped},
        {"a source rectangle is stretched over its destination", framed({0, 0, 4, 4}, cat({stretched, dummy})), ST_OK,
         "Macintosh PICT (Pixmap)", IMG_RGB, stretch},
        {"a source rectangle inside the bounds", framed({0, 0, 4, 4}, cat({part, dummy})), ST_OK, nullptr, IMG_RGB,
         partial},
        {"an alpha band gives alpha; the others are opaque", framed({0, 0, 3, 2}, cat({alphaBand, opaque})), ST_OK,
         nullptr, IMG_RGB32, alpha},
        {"cut in the second band: the first stays", cut, ST_READ_ERROR, nullptr, IMG_RGB, cutExpect},
        {"four bands may cover the frame, not five", framed({0, 0, 4, 4}, cat({cover, cover, cover, cover, cover})),
         ST_CORRUPT, nullptr, IMG_RGB, covered},
        {"frame of 16000 rows", framed({0, 0, 16000, 4}, cat({top, middle})), ST_BAD_FILE,
         "APPLE pict : Bad picture's size !", 0, Expect(0, 0)},
        {"empty frame", framed({5, 5, 5, 9}, cat({top, middle})), ST_BAD_FILE, "APPLE pict : Bad picture's size !", 0,
         Expect(0, 0)},
        {"a second band of 24-bit pixels", framed(frame, cat({top, [] {
             Bytes b = directBand({0, 0, 1, 2}, {0, 0, 1, 2}, {0, 0, 1, 2}, {{1, 2, 3, 4, 5, 6}}, false);
             b[35] = 24;  // low byte of pixelSize
             return b;
         }()})), ST_BAD_FILE, "APPLE pict : Bad pixel size !", 0, Expect(0, 0)},
    };
    for (const BandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadPict(c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(c.status == ST_OK ? info.formatName : info.message, c.message);
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            if (c.expect.px.empty()) continue;
            EXPECT_STREQ(info.message, "");
            ASSERT_EQ(loadPict(c.file, &img, OPT_ACCEPT_DAMAGED, nullptr), ST_OK);
        }
        EXPECT_EQ(img.kind, c.kind);
        ASSERT_EQ(img.width, c.expect.w);
        ASSERT_EQ(img.height, c.expect.h);
        EXPECT_EQ(c.expect.unit == 3 ? toRgb(img).pixels : pixelsOf(img), c.expect.px);
    }
}

// ImageMagick composes the bands of a picture too: a pattern cut into bands
// of different kinds (32-bit planes, 16-bit words, 8-bit indices) reads the same.
TEST(PictReader, BandsMatchImageMagick) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const int w = 37, h = 23;
    const Bytes p6 = patternP6(w, h);
    const uint8_t* px = p6.data() + p6.size() - size_t(w) * h * 3;
    auto planesRow = [&](int y) {
        Bytes r;
        for (int c = 0; c < 3; ++c)
            for (int x = 0; x < w; ++x) r.push_back(px[(size_t(y) * w + x) * 3 + c]);
        return r;
    };
    // Rows 0-9 as 32-bit planes, rows 10-19 as packed 5-5-5 words of the top bits,
    // rows 20-22 in the four indexed colours (by the pixel's largest component).
    std::vector<Bytes> first, second, third;
    for (int y = 0; y < 10; ++y) first.push_back(planesRow(y));
    Bytes words555;  // each row one literal group of 37 words after its byte count
    for (int y = 10; y < 20; ++y) {
        words555.insert(words555.end(), {uint8_t(1 + 2 * w), uint8_t(w - 1)});
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = px + (size_t(y) * w + x) * 3;
            put16(&words555, unsigned((p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3)));
        }
    }
    for (int y = 20; y < h; ++y) {
        Bytes r;
        for (int x = 0; x < w; ++x) r.push_back(uint8_t((x + y) % 4));
        third.push_back(r);
    }
    const Bytes band16 = even(cat({words({0x9A, 0, 0xFF, 0x8000 | 2 * w}), pixMapAt({10, 0, 20, w}, 0, 16, 16, 3, 5),
                                   box({10, 0, 20, w}), box({10, 0, 20, w}), words({0}), words555}));
    const Bytes file = framed({0, 0, h, w}, cat({directBand({0, 0, 10, w}, {0, 0, 10, w}, {0, 0, 10, w}, first, false),
                                                 band16,
                                                 indexedBand({0, 0, 3, w}, {0, 0, 3, w}, {20, 0, 23, w}, third)}));
    const std::string path = tempPath("bands.pct"), ref = tempPath("bands.ppm");
    ASSERT_TRUE(writeFile(path, file));
    ASSERT_EQ(run(shell(std::string(IM) + " " + path + " -depth 8 ppm:" + ref, {})), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
    OwnedImage img;
    ASSERT_EQ(load(path, &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_RGB);
    // ImageMagick widens 5-bit components by a shift, we by scaling.
    const int diff = maxDifference(toRgb(img), expected);
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, 7);
}

// ---- files written by the peers ---------------------------------------------------

// Largest difference of any component, or -1 when the sizes differ.
int maxDifference(const Rgb& a, const Rgb& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) worst = std::max(worst, std::abs(a.pixels[i] - b.pixels[i]));
    return worst;
}

struct PeerCase {
    const char* name;
    const char* make;  // $S source P6, $O the picture
    const char* ref;   // $R the reference P6
    int width;
    uint16_t kind;
    int tolerance;
};

// Colour tables written by the peers hold 16-bit components that are not
// multiples of 257. We round them to the nearest 8-bit value; both peers cut
// them (v div 257) when they read the pictures back, so their values may be 1 lower.
TEST(PictReader, PeerFilesDecodeToTheirPixels) {
    if (!haveProgram(IM) || !haveProgram("gm") || !haveProgram("ppmtopict")) GTEST_SKIP() << "peers missing";
    const char* readBack = "convert-im6.q16 $O -depth 8 ppm:$R";
    const std::vector<PeerCase> cases = {
        {"ImageMagick 32-bit planes", "convert-im6.q16 $S pict:$O", readBack, 37, IMG_RGB, 0},
        {"ImageMagick 32-bit planes, word counts", "convert-im6.q16 $S pict:$O", readBack, 90, IMG_RGB, 0},
        {"ImageMagick with alpha", "convert-im6.q16 $S -alpha on pict:$O", readBack, 37, IMG_RGB32, 0},
        {"ImageMagick palette", "convert-im6.q16 $S -colors 60 -type Palette pict:$O", readBack, 37, IMG_PALETTE, 1},
        {"ImageMagick palette, word counts", "convert-im6.q16 $S -colors 60 -type Palette pict:$O", readBack, 300,
         IMG_PALETTE, 1},
        {"ImageMagick grey", "convert-im6.q16 $S -type Grayscale pict:$O", readBack, 37, IMG_RGB, 0},
        {"ImageMagick bilevel", "convert-im6.q16 $S -type Bilevel pict:$O", readBack, 37, IMG_PALETTE, 0},
        {"GraphicsMagick 32-bit planes", "gm convert $S pict:$O", readBack, 37, IMG_RGB, 0},
        {"GraphicsMagick palette", "gm convert $S -colors 100 -type Palette pict:$O", "gm convert $O ppm:$R", 300,
         IMG_PALETTE, 1},
        {"netpbm", "(pnmquant 200 $S | ppmtopict) > $O", readBack, 37, IMG_PALETTE, 0},
        {"netpbm, word counts", "(pnmquant 200 $S | ppmtopict) > $O", readBack, 260, IMG_PALETTE, 0},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string src = tempPath("pict_src" + std::to_string(n) + ".ppm");
        const std::string out = tempPath("pict_peer" + std::to_string(n) + ".pct");
        const std::string ref = tempPath("pict_peer" + std::to_string(n++) + ".ppm");
        ASSERT_TRUE(writeFile(src, patternP6(c.width, 23)));
        const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}, {"$R", ref}};
        ASSERT_EQ(run(shell(c.make, names)), 0);
        ASSERT_EQ(run(shell(c.ref, names)), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        const int diff = maxDifference(toRgb(img), expected);
        EXPECT_GE(diff, 0);
        EXPECT_LE(diff, c.tolerance);
    }
}

TEST(PictReader, CorpusFiles) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/";
    Bytes probe;
    if (!readFile(dir + "pict/VENUS.PCT", &probe)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    auto peer = [](const std::string& file, Rgb* out) {
        const std::string ref = tempPath("pict_corpus.ppm");
        return run(shell(std::string(IM) + " '" + file + "' -alpha off -depth 8 ppm:" + ref, {})) == 0 &&
               readPeerPnm(ref, out, nullptr);
    };
    // ImageMagick reads the clip region of food.pct (0x8001, 0x8001, 0x7FFF,
    // 0x7FFF) as a bad header: a copy with the picture's frame as clip stands in.
    Bytes food;
    ASSERT_TRUE(readFile(dir + "pict/food.pct", &food));
    ASSERT_GT(food.size(), 0x236u);
    const Bytes frame = rect(0x92, 0xC2);
    std::copy(frame.begin(), frame.end(), food.begin() + 0x22E);
    const std::string foodClip = tempPath("food_clip.pct");
    ASSERT_TRUE(writeFile(foodClip, food));

    struct CorpusCase {
        const char* file;
        uint16_t kind;
        std::string reference;  // read by ImageMagick
        int tolerance;
    };
    const std::vector<CorpusCase> cases = {
        {"pict/VENUS.PCT", IMG_PALETTE, dir + "pict/VENUS.PCT", 0},
        {"pict/food.pct", IMG_RGB32, foodClip, 0},
        // 16-bit pixels: ImageMagick widens 5 bits by a shift, we by scaling.
        {"pict/mire16.pict", IMG_RGB, dir + "pict/mire16.pict", 7},
        // ImageMagick refuses the three-plane rows of mire32.pict; it is the
        // same test card as mire16.pict.
        {"pict/mire32.pict", IMG_RGB, dir + "pict/mire16.pict", 7},
        // input.pict counts its rows of 210 plane bytes with bytes although its
        // rowBytes is 280; neither peer reads it. It holds the picture of input.psd.
        {"pict/input.pict", IMG_RGB, dir + "psd/input.psd", 0},
    };
    for (const CorpusCase& c : cases) {
        SCOPED_TRACE(c.file);
        OwnedImage img;
        ASSERT_EQ(load(dir + c.file, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        Rgb expected;
        ASSERT_TRUE(peer(c.reference, &expected));
        EXPECT_LE(maxDifference(toRgb(img), expected), c.tolerance);
        EXPECT_GE(maxDifference(toRgb(img), expected), 0);
    }
    // FC10.PCT, a version 1 bitmap: both peers turn every pixel black, where
    // QuickDraw draws 1 bits black on white. A drawing of a bird: mostly white.
    OwnedImage bird;
    ASSERT_EQ(load(dir + "pict/FC10.PCT", &bird), ST_OK);
    ASSERT_EQ(bird.kind, IMG_BINARY);
    ASSERT_EQ(bird.width, 2265);
    ASSERT_EQ(bird.height, 2593);
    size_t black = 0;
    for (uint8_t v : pixelsOf(bird)) black += v == 0;
    EXPECT_NEAR(double(black) / (2265.0 * 2593.0), 0.0714, 0.001);
    EXPECT_EQ(bird.pixels[0], 1);
}

}  // namespace
