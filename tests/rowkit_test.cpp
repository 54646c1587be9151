// The row helpers codecs share (feeding decoded bytes, reading straight rows,
// writing padded rows), and the one answer writers give to "does the saved
// picture carry alpha", checked by reading the files back and by a peer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "context.h"
#include "rowkit.h"
#include "testpictures.h"
#include "testutil.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<Bytes>;

constexpr int W = 4;
constexpr int H = 3;

RasterHeader byteRaster(uint16_t orientation) {
    RasterHeader h{};
    h.layout = PL_BYTE_PIXELS;
    h.orientation = orientation;
    h.channels = 1;
    h.width = W;
    h.height = H;
    h.planes = 1;
    h.bitsPerPlane = 8;
    h.bytesPerPlane = W;
    snprintf(h.name, sizeof h.name, "Rows");
    return h;
}

Rows imageRows(const Image& img) {
    Rows rows;
    for (int y = 0; y < img.height; ++y) rows.emplace_back(imageRow(&img, y), imageRow(&img, y) + img.width);
    return rows;
}

int stopAtSecondRow(int32_t row, int32_t, void*) { return row >= 1; }

// Runs decode between beginImage and endImage on a W x H grey raster.
template <class Decode>
Status decodeGrey(Image* img, Decode decode, uint16_t orientation = 0, ProgressCallback progress = nullptr) {
    IoOptions o = defaultIoOptions();
    o.progressCallback = progress;
    IoScope scope(img, &o, nullptr, "rows", false);
    RasterHeader h = byteRaster(orientation);
    Status st = beginImage(&h);
    if (st != ST_OK) return st;
    st = decode();
    endImage(0, 8, nullptr);
    return st;
}

// ---- RowFeed ------------------------------------------------------------------------

struct FeedStep {
    enum Kind { Put, Repeat, Cut } kind;
    Bytes bytes;      // Put: the bytes; Repeat: {value, count}
    Status why = ST_READ_ERROR;
};

TEST(RowFeed, DeliversRowsAsTheyFill) {
    struct Case {
        const char* name;
        uint16_t orientation;
        std::vector<FeedStep> steps;
        Status want;
        Rows image;   // top row first
    };
    const std::vector<Case> cases = {
        {"a run carries on into the next rows", 0,
         {{FeedStep::Repeat, {7, 6}}, {FeedStep::Put, {1, 2, 3, 4, 5, 6}}},
         ST_OK, {{7, 7, 7, 7}, {7, 7, 1, 2}, {3, 4, 5, 6}}},
        {"bytes past the last row are dropped", 0,
         {{FeedStep::Put, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}}, {FeedStep::Repeat, {9, 200}}},
         ST_OK, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}},
        {"a cut keeps the row begun, the rest zero", 0,
         {{FeedStep::Put, {1, 2, 3, 4, 5}}, {FeedStep::Cut, {}}},
         ST_READ_ERROR, {{1, 2, 3, 4}, {5, 0, 0, 0}, {0, 0, 0, 0}}},
        {"a cut between rows delivers nothing more", 0,
         {{FeedStep::Repeat, {3, 4}}, {FeedStep::Cut, {}, ST_CORRUPT}},
         ST_CORRUPT, {{3, 3, 3, 3}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
        {"bottom-up rows: the first one fed is the bottom", OR_BOTTOM_UP,
         {{FeedStep::Put, {1, 1, 1, 1, 2, 2, 2, 2, 3, 3}}, {FeedStep::Cut, {}}},
         ST_READ_ERROR, {{3, 3, 0, 0}, {2, 2, 2, 2}, {1, 1, 1, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        Status st = decodeGrey(&img, [&] {
            RowFeed feed;
            Status s = feed.begin(W, H);
            for (const FeedStep& step : c.steps) {
                if (s != ST_OK) break;
                if (step.kind == FeedStep::Put) s = feed.put(step.bytes.data(), static_cast<int64_t>(step.bytes.size()));
                else if (step.kind == FeedStep::Repeat) s = feed.repeat(step.bytes[0], step.bytes[1]);
                else s = feed.cut(step.why);
            }
            return s;
        }, c.orientation);
        EXPECT_EQ(st, c.want);
        EXPECT_EQ(imageRows(img), c.image);
    }
}

TEST(RowFeed, StraightReadsThroughSpaceAndAdvance) {
    // 10 bytes read 3 at a time: the rows fill across the reads, the short end is cut.
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    OwnedImage img;
    Status st = decodeGrey(&img, [&] {
        RowFeed feed;
        Status s = feed.begin(W, H);
        size_t at = 0;
        while (s == ST_OK && !feed.done()) {
            int64_t room = 0;
            uint8_t* dst = feed.space(&room);
            const size_t got = std::min<size_t>({3, static_cast<size_t>(room), data.size() - at});
            memcpy(dst, data.data() + at, got);
            at += got;
            s = feed.advance(static_cast<int64_t>(got));
            if (s == ST_OK && got == 0) return feed.cut();
        }
        return s;
    });
    EXPECT_EQ(st, ST_READ_ERROR);
    EXPECT_EQ(imageRows(img), (Rows{{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 0, 0}}));
}

TEST(RowFeed, StopFromTheProgressCallbackEndsTheFeed) {
    OwnedImage img;
    Status st = decodeGrey(&img, [&] {
        RowFeed feed;
        Status s = feed.begin(W, H);
        return s == ST_OK ? feed.repeat(5, W * H) : s;
    }, 0, stopAtSecondRow);
    EXPECT_EQ(st, ST_STOPPED);
    EXPECT_EQ(imageRows(img)[2], (Bytes{0, 0, 0, 0}));
}

// ---- readRows -----------------------------------------------------------------------

void invertRow(const void*, const uint8_t* stored, uint8_t* out) {
    for (int x = 0; x < W; ++x) out[x] = static_cast<uint8_t>(255 - stored[x]);
}

TEST(ReadRows, StoredRowsWithPaddingFiltersAndTruncation) {
    struct Case {
        const char* name;
        int64_t rowBytes;
        Bytes file;
        RowFilter filter;
        Status want;
        Rows image;
    };
    const std::vector<Case> cases = {
        {"padding is dropped", 6, {1, 2, 3, 4, 0xEE, 0xEE, 5, 6, 7, 8, 0xEE, 0xEE, 9, 10, 11, 12, 0xEE, 0xEE},
         nullptr, ST_OK, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}},
        {"a filter makes the delivered row", 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, invertRow, ST_OK,
         {{255, 254, 253, 252}, {251, 250, 249, 248}, {247, 246, 245, 244}}},
        {"a short row is a read error, whole rows kept", 6, {1, 2, 3, 4, 0, 0, 5, 6, 7}, nullptr, ST_READ_ERROR,
         {{1, 2, 3, 4}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = testutil::tempPath("rows.bin");
        ASSERT_TRUE(testutil::writeFile(path, c.file));
        FILE* f = fopen(path.c_str(), "rb");
        ASSERT_NE(f, nullptr);
        OwnedImage img;
        Status st = decodeGrey(&img, [&] { return readRows(f, c.rowBytes, H, -1, c.filter, nullptr); });
        fclose(f);
        EXPECT_EQ(st, c.want);
        EXPECT_EQ(imageRows(img), c.image);
    }
}

// ---- writeRows ----------------------------------------------------------------------

// Each row written as its length byte and its bytes reversed.
Status reverseRow(void* data, FILE* f, uint8_t* row, int64_t rowBytes) {
    ++*static_cast<int*>(data);
    Bytes out(1, static_cast<uint8_t>(rowBytes));
    for (int64_t i = rowBytes; i-- > 0;) out.push_back(row[i]);
    return writeBlock(f, out.data(), out.size()) ? ST_OK : ST_WRITE_ERROR;
}

// Encodes a 4 x 3 grey picture (rows 10.., 20.., 30..) through writeRows.
Status encodeGrey(const std::string& path, uint16_t orientation, int64_t rowBytes, RowEncoder encode, void* data) {
    OwnedImage img;
    if (!createImage(&img, IMG_GREY, 1, W, H)) return ST_NO_MEMORY;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) imageRow(&img, y)[x] = static_cast<uint8_t>(10 * (y + 1) + x);
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return ST_CANNOT_OPEN;
    setvbuf(f, nullptr, _IONBF, 0);
    IoOptions o = defaultIoOptions();
    IoScope scope(&img, &o, nullptr, path.c_str(), false);
    WriteHeader wh{};
    wh.orientation = orientation;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = W;
    wh.layout = PL_BYTE_PIXELS;
    Status st = beginWrite(&wh);
    if (st == ST_OK) st = writeRows(f, rowBytes, H, encode, data);
    endWrite();
    fclose(f);
    return st;
}

TEST(WriteRows, PaddedRowsInFileOrderPlainOrEncoded) {
    struct Case {
        const char* name;
        uint16_t orientation;
        int64_t rowBytes;
        bool encode;
        Bytes file;
    };
    const std::vector<Case> cases = {
        {"padding is zero", 0, 6, false, {10, 11, 12, 13, 0, 0, 20, 21, 22, 23, 0, 0, 30, 31, 32, 33, 0, 0}},
        {"bottom-up rows start with the bottom one", OR_BOTTOM_UP, 4, false,
         {30, 31, 32, 33, 20, 21, 22, 23, 10, 11, 12, 13}},
        {"the encoder gets every padded row", 0, 5, true,
         {5, 0, 13, 12, 11, 10, 5, 0, 23, 22, 21, 20, 5, 0, 33, 32, 31, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = testutil::tempPath("rows.out");
        int calls = 0;
        ASSERT_EQ(encodeGrey(path, c.orientation, c.rowBytes, c.encode ? reverseRow : nullptr, &calls), ST_OK);
        Bytes file;
        ASSERT_TRUE(testutil::readFile(path, &file));
        EXPECT_EQ(file, c.file);
        EXPECT_EQ(calls, c.encode ? H : 0);
    }
}

TEST(WriteRows, AFullDiskIsAWriteError) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    int calls = 0;
    EXPECT_EQ(encodeGrey("/dev/full", 0, W, nullptr, nullptr), ST_WRITE_ERROR);
    EXPECT_EQ(encodeGrey("/dev/full", 0, W, reverseRow, &calls), ST_WRITE_ERROR);
    EXPECT_EQ(calls, 1);  // the first failure ends the rows
}

// ---- Alpha --------------------------------------------------------------------------

// The peer's view of a file's channels ("srgb", "srgba", ...), empty without it.
std::string peerChannels(const std::string& path) {
    if (!testutil::haveProgram("convert-im6.q16")) return "";
    std::string out = testutil::tempPath("channels.txt");
    if (testutil::run("convert-im6.q16 '" + path + "' -format '%[channels]' info: > '" + out + "' 2>/dev/null") != 0)
        return "";
    Bytes text;
    testutil::readFile(out, &text);
    return std::string(text.begin(), text.end());
}

TEST(SavedAlpha, WritersStoreAlphaOnlyWhenThePictureHasSome) {
    struct Writer {
        const char* shortName;
        int opaqueDepth;   // planes x bits of the file for an opaque 32-bit picture
        int alphaDepth;
    };
    // The bitmap writer keeps 32 bits and passes the fourth byte on as it stands.
    const std::vector<Writer> writers = {
        {"png", 24, 32}, {"tiff", 24, 32}, {"sgi", 24, 32}, {"tga", 24, 32}, {"bmp", 32, 32},
    };
    struct Picture {
        const char* name;
        uint16_t kind;
        bool alpha;
    };
    const std::vector<Picture> pictures = {
        {"opaque rgb32", IMG_RGB32, false}, {"opaque bgr32", IMG_BGR32, false},
        {"rgb32 with alpha", IMG_RGB32, true}, {"bgr32 with alpha", IMG_BGR32, true},
    };
    for (const Writer& w : writers) {
        for (const Picture& p : pictures) {
            SCOPED_TRACE(std::string(w.shortName) + ": " + p.name);
            OwnedImage img;
            // The fourth byte: 0 everywhere, or a ramp with one pixel at 0.
            const int alphaByte = p.kind == IMG_BGR32 ? 0 : 3;
            ASSERT_TRUE(testpictures::makePicture(&img, p.kind, 5, 4, [&](int x, int y, int c) -> uint8_t {
                if (c != alphaByte) return testpictures::patternByte(x, y, c);
                return p.alpha ? static_cast<uint8_t>(40 * (x + y)) : 0;
            }));
            img.orientation = 0;
            std::string path = testutil::tempPath(std::string("alpha.") + w.shortName);
            char name[FILE_NAME_LEN];
            snprintf(name, sizeof name, "%s", path.c_str());
            IoOptions o = defaultIoOptions();
            o.formatIndex = static_cast<int16_t>(findFormat(w.shortName));
            ASSERT_EQ(saveImage(name, &img, &o), ST_OK);

            OwnedImage back;
            FileInfo info{};
            ASSERT_EQ(testutil::load(path, &back, 0, &info), ST_OK);
            EXPECT_EQ(info.planes * info.bitsPerPlane, p.alpha ? w.alphaDepth : w.opaqueDepth);
            EXPECT_EQ(imageHasAlpha(&back), p.alpha);
            if (p.alpha) {
                ASSERT_TRUE(back.kind & IMG_32BIT);
                const int backAlpha = back.kind == IMG_BGR32 ? 0 : 3;
                EXPECT_EQ(testpictures::pixelOf(back, 3, 2)[backAlpha], 200);
            }
            const std::string peer = peerChannels(path);
            if (!peer.empty()) EXPECT_EQ(peer.find('a') != std::string::npos, p.alpha) << peer;
        }
    }
}

}  // namespace
