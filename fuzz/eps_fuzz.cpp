// Fuzz target for the Encapsulated PostScript preview reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("eps");
    return fuzzOneInput(data, size, index >= 0 ? index : 93);
}
