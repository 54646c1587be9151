// JBIG through JBIG-KIT: files from jbigkit's pbmtojbg (bi-level and grey
// levels) decode as its jbgtopbm decodes them, our files read back in
// jbgtopbm, and damaged or hostile headers are refused before JBIG-KIT sees them.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "testutil.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

int jbigIndex() {
    static int index = findFormat("jbig");
    return index;
}

bool havePeers() { return haveProgram("pbmtojbg") && haveProgram("jbgtopbm"); }

// A portable bitmap or graymap: 0 = black for P5 as for the image, 1 = black for P4.
struct Pnm {
    int width = 0, height = 0, maxval = 1;
    bool grey = false;
    std::vector<int> values;  // P4: 1 for black; P5: the grey level
};

bool readPnm(const std::string& path, Pnm* out) {
    Bytes b;
    if (!readFile(path, &b) || b.size() < 3 || b[0] != 'P' || (b[1] != '4' && b[1] != '5')) return false;
    out->grey = b[1] == '5';
    size_t pos = 2;
    long v[3] = {0, 0, 1};
    for (int i = 0; i < (out->grey ? 3 : 2); ++i) {
        while (pos < b.size() && (isspace(b[pos]) || b[pos] == '#')) {
            if (b[pos] == '#')
                while (pos < b.size() && b[pos] != '\n') ++pos;
            else
                ++pos;
        }
        v[i] = 0;
        while (pos < b.size() && isdigit(b[pos])) v[i] = v[i] * 10 + (b[pos++] - '0');
    }
    ++pos;
    out->width = static_cast<int>(v[0]);
    out->height = static_cast<int>(v[1]);
    out->maxval = static_cast<int>(v[2]);
    out->values.clear();
    const size_t rowBytes = out->grey ? out->width : (out->width + 7) / 8;
    if (b.size() < pos + rowBytes * out->height || out->maxval > 255) return false;
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x) {
            const uint8_t* r = &b[pos + y * rowBytes];
            out->values.push_back(out->grey ? r[x] : (r[x / 8] >> (7 - x % 8)) & 1);
        }
    return true;
}

bool writePnm(const std::string& path, const Pnm& p) {
    std::string h = std::string(p.grey ? "P5" : "P4") + "\n" + std::to_string(p.width) + " " +
                    std::to_string(p.height) + "\n" + (p.grey ? std::to_string(p.maxval) + "\n" : "");
    Bytes b(h.begin(), h.end());
    const size_t rowBytes = p.grey ? p.width : (p.width + 7) / 8;
    for (int y = 0; y < p.height; ++y) {
        Bytes row(rowBytes, 0);
        for (int x = 0; x < p.width; ++x) {
            int v = p.values[y * p.width + x];
            if (p.grey) row[x] = static_cast<uint8_t>(v);
            else if (v) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return writeFile(path, b);
}

Pnm pattern(int w, int h, int maxval) {
    Pnm p;
    p.width = w;
    p.height = h;
    p.maxval = maxval;
    p.grey = maxval > 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = (x * 3 + y * 5 + (x / 9) * (y / 7)) % (maxval + 1);
            if (maxval == 1) v = ((x / 5 + y / 3) % 3 == 0) || x == y;
            p.values.push_back(v);
        }
    return p;
}

// The image's pixels in the form of the PNM: 1 for black (bi-level), the level (grey).
std::vector<int> valuesOf(const Image& img) {
    std::vector<int> v;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            int p = img.pixels[static_cast<size_t>(y) * img.stride + x];
            v.push_back(img.kind == IMG_BINARY ? (p ? 0 : 1) : p);
        }
    return v;
}

TEST(Jbig, PbmtojbgFilesDecodeAsJbgtopbm) {
    if (!havePeers()) GTEST_SKIP() << "jbigkit missing";
    const struct {
        const char* name;
        int width, height, maxval;
        const char* options;
        uint16_t kind;
        int colours;
    } cases[] = {
        {"bilevel", 203, 77, 1, "", IMG_BINARY, 2},
        {"stripes", 64, 300, 1, "-s 16", IMG_BINARY, 2},
        {"progressive", 120, 90, 1, "-d 2 -p 8", IMG_BINARY, 2},
        {"grey4", 50, 40, 3, "", IMG_GREY, 4},
        {"grey16", 71, 33, 15, "", IMG_GREY, 16},
        {"grey256", 40, 30, 255, "", IMG_GREY, 256},
    };
    for (const auto& c : cases) {
        std::string src = tempPath(std::string(c.name) + ".pnm"), jbg = tempPath(std::string(c.name) + ".jbg");
        std::string ref = tempPath(std::string(c.name) + "_ref.pnm");
        ASSERT_TRUE(writePnm(src, pattern(c.width, c.height, c.maxval)));
        ASSERT_EQ(run("pbmtojbg " + std::string(c.options) + " " + src + " " + jbg + " 2>/dev/null"), 0) << c.name;
        ASSERT_EQ(run("jbgtopbm " + jbg + " " + ref + " 2>/dev/null"), 0) << c.name;
        Pnm expected;
        ASSERT_TRUE(readPnm(ref, &expected)) << c.name;
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(load(jbg, &img, 0, &info), ST_OK) << c.name;  // found by its extension
        EXPECT_STREQ(info.formatName, "JBIG");
        EXPECT_EQ(img.kind, c.kind) << c.name;
        EXPECT_EQ(img.colours, c.colours) << c.name;
        ASSERT_EQ(img.width, expected.width);
        ASSERT_EQ(img.height, expected.height);
        EXPECT_EQ(valuesOf(img), expected.values) << c.name;
    }
}

TEST(Jbig, OurFilesReadByJbgtopbm) {
    const struct {
        const char* name;
        uint16_t kind;
        int colours;
        int planes;
    } cases[] = {{"binary", IMG_BINARY, 2, 1}, {"grey4", IMG_GREY, 4, 2}, {"grey16", IMG_GREY, 16, 4},
                 {"grey256", IMG_GREY, 256, 8}};
    for (const auto& c : cases) {
        OwnedImage img;
        ASSERT_EQ(createImage(&img, c.kind, 1, 61, 37), 1);
        img.colours = c.colours;
        for (int y = 0; y < img.height; ++y)
            for (int x = 0; x < img.width; ++x)
                img.pixels[static_cast<size_t>(y) * img.stride + x] =
                    static_cast<uint8_t>((x * 7 + y * 3 + x * y / 5) % c.colours);
        std::string path = tempPath(std::string("ours_") + c.name + ".jbg");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(jbigIndex());
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        ASSERT_EQ(saveImage(name.data(), &img, &o), ST_OK) << c.name;
        Bytes f;
        ASSERT_TRUE(readFile(path, &f));
        ASSERT_GE(f.size(), 20u);
        EXPECT_EQ(f[2], c.planes) << c.name;  // the planes field of the header

        OwnedImage back;
        ASSERT_EQ(load(path, &back), ST_OK) << c.name;
        EXPECT_EQ(valuesOf(back), valuesOf(img)) << c.name;
        EXPECT_EQ(back.colours, c.colours);

        if (!havePeers()) continue;
        std::string ref = path + ".pnm";
        ASSERT_EQ(run("jbgtopbm " + path + " " + ref + " 2>/dev/null"), 0) << c.name;
        Pnm decoded;
        ASSERT_TRUE(readPnm(ref, &decoded)) << c.name;
        EXPECT_EQ(decoded.values, valuesOf(img)) << c.name;
    }
}

TEST(Jbig, WriterTakesBinaryAndGreyOnly) {
    OwnedImage img;
    ASSERT_EQ(createImage(&img, IMG_RGB, 1, 4, 4), 1);
    std::string path = tempPath("refused.jbg");
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(jbigIndex());
    EXPECT_EQ(saveImage(name.data(), &img, &o), ST_KIND_REFUSED);
}

// A header: DL, D, P, 0, XD, YD, L0, MX, MY, order, options; then the data.
Bytes header(int planes, uint32_t width, uint32_t height, uint8_t options = 0x1C) {
    Bytes h = {0, 0, static_cast<uint8_t>(planes), 0};
    for (uint32_t v : {width, height, 4u})
        h.insert(h.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    h.insert(h.end(), {8, 0, 3, options});
    return h;
}

Status loadBytes(const Bytes& bytes, Image* img, FileInfo* info) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".jbg");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(jbigIndex());
    return loadImage(path.c_str(), img, &o, info);
}

TEST(Jbig, HostileAndDamagedFiles) {
    // A real file to cut and spoil.
    OwnedImage src;
    ASSERT_EQ(createImage(&src, IMG_BINARY, 1, 90, 60), 1);
    for (int i = 0; i < 90 * 60; ++i) src.pixels[i] = static_cast<uint8_t>((i / 7 + i / 90) & 1);
    std::string path = tempPath("good.jbg");
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(jbigIndex());
    ASSERT_EQ(saveImage(name.data(), &src, &o), ST_OK);
    Bytes good;
    ASSERT_TRUE(readFile(path, &good));
    Bytes spoiled = good;
    for (size_t i = 20; i + 1 < spoiled.size(); i += 2) {
        spoiled[i] = 0xFF;
        spoiled[i + 1] = 0x7F;  // no such marker
    }

    const struct {
        const char* name;
        Bytes file;
        Status status;
        const char* message;  // null: any; "" : none
    } cases[] = {
        {"shortHeader", Bytes(good.begin(), good.begin() + 12), ST_UNKNOWN_FORMAT, ""},
        {"zeroPlanes", header(0, 10, 10), ST_UNKNOWN_FORMAT, ""},
        {"ninePlanes", header(9, 10, 10), ST_BAD_FILE, "JBIG : Bad number of planes !"},
        {"hugeWidth", header(1, 0xFFFFFFFFu, 10), ST_BAD_FILE, "JBIG : Bad picture's size !"},
        {"variableLength", header(1, 100, 0xFFFFFFFFu, 0x3C), ST_BAD_FILE, "JBIG : Bad picture's size !"},
        {"largestAllowed", header(8, 15999, 15999), ST_READ_ERROR, ""},  // no data after the header
        {"truncated", Bytes(good.begin(), good.end() - 10), ST_READ_ERROR, ""},
        {"spoiled", spoiled, ST_BAD_FILE, nullptr},
    };
    for (const auto& c : cases) {
        OwnedImage img;
        FileInfo info;
        EXPECT_EQ(loadBytes(c.file, &img, &info), c.status) << c.name;
        EXPECT_EQ(img.pixels, nullptr) << c.name;
        if (c.message) EXPECT_STREQ(info.message, c.message) << c.name;
        else EXPECT_GT(strlen(info.message), 0u) << c.name;  // JBIG-KIT's own text
    }
}

// One stripe per plane, each closed by its end marker with no coded data: a
// tiny file that JBIG-KIT would expand to a whole picture.
Bytes emptyStripes(int planes, uint32_t width, uint32_t height) {
    Bytes h = {0, 0, static_cast<uint8_t>(planes), 0};
    for (uint32_t v : {width, height, height})
        h.insert(h.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    h.insert(h.end(), {0, 0, 3, 0});
    for (int p = 0; p < planes; ++p) h.insert(h.end(), {0xFF, 0x02});
    return h;
}

TEST(Jbig, TinyFileClaimingALargePictureRefusedBeforeDecoding) {
    // Past the floor every file may give, counting a byte a pixel for each plane.
    const uint32_t rows1 = uint32_t(PICTURE_BYTES_FLOOR / 4096), rows8 = uint32_t(PICTURE_BYTES_FLOOR / 8 / 2048);
    const struct {
        const char* name;
        int planes;
        uint32_t width, height;
        Status status;
    } cases[] = {
        {"onePlaneAtFloor", 1, 4096, rows1, ST_OK},
        {"onePlanePastFloor", 1, 4096, rows1 + 1, ST_READ_ERROR},
        {"eightPlanesAtFloor", 8, 2048, rows8, ST_OK},
        {"eightPlanesPastFloor", 8, 2048, rows8 + 1, ST_READ_ERROR},
    };
    for (const auto& c : cases) {
        OwnedImage img;
        FileInfo info;
        EXPECT_EQ(loadBytes(emptyStripes(c.planes, c.width, c.height), &img, &info), c.status) << c.name;
        EXPECT_EQ(img.pixels != nullptr, c.status == ST_OK) << c.name;
    }
}

TEST(Jbig, CorpusAsJbgtopbm) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/jbig/";
    const char* files[] = {"input.bie", "input.jbig", "input_p4_pbmtojbg.jbg"};
    Bytes probe;
    if (!readFile(dir + files[0], &probe)) GTEST_SKIP() << "no corpus";
    if (!havePeers()) GTEST_SKIP() << "jbigkit missing";
    for (const char* f : files) {
        std::string ref = tempPath(std::string(f) + ".pbm");
        ASSERT_EQ(run("jbgtopbm " + dir + f + " " + ref + " 2>/dev/null"), 0) << f;
        Pnm expected;
        ASSERT_TRUE(readPnm(ref, &expected));
        OwnedImage img;
        ASSERT_EQ(load(dir + f, &img), ST_OK) << f;
        EXPECT_EQ(img.width, 70);
        EXPECT_EQ(img.height, 46);
        EXPECT_EQ(valuesOf(img), expected.values) << f;
    }
}

}  // namespace
