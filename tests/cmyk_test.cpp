// CMYK pictures: Photoshop documents and Adobe JPEG files (inverted inks) and
// TIFF files (plain inks) written by ImageMagick decode to the colours
// ImageMagick itself reads from them: every channel is (255 - ink)(255 - black)
// / 255, so mid-tones keep their lightness.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";

// A P6 picture of mid-tones: every mix of ink and black the conversions
// could disagree on, none of them pure.
std::vector<uint8_t> midTonesP6(int w, int h) {
    const std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> f(head.begin(), head.end());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            f.push_back(static_cast<uint8_t>(40 + x * 180 / (w - 1)));
            f.push_back(static_cast<uint8_t>(40 + y * 180 / (h - 1)));
            f.push_back(static_cast<uint8_t>(60 + (x * 7 + y * 13) % 140));
        }
    return f;
}

struct CmykCase {
    const char* format;      // ImageMagick's output format
    const char* options;     // how it writes CMYK
    const char* formatName;  // what we call the file
};

TEST(CmykFiles, DecodeToThePeersColours) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    const std::string src = tempPath("cmyk_src.ppm");
    ASSERT_TRUE(writeFile(src, midTonesP6(48, 32)));
    const CmykCase cases[] = {
        {"jpg", "-colorspace CMYK -quality 95", "JPEG CMYK"},
        {"psd", "-colorspace CMYK", "Adobe Photoshop Document (Raw)"},
        {"psd", "-colorspace CMYK -compress RLE", "Adobe Photoshop Document (RLE)"},
        {"tif", "-colorspace CMYK -compress LZW", "TIFF LZW (CMYK)"},
    };
    int n = 0;
    for (const CmykCase& c : cases) {
        SCOPED_TRACE(c.formatName);
        const std::string out = tempPath("cmyk" + std::to_string(n) + "." + c.format);
        const std::string ref = tempPath("cmyk" + std::to_string(n++) + ".ppm");
        ASSERT_EQ(run(std::string(IM) + " " + src + " " + c.options + " " + out), 0);
        // The first image of a Photoshop document is the composite one.
        ASSERT_EQ(run(std::string(IM) + " '" + out + "[0]' -colorspace sRGB -depth 8 ppm:" + ref), 0);
        Rgb expected;
        ASSERT_TRUE(readPnmReference(ref, &expected));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(out, &img, 0, &info), ST_OK);
        EXPECT_STREQ(info.formatName, c.formatName);
        const Rgb got = toRgb(img);
        ASSERT_GE(compareRgb(got, expected), 0) << "sizes differ";
        int worst = 0;
        for (size_t i = 0; i < got.pixels.size(); ++i)
            worst = std::max(worst, std::abs(got.pixels[i] - expected.pixels[i]));
        EXPECT_LE(worst, 1);
    }
}

}  // namespace
