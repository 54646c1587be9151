// WordPerfect Graphics: hand-built version 1 and 2 bitmaps (runs, row
// repeats, colour maps, sample sizes) checked by value and against
// ImageMagick's decode, the shared sample file page by page, and refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;
const char IM[] = "convert-im6.q16";


bool imPage(const std::string& in, int page, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("wpgim" + std::to_string(counter++) + ".ppm");
    if (run(shell("IMC 'IN[PAGE]' OUT", {{"IMC", IM}, {"IN", in}, {"PAGE", std::to_string(page)}, {"OUT", ppm}})) != 0)
        return false;
    unsigned maxval;
    return readPeerPnm(ppm, out, &maxval);
}

Bytes header(int version, uint16_t key = 0) {
    Bytes b = {0xFF, 'W', 'P', 'C', 16, 0, 0, 0, 1, 0x16, static_cast<uint8_t>(version), 0};
    putLE16(&b, key);
    putLE16(&b, 0);
    return b;
}

// A version 1 record (short lengths only).
Bytes rec1(uint8_t type, const Bytes& data) {
    Bytes b = {type};
    if (data.size() < 0xFF) {
        b.push_back(static_cast<uint8_t>(data.size()));
    } else {
        b.push_back(0xFF);
        putLE16(&b, static_cast<uint32_t>(data.size()));
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes rec2(uint8_t type, const Bytes& data) {
    Bytes b = {0x0E, type, 0, static_cast<uint8_t>(data.size())};
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes words(std::initializer_list<uint32_t> v) {
    Bytes b;
    for (uint32_t x : v) putLE16(&b, x);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Case {
    const char* name;
    Bytes file;
    Status status;
    Bytes rgb;  // the first pixels
};

TEST(WpgReader, HandBuiltBitmaps) {
    const Bytes start = rec1(0x0F, {1, 0, 16, 0, 3, 0});
    // Colour maps start at entry 0: ImageMagick takes the count for the last entry.
    const Bytes map = rec1(0x0E, cat({words({0, 4}), Bytes{0, 0, 0, 9, 9, 9, 255, 0, 0, 0, 0, 255}}));
    const Bytes mono = cat({header(1), start, rec1(0x0B, cat({words({16, 3, 1, 75, 75}), Bytes{2, 0xF0, 0x0F, 0x80, 2, 0, 1}})),
                            rec1(0x10, {})});
    const Bytes colour = cat({header(1), start, map,
                              rec1(0x14, cat({words({0, 0, 0, 100, 100, 4, 2, 4, 0, 0}), Bytes{0x82, 0x23, 0, 1}})),
                              rec1(0x10, {})});
    const Bytes start2 = rec2(0x01, cat({words({1200, 1200}), Bytes(9, 0)})), end2 = rec2(0x10, {});
    const Bytes v2 = cat({header(2), start2, rec2(0x0C, cat({words({0, 3}), Bytes{1, 2, 3, 0, 0, 255, 0, 0, 9, 9, 9, 0}})),
                          rec2(0x0E, cat({words({3, 2}), Bytes{4, 1, 0x81, 1, 0x00, 2, 0xFE, 0}})), end2});
    const Bytes v2rgb = cat({header(2), start2, rec2(0x0E, cat({words({2, 1}), Bytes{8, 1, 0x7D, 3, 0x81, 10, 20, 30}})),
                             end2});
    const Case cases[] = {
        // One bit: 1 is white (ImageMagick paints them from its default palette instead).
        {"1-bit runs and a row repeat", mono, ST_OK, {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0, 0, 0}},
        {"4-bit with a colour map, type 2 record", colour, ST_OK, {255, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 255}},
        {"version 2, 8-bit, palette and row repeat", v2, ST_OK, {0, 255, 0, 0, 255, 0, 9, 9, 9}},
        {"version 2, 24-bit samples", v2rgb, ST_OK, {10, 20, 30, 10, 20, 30}},
        {"row repeat inside a row", cat({header(1), rec1(0x0B, cat({words({16, 2, 1, 0, 0}), Bytes{1, 0xF0, 0, 1}}))}),
         ST_CORRUPT, {}},
        {"cut runs", Bytes(mono.begin(), mono.end() - 5), ST_READ_ERROR, {}},
        {"encrypted", cat({header(1, 0x1234), start}), ST_BAD_FILE, {}},
        {"no bitmap", cat({header(1), start, rec1(0x10, {})}), ST_BAD_FILE, {}},
        {"not WPG", cat({Bytes{0xFF, 'W', 'P', 'C', 16, 0, 0, 0, 1, 0x0A, 1, 0, 0, 0, 0, 0}, start}), ST_UNKNOWN_FORMAT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("wpg", c.file, &img));
        if (c.status != ST_OK) continue;
        const Rgb got = toRgb(img);
        ASSERT_GE(got.pixels.size(), c.rgb.size());
        EXPECT_EQ(c.rgb, Bytes(got.pixels.begin(), got.pixels.begin() + static_cast<long>(c.rgb.size())));
        if (haveProgram(IM) && img.kind != IMG_BINARY) {
            const std::string path = tempPath("hand" + std::to_string(&c - cases) + ".wpg");
            ASSERT_TRUE(writeFile(path, c.file));
            Rgb want;
            ASSERT_TRUE(imPage(path, 0, &want));
            EXPECT_EQ(0, compareRgb(got, want));
        }
    }
}

TEST(WpgReader, CorpusPagesAgainstImageMagick) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (int page : {0, 1}) {
        SCOPED_TRACE(page);
        IoOptions o = defaultIoOptions();
        o.pageIndex = page;
        OwnedImage img;
        FileInfo info{};
        const std::string path = corpusPath("wpg/input.wpg");
        ASSERT_EQ(ST_OK, loadImage(path.c_str(), &img, &o, &info));
        EXPECT_EQ(2, info.pageCount);
        Rgb want;
        ASSERT_TRUE(imPage(path, page, &want));
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

}  // namespace
