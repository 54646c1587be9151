#include "pngdeflate.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include <libdeflate.h>
#include <zlib.h>

#include "opsupport.h"
#include "stream.h"

namespace {

// ---- Filtering ----------------------------------------------------------------

// The filter loops run twice as wide where the processor has AVX2; the library
// picks the version when it loads.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__WINE__) && !defined(_WIN32) && \
    !defined(__SANITIZE_ADDRESS__)
#define FILTER_CLONES __attribute__((target_clones("avx2", "default"), flatten))
#else
#define FILTER_CLONES
#endif

inline uint32_t absByte(int v) { return static_cast<uint32_t>(std::abs(static_cast<int>(static_cast<int8_t>(v)))); }

// In 16 bits, so that the loops below run eight samples at a time.
inline int16_t paeth(int16_t a, int16_t b, int16_t c) {
    const int16_t p = static_cast<int16_t>(b - c), q = static_cast<int16_t>(a - c);
    const int16_t pq = static_cast<int16_t>(p + q);
    const int16_t pa = static_cast<int16_t>(p < 0 ? -p : p), pb = static_cast<int16_t>(q < 0 ? -q : q);
    const int16_t pc = static_cast<int16_t>(pq < 0 ? -pq : pq);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Calls f with the pixel size as a compile-time constant (0: other sizes,
// which f takes from its own argument), so that f's loops vectorise.
template <typename F>
void withPixelSize(size_t bpp, F&& f) {
    switch (bpp) {
    case 1: return f(std::integral_constant<size_t, 1>());
    case 2: return f(std::integral_constant<size_t, 2>());
    case 3: return f(std::integral_constant<size_t, 3>());
    case 4: return f(std::integral_constant<size_t, 4>());
    case 6: return f(std::integral_constant<size_t, 6>());
    case 8: return f(std::integral_constant<size_t, 8>());
    default: return f(std::integral_constant<size_t, 0>());
    }
}

// Filters row (rowBytes samples) against prior (the unfiltered row above, or
// zeros) into out[0] (type) and out[1..] with the filter whose bytes, taken
// as signed, sum smallest (the first of equals); scratch holds rowBytes
// bytes. Returns the chosen filter's sum.
FILTER_CLONES uint32_t filterRow(const uint8_t* row, const uint8_t* prior, size_t n, size_t bpp, uint8_t* out, uint8_t* scratch) {
    const size_t lead = n < bpp ? n : bpp;  // the first pixel has no left neighbour
    uint32_t sums[5] = {0, 0, 0, 0, 0};
    for (size_t x = 0; x < n; ++x) sums[0] += absByte(row[x]);
    for (size_t x = 0; x < lead; ++x) {
        sums[1] += absByte(row[x]);
        sums[2] += absByte(row[x] - prior[x]);
        sums[3] += absByte(row[x] - (prior[x] >> 1));
        sums[4] += absByte(row[x] - prior[x]);
    }
    withPixelSize(bpp, [&](auto size) {
        const size_t step = size() ? size() : bpp;
        uint32_t sSub = 0, sUp = 0, sAvg = 0, sPae = 0;
        for (size_t x = step; x < n; ++x) {
            const int16_t v = row[x], a = row[x - step], b = prior[x], c = prior[x - step];
            const int8_t dSub = static_cast<int8_t>(v - a), dUp = static_cast<int8_t>(v - b);
            const int8_t dAvg = static_cast<int8_t>(v - ((a + b) >> 1)), dPae = static_cast<int8_t>(v - paeth(a, b, c));
            sSub += static_cast<uint16_t>(dSub < 0 ? -dSub : dSub);
            sUp += static_cast<uint16_t>(dUp < 0 ? -dUp : dUp);
            sAvg += static_cast<uint16_t>(dAvg < 0 ? -dAvg : dAvg);
            sPae += static_cast<uint16_t>(dPae < 0 ? -dPae : dPae);
        }
        sums[1] += sSub, sums[2] += sUp, sums[3] += sAvg, sums[4] += sPae;
    });
    int chosen = 0;
    for (int f = 1; f < 5; ++f)
        if (sums[f] < sums[chosen]) chosen = f;
    out[0] = static_cast<uint8_t>(chosen);
    uint8_t* f = scratch;
    switch (chosen) {
    case 0:
        memmove(out + 1, row, n);
        return sums[0];
    case 1:
        for (size_t x = 0; x < lead; ++x) f[x] = row[x];
        for (size_t x = bpp; x < n; ++x) f[x] = static_cast<uint8_t>(row[x] - row[x - bpp]);
        break;
    case 2:
        for (size_t x = 0; x < n; ++x) f[x] = static_cast<uint8_t>(row[x] - prior[x]);
        break;
    case 3:
        for (size_t x = 0; x < lead; ++x) f[x] = static_cast<uint8_t>(row[x] - (prior[x] >> 1));
        for (size_t x = bpp; x < n; ++x) f[x] = static_cast<uint8_t>(row[x] - ((row[x - bpp] + prior[x]) >> 1));
        break;
    default:
        for (size_t x = 0; x < lead; ++x) f[x] = static_cast<uint8_t>(row[x] - prior[x]);
        withPixelSize(bpp, [&](auto size) {
            const size_t step = size() ? size() : bpp;
            for (size_t x = step; x < n; ++x)
                f[x] = static_cast<uint8_t>(row[x] - paeth(row[x - step], prior[x], prior[x - step]));
        });
    }
    memcpy(out + 1, f, n);
    return sums[chosen];
}

// ---- Finding the end of a deflate stream ----------------------------------------

struct BitReader {
    const uint8_t* data;
    size_t size;
    uint64_t pos = 0;  // in bits

    // The next n bits (n <= 25), bits past the end reading as zeros.
    uint32_t peek(int n) const {
        const size_t byte = static_cast<size_t>(pos >> 3);
        uint64_t v = 0;
        for (int i = 0; i < 5 && byte + static_cast<size_t>(i) < size; ++i)
            v |= static_cast<uint64_t>(data[byte + static_cast<size_t>(i)]) << (8 * i);
        return static_cast<uint32_t>(v >> (pos & 7)) & ((1u << n) - 1);
    }
    uint32_t take(int n) {
        const uint32_t v = peek(n);
        pos += static_cast<uint64_t>(n);
        return v;
    }
    bool over() const { return pos > static_cast<uint64_t>(size) * 8; }
};

constexpr int FAST_BITS = 10;

// A canonical Huffman code: a table of the codes of FAST_BITS bits or fewer,
// and the counts per length for the longer ones.
struct Huffman {
    uint16_t fast[1 << FAST_BITS];  // symbol << 4 | length; 0 = longer code
    uint16_t count[16];
    uint16_t symbols[320];

    bool build(const uint8_t* lengths, int n) {
        memset(count, 0, sizeof count);
        memset(fast, 0, sizeof fast);
        for (int i = 0; i < n; ++i) ++count[lengths[i]];
        count[0] = 0;
        uint16_t offsets[16];
        offsets[1] = 0;
        for (int len = 1; len < 15; ++len) offsets[len + 1] = static_cast<uint16_t>(offsets[len] + count[len]);
        for (int i = 0; i < n; ++i)
            if (lengths[i]) symbols[offsets[lengths[i]]++] = static_cast<uint16_t>(i);
        // Codes in canonical order; the table is indexed by the bits as read (reversed).
        uint32_t code = 0;
        int k = 0;
        for (int len = 1; len <= 15; ++len) {
            for (int c = 0; c < count[len]; ++c, ++code, ++k) {
                if (len > FAST_BITS) continue;
                uint32_t rev = 0;
                for (int b = 0; b < len; ++b) rev |= ((code >> b) & 1u) << (len - 1 - b);
                for (uint32_t i = rev; i < (1u << FAST_BITS); i += 1u << len)
                    fast[i] = static_cast<uint16_t>(symbols[k] << 4 | len);
            }
            code <<= 1;
        }
        return true;
    }

    // The next symbol, or -1 for bits that are no code.
    int decode(BitReader& in) const {
        const uint16_t e = fast[in.peek(FAST_BITS)];
        if (e) {
            in.pos += e & 15u;
            return e >> 4;
        }
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; ++len) {
            code |= static_cast<int>(in.take(1));
            const int n = count[len];
            if (code - n < first) return symbols[index + (code - first)];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        return -1;
    }
};

constexpr uint8_t CODE_LENGTH_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

bool readDynamicCodes(BitReader& in, Huffman* lit, Huffman* dist) {
    const int nlit = static_cast<int>(in.take(5)) + 257;
    const int ndist = static_cast<int>(in.take(5)) + 1;
    const int ncode = static_cast<int>(in.take(4)) + 4;
    uint8_t lengths[320] = {};
    for (int i = 0; i < ncode; ++i) lengths[CODE_LENGTH_ORDER[i]] = static_cast<uint8_t>(in.take(3));
    Huffman lencode;
    lencode.build(lengths, 19);
    memset(lengths, 0, sizeof lengths);
    for (int i = 0; i < nlit + ndist;) {
        const int sym = lencode.decode(in);
        if (sym < 0 || in.over()) return false;
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        int repeat;
        uint8_t value = 0;
        if (sym == 16) {
            if (i == 0) return false;
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(in.take(2));
        } else if (sym == 17) {
            repeat = 3 + static_cast<int>(in.take(3));
        } else {
            repeat = 11 + static_cast<int>(in.take(7));
        }
        if (i + repeat > nlit + ndist) return false;
        while (repeat--) lengths[i++] = value;
    }
    lit->build(lengths, nlit);
    dist->build(lengths + nlit, ndist);
    return true;
}

// Walks a deflate stream's blocks to its final one: the bit where that
// block's header starts and the bit after its end-of-block code.
bool findFinalBlock(const uint8_t* data, size_t size, uint64_t* header, uint64_t* end) {
    BitReader in{data, size};
    Huffman lit, dist;
    for (;;) {
        const uint64_t start = in.pos;
        const bool last = in.take(1) != 0;
        const uint32_t type = in.take(2);
        if (type == 0) {
            in.pos = (in.pos + 7) & ~uint64_t(7);
            const uint32_t len = in.take(16);
            if ((in.take(16) ^ 0xFFFFu) != len) return false;
            in.pos += static_cast<uint64_t>(len) * 8;
        } else if (type == 3) {
            return false;
        } else {
            if (type == 1) {
                uint8_t lengths[320];
                memset(lengths, 8, 144);
                memset(lengths + 144, 9, 112);
                memset(lengths + 256, 7, 24);
                memset(lengths + 280, 8, 8);
                memset(lengths + 288, 5, 30);
                lit.build(lengths, 288);
                dist.build(lengths + 288, 30);
            } else if (!readDynamicCodes(in, &lit, &dist)) {
                return false;
            }
            for (;;) {
                const int sym = lit.decode(in);
                if (sym < 0 || sym > 285 || in.over()) return false;
                if (sym == 256) break;
                if (sym < 256) continue;
                if (sym >= 265 && sym < 285) in.pos += static_cast<uint64_t>((sym - 261) / 4);
                const int d = dist.decode(in);
                if (d < 0 || d > 29) return false;
                if (d >= 4) in.pos += static_cast<uint64_t>(d / 2 - 1);
            }
        }
        if (in.over()) return false;
        if (last) {
            *header = start;
            *end = in.pos;
            return true;
        }
    }
}

// ---- Bands ----------------------------------------------------------------------

constexpr int MAX_PARTS = 8;

struct Part {
    int32_t first = -1;
    Buffer above;  // the unfiltered row above the band (none for the first)
    Buffer data;
    size_t size = 0;
    uLong adler = 1;
    size_t bytes = 0;  // uncompressed
};

struct DeflateJob {
    uint8_t* rows;
    size_t stride;  // 1 + rowBytes
    int bpp;
    int level;
    Part parts[MAX_PARTS];
    std::atomic<int> taken{0};
};

// First pass: each band takes a part and keeps the row above it, before any
// band filters its rows in place. The second pass splits the rows alike.
Status keepRowAbove(void* data, Band band) {
    DeflateJob* job = static_cast<DeflateJob*>(data);
    const int slot = job->taken.fetch_add(1);
    if (slot >= MAX_PARTS) return ST_NO_MEMORY;
    Part& part = job->parts[slot];
    part.first = band.first;
    if (band.first == 0) return ST_OK;
    const size_t n = job->stride - 1;
    part.above = allocBuffer(n);
    if (!part.above) return ST_NO_MEMORY;
    memcpy(part.above.get(), job->rows + job->stride * static_cast<size_t>(band.first - 1) + 1, n);
    return ST_OK;
}

// Smooth bands (upscaled or heavily compressed pictures, gradients), whose
// filtered bytes are mostly zero, hold long repeats that a deeper match search
// finds: one level more packs them 1.5-4.5% smaller, where grainy photographs
// gain under 1% for half as much time again. Those bands take the next level.
int bandLevel(int level, uint64_t residue, size_t bytes) {
    const bool smooth = residue < bytes;  // under one unit of filtered residue per byte
    return smooth && level >= 1 && level < 9 ? level + 1 : level;
}

Status deflateBand(void* data, Band band) {
    DeflateJob* job = static_cast<DeflateJob*>(data);
    Part* part = nullptr;
    for (Part& p : job->parts)
        if (p.first == band.first) part = &p;
    if (!part) return ST_NO_MEMORY;
    const size_t n = job->stride - 1;
    Buffer scratch = allocBuffer(static_cast<uint64_t>(n) * 2);  // the filtered row and a zero row
    if (!scratch) return ST_NO_MEMORY;
    const uint8_t* above = part->above ? part->above.get() : scratch.get() + n;
    // Bottom up, so that each row's upper neighbour is still unfiltered.
    uint64_t residue = 0;
    for (int32_t y = band.end - 1; y >= band.first; --y) {
        uint8_t* line = job->rows + job->stride * static_cast<size_t>(y);
        const uint8_t* prior = y == band.first ? above : line - job->stride + 1;
        residue += filterRow(line + 1, prior, n, static_cast<size_t>(job->bpp), line, scratch.get());
    }
    const uint8_t* in = job->rows + job->stride * static_cast<size_t>(band.first);
    part->bytes = job->stride * static_cast<size_t>(band.end - band.first);
    part->adler = libdeflate_adler32(1, in, part->bytes);
    libdeflate_compressor* c = libdeflate_alloc_compressor(bandLevel(job->level, residue, part->bytes));
    if (!c) return ST_NO_MEMORY;
    const size_t bound = libdeflate_deflate_compress_bound(c, part->bytes);
    part->data = allocBuffer(bound);
    if (part->data) part->size = libdeflate_deflate_compress(c, in, part->bytes, part->data.get(), bound);
    libdeflate_free_compressor(c);
    return part->data && part->size ? ST_OK : ST_NO_MEMORY;
}

}  // namespace

size_t spliceDeflateStreams(const uint8_t* const* parts, const size_t* sizes, int count, uint8_t* out) {
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
        if (i == count - 1) {
            memcpy(out + at, parts[i], sizes[i]);
            return at + sizes[i];
        }
        uint64_t header, end;
        if (!findFinalBlock(parts[i], sizes[i], &header, &end)) return 0;
        const size_t bytes = static_cast<size_t>((end + 7) / 8);
        memcpy(out + at, parts[i], bytes);
        out[at + header / 8] = static_cast<uint8_t>(out[at + header / 8] & ~(1u << (header & 7)));
        // After the end-of-block code: an empty stored block, three zero bits
        // (not final, stored), zeros to the byte boundary, length 0 and its complement.
        uint64_t bit = static_cast<uint64_t>(at) * 8 + end;
        if (bit & 7) out[bit / 8] = static_cast<uint8_t>(out[bit / 8] & ((1u << (bit & 7)) - 1));
        const size_t next = static_cast<size_t>((bit + 3 + 7) / 8);
        for (size_t k = at + bytes; k < next; ++k) out[k] = 0;
        at = next;
        out[at++] = 0;
        out[at++] = 0;
        out[at++] = 0xFF;
        out[at++] = 0xFF;
    }
    return at;
}

Status pngDeflateRows(uint8_t* rows, size_t rowBytes, int32_t height, int bpp, int level, Buffer* stream,
                      size_t* streamSize) {
    DeflateJob job;
    job.rows = rows;
    job.stride = rowBytes + 1;
    job.bpp = bpp;
    job.level = level;
    const int64_t pixels = static_cast<int64_t>(rowBytes / static_cast<size_t>(bpp)) * height;
    Status st = runInBands(height, pixels, keepRowAbove, &job);
    if (st == ST_OK) st = runInBands(height, pixels, deflateBand, &job);
    if (st != ST_OK) return st;
    const int count = job.taken.load();
    std::sort(job.parts, job.parts + count, [](const Part& a, const Part& b) { return a.first < b.first; });
    const uint8_t* parts[MAX_PARTS];
    size_t sizes[MAX_PARTS];
    size_t total = 6;
    uLong adler = 1;
    for (int i = 0; i < count; ++i) {
        parts[i] = job.parts[i].data.get();
        sizes[i] = job.parts[i].size;
        total += sizes[i] + 5;
        adler = adler32_combine(adler, job.parts[i].adler, static_cast<z_off_t>(job.parts[i].bytes));
    }
    *stream = allocBuffer(total);
    if (!*stream) return ST_NO_MEMORY;
    uint8_t* out = stream->get();
    // Deflate with a 32 KiB window; the second byte states the level class
    // as zlib does (fastest, fast, default, best) and makes the pair a multiple of 31.
    static const uint8_t LEVEL_CLASS[4] = {0x01, 0x5E, 0x9C, 0xDA};
    out[0] = 0x78;
    out[1] = LEVEL_CLASS[level <= 1 ? 0 : level <= 5 ? 1 : level == 6 ? 2 : 3];
    const size_t body = spliceDeflateStreams(parts, sizes, count, out + 2);
    if (!body) return ST_CORRUPT;
    storeU32BE(out + 2 + body, static_cast<uint32_t>(adler));
    *streamSize = 2 + body + 4;
    return ST_OK;
}
