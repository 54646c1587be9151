// Seattle Film Works files. ImageMagick and GraphicsMagick name the format but
// neither reads any file here (both lose the buffer's length before walking
// the segments), so the files are made from baseline JPEG streams that cjpeg
// writes with the standard Huffman tables: their markers changed and their
// tables taken out, as the format stores them. The picture must be the JPEG
// stream's picture turned upside down, as ImageMagick decodes that stream.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

bool havePeers() { return haveProgram("cjpeg") && haveProgram(IM); }

uint8_t storedMarker(uint8_t m) {
    switch (m) {
    case 0xD8: return 0xC8;
    case 0xE0: return 0xD0;
    case 0xC0: return 0xA0;
    case 0xDB: return 0xCB;
    case 0xDA: return 0xCA;
    case 0xD9: return 0xC9;
    default: return m;
    }
}

// The JPEG stream as a single picture: "SFW94A" and padding, then the stream
// with its markers changed and its Huffman table segments left out.
std::vector<uint8_t> sfwFromJpeg(const std::vector<uint8_t>& jpeg) {
    std::vector<uint8_t> out = {'S', 'F', 'W', '9', '4', 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    out.insert(out.end(), {0xFF, 0xC8});
    size_t i = 2;
    while (i + 4 <= jpeg.size()) {
        const uint8_t m = jpeg[i + 1];
        const size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (m == 0xDA) {
            out.insert(out.end(), {0xFF, 0xCA});
            out.insert(out.end(), jpeg.begin() + long(i + 2), jpeg.end() - 2);
            out.insert(out.end(), {0xFF, 0xC9});
            break;
        }
        if (m != 0xC4) {
            out.insert(out.end(), {0xFF, storedMarker(m)});
            out.insert(out.end(), jpeg.begin() + long(i + 2), jpeg.begin() + long(i + 2 + length));
        }
        i += 2 + length;
    }
    return out;
}

std::vector<uint8_t> pwp(const std::vector<std::vector<uint8_t>>& pictures) {
    std::vector<uint8_t> f = {'S', 'F', 'W', '9', '5'};
    f.resize(20, 0);
    for (const auto& p : pictures) {
        f.resize(f.size() + 256, 0);
        const uint32_t values[4] = {1, static_cast<uint32_t>(p.size()), 2, 3};
        for (uint32_t v : values)
            for (int s = 0; s < 32; s += 8) f.push_back(uint8_t(v >> s));
        f.insert(f.end(), p.begin(), p.end());
    }
    return f;
}

struct Made {
    std::vector<uint8_t> sfw;
    Rgb expected;  // the JPEG stream's picture upside down
};

// A picture of w x h through cjpeg (options added), as an SFW file.
bool make(int w, int h, const std::string& options, Made* out) {
    static int n = 0;
    const std::string src = tempPath("sfw_src" + std::to_string(n) + ".ppm");
    const std::string jpg = tempPath("sfw_src" + std::to_string(n) + ".jpg");
    const std::string ref = tempPath("sfw_ref" + std::to_string(n++) + ".ppm");
    if (!writeFile(src, patternP6(w, h))) return false;
    if (run("cjpeg -baseline " + options + " " + src + " > " + jpg) != 0) return false;
    if (run(std::string(IM) + " " + jpg + " -flip -depth 8 -type TrueColor ppm:" + ref) != 0) return false;
    std::vector<uint8_t> jpeg;
    if (!readFile(jpg, &jpeg) || !readPeerPnm(ref, &out->expected, nullptr)) return false;
    out->sfw = sfwFromJpeg(jpeg);
    return true;
}

TEST(SfwReader, PicturesAreTheirJpegStreamsUpsideDown) {
    if (!havePeers()) GTEST_SKIP() << "cjpeg or ImageMagick missing";
    struct Case {
        const char* name;
        int w, h;
        const char* options;
        uint16_t kind;
    };
    const std::vector<Case> cases = {
        {"colour", 45, 27, "-quality 85", IMG_RGB},
        {"colour 4:4:4", 33, 17, "-sample 1x1", IMG_RGB},
        {"grey", 40, 24, "-grayscale", IMG_GREY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Made m;
        ASSERT_TRUE(make(c.w, c.h, c.options, &m));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadBytesAs("sfw", m.sfw, &img, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, "Seattle Film Works");
        EXPECT_EQ(img.kind, c.kind);
        EXPECT_EQ(compareRgb(toRgb(img), m.expected), 0);
    }
}

TEST(SfwReader, MultiPictureFiles) {
    if (!havePeers()) GTEST_SKIP() << "cjpeg or ImageMagick missing";
    Made pics[3];
    ASSERT_TRUE(make(16, 8, "", &pics[0]));
    ASSERT_TRUE(make(24, 16, "", &pics[1]));
    ASSERT_TRUE(make(32, 8, "-grayscale", &pics[2]));
    const std::vector<uint8_t> three = pwp({pics[0].sfw, pics[1].sfw, pics[2].sfw});
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        int page;
        int picture;  // expected picture, -1 for a refusal
        int pages;
    };
    std::vector<uint8_t> overlong = pwp({pics[0].sfw, pics[1].sfw});
    // A third entry whose size reaches past the end of the file is not an entry.
    overlong.resize(overlong.size() + 256, 0);
    overlong.insert(overlong.end(), {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 0, 0});
    overlong.insert(overlong.end(), pics[2].sfw.begin(), pics[2].sfw.end());
    const std::vector<Case> cases = {
        {"first page", three, 0, 0, 3},
        {"page 2 is the third entry", three, 2, 2, 3},
        {"a page past the last reads the first", three, 7, 0, 3},
        {"an entry larger than the file ends the list", overlong, 1, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath("multi.pwp");
        ASSERT_TRUE(writeFile(path, c.file));
        IoOptions o = defaultIoOptions();
        o.pageIndex = c.page;
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(loadImage(path.c_str(), &img, &o, &info), ST_OK);
        EXPECT_EQ(info.pageCount, c.pages);
        EXPECT_EQ(compareRgb(toRgb(img), pics[c.picture].expected), 0);
    }
}

TEST(SfwReader, DamagedFiles) {
    if (!havePeers()) GTEST_SKIP() << "cjpeg or ImageMagick missing";
    Made m;
    ASSERT_TRUE(make(16, 16, "", &m));
    const size_t start = 16;  // where the stream begins in our files
    auto changed = [&](size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> f = m.sfw;
        for (size_t i = 0; i < bytes.size(); ++i) f[at + i] = bytes[i];
        return f;
    };
    std::vector<uint8_t> noEnd = m.sfw;
    noEnd.resize(noEnd.size() - 2);
    struct Case {
        const char* name;
        std::vector<uint8_t> file;
        const char* format;
        Status status;
    };
    const std::vector<Case> cases = {
        {"no start sequence", changed(start + 3, {0xE0}), "sfw", ST_UNKNOWN_FORMAT},
        {"no end of image", noEnd, "sfw", ST_UNKNOWN_FORMAT},
        {"segment length past the end", changed(start + 4, {0xFF, 0xF0}), "sfw", ST_UNKNOWN_FORMAT},
        {"segment length below 2", changed(start + 4, {0x00, 0x01}), "sfw", ST_UNKNOWN_FORMAT},
        {"the signature alone", {'S', 'F', 'W'}, "sfw", ST_READ_ERROR},
        {"start sequence at the very end", {'S', 'F', 'W', 0, 0xFF, 0xC8, 0xFF, 0xD0}, "sfw", ST_UNKNOWN_FORMAT},
        {"multi-picture file without entries", pwp({}), "pwp", ST_READ_ERROR},
        {"multi-picture entry of size 0", [] {
             auto f = pwp({{1, 2, 3}});
             f[20 + 256 + 4] = 0;
             return f;
         }(), "pwp", ST_READ_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        EXPECT_EQ(loadBytesAs(c.format, c.file, &img), c.status);
        EXPECT_EQ(img.pixels, nullptr);
    }
}

}  // namespace
