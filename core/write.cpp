// The writing side of the scanline pipeline. An encoder describes the rows of
// its file; each getRows fetches image rows as R,G,B(,X) or one byte a pixel,
// flips and mirrors them, maps grey values to the file's range and packs them
// into the file's layout. beginWrite also builds the palette in the file's form.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "rowconv.h"

namespace {

constexpr int64_t ROW_SPARE = 1024;
constexpr int64_t CONV_SPARE = 16;

// ---- Fetching: image row -> converted row -----------------------------------

void fetchCopy1(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    memcpy(d, s, static_cast<size_t>(n));
}

void fetchCopy3(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    memcpy(d, s, static_cast<size_t>(n) * 3);
}

void fetchCopy4(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    memcpy(d, s, static_cast<size_t>(n) * 4);
}

// R,G,B -> R,G,B,0.
void fetchRgbTo4(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += 3, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 0;
    }
}

// B,G,R -> R,G,B.
void fetchBgrTo3(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += 3, d += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
    }
}

// B,G,R -> R,G,B,0.
void fetchBgrTo4(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += 3, d += 4) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = 0;
    }
}

// R,G,B,X -> R,G,B.
void fetchRgb32To3(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += 4, d += 3) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
}

// X,B,G,R -> R,G,B.
void fetchBgr32To3(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += 4, d += 3) {
        d[0] = s[3];
        d[1] = s[2];
        d[2] = s[1];
    }
}

// X,B,G,R -> R,G,B,X.
void fetchBgr32To4(const RowConverter&, const uint8_t* s, uint8_t* d, int32_t n) {
    for (int32_t x = 0; x < n; ++x, s += 4, d += 4) {
        d[0] = s[3];
        d[1] = s[2];
        d[2] = s[1];
        d[3] = s[0];
    }
}

// An 8-bit image written as true colour: each value through its colours.
template <int DB>
void fetchExpand(const RowConverter& c, const uint8_t* s, uint8_t* d, int32_t n) {
    const uint8_t* red = c.expand;
    const uint8_t* green = c.expand + 256;
    const uint8_t* blue = c.expand + 512;
    for (int32_t x = 0; x < n; ++x, d += DB) {
        const uint8_t v = s[x];
        d[0] = red[v];
        d[1] = green[v];
        d[2] = blue[v];
        if constexpr (DB == 4) d[3] = 0;
    }
}

// ---- Packing: converted row -> file row -------------------------------------

void packNone(const RowConverter&, const uint8_t*, uint8_t*) {}

void packCopy(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    memcpy(d, s, static_cast<size_t>(c.width));
}

// Whole bytes: the pixels past the width are the zeroed spare room of the
// converted row, so a row ends in 0 bits.
void packBits1(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int64_t n = c.rowLength;
    for (int64_t j = 0; j < n; ++j, s += 8) d[j] = gatherBits(s, 0);
}

void packBits2(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int64_t n = c.rowLength;
    for (int64_t j = 0; j < n; ++j, s += 4)
        d[j] = static_cast<uint8_t>(((s[0] & 3) << 6) | ((s[1] & 3) << 4) | ((s[2] & 3) << 2) | (s[3] & 3));
}

void packBits4(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int64_t n = c.rowLength;
    for (int64_t j = 0; j < n; ++j, s += 2) d[j] = static_cast<uint8_t>(((s[0] & 15) << 4) | (s[1] & 15));
}

inline void storeU16LE(uint8_t* d, unsigned v) {
    d[0] = static_cast<uint8_t>(v);
    d[1] = static_cast<uint8_t>(v >> 8);
}

// 15- and 16-bit words from R,G,B,X converted pixels.
void pack555(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 2)
        storeU16LE(d, ((s[0] >> 3) << 10) | ((s[1] >> 3) << 5) | (s[2] >> 3));
}

void packBgr555(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 2)
        storeU16LE(d, ((s[2] >> 3) << 10) | ((s[1] >> 3) << 5) | (s[0] >> 3));
}

void pack565(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 2)
        storeU16LE(d, ((s[0] >> 3) << 11) | ((s[1] >> 2) << 5) | (s[2] >> 3));
}

void packCopy3(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    memcpy(d, s, static_cast<size_t>(c.width) * 3);
}

// R,G,B -> B,G,R.
void packSwap3(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 3, d += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
    }
}

void packCopy4(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    memcpy(d, s, static_cast<size_t>(c.width) * 4);
}

// R,G,B,A -> A,B,G,R.
void packReverse4(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 4) {
        d[0] = s[3];
        d[1] = s[2];
        d[2] = s[1];
        d[3] = s[0];
    }
}

// R,G,B,A -> A,R,G,B.
void packArgb(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 4) {
        d[0] = s[3];
        d[1] = s[0];
        d[2] = s[1];
        d[3] = s[2];
    }
}

// R,G,B,A -> B,G,R,A.
void packBgra(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 4) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = s[3];
    }
}

// Groups of 16 pixels, one big-endian word per plane; bit p of a pixel goes to plane p.
void packWordPlanes(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int planes = c.planes;
    for (int32_t g = 0; g < c.groups; ++g, s += 16) {
        for (int p = 0; p < planes; ++p, d += 2) {
            d[0] = gatherBits(s, p);
            d[1] = gatherBits(s + 8, p);
        }
    }
}

// Whole lines of each plane one after another.
void packLinePlanes(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int32_t n = c.bytesPerPlane;
    for (int p = 0; p < c.planes; ++p) {
        const uint8_t* px = s;
        for (int32_t j = 0; j < n; ++j, px += 8) *d++ = gatherBits(px, p);
    }
}

// Channels spread into lines within the row, plane chanPlane[k] holding channel k.
template <int N>
void packPlanes(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    uint8_t* line[N];
    for (int k = 0; k < N; ++k) line[k] = d + static_cast<int64_t>(c.chanPlane[k]) * c.bytesPerPlane;
    for (int32_t x = 0; x < c.width; ++x, s += N)
        for (int k = 0; k < N; ++k) line[k][x] = s[k];
}

PackFn choosePacking(RowLayout kind, int planes) {
    switch (kind) {
        case RowLayout::WordPlanes: return packWordPlanes;
        case RowLayout::ChannelPlanes: return packNone;
        case RowLayout::BytePixels:
        case RowLayout::Packed8: return packCopy;
        case RowLayout::Packed1: return packBits1;
        case RowLayout::Packed2: return packBits2;
        case RowLayout::Packed4: return packBits4;
        case RowLayout::Rgb555: return pack555;
        case RowLayout::Bgr555: return packBgr555;
        case RowLayout::Rgb565: return pack565;
        case RowLayout::Rgb24: return packCopy3;
        case RowLayout::Bgr24: return packSwap3;
        case RowLayout::Rgb32: return packCopy4;
        case RowLayout::Abgr32: return packReverse4;
        case RowLayout::Argb32: return packArgb;
        case RowLayout::Bgra32: return packBgra;
        case RowLayout::LinePlanes: return packLinePlanes;
        case RowLayout::InLinePlanes: return planes == 3 ? packPlanes<3> : packPlanes<4>;
    }
    return packNone;
}

FetchFn chooseFetching(const Image* img, int imageBytes, int depth) {
    if (imageBytes == 1) {
        if (depth <= 8) return fetchCopy1;
        return depth == 24 ? fetchExpand<3> : fetchExpand<4>;
    }
    const bool file24 = depth == 24;
    if (img->kind == IMG_BGR) return file24 ? fetchBgrTo3 : fetchBgrTo4;
    if (img->kind == IMG_BGR32) return file24 ? fetchBgr32To3 : fetchBgr32To4;
    if (imageBytes == 3) return file24 ? fetchCopy3 : fetchRgbTo4;
    return file24 ? fetchRgb32To3 : fetchCopy4;
}

// ---- Palettes and value maps ------------------------------------------------

// The colours of an 8-bit image as a planar table of n entries (the rest 0).
// Binary images are black then white. For a true-colour expansion every value
// gets a colour: any nonzero binary value is white, grey values past the
// image's count are white.
void sourceColours(const Image* img, int n, bool forExpansion, uint8_t* table) {
    memset(table, 0, PALETTE_BYTES);
    if (img->kind == IMG_BINARY) {
        const int last = forExpansion ? n : std::min(n, 2);
        for (int i = 1; i < last; ++i) table[i] = table[256 + i] = table[512 + i] = 255;
        return;
    }
    if (img->kind == IMG_PALETTE) {
        if (!img->palette) return;
        const int used = std::min(n, std::max(0, std::min(256, static_cast<int>(img->colours))));
        for (int i = 0; i < used; ++i) {
            table[i] = img->palette[i];
            table[256 + i] = img->palette[256 + i];
            table[512 + i] = img->palette[512 + i];
        }
        return;
    }
    // Grey: a ramp over the image's colours (256 when the count makes no sense).
    const int colours = img->colours >= 2 && img->colours <= 256 ? img->colours : 256;
    for (int i = 0; i < n; ++i) table[i] = table[256 + i] = table[512 + i] =
        static_cast<uint8_t>(std::min(255, i * 255 / (colours - 1)));
    if (!forExpansion)
        for (int i = colours; i < n; ++i) table[i] = table[256 + i] = table[512 + i] = 0;
}

// Encodes n planar entries into the file's palette form.
Buffer encodePalette(uint16_t form, int componentBits, const uint8_t* table, int n) {
    const uint8_t* red = table;
    const uint8_t* green = table + 256;
    const uint8_t* blue = table + 512;
    if (form & (PF_ST9 | PF_STE12 | PF_RGB12)) {
        Buffer out = allocBuffer(2 * static_cast<uint64_t>(n));
        if (!out) return out;
        for (int i = 0; i < n; ++i) {
            unsigned r, g, b;
            // The largest value whose decoded component (v x 255 div max) does
            // not exceed the entry's: a palette read from such words comes back
            // to the same words.
            if (form & PF_ST9) {
                r = (red[i] * 7u + 6) / 255;
                g = (green[i] * 7u + 6) / 255;
                b = (blue[i] * 7u + 6) / 255;
            } else {
                r = (red[i] * 15u + 14) / 255;
                g = (green[i] * 15u + 14) / 255;
                b = (blue[i] * 15u + 14) / 255;
                if (form & PF_STE12) {
                    // The component's low bit is stored as the nibble's top bit.
                    r = ((r >> 1) & 7) | ((r & 1) << 3);
                    g = ((g >> 1) & 7) | ((g & 1) << 3);
                    b = ((b >> 1) & 7) | ((b & 1) << 3);
                }
            }
            const uint16_t w = static_cast<uint16_t>((r << 8) | (g << 4) | b);
            memcpy(out.get() + 2 * i, &w, 2);
        }
        return out;
    }
    const bool bgr = (form & PF_BGR) != 0;
    const bool planar = (form & PF_PLANAR) != 0;
    const uint8_t* comps[3] = {bgr ? blue : red, green, bgr ? red : blue};
    if (componentBits < 1) componentBits = 8;
    if (componentBits > 8) {
        Buffer out = allocBuffer(6 * static_cast<uint64_t>(n));
        if (!out) return out;
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < n; ++i) {
                const uint16_t w = static_cast<uint16_t>(comps[k][i] * 257);
                const int64_t at = planar ? (int64_t(k) * n + i) : (int64_t(i) * 3 + k);
                memcpy(out.get() + 2 * at, &w, 2);
            }
        return out;
    }
    Buffer out = allocBuffer(3 * static_cast<uint64_t>(n));
    if (!out) return out;
    const unsigned max = (1u << componentBits) - 1;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < n; ++i) {
            const int64_t at = planar ? (int64_t(k) * n + i) : (int64_t(i) * 3 + k);
            out[at] = static_cast<uint8_t>(comps[k][i] * max / 255);
        }
    return out;
}

// Grey and black-and-white values spread over the file's range; false when
// the map would change nothing.
bool buildValueMap(const Image* img, int depth, bool minIsWhite, uint8_t* map) {
    const int n = img->kind == IMG_BINARY ? 2 : (img->colours >= 2 && img->colours <= 256 ? img->colours : 256);
    const int max = maxValue(depth);
    bool identity = true;
    for (int i = 0; i < 256; ++i) {
        int v = std::min(max, i * max / (n - 1));
        if (minIsWhite) v = max - v;
        map[i] = static_cast<uint8_t>(v);
        identity = identity && v == i;
    }
    return !identity;
}

// A turning save makes its rows TURN_BAND_ROWS at a time, from the band
// holding the row asked for (writers ask from the top or from the bottom).
constexpr int32_t TURN_BAND_ROWS = 64;

const uint8_t* savedRow(RowConverter& c, int32_t y) {
    if (!c.turn) return imageRow(c.image, y);
    if (y < c.bandFirst || y >= c.bandEnd) {
        c.bandFirst = y / TURN_BAND_ROWS * TURN_BAND_ROWS;
        c.bandEnd = std::min(c.bandFirst + TURN_BAND_ROWS, c.height);
        turnedRows(c.image, c.turn > 0, c.bandFirst, c.bandEnd, c.band.get(), c.bandStride);
    }
    return c.band.get() + static_cast<size_t>(y - c.bandFirst) * c.bandStride;
}

}  // namespace

Status beginWrite(WriteHeader* h) {
    if (!h) return ST_UNKNOWN_FORMAT;
    IoContext& ctx = ioContext();
    RowConverter& c = rowConverter();
    if (c.phase != ConvPhase::Idle) resetConverter(c);
    h->rowBuffer = nullptr;
    h->palette = nullptr;
    c.delivered = 0;
    ctx.stop = false;
    gateBegin();

    Image* img = ctx.image;
    if (!img || !img->pixels || img->width < 1 || img->height < 1) return ST_KIND_REFUSED;
    const int imageBytes = (img->kind & IMG_32BIT) ? 4 : (img->kind & IMG_24BIT) ? 3 : 1;
    // The image's own stride is what describes its buffer; a stride too short
    // for its width would send reads past it.
    if (static_cast<int64_t>(img->stride) < static_cast<int64_t>(img->width) * imageBytes) return ST_KIND_REFUSED;

    const int turn = saveTurn(ctx.options.flags);
    const int32_t width = turn ? img->height : img->width, height = turn ? img->width : img->height;
    RowPlan plan;
    if (!planRows(h->layout, h->planes, h->bitsPerPlane, width, h->bytesPerPlane, &plan))
        return ST_UNKNOWN_FORMAT;

    c.image = img;
    c.layout = h->layout;
    c.channels = h->channels;
    c.orientation = h->orientation;
    c.width = width;
    c.height = height;
    c.outWidth = width;
    c.outHeight = height;
    c.bgr = img->kind == IMG_BGR || img->kind == IMG_BGR32;
    ctx.options.orientation = img->orientation;
    c.workBytes = imageBytes;
    c.stride = img->stride;
    c.planes = h->planes;
    c.bitsPerPlane = h->bitsPerPlane;
    c.depth = h->planes * h->bitsPerPlane;
    c.bytesPerPlane = h->bytesPerPlane;
    c.groups = plan.groups;
    memcpy(c.chanPlane, plan.chanPlane, sizeof c.chanPlane);
    c.rowLength = plan.rowLength;
    c.channelPlanes = plan.kind == RowLayout::ChannelPlanes;
    c.flip = ((h->orientation ^ img->orientation) & OR_BOTTOM_UP) != 0;
    c.mirror = ((h->orientation ^ img->orientation) & OR_MIRRORED) != 0;
    c.convBytes = imageBytes == 1 && c.depth <= 8 ? 1 : c.depth == 24 ? 3 : 4;

    if (ctx.options.flags & OPT_VERBOSE) {
        char name[RASTER_NAME_LEN + 1];
        size_t len = strnlen(h->name, RASTER_NAME_LEN);
        memcpy(name, h->name, len);
        name[len] = '\0';
        fprintf(stderr, "A %s was writed : %s\n", name, ctx.fileName ? ctx.fileName : "");
        fprintf(stderr, "    Width:%d Height:%d with %ld colors\n", static_cast<int>(c.width),
                static_cast<int>(c.height), 1L << std::min(c.depth, 24));
    }
    progressBegin(c, ctx);

    const int64_t channels = std::max<int64_t>(1, h->channels);
    c.rowBufferSize = static_cast<uint64_t>(
        std::max(int64_t(c.width) * channels * (c.depth > 8 ? 4 : 1), c.rowLength) + ROW_SPARE);
    c.convSize = static_cast<uint64_t>(
        std::max<int64_t>(int64_t(c.width) * c.convBytes, plan.unpackedPixels) + CONV_SPARE);
    c.rowBuffer = allocBuffer(c.rowBufferSize);
    c.conv = allocBuffer(c.convSize);
    if (turn) {
        c.turn = turn;
        c.bandStride = static_cast<size_t>(width) * imageBytes;
        c.band = allocBuffer(static_cast<uint64_t>(c.bandStride) * TURN_BAND_ROWS);
    }
    if (!c.rowBuffer || !c.conv || (turn && !c.band)) {
        progressEnd(c);
        resetConverter(c);
        return ST_NO_MEMORY;
    }

    if (imageBytes == 1) {
        if (h->paletteFormat != 0) {
            const int n = 1 << std::min(c.depth, 8);
            uint8_t table[PALETTE_BYTES];
            sourceColours(img, n, false, table);
            if (h->paletteFormat & PF_INVERT)
                for (int k = 0; k < 3; ++k)
                    for (int i = 0; i < n; ++i) table[256 * k + i] = static_cast<uint8_t>(255 - table[256 * k + i]);
            c.filePalette = encodePalette(h->paletteFormat, h->componentBits, table, n);
            if (!c.filePalette) {
                progressEnd(c);
                resetConverter(c);
                return ST_NO_MEMORY;
            }
        } else if (!(h->layout & PL_BYTE_PIXELS) && c.depth <= 8) {
            c.valueMapActive = buildValueMap(img, c.depth, (h->layout & PL_MIN_IS_WHITE) != 0, c.valueMap);
        }
        if (c.depth > 8) sourceColours(img, 256, true, c.expand);
    }

    c.fetch = chooseFetching(img, imageBytes, c.depth);
    c.pack = choosePacking(plan.kind, c.planes);
    // The file's rows are the picture's own bytes.
    c.inPlace = !c.turn && !c.flip && !c.mirror && !c.valueMapActive && c.rowLength == int64_t(c.width) * imageBytes &&
                ((c.fetch == fetchCopy1 && c.pack == packCopy) || (c.fetch == fetchCopy3 && c.pack == packCopy3) ||
                 (c.fetch == fetchCopy4 && c.pack == packCopy4));
    h->rowBuffer = c.rowBuffer.get();
    h->palette = c.filePalette.get();
    c.phase = ConvPhase::Writing;
    return ST_OK;
}

Status getRows(int32_t firstRow, int32_t count) {
    RowConverter& c = rowConverter();
    IoContext& ctx = ioContext();
    if (c.phase != ConvPhase::Writing) return ST_OK;

    int32_t row;
    int64_t n;
    rowsToConvert(c, firstRow, count, &row, &n);

    uint8_t* dst = c.rowBuffer.get();
    uint8_t* conv = c.conv.get();
    for (int64_t i = 0; i < n && row < c.height; ++i, ++row, dst += c.rowLength) {
        const int32_t y = c.flip ? c.height - 1 - row : row;
        if (!gateRows(c.turn ? c.image->height : c.flip ? c.height : y + 1)) return ST_STOPPED;
        c.fetch(c, savedRow(c, y), conv, c.width);
        progressRow(c, ctx, c.height);
        if (c.mirror) mirrorRow(conv, c.width, c.convBytes);
        if (c.valueMapActive)
            for (int32_t x = 0; x < c.width; ++x) conv[x] = c.valueMap[conv[x]];
        c.pack(c, conv, dst);
    }
    return ctx.stop ? ST_STOPPED : ST_OK;
}

Status savedRowsInPlace(int32_t firstRow, int64_t rowBytes, int32_t count, const uint8_t** rows, int32_t* got) {
    RowConverter& c = rowConverter();
    IoContext& ctx = ioContext();
    *rows = nullptr;
    *got = 0;
    if (c.phase != ConvPhase::Writing || !c.inPlace || rowBytes != c.rowLength || firstRow < 0 ||
        firstRow >= c.height || count < 1)
        return ST_OK;
    // As many as a followed load has placed already.
    const int32_t open = gateOpenRows(firstRow + 1);
    if (open < 0) return ST_STOPPED;
    int32_t n = std::min({count, c.height - firstRow, open - firstRow});
    if (c.image->stride != rowBytes) n = 1;  // padded rows go one at a time
    c.delivered = firstRow;
    for (int32_t i = 0; i < n; ++i) progressRow(c, ctx, c.height);
    *rows = imageRow(c.image, firstRow);
    *got = n;
    return ctx.stop ? ST_STOPPED : ST_OK;
}

void endWrite() {
    RowConverter& c = rowConverter();
    if (c.phase != ConvPhase::Writing) return;
    progressEnd(c);
    resetConverter(c);
}

int64_t writeRowLength() {
    const RowConverter& c = rowConverter();
    return c.phase == ConvPhase::Writing ? c.rowLength : 0;
}

const uint8_t* convertedRow() {
    const RowConverter& c = rowConverter();
    return c.phase == ConvPhase::Writing ? c.conv.get() : nullptr;
}
