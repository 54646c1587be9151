// Geometry: every result pixel is a whole source pixel (all its bytes), except
// for area resampling, which averages each byte position.
#include "geometry.h"

#include <cmath>
#include <cstring>

#include "codec.h"
#include "opsupport.h"


namespace {

// Runs the common frame of a geometry operation: checks the source, lets fill
// build the result of the given size, and hands it over.
template <typename Fill>
Status geometryRun(Image* source, Image* destination, int32_t width, int32_t height, Fill fill) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    OwnedImage result;
    if (!createLike(source, source->kind, width, height, &result)) return ST_NO_MEMORY;
    Status st = fill(static_cast<const Image*>(source), &result);
    if (st != ST_OK) return st;
    commitResult(source, destination, &result);
    return ST_OK;
}

Status copyRows(const Image* src, Image* dst) {
    size_t bytes = static_cast<size_t>(src->width) * src->bytesPerPixel;
    for (int32_t y = 0; y < src->height; ++y) memcpy(imageRow(dst, y), imageRow(src, y), bytes);
    return ST_OK;
}

// Reverses the pixel order of one row.
void reverseRow(const uint8_t* s, uint8_t* d, int32_t width, int bpp) {
    const uint8_t* p = s + static_cast<size_t>(width - 1) * bpp;
    for (int32_t x = 0; x < width; ++x, p -= bpp, d += bpp) memcpy(d, p, bpp);
}

Status fillFlip(const Image* src, Image* dst) {
    size_t bytes = static_cast<size_t>(src->width) * src->bytesPerPixel;
    for (int32_t y = 0; y < src->height; ++y) memcpy(imageRow(dst, y), imageRow(src, src->height - 1 - y), bytes);
    return ST_OK;
}

Status fillMirror(const Image* src, Image* dst) {
    for (int32_t y = 0; y < src->height; ++y) reverseRow(imageRow(src, y), imageRow(dst, y), src->width, src->bytesPerPixel);
    return ST_OK;
}

Status fillHalfTurn(const Image* src, Image* dst) {
    for (int32_t y = 0; y < src->height; ++y)
        reverseRow(imageRow(src, src->height - 1 - y), imageRow(dst, y), src->width, src->bytesPerPixel);
    return ST_OK;
}

// Quarter turn: the result is height x width (see turnedRows). The result rows
// of a large picture are shared out in bands.
struct QuarterJob {
    const Image* src;
    Image* dst;
    bool clockwise;
};

Status quarterBand(void* data, Band rows) {
    const QuarterJob* j = static_cast<const QuarterJob*>(data);
    turnedRows(j->src, j->clockwise, rows.first, rows.end, imageRow(j->dst, rows.first), j->dst->stride);
    return ST_OK;
}

Status fillQuarter(const Image* src, Image* dst, bool clockwise) {
    QuarterJob job{src, dst, clockwise};
    return runInBands(dst->height, int64_t(dst->width) * dst->height, quarterBand, &job);
}

// Rounds to the nearest integer, halves upwards.
inline double roundHalfUp(double v) { return std::floor(v + 0.5); }

struct FreeRotation {
    double c, s, vx, vy;
    int32_t minX, minY, width, height;
};

FreeRotation planRotation(const Image* src, int angle) {
    FreeRotation r;
    double theta = angle * 3.14159265358979323846 / 180.0;
    r.c = std::cos(theta);
    r.s = std::sin(theta);
    double cx = src->width * 0.5, cy = src->height * 0.5;
    r.vx = cx - (cx * r.c - cy * r.s);
    r.vy = cy - (cx * r.s + cy * r.c);
    const double px[4] = {0.0, src->width - 1.0, src->width - 1.0, 0.0};
    const double py[4] = {0.0, 0.0, src->height - 1.0, src->height - 1.0};
    double lox = 1e300, hix = -1e300, loy = 1e300, hiy = -1e300;
    for (int k = 0; k < 4; ++k) {
        double X = roundHalfUp(px[k] * r.c - py[k] * r.s + r.vx);
        double Y = roundHalfUp(px[k] * r.s + py[k] * r.c + r.vy);
        lox = X < lox ? X : lox;
        hix = X > hix ? X : hix;
        loy = Y < loy ? Y : loy;
        hiy = Y > hiy ? Y : hiy;
    }
    int64_t w = static_cast<int64_t>(hix - lox) + 1, h = static_cast<int64_t>(hiy - loy) + 1;
    r.minX = static_cast<int32_t>(lox);
    r.minY = static_cast<int32_t>(loy);
    r.width = clampSide(w);
    r.height = clampSide(h);
    // A box larger than the largest picture is cut evenly on both sides.
    r.minX += static_cast<int32_t>((w - r.width) / 2);
    r.minY += static_cast<int32_t>((h - r.height) / 2);
    return r;
}

Status fillFreeRotation(const Image* src, Image* dst, const FreeRotation& r) {
    const int bpp = src->bytesPerPixel;
    const double maxX = src->width - 0.5, maxY = src->height - 0.5;
    for (int32_t Y = 0; Y < dst->height; ++Y) {
        double v = static_cast<double>(Y) + r.minY - r.vy;
        double u0 = static_cast<double>(r.minX) - r.vx;
        uint8_t* d = imageRow(dst, Y);
        for (int32_t X = 0; X < dst->width; ++X, d += bpp) {
            double u = u0 + X;
            double x = u * r.c + v * r.s;
            double y = -u * r.s + v * r.c;
            if (x < -0.5 || y < -0.5 || x >= maxX || y >= maxY) continue;
            int32_t sx = static_cast<int32_t>(roundHalfUp(x)), sy = static_cast<int32_t>(roundHalfUp(y));
            if (sx < 0 || sy < 0 || sx >= src->width || sy >= src->height) continue;
            memcpy(d, imageRow(src, sy) + static_cast<size_t>(sx) * bpp, bpp);
        }
    }
    return ST_OK;
}

// ---- resizing -------------------------------------------------------------

Status fillNearest(const Image* src, Image* dst) {
    const int bpp = src->bytesPerPixel;
    OpArray<int32_t> columns = allocOpArray<int32_t>(dst->width);
    if (!columns) return ST_NO_MEMORY;
    for (int32_t x = 0; x < dst->width; ++x)
        columns[x] = static_cast<int32_t>(static_cast<int64_t>(x) * src->width / dst->width);
    for (int32_t y = 0; y < dst->height; ++y) {
        const uint8_t* s = imageRow(src, static_cast<int32_t>(static_cast<int64_t>(y) * src->height / dst->height));
        uint8_t* d = imageRow(dst, y);
        if (bpp == 1) {
            for (int32_t x = 0; x < dst->width; ++x) d[x] = s[columns[x]];
        } else {
            for (int32_t x = 0; x < dst->width; ++x) memcpy(d + static_cast<size_t>(x) * bpp, s + static_cast<size_t>(columns[x]) * bpp, bpp);
        }
    }
    return ST_OK;
}

// The source pixels one result pixel draws on along one axis, with weights
// that add up to 1.
struct AxisPlan {
    OpArray<int32_t> first;   // per result pixel: index into taps
    OpArray<int32_t> count;   // per result pixel: number of taps
    OpArray<int32_t> index;   // source pixel of each tap
    OpArray<double> weight;   // weight of each tap
};

constexpr double EDGE_TOLERANCE = 0.0001;

// Shrinking (or keeping) a direction: result pixel i covers the source interval
// [i s, (i + 1) s) and every source pixel weighs with the part of it inside.
// Enlarging: the result position falls between two source pixels, which share
// it in proportion to their distance.
bool planAxis(int32_t srcN, int32_t dstN, AxisPlan* plan) {
    double scale = static_cast<double>(srcN) / dstN;
    size_t maxTaps = static_cast<size_t>(dstN) * (scale >= 1.0 ? static_cast<size_t>(std::ceil(scale)) + 2 : 2);
    plan->first = allocOpArray<int32_t>(dstN);
    plan->count = allocOpArray<int32_t>(dstN);
    plan->index = allocOpArray<int32_t>(maxTaps);
    plan->weight = allocOpArray<double>(maxTaps);
    if (!plan->first || !plan->count || !plan->index || !plan->weight) return false;
    size_t taps = 0;
    for (int32_t i = 0; i < dstN; ++i) {
        plan->first[i] = static_cast<int32_t>(taps);
        size_t start = taps;
        if (scale >= 1.0) {
            double a = i * scale, b = (i + 1) * scale;
            int32_t k0 = static_cast<int32_t>(std::floor(a));
            int32_t k1 = static_cast<int32_t>(std::ceil(b));
            if (k1 > srcN) k1 = srcN;
            double total = 0.0;
            for (int32_t k = k0; k < k1 && taps < maxTaps; ++k) {
                double lo = k > a ? k : a, hi = k + 1 < b ? k + 1 : b;
                double part = hi - lo;
                if (part < EDGE_TOLERANCE) continue;
                plan->index[taps] = k;
                plan->weight[taps] = part;
                total += part;
                ++taps;
            }
            if (taps == start) {  // cannot happen for scale >= 1, kept as a guard
                plan->index[taps] = k0 < srcN ? k0 : srcN - 1;
                plan->weight[taps] = 1.0;
                total = 1.0;
                ++taps;
            }
            for (size_t t = start; t < taps; ++t) plan->weight[t] /= total;
        } else {
            double p = (i + 0.5) * scale - 0.5;
            if (p < 0.0) p = 0.0;
            if (p > srcN - 1) p = srcN - 1;
            int32_t k0 = static_cast<int32_t>(std::floor(p));
            double f = p - k0;
            plan->index[taps] = k0;
            plan->weight[taps] = 1.0 - f;
            ++taps;
            if (f >= EDGE_TOLERANCE && k0 + 1 < srcN) {
                plan->index[taps] = k0 + 1;
                plan->weight[taps] = f;
                ++taps;
            } else {
                plan->weight[taps - 1] = 1.0;
            }
        }
        plan->count[i] = static_cast<int32_t>(taps - start);
    }
    return true;
}

// Lanczos-3 (a sinc windowed by a wider sinc), the filter of careful shrinking:
// sharper than averaging and without its blocky steps. When shrinking by s the
// filter is stretched by s so that it also averages away what the smaller grid
// cannot hold. Near the edges the taps inside the picture share the weight.
double lanczos3(double x) {
    if (x < 0) x = -x;
    if (x < 1e-9) return 1.0;
    if (x >= 3.0) return 0.0;
    const double px = 3.14159265358979323846 * x;
    return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

bool planLanczos(int32_t srcN, int32_t dstN, AxisPlan* plan) {
    const double scale = static_cast<double>(srcN) / dstN;
    const double stretch = scale > 1.0 ? scale : 1.0;
    const double support = 3.0 * stretch;
    const size_t perPixel = static_cast<size_t>(std::ceil(2 * support)) + 2;
    const size_t maxTaps = static_cast<size_t>(dstN) * perPixel;
    plan->first = allocOpArray<int32_t>(dstN);
    plan->count = allocOpArray<int32_t>(dstN);
    plan->index = allocOpArray<int32_t>(maxTaps);
    plan->weight = allocOpArray<double>(maxTaps);
    if (!plan->first || !plan->count || !plan->index || !plan->weight) return false;
    size_t taps = 0;
    for (int32_t i = 0; i < dstN; ++i) {
        plan->first[i] = static_cast<int32_t>(taps);
        const size_t start = taps;
        const double centre = (i + 0.5) * scale;  // in source pixel edges
        const int64_t k0 = static_cast<int64_t>(std::floor(centre - support));
        const int64_t k1 = static_cast<int64_t>(std::ceil(centre + support));
        double total = 0.0;
        for (int64_t k = k0; k <= k1 && taps - start < perPixel; ++k) {
            if (k < 0 || k >= srcN) continue;
            const double w = lanczos3((k + 0.5 - centre) / stretch);
            if (w == 0.0) continue;
            plan->index[taps] = static_cast<int32_t>(k);
            plan->weight[taps] = w;
            ++taps;
            total += w;
        }
        if (taps == start || std::fabs(total) < 1e-9) {
            taps = start;
            plan->index[taps] = static_cast<int32_t>(centre < srcN ? centre : srcN - 1);
            plan->weight[taps] = 1.0;
            total = 1.0;
            ++taps;
        }
        for (size_t t = start; t < taps; ++t) plan->weight[t] /= total;
        plan->count[i] = static_cast<int32_t>(taps - start);
    }
    return true;
}

// Applies two axis plans: a vertical pass into one row of weighted sums, then a
// horizontal pass into the result row. Negative weights may overshoot: the
// result is clamped to the sample range. Sums are truncated after adding
// bias (a hair so that sums of equal samples give the sample back, or one half
// to round to the nearest).
Status fillPlannedBand(const Image* src, Image* dst, const AxisPlan& px, const AxisPlan& py, double bias, Band rows) {
    const int bpp = src->bytesPerPixel;
    const size_t rowValues = static_cast<size_t>(src->width) * bpp;
    OpArray<double> column = allocOpArray<double>(rowValues);
    if (!column) return ST_NO_MEMORY;
    const bool binary = src->kind == IMG_BINARY;
    for (int32_t y = rows.first; y < rows.end; ++y) {
        memset(column.get(), 0, rowValues * sizeof(double));
        for (int32_t t = py.first[y], e = t + py.count[y]; t < e; ++t) {
            const uint8_t* s = imageRow(src, py.index[t]);
            double w = py.weight[t];
            for (size_t k = 0; k < rowValues; ++k) column[k] += w * s[k];
        }
        uint8_t* d = imageRow(dst, y);
        for (int32_t x = 0; x < dst->width; ++x) {
            for (int c = 0; c < bpp; ++c) {
                double sum = 0.0;
                for (int32_t t = px.first[x], e = t + px.count[x]; t < e; ++t)
                    sum += px.weight[t] * column[static_cast<size_t>(px.index[t]) * bpp + c];
                uint8_t out;
                if (binary) {
                    out = sum > 0.5 ? 1 : 0;
                } else {
                    double v = sum + bias;
                    out = v <= 0.0 ? 0 : v >= 255.0 ? 255 : static_cast<uint8_t>(v);
                }
                d[static_cast<size_t>(x) * bpp + c] = out;
            }
        }
    }
    return ST_OK;
}

struct PlannedJob {
    const Image* src;
    Image* dst;
    const AxisPlan* px;
    const AxisPlan* py;
    double bias;
};

Status plannedBand(void* data, Band rows) {
    const PlannedJob* j = static_cast<const PlannedJob*>(data);
    return fillPlannedBand(j->src, j->dst, *j->px, *j->py, j->bias, rows);
}

// The result rows are independent: a large result is shared out in bands.
Status fillPlanned(const Image* src, Image* dst, const AxisPlan& px, const AxisPlan& py, double bias) {
    PlannedJob job{src, dst, &px, &py, bias};
    return runInBands(dst->height, int64_t(src->width) * src->height, plannedBand, &job);
}

Status fillArea(const Image* src, Image* dst) {
    AxisPlan px, py;
    if (!planAxis(src->width, dst->width, &px) || !planAxis(src->height, dst->height, &py)) return ST_NO_MEMORY;
    return fillPlanned(src, dst, px, py, 1e-7);
}

Status fillLanczos(const Image* src, Image* dst) {
    AxisPlan px, py;
    if (!planLanczos(src->width, dst->width, &px) || !planLanczos(src->height, dst->height, &py)) return ST_NO_MEMORY;
    return fillPlanned(src, dst, px, py, 0.5);
}

}  // namespace

Status flipVertical(Image* source, Image* destination) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    return geometryRun(source, destination, source->width, source->height, fillFlip);
}

Status mirrorHorizontal(Image* source, Image* destination) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    return geometryRun(source, destination, source->width, source->height, fillMirror);
}

Status rotateImage(Image* source, Image* destination, int angle) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    int a = angle % 360;
    if (a < 0) a += 360;
    const int32_t w = source->width, h = source->height;
    switch (a) {
    case 0: return geometryRun(source, destination, w, h, copyRows);
    case 180: return geometryRun(source, destination, w, h, fillHalfTurn);
    case 90:
    case 270: {
        bool clockwise = a == 90;
        Status st = geometryRun(source, destination, h, w,
                                [clockwise](const Image* s, Image* d) { return fillQuarter(s, d, clockwise); });
        if (st == ST_OK) {
            Image* r = destination ? destination : source;
            int32_t dpi = r->xdpi;
            r->xdpi = r->ydpi;
            r->ydpi = dpi;
        }
        return st;
    }
    default: {
        FreeRotation plan = planRotation(source, a);
        return geometryRun(source, destination, plan.width, plan.height,
                           [&plan](const Image* s, Image* d) { return fillFreeRotation(s, d, plan); });
    }
    }
}

Status resizeImage(Image* source, Image* destination, int32_t width, int32_t height, int method) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    if (method != RESAMPLE_NEAREST && method != RESAMPLE_AREA) return ST_OP_BAD_PARAMETER;
    width = clampSide(width);
    height = clampSide(height);
    if (method == RESAMPLE_NEAREST || source->kind == IMG_PALETTE)
        return geometryRun(source, destination, width, height, fillNearest);
    return geometryRun(source, destination, width, height, fillArea);
}

Status resizeSmooth(Image* source, Image* destination, int32_t width, int32_t height) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    width = clampSide(width);
    height = clampSide(height);
    if (source->kind == IMG_PALETTE) return geometryRun(source, destination, width, height, fillNearest);
    if (source->kind == IMG_BINARY) return geometryRun(source, destination, width, height, fillArea);
    return geometryRun(source, destination, width, height, fillLanczos);
}

Status cropImage(Image* source, Image* destination, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    int64_t x0 = x, y0 = y, x1 = static_cast<int64_t>(x) + width, y1 = static_cast<int64_t>(y) + height;
    if (x1 < x0) { int64_t t = x0; x0 = x1; x1 = t; }
    if (y1 < y0) { int64_t t = y0; y0 = y1; y1 = t; }
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > source->width) x1 = source->width;
    if (y1 > source->height) y1 = source->height;
    if (x1 <= x0 || y1 <= y0) return ST_OP_BAD_PARAMETER;
    const int32_t left = static_cast<int32_t>(x0), top = static_cast<int32_t>(y0);
    return geometryRun(source, destination, static_cast<int32_t>(x1 - x0), static_cast<int32_t>(y1 - y0),
                       [left, top](const Image* s, Image* d) {
                           size_t bytes = static_cast<size_t>(d->width) * s->bytesPerPixel;
                           for (int32_t r = 0; r < d->height; ++r)
                               memcpy(imageRow(d, r), imageRow(s, top + r) + static_cast<size_t>(left) * s->bytesPerPixel, bytes);
                           return ST_OK;
                       });
}

Status canvasSize(Image* source, Image* destination, int32_t width, int32_t height) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    width = clampSide(width);
    height = clampSide(height);
    return geometryRun(source, destination, width, height, [](const Image* s, Image* d) {
        int32_t cols = s->width < d->width ? s->width : d->width;
        int32_t rows = s->height < d->height ? s->height : d->height;
        int32_t left = d->width > s->width ? (d->width - s->width) / 2 : 0;
        int32_t top = d->height > s->height ? (d->height - s->height) / 2 : 0;
        size_t bytes = static_cast<size_t>(cols) * s->bytesPerPixel;
        for (int32_t r = 0; r < rows; ++r)
            memcpy(imageRow(d, top + r) + static_cast<size_t>(left) * s->bytesPerPixel, imageRow(s, r), bytes);
        return ST_OK;
    });
}

void batchTargetSize(const Image* image, int32_t width, int32_t height, bool percent, bool keepRatio,
                     int32_t* outWidth, int32_t* outHeight) {
    int64_t w = width, h = height;
    if (percent) {
        w = static_cast<int64_t>(image->width) * width / 100;
        h = static_cast<int64_t>(image->height) * height / 100;
    }
    if (w < 1) w = 1;
    if (h < 1) h = 1;
    if (keepRatio) {
        int64_t fitH = w * image->height / image->width;
        if (fitH > h) {
            w = h * image->width / image->height;
        } else {
            h = fitH;
        }
    }
    *outWidth = clampSide(w);
    *outHeight = clampSide(h);
}

Status opResize(Image* image, const OpInstance& op) {
    if (!opImageValid(image)) return ST_KIND_REFUSED;
    int32_t w, h;
    batchTargetSize(image, op.ints[0], op.ints[1], op.percent != 0, op.keepRatio != 0, &w, &h);
    if (w == image->width && h == image->height) return ST_OK;
    bool smaller = image->width < w || image->height < h;  // the picture is smaller than the target
    bool larger = image->width > w || image->height > h;
    if (op.onlySmaller || op.onlyLarger) {
        bool wanted = (op.onlySmaller && smaller) || (op.onlyLarger && larger);
        if (!wanted) return ST_OK;
    }
    return resizeImage(image, nullptr, w, h, op.method);
}

Status opCrop(Image* image, const OpInstance& op) {
    return cropImage(image, nullptr, op.ints[0], op.ints[1], op.ints[2], op.ints[3]);
}

Status opCanvas(Image* image, const OpInstance& op) {
    if (!opImageValid(image)) return ST_KIND_REFUSED;
    int32_t w, h;
    batchTargetSize(image, op.ints[0], op.ints[1], op.percent != 0, op.keepRatio != 0, &w, &h);
    return canvasSize(image, nullptr, w, h);
}

Status opMirror(Image* image, const OpInstance&) {
    return mirrorHorizontal(image, nullptr);
}

Status opFlip(Image* image, const OpInstance&) {
    return flipVertical(image, nullptr);
}

Status opRotate(Image* image, const OpInstance& op) {
    return rotateImage(image, nullptr, op.ints[0]);
}
