// Eight-bit home-computer screens. No peer reads them: hand-made files are
// built from pictures by the machines' memory layouts (written here from the
// machines' documentation, not from the reader), and the sample files are
// checked against a decode of their bytes made the same way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t ZX[16][3] = {{0, 0, 0},     {0, 0, 191},   {191, 0, 0},   {191, 0, 191}, {0, 191, 0},   {0, 191, 191},
                           {191, 191, 0}, {191, 191, 191}, {0, 0, 0},   {0, 0, 255},   {255, 0, 0},   {255, 0, 255},
                           {0, 255, 0},   {0, 255, 255}, {255, 255, 0}, {255, 255, 255}};
const uint8_t MSX[16][3] = {{0, 0, 0},     {0, 0, 0},       {32, 192, 32},  {96, 224, 96},  {32, 32, 224},
                            {64, 96, 224}, {160, 32, 32},   {64, 192, 224}, {224, 32, 32},  {224, 96, 96},
                            {192, 192, 32}, {192, 192, 128}, {32, 128, 32}, {192, 64, 160}, {160, 160, 160},
                            {224, 224, 224}};
const uint8_t C64[16][3] = {{0, 0, 0},      {255, 255, 255}, {136, 0, 0},     {170, 255, 238}, {204, 68, 204},
                            {0, 204, 85},   {0, 0, 170},     {238, 238, 119}, {221, 136, 85},  {102, 68, 0},
                            {255, 119, 119}, {51, 51, 51},   {119, 119, 119}, {170, 255, 102}, {0, 136, 255},
                            {187, 187, 187}};
const uint8_t CPC[16][3] = {{0, 0, 127},     {255, 255, 0},   {0, 255, 255},   {255, 0, 0},   {255, 255, 255},
                            {0, 0, 0},       {0, 0, 255},     {255, 0, 255},   {0, 127, 127}, {127, 127, 0},
                            {127, 127, 255}, {255, 127, 127}, {0, 255, 0},     {127, 255, 127}, {0, 0, 0},
                            {0, 0, 0}};

// A picture of palette indices turned into R,G,B by a machine's palette.
Rgb paint(int w, int h, const std::vector<int>& index, const uint8_t (*palette)[3]) {
    Rgb out;
    out.width = w;
    out.height = h;
    for (int i : index) out.pixels.insert(out.pixels.end(), palette[i], palette[i] + 3);
    return out;
}

uint8_t noise(unsigned i, unsigned salt) { return static_cast<uint8_t>((i * 2654435761u + salt * 40503u) >> 13); }


// ---- ZX Spectrum ------------------------------------------------------------------

// Byte offset of screen line y: bits 7-6 of y select the third, bits 2-0 the
// line inside the character (units of 256 bytes), bits 5-3 the character row.
size_t zxLineOffset(int y) { return static_cast<size_t>(((y & 0xC0) << 5) | ((y & 7) << 8) | ((y & 0x38) << 2)); }

// Decodes a 6912-byte screen into ink and paper indices.
std::vector<int> zxDecode(const uint8_t* screen) {
    std::vector<int> out;
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint8_t a = screen[6144 + 32 * (y / 8) + x / 8];
            const bool ink = screen[zxLineOffset(y) + x / 8] & (0x80 >> (x % 8));
            out.push_back(ink ? a & 7 : (a >> 3) & 7);
        }
    return out;
}

Bytes zxScreen(unsigned salt) {
    Bytes s(6912);
    for (size_t i = 0; i < s.size(); ++i) s[i] = noise(static_cast<unsigned>(i), salt);
    return s;
}

// ---- Commodore 64 ------------------------------------------------------------------

struct C64Picture {
    Bytes bitmap, screen, colour;
    uint8_t background;
};

C64Picture c64Picture(unsigned salt) {
    C64Picture p{Bytes(8000), Bytes(1000), Bytes(1000), static_cast<uint8_t>(0xF0 | (salt & 15))};
    for (size_t i = 0; i < 8000; ++i) p.bitmap[i] = noise(static_cast<unsigned>(i), salt);
    for (size_t i = 0; i < 1000; ++i) p.screen[i] = noise(static_cast<unsigned>(i), salt + 1), p.colour[i] = noise(static_cast<unsigned>(i), salt + 2);
    return p;
}

// Cell c holds eight bitmap bytes, one a line; two bits a pixel, leftmost high.
std::vector<int> c64Decode(const C64Picture& p) {
    std::vector<int> out;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 160; ++x) {
            const int cell = 40 * (y / 8) + x / 4;
            const int v = (p.bitmap[8 * cell + y % 8] >> (6 - 2 * (x % 4))) & 3;
            out.push_back(v == 0 ? p.background & 15 : v == 1 ? p.screen[cell] >> 4 : v == 2 ? p.screen[cell] & 15 : p.colour[cell] & 15);
        }
    return out;
}

Bytes koalaFile(const C64Picture& p) {
    Bytes f = {0x00, 0x60};
    f.insert(f.end(), p.bitmap.begin(), p.bitmap.end());
    f.insert(f.end(), p.screen.begin(), p.screen.end());
    f.insert(f.end(), p.colour.begin(), p.colour.end());
    f.push_back(p.background);
    return f;
}

Bytes artStudioFile(const C64Picture& p, uint8_t loadHigh = 0x20) {
    Bytes f = {0x00, loadHigh};
    f.insert(f.end(), p.bitmap.begin(), p.bitmap.end());
    f.insert(f.end(), p.screen.begin(), p.screen.end());
    f.push_back(p.background);
    f.resize(f.size() + 15, 0xEE);
    f.insert(f.end(), p.colour.begin(), p.colour.end());
    return f;
}

C64Picture c64FromFile(const Bytes& f, bool koala) {
    C64Picture p{Bytes(f.begin() + 2, f.begin() + 8002), Bytes(f.begin() + 8002, f.begin() + 9002), {}, 0};
    const long colourAt = koala ? 9002 : 9018;
    p.colour.assign(f.begin() + colourAt, f.begin() + colourAt + 1000);
    p.background = f[koala ? 10002 : 9002];
    return p;
}

// ---- MSX 2 -------------------------------------------------------------------------

// A BSAVE file of video memory from start to end inclusive, as BASIC writes it.
Bytes msxFile(const Bytes& vram, unsigned start, unsigned end, size_t cutTo = 0) {
    Bytes f = {0xFE};
    putLE16(&f, start);
    putLE16(&f, end);
    putLE16(&f, 0);
    for (unsigned a = start; a <= end && a < vram.size(); ++a) f.push_back(vram[a]);
    if (cutTo) f.resize(cutTo);
    return f;
}

// Patterns at 0, colours at 8192: byte i is character row i / 256, column
// (i % 256) / 8, line i % 8; a set bit takes the high nibble.
std::vector<int> msxDecode(const Bytes& vram) {
    std::vector<int> out;
    for (int y = 0; y < 192; ++y)
        for (int x = 0; x < 256; ++x) {
            const size_t i = static_cast<size_t>(256 * (y / 8) + 8 * (x / 8) + y % 8);
            out.push_back(vram[i] & (0x80 >> (x % 8)) ? vram[8192 + i] >> 4 : vram[8192 + i] & 15);
        }
    return out;
}

// ---- Amstrad CPC -------------------------------------------------------------------

// Byte bits holding pen bits 0, 1, 2, 3 of each pixel of a byte, by mode.
const int MODE0_BITS[2][4] = {{7, 3, 5, 1}, {6, 2, 4, 0}};

Bytes cpcFile(char mode, const std::vector<int>& pens, int width) {
    Bytes f(16512, 0);
    f[1] = 'M', f[2] = 'O', f[3] = 'D', f[4] = 'E', f[5] = static_cast<uint8_t>(mode);
    const int perByte = width / 80;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t& b = f[128 + static_cast<size_t>((y % 8) * 2048 + (y / 8) * 80 + x / perByte)];
            const int pen = pens[static_cast<size_t>(y) * width + x], k = x % perByte;
            if (perByte == 8) b |= static_cast<uint8_t>((pen & 1) << (7 - k));
            else if (perByte == 4) b |= static_cast<uint8_t>(((pen & 1) << (7 - k)) | (((pen >> 1) & 1) << (3 - k)));
            else
                for (int bit = 0; bit < 4; ++bit) b |= static_cast<uint8_t>(((pen >> bit) & 1) << MODE0_BITS[k][bit]);
        }
    return f;
}

std::vector<int> penPattern(int width, int pens) {
    std::vector<int> out;
    for (int i = 0; i < width * 200; ++i) out.push_back(noise(static_cast<unsigned>(i), 7) % pens);
    return out;
}

struct Case {
    const char* name;
    const char* format;
    Bytes file;
    Status status;
    Rgb want;
    const char* formatName;
};

void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(c.status, loadBytesAs(c.format, c.file, &img, 0, &info));
        if (c.status != ST_OK) continue;
        EXPECT_STREQ(c.formatName, info.formatName);
        EXPECT_EQ(0, compareRgb(toRgb(img), c.want));
    }
}

Bytes with(Bytes b, size_t at, uint8_t v) {
    b[at] = v;
    return b;
}

Bytes grown(Bytes b, size_t n) {
    b.resize(n, 0);
    return b;
}

}  // namespace

TEST(EightBitScreens, ZxSpectrum) {
    const Bytes screen = zxScreen(1);
    const Rgb want = paint(256, 192, zxDecode(screen.data()), ZX);
    Bytes snapshot(27, 0x3F);
    snapshot.insert(snapshot.end(), screen.begin(), screen.end());
    snapshot.resize(49179, 0xC9);
    // Only stored line 1 (then stored line 64) drawn, ink red on black paper.
    Bytes one(6912, 0), sixtyFour(6912, 0);
    std::fill(one.begin() + 32, one.begin() + 64, 0xFF);
    std::fill(sixtyFour.begin() + 64 * 32, sixtyFour.begin() + 65 * 32, 0xFF);
    std::fill(one.begin() + 6144, one.end(), 0x02);
    std::fill(sixtyFour.begin() + 6144, sixtyFour.end(), 0x02);
    std::vector<int> line8(256 * 192, 0), line64(256 * 192, 0);
    std::fill(line8.begin() + 8 * 256, line8.begin() + 9 * 256, 2);
    std::fill(line64.begin() + 64 * 256, line64.begin() + 65 * 256, 2);
    // Bright white ink on black paper: brightness is not shown.
    Bytes bright(6912, 0xFF);
    std::fill(bright.begin() + 6144, bright.end(), 0x47);
    runCases({
        {"screen", "z80scr", screen, ST_OK, want, "Z80 Screen dump"},
        {"snapshot", "z80sna", snapshot, ST_OK, want, "Spectrum Snapshot"},
        {"stored line 1 is screen line 8", "z80scr", one, ST_OK, paint(256, 192, line8, ZX), "Z80 Screen dump"},
        {"stored line 64 is screen line 64", "z80scr", sixtyFour, ST_OK, paint(256, 192, line64, ZX),
         "Z80 Screen dump"},
        {"bright ink", "z80scr", bright, ST_OK, paint(256, 192, std::vector<int>(256 * 192, 7), ZX), "Z80 Screen dump"},
        {"screen of 6913 bytes", "z80scr", grown(screen, 6913), ST_UNKNOWN_FORMAT, {}, nullptr},
        {"screen as a snapshot", "z80sna", screen, ST_UNKNOWN_FORMAT, {}, nullptr},
        {"snapshot one byte short", "z80sna", grown(snapshot, 49178), ST_UNKNOWN_FORMAT, {}, nullptr},
    });
}

TEST(EightBitScreens, Commodore64) {
    const C64Picture p = c64Picture(3);
    const Rgb want = paint(160, 200, c64Decode(p), C64);
    // Cell 0 of line 0: 11 10 01 00 gives colour memory, low screen nibble,
    // high screen nibble, background.
    C64Picture q = c64Picture(4);
    q.bitmap[0] = 0xE4;
    q.screen[0] = 0x5A;
    q.colour[0] = 0xF3;
    q.background = 0x06;
    std::vector<int> first = c64Decode(q);
    const std::vector<int> firstFour(first.begin(), first.begin() + 4);
    EXPECT_EQ(firstFour, (std::vector<int>{3, 10, 5, 6}));
    runCases({
        {"Koala", "koa", koalaFile(p), ST_OK, want, "Koala Paint"},
        {"Advanced Art Studio", "ocp", artStudioFile(p), ST_OK, want, "Advanced Art Studio"},
        {"Koala, cell 0 pens", "koa", koalaFile(q), ST_OK, paint(160, 200, first, C64), "Koala Paint"},
        {"Koala of 10004 bytes", "koa", grown(koalaFile(p), 10004), ST_UNKNOWN_FORMAT, {}, nullptr},
        {"Koala of 10002 bytes", "koa", grown(koalaFile(p), 10002), ST_UNKNOWN_FORMAT, {}, nullptr},
        {"Art Studio loaded at 0x4000", "ocp", artStudioFile(p, 0x40), ST_UNKNOWN_FORMAT, {}, nullptr},
        {"Art Studio one byte long", "ocp", grown(artStudioFile(p), 10019), ST_UNKNOWN_FORMAT, {}, nullptr},
    });
}

TEST(EightBitScreens, Msx2) {
    Bytes vram(16384);
    for (size_t i = 0; i < vram.size(); ++i) vram[i] = noise(static_cast<unsigned>(i), 9);
    const Rgb want = paint(256, 192, msxDecode(vram), MSX);
    Bytes coloursOnly = vram;
    std::fill(coloursOnly.begin(), coloursOnly.begin() + 8192, 0);
    // A header ending past the video memory, however short the data.
    Bytes pastEnd = msxFile(vram, 0, 0x3FFF);
    pastEnd[3] = 0x01, pastEnd[4] = 0x40;  // end 0x4001
    Bytes whole = msxFile(vram, 0, 0x3FFF);
    whole[3] = 0x00, whole[4] = 0x40;  // end 0x4000: all of it
    // A file holding end - start bytes, without the byte at end.
    Bytes lastMissing = vram;
    lastMissing[0x37FF] = 0;
    runCases({
        {"without the byte at end", "msx2", msxFile(vram, 0, 0x37FF, 7 + 0x37FF), ST_OK,
         paint(256, 192, msxDecode(lastMissing), MSX), "Msx 2 Screen"},
        {"BASIC's screen 2 save", "msx2", msxFile(vram, 0, 0x37FF), ST_OK, want, "Msx 2 Screen"},
        {"whole video memory", "msx2", whole, ST_OK, want, "Msx 2 Screen"},
        {"colours only", "msx2", msxFile(vram, 0x2000, 0x37FF), ST_OK, paint(256, 192, msxDecode(coloursOnly), MSX),
         "Msx 2 Screen"},
        {"end past the video memory", "msx2", pastEnd, ST_UNKNOWN_FORMAT, {}, nullptr},
        {"start after end", "msx2", with(msxFile(vram, 0, 0x37FF), 2, 0x38), ST_UNKNOWN_FORMAT, {}, nullptr},
        {"data cut short", "msx2", msxFile(vram, 0, 0x37FF, 7000), ST_UNKNOWN_FORMAT, {}, nullptr},
    });
}

TEST(EightBitScreens, AmstradCpc) {
    const std::vector<int> p0 = penPattern(160, 16), p1 = penPattern(320, 4), p2 = penPattern(640, 2);
    // Mode 0 pens 1, 2, 4, 8 for pixel 0 and pixel 1 land on bits 7, 3, 5, 1
    // and 6, 2, 4, 0.
    std::vector<int> single(160 * 200, 0);
    single[0] = 1, single[1] = 8, single[2] = 2, single[3] = 4;
    const Bytes singleFile = cpcFile('0', single, 160);
    EXPECT_EQ(0x81, singleFile[128]);
    EXPECT_EQ(0x18, singleFile[129]);
    runCases({
        {"mode 0", "cpc", cpcFile('0', p0, 160), ST_OK, paint(160, 200, p0, CPC), "CPC screen"},
        {"mode 0 single pens", "cpc", singleFile, ST_OK, paint(160, 200, single, CPC), "CPC screen"},
        {"mode 1", "cpc", cpcFile('1', p1, 320), ST_OK, paint(320, 200, p1, CPC), "CPC screen"},
        {"mode 2, dark blue and yellow", "cpc", cpcFile('2', p2, 640), ST_OK, paint(640, 200, p2, CPC), "CPC screen"},
        {"mode X is mode 0", "cpc", cpcFile('X', p0, 160), ST_OK, paint(160, 200, p0, CPC), "CPC screen"},
        {"16511 bytes", "cpc", grown(cpcFile('1', p1, 320), 16511), ST_UNKNOWN_FORMAT, {}, nullptr},
        {"MODF", "cpc", with(cpcFile('1', p1, 320), 4, 'F'), ST_UNKNOWN_FORMAT, {}, nullptr},
    });
}

// The sample files: each decodes to what a decode of its bytes by the
// machine's layout gives.
TEST(EightBitScreens, SampleFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "no corpus";
    struct Sample {
        const char* path;
        const char* format;
        const char* formatName;
    } samples[] = {
        {"z80scr/exolon1.scr", "z80scr", "Z80 Screen dump"},
        {"z80scr/flagUK.scr", "z80scr", "Z80 Screen dump"},
        {"z80scr/speccy2012.scr", "z80scr", "Z80 Screen dump"},
        {"z80sna/Explore_Screen.sna", "z80sna", "Spectrum Snapshot"},
        {"koa/NINJA3.KOA", "koa", "Koala Paint"},
        {"koa/abydos.koa", "koa", "Koala Paint"},
        {"ocp/parallax.ocp", "ocp", "Advanced Art Studio"},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.path);
        Bytes f;
        ASSERT_TRUE(readFile(corpusPath(s.path), &f));
        const std::string format = s.format;
        Rgb want;
        if (format == "z80scr") want = paint(256, 192, zxDecode(f.data()), ZX);
        else if (format == "z80sna") want = paint(256, 192, zxDecode(f.data() + 27), ZX);
        else want = paint(160, 200, c64Decode(c64FromFile(f, format == "koa")), C64);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(ST_OK, load(corpusPath(s.path), &img, 0, &info));
        EXPECT_STREQ(s.formatName, info.formatName);
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}
