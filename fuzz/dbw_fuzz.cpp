// Fuzz target for the DBW Render reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int dbwIndex = findFormat("dbw");
    return fuzzOneInput(data, size, dbwIndex >= 0 ? dbwIndex : 100);
}
