// The reading side of the scanline pipeline. A decoder describes its raster,
// hands over rows exactly as its file stores them, and the core unpacks each
// row into a converted row (indices, or R,G,B(,A)), flips, mirrors and shrinks
// it, and places it into the image. endImage then settles the kind, builds the
// palette and runs the whole-image conversions (grey, CMYK).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>

#include "rowconv.h"

namespace {

thread_local RowConverter t_conv;

constexpr int PROGRESS_STEPS = 60;
constexpr int DEFAULT_DPI = 68;
// Bytes of one line of one plane; far above any real file (15999 pixels of
// 32 bits need 64000), low enough that a lying header cannot ask for gigabytes.
constexpr int64_t MAX_PLANE_BYTES = int64_t(1) << 20;
constexpr int64_t ROW_SPARE = 1024;
constexpr int64_t CONV_SPARE = 16;

void copyName(char* dst, size_t size, const char* name) {
    size_t n = strnlen(name, std::min(size - 1, static_cast<size_t>(RASTER_NAME_LEN)));
    memcpy(dst, name, n);
    dst[n] = '\0';
}

// The final kind of a finished (or abandoned) load, without the palette rules.
uint16_t finalKind(const RowConverter& c, bool withPalette) {
    if (c.workBytes == 3) return c.bgr ? IMG_BGR : IMG_RGB;
    if (c.workBytes == 4) return c.bgr ? IMG_BGR32 : IMG_RGB32;
    if (c.depth == 1) return IMG_BINARY;
    return withPalette ? IMG_PALETTE : IMG_GREY;
}

void settleImage(const RowConverter& c, const IoContext& ctx, bool withPalette, Image* img) {
    img->orientation = ctx.options.orientation;
    img->xdpi = c.xdpi;
    img->ydpi = c.ydpi;
    img->width = c.outWidth;
    img->height = c.outHeight;
    img->kind = finalKind(c, withPalette);
    img->bytesPerPixel = static_cast<int16_t>(c.workBytes);
    img->colours = c.workBytes == 1 ? (1 << c.depth) : 0;
}

// ---- File palettes ----------------------------------------------------------

uint8_t scaleComponent(unsigned v, unsigned max) {
    unsigned s = v * 255 / max;
    return static_cast<uint8_t>(s > 255 ? 255 : s);
}

// The file's palette of n entries, in its stored form, as a 768-byte planar table.
void decodePalette(uint16_t form, int componentBits, const uint8_t* pal, int n, uint8_t* table) {
    memset(table, 0, PALETTE_BYTES);
    uint8_t* red = table;
    uint8_t* green = table + 256;
    uint8_t* blue = table + 512;
    if (form & (PF_ST9 | PF_STE12 | PF_RGB12)) {
        for (int i = 0; i < n; ++i) {
            unsigned w = loadU16BE(pal + 2 * i);
            unsigned r = (w >> 8) & 15, g = (w >> 4) & 15, b = w & 15;
            if (form & PF_ST9) {
                red[i] = scaleComponent(r & 7, 7);
                green[i] = scaleComponent(g & 7, 7);
                blue[i] = scaleComponent(b & 7, 7);
                continue;
            }
            if (form & PF_STE12) {
                // The low bit of each stored nibble is the component's top bit.
                r = ((r << 1) & 0x0E) | ((r >> 3) & 1);
                g = ((g << 1) & 0x0E) | ((g >> 3) & 1);
                b = ((b << 1) & 0x0E) | ((b >> 3) & 1);
            }
            red[i] = scaleComponent(r, 15);
            green[i] = scaleComponent(g, 15);
            blue[i] = scaleComponent(b, 15);
        }
        return;
    }
    const bool bgr = (form & PF_BGR) != 0;
    if (componentBits < 1) componentBits = 8;
    if (form & PF_PLANAR) {
        uint8_t* first = bgr ? blue : red;
        uint8_t* last = bgr ? red : blue;
        uint8_t* planes[3] = {first, green, last};
        if (componentBits > 8) {
            // 16-bit little-endian components: full-range words keep their high byte.
            bool small = true;
            for (int i = 0; i < 3 * n; ++i) small = small && pal[2 * i + 1] == 0;
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < n; ++i) planes[k][i] = pal[2 * (k * n + i) + (small ? 0 : 1)];
            return;
        }
        const unsigned max = (1u << componentBits) - 1;
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < n; ++i) planes[k][i] = scaleComponent(pal[k * n + i], max);
        return;
    }
    // Interleaved triplets; wider components are taken byte by byte as they stand.
    const unsigned max = componentBits > 8 ? 255 : (1u << componentBits) - 1;
    for (int i = 0; i < n; ++i, pal += 3) {
        uint8_t a = scaleComponent(pal[0], max), g = scaleComponent(pal[1], max), b = scaleComponent(pal[2], max);
        red[i] = bgr ? b : a;
        green[i] = g;
        blue[i] = bgr ? a : b;
    }
}

bool isBlack(const uint8_t* t, int i) { return t[i] == 0 && t[256 + i] == 0 && t[512 + i] == 0; }
bool isWhite(const uint8_t* t, int i) { return t[i] == 255 && t[256 + i] == 255 && t[512 + i] == 255; }

// Every byte of the image's rows through a 256-entry table.
void mapBytes(Image* img, const uint8_t* lut) {
    const int64_t n = static_cast<int64_t>(img->width) * img->bytesPerPixel;
    for (int32_t y = 0; y < img->height; ++y) {
        uint8_t* p = imageRow(img, y);
        for (int64_t x = 0; x < n; ++x) p[x] = lut[p[x]];
    }
}

// Expands the index the placing step left in each pixel through a planar table
// (v, v, v for grey: the three planes are then the same ramp).
template <int DB, bool BGR>
void expandPixels(Image* img, const uint8_t* table) {
    const uint8_t* red = table;
    const uint8_t* green = table + 256;
    const uint8_t* blue = table + 512;
    for (int32_t y = 0; y < img->height; ++y) {
        uint8_t* p = imageRow(img, y);
        for (int32_t x = 0; x < img->width; ++x, p += DB) {
            if constexpr (BGR) {
                const uint8_t v = p[DB - 1];
                if constexpr (DB == 4) p[0] = 0;
                p[DB - 3] = blue[v];
                p[DB - 2] = green[v];
                p[DB - 1] = red[v];
            } else {
                const uint8_t v = p[0];
                p[0] = red[v];
                p[1] = green[v];
                p[2] = blue[v];
                if constexpr (DB == 4) p[3] = 0;
            }
        }
    }
}

void expandImage(Image* img, const uint8_t* table, int workBytes, bool bgr) {
    if (workBytes == 3) {
        if (bgr) expandPixels<3, true>(img, table);
        else expandPixels<3, false>(img, table);
    } else {
        if (bgr) expandPixels<4, true>(img, table);
        else expandPixels<4, false>(img, table);
    }
}

// One colour channel from its ink and the black ink, both 0 (none) to 255
// (full): the white the ink lets through times the white the black lets
// through, (255 - ink)(255 - black) / 255, rounded.
inline uint8_t inkToChannel(int ink, int black) {
    return static_cast<uint8_t>(((255 - ink) * (255 - black) + 127) / 255);
}

// Four-byte C,M,Y,K pixels (in file order, whatever order placing used) to
// R,G,B, repacked in place to three bytes a pixel. Inverted files store
// 255 minus each ink.
template <bool INV>
void cmykToRgb(Image* img, bool bgr, int alignment) {
    const int32_t newStride = static_cast<int32_t>(alignUp(int64_t(img->width) * 3, alignment));
    auto ink = [](int stored) { return INV ? 255 - stored : stored; };
    for (int32_t y = 0; y < img->height; ++y) {
        const uint8_t* s = imageRow(img, y);
        uint8_t* d = img->pixels + static_cast<int64_t>(y) * newStride;
        for (int32_t x = 0; x < img->width; ++x, s += 4, d += 3) {
            const int cc = bgr ? s[3] : s[0], m = bgr ? s[2] : s[1];
            const int ye = bgr ? s[1] : s[2], k = ink(bgr ? s[0] : s[3]);
            // Reads stay ahead of writes: d never passes s.
            d[0] = inkToChannel(ink(cc), k);
            d[1] = inkToChannel(ink(m), k);
            d[2] = inkToChannel(ink(ye), k);
        }
    }
    img->stride = newStride;
    img->kind = IMG_RGB;
    img->bytesPerPixel = 3;
}

// Inverts the colour bytes of inverted R,G,B rasters (the fourth byte stays 0).
void invertColours(Image* img) {
    const int bpp = img->bytesPerPixel;
    for (int32_t y = 0; y < img->height; ++y) {
        uint8_t* p = imageRow(img, y);
        if (bpp == 3) {
            const int64_t n = int64_t(img->width) * 3;
            for (int64_t x = 0; x < n; ++x) p[x] = static_cast<uint8_t>(255 - p[x]);
        } else {
            const int first = img->kind == IMG_BGR32 ? 1 : 0;
            for (int32_t x = 0; x < img->width; ++x, p += 4) {
                p[first] = static_cast<uint8_t>(255 - p[first]);
                p[first + 1] = static_cast<uint8_t>(255 - p[first + 1]);
                p[first + 2] = static_cast<uint8_t>(255 - p[first + 2]);
            }
        }
    }
}

}  // namespace

// ---- Shared with the writing side -------------------------------------------

bool planRows(uint16_t layout, int planes, int bits, int32_t width, int32_t bytesPerPlane, RowPlan* plan) {
    if (planes < 1 || bits < 1) return false;
    const int depth = planes * bits;
    const int64_t w = width, bpp = bytesPerPlane;
    if (depth > 32 || w < 1) return false;
    auto planeBytesFit = [bpp](int64_t needed) { return bpp >= needed && bpp <= MAX_PLANE_BYTES; };

    if (layout & PL_WORD_PLANES) {
        // Each 16-pixel group takes one word of every plane.
        if (bits != 1 || planes > 8 || !planeBytesFit((w + 15) / 16 * 2)) return false;
        plan->kind = RowLayout::WordPlanes;
        plan->groups = static_cast<int32_t>(bpp / 2);
        plan->unpackedPixels = int64_t(plan->groups) * 16;
        plan->rowLength = planes * bpp;
        return true;
    }
    if (layout & PL_CHANNEL_PLANES) {
        if (bits != 8 || planes > 4) return false;
        plan->kind = RowLayout::ChannelPlanes;
        plan->rowLength = w;
        plan->unpackedPixels = w;
        return true;
    }
    if (planes == 1) {
        plan->unpackedPixels = w;
        if (depth <= 8) {
            if (layout & PL_BYTE_PIXELS) {
                plan->kind = RowLayout::BytePixels;
                plan->rowLength = w;
                return true;
            }
            switch (bits) {
                case 1: plan->kind = RowLayout::Packed1; break;
                case 2: plan->kind = RowLayout::Packed2; break;
                case 4: plan->kind = RowLayout::Packed4; break;
                case 8: plan->kind = RowLayout::Packed8; break;
                default: return false;
            }
            const int perByte = 8 / bits;
            plan->rowLength = (w + perByte - 1) / perByte;
            plan->unpackedPixels = plan->rowLength * perByte;
            return true;
        }
        switch (depth) {
            case 15:
                plan->kind = (layout & PL_BGR555) ? RowLayout::Bgr555 : RowLayout::Rgb555;
                plan->rowLength = 2 * w;
                return true;
            case 16:
                plan->kind = (layout & PL_565) ? RowLayout::Rgb565 : RowLayout::Rgb555;
                plan->rowLength = 2 * w;
                return true;
            case 24:
                // Alpha first means nothing without alpha: the bytes are R,G,B.
                if (layout & PL_REVERSED) plan->kind = RowLayout::Bgr24;
                else if (layout & PL_ALPHA_FIRST) plan->kind = RowLayout::Rgb24;
                else if (layout & PL_BGRA) plan->kind = RowLayout::Bgr24;
                else plan->kind = RowLayout::Rgb24;
                plan->rowLength = 3 * w;
                return true;
            case 32:
                if (layout & PL_REVERSED) plan->kind = RowLayout::Abgr32;
                else if (layout & PL_ALPHA_FIRST) plan->kind = RowLayout::Argb32;
                else if (layout & PL_BGRA) plan->kind = RowLayout::Bgra32;
                else plan->kind = RowLayout::Rgb32;
                plan->rowLength = 4 * w;
                return true;
            default:
                return false;
        }
    }
    if (depth <= 8) {
        // Line planes: bytesPerPlane bytes of each plane give 8 pixels a byte.
        if (bits != 1 || !planeBytesFit((w + 7) / 8)) return false;
        plan->kind = RowLayout::LinePlanes;
        plan->rowLength = planes * bpp;
        plan->unpackedPixels = 8 * bpp;
        return true;
    }
    // Channel lines within the row, plane k at k * bytesPerPlane.
    if (bits != 8 || (planes != 3 && planes != 4) || !planeBytesFit(w)) return false;
    static const int kOrders[2][3][4] = {
        // 3 planes: plain, reversed, alpha first (no alpha to move)
        {{0, 1, 2, 3}, {2, 1, 0, 3}, {0, 1, 2, 3}},
        // 4 planes: plain, reversed, alpha first
        {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 2, 3, 0}},
    };
    const int order = (layout & PL_REVERSED) ? 1 : (layout & PL_ALPHA_FIRST) ? 2 : 0;
    memcpy(plan->chanPlane, kOrders[planes - 3][order], sizeof plan->chanPlane);
    plan->kind = RowLayout::InLinePlanes;
    plan->rowLength = planes * bpp;
    plan->unpackedPixels = w;
    return true;
}

void mirrorRow(uint8_t* row, int32_t n, int unit) { mirrorAny(row, n, unit); }

RowConverter& rowConverter() { return t_conv; }

void resetConverter(RowConverter& c) {
    c.rowBuffer.reset();
    c.conv.reset();
    c.rowMap.reset();
    c.colMap.reset();
    c.filePalette.reset();
    c.band.reset();
    c.turn = 0;
    c.bandStride = 0;
    c.bandFirst = c.bandEnd = 0;
    c.inPlace = false;
    c.rowBufferSize = 0;
    c.convSize = 0;
    c.rowLength = 0;
    c.unpack = nullptr;
    c.place = nullptr;
    c.direct = false;
    c.fetch = nullptr;
    c.pack = nullptr;
    c.valueMapActive = false;
    c.image = nullptr;
    c.phase = ConvPhase::Idle;
}

void progressBegin(RowConverter& c, const IoContext& ctx) {
    c.progressBar = (ctx.options.flags & OPT_PROGRESS_BAR) != 0;
    c.lastStep = 0;
    if (!c.progressBar) return;
    for (int i = 0; i < PROGRESS_STEPS; ++i) fputc('-', stdout);
    fputc('\r', stdout);
    fflush(stdout);
}

void progressRow(RowConverter& c, IoContext& ctx, int64_t total) {
    ++c.delivered;
    if (c.progressBar && total > 0) {
        const int step = static_cast<int>(int64_t(c.delivered) * PROGRESS_STEPS / total);
        if (step != c.lastStep) {
            fputc('*', stdout);
            fflush(stdout);
            c.lastStep = step;
        }
    }
    if (ctx.options.progressCallback &&
        ctx.options.progressCallback(c.delivered - 1, static_cast<int32_t>(total), ctx.options.callbackDatum))
        ctx.stop = true;
}

void progressEnd(RowConverter& c) {
    if (!c.progressBar) return;
    fputc('\n', stdout);
    fflush(stdout);
    c.progressBar = false;
}

void abandonConversion() {
    RowConverter& c = t_conv;
    // A decoder that failed after beginImage leaves a working kind behind; give
    // the image a real one so that a damaged picture kept by the loader is sound.
    if (c.phase == ConvPhase::Reading && c.image && c.image == ioContext().image && c.image->pixels)
        settleImage(c, ioContext(), false, c.image);
    if (c.phase != ConvPhase::Idle) progressEnd(c);
    resetConverter(c);
}

// ---- Reading ----------------------------------------------------------------

void setRasterName(char (&dst)[RASTER_NAME_LEN], const char* name) {
    copyName(dst, RASTER_NAME_LEN, name ? name : "");
}

namespace {
thread_local uint64_t t_pixelLimit = DEFAULT_PIXEL_LIMIT;
}  // namespace

void setPixelLimit(uint64_t pixels) { t_pixelLimit = pixels ? pixels : DEFAULT_PIXEL_LIMIT; }
uint64_t pixelLimit() { return t_pixelLimit; }

Status checkPictureBudget(int64_t width, int64_t height, int bytesPerPixel) {
    if (width < 1 || height < 1 || bytesPerPixel < 1) return ST_OK;
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (pixels > t_pixelLimit) return ST_NO_MEMORY;
    const IoContext& ctx = ioContext();
    if (ctx.fileSize <= 0) return ST_OK;
    const uint64_t bytes = pixels * static_cast<uint64_t>(bytesPerPixel);
    const uint64_t ratio = ctx.maxRatio ? ctx.maxRatio : RATIO_RUNS;
    const uint64_t holds = std::max(static_cast<uint64_t>(ctx.fileSize) * ratio, PICTURE_BYTES_FLOOR);
    return bytes > holds ? ST_READ_ERROR : ST_OK;
}

Status beginImage(RasterHeader* h) {
    if (!h) return ST_UNKNOWN_FORMAT;
    IoContext& ctx = ioContext();
    RowConverter& c = t_conv;
    followWithdraw();  // a new raster replaces whatever rows were reported
    if (c.phase != ConvPhase::Idle) {
        // A decoder beginning a second time: the pixels of the first go.
        if (c.phase == ConvPhase::Reading && c.image && c.image == ctx.image) freeImage(c.image);
        resetConverter(c);
    }
    h->rowBuffer = nullptr;

    if (h->planes < 1 || h->bitsPerPlane < 1) return ST_UNKNOWN_FORMAT;
    const int depth = h->planes * h->bitsPerPlane;
    if (depth > 32 || h->width < 1 || h->height < 1 || h->width > MAX_IMAGE_SIDE || h->height > MAX_IMAGE_SIDE)
        return ST_UNKNOWN_FORMAT;
    RowPlan plan;
    if (!planRows(h->layout, h->planes, h->bitsPerPlane, h->width, h->bytesPerPlane, &plan))
        return ST_UNKNOWN_FORMAT;

    char name[RASTER_NAME_LEN + 1];
    copyName(name, sizeof name, h->name);
    if (ctx.info) {
        FileInfo* info = ctx.info;
        copyName(info->formatName, sizeof info->formatName, name);
        info->orientation = h->orientation;
        info->width = h->width;
        info->height = h->height;
        info->planes = h->planes;
        info->bitsPerPlane = h->bitsPerPlane;
        info->bytesPerPlane = h->bytesPerPlane;
        info->xdpi = static_cast<int16_t>(h->xdpi);
        info->ydpi = static_cast<int16_t>(h->ydpi);
        copyName(info->compression, sizeof info->compression, h->compression ? h->compression : "none");
    }
    if (ctx.examine) return ST_INFO_ONLY;
    Image* img = ctx.image;
    if (!img) return ST_NO_MEMORY;
    // The picture's own bytes: one a pixel up to 8 bits, else three or four.
    const Status budget = checkPictureBudget(h->width, h->height, depth <= 8 ? 1 : depth <= 24 ? 3 : 4);
    if (budget != ST_OK) return budget;

    const uint16_t flags = ctx.options.flags;
    if (flags & OPT_VERBOSE) {
        fprintf(stderr, "A %s was recognized : %s\n", name, ctx.fileName ? ctx.fileName : "");
        fprintf(stderr, "    Width:%d Height:%d with %lu colors\n", static_cast<int>(h->width),
                static_cast<int>(h->height), 1ul << std::min(depth, 24));
        fprintf(stderr, "    Nplanes : %d      Bitscount : %d\n", h->planes, h->bitsPerPlane);
        fprintf(stderr, "    Bytes Per Plane : %d \n", static_cast<int>(h->bytesPerPlane));
        fprintf(stderr, "    xdpi : %d         ydpi : %d\n", static_cast<int>(h->xdpi), static_cast<int>(h->ydpi));
    }
    c.delivered = 0;
    progressBegin(c, ctx);
    ctx.stop = false;

    c.width = h->width;
    c.height = h->height;
    c.xdpi = h->xdpi == 0 ? DEFAULT_DPI : h->xdpi;
    c.ydpi = h->ydpi == 0 ? DEFAULT_DPI : h->ydpi;
    c.layout = h->layout;
    c.channels = h->channels;
    c.orientation = h->orientation;
    c.planes = h->planes;
    c.bitsPerPlane = h->bitsPerPlane;
    c.depth = depth;
    c.bytesPerPlane = h->bytesPerPlane;
    c.bgr = ctx.options.bgrOrder != 0;
    c.flip = ((h->orientation ^ ctx.options.orientation) & OR_BOTTOM_UP) != 0;
    c.mirror = ((h->orientation ^ ctx.options.orientation) & OR_MIRRORED) != 0;
    c.channelPlanes = plan.kind == RowLayout::ChannelPlanes;
    c.groups = plan.groups;
    memcpy(c.chanPlane, plan.chanPlane, sizeof c.chanPlane);
    c.rowLength = plan.rowLength;
    c.unpack = chooseUnpacking(plan.kind, c.planes);

    // Working mode: the bytes per pixel of the image being built.
    if ((h->layout & (PL_CMYK_INV | PL_CMYK)) && depth == 32) c.workBytes = 4;
    else if (depth <= 8) {
        if (flags & OPT_TRUECOLOUR) c.workBytes = (flags & OPT_PREFER_32) ? 4 : 3;
        else c.workBytes = 1;
    } else if (depth == 15 || depth == 16 || depth == 24) c.workBytes = (flags & OPT_PREFER_32) ? 4 : 3;
    else c.workBytes = (flags & OPT_ODD_TO_24) ? 3 : 4;
    const uint16_t workKind = c.workBytes == 1 ? uint16_t(IMG_GREY) : c.workBytes == 3 ? IMG_24BIT : IMG_32BIT;
    c.convBytes = depth <= 8 ? 1 : depth <= 24 ? 3 : 4;
    const int unit = c.channelPlanes ? 1 : c.convBytes;

    // Bounded size: shrink keeping the aspect ratio, never enlarge.
    const int64_t W = ctx.options.maxWidth, H = ctx.options.maxHeight;
    int64_t outW = c.width, outH = c.height;
    const bool bounded = W > 0 && H > 0 && (W < c.width || H < c.height);
    if (bounded) {
        outW = W;
        outH = W * c.height / c.width;
        if (outH > H) {
            outH = H;
            outW = H * c.width / c.height;
        }
        if (outW < 1) outW = 1;
        if (outH < 1) outH = 1;
    }
    c.outWidth = static_cast<int32_t>(outW);
    c.outHeight = static_cast<int32_t>(outH);

    const int64_t alignment = std::max<int64_t>(1, ctx.options.rowAlignment);
    const int64_t stride = alignUp(outW * c.workBytes, alignment);
    if (stride > INT32_MAX) {
        progressEnd(c);
        resetConverter(c);
        return ST_NO_MEMORY;
    }
    if (!createImageStrided(img, workKind, static_cast<int32_t>(stride), c.outWidth, c.outHeight)) {
        freeImage(img);
        progressEnd(c);
        resetConverter(c);
        return ST_NO_MEMORY;
    }
    img->alignment = static_cast<int16_t>(alignment);
    c.image = img;
    c.stride = static_cast<int32_t>(stride);

    // Several planes of 8-bit channels declared with channels 1 still need a
    // whole file row: the buffer holds at least one row and the spare bytes.
    const int64_t channels = std::max<int64_t>(1, h->channels);
    const int64_t sampleBytes = depth <= 8 ? 1 : (h->bitsPerPlane + 1) / 8;
    c.rowBufferSize = static_cast<uint64_t>(std::max(channels * c.width * sampleBytes, c.rowLength) + ROW_SPARE);
    c.convSize = static_cast<uint64_t>(std::max<int64_t>(int64_t(c.width) * c.convBytes, plan.unpackedPixels) + CONV_SPARE);
    c.rowBuffer = allocBuffer(c.rowBufferSize);
    c.conv = allocBuffer(c.convSize);
    bool ok = c.rowBuffer && c.conv;
    if (ok && bounded) {
        c.rowMap.reset(static_cast<int32_t*>(calloc(static_cast<size_t>(c.height), sizeof(int32_t))));
        c.colMap.reset(static_cast<int32_t*>(calloc(static_cast<size_t>(c.width), sizeof(int32_t))));
        ok = c.rowMap && c.colMap;
        if (ok) {
            int32_t* rows = c.rowMap.get();
            for (int64_t i = 0; i < c.height; ++i) rows[i] = static_cast<int32_t>(i * outH / c.height);
            // The first file row that falls on an output row wins.
            int32_t kept = rows[0];
            for (int32_t i = 1; i < c.height; ++i) {
                if (rows[i] == kept) rows[i] = -1;
                else kept = rows[i];
            }
            int32_t* cols = c.colMap.get();
            for (int64_t i = 0; i < c.width; ++i) cols[i] = static_cast<int32_t>(i * outW / c.width * unit);
        }
    }
    if (!ok) {
        freeImage(img);
        progressEnd(c);
        resetConverter(c);
        return ST_NO_MEMORY;
    }
    c.place = choosePlacing(depth, c.channelPlanes, c.convBytes, c.workBytes, c.bgr);
    c.direct = !c.channelPlanes && !c.mirror && !c.rowMap && !c.colMap && c.outWidth == c.width &&
               placesUnchanged(c.unpack, c.place);
    h->rowBuffer = c.rowBuffer.get();
    c.phase = ConvPhase::Reading;
    // Rows placed in order that endImage leaves alone are final as they land.
    if (c.workBytes == 3 && depth > 8 && !(h->layout & (PL_CMYK | PL_CMYK_INV)) && !c.flip && !c.channelPlanes &&
        !bounded) {
        Image settled = *img;
        settleImage(c, ctx, false, &settled);
        followBegin(settled);
    }
    return ST_OK;
}

Status putRows(int plane, int32_t firstRow, int32_t count) {
    RowConverter& c = t_conv;
    IoContext& ctx = ioContext();
    if (c.phase != ConvPhase::Reading) return ST_OK;

    int64_t total = c.height;
    int unit = c.convBytes;
    if (c.channelPlanes) {
        total = int64_t(c.planes) * c.height;
        unit = 1;
        if (plane < 0 || plane >= c.planes) plane = 0;
    } else {
        plane = 0;
    }
    int32_t row;
    int64_t n;
    rowsToConvert(c, firstRow, count, &row, &n);
    if (row != c.delivered) followWithdraw();

    const uint8_t* src = c.rowBuffer.get();
    uint8_t* conv = c.conv.get();
    const int32_t* rowMap = c.rowMap.get();
    const int32_t* colMap = c.colMap.get();
    for (int64_t i = 0; i < n && row < c.height; ++i, ++row, src += c.rowLength) {
        int32_t target = c.flip ? c.height - 1 - row : row;
        progressRow(c, ctx, total);
        if (rowMap) {
            target = rowMap[target];
            if (target < 0) continue;
        }
        c.unpack(c, src, conv);
        if (c.mirror) mirrorAny(conv, c.width, unit);
        if (colMap) compactRow(conv, colMap, c.width, unit);
        c.place(conv, imageRow(c.image, target), c.outWidth, plane);
    }
    followRows(c.delivered);
    return ctx.stop ? ST_STOPPED : ST_OK;
}

uint8_t* directRow(int32_t row) {
    const RowConverter& c = t_conv;
    if (c.phase != ConvPhase::Reading || !c.direct || row < 0 || row >= c.height || row != c.delivered) return nullptr;
    return imageRow(c.image, c.flip ? c.height - 1 - row : row);
}

int32_t directRun(int32_t row, int64_t rowBytes) {
    const RowConverter& c = t_conv;
    if (!directRow(row) || c.rowLength != rowBytes) return 0;
    if (c.flip || c.image->stride != rowBytes) return 1;
    return c.height - row;
}

bool mapDirectRows(FILE* f, int64_t offset, int64_t rowBytes, int32_t rows) {
    // Below a few megabytes a copy costs next to nothing.
    constexpr int64_t MAP_AT_LEAST = int64_t{4} << 20;
    const RowConverter& c = t_conv;
    if (!f || !(ioContext().options.flags & OPT_MAP_FILE) || following() || c.delivered != 0 || rows != c.height ||
        directRun(0, rowBytes) != c.height || int64_t(rows) * rowBytes < MAP_AT_LEAST)
        return false;
    const int64_t bytes = int64_t(rows) * rowBytes;
    const int fd = fileno(f);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const off_t was = ftello(f);
    if (was < 0 || offset < 0 || bytes > static_cast<int64_t>(st.st_size) - offset) return false;
    if (fseeko(f, static_cast<off_t>(offset + bytes), SEEK_SET) != 0) return false;
    if (mapFilePixels(c.image, fd, offset, bytes)) return true;
    fseeko(f, was, SEEK_SET);
    return false;
}

Status rowsPlaced(int32_t count) {
    RowConverter& c = t_conv;
    IoContext& ctx = ioContext();
    if (c.phase != ConvPhase::Reading) return ST_OK;
    for (int32_t i = 0; i < count && c.delivered < c.height; ++i) progressRow(c, ctx, c.height);
    followRows(c.delivered);
    return ctx.stop ? ST_STOPPED : ST_OK;
}

int64_t fileRowLength() {
    const RowConverter& c = t_conv;
    return c.phase == ConvPhase::Reading ? c.rowLength : 0;
}

Status endImage(uint16_t paletteFormat, int componentBits, const uint8_t* palette) {
    RowConverter& c = t_conv;
    IoContext& ctx = ioContext();
    if (c.phase != ConvPhase::Reading) return ST_OK;
    progressEnd(c);

    Image* img = c.image;
    const bool withPalette = palette != nullptr && c.depth <= 8;
    settleImage(c, ctx, withPalette, img);
    const int depth = c.depth;
    const int workBytes = c.workBytes;
    const bool bgr = c.bgr;
    const uint16_t layout = c.layout;
    const int alignment = img->alignment;
    resetConverter(c);

    Status status = ST_OK;
    if (withPalette) {
        uint8_t table[PALETTE_BYTES];
        decodePalette(paletteFormat, componentBits, palette, 1 << depth, table);
        if (workBytes == 1) {
            if (depth == 1) {
                const bool blackWhite = isBlack(table, 0) && isWhite(table, 1);
                const bool whiteBlack = isWhite(table, 0) && isBlack(table, 1);
                if (blackWhite || whiteBlack) {
                    // 0 is black in a binary image.
                    uint8_t lut[256];
                    for (int v = 0; v < 256; ++v) lut[v] = whiteBlack ? (v == 0 ? 1 : 0) : (v != 0 ? 1 : 0);
                    mapBytes(img, lut);
                } else {
                    img->kind = IMG_PALETTE;
                }
            }
            if (img->kind == IMG_PALETTE) {
                img->palette = static_cast<uint8_t*>(calloc(PALETTE_BYTES, 1));
                if (img->palette) {
                    memcpy(img->palette, table, PALETTE_BYTES);
                } else {
                    img->kind = IMG_GREY;
                    status = ST_NO_MEMORY;
                }
            }
        } else {
            expandImage(img, table, workBytes, bgr);
        }
        return status;
    }

    if ((layout & (PL_CMYK_INV | PL_CMYK)) && depth == 32 && workBytes == 4) {
        if (layout & PL_CMYK_INV) cmykToRgb<true>(img, bgr, alignment);
        else cmykToRgb<false>(img, bgr, alignment);
        return status;
    }
    if ((layout & PL_CMYK_INV) && depth > 8) {
        invertColours(img);
        return status;
    }
    if (depth <= 8) {
        const int max = maxValue(depth);
        const bool invert = (paletteFormat & PF_INVERT) != 0;
        uint8_t lut[256];
        for (int v = 0; v < 256; ++v) {
            int g = invert ? (v > max ? 0 : max - v) : v;
            // True colour shows a grey of fewer bits over the full range.
            if (workBytes != 1) g = std::min(255, g * 255 / max);
            lut[v] = static_cast<uint8_t>(g);
        }
        if (workBytes == 1) {
            if (invert) mapBytes(img, lut);
        } else {
            uint8_t table[PALETTE_BYTES];
            memcpy(table, lut, 256);
            memcpy(table + 256, lut, 256);
            memcpy(table + 512, lut, 256);
            expandImage(img, table, workBytes, bgr);
        }
    }
    return status;
}
