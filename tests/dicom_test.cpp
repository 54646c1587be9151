// DICOM reader: hand-built data sets pin down the element parser (preamble or
// none, explicit and implicit VR, undefined-length sequences, long values),
// the sample mappings (windows, rescaling, signed samples, 12 bits packed),
// frames, run-length data and refusals; files written by DCMTK (img2dcm,
// dcmcrle, dcmcjpeg) and GDCM, and the corpus, decode to the pixels dcm2pnm
// gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

const char EXPLICIT_LE[] = "1.2.840.10008.1.2.1";
const char IMPLICIT_LE[] = "1.2.840.10008.1.2";
const char RLE[] = "1.2.840.10008.1.2.5";

// A data set built element by element.
struct Dcm {
    std::vector<uint8_t> b;
    bool explicitVr = true;

    // ts null: no meta group.
    explicit Dcm(const char* ts = EXPLICIT_LE, bool preamble = true) {
        if (preamble) {
            b.assign(128, 0);
            b.insert(b.end(), {'D', 'I', 'C', 'M'});
        }
        if (ts) {
            std::string t(ts);
            if (t.size() & 1) t.push_back('\0');
            put(0x0002, 0x0010, "UI", std::vector<uint8_t>(t.begin(), t.end()), true);
            explicitVr = strcmp(ts, IMPLICIT_LE) != 0;
        }
    }
    void tag(uint16_t g, uint16_t e) {
        putLE16(&b, g);
        putLE16(&b, e);
    }
    void put(uint16_t g, uint16_t e, const char* vr, const std::vector<uint8_t>& v, bool forceExplicit = false) {
        tag(g, e);
        const std::string r(vr);
        if (explicitVr || forceExplicit) {
            b.insert(b.end(), r.begin(), r.end());
            const bool longForm = r == "OB" || r == "OW" || r == "SQ" || r == "UN" || r == "UT" || r == "OF";
            if (longForm) {
                putLE16(&b, 0);
                putLE32(&b, static_cast<uint32_t>(v.size()));
            } else {
                putLE16(&b, static_cast<uint32_t>(v.size()));
            }
        } else {
            putLE32(&b, static_cast<uint32_t>(v.size()));
        }
        b.insert(b.end(), v.begin(), v.end());
    }
    void us(uint16_t e, uint16_t v) { put(0x0028, e, "US", {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
    void text(uint16_t g, uint16_t e, const char* vr, std::string s) {
        if (s.size() & 1) s.push_back(' ');
        put(g, e, vr, std::vector<uint8_t>(s.begin(), s.end()));
    }
    // An undefined-length element: SQ in explicit form.
    void openSequence(uint16_t g, uint16_t e) {
        tag(g, e);
        if (explicitVr) {
            b.insert(b.end(), {'S', 'Q', 0, 0});
        }
        putLE32(&b, 0xFFFFFFFF);
    }
    void item(uint16_t e, uint32_t len) {
        tag(0xFFFE, e);
        putLE32(&b, len);
    }
    void image(int rows, int cols, int bitsAllocated, int bitsStored, int spp = 1, const char* photometric = "MONOCHROME2",
               int signedSamples = 0) {
        us(0x0002, static_cast<uint16_t>(spp));
        text(0x0028, 0x0004, "CS", photometric);
        us(0x0010, static_cast<uint16_t>(rows));
        us(0x0011, static_cast<uint16_t>(cols));
        us(0x0100, static_cast<uint16_t>(bitsAllocated));
        us(0x0101, static_cast<uint16_t>(bitsStored));
        us(0x0102, static_cast<uint16_t>(bitsStored - 1));
        us(0x0103, static_cast<uint16_t>(signedSamples));
    }
    void pixels(const std::vector<uint8_t>& v) { put(0x7FE0, 0x0010, "OW", v); }
    void pixelWords(const std::vector<int>& words) {
        std::vector<uint8_t> v;
        for (int w : words) putLE16(&v, static_cast<uint32_t>(w) & 0xFFFF);
        pixels(v);
    }
    // Encapsulated pixel data: an empty offset table, then the fragments.
    void fragments(const std::vector<std::vector<uint8_t>>& frags) {
        tag(0x7FE0, 0x0010);
        b.insert(b.end(), {'O', 'B', 0, 0});
        putLE32(&b, 0xFFFFFFFF);
        item(0xE000, 0);
        for (const auto& f : frags) {
            item(0xE000, static_cast<uint32_t>(f.size()));
            b.insert(b.end(), f.begin(), f.end());
        }
        item(0xE0DD, 0);
    }
};

// An RLE frame of one or more PackBits segments.
std::vector<uint8_t> rleFrame(const std::vector<std::vector<uint8_t>>& segments) {
    std::vector<uint8_t> f;
    putLE32(&f, static_cast<uint32_t>(segments.size()));
    uint32_t at = 64;
    for (int i = 0; i < 15; ++i) {
        putLE32(&f, i < static_cast<int>(segments.size()) ? at : 0);
        if (i < static_cast<int>(segments.size())) at += static_cast<uint32_t>(segments[i].size());
    }
    for (const auto& s : segments) f.insert(f.end(), s.begin(), s.end());
    return f;
}

Status loadDicom(const std::vector<uint8_t>& bytes, Image* img, int page = 0, FileInfo* info = nullptr) {
    static int counter = 0;
    const std::string path = tempPath("dicom" + std::to_string(counter++) + ".dcm");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    freeImage(img);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat("dicom"));
    o.pageIndex = page;
    return loadImage(path.c_str(), img, &o, info);
}

// The window mapping: below low black, above high white, between them a ramp.
int windowed(double m, double c, double w) {
    const double low = c - std::trunc(w / 2), high = c + std::trunc(w / 2);
    if (m < low) return 0;
    if (m > high) return 255;
    return static_cast<int>((m - low) * 255 / (high - low + 1));
}

std::vector<uint8_t> greyBytes(int n, int seed) {
    std::vector<uint8_t> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(i * 37 + seed * 11));
    return v;
}

TEST(DicomReader, HandBuiltDataSets) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Status status;
        const char* message;
        std::vector<uint8_t> pixels;  // grey bytes, or R,G,B triplets for colour
        int page = 0;
    };
    std::vector<Case> cases;
    const std::vector<uint8_t> four = {0, 64, 128, 255};
    {
        Dcm d;
        d.image(2, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"8-bit grey, explicit VR", d.b, ST_OK, nullptr, four});
    }
    {
        Dcm d(EXPLICIT_LE, false);
        d.image(2, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"no preamble and no DICM", d.b, ST_OK, nullptr, four});
    }
    {
        Dcm d(IMPLICIT_LE);
        d.image(2, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"implicit VR", d.b, ST_OK, nullptr, four});
    }
    {
        Dcm d(nullptr, false);
        d.explicitVr = false;
        d.text(0x0008, 0x0060, "CS", "MR");
        d.image(2, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"implicit VR without a meta group", d.b, ST_OK, nullptr, four});
    }
    {
        Dcm d(nullptr, false);
        d.explicitVr = false;
        d.put(0x0000, 0x0000, "UL", {20, 0, 0, 0});
        d.image(2, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"older file opening with its group length", d.b, ST_OK, nullptr, four});
    }
    {
        // An icon image in an undefined-length sequence must not stand for the picture.
        Dcm d;
        d.image(2, 2, 8, 8);
        d.openSequence(0x0088, 0x0200);
        d.item(0xE000, 0xFFFFFFFF);
        d.us(0x0010, 1);
        d.us(0x0011, 1);
        d.pixels({7, 7});
        d.item(0xE00D, 0);
        d.item(0xE0DD, 0);
        d.pixels(four);
        cases.push_back({"undefined-length sequence with an icon", d.b, ST_OK, nullptr, four});
    }
    {
        Dcm d;
        d.text(0x0008, 0x0010, "UT", std::string(70000, 'x'));
        d.image(2, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"a value longer than 65535 bytes is passed over", d.b, ST_OK, nullptr, four});
    }
    {
        Dcm d;
        d.image(2, 2, 16, 12);
        d.pixelWords({0, 4095, 2048, 1000});
        cases.push_back({"16 bits, 12 stored, no window", d.b, ST_OK, nullptr,
                         {0, 255, static_cast<uint8_t>(2048 * 255 / 4095), static_cast<uint8_t>(1000 * 255 / 4095)}});
    }
    {
        Dcm d;
        d.image(1, 4, 16, 16);
        d.text(0x0028, 0x1050, "DS", "40");
        d.text(0x0028, 0x1051, "DS", "400");
        d.text(0x0028, 0x1052, "DS", "-1024");
        d.pixelWords({863, 864, 1064, 1265});
        cases.push_back({"CT window 40/400, intercept -1024", d.b, ST_OK, nullptr,
                         {0, 0, static_cast<uint8_t>(windowed(40, 40, 400)), 255}});
    }
    {
        Dcm d;
        d.image(1, 4, 16, 12, 1, "MONOCHROME2", 1);
        d.text(0x0028, 0x1050, "DS", "0.0\\100");  // first of several values, decimal point
        d.text(0x0028, 0x1051, "DS", "200.0");
        d.pixelWords({0xF9C, 0xFFF, 0, 50});  // -100, -1, 0, 50 in 12 bits
        cases.push_back({"signed 12-bit samples through a window", d.b, ST_OK, nullptr,
                         {static_cast<uint8_t>(windowed(-100, 0, 200)), static_cast<uint8_t>(windowed(-1, 0, 200)),
                          static_cast<uint8_t>(windowed(0, 0, 200)), static_cast<uint8_t>(windowed(50, 0, 200))}});
    }
    {
        Dcm d;
        d.image(1, 3, 16, 8, 1, "MONOCHROME2", 1);
        d.pixelWords({0x80, 0xFF, 0x7F});  // -128, -1, 127
        cases.push_back({"signed samples without a window span the whole range", d.b, ST_OK, nullptr, {0, 127, 255}});
    }
    {
        Dcm d;
        d.image(2, 2, 8, 8, 1, "MONOCHROME1");
        d.pixels(four);
        cases.push_back({"MONOCHROME1 is inverted", d.b, ST_OK, nullptr, {255, 191, 127, 0}});
    }
    {
        Dcm d;
        d.image(1, 3, 12, 12);
        d.pixels({0xFF, 0xF0, 0x00, 0x80, 0x00, 0x00});  // FFF, 000, 800 (packed pairs)
        cases.push_back({"12 bits allocated, packed", d.b, ST_OK, nullptr,
                         {255, 0, static_cast<uint8_t>(0x800 * 255 / 4095)}});
    }
    {
        Dcm d;
        d.image(1, 2, 8, 8, 3, "RGB");
        d.us(0x0006, 1);
        d.pixels({1, 2, 3, 4, 5, 6});
        cases.push_back({"colour planes one after another", d.b, ST_OK, nullptr, {1, 3, 5, 2, 4, 6}});
    }
    {
        Dcm d;
        d.image(1, 2, 8, 8, 1, "PALETTE COLOR");
        std::vector<uint8_t> desc;
        putLE16(&desc, 256);
        putLE16(&desc, 0);
        putLE16(&desc, 16);
        for (uint16_t e : {0x1101, 0x1102, 0x1103}) d.put(0x0028, e, "US", desc);
        for (int c = 0; c < 3; ++c) {
            std::vector<uint8_t> lut;
            for (int i = 0; i < 256; ++i) putLE16(&lut, static_cast<uint32_t>(((i * (c + 1)) & 0xFF) << 8));
            d.put(0x0028, static_cast<uint16_t>(0x1201 + c), "OW", lut);
        }
        d.pixels({10, 100});
        cases.push_back({"palette colour", d.b, ST_OK, nullptr, {10, 20, 30, 100, 200, 44}});
    }
    {
        Dcm d;
        d.text(0x0028, 0x0008, "IS", "3");
        d.image(2, 2, 8, 8);
        std::vector<uint8_t> all = greyBytes(12, 0);
        d.pixels(all);
        cases.push_back({"third frame", d.b, ST_OK, nullptr, std::vector<uint8_t>(all.begin() + 8, all.end()), 2});
    }
    {
        Dcm d(RLE);
        d.image(2, 3, 8, 8);
        // 0x80 is no operation; a run, a literal run.
        d.fragments({rleFrame({{0x80, 0xFE, 9, 0x02, 1, 2, 3}})});
        cases.push_back({"RLE, one segment", d.b, ST_OK, nullptr, {9, 9, 9, 1, 2, 3}});
    }
    {
        Dcm d(RLE);
        d.image(1, 2, 16, 16);
        d.fragments({rleFrame({{0x01, 0xFF, 0x00}, {0x01, 0xFF, 0x00}})});  // 0xFFFF, 0x0000
        cases.push_back({"RLE, 16 bits in two segments", d.b, ST_OK, nullptr, {255, 0}});
    }
    {
        Dcm d(RLE);
        d.image(1, 2, 8, 8, 3, "RGB");
        d.fragments({rleFrame({{0x01, 10, 11}, {0x01, 20, 21}, {0x01, 30, 31}})});
        cases.push_back({"RLE, colour in three segments", d.b, ST_OK, nullptr, {10, 20, 30, 11, 21, 31}});
    }
    {
        Dcm d("1.2.840.10008.1.2.2");
        d.image(2, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"big endian", d.b, ST_BAD_FILE, "DICOM : No support for big endian !", {}});
    }
    {
        Dcm d("1.2.840.10008.1.2.4.70");
        d.image(2, 2, 8, 8);
        d.fragments({{0xFF, 0xD8, 0xFF, 0xC3}});
        cases.push_back({"lossless JPEG", d.b, ST_BAD_FILE, "DICOM : No support for lossless JPEG !", {}});
    }
    {
        Dcm d;
        d.image(2, 2, 8, 12);
        d.pixels(four);
        cases.push_back({"more bits stored than allocated", d.b, ST_BAD_FILE,
                         "DICOM : Bad number of bits per sample !", {}});
    }
    {
        Dcm d;
        d.image(0, 2, 8, 8);
        d.pixels(four);
        cases.push_back({"no rows", d.b, ST_BAD_FILE, "DICOM : Bad picture's size !", {}});
    }
    {
        Dcm d;
        d.image(2, 2, 8, 8);
        cases.push_back({"no pixel data", d.b, ST_BAD_FILE, "DICOM : No pixel data !", {}});
    }
    {
        Dcm d;
        d.image(4, 2, 8, 8);
        d.pixels(greyBytes(8, 1));
        d.b.resize(d.b.size() - 3);
        cases.push_back({"cut inside the pixel data", d.b, ST_READ_ERROR, nullptr, {}});
    }
    {
        Dcm d(RLE);
        d.image(2, 3, 8, 8);
        d.fragments({rleFrame({{0x02, 1, 2, 3}})});
        cases.push_back({"RLE segment too short", d.b, ST_READ_ERROR, nullptr, {}});
    }
    {
        Dcm d(RLE);
        d.image(2, 3, 8, 8);
        d.fragments({rleFrame({{0x05, 1, 2, 3, 4, 5, 6}, {0x05, 1, 2, 3, 4, 5, 6}})});
        cases.push_back({"RLE with the wrong segment count", d.b, ST_CORRUPT, nullptr, {}});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadDicom(c.bytes, &img, c.page, &info), c.status);
        if (c.message) { EXPECT_STREQ(info.message, c.message); }
        if (c.status != ST_OK) continue;
        const Rgb got = toRgb(img);
        const bool colour = img.kind != IMG_GREY;
        std::vector<uint8_t> want;
        if (colour) want = c.pixels;
        else
            for (uint8_t v : c.pixels) want.insert(want.end(), {v, v, v});
        EXPECT_EQ(got.pixels, want);
    }
}

TEST(DicomReader, FramesAreCountedAndCutShortFramesReported) {
    Dcm d;
    d.text(0x0028, 0x0008, "IS", "2");
    d.image(256, 256, 8, 8);
    d.pixels(greyBytes(256 * 256 * 2, 3));
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(loadDicom(d.b, &img, 1, &info), ST_OK);
    EXPECT_EQ(info.pageCount, 2);
    EXPECT_EQ(imageRow(&img, 0)[0], static_cast<uint8_t>(256 * 256 * 37 + 33));
    d.b.resize(d.b.size() - 256 * 100);
    EXPECT_EQ(loadDicom(d.b, &img, 1, &info), ST_READ_ERROR);
}

// ---- DCMTK and GDCM ---------------------------------------------------------

struct PeerCase {
    const char* name;
    const char* make;     // $I the uncompressed DICOM, $O the file to read
    int tolerance;
    Status status = ST_OK;
};

void comparePeerFiles(const std::string& source, const std::vector<PeerCase>& cases, const char* render) {
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath(std::string("peer_") + std::to_string(&c - cases.data()) + ".dcm");
        const std::string ref = out + ".pnm";
        ASSERT_EQ(run(shell(c.make, {{"$I", source}, {"$O", out}})), 0);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(out, &bytes));
        OwnedImage img;
        ASSERT_EQ(loadDicom(bytes, &img), c.status);
        if (c.status != ST_OK) continue;
        ASSERT_EQ(run(shell(render, {{"$O", out}, {"$R", ref}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected, c.tolerance), 0);
    }
}

TEST(DicomReader, ColourFilesFromDcmtkAndGdcm) {
    if (!haveProgram("img2dcm") || !haveProgram("dcm2pnm") || !haveProgram("convert-im6.q16") ||
        !haveProgram("gdcmconv"))
        GTEST_SKIP() << "DCMTK, GDCM or ImageMagick missing";
    const std::string ppm = tempPath("dcm_source.ppm"), bmp = tempPath("dcm_source.bmp");
    const std::string source = tempPath("dcm_source.dcm");
    ASSERT_TRUE(writeFile(ppm, patternP6(67, 41)));
    ASSERT_EQ(run(shell("convert-im6.q16 $P -type TrueColor bmp3:$B && img2dcm -i BMP $B $D",
                        {{"$P", ppm}, {"$B", bmp}, {"$D", source}})),
              0);
    const std::vector<PeerCase> cases = {
        {"uncompressed", "cp $I $O", 0},
        {"RLE (dcmcrle)", "dcmcrle $I $O", 0},
        {"planes one after another (gdcmconv)", "gdcmconv --raw --planar-configuration 1 $I $O", 0},
        {"YBR_FULL samples (gdcmconv)", "gdcmconv --raw -P YBR_FULL $I $O", 2},
        {"JPEG baseline (dcmcjpeg)", "dcmcjpeg +eb $I $O", 3},
        {"JPEG extended, 8 bits (dcmcjpeg)", "dcmcjpeg +ee $I $O", 3},
        {"JPEG lossless (dcmcjpeg)", "dcmcjpeg +el $I $O", 0, ST_BAD_FILE},
    };
    // dcm2pnm reads uncompressed and RLE data; dcmdjpeg decompresses JPEG for it first.
    comparePeerFiles(source, cases, "dcmdjpeg $O $O.plain && dcm2pnm $O.plain $R || dcm2pnm $O $R");
}

TEST(DicomReader, GreyFilesFromDcmtk) {
    if (!haveProgram("dcmcrle") || !haveProgram("dcm2pnm") || !haveProgram("dcmcjpeg"))
        GTEST_SKIP() << "DCMTK missing";
    struct Source {
        const char* name;
        int bitsAllocated, bitsStored, signedSamples;
        const char* window;  // centre\width, or null
    };
    const std::vector<Source> sources = {
        {"8 bits", 8, 8, 0, nullptr},
        {"12 of 16 bits", 16, 12, 0, nullptr},
        {"16 bits with a window", 16, 16, 0, "3000\\4000"},
        {"signed 16 bits with a window", 16, 16, 1, "100\\1000"},
    };
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        Dcm d;
        d.image(29, 43, s.bitsAllocated, s.bitsStored, 1, "MONOCHROME2", s.signedSamples);
        if (s.window) {
            const std::string w(s.window);
            d.text(0x0028, 0x1050, "DS", w.substr(0, w.find('\\')));
            d.text(0x0028, 0x1051, "DS", w.substr(w.find('\\') + 1));
        }
        std::vector<uint8_t> px;
        for (int i = 0; i < 29 * 43; ++i) {
            const int v = (i * 997) % (1 << s.bitsStored) - (s.signedSamples ? 1 << (s.bitsStored - 1) : 0);
            if (s.bitsAllocated == 8) px.push_back(static_cast<uint8_t>(v));
            else putLE16(&px, static_cast<uint32_t>(v) & 0xFFFF);
        }
        d.pixels(px);
        const std::string source = tempPath(std::string("grey_") + std::to_string(&s - sources.data()) + ".dcm");
        ASSERT_TRUE(writeFile(source, d.b));
        const std::vector<PeerCase> cases = {
            {"uncompressed", "cp $I $O", 1},
            {"RLE (dcmcrle)", "dcmcrle $I $O", 1},
        };
        comparePeerFiles(source, cases, s.window ? "dcm2pnm +Wi 1 $O $R" : "dcm2pnm $O $R");
        // JPEG of 12 and 16 bits needs a libjpeg built for them: refused with a message.
        if (s.bitsAllocated == 16) {
            const std::string out = source + ".jpeg.dcm";
            ASSERT_EQ(run(shell(s.bitsStored == 12 ? "dcmcjpeg +ee $I $O" : "dcmcjpeg +el $I $O",
                                {{"$I", source}, {"$O", out}})),
                      0);
            std::vector<uint8_t> bytes;
            ASSERT_TRUE(readFile(out, &bytes));
            OwnedImage img;
            FileInfo info{};
            EXPECT_EQ(loadDicom(bytes, &img, 0, &info), ST_BAD_FILE);
            EXPECT_STREQ(info.message, s.bitsStored == 12 ? "DICOM : No support for JPEG of more than 8 bits !"
                                                          : "DICOM : No support for lossless JPEG !");
        }
    }
}

// Frames of native, run-length and JPEG data: the third frame is the one dcm2pnm shows as frame 3.
TEST(DicomReader, MultiFrameFilesFromDcmtk) {
    if (!haveProgram("dcmcrle") || !haveProgram("dcm2pnm") || !haveProgram("dcmcjpeg") || !haveProgram("dcmdjpeg"))
        GTEST_SKIP() << "DCMTK missing";
    const int w = 48, h = 32, frames = 4;
    Dcm d;
    d.text(0x0028, 0x0008, "IS", std::to_string(frames));
    d.image(h, w, 8, 8);
    std::vector<uint8_t> px;
    for (int f = 0; f < frames; ++f)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) px.push_back(static_cast<uint8_t>(x * 5 + y * 3 + f * 60));
    d.pixels(px);
    const std::string source = tempPath("frames.dcm");
    ASSERT_TRUE(writeFile(source, d.b));
    const std::vector<PeerCase> cases = {
        {"uncompressed", "cp $I $O", 0},
        {"RLE", "dcmcrle $I $O", 0},
        {"JPEG baseline", "dcmcjpeg +eb $I $O", 3},
        {"JPEG baseline, fragments of 1 KB", "dcmcjpeg +eb +fs 1 $I $O", 3},
    };
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = tempPath(std::string("frames_") + std::to_string(&c - cases.data()) + ".dcm");
        const std::string ref = out + ".pnm";
        ASSERT_EQ(run(shell(c.make, {{"$I", source}, {"$O", out}})), 0);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(out, &bytes));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadDicom(bytes, &img, 2, &info), ST_OK);
        EXPECT_EQ(info.pageCount, frames);
        ASSERT_EQ(run(shell("(dcmdjpeg $O $O.plain || cp $O $O.plain) && dcm2pnm +F 3 $O.plain $R",
                            {{"$O", out}, {"$R", ref}})),
                  0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected, c.tolerance), 0);
    }
}

TEST(DicomReader, CorpusFiles) {
    if (!corpusPresent()) GTEST_SKIP() << "corpus missing";
    if (!haveProgram("dcm2pnm")) GTEST_SKIP() << "DCMTK missing";
    struct File {
        const char* path;
        const char* render;
        Status status;
        int tolerance;
    };
    const std::vector<File> files = {
        {"dicom/CT_small.dcm", "dcm2pnm $O $R", ST_OK, 1},
        {"dicom/MR_small_RLE.dcm", "dcm2pnm +Wi 1 $O $R", ST_OK, 1},
        {"dicom/MR_small_implicit.dcm", "dcm2pnm +Wi 1 $O $R", ST_OK, 1},
        {"dicom/SC_rgb_jpeg_dcmtk.dcm", "dcmdjpeg $O $R.plain && dcm2pnm $R.plain $R", ST_OK, 3},
        {"dicom/SC_rgb_small_odd.dcm", "dcm2pnm $O $R", ST_OK, 0},
        {"dicom/MR_small_bigendian.dcm", nullptr, ST_BAD_FILE, 0},
    };
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/";
    for (const File& f : files) {
        SCOPED_TRACE(f.path);
        const std::string path = dir + f.path;
        OwnedImage img;
        ASSERT_EQ(load(path, &img), f.status);
        if (!f.render) continue;
        const std::string ref = tempPath(std::string("corpus_") + std::to_string(&f - files.data()) + ".pnm");
        ASSERT_EQ(run(shell(f.render, {{"$O", path}, {"$R", ref}})), 0);
        Rgb expected;
        ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
        EXPECT_EQ(compareRgb(toRgb(img), expected, f.tolerance), 0);
    }
}

}  // namespace
