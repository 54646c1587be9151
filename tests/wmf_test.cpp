// Windows metafiles played by our own player: hand-built files with bitmap
// records checked against their pixels and libwmf's wmf2gd, vector drawings
// (ours and the shared samples) compared loosely with wmf2gd, damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;


// wmf2gd's rendering at the given size, read back through ImageMagick as a PPM.
bool wmf2gd(const std::string& in, int w, int h, Rgb* out) {
    static int counter = 0;
    const std::string png = tempPath("gd" + std::to_string(counter) + ".png");
    const std::string ppm = tempPath("gd" + std::to_string(counter++) + ".ppm");
    if (run(shell("wmf2gd --maxsize --maxwidth=W --maxheight=H -t png -o PNG IN && convert-im6.q16 PNG OUT",
                  {{"W", std::to_string(w)}, {"H", std::to_string(h)}, {"PNG", png}, {"IN", in}, {"OUT", ppm}})) != 0)
        return false;
    unsigned maxval;
    return readPeerPnm(ppm, out, &maxval);
}

void words(Bytes* b, std::initializer_list<int> v) {
    for (int x : v) putLE16(b, static_cast<uint32_t>(x & 0xFFFF));
}

void record(Bytes* b, uint16_t function, const Bytes& params) {
    putLE32(b, static_cast<uint32_t>(3 + params.size() / 2));
    putLE16(b, function);
    b->insert(b->end(), params.begin(), params.end());
}

Bytes params(std::initializer_list<int> v) {
    Bytes b;
    words(&b, v);
    return b;
}

// A 96 x 48 24-bit DIB (stored bottom row first), the size it is drawn at:
// libwmf smooths what it stretches, so only a bitmap drawn 1:1 compares exactly.
// Its top half is reddish, its bottom half bluish.
Bytes dib() {
    Bytes b;
    for (uint32_t v : {40u, 96u, 48u}) putLE32(&b, v);
    putLE16(&b, 1);
    putLE16(&b, 24);
    for (int i = 0; i < 6; ++i) putLE32(&b, 0);
    for (int y = 47; y >= 0; --y)
        for (int x = 0; x < 96; ++x) {
            const uint8_t v = static_cast<uint8_t>((x * 7 + y * 13) & 0x7F);
            if (y < 24) b.insert(b.end(), {v, v, 255});  // B,G,R
            else b.insert(b.end(), {255, v, v});
        }
    return b;
}

// Placeable: bbox 0,0,40,20 at 40 units an inch (96 x 48 pixels), window the same.
Bytes metafile(const std::vector<std::pair<uint16_t, Bytes>>& records, bool withEnd = true) {
    Bytes body;
    record(&body, 0x020C, params({20, 40}));
    record(&body, 0x020B, params({0, 0}));
    for (const auto& r : records) record(&body, r.first, r.second);
    if (withEnd) record(&body, 0x0000, {});
    Bytes f;
    putLE32(&f, 0x9AC6CDD7);
    words(&f, {0, 0, 0, 40, 20, 40});
    putLE32(&f, 0);
    uint16_t x = 0;
    for (size_t i = 0; i < 20; i += 2) x ^= static_cast<uint16_t>(f[i] | f[i + 1] << 8);
    putLE16(&f, x);
    words(&f, {1, 9, 0x0300});
    putLE32(&f, static_cast<uint32_t>((18 + body.size()) / 2));
    words(&f, {8});  // object slots
    // libwmf wants the true size of the largest record, in words.
    size_t largest = 3;
    for (const auto& r : records) largest = std::max(largest, 3 + r.second.size() / 2);
    putLE32(&f, static_cast<uint32_t>(largest));
    words(&f, {0});
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

Bytes stretchDib() {
    Bytes p = params({0x0020, 0x00CC, 0, 48, 96, 0, 0, 20, 40, 0, 0});  // rop, usage, src h w y x, dest h w y x
    const Bytes d = dib();
    p.insert(p.end(), d.begin(), d.end());
    return p;
}

Bytes dibStretchBlt() {
    Bytes p = params({0x0020, 0x00CC, 48, 96, 0, 0, 20, 40, 0, 0});
    const Bytes d = dib();
    p.insert(p.end(), d.begin(), d.end());
    return p;
}

// Blocks of 8 x 8 pixels whose mean colours differ by more than 40 in a
// component: edges a pixel apart and outlines of other widths do not count.
long differingBlocks(const Rgb& a, const Rgb& b, long* blocks) {
    if (a.width != b.width || a.height != b.height) return -1;
    long n = 0;
    *blocks = 0;
    for (int by = 0; by + 8 <= a.height; by += 8)
        for (int bx = 0; bx + 8 <= a.width; bx += 8, ++*blocks) {
            long sa[3] = {}, sb[3] = {};
            for (int y = by; y < by + 8; ++y)
                for (int x = bx; x < bx + 8; ++x)
                    for (int c = 0; c < 3; ++c) {
                        sa[c] += a.pixels[(static_cast<size_t>(y) * a.width + x) * 3 + c];
                        sb[c] += b.pixels[(static_cast<size_t>(y) * a.width + x) * 3 + c];
                    }
            for (int c = 0; c < 3; ++c)
                if (std::labs(sa[c] - sb[c]) > 40 * 64) {
                    ++n;
                    break;
                }
        }
    return n;
}

// The smallest rectangle holding every pixel that is not white.
void drawnBox(const Rgb& r, int* x0, int* y0, int* x1, int* y1) {
    *x0 = r.width, *y0 = r.height, *x1 = 0, *y1 = 0;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            const uint8_t* p = &r.pixels[(static_cast<size_t>(y) * r.width + x) * 3];
            if (p[0] > 245 && p[1] > 245 && p[2] > 245) continue;
            *x0 = std::min(*x0, x), *y0 = std::min(*y0, y), *x1 = std::max(*x1, x + 1), *y1 = std::max(*y1, y + 1);
        }
}

// a's drawn part scaled (nearest) onto the place of b's drawn part, white around.
Rgb fitted(const Rgb& a, const Rgb& b) {
    int ax0, ay0, ax1, ay1, bx0, by0, bx1, by1;
    drawnBox(a, &ax0, &ay0, &ax1, &ay1);
    drawnBox(b, &bx0, &by0, &bx1, &by1);
    Rgb out;
    out.width = b.width;
    out.height = b.height;
    out.pixels.assign(b.pixels.size(), 255);
    if (ax1 <= ax0 || ay1 <= ay0 || bx1 <= bx0 || by1 <= by0) return out;
    for (int y = by0; y < by1; ++y)
        for (int x = bx0; x < bx1; ++x) {
            const int sx = ax0 + (x - bx0) * (ax1 - ax0) / (bx1 - bx0), sy = ay0 + (y - by0) * (ay1 - ay0) / (by1 - by0);
            for (int c = 0; c < 3; ++c)
                out.pixels[(static_cast<size_t>(y) * b.width + x) * 3 + c] = a.pixels[(static_cast<size_t>(sy) * a.width + sx) * 3 + c];
        }
    return out;
}

TEST(WmfReader, BitmapRecords) {
    const bool peer = haveProgram("wmf2gd") && haveProgram("convert-im6.q16");
    for (const auto& rec : {std::make_pair(uint16_t(0x0F43), stretchDib()), std::make_pair(uint16_t(0x0B41), dibStretchBlt())}) {
        SCOPED_TRACE(rec.first);
        const Bytes file = metafile({rec});
        OwnedImage img;
        ASSERT_EQ(ST_OK, loadBytesAs("wmf", file, &img));
        ASSERT_EQ(96, img.width);
        ASSERT_EQ(48, img.height);
        const Rgb got = toRgb(img);
        EXPECT_EQ(255, got.pixels[0]);                        // red on top
        EXPECT_EQ(255, got.pixels[(47 * 96 + 95) * 3 + 2]);   // blue below
        // Drawn 1:1, the bitmap is the DIB's pixels exactly.
        const Bytes d = dib();
        Rgb source;
        source.width = 96;
        source.height = 48;
        for (int y = 47; y >= 0; --y)
            for (int x = 0; x < 96; ++x)
                for (int c = 2; c >= 0; --c) source.pixels.push_back(d[40 + (static_cast<size_t>(y) * 96 + x) * 3 + c]);
        EXPECT_EQ(0, compareRgb(got, source));
        if (!peer) continue;
        // libwmf resamples bitmaps even at 1:1 (it renders at 72 dpi first): close, not equal.
        const std::string path = tempPath("bitmap" + std::to_string(rec.first) + ".wmf");
        ASSERT_TRUE(writeFile(path, file));
        Rgb want;
        ASSERT_TRUE(wmf2gd(path, 96, 48, &want));
        long blocks = 0;
        EXPECT_EQ(0, differingBlocks(got, want, &blocks));
    }
}

TEST(WmfReader, VectorDrawingsLooselyAsLibwmf) {
    if (!haveProgram("wmf2gd") || !haveProgram("convert-im6.q16")) GTEST_SKIP() << "libwmf missing";
    // A bitmap, a green rectangle without outline on its right half, a black
    // ellipse outline and a red triangle.
    const Bytes hand = metafile({{0x0F43, stretchDib()},
                                 {0x02FA, params({5, 0, 0, 0, 0})},          // null pen
                                 {0x02FC, params({0, 0xFF00, 0, 0})},        // green brush
                                 {0x012D, params({0})},
                                 {0x012D, params({1})},
                                 {0x041B, params({20, 40, 0, 20})},          // bottom, right, top, left
                                 {0x02FA, params({0, 1, 0, 0, 0})},          // black pen
                                 {0x02FC, params({1, 0, 0, 0})},             // hollow brush
                                 {0x012D, params({2})},
                                 {0x012D, params({3})},
                                 {0x0418, params({18, 30, 2, 10})},
                                 {0x02FC, params({0, 0x00FF, 0, 0})},        // red brush
                                 {0x012D, params({4})},
                                 {0x0324, params({3, 2, 2, 12, 2, 2, 12})}});
    const std::string path = tempPath("vector.wmf");
    ASSERT_TRUE(writeFile(path, hand));
    std::vector<std::string> files = {path};
    if (corpusPresent()) files.insert(files.end(), {corpusPath("wmf/clock.wmf"), corpusPath("wmf/test.wmf")});
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(f, &img));
        Rgb want;
        ASSERT_TRUE(wmf2gd(f, img.width, img.height, &want));
        const Rgb got = toRgb(img);
        ASSERT_EQ(got.width, want.width);
        // libwmf fits the drawing's own extent to the picture, we keep the
        // file's frame: compare the drawn parts, each fitted to the other.
        long blocks = 0;
        const long apart = differingBlocks(fitted(got, want), want, &blocks);
        EXPECT_GE(apart, 0);
        EXPECT_LT(apart, blocks / 4);  // outlines of other widths weigh in small pictures
    }
}

TEST(WmfReader, DamagedAndForeignFiles) {
    const Bytes good = metafile({{0x0F43, stretchDib()}});
    const size_t bitmapAt = 22 + 18 + 10 + 10;  // after the window's extent and origin
    Bytes tooShort = good;
    tooShort[bitmapAt] = 1;  // the bitmap record claims one word
    tooShort[bitmapAt + 1] = 0;
    Bytes hugeDib = good;
    hugeDib[bitmapAt + 6 + 22 + 5] = 0xFF;  // DIB width past its bytes: the record is passed over
    struct Case {
        const char* name;
        Bytes file;
        Status status;
    } cases[] = {
        {"without its end record", metafile({{0x0F43, stretchDib()}}, false), ST_READ_ERROR},
        {"record cut", Bytes(good.begin(), good.end() - 20), ST_READ_ERROR},
        {"record of one word", tooShort, ST_CORRUPT},
        {"bitmap larger than its record", hugeDib, ST_OK},
        {"neither kind of header", Bytes{1, 0, 0, 0, 108, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, ST_UNKNOWN_FORMAT},
        {"an enhanced metafile: not played yet", [] {
             Bytes e(108, 0);
             e[0] = 1, e[4] = 108, e[40] = ' ', e[41] = 'E', e[42] = 'M', e[43] = 'F';
             return e;
         }(), ST_BAD_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        EXPECT_EQ(c.status, loadBytesAs("wmf", c.file, &img));
    }
}

}  // namespace
