// Fuzz target for the psion5 reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("psion5");
    return fuzzOneInput(data, size, index);
}
