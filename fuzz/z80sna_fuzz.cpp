// Fuzz target for the ZX Spectrum snapshot reader alone.
#include "fixedsize.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int z80snaIndex = findFormat("z80sna");
    return fuzzFixedSize(data, size, 49179, z80snaIndex >= 0 ? z80snaIndex : 109);
}
