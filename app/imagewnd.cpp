// Image windows "VclientClass": one page of one file in an MDI child, shown
// at a zoom or fitted to the window, in a window or full screen; stepping
// through the folder (or the list it was opened with) and through pages; the
// operations of the "&Image" and "Fi&ltre" menus with one level of undo;
// saving.
//
// The screen copy holds only the part of the displayed picture that the
// window shows, so a 16:1 zoom of a large picture costs no more than 1:1.
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "app.h"

#include <windowsx.h>

#include "dither.h"
#include "geometry.h"
#include "kaleocore.h"
#include "menuops.h"
#include "opdialogs.h"
#include "optable.h"
#include "viewlayout.h"

namespace {

constexpr int LINE_STEP = 16;      // pixels of a scroll-bar arrow or an arrow key
constexpr int HANDLE_SIZE = 4;     // half the side of a selection handle, in pixels

enum DragMode { DRAG_NONE, DRAG_SELECT, DRAG_RESIZE, DRAG_PAN };

struct ImageWindow {
    bool modified = false;
    bool fitToWindow = false;
    char folder[MAX_PATH + 1] = {};    // full paths: at least 260 bytes
    char name[MAX_PATH + 1] = {};
    int formatIndex = -1;
    int currentPage = 0;
    int pageCount = 1;
    bool singlePage = false;            // a page extracted from a multi-page file
    OwnedImage image;
    OwnedImage undoImage;
    // "Vue Auto.": the operation previewed on the image while a dialog is open.
    OwnedImage preview;
    bool showingPreview = false;
    // The screen copy and the displayed size.
    DibBuffer display;
    bool displayValid = false;
    int32_t displayW = 1, displayH = 1;
    HPALETTE palette = nullptr;
    int zoom = 1;
    int32_t offsetX = 0, offsetY = 0;
    int32_t scrollMaxX = 0, scrollMaxY = 0;
    int32_t clientW = 0, clientH = 0;
    bool layingOut = false;
    // Selection in picture coordinates (right and bottom exclusive).
    RECT selection = {};
    bool hasSelection = false;
    DragMode drag = DRAG_NONE;
    int dragHandle = -1;
    POINT dragAnchor = {};              // picture point (select) or client point (pan)
    int32_t dragOffsetX = 0, dragOffsetY = 0;
    bool dragMoved = false;
    // Full screen.
    bool fullScreen = false;
    bool wasMaximized = false;
    HMENU savedMenu = nullptr;
    LONG savedStyle = 0;
    WINDOWPLACEMENT savedFrame = {};
    bool cursorHidden = false;
    std::vector<std::string> fileList;  // the files it was opened with, for stepping
    char formatName[96] = {};
    char description[160] = {};
};

struct BitmapHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

ImageWindow* windowData(HWND hwnd) { return reinterpret_cast<ImageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

const Image& shownImage(const ImageWindow* w) { return w->showingPreview ? w->preview : w->image; }

std::string windowPath(const ImageWindow* w) { return std::string(w->folder) + w->name; }

void swapImages(Image* a, Image* b) { std::swap(*a, *b); }

// ---- Loading ------------------------------------------------------------------------------

IoOptions loadOptions(int formatIndex, int page) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(formatIndex);
    o.pageIndex = page;
    if (g_settings.ignoreError) o.flags |= OPT_ACCEPT_DAMAGED;
    o.readerParameter1 = g_settings.pcdBase;
    o.readerParameter2 = static_cast<int16_t>(g_settings.grobBpp + 1);
    o.rawWidth = g_settings.rawWidth;
    o.rawHeight = g_settings.rawHeight;
    o.rawOffset = g_settings.rawOffset;
    o.rawParameter = g_settings.channelType;
    o.rawLayout = g_settings.channelOrder;
    return o;
}

// Loads one page of a file (Windows path) into *image, which holds no pixels.
Status loadPicture(const char* path, int formatIndex, int page, Image* image, FileInfo* info, Progress* progress) {
    memset(info, 0, sizeof *info);
    std::string unixPath = libraryPath(path);
    if (unixPath.empty()) return ST_CANNOT_OPEN;
    IoOptions options = loadOptions(formatIndex, page);
    if (progress) {
        options.progressCallback = progressCallback;
        options.callbackDatum = progress;
    }
    BusyScope busy;
    Status st = loadImage(unixPath.c_str(), image, &options, info);
    if (st != ST_OK) freeImage(image);
    return st;
}

// The status bar text: format, size and page. A new file or page gives its
// format name; operations keep it.
void describe(ImageWindow* w, const FileInfo* info = nullptr) {
    if (info) copyText(w->formatName, sizeof w->formatName, info->formatName);
    char text[sizeof w->description];
    const char* format = w->formatName;
    if (w->pageCount > 1)
        snprintf(text, sizeof text, "%s - %dx%d - page %d/%d", format, w->image.width, w->image.height,
                 w->currentPage + 1, w->pageCount);
    else
        snprintf(text, sizeof text, "%s - %dx%d", format, w->image.width, w->image.height);
    copyText(w->description, sizeof w->description, text);
}

void showStatus(HWND hwnd) {
    ImageWindow* w = windowData(hwnd);
    if (!w || activeChild() != hwnd) return;
    char text[256];
    if (w->fitToWindow)
        snprintf(text, sizeof text, "%s", w->description);
    else if (w->zoom > 1)
        snprintf(text, sizeof text, "%s - %d:1", w->description, w->zoom);
    else if (w->zoom < -1)
        snprintf(text, sizeof text, "%s - 1:%d", w->description, -w->zoom);
    else
        snprintf(text, sizeof text, "%s", w->description);
    setStatusText(0, text);
}

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

// Computes the displayed size and the scroll bars for the client area.
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
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    if (l.x.bar) {
        si.nMax = dw - 1;
        si.nPage = static_cast<UINT>(l.x.client);
        si.nPos = l.x.offset;
    }
    SetScrollInfo(hwnd, SB_HORZ, &si, TRUE);
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    if (l.y.bar) {
        si.nMax = dh - 1;
        si.nPage = static_cast<UINT>(l.y.client);
        si.nPos = l.y.offset;
    }
    SetScrollInfo(hwnd, SB_VERT, &si, TRUE);
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

// The picture changed (operation, undo, page, preview): rebuild everything.
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

// ---- Scrolling ----------------------------------------------------------------------------

void scrollTo(HWND hwnd, ImageWindow* w, int32_t x, int32_t y) {
    x = w->scrollMaxX > 0 ? clampScroll(x, w->scrollMaxX) : w->offsetX;
    y = w->scrollMaxY > 0 ? clampScroll(y, w->scrollMaxY) : w->offsetY;
    if (x == w->offsetX && y == w->offsetY) return;
    int dx = w->offsetX - x, dy = w->offsetY - y;
    w->offsetX = x;
    w->offsetY = y;
    if (w->scrollMaxX > 0) SetScrollPos(hwnd, SB_HORZ, x, TRUE);
    if (w->scrollMaxY > 0) SetScrollPos(hwnd, SB_VERT, y, TRUE);
    // The screen copy covers only the visible part: shift what is on screen
    // and let the newly uncovered strips be painted from a new copy.
    ScrollWindowEx(hwnd, dx, dy, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
    if (w->hasSelection) InvalidateRect(hwnd, nullptr, FALSE);
}

void onScroll(HWND hwnd, int bar, int request) {
    ImageWindow* w = windowData(hwnd);
    if (!w) return;
    bool horizontal = bar == SB_HORZ;
    int32_t pos = horizontal ? w->offsetX : w->offsetY;
    int32_t page = horizontal ? w->clientW : w->clientH;
    int32_t max = horizontal ? w->scrollMaxX : w->scrollMaxY;
    switch (request) {
    case SB_LINEUP: pos -= LINE_STEP; break;
    case SB_LINEDOWN: pos += LINE_STEP; break;
    case SB_PAGEUP: pos -= page; break;
    case SB_PAGEDOWN: pos += page; break;
    case SB_TOP: pos = 0; break;
    case SB_BOTTOM: pos = max; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO si;
        memset(&si, 0, sizeof si);
        si.cbSize = sizeof si;
        si.fMask = SIF_TRACKPOS;
        GetScrollInfo(hwnd, bar, &si);
        pos = si.nTrackPos;
        break;
    }
    default: return;
    }
    if (horizontal)
        scrollTo(hwnd, w, pos, w->offsetY);
    else
        scrollTo(hwnd, w, w->offsetX, pos);
}

// ---- Zoom, fit, full screen ---------------------------------------------------------------

void setZoom(HWND hwnd, ImageWindow* w, int zoom) {
    w->zoom = zoom;
    w->fitToWindow = false;
    w->offsetX = w->offsetY = 0;
    refreshDisplay(hwnd, w);
}

void toggleFit(HWND hwnd, ImageWindow* w) {
    w->fitToWindow = !w->fitToWindow;
    g_settings.fitToWindow = w->fitToWindow ? 1 : 0;
    refreshDisplay(hwnd, w);
}

// "&Caler à l'image": the client area as large as the picture at 1:1 (within
// the MDI client, which a larger window could not show anyway).
void fitWindowToImage(HWND hwnd, ImageWindow* w) {
    if (w->fullScreen) return;
    if (IsZoomed(hwnd)) SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(hwnd), 0);
    const Image& img = shownImage(w);
    int32_t dw = img.width, dh = img.height;
    if (!w->fitToWindow) zoomedSize(img.width, img.height, 1, &dw, &dh);
    RECT r = {0, 0, dw, dh};
    LONG style = GetWindowLongA(hwnd, GWL_STYLE) & ~(WS_HSCROLL | WS_VSCROLL);
    AdjustWindowRectEx(&r, static_cast<DWORD>(style), FALSE, static_cast<DWORD>(GetWindowLongA(hwnd, GWL_EXSTYLE)));
    RECT area;
    GetClientRect(g_frame.client, &area);
    LONG width = r.right - r.left, height = r.bottom - r.top;
    if (width > area.right) width = area.right;
    if (height > area.bottom) height = area.bottom;
    SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    refreshDisplay(hwnd, w);
}

void enterFullScreen(HWND hwnd, ImageWindow* w) {
    if (w->fullScreen) return;
    w->fullScreen = true;
    if (g_frame.statusBar) ShowWindow(g_frame.statusBar, SW_HIDE);
    if (g_frame.toolBar) ShowWindow(g_frame.toolBar, SW_HIDE);
    w->wasMaximized = IsZoomed(hwnd) != 0;
    w->savedMenu = GetMenu(g_frame.frame);
    SetMenu(g_frame.frame, nullptr);
    memset(&w->savedFrame, 0, sizeof w->savedFrame);
    w->savedFrame.length = sizeof w->savedFrame;
    GetWindowPlacement(g_frame.frame, &w->savedFrame);
    w->savedStyle = GetWindowLongA(g_frame.frame, GWL_STYLE);
    SetWindowLongA(g_frame.frame, GWL_STYLE, WS_VISIBLE | WS_CLIPCHILDREN);
    SetWindowPos(g_frame.frame, HWND_TOP, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                 SWP_FRAMECHANGED);
    SendMessageA(g_frame.client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(hwnd), 0);
    if (g_settings.hideMouse && !w->cursorHidden) {
        ShowCursor(FALSE);
        w->cursorHidden = true;
    }
    SendMessageA(g_frame.frame, WM_SIZE, 0, 0);
    refreshDisplay(hwnd, w);
}

void leaveFullScreen(HWND hwnd, ImageWindow* w) {
    if (!w->fullScreen) return;
    w->fullScreen = false;
    SetWindowLongA(g_frame.frame, GWL_STYLE, w->savedStyle);
    SetWindowPos(g_frame.frame, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    SetWindowPlacement(g_frame.frame, &w->savedFrame);
    if (w->savedMenu) SetMenu(g_frame.frame, w->savedMenu);
    w->savedMenu = nullptr;
    if (g_frame.statusBar) ShowWindow(g_frame.statusBar, g_settings.statusBar ? SW_SHOW : SW_HIDE);
    if (g_frame.toolBar) ShowWindow(g_frame.toolBar, g_settings.toolBar ? SW_SHOW : SW_HIDE);
    if (!w->wasMaximized) SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(hwnd), 0);
    SendMessageA(g_frame.frame, WM_SIZE, 0, 0);
    if (w->cursorHidden) {
        ShowCursor(TRUE);
        w->cursorHidden = false;
    }
    DrawMenuBar(g_frame.frame);
    refreshDisplay(hwnd, w);
    RedrawWindow(g_frame.frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// ---- Mouse --------------------------------------------------------------------------------

POINT toPicture(const ImageWindow* w, int x, int y) {
    const Image& img = shownImage(w);
    int64_t px = (static_cast<int64_t>(x) + w->offsetX) * img.width / w->displayW;
    int64_t py = (static_cast<int64_t>(y) + w->offsetY) * img.height / w->displayH;
    POINT p;
    p.x = static_cast<LONG>(px < 0 ? 0 : px > img.width ? img.width : px);
    p.y = static_cast<LONG>(py < 0 ? 0 : py > img.height ? img.height : py);
    return p;
}

// The handle of the selection under a client point: 0-7 clockwise from the
// top-left corner, -1 for none.
int handleAt(const ImageWindow* w, int x, int y) {
    if (!w->hasSelection) return -1;
    RECT s = selectionOnScreen(w);
    const LONG xs[3] = {s.left, (s.left + s.right) / 2, s.right};
    const LONG ys[3] = {s.top, (s.top + s.bottom) / 2, s.bottom};
    static const int CELLS[8][2] = {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}};
    for (int i = 0; i < 8; ++i) {
        if (abs(x - xs[CELLS[i][0]]) <= HANDLE_SIZE && abs(y - ys[CELLS[i][1]]) <= HANDLE_SIZE) return i;
    }
    return -1;
}

LPCSTR handleCursor(int handle) {
    switch (handle) {
    case 0:
    case 4: return IDC_SIZENWSE;
    case 2:
    case 6: return IDC_SIZENESW;
    case 1:
    case 5: return IDC_SIZENS;
    default: return IDC_SIZEWE;
    }
}

void showSelectionStatus(const ImageWindow* w) {
    char text[96];
    snprintf(text, sizeof text, "%d %d (%dx%d)", static_cast<int>(w->selection.left),
             static_cast<int>(w->selection.top), static_cast<int>(w->selection.right - w->selection.left),
             static_cast<int>(w->selection.bottom - w->selection.top));
    setStatusText(0, text);
}

void normaliseSelection(ImageWindow* w) {
    RECT& s = w->selection;
    if (s.left > s.right) std::swap(s.left, s.right);
    if (s.top > s.bottom) std::swap(s.top, s.bottom);
    w->hasSelection = s.right > s.left && s.bottom > s.top;
}

void onMouseMove(HWND hwnd, ImageWindow* w, int x, int y) {
    switch (w->drag) {
    case DRAG_SELECT: {
        POINT p = toPicture(w, x, y);
        w->selection.left = w->dragAnchor.x;
        w->selection.top = w->dragAnchor.y;
        w->selection.right = p.x;
        w->selection.bottom = p.y;
        w->dragMoved = true;
        normaliseSelection(w);
        showSelectionStatus(w);
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    }
    case DRAG_RESIZE: {
        POINT p = toPicture(w, x, y);
        RECT& s = w->selection;
        switch (w->dragHandle) {
        case 0: s.left = p.x; s.top = p.y; break;
        case 1: s.top = p.y; break;
        case 2: s.right = p.x; s.top = p.y; break;
        case 3: s.right = p.x; break;
        case 4: s.right = p.x; s.bottom = p.y; break;
        case 5: s.bottom = p.y; break;
        case 6: s.left = p.x; s.bottom = p.y; break;
        default: s.left = p.x; break;
        }
        RECT keep = s;
        normaliseSelection(w);
        if (!w->hasSelection) {
            s = keep;
            w->hasSelection = true;  // a degenerate rectangle stays while dragging
        }
        showSelectionStatus(w);
        InvalidateRect(hwnd, nullptr, FALSE);
        break;
    }
    case DRAG_PAN:
        scrollTo(hwnd, w, w->dragOffsetX - (x - w->dragAnchor.x), w->dragOffsetY - (y - w->dragAnchor.y));
        break;
    case DRAG_NONE: break;
    }
}

// ---- Files and pages ----------------------------------------------------------------------

// Asks about unsaved changes: false when the user cancels or a wanted save fails.
bool confirmDiscard(HWND hwnd, ImageWindow* w);
int saveWindow(HWND hwnd, ImageWindow* w, bool askName);

// The candidates of a step: the opened list, else every entry of the folder.
std::vector<std::string> stepCandidates(const ImageWindow* w) {
    if (!w->fileList.empty()) return w->fileList;
    std::vector<std::string> list;
    if (!w->folder[0]) return list;
    std::string pattern = std::string(w->folder) + "*.*";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return list;
    do {
        if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
        list.push_back(std::string(w->folder) + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return list;
}

// Puts a new picture of a new file into the window.
void takeFile(HWND hwnd, ImageWindow* w, const std::string& path, Image* picture, const FileInfo& info) {
    size_t slash = path.rfind('\\');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    copyText(w->folder, sizeof w->folder, folder.c_str());
    copyText(w->name, sizeof w->name, name.c_str());
    w->formatIndex = info.formatIndex;
    w->pageCount = info.pageCount > 0 ? info.pageCount : 1;
    w->currentPage = 0;
    w->singlePage = false;
    freeImage(&w->undoImage);
    freeImage(&w->image);
    swapImages(&w->image, picture);
    w->modified = false;
    w->hasSelection = false;
    w->offsetX = w->offsetY = 0;
    describe(w, &info);
    SetWindowTextA(hwnd, path.c_str());
    refreshDisplay(hwnd, w);
}

void stepFile(HWND hwnd, ImageWindow* w, NavKind kind) {
    if (!confirmDiscard(hwnd, w)) return;
    std::vector<std::string> list = stepCandidates(w);
    int count = static_cast<int>(list.size());
    std::string current = windowPath(w);
    int target = stepTarget(kind, findInList(list, current), count);
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    int direction = stepDirection(kind);
    while (target >= 0 && target < count) {
        if (list[target] == current) break;
        OwnedImage picture;
        FileInfo info;
        Status st = loadPicture(list[target].c_str(), -1, 0, &picture, &info, nullptr);
        if (st == ST_UNKNOWN_FORMAT && w->formatIndex >= 0)
            st = loadPicture(list[target].c_str(), w->formatIndex, 0, &picture, &info, nullptr);
        if (st == ST_OK) {
            takeFile(hwnd, w, list[target], &picture, info);
            break;
        }
        if (st == ST_STOPPED) break;
        target += direction;
    }
    SetCursor(old);
}

// Loads a page of the window's file; the picture shown so far becomes the
// undo image. Used for another page and for "Réouvrir".
void loadPageOfFile(HWND hwnd, ImageWindow* w, int page) {
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    OwnedImage picture;
    FileInfo info;
    std::string path = windowPath(w);
    Status st = loadPicture(path.c_str(), w->formatIndex, page, &picture, &info, nullptr);
    SetCursor(old);
    if (st != ST_OK) {
        if (st != ST_STOPPED) showStatusError(hwnd, st, path.c_str(), info.message);
        return;
    }
    freeImage(&w->undoImage);
    swapImages(&w->undoImage, &w->image);
    swapImages(&w->image, &picture);
    w->currentPage = page;
    w->modified = false;
    w->hasSelection = false;
    describe(w, &info);
    refreshDisplay(hwnd, w);
}

void showPage(HWND hwnd, ImageWindow* w, int page) {
    if (page == w->currentPage || page < 0 || page >= w->pageCount) return;
    if (!confirmDiscard(hwnd, w)) return;
    loadPageOfFile(hwnd, w, page);
}

void reloadPage(HWND hwnd, ImageWindow* w) {
    if (!w->folder[0] && !w->name[0]) return;
    loadPageOfFile(hwnd, w, w->currentPage);
}

HWND createChild(ImageWindow* w, const char* title);

void extractPages(HWND hwnd, ImageWindow* w) {
    std::string path = windowPath(w);
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    for (int page = 0; page < w->pageCount; ++page) {
        if (page == w->currentPage) continue;
        ImageWindow* other = new (std::nothrow) ImageWindow;
        if (!other) {
            showStatusError(hwnd, ST_NO_MEMORY, path.c_str(), nullptr);
            break;
        }
        FileInfo info;
        Status st = loadPicture(path.c_str(), w->formatIndex, page, &other->image, &info, nullptr);
        if (st != ST_OK) {
            delete other;
            if (st != ST_STOPPED) showStatusError(hwnd, st, path.c_str(), info.message);
            break;
        }
        copyText(other->folder, sizeof other->folder, w->folder);
        copyText(other->name, sizeof other->name, w->name);
        other->formatIndex = w->formatIndex;
        other->pageCount = 1;
        other->singlePage = true;  // "&Sauver" must not write one page over the whole file
        describe(other, &info);
        char title[PATH_SIZE + 32];
        snprintf(title, sizeof title, "%s [%d]", w->name, page + 1);
        if (!createChild(other, title)) break;
    }
    SetCursor(old);
}

// ---- Operations ---------------------------------------------------------------------------

void reportOperationFailure(HWND hwnd, Status st) {
    if (st == ST_NO_MEMORY) {
        MessageBoxA(hwnd, loadText(IDS_ERR_NO_MEMORY).c_str(), "Warning", MB_OK | MB_ICONERROR);
    } else {
        char text[128];
        snprintf(text, sizeof text, "%s", opStatusText(st));
        MessageBoxA(hwnd, text, "Warning", MB_OK | MB_ICONERROR);
    }
}

// The current picture becomes the undo image and `result` the picture.
void commitResult(HWND hwnd, ImageWindow* w, Image* result) {
    freeImage(&w->undoImage);
    swapImages(&w->undoImage, &w->image);
    swapImages(&w->image, result);
    w->modified = true;
    w->hasSelection = false;
    describe(w);
    refreshDisplay(hwnd, w);
}

bool previewShow(void* context, int commandId, const MenuOpParams& params) {
    HWND hwnd = static_cast<HWND>(context);
    ImageWindow* w = windowData(hwnd);
    if (!w) return false;
    OwnedImage result;
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    Status st = applyMenuOperation(commandId, params, &w->image, &result);
    SetCursor(old);
    freeImage(&w->preview);
    if (st != ST_OK) {
        w->showingPreview = false;
        refreshDisplay(hwnd, w);
        return false;
    }
    swapImages(&w->preview, &result);
    w->showingPreview = true;
    refreshDisplay(hwnd, w);
    UpdateWindow(hwnd);
    return true;
}

void previewRestore(void* context) {
    HWND hwnd = static_cast<HWND>(context);
    ImageWindow* w = windowData(hwnd);
    if (!w) return;
    bool was = w->showingPreview;
    w->showingPreview = false;
    freeImage(&w->preview);
    if (was) {
        refreshDisplay(hwnd, w);
        UpdateWindow(hwnd);
    }
}

void runOperation(HWND hwnd, ImageWindow* w, int id) {
    MenuOpParams params;
    defaultMenuOpParams(id, &w->image, &params);
    if (menuOpDialog(id) != MENU_DIALOG_NONE) {
        OpPreview preview = {hwnd, &w->image, previewShow, previewRestore};
        OpDialogResult answer = runOperationDialog(hwnd, id, w->image, &preview, &params);
        if (answer == OPDLG_CANCELLED) {
            previewRestore(hwnd);
            return;
        }
        if (answer == OPDLG_SHOWN && w->showingPreview) {
            w->showingPreview = false;
            OwnedImage result;
            swapImages(&result, &w->preview);
            commitResult(hwnd, w, &result);
            return;
        }
        previewRestore(hwnd);
    }
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    OwnedImage result;
    Status st = applyMenuOperation(id, params, &w->image, &result);
    SetCursor(old);
    if (st != ST_OK) {
        // The picture and its undo image stay as they were.
        reportOperationFailure(hwnd, st);
        return;
    }
    commitResult(hwnd, w, &result);
}

void crop(HWND hwnd, ImageWindow* w) {
    if (!w->hasSelection) return;
    const RECT& s = w->selection;
    OwnedImage result;
    Status st = cropImage(&w->image, &result, s.left, s.top, s.right - s.left, s.bottom - s.top);
    if (st != ST_OK) {
        reportOperationFailure(hwnd, st);
        return;
    }
    commitResult(hwnd, w, &result);
}

// Swaps the picture and the undo image: a second "Undo" restores the result.
void undo(HWND hwnd, ImageWindow* w) {
    if (!w->undoImage.pixels) return;
    swapImages(&w->image, &w->undoImage);
    w->modified = true;
    w->hasSelection = false;
    describe(w);
    refreshDisplay(hwnd, w);
}

void countColoursOf(HWND hwnd, ImageWindow* w) {
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    int32_t n = countColours(&w->image);
    SetCursor(old);
    if (n <= 0) return;
    char text[64];
    snprintf(text, sizeof text, "%d couleurs unique !", static_cast<int>(n));
    MessageBoxA(hwnd, text, "Information", MB_OK | MB_ICONINFORMATION);
}

// ---- Saving -------------------------------------------------------------------------------

bool hasWriter(int formatIndex) {
    const FormatRecord* r = formatRecord(formatIndex);
    return r && r->writer;
}

// The filter list of the save dialog: one entry per writable format, and the
// format index of each entry.
std::string saveFilters(std::vector<int>* formats) {
    std::string filters;
    for (int i = 0; i < formatCount(); ++i) {
        const FormatRecord* r = formatRecord(i);
        if (!r || !r->writer || formatReaderIsPlaceholder(i)) continue;
        std::string patterns;
        for (int e = 0; e < MAX_EXTENSIONS && r->extensions[e]; ++e) {
            if (!patterns.empty()) patterns += ";";
            patterns += std::string("*.") + r->extensions[e];
        }
        filters += std::string(r->description) + " (" + patterns + ")";
        filters.push_back('\0');
        filters += patterns;
        filters.push_back('\0');
        formats->push_back(i);
    }
    filters.push_back('\0');
    return filters;
}

int g_lastSaveFormat = -1;

// The save dialog's own part (template "2011"): "Options" opens the writer
// options.
UINT_PTR CALLBACK saveHook(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_COMMAND && LOWORD(wParam) == IDC_SAVE_OPTIONS) {
        showOptionsDialog(GetParent(dialog), 0);
        return 1;
    }
    return 0;
}

// Saves to path in the format; with `replace` the file is written beside it
// under a temporary name and replaces it only once complete.
int saveTo(HWND hwnd, ImageWindow* w, const char* path, int formatIndex, bool replace) {
    resetRememberedConversion();
    char target[FILE_NAME_LEN];
    copyText(target, sizeof target, path);
    if (!replace) return saveConverted(hwnd, target, formatIndex, &w->image, false, false, true);
    char temporary[FILE_NAME_LEN];
    snprintf(temporary, sizeof temporary, "%s.~kaleos", path);
    int st = saveConverted(hwnd, temporary, formatIndex, &w->image, false, false, true);
    if (st != 0) {
        DeleteFileA(temporary);
        return st;
    }
    if (!MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary);
        showStatusError(hwnd, ST_WRITE_ERROR, path, nullptr);
        return ST_WRITE_ERROR;
    }
    return 0;
}

int saveAs(HWND hwnd, ImageWindow* w, const char* path, int formatIndex) {
    int st = saveTo(hwnd, w, path, formatIndex, false);
    if (st != 0) return st;
    std::string p = path;
    size_t slash = p.rfind('\\');
    copyText(w->folder, sizeof w->folder, slash == std::string::npos ? "" : p.substr(0, slash + 1).c_str());
    copyText(w->name, sizeof w->name, slash == std::string::npos ? path : p.substr(slash + 1).c_str());
    w->formatIndex = formatIndex;
    w->pageCount = 1;
    w->currentPage = 0;
    w->singlePage = false;
    w->modified = false;
    SetWindowTextA(hwnd, path);
    addRecentFile(path);
    return 0;
}

int askAndSave(HWND hwnd, ImageWindow* w) {
    std::vector<int> formats;
    std::string filters = saveFilters(&formats);
    if (formats.empty()) return SAVE_CANCELLED;
    int preferred = hasWriter(w->formatIndex) ? w->formatIndex : g_lastSaveFormat;
    DWORD filterIndex = 1;
    for (size_t i = 0; i < formats.size(); ++i)
        if (formats[i] == preferred) filterIndex = static_cast<DWORD>(i + 1);
    char file[PATH_SIZE];
    copyText(file, sizeof file, w->name[0] ? w->name : "");
    std::string title = loadText(IDS_SAVE_PICTURE);
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = filterIndex;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrInitialDir = g_settings.pathSave[0] ? g_settings.pathSave : nullptr;
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (g_frame.hasNewShell) {
        ofn.Flags |= OFN_EXPLORER | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
        ofn.hInstance = g_frame.instance;
        ofn.lpTemplateName = MAKEINTRESOURCEA(2011);
        ofn.lpfnHook = saveHook;
    }
    if (!GetSaveFileNameA(&ofn)) return SAVE_CANCELLED;
    if (ofn.nFilterIndex < 1 || ofn.nFilterIndex > formats.size()) return SAVE_CANCELLED;
    int format = formats[ofn.nFilterIndex - 1];
    g_lastSaveFormat = format;
    // A name typed without extension receives the format's.
    std::string path = file;
    size_t slash = path.rfind('\\');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const FormatRecord* r = formatRecord(format);
    if (name.find('.') == std::string::npos && r->extensions[0]) path += std::string(".") + r->extensions[0];
    if (path.size() > MAX_PATH_CHARS) {
        showStatusError(hwnd, ST_CANNOT_OPEN, path.c_str(), nullptr);
        return ST_CANNOT_OPEN;
    }
    slash = path.rfind('\\');
    if (slash != std::string::npos) copyText(g_settings.pathSave, PATH_SIZE, path.substr(0, slash + 1).c_str());
    return saveAs(hwnd, w, path.c_str(), format);
}

// "&Sauver" (askName false) or "Sauver S&ous..." (true). Returns 0 when saved.
int saveWindow(HWND hwnd, ImageWindow* w, bool askName) {
    if (g_frame.viewOnly) return SAVE_CANCELLED;
    // A file without a writer, of several pages, or a page taken from one
    // is saved under a new name.
    bool inPlace = !askName && w->formatIndex >= 0 && hasWriter(w->formatIndex) && w->pageCount <= 1 &&
                   !w->singlePage && w->name[0];
    if (!inPlace) return askAndSave(hwnd, w);
    std::string text = loadText(IDS_OVERWRITE);
    if (MessageBoxA(hwnd, text.c_str(), "Save As", MB_OKCANCEL | MB_ICONQUESTION) != IDOK) return SAVE_CANCELLED;
    std::string path = windowPath(w);
    int st = saveTo(hwnd, w, path.c_str(), w->formatIndex, true);
    if (st == 0) w->modified = false;
    return st;
}

bool confirmDiscard(HWND hwnd, ImageWindow* w) {
    if (!w->modified || g_frame.viewOnly) return true;
    if (IsIconic(hwnd)) SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(hwnd), 0);
    std::string format = loadText(IDS_SAVE_CHANGES);
    char text[PATH_SIZE + 128];
    snprintf(text, sizeof text, format.c_str(), w->name);
    int answer = MessageBoxA(hwnd, text, "Warning", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) return saveWindow(hwnd, w, false) == 0;
    return true;
}

// ---- Commands -----------------------------------------------------------------------------

bool commandAvailable(const ImageWindow* w, int id) {
    bool hasFile = w->name[0] != '\0' && w->formatIndex >= 0;
    switch (id) {
    case CMD_REOPEN: return hasFile;
    case CMD_SAVE:
    case CMD_SAVE_AS: return !g_frame.viewOnly;
    case CMD_UNDO: return w->undoImage.pixels != nullptr;
    case CMD_CROP: return w->hasSelection;
    case CMD_NEXT_FILE:
    case CMD_PREV_FILE:
    case CMD_FIRST_FILE:
    case CMD_LAST_FILE: return w->folder[0] != '\0' || !w->fileList.empty();
    case CMD_NEXT_PAGE:
    case CMD_LAST_PAGE: return w->currentPage < w->pageCount - 1;
    case CMD_PREV_PAGE:
    case CMD_FIRST_PAGE: return w->currentPage > 0;
    case CMD_EXTRACT_PAGES: return w->pageCount > 1 && hasFile;
    case CMD_COUNT_COLOURS: return true;
    case CMD_FULL_SCREEN:
    case CMD_FIT_WINDOW_TO_IMAGE:
    case CMD_FIT_TO_WINDOW:
    case CMD_ZOOM_IN:
    case CMD_ZOOM_OUT: return true;
    default: break;
    }
    if (id >= CMD_ZOOM_FIRST && id <= CMD_ZOOM_LAST) return true;
    return isMenuOperation(id);
}

void onCommand(HWND hwnd, ImageWindow* w, int id) {
    if (!commandAvailable(w, id)) return;
    switch (id) {
    case CMD_REOPEN: reloadPage(hwnd, w); return;
    case CMD_SAVE: saveWindow(hwnd, w, false); return;
    case CMD_SAVE_AS: saveWindow(hwnd, w, true); return;
    case CMD_UNDO: undo(hwnd, w); return;
    case CMD_CROP: crop(hwnd, w); return;
    case CMD_NEXT_FILE: stepFile(hwnd, w, NAV_NEXT); return;
    case CMD_PREV_FILE: stepFile(hwnd, w, NAV_PREVIOUS); return;
    case CMD_FIRST_FILE: stepFile(hwnd, w, NAV_FIRST); return;
    case CMD_LAST_FILE: stepFile(hwnd, w, NAV_LAST); return;
    case CMD_NEXT_PAGE: showPage(hwnd, w, pageTarget(NAV_NEXT, w->currentPage, w->pageCount)); return;
    case CMD_PREV_PAGE: showPage(hwnd, w, pageTarget(NAV_PREVIOUS, w->currentPage, w->pageCount)); return;
    case CMD_FIRST_PAGE: showPage(hwnd, w, pageTarget(NAV_FIRST, w->currentPage, w->pageCount)); return;
    case CMD_LAST_PAGE: showPage(hwnd, w, pageTarget(NAV_LAST, w->currentPage, w->pageCount)); return;
    case CMD_EXTRACT_PAGES: extractPages(hwnd, w); return;
    case CMD_COUNT_COLOURS: countColoursOf(hwnd, w); return;
    case CMD_FULL_SCREEN:
        if (w->fullScreen)
            leaveFullScreen(hwnd, w);
        else
            enterFullScreen(hwnd, w);
        return;
    case CMD_FIT_WINDOW_TO_IMAGE: fitWindowToImage(hwnd, w); return;
    case CMD_FIT_TO_WINDOW: toggleFit(hwnd, w); return;
    case CMD_ZOOM_IN: setZoom(hwnd, w, zoomIn(w->zoom)); return;
    case CMD_ZOOM_OUT: setZoom(hwnd, w, zoomOut(w->zoom)); return;
    default: break;
    }
    if (id >= CMD_ZOOM_FIRST && id <= CMD_ZOOM_LAST) {
        setZoom(hwnd, w, zoomPreset(id));
        return;
    }
    if (isMenuOperation(id)) runOperation(hwnd, w, id);
}

void onKey(HWND hwnd, ImageWindow* w, WPARAM key) {
    switch (key) {
    case VK_LEFT: onScroll(hwnd, SB_HORZ, SB_LINEUP); return;
    case VK_RIGHT: onScroll(hwnd, SB_HORZ, SB_LINEDOWN); return;
    case VK_UP: onScroll(hwnd, SB_VERT, SB_LINEUP); return;
    case VK_DOWN: onScroll(hwnd, SB_VERT, SB_LINEDOWN); return;
    case VK_PRIOR: onScroll(hwnd, SB_VERT, SB_PAGEUP); return;
    case VK_NEXT: onScroll(hwnd, SB_VERT, SB_PAGEDOWN); return;
    case VK_HOME: onScroll(hwnd, SB_VERT, SB_TOP); return;
    case VK_END: onScroll(hwnd, SB_VERT, SB_BOTTOM); return;
    case VK_ESCAPE:
        if (w->fullScreen)
            leaveFullScreen(hwnd, w);
        else
            SendMessageA(g_frame.frame, WM_COMMAND, CMD_ESCAPE, 0);
        return;
    case VK_ADD:
    case VK_SUBTRACT: return;
    default:
        if (w->fullScreen) leaveFullScreen(hwnd, w);
        return;
    }
}

void onClose(HWND hwnd, ImageWindow* w) {
    if (w && w->fullScreen) {
        leaveFullScreen(hwnd, w);
        return;
    }
    if (w && !confirmDiscard(hwnd, w)) return;
    SendMessageA(g_frame.client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(hwnd), 0);
}

LRESULT CALLBACK imageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    ImageWindow* w = windowData(hwnd);
    switch (msg) {
    case WM_CREATE: {
        const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        const MDICREATESTRUCTA* mdi = static_cast<const MDICREATESTRUCTA*>(cs->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, mdi->lParam);
        w = windowData(hwnd);
        if (w) {
            w->fitToWindow = g_settings.fitToWindow != 0;
            w->zoom = 1;
            layout(hwnd, w);
        }
        break;
    }
    case WM_SIZE:
        // (The default handling of WM_WINDOWPOSCHANGED sends this too.)
        if (w && !w->layingOut && wParam != SIZE_MINIMIZED) {
            layout(hwnd, w);
            InvalidateRect(hwnd, nullptr, TRUE);
        }
        break;
    case WM_HSCROLL: onScroll(hwnd, SB_HORZ, LOWORD(wParam)); return 0;
    case WM_VSCROLL: onScroll(hwnd, SB_VERT, LOWORD(wParam)); return 0;
    case WM_MOUSEWHEEL:
        if (w) scrollTo(hwnd, w, w->offsetX, w->offsetY - GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA * 3 * LINE_STEP);
        return 0;
    case WM_KEYDOWN:
        if (w) onKey(hwnd, w, wParam);
        return 0;
    case WM_ERASEBKGND: return eraseBackground(hwnd, reinterpret_cast<HDC>(wParam));
    case WM_PAINT: paint(hwnd); return 0;
    case WM_MDIACTIVATE:
        if (reinterpret_cast<HWND>(lParam) == hwnd && w) {
            showStatus(hwnd);
            if (w->palette) {
                HDC dc = GetDC(hwnd);
                HPALETTE old = SelectPalette(dc, w->palette, FALSE);
                if (RealizePalette(dc)) InvalidateRect(hwnd, nullptr, FALSE);
                SelectPalette(dc, old, FALSE);
                ReleaseDC(hwnd, dc);
            }
        }
        PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
        break;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
        if (w && w->palette && !(msg == WM_PALETTECHANGED && reinterpret_cast<HWND>(wParam) == hwnd)) {
            HDC dc = GetDC(hwnd);
            HPALETTE old = SelectPalette(dc, w->palette, FALSE);
            UINT changed = RealizePalette(dc);
            SelectPalette(dc, old, FALSE);
            ReleaseDC(hwnd, dc);
            if (changed) InvalidateRect(hwnd, nullptr, FALSE);
            return changed ? TRUE : FALSE;
        }
        return FALSE;
    case WM_INITMENU:
        if (w) {
            HMENU menu = reinterpret_cast<HMENU>(wParam);
            CheckMenuItem(menu, CMD_FIT_TO_WINDOW, MF_BYCOMMAND | (w->fitToWindow ? MF_CHECKED : MF_UNCHECKED));
            CheckMenuItem(menu, CMD_FULL_SCREEN, MF_BYCOMMAND | (w->fullScreen ? MF_CHECKED : MF_UNCHECKED));
        }
        return 0;
    case WM_SETCURSOR:
        if (w && LOWORD(lParam) == HTCLIENT && !w->fullScreen && w->drag == DRAG_NONE) {
            POINT p;
            GetCursorPos(&p);
            ScreenToClient(hwnd, &p);
            int handle = handleAt(w, p.x, p.y);
            if (handle >= 0) {
                SetCursor(LoadCursorA(nullptr, handleCursor(handle)));
                return TRUE;
            }
        }
        break;
    case WM_LBUTTONDOWN:
        if (!w) return 0;
        if (w->fullScreen) {
            if (g_settings.mouseNavigation) stepFile(hwnd, w, NAV_PREVIOUS);
            return 0;
        }
        {
            int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
            int handle = handleAt(w, x, y);
            if (handle >= 0) {
                w->drag = DRAG_RESIZE;
                w->dragHandle = handle;
            } else {
                w->drag = DRAG_SELECT;
                w->dragAnchor = toPicture(w, x, y);
                w->dragMoved = false;
                if (w->hasSelection) {
                    w->hasSelection = false;
                    InvalidateRect(hwnd, nullptr, FALSE);
                }
            }
            SetCapture(hwnd);
        }
        return 0;
    case WM_MOUSEMOVE:
        if (w) onMouseMove(hwnd, w, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        if (w && w->drag != DRAG_NONE) {
            w->drag = DRAG_NONE;
            ReleaseCapture();
            showStatus(hwnd);
        }
        return 0;
    case WM_RBUTTONDOWN:
        if (!w) return 0;
        if (w->fullScreen) {
            if (g_settings.mouseNavigation) stepFile(hwnd, w, NAV_NEXT);
            return 0;
        }
        w->drag = DRAG_PAN;
        w->dragAnchor.x = GET_X_LPARAM(lParam);
        w->dragAnchor.y = GET_Y_LPARAM(lParam);
        w->dragOffsetX = w->offsetX;
        w->dragOffsetY = w->offsetY;
        SetCapture(hwnd);
        return 0;
    case WM_CAPTURECHANGED:
        // Another window took the mouse: the drag ends.
        if (w && reinterpret_cast<HWND>(lParam) != hwnd) w->drag = DRAG_NONE;
        return 0;
    case WM_APP_QUERY_COMMAND: return w && commandAvailable(w, static_cast<int>(wParam)) ? 1 : 0;
    case WM_APP_QUERY_CLOSE: return !w || confirmDiscard(hwnd, w) ? 1 : 0;
    case WM_APP_SET_MODIFIED:
        if (w) w->modified = wParam != 0;
        return 0;
    case WM_COMMAND:
        if (w) onCommand(hwnd, w, LOWORD(wParam));
        return 0;
    case WM_CLOSE: onClose(hwnd, w); return 0;
    case WM_DESTROY:
        if (w && w->fullScreen) leaveFullScreen(hwnd, w);
        break;
    case WM_NCDESTROY:
        if (w) {
            releasePalette(w);
            delete w;
        }
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        setStatusText(0, "");
        PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
        break;
    }
    return DefMDIChildProcA(hwnd, msg, wParam, lParam);
}

// Creates the MDI child for a loaded picture (takes ownership of w).
HWND createChild(ImageWindow* w, const char* title) {
    BOOL activeMaximized = FALSE;
    SendMessageA(g_frame.client, WM_MDIGETACTIVE, 0, reinterpret_cast<LPARAM>(&activeMaximized));
    RECT area;
    GetClientRect(g_frame.client, &area);
    MDICREATESTRUCTA mcs;
    memset(&mcs, 0, sizeof mcs);
    mcs.szClass = CHILD_CLASS;
    mcs.szTitle = title;
    mcs.hOwner = g_frame.instance;
    mcs.x = mcs.y = mcs.cx = mcs.cy = CW_USEDEFAULT;
    mcs.style = WS_HSCROLL | WS_VSCROLL | ((g_settings.maximizeViewWhenOpen || activeMaximized) ? WS_MAXIMIZE : 0);
    mcs.lParam = reinterpret_cast<LPARAM>(w);
    bool fitsArea = w->image.width < area.right && w->image.height < area.bottom;
    HWND child = reinterpret_cast<HWND>(SendMessageA(g_frame.client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)));
    if (!child) {
        delete w;
        return nullptr;
    }
    // A picture smaller than the MDI client gets a window of its size.
    if (fitsArea && !(mcs.style & WS_MAXIMIZE)) SendMessageA(child, WM_COMMAND, CMD_FIT_WINDOW_TO_IMAGE, 0);
    SetFocus(child);
    return child;
}

}  // namespace

bool registerImageWindowClass() {
    WNDCLASSA wc;
    if (GetClassInfoA(g_frame.instance, CHILD_CLASS, &wc)) return true;
    memset(&wc, 0, sizeof wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = imageProc;
    wc.hInstance = g_frame.instance;
    wc.hIcon = LoadIconA(g_frame.instance, MAKEINTRESOURCEA(IDI_KALEOS));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = CHILD_CLASS;
    return RegisterClassA(&wc) != 0;
}

HWND openImageWindow(const char* path, int formatIndex, const std::vector<std::string>* list) {
    // A load or save is pumping messages: this file waits for it.
    if (libraryBusy()) {
        queueOpenRequest(path, formatIndex);
        return nullptr;
    }
    // 1. Folder and name of the file as stored on disk.
    char full[PATH_SIZE];
    char* namePart = nullptr;
    DWORD n = GetFullPathNameA(path, sizeof full, full, &namePart);
    if (n == 0 || n >= sizeof full) {
        showStatusError(g_frame.frame, ST_CANNOT_OPEN, path, nullptr);
        return nullptr;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(full, &found);
    if (search == INVALID_HANDLE_VALUE) {
        showStatusError(g_frame.frame, ST_CANNOT_OPEN, full, nullptr);
        return nullptr;
    }
    FindClose(search);
    ImageWindow* w = new (std::nothrow) ImageWindow;
    if (!w) {
        showStatusError(g_frame.frame, ST_NO_MEMORY, full, nullptr);
        return nullptr;
    }
    const char* slash = strrchr(full, '\\');
    size_t folderLength = slash ? static_cast<size_t>(slash - full) + 1 : 0;
    memcpy(w->folder, full, folderLength);
    w->folder[folderLength] = '\0';
    copyText(w->name, sizeof w->name, found.cFileName);
    if (folderLength + strlen(w->name) > MAX_PATH_CHARS) {
        delete w;
        showStatusError(g_frame.frame, ST_CANNOT_OPEN, full, nullptr);
        return nullptr;
    }
    copyText(full, sizeof full, (std::string(w->folder) + w->name).c_str());
    if (list) w->fileList = *list;

    // 2-3. Load page 0 with the progress window.
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    std::string text = loadText(IDS_LOADING) + "\n    " + full;
    Progress* progress = openProgress(g_frame.frame, loadText(IDS_LOADING).c_str(), text.c_str(), true);
    FileInfo info;
    Status st = loadPicture(full, formatIndex, 0, &w->image, &info, progress);
    closeProgress(progress);
    SetCursor(old);
    if (st != ST_OK) {
        delete w;
        if (st == ST_STOPPED) return nullptr;
        showStatusError(g_frame.frame, st, full, info.message);
        if (g_settings.openHexaViewIfNotPicture) return openDumpWindow(full);
        return nullptr;
    }
    w->formatIndex = info.formatIndex;
    w->pageCount = info.pageCount > 0 ? info.pageCount : 1;
    describe(w, &info);

    // 4. Browser folder and recent files.
    if (g_settings.startInPrevDir) copyText(g_settings.pathBrowse, PATH_SIZE, w->folder);
    addRecentFile(full);

    // 5. The child window.
    char name[PATH_SIZE];
    copyText(name, sizeof name, w->name);
    return createChild(w, name);
}

// ---- Introspection for the frame and the GUI test -----------------------------------------

bool imageWindowState(HWND hwnd, ImageWindowState* state) {
    if (!hwnd || !state) return false;
    char cls[64];
    if (!GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, CHILD_CLASS) != 0) return false;
    ImageWindow* w = windowData(hwnd);
    if (!w) return false;
    state->image = &w->image;
    state->undoImage = w->undoImage.pixels ? &w->undoImage : nullptr;
    state->shown = &shownImage(w);
    state->modified = w->modified;
    state->fitToWindow = w->fitToWindow;
    state->fullScreen = w->fullScreen;
    state->zoom = w->zoom;
    state->displayWidth = w->displayW;
    state->displayHeight = w->displayH;
    state->bufferWidth = w->displayValid ? w->display.width : 0;
    state->bufferHeight = w->displayValid ? w->display.height : 0;
    state->offsetX = w->offsetX;
    state->offsetY = w->offsetY;
    state->currentPage = w->currentPage;
    state->pageCount = w->pageCount;
    state->formatIndex = w->formatIndex;
    state->path = windowPath(w);
    state->hasSelection = w->hasSelection;
    state->selection = w->selection;
    return true;
}

int imageWindowSaveAs(HWND hwnd, const char* path, int formatIndex) {
    ImageWindowState s;
    if (!imageWindowState(hwnd, &s)) return ST_CORRUPT;
    return saveAs(hwnd, windowData(hwnd), path, formatIndex);
}

void imageWindowSelect(HWND hwnd, const RECT& selection) {
    ImageWindowState s;
    if (!imageWindowState(hwnd, &s)) return;
    ImageWindow* w = windowData(hwnd);
    w->selection = selection;
    normaliseSelection(w);
    InvalidateRect(hwnd, nullptr, FALSE);
}
