// JPEG: files written by cjpeg, netpbm and ImageMagick decode as djpeg decodes
// them (compared by PSNR), fast decoding and bounded (thumbnail) loading take
// the decoder's own shortcuts, damaged and hostile files end with the
// documented status, and our files read back in ImageMagick.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "kaleocore.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

int jpegIndex() {
    static int index = findFormat("jpeg");
    return index;
}

// A photograph-like picture: gradients, edges and a little noise.
Rgb makePhoto(int w, int h, int seed = 1) {
    Rgb s;
    s.width = w;
    s.height = h;
    uint32_t noise = 777u * static_cast<uint32_t>(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            int n = static_cast<int>((noise >> 16) % 16);
            bool disc = (x - w / 2) * (x - w / 2) + (y - h / 3) * (y - h / 3) < (w * w) / 16;
            s.pixels.push_back(uint8_t(std::min(255, x * 255 / w + n)));
            s.pixels.push_back(uint8_t(disc ? 230 - n : y * 200 / h + n));
            s.pixels.push_back(uint8_t(((x / 16 + y / 16) & 1) ? 40 + n : 180 + n));
        }
    return s;
}

// Single-pixel stripes: all detail, no average to speak of.
Rgb makeStripes(int w, int h) {
    Rgb s;
    s.width = w;
    s.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s.pixels.insert(s.pixels.end(), 3, ((x + y) & 1) ? 255 : 0);
    return s;
}

bool writePnm(const std::string& path, const Rgb& p, bool grey = false) {
    std::string head = std::string(grey ? "P5" : "P6") + "\n" + std::to_string(p.width) + " " +
                       std::to_string(p.height) + "\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    for (size_t i = 0; i < p.pixels.size(); i += grey ? 3 : 1) bytes.push_back(p.pixels[i]);
    return writeFile(path, bytes);
}

double psnr(const Rgb& a, const Rgb& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return -1;
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / a.pixels.size()));
}

// djpeg's decode of a file, with extra switches.
bool djpeg(const std::string& jpg, Rgb* out, const std::string& switches = "") {
    static int counter = 0;
    std::string ref = tempPath("djpeg" + std::to_string(counter++) + ".pnm");
    // Exit status 2: decoded with warnings (a cut-off file).
    int rc = run("djpeg -pnm " + switches + " '" + jpg + "' > '" + ref + "' 2>/dev/null");
    return (rc == 0 || rc == 2) && readPnmReference(ref, out);
}

Status loadJpeg(const std::string& path, Image* img, uint16_t flags = 0, FileInfo* info = nullptr, int32_t maxW = 0,
                int32_t maxH = 0) {
    freeImage(img);  // the loader starts from an empty record
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(jpegIndex());
    o.flags = flags;
    o.maxWidth = maxW;
    o.maxHeight = maxH;
    return loadImage(path.c_str(), img, &o, info);
}

Status loadBytes(const std::vector<uint8_t>& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr,
                 int32_t maxW = 0, int32_t maxH = 0) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".jpg");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    return loadJpeg(path, img, flags, info, maxW, maxH);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

// The offset of the first marker 0xFF code at or after `from`, or npos.
size_t findMarker(const std::vector<uint8_t>& f, uint8_t code, size_t from = 2) {
    for (size_t i = from; i + 1 < f.size(); ++i)
        if (f[i] == 0xFF && f[i + 1] == code) return i;
    return std::string::npos;
}

// A start-of-frame marker (baseline, extended, progressive), or npos.
size_t findFrame(const std::vector<uint8_t>& f) {
    for (uint8_t code : {0xC0, 0xC1, 0xC2, 0xC9, 0xCA}) {
        size_t at = findMarker(f, code);
        if (at != std::string::npos) return at;
    }
    return std::string::npos;
}

// C,M,Y,K bytes as libjpeg hands them over, for the conversion check.
bool rawCmyk(const std::string& path, std::vector<uint8_t>* out, int* w, int* h) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    jpeg_decompress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    jpeg_read_header(&c, TRUE);
    bool ok = c.out_color_space == JCS_CMYK;
    jpeg_start_decompress(&c);
    *w = static_cast<int>(c.output_width);
    *h = static_cast<int>(c.output_height);
    out->assign(size_t(*w) * *h * 4, 0);
    while (c.output_scanline < c.output_height) {
        JSAMPROW r = out->data() + size_t(c.output_scanline) * *w * 4;
        jpeg_read_scanlines(&c, &r, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    fclose(f);
    return ok;
}

// Inverted C,M,Y,K (as Adobe stores it) to R,G,B: R = C x K / 255 on the
// stored bytes, rounded.
Rgb cmykToRgb(const std::vector<uint8_t>& cmyk, int w, int h) {
    Rgb out;
    out.width = w;
    out.height = h;
    for (size_t i = 0; i < cmyk.size(); i += 4) {
        // Adobe files store 255 minus each ink: what an ink lets through times
        // what the black lets through.
        const int k = cmyk[i + 3];
        for (int c = 0; c < 3; ++c) out.pixels.push_back(uint8_t((cmyk[i + c] * k + 127) / 255));
    }
    return out;
}

// ---- peers ------------------------------------------------------------------------

struct PeerCase {
    const char* name;
    const char* command;  // {src} (a P6 file), {grey} (its P5 twin), {out}
    uint16_t kind;
    const char* formatName;
    bool progressive;
};

TEST(JpegReader, DecodesPeerFilesAsDjpeg) {
    const std::vector<PeerCase> cases = {
        {"cjpeg 4:2:0", "cjpeg -quality 85 {src} > {out}", IMG_RGB, "JPEG TrueColor", false},
        {"cjpeg 4:4:4", "cjpeg -sample 1x1 {src} > {out}", IMG_RGB, "JPEG TrueColor", false},
        {"cjpeg grey", "cjpeg -grayscale {src} > {out}", IMG_GREY, "JPEG Grayscale", false},
        {"cjpeg grey input", "cjpeg {grey} > {out}", IMG_GREY, "JPEG Grayscale", false},
        {"cjpeg progressive", "cjpeg -progressive {src} > {out}", IMG_RGB, "JPEG TrueColor", true},
        {"cjpeg restart markers", "cjpeg -restart 1 {src} > {out}", IMG_RGB, "JPEG TrueColor", false},
        {"cjpeg arithmetic", "cjpeg -arithmetic {src} > {out}", IMG_RGB, "JPEG TrueColor", false},
        {"cjpeg rgb", "cjpeg -rgb {src} > {out}", IMG_RGB, "JPEG TrueColor", false},
        {"netpbm", "pnmtojpeg {src} > {out}", IMG_RGB, "JPEG TrueColor", false},
        {"im", "convert-im6.q16 {src} -quality 92 {out}", IMG_RGB, "JPEG TrueColor", false},
        {"im grey progressive", "convert-im6.q16 {grey} -interlace JPEG {out}", IMG_GREY, "JPEG Grayscale", true},
    };
    if (!haveProgram("djpeg")) GTEST_SKIP() << "djpeg missing";
    std::string src = tempPath("photo.ppm"), grey = tempPath("photo.pgm");
    // Sizes that are no multiple of the blocks.
    Rgb photo = makePhoto(83, 61);
    ASSERT_TRUE(writePnm(src, photo) && writePnm(grey, photo, true));
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = c.command;
        if (!haveProgram(cmd.substr(0, cmd.find(' ')))) continue;
        std::string out = tempPath("peer" + std::to_string(n++) + ".jpg");
        ASSERT_EQ(run(replaceAll(replaceAll(replaceAll(cmd, "{src}", src), "{grey}", grey), "{out}", out) +
                      " 2>/dev/null"),
                  0);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(out, &bytes));
        size_t sof = findFrame(bytes);
        ASSERT_NE(sof, std::string::npos);
        EXPECT_EQ(bytes[sof + 1] == 0xC2 || bytes[sof + 1] == 0xCA, c.progressive);

        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(out, &img, 0, &info), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_STREQ(info.formatName, c.formatName);
        EXPECT_EQ(info.width, 83);
        EXPECT_EQ(info.bitsPerPlane, c.kind == IMG_GREY ? 8 : 24);
        Rgb ref;
        ASSERT_TRUE(djpeg(out, &ref));
        EXPECT_GE(psnr(toRgb(img), ref), 50.0);
        EXPECT_GE(psnr(toRgb(img), photo), c.kind == IMG_GREY ? 8.0 : 25.0);  // and it is the picture
    }
}

TEST(JpegReader, CmykFilesGoThroughTheInvertedConversion) {
    if (!haveProgram(IM) || !haveProgram("djpeg")) GTEST_SKIP() << "ImageMagick or djpeg missing";
    std::string src = tempPath("cmyk.ppm"), out = tempPath("cmyk.jpg");
    ASSERT_TRUE(writePnm(src, makePhoto(64, 48)));
    ASSERT_EQ(run(std::string(IM) + " " + src + " -colorspace CMYK -quality 95 " + out), 0);
    std::vector<std::string> files = {out};
    std::string sample = std::string(KALEO_CORPUS_DIR) + "/jpeg/pil_sample_cmyk.jpg";
    if (FILE* f = fopen(sample.c_str(), "rb")) {
        fclose(f);
        files.push_back(sample);
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(file, &img, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "JPEG CMYK");
        EXPECT_EQ(info.bitsPerPlane, 32);
        EXPECT_EQ(img.kind, IMG_RGB);
        std::vector<uint8_t> cmyk;
        int w = 0, h = 0;
        ASSERT_TRUE(rawCmyk(file, &cmyk, &w, &h));
        EXPECT_EQ(compareRgb(toRgb(img), cmykToRgb(cmyk, w, h)), 0);
        // djpeg's CMYK to RGB is the same product.
        Rgb ref;
        ASSERT_TRUE(djpeg(file, &ref));
        EXPECT_EQ(compareRgb(toRgb(img), ref), 0);
    }
}

TEST(JpegReader, FastDecodeUsesTheFastTransform) {
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    std::string src = tempPath("fast.ppm"), out = tempPath("fast.jpg");
    ASSERT_TRUE(writePnm(src, makePhoto(120, 90)));
    ASSERT_EQ(run("cjpeg -quality 90 " + src + " > " + out), 0);  // 4:2:0: upsampling matters
    OwnedImage fast, slow;
    ASSERT_EQ(loadJpeg(out, &fast, OPT_FAST_DECODE), ST_OK);
    ASSERT_EQ(loadJpeg(out, &slow), ST_OK);
    Rgb fastRef, slowRef;
    ASSERT_TRUE(djpeg(out, &fastRef, "-dct fast -nosmooth"));
    ASSERT_TRUE(djpeg(out, &slowRef));
    EXPECT_GE(psnr(toRgb(fast), fastRef), 50.0);
    EXPECT_GE(psnr(toRgb(slow), slowRef), 50.0);
    EXPECT_LT(psnr(toRgb(fast), slowRef), 50.0);
}

// The size the core gives a bounded load: fit in W x H keeping the aspect ratio.
void bounded(int w, int h, int W, int H, int* ow, int* oh) {
    *ow = w;
    *oh = h;
    if (W >= w && H >= h) return;
    *ow = W;
    *oh = W * h / w;
    if (*oh > H) {
        *oh = H;
        *ow = H * w / h;
    }
    *ow = std::max(*ow, 1);
    *oh = std::max(*oh, 1);
}

struct BoundCase {
    int width, height, maxW, maxH;
    const char* scale;  // djpeg's scale giving the same picture, or null when the core shrinks further
};

TEST(JpegReader, BoundedLoadsLetTheDecoderScale) {
    const std::vector<BoundCase> cases = {
        {800, 600, 100, 100, "1/8"},  // exactly 1/8
        {800, 600, 200, 200, "2/8"},
        {640, 480, 320, 320, "4/8"},
        {640, 480, 300, 300, nullptr},  // 3/8 gives 240 x 180 < 300 x 225: 4/8 then shrunk
        {1001, 999, 100, 100, nullptr},
        {37, 2000, 64, 64, nullptr},    // the narrow side ends at 1 pixel
        {90, 60, 200, 200, nullptr},    // never enlarged
    };
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " in " + std::to_string(c.maxW));
        std::string src = tempPath("big.ppm"), out = tempPath("big.jpg");
        ASSERT_TRUE(writePnm(src, makeStripes(c.width, c.height)));
        ASSERT_EQ(run("cjpeg -quality 95 " + src + " > " + out), 0);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadJpeg(out, &img, 0, &info, c.maxW, c.maxH), ST_OK);
        int ow, oh;
        bounded(c.width, c.height, c.maxW, c.maxH, &ow, &oh);
        EXPECT_EQ(img.width, ow);
        EXPECT_EQ(img.height, oh);
        // The file's own size is reported, whatever the decoder's scale.
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        if (c.scale) {
            Rgb ref;
            ASSERT_TRUE(djpeg(out, &ref, std::string("-scale ") + c.scale));
            EXPECT_GE(psnr(toRgb(img), ref), 50.0);
        }
        if (c.width >= 8 * ow) {
            // Stripes averaged by the scaled transform come out mid-grey, not black or white.
            Rgb got = toRgb(img);
            long mid = 0;
            for (uint8_t v : got.pixels) mid += v > 64 && v < 192;
            EXPECT_GT(mid, static_cast<long>(got.pixels.size() * 9 / 10));
        }
    }
}

// ---- damaged and hostile files ------------------------------------------------------

// A JPEG of two components (a colour space libjpeg does not know).
std::vector<uint8_t> twoComponentJpeg() {
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = 16;
    c.image_height = 16;
    c.input_components = 2;
    c.in_color_space = JCS_UNKNOWN;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_UNKNOWN);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> line(32, 100);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = line.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> out(mem, mem + size);
    free(mem);
    return out;
}

TEST(JpegReader, DamagedAndHostileFiles) {
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    std::string src = tempPath("dmg.ppm"), base = tempPath("dmg.jpg"), prog = tempPath("dmg-p.jpg");
    ASSERT_TRUE(writePnm(src, makePhoto(96, 80)));
    ASSERT_EQ(run("cjpeg " + src + " > " + base + " && cjpeg -progressive " + src + " > " + prog), 0);
    std::vector<uint8_t> baseline, progressive;
    ASSERT_TRUE(readFile(base, &baseline) && readFile(prog, &progressive));
    OwnedImage whole;
    ASSERT_EQ(loadJpeg(base, &whole), ST_OK);

    // Cut in the middle of the data: the load fails as any cut-off file does;
    // accepted as damaged, the rows decoded before the cut are there exactly and
    // the rest, which libjpeg would invent, stays empty.
    std::vector<uint8_t> cut(baseline.begin(), baseline.begin() + baseline.size() * 7 / 10);
    OwnedImage img;
    EXPECT_EQ(loadBytes(cut, &img), ST_READ_ERROR);
    EXPECT_EQ(img.pixels, nullptr);
    ASSERT_EQ(loadBytes(cut, &img, OPT_ACCEPT_DAMAGED), ST_OK);
    ASSERT_EQ(img.width, 96);
    ASSERT_EQ(img.height, 80);
    const std::vector<uint8_t> blank(96 * 3, 0);
    int exact = 0, delivered = 80;
    while (exact < 80 && memcmp(imageRow(&img, exact), imageRow(&whole, exact), 96 * 3) == 0) ++exact;
    while (delivered > 0 && memcmp(imageRow(&img, delivered - 1), blank.data(), blank.size()) == 0) --delivered;
    EXPECT_GT(exact, 16);
    EXPECT_LT(delivered, 80);
    // Smoothed chroma may take the last row or two from the rows below.
    EXPECT_LE(delivered - exact, 2);

    // A progressive file is read whole before its first row: cut short, every
    // row is there at the quality of the scans read, and the load still fails.
    std::vector<uint8_t> cutProgressive(progressive.begin(), progressive.begin() + progressive.size() * 7 / 10);
    EXPECT_EQ(loadBytes(cutProgressive, &img), ST_READ_ERROR);
    ASSERT_EQ(loadBytes(cutProgressive, &img, OPT_ACCEPT_DAMAGED), ST_OK);
    std::string cutPath = tempPath("cut.jpg");
    ASSERT_TRUE(writeFile(cutPath, cutProgressive));
    Rgb cutRef;
    ASSERT_TRUE(djpeg(cutPath, &cutRef));
    EXPECT_GE(psnr(toRgb(img), cutRef), 50.0);

    // Only the end marker missing: every row is there, the load succeeds.
    std::vector<uint8_t> noEnd(baseline.begin(), baseline.end() - 2);
    ASSERT_EQ(loadBytes(noEnd, &img), ST_OK);
    EXPECT_EQ(compareRgb(toRgb(img), toRgb(whole)), 0);

    // Sizes of 16000 or more are refused before anything is decoded.
    for (int side : {16000, 40000}) {
        std::vector<uint8_t> big = baseline;
        size_t sof = findFrame(big);
        ASSERT_NE(sof, std::string::npos);
        big[sof + 5] = uint8_t(side >> 8);
        big[sof + 6] = uint8_t(side & 0xFF);
        FileInfo info{};
        EXPECT_EQ(loadBytes(big, &img, 0, &info), ST_BAD_FILE);
        EXPECT_STREQ(info.message, "JPEG : Bad picture's size !");
    }
    FileInfo info{};
    EXPECT_EQ(loadBytes(twoComponentJpeg(), &img, 0, &info), ST_BAD_FILE);
    EXPECT_STREQ(info.message, "JPEG : Bad number of components !");

    // Not JPEG at all, or a start marker and rubbish: the next reader may try.
    const std::vector<std::vector<uint8_t>> strangers = {
        {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13},
        {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0},
        {0xFF, 0xD8, 0xFF, 0xE0, 0, 2, 0x12, 0x34, 0x56},
        {0xFF, 0xD8},
        {0xFF},
    };
    for (const auto& bytes : strangers) {
        EXPECT_EQ(loadBytes(bytes, &img), ST_UNKNOWN_FORMAT);
        EXPECT_EQ(img.pixels, nullptr);
    }

    // A fatal error once the picture is set up: ST_CORRUPT, the picture kept on request.
    std::vector<uint8_t> bad = progressive;
    size_t sos = findMarker(bad, 0xDA);
    ASSERT_NE(sos, std::string::npos);
    size_t ns = bad[sos + 4];
    bad[sos + 5 + 2 * ns + 1] = 63;  // a DC scan running to coefficient 63
    EXPECT_EQ(loadBytes(bad, &img), ST_CORRUPT);
    EXPECT_EQ(img.pixels, nullptr);
    ASSERT_EQ(loadBytes(bad, &img, OPT_ACCEPT_DAMAGED), ST_OK);
    EXPECT_EQ(img.kind, IMG_RGB);
    EXPECT_EQ(img.width, 96);

    // A progressive file claiming 15000 x 15000: its coefficients would need far
    // more memory than allowed; the load fails at once instead of allocating it.
    // (2000 x 2000 needs little: the missing data are filled in.)
    for (const auto& [side, status] : {std::pair<int, Status>{2000, ST_OK}, {15000, ST_CORRUPT}}) {
        SCOPED_TRACE(side);
        std::vector<uint8_t> huge = progressive;
        size_t sof = findFrame(huge);
        huge[sof + 5] = huge[sof + 7] = uint8_t(side >> 8);
        huge[sof + 6] = huge[sof + 8] = uint8_t(side & 0xFF);
        EXPECT_EQ(loadBytes(huge, &img, 0, nullptr, 64, 64), status);
    }

    // The last scan repeated: hundreds of scans are read, past the limit the load fails.
    size_t last = sos;
    for (size_t at = findMarker(progressive, 0xDA, sos + 2); at != std::string::npos;
         at = findMarker(progressive, 0xDA, at + 2))
        last = at;
    const std::vector<uint8_t> scan(progressive.begin() + last, progressive.end() - 2);
    for (const auto& [repeats, status] : {std::pair<int, Status>{400, ST_OK}, {600, ST_CORRUPT}}) {
        SCOPED_TRACE(repeats);
        std::vector<uint8_t> many(progressive.begin(), progressive.end() - 2);
        for (int i = 0; i < repeats; ++i) many.insert(many.end(), scan.begin(), scan.end());
        many.insert(many.end(), {0xFF, 0xD9});
        EXPECT_EQ(loadBytes(many, &img), status);
    }
}

TEST(JpegReader, ExaminationReadsOnlyTheHeader) {
    if (!haveProgram("cjpeg")) GTEST_SKIP() << "cjpeg missing";
    std::string src = tempPath("info.pgm"), out = tempPath("info.jpg");
    ASSERT_TRUE(writePnm(src, makePhoto(50, 30), true));
    ASSERT_EQ(run("cjpeg -progressive " + src + " > " + out), 0);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readFile(out, &bytes));
    bytes.resize(findMarker(bytes, 0xDA) + 14);  // the scan data are missing altogether
    ASSERT_TRUE(writeFile(out, bytes));
    FileInfo info{};
    ASSERT_EQ(readImageInfo(out.c_str(), -1, 0, &info), ST_OK);
    EXPECT_EQ(info.width, 50);
    EXPECT_EQ(info.height, 30);
    EXPECT_EQ(info.planes, 1);
    EXPECT_EQ(info.bitsPerPlane, 8);
    EXPECT_STREQ(info.formatName, "JPEG Grayscale");
}

TEST(JpegReader, SampleFilesMatchDjpeg) {
    std::string dir = std::string(KALEO_CORPUS_DIR) + "/jpeg";
    DIR* d = opendir(dir.c_str());
    if (!d) GTEST_SKIP() << "no sample folder " << dir;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    if (!haveProgram("djpeg")) GTEST_SKIP() << "djpeg missing";
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string path = dir + "/" + name;
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(path, &img, 0, &info), ST_OK);
        Rgb ref;
        ASSERT_TRUE(djpeg(path, &ref));
        // CMYK: djpeg multiplies the inverted components where the conversion adds them.
        bool cmyk = std::string(info.formatName) == "JPEG CMYK";
        EXPECT_GE(psnr(toRgb(img), ref), cmyk ? 25.0 : 50.0);
    }
}

// ---- writer ------------------------------------------------------------------------

struct WriteCase {
    const char* name;
    uint16_t kind;
    int quality;
    bool progressive;
    int components;
    double minPsnr;  // of ImageMagick's decode against the picture
};

bool makePicture(Image* img, uint16_t kind, const Rgb& photo) {
    if (!createImage(img, kind, 4, photo.width, photo.height)) return false;
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x) {
            const uint8_t* s = &photo.pixels[(size_t(y) * photo.width + x) * 3];
            uint8_t* p = imageRow(img, y) + x * img->bytesPerPixel;
            switch (kind) {
            case IMG_BINARY: p[0] = s[1] > 128; break;
            case IMG_GREY: p[0] = s[1]; break;
            case IMG_RGB: memcpy(p, s, 3); break;
            case IMG_BGR32: p[0] = 0, p[1] = s[2], p[2] = s[1], p[3] = s[0]; break;
            default: break;
            }
        }
    return true;
}

TEST(JpegWriter, PeersReadOurFiles) {
    const std::vector<WriteCase> cases = {
        {"rgb 90", IMG_RGB, 90, false, 3, 25},
        {"rgb 100 progressive", IMG_RGB, 100, true, 3, 26},
        {"bgr32 75", IMG_BGR32, 75, false, 3, 24},
        {"grey 90", IMG_GREY, 90, false, 1, 30},
        {"grey progressive", IMG_GREY, 60, true, 1, 28},
        {"black and white", IMG_BINARY, 90, false, 1, 20},
    };
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    Rgb photo = makePhoto(77, 53, 3);
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_TRUE(makePicture(&img, c.kind, photo));
        std::string out = tempPath("ours.jpg");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(jpegIndex());
        o.writerOption2 = static_cast<int16_t>(c.quality);
        o.writerOption3 = c.progressive;
        ASSERT_EQ(saveImage(&out[0], &img, &o), ST_OK);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(out, &bytes));
        size_t sof = findFrame(bytes);
        ASSERT_NE(sof, std::string::npos);
        EXPECT_EQ(bytes[sof + 1], c.progressive ? 0xC2 : 0xC0);
        EXPECT_EQ(bytes[sof + 4], 8);                // precision
        EXPECT_EQ(bytes[sof + 9], c.components);

        std::string ref = tempPath("ours.ppm");
        ASSERT_EQ(run(std::string(IM) + " 'jpg:" + out + "' -depth 8 ppm:" + ref), 0);
        Rgb got;
        ASSERT_TRUE(readPnmReference(ref, &got));
        EXPECT_GE(psnr(got, toRgb(img)), c.minPsnr);
        OwnedImage back;
        ASSERT_EQ(load(out, &back), ST_OK);
        EXPECT_GE(psnr(toRgb(back), got), 45.0);
    }
}

TEST(JpegWriter, QualityReachesTheTables) {
    // The first luminance quantizer of the standard table (16) scaled by the quality.
    const std::vector<std::pair<int, int>> cases = {{10, 80}, {50, 16}, {75, 8}, {100, 1}, {0, 255}};
    OwnedImage img;
    ASSERT_TRUE(makePicture(&img, IMG_GREY, makePhoto(16, 16)));
    for (const auto& [quality, first] : cases) {
        SCOPED_TRACE(quality);
        std::string out = tempPath("q.jpg");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(jpegIndex());
        o.writerOption2 = static_cast<int16_t>(quality);
        ASSERT_EQ(saveImage(&out[0], &img, &o), ST_OK);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(out, &bytes));
        size_t dqt = findMarker(bytes, 0xDB);
        ASSERT_NE(dqt, std::string::npos);
        EXPECT_EQ(bytes[dqt + 4] >> 4, 0);  // 8-bit entries: baseline tables
        EXPECT_EQ(bytes[dqt + 5], first);
    }
}

TEST(JpegWriter, RefusesPaletteImages) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_PALETTE, 1, 4, 4));
    std::string out = tempPath("refused.jpg");
    remove(out.c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(jpegIndex());
    EXPECT_EQ(saveImage(&out[0], &img, &o), ST_KIND_REFUSED);
    FILE* f = fopen(out.c_str(), "rb");
    EXPECT_EQ(f, nullptr);
    if (f) fclose(f);
}

}  // namespace
