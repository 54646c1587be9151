// Fuzz target for the ZSoft Paintbrush reader, and for the DCX reader when the
// input starts with the DCX magic (its pages go through the same PCX reader).
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pcxIndex = findFormat("pcx");
    static const int dcxIndex = findFormat("dcx");
    const bool dcx = size >= 4 && data[0] == 0xB1 && data[1] == 0x68 && data[2] == 0xDE && data[3] == 0x3A;
    const int index = dcx ? dcxIndex : pcxIndex;
    return fuzzOneInput(data, size, index >= 0 ? index : (dcx ? 16 : 15));
}
