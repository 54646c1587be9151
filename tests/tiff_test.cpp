// TIFF: files written by libtiff's tiffcp and by ImageMagick in every
// compression, byte order, strip and tile layout, photometric, depth and
// planar configuration decode to the pixels ImageMagick (through libtiff)
// reads; hand-built files pin down LZW codes, the old LZW, LogLuv, YCbCr,
// fields and damaged files; our files read back in libtiff and ImageMagick.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "testpictures.h"
#include "testutil.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;
const char IM[] = "convert-im6.q16";

int tiffIndex() {
    static int index = findFormat("tiff");
    return index;
}

bool havePeers() { return haveProgram("tiffcp") && haveProgram(IM) && haveProgram("tiff2rgba"); }

// ---- hand-built files -------------------------------------------------------

struct Tag {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    Bytes value;         // in the file's byte order; <= 4 bytes stay in the entry
    bool rawField = false;  // value is the 4-byte field itself (an offset of our choosing)
};

class TiffBuilder {
public:
    explicit TiffBuilder(bool bigEndian = false) : big_(bigEndian) {}
    TiffBuilder& shortTag(uint16_t tag, std::vector<uint32_t> v) {
        Bytes b;
        for (uint32_t x : v) put16(&b, x);
        tags_.push_back({tag, 3, static_cast<uint32_t>(v.size()), b});
        return *this;
    }
    TiffBuilder& longTag(uint16_t tag, std::vector<uint32_t> v) {
        Bytes b;
        for (uint32_t x : v) put32(&b, x);
        tags_.push_back({tag, 4, static_cast<uint32_t>(v.size()), b});
        return *this;
    }
    TiffBuilder& rational(uint16_t tag, uint32_t num, uint32_t den) {
        Bytes b;
        put32(&b, num);
        put32(&b, den);
        tags_.push_back({tag, 5, 1, b});
        return *this;
    }
    // An entry whose value field is given as it stands (count and offset of our choosing).
    TiffBuilder& rawTag(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
        Bytes b;
        put32(&b, field);
        tags_.push_back({tag, type, count, b, true});
        return *this;
    }
    TiffBuilder& strip(const Bytes& data) {
        strips_.push_back(data);
        return *this;
    }
    // Header, directory at 8, the values, the strips; StripOffsets and
    // StripByteCounts are added unless given.
    Bytes build(uint32_t nextDirectory = 0) const {
        std::vector<Tag> tags = tags_;
        bool haveOffsets = false;
        for (const Tag& t : tags) haveOffsets |= t.tag == 273;
        if (!haveOffsets && !strips_.empty()) {
            tags.push_back({273, 4, static_cast<uint32_t>(strips_.size()), Bytes(4 * strips_.size())});
            Bytes counts;
            for (const Bytes& s : strips_) put32(&counts, static_cast<uint32_t>(s.size()));
            tags.push_back({279, 4, static_cast<uint32_t>(strips_.size()), counts});
        }
        std::stable_sort(tags.begin(), tags.end(), [](const Tag& a, const Tag& b) { return a.tag < b.tag; });
        const uint32_t n = static_cast<uint32_t>(tags.size());
        Bytes f = big_ ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
        put32(&f, 8);
        put16(&f, n);
        const size_t entries = f.size();
        f.resize(f.size() + 12 * n);
        put32(&f, nextDirectory);
        size_t offsetsAt = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const Tag& t = tags[i];
            Bytes e;
            put16(&e, t.tag);
            put16(&e, t.type);
            put32(&e, t.count);
            if (t.rawField || t.value.size() <= 4) {
                Bytes v = t.value;
                v.resize(4, 0);
                e.insert(e.end(), v.begin(), v.end());
                if (t.tag == 273 && !t.rawField && !haveOffsets) offsetsAt = entries + 12 * i + 8;
            } else {
                if (f.size() & 1) f.push_back(0);
                put32(&e, static_cast<uint32_t>(f.size()));
                if (t.tag == 273 && !haveOffsets) offsetsAt = f.size();
                f.insert(f.end(), t.value.begin(), t.value.end());
            }
            std::copy(e.begin(), e.end(), f.begin() + entries + 12 * i);
        }
        for (size_t s = 0; s < strips_.size(); ++s) {
            Bytes at;
            put32(&at, static_cast<uint32_t>(f.size()));
            if (!haveOffsets) std::copy(at.begin(), at.end(), f.begin() + offsetsAt + 4 * s);
            f.insert(f.end(), strips_[s].begin(), strips_[s].end());
        }
        return f;
    }

private:
    void put16(Bytes* b, uint32_t v) const {
        if (big_) b->insert(b->end(), {uint8_t(v >> 8), uint8_t(v)});
        else b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8)});
    }
    void put32(Bytes* b, uint32_t v) const {
        if (big_) b->insert(b->end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else b->insert(b->end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    bool big_;
    std::vector<Tag> tags_;
    std::vector<Bytes> strips_;
};

// The fields of an 8-bit grey picture of w x h.
TiffBuilder greyFile(uint32_t w, uint32_t h, uint32_t compression = 1, bool big = false) {
    TiffBuilder b(big);
    b.shortTag(256, {w}).shortTag(257, {h}).shortTag(258, {8}).shortTag(259, {compression}).shortTag(262, {1});
    return b;
}

Status loadBytes(const Bytes& bytes, Image* img, FileInfo* info = nullptr, uint16_t flags = 0, int page = 0) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".tif");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(tiffIndex());
    o.flags = flags;
    o.pageIndex = page;
    return loadImage(path.c_str(), img, &o, info);
}

Bytes rowOf(const Image& img, int y) {
    const uint8_t* r = img.pixels + static_cast<size_t>(y) * img.stride;
    return Bytes(r, r + static_cast<size_t>(img.width) * img.bytesPerPixel);
}

// Codes packed most significant bit first (new LZW), widths given.
Bytes packCodes(const std::vector<std::pair<int, int>>& codes) {
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes) {
        acc = (acc << width) | static_cast<uint32_t>(code);
        bits += width;
        while (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
        }
    }
    if (bits) out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
    return out;
}

// Old LZW: codes least significant bit first; the width grows when the next
// free code passes it.
Bytes oldLzw(const Bytes& data) {
    std::map<std::string, int> dict;
    for (int i = 0; i < 256; ++i) dict[std::string(1, static_cast<char>(i))] = i;
    int next = 258, width = 9;
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    auto emit = [&](int code) {
        acc |= static_cast<uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    emit(256);
    std::string w;
    for (uint8_t c : data) {
        std::string wc = w + static_cast<char>(c);
        if (dict.count(wc)) {
            w = wc;
            continue;
        }
        emit(dict[w]);
        // The width grows after the code that finds the next free code past it.
        if (next > (1 << width) - 1 && width < 12) ++width;
        dict[wc] = next++;
        w = std::string(1, static_cast<char>(c));
    }
    emit(dict[w]);
    if (next > (1 << width) - 1 && width < 12) ++width;
    emit(257);
    if (bits) out.push_back(static_cast<uint8_t>(acc));
    return out;
}

// ---- reference pictures ---------------------------------------------------------

// A 67 x 45 colour picture with gradients and edges, and its grey and bi-level forms.
void writeSources(const std::string& dir) {
    const int w = 67, h = 45;
    Bytes rgb, grey;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int r = x * 255 / (w - 1), g = y * 255 / (h - 1), b = ((x + y) * 7) & 255;
            if ((x / 8 + y / 8) % 3 == 0) {
                int t = r;
                r = 255 - t;
                std::swap(g, b);
            }
            rgb.insert(rgb.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
            grey.push_back(static_cast<uint8_t>((r * 3 + g * 5 + b * 2) / 10));
        }
    std::string ph = "P6\n67 45\n255\n", gh = "P5\n67 45\n255\n";
    Bytes p(ph.begin(), ph.end()), q(gh.begin(), gh.end());
    p.insert(p.end(), rgb.begin(), rgb.end());
    q.insert(q.end(), grey.begin(), grey.end());
    writeFile(dir + "c.ppm", p);
    writeFile(dir + "g.pgm", q);
}

// The base files every layout is made from, written by ImageMagick.
const std::map<std::string, std::string>& baseFiles() {
    static std::map<std::string, std::string> files;
    if (!files.empty()) return files;
    const std::string d = tempPath("");
    writeSources(d);
    const std::pair<const char*, const char*> bases[] = {
        {"rgb", "c.ppm"},
        {"rgb16", "c.ppm -depth 16"},
        {"grey", "g.pgm"},
        {"grey16", "g.pgm -depth 16"},
        {"grey4", "g.pgm -depth 4"},
        {"grey2", "g.pgm -depth 2"},
        {"bw", "b.pbm"},
        {"palette", "c.ppm -colors 200 -type palette"},
        {"palette4", "c.ppm -colors 14 -type palette -depth 4"},
        {"cmyk", "c.ppm -colorspace cmyk"},
        {"rgba", "c.ppm \\( g.pgm -negate \\) -alpha off -compose copy_opacity -composite"},
        {"greyalpha", "g.pgm \\( g.pgm -negate \\) -alpha off -compose copy_opacity -composite"},
    };
    run(std::string("cd ") + d + " && " + IM + " g.pgm -threshold 50% b.pbm 2>/dev/null");
    for (auto& b : bases) {
        std::string out = d + "base_" + b.first + ".tif";
        std::string cmd = std::string("cd ") + d + " && " + IM + " " + b.second + " -compress none " + out;
        if (run(cmd + " 2>/dev/null") == 0) files[b.first] = out;
    }
    return files;
}

// What ImageMagick reads, alpha left out.
bool peerPixels(const std::string& path, Rgb* out, int page = 0) {
    // The peer's decode goes to a scratch file, never next to the sample.
    std::string ppm = tempPath("peer" + std::to_string(page) + ".ppm");
    std::string cmd = std::string(IM) + " '" + path + "[" + std::to_string(page) + "]' -alpha off -depth 8 ppm:" + ppm;
    return run(cmd + " 2>/dev/null") == 0 && readPnmReference(ppm, out);
}

int maxDifference(const Rgb& a, const Rgb& b) {
    if (a.width != b.width || a.height != b.height) return 1000;
    int worst = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) worst = std::max(worst, std::abs(a.pixels[i] - b.pixels[i]));
    return worst;
}

// ---- peers' files ------------------------------------------------------------------

struct Layout {
    const char* name;
    const char* tiffcp;   // options
    const char* bases;    // the base files it applies to, space separated
};

const char ALL_BUT_BW[] = "rgb rgb16 grey grey16 grey4 grey2 palette palette4 cmyk rgba greyalpha";
const char EIGHT_BIT[] = "rgb grey cmyk";

const Layout LAYOUTS[] = {
    {"none", "-c none", "rgb rgb16 grey grey16 grey4 grey2 bw palette palette4 cmyk rgba greyalpha"},
    {"noneBigEndian", "-c none -B", ALL_BUT_BW},
    {"lzw", "-c lzw", "rgb rgb16 grey grey16 grey4 grey2 bw palette palette4 cmyk rgba greyalpha"},
    {"lzwPredictor", "-c lzw:2", "rgb rgb16 grey grey16 palette cmyk rgba greyalpha"},
    {"lzwPredictorBigEndian", "-c lzw:2 -B", "rgb rgb16 grey grey16 rgba"},
    {"lzwRowStrips", "-c lzw -r 1", ALL_BUT_BW},
    {"deflate", "-c zip", ALL_BUT_BW},
    {"deflatePredictor", "-c zip:2 -B -r 3", "rgb rgb16 grey grey16 cmyk"},
    {"packbits", "-c packbits", "rgb rgb16 grey grey16 grey4 grey2 bw palette palette4 cmyk rgba greyalpha"},
    {"packbitsStrips", "-c packbits -r 7 -B", ALL_BUT_BW},
    {"separate", "-c none -p separate", "rgb cmyk rgba"},
    {"separateLzw", "-c lzw:2 -p separate -B -r 5", "rgb cmyk rgba"},
    {"tiles", "-c zip -t -w 16 -l 16", ALL_BUT_BW},
    {"tilesBigEndian", "-c lzw:2 -t -w 32 -l 16 -B", "rgb rgb16 grey grey16 palette cmyk"},
    {"tilesSeparate", "-c packbits -t -w 48 -l 32 -p separate", "rgb cmyk rgba"},
    {"tilesPacked", "-c none -t -w 16 -l 16", "bw grey4 grey2 palette4"},
    {"jpeg", "-c jpeg -r 16", EIGHT_BIT},
    {"jpegRgb", "-c jpeg:r -r 16", "rgb"},
    {"jpegTiles", "-c jpeg -t -w 32 -l 32", "rgb grey"},
    {"jpegSeparate", "-c jpeg:r -p separate -r 16", "rgb"},
    {"group3", "-c g3", "bw"},
    {"group3TwoD", "-c g3:2d -r 10", "bw"},
    {"group3FillLsb", "-c g3:2d:fill -f lsb2msb -B", "bw"},
    {"group4", "-c g4", "bw"},
    {"group4Tiles", "-c g4 -t -w 32 -l 32", "bw"},
    {"lsbFirst", "-c none -f lsb2msb", "bw grey4"},
};

class TiffPeers : public ::testing::TestWithParam<Layout> {};

TEST_P(TiffPeers, DecodeAsImageMagick) {
    if (!havePeers()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    const Layout& l = GetParam();
    const auto& bases = baseFiles();
    std::string list = std::string(l.bases) + " ";
    int tried = 0;
    for (size_t at = 0, sp; (sp = list.find(' ', at)) != std::string::npos; at = sp + 1) {
        std::string base = list.substr(at, sp - at);
        if (base.empty()) continue;
        auto it = bases.find(base);
        ASSERT_NE(it, bases.end()) << "ImageMagick could not write " << base;
        std::string out = tempPath(std::string(l.name) + "_" + base + ".tif");
        ASSERT_EQ(run("tiffcp " + std::string(l.tiffcp) + " " + it->second + " " + out + " 2>/dev/null"), 0)
            << l.tiffcp << " " << base;
        Rgb expected;
        ASSERT_TRUE(peerPixels(out, &expected)) << base;
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(load(out, &img, 0, &info), ST_OK) << base << ": " << info.message;
        // libjpeg decodes alike on both sides; 16-bit colour maps are rounded differently.
        const int tolerance = std::string(l.tiffcp).find("jpeg") != std::string::npos ? 2 : base == "palette" ? 1 : 0;
        EXPECT_LE(maxDifference(toRgb(img), expected), tolerance) << l.tiffcp << " " << base;
        ++tried;
    }
    EXPECT_GT(tried, 0);
}

INSTANTIATE_TEST_SUITE_P(Tiffcp, TiffPeers, ::testing::ValuesIn(LAYOUTS),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

TEST(TiffPeers, KindsAndNames) {
    if (!havePeers()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    const auto& bases = baseFiles();
    const struct {
        const char* base;
        const char* options;
        uint16_t kind;
        int colours;
        const char* name;
    } cases[] = {
        {"bw", "-c g4", IMG_BINARY, 2, "TIFF CCITT Group 4 (RGB)"},
        {"bw", "-c g3", IMG_BINARY, 2, "TIFF CCITT Group 3 (RGB)"},
        {"grey", "-c lzw", IMG_GREY, 256, "TIFF LZW (RGB)"},
        {"grey4", "-c packbits", IMG_GREY, 16, "TIFF PackBits (RGB)"},
        {"grey16", "-c none", IMG_GREY, 256, "TIFF (RGB)"},
        {"palette4", "-c none", IMG_PALETTE, 16, "TIFF (RGB)"},
        {"rgb", "-c jpeg -r 16", IMG_RGB, 0, "TIFF Jpeg (YCbCr)"},
        {"rgb", "-c zip", IMG_RGB, 0, "TIFF Deflate (RGB)"},
        {"cmyk", "-c none", IMG_RGB, 0, "TIFF (CMYK)"},
        {"rgba", "-c none", IMG_RGB32, 0, "TIFF (RGB)"},
        {"greyalpha", "-c none", IMG_GREY, 256, "TIFF (RGB)"},
    };
    for (const auto& c : cases) {
        std::string out = tempPath(std::string("kind_") + c.base + ".tif");
        ASSERT_EQ(run("tiffcp " + std::string(c.options) + " " + bases.at(c.base) + " " + out), 0);
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(load(out, &img, 0, &info), ST_OK) << c.base;
        EXPECT_EQ(img.kind, c.kind) << c.base;
        EXPECT_EQ(img.colours, c.colours) << c.base;
        EXPECT_STREQ(info.formatName, c.name) << c.base;
    }
}

TEST(TiffPeers, RgbaKeepsItsAlpha) {
    if (!havePeers()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    OwnedImage img;
    ASSERT_EQ(load(baseFiles().at("rgba"), &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_RGB32);
    // The alpha is the negated grey picture: it varies across the image.
    int low = 255, high = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            int a = img.pixels[static_cast<size_t>(y) * img.stride + 4 * x + 3];
            low = std::min(low, a);
            high = std::max(high, a);
        }
    EXPECT_LT(low, 40);
    EXPECT_GT(high, 200);
}

TEST(TiffPeers, SeparateGreyWithAlphaAsItsContiguousCopy) {
    // ImageMagick misreads this layout; libtiff's contiguous copy of it is the reference.
    if (!havePeers()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    std::string separate = tempPath("ga_separate.tif"), contiguous = tempPath("ga_contig.tif");
    ASSERT_EQ(run("tiffcp -c none -p separate -r 4 " + baseFiles().at("greyalpha") + " " + separate), 0);
    ASSERT_EQ(run("tiffcp -c none -p contig " + separate + " " + contiguous), 0);
    Rgb expected;
    ASSERT_TRUE(peerPixels(contiguous, &expected));
    OwnedImage img;
    ASSERT_EQ(load(separate, &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_GREY);
    EXPECT_EQ(maxDifference(toRgb(img), expected), 0);
}

TEST(TiffPeers, MultiPage) {
    if (!havePeers()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    const auto& b = baseFiles();
    std::string out = tempPath("multi.tif");
    ASSERT_EQ(run("tiffcp -c lzw " + b.at("rgb") + " " + b.at("grey") + " " + b.at("bw") + " " + b.at("palette4") +
                  " " + out),
              0);
    const struct {
        int page;
        int expectedPage;
        uint16_t kind;
    } cases[] = {{0, 0, IMG_RGB}, {1, 1, IMG_GREY}, {2, 2, IMG_BINARY}, {3, 3, IMG_PALETTE}, {7, 0, IMG_RGB}, {-1, 0, IMG_RGB}};
    for (const auto& c : cases) {
        IoOptions o = defaultIoOptions();
        o.pageIndex = c.page;
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadImage(out.c_str(), &img, &o, &info), ST_OK);
        EXPECT_EQ(info.pageCount, 4);
        EXPECT_EQ(img.kind, c.kind) << c.page;
        Rgb expected;
        ASSERT_TRUE(peerPixels(out, &expected, c.expectedPage));
        EXPECT_EQ(maxDifference(toRgb(img), expected), 0) << c.page;
    }
    // Examination reports the count too.
    FileInfo info;
    ASSERT_EQ(readImageInfo(out.c_str(), tiffIndex(), 0, &info), ST_OK);
    EXPECT_EQ(info.pageCount, 4);
}

TEST(TiffPeers, JpegStripLargerThanTheDirectorySaysIsRefused) {
    if (!havePeers() || !haveProgram("tiffset")) GTEST_SKIP() << "libtiff tools missing";
    std::string out = tempPath("jpeg_narrow.tif");
    ASSERT_EQ(run("tiffcp -c jpeg:r -r 16 " + baseFiles().at("rgb") + " " + out), 0);
    ASSERT_EQ(run("tiffset -s 256 40 " + out), 0);  // the strips stay 67 pixels wide
    OwnedImage img;
    FileInfo info;
    EXPECT_EQ(load(out, &img, 0, &info), ST_BAD_FILE);
    EXPECT_STREQ(info.message, "TIFF : Bad JPEG strip !");
}

TEST(TiffCorpus, LoadsAsImageMagick) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/tiff/";
    const char* files[] = {"fax2d.tif", "hopper_g4.tif", "hopper_lzw.tif", "jello.tif",
                           "multipage.tiff", "oxford.tif", "quad-jpeg.tif"};
    Bytes probe;
    if (!readFile(dir + files[0], &probe)) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (const char* name : files) {
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(load(dir + name, &img, 0, &info), ST_OK) << name;
        Rgb expected;
        ASSERT_TRUE(peerPixels(dir + name, &expected)) << name;
        EXPECT_EQ(maxDifference(toRgb(img), expected), 0) << name;
    }
    for (int page = 0; page < 3; ++page) {
        IoOptions o = defaultIoOptions();
        o.pageIndex = page;
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadImage((dir + "multipage.tiff").c_str(), &img, &o, &info), ST_OK);
        EXPECT_EQ(info.pageCount, 3);
        Rgb expected;
        ASSERT_TRUE(peerPixels(dir + "multipage.tiff", &expected, page));
        EXPECT_EQ(maxDifference(toRgb(img), expected), 0) << page;
    }
}

// ---- hand-built files ---------------------------------------------------------

TEST(TiffHand, BothByteOrdersDecodeAlike) {
    Bytes pixels = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110};
    for (bool big : {false, true}) {
        Bytes f = greyFile(4, 3, 1, big).shortTag(278, {2}).strip({pixels.begin(), pixels.begin() + 8})
                      .strip({pixels.begin() + 8, pixels.end()}).build();
        OwnedImage img;
        ASSERT_EQ(loadBytes(f, &img), ST_OK);
        for (int y = 0; y < 3; ++y) EXPECT_EQ(rowOf(img, y), Bytes(pixels.begin() + 4 * y, pixels.begin() + 4 * y + 4));
    }
}

TEST(TiffHand, RowsPerStripOfAllOnesIsTheWholeImage) {
    Bytes f = greyFile(2, 3).longTag(278, {0xFFFFFFFFu}).strip({1, 2, 3, 4, 5, 6}).build();
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    EXPECT_EQ(rowOf(img, 2), (Bytes{5, 6}));
}

TEST(TiffHand, WidthsAreReadWhole) {
    // A LONG width above 65535 is refused rather than cut to its low 16 bits.
    Bytes f = TiffBuilder().longTag(256, {65536 + 4}).shortTag(257, {1}).shortTag(258, {8}).strip({1, 2, 3, 4}).build();
    OwnedImage img;
    FileInfo info;
    EXPECT_EQ(loadBytes(f, &img, &info), ST_BAD_FILE);
    EXPECT_STREQ(info.message, "TIFF : Bad picture's size !");
}

TEST(TiffHand, Orientation) {
    const struct {
        uint32_t orientation;
        Bytes top;  // the first image row
    } cases[] = {{1, {1, 2}}, {2, {2, 1}}, {3, {4, 3}}, {4, {3, 4}}, {5, {1, 2}}};
    for (const auto& c : cases) {
        Bytes f = greyFile(2, 2).shortTag(274, {c.orientation}).strip({1, 2, 3, 4}).build();
        OwnedImage img;
        ASSERT_EQ(loadBytes(f, &img), ST_OK);
        EXPECT_EQ(rowOf(img, 0), c.top) << c.orientation;
    }
}

TEST(TiffHand, Resolution) {
    const struct {
        uint32_t unit, num, den;
        int16_t dpi;
    } cases[] = {{2, 300, 1, 300}, {2, 1441, 2, 720}, {3, 3779, 100, 96}, {1, 7, 2, 3}, {2, 300, 0, 0}};
    for (const auto& c : cases) {
        Bytes f = greyFile(1, 1).shortTag(296, {c.unit}).rational(282, c.num, c.den).rational(283, c.num, c.den)
                      .strip({9}).build();
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadBytes(f, &img, &info), ST_OK);
        EXPECT_EQ(info.xdpi, c.dpi) << c.num << "/" << c.den;
        EXPECT_EQ(info.ydpi, c.dpi);
        EXPECT_EQ(img.xdpi, c.dpi ? c.dpi : 68);  // no resolution: the default
    }
}

TEST(TiffHand, ShortColourMapIsZeroFilled) {
    // A 4-bit palette picture whose map has 4 entries instead of 16.
    TiffBuilder b;
    b.shortTag(256, {4}).shortTag(257, {1}).shortTag(258, {4}).shortTag(259, {1}).shortTag(262, {3});
    b.shortTag(320, {0xFFFF, 0, 0, 0x8080, 0, 0xFFFF, 0, 0, 0, 0, 0, 0xFFFF});
    Bytes f = b.strip({0x01, 0x3F}).build();
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_PALETTE);
    Rgb rgb = toRgb(img);
    EXPECT_EQ(rgb.pixels, (Bytes{255, 0, 0, 0, 255, 0, 128, 0, 255, 0, 0, 0}));
}

TEST(TiffHand, CcittPhotometric) {
    // Group 4, 8 pixels: one black row (horizontal mode: white 0, black 8).
    Bytes g4 = {0x26, 0xA2, 0x80, 0x08, 0x00, 0x80};  // 001 00110101 000101 and the end-of-block mark
    const struct {
        const char* name;
        bool photometricFirst;
        int photometric;  // -1: none
        uint8_t pixel;    // the binary value of the row
    } cases[] = {{"noTag", false, -1, 0}, {"minIsWhite", false, 0, 0}, {"minIsBlack", false, 1, 1},
                 {"tagBeforeCompression", true, 1, 0}};
    for (const auto& c : cases) {
        TiffBuilder b;
        b.shortTag(256, {8}).shortTag(257, {1});
        // Tags are written sorted; an unsorted directory is made by putting
        // the photometric under a tag number below the compression's.
        if (c.photometric >= 0 && !c.photometricFirst) b.shortTag(262, {static_cast<uint32_t>(c.photometric)});
        Bytes f = b.shortTag(259, {4}).strip(g4).build();
        if (c.photometricFirst) {
            // Swap the tag numbers of two entries so 262 comes before 259 in the file.
            TiffBuilder u;
            u.shortTag(256, {8}).shortTag(257, {1}).shortTag(258, {1}).shortTag(259, {1}).strip(g4);
            f = u.build();
            // entries: 256, 257, 258, 259, 273, 279 -> make 258 the photometric (1) and 259 the compression (4)
            f[10 + 2 * 12] = 262 & 0xFF;
            f[10 + 2 * 12 + 1] = 262 >> 8;
            f[10 + 3 * 12 + 8] = 4;
        }
        OwnedImage img;
        ASSERT_EQ(loadBytes(f, &img), ST_OK) << c.name;
        ASSERT_EQ(img.kind, IMG_BINARY);
        EXPECT_EQ(rowOf(img, 0), Bytes(8, c.pixel)) << c.name;
    }
}

struct LzwCase {
    const char* name;
    std::vector<std::pair<int, int>> codes;
    Status status;
    Bytes row;  // the first row as decoded (3 grey pixels)
};

class TiffLzw : public ::testing::TestWithParam<LzwCase> {};

TEST_P(TiffLzw, Codes) {
    const LzwCase& c = GetParam();
    Bytes f = greyFile(3, 2, 5).strip(packCodes(c.codes)).build();
    OwnedImage img;
    FileInfo info;
    EXPECT_EQ(loadBytes(f, &img, &info, OPT_ACCEPT_DAMAGED), c.status);
    if (c.status == ST_BAD_FILE) EXPECT_STREQ(info.message, "TIFF : Bad LZW codes !");
    if (!c.row.empty()) {
        ASSERT_NE(img.pixels, nullptr);
        EXPECT_EQ(rowOf(img, 0), c.row);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Strips, TiffLzw,
    ::testing::Values(
        // A, then the entry being made (AA), then B C C: two rows of three.
        LzwCase{"entryBeingMade", {{256, 9}, {65, 9}, {258, 9}, {66, 9}, {67, 9}, {67, 9}, {257, 9}}, ST_OK, {65, 65, 65}},
        LzwCase{"noClearFirst", {{65, 9}, {66, 9}, {257, 9}}, ST_BAD_FILE, {}},
        LzwCase{"codeAboveNextFree", {{256, 9}, {65, 9}, {300, 9}, {257, 9}}, ST_BAD_FILE, {}},
        LzwCase{"tableCodeAfterClear", {{256, 9}, {258, 9}, {257, 9}}, ST_BAD_FILE, {}},
        // The data end after four bytes: the rows so far are kept.
        LzwCase{"endsEarly", {{256, 9}, {65, 9}, {258, 9}, {66, 9}, {257, 9}}, ST_OK, {65, 65, 65}},
        // A string longer than the strip is cut at its end.
        LzwCase{"stringPastTheEnd", {{256, 9}, {65, 9}, {258, 9}, {259, 9}, {260, 9}, {257, 9}}, ST_OK, {65, 65, 65}}),
    [](const ::testing::TestParamInfo<LzwCase>& info) { return std::string(info.param.name); });

TEST(TiffHand, LzwEndingEarlyIsCorrupt) {
    // With its byte count, a strip whose codes end before its rows is damaged.
    Bytes f = greyFile(3, 2, 5).strip(packCodes({{256, 9}, {65, 9}, {66, 9}, {257, 9}})).build();
    OwnedImage img;
    EXPECT_EQ(loadBytes(f, &img, nullptr, OPT_ACCEPT_DAMAGED), ST_OK);  // kept when damage is accepted
    ASSERT_NE(img.pixels, nullptr);
    EXPECT_EQ(rowOf(img, 0), (Bytes{65, 66, 0}));
    OwnedImage strict;
    EXPECT_EQ(loadBytes(f, &strict), ST_CORRUPT);
}

// Strips up to a few megabytes decode whole in one buffer, larger ones a row
// at a time: a picture stored as one big LZW strip and as small ones (with and
// without the predictor) decodes to the same pixels.
TEST(TiffPeers, LzwStripsLargeAndSmallDecodeAlike) {
    if (!havePeers()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    OwnedImage photo;
    ASSERT_TRUE(testpictures::makePhoto(&photo, 2100, 1400));  // 8.8 MB of RGB
    const std::string ppm = tempPath("tiff_lzw_big.ppm");
    ASSERT_TRUE(testpictures::writePpm(ppm, photo));
    const Rgb expected = toRgb(photo);
    for (const char* options : {"-compress LZW -define tiff:rows-per-strip=1400",
                                "-compress LZW -define tiff:rows-per-strip=1400 -define tiff:predictor=2",
                                "-compress LZW -define tiff:rows-per-strip=7"}) {
        SCOPED_TRACE(options);
        const std::string out = tempPath("tiff_lzw_big.tif");
        ASSERT_EQ(run(std::string(IM) + " " + ppm + " " + options + " " + out), 0);
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

TEST(TiffHand, OldStyleLzw) {
    Bytes pixels(40 * 30);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>((i % 40) * 3 + (i / 97) % 5);
    Bytes f = greyFile(40, 30, 5).strip(oldLzw(pixels)).build();
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    for (int y = 0; y < 30; ++y) ASSERT_EQ(rowOf(img, y), Bytes(pixels.begin() + 40 * y, pixels.begin() + 40 * y + 40));
}

TEST(TiffHand, PackBitsNoOpAndRuns) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    // 0x80 is skipped (as libtiff does); runs and literals per row.
    Bytes data = {0x80, 0xFD, 7, 0x80, 0x01, 1, 2, 0xFF, 9, 0x03, 4, 5, 6, 8};
    Bytes f = greyFile(6, 2, 32773).strip(data).build();
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    EXPECT_EQ(rowOf(img, 0), (Bytes{7, 7, 7, 7, 1, 2}));
    EXPECT_EQ(rowOf(img, 1), (Bytes{9, 9, 4, 5, 6, 8}));
    std::string path = tempPath("packbits_noop.tif");
    writeFile(path, f);
    Rgb expected;
    ASSERT_TRUE(peerPixels(path, &expected));
    EXPECT_EQ(maxDifference(toRgb(img), expected), 0);
}

// LogL, 32-bit and 24-bit LogLuv, and YCbCr of every subsampling, against libtiff's tiff2rgba.
struct PeerCase {
    const char* name;
    Bytes file;
};

Bytes rlePlane(const std::vector<uint32_t>& values, int shift) {
    Bytes out;
    for (size_t i = 0; i < values.size();) {
        size_t n = std::min<size_t>(127, values.size() - i);
        out.push_back(static_cast<uint8_t>(n));
        for (size_t k = 0; k < n; ++k) out.push_back(static_cast<uint8_t>(values[i + k] >> shift));
        i += n;
    }
    return out;
}

std::vector<PeerCase> libtiffCases() {
    std::vector<PeerCase> cases;
    const uint32_t w = 16, h = 6;
    Bytes logL, luv32, luv24;
    for (uint32_t y = 0; y < h; ++y) {
        std::vector<uint32_t> l, u;
        for (uint32_t x = 0; x < w; ++x) {
            l.push_back((x == 3 ? 0x8000u : 0u) | (64 * 256 - 900 + y * 100 + x * 37));
            u.push_back(((64 * 256 - 800 + x * 50 + y * 20) << 16) | ((80 + x * 6) << 8) | (110 + y * 10));
            uint32_t p = (((12 * 64 - 40 + x * 5 + y * 3) & 0x3FF) << 14) | ((5000 + x * 400 + y * 900) % 16289);
            luv24.insert(luv24.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
        for (int s : {8, 0}) {
            Bytes p = rlePlane(l, s);
            logL.insert(logL.end(), p.begin(), p.end());
        }
        for (int s : {24, 16, 8, 0}) {
            Bytes p = rlePlane(u, s);
            luv32.insert(luv32.end(), p.begin(), p.end());
        }
    }
    auto logFile = [&](bool big, uint32_t comp, uint32_t photo, uint32_t spp, const Bytes& data) {
        return TiffBuilder(big).shortTag(256, {w}).shortTag(257, {h}).shortTag(258, {16}).shortTag(259, {comp})
            .shortTag(262, {photo}).shortTag(277, {spp}).strip(data).build();
    };
    cases.push_back({"logL", logFile(false, 34676, 32844, 1, logL)});
    cases.push_back({"logLuv32", logFile(true, 34676, 32845, 3, luv32)});
    cases.push_back({"logLuv24", logFile(false, 34677, 32845, 3, luv24)});
    const uint32_t yw = 13, yh = 7;
    for (auto [hs, vs] : std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {2, 1}, {2, 2}, {4, 2}, {4, 1}, {1, 2}, {4, 4}}) {
        Bytes data;
        for (uint32_t uy = 0; uy < (yh + vs - 1) / vs; ++uy)
            for (uint32_t ux = 0; ux < (yw + hs - 1) / hs; ++ux) {
                for (uint32_t j = 0; j < vs; ++j)
                    for (uint32_t i = 0; i < hs; ++i) data.push_back(static_cast<uint8_t>(((ux * hs + i) * 19 + (uy * vs + j) * 23 + 40)));
                data.push_back(static_cast<uint8_t>(ux * 37 + uy * 11 + 60));
                data.push_back(static_cast<uint8_t>(200 - ux * 13 + uy * 29));
            }
        Bytes f = TiffBuilder(hs == 4).shortTag(256, {yw}).shortTag(257, {yh}).shortTag(258, {8, 8, 8}).shortTag(259, {1})
                      .shortTag(262, {6}).shortTag(277, {3}).shortTag(530, {hs, vs}).strip(data).build();
        cases.push_back({hs == 1 && vs == 1 ? "ycbcr11" : hs == 2 && vs == 1 ? "ycbcr21" : hs == 2 ? "ycbcr22"
                         : hs == 4 && vs == 2 ? "ycbcr42" : hs == 4 && vs == 1 ? "ycbcr41" : hs == 1 ? "ycbcr12" : "ycbcr44",
                         f});
    }
    return cases;
}

TEST(TiffHand, LogLuvAndYCbCrAsTiff2rgba) {
    if (!havePeers()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    for (const PeerCase& c : libtiffCases()) {
        std::string path = tempPath(std::string(c.name) + ".tif"), rgba = tempPath(std::string(c.name) + "_rgba.tif");
        ASSERT_TRUE(writeFile(path, c.file));
        ASSERT_EQ(run("tiff2rgba " + path + " " + rgba + " 2>/dev/null"), 0) << c.name;
        Rgb expected;
        ASSERT_TRUE(peerPixels(rgba, &expected)) << c.name;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK) << c.name;
        EXPECT_EQ(maxDifference(toRgb(img), expected), 0) << c.name;
        // Not a flat picture: the values spread.
        std::map<uint8_t, int> seen;
        for (uint8_t v : toRgb(img).pixels) ++seen[v];
        EXPECT_GT(seen.size(), 20u) << c.name;
    }
}

TEST(TiffHand, YCbCrGreyStaysGrey) {
    // Y = 128 with Cb = Cr = 128 is grey 128 whatever the coefficients.
    Bytes f = TiffBuilder().shortTag(256, {2}).shortTag(257, {1}).shortTag(258, {8, 8, 8}).shortTag(259, {1})
                  .shortTag(262, {6}).shortTag(277, {3}).shortTag(530, {2, 1}).strip({128, 128, 128, 128}).build();
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    EXPECT_EQ(toRgb(img).pixels, Bytes(6, 128));
}

// ---- damaged and refused files -------------------------------------------------------

struct DamageCase {
    const char* name;
    Bytes file;
    Status status;
    const char* message;  // or null
    int rowsKept;         // rows that hold the file's pixels when damage is accepted (-1: no picture)
};

Bytes ramp(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i + 1);
    return b;
}

std::vector<DamageCase> damageCases() {
    std::vector<DamageCase> c;
    const Bytes good = greyFile(4, 4).shortTag(278, {2}).strip(ramp(8)).strip(ramp(8)).build();
    c.push_back({"notTiff", Bytes{'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0}, ST_UNKNOWN_FORMAT, nullptr, -1});
    c.push_back({"shortHeader", Bytes{'M', 'M', 0}, ST_UNKNOWN_FORMAT, nullptr, -1});
    c.push_back({"directoryPastTheEnd", Bytes{'I', 'I', 42, 0, 0, 1, 0, 0}, ST_READ_ERROR, nullptr, -1});
    // 65535 entries announced in a small file: the directory does not fit.
    c.push_back({"directoryTooLong", Bytes{'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0, 0}, ST_READ_ERROR, nullptr, -1});
    c.push_back({"noWidth", TiffBuilder().shortTag(257, {4}).strip(ramp(4)).build(), ST_BAD_FILE,
                 "TIFF : Bad picture's size !", -1});
    c.push_back({"hugeSize", greyFile(16000, 2).strip(ramp(8)).build(), ST_BAD_FILE, "TIFF : Bad picture's size !", -1});
    c.push_back({"oldJpeg", greyFile(4, 4, 6).strip(ramp(16)).build(), ST_BAD_FILE,
                 "TIFF : Bad data compression algorithm !", -1});
    c.push_back({"cieLab", TiffBuilder().shortTag(256, {4}).shortTag(257, {1}).shortTag(262, {8}).strip(ramp(4)).build(),
                 ST_BAD_FILE, "TIFF : Bad photometric interpretation !", -1});
    c.push_back({"bits64", TiffBuilder().shortTag(256, {1}).shortTag(257, {1}).shortTag(258, {64}).strip(ramp(8)).build(),
                 ST_BAD_FILE, "TIFF : Bad number of bits per sample !", -1});
    c.push_back({"float", TiffBuilder().shortTag(256, {1}).shortTag(257, {1}).shortTag(258, {32}).shortTag(339, {3})
                              .strip(ramp(4)).build(), ST_BAD_FILE,
                 "TIFF : Bad sample format !", -1});
    c.push_back({"rgbOneSample", TiffBuilder().shortTag(256, {2}).shortTag(257, {1}).shortTag(262, {2}).strip(ramp(2)).build(),
                 ST_BAD_FILE,
                 "TIFF : Bad number of samples per pixel !", -1});
    // A count far beyond the file: the entry is not there at all.
    c.push_back({"offsetsCountBeyondTheFile", greyFile(4, 4).rawTag(273, 4, 1000000000, 8).build(), ST_BAD_FILE,
                 "TIFF : Bad strip offsets !", -1});
    c.push_back({"stripPastTheEnd", greyFile(4, 1).rawTag(273, 4, 1, 100000).build(), ST_READ_ERROR, nullptr, 0});
    c.push_back({"truncated", Bytes(good.begin(), good.end() - 5), ST_READ_ERROR, nullptr, 2});
    c.push_back({"tooFewStrips", greyFile(4, 4).shortTag(278, {2}).strip(ramp(8)).build(), ST_CORRUPT, nullptr, 2});
    // PackBits data that stop inside the second row of the strip its byte count gives.
    c.push_back({"packBitsShort", greyFile(4, 2, 32773).strip({3, 1, 2, 3, 4, 1, 9}).build(), ST_CORRUPT,
                 nullptr, 1});
    c.push_back({"deflateGarbage", greyFile(4, 2, 8).strip({0x78, 0x9C, 0xFF, 0xFF, 0xFF}).build(),
                 ST_CORRUPT, nullptr, 0});
    return c;
}

TEST(TiffDamage, Statuses) {
    for (const DamageCase& c : damageCases()) {
        OwnedImage img;
        FileInfo info;
        EXPECT_EQ(loadBytes(c.file, &img, &info), c.status) << c.name;
        EXPECT_EQ(img.pixels, nullptr) << c.name;
        if (c.message) EXPECT_STREQ(info.message, c.message) << c.name;
        if (c.rowsKept >= 0) {
            OwnedImage kept;
            EXPECT_EQ(loadBytes(c.file, &kept, nullptr, OPT_ACCEPT_DAMAGED), ST_OK) << c.name;
            ASSERT_NE(kept.pixels, nullptr) << c.name;
            for (int y = 0; y < c.rowsKept; ++y) {
                Bytes expected = ramp(8);
                EXPECT_EQ(rowOf(kept, y), Bytes(expected.begin() + 4 * (y % 2), expected.begin() + 4 * (y % 2) + 4))
                    << c.name << " row " << y;
            }
        }
    }
}

TEST(TiffDamage, DirectoryLoopsEnd) {
    // The first directory points back at itself, then at a second one that points at the first.
    const struct {
        uint32_t next;
        int pages;
    } cases[] = {{8, 1}, {0, 1}};
    for (const auto& c : cases) {
        Bytes f = greyFile(1, 1).strip({5}).build(c.next);
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadBytes(f, &img, &info), ST_OK);
        EXPECT_EQ(info.pageCount, c.pages);
    }
    // Two directories pointing at each other: two pages.
    Bytes f = greyFile(1, 1).strip({5}).build();
    const uint32_t first = 8, count = f[8] | f[9] << 8, nextAt = 10 + 12 * count;
    Bytes second(f.begin() + first, f.begin() + nextAt + 4);
    uint32_t secondAt = static_cast<uint32_t>(f.size());
    f[nextAt] = static_cast<uint8_t>(secondAt);
    f[nextAt + 1] = static_cast<uint8_t>(secondAt >> 8);
    second[nextAt - first] = 8;
    second[nextAt - first + 1] = 0;
    f.insert(f.end(), second.begin(), second.end());
    OwnedImage img;
    FileInfo info;
    ASSERT_EQ(loadBytes(f, &img, &info, 0, 1), ST_OK);
    EXPECT_EQ(info.pageCount, 2);
}

TEST(TiffDamage, UnknownSignatureHasNoSideEffects) {
    OwnedImage img;
    FileInfo info;
    EXPECT_EQ(loadBytes(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, &img, &info), ST_UNKNOWN_FORMAT);
    EXPECT_EQ(img.pixels, nullptr);
    EXPECT_EQ(info.width, 0);
}

// ---- writer -------------------------------------------------------------------------

// Tag values of a little-endian single-directory file: tag -> (count, first value or offset).
std::map<uint16_t, std::pair<uint32_t, uint32_t>> directoryOf(const Bytes& f, std::vector<uint16_t>* order) {
    std::map<uint16_t, std::pair<uint32_t, uint32_t>> tags;
    auto u16 = [&](size_t at) { return static_cast<uint32_t>(f[at] | f[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    uint32_t dir = u32(4), n = u16(dir);
    for (uint32_t i = 0; i < n; ++i) {
        size_t e = dir + 2 + 12 * i;
        uint16_t tag = static_cast<uint16_t>(u16(e)), type = static_cast<uint16_t>(u16(e + 2));
        uint32_t count = u32(e + 4);
        tags[tag] = {count, type == 3 && count == 1 ? u16(e + 8) : u32(e + 8)};
        if (order) order->push_back(tag);
    }
    return tags;
}

// Images of every kind the writer takes.
void fillImage(Image* img, uint16_t kind, int w, int h, int colours) {
    createImage(img, kind, 1, w, h);
    if (kind == IMG_GREY || kind == IMG_PALETTE) img->colours = colours;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = img->pixels + static_cast<size_t>(y) * img->stride + x * img->bytesPerPixel;
            const int v = (x * 7 + y * 13 + (x * y) % 11);
            switch (kind) {
            case IMG_BINARY: p[0] = static_cast<uint8_t>(((x / 3 + y / 2) & 1)); break;
            case IMG_GREY:
            case IMG_PALETTE: p[0] = static_cast<uint8_t>(v % colours); break;
            default:
                for (int k = 0; k < img->bytesPerPixel; ++k) p[k] = static_cast<uint8_t>(v * (k + 3) + k * 50);
            }
        }
    if (kind == IMG_PALETTE)
        for (int i = 0; i < colours; ++i) {
            img->palette[i] = static_cast<uint8_t>(i * 37);
            img->palette[256 + i] = static_cast<uint8_t>(255 - i * 11);
            img->palette[512 + i] = static_cast<uint8_t>(i * 5 + 9);
        }
}

struct WriteKind {
    const char* name;
    uint16_t kind;
    int colours;
    int bits;  // bits a pixel in the file
};

const WriteKind WRITE_KINDS[] = {
    {"binary", IMG_BINARY, 2, 1},      {"grey4", IMG_GREY, 4, 2},          {"grey16", IMG_GREY, 16, 4},
    {"grey256", IMG_GREY, 256, 8},     {"palette4", IMG_PALETTE, 4, 2},    {"palette16", IMG_PALETTE, 16, 4},
    {"palette200", IMG_PALETTE, 200, 8}, {"rgb", IMG_RGB, 0, 24},         {"bgr", IMG_BGR, 0, 24},
    {"rgba", IMG_RGB32, 0, 32},
};

class TiffWriter : public ::testing::TestWithParam<WriteKind> {};

TEST_P(TiffWriter, ReadBackByLibtiffAndUs) {
    const WriteKind& k = GetParam();
    const int w = 53, h = 41;
    OwnedImage src;
    fillImage(&src, k.kind, w, h, k.colours);
    const Rgb original = toRgb(src);
    for (int option = 0; option < 4; ++option) {
        std::string path = tempPath(std::string("ours_") + k.name + std::to_string(option) + ".tif");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(tiffIndex());
        o.writerOption1 = static_cast<int16_t>(option);
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        ASSERT_EQ(saveImage(name.data(), &src, &o), ST_OK) << k.name << " option " << option;

        // Our reader.
        OwnedImage back;
        FileInfo info;
        ASSERT_EQ(load(path, &back, 0, &info), ST_OK) << k.name << " option " << option;
        EXPECT_EQ(maxDifference(toRgb(back), original), 0) << k.name << " option " << option;
        if (k.kind != IMG_BGR) EXPECT_EQ(back.kind, k.kind) << k.name;

        // The file's fields.
        Bytes f;
        ASSERT_TRUE(readFile(path, &f));
        std::vector<uint16_t> order;
        auto tags = directoryOf(f, &order);
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << k.name;
        EXPECT_EQ(tags[259].second, option == 0 ? 1u : option == 1 ? 32773u : 5u);
        EXPECT_EQ(tags[317].second, option < 2 ? 0u : option == 3 && k.bits >= 8 ? 2u : 1u) << k.name << " option " << option;
        const uint32_t rps = tags[278].second;
        EXPECT_EQ(rps, option == 1 ? 1u : std::min<uint32_t>(65536 / w / k.bits, h)) << k.name;
        const uint32_t strips = (h + rps - 1) / rps;
        EXPECT_EQ(tags[273].first, strips);
        auto u32 = [&](size_t at) { return static_cast<uint32_t>(f[at] | f[at + 1] << 8 | f[at + 2] << 16 | f[at + 3] << 24); };
        for (uint32_t s = 0; s < strips; ++s) {
            uint32_t offset = strips == 1 ? tags[273].second : u32(tags[273].second + 4 * s);
            EXPECT_EQ(offset % 2, 0u) << "strip " << s;  // every strip starts on an even offset
        }
        if (option == 0) {
            const uint32_t count = strips == 1 ? tags[279].second : u32(tags[279].second);
            EXPECT_EQ(count, std::min<uint32_t>(rps, h) * ((w * k.bits + 7) / 8));
        }

        // libtiff and ImageMagick.
        if (!havePeers()) continue;
        std::string errors = path + ".err";
        EXPECT_EQ(run("tiffinfo -D " + path + " >/dev/null 2>" + errors), 0);
        Bytes err;
        readFile(errors, &err);
        EXPECT_TRUE(err.empty()) << std::string(err.begin(), err.end());
        Rgb peer;
        ASSERT_TRUE(peerPixels(path, &peer)) << k.name;
        EXPECT_EQ(maxDifference(peer, original), 0) << k.name << " option " << option;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, TiffWriter, ::testing::ValuesIn(WRITE_KINDS),
                         [](const ::testing::TestParamInfo<WriteKind>& info) { return std::string(info.param.name); });

TEST(TiffWriterLayout, StripSizes) {
    const struct {
        uint16_t kind;
        int width, height;
        uint32_t rowsPerStrip;
    } cases[] = {{IMG_BINARY, 8192, 20, 8}, {IMG_RGB, 2731, 3, 1}, {IMG_RGB, 2730, 5, 1}, {IMG_BINARY, 1, 300, 300},
                 {IMG_GREY, 100, 100, 81}};
    for (const auto& c : cases) {
        OwnedImage img;
        fillImage(&img, c.kind, c.width, c.height, 256);
        std::string path = tempPath("layout.tif");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(tiffIndex());
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        ASSERT_EQ(saveImage(name.data(), &img, &o), ST_OK);
        Bytes f;
        ASSERT_TRUE(readFile(path, &f));
        EXPECT_EQ(directoryOf(f, nullptr)[278].second, c.rowsPerStrip) << c.width;
        OwnedImage back;
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(maxDifference(toRgb(back), toRgb(img)), 0);
    }
}

TEST(TiffWriterLayout, TwoBitPaletteRowsOfFivePixelsTakeTwoBytes) {
    OwnedImage img;
    fillImage(&img, IMG_PALETTE, 5, 3, 4);
    std::string path = tempPath("pal2.tif");
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(tiffIndex());
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    ASSERT_EQ(saveImage(name.data(), &img, &o), ST_OK);
    Bytes f;
    ASSERT_TRUE(readFile(path, &f));
    auto tags = directoryOf(f, nullptr);
    EXPECT_EQ(tags[258].second, 2u);
    EXPECT_EQ(tags[279].second, 6u);   // one strip of 3 rows of 2 bytes
    EXPECT_EQ(tags[320].first, 12u);   // 3 x 4 colour map entries
}

}  // namespace
