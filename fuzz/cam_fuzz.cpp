// Fuzz target for the Casio QV-10/100 camera file reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int camIndex = findFormat("cam");
    return fuzzOneInput(data, size, camIndex >= 0 ? camIndex : 46);
}
