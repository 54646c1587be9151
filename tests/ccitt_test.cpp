// CCITT decoding and the raw Group 3 fax reader: hand-coded rows pin down each
// mode, the repair of rows of the wrong length, the end of a Group 4 block and
// early ends; raw fax pages written by netpbm's pbmtog3 decode as g3topbm
// decodes them, and the corpus pages load.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ccitt.h"
#include "kaleocore.h"
#include "testutil.h"

using namespace testutil;

namespace {

using Bytes = std::vector<uint8_t>;

// Code words written as text, most significant bit first.
const char EOL[] = "000000000001";
const char W0[] = "00110101", W1[] = "000111", W2[] = "0111", W3[] = "1000", W4[] = "1011", W8[] = "10011";
const char W16[] = "101010", W36[] = "00010101", W63[] = "00110100";
const char WM64[] = "11011", WM1664[] = "011000", WM1728[] = "010011011", CM2560[] = "000000011111";
const char B0[] = "0000110111", B1[] = "010", B2[] = "11", B3[] = "10", B4[] = "011", B8[] = "000101";
const char B5[] = "0011", B36[] = "000011010100", BM64[] = "0000001111", BM768[] = "0000001001100";
const char PASS[] = "0001", HORIZ[] = "001", V0[] = "1", VR1[] = "011", VL1[] = "010", VL3[] = "0000010";
const char EXT[] = "0000001";

struct BitWriter {
    Bytes bytes;
    int used = 8;
    BitWriter& put(const char* bits) {
        for (const char* p = bits; *p; ++p) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            if (*p == '1') bytes.back() |= static_cast<uint8_t>(0x80 >> used);
            ++used;
        }
        return *this;
    }
    // Zero bits up to the next byte boundary.
    BitWriter& align() {
        used = 8;
        return *this;
    }
};

// A decoded row (1 = white) as a string of 'W' and 'B'.
std::string pixels(const Bytes& row, int width) {
    std::string s;
    for (int x = 0; x < width; ++x) s += (row[x >> 3] & (0x80 >> (x & 7))) ? 'W' : 'B';
    return s;
}

std::string runs(std::initializer_list<std::pair<char, int>> parts) {
    std::string s;
    for (auto& p : parts) s.append(static_cast<size_t>(p.second), p.first);
    return s;
}

struct Decoded {
    std::vector<std::string> rows;
    std::vector<CcittRow> results;
};

Decoded decode(const Bytes& data, int width, CcittCoding coding, int rows) {
    CcittDecoder d;
    Decoded out;
    if (d.init(width, coding) != ST_OK) return out;
    d.beginStrip(data.data(), data.size());
    Bytes row((width + 7) / 8);
    for (int i = 0; i < rows; ++i) {
        CcittRow r = d.decodeRow(row.data());
        out.results.push_back(r);
        if (r == CcittRow::EndOfBlock) break;
        out.rows.push_back(pixels(row, width));
    }
    return out;
}

TEST(Ccitt, AllWhiteRowOf1728IsAllOnes) {
    BitWriter w;
    w.put(WM1728).put(W0);
    CcittDecoder d;
    ASSERT_EQ(d.init(1728, CcittCoding::ModifiedHuffman), ST_OK);
    d.beginStrip(w.bytes.data(), w.bytes.size());
    Bytes row(216, 0);
    EXPECT_EQ(d.decodeRow(row.data()), CcittRow::Ok);
    EXPECT_EQ(row, Bytes(216, 0xFF));
}

struct RowCase {
    const char* name;
    CcittCoding coding;
    int width;
    std::vector<const char*> codes;
    std::vector<std::string> rows;
    std::vector<CcittRow> results;
};

class CcittRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(CcittRows, Decode) {
    const RowCase& c = GetParam();
    BitWriter w;
    for (const char* code : c.codes) {
        if (strcmp(code, "|") == 0) w.align();
        else w.put(code);
    }
    Decoded d = decode(w.bytes, c.width, c.coding, static_cast<int>(c.results.size()));
    EXPECT_EQ(d.rows, c.rows);
    EXPECT_EQ(d.results, c.results);
}

const CcittRow OK = CcittRow::Ok;
const CcittRow REPAIRED = CcittRow::Repaired;
const CcittRow PREMATURE = CcittRow::Premature;
const CcittRow END = CcittRow::EndOfBlock;

INSTANTIATE_TEST_SUITE_P(
    Modes, CcittRows,
    ::testing::Values(
        // Modified Huffman rows start on byte boundaries.
        RowCase{"rleRows", CcittCoding::ModifiedHuffman, 12, {W3, B4, W2, B3, "|", W0, B8, W4},
                {runs({{'W', 3}, {'B', 4}, {'W', 2}, {'B', 3}}), runs({{'B', 8}, {'W', 4}})}, {OK, OK}},
        // Group 3: an EOL before every row; fill bits before it change nothing.
        RowCase{"group3", CcittCoding::Group3OneD, 8, {EOL, W2, B2, W4, "0000000", EOL, W8},
                {runs({{'W', 2}, {'B', 2}, {'W', 4}}), runs({{'W', 8}})}, {OK, OK}},
        // Runs of 2560 and more take several common make-up codes.
        RowCase{"longRuns", CcittCoding::ModifiedHuffman, 6004, {CM2560, CM2560, WM64, W16, BM768, B36},
                {runs({{'W', 5200}, {'B', 804}})}, {OK}},
        // A run passing the width is dropped and the row made up with white.
        RowCase{"overlongRow", CcittCoding::ModifiedHuffman, 10, {W4, B4, W1, BM64, B2},
                {runs({{'W', 4}, {'B', 4}, {'W', 2}})}, {REPAIRED}},
        // An EOL inside a row ends it; the rest is white.
        RowCase{"shortRow", CcittCoding::Group3OneD, 10, {EOL, W2, B3, EOL, W8, B2},
                {runs({{'W', 2}, {'B', 3}, {'W', 5}}), runs({{'W', 8}, {'B', 2}})}, {REPAIRED, OK}},
        // A code that means nothing: the row is made up, the next EOL resynchronises.
        RowCase{"badCode", CcittCoding::Group3OneD, 8, {EOL, W2, "0000000011", EOL, W8},
                {runs({{'W', 8}}), runs({{'W', 8}})}, {REPAIRED, OK}},
        // Group 4: the first row against white; horizontal and vertical modes.
        RowCase{"group4", CcittCoding::Group4, 8,
                {HORIZ, W0, B8, V0, V0, HORIZ, W2, B3, V0, VR1, VL1, V0, EOL, EOL},
                {runs({{'B', 8}}), runs({{'B', 8}}), runs({{'W', 2}, {'B', 3}, {'W', 3}}),
                 runs({{'W', 3}, {'B', 1}, {'W', 4}})},
                {OK, OK, OK, OK, END}},
        // Pass mode: a0 moves to b2 without a change of colour.
        RowCase{"pass", CcittCoding::Group4, 8, {HORIZ, W2, B2, V0, PASS, V0, EOL, EOL},
                {runs({{'W', 2}, {'B', 2}, {'W', 4}}), runs({{'W', 8}})}, {OK, OK, END}},
        // The data end inside a row: the row is completed and the decoder says so.
        RowCase{"premature", CcittCoding::Group4, 8, {HORIZ, W2, B3, V0, VR1, VL1},
                {runs({{'W', 2}, {'B', 3}, {'W', 3}}), runs({{'W', 3}, {'B', 1}, {'W', 4}})}, {OK, PREMATURE}},
        // a1 left of a0 is a bad row.
        RowCase{"a1BeforeA0", CcittCoding::Group4, 8, {HORIZ, W4, B2, V0, V0, VL3},
                {runs({{'W', 4}, {'B', 2}, {'W', 2}}), runs({{'W', 8}})}, {OK, REPAIRED}},
        // Uncompressed mode is not supported: the row is abandoned.
        RowCase{"extension", CcittCoding::Group4, 8, {EXT, "000"}, {runs({{'W', 8}})}, {REPAIRED}},
        // Group 3 two-dimensional: a tag bit after each EOL.
        RowCase{"group3TwoD", CcittCoding::Group3TwoD, 8, {EOL, "1", W3, B5, EOL, "0", V0, V0},
                {runs({{'W', 3}, {'B', 5}}), runs({{'W', 3}, {'B', 5}})}, {OK, OK}}),
    [](const ::testing::TestParamInfo<RowCase>& info) { return std::string(info.param.name); });

TEST(Ccitt, RowOfEndlessZeroRunsStopsAtTheArraySize) {
    BitWriter w;
    for (int i = 0; i < 200; ++i) w.put(HORIZ).put(W0).put(B0);
    Decoded d = decode(w.bytes, 16, CcittCoding::Group4, 1);
    ASSERT_EQ(d.results.size(), 1u);
    EXPECT_EQ(d.results[0], CcittRow::Repaired);
    EXPECT_EQ(d.rows[0], std::string(16, 'W'));
}

TEST(Ccitt, ReversedBitOrder) {
    const struct {
        uint8_t in, out;
    } cases[] = {{0x01, 0x80}, {0x80, 0x01}, {0xC5, 0xA3}, {0x00, 0x00}, {0xFF, 0xFF}, {0x35, 0xAC}};
    for (const auto& c : cases) {
        uint8_t b = c.in;
        ccittReverseBits(&b, 1);
        EXPECT_EQ(b, c.out) << int(c.in);
    }
    // Data stored least significant bit first decode the same once reversed.
    BitWriter w;
    w.put(EOL).put(W2).put(B2).put(W4);
    Bytes reversed = w.bytes;
    ccittReverseBits(reversed.data(), reversed.size());
    ccittReverseBits(reversed.data(), reversed.size());
    EXPECT_EQ(decode(reversed, 8, CcittCoding::Group3OneD, 1).rows, decode(w.bytes, 8, CcittCoding::Group3OneD, 1).rows);
}

// ---- raw Group 3 fax ----------------------------------------------------------

int faxIndex() {
    static int index = findFormat("fax");
    return index;
}

Status loadFax(const Bytes& bytes, Image* img) {
    static int counter = 0;
    std::string path = tempPath("hand" + std::to_string(counter++) + ".g3");
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(faxIndex());
    return loadImage(path.c_str(), img, &o, nullptr);
}

// A row of a binary image as 'W' / 'B'.
std::string imageRowText(const Image& img, int y, int from, int count) {
    std::string s;
    const uint8_t* r = img.pixels + static_cast<size_t>(y) * img.stride;
    for (int x = from; x < from + count; ++x) s += r[x] ? 'W' : 'B';
    return s;
}

// Reads a binary PBM (P4) as rows of 'W' / 'B'.
bool readPbm(const std::string& path, std::vector<std::string>* rows, int* width) {
    Bytes b;
    if (!readFile(path, &b) || b.size() < 3 || b[0] != 'P' || b[1] != '4') return false;
    size_t pos = 2;
    long v[2];
    for (long& x : v) {
        while (pos < b.size() && (isspace(b[pos]) || b[pos] == '#')) {
            if (b[pos] == '#')
                while (pos < b.size() && b[pos] != '\n') ++pos;
            else
                ++pos;
        }
        x = 0;
        while (pos < b.size() && isdigit(b[pos])) x = x * 10 + (b[pos++] - '0');
    }
    ++pos;
    *width = static_cast<int>(v[0]);
    size_t rowBytes = (v[0] + 7) / 8;
    if (b.size() < pos + rowBytes * v[1]) return false;
    rows->clear();
    for (long y = 0; y < v[1]; ++y) {
        std::string s;
        for (long x = 0; x < v[0]; ++x) s += (b[pos + y * rowBytes + x / 8] & (0x80 >> (x % 8))) ? 'B' : 'W';
        rows->push_back(s);
    }
    return true;
}

// A PBM page with lines, blocks and single pixels.
Bytes testPage(int width, int height) {
    std::string header = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
    Bytes b(header.begin(), header.end());
    size_t rowBytes = (width + 7) / 8;
    for (int y = 0; y < height; ++y) {
        Bytes row(rowBytes, 0);
        for (int x = 0; x < width; ++x) {
            bool black = (x / 37 + y / 11) % 3 == 0 || x == (y * 5) % width || (y % 50 == 7 && x > 100);
            if (black) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

TEST(Fax, PbmtoG3PagesDecodeAsG3topbm) {
    if (!haveProgram("pbmtog3") || !haveProgram("g3topbm")) GTEST_SKIP() << "netpbm missing";
    const struct {
        int height;
        int expectedRows;
    } cases[] = {{60, 60}, {4400, 4300}};  // at most 4300 lines are read
    for (const auto& c : cases) {
        std::string pbm = tempPath("page" + std::to_string(c.height) + ".pbm");
        std::string g3 = tempPath("page" + std::to_string(c.height) + ".g3");
        std::string ref = tempPath("page" + std::to_string(c.height) + "_ref.pbm");
        ASSERT_TRUE(writeFile(pbm, testPage(1728, c.height)));
        ASSERT_EQ(run("pbmtog3 " + pbm + " > " + g3 + " 2>/dev/null"), 0);
        ASSERT_EQ(run("g3topbm " + g3 + " > " + ref + " 2>/dev/null"), 0);
        std::vector<std::string> refRows;
        int refWidth = 0;
        ASSERT_TRUE(readPbm(ref, &refRows, &refWidth));
        OwnedImage img;
        FileInfo info;
        IoOptions o = defaultIoOptions();
        ASSERT_EQ(loadImage(g3.c_str(), &img, &o, &info), ST_OK);  // found by its extension
        EXPECT_STREQ(info.formatName, "Fax G3");
        EXPECT_EQ(img.kind, IMG_BINARY);
        ASSERT_EQ(img.width, 1728);
        ASSERT_EQ(img.height, c.expectedRows);
        for (int y = 0; y < img.height; ++y) ASSERT_EQ(imageRowText(img, y, 0, 1728), refRows[y]) << "row " << y;
    }
}

TEST(Fax, HandMadeLines) {
    // Line 1: 1700 white then a black run of 100 cut at the page edge.
    // Line 2: a code that means nothing after 8 white: the rest of the line is white.
    // Line 3: 8 black. Then the six EOL codes that end a page, and garbage after them.
    BitWriter w;
    w.put(EOL).put(WM1664).put(W36).put(BM64).put(B36).put(EOL);
    w.put(W8).put("00000000110").put(EOL);
    w.put(W0).put(B8).put(WM1664).put(W63).put(WM1728);  // 8 + 1727 pixels: the last make-up is cut too
    for (int i = 0; i < 6; ++i) w.put(EOL);
    w.put(W8).put(EOL);
    OwnedImage img;
    ASSERT_EQ(loadFax(w.bytes, &img), ST_OK);
    ASSERT_EQ(img.width, 1728);
    ASSERT_EQ(img.height, 3);
    EXPECT_EQ(imageRowText(img, 0, 1690, 38), runs({{'W', 10}, {'B', 28}}));
    EXPECT_EQ(imageRowText(img, 1, 0, 1728), std::string(1728, 'W'));
    EXPECT_EQ(imageRowText(img, 2, 0, 10), runs({{'B', 8}, {'W', 2}}));
}

TEST(Fax, DataWithoutEndOfLineIsNoFax) {
    OwnedImage img;
    EXPECT_EQ(loadFax(Bytes(300, 0x5A), &img), ST_UNKNOWN_FORMAT);
    EXPECT_EQ(img.pixels, nullptr);
    BitWriter onlyEols;
    for (int i = 0; i < 8; ++i) onlyEols.put(EOL);
    EXPECT_EQ(loadFax(onlyEols.bytes, &img), ST_UNKNOWN_FORMAT);
}

TEST(Fax, CorpusPages) {
    const std::string dir = std::string(KALEO_CORPUS_DIR) + "/fax/";
    std::vector<uint8_t> probe;
    if (!readFile(dir + "input_p4_pbmtog3.g3", &probe)) GTEST_SKIP() << "no corpus";
    if (!haveProgram("g3topbm") || !haveProgram("fax2tiff") || !haveProgram("convert-im6.q16"))
        GTEST_SKIP() << "peers missing";
    // netpbm's page: as g3topbm reads it.
    {
        std::string ref = tempPath("corpus_ref.pbm");
        ASSERT_EQ(run("g3topbm " + dir + "input_p4_pbmtog3.g3 > " + ref + " 2>/dev/null"), 0);
        std::vector<std::string> refRows;
        int w = 0;
        ASSERT_TRUE(readPbm(ref, &refRows, &w));
        OwnedImage img;
        ASSERT_EQ(load(dir + "input_p4_pbmtog3.g3", &img), ST_OK);
        ASSERT_EQ(img.height, static_cast<int>(refRows.size()));
        for (int y = 0; y < img.height; ++y) ASSERT_EQ(imageRowText(img, y, 0, w), refRows[y]) << y;
    }
    // libtiff's test page (g3topbm cannot read it): as libtiff's fax2tiff reads it,
    // up to the end-of-page codes (libtiff goes on with blank lines after them).
    // Three damaged lines whose last run passes the page edge differ: the run is
    // cut at the edge here, where libtiff drops it.
    {
        std::string tif = tempPath("g3test.tif"), ref = tempPath("g3test.ppm");
        ASSERT_EQ(run("fax2tiff -M -o " + tif + " " + dir + "g3test.g3 2>/dev/null"), 0);
        ASSERT_EQ(run("convert-im6.q16 " + tif + " -depth 8 ppm:" + ref + " 2>/dev/null"), 0);
        Rgb expected;
        ASSERT_TRUE(readPnmReference(ref, &expected));
        OwnedImage img;
        ASSERT_EQ(load(dir + "g3test.g3", &img), ST_OK);
        ASSERT_EQ(img.height, 1092);
        Rgb got = toRgb(img);
        std::vector<int> differing;
        for (int y = 0; y < img.height; ++y) {
            size_t at = static_cast<size_t>(y) * 1728 * 3;
            if (memcmp(&got.pixels[at], &expected.pixels[at], 1728 * 3) != 0) differing.push_back(y);
        }
        EXPECT_EQ(differing, (std::vector<int>{303, 371, 957}));
        for (int y = 1092; y < expected.height; ++y)  // what libtiff adds: blank lines
            EXPECT_EQ(expected.pixels[static_cast<size_t>(y) * 1728 * 3], 255);
    }
}

}  // namespace
