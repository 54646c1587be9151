// Fuzz target for the Khoros VIFF reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int viffIndex = findFormat("viff");
    return fuzzOneInput(data, size, viffIndex >= 0 ? viffIndex : 65);
}
