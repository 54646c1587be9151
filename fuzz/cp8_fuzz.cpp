// Fuzz target for the CP8 reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int cp8Index = findFormat("cp8");
    return fuzzOneInput(data, size, cp8Index >= 0 ? cp8Index : 35);
}
