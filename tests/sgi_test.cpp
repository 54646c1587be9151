// Silicon Graphics images: hand-built files pin down byte orders, channel
// counts, run-length packets, 16-bit samples and the refusals; files written by
// netpbm and ImageMagick decode to their pixels; our files, verbatim and
// run-length, read back the same in both programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;


namespace {

const char IM[] = "convert-im6.q16";

int sgiIndex() {
    static int index = findFormat("sgi");
    return index;
}

// ---- hand-built files ------------------------------------------------------------

struct SgiFile {
    bool little = false;
    uint8_t storage = 0;
    uint8_t bpc = 1;
    uint16_t dimension = 3;
    uint16_t xsize = 2, ysize = 1, zsize = 1;
    uint32_t pixmax = 255;
    // Verbatim: the data after the header. Run-length: one packed row per
    // y + z x ysize, laid out after the tables.
    std::vector<uint8_t> data;
    std::vector<std::vector<uint8_t>> rows;
    std::vector<std::pair<size_t, uint32_t>> lengthOverride;  // row index, stored length
    std::vector<std::pair<size_t, uint32_t>> startOverride;
    size_t cut = 0;  // bytes removed from the end
};

void put(std::vector<uint8_t>* v, uint32_t x, int bytes, bool little) {
    for (int i = 0; i < bytes; ++i) {
        int shift = little ? 8 * i : 8 * (bytes - 1 - i);
        v->push_back(static_cast<uint8_t>(x >> shift));
    }
}

std::vector<uint8_t> buildSgi(const SgiFile& s) {
    std::vector<uint8_t> f;
    put(&f, 474, 2, s.little);
    f.push_back(s.storage);
    f.push_back(s.bpc);
    put(&f, s.dimension, 2, s.little);
    put(&f, s.xsize, 2, s.little);
    put(&f, s.ysize, 2, s.little);
    put(&f, s.zsize, 2, s.little);
    put(&f, 0, 4, s.little);
    put(&f, s.pixmax, 4, s.little);
    f.resize(512, 0);
    if (s.storage == 1) {
        std::vector<uint32_t> starts, lengths;
        uint32_t at = static_cast<uint32_t>(512 + 8 * s.rows.size());
        for (const auto& r : s.rows) {
            starts.push_back(at);
            lengths.push_back(static_cast<uint32_t>(r.size()));
            at += static_cast<uint32_t>(r.size());
        }
        for (auto o : s.lengthOverride) lengths[o.first] = o.second;
        for (auto o : s.startOverride) starts[o.first] = o.second;
        for (uint32_t v : starts) put(&f, v, 4, s.little);
        for (uint32_t v : lengths) put(&f, v, 4, s.little);
        for (const auto& r : s.rows) f.insert(f.end(), r.begin(), r.end());
    } else {
        f.insert(f.end(), s.data.begin(), s.data.end());
    }
    f.resize(f.size() - s.cut);
    return f;
}

Status loadBytes(const std::vector<uint8_t>& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".sgi");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(sgiIndex());
    o.flags = flags;
    return loadImage(path.c_str(), img, &o, info);
}

struct HandCase {
    const char* name;
    SgiFile file;
    Status status;
    const char* message;           // for ST_BAD_FILE and ST_CORRUPT
    uint16_t kind;
    std::vector<uint8_t> pixels;   // image rows top first (with OPT_ACCEPT_DAMAGED for failures)
};

SgiFile verbatim(uint16_t x, uint16_t y, uint16_t z, std::vector<uint8_t> data, uint8_t bpc = 1) {
    SgiFile s;
    s.xsize = x;
    s.ysize = y;
    s.zsize = z;
    s.dimension = z == 1 ? 2 : 3;
    s.bpc = bpc;
    s.data = std::move(data);
    return s;
}

SgiFile runLength(uint16_t x, uint16_t y, uint16_t z, std::vector<std::vector<uint8_t>> rows, uint8_t bpc = 1) {
    SgiFile s = verbatim(x, y, z, {}, bpc);
    s.storage = 1;
    s.rows = std::move(rows);
    return s;
}

template <typename F>
SgiFile with(SgiFile s, F change) {
    change(&s);
    return s;
}

TEST(SgiReader, HandBuiltFiles) {
    const std::vector<HandCase> cases = {
        {"verbatim grey is bottom-up", verbatim(3, 2, 1, {1, 2, 3, 4, 5, 6}), ST_OK, nullptr, IMG_GREY,
         {4, 5, 6, 1, 2, 3}},
        {"verbatim colour, channel after channel", verbatim(2, 1, 3, {10, 20, 30, 40, 50, 60}), ST_OK, nullptr,
         IMG_RGB, {10, 30, 50, 20, 40, 60}},
        {"run-length colour twin", runLength(2, 1, 3, {{0x82, 10, 20, 0}, {0x82, 30, 40, 0}, {0x82, 50, 60, 0}}), ST_OK,
         nullptr, IMG_RGB, {10, 30, 50, 20, 40, 60}},
        {"little-endian run-length", with(runLength(4, 2, 1, {{4, 9, 0}, {0x81, 1, 3, 2, 0}}), [](SgiFile* s) {
             s->little = true;
         }), ST_OK, nullptr, IMG_GREY, {1, 2, 2, 2, 9, 9, 9, 9}},
        {"little-endian verbatim", with(verbatim(3, 1, 1, {7, 8, 9}), [](SgiFile* s) { s->little = true; }), ST_OK,
         nullptr, IMG_GREY, {7, 8, 9}},
        {"grey and alpha become colour with alpha", verbatim(2, 1, 2, {10, 20, 200, 100}), ST_OK, nullptr, IMG_RGB32,
         {10, 10, 10, 200, 20, 20, 20, 100}},
        {"run-length grey and alpha", runLength(2, 1, 2, {{2, 10, 0}, {0x82, 1, 2, 0}}), ST_OK, nullptr, IMG_RGB32,
         {10, 10, 10, 1, 10, 10, 10, 2}},
        {"four channels keep the fourth", verbatim(1, 1, 4, {1, 2, 3, 4}), ST_OK, nullptr, IMG_RGB32, {1, 2, 3, 4}},
        {"run-length four channels", runLength(1, 1, 4, {{1, 5, 0}, {1, 6, 0}, {1, 7, 0}, {1, 8, 0}}), ST_OK, nullptr,
         IMG_RGB32, {5, 6, 7, 8}},
        // Two-byte samples span 16 bits whatever the largest-sample field says.
        {"16-bit samples ignore a largest sample of 1023",
         with(verbatim(3, 1, 1, {0x03, 0xFF, 0x02, 0x00, 0x00, 0x01}, 2), [](SgiFile* s) { s->pixmax = 1023; }),
         ST_OK, nullptr, IMG_GREY, {4, 2, 0}},
        {"16-bit samples take the rounded high byte",
         verbatim(4, 1, 1, {0xC6, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x80, 0x7F}, 2), ST_OK, nullptr, IMG_GREY,
         {197, 255, 1, 128}},
        {"16-bit run-length words", with(runLength(3, 1, 1, {{0, 0x82, 0xFF, 0xFF, 0x80, 0x00, 0, 1, 0x40, 0x00, 0, 0}},
                                                   2),
                                         [](SgiFile* s) { s->pixmax = 65535; }),
         ST_OK, nullptr, IMG_GREY, {255, 128, 64}},
        {"16-bit little-endian colour", with(verbatim(1, 1, 3, {0xFF, 0x00, 0x80, 0x00, 0xFF, 0x03}, 2), [](SgiFile* s) {
             s->little = true;
             s->pixmax = 1023;
         }), ST_OK, nullptr, IMG_RGB, {1, 0, 4}},
        {"dimension 1 is one row of one channel", with(verbatim(2, 1, 3, {5, 6}), [](SgiFile* s) {
             s->dimension = 1;
             s->ysize = 40;
         }), ST_OK, nullptr, IMG_GREY, {5, 6}},
        {"dimension 2 is one channel", with(verbatim(2, 1, 3, {5, 6}), [](SgiFile* s) { s->dimension = 2; }), ST_OK,
         nullptr, IMG_GREY, {5, 6}},
        {"runs past the row are cut", runLength(3, 2, 1, {{10, 7, 0}, {0x85, 1, 2, 3, 4, 5, 0}}), ST_OK, nullptr,
         IMG_GREY, {1, 2, 3, 7, 7, 7}},
        {"a row that ends early is black after", runLength(4, 1, 1, {{0x81, 9, 0, 5, 5}}), ST_OK, nullptr, IMG_GREY,
         {9, 0, 0, 0}},
        {"literals past the stored length stop", runLength(4, 1, 1, {{0x84, 1, 2}}), ST_OK, nullptr, IMG_GREY,
         {1, 2, 0, 0}},
        {"length -1 keeps the row before",
         with(runLength(2, 2, 1, {{0x82, 7, 8, 0}, {2, 1, 0}}), [](SgiFile* s) { s->lengthOverride = {{1, ~0u}}; }),
         ST_OK, nullptr, IMG_GREY, {7, 8, 7, 8}},
        // Refusals.
        {"storage 2", with(verbatim(1, 1, 1, {1}), [](SgiFile* s) { s->storage = 2; }), ST_BAD_FILE,
         "RGB : Unknown compression type !", 0, {}},
        {"3 bytes a sample", verbatim(1, 1, 1, {1, 2, 3}, 3), ST_BAD_FILE, "RGB : Bad Bytes Per Pixel !", 0, {}},
        {"no channel", verbatim(1, 1, 0, {}), ST_BAD_FILE, "RGB : Bad number of channels !", 0, {}},
        {"five channels", verbatim(1, 1, 5, {1, 2, 3, 4, 5}), ST_BAD_FILE, "RGB : Bad number of channels !", 0, {}},
        {"width 0", verbatim(0, 1, 1, {}), ST_BAD_FILE, "RGB : Bad picture's size !", 0, {}},
        {"height 16000", verbatim(1, 16000, 1, {}), ST_BAD_FILE, "RGB : Bad picture's size !", 0, {}},
        {"header cut short", with(verbatim(1, 1, 1, {}), [](SgiFile* s) { s->cut = 100; }), ST_UNKNOWN_FORMAT,
         nullptr, 0, {}},
        {"tables cut short", with(runLength(2, 4, 3, std::vector<std::vector<uint8_t>>(12, {2, 1, 0})),
                                  [](SgiFile* s) { s->cut = 36 + 40; }),
         ST_READ_ERROR, nullptr, 0, {}},
        // Damaged data: the rows so far stay.
        {"verbatim cut in the top row", with(verbatim(2, 2, 1, {1, 2, 3, 4}), [](SgiFile* s) { s->cut = 1; }),
         ST_READ_ERROR, nullptr, IMG_GREY, {0, 0, 1, 2}},
        {"verbatim colour cut in the last channel",
         with(verbatim(1, 2, 3, {1, 2, 3, 4, 5, 6}), [](SgiFile* s) { s->cut = 1; }), ST_READ_ERROR, nullptr, IMG_RGB,
         {2, 4, 0, 1, 3, 5}},
        {"row length past the row buffer",
         with(runLength(2, 2, 1, {{2, 4, 0}, {2, 5, 0}}), [](SgiFile* s) { s->lengthOverride = {{1, 100000}}; }),
         ST_CORRUPT, "RGB : Bad row length !", IMG_GREY, {0, 0, 4, 4}},
        {"row start past the end", with(runLength(2, 2, 1, {{2, 4, 0}, {2, 5, 0}}), [](SgiFile* s) {
             s->startOverride = {{1, 900000}};
         }), ST_READ_ERROR, nullptr, IMG_GREY, {0, 0, 4, 4}},
        {"run-length data cut", with(runLength(2, 2, 1, {{2, 4, 0}, {2, 5, 0}}), [](SgiFile* s) { s->cut = 1; }),
         ST_READ_ERROR, nullptr, IMG_GREY, {0, 0, 4, 4}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = buildSgi(c.file);
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
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

TEST(SgiReader, VariantNamesAndOrientation) {
    FileInfo info;
    OwnedImage img;
    ASSERT_EQ(loadBytes(buildSgi(verbatim(2, 1, 3, {1, 2, 3, 4, 5, 6})), &img, 0, &info), ST_OK);
    EXPECT_STREQ(info.formatName, "SGI RGB (Verbatim)");
    EXPECT_EQ(info.orientation, OR_BOTTOM_UP);
    freeImage(&img);
    ASSERT_EQ(loadBytes(buildSgi(runLength(1, 1, 1, {{1, 3, 0}})), &img, 0, &info), ST_OK);
    EXPECT_STREQ(info.formatName, "SGI RGB (Run Length Encoded)");
    // Loaded with the bottom-up option, the rows come out in file order.
    freeImage(&img);
    ASSERT_EQ(loadBytes(buildSgi(verbatim(1, 2, 3, {1, 2, 3, 4, 5, 6})), &img, 0, &info), ST_OK);
    EXPECT_EQ(pixelsOf(img), (std::vector<uint8_t>{2, 4, 6, 1, 3, 5}));
    freeImage(&img);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(sgiIndex());
    o.orientation = OR_BOTTOM_UP;
    const std::string path = tempPath("flip.sgi");
    ASSERT_TRUE(writeFile(path, buildSgi(verbatim(1, 2, 3, {1, 2, 3, 4, 5, 6}))));
    ASSERT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_OK);
    EXPECT_EQ(pixelsOf(img), (std::vector<uint8_t>{1, 3, 5, 2, 4, 6}));
}

// ---- files written by the peers ----------------------------------------------------

bool havePeers() { return haveProgram(IM) && haveProgram("pnmtosgi") && haveProgram("sgitopnm"); }

struct PeerCase {
    const char* name;
    const char* make;  // $S source P6, $O the SGI file
    uint8_t storage;
    uint8_t bpc;
    uint16_t zsize;
    uint16_t kind;
};

TEST(SgiReader, PeerFilesDecodeToTheirPixels) {
    if (!havePeers()) GTEST_SKIP() << "netpbm or ImageMagick missing";
    const std::string src = tempPath("sgi_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(53, 29)));
    const std::string alphaSrc = "convert-im6.q16 $S -alpha set -channel A -fx '(i+j)/(w+h)' +channel ";
    const std::vector<PeerCase> cases = {
        {"netpbm verbatim grey", "ppmtopgm $S | pnmtosgi -verbatim > $O", 0, 1, 1, IMG_GREY},
        {"netpbm run-length grey", "ppmtopgm $S | pnmtosgi -rle > $O", 1, 1, 1, IMG_GREY},
        {"netpbm verbatim colour", "pnmtosgi -verbatim $S > $O", 0, 1, 3, IMG_RGB},
        {"netpbm run-length colour", "pnmtosgi -rle $S > $O", 1, 1, 3, IMG_RGB},
        {"netpbm 16-bit run-length, largest 1023", "pamdepth 1023 $S | pnmtosgi -rle > $O", 1, 2, 3, IMG_RGB},
        {"netpbm 16-bit verbatim, largest 65535", "pamdepth 65535 $S | pnmtosgi -verbatim > $O", 0, 2, 3, IMG_RGB},
        {"netpbm 16-bit grey, largest 300", "ppmtopgm $S | pamdepth 300 | pnmtosgi -verbatim > $O", 0, 2, 1, IMG_GREY},
        {"ImageMagick run-length colour", "convert-im6.q16 $S sgi:$O", 1, 1, 3, IMG_RGB},
        {"ImageMagick verbatim colour", "convert-im6.q16 $S -compress None sgi:$O", 0, 1, 3, IMG_RGB},
        {"ImageMagick grey", "convert-im6.q16 $S -colorspace gray sgi:$O", 1, 1, 1, IMG_GREY},
        {"ImageMagick verbatim grey", "convert-im6.q16 $S -colorspace gray -compress None sgi:$O", 0, 1, 1, IMG_GREY},
        {"ImageMagick run-length with alpha", "$A sgi:$O", 1, 1, 4, IMG_RGB32},
        {"ImageMagick verbatim with alpha", "$A -compress None sgi:$O", 0, 1, 4, IMG_RGB32},
        {"ImageMagick 16-bit colour", "convert-im6.q16 $S -depth 16 sgi:$O", 0, 2, 3, IMG_RGB},
        {"ImageMagick 16-bit with alpha", "$A -depth 16 sgi:$O", 0, 2, 4, IMG_RGB32},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("peer" + std::to_string(n) + ".sgi");
        const std::string viaNetpbm = tempPath("peer" + std::to_string(n) + "_np.pnm");
        const std::string viaIm = tempPath("peer" + std::to_string(n++) + "_im.ppm");
        const std::vector<std::pair<std::string, std::string>> names = {{"$A", alphaSrc}, {"$S", src}, {"$O", out}};
        ASSERT_EQ(run(shell(c.make, names)), 0);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(out, &bytes));
        ASSERT_GT(bytes.size(), 12u);
        EXPECT_EQ(bytes[2], c.storage);
        EXPECT_EQ(bytes[3], c.bpc);
        EXPECT_EQ(bytes[11], c.zsize);

        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        const Rgb ours = toRgb(img);
        // ImageMagick reads two-byte samples over 16 bits, as we do, but truncates
        // to 8 bits where we round.
        ASSERT_EQ(run(shell("convert-im6.q16 $O -depth 8 ppm:" + viaIm, names)), 0);
        Rgb im;
        ASSERT_TRUE(readPeerPnm(viaIm, &im, nullptr));
        EXPECT_EQ(compareRgb(ours, im, c.bpc == 2 ? 1 : 0), 0);
        // netpbm takes the largest-sample field as the range: alike only when it is the whole range.
        const std::string make = c.make;
        if (c.bpc == 1 || make.find("65535") != std::string::npos) {
            ASSERT_EQ(run(shell("sgitopnm $O | pamdepth 255 > " + viaNetpbm, names)), 0);
            Rgb np;
            ASSERT_TRUE(readPeerPnm(viaNetpbm, &np, nullptr));
            EXPECT_EQ(compareRgb(ours, np), 0);
        }
        if (c.zsize == 4) {
            const std::string alpha = tempPath("peer" + std::to_string(n) + "_a.pgm");
            ASSERT_EQ(run(shell("convert-im6.q16 $O -alpha extract -depth 8 pgm:" + alpha, names)), 0);
            Rgb a;
            ASSERT_TRUE(readPeerPnm(alpha, &a, nullptr));
            EXPECT_EQ(compareRgb(alphaOf(img), a, 1), 0);
        }
    }
}

TEST(SgiReader, CorpusFiles) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/sgi/";
    struct CorpusCase {
        const char* file;
        uint16_t kind;
        bool alpha;
    };
    const std::vector<CorpusCase> files = {
        {"hopper.bw", IMG_GREY, false},          {"hopper.sgi", IMG_RGB, false},
        {"hopper16.rgb", IMG_RGB, false},        {"rgb24alpharle.sgi", IMG_RGB32, true},
        {"rgb8a.sgi", IMG_RGB32, true},          {"transparent.sgi", IMG_RGB32, true},
    };
    std::vector<uint8_t> probe;
    if (!readFile(dir + files[0].file, &probe)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (const CorpusCase& f : files) {
        SCOPED_TRACE(f.file);
        const std::string path = dir + f.file;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        EXPECT_EQ(img.kind, f.kind);
        // hopper16.rgb stores 16-bit samples with a largest-sample field of 255:
        // ImageMagick and Pillow take the samples over 16 bits, and so do we.
        const std::string viaIm = tempPath(std::string(f.file) + ".ppm");
        ASSERT_EQ(run(std::string(IM) + " " + path + " -depth 8 ppm:" + viaIm), 0);
        Rgb im;
        ASSERT_TRUE(readPeerPnm(viaIm, &im, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), im, 1), 0);
        if (f.alpha) {
            const std::string alpha = viaIm + ".alpha.pgm";
            ASSERT_EQ(run(std::string(IM) + " " + path + " -alpha extract -depth 8 pgm:" + alpha), 0);
            Rgb a;
            ASSERT_TRUE(readPeerPnm(alpha, &a, nullptr));
            EXPECT_EQ(compareRgb(alphaOf(img), a, 1), 0);
        }
    }
}

// ---- writing ---------------------------------------------------------------------------

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

Status saveAs(Image* img, const std::string& path, int compress) {
    char name[FILE_NAME_LEN];
    snprintf(name, sizeof name, "%s", path.c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(sgiIndex());
    o.writerOption1 = static_cast<int16_t>(compress);
    return saveImage(name, img, &o);
}

struct WriteCase {
    const char* name;
    uint16_t kind;
    int colours;
    bool alpha;       // 4-byte kinds: put something in the fourth byte
    uint16_t zsize;   // what the file must hold
};

void fillImage(Image* img, int colours, bool alpha) {
    for (int y = 0; y < img->height; ++y) {
        uint8_t* r = imageRow(img, y);
        for (int x = 0; x < img->width; ++x)
            for (int k = 0; k < img->bytesPerPixel; ++k) {
                int v = (x * 29 + y * 83 + k * 61 + (x / 5 == 2 ? 0 : x * k)) & 255;
                if (x > img->width / 2) v = (y * 17 + k) & 255;  // runs
                if (img->kind == IMG_BINARY) v = (x / 3 + y) % 2;
                if (img->kind == IMG_GREY) v %= colours;
                const bool fourth = (img->kind == IMG_RGB32 && k == 3) || (img->kind == IMG_BGR32 && k == 0);
                if (fourth) v = alpha ? (x * 7 + y) & 255 : 0;
                r[x * img->bytesPerPixel + k] = static_cast<uint8_t>(v);
            }
    }
    if (img->kind == IMG_GREY) img->colours = colours;
}

TEST(SgiWriter, EveryKindAndStorageReadsBackInThePeers) {
    const std::vector<WriteCase> cases = {
        {"black and white", IMG_BINARY, 2, false, 1}, {"grey", IMG_GREY, 256, false, 1},
        {"grey of 16 levels", IMG_GREY, 16, false, 1}, {"rgb", IMG_RGB, 0, false, 3},
        {"bgr", IMG_BGR, 0, false, 3},                 {"rgb32 without alpha", IMG_RGB32, 0, false, 3},
        {"rgb32 with alpha", IMG_RGB32, 0, true, 4},   {"bgr32 with alpha", IMG_BGR32, 0, true, 4},
        {"bgr32 without alpha", IMG_BGR32, 0, false, 3},
    };
    const bool peers = havePeers();
    int n = 0;
    for (const WriteCase& c : cases) {
        for (int compress : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (compress ? " run-length" : " verbatim"));
            const int w = 300, h = 7;
            OwnedImage img;
            ASSERT_EQ(createImage(&img, c.kind, 4, w, h), 1);
            fillImage(&img, c.colours, c.alpha);
            const std::string path = tempPath("w" + std::to_string(n++) + ".sgi");
            ASSERT_EQ(saveAs(&img, path, compress), ST_OK);

            std::vector<uint8_t> b;
            ASSERT_TRUE(readFile(path, &b));
            ASSERT_GE(b.size(), 512u);
            EXPECT_EQ(b[0] << 8 | b[1], 474);
            EXPECT_EQ(b[2], compress);
            EXPECT_EQ(b[3], 1);
            EXPECT_EQ(b[4] << 8 | b[5], c.zsize == 1 ? 2 : 3);
            EXPECT_EQ(b[6] << 8 | b[7], w);
            EXPECT_EQ(b[8] << 8 | b[9], h);
            EXPECT_EQ(b[10] << 8 | b[11], c.zsize);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[24])), "no name");
            if (compress) {
                EXPECT_EQ(be32(b, 512), 512u + 8 * h * c.zsize);  // the first row starts after the tables
                EXPECT_EQ(be32(b, 140), b.size());                // where the data end
            } else {
                EXPECT_EQ(b.size(), 512u + static_cast<size_t>(w) * h * c.zsize);
            }
            // The sample range, not the data's: readers that scale by PIXMAX must not brighten.
            EXPECT_EQ(be32(b, 12), 0u);
            EXPECT_EQ(be32(b, 16), 255u);

            const Rgb expected = toRgb(img);
            OwnedImage back;
            ASSERT_EQ(load(path, &back), ST_OK);
            EXPECT_EQ(compareRgb(toRgb(back), expected), 0);
            if (c.zsize == 4) EXPECT_EQ(compareRgb(alphaOf(back), alphaOf(img)), 0);
            if (!peers) continue;
            const std::string np = path + ".np.pnm", im = path + ".im.ppm";
            ASSERT_EQ(run("sgitopnm " + path + " > " + np + " 2>/dev/null"), 0);
            ASSERT_EQ(run(std::string(IM) + " " + path + " -depth 16 ppm:" + im), 0);
            Rgb a, b2;
            ASSERT_TRUE(readPeerPnm(np, &a, nullptr));
            ASSERT_TRUE(readPeerPnm(im, &b2, nullptr));
            EXPECT_EQ(compareRgb(a, expected), 0);
            EXPECT_EQ(compareRgb(b2, expected), 0);
            if (c.zsize == 4) {
                const std::string alpha = path + ".a.pgm";
                ASSERT_EQ(run(std::string(IM) + " " + path + " -alpha extract -depth 16 pgm:" + alpha), 0);
                Rgb pa;
                ASSERT_TRUE(readPeerPnm(alpha, &pa, nullptr));
                EXPECT_EQ(compareRgb(pa, alphaOf(img)), 0);
            }
        }
    }
}

struct PacketCase {
    const char* name;
    std::vector<uint8_t> line;
    std::vector<uint8_t> packed;
};

TEST(SgiWriter, RunLengthPackets) {
    std::vector<uint8_t> ramp130(130), packedRamp = {0x80 | 126};
    for (int i = 0; i < 130; ++i) ramp130[i] = static_cast<uint8_t>(i);
    packedRamp.insert(packedRamp.end(), ramp130.begin(), ramp130.begin() + 126);
    packedRamp.insert(packedRamp.end(), {0x80 | 4, 126, 127, 128, 129, 0});
    const std::vector<PacketCase> cases = {
        {"300 equal bytes", std::vector<uint8_t>(300, 9), {126, 9, 126, 9, 48, 9, 0}},
        {"literals then a run then a literal", {1, 2, 3, 3, 3, 3, 4}, {0x82, 1, 2, 4, 3, 0x81, 4, 0}},
        {"two equal bytes stay literal", {5, 5, 6, 6, 6}, {0x82, 5, 5, 3, 6, 0}},
        {"130 different bytes", ramp130, packedRamp},
        {"a single byte", {7}, {0x81, 7, 0}},
    };
    for (const PacketCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(createImage(&img, IMG_GREY, 1, static_cast<int>(c.line.size()), 1), 1);
        memcpy(img.pixels, c.line.data(), c.line.size());
        const std::string path = tempPath("packets.sgi");
        ASSERT_EQ(saveAs(&img, path, 1), ST_OK);
        std::vector<uint8_t> b;
        ASSERT_TRUE(readFile(path, &b));
        ASSERT_EQ(b.size(), 520 + c.packed.size());
        EXPECT_EQ(be32(b, 512), 520u);
        EXPECT_EQ(be32(b, 516), c.packed.size());
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + 520, b.end()), c.packed);
        OwnedImage back;
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(pixelsOf(back), c.line);
    }
}

TEST(SgiWriter, RefusesPaletteImagesAndStops) {
    OwnedImage pal;
    ASSERT_EQ(createImage(&pal, IMG_PALETTE, 1, 4, 4), 1);
    EXPECT_EQ(saveAs(&pal, tempPath("pal.sgi"), 0), ST_KIND_REFUSED);

    // A progress callback that asks to stop ends the save.
    OwnedImage img;
    ASSERT_EQ(createImage(&img, IMG_RGB32, 1, 8, 8), 1);
    char name[FILE_NAME_LEN];
    snprintf(name, sizeof name, "%s", tempPath("stop.sgi").c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(sgiIndex());
    o.progressCallback = [](int32_t row, int32_t, void*) { return row == 3 ? 1 : 0; };
    EXPECT_EQ(saveImage(name, &img, &o), ST_STOPPED);
}

}  // namespace
