// Pictures of rendering programs: MTV, DKB / QRT, Vivid, Alias and CLOE.
// Hand-built files pin down each layout and the refusals of the headers
// without signature; ImageMagick's MTV files and the corpus decode to the
// pixels ImageMagick reads; every writer round-trips, and ImageMagick reads
// our MTV and Alias files back to the same pixels.
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
using Bytes = std::vector<uint8_t>;

void be16(Bytes* b, unsigned v) { b->insert(b->end(), {uint8_t(v >> 8), uint8_t(v)}); }
void le16(Bytes* b, unsigned v) { b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8)}); }
void le32(Bytes* b, uint32_t v) { for (int s = 0; s < 32; s += 8) b->push_back(uint8_t(v >> s)); }
void be32(Bytes* b, uint32_t v) { for (int s = 24; s >= 0; s -= 8) b->push_back(uint8_t(v >> s)); }

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes words(std::initializer_list<unsigned> v, bool big = true) {
    Bytes b;
    for (unsigned x : v) big ? be16(&b, x) : le16(&b, x);
    return b;
}

// CLOE header: mark "II"/"MM", sample type, the field after it, width, height, channels.
Bytes cloe(bool big, uint8_t type, unsigned field, uint32_t w, uint32_t h, unsigned c) {
    Bytes b = text(big ? "CLOEMM" : "CLOEII");
    b.insert(b.end(), {type, type});
    Bytes rest;
    auto w16 = [&](unsigned v) { big ? be16(&rest, v) : le16(&rest, v); };
    auto w32 = [&](uint32_t v) { big ? be32(&rest, v) : le32(&rest, v); };
    w16(field), w16(0), w32(w), w32(h), w16(c), w16(0), w16(0), w16(0);
    return cat(b, rest);
}

Bytes floats(std::initializer_list<float> v, bool big) {
    Bytes b;
    for (float f : v) {
        uint32_t u;
        memcpy(&u, &f, 4);
        big ? be32(&b, u) : le32(&b, u);
    }
    return b;
}

struct Case {
    const char* name;
    const char* format;
    Bytes file;
    Status status;
    uint16_t kind;
    Bytes rgb;  // the picture as R,G,B triplets
};

TEST(RaytraceReaders, HandBuiltFiles) {
    const std::vector<Case> cases = {
        {"mtv", "mtv", cat(text("2 1\n"), {1, 2, 3, 4, 5, 6}), ST_OK, IMG_RGB, {1, 2, 3, 4, 5, 6}},
        {"mtv with a zero byte after the header", "mtv", cat(text("1 2\n"), {0, 1, 2, 3, 4, 5, 6}), ST_OK, IMG_RGB,
         {1, 2, 3, 4, 5, 6}},
        {"mtv rows cut", "mtv", cat(text("1 2\n"), {1, 2, 3, 4}), ST_READ_ERROR, IMG_RGB, {1, 2, 3, 0, 0, 0}},
        {"mtv width 16000", "mtv", cat(text("16000 1\n"), Bytes(48000, 1)), ST_UNKNOWN_FORMAT, 0, {}},
        {"mtv without line feed", "mtv", cat(text("1 1 "), {1, 2, 3}), ST_UNKNOWN_FORMAT, 0, {}},
        {"dkb rows are red, green, blue lines", "dkb",
         cat(words({2, 2}, false), {0, 0, 1, 2, 3, 4, 5, 6, 1, 0, 7, 8, 9, 10, 11, 12}), ST_OK, IMG_RGB,
         {1, 3, 5, 2, 4, 6, 7, 9, 11, 8, 10, 12}},
        {"dkb one byte too long", "dkb", cat(words({1, 1}, false), {0, 0, 1, 2, 3, 0}), ST_UNKNOWN_FORMAT, 0, {}},
        {"vivid runs are blue, green, red", "vivid",
         cat(words({3, 2, 0, 2, 24}), {2, 3, 2, 1, 1, 6, 5, 4, 3, 9, 8, 7}), ST_OK, IMG_RGB,
         {1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9, 7, 8, 9}},
        {"vivid fourth word height - 1", "vivid", cat(words({1, 2, 0, 1, 24}), {1, 3, 2, 1, 1, 3, 2, 1}), ST_OK, IMG_RGB,
         {1, 2, 3, 1, 2, 3}},
        {"vivid a run stops at the end of its row", "vivid", cat(words({2, 2, 0, 2, 24}), {5, 3, 2, 1, 2, 6, 5, 4}),
         ST_OK, IMG_RGB, {1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6}},
        {"vivid third word not 0", "vivid", cat(words({1, 1, 1, 1, 24}), {1, 3, 2, 1}), ST_UNKNOWN_FORMAT, 0, {}},
        {"vivid packets cut", "vivid", cat(words({2, 2, 0, 2, 24}), {2, 3, 2, 1, 1}), ST_READ_ERROR, IMG_RGB,
         {1, 2, 3, 1, 2, 3, 0, 0, 0, 0, 0, 0}},
        {"alias 24 bits", "alias", cat(words({2, 1, 0, 0, 24}), {1, 3, 2, 1, 1, 6, 5, 4}), ST_OK, IMG_RGB,
         {1, 2, 3, 4, 5, 6}},
        {"alias 8 bits is grey", "alias", cat(words({3, 1, 7, 9, 8}), {2, 10, 1, 200}), ST_OK, IMG_GREY,
         {10, 10, 10, 10, 10, 10, 200, 200, 200}},
        {"alias 16 bits", "alias", cat(words({1, 1, 0, 0, 16}), {1, 1, 2}), ST_UNKNOWN_FORMAT, 0, {}},
        {"alias cut", "alias", cat(words({1, 2, 0, 0, 8}), {1, 10}), ST_READ_ERROR, IMG_GREY, {10, 10, 10, 0, 0, 0}},
        {"cloe 8-bit rgb", "cloe", cat(cloe(false, 0x8B, 272, 2, 1, 3), {1, 2, 3, 4, 5, 6}), ST_OK, IMG_RGB,
         {1, 2, 3, 4, 5, 6}},
        {"cloe 8-bit grey", "cloe", cat(cloe(true, 0x8B, 300, 2, 1, 1), {7, 9}), ST_OK, IMG_GREY, {7, 7, 7, 9, 9, 9}},
        {"cloe 16-bit little-endian keeps the high byte", "cloe",
         cat(cloe(false, 0x8C, 272, 1, 1, 3), {0x11, 0xAA, 0x22, 0xBB, 0x33, 0xCC}), ST_OK, IMG_RGB, {0xAA, 0xBB, 0xCC}},
        {"cloe 16-bit big-endian keeps the high byte", "cloe",
         cat(cloe(true, 0x8C, 272, 1, 1, 3), {0xAA, 0x11, 0xBB, 0x22, 0xCC, 0x33}), ST_OK, IMG_RGB, {0xAA, 0xBB, 0xCC}},
        {"cloe floats 0.5 and 1.0, clamped", "cloe",
         cat(cloe(false, 0x8D, 272, 2, 1, 3), floats({0.5f, 1.0f, 0.0f, 2.0f, -1.0f, 0.25f}, false)), ST_OK, IMG_RGB,
         {127, 255, 0, 255, 0, 63}},
        {"cloe big-endian floats", "cloe", cat(cloe(true, 0x8D, 272, 1, 1, 3), floats({0.5f, 1.0f, 0.1f}, true)), ST_OK,
         IMG_RGB, {127, 255, 25}},
        {"cloe 4 channels", "cloe", cat(cloe(false, 0x8B, 272, 1, 1, 4), {1, 2, 3, 4}), ST_OK, IMG_RGB32, {1, 2, 3}},
        {"cloe 2 channels", "cloe", cat(cloe(false, 0x8B, 272, 1, 1, 2), {1, 2}), ST_BAD_FILE, 0, {}},
        {"cloe unknown sample type", "cloe", cat(cloe(false, 0x8E, 272, 1, 1, 3), {1, 2, 3}), ST_BAD_FILE, 0, {}},
        {"cloe field below 272", "cloe", cat(cloe(false, 0x8B, 271, 1, 1, 3), {1, 2, 3}), ST_BAD_FILE, 0, {}},
        {"cloe 8-bit cut", "cloe", cat(cloe(false, 0x8B, 272, 1, 2, 3), {1, 2, 3, 4}), ST_READ_ERROR, IMG_RGB,
         {1, 2, 3, 0, 0, 0}},
        {"cloe 16-bit cut inside a row", "cloe", cat(cloe(false, 0x8C, 272, 2, 1, 3), {0, 9, 0, 8, 0, 7, 0}),
         ST_READ_ERROR, IMG_RGB, {9, 8, 7, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs(c.format, c.file, &img, 0, &info), c.status);
        if (c.rgb.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs(c.format, c.file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(toRgb(img).pixels, c.rgb);
    }
}

// Files with no extension to go by: the headers tell the formats apart.
TEST(RaytraceReaders, IdentifiedByTheirHeaders) {
    const std::vector<std::pair<Bytes, const char*>> cases = {
        {cat(text("2 1\n"), {1, 2, 3, 4, 5, 6}), "mtv"},
        {cat(words({2, 1}, false), {0, 0, 1, 2, 3, 4, 5, 6}), "dkb"},
        {cat(words({2, 1, 0, 1, 24}), {2, 3, 2, 1}), "vivid"},
        {cat(words({2, 1, 0, 0, 24}), {2, 3, 2, 1}), "alias"},  // offsets 0 and one row: not Vivid's header
        {cat(words({2, 3, 5, 7, 8}), {2, 9, 2, 9, 2, 9}), "alias"},
        {cat(cloe(false, 0x8B, 272, 1, 1, 1), {5}), "cloe"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        const std::string path = tempPath("noext" + std::to_string(n++) + ".bin");
        ASSERT_TRUE(writeFile(path, c.first));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(path, &img, 0, &info), ST_OK);
        EXPECT_STREQ(formatRecord(info.formatIndex)->shortName, c.second);
    }
}

// ---- writers ------------------------------------------------------------------

struct WriterCase {
    const char* format;
    uint16_t kind;
    Status status;
    // A peer reads the file: ImageMagick MTV, GraphicsMagick 24-bit Alias (it
    // takes 8-bit Alias values for colour-map indexes and refuses them).
    bool peerReads;
};

TEST(RaytraceWriters, RoundTripsAndPeerReadBack) {
    const std::vector<WriterCase> cases = {
        {"mtv", IMG_RGB, ST_OK, true},        {"mtv", IMG_BGR32, ST_OK, true},       {"mtv", IMG_GREY, ST_KIND_REFUSED, 0},
        {"dkb", IMG_RGB, ST_OK, false},       {"dkb", IMG_BGR, ST_OK, false},        {"dkb", IMG_PALETTE, ST_KIND_REFUSED, 0},
        {"vivid", IMG_RGB, ST_OK, false},     {"vivid", IMG_RGB32, ST_OK, false},    {"vivid", IMG_BINARY, ST_KIND_REFUSED, 0},
        {"alias", IMG_RGB, ST_OK, true},      {"alias", IMG_BGR32, ST_OK, true},     {"alias", IMG_GREY, ST_OK, false},
        {"alias", IMG_BINARY, ST_OK, false},   {"alias", IMG_PALETTE, ST_KIND_REFUSED, 0},
    };
    int n = 0;
    for (const WriterCase& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " kind " + std::to_string(c.kind));
        OwnedImage img;
        // Runs of equal pixels and single ones, several longer than 255.
        ASSERT_TRUE(testpictures::makePicture(&img, c.kind, 601, 5, [](int x, int y, int k) {
            return static_cast<uint8_t>(x < 300 ? y * 40 + k : (x / 7) * 13 + k * 50 + y);
        }));
        img.orientation = 0;
        const std::string path = tempPath("rt" + std::to_string(n++) + "." + c.format);
        ASSERT_EQ(saveAs(&img, path, c.format), c.status);
        if (c.status != ST_OK) continue;
        OwnedImage back;
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(findFormat(c.format));
        ASSERT_EQ(loadImage(path.c_str(), &back, &o, nullptr), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
        // ImageMagick's Alias reader gives up at the end of the file, GraphicsMagick's reads it.
        const std::string peerCommand = std::string(c.format) == "alias" ? "gm convert pix:" : std::string(IM) + " mtv:";
        if (!c.peerReads || !haveProgram(IM) || !haveProgram("gm")) continue;
        const std::string ppm = path + ".ppm";
        ASSERT_EQ(run(shell(peerCommand + "$O -depth 8 ppm:$P", {{"$O", path}, {"$P", ppm}})), 0);
        Rgb peer;
        ASSERT_TRUE(readPeerPnm(ppm, &peer, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), peer), 0);
    }
}

TEST(RaytraceWriters, FileLayouts) {
    OwnedImage img;
    ASSERT_TRUE(testpictures::makePicture(&img, IMG_RGB, 300, 2, [](int, int y, int k) { return uint8_t(y * 3 + k); }));
    img.orientation = 0;
    const std::string vivid = tempPath("layout.img"), dkb = tempPath("layout.dis"), mtv = tempPath("layout.mtv");
    ASSERT_EQ(saveAs(&img, vivid, "vivid"), ST_OK);
    ASSERT_EQ(saveAs(&img, dkb, "dkb"), ST_OK);
    ASSERT_EQ(saveAs(&img, mtv, "mtv"), ST_OK);
    Bytes b;
    // 300 equal pixels: packets of 255 and 45, blue first, per row.
    ASSERT_TRUE(readFile(vivid, &b));
    EXPECT_EQ(b, cat(words({300, 2, 0, 2, 24}), {255, 2, 1, 0, 45, 2, 1, 0, 255, 5, 4, 3, 45, 5, 4, 3}));
    ASSERT_TRUE(readFile(dkb, &b));
    ASSERT_EQ(b.size(), 4u + 2 * (3 * 300 + 2));
    EXPECT_EQ(b[4 + 902], 1);   // the second row's number
    EXPECT_EQ(b[6 + 300], 1);   // green line after the red one
    ASSERT_TRUE(readFile(mtv, &b));
    EXPECT_EQ(b.size(), 6u + 3 * 600);
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 9), cat(text("300 2\n"), {0, 1, 2}));
}

// ---- files of the peers -------------------------------------------------------

TEST(RaytraceReaders, PeerAndCorpusMtv) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("mtv_src.ppm"), peer = tempPath("peer.mtv");
    ASSERT_TRUE(writeFile(src, patternP6(71, 23)));
    ASSERT_EQ(run(shell(std::string(IM) + " $S mtv:$O", {{"$S", src}, {"$O", peer}})), 0);
    for (const std::string& path : {peer, std::string(KALEO_CORPUS_DIR) + "/mtv/input.mtv"}) {
        SCOPED_TRACE(path);
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        const std::string ppm = path == peer ? src : tempPath("corpus_mtv.ppm");
        if (path != peer) ASSERT_EQ(run(shell(std::string(IM) + " $O -depth 8 ppm:$P", {{"$O", path}, {"$P", ppm}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ppm, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

}  // namespace
