// Fuzz target for the Kodak DC120 camera file reader alone. An input that
// carries the camera's header is read as it is; any other input becomes the
// swapped JPEG data behind a header of our own (the files are 15680 bytes
// before their data), so that mutations reach the stream.
#include <cstring>
#include <vector>

#include "harness.h"
#include "kaleocore.h"

namespace {
const char CAMERA[] = "Kodak DC120 ZOOM Digital Camera";
constexpr size_t CAMERA_AT = 470;
constexpr size_t COMPRESSION_AT = 707;
constexpr size_t DATA_AT = 15680;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int kdcIndex = findFormat("kdc");
    const int index = kdcIndex >= 0 ? kdcIndex : 48;
    if (size >= DATA_AT && memcmp(data + CAMERA_AT, CAMERA, sizeof CAMERA) == 0) return fuzzOneInput(data, size, index);
    std::vector<uint8_t> file(DATA_AT + size, 0);
    memcpy(file.data() + CAMERA_AT, CAMERA, sizeof CAMERA);
    file[COMPRESSION_AT] = 7;
    memcpy(file.data() + DATA_AT, data, size);
    return fuzzOneInput(file.data(), file.size(), index);
}
