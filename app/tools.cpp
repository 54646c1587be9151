// Small tools that bring pictures in and out by other roads than files:
// importing the clipboard's bitmap, capturing the screen or a window, and
// setting a picture as the desktop wallpaper.
#include <cstdio>
#include <cstring>
#include <new>

#include "dibimport.h"
#include "imagewnd.h"
#include "wallpaper.h"

using namespace imagewnd;

// An image window for a picture that has no file ("ClipBoard", "Capture"):
// saving asks for a name. Takes the pixels of *image.
HWND openImageWindowFromImage(Image* image, const char* name, const char* title) {
    ImageWindow* w = new (std::nothrow) ImageWindow;
    if (!w) {
        freeImage(image);
        showStatusError(g_frame.frame, ST_NO_MEMORY, name, nullptr);
        return nullptr;
    }
    std::swap(static_cast<Image&>(w->image), *image);
    copyText(w->name, sizeof w->name, name);
    w->formatIndex = -1;
    w->pageCount = 1;
    copyText(w->formatName, sizeof w->formatName, name);
    describe(w);
    return createChild(w, title);
}

// ---- Clipboard ---------------------------------------------------------------------------

bool clipboardHasBitmap() { return IsClipboardFormatAvailable(CF_DIB) != FALSE; }

HWND importClipboard() {
    if (!OpenClipboard(g_frame.frame)) return nullptr;
    HWND created = nullptr;
    HANDLE data = GetClipboardData(CF_DIB);
    if (data) {
        // The block's own size bounds every read of its header, table and rows.
        SIZE_T size = GlobalSize(data);
        const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(data));
        if (bytes) {
            OwnedImage image;
            DibResult r = imageFromPackedDib(bytes, size, &image);
            GlobalUnlock(data);
            if (r == DIB_OK) created = openImageWindowFromImage(&image, "ClipBoard", "<Clipboard>");
            else if (r == DIB_NO_MEMORY || r == DIB_TOO_LARGE)
                showStatusError(g_frame.frame, ST_NO_MEMORY, "ClipBoard", nullptr);
        }
    }
    CloseClipboard();
    return created;
}

// ---- Capture -----------------------------------------------------------------------------

namespace {

void pumpFor(DWORD milliseconds) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

// Copies a rectangle of the screen into an image (24 bits through GetDIBits).
bool copyScreen(const RECT& r, Image* image) {
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    bool ok = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        SelectObject(memory, old);
        size_t stride = ((static_cast<size_t>(w) * 24 + 31) / 32) * 4;
        size_t size = sizeof(BITMAPINFOHEADER) + stride * static_cast<size_t>(h);
        uint8_t* block = new (std::nothrow) uint8_t[size];
        if (block) {
            BITMAPINFOHEADER* bih = reinterpret_cast<BITMAPINFOHEADER*>(block);
            memset(bih, 0, sizeof *bih);
            bih->biSize = sizeof *bih;
            bih->biWidth = w;
            bih->biHeight = h;
            bih->biPlanes = 1;
            bih->biBitCount = 24;
            bih->biCompression = BI_RGB;
            if (GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), block + sizeof *bih,
                          reinterpret_cast<BITMAPINFO*>(bih), DIB_RGB_COLORS) == h)
                ok = imageFromPackedDib(block, size, image) == DIB_OK;
            delete[] block;
        }
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

struct CaptureChoice {
    int mode = IDC_CAPTURE_DESKTOP;
    HWND window = nullptr;
};

BOOL CALLBACK listWindow(HWND hwnd, LPARAM lParam) {
    HWND list = reinterpret_cast<HWND>(lParam);
    char title[101];
    if (!IsWindowVisible(hwnd) || GetWindowTextA(hwnd, title, sizeof title) <= 0) return TRUE;
    LRESULT i = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(title));
    if (i >= 0) SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(hwnd));
    return TRUE;
}

INT_PTR CALLBACK captureDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        CheckRadioButton(dialog, IDC_CAPTURE_DESKTOP, IDC_CAPTURE_CLIENT, IDC_CAPTURE_DESKTOP);
        EnumWindows(listWindow, reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_CAPTURE_LIST)));
        SendDlgItemMessageA(dialog, IDC_CAPTURE_LIST, LB_SETCURSEL, 0, 0);
        centreDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            CaptureChoice* c = reinterpret_cast<CaptureChoice*>(GetWindowLongPtrA(dialog, DWLP_USER));
            c->mode = IsDlgButtonChecked(dialog, IDC_CAPTURE_WINDOW)   ? IDC_CAPTURE_WINDOW
                      : IsDlgButtonChecked(dialog, IDC_CAPTURE_CLIENT) ? IDC_CAPTURE_CLIENT
                                                                       : IDC_CAPTURE_DESKTOP;
            LRESULT i = SendDlgItemMessageA(dialog, IDC_CAPTURE_LIST, LB_GETCURSEL, 0, 0);
            if (i >= 0)
                c->window = reinterpret_cast<HWND>(
                    SendDlgItemMessageA(dialog, IDC_CAPTURE_LIST, LB_GETITEMDATA, static_cast<WPARAM>(i), 0));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

HWND captureScreen(int mode, HWND window) {
    OwnedImage image;
    char title[101] = "<Desktop>";
    bool whole = mode == IDC_CAPTURE_DESKTOP || !window || window == GetDesktopWindow();
    ShowWindow(g_frame.frame, SW_MINIMIZE);
    bool ok = false;
    if (whole) {
        HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
        RECT r = {0, 0, GetDeviceCaps(display, HORZRES), GetDeviceCaps(display, VERTRES)};
        DeleteDC(display);
        pumpFor(100);
        ok = copyScreen(r, &image);
    } else if (IsWindow(window) && IsWindowVisible(window)) {
        RedrawWindow(window, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
        if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        UpdateWindow(window);
        pumpFor(100);
        if (GetWindowTextA(window, title, sizeof title) <= 0) title[0] = '\0';
        RECT r;
        if (mode == IDC_CAPTURE_CLIENT) {
            GetClientRect(window, &r);
            POINT corner = {0, 0};
            ClientToScreen(window, &corner);
            OffsetRect(&r, corner.x, corner.y);
        } else {
            GetWindowRect(window, &r);
        }
        ok = copyScreen(r, &image);
    }
    ShowWindow(g_frame.frame, SW_RESTORE);
    SetForegroundWindow(g_frame.frame);
    if (!ok) return nullptr;
    return openImageWindowFromImage(&image, "Capture", title);
}

void runCaptureDialog(HWND owner) {
    CaptureChoice c;
    if (DialogBoxParamA(g_frame.instance, "KaleoCapture", owner, captureDialogProc, reinterpret_cast<LPARAM>(&c)) ==
        IDOK)
        captureScreen(c.mode, c.window);
}

// ---- Wallpaper ---------------------------------------------------------------------------

namespace {

const char DESKTOP_KEY[] = "Control Panel\\Desktop";

DesktopValue readValue(HKEY key, const char* name) {
    DesktopValue v;
    char text[PATH_SIZE + 1];
    DWORD type = 0, size = sizeof text - 1;
    if (key && RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        text[size < sizeof text ? size : sizeof text - 1] = '\0';
        v.present = true;
        v.text = text;
    }
    return v;
}

}  // namespace

bool setWallpaper(HWND owner, const Image* image, int command) {
    WallpaperMode mode = command == CMD_WALLPAPER_TILE      ? WALLPAPER_TILE
                         : command == CMD_WALLPAPER_PREVIOUS ? WALLPAPER_PREVIOUS
                                                             : WALLPAPER_CENTRE;
    char windows[PATH_SIZE];
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows) return false;
    std::string own = wallpaperBitmapPath(windows);
    if (mode != WALLPAPER_PREVIOUS) {
        if (!image || own.size() >= FILE_NAME_LEN) return false;
        char path[FILE_NAME_LEN];
        copyText(path, sizeof path, own.c_str());
        int bmp = findFormat("bmp");
        if (saveConverted(owner, path, bmp, image, false, true, false) != 0) return false;
    }
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, DESKTOP_KEY, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        key = nullptr;
    DesktopValues current;
    current.wallpaper = readValue(key, "Wallpaper");
    current.tileWallpaper = readValue(key, "TileWallpaper");
    current.prevWallpaper = readValue(key, "PrevWallpaper");
    current.prevTileWallpaper = readValue(key, "PrevTileWallpaper");
    WallpaperPlan plan = planWallpaper(mode, current, own);
    if (key) {
        for (const WallpaperWrite& w : plan.writes)
            RegSetValueExA(key, w.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(w.value.c_str()),
                           static_cast<DWORD>(w.value.size() + 1));
        RegCloseKey(key);
    }
    char apply[PATH_SIZE];
    copyText(apply, sizeof apply, plan.apply.c_str());
    return SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, apply, SPIF_UPDATEINIFILE | SPIF_SENDWININICHANGE) != FALSE;
}
