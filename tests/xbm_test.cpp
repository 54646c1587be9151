// X11 bitmaps: hand-made files pin down both declaration forms, the bit order,
// row padding and the damaged cases; files from netpbm and ImageMagick decode
// to the picture they were made from; our files read back in both peers.
#include <dirent.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs.h"
#include "kaleocore.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
using Bytes = std::vector<uint8_t>;

int xbmIndex() {
    static int index = findFormat("xbm");
    return index;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Status loadText(const std::string& s, Image* img, uint16_t flags = 0) { return loadBytesAs("xbm", text(s), img, flags); }

// The picture as text rows, '#' for black and '.' for white.
std::vector<std::string> rowsOf(const Image& img) {
    std::vector<std::string> rows;
    for (int y = 0; y < img.height; ++y) {
        std::string r;
        for (int x = 0; x < img.width; ++x) r += imageRow(&img, y)[x] ? '.' : '#';
        rows.push_back(r);
    }
    return rows;
}

// A black-and-white test picture: black where pattern(x, y) holds.
bool pattern(int x, int y) { return ((x * 7 + y * 3) % 5 == 0) || x == y; }

void makeBinary(Image* img, int w, int h) {
    ASSERT_TRUE(createImage(img, IMG_BINARY, 4, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) imageRow(img, y)[x] = pattern(x, y) ? 0 : 1;
}

// A plain-text PBM of the pattern (1 = black), for the peers.
std::string patternPbm(int w, int h) {
    std::string s = "P1\n" + std::to_string(w) + " " + std::to_string(h) + "\n";
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) s += pattern(x, y) ? "1 " : "0 ";
        s += "\n";
    }
    return s;
}

// True when every pixel of a picture decoded as R,G,B is the pattern's black or white.
::testing::AssertionResult isPattern(const Rgb& rgb, int w, int h) {
    if (rgb.width != w || rgb.height != h) return ::testing::AssertionFailure() << "size " << rgb.width << "x" << rgb.height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t want = pattern(x, y) ? 0 : 255;
            for (int c = 0; c < 3; ++c)
                if (rgb.pixels[(static_cast<size_t>(y) * w + x) * 3 + c] != want)
                    return ::testing::AssertionFailure() << "pixel " << x << "," << y;
        }
    return ::testing::AssertionSuccess();
}

// ---- reading ---------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string file;
    Status status;
    std::vector<std::string> rows;  // for ST_OK and the damaged cases (loaded with OPT_ACCEPT_DAMAGED)
};

TEST(XbmReader, Files) {
    const std::string defs10x2 = "#define a_width 10\n#define a_height 2\n";
    const std::vector<ReadCase> cases = {
        {"bytes: first pixel in the low bit, a set bit is black",
         defs10x2 + "static char a_bits[] = {\n 0xa5, 0x03, 0x00, 0x02};\n", ST_OK,
         {"#.#..#.###", ".........#"}},
        {"X10 words: low byte first, each row one word",
         defs10x2 + "static short a_bits[] = {\n 0x03a5, 0x0200};\n", ST_OK, {"#.#..#.###", ".........#"}},
        {"X10 rows are padded to whole words",
         "#define b_width 17\n#define b_height 2\nstatic unsigned short b_bits[] = {\n"
         "0x0001, 0x0001, 0x8000, 0x0000 };\n",
         ST_OK, {"#...............#", "...............#."}},
        {"data on the declaration line, hot spot and comments ignored",
         "/* comment */\n#define c_width 3\n#define c_height 1\n#define c_x_hot 1\n#define c_y_hot 0\n"
         "static const unsigned char c_bits[] = { 0x05 };\n",
         ST_OK, {"#.#"}},
        {"brace on the next line, upper-case digits, comment inside the data",
         "#define d_width 8\n#define d_height 2\nstatic unsigned char d_bits[] =\n{ 0XF0, /* x */ 0x0F };\n", ST_OK,
         {"....####", "####...."}},
        {"only the low byte of a large number counts",
         "#define e_width 8\n#define e_height 1\nstatic char e_bits[] = { 0x1ff };\n", ST_OK, {"########"}},
        {"width missing", "#define a_height 2\nstatic char a_bits[] = { 0x00, 0x00 };\n", ST_UNKNOWN_FORMAT, {}},
        {"height missing", "#define a_width 2\nstatic char a_bits[] = { 0x00, 0x00 };\n", ST_UNKNOWN_FORMAT, {}},
        {"width 0", "#define a_width 0\n#define a_height 2\nstatic char a_bits[] = { 0x00 };\n", ST_UNKNOWN_FORMAT, {}},
        {"height 16000", "#define a_width 1\n#define a_height 16000\nstatic char a_bits[] = { 0x00 };\n",
         ST_UNKNOWN_FORMAT, {}},
        {"no array", defs10x2, ST_UNKNOWN_FORMAT, {}},
        {"an array of pointers is no bitmap", defs10x2 + "static char *a_bits[] = {\n", ST_UNKNOWN_FORMAT, {}},
        {"binary bytes", std::string("#define a_width 1\n\x01\x02#define a_height 1\n") +
                             "static char a_bits[] = { 0x00 };\n",
         ST_UNKNOWN_FORMAT, {}},
        {"data end before the last row", defs10x2 + "static char a_bits[] = {\n 0xa5, 0x03, 0x00 };\n",
         ST_READ_ERROR, {"#.#..#.###", ".........."}},
        {"file ends inside the data", defs10x2 + "static char a_bits[] = {\n 0xa5, 0x03", ST_READ_ERROR,
         {"#.#..#.###", ".........."}},
        {"a number without digits", defs10x2 + "static char a_bits[] = {\n 0xa5, 0xzz, 0x00, 0x00 };\n",
         ST_READ_ERROR, {"#.#..#.#..", ".........."}},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadText(c.file, &img), c.status);
        if (c.rows.empty()) continue;
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            ASSERT_EQ(loadText(c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        EXPECT_EQ(img.kind, IMG_BINARY);
        EXPECT_EQ(rowsOf(img), c.rows);
    }
}

TEST(XbmReader, InformationAndIdentification) {
    std::string path = tempPath("info.bm");
    ASSERT_TRUE(writeFile(path, text("#define i_width 33\n#define i_height 7\nstatic short i_bits[] = {\n")));
    FileInfo info{};
    ASSERT_EQ(readImageInfo(path.c_str(), -1, 0, &info), ST_OK);
    EXPECT_EQ(info.formatIndex, xbmIndex());
    EXPECT_STREQ(info.formatName, "X BitMap");
    EXPECT_EQ(info.width, 33);
    EXPECT_EQ(info.height, 7);
    EXPECT_EQ(info.bytesPerPlane, 6);  // three 16-bit words
}

// ---- writing ---------------------------------------------------------------------

TEST(XbmWriter, TenPixelRowsTakeTwoReversedBytes) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_BINARY, 1, 10, 2));
    const uint8_t rows[2][10] = {{0, 1, 0, 1, 1, 0, 1, 0, 0, 0}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 10; ++x) imageRow(&img, y)[x] = rows[y][x];
    std::string path = tempPath("ten.xbm");
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(xbmIndex());
    ASSERT_EQ(saveImage(&path[0], &img, &o), ST_OK);
    Bytes got;
    ASSERT_TRUE(readFile(path, &got));
    EXPECT_EQ(std::string(got.begin(), got.end()),
              "#define x_width 10\n#define x_height 2\nstatic char x_bits[] = {\n"
              "0xa5, 0x03, \n0x00, 0x02, \n}; \n");
}

TEST(XbmWriter, RefusesOtherKinds) {
    SaveRequest request{};
    request.width = request.height = 4;
    for (uint16_t kind : {uint16_t(IMG_GREY), uint16_t(IMG_PALETTE), uint16_t(KIND_ANY_TRUECOLOUR)}) {
        request.kind = kind;
        EXPECT_EQ(writeXbm(nullptr, &request), ST_KIND_REFUSED) << kind;
    }
}

// ---- peers -----------------------------------------------------------------------

TEST(XbmPeers, PeerFilesDecodeToTheirPicture) {
    if (!haveProgram("pbmtoxbm") || !haveProgram(IM)) GTEST_SKIP() << "netpbm or ImageMagick missing";
    for (int w : {1, 8, 13, 16, 37}) {
        const int h = 5;
        std::string pbm = tempPath("pattern" + std::to_string(w) + ".pbm");
        ASSERT_TRUE(writeFile(pbm, text(patternPbm(w, h))));
        const std::vector<std::pair<std::string, std::string>> makers = {
            {"pbmtoxbm", "pbmtoxbm " + pbm},
            {"pbmtoxbm -x10", "pbmtoxbm -x10 " + pbm},
            {"ImageMagick", std::string(IM) + " " + pbm + " xbm:-"},
        };
        for (const auto& m : makers) {
            SCOPED_TRACE(m.first + " width " + std::to_string(w));
            std::string out = tempPath("peer.xbm");
            ASSERT_EQ(run(m.second + " > " + out + " 2>/dev/null"), 0);
            OwnedImage img;
            ASSERT_EQ(load(out, &img), ST_OK);
            EXPECT_EQ(img.kind, IMG_BINARY);
            EXPECT_TRUE(isPattern(toRgb(img), w, h));
        }
    }
}

TEST(XbmPeers, OurFilesReadBackInThePeers) {
    if (!haveProgram("xbmtopbm") || !haveProgram(IM)) GTEST_SKIP() << "netpbm or ImageMagick missing";
    for (int w : {1, 9, 16, 45}) {
        const int h = 6;
        SCOPED_TRACE(w);
        OwnedImage img;
        makeBinary(&img, w, h);
        std::string path = tempPath("ours.xbm");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(xbmIndex());
        ASSERT_EQ(saveImage(&path[0], &img, &o), ST_OK);
        const std::string ppm = tempPath("back.ppm");
        for (const std::string& cmd : {"xbmtopbm " + path + " | ppmtoppm > " + ppm,
                                       std::string(IM) + " " + path + " -depth 8 ppm:" + ppm}) {
            SCOPED_TRACE(cmd);
            ASSERT_EQ(run(cmd + " 2>/dev/null"), 0);
            Rgb ref;
            ASSERT_TRUE(readPnmReference(ppm, &ref));
            EXPECT_TRUE(isPattern(ref, w, h));
        }
        OwnedImage back;
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
    }
}

TEST(XbmPeers, SampleFiles) {
    const std::string root = std::string(KALEO_CORPUS_DIR) + "/xbm";
    DIR* dir = opendir(root.c_str());
    if (!dir) GTEST_SKIP() << "no sample folder " << root;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(dir);
    if (!haveProgram("xbmtopbm")) GTEST_SKIP() << "netpbm missing";
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = root + "/" + name;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        EXPECT_EQ(img.kind, IMG_BINARY);
        const std::string ppm = tempPath("sample.ppm");
        ASSERT_EQ(run("xbmtopbm " + path + " | ppmtoppm > " + ppm + " 2>/dev/null"), 0);
        Rgb ref;
        ASSERT_TRUE(readPnmReference(ppm, &ref));
        EXPECT_EQ(compareRgb(toRgb(img), ref), 0);
    }
}

}  // namespace
