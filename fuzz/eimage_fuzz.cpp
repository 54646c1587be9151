// Fuzz target for the Electric Image reader alone (the second "tdim" record,
// after Digital F/X).
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int tdimIndex = findFormat("tdim");
    return fuzzOneInput(data, size, tdimIndex >= 0 ? tdimIndex + 1 : 89);
}
