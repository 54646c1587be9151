// Tone and colour adjustments: the tables against hand-computed values, their
// application to every kind (palette pictures change their palette, few-level
// pictures use adapted tables, the fourth byte is kept), the histogram
// operations, the colour balance and the channel permutations; a few against
// ImageMagick where the definitions coincide.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "optestutil.h"
#include "testutil.h"
#include "tone.h"

using namespace optest;

namespace {

struct TableCase {
    const char* name;
    std::function<bool(uint8_t*)> build;
    std::vector<std::pair<int, int>> points;  // (input, expected output)
};

std::vector<uint8_t> triplets(std::initializer_list<Rgb3> colours) {
    std::vector<uint8_t> v;
    for (const Rgb3& c : colours) v.insert(v.end(), {c.r, c.g, c.b});
    return v;
}

}  // namespace

TEST(Tone, TablesAgainstHandValues) {
    const TableCase cases[] = {
        {"negative", [](uint8_t* t) { negativeTable(t); return true; }, {{0, 255}, {255, 0}, {100, 155}}},
        // 255 x ln(i + 1) / ln 256: ln 2 / ln 256 = 1/8 -> 31; ln 16 / ln 256 = 1/2 -> 127.
        {"log", [](uint8_t* t) { logTable(t); return true; }, {{0, 0}, {1, 31}, {15, 127}, {255, 255}}},
        {"brightness +255", [](uint8_t* t) { brightnessTable(255, t); return true; }, {{0, 255}, {128, 255}, {255, 255}}},
        {"brightness -255", [](uint8_t* t) { brightnessTable(-255, t); return true; }, {{0, 0}, {128, 0}, {255, 0}}},
        {"brightness +10", [](uint8_t* t) { brightnessTable(10, t); return true; }, {{0, 10}, {245, 255}, {250, 255}}},
        {"brightness huge", [](uint8_t* t) { brightnessTable(1 << 30, t); return true; }, {{0, 255}}},
        {"contrast 0", [](uint8_t* t) { return contrastTable(0, t); }, {{0, 0}, {77, 77}, {255, 255}}},
        {"contrast +127", [](uint8_t* t) { return contrastTable(127, t); },
         {{0, 0}, {126, 0}, {127, 0}, {128, 255}, {255, 255}}},
        // c = 64: (i - 64) x 255 / 127.
        {"contrast +64", [](uint8_t* t) { return contrastTable(64, t); }, {{64, 0}, {100, 72}, {191, 255}}},
        // c = -127: (1 x i / 255) + 127.
        {"contrast -127", [](uint8_t* t) { return contrastTable(-127, t); }, {{0, 127}, {254, 127}, {255, 128}}},
        // c = -50: 155 i / 255 + 50.
        {"contrast -50", [](uint8_t* t) { return contrastTable(-50, t); }, {{0, 50}, {255, 205}, {100, 110}}},
        {"gamma 1.00", [](uint8_t* t) { return gammaTable(1.0, t); }, {{0, 0}, {1, 1}, {128, 128}, {255, 255}}},
        // (64/255)^(1/2) x 255 + 0.5 = 128.25.
        {"gamma 2.00", [](uint8_t* t) { return gammaTable(2.0, t); }, {{0, 0}, {64, 128}, {255, 255}}},
        // (128/255)^2 x 255 + 0.5 = 64.75.
        {"gamma 0.50", [](uint8_t* t) { return gammaTable(0.5, t); }, {{128, 64}, {255, 255}}},
        {"solarise 128", [](uint8_t* t) { solariseTable(128, t); return true; },
         {{0, 0}, {128, 128}, {129, 126}, {255, 0}}},
        {"solarise -1", [](uint8_t* t) { solariseTable(-1, t); return true; }, {{0, 255}, {255, 0}}},
        {"solarise 255", [](uint8_t* t) { solariseTable(255, t); return true; }, {{0, 0}, {255, 255}}},
        {"posterise 4", [](uint8_t* t) { return posteriseTable(4, t); },
         {{0, 0}, {63, 0}, {64, 85}, {127, 85}, {128, 170}, {191, 170}, {192, 255}, {255, 255}}},
        {"posterise 2", [](uint8_t* t) { return posteriseTable(2, t); }, {{0, 0}, {127, 0}, {128, 255}, {255, 255}}},
        {"posterise 256", [](uint8_t* t) { return posteriseTable(256, t); }, {{0, 0}, {100, 100}, {254, 254}, {255, 255}}},
        // 8 levels: step 36, blocks of 32; the block at 224 would reach 260 and gets 255.
        {"posterise 8", [](uint8_t* t) { return posteriseTable(8, t); },
         {{0, 0}, {31, 0}, {32, 36}, {192, 216}, {223, 216}, {224, 255}}},
    };
    for (const TableCase& c : cases) {
        uint8_t t[256];
        ASSERT_TRUE(c.build(t)) << c.name;
        for (auto [in, out] : c.points) EXPECT_EQ(t[in], out) << c.name << " at " << in;
    }
}

TEST(Tone, TableParametersOutOfRange) {
    uint8_t t[256];
    EXPECT_FALSE(contrastTable(128, t));
    EXPECT_FALSE(contrastTable(-128, t));
    EXPECT_FALSE(gammaTable(0.0, t));
    EXPECT_FALSE(gammaTable(-1.0, t));
    EXPECT_FALSE(gammaTable(std::numeric_limits<double>::quiet_NaN(), t));
    EXPECT_FALSE(gammaTable(std::numeric_limits<double>::infinity(), t));
    EXPECT_FALSE(posteriseTable(1, t));
    EXPECT_FALSE(posteriseTable(257, t));
    OwnedImage img;
    ASSERT_TRUE(makeImage(&img, IMG_GREY, 2, 1, {1, 2}));
    EXPECT_EQ(contrastImage(&img, nullptr, 200), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(gammaImage(&img, nullptr, 0.0), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(posteriseImage(&img, nullptr, 0), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(swapChannels(&img, nullptr, 5), ST_OP_BAD_PARAMETER);
    EXPECT_EQ(valueAt(img, 1, 0), 2);
    Image empty{};
    EXPECT_EQ(negativeImage(&empty, nullptr), ST_KIND_REFUSED);
    EXPECT_EQ(normaliseImage(nullptr, nullptr), ST_KIND_REFUSED);
}

// The negative on every kind: true colour bytes invert, the fourth byte stays,
// palette pictures keep their indices and invert the entries in use, few-level
// pictures invert within their levels.
TEST(Tone, NegativeOnEveryKind) {
    for (uint16_t kind : {IMG_RGB, IMG_RGB32, IMG_BGR, IMG_BGR32}) {
        SCOPED_TRACE(kindName(kind));
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, kind, 2, 1, triplets({{0, 100, 255}, {1, 2, 3}}), 0, 0x42));
        ASSERT_EQ(negativeImage(&img, nullptr), ST_OK);
        EXPECT_EQ(img.kind, kind);
        EXPECT_EQ(colourAt(img, 0, 0), (Rgb3{255, 155, 0}));
        EXPECT_EQ(colourAt(img, 1, 0), (Rgb3{254, 253, 252}));
        if (kind & IMG_32BIT) EXPECT_EQ(xByteAt(img, 0, 0), 0x42);
    }
    OwnedImage pal;
    ASSERT_TRUE(makeImage(&pal, IMG_PALETTE, 3, 1, {0, 1, 1}, 2));
    setPaletteEntry(&pal, 0, 10, 20, 30);
    setPaletteEntry(&pal, 1, 255, 0, 128);
    ASSERT_EQ(negativeImage(&pal, nullptr), ST_OK);
    EXPECT_EQ(valueAt(pal, 0, 0), 0);
    EXPECT_EQ(valueAt(pal, 2, 0), 1);
    EXPECT_EQ(pal.colours, 2);
    EXPECT_EQ(paletteEntry(pal, 0), (Rgb3{245, 235, 225}));
    EXPECT_EQ(paletteEntry(pal, 1), (Rgb3{0, 255, 127}));
    EXPECT_EQ(paletteEntry(pal, 2), (Rgb3{0, 0, 0}));  // beyond the colours in use

    OwnedImage grey16;
    ASSERT_TRUE(makeImage(&grey16, IMG_GREY, 3, 1, {0, 15, 5}, 16));
    ASSERT_EQ(negativeImage(&grey16, nullptr), ST_OK);
    EXPECT_EQ(valueAt(grey16, 0, 0), 15);
    EXPECT_EQ(valueAt(grey16, 1, 0), 0);
    EXPECT_EQ(valueAt(grey16, 2, 0), 10);
    EXPECT_EQ(grey16.colours, 16);

    OwnedImage bw;
    ASSERT_TRUE(makeImage(&bw, IMG_BINARY, 2, 1, {0, 1}));
    ASSERT_EQ(negativeImage(&bw, nullptr), ST_OK);
    EXPECT_EQ(valueAt(bw, 0, 0), 1);
    EXPECT_EQ(valueAt(bw, 1, 0), 0);

    OwnedImage grey;
    ASSERT_TRUE(makeImage(&grey, IMG_GREY, 2, 1, {0, 200}));
    ASSERT_EQ(negativeImage(&grey, nullptr), ST_OK);
    EXPECT_EQ(valueAt(grey, 0, 0), 255);
    EXPECT_EQ(valueAt(grey, 1, 0), 55);

    // A grey picture that claims one colour is read as 256 levels.
    OwnedImage one;
    ASSERT_TRUE(makeImage(&one, IMG_GREY, 2, 1, {0, 200}, 1));
    ASSERT_EQ(negativeImage(&one, nullptr), ST_OK);
    EXPECT_EQ(valueAt(one, 1, 0), 55);
}

// Single tables on few-level pictures, adapted to the levels by hand.
TEST(Tone, AdaptedTablesOnFewLevels) {
    struct Case {
        const char* name;
        std::function<Status(Image*)> op;
        uint16_t kind;
        int colours;
        std::vector<uint8_t> in, out;
    };
    const Case cases[] = {
        // 4 levels: T'[i] = 3 x T[i x 85] / 255.
        {"brightness +85 / 4", [](Image* i) { return brightnessImage(i, nullptr, 85); }, IMG_GREY, 4, {0, 1, 2, 3}, {1, 2, 3, 3}},
        {"brightness -255 / bw", [](Image* i) { return brightnessImage(i, nullptr, -255); }, IMG_BINARY, 2, {0, 1}, {0, 0}},
        {"brightness +255 / bw", [](Image* i) { return brightnessImage(i, nullptr, 255); }, IMG_BINARY, 2, {0, 1}, {1, 1}},
        {"solarise 128 / 4", [](Image* i) { return solariseImage(i, nullptr, 128); }, IMG_GREY, 4, {0, 1, 2, 3}, {0, 1, 1, 0}},
        {"posterise 2 / 16", [](Image* i) { return posteriseImage(i, nullptr, 2); }, IMG_GREY, 16, {0, 7, 8, 15}, {0, 0, 15, 15}},
        {"gamma 1 / 16", [](Image* i) { return gammaImage(i, nullptr, 1.0); }, IMG_GREY, 16, {0, 7, 8, 15}, {0, 7, 8, 15}},
        {"values beyond the levels / 4", [](Image* i) { return negativeImage(i, nullptr); }, IMG_GREY, 4, {0, 3, 4, 255}, {3, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, c.kind, static_cast<int>(c.in.size()), 1, c.in, c.colours));
        ASSERT_EQ(c.op(&img), ST_OK) << c.name;
        EXPECT_EQ(img.kind, c.kind) << c.name;
        EXPECT_EQ(img.colours, c.colours) << c.name;
        for (size_t x = 0; x < c.in.size(); ++x) EXPECT_EQ(valueAt(img, static_cast<int>(x), 0), c.out[x]) << c.name << " " << x;
    }
}

// Gamma 1.00 and the other neutral parameters leave every kind unchanged.
TEST(Tone, NeutralParametersChangeNothing) {
    const std::function<Status(Image*)> ops[] = {
        [](Image* i) { return gammaImage(i, nullptr, 1.0); },
        [](Image* i) { return brightnessImage(i, nullptr, 0); },
        [](Image* i) { return contrastImage(i, nullptr, 0); },
        [](Image* i) { return solariseImage(i, nullptr, 255); },
        [](Image* i) { return posteriseImage(i, nullptr, 256); },
        [](Image* i) { return colourBalanceImage(i, nullptr, 0, 0, 0); },
    };
    for (uint16_t kind : {IMG_GREY, IMG_PALETTE, IMG_RGB, IMG_RGB32, IMG_BGR, IMG_BGR32}) {
        std::vector<uint8_t> v;
        for (int i = 0; i < 3 * 64; ++i) v.push_back(static_cast<uint8_t>(i * 37));
        for (size_t k = 0; k < sizeof ops / sizeof ops[0]; ++k) {
            OwnedImage img, ref;
            ASSERT_TRUE(makeImage(&img, kind, 8, 8, v, 0, 9));
            ASSERT_TRUE(makeImage(&ref, kind, 8, 8, v, 0, 9));
            if (kind == IMG_PALETTE)
                for (int i = 0; i < 256; ++i) {
                    setPaletteEntry(&img, i, static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i));
                    setPaletteEntry(&ref, i, static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i));
                }
            ASSERT_EQ(ops[k](&img), ST_OK);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) {
                    ASSERT_EQ(colourAt(img, x, y), colourAt(ref, x, y)) << kindName(kind) << " op " << k;
                    ASSERT_EQ(valueAt(img, x, y), valueAt(ref, x, y)) << kindName(kind) << " op " << k;
                    ASSERT_EQ(xByteAt(img, x, y), xByteAt(ref, x, y));
                }
        }
    }
}

// Normalisation stretches each channel from its own range to 0..255.
TEST(Tone, NormaliseStretchesEachChannel) {
    for (uint16_t kind : {IMG_RGB, IMG_RGB32, IMG_BGR, IMG_BGR32}) {
        SCOPED_TRACE(kindName(kind));
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, kind, 3, 1, triplets({{50, 0, 7}, {75, 10, 7}, {100, 20, 7}}), 0, 0xEE));
        ASSERT_EQ(normaliseImage(&img, nullptr), ST_OK);
        EXPECT_EQ(colourAt(img, 0, 0), (Rgb3{0, 0, 7}));  // a constant channel stays
        EXPECT_EQ(colourAt(img, 1, 0), (Rgb3{127, 127, 7}));
        EXPECT_EQ(colourAt(img, 2, 0), (Rgb3{255, 255, 7}));
        if (kind & IMG_32BIT) EXPECT_EQ(xByteAt(img, 1, 0), 0xEE);
    }
    OwnedImage grey;
    ASSERT_TRUE(makeImage(&grey, IMG_GREY, 2, 1, {50, 100}));
    ASSERT_EQ(normaliseImage(&grey, nullptr), ST_OK);
    EXPECT_EQ(valueAt(grey, 0, 0), 0);
    EXPECT_EQ(valueAt(grey, 1, 0), 255);
    EXPECT_EQ(grey.colours, 256);
}

// Palette pictures: the palette is stretched over the colours the pixels show,
// the indices stay.
TEST(Tone, NormaliseAndEqualisePalettes) {
    OwnedImage pal;
    ASSERT_TRUE(makeImage(&pal, IMG_PALETTE, 4, 1, {2, 1, 2, 1}, 3));
    setPaletteEntry(&pal, 0, 0, 0, 0);  // not shown: outside the stretch
    setPaletteEntry(&pal, 1, 60, 10, 200);
    setPaletteEntry(&pal, 2, 120, 20, 100);
    ASSERT_EQ(normaliseImage(&pal, nullptr), ST_OK);
    EXPECT_EQ(pal.kind, IMG_PALETTE);
    EXPECT_EQ(valueAt(pal, 0, 0), 2);
    EXPECT_EQ(valueAt(pal, 1, 0), 1);
    EXPECT_EQ(paletteEntry(pal, 1), (Rgb3{0, 0, 255}));
    EXPECT_EQ(paletteEntry(pal, 2), (Rgb3{255, 255, 0}));
    EXPECT_EQ(paletteEntry(pal, 0), (Rgb3{0, 0, 0}));
}

// Equalisation by hand: values 0, 0, 100, 200 give C = 2, 3, 4 and range 2.
TEST(Tone, EqualiseHandChecked) {
    OwnedImage grey;
    ASSERT_TRUE(makeImage(&grey, IMG_GREY, 4, 1, {0, 100, 0, 200}));
    ASSERT_EQ(equaliseImage(&grey, nullptr), ST_OK);
    EXPECT_EQ(valueAt(grey, 0, 0), 0);
    EXPECT_EQ(valueAt(grey, 1, 0), 127);
    EXPECT_EQ(valueAt(grey, 3, 0), 255);

    OwnedImage rgb;
    ASSERT_TRUE(makeImage(&rgb, IMG_BGR, 4, 1, triplets({{0, 9, 9}, {100, 9, 9}, {0, 9, 9}, {200, 9, 9}})));
    ASSERT_EQ(equaliseImage(&rgb, nullptr), ST_OK);
    // A channel holding only 9: C[0] = 0 and C[9] = 4, so 9 becomes 255.
    EXPECT_EQ(colourAt(rgb, 1, 0), (Rgb3{127, 255, 255}));
    EXPECT_EQ(colourAt(rgb, 3, 0), (Rgb3{255, 255, 255}));
}

// Black and white and few-level grey pictures are spread to 256-level grey
// before the per-channel tables.
TEST(Tone, PerChannelTablesSpreadFewLevels) {
    OwnedImage bw;
    ASSERT_TRUE(makeImage(&bw, IMG_BINARY, 2, 1, {0, 1}));
    ASSERT_EQ(colourBalanceImage(&bw, nullptr, 50, 0, 0), ST_OK);
    EXPECT_EQ(bw.kind, IMG_GREY);
    EXPECT_EQ(bw.colours, 256);
    EXPECT_EQ(valueAt(bw, 0, 0), 50);
    EXPECT_EQ(valueAt(bw, 1, 0), 255);

    OwnedImage g4;
    ASSERT_TRUE(makeImage(&g4, IMG_GREY, 3, 1, {1, 2, 2}, 4));
    ASSERT_EQ(normaliseImage(&g4, nullptr), ST_OK);
    EXPECT_EQ(g4.kind, IMG_GREY);
    EXPECT_EQ(g4.colours, 256);
    EXPECT_EQ(valueAt(g4, 0, 0), 0);
    EXPECT_EQ(valueAt(g4, 1, 0), 255);

    OwnedImage g16;
    ASSERT_TRUE(makeImage(&g16, IMG_GREY, 2, 1, {0, 15}, 16));
    ASSERT_EQ(equaliseImage(&g16, nullptr), ST_OK);
    EXPECT_EQ(valueAt(g16, 1, 0), 255);
    EXPECT_EQ(g16.colours, 256);
}

// The colour balance adds the red, green and blue offsets to those colours
// whatever the byte order, with clamping.
TEST(Tone, ColourBalanceFollowsTheColours) {
    for (uint16_t kind : {IMG_RGB, IMG_RGB32, IMG_BGR, IMG_BGR32}) {
        SCOPED_TRACE(kindName(kind));
        OwnedImage img;
        ASSERT_TRUE(makeImage(&img, kind, 2, 1, triplets({{10, 100, 250}, {0, 255, 60}}), 0, 0x33));
        ASSERT_EQ(colourBalanceImage(&img, nullptr, 20, -100, 10), ST_OK);
        EXPECT_EQ(colourAt(img, 0, 0), (Rgb3{30, 0, 255}));
        EXPECT_EQ(colourAt(img, 1, 0), (Rgb3{20, 155, 70}));
        if (kind & IMG_32BIT) EXPECT_EQ(xByteAt(img, 0, 0), 0x33);
    }
    OwnedImage pal;
    ASSERT_TRUE(makeImage(&pal, IMG_PALETTE, 1, 1, {0}, 1));
    setPaletteEntry(&pal, 0, 100, 100, 100);
    ASSERT_EQ(colourBalanceImage(&pal, nullptr, 1, 2, 3), ST_OK);
    EXPECT_EQ(paletteEntry(pal, 0), (Rgb3{101, 102, 103}));
}

// Channel permutations: the label XYZ sends red to X, green to Y, blue to Z.
TEST(Tone, ChannelSwaps) {
    struct Case {
        int mode;
        Rgb3 expect;  // of (10, 20, 30)
    };
    const Case cases[] = {{SWAP_RBG, {10, 30, 20}}, {SWAP_BGR, {30, 20, 10}}, {SWAP_BRG, {20, 30, 10}},
                          {SWAP_GRB, {20, 10, 30}}, {SWAP_GBR, {30, 10, 20}}};
    for (const Case& c : cases) {
        for (uint16_t kind : {IMG_RGB, IMG_RGB32, IMG_BGR, IMG_BGR32}) {
            OwnedImage img;
            ASSERT_TRUE(makeImage(&img, kind, 1, 1, {10, 20, 30}, 0, 0x77));
            ASSERT_EQ(swapChannels(&img, nullptr, c.mode), ST_OK);
            EXPECT_EQ(colourAt(img, 0, 0), c.expect) << "mode " << c.mode << " " << kindName(kind);
            if (kind & IMG_32BIT) EXPECT_EQ(xByteAt(img, 0, 0), 0x77);
        }
        OwnedImage pal;
        ASSERT_TRUE(makeImage(&pal, IMG_PALETTE, 1, 1, {4}, 5));
        setPaletteEntry(&pal, 4, 10, 20, 30);
        ASSERT_EQ(swapChannels(&pal, nullptr, c.mode), ST_OK);
        EXPECT_EQ(valueAt(pal, 0, 0), 4);
        EXPECT_EQ(paletteEntry(pal, 4), c.expect) << "palette mode " << c.mode;

        OwnedImage grey;
        ASSERT_TRUE(makeImage(&grey, IMG_GREY, 1, 1, {99}));
        ASSERT_EQ(swapChannels(&grey, nullptr, c.mode), ST_OK);
        EXPECT_EQ(valueAt(grey, 0, 0), 99);
    }
}

// A destination receives the result; the source stays as it was.
TEST(Tone, DestinationKeepsTheSource) {
    OwnedImage src, dst;
    ASSERT_TRUE(makeImage(&src, IMG_RGB, 1, 1, {1, 2, 3}));
    src.orientation = OR_MIRRORED;
    src.xdpi = 72;
    ASSERT_EQ(negativeImage(&src, &dst), ST_OK);
    EXPECT_EQ(colourAt(src, 0, 0), (Rgb3{1, 2, 3}));
    EXPECT_EQ(colourAt(dst, 0, 0), (Rgb3{254, 253, 252}));
    EXPECT_EQ(dst.orientation, OR_MIRRORED);
    EXPECT_EQ(dst.xdpi, 72);
    ASSERT_EQ(swapChannels(&src, &dst, SWAP_BGR), ST_OK);  // replaces the destination's picture
    EXPECT_EQ(colourAt(dst, 0, 0), (Rgb3{3, 2, 1}));
}

TEST(Tone, MenuCommands) {
    const ToneCommand* c = toneCommands();
    EXPECT_EQ(c[0].command, 83);
    EXPECT_STREQ(c[0].label, "Luminosité...");
    EXPECT_STREQ(c[2].label, "Gamma...");
    EXPECT_EQ(c[2].defaultValue, 100);  // gamma 1.00, neutral
    EXPECT_STREQ(c[7].label, "Egualise");
    EXPECT_EQ(c[8].defaultValue, 128);
    EXPECT_EQ(c[14].command, 104);
    EXPECT_STREQ(c[14].label, "RGB->GBR");
    for (int i = 0; i < TONE_COMMAND_COUNT; ++i) {
        EXPECT_LE(c[i].minimum, c[i].defaultValue) << c[i].label;
        EXPECT_GE(c[i].maximum, c[i].defaultValue) << c[i].label;
    }
}

// ---- Against ImageMagick where the definitions coincide ---------------------

namespace {

// A 64 x 48 photo-like picture: smooth gradients with some texture.
void makePhoto(Image* img) {
    ASSERT_TRUE(createImage(img, IMG_RGB, 1, 64, 48));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            uint8_t* p = imageRow(img, y) + 3 * x;
            p[0] = static_cast<uint8_t>(x * 4);
            p[1] = static_cast<uint8_t>(y * 5 + (x % 3) * 7);
            p[2] = static_cast<uint8_t>((x * y) % 251);
        }
}

// Runs ImageMagick on our picture and compares the result channel by channel.
void compareWithMagick(const Image& before, const Image& ours, const std::string& args, int tolerance) {
    std::string in = testutil::tempPath("tone_in.ppm"), out = testutil::tempPath("tone_out.ppm");
    ASSERT_TRUE(writePpm(in, before));
    ASSERT_EQ(testutil::run("convert-im6.q16 " + in + " " + args + " " + out), 0) << args;
    testutil::Rgb ref;
    ASSERT_TRUE(testutil::readPnmReference(out, &ref));
    ASSERT_EQ(ref.width, ours.width);
    ASSERT_EQ(ref.height, ours.height);
    int worst = 0;
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x) {
            Rgb3 c = colourAt(ours, x, y);
            const uint8_t* r = &ref.pixels[(static_cast<size_t>(y) * ref.width + x) * 3];
            worst = std::max({worst, abs(c.r - r[0]), abs(c.g - r[1]), abs(c.b - r[2])});
        }
    EXPECT_LE(worst, tolerance) << args;
}

}  // namespace

TEST(Tone, AgreesWithImageMagick) {
    if (!testutil::haveProgram("convert-im6.q16")) GTEST_SKIP() << "convert-im6.q16 missing";
    struct Case {
        const char* args;
        std::function<Status(Image*)> op;
        int tolerance;
    };
    const Case cases[] = {
        {"-negate", [](Image* i) { return negativeImage(i, nullptr); }, 0},
        {"-gamma 2.2", [](Image* i) { return gammaImage(i, nullptr, 2.2); }, 1},
        {"-gamma 0.45", [](Image* i) { return gammaImage(i, nullptr, 0.45); }, 1},
        {"-channel RGB -separate -equalize -combine", [](Image* i) { return equaliseImage(i, nullptr); }, 1},
    };
    for (const Case& c : cases) {
        OwnedImage before, ours;
        makePhoto(&before);
        makePhoto(&ours);
        ASSERT_EQ(c.op(&ours), ST_OK);
        compareWithMagick(before, ours, c.args, c.tolerance);
    }
}

// ImageMagick's normalisation clips a small share of the pixels at both ends;
// on a picture of two values per channel it matches the plain stretch.
TEST(Tone, NormaliseAgreesWithImageMagickOnTwoValues) {
    if (!testutil::haveProgram("convert-im6.q16")) GTEST_SKIP() << "convert-im6.q16 missing";
    OwnedImage before, ours;
    std::vector<uint8_t> v;
    for (int i = 0; i < 64; ++i) {
        bool low = (i % 8) < 4;
        v.insert(v.end(), {static_cast<uint8_t>(low ? 50 : 100), static_cast<uint8_t>(low ? 50 : 100),
                           static_cast<uint8_t>(low ? 50 : 100)});
    }
    ASSERT_TRUE(makeImage(&before, IMG_RGB, 8, 8, v));
    ASSERT_TRUE(makeImage(&ours, IMG_RGB, 8, 8, v));
    ASSERT_EQ(normaliseImage(&ours, nullptr), ST_OK);
    EXPECT_EQ(colourAt(ours, 0, 0), (Rgb3{0, 0, 0}));
    EXPECT_EQ(colourAt(ours, 4, 0), (Rgb3{255, 255, 255}));
    compareWithMagick(before, ours, "-normalize", 0);
}
