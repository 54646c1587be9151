// Pictures made of several bands, as scanners and screen grabbers write them:
// every bits opcode is drawn at its destination rectangle into the picture
// frame (its source rectangle stretched to the nearest pixel, clipped to the
// frame), white where no band falls, and the frame is delivered at the end.
#include <algorithm>
#include <cstring>

#include "pictint.h"
#include "rowkit.h"

namespace pict {
namespace {

// The whole picture frame, drawn band after band: colour canvases start white
// (and opaque), black-and-white canvases hold the bitmap values, 0 white.
struct Canvas {
    PictRect frame{};
    int64_t width = 0, height = 0;
    int unit = 1;     // bytes a pixel: 1 (black and white), 3, or 4 with alpha
    Buffer pixels;
    int64_t budget = 0;  // pixels the bands may still draw: stretched bands cannot run forever
};

// Bands may paint the frame over this many times.
constexpr int64_t OVERDRAW = 4;

inline int64_t ceilDiv(int64_t a, int64_t b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }

// One unpacked band row as canvas pixels (width of them).
void bandRowToCanvas(const Band& band, const uint8_t* row, int64_t width, int unit, uint8_t* out) {
    for (int64_t x = 0; x < width; ++x, out += unit) {
        uint8_t r = 0, g = 0, b = 0, a = 255;
        switch (band.pixels) {
        case BandPixels::Bits: {
            const int bit = (row[x >> 3] >> (7 - (x & 7))) & 1;
            if (unit == 1) {
                out[0] = static_cast<uint8_t>(bit);
                continue;
            }
            r = g = b = bit ? 0 : 255;
            break;
        }
        case BandPixels::Indexed: {
            const int bits = band.rh.bitsPerPlane;
            const int64_t bitPos = x * bits;
            const int index = (row[bitPos >> 3] >> (8 - bits - (bitPos & 7))) & ((1 << bits) - 1);
            const uint8_t* c = band.palette.get() + 3 * index;
            r = c[0], g = c[1], b = c[2];
            break;
        }
        case BandPixels::Rgb555: {
            const uint16_t v = loadU16BE(row + 2 * x);
            r = static_cast<uint8_t>(((v >> 10) & 31) * 255 / 31);
            g = static_cast<uint8_t>(((v >> 5) & 31) * 255 / 31);
            b = static_cast<uint8_t>((v & 31) * 255 / 31);
            break;
        }
        case BandPixels::Triplets:
            r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
            break;
        case BandPixels::Whole:
            if (band.cmpCount == 4) a = row[4 * x];
            r = row[4 * x + 1], g = row[4 * x + 2], b = row[4 * x + 3];
            break;
        case BandPixels::Planes: {
            const uint8_t* p = row + (band.cmpCount == 4 ? width : 0);
            if (band.cmpCount == 4) a = row[x];
            r = p[x], g = p[width + x], b = p[2 * width + x];
            break;
        }
        }
        out[0] = r;
        out[1] = g;
        out[2] = b;
        if (unit == 4) out[3] = a;
    }
}

// Decodes a band's rows and draws its source rectangle into its destination
// rectangle (nearest pixel when the two differ in size), clipped to the frame.
Status drawBand(PictInput* in, Band* band, Canvas* canvas) {
    const int64_t width = rectWidth(band->bounds), height = rectHeight(band->bounds);
    const PictRect& s = band->src;
    const PictRect& d = band->dst;
    const PictRect& f = canvas->frame;
    const int64_t srcW = rectWidth(s), srcH = rectHeight(s), dstW = rectWidth(d), dstH = rectHeight(d);
    // A black-and-white canvas takes bitmaps only (the first walk saw no other band).
    const bool fits = canvas->unit > 1 || band->pixels == BandPixels::Bits;
    const bool visible = fits && srcW > 0 && srcH > 0 && dstW > 0 && dstH > 0;

    // Canvas column -> band column, for the destination columns inside the frame.
    const int64_t left = std::max<int64_t>(d.left, f.left), right = std::min<int64_t>(d.right, f.right);
    const int64_t columns = visible && right > left ? right - left : 0;
    Buffer map = allocBuffer(static_cast<uint64_t>(columns) * 2 * sizeof(int32_t));
    const int64_t minRow = (width + 7) / 8 * std::max<int64_t>(1, band->rh.bitsPerPlane);
    const int64_t rowSize = std::max<int64_t>(band->coding.unpacked, std::max<int64_t>(minRow, 4 * width));
    Buffer row = allocBuffer(static_cast<uint64_t>(rowSize));
    Buffer pixels = allocBuffer(static_cast<uint64_t>(width) * canvas->unit);
    Buffer packed = band->coding.packed ? allocBuffer(MAX_PACKED_ROW + 1) : Buffer();
    if (!map || !row || !pixels || (band->coding.packed && !packed)) return ST_NO_MEMORY;
    int32_t* cols = reinterpret_cast<int32_t*>(map.get());
    int64_t used = 0;
    for (int64_t xd = left; xd < left + columns; ++xd) {
        const int64_t xs = s.left + (xd - d.left) * srcW / dstW - band->bounds.left;
        if (xs < 0 || xs >= width) continue;
        cols[2 * used] = static_cast<int32_t>(xd - f.left);
        cols[2 * used + 1] = static_cast<int32_t>(xs);
        ++used;
    }

    Status st = ST_OK;
    const int unit = canvas->unit;
    for (int64_t r = 0; r < height && st == ST_OK; ++r) {
        memset(row.get(), 0, static_cast<size_t>(rowSize));
        st = readRow(in, &band->coding, packed.get(), row.get(), r == 0);
        const int64_t a = band->bounds.top + r - s.top;  // row within the source rectangle
        if (!visible || a < 0 || a >= srcH || used == 0) continue;
        bandRowToCanvas(*band, row.get(), width, unit, pixels.get());
        const int64_t y0 = std::max<int64_t>(d.top + ceilDiv(a * dstH, srcH), f.top);
        const int64_t y1 = std::min<int64_t>(d.top + ceilDiv((a + 1) * dstH, srcH), f.bottom);
        if (y1 > y0) {
            canvas->budget -= (y1 - y0) * used;
            if (canvas->budget < 0) return ST_CORRUPT;
        }
        for (int64_t y = y0; y < y1; ++y) {
            uint8_t* out = canvas->pixels.get() + (y - f.top) * canvas->width * unit;
            for (int64_t i = 0; i < used; ++i)
                memcpy(out + int64_t(cols[2 * i]) * unit, pixels.get() + int64_t(cols[2 * i + 1]) * unit,
                       static_cast<size_t>(unit));
        }
    }
    return st;
}


}  // namespace

// Counts the bands up to the end of the picture (or where the data end),
// skipping their rows.
BandSurvey surveyBands(PictInput* in, int version, LoadRequest* request) {
    BandSurvey survey;
    for (;;) {
        uint16_t op;
        if (readOpcode(in, version, &op) != ST_OK || op == OP_END) break;
        if (!isBitsOpcode(op)) {
            if (!skipOpcodeData(in, op, version)) break;
            continue;
        }
        Band band;
        if (readBandHeader(in, op, false, &band, request) != ST_OK) break;
        ++survey.count;
        survey.allBitmaps = survey.allBitmaps && band.pixels == BandPixels::Bits;
        survey.alpha = survey.alpha || band.alpha();
        survey.direct = survey.direct || (op == OP_DIRECT_BITS_RECT || op == OP_DIRECT_BITS_RGN);
        const int64_t h = rectHeight(band.bounds);
        if (!skipRows(in, band.coding, h > 0 ? h : 0)) break;
    }
    return survey;
}

// Draws every band of the picture into its frame, then delivers the frame.
Status composeBands(PictInput* in, int version, const PictRect& frame, const BandSurvey& survey,
                    LoadRequest* request) {
    if (!sizeFits(frame)) return badFile(request, MSG_BAD_SIZE);
    Canvas canvas;
    canvas.frame = frame;
    canvas.width = rectWidth(frame);
    canvas.height = rectHeight(frame);
    canvas.unit = survey.allBitmaps ? 1 : survey.alpha ? 4 : 3;
    canvas.budget = OVERDRAW * canvas.width * canvas.height;

    RasterHeader rh{};
    rh.channels = 1;
    rh.planes = 1;
    rh.width = static_cast<int32_t>(canvas.width);
    rh.height = static_cast<int32_t>(canvas.height);
    rh.layout = canvas.unit == 1 ? PL_BYTE_PIXELS : 0;
    rh.bitsPerPlane = static_cast<int16_t>(canvas.unit == 1 ? 1 : 8 * canvas.unit);
    rh.bytesPerPlane = static_cast<int32_t>(canvas.width * canvas.unit);
    setRasterName(rh.name, canvas.unit == 1 ? NAME_BITMAP : survey.direct ? NAME_DIRECT : NAME_PIXMAP);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;
    const uint16_t paletteFormat = canvas.unit == 1 ? PF_INVERT : 0;
    canvas.pixels = allocBuffer(static_cast<uint64_t>(canvas.width) * static_cast<uint64_t>(canvas.height) *
                                static_cast<uint64_t>(canvas.unit));
    if (!canvas.pixels) {
        endImage(paletteFormat, 8, nullptr);
        return ST_NO_MEMORY;
    }
    if (canvas.unit > 1) memset(canvas.pixels.get(), 0xFF, static_cast<size_t>(canvas.width * canvas.height * canvas.unit));

    for (;;) {
        uint16_t op;
        st = readOpcode(in, version, &op);
        if (st != ST_OK || op == OP_END) break;
        if (!isBitsOpcode(op)) {
            if (!skipOpcodeData(in, op, version)) st = ST_READ_ERROR;
        } else {
            Band band;
            st = readBandHeader(in, op, true, &band, request);
            if (st == ST_BAD_FILE && in->ended()) {
                // A header cut by the end of the file: the bands before it stay.
                request->message[0] = '\0';
                st = ST_READ_ERROR;
            }
            if (st == ST_OK) st = drawBand(in, &band, &canvas);
        }
        if (st != ST_OK) break;
    }
    if (st != ST_OK && st != ST_READ_ERROR && st != ST_CORRUPT) {
        endImage(paletteFormat, 8, nullptr);
        return st;
    }
    // What was drawn, the rest white, even when the data ended early or went wrong.
    const size_t rowBytes = static_cast<size_t>(canvas.width * canvas.unit);
    for (int64_t y = 0; y < canvas.height; ++y) {
        Status put = deliverRow(canvas.pixels.get() + static_cast<size_t>(y) * rowBytes,
                                static_cast<int64_t>(rowBytes), static_cast<int32_t>(y));
        if (put != ST_OK) {
            st = put;
            break;
        }
    }
    endImage(paletteFormat, 8, nullptr);
    return st;
}

}  // namespace pict
