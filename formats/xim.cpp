// Xim and Fuzzy Bitmap pictures (readers only): two X11-era formats whose
// headers are fixed-width text fields holding decimal numbers (NUL or space
// padded, read like atoi: leading spaces, then digits up to the first other
// character).
//
// Xim (X11R4 contrib, header version 3): a 1024-byte header, width, height,
// colours used, channels (0 or 1: indices through the colour map; 3: R,G,B;
// 4: R,G,B and alpha), bytes per line, pictures, bits per channel (1: a
// bitmap, 24: an old way of saying 3 channels), an alpha flag and a
// run-length flag, text fields, then the colour map as 256 R,G,B triplets at
// offset 256. Channels follow one another from offset 1024, each a whole
// picture of bytes-per-line x height bytes, top row first. Run-length files
// code each channel as (n, v) pairs, v repeated n + 1 times. Bitmaps keep
// the leftmost pixel in the high bit, 1 being black. Only the colour map's
// first "colours used" entries count; a mapped file that uses none is grey.
//
// Fuzzy Bitmap (FBM, also .cbm): a 256-byte header "%bitmap\0", columns,
// rows, planes (1 or 3), significant bits, stored bits (8, or 1 for packed
// bitmaps), bytes per row, bytes per plane, colour map length, aspect ratio,
// title and credits. The colour map follows (all reds, all greens, all
// blues), then the planes one after another, each rows of the row length
// (the pixels, then padding) and padding up to the plane length. One plane
// holds grey levels (0 black), colour indices, or, at 1 significant bit,
// bytes where 0 is black and anything else white.
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

// atoi on a fixed field: leading spaces, digits up to the first other byte.
int64_t fieldNumber(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && p[i] == ' ') ++i;
    int64_t v = 0;
    while (i < n && p[i] >= '0' && p[i] <= '9') {
        if (v < 100000000000) v = v * 10 + (p[i] - '0');
        ++i;
    }
    return v;
}

// ---- Xim ----------------------------------------------------------------------

const char NAME_XIM[] = "Xim";
const char NAME_XIM_RLE[] = "Xim (RLE)";
constexpr size_t XIM_HEADER = 1024;
constexpr size_t XIM_MAP = 256;
constexpr int32_t MAX_PAGES = 4096;

struct XimHeader {
    int64_t width, height, colours, channels, lineBytes, pictures, bits;
    bool alpha, runLength;
    int planes;  // channels stored, the alpha channel included
};

bool ximParse(const uint8_t* b, size_t n, int64_t fileSize, XimHeader* h) {
    if (n < XIM_HEADER) return false;
    for (size_t i = 0; i < 64; ++i)
        if (!(b[i] == 0 || b[i] == ' ' || (b[i] >= '0' && b[i] <= '9'))) return false;
    if (fieldNumber(b, 8) != 3 || fieldNumber(b + 8, 8) != static_cast<int64_t>(XIM_HEADER)) return false;
    h->width = fieldNumber(b + 16, 8);
    h->height = fieldNumber(b + 24, 8);
    h->colours = fieldNumber(b + 32, 8);
    h->channels = fieldNumber(b + 40, 3);
    h->lineBytes = fieldNumber(b + 43, 5);
    h->pictures = fieldNumber(b + 48, 4);
    h->bits = fieldNumber(b + 52, 4);
    h->alpha = fieldNumber(b + 56, 4) != 0;
    h->runLength = fieldNumber(b + 60, 4) != 0;
    if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE) return false;
    if (h->channels != 0 && h->channels != 1 && h->channels != 3 && h->channels != 4) return false;
    if (h->bits != 0 && h->bits != 1 && h->bits != 8 && h->bits != 24) return false;
    if (h->bits == 0) h->bits = 8;
    if (h->bits == 24) {
        h->channels = 3;
        h->bits = 8;
    }
    if (h->channels == 0) h->channels = 1;
    if (h->bits == 1 && h->channels != 1) return false;
    const int64_t least = h->bits == 1 ? (h->width + 7) / 8 : h->width;
    if (h->lineBytes == 0) h->lineBytes = least;
    if (h->lineBytes < least) return false;
    if (h->pictures < 1) h->pictures = 1;
    h->planes = static_cast<int>(h->channels);
    if (h->channels == 3 && h->alpha) h->planes = 4;
    if (!h->runLength && static_cast<int64_t>(XIM_HEADER) + h->planes * h->lineBytes * h->height > fileSize)
        return false;
    return true;
}

// One run-length coded channel, or the skipping of one when plane < -1.
Status ximRunLength(ChunkReader* in, int64_t lineBytes, int32_t height, int plane) {
    if (plane < -1) {
        int64_t left = lineBytes * height;
        while (left > 0) {
            const int n = in->get(), v = in->get();
            if (n < 0 || v < 0) return ST_READ_ERROR;
            left -= n + 1;
        }
        return ST_OK;
    }
    RowFeed feed;
    Status st = feed.begin(lineBytes, height, plane);
    while (st == ST_OK && !feed.done()) {
        const int n = in->get();
        const int v = n < 0 ? -1 : in->get();
        if (v < 0) return feed.cut();
        st = feed.repeat(static_cast<uint8_t>(v), n + 1);
    }
    return st;
}

}  // namespace

bool acceptXim(const uint8_t* head, size_t n, int64_t fileSize) {
    XimHeader h;
    return ximParse(head, n, fileSize, &h);
}

Status readXim(FILE* stream, LoadRequest* request) {
    uint8_t head[XIM_HEADER];
    XimHeader h;
    if (!readBlock(stream, head, sizeof head) || !ximParse(head, sizeof head, request->fileSize, &h))
        return ST_UNKNOWN_FORMAT;
    const int64_t channelBytes = h.lineBytes * h.height;
    const int64_t pictureBytes = channelBytes * h.planes;
    int32_t pages = static_cast<int32_t>(h.pictures < MAX_PAGES ? h.pictures : MAX_PAGES);
    if (!h.runLength) {
        // Count only the pictures the file holds whole (the first one always).
        const int64_t whole = (request->fileSize - static_cast<int64_t>(XIM_HEADER)) / pictureBytes;
        if (whole < pages) pages = static_cast<int32_t>(whole < 1 ? 1 : whole);
    }
    const int32_t page = request->pageIndex > 0 && request->pageIndex < pages ? request->pageIndex : 0;
    request->pageCount = pages;

    RasterHeader rh{};
    rh.layout = h.channels == 1 ? (h.bits == 8 ? PL_BYTE_PIXELS : 0) : PL_CHANNEL_PLANES;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = static_cast<int16_t>(h.channels == 1 ? 1 : h.planes);
    rh.bitsPerPlane = static_cast<int16_t>(h.bits);
    rh.bytesPerPlane = static_cast<int32_t>(h.lineBytes);
    setRasterName(rh.name, h.runLength ? NAME_XIM_RLE : NAME_XIM);
    rh.compression = h.runLength ? "RLE" : nullptr;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    // The colour map's first entries, as many as the header says are used.
    uint8_t map[768] = {};
    const int64_t used = h.colours < 256 ? h.colours : 256;
    memcpy(map, head + XIM_MAP, static_cast<size_t>(3 * used));
    if (!h.runLength) {
        if (!seekTo(stream, XIM_HEADER + static_cast<uint64_t>(page) * pictureBytes)) st = ST_READ_ERROR;
        if (h.channels == 1) {
            if (st == ST_OK) st = readRows(stream, h.lineBytes, rh.height);
        } else {
            for (int p = 0; p < rh.planes && st == ST_OK; ++p) st = readRows(stream, h.lineBytes, rh.height, p);
        }
    } else {
        ChunkReader in(stream);
        for (int32_t skip = 0; skip < page * h.planes && st == ST_OK; ++skip)
            st = ximRunLength(&in, h.lineBytes, rh.height, -2);
        for (int p = 0; p < rh.planes && st == ST_OK; ++p)
            st = ximRunLength(&in, h.lineBytes, rh.height, h.channels == 1 ? -1 : p);
    }
    if (h.bits == 1) endImage(PF_INVERT, 0, nullptr);
    else if (h.channels == 1 && used > 0) endImage(PF_TRIPLETS, 8, map);
    else endImage(0, 8, nullptr);
    return st;
}

// ---- Fuzzy Bitmap -----------------------------------------------------------------

namespace {

const char NAME_FBM[] = "Fuzzy Bitmap";
const char NAME_FBM_RGB[] = "Fuzzy Bitmap (RGB)";
const char MSG_FBM_HEADER[] = "FBM : Bad header !";
constexpr size_t FBM_HEADER = 256;

struct FbmHeader {
    int64_t cols, rows, planes, bits, physBits, rowLength, planeLength, mapLength;
};

// atof on a fixed field, enough for the aspect ratio: digits, a point, digits.
double fieldReal(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && p[i] == ' ') ++i;
    double v = 0, scale = 0;
    for (; i < n; ++i) {
        if (p[i] == '.' && scale == 0) {
            scale = 1;
        } else if (p[i] >= '0' && p[i] <= '9') {
            if (scale > 0) {
                scale /= 10;
                v += (p[i] - '0') * scale;
            } else if (v < 1e9) {
                v = v * 10 + (p[i] - '0');
            }
        } else {
            break;
        }
    }
    return v;
}

// 0: not FBM; 1: FBM with a usable header; -1: FBM magic, header nonsense.
int fbmParse(const uint8_t* b, size_t n, FbmHeader* h) {
    if (n < FBM_HEADER || memcmp(b, "%bitmap", 8) != 0) return 0;
    h->cols = fieldNumber(b + 8, 8);
    h->rows = fieldNumber(b + 16, 8);
    h->planes = fieldNumber(b + 24, 8);
    h->bits = fieldNumber(b + 32, 8);
    h->physBits = fieldNumber(b + 40, 8);
    h->rowLength = fieldNumber(b + 48, 12);
    h->planeLength = fieldNumber(b + 60, 12);
    h->mapLength = fieldNumber(b + 72, 12);
    const double aspect = fieldReal(b + 84, 12);
    if (h->cols < 1 || h->cols > MAX_IMAGE_SIDE || h->rows < 1 || h->rows > MAX_IMAGE_SIDE) return -1;
    if ((h->planes != 1 && h->planes != 3) || h->bits < 1 || h->bits > 8) return -1;
    if (h->physBits != 1 && h->physBits != 8) return -1;
    if (h->rowLength < (h->physBits == 8 ? h->cols : (h->cols + 7) / 8) || h->rowLength > 1 << 20) return -1;
    if (h->planeLength < h->rows * h->rowLength) return -1;
    if (h->mapLength % 3 != 0 || h->mapLength > 768) return -1;
    if (!(aspect >= 0.01 && aspect <= 100)) return -1;
    if (h->physBits == 1 && h->planes != 1) return -1;
    return 1;
}

// Byte bitmaps: anything but 0 is white.
void fbmBits(const void* data, const uint8_t* stored, uint8_t* out) {
    const int64_t cols = *static_cast<const int64_t*>(data);
    for (int64_t x = 0; x < cols; ++x) out[x] = stored[x] != 0;
}

}  // namespace

bool acceptFbm(const uint8_t* head, size_t n, int64_t) {
    FbmHeader h;
    return fbmParse(head, n, &h) != 0;  // the magic is enough; the reader tells a bad header
}

Status readFbm(FILE* stream, LoadRequest* request) {
    uint8_t head[FBM_HEADER];
    FbmHeader h;
    if (!readBlock(stream, head, sizeof head)) return ST_UNKNOWN_FORMAT;
    const int parsed = fbmParse(head, sizeof head, &h);
    if (parsed == 0) return ST_UNKNOWN_FORMAT;
    if (parsed < 0) {
        setReaderMessage(request, MSG_FBM_HEADER);
        return ST_BAD_FILE;
    }
    const bool rgb = h.planes == 3;
    const bool byteBits = h.physBits == 8 && h.bits == 1 && h.mapLength == 0;
    RasterHeader rh{};
    rh.layout = rgb ? PL_CHANNEL_PLANES : (h.physBits == 8 ? PL_BYTE_PIXELS : 0);
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.cols);
    rh.height = static_cast<int32_t>(h.rows);
    rh.planes = static_cast<int16_t>(h.planes);
    rh.bitsPerPlane = static_cast<int16_t>(h.physBits == 1 || byteBits ? 1 : 8);
    rh.bytesPerPlane = static_cast<int32_t>(h.rowLength);
    setRasterName(rh.name, rgb ? NAME_FBM_RGB : NAME_FBM);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    // The map, all reds then all greens then all blues, into the 256-entry planar table.
    uint8_t table[768] = {};
    const int64_t entries = h.mapLength / 3;
    uint8_t map[768];
    if (h.mapLength > 0 && !readBlock(stream, map, static_cast<size_t>(h.mapLength))) st = ST_READ_ERROR;
    for (int64_t c = 0; c < 3 && st == ST_OK; ++c) memcpy(table + 256 * c, map + entries * c, entries);
    const int64_t planePadding = h.planeLength - h.rows * h.rowLength;
    for (int p = 0; p < h.planes && st == ST_OK; ++p) {
        if (p > 0 && (planePadding > 0x7FFFFFFF || !skipBytes(stream, static_cast<long>(planePadding)))) {
            st = ST_READ_ERROR;
            break;
        }
        st = readRows(stream, h.rowLength, rh.height, rgb ? p : -1, byteBits ? fbmBits : nullptr, &h.cols);
    }
    if (rgb) endImage(0, 8, nullptr);
    else if (h.mapLength > 0 && rh.bitsPerPlane == 8) endImage(PF_PLANAR, 8, table);
    else endImage(0, 0, nullptr);
    return st;
}
