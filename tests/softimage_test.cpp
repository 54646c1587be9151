// Softimage pictures: hand-built files pin down the packet chain, the mixed
// run-length coding and the refusals; the encoder's packets are checked byte
// for byte; the corpus decodes to what a decoding by hand of its packets
// gives; every mode round-trips.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(unsigned w, unsigned h, unsigned fields = 3, const char* id = "PICT") {
    Bytes b(104, 0);
    const uint8_t magic[4] = {0x53, 0x80, 0xF6, 0x34};
    memcpy(&b[0], magic, 4);
    memcpy(&b[88], id, 4);
    b[92] = uint8_t(w >> 8), b[93] = uint8_t(w), b[94] = uint8_t(h >> 8), b[95] = uint8_t(h);
    b[100] = uint8_t(fields >> 8), b[101] = uint8_t(fields);
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Case {
    const char* name;
    Bytes file;
    Status status;
    const char* message;
    uint16_t kind;
    Bytes pixels;
};

TEST(SoftimageReader, HandBuiltFiles) {
    const Bytes rgbPlain = {0, 8, 0, 0xE0};
    const Bytes rgbMixed = {0, 8, 2, 0xE0};
    const std::vector<Case> cases = {
        {"plain triplets", cat(header(2, 1), cat(rgbPlain, {1, 2, 3, 4, 5, 6})), ST_OK, nullptr, IMG_RGB,
         {1, 2, 3, 4, 5, 6}},
        {"type 1 reads as plain", cat(header(1, 1), {0, 8, 1, 0xE0, 7, 8, 9}), ST_OK, nullptr, IMG_RGB, {7, 8, 9}},
        {"mixed: literal, short run, long run", cat(header(6, 1), cat(rgbMixed, {0, 1, 2, 3, 129, 4, 5, 6, 128, 0, 3, 7, 8, 9})),
         ST_OK, nullptr, IMG_RGB, {1, 2, 3, 4, 5, 6, 4, 5, 6, 7, 8, 9, 7, 8, 9, 7, 8, 9}},
        {"rgb and alpha packets", cat(header(2, 1), {1, 8, 2, 0xE0, 0, 8, 0, 0x10, 0x81, 1, 2, 3, 40, 50}), ST_OK,
         nullptr, IMG_RGB32, {1, 2, 3, 40, 1, 2, 3, 50}},
        {"mixed alpha", cat(header(3, 1), {1, 8, 0, 0xE0, 0, 8, 2, 0x10, 1, 1, 1, 2, 2, 2, 3, 3, 3, 0x82, 9}), ST_OK,
         nullptr, IMG_RGB32, {1, 1, 1, 9, 2, 2, 2, 9, 3, 3, 3, 9}},
        {"a run past the row ends the packet's row", cat(header(2, 2), cat(rgbMixed, {0x85, 0x81, 4, 5, 6})),
         ST_OK, nullptr, IMG_RGB, {0, 0, 0, 0, 0, 0, 4, 5, 6, 4, 5, 6}},
        {"one packet of red, green, blue and alpha", cat(header(2, 1), {0, 8, 2, 0xF0, 0x81, 1, 2, 3, 4}), ST_OK, nullptr,
         IMG_RGB32, {1, 2, 3, 4, 1, 2, 3, 4}},
        {"green and blue, then red", cat(header(1, 1), {1, 8, 0, 0x60, 0, 8, 0, 0x80, 5, 6, 7}), ST_OK, nullptr,
         IMG_RGB, {7, 5, 6}},
        {"red and blue without green", cat(header(1, 1), {0, 8, 0, 0xA0, 5, 6}), ST_BAD_FILE,
         "Softimage : Unknown channel type !", 0, {}},
        {"no PICT", cat(header(1, 1, 3, "PICS"), cat(rgbPlain, {1, 2, 3})), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"two fields", cat(header(1, 1, 2), cat(rgbPlain, {1, 2, 3})), ST_BAD_FILE,
         "Softimage : Bad number of fields !", 0, {}},
        {"unknown channel", cat(header(1, 1), {0, 8, 0, 0x08, 1, 2, 3}), ST_BAD_FILE,
         "Softimage : Unknown channel type !", 0, {}},
        {"chain cut", cat(header(1, 1), {1, 8, 0, 0xE0}), ST_READ_ERROR, nullptr, 0, {}},
        {"rows cut", cat(header(1, 2), cat(rgbMixed, {0, 1, 2, 3, 0})), ST_READ_ERROR, nullptr, IMG_RGB,
         {1, 2, 3, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("soft", c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.kind == 0) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("soft", c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

// The pixel data of a written one-row RGB file, after the header and packet.
Bytes rowCoding(const Bytes& greys) {
    OwnedImage img;
    EXPECT_TRUE(testpictures::makePicture(&img, IMG_RGB, static_cast<int>(greys.size()), 1,
                                          [&](int x, int, int) { return greys[x]; }));
    img.orientation = 0;
    const std::string path = tempPath("coding.pic");
    EXPECT_EQ(saveAs(&img, path, "soft", 1), ST_OK);
    Bytes b;
    EXPECT_TRUE(readFile(path, &b));
    return b.size() > 108 ? Bytes(b.begin() + 108, b.end()) : Bytes();
}

Bytes triplets(std::initializer_list<uint8_t> v) {
    Bytes b;
    for (uint8_t x : v) b.resize(b.size() + 3, x);
    return b;
}

TEST(SoftimageWriter, MixedRunLengthPackets) {
    Bytes ramp300(300);
    for (int i = 0; i < 300; ++i) ramp300[i] = uint8_t(i % 251);
    Bytes expectedRamp;
    for (int start : {0, 128, 256}) {
        const int n = start == 256 ? 44 : 128;
        expectedRamp.push_back(uint8_t(n - 1));
        for (int i = start; i < start + n; ++i) expectedRamp.insert(expectedRamp.end(), 3, ramp300[i]);
    }
    const std::vector<std::pair<Bytes, Bytes>> cases = {
        {{7}, cat({0}, triplets({7}))},
        {Bytes(200, 5), cat({0x80, 0, 200}, triplets({5}))},
        {Bytes(128, 5), cat({0xFF}, triplets({5}))},
        {{1, 2, 2, 2, 3}, cat(cat(cat({0}, triplets({1})), cat({0x82}, triplets({2}))), cat({0}, triplets({3})))},
        {ramp300, expectedRamp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first.size());
        EXPECT_EQ(rowCoding(c.first), c.second);
    }
}

TEST(SoftimageWriter, EveryModeRoundTrips) {
    int n = 0;
    for (int compress : {0, 1})
        for (bool alpha : {false, true}) {
            SCOPED_TRACE(std::to_string(compress) + (alpha ? " alpha" : ""));
            OwnedImage img;
            ASSERT_TRUE(testpictures::makePicture(&img, IMG_RGB32, 150, 6, [&](int x, int y, int k) {
                if (k == 3) return static_cast<uint8_t>(alpha ? (x < 70 ? 200 : x) : 0);
                return static_cast<uint8_t>(x < 60 ? y * 9 + k : testpictures::patternByte(x, y, k));
            }));
            img.orientation = 0;
            const std::string path = tempPath("w" + std::to_string(n++) + ".pic");
            ASSERT_EQ(saveAs(&img, path, "soft", static_cast<int16_t>(compress)), ST_OK);
            Bytes b;
            ASSERT_TRUE(readFile(path, &b));
            ASSERT_GT(b.size(), 112u);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[8])), "Created by Kaleos");
            EXPECT_EQ(Bytes(b.begin() + 104, b.begin() + 108),
                      Bytes({uint8_t(alpha), 8, uint8_t(compress ? 2 : 0), 0xE0}));
            if (!compress) {
                EXPECT_EQ(b.size(), 104u + (alpha ? 8 : 4) + 150 * 6 * (alpha ? 4 : 3));
                if (alpha) EXPECT_EQ(b[112 + 450], 200);  // the first row's alpha after its triplets
            }
            OwnedImage back;
            ASSERT_EQ(roundTrip(&img, "soft", &back, static_cast<int16_t>(compress)), ST_OK);
            EXPECT_EQ(back.bytesPerPixel, alpha ? 4 : 3);
            EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
            if (alpha) EXPECT_EQ(compareRgb(alphaOf(back), alphaOf(img)), 0);
        }
    OwnedImage grey;
    ASSERT_TRUE(testpictures::makePicture(&grey, IMG_GREY, 4, 4));
    EXPECT_EQ(saveAs(&grey, tempPath("grey.pic"), "soft"), ST_KIND_REFUSED);
}

// The corpus files, against a decoding written here from the packet description.
TEST(SoftimageReader, CorpusFiles) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/soft/";
    Bytes probe;
    if (!readFile(dir + "A4.pic", &probe)) GTEST_SKIP() << "corpus missing";
    for (const char* f : {"A4.pic", "astone64.pic"}) {
        SCOPED_TRACE(f);
        Bytes b;
        ASSERT_TRUE(readFile(dir + f, &b));
        const int w = b[92] << 8 | b[93], h = b[94] << 8 | b[95];
        std::vector<std::array<uint8_t, 4>> packets;
        size_t at = 104;
        do {
            packets.push_back({b[at], b[at + 1], b[at + 2], b[at + 3]});
            at += 4;
        } while (packets.back()[0] == 1);
        const bool alpha = packets.size() > 1;
        const int stride = alpha ? 4 : 3;
        Bytes expected(static_cast<size_t>(w) * h * stride, 0);
        for (int y = 0; y < h; ++y)
            for (const auto& p : packets) {
                const int size = p[3] == 0xE0 ? 3 : 1, off = p[3] == 0xE0 ? 0 : 3;
                uint8_t* row = &expected[static_cast<size_t>(y) * w * stride];
                for (int x = 0; x < w;) {
                    int n = 1;
                    bool literal = true;
                    if (p[2] == 2) {
                        const int c = b.at(at++);
                        if (c < 128) n = c + 1;
                        else if (c == 128) n = b.at(at) << 8 | b.at(at + 1), at += 2, literal = false;
                        else n = c - 127, literal = false;
                    }
                    for (int i = 0; i < n; ++i) {
                        for (int k = 0; k < size; ++k) row[(x + i) * stride + off + k] = b.at(at + k);
                        if (literal || i == n - 1) at += size;
                    }
                    x += n;
                }
            }
        OwnedImage img;
        ASSERT_EQ(load(dir + f, &img), ST_OK);
        EXPECT_EQ(pixelsOf(img), expected);
    }
}

}  // namespace
