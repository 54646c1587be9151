// Helpers shared by the tests of the Unix workstation and scientific formats:
// big- and little-endian fields, hand-made files loaded with and without
// damaged files accepted, and peers' files compared with the peers' decodes.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "kaleocore.h"
#include "kit.h"

namespace unixsci {

using namespace testutil;

constexpr char IM[] = "convert-im6.q16";

inline std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Loads bytes as the format at index with page page, damaged files accepted
// when asked; ext names the file for readers that look at it.
inline Status loadIndexed(int index, const std::vector<uint8_t>& bytes, int page, OwnedImage* img, FileInfo* info,
                          uint16_t flags = 0, const std::string& ext = "bin") {
    static int counter = 0;
    const std::string path = tempPath("unixsci_" + std::to_string(counter++) + "." + ext);
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(index);
    o.pageIndex = page;
    o.flags = flags;
    return loadImage(path.c_str(), img, &o, info);
}

inline void put32(std::vector<uint8_t>* v, uint32_t x, bool big = true) {
    for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (big ? 24 - 8 * i : 8 * i)));
}

inline void put16(std::vector<uint8_t>* v, uint32_t x, bool big = true) {
    v->push_back(static_cast<uint8_t>(big ? x >> 8 : x));
    v->push_back(static_cast<uint8_t>(big ? x : x >> 8));
}

template <typename T, typename F>
T with(T s, F change) {
    change(&s);
    return s;
}

// Loads hand-made bytes as the format named; checks the status and, for damaged
// files, that nothing is kept unless damaged files are accepted.
struct HandResult {
    Status status;
    OwnedImage img;
    FileInfo info;
};

inline void loadHand(const char* format, const std::vector<uint8_t>& bytes, Status expected, HandResult* r,
              bool picture = true) {
    r->status = loadBytesAs(format, bytes, &r->img, 0, &r->info);
    ASSERT_EQ(r->status, expected);
    if (expected != ST_OK) {
        EXPECT_EQ(r->img.pixels, nullptr);
        if (picture) { ASSERT_EQ(loadBytesAs(format, bytes, &r->img, OPT_ACCEPT_DAMAGED), ST_OK); }
    }
}

// Runs the make command ($S source, $O output), then the peer's decode of $O
// to a PNM ($R), and compares our decode of $O with it within tolerance.
inline void expectPeerMatch(const std::string& make, const std::string& decode, const std::string& src,
                     const std::string& out, uint16_t kind, int tolerance = 0) {
    const std::string ref = out + ".ref.pnm";
    const std::vector<std::pair<std::string, std::string>> names = {{"$S", src}, {"$O", out}, {"$R", ref}};
    ASSERT_EQ(run(shell(make, names)), 0);
    OwnedImage img;
    ASSERT_EQ(load(out, &img), ST_OK);
    if (kind) { EXPECT_EQ(img.kind, kind); }
    ASSERT_EQ(run(shell(decode, names)), 0);
    Rgb expected;
    ASSERT_TRUE(readPeerPnm(ref, &expected, nullptr));
    EXPECT_EQ(compareRgb(toRgb(img), expected, tolerance), 0);
}

struct PeerCase {
    const char* name;
    const char* make;    // $S source P6, $O the file
    const char* decode;  // $O the file, $R the peer's PNM
    uint16_t kind;       // 0: not checked
};

// b after a.
inline std::vector<uint8_t> joined(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The picture upside down.
inline Rgb upsideDown(const Rgb& a) {
    Rgb b = a;
    const size_t row = static_cast<size_t>(a.width) * 3;
    for (int y = 0; y < a.height; ++y)
        memcpy(&b.pixels[y * row], &a.pixels[(a.height - 1 - y) * row], row);
    return b;
}

}  // namespace unixsci
