// Spectrum 512: the corpus files decode to the pixels of netpbm's sputoppm and
// spctoppm; one hand-made picture stored in the three forms decodes the same
// from each (and as netpbm reads the plain and compressed ones); the palette
// choice along a row and the black top row are pinned down; the compressed
// and smooshed forms, which share a header, do not take each other's files.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;
using IndexOf = std::function<int(int x, int y)>;
using WordOf = std::function<unsigned(int y, int entry)>;  // entry 0..47 of row y (1..199)


bool peerDecode(const std::string& tool, const std::string& in, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("spectrum" + std::to_string(counter++) + ".ppm");
    if (run(shell("TOOL < IN > OUT", {{"TOOL", tool}, {"IN", in}, {"OUT", ppm}})) != 0) return false;
    unsigned maxval = 0;
    return readPeerPnm(ppm, out, &maxval);
}

void put16(Bytes* b, unsigned v) {
    b->push_back(static_cast<uint8_t>(v >> 8));
    b->push_back(static_cast<uint8_t>(v));
}
void put32(Bytes* b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// Row y (0..199) as four line-planar planes of 40 bytes.
Bytes planarRow(const IndexOf& index, int y) {
    Bytes row(160, 0);
    for (int x = 0; x < 320; ++x)
        for (int p = 0; p < 4; ++p)
            if ((index(x, y) >> p) & 1) row[p * 40 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    return row;
}

Bytes spuFile(const IndexOf& index, const WordOf& word) {
    Bytes b;
    for (int y = 0; y < 200; ++y) {
        const Bytes row = planarRow(index, y);
        for (int g = 0; g < 20; ++g)
            for (int p = 0; p < 4; ++p) b.insert(b.end(), {row[p * 40 + 2 * g], row[p * 40 + 2 * g + 1]});
    }
    for (int y = 1; y < 200; ++y)
        for (int e = 0; e < 48; ++e) put16(&b, word(y, e));
    return b;
}

// Compressed screen codes: runs of three or more equal bytes (k < 0), literals otherwise.
Bytes spcPack(const Bytes& in) {
    Bytes out;
    size_t i = 0;
    while (i < in.size()) {
        size_t run = 1;
        while (i + run < in.size() && in[i + run] == in[i] && run < 130) ++run;
        if (run >= 3) {
            out.insert(out.end(), {static_cast<uint8_t>(static_cast<int8_t>(2 - static_cast<int>(run))), in[i]});
            i += run;
            continue;
        }
        const size_t n = std::min<size_t>(in.size() - i, 128);
        out.push_back(static_cast<uint8_t>(n - 1));
        out.insert(out.end(), in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(i + n));
        i += n;
    }
    return out;
}

Bytes spcFile(const IndexOf& index, const WordOf& word) {
    Bytes planes;
    for (int p = 0; p < 4; ++p)
        for (int y = 1; y < 200; ++y) {
            const Bytes row = planarRow(index, y);
            planes.insert(planes.end(), row.begin() + p * 40, row.begin() + p * 40 + 40);
        }
    Bytes data = spcPack(planes), palettes;
    if (data.size() % 2) data.push_back(0);  // the writer's padding to a word
    for (int y = 1; y < 200; ++y)
        for (int k = 0; k < 3; ++k) {
            unsigned mask = 0;
            for (int j = 0; j < 16; ++j)
                if (word(y, 16 * k + j)) mask |= 1u << j;
            put16(&palettes, mask);
            for (int j = 0; j < 16; ++j)
                if (mask & (1u << j)) put16(&palettes, word(y, 16 * k + j));
        }
    Bytes b = {'S', 'P', 0, 0};
    put32(&b, static_cast<uint32_t>(data.size()));
    put32(&b, static_cast<uint32_t>(palettes.size()));
    b.insert(b.end(), data.begin(), data.end());
    b.insert(b.end(), palettes.begin(), palettes.end());
    return b;
}

struct BitWriter {
    Bytes out;
    int used = 0;
    void put(unsigned v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (used % 8 == 0) out.push_back(0);
            if ((v >> i) & 1) out.back() |= static_cast<uint8_t>(0x80 >> (used % 8));
            ++used;
        }
    }
};

// Smooshed: bytes down the byte columns of rows 1 to 199, runs k >= 0 of
// k + 3, literals k < 0 of 129 + k; palettes as a bit stream.
Bytes spsFile(const IndexOf& index, const WordOf& word) {
    Bytes columns;
    std::vector<Bytes> rows;
    for (int y = 1; y < 200; ++y) rows.push_back(planarRow(index, y));
    for (int c = 0; c < 160; ++c)
        for (int y = 0; y < 199; ++y) columns.push_back(rows[y][c]);
    Bytes data;
    size_t i = 0;
    while (i < columns.size()) {
        size_t run = 1;
        while (i + run < columns.size() && columns[i + run] == columns[i] && run < 130) ++run;
        if (run >= 3) {
            data.insert(data.end(), {static_cast<uint8_t>(run - 3), columns[i]});
            i += run;
            continue;
        }
        const size_t n = std::min<size_t>(columns.size() - i, 128);
        data.push_back(static_cast<uint8_t>(static_cast<int8_t>(static_cast<int>(n) - 129)));
        data.insert(data.end(), columns.begin() + static_cast<long>(i), columns.begin() + static_cast<long>(i + n));
        i += n;
    }
    BitWriter bits;
    for (int y = 1; y < 200; ++y)
        for (int k = 0; k < 3; ++k) {
            unsigned mask = 0;
            for (int j = 1; j <= 14; ++j)
                if (word(y, 16 * k + j)) mask |= 1u << (14 - j);
            bits.put(mask, 14);
            for (int j = 1; j <= 14; ++j) {
                if (!(mask & (1u << (14 - j)))) continue;
                const unsigned w = word(y, 16 * k + j);
                bits.put(((w >> 8) & 7) << 6 | ((w >> 4) & 7) << 3 | (w & 7), 9);
            }
        }
    Bytes b = {'S', 'P', 0, 0};
    put32(&b, static_cast<uint32_t>(data.size()));
    put32(&b, static_cast<uint32_t>(bits.out.size()));
    b.insert(b.end(), data.begin(), data.end());
    b.insert(b.end(), bits.out.begin(), bits.out.end());
    return b;
}

// Indices 0 to 15 in bands; entries 0 and 15 of every palette black, as the
// smooshed form has them.
int bandIndex(int x, int y) { return (x / 7 + y / 3) % 16; }
unsigned varyingWord(int y, int e) {
    if (e % 16 == 0 || e % 16 == 15) return 0;
    return static_cast<unsigned>(((y + e) % 8) << 8 | ((y * 3 + e) % 8) << 4 | ((e * 5 + y / 9) % 8));
}

TEST(SpectrumReaders, CorpusFilesMatchNetpbm) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    struct Case {
        std::string file, peer;
    } cases[] = {{corpusPath("spu/APPLE.SPU"), "sputoppm"}, {corpusPath("spc/APPLE.SPC"), "spctoppm"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (!haveProgram(c.peer)) GTEST_SKIP() << "netpbm missing";
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(c.file, &img));
        EXPECT_EQ(320, img.width);
        EXPECT_EQ(200, img.height);
        Rgb want;
        ASSERT_TRUE(peerDecode(c.peer, c.file, &want));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

TEST(SpectrumReaders, OnePictureInThreeFormsDecodesAlike) {
    const Bytes spu = spuFile(bandIndex, varyingWord);
    OwnedImage reference;
    ASSERT_EQ(ST_OK, loadBytesAs("spu", spu, &reference));
    const std::string spuPath = tempPath("hand.spu"), spcPath = tempPath("hand.spc");
    ASSERT_TRUE(writeFile(spuPath, spu));
    ASSERT_TRUE(writeFile(spcPath, spcFile(bandIndex, varyingWord)));
    struct Case {
        const char* format;
        Bytes file;
        const char* peer;
        std::string path;
    } cases[] = {
        {"spu", spu, "sputoppm", spuPath},
        {"spc", spcFile(bandIndex, varyingWord), "spctoppm", spcPath},
        {"sps", spsFile(bandIndex, varyingWord), nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        OwnedImage img;
        ASSERT_EQ(ST_OK, loadBytesAs(c.format, c.file, &img));
        EXPECT_EQ(0, compareRgb(toRgb(reference), toRgb(img)));
        if (c.peer && haveProgram(c.peer)) {
            Rgb want;
            ASSERT_TRUE(peerDecode(c.peer, c.path, &want));
            EXPECT_EQ(0, compareRgb(toRgb(img), want));
        }
    }
}

TEST(SpectrumReaders, PaletteChoiceAlongARow) {
    // Row 1 all index 2 (b = 21), row 2 all index 1 (b = 5); in every row the
    // first palette red, the second green, the third blue (entries 0 and 15,
    // which the compressed form leaves out, black); row 0 has no words.
    auto index = [](int, int y) { return y == 2 ? 1 : 2; };
    auto word = [](int, int e) -> unsigned {
        if (e % 16 == 0 || e % 16 == 15) return 0;
        return e < 16 ? 0x0700 : e < 32 ? 0x0070 : 0x0007;
    };
    const std::vector<int> red = {255, 0, 0}, green = {0, 255, 0}, blue = {0, 0, 255}, black = {0, 0, 0};
    struct Case {
        int x, y;
        std::vector<int> colour;
    } cases[] = {
        {0, 0, black},   {319, 0, black}, {20, 1, red},    {21, 1, green},  {180, 1, green},
        {181, 1, blue},  {4, 2, red},     {5, 2, green},   {164, 2, green}, {165, 2, blue},
    };
    for (const char* format : {"spu", "spc", "sps"}) {
        OwnedImage img;
        const std::string f = format;
        const Bytes file = f == "spu" ? spuFile(index, word) : f == "spc" ? spcFile(index, word) : spsFile(index, word);
        ASSERT_EQ(ST_OK, loadBytesAs(format, file, &img));
        const Rgb rgb = toRgb(img);
        for (const Case& c : cases) {
            SCOPED_TRACE(f + " x " + std::to_string(c.x) + " y " + std::to_string(c.y));
            const uint8_t* p = &rgb.pixels[3 * (static_cast<size_t>(c.y) * 320 + c.x)];
            EXPECT_EQ(c.colour, (std::vector<int>{p[0], p[1], p[2]}));
        }
    }
}

TEST(SpectrumReaders, DamagedAndForeignFiles) {
    const Bytes spc = spcFile(bandIndex, varyingWord), sps = spsFile(bandIndex, varyingWord);
    Bytes zeroWord = spc;
    zeroWord[3] = 1;
    Bytes longData = spc;
    longData[4] = 0x7F;  // a data length past 32092
    const Bytes spu = spuFile(bandIndex, varyingWord);
    struct Case {
        const char* name;
        const char* format;
        Bytes file;
        Status status;
    } cases[] = {
        {"smooshed file offered as compressed", "spc", sps, ST_UNKNOWN_FORMAT},
        {"compressed file offered as smooshed", "sps", spc, ST_UNKNOWN_FORMAT},
        {"compressed header word not zero", "spc", zeroWord, ST_UNKNOWN_FORMAT},
        {"compressed data length out of range", "spc", longData, ST_UNKNOWN_FORMAT},
        {"compressed cut in its screen data", "spc", Bytes(spc.begin(), spc.begin() + 2000), ST_READ_ERROR},
        {"smooshed cut in its palettes", "sps", Bytes(sps.begin(), sps.end() - 100), ST_READ_ERROR},
        {"smooshed cut in its screen data", "sps", Bytes(sps.begin(), sps.begin() + 2000), ST_READ_ERROR},
        {"plain one byte short", "spu", Bytes(spu.begin() + 1, spu.end()), ST_UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        EXPECT_EQ(c.status, loadBytesAs(c.format, c.file, &img));
    }
}

}  // namespace
