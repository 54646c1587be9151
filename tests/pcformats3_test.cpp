// CorelDRAW previews, ColoRIX pictures and Acorn sprites. No peer writes
// these files: they are built here byte by byte for every variant (with a
// small encoder for compressed ColoRIX data), and the CorelDRAW previews
// wrap bitmaps written by ImageMagick, compared with its own decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;
const char IM[] = "convert-im6.q16";

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes text(const char* s) { return Bytes(s, s + strlen(s)); }
Bytes cut(const Bytes& b, size_t drop) { return Bytes(b.begin(), b.end() - static_cast<long>(drop)); }

// A picture of w x h from a function giving each pixel's R,G,B.
Rgb picture(int w, int h, const std::function<uint32_t(int, int)>& rgb) {
    Rgb r;
    r.width = w;
    r.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = rgb(x, y);
            r.pixels.insert(r.pixels.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
        }
    return r;
}

struct Case {
    const char* name;
    Bytes file;
    Status status;
};

void expectStatuses(const char* format, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        EXPECT_EQ(c.status, loadBytesAs(format, c.file, &img));
    }
}

// Hand-made files that decode to the picture given, under the variant's name.
struct Pic {
    const char* name;
    Bytes file;
    Rgb want;
    const char* kind;
};

void expectPictures(const char* format, const std::vector<Pic>& pics) {
    for (const Pic& p : pics) {
        SCOPED_TRACE(p.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(ST_OK, loadBytesAs(format, p.file, &img, 0, &info));
        EXPECT_STREQ(p.kind, info.formatName);
        EXPECT_EQ(0, compareRgb(toRgb(img), p.want));
    }
}

// ---- CorelDRAW ----------------------------------------------------------------

Bytes chunk(const char* id, const Bytes& body) {
    Bytes b = text(id);
    putLE32(&b, static_cast<uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1) b.push_back(0);
    return b;
}
Bytes list(const char* type, const Bytes& chunks) { return chunk("LIST", cat({text(type), chunks})); }
Bytes riff(const char* form, const Bytes& chunks) { return chunk("RIFF", cat({text(form), chunks})); }

// A packed bitmap: information header, colour table (B,G,R,0), bottom-up rows.
Bytes dib(int w, int h, int bits, const Bytes& table, const Bytes& rows) {
    Bytes b;
    for (uint32_t v : {40u, uint32_t(w), uint32_t(h)}) putLE32(&b, v);
    putLE16(&b, 1);
    putLE16(&b, static_cast<uint32_t>(bits));
    for (uint32_t v : {0u, uint32_t(rows.size()), 2835u, 2835u, uint32_t(table.size() / 4), 0u}) putLE32(&b, v);
    return cat({b, table, rows});
}

// 4 x 2 at 8 bits: indexes 0..3 on the bottom row, 3..0 above it.
const Bytes DIB8 = dib(4, 2, 8, {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0x10, 0x20, 0x30, 0},
                       {0, 1, 2, 3, 3, 2, 1, 0});
Rgb dib8Picture() {
    static const uint32_t C[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0x302010};
    return picture(4, 2, [](int x, int y) { return C[y == 0 ? 3 - x : x]; });
}

Bytes disp(const Bytes& packed, uint32_t format = 8) {
    Bytes b;
    putLE32(&b, format);
    return chunk("DISP", cat({b, packed}));
}

TEST(CdrReader, RiffPreviews) {
    const Bytes vrsn = chunk("vrsn", {0x2C, 0x01});
    // 24 bits: 2 x 1, B,G,R padded to 4 bytes.
    const Bytes dib24 = dib(2, 1, 24, {}, {0x30, 0x20, 0x10, 0x00, 0x00, 0xFF, 0, 0});
    // 1 bit: 9 x 1 with black and white.
    const Bytes dib1 = dib(9, 1, 1, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0}, {0xAA, 0x80, 0, 0});
    // A "bmp " chunk: its number, then a whole bitmap file.
    Bytes bmpFile = text("BM");
    putLE32(&bmpFile, static_cast<uint32_t>(14 + DIB8.size()));
    putLE32(&bmpFile, 0);
    putLE32(&bmpFile, 14 + 40 + 16);
    bmpFile = cat({bmpFile, DIB8});
    const Bytes bitmaps = list("bmpt", chunk("bmp ", cat({Bytes{1, 0}, bmpFile})));
    // A compressed list that does not follow the chunk rules.
    const Bytes cmpr = list("cmpr", cat({text("DISPjunk"), Bytes(9, 0xEE)}));
    const char* kind = "CorelDRAW preview";
    expectPictures("cdr", {
        {"8 bits", riff("CDR9", cat({vrsn, disp(DIB8), list("doc ", chunk("mcfg", Bytes(3, 1)))})), dib8Picture(), kind},
        {"24 bits, version 6", riff("CDR6", cat({vrsn, disp(dib24)})),
         picture(2, 1, [](int x, int) { return x == 0 ? 0x102030u : 0xFF0000u; }), kind},
        {"1 bit, DIB v5 number", riff("CDRB", cat({vrsn, disp(dib1, 17)})),
         picture(9, 1, [](int x, int) { return x % 2 == 0 || x == 8 ? 0xFFFFFFu : 0u; }), kind},
        {"bitmap list, no DISP", riff("CDR8", cat({vrsn, cmpr, bitmaps})), dib8Picture(), kind},
    });
    const Bytes good = riff("CDR9", cat({vrsn, disp(DIB8)}));
    expectStatuses("cdr", {
        {"no preview", riff("CDR9", cat({vrsn, disp(DIB8, 7)})), ST_BAD_FILE},
        {"bitmap of nonsense", riff("CDR9", disp(Bytes(60, 0xFF))), ST_BAD_FILE},
        {"cut in its rows", cut(good, 3), ST_READ_ERROR},
        {"clip-art container", riff("CDRX", disp(DIB8)), ST_UNKNOWN_FORMAT},
        {"sound", riff("WAVE", disp(DIB8)), ST_UNKNOWN_FORMAT},
    });
    OwnedImage img;
    FileInfo info{};
    EXPECT_EQ(ST_BAD_FILE, loadBytesAs("cdr", riff("CDR9", vrsn), &img, 0, &info));
    EXPECT_STREQ("CDR : No preview bitmap !", info.message);
}

TEST(CdrReader, ImageMagickBitmapAsPreview) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string ppm = tempPath("cdrsrc.ppm"), bmp = tempPath("cdrsrc.bmp"), back = tempPath("cdrback.ppm");
    ASSERT_TRUE(writeFile(ppm, patternP6(41, 23)));
    for (const char* type : {"-colors 200 -type palette", "-colors 12 -type palette", "-type truecolor"}) {
        SCOPED_TRACE(type);
        ASSERT_EQ(0, run(shell("IMC IN TYPE BMP3:OUT", {{"IMC", IM}, {"IN", ppm}, {"TYPE", type}, {"OUT", bmp}})));
        ASSERT_EQ(0, run(shell("IMC IN -depth 8 OUT", {{"IMC", IM}, {"IN", bmp}, {"OUT", back}})));
        Bytes file;
        ASSERT_TRUE(readFile(bmp, &file));
        Rgb want;
        unsigned maxval;
        ASSERT_TRUE(readPeerPnm(back, &want, &maxval));
        OwnedImage img;
        ASSERT_EQ(ST_OK, loadBytesAs("cdr", riff("CDR9", disp(Bytes(file.begin() + 14, file.end()))), &img));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

TEST(CdrReader, ArchiveThumbnails) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string ppm = tempPath("cdrzip.ppm"), png = tempPath("cdrzip.png"), bmp = tempPath("cdrzip.bmp");
    ASSERT_TRUE(writeFile(ppm, patternP6(37, 19)));
    ASSERT_EQ(0, run(shell("IMC IN PNG && IMC IN -type palette BMP3:TOBMP",
                           {{"IMC", IM}, {"IN", ppm}, {"PNG", png}, {"TOBMP", bmp}})));
    // Archives written by Python's zipfile: the thumbnail deflated or stored.
    auto zip = [](const std::string& member, const std::string& name, bool deflated) {
        static int counter = 0;
        const std::string out = tempPath("drawing" + std::to_string(counter++) + ".cdr");
        run(shell("/usr/bin/python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], 'w', "
                  "zipfile.ZIP_DEFLATED if sys.argv[4] == '1' else zipfile.ZIP_STORED); "
                  "z.writestr('content/riffData.cdr', b'RIFF' * 50); z.write(sys.argv[2], sys.argv[3]); z.close()\" "
                  "OUT MEMBER NAME FLAG",
                  {{"OUT", out}, {"MEMBER", member}, {"NAME", name}, {"FLAG", deflated ? "1" : "0"}}));
        Bytes b;
        readFile(out, &b);
        return b;
    };
    const struct {
        std::string member;
        const char* name;
        bool deflated;
    } cases[] = {
        {png, "previews/thumbnail.png", true},
        {bmp, "metadata/thumbnails/thumbnail.bmp", false},
        {bmp, "metadata/thumbnails/thumbnail.bmp", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string back = tempPath("cdrzipback.ppm");
        ASSERT_EQ(0, run(shell("IMC IN -depth 8 OUT", {{"IMC", IM}, {"IN", c.member}, {"OUT", back}})));
        Rgb want;
        unsigned maxval;
        ASSERT_TRUE(readPeerPnm(back, &want, &maxval));
        OwnedImage img;
        ASSERT_EQ(ST_OK, loadBytesAs("cdr", zip(c.member, c.name, c.deflated), &img));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
    // Other archives are not drawings.
    OwnedImage img;
    EXPECT_EQ(ST_UNKNOWN_FORMAT, loadBytesAs("cdr", zip(png, "images/picture.png", true), &img));
}

// A CorelDRAW 2 file: the preview position at 28, the bitmap structure at P + 2.
Bytes wlFile(char version, int w, int h, int stride, int planes, int bits, const Bytes& rows) {
    Bytes b = {'W', 'L', uint8_t(version)};
    b.resize(28, 0);
    putLE32(&b, 40);
    b.resize(42, 0);
    for (int v : {0, w, h, stride}) putLE16(&b, static_cast<uint32_t>(v));
    b.push_back(uint8_t(planes));
    b.push_back(uint8_t(bits));
    putLE32(&b, 0);
    return cat({b, rows});
}

TEST(CdrReader, CorelDraw2Previews) {
    // 4 planes: per row the plane lines 0..3 (plane 0 least significant).
    const Bytes planar = wlFile('f', 3, 1, 2, 4, 1, {0xA0, 0, 0x60, 0, 0x20, 0, 0, 0});
    // 90 x 90 at 1 bit, 1 white: the last column and row are cut.
    Bytes mono(12 * 90, 0);
    for (int y = 0; y < 90; ++y) mono[12 * y] = 0x80;
    const Bytes mono90 = wlFile('g', 90, 90, 12, 1, 1, mono);
    const char* kind = "CorelDRAW 2 preview";
    expectPictures("cdr", {
        {"4 planes", planar, picture(3, 1, [](int x, int) { return x == 0 ? 0x0000AAu : x == 1 ? 0x00AA00u : 0xAAAAAAu; }), kind},
        {"8 bits", wlFile('f', 3, 1, 4, 1, 8, {1, 249, 7, 0}),
         picture(3, 1, [](int x, int) { return x == 0 ? 0x800000u : x == 1 ? 0xFF0000u : 0xC0C0C0u; }), kind},
        {"32 bits", wlFile('f', 2, 1, 8, 1, 32, {0x30, 0x20, 0x10, 0x99, 0, 0, 0xFF, 0x99}),
         picture(2, 1, [](int x, int) { return x == 0 ? 0x102030u : 0xFF0000u; }), kind},
        {"90 x 90 mono", mono90, picture(89, 89, [](int x, int) { return x == 0 ? 0xFFFFFFu : 0u; }), kind},
    });
    expectStatuses("cdr", {
        {"version without preview", wlFile('e', 3, 1, 2, 4, 1, Bytes(8, 0)), ST_BAD_FILE},
        {"odd row length", wlFile('f', 3, 1, 3, 1, 8, Bytes(3, 0)), ST_BAD_FILE},
        {"3 planes", wlFile('f', 3, 1, 2, 3, 1, Bytes(6, 0)), ST_BAD_FILE},
        {"cut in its rows", cut(mono90, 20), ST_READ_ERROR},
    });
    // Without the name, "WL" counts only with its whole preview there.
    OwnedImage img;
    EXPECT_EQ(ST_OK, loadBytesNamed("cdr", "drawing.bin", planar, &img));
    EXPECT_EQ(ST_UNKNOWN_FORMAT, loadBytesNamed("cdr", "drawing.bin", cut(planar, 1), &img));
}

// ---- ColoRIX --------------------------------------------------------------------

Bytes rixHeader(int w, int h, uint8_t paletteType, uint8_t storage) {
    Bytes b = text("RIX3");
    putLE16(&b, static_cast<uint32_t>(w));
    putLE16(&b, static_cast<uint32_t>(h));
    return cat({b, {paletteType, storage}});
}

// 6-bit palette entries: entry i is (i, 63 - i, 2i) cut to 6 bits.
Bytes rixPalette(int entries) {
    Bytes b;
    for (int i = 0; i < entries; ++i) b.insert(b.end(), {uint8_t(i & 63), uint8_t(63 - (i & 63)), uint8_t(2 * i & 63)});
    return b;
}
uint32_t rixColour(int i) {
    auto s = [](int v) { return uint32_t(v * 255 / 63); };
    return s(i & 63) << 16 | s(63 - (i & 63)) << 8 | s(2 * i & 63);
}

// The compressor: a balanced code tree over the symbols used, escapes for
// runs of 0x00 and 0xFF, the running exclusive or for 8-bit pictures, and
// one segment per group of rows.
class RixEncoder {
public:
    explicit RixEncoder(bool runningXor) : xor_(runningXor) {}

    // Codes the rows of one segment.
    void segment(const Bytes& data) {
        Bytes plain;
        uint8_t last = 0;
        for (uint8_t v : data) {
            plain.push_back(xor_ ? uint8_t(v ^ last) : v);
            last = v;
        }
        std::vector<int> symbols;
        for (size_t i = 0; i < plain.size();) {
            const uint8_t v = plain[i];
            size_t n = 1;
            if (v == 0x00 || v == 0xFF) {
                while (i + n < plain.size() && plain[i + n] == v && n < 256) ++n;
                symbols.insert(symbols.end(), {v, int(n - 1)});
            } else {
                symbols.push_back(v);
            }
            i += n;
        }
        segments_.push_back(symbols);
    }

    Bytes bytes() {
        std::vector<int> used;
        for (const auto& s : segments_)
            for (int v : s)
                if (std::find(used.begin(), used.end(), v) == used.end()) used.push_back(v);
        if (used.size() < 2) used.push_back(used.empty() || used[0] != 1 ? 1 : 2);
        std::vector<uint16_t> items;
        codes_.assign(256, "");
        tree(used, 0, used.size(), "", &items);
        Bytes out;
        putLE16(&out, static_cast<uint32_t>(items.size()));
        for (uint16_t v : items) putLE16(&out, v);
        for (const auto& s : segments_) {
            std::string bits;
            for (int v : s) bits += codes_[v];
            Bytes coded((bits.size() + 7) / 8, 0);
            for (size_t i = 0; i < bits.size(); ++i)
                if (bits[i] == '1') coded[i / 8] |= 0x80 >> (i % 8);
            putLE16(&out, static_cast<uint32_t>(coded.size()));
            out.insert(out.end(), coded.begin(), coded.end());
        }
        putLE16(&out, 0);
        return out;
    }

private:
    // Items of the subtree of symbols [a, b): the first half on the 1 side.
    void tree(const std::vector<int>& s, size_t a, size_t b, const std::string& code, std::vector<uint16_t>* items) {
        if (b - a == 1) {
            items->push_back(uint16_t(0x1000 + s[a]));
            codes_[s[a]] = code;
            return;
        }
        const size_t at = items->size();
        items->push_back(0);
        const size_t m = (a + b) / 2;
        tree(s, a, m, code + "1", items);
        (*items)[at] = uint16_t(2 * (items->size() - at - 1));
        tree(s, m, b, code + "0", items);
    }

    bool xor_;
    std::vector<std::vector<int>> segments_;
    std::vector<std::string> codes_;
};

// Planar rows of 16 colours: the four plane lines of each row from indexes.
Bytes planarRows(int w, int h, const std::function<int(int, int)>& index) {
    const int pb = (w + 7) / 8;
    Bytes b(static_cast<size_t>(4 * pb * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int p = 0; p < 4; ++p)
                if (index(x, y) >> p & 1) b[static_cast<size_t>((4 * y + p) * pb + x / 8)] |= 0x80 >> (x % 8);
    return b;
}

TEST(RixReader, PlainAndCompressed) {
    // 8 bits, 11 x 4: runs of 0 and 255, and bytes that repeat (zeros after the exclusive or).
    auto index8 = [](int x, int y) { return y == 1 ? 0 : y == 2 ? (x < 9 ? 255 : 7) : (x * 23 + y * 5) % 256; };
    Bytes rows8;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 11; ++x) rows8.push_back(uint8_t(index8(x, y)));
    const Rgb want8 = picture(11, 4, [&](int x, int y) { return rixColour(index8(x, y)); });
    RixEncoder enc8(true);
    enc8.segment(Bytes(rows8.begin(), rows8.begin() + 22));
    enc8.segment(Bytes(rows8.begin() + 22, rows8.end()));
    // 16 colours in planes, 13 x 3.
    auto index4 = [](int x, int y) { return (x + 3 * y) % 16; };
    const Bytes rows4 = planarRows(13, 3, index4);
    const Rgb want4 = picture(13, 3, [&](int x, int y) { return rixColour(index4(x, y)); });
    RixEncoder enc4(false);
    enc4.segment(rows4);
    const Bytes extension = {5, 0, 'h', 'e', 'l', 'l', 'o'};

    const Bytes packed8 = cat({rixHeader(11, 4, 0xAF, 0x80), rixPalette(256), enc8.bytes()});
    expectPictures("rix", {
        {"8 bits", cat({rixHeader(11, 4, 0xAF, 0x00), rixPalette(256), rows8}), want8, "ColoRIX"},
        {"16 colours with extension", cat({rixHeader(13, 3, 0xAB, 0x44), extension, rixPalette(16), rows4}), want4,
         "ColoRIX"},
        {"8 bits compressed", packed8, want8, "ColoRIX (compressed)"},
        {"16 colours compressed", cat({rixHeader(13, 3, 0xAB, 0x84), rixPalette(16), enc4.bytes()}), want4,
         "ColoRIX (compressed)"},
    });
    // Cut in the second segment: the first segment's two rows are kept.
    OwnedImage img;
    ASSERT_EQ(ST_READ_ERROR, loadBytesAs("rix", cut(packed8, 4), &img));
    ASSERT_EQ(ST_OK, loadBytesAs("rix", cut(packed8, 4), &img, OPT_ACCEPT_DAMAGED));
    Rgb part = toRgb(img);
    part.height = 2;
    part.pixels.resize(2 * 11 * 3);
    Rgb wantPart = want8;
    wantPart.height = 2;
    wantPart.pixels.resize(part.pixels.size());
    EXPECT_EQ(0, compareRgb(part, wantPart));
}

TEST(RixReader, Refusals) {
    const Bytes plain = cat({rixHeader(11, 4, 0xAF, 0x00), rixPalette(256), Bytes(44, 1)});
    // A tree whose root is a byte would decode without reading any bit.
    const Bytes rootLeaf = {3, 0, 0x41, 0x10, 0x42, 0x10, 0x43, 0x10, 1, 0, 0xFF, 0, 0};
    expectStatuses("rix", {
        {"encrypted", cat({rixHeader(11, 4, 0xAF, 0x20), rixPalette(256), Bytes(44, 1)}), ST_BAD_FILE},
        {"image type 2", cat({rixHeader(11, 4, 0xAF, 0x02), rixPalette(256), Bytes(44, 1)}), ST_BAD_FILE},
        {"root of the tree a byte", cat({rixHeader(11, 4, 0xAF, 0x80), rixPalette(256), rootLeaf}), ST_CORRUPT},
        {"cut in the rows", cut(plain, 5), ST_READ_ERROR},
        {"cut in the palette", cut(plain, 300), ST_READ_ERROR},
        {"15999 x 15999 from 800 bytes", cat({rixHeader(15999, 15999, 0xAF, 0x00), rixPalette(256), Bytes(30, 1)}),
         ST_READ_ERROR},
        {"other palette type", cat({rixHeader(11, 4, 0xAE, 0x00), rixPalette(256), Bytes(44, 1)}), ST_UNKNOWN_FORMAT},
    });
    OwnedImage img;
    FileInfo info{};
    EXPECT_EQ(ST_BAD_FILE, loadBytesAs("rix", cat({rixHeader(11, 4, 0xAF, 0x20), Bytes(800, 0)}), &img, 0, &info));
    EXPECT_STREQ("ColoRIX : Encrypted file !", info.message);
}

TEST(RixReader, OldEgaPictures) {
    // 640 x 350 in four planes, stored 0, 2, 1, 3; EGA colour numbers rgbRGB.
    auto index = [](int x, int y) { return (x / 40 + y / 50) % 16; };
    const Bytes planes = planarRows(640, 350, index);  // row by row; regrouped by plane below
    Bytes byPlane[4];
    for (int p = 0; p < 4; ++p)
        for (int y = 0; y < 350; ++y)
            byPlane[p].insert(byPlane[p].end(), planes.begin() + (4 * y + p) * 80, planes.begin() + (4 * y + p + 1) * 80);
    Bytes colours(16);
    for (int i = 0; i < 16; ++i) colours[i] = uint8_t((i * 5 + 3) & 0x3F);
    auto ega = [&](int i) {
        const int c = colours[i];
        auto comp = [&](int primary, int secondary) { return uint32_t(0xAA * (c >> primary & 1) + 0x55 * (c >> secondary & 1)); };
        return comp(2, 5) << 16 | comp(1, 4) << 8 | comp(0, 3);
    };
    const Rgb want = picture(640, 350, [&](int x, int y) { return ega(index(x, y)); });
    const Bytes plain = cat({colours, byPlane[0], byPlane[2], byPlane[1], byPlane[3]});
    ASSERT_EQ(112016u, plain.size());
    RixEncoder enc(false);
    for (int p : {0, 2, 1, 3}) enc.segment(byPlane[p]);
    Bytes packedColours = colours;
    packedColours[0] |= 0x80;
    const Bytes packed = cat({packedColours, enc.bytes()});
    for (const Bytes* file : {&plain, &packed}) {
        OwnedImage img;
        ASSERT_EQ(ST_OK, loadBytesNamed("rix", "ega.sci", *file, &img));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
        // Without the name there is nothing to go by.
        EXPECT_EQ(ST_UNKNOWN_FORMAT, loadBytesNamed("rix", "ega.bin", *file, &img));
    }
    OwnedImage img;
    EXPECT_EQ(ST_UNKNOWN_FORMAT, loadBytesNamed("rix", "ega.sci", cut(plain, 1), &img));
    EXPECT_EQ(ST_READ_ERROR, loadBytesNamed("rix", "ega.rix", cut(packed, 100), &img));
}

// ---- Acorn sprites --------------------------------------------------------------

struct SpriteSpec {
    uint32_t widthWords, height, firstBit, lastBit, mode;
    Bytes palette;  // colour pairs, 8 bytes an entry
    Bytes pixels;
    Bytes mask;
};

Bytes sprite(const SpriteSpec& s) {
    const uint32_t imageAt = 44 + static_cast<uint32_t>(s.palette.size());
    const uint32_t maskAt = s.mask.empty() ? imageAt : imageAt + static_cast<uint32_t>(s.pixels.size());
    Bytes b;
    putLE32(&b, static_cast<uint32_t>(44 + s.palette.size() + s.pixels.size() + s.mask.size()));
    const Bytes name = {'s', 'p', 'r', 'i', 't', 'e', 0, 0, 0, 0, 0, 0};
    b.insert(b.end(), name.begin(), name.end());
    for (uint32_t v : {s.widthWords - 1, s.height - 1, s.firstBit, s.lastBit, imageAt, maskAt, s.mode}) putLE32(&b, v);
    return cat({b, s.palette, s.pixels, s.mask});
}

Bytes spriteFile(const std::vector<Bytes>& sprites) {
    Bytes body;
    for (const Bytes& s : sprites) body.insert(body.end(), s.begin(), s.end());
    Bytes b;
    for (uint32_t v : {uint32_t(sprites.size()), 16u, uint32_t(12 + body.size() + 4)}) putLE32(&b, v);
    return cat({b, body});
}

Bytes pairs(const std::vector<uint32_t>& rgb) {
    Bytes b;
    for (uint32_t c : rgb)
        for (int k = 0; k < 2; ++k) b.insert(b.end(), {0, uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    return b;
}

uint32_t newMode(uint32_t type, uint32_t dpi) { return 1 | type << 27 | dpi << 14 | dpi << 1; }

TEST(AcornReader, SpritesOfEveryDepth) {
    // Mode 12, 4 bits with 16 colours: 16 pixels a row, 14 shown; pixel x is x.
    std::vector<uint32_t> colours16;
    for (uint32_t i = 0; i < 16; ++i) colours16.push_back(i * 0x0F0A05);
    const Bytes nibbles = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    const SpriteSpec mode12{2, 2, 0, 23, 12, pairs(colours16), cat({nibbles, nibbles}), {}};
    // Mode 28, 8 bits without palette: 3 pixels of the default colours.
    const SpriteSpec mode28{1, 1, 0, 23, 28, {}, {0x00, 0x17, 0xFF, 0x42}, {}};
    // Mode 0, 1 bit, the first 3 bits unused: pixels from bit 3 on, 1 black.
    const SpriteSpec mode0{1, 1, 3, 12, 0, {}, {0x28, 0x01, 0, 0}, {}};
    // Mode 8, 2 bits of greys: 4 pixels.
    const SpriteSpec mode8{1, 1, 0, 7, 8, {}, {0xE4, 0, 0, 0}, {}};
    // 16 bits, red in the low bits: 3 pixels of a row of 2 words.
    const SpriteSpec bits16{2, 1, 0, 15, newMode(5, 90), {}, {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0, 0}, {}};
    // 32 bits R,G,B,x, without and with a 1-bit mask (pixel 1 transparent).
    const Bytes px32 = {0x10, 0x20, 0x30, 0x77, 0xFF, 0x00, 0x80, 0x77};
    const SpriteSpec bits32{2, 1, 0, 31, newMode(6, 180), {}, px32, {}};
    const SpriteSpec bits32Mask{2, 1, 0, 31, newMode(6, 180), {}, px32, {0x01, 0, 0, 0}};
    const SpriteSpec bits32Alpha{2, 1, 0, 31, newMode(6, 180) | 0x80000000u, {}, px32, {0x40, 0xC0, 0, 0}};
    static const uint32_t DESKTOP[4] = {0xFFFFFF, 0xBBBBBB, 0x777777, 0x000000};
    auto tint = [](int k) {
        return uint32_t(17 * ((k & 7) + ((k & 16) >> 1))) << 16 | uint32_t(17 * ((k & 3) + ((k & 96) >> 3))) << 8 |
               uint32_t(17 * ((k & 3) + ((k & 8) >> 1) + ((k & 128) >> 4)));
    };
    auto one = [](const SpriteSpec& s) { return spriteFile({sprite(s)}); };
    const char* kind = "Acorn Sprite";
    expectPictures("acorn", {
        {"mode 12", one(mode12), picture(14, 2, [&](int x, int) { return colours16[x]; }), kind},
        {"mode 28", one(mode28), picture(3, 1, [&](int x, int) { return tint(x == 0 ? 0 : x == 1 ? 0x17 : 0xFF); }), kind},
        {"mode 0", one(mode0), picture(10, 1, [](int x, int) { return x == 0 || x == 2 || x == 5 ? 0u : 0xFFFFFFu; }), kind},
        {"mode 8", one(mode8), picture(4, 1, [](int x, int) { return DESKTOP[x]; }), kind},
        {"16 bits", one(bits16), picture(3, 1, [](int x, int) { return 0xFF0000u >> (8 * x); }), kind},
        {"32 bits", one(bits32), picture(2, 1, [](int x, int) { return x == 0 ? 0x102030u : 0xFF0080u; }), kind},
    });
    // Resolutions: from the screen mode, or from the mode word.
    for (const auto& [s, dpi] : {std::pair{mode12, 90}, std::pair{bits32, 180}}) {
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(ST_OK, loadBytesAs("acorn", one(s), &img, 0, &info));
        EXPECT_EQ(dpi, info.xdpi);
    }
    // Masks of 32-bit sprites become alpha: one bit, or one byte a pixel.
    for (const auto& [s, alpha] : {std::pair{bits32Mask, Bytes{0xFF, 0x00}}, std::pair{bits32Alpha, Bytes{0x40, 0xC0}}}) {
        OwnedImage img;
        ASSERT_EQ(ST_OK, loadBytesAs("acorn", one(s), &img));
        EXPECT_EQ(0, compareRgb(toRgb(img), picture(2, 1, [](int x, int) { return x == 0 ? 0x102030u : 0xFF0080u; })));
        const Rgb a = alphaOf(img);
        ASSERT_EQ(6u, a.pixels.size());
        EXPECT_EQ(alpha, (Bytes{a.pixels[0], a.pixels[3]}));
    }
}

TEST(AcornReader, PagesAndRefusals) {
    const SpriteSpec first{1, 1, 0, 31, 28, {}, {1, 2, 3, 4}, {}};
    const SpriteSpec second{1, 2, 0, 31, newMode(5, 90), {}, {0x1F, 0, 0x1F, 0, 0x00, 0x7C, 0x00, 0x7C}, {}};
    const Bytes two = spriteFile({sprite(first), sprite(second)});
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, loadBytesNamed("acorn", "two", two, &img, &info, 1));
    EXPECT_EQ(2, info.pageCount);
    EXPECT_EQ(0, compareRgb(toRgb(img), picture(2, 2, [](int, int y) { return y == 0 ? 0xFF0000u : 0x0000FFu; })));

    const SpriteSpec huge{3999, 15999, 0, 31, 28, {}, {1, 2, 3, 4}, {}};
    const SpriteSpec cmyk{1, 1, 0, 31, newMode(7, 90), {}, {1, 2, 3, 4}, {}};
    expectStatuses("acorn", {
        {"CMYK", spriteFile({sprite(cmyk)}), ST_BAD_FILE},
        {"text mode second", spriteFile({sprite(first), sprite({1, 1, 0, 31, 3, {}, {1, 2, 3, 4}, {}})}), ST_OK},
        {"cut in the rows", cut(spriteFile({sprite(second)}), 2), ST_READ_ERROR},
        {"15996 x 15999 from 60 bytes", spriteFile({sprite(huge)}), ST_READ_ERROR},
        {"text mode", spriteFile({sprite({1, 1, 0, 31, 3, {}, {1, 2, 3, 4}, {}})}), ST_UNKNOWN_FORMAT},
        {"no sprites", Bytes(64, 0), ST_UNKNOWN_FORMAT},
    });
    Bytes textSecond = spriteFile({sprite(first), sprite({1, 1, 0, 31, 3, {}, {1, 2, 3, 4}, {}})});
    EXPECT_EQ(ST_BAD_FILE, loadBytesNamed("acorn", "text", textSecond, &img, &info, 1));
    EXPECT_STREQ("Acorn : Unsupported mode !", info.message);
}

}  // namespace
