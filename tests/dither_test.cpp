// Colour reduction and dithering: result kinds, colour counts and palettes of
// every menu conversion on every source kind; hand-checked dithers; adaptive
// palettes; expansion to true colour; the colour count.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <vector>

#include "dither.h"
#include "optestutil.h"

using namespace optest;

namespace {

const uint16_t kAllKinds[] = {IMG_BINARY, IMG_GREY, IMG_PALETTE, IMG_RGB, IMG_RGB32, IMG_BGR, IMG_BGR32};

// A 16 x 16 picture of the kind with some variety: a checker for black and
// white, 16 levels for grey, 20 palette colours, a gradient for true colour.
void makeSample(Image* img, uint16_t kind) {
    const int w = 16, h = 16;
    std::vector<uint8_t> v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (kind == IMG_BINARY)
                v.push_back((x + y) & 1);
            else if (kind == IMG_GREY)
                v.push_back(static_cast<uint8_t>((x + y) % 16));
            else if (kind == IMG_PALETTE)
                v.push_back(static_cast<uint8_t>((x + 3 * y) % 20));
            else {
                v.push_back(static_cast<uint8_t>(x * 16));
                v.push_back(static_cast<uint8_t>(y * 16 + 5));
                v.push_back(static_cast<uint8_t>((x * y) & 255));
            }
        }
    ASSERT_TRUE(makeImage(img, kind, w, h, v, kind == IMG_GREY ? 16 : kind == IMG_PALETTE ? 20 : 0, 0x7F));
    if (kind == IMG_PALETTE)
        for (int i = 0; i < 20; ++i)
            setPaletteEntry(img, i, static_cast<uint8_t>(i * 12), static_cast<uint8_t>(255 - i * 11),
                            static_cast<uint8_t>((i * 97) & 255));
    img->orientation = OR_BOTTOM_UP;
    img->xdpi = 300;
    img->ydpi = 150;
}

int cubeSize(int colours) {
    return colours == 128 ? 256 : colours;
}

}  // namespace

// Every menu conversion on every source kind: kind, colour count, palette,
// value range, size, orientation and resolution of the result.
TEST(Dither, EveryCodeOnEveryKind) {
    for (uint16_t kind : kAllKinds) {
        for (int code = 1; code <= CONVERSION_COUNT; ++code) {
            SCOPED_TRACE(std::string(kindName(kind)) + " code " + std::to_string(code));
            OwnedImage src;
            makeSample(&src, kind);
            const int srcDistinct = countColours(&src);
            const Conversion* c = conversionByCode(code);
            ASSERT_NE(c, nullptr);
            ASSERT_EQ(convertWithCode(&src, nullptr, code), ST_OK);
            EXPECT_EQ(src.width, 16);
            EXPECT_EQ(src.height, 16);
            EXPECT_EQ(src.orientation, OR_BOTTOM_UP);
            EXPECT_EQ(src.xdpi, 300);
            EXPECT_EQ(src.ydpi, 150);
            const int n = targetLevels(c->target);
            int limit = 256;
            if (code <= 4) {
                EXPECT_EQ(src.kind, IMG_BINARY);
                EXPECT_EQ(src.colours, 2);
                EXPECT_EQ(src.palette, nullptr);
                limit = 2;
            } else if (code <= 17) {
                EXPECT_EQ(src.kind, IMG_GREY);
                EXPECT_EQ(src.colours, n);
                EXPECT_EQ(src.palette, nullptr);
                limit = n;
            } else if (code <= 24) {
                EXPECT_EQ(src.kind, IMG_PALETTE);
                ASSERT_NE(src.palette, nullptr);
                EXPECT_GE(src.colours, 1);
                EXPECT_LE(src.colours, n);
                // No more colours than asked: every colour is kept.
                if (srcDistinct <= n) EXPECT_EQ(src.colours, srcDistinct);
                limit = src.colours;
                for (int i = src.colours; i < 256; ++i) EXPECT_EQ(paletteEntry(src, i), (Rgb3{0, 0, 0})) << i;
            } else if (code <= 31) {
                EXPECT_EQ(src.kind, IMG_PALETTE);
                ASSERT_NE(src.palette, nullptr);
                EXPECT_EQ(src.colours, cubeSize(n));
                limit = src.colours;
            } else {
                EXPECT_EQ(src.kind, (kind & IMG_TRUECOLOUR) ? kind : IMG_RGB);
                EXPECT_EQ(src.colours, 0);
                limit = -1;
            }
            if (limit > 0)
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x) ASSERT_LT(valueAt(src, x, y), limit) << x << "," << y;
        }
    }
}

// Black and white to true colour and back keeps every pixel; grey levels and
// palette colours survive the expansion.
TEST(Dither, TrueColourShowsTheSameColours) {
    for (uint16_t kind : kAllKinds) {
        SCOPED_TRACE(kindName(kind));
        OwnedImage src, dst;
        makeSample(&src, kind);
        ASSERT_EQ(convertImage(&src, &dst, CT_TRUECOLOUR, DM_THRESHOLD), ST_OK);
        ASSERT_NE(src.pixels, nullptr);  // the source stays when a destination is given
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) ASSERT_EQ(colourAt(dst, x, y), colourAt(src, x, y)) << x << "," << y;
        if (kind & IMG_32BIT) EXPECT_EQ(xByteAt(dst, 3, 3), 0x7F);
    }
}

TEST(Dither, SixteenLevelGreyIsSpreadToTrueColour) {
    OwnedImage src;
    ASSERT_TRUE(makeImage(&src, IMG_GREY, 3, 1, {0, 8, 15}, 16));
    ASSERT_EQ(convertImage(&src, nullptr, CT_TRUECOLOUR, DM_NONE), ST_OK);
    EXPECT_EQ(colourAt(src, 0, 0), (Rgb3{0, 0, 0}));
    EXPECT_EQ(colourAt(src, 1, 0), (Rgb3{136, 136, 136}));
    EXPECT_EQ(colourAt(src, 2, 0), (Rgb3{255, 255, 255}));
}

// The 16 x 16 ordered matrix: three known rows and every threshold once.
TEST(Dither, OrderedMatrixRows) {
    const uint8_t row0[16] = {0, 128, 32, 160, 8, 136, 40, 168, 2, 130, 34, 162, 10, 138, 42, 170};
    const uint8_t row1[16] = {192, 64, 224, 96, 200, 72, 232, 104, 194, 66, 226, 98, 202, 74, 234, 106};
    const uint8_t row15[16] = {255, 127, 223, 95, 247, 119, 215, 87, 253, 125, 221, 93, 245, 117, 213, 85};
    std::set<int> all;
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(orderedThreshold16(0, x), row0[x]) << x;
        EXPECT_EQ(orderedThreshold16(1, x), row1[x]) << x;
        EXPECT_EQ(orderedThreshold16(15, x), row15[x]) << x;
    }
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) all.insert(orderedThreshold16(y, x));
    EXPECT_EQ(all.size(), 256u);  // every threshold once
}

// "Binaire (Tramé)" of black gives one white dot per 16 x 16 tile, where the
// matrix holds 0; white stays white.
TEST(Dither, OrderedBlackHasOneWhiteDotPerTile) {
    for (uint16_t kind : {IMG_GREY, IMG_RGB, IMG_BGR32, IMG_PALETTE}) {
        SCOPED_TRACE(kindName(kind));
        const int w = 40, h = 35;
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, kind, w, h, std::vector<uint8_t>(w * h * 3, 0)));
        ASSERT_EQ(convertWithCode(&img, nullptr, 1), ST_OK);
        ASSERT_EQ(img.kind, IMG_BINARY);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(valueAt(img, x, y), (x % 16 == 0 && y % 16 == 0) ? 1 : 0) << x << "," << y;
    }
    OwnedImage white;
    ASSERT_TRUE(makeImage(&white, IMG_GREY, 20, 20, std::vector<uint8_t>(400, 255)));
    ASSERT_EQ(convertWithCode(&white, nullptr, 1), ST_OK);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(valueAt(white, x, y), 1);
}

// Error diffusion of a uniform 128 grey, worked by hand: 3/8 right, 3/8 below,
// 1/4 below right, divisions truncating toward zero.
TEST(Dither, FloydSteinbergHandChecked) {
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_GREY, 4, 2, std::vector<uint8_t>(8, 128)));
    ASSERT_EQ(convertWithCode(&img, nullptr, 2), ST_OK);
    const uint8_t expect[2][4] = {{1, 0, 1, 0}, {0, 1, 0, 1}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(valueAt(img, x, y), expect[y][x]) << x << "," << y;
}

// Error diffusion and the halftone screens keep the average brightness of
// uniform greys.
TEST(Dither, DitheredGreyKeepsItsAverage) {
    struct Case {
        int code;
        double tolerance;
    };
    const Case cases[] = {{1, 0.01}, {2, 0.02}, {3, 0.03}, {4, 0.03}};
    for (const Case& c : cases)
        for (int g : {0, 30, 64, 100, 128, 180, 220, 255}) {
            SCOPED_TRACE("code " + std::to_string(c.code) + " grey " + std::to_string(g));
            const int w = 96, h = 96;
            OwnedImage img;
            ASSERT_TRUE(makeImage(&img, IMG_GREY, w, h, std::vector<uint8_t>(w * h, static_cast<uint8_t>(g))));
            ASSERT_EQ(convertWithCode(&img, nullptr, c.code), ST_OK);
            long white = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) white += valueAt(img, x, y);
            EXPECT_NEAR(static_cast<double>(white) / (w * h), g / 255.0, c.tolerance + 1.0 / 36);
        }
}

// The halftone screens hold each of 1..36 once: a uniform grey g whitens
// exactly g x 36 div 255 cells of each 6 x 6 tile.
TEST(Dither, HalftoneScreensCountCells) {
    for (int method : {DM_HALFTONE45, DM_HALFTONE90}) {
        std::set<int> cells;
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) cells.insert(method == DM_HALFTONE45 ? halftone45(y, x) : halftone90(y, x));
        EXPECT_EQ(cells.size(), 36u);
        EXPECT_EQ(*cells.begin(), 1);
        EXPECT_EQ(*cells.rbegin(), 36);
        for (int g : {0, 7, 8, 128, 200, 254, 255}) {
            OwnedImage img;
            ASSERT_TRUE(makeImage(&img, IMG_GREY, 6, 6, std::vector<uint8_t>(36, static_cast<uint8_t>(g))));
            ASSERT_EQ(convertImage(&img, nullptr, CT_BINARY, method), ST_OK);
            int white = 0;
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 6; ++x) white += valueAt(img, x, y);
            EXPECT_EQ(white, g * 36 / 255) << "method " << method << " grey " << g;
        }
    }
    // The first screen cells, by hand: 45 degrees has 1 at (1,1), 90 degrees at (2,2).
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_GREY, 6, 6, std::vector<uint8_t>(36, 8)));  // 8 x 36 / 255 = 1
    ASSERT_EQ(convertWithCode(&img, nullptr, 3), ST_OK);
    EXPECT_EQ(valueAt(img, 1, 1), 1);
    EXPECT_EQ(valueAt(img, 0, 0), 0);
}

TEST(Dither, ThresholdAt127) {
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_GREY, 4, 1, {0, 126, 127, 255}));
    ASSERT_EQ(convertImage(&img, nullptr, CT_BINARY, DM_THRESHOLD), ST_OK);
    EXPECT_EQ(valueAt(img, 0, 0), 0);
    EXPECT_EQ(valueAt(img, 1, 0), 0);
    EXPECT_EQ(valueAt(img, 2, 0), 1);
    EXPECT_EQ(valueAt(img, 3, 0), 1);
}

// Grey of true colour is (77 R + 150 G + 29 B) shr 8: pure red 76, green 149, blue 28.
TEST(Dither, GreyLevelsWithoutDither) {
    struct Case {
        int code;
        Rgb3 colour;
        uint8_t expect;
    };
    const Case cases[] = {
        {11, {255, 0, 0}, 76},   {11, {0, 255, 0}, 149}, {11, {0, 0, 255}, 28},  {11, {255, 255, 255}, 255},
        {11, {0, 0, 0}, 0},      {7, {128, 128, 128}, 7}, {7, {255, 255, 255}, 15}, {5, {0, 255, 0}, 1},
        {5, {255, 255, 255}, 3}, {10, {100, 100, 100}, 49},
    };
    for (const Case& c : cases) {
        for (uint16_t kind : {IMG_RGB, IMG_BGR32}) {
            OwnedImage img;
            ASSERT_TRUE(makeImage(&img, kind, 1, 1, {c.colour.r, c.colour.g, c.colour.b}));
            ASSERT_EQ(convertWithCode(&img, nullptr, c.code), ST_OK);
            EXPECT_EQ(valueAt(img, 0, 0), c.expect) << "code " << c.code << " " << kindName(kind);
        }
    }
}

// "16 Niveaux de Gris" of a 16-level grey keeps every value.
TEST(Dither, SameLevelsRoundTrip) {
    std::vector<uint8_t> v;
    for (int i = 0; i < 16; ++i) v.push_back(static_cast<uint8_t>(i));
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_GREY, 16, 1, v, 16));
    ASSERT_EQ(convertWithCode(&img, nullptr, 7), ST_OK);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(valueAt(img, x, 0), x);
}

// Ordered grey dither, by hand: 4 levels, step 85; grey 128 has base level 1
// and fraction trunc(43 / (85 / 63)) = 31, so a cell becomes 2 where the 8 x 8
// matrix holds less than 31.
TEST(Dither, OrderedGreyLevelsHandChecked) {
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_GREY, 8, 2, std::vector<uint8_t>(16, 128)));
    ASSERT_EQ(convertWithCode(&img, nullptr, 12), ST_OK);
    ASSERT_EQ(img.colours, 4);
    const uint8_t expect[2][8] = {{2, 1, 2, 1, 2, 1, 2, 1}, {2, 2, 1, 2, 2, 2, 1, 2}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(valueAt(img, x, y), expect[y][x]) << x << "," << y;
    // Black and white stay at the ends.
    OwnedImage ends;
    ASSERT_TRUE(makeImage(&ends, IMG_GREY, 8, 8, std::vector<uint8_t>(64, 0)));
    for (int i = 32; i < 64; ++i) imageRow(&ends, i / 8)[i % 8] = 255;
    ASSERT_EQ(convertWithCode(&ends, nullptr, 17), ST_OK);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(valueAt(ends, i % 8, i / 8), i < 32 ? 0 : 127) << i;
}

// The dithered palettes: a uniform cube, red outermost.
TEST(Dither, DitheredCubePalettes) {
    struct Case {
        int code;
        int colours;
        int rn, gn, bn;
    };
    const Case cases[] = {{25, 8, 2, 2, 2},   {26, 16, 4, 2, 2},  {27, 32, 4, 2, 4},  {28, 64, 4, 4, 4},
                          {29, 256, 8, 4, 8}, {30, 216, 6, 6, 6}, {31, 256, 8, 4, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        OwnedImage img;
        // Pure primaries and black and white land on the cube's corners.
        ASSERT_TRUE(makeImage(&img, IMG_RGB, 5, 1, {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255}));
        ASSERT_EQ(convertWithCode(&img, nullptr, c.code), ST_OK);
        ASSERT_EQ(img.colours, c.colours);
        const int gb = c.gn * c.bn;
        EXPECT_EQ(valueAt(img, 0, 0), (c.rn - 1) * gb);
        EXPECT_EQ(valueAt(img, 1, 0), (c.gn - 1) * c.bn);
        EXPECT_EQ(valueAt(img, 2, 0), c.bn - 1);
        EXPECT_EQ(valueAt(img, 3, 0), 0);
        EXPECT_EQ(valueAt(img, 4, 0), c.colours - 1);
        EXPECT_EQ(paletteEntry(img, (c.rn - 1) * gb), (Rgb3{255, 0, 0}));
        EXPECT_EQ(paletteEntry(img, c.colours - 1), (Rgb3{255, 255, 255}));
        // Entry 1 is the first blue step.
        EXPECT_EQ(paletteEntry(img, 1), (Rgb3{0, 0, static_cast<uint8_t>(255 / (c.bn - 1))}));
    }
}

// Adaptive palettes reproduce pictures of at most N colours exactly.
TEST(Dither, AdaptiveReproducesFewColoursExactly) {
    const Rgb3 colours[] = {{1, 2, 3},     {250, 17, 90}, {251, 17, 90}, {0, 0, 0},  {255, 255, 255},
                            {13, 200, 77}, {100, 100, 99}, {3, 2, 1},   {77, 0, 255}};
    for (int code = 18; code <= 24; ++code)
        for (uint16_t kind : {IMG_RGB, IMG_RGB32, IMG_BGR, IMG_BGR32}) {
            SCOPED_TRACE(std::to_string(code) + " " + kindName(kind));
            const int n = targetLevels(conversionByCode(code)->target);
            const int used = n < 9 ? n : 9;
            std::vector<uint8_t> v;
            for (int i = 0; i < 7 * 5; ++i) {
                const Rgb3& c = colours[(i * 5) % used];
                v.insert(v.end(), {c.r, c.g, c.b});
            }
            OwnedImage src, dst;
            ASSERT_TRUE(makeImage(&src, kind, 7, 5, v));
            ASSERT_EQ(convertWithCode(&src, &dst, code), ST_OK);
            ASSERT_EQ(dst.kind, IMG_PALETTE);
            EXPECT_EQ(dst.colours, used);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x) ASSERT_EQ(colourAt(dst, x, y), colourAt(src, x, y)) << x << "," << y;
        }
}

// A true-colour picture with 5 colours reduced to 256 keeps exactly 5 entries.
TEST(Dither, FiveColoursKeepFiveEntries) {
    std::vector<uint8_t> v;
    for (int i = 0; i < 100; ++i) {
        int k = (i / 3) % 5;
        v.insert(v.end(), {static_cast<uint8_t>(k * 50), static_cast<uint8_t>(255 - k * 40), 9});
    }
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_RGB, 10, 10, v));
    ASSERT_EQ(convertWithCode(&img, nullptr, 24), ST_OK);
    EXPECT_EQ(img.colours, 5);
    EXPECT_EQ(countColours(&img), 5);
}

// Palette and grey sources with no more colours than asked keep them in order.
TEST(Dither, AdaptiveKeepsSmallPalettesAndSpreadsGrey) {
    OwnedImage pal;
    std::vector<uint8_t> v;
    for (int i = 0; i < 24; ++i) v.push_back(static_cast<uint8_t>(i % 12));
    ASSERT_TRUE(makeImage(&pal, IMG_PALETTE, 6, 4, v, 12));
    for (int i = 0; i < 12; ++i) setPaletteEntry(&pal, i, static_cast<uint8_t>(i * 20), 7, static_cast<uint8_t>(200 - i));
    ASSERT_EQ(convertWithCode(&pal, nullptr, 19), ST_OK);  // 16 colours
    EXPECT_EQ(pal.colours, 12);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(valueAt(pal, i % 6, i / 6), i % 12);
    EXPECT_EQ(paletteEntry(pal, 11), (Rgb3{220, 7, 189}));

    // A 16-level grey picture gets a grey ramp, not 16 near-black entries.
    OwnedImage grey;
    v.clear();
    for (int i = 0; i < 16; ++i) v.push_back(static_cast<uint8_t>(i));
    ASSERT_TRUE(makeImage(&grey, IMG_GREY, 16, 1, v, 16));
    ASSERT_EQ(convertWithCode(&grey, nullptr, 24), ST_OK);
    ASSERT_EQ(grey.kind, IMG_PALETTE);
    EXPECT_EQ(grey.colours, 16);
    EXPECT_EQ(paletteEntry(grey, 15), (Rgb3{255, 255, 255}));
    EXPECT_EQ(paletteEntry(grey, 1), (Rgb3{17, 17, 17}));

    // A grey picture that claims a single colour is read as 256 levels.
    OwnedImage one;
    ASSERT_TRUE(makeImage(&one, IMG_GREY, 2, 1, {0, 200}, 1));
    ASSERT_EQ(convertWithCode(&one, nullptr, 32), ST_OK);
    EXPECT_EQ(colourAt(one, 1, 0), (Rgb3{200, 200, 200}));

    // Black and white to 8 colours: black then white.
    OwnedImage bw;
    ASSERT_TRUE(makeImage(&bw, IMG_BINARY, 2, 1, {1, 0}));
    ASSERT_EQ(convertWithCode(&bw, nullptr, 18), ST_OK);
    EXPECT_EQ(bw.colours, 2);
    EXPECT_EQ(colourAt(bw, 0, 0), (Rgb3{255, 255, 255}));
    EXPECT_EQ(colourAt(bw, 1, 0), (Rgb3{0, 0, 0}));
}

// Many colours: at most N boxes, and every pixel close to its palette colour;
// more colours give a closer picture.
TEST(Dither, AdaptiveSubdivisionOfAGradient) {
    const int w = 64, h = 64;
    std::vector<uint8_t> v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v.insert(v.end(), {static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 4),
                               static_cast<uint8_t>((x + y) * 2)});
    double lastError = 1e9;
    for (int code = 18; code <= 24; ++code) {
        SCOPED_TRACE(code);
        const int n = targetLevels(conversionByCode(code)->target);
        OwnedImage src, dst;
        ASSERT_TRUE(makeImage(&src, IMG_RGB, w, h, v));
        ASSERT_EQ(convertWithCode(&src, &dst, code), ST_OK);
        EXPECT_LE(dst.colours, n);
        EXPECT_GE(dst.colours, n / 2);  // the subdivision fills most of the palette
        double error = 0;
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                Rgb3 a = colourAt(src, x, y), b = colourAt(dst, x, y);
                int d = abs(a.r - b.r) + abs(a.g - b.g) + abs(a.b - b.b);
                error += d;
                if (d > worst) worst = d;
                ASSERT_LT(valueAt(dst, x, y), dst.colours);
            }
        error /= w * h;
        EXPECT_LT(worst, 3 * 128);
        EXPECT_LE(error, lastError);
        lastError = error;
    }
    EXPECT_LT(lastError, 16.0);
}

// A low-contrast picture whose colours all lie within one octant of the cube
// (components 64..127) still gets a full palette, not a single box.
TEST(Dither, AdaptiveLowContrastPicture) {
    const int w = 64, h = 64;
    std::vector<uint8_t> v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            v.insert(v.end(), {static_cast<uint8_t>(64 + x), static_cast<uint8_t>(64 + y), static_cast<uint8_t>(64 + (x ^ y))});
    for (int code : {18, 21, 24}) {
        const int n = targetLevels(conversionByCode(code)->target);
        OwnedImage src, dst;
        ASSERT_TRUE(makeImage(&src, IMG_RGB, w, h, v));
        ASSERT_EQ(convertWithCode(&src, &dst, code), ST_OK);
        EXPECT_GE(dst.colours, n / 2) << code;
        EXPECT_LE(dst.colours, n) << code;
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                Rgb3 a = colourAt(src, x, y), b = colourAt(dst, x, y);
                worst = std::max({worst, abs(a.r - b.r), abs(a.g - b.g), abs(a.b - b.b)});
            }
        EXPECT_LE(worst, 256 / n * 8) << code;
    }
}

// Every 6-bit colour present (2^18 colours): not quadratic, finishes fast.
TEST(Dither, AdaptiveOnAllColoursIsFast) {
    const int w = 512, h = 512;
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 4, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t c = static_cast<uint32_t>(y) * w + x;  // 18 bits
            uint8_t* p = imageRow(&img, y) + 3 * x;
            p[0] = static_cast<uint8_t>(((c >> 12) & 63) << 2);
            p[1] = static_cast<uint8_t>(((c >> 6) & 63) << 2);
            p[2] = static_cast<uint8_t>((c & 63) << 2);
        }
    EXPECT_EQ(countColours(&img), 1 << 18);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(convertWithCode(&img, nullptr, 24), ST_OK);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Two whole levels give 64 boxes (a third would give 512); then single
    // splits of 8 octants each while they fit: 64 + 27 x 7 = 253.
    EXPECT_EQ(img.colours, 253);
    EXPECT_LT(seconds, 2.0);
}

// Palette sources with more colours than asked go through the subdivision.
TEST(Dither, AdaptiveReducesALargePalette) {
    std::vector<uint8_t> v;
    for (int i = 0; i < 256; ++i) v.push_back(static_cast<uint8_t>(i));
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_PALETTE, 16, 16, v, 256));
    for (int i = 0; i < 256; ++i)
        setPaletteEntry(&img, i, static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7));
    ASSERT_EQ(convertWithCode(&img, nullptr, 18), ST_OK);
    EXPECT_LE(img.colours, 8);
    EXPECT_GE(img.colours, 4);
    EXPECT_EQ(countColours(&img), img.colours);
}

TEST(Dither, CountColours) {
    struct Case {
        uint16_t kind;
        std::vector<uint8_t> values;
        int expect;
    };
    const Case cases[] = {
        {IMG_BINARY, {0, 1, 1, 0}, 2},
        {IMG_GREY, {5, 5, 5, 5}, 1},
        {IMG_PALETTE, {0, 3, 200, 3}, 3},
        {IMG_RGB, {1, 2, 3, 1, 2, 3, 3, 2, 1, 0, 0, 0}, 3},
        {IMG_BGR, {1, 2, 3, 1, 2, 4, 1, 2, 3, 1, 2, 3}, 2},
        {IMG_RGB32, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}, 1},
        {IMG_BGR32, {0, 0, 0, 255, 255, 255, 0, 0, 1, 1, 0, 0}, 4},
    };
    for (const Case& c : cases) {
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, c.kind, 2, 2, c.values, 0, 0x55));
        // A fourth byte that varies must not count as colour.
        if (c.kind & IMG_32BIT) imageRow(&img, 1)[4 + (c.kind == IMG_BGR32 ? 0 : 3)] = 0x11;
        EXPECT_EQ(countColours(&img), c.expect) << kindName(c.kind);
    }
    EXPECT_EQ(countColours(nullptr), -1);
}

// A destination receives the result and the source stays; failures change nothing.
TEST(Dither, DestinationAndRefusals) {
    OwnedImage src, dst;
    makeSample(&src, IMG_RGB);
    uint8_t* before = src.pixels;
    ASSERT_EQ(convertImage(&src, &dst, CT_GREY16, DM_NONE), ST_OK);
    EXPECT_EQ(src.pixels, before);
    EXPECT_EQ(src.kind, IMG_RGB);
    EXPECT_EQ(dst.kind, IMG_GREY);
    // A destination that already holds a picture gets it replaced.
    ASSERT_EQ(convertImage(&src, &dst, CT_BINARY, DM_THRESHOLD), ST_OK);
    EXPECT_EQ(dst.kind, IMG_BINARY);

    const int badTargets[] = {0, 8, 10, 11, 20, -1, 1000};
    for (int t : badTargets) {
        EXPECT_EQ(convertImage(&src, nullptr, t, DM_NONE), ST_OP_BAD_PARAMETER) << t;
        EXPECT_EQ(src.kind, IMG_RGB);
        EXPECT_EQ(src.pixels, before);
    }
    EXPECT_EQ(convertImage(&src, nullptr, CT_BINARY, 6), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(convertImage(&src, nullptr, CT_BINARY, -1), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(convertWithCode(&src, nullptr, 0), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(convertWithCode(&src, nullptr, 33), ST_OP_BAD_PARAMETER);

    Image empty{};
    EXPECT_EQ(convertImage(&empty, nullptr, CT_BINARY, DM_NONE), ST_KIND_REFUSED);
    EXPECT_EQ(convertImage(nullptr, nullptr, CT_BINARY, DM_NONE), ST_KIND_REFUSED);
    OwnedImage odd;
    makeSample(&odd, IMG_RGB);
    odd.kind = 0x0300;  // not a kind
    EXPECT_EQ(convertImage(&odd, nullptr, CT_BINARY, DM_NONE), ST_KIND_REFUSED);
    odd.kind = IMG_RGB;
    odd.bytesPerPixel = 4;  // does not match the kind
    EXPECT_EQ(convertImage(&odd, nullptr, CT_BINARY, DM_NONE), ST_KIND_REFUSED);
    odd.bytesPerPixel = 3;
    odd.stride = 10;  // shorter than a row
    EXPECT_EQ(convertImage(&odd, nullptr, CT_BINARY, DM_NONE), ST_KIND_REFUSED);
}

// Stored values outside the levels or colours a picture declares never read
// outside its tables.
TEST(Dither, ValuesBeyondTheDeclaredLevels) {
    OwnedImage grey;
    ASSERT_TRUE(makeImage(&grey, IMG_GREY, 3, 1, {0, 15, 250}, 16));
    ASSERT_EQ(convertWithCode(&grey, nullptr, 32), ST_OK);
    EXPECT_EQ(colourAt(grey, 2, 0), (Rgb3{255, 255, 255}));

    OwnedImage pal;
    ASSERT_TRUE(makeImage(&pal, IMG_PALETTE, 3, 1, {0, 1, 9}, 2));
    setPaletteEntry(&pal, 0, 0, 0, 0);
    setPaletteEntry(&pal, 1, 250, 250, 250);
    setPaletteEntry(&pal, 9, 240, 240, 255);
    ASSERT_EQ(convertWithCode(&pal, nullptr, 18), ST_OK);
    EXPECT_EQ(pal.colours, 2);
    EXPECT_EQ(valueAt(pal, 2, 0), 1);  // nearest of the colours in use
}

TEST(Dither, MenuConversionTable) {
    struct Case {
        int code;
        const char* label;
        int target;
        int method;
    };
    const Case cases[] = {
        {1, "Binaire (Tramé)", 1, 1},
        {2, "Binaire (Floyd Steinberg)", 1, 5},
        {3, "Binaire (Demi-Teinte 45)", 1, 2},
        {4, "Binaire (Demi-Teinte 90)", 1, 3},
        {5, "4 Niveaux de Gris", 2, 4},
        {10, "128 Niveaux de Gris", 7, 4},
        {11, "256 Niveaux de Gris", 9, 4},
        {12, "4 Niveaux de Gris (Tramé)", 2, 1},
        {17, "128 Niveaux de Gris (Tramé)", 7, 1},
        {18, "8 Couleurs (Adaptif)", 12, 4},
        {21, "64 Couleurs (Adaptive)", 15, 4},
        {24, "256 Couleurs (Adaptif)", 18, 4},
        {25, "8 Couleurs (Tramé)", 12, 1},
        {30, "216 Couleurs (Tramé)", 17, 1},
        {31, "256 Couleurs (Tramé)", 18, 1},
        {32, "Vraies couleurs", 19, 0},
    };
    for (const Case& c : cases) {
        const Conversion* k = conversionByCode(c.code);
        ASSERT_NE(k, nullptr) << c.code;
        EXPECT_EQ(k->code, c.code);
        EXPECT_EQ(k->command, 50 + c.code);
        EXPECT_STREQ(k->label, c.label);
        EXPECT_EQ(k->target, c.target);
        EXPECT_EQ(k->method, c.method);
    }
    std::set<std::string> labels;
    for (int code = 1; code <= CONVERSION_COUNT; ++code) labels.insert(conversionLabel(code));
    EXPECT_EQ(labels.size(), 32u);
    EXPECT_STREQ(conversionLabel(0), "Aucun");
    EXPECT_EQ(conversionLabel(33), nullptr);
    EXPECT_EQ(conversionByCode(0), nullptr);
}

// Level counts: 8 x 8 matrix values 0..50 as listed.
TEST(Dither, LevelMatrixCorners) {
    EXPECT_EQ(levelThreshold8(0, 0), 0);
    EXPECT_EQ(levelThreshold8(0, 7), 50);
    EXPECT_EQ(levelThreshold8(7, 0), 33);
    EXPECT_EQ(levelThreshold8(7, 7), 16);
    EXPECT_EQ(levelThreshold8(4, 4), 0);
    EXPECT_EQ(halftone45(5, 5), 12);
    EXPECT_EQ(halftone90(0, 5), 35);
}
