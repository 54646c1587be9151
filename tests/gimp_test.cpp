// GIMP brushes, patterns and XCF files: GIMP-written files of the shared
// samples against Pillow's and ImageMagick's decodes, hand-built files pinning
// down versions, depths, compressions, layer placing and refusals, and the
// pattern writer's round trips.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;
const char IM[] = "convert-im6.q16";
const char PYTHON[] = "/usr/bin/python3";


// Pillow's or ImageMagick's decode of a file, flattened on white, as triplets.
bool peerRgb(bool pillow, const std::string& in, Rgb* out, bool invertGrey = false) {
    static int counter = 0;
    const std::string ppm = tempPath("gimppeer" + std::to_string(counter++) + ".ppm");
    const std::string cmd =
        pillow ? shell("PY -c \"import sys; from PIL import Image, ImageOps; im = Image.open(sys.argv[1]); "
                       "im = ImageOps.invert(im) if (im.mode == 'L' and INV) else im; "
                       "im.convert('RGB').save(sys.argv[2], 'PPM')\" IN OUT",
                       {{"PY", PYTHON}, {"INV", invertGrey ? "True" : "False"}, {"IN", in}, {"OUT", ppm}})
               : shell("IMC IN -background white -flatten OUT", {{"IMC", IM}, {"IN", in}, {"OUT", ppm}});
    if (run(cmd) != 0) return false;
    unsigned maxval;
    return readPeerPnm(ppm, out, &maxval);
}

Bytes be32(std::initializer_list<uint32_t> words) {
    Bytes b;
    for (uint32_t w : words) putBE32(&b, w);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Rgb rgbOf(int w, int h, const Bytes& samples, int bytes) {
    Rgb r;
    r.width = w;
    r.height = h;
    for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c) r.pixels.push_back(samples[static_cast<size_t>(i) * bytes + (bytes >= 3 ? c : 0)]);
    return r;
}

// ---- Brushes ----------------------------------------------------------------

Bytes brush(uint32_t version, uint32_t w, uint32_t h, uint32_t bytes, const Bytes& data, const char* name = "b") {
    const uint32_t nameBytes = static_cast<uint32_t>(strlen(name)) + 1;
    Bytes f = version == 1 ? be32({20 + nameBytes, 1, w, h, bytes})
                           : be32({28 + nameBytes, version, w, h, bytes, 0x47494D50, 25});
    f.insert(f.end(), name, name + nameBytes);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST(GbrReader, CorpusAgainstPillow) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!havePillow()) GTEST_SKIP() << "Pillow missing";
    for (const char* name : {"gbr/dunes.gbr", "gbr/gbr.gbr", "gbr/pepper.gbr"}) {
        SCOPED_TRACE(name);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(corpusPath(name), &img));
        Rgb want;
        ASSERT_TRUE(peerRgb(true, corpusPath(name), &want, true));  // masks are shown black on white
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

TEST(GbrReader, HandBuiltBrushes) {
    const Bytes mask = {0, 255, 130, 10, 20, 30};
    const Bytes rgba = {255, 0, 0, 255, 0, 0, 255, 128};
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        uint16_t kind;
        Bytes grey;  // expected first channel of each pixel
    } cases[] = {
        {"version 2 mask, inverted", brush(2, 3, 2, 1, mask), ST_OK, IMG_GREY, {255, 0, 125, 245, 235, 225}},
        {"version 1 mask", brush(1, 3, 2, 1, mask), ST_OK, IMG_GREY, {255, 0, 125, 245, 235, 225}},
        {"version 3 R,G,B", brush(3, 2, 1, 3, {1, 2, 3, 4, 5, 6}), ST_OK, IMG_RGB, {1, 4}},
        {"colour with alpha", brush(2, 2, 1, 4, rgba), ST_OK, IMG_RGB32, {255, 0}},
        {"version 3 half floats", brush(3, 2, 1, 18, {0x3C, 0x00, 0x00, 0x00}), ST_OK, IMG_GREY, {0, 255}},
        {"cut data", brush(2, 3, 2, 1, Bytes(mask.begin(), mask.begin() + 4)), ST_READ_ERROR, IMG_GREY, {}},
        {"two bytes a pixel", brush(2, 3, 2, 2, Bytes(12, 0)), ST_UNKNOWN_FORMAT, 0, {}},
        {"version 1 of the wrong size", cat({brush(1, 3, 2, 1, mask), Bytes{0}}), ST_UNKNOWN_FORMAT, 0, {}},
        {"no magic", cat({be32({29, 2, 1, 1, 1, 0x47494D51, 25}), Bytes{0, 0}}), ST_UNKNOWN_FORMAT, 0, {}},
        {"too wide", brush(2, 16000, 1, 1, Bytes(16000, 0)), ST_BAD_FILE, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("gbr", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.kind, img.kind);
        const Rgb got = toRgb(img);
        for (size_t i = 0; i < c.grey.size(); ++i) EXPECT_EQ(c.grey[i], got.pixels[3 * i]) << i;
    }
}

// ---- Patterns ---------------------------------------------------------------

Bytes pattern(uint32_t w, uint32_t h, uint32_t bytes, const Bytes& data, const char* name = "p") {
    const uint32_t nameBytes = static_cast<uint32_t>(strlen(name)) + 1;
    Bytes f = be32({24 + nameBytes, 1, w, h, bytes, 0x47504154});
    f.insert(f.end(), name, name + nameBytes);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST(PatReader, CorpusRowsAsStored) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    for (const char* name : {"pat/3dgreen.pat", "pat/leopard.pat"}) {
        SCOPED_TRACE(name);
        Bytes f;
        ASSERT_TRUE(readFile(corpusPath(name), &f));
        const uint32_t header = f[0] << 24 | f[1] << 16 | f[2] << 8 | f[3];
        const int w = f[10] << 8 | f[11], h = f[14] << 8 | f[15], bytes = f[19];
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(corpusPath(name), &img));
        EXPECT_EQ(0, compareRgb(toRgb(img), rgbOf(w, h, Bytes(f.begin() + header, f.end()), bytes)));
    }
}

TEST(PatReader, HandBuiltPatterns) {
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        uint16_t kind;
        Bytes red;  // first channel of each pixel
    } cases[] = {
        {"grey", pattern(3, 1, 1, {0, 128, 255}), ST_OK, IMG_GREY, {0, 128, 255}},
        {"grey and alpha", pattern(2, 1, 2, {10, 255, 200, 0}), ST_OK, IMG_RGB32, {10, 200}},
        {"R,G,B with a long name", pattern(2, 1, 3, {1, 2, 3, 4, 5, 6}, "a pattern's name"), ST_OK, IMG_RGB, {1, 4}},
        {"R,G,B,A", pattern(1, 2, 4, {9, 8, 7, 6, 5, 4, 3, 2}), ST_OK, IMG_RGB32, {9, 5}},
        {"cut", pattern(2, 2, 3, {1, 2, 3, 4, 5, 6}), ST_READ_ERROR, 0, {}},
        {"five bytes", pattern(1, 1, 5, Bytes(5, 0)), ST_BAD_FILE, 0, {}},
        {"GIMP magic", cat({be32({26, 1, 1, 1, 1, 0x47494D50}), Bytes{'p', 0, 0}}), ST_UNKNOWN_FORMAT, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("pat", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.kind, img.kind);
        const Rgb got = toRgb(img);
        for (size_t i = 0; i < c.red.size(); ++i) EXPECT_EQ(c.red[i], got.pixels[3 * i]) << i;
    }
}

TEST(PatWriter, RoundTripsAndHeader) {
    struct Case {
        const char* name;
        uint16_t kind;
        int bytes;  // stored per pixel
    } cases[] = {{"true colour", IMG_RGB, 3}, {"grey", IMG_GREY, 1}, {"black and white", IMG_BINARY, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img, back;
        ASSERT_TRUE(testpictures::makeUpright(&img, c.kind, 13, 7));
        const std::string path = tempPath(std::string("round") + std::to_string(c.kind) + ".pat");
        ASSERT_EQ(ST_OK, saveAs(&img, path, "pat"));
        Bytes f;
        ASSERT_TRUE(readFile(path, &f));
        const std::string name = "round" + std::to_string(c.kind);
        ASSERT_GE(f.size(), 24 + name.size() + 1);
        EXPECT_EQ(be32({static_cast<uint32_t>(24 + name.size() + 1), 1, 13, 7, static_cast<uint32_t>(c.bytes),
                        0x47504154}),
                  Bytes(f.begin(), f.begin() + 24));
        EXPECT_EQ(name, std::string(reinterpret_cast<const char*>(f.data() + 24)));
        EXPECT_EQ(24 + name.size() + 1 + 13 * 7 * c.bytes, f.size());
        ASSERT_EQ(ST_OK, load(path, &back));
        if (c.kind == IMG_BINARY) {
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 13; ++x)
                    EXPECT_EQ(imageRow(&img, y)[x] ? 255 : 0, toRgb(back).pixels[3 * (y * 13 + x)]);
        } else {
            EXPECT_EQ(0, compareRgb(toRgb(img), toRgb(back)));
        }
    }
}

// ---- XCF --------------------------------------------------------------------

// A hand-built XCF file: version 0 (32-bit pointers) or 11 (64-bit), RGB,
// layers given bottom first, tiles coded as asked.
struct XcfLayerSpec {
    int w, h, x, y;
    uint32_t type;  // 0 RGB, 1 RGBA, 2 grey...
    uint32_t opacity;
    bool visible;
    Bytes pixels;   // w x h x bpp interleaved
};

struct XcfWriter {
    int version;
    int compression;
    Bytes f;
    void ptr(uint64_t v) {
        if (version >= 11) putBE32(&f, static_cast<uint32_t>(v >> 32));
        putBE32(&f, static_cast<uint32_t>(v));
    }
    size_t ptrBytes() const { return version >= 11 ? 8 : 4; }
    void patch(size_t at, uint64_t v) {
        Bytes b;
        if (version >= 11) putBE32(&b, static_cast<uint32_t>(v >> 32));
        putBE32(&b, static_cast<uint32_t>(v));
        std::copy(b.begin(), b.end(), f.begin() + at);
    }
};

Bytes rleStream(const Bytes& s) {
    Bytes out;
    size_t i = 0;
    while (i < s.size()) {
        size_t run = 1;
        while (i + run < s.size() && s[i + run] == s[i] && run < 300) ++run;
        if (run >= 3) {
            if (run <= 127) out.push_back(static_cast<uint8_t>(run - 1));
            else out.insert(out.end(), {127, static_cast<uint8_t>(run >> 8), static_cast<uint8_t>(run)});
            out.push_back(s[i]);
            i += run;
            continue;
        }
        size_t lit = 1;
        while (i + lit < s.size() && lit < 200 && !(i + lit + 2 < s.size() && s[i + lit] == s[i + lit + 1] &&
                                                    s[i + lit] == s[i + lit + 2]))
            ++lit;
        if (lit <= 127) out.push_back(static_cast<uint8_t>(256 - lit));
        else out.insert(out.end(), {128, static_cast<uint8_t>(lit >> 8), static_cast<uint8_t>(lit)});
        out.insert(out.end(), s.begin() + i, s.begin() + i + lit);
        i += lit;
    }
    return out;
}

Bytes codeTile(const Bytes& raw, int bpp, int compression) {
    if (compression == 0) return raw;
    if (compression == 2) {
        uLongf n = compressBound(raw.size());
        Bytes z(n);
        compress(z.data(), &n, raw.data(), raw.size());
        z.resize(n);
        return z;
    }
    Bytes out;
    for (int k = 0; k < bpp; ++k) {
        Bytes s;
        for (size_t i = k; i < raw.size(); i += bpp) s.push_back(raw[i]);
        const Bytes r = rleStream(s);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes buildXcf(int version, int compression, int w, int h, const std::vector<XcfLayerSpec>& layers) {
    XcfWriter x{version, compression, {}};
    const char* magic = version == 0 ? "gimp xcf file" : "gimp xcf v011";
    x.f.insert(x.f.end(), magic, magic + 14);
    for (uint32_t v : {static_cast<uint32_t>(w), static_cast<uint32_t>(h), 0u}) putBE32(&x.f, v);
    if (version >= 4) putBE32(&x.f, 150);
    for (uint32_t v : {17u, 1u}) putBE32(&x.f, v);
    x.f.push_back(static_cast<uint8_t>(compression));
    for (uint32_t v : {0u, 0u}) putBE32(&x.f, v);
    const size_t table = x.f.size();
    for (size_t i = 0; i <= layers.size(); ++i) x.ptr(0);  // layers (topmost first), then the end
    x.ptr(0);                                             // no channels
    for (size_t i = 0; i < layers.size(); ++i) {
        const XcfLayerSpec& l = layers[layers.size() - 1 - i];
        const int bpp = l.type == 0 ? 3 : l.type == 1 ? 4 : l.type == 2 ? 1 : 2;
        x.patch(table + i * x.ptrBytes(), x.f.size());
        for (uint32_t v : {static_cast<uint32_t>(l.w), static_cast<uint32_t>(l.h), l.type, 2u}) putBE32(&x.f, v);
        x.f.insert(x.f.end(), {'L', 0});
        for (uint32_t v : {15u, 8u, static_cast<uint32_t>(l.x), static_cast<uint32_t>(l.y), 6u, 4u, l.opacity, 8u,
                           4u, l.visible ? 1u : 0u, 0u, 0u})
            putBE32(&x.f, v);
        const size_t hierarchyPtr = x.f.size();
        x.ptr(0);
        x.ptr(0);  // no mask
        x.patch(hierarchyPtr, x.f.size());
        for (uint32_t v : {static_cast<uint32_t>(l.w), static_cast<uint32_t>(l.h), static_cast<uint32_t>(bpp)})
            putBE32(&x.f, v);
        const size_t levelPtr = x.f.size();
        x.ptr(0);
        x.ptr(0);
        x.patch(levelPtr, x.f.size());
        putBE32(&x.f, static_cast<uint32_t>(l.w));
        putBE32(&x.f, static_cast<uint32_t>(l.h));
        const int across = (l.w + 63) / 64, down = (l.h + 63) / 64;
        const size_t tiles = x.f.size();
        for (int t = 0; t <= across * down; ++t) x.ptr(0);
        for (int ty = 0; ty < down; ++ty)
            for (int tx = 0; tx < across; ++tx) {
                const int tw = std::min(64, l.w - tx * 64), th = std::min(64, l.h - ty * 64);
                Bytes raw;
                for (int j = 0; j < th; ++j)
                    for (int i = 0; i < tw; ++i)
                        for (int c = 0; c < bpp; ++c)
                            raw.push_back(l.pixels[(static_cast<size_t>(ty * 64 + j) * l.w + tx * 64 + i) * bpp + c]);
                x.patch(tiles + static_cast<size_t>(ty * across + tx) * x.ptrBytes(), x.f.size());
                const Bytes coded = codeTile(raw, bpp, compression);
                x.f.insert(x.f.end(), coded.begin(), coded.end());
            }
    }
    return x.f;
}

// The same flattening done plainly: white canvas, layers bottom up, Normal mode.
Rgb flatten(int w, int h, const std::vector<XcfLayerSpec>& layers) {
    Rgb r;
    r.width = w;
    r.height = h;
    r.pixels.assign(static_cast<size_t>(w) * h * 3, 255);
    for (const XcfLayerSpec& l : layers) {
        if (!l.visible) continue;
        const int bpp = l.type == 0 ? 3 : l.type == 1 ? 4 : l.type == 2 ? 1 : 2;
        for (int j = 0; j < l.h; ++j)
            for (int i = 0; i < l.w; ++i) {
                const int cx = l.x + i, cy = l.y + j;
                if (cx < 0 || cy < 0 || cx >= w || cy >= h) continue;
                const uint8_t* p = &l.pixels[(static_cast<size_t>(j) * l.w + i) * bpp];
                unsigned a = l.type == 1 ? p[3] : l.type == 3 ? p[1] : 255;
                a = a * l.opacity / 255;
                for (int c = 0; c < 3; ++c) {
                    uint8_t& o = r.pixels[(static_cast<size_t>(cy) * w + cx) * 3 + c];
                    const unsigned v = bpp >= 3 ? p[c] : p[0];
                    o = static_cast<uint8_t>((o * (255 - a) + v * a + 127) / 255);
                }
            }
    }
    return r;
}

Bytes patternBytes(int w, int h, int bpp, int seed) {
    Bytes b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < bpp; ++c)
                b.push_back(c == 3 ? static_cast<uint8_t>(x * 5 + y * 3 + seed) : ((x / 7 + y / 5 + c + seed) % 3 ? static_cast<uint8_t>(x * 9 + c * 40) : 200));
    return b;
}

std::vector<XcfLayerSpec> twoLayers(int w, int h) {
    return {{w, h, 0, 0, 0, 255, true, patternBytes(w, h, 3, 0)},
            {w / 2 + 40, h / 2 + 3, w / 3, -5, 1, 200, true, patternBytes(w / 2 + 40, h / 2 + 3, 4, 1)},
            {20, 20, 3, 3, 0, 255, false, Bytes(1200, 0)},
            {30, 10, -10, h - 4, 2, 128, true, patternBytes(30, 10, 1, 2)}};
}

TEST(XcfReader, HandBuiltLayersAndCodings) {
    const int w = 150, h = 90;  // three tiles across, two down
    const auto layers = twoLayers(w, h);
    const Rgb want = flatten(w, h, layers);
    for (int version : {0, 11})
        for (int compression : {0, 1, 2}) {
            SCOPED_TRACE("version " + std::to_string(version) + " compression " + std::to_string(compression));
            OwnedImage img;
            ASSERT_EQ(ST_OK, loadBytesAs("xcf", buildXcf(version, compression, w, h, layers), &img));
            EXPECT_EQ(0, compareRgb(toRgb(img), want, 1));
        }
}

TEST(XcfReader, HandBuiltAgainstImageMagick) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const int w = 100, h = 70;
    const std::vector<XcfLayerSpec> layers = {{w, h, 0, 0, 0, 255, true, patternBytes(w, h, 3, 0)},
                                              {40, 30, 20, 10, 1, 255, true, patternBytes(40, 30, 4, 1)}};
    const std::string path = tempPath("im.xcf");
    ASSERT_TRUE(writeFile(path, buildXcf(0, 1, w, h, layers)));
    Rgb want;
    ASSERT_TRUE(peerRgb(false, path, &want));
    OwnedImage img;
    ASSERT_EQ(ST_OK, load(path, &img));
    EXPECT_EQ(0, compareRgb(toRgb(img), want, 2));
}

TEST(XcfReader, DamagedFiles) {
    const int w = 70, h = 70;
    const std::vector<XcfLayerSpec> one = {{w, h, 0, 0, 0, 255, true, patternBytes(w, h, 3, 0)}};
    const Bytes good = buildXcf(11, 1, w, h, one);
    Bytes cut(good.begin(), good.end() - 40);
    Bytes badRun = good;
    badRun[badRun.size() - 1] ^= 0xFF;
    Bytes precision = good;
    precision[29] = 200;  // 16-bit samples
    Bytes version = good;
    version[11] = '9';  // v091
    struct Case {
        const char* name;
        Bytes file;
        Status status;
    } cases[] = {
        {"whole", good, ST_OK},
        {"cut in its last tile", cut, ST_READ_ERROR},
        {"16-bit precision", precision, ST_BAD_FILE},
        {"version 91", version, ST_UNKNOWN_FORMAT},
        {"CinePaint's XCF", cat({Bytes{'g', 'i', 'm', 'p', ' ', 'x', 'c', 'f', ' ', 'v', '1', '0', '0', 0},
                                 be32({1, 1, 0, 0, 0})}),
         ST_UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        EXPECT_EQ(c.status, loadBytesAs("xcf", c.file, &img));
    }
    OwnedImage img;
    const Status st = loadBytesAs("xcf", badRun, &img);
    EXPECT_TRUE(st == ST_CORRUPT || st == ST_OK) << st;  // the last byte may be a literal
}

TEST(XcfReader, CorpusAgainstImageMagick) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    // ImageMagick reads the 32-bit pointer files (version 0) only.
    for (const char* name : {"xcf/grid.xcf", "xcf/simple-bw-gimp-2.8.10.xcf", "xcf/simple-rgb-gimp-2.8.10.xcf"}) {
        SCOPED_TRACE(name);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(corpusPath(name), &img));
        Rgb want;
        ASSERT_TRUE(peerRgb(false, corpusPath(name), &want));
        EXPECT_EQ(0, compareRgb(toRgb(img), want, 2));
    }
    for (const char* name : {"xcf/64x64.xcf", "xcf/gimp-wilber.xcf", "xcf/issue_14.xcf"}) {
        SCOPED_TRACE(name);
        OwnedImage img;
        EXPECT_EQ(ST_OK, load(corpusPath(name), &img));
    }
}

}  // namespace
