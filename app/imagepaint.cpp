// The image window's screen copy of the part of the picture it shows, its
// logical palette on displays of 256 colours or fewer, and painting. The
// screen copy holds only the part of the displayed picture that the window
// shows, so a 16:1 zoom of a large picture costs no more than 1:1.
#include <cstring>

#include "imagewnd.h"

namespace imagewnd {

namespace {

// One scroll bar as its axis lays it out over a displayed length (no range without a bar).
void setScrollBar(HWND hwnd, int which, const AxisLayout& axis, int32_t length) {
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    if (axis.bar) {
        si.nMax = length - 1;
        si.nPage = static_cast<UINT>(axis.client);
        si.nPos = axis.offset;
    }
    SetScrollInfo(hwnd, which, &si, TRUE);
}

struct BitmapHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

}  // namespace

// ---- Display ------------------------------------------------------------------------------

void releasePalette(ImageWindow* w) {
    if (w->palette) DeleteObject(w->palette);
    w->palette = nullptr;
}

// The logical palette of displays of 256 colours or fewer.
void createPalette(ImageWindow* w) {
    releasePalette(w);
    if (w->display.bitsPerPixel != 8 || w->display.colourCount <= 0) return;
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } lp;
    lp.version = 0x300;
    lp.count = static_cast<WORD>(w->display.colourCount);
    for (int i = 0; i < w->display.colourCount; ++i) {
        lp.entries[i].peRed = w->display.colours[i][2];
        lp.entries[i].peGreen = w->display.colours[i][1];
        lp.entries[i].peBlue = w->display.colours[i][0];
        lp.entries[i].peFlags = PC_NOCOLLAPSE;
    }
    w->palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&lp));
    if (!w->palette) MessageBoxA(g_frame.frame, "PB CreatePalette", "Error", MB_OK | MB_ICONERROR);
}

void layout(HWND hwnd, ImageWindow* w) {
    if (w->layingOut) return;
    const Image& img = shownImage(w);
    RECT rc;
    GetClientRect(hwnd, &rc);
    // The area without any bar: the bars shown now give their room back.
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    int32_t barW = GetSystemMetrics(SM_CXVSCROLL), barH = GetSystemMetrics(SM_CYHSCROLL);
    int32_t areaW = rc.right + ((style & WS_VSCROLL) ? barW : 0);
    int32_t areaH = rc.bottom + ((style & WS_HSCROLL) ? barH : 0);
    if (areaW <= 0 || areaH <= 0) return;  // minimised or empty: nothing to build
    int32_t dw = 1, dh = 1;
    if (w->fitToWindow)
        fitSize(img.width, img.height, areaW, areaH, &dw, &dh);
    else
        zoomedSize(img.width, img.height, w->zoom, &dw, &dh);
    bool noBars = w->fitToWindow || w->fullScreen;
    ViewLayout l = layoutView(dw, dh, areaW, areaH, barW, barH, noBars, w->offsetX, w->offsetY);
    if (dw != w->displayW || dh != w->displayH) w->displayValid = false;
    w->displayW = dw;
    w->displayH = dh;
    w->offsetX = l.x.offset;
    w->offsetY = l.y.offset;
    w->scrollMaxX = l.x.maxPosition;
    w->scrollMaxY = l.y.maxPosition;
    w->clientW = l.x.client;
    w->clientH = l.y.client;
    w->layingOut = true;
    setScrollBar(hwnd, SB_HORZ, l.x, dw);
    setScrollBar(hwnd, SB_VERT, l.y, dh);
    w->layingOut = false;
    // The bars change the client area: take the real one.
    GetClientRect(hwnd, &rc);
    w->clientW = rc.right;
    w->clientH = rc.bottom;
}

// Makes the screen copy cover what the window shows now.
bool ensureDisplay(ImageWindow* w) {
    ViewRegion r = visibleRegion(w->displayW, w->displayH, w->clientW, w->clientH, w->offsetX, w->offsetY);
    if (r.width <= 0 || r.height <= 0) return false;
    if (w->displayValid && w->display.originX == r.x && w->display.originY == r.y && w->display.width == r.width &&
        w->display.height == r.height)
        return true;
    const int oldCount = w->display.colourCount;
    uint8_t oldColours[256][4];
    memcpy(oldColours, w->display.colours, sizeof oldColours);
    if (!renderView(shownImage(w), g_frame.displayBits, *g_frame.displayTables, w->displayW, w->displayH, r,
                    &w->display)) {
        w->displayValid = false;
        return false;
    }
    w->displayValid = true;
    if (w->display.bitsPerPixel == 8 &&
        (!w->palette || oldCount != w->display.colourCount || memcmp(oldColours, w->display.colours, sizeof oldColours)))
        createPalette(w);
    return true;
}

void refreshDisplay(HWND hwnd, ImageWindow* w) {
    w->displayValid = false;
    layout(hwnd, w);
    InvalidateRect(hwnd, nullptr, TRUE);
    showStatus(hwnd);
}

RECT selectionOnScreen(const ImageWindow* w) {
    const Image& img = shownImage(w);
    RECT r;
    r.left = static_cast<LONG>(static_cast<int64_t>(w->selection.left) * w->displayW / img.width - w->offsetX);
    r.right = static_cast<LONG>(static_cast<int64_t>(w->selection.right) * w->displayW / img.width - w->offsetX);
    r.top = static_cast<LONG>(static_cast<int64_t>(w->selection.top) * w->displayH / img.height - w->offsetY);
    r.bottom = static_cast<LONG>(static_cast<int64_t>(w->selection.bottom) * w->displayH / img.height - w->offsetY);
    return r;
}

void paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    ImageWindow* w = windowData(hwnd);
    if (w) {
        RECT client;
        GetClientRect(hwnd, &client);
        if (w->fullScreen) FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        if (ensureDisplay(w)) {
            HPALETTE old = nullptr;
            if (w->palette) {
                old = SelectPalette(dc, w->palette, FALSE);
                RealizePalette(dc);
            }
            BitmapHeader bmi;
            memset(&bmi, 0, sizeof bmi);
            bmi.header.biSize = sizeof bmi.header;
            bmi.header.biWidth = w->display.width;
            bmi.header.biHeight = w->display.height;
            bmi.header.biPlanes = 1;
            bmi.header.biBitCount = static_cast<WORD>(w->display.bitsPerPixel);
            bmi.header.biCompression = BI_RGB;
            bmi.header.biClrUsed = static_cast<DWORD>(w->display.colourCount);
            for (int i = 0; i < w->display.colourCount; ++i) {
                bmi.colours[i].rgbBlue = w->display.colours[i][0];
                bmi.colours[i].rgbGreen = w->display.colours[i][1];
                bmi.colours[i].rgbRed = w->display.colours[i][2];
            }
            StretchDIBits(dc, w->display.originX - w->offsetX, w->display.originY - w->offsetY, w->display.width,
                          w->display.height, 0, 0, w->display.width, w->display.height, w->display.pixels.get(),
                          reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, SRCCOPY);
            if (old) SelectPalette(dc, old, FALSE);
        }
        if (w->hasSelection) {
            RECT s = selectionOnScreen(w);
            DrawFocusRect(dc, &s);
        }
        if (w->fullScreen && g_settings.showFilename) {
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkColor(dc, RGB(0, 0, 0));
            SetBkMode(dc, OPAQUE);
            std::string path = windowPath(w);
            TextOutA(dc, 0, 0, path.c_str(), static_cast<int>(path.size()));
        }
    }
    EndPaint(hwnd, &ps);
}

// Erases what the picture does not cover (nothing in full screen, where
// painting fills black).
BOOL eraseBackground(HWND hwnd, HDC dc) {
    ImageWindow* w = windowData(hwnd);
    if (!w) return FALSE;
    if (w->fullScreen) return TRUE;
    RECT client;
    GetClientRect(hwnd, &client);
    int saved = SaveDC(dc);
    ExcludeClipRect(dc, -w->offsetX, -w->offsetY, w->displayW - w->offsetX, w->displayH - w->offsetY);
    FillRect(dc, &client, reinterpret_cast<HBRUSH>(GetClassLongPtrA(hwnd, GCLP_HBRBACKGROUND)));
    RestoreDC(dc, saved);
    return TRUE;
}

bool realisePalette(HWND hwnd, const ImageWindow* w) {
    if (!w->palette) return false;
    HDC dc = GetDC(hwnd);
    HPALETTE old = SelectPalette(dc, w->palette, FALSE);
    UINT changed = RealizePalette(dc);
    SelectPalette(dc, old, FALSE);
    ReleaseDC(hwnd, dc);
    if (changed) InvalidateRect(hwnd, nullptr, FALSE);
    return changed != 0;
}

}  // namespace imagewnd
