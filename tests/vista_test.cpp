// Vista pictures: hand-built files of every depth and the refusals; our files
// have the fixed layout (bottom row first, a 256-entry palette at depth 8) and
// round-trip for every kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(int w, int h, int depth, const char* signature = "IGCH") {
    Bytes b(36, 0);
    b[12] = uint8_t(w), b[13] = uint8_t(w >> 8), b[14] = uint8_t(h), b[15] = uint8_t(h >> 8);
    b[16] = uint8_t(depth);
    memcpy(&b[20], signature, 4);
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes palette() {
    Bytes p(768, 0);
    for (int i = 0; i < 256; ++i) p[3 * i] = uint8_t(i), p[3 * i + 1] = uint8_t(255 - i), p[3 * i + 2] = 7;
    return p;
}

struct Case {
    const char* name;
    Bytes file;
    Status status;
    const char* message;
    Bytes rgb;  // top row first
};

TEST(VistaReader, HandBuiltFiles) {
    const std::vector<Case> cases = {
        {"8 bits with palette, bottom row first", cat(header(2, 2, 8), cat(palette(), {1, 2, 3, 4})), ST_OK, nullptr,
         {3, 252, 7, 4, 251, 7, 1, 254, 7, 2, 253, 7}},
        {"16 bits are 5-5-5 words", cat(header(2, 1, 16), {0x00, 0x7C, 0x1F, 0x00}), ST_OK, nullptr,
         {255, 0, 0, 0, 0, 255}},
        {"24 bits", cat(header(1, 2, 24), {1, 2, 3, 4, 5, 6}), ST_OK, nullptr, {4, 5, 6, 1, 2, 3}},
        {"32 bits", cat(header(1, 1, 32), {1, 2, 3, 4}), ST_OK, nullptr, {1, 2, 3}},
        {"HCGI", cat(header(1, 1, 24, "HCGI"), {1, 2, 3}), ST_UNKNOWN_FORMAT, nullptr, {}},
        {"depth 12", cat(header(1, 1, 12), {1, 2}), ST_BAD_FILE, "Vista : Unknown image type !", {}},
        {"negative width", cat(header(-2, 1, 24), {1, 2, 3}), ST_BAD_FILE, nullptr, {}},
        {"8-bit rows cut", cat(header(2, 2, 8), cat(palette(), {1, 2, 3})), ST_READ_ERROR, nullptr,
         {0, 255, 7, 0, 255, 7, 1, 254, 7, 2, 253, 7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("vista", c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.rgb.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("vista", c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(toRgb(img).pixels, c.rgb);
    }
}

TEST(VistaWriter, LayoutAndRoundTrips) {
    OwnedImage rgb;
    ASSERT_TRUE(testpictures::makePicture(&rgb, IMG_RGB, 10, 10, [](int x, int y, int k) { return uint8_t(y * 10 + x + k); }));
    rgb.orientation = 0;
    const std::string path = tempPath("layout.vst");
    ASSERT_EQ(saveAs(&rgb, path, "vista"), ST_OK);
    Bytes b;
    ASSERT_TRUE(readFile(path, &b));
    ASSERT_EQ(b.size(), 36u + 300);
    EXPECT_EQ(Bytes(b.begin() + 36, b.begin() + 39), Bytes({90, 91, 92}));  // the bottom row first
    EXPECT_EQ(b[16], 24);

    OwnedImage grey;
    ASSERT_TRUE(testpictures::makePicture(&grey, IMG_GREY, 3, 1));
    ASSERT_EQ(saveAs(&grey, path, "vista"), ST_OK);
    ASSERT_TRUE(readFile(path, &b));
    ASSERT_EQ(b.size(), 36u + 768 + 3);
    EXPECT_EQ(b[16], 8);
    for (int i : {0, 1, 128, 255}) EXPECT_EQ(Bytes(b.begin() + 36 + 3 * i, b.begin() + 39 + 3 * i), Bytes(3, uint8_t(i)));

    for (const testpictures::KindCase& k : testpictures::allKinds()) {
        SCOPED_TRACE(k.name);
        OwnedImage img;
        ASSERT_TRUE(testpictures::makePicture(&img, k.kind, 33, 7));
        img.orientation = 0;
        OwnedImage back;
        ASSERT_EQ(roundTrip(&img, "vista", &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
        if (k.kind == IMG_RGB32) EXPECT_EQ(compareRgb(alphaOf(back), alphaOf(img)), 0);
    }
}

}  // namespace
