// Autodesk FLI and FLC animations: the shared samples page by page against
// Pillow's decode, and hand-built frames of every chunk kind (the first
// frame's runs, FLC pixel-pair deltas, FLI byte deltas, 6-bit palettes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;
const char PYTHON[] = "/usr/bin/python3";


// Pillow's decode of frame `page`.
bool pillowFrame(const std::string& in, int page, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("flipeer" + std::to_string(counter++) + ".ppm");
    if (run(shell("PY -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.seek(int(sys.argv[3])); "
                  "im.convert('RGB').save(sys.argv[2], 'PPM')\" IN OUT PAGE",
                  {{"PY", PYTHON}, {"IN", in}, {"OUT", ppm}, {"PAGE", std::to_string(page)}})) != 0)
        return false;
    unsigned maxval;
    return readPeerPnm(ppm, out, &maxval);
}

Status loadPage(const std::string& path, int page, Image* img, FileInfo* info) {
    IoOptions o = defaultIoOptions();
    o.pageIndex = page;
    return loadImage(path.c_str(), img, &o, info);
}

Bytes chunk(uint16_t type, const Bytes& data) {
    Bytes b;
    putLE32(&b, static_cast<uint32_t>(data.size() + 6));
    putLE16(&b, type);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes frame(std::initializer_list<Bytes> chunks) {
    Bytes body;
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    putLE32(&b, static_cast<uint32_t>(body.size() + 16));
    putLE16(&b, 0xF1FA);
    putLE16(&b, static_cast<uint32_t>(chunks.size()));
    b.resize(16, 0);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes animation(uint16_t magic, int w, int h, std::initializer_list<Bytes> frames) {
    Bytes b(128, 0);
    b[4] = static_cast<uint8_t>(magic);
    b[5] = static_cast<uint8_t>(magic >> 8);
    b[6] = static_cast<uint8_t>(frames.size());
    b[8] = static_cast<uint8_t>(w);
    b[10] = static_cast<uint8_t>(h);
    b[12] = 8;
    for (const Bytes& f : frames) b.insert(b.end(), f.begin(), f.end());
    const uint32_t size = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(size >> (8 * i));
    return b;
}

// Indexes of a decoded frame through the palette used below (entry i: 40 i, 0, 0).
Bytes indexesOf(const Image& img) {
    Bytes out;
    const Rgb rgb = toRgb(img);
    for (size_t i = 0; i < rgb.pixels.size(); i += 3) out.push_back(static_cast<uint8_t>(rgb.pixels[i] / 40));
    return out;
}

TEST(FliReader, HandBuiltFrames) {
    const Bytes palette = chunk(4, {1, 0, 0, 4, 0, 0, 0, 40, 0, 0, 80, 0, 0, 120, 0, 0});
    const Bytes palette64 = chunk(11, {1, 0, 0, 4, 0, 0, 0, 10, 0, 0, 20, 0, 0, 30, 0, 0});
    const Bytes first = chunk(15, {2, 3, 1, 0xFF, 2, 1, 0xFC, 0, 1, 2, 1});         // 1 1 1 2 / 0 1 2 1
    const Bytes pairs = chunk(7, {1, 0, 0xFF, 0xFF, 1, 0, 0, 0xFE, 2, 1});           // row 1: 2 1 2 1
    const Bytes bytes = chunk(12, {0, 0, 1, 0, 1, 1, 0xFD, 1});                      // row 0: 3 1 1 1
    const Bytes copy = chunk(16, {3, 2, 1, 0, 0, 1, 2, 3});
    const Bytes flc = animation(0xAF12, 4, 2, {frame({palette, first}), frame({pairs}), frame({chunk(13, {})})});
    const Bytes fli = animation(0xAF11, 4, 2, {frame({palette64, copy}), frame({bytes})});
    struct Case {
        const char* name;
        Bytes file;
        int page;
        Status status;
        Bytes indexes;
        bool pillowReads = true;  // Pillow refuses a frame of a lone empty BLACK chunk
    } cases[] = {
        {"runs", flc, 0, ST_OK, {1, 1, 1, 2, 0, 1, 2, 1}},
        {"pixel pairs after a line skip", flc, 1, ST_OK, {1, 1, 1, 2, 2, 1, 2, 1}},
        {"black", flc, 2, ST_OK, {0, 0, 0, 0, 0, 0, 0, 0}, false},
        {"6-bit palette and plain bytes", fli, 0, ST_OK, {3, 2, 1, 0, 0, 1, 2, 3}},
        {"byte deltas", fli, 1, ST_OK, {3, 1, 1, 1, 0, 1, 2, 3}},
        {"a run past the row", animation(0xAF12, 4, 2, {frame({palette, chunk(15, {1, 5, 1})})}), 0, ST_CORRUPT, {}},
        {"cut", Bytes(flc.begin(), flc.begin() + 150), 0, ST_READ_ERROR, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath(std::string("hand") + std::to_string(&c - cases) + ".flc");
        ASSERT_TRUE(writeFile(path, c.file));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(c.status, loadPage(path, c.page, &img, &info));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.indexes, indexesOf(img));
        if (c.pillowReads && havePillow()) {
            Rgb want;
            ASSERT_TRUE(pillowFrame(path, c.page, &want));
            EXPECT_EQ(0, compareRgb(toRgb(img), want, 4));  // Pillow widens 6-bit values by shifting
        }
    }
}

TEST(FliReader, CorpusAgainstPillow) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!havePillow()) GTEST_SKIP() << "Pillow missing";
    struct Case {
        const char* name;
        int pages;
        std::vector<int> compared;
    } cases[] = {{"fli/a.fli", 384, {0, 1, 7, 383}}, {"fli/hopper.fli", 1, {0}}};
    for (const Case& c : cases)
        for (int page : c.compared) {
            SCOPED_TRACE(std::string(c.name) + " page " + std::to_string(page));
            OwnedImage img;
            FileInfo info{};
            ASSERT_EQ(ST_OK, loadPage(corpusPath(c.name), page, &img, &info));
            EXPECT_EQ(c.pages, info.pageCount);
            Rgb want;
            ASSERT_TRUE(pillowFrame(corpusPath(c.name), page, &want));
            EXPECT_EQ(0, compareRgb(toRgb(img), want, 4));
        }
    // Pillow stops at the first frame of this one; its 27 frames all decode here.
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, loadPage(corpusPath("fli/2422.flc"), 26, &img, &info));
    EXPECT_EQ(27, info.pageCount);
}

}  // namespace
