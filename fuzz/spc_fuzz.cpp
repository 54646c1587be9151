// Fuzz target for the compressed Spectrum 512 reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int spcIndex = findFormat("spc");
    return fuzzOneInput(data, size, spcIndex >= 0 ? spcIndex : 76);
}
