// Fuzz target for the CorelDRAW preview reader alone, under a name of its extension so
// that the readings that go by the name are reached too.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("cdr");
    return fuzzOneInputNamed(data, size, index, "fuzz-input.cdr");
}
