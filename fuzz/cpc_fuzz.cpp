// Fuzz target for the Amstrad CPC screen reader alone.
#include "fixedsize.h"
#include "kaleocore.h"

// "MODE" in the header; the mode character stays the input's.
static void fixModeName(uint8_t* file) { memcpy(file + 1, "MODE", 4); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int cpcIndex = findFormat("cpc");
    return fuzzFixedSize(data, size, 16512, cpcIndex >= 0 ? cpcIndex : 113, fixModeName);
}
