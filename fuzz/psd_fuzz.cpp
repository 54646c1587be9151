// Fuzz target for the Photoshop document reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int psdIndex = findFormat("psd");
    return fuzzOneInput(data, size, psdIndex >= 0 ? psdIndex : 23);
}
