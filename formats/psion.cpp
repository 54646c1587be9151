// Psion organiser pictures: Series 3 bitmaps and Series 5 multi-bitmap files
// (readers and writers). All numbers are little-endian.
//
// Series 3: "PIC", 0xDC, "00", a count of bitmaps (each a page), then one
// 12-byte descriptor per bitmap: checksum, width, height, byte size (16 bits
// each) and the offset of its data counted from the end of the descriptor
// (32 bits). Rows of 16-bit words, leftmost pixel in the least significant
// bit of the first byte, a set bit black.
//
// Series 5: four identifier words, the offset of a trailer that gives the
// number of bitmaps and their offsets; only the first bitmap is read. A
// bitmap is a 40-byte header (lengths, size, size in twips, bits per pixel,
// colour flag, palette size, compression) and rows padded to 32 bits,
// leftmost pixel in the least significant bits of each byte, 0 black and the
// highest value white. Byte run-length coding: a signed control byte k < 0 is
// followed by -k literal bytes, k >= 0 by one byte repeated k + 1 times; runs
// go on across rows.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_PSION3[] = "Psion Serie 3 Bitmap file";
const char NAME_PSION5[] = "Psion Serie 5 Bitmap file";
const char NAME_PSION5_RLE[] = "Psion Serie 5 Bitmap file (RLE)";

const uint8_t PSION3_SIGNATURE[6] = {'P', 'I', 'C', 0xDC, '0', '0'};
constexpr size_t PSION3_DESCRIPTOR_SIZE = 12;
constexpr int MAX_BITMAPS = 256;

const uint32_t PSION5_IDS[4] = {0x10000037u, 0x10000042u, 0u, 0x47396439u};
constexpr uint32_t PSION5_HEADER_SIZE = 40;
constexpr uint32_t PSION5_TRAILER_OFFSET = 20;
constexpr uint32_t PSION5_BITMAP_OFFSET = 28;

int64_t psion3RowBytes(int64_t width) { return (width + 15) / 16 * 2; }
int64_t psion5RowBytes(int64_t width, int bits) { return (width * bits + 31) / 32 * 4; }

// Delivered rows have the leftmost pixel in the most significant bits.
void psionReverseRow(const void* data, const uint8_t* stored, uint8_t* out) {
    const int64_t* rowAndBits = static_cast<const int64_t*>(data);
    memcpy(out, stored, static_cast<size_t>(rowAndBits[0]));
    reversePixelFields(out, rowAndBits[0], static_cast<int>(rowAndBits[1]));
}

// Run-length coded Series 5 rows: decoded into a row, turned and delivered as
// each fills; bytes past the last row are dropped.
Status psion5ReadCoded(FILE* f, int64_t rowBytes, int32_t rows, int bits) {
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    if (!row) return ST_NO_MEMORY;
    int64_t filled = 0;
    int32_t y = 0;
    auto flush = [&]() {
        reversePixelFields(row.get(), rowBytes, bits);
        const Status st = deliverRow(row.get(), rowBytes, y++);
        memset(row.get(), 0, static_cast<size_t>(rowBytes));
        filled = 0;
        return st;
    };
    Status st = ST_OK;
    while (st == ST_OK && y < rows) {
        const int c = getc(f);
        if (c == EOF) break;
        const int k = static_cast<int8_t>(c);
        if (k < 0) {
            for (int i = 0; i < -k && st == ST_OK && y < rows; ++i) {
                const int v = getc(f);
                if (v == EOF) {
                    st = ST_READ_ERROR;
                    break;
                }
                row[filled++] = static_cast<uint8_t>(v);
                if (filled == rowBytes) st = flush();
            }
            if (st == ST_READ_ERROR) break;
        } else {
            const int v = getc(f);
            if (v == EOF) break;
            for (int i = 0; i <= k && st == ST_OK && y < rows; ++i) {
                row[filled++] = static_cast<uint8_t>(v);
                if (filled == rowBytes) st = flush();
            }
        }
    }
    if (y >= rows || st == ST_STOPPED) return st;
    // The data ended early: the row begun is kept.
    if (filled > 0 && flush() == ST_STOPPED) return ST_STOPPED;
    return ST_READ_ERROR;
}

// A row writer that turns each fetched row to the file's bit order.
Status psionWriteReversed(void* data, FILE* f, uint8_t* row, int64_t rowBytes) {
    reversePixelFields(row, rowBytes, *static_cast<const int*>(data));
    return writeBlock(f, row, static_cast<size_t>(rowBytes)) ? ST_OK : ST_WRITE_ERROR;
}

}  // namespace

bool acceptPsion3(const uint8_t* head, size_t n, int64_t) {
    if (n < 8 + PSION3_DESCRIPTOR_SIZE || memcmp(head, PSION3_SIGNATURE, sizeof PSION3_SIGNATURE) != 0) return false;
    const uint16_t count = loadU16LE(head + 6);
    return count >= 1 && count <= MAX_BITMAPS;
}

bool acceptPsion5(const uint8_t* head, size_t n, int64_t) {
    if (n < 20) return false;
    for (int i = 0; i < 4; ++i)
        if (loadU32LE(head + 4 * i) != PSION5_IDS[i]) return false;
    return true;
}

Status readPsion3(FILE* stream, LoadRequest* request) {
    uint8_t head[8];
    if (!readBlock(stream, head, sizeof head) || memcmp(head, PSION3_SIGNATURE, sizeof PSION3_SIGNATURE) != 0)
        return ST_UNKNOWN_FORMAT;
    const int count = loadU16LE(head + 6);
    if (count < 1 || count > MAX_BITMAPS) return ST_UNKNOWN_FORMAT;
    request->pageCount = count;
    const int page = request->pageIndex < 0 ? 0 : request->pageIndex >= count ? count - 1 : request->pageIndex;

    uint8_t d[PSION3_DESCRIPTOR_SIZE];
    for (int i = 0; i <= page; ++i)
        if (!readBlock(stream, d, sizeof d)) return ST_READ_ERROR;
    const uint32_t offset = loadU32LE(d + 8);
    if (offset != 0) {
        if (offset > 0x7FFFFFFFu || (request->fileSize > 0 && offset > request->fileSize)) return ST_READ_ERROR;
        if (!skipBytes(stream, static_cast<long>(offset))) return ST_READ_ERROR;
    }

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = loadU16LE(d + 2);
    rh.height = loadU16LE(d + 4);
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    const int64_t rowBytes = psion3RowBytes(rh.width);
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, NAME_PSION3);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    const int64_t rowAndBits[2] = {rowBytes, 1};
    st = readRows(stream, rowBytes, rh.height, -1, psionReverseRow, rowAndBits);
    endImage(PF_INVERT, 8, nullptr);  // a set bit is black
    return st;
}

Status writePsion3(FILE* stream, SaveRequest* request) {
    if (request->kind != IMG_BINARY) return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1 || request->width > 0xFFFF || request->height > 0xFFFF)
        return ST_KIND_REFUSED;
    const int64_t rowBytes = psion3RowBytes(request->width);
    writeBlock(stream, PSION3_SIGNATURE, sizeof PSION3_SIGNATURE);
    writeU16LE(stream, 1);
    writeU16LE(stream, 0);  // checksum
    writeU16LE(stream, static_cast<uint32_t>(request->width));
    writeU16LE(stream, static_cast<uint32_t>(request->height));
    writeU16LE(stream, static_cast<uint32_t>((rowBytes * request->height) & 0xFFFF));
    writeU32LE(stream, 0);  // the data follow
    if (ferror(stream)) return ST_WRITE_ERROR;

    WriteHeader wh{};
    wh.layout = PL_MIN_IS_WHITE;  // a set bit is black
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 1;
    wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(wh.name, NAME_PSION3);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    int bits = 1;
    st = writeRows(stream, rowBytes, request->height, psionWriteReversed, &bits);
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}

Status readPsion5(FILE* stream, LoadRequest* request) {
    uint8_t head[20];
    if (!readBlock(stream, head, sizeof head) || !acceptPsion5(head, sizeof head, 0)) return ST_UNKNOWN_FORMAT;
    const int64_t fileSize = request->fileSize;
    const uint32_t trailer = loadU32LE(head + 16);
    if ((fileSize > 0 && trailer >= fileSize) || !seekTo(stream, trailer)) return ST_UNKNOWN_FORMAT;
    uint8_t t[8];
    if (!readBlock(stream, t, sizeof t)) return ST_UNKNOWN_FORMAT;
    const uint32_t count = loadU32LE(t);
    const uint32_t first = loadU32LE(t + 4);
    if (count < 1 || count > MAX_BITMAPS) return ST_UNKNOWN_FORMAT;
    if ((fileSize > 0 && first >= fileSize) || !seekTo(stream, first)) return ST_UNKNOWN_FORMAT;
    uint8_t h[PSION5_HEADER_SIZE];
    if (!readBlock(stream, h, sizeof h)) return ST_UNKNOWN_FORMAT;
    const uint32_t bits = loadU32LE(h + 24);
    const uint32_t compression = loadU32LE(h + 36);
    if (loadU32LE(h + 4) != PSION5_HEADER_SIZE || loadU32LE(h + 28) != 0 || loadU32LE(h + 32) != 0 ||
        (bits != 1 && bits != 2 && bits != 4 && bits != 8) || compression > 1)
        return ST_UNKNOWN_FORMAT;
    const uint32_t width = loadU32LE(h + 8), height = loadU32LE(h + 12);
    if (width < 1 || width > MAX_IMAGE_SIDE || height < 1 || height > MAX_IMAGE_SIDE) return ST_UNKNOWN_FORMAT;

    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(bits);
    const int64_t rowBytes = psion5RowBytes(width, static_cast<int>(bits));
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, compression ? NAME_PSION5_RLE : NAME_PSION5);
    rh.compression = compression ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    const int64_t rowAndBits[2] = {rowBytes, bits};
    st = compression ? psion5ReadCoded(stream, rowBytes, rh.height, static_cast<int>(bits))
                     : readRows(stream, rowBytes, rh.height, -1, psionReverseRow, rowAndBits);
    endImage(0, 8, nullptr);  // 0 black
    return st;
}

Status writePsion5(FILE* stream, SaveRequest* request) {
    int bits;
    if (request->kind == IMG_BINARY) bits = 1;
    else if (request->kind == IMG_GREY && request->colours <= 16) bits = request->colours <= 4 ? 2 : 4;
    else return ST_KIND_REFUSED;
    if (request->width < 1 || request->height < 1) return ST_KIND_REFUSED;
    const int64_t rowBytes = psion5RowBytes(request->width, bits);
    const int64_t dataBytes = rowBytes * request->height;
    if (dataBytes > 0x7FFFFFFF) return ST_KIND_REFUSED;

    for (uint32_t id : PSION5_IDS) writeU32LE(stream, id);
    writeU32LE(stream, PSION5_TRAILER_OFFSET);
    writeU32LE(stream, 1);
    writeU32LE(stream, PSION5_BITMAP_OFFSET);
    const uint32_t header[10] = {static_cast<uint32_t>(dataBytes), PSION5_HEADER_SIZE,
                                 static_cast<uint32_t>(request->width), static_cast<uint32_t>(request->height),
                                 0, 0, static_cast<uint32_t>(bits), 0, 0, 0};
    for (uint32_t v : header) writeU32LE(stream, v);
    if (ferror(stream)) return ST_WRITE_ERROR;

    // Grey values are spread over the depth's range, 0 black.
    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = static_cast<int16_t>(bits);
    wh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(wh.name, NAME_PSION5);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    st = writeRows(stream, rowBytes, request->height, psionWriteReversed, &bits);
    endWrite();
    if (st == ST_OK && (fflush(stream) != 0 || ferror(stream))) st = ST_WRITE_ERROR;
    return st;
}
