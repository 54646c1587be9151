// Usenix FaceServer, SBIG CCD, Xim, Fuzzy Bitmap, PM and Bio-Rad pictures:
// hand-built files pin down orientations, sample widths, colour maps, pages
// and refusals; files written (or read) by netpbm and the corpus decode to
// the pixels netpbm gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "unixsci.h"

using namespace testutil;
using namespace unixsci;

namespace {

struct Expect {
    const char* name;
    std::vector<uint8_t> bytes;
    Status status;
    uint16_t kind;
    std::vector<uint8_t> pixels;  // R,G,B triplets when rgb, else image bytes
    bool rgb = false;
    const char* message = nullptr;
};

void checkTable(const char* format, const std::vector<Expect>& cases) {
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.name);
        HandResult r;
        loadHand(format, c.bytes, c.status, &r, !c.pixels.empty());
        if (c.message) { EXPECT_STREQ(r.info.message, c.message); }
        if (c.pixels.empty()) continue;
        EXPECT_EQ(r.img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(r.img).pixels : pixelsOf(r.img), c.pixels);
    }
}

// ---- Usenix FaceServer --------------------------------------------------------

std::vector<uint8_t> face(const std::string& picData, const std::string& hex, const std::string& eol = "\n") {
    return text("FirstName: Ada" + eol + "E-mail: a@b" + eol + "PicData: " + picData + eol + "Image: " + picData +
                eol + eol + hex);
}

TEST(FaceReader, HandBuiltFaces) {
    checkTable("face", {
        {"8-bit, bottom row first", face("3 2 8", "0a0b0c\nff fe fd\n"), ST_OK, IMG_GREY, {255, 254, 253, 10, 11, 12}},
        {"CR LF lines, upper-case digits", face("2 1 8", "AB0F", "\r\n"), ST_OK, IMG_GREY, {0xAB, 0x0F}},
        {"1-bit rows padded to a byte", face("3 2 1", "a0\n40"), ST_OK, IMG_BINARY, {0, 1, 0, 1, 0, 1}},
        {"digits missing: rows read kept", face("2 2 8", "1020\n3"), ST_READ_ERROR, IMG_GREY, {0, 0, 0x10, 0x20}},
        {"depth 3", face("2 1 3", "00"), ST_BAD_FILE, 0, {}, false, "Face : Bad depth !"},
        {"no PicData line", text("FirstName: x\n\n0000"), ST_UNKNOWN_FORMAT, 0, {}},
        {"a line without a key", text("hello world\nPicData: 1 1 8\n\n00"), ST_UNKNOWN_FORMAT, 0, {}},
        {"width 0", face("0 1 8", "00"), ST_UNKNOWN_FORMAT, 0, {}},
        {"no empty line", text("PicData: 1 1 8\n00"), ST_UNKNOWN_FORMAT, 0, {}},
    });
}

TEST(FaceReader, NetpbmFilesDecodeToTheirPixels) {
    if (!haveProgram("pgmtofs") || !haveProgram("fstopgm")) GTEST_SKIP() << "netpbm missing";
    const std::string src = tempPath("face_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(37, 23)));
    expectPeerMatch("ppmtopgm $S | pgmtofs > $O", "fstopgm $O > $R", src, tempPath("peer.fac"), IMG_GREY);
}

// ---- SBIG CCD ---------------------------------------------------------------------

std::vector<uint8_t> sbig(const std::string& first, const std::string& keys, const std::vector<uint8_t>& data,
                          const std::string& eol = "\n\r") {
    std::string h = first + eol + keys;
    for (size_t at = 0; (at = h.find('|', at)) != std::string::npos;) h.replace(at, 1, eol);
    h += "End" + eol + "\x1a";
    std::vector<uint8_t> f = text(h);
    f.resize(2048, 0);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> le16s(std::initializer_list<uint32_t> v) {
    std::vector<uint8_t> out;
    for (uint32_t x : v) put16(&out, x, false);
    return out;
}

TEST(SbigReader, HandBuiltImages) {
    // A compressed row: length, first sample, differences, 0x80 escapes.
    std::vector<uint8_t> packed;
    const std::vector<uint8_t> row1 = {0x80, 0x00, 0x01, 0x02, 0xFE};  // 256 whole, +2, -2
    put16(&packed, 7, false);
    put16(&packed, 100, false);
    packed.insert(packed.end(), row1.begin(), row1.end());  // 100, 256, 258, 256
    const std::vector<uint8_t> plain = le16s({1, 2, 3, 4});
    put16(&packed, 8, false);
    packed.insert(packed.end(), plain.begin(), plain.end());  // stored plain: length twice the width
    checkTable("stx", {
        {"plain, scaled to the saturation level", sbig("ST-6 Image", "Height=1|Width=3|Sat_level=510|",
                                                       le16s({0, 255, 600})),
         ST_OK, IMG_GREY, {0, 127, 255}},
        {"display window", sbig("ST-7 Image", "Height = 1|Width = 3|Background = 100|Range = 200|",
                                le16s({50, 200, 300})),
         ST_OK, IMG_GREY, {0, 127, 255}},
        {"keywords in any case, CR LF lines", sbig("ST-8 Image", "height=1|WIDTH=2|", le16s({0, 65535}), "\r\n"),
         ST_OK, IMG_GREY, {0, 255}},
        {"compressed rows", sbig("ST-6 Compressed Image", "Height=2|Width=4|Sat_level=258|", packed), ST_OK,
         IMG_GREY, {98, 253, 255, 253, 0, 1, 2, 3}},
        {"rows cut", sbig("ST-6 Image", "Height=2|Width=2|Sat_level=255|", le16s({10, 20, 30})), ST_READ_ERROR,
         IMG_GREY, {10, 20, 0, 0}},
        {"compressed row length 1", sbig("ST-6 Compressed Image", "Height=1|Width=2|", {1, 0, 0}), ST_CORRUPT,
         IMG_GREY, {0, 0}, false, "SBIG : Bad row length !"},
        {"no End line", [] {
             std::vector<uint8_t> f = text("ST-6 Image\n\rHeight=1\n\rWidth=1\n\r");
             f.resize(2050, 0);
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
        {"no Width", sbig("ST-6 Image", "Height=1|", le16s({0})), ST_UNKNOWN_FORMAT, 0, {}},
        {"first line not a picture", sbig("ST-6 Dark Frame", "Height=1|Width=1|", le16s({0})), ST_UNKNOWN_FORMAT, 0,
         {}},
        {"width 16000", sbig("ST-6 Image", "Height=1|Width=16000|", le16s({0})), ST_UNKNOWN_FORMAT, 0, {}},
        {"ST-4 size without its footer", std::vector<uint8_t>(31872, 0x20), ST_UNKNOWN_FORMAT, 0, {}},
    });
}

std::vector<uint8_t> st4(uint8_t fill) {
    std::vector<uint8_t> f(192 * 165);
    for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 7 + fill);
    std::string footer = "vA test frame";
    footer.resize(79, ' ');
    footer += "        10        20       1.5         1";
    footer.resize(192, ' ');
    f.insert(f.end(), footer.begin(), footer.end());
    return f;
}

TEST(SbigReader, St4FilesAreKnownBySizeAndFooter) {
    HandResult r;
    loadHand("stx", st4(3), ST_OK, &r);
    EXPECT_EQ(r.img.width, 192);
    EXPECT_EQ(r.img.height, 165);
    EXPECT_EQ(r.img.kind, IMG_GREY);
    const std::vector<uint8_t> px = pixelsOf(r.img);
    ASSERT_EQ(px.size(), 192u * 165);
    EXPECT_EQ(px[0], 3);
    EXPECT_EQ(px[200], static_cast<uint8_t>(200 * 7 + 3));
    std::vector<uint8_t> bad = st4(3);
    bad[31680] = 'w';
    loadHand("stx", bad, ST_UNKNOWN_FORMAT, &r, false);
    bad = st4(3);
    bad[31680 + 85] = 'x';  // a number field that is not a number
    loadHand("stx", bad, ST_UNKNOWN_FORMAT, &r, false);
}

TEST(SbigReader, NetpbmFilesDecodeToTheirPixels) {
    if (!haveProgram("pgmtosbig") || !haveProgram("sbigtopgm") || !haveProgram("pgmtost4") ||
        !haveProgram("st4topgm"))
        GTEST_SKIP() << "netpbm missing";
    const std::string src = tempPath("sbig_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(41, 29)));
    // sbigtopgm shows 0 .. Sat_level, as we do without a display window.
    expectPeerMatch("ppmtopgm $S | pgmtosbig > $O", "sbigtopgm $O > $R", src, tempPath("peer.st7"), IMG_GREY, 1);
    expectPeerMatch("ppmtopgm $S | pamscale -xsize 192 -ysize 165 | pgmtost4 > $O", "st4topgm $O > $R 2>/dev/null",
                    src, tempPath("peer.st4"), IMG_GREY);
    // A compressed file of our own, read by sbigtopgm.
    std::vector<uint8_t> packed;
    for (int y = 0; y < 3; ++y) {
        put16(&packed, 2 + 1 + 3 + 1, false);
        put16(&packed, 1000 * y + 5, false);
        packed.insert(packed.end(), {0x7F, 0x80, 0x34, 0x12, 0x81});
    }
    const std::string path = tempPath("hand_compressed.st6");
    ASSERT_TRUE(writeFile(path, sbig("ST-6 Compressed Image", "Height=3|Width=4|Sat_level=5000|", packed)));
    OwnedImage img;
    ASSERT_EQ(load(path, &img), ST_OK);
    ASSERT_EQ(run(shell("sbigtopgm $O > $R 2>/dev/null", {{"$O", path}, {"$R", path + ".pgm"}})), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(path + ".pgm", &expected, nullptr));
    EXPECT_EQ(compareRgb(toRgb(img), expected, 1), 0);
}

// ---- Xim -------------------------------------------------------------------------------

struct XimFile {
    int width = 1, height = 1, colours = 0, channels = 1, lineBytes = 0, pictures = 1, bits = 8, alpha = 0, rle = 0;
    std::vector<uint8_t> map;  // R,G,B triplets
    std::vector<uint8_t> data;
    operator std::vector<uint8_t>() const;  // the file's bytes
};

std::vector<uint8_t> buildXim(const XimFile& s) {
    std::vector<uint8_t> f;
    auto field = [&](int v, size_t n) {
        std::string t = std::to_string(v);
        t.resize(n, '\0');
        f.insert(f.end(), t.begin(), t.end());
    };
    field(3, 8);
    field(1024, 8);
    field(s.width, 8);
    field(s.height, 8);
    field(s.colours, 8);
    field(s.channels, 3);
    field(s.lineBytes, 5);
    field(s.pictures, 4);
    field(s.bits, 4);
    field(s.alpha, 4);
    field(s.rle, 4);
    f.resize(256, 0);
    f.insert(f.end(), s.map.begin(), s.map.end());
    f.resize(1024, 0);
    f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

XimFile::operator std::vector<uint8_t>() const { return buildXim(*this); }

XimFile xim(int w, int h, int channels, std::vector<uint8_t> data) {
    XimFile s;
    s.width = w;
    s.height = h;
    s.channels = channels;
    s.data = std::move(data);
    return s;
}

TEST(XimReader, HandBuiltImages) {
    const std::vector<uint8_t> map = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    checkTable("xim", {
        {"mapped through the used entries", with(xim(2, 1, 1, {1, 2}), [&](XimFile* s) {
             s->map = map;
             s->colours = 2;
         }), ST_OK, IMG_PALETTE, {40, 50, 60, 0, 0, 0}, true},
        {"no colours used: grey", xim(2, 1, 0, {7, 9}), ST_OK, IMG_GREY, {7, 9}},
        {"line longer than the width", with(xim(1, 2, 1, {5, 9, 6, 9}), [](XimFile* s) { s->lineBytes = 2; }), ST_OK,
         IMG_GREY, {5, 6}},
        {"channels one after another", xim(2, 1, 3, {1, 2, 3, 4, 5, 6}), ST_OK, IMG_RGB, {1, 3, 5, 2, 4, 6}, true},
        {"24 bits means three channels", with(xim(1, 1, 1, {1, 2, 3}), [](XimFile* s) { s->bits = 24; }), ST_OK,
         IMG_RGB, {1, 2, 3}, true},
        {"fourth channel is alpha", xim(1, 1, 4, {1, 2, 3, 4}), ST_OK, IMG_RGB32, {1, 2, 3, 4}},
        {"alpha flag adds a channel", with(xim(1, 1, 3, {1, 2, 3, 9}), [](XimFile* s) { s->alpha = 1; }), ST_OK,
         IMG_RGB32, {1, 2, 3, 9}},
        {"run-length channels", with(xim(2, 2, 3, {3, 5, 1, 6, 1, 7, 0, 1, 2, 2}), [](XimFile* s) { s->rle = 1; }),
         ST_OK, IMG_RGB, {5, 6, 1, 5, 6, 2, 5, 7, 2, 5, 7, 2}, true},
        {"bitmap: 1 is black", with(xim(10, 1, 1, {0xA0, 0x40}), [](XimFile* s) { s->bits = 1; }), ST_OK,
         IMG_BINARY, {0, 1, 0, 1, 1, 1, 1, 1, 1, 0}},
        {"run-length channel cut", with(xim(2, 2, 1, {1, 8, 0}), [](XimFile* s) { s->rle = 1; }), ST_READ_ERROR,
         IMG_GREY, {8, 8, 0, 0}},
        {"version 2", [] {
             std::vector<uint8_t> f = buildXim(xim(1, 1, 1, {0}));
             f[0] = '2';
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
        {"five channels", xim(1, 1, 5, {0, 0, 0, 0, 0}), ST_UNKNOWN_FORMAT, 0, {}},
        {"plain data shorter than the header says", xim(2, 2, 1, {0, 0, 0}), ST_UNKNOWN_FORMAT, 0, {}},
        {"binary bytes in the numbers", [] {
             std::vector<uint8_t> f = buildXim(xim(1, 1, 1, {0}));
             f[30] = 0xFF;
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
    });
}

TEST(XimReader, PagesFollowOneAnother) {
    XimFile s = xim(1, 1, 3, {1, 2, 3, 4, 5, 6});
    s.pictures = 2;
    OwnedImage img;
    FileInfo info;
    ASSERT_EQ(loadIndexed(findFormat("xim"), buildXim(s), 1, &img, &info), ST_OK);
    EXPECT_EQ(info.pageCount, 2);
    EXPECT_EQ(toRgb(img).pixels, (std::vector<uint8_t>{4, 5, 6}));
}

TEST(XimReader, NetpbmReadsTheSamePixels) {
    if (!haveProgram("ximtoppm")) GTEST_SKIP() << "netpbm missing";
    // ximtoppm reads plain mapped and R,G,B files.
    std::vector<uint8_t> map(768), idx(7 * 5 * 2), rgb(9 * 4 * 3);
    for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint8_t>(i * 37);
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>(i * 11 % 200);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 13);
    XimFile mapped = xim(7, 5, 1, idx);
    mapped.lineBytes = 14;
    mapped.colours = 200;
    mapped.map = map;
    const std::vector<XimFile> files = {mapped, xim(9, 4, 3, rgb)};
    for (const XimFile& s : files) {
        const std::string path = tempPath("peer" + std::to_string(&s - files.data()) + ".xim");
        ASSERT_TRUE(writeFile(path, buildXim(s)));
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        ASSERT_EQ(run(shell("ximtoppm $O > $R 2>/dev/null", {{"$O", path}, {"$R", path + ".ppm"}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(path + ".ppm", &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

// ---- Fuzzy Bitmap -----------------------------------------------------------------------

struct FbmFile {
    int cols = 1, rows = 1, planes = 1, bits = 8, physBits = 8, rowLength = 0, planeLength = 0, mapLength = 0;
    const char* aspect = "1.000000";
    std::vector<uint8_t> map;  // all reds, all greens, all blues
    std::vector<uint8_t> data;
    operator std::vector<uint8_t>() const;  // the file's bytes
};

std::vector<uint8_t> buildFbm(const FbmFile& s) {
    std::vector<uint8_t> f = text(std::string("%bitmap") + '\0');
    auto field = [&](const std::string& t, size_t n) {
        std::string v = t;
        v.resize(n, '\0');
        f.insert(f.end(), v.begin(), v.end());
    };
    const int rowLength = s.rowLength ? s.rowLength : s.cols;
    field(std::to_string(s.cols), 8);
    field(std::to_string(s.rows), 8);
    field(std::to_string(s.planes), 8);
    field(std::to_string(s.bits), 8);
    field(std::to_string(s.physBits), 8);
    field(std::to_string(rowLength), 12);
    field(std::to_string(s.planeLength ? s.planeLength : rowLength * s.rows), 12);
    field(std::to_string(s.mapLength), 12);
    field(s.aspect, 12);
    f.resize(256, 0);
    f.insert(f.end(), s.map.begin(), s.map.end());
    f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

FbmFile::operator std::vector<uint8_t>() const { return buildFbm(*this); }

FbmFile fbm(int cols, int rows, int planes, std::vector<uint8_t> data) {
    FbmFile s;
    s.cols = cols;
    s.rows = rows;
    s.planes = planes;
    s.data = std::move(data);
    return s;
}

TEST(FbmReader, HandBuiltImages) {
    checkTable("fbm", {
        {"grey, rows padded to even", with(fbm(3, 2, 1, {0, 1, 2, 9, 3, 4, 5, 9}), [](FbmFile* s) {
             s->rowLength = 4;
         }), ST_OK, IMG_GREY, {0, 1, 2, 3, 4, 5}},
        {"planar colour map", with(fbm(3, 1, 1, {1, 0, 2}), [](FbmFile* s) {
             s->mapLength = 9;
             s->map = {10, 11, 12, 20, 21, 22, 30, 31, 32};
         }), ST_OK, IMG_PALETTE, {11, 21, 31, 10, 20, 30, 12, 22, 32}, true},
        {"three planes with plane padding", with(fbm(2, 1, 3, {1, 2, 0, 3, 4, 0, 5, 6}), [](FbmFile* s) {
             s->planeLength = 3;
         }), ST_OK, IMG_RGB, {1, 3, 5, 2, 4, 6}, true},
        {"a colour map before three planes is skipped", with(fbm(1, 1, 3, {1, 2, 3}), [](FbmFile* s) {
             s->mapLength = 3;
             s->map = {9, 9, 9};
         }), ST_OK, IMG_RGB, {1, 2, 3}, true},
        {"byte bitmap: anything but 0 is white", with(fbm(3, 1, 1, {0, 255, 7}), [](FbmFile* s) { s->bits = 1; }),
         ST_OK, IMG_BINARY, {0, 1, 1}},
        {"packed bitmap: 1 is white", with(fbm(10, 1, 1, {0x80, 0x40}), [](FbmFile* s) {
             s->bits = 1;
             s->physBits = 1;
             s->rowLength = 2;
         }), ST_OK, IMG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"second plane missing", fbm(1, 1, 3, {1}), ST_READ_ERROR, IMG_RGB, {1, 0, 0}, true},
        {"aspect 0", with(fbm(1, 1, 1, {0}), [](FbmFile* s) { s->aspect = "0"; }), ST_BAD_FILE, 0, {}, false,
         "FBM : Bad header !"},
        {"row length under the width", with(fbm(4, 1, 1, {0, 0, 0, 0}), [](FbmFile* s) { s->rowLength = 3; }),
         ST_BAD_FILE, 0, {}, false, "FBM : Bad header !"},
        {"colour map of 4 bytes", with(fbm(1, 1, 1, {0}), [](FbmFile* s) { s->mapLength = 4; }), ST_BAD_FILE, 0, {},
         false, "FBM : Bad header !"},
        {"other magic", [] {
             std::vector<uint8_t> f = buildFbm(fbm(1, 1, 1, {0}));
             f[1] = 'B';
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
    });
}

// ---- PM ------------------------------------------------------------------------------------

std::vector<uint8_t> pmFile(bool big, uint32_t planes, uint32_t rows, uint32_t cols, uint32_t form,
                            std::vector<uint8_t> data, uint32_t bands = 1) {
    std::vector<uint8_t> f = text(big ? "VIEW" : "WEIV");
    for (uint32_t v : {planes, rows, cols, bands, form, 4u}) put32(&f, v, big);
    f.insert(f.end(), data.begin(), data.end());
    f.insert(f.end(), {'x', 'y', 'z', 0});
    return f;
}

TEST(PmReader, HandBuiltImages) {
    checkTable("pm", {
        {"grey bytes, odd width", pmFile(true, 1, 1, 3, 0x8001, {0, 100, 255}), ST_OK, IMG_GREY, {0, 100, 255}},
        {"little-endian fields", pmFile(false, 1, 2, 1, 0x8001, {7, 8}), ST_OK, IMG_GREY, {7, 8}},
        {"planes red, green, blue", pmFile(true, 3, 1, 2, 0x8001, {1, 2, 3, 4, 5, 6}), ST_OK, IMG_RGB,
         {1, 3, 5, 2, 4, 6}, true},
        {"fourth plane is alpha", pmFile(false, 4, 1, 1, 0x8001, {1, 2, 3, 4}), ST_OK, IMG_RGB32, {1, 2, 3, 4}},
        {"integers of a VIEW file: A,B,G,R", pmFile(true, 1, 1, 1, 0x8004, {4, 3, 2, 1}), ST_OK, IMG_RGB32,
         {1, 2, 3, 4}},
        {"integers of a WEIV file: R,G,B,A", pmFile(false, 1, 1, 1, 0x8004, {1, 2, 3, 4}), ST_OK, IMG_RGB32,
         {1, 2, 3, 4}},
        {"third plane cut", [] {
             std::vector<uint8_t> f = pmFile(true, 3, 2, 1, 0x8001, {1, 2, 3, 4, 5});
             f.resize(f.size() - 4);
             return f;
         }(), ST_READ_ERROR, IMG_RGB, {1, 3, 5, 2, 4, 0}, true},
        {"shorts", pmFile(true, 1, 1, 1, 0x8002, {0, 0}), ST_BAD_FILE, 0, {}, false,
         "PM : Unsupported pixel format !"},
        {"two bands", pmFile(true, 1, 1, 1, 0x8001, {0}, 2), ST_BAD_FILE, 0, {}, false,
         "PM : Unsupported pixel format !"},
        {"unknown element format", pmFile(true, 1, 1, 1, 0x9001, {0}), ST_UNKNOWN_FORMAT, 0, {}},
        {"height 0", pmFile(true, 1, 0, 1, 0x8001, {}), ST_UNKNOWN_FORMAT, 0, {}},
    });
}

// ---- Bio-Rad --------------------------------------------------------------------------------

std::vector<uint8_t> biorad(uint16_t nx, uint16_t ny, uint16_t npic, uint16_t byteFormat, std::vector<uint8_t> data,
                            uint16_t rampLow = 0, uint16_t rampHigh = 255, uint16_t id = 12345) {
    std::vector<uint8_t> f;
    for (uint16_t v : {nx, ny, npic, rampLow, rampHigh}) put16(&f, v, false);
    put32(&f, 0, false);
    put16(&f, byteFormat, false);
    f.resize(54, 0);
    put16(&f, id, false);
    f.resize(76, 0);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST(BioradReader, HandBuiltImages) {
    checkTable("biorad", {
        {"bytes", biorad(3, 1, 1, 1, {0, 9, 255}), ST_OK, IMG_GREY, {0, 9, 255}},
        {"words through the ramp", biorad(3, 1, 1, 0, le16s({100, 150, 400}), 100, 200), ST_OK, IMG_GREY,
         {0, 127, 255}},
        {"words without a ramp: their own range", biorad(3, 1, 1, 0, le16s({1000, 1500, 2000}), 0, 0), ST_OK,
         IMG_GREY, {0, 127, 255}},
        {"says words, holds bytes", biorad(2, 1, 2, 0, {1, 2, 3, 4}), ST_OK, IMG_GREY, {1, 2}},
        {"bytes cut", biorad(2, 2, 1, 1, {1, 2, 3}), ST_READ_ERROR, IMG_GREY, {1, 2, 0, 0}},
        {"file id", biorad(1, 1, 1, 1, {0}, 0, 255, 12346), ST_UNKNOWN_FORMAT, 0, {}},
        {"no images", biorad(1, 1, 0, 1, {0}), ST_UNKNOWN_FORMAT, 0, {}},
        {"not even a row", biorad(4, 1, 1, 1, {0, 0}), ST_UNKNOWN_FORMAT, 0, {}},
    });
}

TEST(BioradReader, NetpbmReadsTheSamePixels) {
    if (!haveProgram("bioradtopgm")) GTEST_SKIP() << "netpbm missing";
    std::vector<uint8_t> bytes(2 * 13 * 7), words;
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 29);
    for (int i = 0; i < 13 * 7; ++i) put16(&words, static_cast<uint32_t>(i * 719), false);
    struct Case {
        std::vector<uint8_t> file;
        int image;
    };
    // A ramp over the whole range shows words as netpbm's maxval 65535 does.
    const std::vector<Case> cases = {{biorad(13, 7, 2, 1, bytes), 0}, {biorad(13, 7, 2, 1, bytes), 1},
                                     {biorad(13, 7, 1, 0, words, 0, 65535), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases.data());
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadIndexed(findFormat("biorad"), c.file, c.image, &img, &info, 0, "pic"), ST_OK);
        const std::string path = tempPath("peer_biorad.pic");
        ASSERT_TRUE(writeFile(path, c.file));
        const std::string cmd = "bioradtopgm -" + std::to_string(c.image) + " $O > $R 2>/dev/null";
        ASSERT_EQ(run(shell(cmd, {{"$O", path}, {"$R", path + ".pgm"}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(path + ".pgm", &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected, 1), 0);
    }
}

// ---- the corpus -------------------------------------------------------------------------------

TEST(UnixSciReaders, FaceAndSbigCorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("fstopgm") || !haveProgram("st4topgm")) GTEST_SKIP() << "netpbm missing";
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/";
    const std::vector<std::pair<const char*, const char*>> files = {
        {"face/hopper.fac", "fstopgm $O > $R"},
        {"stx/hopper.st4", "st4topgm $O > $R 2>/dev/null"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.first);
        const std::string path = dir + f.first;
        const std::string ref = tempPath(std::string("corpus2_") + std::to_string(&f - files.data()) + ".pnm");
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        EXPECT_EQ(img.kind, IMG_GREY);
        ASSERT_EQ(run(shell(f.second, {{"$O", path}, {"$R", ref}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

}  // namespace
