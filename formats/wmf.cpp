// Windows metafiles (.wmf): a small player that draws the records onto a
// white true-colour canvas, without GDI.
//
// A placeable file opens with the key 0x9AC6CDD7, a bounding box in logical
// units and the units per inch; the standard 18-byte header follows (type 1
// or 2, 9 header words, version 0x100 or 0x300, the size in words). Records
// are a size in 16-bit words (header included), a function number and
// parameter words, stored last parameter first.
//
// Played: the window origin and extent (mapped onto the whole canvas), pens
// and brushes (solid colours; hatches drawn solid), polygon fill modes,
// polygons, poly-polygons, rectangles, rounded rectangles (square), ellipses,
// polylines, lines, and the device-independent bitmaps of StretchDIB,
// DIBStretchBlt and DIBBitBlt (uncompressed DIBs, scaled to the nearest
// pixel, every raster operation drawn as a copy). Text, regions, clipping and
// the other raster operations are passed over. The canvas is at most
// MAX_SIDE pixels a side and the drawing work is bounded.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "codec.h"
#include "codecs.h"
#include "dib.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_SIZE[] = "WMF : Bad picture's size !";
const char MSG_ENHANCED[] = "WMF : Enhanced metafiles are not played !";
const char NAME_PLACEABLE[] = "Windows Metafile (Placeable)";
const char NAME_PLAIN[] = "Windows Metafile";

constexpr uint32_t PLACEABLE_KEY = 0x9AC6CDD7;
constexpr size_t PLACEABLE = 22;
constexpr size_t HEADER = 18;
constexpr int32_t MAX_SIDE = 2000;
constexpr int32_t PLAIN_SIDE = 1024;
constexpr int MAX_OBJECTS = 4096;
constexpr uint64_t WORK_BUDGET = uint64_t(1) << 28;  // polygon rows and pixels drawn
constexpr size_t MAX_POINTS = 1 << 20;

enum ObjectKind : uint8_t { OBJ_FREE = 0, OBJ_PEN, OBJ_BRUSH, OBJ_OTHER };

struct Object {
    ObjectKind kind;
    bool none;       // null pen or hollow brush
    uint8_t rgb[3];
    double width;    // pens, logical units
};

struct Point {
    double x, y;
};

struct Player {
    uint8_t* canvas;
    int32_t width, height;
    double orgX, orgY, extX, extY;  // the window
    Object* objects;
    int objectCount;
    Object pen, brush;
    bool winding;
    Point at;  // the current position, device units
    uint64_t work;
    Point* points;  // scratch for one record's points
    int32_t* counts;

    Point map(double x, double y) const {
        return {(x - orgX) * width / extX, (y - orgY) * height / extY};
    }
    double scale() const { return std::fabs(width / extX); }
    bool spend(uint64_t n) {
        if (work + n > WORK_BUDGET) return false;
        work += n;
        return true;
    }
    void plot(int64_t x, int64_t y, const uint8_t* rgb) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        memcpy(canvas + (static_cast<size_t>(y) * width + x) * 3, rgb, 3);
    }
};

// Fills polygons (counts[k] points each, one after the other) by scan lines
// through pixel centres, by the alternate or the winding rule.
void fillPolygons(Player* p, const Point* pts, const int32_t* counts, int polys, const uint8_t* rgb) {
    size_t total = 0;
    double top = 1e300, bottom = -1e300;
    for (int k = 0; k < polys; ++k) total += static_cast<size_t>(counts[k]);
    for (size_t i = 0; i < total; ++i) {
        top = std::fmin(top, pts[i].y);
        bottom = std::fmax(bottom, pts[i].y);
    }
    if (total < 3) return;
    const int64_t y0 = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(top - 0.5)));
    const int64_t y1 = std::min<int64_t>(p->height - 1, static_cast<int64_t>(std::floor(bottom - 0.5)));
    if (y1 < y0 || !p->spend(static_cast<uint64_t>(y1 - y0 + 1) * (total + p->width))) return;
    Buffer crossBytes = allocBuffer(total * (sizeof(double) + sizeof(int)));
    if (!crossBytes) return;
    auto* xs = reinterpret_cast<double*>(crossBytes.get());
    auto* dirs = reinterpret_cast<int*>(crossBytes.get() + total * sizeof(double));
    for (int64_t y = y0; y <= y1; ++y) {
        const double cy = y + 0.5;
        size_t n = 0, first = 0;
        for (int k = 0; k < polys; first += static_cast<size_t>(counts[k]), ++k)
            for (int32_t i = 0; i < counts[k]; ++i) {
                const Point& a = pts[first + i];
                const Point& b = pts[first + (i + 1 < counts[k] ? i + 1 : 0)];
                if ((a.y <= cy) == (b.y <= cy)) continue;
                xs[n] = a.x + (cy - a.y) * (b.x - a.x) / (b.y - a.y);
                dirs[n++] = b.y > a.y ? 1 : -1;
            }
        // Sort the crossings (few per row).
        for (size_t i = 1; i < n; ++i)
            for (size_t j = i; j > 0 && xs[j - 1] > xs[j]; --j) {
                std::swap(xs[j - 1], xs[j]);
                std::swap(dirs[j - 1], dirs[j]);
            }
        int inside = 0;
        for (size_t i = 0; i + 1 < n; ++i) {
            inside = p->winding ? inside + dirs[i] : inside ^ 1;
            if (inside == 0) continue;
            const int64_t xa = std::max<int64_t>(0, static_cast<int64_t>(std::ceil(xs[i] - 0.5)));
            const int64_t xb = std::min<int64_t>(p->width - 1, static_cast<int64_t>(std::floor(xs[i + 1] - 0.5)));
            for (int64_t x = xa; x <= xb; ++x) p->plot(x, y, rgb);
        }
    }
}

// A line of the current pen, its width in device pixels (at least one).
void strokeLine(Player* p, Point a, Point b) {
    if (p->pen.none) return;
    const int w = static_cast<int>(std::fmax(1.0, std::fmin(64.0, std::round(p->pen.width * p->scale()))));
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double steps = std::ceil(std::fmax(std::fabs(dx), std::fabs(dy)));
    if (steps > 4.0 * MAX_SIDE || !p->spend(static_cast<uint64_t>(steps + 1) * w * w)) return;
    for (double s = 0; s <= steps; ++s) {
        const double t = steps > 0 ? s / steps : 0;
        const int64_t cx = static_cast<int64_t>(std::floor(a.x + t * dx)), cy = static_cast<int64_t>(std::floor(a.y + t * dy));
        for (int j = 0; j < w; ++j)
            for (int i = 0; i < w; ++i) p->plot(cx + i - w / 2, cy + j - w / 2, p->pen.rgb);
    }
}

void drawPolygons(Player* p, int polys, size_t total) {
    if (!p->brush.none) fillPolygons(p, p->points, p->counts, polys, p->brush.rgb);
    size_t first = 0;
    for (int k = 0; k < polys; first += static_cast<size_t>(p->counts[k]), ++k)
        for (int32_t i = 0; i < p->counts[k]; ++i)
            strokeLine(p, p->points[first + i], p->points[first + (i + 1 < p->counts[k] ? i + 1 : 0)]);
    (void)total;
}

// A device-independent bitmap held in a record, drawn into the device
// rectangle between corners d0 and d1 from its source rectangle.
void drawDib(Player* p, const uint8_t* dib, size_t n, int32_t xSrc, int32_t ySrc, int32_t wSrc, int32_t hSrc, Point d0,
             Point d1, bool wholeSource) {
    if (n < DIB_INFO_HEADER_SIZE) return;
    const DibInfo info = dibParseInfo(dib);
    if (info.headerSize < DIB_INFO_HEADER_SIZE || info.headerSize > n || info.compression != 0) return;
    const int bits = static_cast<int>(info.bits);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return;
    const int64_t w = info.width, h = info.height < 0 ? -static_cast<int64_t>(info.height) : info.height;
    if (w < 1 || h < 1 || w > 0xFFFF || h > 0xFFFF) return;
    const uint32_t entries = bits <= 8 ? dibPaletteEntries(info.bits, info.coloursUsed) : 0;
    const uint64_t tableAt = info.headerSize, bitsAt = tableAt + 4ull * entries;
    const int64_t rowBytes = dibRowBytes(w, bits);
    if (bitsAt + static_cast<uint64_t>(rowBytes) * h > n) return;
    if (wholeSource) xSrc = 0, ySrc = 0, wSrc = static_cast<int32_t>(w), hSrc = static_cast<int32_t>(h);
    if (wSrc == 0 || hSrc == 0) return;
    const double left = std::fmin(d0.x, d1.x), right = std::fmax(d0.x, d1.x);
    const double top = std::fmin(d0.y, d1.y), bottom = std::fmax(d0.y, d1.y);
    const int64_t x0 = std::max<int64_t>(0, std::lround(left)), x1 = std::min<int64_t>(p->width, std::lround(right));
    const int64_t y0 = std::max<int64_t>(0, std::lround(top)), y1 = std::min<int64_t>(p->height, std::lround(bottom));
    if (x1 <= x0 || y1 <= y0 || !p->spend(static_cast<uint64_t>(x1 - x0) * (y1 - y0))) return;
    for (int64_t y = y0; y < y1; ++y) {
        const double ty = (y + 0.5 - d0.y) / (d1.y - d0.y);
        // Source rows count from the picture's top; bottom-up DIBs store the bottom row first.
        const int64_t sy = static_cast<int64_t>(std::floor(ySrc + ty * hSrc));
        if (sy < 0 || sy >= h) continue;
        const int64_t stored = info.height < 0 ? sy : h - 1 - sy;
        const uint8_t* row = dib + bitsAt + stored * rowBytes;
        for (int64_t x = x0; x < x1; ++x) {
            const double tx = (x + 0.5 - d0.x) / (d1.x - d0.x);
            const int64_t sx = static_cast<int64_t>(std::floor(xSrc + tx * wSrc));
            if (sx < 0 || sx >= w) continue;
            uint8_t rgb[3];
            if (bits <= 8) {
                const int per = 8 / bits;
                const uint32_t index = (row[sx / per] >> ((per - 1 - sx % per) * bits)) & ((1u << bits) - 1);
                if (index >= entries) continue;
                const uint8_t* e = dib + tableAt + 4 * index;
                rgb[0] = e[2], rgb[1] = e[1], rgb[2] = e[0];
            } else if (bits == 16) {
                const uint32_t v = loadU16LE(row + 2 * sx);
                rgb[0] = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
                rgb[1] = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
                rgb[2] = static_cast<uint8_t>((v & 31) * 255 / 31);
            } else {
                const uint8_t* q = row + sx * (bits / 8);
                rgb[0] = q[2], rgb[1] = q[1], rgb[2] = q[0];
            }
            p->plot(x, y, rgb);
        }
    }
}

inline int16_t word(const uint8_t* params, size_t i) { return static_cast<int16_t>(loadU16LE(params + 2 * i)); }

void createObject(Player* p, const Object& o) {
    for (int i = 0; i < p->objectCount; ++i)
        if (p->objects[i].kind == OBJ_FREE) {
            p->objects[i] = o;
            return;
        }
}

// Plays one record (params: n bytes after the function word).
void playRecord(Player* p, uint16_t function, const uint8_t* q, size_t n) {
    const size_t words = n / 2;
    auto w = [&](size_t i) { return i < words ? word(q, i) : int16_t(0); };
    switch (function) {
    case 0x020B: p->orgY = w(0), p->orgX = w(1); break;  // SETWINDOWORG
    case 0x020C:                                         // SETWINDOWEXT
        if (w(0) != 0 && w(1) != 0) p->extY = w(0), p->extX = w(1);
        break;
    case 0x0106: p->winding = w(0) == 2; break;  // SETPOLYFILLMODE
    case 0x02FA: {                               // CREATEPENINDIRECT
        Object o{OBJ_PEN, (w(0) & 0xF) == 5, {0, 0, 0}, static_cast<double>(std::abs(w(1)))};
        if (n >= 10) memcpy(o.rgb, q + 6, 3);
        createObject(p, o);
        break;
    }
    case 0x02FC: {  // CREATEBRUSHINDIRECT
        Object o{OBJ_BRUSH, w(0) == 1, {0, 0, 0}, 0};
        if (n >= 6) memcpy(o.rgb, q + 2, 3);
        createObject(p, o);
        break;
    }
    case 0x00F7: case 0x0142: case 0x02FB: case 0x06FF: case 0x01F9: case 0x0762: case 0x06FE:  // other objects
        createObject(p, Object{OBJ_OTHER, true, {0, 0, 0}, 0});
        break;
    case 0x012D: {  // SELECTOBJECT
        const int i = static_cast<uint16_t>(w(0));
        if (i < p->objectCount && p->objects[i].kind == OBJ_PEN) p->pen = p->objects[i];
        if (i < p->objectCount && p->objects[i].kind == OBJ_BRUSH) p->brush = p->objects[i];
        break;
    }
    case 0x01F0: {  // DELETEOBJECT
        const int i = static_cast<uint16_t>(w(0));
        if (i < p->objectCount) p->objects[i].kind = OBJ_FREE;
        break;
    }
    case 0x0214: p->at = p->map(w(1), w(0)); break;  // MOVETO
    case 0x0213: {                                   // LINETO
        const Point to = p->map(w(1), w(0));
        strokeLine(p, p->at, to);
        p->at = to;
        break;
    }
    case 0x041B: case 0x061C: case 0x0418: {  // RECTANGLE, ROUNDRECT, ELLIPSE
        const size_t k = function == 0x061C ? 2 : 0;  // the corner sizes come first
        const Point a = p->map(w(k + 3), w(k + 2)), b = p->map(w(k + 1), w(k));
        if (function == 0x0418) {
            const int segments = 64;
            for (int i = 0; i < segments; ++i) {
                const double t = 6.283185307179586 * i / segments;
                p->points[i] = {(a.x + b.x) / 2 + (b.x - a.x) / 2 * std::cos(t), (a.y + b.y) / 2 + (b.y - a.y) / 2 * std::sin(t)};
            }
            p->counts[0] = segments;
        } else {
            p->points[0] = a, p->points[1] = {b.x, a.y}, p->points[2] = b, p->points[3] = {a.x, b.y};
            p->counts[0] = 4;
        }
        drawPolygons(p, 1, static_cast<size_t>(p->counts[0]));
        break;
    }
    case 0x0324: case 0x0325: {  // POLYGON, POLYLINE
        const size_t count = static_cast<uint16_t>(w(0));
        if (count < 1 || 1 + 2 * count > words || count > MAX_POINTS) break;
        for (size_t i = 0; i < count; ++i) p->points[i] = p->map(w(1 + 2 * i), w(2 + 2 * i));
        if (function == 0x0324) {
            p->counts[0] = static_cast<int32_t>(count);
            drawPolygons(p, 1, count);
        } else {
            for (size_t i = 0; i + 1 < count; ++i) strokeLine(p, p->points[i], p->points[i + 1]);
        }
        break;
    }
    case 0x0538: {  // POLYPOLYGON
        const size_t polys = static_cast<uint16_t>(w(0));
        if (polys < 1 || 1 + polys > words) break;
        size_t total = 0;
        for (size_t k = 0; k < polys; ++k) total += static_cast<uint16_t>(w(1 + k)), p->counts[k] = static_cast<uint16_t>(w(1 + k));
        if (1 + polys + 2 * total > words || total > MAX_POINTS) break;
        for (size_t i = 0; i < total; ++i) p->points[i] = p->map(w(1 + polys + 2 * i), w(2 + polys + 2 * i));
        drawPolygons(p, static_cast<int>(polys), total);
        break;
    }
    case 0x0F43:  // STRETCHDIB: rop, colour use, source h, w, y, x, destination h, w, y, x, DIB
        if (n > 22)
            drawDib(p, q + 22, n - 22, w(6), w(5), w(4), w(3), p->map(w(10), w(9)),
                    p->map(w(10) + w(8), w(9) + w(7)), false);
        break;
    case 0x0B41:  // DIBSTRETCHBLT: rop, source h, w, y, x, destination h, w, y, x, DIB
        if (n > 20)
            drawDib(p, q + 20, n - 20, w(5), w(4), w(3), w(2), p->map(w(9), w(8)), p->map(w(9) + w(7), w(8) + w(6)),
                    false);
        break;
    case 0x0940:  // DIBBITBLT: rop, source y, x, height, width, destination y, x, DIB
        if (n > 16)
            drawDib(p, q + 16, n - 16, w(3), w(2), w(5), w(4), p->map(w(7), w(6)), p->map(w(7) + w(5), w(6) + w(4)),
                    false);
        break;
    default: break;
    }
}

struct Frame {
    double left, top, right, bottom;
    bool placeable;
    uint32_t inch;
};

// An enhanced metafile: its header record (type 1) with the signature " EMF".
bool isEnhanced(const uint8_t* head, size_t n) {
    return n >= 88 && loadU32LE(head) == 1 && loadU32LE(head + 40) == 0x464D4520 && loadU32LE(head + 4) >= 88 &&
           loadU32LE(head + 4) % 4 == 0;
}

}  // namespace

bool acceptWmf(const uint8_t* head, size_t n, int64_t fileSize) {
    if (isEnhanced(head, n)) return true;
    size_t at = 0;
    if (n >= PLACEABLE + HEADER && loadU32LE(head) == PLACEABLE_KEY) at = PLACEABLE;
    if (n < at + HEADER) return false;
    const uint8_t* h = head + at;
    const uint16_t type = loadU16LE(h), size = loadU16LE(h + 2), version = loadU16LE(h + 4);
    if ((type != 1 && type != 2) || size != 9 || (version != 0x0100 && version != 0x0300)) return false;
    const uint64_t words = loadU32LE(h + 6);
    return at > 0 || (words * 2 >= HEADER && (fileSize <= 0 || words * 2 <= static_cast<uint64_t>(fileSize) + 16));
}

Status readWmf(FILE* stream, LoadRequest* request) {
    uint8_t head[88];
    const size_t got = fread(head, 1, sizeof head, stream);
    if (!acceptWmf(head, got, request->fileSize)) return ST_UNKNOWN_FORMAT;
    if (isEnhanced(head, got)) {
        setReaderMessage(request, MSG_ENHANCED);
        return ST_BAD_FILE;
    }
    const int64_t size = request->fileSize;
    if (size <= 0) return ST_READ_ERROR;
    Frame frame{0, 0, 0, 0, loadU32LE(head) == PLACEABLE_KEY, 0};
    if (frame.placeable) {
        frame.left = static_cast<int16_t>(loadU16LE(head + 6));
        frame.top = static_cast<int16_t>(loadU16LE(head + 8));
        frame.right = static_cast<int16_t>(loadU16LE(head + 10));
        frame.bottom = static_cast<int16_t>(loadU16LE(head + 12));
        frame.inch = loadU16LE(head + 14);
    }
    const int64_t first = (frame.placeable ? PLACEABLE : 0) + HEADER;
    Buffer data = allocBuffer(static_cast<uint64_t>(size));
    if (!data) return ST_NO_MEMORY;
    if (!seekTo(stream, 0)) return ST_READ_ERROR;
    const size_t length = fread(data.get(), 1, static_cast<size_t>(size), stream);
    const uint8_t* d = data.get();

    // The window set before the first drawing sizes a file without a frame.
    double orgX = 0, orgY = 0, extX = 0, extY = 0;
    for (size_t at = static_cast<size_t>(first); at + 6 <= length;) {
        const uint64_t bytes = 2ull * loadU32LE(d + at);
        const uint16_t function = loadU16LE(d + at + 4);
        if (bytes < 6 || bytes > length - at || function == 0) break;
        if (function == 0x020B && bytes >= 10) orgY = static_cast<int16_t>(loadU16LE(d + at + 6)), orgX = static_cast<int16_t>(loadU16LE(d + at + 8));
        if (function == 0x020C && bytes >= 10) extY = static_cast<int16_t>(loadU16LE(d + at + 6)), extX = static_cast<int16_t>(loadU16LE(d + at + 8));
        at += bytes;
    }
    const bool boxed = frame.placeable && frame.right != frame.left && frame.bottom != frame.top;
    double w, h;
    if (boxed) {
        const double inch = frame.inch ? frame.inch : 1440;
        w = std::fabs(frame.right - frame.left) * 96 / inch;
        h = std::fabs(frame.bottom - frame.top) * 96 / inch;
    } else {
        w = std::fabs(extX), h = std::fabs(extY);
        const double longest = std::fmax(w, h);
        if (longest > PLAIN_SIDE) w = w * PLAIN_SIDE / longest, h = h * PLAIN_SIDE / longest;
    }
    const double longest = std::fmax(w, h);
    if (longest > MAX_SIDE) w = w * MAX_SIDE / longest, h = h * MAX_SIDE / longest;
    RasterHeader rh{};
    rh.width = static_cast<int32_t>(std::lround(w));
    rh.height = static_cast<int32_t>(std::lround(h));
    if (rh.width < 1 || rh.height < 1) {
        setReaderMessage(request, MSG_BAD_SIZE);
        return ST_BAD_FILE;
    }
    rh.channels = 3;
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = 3 * rh.width;
    rh.xdpi = rh.ydpi = 96;
    setRasterName(rh.name, frame.placeable ? NAME_PLACEABLE : NAME_PLAIN);
    Status st = checkPictureBudget(rh.width, rh.height, 3);
    if (st != ST_OK) return st;

    const int objectCount = std::min<int>(MAX_OBJECTS, loadU16LE(d + first - HEADER + 10));
    Buffer canvas = allocBuffer(3ull * rh.width * rh.height);
    Buffer objects = allocBuffer(sizeof(Object) * static_cast<uint64_t>(objectCount + 1));
    const size_t maxPoints = std::min<size_t>(MAX_POINTS, length / 4 + 64);
    Buffer points = allocBuffer(sizeof(Point) * maxPoints);
    Buffer counts = allocBuffer(sizeof(int32_t) * (length / 2 + 1));
    if (!canvas || !objects || !points || !counts) return ST_NO_MEMORY;
    memset(canvas.get(), 255, 3ull * rh.width * rh.height);
    Player p{};
    p.canvas = canvas.get();
    p.width = rh.width;
    p.height = rh.height;
    if (extX != 0 && extY != 0) p.orgX = orgX, p.orgY = orgY, p.extX = extX, p.extY = extY;
    else if (boxed) p.orgX = frame.left, p.orgY = frame.top, p.extX = frame.right - frame.left, p.extY = frame.bottom - frame.top;
    else p.extX = rh.width, p.extY = rh.height;
    p.objects = reinterpret_cast<Object*>(objects.get());
    p.objectCount = objectCount;
    p.pen = Object{OBJ_PEN, false, {0, 0, 0}, 0};
    p.brush = Object{OBJ_BRUSH, false, {255, 255, 255}, 0};
    p.points = reinterpret_cast<Point*>(points.get());
    p.counts = reinterpret_cast<int32_t*>(counts.get());

    Status played = ST_OK;
    size_t at = static_cast<size_t>(first);
    for (;;) {
        if (at + 6 > length) {
            played = ST_READ_ERROR;  // no end record
            break;
        }
        const uint64_t bytes = 2ull * loadU32LE(d + at);
        const uint16_t function = loadU16LE(d + at + 4);
        if (function == 0) break;
        if (bytes < 6) {
            played = ST_CORRUPT;
            break;
        }
        if (bytes > length - at) {
            played = ST_READ_ERROR;
            break;
        }
        // Points fit the scratch: a record of n bytes holds at most n / 4 of them.
        playRecord(&p, function, d + at + 6, static_cast<size_t>(bytes - 6));
        at += bytes;
    }

    st = beginImage(&rh);
    if (st != ST_OK) return st;
    for (int32_t y = 0; y < rh.height && st == ST_OK; ++y)
        st = deliverRow(canvas.get() + 3ull * y * rh.width, rh.bytesPerPlane, y);
    endImage(0, 8, nullptr);
    return st != ST_OK ? st : played;
}
