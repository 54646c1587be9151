// Two Atari ST formats of picture programs (readers): ImageLab grey pictures
// and Calamus raster graphics. Numbers are big-endian, as on the 68000.
//
// - ImageLab (.b&w, .b_w): "B&W256", width and height as 16-bit words, then
//   one byte per pixel (0 black, 255 white), rows of exactly width bytes.
// - Calamus raster graphic: "CALAMUSCRG", the words 1000 and 2, a 42-byte
//   header with the width and height as 32-bit numbers at 20 and 24, the
//   coding type at 32 (1: runs) and the size of the coded data at 38. The
//   data code one continuous stream of 1-bit rows (a set bit black, rows of
//   whole bytes): a control byte n < 128 copies the next n + 1 bytes, n >= 128
//   repeats the next byte n - 127 times. Runs go on across rows.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

// ---- ImageLab -------------------------------------------------------------------

const char ILAB_MAGIC[6] = {'B', '&', 'W', '2', '5', '6'};
constexpr size_t ILAB_HEADER = 10;
const char NAME_ILAB[] = "ImageLab";
const char MSG_ILAB_SIZE[] = "ImageLab : Bad picture's size !";

// ---- Calamus --------------------------------------------------------------------

const char CRG_MAGIC[10] = {'C', 'A', 'L', 'A', 'M', 'U', 'S', 'C', 'R', 'G'};
constexpr uint8_t CRG_VERSION[4] = {0x03, 0xE8, 0x00, 0x02};
constexpr size_t CRG_HEADER = 42;
constexpr size_t CRG_TYPE_AT = 32;
constexpr uint8_t CRG_RUNS = 1;
const char NAME_CRG[] = "Calamus Raster Graphic";
const char MSG_CRG_SIZE[] = "Calamus : Bad picture's size !";
const char MSG_CRG_VARIANT[] = "Calamus : Unsupported variant !";

// Decodes the runs of at most `budget` bytes of data into rows.
Status crgUnpack(FILE* f, uint64_t budget, RowFeed* feed) {
    ChunkReader in(f);
    // The next byte of the data, or -1 at their end.
    auto next = [&]() -> int {
        if (budget == 0) return -1;
        --budget;
        return in.get();
    };
    Status st = ST_OK;
    while (st == ST_OK && !feed->done()) {
        const int n = next();
        if (n < 0) return feed->cut();
        if (n >= 128) {
            const int v = next();
            if (v < 0) return feed->cut();
            st = feed->repeat(static_cast<uint8_t>(v), n - 127);
            continue;
        }
        for (int i = 0; i <= n && st == ST_OK; ++i) {
            const int v = next();
            if (v < 0) return feed->cut();
            st = feed->put(static_cast<uint8_t>(v));
        }
    }
    return st;
}

}  // namespace

// ---- ImageLab -------------------------------------------------------------------

bool acceptIlab(const uint8_t* head, size_t n, int64_t) {
    return n >= ILAB_HEADER && memcmp(head, ILAB_MAGIC, sizeof ILAB_MAGIC) == 0 && loadU16BE(head + 6) >= 1 &&
           loadU16BE(head + 8) >= 1;
}

Status readIlab(FILE* stream, LoadRequest* request) {
    uint8_t b[ILAB_HEADER];
    if (!readBlock(stream, b, sizeof b) || !acceptIlab(b, sizeof b, 0)) return ST_UNKNOWN_FORMAT;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = loadU16BE(b + 6);
    rh.height = loadU16BE(b + 8);
    if (rh.width > MAX_IMAGE_SIDE || rh.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_ILAB_SIZE);
        return ST_BAD_FILE;
    }
    rh.layout = PL_BYTE_PIXELS;
    rh.planes = 1;
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    setRasterName(rh.name, NAME_ILAB);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, rh.width, rh.height);
    endImage(0, 0, nullptr);
    return st;
}

// ---- Calamus --------------------------------------------------------------------

bool acceptCalamus(const uint8_t* head, size_t n, int64_t) {
    return n >= CRG_HEADER && memcmp(head, CRG_MAGIC, sizeof CRG_MAGIC) == 0 &&
           memcmp(head + sizeof CRG_MAGIC, CRG_VERSION, sizeof CRG_VERSION) == 0;
}

Status readCalamus(FILE* stream, LoadRequest* request) {
    uint8_t b[CRG_HEADER];
    if (!readBlock(stream, b, sizeof b) || !acceptCalamus(b, sizeof b, 0)) return ST_UNKNOWN_FORMAT;
    if (b[CRG_TYPE_AT] != CRG_RUNS) {
        setReaderMessage(request, MSG_CRG_VARIANT);
        return ST_BAD_FILE;
    }
    const uint32_t width = loadU32BE(b + 20), height = loadU32BE(b + 24);
    if (width < 1 || width > MAX_IMAGE_SIDE || height < 1 || height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_CRG_SIZE);
        return ST_BAD_FILE;
    }
    // A coded size past the end of the file stops at the end.
    uint64_t coded = loadU32BE(b + 38);
    if (request->fileSize > 0) {
        const uint64_t there = static_cast<uint64_t>(request->fileSize) - CRG_HEADER;
        if (coded > there) coded = there;
    }
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = static_cast<int32_t>(width);
    rh.height = static_cast<int32_t>(height);
    rh.planes = 1;
    rh.bitsPerPlane = 1;
    rh.bytesPerPlane = static_cast<int32_t>((width + 7) / 8);
    rh.compression = "RLE";
    setRasterName(rh.name, NAME_CRG);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    RowFeed feed;
    st = feed.begin(rh.bytesPerPlane, rh.height);
    if (st == ST_OK) st = crgUnpack(stream, coded, &feed);
    endImage(PF_INVERT, 0, nullptr);
    return st;
}
