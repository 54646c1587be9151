// Neighbourhood filters: kernels worked out by hand on a 5 x 5 picture
// (borders included), window statistics against brute force over random
// pictures, invariants on uniform pictures, kind handling and the noise.
#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "effects.h"
#include "filter.h"
#include "kit.h"
#include "opsupport.h"
#include "testpictures.h"

using namespace testpictures;

namespace {

// 5 x 5 grey ramp: value(x, y) = 10 + 10 x + 50 y.
//    10  20  30  40  50
//    60  70  80  90 100
//   110 120 130 140 150
//   160 170 180 190 200
//   210 220 230 240 250
void makeRamp(Image* image) {
    ASSERT_TRUE(makePicture(image, IMG_GREY, 5, 5, [](int x, int y, int) { return static_cast<uint8_t>(10 + 10 * x + 50 * y); }));
}

struct Expect {
    int x, y, value;
};

struct HandCase {
    const char* name;
    std::function<Status(Image*)> filter;
    std::vector<Expect> expected;
};

UserKernel cornerKernel(int32_t divisor, int32_t bias) {
    UserKernel k{};
    k.weights[0] = 1;    // (-2, -2)
    k.weights[24] = -1;  // (+2, +2)
    k.divisor = divisor;
    k.bias = bias;
    return k;
}

TEST(FilterByHand, RampWithBorders) {
    // Samples outside the picture repeat the nearest edge pixel. Each value
    // below is the formula worked out by hand on the ramp.
    const HandCase cases[] = {
        // 10 C - (up + left + right + down), / 6
        {"detail", [](Image* i) { return applyKernel(i, nullptr, KERNEL_DETAIL); },
         {{0, 0, 0}, {2, 2, 130}, {4, 0, 43}, {2, 4, 238}}},
        // 8 C - all eight + 128
        {"edges medium", [](Image* i) { return applyKernel(i, nullptr, KERNEL_EDGE_MEDIUM); },
         {{0, 0, 0}, {4, 4, 255}, {0, 2, 98}, {2, 2, 128}}},
        // (x+1, y+1) - (x-1, y-1) + 128
        {"emboss", [](Image* i) { return applyKernel(i, nullptr, KERNEL_EMBOSS); },
         {{0, 0, 188}, {4, 4, 188}, {4, 0, 188}, {0, 4, 188}, {2, 2, 248}, {2, 0, 198}}},
        // four edge neighbours - 4 C + 128
        {"edges light", [](Image* i) { return applyKernel(i, nullptr, KERNEL_EDGE_LIGHT); },
         {{0, 0, 188}, {2, 2, 128}, {4, 4, 68}}},
        // a = 100: (100 N + 25 C) / 825
        {"soften 100", [](Image* i) { return softenImage(i, nullptr, 100); }, {{0, 0, 31}, {2, 2, 130}}},
        // a = 100: (100 K + 200 E + 25 C) / 1225
        {"blur 100", [](Image* i) { return blurImage(i, nullptr, 100); }, {{0, 0, 29}, {2, 2, 130}}},
        // a = 1: f = 54, (63 C - N) / 55
        {"edge enhancement 1", [](Image* i) { return enhanceEdges(i, nullptr, 1); }, {{0, 0, 6}, {2, 2, 130}}},
        // a = 50: (100 C - 50 N / 8) / 50
        {"sharpen 50", [](Image* i) { return sharpenImage(i, nullptr, 50); },
         {{0, 0, 0}, {4, 4, 255}, {0, 2, 106}, {2, 2, 130}}},
        // (7 C + 3 near - far) / 15
        {"noise reduction", [](Image* i) { return reduceNoise(i, nullptr); }, {{0, 0, 14}, {2, 2, 130}, {4, 0, 52}}},
        // ((x-2, y-2) - (x+2, y+2)) / 2 + 100
        {"user kernel", [](Image* i) { return userFilter(i, nullptr, cornerKernel(2, 100)); },
         {{0, 0, 40}, {4, 4, 40}, {2, 2, 0}, {1, 0, 35}}},
        // -130 / 3 truncates toward zero to -43
        {"user kernel truncates toward zero", [](Image* i) { return userFilter(i, nullptr, cornerKernel(3, 100)); },
         {{1, 0, 57}}},
        {"mean 3", [](Image* i) { return meanFilter(i, nullptr, 3); }, {{0, 0, 30}, {2, 2, 130}}},
        {"mean 5", [](Image* i) { return meanFilter(i, nullptr, 5); }, {{0, 0, 46}}},
        {"maximum 3", [](Image* i) { return maximumFilter(i, nullptr, 3); }, {{0, 0, 70}, {4, 4, 250}, {2, 2, 190}}},
        {"minimum 3", [](Image* i) { return minimumFilter(i, nullptr, 3); }, {{4, 4, 190}, {0, 0, 10}}},
        // sorted 10 10 10 10 20 20 60 60 70
        {"median box 3", [](Image* i) { return medianBox(i, nullptr, 3); }, {{0, 0, 20}, {2, 2, 130}}},
        // row 10 10 20 and column 10, 60: 10 10 10 20 60
        {"median cross 3", [](Image* i) { return medianCross(i, nullptr, 3); }, {{0, 0, 10}, {2, 2, 130}}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage image;
        makeRamp(&image);
        ASSERT_EQ(c.filter(&image), ST_OK);
        ASSERT_EQ(image.kind, IMG_GREY);
        for (const Expect& e : c.expected) EXPECT_EQ(imageRow(&image, e.y)[e.x], e.value) << "at " << e.x << "," << e.y;
    }
}

// ---- every filter on uniform pictures ---------------------------------------

struct FilterCase {
    const char* name;
    std::function<Status(Image*)> filter;
    int uniformResult;  // -1: the uniform value comes back
};

std::vector<FilterCase> deterministicFilters() {
    std::vector<FilterCase> cases;
    for (int k = 0; k <= 3; ++k) cases.push_back({"kernel", [k](Image* i) { return applyKernel(i, nullptr, k); }, -1});
    for (int k = 4; k < KERNEL_COUNT; ++k)
        cases.push_back({"edge kernel", [k](Image* i) { return applyKernel(i, nullptr, k); }, 128});
    for (int a : {1, 5, 50, 100}) {
        cases.push_back({"soften", [a](Image* i) { return softenImage(i, nullptr, a); }, -1});
        cases.push_back({"blur", [a](Image* i) { return blurImage(i, nullptr, a); }, -1});
        cases.push_back({"edge enhancement", [a](Image* i) { return enhanceEdges(i, nullptr, a); }, -1});
    }
    for (int a : {1, 50, 99, 100}) cases.push_back({"sharpen", [a](Image* i) { return sharpenImage(i, nullptr, a); }, -1});
    for (int n = 3; n <= 13; n += 2) {
        cases.push_back({"mean", [n](Image* i) { return meanFilter(i, nullptr, n); }, -1});
        cases.push_back({"gauss", [n](Image* i) { return gaussianBlur(i, nullptr, n); }, -1});
        cases.push_back({"maximum", [n](Image* i) { return maximumFilter(i, nullptr, n); }, -1});
        cases.push_back({"minimum", [n](Image* i) { return minimumFilter(i, nullptr, n); }, -1});
        cases.push_back({"median box", [n](Image* i) { return medianBox(i, nullptr, n); }, -1});
        cases.push_back({"median cross", [n](Image* i) { return medianCross(i, nullptr, n); }, -1});
    }
    cases.push_back({"noise reduction", [](Image* i) { return reduceNoise(i, nullptr); }, -1});
    return cases;
}

TEST(FilterUniform, FlatPicturesStayFlat) {
    for (uint8_t v : {uint8_t{0}, uint8_t{97}, uint8_t{255}}) {
        for (const FilterCase& c : deterministicFilters()) {
            SCOPED_TRACE(std::string(c.name) + " value " + std::to_string(v));
            OwnedImage image;
            // RGB32 with a marked fourth byte: it must come through untouched.
            ASSERT_TRUE(makePicture(&image, IMG_RGB32, 9, 7, [v](int x, int y, int c) {
                return c == 3 ? static_cast<uint8_t>(x * 16 + y) : v;
            }));
            ASSERT_EQ(c.filter(&image), ST_OK);
            ASSERT_EQ(image.kind, IMG_RGB32);
            const int expected = c.uniformResult < 0 ? v : c.uniformResult;
            for (int y = 0; y < image.height; ++y)
                for (int x = 0; x < image.width; ++x) {
                    const uint8_t* p = pixelOf(image, x, y);
                    ASSERT_EQ(p[0], expected);
                    ASSERT_EQ(p[1], expected);
                    ASSERT_EQ(p[2], expected);
                    ASSERT_EQ(p[3], x * 16 + y);
                }
        }
    }
}

// ---- window statistics against brute force -----------------------------------

// Sample with the edge repeated.
uint8_t clampedSample(const Image& image, int x, int y, int c) {
    x = std::min(std::max(x, 0), image.width - 1);
    y = std::min(std::max(y, 0), image.height - 1);
    return pixelOf(image, x, y)[c];
}

enum class Stat { Mean, Max, Min, MedianBox, MedianCross, Gauss };

// The filters as the plain formulas: the whole window gathered and sorted or
// summed per pixel; the Gaussian with floating-point 2-D weights.
int bruteForce(const Image& image, int x, int y, int c, int n, Stat stat) {
    const int r = n / 2;
    std::vector<int> samples;
    if (stat == Stat::MedianCross) {
        for (int i = -r; i <= r; ++i) samples.push_back(clampedSample(image, x + i, y, c));
        for (int j = -r; j <= r; ++j)
            if (j) samples.push_back(clampedSample(image, x, y + j, c));
    } else if (stat == Stat::Gauss) {
        double sigma2 = static_cast<double>(n) * n / (2 * std::log(255.0)), total = 0, sum = 0;
        for (int j = -r; j <= r; ++j)
            for (int i = -r; i <= r; ++i) {
                double w = std::exp(-(i * i + j * j) / (2 * sigma2));
                total += w;
                sum += w * clampedSample(image, x + i, y + j, c);
            }
        return static_cast<int>(sum / total);
    } else {
        for (int j = -r; j <= r; ++j)
            for (int i = -r; i <= r; ++i) samples.push_back(clampedSample(image, x + i, y + j, c));
    }
    std::sort(samples.begin(), samples.end());
    switch (stat) {
    case Stat::Mean: {
        int sum = 0;
        for (int s : samples) sum += s;
        return sum / static_cast<int>(samples.size());
    }
    case Stat::Max: return samples.back();
    case Stat::Min: return samples.front();
    default: return samples[samples.size() / 2];
    }
}

TEST(FilterBruteForce, WindowStatisticsOverRandomPictures) {
    struct StatCase {
        const char* name;
        Stat stat;
        Status (*filter)(Image*, Image*, int);
        int tolerance;
    } stats[] = {
        {"mean", Stat::Mean, meanFilter, 0},
        {"maximum", Stat::Max, maximumFilter, 0},
        {"minimum", Stat::Min, minimumFilter, 0},
        {"median box", Stat::MedianBox, medianBox, 0},
        {"median cross", Stat::MedianCross, medianCross, 0},
        // The Gaussian runs as two 1-D passes of integer weights in 1/2048.
        {"gauss", Stat::Gauss, gaussianBlur, 1},
    };
    struct Shape {
        uint16_t kind;
        int width, height;
    } shapes[] = {{IMG_GREY, 23, 17}, {IMG_BGR, 11, 9}, {IMG_RGB32, 3, 2}, {IMG_GREY, 1, 1}, {IMG_GREY, 1, 30}};
    std::mt19937 random(12345);
    for (const StatCase& s : stats) {
        for (const Shape& shape : shapes) {
            for (int n = 3; n <= 13; n += 2) {
                // Random bytes, and few distinct values so that medians meet ties.
                for (int spread : {256, 3}) {
                    SCOPED_TRACE(std::string(s.name) + " n=" + std::to_string(n) + " " + std::to_string(shape.width) +
                                 "x" + std::to_string(shape.height) + " spread " + std::to_string(spread));
                    OwnedImage image;
                    ASSERT_TRUE(makePicture(&image, shape.kind, shape.width, shape.height,
                                            [&](int, int, int) { return static_cast<uint8_t>(random() % spread * (255 / (spread - 1))); }));
                    OwnedImage out;
                    ASSERT_EQ(s.filter(&image, &out, n), ST_OK);
                    int channels = shape.kind == IMG_RGB32 ? 3 : image.bytesPerPixel;
                    for (int y = 0; y < image.height; ++y)
                        for (int x = 0; x < image.width; ++x)
                            for (int c = 0; c < channels; ++c)
                                ASSERT_NEAR(pixelOf(out, x, y)[c], bruteForce(image, x, y, c, n, s.stat), s.tolerance)
                                    << "at " << x << "," << y << " byte " << c;
                }
            }
        }
    }
}

// ---- kinds -------------------------------------------------------------------

TEST(FilterKinds, IndicesAndTwoValuePicturesAreLiftedFirst) {
    // A single white pixel on black: the 3 x 3 maximum is a 3 x 3 square of white.
    OwnedImage bw;
    ASSERT_TRUE(makePicture(&bw, IMG_BINARY, 7, 7, [](int x, int y, int) { return static_cast<uint8_t>(x == 3 && y == 3); }));
    ASSERT_EQ(maximumFilter(&bw, nullptr, 3), ST_OK);
    EXPECT_EQ(bw.kind, IMG_GREY);
    EXPECT_EQ(bw.colours, 256);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(imageRow(&bw, y)[x], (std::abs(x - 3) <= 1 && std::abs(y - 3) <= 1) ? 255 : 0) << x << "," << y;

    // A mean over palette indices would invent colours: the colours are averaged instead.
    OwnedImage pal;
    ASSERT_TRUE(makePicture(&pal, IMG_PALETTE, 4, 1, [](int x, int, int) { return static_cast<uint8_t>(x < 2 ? 10 : 200); }));
    ASSERT_EQ(meanFilter(&pal, nullptr, 3), ST_OK);
    ASSERT_EQ(pal.kind, IMG_RGB);
    EXPECT_EQ(pal.palette, nullptr);
    // Pixel 1 sees indices 10, 10, 200: red (10 + 10 + 200) / 3, green (245 + 245 + 55) / 3, blue (70 + 70 + 1400 & 255) / 3.
    const uint8_t* p = pixelOf(pal, 1, 0);
    EXPECT_EQ(p[0], (10 + 10 + 200) / 3);
    EXPECT_EQ(p[1], (245 + 245 + 55) / 3);
    EXPECT_EQ(p[2], (70 + 70 + (200 * 7 & 255)) / 3);

    // 16-level grey: the levels are spread to 0..255 before the filter.
    OwnedImage grey16;
    ASSERT_TRUE(makePicture(&grey16, IMG_GREY, 3, 3, [](int, int, int) { return uint8_t{15}; }));
    grey16.colours = 16;
    ASSERT_EQ(applyKernel(&grey16, nullptr, KERNEL_RESTORE), ST_OK);
    EXPECT_EQ(grey16.colours, 256);
    EXPECT_EQ(imageRow(&grey16, 1)[1], 255);

    // Edge detection on a flat black-and-white picture gives mid-grey in a grey picture.
    OwnedImage flat;
    ASSERT_TRUE(makePicture(&flat, IMG_BINARY, 4, 4, [](int, int, int) { return uint8_t{1}; }));
    ASSERT_EQ(applyKernel(&flat, nullptr, KERNEL_EMBOSS), ST_OK);
    EXPECT_EQ(flat.kind, IMG_GREY);
    EXPECT_EQ(imageRow(&flat, 2)[2], 128);
}

TEST(FilterKinds, SizeOrientationAndResolutionKept) {
    for (const KindCase& k : allKinds()) {
        SCOPED_TRACE(k.name);
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, k.kind, 10, 6));
        OwnedImage out;
        ASSERT_EQ(gaussianBlur(&image, &out, 5), ST_OK);
        EXPECT_EQ(out.width, 10);
        EXPECT_EQ(out.height, 6);
        EXPECT_EQ(out.orientation, image.orientation);
        EXPECT_EQ(out.xdpi, 300);
        EXPECT_EQ(out.ydpi, 150);
        EXPECT_EQ(out.alignment, image.alignment);
        uint16_t expected = k.kind == IMG_PALETTE ? IMG_RGB : k.kind == IMG_BINARY ? IMG_GREY : k.kind;
        EXPECT_EQ(out.kind, expected);
        EXPECT_EQ(image.kind, k.kind);  // the source is left alone when a destination is given
    }
}

TEST(FilterRefusals, ParametersOutOfRange) {
    struct Case {
        const char* name;
        std::function<Status(Image*)> filter;
    } cases[] = {
        {"kernel -1", [](Image* i) { return applyKernel(i, nullptr, -1); }},
        {"kernel 9", [](Image* i) { return applyKernel(i, nullptr, 9); }},
        {"soften 0", [](Image* i) { return softenImage(i, nullptr, 0); }},
        {"blur 101", [](Image* i) { return blurImage(i, nullptr, 101); }},
        {"edges 0", [](Image* i) { return enhanceEdges(i, nullptr, 0); }},
        {"sharpen 101", [](Image* i) { return sharpenImage(i, nullptr, 101); }},
        {"sharpen 0", [](Image* i) { return sharpenImage(i, nullptr, 0); }},
        {"mean 1", [](Image* i) { return meanFilter(i, nullptr, 1); }},
        {"gauss 4", [](Image* i) { return gaussianBlur(i, nullptr, 4); }},
        {"median 15", [](Image* i) { return medianBox(i, nullptr, 15); }},
        {"cross -3", [](Image* i) { return medianCross(i, nullptr, -3); }},
        {"user divisor 0", [](Image* i) { return userFilter(i, nullptr, cornerKernel(0, 0)); }},
        {"uniform noise 0", [](Image* i) { return addNoise(i, nullptr, NOISE_UNIFORM, 0.0); }},
        {"gaussian noise 11", [](Image* i) { return addNoise(i, nullptr, NOISE_GAUSSIAN, 11.0); }},
        {"poisson noise 0", [](Image* i) { return addNoise(i, nullptr, NOISE_POISSON, 0.0); }},
        {"noise NaN", [](Image* i) { return addNoise(i, nullptr, NOISE_LAPLACIAN, std::nan("")); }},
        {"noise kind 4", [](Image* i) { return addNoise(i, nullptr, 4, 1.0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage image;
        ASSERT_TRUE(makePicture(&image, IMG_RGB, 5, 5));
        uint8_t* before = image.pixels;
        EXPECT_EQ(c.filter(&image), ST_OP_BAD_PARAMETER);
        EXPECT_EQ(image.pixels, before);
    }
    Image empty{};
    EXPECT_EQ(medianBox(&empty, nullptr, 3), ST_KIND_REFUSED);
    EXPECT_EQ(addNoise(&empty, nullptr, NOISE_UNIFORM, 1.0), ST_KIND_REFUSED);
}

// ---- noise -------------------------------------------------------------------

TEST(FilterNoise, SeededRunsRepeatAndStayInRange) {
    struct Case {
        const char* name;
        int kind;
        double amplitude;
    } cases[] = {
        {"uniform", NOISE_UNIFORM, 25.0},  {"gaussian", NOISE_GAUSSIAN, 0.4},
        {"laplacian", NOISE_LAPLACIAN, 10.0}, {"poisson", NOISE_POISSON, 0.05},
        {"poisson strong", NOISE_POISSON, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage original;
        ASSERT_TRUE(makePicture(&original, IMG_BGR32, 16, 8));
        OwnedImage a, b, other;
        setEffectSeed(42);
        ASSERT_EQ(addNoise(&original, &a, c.kind, c.amplitude), ST_OK);
        ASSERT_EQ(addNoise(&original, &b, c.kind, c.amplitude), ST_OK);
        setEffectSeed(43);
        ASSERT_EQ(addNoise(&original, &other, c.kind, c.amplitude), ST_OK);
        setEffectSeedFromClock();
        EXPECT_EQ(differences(a, b), "");
        EXPECT_NE(differences(a, other), "");
        long changed = 0;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x) {
                EXPECT_EQ(pixelOf(a, x, y)[0], pixelOf(original, x, y)[0]);  // the X byte of BGR32
                for (int k = 1; k < 4; ++k) changed += pixelOf(a, x, y)[k] != pixelOf(original, x, y)[k];
            }
        EXPECT_GT(changed, 16 * 8 * 3 / 4);
    }
}

TEST(FilterNoise, UniformNoiseIsBoundedByItsAmplitude) {
    OwnedImage original;
    ASSERT_TRUE(makePicture(&original, IMG_GREY, 64, 64, [](int x, int y, int) { return static_cast<uint8_t>(64 + (x + y) % 128); }));
    OwnedImage noisy;
    setEffectSeed(7);
    ASSERT_EQ(addNoise(&original, &noisy, NOISE_UNIFORM, 10.0), ST_OK);
    setEffectSeedFromClock();
    double sum = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            int d = imageRow(&noisy, y)[x] - imageRow(&original, y)[x];
            EXPECT_GE(d, -5);
            EXPECT_LE(d, 5);
            sum += d;
        }
    // Truncation toward zero keeps the mean shift small.
    EXPECT_LT(std::fabs(sum / 4096), 1.0);
}

TEST(FilterNoise, PoissonKeepsBlackAndFollowsTheMean) {
    OwnedImage original;
    ASSERT_TRUE(makePicture(&original, IMG_GREY, 64, 64, [](int x, int, int) { return static_cast<uint8_t>(x < 32 ? 0 : 100); }));
    OwnedImage noisy;
    setEffectSeed(99);
    ASSERT_EQ(addNoise(&original, &noisy, NOISE_POISSON, 0.5), ST_OK);
    setEffectSeedFromClock();
    double sum = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            if (x < 32) EXPECT_EQ(imageRow(&noisy, y)[x], 0);
            else sum += imageRow(&noisy, y)[x];
        }
    // count / A with count ~ Poisson(A v): the mean stays near v.
    EXPECT_NEAR(sum / (32 * 64), 100.0, 4.0);
}

// ---- batch entries ---------------------------------------------------------------

TEST(FilterBatch, TableEntriesRunOnEveryKind) {
    const char* options[] = {"-edetail", "-efocus", "-eedge", "-frestore", "-edgedetect light", "-edgedetect medium",
                             "-edgedetect heavy", "-emboss", "-embossmore", "-average", "-soften", "-blur",
                             "-gauss", "-maximum", "-minimum", "-medianb", "-medianc", "-sharpen", "-noise reduce",
                             "-noise uniform", "-noise gaussian", "-noise laplacian", "-noise poisson"};
    setEffectSeed(1);
    for (const char* option : options) {
        int index = findOp(option);
        ASSERT_GE(index, 0) << option;
        OpInstance op;
        ASSERT_TRUE(initOpInstance(&op, index));
        for (const KindCase& k : allKinds()) {
            SCOPED_TRACE(std::string(option) + " on " + k.name);
            OwnedImage image;
            ASSERT_TRUE(makePicture(&image, k.kind, 6, 5));
            ASSERT_EQ(runOp(&image, op), ST_OK);
            EXPECT_EQ(image.width, 6);
            EXPECT_EQ(image.height, 5);
        }
    }
    setEffectSeedFromClock();
    // The sharpen entry takes 1..100; 100 sharpens as 99 (flat areas unchanged).
    OpInstance sharpen;
    ASSERT_TRUE(initOpInstance(&sharpen, findOp("-sharpen")));
    sharpen.ints[0] = 101;
    EXPECT_FALSE(opInstanceValid(sharpen));
    sharpen.ints[0] = 100;
    EXPECT_TRUE(opInstanceValid(sharpen));
    OwnedImage strongest, ninetyNine;
    ASSERT_TRUE(makePhoto(&strongest, 31, 17) && makePhoto(&ninetyNine, 31, 17));
    ASSERT_EQ(sharpenImage(&strongest, nullptr, 100), ST_OK);
    ASSERT_EQ(sharpenImage(&ninetyNine, nullptr, 99), ST_OK);
    EXPECT_EQ(differences(strongest, ninetyNine), "");
}

}  // namespace

// Large pictures are filtered in bands side by side: whatever the number of
// bands, every filter gives the picture it gives on one thread.
TEST(FilterBands, SameResultWhateverTheBands) {
    OwnedImage photo;
    ASSERT_TRUE(testpictures::makePhoto(&photo, 1100, 1000));
    const struct {
        const char* name;
        std::function<Status(Image*)> run;
    } cases[] = {
        {"gaussian 7", [](Image* i) { return gaussianBlur(i, nullptr, 7); }},
        {"mean 5", [](Image* i) { return meanFilter(i, nullptr, 5); }},
        {"median 5", [](Image* i) { return medianBox(i, nullptr, 5); }},
        {"cross median 5", [](Image* i) { return medianCross(i, nullptr, 5); }},
        {"maximum 3", [](Image* i) { return maximumFilter(i, nullptr, 3); }},
        {"sharpen", [](Image* i) { return sharpenImage(i, nullptr, 60); }},
        {"detail", [](Image* i) { return applyKernel(i, nullptr, KERNEL_DETAIL); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage one, many;
        ASSERT_TRUE(testpictures::copyPicture(photo, &one));
        ASSERT_TRUE(testpictures::copyPicture(photo, &many));
        setOperationThreads(1);
        ASSERT_EQ(c.run(&one), ST_OK);
        setOperationThreads(5);
        ASSERT_EQ(c.run(&many), ST_OK);
        setOperationThreads(0);
        EXPECT_EQ(testutil::pixelsOf(one), testutil::pixelsOf(many));
    }
}

// A blur whose result replaces its picture is written back into the rows it
// reads, each band keeping the rows its neighbours read aside: it must give
// what the blur into a separate picture gives, for every kind, window, band
// count, and pictures shorter than the window.
TEST(FilterBands, InPlaceBlurEqualsTheBlurIntoAnotherPicture) {
    struct Shape {
        int32_t width, height;
    };
    const Shape shapes[] = {{1100, 1000}, {37, 2}, {5, 1}, {1, 9}};
    for (const testpictures::KindCase& k : testpictures::allKinds()) {
        for (const Shape& shape : shapes) {
            OwnedImage picture;
            ASSERT_TRUE(testpictures::makePicture(&picture, k.kind, shape.width, shape.height));
            for (int size : {3, 7, 13}) {
                for (unsigned bands : {1u, 3u, 8u}) {
                    if (bands > 1 && shape.height < 100) continue;
                    SCOPED_TRACE(std::string(k.name) + " " + std::to_string(shape.width) + "x" +
                                 std::to_string(shape.height) + ", size " + std::to_string(size) + ", bands " +
                                 std::to_string(bands));
                    OwnedImage inPlace, apart;
                    ASSERT_TRUE(testpictures::copyPicture(picture, &inPlace));
                    setOperationThreads(bands);
                    const Status a = gaussianBlur(&inPlace, nullptr, size);
                    const Status b = gaussianBlur(&picture, &apart, size);
                    setOperationThreads(0);
                    ASSERT_EQ(a, ST_OK);
                    ASSERT_EQ(b, ST_OK);
                    EXPECT_EQ(testpictures::differences(inPlace, apart), "");
                }
            }
        }
    }
}

// ---- items worked side by side, loaded and delivered in order ------------------

struct OrderedLog {
    int64_t count = 0;
    int64_t failLoadAt = -1, failDeliverAt = -1;
    int workers = 1;
    pthread_t caller;
    int slotItem[MAX_ORDERED_WINDOW];     // the item loaded into each slot
    std::atomic<int> worked[64];          // per item
    std::vector<int64_t> delivered;
    std::atomic<int> wrong{0};            // a load or delivery off the calling thread, a bad worker or slot
};

Status orderedLoad(void* data, int64_t item, int slot) {
    OrderedLog* log = static_cast<OrderedLog*>(data);
    if (!pthread_equal(pthread_self(), log->caller)) log->wrong.fetch_add(1);
    if (item == log->failLoadAt) return ST_READ_ERROR;
    log->slotItem[slot] = static_cast<int>(item);
    return ST_OK;
}

void orderedWork(void* data, int slot, int worker) {
    OrderedLog* log = static_cast<OrderedLog*>(data);
    if (worker < 0 || worker >= log->workers) log->wrong.fetch_add(1);
    log->worked[log->slotItem[slot]].fetch_add(1);
}

Status orderedDeliver(void* data, int64_t item, int slot) {
    OrderedLog* log = static_cast<OrderedLog*>(data);
    if (!pthread_equal(pthread_self(), log->caller) || log->slotItem[slot] != item || log->worked[item].load() != 1)
        log->wrong.fetch_add(1);
    log->delivered.push_back(item);
    return item == log->failDeliverAt ? ST_STOPPED : ST_OK;
}

TEST(Ordered, ItemsWorkedOnceAndDeliveredInOrder) {
    struct Case {
        int64_t count;
        int window, workers;
        int64_t failLoadAt, failDeliverAt;
        Status expected;
        int64_t deliveredCount;
    };
    const Case cases[] = {
        {0, 4, 2, -1, -1, ST_OK, 0},           {1, 4, 2, -1, -1, ST_OK, 1},
        {40, 4, 2, -1, -1, ST_OK, 40},         {40, 16, 3, -1, -1, ST_OK, 40},
        {40, 1, 2, -1, -1, ST_OK, 40},         {40, 5, 1, -1, -1, ST_OK, 40},
        {40, 4, 2, 17, -1, ST_READ_ERROR, 17},  // those before a failed load still arrive
        {40, 4, 2, -1, 9, ST_STOPPED, 10},      // a failed delivery stops everything
        {40, 6, 2, 30, 9, ST_STOPPED, 10},      {40, 3, 1, 17, -1, ST_READ_ERROR, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " items, window " + std::to_string(c.window) + ", " +
                     std::to_string(c.workers) + " workers");
        OrderedLog log;
        log.count = c.count;
        log.failLoadAt = c.failLoadAt;
        log.failDeliverAt = c.failDeliverAt;
        log.workers = c.workers;
        log.caller = pthread_self();
        for (auto& w : log.worked) w = 0;
        const OrderedWork work{orderedLoad, orderedWork, orderedDeliver, &log};
        EXPECT_EQ(runOrdered(c.count, c.window, c.workers, work), c.expected);
        ASSERT_EQ(static_cast<int64_t>(log.delivered.size()), c.deliveredCount);
        for (int64_t i = 0; i < c.deliveredCount; ++i) EXPECT_EQ(log.delivered[i], i);
        EXPECT_EQ(log.wrong.load(), 0);
        for (int64_t i = 0; i < c.count && c.failDeliverAt < 0; ++i) EXPECT_EQ(log.worked[i].load(), i < c.deliveredCount ? 1 : 0) << i;
    }
    EXPECT_EQ(taskWorkers(1, 1 << 24), 1);  // one item, one worker
    EXPECT_EQ(taskWorkers(8, 100), 1);      // too little work to share
}
