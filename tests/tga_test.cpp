// Truevision Targa: hand-built files pin down identification, orientation,
// pixel depths, colour maps and run-length packets; files from ImageMagick,
// netpbm and GraphicsMagick decode as those programs decode them; our files
// decode the same in the peers and round-trip through our reader.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

int tgaIndex() {
    static int index = findFormat("tga");
    return index;
}

using Bytes = std::vector<uint8_t>;

void put16(Bytes* v, uint32_t x) {
    v->push_back(x & 0xFF);
    v->push_back((x >> 8) & 0xFF);
}

struct TgaFields {
    Bytes id;
    uint8_t mapType = 0;
    uint8_t type = 2;
    uint16_t firstEntry = 0;
    uint16_t mapLength = 0;
    uint8_t entrySize = 0;
    uint16_t width = 2, height = 1;
    uint8_t depth = 24;
    uint8_t descriptor = 0x20;
    Bytes map;
    Bytes data;
};

Bytes buildTga(const TgaFields& s) {
    Bytes f = {static_cast<uint8_t>(s.id.size()), s.mapType, s.type};
    put16(&f, s.firstEntry);
    put16(&f, s.mapLength);
    f.push_back(s.entrySize);
    put16(&f, 0);
    put16(&f, 0);
    put16(&f, s.width);
    put16(&f, s.height);
    f.push_back(s.depth);
    f.push_back(s.descriptor);
    for (const Bytes* part : {&s.id, &s.map, &s.data}) f.insert(f.end(), part->begin(), part->end());
    return f;
}

Status loadBytes(const Bytes& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".tga");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    freeImage(img);  // loading clears the record: a picture from an earlier load goes first
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(tgaIndex());
    o.flags = flags;
    return loadImage(path.c_str(), img, &o, info);
}

Bytes rawRow(const Image& img, int y) {
    const uint8_t* r = img.pixels + static_cast<size_t>(y) * img.stride;
    return Bytes(r, r + static_cast<size_t>(img.width) * img.bytesPerPixel);
}

Bytes paletteEntry(const Image& img, int i) { return {img.palette[i], img.palette[256 + i], img.palette[512 + i]}; }

// ---- identification --------------------------------------------------------------

struct IdentifyCase {
    const char* name;
    void (*mutate)(TgaFields*);
    Status status;
};

TEST(TgaReader, Identification) {
    const std::vector<IdentifyCase> cases = {
        {"plain 24-bit", [](TgaFields*) {}, ST_OK},
        {"width 6000", [](TgaFields* s) { s->width = 6000; }, ST_OK},
        {"width 6001", [](TgaFields* s) { s->width = 6001; }, ST_UNKNOWN_FORMAT},
        {"height 6001", [](TgaFields* s) { s->height = 6001; }, ST_UNKNOWN_FORMAT},
        {"width 0", [](TgaFields* s) { s->width = 0; }, ST_UNKNOWN_FORMAT},
        {"colour map type 2", [](TgaFields* s) { s->mapType = 2; }, ST_UNKNOWN_FORMAT},
        {"map without entries", [](TgaFields* s) { s->mapType = 1, s->entrySize = 24; }, ST_UNKNOWN_FORMAT},
        {"map entries of 0 bits", [](TgaFields* s) { s->mapType = 1, s->mapLength = 2; }, ST_UNKNOWN_FORMAT},
        {"map of 256 entries", [](TgaFields* s) { s->mapType = 1, s->mapLength = 256, s->entrySize = 24; }, ST_OK},
        {"map of 257 entries", [](TgaFields* s) { s->mapType = 1, s->mapLength = 257, s->entrySize = 24; },
         ST_UNKNOWN_FORMAT},
        {"map shorter than its first index",
         [](TgaFields* s) { s->mapType = 1, s->firstEntry = 3, s->mapLength = 2, s->entrySize = 24; }, ST_UNKNOWN_FORMAT},
        {"depth 7", [](TgaFields* s) { s->depth = 7; }, ST_UNKNOWN_FORMAT},
        {"depth 15", [](TgaFields* s) { s->depth = 15; }, ST_OK},
        {"type 0", [](TgaFields* s) { s->type = 0; }, ST_UNKNOWN_FORMAT},
        {"type 4", [](TgaFields* s) { s->type = 4; }, ST_UNKNOWN_FORMAT},
        {"type 11", [](TgaFields* s) { s->type = 11; }, ST_OK},
        {"type 32", [](TgaFields* s) { s->type = 32; }, ST_UNKNOWN_FORMAT},
    };
    for (const IdentifyCase& c : cases) {
        SCOPED_TRACE(c.name);
        TgaFields s;
        s.data.assign(6, 1);
        c.mutate(&s);
        std::string path = tempPath("ident.tga");
        ASSERT_TRUE(writeFile(path, buildTga(s)));
        FileInfo info{};
        EXPECT_EQ(readImageInfo(path.c_str(), tgaIndex(), 0, &info), c.status);
        EXPECT_STREQ(info.message, "");
    }
    // A header cut short.
    Bytes cut = buildTga(TgaFields());
    cut.resize(17);
    OwnedImage img;
    EXPECT_EQ(loadBytes(cut, &img), ST_UNKNOWN_FORMAT);
}

TEST(TgaReader, InformationAndName) {
    struct Case {
        uint8_t type, depth;
        const char* name;
        int bytesPerPlane;
    };
    const std::vector<Case> cases = {
        {2, 24, "Truevision TARGA (Type 2)", 15},   {10, 32, "Truevision TARGA (Type 10 - RLE)", 20},
        {3, 8, "Truevision TARGA (Type 3)", 5},     {11, 1, "Truevision TARGA (Type 11 - RLE)", 1},
        {2, 16, "Truevision TARGA (Type 2)", 10},   {9, 8, "Truevision TARGA (Type 9 - RLE)", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TgaFields s;
        s.type = c.type;
        s.depth = c.depth;
        s.width = 5;
        s.height = 3;
        s.descriptor = 0;
        std::string path = tempPath("info.tga");
        ASSERT_TRUE(writeFile(path, buildTga(s)));
        FileInfo info{};
        ASSERT_EQ(readImageInfo(path.c_str(), -1, 0, &info), ST_OK);
        EXPECT_EQ(info.formatIndex, tgaIndex());
        EXPECT_STREQ(info.formatName, c.name);
        EXPECT_EQ(info.width, 5);
        EXPECT_EQ(info.height, 3);
        EXPECT_EQ(info.orientation, OR_BOTTOM_UP);
        EXPECT_EQ(info.bitsPerPlane, c.depth == 16 ? 15 : c.depth);
        EXPECT_EQ(info.bytesPerPlane, c.bytesPerPlane);
    }
}

// ---- pixels ------------------------------------------------------------------------

struct PixelCase {
    const char* name;
    TgaFields fields;
    uint16_t kind;
    std::vector<Bytes> rows;  // the image's rows, top first
};

TgaFields raster(uint8_t type, uint8_t depth, uint16_t width, uint16_t height, Bytes data, uint8_t descriptor = 0x20) {
    TgaFields s;
    s.type = type;
    s.depth = depth;
    s.width = width;
    s.height = height;
    s.data = std::move(data);
    s.descriptor = descriptor;
    return s;
}

TgaFields withMap(TgaFields s, uint8_t entrySize, uint16_t first, uint16_t length, Bytes map) {
    s.mapType = 1;
    s.entrySize = entrySize;
    s.firstEntry = first;
    s.mapLength = length;
    s.map = std::move(map);
    return s;
}

TEST(TgaReader, Pixels) {
    TgaFields withId = raster(2, 24, 1, 1, {1, 2, 3});
    withId.id = {'a', 'b', 'c'};
    const std::vector<PixelCase> cases = {
        {"24 bits are B, G, R", raster(2, 24, 2, 1, {1, 2, 3, 4, 5, 6}), IMG_RGB, {{3, 2, 1, 6, 5, 4}}},
        {"the image ID is skipped", withId, IMG_RGB, {{3, 2, 1}}},
        {"bottom-up rows", raster(2, 24, 1, 2, {1, 2, 3, 4, 5, 6}, 0), IMG_RGB, {{6, 5, 4}, {3, 2, 1}}},
        {"top-down rows", raster(2, 24, 1, 2, {1, 2, 3, 4, 5, 6}, 0x20), IMG_RGB, {{3, 2, 1}, {6, 5, 4}}},
        {"32 bits keep alpha", raster(2, 32, 1, 1, {1, 2, 3, 200}, 0x28), IMG_RGB32, {{3, 2, 1, 200}}},
        {"16 bits read as 5-5-5, the top bit ignored", raster(2, 16, 3, 1, {0x00, 0xFC, 0xE0, 0x03, 0x1F, 0x80}),
         IMG_RGB, {{255, 0, 0, 0, 255, 0, 0, 0, 255}}},
        {"15 bits", raster(2, 15, 1, 1, {0x10, 0x42}), IMG_RGB, {{131, 131, 131}}},
        {"8-bit grey", raster(3, 8, 3, 1, {0, 128, 255}), IMG_GREY, {{0, 128, 255}}},
        {"1-bit black and white", raster(3, 1, 10, 1, {0xA5, 0xC0}), IMG_BINARY, {{1, 0, 1, 0, 0, 1, 0, 1, 1, 1}}},
        {"24-bit map", withMap(raster(1, 8, 3, 1, {0, 1, 2}), 24, 0, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}), IMG_PALETTE,
         {{0, 1, 2}}},
        {"32-bit map entries drop their fourth byte",
         withMap(raster(1, 8, 2, 1, {1, 0}), 32, 0, 2, {1, 2, 3, 99, 4, 5, 6, 99}), IMG_PALETTE, {{1, 0}}},
        {"16-bit map", withMap(raster(1, 8, 2, 1, {0, 1}), 16, 0, 2, {0x00, 0x7C, 0x1F, 0x80}), IMG_PALETTE, {{0, 1}}},
        {"15-bit map entries take two bytes each",
         withMap(raster(1, 8, 2, 1, {2, 1}), 15, 0, 3, {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00}), IMG_PALETTE, {{2, 1}}},
        {"map starting at entry 2", withMap(raster(1, 8, 2, 1, {2, 3}), 24, 2, 2, {1, 2, 3, 4, 5, 6}), IMG_PALETTE,
         {{2, 3}}},
        {"map of 8-bit entries: black, data still found",
         withMap(raster(1, 8, 2, 1, {0, 1}), 8, 0, 2, {50, 60}), IMG_PALETTE, {{0, 1}}},
        {"map of 64-bit entries: black, data still found",
         withMap(raster(1, 8, 2, 1, {0, 1}), 64, 0, 2, Bytes(16, 9)), IMG_PALETTE, {{0, 1}}},
        {"true colour with a map: the map is skipped", withMap(raster(2, 24, 1, 1, {1, 2, 3}), 24, 0, 1, {9, 9, 9}),
         IMG_RGB, {{3, 2, 1}}},
    };
    for (const PixelCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadBytes(buildTga(c.fields), &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        for (size_t y = 0; y < c.rows.size(); ++y) EXPECT_EQ(rawRow(img, static_cast<int>(y)), c.rows[y]) << y;
    }
}

TEST(TgaReader, ColourMaps) {
    struct Case {
        const char* name;
        TgaFields fields;
        std::vector<std::pair<int, Bytes>> entries;  // index, R, G, B
    };
    const std::vector<Case> cases = {
        {"24-bit entries are B, G, R", withMap(raster(1, 8, 1, 1, {0}), 24, 0, 2, {1, 2, 3, 4, 5, 6}),
         {{0, {3, 2, 1}}, {1, {6, 5, 4}}, {2, {0, 0, 0}}}},
        {"32-bit entries", withMap(raster(1, 8, 1, 1, {0}), 32, 0, 2, {1, 2, 3, 99, 4, 5, 6, 99}),
         {{0, {3, 2, 1}}, {1, {6, 5, 4}}}},
        {"16-bit entries scaled by 255 / 31",
         withMap(raster(1, 8, 1, 1, {0}), 16, 0, 3, {0x00, 0x7C, 0x1F, 0x80, 0x21, 0x04}),
         {{0, {255, 0, 0}}, {1, {0, 0, 255}}, {2, {8, 8, 8}}}},
        {"15-bit entries", withMap(raster(1, 8, 1, 1, {0}), 15, 0, 2, {0xE0, 0x03, 0x10, 0x42}),
         {{0, {0, 255, 0}}, {1, {131, 131, 131}}}},
        {"first entry index places the map", withMap(raster(1, 8, 1, 1, {0}), 24, 2, 2, {1, 2, 3, 4, 5, 6}),
         {{0, {0, 0, 0}}, {2, {3, 2, 1}}, {3, {6, 5, 4}}}},
        {"entries past 255 are dropped", withMap(raster(1, 8, 1, 1, {0}), 24, 255, 256, Bytes(768, 7)),
         {{255, {7, 7, 7}}, {0, {0, 0, 0}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadBytes(buildTga(c.fields), &img), ST_OK);
        ASSERT_EQ(img.kind, IMG_PALETTE);
        for (const auto& e : c.entries) EXPECT_EQ(paletteEntry(img, e.first), e.second) << "entry " << e.first;
    }
}

// ---- run-length packets and damaged files -------------------------------------------

struct RleCase {
    const char* name;
    TgaFields fields;
    Status status;
    std::vector<Bytes> rows;  // top first
};

TEST(TgaReader, RunLengthAndTruncation) {
    const std::vector<RleCase> cases = {
        {"packets cross row ends", raster(11, 8, 3, 3, {0x83, 7, 0x01, 1, 2, 0x82, 9}), ST_OK,
         {{7, 7, 7}, {7, 1, 2}, {9, 9, 9}}},
        {"24-bit runs and raw packets", raster(10, 24, 3, 1, {0x81, 1, 2, 3, 0x00, 4, 5, 6}), ST_OK,
         {{3, 2, 1, 3, 2, 1, 6, 5, 4}}},
        {"16-bit packets", raster(10, 16, 2, 1, {0x81, 0x00, 0x7C}), ST_OK, {{255, 0, 0, 255, 0, 0}}},
        {"1-bit rows coded byte by byte", raster(11, 1, 12, 2, {0x82, 0xF0, 0x00, 0x0F}), ST_OK,
         {{1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1}, {1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0}}},
        {"packets past the last row are ignored", raster(11, 8, 2, 1, {0x85, 4}), ST_OK, {{4, 4}}},
        {"bottom-up run-length rows", raster(11, 8, 2, 2, {0x81, 1, 0x81, 2}, 0), ST_OK, {{2, 2}, {1, 1}}},
        {"file ends inside a packet", raster(11, 8, 3, 2, {0x83, 5, 0x02, 6}), ST_READ_ERROR, {{5, 5, 5}, {5, 6, 0}}},
        {"file ends before a run's pixel", raster(10, 24, 2, 1, {0x00, 1, 2, 3, 0x80, 4, 5}), ST_READ_ERROR,
         {{3, 2, 1, 0, 0, 0}}},
        {"file ends between rows", raster(11, 8, 2, 2, {0x81, 5}), ST_READ_ERROR, {{5, 5}, {0, 0}}},
        {"file ends inside a raw pixel", raster(10, 24, 3, 1, {0x02, 1, 2, 3, 4, 5}), ST_READ_ERROR,
         {{3, 2, 1, 0, 0, 0, 0, 0, 0}}},
        {"a 24-bit raw packet across three rows", raster(10, 24, 1, 3, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}), ST_OK,
         {{3, 2, 1}, {6, 5, 4}, {9, 8, 7}}},
        {"uncompressed: whole rows kept", raster(3, 8, 3, 3, {1, 2, 3, 4, 5}), ST_READ_ERROR,
         {{1, 2, 3}, {0, 0, 0}, {0, 0, 0}}},
        {"colour map cut short", withMap(raster(1, 8, 2, 1, {}), 24, 0, 4, {1, 2, 3, 4}), ST_READ_ERROR,
         {{0, 0}}},
    };
    for (const RleCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = buildTga(c.fields);
        OwnedImage img;
        ASSERT_EQ(loadBytes(file, &img), c.status);
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            ASSERT_EQ(loadBytes(file, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        for (size_t y = 0; y < c.rows.size(); ++y) EXPECT_EQ(rawRow(img, static_cast<int>(y)), c.rows[y]) << y;
    }
}

TEST(TgaReader, BottomUpAndTopDownLoadAlike) {
    TgaFields up = raster(2, 24, 3, 4, {}, 0);
    for (int i = 0; i < 36; ++i) up.data.push_back(uint8_t(i * 7));
    TgaFields down = up;
    down.descriptor = 0x20;
    for (int y = 0; y < 4; ++y)
        std::copy(up.data.begin() + (3 - y) * 9, up.data.begin() + (4 - y) * 9, down.data.begin() + y * 9);
    OwnedImage a, b;
    ASSERT_EQ(loadBytes(buildTga(up), &a), ST_OK);
    ASSERT_EQ(loadBytes(buildTga(down), &b), ST_OK);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(rawRow(a, y), rawRow(b, y)) << y;
    EXPECT_EQ(rawRow(a, 0), (Bytes{203, 196, 189, 224, 217, 210, 245, 238, 231}));  // the last row stored
}

int stopAfterTwo(int32_t row, int32_t, void*) { return row >= 1; }

TEST(TgaReader, ProgressCallbackStops) {
    for (uint8_t type : {3, 11}) {
        SCOPED_TRACE(type);
        TgaFields s = raster(type, 8, 2, 5, type == 3 ? Bytes(10, 1) : Bytes{0x89, 1});
        std::string path = tempPath("stop.tga");
        ASSERT_TRUE(writeFile(path, buildTga(s)));
        IoOptions o = defaultIoOptions();
        o.progressCallback = stopAfterTwo;
        OwnedImage img;
        EXPECT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_STOPPED);
        EXPECT_EQ(img.pixels, nullptr);
    }
}

// ---- writer --------------------------------------------------------------------------

Status saveTga(Image* img, const std::string& path, int rle) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(tgaIndex());
    o.writerOption1 = static_cast<int16_t>(rle);
    std::vector<char> name(path.begin(), path.end());
    name.resize(FILE_NAME_LEN, '\0');
    return saveImage(name.data(), img, &o);
}

Bytes saveRow(uint16_t kind, const Bytes& row, int rle) {
    OwnedImage img;
    if (!createImage(&img, kind, 1, static_cast<int32_t>(row.size() / kindBytesPerPixel(kind)), 1)) return {};
    memcpy(img.pixels, row.data(), row.size());
    std::string path = tempPath("row.tga");
    if (saveTga(&img, path, rle) != ST_OK) return {};
    Bytes file;
    readFile(path, &file);
    return file;
}

TEST(TgaWriter, Packets) {
    struct Case {
        const char* name;
        Bytes row;       // grey values
        Bytes packets;
    };
    Bytes ramp130;
    for (int i = 0; i < 130; ++i) ramp130.push_back(uint8_t(i));
    Bytes ramp130Packets = {126};
    ramp130Packets.insert(ramp130Packets.end(), ramp130.begin(), ramp130.begin() + 127);
    ramp130Packets.insert(ramp130Packets.end(), {2, 127, 128, 129});
    const std::vector<Case> cases = {
        {"200 equal pixels: runs of 128 and 72", Bytes(200, 9), {0xFF, 9, 0xC7, 9}},
        {"raw pixels stop before a pair", {1, 2, 3, 3, 3, 4}, {0x01, 1, 2, 0x82, 3, 0x00, 4}},
        {"a lone last pixel", {5, 5, 6}, {0x81, 5, 0x00, 6}},
        {"raw packets of at most 127", ramp130, ramp130Packets},
        {"one pixel", {8}, {0x00, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = saveRow(IMG_GREY, c.row, 1);
        ASSERT_GE(file.size(), 18u);
        EXPECT_EQ(file[2], 11);
        EXPECT_EQ(Bytes(file.begin() + 18, file.end()), c.packets);
    }
    // 24 bits: pixels of three bytes, B, G, R.
    Bytes file = saveRow(IMG_RGB, {1, 2, 3, 1, 2, 3, 1, 2, 4}, 1);
    ASSERT_GE(file.size(), 18u);
    EXPECT_EQ(Bytes(file.begin() + 18, file.end()), (Bytes{0x81, 3, 2, 1, 0x00, 4, 2, 1}));
    // 32 bits are never run-length encoded.
    file = saveRow(IMG_RGB32, {1, 2, 3, 4, 1, 2, 3, 4}, 1);
    ASSERT_GE(file.size(), 18u);
    EXPECT_EQ(file[2], 2);
    EXPECT_EQ(Bytes(file.begin() + 18, file.end()), (Bytes{3, 2, 1, 4, 3, 2, 1, 4}));
}

TEST(TgaWriter, Headers) {
    struct Case {
        const char* name;
        uint16_t kind;
        int rle;
        Bytes header;   // 18 bytes
        size_t dataBytes;
    };
    // 5 x 3 pictures.
    const std::vector<Case> cases = {
        {"binary", IMG_BINARY, 0, {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 1, 0x20}, 3},
        {"grey rle", IMG_GREY, 1, {0, 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 8, 0x20}, 0},
        {"palette", IMG_PALETTE, 0, {0, 1, 1, 0, 0, 0, 1, 24, 0, 0, 0, 0, 5, 0, 3, 0, 8, 0x20}, 768 + 15},
        {"palette rle", IMG_PALETTE, 1, {0, 1, 9, 0, 0, 0, 1, 24, 0, 0, 0, 0, 5, 0, 3, 0, 8, 0x20}, 0},
        {"rgb", IMG_RGB, 0, {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 24, 0x20}, 45},
        {"bgr rle", IMG_BGR, 1, {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 24, 0x20}, 0},
        // Alpha in one pixel makes a 32-bit file; an empty fourth byte, a 24-bit one.
        {"rgb32 with alpha rle asked", IMG_RGB32, 1, {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 32, 0x20}, 60},
        {"rgb32 opaque rle asked", IMG_RGB32, 1, {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 24, 0x20}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, c.kind, 1, 5, 3));
        if (img.palette)
            for (int i = 0; i < 256; ++i) img.palette[i] = uint8_t(i), img.palette[256 + i] = 7, img.palette[512 + i] = uint8_t(255 - i);
        if (strstr(c.name, "with alpha")) img.pixels[3] = 1;
        std::string path = tempPath("header.tga");
        ASSERT_EQ(saveTga(&img, path, c.rle), ST_OK);
        Bytes file;
        ASSERT_TRUE(readFile(path, &file));
        ASSERT_GE(file.size(), 18u);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), c.header);
        if (c.dataBytes) {
            EXPECT_EQ(file.size(), 18 + c.dataBytes);
        }
        if (c.kind == IMG_PALETTE) {
            // The map follows the header as B, G, R.
            EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 24), (Bytes{255, 7, 0, 254, 7, 1}));
        }
    }
}

TEST(TgaWriter, FullDiskIsAWriteError) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (uint16_t kind : {IMG_BINARY, IMG_PALETTE, IMG_RGB, IMG_RGB32}) {
        for (int rle = 0; rle < 2; ++rle) {
            SCOPED_TRACE(kind * 10 + rle);
            OwnedImage img;
            ASSERT_TRUE(createImage(&img, kind, 1, 300, 40));
            EXPECT_EQ(saveTga(&img, "/dev/full", rle), ST_WRITE_ERROR);
        }
    }
}

// A picture mixing runs and busy stretches.
bool makePicture(Image* img, uint16_t kind, int colours, int w, int h) {
    if (!createImage(img, kind, 1, w, h)) return false;
    img->colours = kind & IMG_TRUECOLOUR ? 0 : colours;
    if (img->palette)
        for (int i = 0; i < 256; ++i)
            img->palette[i] = uint8_t(i * 5), img->palette[256 + i] = uint8_t(255 - i), img->palette[512 + i] = uint8_t(i * 9);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = y % 3 == 0 ? x * 3 + y : (x / 7) * 5 + y;
            uint8_t* p = imageRow(img, y) + x * img->bytesPerPixel;
            if (img->bytesPerPixel == 1) p[0] = uint8_t(v % (kind == IMG_BINARY ? 2 : colours));
            else for (int k = 0; k < img->bytesPerPixel; ++k) p[k] = uint8_t(v * (k + 1) + k * 40);
            if (img->bytesPerPixel == 4) p[kind == IMG_RGB32 ? 3 : 0] = uint8_t(x * 9);  // alpha ramp
        }
    return true;
}

// A peer's decode as R,G,B.
bool peerDecode(const std::string& tool, const std::string& file, Rgb* out) {
    std::string ppm = file + ".ref.ppm";
    std::string cmd = tool == "gm"         ? "gm convert 'tga:" + file + "' ppm:" + ppm
                      : tool == "tgatoppm" ? "tgatoppm '" + file + "' > " + ppm
                                           : std::string(IM) + " 'tga:" + file + "' -depth 8 ppm:" + ppm;
    return run(cmd + " 2>/dev/null") == 0 && readPnmReference(ppm, out);
}

TEST(TgaWriter, RoundTripsAndPeersReadOurFiles) {
    struct Case {
        const char* name;
        uint16_t kind;
        int colours;
        int width, height;
        uint16_t loadedKind;
        const char* peers;  // which peers read this depth: i = ImageMagick, g = gm, n = netpbm
    };
    const std::vector<Case> cases = {
        // Only GraphicsMagick reads 1-bit files, and only uncompressed ones.
        {"binary width 1", IMG_BINARY, 2, 1, 3, IMG_BINARY, "g"},
        {"binary width 511", IMG_BINARY, 2, 511, 4, IMG_BINARY, "g"},
        {"grey 256 width 3", IMG_GREY, 256, 3, 5, IMG_GREY, "ign"},
        {"grey 16 levels", IMG_GREY, 16, 9, 2, IMG_GREY, "ign"},
        {"palette 200 width 511", IMG_PALETTE, 200, 511, 3, IMG_PALETTE, "ign"},
        {"palette 5 height 1", IMG_PALETTE, 5, 8, 1, IMG_PALETTE, "ign"},
        {"rgb width 1", IMG_RGB, 0, 1, 4, IMG_RGB, "ign"},
        {"rgb width 300", IMG_RGB, 0, 300, 3, IMG_RGB, "ign"},
        {"bgr", IMG_BGR, 0, 13, 5, IMG_RGB, "ign"},
        {"rgb32 with alpha", IMG_RGB32, 0, 9, 2, IMG_RGB32, "ign"},
        {"bgr32", IMG_BGR32, 0, 6, 3, IMG_RGB32, "ign"},
    };
    for (const Case& c : cases) {
        for (int rle = 0; rle < 2; ++rle) {
            SCOPED_TRACE(std::string(c.name) + (rle ? " rle" : ""));
            OwnedImage img;
            ASSERT_TRUE(makePicture(&img, c.kind, c.colours, c.width, c.height));
            std::string path = tempPath("ours.tga");
            ASSERT_EQ(saveTga(&img, path, rle), ST_OK);
            OwnedImage back;
            ASSERT_EQ(load(path, &back), ST_OK);
            EXPECT_EQ(back.kind, c.loadedKind);
            Rgb expected = toRgb(img);
            EXPECT_EQ(compareRgb(toRgb(back), expected), 0);
            if (c.kind == IMG_RGB32 || c.kind == IMG_PALETTE || c.kind == IMG_BINARY) {
                for (int y = 0; y < c.height; ++y) EXPECT_EQ(rawRow(back, y), rawRow(img, y)) << y;
            }
            for (const char* p = c.peers; *p && !(rle && c.kind == IMG_BINARY); ++p) {
                const std::string tool = *p == 'i' ? IM : *p == 'g' ? "gm" : "tgatoppm";
                if (!haveProgram(tool)) continue;
                SCOPED_TRACE(tool);
                Rgb ref;
                ASSERT_TRUE(peerDecode(tool, path, &ref));
                EXPECT_EQ(compareRgb(ref, expected), 0);
            }
        }
    }
}

// ---- peers' files ----------------------------------------------------------------------

// A source picture as P6 with at most `colours` colours (0 = any).
Rgb makeSource(int w, int h, int colours) {
    Rgb s;
    s.width = w;
    s.height = h;
    uint32_t noise = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245 + 12345;
            int v = x * 7 + y * 13 + static_cast<int>((noise >> 16) % 5);
            if (colours == 2) s.pixels.insert(s.pixels.end(), 3, (v & 4) ? 255 : 0);
            else if (colours == -1) s.pixels.insert(s.pixels.end(), 3, uint8_t(v * 3));
            else if (colours) v %= colours, s.pixels.insert(s.pixels.end(), {uint8_t(v * 37), uint8_t(v * 5), uint8_t(255 - v)});
            else s.pixels.insert(s.pixels.end(), {uint8_t(x * 7), uint8_t(y * 11), uint8_t(noise >> 24)});
        }
    return s;
}

bool writePpm(const std::string& path, const Rgb& p) {
    std::string head = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    Bytes bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), p.pixels.begin(), p.pixels.end());
    return writeFile(path, bytes);
}

std::string expand(std::string s, const std::string& src, const std::string& out) {
    s.replace(s.find("{src}"), 5, src);
    s.replace(s.find("{out}"), 5, out);
    return s;
}

TEST(TgaReader, DecodesPeerFiles) {
    struct Case {
        const char* name;
        int colours;  // -1: grey levels
        const char* command;
        uint8_t type, depth;
    };
    const std::vector<Case> cases = {
        {"im 24", 0, "convert-im6.q16 {src} TGA:{out}", 2, 24},
        {"im 24 rle", 0, "convert-im6.q16 {src} -compress RLE TGA:{out}", 10, 24},
        {"im mapped", 200, "convert-im6.q16 {src} -type Palette TGA:{out}", 1, 8},
        {"im mapped rle", 200, "convert-im6.q16 {src} -type Palette -compress RLE TGA:{out}", 9, 8},
        {"im grey", -1, "convert-im6.q16 {src} -type Grayscale TGA:{out}", 3, 8},
        {"im grey rle", -1, "convert-im6.q16 {src} -type Grayscale -compress RLE TGA:{out}", 11, 8},
        {"im top-down", 0, "convert-im6.q16 {src} -orient TopLeft TGA:{out}", 2, 24},
        {"gm 24", 0, "gm convert {src} TGA:{out}", 2, 24},
        {"gm mapped", 200, "gm convert {src} -type Palette TGA:{out}", 1, 8},
        {"netpbm mapped rle", 200, "pamtotga -cmap {src} > {out}", 9, 8},
        {"netpbm mapped", 200, "pamtotga -cmap -norle {src} > {out}", 1, 8},
        {"netpbm mono", 2, "pamtotga -mono {src} > {out}", 11, 8},
        {"netpbm rgb rle", 0, "pamtotga -rgb {src} > {out}", 10, 24},
        {"netpbm rgb", 0, "pamtotga -rgb -norle {src} > {out}", 2, 24},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = c.command;
        if (!haveProgram(cmd.substr(0, cmd.find(' ')))) continue;
        std::string src = tempPath("peer" + std::to_string(n) + ".ppm");
        std::string out = tempPath("peer" + std::to_string(n++) + ".tga");
        Rgb source = makeSource(37, 23, c.colours);
        ASSERT_TRUE(writePpm(src, source));
        ASSERT_EQ(run(expand(cmd, src, out) + " 2>/dev/null"), 0);
        Bytes file;
        ASSERT_TRUE(readFile(out, &file));
        ASSERT_EQ(file[2], c.type);
        ASSERT_EQ(file[16], c.depth);
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        Rgb expected = source;
        if (cmd.rfind(IM, 0) == 0 && !(file[17] & 0x20)) {
            // ImageMagick 6 writes the top row first while the descriptor says
            // bottom-up: the file, read as the format defines, is upside down
            // (as GraphicsMagick and netpbm show it).
            const size_t line = 37 * 3;
            for (int y = 0; y < 23; ++y)
                std::copy(source.pixels.begin() + (22 - y) * line, source.pixels.begin() + (23 - y) * line,
                          expected.pixels.begin() + y * line);
            Rgb gm;
            if (haveProgram("gm") && peerDecode("gm", out, &gm)) {
                EXPECT_EQ(compareRgb(gm, expected), 0);
            }
        }
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

TEST(TgaReader, SampleFilesMatchImageMagick) {
    std::string dir = std::string(KALEO_CORPUS_DIR) + "/tga";
    DIR* d = opendir(dir.c_str());
    if (!d) GTEST_SKIP() << "no sample folder " << dir;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string path = dir + "/" + name;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        std::string copy = tempPath("sample.tga");
        Bytes bytes;
        ASSERT_TRUE(readFile(path, &bytes) && writeFile(copy, bytes));
        Rgb ref;
        ASSERT_TRUE(peerDecode(IM, copy, &ref));
        EXPECT_EQ(compareRgb(toRgb(img), ref), 0);
    }
}

}  // namespace
