// Fuzz target for the psion3 reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("psion3");
    return fuzzOneInput(data, size, index);
}
