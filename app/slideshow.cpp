// The slide show: its window "SlideClass" (a pop-up owned by the frame, black,
// showing one file after the other on a timer or on keys and clicks), the
// ".sld" files of "-slide" and the dialog "KaleoSlideShow".
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <random>

#include "imagewnd.h"
#include "slidelogic.h"

namespace {

const char SLIDE_CLASS[] = "SlideClass";
constexpr UINT_PTR SLIDE_TIMER_ID = 504;

struct SlideShow {
    SlideList list;
    SlideCursor cursor;
    int shown = -1;              // the file whose image is held, -1 before the first
    OwnedImage image;
    DibBuffer display;
    bool displayValid = false;
    SlideRect placed = {0, 0, 0, 0};
    UINT_PTR timerId = 0;
    bool cursorHidden = false;
    std::mt19937 random;
    int loads = 0;               // load attempts, for the GUI test
};

HWND g_lastShow = nullptr;
bool g_classRegistered = false;

SlideShow* showData(HWND hwnd) { return reinterpret_cast<SlideShow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

void screenSize(int32_t* w, int32_t* h) {
    *w = GetSystemMetrics(SM_CXSCREEN);
    *h = GetSystemMetrics(SM_CYSCREEN);
}

// Outside full screen the window takes the image's size (within the screen),
// centred when asked.
void fitWindowToImage(HWND hwnd, SlideShow* s) {
    if (s->list.flags & SLIDE_FULL_SCREEN) return;
    int32_t sw, sh;
    screenSize(&sw, &sh);
    RECT r = {0, 0, s->image.width, s->image.height};
    DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE));
    DWORD exStyle = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_EXSTYLE));
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
    int32_t w = r.right - r.left, h = r.bottom - r.top;
    if (w > sw) w = sw;
    if (h > sh) h = sh;
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    int32_t x = 0, y = 0;
    if (s->list.flags & SLIDE_CENTRE) {
        bool large = s->image.width >= sw || s->image.height >= sh;
        x = large ? 0 : (sw - w) / 2;
        y = large ? 0 : (sh - h) / 2;
    } else {
        flags |= SWP_NOMOVE;
    }
    SetWindowPos(hwnd, nullptr, x, y, w, h, flags);
}

// Shows the next file in the direction (0 counts as forward). False when the
// show ended (the window is gone).
bool showNext(HWND hwnd, SlideShow* s, int direction) {
    int count = static_cast<int>(s->list.files.size());
    int index = nextSlide(&s->cursor, count, s->list.flags, direction, static_cast<uint32_t>(s->random()));
    if (index < 0) {
        DestroyWindow(hwnd);
        return false;
    }
    const std::string& path = s->list.files[static_cast<size_t>(index)];
    SetWindowTextA(hwnd, path.c_str());
    // Another load is pumping messages: this file waits for the next tick or key.
    if (libraryBusy()) return true;
    OwnedImage loaded;
    FileInfo info;
    ++s->loads;
    Status st = imagewnd::loadPicture(path.c_str(), -1, 0, &loaded, &info, nullptr);
    if (!IsWindow(hwnd)) return false;
    if (st != ST_OK) {
        // The previous image stays.
        if (!(s->list.flags & SLIDE_SKIP_ERRORS) && st != ST_STOPPED)
            showStatusError(hwnd, st, path.c_str(), info.message);
        return IsWindow(hwnd) != FALSE;
    }
    std::swap(static_cast<Image&>(s->image), static_cast<Image&>(loaded));
    s->shown = index;
    s->displayValid = false;
    fitWindowToImage(hwnd, s);
    InvalidateRect(hwnd, nullptr, TRUE);
    UpdateWindow(hwnd);
    return true;
}

void startTimer(HWND hwnd, SlideShow* s) {
    if (s->list.flags & SLIDE_TIMER)
        s->timerId = SetTimer(hwnd, SLIDE_TIMER_ID, static_cast<UINT>(s->list.timerSeconds) * 1000u, nullptr);
}

struct Header {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

void paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SlideShow* s = showData(hwnd);
    if (s && s->image.pixels && g_frame.displayTables && client.right > 0 && client.bottom > 0) {
        int32_t sw, sh;
        screenSize(&sw, &sh);
        SlideRect r = slideImageRect(s->image.width, s->image.height, client.right, client.bottom, sw, sh,
                                     s->list.flags);
        // The visible part of the displayed picture only.
        ViewRegion region;
        region.x = r.left < 0 ? -r.left : 0;
        region.y = r.top < 0 ? -r.top : 0;
        int64_t right = std::min<int64_t>(r.width, static_cast<int64_t>(client.right) - r.left);
        int64_t bottom = std::min<int64_t>(r.height, static_cast<int64_t>(client.bottom) - r.top);
        region.width = static_cast<int32_t>(right - region.x);
        region.height = static_cast<int32_t>(bottom - region.y);
        bool same = s->displayValid && r.left == s->placed.left && r.top == s->placed.top &&
                    r.width == s->placed.width && r.height == s->placed.height;
        if (!same && region.width > 0 && region.height > 0) {
            s->displayValid = renderView(s->image, g_frame.displayBits, *g_frame.displayTables, r.width, r.height,
                                         region, &s->display);
            s->placed = r;
        }
        if (s->displayValid) {
            Header bmi;
            memset(&bmi, 0, sizeof bmi);
            bmi.header.biSize = sizeof bmi.header;
            bmi.header.biWidth = s->display.width;
            bmi.header.biHeight = s->display.height;
            bmi.header.biPlanes = 1;
            bmi.header.biBitCount = static_cast<WORD>(s->display.bitsPerPixel);
            bmi.header.biCompression = BI_RGB;
            bmi.header.biClrUsed = static_cast<DWORD>(s->display.colourCount);
            for (int i = 0; i < s->display.colourCount; ++i) {
                bmi.colours[i].rgbBlue = s->display.colours[i][0];
                bmi.colours[i].rgbGreen = s->display.colours[i][1];
                bmi.colours[i].rgbRed = s->display.colours[i][2];
            }
            StretchDIBits(dc, r.left + s->display.originX, r.top + s->display.originY, s->display.width,
                          s->display.height, 0, 0, s->display.width, s->display.height, s->display.pixels.get(),
                          reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS, SRCCOPY);
        }
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK slideProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    SlideShow* s = showData(hwnd);
    switch (msg) {
    case WM_CREATE: {
        const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: paint(hwnd); return 0;
    case WM_SIZE:
        if (s) {
            s->displayValid = false;
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_TIMER:
        if (s && wParam == SLIDE_TIMER_ID) {
            // The interval counts from the end of each load.
            KillTimer(hwnd, SLIDE_TIMER_ID);
            s->timerId = 0;
            if (showNext(hwnd, s, 1)) startTimer(hwnd, s);
        }
        return 0;
    case WM_KEYDOWN:
        if (!s) break;
        if (wParam == VK_ESCAPE) DestroyWindow(hwnd);
        else showNext(hwnd, s, wParam == VK_LEFT ? -1 : 1);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        if (s && !(s->list.flags & SLIDE_TIMER)) showNext(hwnd, s, msg == WM_LBUTTONDOWN ? -1 : 1);
        return 0;
    case WM_DESTROY:
        if (s) {
            if (s->timerId) KillTimer(hwnd, SLIDE_TIMER_ID);
            if (s->cursorHidden) ShowCursor(TRUE);
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            delete s;
        }
        if (g_lastShow == hwnd) g_lastShow = nullptr;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool registerSlideClass() {
    if (g_classRegistered) return true;
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = slideProc;
    wc.hInstance = g_frame.instance;
    wc.hIcon = LoadIconA(g_frame.instance, MAKEINTRESOURCEA(IDI_KALEOS));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = SLIDE_CLASS;
    g_classRegistered = RegisterClassA(&wc) != 0;
    return g_classRegistered;
}

}  // namespace

HWND startSlideShow(const SlideList& list) {
    if (list.files.empty()) return nullptr;
    if (!registerSlideClass()) {
        MessageBoxA(g_frame.frame, "RegisterClass() failed", "Error", MB_OK | MB_ICONERROR);
        return nullptr;
    }
    SlideShow* s = new (std::nothrow) SlideShow;
    if (!s) return nullptr;
    s->list = list;
    if (s->list.timerSeconds < SLIDE_TIMER_MIN) s->list.timerSeconds = SLIDE_TIMER_MIN;
    if (s->list.timerSeconds > SLIDE_TIMER_MAX) s->list.timerSeconds = SLIDE_TIMER_MAX;
    s->random.seed(static_cast<uint32_t>(time(nullptr)) ^ GetTickCount());
    int32_t sw, sh;
    screenSize(&sw, &sh);
    DWORD style;
    if (list.flags & SLIDE_FULL_SCREEN)
        style = (list.flags & SLIDE_NO_TITLE) ? WS_POPUP : (WS_POPUP | WS_CAPTION | WS_SYSMENU);
    else
        style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX;
    HWND hwnd = CreateWindowExA(0, SLIDE_CLASS, "Slide Show", style, 0, 0, sw, sh, g_frame.frame, nullptr,
                                g_frame.instance, s);
    if (!hwnd) {
        delete s;
        MessageBoxA(g_frame.frame, "SlideCreate() failed", "Error", MB_OK | MB_ICONERROR);
        return nullptr;
    }
    g_lastShow = hwnd;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    SetForegroundWindow(hwnd);
    SetFocus(hwnd);
    if (list.flags & SLIDE_HIDE_MOUSE) {
        ShowCursor(FALSE);
        s->cursorHidden = true;
    }
    if (showNext(hwnd, s, 1)) startTimer(hwnd, s);
    return IsWindow(hwnd) ? hwnd : nullptr;
}

HWND slideShowWindow() { return g_lastShow && IsWindow(g_lastShow) ? g_lastShow : nullptr; }

bool slideShowState(SlideShowState* state) {
    HWND w = slideShowWindow();
    SlideShow* s = w ? showData(w) : nullptr;
    if (!s) return false;
    state->shown = s->shown;
    state->loads = s->loads;
    state->imageWidth = s->image.width;
    state->imageHeight = s->image.height;
    state->timerRunning = s->timerId != 0;
    state->cursorHidden = s->cursorHidden;
    return true;
}

// ---- Slide-show files ----------------------------------------------------------------------

bool readSlideFile(HWND owner, const char* path, SlideList* list) {
    *list = defaultSlideList();
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        std::string text = loadText(IDS_ERR_CANNOT_OPEN);
        char message[PATH_SIZE + 128];
        snprintf(message, sizeof message, text.c_str(), path);
        MessageBoxA(owner, message, "Warning", MB_OK | MB_ICONERROR);
        return false;
    }
    // A slide-show file is text of a few hundred lines at most: a megabyte is plenty.
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (text.size() < (1u << 20) && ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(f);
    return parseSlideText(text.data(), text.size(), list);
}

bool writeSlideFile(HWND owner, const char* path, const SlideList& list) {
    std::string text = slideFileText(list);
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = f != INVALID_HANDLE_VALUE;
    if (ok) {
        DWORD written = 0;
        ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
        ok = CloseHandle(f) && ok;
    }
    if (!ok) {
        std::string pattern = loadText(IDS_ERR_CANNOT_OPEN);
        char message[PATH_SIZE + 128];
        snprintf(message, sizeof message, pattern.c_str(), path);
        MessageBoxA(owner, message, "Warning", MB_OK | MB_ICONERROR);
    }
    return ok;
}

void runSlideShowFile(const char* path) {
    SlideList list;
    readSlideFile(g_frame.frame, path, &list);
    if (!list.files.empty()) startSlideShow(list);
}
