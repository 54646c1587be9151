// Fuzz target for the ZX Spectrum screen reader alone.
#include "fixedsize.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int z80scrIndex = findFormat("z80scr");
    return fuzzFixedSize(data, size, 6912, z80scrIndex >= 0 ? z80scrIndex : 108);
}
