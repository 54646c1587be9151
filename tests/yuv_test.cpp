// Headerless YUV and raw readers, the HRZ reader and the UYVY writers:
// hand-made files pin down the conversions, the row orders and the geometry
// checks; files written by ImageMagick (uyvy:, yuv:, gray:, rgb:, bgr:, rgba:,
// cmyk:, hrz:) and the corpus decode as ImageMagick reads them; our UYVY files
// read back through our readers and through ImageMagick.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

struct Geometry {
    int32_t width, height, offset;
    int16_t type = 0;   // raw channel type: 0 grey, 1 RGB, 2 BGR, 3 RGBA, 4 ABGR, 5 CMY, 6 CMYK
    int16_t order = 0;  // 0 interleaved, 1 row separate, 2 plane separate
};

Status loadRaw(const char* format, const std::string& path, const Geometry& g, Image* img) {
    freeImage(img);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat(format));
    o.rawWidth = g.width;
    o.rawHeight = g.height;
    o.rawOffset = g.offset;
    o.rawLayout = g.type;
    o.rawParameter = g.order;
    return loadImage(path.c_str(), img, &o, nullptr);
}

Status loadRawBytes(const char* format, const std::vector<uint8_t>& bytes, const Geometry& g, Image* img) {
    static int counter = 0;
    const std::string path = tempPath("raw" + std::to_string(counter++) + ".bin");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    return loadRaw(format, path, g, img);
}

std::vector<uint8_t> grey(std::initializer_list<uint8_t> v) {
    std::vector<uint8_t> out;
    for (uint8_t x : v) out.insert(out.end(), {x, x, x});
    return out;
}

TEST(YuvRawReaders, HandMadeFiles) {
    struct Case {
        const char* name;
        const char* format;
        std::vector<uint8_t> bytes;
        Geometry g;
        Status status;
        std::vector<uint8_t> rgb;  // expected R,G,B triplets
    };
    // Planar YUV: the fixed conversion, truncated toward zero and clamped.
    auto planar = [](int y, int u, int v) {
        auto c = [](double x) { return static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : static_cast<int>(x)); };
        return std::vector<uint8_t>{c(y + 1.1398 * (v - 128)), c(y - 0.336453 * (u - 128) - 0.698195 * (v - 128)),
                                    c(y + 1.732445 * (u - 128))};
    };
    std::vector<uint8_t> p422;
    for (int i = 0; i < 4; ++i) {
        const auto px = planar(100 + i, i < 2 ? 90 : 170, i < 2 ? 200 : 60);
        p422.insert(p422.end(), px.begin(), px.end());
    }
    const std::vector<Case> cases = {
        {"UYVY white and black", "uyvyi", {128, 235, 128, 16}, {2, 1, 0}, ST_OK, grey({255, 0})},
        {"UYVY after an offset", "uyvyi", {9, 9, 128, 235, 128, 16}, {2, 1, 2}, ST_OK, grey({255, 0})},
        {"UYVY, size not matching", "uyvyi", {128, 235, 128, 16, 0}, {2, 1, 0}, ST_UNKNOWN_FORMAT, {}},
        {"UYVY, odd width", "uyvyi", {128, 235, 128, 16, 128, 235}, {3, 1, 0}, ST_OK, grey({255, 0, 255})},
        {"de-interlaced UYVY, even rows first", "uyvy",
         {128, 16, 128, 16, 128, 235, 128, 235, 128, 126, 128, 126}, {2, 3, 0}, ST_OK,
         grey({0, 0, 128, 128, 255, 255})},
        {"YUV 4:2:2, shared chroma", "yuv422", {100, 101, 102, 103, 90, 170, 200, 60}, {4, 1, 0}, ST_OK, p422},
        {"YUV 4:4:4, size not matching", "yuv444", {1, 2, 3}, {2, 1, 0}, ST_UNKNOWN_FORMAT, {}},
        {"raw grey", "raw", {1, 2, 3, 4}, {2, 2, 0}, ST_OK, grey({1, 2, 3, 4})},
        {"raw grey after an offset", "raw", {0, 0, 0, 7, 8}, {2, 1, 3}, ST_OK, grey({7, 8})},
        {"raw grey cut short", "raw", {1, 2, 3}, {2, 2, 0}, ST_READ_ERROR, {}},
        {"raw RGB interleaved", "raw", {1, 2, 3, 4, 5, 6}, {2, 1, 0, 1, 0}, ST_OK, {1, 2, 3, 4, 5, 6}},
        {"raw RGB rows separate", "raw", {1, 4, 2, 5, 3, 6}, {2, 1, 0, 1, 1}, ST_OK, {1, 2, 3, 4, 5, 6}},
        {"raw RGB planes separate", "raw", {1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12}, {2, 2, 0, 1, 2}, ST_OK,
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
        {"raw BGR", "raw", {3, 2, 1}, {1, 1, 0, 2, 0}, ST_OK, {1, 2, 3}},
        {"raw BGR rows separate", "raw", {3, 2, 1}, {1, 1, 0, 2, 1}, ST_OK, {1, 2, 3}},
        {"raw CMY", "raw", {255, 0, 55}, {1, 1, 0, 5, 0}, ST_OK, {0, 255, 200}},
        {"raw ABGR rows separate", "raw", {9, 3, 2, 1}, {1, 1, 0, 4, 1}, ST_OK, {1, 2, 3}},
        {"raw CMYK rows separate, cyan", "raw", {255, 0, 0, 0}, {1, 1, 0, 6, 1}, ST_OK, {0, 255, 255}},
        {"raw CMYK, no ink", "raw", {0, 0, 0, 0, 255, 0, 0, 0}, {2, 1, 0, 6, 0}, ST_OK, {255, 255, 255, 0, 255, 255}},
        {"raw RGB planes cut short", "raw", {1, 4, 2, 5}, {2, 1, 0, 1, 2}, ST_READ_ERROR, {}},
        {"raw without a width", "raw", {1, 2}, {0, 1, 0}, ST_UNKNOWN_FORMAT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadRawBytes(c.format, c.bytes, c.g, &img), c.status);
        if (c.status == ST_OK) { EXPECT_EQ(toRgb(img).pixels, c.rgb); }
    }
}

TEST(HrzReader, SixBitValuesAndSize) {
    std::vector<uint8_t> f(184320, 0);
    f[0] = 63;
    f[1] = 32;
    OwnedImage img;
    ASSERT_EQ(loadBytesAs("hrz", f, &img), ST_OK);
    ASSERT_EQ(img.width, 256);
    ASSERT_EQ(img.height, 240);
    const Rgb rgb = toRgb(img);
    EXPECT_EQ(rgb.pixels[0], 255);
    EXPECT_EQ(rgb.pixels[1], 129);
    f.pop_back();
    EXPECT_EQ(loadBytesAs("hrz", f, &img), ST_UNKNOWN_FORMAT);
}

// A smooth picture (chroma subsampling and smoothing lose little of it).
std::vector<uint8_t> smoothP6(int w, int h) {
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> f(head.begin(), head.end());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f.insert(f.end(), {static_cast<uint8_t>(30 + 180 * x / w), static_cast<uint8_t>(200 - 150 * y / h),
                               static_cast<uint8_t>(90 + 60 * (x + y) / (w + h))});
    return f;
}

uint8_t clampTo(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v)); }

// ImageMagick's unpacking of a YUV file (its samples, shown without its own
// colour conversion) turned into R,G,B by the documented conversions: video
// range for packed UYVY, full range for planar YUV.
Rgb fromYuv(const Rgb& yuv, bool video) {
    Rgb out = yuv;
    for (size_t i = 0; i + 2 < yuv.pixels.size(); i += 3) {
        const double y = yuv.pixels[i], u = yuv.pixels[i + 1] - 128.0, v = yuv.pixels[i + 2] - 128.0;
        if (video) {
            const double yy = y > 15 ? (y - 16) * 76310 / 65536.0 : 0;
            out.pixels[i] = clampTo(yy + 104635 / 65536.0 * v);
            out.pixels[i + 1] = clampTo(yy - 53294 / 65536.0 * v - 25690 / 65536.0 * u);
            out.pixels[i + 2] = clampTo(yy + 132278 / 65536.0 * u);
        } else {
            out.pixels[i] = clampTo(y + 1.1398 * v);
            out.pixels[i + 1] = clampTo(y - 0.336453 * u - 0.698195 * v);
            out.pixels[i + 2] = clampTo(y + 1.732445 * u);
        }
    }
    return out;
}

// ImageMagick writes a file from a picture; we read it as ImageMagick does.
TEST(YuvRawReaders, FilesFromImageMagick) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const int w = 46, h = 30;
    const std::string src = tempPath("yuv_source.ppm"), smooth = tempPath("yuv_smooth.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(w, h)));
    ASSERT_TRUE(writeFile(smooth, smoothP6(w, h)));
    struct Case {
        const char* name;
        const char* format;
        const char* coder;   // ImageMagick's coder and options, both ways
        Geometry g;
        int tolerance;
        const char* make = "";
        int yuv = 0;         // 1: packed video-range YUV, 2: planar YUV (ImageMagick's samples converted here)
    };
    const std::vector<Case> cases = {
        {"gray", "raw", "-depth 8 gray", {w, h, 0, 0, 0}, 0},
        {"rgb", "raw", "-depth 8 rgb", {w, h, 0, 1, 0}, 0},
        {"rgb, lines", "raw", "-depth 8 -interlace line rgb", {w, h, 0, 1, 1}, 0},
        {"rgb, planes", "raw", "-depth 8 -interlace plane rgb", {w, h, 0, 1, 2}, 0},
        {"bgr", "raw", "-depth 8 bgr", {w, h, 0, 2, 0}, 0},
        {"rgba", "raw", "-depth 8 rgba", {w, h, 0, 3, 0}, 0, "-alpha opaque"},
        {"cmyk", "raw", "-depth 8 cmyk", {w, h, 0, 6, 0}, 1, "-colorspace cmyk"},
        {"cmyk, planes", "raw", "-depth 8 -interlace plane cmyk", {w, h, 0, 6, 2}, 1, "-colorspace cmyk"},
        {"uyvy", "uyvyi", "-depth 8 uyvy", {w, h, 0}, 1, "", 1},
        {"yuv 4:4:4", "yuv444", "-depth 8 -sampling-factor 1x1 -interlace plane yuv", {w, h, 0}, 1, "", 2},
        // ImageMagick interpolates the subsampled chroma, we repeat it.
        {"yuv 4:2:2", "yuv422", "-depth 8 -sampling-factor 4:2:2 -interlace plane yuv", {w, h, 0}, 6, "", 2},
        {"yuv 4:1:1 (2x2)", "yuv411", "-depth 8 -sampling-factor 2x2 -interlace plane yuv", {w, h, 0}, 8, "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = tempPath(std::string("im_") + std::to_string(&c - cases.data()) + ".bin");
        const std::string ref = file + ".ppm";
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        // ImageMagick's YUV writer reports failure after writing: the file is what counts.
        run(shell("$IM $S $M $C:$F", {{"$IM", IM}, {"$S", c.yuv ? smooth : src}, {"$M", c.make}, {"$C", c.coder},
                                      {"$F", file}}));
        ASSERT_EQ(run(shell("$IM -size $Z $C:$F $K -alpha off -depth 8 ppm:$R",
                            {{"$IM", IM}, {"$Z", size}, {"$C", c.coder}, {"$F", file},
                             {"$K", c.yuv ? "-set colorspace sRGB" : ""}, {"$R", ref}})),
                  0);
        OwnedImage img;
        ASSERT_EQ(loadRaw(c.format, file, c.g, &img), ST_OK);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        if (c.yuv) expected = fromYuv(expected, c.yuv == 1);
        EXPECT_EQ(compareRgb(toRgb(img), expected, c.tolerance), 0);
    }
}

TEST(HrzReader, FileFromImageMagick) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("hrz_source.ppm"), file = tempPath("im.hrz"), ref = tempPath("im_hrz.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(256, 240)));
    ASSERT_EQ(run(shell("$IM $S hrz:$F && $IM hrz:$F -depth 8 ppm:$R", {{"$IM", IM}, {"$S", src}, {"$F", file}, {"$R", ref}})), 0);
    OwnedImage img;
    ASSERT_EQ(load(file, &img), ST_OK);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
    // ImageMagick scales a 6-bit value v to 4v, we to v x 255 / 63 (63 is white).
    EXPECT_EQ(compareRgb(toRgb(img), expected, 3), 0);
}

TEST(UyvyWriters, RoundTripsAndRowOrder) {
    for (const int w : {46, 7}) {
        for (const char* format : {"uyvyi", "uyvy"}) {
            SCOPED_TRACE(std::string(format) + " width " + std::to_string(w));
            const int h = 5;
            const std::string src = tempPath("uyvy_src.ppm");
            ASSERT_TRUE(writeFile(src, smoothP6(w, h)));
            OwnedImage img;
            ASSERT_EQ(load(src, &img), ST_OK);
            const std::string file = tempPath(std::string("ours_") + format + std::to_string(w) + ".yuv");
            ASSERT_EQ(saveAs(&img, file, format), ST_OK);
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(readFile(file, &bytes));
            ASSERT_EQ(bytes.size(), static_cast<size_t>(2 * w * h));
            OwnedImage back;
            ASSERT_EQ(loadRaw(format, file, {w, h, 0}, &back), ST_OK);
            // Chroma is shared by pairs and smoothed: close, not equal.
            EXPECT_EQ(compareRgb(toRgb(img), toRgb(back), w == 7 ? 40 : 6), 0);  // 7 pixels: steep steps, the last without its own V
            // The same file through the other reader gives the same rows in the other order.
            if (std::string(format) == "uyvy") {
                OwnedImage other;
                ASSERT_EQ(loadRaw("uyvyi", file, {w, h, 0}, &other), ST_OK);
                const Rgb b = toRgb(back), o = toRgb(other);
                const size_t row = static_cast<size_t>(3 * w);
                const int storedOf[5] = {0, 3, 1, 4, 2};  // even rows first
                for (int y = 0; y < h; ++y)
                    EXPECT_TRUE(std::equal(b.pixels.begin() + y * row, b.pixels.begin() + (y + 1) * row,
                                           o.pixels.begin() + storedOf[y] * row));
            }
        }
    }
}

TEST(UyvyWriters, ImageMagickReadsOurFile) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const int w = 40, h = 24;
    const std::string src = tempPath("uyvy_im_src.ppm"), file = tempPath("ours.uyvy"), ref = tempPath("ours_im.ppm");
    ASSERT_TRUE(writeFile(src, smoothP6(w, h)));
    OwnedImage img;
    ASSERT_EQ(load(src, &img), ST_OK);
    ASSERT_EQ(saveAs(&img, file, "uyvyi"), ST_OK);
    ASSERT_EQ(run(shell("$IM -size 40x24 uyvy:$F -set colorspace sRGB -depth 8 ppm:$R",
                        {{"$IM", IM}, {"$F", file}, {"$R", ref}})),
              0);
    Rgb unpacked;
    ASSERT_TRUE(readPeerPnm(ref, &unpacked, nullptr));
    EXPECT_EQ(compareRgb(fromYuv(unpacked, true), toRgb(img), 6), 0);
}

TEST(YuvRawReaders, CorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    struct File {
        const char* path;
        const char* format;
        Geometry g;
        const char* decode;  // ImageMagick's reading of $F into $R
        int tolerance;
        int yuv = 0;         // as in FilesFromImageMagick
    };
    const Geometry g70{70, 46, 0};
    const std::vector<File> files = {
        {"raw/input_70x46.gray", "raw", {70, 46, 0, 0, 0}, "-size 70x46 -depth 8 gray:$F", 0},
        {"raw/input_70x46.rgb", "raw", {70, 46, 0, 1, 0}, "-size 70x46 -depth 8 rgb:$F", 0},
        {"uyvyi/input_70x46.uyvy", "uyvyi", g70, "-size 70x46 -depth 8 uyvy:$F -set colorspace sRGB", 1, 1},
        {"yuv411/input_70x46.yuv", "yuv411", g70,
         "-size 70x46 -depth 8 -sampling-factor 2x2 -interlace plane yuv:$F -set colorspace sRGB", 60, 2},
        {"yuv422/input_70x46.yuv", "yuv422", g70,
         "-size 70x46 -depth 8 -sampling-factor 4:2:2 -interlace plane yuv:$F -set colorspace sRGB", 60, 2},
        {"yuv444/input_70x46.yuv", "yuv444", g70,
         "-size 70x46 -depth 8 -sampling-factor 1x1 -interlace plane yuv:$F -set colorspace sRGB", 1, 2},
        {"hrz/input.hrz", "hrz", g70, "hrz:$F", 3},
    };
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/";
    for (const File& f : files) {
        SCOPED_TRACE(f.path);
        const std::string path = dir + f.path;
        const std::string ref = tempPath(std::string("corpus_yuv") + std::to_string(&f - files.data()) + ".ppm");
        OwnedImage img;
        ASSERT_EQ(loadRaw(f.format, path, f.g, &img), ST_OK);
        ASSERT_EQ(run(shell("$IM $D -depth 8 ppm:$R", {{"$IM", IM}, {"$D", f.decode}, {"$F", path}, {"$R", ref}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        if (f.yuv) expected = fromYuv(expected, f.yuv == 1);
        EXPECT_EQ(compareRgb(toRgb(img), expected, f.tolerance), 0);
    }
}

}  // namespace
