// Headerless YUV and raw samples, whose geometry the user gives (raw width,
// height and offset of the load request), and the fixed-size HRZ picture.
//
// - Packed 16-bit YUV (UYVY): two pixels in four bytes U, Y0, V, Y1, video
//   range (Y 16..235). uyvyi files store the rows in order; uyvy files store
//   the even rows (0, 2, 4...) first and then the odd ones. In a row of odd
//   width the last pixel has only its U and Y; it takes the V of the pair
//   before it (128 in a row of one pixel).
// - Planar YUV 4:1:1 (2x2 chroma subsampling), 4:2:2 (2x1) and 4:4:4: the Y
//   plane, then the U plane, then the V plane.
// - Raw samples: grey or 3 and 4-channel colour, channels interleaved, one
//   channel row after another within each row, or one whole plane after
//   another (channel order 0, 1, 2).
// - HRZ: 256 x 240 pixels of R,G,B bytes holding 6-bit values.
//
// Geometry that does not match the file size makes the file unrecognised, so
// that a wrong setting never garbles a picture (raw data excepted: its file
// may hold more than the picture).
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char NAME_UYVYI[] = "YUV 16Bits Interleaved";
const char NAME_UYVY[] = "YUV 16Bits";
const char NAME_WRITE_UYVYI[] = "YUV 16Bits Interlaced";
const char NAME_HRZ[] = "HRZ";
const char NAME_RAW_GREY[] = "Raw Grey";

constexpr int64_t HRZ_SIZE = 184320;
constexpr int32_t HRZ_WIDTH = 256;
constexpr int32_t HRZ_HEIGHT = 240;

uint8_t clamp16(int32_t v) {
    if (v > 0xFFFFFF) return 0xFF;
    if (v <= 0xFFFF) return 0;
    return static_cast<uint8_t>(v >> 16);
}

// One pixel from Y and the pair's chroma, in 16.16 fixed point.
void uyvyPixel(int y, int u, int v, uint8_t* rgb) {
    const int32_t yy = y > 15 ? (y - 16) * 76310 : 0;
    const int32_t vv = v - 128, uu = u - 128;
    rgb[0] = clamp16(yy + 104635 * vv);
    rgb[1] = clamp16(yy - 53294 * vv - 25690 * uu);
    rgb[2] = clamp16(yy + 132278 * uu);
}

// A stored UYVY row (2 x width bytes) into R,G,B.
void uyvyRow(const void* data, const uint8_t* s, uint8_t* out) {
    const int32_t width = *static_cast<const int32_t*>(data);
    int32_t x = 0;
    for (; x + 1 < width; x += 2, s += 4, out += 6) {
        uyvyPixel(s[1], s[0], s[2], out);
        uyvyPixel(s[3], s[0], s[2], out + 3);
    }
    if (x < width) uyvyPixel(s[1], s[0], x > 0 ? s[-2] : 128, out);  // V of the pair before
}

// Checks the load request's geometry: width and height in range, offset not
// negative, and (when payload is not null) exactly payload(width, height)
// bytes after the offset.
bool rawGeometry(const LoadRequest* r, int32_t* width, int32_t* height, int64_t* offset) {
    if (r->rawWidth < 1 || r->rawWidth > MAX_IMAGE_SIDE || r->rawHeight < 1 || r->rawHeight > MAX_IMAGE_SIDE ||
        r->rawOffset < 0)
        return false;
    *width = r->rawWidth;
    *height = r->rawHeight;
    *offset = r->rawOffset;
    return true;
}

RasterHeader rgbHeader(int32_t width, int32_t height, const char* name) {
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = width;
    rh.height = height;
    rh.planes = 1;
    rh.bitsPerPlane = 24;
    rh.bytesPerPlane = 3 * width;
    setRasterName(rh.name, name);
    return rh;
}

Status readPacked(FILE* f, LoadRequest* request, bool evenRowsFirst) {
    int32_t w, h;
    int64_t offset;
    if (!rawGeometry(request, &w, &h, &offset)) return ST_UNKNOWN_FORMAT;
    const int64_t rowBytes = 2 * int64_t{w};
    if (rowBytes * h + offset != request->fileSize) return ST_UNKNOWN_FORMAT;
    if (!seekTo(f, static_cast<uint64_t>(offset))) return ST_READ_ERROR;
    RasterHeader rh = rgbHeader(w, h, evenRowsFirst ? NAME_UYVY : NAME_UYVYI);
    if (!evenRowsFirst) {
        Status st = beginImage(&rh);
        if (st != ST_OK) return st;
        st = readRows(f, rowBytes, h, -1, uyvyRow, &w);
        endImage(0, 8, nullptr);
        return st;
    }
    // The whole file is the picture: its size was checked above.
    Buffer all = allocBuffer(static_cast<uint64_t>(rowBytes * h));
    if (!all) return ST_NO_MEMORY;
    if (!readBlock(f, all.get(), static_cast<size_t>(rowBytes * h))) return ST_READ_ERROR;
    Buffer rgb = allocBuffer(static_cast<uint64_t>(3 * int64_t{w}));
    if (!rgb) return ST_NO_MEMORY;
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    const int32_t evenRows = (h + 1) / 2;
    for (int32_t y = 0; y < h && st == ST_OK; ++y) {
        const int32_t stored = (y & 1) ? evenRows + y / 2 : y / 2;
        uyvyRow(&w, all.get() + stored * rowBytes, rgb.get());
        st = deliverRow(rgb.get(), 3 * int64_t{w}, y);
    }
    endImage(0, 8, nullptr);
    return st;
}

uint8_t clampDouble(double v) {
    const int i = static_cast<int>(v);  // toward zero
    return static_cast<uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
}

// Planar Y, U, V with chroma planes subsampled by hs across and vs down.
Status readPlanar(FILE* f, LoadRequest* request, int hs, int vs, const char* name) {
    int32_t w, h;
    int64_t offset;
    if (!rawGeometry(request, &w, &h, &offset)) return ST_UNKNOWN_FORMAT;
    const int32_t cw = w / hs, ch = h / vs;
    const int64_t lumaBytes = int64_t{w} * h, chromaBytes = int64_t{cw} * ch;
    if (lumaBytes + 2 * chromaBytes + offset != request->fileSize || cw < 1 || ch < 1) return ST_UNKNOWN_FORMAT;
    Buffer chroma = allocBuffer(static_cast<uint64_t>(2 * chromaBytes));
    Buffer luma = allocBuffer(static_cast<uint64_t>(w));
    Buffer rgb = allocBuffer(static_cast<uint64_t>(3 * int64_t{w}));
    if (!chroma || !luma || !rgb) return ST_NO_MEMORY;
    RasterHeader rh = rgbHeader(w, h, name);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    if (!seekTo(f, static_cast<uint64_t>(offset + lumaBytes)) ||
        !readBlock(f, chroma.get(), static_cast<size_t>(2 * chromaBytes)) || fseek(f, offset, SEEK_SET) != 0) {
        endImage(0, 8, nullptr);
        return ST_READ_ERROR;
    }
    const uint8_t* uPlane = chroma.get();
    const uint8_t* vPlane = chroma.get() + chromaBytes;
    for (int32_t y = 0; y < h && st == ST_OK; ++y) {
        if (!readBlock(f, luma.get(), static_cast<size_t>(w))) {
            st = ST_READ_ERROR;
            break;
        }
        const int32_t cy = y / vs < ch ? y / vs : ch - 1;
        for (int32_t x = 0; x < w; ++x) {
            const int32_t cx = x / hs < cw ? x / hs : cw - 1;
            const double yy = luma[x];
            const double u = uPlane[int64_t{cy} * cw + cx] - 128.0, v = vPlane[int64_t{cy} * cw + cx] - 128.0;
            rgb[3 * x] = clampDouble(yy + 1.1398 * v);
            rgb[3 * x + 1] = clampDouble(yy - 0.336453 * u - 0.698195 * v);
            rgb[3 * x + 2] = clampDouble(yy + 1.732445 * u);
        }
        st = deliverRow(rgb.get(), 3 * int64_t{w}, y);
    }
    endImage(0, 8, nullptr);
    return st;
}

// RGB to UYVY of one row of R,G,B pixels into 2 x width bytes; the chroma of
// each pair weighs a quarter of the previous pair's second pixel, a half of
// its first and a quarter of its second.
// The row's first pair has no previous pair: its first pixel stands in for
// it, so that the left edge keeps its colour.
void rgbToUyvy(const uint8_t* p, int32_t width, uint8_t* out) {
    int32_t yCarry = 0, uCarry = 0, vCarry = 0;
    int32_t uPrev = 7191 * p[2] - 2426 * p[0] - 4765 * p[1];
    int32_t vPrev = 7193 * p[0] - 6023 * p[1] - 1170 * p[2];
    for (int32_t x = 0; x < width; x += 2, p += 6, out += 4) {
        const int32_t r0 = p[0], g0 = p[1], b0 = p[2];
        const bool pair = x + 1 < width;
        const int32_t r1 = pair ? p[3] : r0, g1 = pair ? p[4] : g0, b1 = pair ? p[5] : b0;
        const int32_t y0 = 16829 * r0 + 33039 * g0 + 6416 * b0 + yCarry;
        const int32_t y1 = 16829 * r1 + 33039 * g1 + 6416 * b1 + (y0 & 0xFFFF);
        yCarry = y1 & 0xFFFF;
        const int32_t uq = 7191 * b1 - 2426 * r1 - 4765 * g1;
        const int32_t vq = 7193 * r1 - 6023 * g1 - 1170 * b1;
        const int32_t u = uPrev + 14383 * b0 - 4853 * r0 - 9530 * g0 + uq + uCarry;
        const int32_t v = vPrev + 14386 * r0 - 12046 * g0 - 2340 * b0 + vq + vCarry;
        uCarry = u & 0xFFFF;
        vCarry = v & 0xFFFF;
        uPrev = uq;
        vPrev = vq;
        out[0] = static_cast<uint8_t>((u >> 16) + 128);
        out[1] = static_cast<uint8_t>((y0 >> 16) + 16);
        if (!pair) break;  // the last pixel of an odd row: U and Y only
        out[2] = static_cast<uint8_t>((v >> 16) + 128);
        out[3] = static_cast<uint8_t>((y1 >> 16) + 16);
    }
}

Status writePacked(FILE* f, SaveRequest* request, bool evenRowsFirst) {
    if (request->kind != KIND_ANY_TRUECOLOUR) return ST_KIND_REFUSED;
    const int32_t w = request->width, h = request->height;
    if (w < 1 || h < 1) return ST_KIND_REFUSED;
    const int64_t rowBytes = 2 * int64_t{w};
    Buffer yuv = allocBuffer(static_cast<uint64_t>(evenRowsFirst ? rowBytes * h : rowBytes));
    if (!yuv) return ST_NO_MEMORY;
    WriteHeader wh{};
    wh.channels = 1;
    wh.planes = 1;
    wh.bitsPerPlane = 24;
    wh.bytesPerPlane = 3 * w;
    setRasterName(wh.name, evenRowsFirst ? NAME_UYVY : NAME_WRITE_UYVYI);
    Status st = beginWrite(&wh);
    if (st != ST_OK) return st;
    for (int32_t y = 0; y < h && st == ST_OK; ++y) {
        st = getRows(y, 1);
        if (st != ST_OK) break;
        uint8_t* out = yuv.get() + (evenRowsFirst ? y * rowBytes : 0);
        rgbToUyvy(wh.rowBuffer, w, out);
        if (!evenRowsFirst && !writeBlock(f, out, static_cast<size_t>(rowBytes))) st = ST_WRITE_ERROR;
    }
    endWrite();
    for (int pass = 0; evenRowsFirst && pass < 2 && st == ST_OK; ++pass)
        for (int32_t y = pass; y < h && st == ST_OK; y += 2)
            if (!writeBlock(f, yuv.get() + y * rowBytes, static_cast<size_t>(rowBytes))) st = ST_WRITE_ERROR;
    if (st == ST_OK && fflush(f) != 0) st = ST_WRITE_ERROR;
    return st;
}

void hrzRow(const void*, const uint8_t* s, uint8_t* out) {
    for (int i = 0; i < 3 * HRZ_WIDTH; ++i) out[i] = static_cast<uint8_t>((s[i] & 0x3F) * 255 / 63);
}

struct RawType {
    int channels;
    uint16_t layout;
    const char* name;
};

RawType rawType(int type) {
    switch (type) {
    case 2: return {3, PL_REVERSED, "BGR"};
    case 3: return {4, 0, "RGBA"};
    case 4: return {4, PL_REVERSED, "ABGR"};
    case 5: return {3, PL_CMYK_INV, "CMY"};
    case 6: return {4, PL_CMYK, "CMYK"};
    default: return {3, 0, "RGB"};
    }
}

}  // namespace

bool acceptHrz(const uint8_t*, size_t, int64_t fileSize) { return fileSize == HRZ_SIZE; }

Status readHrz(FILE* stream, LoadRequest* request) {
    if (request->fileSize != HRZ_SIZE) return ST_UNKNOWN_FORMAT;
    RasterHeader rh = rgbHeader(HRZ_WIDTH, HRZ_HEIGHT, NAME_HRZ);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    st = readRows(stream, 3 * HRZ_WIDTH, HRZ_HEIGHT, -1, hrzRow, nullptr);
    endImage(0, 8, nullptr);
    return st;
}

Status readUyvyi(FILE* stream, LoadRequest* request) { return readPacked(stream, request, false); }
Status readUyvy(FILE* stream, LoadRequest* request) { return readPacked(stream, request, true); }
Status writeUyvyi(FILE* stream, SaveRequest* request) { return writePacked(stream, request, false); }
Status writeUyvy(FILE* stream, SaveRequest* request) { return writePacked(stream, request, true); }
Status readYuv411(FILE* stream, LoadRequest* request) { return readPlanar(stream, request, 2, 2, "YUV 4:1:1"); }
Status readYuv422(FILE* stream, LoadRequest* request) { return readPlanar(stream, request, 2, 1, "YUV 4:2:2"); }
Status readYuv444(FILE* stream, LoadRequest* request) { return readPlanar(stream, request, 1, 1, "YUV 4:4:4"); }

Status readRaw(FILE* stream, LoadRequest* request) {
    int32_t w, h;
    int64_t offset;
    if (!rawGeometry(request, &w, &h, &offset)) return ST_UNKNOWN_FORMAT;
    if (!seekTo(stream, static_cast<uint64_t>(offset))) return ST_READ_ERROR;
    RasterHeader rh{};
    rh.channels = 1;
    rh.width = w;
    rh.height = h;
    Status st;
    if (request->rawLayout == 0) {
        rh.planes = 1;
        rh.bitsPerPlane = 8;
        rh.bytesPerPlane = w;
        setRasterName(rh.name, NAME_RAW_GREY);
        st = beginImage(&rh);
        if (st != ST_OK) return st;
        st = readRows(stream, w, h);
        endImage(0, 8, nullptr);
        return st;
    }
    const RawType t = rawType(request->rawLayout);
    const int order = request->rawParameter == 1 || request->rawParameter == 2 ? request->rawParameter : 0;
    rh.layout = t.layout;
    char name[RASTER_NAME_LEN];
    if (order == 0) {
        rh.planes = 1;
        rh.bitsPerPlane = static_cast<int16_t>(8 * t.channels);
        rh.bytesPerPlane = t.channels * w;
        snprintf(name, sizeof name, "Raw %s (Interleaved)", t.name);
    } else {
        rh.planes = static_cast<int16_t>(t.channels);
        rh.bitsPerPlane = 8;
        rh.bytesPerPlane = w;
        if (order == 2) rh.layout |= PL_CHANNEL_PLANES;
        snprintf(name, sizeof name, order == 1 ? "Raw %s (Row separate)" : "Raw %s (Plane separate)", t.name);
    }
    setRasterName(rh.name, name);
    st = beginImage(&rh);
    if (st != ST_OK) return st;
    if (order != 2) {
        st = readRows(stream, int64_t{t.channels} * w, h);
    } else {
        st = ST_OK;
        for (int p = 0; p < t.channels && st == ST_OK; ++p) st = readRows(stream, w, h, p);
    }
    endImage(0, 8, nullptr);
    return st;
}
