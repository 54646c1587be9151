// The hexadecimal dump's lines and its scroll bar mapping.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "hexdump.h"

namespace {

std::string dumpOf(const std::vector<uint8_t>& bytes, uint64_t line) {
    return hexLine(bytes.data(), bytes.size(), line);
}

std::string spaces(size_t n) { return std::string(n, ' '); }

TEST(HexDump, FiveByteFileIsOneLinePaddedOnBothColumns) {
    const std::vector<uint8_t> bytes = {'A', 'B', 0x01, 'y', 'z'};
    EXPECT_EQ(hexLineCount(bytes.size()), 1u);
    const std::string line = dumpOf(bytes, 0);
    // Offset, five pairs, padding to 48 characters, five characters, 11 spaces.
    EXPECT_EQ(line, "00000000: 41 42 01 79 7a " + spaces(48 - 15) + "AB.yz" + spaces(11));
    EXPECT_EQ(line.size(), 74u);
    EXPECT_EQ(line.substr(10, 48).find_last_not_of(' '), 13u);
    EXPECT_EQ(dumpOf(bytes, 1), "");  // nothing past the end
}

// Text padded with spaces to `width` characters.
std::string pad(const std::string& s, size_t width) { return s + spaces(width - s.size()); }

TEST(HexDump, LineCountsAndLastLines) {
    const std::string all16 = "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ";
    struct Case {
        size_t size;
        uint64_t lines;
        std::string last;  // the last line, exactly
    } cases[] = {
        {0, 0, ""},
        {1, 1, "00000000: " + pad("00 ", 48) + pad(".", 16)},
        {15, 1, "00000000: " + pad(all16.substr(0, 45), 48) + pad("...............", 16)},
        {16, 1, "00000000: " + all16 + "................"},
        {17, 2, "00000010: " + pad("10 ", 48) + pad(".", 16)},
        {32, 2, "00000010: 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f ................"},
        {33, 3, "00000020: " + pad("20 ", 48) + spaces(16)},
        {50, 4, "00000030: " + pad("30 31 ", 48) + pad("01", 16)},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(c.size);
        for (size_t i = 0; i < c.size; ++i) bytes[i] = static_cast<uint8_t>(i);
        EXPECT_EQ(hexLineCount(c.size), c.lines) << c.size;
        std::string last = c.lines ? dumpOf(bytes, c.lines - 1) : dumpOf(bytes, 0);
        EXPECT_EQ(last, c.last) << c.size;
        if (c.lines) EXPECT_EQ(last.size(), 74u) << c.size;
        EXPECT_EQ(dumpOf(bytes, c.lines), "") << c.size;
    }
}

TEST(HexDump, LineCountOfLargeSizes) {
    EXPECT_EQ(hexLineCount(0x12345), 0x1235u);
    EXPECT_EQ(hexLineCount(uint64_t(500) << 20), uint64_t(500) << 16);
    EXPECT_EQ(hexLineCount(UINT64_MAX), (UINT64_MAX >> 4) + 1);
}

TEST(HexDump, OffsetsAboveSixteenBits) {
    std::vector<uint8_t> bytes(0x12345, 0x41);
    bytes[0x12340] = 0xAB;
    struct Case {
        uint64_t line;
        const char* start;
    } cases[] = {{0x0FFF, "0000fff0: 41 "}, {0x1000, "00010000: 41 "}, {0x1234, "00012340: ab 41 41 41 41    "}};
    for (const Case& c : cases) {
        std::string line = dumpOf(bytes, c.line);
        EXPECT_EQ(line.substr(0, std::string(c.start).size()), c.start) << c.line;
    }
    EXPECT_EQ(dumpOf(bytes, 0x1234).substr(58), "\xab" "AAAA" + spaces(11));
    EXPECT_EQ(dumpOf(bytes, 0x1235), "");
}

TEST(HexDump, CharacterColumnOfEveryKindOfByte) {
    struct Case {
        uint8_t byte;
        char shown;
    } cases[] = {
        {0x00, '.'},  {0x09, '.'},  {0x0A, '.'},  {0x0D, '.'},  {0x1F, '.'},   {0x20, ' '},   {0x2E, '.'},
        {0x41, 'A'},  {0x7E, '~'},  {0x7F, '.'},  {0x80, '.'},  {0x81, '.'},   {0x9F, '.'},   {0xA0, '\xa0'},
        {0xA9, '\xa9'}, {0xE9, '\xe9'}, {0xFF, '\xff'},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = {c.byte};
        std::string line = dumpOf(bytes, 0);
        ASSERT_EQ(line.size(), 74u);
        char pair[4];
        snprintf(pair, sizeof pair, "%02x", c.byte);
        EXPECT_EQ(line.substr(10, 3), std::string(pair) + " ") << int(c.byte);
        EXPECT_EQ(line[58], c.shown) << int(c.byte);
        EXPECT_EQ(line.substr(59), spaces(15)) << int(c.byte);
    }
}

// A line formatted from its own bytes reads as the same line of the whole file.
TEST(HexDump, LineFromItsOwnBytesMatchesTheWholeFile) {
    std::vector<uint8_t> bytes(0x10023);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    const uint64_t lines[] = {0, 1, 0xFFF, 0x1000, 0x1001, 0x1002};
    for (uint64_t line : lines) {
        uint64_t offset = line * 16;
        int n = bytes.size() - offset < 16 ? static_cast<int>(bytes.size() - offset) : 16;
        char out[HEX_LINE_MAX + 1];
        size_t length = formatHexLineBytes(bytes.data() + offset, n, line, out, sizeof out);
        EXPECT_EQ(std::string(out, length), dumpOf(bytes, line)) << line;
    }
    // Offsets past 4 GB keep every digit; counts outside 1-16 are refused.
    const uint8_t three[3] = {0x45, 0x4E, 0x44};
    char out[HEX_LINE_MAX + 1];
    size_t length = formatHexLineBytes(three, 3, uint64_t(0x7FFFFFFF), out, sizeof out);
    EXPECT_EQ(std::string(out, length), "7fffffff0: 45 4e 44 " + spaces(39) + "END" + spaces(13));
    EXPECT_EQ(formatHexLineBytes(three, 0, 0, out, sizeof out), 0u);
    EXPECT_EQ(formatHexLineBytes(three, 17, 0, out, sizeof out), 0u);
    EXPECT_EQ(formatHexLineBytes(nullptr, 3, 0, out, sizeof out), 0u);
}

TEST(HexDump, RefusesShortBuffersAndMissingData) {
    const uint8_t bytes[3] = {1, 2, 3};
    char out[HEX_LINE_MAX + 1];
    EXPECT_EQ(formatHexLine(bytes, 3, 0, out, 75), 74u);
    out[0] = 'x';
    EXPECT_EQ(formatHexLine(bytes, 3, 0, out, 74), 0u);  // no room for the terminating zero
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(formatHexLine(nullptr, 3, 0, out, sizeof out), 0u);
    EXPECT_EQ(formatHexLine(bytes, 3, UINT64_MAX, out, sizeof out), 0u);
}

// ---- Scrolling ----

TEST(HexDumpScroll, SmallFilesScrollLineByLine) {
    struct Case {
        uint64_t lines;
        int page;
        uint64_t maxFirst;
        int range, thumb;
    } cases[] = {
        {0, 10, 0, 0, 10},       {5, 10, 0, 0, 10},         {10, 10, 0, 0, 10},
        {11, 10, 1, 1, 10},      {100, 0, 99, 99, 1},       {32777, 10, 32767, 32767, 10},
        // Beyond 16 bits: the thumb's position is read as a 32-bit number.
        {262144, 30, 262114, 262114, 30}, {uint64_t(HEX_SCROLL_LIMIT) + 7, 7, HEX_SCROLL_LIMIT, HEX_SCROLL_LIMIT, 7},
    };
    for (const Case& c : cases) {
        HexScrollMap m = hexScrollMap(c.lines, c.page);
        EXPECT_EQ(m.maxFirst, c.maxFirst) << c.lines;
        EXPECT_EQ(m.step, 1u) << c.lines;
        EXPECT_EQ(m.range, c.range) << c.lines;
        EXPECT_EQ(m.page, c.thumb) << c.lines;
        for (uint64_t f = 0; f <= m.maxFirst; f += 1 + m.maxFirst / 50) {
            EXPECT_EQ(hexScrollPosition(m, f), static_cast<int>(f));
            EXPECT_EQ(hexFirstForPosition(m, static_cast<int>(f)), f);
        }
    }
}

// Files of tens of gigabytes and beyond: positions stay within the limit,
// both ends are reachable, and every position lands on a line within one step.
TEST(HexDumpScroll, LongFilesAreScaledIntoTheScrollRange) {
    const uint64_t lineCounts[] = {(uint64_t(1) << 30) + 10007, uint64_t(1) << 31, uint64_t(3) << 33, UINT64_MAX >> 4};
    const int pages[] = {1, 37, 5000};
    for (uint64_t lines : lineCounts)
        for (int page : pages) {
            HexScrollMap m = hexScrollMap(lines, page);
            SCOPED_TRACE(::testing::Message() << lines << " lines, page " << page);
            EXPECT_EQ(m.maxFirst, lines - static_cast<uint64_t>(page));
            EXPECT_GT(m.step, 1u);
            EXPECT_LE(m.range, HEX_SCROLL_LIMIT);
            EXPECT_GT(m.range, HEX_SCROLL_LIMIT / 2);  // the scroll bar's resolution is used
            EXPECT_GE(m.page, 1);
            EXPECT_LE(m.page, page);
            EXPECT_EQ(hexScrollPosition(m, 0), 0);
            EXPECT_EQ(hexScrollPosition(m, m.maxFirst), m.range);
            EXPECT_EQ(hexFirstForPosition(m, 0), 0u);
            EXPECT_EQ(hexFirstForPosition(m, m.range), m.maxFirst);
            EXPECT_EQ(hexFirstForPosition(m, m.range + 1), m.maxFirst);
            EXPECT_EQ(hexFirstForPosition(m, -5), 0u);
            uint64_t previous = 0;
            for (int p = 1; p < m.range; p += m.range / 1000 + 1) {
                uint64_t first = hexFirstForPosition(m, p);
                EXPECT_GT(first, previous);
                EXPECT_LE(first, m.maxFirst);
                EXPECT_EQ(hexScrollPosition(m, first), p);
                EXPECT_EQ(hexScrollPosition(m, first + m.step - 1), p);
                previous = first;
            }
            // Moving one line from the top shows in the thumb once a step is crossed.
            EXPECT_EQ(hexScrollPosition(m, m.step), 1);
            EXPECT_EQ(hexScrollPosition(m, m.step - 1), 0);
        }
}

TEST(HexDumpScroll, MovesStayWithinTheFile) {
    struct Case {
        uint64_t first;
        int64_t delta;
        uint64_t maxFirst;
        uint64_t expected;
    } cases[] = {
        {0, -1, 10, 0},        {5, -3, 10, 2},         {5, -5, 10, 0},          {5, -6, 10, 0},
        {5, 3, 10, 8},         {5, 5, 10, 10},         {5, 100, 10, 10},        {10, 1, 10, 10},
        {12, 0, 10, 10},       {12, -1, 10, 9},        {3, INT64_MIN, 10, 0},   {3, INT64_MAX, 10, 10},
        {UINT64_MAX - 2, INT64_MAX, UINT64_MAX, UINT64_MAX}, {0, 0, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hexMoveFirst(c.first, c.delta, c.maxFirst), c.expected)
            << c.first << " " << c.delta << " " << c.maxFirst;
}

TEST(HexDumpScroll, PaintDrawsOnlyTheRowsItCovers) {
    struct Case {
        uint64_t first, lines;
        int top, bottom;
        uint64_t from, count;
    } cases[] = {
        {0, 100, 0, 25, 0, 25},  {90, 100, 0, 25, 90, 10}, {10, 100, 5, 8, 15, 3},  {10, 100, -3, 2, 10, 2},
        {0, 0, 0, 25, 0, 0},     {0, 100, 3, 3, 0, 0},     {99, 100, 1, 5, 99, 0},  {99, 100, 0, 5, 99, 1},
        {UINT64_MAX - 1, UINT64_MAX, 0, 40, UINT64_MAX - 1, 1},
    };
    for (const Case& c : cases) {
        uint64_t from = 12345;
        uint64_t count = hexRowsToLines(c.first, c.lines, c.top, c.bottom, &from);
        EXPECT_EQ(count, c.count) << c.first << " " << c.top << "-" << c.bottom;
        if (c.count) EXPECT_EQ(from, c.from) << c.first << " " << c.top << "-" << c.bottom;
    }
}

}  // namespace
