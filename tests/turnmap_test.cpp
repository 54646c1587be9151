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
    o.flags = flags;
    return saveWithOptions(image, path, format, o);
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

// A PPM's rows are the picture's own bytes: they go to the file from the
// picture, a megabyte at a time, padded rows one at a time.
int countRows(int32_t row, int32_t total, void* datum) {
    auto* seen = static_cast<std::vector<int32_t>*>(datum);
    (void)total;
    seen->push_back(row);
    return 0;
}

TEST(SaveInPlace, PlainRowsGoOutAsThePictureHoldsThem) {
    struct Case {
        const char* name;
        uint16_t kind;
        int width, height, alignment;
    };
    const Case cases[] = {{"rgb unpadded, several megabytes", IMG_RGB, 1500, 1000, 1},
                          {"rgb padded rows", IMG_RGB, 333, 41, 4},
                          {"grey", IMG_GREY, 2001, 700, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage picture;
        ASSERT_TRUE(makePicture(&picture, c.kind, c.width, c.height, patternByte, c.alignment));
        picture.orientation = 0;
        const int channels = c.kind == IMG_GREY ? 1 : 3;
        const std::string head = std::string(channels == 1 ? "P5" : "P6") + "\n" + std::to_string(c.width) + " " +
                                 std::to_string(c.height) + "\n255\n";
        std::vector<uint8_t> expected(head.begin(), head.end());
        for (int32_t y = 0; y < c.height; ++y)
            expected.insert(expected.end(), imageRow(&picture, y), imageRow(&picture, y) + size_t(c.width) * channels);
        std::vector<int32_t> seen;
        IoOptions o = defaultIoOptions();
        o.progressCallback = countRows;
        o.callbackDatum = &seen;
        const std::string path = tempPath("inplace.pnm");
        ASSERT_EQ(saveWithOptions(&picture, path, "pnm", o), ST_OK);
        EXPECT_EQ(bytesOf(path), expected);
        ASSERT_EQ(seen.size(), size_t(c.height));  // every row reported once, in order
        for (int32_t y = 0; y < c.height; ++y) ASSERT_EQ(seen[y], y);
    }
}

int stopHalfWay(int32_t row, int32_t total, void*) { return row >= total / 2 ? 1 : 0; }

TEST(SaveInPlace, AStopEndsTheSave) {
    OwnedImage picture;
    ASSERT_TRUE(makePicture(&picture, IMG_RGB, 1500, 1000, patternByte, 1));
    IoOptions o = defaultIoOptions();
    o.progressCallback = stopHalfWay;
    const std::string path = tempPath("inplace_stopped.pnm");
    EXPECT_EQ(saveWithOptions(&picture, path, "pnm", o), ST_STOPPED);
    EXPECT_LT(bytesOf(path).size(), size_t(1500) * 3 * 1000);
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
        ASSERT_EQ(load(path, &read, 0), ST_OK);
        EXPECT_EQ(mappingsOf(path), 0);
        {
            OwnedImage mapped;
            ASSERT_EQ(load(path, &mapped, OPT_MAP_FILE), ST_OK);
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
        ASSERT_EQ(load(path, &again, OPT_MAP_FILE), ST_OK);
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
        ASSERT_EQ(load(path, &mapped, OPT_MAP_FILE), ST_OK);
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
    EXPECT_EQ(load(path, &strict, OPT_MAP_FILE), ST_READ_ERROR);
    ASSERT_EQ(load(path, &read, OPT_ACCEPT_DAMAGED), ST_OK);
    ASSERT_EQ(load(path, &mapped, OPT_ACCEPT_DAMAGED | OPT_MAP_FILE), ST_OK);
    EXPECT_EQ(mappingsOf(path), 0);
    EXPECT_EQ(pixelsOf(mapped), pixelsOf(read));
}

}  // namespace
