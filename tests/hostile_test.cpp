// Headers that claim far more than their file holds: every reader, fed one of
// its own small files with the picture's sides rewritten to 15999, must cost
// little memory (the file cannot hold the picture it claims), and the pixel
// limit refuses pictures larger than a caller allows.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "harness.h"
#include "testutil.h"

namespace {

using namespace testutil;

constexpr int HUGE_SIDE = 15999;
constexpr size_t SMALL_FILE = 4096;
constexpr long MEMORY_ALLOWED_KB = 64 * 1024;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool MEASURES_MEMORY = false;  // the sanitizer's own shadow memory hides the picture's
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool MEASURES_MEMORY = false;
#else
constexpr bool MEASURES_MEMORY = true;
#endif
#else
constexpr bool MEASURES_MEMORY = true;
#endif

void put(std::vector<uint8_t>* b, size_t at, uint32_t v, int bytes, bool big) {
    for (int i = 0; i < bytes; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * (big ? bytes - 1 - i : i)));
}

uint32_t get(const std::vector<uint8_t>& b, size_t at, int bytes, bool big) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint32_t(b[at + i]) << (8 * (big ? bytes - 1 - i : i));
    return v;
}

// Rewrites every place where the file stores its sides next to each other
// (in either order, 16 or 32 bits, either byte order, or as the last pixel's
// coordinates) to HUGE_SIDE. Returns the number of places rewritten.
int claimHugeSides(std::vector<uint8_t>* b, uint32_t w, uint32_t h) {
    int places = 0;
    for (int bytes : {2, 4}) {
        for (bool big : {false, true}) {
            for (int minusOne : {0, 1}) {
                const uint32_t first[2] = {w - minusOne, h - minusOne};
                for (int order = 0; order < 2; ++order) {
                    const uint32_t a = first[order], c = first[1 - order];
                    if (a == 0 || c == 0) continue;
                    for (size_t at = 0; at + 2 * bytes <= b->size(); ++at) {
                        if (get(*b, at, bytes, big) != a || get(*b, at + bytes, bytes, big) != c) continue;
                        put(b, at, HUGE_SIDE - minusOne, bytes, big);
                        put(b, at + bytes, HUGE_SIDE - minusOne, bytes, big);
                        ++places;
                    }
                }
            }
        }
    }
    return places;
}

struct Cost {
    Status status = ST_OK;
    long extraKb = 0;       // peak resident memory the load added
    int64_t pixels = 0;     // of the picture kept (damaged files accepted)
    double seconds = 0;     // reported, not judged: timings belong to the benchmark
};

// Loads in a child process, so that its peak memory is the load's own.
Cost measureLoad(const std::string& path, int formatIndex) {
    Cost cost;
    int fds[2];
    if (pipe(fds) != 0) return cost;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(formatIndex);
        o.flags = OPT_ACCEPT_DAMAGED;
        Image img{};
        Cost c;
        const auto start = std::chrono::steady_clock::now();
        c.status = loadImage(path.c_str(), &img, &o, nullptr);
        c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        getrusage(RUSAGE_SELF, &after);
        c.extraKb = after.ru_maxrss - before.ru_maxrss;
        c.pixels = img.pixels ? int64_t(img.width) * img.height : 0;
        if (write(fds[1], &c, sizeof c) != sizeof c) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    if (pid < 0 || read(fds[0], &cost, sizeof cost) != sizeof cost) cost.status = ST_NO_MEMORY, cost.extraKb = -1;
    close(fds[0]);
    int ws = 0;
    if (pid > 0) waitpid(pid, &ws, 0);
    return cost;
}

}  // namespace

// Every seed file of the fuzz targets (our own writers' files and hand-made
// ones) with its sides rewritten: the table of hostile headers covers every
// reader that has seeds.
TEST(HostileHeaders, SmallFilesClaimingHugePicturesCostLittle) {
    const std::string seeds = std::string(KALEO_SOURCE_DIR) + "/fuzz/corpus";
    std::set<int> covered;
    int n = 0;
    double slowest = 0;
    std::string slowestName;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(seeds)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(readFile(file.string(), &bytes));
        OwnedImage seed;
        FileInfo info{};
        if (load(file.string(), &seed, 0, &info) != ST_OK) continue;
        if (claimHugeSides(&bytes, static_cast<uint32_t>(info.width), static_cast<uint32_t>(info.height)) == 0)
            continue;
        if (bytes.size() > SMALL_FILE) bytes.resize(SMALL_FILE);
        SCOPED_TRACE(file.filename().string());
        const std::string path = tempPath("hostile" + std::to_string(n++) + file.extension().string());
        ASSERT_TRUE(writeFile(path, bytes));
        for (int index : {static_cast<int>(info.formatIndex), -1}) {
            const Cost cost = measureLoad(path, index);
            ASSERT_GE(cost.extraKb, 0) << "the load did not finish";
            if (MEASURES_MEMORY) EXPECT_LT(cost.extraKb, MEMORY_ALLOWED_KB) << "status " << cost.status;
            // What is kept is what such a file can hold, never the claimed picture.
            EXPECT_LT(cost.pixels, int64_t(HUGE_SIDE) * HUGE_SIDE) << "status " << cost.status;
            if (cost.seconds > slowest) slowest = cost.seconds, slowestName = file.filename().string();
        }
        covered.insert(info.formatIndex);
    }
    printf("slowest hostile header: %.3f s (%s)\n", slowest, slowestName.c_str());
    // Every reader that has seeds took part (the raw fax has no sides to claim).
    std::set<int> withSeeds;
    for (const char* name : {"bmp", "gif", "jpeg", "png", "mng", "tiff", "pcx", "dcx", "tga", "sgi", "ras",
                             "iff", "pict", "psd", "psp", "jbig"})
        withSeeds.insert(findFormat(name));
    for (int index : withSeeds) EXPECT_TRUE(covered.count(index)) << formatRecord(index)->shortName;
}

// Text formats state their sides in words.
TEST(HostileHeaders, TextHeadersClaimingHugePicturesCostLittle) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"pnm", "P4\n15999 15999\n" + std::string(64, '\xAA')},
        {"pnm", "P5\n15999 15999\n255\n" + std::string(64, 'x')},
        {"pnm", "P6 15999 15999 65535\n" + std::string(64, 'x')},
        {"pnm", "P1\n15999 15999\n0 1 0 1 1 0\n"},
        {"xbm", "#define a_width 15999\n#define a_height 15999\nstatic char a_bits[] = {0x00, 0xFF};\n"},
        {"xpm", "/* XPM */\nstatic char *a[] = {\n\"15999 15999 2 1\",\n\"a c #000000\",\n\"b c #FFFFFF\",\n\"ab\"};\n"},
    };
    int n = 0;
    for (const auto& [format, text] : cases) {
        SCOPED_TRACE(text.substr(0, 24));
        const std::string path = tempPath("hostile_text" + std::to_string(n++));
        ASSERT_TRUE(writeFile(path, std::vector<uint8_t>(text.begin(), text.end())));
        const Cost cost = measureLoad(path, findFormat(format));
        ASSERT_GE(cost.extraKb, 0);
        EXPECT_NE(cost.status, ST_OK);
        if (MEASURES_MEMORY) EXPECT_LT(cost.extraKb, MEMORY_ALLOWED_KB);
        EXPECT_EQ(cost.pixels, 0);
    }
}

// A file that really holds its picture loads whatever its size; the pixel
// limit, set by the caller, refuses larger pictures as out of memory.
TEST(HostileHeaders, PixelLimitIsTheCallersAndRealPicturesLoad) {
    const int w = 3000, h = 2000;
    std::string text = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.resize(bytes.size() + size_t(w) * h, 0x55);
    const std::string path = tempPath("limit.pgm");
    ASSERT_TRUE(writeFile(path, bytes));

    EXPECT_EQ(pixelLimit(), DEFAULT_PIXEL_LIMIT);
    EXPECT_GE(DEFAULT_PIXEL_LIMIT, uint64_t(HUGE_SIDE) * HUGE_SIDE);
    OwnedImage img;
    ASSERT_EQ(load(path, &img), ST_OK);
    EXPECT_EQ(img.width, w);

    setPixelLimit(uint64_t(w) * h - 1);
    EXPECT_EQ(load(path, &img), ST_NO_MEMORY);
    EXPECT_EQ(img.pixels, nullptr);
    setPixelLimit(uint64_t(w) * h);
    EXPECT_EQ(load(path, &img), ST_OK);
    setPixelLimit(0);  // back to the default
    EXPECT_EQ(pixelLimit(), DEFAULT_PIXEL_LIMIT);

    // Cut to a tenth, the file is still a picture cut short: the rows it holds load.
    bytes.resize(bytes.size() / 10);
    ASSERT_TRUE(writeFile(path, bytes));
    EXPECT_EQ(load(path, &img), ST_READ_ERROR);
    ASSERT_EQ(load(path, &img, OPT_ACCEPT_DAMAGED), ST_OK);
    EXPECT_EQ(imageRow(&img, 0)[0], 0x55);
}

// A blank page scanned at 600 dpi is a few hundred bytes of fax coding and a
// real picture: the bound on small files leaves room for it. In Group 4 a
// blank line is one vertical code (a single 1 bit) under the blank line above.
TEST(HostileHeaders, BlankScannedPageInFaxCodingLoads) {
    const uint32_t w = 4960, h = 7016, dataAt = 8 + 2 + 8 * 12 + 4;
    const uint32_t dataBytes = (h + 7) / 8;
    std::vector<uint8_t> b(dataAt + dataBytes, 0xFF);
    auto u16 = [&](size_t at, uint32_t v) { b[at] = uint8_t(v); b[at + 1] = uint8_t(v >> 8); };
    auto u32 = [&](size_t at, uint32_t v) { u16(at, v & 0xFFFF); u16(at + 2, v >> 16); };
    b[0] = b[1] = 'I';
    u16(2, 42);
    u32(4, 8);
    u16(8, 8);
    const uint32_t tags[8][3] = {{256, 4, w}, {257, 4, h}, {258, 3, 1}, {259, 3, 4},
                                 {262, 3, 0}, {273, 4, dataAt}, {278, 4, h}, {279, 4, dataBytes}};
    for (int i = 0; i < 8; ++i) {
        const size_t at = 10 + 12 * i;
        u16(at, tags[i][0]);
        u16(at + 2, tags[i][1]);
        u32(at + 4, 1);
        u32(at + 8, tags[i][2]);
    }
    u32(10 + 12 * 8, 0);
    EXPECT_LT(b.size(), SMALL_FILE);
    OwnedImage img;
    ASSERT_EQ(loadBytesAs("tiff", b, &img), ST_OK);
    EXPECT_EQ(img.width, int32_t(w));
    EXPECT_EQ(img.height, int32_t(h));
    EXPECT_EQ(imageRow(&img, int32_t(h) - 1)[w - 1], 1);  // white
}
