// Effects. Pixel-moving effects copy whole pixels (all their bytes); mosaic,
// spiral and the interpolating de-interlace compute each byte position.
#include "effects.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "opsupport.h"


namespace {

constexpr double PI = 3.14159265358979323846;
// Up to this oil radius one sliding histogram per row is cheaper than column histograms.
constexpr int OIL_SLIDING_RADIUS = 5;

// Common frame: checks, lifts the picture when the effect averages bytes,
// allocates a black result of the same size and kind, runs body and hands the
// result over.
template <typename Body>
Status effectRun(Image* source, Image* destination, bool averages, Body body) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    OwnedImage promoted;
    const Image* work = source;
    if (averages) {
        Status st = promoteForBytes(source, &promoted, &work);
        if (st != ST_OK) return st;
    }
    OwnedImage result;
    if (!createLike(work, work->kind, work->width, work->height, &result)) return ST_NO_MEMORY;
    Status st = body(work, static_cast<Image*>(&result));
    if (st != ST_OK) return st;
    commitResult(source, destination, &result);
    return ST_OK;
}

inline const uint8_t* pixelAt(const Image* image, int32_t x, int32_t y) {
    return imageRow(image, y) + static_cast<size_t>(x) * image->bytesPerPixel;
}

inline bool inside(const Image* image, int64_t x, int64_t y) {
    return x >= 0 && y >= 0 && x < image->width && y < image->height;
}

// Result pixel (x, y) = source (x + rowOffset[y], y + columnOffset[x]), black outside.
void displace(const Image* src, Image* dst, const int32_t* columnOffset, const int32_t* rowOffset) {
    const int bpp = src->bytesPerPixel;
    for (int32_t y = 0; y < src->height; ++y) {
        uint8_t* d = imageRow(dst, y);
        for (int32_t x = 0; x < src->width; ++x, d += bpp) {
            int64_t sx = static_cast<int64_t>(x) + rowOffset[y];
            int64_t sy = static_cast<int64_t>(y) + columnOffset[x];
            if (inside(src, sx, sy)) memcpy(d, pixelAt(src, static_cast<int32_t>(sx), static_cast<int32_t>(sy)), bpp);
        }
    }
}

// Runs of offsets -32..31, each 8..71 entries long.
void fillRuns(OpRandom& rng, int32_t* offsets, int32_t count) {
    int32_t i = 0;
    while (i < count) {
        int32_t offset = (rng.next() & 63) - 32;
        int32_t length = (rng.next() & 63) + 8;
        for (int32_t k = 0; k < length && i < count; ++k) offsets[i++] = offset;
    }
}

// A random walk of steps +1 / -1 starting from 0.
void fillWalk(OpRandom& rng, int32_t* offsets, int32_t count) {
    int32_t v = 0;
    for (int32_t i = 0; i < count; ++i) {
        v += rng.next() % 256 > 127 ? 1 : -1;
        offsets[i] = v;
    }
}

template <typename Fill>
Status offsetEffect(Image* source, Image* destination, Fill fill) {
    return effectRun(source, destination, false, [&fill](const Image* s, Image* d) {
        OpArray<int32_t> columns = allocOpArray<int32_t>(s->width);
        OpArray<int32_t> rows = allocOpArray<int32_t>(s->height);
        if (!columns || !rows) return ST_NO_MEMORY;
        OpRandom rng = operationRandom();
        fill(rng, columns.get(), s->width);
        fill(rng, rows.get(), s->height);
        displace(s, d, columns.get(), rows.get());
        return ST_OK;
    });
}

// Counts of byte values in a sliding window that also know, in constant time,
// the largest count and the values holding it (one list of values per count).
class ModeHistogram {
public:
    static constexpr int MAX_COUNT = 33 * 33;

    void clear() {
        memset(count_, 0, sizeof count_);
        for (int c = 0; c <= MAX_COUNT; ++c) head_[c] = -1;
        best_ = 0;
    }
    void add(uint8_t v) {
        int c = count_[v];
        if (c > 0) unlink(v, c);
        count_[v] = static_cast<uint16_t>(c + 1);
        link(v, c + 1);
        if (c + 1 > best_) best_ = c + 1;
    }
    void remove(uint8_t v) {
        int c = count_[v];
        unlink(v, c);
        count_[v] = static_cast<uint16_t>(c - 1);
        if (c > 1) link(v, c - 1);
        if (c == best_ && head_[c] < 0) best_ = c - 1;
    }
    int best() const { return best_; }
    // The only value holding the largest count, or -1 when several tie.
    int soleBest() const {
        int v = head_[best_];
        return next_[v] < 0 ? v : -1;
    }
    // Calls visit(v) for every value holding the largest count.
    template <typename Visit>
    void forEachBest(Visit visit) const {
        for (int v = head_[best_]; v >= 0; v = next_[v]) visit(static_cast<uint8_t>(v));
    }

private:
    void link(uint8_t v, int c) {
        prev_[v] = -1;
        next_[v] = head_[c];
        if (head_[c] >= 0) prev_[head_[c]] = v;
        head_[c] = v;
    }
    void unlink(uint8_t v, int c) {
        if (prev_[v] >= 0) next_[prev_[v]] = next_[v];
        else head_[c] = next_[v];
        if (next_[v] >= 0) prev_[next_[v]] = prev_[v];
    }

    uint16_t count_[256];
    int16_t head_[MAX_COUNT + 1];
    int16_t next_[256];
    int16_t prev_[256];
    int best_ = 0;
};

// Oil painting over windows cut to the picture, per byte position. On equal
// counts, the value that reached the top count first in scan order wins. A
// value reaches the top count at its last occurrence in the window, so the
// winner is the tied value whose last occurrence comes first: scanning the
// window backwards, it is the tied value met last, and the scan stops as soon
// as every other tied value has been met.
uint8_t oilTieBreak(const Image* src, int c, int32_t x0, int32_t x1, int32_t y0, int32_t y1, const uint8_t* candidates,
                    int count, bool* tied) {
    const int bpp = src->bytesPerPixel;
    for (int i = 0; i < count; ++i) tied[candidates[i]] = true;
    int remaining = count;
    for (int32_t yy = y1; yy >= y0 && remaining > 1; --yy) {
        const uint8_t* r = imageRow(src, yy) + c;
        for (int32_t xx = x1; xx >= x0; --xx) {
            uint8_t s = r[static_cast<size_t>(xx) * bpp];
            if (tied[s]) {
                tied[s] = false;
                if (--remaining == 1) break;
            }
        }
    }
    uint8_t winner = candidates[0];
    for (int i = 0; i < count; ++i) {
        if (tied[candidates[i]]) winner = candidates[i];
        tied[candidates[i]] = false;
    }
    return winner;
}

// Small windows: one histogram slides along the row, one window column out
// and one in per pixel, and keeps its largest count up to date.
Status oilBodySliding(const Image* src, Image* dst, int radius) {
    const int bpp = src->bytesPerPixel;
    const int32_t w = src->width, h = src->height;
    ModeHistogram* hist = new (std::nothrow) ModeHistogram;
    if (!hist) return ST_NO_MEMORY;
    std::unique_ptr<ModeHistogram> guard(hist);
    bool tied[256] = {};
    uint8_t candidates[256];
    for (int32_t y = 0; y < h; ++y) {
        const int32_t y0 = y - radius < 0 ? 0 : y - radius;
        const int32_t y1 = y + radius >= h ? h - 1 : y + radius;
        uint8_t* d = imageRow(dst, y);
        for (int c = 0; c < bpp; ++c) {
            hist->clear();
            for (int32_t yy = y0; yy <= y1; ++yy) {
                const uint8_t* r = imageRow(src, yy) + c;
                for (int32_t xx = 0; xx <= radius && xx < w; ++xx) hist->add(r[static_cast<size_t>(xx) * bpp]);
            }
            for (int32_t x = 0;; ++x) {
                int v = hist->soleBest();
                if (v < 0) {
                    int count = 0;
                    hist->forEachBest([&](uint8_t t) { candidates[count++] = t; });
                    v = oilTieBreak(src, c, x - radius < 0 ? 0 : x - radius, x + radius >= w ? w - 1 : x + radius, y0, y1,
                                    candidates, count, tied);
                }
                d[static_cast<size_t>(x) * bpp + c] = static_cast<uint8_t>(v);
                if (x + 1 >= w) break;
                const int32_t out = x - radius, in = x + 1 + radius;
                for (int32_t yy = y0; yy <= y1; ++yy) {
                    const uint8_t* r = imageRow(src, yy) + c;
                    if (out >= 0) hist->remove(r[static_cast<size_t>(out) * bpp]);
                    if (in < w) hist->add(r[static_cast<size_t>(in) * bpp]);
                }
            }
        }
    }
    return ST_OK;
}

// Large windows: a histogram per picture column over the window's rows
// (moving down a row takes one sample out of each and puts one in), and the
// window's histogram slides along the row by adding one column histogram and
// taking one away; the largest count and its value come from whole-histogram
// passes that the compiler turns into vector code.
Status oilBodyColumns(const Image* src, Image* dst, int radius) {
    const int bpp = src->bytesPerPixel;
    const int32_t w = src->width, h = src->height;
    OpArray<uint16_t> columns = allocOpArray<uint16_t>(static_cast<size_t>(w) * 256);
    if (!columns) return ST_NO_MEMORY;
    uint16_t window[256];
    bool tied[256] = {};
    uint8_t candidates[256];
    for (int c = 0; c < bpp; ++c) {
        memset(columns.get(), 0, static_cast<size_t>(w) * 256 * sizeof(uint16_t));
        auto addRow = [&](int32_t yy, int delta) {
            const uint8_t* r = imageRow(src, yy) + c;
            for (int32_t x = 0; x < w; ++x) columns[static_cast<size_t>(x) * 256 + r[static_cast<size_t>(x) * bpp]] += delta;
        };
        for (int32_t yy = 0; yy <= radius && yy < h; ++yy) addRow(yy, 1);
        for (int32_t y = 0; y < h; ++y) {
            if (y > 0) {
                if (y - radius - 1 >= 0) addRow(y - radius - 1, -1);
                if (y + radius < h) addRow(y + radius, 1);
            }
            const int32_t y0 = y - radius < 0 ? 0 : y - radius;
            const int32_t y1 = y + radius >= h ? h - 1 : y + radius;
            memset(window, 0, sizeof window);
            for (int32_t xx = 0; xx <= radius && xx < w; ++xx) {
                const uint16_t* col = &columns[static_cast<size_t>(xx) * 256];
                for (int v = 0; v < 256; ++v) window[v] = static_cast<uint16_t>(window[v] + col[v]);
            }
            uint8_t* d = imageRow(dst, y);
            for (int32_t x = 0;; ++x) {
                uint16_t top = 0;
                for (int v = 0; v < 256; ++v) top = window[v] > top ? window[v] : top;
                uint32_t holders = 0, valueSum = 0;
                for (int v = 0; v < 256; ++v) {
                    uint32_t eq = window[v] == top;
                    holders += eq;
                    valueSum += eq * static_cast<uint32_t>(v);
                }
                uint8_t value;
                if (holders == 1) {
                    value = static_cast<uint8_t>(valueSum);
                } else {
                    int count = 0;
                    for (int v = 0; v < 256; ++v) {  // without branches: ties are frequent
                        candidates[count] = static_cast<uint8_t>(v);
                        count += window[v] == top;
                    }
                    value = oilTieBreak(src, c, x - radius < 0 ? 0 : x - radius, x + radius >= w ? w - 1 : x + radius, y0,
                                        y1, candidates, count, tied);
                }
                d[static_cast<size_t>(x) * bpp + c] = value;
                if (x + 1 >= w) break;
                if (x + 1 + radius < w) {
                    const uint16_t* col = &columns[static_cast<size_t>(x + 1 + radius) * 256];
                    for (int v = 0; v < 256; ++v) window[v] = static_cast<uint16_t>(window[v] + col[v]);
                }
                if (x - radius >= 0) {
                    const uint16_t* col = &columns[static_cast<size_t>(x - radius) * 256];
                    for (int v = 0; v < 256; ++v) window[v] = static_cast<uint16_t>(window[v] - col[v]);
                }
            }
        }
    }
    return ST_OK;
}

Status oilBody(const Image* src, Image* dst, int radius) {
    return radius <= OIL_SLIDING_RADIUS ? oilBodySliding(src, dst, radius) : oilBodyColumns(src, dst, radius);
}

inline uint8_t roundByte(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<uint8_t>(v + 0.5 >= 255.0 ? 255.0 : v + 0.5);
}

}  // namespace

Status sliceImage(Image* source, Image* destination) {
    return offsetEffect(source, destination, fillRuns);
}

Status shearImage(Image* source, Image* destination) {
    return offsetEffect(source, destination, fillWalk);
}

Status spreadImage(Image* source, Image* destination, int distance) {
    if (distance < 1 || distance > 32) return ST_OP_BAD_PARAMETER;
    return effectRun(source, destination, false, [distance](const Image* s, Image* d) {
        OpRandom rng = operationRandom();
        const int bpp = s->bytesPerPixel;
        const int half = distance / 2;
        for (int32_t y = 0; y < s->height; ++y) {
            uint8_t* out = imageRow(d, y);
            for (int32_t x = 0; x < s->width; ++x, out += bpp) {
                int64_t sx = static_cast<int64_t>(x) + rng.next() % distance - half;
                int64_t sy = static_cast<int64_t>(y) + rng.next() % distance - half;
                if (inside(s, sx, sy)) memcpy(out, pixelAt(s, static_cast<int32_t>(sx), static_cast<int32_t>(sy)), bpp);
            }
        }
        return ST_OK;
    });
}

Status randomTiles(Image* source, Image* destination, int size) {
    if (size < 1 || size > 64) return ST_OP_BAD_PARAMETER;
    return effectRun(source, destination, false, [size](const Image* s, Image* d) {
        OpRandom rng = operationRandom();
        const int bpp = s->bytesPerPixel;
        for (int32_t ty = 0; ty < s->height - size; ty += size) {
            for (int32_t tx = 0; tx < s->width - size; tx += size) {
                int32_t dx = (rng.next() & 31) - 16;
                int32_t dy = (rng.next() & 31) - 16;
                for (int32_t j = 0; j < size; ++j) {
                    int64_t ty2 = static_cast<int64_t>(ty) + j + dy;
                    if (ty2 < 0 || ty2 >= s->height) continue;
                    for (int32_t i = 0; i < size; ++i) {
                        int64_t tx2 = static_cast<int64_t>(tx) + i + dx;
                        if (tx2 < 0 || tx2 >= s->width) continue;
                        memcpy(imageRow(d, static_cast<int32_t>(ty2)) + static_cast<size_t>(tx2) * bpp,
                               pixelAt(s, tx + i, ty + j), bpp);
                    }
                }
            }
        }
        return ST_OK;
    });
}

Status mosaicImage(Image* source, Image* destination, int size) {
    if (size < 1 || size > 64) return ST_OP_BAD_PARAMETER;
    return effectRun(source, destination, true, [size](const Image* s, Image* d) {
        const int bpp = s->bytesPerPixel;
        // A block reaches size pixels further, its last row and column shared
        // with the next block, which is written later and wins there.
        for (int32_t by = 0; by < s->height; by += size) {
            const int32_t ey = by + size < s->height - 1 ? by + size : s->height - 1;
            for (int32_t bx = 0; bx < s->width; bx += size) {
                const int32_t ex = bx + size < s->width - 1 ? bx + size : s->width - 1;
                uint32_t sums[4] = {0, 0, 0, 0};
                for (int32_t y = by; y <= ey; ++y) {
                    const uint8_t* p = pixelAt(s, bx, y);
                    for (int32_t x = bx; x <= ex; ++x)
                        for (int c = 0; c < bpp; ++c) sums[c] += *p++;
                }
                const uint32_t n = static_cast<uint32_t>(ey - by + 1) * static_cast<uint32_t>(ex - bx + 1);
                uint8_t value[4];
                for (int c = 0; c < bpp; ++c) value[c] = static_cast<uint8_t>(sums[c] / n);
                for (int32_t y = by; y <= ey; ++y) {
                    uint8_t* q = imageRow(d, y) + static_cast<size_t>(bx) * bpp;
                    for (int32_t x = bx; x <= ex; ++x, q += bpp) memcpy(q, value, bpp);
                }
            }
        }
        return ST_OK;
    });
}

Status oilPaint(Image* source, Image* destination, int radius) {
    if (radius < 1 || radius > 16) return ST_OP_BAD_PARAMETER;
    return effectRun(source, destination, false, [radius](const Image* s, Image* d) { return oilBody(s, d, radius); });
}

Status spiralImage(Image* source, Image* destination, int angle) {
    if (angle < -360 || angle > 360) return ST_OP_BAD_PARAMETER;
    return effectRun(source, destination, true, [angle](const Image* s, Image* d) {
        const int bpp = s->bytesPerPixel;
        const int32_t w = s->width, h = s->height;
        const double cx = w * 0.5, cy = h * 0.5;
        const double radius = cx > cy ? cx : cy;
        // Integer scale factors that make the distances of an oblong picture round.
        const double fx = h > w ? static_cast<double>(h / w) : 1.0;
        const double fy = h > w ? 1.0 : static_cast<double>(w / h);
        const double turn = angle * PI / 180.0;
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* own = imageRow(s, y);
            uint8_t* out = imageRow(d, y);
            memcpy(out, own, static_cast<size_t>(w) * bpp);
            const double dy = (y - cy) * fy;
            for (int32_t x = 0; x < w; ++x) {
                const double dx = (x - cx) * fx;
                const double dist = std::sqrt(dx * dx + dy * dy);
                if (dist >= radius) continue;
                const double k = (1.0 - dist / radius) * (1.0 - dist / radius);
                const double phi = turn * k;
                const double c = std::cos(phi), sn = std::sin(phi);
                const double px = cx + (dx * c - dy * sn) / fx;
                const double py = cy + (dx * sn + dy * c) / fy;
                const double ix = std::floor(px), iy = std::floor(py);
                if (ix < 0 || iy < 0 || ix > w - 2 || iy > h - 2) continue;
                const double ax = px - ix, ay = py - iy;
                const uint8_t* p00 = pixelAt(s, static_cast<int32_t>(ix), static_cast<int32_t>(iy));
                const uint8_t* p01 = p00 + s->stride;
                for (int b = 0; b < bpp; ++b) {
                    double top = p00[b] + (p00[bpp + b] - p00[b]) * ax;
                    double bottom = p01[b] + (p01[bpp + b] - p01[b]) * ax;
                    out[static_cast<size_t>(x) * bpp + b] = roundByte(top + (bottom - top) * ay);
                }
            }
        }
        return ST_OK;
    });
}

// Inside an ellipse centred on the picture (of half-axes cx a / 100 and
// cy a / 100), the picture seen through a spherical cap: a point at normalised
// distance rho from the centre shows the source point at distance
// rho (1 - sqrt(1 - rho^2) / 2), twice enlarged at the centre and meeting the
// untouched surroundings at the rim.
Status lensImage(Image* source, Image* destination, int strength) {
    if (strength < 1 || strength > 100) return ST_OP_BAD_PARAMETER;
    return effectRun(source, destination, false, [strength](const Image* s, Image* d) {
        const int bpp = s->bytesPerPixel;
        const int32_t w = s->width, h = s->height;
        const double cx = w * 0.5, cy = h * 0.5;
        const double scale = 100.0 / strength;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* out = imageRow(d, y);
            memcpy(out, imageRow(s, y), static_cast<size_t>(w) * bpp);
            const double v = (y - cy) * scale / cy;
            for (int32_t x = 0; x < w; ++x) {
                const double u = (x - cx) * scale / cx;
                const double rho2 = u * u + v * v;
                if (rho2 >= 1.0) continue;
                const double factor = 1.0 - 0.5 * std::sqrt(1.0 - rho2);
                int64_t sx = static_cast<int64_t>(std::floor(cx + (x - cx) * factor + 0.5));
                int64_t sy = static_cast<int64_t>(std::floor(cy + (y - cy) * factor + 0.5));
                if (sx < 0) sx = 0;
                if (sy < 0) sy = 0;
                if (sx >= w) sx = w - 1;
                if (sy >= h) sy = h - 1;
                memcpy(out + static_cast<size_t>(x) * bpp, pixelAt(s, static_cast<int32_t>(sx), static_cast<int32_t>(sy)), bpp);
            }
        }
        return ST_OK;
    });
}

Status waveImage(Image* source, Image* destination, double length, double amplitude, double phase) {
    if (!std::isfinite(length) || !std::isfinite(amplitude) || !std::isfinite(phase) || length < 1.0 ||
        std::fabs(amplitude) > 1e6 || std::fabs(phase) > 1e6)
        return ST_OP_BAD_PARAMETER;
    return effectRun(source, destination, false, [=](const Image* s, Image* d) {
        const int bpp = s->bytesPerPixel;
        const int32_t w = s->width, h = s->height;
        const double cx = w * 0.5, cy = h * 0.5;
        const double fx = h >= w ? static_cast<double>(h) / w : 1.0;
        const double fy = h >= w ? 1.0 : static_cast<double>(w) / h;
        const double start = phase * 0.0174532925199433;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* out = imageRow(d, y);
            const double dy = (y - cy) * fy;
            for (int32_t x = 0; x < w; ++x, out += bpp) {
                const double dx = (x - cx) * fx;
                const double r = std::sqrt(dx * dx + dy * dy);
                const double shift = amplitude * std::sin(start + r / length * 2.0 * PI);
                const double sx = std::floor(cx + (dx + shift) / fx + 0.5);
                const double sy = std::floor(cy + (dy + shift) / fy + 0.5);
                if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
                memcpy(out, pixelAt(s, static_cast<int32_t>(sx), static_cast<int32_t>(sy)), bpp);
            }
        }
        return ST_OK;
    });
}

Status deinterlace(Image* source, Image* destination, int keptParity, int fill) {
    if ((keptParity != 0 && keptParity != 1) || (fill != DEINTERLACE_DUPLICATE && fill != DEINTERLACE_INTERPOLATE))
        return ST_OP_BAD_PARAMETER;
    const bool interpolate = fill == DEINTERLACE_INTERPOLATE;
    return effectRun(source, destination, interpolate, [keptParity, interpolate](const Image* s, Image* d) {
        const int32_t h = s->height;
        const size_t bytes = static_cast<size_t>(s->width) * s->bytesPerPixel;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* out = imageRow(d, y);
            if (interpolate) {
                if ((y & 1) == keptParity || y == 0 || y == h - 1) {
                    memcpy(out, imageRow(s, y), bytes);
                } else {
                    const uint8_t* a = imageRow(s, y - 1);
                    const uint8_t* b = imageRow(s, y + 1);
                    for (size_t k = 0; k < bytes; ++k) out[k] = static_cast<uint8_t>((a[k] + b[k]) >> 1);
                }
            } else {
                // Rows 2i and 2i + 1 show row 2i + parity; past the last row
                // of that parity the last one is repeated, and a picture
                // without any keeps its own row.
                int32_t from = (y & ~1) + keptParity;
                if (from >= h) from -= 2;
                if (from < 0) from = y;
                memcpy(out, imageRow(s, from), bytes);
            }
        }
        return ST_OK;
    });
}

Status opMosaic(Image* image, const OpInstance& op) { return mosaicImage(image, nullptr, op.ints[0]); }
Status opSlice(Image* image, const OpInstance&) { return sliceImage(image, nullptr); }
Status opTiles(Image* image, const OpInstance& op) { return randomTiles(image, nullptr, op.ints[0]); }
Status opShear(Image* image, const OpInstance&) { return shearImage(image, nullptr); }
Status opOil(Image* image, const OpInstance& op) { return oilPaint(image, nullptr, op.ints[0]); }
Status opSwirl(Image* image, const OpInstance& op) { return spiralImage(image, nullptr, op.ints[0]); }
Status opSpread(Image* image, const OpInstance& op) { return spreadImage(image, nullptr, op.ints[0]); }
Status opLens(Image* image, const OpInstance& op) { return lensImage(image, nullptr, op.ints[0]); }
// Length, phase and amplitude in the order of the entry's parameters.
Status opWaves(Image* image, const OpInstance& op) {
    return waveImage(image, nullptr, op.reals[0], op.reals[2], op.reals[1]);
}
