// Image windows "VclientClass": one page of one file in an MDI child, shown
// at a zoom or fitted to the window, in a window or full screen; stepping
// through the folder (or the list it was opened with) and through pages; the
// operations of the "&Image" and "Fi&ltre" menus with one level of undo;
// saving.
//
// This file creates the windows and handles their messages (loading,
// scrolling, keys and the mouse); the menu commands are in imagecmd.cpp and
// the screen copy and painting in imagepaint.cpp.
#include <cstdio>
#include <cstring>
#include <new>

#include "imagewnd.h"

#include <windowsx.h>

namespace imagewnd {

// ---- Loading ------------------------------------------------------------------------------

IoOptions loadOptions(int formatIndex, int page) { return settingsLoadOptions(formatIndex, page); }

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

void describe(ImageWindow* w, const FileInfo* info) {
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
    case WM_GETMINMAXINFO: {
        // A maximised window covers the client with its caption and border
        // outside: over a client as large as the screen (full screen) that is
        // taller than the default tracking limit allows.
        LRESULT r = DefMDIChildProcA(hwnd, msg, wParam, lParam);
        MINMAXINFO* mm = reinterpret_cast<MINMAXINFO*>(lParam);
        if (mm->ptMaxTrackSize.x < mm->ptMaxSize.x) mm->ptMaxTrackSize.x = mm->ptMaxSize.x;
        if (mm->ptMaxTrackSize.y < mm->ptMaxSize.y) mm->ptMaxTrackSize.y = mm->ptMaxSize.y;
        return r;
    }
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
            realisePalette(hwnd, w);
        }
        PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
        break;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
        if (w && w->palette && !(msg == WM_PALETTECHANGED && reinterpret_cast<HWND>(wParam) == hwnd))
            return realisePalette(hwnd, w) ? TRUE : FALSE;
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

}  // namespace imagewnd

using namespace imagewnd;

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

