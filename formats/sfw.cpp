// Seattle Film Works pictures (readers only).
//
// A single picture ("SFW" at offset 0) carries a baseline JPEG stream whose
// marker codes are changed and whose Huffman tables are left out: it begins
// 0xFF 0xC8 0xFF 0xD0. The reader translates the markers back (start of image
// C8, application segment D0, frame A0, quantisation tables CB, start of scan
// CA, end of image C9), makes the application segment a JFIF one, puts the
// standard Huffman tables before the start of scan and decodes the result.
// The stream's first row is the picture's bottom row.
//
// A multi-picture file ("SFW95" at 0) holds entries from offset 20: 256 bytes,
// four little-endian 32-bit values (the second is the size of the picture),
// then a single-picture file of that size.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "jpegglue.h"
#include "kaleocore.h"
#include "stream.h"

namespace {

const char NAME[] = "Seattle Film Works";
const uint8_t START[4] = {0xFF, 0xC8, 0xFF, 0xD0};
constexpr size_t SIGNATURE_BYTES = 3;
constexpr uint8_t STORED_SOS = 0xCA;
constexpr uint8_t STORED_EOI = 0xC9;
constexpr long PWP_FIRST_ENTRY = 20;
constexpr long PWP_ENTRY_SKIP = 256;
constexpr size_t JFIF_PATCH_BYTES = 7;

// The four standard tables (luminance DC, chrominance DC, luminance AC,
// chrominance AC) as one Huffman table segment.
const uint8_t STANDARD_HUFFMAN[420] = {
    0xFF, 0xC4, 0x01, 0xA2, 0x00, 0x00, 0x01, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A,
    0x0B, 0x01, 0x00, 0x03, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x10, 0x00,
    0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x04, 0x00, 0x00, 0x01, 0x7D, 0x01,
    0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22,
    0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24,
    0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28, 0x29,
    0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A,
    0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A,
    0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A,
    0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8,
    0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6,
    0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2, 0xE3,
    0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9,
    0xFA, 0x11, 0x00, 0x02, 0x01, 0x02, 0x04, 0x04, 0x03, 0x04, 0x07, 0x05, 0x04, 0x04, 0x00, 0x01,
    0x02, 0x77, 0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07,
    0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33,
    0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18, 0x19,
    0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46,
    0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66,
    0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x82, 0x83, 0x84, 0x85,
    0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3,
    0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA,
    0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8,
    0xD9, 0xDA, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6,
    0xF7, 0xF8, 0xF9, 0xFA,
};

uint8_t standardMarker(uint8_t stored) {
    switch (stored) {
    case 0xC8: return 0xD8;  // start of image
    case 0xD0: return 0xE0;  // application segment 0
    case 0xA0: return 0xC0;  // baseline frame
    case 0xCB: return 0xDB;  // quantisation tables
    case 0xCA: return 0xDA;  // start of scan
    case 0xC9: return 0xD9;  // end of image
    default: return stored;
    }
}

// Where `pattern` first occurs in data[from, n), or n.
size_t find(const uint8_t* data, size_t n, size_t from, const uint8_t* pattern, size_t k) {
    for (size_t i = from; i + k <= n; ++i)
        if (memcmp(data + i, pattern, k) == 0) return i;
    return n;
}

// Restores the standard stream in data[0, n): on success *sos is the offset of
// the start-of-scan marker and *end the offset just past the end-of-image one.
bool restoreStream(uint8_t* data, size_t n, size_t* soi, size_t* sos, size_t* end) {
    const size_t start = find(data, n, 0, START, sizeof START);
    if (start == n || start + 4 + 2 + JFIF_PATCH_BYTES > n) return false;
    data[start + 1] = standardMarker(data[start + 1]);
    data[start + 3] = standardMarker(data[start + 3]);
    static const uint8_t jfif[JFIF_PATCH_BYTES] = {'J', 'F', 'I', 'F', 0, 1, 0};
    memcpy(data + start + 6, jfif, sizeof jfif);
    // Segments from the application segment on, up to the start of scan.
    size_t at = start + 2;
    for (;;) {
        if (at + 4 > n || data[at] != 0xFF) return false;
        const size_t length = loadU16BE(data + at + 2);
        if (length < 2) return false;
        at += 2 + length;
        if (at + 2 > n || data[at] != 0xFF) return false;
        const uint8_t stored = data[at + 1];
        data[at + 1] = standardMarker(stored);
        if (stored == STORED_SOS) break;
    }
    static const uint8_t eoi[2] = {0xFF, STORED_EOI};
    const size_t last = find(data, n, at - 1, eoi, sizeof eoi);
    if (last == n) return false;
    data[last + 1] = standardMarker(STORED_EOI);
    *soi = start;
    *sos = at;
    *end = last + 2;
    return true;
}

}  // namespace

// "SFW95" opens the multi-picture files.
bool acceptSfw(const uint8_t* head, size_t n, int64_t) {
    return n >= SIGNATURE_BYTES && memcmp(head, "SFW", 3) == 0 && !(n >= 5 && memcmp(head, "SFW95", 5) == 0);
}

Status readSfw(FILE* stream, LoadRequest* request) {
    uint8_t signature[SIGNATURE_BYTES];
    if (!readBlock(stream, signature, sizeof signature) || memcmp(signature, "SFW", 3) != 0)
        return ST_UNKNOWN_FORMAT;
    if (request->fileSize <= static_cast<int64_t>(SIGNATURE_BYTES)) return ST_READ_ERROR;
    const uint64_t want = static_cast<uint64_t>(request->fileSize) - SIGNATURE_BYTES;
    Buffer data = allocBuffer(want);
    if (!data) return ST_NO_MEMORY;
    const size_t n = fread(data.get(), 1, static_cast<size_t>(want), stream);
    if (n == 0) return ST_READ_ERROR;
    size_t soi, sos, end;
    if (!restoreStream(data.get(), n, &soi, &sos, &end)) return ST_UNKNOWN_FORMAT;

    const size_t head = sos - soi, tail = end - sos;
    Buffer jpeg = allocBuffer(head + sizeof STANDARD_HUFFMAN + tail);
    if (!jpeg) return ST_NO_MEMORY;
    memcpy(jpeg.get(), data.get() + soi, head);
    memcpy(jpeg.get() + head, STANDARD_HUFFMAN, sizeof STANDARD_HUFFMAN);
    memcpy(jpeg.get() + head + sizeof STANDARD_HUFFMAN, data.get() + sos, tail);
    data.reset();

    JpegReadJob job;
    job.data = jpeg.get();
    job.size = head + sizeof STANDARD_HUFFMAN + tail;
    job.flags = request->flags;
    job.name = NAME;
    job.allowCmyk = false;
    job.orientation = OR_BOTTOM_UP;
    job.request = request;
    return jpegReadImage(job);
}

bool acceptPwp(const uint8_t* head, size_t n, int64_t) { return n >= 5 && memcmp(head, "SFW95", 5) == 0; }

Status readPwp(FILE* stream, LoadRequest* request) {
    uint8_t signature[6];
    if (!readBlock(stream, signature, sizeof signature) || memcmp(signature, "SFW95", 5) != 0)
        return ST_UNKNOWN_FORMAT;
    const int64_t fileSize = request->fileSize;
    int64_t at = PWP_FIRST_ENTRY;
    int32_t count = 0;
    int64_t firstAt = -1, firstSize = 0, chosenAt = -1, chosenSize = 0;
    // An entry's size never reaches past the end of the file.
    while (at + PWP_ENTRY_SKIP + 16 <= fileSize) {
        uint8_t values[16];
        if (!seekTo(stream, static_cast<uint64_t>(at + PWP_ENTRY_SKIP)) || !readBlock(stream, values, sizeof values))
            break;
        const int64_t size = loadU32LE(values + 4);
        const int64_t picture = at + PWP_ENTRY_SKIP + 16;
        if (size == 0 || size > fileSize - picture) break;
        if (count == 0) {
            firstAt = picture;
            firstSize = size;
        }
        if (count == request->pageIndex) {
            chosenAt = picture;
            chosenSize = size;
        }
        ++count;
        at = picture + size;
    }
    if (count == 0) return ST_READ_ERROR;
    if (chosenAt < 0) {  // a page past the last one reads the first
        chosenAt = firstAt;
        chosenSize = firstSize;
    }
    if (!seekTo(stream, static_cast<uint64_t>(chosenAt))) return ST_READ_ERROR;
    request->fileSize = chosenSize;
    const Status st = readSfw(stream, request);
    request->fileSize = fileSize;
    if (st != ST_UNKNOWN_FORMAT) request->pageCount = count;
    return st;
}
