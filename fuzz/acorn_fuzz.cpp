// Fuzz target for the Acorn sprite reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("acorn");
    return fuzzOneInput(data, size, index);
}
