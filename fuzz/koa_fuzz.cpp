// Fuzz target for the Koala Paint reader alone.
#include "fixedsize.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int koaIndex = findFormat("koa");
    return fuzzFixedSize(data, size, 10003, koaIndex >= 0 ? koaIndex : 111);
}
