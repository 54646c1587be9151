// Two 8-bit grey formats (readers only).
//
// CP8: a 16-byte big-endian header (0x00 'C' 0x00 'P' 0x00 '8', width,
// height, six unused bytes), then packets that run on across rows. A packet
// byte p gives n = p & 0x3F pixels (0 means 64) of type p >> 6: 0, n literal
// bytes; 1, n signed 4-bit deltas two to a byte, low nibble first; 2, n signed
// 2-bit deltas four to a byte, low bits first; 3, one byte repeated n times.
// Deltas apply to the last pixel produced, which carries over packets and rows
// and starts at 0.
//
// Image Speeder: a 512-byte header holding the height (big-endian, at 20) and
// the width (at 24), then the rows, width bytes each. The file is exactly that
// long.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char CP8_NAME[] = "CP8";
const char CP8_MSG_BAD_SIZE[] = "CP8 : Bad picture's size !";
const uint8_t CP8_SIGNATURE[6] = {0, 'C', 0, 'P', 0, '8'};
constexpr size_t CP8_HEADER_BYTES = 16;

const char SPEED_NAME[] = "Image Speeder";
constexpr size_t SPEED_HEADER_BYTES = 512;
constexpr int32_t SPEED_MAX_SIDE = 16000;

// Pixels of one packet, at most 64.
struct Cp8Packet {
    uint8_t pixels[64];
    int count;
};

// Reads the packet whose first byte is p; false when the file ends inside it.
bool cp8Packet(FILE* f, int p, uint8_t* last, Cp8Packet* out) {
    const int n = (p & 0x3F) ? (p & 0x3F) : 64;
    const int type = p >> 6;
    uint8_t v = *last;
    out->count = n;
    if (type == 0) {
        if (!readBlock(f, out->pixels, static_cast<size_t>(n))) return false;
        v = out->pixels[n - 1];
    } else if (type == 3) {
        const int b = getc(f);
        if (b == EOF) return false;
        v = static_cast<uint8_t>(b);
        memset(out->pixels, v, static_cast<size_t>(n));
    } else {
        const int bits = type == 1 ? 4 : 2;
        const int perByte = 8 / bits;
        const int mask = (1 << bits) - 1;
        int b = 0;
        for (int i = 0; i < n; ++i) {
            if (i % perByte == 0 && (b = getc(f)) == EOF) return false;
            int d = (b >> (bits * (i % perByte))) & mask;
            if (d > mask / 2) d -= mask + 1;  // signed field
            v = static_cast<uint8_t>(v + d);
            out->pixels[i] = v;
        }
    }
    *last = v;
    return true;
}

bool speedHeader(const uint8_t* head, size_t n, int64_t fileSize, int32_t* width, int32_t* height) {
    if (n < SPEED_HEADER_BYTES) return false;
    *height = loadU16BE(head + 20);
    *width = loadU16BE(head + 24);
    if (*width < 1 || *width > SPEED_MAX_SIDE || *height < 1 || *height > SPEED_MAX_SIDE) return false;
    return fileSize == static_cast<int64_t>(SPEED_HEADER_BYTES) + int64_t(*width) * *height;
}

}  // namespace

bool acceptCp8(const uint8_t* head, size_t n, int64_t) {
    return n >= CP8_HEADER_BYTES && memcmp(head, CP8_SIGNATURE, sizeof CP8_SIGNATURE) == 0;
}

Status readCp8(FILE* stream, LoadRequest* request) {
    uint8_t b[CP8_HEADER_BYTES];
    if (!readBlock(stream, b, sizeof b) || memcmp(b, CP8_SIGNATURE, sizeof CP8_SIGNATURE) != 0)
        return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.width = loadU16BE(b + 6);
    rh.height = loadU16BE(b + 8);
    if (rh.width < 1 || rh.width > MAX_IMAGE_SIDE || rh.height < 1 || rh.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, CP8_MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    rh.channels = 1;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, CP8_NAME);
    rh.compression = "RLE";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    RowFeed feed;
    st = feed.begin(rh.width, rh.height);
    uint8_t last = 0;
    Cp8Packet packet;
    while (st == ST_OK && !feed.done()) {
        const int p = getc(stream);
        if (p == EOF || !cp8Packet(stream, p, &last, &packet)) {
            st = feed.cut();
            break;
        }
        st = feed.put(packet.pixels, packet.count);
    }
    endImage(0, 8, nullptr);
    return st;
}

bool acceptSpeed(const uint8_t* head, size_t n, int64_t fileSize) {
    int32_t w, h;
    return speedHeader(head, n, fileSize, &w, &h);
}

Status readSpeed(FILE* stream, LoadRequest* request) {
    uint8_t b[SPEED_HEADER_BYTES];
    RasterHeader rh{};
    if (!readBlock(stream, b, sizeof b) || !speedHeader(b, sizeof b, request->fileSize, &rh.width, &rh.height))
        return ST_UNKNOWN_FORMAT;
    rh.channels = 1;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, SPEED_NAME);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.width, rh.height);
    endImage(0, 8, nullptr);
    return st;
}
