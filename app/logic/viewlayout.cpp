// Image window geometry and its screen copy.
#include "viewlayout.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t MAX_DISPLAY = INT32_MAX / 2;

int32_t clampDisplay(int64_t v) {
    if (v < 1) return 1;
    if (v > MAX_DISPLAY) return MAX_DISPLAY;
    return static_cast<int32_t>(v);
}

bool usableImage(const Image& image) {
    if (!image.pixels || image.width <= 0 || image.height <= 0) return false;
    int bpp = kindBytesPerPixel(image.kind);
    return bpp > 0 && image.stride >= static_cast<int64_t>(image.width) * bpp;
}

// Colours of the 256 values of an 8-bit picture (binary, grey, palette), as
// red, green, blue.
void valueColours(const Image& image, uint8_t rgb[256][3]) {
    const int levels = greyLevels(image);
    for (int v = 0; v < 256; ++v) {
        uint8_t c0, c1, c2;
        switch (image.kind) {
        case IMG_BINARY: c0 = c1 = c2 = v ? 255 : 0; break;
        case IMG_GREY: {
            int l = v < levels ? v : levels - 1;
            c0 = c1 = c2 = static_cast<uint8_t>(l * 255 / (levels - 1));
            break;
        }
        default:
            if (image.palette) {
                c0 = image.palette[v];
                c1 = image.palette[256 + v];
                c2 = image.palette[512 + v];
            } else {
                c0 = c1 = c2 = static_cast<uint8_t>(v);
            }
            break;
        }
        rgb[v][0] = c0;
        rgb[v][1] = c1;
        rgb[v][2] = c2;
    }
}

// Byte offsets of red, green and blue in a true-colour pixel.
void channelOffsets(int kind, int o[3]) {
    switch (kind) {
    case IMG_RGB:
    case IMG_RGB32: o[0] = 0; o[1] = 1; o[2] = 2; return;
    case IMG_BGR: o[0] = 2; o[1] = 1; o[2] = 0; return;
    default: o[0] = 3; o[1] = 2; o[2] = 1; return;  // IMG_BGR32: the X byte comes first
    }
}

}  // namespace

int zoomIn(int zoom) {
    if (zoom >= ZOOM_MAX) return zoom;
    int z = zoom + 1;
    return z == 0 ? 2 : z;
}

int zoomOut(int zoom) {
    if (zoom < -(ZOOM_MAX - 1)) return zoom;
    int z = zoom - 1;
    return z == 0 ? -2 : z;
}

int zoomPreset(int commandId) {
    static const int PRESETS[] = {16, 8, 4, 2, 1, -2, -4, -8, -16};
    int i = commandId - 145;
    return i >= 0 && i < 9 ? PRESETS[i] : 0;
}

void zoomedSize(int32_t w, int32_t h, int zoom, int32_t* dw, int32_t* dh) {
    int64_t x = w, y = h;
    if (zoom > 1) {
        x *= zoom;
        y *= zoom;
    } else if (zoom < -1) {
        x /= -zoom;
        y /= -zoom;
    }
    *dw = clampDisplay(x);
    *dh = clampDisplay(y);
}

void fitSize(int32_t w, int32_t h, int32_t clientW, int32_t clientH, int32_t* dw, int32_t* dh) {
    if (w <= 0 || h <= 0 || clientW <= 0 || clientH <= 0) {
        *dw = *dh = 1;
        return;
    }
    int64_t widthAtFullHeight = static_cast<int64_t>(clientH) * w / h;
    if (widthAtFullHeight <= clientW) {
        *dw = clampDisplay(widthAtFullHeight);
        *dh = clampDisplay(clientH);
    } else {
        *dw = clampDisplay(clientW);
        *dh = clampDisplay(static_cast<int64_t>(clientW) * h / w);
    }
}

int32_t clampScroll(int32_t position, int32_t maxPosition) {
    if (position > maxPosition) position = maxPosition;
    return position < 0 ? 0 : position;
}

ViewLayout layoutView(int32_t displayW, int32_t displayH, int32_t areaW, int32_t areaH, int32_t barW, int32_t barH,
                      bool noBars, int32_t scrollX, int32_t scrollY) {
    ViewLayout l;
    bool hBar = false, vBar = false;
    if (!noBars) {
        hBar = displayW > areaW;
        vBar = displayH > areaH;
        // A bar in one direction takes room from the other.
        if (hBar && !vBar) vBar = displayH > areaH - barH;
        if (vBar && !hBar) hBar = displayW > areaW - barW;
    }
    l.x.bar = hBar;
    l.y.bar = vBar;
    l.x.client = std::max<int32_t>(0, areaW - (vBar ? barW : 0));
    l.y.client = std::max<int32_t>(0, areaH - (hBar ? barH : 0));
    AxisLayout* axes[2] = {&l.x, &l.y};
    const int32_t display[2] = {displayW, displayH};
    const int32_t scroll[2] = {scrollX, scrollY};
    for (int i = 0; i < 2; ++i) {
        AxisLayout& a = *axes[i];
        if (display[i] > a.client) {
            // Scrolling (or, without a bar, the top-left part in full screen).
            a.maxPosition = a.bar ? display[i] - a.client : 0;
            a.offset = clampScroll(scroll[i], a.maxPosition);
            if (!a.bar) a.offset = (display[i] - a.client) / 2;
        } else {
            a.maxPosition = 0;
            a.offset = -((a.client - display[i]) / 2);  // negative: centred
        }
    }
    return l;
}

ViewRegion visibleRegion(int32_t displayW, int32_t displayH, int32_t clientW, int32_t clientH, int32_t offsetX,
                         int32_t offsetY) {
    ViewRegion r;
    if (clientW <= 0 || clientH <= 0 || displayW <= 0 || displayH <= 0) return r;
    int64_t x0 = std::max<int64_t>(0, offsetX), y0 = std::max<int64_t>(0, offsetY);
    int64_t x1 = std::min<int64_t>(displayW, static_cast<int64_t>(offsetX) + clientW);
    int64_t y1 = std::min<int64_t>(displayH, static_cast<int64_t>(offsetY) + clientH);
    if (x1 <= x0 || y1 <= y0) return r;
    r.x = static_cast<int32_t>(x0);
    r.y = static_cast<int32_t>(y0);
    r.width = static_cast<int32_t>(x1 - x0);
    r.height = static_cast<int32_t>(y1 - y0);
    return r;
}

int32_t sourceColumn(int32_t i, int32_t imageW, int32_t displayW) {
    if (displayW == imageW) return i;
    return static_cast<int32_t>(static_cast<int64_t>(i) * imageW / displayW);
}

bool renderView(const Image& image, int displayBits, const DisplayTables& tables, int32_t displayW, int32_t displayH,
                const ViewRegion& region, DibBuffer* out) {
    if (!usableImage(image) || displayW <= 0 || displayH <= 0 || region.width <= 0 || region.height <= 0 ||
        region.x < 0 || region.y < 0 || static_cast<int64_t>(region.x) + region.width > displayW ||
        static_cast<int64_t>(region.y) + region.height > displayH)
        return false;
    const int bits = displayBits > 8 ? 24 : 8;
    const int64_t stride = (static_cast<int64_t>(region.width) * (bits / 8) + 3) & ~int64_t{3};
    const int64_t total = stride * region.height;
    if (stride > INT32_MAX || total > (int64_t{1} << 31)) return false;
    // The buffer grows only: a window resized back and forth keeps its copy.
    if (!out->pixels || static_cast<uint64_t>(total) > out->capacity) {
        out->pixels.reset();
        out->capacity = 0;
        out->pixels = allocBuffer(static_cast<uint64_t>(total));
        if (!out->pixels) return false;
        out->capacity = static_cast<uint64_t>(total);
    }
    out->width = region.width;
    out->height = region.height;
    out->originX = region.x;
    out->originY = region.y;
    out->bitsPerPixel = bits;
    out->stride = static_cast<int32_t>(stride);

    // The maps: byte offset in a source row per column, source row per row.
    const int bpp = kindBytesPerPixel(image.kind);
    Buffer xBuffer = allocBuffer(static_cast<uint64_t>(region.width) * sizeof(int64_t));
    if (!xBuffer) return false;
    int64_t* xMap = reinterpret_cast<int64_t*>(xBuffer.get());
    for (int32_t i = 0; i < region.width; ++i)
        xMap[i] = static_cast<int64_t>(sourceColumn(region.x + i, image.width, displayW)) * bpp;

    const bool trueColour = (image.kind & IMG_TRUECOLOUR) != 0;
    uint8_t colours[256][3];
    int offsets[3] = {0, 1, 2};
    out->colourCount = 0;
    if (trueColour) {
        channelOffsets(image.kind, offsets);
        if (bits == 8) {
            out->colourCount = 216;
            uint8_t rgb[3];
            for (int i = 0; i < 216; ++i) {
                cubeColour(i, rgb);
                out->colours[i][0] = rgb[2];
                out->colours[i][1] = rgb[1];
                out->colours[i][2] = rgb[0];
                out->colours[i][3] = 0;
            }
        }
    } else {
        valueColours(image, colours);
        if (bits == 8) {
            out->colourCount = image.kind == IMG_BINARY ? 2 : image.kind == IMG_GREY ? greyLevels(image) : 256;
            for (int i = 0; i < out->colourCount; ++i) {
                out->colours[i][0] = colours[i][2];
                out->colours[i][1] = colours[i][1];
                out->colours[i][2] = colours[i][0];
                out->colours[i][3] = 0;
            }
        }
    }
    const int levels = greyLevels(image);
    const int r = offsets[0], g = offsets[1], b = offsets[2];
    for (int32_t j = 0; j < region.height; ++j) {
        const int32_t displayRow = region.y + j;
        const int32_t sourceRow = static_cast<int32_t>(static_cast<int64_t>(displayRow) * image.height / displayH);
        const uint8_t* src = imageRow(&image, sourceRow);
        // Bottom-up rows.
        uint8_t* dst = out->pixels.get() + static_cast<size_t>(region.height - 1 - j) * out->stride;
        if (bits == 24) {
            if (trueColour) {
                for (int32_t i = 0; i < region.width; ++i, dst += 3) {
                    const uint8_t* p = src + xMap[i];
                    dst[0] = p[b];
                    dst[1] = p[g];
                    dst[2] = p[r];
                }
            } else {
                for (int32_t i = 0; i < region.width; ++i, dst += 3) {
                    const uint8_t* c = colours[src[xMap[i]]];
                    dst[0] = c[2];
                    dst[1] = c[1];
                    dst[2] = c[0];
                }
            }
        } else if (trueColour) {
            const uint8_t (*up)[64] = tables.useUpper[displayRow & 7];
            for (int32_t i = 0; i < region.width; ++i) {
                const uint8_t* p = src + xMap[i];
                const uint8_t* u = up[(region.x + i) & 7];
                const uint8_t vr = p[r], vg = p[g], vb = p[b];
                dst[i] = static_cast<uint8_t>((u[tables.fraction[0][vr]] ? tables.upper[0][vr] : tables.lower[0][vr]) +
                                              (u[tables.fraction[1][vg]] ? tables.upper[1][vg] : tables.lower[1][vg]) +
                                              (u[tables.fraction[2][vb]] ? tables.upper[2][vb] : tables.lower[2][vb]));
            }
        } else {
            for (int32_t i = 0; i < region.width; ++i) {
                uint8_t v = src[xMap[i]];
                if (image.kind == IMG_BINARY) v = v ? 1 : 0;
                else if (image.kind == IMG_GREY && v >= levels) v = static_cast<uint8_t>(levels - 1);
                dst[i] = v;
            }
        }
    }
    return true;
}

int stepTarget(NavKind kind, int position, int count) {
    if (count <= 0) return -1;
    int target;
    switch (kind) {
    case NAV_NEXT: target = position >= count ? count - 1 : position + 1; break;
    case NAV_PREVIOUS: target = position >= count || position <= 0 ? 0 : position - 1; break;
    case NAV_FIRST: target = 0; break;
    default: target = count - 1; break;
    }
    return target >= 0 && target < count ? target : -1;
}

int stepDirection(NavKind kind) { return kind == NAV_NEXT || kind == NAV_FIRST ? 1 : -1; }

int findInList(const std::vector<std::string>& list, const std::string& path) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == path) return static_cast<int>(i);
    return static_cast<int>(list.size());
}

int pageTarget(NavKind kind, int current, int pageCount) {
    if (pageCount <= 1) return 0;
    int target;
    switch (kind) {
    case NAV_NEXT: target = current + 1; break;
    case NAV_PREVIOUS: target = current - 1; break;
    case NAV_FIRST: target = 0; break;
    default: target = pageCount - 1; break;
    }
    return std::clamp(target, 0, pageCount - 1);
}
