// Wavefront raster images: three colour channels and an optional matte of
// 8 bits, each line of each channel run-length coded on its own.
//
// A 740-byte big-endian header (window and active window as left, right,
// bottom, top; channel counts; text fields; "rgb" as the channel names), a
// table of one 32-bit offset per line, bottom line first, then the lines: per
// channel a 16-bit byte count and that many bytes of runs. A count byte c of
// 128 or more is followed by 256 - c literal bytes, a smaller one by one byte
// repeated c + 1 times. Lines hold the active window's pixels.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_RLA[] = "Wavefront Raster Image";
const char MSG_BAD_LINE[] = "Wavefront : Bad scanline encoding !";
const char MSG_BAD_WINDOW[] = "Wavefront : Bad window !";
const char MSG_BAD_BITS[] = "Wavefront : Bad sample size !";

constexpr size_t HEADER_BYTES = 740;
constexpr size_t OFF_ACTIVE = 8;
constexpr size_t OFF_CHANNELS = 20;
constexpr size_t OFF_MATTES = 22;
constexpr size_t OFF_AUX = 24;
constexpr size_t OFF_REVISION = 26;
constexpr size_t OFF_GAMMA = 28;
constexpr size_t OFF_PRIMARIES = 44;
constexpr size_t OFF_NAME = 144;
constexpr size_t OFF_DESCRIPTION = 272;
constexpr size_t OFF_PROGRAM = 400;
constexpr size_t OFF_DATE = 528;
constexpr size_t OFF_ASPECT = 548;
constexpr size_t OFF_RATIO = 572;
constexpr size_t OFF_CHANNEL_NAMES = 580;
constexpr size_t OFF_CHANNEL_BITS = 658;
constexpr uint16_t NEW_REVISION = 0xFFFE;

struct Window {
    int32_t left, right, bottom, top;
};

Window windowAt(const uint8_t* p) {
    return {static_cast<int16_t>(loadU16BE(p)), static_cast<int16_t>(loadU16BE(p + 2)),
            static_cast<int16_t>(loadU16BE(p + 4)), static_cast<int16_t>(loadU16BE(p + 6))};
}

bool headerLooksRight(const uint8_t* h) {
    const Window active = windowAt(h + OFF_ACTIVE);
    return memcmp(h + OFF_CHANNEL_NAMES, "rgb", 4) == 0 && active.right >= active.left &&
           active.top >= active.bottom && loadU16BE(h + OFF_CHANNELS) == 3 && loadU16BE(h + OFF_MATTES) <= 1 &&
           loadU16BE(h + OFF_AUX) == 0;
}

// Decodes n coded bytes into up to width bytes of out.
void decodeRuns(const uint8_t* in, int64_t n, uint8_t* out, int64_t width) {
    int64_t x = 0;
    for (int64_t i = 0; i < n && x < width;) {
        const int c = in[i++];
        if (c >= 128) {
            for (int k = 0; k < 256 - c && i < n; ++k, ++i)
                if (x < width) out[x++] = in[i];
        } else if (i < n) {
            const int64_t run = std::min<int64_t>(c + 1, width - x);
            memset(out + x, in[i++], static_cast<size_t>(run));
            x += run;
        }
    }
}

// Codes n bytes as runs (2 or more equal bytes) and literal groups of up to 128.
size_t encodeRuns(const uint8_t* in, int64_t n, uint8_t* out) {
    size_t o = 0;
    int64_t i = 0;
    while (i < n) {
        int64_t run = 1;
        while (i + run < n && run < 128 && in[i + run] == in[i]) ++run;
        if (run >= 2) {
            out[o++] = static_cast<uint8_t>(run - 1);
            out[o++] = in[i];
            i += run;
            continue;
        }
        int64_t lit = 1;
        while (i + lit < n && lit < 128 && !(i + lit + 1 < n && in[i + lit] == in[i + lit + 1])) ++lit;
        out[o++] = static_cast<uint8_t>(256 - lit);
        memcpy(out + o, in + i, static_cast<size_t>(lit));
        o += static_cast<size_t>(lit);
        i += lit;
    }
    return o;
}

void putText(uint8_t* h, size_t at, size_t size, const char* text) {
    strncpy(reinterpret_cast<char*>(h + at), text, size);
}

void put16(uint8_t* h, size_t at, uint32_t v) {
    h[at] = static_cast<uint8_t>(v >> 8);
    h[at + 1] = static_cast<uint8_t>(v);
}

}  // namespace

bool acceptRla(const uint8_t* head, size_t n, int64_t) {
    return n >= HEADER_BYTES && headerLooksRight(head);
}

Status readRla(FILE* stream, LoadRequest* request) {
    uint8_t h[HEADER_BYTES];
    if (!readBlock(stream, h, sizeof h) || !headerLooksRight(h)) return ST_UNKNOWN_FORMAT;
    const Window window = windowAt(h);
    const Window active = windowAt(h + OFF_ACTIVE);
    if (active.left < window.left || active.right > window.right || active.bottom < window.bottom ||
        active.top > window.top) {
        setReaderMessage(request, MSG_BAD_WINDOW);
        return ST_BAD_FILE;
    }
    const uint16_t bits = loadU16BE(h + OFF_CHANNEL_BITS);
    if (loadU16BE(h + OFF_REVISION) == NEW_REVISION && bits != 8 && bits != 0) {
        setReaderMessage(request, MSG_BAD_BITS);
        return ST_BAD_FILE;
    }
    const int planes = loadU16BE(h + OFF_CHANNELS) + loadU16BE(h + OFF_MATTES);
    const int32_t width = window.right - window.left + 1;
    const int32_t activeWidth = active.right - active.left + 1;
    const int32_t height = active.top - active.bottom + 1;
    const int32_t shift = active.left - window.left;

    RasterHeader rh{};
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = width;
    rh.height = height;
    rh.planes = static_cast<int16_t>(planes);
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = width;
    setRasterName(rh.name, NAME_RLA);
    rh.compression = "RLE";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    const int64_t maxCount = 2 * int64_t(activeWidth);
    Buffer offsets = allocBuffer(4 * uint64_t(height));
    Buffer coded = allocBuffer(static_cast<uint64_t>(maxCount));
    Buffer line = allocBuffer(uint64_t(planes) * width);
    if (!offsets || !coded || !line) st = ST_NO_MEMORY;
    if (st == ST_OK && !readBlock(stream, offsets.get(), 4 * static_cast<size_t>(height))) st = ST_READ_ERROR;
    for (int32_t y = 0; st == ST_OK && y < height; ++y) {
        if (!seekTo(stream, loadU32BE(offsets.get() + 4 * y))) {
            st = ST_READ_ERROR;
            break;
        }
        memset(line.get(), 0, static_cast<size_t>(planes) * width);
        for (int p = 0; st == ST_OK && p < planes; ++p) {
            uint8_t c[2];
            if (!readBlock(stream, c, 2)) {
                st = ST_READ_ERROR;
                break;
            }
            const int64_t count = loadU16BE(c);
            if (count == 0 || count > maxCount) {
                setReaderMessage(request, MSG_BAD_LINE);
                st = ST_BAD_FILE;
                break;
            }
            if (!readBlock(stream, coded.get(), static_cast<size_t>(count))) {
                st = ST_READ_ERROR;
                break;
            }
            decodeRuns(coded.get(), count, line.get() + int64_t(p) * width + shift, activeWidth);
        }
        if (st == ST_READ_ERROR) deliverRow(line.get(), int64_t(planes) * width, y);
        if (st == ST_OK) st = deliverRow(line.get(), int64_t(planes) * width, y);
    }
    endImage(0, 8, nullptr);
    return st;
}

Status writeRla(FILE* stream, SaveRequest* request) {
    if (request->kind != KIND_ANY_TRUECOLOUR) return ST_KIND_REFUSED;
    const int32_t width = request->width, height = request->height;
    if (width < 1 || height < 1 || width > 0x7FFF || height > 0x7FFF) return ST_KIND_REFUSED;
    const int planes = request->bitsPerPixel == 32 && savedImageHasAlpha() ? 4 : 3;

    WriteHeader wh{};
    wh.orientation = OR_BOTTOM_UP;
    wh.channels = 1;
    wh.planes = static_cast<int16_t>(planes);
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = width;
    setRasterName(wh.name, NAME_RLA);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    Buffer offsets = allocBuffer(4 * uint64_t(height));
    Buffer coded = allocBuffer(2 * uint64_t(width) + 2);
    Buffer row = allocBuffer(uint64_t(planes) * width);
    if (!offsets || !coded || !row) st = ST_NO_MEMORY;

    uint8_t h[HEADER_BYTES] = {};
    for (int w = 0; w < 2; ++w) {
        put16(h, 8 * w + 2, static_cast<uint32_t>(width - 1));
        put16(h, 8 * w + 6, static_cast<uint32_t>(height - 1));
    }
    put16(h, 16, 1);
    put16(h, OFF_CHANNELS, 3);
    put16(h, OFF_MATTES, planes == 4 ? 1 : 0);
    putText(h, OFF_GAMMA, 16, "2.200");
    const char* primaries[4] = {"00.6700 00.3300", "00.2100 00.7100", "00.1400 00.0800", "00.3100 00.3160"};
    for (int i = 0; i < 4; ++i) putText(h, OFF_PRIMARIES + 24 * i, 24, primaries[i]);
    // The name field keeps the end of a longer path.
    const size_t nameLength = strnlen(request->fileName, sizeof request->fileName);
    putText(h, OFF_NAME, 128, request->fileName + (nameLength > 127 ? nameLength - 127 : 0));
    putText(h, OFF_DESCRIPTION, 128, "image file");
    putText(h, OFF_PROGRAM, 64, "Kaleos");
    const time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local)) strftime(reinterpret_cast<char*>(h + OFF_DATE), 20, "%Y-%m-%d %H:%M:%S", &local);
    putText(h, OFF_ASPECT, 24, "user defined");
    char ratio[16];
    snprintf(ratio, sizeof ratio, "%3.2f", static_cast<double>(width) / height);
    memcpy(h + OFF_RATIO, ratio, std::min<size_t>(strlen(ratio), 8));
    putText(h, OFF_CHANNEL_NAMES, 32, "rgb");
    put16(h, OFF_CHANNEL_BITS, 8);
    put16(h, OFF_CHANNEL_BITS + 4, planes == 4 ? 8 : 0);

    if (st == ST_OK && (!writeBlock(stream, h, sizeof h) || !writeBlock(stream, offsets.get(), 4 * size_t(height))))
        st = ST_WRITE_ERROR;
    int64_t position = int64_t(HEADER_BYTES) + 4 * int64_t(height);
    for (int32_t y = 0; st == ST_OK && y < height; ++y) {
        st = fetchRow(y, row.get(), int64_t(planes) * width);
        if (st != ST_OK) break;
        if (position > 0xFFFFFFFF) {
            st = ST_WRITE_ERROR;
            break;
        }
        const uint32_t at = static_cast<uint32_t>(position);
        uint8_t* o = offsets.get() + 4 * y;
        o[0] = static_cast<uint8_t>(at >> 24), o[1] = static_cast<uint8_t>(at >> 16);
        o[2] = static_cast<uint8_t>(at >> 8), o[3] = static_cast<uint8_t>(at);
        for (int p = 0; st == ST_OK && p < planes; ++p) {
            const size_t n = encodeRuns(row.get() + int64_t(p) * width, width, coded.get());
            const uint8_t count[2] = {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
            if (!writeBlock(stream, count, 2) || !writeBlock(stream, coded.get(), n)) st = ST_WRITE_ERROR;
            position += 2 + static_cast<int64_t>(n);
        }
    }
    if (st == ST_OK && (fseek(stream, static_cast<long>(HEADER_BYTES), SEEK_SET) != 0 ||
                        !writeBlock(stream, offsets.get(), 4 * size_t(height))))
        st = ST_WRITE_ERROR;
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
