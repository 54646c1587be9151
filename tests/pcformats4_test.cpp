// GIMP icons, Sega SJ-1 DIGIO camera files, ImageLab, Calamus raster graphics
// and Artisan pictures. No program at hand writes the first four: their files
// are built byte by byte here from the layouts, SJ-1 files around streams
// written by cjpeg and compared with djpeg's decode. Artisan files are only
// recognised: they are refused with a reason, and the other .art files still
// reach their own reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cmdline.h"
#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

// A grey picture as triplets.
Rgb greyRgb(int w, int h, const Bytes& v) {
    Rgb r;
    r.width = w;
    r.height = h;
    for (uint8_t g : v) r.pixels.insert(r.pixels.end(), 3, g);
    return r;
}

// One case of a table: a file loaded as a format; for ST_OK and for damaged
// files (loaded again accepting the damage) the picture expected.
struct Case {
    const char* name;
    const char* format;
    Bytes file;
    Status status;
    Rgb want;                        // empty: no picture compared
    const char* message = nullptr;   // the reader's reason, when it gives one
};

void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(c.status, loadBytesAs(c.format, c.file, &img, 0, &info));
        if (c.message) EXPECT_STREQ(c.message, info.message);
        if (c.want.pixels.empty()) continue;
        if (c.status != ST_OK) ASSERT_EQ(ST_OK, loadBytesAs(c.format, c.file, &img, OPT_ACCEPT_DAMAGED));
        EXPECT_EQ(0, compareRgb(toRgb(img), c.want));
    }
}

// ---- GIMP icons ---------------------------------------------------------------------

// The plug-in's template around the given rows, with LF or CR LF line ends.
Bytes giconFile(const std::string& width, const std::string& height, const std::vector<std::string>& rows,
                bool crlf = false, bool closed = true) {
    const std::string nl = crlf ? "\r\n" : "\n";
    std::string s = "/*  GIMP icon image format -- S. Kimball, P. Mattis  */" + nl + "/*  Image name: tool  */" + nl +
                    nl + nl + "#define tool_width " + width + nl + "#define tool_height " + height + nl +
                    "static char *tool_bits [] =" + nl + "{" + nl;
    for (size_t i = 0; i < rows.size(); ++i) s += "  \"" + rows[i] + "\"" + (i + 1 < rows.size() ? "," : "") + nl;
    if (closed) s += "};" + nl;
    return text(s);
}

// The text up to the end of the first occurrence of what.
Bytes cutAfter(const Bytes& b, const std::string& what) {
    const std::string s(b.begin(), b.end());
    return cut(b, s.find(what) + what.size());
}

TEST(GiconReader, HandMadeIcons) {
    const uint8_t T = 255;  // transparent, shown white
    const Rgb levels = greyRgb(8, 2, {0, 36, 72, 109, 145, 182, 218, 255, T, 0, T, 0, 0, T, T, T});
    const std::vector<std::string> rows = {"abcdefgh", ".a.Az"};  // short row, other characters
    const Rgb wide = greyRgb(3, 1, {0, 255, T});
    runCases({
        {"eight levels and transparency", "gicon", giconFile("8", "2", rows), ST_OK, levels},
        {"CR LF line ends", "gicon", giconFile("8", "2", rows, true), ST_OK, levels},
        {"longer rows cut to the width", "gicon", giconFile("3", "1", {"ah.hhh"}), ST_OK, wide},
        {"rows missing", "gicon", giconFile("3", "3", {"ah."}), ST_READ_ERROR,
         greyRgb(3, 3, {0, 255, T, 0, 0, 0, 0, 0, 0})},
        {"text cut in a row", "gicon", cutAfter(giconFile("3", "2", {"ah.", "hha"}), "\"hh"), ST_READ_ERROR,
         greyRgb(3, 2, {0, 255, T, 0, 0, 0})},
        {"no closing brace", "gicon", giconFile("3", "1", {"ah."}, false, false), ST_OK, wide},
        {"no width", "gicon", giconFile("0", "1", {"a"}), ST_BAD_FILE, {}, "GIMP Icon : Bad header !"},
        {"16000 rows", "gicon", giconFile("1", "16000", {"a"}), ST_BAD_FILE, {}, "GIMP Icon : Bad header !"},
        {"size not a number", "gicon", giconFile("x8", "1", {"a"}), ST_BAD_FILE, {}, "GIMP Icon : Bad header !"},
        {"no #define", "gicon", text("/*  GIMP icon image format  */\n{ \"a\" };\n"), ST_BAD_FILE, {},
         "GIMP Icon : Bad header !"},
        {"a 15999-square icon of 200 bytes", "gicon", giconFile("15999", "15999", {"a"}), ST_READ_ERROR, {}},
        {"another first line", "gicon", text("/* XPM */\n#define a_width 1\n"), ST_UNKNOWN_FORMAT, {}},
        {"a Windows icon's bytes", "gicon", Bytes{0, 0, 1, 0, 1, 0, 16, 16, 0, 0}, ST_UNKNOWN_FORMAT, {}},
    });
}

TEST(GiconReader, SharesItsExtensionWithWindowsIcons) {
    const std::string icon = tempPath("tool.ico");
    ASSERT_TRUE(writeFile(icon, giconFile("2", "1", {"h."})));
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, load(icon, &img, 0, &info));
    EXPECT_EQ(findFormat("gicon"), info.formatIndex);
    EXPECT_STREQ("GIMP Icon", info.formatName);
    EXPECT_EQ(IMG_GREY, img.kind);

    // A Windows icon of ours keeps its own reader.
    OwnedImage small;
    Bytes grey = text("P5 16 16 255\n");
    for (int i = 0; i < 256; ++i) grey.push_back(static_cast<uint8_t>(i));
    ASSERT_EQ(ST_OK, loadBytesAs("pnm", grey, &small));
    const std::string windows = tempPath("windows.ico");
    ASSERT_EQ(ST_OK, saveAs(&small, windows, "ico"));
    ASSERT_EQ(ST_OK, load(windows, &img, 0, &info));
    EXPECT_EQ(findFormat("ico"), info.formatIndex);
}

// ---- Sega SJ-1 DIGIO ----------------------------------------------------------------

// A JPEG stream written by cjpeg from a test picture and djpeg's decode of it.
bool cjpegStream(int w, int h, bool grey, Bytes* out, Rgb* decoded) {
    static int counter = 0;
    const std::string tag = std::to_string(counter++);
    const std::string ppm = tempPath("sj" + tag + ".ppm"), jpg = tempPath("sj" + tag + ".jpg"),
                      ref = tempPath("sj" + tag + "ref.pnm");
    if (!writeFile(ppm, patternP6(w, h))) return false;
    if (run(shell("cjpeg OPT -quality 80 IN > OUT", {{"OPT", grey ? "-grayscale" : ""}, {"IN", ppm}, {"OUT", jpg}})))
        return false;
    if (run(shell("djpeg -pnm IN > OUT", {{"IN", jpg}, {"OUT", ref}})) != 0) return false;
    unsigned maxval = 0;
    return readFile(jpg, out) && readPeerPnm(ref, decoded, &maxval);
}

// A header of `header` bytes that holds no marker, then the stream.
Bytes sj1File(const Bytes& jpeg, size_t header, uint8_t fill = 0x5A) {
    Bytes f(header, fill);
    if (header >= 4) f[0] = 'S', f[1] = 'J', f[2] = 0x01, f[3] = 0x00;
    return cat({f, jpeg});
}

// The stream without its Huffman table segments (the camera's frames may
// leave out the standard tables).
Bytes withoutHuffmanTables(const Bytes& jpeg) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const size_t len = 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]);
        if (jpeg[at + 1] != 0xC4) out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + len);
        at += len;
    }
    out.insert(out.end(), jpeg.begin() + at, jpeg.end());
    return out;
}

TEST(Sj1Reader, StreamsBehindAHeaderDecodeAsDjpegDecodesThem) {
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    Bytes colour, grey, memo;
    Rgb colourRgb, greyRgb, memoRgb;
    ASSERT_TRUE(cjpegStream(320, 240, false, &colour, &colourRgb));
    ASSERT_TRUE(cjpegStream(160, 120, true, &grey, &greyRgb));
    ASSERT_TRUE(cjpegStream(37, 21, false, &memo, &memoRgb));
    // A header with a start-of-image marker not followed by a marker.
    Bytes decoy = sj1File(memo, 300);
    decoy[100] = 0xFF, decoy[101] = 0xD8, decoy[102] = 0xFF, decoy[103] = 0x00;
    Bytes wide = memo;  // a frame claiming 16000 columns
    for (size_t i = 2; i + 8 < wide.size(); ++i)
        if (wide[i] == 0xFF && wide[i + 1] == 0xC0) {
            wide[i + 7] = 16000 >> 8;
            wide[i + 8] = 16000 & 0xFF;
            break;
        }
    Bytes noise(6000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 11);
    runCases({
        {"320 x 240 colour behind 128 bytes", "sj1", sj1File(colour, 128), ST_OK, colourRgb},
        {"160 x 120 grey behind 128 bytes", "sj1", sj1File(grey, 128), ST_OK, greyRgb},
        {"stream at 3000", "sj1", sj1File(memo, 3000), ST_OK, memoRgb},
        {"stream right at the start of a 1-byte header", "sj1", sj1File(memo, 1), ST_OK, memoRgb},
        {"a decoy marker in the header", "sj1", decoy, ST_OK, memoRgb},
        {"standard Huffman tables left out", "sj1", sj1File(withoutHuffmanTables(memo), 64), ST_OK, memoRgb},
        {"stream past 4 KB", "sj1", sj1File(memo, 4100), ST_UNKNOWN_FORMAT, {}},
        {"a plain JPEG file", "sj1", memo, ST_UNKNOWN_FORMAT, {}},
        {"no stream: a storage piece", "sj1", noise, ST_UNKNOWN_FORMAT, {}},
        {"stream cut short", "sj1", cut(sj1File(colour, 128), 128 + colour.size() / 2), ST_READ_ERROR, {}},
        {"16000 columns", "sj1", sj1File(wide, 128), ST_BAD_FILE, {}},
    });
    // Grey streams give grey pictures, in the camera's name.
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, loadBytesAs("sj1", sj1File(grey, 128), &img, 0, &info));
    EXPECT_EQ(IMG_GREY, img.kind);
    EXPECT_STREQ("Sega SJ-1 DIGIO", info.formatName);
}

TEST(Sj1Reader, OnlyFilesNamedSj1) {
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    Bytes jpeg;
    Rgb want;
    ASSERT_TRUE(cjpegStream(24, 16, false, &jpeg, &want));
    const Bytes file = sj1File(jpeg, 128);
    const struct {
        const char* name;
        Status status;
    } names[] = {{"picture.sj1", ST_OK}, {"PICTURE.SJ1", ST_OK}, {"picture.dat", ST_UNKNOWN_FORMAT},
                 {"picture", ST_UNKNOWN_FORMAT}, {"picture.sj1x", ST_UNKNOWN_FORMAT}};
    for (const auto& n : names) {
        SCOPED_TRACE(n.name);
        const std::string path = tempPath(n.name);
        ASSERT_TRUE(writeFile(path, file));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(n.status, load(path, &img, 0, &info));
        if (n.status == ST_OK) EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
    // Named .sj1, a plain JPEG file is still read, as JPEG.
    const std::string plain = tempPath("plain.sj1");
    ASSERT_TRUE(writeFile(plain, jpeg));
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, load(plain, &img, 0, &info));
    EXPECT_EQ(findFormat("jpeg"), info.formatIndex);
    // No other reader of the trial pass takes the wrapped stream.
    const std::string unnamed = tempPath("wrapped.sj1");
    ASSERT_TRUE(writeFile(unnamed, file));
    for (int i = 0; i < formatCount(); ++i) {
        if (formatRecord(i)->trial != 1 || formatReaderIsPlaceholder(i) || i == findFormat("sj1")) continue;
        SCOPED_TRACE(formatRecord(i)->shortName);
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(i);
        EXPECT_EQ(ST_UNKNOWN_FORMAT, loadImage(unnamed.c_str(), &img, &o, nullptr));
    }
}

// ---- ImageLab -----------------------------------------------------------------------

Bytes ilabFile(uint16_t w, uint16_t h, const Bytes& pixels) {
    Bytes f = text("B&W256");
    putBE16(&f, w);
    putBE16(&f, h);
    return cat({f, pixels});
}

TEST(IlabReader, HandMadeFiles) {
    const Bytes six = {0, 50, 100, 150, 200, 255};
    runCases({
        {"3 x 2, odd width", "ilab", ilabFile(3, 2, six), ST_OK, greyRgb(3, 2, six)},
        {"2 x 3", "ilab", ilabFile(2, 3, six), ST_OK, greyRgb(2, 3, six)},
        {"1 x 1", "ilab", ilabFile(1, 1, {77}), ST_OK, greyRgb(1, 1, {77})},
        {"trailing bytes", "ilab", cat({ilabFile(3, 2, six), {1, 2, 3}}), ST_OK, greyRgb(3, 2, six)},
        {"cut in the second row", "ilab", ilabFile(3, 2, {0, 50, 100, 150}), ST_READ_ERROR,
         greyRgb(3, 2, {0, 50, 100, 0, 0, 0})},
        {"16000 columns", "ilab", ilabFile(16000, 1, {1}), ST_BAD_FILE, {}, "ImageLab : Bad picture's size !"},
        {"15999 x 15999 in 11 bytes", "ilab", ilabFile(15999, 15999, {1}), ST_READ_ERROR, {}},
        {"no width", "ilab", ilabFile(0, 1, {1}), ST_UNKNOWN_FORMAT, {}},
        {"no height", "ilab", ilabFile(1, 0, {1}), ST_UNKNOWN_FORMAT, {}},
        {"other magic", "ilab", cat({text("B&W255"), {0, 1, 0, 1, 9}}), ST_UNKNOWN_FORMAT, {}},
    });
}

TEST(IlabReader, NetpbmRampInBothExtensions) {
    if (!haveProgram("pgmramp")) GTEST_SKIP() << "netpbm missing";
    const std::string pgm = tempPath("ramp.pgm");
    ASSERT_EQ(0, run(shell("pgmramp -lr 64 32 > OUT", {{"OUT", pgm}})));
    Bytes ramp;
    Rgb want;
    unsigned maxval = 0;
    ASSERT_TRUE(readFile(pgm, &ramp) && readPeerPnm(pgm, &want, &maxval));
    const Bytes file = ilabFile(64, 32, Bytes(ramp.end() - 64 * 32, ramp.end()));
    for (const char* name : {"ramp.b_w", "ramp.b&w", "ramp.dat"}) {
        SCOPED_TRACE(name);
        const std::string path = tempPath(name);
        ASSERT_TRUE(writeFile(path, file));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(ST_OK, load(path, &img, 0, &info));
        EXPECT_EQ(findFormat("ilab"), info.formatIndex);
        EXPECT_EQ(IMG_GREY, img.kind);
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

// ---- Calamus ------------------------------------------------------------------------

// The header, the coded data (its size as stated, or its true size), and the
// two bytes that close EC-Paint's files.
Bytes crgFile(uint32_t w, uint32_t h, const Bytes& coded, uint8_t type = 1, int64_t statedSize = -1) {
    Bytes f = text("CALAMUSCRG");
    for (uint8_t b : {0x03, 0xE8, 0x00, 0x02}) f.push_back(b);
    putBE32(&f, 0);  // size of the file less 24, filled below
    putBE16(&f, 0x80);
    putBE32(&f, w);
    putBE32(&f, h);
    putBE32(&f, 0x12345678);
    f.push_back(type);
    f.push_back(0);
    putBE32(&f, 0xFFFFFFFF);
    putBE32(&f, static_cast<uint32_t>(statedSize < 0 ? coded.size() : statedSize));
    f = cat({f, coded, {0x0D, 0x0A}});
    const uint32_t rest = static_cast<uint32_t>(f.size() - 24);
    for (int i = 0; i < 4; ++i) f[14 + i] = static_cast<uint8_t>(rest >> (24 - 8 * i));
    return f;
}

// The runs of the format: repeats of 3 or more bytes as runs (up to 128),
// everything else as literals (up to 128), across rows.
Bytes crgEncode(const Bytes& data) {
    Bytes out;
    size_t i = 0;
    while (i < data.size()) {
        size_t run = 1;
        while (i + run < data.size() && run < 128 && data[i + run] == data[i]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(127 + run));
            out.push_back(data[i]);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < data.size() && lit < 128 &&
               !(i + lit + 2 < data.size() && data[i + lit] == data[i + lit + 1] && data[i + lit] == data[i + lit + 2]))
            ++lit;
        out.push_back(static_cast<uint8_t>(lit - 1));
        out.insert(out.end(), data.begin() + i, data.begin() + i + lit);
        i += lit;
    }
    return out;
}

// 1-bit rows, a set bit black, as triplets.
Rgb crgRgb(int w, int h, const Bytes& rows) {
    Rgb r;
    r.width = w;
    r.height = h;
    const int rowBytes = (w + 7) / 8;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            r.pixels.insert(r.pixels.end(), 3,
                            rows[static_cast<size_t>(y) * rowBytes + x / 8] & (0x80 >> (x % 8)) ? 0 : 255);
    return r;
}

TEST(CalamusReader, HandMadeFiles) {
    // 20 x 3, three bytes a row: a run fills row 0, a literal of two bytes and
    // a run of three cross from row 1 into row 2, a literal ends row 2.
    const Bytes coded = {0x82, 0xFF, 0x01, 0x0F, 0xF0, 0x82, 0xA5, 0x00, 0x3C};
    const Bytes rows = {0xFF, 0xFF, 0xFF, 0x0F, 0xF0, 0xA5, 0xA5, 0xA5, 0x3C};
    // 1000 x 40: long runs, literals of 128 bytes, and a run of 128.
    Bytes big(125 * 40);
    for (size_t i = 0; i < big.size(); ++i) big[i] = (i / 300) % 2 ? static_cast<uint8_t>(i * 7 + i / 13) : 0;
    const Bytes bigCoded = crgEncode(big);
    bool run128 = false, literal128 = false;
    for (size_t at = 0; at < bigCoded.size(); at += bigCoded[at] < 128 ? bigCoded[at] + 2u : 2u) {
        run128 = run128 || bigCoded[at] == 0xFF;
        literal128 = literal128 || bigCoded[at] == 0x7F;
    }
    EXPECT_TRUE(run128 && literal128);
    runCases({
        {"runs across rows", "calamus", crgFile(20, 3, coded), ST_OK, crgRgb(20, 3, rows)},
        {"1000 x 40, packets of 128", "calamus", crgFile(1000, 40, bigCoded), ST_OK, crgRgb(1000, 40, big)},
        {"stated size past the end", "calamus", crgFile(20, 3, coded, 1, 100000), ST_OK, crgRgb(20, 3, rows)},
        {"a run past the last row", "calamus", crgFile(20, 3, cat({coded, {0x90, 0x00}})), ST_OK,
         crgRgb(20, 3, rows)},
        {"stated size short", "calamus", crgFile(20, 3, coded, 1, 6), ST_READ_ERROR,
         crgRgb(20, 3, {0xFF, 0xFF, 0xFF, 0x0F, 0xF0, 0, 0, 0, 0})},
        {"cut in a literal", "calamus", cut(crgFile(20, 3, coded), 42 + 4), ST_READ_ERROR,
         crgRgb(20, 3, {0xFF, 0xFF, 0xFF, 0x0F, 0, 0, 0, 0, 0})},
        {"cut before a run's byte", "calamus", cut(crgFile(20, 3, coded), 42 + 6), ST_READ_ERROR,
         crgRgb(20, 3, {0xFF, 0xFF, 0xFF, 0x0F, 0xF0, 0, 0, 0, 0})},
        {"type 2", "calamus", crgFile(20, 3, coded, 2), ST_BAD_FILE, {}, "Calamus : Unsupported variant !"},
        {"no width", "calamus", crgFile(0, 3, coded), ST_BAD_FILE, {}, "Calamus : Bad picture's size !"},
        {"16000 rows", "calamus", crgFile(20, 16000, coded), ST_BAD_FILE, {}, "Calamus : Bad picture's size !"},
        {"15999 x 15999 in 53 bytes", "calamus", crgFile(15999, 15999, coded), ST_READ_ERROR, {}},
        {"another version", "calamus", [&] { Bytes f = crgFile(20, 3, coded); f[11] = 0xE9; return f; }(),
         ST_UNKNOWN_FORMAT, {}},
        {"header cut", "calamus", cut(crgFile(20, 3, coded), 41), ST_UNKNOWN_FORMAT, {}},
    });
    // Found whatever the file is called.
    const std::string path = tempPath("page.crg");
    ASSERT_TRUE(writeFile(path, crgFile(20, 3, coded)));
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, load(path, &img, 0, &info));
    EXPECT_EQ(findFormat("calamus"), info.formatIndex);
    EXPECT_EQ(IMG_BINARY, img.kind);
    EXPECT_STREQ("Calamus Raster Graphic", info.formatName);
}

// ---- Artisan ------------------------------------------------------------------------

Bytes artisanFile(bool bigEndian, uint32_t type, size_t junk = 100) {
    Bytes f;
    if (bigEndian) putBE32(&f, 0x42F00F24), putBE32(&f, type);
    else putLE32(&f, 0x42F00F24), putLE32(&f, type);
    for (size_t i = 0; i < junk; ++i) f.push_back(static_cast<uint8_t>(i * 37));
    return f;
}

// An Art Director screen: 32000 bytes of screen, eight palettes of sixteen ST
// colours, the active palette's number at 32286, 32512 bytes in all. Its
// first bytes are those of an Artisan file.
Bytes artDirectorFile() {
    Bytes f = artisanFile(true, 1, 32000 - 8);
    for (int i = 0; i < 128; ++i) putBE16(&f, static_cast<uint32_t>((i * 0x123) & 0x777));
    f.resize(32512, 0);
    f[32287] = 3;
    return f;
}

TEST(ArtisanReader, RecognisedAndRefused) {
    const char* const MSG = "Artisan : Unsupported format !";
    runCases({
        {"big-endian, 24 bits", "art", artisanFile(true, 1), ST_BAD_FILE, {}, MSG},
        {"big-endian, colour map", "art", artisanFile(true, 2), ST_BAD_FILE, {}, MSG},
        {"big-endian, matte", "art", artisanFile(true, 3, 0), ST_BAD_FILE, {}, MSG},
        {"little-endian, colour map", "art", artisanFile(false, 2), ST_BAD_FILE, {}, MSG},
        {"type 7", "art", artisanFile(true, 7), ST_UNKNOWN_FORMAT, {}},
        {"type 0", "art", artisanFile(false, 0), ST_UNKNOWN_FORMAT, {}},
        {"type in the other order", "art", [] { Bytes f = artisanFile(true, 2); std::swap(f[4], f[7]); return f; }(),
         ST_UNKNOWN_FORMAT, {}},
        {"3 bytes", "art", Bytes{0x42, 0xF0, 0x0F}, ST_UNKNOWN_FORMAT, {}},
        {"empty", "art", Bytes{}, ST_UNKNOWN_FORMAT, {}},
    });
}

TEST(ArtisanReader, OtherArtFilesStillOpenAndItIsNotListedReadable) {
    // The format's reader only refuses: not offered as readable.
    FormatInfo fi{};
    ASSERT_EQ(0, getFormatInfo(findFormat("art"), &fi));
    EXPECT_EQ(0, fi.capabilities & CAP_READ);
    EXPECT_NE(std::string::npos, formatHelpText(findFormat("art")).find("reading: recognised and refused"));

    const std::string director = tempPath("screen.art");
    ASSERT_TRUE(writeFile(director, artDirectorFile()));
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(ST_OK, load(director, &img, 0, &info));
    EXPECT_EQ(findFormat("artdir"), info.formatIndex);

    // Under any name an Artisan file gets its reason.
    for (const char* name : {"picture.art", "picture.dat"}) {
        SCOPED_TRACE(name);
        const std::string path = tempPath(name);
        ASSERT_TRUE(writeFile(path, artisanFile(false, 3)));
        ASSERT_EQ(ST_BAD_FILE, load(path, &img, 0, &info));
        EXPECT_EQ(findFormat("art"), info.formatIndex);
        EXPECT_STREQ("Artisan : Unsupported format !", info.message);
    }
}

}  // namespace
