// Cineon files: hand-built files pin down the sample packings and the
// refusals; ImageMagick's files and the corpus decode to the pixels
// ImageMagick reads; our files have the fixed layout, round-trip and read
// back in ImageMagick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
using Bytes = std::vector<uint8_t>;

void put32(Bytes* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = uint8_t(v >> (24 - 8 * i));
}

struct Cin {
    unsigned width = 2, height = 1, channels = 3, bits = 10, packing = 5, interleave = 0;
    uint32_t genericLength = 1024;
    Bytes data;
};

Bytes build(const Cin& c) {
    Bytes b(2048, 0);
    put32(&b, 0, 0x802A5FD7);
    put32(&b, 4, 2048);
    put32(&b, 8, c.genericLength);
    put32(&b, 12, 1024);
    b[193] = uint8_t(c.channels);
    for (unsigned k = 0; k < 8; ++k) {
        b[196 + 28 * k + 2] = uint8_t(c.bits);
        put32(&b, 196 + 28 * k + 4, c.width);
        put32(&b, 196 + 28 * k + 8, c.height);
    }
    b[680] = uint8_t(c.interleave);
    b[681] = uint8_t(c.packing);
    b.insert(b.end(), c.data.begin(), c.data.end());
    return b;
}

template <typename F>
Cin make(F change) {
    Cin c;
    change(&c);
    return c;
}

Bytes words(std::initializer_list<uint32_t> v) {
    Bytes b;
    for (uint32_t x : v)
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(x >> s));
    return b;
}

struct Case {
    const char* name;
    Cin file;
    Status status;
    uint16_t kind;
    Bytes pixels;
};

TEST(CineonReader, HandBuiltFiles) {
    const std::vector<Case> cases = {
        {"10 bits, packing 5: one word a pixel", make([](Cin* c) {
             c->data = words({1023u << 22 | 512u << 12 | 0u << 2, 4u << 22 | 1019u << 12 | 1u << 2});
         }), ST_OK, IMG_RGB, {255, 127, 0, 0, 254, 0}},
        {"10 bits, packing 6: right justified", make([](Cin* c) {
             c->packing = 6;
             c->data = words({1023u << 20 | 512u << 10 | 0u, 4u << 20 | 1019u << 10 | 1u});
         }), ST_OK, IMG_RGB, {255, 127, 0, 0, 254, 0}},
        {"8 bits, packing 5: four samples a word, rows on words", make([](Cin* c) {
             c->height = 2;
             c->bits = 8;
             c->data = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
         }), ST_OK, IMG_RGB, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"10 bits, one channel, packing 0: a bit stream", make([](Cin* c) {
             c->channels = 1;
             c->width = 4;
             c->packing = 0;
             // 1023, 0, 512, 3 as 40 bits
             c->data = {0xFF, 0xC0, 0x08, 0x00, 0x03};
         }), ST_OK, IMG_GREY, {255, 0, 127, 0}},
        {"12 bits, packing 1: two bytes a sample, left justified", make([](Cin* c) {
             c->channels = 1;
             c->bits = 12;
             c->packing = 1;
             c->data = {0xFF, 0xF0, 0x80, 0x00};
         }), ST_OK, IMG_GREY, {255, 127}},
        {"12 bits, packing 4: right justified in 16 bits", make([](Cin* c) {
             c->channels = 1;
             c->bits = 12;
             c->packing = 4;
             c->data = {0x0F, 0xFF, 0x08, 0x00};
         }), ST_OK, IMG_GREY, {255, 127}},
        {"four channels keep four", make([](Cin* c) {
             c->width = 1;
             c->channels = 4;
             c->bits = 8;
             c->packing = 5;
             c->data = {1, 2, 3, 4};
         }), ST_OK, IMG_RGB32, {1, 2, 3, 4}},
        {"generic header of 1023 bytes", make([](Cin* c) { c->genericLength = 1023; }), ST_UNKNOWN_FORMAT, 0, {}},
        {"16-bit samples", make([](Cin* c) { c->bits = 16; }), ST_UNKNOWN_FORMAT, 0, {}},
        {"two channels", make([](Cin* c) {
             c->channels = 2;
             c->data = Bytes(8, 0);
         }), ST_BAD_FILE, 0, {}},
        {"line interleave", make([](Cin* c) {
             c->interleave = 1;
             c->data = Bytes(8, 0);
         }), ST_BAD_FILE, 0, {}},
        {"pixels cut", make([](Cin* c) {
             c->height = 2;
             c->data = words({1023u << 22 | 1023u << 12 | 1023u << 2, 0, 0});
         }), ST_READ_ERROR, IMG_RGB, {255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        const Bytes bytes = build(c.file);
        ASSERT_EQ(loadBytesAs("cineon", bytes, &img), c.status);
        if (c.kind == 0) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("cineon", bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

void expectAsImageMagick(const std::string& path, const Image& img) {
    static int n = 0;
    const std::string ppm = tempPath("im" + std::to_string(n++) + ".ppm");
    ASSERT_EQ(run(shell(std::string(IM) + " cin:$F -set colorspace sRGB -depth 8 ppm:$P", {{"$F", path}, {"$P", ppm}})),
              0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ppm, &expected, nullptr));
    EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
}

TEST(CineonReader, PeerAndCorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("cin_src.ppm"), peer = tempPath("peer.cin");
    ASSERT_TRUE(writeFile(src, patternP6(57, 19)));
    ASSERT_EQ(run(shell(std::string(IM) + " $S cin:$O", {{"$S", src}, {"$O", peer}})), 0);
    for (const std::string& f : {peer, std::string(KALEO_CORPUS_DIR) + "/cineon/checker.cin",
                                 std::string(KALEO_CORPUS_DIR) + "/cineon/input.cin"}) {
        SCOPED_TRACE(f);
        OwnedImage img;
        ASSERT_EQ(load(f, &img), ST_OK);
        expectAsImageMagick(f, img);
    }
}

TEST(CineonWriter, LayoutRoundTripAndImageMagick) {
    OwnedImage img;
    ASSERT_TRUE(testpictures::makePicture(&img, IMG_RGB, 2, 1, [](int x, int, int) { return uint8_t(x ? 0 : 255); }));
    img.orientation = 0;
    const std::string small = tempPath("small.cin");
    ASSERT_EQ(saveAs(&img, small, "cineon"), ST_OK);
    Bytes b;
    ASSERT_TRUE(readFile(small, &b));
    ASSERT_EQ(b.size(), 2056u);
    EXPECT_EQ(Bytes(b.begin() + 20, b.begin() + 24), words({2056}));
    EXPECT_EQ(Bytes(b.begin() + 2048, b.end()), words({0xFFFFFFFC, 0}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[24])), "V4.5");
    EXPECT_EQ(b[193], 3);
    EXPECT_EQ(b[681], 5);

    int n = 0;
    for (uint16_t kind : {IMG_RGB, IMG_BGR32, IMG_GREY}) {
        SCOPED_TRACE(kind);
        OwnedImage pic;
        ASSERT_TRUE(testpictures::makePicture(&pic, kind, 45, 13));
        pic.orientation = 0;
        const std::string path = tempPath("w" + std::to_string(n++) + ".cin");
        if (kind == IMG_GREY) {
            EXPECT_EQ(saveAs(&pic, path, "cineon"), ST_KIND_REFUSED);
            continue;
        }
        ASSERT_EQ(saveAs(&pic, path, "cineon"), ST_OK);
        OwnedImage back;
        ASSERT_EQ(roundTrip(&pic, "cineon", &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(pic)), 0);
        if (haveProgram(IM)) expectAsImageMagick(path, back);
    }
}

}  // namespace
