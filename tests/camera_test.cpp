// Casio QV-10, Ricoh and Kodak DC120 camera files: JPEG streams written by
// cjpeg, wrapped in each camera's header by the layouts of the formats,
// decode as djpeg decodes the bare stream; the JPEG size check and error path
// apply to them as to JPEG files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

// A JPEG stream written by cjpeg from a test picture (grey when asked).
bool cjpegStream(int w, int h, bool grey, Bytes* out, Rgb* decoded) {
    static int counter = 0;
    const std::string tag = std::to_string(counter++);
    const std::string ppm = tempPath("cam" + tag + ".ppm"), jpg = tempPath("cam" + tag + ".jpg"),
                      ref = tempPath("cam" + tag + "ref.pnm");
    if (!writeFile(ppm, patternP6(w, h))) return false;
    const std::string opts = grey ? "-grayscale -quality 85" : "-quality 85";
    if (run("cjpeg " + opts + " '" + ppm + "' > '" + jpg + "'") != 0) return false;
    if (run("djpeg -pnm '" + jpg + "' > '" + ref + "'") != 0) return false;
    unsigned maxval = 0;
    return readFile(jpg, out) && readPeerPnm(ref, decoded, &maxval);
}

Bytes casioFile(const Bytes& jpeg) {
    Bytes f = {0x07, 0x20, 0x4D, 0x4D, 0x00, 0x03};
    f.resize(54, 0x11);
    f.insert(f.end(), jpeg.begin(), jpeg.end());
    return f;
}

Bytes ricohFile(const Bytes& jpeg, uint32_t at) {
    Bytes f = {0x80, 0x3E, 'D', 'S', 'C', 'I', 'M'};
    f.resize(56, 0);
    putBE32(&f, at);
    f.resize(std::max<size_t>(at, f.size()), 0x22);
    f.insert(f.end(), jpeg.begin(), jpeg.end());
    return f;
}

// The camera's header, then the stream without its start-of-image marker and
// JFIF segment behind one unit standing for the marker, every 16-bit unit
// swapped.
Bytes dc120File(const Bytes& jpeg, const char* camera = "Kodak DC120 ZOOM Digital Camera", uint8_t compression = 7) {
    Bytes f(15680, 0);
    std::copy(camera, camera + strlen(camera) + 1, f.begin() + 470);
    f[707] = compression;
    size_t from = 2;
    if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) from = 4 + (jpeg[4] << 8 | jpeg[5]);
    Bytes data = {0xFF, 0xD8};
    data.insert(data.end(), jpeg.begin() + static_cast<long>(from), jpeg.end());
    if (data.size() % 2) data.push_back(0);
    for (size_t i = 0; i < data.size(); i += 2) std::swap(data[i], data[i + 1]);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

Bytes cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); }

struct Case {
    const char* name;
    const char* format;
    Bytes file;
    Status status;
    const char* formatName;  // what the file is called when it decodes
};

void runCases(const std::vector<Case>& cases, const Rgb& want, uint16_t kind) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(c.status, loadBytesAs(c.format, c.file, &img, 0, &info));
        if (c.status != ST_OK) continue;
        EXPECT_STREQ(c.formatName, info.formatName);
        EXPECT_EQ(kind, img.kind);
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}

}  // namespace

TEST(CameraReaders, StreamsDecodeAsDjpegDecodesThem) {
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    for (bool grey : {false, true}) {
        SCOPED_TRACE(grey ? "grey" : "colour");
        Bytes jpeg;
        Rgb want;
        ASSERT_TRUE(cjpegStream(67, 41, grey, &jpeg, &want));
        const std::vector<Case> cases = {
            {"Casio", "cam", casioFile(jpeg), ST_OK, "QV-10 Camera"},
            {"Ricoh, stream at 60", "j6i", ricohFile(jpeg, 60), ST_OK, "Ricoh Digital Camera"},
            {"Ricoh, stream at 1000", "j6i", ricohFile(jpeg, 1000), ST_OK, "Ricoh Digital Camera"},
            {"DC120", "kdc", dc120File(jpeg), ST_OK, "Kodak DC120 Digital Camera"},
            {"DC120 with a trailing odd byte", "kdc",
             [&] {
                 Bytes f = dc120File(jpeg);
                 f.push_back(0x5A);
                 return f;
             }(),
             ST_OK, "Kodak DC120 Digital Camera"},
        };
        runCases(cases, want, grey ? IMG_GREY : IMG_RGB);
    }
}

TEST(CameraReaders, SignaturesAndDamage) {
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    Bytes jpeg;
    Rgb want;
    ASSERT_TRUE(cjpegStream(32, 24, false, &jpeg, &want));
    // A frame header claiming 16000 columns: the JPEG size check refuses it.
    Bytes wide = jpeg;
    for (size_t i = 2; i + 8 < wide.size(); ++i)
        if (wide[i] == 0xFF && wide[i + 1] == 0xC0) {
            wide[i + 7] = 16000 >> 8;
            wide[i + 8] = 16000 & 0xFF;
            break;
        }
    Bytes casioBadVersion = casioFile(jpeg);
    casioBadVersion[5] = 0x04;
    const Bytes dc = dc120File(jpeg);
    const std::vector<Case> cases = {
        {"Casio, another version", "cam", casioBadVersion, ST_UNKNOWN_FORMAT, nullptr},
        {"Casio, no stream", "cam", cut(casioFile(jpeg), 60), ST_UNKNOWN_FORMAT, nullptr},
        {"Casio, 16000 columns", "cam", casioFile(wide), ST_BAD_FILE, nullptr},
        {"Casio, stream cut short", "cam", cut(casioFile(jpeg), 54 + jpeg.size() - 80), ST_READ_ERROR, nullptr},
        {"Ricoh, other letters", "j6i", [&] { Bytes f = ricohFile(jpeg, 60); f[6] = 'N'; return f; }(),
         ST_UNKNOWN_FORMAT, nullptr},
        {"Ricoh, offset past the end", "j6i", [&] {
             Bytes f = ricohFile(jpeg, 60);
             f[56] = 0x7F;
             return f;
         }(), ST_READ_ERROR, nullptr},
        {"Ricoh, offset inside its header", "j6i", ricohFile(jpeg, 20), ST_CORRUPT, nullptr},
        {"Ricoh, 16000 columns", "j6i", ricohFile(wide, 64), ST_BAD_FILE, nullptr},
        {"DC120 of 15679 bytes", "kdc", cut(dc, 15679), ST_UNKNOWN_FORMAT, nullptr},
        {"DC120 of 15680 bytes: no stream", "kdc", cut(dc, 15680), ST_UNKNOWN_FORMAT, nullptr},
        {"DC120, another camera", "kdc", dc120File(jpeg, "Kodak DC120 ZOOM Digital Camer"), ST_UNKNOWN_FORMAT,
         nullptr},
        {"DC120, longer name", "kdc", dc120File(jpeg, "Kodak DC120 ZOOM Digital Camera2"), ST_UNKNOWN_FORMAT, nullptr},
        {"DC120, compression 6", "kdc", dc120File(jpeg, "Kodak DC120 ZOOM Digital Camera", 6), ST_UNKNOWN_FORMAT,
         nullptr},
        {"DC120, 16000 columns", "kdc", dc120File(wide), ST_BAD_FILE, nullptr},
        {"DC120, stream cut short", "kdc", cut(dc, dc.size() - 80), ST_READ_ERROR, nullptr},
    };
    runCases(cases, want, IMG_RGB);
}

TEST(CameraReaders, TrialPassFindsThemWithoutTheirExtension) {
    if (!haveProgram("cjpeg") || !haveProgram("djpeg")) GTEST_SKIP() << "cjpeg missing";
    Bytes jpeg;
    Rgb want;
    ASSERT_TRUE(cjpegStream(40, 30, false, &jpeg, &want));
    const struct {
        Bytes file;
        const char* formatName;
    } files[] = {{casioFile(jpeg), "QV-10 Camera"},
                 {ricohFile(jpeg, 100), "Ricoh Digital Camera"},
                 {dc120File(jpeg), "Kodak DC120 Digital Camera"}};
    int n = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f.formatName);
        const std::string path = tempPath("camtrial" + std::to_string(n++) + ".dat");
        ASSERT_TRUE(writeFile(path, f.file));
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(ST_OK, load(path, &img, 0, &info));
        EXPECT_STREQ(f.formatName, info.formatName);
        EXPECT_EQ(0, compareRgb(toRgb(img), want));
    }
}
