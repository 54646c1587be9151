// Bio-Rad confocal microscope pictures, .pic (reader only).
//
// A 76-byte little-endian header: width, height, number of images (16 bits
// each), the first display ramp (16-bit low and high), a 32-bit notes flag,
// the byte format (1: 8-bit samples, 0: 16-bit), the image number, a file
// name, ... and the file id 12345 at offset 54. The images follow one after
// another, rows top first, grey samples (16-bit ones little-endian), then
// optional 96-byte notes. Some files say 16 bits but hold bytes: their size
// tells. Each image is a page; 16-bit samples are shown through the ramp when
// it is set, otherwise spread between the page's smallest and largest values.
#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_BIORAD[] = "Bio-Rad PIC";
const char NAME_BIORAD16[] = "Bio-Rad PIC (16 bits)";
constexpr size_t BIORAD_HEADER = 76;
constexpr uint16_t BIORAD_ID = 12345;

struct BioradHeader {
    int64_t width, height, images;
    int64_t rampLow, rampHigh;
    int bytes;  // per sample
};

bool bioradParse(const uint8_t* b, size_t n, int64_t fileSize, BioradHeader* h) {
    if (n < BIORAD_HEADER || loadU16LE(b + 54) != BIORAD_ID) return false;
    h->width = loadU16LE(b);
    h->height = loadU16LE(b + 2);
    h->images = loadU16LE(b + 4);
    h->rampLow = loadU16LE(b + 6);
    h->rampHigh = loadU16LE(b + 8);
    const uint16_t byteFormat = loadU16LE(b + 14);
    if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE || h->images < 1 ||
        byteFormat > 1)
        return false;
    const int64_t image = h->width * h->height;
    h->bytes = byteFormat == 1 ? 1 : 2;
    // Files that say 16 bits but whose size fits bytes exactly hold bytes.
    if (h->bytes == 2 && static_cast<int64_t>(BIORAD_HEADER) + image * h->images == fileSize) h->bytes = 1;
    return static_cast<int64_t>(BIORAD_HEADER) + h->width * h->bytes <= fileSize;  // a row at least
}

struct Span {
    int64_t width, low, high;
};

void narrowRow(const void* data, const uint8_t* stored, uint8_t* out) {
    const Span& s = *static_cast<const Span*>(data);
    const int64_t span = s.high - s.low;
    for (int64_t x = 0; x < s.width; ++x) {
        const int64_t v = loadU16LE(stored + 2 * x);
        out[x] = v <= s.low ? 0 : v >= s.high ? 255 : static_cast<uint8_t>((v - s.low) * 255 / span);
    }
}

}  // namespace

bool acceptBiorad(const uint8_t* head, size_t n, int64_t fileSize) {
    BioradHeader h;
    return bioradParse(head, n, fileSize, &h);
}

Status readBiorad(FILE* stream, LoadRequest* request) {
    uint8_t head[BIORAD_HEADER];
    BioradHeader h;
    if (!readBlock(stream, head, sizeof head) || !bioradParse(head, sizeof head, request->fileSize, &h))
        return ST_UNKNOWN_FORMAT;
    const int64_t imageBytes = h.width * h.height * h.bytes;
    // The images the file holds whole (a cut first one still counts).
    int64_t pages = (request->fileSize - static_cast<int64_t>(BIORAD_HEADER)) / imageBytes;
    if (pages > h.images) pages = h.images;
    if (pages < 1) pages = 1;
    request->pageCount = static_cast<int32_t>(pages);
    const int64_t page = request->pageIndex > 0 && request->pageIndex < pages ? request->pageIndex : 0;
    const uint64_t start = BIORAD_HEADER + static_cast<uint64_t>(page * imageBytes);

    Span span{h.width, h.rampLow, h.rampHigh};
    if (h.bytes == 2 && span.high <= span.low) {
        // No ramp: a first pass for the page's range.
        Buffer row = allocBuffer(static_cast<uint64_t>(2 * h.width));
        if (!row) return ST_NO_MEMORY;
        if (!seekTo(stream, start)) return ST_READ_ERROR;
        span.low = 65535;
        span.high = 0;
        for (int64_t y = 0; y < h.height && readBlock(stream, row.get(), 2 * h.width); ++y) {
            for (int64_t x = 0; x < h.width; ++x) {
                const int64_t v = loadU16LE(row.get() + 2 * x);
                if (v < span.low) span.low = v;
                if (v > span.high) span.high = v;
            }
        }
        if (span.high <= span.low) {
            span.low = span.high > 0 ? span.high - 1 : 0;
            span.high = span.low + 1;
        }
    }
    if (!seekTo(stream, start)) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.layout = PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, h.bytes == 2 ? NAME_BIORAD16 : NAME_BIORAD);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = h.bytes == 1 ? readRows(stream, h.width, rh.height)
                      : readRows(stream, 2 * h.width, rh.height, -1, narrowRow, &span);
    endImage(0, 0, nullptr);
    return st;
}
