// X11 pixmaps: hand-made files pin down colour values and keys, pixel codes of
// 1 to 4 characters, both text forms and the damaged cases; files from netpbm
// and ImageMagick decode to the picture they were made from; our files read
// back in both peers.
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
const char MSG_BAD_CHARACTERS[] = "X PixMap : Bad pixel characters !";
using Bytes = std::vector<uint8_t>;
using Colour = std::vector<uint8_t>;

int xpmIndex() {
    static int index = findFormat("xpm");
    return index;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A C-array pixmap of the given strings.
std::string xpm(const std::vector<std::string>& strings) {
    std::string s = "/* XPM */\nstatic char *pic[] = {\n/* values */\n";
    for (size_t i = 0; i < strings.size(); ++i) s += "\"" + strings[i] + (i + 1 < strings.size() ? "\",\n" : "\"\n");
    return s + "};\n";
}

Status loadText(const std::string& s, Image* img, uint16_t flags = 0, FileInfo* info = nullptr) {
    return loadBytesAs("xpm", text(s), img, flags, info);
}

Colour pixel(const Rgb& rgb, int x, int y) {
    const size_t at = (static_cast<size_t>(y) * rgb.width + x) * 3;
    return Colour(rgb.pixels.begin() + at, rgb.pixels.begin() + at + 3);
}

Status save(Image* img, const std::string& path) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(xpmIndex());
    std::string name = path;
    return saveImage(&name[0], img, &o);
}

// ---- colours -----------------------------------------------------------------------

struct ColourCase {
    std::string definition;  // after the pixel character
    Colour rgb;
};

TEST(XpmReader, ColourValuesAndKeys) {
    const std::vector<ColourCase> cases = {
        {"c #FF0000", {255, 0, 0}},
        {"c #80a0C0", {128, 160, 192}},
        {"c #f80", {255, 136, 0}},
        {"c #fff000fff", {255, 0, 255}},
        {"c #FFFF00008000", {255, 0, 128}},
        {"c None", {255, 255, 255}},
        {"c none", {255, 255, 255}},
        {"c Dark Slate Gray", {47, 79, 79}},
        {"c darkslategray", {47, 79, 79}},
        {"c DARKSLATEGREY", {47, 79, 79}},
        {"c gray", {190, 190, 190}},
        {"c alice   blue", {240, 248, 255}},
        {"c no such colour", {0, 0, 0}},
        {"c #12345", {0, 0, 0}},
        {"c #GG0000", {0, 0, 0}},
        {"m white c red", {255, 0, 0}},
        {"c red m white", {255, 0, 0}},
        {"m white", {255, 255, 255}},
        {"g #404040 m black", {64, 64, 64}},
        {"g4 blue", {0, 0, 255}},
        {"s background c navy", {0, 0, 128}},
        {"s c", {0, 0, 0}},
        {"c " + std::string(6000, 'a'), {0, 0, 0}},  // a name longer than any buffer
    };
    const std::string codes = "abcdefghijklmnopqrstuvwxyzABCDEFGH";
    ASSERT_LE(cases.size(), codes.size());
    std::vector<std::string> strings = {std::to_string(cases.size()) + " 1 " + std::to_string(cases.size()) + " 1"};
    for (size_t i = 0; i < cases.size(); ++i) strings.push_back(codes.substr(i, 1) + " " + cases[i].definition);
    strings.push_back(codes.substr(0, cases.size()));
    OwnedImage img;
    ASSERT_EQ(loadText(xpm(strings), &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_PALETTE);
    Rgb rgb = toRgb(img);
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(pixel(rgb, static_cast<int>(i), 0), cases[i].rgb) << cases[i].definition.substr(0, 40);
}

// ---- pixel codes and forms ---------------------------------------------------------

struct CodeCase {
    const char* name;
    std::string file;
};

// Every case is the 3 x 2 picture red green blue / blue green red.
TEST(XpmReader, PixelCodesAndForms) {
    const std::vector<CodeCase> cases = {
        {"1 character, a space among them", xpm({"3 2 3 1", "  c red", "# c #00FF00", "~ c blue", " #~", "~# "})},
        {"2 characters", xpm({"3 2 3 2", "   c red", " a c #00FF00", "a  c blue", "   aa  ", "a  a   "})},
        {"3 characters", xpm({"3 2 3 3", "aaa c red", "aab c #00FF00", "baa c blue", "aaaaabbaa", "baaaabaaa"})},
        {"4 characters", xpm({"3 2 3 4", "     c red", "~~~~ c #00FF00", "a  a c blue", "    ~~~~a  a",
                              "a  a~~~~    "})},
        {"characters after the last pixel are skipped", xpm({"3 2 3 1", "r c red", "g c green", "b c blue", "rgbXX",
                                                             "bgr"})},
        {"hot spot and extension words after the values", xpm({"3 2 3 1 0 0 XPMEXT", "r c red", "g c green",
                                                              "b c blue", "rgb", "bgr"})},
        {"comments holding quotes between strings",
         "/* XPM */\nstatic char *p[] = {\n\"3 2 3 1\",\n/* \"1 1 1 1\" */ \"r c red\",\n"
         "// \"x c white\"\n\"g c green\", \"b c blue\",\n\"rgb\",\n\"bgr\"};\n"},
        {"bare lines", "! XPM2\n3 2 3 1\nr c red\ng c green\nb c blue\nrgb\nbgr\n"},
        {"bare lines ending in CR LF", "! XPM2\r\n3 2 3 1\r\nr c red\r\ng c green\r\nb c blue\r\nrgb\r\nbgr\r\n"},
        {"last row without closing quote or end", "/* XPM */\n\"3 2 3 1\" \"r c red\" \"g c green\" \"b c blue\" "
                                                 "\"rgb\" \"bgr"},
    };
    const Colour red = {255, 0, 0}, green = {0, 255, 0}, blue = {0, 0, 255};
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadText(c.file, &img), ST_OK);
        ASSERT_EQ(img.kind, IMG_PALETTE);
        ASSERT_EQ(img.width, 3);
        ASSERT_EQ(img.height, 2);
        Rgb rgb = toRgb(img);
        EXPECT_EQ(pixel(rgb, 0, 0), red);
        EXPECT_EQ(pixel(rgb, 1, 0), green);
        EXPECT_EQ(pixel(rgb, 2, 0), blue);
        EXPECT_EQ(pixel(rgb, 0, 1), blue);
        EXPECT_EQ(pixel(rgb, 2, 1), red);
    }
}

TEST(XpmReader, KindFollowsTheColourCount) {
    // Two colours black and white make a black-and-white picture, more than 256 true colour.
    OwnedImage img;
    ASSERT_EQ(loadText(xpm({"2 1 2 1", "a c white", "b c black", "ab"}), &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_BINARY);
    EXPECT_EQ(imageRow(&img, 0)[0], 1);
    EXPECT_EQ(imageRow(&img, 0)[1], 0);

    const std::string chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::vector<std::string> strings = {"300 1 300 2"};
    std::string row;
    char colour[16];
    for (int i = 0; i < 300; ++i) {
        std::string code = {chars[i / 52], chars[i % 52]};
        snprintf(colour, sizeof colour, "#%02X%02X%02X", i & 0xFF, 255 - (i & 0xFF), i / 2);
        strings.push_back(code + " c " + colour);
        row = code + row;  // the last colour first
    }
    strings.push_back(row);
    FileInfo info{};
    ASSERT_EQ(loadText(xpm(strings), &img, 0, &info), ST_OK);
    EXPECT_EQ(img.kind, IMG_RGB);
    EXPECT_EQ(info.bitsPerPlane, 24);
    Rgb rgb = toRgb(img);
    for (int x : {0, 1, 43, 299}) {
        const int i = 299 - x;
        EXPECT_EQ(pixel(rgb, x, 0), (Colour{uint8_t(i & 0xFF), uint8_t(255 - (i & 0xFF)), uint8_t(i / 2)})) << x;
    }
}

// ---- damaged files -------------------------------------------------------------------

struct DamageCase {
    const char* name;
    std::string file;
    Status status;
    const char* message;
    std::vector<Colour> firstRow;  // damaged reads that keep a picture: row 0 with OPT_ACCEPT_DAMAGED
};

TEST(XpmReader, DamagedFiles) {
    const Colour red = {255, 0, 0}, blue = {0, 0, 255};
    const std::string head = "/* XPM */\nstatic char *p[] = {\n\"2 2 2 1\",\n\"a c red\",\n\"b c blue\",\n";
    const std::vector<DamageCase> cases = {
        {"file ends after the first row", head + "\"ab\",\n", ST_READ_ERROR, "", {red, blue}},
        {"file ends inside a row", head + "\"b", ST_READ_ERROR, "", {blue, red}},
        {"a row shorter than the width", head + "\"a\",\n\"ab\"\n};\n", ST_CORRUPT, "", {red, red}},
        {"a control character in a row", head + "\"b\x01\",\n\"ab\"\n};\n", ST_CORRUPT, "", {blue, red}},
        {"a character above 126 in a row", head + "\"\xC3\xA9\",\n\"ab\"\n};\n", ST_CORRUPT, "", {red, red}},
        {"colour count beyond the file", xpm({"2 2 1000000 1", "a c red", "aa", "aa"}), ST_READ_ERROR, "", {}},
        {"fewer colour strings than the count", xpm({"2 2 5 1", "a c red", "b c blue", "ab", "ba"}),
         ST_READ_ERROR, "", {}},
        {"a character above 126 in a colour code", xpm({"2 2 2 1", "\xC3 c red", "b c blue", "bb", "bb"}),
         ST_BAD_FILE, MSG_BAD_CHARACTERS, {}},
        {"a tab as colour code", xpm({"2 2 2 1", "\t c red", "b c blue", "bb", "bb"}), ST_BAD_FILE,
         MSG_BAD_CHARACTERS, {}},
        {"a colour string shorter than its code", xpm({"2 2 2 3", "a", "bbb c blue", "bbbbbb", "bbbbbb"}),
         ST_BAD_FILE, MSG_BAD_CHARACTERS, {}},
        {"5 characters per pixel", xpm({"1 1 1 5", "aaaaa c red", "aaaaa"}), ST_UNKNOWN_FORMAT, "", {}},
        {"0 characters per pixel", xpm({"1 1 1 0", "c red", ""}), ST_UNKNOWN_FORMAT, "", {}},
        {"no colours", xpm({"1 1 0 1", "a"}), ST_UNKNOWN_FORMAT, "", {}},
        {"three numbers", xpm({"1 1 1", "a c red", "a"}), ST_UNKNOWN_FORMAT, "", {}},
        {"a negative width", xpm({"-1 1 1 1", "a c red", "a"}), ST_UNKNOWN_FORMAT, "", {}},
        {"width 32001", xpm({"32001 1 1 1", "a c red", "a"}), ST_UNKNOWN_FORMAT, "", {}},
        {"height 16000", xpm({"1 16000 1 1", "a c red", "a"}), ST_UNKNOWN_FORMAT, "", {}},
        {"no string at all", "/* XPM */\nstatic char *p[] = {};\n", ST_UNKNOWN_FORMAT, "", {}},
        {"binary bytes before the first string", std::string("GIF89a\x01\x00\x01\x00\"1 1 1 1\"", 19),
         ST_UNKNOWN_FORMAT, "", {}},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadText(c.file, &img, 0, &info), c.status);
        EXPECT_EQ(img.pixels, nullptr);
        EXPECT_STREQ(info.message, c.message);
        if (c.firstRow.empty()) continue;
        ASSERT_EQ(loadText(c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        Rgb rgb = toRgb(img);
        for (size_t x = 0; x < c.firstRow.size(); ++x) EXPECT_EQ(pixel(rgb, static_cast<int>(x), 0), c.firstRow[x]) << x;
    }
}

// ---- writing -----------------------------------------------------------------------

TEST(XpmWriter, PaletteTextAndArrayName) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_PALETTE, 4, 3, 2));
    img.colours = 3;
    const uint8_t pal[3][3] = {{255, 0, 0}, {0, 128, 0}, {1, 2, 254}};
    for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c) img.palette[256 * c + i] = pal[i][c];
    const uint8_t px[2][3] = {{0, 1, 2}, {2, 2, 0}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) imageRow(&img, y)[x] = px[y][x];
    const std::string dir = tempPath("named");
    ASSERT_EQ(run("mkdir -p '" + dir + "'"), 0);
    const std::string path = dir + "/my pic.v2.xpm";
    ASSERT_EQ(save(&img, path), ST_OK);
    Bytes got;
    ASSERT_TRUE(readFile(path, &got));
    EXPECT_EQ(std::string(got.begin(), got.end()),
              "/* XPM */\nstatic char *my_pic_v2[] = {\n"
              "/* width height num_colors chars_per_pixel */\n"
              "\"     3     2        3            1\",\n"
              "/* colors */\n"
              "\"` c #ff0000\",\n\". c #008000\",\n\"# c #0102fe\",\n"
              "/* pixels */\n"
              "\"`.#\",\n\"##`\"\n};\n");
}

TEST(XpmWriter, CharactersPerPixelAndCodes) {
    struct Case {
        uint16_t kind;
        int colours;
        std::vector<std::string> colourLines;  // the first ones written
    };
    const std::vector<Case> cases = {
        {IMG_BINARY, 2, {"\"` c #000000\",", "\". c #ffffff\","}},
        {IMG_GREY, 16, {"\"` c #000000\",", "\". c #111111\",", "\"# c #222222\","}},
        {IMG_PALETTE, 63, {"\"` c #00ff00\","}},
        {IMG_PALETTE, 100, {"\"`` c #00ff00\",", "\"`. c #01fe07\",", "\"`# c #02fd0e\","}},
        {IMG_GREY, 256, {"\"`` c #000000\",", "\"`. c #010101\","}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.colours);
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, c.kind, 4, 2, 1));
        img.colours = c.colours;
        if (img.palette)
            for (int i = 0; i < 256; ++i) {
                img.palette[i] = uint8_t(i);
                img.palette[256 + i] = uint8_t(255 - i);
                img.palette[512 + i] = uint8_t(i * 7);
            }
        imageRow(&img, 0)[1] = 1;
        const std::string path = tempPath("codes.xpm");
        ASSERT_EQ(save(&img, path), ST_OK);
        Bytes got;
        ASSERT_TRUE(readFile(path, &got));
        std::vector<std::string> lines;
        std::string all(got.begin(), got.end()), line;
        for (char ch : all) {
            if (ch == '\n') lines.push_back(line), line.clear();
            else line += ch;
        }
        ASSERT_GT(lines.size(), 4 + c.colourLines.size());
        const int cpp = c.colours < 64 ? 1 : 2;
        EXPECT_EQ(lines[3], "\"     2     1   " + std::string(6 - std::to_string(c.colours).size(), ' ') +
                                std::to_string(c.colours) + "            " + std::to_string(cpp) + "\",");
        for (size_t i = 0; i < c.colourLines.size(); ++i) EXPECT_EQ(lines[5 + i], c.colourLines[i]);
        EXPECT_EQ(lines[5 + c.colours], "/* pixels */");
        EXPECT_EQ(lines[6 + c.colours], cpp == 1 ? "\"`.\"" : "\"```.\"");
    }
}

TEST(XpmWriter, RefusesTrueColour) {
    SaveRequest request{};
    request.kind = KIND_ANY_TRUECOLOUR;
    request.width = request.height = 2;
    EXPECT_EQ(writeXpm(nullptr, &request), ST_KIND_REFUSED);
}

// ---- peers -------------------------------------------------------------------------

// A P6 picture whose pixel i (in reading order) has colour i % count; the
// first colours are named X11 colours, the others arbitrary.
Rgb colourPattern(int w, int h, int count) {
    static const Colour named[] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {47, 79, 79}};
    Rgb p;
    p.width = w;
    p.height = h;
    for (int i = 0; i < w * h; ++i) {
        const int k = (i * 7) % count;
        Colour c = k < 6 ? named[k] : Colour{uint8_t(k * 13), uint8_t(k * 5 + 1), uint8_t(k / 2 + 3)};
        p.pixels.insert(p.pixels.end(), c.begin(), c.end());
    }
    return p;
}

bool writePpm(const std::string& path, const Rgb& p) {
    std::string head = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    Bytes b(head.begin(), head.end());
    b.insert(b.end(), p.pixels.begin(), p.pixels.end());
    return writeFile(path, b);
}

TEST(XpmPeers, PeerFilesDecodeToTheirPicture) {
    if (!haveProgram("ppmtoxpm") || !haveProgram(IM)) GTEST_SKIP() << "netpbm or ImageMagick missing";
    for (int count : {2, 6, 90, 256, 400}) {
        const Rgb picture = colourPattern(23, 21, count);
        const std::string ppm = tempPath("pattern.ppm");
        ASSERT_TRUE(writePpm(ppm, picture));
        const std::string out = tempPath("peer.xpm");
        {
            // netpbm's own colour names differ from the X11 list beyond the basic ones: hexadecimal only.
            SCOPED_TRACE("ppmtoxpm with " + std::to_string(count) + " colours");
            ASSERT_EQ(run("ppmtoxpm -hexonly " + ppm + " > " + out + " 2>/dev/null"), 0);
            OwnedImage img;
            ASSERT_EQ(load(out, &img), ST_OK);
            EXPECT_EQ(img.kind & IMG_TRUECOLOUR ? 1 : 0, count > 256 ? 1 : 0);
            EXPECT_EQ(compareRgb(toRgb(img), picture), 0);
        }
        {
            // ImageMagick names the colours it can and reduces pictures to 256
            // colours or fewer: its own reading of its file is the reference.
            SCOPED_TRACE("ImageMagick with " + std::to_string(count) + " colours");
            const std::string back = tempPath("peer.ppm");
            ASSERT_EQ(run(std::string(IM) + " " + ppm + " xpm:" + out + " 2>/dev/null"), 0);
            ASSERT_EQ(run(std::string(IM) + " " + out + " -depth 8 ppm:" + back + " 2>/dev/null"), 0);
            Rgb ref;
            ASSERT_TRUE(readPnmReference(back, &ref));
            OwnedImage img;
            ASSERT_EQ(load(out, &img), ST_OK);
            EXPECT_EQ(compareRgb(toRgb(img), ref), 0);
            if (count <= 256) EXPECT_EQ(compareRgb(ref, picture), 0);
        }
    }
}

TEST(XpmPeers, OurFilesReadBackInThePeers) {
    if (!haveProgram("xpmtoppm") || !haveProgram(IM)) GTEST_SKIP() << "netpbm or ImageMagick missing";
    struct Case {
        uint16_t kind;
        int colours;
    };
    for (const Case& c : std::vector<Case>{{IMG_BINARY, 2}, {IMG_GREY, 256}, {IMG_GREY, 16}, {IMG_PALETTE, 40},
                                           {IMG_PALETTE, 200}}) {
        SCOPED_TRACE(std::to_string(c.kind) + " " + std::to_string(c.colours));
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, c.kind, 4, 19, 13));
        img.colours = c.colours;
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 19; ++x) imageRow(&img, y)[x] = uint8_t((x * 11 + y * 17) % c.colours);
        if (img.palette)
            for (int i = 0; i < 256; ++i) {
                img.palette[i] = uint8_t(i * 3);
                img.palette[256 + i] = uint8_t(255 - i);
                img.palette[512 + i] = uint8_t(i * 7);
            }
        const std::string path = tempPath("ours.xpm");
        ASSERT_EQ(save(&img, path), ST_OK);
        const Rgb ours = toRgb(img);
        const std::string ppm = tempPath("back.ppm");
        for (const std::string& cmd : {"xpmtoppm " + path + " | ppmtoppm > " + ppm,
                                       std::string(IM) + " " + path + " -depth 8 ppm:" + ppm}) {
            SCOPED_TRACE(cmd);
            ASSERT_EQ(run(cmd + " 2>/dev/null"), 0);
            Rgb ref;
            ASSERT_TRUE(readPnmReference(ppm, &ref));
            EXPECT_EQ(compareRgb(ref, ours), 0);
        }
        OwnedImage back;
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), ours), 0);
    }
}

TEST(XpmPeers, SampleFiles) {
    const std::string root = std::string(KALEO_CORPUS_DIR) + "/xpm";
    DIR* dir = opendir(root.c_str());
    if (!dir) GTEST_SKIP() << "no sample folder " << root;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(dir);
    if (!haveProgram("xpmtoppm") || !haveProgram(IM)) GTEST_SKIP() << "netpbm or ImageMagick missing";
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = root + "/" + name;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        const Rgb ours = toRgb(img);
        const std::string ppm = tempPath("sample.ppm");
        ASSERT_EQ(run(std::string(IM) + " " + path + " -depth 8 ppm:" + ppm + " 2>/dev/null"), 0);
        Rgb ref;
        ASSERT_TRUE(readPnmReference(ppm, &ref));
        EXPECT_EQ(compareRgb(ours, ref), 0);
        // xpmtoppm refuses "static const char" arrays; where it reads the file it must agree too.
        if (run("xpmtoppm " + path + " 2>/dev/null | ppmtoppm > " + ppm + " 2>/dev/null") == 0) {
            ASSERT_TRUE(readPnmReference(ppm, &ref));
            EXPECT_EQ(compareRgb(ours, ref), 0) << "xpmtoppm";
        }
    }
}

}  // namespace
