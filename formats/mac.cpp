// MacPaint pictures: always 576 x 720 pixels, 1 bit per pixel, a set bit
// black, the leftmost pixel in the high bit.
//
// A 512-byte header (a version word, 38 fill patterns, padding) precedes 720
// rows of 72 bytes coded with PackBits (n < 128: n + 1 bytes follow; n >= 128:
// the next byte 257 - n times, so 128 is a run of 129, not a no-operation as
// in TIFF). Writers code each row alone, but the codes
// are read as one stream cut every 72 bytes. Files copied from a Macintosh
// often keep the 128-byte MacBinary header in front of the data.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_PLAIN[] = "MacPaint";
const char NAME_MACBINARY[] = "MacPaint (MacBinary)";

constexpr int32_t WIDTH = 576;
constexpr int32_t HEIGHT = 720;
constexpr int64_t ROW_BYTES = WIDTH / 8;
constexpr uint32_t HEADER = 512;
constexpr uint32_t MACBINARY = 128;
constexpr uint32_t MAX_VERSION = 3;

// The fields of a MacBinary header that never vary.
bool looksMacBinary(const uint8_t* b) {
    return b[0] == 0 && b[1] >= 1 && b[1] <= 63 && b[74] == 0 && b[82] == 0;
}

// Where the MacPaint data starts: 128 behind a MacBinary header, else 0.
// Outside a MacBinary header, the version word is small and the patterns are
// followed by zeros.
int64_t dataOffset(const uint8_t* head, size_t n) {
    if (n >= MACBINARY + 4 && looksMacBinary(head)) {
        if (memcmp(head + 65, "PNTG", 4) == 0) return MACBINARY;
        if (loadU32BE(head) > MAX_VERSION && loadU32BE(head + MACBINARY) <= MAX_VERSION) return MACBINARY;
    }
    return 0;
}

Status decodeRows(FILE* f) {
    RowFeed feed;
    Status st = feed.begin(ROW_BYTES, HEIGHT);
    ChunkReader in(f);
    while (st == ST_OK && !feed.done()) {
        const int n = in.get();
        if (n < 0) {
            st = feed.cut();
            break;
        }
        if (n < 128) {
            for (int i = 0; i <= n && st == ST_OK; ++i) {
                const int v = in.get();
                st = v < 0 ? feed.cut() : feed.put(static_cast<uint8_t>(v));
            }
        } else {
            const int v = in.get();
            if (v < 0) {
                st = feed.cut();
                break;
            }
            st = feed.repeat(static_cast<uint8_t>(v), 257 - n);
        }
    }
    if (st != ST_READ_ERROR) return st;
    // The rows a cut file lacks are shown white rather than black.
    uint8_t white[ROW_BYTES] = {};
    for (int32_t y = feed.rowsDelivered(); y < HEIGHT; ++y)
        if (deliverRow(white, ROW_BYTES, y) != ST_OK) break;
    return ST_READ_ERROR;
}

}  // namespace

bool acceptMac(const uint8_t* head, size_t n, int64_t fileSize) {
    const int64_t at = dataOffset(head, n);
    if (static_cast<int64_t>(n) < at + 4 || (fileSize > 0 && fileSize < at + HEADER + 2)) return false;
    return loadU32BE(head + at) <= MAX_VERSION;
}

Status readMac(FILE* stream, LoadRequest* request) {
    uint8_t head[MACBINARY + 4];
    const size_t n = fread(head, 1, sizeof head, stream);
    if (!acceptMac(head, n, request->fileSize)) return ST_UNKNOWN_FORMAT;
    const int64_t at = dataOffset(head, n);
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = WIDTH;
    rh.height = HEIGHT;
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = ROW_BYTES;
    rh.xdpi = rh.ydpi = 72;
    setRasterName(rh.name, at ? NAME_MACBINARY : NAME_PLAIN);
    rh.compression = "PackBits";
    if (!seekTo(stream, static_cast<uint64_t>(at) + HEADER)) return ST_READ_ERROR;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = decodeRows(stream);
    endImage(PF_INVERT, 8, nullptr);  // a set bit is black
    return st;
}
