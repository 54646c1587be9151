// Fuzz target for the Vista reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int vistaIndex = findFormat("vista");
    return fuzzOneInput(data, size, vistaIndex >= 0 ? vistaIndex : 6);
}
