// Fuzz target for the Advanced Art Studio reader alone.
#include "fixedsize.h"
#include "kaleocore.h"

// Its load address.
static void fixLoadAddress(uint8_t* file) {
    file[0] = 0x00;
    file[1] = 0x20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int ocpIndex = findFormat("ocp");
    return fuzzFixedSize(data, size, 10018, ocpIndex >= 0 ? ocpIndex : 112, fixLoadAddress);
}
