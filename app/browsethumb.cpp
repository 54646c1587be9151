// The browser's thumbnails. A worker thread loads the files bounded to the
// cell size (JPEG pictures decode at reduced size with the fast transform)
// and hands each result to the window, which adds it to the shared image
// lists. The files the list shows are taken first; a change of folder, view
// or order starts a new generation and whatever was pending is dropped, a
// decode in progress included (the library's progress callback stops it).
// The library keeps one load context per thread, so the worker and the
// image windows never share one.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "browse.h"
#include "kaleocore.h"

namespace browse {

constexpr int IMAGE_PENDING = 0;
constexpr int IMAGE_FAILED = 1;
constexpr int IMAGE_FOLDER = 2;
constexpr int SMALL_SIDE = 16;

struct ThumbResult {
    int entry = -1;
    Status status = ST_OK;
    bool infoOnly = false;
    FileInfo info = {};
    DibBuffer dib;
};

struct ThumbWorker {
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;
    HANDLE thread = nullptr;
    HWND target = nullptr;
    volatile LONG quit = 0;
    volatile LONG generation = 0;
    int mode = VIEWAS_ICONS;
    int cellW = 0, cellH = 0;
    IoOptions options = {};
    std::vector<int> entries;          // tasks in list order
    std::vector<std::string> paths;    // the library's (Unix) path of each task
    std::vector<char> taken;
    size_t next = 0;
    std::vector<size_t> priority;      // tasks of the entries on screen
};

namespace {

struct StopCheck {
    ThumbWorker* worker;
    LONG generation;
};

// Nonzero stops the decode: the worker is ending or its work is out of date.
int stopWhenStale(int32_t, int32_t, void* datum) {
    StopCheck* c = static_cast<StopCheck*>(datum);
    return c->worker->quit || c->worker->generation != c->generation;
}

bool pickTask(ThumbWorker* w, size_t* task) {
    for (size_t t : w->priority)
        if (t < w->taken.size() && !w->taken[t]) {
            *task = t;
            return true;
        }
    while (w->next < w->taken.size() && w->taken[w->next]) ++w->next;
    if (w->next >= w->taken.size()) return false;
    *task = w->next;
    return true;
}

DWORD WINAPI workerMain(void* param) {
    ThumbWorker* w = static_cast<ThumbWorker*>(param);
    for (;;) {
        EnterCriticalSection(&w->lock);
        size_t task = 0;
        while (!w->quit && !pickTask(w, &task)) {
            LeaveCriticalSection(&w->lock);
            WaitForSingleObject(w->wake, INFINITE);
            EnterCriticalSection(&w->lock);
        }
        if (w->quit) {
            LeaveCriticalSection(&w->lock);
            break;
        }
        w->taken[task] = 1;
        std::string path = w->paths[task];
        StopCheck check = {w, w->generation};
        ThumbResult* r = new (std::nothrow) ThumbResult;
        IoOptions options = w->options;
        int mode = w->mode;
        if (r) r->entry = w->entries[task];
        LeaveCriticalSection(&w->lock);
        if (!r) continue;

        if (mode == VIEWAS_DETAILS) {
            r->infoOnly = true;
            r->status = readImageInfo(path.c_str(), -1, options.flags & OPT_NO_SCAN, &r->info);
        } else {
            options.progressCallback = stopWhenStale;
            options.callbackDatum = &check;
            OwnedImage image;
            r->status = loadImage(path.c_str(), &image, &options, &r->info);
            if (r->status == ST_OK && !buildDib(image, 24, *g_frame.displayTables, &r->dib)) r->status = ST_NO_MEMORY;
        }
        bool current = !w->quit && w->generation == check.generation;
        if (!current || !PostMessageA(w->target, WM_APP_THUMB, static_cast<WPARAM>(check.generation),
                                      reinterpret_cast<LPARAM>(r)))
            delete r;
    }
    return 0;
}

// ---- Bitmaps of the image lists -------------------------------------------------------------

struct CellBitmaps {
    HBITMAP image = nullptr, mask = nullptr;
    uint8_t* bits = nullptr;
    int stride = 0;
    ~CellBitmaps() {
        if (image) DeleteObject(image);
        if (mask) DeleteObject(mask);
    }
};

// A black cell and a mask that leaves only the rectangle (x, y, w, h) opaque.
bool makeCell(int cellW, int cellH, int x, int y, int w, int h, CellBitmaps* c) {
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = cellW;
    bi.bmiHeader.biHeight = -cellH;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    c->image = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!c->image || !bits) return false;
    c->bits = static_cast<uint8_t*>(bits);
    c->stride = ((cellW * 3) + 3) & ~3;
    memset(c->bits, 0, static_cast<size_t>(c->stride) * cellH);
    c->mask = CreateBitmap(cellW, cellH, 1, 1, nullptr);
    if (!c->mask) return false;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, c->mask);
    RECT all = {0, 0, cellW, cellH}, inside = {x, y, x + w, y + h};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    FillRect(dc, &inside, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SelectObject(dc, old);
    DeleteDC(dc);
    return true;
}

int addCell(HIMAGELIST list, CellBitmaps* c) {
    GdiFlush();
    return ImageList_Add(list, c->image, c->mask);
}

// The three fixed images: pending (an empty frame), the failure mark (a red
// cross on a page) and a folder.
void addFixedImages(HIMAGELIST list, int side, int cellW, int cellH) {
    for (int kind = 0; kind < 3; ++kind) {
        int w = std::min(cellW, side), h = std::min(cellH, side);
        int x = (cellW - w) / 2, y = (cellH - h) / 2;
        CellBitmaps c;
        if (!makeCell(cellW, cellH, x, y, w, h, &c)) continue;
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, c.image);
        RECT r = {x, y, x + w, y + h};
        if (kind == IMAGE_PENDING) {
            FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
            FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
        } else if (kind == IMAGE_FAILED) {
            FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
            FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
            HPEN pen = CreatePen(PS_SOLID, std::max(1, w / 12), RGB(208, 32, 32));
            HGDIOBJ oldPen = SelectObject(dc, pen);
            int m = std::max(2, w / 5);
            MoveToEx(dc, x + m, y + m, nullptr);
            LineTo(dc, x + w - m, y + h - m);
            MoveToEx(dc, x + w - m, y + m, nullptr);
            LineTo(dc, x + m, y + h - m);
            SelectObject(dc, oldPen);
            DeleteObject(pen);
        } else {
            FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
            HBRUSH yellow = CreateSolidBrush(RGB(248, 208, 64));
            HBRUSH edge = CreateSolidBrush(RGB(176, 128, 16));
            RECT tab = {x + 1, y + h / 6, x + w / 2, y + h / 3 + 1};
            RECT body = {x + 1, y + h / 3, x + w - 1, y + h - h / 8};
            FillRect(dc, &tab, yellow);
            FrameRect(dc, &tab, edge);
            FillRect(dc, &body, yellow);
            FrameRect(dc, &body, edge);
            DeleteObject(yellow);
            DeleteObject(edge);
        }
        SelectObject(dc, old);
        DeleteDC(dc);
        addCell(list, &c);
    }
}

// The picture centred in a cell of the list's size.
int addPicture(HIMAGELIST list, int cellW, int cellH, const DibBuffer& dib) {
    int w = std::min(cellW, static_cast<int>(dib.width)), h = std::min(cellH, static_cast<int>(dib.height));
    int x = (cellW - w) / 2, y = (cellH - h) / 2;
    CellBitmaps c;
    if (!makeCell(cellW, cellH, x, y, w, h, &c)) return -1;
    const uint8_t* pixels = dib.pixels.get();
    for (int row = 0; row < h; ++row) {
        // The screen copy has bottom-up rows; the cell's rows run top-down.
        const uint8_t* src = pixels + static_cast<size_t>(dib.height - 1 - row) * dib.stride;
        memcpy(c.bits + static_cast<size_t>(y + row) * c.stride + x * 3, src, static_cast<size_t>(w) * 3);
    }
    return addCell(list, &c);
}

void attachImageLists(Browser* b) {
    HIMAGELIST normal = g_settings.viewAs == VIEWAS_ICONS ? b->largeImages : nullptr;
    HIMAGELIST smallList = g_settings.viewAs == VIEWAS_SMALL_ICONS ? b->smallImages : nullptr;
    SendMessageA(b->list, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(normal));
    SendMessageA(b->list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(smallList));
    if (g_settings.viewAs == VIEWAS_ICONS)
        SendMessageA(b->list, LVM_SETICONSPACING, 0, MAKELPARAM(g_settings.iconWidth + 24, g_settings.iconHeight + 36));
}

void showProgress(Browser* b) {
    if (activeChild() != b->hwnd || b->entries.empty()) return;
    char text[64];
    snprintf(text, sizeof text, "Processing: %d%%", static_cast<int>((b->handled) * 100 / b->entries.size()));
    setStatusText(0, text);
}

void finishBuilding(Browser* b) {
    b->building = false;
    KillTimer(b->hwnd, THUMB_TIMER);
    if (g_settings.hideNonImageFile && g_settings.viewAs != VIEWAS_COLUMNS) {
        std::vector<BrowserEntry> kept;
        for (BrowserEntry& e : b->entries)
            if (isFolderEntry(e) || !(e.flags & ENTRY_FAILED)) kept.push_back(std::move(e));
        if (kept.size() != b->entries.size()) {
            b->entries.swap(kept);
            b->order = sortedOrder(b->entries, g_settings.arrangeBy);
            SendMessageA(b->list, LVM_SETITEMCOUNT, b->order.size(), LVSICF_NOSCROLL);
        }
    } else if ((g_settings.arrangeBy & 0x7F) == ARRANGE_TYPE) {
        b->order = sortedOrder(b->entries, g_settings.arrangeBy);
    }
    refreshListItems(b);
    if (activeChild() == b->hwnd) {
        char text[64];
        snprintf(text, sizeof text, "%d object(s)", static_cast<int>(b->entries.size()));
        setStatusText(0, text);
    }
}

// The list positions on screen, first to last.
void visiblePositions(Browser* b, int* first, int* last) {
    int count = static_cast<int>(b->order.size());
    *first = 0;
    *last = -1;
    if (count == 0) return;
    RECT client;
    GetClientRect(b->list, &client);
    bool columns = g_settings.viewAs == VIEWAS_COLUMNS;
    auto rectOf = [b](int p) {
        RECT r = {LVIR_BOUNDS, 0, 0, 0};
        SendMessageA(b->list, LVM_GETITEMRECT, p, reinterpret_cast<LPARAM>(&r));
        return r;
    };
    auto before = [&](int p) {
        RECT r = rectOf(p);
        return columns ? r.right <= 0 : r.bottom <= 0;
    };
    int lo = 0, hi = count;  // the first position not before the visible area
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (before(mid)) lo = mid + 1;
        else hi = mid;
    }
    *first = lo;
    int p = lo;
    for (; p < count && p < lo + 400; ++p) {
        RECT r = rectOf(p);
        if (columns ? r.left >= client.right : r.top >= client.bottom) break;
    }
    *last = p - 1;
}

}  // namespace

void createImageLists(Browser* b) {
    int w = std::max(8, static_cast<int>(g_settings.iconWidth)), h = std::max(8, static_cast<int>(g_settings.iconHeight));
    b->largeImages = ImageList_Create(w, h, ILC_COLOR24 | ILC_MASK, 64, 64);
    b->smallImages = ImageList_Create(SMALL_SIDE, SMALL_SIDE, ILC_COLOR24 | ILC_MASK, 64, 64);
    if (b->largeImages) addFixedImages(b->largeImages, std::min(w, h) * 3 / 4, w, h);
    if (b->smallImages) addFixedImages(b->smallImages, SMALL_SIDE, SMALL_SIDE, SMALL_SIDE);
    attachImageLists(b);
}

void destroyImageLists(Browser* b) {
    stopThumbnails(b);
    if (b->list) {
        SendMessageA(b->list, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
        SendMessageA(b->list, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    }
    if (b->largeImages) ImageList_Destroy(b->largeImages);
    if (b->smallImages) ImageList_Destroy(b->smallImages);
    b->largeImages = b->smallImages = nullptr;
    for (BrowserEntry& e : b->entries) e.largeThumb = e.smallThumb = -1;
}

int imageIndexOf(const Browser*, const BrowserEntry& e) {
    if (isFolderEntry(e)) return IMAGE_FOLDER;
    if (e.flags & ENTRY_FAILED) return IMAGE_FAILED;
    int thumb = g_settings.viewAs == VIEWAS_ICONS ? e.largeThumb : e.smallThumb;
    return thumb >= 0 ? thumb : IMAGE_PENDING;
}

void startThumbnails(Browser* b) {
    stopThumbnails(b);
    attachImageLists(b);
    b->handled = 0;
    int mode = g_settings.viewAs;
    ThumbWorker* w = b->worker;
    std::vector<int> tasks;
    for (int i : b->order) {
        const BrowserEntry& e = b->entries[static_cast<size_t>(i)];
        bool done = isFolderEntry(e) || (e.flags & ENTRY_FAILED) || mode == VIEWAS_COLUMNS ||
                    (mode == VIEWAS_DETAILS && (e.flags & ENTRY_INFO)) || (mode == VIEWAS_ICONS && e.largeThumb >= 0) ||
                    (mode == VIEWAS_SMALL_ICONS && e.smallThumb >= 0);
        if (done) ++b->handled;
        else tasks.push_back(i);
    }
    // An empty folder, or nothing left to read, starts no building.
    if (tasks.empty()) {
        if (!b->entries.empty() && mode != VIEWAS_COLUMNS) finishBuilding(b);
        return;
    }
    if (!w) {
        w = new (std::nothrow) ThumbWorker;
        if (!w) return;
        InitializeCriticalSection(&w->lock);
        w->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        w->target = b->hwnd;
        w->thread = CreateThread(nullptr, 0, workerMain, w, 0, nullptr);
        if (!w->wake || !w->thread) {
            if (w->wake) CloseHandle(w->wake);
            DeleteCriticalSection(&w->lock);
            delete w;
            return;
        }
        b->worker = w;
    }
    std::string unixFolder = libraryPath(b->folder.c_str());
    if (!unixFolder.empty() && unixFolder.back() != '/') unixFolder += "/";
    IoOptions o = settingsLoadOptions(-1, 0);
    o.flags |= OPT_ODD_TO_24 | OPT_FAST_DECODE;
    if (g_settings.recognizeByExt) o.flags |= OPT_NO_SCAN;
    o.maxWidth = mode == VIEWAS_ICONS ? g_settings.iconWidth : SMALL_SIDE;
    o.maxHeight = mode == VIEWAS_ICONS ? g_settings.iconHeight : SMALL_SIDE;

    EnterCriticalSection(&w->lock);
    w->generation = ++b->generation;
    w->mode = mode;
    w->options = o;
    w->entries = tasks;
    w->paths.clear();
    for (int i : tasks) {
        // The name as the library opens it: from the Windows code page to UTF-8.
        const std::string& name = b->entries[static_cast<size_t>(i)].name;
        WCHAR wide[MAX_PATH + 1];
        char utf8[4 * MAX_PATH + 4];
        int n = MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide, MAX_PATH + 1);
        int m = n > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr) : 0;
        w->paths.push_back(m > 0 ? unixFolder + utf8 : std::string());
    }
    w->taken.assign(tasks.size(), 0);
    w->next = 0;
    w->priority.clear();
    LeaveCriticalSection(&w->lock);
    b->building = true;
    onThumbTimer(b);  // the files on screen first
    SetEvent(w->wake);
    SetTimer(b->hwnd, THUMB_TIMER, 40, nullptr);
    showProgress(b);
}

void stopThumbnails(Browser* b) {
    ++b->generation;
    if (b->worker) {
        EnterCriticalSection(&b->worker->lock);
        b->worker->generation = b->generation;
        b->worker->entries.clear();
        b->worker->paths.clear();
        b->worker->taken.clear();
        b->worker->priority.clear();
        b->worker->next = 0;
        LeaveCriticalSection(&b->worker->lock);
    }
    if (b->building) {
        b->building = false;
        KillTimer(b->hwnd, THUMB_TIMER);
        if (activeChild() == b->hwnd) {
            char text[64];
            snprintf(text, sizeof text, "%d object(s)", static_cast<int>(b->entries.size()));
            setStatusText(0, text);
        }
    }
}

void onThumbTimer(Browser* b) {
    // While a load on this thread pumps messages the tick waits for the next.
    if (!b->worker || !b->building || libraryBusy()) return;
    int first, last;
    visiblePositions(b, &first, &last);
    std::vector<int> visible;
    for (int p = first; p <= last; ++p) visible.push_back(b->order[static_cast<size_t>(p)]);
    ThumbWorker* w = b->worker;
    EnterCriticalSection(&w->lock);
    w->priority.clear();
    // Tasks are in list order: the visible entries are found by a walk.
    for (size_t t = 0; t < w->entries.size() && !visible.empty(); ++t)
        if (std::find(visible.begin(), visible.end(), w->entries[t]) != visible.end()) w->priority.push_back(t);
    LeaveCriticalSection(&w->lock);
}

void onThumbResult(Browser* b, WPARAM generation, LPARAM param) {
    ThumbResult* r = reinterpret_cast<ThumbResult*>(param);
    if (!r) return;
    if (!b || static_cast<int>(generation) != b->generation || r->entry < 0 ||
        static_cast<size_t>(r->entry) >= b->entries.size()) {
        delete r;
        return;
    }
    BrowserEntry& e = b->entries[static_cast<size_t>(r->entry)];
    if (r->status == ST_OK) {
        e.flags |= ENTRY_INFO;
        e.formatIndex = r->info.formatIndex;
        e.formatName = r->info.formatName;
        e.width = r->info.width;
        e.height = r->info.height;
        e.planes = r->info.planes;
        e.bitsPerPlane = r->info.bitsPerPlane;
        e.bitsPerPixel = r->info.planes * r->info.bitsPerPlane;
        if (!r->infoOnly) {
            bool large = g_settings.viewAs == VIEWAS_ICONS;
            HIMAGELIST list = large ? b->largeImages : b->smallImages;
            int index = list ? addPicture(list, large ? g_settings.iconWidth : SMALL_SIDE,
                                          large ? g_settings.iconHeight : SMALL_SIDE, r->dib)
                             : -1;
            if (index < 0) {
                char text[PATH_SIZE + 40];
                snprintf(text, sizeof text, "Error ImageList_Add %s", e.name.c_str());
                setStatusText(0, text);
            }
            (large ? e.largeThumb : e.smallThumb) = index;
        }
    } else if (r->status != ST_STOPPED) {
        // Unreadable: the failure mark and what the directory says.
        e.flags |= ENTRY_FAILED;
        e.formatIndex = -1;
    }
    delete r;
    ++b->handled;
    for (size_t p = 0; p < b->order.size(); ++p)
        if (b->order[p] == static_cast<int>(&e - b->entries.data())) {
            SendMessageA(b->list, LVM_REDRAWITEMS, p, p);
            break;
        }
    if (b->handled >= static_cast<int>(b->entries.size())) finishBuilding(b);
    else showProgress(b);
}

void shutdownWorker(Browser* b) {
    ThumbWorker* w = b->worker;
    if (!w) return;
    InterlockedExchange(&w->quit, 1);
    SetEvent(w->wake);
    WaitForSingleObject(w->thread, 10000);
    CloseHandle(w->thread);
    CloseHandle(w->wake);
    DeleteCriticalSection(&w->lock);
    delete w;
    b->worker = nullptr;
    MSG msg;
    while (PeekMessageA(&msg, b->hwnd, WM_APP_THUMB, WM_APP_THUMB, PM_REMOVE))
        delete reinterpret_cast<ThumbResult*>(msg.lParam);
}

}  // namespace browse
