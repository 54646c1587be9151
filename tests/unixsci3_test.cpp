// Synthetic Universe, SGI FIT, Quantel VPB, DBW Render, Bob, Electric Image
// and AIM pictures, built by hand from their layouts (no program at hand
// writes them): objects and pages, page layouts and orientations, sample
// types, 4:2:2 colour, nibble orders, run-length frames and refusals. The
// formats without a public layout (Digital F/X, Prisms, AirNav) claim no file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"
#include "unixsci.h"

using namespace testutil;
using namespace unixsci;

namespace {

struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int page;
    Status status;
    uint16_t kind;
    std::vector<uint8_t> pixels;  // R,G,B triplets when rgb, else image bytes
    bool rgb = false;
    int pages = 1;
    const char* message = nullptr;
};

// Runs the table through the format at index; damaged files are then read
// with damage accepted and compared.
void checkTable(int index, const std::vector<Case>& cases) {
    ASSERT_GE(index, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadIndexed(index, c.bytes, c.page, &img, &info), c.status);
        if (c.message) { EXPECT_STREQ(info.message, c.message); }
        if (c.pixels.empty()) continue;
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            ASSERT_EQ(loadIndexed(index, c.bytes, c.page, &img, &info, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        EXPECT_EQ(info.pageCount, c.pages);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(c.rgb ? toRgb(img).pixels : pixelsOf(img), c.pixels);
    }
}

// ---- Synthetic Universe -------------------------------------------------------------

std::vector<uint8_t> synuImage(int w, int h, int bytes, const std::string& mode, std::vector<uint8_t> data) {
    std::vector<uint8_t> f = text("image 4L " + std::to_string(w * h * bytes) + "b\n" + std::to_string(w) + "\n" +
                                  std::to_string(h) + "\n" + std::to_string(bytes) + "\n" + mode + "\n");
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST(SynuReader, HandBuiltObjects) {
    const std::vector<uint8_t> rgb = synuImage(1, 2, 3, "rgb", {1, 2, 3, 4, 5, 6});
    const std::vector<uint8_t> grey = synuImage(2, 1, 1, "gray", {7, 8});
    checkTable(findFormat("synu"), {
        {"rgb, bottom row first", rgb, 0, ST_OK, IMG_RGB, {4, 5, 6, 1, 2, 3}, true},
        {"gray", grey, 0, ST_OK, IMG_GREY, {7, 8}},
        {"four bytes a pixel", synuImage(1, 1, 4, "rgba", {1, 2, 3, 4}), 0, ST_OK, IMG_RGB32, {1, 2, 3, 4}},
        {"a text object first", joined(text("text 2l 3b\nfoo\nbar\nxyz"), grey), 0, ST_OK, IMG_GREY, {7, 8}},
        {"two images, the second", joined(rgb, grey), 1, ST_OK, IMG_GREY, {7, 8}, false, 2},
        {"pixels cut", synuImage(1, 2, 1, "gray", {9}), 0, ST_READ_ERROR, IMG_GREY, {0, 9}},
        {"mode hsv", synuImage(1, 1, 3, "hsv", {0, 0, 0}), 0, ST_BAD_FILE, 0, {}, false, 1,
         "Synu : Unsupported mode !"},
        {"byte count not the picture's", text("image 4L 5b\n1\n1\n1\ngray\n00000"), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"no image object", text("text 1l\nhello\n"), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"not an object line", text("Image 4L 1b\n1\n1\n1\ngray\n0"), 0, ST_UNKNOWN_FORMAT, 0, {}},
    });
}

// ---- SGI FIT ------------------------------------------------------------------------------

struct FitFile {
    bool v2 = true;
    int32_t w = 1, h = 1, z = 1, c = 1, type = 2, order = 1, space = 1, model = 2;
    int32_t pw = 0, ph = 1, pz = 1, pc = 0;  // pw 0: the width; pc 0: c
    double low = 0, high = 0;
    uint32_t dataOffset = 0;  // 0: 128 for IT02, 64 for IT01
    std::vector<uint8_t> data;
};

std::vector<uint8_t> buildFit(const FitFile& s) {
    std::vector<uint8_t> f = text(s.v2 ? "IT02" : "IT01");
    const int32_t fields[] = {s.w, s.h, s.z, s.c, s.type, s.order, s.space, s.model, s.pw ? s.pw : s.w, s.ph, s.pz,
                              s.pc ? s.pc : s.c};
    for (int32_t v : fields) put32(&f, static_cast<uint32_t>(v));
    const uint32_t offset = s.dataOffset ? s.dataOffset : s.v2 ? 128 : 64;
    if (s.v2) {
        put32(&f, 0);
        for (double d : {s.low, s.high}) {
            uint64_t bits;
            memcpy(&bits, &d, 8);
            put32(&f, static_cast<uint32_t>(bits >> 32));
            put32(&f, static_cast<uint32_t>(bits));
        }
    }
    put32(&f, offset);
    f.resize(offset, 0);
    f.insert(f.end(), s.data.begin(), s.data.end());
    return f;
}

// Byte samples of an interleaved picture stored in pages of pw x ph in the
// file's orientation: value(X, Y, k) at display position (X, Y), 0xEE in the
// padding of the edge pages.
std::vector<uint8_t> paged(int w, int h, int c, int pw, int ph, int space,
                           const std::function<uint8_t(int, int, int)>& value) {
    std::vector<uint8_t> out;
    for (int ty = 0; ty < (h + ph - 1) / ph; ++ty)
        for (int tx = 0; tx < (w + pw - 1) / pw; ++tx)
            for (int r = 0; r < ph; ++r)
                for (int q = 0; q < pw; ++q)
                    for (int k = 0; k < c; ++k) {
                        const int fx = tx * pw + q, fy = ty * ph + r;
                        if (fx >= w || fy >= h) {
                            out.push_back(0xEE);
                            continue;
                        }
                        const int x = space == 2 || space == 3 ? w - 1 - fx : fx;
                        const int y = space == 3 || space == 4 ? h - 1 - fy : fy;
                        out.push_back(value(x, y, k));
                    }
    return out;
}

FitFile pagedFit(int w, int h, int c, int pw, int ph, int space, int model) {
    FitFile s;
    s.w = w, s.h = h, s.c = c, s.pw = pw, s.ph = ph, s.space = space, s.model = model;
    s.data = paged(w, h, c, pw, ph, space, [](int x, int y, int k) { return uint8_t(100 * k + 10 * y + x); });
    return s;
}

std::vector<uint8_t> expectedPaged(int w, int h, int c) {
    std::vector<uint8_t> v;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < c; ++k) v.push_back(uint8_t(100 * k + 10 * y + x));
    return v;
}

TEST(FitReader, PageLayoutsAndOrientations) {
    const int index = findFormat("fit");
    for (int space = 1; space <= 4; ++space) {
        for (const auto& p : std::vector<std::pair<int, int>>{{6, 1}, {3, 2}, {2, 2}, {4, 3}}) {
            SCOPED_TRACE("space " + std::to_string(space) + ", pages " + std::to_string(p.first) + "x" +
                         std::to_string(p.second));
            OwnedImage img;
            FileInfo info;
            ASSERT_EQ(loadIndexed(index, buildFit(pagedFit(6, 4, 3, p.first, p.second, space, 3)), 0, &img, &info),
                      ST_OK);
            EXPECT_EQ(img.kind, IMG_RGB);
            EXPECT_EQ(toRgb(img).pixels, expectedPaged(6, 4, 3));
        }
    }
}

TEST(FitReader, HandBuiltFiles) {
    auto it01 = [](FitFile s) {
        s.v2 = false;
        return s;
    };
    const std::vector<uint8_t> ramp = expectedPaged(5, 3, 1);
    checkTable(findFormat("fit"), {
        {"grey, padding never shown", buildFit(pagedFit(5, 3, 1, 2, 2, 1, 2)), 0, ST_OK, IMG_GREY, ramp},
        {"IT01 header", buildFit(it01(pagedFit(5, 3, 1, 2, 2, 4, 2))), 0, ST_OK, IMG_GREY, ramp},
        {"negative", buildFit(pagedFit(2, 1, 1, 2, 1, 1, 1)), 0, ST_OK, IMG_GREY, {255, 254}},
        {"RGBA", buildFit(pagedFit(2, 1, 4, 2, 1, 1, 5)), 0, ST_OK, IMG_RGB32, {0, 100, 200, 44, 1, 101, 201, 45}},
        {"ABGR", buildFit(pagedFit(1, 1, 4, 1, 1, 1, 10)), 0, ST_OK, IMG_RGB32, {44, 200, 100, 0}},
        {"BGR", buildFit(pagedFit(1, 1, 3, 1, 1, 1, 9)), 0, ST_OK, IMG_RGB, {200, 100, 0}, true},
        {"channels in sequence along each line", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 2, s->c = 3, s->order = 2, s->model = 3;
             s->data = {1, 2, 3, 4, 5, 6};
         })), 0, ST_OK, IMG_RGB, {1, 3, 5, 2, 4, 6}, true},
        {"channels in pages of their own", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 2, s->c = 3, s->order = 4, s->model = 3, s->pc = 1;
             s->data = {1, 2, 3, 4, 5, 6};
         })), 0, ST_OK, IMG_RGB, {1, 3, 5, 2, 4, 6}, true},
        {"unsigned 16-bit through the header's range", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 3, s->type = 8, s->low = 1000, s->high = 2000;
             s->data = {0x03, 0xE8, 0x05, 0xDC, 0x09, 0x00};
         })), 0, ST_OK, IMG_GREY, {0, 128, 255}},
        {"signed 16-bit over its type's range", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 3, s->type = 16;
             s->data = {0x80, 0x00, 0x00, 0x00, 0x7F, 0xFF};
         })), 0, ST_OK, IMG_GREY, {0, 128, 255}},
        {"signed bytes", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 2, s->type = 4;
             s->data = {0x80, 0x7F};
         })), 0, ST_OK, IMG_GREY, {0, 255}},
        {"floats over the values found", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 3, s->type = 128;
             s->data = {0xBF, 0x80, 0, 0, 0, 0, 0, 0, 0x3F, 0x80, 0, 0};  // -1, 0, 1
         })), 0, ST_OK, IMG_GREY, {0, 128, 255}},
        {"floats all alike, too large to step by one", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 2, s->type = 128;
             s->data = {0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF};
         })), 0, ST_OK, IMG_GREY, {0, 0}},
        {"doubles", buildFit(with(FitFile(), [](FitFile* s) {
             s->w = 2, s->type = 256;
             s->data = {0x40, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x10, 0, 0, 0, 0, 0, 0};  // 2, 4
         })), 0, ST_OK, IMG_GREY, {0, 255}},
        {"second page row cut", [] {
             std::vector<uint8_t> f = buildFit(pagedFit(2, 4, 1, 2, 2, 1, 2));
             f.resize(f.size() - 1);
             return f;
         }(), 0, ST_READ_ERROR, IMG_GREY, {0, 1, 10, 11, 0, 0, 0, 0}},
        {"transposed orientation", buildFit(with(pagedFit(1, 1, 1, 1, 1, 1, 2), [](FitFile* s) { s->space = 5; })), 0,
         ST_BAD_FILE, 0, {}, false, 1, "FIT : Unsupported variant !"},
        {"HSV", buildFit(pagedFit(1, 1, 3, 1, 1, 1, 6)), 0, ST_BAD_FILE, 0, {}, false, 1,
         "FIT : Unsupported variant !"},
        {"RGB of one channel", buildFit(pagedFit(1, 1, 1, 1, 1, 1, 3)), 0, ST_BAD_FILE, 0, {}, false, 1,
         "FIT : Unsupported variant !"},
        {"astronomers' FITS", text(std::string("SIMPLE  =                    T") + std::string(2850, ' ')), 0,
         ST_UNKNOWN_FORMAT, 0, {}},
        {"sample type 3", buildFit(with(FitFile(), [](FitFile* s) {
             s->type = 3;
             s->data = {0};
         })), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"data offset past the end", buildFit(with(FitFile(), [](FitFile* s) { s->dataOffset = 200; })), 0,
         ST_UNKNOWN_FORMAT, 0, {}},
    });
}

// ---- Quantel VPB ----------------------------------------------------------------------------

struct VpbEntry {
    uint16_t kind, index, w, h;
    uint32_t offset;  // from byte 1024
};

std::vector<uint8_t> buildVpb(const std::string& type, const std::vector<VpbEntry>& entries,
                              const std::vector<uint8_t>& data, uint8_t entrySize = 20) {
    std::vector<uint8_t> f = {0x03};
    put16(&f, static_cast<uint32_t>(type.size()));
    f.insert(f.end(), type.begin(), type.end());
    f.insert(f.end(), {0x98, 1, 14});
    f.resize(f.size() + 14, 0);
    f.push_back(0x02);
    put16(&f, 4);
    f.insert(f.end(), {'t', 'e', 's', 't'});
    f.insert(f.end(), {0x10, static_cast<uint8_t>(entries.size()), entrySize});
    for (const VpbEntry& e : entries) {
        for (uint32_t v : std::initializer_list<uint32_t>{e.kind, e.index, e.w, e.h, 0x837u, 0x8FCu}) put16(&f, v);
        put32(&f, e.offset);
        put32(&f, 2u * e.w * e.h);
        f.resize(f.size() + entrySize - 20, 0x77);
    }
    f.resize(1024, 0xFF);
    f.insert(f.end(), {0, 0});
    f.resize(2048, 0xE5);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

TEST(VpbReader, HandBuiltPictures) {
    // Cb, Y0, Cr, Y1: black and white, then two pixels sharing a red chroma.
    const std::vector<uint8_t> picture = {128, 16, 128, 235, 90, 81, 240, 126};
    const std::vector<uint8_t> stencil = {0, 255, 0, 0, 0, 0, 0, 255};
    const std::vector<uint8_t> browse = {128, 235, 128, 16};
    checkTable(findFormat("vpb"), {
        {"picture", buildVpb("Picture", {{0x10, 0, 2, 2, 0x400}}, picture), 0, ST_OK, IMG_RGB,
         {0, 0, 0, 254, 254, 254, 254, 0, 0, 255, 51, 51}, true},
        {"cutout: the stencil is the alpha", buildVpb("Cutout", {{0x10, 0, 2, 2, 0x400}, {0x11, 0, 2, 2, 0x408}},
                                                      joined(picture, stencil)),
         0, ST_OK, IMG_RGB32, {0, 0, 0, 255, 254, 254, 254, 0, 254, 0, 0, 0, 255, 51, 51, 255}},
        {"stencil alone: its matte", buildVpb("Stencil", {{0x11, 0, 2, 2, 0x400}}, stencil), 0, ST_OK, IMG_GREY,
         {255, 0, 0, 255}},
        {"browse picture is page 1", buildVpb("Picture", {{0x10, 0, 2, 2, 0x400}, {0x10, 1, 2, 1, 0x408}},
                                              joined(picture, browse)),
         1, ST_OK, IMG_RGB, {254, 254, 254, 0, 0, 0}, true, 2},
        {"directory entries of 24 bytes", buildVpb("Stencil", {{0x11, 0, 2, 2, 0x400}}, stencil, 24), 0, ST_OK,
         IMG_GREY, {255, 0, 0, 255}},
        {"other file type", buildVpb("Movie", {{0x10, 0, 2, 2, 0x400}}, picture), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"data past the end", buildVpb("Picture", {{0x10, 0, 2, 2, 0x404}}, picture), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"no directory", buildVpb("Picture", {}, picture), 0, ST_UNKNOWN_FORMAT, 0, {}},
    });
}

// ---- DBW Render ------------------------------------------------------------------------------

// A record: line number, then red, green and blue planes of 4-bit values
// packed from the low bits of each int.
std::vector<uint8_t> dbwRecord(bool big, uint16_t line, const std::vector<std::vector<uint8_t>>& rgb) {
    std::vector<uint8_t> r;
    put16(&r, line, big);
    for (const auto& plane : rgb) {
        for (size_t i = 0; i < plane.size(); i += 4) {
            uint32_t word = 0;
            for (size_t k = 0; k < 4 && i + k < plane.size(); ++k) word |= plane[i + k] << (4 * k);
            put16(&r, word, big);
        }
    }
    return r;
}

TEST(DbwReader, HandBuiltRenders) {
    auto file = [](bool big, uint16_t w, uint16_t h, const std::vector<std::vector<uint8_t>>& records) {
        std::vector<uint8_t> f;
        put16(&f, w, big);
        put16(&f, h, big);
        for (const auto& r : records) f.insert(f.end(), r.begin(), r.end());
        return f;
    };
    const std::vector<std::vector<uint8_t>> line = {{15, 0, 1, 2}, {0, 15, 3, 4}, {0, 0, 5, 15}};
    const std::vector<uint8_t> top = {255, 0, 0, 0, 255, 0, 17, 51, 85, 34, 68, 255};
    std::vector<uint8_t> black(12, 0);
    checkTable(findFormat("dbw"), {
        {"little-endian ints", file(false, 4, 1, {dbwRecord(false, 0, line)}), 0, ST_OK, IMG_RGB, top, true},
        {"big-endian ints", file(true, 4, 1, {dbwRecord(true, 0, line)}), 0, ST_OK, IMG_RGB, top, true},
        {"lines out of order, one never traced",
         file(false, 4, 3, {dbwRecord(false, 2, line), dbwRecord(false, 0, line)}), 0, ST_OK, IMG_RGB,
         joined(joined(top, black), top), true},
        {"Win32 bytes of 7 bits", [] {
             std::vector<uint8_t> f;
             for (uint32_t v : {2u, 1u, 0u}) put32(&f, v, false);
             f.insert(f.end(), {127, 0, 0, 127, 64, 64});
             return f;
         }(), 0, ST_OK, IMG_RGB, {127 * 255 / 127, 0, 64 * 255 / 127, 0, 127 * 255 / 127, 64 * 255 / 127}, true},
        {"records that do not fill the file", joined(file(false, 4, 1, {dbwRecord(false, 0, line)}), {0}), 0,
         ST_UNKNOWN_FORMAT, 0, {}},
        {"more records than lines", file(false, 4, 1, {dbwRecord(false, 0, line), dbwRecord(false, 0, line)}), 0,
         ST_UNKNOWN_FORMAT, 0, {}},
    });
}

// ---- Bob --------------------------------------------------------------------------------------

std::vector<uint8_t> bobFile(uint16_t w, uint16_t h, std::vector<uint8_t> pixels) {
    std::vector<uint8_t> f;
    put16(&f, w, false);
    put16(&f, h, false);
    for (int i = 0; i < 256; ++i) f.insert(f.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

TEST(BobReader, HandBuiltPictures) {
    checkTable(findFormat("bob"), {
        {"3 x 2", bobFile(3, 2, {0, 1, 2, 3, 4, 255}), 0, ST_OK, IMG_PALETTE,
         {0, 255, 0, 1, 254, 0, 2, 253, 1, 3, 252, 1, 4, 251, 2, 255, 0, 127}, true},
        {"1 x 1", bobFile(1, 1, {9}), 0, ST_OK, IMG_PALETTE, {9, 246, 4}, true},
        {"one byte too many", bobFile(1, 1, {9, 9}), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"one byte short", bobFile(2, 1, {9}), 0, ST_UNKNOWN_FORMAT, 0, {}},
    });
}

// ---- Electric Image -----------------------------------------------------------------------------

std::vector<uint8_t> eiFrame(int w, int h, int bits, int alpha, int packing, const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& body, int top = 0, int left = 0) {
    std::vector<uint8_t> f(4, 0);  // time
    for (int v : {top, left, top + h, left + w}) put16(&f, static_cast<uint32_t>(v));
    f.push_back(static_cast<uint8_t>(bits));
    f.push_back(bits == 8 ? 1 : 0);
    f.resize(f.size() + 8, 0);
    f.push_back(static_cast<uint8_t>(packing));
    f.push_back(static_cast<uint8_t>(alpha));
    put32(&f, static_cast<uint32_t>(body.size()));
    put16(&f, static_cast<uint32_t>(palette.size() / 3));
    put16(&f, 0);
    f.insert(f.end(), palette.begin(), palette.end());
    f.insert(f.end(), body.begin(), body.end());
    return f;
}

std::vector<uint8_t> eiFile(const std::vector<std::vector<uint8_t>>& frames, int version = 5) {
    std::vector<uint8_t> f;
    put16(&f, static_cast<uint32_t>(version));
    put32(&f, static_cast<uint32_t>(frames.size()));
    for (const auto& fr : frames) f.insert(f.end(), fr.begin(), fr.end());
    return f;
}

TEST(ElectricImageReader, HandBuiltFrames) {
    // 3 x 2 at 24 bits: a run of 4 crossing the row end, then 2 literals.
    const std::vector<uint8_t> runs = {3, 1, 2, 3, 129, 4, 5, 6, 7, 8, 9};
    const std::vector<uint8_t> runPixels = {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<uint8_t> pal = {10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42};
    checkTable(findFormat("tdim") + 1, {
        {"24 bits, runs across rows", eiFile({eiFrame(3, 2, 24, 0, 1, {}, runs, 5, 7)}), 0, ST_OK, IMG_RGB,
         runPixels, true},
        {"8 bits through the colour table", eiFile({eiFrame(2, 1, 8, 0, 1, pal, {0, 3, 128, 1})}), 0, ST_OK,
         IMG_PALETTE, {40, 41, 42, 20, 21, 22}, true},
        {"32 bits: A,R,G,B", eiFile({eiFrame(1, 1, 24, 8, 0, {}, {9, 1, 2, 3})}), 0, ST_OK, IMG_RGB32, {1, 2, 3, 9}},
        {"16 bits: x-R5-G5-B5", eiFile({eiFrame(2, 1, 16, 0, 0, {}, {0x7C, 0x00, 0x00, 0x1F})}), 0, ST_OK, IMG_RGB,
         {255, 0, 0, 0, 0, 255}, true},
        {"1 bit: 1 is black", eiFile({eiFrame(10, 1, 1, 0, 1, {}, {129, 0xA0, 0x40})}), 0, ST_OK, IMG_BINARY,
         {0, 1, 0, 1, 1, 1, 1, 1, 1, 0}},
        {"second frame", eiFile({eiFrame(1, 1, 24, 0, 0, {}, {1, 2, 3}), eiFrame(1, 1, 24, 0, 0, {}, {4, 5, 6})}), 1,
         ST_OK, IMG_RGB, {4, 5, 6}, true, 2},
        {"body cut short", eiFile({eiFrame(3, 2, 24, 0, 1, {}, {2, 1, 2, 3, 0})}), 0, ST_READ_ERROR, IMG_RGB,
         {1, 2, 3, 1, 2, 3, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
        {"version 4", eiFile({eiFrame(1, 1, 24, 0, 0, {}, {1, 2, 3})}, 4), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"12 bits", eiFile({eiFrame(1, 1, 12, 0, 0, {}, {1, 2})}), 0, ST_UNKNOWN_FORMAT, 0, {}},
        {"body past the end", [] {
             std::vector<uint8_t> f = eiFile({eiFrame(1, 1, 24, 0, 0, {}, {1, 2, 3})});
             f.pop_back();
             return f;
         }(), 0, ST_UNKNOWN_FORMAT, 0, {}},
    });
}

TEST(ElectricImageReader, FoundByItsOwnRecordWhateverTheName) {
    const std::vector<uint8_t> bytes = eiFile({eiFrame(1, 1, 24, 0, 0, {}, {1, 2, 3})});
    for (const char* name : {"frame.ei", "frame.tdim", "frame.dat"}) {
        SCOPED_TRACE(name);
        const std::string path = tempPath(name);
        ASSERT_TRUE(writeFile(path, bytes));
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(load(path, &img, 0, &info), ST_OK);
        EXPECT_EQ(info.formatIndex, findFormat("tdim") + 1);
        EXPECT_EQ(toRgb(img).pixels, (std::vector<uint8_t>{1, 2, 3}));
    }
}

// ---- AIM ---------------------------------------------------------------------------------------

TEST(AimReader, SquarePicturesKnownBySize) {
    for (int side : {128, 256}) {
        SCOPED_TRACE(side);
        std::vector<uint8_t> f(static_cast<size_t>(side) * side);
        for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i % 251);
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadIndexed(findFormat("aim"), f, 0, &img, &info), ST_OK);
        EXPECT_EQ(img.width, side);
        EXPECT_EQ(img.kind, IMG_GREY);
        EXPECT_EQ(pixelsOf(img), f);
        f.push_back(0);
        EXPECT_EQ(loadIndexed(findFormat("aim"), f, 0, &img, &info), ST_UNKNOWN_FORMAT);
    }
}

// ---- formats without a public layout -------------------------------------------------------------

TEST(UndocumentedFormats, ClaimNoFileAndAreNotListedReadable) {
    std::vector<uint8_t> random(3000);
    for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    const std::vector<std::vector<uint8_t>> files = {
        {}, random, text("hello\n"), bobFile(2, 2, {1, 2, 3, 4}), eiFile({eiFrame(1, 1, 24, 0, 0, {}, {1, 2, 3})}),
        patternP6(4, 4)};
    for (const char* description : {"Digital F/X", "Prisms", "AirNav"}) {
        SCOPED_TRACE(description);
        int index = -1;
        FormatInfo fi{};
        for (int i = 0; i < formatCount(); ++i)
            if (getFormatInfo(i, &fi) == 0 && strcmp(fi.description, description) == 0) index = i;
        ASSERT_GE(index, 0);
        getFormatInfo(index, &fi);
        EXPECT_EQ(fi.capabilities & CAP_READ, 0);
        for (const auto& f : files) {
            OwnedImage img;
            FileInfo info;
            EXPECT_EQ(loadIndexed(index, f, 0, &img, &info, 0, fi.extensions[0]), ST_UNKNOWN_FORMAT);
        }
    }
    // Named after one of them, a file still loads through its own reader.
    const std::string path = tempPath("bob_named.nav");
    ASSERT_TRUE(writeFile(path, bobFile(2, 1, {1, 2})));
    OwnedImage img;
    FileInfo info;
    ASSERT_EQ(load(path, &img, 0, &info), ST_OK);
    EXPECT_EQ(info.formatIndex, findFormat("bob"));
}

}  // namespace
