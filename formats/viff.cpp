// Khoros VIFF images (reader only): raw bit, byte, short, int, float and
// double data.
//
// A 1024-byte header: AB 01 01 03, the machine byte (2: big-endian fields,
// 4 or 8: little-endian), a comment, then 32-bit fields from offset 520:
// width, height, ..., location type, location dimension, number of images,
// number of bands, storage type, encoding, map scheme, map storage type, map
// components per entry, map entries, ..., colour model. An optional colour
// map follows, one component after another (all reds, all greens, all
// blues), then the images, each band after band, rows top first. Bit rows
// are byte-padded with the leftmost pixel in the low bit, 1 being black.
// Wider samples are in the header's byte order and spread over 0..255
// between their smallest and largest values.
#include <cmath>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_TYPE[] = "VIFF : Unsupported data type !";
const char MSG_BAD_ENCODING[] = "VIFF : Unsupported encoding !";
const char MSG_BAD_MAP[] = "VIFF : Unsupported colormap !";
const char NAME_VIFF[] = "Khoros VIFF";
const char NAME_VIFF_BITS[] = "Khoros VIFF (bitmap)";

constexpr size_t VIFF_HEADER = 1024;
constexpr uint32_t TYPE_BIT = 0;
constexpr uint32_t TYPE_BYTE = 1;
constexpr uint32_t LOCATION_IMPLICIT = 1;
constexpr uint32_t MAX_MAP_ENTRIES = 65536;

struct ViffHeader {
    bool big;
    uint32_t width, height;
    uint32_t locationType, images, bands, storage, encoding;
    uint32_t mapScheme, mapStorage, mapComponents, mapEntries;
    uint32_t colourModel;
};

bool viffParse(const uint8_t* b, size_t n, ViffHeader* h) {
    if (n < 604 || b[0] != 0xAB || b[1] != 1 || b[2] != 1 || b[3] != 3) return false;
    if (b[4] != 2 && b[4] != 4 && b[4] != 8) return false;
    h->big = b[4] == 2;
    auto field = [&](size_t off) { return h->big ? loadU32BE(b + off) : loadU32LE(b + off); };
    h->width = field(520);
    h->height = field(524);
    h->locationType = field(548);
    h->images = field(556);
    h->bands = field(560);
    h->storage = field(564);
    h->encoding = field(568);
    h->mapScheme = field(572);
    h->mapStorage = field(576);
    h->mapComponents = field(580);
    h->mapEntries = field(584);
    h->colourModel = field(600);
    if (h->width < 1 || h->width > MAX_IMAGE_SIDE || h->height < 1 || h->height > MAX_IMAGE_SIDE) return false;
    if (h->bands < 1 || h->bands > 4) return false;
    // Storage types: bit, byte, short, int, float, complex, double, double complex.
    const uint32_t s = h->storage;
    return s == 0 || s == 1 || s == 2 || s == 4 || s == 5 || s == 6 || s == 9 || s == 10;
}

struct BandMap {
    const uint8_t* table;  // R,G,B triplets
    int component;
};

void mapBand(const void* data, const uint8_t* stored, uint8_t* out) {
    const BandMap* m = static_cast<const BandMap*>(data);
    const int64_t n = fileRowLength();
    for (int64_t x = 0; x < n; ++x) out[x] = m->table[3 * stored[x] + m->component];
}

void bitsLeftFirst(const void*, const uint8_t* stored, uint8_t* out) {
    const int64_t n = fileRowLength();
    memcpy(out, stored, static_cast<size_t>(n));
    reversePixelFields(out, n, 1);
}

// The colour map as R,G,B triplets of its first 256 entries (one component:
// grey); the rest of it is skipped.
Status readMap(FILE* f, const ViffHeader& h, uint8_t* table) {
    const uint32_t n = h.mapEntries;
    const uint32_t kept = n < 256 ? n : 256;
    uint8_t column[256];
    for (uint32_t c = 0; c < h.mapComponents; ++c) {
        if (kept && !readBlock(f, column, kept)) return ST_READ_ERROR;
        if (n > kept && !skipBytes(f, static_cast<long>(n - kept))) return ST_READ_ERROR;
        if (c >= 3) continue;
        for (uint32_t i = 0; i < kept; ++i) {
            if (h.mapComponents < 3) memset(table + 3 * i, column[i], 3);
            else table[3 * i + c] = column[i];
        }
    }
    return ST_OK;
}

// Bytes of one sample of a wider storage type: short, int, float, double.
int wideSize(uint32_t storage) { return storage == 2 ? 2 : storage == 9 ? 8 : 4; }

double wideSample(const ViffHeader& h, const uint8_t* p) {
    if (h.storage == 2) return static_cast<int16_t>(h.big ? loadU16BE(p) : loadU16LE(p));
    const uint32_t u = h.big ? loadU32BE(p) : loadU32LE(p);
    switch (h.storage) {
        case 4:
            return static_cast<int32_t>(u);
        case 5: {
            float f;
            memcpy(&f, &u, sizeof f);
            return f;
        }
        default: {
            const uint32_t other = h.big ? loadU32BE(p + 4) : loadU32LE(p + 4);
            const uint64_t bits = h.big ? (static_cast<uint64_t>(u) << 32) | other
                                        : (static_cast<uint64_t>(other) << 32) | u;
            double v;
            memcpy(&v, &bits, sizeof v);
            return v;
        }
    }
}

// Short, int, float and double samples, spread over 0..255 between the
// smallest and largest values of the bands shown (a first pass over them).
Status readWide(FILE* f, const ViffHeader& h, uint64_t start, int32_t bands) {
    const int size = wideSize(h.storage);
    const int64_t rowBytes = static_cast<int64_t>(h.width) * size;
    Buffer row = allocBuffer(static_cast<uint64_t>(rowBytes));
    Buffer out = allocBuffer(h.width);
    if (!row || !out) return ST_NO_MEMORY;
    const int64_t rows = static_cast<int64_t>(bands) * h.height;
    double low = 0, high = 0;
    bool any = false;
    if (!seekTo(f, start)) return ST_READ_ERROR;
    for (int64_t r = 0; r < rows && readBlock(f, row.get(), static_cast<size_t>(rowBytes)); ++r) {
        for (uint32_t x = 0; x < h.width; ++x) {
            const double v = wideSample(h, row.get() + x * size);
            if (!std::isfinite(v)) continue;
            if (!any || v < low) low = v;
            if (!any || v > high) high = v;
            any = true;
        }
    }
    const double span = high - low;
    if (!seekTo(f, start)) return ST_READ_ERROR;
    for (int64_t r = 0; r < rows; ++r) {
        if (!readBlock(f, row.get(), static_cast<size_t>(rowBytes))) return ST_READ_ERROR;
        for (uint32_t x = 0; x < h.width; ++x) {
            const double v = wideSample(h, row.get() + x * size);
            double s = !std::isfinite(v) ? 0 : span > 0 ? std::floor((v - low) / span * 255.0) : v > 0 ? 255 : 0;
            out[x] = static_cast<uint8_t>(s < 0 ? 0 : s > 255 ? 255 : s);
        }
        const int32_t y = static_cast<int32_t>(r % h.height);
        const Status st = deliverRow(out.get(), h.width, y, bands > 1 ? static_cast<int>(r / h.height) : -1);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

}  // namespace

bool acceptViff(const uint8_t* head, size_t n, int64_t) {
    ViffHeader h{};
    return viffParse(head, n, &h);
}

Status readViff(FILE* stream, LoadRequest* request) {
    uint8_t b[VIFF_HEADER];
    ViffHeader h{};
    if (!readBlock(stream, b, sizeof b) || !viffParse(b, sizeof b, &h)) return ST_UNKNOWN_FORMAT;
    const bool wide = h.storage == 2 || h.storage == 4 || h.storage == 5 || h.storage == 9;
    if (h.storage != TYPE_BIT && h.storage != TYPE_BYTE && !wide) {
        setReaderMessage(request, MSG_BAD_TYPE);
        return ST_BAD_FILE;
    }
    if (h.encoding != 0 || h.locationType != LOCATION_IMPLICIT || h.bands == 2 ||
        (h.storage == TYPE_BIT && h.bands != 1)) {
        setReaderMessage(request, MSG_BAD_ENCODING);
        return ST_BAD_FILE;
    }
    const bool mapped = h.mapScheme != 0 && h.mapEntries > 0 && h.mapComponents > 0;
    if (mapped && (wide || h.mapStorage != TYPE_BYTE || h.mapEntries > MAX_MAP_ENTRIES || h.mapComponents > 4)) {
        setReaderMessage(request, MSG_BAD_MAP);
        return ST_BAD_FILE;
    }
    const bool bits = h.storage == TYPE_BIT;
    const int64_t rowBytes = bits ? (h.width + 7) / 8 : h.width;
    const uint32_t images = h.images >= 1 && h.images <= 0x7FFFFFFF ? h.images : 1;
    const int64_t page = request->pageIndex > 0 && static_cast<uint32_t>(request->pageIndex) < images
                             ? request->pageIndex
                             : 0;
    request->pageCount = static_cast<int32_t>(images);

    RasterHeader rh{};
    rh.layout = h.bands >= 3 ? PL_CHANNEL_PLANES : 0;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(h.width);
    rh.height = static_cast<int32_t>(h.height);
    rh.planes = static_cast<int16_t>(h.bands >= 3 ? h.bands : 1);
    rh.bitsPerPlane = bits ? 1 : 8;
    rh.bytesPerPlane = static_cast<int32_t>(rowBytes);
    setRasterName(rh.name, bits ? NAME_VIFF_BITS : NAME_VIFF);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    uint8_t table[PALETTE_BYTES] = {};
    if (mapped) st = readMap(stream, h, table);
    const int64_t imageBytes = rowBytes * h.height * h.bands * (wide ? wideSize(h.storage) : 1);
    const uint64_t dataStart = VIFF_HEADER + (mapped ? static_cast<uint64_t>(h.mapComponents) * h.mapEntries : 0);
    uint64_t pageOffset = 0;
    if (!mulFits(static_cast<uint64_t>(page), static_cast<uint64_t>(imageBytes), 1ull << 62, &pageOffset))
        st = ST_READ_ERROR;
    if (wide) {
        if (st == ST_OK) st = readWide(stream, h, dataStart + pageOffset, rh.planes);
        endImage(0, 0, nullptr);
        return st;
    }
    if (st == ST_OK && page > 0 && !seekTo(stream, dataStart + pageOffset)) st = ST_READ_ERROR;
    if (bits) {
        if (st == ST_OK) st = readRows(stream, rowBytes, rh.height, -1, bitsLeftFirst);
        endImage(PF_INVERT, 0, nullptr);
        return st;
    }
    if (h.bands == 1) {
        if (st == ST_OK) st = readRows(stream, rowBytes, rh.height);
        if (mapped) endImage(PF_TRIPLETS, 8, table);
        else endImage(0, 0, nullptr);
        return st;
    }
    for (uint32_t band = 0; st == ST_OK && band < h.bands; ++band) {
        // A map gives the colour components of the first three bands.
        BandMap m{table, static_cast<int>(band)};
        const bool viaMap = mapped && band < 3;
        st = readRows(stream, rowBytes, rh.height, static_cast<int>(band), viaMap ? mapBand : nullptr, &m);
    }
    endImage(0, 0, nullptr);
    return st;
}
