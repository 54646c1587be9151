// Image window geometry and stepping.
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
