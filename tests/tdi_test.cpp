// TDI Explore and Maya tiled images: no program we can run reads or writes
// them, so hand-built files pin down tile assembly, raw against run-length
// tiles, channel order, the bottom-up rows and the refusals; the two corpus
// files (the same test card with and without alpha) agree with each other and
// show the card's colour bars in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

void put32(std::vector<uint8_t>* v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v->push_back(uint8_t(x >> s));
}
void put16(std::vector<uint8_t>* v, uint32_t x) {
    v->push_back(uint8_t(x >> 8));
    v->push_back(uint8_t(x));
}

// A chunk padded to 4 bytes.
std::vector<uint8_t> chunk(const char* tag, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c(tag, tag + 4);
    put32(&c, static_cast<uint32_t>(data.size()));
    c.insert(c.end(), data.begin(), data.end());
    while (c.size() % 4) c.push_back(0);
    return c;
}

std::vector<uint8_t> form(const char* type, const std::vector<std::vector<uint8_t>>& chunks) {
    std::vector<uint8_t> data(type, type + 4);
    for (const auto& c : chunks) data.insert(data.end(), c.begin(), c.end());
    return chunk("FOR4", data);
}

struct Tile {
    int x1, y1, x2, y2;
    std::vector<uint8_t> data;
    const char* tag = "RGBA";
};

struct Tdi {
    uint32_t width = 2, height = 2;
    uint32_t flags = 1;  // R,G,B
    uint32_t compression = 1;
    uint16_t sampleSize = 0;
    int tileCount = -1;  // -1: the tiles given
    std::vector<Tile> tiles;
};

std::vector<uint8_t> build(const Tdi& t) {
    std::vector<uint8_t> hd;
    put32(&hd, t.width);
    put32(&hd, t.height);
    put16(&hd, 1);
    put16(&hd, 1);
    put32(&hd, t.flags);
    put16(&hd, t.sampleSize);
    put16(&hd, t.tileCount < 0 ? static_cast<uint32_t>(t.tiles.size()) : static_cast<uint32_t>(t.tileCount));
    put32(&hd, t.compression);
    put32(&hd, 0);
    put32(&hd, 0);
    std::vector<std::vector<uint8_t>> tiles;
    for (const Tile& tile : t.tiles) {
        std::vector<uint8_t> d;
        put16(&d, tile.x1);
        put16(&d, tile.y1);
        put16(&d, tile.x2);
        put16(&d, tile.y2);
        d.insert(d.end(), tile.data.begin(), tile.data.end());
        tiles.push_back(chunk(tile.tag, d));
    }
    return form("CIMG", {chunk("FVER", {0, 0, 0, 1}), chunk("TBHD", hd), form("TBMP", tiles)});
}

// Run-length coding of one plane: runs of repeated bytes, literals between.
std::vector<uint8_t> pack(const std::vector<uint8_t>& plane) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < plane.size()) {
        size_t run = 1;
        while (i + run < plane.size() && run < 128 && plane[i + run] == plane[i]) ++run;
        if (run > 1) {
            out.insert(out.end(), {uint8_t(0x80 | (run - 1)), plane[i]});
            i += run;
            continue;
        }
        size_t n = 1;
        while (i + n < plane.size() && n < 128 && !(i + n + 1 < plane.size() && plane[i + n] == plane[i + n + 1])) ++n;
        out.push_back(uint8_t(n - 1));
        out.insert(out.end(), plane.begin() + long(i), plane.begin() + long(i + n));
        i += n;
    }
    return out;
}

struct Case {
    const char* name;
    Tdi file;
    Status status;
    std::vector<uint8_t> rgb;  // the picture from its top row, R,G,B triplets; empty when nothing is read
    const char* message = nullptr;
};

TEST(TdiReader, HandBuiltFiles) {
    // Raw pixels are B,G,R; the first stored row is the bottom one.
    const std::vector<Case> cases = {
        {"one raw tile", {2, 2, 1, 1, 0, -1, {{0, 0, 1, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}}}, ST_OK,
         {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}},
        {"run-length planes, B then G then R", {3, 1, 1, 1, 0, -1, {{0, 0, 2, 0, {0x82, 50, 0x82, 60, 0x02, 70, 71, 72}}}},
         ST_OK, {70, 60, 50, 71, 60, 50, 72, 60, 50}},
        {"one byte short of raw is run-length", {1, 1, 1, 1, 0, -1, {{0, 0, 0, 0, {0x80, 7}}}}, ST_OK, {0, 0, 7}},
        {"grey tile without flags", {2, 1, 0, 1, 0, -1, {{0, 0, 1, 0, {40, 80}}}}, ST_OK, {40, 40, 40, 80, 80, 80}},
        {"rows not covered are black", {1, 3, 1, 1, 0, -1, {{0, 1, 0, 1, {1, 2, 3}}}}, ST_OK,
         {0, 0, 0, 3, 2, 1, 0, 0, 0}},
        {"other chunks in the tile list are left out", [] {
             Tdi t{2, 1, 1, 1, 0, -1, {{0, 0, 0, 0, {1, 2, 3}}, {1, 0, 1, 0, {4, 5, 6}, "RGBX"}}};
             return t;
         }(), ST_OK, {3, 2, 1, 0, 0, 0}},
        {"a run longer than its plane ends that plane", {3, 1, 1, 1, 0, -1, {{0, 0, 2, 0, {0x85, 1, 0x82, 2, 0x82, 3}}}},
         ST_OK, {3, 2, 1, 3, 2, 1, 3, 2, 1}},
        {"a literal longer than its plane is clipped", {3, 1, 1, 1, 0, -1, {{0, 0, 2, 0, {0x03, 1, 1, 1, 9, 0x82, 2}}}},
         ST_OK, {0, 2, 1, 0, 2, 1, 0, 2, 1}},
        // Refusals.
        {"x2 equal to the width", {2, 2, 1, 1, 0, -1, {{0, 0, 2, 1, {}}}}, ST_BAD_FILE, {}, "TDI : Bad tile size !"},
        {"x1 after x2", {4, 1, 1, 1, 0, -1, {{3, 0, 1, 0, {}}}}, ST_BAD_FILE, {}, "TDI : Bad tile size !"},
        {"y1 after y2", {1, 4, 1, 1, 0, -1, {{0, 3, 0, 2, {}}}}, ST_BAD_FILE, {}, "TDI : Bad tile size !"},
        {"compression 0", {1, 1, 1, 0, 0, -1, {{0, 0, 0, 0, {1, 2, 3}}}}, ST_BAD_FILE, {},
         "TDI : Unknown Compression type !"},
        {"16-bit samples", {1, 1, 1, 1, 1, -1, {{0, 0, 0, 0, {1, 2, 3, 4, 5, 6}}}}, ST_BAD_FILE, {}},
        // Damaged lists: the tiles read so far are shown.
        {"tile list shorter than its count", {2, 1, 1, 1, 0, 3, {{0, 0, 0, 0, {1, 2, 3}}}}, ST_READ_ERROR,
         {3, 2, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = build(c.file);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("tdi", file, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.rgb.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("tdi", file, &img, OPT_ACCEPT_DAMAGED, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "TDI Explore");
        EXPECT_EQ(toRgb(img).pixels, c.rgb);
    }
}

TEST(TdiReader, FourTilesMakeEachRowFromTwo) {
    // 64 x 64 of 2 x 2 tiles of 32 x 32, R,G,B and alpha: pixel (x, y from the
    // bottom) is R = x, G = y, B = 200, A = 255 - x. Left tiles raw, right ones
    // run-length coded.
    Tdi t;
    t.width = t.height = 64;
    t.flags = 3;
    for (int ty = 0; ty < 2; ++ty) {
        for (int tx = 0; tx < 2; ++tx) {
            Tile tile{tx * 32, ty * 32, tx * 32 + 31, ty * 32 + 31, {}};
            std::vector<uint8_t> planes[4];  // A, B, G, R
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    const int px = tx * 32 + x, py = ty * 32 + y;
                    const uint8_t abgr[4] = {uint8_t(255 - px), 200, uint8_t(py), uint8_t(px)};
                    for (int j = 0; j < 4; ++j) {
                        if (tx == 0) tile.data.push_back(abgr[j]);
                        else planes[j].push_back(abgr[j]);
                    }
                }
            }
            if (tx == 1)
                for (const auto& p : planes) {
                    const auto coded = pack(p);
                    tile.data.insert(tile.data.end(), coded.begin(), coded.end());
                }
            t.tiles.push_back(tile);
        }
    }
    OwnedImage img;
    ASSERT_EQ(loadBytesAs("tdi", build(t), &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_RGB32);
    ASSERT_EQ(img.width, 64);
    ASSERT_EQ(img.height, 64);
    long wrong = 0;
    for (int row = 0; row < 64; ++row) {
        const uint8_t* p = imageRow(&img, row);
        const int y = 63 - row;
        for (int x = 0; x < 64; ++x, p += 4)
            wrong += p[0] != x || p[1] != y || p[2] != 200 || p[3] != 255 - x;
    }
    EXPECT_EQ(wrong, 0);
}

TEST(TdiReader, CorpusTestCards) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/tdi/";
    std::vector<uint8_t> probe;
    if (!readFile(dir + "ps_testcard_rgb_maya.iff", &probe)) GTEST_SKIP() << "corpus missing";
    OwnedImage rgb, rgba;
    ASSERT_EQ(load(dir + "ps_testcard_rgb_maya.iff", &rgb), ST_OK);
    ASSERT_EQ(load(dir + "ps_testcard_rgba_maya.iff", &rgba), ST_OK);
    ASSERT_EQ(rgb.width, 131);
    ASSERT_EQ(rgb.height, 131);
    ASSERT_EQ(rgba.kind, IMG_RGB32);
    // Wherever the card is opaque, both files hold the same colour.
    long opaque = 0, differ = 0;
    const Rgb a = toRgb(rgb), b = toRgb(rgba);
    for (int y = 0; y < 131; ++y) {
        for (int x = 0; x < 131; ++x) {
            if (imageRow(&rgba, y)[4 * x + 3] != 255) continue;
            ++opaque;
            const size_t i = 3 * (size_t(y) * 131 + x);
            differ += a.pixels[i] != b.pixels[i] || a.pixels[i + 1] != b.pixels[i + 1] ||
                      a.pixels[i + 2] != b.pixels[i + 2];
        }
    }
    EXPECT_GT(opaque, 131 * 131 / 2);
    EXPECT_EQ(differ, 0);
    // The bars across the upper part, left to right: white, light grey,
    // yellow, cyan, green, magenta, red, blue, black (a card turned over or
    // with its channels swapped shows them otherwise).
    const int y = 30;
    const std::vector<std::pair<int, std::vector<int>>> bars = {
        {32, {1, 1, 1}}, {41, {1, 1, 1}}, {49, {1, 1, 0}}, {57, {0, 1, 1}}, {65, {0, 1, 0}},
        {74, {1, 0, 1}}, {82, {1, 0, 0}}, {90, {0, 0, 1}}, {98, {0, 0, 0}}};
    for (const auto& bar : bars) {
        SCOPED_TRACE(bar.first);
        const uint8_t* p = &a.pixels[3 * (size_t(y) * 131 + bar.first)];
        for (int c = 0; c < 3; ++c) EXPECT_EQ(p[c] > 128, bar.second[c] == 1) << "channel " << c << " = " << int(p[c]);
    }
}

}  // namespace
