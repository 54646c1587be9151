// The browser "VbrowseClass": folder tree, file list, panes and splitters,
// the status line and the commands of "BrowserMenu".
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "browse.h"

namespace browse {

std::string loadTextOr(UINT id) { return loadText(id); }

uint64_t fileTimeValue(const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

int listStyleFor(int viewAs) {
    switch (viewAs) {
    case VIEWAS_ICONS: return LVS_ICON;
    case VIEWAS_SMALL_ICONS:
    case VIEWAS_DETAILS: return LVS_REPORT;
    default: return LVS_LIST;
    }
}

// ---- Columns ----------------------------------------------------------------------------

int textWidth(HWND w, const char* text) {
    HDC dc = GetDC(w);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(w, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, text, static_cast<int>(strlen(text)), &size);
    if (old) SelectObject(dc, old);
    ReleaseDC(w, dc);
    return size.cx;
}

int columnTitle(int bit) {
    switch (bit) {
    case COLUMN_SIZE: return IDS_BROWSE_COL_FIRST + 1;
    case COLUMN_PROPERTIES: return IDS_BROWSE_COL_FIRST + 2;
    case COLUMN_TYPE: return IDS_BROWSE_COL_FIRST + 3;
    case COLUMN_DATE: return IDS_BROWSE_COL_FIRST + 4;
    case COLUMN_DESCRIPTION: return IDS_BROWSE_COL_FIRST + 5;
    default: return IDS_BROWSE_COL_FIRST;
    }
}

std::vector<int> shownColumns() {
    return g_settings.viewAs == VIEWAS_DETAILS ? detailColumns(g_settings.viewColumn) : std::vector<int>{0};
}

void insertColumns(Browser* b) {
    while (SendMessageA(b->list, LVM_DELETECOLUMN, 0, 0)) {
    }
    int widest = 0;
    for (const BrowserEntry& e : b->entries) widest = std::max(widest, textWidth(b->list, e.name.c_str()));
    int index = 0;
    for (int bit : shownColumns()) {
        int width = 116;
        switch (bit) {
        case 0: width = widest > 0 ? widest + 16 : 116; break;
        case COLUMN_SIZE: width = textWidth(b->list, "000000000") + 12; break;
        case COLUMN_PROPERTIES: width = textWidth(b->list, "1024x1024x32768") + 12; break;
        case COLUMN_TYPE: width = 140; break;
        case COLUMN_DATE: width = textWidth(b->list, "00/00/00 00:00:00") + 12; break;
        case COLUMN_DESCRIPTION: width = 200; break;
        }
        std::string title = loadTextOr(static_cast<UINT>(columnTitle(bit)));
        LVCOLUMNA col;
        memset(&col, 0, sizeof col);
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        col.fmt = bit == COLUMN_SIZE ? LVCFMT_RIGHT : LVCFMT_LEFT;
        col.cx = width;
        col.pszText = const_cast<char*>(title.c_str());
        SendMessageA(b->list, LVM_INSERTCOLUMNA, index++, reinterpret_cast<LPARAM>(&col));
    }
}

std::string cellText(const BrowserEntry& e, int bit) {
    switch (bit) {
    case 0: return e.name;
    case COLUMN_SIZE: return isFolderEntry(e) ? std::string() : sizeText(e.size);
    case COLUMN_PROPERTIES: return propertiesText(e);
    case COLUMN_TYPE:
        if (isFolderEntry(e)) return loadText(IDS_TYPE_FOLDER);
        if (e.formatIndex >= 0) return e.formatName;
        return (e.flags & (ENTRY_FAILED | ENTRY_INFO)) ? loadText(IDS_TYPE_UNKNOWN) : std::string();
    case COLUMN_DATE: {
        FILETIME utc, local;
        utc.dwLowDateTime = static_cast<DWORD>(e.lastWrite);
        utc.dwHighDateTime = static_cast<DWORD>(e.lastWrite >> 32);
        SYSTEMTIME st;
        if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return std::string();
        return dateText({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond});
    }
    case COLUMN_DESCRIPTION: return e.description;
    }
    return std::string();
}

void applyListStyle(Browser* b) {
    LONG style = GetWindowLongA(b->list, GWL_STYLE);
    style = (style & ~LVS_TYPEMASK) | listStyleFor(g_settings.viewAs);
    SetWindowLongA(b->list, GWL_STYLE, style);
    DWORD ex = LVS_EX_HEADERDRAGDROP;
    if (g_settings.showGridLines) ex |= LVS_EX_GRIDLINES;
    if (g_settings.fullRowSelect) ex |= LVS_EX_FULLROWSELECT;
    SendMessageA(b->list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT, ex);
    insertColumns(b);
}

// ---- Layout and splitters -----------------------------------------------------------------

void movePane(HWND w, const PaneRect& r) {
    if (!w) return;
    if (r.empty()) {
        ShowWindow(w, SW_HIDE);
        return;
    }
    MoveWindow(w, r.left, r.top, r.width(), r.height(), TRUE);
    ShowWindow(w, SW_SHOWNA);
}

void applyLayout(Browser* b) {
    RECT rc;
    GetClientRect(b->hwnd, &rc);
    LayoutInput in = {g_settings.layout,         rc.right,           rc.bottom,
                      g_settings.dirListWidth,   g_settings.dirListHeight, g_settings.iconListWidth,
                      g_settings.iconListHeight, g_settings.showDirList != 0, g_settings.showPreview != 0};
    b->layout = computeLayout(in);
    if (rc.right > 2 * PANE_MIN && rc.bottom > 2 * PANE_MIN) {
        g_settings.dirListWidth = b->layout.dirListWidth;
        g_settings.dirListHeight = b->layout.dirListHeight;
        g_settings.iconListWidth = b->layout.iconListWidth;
        g_settings.iconListHeight = b->layout.iconListHeight;
    }
    movePane(b->tree, b->layout.tree);
    movePane(b->list, b->layout.list);
    placePreview(b, b->layout.preview);
    InvalidateRect(b->hwnd, nullptr, TRUE);
}

int splitterAt(const Browser* b, int x, int y) {
    for (size_t i = 0; i < b->layout.splitters.size(); ++i) {
        const PaneRect& r = b->layout.splitters[i].rect;
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return static_cast<int>(i);
    }
    return -1;
}

int32_t* splitSetting(SplitKey key) {
    switch (key) {
    case SPLIT_DIR_WIDTH: return &g_settings.dirListWidth;
    case SPLIT_DIR_HEIGHT: return &g_settings.dirListHeight;
    case SPLIT_ICON_WIDTH: return &g_settings.iconListWidth;
    case SPLIT_ICON_HEIGHT: return &g_settings.iconListHeight;
    }
    return &g_settings.dirListWidth;
}

void dragSplitter(Browser* b, int x, int y) {
    if (b->dragSplitter < 0 || static_cast<size_t>(b->dragSplitter) >= b->layout.splitters.size()) return;
    const Splitter& s = b->layout.splitters[static_cast<size_t>(b->dragSplitter)];
    *splitSetting(s.key) = (s.vertical ? x : y) - s.origin;
    applyLayout(b);
    UpdateWindow(b->hwnd);
}

// ---- The list --------------------------------------------------------------------------------

void readFolder(Browser* b) {
    b->entries.clear();
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((b->folder + "*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;  // a folder that cannot be listed leaves the list empty
    do {
        if (!strcmp(fd.cFileName, ".")) continue;
        bool isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool parent = !strcmp(fd.cFileName, "..");
        if (parent && !g_settings.showParentDir) continue;
        if (!parent && (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) && !g_settings.showHiddenFile) continue;
        if (!parent && isFolder && !g_settings.showDirInBrowser) continue;
        // The descriptions file is hidden, even where the file system keeps no such attribute.
        if (!g_settings.showHiddenFile && lstrcmpiA(fd.cFileName, DESCRIPT_NAME) == 0) continue;
        BrowserEntry e;
        e.attributes = fd.dwFileAttributes;
        e.flags = isFolder ? static_cast<uint8_t>(ENTRY_FOLDER | ENTRY_HANDLED) : 0;
        e.name = fd.cFileName;
        e.size = (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        e.lastWrite = fileTimeValue(fd.ftLastWriteTime);
        b->entries.push_back(std::move(e));
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    // The root of a drive has no "..": the browser gives one when asked for.
    if (g_settings.showParentDir && parentFolder(b->folder) != b->folder &&
        std::none_of(b->entries.begin(), b->entries.end(), [](const BrowserEntry& e) { return isParentEntry(e); })) {
        BrowserEntry e;
        e.name = "..";
        e.flags = ENTRY_FOLDER | ENTRY_HANDLED;
        e.attributes = FILE_ATTRIBUTE_DIRECTORY;
        b->entries.push_back(e);
    }
}

void setTitle(Browser* b) {
    std::string title = "Browser [" + b->folder + "]";
    SetWindowTextA(b->hwnd, title.c_str());
}

void resort(Browser* b) {
    std::vector<int> selected = selectedEntries(b);
    b->order = sortedOrder(b->entries, g_settings.arrangeBy);
    LVITEMA none;
    memset(&none, 0, sizeof none);
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(b->list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    for (size_t p = 0; p < b->order.size(); ++p) {
        if (std::find(selected.begin(), selected.end(), b->order[p]) == selected.end()) continue;
        LVITEMA sel;
        memset(&sel, 0, sizeof sel);
        sel.stateMask = sel.state = LVIS_SELECTED;
        SendMessageA(b->list, LVM_SETITEMSTATE, p, reinterpret_cast<LPARAM>(&sel));
    }
    refreshListItems(b);
}

// A file that looks as it did (same size and time) keeps what was read of it.
void keepKnown(Browser* b, const std::vector<BrowserEntry>& before) {
    for (BrowserEntry& e : b->entries)
        for (const BrowserEntry& old : before)
            if (old.name == e.name && old.size == e.size && old.lastWrite == e.lastWrite && !isFolderEntry(e)) {
                e.flags = old.flags;
                e.width = old.width;
                e.height = old.height;
                e.formatIndex = old.formatIndex;
                e.formatName = old.formatName;
                e.bitsPerPixel = old.bitsPerPixel;
                e.planes = old.planes;
                e.bitsPerPlane = old.bitsPerPlane;
                break;
            }
}

void fillListKeeping(Browser* b, bool keep) {
    stopThumbnails(b);
    if (!keep && b->largeImages) {
        // Another folder: the thumbnails of the last one go.
        destroyImageLists(b);
        createImageLists(b);
    }
    std::vector<BrowserEntry> before;
    if (keep) before.swap(b->entries);
    readFolder(b);
    if (keep) keepKnown(b, before);
    readDescriptions(b);
    b->order = sortedOrder(b->entries, g_settings.arrangeBy);
    b->previewEntry = -1;
    showPreviewOf(b, -1);
    SendMessageA(b->list, LVM_SETITEMCOUNT, 0, 0);
    insertColumns(b);
    SendMessageA(b->list, LVM_SETITEMCOUNT, b->order.size(), LVSICF_NOSCROLL);
    setTitle(b);
    refreshListItems(b);
    updateStatus(b);
    startThumbnails(b);
}

// Opens a list position: a folder becomes the current folder, a file opens
// with the browser's files to step through.
void openPosition(Browser* b, int position) {
    if (position < 0 || static_cast<size_t>(position) >= b->order.size()) return;
    const BrowserEntry& e = b->entries[static_cast<size_t>(b->order[static_cast<size_t>(position)])];
    if (isParentEntry(e)) {
        setFolder(b, parentFolder(b->folder));
        return;
    }
    if (isFolderEntry(e)) {
        setFolder(b, b->folder + e.name + "\\");
        return;
    }
    std::vector<std::string> files;
    for (int i : b->order)
        if (!isFolderEntry(b->entries[static_cast<size_t>(i)])) files.push_back(entryPath(b, i));
    std::string path = entryPath(b, b->order[static_cast<size_t>(position)]);
    openImageWindow(path.c_str(), -1, &files);
}

int focusedPosition(const Browser* b) {
    int p = static_cast<int>(SendMessageA(b->list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    if (p < 0) p = static_cast<int>(SendMessageA(b->list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return p;
}

// ---- Notifications ------------------------------------------------------------------------------

void onGetDispInfo(Browser* b, NMLVDISPINFOA* info) {
    LVITEMA& it = info->item;
    if (it.iItem < 0 || static_cast<size_t>(it.iItem) >= b->order.size()) return;
    const BrowserEntry& e = b->entries[static_cast<size_t>(b->order[static_cast<size_t>(it.iItem)])];
    if (it.mask & LVIF_TEXT) {
        std::vector<int> columns = shownColumns();
        int bit = it.iSubItem >= 0 && static_cast<size_t>(it.iSubItem) < columns.size() ? columns[it.iSubItem] : 0;
        std::string text = cellText(e, bit);
        if (it.pszText && it.cchTextMax > 0) copyText(it.pszText, static_cast<size_t>(it.cchTextMax), text.c_str());
    }
    if (it.mask & LVIF_IMAGE) it.iImage = imageIndexOf(b, e);
}

void beginDragOut(Browser* b) {
    if (selectedEntries(b).empty()) return;
    b->draggingOut = true;
    SetCapture(b->hwnd);
    SetCursor(LoadCursorA(nullptr, IDC_UPARROW));
}

void endDragOut(Browser* b, POINT screen) {
    b->draggingOut = false;
    ReleaseCapture();
    HWND target = WindowFromPoint(screen);
    // Over the frame outside the browser (its bars, its other windows): the
    // files open there.
    if (target && target != b->hwnd && !IsChild(b->hwnd, target) &&
        (target == g_frame.frame || IsChild(g_frame.frame, target)))
        openSelection(b, false);
}

LRESULT onNotify(Browser* b, NMHDR* h) {
    if (h->hwndFrom == b->list) {
        switch (h->code) {
        case LVN_GETDISPINFOA: onGetDispInfo(b, reinterpret_cast<NMLVDISPINFOA*>(h)); return 0;
        case LVN_ITEMCHANGED:
        case LVN_ODSTATECHANGED:
            updateStatus(b);
            SetTimer(b->hwnd, PREVIEW_TIMER, 120, nullptr);
            return 0;
        case NM_DBLCLK: {
            int p = reinterpret_cast<NMITEMACTIVATE*>(h)->iItem;
            if (p >= 0) openPosition(b, p);
            return 0;
        }
        case NM_RETURN:
            if (selectedEntries(b).size() == 1) openPosition(b, focusedPosition(b));
            else openSelection(b, false);
            return 0;
        case NM_RCLICK: {
            POINT pt;
            GetCursorPos(&pt);
            HMENU popup = GetSubMenu(selectedEntries(b).empty() ? b->popupNone : b->popupSelection, 0);
            if (popup) TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, g_frame.frame, nullptr);
            return 0;
        }
        case LVN_KEYDOWN:
            if (reinterpret_cast<NMLVKEYDOWN*>(h)->wVKey == VK_TAB) SetFocus(b->tree);
            return 0;
        case LVN_COLUMNCLICK: {
            std::vector<int> columns = shownColumns();
            int sub = reinterpret_cast<NMLISTVIEW*>(h)->iSubItem;
            if (sub >= 0 && static_cast<size_t>(sub) < columns.size()) {
                g_settings.arrangeBy = arrangeForColumn(columns[sub], g_settings.arrangeBy);
                resort(b);
            }
            return 0;
        }
        case LVN_BEGINLABELEDITA: {
            int p = reinterpret_cast<NMLVDISPINFOA*>(h)->item.iItem;
            if (p < 0 || static_cast<size_t>(p) >= b->order.size()) return TRUE;
            return isParentEntry(b->entries[static_cast<size_t>(b->order[p])]) ? TRUE : FALSE;
        }
        case LVN_ENDLABELEDITA: {
            LVITEMA& it = reinterpret_cast<NMLVDISPINFOA*>(h)->item;
            if (it.pszText && it.iItem >= 0 && static_cast<size_t>(it.iItem) < b->order.size())
                renameEntry(b, b->order[static_cast<size_t>(it.iItem)], it.pszText, true);
            return FALSE;
        }
        case LVN_BEGINDRAG: beginDragOut(b); return 0;
        case NM_KILLFOCUS: hideBubble(b); return 0;
        }
    } else if (h->hwndFrom == b->tree) {
        switch (h->code) {
        case TVN_ITEMEXPANDINGA: {
            NMTREEVIEWA* tv = reinterpret_cast<NMTREEVIEWA*>(h);
            if (tv->action & TVE_EXPAND) expandTreeItem(b, tv->itemNew.hItem);
            return FALSE;
        }
        case TVN_SELCHANGEDA: {
            if (b->fillingTree) return 0;
            std::string path = treePathOf(b, reinterpret_cast<NMTREEVIEWA*>(h)->itemNew.hItem);
            if (!path.empty() && path != b->folder) {
                b->folder = path;
                copyText(g_settings.pathBrowse, PATH_SIZE, path.c_str());
                fillListKeeping(b, false);
            }
            return 0;
        }
        case TVN_KEYDOWN:
            if (reinterpret_cast<NMTVKEYDOWN*>(h)->wVKey == VK_TAB) SetFocus(b->list);
            return 0;
        }
    }
    return 0;
}

// ---- Creation and destruction ---------------------------------------------------------------------

bool onCreate(HWND hwnd) {
    Browser* b = new (std::nothrow) Browser;
    if (!b) return false;
    b->hwnd = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(b));
    g_frame.browser = hwnd;
    if (!g_frame.browserMenu) g_frame.browserMenu = LoadMenuA(g_frame.instance, "BrowserMenu");
    b->popupNone = LoadMenuA(g_frame.instance, "BrowserPopupMenu1");
    b->popupSelection = LoadMenuA(g_frame.instance, "BrowserPopupMenu2");
    for (int i = 0; i < 5; ++i) {
        char name[16];
        snprintf(name, sizeof name, "Layout%d", i + 1);
        b->layoutBitmaps[i] = LoadBitmapA(g_frame.instance, name);
        if (b->layoutBitmaps[i] && g_frame.browserMenu)
            ModifyMenuA(g_frame.browserMenu, CMD_LAYOUT_FIRST + i, MF_BYCOMMAND | MF_BITMAP, CMD_LAYOUT_FIRST + i,
                        reinterpret_cast<LPCSTR>(b->layoutBitmaps[i]));
    }
    b->splitH = LoadCursorA(nullptr, IDC_SIZENS);
    b->splitV = LoadCursorA(nullptr, IDC_SIZEWE);
    b->tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                                  TVS_SHOWSELALWAYS,
                              0, 0, 0, 0, hwnd, reinterpret_cast<HMENU>(IDC_BROWSE_TREE), g_frame.instance, nullptr);
    b->treeImages = ImageList_LoadImageA(g_frame.instance, "BrowserTreeIcon", 16, 0, RGB(255, 0, 0), IMAGE_BITMAP,
                                         LR_CREATEDIBSECTION);
    if (b->treeImages) SendMessageA(b->tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(b->treeImages));
    b->list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_EDITLABELS | LVS_AUTOARRANGE |
                                  LVS_SHAREIMAGELISTS | LVS_SHOWSELALWAYS | LVS_OWNERDATA |
                                  listStyleFor(g_settings.viewAs),
                              0, 0, 0, 0, hwnd, reinterpret_cast<HMENU>(IDC_BROWSE_LIST), g_frame.instance, nullptr);
    if (!b->tree || !b->list) return false;
    createImageLists(b);
    createPreviewPanes(b);
    applyListStyle(b);
    applyLayout(b);
    DragAcceptFiles(hwnd, TRUE);
    // The start folder: PathBrowse, or the current directory.
    std::string start = g_settings.pathBrowse;
    if (start.empty() || GetFileAttributesA(start.c_str()) == INVALID_FILE_ATTRIBUTES) {
        char cwd[MAX_PATH + 1];
        DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
        start = n > 0 && n < sizeof cwd ? cwd : "C:\\";
    }
    fillDrives(b);
    setFolder(b, start);
    return true;
}

void onDestroy(HWND hwnd, Browser* b) {
    KillTimer(hwnd, THUMB_TIMER);
    KillTimer(hwnd, HOVER_TIMER);
    KillTimer(hwnd, PREVIEW_TIMER);
    shutdownWorker(b);
    hideBubble(b);
    if (!b->folder.empty()) copyText(g_settings.pathBrowse, PATH_SIZE, b->folder.c_str());
    if (g_frame.browserMenu) {
        if (GetMenu(g_frame.frame) == g_frame.browserMenu && g_frame.defaultMenu) {
            SendMessageA(g_frame.client, WM_MDISETMENU, reinterpret_cast<WPARAM>(g_frame.defaultMenu),
                         reinterpret_cast<LPARAM>(GetSubMenu(g_frame.defaultMenu, 2)));
            DrawMenuBar(g_frame.frame);
        }
        DestroyMenu(g_frame.browserMenu);
        g_frame.browserMenu = nullptr;
    }
    if (b->popupNone) DestroyMenu(b->popupNone);
    if (b->popupSelection) DestroyMenu(b->popupSelection);
    for (HBITMAP bm : b->layoutBitmaps)
        if (bm) DeleteObject(bm);
    destroyImageLists(b);
    if (b->treeImages) ImageList_Destroy(b->treeImages);
    g_frame.browser = nullptr;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    delete b;
    setStatusText(0, "");
    PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
}

void onDropFiles(Browser* b, HDROP drop) {
    std::vector<std::string> paths;
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char path[PATH_SIZE];
        UINT n = DragQueryFileA(drop, i, path, sizeof path);
        if (n > 0 && n < sizeof path && !(GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY)) paths.push_back(path);
    }
    DragFinish(drop);
    // Files dropped from elsewhere are copied into the current folder.
    if (paths.empty()) return;
    copyOrMoveFiles(b->hwnd, paths, b->folder, false);
    fillListKeeping(b, true);
}

LRESULT CALLBACK browserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Browser* b = browserData(hwnd);
    switch (msg) {
    case WM_CREATE:
        if (!onCreate(hwnd)) return -1;
        return 0;
    case WM_SIZE:
        if (b && wParam != SIZE_MINIMIZED) applyLayout(b);
        break;  // the MDI child's own handling too
    case WM_SETFOCUS:
        if (b && b->list) SetFocus(b->list);
        return 0;
    case WM_MDIACTIVATE: PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0); break;
    case WM_NOTIFY:
        if (b) return onNotify(b, reinterpret_cast<NMHDR*>(lParam));
        break;
    case WM_COMMAND:
        if (b && lParam == 0) {
            onCommand(b, LOWORD(wParam));
            return 0;
        }
        break;
    case WM_APP_QUERY_COMMAND: return b && commandAvailable(b, static_cast<int>(wParam)) ? 1 : 0;
    case WM_APP_QUERY_CLOSE: return 1;
    case WM_INITMENU:
        if (b) onInitMenu(b, reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_TIMER:
        if (!b) return 0;
        if (wParam == THUMB_TIMER) onThumbTimer(b);
        if (wParam == HOVER_TIMER) onHoverTimer(b);
        if (wParam == PREVIEW_TIMER) {
            if (libraryBusy()) return 0;  // the library is loading elsewhere: later
            KillTimer(hwnd, PREVIEW_TIMER);
            std::vector<int> sel = selectedEntries(b);
            showPreviewOf(b, sel.size() == 1 ? sel[0] : -1);
        }
        return 0;
    case WM_APP_THUMB:
        if (b) onThumbResult(b, wParam, lParam);
        else onThumbResult(nullptr, wParam, lParam);
        return 0;
    case WM_SETCURSOR:
        if (b && reinterpret_cast<HWND>(wParam) == hwnd && LOWORD(lParam) == HTCLIENT) {
            POINT pt;
            GetCursorPos(&pt);
            ScreenToClient(hwnd, &pt);
            int s = splitterAt(b, pt.x, pt.y);
            if (s >= 0) {
                SetCursor(b->layout.splitters[static_cast<size_t>(s)].vertical ? b->splitV : b->splitH);
                return TRUE;
            }
        }
        break;
    case WM_LBUTTONDOWN:
        if (b) {
            b->dragSplitter = splitterAt(b, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            if (b->dragSplitter >= 0) {
                SetCapture(hwnd);
                RECT rc;
                GetClientRect(hwnd, &rc);
                MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
                ClipCursor(&rc);
            }
        }
        return 0;
    case WM_MOUSEMOVE:
        if (b && b->dragSplitter >= 0) dragSplitter(b, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
        if (b && b->draggingOut) {
            POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ClientToScreen(hwnd, &pt);
            endDragOut(b, pt);
        } else if (b && b->dragSplitter >= 0) {
            b->dragSplitter = -1;
            ClipCursor(nullptr);
            ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        if (b) {
            b->draggingOut = false;
            if (b->dragSplitter >= 0) ClipCursor(nullptr);
            b->dragSplitter = -1;
        }
        return 0;
    case WM_DROPFILES:
        if (b) onDropFiles(b, reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_DESTROY:
        if (b) onDestroy(hwnd, b);
        break;
    }
    return DefMDIChildProcA(hwnd, msg, wParam, lParam);
}

std::string entryPath(const Browser* b, int entry) {
    return b->folder + b->entries[static_cast<size_t>(entry)].name;
}

void fillList(Browser* b) { fillListKeeping(b, false); }
void refreshAfterChange(Browser* b) { fillListKeeping(b, true); }

void setFolder(Browser* b, const std::string& folder) {
    char full[MAX_PATH + 1];
    DWORD n = GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr);
    std::string f = n > 0 && n < sizeof full ? full : folder;
    if (f.empty() || f.back() != '\\') f += "\\";
    b->folder = f;
    copyText(g_settings.pathBrowse, PATH_SIZE, f.c_str());
    showFolderInTree(b, f);
    fillListKeeping(b, false);
}

std::vector<int> selectedEntries(const Browser* b) {
    std::vector<int> out;
    int p = -1;
    while ((p = static_cast<int>(SendMessageA(b->list, LVM_GETNEXTITEM, static_cast<WPARAM>(p), LVNI_SELECTED))) >= 0) {
        if (static_cast<size_t>(p) >= b->order.size()) break;
        out.push_back(b->order[static_cast<size_t>(p)]);
    }
    return out;
}

void updateStatus(Browser* b) {
    if (b->building) return;  // the thumbnails' progress has the status line meanwhile
    std::vector<int> selected = selectedEntries(b);
    char text[512];
    int objects = static_cast<int>(b->entries.size());
    if (!selected.empty()) {
        snprintf(text, sizeof text, loadText(IDS_STATUS_SELECTED).c_str(), objects, static_cast<int>(selected.size()));
    } else {
        ULARGE_INTEGER avail, total, freeBytes;
        uint64_t space = 0;
        if (GetDiskFreeSpaceExA(b->folder.c_str(), &avail, &total, &freeBytes)) space = avail.QuadPart;
        snprintf(text, sizeof text, loadText(IDS_STATUS_FREE).c_str(), objects, freeSpaceText(space).c_str());
    }
    if (activeChild() == b->hwnd) setStatusText(0, text);
}

void refreshListItems(Browser* b) {
    SendMessageA(b->list, LVM_REDRAWITEMS, 0, b->order.empty() ? 0 : static_cast<LPARAM>(b->order.size() - 1));
    InvalidateRect(b->list, nullptr, TRUE);
}

}  // namespace browse

using namespace browse;

void openBrowser() {
    if (g_frame.browser) {
        SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(g_frame.browser), 0);
        SendMessageA(g_frame.client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(g_frame.browser), 0);
        Browser* b = browserData(g_frame.browser);
        if (b && g_settings.pathBrowse[0] && lstrcmpiA(g_settings.pathBrowse, b->folder.c_str()) != 0)
            setFolder(b, g_settings.pathBrowse);
        return;
    }
    WNDCLASSA wc;
    if (!GetClassInfoA(g_frame.instance, BROWSE_CLASS, &wc)) {
        memset(&wc, 0, sizeof wc);
        wc.lpfnWndProc = browserProc;
        wc.hInstance = g_frame.instance;
        wc.hIcon = LoadIconA(g_frame.instance, MAKEINTRESOURCEA(IDI_KALEOS));
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = BROWSE_CLASS;
        if (!RegisterClassA(&wc)) return;
        registerPreviewClasses();
    }
    MDICREATESTRUCTA mcs;
    memset(&mcs, 0, sizeof mcs);
    mcs.szClass = BROWSE_CLASS;
    mcs.szTitle = "Browser";
    mcs.hOwner = g_frame.instance;
    mcs.x = mcs.y = mcs.cx = mcs.cy = CW_USEDEFAULT;
    mcs.style = WS_CLIPCHILDREN;
    HWND child = reinterpret_cast<HWND>(SendMessageA(g_frame.client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)));
    // Maximised once it exists: the client then keeps no scroll range for it.
    if (child) SendMessageA(g_frame.client, WM_MDIMAXIMIZE, reinterpret_cast<WPARAM>(child), 0);
    PostMessageA(g_frame.frame, WM_APP_CONTEXT, 0, 0);
}

