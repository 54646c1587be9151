// The program's start, its message loop and its end.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "app.h"
#include "commandline.h"

namespace {

bool isFolder(const char* path, void*) { return probePath(path) == PATH_FOLDER; }

void releaseDisplayTables() {
    delete g_frame.displayTables;
    g_frame.displayTables = nullptr;
}

void rememberBrowsePath(const std::string& folder) {
    std::string f = folder;
    if (f.back() != '\\') f += "\\";
    if (f.size() <= MAX_PATH_CHARS) snprintf(g_settings.pathBrowse, PATH_SIZE, "%s", f.c_str());
}

void forwardPath(HWND target, const std::string& path) {
    COPYDATASTRUCT cds;
    cds.dwData = 0;
    cds.cbData = static_cast<DWORD>(path.size() + 1);
    cds.lpData = const_cast<char*>(path.c_str());
    SendMessageA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
}

void readPlatform() {
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    g_frame.isWin32s = version.dwPlatformId == VER_PLATFORM_WIN32s;
    g_frame.hasNewShell = !(version.dwPlatformId == VER_PLATFORM_WIN32s ||
                            (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion < 4));
}

void showFrame(int show) {
    HWND frame = g_frame.frame;
    if (g_settings.maximizeKaleosAtStartup) {
        // The first ShowWindow of a process may take the launcher's show state instead.
        ShowWindow(frame, SW_SHOWMAXIMIZED);
        if (!IsZoomed(frame)) ShowWindow(frame, SW_SHOWMAXIMIZED);
    } else {
        if (g_settings.savePosition && g_settings.width > 10 && g_settings.height > 10)
            MoveWindow(frame, g_settings.x, g_settings.y, g_settings.width, g_settings.height, FALSE);
        ShowWindow(frame, show);
    }
    UpdateWindow(frame);
}

}  // namespace

void executeCommandLine(const std::vector<std::string>& tokens, bool forward, HWND target) {
    CommandLinePlan plan = interpretCommandLine(tokens, forward ? MODE_FORWARD : MODE_NORMAL,
                                                g_settings.launchBrowserAtStartup != 0, isFolder, nullptr);
    for (const Action& a : plan.actions) {
        switch (a.kind) {
        case ACT_OPEN_FILE: {
            char* copy = heapCopy(a.paths[0].c_str());
            if (copy) SendMessageA(target, WM_OPEN_FILE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(copy));
            break;
        }
        case ACT_OPEN_LIST: openImageWindow(a.paths[0].c_str(), -1, &a.paths); break;
        case ACT_SET_BROWSE_PATH: rememberBrowsePath(a.paths[0]); break;
        case ACT_OPEN_BROWSER: openBrowser(); break;
        case ACT_RUN_SLIDE_SHOW: runSlideShowFile(a.paths[0].c_str()); break;
        case ACT_FULL_SCREEN: SendMessageA(target, WM_COMMAND, CMD_FULL_SCREEN, 0); break;
        case ACT_FORWARD_PATH: forwardPath(target, a.paths[0]); break;
        }
    }
}

bool startKaleos(HINSTANCE instance, const char* commandLine, int show, int* exitCode) {
    g_frame = FrameState();
    g_frame.instance = instance;
    *exitCode = 1;
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS |
                                                ICC_TREEVIEW_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);

    // 1-2. Platform, then the colour tables of displays of 256 colours or fewer.
    readPlatform();
    g_frame.displayTables = new (std::nothrow) DisplayTables;
    if (!g_frame.displayTables) return false;
    buildDisplayTables(g_frame.displayTables);
    HDC screen = GetDC(nullptr);
    g_frame.displayBits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);

    // 3. Settings, from the file named after "-ini" when there is one.
    std::vector<std::string> tokens = tokenizeCommandLine(commandLine);
    loadSettings(findIniOption(tokens).c_str());

    // 4. A running instance takes the command line over.
    if (g_settings.onlyOneInstance) {
        HWND running = FindWindowA(FRAME_CLASS, nullptr);
        if (running) {
            SetForegroundWindow(running);
            executeCommandLine(tokens, true, running);
            releaseDisplayTables();
            *exitCode = 0;
            return false;
        }
    }

    // 5-8. The frame, the image window class, the accelerators.
    g_frame.viewOnly = hasOption(tokens, "-view");
    if (!createFrameWindow()) {
        releaseDisplayTables();
        return false;
    }
    registerImageWindowClass();
    g_frame.viewAccel = LoadAcceleratorsA(instance, "KaleoViewAcc");
    g_frame.browseAccel = LoadAcceleratorsA(instance, "KaleoBrowseAcc");

    // 9-12. Recent files, showing the frame, the command line, the browser.
    appendRecentToMenus();
    showFrame(show);
    executeCommandLine(tokens, false, g_frame.frame);
    if (g_settings.launchBrowserAtStartup) openBrowser();
    *exitCode = 0;
    return true;
}

bool translateFrameMessage(MSG* msg) {
    if (g_frame.client && TranslateMDISysAccel(g_frame.client, msg)) return true;
    // The dump window pages with the keys that step through files elsewhere.
    if (dumpWindowTakesKey(*msg)) return false;
    HWND focus = GetFocus();
    HACCEL table = nullptr;
    if (g_frame.browser && (focus == g_frame.browser || GetParent(focus) == g_frame.browser)) {
        table = g_frame.browseAccel;
    } else if (g_frame.browser && IsChild(g_frame.browser, focus)) {
        table = nullptr;  // an edit field deep inside the browser keeps its keys
    } else if (g_frame.frame && (focus == g_frame.frame || IsChild(g_frame.frame, focus))) {
        table = g_frame.viewAccel;
    }
    return table && TranslateAcceleratorA(g_frame.frame, table, msg);
}

int runMessageLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (translateFrameMessage(&msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void finishKaleos() {
    if (!g_frame.settingsSaved) saveSettings();
    releaseDisplayTables();
    // The menus that were not attached to the frame when it was destroyed.
    for (HMENU menu : {g_frame.defaultMenu, g_frame.imageMenu, g_frame.browserMenu})
        if (menu && IsMenu(menu)) DestroyMenu(menu);
    g_frame.defaultMenu = g_frame.imageMenu = g_frame.browserMenu = nullptr;
}

int runKaleos(HINSTANCE instance, const char* commandLine, int show) {
    int exitCode = 1;
    if (!startKaleos(instance, commandLine, show, &exitCode)) return exitCode;
    int code = runMessageLoop();
    finishKaleos();
    return code;
}
