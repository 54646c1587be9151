// HRU files: palette pictures of 1 to 8 bits whose pixels are GIF image data
// (LZW codes in sub-blocks) behind a header of their own.
//
// Header: "5KP51]*grr", 18 bytes the reader skips (writers put 0x80 0x83 0x85,
// "cz}kCjUISdOQa0" and 0x0D there), width and height (16-bit little-endian), a
// packed byte holding bits per pixel - 1 in bits 0-2 (0xF0 set by writers), two
// zero bytes, 2^bits R,G,B entries, 10 more bytes to skip, then the LZW
// minimum code size and the sub-blocks. Writers end with a 0x3B byte. Rows go
// top to bottom, never interlaced.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "lzw.h"
#include "stream.h"

namespace {

const char NAME[] = "HRU";
const char MSG_CODE_SIZE[] = "HRU : Bad code's size !";
const char MSG_SIZE[] = "HRU : Bad picture's size !";

const uint8_t SIGNATURE[10] = {'5', 'K', 'P', '5', '1', ']', '*', 'g', 'r', 'r'};
const uint8_t AFTER_SIGNATURE[18] = {0x80, 0x83, 0x85, 'c', 'z', '}', 'k', 'C', 'j',
                                     'U',  'I',  'S',  'd', 'O', 'Q', 'a', '0', 0x0D};
const uint8_t AFTER_PALETTE[10] = {0x85, 0x00, 0x00, 0x00, 0x00, 0x38, 0x04, 0x90, 0x06, 0x00};
constexpr uint8_t PACKED_HIGH_BITS = 0xF0;
constexpr int MIN_CODE_SIZE = 2;
constexpr int MAX_CODE_SIZE = 9;
constexpr int TRAILER = 0x3B;

Status hruDeliver(void*, const uint8_t*, int32_t target) { return putRows(-1, target, 1); }

}  // namespace

bool acceptHru(const uint8_t* head, size_t n, int64_t) {
    return n >= sizeof SIGNATURE && memcmp(head, SIGNATURE, sizeof SIGNATURE) == 0;
}

Status readHru(FILE* stream, LoadRequest* request) {
    uint8_t b[sizeof SIGNATURE + sizeof AFTER_SIGNATURE + 7];
    if (!readBlock(stream, b, sizeof SIGNATURE) || memcmp(b, SIGNATURE, sizeof SIGNATURE) != 0)
        return ST_UNKNOWN_FORMAT;
    if (!readBlock(stream, b + sizeof SIGNATURE, sizeof b - sizeof SIGNATURE)) return ST_READ_ERROR;
    const uint8_t* fields = b + sizeof SIGNATURE + sizeof AFTER_SIGNATURE;
    RasterHeader rh{};
    rh.width = loadU16LE(fields);
    rh.height = loadU16LE(fields + 2);
    const int bits = (fields[4] & 7) + 1;
    uint8_t palette[PALETTE_BYTES] = {};
    uint8_t tail[sizeof AFTER_PALETTE + 1];
    if (!readBlock(stream, palette, static_cast<size_t>(3) << bits) || !readBlock(stream, tail, sizeof tail))
        return ST_READ_ERROR;
    const int codeSize = tail[sizeof AFTER_PALETTE];
    if (codeSize < MIN_CODE_SIZE || codeSize > MAX_CODE_SIZE) {
        setReaderMessage(request, MSG_CODE_SIZE);
        return ST_BAD_FILE;
    }
    if (rh.width < 1 || rh.width > MAX_IMAGE_SIDE || rh.height < 1 || rh.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_SIZE);
        return ST_BAD_FILE;
    }
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(bits);
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, NAME);
    rh.compression = "LZW";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    FileCursor in(stream);
    const LzwImage image{codeSize, rh.width, rh.height, false};
    LzwOutcome outcome;
    st = lzwDecode(&in, image, rh.rowBuffer, hruDeliver, nullptr, &outcome);
    endImage(PF_TRIPLETS, 8, palette);
    return st != ST_OK ? st : lzwOutcomeStatus(outcome);
}

Status writeHru(FILE* stream, SaveRequest* request) {
    if (request->kind != IMG_BINARY && request->kind != IMG_GREY && request->kind != IMG_PALETTE)
        return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1 || request->width > 0xFFFF || request->height > 0xFFFF)
        return ST_KIND_REFUSED;
    int bits = 1;
    if (request->kind != IMG_BINARY)
        while (bits < 8 && (1 << bits) < request->colours) ++bits;

    WriteHeader wh{};
    wh.layout = PL_BYTE_PIXELS;
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 8;
    wh.bytesPerPlane = request->width;
    wh.paletteFormat = PF_TRIPLETS;
    wh.componentBits = 8;
    setRasterName(wh.name, NAME);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;

    uint8_t fields[7];
    fields[0] = static_cast<uint8_t>(request->width);
    fields[1] = static_cast<uint8_t>(request->width >> 8);
    fields[2] = static_cast<uint8_t>(request->height);
    fields[3] = static_cast<uint8_t>(request->height >> 8);
    fields[4] = static_cast<uint8_t>(PACKED_HIGH_BITS | (bits - 1));
    fields[5] = fields[6] = 0;
    uint8_t table[PALETTE_BYTES] = {};
    if (wh.palette) memcpy(table, wh.palette, static_cast<size_t>(3) << bits);
    if (!writeBlock(stream, SIGNATURE, sizeof SIGNATURE) || !writeBlock(stream, AFTER_SIGNATURE, sizeof AFTER_SIGNATURE) ||
        !writeBlock(stream, fields, sizeof fields) || !writeBlock(stream, table, static_cast<size_t>(3) << bits) ||
        !writeBlock(stream, AFTER_PALETTE, sizeof AFTER_PALETTE))
        st = ST_WRITE_ERROR;

    FileSink sink(stream);
    LzwEncoder encoder(&sink);
    if (st == ST_OK) st = encoder.begin();
    for (int32_t row = 0; st == ST_OK && row < request->height; ++row) {
        st = getRows(row, 1);
        if (st == ST_OK) st = encoder.add(wh.rowBuffer, static_cast<size_t>(request->width));
    }
    if (st == ST_OK) st = encoder.finish();
    if (st == ST_OK && putc(TRAILER, stream) == EOF) st = ST_WRITE_ERROR;
    endWrite();
    return st;
}
