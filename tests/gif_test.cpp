// GIF: the LZW coder against hand-assembled code streams, the reader against
// files written by ImageMagick and netpbm (every page, interlaced or not) and
// hand-built damaged files, the writer through ImageMagick and netpbm.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"
#include "lzw.h"
#include "testutil.h"

using namespace testutil;

namespace {

const char IM[] = "convert-im6.q16";
const char MSG_BAD_SIZE[] = "GIF : Bad picture's size !";
const char MSG_BAD_CODE_SIZE[] = "GIF : Bad code's size !";

int gifIndex() {
    static int index = findFormat("gif");
    return index;
}

// ---- hand-built files ----------------------------------------------------------

// Codes of the given widths packed least significant bit first.
std::vector<uint8_t> packCodes(const std::vector<std::pair<int, int>>& codes) {
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int bits = 0;
    for (const auto& [code, width] : codes) {
        acc |= static_cast<uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(acc & 0xFF);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) out.push_back(acc & 0xFF);
    return out;
}

// Data cut into sub-blocks of at most `size` bytes, with or without the terminator.
std::vector<uint8_t> subBlocks(const std::vector<uint8_t>& data, size_t size = 255, bool terminate = true) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < data.size(); i += size) {
        size_t n = std::min(size, data.size() - i);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + i, data.begin() + i + n);
    }
    if (terminate) out.push_back(0);
    return out;
}

void put16(std::vector<uint8_t>* v, int x) {
    v->push_back(x & 0xFF);
    v->push_back((x >> 8) & 0xFF);
}

// A file header with a global table of 2^bits entries (none when table is empty).
std::vector<uint8_t> gifHeader(int bits, const std::vector<uint8_t>& table, const char* version = "89a") {
    std::vector<uint8_t> f = {'G', 'I', 'F', uint8_t(version[0]), uint8_t(version[1]), uint8_t(version[2])};
    put16(&f, 10);
    put16(&f, 10);
    f.push_back(static_cast<uint8_t>((table.empty() ? 0 : 0x80) | (bits - 1)));
    f.push_back(0);
    f.push_back(0);
    f.insert(f.end(), table.begin(), table.end());
    return f;
}

// An image block: descriptor, optional local table, code size, data as given.
std::vector<uint8_t> gifImage(int w, int h, int minCode, const std::vector<uint8_t>& data, bool interlaced = false,
                              const std::vector<uint8_t>& local = {}, int localBits = 0) {
    std::vector<uint8_t> f = {0x2C, 0, 0, 0, 0};
    put16(&f, w);
    put16(&f, h);
    uint8_t packed = interlaced ? 0x40 : 0;
    if (!local.empty()) packed |= 0x80 | (localBits - 1);
    f.push_back(packed);
    f.insert(f.end(), local.begin(), local.end());
    f.push_back(static_cast<uint8_t>(minCode));
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// n entries: entry i is (i * 10, 255 - i, i * 3 + 1).
std::vector<uint8_t> tableOf(int n) {
    std::vector<uint8_t> t;
    for (int i = 0; i < n; ++i) t.insert(t.end(), {uint8_t(i * 10), uint8_t(255 - i), uint8_t(i * 3 + 1)});
    return t;
}

Status loadGif(const std::vector<uint8_t>& bytes, Image* img, int page = 0, uint16_t flags = 0,
               FileInfo* info = nullptr) {
    static int counter = 0;
    freeImage(img);  // the loader starts from an empty record
    std::string path = tempPath("hand" + std::to_string(counter++) + ".gif");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(gifIndex());
    o.pageIndex = page;
    o.flags = flags;
    return loadImage(path.c_str(), img, &o, info);
}

std::vector<uint8_t> row(const Image& img, int y) {
    const uint8_t* r = imageRow(&img, y);
    return std::vector<uint8_t>(r, r + img.width);
}

// ---- the LZW decoder on its own ---------------------------------------------------

struct CodeCase {
    const char* name;
    int minCode, width, height;
    std::vector<std::pair<int, int>> codes;  // (code, bits)
    LzwEnd end;
    std::vector<uint8_t> pixels;  // the rows handed over, in order (a partial row padded with 0)
};

struct Collected {
    std::vector<uint8_t> pixels;
    std::vector<int32_t> targets;
};

Status collect(void* datum, const uint8_t* r, int32_t target) {
    Collected* c = static_cast<Collected*>(datum);
    c->targets.push_back(target);
    c->pixels.insert(c->pixels.end(), r, r + 3);  // rows of width 3 in these cases
    return ST_OK;
}

TEST(LzwDecoder, CodeStreams) {
    // min 2: clear 4, end 5, first free 6; codes start at 3 bits.
    const std::vector<CodeCase> cases = {
        {"literals", 2, 3, 1, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}, LzwEnd::Complete, {1, 2, 3}},
        {"code equal to the next free one", 2, 3, 1, {{4, 3}, {1, 3}, {6, 3}, {5, 3}}, LzwEnd::Complete, {1, 1, 1}},
        // 2 adds nothing, 3 adds 6 = "2 3", 6 adds 7: from here codes have 4 bits.
        {"string of the dictionary", 2, 3, 2, {{4, 3}, {2, 3}, {3, 3}, {6, 3}, {2, 4}, {1, 4}}, LzwEnd::Complete,
         {2, 3, 2, 3, 2, 1}},
        {"code above the next free one", 2, 3, 1, {{4, 3}, {1, 3}, {7, 3}}, LzwEnd::BadCode, {1, 0, 0}},
        // Without a clear code the first code already adds an entry (after the literal 0).
        {"no clear code first", 2, 3, 1, {{2, 3}, {3, 3}, {1, 4}}, LzwEnd::Complete, {2, 3, 1}},
        {"clear codes repeated", 2, 3, 1, {{4, 3}, {4, 3}, {4, 3}, {2, 3}, {2, 3}, {2, 3}, {5, 3}},
         LzwEnd::Complete, {2, 2, 2}},
        {"code after a clear beyond the literals", 2, 3, 1, {{4, 3}, {7, 3}, {1, 3}, {1, 3}, {5, 3}},
         LzwEnd::Complete, {0, 1, 1}},
        // 0 adds nothing, 1 adds 6, 2 adds 7: the next code is read with 4 bits.
        {"width grows when the table reaches 8", 2, 3, 2, {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {8, 4}, {5, 4}},
         LzwEnd::Complete, {0, 1, 2, 3, 2, 3}},
        {"a clear code resets the width", 2, 3, 2,
         {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {4, 4}, {3, 3}, {3, 3}, {3, 3}, {1, 3}, {1, 3}, {5, 3}}, LzwEnd::Complete,
         {0, 1, 2, 3, 3, 3}},
        {"end code before the last row", 2, 3, 2, {{4, 3}, {1, 3}, {5, 3}}, LzwEnd::EndOfData, {1, 0, 0}},
        {"rows complete before the end code", 2, 3, 1, {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 3}}, LzwEnd::Complete,
         {1, 1, 1}},
        {"min 8", 8, 3, 1, {{256, 9}, {200, 9}, {255, 9}, {258, 9}, {257, 9}}, LzwEnd::Complete, {200, 255, 200}},
    };
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> data = subBlocks(packCodes(c.codes));
        data.push_back(0x3B);  // what follows the image
        MemoryCursor in(data.data(), data.size());
        uint8_t rowBuf[8] = {};
        Collected got;
        LzwOutcome outcome;
        ASSERT_EQ(lzwDecode(&in, LzwImage{c.minCode, c.width, c.height, false}, rowBuf, collect, &got, &outcome),
                  ST_OK);
        EXPECT_EQ(outcome.end, c.end);
        EXPECT_EQ(got.pixels, c.pixels);
        EXPECT_EQ(outcome.rows, static_cast<int32_t>(c.pixels.size() / 3));
        // The cursor stands after the terminator, whatever the data held after the last row.
        EXPECT_EQ(in.next(), 0x3B);
    }
}

TEST(LzwDecoder, InputEndsInsideTheData) {
    // 3 + 3 + 3 + 3 + 4 + 4 bits: the last code sits in the third byte, which is missing.
    std::vector<uint8_t> data = subBlocks(packCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {1, 4}, {1, 4}}), 255, false);
    data.pop_back();
    MemoryCursor in(data.data(), data.size());
    uint8_t rowBuf[3];
    Collected got;
    LzwOutcome outcome;
    ASSERT_EQ(lzwDecode(&in, LzwImage{2, 3, 2, false}, rowBuf, collect, &got, &outcome), ST_OK);
    EXPECT_EQ(outcome.end, LzwEnd::EndOfInput);
    EXPECT_EQ(got.pixels, (std::vector<uint8_t>{1, 2, 3, 1, 0, 0}));
}

TEST(LzwDecoder, InterlacedRowsFollowThePasses) {
    for (int32_t h = 1; h <= 70; ++h) {
        std::vector<int32_t> expected;
        for (int32_t y = 0; y < h; y += 8) expected.push_back(y);
        for (int32_t y = 4; y < h; y += 8) expected.push_back(y);
        for (int32_t y = 2; y < h; y += 4) expected.push_back(y);
        for (int32_t y = 1; y < h; y += 2) expected.push_back(y);
        std::vector<int32_t> got;
        for (int32_t i = 0; i < h; ++i) got.push_back(lzwInterlacedRow(i, h));
        EXPECT_EQ(got, expected) << "height " << h;
    }
    EXPECT_EQ(lzwInterlacedRow(3, 5), 1);
}

// ---- the encoder through the decoder ------------------------------------------------

class VectorSink final : public ByteSink {
public:
    bool write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<uint8_t> bytes;
};

Status gather(void* datum, const uint8_t* r, int32_t target) {
    auto* rows = static_cast<std::vector<std::vector<uint8_t>>*>(datum);
    (*rows)[target].assign(r, r + (*rows)[target].size());
    return ST_OK;
}

struct EncodeCase {
    const char* name;
    int width, height;
    uint8_t (*pixel)(int x, int y);
};

TEST(LzwEncoder, DecodesToItsInput) {
    const std::vector<EncodeCase> cases = {
        {"one pixel", 1, 1, [](int, int) { return uint8_t(7); }},
        {"one colour", 300, 40, [](int, int) { return uint8_t(0); }},
        {"runs", 97, 31, [](int x, int y) { return uint8_t((x / 5 + y) % 4); }},
        // Far more than 3838 strings: the dictionary fills and starts again several times.
        {"noise", 257, 199, [](int x, int y) { return uint8_t((x * 2654435761u + y * 40503u) >> 13); }},
        {"all 256 values", 256, 3, [](int x, int) { return uint8_t(x); }},
    };
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> pixels;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) pixels.push_back(c.pixel(x, y));
        VectorSink sink;
        LzwEncoder enc(&sink);
        ASSERT_EQ(enc.begin(), ST_OK);
        // Fed in uneven pieces: strings run across the pieces.
        for (size_t i = 0; i < pixels.size(); i += 77)
            ASSERT_EQ(enc.add(pixels.data() + i, std::min<size_t>(77, pixels.size() - i)), ST_OK);
        ASSERT_EQ(enc.finish(), ST_OK);

        ASSERT_GE(sink.bytes.size(), 3u);
        EXPECT_EQ(sink.bytes[0], 8);  // code size byte
        EXPECT_EQ(sink.bytes.back(), 0);
        // Sub-blocks of at most 254 bytes; the first code is a clear code (256 in 9 bits).
        size_t pos = 1;
        while (sink.bytes[pos] != 0) {
            EXPECT_LE(sink.bytes[pos], 254);
            pos += 1 + sink.bytes[pos];
            ASSERT_LT(pos, sink.bytes.size());
        }
        EXPECT_EQ(pos, sink.bytes.size() - 1);
        EXPECT_EQ(sink.bytes[2] | ((sink.bytes[3] & 1) << 8), 256);

        std::vector<std::vector<uint8_t>> rows(c.height, std::vector<uint8_t>(c.width, 0xEE));
        MemoryCursor in(sink.bytes.data() + 1, sink.bytes.size() - 1);
        std::vector<uint8_t> rowBuf(c.width);
        LzwOutcome outcome;
        ASSERT_EQ(lzwDecode(&in, LzwImage{8, c.width, c.height, false}, rowBuf.data(), gather, &rows, &outcome),
                  ST_OK);
        EXPECT_EQ(outcome.end, LzwEnd::Complete);
        for (int y = 0; y < c.height; ++y)
            EXPECT_EQ(rows[y], std::vector<uint8_t>(pixels.begin() + y * c.width, pixels.begin() + (y + 1) * c.width))
                << "row " << y;
        EXPECT_EQ(in.next(), -1);
    }
}

// ---- the reader on hand-built files -----------------------------------------------

TEST(GifReader, BlocksPagesAndTables) {
    const std::vector<uint8_t> data3x1 = subBlocks(packCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}));
    const std::vector<uint8_t> g = tableOf(4);
    const std::vector<uint8_t> local = tableOf(16);
    std::vector<uint8_t> local4(local.begin() + 3 * 10, local.begin() + 3 * 14);  // entries 10..13 of tableOf(16)

    // Every extension label's sub-blocks are skipped, even those holding block bytes.
    std::vector<uint8_t> plainText = {0x21, 0x01, 4, 0x2C, 0x3B, 0x2C, 0x21, 0};
    std::vector<uint8_t> graphic = {0x21, 0xF9, 4, 1, 0, 0, 2, 0};
    std::vector<uint8_t> comment = {0x21, 0xFE, 3, 'a', ',', ';', 0};
    std::vector<uint8_t> application = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                                        3, 1, 0, 0, 0};
    std::vector<uint8_t> withExtensions =
        concat({gifHeader(2, g), graphic, comment, application, plainText, gifImage(3, 1, 2, data3x1), {0x3B}});
    OwnedImage img;
    FileInfo info{};
    ASSERT_EQ(loadGif(withExtensions, &img, 0, 0, &info), ST_OK);
    EXPECT_EQ(info.pageCount, 1);
    EXPECT_EQ(row(img, 0), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_STREQ(info.formatName, "Compuserve GIF (Version GIF 89a)");
    EXPECT_EQ(img.kind, IMG_PALETTE);
    EXPECT_EQ(img.palette[3], 30);  // entry 3 of the global table
    EXPECT_EQ(img.colours, 4);

    // Data after the last row (end code, stray block bytes) do not end the file.
    std::vector<uint8_t> extra = packCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}});
    extra.insert(extra.end(), {0x3B, 0x2C, 0x21, 0x3B});
    std::vector<uint8_t> three = concat({gifHeader(2, g), gifImage(3, 1, 2, subBlocks(extra)),
                                         gifImage(3, 1, 2, data3x1, false, local4, 2), gifImage(3, 1, 2, data3x1),
                                         {0x3B}});
    for (int page = 0; page < 3; ++page) {
        SCOPED_TRACE(page);
        ASSERT_EQ(loadGif(three, &img, page, 0, &info), ST_OK);
        EXPECT_EQ(info.pageCount, 3);
        EXPECT_EQ(row(img, 0), (std::vector<uint8_t>{1, 2, 3}));
        // The middle page has its own table; the last takes the global table again.
        EXPECT_EQ(img.palette[1], page == 1 ? 110 : 10);
    }
    // Pages past the last, and files without images.
    EXPECT_EQ(loadGif(three, &img, 3, 0, &info), ST_READ_ERROR);
    EXPECT_EQ(info.pageCount, 3);
    EXPECT_EQ(img.pixels, nullptr);
    EXPECT_EQ(loadGif(concat({gifHeader(2, g), {0x3B}}), &img, 0, 0, &info), ST_READ_ERROR);
    EXPECT_EQ(info.pageCount, 0);
    EXPECT_EQ(loadGif(concat({gifHeader(2, g), graphic}), &img), ST_READ_ERROR);

    // Examination counts every page without decoding any.
    std::string path = tempPath("three.gif");
    ASSERT_TRUE(writeFile(path, three));
    EXPECT_EQ(readImageInfo(path.c_str(), gifIndex(), 0, &info), ST_OK);
    EXPECT_EQ(info.pageCount, 3);
    EXPECT_EQ(info.width, 3);

    // No colour table at all: the indices come out as grey levels.
    ASSERT_EQ(loadGif(concat({gifHeader(2, {}), gifImage(3, 1, 2, data3x1), {0x3B}}), &img), ST_OK);
    EXPECT_EQ(img.palette[1], 85);
    EXPECT_EQ(img.palette[512 + 3], 255);
}

struct DamageCase {
    const char* name;
    std::vector<uint8_t> file;
    Status status;
    const char* message;
    std::vector<std::vector<uint8_t>> rows;  // kept under OPT_ACCEPT_DAMAGED (empty: none)
};

TEST(GifReader, DamagedFiles) {
    const std::vector<uint8_t> g = tableOf(4);
    const auto codes = [](std::vector<std::pair<int, int>> c) { return packCodes(c); };
    std::vector<uint8_t> cut = concat({gifHeader(2, g), gifImage(3, 2, 2, subBlocks(codes({{4, 3}, {1, 3}, {2, 3},
                                                                                         {3, 3}, {1, 4}, {1, 4}})))});
    cut.resize(cut.size() - 2);  // the last data byte and the terminator are gone
    std::vector<uint8_t> shortTable = gifHeader(2, g);
    shortTable.resize(shortTable.size() - 2);
    const std::vector<DamageCase> cases = {
        {"cut inside the data", cut, ST_READ_ERROR, "", {{1, 2, 3}, {1, 0, 0}}},
        {"end code before the last row",
         concat({gifHeader(2, g), gifImage(3, 2, 2, subBlocks(codes({{4, 3}, {1, 3}, {5, 3}}))), {0x3B}}), ST_CORRUPT,
         "", {{1, 0, 0}, {0, 0, 0}}},
        {"terminator before the last row",
         concat({gifHeader(2, g), gifImage(3, 2, 2, subBlocks(codes({{4, 3}, {2, 3}, {2, 3}, {2, 3}, {2, 4}}))),
                 {0x3B}}),
         ST_CORRUPT, "", {{2, 2, 2}, {2, 0, 0}}},
        {"code above the next free one",
         concat({gifHeader(2, g), gifImage(3, 2, 2, subBlocks(codes({{4, 3}, {3, 3}, {7, 3}}))), {0x3B}}), ST_CORRUPT,
         "", {{3, 0, 0}, {0, 0, 0}}},
        {"cut inside the descriptor", concat({gifHeader(2, g), {0x2C, 0, 0, 0}}), ST_READ_ERROR, "", {}},
        {"cut inside the global table", shortTable, ST_READ_ERROR, "", {}},
        {"width 0", concat({gifHeader(2, g), gifImage(0, 2, 2, {0}), {0x3B}}), ST_BAD_FILE, MSG_BAD_SIZE, {}},
        {"height 16000", concat({gifHeader(2, g), gifImage(3, 16000, 2, {0}), {0x3B}}), ST_BAD_FILE, MSG_BAD_SIZE, {}},
        {"code size 1", concat({gifHeader(2, g), gifImage(3, 2, 1, {0}), {0x3B}}), ST_BAD_FILE, MSG_BAD_CODE_SIZE, {}},
        {"code size 10", concat({gifHeader(2, g), gifImage(3, 2, 10, {0}), {0x3B}}), ST_BAD_FILE, MSG_BAD_CODE_SIZE,
         {}},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        FileInfo info{};
        EXPECT_EQ(loadGif(c.file, &img, 0, 0, &info), c.status);
        EXPECT_STREQ(info.message, c.message);
        EXPECT_EQ(img.pixels, nullptr);
        Status damaged = loadGif(c.file, &img, 0, OPT_ACCEPT_DAMAGED);
        if (c.rows.empty()) {
            EXPECT_EQ(damaged, c.status);
            continue;
        }
        ASSERT_EQ(damaged, ST_OK);
        ASSERT_EQ(img.height, static_cast<int>(c.rows.size()));
        for (size_t y = 0; y < c.rows.size(); ++y) EXPECT_EQ(row(img, static_cast<int>(y)), c.rows[y]) << y;
    }
}

TEST(GifReader, SignatureChecks) {
    const std::vector<uint8_t> g = tableOf(2);
    const std::vector<uint8_t> data = subBlocks(packCodes({{4, 3}, {1, 3}, {5, 3}}));
    const std::vector<std::pair<std::string, Status>> cases = {
        {"87a", ST_OK}, {"89a", ST_OK}, {"12z", ST_OK}, {"8xa", ST_UNKNOWN_FORMAT}, {"x9a", ST_UNKNOWN_FORMAT},
    };
    for (const auto& [version, status] : cases) {
        SCOPED_TRACE(version);
        OwnedImage img;
        EXPECT_EQ(loadGif(concat({gifHeader(1, g, version.c_str()), gifImage(1, 1, 2, data), {0x3B}}), &img),
                  status);
    }
    OwnedImage img;
    EXPECT_EQ(loadGif({'G', 'I', 'F', '8', '9', 'a', 1, 0}, &img), ST_UNKNOWN_FORMAT);
    EXPECT_EQ(loadGif({'G', 'I', 'G', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, &img), ST_UNKNOWN_FORMAT);
}

int stopAtOnce(int32_t, int32_t, void*) { return 1; }

TEST(GifReader, ProgressCallbackStops) {
    std::vector<uint8_t> file = concat(
        {gifHeader(2, tableOf(4)),
         gifImage(3, 2, 2, subBlocks(packCodes({{4, 3}, {1, 3}, {2, 3}, {3, 3}, {1, 3}, {1, 3}, {1, 3}, {5, 3}}))),
         {0x3B}});
    std::string path = tempPath("stop.gif");
    ASSERT_TRUE(writeFile(path, file));
    IoOptions o = defaultIoOptions();
    o.progressCallback = stopAtOnce;
    OwnedImage img;
    EXPECT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_STOPPED);
    EXPECT_EQ(img.pixels, nullptr);
}

// ---- peers ------------------------------------------------------------------------

// A picture of at most `colours` distinct colours (2 gives black and white).
Rgb makeSource(int w, int h, int colours, int seed) {
    Rgb s;
    s.width = w;
    s.height = h;
    uint32_t noise = 12345u + static_cast<uint32_t>(seed) * 777u;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            int v = (x * 7 + y * 13 + seed * 5 + static_cast<int>((noise >> 16) % 9)) % colours;
            if (colours == 2) s.pixels.insert(s.pixels.end(), 3, v ? 255 : 0);
            else s.pixels.insert(s.pixels.end(), {uint8_t(v * 37 + seed), uint8_t(v * 5), uint8_t(255 - v)});
        }
    return s;
}

bool writePpm(const std::string& path, const Rgb& p) {
    std::string head = "P6\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    bytes.insert(bytes.end(), p.pixels.begin(), p.pixels.end());
    return writeFile(path, bytes);
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

struct PeerCase {
    const char* name;
    int colours;
    bool interlaced;
    const char* command;  // {src} {out}
};

TEST(GifReader, DecodesPeerFilesExactly) {
    const std::vector<PeerCase> cases = {
        {"im 256", 256, false, "convert-im6.q16 {src} {out}"},
        {"im 200 interlaced", 200, true, "convert-im6.q16 {src} -interlace GIF {out}"},
        {"im 16", 16, false, "convert-im6.q16 {src} {out}"},
        {"im 5", 5, false, "convert-im6.q16 {src} {out}"},
        {"im 2", 2, false, "convert-im6.q16 {src} {out}"},
        {"im 87a", 40, false, "convert-im6.q16 {src} GIF87:{out}"},
        {"netpbm 256", 256, false, "ppmtogif {src} > {out}"},
        {"netpbm 100 interlaced", 100, true, "ppmtogif -interlace {src} > {out}"},
        {"netpbm 3", 3, false, "pamtogif {src} > {out}"},
        {"netpbm 2 interlaced", 2, true, "pamtogif -interlace {src} > {out}"},
    };
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    int n = 0;
    for (const PeerCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string cmd = c.command;
        if (!haveProgram(cmd.substr(0, cmd.find(' ')))) continue;
        std::string src = tempPath("peer" + std::to_string(n) + ".ppm");
        std::string out = tempPath("peer" + std::to_string(n++) + ".gif");
        // Heights that leave every interlace pass a different length.
        Rgb source = makeSource(41, 29, c.colours, n);
        ASSERT_TRUE(writePpm(src, source));
        ASSERT_EQ(run(replaceAll(replaceAll(cmd, "{src}", src), "{out}", out) + " 2>/dev/null"), 0);
        OwnedImage img;
        FileInfo info{};
        ASSERT_EQ(load(out, &img, 0, &info), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(img), source), 0);
        EXPECT_EQ(std::string(info.formatName).find("Interlaced") != std::string::npos, c.interlaced);
        EXPECT_EQ(img.kind, c.colours == 2 ? IMG_BINARY : IMG_PALETTE);
    }
}

TEST(GifReader, EveryPageOfAnAnimation) {
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    // Pages of different sizes and colour counts: ImageMagick gives them local tables.
    const int sizes[4][3] = {{30, 20, 256}, {17, 9, 7}, {30, 20, 2}, {5, 31, 60}};
    std::vector<Rgb> pages;
    std::string list;
    for (int i = 0; i < 4; ++i) {
        pages.push_back(makeSource(sizes[i][0], sizes[i][1], sizes[i][2], 10 + i));
        std::string p = tempPath("page" + std::to_string(i) + ".ppm");
        ASSERT_TRUE(writePpm(p, pages.back()));
        list += " " + p;
    }
    for (const char* interlace : {"", " -interlace GIF"}) {
        SCOPED_TRACE(interlace);
        std::string out = tempPath("animation.gif");
        ASSERT_EQ(run(std::string(IM) + interlace + list + " " + out), 0);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            IoOptions o = defaultIoOptions();
            o.pageIndex = i;
            OwnedImage img;
            FileInfo info{};
            ASSERT_EQ(loadImage(out.c_str(), &img, &o, &info), ST_OK);
            EXPECT_EQ(info.pageCount, 4);
            EXPECT_EQ(compareRgb(toRgb(img), pages[i]), 0);
        }
    }
}

TEST(GifReader, InterlacedEqualsItsTwin) {
    // ImageMagick 6 stores the wrong rows in interlaced files of 3 and 4 rows
    // (giftopnm reads its files the same way we do): netpbm makes the interlaced twins.
    if (!haveProgram(IM) || !haveProgram("pamtogif")) GTEST_SKIP() << "ImageMagick or netpbm missing";
    for (int h : {1, 2, 3, 4, 5, 7, 8, 9, 12, 16, 17, 33}) {
        SCOPED_TRACE(h);
        std::string src = tempPath("twin.ppm"), plain = tempPath("twin.gif"), inter = tempPath("twin-i.gif");
        ASSERT_TRUE(writePpm(src, makeSource(13, h, 50, h)));
        ASSERT_EQ(run(std::string(IM) + " " + src + " " + plain + " && pamtogif -interlace " + src + " > " + inter +
                      " 2>/dev/null"),
                  0);
        OwnedImage a, b;
        ASSERT_EQ(load(plain, &a), ST_OK);
        ASSERT_EQ(load(inter, &b), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(a), toRgb(b)), 0);
    }
}

TEST(GifReader, SampleFilesMatchImageMagick) {
    std::string dir = std::string(KALEO_CORPUS_DIR) + "/gif";
    DIR* d = opendir(dir.c_str());
    if (!d) GTEST_SKIP() << "no sample folder " << dir;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        OwnedImage first;
        FileInfo info{};
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(gifIndex());
        ASSERT_EQ(loadImage(path.c_str(), &first, &o, &info), ST_OK);
        ASSERT_GE(info.pageCount, 1);
        for (int page = 0; page < info.pageCount; ++page) {
            SCOPED_TRACE(page);
            o.pageIndex = page;
            OwnedImage img;
            ASSERT_EQ(loadImage(path.c_str(), &img, &o, nullptr), ST_OK);
            // Each frame as it is stored, not composed on the screen.
            std::string ref = tempPath("sample.ppm");
            ASSERT_EQ(run(std::string(IM) + " 'gif:" + path + "[" + std::to_string(page) + "]' +repage -alpha off " +
                          "-depth 8 ppm:" + ref + " 2>/dev/null"),
                      0);
            Rgb peer;
            ASSERT_TRUE(readPnmReference(ref, &peer));
            EXPECT_EQ(compareRgb(toRgb(img), peer), 0);
        }
    }
}

// ---- writer ------------------------------------------------------------------------

struct WriteCase {
    const char* name;
    uint16_t kind;
    int colours;
    bool interlaced;
    int bits;  // of the file's table
};

bool makePicture(Image* img, const WriteCase& c, int w, int h) {
    if (!createImage(img, c.kind, 4, w, h)) return false;
    img->colours = c.colours;
    if (img->palette)
        for (int i = 0; i < 256; ++i)
            img->palette[i] = uint8_t(i * 3), img->palette[256 + i] = uint8_t(255 - i), img->palette[512 + i] = uint8_t(i * 11);
    uint32_t noise = 99;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            noise = noise * 1103515245u + 12345u;
            int v = y % 4 == 0 ? static_cast<int>(noise >> 16) : x / 6 + y;  // busy rows and runs
            imageRow(img, y)[x] = uint8_t(v % c.colours);
        }
    return true;
}

TEST(GifWriter, PeersReadOurFiles) {
    const std::vector<WriteCase> cases = {
        {"palette 256", IMG_PALETTE, 256, false, 8},
        {"palette 256 interlaced", IMG_PALETTE, 256, true, 8},
        {"palette 17", IMG_PALETTE, 17, false, 5},
        {"palette 4 interlaced", IMG_PALETTE, 4, true, 2},
        {"grey 256", IMG_GREY, 256, false, 8},
        {"grey 16", IMG_GREY, 16, true, 4},
        {"black and white", IMG_BINARY, 2, false, 1},
    };
    if (!haveProgram(IM)) GTEST_SKIP() << "ImageMagick missing";
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        OwnedImage img;
        // Large enough for the dictionary to fill and start again.
        ASSERT_TRUE(makePicture(&img, c, 203, 117));
        std::string out = tempPath("ours.gif");
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(gifIndex());
        o.writerOption3 = c.interlaced;
        ASSERT_EQ(saveImage(&out[0], &img, &o), ST_OK);

        std::vector<uint8_t> file;
        ASSERT_TRUE(readFile(out, &file));
        ASSERT_GT(file.size(), 13u + (3u << c.bits) + 11);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
        EXPECT_EQ(file[10], 0x80 | (c.bits - 1));
        EXPECT_EQ(file[12], 0);  // no aspect ratio
        const size_t desc = 13 + (3u << c.bits);
        EXPECT_EQ(file[desc], 0x2C);
        EXPECT_EQ(file[desc + 9], (c.interlaced ? 0x40 : 0) | (c.bits - 1));
        EXPECT_EQ(file[desc + 10], 8);  // code size byte, whatever the depth
        EXPECT_EQ(file.back(), 0x3B);

        Rgb expected = toRgb(img);
        for (const std::string& peer : {std::string(IM) + " 'gif:" + out + "' -depth 8 ppm:",
                                        std::string("giftopnm ") + out + " | ppmtoppm > "}) {
            if (!haveProgram(peer.substr(0, peer.find(' ')))) continue;
            SCOPED_TRACE(peer);
            std::string ref = tempPath("ours.ppm");
            ASSERT_EQ(run(peer + ref + " 2>/dev/null"), 0);
            Rgb got;
            ASSERT_TRUE(readPnmReference(ref, &got));
            EXPECT_EQ(compareRgb(got, expected), 0);
        }
        OwnedImage back;
        ASSERT_EQ(load(out, &back), ST_OK);
        EXPECT_EQ(compareRgb(toRgb(back), expected), 0);
    }
}

TEST(GifWriter, RefusesTrueColour) {
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 1, 4, 4));
    std::string out = tempPath("refused.gif");
    remove(out.c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(gifIndex());
    EXPECT_EQ(saveImage(&out[0], &img, &o), ST_KIND_REFUSED);
    FILE* f = fopen(out.c_str(), "rb");
    EXPECT_EQ(f, nullptr);
    if (f) fclose(f);
}

}  // namespace
