// Fuzz target for the Sun TAAC reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int taacIndex = findFormat("taac");
    return fuzzOneInput(data, size, taacIndex >= 0 ? taacIndex : 21);
}
