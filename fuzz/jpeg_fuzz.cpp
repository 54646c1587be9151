// Fuzz target for the JPEG reader (libjpeg) alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int jpegIndex = findFormat("jpeg");
    return fuzzOneInput(data, size, jpegIndex >= 0 ? jpegIndex : 0);
}
