// The registry table, save-mode matching, identification and the entry points.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "context.h"
#include "stream.h"
#include "testutil.h"

using namespace testutil;

namespace {

// A small 24-bit picture written by our bitmap writer.
std::string writeSampleBmp(const std::string& name, int w = 7, int h = 5) {
    OwnedImage img;
    EXPECT_TRUE(createImage(&img, IMG_RGB, 1, w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) imageRow(&img, y)[x] = static_cast<uint8_t>(x * 13 + y * 40);
    std::string path = tempPath(name);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat("bmp"));
    char buf[FILE_NAME_LEN];
    snprintf(buf, sizeof buf, "%s", path.c_str());
    EXPECT_EQ(ST_OK, saveImage(buf, &img, &o));
    return path;
}

Image makeKind(uint16_t kind, int colours) {
    Image img{};
    img.kind = kind;
    img.colours = colours;
    return img;
}

}  // namespace

TEST(Registry, CatalogueShape) {
    EXPECT_EQ(124, formatCount());
    int trial = 0, writers = 0;
    for (int i = 0; i < formatCount(); ++i) {
        const FormatRecord* r = formatRecord(i);
        ASSERT_NE(nullptr, r);
        EXPECT_NE(nullptr, r->reader) << i;
        EXPECT_LE(strlen(r->shortName), 15u);
        EXPECT_LT(strlen(r->description), 256u);
        trial += r->trial;
        writers += r->writer != nullptr;
        EXPECT_EQ(i <= 98 ? 1 : 0, r->trial) << r->shortName;
        for (int e = 0; e < MAX_EXTENSIONS && r->extensions[e]; ++e) EXPECT_LT(strlen(r->extensions[e]), 16u);
    }
    EXPECT_EQ(99, trial);
    EXPECT_EQ(33, writers);
}

TEST(Registry, NamesAndIndexes) {
    struct Case { const char* name; int index; } cases[] = {
        {"jpeg", 0}, {"bmp", 10}, {"gif", 14}, {"pnm", 17}, {"tdim", 88}, {"degas", 69}, {"raw", 123},
        {"BMP", -1}, {"", -1}, {"nosuch", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.index, findFormat(c.name)) << c.name;
    FormatInfo fi;
    EXPECT_EQ(-1, getFormatInfo(-1, &fi));
    EXPECT_EQ(-1, getFormatInfo(124, &fi));
    EXPECT_EQ(-1, getFormatInfo(0x10000 - 1, &fi));  // -1 as a 16-bit value
    ASSERT_EQ(0, getFormatInfo(10, &fi));
    EXPECT_STREQ("bmp", fi.shortName);
    EXPECT_STREQ("Windows & OS/2 Bitmap", fi.description);
    EXPECT_EQ(CAP_READ | CAP_WRITE, fi.capabilities);
    EXPECT_STREQ("rl8", fi.extensions[6]);
    EXPECT_STREQ("", fi.extensions[7]);
    ASSERT_EQ(0, getFormatInfo(89, &fi));
    EXPECT_STREQ("Electric Image", fi.description);
    EXPECT_STREQ("eidi", fi.extensions[1]);
}

TEST(Registry, FindWriteVariant) {
    struct Case {
        const char* format;
        uint16_t kind;
        int colours;
        int found;
        const char* extension;  // expected variant label, "" for none, nullptr for no variant
    } cases[] = {
        {"degas", IMG_PALETTE, 16, 1, "pi1"},
        {"degas", IMG_PALETTE, 200, 1, "pi4"},
        {"degas", IMG_BINARY, 2, 1, "pi3"},
        {"degas", IMG_RGB, 0, 0, nullptr},
        {"gif", IMG_PALETTE, 200, 1, ""},
        {"gif", IMG_PALETTE, 256, 1, ""},
        {"gif", IMG_RGB, 0, 0, nullptr},
        {"gif", IMG_BGR32, 0, 0, nullptr},
        {"pnm", IMG_BGR, 0, 1, "ppm"},
        {"pnm", IMG_GREY, 256, 1, "pgm"},
        {"pnm", IMG_BINARY, 2, 1, "pbm"},
        {"pnm", IMG_PALETTE, 16, 0, nullptr},
        {"psion5", IMG_GREY, 16, 1, ""},
        {"psion5", IMG_GREY, 4, 1, ""},
        {"psion5", IMG_GREY, 256, 0, nullptr},
        {"sgi", IMG_BINARY, 2, 1, "bw"},
        {"bmp", IMG_RGB32, 0, 1, nullptr},  // empty list: any image, no variant
        {"tiff", IMG_PALETTE, 256, 1, nullptr},
    };
    for (const Case& c : cases) {
        Image img = makeKind(c.kind, c.colours);
        const WriteVariant* v = nullptr;
        int index = findFormat(c.format);
        EXPECT_EQ(c.found, findWriteVariant(index, &img, &v)) << c.format << " kind " << c.kind;
        if (!c.extension) {
            EXPECT_EQ(nullptr, v) << c.format;
        } else {
            ASSERT_NE(nullptr, v) << c.format;
            EXPECT_STREQ(c.extension, v->extension ? v->extension : "") << c.format;
        }
    }
    // psion5 passes over the 4-level mode for a 16-level picture.
    Image grey16 = makeKind(IMG_GREY, 16);
    const WriteVariant* v = nullptr;
    ASSERT_EQ(1, findWriteVariant(findFormat("psion5"), &grey16, &v));
    EXPECT_EQ(16, v->maxColours);
}

TEST(Registry, FileExtensionNaming) {
    struct Case { const char* in; const char* ext; const char* out; } cases[] = {
        {"photo.gif", "bmp", "photo.bmp"},
        {"photo", "bmp", "photo.bmp"},
        {"a.b.c", "ppm", "a.b.ppm"},
        {"scan.001", "bmp", "scan.001.bmp"},       // a dot before a digit is a sequence number
        {"dir.d/file", "pbm", "dir.d/file.pbm"},   // a dot in a folder name is no extension
        {"dir\\x.tif", "pgm", "dir\\x.pgm"},
        {".hidden", "bmp", ".hidden.bmp"},
        {"folder/.hidden", "bmp", "folder/.hidden.bmp"},
        {"name.png", nullptr, "name"},
    };
    for (const Case& c : cases) {
        char buf[FILE_NAME_LEN];
        snprintf(buf, sizeof buf, "%s", c.in);
        setFileExtension(buf, c.ext);
        EXPECT_STREQ(c.out, buf) << c.in;
    }
}

TEST(Registry, SaveNamesAndRefusals) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 1, 4, 3));
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat("bmp"));
    o.flags = OPT_SET_EXTENSION | OPT_NAME_IN_PLACE;
    char name[FILE_NAME_LEN];
    snprintf(name, sizeof name, "%s", tempPath("named.gif").c_str());
    ASSERT_EQ(ST_OK, saveImage(name, &img, &o));
    EXPECT_EQ(tempPath("named.bmp"), name);
    struct stat sb;
    EXPECT_EQ(0, stat(name, &sb));

    // Without OPT_NAME_IN_PLACE the caller's text stays as it was.
    o.flags = OPT_SET_EXTENSION;
    snprintf(name, sizeof name, "%s", tempPath("kept.xyz").c_str());
    ASSERT_EQ(ST_OK, saveImage(name, &img, &o));
    EXPECT_EQ(tempPath("kept.xyz"), name);
    EXPECT_EQ(0, stat(tempPath("kept.bmp").c_str(), &sb));

    o.flags = 0;
    o.formatIndex = static_cast<int16_t>(findFormat("gif"));
    EXPECT_NE(ST_OK, saveImage(name, &img, &o));
    o.formatIndex = 124;
    EXPECT_EQ(ST_NO_WRITER, saveImage(name, &img, &o));
    o.formatIndex = -1;
    EXPECT_EQ(ST_NO_WRITER, saveImage(name, &img, &o));
    o.formatIndex = static_cast<int16_t>(findFormat("ras"));  // read-only format
    EXPECT_EQ(ST_NO_WRITER, saveImage(name, &img, &o));
    o.formatIndex = static_cast<int16_t>(findFormat("bmp"));
    snprintf(name, sizeof name, "%s", tempPath("no/such/folder/x.bmp").c_str());
    EXPECT_EQ(ST_CANNOT_OPEN, saveImage(name, &img, &o));
    if (access("/dev/full", W_OK) == 0) {
        snprintf(name, sizeof name, "/dev/full");
        EXPECT_EQ(ST_WRITE_ERROR, saveImage(name, &img, &o));
    }
}

TEST(Registry, IdentificationPaths) {
    std::string bmp = writeSampleBmp("ident.bmp");
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readFile(bmp, &bytes));
    struct Case {
        const char* name;
        uint16_t flags;
        int16_t index;
        Status expected;
    } cases[] = {
        {"plain.bmp", 0, -1, ST_OK},
        {"UPPER.BMP", 0, -1, ST_OK},                      // extensions are compared in lower case
        {"misnamed.gif", 0, -1, ST_OK},                   // the extension's readers refuse, trial finds it
        {"misnamed.gif", OPT_NO_SCAN, -1, ST_UNKNOWN_FORMAT},
        {"noextension", 0, -1, ST_OK},
        {"noextension", OPT_NO_SCAN, -1, ST_UNKNOWN_FORMAT},
        {"explicit.xyz", OPT_NO_SCAN, 10, ST_OK},         // named by index
        {"explicit.bmp", 0, 14, ST_UNKNOWN_FORMAT},        // named by another index: no trial
        {"long.bmpbmpbmpbmpbmpbmpbmpbmpbmpbmpbmp", OPT_NO_SCAN, -1, ST_UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        std::string path = tempPath(c.name);
        ASSERT_TRUE(writeFile(path, bytes));
        IoOptions o = defaultIoOptions();
        o.flags = c.flags;
        o.formatIndex = c.index;
        OwnedImage img;
        FileInfo fi;
        EXPECT_EQ(c.expected, loadImage(path.c_str(), &img, &o, &fi)) << c.name;
        if (c.expected == ST_OK) {
            EXPECT_EQ(10, fi.formatIndex) << c.name;
            EXPECT_EQ(7, img.width);
            EXPECT_EQ(5, img.height);
            EXPECT_EQ(1, fi.pageCount);
        } else {
            EXPECT_EQ(nullptr, img.pixels) << c.name;
        }
    }
}

TEST(Registry, EntryPointFailures) {
    OwnedImage img;
    IoOptions o = defaultIoOptions();
    EXPECT_EQ(ST_CANNOT_OPEN, loadImage(tempPath("missing.bmp").c_str(), &img, &o, nullptr));
    std::string dir = tempPath("adir.bmp");
    mkdir(dir.c_str(), 0700);
    EXPECT_EQ(ST_CANNOT_OPEN, loadImage(dir.c_str(), &img, &o, nullptr));
    std::string empty = tempPath("empty.bmp");
    ASSERT_TRUE(writeFile(empty, {}));
    EXPECT_EQ(ST_UNKNOWN_FORMAT, loadImage(empty.c_str(), &img, &o, nullptr));
    std::string junk = tempPath("junk.bin");
    ASSERT_TRUE(writeFile(junk, std::vector<uint8_t>(300, 0xA5)));
    EXPECT_EQ(ST_UNKNOWN_FORMAT, loadImage(junk.c_str(), &img, &o, nullptr));
    EXPECT_EQ(nullptr, img.pixels);
    FileInfo fi;
    EXPECT_EQ(ST_CANNOT_OPEN, readImageInfo(dir.c_str(), -1, 0, &fi));
    EXPECT_EQ(ST_UNKNOWN_FORMAT, readImageInfo(empty.c_str(), -1, 0, &fi));
}

TEST(Registry, ReadImageInfoExaminesWithoutDecoding) {
    std::string bmp = writeSampleBmp("info.dat", 33, 21);
    FileInfo fi;
    ASSERT_EQ(ST_OK, readImageInfo(bmp.c_str(), -1, 0, &fi));
    EXPECT_EQ(10, fi.formatIndex);
    EXPECT_EQ(33, fi.width);
    EXPECT_EQ(21, fi.height);
    EXPECT_EQ(1, fi.planes);
    EXPECT_EQ(24, fi.bitsPerPlane);
    EXPECT_EQ(OR_BOTTOM_UP, fi.orientation);
    EXPECT_STRNE("", fi.formatName);
    // The scan flag 0x1000 switches trial off: ".dat" belongs to no format.
    EXPECT_EQ(ST_UNKNOWN_FORMAT, readImageInfo(bmp.c_str(), -1, OPT_NO_SCAN, &fi));
    EXPECT_EQ(ST_OK, readImageInfo(bmp.c_str(), 10, OPT_NO_SCAN, &fi));
}

TEST(Registry, StandardStreams) {
    std::string bmp = writeSampleBmp("stdio.bmp", 9, 4);
    // "stdin" reads the standard input (a pipe cannot rewind, so it is read into memory first);
    // "stdout" writes the standard output.
    std::string cmd = "cat '" + bmp + "' | " + std::string(KALEO_BUILD_DIR) + "/kaleocmd -out bmp -o stdout stdin > '" +
                      tempPath("piped.bmp") + "'";
    ASSERT_EQ(0, run(cmd));
    OwnedImage a, b;
    ASSERT_EQ(ST_OK, load(bmp, &a));
    ASSERT_EQ(ST_OK, load(tempPath("piped.bmp"), &b));
    EXPECT_EQ(0, compareRgb(toRgb(a), toRgb(b)));
}

TEST(Streams, EndianHelpersAtTheEnd) {
    std::vector<uint8_t> data = {0x34, 0x12, 0x78, 0x56, 0xAB};
    FILE* f = fmemopen(data.data(), data.size(), "rb");
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(0x56781234u, readU32LE(f));
    EXPECT_EQ(0xABFFFFFFu, readU32BE(f));  // one byte left: the missing ones read as 0xFF
    EXPECT_EQ(0xFFFF, readU16LE(f));
    fclose(f);

    std::vector<uint8_t> one = {0x3F, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x01, 0x02, 0x03};
    f = fmemopen(one.data(), one.size(), "rb");
    double v = -5;
    EXPECT_EQ(ST_OK, readFloatBE(f, &v));
    EXPECT_EQ(1.0, v);
    EXPECT_EQ(ST_OK, readFloatLE(f, &v));
    EXPECT_EQ(1.0, v);
    v = -5;
    EXPECT_EQ(ST_READ_ERROR, readFloatBE(f, &v));  // three bytes left
    EXPECT_EQ(-5, v);
    fclose(f);
    EXPECT_EQ(0x3412, swap16(0x1234));
    EXPECT_EQ(0x78563412u, swap32(0x12345678u));
}

TEST(Streams, WritersProduceBothOrders) {
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    writeU16LE(f, 0x1234);
    writeU16BE(f, 0x1234);
    writeU32LE(f, 0x12345678);
    writeU32BE(f, 0x12345678);
    fclose(f);
    std::vector<uint8_t> got(buf, buf + len);
    free(buf);
    std::vector<uint8_t> want = {0x34, 0x12, 0x12, 0x34, 0x78, 0x56, 0x34, 0x12, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(want, got);
}

TEST(Image, CreateKindsAndStrides) {
    struct Case { uint16_t kind; int align; int w; uint16_t kindOut; int bpp; int stride; int colours; bool pal; } cases[] = {
        {IMG_BINARY, 1, 10, IMG_BINARY, 1, 10, 2, false},
        {IMG_GREY, 4, 10, IMG_GREY, 1, 12, 256, false},
        {IMG_PALETTE, 0, 3, IMG_PALETTE, 1, 3, 256, true},
        {IMG_24BIT, 4, 5, IMG_RGB, 3, 16, 0, false},
        {IMG_TRUECOLOUR, 1, 5, IMG_RGB, 3, 15, 0, false},
        {IMG_BGR, 2, 5, IMG_BGR, 3, 16, 0, false},
        {IMG_32BIT, 8, 3, IMG_RGB32, 4, 16, 0, false},
        {IMG_BGR32, 1, 3, IMG_BGR32, 4, 12, 0, false},
    };
    for (const Case& c : cases) {
        OwnedImage img;
        ASSERT_EQ(1, createImage(&img, c.kind, c.align, c.w, 2));
        EXPECT_EQ(c.kindOut, img.kind);
        EXPECT_EQ(c.bpp, img.bytesPerPixel);
        EXPECT_EQ(c.stride, img.stride) << c.kind;
        EXPECT_EQ(c.colours, img.colours);
        EXPECT_EQ(c.pal, img.palette != nullptr);
        EXPECT_GE(img.alignment, 1);
    }
    Image huge{};
    EXPECT_EQ(0, createImage(&huge, IMG_RGB32, 1, 2000000000, 2000000000));
    EXPECT_EQ(nullptr, huge.pixels);
}

TEST(Image, AlphaOnlyWhenAFourthByteIsSet) {
    OwnedImage rgba;
    ASSERT_TRUE(createImage(&rgba, IMG_RGB32, 1, 4, 4));
    memset(rgba.pixels, 0x7F, rgba.stride * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) imageRow(&rgba, y)[x * 4 + 3] = 0;
    EXPECT_FALSE(imageHasAlpha(&rgba));
    imageRow(&rgba, 3)[3 * 4 + 3] = 1;
    EXPECT_TRUE(imageHasAlpha(&rgba));
    OwnedImage bgra;
    ASSERT_TRUE(createImage(&bgra, IMG_BGR32, 1, 2, 1));
    bgra.pixels[5] = 9;  // a colour byte
    EXPECT_FALSE(imageHasAlpha(&bgra));
    bgra.pixels[4] = 9;  // X leads in B,G,R order
    EXPECT_TRUE(imageHasAlpha(&bgra));
    OwnedImage rgb;
    ASSERT_TRUE(createImage(&rgb, IMG_RGB, 1, 2, 1));
    memset(rgb.pixels, 255, 6);
    EXPECT_FALSE(imageHasAlpha(&rgb));
}
