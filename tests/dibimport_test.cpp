// Clipboard and capture bitmaps (packed DIBs) checked and read into images;
// print geometry; wallpaper values.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dibimport.h"
#include "kit.h"
#include "printlogic.h"
#include "testutil.h"
#include "wallpaper.h"

namespace {

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// A packed DIB with zeroed bits: header, optional masks, colour table, rows.
std::vector<uint8_t> dib(int32_t w, int32_t h, int bpp, uint32_t compression = 0, uint32_t used = 0,
                         int tableEntries = -1) {
    size_t masks = compression == 3 ? 12 : 0;
    int entries = tableEntries >= 0 ? tableEntries : bpp <= 8 ? (used ? static_cast<int>(used) : 1 << bpp) : 0;
    size_t stride = ((static_cast<size_t>(w > 0 ? w : 0) * bpp + 31) / 32) * 4;
    size_t rows = static_cast<size_t>(h < 0 ? -static_cast<int64_t>(h) : h);
    if (rows > 4096) rows = 0;  // hostile sizes: no bits at all
    std::vector<uint8_t> b(40 + masks + entries * 4 + stride * rows, 0);
    put32(b, 0, 40);
    put32(b, 4, static_cast<uint32_t>(w));
    put32(b, 8, static_cast<uint32_t>(h));
    put16(b, 12, 1);
    put16(b, 14, static_cast<uint16_t>(bpp));
    put32(b, 16, compression);
    put32(b, 32, used);
    return b;
}

TEST(DibImport, RefusedBlocks) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        DibResult result;
    } cases[] = {
        {"short block", std::vector<uint8_t>(20, 0), DIB_NOT_INFO_HEADER},
        {"core header", [] { auto b = dib(4, 4, 8); put32(b, 0, 12); return b; }(), DIB_NOT_INFO_HEADER},
        {"V5 header", [] { auto b = dib(4, 4, 24); put32(b, 0, 124); return b; }(), DIB_NOT_INFO_HEADER},
        {"zero height", dib(4, 0, 24), DIB_UNSUPPORTED},
        {"zero width", dib(0, 4, 24), DIB_UNSUPPORTED},
        {"negative width", dib(-4, 4, 24), DIB_UNSUPPORTED},
        {"two planes", [] { auto b = dib(4, 4, 8); put16(b, 12, 2); return b; }(), DIB_UNSUPPORTED},
        {"RLE8", dib(4, 4, 8, 1), DIB_UNSUPPORTED},
        {"JPEG inside", dib(4, 4, 24, 4), DIB_UNSUPPORTED},
        {"bit fields at 8 bits", dib(4, 4, 8, 3), DIB_UNSUPPORTED},
        {"2 bits", dib(4, 4, 2), DIB_UNSUPPORTED},
        {"300 colours", dib(4, 4, 8, 0, 300, 0), DIB_UNSUPPORTED},
        {"split mask", [] { auto b = dib(4, 4, 32, 3); put32(b, 40, 0x00FF00FF); return b; }(), DIB_UNSUPPORTED},
        {"truncated rows", [] { auto b = dib(16, 16, 24); b.resize(b.size() - 1); return b; }(), DIB_TRUNCATED},
        {"table past the end", dib(4, 1, 8, 0, 0, 0), DIB_TRUNCATED},
        {"masks past the end", [] { auto b = dib(1, 1, 32); put32(b, 16, 3); b.resize(48); return b; }(),
         DIB_TRUNCATED},
        {"huge height", dib(1000, 0x7FFFFFFF, 24), DIB_TOO_LARGE},
        {"huge top-down height", dib(70000, -0x7FFFFFFF, 1), DIB_TOO_LARGE},
        {"most negative height", dib(4, INT32_MIN, 8), DIB_UNSUPPORTED},
    };
    for (const Case& c : cases) {
        OwnedImage img;
        EXPECT_EQ(imageFromPackedDib(c.bytes.data(), c.bytes.size(), &img), c.result) << c.what;
        EXPECT_EQ(img.pixels, nullptr) << c.what;
    }
    EXPECT_EQ(imageFromPackedDib(nullptr, 0, nullptr), DIB_NOT_INFO_HEADER);
}

TEST(DibImport, PaletteDepthsAndOrders) {
    // 1, 4 and 8 bits, bottom-up and top-down: index (x + 2y) mod colours.
    for (int bpp : {1, 4, 8}) {
        for (bool topDown : {false, true}) {
            const int w = 13, h = 5;
            std::vector<uint8_t> b = dib(w, topDown ? -h : h, bpp);
            int colours = 1 << bpp;
            size_t table = 40, bits = 40 + colours * 4;
            for (int i = 0; i < colours; ++i) {
                b[table + 4 * i] = static_cast<uint8_t>(i);          // blue
                b[table + 4 * i + 1] = static_cast<uint8_t>(2 * i);  // green
                b[table + 4 * i + 2] = static_cast<uint8_t>(3 * i);  // red
            }
            size_t stride = ((w * bpp + 31) / 32) * 4;
            for (int y = 0; y < h; ++y) {
                int stored = topDown ? y : h - 1 - y;
                for (int x = 0; x < w; ++x) {
                    int v = (x + 2 * y) % colours;
                    size_t bit = static_cast<size_t>(x) * bpp;
                    uint8_t& byte = b[bits + stored * stride + bit / 8];
                    byte |= static_cast<uint8_t>(v << (8 - bpp - bit % 8));
                }
            }
            OwnedImage img;
            ASSERT_EQ(imageFromPackedDib(b.data(), b.size(), &img), DIB_OK);
            EXPECT_EQ(img.kind, IMG_PALETTE);
            EXPECT_EQ(img.colours, colours);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(imageRow(&img, y)[x], (x + 2 * y) % colours) << bpp << " " << topDown;
            EXPECT_EQ(img.palette[1], 3);
            EXPECT_EQ(img.palette[256 + 1], 2);
            EXPECT_EQ(img.palette[512 + 1], 1);
        }
    }
}

TEST(DibImport, TrueColourAndBitFields) {
    // 24 bits: B, G, R in the file.
    std::vector<uint8_t> b = dib(2, 2, 24);
    const uint8_t rows[2][6] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};  // bottom row first
    memcpy(&b[40], rows[0], 6);
    memcpy(&b[48], rows[1], 6);
    OwnedImage img;
    ASSERT_EQ(imageFromPackedDib(b.data(), b.size(), &img), DIB_OK);
    EXPECT_EQ(img.kind, IMG_RGB);
    const uint8_t top[6] = {9, 8, 7, 12, 11, 10}, bottom[6] = {3, 2, 1, 6, 5, 4};
    EXPECT_EQ(memcmp(imageRow(&img, 0), top, 6), 0);
    EXPECT_EQ(memcmp(imageRow(&img, 1), bottom, 6), 0);

    // 32-bit bit fields with red in the low byte; 16-bit 565 and the 555 default.
    struct Case {
        int bpp;
        uint32_t compression, r, g, b, pixel;
        uint8_t rgb[3];
    } cases[] = {
        {32, 3, 0x000000FF, 0x0000FF00, 0x00FF0000, 0x00C08040, {0x40, 0x80, 0xC0}},
        {32, 0, 0, 0, 0, 0x00112233, {0x11, 0x22, 0x33}},
        {16, 3, 0xF800, 0x07E0, 0x001F, 0xFFE0, {255, 255, 0}},
        {16, 0, 0, 0, 0, 0x7C00, {255, 0, 0}},
        {16, 0, 0, 0, 0, 0x0210, {0, 132, 132}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> d = dib(1, -1, c.bpp, c.compression);
        size_t at = 40;
        if (c.compression == 3) {
            put32(d, 40, c.r);
            put32(d, 44, c.g);
            put32(d, 48, c.b);
            at = 52;
        }
        if (c.bpp == 16) put16(d, at, static_cast<uint16_t>(c.pixel));
        else put32(d, at, c.pixel);
        OwnedImage one;
        ASSERT_EQ(imageFromPackedDib(d.data(), d.size(), &one), DIB_OK);
        EXPECT_EQ(imageRow(&one, 0)[0], c.rgb[0]) << c.pixel;
        EXPECT_EQ(imageRow(&one, 0)[1], c.rgb[1]) << c.pixel;
        EXPECT_EQ(imageRow(&one, 0)[2], c.rgb[2]) << c.pixel;
    }
}

TEST(DibImport, MatchesOurBitmapReaderOnOurBitmaps) {
    // A bitmap file less its 14-byte file header is a packed DIB.
    for (const char* kindName : {"palette", "rgb"}) {
        OwnedImage src;
        bool palette = std::string(kindName) == "palette";
        ASSERT_TRUE(createImage(&src, palette ? IMG_PALETTE : IMG_RGB, 4, 7, 3));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7 * src.bytesPerPixel; ++x) imageRow(&src, y)[x] = static_cast<uint8_t>(x * 9 + y);
        if (palette) {
            for (int i = 0; i < 768; ++i) src.palette[i] = static_cast<uint8_t>(i * 5);
            src.colours = 256;
        }
        std::string path = testutil::tempPath(std::string("dib_") + kindName + ".bmp");
        ASSERT_EQ(testutil::saveAs(&src, path, "bmp"), ST_OK);
        std::vector<uint8_t> file;
        ASSERT_TRUE(testutil::readFile(path, &file));
        ASSERT_GT(file.size(), 14u);
        OwnedImage fromDib, fromFile;
        ASSERT_EQ(imageFromPackedDib(file.data() + 14, file.size() - 14, &fromDib), DIB_OK);
        ASSERT_EQ(testutil::load(path, &fromFile), ST_OK);
        EXPECT_EQ(testutil::compareRgb(testutil::toRgb(fromDib), testutil::toRgb(fromFile)), 0) << kindName;
    }
}

// ---- Print geometry ----

TEST(PrintGeometry, OutputRectangles) {
    const PrintPage a4 = {4800, 6800, 600, 600};
    struct Case {
        int option;
        int32_t w, h, xs, ys;
        PrintPage page;
        PrintRect r;
    } cases[] = {
        {PRINT_BEST_SIZE, 400, 300, 1, 1, a4, {0, 1600, 4800, 3600}},
        // Much taller than wide: taller than the page, not reduced.
        {PRINT_BEST_SIZE, 100, 400, 1, 1, a4, {0, -6200, 4800, 19200}},
        // Different resolutions keep physical proportions.
        {PRINT_BEST_SIZE, 100, 100, 1, 1, {1200, 1000, 300, 150}, {0, 200, 1200, 600}},
        {PRINT_SCALE, 400, 300, 3, 2, a4, {1800, 3100, 1200, 600}},
        {PRINT_SCALE, 400, 300, 0, -1, a4, {2200, 3250, 400, 300}},
        // A square image stretched to the page.
        {PRINT_FIT_PAGE, 50, 50, 1, 1, a4, {0, 0, 4800, 6800}},
        // Sizes whose product overflows 32 bits (and 64 with the resolution).
        {PRINT_BEST_SIZE, 1, 2000000000, 1, 1, {2000000000, 100, 2000000000, 2000000000}, {0, 0, 0, 0}},
        {PRINT_BEST_SIZE, 40000, 50000, 1, 1, {60000, 80000, 1200, 1200}, {0, 2500, 60000, 75000}},
        // Bad resolutions fall back rather than divide by zero.
        {PRINT_BEST_SIZE, 100, 50, 1, 1, {1000, 1000, 0, 0}, {0, 250, 1000, 500}},
    };
    for (const Case& c : cases) {
        PrintRect r = printOutputRect(c.option, c.w, c.h, c.page, c.xs, c.ys);
        if (c.r.width == 0) {  // the overflow case: clamped, positive
            EXPECT_EQ(r.width, INT32_MAX / 4);
            EXPECT_EQ(r.height, INT32_MAX / 4);
            continue;
        }
        EXPECT_EQ(r.left, c.r.left) << c.option << " " << c.w << "x" << c.h;
        EXPECT_EQ(r.top, c.r.top) << c.option << " " << c.w << "x" << c.h;
        EXPECT_EQ(r.width, c.r.width) << c.option << " " << c.w << "x" << c.h;
        EXPECT_EQ(r.height, c.r.height) << c.option << " " << c.w << "x" << c.h;
    }
}

TEST(PrintGeometry, BandsMapBackToSourcePixels) {
    const PrintRect out = {100, 200, 1000, 500};  // a 100 x 50 image at 10:1
    PrintRect d, s;
    ASSERT_TRUE(printRegionPart(out, {0, 0, 2000, 3000}, 100, 50, &d, &s));
    EXPECT_EQ(d.left, 100);
    EXPECT_EQ(d.width, 1000);
    EXPECT_EQ(s.left, 0);
    EXPECT_EQ(s.width, 100);
    EXPECT_EQ(s.height, 50);
    // A band across the middle: rows 300-400 of the page are image rows 10-20.
    ASSERT_TRUE(printRegionPart(out, {0, 300, 2000, 100}, 100, 50, &d, &s));
    EXPECT_EQ(d.top, 300);
    EXPECT_EQ(d.height, 100);
    EXPECT_EQ(s.top, 10);
    EXPECT_EQ(s.height, 10);
    // Bands above or below the picture draw nothing.
    EXPECT_FALSE(printRegionPart(out, {0, 0, 2000, 200}, 100, 50, &d, &s));
    EXPECT_FALSE(printRegionPart(out, {0, 700, 2000, 100}, 100, 50, &d, &s));
    // Every band of a page covers the image rows once.
    int covered = 0;
    for (int band = 0; band < 3000; band += 64)
        if (printRegionPart(out, {0, band, 2000, 64}, 100, 50, &d, &s)) covered += s.height;
    EXPECT_GE(covered, 50);
    EXPECT_LE(covered, 50 + 8);
}

// ---- Wallpaper ----

DesktopValue v(const std::string& t) {
    DesktopValue d;
    d.present = true;
    d.text = t;
    return d;
}

TEST(Wallpaper, CentreTileAndPrevious) {
    const std::string own = wallpaperBitmapPath("C:\\WINDOWS");
    EXPECT_EQ(own, "C:\\WINDOWS\\kaleos wallpaper.bmp");
    DesktopValues user;
    user.wallpaper = v("C:\\Pictures\\sea.bmp");
    user.tileWallpaper = v("1");
    WallpaperPlan p = planWallpaper(WALLPAPER_CENTRE, user, own);
    ASSERT_EQ(p.writes.size(), 3u);
    EXPECT_EQ(p.writes[0].name, "PrevWallpaper");
    EXPECT_EQ(p.writes[0].value, "C:\\Pictures\\sea.bmp");
    EXPECT_EQ(p.writes[1].name, "PrevTileWallpaper");
    EXPECT_EQ(p.writes[1].value, "1");
    EXPECT_EQ(p.writes[2].name, "TileWallpaper");
    EXPECT_EQ(p.writes[2].value, "0");
    EXPECT_EQ(p.apply, own);
    EXPECT_EQ(planWallpaper(WALLPAPER_TILE, user, own).writes[2].value, "1");

    // Two wallpapers in a row: the second keeps the user's bitmap as previous.
    DesktopValues after;
    after.wallpaper = v("c:\\windows\\KALEOS WALLPAPER.BMP");
    after.tileWallpaper = v("0");
    after.prevWallpaper = v("C:\\Pictures\\sea.bmp");
    after.prevTileWallpaper = v("1");
    p = planWallpaper(WALLPAPER_TILE, after, own);
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_EQ(p.writes[0].name, "TileWallpaper");
    EXPECT_EQ(p.writes[0].value, "1");
    p = planWallpaper(WALLPAPER_PREVIOUS, after, own);
    EXPECT_EQ(p.apply, "C:\\Pictures\\sea.bmp");
    ASSERT_EQ(p.writes.size(), 1u);
    EXPECT_EQ(p.writes[0].value, "1");

    // Nothing set before: previous is empty, no tile value written back.
    DesktopValues none;
    p = planWallpaper(WALLPAPER_PREVIOUS, none, own);
    EXPECT_EQ(p.apply, "");
    EXPECT_TRUE(p.writes.empty());
    p = planWallpaper(WALLPAPER_CENTRE, none, own);
    EXPECT_EQ(p.writes[0].value, "");
    EXPECT_EQ(p.writes[1].value, "0");
}

}  // namespace
