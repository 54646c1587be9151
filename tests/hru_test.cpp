// HRU files: our writer's files read back with the same pixels and palette and,
// re-wrapped as GIF files, decode in ImageMagick to the same pixels (the LZW
// data checked by an independent decoder); hand-built headers pin down the
// refusals and a file cut short.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
constexpr size_t PALETTE_AT = 35;

// The HRU file's picture as a GIF: the same palette and the same LZW data.
std::vector<uint8_t> asGif(const std::vector<uint8_t>& hru) {
    const int bits = (hru[32] & 7) + 1;
    const size_t table = size_t(3) << bits;
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', hru[28], hru[29], hru[30], hru[31],
                                uint8_t(0x80 | (bits - 1)), 0, 0};
    gif.insert(gif.end(), hru.begin() + PALETTE_AT, hru.begin() + long(PALETTE_AT + table));
    const std::vector<uint8_t> descriptor = {0x2C, 0, 0, 0, 0, hru[28], hru[29], hru[30], hru[31], 0};
    gif.insert(gif.end(), descriptor.begin(), descriptor.end());
    gif.insert(gif.end(), hru.begin() + long(PALETTE_AT + table + 10), hru.end());  // code size .. 0x3B
    return gif;
}

struct RoundCase {
    const char* name;
    uint16_t kind;
    int colours;      // for palette pictures
    uint8_t packed;   // the header's packed byte
};

TEST(HruCodec, WrittenFilesReadBackAndDecodeInImageMagick) {
    const std::vector<RoundCase> cases = {
        {"black and white", IMG_BINARY, 2, 0xF0},
        {"grey", IMG_GREY, 256, 0xF7},
        {"16 colours", IMG_PALETTE, 16, 0xF3},
        {"5 colours", IMG_PALETTE, 5, 0xF2},
        {"256 colours", IMG_PALETTE, 256, 0xF7},
    };
    for (const RoundCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage src;
        const int colours = c.colours;
        // Large enough for the dictionary to fill and start again.
        ASSERT_TRUE(testpictures::makePicture(&src, c.kind, 150, 90, [colours](int x, int y, int) {
            return static_cast<uint8_t>((x * 7 + y * 3 + x * y) % colours);
        }));
        src.orientation = 0;
        if (c.kind == IMG_PALETTE) src.colours = c.colours;
        const std::string path = tempPath(std::string("round_") + std::to_string(c.colours) + ".hru");
        ASSERT_EQ(saveAs(&src, path, "hru"), ST_OK);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(path, &bytes));
        ASSERT_GT(bytes.size(), PALETTE_AT);
        EXPECT_EQ(memcmp(bytes.data(), "5KP51]*grr", 10), 0);
        EXPECT_EQ(bytes[32], c.packed);
        EXPECT_EQ(bytes.back(), 0x3B);

        OwnedImage back;
        FileInfo info{};
        ASSERT_EQ(load(path, &back, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "HRU");
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(src)), 0);
        if (c.kind == IMG_PALETTE) {
            ASSERT_EQ(back.kind, IMG_PALETTE);
            for (int plane = 0; plane < 3; ++plane)
                EXPECT_EQ(memcmp(back.palette + 256 * plane, src.palette + 256 * plane, size_t(c.colours)), 0);
        }

        if (!haveProgram(IM)) continue;
        const std::string gif = tempPath("as_gif.gif"), ref = tempPath("as_gif.ppm");
        ASSERT_TRUE(writeFile(gif, asGif(bytes)));
        ASSERT_EQ(run(std::string(IM) + " " + gif + " -depth 8 ppm:" + ref), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(back), expected), 0);
    }
}

TEST(HruCodec, TrueColourIsRefused) {
    OwnedImage src;
    ASSERT_TRUE(testpictures::makePicture(&src, IMG_RGB, 8, 8));
    EXPECT_EQ(saveAs(&src, tempPath("rgb.hru"), "hru"), ST_KIND_REFUSED);
}

// A hand-made file: 2 x 2, 1 bit, code size `codeSize`, the LZW data given.
std::vector<uint8_t> handFile(int codeSize, std::vector<uint8_t> data, int width = 2) {
    std::vector<uint8_t> f = {'5', 'K', 'P', '5', '1', ']', '*', 'g', 'r', 'r'};
    f.resize(28, 0);
    f.insert(f.end(), {uint8_t(width), 0, 2, 0, 0x00, 0, 0});
    f.insert(f.end(), {0, 0, 0, 255, 255, 255});
    f.resize(f.size() + 10, 0);
    f.push_back(uint8_t(codeSize));
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST(HruCodec, HandBuiltFiles) {
    // Code size 2: clear (4), 1, 0, 0 in 3-bit codes, then 1 and end (5) in
    // 4-bit codes once the table reaches 8 entries; one sub-block of 3 bytes.
    const std::vector<uint8_t> lzw = {0x03, 0x0C, 0x10, 0x05, 0x00};
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        Status status;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"code size 10", handFile(10, lzw), ST_BAD_FILE, "HRU : Bad code's size !"},
        {"code size 1", handFile(1, lzw), ST_BAD_FILE, "HRU : Bad code's size !"},
        {"width 0", handFile(2, lzw, 0), ST_BAD_FILE, nullptr},
        {"wrong signature", [&] {
             auto f = handFile(2, lzw);
             f[9] = 'R';
             return f;
         }(), ST_UNKNOWN_FORMAT, nullptr},
        {"cut in the palette", [&] {
             auto f = handFile(2, lzw);
             f.resize(38);
             return f;
         }(), ST_READ_ERROR, nullptr},
        {"cut in the data", handFile(2, {0x03, 0x0C}), ST_READ_ERROR, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        EXPECT_EQ(loadBytesAs("hru", c.file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
    }
    OwnedImage img;
    ASSERT_EQ(loadBytesAs("hru", handFile(2, lzw), &img), ST_OK);
    EXPECT_EQ(toRgb(img).pixels,
              (std::vector<uint8_t>{255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255}));
}

}  // namespace
