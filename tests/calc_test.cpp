// HP-48/49 graphic objects and TI calculator pictures, made by hand from their
// layouts: unit and bit order, the ASCII form, stacked grey planes, the TI
// models and their limits; our writers' files have the layout by hand and
// read back exactly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using testpictures::makeUpright;

// "HPHP4?-r", then tag, size, height and width as five 4-bit units each, low unit first.
std::vector<uint8_t> grobBinary(uint32_t width, uint32_t rows, const std::vector<uint8_t>& data,
                                const char* id = "HPHP48-E", uint32_t tag = 0x02B1E) {
    std::vector<uint8_t> f(id, id + 8);
    const uint32_t rowUnits = ((width + 3) / 4 + 1) / 2 * 2;
    const uint32_t fields[4] = {tag, rowUnits * rows + 15, rows, width};
    std::vector<int> units;
    for (uint32_t v : fields)
        for (int i = 0; i < 5; ++i) units.push_back(static_cast<int>((v >> (4 * i)) & 0xF));
    for (size_t i = 0; i < units.size(); i += 2) f.push_back(static_cast<uint8_t>(units[i] | (units[i + 1] << 4)));
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

Status loadWithPlanes(const std::vector<uint8_t>& bytes, int planes, Image* img, FileInfo* info = nullptr) {
    static int n = 0;
    const std::string path = tempPath("planes" + std::to_string(n++) + ".gro");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.readerParameter2 = static_cast<int16_t>(planes);
    return loadImage(path.c_str(), img, &o, info);
}

struct HandCase {
    const char* name;
    const char* format;
    std::vector<uint8_t> bytes;
    int planes;  // GROB reader parameter
    Status status;
    int width, height, colours;
    std::vector<uint8_t> pixels;  // empty: not compared
    const char* formatName = nullptr;
};

// TI-73/82/83: variable header, a 16-bit size at 70, the rows.
std::vector<uint8_t> ti83(const char* id, uint16_t size, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f(id, id + 8);
    f.resize(68, 0);
    f.push_back(0x12);
    f.push_back(0x34);
    f.push_back(static_cast<uint8_t>(size));
    f.push_back(static_cast<uint8_t>(size >> 8));
    if (size == 758) f.insert(f.end(), {0xAA, 0xBB});
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> ti86(const char* id, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f(id, id + 8);
    f.resize(67, 0);
    f.push_back(0xF0);
    f.push_back(0x03);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> ti92(const char* id, uint16_t width, uint16_t height, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f(id, id + 8);
    f.resize(92, 0);
    f[8] = 1;
    f[58] = 1;
    f[60] = 0x52;
    f[72] = 0x10;
    f[80] = 0xA5;
    f[81] = 0x5A;
    f[88] = static_cast<uint8_t>(height >> 8);
    f[89] = static_cast<uint8_t>(height);
    f[90] = static_cast<uint8_t>(width >> 8);
    f[91] = static_cast<uint8_t>(width);
    f.insert(f.end(), data.begin(), data.end());
    f.insert(f.end(), {0xDF, 0, 0});
    return f;
}

std::vector<uint8_t> firstBlackThenWhite(int w, int h) {
    std::vector<uint8_t> v(static_cast<size_t>(w) * h, 1);
    v[0] = 0;
    return v;
}

TEST(CalcReader, HandBuiltFiles) {
    const std::vector<HandCase> cases = {
        {"grob: low unit first, bit 0 leftmost, a set bit black", "grob", grobBinary(8, 2, {0x01, 0x10}), 0, ST_OK, 8,
         2, 2, {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}, "HP-48 Grob (Rev E) Bitmap file"},
        {"grob 9 wide: 4 units a row", "grob", grobBinary(9, 1, {0x00, 0x01}), 0, ST_OK, 9, 1, 2,
         {1, 1, 1, 1, 1, 1, 1, 1, 0}, nullptr},
        {"grob HP-49", "grob", grobBinary(4, 1, {0x08}, "HPHP49-C"), 0, ST_OK, 4, 1, 2, {1, 1, 1, 0},
         "HP-49 Grob (Rev C) Bitmap file"},
        {"grob ASCII on one line", "grob", text("%%HP: T(3)A(D)F(.);\r\nGROB 8 2 1001"), 0, ST_OK, 8, 2, 2,
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}, "HP-48 Grob Ascii Bitmap file"},
        {"grob ASCII with line ends", "grob", text("%%HP: T(3);\r\nGROB 8 2\r\n10\r\n01\r\n"), 0, ST_OK, 8, 2, 2,
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}, nullptr},
        {"grob 2 planes, the first block most significant", "grob", grobBinary(4, 4, {0x03, 0x00, 0x05, 0x00}), 2,
         ST_OK, 4, 2, 4, {0, 1, 2, 3, 3, 3, 3, 3}, nullptr},
        {"grob 3 planes give 8 levels", "grob", grobBinary(4, 3, {0x01, 0x02, 0x04}), 3, ST_OK, 4, 1, 8, {3, 5, 6, 7},
         nullptr},
        {"grob 131 x 64 with 2 planes", "grob", grobBinary(131, 64, std::vector<uint8_t>(17 * 64, 0)), 2, ST_OK, 131,
         32, 4, {}, nullptr},
        {"grob 131 x 65 stays one plane", "grob", grobBinary(131, 65, std::vector<uint8_t>(17 * 65, 0)), 2, ST_OK, 131,
         65, 2, {}, nullptr},
        {"grob rows cut", "grob", grobBinary(8, 2, {0x01}), 0, ST_READ_ERROR, 8, 2, 2,
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, nullptr},
        {"grob wrong tag", "grob", grobBinary(8, 1, {0}, "HPHP48-E", 0x02B1D), 0, ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
        {"grob HP-47", "grob", grobBinary(8, 1, {0}, "HPHP47-E"), 0, ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
        {"grob ASCII without ';' in the first line", "grob",
         text("%%HP: T(3)A(D)F(.)xxxxxxxx;\r\nGROB 8 1 00"), 0, ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
        {"TI-83, size 756", "ti", ti83("**TI83**", 756, std::vector<uint8_t>(1, 0x80)), 0, ST_READ_ERROR, 96, 63, 2,
         {}, "Ti-83 Bitmap file"},
        {"TI-82, size 758 skips a word", "ti", ti83("**TI82**", 758, [] {
             std::vector<uint8_t> d(756, 0);
             d[0] = 0x80;
             return d;
         }()), 0, ST_OK, 96, 63, 2, firstBlackThenWhite(96, 63), "Ti-82 Bitmap file"},
        {"TI-73, size 752", "ti", ti83("**TI73**", 752, std::vector<uint8_t>(756, 0)), 0, ST_OK, 96, 63, 2, {},
         "Ti-73 Bitmap file"},
        {"TI-83, size 750", "ti", ti83("**TI83**", 750, std::vector<uint8_t>(756, 0)), 0, ST_UNKNOWN_FORMAT, 0, 0, 0,
         {}},
        {"TI-86", "ti", ti86("**TI86**", [] {
             std::vector<uint8_t> d(16 * 63, 0);
             d[0] = 0x80;
             return d;
         }()), 0, ST_OK, 128, 63, 2, firstBlackThenWhite(128, 63), "Ti-86 Bitmap file"},
        {"TI-85 without F0 03", "ti", [] {
             std::vector<uint8_t> f = ti86("**TI85**", std::vector<uint8_t>(16 * 63, 0));
             f[67] = 0;
             return f;
         }(), 0, ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
        {"TI-89 239 x 103", "ti", ti92("**TI89**", 239, 103, std::vector<uint8_t>(30 * 103, 0)), 0, ST_OK, 239, 103,
         2, {}, "Ti-89 Bitmap file"},
        {"TI-92 9 x 2", "ti", ti92("**TI92**", 9, 2, {0x80, 0x80, 0x00, 0x7F}), 0, ST_OK, 9, 2, 2,
         {0, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1}, "Ti-92 Bitmap file"},
        {"TI-89 240 wide", "ti", ti92("**TI89**", 240, 1, std::vector<uint8_t>(30, 0)), 0, ST_UNKNOWN_FORMAT, 0, 0, 0,
         {}},
        {"TI-92 104 high", "ti", ti92("**TI92**", 8, 104, std::vector<uint8_t>(104, 0)), 0, ST_UNKNOWN_FORMAT, 0, 0, 0,
         {}},
        {"TI-92 wrong marker", "ti", [] {
             std::vector<uint8_t> f = ti92("**TI92**", 8, 1, {0});
             f[80] = 0xA4;
             return f;
         }(), 0, ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        const Status st = c.planes ? loadWithPlanes(c.bytes, c.planes, &img, &info)
                                   : loadBytesAs(c.format, c.bytes, &img, 0, &info);
        ASSERT_EQ(st, c.status);
        if (c.width == 0) continue;
        if (c.formatName) EXPECT_STREQ(info.formatName, c.formatName);
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs(c.format, c.bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.width, c.width);
        EXPECT_EQ(img.height, c.height);
        EXPECT_EQ(img.colours, c.colours);
        if (!c.pixels.empty()) EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

TEST(CalcWriter, GrobByHandAndPlanes) {
    {
        OwnedImage img;
        ASSERT_TRUE(makeUpright(&img, IMG_BINARY, 8, 1, [](int x, int, int) {
            return static_cast<uint8_t>(x == 0 ? 0 : 1);
        }));
        const std::string path = tempPath("one.gro");
        ASSERT_EQ(saveAs(&img, path, "grob"), ST_OK);
        std::vector<uint8_t> b;
        ASSERT_TRUE(readFile(path, &b));
        EXPECT_EQ(b, grobBinary(8, 1, {0x01}));
    }
    const struct {
        const char* name;
        uint16_t kind;
        int colours;
        int planes;
        Status status;
    } cases[] = {
        {"black and white", IMG_BINARY, 2, 1, ST_OK},
        {"4 greys", IMG_GREY, 4, 2, ST_OK},
        {"8 greys", IMG_GREY, 8, 3, ST_OK},
        {"5 greys take 3 planes", IMG_GREY, 5, 3, ST_OK},
        {"9 greys are refused", IMG_GREY, 9, 0, ST_KIND_REFUSED},
        {"a palette is refused", IMG_PALETTE, 4, 0, ST_KIND_REFUSED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img, back;
        ASSERT_TRUE(makeUpright(&img, c.kind, 13, 5, [&](int x, int y, int) {
            return static_cast<uint8_t>((x + 3 * y) % c.colours);
        }));
        img.colours = c.colours;
        const std::string path = tempPath("g" + std::to_string(c.colours) + ".gro");
        ASSERT_EQ(saveAs(&img, path, "grob"), c.status);
        if (c.status != ST_OK) continue;
        std::vector<uint8_t> b;
        ASSERT_TRUE(readFile(path, &b));
        ASSERT_EQ(b.size(), 18u + 2 * 5 * c.planes);  // 13 wide: 4 units, 2 bytes a row
        EXPECT_EQ(b[13], 5 * c.planes);  // the stored height's two low units
        ASSERT_EQ(loadWithPlanes(b, c.planes, &back), ST_OK);
        EXPECT_EQ(back.height, 5);
        if (c.colours == 5) continue;  // 5 levels spread over 8
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
    }
}

TEST(CalcWriter, TiLayoutAndRoundTrip) {
    OwnedImage img, back;
    // 8 x 2: black in column 0 of row 0 and in column 7 of row 1.
    ASSERT_TRUE(makeUpright(&img, IMG_BINARY, 8, 2, [](int x, int y, int) {
        return static_cast<uint8_t>((y == 0 && x == 0) || (y == 1 && x == 7) ? 0 : 1);
    }));
    const std::string path = tempPath("small.92i");
    ASSERT_EQ(saveAs(&img, path, "ti"), ST_OK);
    std::vector<uint8_t> b;
    ASSERT_TRUE(readFile(path, &b));
    ASSERT_EQ(b.size(), 97u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "**TI92**");
    EXPECT_EQ(std::string(b.begin() + 10, b.begin() + 16), "KAleos");
    EXPECT_EQ(std::string(b.begin() + 64, b.begin() + 70), "KAleos");
    EXPECT_EQ(b[76], 97);  // data bytes + 95
    EXPECT_EQ(b[87], 7);   // data bytes + 5
    EXPECT_EQ(b[92], 0x80);
    EXPECT_EQ(b[93], 0x01);
    EXPECT_EQ(b[94], 0xDF);
    unsigned sum = 0;
    for (int i = 86; i < 95; ++i) sum += b[i];
    EXPECT_EQ(b[95] | b[96] << 8, static_cast<int>(sum & 0xFFFF));
    ASSERT_EQ(load(path, &back), ST_OK);
    EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);

    OwnedImage grey;
    ASSERT_TRUE(makeUpright(&grey, IMG_GREY, 8, 2));
    EXPECT_EQ(saveAs(&grey, tempPath("grey.92i"), "ti"), ST_KIND_REFUSED);
}

// Every writer of this family, and the icon writer, report a full disk.
TEST(CalcWriter, FullDiskIsAWriteError) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const struct {
        const char* format;
        uint16_t kind;
        int colours;
        int width, height;
    } cases[] = {
        {"psion3", IMG_BINARY, 2, 200, 400}, {"psion5", IMG_GREY, 16, 200, 400}, {"palm", IMG_GREY, 4, 200, 400},
        {"grob", IMG_GREY, 8, 200, 400},     {"grob", IMG_BINARY, 2, 200, 400},  {"ti", IMG_BINARY, 2, 239, 103},
        {"ico", IMG_PALETTE, 256, 200, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.colours));
        OwnedImage img;
        ASSERT_TRUE(makeUpright(&img, c.kind, c.width, c.height, [&](int x, int y, int) {
            return static_cast<uint8_t>((x + y) % c.colours);
        }));
        img.colours = c.colours;
        EXPECT_EQ(saveAs(&img, "/dev/full", c.format), ST_WRITE_ERROR);
    }
}

}  // namespace
