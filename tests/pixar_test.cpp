// Pixar picture files: hand-built headers and run-length blocks pin down the
// packet opcodes, 12-bit samples, block changes and the refusals; the corpus
// file written by Pillow shows the same picture as the corpus' other copies
// of it, decoded by ImageMagick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

void put16(std::vector<uint8_t>* v, size_t at, uint32_t x) {
    (*v)[at] = uint8_t(x);
    (*v)[at + 1] = uint8_t(x >> 8);
}

struct Pxr {
    int width = 1, height = 1;
    int tileWidth = -1, tileHeight = -1;  // -1: the picture's
    int format = 8;
    int storage = 2;
    int blockSize = 0;
    uint32_t offset = 520;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> build(const Pxr& p) {
    std::vector<uint8_t> f(520, 0);
    f[0] = 0x80;
    f[1] = 0xE8;
    put16(&f, 416, p.height);
    put16(&f, 418, p.width);
    put16(&f, 420, p.tileHeight < 0 ? p.height : p.tileHeight);
    put16(&f, 422, p.tileWidth < 0 ? p.width : p.tileWidth);
    put16(&f, 424, p.format);
    put16(&f, 426, p.storage);
    put16(&f, 428, p.blockSize);
    put16(&f, 512, p.offset);
    put16(&f, 514, p.offset >> 16);
    f.resize(p.offset, 0);
    f.insert(f.end(), p.data.begin(), p.data.end());
    return f;
}

Pxr pxr(int w, int h, int format, int storage, std::vector<uint8_t> data, int blockSize = 0) {
    Pxr p;
    p.width = w;
    p.height = h;
    p.format = format;
    p.storage = storage;
    p.data = std::move(data);
    p.blockSize = blockSize;
    return p;
}

// Little-endian words as bytes.
std::vector<uint8_t> words(std::vector<uint32_t> w) {
    std::vector<uint8_t> out;
    for (uint32_t x : w) out.insert(out.end(), {uint8_t(x), uint8_t(x >> 8)});
    return out;
}

// Data padded to whole blocks.
std::vector<uint8_t> blocks(std::vector<std::vector<uint8_t>> list, size_t size) {
    std::vector<uint8_t> out;
    for (auto b : list) {
        b.resize(size, 0);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<uint8_t> concat(std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Case {
    const char* name;
    Pxr file;
    Status status;
    const char* formatName;
    std::vector<uint8_t> pixels;  // image bytes: grey levels, or R,G,B(,X) for colour
    const char* message = nullptr;
};

TEST(PixarReader, HandBuiltFiles) {
    const std::vector<Case> cases = {
        {"8-bit grey plain", pxr(3, 1, 8, 2, {1, 2, 3}), ST_OK, "Pixar picture (8 bits Grayscale)", {1, 2, 3}},
        {"12-bit words give their top 8 bits", pxr(3, 1, 8, 3, words({0x0FF0, 0x0010, 0x0FFF})), ST_OK,
         "Pixar picture (12 bits Grayscale)", {0xFF, 0x01, 0xFF}},
        {"12-bit RGB plain", pxr(1, 1, 14, 3, words({0x0100, 0x0200, 0x0300})), ST_OK, "Pixar picture (36 bits RGB)",
         {0x10, 0x20, 0x30}},
        {"8-bit RGBA plain", pxr(1, 1, 15, 2, {1, 2, 3, 4}), ST_OK, "Pixar picture (32 bits RGB & Alpha)",
         {1, 2, 3, 4}},
        {"full run: count 99, value 7", pxr(100, 1, 8, 0, blocks({concat({words({0x2000}), {99, 7}})}, 64), 64),
         ST_OK, "Pixar picture (8 bits Grayscale) RLE", std::vector<uint8_t>(100, 7)},
        {"full dump", pxr(3, 1, 8, 0, blocks({concat({words({0x1002}), {5, 6, 7}})}, 16), 16), ST_OK, nullptr,
         {5, 6, 7}},
        {"partial dump gives its alpha", pxr(2, 1, 15, 0, blocks({concat({words({0x3001}), {9, 1, 2, 3, 4, 5, 6}})}, 16),
                                             16),
         ST_OK, "Pixar picture (32 bits RGB & Alpha) RLE", {1, 2, 3, 9, 4, 5, 6, 9}},
        {"partial run", pxr(3, 1, 15, 0, blocks({concat({words({0x4000}), {8, 2, 1, 2, 3}})}, 16), 16), ST_OK, nullptr,
         {1, 2, 3, 8, 1, 2, 3, 8, 1, 2, 3, 8}},
        {"12-bit full run", pxr(4, 1, 14, 1, blocks({words({0x2000, 3, 0x0100, 0x0FF0, 0x0020})}, 32), 32), ST_OK,
         "Pixar picture (36 bits RGB) RLE", {0x10, 0xFF, 0x02, 0x10, 0xFF, 0x02, 0x10, 0xFF, 0x02, 0x10, 0xFF, 0x02}},
        {"end of block moves to the next", pxr(2, 1, 8, 0, blocks({words({0x0000, 0x1001}), concat({words({0x1001}), {4, 5}})}, 8), 8),
         ST_OK, nullptr, {4, 5}},
        {"a block nearly full moves on", pxr(4, 1, 8, 0, blocks({concat({words({0x1001}), {1, 2}}), concat({words({0x1001}), {3, 4}})}, 5), 5),
         ST_OK, nullptr, {1, 2, 3, 4}},
        {"opcodes 5 to 15 are skipped", pxr(1, 1, 8, 0, blocks({concat({words({0x5000, 0xF123, 0x1000}), {6}})}, 16), 16),
         ST_OK, nullptr, {6}},
        {"a run past the row's end is clipped", pxr(2, 2, 8, 0, blocks({concat({words({0x2000}), {200, 3}, words({0x1001}), {4, 5}})}, 16), 16),
         ST_OK, nullptr, {3, 3, 4, 5}},
        {"rows go on across packets", pxr(3, 2, 8, 0, blocks({concat({words({0x1001}), {1, 2}, words({0x1000}), {3}, words({0x2000}), {2, 9}})}, 32), 32),
         ST_OK, nullptr, {1, 2, 3, 9, 9, 9}},
        {"data past the header offset", [] {
             Pxr p = pxr(2, 1, 8, 2, {7, 8});
             p.offset = 600;
             return p;
         }(), ST_OK, nullptr, {7, 8}},
        // Damaged data.
        {"plain rows cut", pxr(2, 2, 8, 2, {1, 2, 3}), ST_READ_ERROR, nullptr, {1, 2, 0, 0}},
        {"packet running past its block", pxr(4, 1, 8, 0, blocks({concat({words({0x1003}), {1, 2}})}, 4), 4),
         ST_CORRUPT, nullptr, {}},
        {"blocks end before the rows", pxr(2, 2, 8, 0, blocks({concat({words({0x1001}), {1, 2}})}, 8), 8),
         ST_READ_ERROR, nullptr, {1, 2, 0, 0}},
        // Refusals.
        {"two tiles across", [] {
             Pxr p = pxr(4, 1, 8, 2, {1, 2, 3, 4});
             p.tileWidth = 2;
             return p;
         }(), ST_BAD_FILE, nullptr, {}, "PIXAR : Can't read (Multiple tile) !"},
        {"storage 4", pxr(1, 1, 8, 4, {1}), ST_UNKNOWN_FORMAT, nullptr, {}},
        {"width 16001", pxr(16001, 1, 8, 2, {1}), ST_UNKNOWN_FORMAT, nullptr, {}},
        {"block size 2", pxr(1, 1, 8, 0, {0x00, 0x10, 5}, 2), ST_CORRUPT, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = build(c.file);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("pixar", file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.formatName) EXPECT_STREQ(info.formatName, c.formatName);
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("pixar", file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

TEST(PixarReader, PillowFileShowsTheCorpusPicture) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/";
    std::vector<uint8_t> probe;
    if (!readFile(dir + "pixar/hopper.pxr", &probe)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(load(dir + "pixar/hopper.pxr", &img, 0, &info), ST_OK);
    EXPECT_STREQ(info.formatName, "Pixar picture (24 bits RGB)");
    // The same picture saved elsewhere differs by a few levels (Pillow's own
    // test calls them similar, not equal); a channel out of place differs by far more.
    const std::string ref = tempPath("hopper_ras.ppm");
    ASSERT_EQ(run(std::string(IM) + " " + dir + "ras/hopper.ras -depth 8 ppm:" + ref), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
    const Rgb ours = toRgb(img);
    EXPECT_EQ(compareRgb(ours, expected, 48), 0);
    EXPECT_LT(compareRgb(ours, expected, 8), static_cast<long>(ours.pixels.size() / 20));

    OwnedImage grey;
    ASSERT_EQ(load(dir + "pixar/testcard_gray.pxr", &grey, 0, &info), ST_OK);
    EXPECT_STREQ(info.formatName, "Pixar picture (8 bits Grayscale)");
    EXPECT_EQ(grey.kind, IMG_GREY);
    EXPECT_EQ(grey.width, 256);
}

}  // namespace
