// Wavefront raster files: hand-built files pin down windows, channels, the
// line coding and damage; the corpus decodes to the pixels GraphicsMagick
// reads; our files round-trip and GraphicsMagick reads them to the same pixels
// and matte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes* b, size_t at, int v) {
    (*b)[at] = uint8_t(v >> 8);
    (*b)[at + 1] = uint8_t(v);
}

struct Rla {
    int window[4] = {0, 1, 0, 1};  // left, right, bottom, top
    int active[4] = {0, 1, 0, 1};
    int channels = 3, mattes = 0, aux = 0;
    const char* names = "rgb";
    std::vector<std::vector<Bytes>> lines;  // per stored line (bottom first), per channel: coded bytes
    std::vector<int> counts;                // overrides of the first counts, -1 = the real one
};

Bytes build(const Rla& r) {
    Bytes b(740, 0);
    for (int i = 0; i < 4; ++i) put16(&b, 2 * i, r.window[i]), put16(&b, 8 + 2 * i, r.active[i]);
    put16(&b, 20, r.channels);
    put16(&b, 22, r.mattes);
    put16(&b, 24, r.aux);
    memcpy(&b[580], r.names, strlen(r.names));
    const size_t table = b.size();
    b.resize(table + 4 * r.lines.size());
    size_t k = 0;
    for (size_t y = 0; y < r.lines.size(); ++y) {
        const uint32_t at = static_cast<uint32_t>(b.size());
        for (int s = 0; s < 4; ++s) b[table + 4 * y + s] = uint8_t(at >> (24 - 8 * s));
        for (const Bytes& coded : r.lines[y]) {
            const int count = k < r.counts.size() && r.counts[k] >= 0 ? r.counts[k] : static_cast<int>(coded.size());
            ++k;
            b.insert(b.end(), {uint8_t(count >> 8), uint8_t(count)});
            b.insert(b.end(), coded.begin(), coded.end());
        }
    }
    return b;
}

template <typename F>
Rla make(F change) {
    Rla r;
    change(&r);
    return r;
}

struct Case {
    const char* name;
    Rla file;
    Status status;
    const char* message;
    uint16_t kind;
    Bytes pixels;  // image bytes, top row first
};

TEST(RlaReader, HandBuiltFiles) {
    const std::vector<Case> cases = {
        {"runs and literals, bottom line first", make([](Rla* r) {
             r->lines = {{{1, 10}, {0xFE, 1, 2}, {1, 3}}, {{0xFF, 4, 0}, {1, 5}, {1, 6}}};
             r->lines[1][0] = {0xFE, 4, 7};
         }), ST_OK, nullptr, IMG_RGB, {4, 5, 6, 7, 5, 6, 10, 1, 3, 10, 2, 3}},
        {"a matte channel gives four planes", make([](Rla* r) {
             r->window[1] = r->active[1] = 0;
             r->window[3] = r->active[3] = 0;
             r->mattes = 1;
             r->lines = {{{0, 1}, {0, 2}, {0, 3}, {0, 4}}};
         }), ST_OK, nullptr, IMG_RGB32, {1, 2, 3, 4}},
        {"the active window sits at its offset in the window", make([](Rla* r) {
             r->window[1] = 3;
             r->active[0] = 1;
             r->active[1] = 2;
             r->window[3] = r->active[3] = 0;
             r->lines = {{{1, 9}, {1, 8}, {1, 7}}};
         }), ST_OK, nullptr, IMG_RGB, {0, 0, 0, 9, 8, 7, 9, 8, 7, 0, 0, 0}},
        {"a run longer than the line is clipped", make([](Rla* r) {
             r->window[3] = r->active[3] = 0;
             r->lines = {{{100, 9}, {0xFE, 1, 2}, {1, 3}}};
         }), ST_OK, nullptr, IMG_RGB, {9, 1, 3, 9, 2, 3}},
        {"a count of 0", make([](Rla* r) {
             r->window[3] = r->active[3] = 0;
             r->lines = {{{1, 9}, {1, 8}, {1, 7}}};
             r->counts = {0};
         }), ST_BAD_FILE, "Wavefront : Bad scanline encoding !", 0, {}},
        {"a count above twice the width", make([](Rla* r) {
             r->window[3] = r->active[3] = 0;
             r->lines = {{{1, 9, 0, 0, 0}, {1, 8}, {1, 7}}};
         }), ST_BAD_FILE, "Wavefront : Bad scanline encoding !", 0, {}},
        {"an active window outside the window", make([](Rla* r) {
             r->active[1] = 2;
             r->lines = {{{1, 9}, {1, 8}, {1, 7}}};
         }), ST_BAD_FILE, "Wavefront : Bad window !", 0, {}},
        {"channel names other than rgb", make([](Rla* r) { r->names = "rgba"; }), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"auxiliary channels", make([](Rla* r) { r->aux = 1; }), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"two colour channels", make([](Rla* r) { r->channels = 2; }), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"lines cut", make([](Rla* r) {
             r->lines = {{{1, 10}, {1, 20}, {1, 30}}, {{1, 1}, {1, 2}, {1, 3}}};
             r->counts = {-1, -1, -1, -1, -1, 4};
         }), ST_READ_ERROR, nullptr, IMG_RGB, {1, 2, 0, 1, 2, 0, 10, 20, 30, 10, 20, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        const Bytes bytes = build(c.file);
        ASSERT_EQ(loadBytesAs("rla", bytes, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.kind == 0) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("rla", bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

// ImageMagick refuses these files as corrupt; GraphicsMagick reads them.
void expectAsGraphicsMagick(const std::string& path, const Image& img) {
    static int n = 0;
    const std::string ppm = tempPath("gm" + std::to_string(n) + ".ppm"), alpha = tempPath("gm" + std::to_string(n++) + ".pgm");
     ASSERT_EQ(run(shell("gm convert rla:$F -depth 8 ppm:$P", {{"$F", path}, {"$P", ppm}})), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ppm, &expected, nullptr));
    EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    if (img.bytesPerPixel != 4) return;
     ASSERT_EQ(run(shell("gm convert rla:$F -channel Opacity -negate -depth 8 pgm:$P", {{"$F", path}, {"$P", alpha}})), 0);
    ASSERT_TRUE(readPeerPnm(alpha, &expected, nullptr));
    EXPECT_EQ(compareRgb(alphaOf(img), expected), 0);
}

TEST(RlaReader, CorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("gm")) GTEST_SKIP() << "GraphicsMagick missing";
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/rla/";
    for (const char* f : {"ginsu_a_nc8.rla", "ginsu_rgb_nc8.rla", "ginsu_rgba_nc8.rla", "imgmake_rgba_nc8.rla"}) {
        SCOPED_TRACE(f);
        OwnedImage img;
        ASSERT_EQ(load(dir + f, &img), ST_OK);
        expectAsGraphicsMagick(dir + f, img);
    }
}

TEST(RlaWriter, RoundTripsAndReadsInImageMagick) {
    const std::vector<std::pair<uint16_t, bool>> cases = {
        {IMG_RGB, false}, {IMG_BGR, false}, {IMG_RGB32, false}, {IMG_RGB32, true}, {IMG_GREY, false}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + (c.second ? " with alpha" : ""));
        OwnedImage img;
        // Long runs, then noise: both kinds of packet, and literal groups of 128.
        ASSERT_TRUE(testpictures::makePicture(&img, c.first, 300, 7, [&](int x, int y, int k) {
            if (k == 3) return static_cast<uint8_t>(c.second ? x + y : 0);
            return static_cast<uint8_t>(x < 140 ? y * 20 + k : testpictures::patternByte(x, y, k));
        }));
        img.orientation = 0;
        const std::string path = tempPath("w" + std::to_string(n++) + ".rla");
        const Status expected = c.first == IMG_GREY ? ST_KIND_REFUSED : ST_OK;
        ASSERT_EQ(saveAs(&img, path, "rla"), expected);
        if (expected != ST_OK) continue;
        Bytes b;
        ASSERT_TRUE(readFile(path, &b));
        EXPECT_EQ(b[23], c.second ? 1 : 0);  // matte channels
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[580])), "rgb");
        OwnedImage back;
        ASSERT_EQ(roundTrip(&img, "rla", &back), ST_OK);
        EXPECT_EQ(back.bytesPerPixel, c.second ? 4 : 3);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
        if (c.second) EXPECT_EQ(compareRgb(alphaOf(back), alphaOf(img)), 0);
        if (haveProgram("gm")) expectAsGraphicsMagick(path, back);
    }
}

}  // namespace
