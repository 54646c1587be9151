// Fuzz target for the Alias reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int aliasIndex = findFormat("alias");
    return fuzzOneInput(data, size, aliasIndex >= 0 ? aliasIndex : 9);
}
