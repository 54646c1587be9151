// Colour reduction and dithering.
//
// Every conversion reads the source a row at a time through RowReader, which
// turns any kind into grey values or R, G, B triplets with tables built once,
// and writes the result with per-row loops driven by precomputed tables.
#include "dither.h"

#include "opsupport.h"

#include <cstring>

namespace {

const uint8_t kHalftone45[6][6] = {
    {15, 9, 17, 32, 22, 30}, {7, 1, 3, 19, 35, 23},  {13, 5, 11, 27, 26, 33},
    {31, 21, 29, 16, 10, 18}, {20, 36, 24, 8, 2, 4}, {28, 25, 34, 14, 6, 12},
};
const uint8_t kHalftone90[6][6] = {
    {30, 19, 13, 20, 31, 35}, {18, 8, 5, 9, 21, 29},   {12, 4, 1, 2, 10, 28},
    {17, 7, 3, 6, 14, 27},    {26, 16, 11, 15, 22, 32}, {34, 25, 24, 23, 33, 36},
};
// Thresholds of the level dither (fractions 0..63 of one level step).
const uint8_t kLevel8[8][8] = {
    {0, 38, 9, 47, 2, 40, 11, 50},   {25, 12, 35, 22, 27, 15, 37, 24}, {6, 44, 3, 41, 8, 47, 5, 43},
    {31, 19, 28, 15, 34, 21, 31, 18}, {1, 39, 11, 49, 0, 39, 10, 48},  {27, 14, 36, 23, 26, 13, 35, 23},
    {7, 46, 4, 43, 7, 45, 3, 42},    {33, 20, 30, 17, 32, 19, 29, 16},
};

uint8_t reverseByte(unsigned v) {
    unsigned r = 0;
    for (int i = 0; i < 8; ++i) r |= ((v >> i) & 1u) << (7 - i);
    return static_cast<uint8_t>(r);
}

// The ordered threshold interleaves y (odd bits) with x xor y (even bits) and
// reverses the byte, which spreads consecutive thresholds across the tile.
uint8_t bayer16(int y, int x) {
    unsigned a = static_cast<unsigned>(y) & 15u, b = static_cast<unsigned>(x ^ y) & 15u;
    unsigned n = 0;
    for (int k = 0; k < 4; ++k) n |= (((a >> k) & 1u) << (2 * k + 1)) | (((b >> k) & 1u) << (2 * k));
    return reverseByte(n);
}

inline uint8_t luma(unsigned r, unsigned g, unsigned b) {
    return static_cast<uint8_t>((77 * r + 150 * g + 29 * b) >> 8);
}

// Reads the rows of any kind as grey values or as R, G, B triplets.
struct RowReader {
    const Image* img;
    ChannelOffsets off;
    int bpp;
    bool oneByte;
    uint8_t r[256], g[256], b[256], grey[256];

    explicit RowReader(const Image* image) : img(image), off(channelOffsets(image->kind)), bpp(image->bytesPerPixel) {
        oneByte = bpp == 1;
        if (!oneByte) return;
        if (image->kind == IMG_PALETTE) {
            for (int v = 0; v < 256; ++v) {
                r[v] = image->palette[v];
                g[v] = image->palette[256 + v];
                b[v] = image->palette[512 + v];
                grey[v] = luma(r[v], g[v], b[v]);
            }
        } else {
            greySpreadTable(image, grey);
            memcpy(r, grey, 256);
            memcpy(g, grey, 256);
            memcpy(b, grey, 256);
        }
    }

    void greyRow(int32_t y, uint8_t* out) const {
        const uint8_t* p = imageRow(img, y);
        int32_t w = img->width;
        if (oneByte) {
            for (int32_t x = 0; x < w; ++x) out[x] = grey[p[x]];
            return;
        }
        const int ro = off.r, go = off.g, bo = off.b;
        for (int32_t x = 0; x < w; ++x, p += bpp) out[x] = luma(p[ro], p[go], p[bo]);
    }

    void rgbRow(int32_t y, uint8_t* out) const {
        const uint8_t* p = imageRow(img, y);
        int32_t w = img->width;
        if (oneByte) {
            for (int32_t x = 0; x < w; ++x, out += 3) {
                uint8_t v = p[x];
                out[0] = r[v];
                out[1] = g[v];
                out[2] = b[v];
            }
            return;
        }
        const int ro = off.r, go = off.g, bo = off.b;
        for (int32_t x = 0; x < w; ++x, p += bpp, out += 3) {
            out[0] = p[ro];
            out[1] = p[go];
            out[2] = p[bo];
        }
    }
};

// Answers of the level dither for one level count: for each of the 64 matrix
// cells and each 0..255 value, the level 0..levels-1 it becomes.
struct LevelDither {
    uint8_t out[64][256];

    void build(int levels) {
        double step = 255.0 / (levels - 1);
        for (int v = 0; v < 256; ++v) {
            int l = static_cast<int>(v / step);
            if (l >= levels - 1) l = levels - 2;
            int f = static_cast<int>((v - l * step) / (step / 63.0));
            if (f < 0) f = 0;
            if (f > 63) f = 63;
            for (int c = 0; c < 64; ++c)
                out[c][v] = static_cast<uint8_t>(f > kLevel8[c >> 3][c & 7] ? l + 1 : l);
        }
    }
};

Status toBinary(const Image* src, Image* out, int method) {
    if (!createResult(out, src, IMG_BINARY)) return ST_NO_MEMORY;
    const int32_t w = src->width, h = src->height;
    if (src->kind == IMG_BINARY) {
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = imageRow(src, y);
            uint8_t* d = imageRow(out, y);
            for (int32_t x = 0; x < w; ++x) d[x] = s[x] ? 1 : 0;
        }
        return ST_OK;
    }
    RowReader rd(src);
    OpArray<uint8_t> grey = allocOpArray<uint8_t>(static_cast<uint64_t>(w));
    if (!grey) {
        freeImage(out);
        return ST_NO_MEMORY;
    }
    uint8_t* g = grey.get();
    if (method == DM_DIFFUSION) {
        OpArray<int32_t> cells = allocOpArray<int32_t>(2 * (static_cast<uint64_t>(w) + 2));
        if (!cells) {
            freeImage(out);
            return ST_NO_MEMORY;
        }
        int32_t* cur = cells.get();
        int32_t* next = cur + w + 2;
        for (int32_t y = 0; y < h; ++y) {
            rd.greyRow(y, g);
            uint8_t* d = imageRow(out, y);
            for (int32_t x = 0; x < w; ++x) {
                int32_t v = g[x] + cur[x];
                cur[x] = 0;
                int32_t e;
                if (v >= 128) {
                    d[x] = 1;
                    e = v - 255;
                } else {
                    e = v;
                }
                cur[x + 1] += 3 * e / 8;
                next[x] += 3 * e / 8;
                next[x + 1] += e / 4;
            }
            cur[w] = 0;
            int32_t* t = cur;
            cur = next;
            next = t;
        }
        return ST_OK;
    }
    if (method == DM_ORDERED) {
        uint8_t m[16][16];
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) m[y][x] = bayer16(y, x);
        for (int32_t y = 0; y < h; ++y) {
            rd.greyRow(y, g);
            uint8_t* d = imageRow(out, y);
            const uint8_t* row = m[y & 15];
            for (int32_t x = 0; x < w; ++x) d[x] = g[x] >= row[x & 15];
        }
        return ST_OK;
    }
    if (method == DM_THRESHOLD) {
        for (int32_t y = 0; y < h; ++y) {
            rd.greyRow(y, g);
            uint8_t* d = imageRow(out, y);
            for (int32_t x = 0; x < w; ++x) d[x] = g[x] >= 127;
        }
        return ST_OK;
    }
    // Halftone screens: the grey is scaled to 0..36 and compared with the screen.
    const uint8_t(*screen)[6] = method == DM_HALFTONE90 ? kHalftone90 : kHalftone45;
    uint8_t q[256];
    for (int v = 0; v < 256; ++v) q[v] = static_cast<uint8_t>(v * 36 / 255);
    for (int32_t y = 0; y < h; ++y) {
        rd.greyRow(y, g);
        uint8_t* d = imageRow(out, y);
        const uint8_t* row = screen[y % 6];
        for (int32_t x = 0; x < w; ++x) d[x] = q[g[x]] >= row[x % 6];
    }
    return ST_OK;
}

Status toGrey(const Image* src, Image* out, int levels, int method) {
    const int32_t w = src->width, h = src->height;
    OpArray<uint8_t> grey = allocOpArray<uint8_t>(static_cast<uint64_t>(w));
    if (!grey || !createResult(out, src, IMG_GREY)) return ST_NO_MEMORY;
    out->colours = levels;
    RowReader rd(src);
    uint8_t* g = grey.get();
    if (method == DM_ORDERED && levels < 256) {
        OpArray<LevelDither> table = allocOpArray<LevelDither>(1);
        if (!table) {
            freeImage(out);
            return ST_NO_MEMORY;
        }
        table[0].build(levels);
        for (int32_t y = 0; y < h; ++y) {
            rd.greyRow(y, g);
            uint8_t* d = imageRow(out, y);
            const int rowCell = (y & 7) * 8;
            for (int32_t x = 0; x < w; ++x) d[x] = table[0].out[rowCell + (x & 7)][g[x]];
        }
        return ST_OK;
    }
    uint8_t q[256];
    for (int v = 0; v < 256; ++v) q[v] = static_cast<uint8_t>(v * (levels - 1) / 255);
    for (int32_t y = 0; y < h; ++y) {
        rd.greyRow(y, g);
        uint8_t* d = imageRow(out, y);
        for (int32_t x = 0; x < w; ++x) d[x] = q[g[x]];
    }
    return ST_OK;
}

// Level counts of red, green and blue of the fixed dithered palettes.
void cubeLevels(int colours, int* rn, int* gn, int* bn) {
    switch (colours) {
    case 8: *rn = 2, *gn = 2, *bn = 2; break;
    case 16: *rn = 4, *gn = 2, *bn = 2; break;
    case 32: *rn = 4, *gn = 2, *bn = 4; break;
    case 64: *rn = 4, *gn = 4, *bn = 4; break;
    case 216: *rn = 6, *gn = 6, *bn = 6; break;
    default: *rn = 8, *gn = 4, *bn = 8; break;  // 128 and 256
    }
}

Status toDitheredCube(const Image* src, Image* out, int colours) {
    int rn, gn, bn;
    cubeLevels(colours, &rn, &gn, &bn);
    const int32_t w = src->width, h = src->height;
    OpArray<uint8_t> rgb = allocOpArray<uint8_t>(3 * static_cast<uint64_t>(w));
    OpArray<LevelDither> tables = allocOpArray<LevelDither>(3);
    if (!rgb || !tables || !createResult(out, src, IMG_PALETTE)) return ST_NO_MEMORY;
    const int gb = gn * bn;
    out->colours = rn * gb;
    for (int r = 0; r < rn; ++r)
        for (int g = 0; g < gn; ++g)
            for (int b = 0; b < bn; ++b) {
                int i = r * gb + g * bn + b;
                out->palette[i] = static_cast<uint8_t>(r * 255 / (rn - 1));
                out->palette[256 + i] = static_cast<uint8_t>(g * 255 / (gn - 1));
                out->palette[512 + i] = static_cast<uint8_t>(b * 255 / (bn - 1));
            }
    LevelDither& tr = tables[0];
    LevelDither& tg = tables[1];
    LevelDither& tb = tables[2];
    tr.build(rn);
    tg.build(gn);
    tb.build(bn);
    // Fold the index weights into the tables once.
    for (int c = 0; c < 64; ++c)
        for (int v = 0; v < 256; ++v) {
            tr.out[c][v] = static_cast<uint8_t>(tr.out[c][v] * gb);
            tg.out[c][v] = static_cast<uint8_t>(tg.out[c][v] * bn);
        }
    RowReader rd(src);
    uint8_t* px = rgb.get();
    for (int32_t y = 0; y < h; ++y) {
        rd.rgbRow(y, px);
        uint8_t* d = imageRow(out, y);
        const int rowCell = (y & 7) * 8;
        const uint8_t* p = px;
        for (int32_t x = 0; x < w; ++x, p += 3) {
            int c = rowCell + (x & 7);
            d[x] = static_cast<uint8_t>(tr.out[c][p[0]] + tg.out[c][p[1]] + tb.out[c][p[2]]);
        }
    }
    return ST_OK;
}

// ---- Adaptive palettes ------------------------------------------------------

int sourceColourCount(const Image* src) {
    if (src->kind == IMG_BINARY) return 2;
    if (src->kind == IMG_GREY) return greyLevels(src);
    return (src->colours >= 1 && src->colours <= 256) ? src->colours : 256;
}

// A one-byte source with no more colours than asked keeps its colours in their
// order; stored values beyond them map to the nearest of them.
Status keepColours(const Image* src, Image* out, const RowReader& rd, int count) {
    if (!createResult(out, src, IMG_PALETTE)) return ST_NO_MEMORY;
    out->colours = count;
    for (int i = 0; i < count; ++i) {
        out->palette[i] = rd.r[i];
        out->palette[256 + i] = rd.g[i];
        out->palette[512 + i] = rd.b[i];
    }
    uint8_t map[256];
    for (int v = 0; v < 256; ++v) {
        if (v < count) {
            map[v] = static_cast<uint8_t>(v);
            continue;
        }
        int best = 0;
        int32_t bestDist = INT32_MAX;
        for (int i = 0; i < count; ++i) {
            int dr = rd.r[v] - rd.r[i], dg = rd.g[v] - rd.g[i], db = rd.b[v] - rd.b[i];
            int32_t dist = dr * dr + dg * dg + db * db;
            if (dist < bestDist) {
                bestDist = dist;
                best = i;
            }
        }
        map[v] = static_cast<uint8_t>(best);
    }
    for (int32_t y = 0; y < src->height; ++y) {
        const uint8_t* s = imageRow(src, y);
        uint8_t* d = imageRow(out, y);
        for (int32_t x = 0; x < src->width; ++x) d[x] = map[s[x]];
    }
    return ST_OK;
}

// A true-colour picture with no more distinct colours than asked gets them all,
// exactly, in the order they first appear. *done is false when it has more.
Status exactColours(const Image* src, Image* out, const RowReader& rd, int limit, bool* done) {
    *done = false;
    constexpr uint32_t kSlots = 1024;  // more than four times the 256 colours at most
    uint32_t keys[kSlots];
    uint8_t values[kSlots];
    memset(keys, 0xFF, sizeof keys);  // 0xFFFFFFFF: empty (colours are 24-bit)
    const int32_t w = src->width, h = src->height;
    OpArray<uint8_t> rgb = allocOpArray<uint8_t>(3 * static_cast<uint64_t>(w));
    if (!rgb || !createResult(out, src, IMG_PALETTE)) {
        *done = true;
        return ST_NO_MEMORY;
    }
    int count = 0;
    uint32_t lastKey = 0xFFFFFFFFu;
    uint8_t lastIndex = 0;
    for (int32_t y = 0; y < h; ++y) {
        rd.rgbRow(y, rgb.get());
        const uint8_t* p = rgb.get();
        uint8_t* d = imageRow(out, y);
        for (int32_t x = 0; x < w; ++x, p += 3) {
            uint32_t key = (static_cast<uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
            if (key != lastKey) {
                uint32_t slot = (key * 2654435761u) >> 22;
                while (keys[slot] != key && keys[slot] != 0xFFFFFFFFu) slot = (slot + 1) & (kSlots - 1);
                if (keys[slot] != key) {
                    if (count == limit) {
                        freeImage(out);
                        return ST_OK;  // too many colours: *done stays false
                    }
                    keys[slot] = key;
                    values[slot] = static_cast<uint8_t>(count);
                    out->palette[count] = p[0];
                    out->palette[256 + count] = p[1];
                    out->palette[512 + count] = p[2];
                    ++count;
                }
                lastKey = key;
                lastIndex = values[slot];
            }
            d[x] = lastIndex;
        }
    }
    out->colours = count;
    *done = true;
    return ST_OK;
}

inline uint32_t colour6(unsigned r, unsigned g, unsigned b) {
    return ((r >> 2) << 12) | ((g >> 2) << 6) | (b >> 2);
}

// A box of the subdivided 64 x 64 x 64 colour cube: a slice of the colour list
// and the component ranges it covers.
struct Box {
    uint32_t start;
    uint32_t count;
    uint8_t lo[3];
    uint8_t hi[3];
    int8_t octants;  // number of non-empty octants of its split, -1 before it is known
};

inline unsigned comp(uint32_t c, int i) {
    return (c >> (12 - 6 * i)) & 63u;
}

inline unsigned octantOf(uint32_t c, const unsigned mid[3]) {
    return ((comp(c, 0) > mid[0]) << 2) | ((comp(c, 1) > mid[1]) << 1) | (comp(c, 2) > mid[2]);
}

struct Octree {
    uint32_t* colours;  // distinct 6-bit colours; each box owns a slice
    uint32_t* scratch;  // as long as colours, for the splits

    // Number of non-empty octants of the box's split. A box of several colours
    // that all fall into one octant is narrowed to that octant first, level by
    // level, until its colours part: otherwise a picture whose colours all lie
    // within one octant (a low-contrast photo) would stop at a single box.
    int octants(Box& box) const {
        if (box.octants >= 0) return box.octants;
        for (;;) {
            unsigned mid[3];
            for (int i = 0; i < 3; ++i) mid[i] = (box.lo[i] + box.hi[i]) >> 1;
            unsigned mask = 0;
            for (uint32_t k = 0; k < box.count && mask != 0xFF; ++k)
                mask |= 1u << octantOf(colours[box.start + k], mid);
            int n = 0;
            for (unsigned m = mask; m; m &= m - 1) ++n;
            bool narrowable = false;
            for (int i = 0; i < 3; ++i) narrowable |= box.lo[i] < box.hi[i];
            if (n != 1 || box.count < 2 || !narrowable) {
                box.octants = static_cast<int8_t>(n);
                return n;
            }
            int o = __builtin_ctz(mask);
            for (int i = 0; i < 3; ++i) {
                if ((o >> (2 - i)) & 1)
                    box.lo[i] = static_cast<uint8_t>(mid[i] + 1);
                else
                    box.hi[i] = static_cast<uint8_t>(mid[i]);
            }
        }
    }

    // Splits box into its non-empty octants, written to children in octant
    // order; returns their number.
    int split(Box& box, Box* children) const {
        octants(box);  // narrows a box whose colours share one octant
        unsigned mid[3];
        for (int i = 0; i < 3; ++i) mid[i] = (box.lo[i] + box.hi[i]) >> 1;
        uint32_t counts[8] = {0};
        for (uint32_t k = 0; k < box.count; ++k) ++counts[octantOf(colours[box.start + k], mid)];
        uint32_t at[8];
        uint32_t pos = 0;
        for (int o = 0; o < 8; ++o) {
            at[o] = pos;
            pos += counts[o];
        }
        for (uint32_t k = 0; k < box.count; ++k) {
            uint32_t c = colours[box.start + k];
            scratch[at[octantOf(c, mid)]++] = c;
        }
        memcpy(colours + box.start, scratch, box.count * sizeof(uint32_t));
        int n = 0;
        pos = box.start;
        for (int o = 0; o < 8; ++o) {
            if (!counts[o]) continue;
            Box& c = children[n++];
            c.start = pos;
            c.count = counts[o];
            pos += counts[o];
            for (int i = 0; i < 3; ++i) {
                bool upper = (o >> (2 - i)) & 1;
                c.lo[i] = static_cast<uint8_t>(upper ? mid[i] + 1 : box.lo[i]);
                c.hi[i] = static_cast<uint8_t>(upper ? box.hi[i] : mid[i]);
            }
            c.octants = -1;
        }
        return n;
    }
};

// Subdivides the colour cube into at most limit boxes; returns their number.
int subdivide(Octree& tree, uint32_t total, Box* boxes, Box* spare, int limit) {
    Box root{0, total, {0, 0, 0}, {63, 63, 63}, -1};
    int count = tree.split(root, boxes);
    // Whole levels while they fit.
    while (count < limit) {
        int next = 0;
        for (int i = 0; i < count; ++i) next += tree.octants(boxes[i]);
        if (next > limit || next == count) break;
        int n = 0;
        for (int i = 0; i < count; ++i) n += tree.split(boxes[i], spare + n);
        memcpy(boxes, spare, static_cast<size_t>(n) * sizeof(Box));
        count = n;
    }
    // Then single boxes: the one that yields the most octants, on ties the one
    // with more colours.
    while (count < limit) {
        int best = -1, bestOct = 0;
        for (int i = 0; i < count; ++i) {
            int o = tree.octants(boxes[i]);
            if (count - 1 + o > limit) continue;
            if (best < 0 || o > bestOct || (o == bestOct && boxes[i].count > boxes[best].count)) {
                best = i;
                bestOct = o;
            }
        }
        if (best < 0 || bestOct <= 1) break;
        Box parts[8];
        int n = tree.split(boxes[best], parts);
        memmove(boxes + best + n, boxes + best + 1, static_cast<size_t>(count - best - 1) * sizeof(Box));
        memcpy(boxes + best, parts, static_cast<size_t>(n) * sizeof(Box));
        count += n - 1;
    }
    return count;
}

Status toAdaptive(const Image* src, Image* out, int limit) {
    RowReader rd(src);
    const int32_t w = src->width, h = src->height;
    if (rd.oneByte) {
        int count = sourceColourCount(src);
        if (count <= limit) return keepColours(src, out, rd, count);
    } else {
        bool done = false;
        Status st = exactColours(src, out, rd, limit, &done);
        if (done) return st;
    }

    // Presence map of the 6-bit colours.
    OpArray<uint32_t> present = allocOpArray<uint32_t>((1u << 18) / 32);
    OpArray<uint8_t> rgb = allocOpArray<uint8_t>(3 * static_cast<uint64_t>(w));
    if (!present || !rgb) return ST_NO_MEMORY;
    uint32_t* bits = present.get();
    if (rd.oneByte) {
        bool used[256] = {false};
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = imageRow(src, y);
            for (int32_t x = 0; x < w; ++x) used[s[x]] = true;
        }
        for (int v = 0; v < 256; ++v)
            if (used[v]) {
                uint32_t c = colour6(rd.r[v], rd.g[v], rd.b[v]);
                bits[c >> 5] |= 1u << (c & 31);
            }
    } else {
        for (int32_t y = 0; y < h; ++y) {
            rd.rgbRow(y, rgb.get());
            const uint8_t* p = rgb.get();
            for (int32_t x = 0; x < w; ++x, p += 3) {
                uint32_t c = colour6(p[0], p[1], p[2]);
                bits[c >> 5] |= 1u << (c & 31);
            }
        }
    }
    uint32_t total = 0;
    for (uint32_t i = 0; i < (1u << 18) / 32; ++i) total += static_cast<uint32_t>(__builtin_popcount(bits[i]));

    OpArray<uint32_t> colours = allocOpArray<uint32_t>(total);
    OpArray<uint32_t> scratch = allocOpArray<uint32_t>(total);
    OpArray<Box> boxes = allocOpArray<Box>(static_cast<uint64_t>(limit) + 8);
    OpArray<Box> spare = allocOpArray<Box>(static_cast<uint64_t>(limit) + 8);
    OpArray<uint8_t> lookup = allocOpArray<uint8_t>(1u << 18);
    if (!colours || !scratch || !boxes || !spare || !lookup) return ST_NO_MEMORY;
    uint32_t n = 0;
    for (uint32_t c = 0; c < (1u << 18); ++c)
        if (bits[c >> 5] & (1u << (c & 31))) colours[n++] = c;

    Octree tree{colours.get(), scratch.get()};
    int count = subdivide(tree, total, boxes.get(), spare.get(), limit);

    if (!createResult(out, src, IMG_PALETTE)) return ST_NO_MEMORY;
    out->colours = count;
    // Palette entries: the average of each box's colours; every colour of a box
    // maps to that box through the lookup table.
    for (int i = 0; i < count; ++i) {
        const Box& box = boxes[i];
        uint64_t sum[3] = {0, 0, 0};
        for (uint32_t k = 0; k < box.count; ++k) {
            uint32_t c = colours[box.start + k];
            for (int j = 0; j < 3; ++j) sum[j] += comp(c, j);
            lookup[c] = static_cast<uint8_t>(i);
        }
        for (int j = 0; j < 3; ++j)
            out->palette[256 * j + i] = static_cast<uint8_t>(sum[j] / box.count * 255 / 63);
    }
    if (rd.oneByte) {
        uint8_t map[256];
        for (int v = 0; v < 256; ++v) map[v] = lookup[colour6(rd.r[v], rd.g[v], rd.b[v])];
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = imageRow(src, y);
            uint8_t* d = imageRow(out, y);
            for (int32_t x = 0; x < w; ++x) d[x] = map[s[x]];
        }
    } else {
        const uint8_t* table = lookup.get();
        for (int32_t y = 0; y < h; ++y) {
            rd.rgbRow(y, rgb.get());
            const uint8_t* p = rgb.get();
            uint8_t* d = imageRow(out, y);
            for (int32_t x = 0; x < w; ++x, p += 3) d[x] = table[colour6(p[0], p[1], p[2])];
        }
    }
    return ST_OK;
}

Status toTrueColour(const Image* src, Image* out) {
    const int32_t w = src->width, h = src->height;
    if (src->kind & IMG_TRUECOLOUR) {
        if (!createResult(out, src, src->kind)) return ST_NO_MEMORY;
        size_t bytes = static_cast<size_t>(w) * src->bytesPerPixel;
        for (int32_t y = 0; y < h; ++y) memcpy(imageRow(out, y), imageRow(src, y), bytes);
        return ST_OK;
    }
    if (!createResult(out, src, IMG_RGB)) return ST_NO_MEMORY;
    RowReader rd(src);
    for (int32_t y = 0; y < h; ++y) rd.rgbRow(y, imageRow(out, y));
    return ST_OK;
}

const Conversion kConversions[CONVERSION_COUNT] = {
    {1, 51, "Binaire (Tramé)", CT_BINARY, DM_ORDERED},
    {2, 52, "Binaire (Floyd Steinberg)", CT_BINARY, DM_DIFFUSION},
    {3, 53, "Binaire (Demi-Teinte 45)", CT_BINARY, DM_HALFTONE45},
    {4, 54, "Binaire (Demi-Teinte 90)", CT_BINARY, DM_HALFTONE90},
    {5, 55, "4 Niveaux de Gris", CT_GREY4, DM_NONE},
    {6, 56, "8 Niveaux de Gris", CT_GREY8, DM_NONE},
    {7, 57, "16 Niveaux de Gris", CT_GREY16, DM_NONE},
    {8, 58, "32 Niveaux de Gris", CT_GREY32, DM_NONE},
    {9, 59, "64 Niveaux de Gris", CT_GREY64, DM_NONE},
    {10, 60, "128 Niveaux de Gris", CT_GREY128, DM_NONE},
    {11, 61, "256 Niveaux de Gris", CT_GREY256, DM_NONE},
    {12, 62, "4 Niveaux de Gris (Tramé)", CT_GREY4, DM_ORDERED},
    {13, 63, "8 Niveaux de Gris (Tramé)", CT_GREY8, DM_ORDERED},
    {14, 64, "16 Niveaux de Gris (Tramé)", CT_GREY16, DM_ORDERED},
    {15, 65, "32 Niveaux de Gris (Tramé)", CT_GREY32, DM_ORDERED},
    {16, 66, "64 Niveaux de Gris (Tramé)", CT_GREY64, DM_ORDERED},
    {17, 67, "128 Niveaux de Gris (Tramé)", CT_GREY128, DM_ORDERED},
    {18, 68, "8 Couleurs (Adaptif)", CT_COLOURS8, DM_NONE},
    {19, 69, "16 Couleurs (Adaptif)", CT_COLOURS16, DM_NONE},
    {20, 70, "32 Couleurs (Adaptif)", CT_COLOURS32, DM_NONE},
    {21, 71, "64 Couleurs (Adaptive)", CT_COLOURS64, DM_NONE},
    {22, 72, "128 Couleurs (Adaptif)", CT_COLOURS128, DM_NONE},
    {23, 73, "216 Couleurs (Adaptif)", CT_COLOURS216, DM_NONE},
    {24, 74, "256 Couleurs (Adaptif)", CT_COLOURS256, DM_NONE},
    {25, 75, "8 Couleurs (Tramé)", CT_COLOURS8, DM_ORDERED},
    {26, 76, "16 Couleurs (Tramé)", CT_COLOURS16, DM_ORDERED},
    {27, 77, "32 Couleurs (Tramé)", CT_COLOURS32, DM_ORDERED},
    {28, 78, "64 Couleurs (Tramé)", CT_COLOURS64, DM_ORDERED},
    {29, 79, "128 Couleurs (Tramé)", CT_COLOURS128, DM_ORDERED},
    {30, 80, "216 Couleurs (Tramé)", CT_COLOURS216, DM_ORDERED},
    {31, 81, "256 Couleurs (Tramé)", CT_COLOURS256, DM_ORDERED},
    {32, 82, "Vraies couleurs", CT_TRUECOLOUR, DM_THRESHOLD},
};

}  // namespace

int targetLevels(int target) {
    switch (target) {
    case CT_BINARY: return 2;
    case CT_GREY4: return 4;
    case CT_GREY8: return 8;
    case CT_GREY16: return 16;
    case CT_GREY32: return 32;
    case CT_GREY64: return 64;
    case CT_GREY128: return 128;
    case CT_GREY256: return 256;
    case CT_COLOURS8: return 8;
    case CT_COLOURS16: return 16;
    case CT_COLOURS32: return 32;
    case CT_COLOURS64: return 64;
    case CT_COLOURS128: return 128;
    case CT_COLOURS216: return 216;
    case CT_COLOURS256: return 256;
    case CT_TRUECOLOUR: return 0;
    default: return -1;
    }
}

Status convertImage(Image* source, Image* destination, int target, int method) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    int levels = targetLevels(target);
    if (levels < 0 || method < DM_THRESHOLD || method > DM_DIFFUSION) return ST_OP_BAD_PARAMETER;
    OwnedImage result;
    Status st;
    if (target == CT_BINARY)
        st = toBinary(source, &result, method);
    else if (target <= CT_GREY256)
        st = toGrey(source, &result, levels, method);
    else if (target <= CT_COLOURS256)
        st = method == DM_ORDERED ? toDitheredCube(source, &result, levels) : toAdaptive(source, &result, levels);
    else
        st = toTrueColour(source, &result);
    if (st != ST_OK) return st;
    commitResult(source, destination, &result);
    return ST_OK;
}

int32_t countColours(const Image* image) {
    if (!opImageValid(image)) return -1;
    const int32_t w = image->width, h = image->height;
    if (image->bytesPerPixel == 1) {
        bool used[256] = {false};
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* p = imageRow(image, y);
            for (int32_t x = 0; x < w; ++x) used[p[x]] = true;
        }
        int32_t n = 0;
        for (bool u : used) n += u;
        return n;
    }
    // A bit per 24-bit colour (2 MB) holds the set whatever the picture's size.
    OpArray<uint32_t> set = allocOpArray<uint32_t>((1u << 24) / 32);
    if (!set) return -1;
    uint32_t* bits = set.get();
    ChannelOffsets off = channelOffsets(image->kind);
    const int bpp = image->bytesPerPixel;
    int32_t n = 0;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = imageRow(image, y);
        for (int32_t x = 0; x < w; ++x, p += bpp) {
            uint32_t c = (static_cast<uint32_t>(p[off.r]) << 16) | (p[off.g] << 8) | p[off.b];
            uint32_t bit = 1u << (c & 31);
            if (!(bits[c >> 5] & bit)) {
                bits[c >> 5] |= bit;
                ++n;
            }
        }
    }
    return n;
}

const Conversion* conversionByCode(int code) {
    if (code < 1 || code > CONVERSION_COUNT) return nullptr;
    return &kConversions[code - 1];
}

const char* conversionLabel(int code) {
    if (code == 0) return "Aucun";
    const Conversion* c = conversionByCode(code);
    return c ? c->label : nullptr;
}

Status convertWithCode(Image* source, Image* destination, int code) {
    const Conversion* c = conversionByCode(code);
    if (!c) return ST_OP_BAD_PARAMETER;
    return convertImage(source, destination, c->target, c->method);
}

uint8_t orderedThreshold16(int y, int x) {
    return bayer16(y & 15, x & 15);
}
uint8_t halftone45(int y, int x) {
    return kHalftone45[((y % 6) + 6) % 6][((x % 6) + 6) % 6];
}
uint8_t halftone90(int y, int x) {
    return kHalftone90[((y % 6) + 6) % 6][((x % 6) + 6) % 6];
}
uint8_t levelThreshold8(int y, int x) {
    return kLevel8[y & 7][x & 7];
}

Status opTrueColour(Image* image, const OpInstance&) {
    return convertImage(image, nullptr, CT_TRUECOLOUR, DM_THRESHOLD);
}

Status opColours(Image* image, const OpInstance& op) {
    if (op.ints[0] < CT_COLOURS8 || op.ints[0] > CT_COLOURS256) return ST_OP_BAD_PARAMETER;
    return convertImage(image, nullptr, op.ints[0], op.ints[1] ? DM_ORDERED : DM_NONE);
}

Status opGrey(Image* image, const OpInstance& op) {
    int levels = targetLevels(op.ints[0]);
    if (levels < 4 || op.ints[0] > CT_GREY256) return ST_OP_BAD_PARAMETER;
    return convertImage(image, nullptr, op.ints[0], op.ints[1] ? DM_ORDERED : DM_NONE);
}

Status opBinary(Image* image, const OpInstance& op) {
    int m = op.ints[0];
    if (m != DM_ORDERED && m != DM_HALFTONE45 && m != DM_HALFTONE90 && m != DM_DIFFUSION) return ST_OP_BAD_PARAMETER;
    return convertImage(image, nullptr, CT_BINARY, m);
}
