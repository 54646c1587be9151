// Kodak Cineon film scans. Reading: 1 to 15 bits per sample, 1, 3 or more
// channels interleaved by pixel, scaled to 8 bits. Writing: 10-bit R,G,B, one
// 32-bit word per pixel, the layout of version 4.5.
//
// Big-endian throughout. A 1024-byte generic header (file information, image
// information with one 28-byte descriptor per channel, data format,
// origination), a 1024-byte film header, then the pixels at the image offset.
// Samples are packed most significant bit first: packing 0 runs them on as a
// bit stream; packings 1 to 6 fit whole samples into 8-, 16- or 32-bit units
// (odd numbers left justified, even ones right justified), and every row starts
// on a new unit.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_CINEON[] = "Kodak Cineon";
const char MSG_CHANNELS[] = "Kodak Cineon : Bad number of channels !";
const char MSG_LAYOUT[] = "Kodak Cineon : Unsupported data layout !";

constexpr uint32_t CINEON_MAGIC = 0x802A5FD7;
constexpr size_t GENERIC_BYTES = 1024;
constexpr size_t FILM_BYTES = 1024;
constexpr size_t IMAGE_INFO = 192;
constexpr size_t DATA_FORMAT = 680;
constexpr size_t ORIGINATION = 712;

// Reads samples from a row of units of unitBits bits.
struct SampleReader {
    ChunkReader* in;
    int bits;         // per sample
    int unitBits;     // 0: a plain bit stream
    bool rightJustified;
    uint64_t acc = 0;
    int pending = 0;  // bits left in acc
    int perUnit = 0;  // samples left in the current unit
    bool eof = false;

    int byte() {
        const int c = in->get();
        if (c < 0) eof = true;
        return c < 0 ? 0 : c;
    }
    void startRow() {
        acc = 0;
        pending = 0;
        perUnit = 0;
    }
    uint32_t take() {
        if (unitBits == 0 || bits > unitBits) {
            // A bit stream, or samples spread over whole units with the value at one end.
            const int span = unitBits == 0 ? bits : (bits + unitBits - 1) / unitBits * unitBits;
            while (pending < span) acc = (acc << 8) | static_cast<uint64_t>(byte()), pending += 8;
            uint64_t v = acc >> (pending - span);
            pending -= span;
            acc &= (uint64_t(1) << pending) - 1;
            if (span != bits) v = rightJustified ? (v & ((1u << bits) - 1)) : (v >> (span - bits));
            return static_cast<uint32_t>(v);
        }
        if (perUnit == 0) {
            acc = 0;
            for (int i = 0; i < unitBits / 8; ++i) acc = (acc << 8) | static_cast<uint64_t>(byte());
            perUnit = unitBits / bits;
            // Left justified: the first sample in the top bits; right: the unused bits on top.
            pending = rightJustified ? perUnit * bits : unitBits;
        }
        --perUnit;
        pending -= bits;
        return static_cast<uint32_t>((acc >> pending) & ((1u << bits) - 1));
    }
};

// 8 bits to 10, rounded up: reading scales back with truncation (as other
// readers do), so every byte value comes back as it was.
uint32_t tenBits(uint8_t v) { return (uint32_t(v) * 1023 + 254) / 255; }

void storeU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24), p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8), p[3] = static_cast<uint8_t>(v);
}

void storeFloat(uint8_t* p, float f) {
    uint32_t v;
    memcpy(&v, &f, 4);
    storeU32(p, v);
}

}  // namespace

bool acceptCineon(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < IMAGE_INFO + 4 + 28 || loadU32BE(head) != CINEON_MAGIC || loadU32BE(head + 8) < GENERIC_BYTES) return false;
    if (fileSize > 0 && loadU32BE(head + 4) >= static_cast<uint64_t>(fileSize)) return false;
    const int bits = head[IMAGE_INFO + 4 + 2];
    return bits >= 1 && bits <= 15;
}

Status readCineon(FILE* stream, LoadRequest* request) {
    uint8_t h[GENERIC_BYTES];
    if (!readBlock(stream, h, sizeof h) || !acceptCineon(h, sizeof h, request->fileSize)) return ST_UNKNOWN_FORMAT;
    const int fileChannels = h[IMAGE_INFO + 1];
    const int bits = h[IMAGE_INFO + 4 + 2];
    const int interleave = h[DATA_FORMAT];
    const int packing = h[DATA_FORMAT + 1];
    if (fileChannels != 1 && fileChannels < 3) {
        setReaderMessage(request, MSG_CHANNELS);
        return ST_BAD_FILE;
    }
    if (interleave != 0 || packing > 6) {
        setReaderMessage(request, MSG_LAYOUT);
        return ST_BAD_FILE;
    }
    const int channels = std::min(fileChannels, 4);
    const uint32_t width = loadU32BE(h + IMAGE_INFO + 4 + 4);
    const uint32_t height = loadU32BE(h + IMAGE_INFO + 4 + 8);
    if (width < 1 || height < 1 || width > MAX_IMAGE_SIDE || height > MAX_IMAGE_SIDE) return ST_UNKNOWN_FORMAT;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(8 * channels);
    rh.bytesPerPlane = channels * rh.width;
    setRasterName(rh.name, NAME_CINEON);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    if (!seekTo(stream, loadU32BE(h + 4))) st = ST_READ_ERROR;

    static const int UNIT_BITS[7] = {0, 8, 8, 16, 16, 32, 32};
    ChunkReader chunks(stream);
    SampleReader in{&chunks, bits, UNIT_BITS[packing], packing != 0 && packing % 2 == 0};
    const uint32_t maximum = (1u << bits) - 1;
    Buffer row = allocBuffer(static_cast<uint64_t>(rh.bytesPerPlane));
    Buffer scale = allocBuffer(uint64_t(maximum) + 1);  // sample value to byte
    if (!row || !scale) st = ST_NO_MEMORY;
    for (uint32_t v = 0; scale && v <= maximum; ++v) scale[v] = static_cast<uint8_t>(v * 255 / maximum);
    // The common layouts go a whole row at a time: bytes, and 10-bit R,G,B words.
    const bool bytes = bits == 8 && packing != 0;
    const bool words = bits == 10 && fileChannels == 3 && (packing == 5 || packing == 6);
    const int64_t unitBytes = UNIT_BITS[packing] / 8;
    const int64_t storedRow = bytes ? (int64_t(rh.width) * fileChannels + unitBytes - 1) / unitBytes * unitBytes
                                    : 4 * int64_t(rh.width);
    Buffer stored = (bytes || words) ? allocBuffer(static_cast<uint64_t>(storedRow)) : Buffer();
    if ((bytes || words) && !stored) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < rh.height; ++y) {
        uint8_t* o = row.get();
        if (bytes || words) {
            memset(stored.get(), 0, static_cast<size_t>(storedRow));
            in.eof = !chunks.read(stored.get(), static_cast<size_t>(storedRow));
            const uint8_t* s = stored.get();
            const int shift = packing == 5 ? 2 : 0;
            for (int32_t x = 0; x < rh.width; ++x) {
                if (words) {
                    const uint32_t v = loadU32BE(s + 4 * int64_t(x)) >> shift;
                    *o++ = scale[(v >> 20) & 0x3FF], *o++ = scale[(v >> 10) & 0x3FF], *o++ = scale[v & 0x3FF];
                } else {
                    memcpy(o, s + int64_t(x) * fileChannels, static_cast<size_t>(channels));
                    o += channels;
                }
            }
        } else {
            if (packing != 0) in.startRow();
            for (int32_t x = 0; x < rh.width; ++x)
                for (int c = 0; c < fileChannels; ++c) {
                    const uint32_t v = in.take();
                    if (c < channels) *o++ = scale[v];
                }
        }
        if (in.eof) {
            deliverRow(row.get(), rh.bytesPerPlane, y);  // what the row had
            st = ST_READ_ERROR;
            break;
        }
        st = deliverRow(row.get(), rh.bytesPerPlane, y);
    }
    endImage(0, 8, nullptr);
    return st;
}

Status writeCineon(FILE* stream, SaveRequest* request) {
    if (request->kind != KIND_ANY_TRUECOLOUR) return ST_KIND_REFUSED;
    const uint32_t width = static_cast<uint32_t>(request->width), height = static_cast<uint32_t>(request->height);
    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 24;
    wh.bytesPerPlane = 3 * request->width;
    setRasterName(wh.name, NAME_CINEON);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    uint8_t h[GENERIC_BYTES + FILM_BYTES] = {};
    // File information.
    storeU32(h, CINEON_MAGIC);
    storeU32(h + 4, 2048);
    storeU32(h + 8, GENERIC_BYTES);
    storeU32(h + 12, FILM_BYTES);
    storeU32(h + 20, static_cast<uint32_t>(std::min<uint64_t>(4 * uint64_t(width) * height + 2048, 0xFFFFFFFF)));
    memcpy(h + 24, "V4.5", 4);
    // The name fields keep the end of a longer path.
    const size_t nameLength = strnlen(request->fileName, sizeof request->fileName);
    const char* name = request->fileName + (nameLength > 99 ? nameLength - 99 : 0);
    strncpy(reinterpret_cast<char*>(h + 32), name, 100);
    const time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local)) {
        strftime(reinterpret_cast<char*>(h + 132), 12, "%Y:%m:%d", &local);
        strftime(reinterpret_cast<char*>(h + 144), 12, "%H:%M:%S+10", &local);
    }
    // Image information: three 10-bit channels.
    uint8_t* info = h + IMAGE_INFO;
    info[1] = 3;
    info[2] = info[3] = 0xFF;
    for (int c = 0; c < 3; ++c) {
        uint8_t* d = info + 4 + 28 * c;
        d[1] = static_cast<uint8_t>(c + 1);
        d[2] = 10;
        storeU32(d + 4, width);
        storeU32(d + 8, height);
        storeFloat(d + 20, 1023.0f);
        storeFloat(d + 24, 2.0f);
    }
    for (int i = 0; i < 8; ++i) storeU32(info + 228 + 4 * i, 0x4EFF0000);
    h[DATA_FORMAT + 1] = 5;  // 32-bit units, left justified
    // Origination.
    strncpy(reinterpret_cast<char*>(h + ORIGINATION + 8), name, 100);
    storeU32(h + ORIGINATION + 260, 0x4326AB85);
    storeU32(h + ORIGINATION + 264, 0x4326AB85);
    storeFloat(h + ORIGINATION + 268, 1.0f);
    // Film header.
    uint8_t* film = h + GENERIC_BYTES;
    memset(film, 0xFF, 4);
    storeU32(film + 4, 0xFFFFFFFF);
    storeU32(film + 8, 0xFFFFFFFF);
    storeU32(film + 44, 255);
    storeU32(film + 48, 0x4EFF0000);
    memcpy(film + 52, "none", 4);
    if (!writeBlock(stream, h, sizeof h)) st = ST_WRITE_ERROR;

    const int64_t rowBytes = 3 * int64_t(width);
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    Buffer words = allocBuffer(4 * uint64_t(width));
    if (st == ST_OK && (!row || !words)) st = ST_NO_MEMORY;
    for (uint32_t y = 0; st == ST_OK && y < height; ++y) {
        st = fetchRow(static_cast<int32_t>(y), row.get(), rowBytes);
        if (st != ST_OK) break;
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = row.get() + 3 * x;
            storeU32(words.get() + 4 * x, tenBits(p[0]) << 22 | tenBits(p[1]) << 12 | tenBits(p[2]) << 2);
        }
        if (!writeBlock(stream, words.get(), 4 * size_t(width))) st = ST_WRITE_ERROR;
    }
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
