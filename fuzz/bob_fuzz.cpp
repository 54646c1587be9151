// Fuzz target for the Bob ray tracer reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int bobIndex = findFormat("bob");
    return fuzzOneInput(data, size, bobIndex >= 0 ? bobIndex : 91);
}
