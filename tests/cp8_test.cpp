// CP8 and Image Speeder files: no program we can run writes either, so the
// files are built by hand from the layouts: CP8 packets of every type, runs
// across rows, the running value kept between packets, refusals and cuts;
// Image Speeder headers against the file length.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

std::vector<uint8_t> cp8(int w, int h, std::vector<uint8_t> data) {
    std::vector<uint8_t> f = {0, 'C', 0, 'P', 0, '8', uint8_t(w >> 8), uint8_t(w), uint8_t(h >> 8), uint8_t(h),
                              0, 0, 0, 0, 0, 0};
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> speed(int w, int h, std::vector<uint8_t> data) {
    std::vector<uint8_t> f(512, 0x55);
    f[20] = uint8_t(h >> 8);
    f[21] = uint8_t(h);
    f[24] = uint8_t(w >> 8);
    f[25] = uint8_t(w);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> repeat(uint8_t v, size_t n) { return std::vector<uint8_t>(n, v); }

struct Case {
    const char* name;
    const char* format;
    std::vector<uint8_t> file;
    Status status;
    std::vector<uint8_t> pixels;  // grey levels; empty when nothing is read
    const char* message = nullptr;
};

TEST(Cp8AndSpeed, HandBuiltFiles) {
    std::vector<uint8_t> ramp;
    for (int i = 0; i < 64; ++i) ramp.push_back(uint8_t(i * 3));
    std::vector<uint8_t> literal64 = {0x00};
    literal64.insert(literal64.end(), ramp.begin(), ramp.end());
    std::vector<uint8_t> speedPixels;
    for (int i = 0; i < 15; ++i) speedPixels.push_back(uint8_t(17 * i));

    const std::vector<Case> cases = {
        {"run of 64 (count 0)", "cp8", cp8(64, 1, {0xC0, 0x80}), ST_OK, repeat(0x80, 64)},
        {"literal of 64", "cp8", cp8(64, 1, literal64), ST_OK, ramp},
        {"4-bit deltas, low nibble first", "cp8", cp8(3, 1, {0xC1, 100, 0x42, 0xF1}), ST_OK, {100, 101, 100}},
        {"2-bit deltas, low bits first", "cp8", cp8(5, 1, {0xC1, 10, 0x84, 0x1B}), ST_OK, {10, 9, 7, 8, 8}},
        {"odd delta count leaves the high nibble", "cp8", cp8(2, 1, {0x41, 0x73, 0xC1, 9}), ST_OK, {3, 9}},
        {"deltas wrap modulo 256", "cp8", cp8(3, 1, {0xC1, 255, 0x42, 0x11}), ST_OK, {255, 0, 1}},
        {"deltas start from 0", "cp8", cp8(2, 1, {0x42, 0xEF}), ST_OK, {255, 253}},
        {"literal sets the running value", "cp8", cp8(3, 1, {0x02, 7, 50, 0x41, 0x08}), ST_OK, {7, 50, 42}},
        {"packet ends mid-row, next goes on", "cp8", cp8(4, 1, {0xC1, 1, 0x03, 2, 3, 4}), ST_OK, {1, 2, 3, 4}},
        {"packet runs on into the next row", "cp8", cp8(3, 2, {0xC5, 9, 0x01, 4}), ST_OK, {9, 9, 9, 9, 9, 4}},
        {"delta packet across rows keeps its value", "cp8", cp8(2, 2, {0xC1, 20, 0x43, 0x11, 0x01}), ST_OK,
         {20, 21, 22, 23}},
        {"data cut inside a row", "cp8", cp8(3, 2, {0xC4, 6}), ST_READ_ERROR, {6, 6, 6, 6, 0, 0}},
        {"data cut inside a packet", "cp8", cp8(2, 1, {0x02, 5}), ST_READ_ERROR, {}},
        {"width 16001", "cp8", cp8(16001, 1, {}), ST_BAD_FILE, {}, "CP8 : Bad picture's size !"},
        {"height 0", "cp8", cp8(1, 0, {}), ST_BAD_FILE, {}, "CP8 : Bad picture's size !"},
        {"wrong signature", "cp8", [] {
             auto f = cp8(1, 1, {0xC1, 1});
             f[5] = '9';
             return f;
         }(), ST_UNKNOWN_FORMAT, {}},
        {"header cut", "cp8", std::vector<uint8_t>{0, 'C', 0, 'P', 0, '8', 0, 1}, ST_UNKNOWN_FORMAT, {}},

        {"Image Speeder 5 x 3", "speed", speed(5, 3, speedPixels), ST_OK, speedPixels},
        {"Image Speeder one byte short", "speed", speed(5, 3, std::vector<uint8_t>(14, 1)), ST_UNKNOWN_FORMAT, {}},
        {"Image Speeder one byte long", "speed", speed(5, 3, std::vector<uint8_t>(16, 1)), ST_UNKNOWN_FORMAT, {}},
        {"Image Speeder width 0", "speed", speed(0, 3, {}), ST_UNKNOWN_FORMAT, {}},
        {"Image Speeder header cut", "speed", std::vector<uint8_t>(300, 0), ST_UNKNOWN_FORMAT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs(c.format, c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs(c.format, c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, IMG_GREY);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

TEST(Cp8AndSpeed, IdentifiedByContent) {
    struct Named {
        std::vector<uint8_t> bytes;
        const char* expected;
    };
    const std::vector<Named> files = {
        {cp8(2, 1, {0xC2, 1}), "CP8"},
        {speed(4, 2, std::vector<uint8_t>(8, 3)), "Image Speeder"},
    };
    int n = 0;
    for (const Named& f : files) {
        SCOPED_TRACE(f.expected);
        const std::string path = tempPath("ident" + std::to_string(n++) + ".bin");
        ASSERT_TRUE(writeFile(path, f.bytes));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(path, &img, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, f.expected);
    }
}

}  // namespace
