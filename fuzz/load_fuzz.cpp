// Fuzz target for automatic identification: every reader may see the input.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzOneInput(data, size, -1); }
