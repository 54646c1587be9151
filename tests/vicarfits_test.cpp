// VICAR and FITS pictures: hand-built files pin down sample types, byte
// orders, interleavings, scaling, orientation and refusals; files written by
// netpbm and ImageMagick, and the corpus of all the Unix workstation and
// scientific formats, decode to the pixels independent readers give.
#include <gtest/gtest.h>

#include <cmath>
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

// ---- VICAR ------------------------------------------------------------------

// A label of the items given after LBLSIZE, padded with spaces to lblsize
// bytes, then the records.
std::vector<uint8_t> buildVicar(const std::string& items, const std::vector<uint8_t>& records, int lblsize = 128) {
    std::string label = "LBLSIZE=" + std::to_string(lblsize) + " " + items;
    label.resize(static_cast<size_t>(lblsize), ' ');
    std::vector<uint8_t> f(label.begin(), label.end());
    f.insert(f.end(), records.begin(), records.end());
    return f;
}

std::vector<uint8_t> cutTo(std::vector<uint8_t> v, size_t n) {
    v.resize(n);
    return v;
}

TEST(VicarReader, HandBuiltImages) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Status status;
        const char* message;
        uint16_t kind;
        std::vector<uint8_t> pixels;  // image bytes, or R,G,B triplets when rgb is set
        bool rgb;
    };
    float half = 0.5f;
    uint32_t h32;
    memcpy(&h32, &half, 4);  // 3F000000
    const std::vector<Case> cases = {
        {"bytes", buildVicar("FORMAT='BYTE' NL=2 NS=2 NB=1", {1, 2, 3, 4}), ST_OK, nullptr, IMG_GREY, {1, 2, 3, 4},
         false},
        {"binary prefixes and header records are skipped",
         buildVicar("FORMAT='BYTE' RECSIZE=4 NL=2 NS=2 NBB=2 NLB=1", {9, 9, 9, 9, 7, 7, 1, 2, 7, 7, 3, 4}), ST_OK,
         nullptr, IMG_GREY, {1, 2, 3, 4}, false},
        {"records longer than the line", buildVicar("RECSIZE=3 NL=2 NS=2", {1, 2, 9, 3, 4, 9}), ST_OK, nullptr,
         IMG_GREY, {1, 2, 3, 4}, false},
        {"N1 and N2 when NS and NL are missing", buildVicar("N1=3 N2=1", {5, 6, 7}), ST_OK, nullptr, IMG_GREY,
         {5, 6, 7}, false},
        {"HALF big-endian spread over the range", buildVicar("FORMAT='HALF' INTFMT='HIGH' NL=1 NS=3",
                                                             {0xFF, 0x9C, 0, 0, 0, 155}),
         ST_OK, nullptr, IMG_GREY, {0, 100, 255}, false},
        {"FULL little-endian by default", buildVicar("FORMAT='FULL' NL=1 NS=2", {0, 0, 0, 0, 0, 1, 0, 0}), ST_OK,
         nullptr, IMG_GREY, {0, 255}, false},
        {"REAL big-endian IEEE", buildVicar("FORMAT='REAL' REALFMT='IEEE' NL=1 NS=3",
                                            {0xBF, 0, 0, 0, 0, 0, 0, 0, 0x3F, 0, 0, 0}),
         ST_OK, nullptr, IMG_GREY, {0, 127, 255}, false},
        {"REAL in VAX form", buildVicar("FORMAT='REAL' NL=1 NS=3", {0x80, 0xC0, 0, 0, 0, 0, 0, 0, 0x80, 0x40, 0, 0}),
         ST_OK, nullptr, IMG_GREY, {0, 127, 255}, false},
        {"DOUB little-endian IEEE", buildVicar("FORMAT='DOUB' REALFMT='RIEEE' NL=1 NS=2",
                                               {0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0}),
         ST_OK, nullptr, IMG_GREY, {255, 0}, false},
        {"three bands BSQ", buildVicar("ORG='BSQ' NL=1 NS=2 NB=3", {1, 2, 3, 4, 5, 6}), ST_OK, nullptr, IMG_RGB,
         {1, 3, 5, 2, 4, 6}, true},
        {"three bands BIL", buildVicar("ORG='BIL' NL=2 NS=1 NB=3", {1, 2, 3, 4, 5, 6}), ST_OK, nullptr, IMG_RGB,
         {1, 2, 3, 4, 5, 6}, true},
        {"three bands BIP with prefixes", buildVicar("ORG='BIP' NL=1 NS=2 NB=3 NBB=1", {9, 1, 2, 3, 4, 5, 6}), ST_OK,
         nullptr, IMG_RGB, {1, 2, 3, 4, 5, 6}, true},
        {"two bands show the first", buildVicar("NL=1 NS=2 NB=2", {1, 2, 3, 4}), ST_OK, nullptr, IMG_GREY, {1, 2},
         false},
        {"items after TASK are history", buildVicar("NL=1 NS=1 TASK='X' NS=5", {8}), ST_OK, nullptr, IMG_GREY, {8},
         false},
        {"records cut", buildVicar("NL=2 NS=2", {1, 2, 3}), ST_READ_ERROR, nullptr, IMG_GREY, {1, 2, 0, 0}, false},
        {"complex samples", buildVicar("FORMAT='COMP' NL=1 NS=1", std::vector<uint8_t>(8)), ST_BAD_FILE,
         "VICAR : Unsupported format !", 0, {}, false},
        {"VAX doubles", buildVicar("FORMAT='DOUB' NL=1 NS=1", std::vector<uint8_t>(8)), ST_BAD_FILE,
         "VICAR : Unsupported format !", 0, {}, false},
        {"organisation XYZ", buildVicar("ORG='XYZ' NL=1 NS=1", {0}), ST_BAD_FILE, "VICAR : Unsupported format !", 0,
         {}, false},
        {"record shorter than the line", buildVicar("RECSIZE=1 NL=1 NS=2", {0, 0}), ST_BAD_FILE,
         "VICAR : Bad label !", 0, {}, false},
        {"16000 samples", buildVicar("NL=1 NS=16000", std::vector<uint8_t>(16000)), ST_BAD_FILE,
         "VICAR : Bad label !", 0, {}, false},
        {"no NS", buildVicar("NL=1", {0}), ST_UNKNOWN_FORMAT, nullptr, 0, {}, false},
        {"label longer than the file", cutTo(buildVicar("NL=1 NS=1", {1}), 100), ST_UNKNOWN_FORMAT, nullptr, 0, {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandResult r;
        loadHand("vicar", c.bytes, c.status, &r, !c.pixels.empty());
        if (c.message) { EXPECT_STREQ(r.info.message, c.message); }
        if (c.pixels.empty()) continue;
        EXPECT_EQ(r.img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(r.img).pixels : pixelsOf(r.img), c.pixels);
    }
}

TEST(VicarReader, ImageMagickFilesDecodeToTheirPixels) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("vicar_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(27, 13)));
    expectPeerMatch("convert-im6.q16 $S -colorspace gray vicar:$O", "convert-im6.q16 vicar:$O -depth 16 pgm:- | pnmtopnm > $R",
                    src, tempPath("peer.vic"), IMG_GREY);
}

// ---- FITS ---------------------------------------------------------------------

// A header of the cards given (keyword, value), END, and the data, each padded
// to whole records unless cut is set (bytes dropped from the end).
std::vector<uint8_t> buildFits(const std::vector<std::pair<const char*, const char*>>& cards,
                               const std::vector<uint8_t>& data, size_t cut = 0) {
    std::string h;
    for (const auto& c : cards) {
        char card[81];
        snprintf(card, sizeof card, "%-8s= %20s%50s", c.first, c.second, "");
        h += card;
    }
    h += std::string("END") + std::string(77, ' ');
    h.resize((h.size() + 2879) / 2880 * 2880, ' ');
    std::vector<uint8_t> f(h.begin(), h.end());
    f.insert(f.end(), data.begin(), data.end());
    f.resize((f.size() + 2879) / 2880 * 2880 - cut, 0);
    return f;
}

std::vector<uint8_t> be16(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int x : v) put16(&out, static_cast<uint32_t>(x));
    return out;
}

std::vector<uint8_t> beFloat(std::initializer_list<float> v) {
    std::vector<uint8_t> out;
    for (float x : v) {
        uint32_t u;
        memcpy(&u, &x, 4);
        put32(&out, u);
    }
    return out;
}

std::vector<uint8_t> beDouble(std::initializer_list<double> v) {
    std::vector<uint8_t> out;
    for (double x : v) {
        uint64_t u;
        memcpy(&u, &x, 8);
        put32(&out, static_cast<uint32_t>(u >> 32));
        put32(&out, static_cast<uint32_t>(u));
    }
    return out;
}

using Cards = std::vector<std::pair<const char*, const char*>>;

Cards fitsCards(const char* bitpix, const char* w, const char* h, Cards more = {}) {
    Cards c = {{"SIMPLE", "T"}, {"BITPIX", bitpix}, {"NAXIS", "2"}, {"NAXIS1", w}, {"NAXIS2", h}};
    c.insert(c.end(), more.begin(), more.end());
    return c;
}

TEST(FitsReader, HandBuiltArrays) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int page;
        Status status;
        const char* message;
        uint16_t kind;
        std::vector<uint8_t> pixels;  // image bytes, or R,G,B triplets when rgb is set
        bool rgb;
        int pages;
    };
    const float nan = std::nanf("");
    const std::vector<Case> cases = {
        {"bytes shown as they are, first row at the bottom", buildFits(fitsCards("8", "2", "2"), {1, 2, 250, 4}), 0,
         ST_OK, nullptr, IMG_GREY, {250, 4, 1, 2}, false, 1},
        {"16-bit unsigned through BZERO spread over the range",
         buildFits(fitsCards("16", "3", "1", {{"BZERO", "32768"}}), be16({-32768, 0, 32767})), 0, ST_OK, nullptr,
         IMG_GREY, {0, 127, 255}, false, 1},
        {"signed 16-bit spread between the extremes", buildFits(fitsCards("16", "3", "1"), be16({-100, 0, 155})), 0,
         ST_OK, nullptr, IMG_GREY, {0, 100, 255}, false, 1},
        {"DATAMIN and DATAMAX clamp", buildFits(fitsCards("16", "4", "1", {{"DATAMIN", "10"}, {"DATAMAX", "265"}}),
                                                be16({0, 10, 100, 1000})),
         0, ST_OK, nullptr, IMG_GREY, {0, 0, 90, 255}, false, 1},
        {"BLANK is black and out of the range",
         buildFits(fitsCards("16", "3", "1", {{"BLANK", "-1"}}), be16({-1, 10, 265})), 0, ST_OK, nullptr, IMG_GREY,
         {0, 0, 255}, false, 1},
        {"BSCALE and BZERO with D exponents",
         buildFits(fitsCards("8", "3", "1", {{"BSCALE", "-1.0D+00"}, {"BZERO", "2.55D2"}}), {0, 51, 255}), 0, ST_OK,
         nullptr, IMG_GREY, {255, 204, 0}, false, 1},
        {"32-bit integers", buildFits(fitsCards("32", "2", "1"), {0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}), 0, ST_OK,
         nullptr, IMG_GREY, {0, 255}, false, 1},
        {"64-bit integers", buildFits(fitsCards("64", "3", "1"), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0,
                                                                  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}),
         0, ST_OK, nullptr, IMG_GREY, {0, 127, 255}, false, 1},
        {"floats, NaN black", buildFits(fitsCards("-32", "4", "1"), beFloat({nan, -0.5f, 0.0f, 0.5f})), 0, ST_OK,
         nullptr, IMG_GREY, {0, 0, 127, 255}, false, 1},
        {"doubles", buildFits(fitsCards("-64", "2", "1"), beDouble({1e300, -1e300})), 0, ST_OK, nullptr, IMG_GREY,
         {255, 0}, false, 1},
        {"one value everywhere", buildFits(fitsCards("16", "2", "1"), be16({7, 7})), 0, ST_OK, nullptr, IMG_GREY,
         {255, 255}, false, 1},
        {"three planes are red, green, blue",
         buildFits({{"SIMPLE", "T"}, {"BITPIX", "8"}, {"NAXIS", "3"}, {"NAXIS1", "2"}, {"NAXIS2", "1"}, {"NAXIS3", "3"}},
                   {1, 2, 3, 4, 5, 6}),
         0, ST_OK, nullptr, IMG_RGB, {1, 3, 5, 2, 4, 6}, true, 1},
        {"two planes are pages",
         buildFits({{"SIMPLE", "T"}, {"BITPIX", "8"}, {"NAXIS", "3"}, {"NAXIS1", "2"}, {"NAXIS2", "1"}, {"NAXIS3", "2"}},
                   {1, 2, 3, 4}),
         1, ST_OK, nullptr, IMG_GREY, {3, 4}, false, 2},
        {"data cut keeps the bottom rows", buildFits(fitsCards("8", "2", "2"), {1, 2}, 2878), 0, ST_READ_ERROR, nullptr,
         IMG_GREY, {0, 0, 1, 2}, false, 1},
        {"empty primary array, a table, then the picture",
         joined(joined(buildFits({{"SIMPLE", "T"}, {"BITPIX", "8"}, {"NAXIS", "0"}, {"EXTEND", "T"}}, {}),
                       buildFits({{"XTENSION", "'BINTABLE'"}, {"BITPIX", "8"}, {"NAXIS", "2"}, {"NAXIS1", "3"},
                                  {"NAXIS2", "1"}, {"PCOUNT", "2"}, {"GCOUNT", "1"}},
                                 {9, 9, 9, 9, 9})),
                buildFits({{"XTENSION", "'IMAGE   '"}, {"BITPIX", "16"}, {"NAXIS", "2"}, {"NAXIS1", "2"},
                           {"NAXIS2", "1"}, {"PCOUNT", "0"}, {"GCOUNT", "1"}},
                          be16({1, 3}))),
         0, ST_OK, nullptr, IMG_GREY, {0, 255}, false, 1},
        {"empty primary array and nothing after",
         buildFits({{"SIMPLE", "T"}, {"BITPIX", "8"}, {"NAXIS", "0"}, {"EXTEND", "T"}}, {}), 0, ST_BAD_FILE,
         "FITS : No image in file !", 0, {}, false, 0},
        {"SIMPLE = F", buildFits({{"SIMPLE", "F"}, {"BITPIX", "8"}, {"NAXIS", "2"}}, {}), 0, ST_UNKNOWN_FORMAT, nullptr,
         0, {}, false, 0},
        {"BITPIX -16", buildFits(fitsCards("-16", "1", "1"), {0, 0}), 0, ST_UNKNOWN_FORMAT, nullptr, 0, {}, false, 0},
        {"NAXIS 1", buildFits({{"SIMPLE", "T"}, {"BITPIX", "8"}, {"NAXIS", "1"}, {"NAXIS1", "5"}}, {}), 0,
         ST_UNKNOWN_FORMAT, nullptr, 0, {}, false, 0},
        {"BITPIX changed further down", buildFits(fitsCards("8", "1", "1", {{"BITPIX", "12"}}), {0}), 0, ST_BAD_FILE,
         "FITS : Unsupported BITPIX !", 0, {}, false, 0},
        {"empty axis", buildFits(fitsCards("8", "0", "1"), {}), 0, ST_BAD_FILE, "FITS : No image in file !", 0, {},
         false, 0},
        {"header without END cut", buildFits(fitsCards("8", "1", "1", Cards(40, {"COMMENT", "1"})), {1}, 5760), 0,
         ST_READ_ERROR, nullptr, 0, {}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath(std::string("hand_fits_") + std::to_string(&c - cases.data()) + ".fits");
        ASSERT_TRUE(writeFile(path, c.bytes));
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(findFormat("fits"));
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
        EXPECT_EQ(info.pageCount, c.pages);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

TEST(FitsReader, PeerFilesDecodeToTheirPixels) {
    if (!haveProgram(IM) || !haveProgram("pnmtofits") || !haveProgram("fitstopnm")) GTEST_SKIP() << "peers missing";
    const std::string src = tempPath("fits_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(31, 17)));
    Rgb source;
    ASSERT_TRUE(readPeerPnm(src, &source, nullptr));
    struct Case {
        const char* name;
        const char* make;
        bool bottomFirst;  // ImageMagick stores the bottom row first, netpbm the top row
        uint16_t kind;
    };
    // ImageMagick cannot serve as the reference: it reads the first plane of a
    // colour array as grey. Its floats carry a BZERO of 2^31 that flattens
    // them, so only its doubles (whose DATAMAX below DATAMIN is ignored) are
    // here, checked against the picture they were made from.
    const std::vector<Case> cases = {
        {"netpbm bytes", "ppmtopgm $S | pnmtofits > $O", false, IMG_GREY},
        {"netpbm colour", "pnmtofits $S > $O", false, IMG_RGB},
        {"netpbm 16-bit grey", "ppmtopgm $S | pnmdepth 1000 | pnmtofits > $O", false, IMG_GREY},
        {"ImageMagick 16-bit colour", "convert-im6.q16 $S -depth 16 fits:$O", true, IMG_RGB},
        {"ImageMagick 8-bit grey", "convert-im6.q16 $S -colorspace gray -depth 8 fits:$O", true, IMG_GREY},
        {"ImageMagick doubles", "convert-im6.q16 $S -define quantum:format=floating-point -depth 64 fits:$O", true,
         IMG_RGB},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("peer" + std::to_string(n++) + ".fits");
        const std::string ref = out + ".pnm";
        const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}, {"$R", ref}};
        ASSERT_EQ(run(shell(c.make, names)), 0);
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        if (c.bottomFirst && c.kind == IMG_RGB) { EXPECT_EQ(compareRgb(toRgb(img), source, 1), 0); }
        // netpbm's reader shows the rows in stored order.
        if (std::string(c.name) == "ImageMagick doubles") continue;
        ASSERT_EQ(run(shell("fitstopnm $O | pnmtopnm > $R", names)), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), upsideDown(expected), 1), 0);
    }
}

// ---- the corpus ---------------------------------------------------------------

TEST(UnixSciReaders, CorpusFiles) {
    struct File {
        const char* path;
        const char* decode;  // $O the file, $R the peer's PNM
        uint16_t kind;
        bool flip = false;  // the peer shows the rows the other way up
        int tolerance = 0;  // scaled 16-bit values against our high bytes
    };
    const char* im = "convert-im6.q16 $O -depth 16 ppm:- | pnmtopnm > $R";  // without its comment line
    const char* fits = "fitstopnm $O 2>/dev/null | pnmtopnm > $R";
    const std::vector<File> files = {
        {"xwd/input.xwd", im, IMG_RGB},
        {"xwd/brain.xwd", "xwdtopnm $O 2>/dev/null | pnmtopnm > $R", IMG_PALETTE, false, 1},
        {"avs/input.avs", "convert-im6.q16 avs:$O -alpha off -depth 16 ppm:$R", IMG_RGB32},
        {"cmu/input_p4.cmu", "cmuwmtopbm $O > $R", IMG_BINARY},
        {"viff/input.viff", im, IMG_PALETTE},
        {"vicar/input_gray.vic", im, IMG_GREY},
        // Its label: a 2000-byte label, two binary header records of 1000 bytes
        // and a 200-byte binary prefix in every record, which ImageMagick shows
        // as pixels; netpbm reads the lines at the offsets the label gives.
        {"vicar/C0003061900R.vic",
         "(cat $O; head -c 200 /dev/zero) | rawtopgm -headerskip 4200 -rowskip 200 800 800 > $R", IMG_GREY},
        {"fits/hopper.fits", fits, IMG_GREY, true, 1},
        {"fits/input.fits", fits, IMG_GREY, true, 1},
        {"fits/m13.fits", fits, IMG_GREY, true, 1},
    };
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/";
    std::vector<uint8_t> probe;
    if (!readFile(dir + files[0].path, &probe)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM) || !haveProgram("xwdtopnm") || !haveProgram("cmuwmtopbm") || !haveProgram("fitstopnm") ||
        !haveProgram("rawtopgm"))
        GTEST_SKIP() << "peers missing";
    for (const File& f : files) {
        SCOPED_TRACE(f.path);
        const std::string path = dir + f.path;
        const std::string ref = tempPath(std::string("corpus_") + std::to_string(&f - files.data()) + ".pnm");
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        if (f.kind) { EXPECT_EQ(img.kind, f.kind); }
        ASSERT_EQ(run(shell(f.decode, {{"$O", path}, {"$R", ref}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), f.flip ? upsideDown(expected) : expected, f.tolerance), 0);
    }
}

}  // namespace
