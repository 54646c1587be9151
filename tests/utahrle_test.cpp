// Utah raster files: hand-built opcode streams pin down lines, channels,
// backgrounds, colour maps and damage; files of netpbm's pnmtorle and the
// corpus decode to the pixels rletopnm reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

struct Rle {
    unsigned width = 2, height = 2;
    uint8_t flags = 0x02;  // no background
    uint8_t channels = 3, bits = 8, mapChannels = 0, mapLog2 = 0;
    Bytes background;       // as stored (with its filler)
    Bytes map;              // 16-bit little-endian entries as stored
    Bytes ops;
    uint16_t magic = 0xCC52;
};

Bytes build(const Rle& r) {
    Bytes b = {uint8_t(r.magic), uint8_t(r.magic >> 8), 0, 0, 0, 0};
    b.insert(b.end(), {uint8_t(r.width), uint8_t(r.width >> 8), uint8_t(r.height), uint8_t(r.height >> 8)});
    b.insert(b.end(), {r.flags, r.channels, r.bits, r.mapChannels, r.mapLog2});
    b.insert(b.end(), r.background.begin(), r.background.end());
    if (r.background.empty()) b.push_back(0);  // the filler
    b.insert(b.end(), r.map.begin(), r.map.end());
    b.insert(b.end(), r.ops.begin(), r.ops.end());
    return b;
}

Rle with(Bytes ops, void (*change)(Rle*) = nullptr) {
    Rle r;
    r.ops = std::move(ops);
    if (change) change(&r);
    return r;
}

struct Case {
    const char* name;
    Rle file;
    Status status;
    const char* message;
    uint16_t kind;
    Bytes rgb;  // top row first
};

TEST(UtahRleReader, HandBuiltFiles) {
    // Two lines of a 2 x 2 picture: the first stored is the bottom one.
    const Bytes twoLines = {2, 0, 5, 1, 1, 2, 2, 1, 5, 1, 3, 4, 2, 2, 6, 1, 5, 0,  // bottom: literals, a run
                            1, 1, 2, 0, 6, 1, 7, 0, 2, 1, 6, 1, 8, 0, 2, 2, 6, 1, 9, 0, 7, 0};
    const std::vector<Case> cases = {
        {"lines go bottom up", with(twoLines), ST_OK, nullptr, IMG_RGB, {7, 8, 9, 7, 8, 9, 1, 3, 5, 2, 4, 5}},
        {"long forms", with({2, 0, 0x45, 0, 1, 0, 1, 2, 0x41, 0, 1, 0, 0x46, 0, 1, 0, 9, 0, 7, 0}, [](Rle* r) {
             r->channels = 1;
         }), ST_OK, nullptr, IMG_GREY, {9, 9, 9, 9, 9, 9, 1, 1, 1, 2, 2, 2}},
        {"skip lines 5 delivers four background lines", with({2, 0, 6, 1, 9, 0, 1, 5, 7, 0}, [](Rle* r) {
             r->channels = 1;
             r->height = 6;
             r->width = 2;
             r->flags = 0;
             r->background = {40};
         }), ST_OK, nullptr, IMG_GREY, {40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40,
                                        40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 40, 9, 9, 9, 9, 9, 9}},
        {"three background bytes for three channels", with({7, 0}, [](Rle* r) {
             r->flags = 0;
             r->height = 1;
             r->width = 1;
             r->background = {10, 20, 30};
         }), ST_OK, nullptr, IMG_RGB, {10, 20, 30}},
        {"pixel skips, unknown opcodes and a channel past the planes",
         with({2, 0, 3, 1, 6, 0, 8, 0, 9, 9, 2, 3, 6, 1, 1, 0, 2, 255, 6, 1, 1, 0, 7, 0}, [](Rle* r) {
             r->channels = 1;
             r->height = 1;
         }), ST_OK, nullptr, IMG_GREY, {0, 0, 0, 8, 8, 8}},
        {"literals and runs clipped at the end of the line",
         with({2, 0, 5, 3, 1, 2, 3, 4, 3, 1, 6, 9, 7, 0, 7, 0}, [](Rle* r) {
             r->channels = 1;
             r->height = 1;
         }), ST_OK, nullptr, IMG_GREY, {1, 1, 1, 2, 2, 2}},
        {"a map of 256 entries gives the palette from high bytes", with({2, 0, 5, 1, 0, 255, 7, 0}, [](Rle* r) {
             r->channels = 1;
             r->height = 1;
             r->mapChannels = 3;
             r->mapLog2 = 8;
             for (int c = 0; c < 3; ++c)
                 for (int i = 0; i < 256; ++i) r->map.insert(r->map.end(), {0x77, uint8_t(c == 0 ? i : c == 1 ? 255 - i : 9)});
         }), ST_OK, nullptr, IMG_PALETTE, {0, 255, 9, 255, 0, 9}},
        {"a map longer than 256 entries is skipped past", with({2, 0, 5, 0, 3, 0, 6, 0, 4, 0, 7, 0}, [](Rle* r) {
             r->channels = 1;
             r->height = 1;
             r->mapChannels = 1;
             r->mapLog2 = 9;
             for (int i = 0; i < 512; ++i) r->map.insert(r->map.end(), {0, uint8_t(255 - (i & 255))});
         }), ST_OK, nullptr, IMG_PALETTE, {252, 252, 252, 251, 251, 251}},
        {"alpha with three channels is the fourth byte",
         with({2, 0, 6, 1, 1, 0, 2, 1, 6, 1, 2, 0, 2, 2, 6, 1, 3, 0, 2, 255, 5, 1, 9, 200, 7, 0}, [](Rle* r) {
             r->flags = 0x02 | 0x04;
             r->height = 1;
         }), ST_OK, nullptr, IMG_RGB32, {1, 2, 3, 1, 2, 3}},
        {"bad magic", with({7, 0}, [](Rle* r) { r->magic = 0xCC53; }), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"16-bit samples", with({7, 0}, [](Rle* r) { r->bits = 16; }), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"five channels", with({7, 0}, [](Rle* r) { r->channels = 5; }), ST_BAD_FILE, "RLE : Too many channels !", 0,
         {}},
        {"no channel", with({7, 0}, [](Rle* r) { r->channels = 0; }), ST_BAD_FILE, "RLE : No Image !", 0, {}},
        {"opcodes cut", with({2, 0, 6, 1, 9, 0, 1, 1, 2, 0, 5}, [](Rle* r) { r->channels = 1; }), ST_READ_ERROR,
         nullptr, IMG_GREY, {0, 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        const Bytes bytes = build(c.file);
        ASSERT_EQ(loadBytesAs("rle", bytes, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.kind == 0) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("rle", bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(toRgb(img).pixels, c.rgb);
        if (c.kind == IMG_RGB32) EXPECT_EQ(alphaOf(img).pixels, Bytes({9, 9, 9, 200, 200, 200}));
    }
}

TEST(UtahRleReader, NetpbmAndCorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("pnmtorle") || !haveProgram("rletopnm")) GTEST_SKIP() << "netpbm missing";
    const std::string src = tempPath("rle_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(83, 29)));
    std::vector<std::string> files;
    const std::vector<const char*> makers = {"pnmtorle $S > $O", "ppmtopgm $S | pnmtorle > $O",
                                             "pnmtorle -alpha $S > $O"};
    int n = 0;
    for (const char* m : makers) {
        files.push_back(tempPath("peer" + std::to_string(n++) + ".rle"));
        ASSERT_EQ(run(shell(m, {{"$S", src}, {"$O", files.back()}})), 0);
    }
    files.push_back(std::string(KALEO_CORPUS_DIR) + "/rle/input.rle");
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        OwnedImage img;
        ASSERT_EQ(load(f, &img), ST_OK);
        const std::string ppm = tempPath("rletopnm" + std::to_string(n++) + ".ppm");
        ASSERT_EQ(run(shell("rletopnm $F > $P", {{"$F", f}, {"$P", ppm}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ppm, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
        if (f != files[2]) continue;
        // pnmtorle -alpha makes black pixels transparent and the others opaque.
        ASSERT_EQ(img.kind, IMG_RGB32);
        Rgb alpha = alphaOf(img);
        for (size_t i = 0; i < alpha.pixels.size(); i += 3) {
            const bool black = !expected.pixels[i] && !expected.pixels[i + 1] && !expected.pixels[i + 2];
            EXPECT_EQ(alpha.pixels[i], black ? 0 : 255) << i / 3;
        }
    }
}

}  // namespace
