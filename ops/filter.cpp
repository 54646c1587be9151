// Neighbourhood filters over a ring of padded row copies: as many rows as the
// window is tall, each holding the picture row with (n - 1) / 2 repeated edge
// pixels on either side; rows above the top and below the bottom repeat the
// first and last row. Each output row loads one new row into the ring.
#include "filter.h"

#include <cmath>
#include <atomic>
#include <cstring>

#include "opsupport.h"


namespace {

constexpr int MAX_RADIUS = 6;  // 13 x 13

class RowRing {
public:
    bool init(const Image* src, int radius) {
        src_ = src;
        radius_ = radius;
        slots_ = 2 * radius + 1;
        bpp_ = src->bytesPerPixel;
        rowBytes_ = (static_cast<size_t>(src->width) + 2 * radius) * bpp_;
        data_ = allocOpArray<uint8_t>(rowBytes_ * slots_);
        return data_ != nullptr;
    }
    // Centre on row first.
    void start(int32_t first) {
        centre_ = first;
        for (int dy = -radius_; dy <= radius_; ++dy) load(centre_ + dy);
    }
    // Centre on the next row: the row radius + 1 below the old centre replaces
    // the one radius above it.
    void advance() {
        ++centre_;
        load(centre_ + radius_);
    }
    // Padded row centre + dy (|dy| <= radius); element 0 is the pixel at x = -radius.
    const uint8_t* row(int dy) const { return data_.get() + slotOf(centre_ + dy) * rowBytes_; }
    size_t rowBytes() const { return rowBytes_; }

private:
    size_t slotOf(int64_t logical) const {
        int64_t s = logical % slots_;
        return static_cast<size_t>(s < 0 ? s + slots_ : s);
    }
    void load(int64_t logical) {
        int64_t y = logical < 0 ? 0 : logical >= src_->height ? src_->height - 1 : logical;
        uint8_t* d = data_.get() + slotOf(logical) * rowBytes_;
        const uint8_t* s = imageRow(src_, static_cast<int32_t>(y));
        const size_t pad = static_cast<size_t>(radius_) * bpp_;
        const size_t body = static_cast<size_t>(src_->width) * bpp_;
        memcpy(d + pad, s, body);
        for (int i = 0; i < radius_; ++i) {
            memcpy(d + static_cast<size_t>(i) * bpp_, s, bpp_);
            memcpy(d + pad + body + static_cast<size_t>(i) * bpp_, s + body - bpp_, bpp_);
        }
    }

    const Image* src_ = nullptr;
    int radius_ = 0;
    int slots_ = 1;
    int bpp_ = 1;
    size_t rowBytes_ = 0;
    int64_t centre_ = 0;
    OpArray<uint8_t> data_;
};

inline uint8_t clampByte(int64_t v) {
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<uint8_t>(v);
}

// Common frame of every filter: checks, lifts the picture when byte-wise work
// needs it, allocates the result, runs body(work, result), restores the fourth
// bytes and hands the result over.
template <typename Body>
Status filterRun(Image* source, Image* destination, Body body) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    OwnedImage promoted;
    const Image* work = nullptr;
    Status st = promoteForBytes(source, &promoted, &work);
    if (st != ST_OK) return st;
    OwnedImage result;
    if (!createLike(work, work->kind, work->width, work->height, &result)) return ST_NO_MEMORY;
    st = body(work, static_cast<Image*>(&result));
    if (st != ST_OK) return st;
    int extra = channelOffsets(work->kind).x;
    if (extra >= 0) {
        for (int32_t y = 0; y < work->height; ++y) {
            const uint8_t* s = imageRow(work, y) + extra;
            uint8_t* d = imageRow(&result, y) + extra;
            for (int32_t x = 0; x < work->width; ++x) d[static_cast<size_t>(x) * 4] = s[static_cast<size_t>(x) * 4];
        }
    }
    commitResult(source, destination, &result);
    return ST_OK;
}

// The frame of the window filters: body(work, result, band) fills the rows of
// its band, the bands running side by side on large pictures.
template <typename Body>
Status bandedRun(Image* source, Image* destination, Body body) {
    return filterRun(source, destination, [&body](const Image* s, Image* d) {
        struct Job {
            Body* body;
            const Image* s;
            Image* d;
        } job{&body, s, d};
        return runInBands(s->height, int64_t(s->width) * s->height, [](void* p, Band b) {
            Job* j = static_cast<Job*>(p);
            return (*j->body)(j->s, j->d, b);
        }, &job);
    });
}

// Runs value(rows, k) for every byte k of every output row, rows[j] being the
// padded row dy = j - radius, offset so that rows[j][k + i * bpp] is the sample
// at horizontal offset i - radius.
template <typename Value>
Status windowRun(const Image* src, Image* dst, Band band, int radius, Value value) {
    RowRing ring;
    if (!ring.init(src, radius)) return ST_NO_MEMORY;
    const size_t bytes = static_cast<size_t>(src->width) * src->bytesPerPixel;
    const uint8_t* rows[2 * MAX_RADIUS + 1];
    ring.start(band.first);
    for (int32_t y = band.first; y < band.end; ++y) {
        if (y > band.first) ring.advance();
        for (int j = 0; j <= 2 * radius; ++j) rows[j] = ring.row(j - radius);
        uint8_t* d = imageRow(dst, y);
        for (size_t k = 0; k < bytes; ++k) d[k] = value(rows, k);
    }
    return ST_OK;
}

// A square kernel of side 3 or 5 with a divisor (division truncating toward zero) and a bias.
struct Kernel {
    int side;
    int32_t weights[25];
    int32_t divisor;
    int32_t bias;
};

Status convolve(const Image* src, Image* dst, Band band, const Kernel& kernel) {
    const int bpp = src->bytesPerPixel;
    const int radius = kernel.side / 2;
    // Only the nonzero weights are visited.
    struct Tap {
        int row;
        size_t offset;
        int64_t weight;
    } taps[25];
    int count = 0;
    for (int j = 0; j < kernel.side; ++j)
        for (int i = 0; i < kernel.side; ++i)
            if (int32_t w = kernel.weights[j * kernel.side + i]) taps[count++] = {j, static_cast<size_t>(i) * bpp, w};
    const int64_t divisor = kernel.divisor, bias = kernel.bias;
    return windowRun(src, dst, band, radius, [&](const uint8_t* const* rows, size_t k) {
        int64_t sum = 0;
        for (int t = 0; t < count; ++t) sum += taps[t].weight * rows[taps[t].row][k + taps[t].offset];
        return clampByte(sum / divisor + bias);
    });
}

const Kernel FIXED_KERNELS[KERNEL_COUNT] = {
    {3, {0, -1, 0, -1, 10, -1, 0, -1, 0}, 6, 0},
    {3, {-1, 0, -1, 0, 7, 0, -1, 0, -1}, 3, 0},
    {3, {0, -1, 0, -1, 5, -1, 0, -1, 0}, 1, 0},
    {3, {1, -2, 1, -2, 5, -2, 1, -2, 1}, 1, 0},
    {3, {0, 1, 0, 1, -4, 1, 0, 1, 0}, 1, 128},
    {3, {-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1, 128},
    {3, {1, -2, 1, -2, 4, -2, 1, -2, 1}, 1, 128},
    {3, {-1, 0, 0, 0, 0, 0, 0, 0, 1}, 1, 128},
    {3, {-1, -2, 0, -2, 0, 2, 0, 2, 1}, 1, 128},
};

const Kernel NOISE_REDUCTION = {5,
                                {0, 0, -1, 0, 0,
                                 0, 0, 3, 0, 0,
                                 -1, 3, 7, 3, -1,
                                 0, 0, 3, 0, 0,
                                 0, 0, -1, 0, 0},
                                15, 0};

// The weighted 3x3 filters see the centre C, the sum E of the four edge
// neighbours and the sum K of the four corners.
template <typename Formula>
Status weighted3(const Image* src, Image* dst, Band band, Formula formula) {
    const size_t bpp = src->bytesPerPixel;
    return windowRun(src, dst, band, 1, [&](const uint8_t* const* rows, size_t k) {
        const uint8_t* up = rows[0] + k;
        const uint8_t* mid = rows[1] + k;
        const uint8_t* down = rows[2] + k;
        int64_t centre = mid[bpp];
        int64_t edges = up[bpp] + mid[0] + mid[2 * bpp] + down[bpp];
        int64_t corners = up[0] + up[2 * bpp] + down[0] + down[2 * bpp];
        return clampByte(formula(centre, edges, corners));
    });
}

bool validSize(int size) {
    return size >= 3 && size <= 2 * MAX_RADIUS + 1 && (size & 1);
}

// ---- window statistics ------------------------------------------------------

Status meanBody(const Image* src, Image* dst, Band band, int size) {
    const int radius = size / 2;
    const int bpp = src->bytesPerPixel;
    RowRing ring;
    if (!ring.init(src, radius)) return ST_NO_MEMORY;
    const size_t padded = ring.rowBytes();
    OpArray<uint32_t> columns = allocOpArray<uint32_t>(padded);
    if (!columns) return ST_NO_MEMORY;
    const uint32_t area = static_cast<uint32_t>(size) * size;
    ring.start(band.first);
    for (int dy = -radius; dy <= radius; ++dy) {
        const uint8_t* r = ring.row(dy);
        for (size_t k = 0; k < padded; ++k) columns[k] += r[k];
    }
    for (int32_t y = band.first; y < band.end; ++y) {
        if (y > band.first) {
            // Running column sums: the row leaving the window goes out, the new one comes in.
            const uint8_t* out = ring.row(-radius);
            for (size_t k = 0; k < padded; ++k) columns[k] -= out[k];
            ring.advance();
            const uint8_t* in = ring.row(radius);
            for (size_t k = 0; k < padded; ++k) columns[k] += in[k];
        }
        uint8_t* d = imageRow(dst, y);
        for (int c = 0; c < bpp; ++c) {
            uint32_t sum = 0;
            for (int i = 0; i < size; ++i) sum += columns[static_cast<size_t>(i) * bpp + c];
            for (int32_t x = 0;; ++x) {
                d[static_cast<size_t>(x) * bpp + c] = static_cast<uint8_t>(sum / area);
                if (x + 1 >= src->width) break;
                sum += columns[static_cast<size_t>(x + size) * bpp + c];
                sum -= columns[static_cast<size_t>(x) * bpp + c];
            }
        }
    }
    return ST_OK;
}

// Gaussian weights of one direction in 1/2048, adding up to exactly 2048:
// sigma = sqrt(n^2 / (2 ln 255)), w(i) = exp(-i^2 / (2 sigma^2)).
void gaussianWeights(int size, uint32_t* weights) {
    const int radius = size / 2;
    const double sigma2 = static_cast<double>(size) * size / (2.0 * std::log(255.0));
    double g[2 * MAX_RADIUS + 1];
    double total = 0.0;
    for (int i = -radius; i <= radius; ++i) total += g[i + radius] = std::exp(-(i * i) / (2.0 * sigma2));
    uint32_t sum = 0;
    for (int i = 0; i < size; ++i) {
        weights[i] = static_cast<uint32_t>(g[i] / total * 2048.0 + 0.5);
        if (i != radius) sum += weights[i];
    }
    weights[radius] = 2048 - sum;
}

// The 2-D Gaussian is the product of two 1-D ones: a vertical pass into
// column sums, then a horizontal pass; the result is (sum) shr 22. The weights
// are symmetric, so each pair of samples at the same distance shares one
// multiply; with the window's size known to the compiler every inner loop is
// unrolled and the loops along the row vectorise.
template <int Size>
void gaussColumns(const RowRing& ring, const uint32_t* w, size_t n, uint32_t* col) {
    constexpr int R = Size / 2;
    const uint8_t* rows[Size];
    for (int j = 0; j < Size; ++j) rows[j] = ring.row(j - R);
    for (size_t k = 0; k < n; ++k) {
        uint32_t acc = w[R] * rows[R][k];
        for (int j = 0; j < R; ++j) acc += w[j] * (static_cast<uint32_t>(rows[j][k]) + rows[Size - 1 - j][k]);
        col[k] = acc;
    }
}

template <int Size>
void gaussAlong(const uint32_t* col, const uint32_t* w, size_t n, size_t bpp, uint8_t* d) {
    constexpr int R = Size / 2;
    for (size_t k = 0; k < n; ++k) {
        uint32_t acc = w[R] * col[k + R * bpp];
        for (int i = 0; i < R; ++i) acc += w[i] * (col[k + i * bpp] + col[k + (Size - 1 - i) * bpp]);
        d[k] = static_cast<uint8_t>(acc >> 22);
    }
}

// Gaussian rows of a band: target(y) gives where row y goes. Every source row
// is read through the ring's copies, so the target may be the row itself.
template <int Size, typename Target>
Status gaussRowsOf(const Image* src, Band band, Target target) {
    constexpr int radius = Size / 2;
    const int bpp = src->bytesPerPixel;
    const int extra = channelOffsets(src->kind).x;
    uint32_t weights[2 * MAX_RADIUS + 1];
    gaussianWeights(Size, weights);
    RowRing ring;
    if (!ring.init(src, radius)) return ST_NO_MEMORY;
    const size_t padded = ring.rowBytes();
    OpArray<uint32_t> columns = allocOpArray<uint32_t>(padded);
    if (!columns) return ST_NO_MEMORY;
    const size_t bytes = static_cast<size_t>(src->width) * bpp;
    ring.start(band.first);
    for (int32_t y = band.first; y < band.end; ++y) {
        if (y > band.first) ring.advance();
        gaussColumns<Size>(ring, weights, padded, columns.get());
        uint8_t* d = target(y);
        gaussAlong<Size>(columns.get(), weights, bytes, static_cast<size_t>(bpp), d);
        if (extra >= 0) {  // the fourth bytes pass through
            const uint8_t* original = ring.row(0) + static_cast<size_t>(radius) * bpp;
            for (size_t k = static_cast<size_t>(extra); k < bytes; k += 4) d[k] = original[k];
        }
    }
    return ST_OK;
}

template <typename Target>
Status gaussRows(const Image* src, Band band, int size, Target target) {
    switch (size) {
    case 3: return gaussRowsOf<3>(src, band, target);
    case 5: return gaussRowsOf<5>(src, band, target);
    case 7: return gaussRowsOf<7>(src, band, target);
    case 9: return gaussRowsOf<9>(src, band, target);
    case 11: return gaussRowsOf<11>(src, band, target);
    case 13: return gaussRowsOf<13>(src, band, target);
    default: return ST_OP_BAD_PARAMETER;
    }
}
static_assert(2 * MAX_RADIUS + 1 == 13, "a Gaussian kernel for every window size");

Status gaussBody(const Image* src, Image* dst, Band band, int size) {
    return gaussRows(src, band, size, [dst](int32_t y) { return imageRow(dst, y); });
}

// A window filter whose result replaces its picture writes the rows back into
// the picture it reads: no second picture is allocated (and cleared by the
// system, 40% of a Gaussian blur's time). Each band reads radius rows of its
// neighbours, so it keeps its own first and last radius rows aside until every
// band is done.
constexpr int MAX_IN_PLACE_BANDS = 16;

struct InPlaceBand {
    int32_t first = 0, end = 0;
    OpArray<uint8_t> aside;
};

struct InPlaceJob {
    Image* picture;
    int size;
    int radius;
    size_t bytes;
    InPlaceBand bands[MAX_IN_PLACE_BANDS];
    std::atomic<int> taken{0};
};

// Row y's place among the band's rows kept aside, or -1 for a row written in place.
inline int asideIndex(const InPlaceBand& b, int radius, int32_t y) {
    if (y < b.first + radius) return y - b.first;
    if (y >= b.end - radius) return radius + (y - (b.end - radius));
    return -1;
}

Status gaussInPlace(Image* picture, int size) {
    InPlaceJob job;
    job.picture = picture;
    job.size = size;
    job.radius = size / 2;
    job.bytes = static_cast<size_t>(picture->width) * picture->bytesPerPixel;
    Status st = runInBands(picture->height, int64_t(picture->width) * picture->height, [](void* p, Band band) {
        InPlaceJob* j = static_cast<InPlaceJob*>(p);
        const int slot = j->taken.fetch_add(1);
        if (slot >= MAX_IN_PLACE_BANDS) return ST_NO_MEMORY;
        InPlaceBand& b = j->bands[slot];
        b.first = band.first;
        b.end = band.end;
        b.aside = allocOpArray<uint8_t>(j->bytes * 2 * static_cast<size_t>(j->radius) + 1);
        if (!b.aside) return ST_NO_MEMORY;
        return gaussRows(j->picture, band, j->size, [j, &b](int32_t y) {
            const int k = asideIndex(b, j->radius, y);
            return k < 0 ? imageRow(j->picture, y) : b.aside.get() + j->bytes * static_cast<size_t>(k);
        });
    }, &job);
    const int count = job.taken.load() < MAX_IN_PLACE_BANDS ? job.taken.load() : MAX_IN_PLACE_BANDS;
    for (int i = 0; i < count && st == ST_OK; ++i) {
        const InPlaceBand& b = job.bands[i];
        for (int32_t y = b.first; y < b.end; ++y) {
            const int k = asideIndex(b, job.radius, y);
            if (k >= 0) memcpy(imageRow(picture, y), b.aside.get() + job.bytes * static_cast<size_t>(k), job.bytes);
        }
    }
    return st;
}

// Maximum or minimum, separably: over the column of the window, then along the row.
template <bool Max>
Status rankExtremeBody(const Image* src, Image* dst, Band band, int size) {
    const int radius = size / 2;
    const int bpp = src->bytesPerPixel;
    RowRing ring;
    if (!ring.init(src, radius)) return ST_NO_MEMORY;
    const size_t padded = ring.rowBytes();
    OpArray<uint8_t> columns = allocOpArray<uint8_t>(padded);
    if (!columns) return ST_NO_MEMORY;
    const size_t bytes = static_cast<size_t>(src->width) * bpp;
    ring.start(band.first);
    for (int32_t y = band.first; y < band.end; ++y) {
        if (y > band.first) ring.advance();
        memcpy(columns.get(), ring.row(-radius), padded);
        for (int dy = -radius + 1; dy <= radius; ++dy) {
            const uint8_t* r = ring.row(dy);
            for (size_t k = 0; k < padded; ++k) {
                uint8_t v = r[k];
                if (Max ? v > columns[k] : v < columns[k]) columns[k] = v;
            }
        }
        uint8_t* d = imageRow(dst, y);
        for (size_t k = 0; k < bytes; ++k) {
            uint8_t best = columns[k];
            for (int i = 1; i < size; ++i) {
                uint8_t v = columns[k + static_cast<size_t>(i) * bpp];
                if (Max ? v > best : v < best) best = v;
            }
            d[k] = best;
        }
    }
    return ST_OK;
}

// A histogram of byte values that follows one order statistic (the sample of
// rank `rank` in sorted order) as samples come and go.
struct RankHistogram {
    uint32_t counts[256];
    int value;      // current answer candidate
    uint32_t below; // samples smaller than value

    void clear() {
        memset(counts, 0, sizeof counts);
        value = 0;
        below = 0;
    }
    void add(uint8_t v) {
        ++counts[v];
        if (v < value) ++below;
    }
    void remove(uint8_t v) {
        --counts[v];
        if (v < value) --below;
    }
    // The value of the given rank among the samples held.
    uint8_t select(uint32_t rank) {
        if (below > rank) {
            do {
                --value;
                below -= counts[value];
            } while (below > rank);
        } else {
            while (below + counts[value] <= rank) {
                below += counts[value];
                ++value;
            }
        }
        return static_cast<uint8_t>(value);
    }
};

// Box median with a sliding histogram per byte position: moving one pixel to
// the right removes one window column and adds another, and the median walks
// from its last value.
Status medianBoxBody(const Image* src, Image* dst, Band band, int size) {
    const int radius = size / 2;
    const int bpp = src->bytesPerPixel;
    const int extra = channelOffsets(src->kind).x;
    RowRing ring;
    if (!ring.init(src, radius)) return ST_NO_MEMORY;
    const uint32_t rank = static_cast<uint32_t>(size) * size / 2;
    RankHistogram hist;
    const uint8_t* rows[2 * MAX_RADIUS + 1];
    ring.start(band.first);
    for (int32_t y = band.first; y < band.end; ++y) {
        if (y > band.first) ring.advance();
        for (int j = 0; j < size; ++j) rows[j] = ring.row(j - radius);
        uint8_t* d = imageRow(dst, y);
        for (int c = 0; c < bpp; ++c) {
            if (c == extra) continue;
            hist.clear();
            for (int j = 0; j < size; ++j)
                for (int i = 0; i < size; ++i) hist.add(rows[j][static_cast<size_t>(i) * bpp + c]);
            for (int32_t x = 0;; ++x) {
                d[static_cast<size_t>(x) * bpp + c] = hist.select(rank);
                if (x + 1 >= src->width) break;
                const size_t out = static_cast<size_t>(x) * bpp + c;
                const size_t in = static_cast<size_t>(x + size) * bpp + c;
                for (int j = 0; j < size; ++j) {
                    hist.remove(rows[j][out]);
                    hist.add(rows[j][in]);
                }
            }
        }
    }
    return ST_OK;
}

// Cross median: the centre row's n samples slide along in the histogram; the
// n - 1 other samples of the centre column are added for each pixel and taken
// out again.
Status medianCrossBody(const Image* src, Image* dst, Band band, int size) {
    const int radius = size / 2;
    const int bpp = src->bytesPerPixel;
    const int extra = channelOffsets(src->kind).x;
    RowRing ring;
    if (!ring.init(src, radius)) return ST_NO_MEMORY;
    const uint32_t rank = static_cast<uint32_t>(2 * size - 1) / 2;
    RankHistogram hist;
    const uint8_t* rows[2 * MAX_RADIUS + 1];
    ring.start(band.first);
    for (int32_t y = band.first; y < band.end; ++y) {
        if (y > band.first) ring.advance();
        for (int j = 0; j < size; ++j) rows[j] = ring.row(j - radius);
        const uint8_t* centre = rows[radius];
        uint8_t* d = imageRow(dst, y);
        for (int c = 0; c < bpp; ++c) {
            if (c == extra) continue;
            hist.clear();
            for (int i = 0; i < size; ++i) hist.add(centre[static_cast<size_t>(i) * bpp + c]);
            for (int32_t x = 0;; ++x) {
                const size_t mid = static_cast<size_t>(x + radius) * bpp + c;
                for (int j = 0; j < size; ++j)
                    if (j != radius) hist.add(rows[j][mid]);
                d[static_cast<size_t>(x) * bpp + c] = hist.select(rank);
                for (int j = 0; j < size; ++j)
                    if (j != radius) hist.remove(rows[j][mid]);
                if (x + 1 >= src->width) break;
                hist.remove(centre[static_cast<size_t>(x) * bpp + c]);
                hist.add(centre[static_cast<size_t>(x + size) * bpp + c]);
            }
        }
    }
    return ST_OK;
}

// ---- noise ------------------------------------------------------------------

// r in (0, 1]: a 15-bit value scaled by 1 / 32767, values below 1e-10 taken as 1.
inline double unitRandom(OpRandom& rng) {
    double r = rng.next() / 32767.0;
    return r < 1e-10 ? 1.0 : r;
}

inline uint8_t noiseByte(double v) {
    if (!(v > 0.0)) return 0;  // negative, zero or not a number
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v);
}

constexpr double TWO_PI = 6.28318530717958647692;
constexpr int POISSON_STEPS = 4096;  // far above the 255 steps the largest mean needs

uint8_t noisyValue(int kind, double v, double amplitude, OpRandom& rng) {
    double r = unitRandom(rng);
    switch (kind) {
    case NOISE_UNIFORM:
        return noiseByte(v + (r - 0.5) * amplitude);
    case NOISE_GAUSSIAN: {
        double r2 = unitRandom(rng);
        double m = std::sqrt(-2.0 * std::log(r));
        double theta = TWO_PI * r2;
        return noiseByte(v + amplitude * std::sqrt(v) * m * std::cos(theta) + 20.0 * m * std::sin(theta));
    }
    case NOISE_LAPLACIAN:
        if (r > 0.5) {
            if (1.0 - r <= 1e-5) return noiseByte(v + 255.0);
            return noiseByte(v - amplitude * std::log(2.0 * (1.0 - r)));
        }
        if (r <= 1e-5) return noiseByte(v - 255.0);
        return noiseByte(v + amplitude * std::log(2.0 * r));
    default: {  // Poisson
        double limit = std::exp(-amplitude * v);
        double p = r;
        int count = 0;
        while (p > limit && count < POISSON_STEPS) {
            p *= unitRandom(rng);
            ++count;
        }
        return noiseByte(count / amplitude);
    }
    }
}

bool validNoise(int kind, double amplitude) {
    static const double LIMITS[4][2] = {{0.1, 50.0}, {0.1, 10.0}, {0.1, 50.0}, {0.01, 1.0}};
    if (kind < NOISE_UNIFORM || kind > NOISE_POISSON || !std::isfinite(amplitude)) return false;
    const double eps = 1e-9;
    return amplitude >= LIMITS[kind][0] - eps && amplitude <= LIMITS[kind][1] + eps;
}

}  // namespace

Status applyKernel(Image* source, Image* destination, int kernel) {
    if (kernel < 0 || kernel >= KERNEL_COUNT) return ST_OP_BAD_PARAMETER;
    return bandedRun(source, destination,
                     [kernel](const Image* s, Image* d, Band b) { return convolve(s, d, b, FIXED_KERNELS[kernel]); });
}

Status softenImage(Image* source, Image* destination, int strength) {
    if (strength < 1 || strength > 100) return ST_OP_BAD_PARAMETER;
    const int64_t f = (317500 - 3175 * strength) / 100;
    return bandedRun(source, destination, [f](const Image* s, Image* d, Band b) {
        return weighted3(s, d, b, [f](int64_t c, int64_t e, int64_t k) { return (100 * (e + k) + (f + 25) * c) / (f + 825); });
    });
}

Status blurImage(Image* source, Image* destination, int strength) {
    if (strength < 1 || strength > 100) return ST_OP_BAD_PARAMETER;
    const int64_t f = (317500 - 3175 * strength) / 100;
    return bandedRun(source, destination, [f](const Image* s, Image* d, Band b) {
        return weighted3(s, d, b, [f](int64_t c, int64_t e, int64_t k) { return (100 * k + 200 * e + (f + 25) * c) / (f + 1225); });
    });
}

Status enhanceEdges(Image* source, Image* destination, int strength) {
    if (strength < 1 || strength > 100) return ST_OP_BAD_PARAMETER;
    const int64_t f = (5500 - 55 * strength) / 100;
    return bandedRun(source, destination, [f](const Image* s, Image* d, Band b) {
        return weighted3(s, d, b, [f](int64_t c, int64_t e, int64_t k) { return ((f + 9) * c - (e + k)) / (f + 1); });
    });
}

// At 100 the weights would sum to zero and turn flat areas black: 100 is the
// strongest sharpening that keeps them, that of 99.
Status sharpenImage(Image* source, Image* destination, int strength) {
    if (strength < 1 || strength > 100) return ST_OP_BAD_PARAMETER;
    const int64_t a = strength < 100 ? strength : 99, e = 100 - a;
    return bandedRun(source, destination, [a, e](const Image* s, Image* d, Band b) {
        return weighted3(s, d, b, [a, e](int64_t c, int64_t edges, int64_t corners) {
            return (100 * c - a * (edges + corners) / 8) / e;
        });
    });
}

Status meanFilter(Image* source, Image* destination, int size) {
    if (!validSize(size)) return ST_OP_BAD_PARAMETER;
    return bandedRun(source, destination, [size](const Image* s, Image* d, Band b) { return meanBody(s, d, b, size); });
}

Status gaussianBlur(Image* source, Image* destination, int size) {
    if (!validSize(size)) return ST_OP_BAD_PARAMETER;
    if ((!destination || destination == source) && opImageValid(source)) {
        OwnedImage promoted;
        const Image* work = nullptr;
        Status st = promoteForBytes(source, &promoted, &work);
        if (st != ST_OK) return st;
        if (work == source) return gaussInPlace(source, size);
        st = gaussInPlace(&promoted, size);
        if (st == ST_OK) commitResult(source, destination, &promoted);
        return st;
    }
    return bandedRun(source, destination, [size](const Image* s, Image* d, Band b) { return gaussBody(s, d, b, size); });
}

Status maximumFilter(Image* source, Image* destination, int size) {
    if (!validSize(size)) return ST_OP_BAD_PARAMETER;
    return bandedRun(source, destination, [size](const Image* s, Image* d, Band b) { return rankExtremeBody<true>(s, d, b, size); });
}

Status minimumFilter(Image* source, Image* destination, int size) {
    if (!validSize(size)) return ST_OP_BAD_PARAMETER;
    return bandedRun(source, destination, [size](const Image* s, Image* d, Band b) { return rankExtremeBody<false>(s, d, b, size); });
}

Status medianBox(Image* source, Image* destination, int size) {
    if (!validSize(size)) return ST_OP_BAD_PARAMETER;
    return bandedRun(source, destination, [size](const Image* s, Image* d, Band b) { return medianBoxBody(s, d, b, size); });
}

Status medianCross(Image* source, Image* destination, int size) {
    if (!validSize(size)) return ST_OP_BAD_PARAMETER;
    return bandedRun(source, destination, [size](const Image* s, Image* d, Band b) { return medianCrossBody(s, d, b, size); });
}

Status reduceNoise(Image* source, Image* destination) {
    return bandedRun(source, destination, [](const Image* s, Image* d, Band b) { return convolve(s, d, b, NOISE_REDUCTION); });
}

Status userFilter(Image* source, Image* destination, const UserKernel& kernel) {
    if (kernel.divisor == 0) return ST_OP_BAD_PARAMETER;
    Kernel k;
    k.side = 5;
    memcpy(k.weights, kernel.weights, sizeof k.weights);
    k.divisor = kernel.divisor;
    k.bias = kernel.bias;
    return bandedRun(source, destination, [&k](const Image* s, Image* d, Band b) { return convolve(s, d, b, k); });
}

Status addNoise(Image* source, Image* destination, int kind, double amplitude) {
    if (!validNoise(kind, amplitude)) return ST_OP_BAD_PARAMETER;
    return filterRun(source, destination, [kind, amplitude](const Image* s, Image* d) {
        OpRandom rng = operationRandom();
        const int bpp = s->bytesPerPixel;
        const int extra = channelOffsets(s->kind).x;
        for (int32_t y = 0; y < s->height; ++y) {
            const uint8_t* in = imageRow(s, y);
            uint8_t* out = imageRow(d, y);
            for (int32_t x = 0; x < s->width; ++x) {
                for (int c = 0; c < bpp; ++c) {
                    size_t k = static_cast<size_t>(x) * bpp + c;
                    out[k] = c == extra ? in[k] : noisyValue(kind, in[k], amplitude, rng);
                }
            }
        }
        return ST_OK;
    });
}

// ---- batch table entries ----------------------------------------------------

Status opDetail(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_DETAIL); }
Status opFocus(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_FOCUS); }
// The batch entry has no parameter: the value dialog's default strength.
Status opEdgeEnhance(Image* image, const OpInstance&) { return enhanceEdges(image, nullptr, 50); }
Status opRestoreFocus(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_RESTORE); }
Status opEdgeLight(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_EDGE_LIGHT); }
Status opEdgeMedium(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_EDGE_MEDIUM); }
Status opEdgeHeavy(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_EDGE_HEAVY); }
Status opEmboss(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_EMBOSS); }
Status opEmbossMore(Image* image, const OpInstance&) { return applyKernel(image, nullptr, KERNEL_EMBOSS_MORE); }
Status opAverage(Image* image, const OpInstance& op) { return meanFilter(image, nullptr, op.ints[0]); }
Status opSoften(Image* image, const OpInstance& op) { return softenImage(image, nullptr, op.ints[0]); }
Status opBlur(Image* image, const OpInstance& op) { return blurImage(image, nullptr, op.ints[0]); }
Status opGauss(Image* image, const OpInstance& op) { return gaussianBlur(image, nullptr, op.ints[0]); }
Status opMaximum(Image* image, const OpInstance& op) { return maximumFilter(image, nullptr, op.ints[0]); }
Status opMinimum(Image* image, const OpInstance& op) { return minimumFilter(image, nullptr, op.ints[0]); }
Status opMedianBox(Image* image, const OpInstance& op) { return medianBox(image, nullptr, op.ints[0]); }
Status opMedianCross(Image* image, const OpInstance& op) { return medianCross(image, nullptr, op.ints[0]); }
Status opSharpen(Image* image, const OpInstance& op) { return sharpenImage(image, nullptr, op.ints[0]); }
Status opNoiseReduce(Image* image, const OpInstance&) { return reduceNoise(image, nullptr); }
Status opNoiseUniform(Image* image, const OpInstance& op) { return addNoise(image, nullptr, NOISE_UNIFORM, op.reals[0]); }
Status opNoiseGaussian(Image* image, const OpInstance& op) { return addNoise(image, nullptr, NOISE_GAUSSIAN, op.reals[0]); }
Status opNoiseLaplacian(Image* image, const OpInstance& op) { return addNoise(image, nullptr, NOISE_LAPLACIAN, op.reals[0]); }
Status opNoisePoisson(Image* image, const OpInstance& op) { return addNoise(image, nullptr, NOISE_POISSON, op.reals[0]); }
