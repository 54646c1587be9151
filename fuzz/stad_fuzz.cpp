// Fuzz target for the STAD reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int stadIndex = findFormat("stad");
    return fuzzOneInput(data, size, stadIndex >= 0 ? stadIndex : 73);
}
