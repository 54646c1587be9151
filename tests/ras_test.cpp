// Sun raster files: hand-built rasters pin down row padding, byte orders,
// colour maps, the byte encoding and the refusals; files written by netpbm and
// ImageMagick, and the corpus, decode to the pixels those programs read.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;


namespace {

const char IM[] = "convert-im6.q16";

int rasIndex() {
    static int index = findFormat("ras");
    return index;
}

void put32(std::vector<uint8_t>* v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v->push_back(static_cast<uint8_t>(x >> s));
}

struct RasFile {
    uint32_t magic = 0x59A66A95;
    uint32_t width = 1, height = 1, depth = 8;
    uint32_t type = 1;
    uint32_t mapType = 0;
    std::vector<uint8_t> map;  // as stored: reds, greens, blues
    std::vector<uint8_t> data;
    int64_t mapLength = -1;    // -1: the size of map
    size_t headerBytes = 32;   // fewer to cut the header
};

std::vector<uint8_t> buildRas(const RasFile& s) {
    std::vector<uint8_t> f;
    put32(&f, s.magic);
    put32(&f, s.width);
    put32(&f, s.height);
    put32(&f, s.depth);
    put32(&f, static_cast<uint32_t>(s.data.size()));
    put32(&f, s.type);
    put32(&f, s.mapType);
    put32(&f, s.mapLength >= 0 ? static_cast<uint32_t>(s.mapLength) : static_cast<uint32_t>(s.map.size()));
    f.resize(s.headerBytes);
    f.insert(f.end(), s.map.begin(), s.map.end());
    f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

Status loadBytes(const std::vector<uint8_t>& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".ras");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(rasIndex());
    o.flags = flags;
    return loadImage(path.c_str(), img, &o, info);
}

RasFile raster(uint32_t w, uint32_t h, uint32_t depth, std::vector<uint8_t> data, uint32_t type = 1) {
    RasFile s;
    s.width = w;
    s.height = h;
    s.depth = depth;
    s.type = type;
    s.data = std::move(data);
    return s;
}

template <typename F>
RasFile with(RasFile s, F change) {
    change(&s);
    return s;
}

// n map entries: red i, green 255 - i, blue 3 i.
std::vector<uint8_t> mapOf(int n) {
    std::vector<uint8_t> m;
    for (int i = 0; i < n; ++i) m.push_back(static_cast<uint8_t>(i));
    for (int i = 0; i < n; ++i) m.push_back(static_cast<uint8_t>(255 - i));
    for (int i = 0; i < n; ++i) m.push_back(static_cast<uint8_t>(3 * i));
    return m;
}

struct HandCase {
    const char* name;
    RasFile file;
    Status status;
    const char* message;
    uint16_t kind;
    std::vector<uint8_t> pixels;  // image bytes (as R,G,B triplets when rgb is set)
    bool rgb = false;
};

TEST(RasReader, HandBuiltRasters) {
    const std::vector<HandCase> cases = {
        {"1-bit 17 wide has 4-byte rows, 1 black", raster(17, 1, 1, {0xC0, 0x00, 0x80, 0x00}), ST_OK, nullptr,
         IMG_BINARY, {0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
        {"1-bit with a white, black map", with(raster(3, 1, 1, {0x40, 0}), [](RasFile* s) {
             s->mapType = 1;
             s->map = {255, 0, 255, 0, 255, 0};
         }), ST_OK, nullptr, IMG_BINARY, {1, 0, 1}},
        {"1-bit with a red, blue map", with(raster(3, 1, 1, {0x40, 0}), [](RasFile* s) {
             s->mapType = 1;
             s->map = {255, 0, 0, 0, 0, 255};
         }), ST_OK, nullptr, IMG_PALETTE, {255, 0, 0, 0, 0, 255, 255, 0, 0}, true},
        {"8-bit with 256 colours", with(raster(3, 1, 8, {0, 255, 7, 0}), [](RasFile* s) {
             s->mapType = 1;
             s->map = mapOf(256);
         }), ST_OK, nullptr, IMG_PALETTE, {0, 255, 0, 255, 0, 253, 7, 248, 21}, true},
        {"8-bit with 32 colours, black after", with(raster(2, 1, 8, {31, 40}), [](RasFile* s) {
             s->mapType = 1;
             s->map = mapOf(32);
         }), ST_OK, nullptr, IMG_PALETTE, {31, 224, 93, 0, 0, 0}, true},
        {"8-bit map past 768 bytes is skipped", with(raster(2, 1, 8, {5, 6}), [](RasFile* s) {
             s->mapType = 1;
             s->map = std::vector<uint8_t>(771, 9);
         }), ST_OK, nullptr, IMG_GREY, {5, 6}},
        {"8-bit without map is grey", raster(3, 2, 8, {1, 2, 3, 0, 4, 5, 6, 0}), ST_OK, nullptr, IMG_GREY,
         {1, 2, 3, 4, 5, 6}},
        {"raw map type without map", with(raster(1, 1, 8, {9, 0}), [](RasFile* s) { s->mapType = 2; }), ST_OK, nullptr,
         IMG_GREY, {9}},
        {"24-bit is blue first", raster(1, 2, 24, {1, 2, 3, 0, 4, 5, 6, 0}), ST_OK, nullptr, IMG_RGB,
         {3, 2, 1, 6, 5, 4}},
        {"24-bit old type", raster(1, 1, 24, {1, 2, 3, 0}, 0), ST_OK, nullptr, IMG_RGB, {3, 2, 1}},
        {"24-bit R,G,B type", raster(2, 1, 24, {1, 2, 3, 4, 5, 6}, 3), ST_OK, nullptr, IMG_RGB, {1, 2, 3, 4, 5, 6}},
        {"32-bit keeps its first byte as the fourth", raster(1, 1, 32, {9, 1, 2, 3}), ST_OK, nullptr, IMG_RGB32,
         {3, 2, 1, 9}},
        {"32-bit R,G,B type", raster(1, 1, 32, {9, 1, 2, 3}, 3), ST_OK, nullptr, IMG_RGB32, {1, 2, 3, 9}},
        {"escaped 0x80 and a run", raster(5, 1, 8, {0x80, 0x00, 0x80, 0x03, 0x41, 0x07}, 2), ST_OK, nullptr, IMG_GREY,
         {0x80, 0x41, 0x41, 0x41, 0x41}},
        {"runs go on across rows", raster(2, 3, 8, {0x80, 0x04, 9, 1, 2}, 2), ST_OK, nullptr, IMG_GREY,
         {9, 9, 9, 9, 9, 1}},
        {"encoded 24-bit", raster(2, 1, 24, {0x80, 0x02, 7, 1, 2, 3}, 2), ST_OK, nullptr, IMG_RGB, {7, 7, 7, 3, 2, 1}},
        {"encoded 1-bit", raster(16, 2, 1, {0x80, 0x01, 0xFF, 0x0F, 0xF0}, 2), ST_OK, nullptr, IMG_BINARY,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}},
        // Refusals.
        {"wrong magic", with(raster(1, 1, 8, {1, 0}), [](RasFile* s) { s->magic = 0x956AA659; }), ST_UNKNOWN_FORMAT,
         nullptr, 0, {}},
        {"header cut", with(raster(1, 1, 8, {}), [](RasFile* s) { s->headerBytes = 31; }), ST_UNKNOWN_FORMAT,
         nullptr, 0, {}},
        {"type 4", raster(1, 1, 8, {1, 0}, 4), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"map without map type", with(raster(1, 1, 8, {1, 0}), [](RasFile* s) { s->map = mapOf(2); }),
         ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"raw map type with a map", with(raster(1, 1, 8, {1, 0}), [](RasFile* s) {
             s->mapType = 2;
             s->map = mapOf(2);
         }), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"RGB map type without map", with(raster(1, 1, 8, {1, 0}), [](RasFile* s) { s->mapType = 1; }),
         ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"width 0", raster(0, 1, 8, {}), ST_BAD_FILE, "Sun Raster : Bad picture's size !", 0, {}},
        {"height 16000", raster(1, 16000, 8, {}), ST_BAD_FILE, "Sun Raster : Bad picture's size !", 0, {}},
        {"width 2^32 - 1", raster(0xFFFFFFFF, 1, 32, {}), ST_BAD_FILE, "Sun Raster : Bad picture's size !", 0, {}},
        {"depth 4", raster(4, 1, 4, {0x12, 0x34}), ST_BAD_FILE, "Sun Raster : Bad number of bits per pixel !", 0, {}},
        {"depth 16", raster(1, 1, 16, {0x12, 0x34}), ST_BAD_FILE, "Sun Raster : Bad number of bits per pixel !", 0,
         {}},
        {"depth 0", raster(1, 1, 0, {}), ST_BAD_FILE, "Sun Raster : Bad number of bits per pixel !", 0, {}},
        // Damaged data: the rows so far stay.
        {"plain rows cut", raster(2, 2, 8, {1, 2, 3}), ST_READ_ERROR, nullptr, IMG_GREY, {1, 2, 0, 0}},
        {"map cut", with(raster(2, 1, 8, {}), [](RasFile* s) {
             s->mapType = 1;
             s->map = mapOf(2);
             s->mapLength = 30;
         }), ST_READ_ERROR, nullptr, IMG_GREY, {0, 0}},
        {"encoding cut inside a row", raster(3, 2, 8, {1, 2, 3, 0, 0x80, 0x01, 5}, 2), ST_READ_ERROR, nullptr,
         IMG_GREY, {1, 2, 3, 5, 5, 0}},
        {"encoding cut after an escape", raster(3, 1, 8, {1, 0x80}, 2), ST_READ_ERROR, nullptr, IMG_GREY, {1, 0, 0}},
        {"encoding cut inside a run", raster(3, 1, 8, {1, 0x80, 0x05}, 2), ST_READ_ERROR, nullptr, IMG_GREY,
         {1, 0, 0}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = buildRas(c.file);
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadBytes(bytes, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.pixels.empty()) {
            EXPECT_EQ(loadBytes(bytes, &img, OPT_ACCEPT_DAMAGED), c.status);
            EXPECT_EQ(img.pixels, nullptr);
            continue;
        }
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            ASSERT_EQ(loadBytes(bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

TEST(RasReader, NamesAndColourCounts) {
    FileInfo info;
    {
        OwnedImage img;
        ASSERT_EQ(loadBytes(buildRas(raster(2, 1, 8, {1, 2})), &img, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "Sun Raster File");
        EXPECT_EQ(info.bytesPerPlane, 2);
    }
    {
        OwnedImage img;
        ASSERT_EQ(loadBytes(buildRas(raster(3, 1, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, 2)), &img, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "Sun Raster File (RLE)");
        EXPECT_EQ(info.bytesPerPlane, 10);
    }
    {
        OwnedImage img;
        ASSERT_EQ(loadBytes(buildRas(with(raster(1, 1, 8, {0, 0}), [](RasFile* s) {
                      s->mapType = 1;
                      s->map = mapOf(32);
                  })),
                            &img),
                  ST_OK);
        ASSERT_EQ(img.kind, IMG_PALETTE);
        EXPECT_EQ(img.colours, 256);
        EXPECT_EQ(img.palette[31], 31);
        EXPECT_EQ(img.palette[32], 0);
        EXPECT_EQ(img.palette[256 + 32], 0);
    }
}

// ---- files written by the peers ---------------------------------------------------

bool havePeers() { return haveProgram(IM) && haveProgram("pnmtorast") && haveProgram("rasttopnm"); }

struct PeerCase {
    const char* name;
    const char* make;  // $S source P6, $O the raster
    uint32_t depth;
    uint32_t type;
    uint16_t kind;
};

TEST(RasReader, PeerFilesDecodeToTheirPixels) {
    if (!havePeers()) GTEST_SKIP() << "netpbm or ImageMagick missing";
    const std::string src = tempPath("ras_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(45, 27)));
    const std::vector<PeerCase> cases = {
        {"netpbm 1-bit", "ppmtopgm $S | pamthreshold -simple | pamtopnm | pnmtorast -standard > $O", 1, 1, IMG_BINARY},
        {"netpbm 1-bit encoded", "ppmtopgm $S | pamthreshold -simple | pamtopnm | pnmtorast -rle > $O", 1, 2,
         IMG_BINARY},
        {"netpbm grey map", "ppmtopgm $S | pnmtorast -standard > $O", 8, 1, IMG_PALETTE},
        {"netpbm grey map encoded", "ppmtopgm $S | pnmtorast -rle > $O", 8, 2, IMG_PALETTE},
        {"netpbm 16 colours", "pnmquant 16 $S | pnmtorast -standard > $O", 8, 1, IMG_PALETTE},
        {"netpbm 16 colours encoded", "pnmquant 16 $S | pnmtorast -rle > $O", 8, 2, IMG_PALETTE},
        {"netpbm 24-bit", "pnmtorast -standard $S > $O", 24, 1, IMG_RGB},
        {"netpbm 24-bit, asked to encode, stays plain", "pnmtorast -rle $S > $O", 24, 1, IMG_RGB},
        {"ImageMagick 24-bit R,G,B", "convert-im6.q16 $S sun:$O", 24, 3, IMG_RGB},
        {"ImageMagick palette", "convert-im6.q16 $S -colors 40 -type Palette sun:$O", 8, 1, IMG_PALETTE},
        {"ImageMagick 32-bit with alpha",
         "convert-im6.q16 $S -alpha set -channel A -fx '(i+j)/(w+h)' +channel -depth 8 sun:$O", 32, 3, IMG_RGB32},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("peer" + std::to_string(n) + ".ras");
        const std::string viaNetpbm = tempPath("peer" + std::to_string(n) + "_np.pnm");
        const std::string viaIm = tempPath("peer" + std::to_string(n++) + "_im.ppm");
        const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}};
        ASSERT_EQ(run(shell(c.make, names)), 0);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(out, &bytes));
        ASSERT_GE(bytes.size(), 32u);
        EXPECT_EQ(bytes[15], c.depth);
        EXPECT_EQ(bytes[23], c.type);

        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        const Rgb ours = toRgb(img);
        // ImageMagick refuses the encoded 1-bit rasters of netpbm (see the corpus
        // test) and leaves the last pixels of its encoded 8-bit ones black, where
        // netpbm and a decoding by hand agree with us.
        if (c.type != 2) {
            ASSERT_EQ(run(shell(std::string(IM) + " $O -depth 16 ppm:" + viaIm, names)), 0);
            Rgb im;
            ASSERT_TRUE(readPeerPnm(viaIm, &im, nullptr));
            EXPECT_EQ(compareRgb(ours, im), 0);
        }
        // netpbm reads every depth but the 32-bit one with alpha.
        if (c.depth != 32) {
            ASSERT_EQ(run(shell("rasttopnm $O | pnmtopnm > " + viaNetpbm, names)), 0);
            Rgb np;
            ASSERT_TRUE(readPeerPnm(viaNetpbm, &np, nullptr));
            EXPECT_EQ(compareRgb(ours, np), 0);
        } else {
            const std::string alpha = viaIm + ".a.pgm";
            ASSERT_EQ(run(shell(std::string(IM) + " $O -alpha extract -depth 16 pgm:" + alpha, names)), 0);
            Rgb a;
            ASSERT_TRUE(readPeerPnm(alpha, &a, nullptr));
            EXPECT_EQ(compareRgb(alphaOf(img), a), 0);
        }
    }
}

TEST(RasReader, CorpusFiles) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/ras/";
    const std::vector<std::pair<const char*, uint16_t>> files = {
        {"32bpp.ras", IMG_RGB32},          {"hopper.ras", IMG_RGB},         {"input.im8", IMG_PALETTE},
        {"lena-1bit-rle.sun", IMG_BINARY}, {"lena-8bit-rle.sun", IMG_PALETTE}, {"sunraster.im1", IMG_BINARY},
    };
    std::vector<uint8_t> probe;
    if (!readFile(dir + files[0].first, &probe)) GTEST_SKIP() << "corpus missing";
    if (!havePeers()) GTEST_SKIP() << "netpbm or ImageMagick missing";
    for (const auto& f : files) {
        SCOPED_TRACE(f.first);
        std::string path = dir + f.first;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        EXPECT_EQ(img.kind, f.second);
        std::string peer = std::string(IM) + " " + path + " -depth 16 ppm:";
        if (std::string(f.first) == "lena-1bit-rle.sun") {
            // Its length field holds the decoded size, which both peers take for
            // the encoded one and refuse; with the encoded length netpbm reads it.
            std::vector<uint8_t> b;
            ASSERT_TRUE(readFile(path, &b));
            const uint32_t encoded = static_cast<uint32_t>(b.size() - 32);
            for (int i = 0; i < 4; ++i) b[16 + i] = static_cast<uint8_t>(encoded >> (24 - 8 * i));
            path = tempPath("lena1.ras");
            ASSERT_TRUE(writeFile(path, b));
            peer = "rasttopnm " + path + " 2>/dev/null | pnmtopnm > ";
        }
        const std::string ref = tempPath(std::string(f.first) + ".ppm");
        ASSERT_EQ(run(peer + ref), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

}  // namespace
