// GEM bit images: hand-built files pin down the items, replication, planes,
// the extended header's palette and damage; files of netpbm's pbmtogem and
// the corpus decode to the pixels gemtopnm reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(unsigned planes, unsigned patternLength, unsigned w, unsigned h, unsigned headerWords = 8,
             unsigned pixelSize = 85) {
    Bytes b;
    for (unsigned v : {1u, headerWords, planes, patternLength, pixelSize, pixelSize, w, h})
        b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    return b;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An extended header with a palette of 2^planes entries given as 0..1000 values.
Bytes extended(unsigned planes, unsigned w, unsigned h, const std::vector<unsigned>& values) {
    const unsigned words = 8 + 3 + 3 * (1u << planes);
    Bytes b = cat(header(planes, 1, w, h, words), {'X', 'I', 'M', 'G', 0, 0});
    for (unsigned v : values) b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    b.resize(2 * words, 0);
    return b;
}

struct Case {
    const char* name;
    Bytes file;
    Status status;
    uint16_t kind;
    Bytes pixels;  // image bytes (R,G,B when rgb)
    bool rgb;
};

TEST(GemReader, HandBuiltFiles) {
    const std::vector<Case> cases = {
        {"one plane, set bits black", cat(header(1, 1, 8, 2), {0x80, 1, 0xF0, 0x80, 1, 0x01}), ST_OK,
         IMG_BINARY, {0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, false},
        {"replication gives five rows", cat(header(1, 1, 2, 5), {0, 0, 0xFF, 5, 0x80, 1, 0x40}), ST_OK, IMG_BINARY,
         {1, 0, 1, 0, 1, 0, 1, 0, 1, 0}, false},
        {"a pattern run repeats its pattern", cat(header(1, 2, 48, 1), {0x00, 0x03, 0xAB, 0xCD}), ST_OK, IMG_BINARY,
         {}, false},
        {"solid runs", cat(header(1, 1, 24, 1), {0x82, 0x01}), ST_OK, IMG_BINARY,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}, false},
        {"items are clipped at the end of the line", cat(header(1, 1, 8, 2), {0x85, 0x80, 2, 0x00, 0xFF}), ST_OK,
         IMG_BINARY, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}, false},
        {"9 pixels, 2 planes: lines of 4 bytes, the palette of the extended header",
         cat(extended(2, 9, 1, {0, 0, 0, 1000, 0, 0, 0, 500, 0, 1000, 1000, 1000}),
             {0x80, 4, 0xC0, 0x00, 0x40, 0x80}),
         ST_OK, IMG_PALETTE, {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                              0, 0, 0, 0, 0, 0, 0, 127, 0}, true},
        {"version 2", [] {
             Bytes b = cat(header(1, 1, 8, 1), {0x80, 1, 0});
             b[1] = 2;
             return b;
         }(), ST_UNKNOWN_FORMAT, 0, {}, false},
        {"16001 wide", cat(header(1, 1, 16001, 1), {0x80, 1, 0}), ST_UNKNOWN_FORMAT, 0, {}, false},
        {"9 planes", cat(header(9, 1, 8, 1), {0x80, 1, 0}), ST_UNKNOWN_FORMAT, 0, {}, false},
        {"data cut", cat(header(1, 1, 8, 3), {0x80, 1, 0x0F, 0x80}), ST_READ_ERROR, IMG_BINARY,
         {1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadBytesAs("gem", c.file, &img), c.status);
        if (c.kind == 0) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("gem", c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        if (std::string(c.name) == "a pattern run repeats its pattern") {
            const Bytes p = pixelsOf(img);
            ASSERT_EQ(p.size(), 48u);
            for (int x = 0; x < 48; ++x) EXPECT_EQ(p[x], ((x / 8 % 2 ? 0xCD : 0xAB) >> (7 - x % 8) & 1) ? 0 : 1) << x;
            continue;
        }
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

TEST(GemReader, ResolutionFromPixelSize) {
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(loadBytesAs("gem", cat(header(1, 1, 8, 1, 8, 85), {0x80, 1, 0}), &img, 0, &info), ST_OK);
    EXPECT_EQ(info.xdpi, 298);  // 25399.17 / 85
    ASSERT_EQ(loadBytesAs("gem", cat(header(1, 1, 8, 1, 8, 0), {0x80, 1, 0}), &img, 0, &info), ST_OK);
    EXPECT_EQ(info.xdpi, 0);
}

TEST(GemReader, NetpbmAndCorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("pbmtogem") || !haveProgram("gemtopnm")) GTEST_SKIP() << "netpbm missing";
    const std::string src = tempPath("gem_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(133, 41)));
    std::vector<std::string> files;
    const std::string peer = tempPath("peer.img");
    ASSERT_EQ(run(shell("ppmtopgm $S | pamthreshold -simple | pamtopnm | pbmtogem > $O", {{"$S", src}, {"$O", peer}})),
              0);
    files.push_back(peer);
    for (const char* f : {"grafprog.img", "tiger.img"}) files.push_back(std::string(KALEO_CORPUS_DIR) + "/gem/" + f);
    int n = 0;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        OwnedImage img;
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(findFormat("gem"));
        ASSERT_EQ(loadImage(f.c_str(), &img, &o, nullptr), ST_OK);
        EXPECT_EQ(img.kind, IMG_BINARY);
        const std::string pbm = tempPath("gemtopnm" + std::to_string(n++) + ".pbm");
        ASSERT_EQ(run(shell("gemtopnm $F > $P", {{"$F", f}, {"$P", pbm}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(pbm, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

}  // namespace
