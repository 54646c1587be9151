// Windows icons, cursors and clipboard files: hand-built files pin down the
// depths, the colour tables, the pages and the refusals; icons written by
// netpbm and ImageMagick (PNG images, 32-bit alpha, several pages) and the
// corpus decode to the pixels ImageMagick reads; our icons read back exactly
// and the peers read them to the same pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using testpictures::makeUpright;

const char IM[] = "convert-im6.q16";

const auto put16 = putLE16;
const auto put32 = putLE32;

// One bitmap image of an icon or cursor file.
struct Dib {
    int32_t width = 1;
    int32_t height = 1;          // the picture's; the header stores twice it
    uint16_t bits = 8;
    uint32_t compression = 0;
    uint32_t coloursUsed = 0;
    std::vector<uint8_t> palette;  // as stored, 4 bytes an entry
    std::vector<uint8_t> rows;     // colour rows, then mask rows, as stored
};

std::vector<uint8_t> dibBytes(const Dib& d) {
    std::vector<uint8_t> b;
    put32(&b, 40);
    put32(&b, static_cast<uint32_t>(d.width));
    put32(&b, static_cast<uint32_t>(2 * d.height));
    put16(&b, 1);
    put16(&b, d.bits);
    put32(&b, d.compression);
    put32(&b, static_cast<uint32_t>(d.rows.size()));
    for (int i = 0; i < 2; ++i) put32(&b, 0);
    put32(&b, d.coloursUsed);
    put32(&b, 0);
    b.insert(b.end(), d.palette.begin(), d.palette.end());
    b.insert(b.end(), d.rows.begin(), d.rows.end());
    return b;
}

// A directory of type 1 (icon) or 2 (cursor) over the images given as bytes.
std::vector<uint8_t> iconFile(uint16_t type, const std::vector<std::vector<uint8_t>>& images,
                              uint8_t reserved = 0, uint8_t side = 16) {
    std::vector<uint8_t> f;
    put16(&f, 0);
    put16(&f, type);
    put16(&f, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (const auto& img : images) {
        f.push_back(side);
        f.push_back(side);
        f.push_back(0);
        f.push_back(reserved);
        put16(&f, 1);
        put16(&f, 8);
        put32(&f, static_cast<uint32_t>(img.size()));
        put32(&f, offset);
        offset += static_cast<uint32_t>(img.size());
    }
    for (const auto& img : images) f.insert(f.end(), img.begin(), img.end());
    return f;
}

std::vector<uint8_t> icon(const Dib& d) { return iconFile(1, {dibBytes(d)}); }
std::vector<uint8_t> cursor(const Dib& d) { return iconFile(2, {dibBytes(d)}); }

Dib dib(int32_t w, int32_t h, uint16_t bits, std::vector<uint8_t> palette, std::vector<uint8_t> rows) {
    Dib d;
    d.width = w;
    d.height = h;
    d.bits = bits;
    d.palette = std::move(palette);
    d.rows = std::move(rows);
    return d;
}

template <typename F>
Dib with(Dib d, F change) {
    change(&d);
    return d;
}

// n entries B,G,R,0 of colour i = (red 10 i, green 20 i, blue 30 i).
std::vector<uint8_t> paletteOf(int n) {
    std::vector<uint8_t> p;
    for (int i = 0; i < n; ++i) {
        p.push_back(static_cast<uint8_t>(30 * i));
        p.push_back(static_cast<uint8_t>(20 * i));
        p.push_back(static_cast<uint8_t>(10 * i));
        p.push_back(0);
    }
    return p;
}

struct HandCase {
    const char* name;
    const char* format;
    std::vector<uint8_t> bytes;
    Status status;
    uint16_t kind;
    std::vector<uint8_t> pixels;  // image bytes, or R,G,B triplets when rgb
    bool rgb = false;
    const char* message = nullptr;
};

std::vector<uint8_t> repeated(std::vector<uint8_t> a, int times) {
    std::vector<uint8_t> out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), a.begin(), a.end());
    return out;
}

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(IcoReader, HandBuiltFiles) {
    const std::vector<uint8_t> bw = {0, 0, 0, 0, 255, 255, 255, 0};
    const std::vector<uint8_t> wb = {255, 255, 255, 0, 0, 0, 0, 0};
    // 16 x 16 at 4 bits: 8 bytes a colour row, then 16 mask rows of 4 bytes set to 1.
    std::vector<uint8_t> sixteen;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x) sixteen.push_back(static_cast<uint8_t>(y == 0 ? 0x12 : y == 15 ? 0xEF : 0));
    sixteen = cat(sixteen, std::vector<uint8_t>(64, 0xFF));
    std::vector<uint8_t> sixteenTop(16, 0), sixteenBottom(16, 0);
    for (int x = 0; x < 16; ++x) {
        sixteenTop[x] = static_cast<uint8_t>(x & 1 ? 0xF : 0xE);
        sixteenBottom[x] = static_cast<uint8_t>(x & 1 ? 2 : 1);
    }
    std::vector<uint8_t> sixteenPixels = sixteenTop;
    for (int y = 1; y < 15; ++y) sixteenPixels = cat(sixteenPixels, std::vector<uint8_t>(16, 0));
    sixteenPixels = cat(sixteenPixels, sixteenBottom);

    const std::vector<HandCase> cases = {
        {"1-bit, bottom row first, mask ignored", "ico",
         icon(dib(3, 2, 1, bw, {0xA0, 0, 0, 0, 0x40, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0})), ST_OK, IMG_BINARY,
         {0, 1, 0, 1, 0, 1}},
        {"1-bit white then black is inverted", "ico", icon(dib(2, 1, 1, wb, {0x80, 0, 0, 0, 0, 0, 0, 0})), ST_OK,
         IMG_BINARY, {0, 1}},
        {"16 x 16 at 4 bits reads 8 bytes a row", "ico", icon(dib(16, 16, 4, paletteOf(16), sixteen)), ST_OK,
         IMG_PALETTE, sixteenPixels},
        {"2 bits", "ico", icon(dib(5, 1, 2, paletteOf(4), {0x1B, 0x80, 0, 0, 0, 0, 0, 0})), ST_OK, IMG_PALETTE,
         {0, 1, 2, 3, 2}},
        {"8 bits with 3 colours used: rows follow 3 entries", "ico",
         icon(with(dib(2, 1, 8, paletteOf(3), {2, 1, 0, 0, 0, 0, 0, 0}), [](Dib* d) { d->coloursUsed = 3; })), ST_OK,
         IMG_PALETTE, {20, 40, 60, 10, 20, 30}, true},
        {"8 bits, colours used 0 means 256 entries", "ico",
         icon(dib(2, 1, 8, paletteOf(256), {255, 9, 0, 0, 0, 0, 0, 0})), ST_OK, IMG_PALETTE,
         {static_cast<uint8_t>(2550 % 256), static_cast<uint8_t>(5100 % 256), static_cast<uint8_t>(7650 % 256), 90,
          180, static_cast<uint8_t>(270 % 256)},
         true},
        {"16 bits are 5-5-5 words", "ico", icon(dib(2, 1, 16, {}, {0x00, 0x7C, 0x1F, 0x00, 0, 0, 0, 0})), ST_OK,
         IMG_RGB, {255, 0, 0, 0, 0, 255}},
        {"24 bits are B,G,R", "ico", icon(dib(1, 2, 24, {}, {1, 2, 3, 0, 4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0})), ST_OK,
         IMG_RGB, {6, 5, 4, 3, 2, 1}},
        {"32 bits are B,G,R and alpha", "ico", icon(dib(2, 1, 32, {}, {1, 2, 3, 128, 4, 5, 6, 255, 0, 0, 0, 0})),
         ST_OK, IMG_RGB32, {3, 2, 1, 128, 6, 5, 4, 255}},
        {"a side of 0 in the directory stands for 256", "ico",
         iconFile(1, {dibBytes(dib(1, 1, 1, bw, {0x80, 0, 0, 0, 0, 0, 0, 0}))}, 0, 0), ST_OK, IMG_BINARY, {1}},
        {"cursor at 1 bit", "cur", cursor(dib(2, 1, 1, bw, {0x40, 0, 0, 0, 0, 0, 0, 0})), ST_OK, IMG_BINARY, {0, 1}},
        {"cursor at 8 bits", "cur", cursor(dib(1, 1, 8, paletteOf(256), {7, 0, 0, 0, 0, 0, 0, 0})), ST_OK,
         IMG_PALETTE, {70, 140, 210}, true},
        {"cursor at 32 bits with alpha", "cur", cursor(dib(1, 1, 32, {}, {1, 2, 3, 4, 0, 0, 0, 0})), ST_OK, IMG_RGB32,
         {3, 2, 1, 4}},
        // Damaged files keep the rows read.
        {"rows cut", "ico", icon(dib(1, 2, 8, paletteOf(256), {5, 0, 0, 0})), ST_READ_ERROR, IMG_PALETTE,
         {0, 0, 0, 50, 100, 150}, true},
        {"colour table cut", "ico",
         [] {
             std::vector<uint8_t> d = dibBytes(dib(1, 1, 8, paletteOf(256), {}));
             d.resize(100);
             return iconFile(1, {d});
         }(),
         ST_READ_ERROR, IMG_PALETTE, {0, 0, 0}, true},
        // Refusals.
        {"a cursor is not an icon", "ico", cursor(dib(1, 1, 1, bw, {0, 0, 0, 0, 0, 0, 0, 0})), ST_UNKNOWN_FORMAT, 0, {}},
        {"an icon is not a cursor", "cur", icon(dib(1, 1, 1, bw, {0, 0, 0, 0, 0, 0, 0, 0})), ST_UNKNOWN_FORMAT, 0, {}},
        {"24-bit cursor", "cur", cursor(dib(1, 1, 24, {}, {1, 2, 3, 0, 0, 0, 0, 0})), ST_UNKNOWN_FORMAT, 0, {}},
        {"reserved byte set", "ico", iconFile(1, {dibBytes(dib(1, 1, 1, bw, std::vector<uint8_t>(8, 0)))}, 1),
         ST_UNKNOWN_FORMAT, 0, {}},
        {"no images", "ico", {0, 0, 1, 0, 0, 0}, ST_UNKNOWN_FORMAT, 0, {}},
        {"planes 2", "ico", [] {
             std::vector<uint8_t> f = icon(dib(1, 1, 1, {0, 0, 0, 0, 255, 255, 255, 0}, std::vector<uint8_t>(8, 0)));
             f[22 + 12] = 2;
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
        {"run-length bitmap", "ico",
         icon(with(dib(1, 1, 8, paletteOf(256), std::vector<uint8_t>(8, 0)), [](Dib* d) { d->compression = 1; })),
         ST_BAD_FILE, 0, {}, false, "Windows Icon : Bad compression !"},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs(c.format, c.bytes, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs(c.format, c.bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

Status loadPage(const std::string& path, int page, Image* img, FileInfo* info = nullptr) {
    IoOptions o = defaultIoOptions();
    o.pageIndex = page;
    return loadImage(path.c_str(), img, &o, info);
}

TEST(IcoReader, PagesChooseTheImage) {
    const std::vector<uint8_t> grey = {0, 0, 0, 0, 255, 255, 255, 0};
    const std::string path = tempPath("three.ico");
    ASSERT_TRUE(writeFile(path, iconFile(1, {dibBytes(dib(1, 1, 8, paletteOf(256), {1, 0, 0, 0, 0, 0, 0, 0})),
                                             dibBytes(dib(2, 1, 8, paletteOf(256), {2, 2, 0, 0, 0, 0, 0, 0})),
                                             dibBytes(dib(3, 1, 1, grey, {0xA0, 0, 0, 0, 0, 0, 0, 0}))})));
    const struct {
        int page;
        int width;
    } cases[] = {{0, 1}, {1, 2}, {2, 3}, {5, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadPage(path, c.page, &img, &info), ST_OK);
        EXPECT_EQ(img.width, c.width);
        EXPECT_EQ(info.pageCount, 3);
        EXPECT_STREQ(info.formatName, "Windows Icon");
    }
}

TEST(ClpReader, HandBuiltFiles) {
    auto clp = [](uint16_t format, const std::vector<uint8_t>& data, uint16_t count = 1, uint16_t id = 50000) {
        std::vector<uint8_t> f;
        put16(&f, id);
        put16(&f, count);
        put16(&f, format);
        put32(&f, static_cast<uint32_t>(data.size()));
        put32(&f, 93);
        f.resize(93, 0);
        return cat(f, data);
    };
    auto ddb = [](uint16_t w, uint16_t h, uint8_t bits, const std::vector<uint8_t>& rows) {
        std::vector<uint8_t> b;
        put16(&b, 0);
        put16(&b, w);
        put16(&b, h);
        put16(&b, static_cast<uint32_t>((w * bits + 15) / 16 * 2));
        b.push_back(1);
        b.push_back(bits);
        put32(&b, 0);
        return cat(b, rows);
    };
    auto dibOf = [](const Dib& d) {
        std::vector<uint8_t> b = dibBytes(d);
        // The stored height is the picture's own.
        for (int i = 0; i < 4; ++i) b[8 + i] = static_cast<uint8_t>(static_cast<uint32_t>(d.height) >> (8 * i));
        return b;
    };
    const std::vector<HandCase> cases = {
        {"device-independent 8 bits with 2 colours used, bottom row first", "clp",
         clp(8, dibOf(with(dib(3, 2, 8, paletteOf(2), {1, 0, 1, 0, 0, 1, 0, 0}), [](Dib* d) { d->coloursUsed = 2; }))),
         ST_OK, IMG_PALETTE, {0, 0, 0, 10, 20, 30, 0, 0, 0, 10, 20, 30, 0, 0, 0, 10, 20, 30}, true},
        {"device-independent 24 bits", "clp", clp(8, dibOf(dib(1, 1, 24, {}, {1, 2, 3, 0}))), ST_OK, IMG_RGB,
         {3, 2, 1}},
        {"device-dependent 1 bit, top row first, 2-byte rows", "clp", clp(2, ddb(17, 2, 1, {0x80, 0, 0x80, 0, 0, 0, 0, 0})),
         ST_OK, IMG_BINARY, [] {
             std::vector<uint8_t> p(34, 0);
             p[0] = p[16] = 1;
             return p;
         }()},
        {"device-dependent 8 bits are grey", "clp", clp(2, ddb(3, 1, 8, {7, 8, 9, 0})), ST_OK, IMG_GREY, {7, 8, 9}},
        {"rows cut", "clp", clp(2, ddb(2, 2, 8, {7, 8})), ST_READ_ERROR, IMG_GREY, {7, 8, 0, 0}},
        {"two formats", "clp", clp(2, ddb(1, 1, 8, {7, 0}), 2), ST_UNKNOWN_FORMAT, 0, {}},
        {"format 3", "clp", clp(3, ddb(1, 1, 8, {7, 0})), ST_UNKNOWN_FORMAT, 0, {}},
        {"wrong identifier", "clp", clp(2, ddb(1, 1, 8, {7, 0}), 1, 50001), ST_UNKNOWN_FORMAT, 0, {}},
        {"two planes", "clp", [&] {
             std::vector<uint8_t> f = clp(2, ddb(1, 1, 8, {7, 0}));
             f[93 + 8] = 2;
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadBytesAs(c.format, c.bytes, &img), c.status);
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs(c.format, c.bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

// ---- files written by the peers ----------------------------------------------------

// ImageMagick's decode of one page: colours, and alpha when asked.
bool imDecode(const std::string& file, int page, Rgb* colours, Rgb* alpha) {
    const std::string ref = tempPath("im_ref.ppm"), aref = tempPath("im_ref_a.pgm");
    const std::string src = file + "[" + std::to_string(page) + "]";
    if (run(std::string(IM) + " '" + src + "' -depth 8 ppm:" + ref) != 0 || !readPeerPnm(ref, colours, nullptr))
        return false;
    if (!alpha) return true;
    return run(std::string(IM) + " '" + src + "' -alpha extract -depth 8 pgm:" + aref) == 0 &&
           readPeerPnm(aref, alpha, nullptr);
}

struct PeerCase {
    const char* name;
    const char* make;  // $S a P6 picture, $A the same with alpha (PAM), $P a PNG with alpha, $O the icon
    int pages;
    bool alpha;        // the pages carry alpha
};

TEST(IcoReader, PeerFilesDecodeToTheirPixels) {
    if (!haveProgram(IM) || !haveProgram("ppmtowinicon") || !haveProgram("pamtowinicon"))
        GTEST_SKIP() << "netpbm or ImageMagick missing";
    const std::string src = tempPath("ico_src.ppm"), pam = tempPath("ico_src.pam"), png = tempPath("ico_src.png");
    ASSERT_TRUE(writeFile(src, patternP6(48, 48)));
    ASSERT_EQ(run(shell(std::string(IM) + " $S -alpha set -channel A -fx '(i+2*j)/(3*w)' +channel -depth 8 $P",
                        {{"$S", src}, {"$P", png}})),
              0);
    ASSERT_EQ(run(shell(std::string(IM) + " $P -depth 8 pam:$A", {{"$P", png}, {"$A", pam}})), 0);
    const std::vector<PeerCase> cases = {
        {"netpbm 2 colours", "ppmtopgm $S | pamthreshold -simple | pamtopnm | ppmtowinicon > $O", 1, false},
        {"netpbm 16 colours", "pnmquant 16 $S | ppmtowinicon > $O", 1, false},
        {"netpbm 200 colours", "pnmquant 200 $S | ppmtowinicon > $O", 1, false},
        {"netpbm with alpha", "pamtowinicon $A > $O", 1, true},
        {"netpbm PNG image", "pamtowinicon -pngthreshold 1 $A > $O", 1, true},
        {"ImageMagick 256 PNG, 48 and 16 bitmaps",
         "convert-im6.q16 $P -define icon:auto-resize=256,48,16 $O", 3, true},
        {"ImageMagick 32 bits", "convert-im6.q16 $P $O", 1, true},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("peer" + std::to_string(n++) + ".ico");
        ASSERT_EQ(run(shell(c.make, {{"$S", src}, {"$A", pam}, {"$P", png}, {"$O", out}})), 0);
        for (int page = 0; page < c.pages; ++page) {
            SCOPED_TRACE(page);
            OwnedImage img;
            FileInfo info{};
            ASSERT_EQ(loadPage(out, page, &img, &info), ST_OK);
            EXPECT_EQ(info.pageCount, c.pages);
            Rgb colours, alpha;
            ASSERT_TRUE(imDecode(out, page, &colours, c.alpha ? &alpha : nullptr));
            EXPECT_EQ(compareRgb(toRgb(img), colours), 0);
            if (c.alpha) EXPECT_EQ(compareRgb(alphaOf(img), alpha), 0);
        }
    }
}

TEST(IcoReader, CorpusFiles) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/";
    const struct {
        const char* file;
        int pages;
    } files[] = {
        {"ico/JavaCup.ico", 9},     {"ico/black_and_white.ico", 1}, {"ico/favicon.ico", 1},
        {"ico/hopper.ico", 1},      {"ico/python.ico", 3},          {"ico/rgb24bitmask.ico", 1},
        {"cur/deerstalker.cur", 1}, {"cur/hand.cur", 1},            {"cur/mask_L.cur", 1},
        {"cur/zoom.cur", 1},
    };
    std::vector<uint8_t> probe;
    if (!readFile(dir + files[0].file, &probe)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (const auto& f : files) {
        for (int page = 0; page < f.pages; ++page) {
            SCOPED_TRACE(std::string(f.file) + " page " + std::to_string(page));
            OwnedImage img;
            FileInfo info{};
            ASSERT_EQ(loadPage(dir + f.file, page, &img, &info), ST_OK);
            EXPECT_EQ(info.pageCount, f.pages);
            Rgb colours;
            ASSERT_TRUE(imDecode(dir + f.file, page, &colours, nullptr));
            EXPECT_EQ(compareRgb(toRgb(img), colours), 0);
        }
    }
}

// ---- the writer ---------------------------------------------------------------------

TEST(IcoWriter, DepthFollowsTheColours) {
    const struct {
        const char* name;
        uint16_t kind;
        int colours;
        int bits;
        uint8_t entryColours;
        int width;
        uint32_t byteSize;
    } cases[] = {
        {"black and white 16 x 16", IMG_BINARY, 2, 1, 2, 16, 40 + 8 + (4 + 4) * 16},
        {"3 colours", IMG_PALETTE, 3, 2, 4, 16, 40 + 16 + (4 + 4) * 16},
        {"16 colours", IMG_PALETTE, 16, 4, 16, 16, 40 + 64 + (8 + 4) * 16},
        {"17 colours", IMG_PALETTE, 17, 8, 0, 16, 40 + 1024 + (16 + 4) * 16},
        {"256 grey levels, 33 wide", IMG_GREY, 256, 8, 0, 33, 40 + 1024 + (36 + 8) * 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img, back;
        ASSERT_TRUE(makeUpright(&img, c.kind, c.width, 16, [&](int x, int y, int) {
            return static_cast<uint8_t>((x * 3 + y * 5) % c.colours);
        }));
        img.colours = c.colours;
        const std::string path = tempPath(std::string("w") + std::to_string(c.bits) + "_" +
                                          std::to_string(c.width) + ".ico");
        ASSERT_EQ(saveAs(&img, path, "ico"), ST_OK);
        std::vector<uint8_t> b;
        ASSERT_TRUE(readFile(path, &b));
        ASSERT_EQ(b.size(), 22u + c.byteSize);
        EXPECT_EQ(b[8], c.entryColours);
        EXPECT_EQ(b[12], c.bits);
        EXPECT_EQ(b[14] | b[15] << 8, static_cast<int>(c.byteSize));
        EXPECT_EQ(b[22 + 14], c.bits);
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
        if (haveProgram(IM) && c.bits != 2) {  // ImageMagick reads no 2-bit icons
            Rgb colours;
            ASSERT_TRUE(imDecode(path, 0, &colours, nullptr));
            EXPECT_EQ(compareRgb(colours, toRgb(img)), 0);
        }
    }
}

// netpbm's winicontoppm of this system refuses every icon, its own included;
// GraphicsMagick is the second reader.
TEST(IcoWriter, GraphicsMagickReadsOurIcons) {
    if (!haveProgram("gm")) GTEST_SKIP() << "GraphicsMagick missing";
    const uint16_t kinds[] = {IMG_BINARY, IMG_PALETTE, IMG_GREY};
    for (uint16_t kind : kinds) {
        SCOPED_TRACE(kind);
        OwnedImage img;
        ASSERT_TRUE(makeUpright(&img, kind, 32, 32));
        const std::string path = tempPath("gm" + std::to_string(kind) + ".ico");
        const std::string ref = path + ".ppm";
        ASSERT_EQ(saveAs(&img, path, "ico"), ST_OK);
        ASSERT_EQ(run("gm convert " + path + " ppm:" + ref), 0);
        Rgb peer;
        ASSERT_TRUE(readPeerPnm(ref, &peer, nullptr));
        EXPECT_EQ(compareRgb(peer, toRgb(img)), 0);
    }
}

TEST(IcoWriter, TrueColourIsRefused) {
    OwnedImage img;
    ASSERT_TRUE(makeUpright(&img, IMG_RGB, 4, 4));
    EXPECT_NE(saveAs(&img, tempPath("rgb.ico"), "ico"), ST_OK);
}

}  // namespace
