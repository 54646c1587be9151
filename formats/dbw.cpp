// DBW_Render ray tracer output (reader only, reached only by choice).
//
// The tracer dumps its C ints as the machine stores them: the width and the
// height, then one record a traced line: the line number (0 at the top) and
// the red, green and blue planes of the line. The classic ports (Amiga, big-
// endian; MS-DOS and RISC OS, little-endian) use 16-bit ints and 4-bit
// components packed four to an int from its low bits, so a record is
// 2 + 3 x width / 2 bytes; the Win32 rebuild uses 32-bit little-endian ints
// and 7-bit components a byte each, 4 + 3 x width bytes. The variant is the
// one whose records fill the file exactly. Lines never traced stay black.
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_DBW[] = "DBW Render";
constexpr int32_t MAX_SIDE = 4096;

enum Variant { NONE, NIBBLES_LE, NIBBLES_BE, BYTES_LE };

struct DbwLayout {
    Variant variant = NONE;
    int32_t width = 0, height = 0;
    int64_t header = 0, record = 0, records = 0;
};

bool fits(DbwLayout* d, Variant v, int64_t w, int64_t h, int64_t fileSize) {
    if (w < 1 || w > MAX_SIDE || h < 1 || h > MAX_SIDE) return false;
    const int64_t header = v == BYTES_LE ? 8 : 4;
    int64_t record;
    if (v == BYTES_LE) {
        record = 4 + 3 * w;
    } else {
        if (w % 2 != 0) return false;
        record = 2 + 3 * (w / 2);
    }
    const int64_t body = fileSize - header;
    if (body <= 0 || body % record != 0 || body / record > h) return false;
    d->variant = v;
    d->width = static_cast<int32_t>(w);
    d->height = static_cast<int32_t>(h);
    d->header = header;
    d->record = record;
    d->records = body / record;
    return true;
}

DbwLayout dbwLayout(const uint8_t* b, size_t n, int64_t fileSize) {
    DbwLayout d;
    if (n < 8) return d;
    if (fits(&d, NIBBLES_LE, loadU16LE(b), loadU16LE(b + 2), fileSize)) return d;
    if (fits(&d, NIBBLES_BE, loadU16BE(b), loadU16BE(b + 2), fileSize)) return d;
    if (fits(&d, BYTES_LE, loadU32LE(b), loadU32LE(b + 4), fileSize)) return d;
    return DbwLayout();
}

// Component x of a plane.
uint8_t component(const DbwLayout& d, const uint8_t* plane, int32_t x) {
    if (d.variant == BYTES_LE) {
        const int v = plane[x] & 0x7F;
        return static_cast<uint8_t>(v * 255 / 127);
    }
    // Four pixels an int from its low bits: pixel k of an int is bits 4k..4k+3,
    // so a little-endian byte holds the left pixel low, a big-endian int's
    // second byte comes first.
    unsigned v;
    if (d.variant == NIBBLES_LE) v = plane[x / 2] >> (4 * (x % 2));
    else v = loadU16BE(plane + 2 * (x / 4)) >> (4 * (x % 4));
    return static_cast<uint8_t>((v & 15) * 17);
}

}  // namespace

bool acceptDbw(const uint8_t* head, size_t n, int64_t fileSize) {
    return dbwLayout(head, n, fileSize).variant != NONE;
}

Status readDbw(FILE* stream, LoadRequest* request) {
    uint8_t head[8];
    if (!readBlock(stream, head, sizeof head)) return ST_UNKNOWN_FORMAT;
    const DbwLayout d = dbwLayout(head, sizeof head, request->fileSize);
    if (d.variant == NONE) return ST_UNKNOWN_FORMAT;
    Status st = checkPictureBudget(d.width, d.height, 3);
    if (st != ST_OK) return st;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = d.width;
    rh.height = d.height;
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = 3 * d.width;
    setRasterName(rh.name, NAME_DBW);
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    // Records may come in any order: gather the picture, then hand it over.
    const int64_t rowBytes = 3 * static_cast<int64_t>(d.width);
    Buffer picture = allocBuffer(static_cast<uint64_t>(rowBytes * d.height));
    Buffer record = allocBuffer(static_cast<uint64_t>(d.record));
    if (!picture || !record) {
        endImage(0, 8, nullptr);
        return ST_NO_MEMORY;
    }
    if (!seekTo(stream, static_cast<uint64_t>(d.header))) st = ST_READ_ERROR;
    const int64_t lineBytes = d.variant == BYTES_LE ? 4 : 2;
    const int64_t planeBytes = (d.record - lineBytes) / 3;
    for (int64_t r = 0; r < d.records && st == ST_OK; ++r) {
        if (!readBlock(stream, record.get(), static_cast<size_t>(d.record))) {
            st = ST_READ_ERROR;
            break;
        }
        const uint8_t* p = record.get();
        const int64_t line = d.variant == NIBBLES_BE ? loadU16BE(p) : d.variant == NIBBLES_LE ? loadU16LE(p) : loadU32LE(p);
        if (line < 0 || line >= d.height) continue;
        uint8_t* out = picture.get() + line * rowBytes;
        for (int c = 0; c < 3; ++c) {
            const uint8_t* plane = p + lineBytes + c * planeBytes;
            for (int32_t x = 0; x < d.width; ++x) {
                // A plane ending inside an int leaves its last pixels black.
                if (d.variant == NIBBLES_BE && 2 * (x / 4) + 2 > planeBytes) break;
                out[3 * x + c] = component(d, plane, x);
            }
        }
    }
    for (int32_t y = 0; y < d.height && st == ST_OK; ++y) st = deliverRow(picture.get() + y * rowBytes, rowBytes, y);
    endImage(0, 8, nullptr);
    return st;
}
