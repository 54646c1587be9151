// Fuzz target for the Degas reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int degasIndex = findFormat("degas");
    return fuzzOneInput(data, size, degasIndex >= 0 ? degasIndex : 69);
}
