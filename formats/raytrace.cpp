// Pictures of rendering programs: MTV / Rayshade, DKB / QRT, Vivid, Alias
// and CLOE. Only CLOE carries a signature; the others are told by headers whose
// fields have few plausible values, and by their sizes.
//
// MTV: "width height\n", then rows of R,G,B bytes from the top. Some writers
// put one zero byte after the line feed; the file size tells which.
// DKB / QRT: width and height (16-bit little-endian), then per row its number
// (16 bits) and the row's reds, greens and blues as three lines.
// Vivid: five 16-bit big-endian words (width, height, 0, height or height - 1,
// 24), then packets count, blue, green, red; each row is coded on its own.
// Alias: five 16-bit big-endian words (width, height, x and y offsets, bits 24
// or 8), then packets count, blue, green, red or count, grey per row.
// CLOE: "CLOE", "II" or "MM" for the byte order, a sample type (8-bit, 16-bit
// or float), header fields, width and height (32-bit), the channel count;
// pixel data after 28 bytes, c samples per pixel, rows from the top.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

constexpr uint32_t MAX_SIDE = 16000;
constexpr int MAX_RUN = 255;

const char NAME_MTV[] = "MTV / Rayshade";
const char NAME_MTV_WRITE[] = "Mtv";
const char NAME_DKB[] = "DKB Trace / Qrt";
const char NAME_VIVID[] = "Vivid";
const char NAME_ALIAS_READ[] = "Alias Wavefront (RLE)";
const char NAME_ALIAS_WRITE[] = "Alias Wavefront";
const char NAME_CLOE_8[] = "CLOE Picture 8bits";
const char NAME_CLOE_16[] = "CLOE Picture 16bits";
const char NAME_CLOE_FLOAT[] = "CLOE Picture floating";
const char MSG_CLOE_BAD[] = "CLOE : Bad format !";

bool sideOk(uint32_t v) { return v >= 1 && v <= MAX_SIDE; }

// A writer's picture must fit the 16-bit fields of these headers.
bool fits16(const SaveRequest* r) {
    return r->width >= 1 && r->height >= 1 && r->width <= 0xFFFF && r->height <= 0xFFFF;
}

Status finishWrite(FILE* f, Status st) {
    endWrite();
    if (st == ST_OK && (fflush(f) != 0 || ferror(f))) st = ST_WRITE_ERROR;
    return st;
}

// ---- MTV --------------------------------------------------------------------

struct MtvHeader {
    uint32_t width, height;
    size_t dataStart;  // bytes before the first pixel
};

// "w h\n" with each number from 1 to 15999, then a zero byte when the size says so.
bool mtvParse(const uint8_t* b, size_t n, int64_t fileSize, MtvHeader* h) {
    uint32_t v[2] = {0, 0};
    size_t i = 0;
    for (int k = 0; k < 2; ++k) {
        size_t digits = 0;
        while (i < n && b[i] >= '0' && b[i] <= '9' && digits < 6) v[k] = v[k] * 10 + (b[i++] - '0'), ++digits;
        if (digits == 0 || v[k] < 1 || v[k] > 15999 || i >= n) return false;
        if (b[i++] != (k == 0 ? ' ' : '\n')) return false;
    }
    h->width = v[0];
    h->height = v[1];
    h->dataStart = i;
    const int64_t pixels = int64_t(3) * v[0] * v[1];
    if (fileSize == int64_t(i) + 1 + pixels && i < n && b[i] == 0) h->dataStart = i + 1;
    return fileSize <= 0 || fileSize >= int64_t(i) + 3;  // a file cut short still shows its rows
}

// ---- Run-length rows of Vivid and Alias -------------------------------------

// Decodes one row of packets (count, then bytesPerPacket - 1 values stored
// blue first) into R,G,B or grey pixels. ST_READ_ERROR at the end of the data.
Status readPacketRow(FILE* f, uint8_t* row, int32_t width, int valueBytes) {
    int32_t x = 0;
    while (x < width) {
        uint8_t p[4];
        if (!readBlock(f, p, static_cast<size_t>(1 + valueBytes))) return ST_READ_ERROR;
        int32_t n = p[0];
        if (n > width - x) n = width - x;  // a run never passes the end of the row
        for (int32_t i = 0; i < n; ++i, ++x) {
            if (valueBytes == 1) {
                row[x] = p[1];
            } else {
                row[3 * x] = p[3];
                row[3 * x + 1] = p[2];
                row[3 * x + 2] = p[1];
            }
        }
    }
    return ST_OK;
}

Status readPacketRows(FILE* f, int32_t width, int32_t height, int valueBytes) {
    const int64_t rowBytes = int64_t(width) * (valueBytes == 1 ? 1 : 3);
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) return ST_NO_MEMORY;
    for (int32_t y = 0; y < height; ++y) {
        memset(row.get(), 0, static_cast<size_t>(rowBytes));
        Status st = readPacketRow(f, row.get(), width, valueBytes);
        if (st != ST_OK) {
            // What the row had before the end still shows.
            deliverRow(row.get(), rowBytes, y);
            return st;
        }
        st = deliverRow(row.get(), rowBytes, y);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

// Codes one row of planes (R line, G line, B line, or one grey line) as
// packets of at most 255 equal pixels: count, blue, green, red or count, grey.
struct PacketCoder {
    int32_t width;
    int planes;
    Buffer out;
};

Status writePacketRow(void* data, FILE* f, uint8_t* row, int64_t) {
    auto* c = static_cast<PacketCoder*>(data);
    const int32_t w = c->width;
    uint8_t* o = c->out.get();
    size_t n = 0;
    auto same = [&](int32_t a, int32_t b) {
        for (int k = 0; k < c->planes; ++k)
            if (row[int64_t(k) * w + a] != row[int64_t(k) * w + b]) return false;
        return true;
    };
    for (int32_t x = 0; x < w;) {
        int32_t run = 1;
        while (x + run < w && run < MAX_RUN && same(x, x + run)) ++run;
        o[n++] = static_cast<uint8_t>(run);
        for (int k = c->planes - 1; k >= 0; --k) o[n++] = row[int64_t(k) * w + x];
        x += run;
    }
    return writeBlock(f, o, n) ? ST_OK : ST_WRITE_ERROR;
}

Status writePacketRows(FILE* f, int32_t width, int32_t height, int planes) {
    PacketCoder c{width, planes, allocBuffer(uint64_t(width) * (planes + 1))};
    if (!c.out) return ST_NO_MEMORY;
    return writeRows(f, int64_t(width) * planes, height, writePacketRow, &c);
}

// ---- CLOE -------------------------------------------------------------------

constexpr size_t CLOE_HEADER = 28;
constexpr uint8_t CLOE_8BIT = 0x8B;
constexpr uint8_t CLOE_16BIT = 0x8C;
constexpr uint8_t CLOE_FLOAT = 0x8D;
constexpr uint32_t CLOE_MIN_FIELD = 272;

uint16_t load16(const uint8_t* p, bool big) { return big ? loadU16BE(p) : loadU16LE(p); }
uint32_t load32(const uint8_t* p, bool big) { return big ? loadU32BE(p) : loadU32LE(p); }

// One 16-bit or float sample as a byte: the high byte, or f x 255 clamped.
uint8_t cloeSample(const uint8_t* p, uint8_t type, bool big) {
    if (type == CLOE_16BIT) return big ? p[0] : p[1];
    const uint32_t bits = load32(p, big);
    float f;
    memcpy(&f, &bits, sizeof f);
    const float v = f * 255.0f;
    if (!(v > 0.0f)) return 0;  // negative and not-a-number
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(v);
}

}  // namespace

// ---- MTV --------------------------------------------------------------------

bool acceptMtv(const uint8_t* head, size_t n, int64_t fileSize) {
    MtvHeader h{};
    return mtvParse(head, n, fileSize, &h);
}

Status readMtv(FILE* stream, LoadRequest* request) {
    uint8_t b[16];
    const size_t n = fread(b, 1, sizeof b, stream);
    MtvHeader h{};
    if (!mtvParse(b, n, request->fileSize, &h)) return ST_UNKNOWN_FORMAT;
    if (!seekTo(stream, h.dataStart)) return ST_READ_ERROR;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = 3 * rh.width;
    setRasterName(rh.name, NAME_MTV);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.bytesPerPlane, rh.height);
    endImage(0, 8, nullptr);
    return st;
}

Status writeMtv(FILE* stream, SaveRequest* request) {
    if (request->kind != KIND_ANY_TRUECOLOUR) return ST_KIND_REFUSED;
    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 24;
    wh.bytesPerPlane = 3 * request->width;
    setRasterName(wh.name, NAME_MTV_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    if (fprintf(stream, "%d %d\n", static_cast<int>(request->width), static_cast<int>(request->height)) < 0)
        st = ST_WRITE_ERROR;
    if (st == ST_OK) st = writeRows(stream, wh.bytesPerPlane, request->height);
    return finishWrite(stream, st);
}

// ---- DKB / QRT --------------------------------------------------------------

bool acceptDkb(const uint8_t* head, size_t n, int64_t fileSize) {
    if (n < 6) return false;
    const uint32_t w = loadU16LE(head), h = loadU16LE(head + 2);
    return sideOk(w) && sideOk(h) && loadU16LE(head + 4) < h && fileSize == 4 + int64_t(h) * (3 * int64_t(w) + 2);
}

Status readDkb(FILE* stream, LoadRequest* request) {
    uint8_t b[4];
    if (!readBlock(stream, b, sizeof b)) return ST_UNKNOWN_FORMAT;
    const uint32_t w = loadU16LE(b), h = loadU16LE(b + 2);
    if (!sideOk(w) || !sideOk(h) || request->fileSize != 4 + int64_t(h) * (3 * int64_t(w) + 2))
        return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(w);
    rh.height = static_cast<int32_t>(h);
    rh.planes = 3;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, NAME_DKB);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    // Each row: its number, then the three lines; the number is not needed.
    const int64_t rowBytes = 3 * int64_t(w);
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < rh.height; ++y) {
        if (!skipBytes(stream, 2) || !readBlock(stream, row.get(), static_cast<size_t>(rowBytes))) {
            st = ST_READ_ERROR;
            break;
        }
        st = deliverRow(row.get(), rowBytes, y);
    }
    endImage(0, 8, nullptr);
    return st;
}

Status writeDkb(FILE* stream, SaveRequest* request) {
    if (request->kind != KIND_ANY_TRUECOLOUR) return ST_KIND_REFUSED;
    if (!fits16(request)) return ST_KIND_REFUSED;
    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 3;
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = request->width;
    setRasterName(wh.name, NAME_DKB);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    writeU16LE(stream, static_cast<uint32_t>(request->width));
    writeU16LE(stream, static_cast<uint32_t>(request->height));
    const int64_t rowBytes = 3 * int64_t(request->width);
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < request->height; ++y) {
        st = fetchRow(y, row.get(), rowBytes);
        if (st != ST_OK) break;
        writeU16LE(stream, static_cast<uint32_t>(y));
        if (!writeBlock(stream, row.get(), static_cast<size_t>(rowBytes))) st = ST_WRITE_ERROR;
    }
    return finishWrite(stream, st);
}

// ---- Vivid ------------------------------------------------------------------

bool acceptVivid(const uint8_t* head, size_t n, int64_t) {
    if (n < 14) return false;
    const uint32_t w = loadU16BE(head), h = loadU16BE(head + 2), fourth = loadU16BE(head + 6);
    return sideOk(w) && sideOk(h) && loadU16BE(head + 4) == 0 && (fourth == h || fourth == h - 1) &&
           loadU16BE(head + 8) == 24 && head[10] != 0;
}

Status readVivid(FILE* stream, LoadRequest*) {
    uint8_t b[10];
    if (!readBlock(stream, b, sizeof b)) return ST_UNKNOWN_FORMAT;
    const uint32_t w = loadU16BE(b), h = loadU16BE(b + 2), fourth = loadU16BE(b + 6);
    if (!sideOk(w) || !sideOk(h) || loadU16BE(b + 4) != 0 || (fourth != h && fourth != h - 1) ||
        loadU16BE(b + 8) != 24)
        return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(w);
    rh.height = static_cast<int32_t>(h);
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = 3 * rh.width;
    setRasterName(rh.name, NAME_VIVID);
    rh.compression = "RLE";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readPacketRows(stream, rh.width, rh.height, 3);
    endImage(0, 8, nullptr);
    return st;
}

Status writeVivid(FILE* stream, SaveRequest* request) {
    if (request->kind != KIND_ANY_TRUECOLOUR) return ST_KIND_REFUSED;
    if (!fits16(request)) return ST_KIND_REFUSED;
    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 3;
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = request->width;
    setRasterName(wh.name, NAME_VIVID);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    const uint32_t words[5] = {static_cast<uint32_t>(request->width), static_cast<uint32_t>(request->height), 0,
                               static_cast<uint32_t>(request->height), 24};
    for (uint32_t v : words) writeU16BE(stream, v);
    st = writePacketRows(stream, request->width, request->height, 3);
    return finishWrite(stream, st);
}

// ---- Alias ------------------------------------------------------------------

// A Vivid header is an Alias header with offsets 0 and the height and 24 bits,
// and the packets that follow are the same: such files are left to the Vivid
// reader, which decodes them alike.
bool acceptAlias(const uint8_t* head, size_t n, int64_t) {
    if (n < 12) return false;
    const uint32_t bits = loadU16BE(head + 8);
    if (bits == 24 && loadU16BE(head + 4) == 0 && loadU16BE(head + 6) == loadU16BE(head + 2)) return false;
    return sideOk(loadU16BE(head)) && sideOk(loadU16BE(head + 2)) && (bits == 24 || bits == 8) && head[10] != 0;
}

Status readAlias(FILE* stream, LoadRequest*) {
    uint8_t b[10];
    if (!readBlock(stream, b, sizeof b)) return ST_UNKNOWN_FORMAT;
    const uint32_t w = loadU16BE(b), h = loadU16BE(b + 2), bits = loadU16BE(b + 8);
    if (!sideOk(w) || !sideOk(h) || (bits != 24 && bits != 8)) return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(w);
    rh.height = static_cast<int32_t>(h);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(bits);
    rh.bytesPerPlane = static_cast<int32_t>(bits / 8 * w);
    setRasterName(rh.name, NAME_ALIAS_READ);
    rh.compression = "RLE";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readPacketRows(stream, rh.width, rh.height, bits == 24 ? 3 : 1);
    endImage(0, 8, nullptr);
    return st;
}

Status writeAlias(FILE* stream, SaveRequest* request) {
    int planes;
    switch (request->kind) {
    case KIND_ANY_TRUECOLOUR: planes = 3; break;
    case IMG_GREY:
    case IMG_BINARY: planes = 1; break;
    default: return ST_KIND_REFUSED;
    }
    if (!fits16(request)) return ST_KIND_REFUSED;
    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = static_cast<int16_t>(planes);
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = request->width;
    setRasterName(wh.name, NAME_ALIAS_WRITE);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    const uint32_t words[5] = {static_cast<uint32_t>(request->width), static_cast<uint32_t>(request->height), 0, 0,
                               planes == 3 ? 24u : 8u};
    for (uint32_t v : words) writeU16BE(stream, v);
    st = writePacketRows(stream, request->width, request->height, planes);
    return finishWrite(stream, st);
}

// ---- CLOE -------------------------------------------------------------------

bool acceptCloe(const uint8_t* head, size_t n, int64_t) {
    return n >= 6 && memcmp(head, "CLOE", 4) == 0 &&
           ((head[4] == 'I' && head[5] == 'I') || (head[4] == 'M' && head[5] == 'M'));
}

Status readCloe(FILE* stream, LoadRequest* request) {
    uint8_t b[CLOE_HEADER];
    if (!readBlock(stream, b, 6) || !acceptCloe(b, 6, 0)) return ST_UNKNOWN_FORMAT;
    const bool big = b[4] == 'M';
    if (!readBlock(stream, b + 6, CLOE_HEADER - 6)) return ST_READ_ERROR;
    const uint8_t type = b[6];
    if (b[7] != type || (type != CLOE_8BIT && type != CLOE_16BIT && type != CLOE_FLOAT) ||
        load16(b + 8, big) < CLOE_MIN_FIELD) {
        setReaderMessage(request, MSG_CLOE_BAD);
        return ST_BAD_FILE;
    }
    const uint32_t w = load32(b + 12, big), h = load32(b + 16, big), c = load16(b + 20, big);
    if (c != 1 && c != 3 && c != 4) {
        setReaderMessage(request, MSG_CLOE_BAD);
        return ST_BAD_FILE;
    }
    if (w < 1 || h < 1 || w > MAX_IMAGE_SIDE || h > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_CLOE_BAD);
        return ST_BAD_FILE;
    }
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(w);
    rh.height = static_cast<int32_t>(h);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(8 * c);
    rh.bytesPerPlane = static_cast<int32_t>(c * w);
    setRasterName(rh.name, type == CLOE_8BIT ? NAME_CLOE_8 : type == CLOE_16BIT ? NAME_CLOE_16 : NAME_CLOE_FLOAT);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    if (type == CLOE_8BIT) {
        st = readRows(stream, rh.bytesPerPlane, rh.height);
    } else {
        const size_t sampleBytes = type == CLOE_16BIT ? 2 : 4;
        const int64_t outBytes = int64_t(c) * w;
        const int64_t inBytes = outBytes * static_cast<int64_t>(sampleBytes);
        Buffer in = allocBuffer(static_cast<uint64_t>(inBytes));
        Buffer out = allocBuffer(static_cast<uint64_t>(outBytes));
        if (!in || !out) st = ST_NO_MEMORY;
        for (int32_t y = 0; st == ST_OK && y < rh.height; ++y) {
            const size_t got = fread(in.get(), 1, static_cast<size_t>(inBytes), stream);
            const size_t samples = got / sampleBytes;
            memset(out.get(), 0, static_cast<size_t>(outBytes));
            for (size_t i = 0; i < samples; ++i) out[i] = cloeSample(in.get() + i * sampleBytes, type, big);
            if (got < static_cast<size_t>(inBytes)) {
                // The data end: the row begun shows what it had.
                if (got > 0) deliverRow(out.get(), outBytes, y);
                st = ST_READ_ERROR;
                break;
            }
            st = deliverRow(out.get(), outBytes, y);
        }
    }
    endImage(0, 8, nullptr);
    return st;
}
