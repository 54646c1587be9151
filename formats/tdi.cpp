// Tiled images of the TDI Explore and Maya renderers (reader only).
//
// An IFF-style container of chunks aligned to 4 bytes: a tag, a big-endian
// 32-bit size, the data; "FOR4" chunks open with a form type and hold further
// chunks. A "FOR4" of form "CIMG" holds a "TBHD" tile header (width, height,
// pixel ratio, flags: bit 0 R,G,B, bit 1 alpha; bytes per sample less one,
// the number of tiles, the compression: 1), then a "FOR4" of form "TBMP"
// with one chunk per tile. A tile chunk "RGBA" holds its inclusive corners
// x1, y1, x2, y2 (16-bit words) and its pixels, bottom row first: raw (rows of
// interleaved channels) when the data fill the tile, otherwise run-length
// coded channel by channel (count byte k: below 0x80, k + 1 literal bytes;
// from 0x80, one byte repeated (k & 0x7F) + 1 times). Channels are stored
// last first: B,G,R or A,B,G,R.
//
// A tile's pixels are loaded when the first row it covers is built and freed
// once a row outside it is built.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME[] = "TDI Explore";
const char MSG_COMPRESSION[] = "TDI : Unknown Compression type !";
const char MSG_TILE[] = "TDI : Bad tile size !";
const char MSG_SAMPLE[] = "TDI : Bad number of bits !";
const char MSG_SIZE[] = "TDI : Bad picture's size !";

constexpr size_t TBHD_BYTES = 24;
constexpr uint32_t FLAG_RGB = 1;
constexpr uint32_t FLAG_ALPHA = 2;
// Tile pixels held at once beyond the picture's own size (real tiles never
// overlap; the margin covers a row of tiles in flight).
constexpr uint64_t TILE_MEMORY_MARGIN = uint64_t(16) << 20;

bool tagIs(const uint8_t* p, const char* tag) { return memcmp(p, tag, 4) == 0; }

struct Chunk {
    uint8_t tag[4];
    uint32_t size;
    uint64_t data;  // file offset of the data
    uint64_t next;  // file offset of the following chunk
};

// Reads the chunk header at `at`; false at the end of the file.
bool readChunk(FILE* f, uint64_t at, Chunk* c) {
    uint8_t b[8];
    if (!seekTo(f, at) || !readBlock(f, b, sizeof b)) return false;
    memcpy(c->tag, b, 4);
    c->size = loadU32BE(b + 4);
    c->data = at + 8;
    c->next = (c->data + c->size + 3) & ~uint64_t(3);
    return true;
}

struct Tile {
    int32_t x1, y1, x2, y2;
    uint64_t data;
    uint32_t size;
    bool packed;  // run-length planes
    Buffer pixels;
};

struct TdiPicture {
    int32_t width, height;
    int channels;
    uint32_t tileCount;
};

// The run-length planes of one tile into `out` (channels planes of w x h).
void unpackPlanes(const uint8_t* in, size_t n, uint8_t* out, int64_t planeBytes, int channels) {
    size_t i = 0;
    for (int p = 0; p < channels; ++p) {
        uint8_t* plane = out + p * planeBytes;
        int64_t filled = 0;
        while (filled < planeBytes && i < n) {
            const uint8_t k = in[i++];
            int64_t count = (k & 0x7F) + 1;
            const int64_t room = planeBytes - filled;
            if (k < 0x80) {
                const int64_t have = std::min<int64_t>(count, static_cast<int64_t>(n - i));
                memcpy(plane + filled, in + i, static_cast<size_t>(std::min(have, room)));
                i += static_cast<size_t>(have);
                filled += std::min(have, room);
            } else {
                if (i >= n) break;
                memset(plane + filled, in[i++], static_cast<size_t>(std::min(count, room)));
                filled += std::min(count, room);
            }
        }
    }
}

// Loads a tile's pixels; false when they cannot be read whole or held.
bool loadTile(FILE* f, Tile* t, int channels, uint64_t* held, uint64_t budget) {
    const int64_t w = t->x2 - t->x1 + 1, h = t->y2 - t->y1 + 1;
    const uint64_t bytes = static_cast<uint64_t>(w * h * channels);
    if (*held + bytes > budget) return false;
    Buffer pixels = allocBuffer(bytes);
    if (!pixels || !seekTo(f, t->data)) return false;
    if (t->packed) {
        Buffer in = allocBuffer(t->size);
        if (!in || !readBlock(f, in.get(), t->size)) return false;
        unpackPlanes(in.get(), t->size, pixels.get(), w * h, channels);
    } else if (!readBlock(f, pixels.get(), static_cast<size_t>(bytes))) {
        return false;
    }
    t->pixels = std::move(pixels);
    *held += bytes;
    return true;
}

// Row y of a loaded tile into the picture row.
void copyTileRow(const Tile& t, int32_t y, int channels, uint8_t* row) {
    const int64_t w = t.x2 - t.x1 + 1, h = t.y2 - t.y1 + 1;
    uint8_t* dst = row + int64_t(t.x1) * channels;
    const int64_t r = y - t.y1;
    if (!t.packed) {
        memcpy(dst, t.pixels.get() + r * w * channels, static_cast<size_t>(w * channels));
        return;
    }
    for (int j = 0; j < channels; ++j) {
        const uint8_t* plane = t.pixels.get() + j * w * h + r * w;
        for (int64_t x = 0; x < w; ++x) dst[x * channels + j] = plane[x];
    }
}

// Walks the CIMG form up to the tile header. ST_OK with the picture set.
Status readTileHeader(FILE* f, uint64_t at, uint64_t end, TdiPicture* pic, uint64_t* after, LoadRequest* request) {
    Chunk c{};
    for (;;) {
        if (at >= end || !readChunk(f, at, &c)) return ST_READ_ERROR;
        if (tagIs(c.tag, "TBHD")) break;
        at = c.next;
    }
    uint8_t b[TBHD_BYTES];
    if (c.size < TBHD_BYTES) return ST_CORRUPT;
    if (!readBlock(f, b, sizeof b)) return ST_READ_ERROR;
    const uint32_t width = loadU32BE(b), height = loadU32BE(b + 4);
    const uint32_t flags = loadU32BE(b + 12);
    if (loadU32BE(b + 20) != 1) {
        setReaderMessage(request, MSG_COMPRESSION);
        return ST_BAD_FILE;
    }
    if (loadU16BE(b + 16) != 0) {  // 16-bit samples
        setReaderMessage(request, MSG_SAMPLE);
        return ST_BAD_FILE;
    }
    if (width < 1 || width > MAX_IMAGE_SIDE || height < 1 || height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_SIZE);
        return ST_BAD_FILE;
    }
    pic->width = static_cast<int32_t>(width);
    pic->height = static_cast<int32_t>(height);
    pic->channels = (flags & FLAG_RGB ? 3 : 0) + (flags & FLAG_ALPHA ? 1 : 0);
    if (pic->channels == 0) pic->channels = 1;
    pic->tileCount = loadU16BE(b + 18);
    *after = c.next;
    return ST_OK;
}

// The TBMP form's tile chunks. A list cut short keeps the tiles read and
// returns ST_READ_ERROR.
Status readTileList(FILE* f, uint64_t at, uint64_t end, const TdiPicture& pic, std::vector<Tile>* tiles,
                    LoadRequest* request) {
    Chunk c{};
    for (;;) {
        if (at >= end || !readChunk(f, at, &c)) return ST_READ_ERROR;
        uint8_t form[4];
        if (tagIs(c.tag, "FOR4") && c.size >= 4 && readBlock(f, form, 4) && tagIs(form, "TBMP")) break;
        at = c.next;
    }
    const uint64_t listEnd = std::min(end, c.data + c.size);
    at = c.data + 4;
    for (uint32_t i = 0; i < pic.tileCount; ++i) {
        if (at >= listEnd || !readChunk(f, at, &c)) return ST_READ_ERROR;
        at = c.next;
        uint8_t corners[8];
        if (!tagIs(c.tag, "RGBA")) continue;
        if (c.size < sizeof corners) return ST_CORRUPT;
        if (!readBlock(f, corners, sizeof corners)) return ST_READ_ERROR;
        Tile t{};
        t.x1 = loadU16BE(corners);
        t.y1 = loadU16BE(corners + 2);
        t.x2 = loadU16BE(corners + 4);
        t.y2 = loadU16BE(corners + 6);
        if (t.x2 >= pic.width || t.y2 >= pic.height || t.x1 > t.x2 || t.y1 > t.y2) {
            setReaderMessage(request, MSG_TILE);
            return ST_BAD_FILE;
        }
        t.data = c.data + sizeof corners;
        t.size = c.size - static_cast<uint32_t>(sizeof corners);
        const uint64_t raw = uint64_t(t.x2 - t.x1 + 1) * uint64_t(t.y2 - t.y1 + 1) * uint64_t(pic.channels);
        t.packed = t.size < raw;
        tiles->push_back(std::move(t));
    }
    return ST_OK;
}

}  // namespace

bool acceptTdi(const uint8_t* head, size_t n, int64_t) {
    return n >= 12 && tagIs(head, "FOR4") && tagIs(head + 8, "CIMG");
}

Status readTdi(FILE* stream, LoadRequest* request) {
    Chunk form{};
    uint8_t type[4];
    if (!readChunk(stream, 0, &form) || !tagIs(form.tag, "FOR4") || !readBlock(stream, type, 4) ||
        !tagIs(type, "CIMG"))
        return ST_UNKNOWN_FORMAT;
    const uint64_t fileEnd = request->fileSize > 0 ? static_cast<uint64_t>(request->fileSize) : UINT64_MAX;
    const uint64_t end = std::min(fileEnd, form.data + form.size);
    TdiPicture pic{};
    uint64_t at = 0;
    Status st = readTileHeader(stream, form.data + 4, end, &pic, &at, request);
    if (st != ST_OK) return st;
    std::vector<Tile> tiles;
    Status listStatus = readTileList(stream, at, end, pic, &tiles, request);
    if (listStatus == ST_BAD_FILE || listStatus == ST_CORRUPT) return listStatus;

    RasterHeader rh{};
    rh.layout = PL_REVERSED;
    rh.orientation = OR_BOTTOM_UP;
    rh.channels = 1;
    rh.width = pic.width;
    rh.height = pic.height;
    rh.planes = 1;
    rh.bitsPerPlane = static_cast<int16_t>(8 * pic.channels);
    rh.bytesPerPlane = pic.channels * pic.width;
    setRasterName(rh.name, NAME);
    rh.compression = "RLE";
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    const uint64_t budget = uint64_t(rh.bytesPerPlane) * uint64_t(rh.height) + TILE_MEMORY_MARGIN;
    uint64_t held = 0;
    Status dataStatus = ST_OK;  // tiles that could not be read
    Buffer row = allocBuffer(static_cast<uint64_t>(rh.bytesPerPlane));
    if (!row) st = ST_NO_MEMORY;
    for (int32_t y = 0; st == ST_OK && y < rh.height; ++y) {
        memset(row.get(), 0, static_cast<size_t>(rh.bytesPerPlane));
        for (Tile& t : tiles) {
            const int64_t bytes = int64_t(t.x2 - t.x1 + 1) * (t.y2 - t.y1 + 1) * pic.channels;
            if (y < t.y1 || y > t.y2) {
                if (t.pixels) {
                    t.pixels.reset();
                    held -= static_cast<uint64_t>(bytes);
                }
                continue;
            }
            if (!t.pixels) {
                if (!loadTile(stream, &t, pic.channels, &held, budget)) {
                    t.y1 = t.y2 = -1;  // never tried again
                    dataStatus = ST_READ_ERROR;
                    continue;
                }
            }
            copyTileRow(t, y, pic.channels, row.get());
        }
        st = deliverRow(row.get(), rh.bytesPerPlane, y);
    }
    endImage(0, 8, nullptr);
    if (st != ST_OK) return st;
    return listStatus != ST_OK ? listStatus : dataStatus;
}
