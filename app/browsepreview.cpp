// The browser's preview pane, a picture ("VprevBmpClass", 1:1 with scroll
// bars or fitted) or the start of a file that is not one ("VprevDumpClass",
// hexadecimal or text), and the hover window ("VbubbleClass") that describes
// the entry under the pointer.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "browse.h"
#include "hexdump.h"
#include "kaleocore.h"
#include "viewlayout.h"

namespace browse {

namespace {

const char PREVIEW_IMAGE_CLASS[] = "VprevBmpClass";
const char PREVIEW_DUMP_CLASS[] = "VprevDumpClass";
const char BUBBLE_CLASS[] = "VbubbleClass";
constexpr DWORD DUMP_BYTES = 64 * 1024;  // the start of the file the dump pane shows

struct PreviewPane {
    DibBuffer dib;
    bool hasPicture = false;
    int zoom = 1;                 // when not fitted
    int32_t offsetX = 0, offsetY = 0;
    std::string bytes;   // dump pane: the start of the file
    bool ascii = false;
    int firstLine = 0;
};

PreviewPane* paneData(HWND w) { return reinterpret_cast<PreviewPane*>(GetWindowLongPtrA(w, GWLP_USERDATA)); }

int fitMode() { return g_settings.fitPreviewWindow ? g_settings.fitWindowOption + 1 : 0; }

// The picture's place in the pane: fitted (mode 1 shrinks larger pictures
// only, mode 2 fits every picture) and centred, or 1:1 at the scroll offset.
RECT pictureRect(HWND w, const PreviewPane* p) {
    RECT rc;
    GetClientRect(w, &rc);
    int64_t pw = p->dib.width, ph = p->dib.height, cw = rc.right, ch = rc.bottom;
    int mode = fitMode();
    if (mode != 0 && pw > 0 && ph > 0 && (mode == 2 || pw > cw || ph > ch)) {
        int64_t dw = cw, dh = ph * cw / pw;
        if (dh > ch) {
            dh = ch;
            dw = pw * ch / ph;
        }
        pw = std::max<int64_t>(1, dw);
        ph = std::max<int64_t>(1, dh);
        RECT r = {static_cast<LONG>((cw - pw) / 2), static_cast<LONG>((ch - ph) / 2), static_cast<LONG>((cw + pw) / 2),
                  static_cast<LONG>((ch + ph) / 2)};
        r.right = r.left + static_cast<LONG>(pw);
        r.bottom = r.top + static_cast<LONG>(ph);
        return r;
    }
    int32_t zw = 1, zh = 1;
    zoomedSize(p->dib.width, p->dib.height, p->zoom, &zw, &zh);
    pw = zw;
    ph = zh;
    LONG x = pw < cw ? static_cast<LONG>((cw - pw) / 2) : -p->offsetX;
    LONG y = ph < ch ? static_cast<LONG>((ch - ph) / 2) : -p->offsetY;
    return RECT{x, y, x + static_cast<LONG>(pw), y + static_cast<LONG>(ph)};
}

void updateImageScroll(HWND w, PreviewPane* p) {
    RECT rc;
    GetClientRect(w, &rc);
    bool scrolls = fitMode() == 0 && p->hasPicture;
    int bars[2] = {SB_HORZ, SB_VERT};
    int32_t sizes[2] = {1, 1};
    zoomedSize(p->dib.width, p->dib.height, p->zoom, &sizes[0], &sizes[1]);
    int32_t pages[2] = {rc.right, rc.bottom};
    int32_t* offsets[2] = {&p->offsetX, &p->offsetY};
    for (int i = 0; i < 2; ++i) {
        int32_t limit = scrolls ? std::max<int32_t>(0, sizes[i] - pages[i]) : 0;
        *offsets[i] = std::min(std::max<int32_t>(0, *offsets[i]), limit);
        SCROLLINFO si;
        memset(&si, 0, sizeof si);
        si.cbSize = sizeof si;
        si.fMask = SIF_ALL;
        si.nMax = limit > 0 ? sizes[i] - 1 : 0;
        si.nPage = limit > 0 ? static_cast<UINT>(pages[i]) : 0;
        si.nPos = *offsets[i];
        SetScrollInfo(w, bars[i], &si, TRUE);
        ShowScrollBar(w, bars[i], limit > 0);
    }
}

void onImageScroll(HWND w, PreviewPane* p, int bar, int request) {
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL;
    GetScrollInfo(w, bar, &si);
    int32_t* offset = bar == SB_HORZ ? &p->offsetX : &p->offsetY;
    int32_t pos = *offset;
    switch (request) {
    case SB_LINEUP: pos -= 16; break;
    case SB_LINEDOWN: pos += 16; break;
    case SB_PAGEUP: pos -= static_cast<int32_t>(si.nPage); break;
    case SB_PAGEDOWN: pos += static_cast<int32_t>(si.nPage); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: pos = si.nTrackPos; break;
    default: return;
    }
    *offset = pos;
    updateImageScroll(w, p);
    InvalidateRect(w, nullptr, TRUE);
}

void paintImage(HWND w, PreviewPane* p) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT rc;
    GetClientRect(w, &rc);
    if (p && p->hasPicture) {
        RECT r = pictureRect(w, p);
        HRGN outside = CreateRectRgnIndirect(&rc);
        HRGN picture = CreateRectRgnIndirect(&r);
        CombineRgn(outside, outside, picture, RGN_DIFF);
        FillRgn(dc, outside, GetSysColorBrush(COLOR_APPWORKSPACE));
        DeleteObject(outside);
        DeleteObject(picture);
        BITMAPINFO bi;
        memset(&bi, 0, sizeof bi);
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = p->dib.width;
        bi.bmiHeader.biHeight = p->dib.height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        SetStretchBltMode(dc, HALFTONE);
        StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, p->dib.width, p->dib.height,
                      p->dib.pixels.get(), &bi, DIB_RGB_COLORS, SRCCOPY);
    } else {
        FillRect(dc, &rc, GetSysColorBrush(COLOR_APPWORKSPACE));
    }
    EndPaint(w, &ps);
}

// ---- Dump pane ----

int dumpLineCount(const PreviewPane* p) {
    if (!p->ascii) return static_cast<int>(hexLineCount(p->bytes.size()));
    return static_cast<int>(std::count(p->bytes.begin(), p->bytes.end(), '\n')) + 1;
}

std::string dumpLine(const PreviewPane* p, int line) {
    if (!p->ascii) return hexLine(reinterpret_cast<const uint8_t*>(p->bytes.data()), p->bytes.size(), line);
    size_t start = 0;
    for (int i = 0; i < line && start != std::string::npos; ++i) {
        start = p->bytes.find('\n', start);
        if (start != std::string::npos) ++start;
    }
    if (start == std::string::npos || start > p->bytes.size()) return std::string();
    size_t end = p->bytes.find('\n', start);
    std::string text = p->bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
    for (char& c : text)
        if (c == '\r' || c == '\t' || (static_cast<uint8_t>(c) < 0x20)) c = ' ';
    return text;
}

int lineHeight(HWND w) {
    HDC dc = GetDC(w);
    HGDIOBJ old = SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
    TEXTMETRICA tm;
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(w, dc);
    return std::max<int>(1, tm.tmHeight);
}

void updateDumpScroll(HWND w, PreviewPane* p) {
    RECT rc;
    GetClientRect(w, &rc);
    int page = std::max(1, static_cast<int>(rc.bottom / lineHeight(w)));
    int count = dumpLineCount(p);
    p->firstLine = std::min(std::max(0, p->firstLine), std::max(0, count - page));
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    si.nMax = std::max(0, count - 1);
    si.nPage = static_cast<UINT>(page);
    si.nPos = p->firstLine;
    SetScrollInfo(w, SB_VERT, &si, TRUE);
}

void paintDump(HWND w, PreviewPane* p) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    RECT rc;
    GetClientRect(w, &rc);
    FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
    if (p) {
        HGDIOBJ old = SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
        SetBkMode(dc, TRANSPARENT);
        int h = lineHeight(w), count = dumpLineCount(p);
        for (int row = 0; row * h < rc.bottom && p->firstLine + row < count; ++row) {
            std::string text = dumpLine(p, p->firstLine + row);
            TextOutA(dc, 2, row * h, text.c_str(), static_cast<int>(text.size()));
        }
        SelectObject(dc, old);
    }
    EndPaint(w, &ps);
}

LRESULT CALLBACK previewProc(HWND w, UINT msg, WPARAM wParam, LPARAM lParam) {
    PreviewPane* p = paneData(w);
    char name[32];
    GetClassNameA(w, name, sizeof name);
    bool dump = strcmp(name, PREVIEW_DUMP_CLASS) == 0;
    switch (msg) {
    case WM_CREATE: {
        PreviewPane* created = new (std::nothrow) PreviewPane;
        if (!created) return -1;
        SetWindowLongPtrA(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        return 0;
    }
    case WM_SIZE:
        if (p && dump) updateDumpScroll(w, p);
        else if (p) updateImageScroll(w, p);
        InvalidateRect(w, nullptr, TRUE);
        return 0;
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
        if (dump) paintDump(w, p);
        else paintImage(w, p);
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (!p) return 0;
        if (!dump) {
            onImageScroll(w, p, msg == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        } else if (msg == WM_VSCROLL) {
            SCROLLINFO si;
            memset(&si, 0, sizeof si);
            si.cbSize = sizeof si;
            si.fMask = SIF_ALL;
            GetScrollInfo(w, SB_VERT, &si);
            switch (LOWORD(wParam)) {
            case SB_LINEUP: --p->firstLine; break;
            case SB_LINEDOWN: ++p->firstLine; break;
            case SB_PAGEUP: p->firstLine -= static_cast<int>(si.nPage); break;
            case SB_PAGEDOWN: p->firstLine += static_cast<int>(si.nPage); break;
            case SB_THUMBTRACK:
            case SB_THUMBPOSITION: p->firstLine = si.nTrackPos; break;
            }
            updateDumpScroll(w, p);
            InvalidateRect(w, nullptr, TRUE);
        }
        return 0;
    case WM_DESTROY:
        delete p;
        SetWindowLongPtrA(w, GWLP_USERDATA, 0);
        return 0;
    }
    return DefWindowProcA(w, msg, wParam, lParam);
}

// ---- Hover window ----

LRESULT CALLBACK bubbleProc(HWND w, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        RECT rc;
        GetClientRect(w, &rc);
        FillRect(dc, &rc, GetSysColorBrush(COLOR_INFOBK));
        char text[2048];
        GetWindowTextA(w, text, sizeof text);
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
        InflateRect(&rc, -3, -2);
        DrawTextA(dc, text, -1, &rc, DT_LEFT | DT_NOPREFIX);
        SelectObject(dc, old);
        EndPaint(w, &ps);
        return 0;
    }
    if (msg == WM_NCHITTEST) return HTTRANSPARENT;
    return DefWindowProcA(w, msg, wParam, lParam);
}

std::string bubbleText(const BrowserEntry& e) {
    FILETIME utc, local;
    utc.dwLowDateTime = static_cast<DWORD>(e.lastWrite);
    utc.dwHighDateTime = static_cast<DWORD>(e.lastWrite >> 32);
    SYSTEMTIME st = {};
    if (FileTimeToLocalFileTime(&utc, &local)) FileTimeToSystemTime(&local, &st);
    char line[1024];
    snprintf(line, sizeof line, loadText(IDS_HOVER_FILE).c_str(), e.name.c_str(), static_cast<int>(e.size), st.wDay,
             st.wMonth, st.wYear % 100, st.wHour, st.wMinute, st.wSecond);
    std::string text = line;
    if ((e.flags & ENTRY_INFO) && e.formatIndex >= 0) {
        text += "\n" + e.formatName;
        if (e.bitsPerPixel >= 24)
            snprintf(line, sizeof line, loadText(IDS_HOVER_TRUE_COLOUR).c_str(), e.width, e.height);
        else
            snprintf(line, sizeof line, loadText(IDS_HOVER_COLOURS).c_str(), e.width, e.height, 1 << e.bitsPerPixel);
        text += std::string("\n") + line;
        snprintf(line, sizeof line, loadText(IDS_HOVER_PLANES).c_str(), e.bitsPerPlane, e.planes);
        text += std::string("\n") + line;
    }
    return text;
}

WNDPROC g_listProc = nullptr;

// The file list's own procedure, watched for the pointer's moves.
LRESULT CALLBACK listHook(HWND w, UINT msg, WPARAM wParam, LPARAM lParam) {
    Browser* b = browserData(GetParent(w));
    if (b && msg == WM_MOUSEMOVE) {
        LVHITTESTINFO hit;
        memset(&hit, 0, sizeof hit);
        hit.pt.x = static_cast<short>(LOWORD(lParam));
        hit.pt.y = static_cast<short>(HIWORD(lParam));
        int p = static_cast<int>(SendMessageA(w, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        hoverAt(b, p >= 0 && static_cast<size_t>(p) < b->order.size() ? b->order[static_cast<size_t>(p)] : -1);
        TRACKMOUSEEVENT tme = {sizeof tme, TME_LEAVE, w, 0};
        TrackMouseEvent(&tme);
    } else if (b && (msg == WM_MOUSELEAVE || msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_KEYDOWN ||
                     msg == WM_MOUSEWHEEL)) {
        hoverAt(b, -1);
    }
    return CallWindowProcA(g_listProc, w, msg, wParam, lParam);
}

}  // namespace

bool registerPreviewClasses() {
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = previewProc;
    wc.hInstance = g_frame.instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = PREVIEW_IMAGE_CLASS;
    bool ok = RegisterClassA(&wc) != 0;
    wc.lpszClassName = PREVIEW_DUMP_CLASS;
    ok = RegisterClassA(&wc) != 0 && ok;
    wc.lpfnWndProc = bubbleProc;
    wc.lpszClassName = BUBBLE_CLASS;
    wc.style = CS_SAVEBITS;
    return RegisterClassA(&wc) != 0 && ok;
}

void createPreviewPanes(Browser* b) {
    b->previewImage = CreateWindowExA(WS_EX_CLIENTEDGE, PREVIEW_IMAGE_CLASS, "", WS_CHILD | WS_HSCROLL | WS_VSCROLL, 0,
                                      0, 0, 0, b->hwnd, nullptr, g_frame.instance, nullptr);
    b->previewDump = CreateWindowExA(WS_EX_CLIENTEDGE, PREVIEW_DUMP_CLASS, "", WS_CHILD | WS_VSCROLL, 0, 0, 0, 0,
                                     b->hwnd, nullptr, g_frame.instance, nullptr);
    g_listProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(b->list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listHook)));
}

void placePreview(Browser* b, const PaneRect& r) {
    bool dumpShown = b->previewDump && IsWindowVisible(b->previewDump);
    HWND shown = dumpShown ? b->previewDump : b->previewImage;
    HWND hidden = dumpShown ? b->previewImage : b->previewDump;
    if (hidden) ShowWindow(hidden, SW_HIDE);
    if (!shown) return;
    if (r.empty()) {
        ShowWindow(shown, SW_HIDE);
        return;
    }
    MoveWindow(shown, r.left, r.top, r.width(), r.height(), TRUE);
    ShowWindow(shown, SW_SHOWNA);
}

void showPreviewOf(Browser* b, int entry) {
    if (entry == b->previewEntry && entry >= 0) return;
    b->previewEntry = entry;
    PreviewPane* image = paneData(b->previewImage);
    PreviewPane* dump = paneData(b->previewDump);
    if (!image || !dump) return;
    image->hasPicture = false;
    image->offsetX = image->offsetY = 0;
    image->zoom = 1;
    bool showDump = false;
    if (entry >= 0 && static_cast<size_t>(entry) < b->entries.size() && g_settings.showPreview &&
        !isFolderEntry(b->entries[static_cast<size_t>(entry)])) {
        std::string path = entryPath(b, entry);
        std::string unixPath = libraryPath(path.c_str());
        IoOptions options = defaultIoOptions();
        if (g_settings.recognizeByExt) options.flags |= OPT_NO_SCAN;
        if (fitMode() == 1) {
            // Shrunk while decoding to the pane; never enlarged.
            RECT rc;
            GetClientRect(b->previewImage, &rc);
            if (IsWindowVisible(b->previewDump)) GetClientRect(b->previewDump, &rc);
            options.maxWidth = std::max<LONG>(1, rc.right);
            options.maxHeight = std::max<LONG>(1, rc.bottom);
        }
        OwnedImage picture;
        FileInfo info;
        Status st = ST_CANNOT_OPEN;
        if (!unixPath.empty() && g_frame.displayTables) {
            BusyScope busy;
            st = loadImage(unixPath.c_str(), &picture, &options, &info);
        }
        if (st == ST_OK) {
            image->hasPicture = buildDib(picture, 24, *g_frame.displayTables, &image->dib);
        } else if (g_settings.showContent) {
            HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            dump->bytes.clear();
            if (h != INVALID_HANDLE_VALUE) {
                dump->bytes.resize(DUMP_BYTES);
                DWORD got = 0;
                if (!ReadFile(h, &dump->bytes[0], DUMP_BYTES, &got, nullptr)) got = 0;
                dump->bytes.resize(got);
                CloseHandle(h);
            }
            dump->ascii = g_settings.showInAscii != 0;
            dump->firstLine = 0;
            showDump = true;
        }
    }
    bool wasDump = IsWindowVisible(b->previewDump) != FALSE;
    if (showDump != wasDump) {
        ShowWindow(showDump ? b->previewImage : b->previewDump, SW_HIDE);
        ShowWindow(showDump ? b->previewDump : b->previewImage, SW_SHOWNA);
        placePreview(b, b->layout.preview);
    }
    updateImageScroll(b->previewImage, image);
    updateDumpScroll(b->previewDump, dump);
    InvalidateRect(b->previewImage, nullptr, TRUE);
    InvalidateRect(b->previewDump, nullptr, TRUE);
}

bool previewHasPicture(const Browser* b) {
    const PreviewPane* p = b->previewImage ? paneData(b->previewImage) : nullptr;
    return p && p->hasPicture && IsWindowVisible(b->previewImage);
}

void zoomPreview(Browser* b, int id) {
    if (!previewHasPicture(b)) return;
    if (g_settings.fitPreviewWindow) {
        // Zooming leaves the fitted view: the picture comes back whole.
        g_settings.fitPreviewWindow = 0;
        int entry = b->previewEntry;
        b->previewEntry = -1;
        showPreviewOf(b, entry);
        if (!previewHasPicture(b)) return;
    }
    PreviewPane* p = paneData(b->previewImage);
    if (id == CMD_ZOOM_IN) p->zoom = zoomIn(p->zoom);
    else if (id == CMD_ZOOM_OUT) p->zoom = zoomOut(p->zoom);
    else if (zoomPreset(id)) p->zoom = zoomPreset(id);
    updateImageScroll(b->previewImage, p);
    InvalidateRect(b->previewImage, nullptr, TRUE);
}

void previewDisplay(const Browser* b, int* width, int* height, int* zoom) {
    *width = *height = *zoom = 0;
    if (!previewHasPicture(b)) return;
    const PreviewPane* p = paneData(b->previewImage);
    RECT r = pictureRect(b->previewImage, p);
    *width = r.right - r.left;
    *height = r.bottom - r.top;
    *zoom = p->zoom;
}

void hoverAt(Browser* b, int entry) {
    if (entry == b->hoverEntry) return;
    b->hoverEntry = entry;
    if (b->bubble) ShowWindow(b->bubble, SW_HIDE);
    KillTimer(b->hwnd, HOVER_TIMER);
    if (entry >= 0) SetTimer(b->hwnd, HOVER_TIMER, 500, nullptr);
}

void hideBubble(Browser* b) {
    KillTimer(b->hwnd, HOVER_TIMER);
    b->hoverEntry = -1;
    if (b->bubble) {
        DestroyWindow(b->bubble);
        b->bubble = nullptr;
    }
}

void onHoverTimer(Browser* b) {
    KillTimer(b->hwnd, HOVER_TIMER);
    if (b->hoverEntry < 0 || static_cast<size_t>(b->hoverEntry) >= b->entries.size()) return;
    if (GetForegroundWindow() != g_frame.frame) return;
    if (!b->bubble)
        b->bubble = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, BUBBLE_CLASS, "",
                                    WS_POPUP | WS_BORDER, 0, 0, 0, 0, g_frame.frame, nullptr, g_frame.instance, nullptr);
    if (!b->bubble) return;
    std::string text = bubbleText(b->entries[static_cast<size_t>(b->hoverEntry)]);
    SetWindowTextA(b->bubble, text.c_str());
    HDC dc = GetDC(b->bubble);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    RECT r = {0, 0, 0, 0};
    DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_LEFT | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(b->bubble, dc);
    POINT pt;
    GetCursorPos(&pt);
    int w = r.right + 8, h = r.bottom + 6;
    int x = pt.x + 12, y = pt.y + 20;
    int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    if (x + w > screenW) x = std::max(0, screenW - w);
    if (y + h > screenH) y = std::max(0, pt.y - h - 4);
    SetWindowPos(b->bubble, HWND_TOPMOST, x, y, w, h, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(b->bubble, nullptr, TRUE);
}

}  // namespace browse
