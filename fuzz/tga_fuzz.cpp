// Fuzz target for the Truevision Targa reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int tgaIndex = findFormat("tga");
    return fuzzOneInput(data, size, tgaIndex >= 0 ? tgaIndex : 1);
}
