// Tone and colour adjustments through 256-entry lookup tables.
#include "tone.h"

#include <cmath>
#include <cstring>

#include "opsupport.h"

namespace {

inline uint8_t clampByte(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Entries of the palette in use: the colours field, or all 256 when it is out of range.
int paletteEntries(const Image* image) {
    return (image->colours >= 1 && image->colours <= 256) ? image->colours : 256;
}

// Copies the pixel rows of source into result (same kind and width).
void copyRows(const Image* source, Image* result) {
    size_t bytes = static_cast<size_t>(source->width) * source->bytesPerPixel;
    for (int32_t y = 0; y < source->height; ++y) memcpy(imageRow(result, y), imageRow(source, y), bytes);
}

// Result of the same kind and size as source, with its colours and (for
// palette pictures) a copy of its palette.
bool createCopyShape(Image* result, const Image* source) {
    return createLike(source, source->kind, source->width, source->height, result);
}

// Passes every colour byte of a true-colour row through the tables of its
// channel (red, green, blue); the fourth byte is copied.
void mapTrueColourRow(const uint8_t* s, uint8_t* d, int32_t width, int bpp, const ChannelOffsets& off,
                      const uint8_t* tr, const uint8_t* tg, const uint8_t* tb) {
    const int ro = off.r, go = off.g, bo = off.b, xo = off.x;
    for (int32_t x = 0; x < width; ++x, s += bpp, d += bpp) {
        d[ro] = tr[s[ro]];
        d[go] = tg[s[go]];
        d[bo] = tb[s[bo]];
        if (xo >= 0) d[xo] = s[xo];
    }
}

Status finish(Image* source, Image* destination, Image* result) {
    commitResult(source, destination, result);
    return ST_OK;
}

// Per-channel tables indexed by colour (0 red, 1 green, 2 blue); one-byte
// pictures use table 0 only.
struct ChannelTables {
    uint8_t t[3][256];
};

// Histograms of red, green and blue (grey pictures fill channel 0 only).
struct Histograms {
    uint64_t h[3][256];
};

void histograms(const Image* image, Histograms* hist) {
    memset(hist, 0, sizeof *hist);
    const int32_t w = image->width, h = image->height;
    if (image->bytesPerPixel == 1) {
        uint64_t counts[256] = {0};
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* p = imageRow(image, y);
            for (int32_t x = 0; x < w; ++x) ++counts[p[x]];
        }
        if (image->kind == IMG_PALETTE) {
            // A palette picture counts the colours its pixels show.
            for (int v = 0; v < 256; ++v)
                for (int c = 0; c < 3; ++c) hist->h[c][image->palette[256 * c + v]] += counts[v];
        } else {
            memcpy(hist->h[0], counts, sizeof counts);
        }
        return;
    }
    ChannelOffsets off = channelOffsets(image->kind);
    const int bpp = image->bytesPerPixel;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* p = imageRow(image, y);
        for (int32_t x = 0; x < w; ++x, p += bpp) {
            ++hist->h[0][p[off.r]];
            ++hist->h[1][p[off.g]];
            ++hist->h[2][p[off.b]];
        }
    }
}

// Applies per-channel tables to a picture that is palette, 256-level grey or
// true colour (binary and few-level grey are spread by the caller first).
Status applyChannelTables(Image* source, Image* destination, const Image* work, const ChannelTables& tables) {
    OwnedImage result;
    if (!createCopyShape(&result, work)) return ST_NO_MEMORY;
    const int32_t w = work->width, h = work->height;
    if (work->kind == IMG_PALETTE) {
        copyRows(work, &result);
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 256; ++i) result.palette[256 * c + i] = tables.t[c][work->palette[256 * c + i]];
    } else if (work->bytesPerPixel == 1) {
        result.colours = 256;
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = imageRow(work, y);
            uint8_t* d = imageRow(&result, y);
            for (int32_t x = 0; x < w; ++x) d[x] = tables.t[0][s[x]];
        }
    } else {
        ChannelOffsets off = channelOffsets(work->kind);
        for (int32_t y = 0; y < h; ++y)
            mapTrueColourRow(imageRow(work, y), imageRow(&result, y), w, work->bytesPerPixel, off, tables.t[0],
                             tables.t[1], tables.t[2]);
    }
    return finish(source, destination, &result);
}

enum class HistogramTable { Normalise, Equalise };

Status histogramOperation(Image* source, Image* destination, HistogramTable which) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    OwnedImage spread;
    const Image* work = nullptr;
    Status st = spreadGreyLevels(source, &spread, &work);
    if (st != ST_OK) return st;
    OpArray<Histograms> hist = allocOpArray<Histograms>(1);
    OpArray<ChannelTables> tables = allocOpArray<ChannelTables>(1);
    if (!hist || !tables) return ST_NO_MEMORY;
    histograms(work, hist.get());
    int channels = work->bytesPerPixel == 1 && work->kind != IMG_PALETTE ? 1 : 3;
    for (int c = 0; c < 3; ++c) {
        uint8_t* t = tables[0].t[c];
        const uint64_t* hc = hist[0].h[c];
        if (c >= channels) {
            for (int j = 0; j < 256; ++j) t[j] = static_cast<uint8_t>(j);
            continue;
        }
        if (which == HistogramTable::Normalise) {
            int lo = 0, hi = 255;
            while (lo < 255 && hc[lo] == 0) ++lo;
            while (hi > 0 && hc[hi] == 0) --hi;
            for (int j = 0; j < 256; ++j) {
                if (hi <= lo)
                    t[j] = static_cast<uint8_t>(j);  // a single value (or none): left as it is
                else
                    t[j] = j < lo ? 0 : j > hi ? 255 : static_cast<uint8_t>((j - lo) * 255 / (hi - lo));
            }
        } else {
            uint64_t cum[256];
            uint64_t run = 0;
            for (int j = 0; j < 256; ++j) cum[j] = run += hc[j];
            uint64_t range = cum[255] - cum[0];
            if (range < 1) range = 1;
            for (int j = 0; j < 256; ++j)
                t[j] = clampByte(static_cast<int>((cum[j] - cum[0]) * 255.0 / static_cast<double>(range)));
        }
    }
    return applyChannelTables(source, destination, work, tables[0]);
}

const ToneCommand kToneCommands[TONE_COMMAND_COUNT] = {
    {83, "Luminosité...", -255, 255, 0},
    {84, "Contraste...", -127, 127, 0},
    {85, "Gamma...", 1, 500, 100},
    {86, "Balance des couleurs...", -100, 100, 0},
    {87, "Négatif", 0, 0, 0},
    {88, "Lut Logarithmique", 0, 0, 0},
    {89, "Normalise", 0, 0, 0},
    {90, "Egualise", 0, 0, 0},
    {91, "Solarise...", 0, 255, 128},
    {92, "Posterise...", 0, 7, 7},
    {100, "RGB->RBG", 0, 0, 0},
    {101, "RGB->BGR", 0, 0, 0},
    {102, "RGB->BRG", 0, 0, 0},
    {103, "RGB->GRB", 0, 0, 0},
    {104, "RGB->GBR", 0, 0, 0},
};

}  // namespace

// ---- Tables -----------------------------------------------------------------

void negativeTable(uint8_t table[256]) {
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(255 - i);
}

void logTable(uint8_t table[256]) {
    const double scale = 255.0 / std::log(256.0);
    for (int i = 0; i < 256; ++i) table[i] = clampByte(static_cast<int>(scale * std::log(i + 1.0)));
}

void brightnessTable(int delta, uint8_t table[256]) {
    if (delta > 255) delta = 255;
    if (delta < -255) delta = -255;
    for (int i = 0; i < 256; ++i) table[i] = clampByte(i + delta);
}

bool contrastTable(int c, uint8_t table[256]) {
    if (c < -127 || c > 127) return false;
    for (int i = 0; i < 256; ++i) {
        double v = c > 0 ? (i - c) * 255.0 / (255.0 - 2.0 * c) : (2.0 * c + 255.0) * i / 255.0 - c;
        // Clamp before the conversion so that no value leaves the int range.
        if (v < 0) v = 0;
        if (v > 255) v = 255;
        table[i] = static_cast<uint8_t>(static_cast<int>(v));
    }
    return true;
}

bool gammaTable(double gamma, uint8_t table[256]) {
    if (!(gamma > 0) || !std::isfinite(gamma)) return false;
    const double e = 1.0 / gamma;
    for (int i = 0; i < 256; ++i) {
        double v = std::pow(i / 255.0, e) * 255.0 + 0.5;
        table[i] = clampByte(static_cast<int>(v > 255.0 ? 255.0 : v));
    }
    return true;
}

void solariseTable(int threshold, uint8_t table[256]) {
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i <= threshold ? i : 255 - i);
}

bool posteriseTable(int levels, uint8_t table[256]) {
    if (levels < 2 || levels > 256) return false;
    const int step = 255 / (levels - 1);
    const int block = 256 / levels;
    int value = 0;
    int s = 0;
    for (; s < 256 && s + step < 256; s += block) {
        for (int i = s; i < s + block && i < 256; ++i) table[i] = static_cast<uint8_t>(value);
        value += step;
    }
    for (; s < 256; ++s) table[s] = 255;
    return true;
}

// ---- Applying tables --------------------------------------------------------

Status applyTable(Image* source, Image* destination, const uint8_t table[256]) {
    if (!opImageValid(source) || !table) return ST_KIND_REFUSED;
    OwnedImage result;
    if (!createCopyShape(&result, source)) return ST_NO_MEMORY;
    const int32_t w = source->width, h = source->height;
    if (source->kind == IMG_PALETTE) {
        copyRows(source, &result);
        int n = paletteEntries(source);
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < n; ++i) result.palette[256 * c + i] = table[source->palette[256 * c + i]];
        return finish(source, destination, &result);
    }
    if (source->bytesPerPixel == 1) {
        // Binary and few-level grey pictures: the table is adapted to the k levels in use.
        uint8_t adapted[256];
        const uint8_t* t = table;
        int k = greyLevels(source);
        if (k < 256) {
            memset(adapted, 0, sizeof adapted);
            for (int i = 0; i < k; ++i) adapted[i] = static_cast<uint8_t>((k - 1) * table[i * 255 / (k - 1)] / 255);
            t = adapted;
        }
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = imageRow(source, y);
            uint8_t* d = imageRow(&result, y);
            for (int32_t x = 0; x < w; ++x) d[x] = t[s[x]];
        }
        return finish(source, destination, &result);
    }
    if (source->bytesPerPixel == 3) {
        const int32_t n = 3 * w;
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s = imageRow(source, y);
            uint8_t* d = imageRow(&result, y);
            for (int32_t i = 0; i < n; ++i) d[i] = table[s[i]];
        }
        return finish(source, destination, &result);
    }
    ChannelOffsets off = channelOffsets(source->kind);
    for (int32_t y = 0; y < h; ++y)
        mapTrueColourRow(imageRow(source, y), imageRow(&result, y), w, 4, off, table, table, table);
    return finish(source, destination, &result);
}

Status negativeImage(Image* source, Image* destination) {
    uint8_t t[256];
    negativeTable(t);
    return applyTable(source, destination, t);
}

Status logImage(Image* source, Image* destination) {
    uint8_t t[256];
    logTable(t);
    return applyTable(source, destination, t);
}

Status brightnessImage(Image* source, Image* destination, int delta) {
    uint8_t t[256];
    brightnessTable(delta, t);
    return applyTable(source, destination, t);
}

Status contrastImage(Image* source, Image* destination, int contrast) {
    uint8_t t[256];
    if (!contrastTable(contrast, t)) return ST_OP_BAD_PARAMETER;
    return applyTable(source, destination, t);
}

Status gammaImage(Image* source, Image* destination, double gamma) {
    uint8_t t[256];
    if (!gammaTable(gamma, t)) return ST_OP_BAD_PARAMETER;
    return applyTable(source, destination, t);
}

Status solariseImage(Image* source, Image* destination, int threshold) {
    uint8_t t[256];
    solariseTable(threshold, t);
    return applyTable(source, destination, t);
}

Status posteriseImage(Image* source, Image* destination, int levels) {
    uint8_t t[256];
    if (!posteriseTable(levels, t)) return ST_OP_BAD_PARAMETER;
    return applyTable(source, destination, t);
}

Status normaliseImage(Image* source, Image* destination) {
    return histogramOperation(source, destination, HistogramTable::Normalise);
}

Status equaliseImage(Image* source, Image* destination) {
    return histogramOperation(source, destination, HistogramTable::Equalise);
}

Status colourBalanceImage(Image* source, Image* destination, int red, int green, int blue) {
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    OwnedImage spread;
    const Image* work = nullptr;
    Status st = spreadGreyLevels(source, &spread, &work);
    if (st != ST_OK) return st;
    ChannelTables tables;
    brightnessTable(red, tables.t[0]);
    brightnessTable(green, tables.t[1]);
    brightnessTable(blue, tables.t[2]);
    return applyChannelTables(source, destination, work, tables);
}

Status swapChannels(Image* source, Image* destination, int mode) {
    // Source channel (0 red, 1 green, 2 blue) of the result's red, green, blue.
    static const int kFrom[5][3] = {{0, 2, 1}, {2, 1, 0}, {1, 2, 0}, {1, 0, 2}, {2, 0, 1}};
    if (!opImageValid(source)) return ST_KIND_REFUSED;
    if (mode < 0 || mode > 4) return ST_OP_BAD_PARAMETER;
    OwnedImage result;
    if (!createCopyShape(&result, source)) return ST_NO_MEMORY;
    const int* from = kFrom[mode];
    if (source->bytesPerPixel == 1) {
        copyRows(source, &result);
        if (source->kind == IMG_PALETTE)
            for (int c = 0; c < 3; ++c) memcpy(result.palette + 256 * c, source->palette + 256 * from[c], 256);
        return finish(source, destination, &result);
    }
    ChannelOffsets off = channelOffsets(source->kind);
    const int pos[3] = {off.r, off.g, off.b};
    const int d0 = pos[0], d1 = pos[1], d2 = pos[2];
    const int s0 = pos[from[0]], s1 = pos[from[1]], s2 = pos[from[2]];
    const int xo = off.x, bpp = source->bytesPerPixel;
    const int32_t w = source->width;
    for (int32_t y = 0; y < source->height; ++y) {
        const uint8_t* s = imageRow(source, y);
        uint8_t* d = imageRow(&result, y);
        for (int32_t x = 0; x < w; ++x, s += bpp, d += bpp) {
            d[d0] = s[s0];
            d[d1] = s[s1];
            d[d2] = s[s2];
            if (xo >= 0) d[xo] = s[xo];
        }
    }
    return finish(source, destination, &result);
}

const ToneCommand* toneCommands() {
    return kToneCommands;
}

// ---- Batch entries ----------------------------------------------------------

Status opNegate(Image* image, const OpInstance&) {
    return negativeImage(image, nullptr);
}
Status opBrightness(Image* image, const OpInstance& op) {
    return brightnessImage(image, nullptr, op.ints[0]);
}
Status opContrast(Image* image, const OpInstance& op) {
    return contrastImage(image, nullptr, op.ints[0]);
}
Status opGamma(Image* image, const OpInstance& op) {
    return gammaImage(image, nullptr, op.reals[0]);
}
Status opBalance(Image* image, const OpInstance& op) {
    return colourBalanceImage(image, nullptr, op.ints[0], op.ints[1], op.ints[2]);
}
Status opLog(Image* image, const OpInstance&) {
    return logImage(image, nullptr);
}
Status opSolarize(Image* image, const OpInstance& op) {
    return solariseImage(image, nullptr, op.ints[0]);
}
Status opPosterize(Image* image, const OpInstance& op) {
    return posteriseImage(image, nullptr, op.ints[0]);
}
Status opNormalize(Image* image, const OpInstance&) {
    return normaliseImage(image, nullptr);
}
Status opEqualize(Image* image, const OpInstance&) {
    return equaliseImage(image, nullptr);
}
Status opSwap(Image* image, const OpInstance& op) {
    return swapChannels(image, nullptr, op.ints[0]);
}
