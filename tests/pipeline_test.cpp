// The scanline pipeline driven the way codecs drive it: beginImage / putRows /
// endImage with rows in a file's layout, and beginWrite / getRows / endWrite.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "context.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Rgba = std::array<int, 4>;

IoOptions options(uint16_t flags = 0, bool bgr = false) {
    IoOptions o = defaultIoOptions();
    o.flags = flags;
    o.bgrOrder = bgr ? 1 : 0;
    return o;
}

RasterHeader raster(int width, int height, int planes, int bits, int bytesPerPlane = 0, uint16_t layout = 0) {
    RasterHeader h;
    memset(&h, 0, sizeof h);
    h.layout = layout;
    h.channels = 1;
    h.width = width;
    h.height = height;
    h.planes = static_cast<int16_t>(planes);
    h.bitsPerPlane = static_cast<int16_t>(bits);
    h.bytesPerPlane = bytesPerPlane;
    snprintf(h.name, sizeof h.name, "Test raster");
    return h;
}

Bytes pixel(const Image& img, int x, int y) {
    const uint8_t* p = imageRow(&img, y) + x * img.bytesPerPixel;
    return Bytes(p, p + img.bytesPerPixel);
}

Rgba paletteEntry(const Image& img, int i) {
    return {img.palette[i], img.palette[256 + i], img.palette[512 + i], 0};
}

// Delivers rows[i] as file row i, then ends with the given palette.
Status decode(Image* img, const IoOptions& o, RasterHeader h, const std::vector<Bytes>& rows, uint16_t pf = 0,
              int componentBits = 8, const uint8_t* palette = nullptr, FileInfo* info = nullptr) {
    IoScope scope(img, &o, info, "test.img", false);
    Status st = beginImage(&h);
    if (st != ST_OK) return st;
    for (size_t i = 0; i < rows.size(); ++i) {
        memcpy(h.rowBuffer, rows[i].data(), rows[i].size());
        st = putRows(-1, static_cast<int32_t>(i), 1);
        if (st != ST_OK) break;
    }
    Status end = endImage(pf, componentBits, palette);
    return st != ST_OK ? st : end;
}

// A palette of 2^depth distinct, non black-and-white entries as R,G,B triplets.
Bytes testPalette(int depth) {
    Bytes p;
    for (int i = 0; i < (1 << depth); ++i) {
        p.push_back(static_cast<uint8_t>(i * 37 + 11));
        p.push_back(static_cast<uint8_t>(i * 91 + 5));
        p.push_back(static_cast<uint8_t>(255 - i * 3));
    }
    return p;
}

// ---- Unpacking layouts into every working mode ------------------------------

struct LayoutCase {
    const char* name;
    int width, planes, bits, bytesPerPlane;
    uint16_t layout;
    Bytes row;               // one file row; PL_CHANNEL_PLANES: each plane's row in turn
    std::vector<int> index;  // depth <= 8: the index of each pixel
    std::vector<Rgba> rgba;  // depth > 8: R,G,B,A of each pixel
};

const std::vector<LayoutCase>& layoutCases() {
    static const std::vector<LayoutCase> cases = {
        {"packed 1-bit, width 10 in 2 bytes", 10, 1, 1, 2, 0, {0xA5, 0xC0}, {1, 0, 1, 0, 0, 1, 0, 1, 1, 1}, {}},
        {"packed 2-bit", 5, 1, 2, 2, 0, {0x1B, 0x80}, {0, 1, 2, 3, 2}, {}},
        {"packed 4-bit", 3, 1, 4, 2, 0, {0x5A, 0xF0}, {5, 10, 15}, {}},
        {"packed 8-bit", 3, 1, 8, 3, 0, {7, 200, 255}, {7, 200, 255}, {}},
        {"byte pixels of 3 bits", 3, 1, 3, 3, PL_BYTE_PIXELS, {1, 5, 7}, {1, 5, 7}, {}},
        {"word planes, 2 planes, 2 groups", 20, 2, 1, 4, PL_WORD_PLANES,
         {0x80, 0x01, 0xC0, 0x00, 0x00, 0x00, 0x80, 0x00},
         {3, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0, 0}, {}},
        {"line planes, 2 planes", 10, 2, 1, 2, 0, {0xF0, 0x40, 0xCC, 0xC0}, {3, 3, 1, 1, 2, 2, 0, 0, 2, 3}, {}},
        {"channel planes, one plane", 3, 1, 8, 3, PL_CHANNEL_PLANES, {9, 8, 7}, {9, 8, 7}, {}},
        {"15-bit 5-5-5", 3, 1, 15, 6, 0, {0x00, 0x7C, 0xE0, 0x03, 0x21, 0x04}, {},
         {{{255, 0, 0, 0}}, {{0, 255, 0, 0}}, {{8, 8, 8, 0}}}},
        {"15-bit red low", 3, 1, 15, 6, PL_BGR555, {0x1F, 0x00, 0x00, 0x7C, 0x10, 0x00}, {},
         {{{255, 0, 0, 0}}, {{0, 0, 255, 0}}, {{131, 0, 0, 0}}}},
        {"16-bit without 565", 2, 1, 16, 4, PL_WORD_HINT, {0xFF, 0xFF, 0x1F, 0x00}, {},
         {{{255, 255, 255, 0}}, {{0, 0, 255, 0}}}},
        {"16-bit 565", 3, 1, 16, 6, PL_565, {0x00, 0xF8, 0xE0, 0x07, 0x20, 0x00}, {},
         {{{255, 0, 0, 0}}, {{0, 255, 0, 0}}, {{0, 4, 0, 0}}}},
        {"24 plain", 2, 1, 24, 6, 0, {10, 20, 30, 1, 2, 3}, {}, {{{10, 20, 30, 0}}, {{1, 2, 3, 0}}}},
        {"24 reversed", 2, 1, 24, 6, PL_REVERSED, {10, 20, 30, 1, 2, 3}, {}, {{{30, 20, 10, 0}}, {{3, 2, 1, 0}}}},
        {"24 alpha first", 2, 1, 24, 6, PL_ALPHA_FIRST, {10, 20, 30, 1, 2, 3}, {},
         {{{10, 20, 30, 0}}, {{1, 2, 3, 0}}}},
        {"24 BGRA", 2, 1, 24, 6, PL_BGRA, {10, 20, 30, 1, 2, 3}, {}, {{{30, 20, 10, 0}}, {{3, 2, 1, 0}}}},
        {"32 plain", 2, 1, 32, 8, 0, {10, 20, 30, 40, 1, 2, 3, 4}, {}, {{{10, 20, 30, 40}}, {{1, 2, 3, 4}}}},
        {"32 reversed", 2, 1, 32, 8, PL_REVERSED, {10, 20, 30, 40, 1, 2, 3, 4}, {},
         {{{40, 30, 20, 10}}, {{4, 3, 2, 1}}}},
        {"32 alpha first", 2, 1, 32, 8, PL_ALPHA_FIRST, {10, 20, 30, 40, 1, 2, 3, 4}, {},
         {{{20, 30, 40, 10}}, {{2, 3, 4, 1}}}},
        {"32 BGRA", 2, 1, 32, 8, PL_BGRA, {10, 20, 30, 40, 1, 2, 3, 4}, {}, {{{30, 20, 10, 40}}, {{3, 2, 1, 4}}}},
        // Channel lines of 3 bytes for 2 pixels: the third byte of each line is padding.
        {"3 lines plain", 2, 3, 8, 3, 0, {1, 2, 99, 3, 4, 99, 5, 6, 99}, {}, {{{1, 3, 5, 0}}, {{2, 4, 6, 0}}}},
        {"3 lines reversed", 2, 3, 8, 3, PL_REVERSED, {1, 2, 99, 3, 4, 99, 5, 6, 99}, {},
         {{{5, 3, 1, 0}}, {{6, 4, 2, 0}}}},
        {"3 lines alpha first", 2, 3, 8, 3, PL_ALPHA_FIRST, {1, 2, 99, 3, 4, 99, 5, 6, 99}, {},
         {{{1, 3, 5, 0}}, {{2, 4, 6, 0}}}},
        {"4 lines plain", 2, 4, 8, 2, 0, {1, 2, 3, 4, 5, 6, 7, 8}, {}, {{{1, 3, 5, 7}}, {{2, 4, 6, 8}}}},
        {"4 lines reversed", 2, 4, 8, 2, PL_REVERSED, {1, 2, 3, 4, 5, 6, 7, 8}, {}, {{{7, 5, 3, 1}}, {{8, 6, 4, 2}}}},
        {"4 lines alpha first", 2, 4, 8, 2, PL_ALPHA_FIRST, {1, 2, 3, 4, 5, 6, 7, 8}, {},
         {{{3, 5, 7, 1}}, {{4, 6, 8, 2}}}},
        {"channel planes, 3 rows", 2, 3, 8, 2, PL_CHANNEL_PLANES, {1, 2, 3, 4, 5, 6}, {},
         {{{1, 3, 5, 0}}, {{2, 4, 6, 0}}}},
        {"channel planes, 4 rows", 2, 4, 8, 2, PL_CHANNEL_PLANES, {1, 2, 3, 4, 5, 6, 7, 8}, {},
         {{{1, 3, 5, 7}}, {{2, 4, 6, 8}}}},
    };
    return cases;
}

enum Mode { MODE_8, MODE_RGB, MODE_BGR, MODE_RGB32, MODE_BGR32 };
const char* const kModeNames[] = {"8-bit", "RGB", "BGR", "RGB32", "BGR32"};

IoOptions modeOptions(Mode m, int depth) {
    const bool bgr = m == MODE_BGR || m == MODE_BGR32;
    const bool four = m == MODE_RGB32 || m == MODE_BGR32;
    uint16_t flags = 0;
    if (depth <= 8) flags = m == MODE_8 ? 0 : four ? (OPT_TRUECOLOUR | OPT_PREFER_32) : OPT_TRUECOLOUR;
    else if (depth == 15 || depth == 16 || depth == 24) flags = four ? OPT_PREFER_32 : 0;
    else flags = four ? 0 : OPT_ODD_TO_24;
    return options(flags, bgr);
}

TEST(PipelineRead, EveryLayoutIntoEveryWorkingMode) {
    for (const LayoutCase& tc : layoutCases()) {
        const int depth = tc.planes * tc.bits;
        const Bytes pal = testPalette(depth <= 8 ? depth : 1);
        for (int m = MODE_8; m <= MODE_BGR32; ++m) {
            if (depth > 8 && m == MODE_8) continue;
            SCOPED_TRACE(std::string(tc.name) + " in " + kModeNames[m]);
            OwnedImage img;
            IoOptions o = modeOptions(static_cast<Mode>(m), depth);
            IoScope scope(&img, &o, nullptr, "layout", false);
            RasterHeader h = raster(tc.width, 1, tc.planes, tc.bits, tc.bytesPerPlane, tc.layout);
            ASSERT_EQ(ST_OK, beginImage(&h));
            if (tc.layout & PL_CHANNEL_PLANES) {
                for (int p = 0; p < tc.planes; ++p) {
                    memcpy(h.rowBuffer, tc.row.data() + p * tc.width, tc.width);
                    ASSERT_EQ(ST_OK, putRows(p, 0, 1));
                }
            } else {
                ASSERT_EQ(static_cast<int64_t>(tc.row.size()), fileRowLength());
                memcpy(h.rowBuffer, tc.row.data(), tc.row.size());
                ASSERT_EQ(ST_OK, putRows(-1, 0, 1));
            }
            ASSERT_EQ(ST_OK, endImage(depth <= 8 ? PF_TRIPLETS : 0, 8, depth <= 8 ? pal.data() : nullptr));

            static const uint16_t kinds[] = {IMG_PALETTE, IMG_RGB, IMG_BGR, IMG_RGB32, IMG_BGR32};
            EXPECT_EQ(kinds[m], img.kind);
            EXPECT_EQ(tc.width, img.width);
            for (int x = 0; x < tc.width; ++x) {
                Rgba e;
                if (depth <= 8) {
                    const int i = tc.index[x];
                    e = {pal[3 * i], pal[3 * i + 1], pal[3 * i + 2], 0};
                } else {
                    e = tc.rgba[x];
                }
                const Bytes p = pixel(img, x, 0);
                Bytes want;
                switch (m) {
                    case MODE_8: want = {static_cast<uint8_t>(tc.index[x])}; break;
                    case MODE_RGB: want = {uint8_t(e[0]), uint8_t(e[1]), uint8_t(e[2])}; break;
                    case MODE_BGR: want = {uint8_t(e[2]), uint8_t(e[1]), uint8_t(e[0])}; break;
                    case MODE_RGB32: want = {uint8_t(e[0]), uint8_t(e[1]), uint8_t(e[2]), uint8_t(e[3])}; break;
                    default: want = {uint8_t(e[3]), uint8_t(e[2]), uint8_t(e[1]), uint8_t(e[0])}; break;
                }
                EXPECT_EQ(want, p) << "pixel " << x;
            }
            if (m == MODE_8) {
                EXPECT_EQ(1 << depth, img.colours);
                ASSERT_NE(nullptr, img.palette);
                EXPECT_EQ((Rgba{pal[3], pal[4], pal[5], 0}), paletteEntry(img, 1));
            }
        }
    }
}

TEST(PipelineRead, RowLengthsAndUnpackedWidths) {
    struct Case { int width, planes, bits, bytesPerPlane; uint16_t layout; int64_t rowLength; } cases[] = {
        {10, 1, 1, 0, 0, 2},                   // the last 6 bits are padding
        {5, 1, 2, 0, 0, 2},
        {7, 1, 4, 0, 0, 4},
        {320, 4, 1, 40, 0, 160},               // 4 line planes of 40 bytes
        {320, 4, 1, 40, PL_WORD_PLANES, 160},
        {9, 1, 16, 0, PL_565, 18},
        {9, 1, 24, 0, 0, 27},
        {9, 3, 8, 12, 0, 36},                  // whole lines of 12 bytes
        {9, 4, 8, 9, PL_CHANNEL_PLANES, 9},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.planes << "x" << tc.bits << " layout " << tc.layout);
        OwnedImage img;
        IoOptions o = options();
        IoScope scope(&img, &o, nullptr, "len", false);
        RasterHeader h = raster(tc.width, 2, tc.planes, tc.bits, tc.bytesPerPlane, tc.layout);
        ASSERT_EQ(ST_OK, beginImage(&h));
        EXPECT_EQ(tc.rowLength, fileRowLength());
        EXPECT_EQ(ST_OK, endImage(0, 8, nullptr));
        EXPECT_EQ(0, fileRowLength());
    }
}

TEST(PipelineRead, FourLinePlanesOf40BytesGive320Indices) {
    // Plane p has all bits set in byte p only: pixels 8p..8p+7 get index 1 << p.
    Bytes row(160, 0);
    for (int p = 0; p < 4; ++p) row[p * 40 + p] = 0xFF;
    row[3 * 40 + 39] = 0x01;  // pixel 319 from plane 3
    OwnedImage img;
    ASSERT_EQ(ST_OK, decode(&img, options(), raster(320, 1, 4, 1, 40), {row}));
    ASSERT_EQ(320, img.width);
    EXPECT_EQ(IMG_GREY, img.kind);
    EXPECT_EQ(16, img.colours);
    for (int x = 0; x < 320; ++x) {
        int want = x < 32 ? 1 << (x / 8) : 0;
        if (x == 319) want = 8;
        ASSERT_EQ(want, imageRow(&img, 0)[x]) << x;
    }
}

TEST(PipelineRead, SixteenBitEdgeWords) {
    struct Case { uint16_t layout; int bits; uint16_t word; Bytes rgb; } cases[] = {
        {0, 16, 0x7FFF, {255, 255, 255}},
        {PL_565, 16, 0xFFFF, {255, 255, 255}},
        {0, 15, 0x001F, {0, 0, 255}},
        {PL_BGR555, 15, 0x001F, {255, 0, 0}},
    };
    for (const Case& tc : cases) {
        OwnedImage img;
        Bytes row = {uint8_t(tc.word & 0xFF), uint8_t(tc.word >> 8)};
        ASSERT_EQ(ST_OK, decode(&img, options(), raster(1, 1, 1, tc.bits, 2, tc.layout), {row}));
        EXPECT_EQ(tc.rgb, pixel(img, 0, 0)) << std::hex << tc.word;
    }
}

TEST(PipelineRead, BgraPixelIntoRgbAndBgr32) {
    const Bytes row = {10, 20, 30, 40};
    OwnedImage rgb, bgr32;
    ASSERT_EQ(ST_OK, decode(&rgb, options(OPT_ODD_TO_24), raster(1, 1, 1, 32, 4, PL_BGRA), {row}));
    EXPECT_EQ(IMG_RGB, rgb.kind);
    EXPECT_EQ((Bytes{30, 20, 10}), pixel(rgb, 0, 0));
    ASSERT_EQ(ST_OK, decode(&bgr32, options(0, true), raster(1, 1, 1, 32, 4, PL_BGRA), {row}));
    EXPECT_EQ(IMG_BGR32, bgr32.kind);
    EXPECT_EQ((Bytes{40, 10, 20, 30}), pixel(bgr32, 0, 0));
}

// ---- Header limits ------------------------------------------------------------

TEST(PipelineRead, RefusesRastersWithoutRoutine) {
    struct Case { const char* name; int width, height, planes, bits, bytesPerPlane; uint16_t layout; Status want; } cases[] = {
        {"width 16000", 16000, 1, 1, 8, 0, 0, ST_UNKNOWN_FORMAT},
        {"height 16000", 1, 16000, 1, 8, 0, 0, ST_UNKNOWN_FORMAT},
        {"width 0", 0, 1, 1, 8, 0, 0, ST_UNKNOWN_FORMAT},
        {"negative height", 5, -3, 1, 8, 0, 0, ST_UNKNOWN_FORMAT},
        {"depth 33", 4, 4, 3, 11, 0, 0, ST_UNKNOWN_FORMAT},
        {"no planes", 4, 4, 0, 8, 0, 0, ST_UNKNOWN_FORMAT},
        {"no bits", 4, 4, 1, 0, 0, 0, ST_UNKNOWN_FORMAT},
        {"negative planes", 4, 4, -2, -4, 0, 0, ST_UNKNOWN_FORMAT},
        {"3-bit packed", 4, 4, 1, 3, 0, 0, ST_UNKNOWN_FORMAT},
        {"3-bit bytes", 4, 4, 1, 3, 4, PL_BYTE_PIXELS, ST_OK},
        {"12-bit plane", 4, 4, 1, 12, 8, 0, ST_UNKNOWN_FORMAT},
        {"20-bit plane", 4, 4, 1, 20, 12, 0, ST_UNKNOWN_FORMAT},
        {"planes of 2 bits", 4, 4, 3, 2, 1, 0, ST_UNKNOWN_FORMAT},
        {"2 planes of 8 bits", 4, 4, 2, 8, 4, 0, ST_UNKNOWN_FORMAT},
        {"word planes of 2 bits", 16, 4, 2, 2, 2, PL_WORD_PLANES, ST_UNKNOWN_FORMAT},
        {"word planes too short", 40, 4, 4, 1, 4, PL_WORD_PLANES, ST_UNKNOWN_FORMAT},
        {"word planes negative", 40, 4, 4, 1, -6, PL_WORD_PLANES, ST_UNKNOWN_FORMAT},
        {"word planes just enough", 40, 4, 4, 1, 6, PL_WORD_PLANES, ST_OK},
        {"line planes too short", 10, 4, 2, 1, 1, 0, ST_UNKNOWN_FORMAT},
        {"line planes over 1 MB", 10, 4, 2, 1, 2000000, 0, ST_UNKNOWN_FORMAT},
        {"channel lines too short", 10, 4, 3, 8, 9, 0, ST_UNKNOWN_FORMAT},
        {"channel planes of 4 bits", 10, 4, 3, 4, 10, PL_CHANNEL_PLANES, ST_UNKNOWN_FORMAT},
        {"largest", 15999, 1, 1, 1, 0, 0, ST_OK},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        OwnedImage img;
        FileInfo info{};
        IoOptions o = options();
        IoScope scope(&img, &o, &info, "limits", false);
        RasterHeader h = raster(tc.width, tc.height, tc.planes, tc.bits, tc.bytesPerPlane, tc.layout);
        EXPECT_EQ(tc.want, beginImage(&h));
        if (tc.want != ST_OK) {
            EXPECT_EQ(nullptr, h.rowBuffer);
            EXPECT_EQ(nullptr, img.pixels);
            EXPECT_EQ(0, info.width);  // nothing recorded for a refused header
        } else {
            EXPECT_EQ(ST_OK, endImage(0, 8, nullptr));
        }
    }
}

TEST(PipelineRead, ExaminationFillsInfoWithoutAllocating) {
    Image img{};
    FileInfo info{};
    IoOptions o = options();
    IoScope scope(&img, &o, &info, "big.img", true);
    RasterHeader h = raster(15999, 15999, 1, 32, 4 * 15999);
    h.orientation = OR_BOTTOM_UP;
    h.xdpi = 300;
    h.ydpi = 0;
    snprintf(h.name, sizeof h.name, "Huge Raster");
    EXPECT_EQ(ST_INFO_ONLY, beginImage(&h));
    EXPECT_EQ(nullptr, h.rowBuffer);
    EXPECT_EQ(nullptr, img.pixels);
    EXPECT_STREQ("Huge Raster", info.formatName);
    EXPECT_EQ(15999, info.width);
    EXPECT_EQ(15999, info.height);
    EXPECT_EQ(1, info.planes);
    EXPECT_EQ(32, info.bitsPerPlane);
    EXPECT_EQ(4 * 15999, info.bytesPerPlane);
    EXPECT_EQ(OR_BOTTOM_UP, info.orientation);
    EXPECT_EQ(300, info.xdpi);
    EXPECT_EQ(0, info.ydpi);  // as stored: the default applies to images only
    EXPECT_EQ(0, fileRowLength());
}

TEST(PipelineRead, ResolutionDefaults) {
    struct Case { int32_t xdpi, ydpi, wantX, wantY; } cases[] = {{0, 0, 68, 68}, {300, 0, 300, 68}, {0, 72, 68, 72}};
    for (const Case& tc : cases) {
        OwnedImage img;
        RasterHeader h = raster(2, 2, 1, 8, 2);
        h.xdpi = tc.xdpi;
        h.ydpi = tc.ydpi;
        ASSERT_EQ(ST_OK, decode(&img, options(), h, {}));
        EXPECT_EQ(tc.wantX, img.xdpi);
        EXPECT_EQ(tc.wantY, img.ydpi);
    }
}

// ---- Orientation ----------------------------------------------------------------

TEST(PipelineRead, FlipsAndMirrorsCancelByExclusiveOr) {
    // File rows {1,2} then {3,4}, grey; the expected image rows top to bottom.
    struct Case { uint16_t file, opts; Bytes top, bottom; } cases[] = {
        {0, 0, {1, 2}, {3, 4}},
        {OR_BOTTOM_UP, 0, {3, 4}, {1, 2}},
        {0, OR_BOTTOM_UP, {3, 4}, {1, 2}},
        {OR_BOTTOM_UP, OR_BOTTOM_UP, {1, 2}, {3, 4}},
        {OR_MIRRORED, 0, {2, 1}, {4, 3}},
        {OR_MIRRORED, OR_MIRRORED, {1, 2}, {3, 4}},
        {OR_BOTTOM_UP | OR_MIRRORED, 0, {4, 3}, {2, 1}},
        {OR_BOTTOM_UP, OR_MIRRORED, {4, 3}, {2, 1}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << "file " << tc.file << " options " << tc.opts);
        OwnedImage img;
        IoOptions o = options();
        o.orientation = tc.opts;
        RasterHeader h = raster(2, 2, 1, 8, 2);
        h.orientation = tc.file;
        ASSERT_EQ(ST_OK, decode(&img, o, h, {{1, 2}, {3, 4}}));
        EXPECT_EQ(tc.top, Bytes(imageRow(&img, 0), imageRow(&img, 0) + 2));
        EXPECT_EQ(tc.bottom, Bytes(imageRow(&img, 1), imageRow(&img, 1) + 2));
        EXPECT_EQ(tc.opts, img.orientation);
    }
}

TEST(PipelineRead, MirrorKeepsColourPixelsWhole) {
    struct Case { int bits; Bytes row; Bytes want; } cases[] = {
        {24, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {7, 8, 9, 4, 5, 6, 1, 2, 3}},
        {32, {1, 2, 3, 4, 5, 6, 7, 8}, {5, 6, 7, 8, 1, 2, 3, 4}},
    };
    for (const Case& tc : cases) {
        OwnedImage img;
        const int n = static_cast<int>(tc.row.size()) / (tc.bits / 8);
        RasterHeader h = raster(n, 1, 1, tc.bits, static_cast<int>(tc.row.size()));
        h.orientation = OR_MIRRORED;
        ASSERT_EQ(ST_OK, decode(&img, options(), h, {tc.row}));
        EXPECT_EQ(tc.want, Bytes(imageRow(&img, 0), imageRow(&img, 0) + tc.row.size()));
    }
}

// ---- Bounded loading ------------------------------------------------------------

TEST(PipelineRead, BoundedSizes) {
    struct Case { int w, h, maxW, maxH, outW, outH; } cases[] = {
        {400, 200, 100, 100, 100, 50},
        {200, 400, 100, 100, 50, 100},
        {50, 50, 100, 100, 50, 50},
        {1, 5000, 100, 100, 1, 100},
        {5000, 1, 100, 100, 100, 1},
        {400, 200, 0, 100, 400, 200},  // a bound of 0 means none
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.w << "x" << tc.h);
        OwnedImage img;
        IoOptions o = options();
        o.maxWidth = tc.maxW;
        o.maxHeight = tc.maxH;
        ASSERT_EQ(ST_OK, decode(&img, o, raster(tc.w, tc.h, 1, 8, tc.w), {}));
        EXPECT_EQ(tc.outW, img.width);
        EXPECT_EQ(tc.outH, img.height);
        EXPECT_GE(img.stride, img.width);
    }
}

TEST(PipelineRead, BoundedContentKeepsFirstRowOfEachBand) {
    // 8x8 grey, value 10 * row + column; halved to 4x4. Row bands keep their
    // first file row; within a column band the later pixel lands last.
    std::vector<Bytes> rows;
    for (int y = 0; y < 8; ++y) {
        Bytes r;
        for (int x = 0; x < 8; ++x) r.push_back(static_cast<uint8_t>(10 * y + x));
        rows.push_back(r);
    }
    IoOptions o = options();
    o.maxWidth = 4;
    o.maxHeight = 4;
    OwnedImage img;
    ASSERT_EQ(ST_OK, decode(&img, o, raster(8, 8, 1, 8, 8, PL_BYTE_PIXELS), rows));
    ASSERT_EQ(4, img.width);
    ASSERT_EQ(4, img.height);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(10 * (2 * y) + 2 * x + 1, imageRow(&img, y)[x]) << x << "," << y;
}

TEST(PipelineRead, BoundedColourAndChannelPlanes) {
    // 4x2 true colour halved to 2x1, once interleaved and once as channel rows.
    const Bytes rgbRow0 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const Bytes rgbRow1(12, 200);
    IoOptions o = options();
    o.maxWidth = 2;
    o.maxHeight = 2;
    OwnedImage a;
    ASSERT_EQ(ST_OK, decode(&a, o, raster(4, 2, 1, 24, 12), {rgbRow0, rgbRow1}));
    ASSERT_EQ(2, a.width);
    ASSERT_EQ(1, a.height);
    EXPECT_EQ((Bytes{4, 5, 6}), pixel(a, 0, 0));
    EXPECT_EQ((Bytes{10, 11, 12}), pixel(a, 1, 0));

    OwnedImage b;
    IoScope scope(&b, &o, nullptr, "planes", false);
    RasterHeader h = raster(4, 2, 3, 8, 4, PL_CHANNEL_PLANES);
    ASSERT_EQ(ST_OK, beginImage(&h));
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 4; ++x) h.rowBuffer[x] = y == 0 ? rgbRow0[3 * x + p] : 200;
            ASSERT_EQ(ST_OK, putRows(p, y, 1));
        }
    ASSERT_EQ(ST_OK, endImage(0, 8, nullptr));
    EXPECT_EQ((Bytes{4, 5, 6}), pixel(b, 0, 0));
    EXPECT_EQ((Bytes{10, 11, 12}), pixel(b, 1, 0));
}

// ---- Palettes ---------------------------------------------------------------------

TEST(PipelineRead, FilePaletteForms) {
    struct Case { const char* name; uint16_t form; int bits; Bytes stored; Rgba e0, e1; } cases[] = {
        {"ST 9-bit words", PF_ST9, 3, {0x07, 0x00, 0x00, 0x34}, {{255, 0, 0, 0}}, {{0, 109, 145, 0}}},
        {"STE rotated nibbles", PF_STE12, 4, {0x0F, 0x81, 0x00, 0x00}, {{255, 17, 34, 0}}, {{0, 0, 0, 0}}},
        {"12-bit words", PF_RGB12, 4, {0x0F, 0x81, 0x00, 0x00}, {{255, 136, 17, 0}}, {{0, 0, 0, 0}}},
        {"planar", PF_PLANAR, 8, {10, 20, 30, 40, 50, 60}, {{10, 30, 50, 0}}, {{20, 40, 60, 0}}},
        {"planar blue first", PF_PLANAR | PF_BGR, 8, {10, 20, 30, 40, 50, 60}, {{50, 30, 10, 0}}, {{60, 40, 20, 0}}},
        {"B,G,R triplets", PF_BGR, 8, {10, 20, 30, 40, 50, 60}, {{30, 20, 10, 0}}, {{60, 50, 40, 0}}},
        {"triplets", PF_TRIPLETS, 8, {10, 20, 30, 40, 50, 60}, {{10, 20, 30, 0}}, {{40, 50, 60, 0}}},
        {"6-bit components", 0, 6, {63, 31, 0, 1, 2, 3}, {{255, 125, 0, 0}}, {{4, 8, 12, 0}}},
        {"4-bit components", PF_TRIPLETS, 4, {15, 8, 1, 0, 0, 2}, {{255, 136, 17, 0}}, {{0, 0, 34, 0}}},
        {"planar 16-bit, small values", PF_PLANAR, 16, {10, 0, 20, 0, 30, 0, 40, 0, 50, 0, 60, 0},
         {{10, 30, 50, 0}}, {{20, 40, 60, 0}}},
        {"planar 16-bit, full range", PF_PLANAR, 16, {0x34, 0x12, 0x00, 0xFF, 0, 0x80, 0, 0x40, 0xFF, 0x01, 0, 0},
         {{0x12, 0x80, 0x01, 0}}, {{0xFF, 0x40, 0, 0}}},
        {"triplets of wide components", PF_TRIPLETS, 16, {10, 20, 30, 40, 50, 60}, {{10, 20, 30, 0}},
         {{40, 50, 60, 0}}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        OwnedImage img;
        // Exactly 2^depth entries: the stored palette is read no further.
        Bytes stored = tc.stored;
        ASSERT_EQ(ST_OK, decode(&img, options(), raster(2, 1, 1, 1, 1), {{0x40}}, tc.form, tc.bits, stored.data()));
        ASSERT_EQ(IMG_PALETTE, img.kind);
        EXPECT_EQ(2, img.colours);
        EXPECT_EQ(tc.e0, paletteEntry(img, 0));
        EXPECT_EQ(tc.e1, paletteEntry(img, 1));
        EXPECT_EQ((Rgba{0, 0, 0, 0}), paletteEntry(img, 2));
        EXPECT_EQ((Bytes{0}), pixel(img, 0, 0));
        EXPECT_EQ((Bytes{1}), pixel(img, 1, 0));
    }
}

TEST(PipelineRead, BlackAndWhiteCheck) {
    struct Case { Bytes palette; uint16_t kind; Bytes values; } cases[] = {
        {{0, 0, 0, 255, 255, 255}, IMG_BINARY, {0, 1, 1, 0}},
        {{255, 255, 255, 0, 0, 0}, IMG_BINARY, {1, 0, 0, 1}},  // inverted so that 0 is black
        {{255, 0, 0, 0, 0, 255}, IMG_PALETTE, {0, 1, 1, 0}},
        {{0, 0, 0, 254, 255, 255}, IMG_PALETTE, {0, 1, 1, 0}},
    };
    for (const Case& tc : cases) {
        OwnedImage img;
        ASSERT_EQ(ST_OK, decode(&img, options(), raster(4, 1, 1, 1, 1), {{0x60}}, PF_TRIPLETS, 8, tc.palette.data()));
        EXPECT_EQ(tc.kind, img.kind);
        EXPECT_EQ(2, img.colours);
        EXPECT_EQ(tc.values, Bytes(imageRow(&img, 0), imageRow(&img, 0) + 4));
        EXPECT_EQ(tc.kind == IMG_PALETTE, img.palette != nullptr);
    }
}

TEST(PipelineRead, TrueColourFromPaletteFile) {
    const Bytes pal = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
    struct Case { uint16_t flags; bool bgr; uint16_t kind; Bytes px3; } cases[] = {
        {OPT_TRUECOLOUR, false, IMG_RGB, {100, 110, 120}},
        {OPT_TRUECOLOUR, true, IMG_BGR, {120, 110, 100}},
        {OPT_TRUECOLOUR | OPT_PREFER_32, false, IMG_RGB32, {100, 110, 120, 0}},
        {OPT_TRUECOLOUR | OPT_PREFER_32, true, IMG_BGR32, {0, 120, 110, 100}},
    };
    for (const Case& tc : cases) {
        OwnedImage img;
        // 2-bit pixels 3, 1.
        ASSERT_EQ(ST_OK, decode(&img, options(tc.flags, tc.bgr), raster(2, 1, 1, 2, 1), {{0xD0}}, PF_TRIPLETS, 8,
                                pal.data()));
        EXPECT_EQ(tc.kind, img.kind);
        EXPECT_EQ(0, img.colours);
        EXPECT_EQ(nullptr, img.palette);
        EXPECT_EQ(tc.px3, pixel(img, 0, 0));
    }
}

TEST(PipelineRead, GreyWithoutPalette) {
    // 8-bit mode keeps the file's values; true colour stretches them to 0..255.
    struct Case { const char* name; int planes, bits, bpp; uint16_t pf, flags; Bytes row; uint16_t kind; int colours;
                  Bytes values; } cases[] = {
        {"4-bit grey raw", 1, 4, 1, 0, 0, {0xF5}, IMG_GREY, 16, {15, 5}},
        {"4-bit grey inverted", 1, 4, 1, PF_INVERT, 0, {0xF5}, IMG_GREY, 16, {0, 10}},
        {"1-bit binary", 1, 1, 1, 0, 0, {0x80}, IMG_BINARY, 2, {1, 0}},
        {"1-bit inverted", 1, 1, 1, PF_INVERT, 0, {0x80}, IMG_BINARY, 2, {0, 1}},
        {"2 line planes inverted by depth", 2, 1, 1, PF_INVERT, 0, {0x80, 0xC0}, IMG_GREY, 4, {0, 1}},
        {"4-bit grey as RGB", 1, 4, 1, 0, OPT_TRUECOLOUR, {0xF5}, IMG_RGB, 0, {255, 255, 255, 85, 85, 85}},
        {"1-bit as RGB", 1, 1, 1, 0, OPT_TRUECOLOUR, {0x80}, IMG_RGB, 0, {255, 255, 255, 0, 0, 0}},
        {"1-bit inverted as RGB", 1, 1, 1, PF_INVERT, OPT_TRUECOLOUR, {0x80}, IMG_RGB, 0, {0, 0, 0, 255, 255, 255}},
        {"8-bit grey as RGB32", 1, 8, 2, 0, OPT_TRUECOLOUR | OPT_PREFER_32, {7, 200}, IMG_RGB32, 0,
         {7, 7, 7, 0, 200, 200, 200, 0}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        OwnedImage img;
        ASSERT_EQ(ST_OK, decode(&img, options(tc.flags), raster(2, 1, tc.planes, tc.bits, tc.bpp), {tc.row}, tc.pf));
        EXPECT_EQ(tc.kind, img.kind);
        EXPECT_EQ(tc.colours, img.colours);
        EXPECT_EQ(tc.values, Bytes(imageRow(&img, 0), imageRow(&img, 0) + tc.values.size()));
    }
    // BGR order: the grey value moves from the last byte to all three.
    OwnedImage bgr;
    ASSERT_EQ(ST_OK, decode(&bgr, options(OPT_TRUECOLOUR | OPT_PREFER_32, true), raster(1, 1, 1, 4, 1), {{0x30}}));
    EXPECT_EQ(IMG_BGR32, bgr.kind);
    EXPECT_EQ((Bytes{0, 51, 51, 51}), pixel(bgr, 0, 0));
}

// ---- CMYK -----------------------------------------------------------------------

TEST(PipelineRead, CmykConversionsRepackToRgb) {
    // Three pixels a row; the repacked rows move (stride 12 -> 10), so every
    // row is checked.
    struct Case { const char* name; uint16_t layout; int planes, bits, bpp; bool bgr; Bytes row; Bytes want; } cases[] = {
        // Stored inverted: inks 55, 155, 205 under black 25 let 200, 100, 50
        // through, times 230 / 255 for the black.
        {"inverted CMYK", PL_CMYK_INV, 1, 32, 12, false, {200, 100, 50, 230, 0, 0, 0, 0, 255, 0, 255, 255},
         {180, 90, 45, 0, 0, 0, 255, 0, 255}},
        {"inverted CMYK, BGR order", PL_CMYK_INV, 1, 32, 12, true, {200, 100, 50, 230, 0, 0, 0, 0, 255, 0, 255, 255},
         {180, 90, 45, 0, 0, 0, 255, 0, 255}},
        {"CMYK", PL_CMYK, 1, 32, 12, false, {200, 100, 50, 230, 0, 0, 0, 0, 0, 0, 0, 255},
         {5, 15, 20, 255, 255, 255, 0, 0, 0}},
        {"CMYK lines", PL_CMYK, 4, 8, 3, false, {200, 0, 0, 100, 0, 0, 50, 0, 0, 230, 0, 255},
         {5, 15, 20, 255, 255, 255, 0, 0, 0}},
        {"CMYK channel rows", PL_CMYK | PL_CHANNEL_PLANES, 4, 8, 3, true, {200, 0, 0, 100, 0, 0, 50, 0, 0, 230, 0, 255},
         {5, 15, 20, 255, 255, 255, 0, 0, 0}},
        {"inverted RGB", PL_CMYK_INV, 1, 24, 9, false, {10, 20, 30, 255, 0, 128, 0, 0, 0},
         {245, 235, 225, 0, 255, 127, 255, 255, 255}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        OwnedImage img;
        IoOptions o = options(0, tc.bgr);
        o.rowAlignment = 2;
        RasterHeader h = raster(3, 2, tc.planes, tc.bits, tc.bpp, tc.layout);
        IoScope scope(&img, &o, nullptr, "cmyk", false);
        ASSERT_EQ(ST_OK, beginImage(&h));
        for (int y = 0; y < 2; ++y) {
            if (tc.layout & PL_CHANNEL_PLANES) {
                for (int p = 0; p < 4; ++p) {
                    memcpy(h.rowBuffer, tc.row.data() + 3 * p, 3);
                    ASSERT_EQ(ST_OK, putRows(p, y, 1));
                }
            } else {
                memcpy(h.rowBuffer, tc.row.data(), tc.row.size());
                ASSERT_EQ(ST_OK, putRows(-1, y, 1));
            }
        }
        ASSERT_EQ(ST_OK, endImage(0, 8, nullptr));
        EXPECT_EQ(IMG_RGB, img.kind);
        EXPECT_EQ(3, img.bytesPerPixel);
        EXPECT_EQ(10, img.stride);  // 9 bytes rounded up to 2
        for (int y = 0; y < 2; ++y) EXPECT_EQ(tc.want, Bytes(imageRow(&img, y), imageRow(&img, y) + 9)) << y;
    }
}

// ---- putRows edges ------------------------------------------------------------

TEST(PipelineRead, PutRowsStaysInsideTheImage) {
    OwnedImage img;
    IoOptions o = options();
    IoScope scope(&img, &o, nullptr, "edges", false);
    RasterHeader h = raster(4, 4, 1, 8, 4, PL_BYTE_PIXELS);
    ASSERT_EQ(ST_OK, beginImage(&h));
    memset(h.rowBuffer, 1, 4);
    ASSERT_EQ(ST_OK, putRows(-1, 0, 1));
    memset(h.rowBuffer, 2, 4);
    ASSERT_EQ(ST_OK, putRows(-1, 1000, 1));  // beyond the height: the next row
    for (int i = 0; i < 8; ++i) memset(h.rowBuffer + 4 * i, 10 + i, 4);
    ASSERT_EQ(ST_OK, putRows(-1, 2, 8));  // only rows 2 and 3 exist
    const uint8_t want[4] = {1, 2, 10, 11};
    for (int y = 0; y < 4; ++y) EXPECT_EQ((Bytes(4, want[y])), Bytes(imageRow(&img, y), imageRow(&img, y) + 4)) << y;
    // All rows delivered: -1 starts again at 0; far more rows than the buffer
    // holds are cut to the image.
    ASSERT_EQ(ST_OK, putRows(-1, -1, 1 << 30));
    ASSERT_EQ(ST_OK, endImage(0, 8, nullptr));
    for (int y = 0; y < 4; ++y) EXPECT_EQ((Bytes(4, 10 + y)), Bytes(imageRow(&img, y), imageRow(&img, y) + 4)) << y;
    // Outside a decode nothing happens.
    EXPECT_EQ(ST_OK, putRows(0, 0, 1));
    EXPECT_EQ(ST_OK, endImage(0, 8, nullptr));
}

TEST(PipelineRead, ChannelPlaneIndexOutOfRangeIsChannelZero) {
    OwnedImage img;
    IoOptions o = options();
    IoScope scope(&img, &o, nullptr, "planes", false);
    RasterHeader h = raster(1, 1, 3, 8, 1, PL_CHANNEL_PLANES);
    ASSERT_EQ(ST_OK, beginImage(&h));
    const struct { int plane; uint8_t v; } deliveries[] = {{1, 20}, {2, 30}, {7, 40}, {-1, 50}};
    for (const auto& d : deliveries) {
        h.rowBuffer[0] = d.v;
        ASSERT_EQ(ST_OK, putRows(d.plane, 0, 1));
    }
    ASSERT_EQ(ST_OK, endImage(0, 8, nullptr));
    EXPECT_EQ((Bytes{50, 20, 30}), pixel(img, 0, 0));
}

TEST(PipelineRead, RowBufferHoldsWholeChannelLines) {
    // Three lines of 2000 bytes declared with channels 1.
    OwnedImage img;
    IoOptions o = options();
    IoScope scope(&img, &o, nullptr, "wide", false);
    RasterHeader h = raster(2000, 1, 3, 8, 2000);
    ASSERT_EQ(ST_OK, beginImage(&h));
    ASSERT_EQ(6000, fileRowLength());
    for (int p = 0; p < 3; ++p) memset(h.rowBuffer + 2000 * p, 50 * (p + 1), 2000);
    memset(h.rowBuffer + 6000, 0xEE, 1024);  // the spare bytes are the decoder's too
    ASSERT_EQ(ST_OK, putRows(-1, 0, 1));
    ASSERT_EQ(ST_OK, endImage(0, 8, nullptr));
    EXPECT_EQ((Bytes{50, 100, 150}), pixel(img, 1999, 0));
}

// ---- Progress, stop, traces -----------------------------------------------------

struct Progress {
    std::vector<std::pair<int32_t, int32_t>> calls;
    int32_t stopAt = -1;
};

int recordProgress(int32_t row, int32_t total, void* datum) {
    Progress* p = static_cast<Progress*>(datum);
    p->calls.emplace_back(row, total);
    return row == p->stopAt;
}

TEST(PipelineRead, ProgressCallbackAndStop) {
    Progress progress;
    progress.stopAt = 2;
    IoOptions o = options();
    o.progressCallback = recordProgress;
    o.callbackDatum = &progress;
    OwnedImage img;
    std::vector<Bytes> rows = {{1}, {2}, {3}, {4}, {5}};
    EXPECT_EQ(ST_STOPPED, decode(&img, o, raster(1, 5, 1, 8, 1), rows));
    ASSERT_EQ(3u, progress.calls.size());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(std::make_pair(i, 5), progress.calls[i]);
    // The stopping row is still delivered; later rows stay black.
    EXPECT_EQ((Bytes{1, 2, 3, 0, 0}), (Bytes{imageRow(&img, 0)[0], imageRow(&img, 1)[0], imageRow(&img, 2)[0],
                                             imageRow(&img, 3)[0], imageRow(&img, 4)[0]}));

    // Channel rows count planes x height.
    Progress planes;
    o.callbackDatum = &planes;
    OwnedImage img2;
    IoScope scope(&img2, &o, nullptr, "planes", false);
    RasterHeader h = raster(1, 2, 3, 8, 1, PL_CHANNEL_PLANES);
    ASSERT_EQ(ST_OK, beginImage(&h));
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < 2; ++y) ASSERT_EQ(ST_OK, putRows(p, y, 1));
    ASSERT_EQ(ST_OK, endImage(0, 8, nullptr));
    ASSERT_EQ(6u, planes.calls.size());
    EXPECT_EQ(std::make_pair(5, 6), planes.calls.back());
}

TEST(PipelineRead, ProgressBarAndVerboseTrace) {
    OwnedImage img;
    RasterHeader h = raster(3, 3, 1, 4, 2);
    h.xdpi = 300;
    snprintf(h.name, sizeof h.name, "Demo Format");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ASSERT_EQ(ST_OK, decode(&img, options(OPT_PROGRESS_BAR | OPT_VERBOSE), h, {{0}, {0}, {0}}));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(60, '-') + "\r***\n", out);
    EXPECT_EQ("A Demo Format was recognized : test.img\n"
              "    Width:3 Height:3 with 16 colors\n"
              "    Nplanes : 1      Bitscount : 4\n"
              "    Bytes Per Plane : 2 \n"
              "    xdpi : 300         ydpi : 0\n",
              err);

    // 120 rows: one star per two rows, sixty in all.
    OwnedImage tall;
    testing::internal::CaptureStdout();
    ASSERT_EQ(ST_OK, decode(&tall, options(OPT_PROGRESS_BAR), raster(1, 120, 1, 8, 1), std::vector<Bytes>(120, {0})));
    EXPECT_EQ(std::string(60, '-') + "\r" + std::string(60, '*') + "\n", testing::internal::GetCapturedStdout());
}

// ---- Lifecycle ------------------------------------------------------------------

TEST(PipelineRead, AbandonedDecodeLeavesARealKind) {
    OwnedImage img;
    IoOptions o = options();
    {
        IoScope scope(&img, &o, nullptr, "abandon", false);
        RasterHeader h = raster(2, 2, 1, 24, 6);
        ASSERT_EQ(ST_OK, beginImage(&h));
        ASSERT_EQ(ST_OK, beginImage(&h));  // a second begin replaces the first
        memset(h.rowBuffer, 9, 6);
        ASSERT_EQ(ST_OK, putRows(-1, 0, 1));
        abandonConversion();
        EXPECT_EQ(0, fileRowLength());
    }
    EXPECT_EQ(IMG_RGB, img.kind);
    EXPECT_EQ(68, img.xdpi);
    EXPECT_EQ((Bytes{9, 9, 9}), pixel(img, 1, 0));
}

TEST(PipelineRead, ThreadsDecodeIndependently) {
    auto work = [](uint8_t seed, bool* ok) {
        *ok = true;
        for (int round = 0; round < 50 && *ok; ++round) {
            OwnedImage img;
            std::vector<Bytes> rows;
            for (int y = 0; y < 16; ++y) rows.push_back(Bytes(48, static_cast<uint8_t>(seed + y)));
            *ok = decode(&img, options(), raster(16, 16, 1, 24, 48), rows) == ST_OK;
            for (int y = 0; y < 16 && *ok; ++y) *ok = imageRow(&img, y)[47] == static_cast<uint8_t>(seed + y);
        }
    };
    bool ok1 = false, ok2 = false;
    std::thread t1(work, 10, &ok1), t2(work, 100, &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}

// ---- Writing --------------------------------------------------------------------

WriteHeader writeHeader(int planes, int bits, int bytesPerPlane, uint16_t layout, uint16_t pf = 0, int componentBits = 8) {
    WriteHeader h;
    memset(&h, 0, sizeof h);
    h.layout = layout;
    h.channels = 1;
    h.planes = static_cast<int16_t>(planes);
    h.bitsPerPlane = static_cast<int16_t>(bits);
    h.bytesPerPlane = bytesPerPlane;
    h.paletteFormat = pf;
    h.componentBits = static_cast<uint16_t>(componentBits);
    snprintf(h.name, sizeof h.name, "Test writer");
    return h;
}

struct Written {
    Status status = ST_OK;
    int64_t rowLength = 0;
    std::vector<Bytes> rows;
    Bytes palette;
};

// Fetches every row of img in the header's layout.
Written writeRows(Image* img, WriteHeader h, size_t paletteBytes = 0, uint16_t flags = 0) {
    Written w;
    IoOptions o = options(flags);
    IoScope scope(img, &o, nullptr, "out.img", false);
    w.status = beginWrite(&h);
    if (w.status != ST_OK) return w;
    w.rowLength = writeRowLength();
    if (paletteBytes && h.palette) w.palette.assign(h.palette, h.palette + paletteBytes);
    for (int32_t y = 0; y < img->height; ++y) {
        if (getRows(-1, 1) != ST_OK) break;
        w.rows.emplace_back(h.rowBuffer, h.rowBuffer + w.rowLength);
    }
    endWrite();
    EXPECT_EQ(0, writeRowLength());
    return w;
}

void fillImage(Image* img, int colours) {
    for (int32_t y = 0; y < img->height; ++y) {
        uint8_t* p = imageRow(img, y);
        const int n = img->width * img->bytesPerPixel;
        for (int i = 0; i < n; ++i)
            p[i] = colours ? static_cast<uint8_t>((i * 7 + y * 3) % colours) : static_cast<uint8_t>(i * 31 + y * 17 + 5);
    }
    if (img->palette)
        for (int i = 0; i < PALETTE_BYTES; ++i) img->palette[i] = static_cast<uint8_t>(i * 11 + 1);
}

// Components that survive 5- and 6-bit storage.
void fillQuantised(Image* img, bool sixBitGreen) {
    for (int32_t y = 0; y < img->height; ++y)
        for (int32_t x = 0; x < img->width; ++x) {
            uint8_t* p = imageRow(img, y) + 3 * x;
            p[0] = static_cast<uint8_t>((x * 5 + y) % 32 * 255 / 31);
            p[1] = static_cast<uint8_t>(sixBitGreen ? (x * 9 + y) % 64 * 255 / 63 : (x * 3 + y) % 32 * 255 / 31);
            p[2] = static_cast<uint8_t>((x * 7 + 2 * y) % 32 * 255 / 31);
        }
}

TEST(PipelineWrite, EveryPackingLayoutRoundTrips) {
    struct Case {
        const char* name;
        uint16_t kind;
        int colours;  // palette images: the colours used
        int planes, bits, bytesPerPlane;
        uint16_t layout, orientation;
        int quantised;  // 0 none, 5 all 5-bit, 6 with 6-bit green
    } cases[] = {
        {"packed 1-bit", IMG_PALETTE, 2, 1, 1, 2, 0, 0, 0},
        {"packed 2-bit", IMG_PALETTE, 4, 1, 2, 4, 0, OR_BOTTOM_UP, 0},
        {"packed 4-bit", IMG_PALETTE, 16, 1, 4, 7, 0, OR_MIRRORED, 0},
        {"packed 8-bit", IMG_PALETTE, 256, 1, 8, 13, 0, 0, 0},
        {"byte pixels", IMG_PALETTE, 32, 1, 5, 13, PL_BYTE_PIXELS, 0, 0},
        {"word planes", IMG_PALETTE, 16, 4, 1, 2, PL_WORD_PLANES, 0, 0},
        {"word planes, 8", IMG_PALETTE, 256, 8, 1, 2, PL_WORD_PLANES, OR_BOTTOM_UP | OR_MIRRORED, 0},
        {"line planes", IMG_PALETTE, 8, 3, 1, 2, 0, 0, 0},
        {"5-5-5", IMG_RGB, 0, 1, 15, 26, 0, 0, 5},
        {"5-5-5 red low", IMG_RGB, 0, 1, 15, 26, PL_BGR555, 0, 5},
        {"16 as 5-5-5", IMG_RGB, 0, 1, 16, 26, 0, 0, 5},
        {"5-6-5", IMG_RGB, 0, 1, 16, 26, PL_565, OR_MIRRORED, 6},
        {"24 plain", IMG_RGB, 0, 1, 24, 39, 0, 0, 0},
        {"24 reversed", IMG_RGB, 0, 1, 24, 39, PL_REVERSED, OR_BOTTOM_UP, 0},
        {"24 BGRA", IMG_BGR, 0, 1, 24, 39, PL_BGRA, 0, 0},
        {"24 alpha first", IMG_RGB, 0, 1, 24, 39, PL_ALPHA_FIRST, 0, 0},
        {"32 plain", IMG_RGB32, 0, 1, 32, 52, 0, 0, 0},
        {"32 reversed", IMG_RGB32, 0, 1, 32, 52, PL_REVERSED, OR_MIRRORED, 0},
        {"32 BGRA", IMG_BGR32, 0, 1, 32, 52, PL_BGRA, 0, 0},
        {"32 alpha first", IMG_RGB32, 0, 1, 32, 52, PL_ALPHA_FIRST, 0, 0},
        {"3 lines", IMG_RGB, 0, 3, 8, 15, 0, 0, 0},
        {"3 lines reversed", IMG_BGR, 0, 3, 8, 13, PL_REVERSED, 0, 0},
        {"4 lines", IMG_RGB32, 0, 4, 8, 13, 0, 0, 0},
        {"4 lines reversed", IMG_BGR32, 0, 4, 8, 13, PL_REVERSED, OR_BOTTOM_UP, 0},
        {"4 lines alpha first", IMG_RGB32, 0, 4, 8, 13, PL_ALPHA_FIRST, 0, 0},
    };
    const int W = 13, H = 3;
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        const int depth = tc.planes * tc.bits;
        OwnedImage src;
        ASSERT_TRUE(createImage(&src, tc.kind, 4, W, H));
        if (tc.colours) src.colours = tc.colours;
        if (tc.quantised) fillQuantised(&src, tc.quantised == 6);
        else fillImage(&src, tc.colours);
        int bpp = tc.bytesPerPlane;
        if (tc.layout & PL_WORD_PLANES) bpp = (W + 15) / 16 * 2;
        else if (tc.planes > 1 && depth <= 8) bpp = (W + 7) / 8;

        WriteHeader wh = writeHeader(tc.planes, tc.bits, bpp, tc.layout, tc.colours ? PF_TRIPLETS : 0);
        wh.orientation = tc.orientation;
        const size_t palBytes = depth <= 8 ? 3u << depth : 0;
        Written w = writeRows(&src, wh, palBytes);
        ASSERT_EQ(ST_OK, w.status);
        ASSERT_EQ(static_cast<size_t>(H), w.rows.size());

        OwnedImage back;
        const bool bgr = tc.kind == IMG_BGR || tc.kind == IMG_BGR32;
        IoOptions o = options(depth == 24 && (tc.kind & IMG_32BIT) ? OPT_PREFER_32 : 0, bgr);
        IoScope scope(&back, &o, nullptr, "back", false);
        RasterHeader rh = raster(W, H, tc.planes, tc.bits, bpp, tc.layout);
        rh.orientation = tc.orientation;
        ASSERT_EQ(ST_OK, beginImage(&rh));
        ASSERT_EQ(w.rowLength, fileRowLength());
        for (int y = 0; y < H; ++y) {
            memcpy(rh.rowBuffer, w.rows[y].data(), w.rowLength);
            ASSERT_EQ(ST_OK, putRows(-1, y, 1));
        }
        ASSERT_EQ(ST_OK, endImage(w.palette.empty() ? 0 : PF_TRIPLETS, 8, w.palette.empty() ? nullptr : w.palette.data()));
        ASSERT_EQ(src.kind, back.kind);
        for (int y = 0; y < H; ++y)
            ASSERT_EQ(Bytes(imageRow(&src, y), imageRow(&src, y) + W * src.bytesPerPixel),
                      Bytes(imageRow(&back, y), imageRow(&back, y) + W * back.bytesPerPixel))
                << "row " << y;
        if (tc.kind == IMG_PALETTE)
            for (int i = 0; i < tc.colours && i < (1 << depth); ++i)
                ASSERT_EQ(paletteEntry(src, i), paletteEntry(back, i)) << "entry " << i;
    }
}

TEST(PipelineWrite, KnownBytesAndOrientation) {
    // A 10-pixel binary row packs into 2 bytes with zero padding; a bottom-up
    // file gets the image's last row first.
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_BINARY, 1, 10, 2));
    const uint8_t bits[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
    for (int x = 0; x < 10; ++x) imageRow(&img, 1)[x] = bits[x];
    WriteHeader h = writeHeader(1, 1, 2, 0);
    h.orientation = OR_BOTTOM_UP;
    Written w = writeRows(&img, h);
    ASSERT_EQ(ST_OK, w.status);
    EXPECT_EQ(2, w.rowLength);
    EXPECT_EQ((Bytes{0xA5, 0xC0}), w.rows[0]);
    EXPECT_EQ((Bytes{0x00, 0x00}), w.rows[1]);

    img.orientation = OR_BOTTOM_UP;  // stored upside down already: the flags cancel
    w = writeRows(&img, h);
    EXPECT_EQ((Bytes{0x00, 0x00}), w.rows[0]);
    EXPECT_EQ((Bytes{0xA5, 0xC0}), w.rows[1]);
}

TEST(PipelineWrite, ValueMap) {
    struct Case { const char* name; uint16_t kind; int colours; Bytes pixels; int bits; uint16_t layout; Bytes want; } cases[] = {
        {"256 greys to 4 bits", IMG_GREY, 256, {255, 128}, 4, 0, {0xF7}},
        {"min is white", IMG_GREY, 256, {255, 128}, 4, PL_MIN_IS_WHITE, {0x08}},
        {"min is white, 8 bits", IMG_GREY, 256, {255, 0}, 8, PL_MIN_IS_WHITE, {0, 255}},
        {"binary to 8 bits", IMG_BINARY, 2, {1, 0, 1}, 8, 0, {255, 0, 255}},
        {"16 greys to 8 bits", IMG_GREY, 16, {15, 5}, 8, 0, {255, 85}},
        {"binary min is white", IMG_BINARY, 2, {0, 1, 1, 0, 0, 0, 0, 1}, 1, PL_MIN_IS_WHITE, {0x9E}},
        {"byte pixels are not mapped", IMG_GREY, 16, {15, 5}, 8, PL_BYTE_PIXELS, {15, 5}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        OwnedImage img;
        const int n = static_cast<int>(tc.pixels.size());
        ASSERT_TRUE(createImage(&img, tc.kind, 1, n, 1));
        img.colours = tc.colours;
        memcpy(imageRow(&img, 0), tc.pixels.data(), n);
        Written w = writeRows(&img, writeHeader(1, tc.bits, 0, tc.layout));
        ASSERT_EQ(ST_OK, w.status);
        EXPECT_EQ(tc.want, w.rows[0]);
        EXPECT_EQ((Bytes(imageRow(&img, 0), imageRow(&img, 0) + n)), tc.pixels);  // the image is left alone
    }
}

TEST(PipelineWrite, FilePaletteForms) {
    // Entries (255,128,0) and (0,64,255). Word forms are machine-order words.
    struct Case { const char* name; uint16_t form; int bits; Bytes bytes; std::vector<uint16_t> words; } cases[] = {
        {"triplets", PF_TRIPLETS, 8, {255, 128, 0, 0, 64, 255}, {}},
        {"B,G,R", PF_BGR, 8, {0, 128, 255, 255, 64, 0}, {}},
        {"planar", PF_PLANAR, 8, {255, 0, 128, 64, 0, 255}, {}},
        {"planar blue first", PF_PLANAR | PF_BGR, 8, {0, 255, 128, 64, 255, 0}, {}},
        {"6-bit components", PF_TRIPLETS, 6, {63, 31, 0, 0, 15, 63}, {}},
        {"inverted", PF_TRIPLETS | PF_INVERT, 8, {0, 127, 255, 255, 191, 0}, {}},
        {"16-bit components", PF_TRIPLETS, 16, {}, {0xFFFF, 0x8080, 0x0000, 0x0000, 0x4040, 0xFFFF}},
        {"16-bit planar", PF_PLANAR, 16, {}, {0xFFFF, 0x0000, 0x8080, 0x4040, 0x0000, 0xFFFF}},
        {"ST 9-bit", PF_ST9, 3, {}, {0x0730, 0x0017}},
        {"STE 12-bit", PF_STE12, 4, {}, {0x0FB0, 0x009F}},
        {"12-bit", PF_RGB12, 4, {}, {0x0F70, 0x003F}},
    };
    for (const Case& tc : cases) {
        SCOPED_TRACE(tc.name);
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, IMG_PALETTE, 1, 3, 1));
        img.colours = 2;
        const uint8_t entries[2][3] = {{255, 128, 0}, {0, 64, 255}};
        for (int i = 0; i < 2; ++i)
            for (int k = 0; k < 3; ++k) img.palette[256 * k + i] = entries[i][k];
        const size_t size = tc.words.empty() ? tc.bytes.size() : tc.words.size() * 2;
        Written w = writeRows(&img, writeHeader(1, 1, 1, 0, tc.form, tc.bits), size);
        ASSERT_EQ(ST_OK, w.status);
        ASSERT_EQ(size, w.palette.size());
        if (tc.words.empty()) {
            EXPECT_EQ(tc.bytes, w.palette);
        } else {
            std::vector<uint16_t> got(tc.words.size());
            memcpy(got.data(), w.palette.data(), size);
            EXPECT_EQ(tc.words, got);
        }
    }
}

TEST(PipelineWrite, SteNibblesRotateBothWays) {
    // (136, 17, 34) is 8, 1, 2 in 4 bits; stored with the low bit on top: 4, 8, 1.
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_PALETTE, 1, 2, 1));
    img.colours = 2;
    img.palette[0] = 136;
    img.palette[256] = 17;
    img.palette[512] = 34;
    Written w = writeRows(&img, writeHeader(1, 1, 1, 0, PF_STE12, 4), 4);
    ASSERT_EQ(ST_OK, w.status);
    uint16_t word;
    memcpy(&word, w.palette.data(), 2);
    EXPECT_EQ(0x0481, word);

    const Bytes stored = {0x04, 0x81, 0x0F, 0xFF};  // big-endian as a file holds them
    OwnedImage back;
    ASSERT_EQ(ST_OK, decode(&back, options(), raster(2, 1, 1, 1, 1), {{0x40}}, PF_STE12, 4, stored.data()));
    EXPECT_EQ((Rgba{136, 17, 34, 0}), paletteEntry(back, 0));
}

TEST(PipelineWrite, FilePaletteSources) {
    // Binary: black then white; grey: a ramp over its colours; 2^depth entries.
    struct Case { uint16_t kind; int colours; int bits; Bytes want; } cases[] = {
        {IMG_BINARY, 2, 1, {0, 0, 0, 255, 255, 255}},
        {IMG_GREY, 4, 2, {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}},
        {IMG_GREY, 2, 2, {0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& tc : cases) {
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, tc.kind, 1, 2, 1));
        img.colours = tc.colours;
        Written w = writeRows(&img, writeHeader(1, tc.bits, 1, 0, PF_TRIPLETS), tc.want.size());
        ASSERT_EQ(ST_OK, w.status);
        EXPECT_EQ(tc.want, w.palette);
    }
}

TEST(PipelineWrite, EightBitImagesAsTrueColour) {
    struct Case { uint16_t kind; int colours; uint8_t value; Bytes want; } cases[] = {
        {IMG_GREY, 256, 128, {128, 128, 128}},
        {IMG_GREY, 16, 5, {85, 85, 85}},
        {IMG_BINARY, 2, 1, {255, 255, 255}},
        {IMG_PALETTE, 256, 3, {30, 31, 32}},
    };
    for (const Case& tc : cases) {
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, tc.kind, 1, 1, 1));
        img.colours = tc.colours;
        if (img.palette) {
            img.palette[3] = 30;
            img.palette[256 + 3] = 31;
            img.palette[512 + 3] = 32;
        }
        imageRow(&img, 0)[0] = tc.value;
        Written w = writeRows(&img, writeHeader(1, 24, 3, 0));
        ASSERT_EQ(ST_OK, w.status);
        EXPECT_EQ(tc.want, w.rows[0]);
    }
}

TEST(PipelineWrite, ChannelPlanesLeaveTheConvertedRow) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_BGR32, 1, 2, 1));
    const uint8_t px[8] = {40, 30, 20, 10, 4, 3, 2, 1};  // X,B,G,R
    memcpy(imageRow(&img, 0), px, 8);
    IoOptions o = options();
    IoScope scope(&img, &o, nullptr, "planes", false);
    WriteHeader h = writeHeader(4, 8, 2, PL_CHANNEL_PLANES);
    ASSERT_EQ(ST_OK, beginWrite(&h));
    EXPECT_EQ(2, writeRowLength());
    ASSERT_EQ(ST_OK, getRows(0, 1));
    ASSERT_NE(nullptr, convertedRow());
    EXPECT_EQ((Bytes{10, 20, 30, 40, 1, 2, 3, 4}), Bytes(convertedRow(), convertedRow() + 8));
    endWrite();
    EXPECT_EQ(nullptr, convertedRow());
}

TEST(PipelineWrite, RefusalsAndBounds) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_GREY, 1, 4, 3));
    struct Case { int planes, bits, bpp; uint16_t layout; Status want; } cases[] = {
        {1, 3, 1, 0, ST_UNKNOWN_FORMAT},
        {3, 2, 1, 0, ST_UNKNOWN_FORMAT},
        {0, 8, 4, 0, ST_UNKNOWN_FORMAT},
        {1, 40, 4, 0, ST_UNKNOWN_FORMAT},
        {3, 8, 2, 0, ST_UNKNOWN_FORMAT},  // channel lines shorter than the width
        {1, 8, 4, 0, ST_OK},
    };
    for (const Case& tc : cases) {
        Written w = writeRows(&img, writeHeader(tc.planes, tc.bits, tc.bpp, tc.layout));
        EXPECT_EQ(tc.want, w.status) << tc.planes << "x" << tc.bits;
    }
    Image empty{};
    EXPECT_EQ(ST_KIND_REFUSED, writeRows(&empty, writeHeader(1, 8, 4, 0)).status);

    // Rows past the height and counts past the buffer are not produced.
    IoOptions o = options();
    IoScope scope(&img, &o, nullptr, "bounds", false);
    WriteHeader h = writeHeader(1, 8, 4, PL_BYTE_PIXELS);
    ASSERT_EQ(ST_OK, beginWrite(&h));
    EXPECT_EQ(ST_OK, getRows(1, 1 << 30));
    EXPECT_EQ(ST_OK, getRows(77, 2));
    endWrite();
    EXPECT_EQ(ST_OK, getRows(0, 1));  // nothing in progress
}

TEST(PipelineWrite, ProgressAndStop) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 1, 2, 4));
    Progress progress;
    progress.stopAt = 1;
    IoOptions o = options(OPT_PROGRESS_BAR | OPT_VERBOSE);
    o.progressCallback = recordProgress;
    o.callbackDatum = &progress;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    {
        IoScope scope(&img, &o, nullptr, "out.tga", false);
        WriteHeader h = writeHeader(1, 24, 6, 0);
        snprintf(h.name, sizeof h.name, "Targa");
        ASSERT_EQ(ST_OK, beginWrite(&h));
        EXPECT_EQ(ST_OK, getRows(-1, 1));
        EXPECT_EQ(ST_STOPPED, getRows(-1, 1));
        endWrite();
    }
    EXPECT_EQ(std::string(60, '-') + "\r**\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ("A Targa was writed : out.tga\n    Width:2 Height:4 with 16777216 colors\n",
              testing::internal::GetCapturedStderr());
    ASSERT_EQ(2u, progress.calls.size());
    EXPECT_EQ(std::make_pair(1, 4), progress.calls[1]);
}

}  // namespace

// Large pictures have their pages committed ahead by a helper thread: rows
// written while it runs keep their bytes, a fresh picture reads as zeros, and
// freeing a picture at once (the helper still running) is safe.
TEST(PicturePages, CommittedAheadKeepTheirBytes) {
    for (unsigned threads : {0u, 1u}) {
        SCOPED_TRACE(threads);
        setWorkThreads(threads);
        OwnedImage picture;
        ASSERT_TRUE(createImage(&picture, IMG_RGB, 4, 4000, 3000));
        bool zeros = true;
        for (int32_t y = 0; y < picture.height; y += 97) zeros = zeros && imageRow(&picture, y)[y % 100] == 0;
        EXPECT_TRUE(zeros);
        for (int32_t y = 0; y < picture.height; ++y) memset(imageRow(&picture, y), y & 0xFF, size_t(picture.width) * 3);
        long wrong = 0;
        for (int32_t y = 0; y < picture.height; ++y) {
            const uint8_t* r = imageRow(&picture, y);
            for (int32_t x = 0; x < picture.width * 3; x += 251) wrong += r[x] != (y & 0xFF);
        }
        EXPECT_EQ(wrong, 0);
        for (int i = 0; i < 12; ++i) {  // more pictures than helpers, freed while committed
            Image quick;
            ASSERT_TRUE(createImage(&quick, IMG_RGB32, 4, 3000, 2000));
            imageRow(&quick, 1999)[0] = 1;
            freeImage(&quick);
            EXPECT_EQ(quick.pixels, nullptr);
        }
    }
    setWorkThreads(0);
}
