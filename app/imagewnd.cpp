// Image windows "VclientClass": a loaded picture shown 1:1 in an MDI child.
// Zoom, scrolling, stepping and the image operations come with the full
// image window; their commands stay greyed here.
#include <cstdio>
#include <cstring>
#include <new>

#include "app.h"
#include "kaleocore.h"

namespace {

struct ImageWindow {
    OwnedImage image;
    DibBuffer dib;
    char folder[PATH_SIZE] = {};
    char name[PATH_SIZE] = {};
    int formatIndex = -1;
    int pageCount = 1;
    int currentPage = 0;
    bool modified = false;
    char description[160] = {};
    std::vector<std::string> fileList;  // the files it was opened with, for stepping
};

struct BitmapHeader {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

ImageWindow* windowData(HWND hwnd) { return reinterpret_cast<ImageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

IoOptions loadOptions(int formatIndex) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(formatIndex);
    o.pageIndex = 0;
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

void paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    ImageWindow* w = windowData(hwnd);
    if (w && w->dib.pixels) {
        RECT rc;
        GetClientRect(hwnd, &rc);
        int x = rc.right > w->dib.width ? (rc.right - w->dib.width) / 2 : 0;
        int y = rc.bottom > w->dib.height ? (rc.bottom - w->dib.height) / 2 : 0;
        BitmapHeader bmi;
        memset(&bmi, 0, sizeof bmi);
        bmi.header.biSize = sizeof bmi.header;
        bmi.header.biWidth = w->dib.width;
        bmi.header.biHeight = w->dib.height;
        bmi.header.biPlanes = 1;
        bmi.header.biBitCount = static_cast<WORD>(w->dib.bitsPerPixel);
        bmi.header.biCompression = BI_RGB;
        bmi.header.biClrUsed = static_cast<DWORD>(w->dib.colourCount);
        for (int i = 0; i < w->dib.colourCount; ++i) {
            bmi.colours[i].rgbBlue = w->dib.colours[i][0];
            bmi.colours[i].rgbGreen = w->dib.colours[i][1];
            bmi.colours[i].rgbRed = w->dib.colours[i][2];
        }
        StretchDIBits(dc, x, y, w->dib.width, w->dib.height, 0, 0, w->dib.width, w->dib.height,
                      w->dib.pixels.get(), reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, SRCCOPY);
    }
    EndPaint(hwnd, &ps);
}

// Asks about unsaved changes: false when the user cancels.
bool mayClose(HWND hwnd) {
    ImageWindow* w = windowData(hwnd);
    if (!w || !w->modified || g_frame.viewOnly) return true;
    if (IsIconic(hwnd)) SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(hwnd), 0);
    std::string format = loadText(IDS_SAVE_CHANGES);
    char text[PATH_SIZE + 128];
    snprintf(text, sizeof text, format.c_str(), w->name);
    int answer = MessageBoxA(hwnd, text, "Warning", MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL) return false;
    if (answer == IDYES) SendMessageA(hwnd, WM_COMMAND, CMD_SAVE, 0);
    return true;
}

LRESULT CALLBACK imageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: {
        const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        const MDICREATESTRUCTA* mdi = static_cast<const MDICREATESTRUCTA*>(cs->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, mdi->lParam);
        break;
    }
    case WM_PAINT: paint(hwnd); return 0;
    case WM_MDIACTIVATE: {
        ImageWindow* w = windowData(hwnd);
        if (reinterpret_cast<HWND>(lParam) == hwnd && w) setStatusText(0, w->description);
        PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
        break;
    }
    case WM_APP_QUERY_COMMAND: return 0;  // the image commands are not part of this window yet
    case WM_APP_QUERY_CLOSE: return mayClose(hwnd) ? 1 : 0;
    case WM_APP_SET_MODIFIED:
        if (windowData(hwnd)) windowData(hwnd)->modified = wParam != 0;
        return 0;
    case WM_COMMAND: return 0;
    case WM_CLOSE:
        if (mayClose(hwnd)) SendMessageA(g_frame.client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(hwnd), 0);
        return 0;
    case WM_NCDESTROY: {
        delete windowData(hwnd);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        setStatusText(0, "");
        PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
        break;
    }
    }
    return DefMDIChildProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

bool registerImageWindowClass() {
    WNDCLASSA wc;
    if (GetClassInfoA(g_frame.instance, CHILD_CLASS, &wc)) return true;
    memset(&wc, 0, sizeof wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;  // the picture is centred: a resize repaints it all
    wc.lpfnWndProc = imageProc;
    wc.hInstance = g_frame.instance;
    wc.hIcon = LoadIconA(g_frame.instance, MAKEINTRESOURCEA(IDI_KALEOS));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = CHILD_CLASS;
    return RegisterClassA(&wc) != 0;
}

HWND openImageWindow(const char* path, int formatIndex, const std::vector<std::string>* list) {
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

    // 2-3. Load page 0.
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    IoOptions options = loadOptions(formatIndex);
    FileInfo info;
    memset(&info, 0, sizeof info);
    std::string unixPath = libraryPath(full);
    Status st = unixPath.empty() ? ST_CANNOT_OPEN : loadImage(unixPath.c_str(), &w->image, &options, &info);
    bool shown = st == ST_OK && buildDib(w->image, g_frame.displayBits, *g_frame.displayTables, &w->dib);
    SetCursor(old);
    if (st == ST_OK && !shown) st = ST_NO_MEMORY;
    if (st != ST_OK) {
        delete w;
        showStatusError(g_frame.frame, st, full, info.message);
        return nullptr;
    }
    w->formatIndex = info.formatIndex;
    w->pageCount = info.pageCount > 0 ? info.pageCount : 1;
    std::string description = std::string(info.formatName) + " - " + std::to_string(w->image.width) + "x" +
                              std::to_string(w->image.height);
    copyText(w->description, sizeof w->description, description.c_str());

    // 4. Browser folder and recent files.
    if (g_settings.startInPrevDir) copyText(g_settings.pathBrowse, PATH_SIZE, w->folder);
    addRecentFile(full);

    // 5. The child window, as large as the picture when that fits.
    BOOL activeMaximized = FALSE;
    SendMessageA(g_frame.client, WM_MDIGETACTIVE, 0, reinterpret_cast<LPARAM>(&activeMaximized));
    RECT area;
    GetClientRect(g_frame.client, &area);
    MDICREATESTRUCTA mcs;
    memset(&mcs, 0, sizeof mcs);
    mcs.szClass = CHILD_CLASS;
    mcs.szTitle = w->name;
    mcs.hOwner = g_frame.instance;
    mcs.x = mcs.y = mcs.cx = mcs.cy = CW_USEDEFAULT;
    mcs.style = (g_settings.maximizeViewWhenOpen || activeMaximized) ? WS_MAXIMIZE : 0;
    mcs.lParam = reinterpret_cast<LPARAM>(w);
    if (w->image.width < area.right && w->image.height < area.bottom) {
        RECT r = {0, 0, w->image.width, w->image.height};
        AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_MDICHILD);
        mcs.cx = r.right - r.left;
        mcs.cy = r.bottom - r.top;
    }
    HWND child = reinterpret_cast<HWND>(SendMessageA(g_frame.client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)));
    if (!child) {
        delete w;
        return nullptr;
    }
    SetFocus(child);
    return child;
}
