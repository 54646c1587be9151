// Fuzz target for the Sega SJ-1 DIGIO reader alone; its files are known by their extension.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("sj1");
    return fuzzOneInputNamed(data, size, index >= 0 ? index : 50, "fuzz-input.sj1");
}
