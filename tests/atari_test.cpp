// Atari ST screens: Degas, NEOchrome, Tiny and Spectrum 512. The corpus and
// files written by netpbm decode to the pixels netpbm's own readers give;
// hand-made files pin down modes, runs, palette choice and refusals; the
// Degas writer round-trips every save mode and netpbm reads what it writes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;


// A netpbm reader's decode of a file (tool reads the file on its standard input).
bool peerDecode(const std::string& tool, const std::string& in, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("peer" + std::to_string(counter++) + ".pnm");
    if (run(shell("TOOL < IN > OUT", {{"TOOL", tool}, {"IN", in}, {"OUT", ppm}})) != 0) return false;
    unsigned maxval = 0;
    return readPeerPnm(ppm, out, &maxval);
}

void put16(Bytes* b, unsigned v) {
    b->push_back(static_cast<uint8_t>(v >> 8));
    b->push_back(static_cast<uint8_t>(v));
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The colour of pixel (x, y) as R,G,B.
std::vector<int> rgbAt(const Image& img, int x, int y) {
    const Rgb rgb = toRgb(img);
    const uint8_t* p = &rgb.pixels[3 * (static_cast<size_t>(y) * rgb.width + x)];
    return {p[0], p[1], p[2]};
}

const std::vector<int> BLACK = {0, 0, 0}, WHITE = {255, 255, 255}, RED = {255, 0, 0}, GREEN = {0, 255, 0},
                       BLUE = {0, 0, 255};

// ---- Degas ------------------------------------------------------------------

// A Degas header: compression byte, resolution byte, palette words.
Bytes degasHead(uint8_t compression, uint8_t code, int words, unsigned first = 0x0777) {
    Bytes b = {compression, code};
    for (int i = 0; i < words; ++i) put16(&b, i == 0 ? first : 0);
    return b;
}

TEST(DegasReader, CorpusAndNetpbmFilesMatchNetpbm) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("pi1toppm") || !haveProgram("pi3topbm") || !haveProgram("ppmtopi1") || !haveProgram("pbmtopi3"))
        GTEST_SKIP() << "netpbm missing";
    // Files netpbm writes from pictures of ours.
    const std::string ppm = tempPath("degas16.ppm"), pbm = tempPath("degas.pbm");
    OwnedImage src;
    ASSERT_TRUE(testpictures::makePicture(&src, IMG_RGB, 320, 200, [](int x, int y, int c) {
        return static_cast<uint8_t>((((x / 20 + y / 25) >> c) & 1) * 255);
    }));
    ASSERT_TRUE(testpictures::writePpm(tempPath("degas16.ppm"), src));
    ASSERT_EQ(0, run(shell("pbmmake -g 640 400 | pnmcut 0 0 640 400 > OUT", {{"OUT", pbm}})));
    const std::string pi1 = tempPath("netpbm.pi1"), pi3 = tempPath("netpbm.pi3");
    ASSERT_EQ(0, run(shell("ppmtopi1 IN > OUT", {{"IN", ppm}, {"OUT", pi1}})));
    ASSERT_EQ(0, run(shell("pbmtopi3 IN > OUT", {{"IN", pbm}, {"OUT", pi3}})));

    struct Case {
        std::string file, peer, reference;  // reference: a file the peer decodes to the same picture
        int width, height;
        uint16_t kind;
    } cases[] = {
        {corpusPath("degas/LOWRES.PI1"), "pi1toppm", "", 320, 200, IMG_PALETTE},
        {corpusPath("degas/LOWRES.PC1"), "pi1toppm", corpusPath("degas/LOWRES.PI1"), 320, 200, IMG_PALETTE},
        {corpusPath("degas/input_mono.pi3"), "pi3topbm", "", 640, 400, IMG_BINARY},
        {pi1, "pi1toppm", "", 320, 200, IMG_PALETTE},
        {pi3, "pi3topbm", "", 640, 400, IMG_BINARY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(c.file, &img));
        EXPECT_EQ(c.width, img.width);
        EXPECT_EQ(c.height, img.height);
        EXPECT_EQ(c.kind, img.kind);
        Rgb want;
        ASSERT_TRUE(peerDecode(c.peer, c.reference.empty() ? c.file : c.reference, &want));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

// 129 bytes 0xFF, then zeros to the end of an ST high screen, Degas Elite runs.
Bytes highScreenRuns() {
    Bytes b = {0x80, 0xFF};
    for (int i = 0; i < 247; ++i) b.insert(b.end(), {0x80, 0x00});
    b.insert(b.end(), {0xF9, 0x00});  // 8 more: 129 + 247 x 129 + 8 = 32000
    return b;
}

TEST(DegasReader, HandMadeFiles) {
    const Bytes runs = highScreenRuns();
    Bytes medium(32000, 0);
    medium[2] = 0x80;  // plane 1's word of the first group: pixel 0 has index 2
    Bytes packedMedium = {0x4F};  // 80 bytes of plane 0, then plane 1's first byte
    packedMedium.insert(packedMedium.end(), 80, 0);
    packedMedium.insert(packedMedium.end(), {0x00, 0x80});
    for (int left = 32000 - 81; left > 0; left -= 129)  // runs of 2 to 129 (31919 = 247 x 129 + 56)
        packedMedium.insert(packedMedium.end(), {static_cast<uint8_t>(257 - (left < 129 ? left : 129)), 0x00});
    Bytes paletteMedium = degasHead(0, 1, 16);
    paletteMedium[6] = 0x07;  // entry 2 red
    Bytes paletteMediumPacked = paletteMedium;
    paletteMediumPacked[0] = 0x80;

    struct Case {
        const char* name;
        Bytes file;
        Status status;
        int width, height;
        int x, y;
        std::vector<int> colour;
    } cases[] = {
        {"plain ST low of 32034 bytes", cat(degasHead(0, 0, 16), Bytes(32000, 0)), ST_OK, 320, 200, 0, 0, WHITE},
        {"plain ST low with animation data", cat(degasHead(0, 0, 16), Bytes(32032, 0)), ST_OK, 320, 200, 0, 0, WHITE},
        {"plain ST low of 32050 bytes", cat(degasHead(0, 0, 16), Bytes(32016, 0)), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
        {"plain medium rows are word-interleaved", cat(paletteMedium, medium), ST_OK, 640, 200, 0, 0, RED},
        {"packed medium rows are line-planar", cat(paletteMediumPacked, packedMedium), ST_OK, 640, 200, 0, 0, RED},
        {"control byte 0x80 repeats 129 times", cat(degasHead(0x80, 2, 16), highScreenRuns()), ST_OK, 640, 400, 391, 1,
         BLACK},
        {"the run after 129 bytes is white", cat(degasHead(0x80, 2, 16), highScreenRuns()), ST_OK, 640, 400, 392, 1,
         WHITE},
        {"code 7 is TT low", cat(degasHead(0, 7, 256, 0x0F00), Bytes(153600, 0)), ST_OK, 320, 480, 5, 5, RED},
        {"code 4 is TT medium", cat(degasHead(0, 4, 16, 0x000F), Bytes(153600, 0)), ST_OK, 640, 480, 0, 0, BLUE},
        {"code 5 is TT high, a set bit black", cat(degasHead(0, 5, 0), Bytes(153600, 0xFF)), ST_OK, 1280, 960, 7, 7,
         BLACK},
        {"code 5 shorter than its screen", cat(degasHead(0, 5, 0), Bytes(1000, 0xFF)), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
        {"code 3", cat(degasHead(0, 3, 16), Bytes(32000, 0)), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
        {"code 6", cat(degasHead(0, 6, 16), Bytes(32000, 0)), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
        {"compression byte 0x40", cat(degasHead(0x40, 0, 16), Bytes(32000, 0)), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
        {"palette word past 12 bits", cat(degasHead(0, 0, 16, 0x1777), Bytes(32000, 0)), ST_UNKNOWN_FORMAT, 0, 0, 0,
         0, {}},
        {"packed rows cut short", cat(degasHead(0x80, 2, 16), Bytes(runs.begin(), runs.begin() + 300)),
         ST_READ_ERROR, 640, 400, 0, 0, BLACK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("degas", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.width, img.width);
        EXPECT_EQ(c.height, img.height);
        EXPECT_EQ(c.colour, rgbAt(img, c.x, c.y));
    }
}

// A picture whose palette holds colours that the file's words store exactly.
void makeMapped(Image* img, uint16_t kind, int w, int h, int colours, bool twelveBit) {
    ASSERT_TRUE(testpictures::makePicture(img, kind, w, h, [colours](int x, int y, int) {
        return static_cast<uint8_t>((x / 3 + y * 5 + x * y) % colours);
    }));
    img->colours = kind == IMG_BINARY ? 2 : colours;
    img->orientation = 0;
    if (kind != IMG_PALETTE) return;
    const int levels = twelveBit ? 15 : 7;
    for (int i = 0; i < 256; ++i) {
        img->palette[i] = static_cast<uint8_t>((i % (levels + 1)) * 255 / levels);
        img->palette[256 + i] = static_cast<uint8_t>(((i / 3) % (levels + 1)) * 255 / levels);
        img->palette[512 + i] = static_cast<uint8_t>(((i * 5 + 1) % (levels + 1)) * 255 / levels);
    }
}

TEST(DegasWriter, EverySaveModeRoundTripsAndNetpbmReadsIt) {
    struct Case {
        const char* name;
        uint16_t kind;
        int width, height, colours;
        bool twelveBit;
        uint8_t code;
        size_t size;
        const char* peer;
    } cases[] = {
        {"black and white 640 x 400", IMG_BINARY, 640, 400, 2, false, 2, 32034, "pi3topbm"},
        {"black and white 1280 x 960", IMG_BINARY, 1280, 960, 2, false, 5, 153602, nullptr},
        {"16 colours 320 x 200", IMG_PALETTE, 320, 200, 16, false, 0, 32034, "pi1toppm"},
        {"12 colours 320 x 200", IMG_PALETTE, 320, 200, 12, false, 0, 32034, "pi1toppm"},
        {"4 colours 640 x 200", IMG_PALETTE, 640, 200, 4, false, 1, 32034, nullptr},
        {"16 colours 640 x 480", IMG_PALETTE, 640, 480, 16, true, 4, 153634, nullptr},
        {"256 colours 320 x 480", IMG_PALETTE, 320, 480, 256, true, 7, 154114, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        makeMapped(&img, c.kind, c.width, c.height, c.colours, c.twelveBit);
        const std::string path = tempPath(std::string("out") + std::to_string(c.code) + c.name[0] + ".pi1");
        ASSERT_EQ(ST_OK, saveAs(&img, path, "degas"));
        Bytes file;
        ASSERT_TRUE(readFile(path, &file));
        ASSERT_EQ(c.size, file.size());
        EXPECT_EQ(0, file[0]);
        EXPECT_EQ(c.code, file[1]);
        OwnedImage back;
        ASSERT_EQ(ST_OK, load(path, &back));
        EXPECT_EQ(0, compareRgb(toRgb(img), toRgb(back)));
        if (c.peer && haveProgram(c.peer)) {
            Rgb peer;
            ASSERT_TRUE(peerDecode(c.peer, path, &peer));
            EXPECT_EQ(0, compareRgb(toRgb(img), peer));
        }
    }
}

TEST(DegasWriter, PicturesNoResolutionFitsAreRefused) {
    struct Case {
        const char* name;
        uint16_t kind;
        int width, height, colours;
    } cases[] = {
        {"true colour", IMG_RGB, 320, 200, 0},
        {"5 colours at 640 x 200", IMG_PALETTE, 640, 200, 5},
        {"17 colours at 320 x 200", IMG_PALETTE, 320, 200, 17},
        {"black and white at 320 x 200", IMG_BINARY, 320, 200, 2},
        {"16 colours at 321 x 200", IMG_PALETTE, 321, 200, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        makeMapped(&img, c.kind, c.width, c.height, c.colours > 0 ? c.colours : 2, false);
        const std::string path = tempPath(std::string("refused") + c.name[0] + ".pi1");
        EXPECT_EQ(ST_KIND_REFUSED, saveAs(&img, path, "degas"));
    }
}

TEST(DegasWriter, FullDiskIsAWriteError) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (uint16_t kind : {IMG_BINARY, IMG_PALETTE}) {
        SCOPED_TRACE(kind);
        OwnedImage img;
        makeMapped(&img, kind, kind == IMG_BINARY ? 640 : 320, kind == IMG_BINARY ? 400 : 200, 16, false);
        EXPECT_EQ(ST_WRITE_ERROR, saveAs(&img, "/dev/full", "degas"));
    }
}

// ---- NEOchrome ----------------------------------------------------------------

TEST(NeoReader, NetpbmAndCorpusFilesMatchNeotoppm) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("neotoppm") || !haveProgram("ppmtoneo")) GTEST_SKIP() << "netpbm missing";
    OwnedImage src;
    ASSERT_TRUE(testpictures::makePicture(&src, IMG_RGB, 320, 200, [](int x, int y, int c) {
        return static_cast<uint8_t>((((x / 7 + y / 9) >> c) & 1) * 255);
    }));
    const std::string ppm = tempPath("neo.ppm"), neo = tempPath("netpbm.neo");
    ASSERT_TRUE(testpictures::writePpm(ppm, src));
    ASSERT_EQ(0, run(shell("ppmtoneo IN > OUT", {{"IN", ppm}, {"OUT", neo}})));
    for (const std::string& file : {corpusPath("neo/MEDUSABL.NEO"), neo}) {
        SCOPED_TRACE(file);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(file, &img));
        Rgb want;
        ASSERT_TRUE(peerDecode("neotoppm", file, &want));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

TEST(NeoReader, HandMadeFiles) {
    Bytes standard(32128, 0);
    standard[4] = 0x07;  // entry 0 red
    Bytes extended(154116, 0);
    extended[0] = 0xBA, extended[1] = 0xBE, extended[2] = 0x00, extended[3] = 0x07;
    extended[4] = 0x00, extended[5] = 0xF0;  // entry 0 green, four bits a gun
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        int width, height;
        std::vector<int> colour;
    } cases[] = {
        {"standard", standard, ST_OK, 320, 200, RED},
        {"extended TT low", extended, ST_OK, 320, 480, GREEN},
        {"standard one byte short", Bytes(standard.begin(), standard.end() - 1), ST_UNKNOWN_FORMAT, 0, 0, {}},
        {"extended flag at the standard size", cat(Bytes{0xBA, 0xBE, 0, 7}, Bytes(32124, 0)), ST_UNKNOWN_FORMAT, 0, 0,
         {}},
        {"flag word 1", cat(Bytes{0, 1, 0, 0}, Bytes(32124, 0)), ST_UNKNOWN_FORMAT, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("neo", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.width, img.width);
        EXPECT_EQ(c.height, img.height);
        EXPECT_EQ(c.colour, rgbAt(img, 0, 0));
    }
}

// ---- Tiny ---------------------------------------------------------------------

TEST(TinyReader, CorpusFileIsTheNeochromePicture) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("neotoppm")) GTEST_SKIP() << "netpbm missing";
    OwnedImage img;
    ASSERT_EQ(ST_OK, load(corpusPath("tiny/MEDUSABL.TN1"), &img));
    Rgb want;
    ASSERT_TRUE(peerDecode("neotoppm", corpusPath("neo/MEDUSABL.NEO"), &want));
    EXPECT_EQ(0, compareRgb(toRgb(img), want));
}

// A Tiny file: resolution byte (plus animation bytes for 3 to 5), palette
// with entry 1 red, then the control bytes and data words.
Bytes tinyFile(uint8_t resolution, const Bytes& control, const std::vector<unsigned>& words) {
    Bytes b = {resolution};
    if (resolution > 2) b.insert(b.end(), {9, 9, 9, 9});
    for (int i = 0; i < 16; ++i) put16(&b, i == 0 ? 0x0777 : i == 1 ? 0x0700 : i == 2 ? 0x0070 : 0);
    put16(&b, static_cast<unsigned>(control.size()));
    put16(&b, static_cast<unsigned>(words.size()));
    b.insert(b.end(), control.begin(), control.end());
    for (unsigned w : words) put16(&b, w);
    return b;
}

TEST(TinyReader, ControlCodesAndColumnOrder) {
    // ST low: screen word 4g + p is plane p of the pixels 16g to 16g + 15;
    // entry 0 white, 1 red, 2 green, 3 black.
    const Bytes cut = tinyFile(0, {0x80, 2, 2}, {1});
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        int width;
        int x, y;
        std::vector<int> colour;
    } cases[] = {
        {"c >= 2 repeats a word down the first column", tinyFile(0, {5}, {0x8000}), ST_OK, 320, 0, 4, RED},
        {"the repeat stops after c rows", tinyFile(0, {5}, {0x8000}), ST_OK, 320, 0, 5, WHITE},
        {"c < 0 copies words", tinyFile(0, {0xFE}, {0x0000, 0x0001}), ST_OK, 320, 15, 1, RED},
        {"c = 0 takes a 16-bit count; word 200 starts 4 words right", tinyFile(0, {0, 0x01, 0x2C}, {0x8000}), ST_OK,
         320, 16, 99, RED},
        {"the counted run ends after 300 words", tinyFile(0, {0, 0x01, 0x2C}, {0x8000}), ST_OK, 320, 16, 100, WHITE},
        {"after twenty columns back to word 1", tinyFile(0, {0, 0x0F, 0xA1}, {0x8000}), ST_OK, 320, 0, 0, BLACK},
        {"word 1 is filled from the top only", tinyFile(0, {0, 0x0F, 0xA1}, {0x8000}), ST_OK, 320, 0, 1, RED},
        {"c = 1 copies a counted run of words", tinyFile(0, {1, 0x00, 0x02, 3}, {0, 0x4000, 0x8000}), ST_OK, 320, 1,
         1, RED},
        {"the word after the copy is repeated", tinyFile(0, {1, 0x00, 0x02, 3}, {0, 0x4000, 0x8000}), ST_OK, 320, 0,
         4, RED},
        {"resolution 4 skips animation bytes: ST medium", tinyFile(4, {2}, {0x8000}), ST_OK, 640, 0, 0, RED},
        {"resolution 3 is ST low", tinyFile(3, {2}, {0x8000}), ST_OK, 320, 0, 1, RED},
        {"ST high rows are half a column row", tinyFile(2, {2}, {0x8000}), ST_OK, 640, 0, 2, RED},
        {"ST high row 1 is the right half of column row 0", tinyFile(2, {2}, {0x8000}), ST_OK, 640, 0, 1, WHITE},
        {"a count past the words stops there", tinyFile(0, {0x80}, {0x8000}), ST_OK, 320, 0, 0, RED},
        {"control bytes cut", Bytes(cut.begin(), cut.end() - 3), ST_READ_ERROR, 320, 0, 0, WHITE},
        {"resolution 6", tinyFile(6, {2}, {1}), ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("tiny", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.width, img.width);
        EXPECT_EQ(c.colour, rgbAt(img, c.x, c.y));
    }
}

}  // namespace
