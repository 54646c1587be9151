// GIMP's own files (.xcf): the visible layers flattened onto a white canvas.
//
// Everything is big-endian. The file opens with "gimp xcf " and a version
// ("file" for 0, "v001".."v0NN"), a NUL, the canvas width and height, the base
// type (0 RGB, 1 grey, 2 indexed) and, from version 4, the precision. Then a
// property list (u32 type, u32 length, payload; type 0 ends it), the layer
// pointers (topmost layer first, 0 ends them) and the channel pointers.
// Pointers are absolute offsets of 32 bits, 64 bits from version 11.
//
// A layer: width, height, type (0 RGB, 1 RGBA, 2 grey, 3 grey and alpha,
// 4 indexed, 5 indexed and alpha), a name, its properties, a pointer to its
// hierarchy and one to its mask (a channel: width, height, name, properties,
// hierarchy). A hierarchy: width, height, bytes per pixel, then level
// pointers, of which the first is the full-size level. A level: width,
// height, then one pointer per 64 x 64 tile, row by row. Tiles are stored
// plain, in zlib streams, or run-length coded one byte plane after the other.
//
// The canvas is built 64 rows at a time: for each band, every visible layer
// from the bottom one up decodes the tiles that cross the band and blends them
// in by its alpha, its mask and its opacity (other blend modes are drawn as
// Normal), so the memory taken is one band whatever the number of layers.
#include <zlib.h>

#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "XCF : Bad picture's size !";
const char MSG_PRECISION[] = "XCF : Unsupported precision !";
const char MSG_BAD_TILE[] = "XCF : Bad tile data !";

const char NAME_PLAIN[] = "GIMP XCF";
const char NAME_RLE[] = "GIMP XCF (RLE)";
const char NAME_ZLIB[] = "GIMP XCF (zlib)";

const char MAGIC[] = "gimp xcf ";
constexpr size_t MAGIC_LEN = 9;
constexpr size_t HEAD_LEN = 14;
constexpr uint32_t MAX_VERSION = 20;
constexpr int TILE = 64;
constexpr uint32_t MAX_LAYERS = 10000;
constexpr uint32_t MAX_SKIPPED_PROPERTY = 1u << 30;

enum : uint32_t {
    PROP_END = 0,
    PROP_COLORMAP = 1,
    PROP_FLOATING_SELECTION = 5,
    PROP_OPACITY = 6,
    PROP_VISIBLE = 8,
    PROP_APPLY_MASK = 11,
    PROP_OFFSETS = 15,
    PROP_COMPRESSION = 17,
    PROP_RESOLUTION = 19,
    PROP_GROUP_ITEM = 29,
    PROP_FLOAT_OPACITY = 33,
};

enum : uint8_t { COMP_NONE = 0, COMP_RLE = 1, COMP_ZLIB = 2 };

struct XcfFile {
    FILE* f;
    int64_t size;
    uint32_t version;
    int ptrBytes;
    uint32_t width, height, baseType;
    uint8_t compression;
    bool hasMap;
    uint8_t map[PALETTE_BYTES];
    double xdpi, ydpi;
    uint64_t tilesBudget;  // pointer-table bytes the file can back, shared by all levels
};

// One tiled raster: a layer's pixels or its mask.
struct XcfLevel {
    uint64_t table;  // file offset of the first tile pointer
    uint32_t width, height, bpp;
};

struct XcfLayer {
    int32_t x, y;         // position on the canvas
    uint32_t type;
    uint32_t opacity;     // 0..255
    bool visible, floating, group, applyMask, hasMask;
    XcfLevel pixels, mask;
};

bool readU32(FILE* f, uint32_t* v) {
    uint8_t b[4];
    if (!readBlock(f, b, 4)) return false;
    *v = loadU32BE(b);
    return true;
}

bool readPointer(const XcfFile& x, uint64_t* v) {
    uint8_t b[8];
    if (!readBlock(x.f, b, static_cast<size_t>(x.ptrBytes))) return false;
    *v = x.ptrBytes == 8 ? (static_cast<uint64_t>(loadU32BE(b)) << 32) | loadU32BE(b + 4) : loadU32BE(b);
    return true;
}

bool skipString(const XcfFile& x) {
    uint32_t n;
    if (!readU32(x.f, &n) || n > x.size) return false;
    return skipBytes(x.f, static_cast<long>(n));
}

bool seekInside(const XcfFile& x, uint64_t offset) {
    return offset > 0 && offset < static_cast<uint64_t>(x.size) && seekTo(x.f, offset);
}

// An IEEE single from its big-endian bits.
double floatOf(uint32_t bits) {
    float v;
    memcpy(&v, &bits, sizeof v);
    return v == v ? static_cast<double>(v) : 0.0;
}

// Walks a property list; image properties go to the file, layer ones to the
// layer (null while reading the image's or a mask's list).
Status readProperties(XcfFile* x, XcfLayer* layer, bool image) {
    for (int guard = 0; guard < 100000; ++guard) {
        uint32_t type, length;
        if (!readU32(x->f, &type) || !readU32(x->f, &length)) return ST_READ_ERROR;
        if (type == PROP_END) return ST_OK;
        uint8_t b[8] = {};
        if (image && type == PROP_COLORMAP) {
            // The length word was wrong in old files: the count says it all.
            uint32_t n;
            if (!readU32(x->f, &n)) return ST_READ_ERROR;
            if (n > 256) return ST_CORRUPT;
            memset(x->map, 0, sizeof x->map);
            if (!readBlock(x->f, x->map, 3 * n)) return ST_READ_ERROR;
            x->hasMap = true;
            continue;
        }
        const bool small = length <= sizeof b &&
                           (type == PROP_COMPRESSION || type == PROP_RESOLUTION || type == PROP_OPACITY ||
                            type == PROP_FLOAT_OPACITY || type == PROP_VISIBLE || type == PROP_APPLY_MASK ||
                            type == PROP_OFFSETS);
        if (!small) {
            if (length > MAX_SKIPPED_PROPERTY || length > x->size) return ST_CORRUPT;
            if (!skipBytes(x->f, static_cast<long>(length))) return ST_READ_ERROR;
            if (layer && type == PROP_FLOATING_SELECTION) layer->floating = true;
            if (layer && type == PROP_GROUP_ITEM) layer->group = true;
            continue;
        }
        if (!readBlock(x->f, b, length)) return ST_READ_ERROR;
        if (image) {
            if (type == PROP_COMPRESSION && length >= 1) x->compression = b[0];
            if (type == PROP_RESOLUTION && length == 8) {
                x->xdpi = floatOf(loadU32BE(b));
                x->ydpi = floatOf(loadU32BE(b + 4));
            }
        } else if (layer) {
            const uint32_t v = length >= 4 ? loadU32BE(b) : 0;
            if (type == PROP_OPACITY && length >= 4) layer->opacity = v > 255 ? 255 : v;
            if (type == PROP_FLOAT_OPACITY && length >= 4) {
                const double o = floatOf(v);
                layer->opacity = o <= 0 ? 0 : o >= 1 ? 255 : static_cast<uint32_t>(o * 255 + 0.5);
            }
            if (type == PROP_VISIBLE && length >= 4) layer->visible = v != 0;
            if (type == PROP_APPLY_MASK && length >= 4) layer->applyMask = v != 0;
            if (type == PROP_OFFSETS && length == 8) {
                layer->x = static_cast<int32_t>(v);
                layer->y = static_cast<int32_t>(loadU32BE(b + 4));
            }
        }
    }
    return ST_CORRUPT;
}

// A hierarchy and its first level; its tile pointer table is charged to the
// file's budget, so that layers sharing data cannot multiply the work.
Status readLevel(XcfFile* x, uint64_t hierarchy, uint32_t width, uint32_t height, XcfLevel* out) {
    if (!seekInside(*x, hierarchy)) return ST_CORRUPT;
    uint32_t hw, hh, bpp;
    uint64_t level;
    if (!readU32(x->f, &hw) || !readU32(x->f, &hh) || !readU32(x->f, &bpp) || !readPointer(*x, &level))
        return ST_READ_ERROR;
    if (hw != width || hh != height || bpp < 1 || bpp > 4) return ST_CORRUPT;
    if (!seekInside(*x, level)) return ST_CORRUPT;
    uint32_t lw, lh;
    if (!readU32(x->f, &lw) || !readU32(x->f, &lh)) return ST_READ_ERROR;
    if (lw != width || lh != height) return ST_CORRUPT;
    const uint64_t tiles = static_cast<uint64_t>((width + TILE - 1) / TILE) * ((height + TILE - 1) / TILE);
    const uint64_t tableBytes = tiles * static_cast<uint64_t>(x->ptrBytes);
    if (tableBytes > x->tilesBudget) return ST_CORRUPT;
    x->tilesBudget -= tableBytes;
    out->table = level + 8;
    out->width = width;
    out->height = height;
    out->bpp = bpp;
    return ST_OK;
}

Status readLayer(XcfFile* x, uint64_t at, XcfLayer* layer) {
    if (!seekInside(*x, at)) return ST_CORRUPT;
    uint32_t w, h;
    if (!readU32(x->f, &w) || !readU32(x->f, &h) || !readU32(x->f, &layer->type)) return ST_READ_ERROR;
    if (layer->type > 5) return ST_CORRUPT;
    if (!skipString(*x)) return ST_READ_ERROR;
    layer->opacity = 255;
    layer->visible = true;
    layer->applyMask = true;
    Status st = readProperties(x, layer, false);
    if (st != ST_OK) return st;
    uint64_t hierarchy, mask;
    if (!readPointer(*x, &hierarchy) || !readPointer(*x, &mask)) return ST_READ_ERROR;
    if (w == 0 || h == 0 || layer->floating || layer->group || !layer->visible || layer->opacity == 0) {
        layer->visible = false;  // nothing of it reaches the canvas
        return ST_OK;
    }
    if (w > 0x7FFFFFFF - TILE || h > 0x7FFFFFFF - TILE) return ST_CORRUPT;
    st = readLevel(x, hierarchy, w, h, &layer->pixels);
    if (st != ST_OK) return st;
    const uint32_t expected = layer->type / 2 == 0 ? 3 + layer->type % 2 : 1 + layer->type % 2;
    if (layer->pixels.bpp != expected) return ST_CORRUPT;
    if (mask != 0 && layer->applyMask) {
        if (!seekInside(*x, mask)) return ST_CORRUPT;
        uint32_t mw, mh;
        if (!readU32(x->f, &mw) || !readU32(x->f, &mh) || !skipString(*x)) return ST_READ_ERROR;
        st = readProperties(x, nullptr, false);
        uint64_t mh2;
        if (st == ST_OK && !readPointer(*x, &mh2)) st = ST_READ_ERROR;
        if (st == ST_OK) st = mw == w && mh == h ? readLevel(x, mh2, w, h, &layer->mask) : ST_CORRUPT;
        if (st != ST_OK) return st;
        if (layer->mask.bpp != 1) return ST_CORRUPT;
        layer->hasMask = true;
    }
    return ST_OK;
}

// Run-length data, one stream per byte of the pixel, each tw x th bytes.
bool unpackRle(const uint8_t* in, size_t n, uint8_t* out, size_t pixels, uint32_t bpp) {
    size_t at = 0;
    for (uint32_t k = 0; k < bpp; ++k) {
        size_t done = 0;
        while (done < pixels) {
            if (at >= n) return false;
            const uint8_t op = in[at++];
            size_t count;
            if (op <= 126 || op == 127) {  // a run
                if (op == 127) {
                    if (at + 2 > n) return false;
                    count = static_cast<size_t>(in[at]) << 8 | in[at + 1];
                    at += 2;
                } else {
                    count = op + 1u;
                }
                if (at >= n || count > pixels - done) return false;
                const uint8_t v = in[at++];
                for (size_t i = 0; i < count; ++i) out[(done + i) * bpp + k] = v;
            } else {  // literal bytes
                if (op == 128) {
                    if (at + 2 > n) return false;
                    count = static_cast<size_t>(in[at]) << 8 | in[at + 1];
                    at += 2;
                } else {
                    count = 256u - op;
                }
                if (count > pixels - done || count > n - at) return false;
                for (size_t i = 0; i < count; ++i) out[(done + i) * bpp + k] = in[at + i];
                at += count;
            }
            done += count;
        }
    }
    return true;
}

bool inflateTile(const uint8_t* in, size_t n, uint8_t* out, size_t outBytes) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<uint8_t*>(in);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(outBytes);
    const int r = inflate(&z, Z_FINISH);
    const bool full = z.avail_out == 0 && (r == Z_STREAM_END || r == Z_OK || r == Z_BUF_ERROR);
    inflateEnd(&z);
    return full;
}

struct TileScratch {
    Buffer coded;
    size_t codedRoom = 0;
};

// Decodes tile `index` of a level (tw x th pixels) into out.
Status readTile(const XcfFile& x, const XcfLevel& level, uint32_t index, uint32_t tw, uint32_t th, uint8_t* out,
                TileScratch* scratch) {
    if (!seekTo(x.f, level.table + static_cast<uint64_t>(index) * x.ptrBytes)) return ST_READ_ERROR;
    uint64_t at, next;
    if (!readPointer(x, &at)) return ST_READ_ERROR;
    if (!readPointer(x, &next)) next = 0;
    if (at == 0 || at >= static_cast<uint64_t>(x.size)) return ST_CORRUPT;
    const size_t pixels = static_cast<size_t>(tw) * th;
    const size_t raw = pixels * level.bpp;
    // The stored size is not recorded: up to the next tile, or what the coding can take.
    uint64_t room = x.compression == COMP_NONE ? raw : 2 * raw + 1024;
    if (next > at && next - at < room) room = next - at;
    if (room > static_cast<uint64_t>(x.size) - at) room = static_cast<uint64_t>(x.size) - at;
    if (room > scratch->codedRoom) {
        scratch->coded = allocBuffer(2 * TILE * TILE * 4 + 1024);
        if (!scratch->coded) return ST_NO_MEMORY;
        scratch->codedRoom = 2 * TILE * TILE * 4 + 1024;
    }
    if (!seekTo(x.f, at)) return ST_READ_ERROR;
    const size_t got = fread(scratch->coded.get(), 1, static_cast<size_t>(room), x.f);
    if (x.compression == COMP_NONE) {
        if (got < raw) return ST_READ_ERROR;
        memcpy(out, scratch->coded.get(), raw);
        return ST_OK;
    }
    const bool ok = x.compression == COMP_RLE ? unpackRle(scratch->coded.get(), got, out, pixels, level.bpp)
                                              : inflateTile(scratch->coded.get(), got, out, raw);
    if (ok) return ST_OK;
    // Data that stop at the end of the file were cut rather than spoilt.
    return got < room || at + got >= static_cast<uint64_t>(x.size) ? ST_READ_ERROR : ST_CORRUPT;
}

// One pixel of a layer in the canvas's terms: colour (1 or 3 bytes) and alpha.
inline void layerPixel(const XcfFile& x, uint32_t type, const uint8_t* p, int channels, uint8_t* colour,
                       uint32_t* alpha) {
    uint8_t r, g, b;
    switch (type) {
    case 0: case 1:
        r = p[0], g = p[1], b = p[2];
        *alpha = type == 1 ? p[3] : 255;
        break;
    case 2: case 3:
        r = g = b = p[0];
        *alpha = type == 3 ? p[1] : 255;
        break;
    default:  // indexed: an alpha under half is none at all
        r = x.map[3 * p[0]], g = x.map[3 * p[0] + 1], b = x.map[3 * p[0] + 2];
        *alpha = type == 5 ? (p[1] >= 128 ? 255 : 0) : 255;
        break;
    }
    if (channels == 3) {
        colour[0] = r, colour[1] = g, colour[2] = b;
    } else {
        colour[0] = static_cast<uint8_t>((r * 299 + g * 587 + b * 114 + 500) / 1000);
    }
}

struct Band {
    uint8_t* rows;     // width x TILE x channels
    int64_t stride;
    int32_t top, count;
    int channels;
};

// Blends the tiles of one layer that cross the band.
Status blendLayer(const XcfFile& x, const XcfLayer& layer, const Band& band, uint8_t* tile, uint8_t* maskTile,
                  TileScratch* scratch) {
    const XcfLevel& lv = layer.pixels;
    const int64_t top = static_cast<int64_t>(band.top) - layer.y;  // band rows in layer terms
    const int64_t bottom = top + band.count;
    if (bottom <= 0 || top >= lv.height) return ST_OK;
    const int64_t left = -static_cast<int64_t>(layer.x), right = left + x.width;
    if (right <= 0 || left >= lv.width) return ST_OK;
    const uint32_t across = (lv.width + TILE - 1) / TILE;
    const int64_t ty0 = top < 0 ? 0 : top / TILE, ty1 = (bottom - 1 < lv.height ? bottom - 1 : lv.height - 1) / TILE;
    const int64_t tx0 = left < 0 ? 0 : left / TILE, tx1 = (right - 1 < lv.width ? right - 1 : lv.width - 1) / TILE;
    for (int64_t ty = ty0; ty <= ty1; ++ty) {
        const uint32_t th = static_cast<uint32_t>(lv.height - ty * TILE < TILE ? lv.height - ty * TILE : TILE);
        for (int64_t tx = tx0; tx <= tx1; ++tx) {
            const uint32_t tw = static_cast<uint32_t>(lv.width - tx * TILE < TILE ? lv.width - tx * TILE : TILE);
            const uint32_t index = static_cast<uint32_t>(ty * across + tx);
            Status st = readTile(x, lv, index, tw, th, tile, scratch);
            if (st == ST_OK && layer.hasMask) st = readTile(x, layer.mask, index, tw, th, maskTile, scratch);
            if (st != ST_OK) return st;
            for (uint32_t j = 0; j < th; ++j) {
                const int64_t canvasY = layer.y + ty * TILE + j;
                if (canvasY < band.top || canvasY >= band.top + band.count) continue;
                uint8_t* out = band.rows + (canvasY - band.top) * band.stride;
                for (uint32_t i = 0; i < tw; ++i) {
                    const int64_t canvasX = layer.x + tx * TILE + i;
                    if (canvasX < 0 || canvasX >= x.width) continue;
                    uint8_t colour[3];
                    uint32_t a;
                    layerPixel(x, layer.type, tile + (static_cast<size_t>(j) * tw + i) * lv.bpp, band.channels,
                               colour, &a);
                    if (layer.hasMask) a = a * maskTile[static_cast<size_t>(j) * tw + i] / 255;
                    a = a * layer.opacity / 255;
                    uint8_t* o = out + canvasX * band.channels;
                    for (int c = 0; c < band.channels; ++c)
                        o[c] = static_cast<uint8_t>((o[c] * (255 - a) + colour[c] * a + 127) / 255);
                }
            }
        }
    }
    return ST_OK;
}

Status readHeader(FILE* f, XcfFile* x) {
    uint8_t b[HEAD_LEN + 12];
    if (!readBlock(f, b, HEAD_LEN + 12)) return ST_UNKNOWN_FORMAT;
    if (!acceptXcf(b, sizeof b, 0)) return ST_UNKNOWN_FORMAT;
    x->version = b[9] == 'f' ? 0 : static_cast<uint32_t>((b[11] - '0') * 10 + (b[12] - '0'));
    x->ptrBytes = x->version >= 11 ? 8 : 4;
    x->width = loadU32BE(b + HEAD_LEN);
    x->height = loadU32BE(b + HEAD_LEN + 4);
    x->baseType = loadU32BE(b + HEAD_LEN + 8);
    return ST_OK;
}

}  // namespace

bool acceptXcf(const uint8_t* head, size_t n, int64_t) {
    if (n < HEAD_LEN + 12 || memcmp(head, MAGIC, MAGIC_LEN) != 0 || head[13] != 0) return false;
    if (memcmp(head + 9, "file", 4) != 0) {
        if (head[9] != 'v' || head[10] != '0' || head[11] < '0' || head[11] > '9' || head[12] < '0' || head[12] > '9')
            return false;
        if (static_cast<uint32_t>((head[11] - '0') * 10 + (head[12] - '0')) > MAX_VERSION) return false;
    }
    return loadU32BE(head + HEAD_LEN) >= 1 && loadU32BE(head + HEAD_LEN + 4) >= 1 && loadU32BE(head + HEAD_LEN + 8) <= 2;
}

Status readXcf(FILE* stream, LoadRequest* request) {
    XcfFile x{};
    x.f = stream;
    x.size = request->fileSize;
    Status st = readHeader(stream, &x);
    if (st != ST_OK) return st;
    if (x.width > MAX_IMAGE_SIDE || x.height > MAX_IMAGE_SIDE) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    if (x.size <= 0) return ST_READ_ERROR;
    if (x.version >= 4) {
        uint32_t precision;
        if (!readU32(stream, &precision)) return ST_READ_ERROR;
        const bool eightBits = x.version == 4 ? precision == 0 : precision == 100 || precision == 150;
        if (!eightBits) {
            setReaderMessage(request, MSG_PRECISION);
            return ST_BAD_FILE;
        }
    }
    x.tilesBudget = static_cast<uint64_t>(x.size);
    st = readProperties(&x, nullptr, true);
    if (st != ST_OK) return st;
    if (x.compression > COMP_ZLIB) {
        setReaderMessage(request, MSG_BAD_TILE);
        return ST_BAD_FILE;
    }

    // The layer pointers, topmost first.
    const int64_t listAt = ftell(stream);
    uint32_t count = 0;
    for (uint64_t p = 1; count <= MAX_LAYERS; ++count) {
        if (!readPointer(x, &p)) return ST_READ_ERROR;
        if (p == 0) break;
    }
    if (count > MAX_LAYERS || static_cast<int64_t>(count) * 16 > x.size) return ST_CORRUPT;
    Buffer layerBytes = allocBuffer(static_cast<uint64_t>(count) * sizeof(XcfLayer));
    if (!layerBytes) return ST_NO_MEMORY;
    auto* layers = reinterpret_cast<XcfLayer*>(layerBytes.get());
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t p;
        if (!seekTo(stream, static_cast<uint64_t>(listAt) + static_cast<uint64_t>(i) * x.ptrBytes) ||
            !readPointer(x, &p))
            return ST_READ_ERROR;
        st = readLayer(&x, p, &layers[i]);
        if (st == ST_CORRUPT) setReaderMessage(request, MSG_BAD_TILE);
        if (st != ST_OK) return st;
        if (layers[i].type >= 4 && layers[i].visible && !x.hasMap) {
            setReaderMessage(request, MSG_BAD_TILE);
            return ST_CORRUPT;
        }
    }

    const int channels = x.baseType == 1 ? 1 : 3;
    RasterHeader rh{};
    rh.channels = static_cast<int16_t>(channels);
    rh.width = static_cast<int32_t>(x.width);
    rh.height = static_cast<int32_t>(x.height);
    rh.planes = 1;
    rh.layout = channels == 1 ? PL_BYTE_PIXELS : 0;
    rh.bitsPerPlane = static_cast<int16_t>(8 * channels);
    rh.bytesPerPlane = rh.width * channels;
    rh.xdpi = x.xdpi > 0 && x.xdpi < 100000 ? static_cast<int32_t>(x.xdpi + 0.5) : 0;
    rh.ydpi = x.ydpi > 0 && x.ydpi < 100000 ? static_cast<int32_t>(x.ydpi + 0.5) : 0;
    setRasterName(rh.name, x.compression == COMP_RLE ? NAME_RLE : x.compression == COMP_ZLIB ? NAME_ZLIB : NAME_PLAIN);
    rh.compression = x.compression == COMP_RLE ? "RLE" : x.compression == COMP_ZLIB ? "Deflate" : nullptr;
    st = beginImage(&rh);
    if (st != ST_OK) return st;

    Buffer bandBytes = allocBuffer(static_cast<uint64_t>(rh.bytesPerPlane) * TILE);
    Buffer tile = allocBuffer(TILE * TILE * 4);
    Buffer maskTile = allocBuffer(TILE * TILE);
    TileScratch scratch;
    if (!bandBytes || !tile || !maskTile) st = ST_NO_MEMORY;
    for (int32_t top = 0; st == ST_OK && top < rh.height; top += TILE) {
        const Band band{bandBytes.get(), rh.bytesPerPlane, top, rh.height - top < TILE ? rh.height - top : TILE,
                        channels};
        memset(band.rows, 255, static_cast<size_t>(band.stride) * band.count);
        Status failed = ST_OK;
        for (uint32_t i = count; i-- > 0 && failed == ST_OK;)
            if (layers[i].visible) failed = blendLayer(x, layers[i], band, tile.get(), maskTile.get(), &scratch);
        for (int32_t j = 0; j < band.count && st == ST_OK; ++j)
            st = deliverRow(band.rows + j * band.stride, band.stride, top + j);
        if (failed == ST_CORRUPT) setReaderMessage(request, MSG_BAD_TILE);
        if (st == ST_OK) st = failed;
    }
    endImage(0, 8, nullptr);
    return st;
}
