// The multiple-document frame "VmainClass": tool bar, status bar with its
// clock, the client area, menus, the recent-file list and the frame's own
// commands. Every other command goes to the active child.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "batch.h"
#include "dither.h"
#include "formatrows.h"
#include "optiontable.h"
#include "recent.h"

const char FRAME_CLASS[] = "VmainClass";
const char CHILD_CLASS[] = "VclientClass";
const char BROWSE_CLASS[] = "VbrowseClass";

FrameState g_frame;

namespace {

constexpr int FILE_POPUP = 0;
constexpr int DEFAULT_WINDOW_POPUP = 2;
constexpr int IMAGE_WINDOW_POPUP = 4;      // "F&enêtre" of "KaleoMenu"
constexpr int IMAGE_WINDOW_POPUP_VIEW = 3; // after view-only mode removed "Fi&ltre"
constexpr int BROWSER_WINDOW_POPUP = 3;

// ---- Layout ------------------------------------------------------------------

int windowHeight(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    return r.bottom - r.top;
}

void divideStatusBar() {
    if (!g_frame.statusBar) return;
    RECT rc;
    GetClientRect(g_frame.statusBar, &rc);
    HDC dc = GetDC(g_frame.statusBar);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(g_frame.statusBar, WM_GETFONT, 0, 0));
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, "00:00:00:00", 11, &size);
    if (old) SelectObject(dc, old);
    ReleaseDC(g_frame.statusBar, dc);
    int edges[2] = {rc.right - size.cx, -1};
    if (edges[0] < 0) edges[0] = 0;
    SendMessageA(g_frame.statusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
}

void layoutFrame() {
    if (!g_frame.frame || IsIconic(g_frame.frame)) return;
    RECT rc;
    GetClientRect(g_frame.frame, &rc);
    int top = 0, bottom = rc.bottom;
    if (g_frame.toolBar && IsWindowVisible(g_frame.toolBar)) {
        SendMessageA(g_frame.toolBar, TB_AUTOSIZE, 0, 0);
        top = windowHeight(g_frame.toolBar);
    }
    if (g_frame.statusBar && IsWindowVisible(g_frame.statusBar)) {
        SendMessageA(g_frame.statusBar, WM_SIZE, 0, 0);
        bottom -= windowHeight(g_frame.statusBar);
        divideStatusBar();
    }
    if (!g_frame.client) return;
    RECT before;
    GetWindowRect(g_frame.client, &before);
    MapWindowPoints(nullptr, g_frame.frame, reinterpret_cast<POINT*>(&before), 2);
    MoveWindow(g_frame.client, 0, top, rc.right, bottom > top ? bottom - top : 0, TRUE);
    // A bar shown or hidden moves the client's top or bottom: what moved is
    // drawn again, by the client and its windows, rather than left as it was.
    if (before.top != top || before.bottom != bottom)
        RedrawWindow(g_frame.client, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void showClock() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[32];
    snprintf(text, sizeof text, "%d:%02d:%02d", t.wHour, t.wMinute, t.wSecond);
    setStatusText(1, text);
}

// ---- Tool bar ------------------------------------------------------------------

HWND createToolBar(HWND frame) {
    size_t count = 0;
    const ToolButton* table = toolbarButtons(&count);
    TBBUTTON buttons[40];
    if (count > sizeof buttons / sizeof buttons[0]) return nullptr;
    for (size_t i = 0; i < count; ++i) {
        TBBUTTON& b = buttons[i];
        memset(&b, 0, sizeof b);
        b.iBitmap = table[i].image < 0 ? 0 : table[i].image;
        b.idCommand = table[i].command;
        b.fsState = TBSTATE_ENABLED;
        b.fsStyle = table[i].image < 0 ? BTNS_SEP : BTNS_BUTTON;
    }
    HDC screen = GetDC(nullptr);
    int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    DWORD style = WS_CHILD | TBSTYLE_TOOLTIPS | TBSTYLE_FLAT | CCS_TOP;
    if (g_settings.toolBar && !g_frame.viewOnly) style |= WS_VISIBLE;
    int bitmap = bits <= 8 ? IDB_TOOLBAR_256 : IDB_TOOLBAR_TRUE;
    HWND bar = CreateToolbarEx(frame, style, IDC_TOOL_BAR, TOOLBAR_IMAGE_COUNT, g_frame.instance, bitmap, buttons,
                               static_cast<int>(count), 0, 0, TOOLBAR_IMAGE_WIDTH, TOOLBAR_IMAGE_HEIGHT,
                               sizeof(TBBUTTON));
    // A greyed button shows its glyph greyed, not an empty box.
    g_frame.greyedToolImages = createGreyedToolImages(bitmap, TOOLBAR_IMAGE_WIDTH, TOOLBAR_IMAGE_HEIGHT);
    if (bar && g_frame.greyedToolImages)
        SendMessageA(bar, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(g_frame.greyedToolImages));
    return bar;
}

// Shows the buttons of the current context, greyed where the command is not available.
void refreshToolBar() {
    if (!g_frame.toolBar) return;
    size_t count = 0;
    const ToolButton* table = toolbarButtons(&count);
    for (size_t i = 0; i < count; ++i) {
        bool shown = toolbarButtonShown(g_frame.context, table[i].command);
        bool separator = table[i].image < 0;
        BYTE state = 0;
        if (!shown) state |= TBSTATE_HIDDEN;
        if (separator || commandEnabled(table[i].command)) state |= TBSTATE_ENABLED;
        TBBUTTONINFOA info;
        memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.dwMask = TBIF_STATE | TBIF_BYINDEX;
        SendMessageA(g_frame.toolBar, TB_GETBUTTONINFOA, i, reinterpret_cast<LPARAM>(&info));
        BYTE keep = info.fsState & ~(TBSTATE_HIDDEN | TBSTATE_ENABLED);
        if ((info.fsState & (TBSTATE_HIDDEN | TBSTATE_ENABLED)) == state) continue;
        info.fsState = static_cast<BYTE>(keep | state);
        SendMessageA(g_frame.toolBar, TB_SETBUTTONINFOA, i, reinterpret_cast<LPARAM>(&info));
    }
}

// ---- Menus -------------------------------------------------------------------------

std::string menuText(HMENU menu, int position) {
    char text[128];
    int n = GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

bool isSeparator(HMENU menu, int position) {
    MENUITEMINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    return GetMenuItemInfoA(menu, position, TRUE, &info) && (info.fType & MFT_SEPARATOR);
}

// No separator first, last or next to another.
void tidySeparators(HMENU menu) {
    for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
        if (!isSeparator(menu, i)) continue;
        int n = GetMenuItemCount(menu);
        if (i == 0 || i == n - 1 || isSeparator(menu, i - 1)) DeleteMenu(menu, i, MF_BYPOSITION);
    }
    int n = GetMenuItemCount(menu);
    if (n > 0 && isSeparator(menu, 0)) DeleteMenu(menu, 0, MF_BYPOSITION);
}

void removeCommands(HMENU menu) {
    for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub) {
            removeCommands(sub);
            continue;
        }
        UINT id = GetMenuItemID(menu, i);
        if (id != static_cast<UINT>(-1) && id != 0 && removedInViewOnly(static_cast<int>(id)))
            DeleteMenu(menu, i, MF_BYPOSITION);
    }
    tidySeparators(menu);
}

// View-only mode: "KaleoMenu" becomes a plain viewer's menu.
void reduceToViewer(HMENU menu) {
    for (int i = GetMenuItemCount(menu) - 1; i >= 0; --i) {
        std::string text = menuText(menu, i);
        HMENU sub = GetSubMenu(menu, i);
        if (text == "Fi&ltre") {
            DeleteMenu(menu, i, MF_BYPOSITION);
        } else if (sub && text == "&Image") {
            for (int j = GetMenuItemCount(sub) - 1; j >= 0; --j) {
                std::string item = menuText(sub, j);
                if (!(GetSubMenu(sub, j) && (item == "&Inversion" || item == "&Rotation")))
                    DeleteMenu(sub, j, MF_BYPOSITION);
            }
        } else if (sub && text == "&Affichage") {
            for (int j = GetMenuItemCount(sub) - 1; j >= 0; --j)
                if (GetSubMenu(sub, j) && menuText(sub, j) == "Placer comme Papier-Peint")
                    DeleteMenu(sub, j, MF_BYPOSITION);
        }
    }
    removeCommands(menu);
}

// Writes the filled slots into a "&Fichier" pop-up: existing items are
// relabelled, missing ones appended (a separator before the first).
void syncRecentMenu(HMENU popup) {
    if (!popup) return;
    int count = recentCount(g_settings.recentFiles);
    for (int slot = 0; slot < count; ++slot) {
        char label[PATH_SIZE + 16];
        recentMenuLabel(slot, g_settings.recentFiles[slot], label, sizeof label);
        UINT id = CMD_RECENT_FIRST + slot;
        if (GetMenuState(popup, id, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
            ModifyMenuA(popup, id, MF_BYCOMMAND | MF_STRING, id, label);
        } else {
            if (slot == 0) AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(popup, MF_STRING, id, label);
        }
    }
}

// The colour reductions carry the labels of the conversion table, the same
// everywhere the program names them ("Convertir en &Vraies couleurs" keeps
// its own, with its access key, at the top of the menu).
void labelConversions(HMENU menu) {
    if (!menu) return;
    for (int code = 1; code < CONVERSION_COUNT; ++code) {
        const char* label = conversionLabel(code);
        WCHAR wide[128];
        if (!label || !MultiByteToWideChar(CP_UTF8, 0, label, -1, wide, 128)) continue;
        UINT id = static_cast<UINT>(50 + code);
        if (GetMenuState(menu, id, MF_BYCOMMAND) != static_cast<UINT>(-1))
            ModifyMenuW(menu, id, MF_BYCOMMAND | MF_STRING, id, wide);
    }
}

HMENU windowPopupOf(HMENU menu) {
    if (menu == g_frame.imageMenu)
        return GetSubMenu(menu, g_frame.viewOnly ? IMAGE_WINDOW_POPUP_VIEW : IMAGE_WINDOW_POPUP);
    if (menu == g_frame.browserMenu) return GetSubMenu(menu, BROWSER_WINDOW_POPUP);
    return GetSubMenu(menu, DEFAULT_WINDOW_POPUP);
}

// ---- Frame commands ------------------------------------------------------------------

bool always() { return true; }
bool haveChild() { return activeChild() != nullptr; }
bool notViewOnly() { return !g_frame.viewOnly; }
bool notWin32s() { return !g_frame.isWin32s; }

// Image windows get the image menu and tool bar; a dump window keeps the default ones.
bool isImageWindow(HWND w) {
    char name[32];
    return GetClassNameA(w, name, sizeof name) > 0 && strcmp(name, CHILD_CLASS) == 0;
}

// Children of the client that are ours to close (no icon titles, no owned windows).
std::vector<HWND> documentWindows() {
    std::vector<HWND> list;
    if (!g_frame.client) return list;
    for (HWND w = GetWindow(g_frame.client, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
        if (GetParent(w) == g_frame.client && !GetWindow(w, GW_OWNER)) list.push_back(w);
    return list;
}

std::string openFilter() {
    std::string f = loadText(IDS_ALL_FILES);
    f.push_back('\0');
    f += "*.*";
    f.push_back('\0');
    f += loadText(IDS_ALL_PICTURES);
    f.push_back('\0');
    f += "*.als;*.art;*.avs;*.b*;*.clo;*.clp;*.cp?;*.cu?;*.dcx;*.di?;*.doo;*.fts;*.gbr;*.gem;*.gif;*.i*;*.jif;"
         "*.jpg;*.lbm;*.mac;*.mbm;*.mif;*.msp;*.mtv;*.neo;*.p*;*.qrt;*.qtl;*.r*;*.s*;*.tdi;*.ti*;*.tn?;*.urt;"
         "*.vda;*.vff;*.vst;*.x*;*.yuv";
    f.push_back('\0');
    for (const FormatRow& row : buildFormatRows(false)) {
        std::string patterns;
        size_t start = 0;
        while (start <= row.extensions.size() && !row.extensions.empty()) {
            size_t comma = row.extensions.find(',', start);
            std::string ext = row.extensions.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (!patterns.empty()) patterns += ";";
            patterns += "*." + ext;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (patterns.empty()) continue;
        f += row.name;
        f.push_back('\0');
        f += patterns;
        f.push_back('\0');
    }
    f.push_back('\0');
    return f;
}

// The open dialog with multiple selection: the chosen paths, PathLoad updated.
std::vector<std::string> askFilesToOpen(HWND owner = nullptr) {
    std::vector<std::string> paths;
    std::string filter = openFilter();
    std::string title = loadText(IDS_OPEN_PICTURES);
    std::vector<char> buffer(32768, '\0');
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner ? owner : g_frame.frame;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 2;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrInitialDir = g_settings.pathLoad[0] ? g_settings.pathLoad : nullptr;
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    if (g_frame.hasNewShell) ofn.Flags |= OFN_EXPLORER;
    if (!runOpenDialog(&ofn)) return paths;
    std::string first = buffer.data();
    std::string folder;
    if (ofn.nFileOffset > first.size()) {
        // Folder, then the names, each ended by a zero byte.
        folder = first;
        for (const char* p = buffer.data() + first.size() + 1; *p; p += strlen(p) + 1)
            paths.push_back(folder + (folder.back() == '\\' ? "" : "\\") + p);
    } else {
        paths.push_back(first);
        folder = first.substr(0, ofn.nFileOffset);
    }
    if (!folder.empty() && folder.back() != '\\') folder += "\\";
    if (folder.size() <= MAX_PATH_CHARS) snprintf(g_settings.pathLoad, PATH_SIZE, "%s", folder.c_str());
    return paths;
}

void openPaths(const std::vector<std::string>& paths, bool eachInOwnWindow) {
    if (paths.empty()) return;
    if (paths.size() == 1 || eachInOwnWindow) {
        for (const std::string& p : paths) openImageWindow(p.c_str(), -1, nullptr);
    } else {
        openImageWindow(paths[0].c_str(), -1, &paths);
    }
}

void cmdOpen() { openPaths(askFilesToOpen(), false); }
void cmdBrowse() { openBrowser(); }
void cmdOpenAll() { openPaths(askFilesToOpen(), true); }

// "Voir en &hexa...": each chosen file in its own dump window.
void cmdViewHex() {
    for (const std::string& p : askFilesToOpen()) openDumpWindow(p.c_str());
}

void cmdClose() {
    HWND child = activeChild();
    if (child) SendMessageA(child, WM_CLOSE, 0, 0);
}

void cmdCloseAll() {
    for (HWND w : documentWindows()) {
        if (!IsWindow(w)) continue;
        SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(w), 0);
        SendMessageA(w, WM_CLOSE, 0, 0);
    }
}

void cmdEscape() {
    HWND child = activeChild();
    if (child)
        SendMessageA(child, WM_CLOSE, 0, 0);
    else
        SendMessageA(g_frame.frame, WM_CLOSE, 0, 0);
}

void cmdQuit() { SendMessageA(g_frame.frame, WM_CLOSE, 0, 0); }

void toggleBar(HWND bar, uint8_t* flag) {
    *flag = !*flag;
    if (bar) ShowWindow(bar, *flag ? SW_SHOW : SW_HIDE);
    layoutFrame();
}

void cmdStatusBar() { toggleBar(g_frame.statusBar, &g_settings.statusBar); }
void cmdToolBar() { toggleBar(g_frame.toolBar, &g_settings.toolBar); }

void cmdOptions() {
    HWND focus = GetFocus();
    bool inBrowser = g_frame.browser && (focus == g_frame.browser || IsChild(g_frame.browser, focus));
    showOptionsDialog(g_frame.frame, inBrowser ? OPTION_CATEGORY_BROWSER : OPTION_CATEGORY_MISC);
}

void cmdInstall() { showInstallDialog(g_frame.frame); }
void cmdCascade() { SendMessageA(g_frame.client, WM_MDICASCADE, 0, 0); }
void cmdTile() { SendMessageA(g_frame.client, WM_MDITILE, MDITILE_VERTICAL, 0); }
void cmdArrange() { SendMessageA(g_frame.client, WM_MDIICONARRANGE, 0, 0); }

void cmdMinimizeAll() {
    for (HWND w : documentWindows()) ShowWindow(w, SW_MINIMIZE);
}

void cmdRestoreAll() {
    for (HWND w : documentWindows()) SendMessageA(g_frame.client, WM_MDIRESTORE, reinterpret_cast<WPARAM>(w), 0);
}

void cmdAbout() { showAboutDialog(g_frame.frame); }
void cmdFormats() { showFormatsDialog(g_frame.frame); }
void cmdCommandLineHelp() { showCommandLineHelp(g_frame.frame); }
void cmdImportClipboard() { importClipboard(); }
void cmdCapture() { runCaptureDialog(g_frame.frame); }
void cmdSlideShow() { runSlideShowDialog(g_frame.frame, {}); }
bool haveClipboardBitmap() { return clipboardHasBitmap(); }
void cmdConvertSequence() { showSequenceConversion(g_frame.frame); }
void cmdConvertMultiple() { showMultipleConversion(g_frame.frame, {}); }

struct FrameCommand {
    int id;
    void (*run)();
    bool (*enabled)();
};

// The commands the frame executes itself. Those of the frame's range that are
// missing here (conversions) come with their windows and stay greyed until
// then.
const FrameCommand FRAME_COMMANDS[] = {
    {CMD_OPEN, cmdOpen, always},
    {CMD_OPEN_ALL, cmdOpenAll, always},
    {CMD_VIEW_HEX, cmdViewHex, always},
    {CMD_BROWSE, cmdBrowse, always},
    {CMD_CLOSE, cmdClose, haveChild},
    {CMD_CLOSE_ALL, cmdCloseAll, haveChild},
    {CMD_ESCAPE, cmdEscape, always},
    {CMD_QUIT, cmdQuit, always},
    {CMD_STATUS_BAR, cmdStatusBar, always},
    {CMD_TOOL_BAR, cmdToolBar, notViewOnly},
    {CMD_OPTIONS, cmdOptions, always},
    {CMD_INSTALL, cmdInstall, notWin32s},
    {CMD_CASCADE, cmdCascade, haveChild},
    {CMD_TILE, cmdTile, haveChild},
    {CMD_ARRANGE, cmdArrange, haveChild},
    {CMD_MINIMIZE_ALL, cmdMinimizeAll, haveChild},
    {CMD_RESTORE_ALL, cmdRestoreAll, haveChild},
    {CMD_ABOUT, cmdAbout, always},
    {CMD_FORMATS, cmdFormats, always},
    {CMD_COMMAND_LINE_HELP, cmdCommandLineHelp, always},
    {CMD_IMPORT_CLIPBOARD, cmdImportClipboard, haveClipboardBitmap},
    {CMD_CAPTURE, cmdCapture, always},
    {CMD_SLIDE_SHOW, cmdSlideShow, always},
    {CMD_CONVERT_SEQUENCE, cmdConvertSequence, always},
    {CMD_CONVERT_MULTIPLE, cmdConvertMultiple, always},
};

const FrameCommand* findFrameCommand(int id) {
    for (const FrameCommand& c : FRAME_COMMANDS)
        if (c.id == id) return &c;
    return nullptr;
}

void openRecent(int slot) {
    if (slot < 0 || slot >= RECENT_COUNT || !g_settings.recentFiles[slot][0]) return;
    char* copy = heapCopy(g_settings.recentFiles[slot]);
    if (copy) SendMessageA(g_frame.frame, WM_OPEN_FILE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(copy));
}

void onCommand(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    int id = LOWORD(wParam);
    switch (commandRoute(id)) {
    case ROUTE_RECENT: openRecent(id - CMD_RECENT_FIRST); break;
    case ROUTE_FRAME: {
        const FrameCommand* c = findFrameCommand(id);
        if (c && c->enabled()) c->run();
        break;
    }
    case ROUTE_CHILD: {
        HWND child = activeChild();
        if (child) SendMessageA(child, WM_COMMAND, wParam, lParam);
        break;
    }
    case ROUTE_NONE: DefFrameProcA(hwnd, g_frame.client, WM_COMMAND, wParam, lParam); return;
    }
    refreshToolBar();
}

// ---- Messages ---------------------------------------------------------------------------

bool onCreate(HWND hwnd) {
    g_frame.frame = hwnd;
    DWORD statusStyle = WS_CHILD | SBARS_SIZEGRIP;
    if (g_settings.statusBar) statusStyle |= WS_VISIBLE;
    g_frame.statusBar = CreateStatusWindowA(statusStyle, "", hwnd, IDC_STATUS_BAR);
    g_frame.toolBar = createToolBar(hwnd);
    CLIENTCREATESTRUCT ccs;
    ccs.hWindowMenu = GetSubMenu(GetMenu(hwnd), DEFAULT_WINDOW_POPUP);
    ccs.idFirstChild = IDC_FIRST_CHILD;
    g_frame.client = CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                                     WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL, 0, 0, 0, 0,
                                     hwnd, nullptr, g_frame.instance, &ccs);
    if (!g_frame.client) return false;
    SetTimer(hwnd, CLOCK_TIMER, 1000, nullptr);
    showClock();
    return true;
}

// Session end: every modified image may ask; any refusal vetoes.
BOOL onQueryEndSession() {
    for (HWND w : documentWindows())
        if (IsWindow(w) && !SendMessageA(w, WM_APP_QUERY_CLOSE, 0, 0)) return FALSE;
    return TRUE;
}

void onClose(HWND hwnd) {
    KillTimer(hwnd, CLOCK_TIMER);
    if (!closeAllChildren()) {
        // An image window kept itself open: the program goes on.
        SetTimer(hwnd, CLOCK_TIMER, 1000, nullptr);
        return;
    }
    DestroyWindow(hwnd);
}

void onDestroy(HWND hwnd) {
    if (g_settings.savePosition) {
        // The restored rectangle, even when the frame is minimised or maximised.
        WINDOWPLACEMENT wp;
        memset(&wp, 0, sizeof wp);
        wp.length = sizeof wp;
        if (GetWindowPlacement(hwnd, &wp)) {
            const RECT& r = wp.rcNormalPosition;
            g_settings.x = r.left;
            g_settings.y = r.top;
            g_settings.width = r.right - r.left;
            g_settings.height = r.bottom - r.top;
        }
    }
    if (g_frame.toolBar) DestroyWindow(g_frame.toolBar);  // before the images it draws with
    if (g_frame.greyedToolImages) ImageList_Destroy(g_frame.greyedToolImages);
    g_frame.greyedToolImages = nullptr;
    g_frame.toolBar = g_frame.statusBar = g_frame.client = nullptr;
    PostQuitMessage(1);
}

// Files dropped from a file manager open as if named on the command line: a
// single file in its window, several as a list to step through, a folder in
// the browser.
void onDropFiles(HDROP drop) {
    std::vector<std::string> tokens;
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char path[PATH_SIZE];
        UINT n = DragQueryFileA(drop, i, path, sizeof path);
        if (n > 0 && n < sizeof path) tokens.push_back(path);
    }
    DragFinish(drop);
    if (!tokens.empty()) executeCommandLine(tokens, false, g_frame.frame);
}

LRESULT onCopyData(const COPYDATASTRUCT* cds) {
    if (!cds || !cds->lpData || cds->cbData == 0) return 0;
    // Exactly cbData bytes, terminated here whatever the sender put in them.
    size_t n = strnlen(static_cast<const char*>(cds->lpData), cds->cbData);
    if (n == 0 || n > MAX_PATH_CHARS) return 0;
    char path[PATH_SIZE];
    memcpy(path, cds->lpData, n);
    path[n] = '\0';
    if (probePath(path) == PATH_FOLDER) {
        std::vector<std::string> tokens = {path};
        executeCommandLine(tokens, false, g_frame.frame);
        return 1;
    }
    char* copy = heapCopy(path);
    if (copy) SendMessageA(g_frame.frame, WM_OPEN_FILE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(copy));
    return 1;
}

void onInitMenuPopup(HMENU popup) {
    int n = GetMenuItemCount(popup);
    for (int i = 0; i < n; ++i) {
        if (GetSubMenu(popup, i)) continue;
        UINT id = GetMenuItemID(popup, i);
        if (id == 0 || id == static_cast<UINT>(-1) || commandRoute(static_cast<int>(id)) == ROUTE_NONE) continue;
        bool on = commandEnabled(static_cast<int>(id));
        EnableMenuItem(popup, i, MF_BYPOSITION | (on ? MF_ENABLED : MF_GRAYED));
    }
}

void onInitMenu(HMENU menu) {
    // Importing the clipboard comes with the clipboard tools; it stays greyed until then.
    EnableMenuItem(menu, CMD_IMPORT_CLIPBOARD, MF_BYCOMMAND | MF_GRAYED);
    CheckMenuItem(menu, CMD_STATUS_BAR, MF_BYCOMMAND | (g_settings.statusBar ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, CMD_TOOL_BAR, MF_BYCOMMAND | (g_settings.toolBar ? MF_CHECKED : MF_UNCHECKED));
    HWND child = activeChild();
    if (child) SendMessageA(child, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
}

LRESULT onNotify(NMHDR* header) {
    if (header->code == TTN_GETDISPINFOA) {
        NMTTDISPINFOA* info = reinterpret_cast<NMTTDISPINFOA*>(header);
        info->hinst = g_frame.instance;
        info->lpszText = MAKEINTRESOURCEA(header->idFrom);
    } else if (header->code == TTN_GETDISPINFOW) {
        NMTTDISPINFOW* info = reinterpret_cast<NMTTDISPINFOW*>(header);
        info->hinst = g_frame.instance;
        info->lpszText = MAKEINTRESOURCEW(header->idFrom);
    }
    return 0;
}

LRESULT CALLBACK frameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: return onCreate(hwnd) ? 0 : -1;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) layoutFrame();
        return 0;
    case WM_COMMAND: onCommand(hwnd, wParam, lParam); return 0;
    case WM_INITMENU: onInitMenu(reinterpret_cast<HMENU>(wParam)); return 0;
    case WM_INITMENUPOPUP:
        if (!HIWORD(lParam)) onInitMenuPopup(reinterpret_cast<HMENU>(wParam));
        break;
    case WM_TIMER:
        if (wParam == CLOCK_TIMER) {
            showClock();
            refreshToolBar();
        }
        return 0;
    case WM_NOTIFY: return onNotify(reinterpret_cast<NMHDR*>(lParam));
    case WM_APP_OPEN_PENDING: openPendingRequests(); return 0;
    case WM_OPEN_FILE: {
        char* path = reinterpret_cast<char*>(lParam);
        if (path) openImageWindow(path, static_cast<int>(static_cast<INT_PTR>(wParam)), nullptr);
        heapFree(path);
        return 0;
    }
    case WM_OPEN_HEXA: {
        char* path = reinterpret_cast<char*>(lParam);
        if (path) openDumpWindow(path);
        heapFree(path);
        return 0;
    }
    case WM_COPYDATA: return onCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_DROPFILES: onDropFiles(reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_APP_CONTEXT: updateFrameContext(); return 0;
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED: {
        if (msg == WM_PALETTECHANGED && reinterpret_cast<HWND>(wParam) == hwnd) return 0;
        HWND child = activeChild();
        return child ? SendMessageA(child, msg, wParam, lParam) : 0;
    }
    case WM_QUERYENDSESSION: return onQueryEndSession();
    case WM_ENDSESSION:
        if (wParam && !g_frame.settingsSaved) saveSettings();
        return 0;
    case WM_CLOSE: onClose(hwnd); return 0;
    case WM_DESTROY: onDestroy(hwnd); return 0;
    }
    return DefFrameProcA(hwnd, g_frame.client, msg, wParam, lParam);
}

}  // namespace

// ---- Shared with the rest of the program --------------------------------------------

HWND activeChild() {
    if (!g_frame.client) return nullptr;
    return reinterpret_cast<HWND>(SendMessageA(g_frame.client, WM_MDIGETACTIVE, 0, 0));
}

void setStatusText(int part, const char* text) {
    if (g_frame.statusBar) SendMessageA(g_frame.statusBar, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(text));
}

bool commandEnabled(int id) {
    switch (commandRoute(id)) {
    case ROUTE_RECENT: return true;
    case ROUTE_FRAME: {
        const FrameCommand* c = findFrameCommand(id);
        return c && c->enabled();
    }
    case ROUTE_CHILD: {
        HWND child = activeChild();
        return child && SendMessageA(child, WM_APP_QUERY_COMMAND, id, 0) != 0;
    }
    case ROUTE_NONE: break;
    }
    return false;
}

bool registerFrameClass() {
    WNDCLASSA wc;
    if (GetClassInfoA(g_frame.instance, FRAME_CLASS, &wc)) return true;  // started before in this process
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = frameProc;
    wc.hInstance = g_frame.instance;
    wc.hIcon = LoadIconA(g_frame.instance, MAKEINTRESOURCEA(IDI_KALEOS));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    wc.lpszMenuName = "KaleoDefaultMenu";
    wc.lpszClassName = FRAME_CLASS;
    return RegisterClassA(&wc) != 0;
}

HWND createFrameWindow() {
    if (!registerFrameClass()) {
        MessageBoxA(nullptr, "RegisterClass() failed", "Error", MB_OK | MB_ICONERROR);
        return nullptr;
    }
    snprintf(g_frame.title, sizeof g_frame.title, "Kaleos v1.12 %s", loadText(IDS_LANGUAGE).c_str());
    g_frame.imageMenu = LoadMenuA(g_frame.instance, "KaleoMenu");
    labelConversions(g_frame.imageMenu);
    if (g_frame.imageMenu && g_frame.viewOnly) reduceToViewer(g_frame.imageMenu);
    HWND hwnd = CreateWindowExA(g_settings.alwaysOnTop ? WS_EX_TOPMOST : 0, FRAME_CLASS, g_frame.title,
                                WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                                GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, nullptr,
                                nullptr, g_frame.instance, nullptr);
    if (!hwnd) {
        MessageBoxA(nullptr, "WindowMainCreate() failed", "Error", MB_OK | MB_ICONERROR);
        return nullptr;
    }
    g_frame.defaultMenu = GetMenu(hwnd);
    DragAcceptFiles(hwnd, TRUE);
    if (g_frame.isWin32s) EnableMenuItem(g_frame.defaultMenu, CMD_INSTALL, MF_BYCOMMAND | MF_GRAYED);
    g_frame.context = CONTEXT_NONE;
    refreshToolBar();
    layoutFrame();
    showClock();  // the status bar has its two parts now
    return hwnd;
}

void updateFrameContext() {
    if (!g_frame.frame || !g_frame.client) return;
    HWND child = activeChild();
    ToolbarContext context = CONTEXT_NONE;
    HMENU menu = g_frame.defaultMenu;
    if (child && child == g_frame.browser && g_frame.browserMenu) {
        context = CONTEXT_BROWSER;
        menu = g_frame.browserMenu;
    } else if (child && g_frame.imageMenu && isImageWindow(child)) {
        context = CONTEXT_IMAGE;
        menu = g_frame.imageMenu;
    }
    // A window in full screen keeps the frame without a menu; its own menu
    // comes back when it leaves full screen.
    ImageWindowState state;
    bool fullScreen = context == CONTEXT_IMAGE && imageWindowState(child, &state) && state.fullScreen;
    if (menu && !fullScreen && GetMenu(g_frame.frame) != menu) {
        SendMessageA(g_frame.client, WM_MDISETMENU, reinterpret_cast<WPARAM>(menu),
                     reinterpret_cast<LPARAM>(windowPopupOf(menu)));
        if (menu != g_frame.browserMenu && !g_frame.viewOnly) syncRecentMenu(GetSubMenu(menu, FILE_POPUP));
        DrawMenuBar(g_frame.frame);
    }
    g_frame.context = context;
    refreshToolBar();
    layoutFrame();
}

void appendRecentToMenus() {
    // In view-only mode no "&Fichier" lists recent files.
    if (g_frame.viewOnly) return;
    syncRecentMenu(GetSubMenu(g_frame.defaultMenu, FILE_POPUP));
    // In view-only mode "&Fichier" of the image menu keeps printing and quitting only.
    if (g_frame.imageMenu && !g_frame.viewOnly) syncRecentMenu(GetSubMenu(g_frame.imageMenu, FILE_POPUP));
}

void addRecentFile(const char* path) {
    if (g_frame.viewOnly) return;
    if (addRecentFile(g_settings.recentFiles, path).change != RECENT_UNCHANGED) appendRecentToMenus();
}

void applyAlwaysOnTop() {
    if (!g_frame.frame) return;
    // Only a change of band: "not top-most" would also raise the frame
    // above the dialogs it owns.
    bool topMost = (GetWindowLongA(g_frame.frame, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    if (topMost == (g_settings.alwaysOnTop != 0)) return;
    SetWindowPos(g_frame.frame, g_settings.alwaysOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED);
}

std::vector<std::string> askPicturesToOpen(HWND owner) { return askFilesToOpen(owner); }

bool closeAllChildren() {
    for (HWND w : documentWindows()) {
        if (!IsWindow(w)) continue;
        // In full screen the first close only leaves full screen.
        ImageWindowState state;
        if (imageWindowState(w, &state) && state.fullScreen) SendMessageA(w, WM_CLOSE, 0, 0);
        SendMessageA(w, WM_CLOSE, 0, 0);
        if (IsWindow(w)) return false;  // it answered Cancel
    }
    return true;
}
