// Paint Shop Pro (format version 3.0): no program here writes these files, so
// the tests build them from the documented layout: the header, the general
// image attributes, the colour palette, the layer start and layer blocks and
// one channel block per plane, raw or run-length packed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testutil.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

const char MSG_BAD_VERSION[] = "PSP : Bad Version !";
const char MSG_BAD_IDENTIFIER[] = "PSP : Bad Identifier !";
const char MSG_UNKNOWN_COMPRESSION[] = "PSP : Unknown Compression !";
const char MSG_BAD_SIZE[] = "PSP : Bad picture's size !";
const char MSG_BAD_DEPTH[] = "PSP : Bad bit depth !";
const char MSG_BAD_BLOCK[] = "PSP : Bad block length !";

int pspIndex() {
    static int index = findFormat("psp");
    return index;
}

const auto put16 = putLE16;
const auto put32 = putLE32;
void append(Bytes* v, const Bytes& w) { v->insert(v->end(), w.begin(), w.end()); }

// A block: marker, identifier, initial and total lengths, data. `total`
// overrides the stored total length.
Bytes block(uint16_t id, const Bytes& data, int64_t total = -1) {
    Bytes b = {0x7E, 0x42, 0x4B, 0x00};
    put16(&b, id);
    put32(&b, static_cast<uint32_t>(data.size()));
    put32(&b, total < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(total));
    append(&b, data);
    return b;
}

Bytes fileHeader(uint16_t major = 3, uint16_t minor = 0) {
    const char sig[] = "Paint Shop Pro Image File\n";
    Bytes h(sig, sig + 26);
    h.resize(32, 0);
    put16(&h, major);
    put16(&h, minor);
    return h;
}

Bytes attributes(uint32_t w, uint32_t h, uint16_t compression, uint16_t depth) {
    Bytes a;
    put32(&a, w);
    put32(&a, h);
    a.insert(a.end(), 8, 0x40);  // resolution
    a.push_back(1);              // metric
    put16(&a, compression);
    put16(&a, depth);
    put16(&a, depth == 24 ? 3 : 1);
    put32(&a, depth == 24 ? 1u << 24 : 1u << depth);
    a.push_back(0);  // greyscale
    put32(&a, w * h * (depth == 24 ? 3 : 1));
    put32(&a, 0);  // active layer
    put16(&a, 1);  // layer count
    return block(0, a);
}

// Entries as R,G,B; stored as B,G,R and a reserved byte.
Bytes palette(const std::vector<Bytes>& colours) {
    Bytes p;
    put32(&p, static_cast<uint32_t>(colours.size()));
    for (const Bytes& c : colours) append(&p, {c[2], c[1], c[0], 0xEE});
    return block(2, p);
}

struct Channel {
    uint16_t bitmapType;   // 0 image, 4 alpha mask
    uint16_t channelType;  // 0 composite, 1 red, 2 green, 3 blue
    Bytes data;            // as stored (raw rows or packed)
    int64_t compressedLength = -1;  // overrides the stored length
};

Bytes channelBlock(const Channel& c) {
    Bytes r;
    put32(&r, c.compressedLength < 0 ? static_cast<uint32_t>(c.data.size()) : static_cast<uint32_t>(c.compressedLength));
    put32(&r, static_cast<uint32_t>(c.data.size()));
    put16(&r, c.bitmapType);
    put16(&r, c.channelType);
    append(&r, c.data);
    return block(5, r);
}

// The layer start block holding the layer block and its channel blocks.
Bytes layer(const std::vector<Channel>& channels, int channelCount = -1) {
    Bytes rec(256, 0);
    memcpy(rec.data(), "Background", 10);
    rec.push_back(0);          // type
    rec.insert(rec.end(), 32, 0);  // image rectangles
    append(&rec, {255, 0, 1, 0, 0});
    rec.insert(rec.end(), 32, 0);  // mask rectangles
    append(&rec, {0, 0, 0});
    put16(&rec, 5);
    rec.insert(rec.end(), 40, 0);  // blend ranges
    put16(&rec, 1);                // bitmaps
    put16(&rec, channelCount < 0 ? static_cast<uint32_t>(channels.size()) : static_cast<uint32_t>(channelCount));
    Bytes inner = rec;
    for (const Channel& c : channels) append(&inner, channelBlock(c));
    Bytes layerBlock = block(4, inner);
    return block(3, layerBlock);
}

Bytes pspFile(const std::vector<Bytes>& blocks) {
    Bytes f = fileHeader();
    for (const Bytes& b : blocks) append(&f, b);
    return f;
}

Status loadBytes(const Bytes& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr) {
    return loadBytesAs("psp", bytes, img, flags, info);
}

Bytes rawRow(const Image& img, int y) {
    const uint8_t* r = img.pixels + static_cast<size_t>(y) * img.stride;
    return Bytes(r, r + static_cast<size_t>(img.width) * img.bytesPerPixel);
}

Bytes rgbRow(const Image& img, int y) {
    Rgb rgb = toRgb(img);
    return Bytes(rgb.pixels.begin() + static_cast<size_t>(y) * rgb.width * 3,
                 rgb.pixels.begin() + static_cast<size_t>(y + 1) * rgb.width * 3);
}

// Packs bytes with literals of up to 128 and runs of up to 127.
Bytes pack(const Bytes& in) {
    Bytes out;
    size_t i = 0;
    while (i < in.size()) {
        size_t run = 1;
        while (i + run < in.size() && run < 127 && in[i + run] == in[i]) ++run;
        if (run >= 3) {
            append(&out, {static_cast<uint8_t>(128 + run), in[i]});
            i += run;
            continue;
        }
        size_t n = 0;
        while (i + n < in.size() && n < 128) {
            if (i + n + 2 < in.size() && in[i + n] == in[i + n + 1] && in[i + n] == in[i + n + 2]) break;
            ++n;
        }
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), in.begin() + i, in.begin() + i + n);
        i += n;
    }
    return out;
}

// ---- pixels --------------------------------------------------------------------------

TEST(PspReader, TrueColourChannels) {
    // 3 x 2 pixels; the red, green and blue planes arrive in any order.
    const Bytes red = {10, 20, 30, 40, 50, 60}, green = {1, 2, 3, 4, 5, 6}, blue = {200, 200, 200, 0, 0, 7};
    for (int compression = 0; compression < 2; ++compression) {
        SCOPED_TRACE(compression);
        auto data = [&](const Bytes& plane) { return compression ? pack(plane) : plane; };
        Bytes f = pspFile({attributes(3, 2, compression, 24),
                           layer({{0, 3, data(blue)}, {0, 1, data(red)}, {0, 2, data(green)}})});
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytes(f, &img, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "Paint Shop Pro");
        EXPECT_EQ(info.planes, 3);
        ASSERT_EQ(img.kind, IMG_RGB);
        EXPECT_EQ(rawRow(img, 0), (Bytes{10, 1, 200, 20, 2, 200, 30, 3, 200}));
        EXPECT_EQ(rawRow(img, 1), (Bytes{40, 4, 0, 50, 5, 0, 60, 6, 7}));
    }
}

TEST(PspReader, AlphaMaskIsTheFourthPlane) {
    const Bytes red = {1, 2}, green = {3, 4}, blue = {5, 6}, alpha = {255, 128};
    Bytes f = pspFile({attributes(2, 1, 1, 24),
                       layer({{0, 1, pack(red)}, {0, 2, pack(green)}, {0, 3, pack(blue)}, {4, 0, pack(alpha)}})});
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_RGB32);
    EXPECT_EQ(rawRow(img, 0), (Bytes{1, 3, 5, 255, 2, 4, 6, 128}));
}

TEST(PspReader, AlphaMaskWithoutAFourthPlaneIsSkipped) {
    // An 8-bit palette image with a mask: the mask must not overwrite the indices.
    const std::vector<Bytes> colours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    Bytes f = pspFile({attributes(3, 1, 0, 8), palette(colours), layer({{0, 0, {2, 0, 1}}, {4, 0, {255, 255, 0}}})});
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    ASSERT_EQ(img.kind, IMG_PALETTE);
    EXPECT_EQ(rawRow(img, 0), (Bytes{2, 0, 1}));
    EXPECT_EQ(rgbRow(img, 0), (Bytes{0, 0, 255, 255, 0, 0, 0, 255, 0}));
}

struct PackedCase {
    const char* name;
    uint16_t depth;
    int width;
    std::vector<Bytes> colours;  // palette, R,G,B
    Bytes rows;                  // stored rows, padding included
    std::vector<Bytes> expect;   // R,G,B rows
    uint16_t kind;
};

TEST(PspReader, PaletteDepths) {
    const std::vector<Bytes> bw = {{0, 0, 0}, {255, 255, 255}};
    const std::vector<Bytes> four = {{1, 2, 3}, {10, 20, 30}, {100, 110, 120}, {7, 8, 9}};
    const Bytes k = {0, 0, 0}, w = {255, 255, 255};
    auto cat = [](std::vector<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) append(&out, p);
        return out;
    };
    const std::vector<PackedCase> cases = {
        // Width 10 at 1 bit: 2 bytes a row, stored padded to 4.
        {"1 bit", 1, 10, bw, {0xA5, 0xC0, 0xFF, 0xFF, 0x00, 0x40, 0, 0},
         {cat({w, k, w, k, k, w, k, w, w, w}), cat({k, k, k, k, k, k, k, k, k, w})}, IMG_BINARY},
        // Width 5 at 4 bits: 3 bytes a row, stored padded to 4.
        {"4 bits", 4, 5, four, {0x01, 0x23, 0x10, 0xEE, 0x32, 0x10, 0x30, 0xEE},
         {cat({four[0], four[1], four[2], four[3], four[1]}), cat({four[3], four[2], four[1], four[0], four[3]})},
         IMG_PALETTE},
        {"8 bits", 8, 3, four, {3, 2, 1, 0, 0, 3}, {cat({four[3], four[2], four[1]}), cat({four[0], four[0], four[3]})},
         IMG_PALETTE},
    };
    for (const PackedCase& c : cases) {
        for (int compression = 0; compression < 2; ++compression) {
            SCOPED_TRACE(std::string(c.name) + (compression ? " packed" : ""));
            Bytes f = pspFile({attributes(c.width, 2, compression, c.depth), palette(c.colours),
                               layer({{0, 0, compression ? pack(c.rows) : c.rows}})});
            OwnedImage img;
            ASSERT_EQ(loadBytes(f, &img), ST_OK);
            EXPECT_EQ(img.kind, c.kind);
            EXPECT_EQ(rgbRow(img, 0), c.expect[0]);
            EXPECT_EQ(rgbRow(img, 1), c.expect[1]);
        }
    }
}

TEST(PspReader, GreyWithoutPalette) {
    Bytes f = pspFile({attributes(2, 1, 0, 8), layer({{0, 0, {0, 200}}})});
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    EXPECT_EQ(img.kind, IMG_GREY);
    EXPECT_EQ(rawRow(img, 0), (Bytes{0, 200}));
}

struct RunCase {
    const char* name;
    int width, height;
    Bytes data;
    Status status;
    std::vector<Bytes> rows;
    int64_t compressedLength = -1;  // more than the data: the file was cut
};

TEST(PspReader, RunLengthData) {
    Bytes literal128 = {128};
    for (int i = 0; i < 128; ++i) literal128.push_back(static_cast<uint8_t>(i));
    Bytes first128;
    for (int i = 0; i < 128; ++i) first128.push_back(static_cast<uint8_t>(i));
    const std::vector<RunCase> cases = {
        {"a run crosses into the next row", 3, 2, {133, 9, 1, 4}, ST_OK, {{9, 9, 9}, {9, 9, 4}}},
        {"count 0 is an empty literal", 2, 1, {0, 2, 5, 6}, ST_OK, {{5, 6}}},
        {"count 128 is 128 literal bytes", 128, 1, literal128, ST_OK, {first128}},
        {"count 255 repeats 127 times", 127, 1, {255, 42}, ST_OK, {Bytes(127, 42)}},
        {"data past the last row are ignored", 2, 1, {4, 1, 2, 3, 4}, ST_OK, {{1, 2}}},
        {"file ends inside the second row", 3, 3, {3, 1, 2, 3, 2, 4}, ST_READ_ERROR, {{1, 2, 3}, {4, 0, 0}, {0, 0, 0}}, 100},
        {"channel ends inside the second row", 3, 2, {3, 1, 2, 3, 131, 4}, ST_CORRUPT, {{1, 2, 3}, {0, 0, 0}}, 5},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes f = pspFile({attributes(c.width, c.height, 1, 8), layer({{0, 0, c.data, c.compressedLength}})});
        OwnedImage img;
        ASSERT_EQ(loadBytes(f, &img), c.status);
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            ASSERT_EQ(loadBytes(f, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        ASSERT_EQ(img.kind, IMG_GREY);
        for (int y = 0; y < c.height; ++y) EXPECT_EQ(rawRow(img, y), c.rows[y]) << y;
    }
}

TEST(PspReader, BlocksAreWalkedByTheirLength) {
    // An unknown block first; attributes and palette blocks longer than their
    // records; a channel of another bitmap type skipped by its own length.
    Bytes attr = attributes(2, 1, 0, 8);
    attr.insert(attr.end(), 6, 0xAB);
    attr[10] = static_cast<uint8_t>(attr.size() - 14);  // the total length covers the extra bytes
    Bytes pal = palette({{9, 8, 7}, {6, 5, 4}});
    pal.insert(pal.end(), 4, 0xCD);
    pal[10] = static_cast<uint8_t>(pal.size() - 14);
    Bytes f = pspFile({block(9, Bytes(17, 0x7E)), attr, pal, layer({{1, 0, {0, 0}}, {0, 0, {1, 0}}})});
    OwnedImage img;
    ASSERT_EQ(loadBytes(f, &img), ST_OK);
    EXPECT_EQ(rgbRow(img, 0), (Bytes{6, 5, 4, 9, 8, 7}));
}

// ---- damaged files -------------------------------------------------------------------------

struct DamageCase {
    const char* name;
    Bytes file;
    Status status;
    const char* message;
};

Bytes cutTo(Bytes f, size_t n) {
    f.resize(n);
    return f;
}

TEST(PspReader, DamagedFiles) {
    const Bytes good = pspFile({attributes(2, 2, 0, 8), layer({{0, 0, {1, 2, 3, 4}}})});
    Bytes wrongSignature = good;
    wrongSignature[5] = 'X';
    Bytes badMarker = good;
    badMarker[36 + 2] = 'X';
    Bytes v4 = fileHeader(4, 0);
    append(&v4, Bytes(good.begin() + 36, good.end()));
    Bytes v31 = fileHeader(3, 1);
    append(&v31, Bytes(good.begin() + 36, good.end()));
    // The layer start block followed by something other than a layer.
    Bytes notLayer = pspFile({attributes(2, 2, 0, 8), block(3, block(5, Bytes(12, 0)))});
    // A channel position holding another layer.
    Bytes notChannel = pspFile({attributes(2, 2, 0, 8), layer({}, 1), block(4, Bytes(10, 0))});
    Bytes shortChannel = pspFile({attributes(2, 2, 0, 8), layer({{0, 0, {1, 2, 3, 4}, 3}}), block(9, Bytes(8, 0))});
    Bytes shortAttributes = pspFile({block(0, Bytes(20, 0)), layer({{0, 0, {1, 2, 3, 4}}})});
    Bytes bigPalette = pspFile({attributes(2, 2, 0, 8), block(2, {200, 0, 0, 0, 1, 2, 3, 0}), layer({{0, 0, {1, 2, 3, 4}}})});
    Bytes pastEnd = pspFile({block(9, Bytes(4, 0), 0x7FFFFFF0), attributes(2, 2, 0, 8), layer({{0, 0, {1, 2, 3, 4}}})});
    const std::vector<DamageCase> cases = {
        {"wrong signature", wrongSignature, ST_UNKNOWN_FORMAT, ""},
        {"too short for a header", cutTo(good, 20), ST_UNKNOWN_FORMAT, ""},
        {"version 4", v4, ST_BAD_FILE, MSG_BAD_VERSION},
        {"version 3.1", v31, ST_BAD_FILE, MSG_BAD_VERSION},
        {"block without its marker", badMarker, ST_READ_ERROR, ""},
        {"no layer before the end", pspFile({attributes(2, 2, 0, 8)}), ST_READ_ERROR, ""},
        {"layer start without a layer", notLayer, ST_BAD_FILE, MSG_BAD_IDENTIFIER},
        {"a layer where a channel belongs", notChannel, ST_BAD_FILE, MSG_BAD_IDENTIFIER},
        {"compression 2", pspFile({attributes(2, 2, 2, 8), layer({{0, 0, {1, 2, 3, 4}}})}), ST_BAD_FILE,
         MSG_UNKNOWN_COMPRESSION},
        {"width 0", pspFile({attributes(0, 2, 0, 8), layer({{0, 0, {}}})}), ST_BAD_FILE, MSG_BAD_SIZE},
        {"height 16000", pspFile({attributes(2, 16000, 0, 8), layer({{0, 0, {}}})}), ST_BAD_FILE, MSG_BAD_SIZE},
        {"no attributes", pspFile({layer({{0, 0, {1, 2, 3, 4}}})}), ST_BAD_FILE, MSG_BAD_SIZE},
        {"16 bits", pspFile({attributes(2, 2, 0, 16), layer({{0, 0, Bytes(8, 0)}})}), ST_BAD_FILE, MSG_BAD_DEPTH},
        {"attributes block shorter than its record", shortAttributes, ST_BAD_FILE, MSG_BAD_BLOCK},
        {"palette count beyond its block", bigPalette, ST_BAD_FILE, MSG_BAD_BLOCK},
        {"block reaching past the end of the file", pastEnd, ST_READ_ERROR, ""},
        {"file cut inside the channel data", cutTo(good, good.size() - 1), ST_READ_ERROR, ""},
        {"file cut inside a channel record", cutTo(good, good.size() - 10), ST_READ_ERROR, ""},
        {"channel shorter than its rows", shortChannel, ST_CORRUPT, ""},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        EXPECT_EQ(loadBytes(c.file, &img, 0, &info), c.status);
        EXPECT_STREQ(info.message, c.message);
        EXPECT_EQ(img.pixels, nullptr);
    }
    // A file cut inside its data keeps the whole rows read.
    OwnedImage img;
    ASSERT_EQ(loadBytes(cutTo(good, good.size() - 1), &img, OPT_ACCEPT_DAMAGED), ST_OK);
    EXPECT_EQ(rawRow(img, 0), (Bytes{1, 2}));
    EXPECT_EQ(rawRow(img, 1), (Bytes{3, 0}));
}

TEST(PspReader, FoundByTrial) {
    // Saved without the extension, the file is still recognised.
    Bytes f = pspFile({attributes(1, 1, 0, 8), layer({{0, 0, {77}}})});
    std::string path = tempPath("noextension");
    ASSERT_TRUE(writeFile(path, f));
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(load(path, &img, 0, &info), ST_OK);
    EXPECT_EQ(info.formatIndex, pspIndex());
    EXPECT_EQ(rawRow(img, 0), (Bytes{77}));
}

}  // namespace
