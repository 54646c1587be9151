// Palm image databases: hand-built files pin down the record entries, the run
// coding and the refusals; databases written by netpbm (and the corpus)
// decode to the pixels netpbm reads, and netpbm reads ours back.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using testpictures::makeUpright;

const auto put16 = putBE16;
const auto put32 = putBE32;

struct PalmFile {
    uint16_t width = 8, height = 1;
    uint8_t version = 0, type = 0xFF;
    int records = 1;
    bool filler = false;
    uint8_t attributes = 0x40;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> buildPalm(const PalmFile& p) {
    std::vector<uint8_t> f(32, 0);
    f.resize(60, 0);
    const char tc[] = "vIMGView";
    f.insert(f.end(), tc, tc + 8);
    put32(&f, 0);
    put32(&f, 0);
    put16(&f, static_cast<uint32_t>(p.records));
    for (int i = 0; i < p.records; ++i) {
        const uint32_t at = static_cast<uint32_t>(f.size());
        put32(&f, p.filler ? at + 10 : at + 8);
        f.push_back(p.attributes);
        f.push_back(0x6F);
        f.push_back(0x80);
        f.push_back(static_cast<uint8_t>(i & 1));
        if (p.filler) {
            f.push_back(0xEE);
            f.push_back(0xEE);
        }
    }
    f.resize(f.size() + 32, 0);
    f.push_back(p.version);
    f.push_back(p.type);
    f.resize(f.size() + 20, 0);  // reserved, note, last position, reserved, anchor
    put16(&f, p.width);
    put16(&f, p.height);
    f.insert(f.end(), p.data.begin(), p.data.end());
    return f;
}

template <typename F>
PalmFile palm(F change) {
    PalmFile p;
    change(&p);
    return p;
}

struct HandCase {
    const char* name;
    PalmFile file;
    Status status;
    uint16_t kind;
    std::vector<uint8_t> pixels;
    const char* message = nullptr;
};

TEST(PalmReader, HandBuiltFiles) {
    const std::vector<HandCase> cases = {
        {"1 bit, a set bit black, 16-bit rows", palm([](PalmFile* p) {
             p->width = 3;
             p->height = 2;
             p->data = {0xA0, 0, 0x40, 0};
         }), ST_OK, IMG_BINARY, {0, 1, 0, 1, 0, 1}},
        {"2 bits, 0 white and 3 black", palm([](PalmFile* p) {
             p->width = 4;
             p->type = 0;
             p->data = {0x1B, 0};
         }), ST_OK, IMG_GREY, {3, 2, 1, 0}},
        {"two records and filler bytes", palm([](PalmFile* p) {
             p->width = 2;
             p->records = 2;
             p->filler = true;
             p->data = {0x40, 0};
         }), ST_OK, IMG_BINARY, {1, 0}},
        {"runs and literals across rows", palm([](PalmFile* p) {
             p->width = 16;
             p->height = 3;
             p->version = 1;
             p->data = {0x82, 0xFF, 0x02, 0x00, 0xF0, 0x0F};
         }), ST_OK, IMG_BINARY, [] {
             std::vector<uint8_t> v(48, 0);  // black, then white from the middle, then white inside
             for (int x = 8; x < 16; ++x) v[16 + x] = 1;
             for (int x = 4; x < 12; ++x) v[32 + x] = 1;
             return v;
         }()},
        {"plain rows cut", palm([](PalmFile* p) {
             p->width = 8;
             p->height = 2;
             p->data = {0xFF, 0};
         }), ST_READ_ERROR, IMG_BINARY, {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"coded rows cut inside a literal", palm([](PalmFile* p) {
             p->width = 16;
             p->height = 1;
             p->version = 1;
             p->data = {0x01, 0x0F};
         }), ST_READ_ERROR, IMG_BINARY, {1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"version 2", palm([](PalmFile* p) {
             p->version = 2;
             p->data = {0, 0};
         }), ST_BAD_FILE, 0, {}, "PDB : Bad version !"},
        {"type 1", palm([](PalmFile* p) {
             p->type = 1;
             p->data = {0, 0};
         }), ST_BAD_FILE, 0, {}, "PDB : Bad type !"},
        {"entry attributes 0", palm([](PalmFile* p) {
             p->attributes = 0;
             p->data = {0, 0};
         }), ST_UNKNOWN_FORMAT, 0, {}},
        {"no records", palm([](PalmFile* p) {
             p->records = 0;
             p->data = {0, 0};
         }), ST_UNKNOWN_FORMAT, 0, {}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = buildPalm(c.file);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("palm", bytes, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs("palm", bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

bool havePeers() { return haveProgram("pamtopdbimg") && haveProgram("pdbimgtopam"); }

// netpbm's decode of a database as R,G,B triplets.
bool netpbmDecode(const std::string& path, Rgb* out) {
    const std::string ref = path + ".ppm";
    return run("pdbimgtopam " + path + " | pamtopnm | pnmtopnm > " + ref) == 0 && readPeerPnm(ref, out, nullptr);
}

TEST(PalmReader, PeerAndCorpusFilesDecodeToNetpbmsPixels) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!havePeers()) GTEST_SKIP() << "netpbm missing";
    const std::string src = tempPath("palm_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(53, 31)));
    const struct {
        const char* name;
        const char* make;  // $S a P6 picture, $O the database
        uint16_t kind;
        const char* format;
    } cases[] = {
        {"1 bit plain", "ppmtopgm $S | pamthreshold -simple | pamtopnm | pamtopdbimg -uncompressed > $O", IMG_BINARY,
         "Palm Pilot Image"},
        {"1 bit coded", "ppmtopgm $S | pamthreshold -simple | pamtopnm | pamtopdbimg -compressed > $O", IMG_BINARY,
         "Palm Pilot Image (RLE)"},
        {"4 greys plain", "ppmtopgm $S | pnmdepth 3 | pamtopdbimg -uncompressed > $O", IMG_GREY, "Palm Pilot Image"},
        {"4 greys coded", "ppmtopgm $S | pnmdepth 3 | pamtopdbimg -compressed > $O", IMG_GREY,
         "Palm Pilot Image (RLE)"},
        {"corpus 4 greys", "cp " KALEO_CORPUS_DIR "/palm/hopper_gray4.pdb $O", IMG_GREY, "Palm Pilot Image"},
        {"corpus 4 greys coded", "cp " KALEO_CORPUS_DIR "/palm/hopper_rle.pdb $O", IMG_GREY,
         "Palm Pilot Image (RLE)"},
        {"corpus 1 bit", "cp " KALEO_CORPUS_DIR "/palm/input_mono.pdb $O", IMG_BINARY, "Palm Pilot Image"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("peer" + std::to_string(n++) + ".pdb");
        if (run(shell(c.make, {{"$S", src}, {"$O", out}})) != 0) {
            ADD_FAILURE() << "could not make " << out;
            continue;
        }
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(out, &img, 0, &info), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_STREQ(info.formatName, c.format);
        Rgb np;
        ASSERT_TRUE(netpbmDecode(out, &np));
        EXPECT_EQ(compareRgb(toRgb(img), np), 0);
    }
}

TEST(PalmWriter, RoundTripsAndNetpbmReadsIt) {
    const struct {
        const char* name;
        uint16_t kind;
        int colours;
        Status status;
    } cases[] = {
        {"black and white", IMG_BINARY, 2, ST_OK},
        {"4 greys", IMG_GREY, 4, ST_OK},
        {"2 greys", IMG_GREY, 2, ST_OK},
        {"5 greys are refused", IMG_GREY, 5, ST_KIND_REFUSED},
        {"a palette is refused", IMG_PALETTE, 4, ST_KIND_REFUSED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img, back;
        // netpbm reads rows of width / 8 (or / 4) bytes: a width of whole words.
        ASSERT_TRUE(makeUpright(&img, c.kind, 32, 9, [&](int x, int y, int) {
            return static_cast<uint8_t>((x + 2 * y) % c.colours);
        }));
        img.colours = c.colours;
        const std::string path = tempPath(std::string("w_") + std::to_string(c.kind) + "_" +
                                          std::to_string(c.colours) + ".pdb");
        ASSERT_EQ(saveAs(&img, path, "palm"), c.status);
        if (c.status != ST_OK) continue;
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
        std::vector<uint8_t> b;
        ASSERT_TRUE(readFile(path, &b));
        EXPECT_EQ(b.size(), 78u + 8 + 58 + 9 * (c.kind == IMG_BINARY ? 4 : 8));
        if (!havePeers()) continue;
        Rgb np;
        ASSERT_TRUE(netpbmDecode(path, &np));
        EXPECT_EQ(compareRgb(np, toRgb(img)), 0);
    }
}

}  // namespace
