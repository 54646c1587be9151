// Usenix FaceServer pictures (reader only).
//
// A text header of "Key: value" lines (FirstName:, LastName:, ..., PicData:,
// Image:) ended by an empty line, then the grey samples as hexadecimal
// digits, two a byte; spaces and line ends between them mean nothing.
// "PicData: W H D" gives the stored width, height and bits per sample
// (8 in real files; 1, 2 and 4 pack the samples from the high bits, rows
// padded to a byte). The first row stored is the bottom one; 0 is black.
// "Image:" gives the size to show the picture at and is not needed.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_FACE[] = "Usenix FaceServer";
const char MSG_BAD_DEPTH[] = "Face : Bad depth !";
constexpr size_t MAX_HEADER = 4096;

struct FaceHeader {
    int64_t width = 0, height = 0, depth = 0;
    size_t dataOffset = 0;  // just after the empty line
};

int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to three decimal numbers after a key; false unless all three are there.
bool threeNumbers(const char* p, const char* end, int64_t out[3]) {
    for (int k = 0; k < 3; ++k) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (p == end || *p < '0' || *p > '9') return false;
        int64_t v = 0;
        while (p < end && *p >= '0' && *p <= '9') {
            v = v * 10 + (*p - '0');
            if (v > 1000000) return false;
            ++p;
        }
        out[k] = v;
    }
    return true;
}

// Parses the header held in b[0..n): every line must be "Key: value" with a
// key of letters, digits and dashes; PicData must be there and well formed.
// The depth is returned as stored (checked by the reader).
bool faceParse(const uint8_t* b, size_t n, FaceHeader* h) {
    size_t at = 0;
    bool picData = false;
    while (at < n) {
        size_t end = at;
        while (end < n && b[end] != '\n') ++end;
        if (end == n) return false;  // no empty line in reach
        size_t stop = end;
        if (stop > at && b[stop - 1] == '\r') --stop;
        if (stop == at) {
            h->dataOffset = end + 1;
            return picData;
        }
        size_t k = at;
        while (k < stop && ((b[k] >= 'A' && b[k] <= 'Z') || (b[k] >= 'a' && b[k] <= 'z') ||
                            (b[k] >= '0' && b[k] <= '9') || b[k] == '-'))
            ++k;
        if (k == at || k == stop || b[k] != ':') return false;
        for (size_t j = k; j < stop; ++j)
            if (b[j] < 0x20 && b[j] != '\t') return false;
        const char* line = reinterpret_cast<const char*>(b + at);
        if (k - at == 7 && memcmp(line, "PicData", 7) == 0) {
            int64_t v[3];
            if (!threeNumbers(line + 8, reinterpret_cast<const char*>(b + stop), v)) return false;
            h->width = v[0];
            h->height = v[1];
            h->depth = v[2];
            if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE ||
                h->depth < 1)
                return false;
            picData = true;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

bool acceptFace(const uint8_t* head, size_t n, int64_t) {
    FaceHeader h;
    return faceParse(head, n, &h);
}

Status readFace(FILE* stream, LoadRequest* request) {
    uint8_t head[MAX_HEADER];
    const size_t n = fread(head, 1, sizeof head, stream);
    FaceHeader h;
    if (!faceParse(head, n, &h)) return ST_UNKNOWN_FORMAT;
    if (h.depth != 1 && h.depth != 2 && h.depth != 4 && h.depth != 8) {
        setReaderMessage(request, MSG_BAD_DEPTH);
        return ST_BAD_FILE;
    }
    if (!seekTo(stream, h.dataOffset)) return ST_READ_ERROR;

    RasterHeader rh{};
    rh.layout = h.depth == 8 ? PL_BYTE_PIXELS : 0;
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(h.depth);
    rh.bytesPerPlane = static_cast<int32_t>((h.width * h.depth + 7) / 8);
    setRasterName(rh.name, NAME_FACE);
    rh.compression = "Hex";
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    // Hexadecimal pairs; anything else between digits is skipped.
    RowFeed feed;
    st = feed.begin(rh.bytesPerPlane, rh.height);
    ChunkReader in(stream);
    int high = -1;
    while (st == ST_OK && !feed.done()) {
        const int c = in.get();
        if (c < 0) {
            st = feed.cut();
            break;
        }
        const int v = hexValue(c);
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            st = feed.put(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    endImage(0, 0, nullptr);
    return st;
}
