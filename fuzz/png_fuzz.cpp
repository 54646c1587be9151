// Fuzz target for the PNG reader (libpng) alone. Mutated chunks would nearly
// all fail their CRC before libpng looks at them, so every chunk's CRC is
// recomputed before the input is loaded.
#include <vector>

#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("png");
    std::vector<uint8_t> bytes(data, data + size);
    fixChunkCrcs(bytes.data(), bytes.size(), 8);
    return fuzzOneInput(bytes.data(), bytes.size(), index >= 0 ? index : 12);
}
