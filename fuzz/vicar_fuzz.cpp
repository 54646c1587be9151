// Fuzz target for the VICAR reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int vicarIndex = findFormat("vicar");
    return fuzzOneInput(data, size, vicarIndex >= 0 ? vicarIndex : 63);
}
