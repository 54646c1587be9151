// Fuzz target for the headerless YUV and raw readers and the HRZ reader: the
// first byte picks the reader, the next ones the geometry the user would give
// (width, height, offset, channel type and order); the rest is the file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "harness.h"
#include "kaleocore.h"

namespace {

const char* const FORMATS[] = {"raw", "uyvyi", "uyvy", "yuv411", "yuv422", "yuv444", "hrz"};

void check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "yuv_fuzz: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const int format = findFormat(FORMATS[data[0] % (sizeof FORMATS / sizeof FORMATS[0])]);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(format);
    o.rawWidth = 1 + data[1] % 64 - (data[5] & 0x80 ? 2 : 0);  // sometimes 0 or negative
    o.rawHeight = 1 + data[2] % 64;
    o.rawOffset = data[3] % 16;
    o.rawLayout = static_cast<int16_t>(data[4] % 8);
    o.rawParameter = static_cast<int16_t>(data[5] % 4);
    if (data[5] & 0x40) {
        o.maxWidth = 8;
        o.maxHeight = 8;
    }
    const uint8_t* file = data + 6;
    const size_t n = size - 6;
    if (n == 0) return 0;
    FILE* f = fmemopen(const_cast<uint8_t*>(file), n, "rb");
    if (!f) return 0;
    OwnedImage img;
    FileInfo info{};
    const Status st = loadImageFromStream(f, "fuzz-input.raw", static_cast<int64_t>(n), &img, &o, &info);
    fclose(f);
    check(isKnownStatus(st), "unknown status");
    if (st != ST_OK) {
        check(!img.pixels, "pixels kept after a failure");
        return 0;
    }
    check(img.pixels && img.width >= 1 && img.height >= 1, "ST_OK without a picture");
    const uint8_t* last = imageRow(&img, img.height - 1);
    volatile uint8_t sink = static_cast<uint8_t>(img.pixels[0] ^ last[img.stride - 1]);
    (void)sink;
    return 0;
}
