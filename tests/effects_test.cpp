// Effects: kinds, sizes and palettes kept, reproducible under a fixed seed,
// the displacement laws of the random effects checked on pictures whose
// pixels carry their own coordinates, oil painting against brute force, and
// mosaic and de-interlacing worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "effects.h"
#include "testpictures.h"

using namespace testpictures;

namespace {

using Effect = std::function<Status(Image*, Image*)>;

struct EffectCase {
    const char* name;
    Effect effect;
    bool averages;  // lifts palette and two-value pictures
    bool random;    // draws on the generator
};

std::vector<EffectCase> allEffects() {
    return {
        {"slice", [](Image* s, Image* d) { return sliceImage(s, d); }, false, true},
        {"shear", [](Image* s, Image* d) { return shearImage(s, d); }, false, true},
        {"spread 4", [](Image* s, Image* d) { return spreadImage(s, d, 4); }, false, true},
        {"tiles 2", [](Image* s, Image* d) { return randomTiles(s, d, 2); }, false, true},
        {"spiral 180", [](Image* s, Image* d) { return spiralImage(s, d, 180); }, true, false},
        {"mosaic 3", [](Image* s, Image* d) { return mosaicImage(s, d, 3); }, true, false},
        {"oil 2", [](Image* s, Image* d) { return oilPaint(s, d, 2); }, false, false},
        {"lens 100", [](Image* s, Image* d) { return lensImage(s, d, 100); }, false, false},
        {"wave", [](Image* s, Image* d) { return waveImage(s, d, 3.0, 5.0, 30.0); }, false, false},
        {"de-interlace duplication", [](Image* s, Image* d) { return deinterlace(s, d, 1, DEINTERLACE_DUPLICATE); }, false, false},
        {"de-interlace interpolation", [](Image* s, Image* d) { return deinterlace(s, d, 0, DEINTERLACE_INTERPOLATE); }, true, false},
    };
}

TEST(EffectsKinds, SizeKindAndPaletteKept) {
    setEffectSeed(2024);
    for (const EffectCase& e : allEffects()) {
        for (const KindCase& k : allKinds()) {
            SCOPED_TRACE(std::string(e.name) + " on " + k.name);
            OwnedImage image;
            ASSERT_TRUE(makePicture(&image, k.kind, 19, 12));
            OwnedImage out;
            ASSERT_EQ(e.effect(&image, &out), ST_OK);
            EXPECT_EQ(out.width, 19);
            EXPECT_EQ(out.height, 12);
            EXPECT_EQ(out.orientation, image.orientation);
            EXPECT_EQ(out.xdpi, image.xdpi);
            bool lifted = e.averages && (k.kind == IMG_PALETTE || k.kind == IMG_BINARY);
            if (!lifted) {
                EXPECT_EQ(out.kind, k.kind);
                EXPECT_EQ(out.colours, image.colours);
                if (k.kind == IMG_PALETTE) {
                    ASSERT_NE(out.palette, nullptr);
                    EXPECT_EQ(memcmp(out.palette, image.palette, PALETTE_BYTES), 0);
                }
            } else {
                EXPECT_EQ(out.kind, k.kind == IMG_PALETTE ? IMG_RGB : IMG_GREY);
            }
            if (out.kind == IMG_BINARY) {
                for (int y = 0; y < out.height; ++y)
                    for (int x = 0; x < out.width; ++x) ASSERT_LE(imageRow(&out, y)[x], 1);
            }
        }
    }
    setEffectSeedFromClock();
}

TEST(EffectsSeed, FixedSeedRepeatsAndOtherSeedsDiffer) {
    for (const EffectCase& e : allEffects()) {
        SCOPED_TRACE(e.name);
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, IMG_RGB, 64, 48));
        OwnedImage a, b, c;
        setEffectSeed(5);
        ASSERT_EQ(e.effect(&image, &a), ST_OK);
        ASSERT_EQ(e.effect(&image, &b), ST_OK);
        setEffectSeed(6);
        ASSERT_EQ(e.effect(&image, &c), ST_OK);
        setEffectSeedFromClock();
        EXPECT_EQ(differences(a, b), "");
        if (e.random) EXPECT_NE(differences(a, c), "");
        else EXPECT_EQ(differences(a, c), "");
    }
}

// ---- displacement laws -------------------------------------------------------

// An RGB picture whose pixel (x, y) is (x, y, 255): any non-black result pixel
// tells where it came from.
void makeCoordinates(Image* image, int w, int h) {
    ASSERT_TRUE(makePicture(image, IMG_RGB, w, h, [](int x, int y, int c) {
        return static_cast<uint8_t>(c == 0 ? x : c == 1 ? y : 255);
    }));
}

struct Origin {
    bool moved;  // false: black, nothing arrived
    int dx, dy;  // source minus result position
};

Origin originOf(const Image& image, int x, int y) {
    const uint8_t* p = pixelOf(image, x, y);
    if (p[2] != 255) return {false, 0, 0};
    return {true, p[0] - x, p[1] - y};
}

TEST(EffectsLaws, SliceMovesRowsAndColumnsByRuns) {
    OwnedImage image;
    makeCoordinates(&image, 200, 160);
    setEffectSeed(11);
    ASSERT_EQ(sliceImage(&image, nullptr), ST_OK);
    setEffectSeedFromClock();
    // Every row has one horizontal offset, every column one vertical offset, both -32..31.
    std::vector<int> rowOffset(160, 999), columnOffset(200, 999);
    long black = 0;
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 200; ++x) {
            Origin o = originOf(image, x, y);
            if (!o.moved) {
                ++black;
                continue;
            }
            ASSERT_GE(o.dx, -32);
            ASSERT_LE(o.dx, 31);
            ASSERT_GE(o.dy, -32);
            ASSERT_LE(o.dy, 31);
            if (rowOffset[y] == 999) rowOffset[y] = o.dx;
            if (columnOffset[x] == 999) columnOffset[x] = o.dy;
            ASSERT_EQ(o.dx, rowOffset[y]) << "row " << y;
            ASSERT_EQ(o.dy, columnOffset[x]) << "column " << x;
        }
    EXPECT_GT(black, 0);  // something fell outside
    // Offsets come in runs of at least 8 (the last run may be cut short).
    int run = 1;
    for (int x = 1; x < 200; ++x) {
        if (columnOffset[x] == 999 || columnOffset[x - 1] == 999) break;
        if (columnOffset[x] == columnOffset[x - 1]) {
            ++run;
        } else {
            EXPECT_GE(run, 8) << "column " << x;
            run = 1;
        }
    }
}

TEST(EffectsLaws, ShearWalksByOnePixel) {
    OwnedImage image;
    makeCoordinates(&image, 120, 100);
    setEffectSeed(3);
    ASSERT_EQ(shearImage(&image, nullptr), ST_OK);
    setEffectSeedFromClock();
    std::vector<int> rowOffset(100, 999), columnOffset(120, 999);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 120; ++x) {
            Origin o = originOf(image, x, y);
            if (!o.moved) continue;
            if (rowOffset[y] == 999) rowOffset[y] = o.dx;
            if (columnOffset[x] == 999) columnOffset[x] = o.dy;
            ASSERT_EQ(o.dx, rowOffset[y]);
            ASSERT_EQ(o.dy, columnOffset[x]);
        }
    // The walks start next to 0 and move by exactly one step (offsets are
    // known only where some pixel arrived).
    if (columnOffset[0] != 999) EXPECT_EQ(std::abs(columnOffset[0]), 1);
    if (rowOffset[0] != 999) EXPECT_EQ(std::abs(rowOffset[0]), 1);
    int steps = 0;
    for (int x = 1; x < 120; ++x)
        if (columnOffset[x] != 999 && columnOffset[x - 1] != 999) {
            EXPECT_EQ(std::abs(columnOffset[x] - columnOffset[x - 1]), 1);
            ++steps;
        }
    for (int y = 1; y < 100; ++y)
        if (rowOffset[y] != 999 && rowOffset[y - 1] != 999) {
            EXPECT_EQ(std::abs(rowOffset[y] - rowOffset[y - 1]), 1);
            ++steps;
        }
    EXPECT_GT(steps, 150);
}

TEST(EffectsLaws, SpreadStaysWithinItsDistance) {
    for (int a : {1, 2, 5, 32}) {
        SCOPED_TRACE(a);
        OwnedImage image;
        makeCoordinates(&image, 90, 70);
        OwnedImage original;
        ASSERT_TRUE(copyPicture(image, &original));
        setEffectSeed(8);
        ASSERT_EQ(spreadImage(&image, nullptr, a), ST_OK);
        setEffectSeedFromClock();
        if (a == 1) {
            EXPECT_EQ(differences(image, original), "");  // any value mod 1 is 0
            continue;
        }
        int lo = -(a / 2), hi = a - 1 - a / 2;
        bool sawLo = false, sawHi = false;
        for (int y = 0; y < 70; ++y)
            for (int x = 0; x < 90; ++x) {
                Origin o = originOf(image, x, y);
                if (!o.moved) continue;
                ASSERT_GE(o.dx, lo);
                ASSERT_LE(o.dx, hi);
                ASSERT_GE(o.dy, lo);
                ASSERT_LE(o.dy, hi);
                sawLo |= o.dx == lo;
                sawHi |= o.dy == hi;
            }
        EXPECT_TRUE(sawLo);
        EXPECT_TRUE(sawHi);
    }
}

TEST(EffectsLaws, TilesMoveWholeAndLeaveTheLastOnesOut) {
    const int a = 4, w = 50, h = 30;
    OwnedImage image;
    makeCoordinates(&image, w, h);
    setEffectSeed(17);
    ASSERT_EQ(randomTiles(&image, nullptr, a), ST_OK);
    setEffectSeedFromClock();
    // Tiles start at multiples of a while x < w - a and y < h - a.
    const int lastX = (w - a - 1) / a * a, lastY = (h - a - 1) / a * a;
    std::vector<std::vector<int>> seen(h, std::vector<int>(w, 0));
    std::vector<std::pair<int, int>> tileShift((w / a + 1) * (h / a + 1), {999, 999});
    long arrived = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Origin o = originOf(image, x, y);
            if (!o.moved) continue;
            ++arrived;
            int sx = x + o.dx, sy = y + o.dy;
            ASSERT_LE(sx, lastX + a - 1);
            ASSERT_LE(sy, lastY + a - 1);
            // Displacements of -16..15, the same for the whole tile.
            ASSERT_GE(-o.dx, -16);
            ASSERT_LE(-o.dx, 15);
            ASSERT_GE(-o.dy, -16);
            ASSERT_LE(-o.dy, 15);
            auto& shift = tileShift[(sy / a) * (w / a + 1) + sx / a];
            if (shift.first == 999) shift = {o.dx, o.dy};
            ASSERT_EQ(shift, std::make_pair(o.dx, o.dy));
        }
    EXPECT_GT(arrived, 0);
}

TEST(EffectsLaws, TilesOfSizeOne) {
    // Size 1 never stalls; with no tile column left (width 1) nothing is copied.
    OwnedImage column;
    makeCoordinates(&column, 1, 10);
    ASSERT_EQ(randomTiles(&column, nullptr, 1), ST_OK);
    for (int y = 0; y < 10; ++y) EXPECT_FALSE(originOf(column, 0, y).moved);
    OwnedImage square;
    makeCoordinates(&square, 10, 10);
    ASSERT_EQ(randomTiles(&square, nullptr, 1), ST_OK);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            Origin o = originOf(square, x, y);
            if (o.moved) {
                EXPECT_LT(x + o.dx, 9);  // the last column and row are never copied
                EXPECT_LT(y + o.dy, 9);
            }
        }
}

// ---- byte-wise effects by hand ---------------------------------------------------

TEST(EffectsByHand, MosaicOneSharesBorders) {
    //  0 10 20      each block (x, y) averages x..x+1 by y..y+1 (cut to the
    // 30 40 50      picture); later blocks overwrite the shared row and column,
    // 60 70 80      so each pixel shows the block that starts on it.
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 3, 3, [](int x, int y, int) { return static_cast<uint8_t>(10 * x + 30 * y); }));
    ASSERT_EQ(mosaicImage(&image, nullptr, 1), ST_OK);
    const int expected[3][3] = {{20, 30, 35}, {50, 60, 65}, {65, 75, 80}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(imageRow(&image, y)[x], expected[y][x]) << x << "," << y;
}

TEST(EffectsByHand, MosaicBlocksAreFlat) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_BGR, 10, 7));
    ASSERT_EQ(mosaicImage(&image, nullptr, 4), ST_OK);
    // Blocks start at 0, 4, 8; the pixels strictly inside a block (not on a
    // shared border) carry one value.
    for (int c = 0; c < 3; ++c) {
        uint8_t v = pixelOf(image, 0, 0)[c];
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(pixelOf(image, x, y)[c], v);
        uint8_t w = pixelOf(image, 4, 4)[c];
        for (int y = 4; y < 7; ++y)
            for (int x = 4; x < 8; ++x) EXPECT_EQ(pixelOf(image, x, y)[c], w);
    }
}

TEST(EffectsByHand, Deinterlace) {
    const int rows[5] = {10, 200, 31, 0, 255};
    struct Case {
        const char* name;
        int parity, fill;
        int expected[5];
    } cases[] = {
        {"even rows duplicated", 0, DEINTERLACE_DUPLICATE, {10, 10, 31, 31, 255}},
        {"odd rows duplicated, last row repeats the last odd row", 1, DEINTERLACE_DUPLICATE, {200, 200, 0, 0, 0}},
        {"even rows interpolated", 0, DEINTERLACE_INTERPOLATE, {10, 20, 31, 143, 255}},
        {"odd rows interpolated, first and last kept", 1, DEINTERLACE_INTERPOLATE, {10, 200, 100, 0, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, IMG_GREY, 2, 5, [&](int, int y, int) { return static_cast<uint8_t>(rows[y]); }));
        ASSERT_EQ(deinterlace(&image, nullptr, c.parity, c.fill), ST_OK);
        for (int y = 0; y < 5; ++y) {
            EXPECT_EQ(imageRow(&image, y)[0], c.expected[y]) << "row " << y;
            EXPECT_EQ(imageRow(&image, y)[1], c.expected[y]) << "row " << y;
        }
    }
    // One row and no odd row to keep: the row stays.
    OwnedImage single;
    ASSERT_TRUE(makePicture(&single, IMG_GREY, 3, 1, [](int x, int, int) { return static_cast<uint8_t>(x + 1); }));
    ASSERT_EQ(deinterlace(&single, nullptr, 1, DEINTERLACE_DUPLICATE), ST_OK);
    EXPECT_EQ(imageRow(&single, 0)[2], 3);
}

TEST(EffectsByHand, InterpolationAveragesColoursNotIndices) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_PALETTE, 1, 3, [](int, int y, int) { return static_cast<uint8_t>(y == 1 ? 0 : 100); }));
    ASSERT_EQ(deinterlace(&image, nullptr, 0, DEINTERLACE_INTERPOLATE), ST_OK);
    ASSERT_EQ(image.kind, IMG_RGB);
    // Entry 100 is (100, 155, 700 & 255 = 188); the middle row averages rows 0 and 2.
    EXPECT_EQ(pixelOf(image, 0, 1)[0], 100);
    EXPECT_EQ(pixelOf(image, 0, 1)[1], 155);
    EXPECT_EQ(pixelOf(image, 0, 1)[2], 188);
}

// ---- spiral, lens, wave ----------------------------------------------------------

TEST(EffectsGeometry, SpiralKeepsCentreAndCorners) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 20, 20));
    OwnedImage original;
    ASSERT_TRUE(copyPicture(image, &original));
    ASSERT_EQ(spiralImage(&image, nullptr, 270), ST_OK);
    EXPECT_EQ(imageRow(&image, 10)[10], imageRow(&original, 10)[10]);  // the centre
    for (auto corner : {std::make_pair(0, 0), std::make_pair(19, 0), std::make_pair(0, 19), std::make_pair(19, 19)})
        EXPECT_EQ(imageRow(&image, corner.second)[corner.first], imageRow(&original, corner.second)[corner.first]);
    EXPECT_NE(differences(image, original), "");
    // A zero angle changes nothing.
    OwnedImage still;
    ASSERT_TRUE(copyPicture(original, &still));
    ASSERT_EQ(spiralImage(&still, nullptr, 0), ST_OK);
    EXPECT_EQ(differences(still, original), "");
}

TEST(EffectsGeometry, SpiralTurnsAQuarterNearTheCentre) {
    // Near the centre k is almost 1, so with angle 90 each pixel shows the
    // source point a quarter turn clockwise from it: the pixel left of the
    // centre (200.5, 200.5) shows the one above it.
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 401, 401, [](int x, int y, int) {
        return static_cast<uint8_t>(x == 200 && y == 198 ? 255 : 0);
    }));
    ASSERT_EQ(spiralImage(&image, nullptr, 90), ST_OK);
    int bx = -1, by = -1, best = 0;
    for (int y = 190; y < 211; ++y)
        for (int x = 190; x < 211; ++x)
            if (imageRow(&image, y)[x] > best) {
                best = imageRow(&image, y)[x];
                bx = x;
                by = y;
            }
    EXPECT_GT(best, 100);
    EXPECT_NEAR(bx, 198, 1);
    EXPECT_NEAR(by, 201, 1);
}

TEST(EffectsGeometry, LensMagnifiesInsideItsEllipseOnly) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_PALETTE, 40, 30));
    OwnedImage original;
    ASSERT_TRUE(copyPicture(image, &original));
    ASSERT_EQ(lensImage(&image, nullptr, 50), ST_OK);
    EXPECT_EQ(image.kind, IMG_PALETTE);
    int changed = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            double u = (x - 20.0) * 2 / 20, v = (y - 15.0) * 2 / 15;
            bool same = imageRow(&image, y)[x] == imageRow(&original, y)[x];
            if (u * u + v * v >= 1.0) EXPECT_TRUE(same) << x << "," << y;
            changed += !same;
        }
    EXPECT_GT(changed, 20);
    // The centre shows the centre; its neighbour two pixels right shows the one a pixel right.
    EXPECT_EQ(imageRow(&image, 15)[20], imageRow(&original, 15)[20]);
    EXPECT_EQ(imageRow(&image, 15)[22], imageRow(&original, 15)[21]);
}

TEST(EffectsGeometry, WaveWithoutAmplitudeIsIdentity) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_RGB32, 17, 23));
    OwnedImage original;
    ASSERT_TRUE(copyPicture(image, &original));
    ASSERT_EQ(waveImage(&image, nullptr, 3.0, 0.0, 45.0), ST_OK);
    EXPECT_EQ(differences(image, original), "");
    ASSERT_EQ(waveImage(&image, nullptr, 4.0, 3.0, 0.0), ST_OK);
    EXPECT_NE(differences(image, original), "");
}

// ---- oil painting against brute force ---------------------------------------------

int oilReference(const Image& image, int x, int y, int c, int a) {
    int counts[256] = {0};
    int best = -1, bestCount = 0;
    for (int j = std::max(0, y - a); j <= std::min(image.height - 1, y + a); ++j)
        for (int i = std::max(0, x - a); i <= std::min(image.width - 1, x + a); ++i) {
            int v = pixelOf(image, i, j)[c];
            if (++counts[v] > bestCount) {
                bestCount = counts[v];
                best = v;
            }
        }
    return best;
}

TEST(EffectsOil, MatchesTheScanOrderRule) {
    std::mt19937 random(777);
    struct Shape {
        uint16_t kind;
        int w, h;
    } shapes[] = {{IMG_GREY, 21, 15}, {IMG_RGB, 9, 8}, {IMG_PALETTE, 2, 3}, {IMG_BGR32, 40, 4}};
    for (const Shape& s : shapes) {
        for (int a : {1, 2, 3, 7, 16}) {
            for (int distinct : {2, 5, 256}) {
                SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h) + " radius " + std::to_string(a) +
                             " values " + std::to_string(distinct));
                OwnedImage image;
                ASSERT_TRUE(makePicture(&image, s.kind, s.w, s.h, [&](int, int, int) { return static_cast<uint8_t>(random() % distinct); }));
                OwnedImage out;
                ASSERT_EQ(oilPaint(&image, &out, a), ST_OK);
                for (int y = 0; y < s.h; ++y)
                    for (int x = 0; x < s.w; ++x)
                        for (int c = 0; c < image.bytesPerPixel; ++c)
                            ASSERT_EQ(pixelOf(out, x, y)[c], oilReference(image, x, y, c, a)) << x << "," << y << " byte " << c;
            }
        }
    }
}

// ---- refusals and batch entries ----------------------------------------------------

TEST(EffectsRefusals, ParametersOutOfRange) {
    struct Case {
        const char* name;
        std::function<Status(Image*)> effect;
    } cases[] = {
        {"tiles 0 would never advance", [](Image* i) { return randomTiles(i, nullptr, 0); }},
        {"tiles 65", [](Image* i) { return randomTiles(i, nullptr, 65); }},
        {"spread 0", [](Image* i) { return spreadImage(i, nullptr, 0); }},
        {"spread 33", [](Image* i) { return spreadImage(i, nullptr, 33); }},
        {"mosaic 0", [](Image* i) { return mosaicImage(i, nullptr, 0); }},
        {"oil 0", [](Image* i) { return oilPaint(i, nullptr, 0); }},
        {"oil 17", [](Image* i) { return oilPaint(i, nullptr, 17); }},
        {"lens 0", [](Image* i) { return lensImage(i, nullptr, 0); }},
        {"spiral 361", [](Image* i) { return spiralImage(i, nullptr, 361); }},
        {"wave length below 1", [](Image* i) { return waveImage(i, nullptr, 0.99, 5.0, 0.0); }},
        {"wave length 0", [](Image* i) { return waveImage(i, nullptr, 0.0, 5.0, 0.0); }},
        {"wave infinite amplitude", [](Image* i) { return waveImage(i, nullptr, 3.0, INFINITY, 0.0); }},
        {"de-interlace parity 2", [](Image* i) { return deinterlace(i, nullptr, 2, DEINTERLACE_DUPLICATE); }},
        {"de-interlace fill 2", [](Image* i) { return deinterlace(i, nullptr, 0, 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, IMG_GREY, 8, 8));
        uint8_t* before = image.pixels;
        EXPECT_EQ(c.effect(&image), ST_OP_BAD_PARAMETER);
        EXPECT_EQ(image.pixels, before);
    }
    Image empty{};
    EXPECT_EQ(sliceImage(&empty, nullptr), ST_KIND_REFUSED);
    EXPECT_EQ(oilPaint(&empty, nullptr, 1), ST_KIND_REFUSED);
}

TEST(EffectsBatch, TableEntriesRun) {
    const char* options[] = {"-mosaic", "-slice", "-tile", "-shear", "-oil", "-swirl", "-spread", "-lens", "-waves"};
    setEffectSeed(4);
    for (const char* option : options) {
        int index = findOp(option);
        ASSERT_GE(index, 0) << option;
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, index));
        for (const KindCase& k : allKinds()) {
            SCOPED_TRACE(std::string(option) + " on " + k.name);
            OwnedImage image;
            ASSERT_TRUE(makePicture(&image, k.kind, 7, 9));
            ASSERT_EQ(runOp(&image, op), ST_OK);
            EXPECT_EQ(image.width, 7);
            EXPECT_EQ(image.height, 9);
        }
    }
    // The wave entry: length, phase, amplitude; a real amplitude moves pixels.
    OpInstance waves;
    ASSERT_TRUE(initOpInstance(&waves, findOp("-waves")));
    waves.reals[2] = 4.0;
    OwnedImage image, original;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 30, 30));
    ASSERT_TRUE(copyPicture(image, &original));
    ASSERT_EQ(runOp(&image, waves), ST_OK);
    EXPECT_NE(differences(image, original), "");
    setEffectSeedFromClock();
}

}  // namespace
