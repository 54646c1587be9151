// Fuzz target for the Quantel VPB reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int vpbIndex = findFormat("vpb");
    return fuzzOneInput(data, size, vpbIndex >= 0 ? vpbIndex : 67);
}
