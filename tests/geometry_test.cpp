// Geometry: exact results on hand-made pictures, round trips over every kind,
// clamping and refusals, and agreement with ImageMagick on a photo-like picture.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "geometry.h"
#include "kit.h"
#include "opsupport.h"
#include "testpictures.h"
#include "testutil.h"

using namespace testpictures;

namespace {

const char IM[] = "convert-im6.q16";

// A grey picture from rows of values.
void greyFrom(Image* image, const std::vector<std::vector<int>>& rows) {
    int h = static_cast<int>(rows.size()), w = static_cast<int>(rows[0].size());
    ASSERT_TRUE(makePicture(image, IMG_GREY, w, h, [&](int x, int y, int) { return static_cast<uint8_t>(rows[y][x]); }));
}

std::vector<std::vector<int>> greyRows(const Image& image) {
    std::vector<std::vector<int>> rows(image.height, std::vector<int>(image.width));
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) rows[y][x] = imageRow(&image, y)[x];
    return rows;
}

using Op = Status (*)(Image*, Image*);
Status rotPlus(Image* s, Image* d) { return rotateImage(s, d, 90); }
Status rotMinus(Image* s, Image* d) { return rotateImage(s, d, -90); }
Status rot270(Image* s, Image* d) { return rotateImage(s, d, 270); }
Status rot180(Image* s, Image* d) { return rotateImage(s, d, 180); }
Status rot0(Image* s, Image* d) { return rotateImage(s, d, 360); }

TEST(GeometryExact, MovesPixelsAsDescribed) {
    // 3 x 2 source:  1 2 3
    //                4 5 6
    const std::vector<std::vector<int>> src = {{1, 2, 3}, {4, 5, 6}};
    struct Case {
        const char* name;
        Op op;
        std::vector<std::vector<int>> expected;
    } cases[] = {
        {"flip", flipVertical, {{4, 5, 6}, {1, 2, 3}}},
        {"mirror", mirrorHorizontal, {{3, 2, 1}, {6, 5, 4}}},
        {"+90", rotPlus, {{4, 1}, {5, 2}, {6, 3}}},
        {"-90", rotMinus, {{3, 6}, {2, 5}, {1, 4}}},
        {"270", rot270, {{3, 6}, {2, 5}, {1, 4}}},
        {"180", rot180, {{6, 5, 4}, {3, 2, 1}}},
        {"360", rot0, {{1, 2, 3}, {4, 5, 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage image;
        greyFrom(&image, src);
        ASSERT_EQ(c.op(&image, nullptr), ST_OK);
        EXPECT_EQ(greyRows(image), c.expected);
    }
}

TEST(GeometryExact, CropNormalisesAndIntersects) {
    struct Case {
        const char* name;
        int x, y, w, h;
        Status status;
        int left, top, width, height;
    } cases[] = {
        {"inside", 1, 2, 3, 2, ST_OK, 1, 2, 3, 2},
        {"negative x shortens the width", -10, 0, 12, 1, ST_OK, 0, 0, 2, 1},
        {"runs past the right and bottom", 4, 3, 50, 50, ST_OK, 4, 3, 2, 2},
        {"negative width turns round", 5, 4, -3, -2, ST_OK, 2, 2, 3, 2},
        {"whole picture", 0, 0, 6, 5, ST_OK, 0, 0, 6, 5},
        {"outside on the right", 6, 0, 3, 3, ST_OP_BAD_PARAMETER, 0, 0, 0, 0},
        {"outside above", 0, -5, 3, 5, ST_OP_BAD_PARAMETER, 0, 0, 0, 0},
        {"empty", 2, 2, 0, 3, ST_OP_BAD_PARAMETER, 0, 0, 0, 0},
        {"no overflow at the extremes", INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, ST_OP_BAD_PARAMETER, 0, 0, 0, 0},
        {"huge rectangle ending before the picture", INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, ST_OP_BAD_PARAMETER, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, IMG_RGB, 6, 5));
        OwnedImage out;
        ASSERT_EQ(cropImage(&image, &out, c.x, c.y, c.w, c.h), c.status);
        if (c.status != ST_OK) {
            EXPECT_EQ(out.pixels, nullptr);
            EXPECT_EQ(image.width, 6);  // the source is untouched
            continue;
        }
        ASSERT_EQ(out.width, c.width);
        ASSERT_EQ(out.height, c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                ASSERT_EQ(memcmp(pixelOf(out, x, y), pixelOf(image, x + c.left, y + c.top), 3), 0) << x << "," << y;
    }
}

TEST(GeometryExact, CanvasCentresOrKeepsTopLeft) {
    // 200 x 50 on 100 x 100: 50 black columns on each side, rows 0..49 kept.
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 100, 100, [](int x, int y, int) { return static_cast<uint8_t>(1 + (x + y) % 200); }));
    ASSERT_EQ(canvasSize(&image, nullptr, 200, 50), ST_OK);
    ASSERT_EQ(image.width, 200);
    ASSERT_EQ(image.height, 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 200; ++x) {
            int expected = x < 50 || x >= 150 ? 0 : 1 + (x - 50 + y) % 200;
            ASSERT_EQ(imageRow(&image, y)[x], expected) << x << "," << y;
        }
    // Taller and narrower: centred vertically, left part kept.
    OwnedImage small;
    greyFrom(&small, {{1, 2, 3}, {4, 5, 6}});
    ASSERT_EQ(canvasSize(&small, nullptr, 2, 5), ST_OK);
    EXPECT_EQ(greyRows(small), (std::vector<std::vector<int>>{{0, 0}, {1, 2}, {4, 5}, {0, 0}, {0, 0}}));
}

TEST(GeometryExact, NearestResize) {
    OwnedImage image;
    greyFrom(&image, {{10, 20, 30, 40}, {50, 60, 70, 80}});
    OwnedImage half, wide;
    ASSERT_EQ(resizeImage(&image, &half, 2, 1, RESAMPLE_NEAREST), ST_OK);
    EXPECT_EQ(greyRows(half), (std::vector<std::vector<int>>{{10, 30}}));
    // 4 -> 6 columns: x * 4 div 6 = 0 0 1 2 2 3; 2 -> 3 rows: 0 0 1.
    ASSERT_EQ(resizeImage(&image, &wide, 6, 3, RESAMPLE_NEAREST), ST_OK);
    EXPECT_EQ(greyRows(wide), (std::vector<std::vector<int>>{
                                  {10, 10, 20, 30, 30, 40}, {10, 10, 20, 30, 30, 40}, {50, 50, 60, 70, 70, 80}}));
    EXPECT_EQ(greyRows(image)[0][3], 40);  // source untouched when a destination is given
}

TEST(GeometryExact, AreaResize) {
    OwnedImage row;
    greyFrom(&row, {{10, 20, 30, 40}});
    ASSERT_EQ(resizeImage(&row, nullptr, 2, 1, RESAMPLE_AREA), ST_OK);
    EXPECT_EQ(greyRows(row), (std::vector<std::vector<int>>{{15, 35}}));

    // Three source pixels into two: 1.5 source pixels each.
    OwnedImage three;
    greyFrom(&three, {{0, 100, 200}});
    ASSERT_EQ(resizeImage(&three, nullptr, 2, 1, RESAMPLE_AREA), ST_OK);
    EXPECT_EQ(greyRows(three), (std::vector<std::vector<int>>{{33, 166}}));

    // Enlarging interpolates between the two nearest pixels; the ends repeat.
    OwnedImage two;
    greyFrom(&two, {{0, 200}});
    ASSERT_EQ(resizeImage(&two, nullptr, 4, 1, RESAMPLE_AREA), ST_OK);
    EXPECT_EQ(greyRows(two), (std::vector<std::vector<int>>{{0, 50, 150, 200}}));
}

TEST(GeometryExact, AreaResizeKeepsFlatAreasAtAnyRatio) {
    // Averages of equal samples must come back equal, whatever the ratio.
    const int sizes[][2] = {{3, 2}, {7, 5}, {13, 11}, {1, 1}, {40, 3}, {2, 29}};
    for (auto s : sizes) {
        for (uint8_t v : {uint8_t{1}, uint8_t{77}, uint8_t{254}, uint8_t{255}}) {
            OwnedImage image;
            ASSERT_TRUE(makePicture(&image, IMG_BGR32, 17, 9, [v](int, int, int) { return v; }));
            ASSERT_EQ(resizeImage(&image, nullptr, s[0], s[1], RESAMPLE_AREA), ST_OK);
            for (int y = 0; y < image.height; ++y)
                for (int k = 0; k < image.width * 4; ++k) ASSERT_EQ(imageRow(&image, y)[k], v) << s[0] << "x" << s[1];
        }
    }
}

TEST(GeometryExact, AreaResizeOfBinaryAndPalettePictures) {
    // Black and white: the average becomes 1 above one half.
    OwnedImage bw;
    ASSERT_TRUE(makePicture(&bw, IMG_BINARY, 6, 1, [](int x, int, int) { return static_cast<uint8_t>(x == 0 || x >= 3); }));
    ASSERT_EQ(resizeImage(&bw, nullptr, 2, 1, RESAMPLE_AREA), ST_OK);
    EXPECT_EQ(bw.kind, IMG_BINARY);
    EXPECT_EQ(imageRow(&bw, 0)[0], 0);  // 1/3 white
    EXPECT_EQ(imageRow(&bw, 0)[1], 1);

    // Palette: always the nearest pixel, the palette kept.
    OwnedImage pal;
    ASSERT_TRUE(makePicture(&pal, IMG_PALETTE, 4, 1, [](int x, int, int) { return static_cast<uint8_t>(x * 100); }));
    std::vector<uint8_t> palette(pal.palette, pal.palette + PALETTE_BYTES);
    ASSERT_EQ(resizeImage(&pal, nullptr, 2, 1, RESAMPLE_AREA), ST_OK);
    EXPECT_EQ(pal.kind, IMG_PALETTE);
    EXPECT_EQ(imageRow(&pal, 0)[0], 0);
    EXPECT_EQ(imageRow(&pal, 0)[1], 200);
    EXPECT_EQ(std::vector<uint8_t>(pal.palette, pal.palette + PALETTE_BYTES), palette);
}

TEST(GeometryRefusals, BadParametersAndRecords) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 4, 4));
    OwnedImage out;
    EXPECT_EQ(resizeImage(&image, &out, 2, 2, 2), ST_OP_BAD_PARAMETER);  // no third method
    EXPECT_EQ(resizeImage(&image, &out, 2, 2, -1), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(out.pixels, nullptr);

    Image empty{};
    EXPECT_EQ(flipVertical(&empty, nullptr), ST_KIND_REFUSED);
    Image broken{};
    ASSERT_TRUE(createImage(&broken, IMG_RGB, 1, 4, 4));
    broken.stride = 5;  // shorter than a row
    EXPECT_EQ(mirrorHorizontal(&broken, nullptr), ST_KIND_REFUSED);
    EXPECT_EQ(rotateImage(&broken, nullptr, 90), ST_KIND_REFUSED);
    broken.stride = 12;
    broken.kind = 0x0300;  // not a kind
    EXPECT_EQ(canvasSize(&broken, nullptr, 3, 3), ST_KIND_REFUSED);
    freeImage(&broken);
    Image noPalette{};
    ASSERT_TRUE(createImage(&noPalette, IMG_GREY, 1, 4, 4));
    noPalette.kind = IMG_PALETTE;  // palette kind without a palette
    EXPECT_EQ(cropImage(&noPalette, nullptr, 0, 0, 2, 2), ST_KIND_REFUSED);
    freeImage(&noPalette);
}

TEST(GeometryRefusals, SizesAreClamped) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_BINARY, 3, 2));
    ASSERT_EQ(resizeImage(&image, nullptr, 0, -7, RESAMPLE_NEAREST), ST_OK);
    EXPECT_EQ(image.width, 1);
    EXPECT_EQ(image.height, 1);
    ASSERT_EQ(canvasSize(&image, nullptr, 20000, 1), ST_OK);
    EXPECT_EQ(image.width, 15999);
    ASSERT_EQ(resizeImage(&image, nullptr, INT32_MAX, 2, RESAMPLE_AREA), ST_OK);
    EXPECT_EQ(image.width, 15999);
    EXPECT_EQ(image.height, 2);
}

// ---- round trips over every kind -------------------------------------------

TEST(GeometryRoundTrip, TurnsAndMirrorsComeBack) {
    for (const KindCase& k : allKinds()) {
        SCOPED_TRACE(k.name);
        OwnedImage original;
        ASSERT_TRUE(makePicture(&original, k.kind, 13, 7));  // odd sizes, padded rows
        struct Chain {
            const char* name;
            std::vector<Op> ops;
        } chains[] = {
            {"four quarter turns", {rotPlus, rotPlus, rotPlus, rotPlus}},
            {"four anticlockwise turns", {rotMinus, rotMinus, rotMinus, rotMinus}},
            {"+90 then -90", {rotPlus, rotMinus}},
            {"two half turns", {rot180, rot180}},
            {"two mirrors", {mirrorHorizontal, mirrorHorizontal}},
            {"two flips", {flipVertical, flipVertical}},
            {"half turn is flip and mirror", {rot180, flipVertical, mirrorHorizontal}},
        };
        for (const Chain& chain : chains) {
            SCOPED_TRACE(chain.name);
            OwnedImage image;
            ASSERT_TRUE(copyPicture(original, &image));
            for (Op op : chain.ops) ASSERT_EQ(op(&image, nullptr), ST_OK);
            EXPECT_EQ(differences(image, original), "");
            EXPECT_EQ(image.colours, original.colours);
            EXPECT_EQ(image.orientation, original.orientation);
            EXPECT_EQ(image.alignment, original.alignment);
            EXPECT_EQ(image.stride % 4, 0);
            if (k.kind == IMG_PALETTE)
                EXPECT_EQ(memcmp(image.palette, original.palette, PALETTE_BYTES), 0);
            else
                EXPECT_EQ(image.palette, nullptr);
        }
    }
}

TEST(GeometryRoundTrip, QuarterTurnSwapsSizeAndResolution) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_RGB32, 5, 3));
    OwnedImage turned;
    ASSERT_EQ(rotateImage(&image, &turned, 90), ST_OK);
    EXPECT_EQ(turned.width, 3);
    EXPECT_EQ(turned.height, 5);
    EXPECT_EQ(turned.xdpi, 150);
    EXPECT_EQ(turned.ydpi, 300);
    EXPECT_EQ(image.width, 5);  // the source stays as it was
    EXPECT_EQ(image.xdpi, 300);
}

TEST(GeometryRoundTrip, DestinationReplacesItsOldPicture) {
    OwnedImage image, out;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 4, 4));
    ASSERT_TRUE(makePicture(&out, IMG_RGB, 9, 9));  // freed by the operation (ASan sees a leak otherwise)
    ASSERT_EQ(flipVertical(&image, &out), ST_OK);
    EXPECT_EQ(out.kind, IMG_GREY);
    EXPECT_EQ(out.width, 4);
}

// ---- free rotation -----------------------------------------------------------

TEST(GeometryFreeRotation, FortyFiveDegrees) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 100, 100, [](int, int, int) { return uint8_t{200}; }));
    ASSERT_EQ(rotateImage(&image, nullptr, 45), ST_OK);
    EXPECT_EQ(image.kind, IMG_GREY);
    EXPECT_GE(image.width, 140);
    EXPECT_LE(image.width, 142);
    EXPECT_EQ(image.width, image.height);
    const int w = image.width;
    // Black corners, covered middle and edge midpoints (the corners of the source).
    EXPECT_EQ(imageRow(&image, 0)[0], 0);
    EXPECT_EQ(imageRow(&image, 0)[w - 1], 0);
    EXPECT_EQ(imageRow(&image, w - 1)[0], 0);
    EXPECT_EQ(imageRow(&image, w - 1)[w - 1], 0);
    EXPECT_EQ(imageRow(&image, w / 2)[w / 2], 200);
    EXPECT_EQ(imageRow(&image, w / 2)[2], 200);
    EXPECT_EQ(imageRow(&image, 2)[w / 2], 200);
    // Covered area is about the source's 10000 pixels.
    long covered = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) covered += imageRow(&image, y)[x] != 0;
    EXPECT_NEAR(covered, 10000, 300);
}

TEST(GeometryFreeRotation, SmallAngleKeepsCentreAndKind) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_PALETTE, 41, 31));
    OwnedImage turned;
    ASSERT_EQ(rotateImage(&image, &turned, -10), ST_OK);
    EXPECT_EQ(turned.kind, IMG_PALETTE);
    EXPECT_EQ(memcmp(turned.palette, image.palette, PALETTE_BYTES), 0);
    // Bounding box of a 41 x 31 picture turned by 10 degrees.
    EXPECT_NEAR(turned.width, 40 * 0.9848 + 30 * 0.1736 + 1, 1.5);
    EXPECT_NEAR(turned.height, 40 * 0.1736 + 30 * 0.9848 + 1, 1.5);
    // The centre pixel maps to itself.
    int cx = turned.width / 2, cy = turned.height / 2;
    uint8_t centre = imageRow(&turned, cy)[cx];
    bool found = false;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) found |= imageRow(&image, 15 + dy)[20 + dx] == centre;
    EXPECT_TRUE(found);
}

// ---- agreement with ImageMagick ------------------------------------------------

TEST(GeometryPeer, AgreesWithImageMagick) {
    if (!testutil::haveProgram(IM)) GTEST_SKIP() << IM << " missing";
    OwnedImage photo;
    ASSERT_TRUE(makePhoto(&photo, 61, 43));
    const std::string input = testutil::tempPath("geometry_photo.ppm");
    ASSERT_TRUE(writePpm(input, photo));
    struct Case {
        const char* name;
        const char* arguments;
        std::function<Status(Image*)> ours;
    } cases[] = {
        {"flip", "-flip", [](Image* i) { return flipVertical(i, nullptr); }},
        {"flop", "-flop", [](Image* i) { return mirrorHorizontal(i, nullptr); }},
        {"rotate 90", "-rotate 90", [](Image* i) { return rotateImage(i, nullptr, 90); }},
        {"rotate -90", "-rotate -90", [](Image* i) { return rotateImage(i, nullptr, -90); }},
        {"rotate 180", "-rotate 180", [](Image* i) { return rotateImage(i, nullptr, 180); }},
        {"crop", "-crop 20x11+7+30 +repage", [](Image* i) { return cropImage(i, nullptr, 7, 30, 20, 11); }},
        {"crop past the edge", "-crop 30x30+50+20 +repage", [](Image* i) { return cropImage(i, nullptr, 50, 20, 30, 30); }},
        // Our nearest pixel is source x * width div W (the top-left of the
        // cell); ImageMagick samples the cell centre unless told otherwise.
        {"sample down", "-define sample:offset=0 -sample 20x15!", [](Image* i) { return resizeImage(i, nullptr, 20, 15, RESAMPLE_NEAREST); }},
        {"sample halves", "-define sample:offset=0 -sample 30x21!", [](Image* i) { return resizeImage(i, nullptr, 30, 21, RESAMPLE_NEAREST); }},
        {"sample up", "-define sample:offset=0 -sample 128x90!", [](Image* i) { return resizeImage(i, nullptr, 128, 90, RESAMPLE_NEAREST); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = testutil::tempPath("geometry_peer.ppm");
        ASSERT_EQ(testutil::run(std::string(IM) + " " + input + " " + c.arguments + " -depth 8 ppm:" + output), 0);
        testutil::Rgb reference;
        ASSERT_TRUE(testutil::readPnmReference(output, &reference));
        OwnedImage image;
        ASSERT_TRUE(copyPicture(photo, &image));
        ASSERT_EQ(c.ours(&image), ST_OK);
        EXPECT_EQ(testutil::compareRgb(testutil::toRgb(image), reference), 0);
    }
}

TEST(GeometrySmooth, FlatAreasAndBinaryAndPalettePictures) {
    const int sizes[][2] = {{3, 2}, {7, 5}, {1, 1}, {40, 3}, {50, 30}};
    for (auto s : sizes) {
        for (uint8_t v : {uint8_t{0}, uint8_t{77}, uint8_t{255}}) {
            OwnedImage image;
            ASSERT_TRUE(makePicture(&image, IMG_RGB, 17, 9, [v](int, int, int) { return v; }));
            ASSERT_EQ(resizeSmooth(&image, nullptr, s[0], s[1]), ST_OK);
            ASSERT_EQ(image.width, s[0]);
            for (int y = 0; y < image.height; ++y)
                for (int k = 0; k < image.width * 3; ++k) ASSERT_EQ(imageRow(&image, y)[k], v) << s[0] << "x" << s[1];
        }
    }
    OwnedImage bw;
    ASSERT_TRUE(makePicture(&bw, IMG_BINARY, 6, 1, [](int x, int, int) { return static_cast<uint8_t>(x == 0 || x >= 3); }));
    ASSERT_EQ(resizeSmooth(&bw, nullptr, 2, 1), ST_OK);
    EXPECT_EQ(bw.kind, IMG_BINARY);
    EXPECT_EQ(greyRows(bw), (std::vector<std::vector<int>>{{0, 1}}));
    OwnedImage pal;
    ASSERT_TRUE(makePicture(&pal, IMG_PALETTE, 4, 1, [](int x, int, int) { return static_cast<uint8_t>(x * 60); }));
    ASSERT_EQ(resizeSmooth(&pal, nullptr, 2, 1), ST_OK);
    EXPECT_EQ(greyRows(pal), (std::vector<std::vector<int>>{{0, 120}}));
}

// A shrink by a large factor: a fine checkerboard averages to mid-grey, a step
// keeps its sides and overshoots no further than the filter's lobes allow.
TEST(GeometrySmooth, ShrinkAveragesDetailAndKeepsEdges) {
    OwnedImage checks;
    ASSERT_TRUE(makePicture(&checks, IMG_GREY, 400, 300, [](int x, int y, int) { return static_cast<uint8_t>((x + y) & 1 ? 255 : 0); }));
    ASSERT_EQ(resizeSmooth(&checks, nullptr, 40, 30), ST_OK);
    for (const auto& row : greyRows(checks))
        for (int v : row) ASSERT_NEAR(v, 128, 1);
    OwnedImage step;
    ASSERT_TRUE(makePicture(&step, IMG_GREY, 400, 10, [](int x, int, int) { return static_cast<uint8_t>(x < 200 ? 20 : 220); }));
    ASSERT_EQ(resizeSmooth(&step, nullptr, 40, 1), ST_OK);
    const auto row = greyRows(step)[0];
    EXPECT_EQ(row[0], 20);
    EXPECT_EQ(row[39], 220);
    for (int x = 0; x < 40; ++x) {
        EXPECT_GE(row[x], 20 - 12);
        EXPECT_LE(row[x], 220 + 12);
        if (x > 0 && x < 17) EXPECT_NEAR(row[x], 20, 1);
    }
}

// ImageMagick's Lanczos filter is the same windowed sinc: its shrinks and
// enlargements of a photo-like picture agree with ours to a rounding, but for
// a few overshoots next to hard edges that it clips between its two passes.
TEST(GeometryPeer, SmoothResizeAgreesWithImageMagickLanczos) {
    if (!testutil::haveProgram(IM)) GTEST_SKIP() << IM << " missing";
    OwnedImage photo;
    ASSERT_TRUE(makePhoto(&photo, 161, 123));
    const std::string input = testutil::tempPath("geometry_smooth.ppm");
    ASSERT_TRUE(writePpm(input, photo));
    const int sizes[][2] = {{80, 61}, {23, 17}, {161, 40}, {300, 250}};
    for (auto s : sizes) {
        SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]));
        const std::string output = testutil::tempPath("geometry_smooth_im.ppm");
        ASSERT_EQ(testutil::run(std::string(IM) + " " + input + " -filter Lanczos -resize " + std::to_string(s[0]) + "x" +
                                std::to_string(s[1]) + "! -depth 8 ppm:" + output),
                  0);
        testutil::Rgb reference;
        ASSERT_TRUE(testutil::readPnmReference(output, &reference));
        OwnedImage image;
        ASSERT_TRUE(copyPicture(photo, &image));
        ASSERT_EQ(resizeSmooth(&image, nullptr, s[0], s[1]), ST_OK);
        const testutil::Rgb ours = testutil::toRgb(image);
        EXPECT_LE(testutil::compareRgb(ours, reference, 1), static_cast<long>(ours.pixels.size() / 500));
        EXPECT_EQ(testutil::compareRgb(ours, reference, 8), 0);
    }
}

// ---- batch entries ---------------------------------------------------------------

TEST(GeometryBatch, TargetSizes) {
    OwnedImage image;
    ASSERT_TRUE(makePicture(&image, IMG_GREY, 400, 200));
    struct Case {
        const char* name;
        int w, h;
        bool percent, ratio;
        int outW, outH;
    } cases[] = {
        {"pixels", 100, 30, false, false, 100, 30},
        {"fit by width", 100, 100, false, true, 100, 50},
        {"fit by height", 300, 50, false, true, 100, 50},
        {"percent", 50, 10, true, false, 200, 20},
        {"percent with ratio", 50, 200, true, true, 200, 100},
        {"tiny percent", 1, 1, true, false, 4, 2},
        {"never zero", 1, 1, false, true, 1, 1},
        {"clamped", 8000, 100, true, false, 15999, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int w = 0, h = 0;
        batchTargetSize(&image, c.w, c.h, c.percent, c.ratio, &w, &h);
        EXPECT_EQ(w, c.outW);
        EXPECT_EQ(h, c.outH);
    }
}

TEST(GeometryBatch, OnlySmallerAndOnlyLarger) {
    struct Case {
        const char* name;
        int target;
        bool onlySmaller, onlyLarger;
        int expected;
    } cases[] = {
        {"shrink", 5, false, false, 5},
        {"enlarge", 20, false, false, 20},
        {"only smaller pictures, shrinking refused", 5, true, false, 10},
        {"only smaller pictures, enlarged", 20, true, false, 20},
        {"only larger pictures, shrunk", 5, false, true, 5},
        {"only larger pictures, enlarging refused", 20, false, true, 10},
        {"both switches", 20, true, true, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, IMG_RGB, 10, 10));
        OpInstance op{};
        op.ints[0] = c.target;
        op.ints[1] = c.target;
        op.method = RESAMPLE_AREA;
        op.onlySmaller = c.onlySmaller;
        op.onlyLarger = c.onlyLarger;
        ASSERT_EQ(opResize(&image, op), ST_OK);
        EXPECT_EQ(image.width, c.expected);
        EXPECT_EQ(image.height, c.expected);
    }
}

TEST(GeometryBatch, TableEntriesRun) {
    struct Case {
        const char* option;
        std::vector<int> ints;
        int width, height;
    } cases[] = {
        {"-xflip", {}, 8, 6},    {"-yflip", {}, 8, 6},       {"-rotate", {90}, 6, 8},
        {"-rotate", {-30}, 10, 9}, {"-crop", {2, 1, 3, 4}, 3, 4}, {"-canvas", {10, 3}, 10, 3},
        {"-resize", {4, 3}, 4, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        int index = findOp(c.option);
        ASSERT_GE(index, 0);
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, index));
        for (size_t i = 0; i < c.ints.size(); ++i) op.ints[i] = c.ints[i];
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, IMG_PALETTE, 8, 6));
        ASSERT_EQ(runOp(&image, op), ST_OK);
        EXPECT_EQ(image.kind, IMG_PALETTE);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
    }
}

}  // namespace

// Large pictures are turned and resized in bands side by side: the result is
// the one of a single thread, whatever the number of bands.
TEST(GeometryBands, SameResultWhateverTheBands) {
    OwnedImage photo;
    ASSERT_TRUE(makePhoto(&photo, 1100, 1000));
    const struct {
        const char* name;
        std::function<Status(Image*)> run;
    } cases[] = {
        {"rotate 90", [](Image* i) { return rotateImage(i, nullptr, 90); }},
        {"rotate -90", [](Image* i) { return rotateImage(i, nullptr, -90); }},
        {"area shrink", [](Image* i) { return resizeImage(i, nullptr, 700, 333, RESAMPLE_AREA); }},
        {"area enlarge", [](Image* i) { return resizeImage(i, nullptr, 1500, 1400, RESAMPLE_AREA); }},
        {"smooth shrink", [](Image* i) { return resizeSmooth(i, nullptr, 300, 290); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage one, many;
        ASSERT_TRUE(copyPicture(photo, &one));
        ASSERT_TRUE(copyPicture(photo, &many));
        setOperationThreads(1);
        ASSERT_EQ(c.run(&one), ST_OK);
        setOperationThreads(6);
        ASSERT_EQ(c.run(&many), ST_OK);
        setOperationThreads(0);
        EXPECT_EQ(testutil::pixelsOf(one), testutil::pixelsOf(many));
    }
}
