// Fuzz target for the GEM bit image reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int gemIndex = findFormat("gem");
    return fuzzOneInput(data, size, gemIndex >= 0 ? gemIndex : 30);
}
