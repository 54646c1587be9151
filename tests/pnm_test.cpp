// Portable bitmaps, graymaps and pixmaps: files written by netpbm and
// ImageMagick in every variant decode to the samples those programs store,
// our P4, P5 and P6 files read back the same in both programs, and hand-made
// headers and data pin down comments, scaling and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;



namespace {

const char IM[] = "convert-im6.q16";
const char MSG_BAD_SIZE[] = "Portable Bitmap : Bad picture's size !";

int pnmIndex() {
    static int index = findFormat("pnm");
    return index;
}

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

Status loadBytes(const std::vector<uint8_t>& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".pnm");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(pnmIndex());
    o.flags = flags;
    return loadImage(path.c_str(), img, &o, info);
}

bool havePeers() { return haveProgram(IM) && haveProgram("pamdepth") && haveProgram("pnmtoplainpnm"); }

// ---- hand-made files -----------------------------------------------------------

struct HandCase {
    const char* name;
    std::string file;
    Status status;
    uint16_t kind;                 // checked when the load succeeds
    std::vector<uint8_t> pixels;   // image bytes row after row (with OPT_ACCEPT_DAMAGED for failures)
};

TEST(PnmReader, HandMadeFiles) {
    const std::string p7Head = "P7 332\n#XVVERSION:Version 3.10a\n#END_OF_COMMENTS\n";
    const std::vector<HandCase> cases = {
        {"plain bitmap without separators", "P1\n5 2\n01101\n10010\n", ST_OK, IMG_BINARY,
         {1, 0, 0, 1, 0, 0, 1, 1, 0, 1}},
        {"plain bitmap with separators and comments", "P1 # size next\n3\n1\n1 #x\n 0\t1", ST_OK, IMG_BINARY, {0, 1, 0}},
        {"plain graymap of maximum 15 scales", "P2\n3 1\n15\n0 15 7\n", ST_OK, IMG_GREY, {0, 255, 119}},
        {"plain graymap past its maximum", "P2 2 1 15 20 300\n", ST_OK, IMG_GREY, {255, 255}},
        {"plain graymap of maximum 65535", "P2 2 1 65535 65535 32768\n", ST_OK, IMG_GREY, {255, 127}},
        {"plain pixmap with comments everywhere", "P3\n# c\n2 # w\n1\n#m\n255\n1 2 3 # x\n4 5 6", ST_OK, IMG_RGB,
         {1, 2, 3, 4, 5, 6}},
        {"raw bitmap 9 wide uses 2 bytes a row", std::string("P4\n9 2\n\x80\x80\x7F\x00", 11), ST_OK, IMG_BINARY,
         {0, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"raw graymap of maximum 1", std::string("P5 3 1 1\n") + '\0' + '\1' + '\2', ST_OK, IMG_GREY, {0, 255, 255}},
        {"raw graymap of 16-bit samples", std::string("P5 3 1 65535\n\xFF\xFF\x80\x00\x00\xFF", 19), ST_OK,
         IMG_GREY, {255, 127, 0}},
        {"raw graymap of maximum 1023", std::string("P5 2 1 1023\n\x03\xFF\x02\x00", 16), ST_OK, IMG_GREY,
         {255, 127}},
        {"raw pixmap of maximum 15", std::string("P6 1 1 15\n\x0F\x07\x00", 13), ST_OK, IMG_RGB, {255, 119, 0}},
        {"xv thumbnail is 3-3-2 colour", p7Head + "3 1 255\n\xE0\x1C\x03", ST_OK, IMG_PALETTE, {0xE0, 0x1C, 0x03}},
        // Refusals before any pixel.
        {"wrong magic", "P8\n1 1\n255\n\0", ST_UNKNOWN_FORMAT, 0, {}},
        {"no number", "P5 x 1 255\n", ST_UNKNOWN_FORMAT, 0, {}},
        {"header cut short", "P5 4 ", ST_READ_ERROR, 0, {}},
        {"maximum 0", "P5 1 1 0\n\x01", ST_UNKNOWN_FORMAT, 0, {}},
        {"maximum 65536", "P5 1 1 65536\n\x01\x01", ST_UNKNOWN_FORMAT, 0, {}},
        {"pixmap of two-byte samples", std::string("P6 2 1 256\n\x01\x00\x00\x80\x00\x00\x00\x01\x01\x01\x01\x01", 23),
         ST_OK, IMG_RGB, {255, 127, 0, 0, 255, 255}},
        {"plain pixmap maximum 1023", "P3 1 1 1023\n1023 512 4\n", ST_OK, IMG_RGB, {255, 127, 0}},
        {"width 0", "P5 0 2 255\n", ST_BAD_FILE, 0, {}},
        {"width 16000", "P4 16000 1\n", ST_BAD_FILE, 0, {}},
        {"height 65537 does not wrap to 1", "P5 1 65537 255\n\x01", ST_BAD_FILE, 0, {}},
        {"endless digits", "P5 1 99999999999999999999999 255\n\x01", ST_BAD_FILE, 0, {}},
        // Data that end or go wrong: the rows so far are kept.
        {"raw graymap cut in the second row", "P5 3 2 255\n\x01\x02\x03\x04", ST_READ_ERROR, IMG_GREY,
         {1, 2, 3, 4, 0, 0}},
        {"16-bit graymap cut inside a sample", std::string("P5 2 1 65535\n\xFF\xFF\x80", 16), ST_READ_ERROR,
         IMG_GREY, {255, 0}},
        {"plain graymap cut short", "P2 2 2 255 1 2 3", ST_READ_ERROR, IMG_GREY, {1, 2, 3, 0}},
        {"plain graymap with a letter", "P2 2 2 255 1 2 3 x 4", ST_CORRUPT, IMG_GREY, {1, 2, 3, 0}},
        {"plain bitmap with a 2", "P1 3 1 012", ST_CORRUPT, IMG_BINARY, {1, 0, 1}},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info;
        ASSERT_EQ(loadBytes(bytesOf(c.file), &img, 0, &info), c.status);
        if (c.status == ST_BAD_FILE) EXPECT_STREQ(info.message, MSG_BAD_SIZE);
        if (c.pixels.empty()) {
            EXPECT_EQ(img.pixels, nullptr);
            continue;
        }
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            ASSERT_EQ(loadBytes(bytesOf(c.file), &img, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

TEST(PnmReader, XvThumbnailColoursAndNames) {
    OwnedImage img;
    FileInfo info;
    ASSERT_EQ(loadBytes(bytesOf("P7 332\n#END_OF_COMMENTS\n2 1 255\n\xE0\x49"), &img, 0, &info), ST_OK);
    EXPECT_STREQ(info.formatName, "XV visual schnauzer");
    Rgb rgb = toRgb(img);
    // 111 000 00 is full red; 010 010 01 is a dark grey-blue step on each ramp.
    EXPECT_EQ(rgb.pixels, (std::vector<uint8_t>{255, 0, 0, 72, 72, 85}));

    const std::vector<std::pair<std::string, const char*>> names = {
        {"P1 1 1 0", "Portable Bitmap (Type 1 - ASCII)"},    {"P2 1 1 255 0", "Portable Graymap (Type 2 - ASCII)"},
        {"P3 1 1 255 0 0 0", "Portable Pixmap (Type 3 - ASCII)"}, {"P4 1 1\n\x80", "Portable Bitmap (Type 4 - Binary)"},
        {"P5 1 1 255\n\x01", "Portable Graymap (Type 5 - Binary)"},
        {"P6 1 1 255\n\x01\x02\x03", "Portable Pixmap (Type 6 - Binary)"},
    };
    for (const auto& n : names) {
        OwnedImage other;
        ASSERT_EQ(loadBytes(bytesOf(n.first), &other, 0, &info), ST_OK) << n.second;
        EXPECT_STREQ(info.formatName, n.second);
        EXPECT_EQ(info.formatIndex, pnmIndex());
    }
}

// ---- files written by the peers --------------------------------------------------

struct PeerCase {
    const char* name;
    const char* makeFile;   // shell command: $S is the source P6, $O the file to read
    const char* makeRaw;    // shell command turning $O into a raw P4/P5/P6 oracle $R
    uint16_t kind;
};

TEST(PnmReader, PeerFilesDecodeToTheirSamples) {
    if (!havePeers()) GTEST_SKIP() << "netpbm or ImageMagick missing";
    const std::string src = tempPath("peer_src.ppm");
    ASSERT_TRUE(writeFile(src, patternP6(37, 21)));
    const std::vector<PeerCase> cases = {
        {"netpbm plain bitmap", "ppmtopgm $S | pamthreshold -simple | pamtopnm | pnmtoplainpnm > $O", "pnmtopnm $O > $R",
         IMG_BINARY},
        {"ImageMagick plain bitmap", "convert-im6.q16 $S -threshold 50% -compress none pbm:$O", "pnmtopnm $O > $R",
         IMG_BINARY},
        {"netpbm raw bitmap", "ppmtopgm $S | pamthreshold -simple | pamtopnm > $O", "cp $O $R", IMG_BINARY},
        {"netpbm plain graymap maximum 15", "ppmtopgm $S | pamdepth 15 | pnmtoplainpnm > $O", "pnmtopnm $O > $R",
         IMG_GREY},
        {"netpbm plain graymap maximum 1023", "ppmtopgm $S | pamdepth 1023 | pnmtoplainpnm > $O", "pnmtopnm $O > $R",
         IMG_GREY},
        {"ImageMagick plain graymap", "convert-im6.q16 $S -colorspace gray -compress none pgm:$O", "pnmtopnm $O > $R",
         IMG_GREY},
        {"netpbm plain pixmap", "pnmtoplainpnm $S > $O", "pnmtopnm $O > $R", IMG_RGB},
        {"netpbm plain pixmap maximum 15", "pamdepth 15 $S | pnmtoplainpnm > $O", "pnmtopnm $O > $R", IMG_RGB},
        {"ImageMagick plain pixmap", "convert-im6.q16 $S -compress none ppm:$O", "pnmtopnm $O > $R", IMG_RGB},
        {"netpbm raw graymap maximum 1", "ppmtopgm $S | pamdepth 1 > $O", "cp $O $R", IMG_GREY},
        {"netpbm raw graymap maximum 15", "ppmtopgm $S | pamdepth 15 > $O", "cp $O $R", IMG_GREY},
        {"netpbm raw graymap maximum 255", "ppmtopgm $S > $O", "cp $O $R", IMG_GREY},
        {"netpbm raw graymap maximum 1023", "ppmtopgm $S | pamdepth 1023 > $O", "cp $O $R", IMG_GREY},
        {"netpbm raw graymap maximum 65535", "ppmtopgm $S | pamdepth 65535 > $O", "cp $O $R", IMG_GREY},
        {"ImageMagick 16-bit graymap", "convert-im6.q16 $S -colorspace gray -depth 16 pgm:$O", "cp $O $R", IMG_GREY},
        {"netpbm raw pixmap maximum 15", "pamdepth 15 $S > $O", "cp $O $R", IMG_RGB},
        {"netpbm raw pixmap maximum 255", "cp $S $O", "cp $O $R", IMG_RGB},
        {"netpbm raw pixmap maximum 1023", "pamdepth 1023 $S > $O", "cp $O $R", IMG_RGB},
        {"netpbm raw pixmap maximum 65535", "pamdepth 65535 $S > $O", "cp $O $R", IMG_RGB},
        {"ImageMagick 16-bit pixmap", "convert-im6.q16 $S -depth 16 ppm:$O", "cp $O $R", IMG_RGB},
        {"netpbm plain pixmap maximum 1023", "pamdepth 1023 $S | pnmtoplainpnm > $O", "pnmtopnm $O > $R", IMG_RGB},
    };
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("peer" + std::to_string(n) + ".pnm");
        const std::string raw = tempPath("peer" + std::to_string(n++) + "_raw.pnm");
        const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}, {"$R", raw}};
        ASSERT_EQ(run(shell(c.makeFile, names)), 0);
        ASSERT_EQ(run(shell(c.makeRaw, names)), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(raw, &expected, nullptr));
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

TEST(PnmReader, CorpusFiles) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/pnm/";
    const std::vector<std::pair<const char*, uint16_t>> files = {
        {"hopper_16bit.pgm", IMG_GREY}, {"input_p1.pbm", IMG_BINARY}, {"input_p2.pgm", IMG_GREY},
        {"input_p3.ppm", IMG_RGB},      {"input_p4.pbm", IMG_BINARY}, {"input_p6.ppm", IMG_RGB},
        {"input_p7.p7", IMG_PALETTE},
    };
    std::vector<uint8_t> probe;
    if (!readFile(dir + files[0].first, &probe)) GTEST_SKIP() << "corpus missing";
    if (!haveProgram("pnmtopnm") || !haveProgram("gm")) GTEST_SKIP() << "netpbm or GraphicsMagick missing";
    for (const auto& f : files) {
        SCOPED_TRACE(f.first);
        const std::string path = dir + f.first;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), ST_OK);
        EXPECT_EQ(img.kind, f.second);
        // netpbm reads the portable types; only GraphicsMagick reads XV thumbnails.
        const std::string raw = tempPath(std::string(f.first) + ".raw.pnm");
        const bool xv = f.second == IMG_PALETTE;
        ASSERT_EQ(run((xv ? "gm convert " + path + " ppm:" : "pnmtopnm " + path + " > ") + raw + " 2>/dev/null"), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(raw, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected), 0);
    }
}

// ---- arbitrary maps (P7 with header lines) ------------------------------------------

std::string pam(const std::string& fields, const std::string& data) { return "P7\n" + fields + "ENDHDR\n" + data; }

struct PamCase {
    const char* name;
    std::string file;
    Status status;
    const char* message;          // reader message when refused
    uint16_t kind;
    std::vector<uint8_t> pixels;  // image bytes (with OPT_ACCEPT_DAMAGED for a cut file)
};

TEST(PnmReader, ArbitraryMapsByHand) {
    const char* badHeader = "Portable Bitmap : Bad arbitrary map header !";
    const char* badDepth = "Portable Bitmap : Bad tuple depth !";
    const char* badMaxval = "Portable Bitmap : Bad maximum value !";
    const std::string size21 = "WIDTH 2\nHEIGHT 1\n";
    const std::vector<PamCase> cases = {
        {"grey with comments and blank lines", "P7\n# made by hand\nWIDTH 3\n\nHEIGHT 1 # one row\nDEPTH 1\n"
         "MAXVAL 255\nTUPLTYPE GRAYSCALE\nENDHDR\n" + std::string("\x00\x80\xFF", 3), ST_OK, nullptr, IMG_GREY, {0, 128, 255}},
        {"black and white: 1 is white", pam("WIDTH 4\nHEIGHT 1\nDEPTH 1\nMAXVAL 1\nTUPLTYPE BLACKANDWHITE\n",
         std::string("\x00\x01\x01\x00", 4)), ST_OK, nullptr, IMG_BINARY, {0, 1, 1, 0}},
        {"rgb of maximum 15 rounds", pam(size21 + "DEPTH 3\nMAXVAL 15\nTUPLTYPE RGB\n", std::string("\x0F\x07\x01\x00\x08\x0E", 6)),
         ST_OK, nullptr, IMG_RGB, {255, 119, 17, 0, 136, 238}},
        {"16-bit grey rounds to the nearest level", pam("WIDTH 3\nHEIGHT 1\nDEPTH 1\nMAXVAL 65535\nTUPLTYPE GRAYSCALE\n",
         std::string("\x80\x00\x00\x80\x7F\xFF", 6)), ST_OK, nullptr, IMG_GREY, {128, 0, 127}},
        {"rgb with alpha", pam(size21 + "DEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\n", "\x01\x02\x03\x04\x05\x06\x07\x08"),
         ST_OK, nullptr, IMG_RGB32, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"grey with alpha repeats the grey", pam(size21 + "DEPTH 2\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\n", "\x10\x20\x30\x40"),
         ST_OK, nullptr, IMG_RGB32, {0x10, 0x10, 0x10, 0x20, 0x30, 0x30, 0x30, 0x40}},
        {"black and white with alpha", pam(size21 + "DEPTH 2\nMAXVAL 1\nTUPLTYPE BLACKANDWHITE_ALPHA\n",
         std::string("\x01\x01\x00\x00", 4)), ST_OK, nullptr, IMG_RGB32, {255, 255, 255, 255, 0, 0, 0, 0}},
        {"16-bit rgb with alpha", pam("WIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\n",
         std::string("\xFF\xFF\x00\x00\x80\x00\x01\x01", 8)), ST_OK, nullptr, IMG_RGB32, {255, 0, 128, 1}},
        {"unknown tuple type of depth 2 is grey and opacity", pam(size21 + "DEPTH 2\nMAXVAL 255\nTUPLTYPE FOO\n",
         "\x10\x20\x30\x40"), ST_OK, nullptr, IMG_RGB32, {0x10, 0x10, 0x10, 0x20, 0x30, 0x30, 0x30, 0x40}},
        {"no tuple type, depth 3 is rgb", pam("WIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\n", "\x01\x02\x03"), ST_OK,
         nullptr, IMG_RGB, {1, 2, 3}},
        // Refusals.
        {"width 16000", pam("WIDTH 16000\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\n", ""), ST_BAD_FILE,
         "Portable Bitmap : Bad picture's size !", 0, {}},
        {"huge width", pam("WIDTH 4294967297\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n", ""), ST_BAD_FILE,
         "Portable Bitmap : Bad picture's size !", 0, {}},
        {"no ENDHDR", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE\n", ST_BAD_FILE, badHeader, 0, {}},
        {"no MAXVAL", pam("WIDTH 1\nHEIGHT 1\nDEPTH 1\nTUPLTYPE GRAYSCALE\n", "\x01"), ST_BAD_FILE, badHeader, 0, {}},
        {"no HEIGHT", pam("WIDTH 1\nDEPTH 1\nMAXVAL 255\n", "\x01"), ST_BAD_FILE, badHeader, 0, {}},
        {"unknown keyword", pam("WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nCOLOUR 3\n", "\x01"), ST_BAD_FILE, badHeader,
         0, {}},
        {"width not a number", pam("WIDTH x\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\n", "\x01"), ST_BAD_FILE, badHeader, 0, {}},
        {"depth 0", pam("WIDTH 1\nHEIGHT 1\nDEPTH 0\nMAXVAL 255\n", ""), ST_BAD_FILE, badDepth, 0, {}},
        {"depth 5 of an unknown type", pam("WIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\n", "\x01\x02\x03\x04\x05"),
         ST_BAD_FILE, badDepth, 0, {}},
        {"rgb of depth 4", pam("WIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB\n", "\x01\x02\x03\x04"),
         ST_BAD_FILE, badDepth, 0, {}},
        {"grey with alpha of depth 1", pam("WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE GRAYSCALE_ALPHA\n", "\x01"),
         ST_BAD_FILE, badDepth, 0, {}},
        {"maximum 0", pam("WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 0\n", "\x01"), ST_BAD_FILE, badMaxval, 0, {}},
        {"maximum 70000", pam("WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 70000\n", "\x01\x01"), ST_BAD_FILE, badMaxval, 0, {}},
        {"black and white of maximum 255", pam("WIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE BLACKANDWHITE\n",
         "\x01"), ST_BAD_FILE, badMaxval, 0, {}},
        // Data that end early: the rows so far, and the whole tuples of the broken row.
        {"rgb cut in the second row", pam("WIDTH 2\nHEIGHT 2\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\n", "abcdefghijk"),
         ST_READ_ERROR, nullptr, IMG_RGB, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0, 0, 0}},
        {"16-bit grey cut inside a sample", pam("WIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 65535\n", std::string("\xFF\xFF\x80", 3)),
         ST_READ_ERROR, nullptr, IMG_GREY, {255, 0}},
    };
    for (const PamCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytes(bytesOf(c.file), &img, 0, &info), c.status);
        if (c.message) EXPECT_STREQ(info.message, c.message);
        if (c.status == ST_OK) EXPECT_STREQ(info.formatName, "Portable Arbitrary Map (Type 7 - Binary)");
        if (c.status != ST_OK) {
            EXPECT_EQ(img.pixels, nullptr);
            if (c.pixels.empty()) continue;
            ASSERT_EQ(loadBytes(bytesOf(c.file), &img, OPT_ACCEPT_DAMAGED), ST_OK);
        }
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(pixelsOf(img), c.pixels);
    }
}

struct PamPeerCase {
    const char* name;
    const char* make;   // $S source P6, $M a grey mask, $G the source in grey, $O the arbitrary map
    int alphaPlane;     // the plane netpbm's pamchannel takes the opacity from, or -1
    uint16_t kind;
};

// netpbm writes the maps; its own pamtopnm and pamdepth (which rounds) give
// the 8-bit colour and opacity they hold.
TEST(PnmReader, ArbitraryMapsFromNetpbm) {
    for (const char* tool : {"pamtopam", "pamstack", "pamchannel", "pamtopnm", "pamdepth", "pamthreshold"})
        if (!haveProgram(tool)) GTEST_SKIP() << tool << " missing";
    const std::string src = tempPath("pam_src.ppm"), mask = tempPath("pam_mask.pgm"), grey = tempPath("pam_grey.pgm");
    ASSERT_TRUE(writeFile(src, patternP6(37, 21)));
    ASSERT_EQ(run(shell("ppmtopgm " + src + " > " + grey + " && pamflip -lr " + grey + " > " + mask, {})), 0);
    const std::vector<PamPeerCase> cases = {
        {"rgb", "pamtopam < $S > $O", -1, IMG_RGB},
        {"grey", "pamtopam < $G > $O", -1, IMG_GREY},
        {"black and white", "pamthreshold -simple $G > $O", -1, IMG_BINARY},
        {"rgb of maximum 65535", "pamdepth 65535 $S | pamtopam > $O", -1, IMG_RGB},
        {"grey of maximum 1023", "pamdepth 1023 $G | pamtopam > $O", -1, IMG_GREY},
        {"rgb with alpha", "pamstack -tupletype=RGB_ALPHA $S $M > $O", 3, IMG_RGB32},
        {"rgb with alpha of maximum 65535", "pamstack -tupletype=RGB_ALPHA $S $M | pamdepth 65535 > $O", 3, IMG_RGB32},
        {"grey with alpha", "pamstack -tupletype=GRAYSCALE_ALPHA $G $M > $O", 1, IMG_RGB32},
        {"grey with alpha of maximum 300", "pamstack -tupletype=GRAYSCALE_ALPHA $G $M | pamdepth 300 > $O", 1, IMG_RGB32},
    };
    int n = 0;
    for (const PamPeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath("pam" + std::to_string(n) + ".pam");
        const std::string ref = tempPath("pam" + std::to_string(n) + "_ref.pnm");
        const std::string alpha = tempPath("pam" + std::to_string(n++) + "_alpha.pgm");
        const std::vector<std::pair<std::string, std::string>> names = {
            {"$S", src}, {"$M", mask}, {"$G", grey}, {"$O", out}, {"$R", ref}, {"$A", alpha}};
        ASSERT_EQ(run(shell(c.make, names)), 0);
        ASSERT_EQ(run(shell("pamtopnm $O | pamdepth 255 > $R", names)), 0);
        Rgb colour;
        ASSERT_TRUE(readPeerPnm(ref, &colour, nullptr));
        OwnedImage img;
        ASSERT_EQ(load(out, &img), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(compareRgb(toRgb(img), colour), 0);
        if (c.alphaPlane < 0) continue;
        const std::string pick = "pamchannel -infile $O " + std::to_string(c.alphaPlane);
        ASSERT_EQ(run(shell(pick + " | pamtopnm -assume | pamdepth 255 > $A", names)), 0);
        Rgb opacity;
        ASSERT_TRUE(readPeerPnm(alpha, &opacity, nullptr));
        EXPECT_EQ(compareRgb(alphaOf(img), opacity), 0);
    }
}

// ---- writing -----------------------------------------------------------------------

// Images of every kind the writer takes, with the header it must write.
struct KindCase {
    const char* name;
    uint16_t kind;
    int colours;      // grey only
    const char* head; // for a 5 x 3 image
    const char* extension;
};

void fillImage(Image* img, int colours) {
    for (int y = 0; y < img->height; ++y) {
        uint8_t* r = imageRow(img, y);
        for (int i = 0; i < img->width * img->bytesPerPixel; ++i) {
            int v = (i * 53 + y * 101 + 7) & 255;
            if (img->kind == IMG_BINARY) v = (i + y) % 3 == 0;
            if (img->kind == IMG_GREY) v %= colours;
            r[i] = static_cast<uint8_t>(v);
        }
    }
    img->colours = img->kind == IMG_GREY ? colours : img->colours;
}

TEST(PnmWriter, EveryKindReadsBackInThePeers) {
    const std::vector<KindCase> cases = {
        {"black and white", IMG_BINARY, 2, "P4\n5 3\n", "pbm"},
        {"grey", IMG_GREY, 256, "P5\n5 3\n255\n", "pgm"},
        {"grey of 16 levels", IMG_GREY, 16, "P5\n5 3\n255\n", "pgm"},
        {"rgb", IMG_RGB, 0, "P6\n5 3\n255\n", "ppm"},
        {"bgr", IMG_BGR, 0, "P6\n5 3\n255\n", "ppm"},
        {"rgb32", IMG_RGB32, 0, "P6\n5 3\n255\n", "ppm"},
        {"bgr32", IMG_BGR32, 0, "P6\n5 3\n255\n", "ppm"},
    };
    const bool peers = haveProgram(IM) && haveProgram("pnmtopnm");
    for (const KindCase& c : cases) {
        for (int width : {5, 13}) {
            SCOPED_TRACE(std::string(c.name) + " width " + std::to_string(width));
            OwnedImage img;
            ASSERT_EQ(createImage(&img, c.kind, 4, width, 3), 1);
            fillImage(&img, c.colours);
            char name[FILE_NAME_LEN];
            snprintf(name, sizeof name, "%s", tempPath(std::string("out_") + c.extension + ".x").c_str());
            IoOptions o = defaultIoOptions();
            o.formatIndex = static_cast<int16_t>(pnmIndex());
            o.flags = OPT_SET_EXTENSION | OPT_NAME_IN_PLACE;
            ASSERT_EQ(saveImage(name, &img, &o), ST_OK);
            const std::string path = name;
            EXPECT_EQ(path.substr(path.size() - 4), std::string(".") + c.extension);
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(readFile(path, &bytes));
            if (width == 5) {
                ASSERT_GE(bytes.size(), strlen(c.head));
                EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + strlen(c.head)), c.head);
            }
            const Rgb expected = toRgb(img);
            OwnedImage back;
            ASSERT_EQ(load(path, &back), ST_OK);
            EXPECT_EQ(compareRgb(toRgb(back), expected), 0);
            if (!peers) continue;
            const std::string viaIm = path + ".im.ppm", viaNetpbm = path + ".np.pnm";
            ASSERT_EQ(run(std::string(IM) + " " + path + " -depth 8 ppm:" + viaIm), 0);
            ASSERT_EQ(run("pnmtopnm " + path + " > " + viaNetpbm + " 2>/dev/null"), 0);
            Rgb im, np;
            ASSERT_TRUE(readPeerPnm(viaIm, &im, nullptr));
            ASSERT_TRUE(readPeerPnm(viaNetpbm, &np, nullptr));
            EXPECT_EQ(compareRgb(im, expected), 0);
            EXPECT_EQ(compareRgb(np, expected), 0);
        }
    }
}

TEST(PnmWriter, BitmapBytesAndRefusals) {
    // 0 is black in the image, 1 in the file; the bits past the width stay 0.
    OwnedImage img;
    ASSERT_EQ(createImage(&img, IMG_BINARY, 1, 10, 1), 1);
    const uint8_t row[10] = {0, 1, 1, 0, 1, 1, 1, 1, 1, 0};
    memcpy(img.pixels, row, 10);
    char name[FILE_NAME_LEN];
    snprintf(name, sizeof name, "%s", tempPath("bits.pbm").c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(pnmIndex());
    ASSERT_EQ(saveImage(name, &img, &o), ST_OK);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readFile(name, &bytes));
    EXPECT_EQ(bytes, bytesOf(std::string("P4\n10 1\n") + "\x90\x40"));

    OwnedImage pal;
    ASSERT_EQ(createImage(&pal, IMG_PALETTE, 1, 2, 2), 1);
    pal.colours = 4;
    EXPECT_EQ(saveImage(name, &pal, &o), ST_KIND_REFUSED);
}

}  // namespace

// Large raw rows are read straight into the picture, many at a time: a file cut
// anywhere keeps its whole rows and what its broken row held, the rest black,
// with rows that follow one another in memory (width x 3 a multiple of 4) or not.
TEST(PnmReader, CutLargeFilesKeepWhatWasRead) {
    struct Shape {
        const char* magic;
        int width, height, channels;
    };
    const Shape shapes[] = {{"P6", 1000, 700, 3}, {"P6", 1001, 700, 3}, {"P5", 1500, 800, 1}};
    for (const Shape& shape : shapes) {
        const std::string header = std::string(shape.magic) + "\n" + std::to_string(shape.width) + " " +
                                   std::to_string(shape.height) + "\n255\n";
        const size_t rowBytes = size_t(shape.width) * shape.channels;
        std::vector<uint8_t> file = bytesOf(header);
        for (int y = 0; y < shape.height; ++y)
            for (size_t x = 0; x < rowBytes; ++x) file.push_back(uint8_t(1 + (x * 7 + y * 13) % 250));
        const size_t body = rowBytes * shape.height;
        for (size_t keep : {size_t(0), rowBytes / 2, rowBytes * 400, (size_t(1) << 20) + rowBytes / 3,
                            (size_t(3) << 19) + 5, body - 1, body}) {
            if (keep > body) continue;
            SCOPED_TRACE(std::string(shape.magic) + " " + std::to_string(shape.width) + " keeps " + std::to_string(keep));
            const std::vector<uint8_t> cut(file.begin(), file.begin() + header.size() + keep);
            OwnedImage strict, kept;
            EXPECT_EQ(loadBytes(cut, &strict), keep == body ? ST_OK : ST_READ_ERROR);
            if (keep == 0) continue;  // nothing read: nothing kept
            ASSERT_EQ(loadBytes(cut, &kept, OPT_ACCEPT_DAMAGED), ST_OK);
            long wrong = 0;
            for (int y = 0; y < shape.height; ++y) {
                const uint8_t* r = kept.pixels + size_t(y) * kept.stride;
                for (size_t x = 0; x < rowBytes; ++x) {
                    const size_t at = size_t(y) * rowBytes + x;
                    wrong += r[x] != (at < keep ? file[header.size() + at] : 0);
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}
