// Fuzz target for the raw Group 3 fax reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int faxIndex = findFormat("fax");
    return fuzzOneInput(data, size, faxIndex >= 0 ? faxIndex : 114);
}
