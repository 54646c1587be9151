// Sun TAAC files and Sun icons. No program we can run writes TAAC files: they
// are built by hand from the keyword header. Icons come from netpbm's
// pbmtosunicon and from the corpus, and decode to the pixels sunicontopnm reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

std::vector<uint8_t> bytes(const std::string& text, std::vector<uint8_t> data = {}) {
    std::vector<uint8_t> f(text.begin(), text.end());
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

// A TAAC file: the lines given, the form-feed line, the pixels.
std::vector<uint8_t> taac(const std::string& lines, std::vector<uint8_t> data) {
    return bytes("ncaa\n" + lines + "\f\n", std::move(data));
}

const std::string GREY_4x3 = "rank=2;\nsize=4 3;\nbands=1;\nbits=8 0 0 0;\nformat=base;\n";

struct TaacCase {
    const char* name;
    std::vector<uint8_t> file;
    Status status;
    const char* message;
    uint16_t kind;
    std::vector<uint8_t> rgb;  // the picture as R,G,B triplets
};

std::vector<uint8_t> greyRgb(std::vector<uint8_t> v) {
    std::vector<uint8_t> out;
    for (uint8_t g : v) out.insert(out.end(), {g, g, g});
    return out;
}

TEST(TaacReader, HandBuiltFiles) {
    const std::vector<uint8_t> twelve = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110};
    const std::vector<TaacCase> cases = {
        {"grey 4 x 3", taac(GREY_4x3, twelve), ST_OK, nullptr, IMG_GREY, greyRgb(twelve)},
        {"empty lines are skipped", taac("\n" + GREY_4x3 + "\n\n", twelve), ST_OK, nullptr, IMG_GREY, greyRgb(twelve)},
        {"colour map: red in the lowest byte", taac("rank=2;\nsize=3 1;\nbands=1;\ncolormapsize=3;\n"
                                                    "colormap=ff ff00 0xff0000 ;\n",
                                                    {2, 1, 0}),
         ST_OK, nullptr, IMG_PALETTE, {0, 0, 255, 0, 255, 0, 255, 0, 0}},
        {"three bands are B,G,R", taac("rank=2;\nsize=2 1;\nbands=3;\n", {1, 2, 3, 4, 5, 6}), ST_OK, nullptr, IMG_RGB,
         {3, 2, 1, 6, 5, 4}},
        {"four bands are A,B,G,R", taac("rank=2;\nsize=1 1;\nbands=4;\n", {9, 1, 2, 3}), ST_OK, nullptr, IMG_RGB32,
         {3, 2, 1}},
        {"pixels cut", taac(GREY_4x3, {1, 2, 3, 4, 5}), ST_READ_ERROR, nullptr, IMG_GREY,
         greyRgb({1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0})},
        // Refusals.
        {"size before rank", taac("size=4 3;\nrank=2;\nbands=1;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad character !",
         0, {}},
        {"rank 3", taac("rank=3;\nsize=4 3;\nbands=1;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad character !", 0, {}},
        {"bands 2", taac("rank=2;\nsize=4 3;\nbands=2;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad Depth !", 0, {}},
        {"bits 16", taac("rank=2;\nsize=4 3;\nbands=1;\nbits=16;\n", twelve), ST_BAD_FILE,
         "Sun TAAC : Bad number of bits !", 0, {}},
        {"format other than base", taac("rank=2;\nformat=fancy;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad Format !",
         0, {}},
        {"colour map of 257", taac("colormapsize=257;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad Cmap size !", 0, {}},
        {"colour map number without its space", taac("colormapsize=2;\ncolormap=ff 00;\n", twelve), ST_BAD_FILE,
         "Sun TAAC : Bad character !", 0, {}},
        {"unknown keyword", taac("rank=2;\ncolour=red;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad keyword !", 0, {}},
        {"line without an equals sign", taac("rank 2;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad character !", 0, {}},
        {"no bands line", taac("rank=2;\nsize=4 3;\n", twelve), ST_BAD_FILE, "Sun TAAC : Bad picture's size !", 0, {}},
        {"width 16000", taac("rank=2;\nsize=16000 1;\nbands=1;\n", twelve), ST_BAD_FILE,
         "Sun TAAC : Bad picture's size !", 0, {}},
        {"header without its form feed", bytes("ncaa\n" + GREY_4x3), ST_READ_ERROR, nullptr, 0, {}},
        {"line of 8193 characters", taac("rank=2;\n" + std::string(8193, ' ') + "\n", twelve), ST_BAD_FILE, nullptr,
         0, {}},
        {"signature without its line feed", bytes("ncaa " + GREY_4x3 + "\f\n", twelve), ST_UNKNOWN_FORMAT, nullptr, 0,
         {}},
    };
    for (const TaacCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("taac", c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.rgb.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("taac", c.file, &img, OPT_ACCEPT_DAMAGED, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "Sun TAAC Image");
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(toRgb(img).pixels, c.rgb);
    }
}

// ---- icons ---------------------------------------------------------------------

std::string iconText(const std::string& items, const std::string& data) {
    return "/* " + items + "\n */\n" + data;
}

struct IconCase {
    const char* name;
    std::string text;
    Status status;
    const char* message;
    std::vector<uint8_t> pixels;  // 0 black, 1 white
};

TEST(IconReader, HandBuiltIcons) {
    const std::string items16 = "Format_version=1, Width=16, Height=2, Depth=1, Valid_bits_per_item=16";
    const std::string items20 = "Format_version=1, Width=20, Height=1, Depth=1, Valid_bits_per_item=16";
    std::vector<uint8_t> row16a, row16b, row20;
    for (int i = 0; i < 16; ++i) row16a.push_back(i < 4 ? 0 : 1);   // 0xF000: four black
    for (int i = 0; i < 16; ++i) row16b.push_back(i % 2 ? 0 : 1);   // 0x5555
    for (int i = 0; i < 20; ++i) row20.push_back(i >= 16 && i < 19 ? 0 : 1);  // 0x0000, 0xE000
    std::vector<uint8_t> two16 = row16a;
    two16.insert(two16.end(), row16b.begin(), row16b.end());
    const std::vector<IconCase> cases = {
        {"two rows, set bits black", iconText(items16, "\t0xF000,0x5555,\n"), ST_OK, nullptr, two16},
        {"width 20 takes two numbers a row", iconText(items20, "0x0000, 0xE000,\n"), ST_OK, nullptr, row20},
        {"description lines in the comment",
         "/* Format_version=1, Width=16, Height=2, Depth=1, Valid_bits_per_item=16\n"
         " * Description: a test * with stars.\n * Background: none.\n */\n0xF000,0x5555,\n",
         ST_OK, nullptr, two16},
        {"numbers cut", iconText(items16, "0xF000,\n"), ST_READ_ERROR, nullptr, [&] {
             auto v = row16a;
             v.insert(v.end(), 16, 1);  // the missing row reads as unset bits
             return v;
         }()},
        {"depth 2", iconText("Format_version=1, Width=16, Height=1, Depth=2", "0,"), ST_BAD_FILE,
         "ICON : Bad Depth value !", {}},
        {"version 2", iconText("Format_version=2, Width=16, Height=1", "0,"), ST_BAD_FILE,
         "ICON : Bad Format_version value !", {}},
        {"8 bits per item", iconText("Width=16, Height=1, Valid_bits_per_item=8", "0,"), ST_BAD_FILE,
         "ICON : Bad Valid_bits_per_item value !", {}},
        {"no size", iconText("Format_version=1", "0,"), ST_UNKNOWN_FORMAT, nullptr, {}},
        {"comment never closed", "/* Format_version=1, Width=16, Height=1", ST_UNKNOWN_FORMAT, nullptr, {}},
        {"comment after 130 characters", std::string(130, ' ') + iconText(items16, "0,0,"), ST_UNKNOWN_FORMAT,
         nullptr, {}},
        {"comment after 129 characters", std::string(129, ' ') + iconText(items16, "0xF000,0x5555,"), ST_OK, nullptr,
         two16},
        {"item without a number", iconText("Width=, Height=1", "0,"), ST_UNKNOWN_FORMAT, nullptr, {}},
    };
    for (const IconCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        const std::vector<uint8_t> file = bytes(c.text);
        ASSERT_EQ(loadBytesAs("icon", file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("icon", file, &img, OPT_ACCEPT_DAMAGED, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "Sun Icon/Cursor");
        EXPECT_EQ(img.kind, IMG_BINARY);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

bool haveNetpbmIcons() { return haveProgram("pbmtosunicon") && haveProgram("sunicontopnm"); }

// Our decode against sunicontopnm's.
void expectAsNetpbm(const std::string& path) {
    OwnedImage img;
    ASSERT_EQ(load(path, &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_BINARY);
    const std::string ref = tempPath("icon_ref.pnm");
    ASSERT_EQ(run("sunicontopnm " + path + " > " + ref), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
    EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
}

TEST(IconReader, NetpbmIconsAndTheCorpus) {
    if (!haveNetpbmIcons()) GTEST_SKIP() << "netpbm missing";
    // pbmtosunicon pads the width to 16; widths 16, 48 and 64.
    const std::vector<std::pair<int, int>> sizes = {{16, 16}, {48, 20}, {64, 64}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.first);
        const std::string src = tempPath("icon_src.ppm");
        ASSERT_TRUE(writeFile(src, patternP6(s.first, s.second)));
        const std::string path = tempPath("netpbm" + std::to_string(s.first) + ".icon");
        ASSERT_EQ(run("ppmtopgm " + src + " | pamthreshold -simple | pamtopnm | pbmtosunicon > " + path), 0);
        expectAsNetpbm(path);
    }
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/icon/";
    for (const char* name : {"alert_bang32.pr", "bullseye.cursor", "calctool.icon", "clock.icon"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> probe;
        if (!readFile(dir + name, &probe)) GTEST_SKIP() << "corpus missing";
        expectAsNetpbm(dir + name);
    }
}

}  // namespace
