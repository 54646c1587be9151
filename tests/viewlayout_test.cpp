// Image window geometry: zoom steps, displayed and fitted sizes, scroll
// layout, the screen copy of a region, and stepping through files and pages.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display.h"
#include "viewlayout.h"

namespace {

TEST(ViewZoom, Steps) {
    struct Case {
        int from, in, out;
    } cases[] = {
        {1, 2, -2},      // from 1:1, "Zoom -" gives 1:2
        {-2, -1, -3},    // from 1:2, "Zoom +" gives -1 (still 1:1)
        {-1, 2, -2},     // and once more 2:1
        {16, 16, 15},    // the largest zoom stays
        {-16, -15, -16}, // the smallest zoom stays
        {-15, -14, -16},
        {15, 16, 14},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zoomIn(c.from), c.in) << c.from;
        EXPECT_EQ(zoomOut(c.from), c.out) << c.from;
    }
    const int presets[] = {16, 8, 4, 2, 1, -2, -4, -8, -16};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(zoomPreset(145 + i), presets[i]);
    EXPECT_EQ(zoomPreset(144), 0);
    EXPECT_EQ(zoomPreset(154), 0);
}

TEST(ViewZoom, DisplayedSizes) {
    struct Case {
        int32_t w, h;
        int zoom;
        int32_t dw, dh;
    } cases[] = {
        {640, 480, 1, 640, 480},   {640, 480, -1, 640, 480}, {640, 480, 2, 1280, 960},
        {640, 480, -4, 160, 120},  {5, 3, -16, 1, 1},        // never below 1 x 1
        {65535, 65535, 16, 1048560, 1048560},                // sizes in 64 bits
        {7, 5, -2, 3, 2},                                    // integer division
    };
    for (const Case& c : cases) {
        int32_t dw, dh;
        zoomedSize(c.w, c.h, c.zoom, &dw, &dh);
        EXPECT_EQ(dw, c.dw) << c.w << "x" << c.h << " zoom " << c.zoom;
        EXPECT_EQ(dh, c.dh);
    }
}

TEST(ViewZoom, FitKeepsTheAspectRatio) {
    struct Case {
        int32_t w, h, cw, ch, dw, dh;
    } cases[] = {
        {400, 200, 800, 600, 800, 400},    // enlarged to the width
        {200, 400, 800, 600, 300, 600},    // enlarged to the height
        {4000, 3000, 800, 600, 800, 600},  // reduced exactly
        {3000, 1, 300, 300, 300, 1},       // never below one pixel
        {1, 3000, 300, 300, 1, 300},
        {640, 480, 0, 0, 1, 1},            // an empty client area
    };
    for (const Case& c : cases) {
        int32_t dw, dh;
        fitSize(c.w, c.h, c.cw, c.ch, &dw, &dh);
        EXPECT_EQ(dw, c.dw) << c.w << "x" << c.h << " in " << c.cw << "x" << c.ch;
        EXPECT_EQ(dh, c.dh);
    }
}

TEST(ViewLayoutTest, BarsOffsetsAndCentring) {
    const int32_t bar = 16;
    struct Case {
        const char* name;
        int32_t dw, dh, areaW, areaH;
        bool noBars;
        int32_t scrollX, scrollY;
        bool hBar, vBar;
        int32_t offX, offY, maxX, maxY;
    } cases[] = {
        {"smaller: centred", 100, 50, 300, 200, false, 0, 0, false, false, -100, -75, 0, 0},
        {"wider: horizontal bar takes height", 400, 50, 300, 200, false, 0, 0, true, false, 0, -67, 100, 0},
        {"wider and nearly as tall: both bars", 400, 190, 300, 200, false, 0, 0, true, true, 0, 0, 116, 6},
        {"larger both ways", 1000, 800, 300, 200, false, 50, 70, true, true, 50, 70, 716, 616},
        {"scroll clamped to the range", 1000, 800, 300, 200, false, 5000, -3, true, true, 716, 0, 716, 616},
        {"full screen: no bars, middle shown", 1000, 800, 300, 200, true, 0, 0, false, false, 350, 300, 0, 0},
        {"exactly the area: no bars", 300, 200, 300, 200, false, 0, 0, false, false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ViewLayout l = layoutView(c.dw, c.dh, c.areaW, c.areaH, bar, bar, c.noBars, c.scrollX, c.scrollY);
        EXPECT_EQ(l.x.bar, c.hBar) << c.name;
        EXPECT_EQ(l.y.bar, c.vBar) << c.name;
        EXPECT_EQ(l.x.offset, c.offX) << c.name;
        EXPECT_EQ(l.y.offset, c.offY) << c.name;
        EXPECT_EQ(l.x.maxPosition, c.maxX) << c.name;
        EXPECT_EQ(l.y.maxPosition, c.maxY) << c.name;
    }
}

TEST(ViewLayoutTest, VisibleRegion) {
    struct Case {
        int32_t dw, dh, cw, ch, ox, oy;
        ViewRegion expected;
    } cases[] = {
        {100, 50, 300, 200, -100, -75, {0, 0, 100, 50}},        // centred: the whole picture
        {1000, 800, 300, 200, 50, 70, {50, 70, 300, 200}},      // scrolled: the window's part
        {1000, 800, 300, 200, 900, 700, {900, 700, 100, 100}},  // at the far edges
        {1000, 800, 0, 200, 0, 0, {0, 0, 0, 0}},                // no client area
    };
    for (const Case& c : cases) {
        ViewRegion r = visibleRegion(c.dw, c.dh, c.cw, c.ch, c.ox, c.oy);
        EXPECT_EQ(r.x, c.expected.x);
        EXPECT_EQ(r.y, c.expected.y);
        EXPECT_EQ(r.width, c.expected.width);
        EXPECT_EQ(r.height, c.expected.height);
    }
}

// A picture whose every pixel tells its position.
void fillPicture(Image* img, int kind, int32_t w, int32_t h) {
    ASSERT_TRUE(createImage(img, static_cast<uint16_t>(kind), 4, w, h));
    const int bpp = kindBytesPerPixel(kind);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = imageRow(img, y);
        for (int32_t x = 0; x < w; ++x)
            for (int b = 0; b < bpp; ++b) row[x * bpp + b] = static_cast<uint8_t>(x * 7 + y * 13 + b * 50);
    }
    if (kind == IMG_PALETTE && img->palette)
        for (int i = 0; i < 256; ++i) {
            img->palette[i] = static_cast<uint8_t>(255 - i);
            img->palette[256 + i] = static_cast<uint8_t>(i);
            img->palette[512 + i] = static_cast<uint8_t>(i * 3);
        }
    if (kind == IMG_GREY) img->colours = 256;
}

// Blue, green, red of the displayed pixel (x, y) of a 24-bit copy.
const uint8_t* copyPixel(const DibBuffer& d, int32_t x, int32_t y) {
    return d.pixels.get() + static_cast<size_t>(d.height - 1 - (y - d.originY)) * d.stride + (x - d.originX) * 3;
}

TEST(ViewRender, RegionOfZoomedPictureMatchesNearestNeighbour) {
    const int kinds[] = {IMG_RGB, IMG_BGR, IMG_RGB32, IMG_BGR32, IMG_GREY, IMG_PALETTE};
    DisplayTables tables;
    buildDisplayTables(&tables);
    for (int kind : kinds) {
        OwnedImage img;
        fillPicture(&img, kind, 37, 23);
        // The same picture at 1:1 gives each pixel's colour.
        DibBuffer whole;
        ASSERT_TRUE(buildDib(img, 24, tables, &whole)) << kind;
        struct Zoom {
            int32_t dw, dh;
            ViewRegion region;
        } zooms[] = {
            {37 * 3, 23 * 3, {10, 5, 50, 40}},  // 3:1, a window onto the middle
            {18, 11, {0, 0, 18, 11}},           // 1:2, the whole reduced picture
            {37, 23, {36, 22, 1, 1}},           // 1:1, the last pixel alone
        };
        for (const Zoom& z : zooms) {
            DibBuffer copy;
            ASSERT_TRUE(renderView(img, 24, tables, z.dw, z.dh, z.region, &copy));
            EXPECT_EQ(copy.width, z.region.width);
            EXPECT_EQ(copy.height, z.region.height);
            EXPECT_EQ(copy.stride % 4, 0);
            for (int32_t y = z.region.y; y < z.region.y + z.region.height; ++y)
                for (int32_t x = z.region.x; x < z.region.x + z.region.width; ++x) {
                    int32_t sx = static_cast<int32_t>(static_cast<int64_t>(x) * 37 / z.dw);
                    int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * 23 / z.dh);
                    ASSERT_EQ(memcmp(copyPixel(copy, x, y), copyPixel(whole, sx, sy), 3), 0)
                        << "kind " << kind << " display " << x << "," << y;
                }
        }
    }
}

TEST(ViewRender, DitherFollowsDisplayedPositions) {
    // On 256-colour displays a region must show exactly the pixels of the
    // whole copy at the same place, or scrolling would shift the pattern.
    DisplayTables tables;
    buildDisplayTables(&tables);
    OwnedImage img;
    fillPicture(&img, IMG_RGB, 40, 30);
    DibBuffer whole, part;
    ASSERT_TRUE(renderView(img, 8, tables, 80, 60, {0, 0, 80, 60}, &whole));
    ASSERT_TRUE(renderView(img, 8, tables, 80, 60, {13, 7, 30, 20}, &part));
    EXPECT_EQ(part.colourCount, 216);
    for (int32_t y = 7; y < 27; ++y)
        for (int32_t x = 13; x < 43; ++x) {
            uint8_t a = whole.pixels[static_cast<size_t>(59 - y) * whole.stride + x];
            uint8_t b = part.pixels[static_cast<size_t>(19 - (y - 7)) * part.stride + (x - 13)];
            ASSERT_EQ(a, b) << x << "," << y;
        }
}

TEST(ViewRender, RefusesRegionsOutsideThePicture) {
    DisplayTables tables;
    buildDisplayTables(&tables);
    OwnedImage img;
    fillPicture(&img, IMG_RGB, 10, 10);
    DibBuffer d;
    EXPECT_FALSE(renderView(img, 24, tables, 20, 20, {15, 0, 10, 5}, &d));
    EXPECT_FALSE(renderView(img, 24, tables, 20, 20, {-1, 0, 5, 5}, &d));
    EXPECT_FALSE(renderView(img, 24, tables, 20, 20, {0, 0, 0, 5}, &d));
    // A huge zoom costs only the region.
    EXPECT_TRUE(renderView(img, 24, tables, 160000, 160000, {80000, 80000, 64, 64}, &d));
    EXPECT_LE(d.capacity, 64u * 64u * 3u);
}

TEST(ViewStep, FileTargets) {
    struct Case {
        NavKind kind;
        int position, count, target;
    } cases[] = {
        {NAV_NEXT, 2, 5, 3},     {NAV_NEXT, 4, 5, -1},     // past the last: nothing
        {NAV_NEXT, 5, 5, 4},                               // current file gone: the last entry
        {NAV_PREVIOUS, 2, 5, 1}, {NAV_PREVIOUS, 0, 5, 0},  // at the start: the current one
        {NAV_PREVIOUS, 5, 5, 0},                           // not found: the first
        {NAV_FIRST, 3, 5, 0},    {NAV_LAST, 0, 5, 4},      {NAV_NEXT, 0, 0, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stepTarget(c.kind, c.position, c.count), c.target) << c.kind << " " << c.position;
    EXPECT_EQ(stepDirection(NAV_NEXT), 1);
    EXPECT_EQ(stepDirection(NAV_FIRST), 1);
    EXPECT_EQ(stepDirection(NAV_PREVIOUS), -1);
    EXPECT_EQ(stepDirection(NAV_LAST), -1);
    std::vector<std::string> list = {"C:\\a\\x.bmp", "C:\\a\\y.bmp"};
    EXPECT_EQ(findInList(list, "C:\\a\\y.bmp"), 1);
    EXPECT_EQ(findInList(list, "C:\\a\\Y.bmp"), 2);  // exact comparison
}

TEST(ViewStep, PageTargets) {
    EXPECT_EQ(pageTarget(NAV_NEXT, 0, 3), 1);
    EXPECT_EQ(pageTarget(NAV_NEXT, 2, 3), 2);
    EXPECT_EQ(pageTarget(NAV_PREVIOUS, 0, 3), 0);
    EXPECT_EQ(pageTarget(NAV_LAST, 0, 3), 2);
    EXPECT_EQ(pageTarget(NAV_FIRST, 2, 3), 0);
    EXPECT_EQ(pageTarget(NAV_NEXT, 0, 1), 0);
}

}  // namespace
