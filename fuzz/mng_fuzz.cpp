// Fuzz target for the MNG page reader (libpng) alone. As for PNG, every
// chunk's CRC is recomputed so that mutations reach the embedded images.
#include <cstring>
#include <vector>

#include <zlib.h>

#include "harness.h"
#include "kaleocore.h"

namespace {

void fixCrcs(std::vector<uint8_t>* bytes, size_t start) {
    std::vector<uint8_t>& b = *bytes;
    for (size_t at = start; at + 12 <= b.size();) {
        const uint64_t length = (uint64_t(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
        if (length > b.size() - at - 12) break;
        const size_t crcAt = at + 8 + static_cast<size_t>(length);
        const uLong crc = crc32(0, b.data() + at + 4, static_cast<uInt>(length + 4));
        for (int i = 0; i < 4; ++i) b[crcAt + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at = crcAt + 4;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int mngIndex = findFormat("mng");
    std::vector<uint8_t> bytes(data, data + size);
    fixCrcs(&bytes, 8);
    return fuzzOneInput(bytes.data(), bytes.size(), mngIndex >= 0 ? mngIndex : 13);
}
