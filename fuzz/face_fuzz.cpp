// Fuzz target for the Usenix FaceServer reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int faceIndex = findFormat("face");
    return fuzzOneInput(data, size, faceIndex >= 0 ? faceIndex : 92);
}
