// Fuzz target for the Bio-Rad PIC reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int bioradIndex = findFormat("biorad");
    return fuzzOneInput(data, size, bioradIndex >= 0 ? bioradIndex : 90);
}
