// Fuzz target for following a load (any format, identified by trial): rows
// reported final keep their bytes to the end of a successful load, the record
// reported is the one returned, and rows are taken back while they still
// exist (AddressSanitizer reads them then).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kaleocore.h"
#include "stream.h"

namespace {

struct Followed {
    std::vector<uint64_t> rowHashes;   // one per row reported final
    Image picture{};
    bool withdrawn = false;
    int reports = 0;
};

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "follow fuzz: %s\n", what);
    abort();
}

uint64_t hashRow(const Image& img, int32_t y) {
    const uint8_t* p = imageRow(&img, y);
    uint64_t h = 1469598103934665603ull;
    for (int64_t i = 0; i < int64_t(img.width) * img.bytesPerPixel; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

void follow(int32_t rows, const Image* picture, void* datum) {
    Followed* f = static_cast<Followed*>(datum);
    if (f->withdrawn) fail("rows reported after they were taken back");
    if (f->reports++ > 0 && memcmp(&f->picture, picture, sizeof *picture) != 0) fail("the record changed");
    f->picture = *picture;
    if (rows == FOLLOW_WITHDRAWN) {
        f->withdrawn = true;
        for (size_t y = 0; y < f->rowHashes.size(); ++y) (void)hashRow(*picture, static_cast<int32_t>(y));
        return;
    }
    if (rows <= static_cast<int32_t>(f->rowHashes.size()) || rows > picture->height) fail("rows out of order");
    for (int32_t y = static_cast<int32_t>(f->rowHashes.size()); y < rows; ++y) f->rowHashes.push_back(hashRow(*picture, y));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    setPixelLimit(uint64_t{4} << 20);
    Buffer bytes = allocBuffer(size);
    if (!bytes) return 0;
    memcpy(bytes.get(), data, size);
    IoOptions o = defaultIoOptions();
    const uint8_t last = data[size - 1];
    if (last & 0x01) o.bgrOrder = 1;
    if (last & 0x02) o.orientation |= OR_MIRRORED;
    if (last & 0x04) o.flags |= OPT_ACCEPT_DAMAGED;
    if (last & 0x08) o.flags |= OPT_TRUECOLOUR;
    o.rowAlignment = static_cast<int16_t>(1 + ((last >> 4) & 3));

    Followed f;
    setLoadFollower(follow, &f);
    OwnedImage img;
    FILE* stream = fmemopen(bytes.get(), size, "rb");
    if (!stream) return 0;
    const Status st = loadImageFromStream(stream, "fuzz-input", static_cast<int64_t>(size), &img, &o, nullptr);
    fclose(stream);
    setLoadFollower(nullptr, nullptr);
    if (st != ST_OK || f.withdrawn || f.rowHashes.empty()) return 0;
    const Image& p = f.picture;
    if (img.pixels != p.pixels || img.kind != p.kind || img.width != p.width || img.height != p.height ||
        img.stride != p.stride || img.palette)
        fail("the load returned another record than it reported");
    for (size_t y = 0; y < f.rowHashes.size(); ++y)
        if (hashRow(img, static_cast<int32_t>(y)) != f.rowHashes[y]) fail("a row reported final changed");
    return 0;
}
