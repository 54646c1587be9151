// Photoshop documents: hand-built documents pin down the sections, every mode,
// the channels delivered and the refusals; documents written by ImageMagick,
// and the corpus, decode to the pixels ImageMagick reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "packbits.h"
#include "kit.h"

using namespace testutil;


namespace {

using Bytes = std::vector<uint8_t>;
const char IM[] = "convert-im6.q16";

void put16(Bytes* b, unsigned v) { b->insert(b->end(), {uint8_t(v >> 8), uint8_t(v)}); }
void put32(Bytes* b, uint32_t v) { put16(b, v >> 16), put16(b, v & 0xFFFF); }
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Psd {
    unsigned channels = 1;
    uint32_t width = 1, height = 1;
    unsigned depth = 8, mode = 1;
    Bytes colourData, resources, layers;
    unsigned compression = 0;
    Bytes data;  // after the compression word (with the count table for run-length data)
    std::string signature = "8BPS";
    unsigned version = 1;
    int64_t colourLength = -1;  // -1: the size of colourData
};

Bytes section(const Bytes& b, int64_t length = -1) {
    Bytes out;
    put32(&out, uint32_t(length >= 0 ? length : int64_t(b.size())));
    return cat({out, b});
}

Bytes build(const Psd& d) {
    Bytes f(d.signature.begin(), d.signature.end());
    put16(&f, d.version);
    f.resize(f.size() + 6);
    put16(&f, d.channels), put32(&f, d.height), put32(&f, d.width), put16(&f, d.depth), put16(&f, d.mode);
    f = cat({f, section(d.colourData, d.colourLength), section(d.resources), section(d.layers)});
    put16(&f, d.compression);
    return cat({f, d.data});
}

template <typename F>
Psd with(Psd d, F change) {
    change(&d);
    return d;
}

Psd doc(unsigned mode, unsigned channels, uint32_t w, uint32_t h, Bytes data, unsigned depth = 8) {
    Psd d;
    d.mode = mode, d.channels = channels, d.width = w, d.height = h, d.depth = depth;
    d.data = std::move(data);
    return d;
}

// Run-length data: the count table, then the rows (all channels, in order).
Bytes rle(const std::vector<Bytes>& rows) {
    Bytes counts, packed;
    for (const Bytes& r : rows) {
        Bytes p(packBitsMaxEncodedSize(r.size()));
        p.resize(packBitsEncode(r.data(), r.size(), p.data(), p.size()));
        put16(&counts, unsigned(p.size()));
        packed = cat({packed, p});
    }
    return cat({counts, packed});
}

// Planar colour mode data: red i, green 255 - i, blue 3 i.
Bytes rampPalette() {
    Bytes p(768);
    for (int i = 0; i < 256; ++i) p[i] = uint8_t(i), p[256 + i] = uint8_t(255 - i), p[512 + i] = uint8_t(3 * i);
    return p;
}

struct HandCase {
    const char* name;
    Psd file;
    Status status;
    const char* message;
    uint16_t kind;
    Bytes pixels;  // as R,G,B triplets when rgb is set
    bool rgb = false;
};

Status loadPsd(const Bytes& bytes, Image* img, uint16_t flags, FileInfo* info) {
    return loadBytesAs("psd", bytes, img, flags, info);
}

TEST(PsdReader, HandBuiltDocuments) {
    const Bytes cmykPlanes = {255, 0, 255, 255, 255, 255, 255, 255};  // C, M, Y, K of two pixels, inverted
    const Bytes resources = cat({{'8', 'B', 'I', 'M', 0x03, 0xED, 3, 'a', 'b', 'c', 0, 0, 0, 3, 1, 2, 3, 0},
                                 {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0, 0, 0, 0}});
    const std::vector<HandCase> cases = {
        {"grey raw", doc(1, 1, 3, 2, {1, 2, 3, 4, 5, 6}), ST_OK, "Adobe Photoshop Document (Raw)", IMG_GREY,
         {1, 2, 3, 4, 5, 6}},
        {"grey with alpha reads the grey channel", doc(1, 2, 2, 1, {7, 8, 200, 201}), ST_OK, nullptr, IMG_GREY, {7, 8}},
        {"RGB planes", doc(3, 3, 2, 1, {10, 20, 30, 40, 50, 60}), ST_OK, nullptr, IMG_RGB, {10, 30, 50, 20, 40, 60}},
        {"RGB with two extra channels keeps the first as alpha", doc(3, 5, 2, 1, {10, 20, 30, 40, 50, 60, 1, 2, 9, 9}),
         ST_OK, nullptr, IMG_RGB32, {10, 30, 50, 1, 20, 40, 60, 2}},
        {"CMYK is stored inverted", doc(4, 4, 2, 1, cmykPlanes), ST_OK, nullptr, IMG_RGB, {255, 255, 255, 0, 255, 255}},
        {"CMYK with a spot channel", doc(4, 5, 2, 1, cat({cmykPlanes, {0, 0}})), ST_OK, nullptr, IMG_RGB,
         {255, 255, 255, 0, 255, 255}},
        {"indexed uses its colour mode data", with(doc(2, 1, 3, 1, {0, 5, 255}), [](Psd* d) { d->colourData = rampPalette(); }),
         ST_OK, nullptr, IMG_PALETTE, {0, 255, 0, 5, 250, 15, 255, 0, 253}, true},
        {"indexed with short colour mode data", with(doc(2, 1, 2, 1, {1, 2}), [](Psd* d) { d->colourData = {9, 8, 7}; }),
         ST_OK, nullptr, IMG_PALETTE, {8, 0, 0, 7, 0, 0}, true},
        {"grey ignores colour mode data", with(doc(1, 1, 2, 1, {1, 2}), [](Psd* d) { d->colourData = rampPalette(); }),
         ST_OK, nullptr, IMG_GREY, {1, 2}},
        {"bitmap mode, 1 is black", doc(0, 1, 10, 1, {0xC0, 0x40}, 1), ST_OK, nullptr, IMG_BINARY,
         {0, 0, 1, 1, 1, 1, 1, 1, 1, 0}},
        {"16 bits keep the high-order bytes", doc(1, 1, 2, 1, {0x12, 0x34, 0xAB, 0xCD}, 16), ST_OK, nullptr, IMG_GREY,
         {0x12, 0xAB}},
        {"16-bit RGB run-length rows", with(doc(3, 3, 2, 1, rle({{1, 0, 2, 0}, {3, 0, 4, 0}, {5, 0, 6, 0}}), 16),
                                            [](Psd* d) { d->compression = 1; }),
         ST_OK, "Adobe Photoshop Document (RLE)", IMG_RGB, {1, 3, 5, 2, 4, 6}},
        {"run-length rows decode until full, no-op bytes between them",
         with(doc(1, 1, 4, 2, {0, 3, 0, 3, 0xFD, 7, 0x80, 0x03, 1, 2, 3, 4}), [](Psd* d) { d->compression = 1; }),
         ST_OK, nullptr, IMG_GREY, {7, 7, 7, 7, 1, 2, 3, 4}},
        {"resources and layers are stepped over", with(doc(1, 1, 2, 1, {5, 6}), [&](Psd* d) {
             d->resources = resources;
             d->layers = Bytes(11, 0xEE);
         }), ST_OK, nullptr, IMG_GREY, {5, 6}},
        // Refusals.
        {"wrong signature", with(doc(1, 1, 1, 1, {0}), [](Psd* d) { d->signature = "8BPT"; }), ST_UNKNOWN_FORMAT,
         nullptr, 0, {}},
        {"version 2", with(doc(1, 1, 1, 1, {0}), [](Psd* d) { d->version = 2; }), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        {"depth 12", doc(1, 1, 1, 1, {0, 0}, 12), ST_BAD_FILE, "PSD: Depth != 8/16!", 0, {}},
        {"RGB of 1 bit", doc(3, 3, 8, 1, {0, 0, 0}, 1), ST_BAD_FILE, "PSD: Depth != 8/16!", 0, {}},
        {"duotone", doc(8, 1, 1, 1, {0}), ST_BAD_FILE, "PSD: Invalid Picture Mode !", 0, {}},
        {"RGB of two channels", doc(3, 2, 1, 1, {0, 0}), ST_BAD_FILE, "PSD: Invalid Picture Mode !", 0, {}},
        {"resource block without 8BIM", with(doc(1, 1, 1, 1, {0}), [](Psd* d) { d->resources = Bytes(12, 0); }),
         ST_BAD_FILE, "PSD: Image Ressource invalid block !", 0, {}},
        {"compression 2", with(doc(1, 1, 1, 1, {0}), [](Psd* d) { d->compression = 2; }), ST_CORRUPT, nullptr, 0, {}},
        {"width 0", doc(1, 1, 0, 1, {}), ST_UNKNOWN_FORMAT, nullptr, 0, {}},
        // Damaged files: what was read stays.
        {"raw rows cut", doc(3, 3, 2, 2, {1, 2, 3, 4, 5}), ST_READ_ERROR, nullptr, IMG_RGB,
         {1, 5, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0}},
        {"run-length rows cut", with(doc(1, 1, 3, 2, {0, 2, 0, 2, 0xFE, 4, 0xFE}), [](Psd* d) { d->compression = 1; }),
         ST_READ_ERROR, nullptr, IMG_GREY, {4, 4, 4, 0, 0, 0}},
        {"count table cut", with(doc(1, 1, 3, 2, {0, 2}), [](Psd* d) { d->compression = 1; }), ST_READ_ERROR, nullptr,
         IMG_GREY, {0, 0, 0, 0, 0, 0}},
        {"colour mode data past the end", with(doc(1, 1, 2, 1, {}), [](Psd* d) {
             d->colourData = Bytes(4, 1);
             d->colourLength = 64;
         }),
         ST_READ_ERROR, nullptr, IMG_GREY, {0, 0}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = build(c.file);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadPsd(bytes, &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(c.status == ST_OK ? info.formatName : info.message, c.message);
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            if (c.pixels.empty()) continue;
            ASSERT_EQ(loadPsd(bytes, &img, OPT_ACCEPT_DAMAGED, nullptr), ST_OK);
        }
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

// A picture whose colours all have one component at 255 or three equal ones:
// full and empty inks as well as mixed ones.
Bytes cmykSafeP6(int w, int h) {
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    Bytes f(head.begin(), head.end());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t a = uint8_t(x * 255 / (w - 1)), b = uint8_t(y * 255 / (h - 1));
            switch ((x + y) % 4) {
            case 0: f.insert(f.end(), {255, a, b}); break;
            case 1: f.insert(f.end(), {b, 255, a}); break;
            case 2: f.insert(f.end(), {a, b, 255}); break;
            default: f.insert(f.end(), {a, a, a}); break;
            }
        }
    return f;
}

struct PeerCase {
    const char* name;
    const char* options;
    uint16_t kind;
    bool alpha;
};

TEST(PsdReader, PeerFilesDecodeToTheirPixels) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("psd_src.ppm");
    ASSERT_TRUE(writeFile(src, cmykSafeP6(41, 19)));
    const std::vector<PeerCase> cases = {
        {"RGB raw", "", IMG_RGB, false},
        {"RGB run-length", "-compress RLE", IMG_RGB, false},
        {"RGB 16 bits", "-depth 16", IMG_RGB, false},
        {"RGB 16 bits run-length", "-depth 16 -compress RLE", IMG_RGB, false},
        {"RGB with alpha", "-alpha set -channel A -fx '(i+j)/(w+h)' +channel -compress RLE", IMG_RGB32, true},
        {"grey", "-type Grayscale -compress RLE", IMG_GREY, false},
        {"grey with alpha", "-type GrayscaleAlpha", IMG_GREY, false},
        {"bitmap", "-type Bilevel -depth 1", IMG_BINARY, false},
        {"CMYK", "-colorspace CMYK -compress RLE", IMG_RGB, false},
        {"CMYK 16 bits with alpha", "-colorspace CMYK -alpha on -depth 16", IMG_RGB, false},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("psd_peer" + std::to_string(n) + ".psd");
        const std::string ref = tempPath("psd_peer" + std::to_string(n++) + ".ppm");
        const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}, {"$R", ref}};
        ASSERT_EQ(run(shell(std::string(IM) + " $S " + c.options + " psd:$O", names)), 0);
        // The first image of an ImageMagick document is the composite one; the
        // peer takes its colours as blended with white unless told otherwise,
        // where we deliver them as stored.
        ASSERT_EQ(run(shell(std::string(IM) + " -define psd:alpha-unblend=false '$O[0]' -alpha off "
                                     "-colorspace sRGB -depth 8 ppm:$R", names)), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
        if (!c.alpha) continue;
        ASSERT_EQ(run(shell(std::string(IM) + " '$O[0]' -alpha extract -depth 8 pgm:$R", names)), 0);
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(alphaOf(img), expected), 0);
    }
    // ImageMagick 6.9 refuses indexed documents, its own included: the
    // reference is the same quantized picture written as PPM.
    const std::string out = tempPath("psd_indexed.psd"), ref = tempPath("psd_indexed.ppm");
    const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}, {"$R", ref}};
    ASSERT_EQ(run(shell(std::string(IM) + " $S -colors 50 -type Palette -compress RLE psd:$O", names)), 0);
    ASSERT_EQ(run(shell(std::string(IM) + " $S -colors 50 -type Palette ppm:$R", names)), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
    OwnedImage img;
    ASSERT_EQ(load(out, &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_PALETTE);
    EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
}

TEST(PsdReader, CorpusFiles) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/psd/";
    Bytes indexed;
    if (!readFile(dir + "psd_indexed_trans.psd", &indexed)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    auto peer = [](const std::string& file, Rgb* out) {
        const std::string ref = tempPath("psd_corpus.ppm");
        return run(shell(std::string(IM) + " '" + file + "[0]' -alpha off -depth 8 ppm:" + ref, {})) == 0 &&
               readPeerPnm(ref, out, nullptr);
    };
    const std::vector<std::pair<const char*, uint16_t>> files = {
        {"hopper_merged.psd", IMG_RGB}, {"input.psd", IMG_RGB}, {"psd_bitmap.psd", IMG_BINARY}, {"rgba.psd", IMG_RGB32}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.first);
        OwnedImage img;
        ASSERT_EQ(load(dir + f.first, &img), ST_OK);
        EXPECT_EQ(img.kind, f.second);
        Rgb expected;
        ASSERT_TRUE(peer(dir + f.first, &expected));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
    // ImageMagick refuses indexed documents; as a grey document without colour
    // mode data it reads the indices, which the colour mode data (planar) turn
    // to colours.
    OwnedImage img;
    ASSERT_EQ(load(dir + "psd_indexed_trans.psd", &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_PALETTE);
    ASSERT_GT(indexed.size(), 30u + 768u);
    ASSERT_EQ(indexed[28], 3);  // 768 bytes of colour mode data
    Bytes grey = indexed;
    grey.erase(grey.begin() + 30, grey.begin() + 30 + 768);
    grey[25] = 1;
    grey[28] = 0;
    const std::string asGrey = tempPath("indexed_as_grey.psd");
    ASSERT_TRUE(writeFile(asGrey, grey));
    Rgb indices;
    ASSERT_TRUE(peer(asGrey, &indices));
    Rgb expected = indices;
    for (size_t i = 0; i < expected.pixels.size(); i += 3)
        for (int c = 0; c < 3; ++c) expected.pixels[i + c] = indexed[30 + 256 * c + indices.pixels[i]];
    EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
}

}  // namespace
