// Photo CD image packs: hand-made packs pin down the three resolutions, the
// PhotoYCC conversion and the refusals; packs written by ImageMagick and the
// sample pack give the pixels of the samples ImageMagick reads from them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

const char IM[] = "convert-im6.q16";

struct Level {
    int width, height;
    size_t offset;
};
// Base/16, Base/4, Base.
const Level LEVELS[3] = {{192, 128, 8192}, {384, 256, 47104}, {768, 512, 196608}};

// Luma and chroma planes of one resolution, full size for luma and half
// width, half height for chroma, as the pack stores them.
struct Ycc {
    int width = 0, height = 0;
    Bytes y, c1, c2;
};

Ycc yccPattern(int w, int h, int seed) {
    Ycc p;
    p.width = w;
    p.height = h;
    p.y.resize(static_cast<size_t>(w) * h);
    p.c1.resize(static_cast<size_t>(w / 2) * (h / 2));
    p.c2.resize(p.c1.size());
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) p.y[static_cast<size_t>(r) * w + x] = static_cast<uint8_t>((x * 7 + r * 3 + seed) & 0xFF);
    for (size_t i = 0; i < p.c1.size(); ++i) {
        p.c1[i] = static_cast<uint8_t>((i * 13 + seed) & 0xFF);
        p.c2[i] = static_cast<uint8_t>((i * 5 + 2 * seed) & 0xFF);
    }
    return p;
}

// The rows of one resolution in the pack's order: two luma rows, then the
// chroma-1 and chroma-2 rows they share.
Bytes packRows(const Ycc& p) {
    Bytes out;
    const size_t w = static_cast<size_t>(p.width), half = w / 2;
    for (int k = 0; k < p.height / 2; ++k) {
        out.insert(out.end(), p.y.begin() + static_cast<long>(2 * k * w), p.y.begin() + static_cast<long>((2 * k + 2) * w));
        out.insert(out.end(), p.c1.begin() + static_cast<long>(k * half), p.c1.begin() + static_cast<long>((k + 1) * half));
        out.insert(out.end(), p.c2.begin() + static_cast<long>(k * half), p.c2.begin() + static_cast<long>((k + 1) * half));
    }
    return out;
}

// A pack holding the three resolutions, signed the image pack's way or the
// overview pack's way.
Bytes makePack(const Ycc (&levels)[3], bool overview) {
    Bytes f(LEVELS[2].offset + packRows(levels[2]).size(), 0xFF);
    const char* sig = overview ? "PCD_OPA" : "PCD_IPI";
    std::copy(sig, sig + 7, f.begin() + (overview ? 0 : 2048));
    for (int i = 0; i < 3; ++i) {
        const Bytes rows = packRows(levels[i]);
        std::copy(rows.begin(), rows.end(), f.begin() + static_cast<long>(LEVELS[i].offset));
    }
    return f;
}

uint8_t clampTrunc(double v) { return v <= 0 ? 0 : v >= 255 ? 255 : static_cast<uint8_t>(std::trunc(v)); }

// The PhotoYCC conversion, pixel by pixel.
Rgb expectedRgb(const Ycc& p) {
    Rgb out;
    out.width = p.width;
    out.height = p.height;
    for (int r = 0; r < p.height; ++r)
        for (int x = 0; x < p.width; ++x) {
            const double y = p.y[static_cast<size_t>(r) * p.width + x];
            const size_t ci = static_cast<size_t>(r / 2) * (p.width / 2) + x / 2;
            const double c1 = p.c1[ci] - 156.0, c2 = p.c2[ci] - 137.0;
            out.pixels.push_back(clampTrunc(1.407488 * y + 1.3230336 * c2));
            out.pixels.push_back(clampTrunc(1.407488 * y - 0.3954176 * c1 - 0.67392 * c2));
            out.pixels.push_back(clampTrunc(1.407488 * y + 2.0360448 * c1));
        }
    return out;
}

Status loadPcd(const Bytes& file, int parameter, Image* img, uint16_t flags = 0) {
    static int counter = 0;
    const std::string path = tempPath("pack" + std::to_string(counter++) + ".pcd");
    if (!writeFile(path, file)) return ST_CANNOT_OPEN;
    freeImage(img);
    IoOptions o = defaultIoOptions();
    o.flags = flags;
    o.readerParameter1 = static_cast<int16_t>(parameter);
    return loadImage(path.c_str(), img, &o, nullptr);
}

// The Y, C1, C2 samples ImageMagick reads from one resolution of a pack.
bool imYccSamples(const std::string& pcd, const Level& level, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("impcd" + std::to_string(counter++) + ".ppm");
    const std::string size = std::to_string(level.width) + "x" + std::to_string(level.height);
    if (run(shell("IM -size SIZE pcds:IN -depth 8 OUT", {{"IM", IM}, {"SIZE", size}, {"IN", pcd}, {"OUT", ppm}})) != 0)
        return false;
    unsigned maxval = 0;
    return readPeerPnm(ppm, out, &maxval);
}

}  // namespace

TEST(PhotoCdReader, ResolutionsByParameter) {
    const Ycc levels[3] = {yccPattern(192, 128, 1), yccPattern(384, 256, 2), yccPattern(768, 512, 3)};
    const Bytes pack = makePack(levels, false), overview = makePack(levels, true);
    const struct {
        const char* name;
        const Bytes* file;
        int parameter;
        int level;
    } cases[] = {
        {"Base", &pack, 0, 2},         {"Base/4", &pack, 1, 1},     {"Base/16", &pack, 2, 0},
        {"parameter 5 is Base", &pack, 5, 2}, {"parameter -1 is Base", &pack, -1, 2},
        {"overview pack, Base/16", &overview, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(ST_OK, loadPcd(*c.file, c.parameter, &img));
        EXPECT_EQ(IMG_RGB, img.kind);
        EXPECT_EQ(0, compareRgb(toRgb(img), expectedRgb(levels[c.level])));
    }
}

TEST(PhotoCdReader, PhotoYccExtremes) {
    // Base/16 rows: the first pair black (Y 0 on neutral chroma), the second
    // pair Y 182 (256.16 before clamping), the rest the strongest chroma.
    Ycc p = yccPattern(192, 128, 0);
    std::fill(p.y.begin(), p.y.end(), 0);
    std::fill(p.c1.begin(), p.c1.end(), 156);
    std::fill(p.c2.begin(), p.c2.end(), 137);
    std::fill(p.y.begin() + 2 * 192, p.y.begin() + 4 * 192, 182);
    for (size_t i = 2 * 96; i < p.c1.size(); ++i) p.c1[i] = i % 2 ? 255 : 0, p.c2[i] = i % 3 ? 0 : 255;
    const Ycc levels[3] = {p, yccPattern(384, 256, 0), yccPattern(768, 512, 0)};
    OwnedImage img;
    ASSERT_EQ(ST_OK, loadPcd(makePack(levels, false), 2, &img));
    const Rgb got = toRgb(img);
    EXPECT_EQ(0, compareRgb(got, expectedRgb(p)));
    for (int x : {0, 191}) {
        SCOPED_TRACE(x);
        for (int ch = 0; ch < 3; ++ch) {
            EXPECT_EQ(0, got.pixels[3 * x + ch]);                       // row 0 black
            EXPECT_EQ(255, got.pixels[3 * (2 * 192 + x) + ch]);         // row 2 clamped white
        }
    }
}

TEST(PhotoCdReader, RefusalsAndCuts) {
    const Ycc levels[3] = {yccPattern(192, 128, 4), yccPattern(384, 256, 5), yccPattern(768, 512, 6)};
    const Bytes pack = makePack(levels, false);
    Bytes unsigned_ = pack;
    unsigned_[2048] = 'X';
    // Cut after 100 pairs of Base rows and half of the next pair.
    const size_t pairBytes = 3 * 768;
    const Bytes cutBase(pack.begin(), pack.begin() + static_cast<long>(LEVELS[2].offset + 100 * pairBytes + pairBytes / 2));
    const Bytes head(pack.begin(), pack.begin() + 3839);
    const struct {
        const char* name;
        Bytes file;
        int parameter;
        Status status;
        int rows;  // rows kept when the damage is accepted
    } cases[] = {
        {"no signature", unsigned_, 0, ST_UNKNOWN_FORMAT, 0},
        {"shorter than its information sector", head, 2, ST_UNKNOWN_FORMAT, 0},
        {"cut inside Base", cutBase, 0, ST_READ_ERROR, 200},
        {"cut before Base", Bytes(pack.begin(), pack.begin() + 100000), 0, ST_READ_ERROR, 0},
        {"Base/4 whole in a cut pack", cutBase, 1, ST_OK, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadPcd(c.file, c.parameter, &img));
        if (c.rows == 0) continue;
        ASSERT_EQ(ST_OK, loadPcd(c.file, c.parameter, &img, OPT_ACCEPT_DAMAGED));
        const Level& level = LEVELS[c.parameter == 1 ? 1 : 2];
        Rgb want = expectedRgb(levels[c.parameter == 1 ? 1 : 2]);
        Rgb got = toRgb(img);
        ASSERT_EQ(level.height, got.height);
        const size_t kept = static_cast<size_t>(c.rows) * level.width * 3;
        EXPECT_TRUE(std::equal(got.pixels.begin(), got.pixels.begin() + static_cast<long>(kept), want.pixels.begin()));
    }
}

// Packs that ImageMagick writes from a picture, and the sample pack, read at
// every resolution. ImageMagick's sRGB decode uses its own YCC conversion (a
// luma scale of 1.3584 and a highlight curve), so the comparison is made on
// the YCC samples it reads ("pcds:" keeps them): its luma everywhere and its
// chroma at even columns of even rows, where it holds the stored samples
// (elsewhere it interpolates), converted here as a pack is converted.
TEST(PhotoCdReader, AgreesWithImageMagick) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    std::vector<std::string> packs;
    const std::string src = tempPath("pcdsrc.ppm"), written = tempPath("pcdim.pcd");
    ASSERT_TRUE(writeFile(src, patternP6(768, 512)));
    ASSERT_EQ(0, run(shell("IM SRC OUT", {{"IM", IM}, {"SRC", src}, {"OUT", written}})));
    packs.push_back(written);
    if (corpusPresent()) packs.push_back(std::string(KALEO_CORPUS_DIR) + "/pcd/hopper.pcd");
    for (const std::string& pcd : packs) {
        Bytes bytes;
        ASSERT_TRUE(readFile(pcd, &bytes));
        for (int parameter : {2, 1, 0}) {
            SCOPED_TRACE(pcd + " parameter " + std::to_string(parameter));
            const Level& level = LEVELS[2 - parameter];
            Rgb samples;
            ASSERT_TRUE(imYccSamples(pcd, level, &samples));
            ASSERT_EQ(level.width, samples.width);
            ASSERT_EQ(level.height, samples.height);
            Ycc ycc;
            ycc.width = level.width;
            ycc.height = level.height;
            for (int y = 0; y < level.height; ++y)
                for (int x = 0; x < level.width; ++x) {
                    const uint8_t* p = &samples.pixels[3 * (static_cast<size_t>(y) * level.width + x)];
                    ycc.y.push_back(p[0]);
                    if (x % 2 == 0 && y % 2 == 0) ycc.c1.push_back(p[1]), ycc.c2.push_back(p[2]);
                }
            OwnedImage img;
            ASSERT_EQ(ST_OK, loadPcd(bytes, parameter, &img));
            EXPECT_EQ(0, compareRgb(toRgb(img), expectedRgb(ycc)));
        }
    }
}

// kaleocmd's -npcd reaches the reader: the resolution converted is the one asked.
TEST(PhotoCdReader, KaleocmdResolutionOption) {
    const Ycc levels[3] = {yccPattern(192, 128, 7), yccPattern(384, 256, 8), yccPattern(768, 512, 9)};
    const std::string pcd = tempPath("cmdpack.pcd");
    ASSERT_TRUE(writeFile(pcd, makePack(levels, false)));
    for (int parameter : {0, 1, 2}) {
        SCOPED_TRACE(parameter);
        const std::string out = tempPath("cmdpack" + std::to_string(parameter) + ".ppm");
        const std::string cmd = std::string(KALEO_BUILD_DIR) + "/kaleocmd -npcd " + std::to_string(parameter);
        ASSERT_EQ(0, run(shell("CMD IN -o OUT", {{"CMD", cmd}, {"IN", pcd}, {"OUT", out}})));
        Rgb got;
        ASSERT_TRUE(readPnmReference(out, &got));
        EXPECT_EQ(0, compareRgb(got, expectedRgb(levels[2 - parameter])));
    }
}
