// The per-row routines of the reading side, chosen once per image: unpacking
// one file row into a converted row (indices, or R,G,B(,A)) and placing a
// converted row into the image, with the mirror and shrink helpers between.
#include <algorithm>
#include <cstring>

#include "rowconv.h"

namespace {

struct Tables {
    uint64_t bits1[256];  // one byte of 1-bit pixels as eight 0/1 bytes, in memory order
    uint32_t bits2[256];  // one byte of 2-bit pixels as four bytes, in memory order
    uint8_t of5[32];      // 5-bit component scaled to 0..255
    uint8_t of6[64];      // 6-bit component scaled to 0..255

    Tables() {
        for (int v = 0; v < 256; ++v) {
            uint8_t b[8];
            for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>((v >> (7 - i)) & 1);
            memcpy(&bits1[v], b, 8);
            for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>((v >> (6 - 2 * i)) & 3);
            memcpy(&bits2[v], b, 4);
        }
        for (int v = 0; v < 32; ++v) of5[v] = static_cast<uint8_t>(v * 255 / 31);
        for (int v = 0; v < 64; ++v) of6[v] = static_cast<uint8_t>(v * 255 / 63);
    }
};
const Tables kTables;

// ORs eight 0/1 bytes, already shifted to their plane bit, into eight pixels.
inline void orPixels(uint8_t* px, uint64_t bits) {
    uint64_t w;
    memcpy(&w, px, 8);
    w |= bits;
    memcpy(px, &w, 8);
}

// ---- Unpacking: one file row -> converted row -------------------------------

void unpackCopy(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    memcpy(d, s, static_cast<size_t>(c.width));
}

void unpackCopy3(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    memcpy(d, s, static_cast<size_t>(c.width) * 3);
}

void unpackCopy4(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    memcpy(d, s, static_cast<size_t>(c.width) * 4);
}

// Packed rows deliver whole bytes; the pixels past the width land in the
// spare room of the converted row and go no further.
void unpackBits1(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int64_t n = c.rowLength;
    for (int64_t j = 0; j < n; ++j, d += 8) memcpy(d, &kTables.bits1[s[j]], 8);
}

void unpackBits2(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int64_t n = c.rowLength;
    for (int64_t j = 0; j < n; ++j, d += 4) memcpy(d, &kTables.bits2[s[j]], 4);
}

void unpackBits4(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int64_t n = c.rowLength;
    for (int64_t j = 0; j < n; ++j, d += 2) {
        d[0] = static_cast<uint8_t>(s[j] >> 4);
        d[1] = static_cast<uint8_t>(s[j] & 15);
    }
}

void unpack555(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const uint8_t* of5 = kTables.of5;
    for (int32_t x = 0; x < c.width; ++x, s += 2, d += 3) {
        unsigned v = loadU16LE(s);
        d[0] = of5[(v >> 10) & 31];
        d[1] = of5[(v >> 5) & 31];
        d[2] = of5[v & 31];
    }
}

void unpackBgr555(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const uint8_t* of5 = kTables.of5;
    for (int32_t x = 0; x < c.width; ++x, s += 2, d += 3) {
        unsigned v = loadU16LE(s);
        d[0] = of5[v & 31];
        d[1] = of5[(v >> 5) & 31];
        d[2] = of5[(v >> 10) & 31];
    }
}

void unpack565(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const uint8_t* of5 = kTables.of5;
    const uint8_t* of6 = kTables.of6;
    for (int32_t x = 0; x < c.width; ++x, s += 2, d += 3) {
        unsigned v = loadU16LE(s);
        d[0] = of5[(v >> 11) & 31];
        d[1] = of6[(v >> 5) & 63];
        d[2] = of5[v & 31];
    }
}

// B,G,R -> R,G,B.
void unpackSwap3(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 3, d += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
    }
}

// A,B,G,R -> R,G,B,A.
void unpackReverse4(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 4) {
        d[0] = s[3];
        d[1] = s[2];
        d[2] = s[1];
        d[3] = s[0];
    }
}

// A,R,G,B -> R,G,B,A.
void unpackArgb(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 4) {
        d[0] = s[1];
        d[1] = s[2];
        d[2] = s[3];
        d[3] = s[0];
    }
}

// B,G,R,A -> R,G,B,A.
void unpackBgra(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    for (int32_t x = 0; x < c.width; ++x, s += 4, d += 4) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = s[3];
    }
}

// Groups of 16 pixels, one big-endian word per plane; plane p gives bit p.
void unpackWordPlanes(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    memset(d, 0, static_cast<size_t>(c.groups) * 16);
    const int planes = c.planes;
    for (int32_t g = 0; g < c.groups; ++g, d += 16) {
        for (int p = 0; p < planes; ++p, s += 2) {
            orPixels(d, kTables.bits1[s[0]] << p);
            orPixels(d + 8, kTables.bits1[s[1]] << p);
        }
    }
}

// Whole lines of each plane one after another; plane p gives bit p.
void unpackLinePlanes(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const int32_t n = c.bytesPerPlane;
    memset(d, 0, static_cast<size_t>(n) * 8);
    for (int p = 0; p < c.planes; ++p) {
        uint8_t* o = d;
        for (int32_t j = 0; j < n; ++j, o += 8) orPixels(o, kTables.bits1[*s++] << p);
    }
}

// Three or four 8-bit channel lines within one row, in the order chanPlane says.
void unpackPlanes3(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const uint8_t* r = s + static_cast<int64_t>(c.chanPlane[0]) * c.bytesPerPlane;
    const uint8_t* g = s + static_cast<int64_t>(c.chanPlane[1]) * c.bytesPerPlane;
    const uint8_t* b = s + static_cast<int64_t>(c.chanPlane[2]) * c.bytesPerPlane;
    for (int32_t x = 0; x < c.width; ++x, d += 3) {
        d[0] = r[x];
        d[1] = g[x];
        d[2] = b[x];
    }
}

void unpackPlanes4(const RowConverter& c, const uint8_t* s, uint8_t* d) {
    const uint8_t* r = s + static_cast<int64_t>(c.chanPlane[0]) * c.bytesPerPlane;
    const uint8_t* g = s + static_cast<int64_t>(c.chanPlane[1]) * c.bytesPerPlane;
    const uint8_t* b = s + static_cast<int64_t>(c.chanPlane[2]) * c.bytesPerPlane;
    const uint8_t* a = s + static_cast<int64_t>(c.chanPlane[3]) * c.bytesPerPlane;
    for (int32_t x = 0; x < c.width; ++x, d += 4) {
        d[0] = r[x];
        d[1] = g[x];
        d[2] = b[x];
        d[3] = a[x];
    }
}

// ---- Placing: converted row -> image row ------------------------------------

void placeCopy(const uint8_t* s, uint8_t* d, int32_t n, int) { memcpy(d, s, static_cast<size_t>(n)); }

// An index or grey value into one byte of a 3- or 4-byte pixel; endImage expands it.
template <int DB, int POS>
void placeIndex(const uint8_t* s, uint8_t* d, int32_t n, int) {
    for (int32_t x = 0; x < n; ++x, d += DB) {
        for (int k = 0; k < DB; ++k) d[k] = 0;
        d[POS] = s[x];
    }
}

// R,G,B(,A) converted pixels of SB bytes into DB-byte image pixels.
template <int SB, int DB, bool BGR>
void placeColour(const uint8_t* s, uint8_t* d, int32_t n, int) {
    for (int32_t x = 0; x < n; ++x, s += SB, d += DB) {
        const uint8_t r = s[0], g = s[1], b = s[2];
        if constexpr (DB == 3) {
            d[0] = BGR ? b : r;
            d[1] = g;
            d[2] = BGR ? r : b;
        } else {
            uint8_t a = 0;
            if constexpr (SB == 4) a = s[3];
            if constexpr (BGR) {
                d[0] = a;
                d[1] = b;
                d[2] = g;
                d[3] = r;
            } else {
                d[0] = r;
                d[1] = g;
                d[2] = b;
                d[3] = a;
            }
        }
    }
}

// One channel line into byte `plane` of each pixel (reversed for BGR order).
template <int DB, bool BGR>
void placeChannel(const uint8_t* s, uint8_t* d, int32_t n, int plane) {
    if (plane < 0 || plane >= DB) return;  // the fourth channel has no room in 3 bytes
    d += BGR ? DB - 1 - plane : plane;
    for (int32_t x = 0; x < n; ++x, d += DB) *d = s[x];
}

}  // namespace

// ---- Row helpers ------------------------------------------------------------

template <int U>
static void mirrorUnits(uint8_t* row, int32_t n) {
    uint8_t* a = row;
    uint8_t* b = row + static_cast<int64_t>(n - 1) * U;
    for (; a < b; a += U, b -= U) {
        for (int k = 0; k < U; ++k) std::swap(a[k], b[k]);
    }
}

void mirrorAny(uint8_t* row, int32_t n, int unit) {
    switch (unit) {
        case 1: std::reverse(row, row + n); break;
        case 3: mirrorUnits<3>(row, n); break;
        default: mirrorUnits<4>(row, n); break;
    }
}

// Moves pixel x to offset map[x]; the offsets never pass x * unit, so walking
// forwards works in place.
template <int U>
static void compactUnits(uint8_t* row, const int32_t* map, int32_t n) {
    const uint8_t* s = row;
    for (int32_t x = 0; x < n; ++x, s += U) {
        uint8_t* d = row + map[x];
        for (int k = 0; k < U; ++k) d[k] = s[k];
    }
}

void compactRow(uint8_t* row, const int32_t* map, int32_t n, int unit) {
    switch (unit) {
        case 1: compactUnits<1>(row, map, n); break;
        case 3: compactUnits<3>(row, map, n); break;
        default: compactUnits<4>(row, map, n); break;
    }
}

// ---- Raster description -----------------------------------------------------

UnpackFn chooseUnpacking(RowLayout kind, int planes) {
    switch (kind) {
        case RowLayout::WordPlanes: return unpackWordPlanes;
        case RowLayout::ChannelPlanes:
        case RowLayout::BytePixels:
        case RowLayout::Packed8: return unpackCopy;
        case RowLayout::Packed1: return unpackBits1;
        case RowLayout::Packed2: return unpackBits2;
        case RowLayout::Packed4: return unpackBits4;
        case RowLayout::Rgb555: return unpack555;
        case RowLayout::Bgr555: return unpackBgr555;
        case RowLayout::Rgb565: return unpack565;
        case RowLayout::Rgb24: return unpackCopy3;
        case RowLayout::Bgr24: return unpackSwap3;
        case RowLayout::Rgb32: return unpackCopy4;
        case RowLayout::Abgr32: return unpackReverse4;
        case RowLayout::Argb32: return unpackArgb;
        case RowLayout::Bgra32: return unpackBgra;
        case RowLayout::LinePlanes: return unpackLinePlanes;
        case RowLayout::InLinePlanes: return planes == 3 ? unpackPlanes3 : unpackPlanes4;
    }
    return unpackCopy;
}

PlaceFn choosePlacing(int depth, bool channelPlanes, int convBytes, int workBytes, bool bgr) {
    if (depth <= 8) {
        if (workBytes == 1) return placeCopy;
        if (workBytes == 3) return bgr ? placeIndex<3, 2> : placeIndex<3, 0>;
        return bgr ? placeIndex<4, 3> : placeIndex<4, 0>;
    }
    if (channelPlanes) {
        if (workBytes == 3) return bgr ? placeChannel<3, true> : placeChannel<3, false>;
        return bgr ? placeChannel<4, true> : placeChannel<4, false>;
    }
    if (convBytes == 3) {
        if (workBytes == 3) return bgr ? placeColour<3, 3, true> : placeColour<3, 3, false>;
        return bgr ? placeColour<3, 4, true> : placeColour<3, 4, false>;
    }
    if (workBytes == 3) return bgr ? placeColour<4, 3, true> : placeColour<4, 3, false>;
    return bgr ? placeColour<4, 4, true> : placeColour<4, 4, false>;
}

bool placesUnchanged(UnpackFn unpack, PlaceFn place) {
    return (unpack == unpackCopy && place == placeCopy) ||
           (unpack == unpackCopy3 && place == placeColour<3, 3, false>) ||
           (unpack == unpackCopy4 && place == placeColour<4, 4, false>);
}
