// Fuzz target for the PM reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pmIndex = findFormat("pm");
    return fuzzOneInput(data, size, pmIndex >= 0 ? pmIndex : 45);
}
