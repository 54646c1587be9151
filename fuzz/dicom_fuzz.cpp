// Fuzz target for the DICOM reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int dicomIndex = findFormat("dicom");
    return fuzzOneInputNamed(data, size, dicomIndex >= 0 ? dicomIndex : 116, "fuzz-input.dcm");
}
