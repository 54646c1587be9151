// Fuzz target for the Dali reader alone; Dali files are known by their extension.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int daliIndex = findFormat("dali");
    return fuzzOneInputNamed(data, size, daliIndex, "fuzz-input.sd0");
}
