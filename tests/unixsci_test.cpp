// X window dumps, AVS X images, CMU window manager bitmaps and Khoros VIFF
// images: hand-built files pin down byte and bit orders, visuals, planes,
// bands, pages and refusals; files written by netpbm and ImageMagick decode
// to the pixels those programs read.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "unixsci.h"

using namespace testutil;
using namespace unixsci;

namespace {

// ---- X window dumps ---------------------------------------------------------

struct XwdFile {
    bool big = true;  // header order
    uint32_t version = 7, format = 2, depth = 8, width = 1, height = 1, xoffset = 0;
    uint32_t byteOrder = 1, unit = 8, bitOrder = 1, pad = 8, bpp = 8, lineBytes = 0;
    uint32_t visual = 3, masks[3] = {0, 0, 0};
    std::vector<std::array<uint32_t, 4>> records;  // pixel, r, g, b (16-bit)
    std::vector<uint8_t> data;
    size_t cut = 0;  // bytes dropped from the end
};

std::vector<uint8_t> buildXwd(const XwdFile& s) {
    std::vector<uint8_t> f;
    const char name[] = "win";
    const uint32_t lineBytes = s.lineBytes ? s.lineBytes : (s.width * (s.format == 2 ? s.bpp : 1) + 7) / 8;
    const uint32_t words[25] = {100 + sizeof name, s.version, s.format, s.depth, s.width, s.height, s.xoffset,
                                s.byteOrder, s.unit, s.bitOrder, s.pad, s.bpp, lineBytes, s.visual,
                                s.masks[0], s.masks[1], s.masks[2], 8, 256,
                                static_cast<uint32_t>(s.records.size()), s.width, s.height, 0, 0, 0};
    for (uint32_t w : words) put32(&f, w, s.big);
    f.insert(f.end(), name, name + sizeof name);
    for (const auto& r : s.records) {
        put32(&f, r[0], s.big);
        for (int k = 1; k < 4; ++k) put16(&f, r[k], s.big);
        f.push_back(7);
        f.push_back(0);
    }
    f.insert(f.end(), s.data.begin(), s.data.end());
    f.resize(f.size() - s.cut);
    return f;
}

XwdFile xwd(uint32_t visual, uint32_t depth, uint32_t bpp, uint32_t w, uint32_t h, std::vector<uint8_t> data) {
    XwdFile s;
    s.visual = visual;
    s.depth = depth;
    s.bpp = bpp;
    s.width = w;
    s.height = h;
    s.data = std::move(data);
    return s;
}

// Records i -> (20 i, 255 - i, 7 i) for i < n, as 16-bit values.
std::vector<std::array<uint32_t, 4>> recordsOf(uint32_t n) {
    std::vector<std::array<uint32_t, 4>> r;
    for (uint32_t i = 0; i < n; ++i) r.push_back({i, 20 * i * 257, (255 - i) * 257, 7 * i * 257});
    return r;
}

XwdFile trueColour(uint32_t bpp, uint32_t w, std::vector<uint8_t> data, uint32_t r, uint32_t g, uint32_t b,
                   uint32_t byteOrder) {
    XwdFile s = xwd(4, bpp == 32 ? 24 : bpp, bpp, w, 1, std::move(data));
    s.masks[0] = r;
    s.masks[1] = g;
    s.masks[2] = b;
    s.byteOrder = byteOrder;
    return s;
}

struct XwdCase {
    const char* name;
    XwdFile file;
    Status status;
    const char* message;
    uint16_t kind;
    std::vector<uint8_t> pixels;  // image bytes, or R,G,B triplets when rgb is set
    bool rgb = false;
};

TEST(XwdReader, HandBuiltDumps) {
    const std::vector<XwdCase> cases = {
        {"1-bit static grey without records: set bits are black", xwd(0, 1, 1, 3, 1, {0xA0}), ST_OK, nullptr,
         IMG_BINARY, {0, 1, 0}},
        {"1-bit with white, black records", with(xwd(0, 1, 1, 3, 1, {0x60}), [](XwdFile* s) {
             s->records = {{0, 0xFFFF, 0xFFFF, 0xFFFF}, {1, 0, 0, 0}};
         }), ST_OK, nullptr, IMG_BINARY, {1, 0, 0}},
        {"1-bit LSBFirst bits in 16-bit LSBFirst items", with(xwd(0, 1, 1, 10, 1, {0x01, 0x02}), [](XwdFile* s) {
             s->byteOrder = 0;
             s->bitOrder = 0;
             s->unit = 16;
         }), ST_OK, nullptr, IMG_BINARY, {0, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
        {"4-bit MSBFirst items, LSBFirst bits", with(xwd(3, 4, 4, 4, 1, {0x21, 0x43}), [](XwdFile* s) {
             s->unit = 16;
             s->bitOrder = 0;
             s->records = recordsOf(5);
         }), ST_OK, nullptr, IMG_PALETTE, {60, 252, 21, 80, 251, 28, 20, 254, 7, 40, 253, 14}, true},
        {"4-bit LSBFirst items, LSBFirst bits", with(xwd(3, 4, 4, 4, 1, {0x21, 0x43}), [](XwdFile* s) {
             s->unit = 16;
             s->byteOrder = 0;
             s->bitOrder = 0;
             s->records = recordsOf(5);
         }), ST_OK, nullptr, IMG_PALETTE, {20, 254, 7, 40, 253, 14, 60, 252, 21, 80, 251, 28}, true},
        {"8-bit records taken in file order, whatever their pixel field", with(xwd(3, 8, 8, 2, 1, {1, 0}), [](XwdFile* s) {
             s->records = {{9, 0x1200, 0x3400, 0x5600}, {0x93008000, 0xFF00, 0, 0xFF00}};
         }), ST_OK, nullptr, IMG_PALETTE, {255, 0, 255, 0x12, 0x34, 0x56}, true},
        {"8-bit grey without records", xwd(1, 8, 8, 3, 1, {0, 128, 255}), ST_OK, nullptr, IMG_GREY, {0, 128, 255}},
        {"depth 4 in bytes without records spreads the grey levels", xwd(0, 4, 8, 3, 1, {0, 5, 0xFF}), ST_OK, nullptr,
         IMG_PALETTE, {0, 0, 0, 85, 85, 85, 255, 255, 255}, true},
        {"rows use the stored stride", with(xwd(3, 8, 8, 1, 2, {1, 9, 9, 9, 2, 9, 9, 9}), [](XwdFile* s) {
             s->lineBytes = 4;
             s->records = recordsOf(3);
         }), ST_OK, nullptr, IMG_PALETTE, {20, 254, 7, 40, 253, 14}, true},
        {"xoffset skips the first pixels", with(xwd(3, 8, 8, 1, 1, {0, 0, 2}), [](XwdFile* s) {
             s->xoffset = 2;
             s->lineBytes = 3;
             s->records = recordsOf(3);
         }), ST_OK, nullptr, IMG_PALETTE, {40, 253, 14}, true},
        {"little-endian header", with(xwd(3, 8, 8, 2, 1, {1, 0}), [](XwdFile* s) {
             s->big = false;
             s->records = recordsOf(2);
         }), ST_OK, nullptr, IMG_PALETTE, {20, 254, 7, 0, 255, 0}, true},
        {"24-bit true colour MSBFirst", trueColour(24, 2, {1, 2, 3, 4, 5, 6}, 0xFF0000, 0xFF00, 0xFF, 1), ST_OK,
         nullptr, IMG_RGB, {1, 2, 3, 4, 5, 6}, true},
        {"24-bit true colour LSBFirst", trueColour(24, 1, {1, 2, 3}, 0xFF0000, 0xFF00, 0xFF, 0), ST_OK, nullptr,
         IMG_RGB, {3, 2, 1}, true},
        {"32-bit LSBFirst drops the unused byte", trueColour(32, 1, {1, 2, 3, 4}, 0xFF0000, 0xFF00, 0xFF, 0), ST_OK,
         nullptr, IMG_RGB, {3, 2, 1}, true},
        {"32-bit masks in the low bytes", trueColour(32, 1, {9, 1, 2, 3}, 0xFF, 0xFF00, 0xFF0000, 1), ST_OK, nullptr,
         IMG_RGB, {3, 2, 1}, true},
        {"16-bit 5-6-5 scaled to 8 bits", trueColour(16, 2, {0x00, 0xF8, 0xE0, 0x07}, 0xF800, 0x7E0, 0x1F, 0), ST_OK,
         nullptr, IMG_RGB, {255, 0, 0, 0, 255, 0}, true},
        {"16-bit 5-5-5 mid values", trueColour(16, 1, {0x42, 0x10}, 0x7C00, 0x3E0, 0x1F, 1), ST_OK, nullptr,
         IMG_RGB, {131, 131, 131}, true},
        {"direct colour components index the records",
         with(trueColour(24, 1, {2, 1, 0}, 0xFF0000, 0xFF00, 0xFF, 1), [](XwdFile* s) {
             s->visual = 5;
             s->records = recordsOf(3);
         }), ST_OK, nullptr, IMG_RGB, {40, 254, 0}, true},
        {"XY pixmap: planes whole, most significant first", with(xwd(3, 2, 8, 3, 2, {}), [](XwdFile* s) {
             s->format = 1;
             s->data = {0xA0, 0x40, 0x60, 0x20};  // plane 1 rows, then plane 0 rows
             s->records = recordsOf(4);
         }), ST_OK, nullptr, IMG_PALETTE, {40, 253, 14, 20, 254, 7, 60, 252, 21, 0, 255, 0, 40, 253, 14, 20, 254, 7},
         true},
        {"XY bitmap", with(xwd(0, 1, 1, 4, 1, {0x90}), [](XwdFile* s) { s->format = 0; }), ST_OK, nullptr, IMG_BINARY,
         {0, 1, 1, 0}},
        // Not an X11 dump.
        {"version 6", with(xwd(3, 8, 8, 1, 1, {0}), [](XwdFile* s) { s->version = 6; }), ST_UNKNOWN_FORMAT, nullptr,
         0, {}},
        {"12 bits per pixel", xwd(4, 12, 12, 1, 1, {0, 0}), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"pixmap format 3", with(xwd(3, 8, 8, 1, 1, {0}), [](XwdFile* s) { s->format = 3; }), ST_UNKNOWN_FORMAT,
         nullptr, 0, {}},
        {"visual class 6", xwd(6, 8, 8, 1, 1, {0}), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"width 0", xwd(3, 8, 8, 0, 1, {}), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"line shorter than the width", with(xwd(3, 8, 8, 4, 1, {0, 0, 0, 0}), [](XwdFile* s) { s->lineBytes = 3; }),
         ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"bitmap pad 12", with(xwd(3, 8, 8, 1, 1, {0}), [](XwdFile* s) { s->pad = 12; }), ST_UNKNOWN_FORMAT, nullptr,
         0, {}},
        // Dumps we cannot show.
        {"true colour without masks", xwd(4, 24, 24, 1, 1, {1, 2, 3}), ST_BAD_FILE,
         "XWD : Unsupported pixmap format !", 0, {}},
        {"pseudo-colour of 16 bits", xwd(3, 16, 16, 1, 1, {0, 1}), ST_BAD_FILE, "XWD : Unsupported pixmap format !",
         0, {}},
        {"xoffset past the line", with(xwd(3, 8, 8, 2, 1, {0, 0}), [](XwdFile* s) { s->xoffset = 1; }), ST_BAD_FILE,
         "XWD : Unsupported pixmap format !", 0, {}},
        {"depth larger than the pixel", xwd(3, 8, 4, 2, 1, {0}), ST_BAD_FILE, "XWD : Unsupported pixmap format !", 0,
         {}},
        // Cut files keep the rows read.
        {"data cut", with(xwd(1, 8, 8, 2, 2, {5, 6, 7}), [](XwdFile* s) { s->visual = 0; }), ST_READ_ERROR, nullptr,
         IMG_GREY, {5, 6, 0, 0}},
        {"records cut", with(xwd(3, 8, 8, 1, 1, {}), [](XwdFile* s) {
             s->records = recordsOf(2);
             s->cut = 5;
         }), ST_READ_ERROR, nullptr, IMG_PALETTE, {0, 255, 0}, true},
        {"second plane missing", with(xwd(3, 2, 8, 3, 1, {0xA0}), [](XwdFile* s) { s->format = 1; }), ST_READ_ERROR,
         nullptr, IMG_PALETTE, {0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
    };
    for (const XwdCase& c : cases) {
        SCOPED_TRACE(c.name);
        HandResult r;
        loadHand("xwd", buildXwd(c.file), c.status, &r, !c.pixels.empty());
        if (c.message) { EXPECT_STREQ(r.info.message, c.message); }
        if (c.pixels.empty()) continue;
        EXPECT_EQ(r.img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(r.img).pixels : pixelsOf(r.img), c.pixels);
    }
}

TEST(XwdReader, PeerFilesDecodeToTheirPixels) {
    if (!haveProgram(IM) || !haveProgram("pnmtoxwd") || !haveProgram("xwdtopnm")) GTEST_SKIP() << "peers missing";
    const std::string src = tempPath("xwd_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(37, 23)));
    const char* np = "xwdtopnm $O 2>/dev/null | pnmtopnm > $R";
    const char* im = "convert-im6.q16 $O -depth 16 ppm:- | pnmtopnm > $R";  // without its comment line
    const std::vector<PeerCase> cases = {
        {"netpbm 1-bit", "ppmtopgm $S | pamthreshold -simple | pamtopnm | pnmtoxwd > $O", np, IMG_BINARY},
        {"netpbm grey", "ppmtopgm $S | pnmtoxwd > $O", np, 0},
        {"netpbm pseudo-colour", "pnmquant 40 $S 2>/dev/null | pnmtoxwd > $O", np, IMG_PALETTE},
        {"netpbm pseudo-colour, 4 bits", "pnmquant 12 $S 2>/dev/null | pnmtoxwd -pseudodepth 4 > $O", np, 0},
        {"netpbm direct colour", "pnmtoxwd -directcolor $S > $O", np, IMG_RGB},
        {"ImageMagick true colour", "convert-im6.q16 $S xwd:$O", im, IMG_RGB},
        {"ImageMagick 16 colours", "convert-im6.q16 $S -colors 16 xwd:$O", im, IMG_PALETTE},
        {"ImageMagick grey palette", "convert-im6.q16 $S -type grayscale -colors 7 xwd:$O", im, 0},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        // We keep the high byte of the 16-bit colours, the peers scale them.
        expectPeerMatch(c.make, c.decode, src, tempPath("peer" + std::to_string(n++) + ".xwd"), c.kind, 1);
    }
}

// ---- AVS X images -----------------------------------------------------------

std::vector<uint8_t> avsBlock(uint32_t w, uint32_t h, std::vector<uint8_t> argb) {
    std::vector<uint8_t> f;
    put32(&f, w);
    put32(&f, h);
    f.insert(f.end(), argb.begin(), argb.end());
    return f;
}

TEST(AvsReader, HandBuiltImages) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int page;
        Status status;
        int pages;
        std::vector<uint8_t> pixels;  // R,G,B,A
    };
    const std::vector<uint8_t> first = avsBlock(2, 1, {0xFF, 1, 2, 3, 0x7F, 4, 5, 6});
    const std::vector<uint8_t> second = avsBlock(1, 2, {0, 9, 8, 7, 0x10, 6, 5, 4});
    const std::vector<Case> cases = {
        {"A,R,G,B becomes R,G,B,A", first, 0, ST_OK, 1, {1, 2, 3, 0xFF, 4, 5, 6, 0x7F}},
        {"two images, the first", joined(first, second), 0, ST_OK, 2, {1, 2, 3, 0xFF, 4, 5, 6, 0x7F}},
        {"two images, the second", joined(first, second), 1, ST_OK, 2, {9, 8, 7, 0, 6, 5, 4, 0x10}},
        {"a block cut short is not a page", joined(first, avsBlock(1, 2, {0, 9, 8, 7})), 1, ST_OK, 1,
         {1, 2, 3, 0xFF, 4, 5, 6, 0x7F}},
        {"first image cut keeps its rows", avsBlock(1, 2, {0xFF, 1, 2, 3, 0xFF}), 0, ST_READ_ERROR, 1,
         {1, 2, 3, 0xFF, 0, 0, 0, 0}},
        {"header read little-endian is too wide", avsBlock(0x02000000, 1, {0, 0, 0, 0}), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"height 0", avsBlock(1, 0, {0, 0, 0, 0}), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"not even a row", avsBlock(2, 1, {0, 0, 0, 0}), 0, ST_UNKNOWN_FORMAT, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath(std::string("hand_avs_") + std::to_string(&c - cases.data()) + ".avs");
        ASSERT_TRUE(writeFile(path, c.bytes));
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(findFormat("avs"));
        o.pageIndex = c.page;
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadImage(path.c_str(), &img, &o, &info), c.status);
        if (c.status == ST_UNKNOWN_FORMAT) continue;
        if (c.status != ST_OK) {
            o.flags = OPT_ACCEPT_DAMAGED;
            ASSERT_EQ(loadImage(path.c_str(), &img, &o, &info), ST_OK);
        }
        EXPECT_EQ(info.pageCount, c.pages);
        EXPECT_EQ(img.kind, IMG_RGB32);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

TEST(AvsReader, ImageMagickFilesDecodeToTheirPixels) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("avs_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(33, 21)));
    const std::string out = tempPath("peer_alpha.avs");
    const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}};
    ASSERT_EQ(run(shell("convert-im6.q16 $S -alpha set -channel A -fx '(i+j)/(w+h)' +channel -depth 8 avs:$O",
                        names)),
              0);
    OwnedImage img;
    ASSERT_EQ(load(out, &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_RGB32);
    Rgb colour, alpha;
    ASSERT_EQ(run(shell("convert-im6.q16 avs:$O -alpha off -depth 16 ppm:$O.ppm", names)), 0);
    ASSERT_TRUE(readPeerPnm(out + ".ppm", &colour, nullptr));
    EXPECT_EQ(compareRgb(toRgb(img), colour), 0);
    ASSERT_EQ(run(shell("convert-im6.q16 avs:$O -alpha extract -depth 16 pgm:$O.pgm", names)), 0);
    ASSERT_TRUE(readPeerPnm(out + ".pgm", &alpha, nullptr));
    EXPECT_EQ(compareRgb(alphaOf(img), alpha), 0);
}

// ---- CMU window manager bitmaps ---------------------------------------------

std::vector<uint8_t> cmuFile(uint32_t magic, uint32_t w, uint32_t h, uint32_t depth, std::vector<uint8_t> rows) {
    std::vector<uint8_t> f;
    put32(&f, magic);
    put32(&f, w);
    put32(&f, h);
    put16(&f, depth);
    f.insert(f.end(), rows.begin(), rows.end());
    return f;
}

TEST(CmuReader, HandBuiltBitmaps) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Status status;
        std::vector<uint8_t> pixels;  // 1 white
    };
    const uint32_t M = 0xF10040BB;
    const std::vector<Case> cases = {
        {"set bits are white, rows byte-padded", cmuFile(M, 10, 2, 1, {0x7F, 0xBF, 0x80, 0x7F}), ST_OK,
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"cut inside the second row", cmuFile(M, 9, 2, 1, {0xFF, 0x80, 0x00}), ST_READ_ERROR,
         {1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"depth 8", cmuFile(M, 1, 1, 8, {0}), ST_UNKNOWN_FORMAT, {}},
        {"little-endian magic", cmuFile(0xBB4000F1, 1, 1, 1, {0}), ST_UNKNOWN_FORMAT, {}},
        {"width 16000", cmuFile(M, 16000, 1, 1, std::vector<uint8_t>(2000)), ST_UNKNOWN_FORMAT, {}},
        {"height 0", cmuFile(M, 1, 0, 1, {}), ST_UNKNOWN_FORMAT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandResult r;
        loadHand("cmu", c.bytes, c.status, &r, !c.pixels.empty());
        if (c.pixels.empty()) continue;
        EXPECT_EQ(r.img.kind, IMG_BINARY);
        EXPECT_EQ(pixelsOf(r.img), c.pixels);
    }
}

TEST(CmuReader, NetpbmFilesDecodeToTheirPixels) {
    if (!haveProgram("pbmtocmuwm") || !haveProgram("cmuwmtopbm")) GTEST_SKIP() << "netpbm missing";
    const std::string src = tempPath("cmu_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(45, 19)));
    expectPeerMatch("ppmtopgm $S | pamthreshold -simple | pamtopnm | pbmtocmuwm > $O", "cmuwmtopbm $O > $R", src,
                    tempPath("peer.cmu"), IMG_BINARY);
}

// ---- Khoros VIFF ------------------------------------------------------------

struct ViffFile {
    uint8_t machine = 2;
    uint32_t width = 1, height = 1, location = 1, images = 1, bands = 1, storage = 1, encoding = 0;
    uint32_t mapScheme = 0, mapStorage = 0, mapComponents = 0, mapEntries = 0;
    std::vector<uint8_t> map;  // as stored: component after component
    std::vector<uint8_t> data;
};

std::vector<uint8_t> buildViff(const ViffFile& s) {
    std::vector<uint8_t> f(520, 0);
    f[0] = 0xAB;
    f[1] = 1;
    f[2] = 1;
    f[3] = 3;
    f[4] = s.machine;
    const bool big = s.machine == 2;
    const uint32_t fields[] = {s.width, s.height, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0x3F800000, 0x3F800000, s.location, 0,
                               s.images, s.bands, s.storage, s.encoding, s.mapScheme, s.mapStorage,
                               s.mapComponents, s.mapEntries};
    for (uint32_t v : fields) put32(&f, v, big);
    f.resize(1024, 0);
    f.insert(f.end(), s.map.begin(), s.map.end());
    f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

ViffFile viff(uint32_t w, uint32_t h, uint32_t bands, std::vector<uint8_t> data) {
    ViffFile s;
    s.width = w;
    s.height = h;
    s.bands = bands;
    s.data = std::move(data);
    return s;
}

TEST(ViffReader, HandBuiltImages) {
    struct Case {
        const char* name;
        ViffFile file;
        int page;
        Status status;
        const char* message;
        uint16_t kind;
        std::vector<uint8_t> pixels;  // image bytes, or R,G,B triplets when rgb is set
        bool rgb;
    };
    auto mapped = [](ViffFile s, uint32_t components, std::vector<uint8_t> map) {
        s.mapScheme = 1;
        s.mapStorage = 1;
        s.mapComponents = components;
        s.mapEntries = static_cast<uint32_t>(map.size() / components);
        s.map = std::move(map);
        return s;
    };
    const std::vector<Case> cases = {
        {"grey bytes", viff(3, 1, 1, {0, 7, 255}), 0, ST_OK, nullptr, IMG_GREY, {0, 7, 255}, false},
        {"little-endian fields", with(viff(2, 1, 1, {9, 8}), [](ViffFile* s) { s->machine = 8; }), 0, ST_OK, nullptr,
         IMG_GREY, {9, 8}, false},
        {"map stored component after component", mapped(viff(2, 1, 1, {1, 0}), 3, {10, 11, 20, 21, 30, 31}), 0, ST_OK,
         nullptr, IMG_PALETTE, {11, 21, 31, 10, 20, 30}, true},
        {"one-component map is grey", mapped(viff(2, 1, 1, {1, 0}), 1, {10, 11}), 0, ST_OK, nullptr, IMG_PALETTE,
         {11, 11, 11, 10, 10, 10}, true},
        {"bands after one another", viff(2, 1, 3, {1, 2, 3, 4, 5, 6}), 0, ST_OK, nullptr, IMG_RGB,
         {1, 3, 5, 2, 4, 6}, true},
        {"fourth band is alpha", viff(1, 1, 4, {1, 2, 3, 4}), 0, ST_OK, nullptr, IMG_RGB32, {1, 2, 3, 4}, false},
        {"three bands through a map", mapped(viff(1, 1, 3, {0, 1, 1}), 3, {10, 11, 20, 21, 30, 31}), 0, ST_OK,
         nullptr, IMG_RGB, {10, 21, 31}, true},
        {"bits: leftmost in the low bit, 1 black",
         with(viff(10, 1, 1, {0x01, 0x02}), [](ViffFile* s) { s->storage = 0; }), 0, ST_OK, nullptr, IMG_BINARY,
         {0, 1, 1, 1, 1, 1, 1, 1, 1, 0}, false},
        {"second image", with(viff(2, 1, 1, {1, 2, 3, 4}), [](ViffFile* s) { s->images = 2; }), 1, ST_OK, nullptr,
         IMG_GREY, {3, 4}, false},
        {"rows cut", viff(2, 2, 1, {1, 2, 3}), 0, ST_READ_ERROR, nullptr, IMG_GREY, {1, 2, 0, 0}, false},
        {"shorts spread over the range", with(viff(3, 1, 1, {0xFF, 0x9C, 0, 0, 0, 155}), [](ViffFile* s) {
             s->storage = 2;
         }), 0, ST_OK, nullptr, IMG_GREY, {0, 100, 255}, false},
        {"little-endian ints", with(viff(2, 1, 1, {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}), [](ViffFile* s) {
             s->storage = 4;
             s->machine = 8;
         }), 0, ST_OK, nullptr, IMG_GREY, {0, 255}, false},
        {"floats, one range for the three bands",
         with(viff(1, 1, 3, {0xBF, 0, 0, 0, 0, 0, 0, 0, 0x3F, 0, 0, 0}), [](ViffFile* s) { s->storage = 5; }), 0,
         ST_OK, nullptr, IMG_RGB, {0, 127, 255}, true},
        {"doubles, second image", with(viff(1, 1, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}),
                                       [](ViffFile* s) {
                                           s->storage = 9;
                                           s->images = 2;
                                       }),
         1, ST_OK, nullptr, IMG_GREY, {255}, false},
        {"shorts cut", with(viff(1, 2, 1, {0, 1, 0}), [](ViffFile* s) { s->storage = 2; }), 0, ST_READ_ERROR, nullptr,
         IMG_GREY, {255, 0}, false},
        {"complex samples", with(viff(1, 1, 1, std::vector<uint8_t>(8)), [](ViffFile* s) { s->storage = 6; }), 0,
         ST_BAD_FILE, "VIFF : Unsupported data type !", 0, {}, false},
        {"shorts through a map", with(mapped(viff(1, 1, 1, {0, 0}), 1, {0, 0}), [](ViffFile* s) { s->storage = 2; }),
         0, ST_BAD_FILE, "VIFF : Unsupported colormap !", 0, {}, false},
        {"run-length encoded", with(viff(1, 1, 1, {0}), [](ViffFile* s) { s->encoding = 2; }), 0, ST_BAD_FILE,
         "VIFF : Unsupported encoding !", 0, {}, false},
        {"explicit locations", with(viff(1, 1, 1, {0}), [](ViffFile* s) { s->location = 2; }), 0, ST_BAD_FILE,
         "VIFF : Unsupported encoding !", 0, {}, false},
        {"map of shorts", with(mapped(viff(1, 1, 1, {0}), 1, {0, 0}), [](ViffFile* s) { s->mapStorage = 2; }), 0,
         ST_BAD_FILE, "VIFF : Unsupported colormap !", 0, {}, false},
        {"machine byte 3", with(viff(1, 1, 1, {0}), [](ViffFile* s) { s->machine = 3; }), 0, ST_UNKNOWN_FORMAT,
         nullptr, 0, {}, false},
        {"five bands", viff(1, 1, 5, {0, 0, 0, 0, 0}), 0, ST_UNKNOWN_FORMAT, nullptr, 0, {}, false},
        {"storage type 3", with(viff(1, 1, 1, {0}), [](ViffFile* s) { s->storage = 3; }), 0, ST_UNKNOWN_FORMAT,
         nullptr, 0, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath(std::string("hand_viff_") + std::to_string(&c - cases.data()) + ".viff");
        ASSERT_TRUE(writeFile(path, buildViff(c.file)));
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(findFormat("viff"));
        o.pageIndex = c.page;
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadImage(path.c_str(), &img, &o, &info), c.status);
        if (c.message) { EXPECT_STREQ(info.message, c.message); }
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) {
            o.flags = OPT_ACCEPT_DAMAGED;
            ASSERT_EQ(loadImage(path.c_str(), &img, &o, &info), ST_OK);
        }
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

TEST(ViffReader, ImageMagickFilesDecodeToTheirPixels) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("viff_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(29, 19)));
    const char* im = "convert-im6.q16 viff:$O -alpha off -depth 16 ppm:- | pnmtopnm > $R";
    const std::vector<PeerCase> cases = {
        {"colour", "convert-im6.q16 $S viff:$O", im, IMG_RGB},
        {"palette", "convert-im6.q16 $S -colors 20 -type Palette viff:$O", im, IMG_PALETTE},
        {"with alpha", "convert-im6.q16 $S -alpha set -channel A -fx '(i+j)/(w+h)' +channel -depth 8 viff:$O", im,
         IMG_RGB32},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectPeerMatch(c.make, c.decode, src, tempPath("peer" + std::to_string(n++) + ".viff"), c.kind);
    }
}

}  // namespace
