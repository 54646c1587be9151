// Fuzz target for the Doodle reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int doodleIndex = findFormat("doodle");
    return fuzzOneInput(data, size, doodleIndex >= 0 ? doodleIndex : 106);
}
