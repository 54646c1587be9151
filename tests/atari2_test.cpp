// ZZ Rough, Dali, STAD, GFA Raytrace, Doodle, Art Director and QDV. No peer
// reads these formats: files are built from Degas and Doodle samples (whose
// pictures netpbm, or a bare P4 header, decode independently) by the
// programs' own layouts, and hand-made files pin down palettes, slots and
// refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;


Bytes corpusBytes(const std::string& rel) {
    Bytes b;
    EXPECT_TRUE(readFile(corpusPath(rel), &b));
    return b;
}

Bytes slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to)); }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

void put16(Bytes* b, unsigned v) {
    b->push_back(static_cast<uint8_t>(v >> 8));
    b->push_back(static_cast<uint8_t>(v));
}

bool peerDecode(const std::string& tool, const std::string& in, Rgb* out) {
    static int counter = 0;
    const std::string ppm = tempPath("atari2peer" + std::to_string(counter++) + ".pnm");
    if (run(shell("TOOL < IN > OUT", {{"TOOL", tool}, {"IN", in}, {"OUT", ppm}})) != 0) return false;
    unsigned maxval = 0;
    return readPeerPnm(ppm, out, &maxval);
}

// An ST high screen as a PBM (1 black, the ST's convention too), read by the kit.
Rgb bareScreenReference(const Bytes& screen) {
    const std::string path = tempPath("screen" + std::to_string(screen.size() + screen[100]) + ".pbm");
    const std::string head = "P4\n640 400\n";
    Bytes pbm(head.begin(), head.end());
    pbm.insert(pbm.end(), screen.begin(), screen.end());
    EXPECT_TRUE(writeFile(path, pbm));
    Rgb out;
    unsigned maxval = 0;
    EXPECT_TRUE(readPeerPnm(path, &out, &maxval));
    return out;
}

std::vector<int> rgbAt(const Image& img, int x, int y) {
    const Rgb rgb = toRgb(img);
    const uint8_t* p = &rgb.pixels[3 * (static_cast<size_t>(y) * rgb.width + x)];
    return {p[0], p[1], p[2]};
}

const std::vector<int> BLACK = {0, 0, 0}, RED = {255, 0, 0}, GREEN = {0, 255, 0}, BLUE = {0, 0, 255};

// ---- ZZ Rough -----------------------------------------------------------------

// The screen walked down 4-byte columns, runs of equal values of at most 255.
Bytes zzFile(const Bytes& palette, const Bytes& screen, const char* countText = nullptr) {
    Bytes counts, values;
    for (int col = 0; col < 160; col += 4)
        for (int row = 0; row < 200; ++row) {
            const uint8_t* v = &screen[static_cast<size_t>(row) * 160 + col];
            const size_t n = counts.size();
            if (n > 0 && counts.back() < 255 && std::equal(v, v + 4, values.end() - 4)) {
                ++counts.back();
                continue;
            }
            counts.push_back(1);
            values.insert(values.end(), v, v + 4);
        }
    const std::string text = std::string("(c)F.MARCHAL") + (countText ? countText : std::to_string(counts.size())) + "\r\n";
    return cat({Bytes(text.begin(), text.end()), palette, counts, values});
}

TEST(ZzRoughReader, DegasPictureStoredAsZzRough) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("pi1toppm")) GTEST_SKIP() << "netpbm missing";
    const Bytes pi1 = corpusBytes("degas/LOWRES.PI1");
    const Bytes palette = slice(pi1, 2, 34), screen = slice(pi1, 34, 32034);
    const Bytes good = zzFile(palette, screen);
    Rgb want;
    ASSERT_TRUE(peerDecode("pi1toppm", corpusPath("degas/LOWRES.PI1"), &want));
    Bytes zeroRun = good;
    zeroRun[static_cast<size_t>(std::find(good.begin(), good.end(), '\r') - good.begin()) + 2 + 32] = 0;  // first count
    struct Case {
        const char* name;
        Bytes file;
        Status status;
    } cases[] = {
        {"whole", good, ST_OK},
        {"cut in its values", slice(good, 0, good.size() - 9), ST_READ_ERROR},
        {"a zero run length", zeroRun, ST_CORRUPT},
        {"count without CR LF", cat({Bytes{'(', 'c', ')', 'F', '.', 'M', 'A', 'R', 'C', 'H', 'A', 'L', '9', '\n'},
                                     Bytes(100, 1)}),
         ST_UNKNOWN_FORMAT},
        {"count past 32000", zzFile(palette, screen, "32001"), ST_UNKNOWN_FORMAT},
        {"another signature", cat({Bytes{'(', 'c', ')', 'F', '.', 'M', 'A', 'R', 'C', 'H', 'E', 'L', '1', '\r', '\n'},
                                   Bytes(100, 1)}),
         ST_UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("zzrough", c.file, &img));
        if (c.status == ST_OK) EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

// ---- Dali, Art Director ---------------------------------------------------------

TEST(DaliAndArtDirector, DegasScreensInTheirLayouts) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    if (!haveProgram("pi1toppm") || !haveProgram("pi3topbm")) GTEST_SKIP() << "netpbm missing";
    const Bytes pi1 = corpusBytes("degas/LOWRES.PI1"), pi3 = corpusBytes("degas/input_mono.pi3");
    Rgb low, high;
    ASSERT_TRUE(peerDecode("pi1toppm", corpusPath("degas/LOWRES.PI1"), &low));
    ASSERT_TRUE(peerDecode("pi3topbm", corpusPath("degas/input_mono.pi3"), &high));
    const Bytes palette = slice(pi1, 2, 34), screen = slice(pi1, 34, 32034);
    auto dali = [](const Bytes& pal, const Bytes& scr) { return cat({Bytes(4, 0), pal, Bytes(92, 0), scr}); };
    // Art Director: screen, eight palettes, timings, the active palette at 32286.
    auto artdir = [&](int active, int where) {
        Bytes palettes(256, 0);
        std::copy(palette.begin(), palette.end(), palettes.begin() + 32 * where);
        Bytes b = cat({screen, palettes, Bytes(30, 0)});
        put16(&b, static_cast<unsigned>(active));
        return cat({b, Bytes(224, 0)});
    };
    struct Case {
        const char* name;
        const char* format;
        std::string fileName;
        Bytes file;
        Status status;
        const Rgb* want;
    } cases[] = {
        {"Dali low", "dali", "pic.sd0", dali(palette, screen), ST_OK, &low},
        {"Dali high, upper-case name", "dali", "PIC.SD2", dali(slice(pi3, 2, 34), slice(pi3, 34, 32034)), ST_OK,
         &high},
        {"Dali without its extension", "dali", "pic.neo", dali(palette, screen), ST_UNKNOWN_FORMAT, nullptr},
        {"Dali sd3", "dali", "pic.sd3", dali(palette, screen), ST_UNKNOWN_FORMAT, nullptr},
        {"Dali one byte long", "dali", "pic.sd0", cat({dali(palette, screen), Bytes(1, 0)}), ST_UNKNOWN_FORMAT,
         nullptr},
        {"Art Director, palette 0", "artdir", "a.art", artdir(0, 0), ST_OK, &low},
        {"Art Director, palette 3", "artdir", "a.art", artdir(3, 3), ST_OK, &low},
        {"Art Director, palette 8", "artdir", "a.art", artdir(8, 0), ST_UNKNOWN_FORMAT, nullptr},
        {"Art Director one byte short", "artdir", "a.art", slice(artdir(0, 0), 0, 32511), ST_UNKNOWN_FORMAT, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesNamed(c.format, c.fileName, c.file, &img));
        if (c.want) EXPECT_EQ(0, compareRgb(toRgb(img), *c.want));
    }
}

// ---- STAD, Doodle -------------------------------------------------------------

// Packs a screen as STAD does: pack byte runs as I n, other runs of three or
// more as S d n, the two code bytes themselves escaped as S d 0.
Bytes pacFile(const Bytes& screen, bool columns) {
    Bytes order;
    if (!columns) order = screen;
    else
        for (int c = 0; c < 80; ++c)
            for (int r = 0; r < 400; ++r) order.push_back(screen[static_cast<size_t>(r) * 80 + c]);
    std::map<uint8_t, int> counts;
    for (uint8_t v : order) ++counts[v];
    uint8_t pack = 0, id = 0, special = 0;
    int best = -1;
    for (auto& kv : counts)
        if (kv.second > best) best = kv.second, pack = kv.first;
    id = pack == 0xA5 ? 0x5A : 0xA5;
    special = pack == 0xC3 || id == 0xC3 ? 0x3C : 0xC3;
    Bytes out = {'p', 'M', '8', static_cast<uint8_t>(columns ? '6' : '5'), id, pack, special};
    for (size_t i = 0; i < order.size();) {
        size_t run = 1;
        while (i + run < order.size() && order[i + run] == order[i] && run < 256) ++run;
        const uint8_t v = order[i];
        if (v == pack) out.insert(out.end(), {id, static_cast<uint8_t>(run - 1)});
        else if (run >= 3 || v == id || v == special) out.insert(out.end(), {special, v, static_cast<uint8_t>(run - 1)});
        else run = 1, out.push_back(v);
        i += run;
    }
    return out;
}

TEST(StadAndDoodle, BareAndPackedScreens) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    const Bytes screen = corpusBytes("doodle/ELMRSESN.DOO"), other = corpusBytes("doodle/MEDRES.DOO");
    const Rgb want = bareScreenReference(screen), wantOther = bareScreenReference(other);
    const Bytes rows = pacFile(screen, false), columns = pacFile(screen, true);
    struct Case {
        const char* name;
        const char* format;
        std::string fileName;
        Bytes file;
        Status status;
        const Rgb* want;
    } cases[] = {
        {"Doodle", "doodle", "a.doo", screen, ST_OK, &want},
        {"another Doodle", "doodle", "b.doo", other, ST_OK, &wantOther},
        {"Doodle one byte short", "doodle", "a.doo", slice(screen, 1, 32000), ST_UNKNOWN_FORMAT, nullptr},
        {"Doodle one byte long", "doodle", "a.doo", cat({screen, Bytes(1, 0)}), ST_UNKNOWN_FORMAT, nullptr},
        {"STAD bare screen", "stad", "a.pic", screen, ST_OK, &want},
        {"bare screen under another name", "stad", "a.doo", screen, ST_UNKNOWN_FORMAT, nullptr},
        {"STAD packed in rows", "stad", "a.pac", rows, ST_OK, &want},
        {"STAD packed in columns", "stad", "a.pac", columns, ST_OK, &want},
        {"packed sequence", "stad", "a.seq", columns, ST_OK, &want},
        {"rows cut short", "stad", "a.pac", slice(rows, 0, rows.size() / 2), ST_READ_ERROR, nullptr},
        {"columns cut short", "stad", "a.pac", slice(columns, 0, columns.size() / 2), ST_READ_ERROR, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesNamed(c.format, c.fileName, c.file, &img));
        if (c.want) EXPECT_EQ(0, compareRgb(toRgb(img), *c.want));
    }
}

TEST(StadAndDoodle, IdentifiedByTheirNames) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    // Several formats list pic before STAD; none of them takes a bare screen.
    const Bytes screen = corpusBytes("doodle/ELMRSESN.DOO");
    struct Case {
        std::string name;
        const char* format;  // null: no reader takes it
    } cases[] = {{"screen.pic", "stad"}, {"screen.PAC", "stad"}, {"screen.doo", "doodle"}, {"screen.dat", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath(c.name);
        ASSERT_TRUE(writeFile(path, c.name == "screen.PAC" ? pacFile(screen, false) : screen));
        OwnedImage img;
        FileInfo info{};
        const Status st = load(path, &img, 0, &info);
        if (!c.format) {
            EXPECT_EQ(ST_UNKNOWN_FORMAT, st);
            continue;
        }
        ASSERT_EQ(ST_OK, st);
        EXPECT_EQ(findFormat(c.format), info.formatIndex);
    }
}

TEST(StadAndDoodle, CorpusPackedFilesDecodeWhole) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    for (const char* name : {"stad/bemassng.pac", "stad/design.pac"}) {
        SCOPED_TRACE(name);
        OwnedImage img;
        ASSERT_EQ(ST_OK, load(corpusPath(name), &img));
        EXPECT_EQ(640, img.width);
        EXPECT_EQ(400, img.height);
        // Packing our decode again the program's way gives the same picture back.
        const Rgb decoded = toRgb(img);
        Bytes screen(32000, 0);
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 640; ++x)
                if (decoded.pixels[3 * (static_cast<size_t>(y) * 640 + x)] == 0)
                    screen[static_cast<size_t>(y) * 80 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        OwnedImage again;
        ASSERT_EQ(ST_OK, loadBytesNamed("stad", "x.pac", pacFile(screen, std::string(name).find("bem") != std::string::npos),
                                   &again));
        EXPECT_EQ(0, compareRgb(toRgb(img), toRgb(again)));
    }
}

// ---- GFA Raytrace -------------------------------------------------------------

// A file of factor f with every pixel of colour index `index` and the words
// the function gives (word k of the file's palette words).
Bytes gfaFile(int f, int index, unsigned (*word)(int k)) {
    const std::string head = std::string("sul\r\n") + static_cast<char>('0' + f) + "\r\n";
    Bytes b(head.begin(), head.end());
    const int rows = 200 / f;
    for (int y = 0; y < rows; ++y)
        for (int g = 0; g < 20; ++g)
            for (int p = 0; p < 4; ++p) put16(&b, ((index >> p) & 1) ? 0xFFFF : 0);
    for (int k = 0; k < rows * 46; ++k) put16(&b, word(k));
    return b;
}

TEST(GfaRayReader, SlotsAndPalettes) {
    // Index 0 takes slot 1: word y x 46 - 62 of row y, none for rows 0 and 1.
    auto redFromRow2 = [](int k) -> unsigned { return (k + 62) % 46 == 0 && k + 62 >= 92 ? 0x0F00 : 0; };
    // Index 15 of row 5: slot 0 blue, slot 16 green, slot 31 red.
    auto row5 = [](int k) -> unsigned {
        const int s = k - 5 * 46 + 63;
        return s == 0 ? 0x000F : s == 16 ? 0x00F0 : s == 31 ? 0x0F00 : 0;
    };
    // Index 1 of row 5: slot 2 red (to column 44), 17 green (to 204), 32 blue; and
    // STE nibbles: 0x8 is the lowest step.
    auto row5index1 = [](int k) -> unsigned {
        const int s = k - 5 * 46 + 63;
        return s == 2 ? 0x0F00 : s == 17 ? 0x00F0 : s == 32 ? 0x0008 : 0;
    };
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        int height;
        int x, y;
        std::vector<int> colour;
    } cases[] = {
        {"row 0 is black", gfaFile(1, 0, redFromRow2), ST_OK, 200, 10, 0, BLACK},
        {"row 1 is black", gfaFile(1, 0, redFromRow2), ST_OK, 200, 10, 1, BLACK},
        {"row 2 takes its slot 1", gfaFile(1, 0, redFromRow2), ST_OK, 200, 10, 2, RED},
        {"the last row too", gfaFile(1, 0, redFromRow2), ST_OK, 200, 319, 199, RED},
        {"index 15 column 0: slot 0", gfaFile(1, 15, row5), ST_OK, 200, 0, 5, BLUE},
        {"index 15 column 1: slot 16", gfaFile(1, 15, row5), ST_OK, 200, 1, 5, GREEN},
        {"index 15 column 184: slot 16", gfaFile(1, 15, row5), ST_OK, 200, 184, 5, GREEN},
        {"index 15 column 185: slot 31", gfaFile(1, 15, row5), ST_OK, 200, 185, 5, RED},
        {"index 1 column 44: slot 2", gfaFile(1, 1, row5index1), ST_OK, 200, 44, 5, RED},
        {"index 1 column 45: slot 17", gfaFile(1, 1, row5index1), ST_OK, 200, 45, 5, GREEN},
        {"index 1 column 204: slot 17", gfaFile(1, 1, row5index1), ST_OK, 200, 204, 5, GREEN},
        {"index 1 column 205: slot 32, STE nibble 8", gfaFile(1, 1, row5index1), ST_OK, 200, 205, 5, {0, 0, 17}},
        {"factor 2: 100 rows", gfaFile(2, 0, redFromRow2), ST_OK, 100, 3, 99, RED},
        {"factor 8: 25 rows", gfaFile(8, 0, redFromRow2), ST_OK, 25, 3, 24, RED},
        {"factor 3", gfaFile(3, 0, redFromRow2), ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
        {"one byte short", slice(gfaFile(1, 0, redFromRow2), 0, 50407), ST_UNKNOWN_FORMAT, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("gfaray", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(320, img.width);
        EXPECT_EQ(c.height, img.height);
        EXPECT_EQ(c.colour, rgbAt(img, c.x, c.y));
    }
}

// ---- QDV ----------------------------------------------------------------------

Bytes qdvFile(unsigned w, unsigned h, int colours, const Bytes& map, const Bytes& pixels) {
    Bytes b;
    put16(&b, w);
    put16(&b, h);
    b.push_back(static_cast<uint8_t>(colours - 1));
    return cat({b, map, pixels});
}

TEST(QdvReader, HandMadeFiles) {
    Bytes map256;
    for (int i = 0; i < 256; ++i) map256.insert(map256.end(), {static_cast<uint8_t>(i), 7, static_cast<uint8_t>(255 - i)});
    const Bytes twoColours = {255, 255, 255, 0, 0, 0};
    const Bytes rgbMap = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    struct Case {
        const char* name;
        Bytes file;
        Status status;
        int width, height;
        int x, y;
        std::vector<int> colour;
    } cases[] = {
        {"two colours, white first", qdvFile(2, 2, 2, twoColours, {0, 1, 1, 0}), ST_OK, 2, 2, 1, 0, BLACK},
        {"odd width has no padding", qdvFile(3, 2, 3, rgbMap, {0, 1, 2, 2, 1, 0}), ST_OK, 3, 2, 0, 1, BLUE},
        {"rows top down", qdvFile(3, 2, 3, rgbMap, {0, 1, 2, 2, 1, 0}), ST_OK, 3, 2, 2, 1, RED},
        {"256 colours", qdvFile(1, 1, 256, map256, {200}), ST_OK, 1, 1, 0, 0, {200, 7, 55}},
        {"an index past the map is black", qdvFile(2, 1, 3, rgbMap, {1, 9}), ST_OK, 2, 1, 1, 0, BLACK},
        {"one byte long", cat({qdvFile(2, 1, 3, rgbMap, {1, 0}), Bytes(1, 0)}), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
        {"width with bit 14", qdvFile(0x4001, 1, 1, {0, 0, 0}, Bytes(0x4001, 0)), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
        {"zero height", qdvFile(4, 0, 1, {0, 0, 0}, {}), ST_UNKNOWN_FORMAT, 0, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_EQ(c.status, loadBytesAs("qdv", c.file, &img));
        if (c.status != ST_OK) continue;
        EXPECT_EQ(c.width, img.width);
        EXPECT_EQ(c.height, img.height);
        EXPECT_EQ(c.colour, rgbAt(img, c.x, c.y));
    }
}

}  // namespace
