// The Atari screen kit: modes, row shapes, palette words and Degas Elite runs.
#include "atari.h"

#include <cstring>

#include "stream.h"

namespace {

const StMode MODES[ST_MODE_COUNT] = {
    {320, 200, 4, 75, 68},    // ST low
    {640, 200, 2, 150, 68},   // ST medium
    {640, 400, 1, 68, 68},    // ST high
    {320, 480, 8, 75, 68},    // TT low
    {640, 480, 4, 68, 68},    // TT medium
    {1280, 960, 1, 68, 68},   // TT high
};

}  // namespace

const StMode& stMode(int code) { return MODES[code >= 0 && code < ST_MODE_COUNT ? code : 0]; }

int64_t stRowBytes(int code) {
    const StMode& m = stMode(code);
    return int64_t(m.planes) * stPlaneRowBytes(m.width);
}

int64_t stScreenBytes(int code) { return stRowBytes(code) * stMode(code).height; }

Status stBeginScreen(int code, uint16_t layout, const char* name, const char* compression, RasterHeader* rh) {
    const StMode& m = stMode(code);
    *rh = RasterHeader{};
    rh->layout = layout;
    rh->channels = 1;
    rh->width = m.width;
    rh->height = m.height;
    rh->planes = m.planes;
    rh->bitsPerPlane = 1;
    rh->bytesPerPlane = stPlaneRowBytes(m.width);
    rh->xdpi = m.xdpi;
    rh->ydpi = m.ydpi;
    rh->compression = compression;
    setRasterName(rh->name, name);
    return beginImage(rh);
}

Status stDeliverRows(const uint8_t* screen, int64_t rowBytes, int32_t rows) {
    for (int32_t y = 0; y < rows; ++y) {
        const Status st = deliverRow(screen + y * rowBytes, rowBytes, y);
        if (st != ST_OK) return st;
    }
    return ST_OK;
}

bool stPaletteWordsPlausible(const uint8_t* words, int n) {
    for (int i = 0; i < n; ++i)
        if (words[2 * i] & 0xF0) return false;
    return true;
}

uint16_t stPaletteForm(const uint8_t* words, int n) {
    for (int i = 0; i < n; ++i)
        if (loadU16BE(words + 2 * i) & 0x0888) return PF_STE12;
    return PF_ST9;
}

Status stEndPalette(const uint8_t* words) {
    const uint16_t form = stPaletteForm(words, 16);
    return endImage(form, form == PF_ST9 ? 3 : 4, words);
}

void stWordToRgb(unsigned word, uint8_t* rgb) {
    rgb[0] = static_cast<uint8_t>(((word >> 8) & 7) * 255 / 7);
    rgb[1] = static_cast<uint8_t>(((word >> 4) & 7) * 255 / 7);
    rgb[2] = static_cast<uint8_t>((word & 7) * 255 / 7);
}

void stPlanarIndices(const uint8_t* row, int32_t planeBytes, int planes, int32_t width, uint8_t* out) {
    memset(out, 0, static_cast<size_t>(width));
    for (int p = 0; p < planes; ++p) {
        const uint8_t* plane = row + int64_t(p) * planeBytes;
        for (int32_t x = 0; x < width; ++x)
            out[x] = static_cast<uint8_t>(out[x] | (((plane[x >> 3] >> (7 - (x & 7))) & 1) << p));
    }
}

void stInterleavedToPlanar(const uint8_t* in, int32_t planeBytes, int planes, uint8_t* out) {
    const int32_t groups = planeBytes / 2;
    for (int32_t g = 0; g < groups; ++g)
        for (int p = 0; p < planes; ++p) {
            const uint8_t* word = in + (int64_t(g) * planes + p) * 2;
            uint8_t* dst = out + int64_t(p) * planeBytes + 2 * g;
            dst[0] = word[0];
            dst[1] = word[1];
        }
}

Status stUnpackDegasRuns(FILE* f, RowFeed* feed) {
    Status st = ST_OK;
    while (st == ST_OK && !feed->done()) {
        const int n = getc(f);
        if (n == EOF) return feed->cut();
        if (n >= 128) {
            const int v = getc(f);
            if (v == EOF) return feed->cut();
            st = feed->repeat(static_cast<uint8_t>(v), 257 - n);
            continue;
        }
        uint8_t literal[128];
        const size_t got = fread(literal, 1, static_cast<size_t>(n) + 1, f);
        st = feed->put(literal, static_cast<int64_t>(got));
        if (st == ST_OK && got < static_cast<size_t>(n) + 1) return feed->cut();
    }
    return st;
}
