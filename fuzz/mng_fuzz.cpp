// Fuzz target for the MNG page reader (libpng) alone. As for PNG, every
// chunk's CRC is recomputed so that mutations reach the embedded images.
#include <vector>

#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("mng");
    std::vector<uint8_t> bytes(data, data + size);
    fixChunkCrcs(bytes.data(), bytes.size(), 8);
    return fuzzOneInput(bytes.data(), bytes.size(), index >= 0 ? index : 13);
}
