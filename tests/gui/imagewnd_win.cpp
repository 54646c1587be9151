// Win32 side of the image window's GUI test helpers.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "gui.h"
#include "imagewnd_gui.h"
#include "kaleocore.h"

namespace gui {

namespace {

std::vector<uint8_t> rgbOf(const Image* img) {
    std::vector<uint8_t> out;
    if (!img || !img->pixels) return out;
    out.reserve(static_cast<size_t>(img->width) * img->height * 3);
    for (int32_t y = 0; y < img->height; ++y) {
        const uint8_t* row = imageRow(img, y);
        for (int32_t x = 0; x < img->width; ++x) {
            uint8_t r, g, b;
            switch (img->kind) {
            case IMG_RGB: r = row[x * 3]; g = row[x * 3 + 1]; b = row[x * 3 + 2]; break;
            case IMG_RGB32: r = row[x * 4]; g = row[x * 4 + 1]; b = row[x * 4 + 2]; break;
            case IMG_BGR: b = row[x * 3]; g = row[x * 3 + 1]; r = row[x * 3 + 2]; break;
            case IMG_BGR32: b = row[x * 4 + 1]; g = row[x * 4 + 2]; r = row[x * 4 + 3]; break;
            case IMG_BINARY: r = g = b = row[x] ? 255 : 0; break;
            case IMG_GREY: {
                int levels = img->colours >= 2 && img->colours <= 256 ? img->colours : 256;
                r = g = b = static_cast<uint8_t>((row[x] < levels ? row[x] : levels - 1) * 255 / (levels - 1));
                break;
            }
            default:
                if (img->palette) {
                    r = img->palette[row[x]];
                    g = img->palette[256 + row[x]];
                    b = img->palette[512 + row[x]];
                } else {
                    r = g = b = row[x];
                }
                break;
            }
            out.push_back(r);
            out.push_back(g);
            out.push_back(b);
        }
    }
    return out;
}

HWND active() { return activeChild(); }

void put16(std::vector<uint8_t>* f, uint16_t v) {
    f->push_back(static_cast<uint8_t>(v));
    f->push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>* f, uint32_t v) {
    put16(f, static_cast<uint16_t>(v));
    put16(f, static_cast<uint16_t>(v >> 16));
}

}  // namespace

ImageState activeImage() {
    ImageState s;
    HWND w = active();
    ImageWindowState st;
    if (!imageWindowState(w, &st)) return s;
    s.ok = true;
    s.zoom = st.zoom;
    s.fit = st.fitToWindow;
    s.fullScreen = st.fullScreen;
    s.modified = st.modified;
    s.hasUndo = st.undoImage != nullptr;
    s.hasSelection = st.hasSelection;
    s.displayW = st.displayWidth;
    s.displayH = st.displayHeight;
    s.bufferW = st.bufferWidth;
    s.bufferH = st.bufferHeight;
    s.offsetX = st.offsetX;
    s.offsetY = st.offsetY;
    RECT rc;
    GetClientRect(w, &rc);
    s.clientW = rc.right;
    s.clientH = rc.bottom;
    s.page = st.currentPage;
    s.pageCount = st.pageCount;
    s.format = st.formatIndex;
    s.imageW = st.image->width;
    s.imageH = st.image->height;
    s.path = st.path;
    char title[512];
    GetWindowTextA(w, title, sizeof title);
    s.title = title;
    return s;
}

std::string activeChildClass() {
    char name[64] = {};
    HWND w = active();
    if (w) GetClassNameA(w, name, sizeof name);
    return name;
}

std::string activeChildTitle() {
    char title[512] = {};
    HWND w = active();
    if (w) GetWindowTextA(w, title, sizeof title);
    return title;
}

std::vector<uint8_t> activePixels() {
    ImageWindowState st;
    if (!imageWindowState(active(), &st)) return {};
    return rgbOf(st.image);
}

std::vector<uint8_t> activeUndoPixels() {
    ImageWindowState st;
    if (!imageWindowState(active(), &st)) return {};
    return rgbOf(st.undoImage);
}

int saveActiveAs(const std::string& path, const std::string& formatShortName) {
    int r = imageWindowSaveAs(active(), path.c_str(), findFormat(formatShortName.c_str()));
    pump(50);
    return r;
}

std::vector<uint8_t> filePixels(const std::string& path, int* width, int* height) {
    OwnedImage img;
    IoOptions o = defaultIoOptions();
    FileInfo info;
    std::string unixPath = libraryPath(path.c_str());
    if (loadImage(unixPath.c_str(), &img, &o, &info) != ST_OK) return {};
    if (width) *width = img.width;
    if (height) *height = img.height;
    return rgbOf(&img);
}

bool writeGreyTiff(const std::string& path, int pages, int width, int height) {
    // Little-endian baseline TIFF: each page's pixels then its directory.
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 0, 0, 0, 0};
    size_t previousLink = 4;
    for (int p = 0; p < pages; ++p) {
        uint32_t dataOffset = static_cast<uint32_t>(f.size());
        f.insert(f.end(), static_cast<size_t>(width) * height, static_cast<uint8_t>(40 + 60 * p));
        if (f.size() & 1) f.push_back(0);
        uint32_t ifd = static_cast<uint32_t>(f.size());
        memcpy(&f[previousLink], &ifd, 4);
        const uint16_t tags[][2] = {{256, 4}, {257, 4}, {258, 3}, {259, 3}, {262, 3},
                                    {273, 4}, {277, 3}, {278, 4}, {279, 4}};
        const uint32_t values[] = {static_cast<uint32_t>(width), static_cast<uint32_t>(height), 8, 1, 1, dataOffset, 1,
                                   static_cast<uint32_t>(height), static_cast<uint32_t>(width * height)};
        put16(&f, 9);
        for (int i = 0; i < 9; ++i) {
            put16(&f, tags[i][0]);
            put16(&f, tags[i][1]);
            put32(&f, 1);
            if (tags[i][1] == 3) {
                put16(&f, static_cast<uint16_t>(values[i]));
                put16(&f, 0);
            } else {
                put32(&f, values[i]);
            }
        }
        previousLink = f.size();
        put32(&f, 0);
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, f.data(), static_cast<DWORD>(f.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == f.size();
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> list;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((folder + "*.*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return list;
    do {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, "..")) list.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return list;
}

void selectActive(int left, int top, int right, int bottom) {
    RECT r = {left, top, right, bottom};
    imageWindowSelect(active(), r);
    pump(20);
}

void resizeActive(int width, int height) {
    SetWindowPos(active(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    pump(50);
}

void restoreActive() {
    SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(active()), 0);
    pump(50);
}

void keyToActive(int virtualKey) {
    SendMessageA(active(), WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 0);
    pump(30);
}

void clickActive(int button, int x, int y) {
    LPARAM at = MAKELPARAM(x, y);
    HWND w = active();
    SendMessageA(w, button == 0 ? WM_LBUTTONDOWN : WM_RBUTTONDOWN, button == 0 ? MK_LBUTTON : MK_RBUTTON, at);
    SendMessageA(w, button == 0 ? WM_LBUTTONUP : WM_RBUTTONUP, 0, at);
    pump(50);
}

void dragActive(int x0, int y0, int x1, int y1) {
    HWND w = active();
    SendMessageA(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y0));
    SendMessageA(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((x0 + x1) / 2, (y0 + y1) / 2));
    SendMessageA(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x1, y1));
    SendMessageA(w, WM_LBUTTONUP, 0, MAKELPARAM(x1, y1));
    pump(50);
}

uint32_t shownColour(int x, int y) {
    HWND w = active();
    UpdateWindow(w);
    pump(50);
    HDC dc = GetDC(w);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(w, dc);
    return (static_cast<uint32_t>(GetRValue(c)) << 16) | (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

}  // namespace gui

namespace gui {

int openWhileBusy(const std::string& path) {
    int during;
    {
        BusyScope busy;
        openFile(path);  // WM_OPEN_FILE, as a second instance forwards it
        during = childCount();
    }
    return during;
}

}  // namespace gui

namespace gui {

void setScrollPosition(void* dialog, int id, int position) {
    HWND d = static_cast<HWND>(dialog);
    HWND bar = GetDlgItem(d, id);
    SetScrollPos(bar, SB_CTL, position, TRUE);
    SendMessageA(d, WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, position), reinterpret_cast<LPARAM>(bar));
    SendMessageA(d, WM_HSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), reinterpret_cast<LPARAM>(bar));
    pump(30);
}

std::vector<uint8_t> activeShownPixels() {
    ImageWindowState st;
    if (!imageWindowState(active(), &st)) return {};
    return rgbOf(st.shown);
}

}  // namespace gui

namespace gui {

namespace {
// The file name field of a file dialog: the combo box's edit (explorer
// style) or the edit field.
HWND fileNameField(HWND d) {
    HWND combo = GetDlgItem(d, 0x47c);
    if (combo) {
        HWND edit = FindWindowExA(combo, nullptr, "Edit", nullptr);
        if (edit) return edit;
        return combo;
    }
    return GetDlgItem(d, 0x480);
}

BOOL CALLBACK findItem(HWND w, LPARAM lParam) {
    auto* want = reinterpret_cast<std::pair<int, bool>*>(lParam);
    if (GetDlgCtrlID(w) == want->first) {
        want->second = true;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

void typeFileNameAndAccept(void* dialog, const std::string& name) {
    HWND d = static_cast<HWND>(dialog);
    SetWindowTextA(fileNameField(d), name.c_str());
    PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(d, IDOK)));
}

bool dialogHasItem(void* dialog, int id) {
    std::pair<int, bool> want(id, false);
    EnumChildWindows(static_cast<HWND>(dialog), findItem, reinterpret_cast<LPARAM>(&want));
    return want.second;
}

}  // namespace gui

namespace gui {

std::string resourceString(int id) { return loadText(static_cast<UINT>(id)); }

}  // namespace gui
