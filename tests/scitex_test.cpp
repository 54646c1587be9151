// SciTex CT files: hand-built headers pin down the size text, the separation
// counts, the padding of odd-width lines and the inverted C,M,Y,K values; the
// corpus files decode to the pixels ImageMagick reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

struct Sct {
    int separations = 3;
    std::string size = "+.10000000E+01+.10000000E+01+00000000001+00000000001";
    size_t parameters = 1024;  // where the parameter block sits
    uint8_t units = 1;
    std::vector<uint8_t> pixels;
};

std::vector<uint8_t> build(const Sct& s) {
    std::vector<uint8_t> f(2048, 0);
    memcpy(f.data(), "test", 4);
    f[80] = 'C';
    f[81] = 'T';
    f[s.parameters] = s.units;
    f[s.parameters + 1] = static_cast<uint8_t>(s.separations);
    memcpy(f.data() + s.parameters + 4, s.size.data(), s.size.size());
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    return f;
}

std::string sizeText(int height, int width) {
    char text[80];
    snprintf(text, sizeof text, "+.26666666E+01+.26666666E+01+%011d+%011d", height, width);
    return text;
}

Sct sct(int separations, int height, int width, std::vector<uint8_t> pixels) {
    Sct s;
    s.separations = separations;
    s.size = sizeText(height, width);
    s.pixels = std::move(pixels);
    return s;
}

template <typename F>
Sct with(Sct s, F change) {
    change(&s);
    return s;
}

struct Case {
    const char* name;
    Sct file;
    Status status;
    int width, height;
    std::vector<uint8_t> rgb;  // the picture as R,G,B triplets; empty when nothing is read
    const char* formatName = nullptr;
};

TEST(ScitexReader, HandBuiltFiles) {
    std::vector<uint8_t> rgb30x20, rgbLines30x20;  // lines of R, G, B separations
    for (int y = 0; y < 20; ++y)
        for (int p = 0; p < 3; ++p)
            for (int x = 0; x < 30; ++x) rgbLines30x20.push_back(uint8_t(x * 8 + p * 3 + y));
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            for (int p = 0; p < 3; ++p) rgb30x20.push_back(uint8_t(x * 8 + p * 3 + y));
    const std::vector<Case> cases = {
        {"size 20 high, 30 wide", sct(3, 20, 30, rgbLines30x20), ST_OK, 30, 20, rgb30x20, "SciTex (RGB)"},
        {"odd width: each line padded", sct(3, 2, 1, {10, 0, 20, 0, 30, 0, 40, 0, 50, 0, 60, 0}), ST_OK, 1, 2,
         {10, 20, 30, 40, 50, 60}},
        {"odd width, last pad missing", sct(3, 1, 3, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9}), ST_OK, 3, 1,
         {1, 4, 7, 2, 5, 8, 3, 6, 9}},
        {"CMYK all 255 is white", sct(4, 1, 2, std::vector<uint8_t>(8, 255)), ST_OK, 2, 1,
         std::vector<uint8_t>(6, 255), "SciTex (CMYK)"},
        {"CMYK all 0 is black", sct(4, 1, 2, std::vector<uint8_t>(8, 0)), ST_OK, 2, 1, std::vector<uint8_t>(6, 0)},
        {"grey", sct(1, 2, 2, {0, 80, 160, 240}), ST_OK, 2, 2,
         {0, 0, 0, 80, 80, 80, 160, 160, 160, 240, 240, 240}, "SciTex (Grayscale)"},
        {"parameters at 942", with(sct(3, 1, 2, {1, 2, 3, 4, 5, 6}), [](Sct* s) { s->parameters = 942; }), ST_OK, 2,
         1, {1, 3, 5, 2, 4, 6}},
        {"lines cut", sct(3, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8}), ST_READ_ERROR, 2, 2,
         {1, 3, 5, 2, 4, 6, 7, 0, 0, 8, 0, 0}},
        // Refusals.
        {"2 separations", sct(2, 1, 1, {1, 2}), ST_UNKNOWN_FORMAT, 0, 0, {}},
        {"units 2", with(sct(3, 1, 1, {1, 2, 3}), [](Sct* s) { s->units = 2; }), ST_UNKNOWN_FORMAT, 0, 0, {}},
        {"size text with one number", with(sct(3, 1, 1, {1, 2, 3}), [](Sct* s) {
             s->size = "+.26666666E+01+.26666666E+01+00000000001";
         }), ST_UNKNOWN_FORMAT, 0, 0, {}},
        {"size text without exponents", with(sct(3, 1, 1, {1, 2, 3}), [](Sct* s) { s->size = "+1+1"; }),
         ST_UNKNOWN_FORMAT, 0, 0, {}},
        {"width 0", sct(3, 1, 0, {}), ST_BAD_FILE, 0, 0, {}},
        {"height 16000", sct(3, 16000, 1, {}), ST_BAD_FILE, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = build(c.file);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("scitex", file, &img, 0, &info), c.status);
        if (c.rgb.empty()) continue;
        if (c.formatName) EXPECT_STREQ(info.formatName, c.formatName);
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("scitex", file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.width, c.width);
        EXPECT_EQ(img.height, c.height);
        EXPECT_EQ(toRgb(img).pixels, c.rgb);
    }
}

TEST(ScitexReader, CorpusFilesDecodeAsImageMagickReadsThem) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/scitex/";
    std::vector<uint8_t> probe;
    if (!readFile(dir + "rgb.sct", &probe)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::vector<std::pair<const char*, uint16_t>> files = {
        {"rgb.sct", IMG_RGB}, {"cmyk.sct", IMG_RGB}, {"gray.sct", IMG_GREY}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.first);
        OwnedImage img;
        ASSERT_EQ(load(dir + f.first, &img), ST_OK);
        EXPECT_EQ(img.kind & (f.second == IMG_GREY ? IMG_GREY : IMG_TRUECOLOUR), img.kind);
        const std::string ref = tempPath(std::string(f.first) + ".ppm");
        ASSERT_EQ(run(std::string(IM) + " " + dir + f.first + " -depth 8 ppm:" + ref), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

}  // namespace
