// Microsoft Paint, MacPaint, PlayStation TIM and PC Paint pictures: files
// written or read by Pillow, netpbm and ImageMagick compared with those
// programs' decodes, hand-built files for the variants no peer writes, and
// the refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;
const char IM[] = "convert-im6.q16";
const char PYTHON[] = "/usr/bin/python3";


bool peerRun(const std::string& cmd, const std::string& ppm, Rgb* out) {
    if (run(cmd) != 0) return false;
    unsigned maxval;
    return readPeerPnm(ppm, out, &maxval);
}

bool pillowRgb(const std::string& in, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("pcpeer" + std::to_string(counter++) + ".ppm");
    return peerRun(shell("PY -c \"import sys; from PIL import Image; "
                         "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2], 'PPM')\" IN OUT",
                         {{"PY", PYTHON}, {"IN", in}, {"OUT", ppm}}),
                   ppm, out);
}

bool imRgb(const std::string& in, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("pcim" + std::to_string(counter++) + ".ppm");
    return peerRun(shell("IMC IN OUT", {{"IMC", IM}, {"IN", in}, {"OUT", ppm}}), ppm, out);
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A black-and-white picture as triplets from rows of packed bits (set = white
// when setIsWhite).
Rgb bitsRgb(int w, int h, const Bytes& rows, bool setIsWhite) {
    Rgb r;
    r.width = w;
    r.height = h;
    const int rowBytes = (w + 7) / 8;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool set = rows[static_cast<size_t>(y) * rowBytes + x / 8] & (0x80 >> (x % 8));
            r.pixels.insert(r.pixels.end(), 3, set == setIsWhite ? 255 : 0);
        }
    return r;
}

// ---- Microsoft Paint --------------------------------------------------------

Bytes mspHeader(const char* key, int w, int h) {
    Bytes b(key, key + 4);
    for (int v : {w, h, 1, 1, 1, 1, w, h, 0, 0, 0, 0, 0, 0}) putLE16(&b, static_cast<uint32_t>(v));
    uint16_t x = 0;
    for (size_t i = 0; i < 32; i += 2) x ^= static_cast<uint16_t>(b[i] | b[i + 1] << 8);
    b[24] = static_cast<uint8_t>(x);
    b[25] = static_cast<uint8_t>(x >> 8);
    return b;
}

TEST(MspReader, PillowWrittenAndCorpus) {
    if (!havePillow()) GTEST_SKIP() << "Pillow missing";
    const std::string pbm = tempPath("msp.pbm"), msp = tempPath("pillow.msp");
    ASSERT_TRUE(writeFile(pbm, patternP6(37, 11)));  // made black and white by Pillow
    ASSERT_EQ(0, run(shell("PY -c \"import sys; from PIL import Image; "
                           "Image.open(sys.argv[1]).convert('1').save(sys.argv[2])\" IN OUT",
                           {{"PY", PYTHON}, {"IN", pbm}, {"OUT", msp}})));
    std::vector<std::string> files = {msp};
    if (corpusPresent()) files.push_back(corpusPath("msp/hopper.msp"));
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(f, &img));
        EXPECT_EQ(IMG_BINARY, img.kind);
        Rgb want;
        ASSERT_TRUE(pillowRgb(f, &want));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

TEST(MspReader, HandBuiltVersion2) {
    // Rows: a run of black, a literal, an empty row (white), a run cut short.
    const Bytes lengths = {3, 0, 3, 0, 0, 0, 2, 0};
    const Bytes rows = {0x00, 0x02, 0x00, 0x02, 0xF0, 0x0F, 0x01, 0x55};
    const Bytes v2 = cat({mspHeader("LinS", 16, 4), lengths, rows});
    struct Case {
        const char* name;
        Bytes file;
        Status status;
    } cases[] = {
        {"four rows", v2, ST_OK},
        {"cut in its rows", Bytes(v2.begin(), v2.end() - 3), ST_READ_ERROR},
        {"cut in the table", Bytes(v2.begin(), v2.begin() + 36), ST_READ_ERROR},
        {"other key", cat({mspHeader("DanN", 16, 4), Bytes(8, 0)}), ST_UNKNOWN_FORMAT},
        {"no width", cat({mspHeader("DanM", 0, 4), Bytes(8, 0)}), ST_UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("msp", c.file, &img));
    }
    OwnedImage img;
    ASSERT_EQ(ST_OK, loadBytesAs("msp", v2, &img));
    const Bytes want = {0x00, 0x00, 0xF0, 0x0F, 0xFF, 0xFF, 0x55, 0xFF};
    EXPECT_EQ(0, compareRgb(toRgb(img), bitsRgb(16, 4, want, true)));
    if (havePillow()) {
        // Pillow takes only rows coded whole: the last row with its second byte.
        const std::string path = tempPath("v2.msp");
        ASSERT_TRUE(writeFile(path, cat({mspHeader("LinS", 16, 4), Bytes{3, 0, 3, 0, 0, 0, 3, 0},
                                         Bytes(rows.begin(), rows.end() - 2), Bytes{0x02, 0x55, 0xFF}})));
        Rgb peer;
        ASSERT_TRUE(pillowRgb(path, &peer));
        EXPECT_EQ(0, compareRgb(toRgb(img), peer));
    }
}

// ---- MacPaint ---------------------------------------------------------------

TEST(MacReader, NetpbmWrittenWithAndWithoutMacBinary) {
    if (!haveProgram("pbmtomacp") || !haveProgram("macptopbm")) GTEST_SKIP() << "netpbm missing";
    const std::string ppm = tempPath("mac.ppm"), mac = tempPath("netpbm.mac");
    ASSERT_TRUE(writeFile(ppm, patternP6(300, 200)));
    ASSERT_EQ(0, run(shell("ppmtopgm IN | pgmtopbm | pbmtomacp > OUT", {{"IN", ppm}, {"OUT", mac}})));
    Rgb want;
    const std::string ref = tempPath("mac.pbm");
    ASSERT_TRUE(peerRun(shell("macptopbm IN > OUT", {{"IN", mac}, {"OUT", ref}}), ref, &want));
    Bytes plain;
    ASSERT_TRUE(readFile(mac, &plain));
    Bytes binary(128, 0);
    binary[1] = 5;
    const char* name = "a.mac";
    std::copy(name, name + 5, binary.begin() + 2);
    const std::string typeCreator = "PNTGMPNT";
    std::copy(typeCreator.begin(), typeCreator.end(), binary.begin() + 65);
    binary[85] = static_cast<uint8_t>(plain.size() >> 8);
    binary[86] = static_cast<uint8_t>(plain.size());
    struct Case {
        const char* name;
        Bytes file;
        Status status;
    } cases[] = {
        {"plain", plain, ST_OK},
        {"MacBinary", cat({binary, plain}), ST_OK},
        {"cut", Bytes(plain.begin(), plain.begin() + plain.size() / 2), ST_READ_ERROR},
        {"version 7", cat({Bytes{0, 0, 0, 7}, Bytes(plain.begin() + 4, plain.end())}), ST_UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("mac", c.file, &img));
        if (c.status == ST_OK) EXPECT_EQ(0, compareRgb(toRgb(img), want));
        if (c.status == ST_READ_ERROR) {
            ASSERT_EQ(ST_OK, loadBytesAs("mac", c.file, &img, OPT_ACCEPT_DAMAGED));
            // The rows lost are white, not black.
            const Rgb got = toRgb(img);
            EXPECT_EQ(255, got.pixels.back());
        }
    }
}

TEST(MacReader, CorpusAgainstImageMagick) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    OwnedImage img;
    ASSERT_EQ(ST_OK, load(corpusPath("mac/porsches.mac"), &img));
    Rgb want;
    ASSERT_TRUE(imRgb(corpusPath("mac/porsches.mac"), &want));
    EXPECT_EQ(0, compareRgb(toRgb(img), want));
}

// ---- PlayStation TIM ----------------------------------------------------------

Bytes timBlock(uint32_t words, uint32_t h, const Bytes& data) {
    Bytes b;
    putLE32(&b, 12 + 2 * words * h);
    for (uint32_t v : {0u, 0u, words, h}) putLE16(&b, v);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes timFile(uint32_t flags, const Bytes& clut, const Bytes& image) {
    Bytes b;
    putLE32(&b, 0x10);
    putLE32(&b, flags);
    return cat({b, clut, image});
}

Bytes words555(std::initializer_list<uint32_t> rgb) {
    Bytes b;
    for (uint32_t v : rgb) putLE16(&b, v);
    return b;
}

TEST(TimReader, CorpusAgainstImageMagick) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (const char* name : {"tim/input.tim", "tim/testcard_idx4.tim", "tim/testcard_idx8.tim",
                             "tim/testcard_rgb16.tim"}) {
        SCOPED_TRACE(name);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(corpusPath(name), &img));
        Rgb want;
        ASSERT_TRUE(imRgb(corpusPath(name), &want));
        EXPECT_EQ(0, compareRgb(toRgb(img), want, 1));  // 5-bit scaling rounds either way
    }
}

TEST(TimReader, HandBuiltModes) {
    Bytes clut16 = words555({0x001F, 0x03E0, 0x7C00, 0x7FFF});
    clut16.resize(32, 0);
    Bytes clut256(512, 0);
    clut256[2 * 200] = 0x1F;  // entry 200 red
    const Bytes four = timFile(8, timBlock(16, 1, clut16), timBlock(2, 1, {0x10, 0x32, 0x00, 0x00}));
    const Bytes eight = timFile(9, timBlock(256, 1, clut256), timBlock(1, 1, {200, 0}));
    const Bytes sixteen = timFile(2, {}, timBlock(2, 1, words555({0x7C00, 0x03FF})));
    const Bytes twentyFour = timFile(3, {}, timBlock(3, 1, {1, 2, 3, 4, 5, 6}));
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        int width;
        Bytes first;  // R,G,B of the first pixels
    } cases[] = {
        {"4-bit, low nibble first", four, ST_OK, 8, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}},
        {"8-bit", eight, ST_OK, 2, {255, 0, 0}},
        {"16-bit, red low", sixteen, ST_OK, 2, {0, 0, 255, 255, 255, 0}},
        {"24-bit", twentyFour, ST_OK, 2, {1, 2, 3, 4, 5, 6}},
        {"two textures", cat({sixteen, eight}), ST_OK, 2, {0, 0, 255}},
        {"8-bit without CLUT", timFile(1, {}, timBlock(1, 1, {200, 0})), ST_OK, 2, {200, 200, 200}},
        {"short CLUT", timFile(9, timBlock(16, 1, clut16), timBlock(1, 1, {200, 0})), ST_BAD_FILE, 0, {}},
        {"mixed mode", timFile(4, {}, timBlock(1, 1, {0, 0})), ST_UNKNOWN_FORMAT, 0, {}},
        {"cut", Bytes(sixteen.begin(), sixteen.end() - 1), ST_UNKNOWN_FORMAT, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("tim", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.width, img.width);
        const Rgb got = toRgb(img);
        ASSERT_GE(got.pixels.size(), c.first.size());
        EXPECT_EQ(c.first, Bytes(got.pixels.begin(), got.pixels.begin() + static_cast<long>(c.first.size())));
    }
    // The second texture of a pair is its second page.
    const std::string path = tempPath("two.tim");
    ASSERT_TRUE(writeFile(path, cat({sixteen, eight})));
    IoOptions o = defaultIoOptions();
    o.pageIndex = 1;
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, loadImage(path.c_str(), &img, &o, &info));
    EXPECT_EQ(2, info.pageCount);
    EXPECT_EQ(255, toRgb(img).pixels[0]);
}

// ---- PC Paint -----------------------------------------------------------------

Bytes picHeader(int w, int h, uint8_t planeInfo, uint16_t paletteType, const Bytes& palette) {
    Bytes b;
    for (int v : {0x1234, w, h, 0, 0}) putLE16(&b, static_cast<uint32_t>(v));
    b.insert(b.end(), {planeInfo, 0xFF, 'M'});
    putLE16(&b, paletteType);
    putLE16(&b, static_cast<uint32_t>(palette.size()));
    return cat({b, palette});
}

// One coded block holding data with marker 0xAA (a run of count v).
Bytes picBlock(const Bytes& coded, uint32_t unpacked) {
    Bytes b;
    putLE16(&b, static_cast<uint32_t>(coded.size() + 5));
    putLE16(&b, unpacked);
    b.push_back(0xAA);
    return cat({b, coded});
}

TEST(PcPaintReader, HandBuiltPictures) {
    // 4 x 2, 4 bits, 6-bit RGB palette, bottom row first.
    Bytes palette(48, 0);
    palette[3] = 63;             // 1 red
    palette[3 * 2 + 1] = 63;     // 2 green
    palette[3 * 15 + 2] = 63;    // 15 blue
    const Bytes raw = {0x12, 0xF0, 0x11, 0x22};  // bottom row: 1 2 15 0; top: 1 1 2 2
    Bytes plain = cat({picHeader(4, 2, 0x04, 4, palette), Bytes{0, 0}, raw});
    Bytes count;
    putLE16(&count, 1);
    Bytes coded = cat({picHeader(4, 2, 0x04, 4, palette), count, picBlock({0x12, 0xF0, 0xAA, 1, 0x11, 0xAA, 0, 1, 0, 0x22}, 4)});
    // 4 planes of 1 bit, whole planes: a 8 x 1 picture whose pixel x has colour x.
    const Bytes planar = cat({picHeader(8, 1, 0x31, 0, {}), Bytes{0, 0}, Bytes{0x55, 0x33, 0x0F, 0x00}});
    const uint8_t red[3] = {255, 0, 0}, green[3] = {0, 255, 0}, blue[3] = {0, 0, 255}, black[3] = {0, 0, 0};
    Bytes packedWant;
    for (const uint8_t* p : {red, red, green, green, red, green, blue, black}) packedWant.insert(packedWant.end(), p, p + 3);
    const Bytes planarWant = {0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x00, 0xAA, 0x00, 0x00, 0xAA, 0xAA,
                              0xAA, 0x00, 0x00, 0xAA, 0x00, 0xAA, 0xAA, 0x55, 0x00, 0xAA, 0xAA, 0xAA};
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        Bytes want;
    } cases[] = {
        {"plain 4-bit", plain, ST_OK, packedWant},
        {"coded 4-bit", coded, ST_OK, packedWant},
        {"four whole planes", planar, ST_OK, planarWant},
        {"cut", Bytes(coded.begin(), coded.end() - 4), ST_READ_ERROR, {}},
        {"text mode", [] { Bytes b = picHeader(4, 2, 0x04, 0, {}); b[12] = '2'; return cat({b, Bytes(6, 0)}); }(),
         ST_BAD_FILE, {}},
        {"version 1 header", [&] { Bytes b = plain; b[11] = 0; return b; }(), ST_UNKNOWN_FORMAT, {}},
        {"3 bits a pixel", cat({picHeader(4, 2, 0x03, 0, {}), Bytes(6, 0)}), ST_UNKNOWN_FORMAT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("pic", c.file, &img));
        if (c.status == ST_OK) EXPECT_EQ(c.want, toRgb(img).pixels);
    }
}

TEST(PcPaintReader, CorpusPictures) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    // No peer reads PC Paint: the sizes and the colours the headers promise.
    struct Case {
        const char* name;
        int width, height;
        uint16_t kind;
    } cases[] = {{"pic/AHOUSE.PIC", 320, 200, IMG_PALETTE}, {"pic/EMOUSE.PIC", 416, 201, IMG_BINARY},
                 {"pic/GSAM.PIC", 240, 235, IMG_PALETTE},   {"pic/LGINA.PIC", 320, 200, IMG_PALETTE},
                 {"pic/MFISH.PIC", 312, 206, IMG_PALETTE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(ST_OK, load(corpusPath(c.name), &img, 0, &info));
        EXPECT_EQ(c.width, img.width);
        EXPECT_EQ(c.height, img.height);
        EXPECT_EQ(c.kind, img.kind);
    }
}

// ---- Dr Halo ----------------------------------------------------------------

Bytes haloRows(const std::vector<Bytes>& rows, int w, int h) {
    Bytes b;
    for (int v : {w, h, 0}) putLE16(&b, static_cast<uint32_t>(v));
    for (const Bytes& r : rows) {
        putLE16(&b, static_cast<uint32_t>(r.size()));
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

// A palette file: entry i is (i, 3 i, 255 - i), 8-bit maxima.
Bytes haloPalette() {
    Bytes b = {'A', 'H', 0, 1, 0, 3, 0x0A, 0, 0, 0, 0, 0};
    for (int v : {255, 255, 255, 255}) putLE16(&b, static_cast<uint32_t>(v));
    const std::string id = "Dr. Halo";
    b.insert(b.end(), id.begin(), id.end());
    b.resize(40, 0);
    for (int i = 0; i < 256; ++i) {
        if (b.size() % 512 > 506) b.resize((b.size() / 512 + 1) * 512, 0);  // entries keep to their block
        for (int v : {i, (3 * i) % 256, 255 - i}) putLE16(&b, static_cast<uint32_t>(v));
    }
    return b;
}

TEST(CutReader, HandBuiltWithAndWithoutPalette) {
    // Runs, literals, a row whose count covers a run past the width (cut).
    const std::vector<Bytes> rows = {{0x84, 5, 0x03, 1, 2, 3, 0}, {0x07, 9, 8, 7, 6, 5, 4, 3, 0}, {0x89, 200, 0}};
    const Bytes cut = haloRows(rows, 7, 3);
    const Bytes indexes = {5, 5, 5, 5, 1, 2, 3, 9, 8, 7, 6, 5, 4, 3, 200, 200, 200, 200, 200, 200, 200};
    const std::string dir = tempPath("halo");
    ASSERT_EQ(0, run("mkdir -p '" + dir + "'"));
    const std::string alone = dir + "/alone.cut", withPal = dir + "/coloured.cut";
    ASSERT_TRUE(writeFile(alone, cut));
    ASSERT_TRUE(writeFile(withPal, cut));
    ASSERT_TRUE(writeFile(dir + "/coloured.pal", haloPalette()));
    OwnedImage grey, colour;
    ASSERT_EQ(ST_OK, load(alone, &grey));
    ASSERT_EQ(ST_OK, load(withPal, &colour));
    const Rgb g = toRgb(grey), c = toRgb(colour);
    for (size_t i = 0; i < indexes.size(); ++i) {
        EXPECT_EQ(indexes[i], g.pixels[3 * i]) << i;
        EXPECT_EQ(Bytes({indexes[i], static_cast<uint8_t>(3 * indexes[i] % 256), static_cast<uint8_t>(255 - indexes[i])}),
                  Bytes(c.pixels.begin() + 3 * i, c.pixels.begin() + 3 * i + 3)) << i;
    }
    if (haveProgram(IM)) {
        Rgb want;
        ASSERT_TRUE(imRgb(withPal, &want));
        EXPECT_EQ(0, compareRgb(c, want));
    }
    struct Case {
        const char* name;
        Bytes file;
        Status status;
    } cases[] = {
        {"cut in a row", Bytes(cut.begin(), cut.end() - 2), ST_READ_ERROR},
        {"reserved word set", [&] { Bytes b = cut; b[4] = 1; return b; }(), ST_UNKNOWN_FORMAT},
        {"empty first row", haloRows({{}, {0}}, 2, 2), ST_UNKNOWN_FORMAT},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        OwnedImage img;
        EXPECT_EQ(k.status, loadBytesAs("cut", k.file, &img));
    }
}

}  // namespace
