// Fuzz target for the QDV reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int qdvIndex = findFormat("qdv");
    return fuzzOneInput(data, size, qdvIndex >= 0 ? qdvIndex : 87);
}
