// Fuzz target for the Photo CD reader alone. An input that carries an image
// pack's signature is read as it is; any other input becomes the Base image
// data of a pack of our own, so that mutations reach the rows.
#include <cstring>
#include <vector>

#include "harness.h"
#include "kaleocore.h"

namespace {
constexpr size_t SIGNATURE_AT = 2048;
constexpr size_t BASE_AT = 196608;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pcdIndex = findFormat("pcd");
    const int index = pcdIndex >= 0 ? pcdIndex : 53;
    const bool pack = (size >= 7 && memcmp(data, "PCD_OPA", 7) == 0) ||
                      (size >= SIGNATURE_AT + 3 && memcmp(data + SIGNATURE_AT, "PCD", 3) == 0);
    if (pack) return fuzzOneInput(data, size, index);
    std::vector<uint8_t> file(BASE_AT + size, 0xFF);
    memcpy(file.data() + SIGNATURE_AT, "PCD_IPI", 7);
    memcpy(file.data() + BASE_AT, data, size);
    return fuzzOneInput(file.data(), file.size(), index);
}
