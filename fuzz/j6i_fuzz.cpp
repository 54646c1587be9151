// Fuzz target for the Ricoh camera file reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int j6iIndex = findFormat("j6i");
    return fuzzOneInput(data, size, j6iIndex >= 0 ? j6iIndex : 47);
}
