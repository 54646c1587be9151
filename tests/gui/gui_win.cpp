// Win32 side of the GUI test helpers: drives the frame of this process, its
// dialogs and Wine's registry, and starts the program as a second process.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "gui.h"
#include "kaleocore.h"

namespace gui {

namespace {

HWND asWindow(void* dialog) { return static_cast<HWND>(dialog); }

HMENU popupOf(HMENU menu, int id, int* position) {
    int n = GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub) {
            HMENU found = popupOf(sub, id, position);
            if (found) return found;
        } else if (GetMenuItemID(menu, i) == static_cast<UINT>(id)) {
            *position = i;
            return menu;
        }
    }
    return nullptr;
}

std::string text(HWND w) {
    char buffer[512];
    int n = GetWindowTextA(w, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::vector<HWND> children(HWND client) {
    std::vector<HWND> list;
    for (HWND w = client ? GetWindow(client, GW_CHILD) : nullptr; w; w = GetWindow(w, GW_HWNDNEXT))
        if (!GetWindow(w, GW_OWNER)) list.push_back(w);
    return list;
}

std::vector<HANDLE> g_processes;

struct DialogJob {
    std::string title;
    void (*act)(void*, void*);
    void* datum;
    bool done;
};
DialogJob g_job;

struct BoxJob {
    std::string title;
    int button;
    bool armed;
};
BoxJob g_box;

HWND findOwnDialog(const std::string& title) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", title.c_str())) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == GetCurrentProcessId() && IsWindowVisible(w)) return w;
    }
    return nullptr;
}

void CALLBACK dialogTimer(HWND, UINT, UINT_PTR id, DWORD) {
    if (g_job.done) {
        KillTimer(nullptr, id);
        return;
    }
    HWND dialog = findOwnDialog(g_job.title);
    if (!dialog) return;
    g_job.done = true;
    KillTimer(nullptr, id);
    g_job.act(dialog, g_job.datum);
}

void CALLBACK boxTimer(HWND, UINT, UINT_PTR id, DWORD) {
    if (!g_box.armed) {
        KillTimer(nullptr, id);
        return;
    }
    HWND box = findOwnDialog(g_box.title);
    if (!box) return;
    g_box.armed = false;
    KillTimer(nullptr, id);
    PostMessageA(box, WM_COMMAND, g_box.button, 0);
}

}  // namespace

// ---- Files ----

std::string tempFolder() {
    static int counter = 0;
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    char folder[MAX_PATH];
    // Process ids repeat from one Wine session to the next: a folder that
    // exists already belongs to an earlier run.
    do {
        snprintf(folder, sizeof folder, "%skaleosgui%lu_%lu_%d\\", base, GetCurrentProcessId(), GetTickCount(),
                 ++counter);
    } while (!CreateDirectoryA(folder, nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    return folder;
}

std::string writeBitmap(const std::string& folder, const std::string& name, int width, int height) {
    std::string path = folder + name;
    OwnedImage image;
    if (!createImage(&image, IMG_RGB, 1, width, height)) return std::string();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = imageRow(&image, y) + x * 3;
            p[0] = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            p[1] = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            p[2] = 128;
        }
    IoOptions options = defaultIoOptions();
    options.formatIndex = static_cast<int16_t>(findFormat("bmp"));
    char unixPath[FILE_NAME_LEN];
    copyText(unixPath, sizeof unixPath, libraryPath(path.c_str()).c_str());
    return saveImage(unixPath, &image, &options) == ST_OK ? path : std::string();
}

bool writeText(const std::string& path, const std::string& content) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == content.size();
}

bool fileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string profileString(const std::string& ini, const std::string& section, const std::string& key) {
    char buffer[512];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "<missing>", buffer, sizeof buffer, ini.c_str());
    return buffer;
}

// ---- The frame in this process ----

bool start(const std::string& commandLine) {
    int exitCode = 0;
    bool started = startKaleos(GetModuleHandleA(nullptr), commandLine.c_str(), SW_SHOWNORMAL, &exitCode);
    if (started) pump(100);
    return started;
}

void pump(int milliseconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            if (translateFrameMessage(&msg)) continue;  // as the program's own loop
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (milliseconds <= 0) break;
        Sleep(10);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

bool frameAlive() { return g_frame.frame && IsWindow(g_frame.frame); }

bool closeFrame() {
    if (frameAlive()) SendMessageA(g_frame.frame, WM_CLOSE, 0, 0);
    pump(50);
    if (frameAlive()) return false;
    g_frame.frame = nullptr;
    finishKaleos();
    return true;
}

void sendCommand(int id, int pumpMilliseconds) {
    SendMessageA(g_frame.frame, WM_COMMAND, id, 0);
    pump(pumpMilliseconds);
}

void openFile(const std::string& path) {
    SendMessageA(g_frame.frame, WM_OPEN_FILE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(heapCopy(path.c_str())));
    pump(100);
}

std::string frameClass() {
    char name[64];
    int n = GetClassNameA(g_frame.frame, name, sizeof name);
    return std::string(name, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string frameTitle() { return text(g_frame.frame); }

std::string menuBar() {
    HMENU menu = GetMenu(g_frame.frame);
    std::string s;
    int n = GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i) {
        char item[128];
        if (!GetSubMenu(menu, i)) continue;  // the system menu of a maximised child
        GetMenuStringA(menu, i, item, sizeof item, MF_BYPOSITION);
        if (!s.empty()) s += "|";
        s += item;
    }
    return s;
}

std::string filePopupItems() {
    HMENU menu = GetMenu(g_frame.frame);
    HMENU file = nullptr;
    for (int i = 0; i < GetMenuItemCount(menu) && !file; ++i) file = GetSubMenu(menu, i);
    std::string s;
    for (int i = 0; file && i < GetMenuItemCount(file); ++i) {
        char item[300];
        MENUITEMINFOA info;
        memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE;
        GetMenuItemInfoA(file, i, TRUE, &info);
        if (!s.empty()) s += "|";
        if (info.fType & MFT_SEPARATOR) {
            s += "-";
        } else {
            GetMenuStringA(file, i, item, sizeof item, MF_BYPOSITION);
            s += item;
        }
    }
    return s;
}

bool menuItemEnabled(int id) {
    HMENU menu = GetMenu(g_frame.frame);
    int position = -1;
    HMENU popup = popupOf(menu, id, &position);
    if (!popup) return false;
    SendMessageA(g_frame.frame, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
    SendMessageA(g_frame.frame, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
    return !(GetMenuState(popup, position, MF_BYPOSITION) & (MF_GRAYED | MF_DISABLED));
}

namespace {
void collectIds(HMENU menu, std::vector<int>* ids) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        HMENU sub = GetSubMenu(menu, i);
        if (sub) {
            collectIds(sub, ids);
            continue;
        }
        UINT id = GetMenuItemID(menu, i);
        if (id != 0 && id != static_cast<UINT>(-1)) ids->push_back(static_cast<int>(id));
    }
}
}  // namespace

std::vector<int> menuCommandIds() {
    std::vector<int> ids;
    collectIds(GetMenu(g_frame.frame), &ids);
    return ids;
}

bool menuItemChecked(int id) {
    HMENU menu = GetMenu(g_frame.frame);
    SendMessageA(g_frame.frame, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
    return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

int toolbarContext() { return static_cast<int>(g_frame.context); }

std::vector<int> visibleToolButtons() {
    std::vector<int> ids;
    int n = static_cast<int>(SendMessageA(g_frame.toolBar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        TBBUTTON b;
        memset(&b, 0, sizeof b);
        SendMessageA(g_frame.toolBar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b));
        if (!(b.fsState & TBSTATE_HIDDEN)) ids.push_back(b.idCommand);
    }
    return ids;
}

bool toolButtonEnabled(int id) { return SendMessageA(g_frame.toolBar, TB_ISBUTTONENABLED, id, 0) != 0; }
bool toolBarVisible() { return g_frame.toolBar && IsWindowVisible(g_frame.toolBar); }

std::string statusText(int part) {
    char buffer[256] = {};
    if ((SendMessageA(g_frame.statusBar, SB_GETTEXTLENGTHA, part, 0) & 0xFFFF) >= sizeof buffer) return "";
    SendMessageA(g_frame.statusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

int childCount() { return static_cast<int>(children(g_frame.client).size()); }

std::vector<std::string> childTitles() {
    std::vector<std::string> titles;
    for (HWND w : children(g_frame.client)) titles.push_back(text(w));
    return titles;
}

bool frameTopMost() { return (GetWindowLongA(g_frame.frame, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

void setActiveChildModified() {
    HWND child = activeChild();
    if (child) SendMessageA(child, WM_APP_SET_MODIFIED, 1, 0);
}

int sendCopyData(const std::string& bytes) {
    std::vector<char> data(bytes.begin(), bytes.end());
    data.push_back('X');  // a byte past the block that must not be read
    COPYDATASTRUCT cds;
    cds.dwData = 0;
    cds.cbData = static_cast<DWORD>(bytes.size());
    cds.lpData = data.data();
    int answer = static_cast<int>(SendMessageA(g_frame.frame, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
    pump(100);
    return answer;
}

bool queryEndSession() { return SendMessageA(g_frame.frame, WM_QUERYENDSESSION, 0, 0) != 0; }

void moveFrame(int x, int y, int width, int height) {
    MoveWindow(g_frame.frame, x, y, width, height, TRUE);
    pump(50);
}

void minimizeFrame() {
    ShowWindow(g_frame.frame, SW_MINIMIZE);
    pump(50);
}

// ---- Settings ----

int settingInt(const std::string& section, const std::string& key) {
    int32_t v = -99999;
    getSettingInt(g_settings, section.c_str(), key.c_str(), 0, &v);
    return v;
}

bool setSettingValue(const std::string& section, const std::string& key, int value) {
    return setSettingInt(&g_settings, section.c_str(), key.c_str(), 0, value);
}

std::string recentFile(int slot) { return slot >= 0 && slot < RECENT_COUNT ? g_settings.recentFiles[slot] : ""; }
std::string browsePath() { return g_settings.pathBrowse; }
std::string settingsPath() { return g_frame.settingsPath; }

// ---- Dialogs ----

bool withDialogWhile(void (*run)(void*), void* runDatum, const std::string& title, void (*act)(void*, void*),
                     void* datum) {
    g_job = DialogJob{title, act, datum, false};
    SetTimer(nullptr, 0, 100, dialogTimer);
    run(runDatum);
    pump(50);
    bool done = g_job.done;
    g_job.done = true;  // a timer still running stops at its next tick
    return done;
}

namespace {
void sendFrameCommand(void* command) {
    SendMessageA(g_frame.frame, WM_COMMAND, static_cast<WPARAM>(reinterpret_cast<INT_PTR>(command)), 0);
}
}  // namespace

bool withDialog(int command, const std::string& title, void (*act)(void*, void*), void* datum) {
    return withDialogWhile(sendFrameCommand, reinterpret_cast<void*>(static_cast<INT_PTR>(command)), title, act,
                           datum);
}

void answerNextMessageBox(const std::string& title, int button) {
    g_box = BoxJob{title, button, true};
    SetTimer(nullptr, 0, 100, boxTimer);
}

std::string itemText(void* dialog, int id) { return text(GetDlgItem(asWindow(dialog), id)); }
bool itemVisible(void* dialog, int id) { return IsWindowVisible(GetDlgItem(asWindow(dialog), id)) != 0; }
bool itemChecked(void* dialog, int id) { return IsDlgButtonChecked(asWindow(dialog), id) == BST_CHECKED; }

void clickItem(void* dialog, int id) {
    HWND d = asWindow(dialog);
    SendMessageA(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(d, id)));
}

void setChecked(void* dialog, int id, bool on) {
    CheckDlgButton(asWindow(dialog), id, on ? BST_CHECKED : BST_UNCHECKED);
}

void selectCategory(void* dialog, int index) {
    HWND d = asWindow(dialog);
    HWND list = GetDlgItem(d, IDC_OPT_CATEGORIES);
    SendMessageA(list, LB_SETCURSEL, index, 0);
    SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_OPT_CATEGORIES, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

void spin(void* dialog, int spinId, int delta) {
    HWND d = asWindow(dialog);
    NMUPDOWN n;
    memset(&n, 0, sizeof n);
    n.hdr.hwndFrom = GetDlgItem(d, spinId);
    n.hdr.idFrom = static_cast<UINT_PTR>(spinId);
    n.hdr.code = UDN_DELTAPOS;
    n.iDelta = delta;
    SendMessageA(d, WM_NOTIFY, spinId, reinterpret_cast<LPARAM>(&n));
}

int listViewCount(void* dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(asWindow(dialog), id, LVM_GETITEMCOUNT, 0, 0));
}

std::string listViewText(void* dialog, int id, int row, int column) {
    char buffer[600] = {};
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendDlgItemMessageA(asWindow(dialog), id, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
}

int listViewColumns(void* dialog, int id) {
    HWND header = reinterpret_cast<HWND>(SendDlgItemMessageA(asWindow(dialog), id, LVM_GETHEADER, 0, 0));
    return header ? static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

bool listViewChecked(void* dialog, int id, int row) {
    UINT state = static_cast<UINT>(SendDlgItemMessageA(asWindow(dialog), id, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

void clickListViewCheck(void* dialog, int id, int row) {
    HWND list = GetDlgItem(asWindow(dialog), id);
    RECT r;
    memset(&r, 0, sizeof r);
    r.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_ENSUREVISIBLE, row, FALSE);
    SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    POINT p = {r.left + 8, (r.top + r.bottom) / 2};  // the state image sits first in the row
    NMITEMACTIVATE n;
    memset(&n, 0, sizeof n);
    n.hdr.hwndFrom = list;
    n.hdr.idFrom = static_cast<UINT_PTR>(id);
    n.hdr.code = NM_CLICK;
    n.iItem = row;
    n.ptAction = p;
    SendMessageA(asWindow(dialog), WM_NOTIFY, id, reinterpret_cast<LPARAM>(&n));
}

void screenshot(const std::string& name) {
    const char* folder = getenv("KALEO_SCREENSHOTS");
    if (!folder || !folder[0]) return;
    pump(300);
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER bi;
    memset(&bi, 0, sizeof bi);
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    int stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * h);
    GetDIBits(memory, bitmap, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::string path = std::string(folder) + "/" + name + ".bmp";
    FILE* f = fopen(path.c_str(), "wb");  // a Unix path: the C library of this process is the system's
    if (!f) return;
    BITMAPFILEHEADER fh;
    memset(&fh, 0, sizeof fh);
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
    fwrite(&fh, sizeof fh, 1, f);
    fwrite(&bi, sizeof bi, 1, f);
    fwrite(pixels.data(), 1, pixels.size(), f);
    fclose(f);
}

// ---- Registry ----

std::string classesDefault(const std::string& key) {
    char buffer[600];
    LONG size = sizeof buffer;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), buffer, &size) != ERROR_SUCCESS) return "<none>";
    return buffer;
}

void setClassesDefault(const std::string& key, const std::string& value) {
    RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), static_cast<DWORD>(value.size()));
}

void deleteClassesKey(const std::string& key) { RegDeleteTreeA(HKEY_CLASSES_ROOT, key.c_str()); }

bool registerImageClass() { return ::registerImageClass(); }
bool associate(const std::string& ext) { return associateExtension(ext.c_str()); }
bool restore(const std::string& ext) { return restoreExtension(ext.c_str()); }
bool isAssociated(const std::string& ext) { return ::isAssociated(ext.c_str()); }
bool addVerb() { return addBrowseWithVerb(); }
bool removeVerb() { return removeBrowseWithVerb(); }
bool hasVerb() { return hasBrowseWithVerb(); }
std::string openCommand() { return openCommandText(); }

bool createDesktopShortcut(std::string* linkPath) {
    char desktop[MAX_PATH];
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &pidl)) || !SHGetPathFromIDListA(pidl, desktop))
        return false;
    CoTaskMemFree(pidl);
    *linkPath = std::string(desktop) + "\\KAleos.lnk";
    DeleteFileA(linkPath->c_str());
    createShortcuts(1);
    return fileExists(*linkPath);
}

// ---- A second process ----

std::string programPath() {
    char module[MAX_PATH];
    GetModuleFileNameA(nullptr, module, sizeof module);
    std::string path = module;
    size_t slash = path.rfind('\\');
    return path.substr(0, slash + 1) + "kaleos.exe.so";
}

int launch(const std::string& arguments) {
    std::string line = "\"" + programPath() + "\" " + arguments;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0;
    CloseHandle(pi.hThread);
    g_processes.push_back(pi.hProcess);
    return static_cast<int>(g_processes.size());
}

int waitExit(int process, int milliseconds) {
    if (process <= 0 || static_cast<size_t>(process) > g_processes.size()) return -1;
    HANDLE h = g_processes[static_cast<size_t>(process) - 1];
    DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    while (WaitForSingleObject(h, 20) == WAIT_TIMEOUT) {
        pump(0);
        if (static_cast<LONG>(end - GetTickCount()) <= 0) return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(h, &code);
    return static_cast<int>(code);
}

namespace {

HWND otherFrame() {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "VmainClass", nullptr)) != nullptr) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != GetCurrentProcessId()) return w;
    }
    return nullptr;
}

}  // namespace

bool waitForOtherFrame(int milliseconds) {
    DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    while (!otherFrame()) {
        Sleep(50);
        if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
    }
    return true;
}

std::vector<std::string> otherFrameChildTitles() {
    HWND frame = otherFrame();
    HWND client = frame ? FindWindowExA(frame, nullptr, "MDICLIENT", nullptr) : nullptr;
    std::vector<std::string> titles;
    for (HWND w : children(client)) titles.push_back(text(w));
    return titles;
}

void closeOtherFrame() {
    HWND frame = otherFrame();
    if (frame) PostMessageA(frame, WM_CLOSE, 0, 0);
}

}  // namespace gui
