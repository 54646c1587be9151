// Psion Series 3 and Series 5 pictures, made by hand from their layouts: bit
// order, pages, run coding across rows, damaged files and refusals; our
// writers' files read back exactly and have the layout by hand.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;

namespace {

using testpictures::makeUpright;

const auto put16 = putLE16;
const auto put32 = putLE32;

struct Bitmap {
    uint16_t width;
    uint16_t height;
    std::vector<uint8_t> data;
};

// A Series 3 file; each descriptor's offset leads past the descriptors after it
// and the data of the bitmaps before it.
std::vector<uint8_t> psion3(const std::vector<Bitmap>& bitmaps) {
    std::vector<uint8_t> f = {'P', 'I', 'C', 0xDC, '0', '0'};
    put16(&f, static_cast<uint32_t>(bitmaps.size()));
    size_t before = 0;
    for (size_t i = 0; i < bitmaps.size(); ++i) {
        put16(&f, 0);
        put16(&f, bitmaps[i].width);
        put16(&f, bitmaps[i].height);
        put16(&f, static_cast<uint32_t>(bitmaps[i].data.size()));
        put32(&f, static_cast<uint32_t>(12 * (bitmaps.size() - 1 - i) + before));
        before += bitmaps[i].data.size();
    }
    for (const Bitmap& b : bitmaps) f.insert(f.end(), b.data.begin(), b.data.end());
    return f;
}

struct Mbm {
    uint32_t width = 8, height = 1, bits = 1, compression = 0, headerLength = 40, colour = 0;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> psion5(const Mbm& m) {
    std::vector<uint8_t> f;
    for (uint32_t v : {0x10000037u, 0x10000042u, 0u, 0x47396439u, 20u, 1u, 28u}) put32(&f, v);
    for (uint32_t v : {static_cast<uint32_t>(m.data.size()), m.headerLength, m.width, m.height, 0u, 0u, m.bits,
                       m.colour, 0u, m.compression})
        put32(&f, v);
    f.insert(f.end(), m.data.begin(), m.data.end());
    return f;
}

template <typename F>
Mbm mbm(F change) {
    Mbm m;
    change(&m);
    return m;
}

struct HandCase {
    const char* name;
    const char* format;
    std::vector<uint8_t> bytes;
    Status status;
    uint16_t kind;
    std::vector<uint8_t> pixels;
};

TEST(PsionReader, HandBuiltFiles) {
    const std::vector<HandCase> cases = {
        {"series 3: leftmost pixel in bit 0, a set bit black", "psion3", psion3({{17, 1, {0x01, 0x80, 0x01, 0}}}),
         ST_OK, IMG_BINARY, {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
        {"series 3 rows cut", "psion3", psion3({{8, 2, {0xFF, 0}}}), ST_READ_ERROR, IMG_BINARY,
         {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}},
        {"series 3 with 257 bitmaps", "psion3", [] {
             std::vector<uint8_t> f = psion3({{8, 1, {0, 0}}});
             f[6] = 1;
             f[7] = 1;
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
        {"series 3 version 01", "psion3", [] {
             std::vector<uint8_t> f = psion3({{8, 1, {0, 0}}});
             f[5] = '1';
             return f;
         }(), ST_UNKNOWN_FORMAT, 0, {}},
        {"series 5, 1 bit: leftmost in bit 0, 0 black", "psion5",
         psion5(mbm([](Mbm* m) { m->data = {0x01, 0xFF, 0xFF, 0xFF}; })), ST_OK, IMG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}},
        {"series 5, 2 bits", "psion5", psion5(mbm([](Mbm* m) {
             m->width = 4;
             m->bits = 2;
             m->data = {0xE4, 0, 0, 0};
         })), ST_OK, IMG_GREY, {0, 1, 2, 3}},
        {"series 5, 4 bits", "psion5", psion5(mbm([](Mbm* m) {
             m->width = 3;
             m->bits = 4;
             m->data = {0x21, 0x0F, 0, 0};
         })), ST_OK, IMG_GREY, {1, 2, 15}},
        {"series 5, 8 bits", "psion5", psion5(mbm([](Mbm* m) {
             m->width = 2;
             m->bits = 8;
             m->data = {7, 200, 0, 0};
         })), ST_OK, IMG_GREY, {7, 200}},
        {"series 5 runs cross rows, the last clipped", "psion5", psion5(mbm([](Mbm* m) {
             m->width = 8;
             m->height = 3;
             m->bits = 8;
             m->compression = 1;
             // 12 bytes of 5, then 3 literals, then a run of 20 of which 9 fit.
             m->data = {11, 5, 0xFD, 1, 2, 3, 19, 9};
         })), ST_OK, IMG_GREY, {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 1, 2, 3, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
        {"series 5 coded cut", "psion5", psion5(mbm([](Mbm* m) {
             m->width = 4;
             m->height = 2;
             m->bits = 8;
             m->compression = 1;
             m->data = {0xFE, 1, 2, 0xFC, 3};
         })), ST_READ_ERROR, IMG_GREY, {1, 2, 3, 0, 0, 0, 0, 0}},
        {"series 5 header length 44", "psion5", psion5(mbm([](Mbm* m) {
             m->headerLength = 44;
             m->data = {0, 0, 0, 0};
         })), ST_UNKNOWN_FORMAT, 0, {}},
        {"series 5 colour", "psion5", psion5(mbm([](Mbm* m) {
             m->colour = 1;
             m->data = {0, 0, 0, 0};
         })), ST_UNKNOWN_FORMAT, 0, {}},
        {"series 5, 3 bits", "psion5", psion5(mbm([](Mbm* m) {
             m->bits = 3;
             m->data = {0, 0, 0, 0};
         })), ST_UNKNOWN_FORMAT, 0, {}},
        {"series 5 compression 2", "psion5", psion5(mbm([](Mbm* m) {
             m->compression = 2;
             m->data = {0, 0, 0, 0};
         })), ST_UNKNOWN_FORMAT, 0, {}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(loadBytesAs(c.format, c.bytes, &img), c.status);
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(loadBytesAs(c.format, c.bytes, &img, OPT_ACCEPT_DAMAGED), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

TEST(PsionReader, Series3PagesChooseTheBitmap) {
    const std::string path = tempPath("three.pic");
    ASSERT_TRUE(writeFile(path, psion3({{1, 1, {0, 0}}, {2, 1, {0, 0}}, {3, 1, {0x05, 0}}})));
    const struct {
        int page;
        int width;
    } cases[] = {{0, 1}, {1, 2}, {2, 3}, {7, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        IoOptions o = defaultIoOptions();
        o.pageIndex = c.page;
        o.formatIndex = static_cast<int16_t>(findFormat("psion3"));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadImage(path.c_str(), &img, &o, &info), ST_OK);
        EXPECT_EQ(img.width, c.width);
        EXPECT_EQ(info.pageCount, 3);
        if (c.width == 3) EXPECT_EQ(pixelsOf(img), (std::vector<uint8_t>{0, 1, 0}));
    }
}

TEST(PsionWriter, RoundTripsWithTheirLayout) {
    const struct {
        const char* name;
        const char* format;
        uint16_t kind;
        int colours;
        Status status;
        size_t size;  // of the file written
        int bits;     // series 5: bits per pixel written
    } cases[] = {
        {"series 3 black and white", "psion3", IMG_BINARY, 2, ST_OK, 20 + 4 * 7, 0},
        {"series 3 refuses grey", "psion3", IMG_GREY, 4, ST_KIND_REFUSED, 0, 0},
        {"series 5 black and white", "psion5", IMG_BINARY, 2, ST_OK, 68 + 4 * 7, 1},
        {"series 5 4 greys", "psion5", IMG_GREY, 4, ST_OK, 68 + 8 * 7, 2},
        {"series 5 16 greys", "psion5", IMG_GREY, 16, ST_OK, 68 + 12 * 7, 4},
        {"series 5 refuses 17 greys", "psion5", IMG_GREY, 17, ST_KIND_REFUSED, 0, 0},
        {"series 5 refuses a palette", "psion5", IMG_PALETTE, 16, ST_KIND_REFUSED, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img, back;
        ASSERT_TRUE(makeUpright(&img, c.kind, 19, 7, [&](int x, int y, int) {
            return static_cast<uint8_t>((x * 3 + y) % c.colours);
        }));
        img.colours = c.colours;
        const std::string path = tempPath(std::string("w") + std::to_string(c.colours) + "." + c.format);
        ASSERT_EQ(saveAs(&img, path, c.format), c.status);
        if (c.status != ST_OK) continue;
        std::vector<uint8_t> b;
        ASSERT_TRUE(readFile(path, &b));
        EXPECT_EQ(b.size(), c.size);
        if (c.bits) EXPECT_EQ(b[28 + 24], c.bits);
        ASSERT_EQ(load(path, &back), ST_OK);
        EXPECT_EQ(back.kind, c.kind);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
    }
}

TEST(PsionWriter, Series3BitsByHand) {
    OwnedImage img;
    // Black in column 0 and column 9 only.
    ASSERT_TRUE(makeUpright(&img, IMG_BINARY, 10, 1, [](int x, int, int) {
        return static_cast<uint8_t>(x == 0 || x == 9 ? 0 : 1);
    }));
    const std::string path = tempPath("bits.pic");
    ASSERT_EQ(saveAs(&img, path, "psion3"), ST_OK);
    std::vector<uint8_t> b;
    ASSERT_TRUE(readFile(path, &b));
    const std::vector<uint8_t> expected = {'P', 'I', 'C', 0xDC, '0', '0', 1, 0, 0, 0, 10, 0, 1, 0, 2, 0, 0, 0, 0, 0,
                                           0x01, 0x02};
    EXPECT_EQ(b, expected);
}

}  // namespace
