// The shared PackBits coder: hand-made groups decode to known bytes, the
// encoder's groups are the expected ones, and random rows survive a round trip.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "packbits.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct DecodeCase {
    const char* name;
    Bytes in;
    size_t outSize;
    Bytes expected;  // the first outSize bytes of the output (0xEE where nothing was written)
    PackBitsEnd end;
    size_t consumed;
};

class PackBitsDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PackBitsDecode, SpanAndCursorAgree) {
    const DecodeCase& c = GetParam();
    Bytes out(c.outSize, 0xEE);
    PackBitsResult r = packBitsDecode(c.in.data(), c.in.size(), out.data(), out.size());
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(r.end, c.end);
    EXPECT_EQ(r.consumed, c.consumed);

    Bytes viaCursor(c.outSize, 0xEE);
    MemoryCursor cursor(c.in.data(), c.in.size());
    PackBitsResult rc = packBitsDecode(&cursor, viaCursor.data(), viaCursor.size());
    EXPECT_EQ(viaCursor, c.expected);
    EXPECT_EQ(rc.end, c.end);
    EXPECT_EQ(rc.produced, r.produced);
    EXPECT_EQ(cursor.position(), c.consumed);
}

INSTANTIATE_TEST_SUITE_P(
    Groups, PackBitsDecode,
    ::testing::Values(
        DecodeCase{"literal", {2, 10, 20, 30}, 3, {10, 20, 30}, PackBitsEnd::Complete, 4},
        DecodeCase{"run", {0xFE, 7}, 3, {7, 7, 7}, PackBitsEnd::Complete, 2},
        DecodeCase{"longestRun", {0x81, 9}, 128, Bytes(128, 9), PackBitsEnd::Complete, 2},
        DecodeCase{"mixed", {0xFF, 1, 1, 2, 3}, 4, {1, 1, 2, 3}, PackBitsEnd::Complete, 5},
        // 128 is a no-op, not a run of 129.
        DecodeCase{"noOp", {0x80, 0x80, 0xFD, 5}, 4, {5, 5, 5, 5}, PackBitsEnd::Complete, 4},
        // Groups longer than the room left are cut; the literal's bytes are consumed all the same.
        DecodeCase{"runOverrun", {0xF9, 4}, 3, {4, 4, 4}, PackBitsEnd::Overrun, 2},
        DecodeCase{"literalOverrun", {4, 1, 2, 3, 4, 5, 0, 9}, 3, {1, 2, 3}, PackBitsEnd::Overrun, 6},
        DecodeCase{"inputEndsInLiteral", {4, 1, 2}, 5, {1, 2, 0xEE, 0xEE, 0xEE}, PackBitsEnd::EndOfInput, 3},
        DecodeCase{"inputEndsAfterHeader", {0xFE}, 3, {0xEE, 0xEE, 0xEE}, PackBitsEnd::EndOfInput, 1},
        DecodeCase{"emptyInput", {}, 2, {0xEE, 0xEE}, PackBitsEnd::EndOfInput, 0},
        DecodeCase{"stopsWhenFull", {0, 1, 0, 2, 0, 3}, 2, {1, 2}, PackBitsEnd::Complete, 4}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

struct EncodeCase {
    const char* name;
    Bytes in;
    Bytes expected;
};

class PackBitsEncode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(PackBitsEncode, Groups) {
    const EncodeCase& c = GetParam();
    Bytes out(packBitsMaxEncodedSize(c.in.size()));
    size_t n = packBitsEncode(c.in.data(), c.in.size(), out.data(), out.size());
    out.resize(n);
    EXPECT_EQ(out, c.expected);
}

Bytes repeated(size_t n, uint8_t v) { return Bytes(n, v); }

INSTANTIATE_TEST_SUITE_P(
    Rows, PackBitsEncode,
    ::testing::Values(
        // 300 identical bytes are three runs: 128, 128 and 44.
        EncodeCase{"threeRuns", repeated(300, 0x5A), {0x81, 0x5A, 0x81, 0x5A, 0xD5, 0x5A}},
        EncodeCase{"literal", {1, 2, 3}, {2, 1, 2, 3}},
        EncodeCase{"runOfThree", {1, 2, 7, 7, 7, 3}, {1, 1, 2, 0xFE, 7, 0, 3}},
        // A pair inside a literal group stays literal; a pair with no literal waiting is a run.
        EncodeCase{"pairInLiteral", {1, 4, 4, 2}, {3, 1, 4, 4, 2}},
        EncodeCase{"pairAtStart", {4, 4, 1}, {0xFF, 4, 0, 1}},
        EncodeCase{"single", {9}, {0, 9}},
        EncodeCase{"empty", {}, {}}),
    [](const ::testing::TestParamInfo<EncodeCase>& info) { return std::string(info.param.name); });

TEST(PackBits, LiteralGroupsHoldAtMost128Bytes) {
    Bytes in(300);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + (i >> 3));
    Bytes out(packBitsMaxEncodedSize(in.size()));
    size_t n = packBitsEncode(in.data(), in.size(), out.data(), out.size());
    ASSERT_GT(n, 0u);
    EXPECT_EQ(out[0], 127);  // the first group: 128 literal bytes
    EXPECT_LE(n, packBitsMaxEncodedSize(in.size()));
}

TEST(PackBits, RefusesTooSmallOutput) {
    Bytes in(10, 1), out(3);
    EXPECT_EQ(packBitsEncode(in.data(), in.size(), out.data(), out.size()), 0u);
}

TEST(PackBits, RandomRowsRoundTrip) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        size_t n = rng() % 700;
        Bytes in(n);
        // Rows with runs of every length, as real pictures have.
        for (size_t i = 0; i < n;) {
            size_t run = 1 + rng() % (rng() % 4 == 0 ? 200 : 3);
            uint8_t v = static_cast<uint8_t>(rng());
            for (size_t k = 0; k < run && i < n; ++k) in[i++] = v;
        }
        Bytes packed(packBitsMaxEncodedSize(n));
        size_t m = packBitsEncode(in.data(), n, packed.data(), packed.size());
        ASSERT_TRUE(n == 0 || m > 0);
        Bytes back(n, 0xEE);
        PackBitsResult r = packBitsDecode(packed.data(), m, back.data(), n);
        ASSERT_EQ(back, in) << "trial " << trial;
        EXPECT_EQ(r.consumed, m);
        EXPECT_EQ(r.end, PackBitsEnd::Complete);
    }
}

}  // namespace

TEST(PackBits, WordUnitsOfQuickDrawPixmaps) {
    struct Case {
        const char* name;
        std::vector<uint8_t> in;
        size_t outSize;
        std::vector<uint8_t> out;  // expected output (0xEE where nothing was written)
    } cases[] = {
        {"literal of two words", {1, 0x12, 0x34, 0x56, 0x78}, 4, {0x12, 0x34, 0x56, 0x78}},
        {"run of three words", {0xFE, 0xAB, 0xCD}, 6, {0xAB, 0xCD, 0xAB, 0xCD, 0xAB, 0xCD}},
        {"run cut at the output", {0xFD, 0x01, 0x02}, 4, {0x01, 0x02, 0x01, 0x02}},
        {"odd output: whole words only", {0xFE, 0x01, 0x02}, 5, {0x01, 0x02, 0x01, 0x02, 0xEE}},
        {"no-op header then a literal", {0x80, 0, 0x09, 0x08}, 2, {0x09, 0x08}},
        {"input ends inside a word", {1, 0x01, 0x02, 0x03}, 4, {0x01, 0x02, 0xEE, 0xEE}},
        {"run without its word", {0xFE, 0x01}, 4, {0xEE, 0xEE, 0xEE, 0xEE}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> out(c.outSize, 0xEE);
        packBitsDecodeWords(c.in.data(), c.in.size(), out.data(), out.size());
        EXPECT_EQ(out, c.out) << c.name;
    }
}
