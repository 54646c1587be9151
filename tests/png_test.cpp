// PNG and MNG: files of every colour type and bit depth, interlaced or not,
// written by netpbm and ImageMagick decode to their source pictures; damaged
// files end with the documented status; our files read back in ImageMagick;
// MNG pages are found by walking the chunks, however the chunks lie.
#include <dirent.h>
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "opsupport.h"
#include "pngdeflate.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
const char ALPHA_RAMP[] = "-alpha set -channel A -fx 'i/(w-1)' +channel";

int pngIndex() {
    static int index = findFormat("png");
    return index;
}
int mngIndex() {
    static int index = findFormat("mng");
    return index;
}

uint32_t get32(const std::vector<uint8_t>& v, size_t at) {
    return uint32_t(v[at]) << 24 | uint32_t(v[at + 1]) << 16 | uint32_t(v[at + 2]) << 8 | v[at + 3];
}
void put32(std::vector<uint8_t>* v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v->push_back(uint8_t(x >> s));
}

// One chunk with its length and CRC.
std::vector<uint8_t> chunk(const char* type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c;
    put32(&c, static_cast<uint32_t>(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    uLong crc = crc32(0, c.data() + 4, static_cast<uInt>(c.size() - 4));
    put32(&c, static_cast<uint32_t>(crc));
    return c;
}

struct Chunk {
    std::string type;
    size_t at;  // offset of the length field
    uint32_t length;
};

// The chunks after the 8-byte signature.
std::vector<Chunk> chunks(const std::vector<uint8_t>& f) {
    std::vector<Chunk> out;
    for (size_t at = 8; at + 12 <= f.size();) {
        uint32_t n = get32(f, at);
        out.push_back({std::string(f.begin() + at + 4, f.begin() + at + 8), at, n});
        at += 12 + n;
    }
    return out;
}

const Chunk* findChunk(const std::vector<Chunk>& cs, const std::string& type) {
    for (const Chunk& c : cs)
        if (c.type == type) return &c;
    return nullptr;
}

// Recomputes the CRC of the chunk at `at`.
void fixCrc(std::vector<uint8_t>* f, size_t at) {
    uint32_t n = get32(*f, at);
    uLong crc = crc32(0, f->data() + at + 4, n + 4);
    for (int i = 0; i < 4; ++i) (*f)[at + 8 + n + i] = uint8_t(crc >> (24 - 8 * i));
}

Status loadBytes(const std::vector<uint8_t>& bytes, Image* img, uint16_t flags = 0, FileInfo* info = nullptr,
                 int index = -1, int page = 0) {
    static int counter = 0;
    freeImage(img);  // the loader starts from an empty record
    std::string path = tempPath("hand" + std::to_string(counter++) + ".png");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(index < 0 ? pngIndex() : index);
    o.flags = flags;
    o.pageIndex = page;
    return loadImage(path.c_str(), img, &o, info);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

// ---- sources ----------------------------------------------------------------------

// levels > 0: grey with that many levels (values i * 255 / (levels - 1));
// levels < 0: colour with -levels distinct colours; 0: full colour.
Rgb makeSource(int w, int h, int levels, int seed = 1) {
    Rgb s;
    s.width = w;
    s.height = h;
    uint32_t noise = 4242u * static_cast<uint32_t>(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            int n = static_cast<int>((noise >> 16) % 7);
            if (levels > 0) {
                int v = (x / 3 + y + n) % levels;
                s.pixels.insert(s.pixels.end(), 3, uint8_t(v * 255 / (levels - 1)));
            } else if (levels < 0) {
                int v = (x / 2 + y * 3 + n + seed) % -levels;
                s.pixels.insert(s.pixels.end(), {uint8_t(v * 41 + 3), uint8_t(250 - v * 7), uint8_t(v * 13)});
            } else {
                s.pixels.insert(s.pixels.end(), {uint8_t(x * 5 + n), uint8_t(y * 7 + seed), uint8_t((x ^ y) * 3)});
            }
        }
    return s;
}

bool writePnm(const std::string& path, const Rgb& p, int greyMax = 0) {
    std::string head = std::string(greyMax ? "P5" : "P6") + "\n" + std::to_string(p.width) + " " +
                       std::to_string(p.height) + "\n" + std::to_string(greyMax ? greyMax : 255) + "\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    if (!greyMax) {
        bytes.insert(bytes.end(), p.pixels.begin(), p.pixels.end());
    } else {
        for (size_t i = 0; i < p.pixels.size(); i += 3) {
            unsigned v = (p.pixels[i] * greyMax + 127) / 255;
            // 16-bit samples just below v * 257: the high byte stays v, and no
            // writer can store them in 8 bits instead.
            if (greyMax == 65535 && v) --v;
            if (greyMax > 255) bytes.push_back(uint8_t(v >> 8));
            bytes.push_back(uint8_t(v));
        }
    }
    return writeFile(path, bytes);
}

// ---- peers ------------------------------------------------------------------------

struct PeerCase {
    const char* name;
    int levels;           // of the source (see makeSource)
    int greyMax;          // netpbm's grey source maxval, 0 for the P6 source
    const char* command;  // {src} {out}
    int colourType, bitDepth;
    bool interlaced;
    uint16_t kind;
    bool alpha;           // the alpha ramp is expected in the fourth byte
};

TEST(PngReader, EveryColourTypeAndDepth) {
    const std::vector<PeerCase> cases = {
        {"netpbm grey 1", 2, 1, "pnmtopng {src} > {out}", 0, 1, false, IMG_BINARY, false},
        {"netpbm grey 2", 4, 3, "pnmtopng {src} > {out}", 0, 2, false, IMG_GREY, false},
        {"netpbm grey 4 interlaced", 16, 15, "pnmtopng -interlace {src} > {out}", 0, 4, true, IMG_GREY, false},
        {"netpbm grey 8", 256, 255, "pnmtopng {src} > {out}", 0, 8, false, IMG_GREY, false},
        {"netpbm grey 16", 256, 65535, "pnmtopng {src} > {out}", 0, 16, false, IMG_GREY, false},
        {"netpbm rgb 8 interlaced", 0, 0, "pnmtopng -interlace {src} > {out}", 2, 8, true, IMG_RGB, false},
        {"netpbm palette", -40, 0, "pnmtopng {src} > {out}", 3, 8, false, IMG_PALETTE, false},
        {"im grey 1 interlaced", 2, 0, "convert-im6.q16 {src} -colorspace Gray -interlace PNG "
                                       "-define png:color-type=0 -define png:bit-depth=1 {out}",
         0, 1, true, IMG_BINARY, false},
        {"im grey 2", 4, 0, "convert-im6.q16 {src} -colorspace Gray -define png:color-type=0 -define png:bit-depth=2 {out}",
         0, 2, false, IMG_GREY, false},
        {"im grey 16 interlaced", 256, 0, "convert-im6.q16 {src} -colorspace Gray -depth 16 -interlace PNG "
                                         "-define png:color-type=0 -define png:bit-depth=16 {out}",
         0, 16, true, IMG_GREY, false},
        {"im rgb 8", 0, 0, "convert-im6.q16 {src} PNG24:{out}", 2, 8, false, IMG_RGB, false},
        {"im rgb 16", 0, 0, "convert-im6.q16 {src} -depth 16 PNG48:{out}", 2, 16, false, IMG_RGB, false},
        {"im rgb 16 interlaced", 0, 0, "convert-im6.q16 {src} -depth 16 -interlace PNG PNG48:{out}", 2, 16, true,
         IMG_RGB, false},
        {"netpbm palette 1", -2, 0, "pnmtopng {src} > {out}", 3, 1, false, IMG_PALETTE, false},
        {"netpbm palette 4 interlaced", -9, 0, "pnmtopng -interlace {src} > {out}", 3, 4, true, IMG_PALETTE, false},
        {"netpbm palette 2 interlaced", -4, 0, "pnmtopng -interlace {src} > {out}", 3, 2, true, IMG_PALETTE, false},
        {"netpbm palette 4", -16, 0, "pnmtopng {src} > {out}", 3, 4, false, IMG_PALETTE, false},
        {"im palette 8", -200, 0, "convert-im6.q16 {src} PNG8:{out}", 3, 8, false, IMG_PALETTE, false},
        {"im grey alpha 8", 256, 0, "convert-im6.q16 {src} -colorspace Gray @A -define png:color-type=4 "
                                   "-define png:bit-depth=8 {out}",
         4, 8, false, IMG_GREY, false},
        {"im grey alpha 16 interlaced", 256, 0, "convert-im6.q16 {src} -colorspace Gray -depth 16 @A -interlace PNG "
                                               "-define png:color-type=4 -define png:bit-depth=16 {out}",
         4, 16, true, IMG_GREY, false},
        {"im rgba 8", 0, 0, "convert-im6.q16 {src} @A PNG32:{out}", 6, 8, false, IMG_RGB32, true},
        {"im rgba 16 interlaced", 0, 0, "convert-im6.q16 {src} -depth 16 @A -interlace PNG PNG64:{out}", 6, 16, true,
         IMG_RGB32, true},
    };
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const int w = 37, h = 21;
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = c.command;
        if (!haveProgram(cmd.substr(0, cmd.find(' ')))) continue;
        Rgb source = makeSource(w, h, c.levels, n);
        std::string src = tempPath("peer" + std::to_string(n) + (c.greyMax ? ".pgm" : ".ppm"));
        std::string out = tempPath("peer" + std::to_string(n++) + ".png");
        ASSERT_TRUE(writePnm(src, source, c.greyMax));
        cmd = replaceAll(replaceAll(replaceAll(cmd, "@A", ALPHA_RAMP), "{src}", src), "{out}", out);
        ASSERT_EQ(run(cmd + " 2>/dev/null"), 0);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(out, &file));
        ASSERT_GT(file.size(), 33u);
        ASSERT_EQ(file[24], c.bitDepth) << "the peer wrote another depth";
        ASSERT_EQ(file[25], c.colourType) << "the peer wrote another colour type";
        ASSERT_EQ(file[28], c.interlaced ? 1 : 0);

        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(out, &img, 0, &info), ST_OK);
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_STREQ(info.formatName, c.interlaced ? "Portable Network Graphics (Interlaced)"
                                                   : "Portable Network Graphics");
        const int bits = c.colourType == 2 ? 24 : c.colourType == 6 ? 32 : std::min(c.bitDepth, 8);
        EXPECT_EQ(info.bitsPerPlane, bits);
        if (img.kind == IMG_PALETTE || img.kind == IMG_GREY) {
            EXPECT_EQ(img.colours, 1 << bits);
        }
        EXPECT_EQ(compareRgb(toRgb(img), source), 0);
        if (c.alpha) {
            // The ramp from 0 at the left to 255 at the right; 16-bit samples lose their low byte.
            for (int x = 0; x < w; ++x) {
                int expected = (x * 255 + (w - 1) / 2) / (w - 1);
                EXPECT_NEAR(imageRow(&img, 5)[x * 4 + 3], expected, 1) << "x " << x;
            }
        }
    }
}

// The files as a peer decodes them without gamma correction: netpbm for PNG
// (ImageMagick applies gAMA), ImageMagick for MNG.
bool samplePeer(const std::string& format, const std::string& path, int page, Rgb* out) {
    std::string ref = tempPath("sample.ppm");
    std::string cmd = format == "png" ? "pngtopnm '" + path + "' | pnmdepth 255 | ppmtoppm > " + ref
                                      : std::string(IM) + " '" + format + ":" + path + "[" + std::to_string(page) +
                                            "]' -alpha off -depth 8 ppm:" + ref;
    return run(cmd + " 2>/dev/null") == 0 && readPnmReference(ref, out);
}

TEST(PngReader, SampleFilesMatchPeers) {
    for (const char* format : {"png", "mng"}) {
        std::string dir = std::string(KALEO_CORPUS_DIR) + "/" + format;
        DIR* d = opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::string> names;
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
        if (!haveProgram(IM) || !haveProgram("pngtopnm")) GTEST_SKIP() << "ImageMagick or netpbm missing";
        for (const std::string& name : names) {
            SCOPED_TRACE(name);
            const std::string path = dir + "/" + name;
            FileInfo info{};
            OwnedImage first;
            ASSERT_EQ(load(path, &first, 0, &info), ST_OK);
            for (int page = 0; page < info.pageCount; ++page) {
                SCOPED_TRACE(page);
                IoOptions o = defaultIoOptions();
                o.pageIndex = page;
                OwnedImage img;
                ASSERT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_OK);
                Rgb peer;
                ASSERT_TRUE(samplePeer(format, path, page, &peer));
                // 16-bit samples: the peers round to 8 bits, the reader keeps the high byte.
                Rgb got = toRgb(img);
                ASSERT_EQ(got.pixels.size(), peer.pixels.size());
                int worst = 0;
                for (size_t i = 0; i < got.pixels.size(); ++i)
                    worst = std::max(worst, std::abs(int(got.pixels[i]) - int(peer.pixels[i])));
                EXPECT_LE(worst, 1);
            }
        }
    }
}

// ---- damaged files ------------------------------------------------------------------

TEST(PngReader, DamagedFiles) {
    if (!haveProgram("pnmtopng")) GTEST_SKIP() << "netpbm missing";
    const int w = 40, h = 30;
    Rgb source = makeSource(w, h, 0);
    std::string src = tempPath("dmg.ppm"), plain = tempPath("dmg.png"), inter = tempPath("dmg-i.png");
    ASSERT_TRUE(writePnm(src, source));
    // No compression: the cut below falls at a known row.
    ASSERT_EQ(run("pnmtopng -compression 0 " + src + " > " + plain + " && pnmtopng -interlace " + src + " > " + inter),
              0);
    std::vector<uint8_t> good, goodInter;
    ASSERT_TRUE(readFile(plain, &good) && readFile(inter, &goodInter));
    const std::vector<Chunk> cs = chunks(good);
    const Chunk* idat = findChunk(cs, "IDAT");
    ASSERT_NE(idat, nullptr);

    // Cut inside the image data: the rows read so far are kept on request.
    std::vector<uint8_t> cut(good.begin(), good.begin() + idat->at + 8 + idat->length / 2);
    OwnedImage img;
    EXPECT_EQ(loadBytes(cut, &img), ST_READ_ERROR);
    EXPECT_EQ(img.pixels, nullptr);
    ASSERT_EQ(loadBytes(cut, &img, OPT_ACCEPT_DAMAGED), ST_OK);
    Rgb got = toRgb(img);
    const size_t rowBytes = size_t(w) * 3;
    EXPECT_EQ(memcmp(got.pixels.data(), source.pixels.data(), rowBytes * 10), 0);  // the top third is there
    EXPECT_EQ(std::vector<uint8_t>(got.pixels.end() - rowBytes, got.pixels.end()), std::vector<uint8_t>(rowBytes, 0));

    // An interlaced file cut short: what the first passes gave still shows.
    const std::vector<Chunk> csInter = chunks(goodInter);
    const Chunk* idatInter = findChunk(csInter, "IDAT");
    ASSERT_NE(idatInter, nullptr);
    std::vector<uint8_t> cutInter(goodInter.begin(), goodInter.begin() + idatInter->at + 8 + idatInter->length * 3 / 4);
    EXPECT_EQ(loadBytes(cutInter, &img), ST_READ_ERROR);
    ASSERT_EQ(loadBytes(cutInter, &img, OPT_ACCEPT_DAMAGED), ST_OK);
    got = toRgb(img);
    EXPECT_EQ(memcmp(got.pixels.data(), source.pixels.data(), 3), 0);             // pixel (0, 0), first pass
    EXPECT_EQ(memcmp(&got.pixels[8 * rowBytes + 8 * 3], &source.pixels[8 * rowBytes + 8 * 3], 3), 0);

    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        Status status;
        const char* message;
    };
    std::vector<uint8_t> badIdatCrc = good;
    badIdatCrc[idat->at + 8 + idat->length] ^= 0xFF;
    std::vector<uint8_t> badTextCrc = good;
    std::vector<uint8_t> text = chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'});
    text.back() ^= 0xFF;
    badTextCrc.insert(badTextCrc.begin() + idat->at, text.begin(), text.end());
    // An ICC profile that is not one: libpng warns and goes on.
    std::vector<uint8_t> badProfile = good;
    std::vector<uint8_t> iccp = {'x', 0, 0};
    {
        const uint8_t bogus[16] = "not a profile";
        uLongf size = 64;
        uint8_t packed[64];
        ASSERT_EQ(compress(packed, &size, bogus, sizeof bogus), Z_OK);
        iccp.insert(iccp.end(), packed, packed + size);
    }
    std::vector<uint8_t> iccpChunk = chunk("iCCP", iccp);
    badProfile.insert(badProfile.begin() + idat->at, iccpChunk.begin(), iccpChunk.end());
    std::vector<uint8_t> wide = good;
    wide[16] = 0, wide[17] = 0, wide[18] = 16000 >> 8, wide[19] = 16000 & 0xFF;
    fixCrc(&wide, 8);
    std::vector<uint8_t> zeroWidth = good;
    zeroWidth[18] = zeroWidth[19] = 0;
    fixCrc(&zeroWidth, 8);
    std::vector<uint8_t> noPalette = good;
    noPalette[25] = 3;  // palette colour type without PLTE
    noPalette[24] = 8;
    fixCrc(&noPalette, 8);
    const std::vector<Case> cases = {
        {"bad CRC of the image data", badIdatCrc, ST_READ_ERROR, ""},
        {"bad CRC of an ancillary chunk", badTextCrc, ST_OK, ""},
        {"bad ICC profile", badProfile, ST_OK, ""},
        {"width 16000", wide, ST_BAD_FILE, "PNG : Bad picture's size !"},
        {"width 0", zeroWidth, ST_UNKNOWN_FORMAT, ""},
        {"palette without PLTE", noPalette, ST_UNKNOWN_FORMAT, ""},
        {"signature only", std::vector<uint8_t>(good.begin(), good.begin() + 8), ST_UNKNOWN_FORMAT, ""},
        {"not PNG", {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}, ST_UNKNOWN_FORMAT, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FileInfo info{};
        EXPECT_EQ(loadBytes(c.file, &img, 0, &info), c.status);
        EXPECT_STREQ(info.message, c.message);
        if (c.status == ST_OK) {
            EXPECT_EQ(compareRgb(toRgb(img), source), 0);
        }
    }
}

// ---- writer ------------------------------------------------------------------------

struct WriteCase {
    const char* name;
    uint16_t kind;
    int colours;
    bool alpha;  // something in the fourth byte
    int colourType, bitDepth;
    size_t plte;  // PLTE length, 0 for none
};

bool makePicture(Image* img, const WriteCase& c, int w, int h) {
    if (!createImage(img, c.kind, 4, w, h)) return false;
    if (!(c.kind & IMG_TRUECOLOUR)) img->colours = c.colours;
    if (img->palette)
        for (int i = 0; i < 256; ++i)
            img->palette[i] = uint8_t(i * 7), img->palette[256 + i] = uint8_t(255 - i), img->palette[512 + i] = uint8_t(i * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = imageRow(img, y) + x * img->bytesPerPixel;
            int v = x * 3 + y * 5 + (x * y) % 7;
            if (img->bytesPerPixel == 1) {
                p[0] = uint8_t(v % c.colours);
                continue;
            }
            for (int k = 0; k < img->bytesPerPixel; ++k) p[k] = uint8_t(v * (k + 2) + 17 * k);
            if (img->bytesPerPixel == 4) p[c.kind == IMG_RGB32 ? 3 : 0] = c.alpha ? uint8_t(x * 255 / (w - 1)) : 0;
        }
    return true;
}

TEST(PngWriter, PeersReadOurFiles) {
    const std::vector<WriteCase> cases = {
        {"black and white", IMG_BINARY, 2, false, 0, 1, 0},
        {"grey 256", IMG_GREY, 256, false, 0, 8, 0},
        {"grey 16", IMG_GREY, 16, false, 0, 8, 0},
        {"palette 16", IMG_PALETTE, 16, false, 3, 4, 48},
        {"palette 5", IMG_PALETTE, 5, false, 3, 4, 48},
        {"palette 200", IMG_PALETTE, 200, false, 3, 8, 768},
        {"rgb", IMG_RGB, 0, false, 2, 8, 0},
        {"bgr", IMG_BGR, 0, false, 2, 8, 0},
        {"rgb32 without alpha", IMG_RGB32, 0, false, 2, 8, 0},
        {"rgb32 with alpha", IMG_RGB32, 0, true, 6, 8, 0},
        {"bgr32 with alpha", IMG_BGR32, 0, true, 6, 8, 0},
    };
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const int w = 45, h = 19;
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        ASSERT_TRUE(makePicture(&img, c, w, h));
        std::string out = tempPath("ours.png");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(pngIndex());
        o.writerOption2 = 100;
        ASSERT_EQ(saveImage(&out[0], &img, &o), ST_OK);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(out, &file));
        ASSERT_GT(file.size(), 33u);
        EXPECT_EQ(file[24], c.bitDepth);
        EXPECT_EQ(file[25], c.colourType);
        EXPECT_EQ(file[28], 0);  // never interlaced
        const std::vector<Chunk> cs = chunks(file);
        const Chunk* plte = findChunk(cs, "PLTE");
        EXPECT_EQ(plte ? plte->length : 0u, c.plte);

        std::string ref = tempPath("ours.ppm");
        ASSERT_EQ(run(std::string(IM) + " 'png:" + out + "' -alpha off -depth 8 ppm:" + ref), 0);
        Rgb peer;
        ASSERT_TRUE(readPnmReference(ref, &peer));
        EXPECT_EQ(compareRgb(peer, toRgb(img)), 0);
        if (c.alpha) {
            ASSERT_EQ(run(std::string(IM) + " 'png:" + out + "' -alpha extract -depth 8 pgm:" + ref), 0);
            Rgb alpha;
            ASSERT_TRUE(readPnmReference(ref, &alpha));
            for (int x = 0; x < w; ++x) EXPECT_EQ(alpha.pixels[(3 * w + x) * 3], x * 255 / (w - 1)) << x;
        }
        OwnedImage back;
        ASSERT_EQ(load(out, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
    }
}

TEST(PngWriter, QualitySetsTheCompressionLevel) {
    // The stream header states the level class: 0 fastest (levels 0-1), 1 fast
    // (2-5), 2 default (6), 3 best (7-9), for drawings and photographs alike.
    struct Case {
        bool photo;
        int quality;
        int levelClass;
    };
    const std::vector<Case> cases = {{false, 0, 0},  {false, 10, 0}, {false, 30, 1}, {false, 59, 1},
                                     {false, 60, 2}, {false, 95, 3}, {false, 100, 3}, {false, 1000, 3},
                                     {true, 0, 0},   {true, 60, 2},  {true, 100, 3}};
    OwnedImage drawing, photo;
    ASSERT_TRUE(createImage(&drawing, IMG_RGB, 4, 64, 64));
    ASSERT_TRUE(createImage(&photo, IMG_RGB, 4, 64, 64));
    uint32_t noise = 7;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64 * 3; ++x) {
            noise = noise * 1103515245u + 12345u;
            imageRow(&photo, y)[x] = uint8_t(noise >> 16);
            imageRow(&drawing, y)[x] = uint8_t((x / 3) / 8 * 30 + y);
        }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.photo) + " " + std::to_string(c.quality));
        Image* img = c.photo ? &photo : &drawing;
        std::string out = tempPath("level.png");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(pngIndex());
        o.writerOption2 = static_cast<int16_t>(c.quality);
        ASSERT_EQ(saveImage(&out[0], img, &o), ST_OK);
        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(out, &file));
        const std::vector<Chunk> cs = chunks(file);
        const Chunk* idat = findChunk(cs, "IDAT");
        ASSERT_NE(idat, nullptr);
        EXPECT_EQ(file[idat->at + 9] >> 6, c.levelClass);
        OwnedImage back;
        ASSERT_EQ(load(out, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), toRgb(*img)), 0);
    }
}

// ---- spliced deflate streams -----------------------------------------------------

std::vector<uint8_t> deflateWith(const std::vector<uint8_t>& data, const std::string& how) {
    std::vector<uint8_t> out(data.size() * 2 + 1024);
    if (how.compare(0, 10, "libdeflate") == 0) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(std::stoi(how.substr(11)));
        out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
        libdeflate_free_compressor(c);
        return out;
    }
    // zlib, raw: "fixed" codes only, "stored" blocks only, or "flushed" (a
    // synchronising flush midway leaves an empty stored block inside).
    z_stream z{};
    deflateInit2(&z, how == "stored" ? 0 : 6, Z_DEFLATED, -15, 8, how == "fixed" ? Z_FIXED : Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (how == "flushed") {
        z.avail_in = static_cast<uInt>(data.size() / 2);
        deflate(&z, Z_SYNC_FLUSH);
    }
    z.avail_in = static_cast<uInt>(data.data() + data.size() - z.next_in);
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Inflates a raw stream; empty unless it ends exactly at its last byte.
std::vector<uint8_t> inflateRaw(const std::vector<uint8_t>& in, size_t expected) {
    std::vector<uint8_t> out(expected + 16);
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int r = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    const bool whole = r == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole ? out : std::vector<uint8_t>();
}

TEST(PngDeflate, SplicedStreamsInflateToTheirParts) {
    // Noise (stored blocks), text (long matches), a ramp (short ones), empty.
    std::vector<std::vector<uint8_t>> data(4);
    uint32_t r = 99;
    for (int i = 0; i < 70000; ++i) data[0].push_back(uint8_t((r = r * 1103515245u + 12345u) >> 16));
    const std::string text = "the bitmap header stores height negative for top-down rows. ";
    for (int i = 0; i < 3000; ++i) data[1].insert(data[1].end(), text.begin(), text.end() - i % 7);
    for (int i = 0; i < 50000; ++i) data[2].push_back(uint8_t(i / 3 + (i % 3) * 40));
    const std::vector<std::vector<std::string>> cases = {
        {"libdeflate 1", "libdeflate 6"},
        {"libdeflate 6", "libdeflate 12", "libdeflate 6"},
        {"fixed", "stored", "flushed", "libdeflate 9"},
        {"stored", "fixed"},
        {"flushed", "libdeflate 6", "fixed", "stored", "libdeflate 1"},
    };
    for (const auto& methods : cases) {
        for (size_t rotate = 0; rotate < data.size(); ++rotate) {
            std::vector<std::vector<uint8_t>> streams;
            std::vector<uint8_t> whole;
            std::string trace;
            for (size_t i = 0; i < methods.size(); ++i) {
                const std::vector<uint8_t>& d = data[(i + rotate) % data.size()];
                streams.push_back(deflateWith(d, methods[i]));
                whole.insert(whole.end(), d.begin(), d.end());
                trace += methods[i] + " (" + std::to_string(d.size()) + ") ";
            }
            SCOPED_TRACE(trace);
            std::vector<const uint8_t*> parts;
            std::vector<size_t> sizes;
            size_t room = 0;
            for (const auto& st : streams) parts.push_back(st.data()), sizes.push_back(st.size()), room += st.size() + 5;
            std::vector<uint8_t> spliced(room);
            const size_t n = spliceDeflateStreams(parts.data(), sizes.data(), static_cast<int>(parts.size()), spliced.data());
            ASSERT_GT(n, 0u);
            spliced.resize(n);
            const std::vector<uint8_t> back = inflateRaw(spliced, whole.size());
            ASSERT_EQ(back.size(), whole.size());
            EXPECT_TRUE(back == whole);
        }
    }
    // A part that is no deflate stream (block type 3) cannot be spliced.
    const uint8_t bad[] = {0x07, 0x00, 0x00};
    const uint8_t* parts[] = {bad, bad};
    const size_t sizes[] = {sizeof bad, sizeof bad};
    uint8_t out[32];
    EXPECT_EQ(spliceDeflateStreams(parts, sizes, 2, out), 0u);
}

TEST(PngDeflate, SmoothBandsSearchOneLevelDeeper) {
    // A smooth gradient filters to mostly zeros and is deflated as if asked one
    // level more (up to 9); a grainy one keeps the level asked. One band, so
    // that the stream is libdeflate's own over the filtered rows.
    struct Case {
        const char* name;
        int grain;
        int level;
        int deflatedAs;
    };
    const std::vector<Case> cases = {
        {"smooth", 0, 6, 7}, {"smooth", 0, 1, 2}, {"smooth", 0, 9, 9}, {"grainy", 6, 6, 6}, {"grainy", 6, 3, 3}};
    const int w = 300, h = 200;
    const size_t rowBytes = w * 3;
    setOperationThreads(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.level));
        std::vector<uint8_t> rows((rowBytes + 1) * h);
        uint32_t noise = 5;
        for (int y = 0; y < h; ++y)
            for (size_t x = 0; x < rowBytes; ++x) {
                noise = noise * 1103515245u + 12345u;
                const int grain = c.grain ? int(noise >> 16) % c.grain : 0;
                rows[(rowBytes + 1) * y + 1 + x] = uint8_t((x / 3 + y) / 4 + (x % 3) * 50 + grain);
            }
        Buffer stream;
        size_t size = 0;
        ASSERT_EQ(pngDeflateRows(rows.data(), rowBytes, h, 3, c.level, &stream, &size), ST_OK);
        const std::vector<uint8_t> body(stream.get() + 2, stream.get() + size - 4);  // no header, no checksum
        EXPECT_TRUE(body == deflateWith(rows, "libdeflate " + std::to_string(c.deflatedAs)));
        if (c.level < 9) EXPECT_FALSE(body == deflateWith(rows, "libdeflate " + std::to_string(c.deflatedAs == c.level ? c.level + 1 : c.level)));
    }
    setOperationThreads(0);
}

// The filter of one sample as the format defines it, from its left, upper and
// upper-left neighbours (zero outside the picture).
uint8_t filtered(int type, int v, int a, int b, int c) {
    switch (type) {
    case 1: return uint8_t(v - a);
    case 2: return uint8_t(v - b);
    case 3: return uint8_t(v - (a + b) / 2);
    case 4: {
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        return uint8_t(v - (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
    }
    default: return uint8_t(v);
    }
}

TEST(PngDeflate, EachRowTakesTheFilterOfSmallestSum) {
    // Every pixel size the writer meets (and one it does not), rows narrower
    // than a pixel's worth of neighbours, noise, ramps and near repeats: each
    // row must carry the first filter whose bytes, taken as signed, sum
    // smallest, and those bytes.
    struct Case {
        int bpp;
        size_t rowBytes;
        int kind;  // 0 noise, 1 ramp, 2 rows repeating the one above give or take one
    };
    std::vector<Case> cases;
    for (int bpp : {1, 2, 3, 4, 5, 6, 8})
        for (size_t rowBytes : {size_t(bpp), size_t(bpp) * 7 + 1, size_t(bpp) * 61})
            for (int kind = 0; kind < 3; ++kind) cases.push_back({bpp, rowBytes, kind});
    setOperationThreads(1);
    for (const Case& c : cases) {
        SCOPED_TRACE("bpp " + std::to_string(c.bpp) + ", " + std::to_string(c.rowBytes) + " bytes, kind " + std::to_string(c.kind));
        const int h = 24;
        const size_t stride = c.rowBytes + 1;
        std::vector<uint8_t> rows(stride * h);
        uint32_t noise = 17u + unsigned(c.kind);
        for (int y = 0; y < h; ++y)
            for (size_t x = 0; x < c.rowBytes; ++x) {
                noise = noise * 1103515245u + 12345u;
                const uint8_t r = uint8_t(noise >> 16);
                uint8_t& v = rows[stride * y + 1 + x];
                v = c.kind == 0 ? r : c.kind == 1 ? uint8_t(x * 5 + y * 3 + r % 3) : uint8_t(y ? rows[stride * (y - 1) + 1 + x] + r % 3 - 1 : r);
            }
        const std::vector<uint8_t> original = rows;
        Buffer stream;
        size_t size = 0;
        ASSERT_EQ(pngDeflateRows(rows.data(), c.rowBytes, h, c.bpp, 1, &stream, &size), ST_OK);
        const std::vector<uint8_t> back = inflateRaw(std::vector<uint8_t>(stream.get() + 2, stream.get() + size - 4), rows.size());
        ASSERT_EQ(back.size(), rows.size());
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = &original[stride * y + 1];
            std::vector<uint8_t> above(c.rowBytes, 0);
            if (y) above.assign(&original[stride * (y - 1) + 1], &original[stride * y]);
            int best = 0;
            uint32_t bestSum = UINT32_MAX;
            for (int type = 0; type < 5; ++type) {
                uint32_t sum = 0;
                for (size_t x = 0; x < c.rowBytes; ++x) {
                    const bool left = x >= size_t(c.bpp);
                    sum += uint32_t(std::abs(int(int8_t(filtered(type, row[x], left ? row[x - c.bpp] : 0, above[x],
                                                                  left ? above[x - c.bpp] : 0)))));
                }
                if (sum < bestSum) best = type, bestSum = sum;
            }
            ASSERT_EQ(back[stride * y], best) << "row " << y;
            for (size_t x = 0; x < c.rowBytes; ++x) {
                const bool left = x >= size_t(c.bpp);
                ASSERT_EQ(back[stride * y + 1 + x], filtered(best, row[x], left ? row[x - c.bpp] : 0, above[x], left ? above[x - c.bpp] : 0))
                    << "row " << y << ", byte " << x;
            }
        }
    }
    setOperationThreads(0);
}

TEST(PngWriter, BandedPicturesDecodeAlike) {
    // Large enough to be shared out among processors: the same pixels whatever
    // the number of bands, in our reader and in ImageMagick's (libpng checks
    // the stream's checksum).
    const std::vector<WriteCase> cases = {
        {"grey", IMG_GREY, 256, false, 0, 8, 0},
        {"rgb", IMG_RGB, 0, false, 2, 8, 0},
        {"rgb32 with alpha", IMG_RGB32, 0, true, 6, 8, 0},
    };
    const int w = 1100, h = 1000;
    for (const WriteCase& c : cases) {
        OwnedImage img;
        ASSERT_TRUE(makePicture(&img, c, w, h));
        uint32_t r = 5;
        for (int y = 300; y < 700; ++y)  // a noisy stretch across band boundaries
            for (int x = 0; x < w * img.bytesPerPixel; ++x) imageRow(&img, y)[x] ^= uint8_t((r = r * 69069u + 1u) >> 27);
        for (unsigned bands : {1u, 2u, 3u, 8u}) {
            SCOPED_TRACE(std::string(c.name) + ", bands " + std::to_string(bands));
            setOperationThreads(bands);
            std::string out = tempPath("bands.png");
            IoOptions o = defaultIoOptions();
            o.formatIndex = static_cast<int16_t>(pngIndex());
            o.writerOption2 = 60;
            const Status st = saveImage(&out[0], &img, &o);
            setOperationThreads(0);
            ASSERT_EQ(st, ST_OK);
            OwnedImage back;
            ASSERT_EQ(load(out, &back), ST_OK);
            EXPECT_EQ(compareRgb(toRgb(back), toRgb(img)), 0);
            if (bands != 3 || !haveProgram(IM)) continue;
            std::string ref = tempPath("bands.ppm");
            ASSERT_EQ(run(std::string(IM) + " 'png:" + out + "' -alpha off -depth 8 ppm:" + ref), 0);
            Rgb peer;
            ASSERT_TRUE(readPnmReference(ref, &peer));
            EXPECT_EQ(compareRgb(peer, toRgb(img)), 0);
        }
    }
}

// ---- MNG ---------------------------------------------------------------------------

TEST(MngReader, PagesWrittenByImageMagick) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    std::vector<Rgb> sources;
    std::string list;
    for (int i = 0; i < 3; ++i) {
        sources.push_back(makeSource(23 + i, 17, 0, i + 5));
        std::string p = tempPath("frame" + std::to_string(i) + ".png");
        std::string ppm = tempPath("frame" + std::to_string(i) + ".ppm");
        ASSERT_TRUE(writePnm(ppm, sources.back()));
        ASSERT_EQ(run(std::string(IM) + " " + ppm + " PNG24:" + p), 0);
        list += " " + p;
    }
    std::string out = tempPath("three.mng");
    ASSERT_EQ(run(std::string(IM) + list + " mng:" + out), 0);
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        IoOptions o = defaultIoOptions();
        o.pageIndex = page;
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadImage(out.c_str(), &img, &o, &info), ST_OK);
        EXPECT_EQ(info.pageCount, 3);
        EXPECT_STREQ(info.formatName, "Multiple Network Graphics");
        EXPECT_EQ(compareRgb(toRgb(img), sources[page]), 0);
    }
    IoOptions o = defaultIoOptions();
    o.pageIndex = 3;
    OwnedImage img;
    FileInfo info{};
    EXPECT_EQ(loadImage(out.c_str(), &img, &o, &info), ST_READ_ERROR);
    EXPECT_EQ(info.pageCount, 3);
    EXPECT_EQ(readImageInfo(out.c_str(), -1, 0, &info), ST_OK);
    EXPECT_EQ(info.pageCount, 3);
}

TEST(MngReader, ChunkWalking) {
    if (!haveProgram("pnmtopng")) GTEST_SKIP() << "netpbm missing";
    std::string src = tempPath("walk.ppm"), png = tempPath("walk.png");
    Rgb source = makeSource(9, 7, 0);
    ASSERT_TRUE(writePnm(src, source));
    ASSERT_EQ(run("pnmtopng " + src + " > " + png), 0);
    std::vector<uint8_t> pngBytes;
    ASSERT_TRUE(readFile(png, &pngBytes));
    const std::vector<uint8_t> embedded(pngBytes.begin() + 8, pngBytes.end());  // IHDR ... IEND
    const std::vector<uint8_t> sig = {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> mhdr(28, 0);
    mhdr[3] = 9, mhdr[7] = 7;
    const std::vector<uint8_t> head = [&] {
        std::vector<uint8_t> v = sig;
        std::vector<uint8_t> c = chunk("MHDR", mhdr);
        v.insert(v.end(), c.begin(), c.end());
        return v;
    }();
    auto mng = [&](std::initializer_list<std::vector<uint8_t>> parts) {
        std::vector<uint8_t> v = head;
        for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
        return v;
    };
    const std::vector<uint8_t> mend = chunk("MEND", {});
    std::vector<uint8_t> hugeLength = {0x80, 0, 0, 0, 'J', 'U', 'N', 'K'};
    std::vector<uint8_t> pastTheEnd = {0, 1, 0, 0, 'J', 'U', 'N', 'K', 1, 2, 3};
    std::vector<uint8_t> mhdrLonger = sig;
    std::vector<uint8_t> longer = chunk("MHDR", std::vector<uint8_t>(40, 0));  // a header longer than usual
    mhdrLonger.insert(mhdrLonger.end(), longer.begin(), longer.end());
    mhdrLonger.insert(mhdrLonger.end(), embedded.begin(), embedded.end());

    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        int page;
        Status status;
        int pages;
    };
    const std::vector<Case> cases = {
        {"two images", mng({embedded, chunk("FRAM", {1}), embedded, mend}), 1, ST_OK, 2},
        {"images after MEND are not pages", mng({embedded, mend, embedded}), 0, ST_OK, 1},
        {"no MEND", mng({embedded, embedded}), 1, ST_OK, 2},
        {"page past the last", mng({embedded, mend}), 1, ST_READ_ERROR, 1},
        {"no image", mng({chunk("TERM", {0}), mend}), 0, ST_READ_ERROR, 0},
        {"length beyond 2^31 stops the walk", mng({hugeLength, embedded, mend}), 0, ST_READ_ERROR, 0},
        {"chunk running past the end", mng({embedded, pastTheEnd}), 0, ST_OK, 1},
        {"chunk running past the end hides what follows", mng({pastTheEnd, embedded}), 0, ST_READ_ERROR, 0},
        {"header of another length", mhdrLonger, 0, ST_OK, 1},
        {"not MNG", pngBytes, 0, ST_UNKNOWN_FORMAT, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        EXPECT_EQ(loadBytes(c.file, &img, 0, &info, mngIndex(), c.page), c.status);
        EXPECT_EQ(info.pageCount, c.pages);
        if (c.status == ST_OK) {
            EXPECT_EQ(compareRgb(toRgb(img), source), 0);
        }
    }
}

}  // namespace
