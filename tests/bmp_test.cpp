// Windows and OS/2 bitmaps: files written by ImageMagick and netpbm decode as
// those programs decode them, our files decode the same in ImageMagick, and
// hand-built files pin down run-length codes, bit fields and header checks.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
const char MSG_BAD_SIZE[] = "Windows Bitmap : Bad picture's size !";

int bmpIndex() {
    static int index = findFormat("bmp");
    return index;
}

// ---- hand-built files ------------------------------------------------------

const auto put16 = putLE16;
const auto put32 = putLE32;
uint32_t get32(const std::vector<uint8_t>& v, size_t at) {
    return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

struct BmpSpec {
    uint32_t headerSize = 40;  // 12 = OS/2; 108 / 124 carry the masks inside
    int32_t width = 4;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bits = 8;
    uint32_t compression = 0;
    int32_t ppm = 0;
    uint32_t coloursUsed = 0;
    std::vector<uint32_t> masks;  // after a 40-byte header, inside longer ones
    std::vector<uint8_t> palette; // as stored
    std::vector<uint8_t> pixels;  // as stored
    int64_t dataOffset = -1;      // -1: right after the palette
};

std::vector<uint8_t> buildBmp(const BmpSpec& s) {
    std::vector<uint8_t> info;
    put32(&info, s.headerSize);
    if (s.headerSize == 12) {
        put16(&info, s.width);
        put16(&info, s.height);
        put16(&info, s.planes);
        put16(&info, s.bits);
    } else {
        put32(&info, s.width);
        put32(&info, s.height);
        put16(&info, s.planes);
        put16(&info, s.bits);
        put32(&info, s.compression);
        put32(&info, 0);
        put32(&info, s.ppm);
        put32(&info, s.ppm);
        put32(&info, s.coloursUsed);
        put32(&info, 0);
        for (uint32_t m : s.masks) put32(&info, m);
        if (info.size() < s.headerSize) info.resize(s.headerSize, 0);
    }
    size_t offset = 14 + info.size() + s.palette.size();
    std::vector<uint8_t> f = {'B', 'M'};
    put32(&f, offset + s.pixels.size());
    put32(&f, 0);
    put32(&f, s.dataOffset >= 0 ? static_cast<uint32_t>(s.dataOffset) : offset);
    f.insert(f.end(), info.begin(), info.end());
    f.insert(f.end(), s.palette.begin(), s.palette.end());
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    return f;
}

// n distinct entries B, G, R, 0.
std::vector<uint8_t> paletteOf(int n) {
    std::vector<uint8_t> p;
    for (int i = 0; i < n; ++i) p.insert(p.end(), {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3 + 1), 0});
    return p;
}

Status loadBytes(const std::vector<uint8_t>& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".bmp");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(bmpIndex());
    o.flags = flags;
    return loadImage(path.c_str(), img, &o, info);
}

// The raw bytes of row y in file order (files are bottom-up unless built top-down).
std::vector<uint8_t> rawRow(const Image& img, int y) {
    const uint8_t* r = img.pixels + static_cast<size_t>(y) * img.stride;
    return std::vector<uint8_t>(r, r + static_cast<size_t>(img.width) * img.bytesPerPixel);
}

// ---- run-length decoding -----------------------------------------------------

struct RleCase {
    const char* name;
    uint16_t bits;
    int32_t width, height;
    std::vector<uint8_t> data;
    Status status;
    std::vector<std::vector<uint8_t>> rows;  // indices, file order (bottom row first)
};

TEST(BmpReader, RunLengthCodes) {
    const std::vector<RleCase> cases = {
        {"rle8 run and padded literal", 8, 6, 1, {3, 5, 0, 3, 1, 2, 3, 0, 0, 0}, ST_OK, {{5, 5, 5, 1, 2, 3}}},
        {"rle4 run at even position", 4, 5, 1, {5, 0x12, 0, 0}, ST_OK, {{1, 2, 1, 2, 1}}},
        {"rle4 run at odd position", 4, 6, 1, {1, 0x70, 5, 0x12, 0, 0}, ST_OK, {{7, 1, 2, 1, 2, 1}}},
        {"rle4 odd literal then pad", 4, 6, 1, {0, 5, 0xAB, 0xCD, 0xE0, 0, 1, 0xF0, 0, 0}, ST_OK,
         {{10, 11, 12, 13, 14, 15}}},
        {"rle4 literal of 3 unpadded", 4, 4, 1, {0, 3, 0x12, 0x30, 1, 0x40, 0, 0}, ST_OK, {{1, 2, 3, 4}}},
        {"delta moves right and up", 8, 4, 3, {2, 9, 0, 2, 1, 1, 1, 7, 0, 0, 4, 3, 0, 1}, ST_OK,
         {{9, 9, 0, 0}, {0, 0, 0, 7}, {3, 3, 3, 3}}},
        {"runs past the row are cut", 8, 4, 2, {6, 5, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0, 0, 1}, ST_OK,
         {{5, 5, 5, 5}, {1, 2, 3, 4}}},
        {"rle4 run past the row", 4, 3, 2, {9, 0x45, 0, 0, 2, 0x66, 0, 1}, ST_OK, {{4, 5, 4}, {6, 6, 0}}},
        {"end of bitmap then garbage", 8, 3, 3, {3, 1, 0, 0, 0, 1, 3, 9, 0, 0, 3, 9}, ST_OK,
         {{1, 1, 1}, {0, 0, 0}, {0, 0, 0}}},
        {"delta past the last row", 8, 2, 2, {1, 4, 0, 2, 0, 9, 7, 7}, ST_OK, {{4, 0}, {0, 0}}},
        {"file ends inside a row", 8, 4, 2, {4, 6, 0, 0, 2, 8}, ST_READ_ERROR, {{6, 6, 6, 6}, {8, 8, 0, 0}}},
        {"file ends inside a literal", 8, 5, 1, {0, 5, 1, 2}, ST_READ_ERROR, {{1, 2, 0, 0, 0}}},
    };
    for (const RleCase& c : cases) {
        SCOPED_TRACE(c.name);
        BmpSpec s;
        s.bits = c.bits;
        s.width = c.width;
        s.height = c.height;
        s.compression = c.bits == 8 ? 1 : 2;
        s.palette = paletteOf(1 << c.bits);
        s.pixels = c.data;
        std::vector<uint8_t> file = buildBmp(s);
        OwnedImage img;
        ASSERT_EQ(loadBytes(file, &img), c.status);
        if (c.status != ST_OK) {
            ASSERT_EQ(loadBytes(file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        ASSERT_EQ(img.kind, IMG_PALETTE);
        for (int y = 0; y < c.height; ++y) EXPECT_EQ(rawRow(img, c.height - 1 - y), c.rows[y]) << "file row " << y;
    }
}

// ---- bit fields and the fourth byte ------------------------------------------

struct MaskCase {
    const char* name;
    uint32_t headerSize;
    uint16_t bits;
    uint32_t compression;
    std::vector<uint32_t> masks;
    std::vector<uint8_t> pixel;  // one stored pixel (the row is padded here)
    uint16_t kind;
    std::vector<uint8_t> expect; // the image's pixel bytes
};

TEST(BmpReader, BitFieldsAndAlpha) {
    const std::vector<MaskCase> cases = {
        {"32 plain keeps the fourth byte", 40, 32, 0, {}, {1, 2, 3, 200}, IMG_RGB32, {3, 2, 1, 200}},
        {"32 masks without alpha clear it", 40, 32, 3, {0xFF0000, 0xFF00, 0xFF}, {1, 2, 3, 200}, IMG_RGB32,
         {3, 2, 1, 0}},
        {"32 version 5 alpha mask", 124, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {1, 2, 3, 200}, IMG_RGB32,
         {3, 2, 1, 200}},
        {"32 R,G,B,x byte order", 108, 32, 3, {0xFF, 0xFF00, 0xFF0000, 0}, {1, 2, 3, 200}, IMG_RGB32, {1, 2, 3, 0}},
        {"32 ten-bit fields", 40, 32, 3, {0x3FF00000, 0xFFC00, 0x3FF}, {0x00, 0x02, 0xF0, 0x3F}, IMG_RGB32,
         {255, 0, 128, 0}},
        {"16 plain is 5-5-5", 40, 16, 0, {}, {0x1F, 0x00, 0, 0}, IMG_RGB, {0, 0, 255}},
        {"16 masks 5-6-5", 40, 16, 3, {0xF800, 0x7E0, 0x1F}, {0x00, 0xF8, 0, 0}, IMG_RGB, {255, 0, 0}},
        {"16 masks 5-5-5 are not 5-6-5", 40, 16, 3, {0x7C00, 0x3E0, 0x1F}, {0xE0, 0x03, 0, 0}, IMG_RGB,
         {0, 255, 0}},
        {"16 masks with red low", 40, 16, 3, {0x1F, 0x3E0, 0x7C00}, {0x1F, 0x00, 0, 0}, IMG_RGB, {255, 0, 0}},
        {"16 version 4 with alpha", 108, 16, 3, {0x0F00, 0xF0, 0x0F, 0xF000}, {0x00, 0x8F, 0, 0}, IMG_RGB32,
         {255, 0, 0, 136}},
    };
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.name);
        BmpSpec s;
        s.headerSize = c.headerSize;
        s.width = 1;
        s.bits = c.bits;
        s.compression = c.compression;
        s.masks = c.masks;
        s.pixels = c.pixel;
        OwnedImage img;
        ASSERT_EQ(loadBytes(buildBmp(s), &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(rawRow(img, 0), c.expect);
    }
}

// ---- header checks -------------------------------------------------------------

struct HeaderCase {
    const char* name;
    void (*mutate)(BmpSpec*);
    Status status;
    const char* message;
};

TEST(BmpReader, HeaderChecks) {
    const std::vector<HeaderCase> cases = {
        {"zero width", [](BmpSpec* s) { s->width = 0; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"width 16000", [](BmpSpec* s) { s->width = 16000; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"zero height", [](BmpSpec* s) { s->height = 0; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"height -16000", [](BmpSpec* s) { s->height = -16000; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"7 bits", [](BmpSpec* s) { s->bits = 7; }, ST_BAD_FILE, "Windows Bitmap : Bad number of bits per pixel !"},
        {"2 planes", [](BmpSpec* s) { s->planes = 2; }, ST_BAD_FILE, "Windows Bitmap : Bad number of planes !"},
        {"compression 4", [](BmpSpec* s) { s->compression = 4; }, ST_UNKNOWN_FORMAT, ""},
        {"header size 20", [](BmpSpec* s) { s->headerSize = 20; }, ST_UNKNOWN_FORMAT, ""},
        {"run-length 4 at 8 bits", [](BmpSpec* s) { s->compression = 2; }, ST_BAD_FILE,
         "Windows Bitmap : Bad compression for this depth !"},
        {"bit fields at 8 bits", [](BmpSpec* s) { s->compression = 3; }, ST_BAD_FILE,
         "Windows Bitmap : Bad compression for this depth !"},
        {"empty masks", [](BmpSpec* s) { s->bits = 16, s->compression = 3, s->masks = {0, 0, 0}; }, ST_BAD_FILE,
         "Windows Bitmap : Bad colour masks !"},
        {"data inside the header", [](BmpSpec* s) { s->dataOffset = 30; }, ST_BAD_FILE,
         "Windows Bitmap : Bad data offset !"},
        {"data beyond the file", [](BmpSpec* s) { s->dataOffset = 100000; }, ST_BAD_FILE,
         "Windows Bitmap : Bad data offset !"},
        {"width 15999 accepted", [](BmpSpec* s) { s->width = 15999; }, ST_OK, ""},
        {"top-down accepted", [](BmpSpec* s) { s->height = -2; }, ST_OK, ""},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        BmpSpec s;
        s.height = 2;
        s.palette = paletteOf(256);
        s.pixels.assign(8, 1);
        c.mutate(&s);
        std::string path = tempPath("mutated.bmp");
        ASSERT_TRUE(writeFile(path, buildBmp(s)));
        FileInfo info{};
        EXPECT_EQ(readImageInfo(path.c_str(), bmpIndex(), 0, &info), c.status);
        EXPECT_STREQ(info.message, c.message);
    }
    // Not a bitmap, or one that ends inside its headers: the next reader may try.
    FileInfo info{};
    std::string path = tempPath("short.bmp");
    BmpSpec s;
    s.palette = paletteOf(256);
    s.pixels.assign(4, 1);
    std::vector<uint8_t> cut = buildBmp(s);
    cut.resize(30);
    for (const std::vector<uint8_t>& bytes : {cut, std::vector<uint8_t>(60, 'B')}) {
        ASSERT_TRUE(writeFile(path, bytes));
        EXPECT_EQ(readImageInfo(path.c_str(), bmpIndex(), 0, &info), ST_UNKNOWN_FORMAT);
    }
}

TEST(BmpReader, PaletteLimitsResolutionAndOrientation) {
    // 300 colours used at 8 bits: only 256 entries are read, the data offset is honoured.
    BmpSpec s;
    s.height = -2;  // top-down: the first stored row is the top one
    s.coloursUsed = 300;
    s.ppm = 3779;  // 95.99 dpi
    s.palette = paletteOf(300);
    s.pixels = {0, 1, 2, 255, 9, 9, 9, 9};
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(loadBytes(buildBmp(s), &img, 0, &info), ST_OK);
    EXPECT_EQ(rawRow(img, 0), (std::vector<uint8_t>{0, 1, 2, 255}));
    EXPECT_EQ(img.palette[255], uint8_t(255 * 3 + 1));  // red of entry 255
    EXPECT_EQ(info.xdpi, 96);
    EXPECT_EQ(info.orientation & OR_BOTTOM_UP, 0);

    // 3 entries stored before the pixels of a 4-bit file; the others stay black.
    BmpSpec p;
    p.bits = 4;
    p.coloursUsed = 3;
    p.palette = paletteOf(3);
    p.pixels = {0x12, 0x03, 0, 0};
    freeImage(&img);
    ASSERT_EQ(loadBytes(buildBmp(p), &img), ST_OK);
    EXPECT_EQ(rawRow(img, 0), (std::vector<uint8_t>{1, 2, 0, 3}));
    EXPECT_EQ(img.palette[3] | img.palette[256 + 3] | img.palette[512 + 3], 0);
    EXPECT_EQ(img.palette[256 + 2], 253);

    // Windows CE 2-bit files; no resolution given comes out as 68 dpi.
    BmpSpec ce;
    ce.bits = 2;
    ce.width = 5;
    ce.palette = paletteOf(4);
    ce.pixels = {0x1B, 0x40, 0, 0};
    freeImage(&img);
    ASSERT_EQ(loadBytes(buildBmp(ce), &img, 0, &info), ST_OK);
    EXPECT_EQ(rawRow(img, 0), (std::vector<uint8_t>{0, 1, 2, 3, 1}));
    EXPECT_EQ(info.xdpi, 0);
    EXPECT_EQ(img.xdpi, 68);
}

int stopAfterTwo(int32_t row, int32_t, void*) { return row >= 1; }

TEST(BmpReader, ProgressCallbackStops) {
    BmpSpec plain;
    plain.height = 5;
    plain.palette = paletteOf(2);
    plain.pixels.assign(20, 1);
    BmpSpec rle = plain;
    rle.compression = 1;
    rle.pixels = {4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 0, 4, 1, 0, 1};
    for (const BmpSpec& s : {plain, rle}) {
        std::string path = tempPath("stop.bmp");
        ASSERT_TRUE(writeFile(path, buildBmp(s)));
        IoOptions o = defaultIoOptions();
        o.progressCallback = stopAfterTwo;
        OwnedImage img;
        EXPECT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_STOPPED);
        EXPECT_EQ(img.pixels, nullptr);
    }
}

// ---- peers ------------------------------------------------------------------------

// A source picture as P6, from a pattern of at most `colours` colours (0 = any).
Rgb makeSource(int w, int h, int colours) {
    Rgb s;
    s.width = w;
    s.height = h;
    uint32_t noise = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245 + 12345;
            int v = x * 7 + y * 13 + static_cast<int>((noise >> 16) % 5);
            if (colours == 2) s.pixels.insert(s.pixels.end(), 3, (v & 4) ? 255 : 0);
            else if (colours) v %= colours, s.pixels.insert(s.pixels.end(), {uint8_t(v * 37), uint8_t(v * 5), uint8_t(255 - v)});
            else s.pixels.insert(s.pixels.end(), {uint8_t(x * 7), uint8_t(y * 11), uint8_t(noise >> 24)});
        }
    return s;
}

bool writePpm(const std::string& path, const Rgb& p) {
    std::string head = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), p.pixels.begin(), p.pixels.end());
    return writeFile(path, bytes);
}

int maxDifference(const Rgb& a, const Rgb& b) {
    if (a.width != b.width || a.height != b.height) return 1000;
    int worst = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) worst = std::max(worst, std::abs(a.pixels[i] - b.pixels[i]));
    return worst;
}

// ImageMagick's decode of a bitmap file, as R,G,B.
bool peerDecode(const std::string& bmp, Rgb* out) {
    std::string ppm = bmp + ".ref.ppm";
    return run(std::string(IM) + " 'bmp:" + bmp + "' -depth 8 ppm:" + ppm + " 2>/dev/null") == 0 &&
           readPnmReference(ppm, out);
}

struct PeerCase {
    const char* name;
    int colours;             // of the source picture, 0 = full colour
    const char* command;     // {src} and {out} are replaced
    uint32_t headerSize, bits, compression;
    int tolerance;           // 16-bit fields are scaled slightly differently by each program
    bool shiftedNibbles = false;  // ImageMagick widens 4-bit fields by a shift: 15 -> 240, not 255
};

std::string expand(std::string s, const std::string& src, const std::string& out) {
    s.replace(s.find("{src}"), 5, src);
    s.replace(s.find("{out}"), 5, out);
    return s;
}

TEST(BmpReader, DecodesPeerFilesAsPeersDo) {
    const char ALPHA[] = "-alpha set -channel A -fx 'i/(w-1)' +channel";
    const std::vector<PeerCase> cases = {
        {"im 24", 0, "convert-im6.q16 {src} BMP3:{out}", 40, 24, 0, 0},
        {"im 8 rle", 200, "convert-im6.q16 {src} -type Palette BMP3:{out}", 40, 8, 1, 0},
        {"im 8", 200, "convert-im6.q16 {src} -type Palette -compress None BMP3:{out}", 40, 8, 0, 0},
        {"im 4", 16, "convert-im6.q16 {src} -type Palette -compress None BMP3:{out}", 40, 4, 0, 0},
        {"im 1", 2, "convert-im6.q16 {src} -type Bilevel BMP3:{out}", 40, 1, 0, 0},
        {"im os2 24", 0, "convert-im6.q16 {src} BMP2:{out}", 12, 24, 0, 0},
        {"im os2 8", 200, "convert-im6.q16 {src} -type Palette BMP2:{out}", 12, 8, 0, 0},
        {"im os2 4", 16, "convert-im6.q16 {src} -type Palette BMP2:{out}", 12, 4, 0, 0},
        {"im 565", 0, "convert-im6.q16 {src} -define bmp:subtype=RGB565 BMP:{out}", 124, 16, 3, 1},
        {"im 555", 0, "convert-im6.q16 {src} -define bmp:subtype=RGB555 BMP:{out}", 124, 16, 3, 1},
        {"im 4444", 0, "convert-im6.q16 {src} @A -define bmp:subtype=ARGB4444 BMP:{out}", 124, 16, 3, 0, true},
        {"im 1555", 0, "convert-im6.q16 {src} @A -define bmp:subtype=ARGB1555 BMP:{out}", 124, 16, 3, 1},
        {"im 32 alpha", 0, "convert-im6.q16 {src} @A BMP:{out}", 124, 32, 3, 0},
        {"im 32 plain", 0, "convert-im6.q16 {src} @A -define bmp3:alpha=true BMP3:{out}", 40, 32, 0, 0},
        {"gm 8 rle", 200, "gm convert {src} -type Palette -compress RLE BMP3:{out}", 40, 8, 1, 0},
        {"netpbm 1", 2, "ppmtobmp -bpp 1 {src} > {out}", 40, 1, 0, 0},
        {"netpbm 4", 16, "ppmtobmp -bpp 4 {src} > {out}", 40, 4, 0, 0},
        {"netpbm 8", 200, "ppmtobmp -bpp 8 {src} > {out}", 40, 8, 0, 0},
        {"netpbm 24", 0, "ppmtobmp -bpp 24 {src} > {out}", 40, 24, 0, 0},
        {"netpbm os2 1", 2, "ppmtobmp -os2 -bpp 1 {src} > {out}", 12, 1, 0, 0},
        {"netpbm os2 8", 200, "ppmtobmp -os2 -bpp 8 {src} > {out}", 12, 8, 0, 0},
    };
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = c.command;
        std::string program = cmd.substr(0, cmd.find(' '));
        if (!haveProgram(program)) continue;
        if (cmd.find("@A") != std::string::npos) cmd.replace(cmd.find("@A"), 2, ALPHA);
        std::string src = tempPath("peer" + std::to_string(n) + ".ppm");
        std::string out = tempPath("peer" + std::to_string(n++) + ".bmp");
        Rgb source = makeSource(37, 23, c.colours);
        ASSERT_TRUE(writePpm(src, source));
        ASSERT_EQ(run(expand(cmd, src, out) + " 2>/dev/null"), 0);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(out, &file));
        ASSERT_EQ(get32(file, 14), c.headerSize);
        ASSERT_EQ(file[c.headerSize == 12 ? 24 : 28], c.bits);
        if (c.headerSize > 12) {
            ASSERT_EQ(get32(file, 30), c.compression);
        }

        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        Rgb ref;
        ASSERT_TRUE(peerDecode(out, &ref));
        if (c.shiftedNibbles)
            for (uint8_t& v : ref.pixels) v = static_cast<uint8_t>((v >> 4) * 17);
        EXPECT_LE(maxDifference(toRgb(img), ref), c.tolerance);
        if (c.tolerance == 0 && c.colours) {
            EXPECT_EQ(compareRgb(toRgb(img), source), 0);
        }
        if (std::string(c.command).find("@A") != std::string::npos) {
            // The alpha ramp from 0 at the left to 1 at the right lands in the fourth byte.
            ASSERT_EQ(img.kind, IMG_RGB32);
            EXPECT_EQ(img.pixels[3], 0);
            EXPECT_EQ(img.pixels[36 * 4 + 3], 255);
        }
        if (c.tolerance == 0 && c.headerSize == 40 && c.bits == 24) {
            // A top-down copy: the same rows with the height negated come out flipped.
            std::vector<uint8_t> flipped = file;
            uint32_t h = static_cast<uint32_t>(-23);
            memcpy(&flipped[22], &h, 4);
            OwnedImage top;
            ASSERT_EQ(loadBytes(flipped, &top), ST_OK);
            for (int y = 0; y < 23; ++y) EXPECT_EQ(rawRow(top, y), rawRow(img, 22 - y));
        }
    }
}

struct TruncCase {
    const char* name;
    const char* command;  // from a full-colour 37 x 23 source
};

TEST(BmpReader, TruncatedFilesKeepTheRowsRead) {
    const std::vector<TruncCase> cases = {
        {"24 bits", "convert-im6.q16 {src} BMP3:{out}"},
        {"16 bits", "convert-im6.q16 {src} -define bmp:subtype=RGB565 BMP:{out}"},
        {"8 bits", "convert-im6.q16 {src} -colors 200 -type Palette -compress None BMP3:{out}"},
        {"8 bits rle", "convert-im6.q16 {src} -colors 200 -type Palette BMP3:{out}"},
        {"1 bit", "convert-im6.q16 {src} -type Bilevel BMP3:{out}"},
    };
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    std::string src = tempPath("trunc.ppm");
    ASSERT_TRUE(writePpm(src, makeSource(37, 23, 0)));
    for (const TruncCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out = tempPath("trunc.bmp");
        ASSERT_EQ(run(expand(c.command, src, out)), 0);
        OwnedImage whole;
        ASSERT_EQ(load(out, &whole), ST_OK);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(out, &file));
        uint32_t offset = get32(file, 10);
        // Cut at 40 % of the pixel data: some rows complete, one partly there.
        size_t cut = (file.size() - offset) * 2 / 5;
        file.resize(offset + cut);
        OwnedImage part;
        EXPECT_EQ(loadBytes(file, &part), ST_READ_ERROR);
        EXPECT_EQ(part.pixels, nullptr);
        ASSERT_EQ(loadBytes(file, &part, OPT_ACCEPT_DAMAGED), ST_OK);
        ASSERT_EQ(part.kind, whole.kind);
        const std::vector<uint8_t> black(rawRow(whole, 0).size(), 0);
        EXPECT_EQ(rawRow(part, 22), rawRow(whole, 22));  // the first stored row
        EXPECT_EQ(rawRow(part, 0), black);
        if (get32(file, 30) == 0 || get32(file, 30) == 3) {
            // Uncompressed: exactly the complete rows are kept, not the partial one.
            size_t stored = (37 * file[28] + 31) / 32 * 4, complete = cut / stored;
            EXPECT_EQ(rawRow(part, 23 - complete), rawRow(whole, 23 - complete));
            EXPECT_EQ(rawRow(part, 22 - complete), black);
        }
    }
}

TEST(BmpReader, SampleFilesMatchImageMagick) {
    std::string dir = std::string(KALEO_CORPUS_DIR) + "/bmp";
    DIR* d = opendir(dir.c_str());
    if (!d) GTEST_SKIP() << "no sample folder " << dir;
    if (!haveProgram(IM)) {
        closedir(d);
        GTEST_SKIP() << "ImageMagick missing";
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        OwnedImage img;
        ASSERT_EQ(load(dir + "/" + name, &img), ST_OK);
        std::string copy = tempPath("sample.bmp");
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(dir + "/" + name, &bytes) && writeFile(copy, bytes));
        Rgb ref;
        ASSERT_TRUE(peerDecode(copy, &ref));
        // 16-bit fields: one step of rounding between the two programs.
        int bits = bytes[get32(bytes, 14) == 12 ? 24 : 28];
        EXPECT_LE(maxDifference(toRgb(img), ref), bits == 16 ? 1 : 0);
    }
}

// ---- writer ------------------------------------------------------------------------

struct WriteCase {
    const char* name;
    uint16_t kind;
    int colours;
    int width, height;
    int rle;
    uint16_t bits;
    uint32_t compression;
};

// A picture mixing runs and busy stretches, in any kind.
bool makePicture(Image* img, const WriteCase& c) {
    if (!createImage(img, c.kind, 1, c.width, c.height)) return false;
    img->colours = c.kind & IMG_TRUECOLOUR ? 0 : c.colours;
    if (img->palette)
        for (int i = 0; i < 256; ++i)
            img->palette[i] = uint8_t(i * 5), img->palette[256 + i] = uint8_t(255 - i), img->palette[512 + i] = uint8_t(i * 9);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            int v = y % 3 == 0 ? x * 3 + y : (x / 7) * 5 + y;  // busy rows, then rows of runs
            uint8_t* p = imageRow(img, y) + x * img->bytesPerPixel;
            if (img->bytesPerPixel == 1) p[0] = uint8_t(v % (c.kind == IMG_BINARY ? 2 : c.colours));
            else for (int k = 0; k < img->bytesPerPixel; ++k) p[k] = uint8_t(v * (k + 1) + k * 40);
            if (img->bytesPerPixel == 4) p[c.kind == IMG_RGB32 ? 3 : 0] = 0;  // no alpha
        }
    return true;
}

Status saveBmp(Image* img, const std::string& path, int rle) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(bmpIndex());
    o.writerOption1 = static_cast<int16_t>(rle);
    std::vector<char> name(path.begin(), path.end());
    name.resize(FILE_NAME_LEN, '\0');
    return saveImage(name.data(), img, &o);
}

TEST(BmpWriter, PeersReadOurFiles) {
    const std::vector<WriteCase> cases = {
        {"binary", IMG_BINARY, 2, 13, 5, 0, 1, 0},
        {"palette 16", IMG_PALETTE, 16, 3, 4, 0, 4, 0},
        {"palette 16 rle", IMG_PALETTE, 16, 61, 7, 1, 4, 2},
        {"grey 16 rle width 1", IMG_GREY, 16, 1, 4, 1, 4, 2},
        {"palette 256", IMG_PALETTE, 256, 8, 3, 0, 8, 0},
        {"palette 256 rle", IMG_PALETTE, 256, 511, 6, 1, 8, 1},
        {"grey 256", IMG_GREY, 256, 9, 2, 0, 8, 0},
        {"rgb width 1", IMG_RGB, 0, 1, 3, 0, 24, 0},
        {"bgr", IMG_BGR, 0, 3, 4, 1, 24, 0},
        {"rgb32", IMG_RGB32, 0, 5, 2, 0, 32, 0},
        {"bgr32", IMG_BGR32, 0, 6, 3, 0, 32, 0},
    };
    bool peer = haveProgram(IM);
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_TRUE(makePicture(&img, c));
        std::string path = tempPath("ours.bmp");
        ASSERT_EQ(saveBmp(&img, path, c.rle), ST_OK);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(path, &file));
        ASSERT_EQ(file[28], c.bits);
        EXPECT_EQ(get32(file, 30), c.compression);
        EXPECT_EQ(get32(file, 2), file.size());
        EXPECT_EQ(get32(file, 34), file.size() - get32(file, 10));
        if (c.compression) {
            EXPECT_EQ(file[file.size() - 2] * 256 + file.back(), 1);  // end of bitmap
        }

        OwnedImage back;
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
        if (img.bytesPerPixel == 4) {
            EXPECT_EQ(back.pixels[3], 0);  // no alpha stays no alpha
        }
        Rgb ref;
        if (peer) {
            ASSERT_TRUE(peerDecode(path, &ref)) << "ImageMagick cannot read our file";
            EXPECT_EQ(compareRgb(ref, toRgb(img)), 0);
        }
    }
}

struct RleBytesCase {
    const char* name;
    int colours;
    std::vector<uint8_t> row;
    std::vector<uint8_t> encoded;  // the row's codes, end of row included
};

TEST(BmpWriter, RunLengthEncoding) {
    std::vector<uint8_t> longRun(300, 7);
    const std::vector<RleBytesCase> cases = {
        {"300 equal pixels", 256, longRun, {255, 7, 45, 7, 0, 0}},
        {"odd literal is padded", 256, {1, 2, 3, 4, 4}, {0, 3, 1, 2, 3, 0, 2, 4, 0, 0}},
        {"two singles", 256, {1, 2, 3}, {1, 1, 1, 2, 1, 3, 0, 0}},
        {"nibble pair and single", 16, {1, 2, 3}, {2, 0x12, 1, 0x30, 0, 0}},
        {"nibble run then literal", 16, {5, 5, 5, 5, 1, 2, 3, 4, 6}, {4, 0x55, 0, 4, 0x12, 0x34, 1, 0x60, 0, 0}},
        {"nibble literal of 5 padded", 16, {1, 2, 3, 4, 5, 6, 6}, {0, 5, 0x12, 0x34, 0x50, 0, 2, 0x66, 0, 0}},
        {"nibble literal of 6 padded", 16, {1, 2, 3, 4, 5, 6, 7, 7}, {0, 6, 0x12, 0x34, 0x56, 0, 2, 0x77, 0, 0}},
        {"nibble literal of 3 unpadded", 16, {1, 2, 3, 4, 4}, {0, 3, 0x12, 0x30, 2, 0x44, 0, 0}},
    };
    for (const RleBytesCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, IMG_PALETTE, 1, static_cast<int>(c.row.size()), 1));
        img.colours = c.colours;
        memcpy(img.pixels, c.row.data(), c.row.size());
        std::string path = tempPath("rle.bmp");
        ASSERT_EQ(saveBmp(&img, path, 1), ST_OK);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(path, &file));
        std::vector<uint8_t> expect = c.encoded;
        expect.insert(expect.end(), {0, 1});
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + get32(file, 10), file.end()), expect);
    }
}

TEST(BmpWriter, GreyRampAndResolution) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_GREY, 1, 4, 2));
    img.colours = 16;
    img.xdpi = img.ydpi = 72;
    std::string path = tempPath("grey.bmp");
    ASSERT_EQ(saveBmp(&img, path, 0), ST_OK);
    std::vector<uint8_t> file;
    ASSERT_TRUE(readFile(path, &file));
    EXPECT_EQ(file[28], 4);
    EXPECT_EQ(get32(file, 10), 54u + 64);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(get32(file, 54 + 4 * i), i * 17 * 0x010101u) << "entry " << i;
    EXPECT_EQ(get32(file, 38), 2835u);
    EXPECT_EQ(get32(file, 42), 2835u);
    OwnedImage back;
    ASSERT_EQ(load(path, &back), ST_OK);
    EXPECT_EQ(back.xdpi, 72);

    img.xdpi = img.ydpi = 0;
    ASSERT_EQ(saveBmp(&img, path, 0), ST_OK);
    ASSERT_TRUE(readFile(path, &file));
    EXPECT_EQ(get32(file, 38), 0u);
}

TEST(BmpWriter, AlphaIsKeptInTheFourthByte) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB32, 1, 2, 1));
    const uint8_t px[8] = {10, 20, 30, 128, 40, 50, 60, 255};
    memcpy(img.pixels, px, 8);
    std::string path = tempPath("alpha.bmp");
    ASSERT_EQ(saveBmp(&img, path, 0), ST_OK);
    std::vector<uint8_t> file;
    ASSERT_TRUE(readFile(path, &file));
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.end()),
              (std::vector<uint8_t>{30, 20, 10, 128, 60, 50, 40, 255}));
    OwnedImage back;
    ASSERT_EQ(load(path, &back), ST_OK);
    EXPECT_EQ(rawRow(back, 0), std::vector<uint8_t>(px, px + 8));
}

}  // namespace
