// Macintosh pictures: hand-built pictures pin down the opcode walk, every pixel
// coding and the refusals; pictures written by ImageMagick, GraphicsMagick and
// netpbm, and the corpus, decode to the pixels the peers read.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "packbits.h"
#include "testutil.h"

using namespace testutil;

namespace pnmtest {  // pnm_test.cpp
bool readPeerPnm(const std::string& path, Rgb* out, unsigned* maxvalOut);
std::vector<uint8_t> patternP6(int w, int h);
std::vector<uint8_t> pixelsOf(const Image& img);
std::string shell(std::string cmd, const std::vector<std::pair<std::string, std::string>>& names);
}  // namespace pnmtest
using pnmtest::pixelsOf;

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
        {"region forms are skipped whole",
         picture(2, cat({even(indexedOp(0x99, 2, 1, 8, 8, table8, cat({words({10, 0, 0, 1, 2}), packRows({Bytes(8, 1)}, false)}))),
                         even(directOp(0x9B, 2, 1, 8, 4, 32, 3, cat({words({10, 0, 0, 1, 2}), packRows({Bytes(6, 9)}, false)}))),
                         indexedOp(0x98, 2, 1, 8, 2, table8, {2, 3})})),
         ST_OK, nullptr, IMG_PALETTE, {0, 0, 255, 255, 255, 255}, true},
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
        ASSERT_TRUE(writeFile(src, pnmtest::patternP6(c.width, 23)));
        const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}, {"$R", ref}};
        ASSERT_EQ(run(pnmtest::shell(c.make, names)), 0);
        ASSERT_EQ(run(pnmtest::shell(c.ref, names)), 0);
        Rgb expected;
        ASSERT_TRUE(pnmtest::readPeerPnm(ref, &expected, nullptr));
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
        return run(pnmtest::shell(std::string(IM) + " '" + file + "' -alpha off -depth 8 ppm:" + ref, {})) == 0 &&
               pnmtest::readPeerPnm(ref, out, nullptr);
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
