// Fuzz target for the Seattle Film Works single-picture reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int sfwIndex = findFormat("sfw");
    return fuzzOneInput(data, size, sfwIndex >= 0 ? sfwIndex : 25);
}
