// LZW strips of large TIFF pictures are decoded side by side: the pixels,
// the status, the reader's message and the rows kept of a damaged file are
// those of the strips decoded one at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "opsupport.h"
#include "stream.h"
#include "testpictures.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

struct Outcome {
    Status status;
    Status kept;  // with damage accepted
    std::string message;
    Rgb pixels;
};

void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Where a little-endian file's first directory keeps its strip offsets (32-bit)
// and byte counts (16 or 32-bit).
struct StripTable {
    size_t offsetsEntry = 0;  // the directory entry of the offsets
    size_t offsets = 0, counts = 0;
    size_t countSize = 4;
    uint32_t count = 0;
    uint32_t byteCount(const std::vector<uint8_t>& f, uint32_t i) const {
        return countSize == 4 ? loadU32LE(&f[counts + 4 * i]) : f[counts + 2 * i] | f[counts + 2 * i + 1] << 8;
    }
    void setByteCount(std::vector<uint8_t>* f, uint32_t i, uint32_t v) const {
        if (countSize == 4) put32(&(*f)[counts + 4 * i], v);
        else (*f)[counts + 2 * i] = static_cast<uint8_t>(v), (*f)[counts + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
};

bool findStrips(const std::vector<uint8_t>& f, StripTable* t) {
    if (f.size() < 8 || f[0] != 'I') return false;
    const size_t dir = loadU32LE(&f[4]);
    if (dir + 2 > f.size()) return false;
    const unsigned entries = f[dir] | f[dir + 1] << 8;
    for (unsigned i = 0; i < entries && dir + 2 + 12 * (i + 1) <= f.size(); ++i) {
        const uint8_t* e = &f[dir + 2 + 12 * i];
        const unsigned tag = e[0] | e[1] << 8, type = e[2] | e[3] << 8;
        if (tag == 273 && type == 4) t->offsetsEntry = dir + 2 + 12 * i, t->count = loadU32LE(e + 4), t->offsets = loadU32LE(e + 8);
        if (tag == 279 && (type == 3 || type == 4)) t->counts = loadU32LE(e + 8), t->countSize = type == 3 ? 2 : 4;
    }
    return t->count > 1 && t->offsets && t->counts && t->offsets + 4 * t->count <= f.size() &&
           t->counts + t->countSize * t->count <= f.size();
}

Outcome loadWith(const std::string& path, unsigned threads) {
    setOperationThreads(threads);
    Outcome o{};
    OwnedImage img;
    FileInfo info;
    o.status = load(path, &img, 0, &info);
    o.message = info.message;
    OwnedImage kept;
    o.kept = load(path, &kept, OPT_ACCEPT_DAMAGED);
    if (kept.pixels) o.pixels = toRgb(kept);
    setOperationThreads(0);
    return o;
}

TEST(TiffStrips, SideBySideDecodeAsOneAtATime) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    OwnedImage photo;
    ASSERT_TRUE(testpictures::makePhoto(&photo, 1200, 1000));  // large enough to be shared out
    const std::string ppm = tempPath("tiffstrips.ppm");
    ASSERT_TRUE(testpictures::writePpm(ppm, photo));
    const Rgb expected = toRgb(photo);
    struct Layout {
        const char* options;
        bool grey;
    };
    const std::vector<Layout> layouts = {
        {"-define tiff:rows-per-strip=16 -define tiff:predictor=2", false},
        {"-define tiff:rows-per-strip=7", false},  // a short last strip
        {"-define tiff:rows-per-strip=40 -interlace plane", false},  // one set of strips per plane
        {"-colorspace gray -define tiff:rows-per-strip=3 -define tiff:predictor=2", true},
    };
    // Damage to the middle strip (ImageMagick writes the strips first, the
    // directory last): its bytes garbled, its byte count halved, its offset
    // past the end of the file, the directory listing only the strips before it.
    enum Damage { NONE, GARBLED, SHORTENED, PAST_THE_END, FEWER_STRIPS };
    for (const Layout& layout : layouts) {
        const std::string tif = tempPath("tiffstrips.tif");
        ASSERT_EQ(run(std::string(IM) + " " + ppm + " -compress LZW " + layout.options + " " + tif), 0);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(tif, &file));
        StripTable table;
        ASSERT_TRUE(findStrips(file, &table));
        ASSERT_GT(table.count, 8u);
        const uint32_t middle = table.count / 2;
        for (Damage damage : {NONE, GARBLED, SHORTENED, PAST_THE_END, FEWER_STRIPS}) {
            SCOPED_TRACE(std::string(layout.options) + " damage " + std::to_string(damage));
            std::vector<uint8_t> bytes = file;
            const uint32_t offset = loadU32LE(&bytes[table.offsets + 4 * middle]);
            const uint32_t count = table.byteCount(bytes, middle);
            if (damage == GARBLED)
                for (uint32_t i = offset + count / 3; i < offset + count / 3 + 16; ++i) bytes[i] = 0xFF;
            if (damage == SHORTENED) table.setByteCount(&bytes, middle, count / 2);
            if (damage == PAST_THE_END) put32(&bytes[table.offsets + 4 * middle], static_cast<uint32_t>(bytes.size() + 100));
            if (damage == FEWER_STRIPS) put32(&bytes[table.offsetsEntry + 4], middle);
            const std::string path = tempPath("tiffstrips_damaged.tif");
            ASSERT_TRUE(writeFile(path, bytes));
            const Outcome one = loadWith(path, 1);
            const Outcome two = loadWith(path, 2);
            const Outcome three = loadWith(path, 3);
            if (damage == NONE) {
                ASSERT_EQ(one.status, ST_OK);
                if (!layout.grey) EXPECT_EQ(compareRgb(one.pixels, expected), 0);
            } else {
                EXPECT_NE(one.status, ST_OK);
                if (damage != GARBLED) {  // bad codes are refused even so
                    EXPECT_EQ(one.kept, ST_OK);  // the rows before the damage
                    EXPECT_EQ(one.pixels.height, 1000);
                }
            }
            for (const Outcome* many : {&two, &three}) {
                EXPECT_EQ(many->status, one.status);
                EXPECT_EQ(many->kept, one.kept);
                EXPECT_EQ(many->message, one.message);
                EXPECT_EQ(compareRgb(many->pixels, one.pixels), 0);
            }
        }
    }
}

}  // namespace
