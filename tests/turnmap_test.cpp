// Saving a picture turned a quarter without the turned copy, and loading a
// plain picture from its file's pages: both must give exactly what the
// ordinary paths give.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "geometry.h"
#include "kit.h"
#include "testpictures.h"

using namespace testutil;
using namespace testpictures;

namespace {

Status saveWith(Image* image, const std::string& path, const char* format, uint16_t flags) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat(format));
    o.flags = flags;
    std::vector<char> name(path.begin(), path.end());
    name.resize(FILE_NAME_LEN, '\0');
    return saveImage(name.data(), image, &o);
}

Status loadWith(const std::string& path, Image* image, uint16_t flags) {
    IoOptions o = defaultIoOptions();
    o.flags = flags;
    FileInfo info{};
    return loadImage(path.c_str(), image, &o, &info);
}

std::vector<uint8_t> bytesOf(const std::string& path) {
    std::vector<uint8_t> b;
    readFile(path, &b);
    return b;
}

// How many of the process's mappings are of the file.
int mappingsOf(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);)
        if (line.size() >= path.size() && line.compare(line.size() - path.size(), path.size(), path) == 0) ++n;
    return n;
}

TEST(SaveTurned, WritesWhatTheTurnedPictureWrites) {
    struct Turn {
        uint16_t flag;
        int angle;
    };
    const Turn turns[] = {{OPT_TURN_RIGHT, 90}, {OPT_TURN_LEFT, 270}};
    // bmp and tga store rows from the bottom; png and tiff have several
    // layouts by kind; 131 rows turned give two whole bands and a part.
    const char* const formats[] = {"pnm", "bmp", "tga", "png", "tiff", "pcx"};
    for (const KindCase& k : allKinds())
        for (const char* format : formats)
            for (const Turn& t : turns) {
                SCOPED_TRACE(std::string(k.name) + " " + format + " " + std::to_string(t.angle));
                OwnedImage picture, turned;
                ASSERT_TRUE(makePicture(&picture, k.kind, 131, 70));
                ASSERT_EQ(rotateImage(&picture, &turned, t.angle), ST_OK);
                const std::string a = tempPath(std::string("turned_a.") + format);
                const std::string b = tempPath(std::string("turned_b.") + format);
                const Status expected = saveWith(&turned, a, format, 0);
                ASSERT_EQ(saveWith(&picture, b, format, t.flag), expected);
                if (expected == ST_OK) EXPECT_EQ(bytesOf(a), bytesOf(b));
                EXPECT_EQ(picture.width, 131);  // the picture itself is left as it was
            }
}

TEST(SaveTurned, BothDirectionsAtOnceMeanNoTurn) {
    OwnedImage picture;
    ASSERT_TRUE(makePicture(&picture, IMG_RGB, 9, 5));
    const std::string a = tempPath("turned_none_a.ppm"), b = tempPath("turned_none_b.ppm");
    ASSERT_EQ(saveWith(&picture, a, "pnm", 0), ST_OK);
    ASSERT_EQ(saveWith(&picture, b, "pnm", OPT_TURN_LEFT | OPT_TURN_RIGHT), ST_OK);
    EXPECT_EQ(bytesOf(a), bytesOf(b));
}

// Pictures of several megabytes stored plain: P6 and P5, with the maximum 255.
struct PlainCase {
    const char* name;
    int width, height;
    bool grey;
};
const PlainCase PLAIN[] = {{"P6", 1501, 1000, false}, {"P5", 2600, 1700, true}};

std::string plainFile(const PlainCase& c) {
    std::vector<uint8_t> file = patternP6(c.width, c.height);
    if (c.grey) {
        const std::string head = "P5\n" + std::to_string(c.width) + " " + std::to_string(c.height) + "\n255\n";
        std::vector<uint8_t> grey(head.begin(), head.end());
        const size_t start = file.size() - size_t(c.width) * c.height * 3;
        for (size_t i = start; i < file.size(); i += 3) grey.push_back(file[i + 1]);
        file = grey;
    }
    const std::string path = tempPath(std::string("mapped_") + c.name + ".pnm");
    EXPECT_TRUE(writeFile(path, file));
    return path;
}

TEST(LoadMapped, GivesTheBytesOfARead) {
    for (const PlainCase& c : PLAIN) {
        SCOPED_TRACE(c.name);
        const std::string path = plainFile(c);
        OwnedImage read;
        ASSERT_EQ(loadWith(path, &read, 0), ST_OK);
        EXPECT_EQ(mappingsOf(path), 0);
        {
            OwnedImage mapped;
            ASSERT_EQ(loadWith(path, &mapped, OPT_MAP_FILE), ST_OK);
            EXPECT_EQ(mappingsOf(path), 1);  // the pixels are the file's pages
            EXPECT_EQ(mapped.kind, read.kind);
            EXPECT_EQ(mapped.stride, read.stride);
            EXPECT_EQ(pixelsOf(mapped), pixelsOf(read));
            // An operation's result replaces (and frees) the mapped pixels.
            ASSERT_EQ(flipVertical(&mapped, nullptr), ST_OK);
            EXPECT_EQ(mappingsOf(path), 0);
            ASSERT_EQ(flipVertical(&read, nullptr), ST_OK);
            EXPECT_EQ(pixelsOf(mapped), pixelsOf(read));
        }
        OwnedImage again;
        ASSERT_EQ(loadWith(path, &again, OPT_MAP_FILE), ST_OK);
        EXPECT_EQ(mappingsOf(path), 1);
        freeImage(&again);
        EXPECT_EQ(mappingsOf(path), 0);  // freeing the picture unmapped it
    }
}

TEST(LoadMapped, WritingInPlaceLeavesTheFile) {
    const std::string path = plainFile(PLAIN[0]);
    const std::vector<uint8_t> before = bytesOf(path);
    {
        OwnedImage mapped;
        ASSERT_EQ(loadWith(path, &mapped, OPT_MAP_FILE), ST_OK);
        ASSERT_EQ(mappingsOf(path), 1);
        for (int32_t y = 0; y < mapped.height; y += 7) memset(imageRow(&mapped, y), 0xA5, 100);
        EXPECT_EQ(imageRow(&mapped, 7)[99], 0xA5);
    }
    EXPECT_EQ(bytesOf(path), before);
}

TEST(LoadMapped, ACutFileIsReadAsBefore) {
    const PlainCase& c = PLAIN[0];
    std::vector<uint8_t> file = bytesOf(plainFile(c));
    file.resize(file.size() - size_t(c.width) * 3 * 300 - 17);  // 300 rows and a part missing
    const std::string path = tempPath("mapped_cut.ppm");
    ASSERT_TRUE(writeFile(path, file));
    OwnedImage strict, read, mapped;
    EXPECT_EQ(loadWith(path, &strict, OPT_MAP_FILE), ST_READ_ERROR);
    ASSERT_EQ(loadWith(path, &read, OPT_ACCEPT_DAMAGED), ST_OK);
    ASSERT_EQ(loadWith(path, &mapped, OPT_ACCEPT_DAMAGED | OPT_MAP_FILE), ST_OK);
    EXPECT_EQ(mappingsOf(path), 0);
    EXPECT_EQ(pixelsOf(mapped), pixelsOf(read));
}

}  // namespace
