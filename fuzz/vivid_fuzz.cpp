// Fuzz target for the Vivid reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int vividIndex = findFormat("vivid");
    return fuzzOneInput(data, size, vividIndex >= 0 ? vividIndex : 33);
}
