// ZSoft Paintbrush and DCX: hand-built files pin down run-length decoding,
// plane layouts, palettes and header checks; files from ImageMagick, netpbm
// and GraphicsMagick decode as those programs decode them; our files decode
// the same in the peers, and round-trip through our reader.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
const char MSG_BAD_SIZE[] = "Pcx : Bad picture's size !";
const char MSG_BAD_LINE[] = "Pcx : Bad bytes per line !";

int pcxIndex() {
    static int index = findFormat("pcx");
    return index;
}
int dcxIndex() {
    static int index = findFormat("dcx");
    return index;
}

using Bytes = std::vector<uint8_t>;

const auto put16 = putLE16;
const auto put32 = putLE32;
uint16_t get16(const Bytes& v, size_t at) { return static_cast<uint16_t>(v[at] | v[at + 1] << 8); }

struct PcxFields {
    uint8_t manufacturer = 10;
    uint8_t version = 5;
    uint8_t encoding = 1;
    uint8_t bits = 8;
    uint16_t xmin = 0, ymin = 0, xmax = 3, ymax = 0;
    uint16_t dpi = 0;
    Bytes map;            // header colour map (48 bytes at most)
    uint8_t planes = 1;
    uint16_t bytesPerLine = 4;
    Bytes data;           // after the header, palette included
};

Bytes buildPcx(const PcxFields& s) {
    Bytes f = {s.manufacturer, s.version, s.encoding, s.bits};
    for (uint16_t v : {s.xmin, s.ymin, s.xmax, s.ymax, s.dpi, s.dpi}) put16(&f, v);
    Bytes map = s.map;
    map.resize(48, 0);
    f.insert(f.end(), map.begin(), map.end());
    f.push_back(0);
    f.push_back(s.planes);
    put16(&f, s.bytesPerLine);
    put16(&f, 1);
    f.resize(128, 0);
    f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

// A 256-colour palette after the marker, entry i = (i, 255 - i, i ^ 0x55).
Bytes trailingPalette() {
    Bytes p = {0x0C};
    for (int i = 0; i < 256; ++i) p.insert(p.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i ^ 0x55)});
    return p;
}

Status loadBytes(const Bytes& bytes, Image* img, int index = -2, uint16_t flags = 0, FileInfo* info = nullptr,
                 int page = 0) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".pcx");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    freeImage(img);  // loading clears the record: a picture from an earlier load goes first
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(index == -2 ? pcxIndex() : index);
    o.flags = flags;
    o.pageIndex = page;
    return loadImage(path.c_str(), img, &o, info);
}

Bytes rawRow(const Image& img, int y) {
    const uint8_t* r = img.pixels + static_cast<size_t>(y) * img.stride;
    return Bytes(r, r + static_cast<size_t>(img.width) * img.bytesPerPixel);
}

// The R,G,B of palette entry i.
Bytes paletteEntry(const Image& img, int i) {
    return {img.palette[i], img.palette[256 + i], img.palette[512 + i]};
}

// ---- run-length and plain rows ---------------------------------------------------

struct RowCase {
    const char* name;
    uint8_t encoding;
    uint16_t width, height, bytesPerLine;
    Bytes data;
    Status status;
    std::vector<Bytes> rows;  // grey values, top row first
};

TEST(PcxReader, RowDecoding) {
    const std::vector<RowCase> cases = {
        {"literals and runs", 1, 5, 1, 6, {1, 0xC3, 9, 0xC1, 0xC7, 4}, ST_OK, {{1, 9, 9, 9, 0xC7}}},
        {"a count of 0 places nothing", 1, 3, 1, 4, {0xC0, 5, 1, 2, 3, 4}, ST_OK, {{1, 2, 3}}},
        {"a run crossing the row end goes on in the next row", 1, 4, 2, 4, {0xC6, 7, 1, 2}, ST_OK,
         {{7, 7, 7, 7}, {7, 7, 1, 2}}},
        {"padding bytes of each line are not pixels", 1, 3, 2, 4, {1, 2, 3, 0x2E, 4, 5, 6, 0xC1, 0xEE}, ST_OK,
         {{1, 2, 3}, {4, 5, 6}}},
        {"a run of 63", 1, 63, 1, 64, {0xFF, 3, 0}, ST_OK, {Bytes(63, 3)}},
        {"file ends inside a row", 1, 4, 3, 4, {0xC4, 6, 8, 9}, ST_READ_ERROR, {{6, 6, 6, 6}, {8, 9, 0, 0}, {0, 0, 0, 0}}},
        {"file ends between a count and its byte", 1, 4, 1, 4, {5, 0xC3}, ST_READ_ERROR, {{5, 0, 0, 0}}},
        {"uncompressed rows", 0, 3, 2, 4, {0xC1, 2, 3, 0, 4, 0xFF, 6, 0}, ST_OK, {{0xC1, 2, 3}, {4, 0xFF, 6}}},
        {"uncompressed, file ends inside a row: whole rows kept", 0, 3, 3, 4, {1, 2, 3, 0, 4, 5}, ST_READ_ERROR,
         {{1, 2, 3}, {0, 0, 0}, {0, 0, 0}}},
    };
    for (const RowCase& c : cases) {
        SCOPED_TRACE(c.name);
        PcxFields s;
        s.encoding = c.encoding;
        s.xmax = static_cast<uint16_t>(c.width - 1);
        s.ymax = static_cast<uint16_t>(c.height - 1);
        s.bytesPerLine = c.bytesPerLine;
        s.data = c.data;
        Bytes file = buildPcx(s);
        OwnedImage img;
        ASSERT_EQ(loadBytes(file, &img), c.status);
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            ASSERT_EQ(loadBytes(file, &img, -2, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        ASSERT_EQ(img.kind, IMG_GREY);  // 8 bits without a palette
        for (int y = 0; y < c.height; ++y) EXPECT_EQ(rawRow(img, y), c.rows[y]) << "row " << y;
    }
}

// ---- plane layouts ---------------------------------------------------------------

struct LayoutCase {
    const char* name;
    uint8_t planes, bits;
    uint16_t width, bytesPerLine;
    Bytes row;          // one uncompressed file row
    uint16_t kind;
    Bytes pixels;       // the image's row
};

TEST(PcxReader, PlaneLayouts) {
    const std::vector<LayoutCase> cases = {
        {"1 bit, 1 is white", 1, 1, 10, 2, {0xA5, 0xC0}, IMG_BINARY, {1, 0, 1, 0, 0, 1, 0, 1, 1, 1}},
        {"2 planes of 1 bit: plane k is bit k", 2, 1, 4, 1, {0xA0, 0x60}, IMG_PALETTE, {1, 2, 3, 0}},
        {"4 planes of 1 bit", 4, 1, 3, 2, {0x80, 0, 0x40, 0, 0x20, 0, 0xE0, 0}, IMG_PALETTE, {9, 10, 12}},
        {"3 planes of 8 bits are R, G, B lines", 3, 8, 2, 2, {10, 11, 20, 21, 30, 31}, IMG_RGB,
         {10, 20, 30, 11, 21, 31}},
        {"odd line length of 24-bit rows", 3, 8, 2, 3, {10, 11, 0, 20, 21, 0, 30, 31, 0}, IMG_RGB,
         {10, 20, 30, 11, 21, 31}},
        {"4 planes of 8 bits carry alpha", 4, 8, 1, 1, {10, 20, 30, 40}, IMG_RGB32, {10, 20, 30, 40}},
        {"16-bit pixels are 5-5-5 words", 1, 16, 2, 4, {0x00, 0x7C, 0x1F, 0x00}, IMG_RGB, {255, 0, 0, 0, 0, 255}},
        {"15-bit pixels", 1, 15, 1, 2, {0xE0, 0x03}, IMG_RGB, {0, 255, 0}},
        {"2-bit CGA pixels", 1, 2, 4, 2, {0x1B, 0}, IMG_PALETTE, {0, 1, 2, 3}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        PcxFields s;
        s.encoding = 0;
        s.planes = c.planes;
        s.bits = c.bits;
        s.xmax = static_cast<uint16_t>(c.width - 1);
        s.bytesPerLine = c.bytesPerLine;
        s.data = c.row;
        s.map = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};  // distinct colours, no black and white pair
        OwnedImage img;
        ASSERT_EQ(loadBytes(buildPcx(s), &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(rawRow(img, 0), c.pixels);
    }
}

// ---- palettes --------------------------------------------------------------------

TEST(PcxReader, SixteenColoursUseTheHeaderMapOrTheDefaultOne) {
    // 640 x 480, 4 planes of 1 bit, 80 bytes a line; every pixel of row y has index y % 16.
    PcxFields s;
    s.planes = 4;
    s.bits = 1;
    s.xmax = 639;
    s.ymax = 479;
    s.bytesPerLine = 80;
    for (int i = 0; i < 16; ++i) s.map.insert(s.map.end(), {uint8_t(i * 16), uint8_t(i), uint8_t(255 - i)});
    for (int y = 0; y < 480; ++y)
        for (int p = 0; p < 4; ++p) {
            uint8_t v = (y % 16) >> p & 1 ? 0xFF : 0x00;
            s.data.insert(s.data.end(), {uint8_t(0xC0 | 63), v, uint8_t(0xC0 | 17), v});
        }
    OwnedImage img;
    ASSERT_EQ(loadBytes(buildPcx(s), &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_PALETTE);
    ASSERT_EQ(img.width, 640);
    ASSERT_EQ(img.height, 480);
    for (int y : {0, 5, 15, 479}) {
        EXPECT_EQ(rawRow(img, y), Bytes(640, uint8_t(y % 16))) << y;
    }
    EXPECT_EQ(paletteEntry(img, 5), (Bytes{80, 5, 250}));
    EXPECT_EQ(paletteEntry(img, 15), (Bytes{240, 15, 240}));

    // Version 3: the header's map is ignored for the EGA colours.
    s.version = 3;
    ASSERT_EQ(loadBytes(buildPcx(s), &img), ST_OK);
    EXPECT_EQ(paletteEntry(img, 0), (Bytes{0, 0, 0}));
    EXPECT_EQ(paletteEntry(img, 1), (Bytes{0, 0, 0xAA}));
    EXPECT_EQ(paletteEntry(img, 6), (Bytes{0xAA, 0x55, 0}));
    EXPECT_EQ(paletteEntry(img, 9), (Bytes{0x55, 0x55, 0xFF}));
    EXPECT_EQ(paletteEntry(img, 15), (Bytes{0xFF, 0xFF, 0xFF}));
}

TEST(PcxReader, TrailingPalette) {
    PcxFields s;
    s.data = {0, 7, 0xC1, 200, 0xC1, 255};
    Bytes pal = trailingPalette();
    // Bytes between the rows and the marker are skipped.
    s.data.insert(s.data.end(), {0x11, 0x22});
    s.data.insert(s.data.end(), pal.begin(), pal.end());
    OwnedImage img;
    ASSERT_EQ(loadBytes(buildPcx(s), &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_PALETTE);
    EXPECT_EQ(rawRow(img, 0), (Bytes{0, 7, 200, 255}));
    EXPECT_EQ(paletteEntry(img, 7), (Bytes{7, 248, 7 ^ 0x55}));
    EXPECT_EQ(paletteEntry(img, 255), (Bytes{255, 0, 255 ^ 0x55}));

    // Cut inside the palette: the part read is kept, the load reports the damage.
    Bytes cut = buildPcx(s);
    cut.resize(cut.size() - 700);
    ASSERT_EQ(loadBytes(cut, &img), ST_READ_ERROR);
    ASSERT_EQ(loadBytes(cut, &img, -2, OPT_ACCEPT_DAMAGED), ST_OK);
    ASSERT_EQ(img.kind, IMG_PALETTE);
    EXPECT_EQ(paletteEntry(img, 7), (Bytes{7, 248, 7 ^ 0x55}));
    EXPECT_EQ(paletteEntry(img, 200), (Bytes{0, 0, 0}));

    // No marker: 8 bits are grey, 24 bits need none.
    s.data = {0, 7, 0xC1, 200, 0xC1, 255};
    ASSERT_EQ(loadBytes(buildPcx(s), &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_GREY);
    PcxFields rgb;
    rgb.planes = 3;
    rgb.xmax = 1;
    rgb.bytesPerLine = 2;
    rgb.data = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(loadBytes(buildPcx(rgb), &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_RGB);
    EXPECT_EQ(rawRow(img, 0), (Bytes{1, 3, 5, 2, 4, 6}));
}

// ---- header checks -----------------------------------------------------------------

struct HeaderCase {
    const char* name;
    void (*mutate)(PcxFields*);
    Status status;
    const char* message;
};

TEST(PcxReader, HeaderChecks) {
    const std::vector<HeaderCase> cases = {
        {"manufacturer 11", [](PcxFields* s) { s->manufacturer = 11; }, ST_UNKNOWN_FORMAT, ""},
        {"xmax below xmin", [](PcxFields* s) { s->xmin = 5, s->xmax = 3; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"ymax below ymin", [](PcxFields* s) { s->ymin = 1; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"width 16000", [](PcxFields* s) { s->xmax = 15999, s->bytesPerLine = 16000; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"height 16000", [](PcxFields* s) { s->ymin = 2, s->ymax = 16001; }, ST_BAD_FILE, MSG_BAD_SIZE},
        {"width 15999 accepted", [](PcxFields* s) { s->xmin = 1, s->xmax = 15999, s->bytesPerLine = 15999; }, ST_OK,
         ""},
        {"line shorter than the width", [](PcxFields* s) { s->bytesPerLine = 3; }, ST_BAD_FILE, MSG_BAD_LINE},
        {"4-plane line shorter than the width", [](PcxFields* s) { s->planes = 4, s->bits = 1, s->xmax = 16, s->bytesPerLine = 2; },
         ST_BAD_FILE, MSG_BAD_LINE},
        {"no planes", [](PcxFields* s) { s->planes = 0; }, ST_UNKNOWN_FORMAT, ""},
        {"two planes of 8 bits", [](PcxFields* s) { s->planes = 2; }, ST_UNKNOWN_FORMAT, ""},
        {"3 bits per plane", [](PcxFields* s) { s->bits = 3; }, ST_UNKNOWN_FORMAT, ""},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        PcxFields s;
        s.data = {1, 2, 3, 4};
        c.mutate(&s);
        std::string path = tempPath("mutated.pcx");
        ASSERT_TRUE(writeFile(path, buildPcx(s)));
        FileInfo info{};
        EXPECT_EQ(readImageInfo(path.c_str(), pcxIndex(), 0, &info), c.status);
        EXPECT_STREQ(info.message, c.message);
    }
    // A header cut short is not a PCX file.
    Bytes cut = buildPcx(PcxFields());
    cut.resize(100);
    OwnedImage img;
    EXPECT_EQ(loadBytes(cut, &img), ST_UNKNOWN_FORMAT);
}

TEST(PcxReader, InformationAndName) {
    PcxFields s;
    s.xmin = 10;
    s.xmax = 13;
    s.ymin = 20;
    s.ymax = 22;
    s.dpi = 150;
    s.encoding = 0;
    s.data.assign(12, 1);
    std::string path = tempPath("info.pcx");
    ASSERT_TRUE(writeFile(path, buildPcx(s)));
    FileInfo info{};
    ASSERT_EQ(readImageInfo(path.c_str(), -1, 0, &info), ST_OK);
    EXPECT_EQ(info.formatIndex, pcxIndex());
    EXPECT_STREQ(info.formatName, "Zsoft Paintbrush");
    EXPECT_EQ(info.width, 4);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.xdpi, 150);
    EXPECT_EQ(info.bytesPerPlane, 4);
    s.encoding = 1;
    ASSERT_TRUE(writeFile(path, buildPcx(s)));
    ASSERT_EQ(readImageInfo(path.c_str(), -1, 0, &info), ST_OK);
    EXPECT_STREQ(info.formatName, "Zsoft Paintbrush (RLE)");
}

int stopAfterTwo(int32_t row, int32_t, void*) { return row >= 1; }

TEST(PcxReader, ProgressCallbackStops) {
    for (uint8_t encoding : {0, 1}) {
        SCOPED_TRACE(encoding);
        PcxFields s;
        s.encoding = encoding;
        s.ymax = 4;
        s.data.assign(20, 1);
        std::string path = tempPath("stop.pcx");
        ASSERT_TRUE(writeFile(path, buildPcx(s)));
        IoOptions o = defaultIoOptions();
        o.progressCallback = stopAfterTwo;
        OwnedImage img;
        EXPECT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_STOPPED);
        EXPECT_EQ(img.pixels, nullptr);
    }
}

// ---- DCX -----------------------------------------------------------------------------

// A DCX file of pages, each a PCX file; extra offsets may be appended to the table.
Bytes buildDcx(const std::vector<Bytes>& pages, const std::vector<uint32_t>& extra = {}) {
    Bytes f;
    put32(&f, 987654321u);
    uint32_t offset = static_cast<uint32_t>(4 + 4 * (pages.size() + extra.size() + 1));
    for (const Bytes& p : pages) {
        put32(&f, offset);
        offset += static_cast<uint32_t>(p.size());
    }
    for (uint32_t e : extra) put32(&f, e);
    put32(&f, 0);
    for (const Bytes& p : pages) f.insert(f.end(), p.begin(), p.end());
    return f;
}

Bytes onePage(uint8_t value, uint16_t width) {
    PcxFields s;
    s.xmax = static_cast<uint16_t>(width - 1);
    s.bytesPerLine = width;
    s.data = {uint8_t(0xC0 | width), value};
    return buildPcx(s);
}

TEST(DcxReader, PagesAndCount) {
    Bytes file = buildDcx({onePage(10, 3), onePage(20, 4), onePage(30, 5)});
    for (int page = 0; page < 4; ++page) {
        SCOPED_TRACE(page);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytes(file, &img, dcxIndex(), 0, &info, page), ST_OK);
        EXPECT_EQ(info.pageCount, 3);
        int shown = page < 3 ? page : 0;  // a page past the last gives the first
        EXPECT_EQ(rawRow(img, 0), Bytes(3 + shown, uint8_t(10 * (shown + 1))));
    }
    // By its extension, through the registry.
    std::string path = tempPath("three.dcx");
    ASSERT_TRUE(writeFile(path, file));
    FileInfo info{};
    ASSERT_EQ(readImageInfo(path.c_str(), -1, 0, &info), ST_OK);
    EXPECT_EQ(info.formatIndex, dcxIndex());
    EXPECT_EQ(info.pageCount, 3);
}

TEST(DcxReader, Refusals) {
    struct Case {
        const char* name;
        Bytes file;
    };
    Bytes page = onePage(1, 2);
    Bytes badMagic = buildDcx({page});
    badMagic[0] ^= 1;
    Bytes beyond = buildDcx({page}, {100000});
    Bytes negative = buildDcx({page}, {0x80000000u});
    Bytes noEnd;
    put32(&noEnd, 987654321u);
    put32(&noEnd, 8);
    Bytes empty;
    put32(&empty, 987654321u);
    put32(&empty, 0);
    Bytes notPcx = buildDcx({Bytes(200, 0x55)});
    const std::vector<Case> cases = {
        {"wrong magic", badMagic},       {"offset beyond the file", beyond}, {"negative offset", negative},
        {"table without its end", noEnd}, {"no page", empty},                 {"page that is not PCX", notPcx},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = tempPath("bad.dcx");
        ASSERT_TRUE(writeFile(path, c.file));
        FileInfo info{};
        EXPECT_EQ(readImageInfo(path.c_str(), dcxIndex(), 0, &info), ST_UNKNOWN_FORMAT);
        EXPECT_EQ(info.pageCount, 1);  // a refusal leaves the count as it was
    }
}

TEST(DcxReader, PaletteSearchStopsAtTheNextPage) {
    // A 1-bit page followed by an 8-bit page whose palette marker comes later:
    // the first page must not take the second one's bytes for its palette.
    PcxFields mono;
    mono.encoding = 0;
    mono.bits = 1;
    mono.xmax = 7;
    mono.bytesPerLine = 2;
    mono.data = {0xF0, 0};
    PcxFields grey;
    Bytes pal = trailingPalette();
    grey.data = {1, 2, 3, 4};
    grey.data.insert(grey.data.end(), pal.begin(), pal.end());
    Bytes file = buildDcx({buildPcx(mono), buildPcx(grey)});
    OwnedImage img;
    ASSERT_EQ(loadBytes(file, &img, dcxIndex()), ST_OK);
    EXPECT_EQ(img.kind, IMG_BINARY);
    EXPECT_EQ(rawRow(img, 0), (Bytes{1, 1, 1, 1, 0, 0, 0, 0}));
    ASSERT_EQ(loadBytes(file, &img, dcxIndex(), 0, nullptr, 1), ST_OK);
    EXPECT_EQ(img.kind, IMG_PALETTE);
    EXPECT_EQ(paletteEntry(img, 3), (Bytes{3, 252, 3 ^ 0x55}));
}

// ---- writer --------------------------------------------------------------------------

Status savePcx(Image* img, const std::string& path, int rle) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(pcxIndex());
    o.writerOption1 = static_cast<int16_t>(rle);
    std::vector<char> name(path.begin(), path.end());
    name.resize(FILE_NAME_LEN, '\0');
    return saveImage(name.data(), img, &o);
}

TEST(PcxWriter, RunLengthCoding) {
    // One grey row: 64 equal bytes, a lone 0xC5, a lone 7, then two 0xC5.
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_GREY, 1, 68, 1));
    img.colours = 256;
    uint8_t* p = img.pixels;
    memset(p, 9, 64);
    p[64] = 0xC5;
    p[65] = 7;
    p[66] = p[67] = 0xC5;
    std::string path = tempPath("runs.pcx");
    ASSERT_EQ(savePcx(&img, path, 1), ST_OK);
    Bytes file;
    ASSERT_TRUE(readFile(path, &file));
    // 63 + a lone 9 as itself; a lone 0xC5 needs a count of 1.
    const Bytes coded = {0xFF, 9, 9, 0xC1, 0xC5, 7, 0xC2, 0xC5};
    ASSERT_EQ(file.size(), 128 + coded.size() + 769);
    EXPECT_EQ(file[2], 1);
    EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 128 + coded.size()), coded);
    const size_t marker = 128 + coded.size();
    EXPECT_EQ(file[marker], 0x0C);
    EXPECT_EQ(Bytes(file.end() - 3, file.end()), (Bytes{255, 255, 255}));  // the grey ramp's last entry
    EXPECT_EQ(Bytes(file.begin() + marker + 1 + 3 * 128, file.begin() + marker + 4 + 3 * 128), (Bytes{128, 128, 128}));

    // Uncompressed: the row as it is.
    ASSERT_EQ(savePcx(&img, path, 0), ST_OK);
    ASSERT_TRUE(readFile(path, &file));
    EXPECT_EQ(file[2], 0);
    EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 196), Bytes(p, p + 68));
}

TEST(PcxWriter, RunsDoNotCrossRows) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 1, 2, 2));
    memset(img.pixels, 4, static_cast<size_t>(img.stride) * 2);
    std::string path = tempPath("rows.pcx");
    ASSERT_EQ(savePcx(&img, path, 1), ST_OK);
    Bytes file;
    ASSERT_TRUE(readFile(path, &file));
    // Each row of 3 planes x 2 bytes is one run of 6, within the row.
    EXPECT_EQ(Bytes(file.begin() + 128, file.end()), (Bytes{0xC6, 4, 0xC6, 4}));
}

struct HeaderWriteCase {
    const char* name;
    uint16_t kind;
    int colours;
    int width;
    uint8_t planes, bits;
    uint16_t bytesPerLine;
    bool trailing;
};

TEST(PcxWriter, RasterChoice) {
    const std::vector<HeaderWriteCase> cases = {
        {"black and white of width 17", IMG_BINARY, 2, 17, 1, 1, 4, false},
        {"black and white of width 16", IMG_BINARY, 2, 16, 1, 1, 2, false},
        {"16 colours", IMG_PALETTE, 16, 33, 4, 1, 6, false},
        {"17 colours", IMG_PALETTE, 17, 33, 1, 8, 33, true},
        {"grey of 16 levels", IMG_GREY, 16, 5, 1, 8, 5, true},
        {"rgb", IMG_RGB, 0, 7, 3, 8, 7, false},
        {"bgr32", IMG_BGR32, 0, 7, 3, 8, 7, false},
    };
    for (const HeaderWriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, c.kind, 4, c.width, 3));
        img.colours = c.colours;
        img.xdpi = 300;
        img.ydpi = 72;
        if (img.palette)
            for (int i = 0; i < 256; ++i) img.palette[i] = uint8_t(i), img.palette[256 + i] = uint8_t(2 * i), img.palette[512 + i] = 9;
        std::string path = tempPath("header.pcx");
        ASSERT_EQ(savePcx(&img, path, 0), ST_OK);
        Bytes file;
        ASSERT_TRUE(readFile(path, &file));
        EXPECT_EQ(file[0], 10);
        EXPECT_EQ(file[1], 5);
        EXPECT_EQ(file[3], c.bits);
        EXPECT_EQ(get16(file, 8), c.width - 1);
        EXPECT_EQ(get16(file, 10), 2);
        EXPECT_EQ(get16(file, 12), 300);
        EXPECT_EQ(get16(file, 14), 72);
        EXPECT_EQ(file[65], c.planes);
        EXPECT_EQ(get16(file, 66), c.bytesPerLine);
        EXPECT_EQ(get16(file, 68), 1);
        size_t data = 3u * c.planes * c.bytesPerLine;
        ASSERT_EQ(file.size(), 128 + data + (c.trailing ? 769 : 0));
        if (c.trailing) {
            EXPECT_EQ(file[128 + data], 0x0C);
        }
        if (c.kind == IMG_BINARY) {
            EXPECT_EQ(Bytes(file.begin() + 16, file.begin() + 22), (Bytes{0, 0, 0, 255, 255, 255}));
        }
        if (c.kind == IMG_PALETTE && c.colours == 16) {
            EXPECT_EQ(Bytes(file.begin() + 16 + 45, file.begin() + 64), (Bytes{15, 30, 9}));
        }
    }
}

TEST(PcxWriter, FullDiskIsAWriteError) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (uint16_t kind : {IMG_BINARY, IMG_PALETTE, IMG_GREY, IMG_RGB}) {
        for (int rle = 0; rle < 2; ++rle) {
            SCOPED_TRACE(kind * 10 + rle);
            OwnedImage img;
            ASSERT_TRUE(createImage(&img, kind, 1, 300, 40));
            EXPECT_EQ(savePcx(&img, "/dev/full", rle), ST_WRITE_ERROR);
        }
    }
}

// A picture mixing runs and busy stretches.
bool makePicture(Image* img, uint16_t kind, int colours, int w, int h) {
    if (!createImage(img, kind, 1, w, h)) return false;
    img->colours = kind & IMG_TRUECOLOUR ? 0 : colours;
    if (img->palette)
        for (int i = 0; i < 256; ++i)
            img->palette[i] = uint8_t(i * 5), img->palette[256 + i] = uint8_t(255 - i), img->palette[512 + i] = uint8_t(i * 9);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = y % 3 == 0 ? x * 3 + y : (x / 7) * 5 + y;
            uint8_t* p = imageRow(img, y) + x * img->bytesPerPixel;
            if (img->bytesPerPixel == 1) p[0] = uint8_t(v % (kind == IMG_BINARY ? 2 : colours));
            else for (int k = 0; k < img->bytesPerPixel; ++k) p[k] = uint8_t(v * (k + 1) + k * 40);
            if (img->bytesPerPixel == 4) p[kind == IMG_RGB32 ? 3 : 0] = 0;
        }
    return true;
}

struct RoundCase {
    const char* name;
    uint16_t kind;
    int colours;
    int width, height;
    uint16_t loadedKind;
};

bool writePpm(const std::string& path, const Rgb& p) {
    std::string head = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    Bytes bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), p.pixels.begin(), p.pixels.end());
    return writeFile(path, bytes);
}

TEST(PcxWriter, RoundTripsAndPeersReadOurFiles) {
    const std::vector<RoundCase> cases = {
        {"binary width 1", IMG_BINARY, 2, 1, 3, IMG_BINARY},
        {"binary width 511", IMG_BINARY, 2, 511, 4, IMG_BINARY},
        {"palette 16 width 3", IMG_PALETTE, 16, 3, 5, IMG_PALETTE},
        {"palette 5 width 8", IMG_PALETTE, 5, 8, 2, IMG_PALETTE},
        {"palette 200 width 511", IMG_PALETTE, 200, 511, 3, IMG_PALETTE},
        {"grey 256 height 1", IMG_GREY, 256, 37, 1, IMG_PALETTE},
        {"rgb width 1", IMG_RGB, 0, 1, 4, IMG_RGB},
        {"rgb width 511", IMG_RGB, 0, 511, 3, IMG_RGB},
        {"bgr", IMG_BGR, 0, 13, 5, IMG_RGB},
        {"rgb32", IMG_RGB32, 0, 9, 2, IMG_RGB},
    };
    const bool im = haveProgram(IM);
    const bool netpbm = haveProgram("pcxtoppm");
    for (const RoundCase& c : cases) {
        for (int rle = 0; rle < 2; ++rle) {
            SCOPED_TRACE(std::string(c.name) + (rle ? " rle" : ""));
            OwnedImage img;
            ASSERT_TRUE(makePicture(&img, c.kind, c.colours, c.width, c.height));
            std::string path = tempPath("ours.pcx");
            ASSERT_EQ(savePcx(&img, path, rle), ST_OK);
            OwnedImage back;
            ASSERT_EQ(load(path, &back), ST_OK);
            EXPECT_EQ(back.kind, c.loadedKind);
            Rgb expected = toRgb(img);
            EXPECT_EQ(compareRgb(toRgb(back), expected), 0);
            if (c.kind == IMG_PALETTE || c.kind == IMG_BINARY) {
                for (int y = 0; y < c.height; ++y) EXPECT_EQ(rawRow(back, y), rawRow(img, y)) << y;
            }
            if (im) {
                std::string ppm = path + ".im.ppm";
                ASSERT_EQ(run(std::string(IM) + " 'pcx:" + path + "' -depth 8 ppm:" + ppm + " 2>/dev/null"), 0);
                Rgb ref;
                ASSERT_TRUE(readPnmReference(ppm, &ref));
                // ImageMagick shows 1-bit files the other way round (see BinaryFilesFollowTheBits).
                if (c.kind != IMG_BINARY) {
                    EXPECT_EQ(compareRgb(ref, expected), 0);
                }
            }
            if (netpbm && rle) {  // pcxtoppm knows only run-length data
                std::string ppm = path + ".nb.ppm";
                ASSERT_EQ(run("pcxtoppm " + path + " > " + ppm + " 2>/dev/null"), 0);
                Rgb ref;
                ASSERT_TRUE(readPnmReference(ppm, &ref));
                EXPECT_EQ(compareRgb(ref, expected), 0);
            }
        }
    }
}

// ---- peers ---------------------------------------------------------------------------

// A source picture as P6 with at most `colours` colours (0 = any).
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

struct PeerCase {
    const char* name;
    int colours;
    const char* command;  // {src} and {out} are replaced
    uint8_t planes, bits;
};

std::string expand(std::string s, const std::string& src, const std::string& out) {
    s.replace(s.find("{src}"), 5, src);
    s.replace(s.find("{out}"), 5, out);
    return s;
}

TEST(PcxReader, DecodesPeerFiles) {
    const std::vector<PeerCase> cases = {
        {"im 24", 0, "convert-im6.q16 {src} PCX:{out}", 3, 8},
        {"im 256", 200, "convert-im6.q16 {src} -type Palette PCX:{out}", 1, 8},
        {"im 16", 16, "convert-im6.q16 {src} -type Palette PCX:{out}", 1, 8},
        {"gm 24", 0, "gm convert {src} PCX:{out}", 3, 8},
        {"gm 256", 200, "gm convert {src} -type Palette PCX:{out}", 1, 8},
        {"netpbm 24", 0, "ppmtopcx -24bit {src} > {out}", 3, 8},
        {"netpbm 8", 200, "ppmtopcx -8bit {src} > {out}", 1, 8},
        {"netpbm 16 planes", 16, "ppmtopcx -planes 4 {src} > {out}", 4, 1},
        {"netpbm 4 packed", 4, "ppmtopcx -packed {src} > {out}", 1, 2},
        {"netpbm 16 packed", 16, "ppmtopcx -packed {src} > {out}", 1, 4},
        {"netpbm 2", 2, "ppmtopcx {src} > {out}", 1, 1},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = c.command;
        if (!haveProgram(cmd.substr(0, cmd.find(' ')))) continue;
        std::string src = tempPath("peer" + std::to_string(n) + ".ppm");
        std::string out = tempPath("peer" + std::to_string(n++) + ".pcx");
        Rgb source = makeSource(37, 23, c.colours);
        ASSERT_TRUE(writePpm(src, source));
        ASSERT_EQ(run(expand(cmd, src, out) + " 2>/dev/null"), 0);
        Bytes file;
        ASSERT_TRUE(readFile(out, &file));
        ASSERT_EQ(file[65], c.planes);
        ASSERT_EQ(file[3], c.bits);
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(img), source), 0);
    }
}

// 1-bit files: 1 is white, as GraphicsMagick and netpbm show them (ImageMagick
// 6 inverts every 1-bit PCX file whatever its header says).
TEST(PcxReader, BinaryFilesFollowTheBits) {
    if (!haveProgram("pcxtoppm")) GTEST_SKIP() << "netpbm missing";
    std::string src = tempPath("bw.pbm");
    std::string out = tempPath("bw.pcx");
    std::string head = "P4\n9 2\n";
    Bytes pbm(head.begin(), head.end());
    pbm.insert(pbm.end(), {0xF0, 0x00, 0x0F, 0x80});  // pbm: 1 is black
    ASSERT_TRUE(writeFile(src, pbm));
    ASSERT_EQ(run("ppmtopcx " + src + " > " + out + " 2>/dev/null"), 0);
    OwnedImage img;
    ASSERT_EQ(load(out, &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_BINARY);
    EXPECT_EQ(rawRow(img, 0), (Bytes{0, 0, 0, 0, 1, 1, 1, 1, 1}));
    EXPECT_EQ(rawRow(img, 1), (Bytes{1, 1, 1, 1, 0, 0, 0, 0, 0}));
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    return names;
}

// A peer's decode of one page as R,G,B.
bool peerDecode(const std::string& tool, const std::string& file, Rgb* out) {
    std::string ppm = tempPath("sample.ref.ppm");
    std::string cmd = tool == "gm" ? "gm convert '" + file + "' ppm:" + ppm
                                   : std::string(IM) + " '" + file + "' -depth 8 ppm:" + ppm;
    return run(cmd + " 2>/dev/null") == 0 && readPnmReference(ppm, out);
}

TEST(PcxReader, SampleFiles) {
    const std::string root = KALEO_CORPUS_DIR;
    std::vector<std::string> pcx = listDir(root + "/pcx"), dcx = listDir(root + "/dcx");
    if (pcx.empty() && dcx.empty()) GTEST_SKIP() << "no sample folder under " << root;
    if (!haveProgram(IM) || !haveProgram("gm")) GTEST_SKIP() << "ImageMagick or GraphicsMagick missing";
    for (const std::string& name : pcx) {
        SCOPED_TRACE(name);
        std::string path = root + "/pcx/" + name;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        Bytes head;
        ASSERT_TRUE(readFile(path, &head));
        const int depth = head[3] * head[65];
        Rgb ref;
        if (head[1] == 3) {
            // Version 3 stores no palette: we use the EGA colours where the
            // peers take the header's leftover bytes. The indices must agree.
            ASSERT_TRUE(peerDecode(IM, "pcx:" + path, &ref));
            Rgb ours = toRgb(img);
            ASSERT_EQ(ours.pixels.size(), ref.pixels.size());
            std::map<uint32_t, uint32_t> there, back;
            for (size_t i = 0; i < ours.pixels.size(); i += 3) {
                uint32_t a = ours.pixels[i] << 16 | ours.pixels[i + 1] << 8 | ours.pixels[i + 2];
                uint32_t b = ref.pixels[i] << 16 | ref.pixels[i + 1] << 8 | ref.pixels[i + 2];
                ASSERT_EQ(there.emplace(a, b).first->second, b) << "pixel " << i / 3;
                ASSERT_EQ(back.emplace(b, a).first->second, a) << "pixel " << i / 3;
            }
            continue;
        }
        // 1-bit files: GraphicsMagick, since ImageMagick inverts them.
        ASSERT_TRUE(peerDecode(depth == 1 ? "gm" : IM, "pcx:" + path, &ref));
        EXPECT_EQ(compareRgb(toRgb(img), ref), 0);
    }
    for (const std::string& name : dcx) {
        std::string path = root + "/dcx/" + name;
        FileInfo info{};
        ASSERT_EQ(readImageInfo(path.c_str(), -1, 0, &info), ST_OK);
        EXPECT_EQ(info.formatIndex, dcxIndex());
        for (int page = 0; page < info.pageCount; ++page) {
            SCOPED_TRACE(name + " page " + std::to_string(page));
            OwnedImage img;
            IoOptions o = defaultIoOptions();
            o.pageIndex = page;
            ASSERT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_OK);
            Rgb ref;
            ASSERT_TRUE(peerDecode(IM, "dcx:" + path + "[" + std::to_string(page) + "]", &ref));
            EXPECT_EQ(compareRgb(toRgb(img), ref), 0);
        }
    }
}

}  // namespace
