// The image window's menu commands: zoom, fit and full screen, stepping
// through files and pages, the operations with their undo, and saving.
#include <cstdio>
#include <cstring>
#include <new>

#include "dither.h"
#include "geometry.h"
#include "imagewnd.h"
#include "kaleocore.h"
#include "menuops.h"
#include "opdialogs.h"
#include "optable.h"

namespace imagewnd {

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

namespace {

void setClientEdge(bool on) {
    if (!g_frame.client) return;
    LONG ex = GetWindowLongA(g_frame.client, GWL_EXSTYLE);
    SetWindowLongA(g_frame.client, GWL_EXSTYLE, on ? ex | WS_EX_CLIENTEDGE : ex & ~WS_EX_CLIENTEDGE);
    SetWindowPos(g_frame.client, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

}  // namespace

void enterFullScreen(HWND hwnd, ImageWindow* w) {
    if (w->fullScreen) return;
    // The menu and tool bar of this window first, even when its activation
    // has not been handled yet (a "-full" right after the file opened).
    updateFrameContext();
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
    // The client's sunken edge would frame the picture.
    setClientEdge(false);
    SendMessageA(g_frame.client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(hwnd), 0);
    if (g_settings.hideMouse && !w->cursorHidden) {
        ShowCursor(FALSE);
        w->cursorHidden = true;
    }
    SendMessageA(g_frame.frame, WM_SIZE, 0, 0);
    // The window was maximised while the client still had its edge and
    // scroll bars: its client area now covers the whole client, to the pixel.
    RECT area;
    GetClientRect(g_frame.client, &area);
    AdjustWindowRectEx(&area, static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE) & ~(WS_HSCROLL | WS_VSCROLL)),
                       FALSE, static_cast<DWORD>(GetWindowLongA(hwnd, GWL_EXSTYLE)));
    SetWindowPos(hwnd, nullptr, area.left, area.top, area.right - area.left, area.bottom - area.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    refreshDisplay(hwnd, w);
}

void leaveFullScreen(HWND hwnd, ImageWindow* w) {
    if (!w->fullScreen) return;
    w->fullScreen = false;
    SetWindowLongA(g_frame.frame, GWL_STYLE, w->savedStyle);
    SetWindowPos(g_frame.frame, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    SetWindowPlacement(g_frame.frame, &w->savedFrame);
    setClientEdge(true);
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

// ---- Files and pages ----------------------------------------------------------------------

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
    // The status bar names the format the file has now.
    FormatInfo format;
    if (getFormatInfo(formatIndex, &format) == 0) copyText(w->formatName, sizeof w->formatName, format.description);
    describe(w);
    showStatus(hwnd);
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
    case CMD_PRINT:
    case CMD_WALLPAPER_CENTRE:
    case CMD_WALLPAPER_TILE:
    case CMD_WALLPAPER_PREVIOUS: return w->image.pixels != nullptr;
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
    case CMD_PRINT: printPicture(g_frame.frame, w->image, w->name); return;
    case CMD_WALLPAPER_CENTRE:
    case CMD_WALLPAPER_TILE:
    case CMD_WALLPAPER_PREVIOUS: setWallpaper(g_frame.frame, &w->image, id); return;
    default: break;
    }
    if (id >= CMD_ZOOM_FIRST && id <= CMD_ZOOM_LAST) {
        setZoom(hwnd, w, zoomPreset(id));
        return;
    }
    if (isMenuOperation(id)) runOperation(hwnd, w, id);
}

}  // namespace imagewnd
