// Fuzz target for the JBIG reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int jbigIndex = findFormat("jbig");
    return fuzzOneInput(data, size, jbigIndex >= 0 ? jbigIndex : 115);
}
