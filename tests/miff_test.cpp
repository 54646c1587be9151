// ImageMagick files: hand-built headers pin down the tokeniser, the pixel
// packets and the refusals; files written by ImageMagick and GraphicsMagick
// and the corpus decode to the pixels ImageMagick reads; our files round-trip
// and ImageMagick reads them back to the same pixels and alpha.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
using Bytes = std::vector<uint8_t>;

Bytes miff(const std::string& header, Bytes data) {
    Bytes b(header.begin(), header.end());
    b.insert(b.end(), {':', 0x1A});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

struct Case {
    const char* name;
    Bytes file;
    Status status;
    const char* message;
    uint16_t kind;
    Bytes pixels;  // image bytes (R,G,B triplets when rgb)
    bool rgb;
};

TEST(MiffReader, HandBuiltFiles) {
    Bytes runs = {9, 8, 7, 255};  // one packet of 256 pixels across rows
    const std::vector<Case> cases = {
        {"direct colour after a comment", miff("{ made by hand }\nid=ImageMagick\nclass=DirectClass columns=2 rows=1\n",
                                              {1, 2, 3, 4, 5, 6}),
         ST_OK, nullptr, IMG_RGB, {1, 2, 3, 4, 5, 6}, false},
        {"capitalised keys and a value in braces",
         miff("Id=ImageMagick Comment={two words} Columns=1 Rows=1\n", {7, 8, 9}), ST_OK, nullptr, IMG_RGB, {7, 8, 9},
         false},
        {"matte with direct colour reads four bytes",
         miff("id=ImageMagick class=DirectClass matte=True columns=1 rows=2\n", {1, 2, 3, 4, 5, 6, 7, 8}), ST_OK,
         nullptr, IMG_RGB32, {1, 2, 3, 4, 5, 6, 7, 8}, false},
        {"pseudo colour with a map", miff("id=ImageMagick class=PseudoClass colors=2 columns=3 rows=1\n",
                                          {10, 20, 30, 40, 50, 60, 1, 0, 1}),
         ST_OK, nullptr, IMG_PALETTE, {40, 50, 60, 10, 20, 30, 40, 50, 60}, true},
        {"pseudo colour with matte pairs index and alpha",
         miff("id=ImageMagick class=PseudoClass colors=2 matte=True columns=2 rows=1\n",
              {10, 20, 30, 40, 50, 60, 1, 200, 0, 100}),
         ST_OK, nullptr, IMG_RGB32, {40, 50, 60, 200, 10, 20, 30, 100}, false},
        {"grey colour space, one byte a pixel",
         miff("id=ImageMagick class=DirectClass colorspace=Gray columns=3 rows=1\n", {0, 128, 255}), ST_OK, nullptr,
         IMG_GREY, {0, 128, 255}, false},
        {"run of 256 pixels across rows", miff("id=ImageMagick compression=RLE columns=128 rows=2\n", runs), ST_OK,
         nullptr, IMG_RGB, {}, false},
        {"old run-length name, pseudo colour",
         miff("id=ImageMagick class=PseudoClass colors=2 compression=RunlengthEncoded columns=4 rows=1\n",
              {10, 20, 30, 40, 50, 60, 1, 2, 0, 0}),
         ST_OK, nullptr, IMG_PALETTE, {40, 50, 60, 40, 50, 60, 40, 50, 60, 10, 20, 30}, true},
        {"another key first", miff("class=DirectClass id=ImageMagick columns=1 rows=1\n", {1, 2, 3}),
         ST_UNKNOWN_FORMAT, nullptr, 0, {}, false},
        {"Q-encoded", miff("id=ImageMagick compression=QEncoded columns=1 rows=1\n", {1, 2, 3}), ST_BAD_FILE,
         "MIFF : Compression QEncoded not supported !", 0, {}, false},
        {"zip", miff("id=ImageMagick compression=Zip columns=1 rows=1\n", {1, 2, 3}), ST_BAD_FILE,
         "MIFF : Compression not supported !", 0, {}, false},
        {"16-bit samples", miff("id=ImageMagick depth=16 columns=1 rows=1\n", Bytes(6, 1)), ST_BAD_FILE,
         "MIFF : Depth not supported !", 0, {}, false},
        {"CMYK", miff("id=ImageMagick colorspace=CMYK columns=1 rows=1\n", Bytes(4, 1)), ST_BAD_FILE,
         "MIFF : Colorspace not supported !", 0, {}, false},
        {"300 colours", miff("id=ImageMagick class=PseudoClass colors=300 columns=1 rows=1\n", Bytes(901, 1)),
         ST_BAD_FILE, "MIFF : Too many colors !", 0, {}, false},
        {"no size", miff("id=ImageMagick class=DirectClass\n", {1, 2, 3}), ST_BAD_FILE, "MIFF : Bad picture's size !",
         0, {}, false},
        {"map cut", miff("id=ImageMagick class=PseudoClass colors=4 columns=1 rows=1\n", {1, 2, 3}), ST_READ_ERROR,
         nullptr, IMG_PALETTE, {0}, false},
        {"rows cut", miff("id=ImageMagick columns=1 rows=2\n", {1, 2, 3, 4}), ST_READ_ERROR, nullptr, IMG_RGB,
         {1, 2, 3, 0, 0, 0}, false},
        {"run cut", miff("id=ImageMagick compression=RLE columns=2 rows=2\n", {1, 2, 3, 2, 4, 5}), ST_READ_ERROR,
         nullptr, IMG_RGB, {1, 2, 3, 1, 2, 3, 1, 2, 3, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("miff", c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.kind == 0) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("miff", c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        if (std::string(c.name) == "run of 256 pixels across rows") {
            const Bytes p = pixelsOf(img);
            for (size_t i = 0; i < p.size(); ++i) EXPECT_EQ(p[i], i < 768 ? 9 - i % 3 : 0) << i;
            continue;
        }
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

// Our picture against ImageMagick's decoding of the same file, alpha included.
void expectAsImageMagick(const std::string& path, const Image& img) {
    static int n = 0;
    const std::string ppm = tempPath("im" + std::to_string(n) + ".ppm"), alpha = tempPath("im" + std::to_string(n++) + ".pgm");
    ASSERT_EQ(run(shell(std::string(IM) + " '$F[0]' -depth 8 ppm:$P", {{"$F", path}, {"$P", ppm}})), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ppm, &expected, nullptr));
    EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    if (img.bytesPerPixel != 4) return;
    ASSERT_EQ(run(shell(std::string(IM) + " '$F[0]' -alpha extract -depth 8 pgm:$P", {{"$F", path}, {"$P", alpha}})), 0);
    ASSERT_TRUE(readPeerPnm(alpha, &expected, nullptr));
    EXPECT_EQ(compareRgb(alphaOf(img), expected), 0);
}

TEST(MiffReader, PeerAndCorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM) || !haveProgram("gm")) GTEST_SKIP() << "ImageMagick or GraphicsMagick missing";
    const std::string src = tempPath("miff_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(67, 31)));
    const std::vector<std::pair<const char*, uint16_t>> makers = {
        {"convert-im6.q16 $S -depth 8 miff:$O", IMG_RGB},
        {"convert-im6.q16 $S -depth 8 -compress RLE miff:$O", IMG_RGB},
        {"convert-im6.q16 $S -depth 8 -colors 16 -type Palette miff:$O", IMG_PALETTE},
        {"convert-im6.q16 $S -depth 8 -colors 16 -type Palette -compress RLE miff:$O", IMG_PALETTE},
        {"convert-im6.q16 $S -depth 8 -colorspace Gray miff:$O", IMG_GREY},
        {"convert-im6.q16 $S -depth 8 -alpha set -channel A -fx 'i/w' +channel miff:$O", IMG_RGB32},
        {"convert-im6.q16 $S -depth 8 -alpha set -channel A -fx 'j/h' +channel -compress RLE miff:$O", IMG_RGB32},
        {"gm convert $S -depth 8 miff:$O", IMG_RGB},
        {"gm convert $S -depth 8 -colors 50 miff:$O", IMG_PALETTE},
    };
    int n = 0;
    for (const auto& m : makers) {
        SCOPED_TRACE(m.first);
        const std::string out = tempPath("peer" + std::to_string(n++) + ".miff");
        ASSERT_EQ(run(shell(m.first, {{"$S", src}, {"$O", out}})), 0);
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, m.second);
        expectAsImageMagick(out, img);
    }
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/miff/";
    for (const char* f : {"input_256c.miff", "input_bilevel.miff", "input_gray.miff", "input_rle.miff",
                          "input_truecolor.miff", "smile.miff", "smile_anim.miff"}) {
        SCOPED_TRACE(f);
        OwnedImage img;
        ASSERT_EQ(load(dir + f, &img), ST_OK);
        expectAsImageMagick(dir + f, img);
    }
}

TEST(MiffWriter, EveryKindRoundTripsAndReadsInImageMagick) {
    int n = 0;
    for (const testpictures::KindCase& k : testpictures::allKinds()) {
        for (bool alpha : {false, true}) {
            if (alpha && k.kind != IMG_RGB32) continue;
            SCOPED_TRACE(std::string(k.name) + (alpha ? " with alpha" : ""));
            OwnedImage img;
            ASSERT_TRUE(testpictures::makePicture(&img, k.kind, 37, 9, [&](int x, int y, int c) {
                const int a = k.kind == IMG_BGR32 ? 0 : 3;  // where the fourth byte sits
                return static_cast<uint8_t>(c == a && (k.kind & IMG_32BIT) ? (alpha ? x * 7 + y : 0)
                                                                            : testpictures::patternByte(x, y, c));
            }));
            img.orientation = 0;
            if (k.kind == IMG_PALETTE) img.colours = 16;
            if (k.kind == IMG_PALETTE)
                for (int y = 0; y < img.height; ++y)
                    for (int x = 0; x < img.width; ++x) imageRow(&img, y)[x] &= 15;
            const std::string path = tempPath("w" + std::to_string(n++) + ".miff");
            ASSERT_EQ(saveAs(&img, path, "miff"), ST_OK);
            Bytes b;
            ASSERT_TRUE(readFile(path, &b));
            const std::string text(b.begin(), b.end());
            const size_t end = text.find("\n:\n");
            ASSERT_NE(end, std::string::npos);
            const size_t pixels = 37 * 9;
            if (k.kind == IMG_PALETTE) {
                EXPECT_NE(text.find("class=PseudoClass colors=16\n"), std::string::npos);
                EXPECT_EQ(b.size(), end + 3 + 48 + pixels);
            } else if (k.kind & (IMG_24BIT | IMG_32BIT)) {
                EXPECT_EQ(text.find("matte=True") != std::string::npos, alpha);
                EXPECT_EQ(b.size(), end + 3 + pixels * (alpha ? 4 : 3));
            }
            OwnedImage back;
            ASSERT_EQ(roundTrip(&img, "miff", &back), ST_OK);
            EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
            if (alpha) EXPECT_EQ(compareRgb(alphaOf(back), alphaOf(img)), 0);
            if (haveProgram(IM)) expectAsImageMagick(path, back);
        }
    }
}

}  // namespace
