#include "harness.h"

#include <zlib.h>

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kaleocore.h"
#include "stream.h"

namespace {

// The first load is always a thumbnail of at most this side: it is cheap
// whatever the header claims, and tells the size of the picture.
constexpr int32_t PROBE_SIDE = 64;
// Loads at full size only when the picture has at most this many pixels;
// larger ones are loaded bounded to FALLBACK_SIDE so one input stays fast.
constexpr int64_t MAX_FULL_PIXELS = int64_t{4} << 20;
constexpr int32_t FALLBACK_SIDE = 1024;
// The name the input is loaded under: no extension, so identification runs by trial.
const char INPUT_NAME[] = "fuzz-input";

[[noreturn]] void fail(const char* pass, const char* what, int status) {
    fprintf(stderr, "fuzz: invariant broken in the %s load: %s (status %d %s)\n", pass, what, status,
            statusName(status));
    abort();
}

bool knownKind(uint16_t kind) {
    switch (kind) {
    case IMG_BINARY: case IMG_GREY: case IMG_PALETTE:
    case IMG_RGB: case IMG_RGB32: case IMG_BGR: case IMG_BGR32:
        return true;
    default:
        return false;
    }
}

void checkLoad(const char* pass, Status st, const Image& img, const IoOptions& o) {
    if (!isKnownStatus(st)) fail(pass, "unknown status", st);
    if (st != ST_OK) {
        if (img.pixels || img.palette) fail(pass, "pixels kept after a failure", st);
        return;
    }
    if (!img.pixels) fail(pass, "ST_OK without pixels", st);
    if (img.width < 1 || img.width > MAX_IMAGE_SIDE || img.height < 1 || img.height > MAX_IMAGE_SIDE)
        fail(pass, "size out of 1..15999", st);
    if (!knownKind(img.kind)) fail(pass, "unknown image kind", st);
    if (img.bytesPerPixel != kindBytesPerPixel(img.kind)) fail(pass, "bytes per pixel do not match the kind", st);
    if (static_cast<int64_t>(img.stride) < static_cast<int64_t>(img.bytesPerPixel) * img.width)
        fail(pass, "stride shorter than a row", st);
    if ((img.palette != nullptr) != (img.kind == IMG_PALETTE)) fail(pass, "palette present for the wrong kind", st);
    if (img.colours < 0 || img.colours > 256) fail(pass, "colour count out of 0..256", st);
    if (o.maxWidth > 0 && o.maxHeight > 0 && (img.width > o.maxWidth || img.height > o.maxHeight))
        fail(pass, "bounded load larger than asked", st);
    // Touch both ends of the buffers so AddressSanitizer checks their sizes.
    const uint8_t* last = imageRow(&img, img.height - 1);
    volatile uint8_t sink = static_cast<uint8_t>(img.pixels[0] ^ last[img.stride - 1]);
    if (img.palette) sink = static_cast<uint8_t>(sink ^ img.palette[PALETTE_BYTES - 1]);
    (void)sink;
}

// Options from the last four bytes of the input (the bytes stay part of the input).
IoOptions optionsFromTail(const uint8_t* data, size_t size, int formatIndex) {
    uint8_t b[4] = {};
    for (size_t i = 0; i < 4 && i < size; ++i) b[i] = data[size - 1 - i];
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(formatIndex);
    if (b[0] & 0x01) o.flags |= OPT_TRUECOLOUR;
    if (b[0] & 0x02) o.bgrOrder = 1;
    if (b[0] & 0x04) o.flags |= OPT_PREFER_32;
    if (b[0] & 0x08) o.flags |= OPT_ODD_TO_24;
    if (b[0] & 0x10) o.orientation |= OR_MIRRORED;
    if (b[0] & 0x20) o.orientation |= OR_BOTTOM_UP;
    if (b[0] & 0x40) o.flags |= OPT_ACCEPT_DAMAGED;
    if (b[0] & 0x80) {
        o.maxWidth = 1 + b[1];
        o.maxHeight = 1 + b[2];
    }
    o.rowAlignment = static_cast<int16_t>(1 + (b[3] & 7));
    return o;
}

Status loadBytes(uint8_t* bytes, size_t size, const char* name, const IoOptions& o, Image* img, FileInfo* info) {
    FILE* f = fmemopen(bytes, size, "rb");
    if (!f) return ST_CANNOT_OPEN;
    Status st = loadImageFromStream(f, name, static_cast<int64_t>(size), img, &o, info);
    fclose(f);
    return st;
}

// Examination needs a file name: the input goes into one memory file kept for the run.
Status examineBytes(const uint8_t* data, size_t size, int formatIndex, FileInfo* info, bool* ran) {
    static int fd = memfd_create("kaleo-fuzz", 0);
    *ran = false;
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return ST_OK;
    char name[64];
    snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    *ran = true;
    return readImageInfo(name, formatIndex, 0, info);
}

bool sizeInRange(const FileInfo& info) {
    return info.width >= 1 && info.width <= MAX_IMAGE_SIDE && info.height >= 1 && info.height <= MAX_IMAGE_SIDE;
}

}  // namespace

int fuzzOneInput(const uint8_t* data, size_t size, int formatIndex) {
    return fuzzOneInputNamed(data, size, formatIndex, INPUT_NAME);
}

int fuzzOneInputNamed(const uint8_t* data, size_t size, int formatIndex, const char* name) {
    if (size == 0) return 0;
    Buffer bytes = allocBuffer(size);
    if (!bytes) return 0;
    memcpy(bytes.get(), data, size);

    // 1. A small thumbnail with default options.
    IoOptions probe = defaultIoOptions();
    probe.formatIndex = static_cast<int16_t>(formatIndex);
    probe.maxWidth = PROBE_SIDE;
    probe.maxHeight = PROBE_SIDE;
    FileInfo probeInfo{};
    {
        OwnedImage img;
        Status st = loadBytes(bytes.get(), size, name, probe, &img, &probeInfo);
        checkLoad("probe", st, img, probe);
    }

    // 2. The options the input asks for, at full size when the picture is small.
    IoOptions o = optionsFromTail(data, size, formatIndex);
    bool bounded = o.maxWidth > 0 && o.maxHeight > 0;
    int64_t pixels = static_cast<int64_t>(probeInfo.width) * probeInfo.height;
    if (!bounded && (!sizeInRange(probeInfo) || pixels > MAX_FULL_PIXELS)) {
        o.maxWidth = FALLBACK_SIDE;
        o.maxHeight = FALLBACK_SIDE;
        bounded = true;
    }
    Status loaded;
    int32_t loadedWidth = 0, loadedHeight = 0;
    FileInfo loadInfo{};
    {
        OwnedImage img;
        loaded = loadBytes(bytes.get(), size, name, o, &img, &loadInfo);
        checkLoad("option", loaded, img, o);
        loadedWidth = img.width;
        loadedHeight = img.height;
    }

    // 3. Examination only: nothing decoded, the size reported.
    FileInfo info{};
    bool ran = false;
    Status examined = examineBytes(data, size, formatIndex, &info, &ran);
    if (ran) {
        if (!isKnownStatus(examined)) fail("examine", "unknown status", examined);
        if (examined == ST_OK && !sizeInRange(info)) fail("examine", "ST_OK without a size", examined);
        if (examined == ST_OK && loaded == ST_OK && !bounded &&
            (info.width != loadedWidth || info.height != loadedHeight || info.formatIndex != loadInfo.formatIndex))
            fail("examine", "examination and load disagree", examined);
    }
    return 0;
}

void fixChunkCrcs(uint8_t* b, size_t size, size_t start) {
    for (size_t at = start; at + 12 <= size;) {
        const uint64_t length = (uint64_t(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
        if (length > size - at - 12) break;
        const size_t crcAt = at + 8 + static_cast<size_t>(length);
        const uLong crc = crc32(0, b + at + 4, static_cast<uInt>(length + 4));
        for (int i = 0; i < 4; ++i) b[crcAt + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at = crcAt + 4;
    }
}
