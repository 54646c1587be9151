// The viewer's Win32 layer: process-wide state of the frame and the functions
// its windows and dialogs share.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "display.h"
#include "frametables.h"
#include "resource.h"
#include "settings.h"

// Private messages of the frame.
constexpr UINT WM_OPEN_FILE = WM_USER + 1;     // lParam: heap copy of a path; wParam: format or -1
constexpr UINT WM_OPEN_HEXA = WM_USER + 2;     // lParam: heap copy of a path
constexpr UINT WM_APP_CONTEXT = WM_APP + 1;    // re-read the active child: menu and tool bar
// Sent to a child: is this command available now? (nonzero = enabled)
constexpr UINT WM_APP_QUERY_COMMAND = WM_APP + 2;
// Sent to a child: may it close (asking about unsaved changes)? nonzero = yes.
constexpr UINT WM_APP_QUERY_CLOSE = WM_APP + 3;
// Sent to an image window: marks its image changed (wParam 1) or saved (0).
constexpr UINT WM_APP_SET_MODIFIED = WM_APP + 4;

constexpr UINT_PTR CLOCK_TIMER = 500;

extern const char FRAME_CLASS[];  // "VmainClass"
extern const char CHILD_CLASS[];  // "VclientClass"
extern const char BROWSE_CLASS[]; // "VbrowseClass"

struct FrameState {
    HINSTANCE instance;
    bool hasNewShell;
    bool isWin32s;
    bool viewOnly;
    HWND frame;
    HWND client;
    HWND toolBar;
    HWND statusBar;
    HWND browser;             // null while none exists
    HACCEL viewAccel;
    HACCEL browseAccel;
    HMENU defaultMenu;
    HMENU imageMenu;
    HMENU browserMenu;        // loaded by the browser
    ToolbarContext context;
    char title[64];           // "Kaleos v1.12 Fr"
    char settingsPath[PATH_SIZE];
    bool settingsSaved;
    DisplayTables* displayTables;
    int displayBits;          // bits per pixel of the screen
};

extern FrameState g_frame;
extern Settings g_settings;

// ---- Start-up and shutdown (startup.cpp) ----
// Steps of the entry point up to the message loop. Returns false when the
// program must end at once, with *exitCode set (forwarded to a running
// instance, or a fatal failure).
bool startKaleos(HINSTANCE instance, const char* commandLine, int show, int* exitCode);
int runMessageLoop();
// Writes the settings once (also on session end) and releases the tables.
void finishKaleos();
int runKaleos(HINSTANCE instance, const char* commandLine, int show);
// Carries out a command line towards the frame (normal mode) or towards a
// running instance's frame (forwarding mode).
void executeCommandLine(const std::vector<std::string>& tokens, bool forward, HWND target);

// ---- Settings file (settingsfile.cpp) ----
void loadSettings(const char* path);
void saveSettings();
PathKind probePath(const char* path);

// ---- Frame (frame.cpp) ----
bool registerFrameClass();
HWND createFrameWindow();
void updateFrameContext();
bool commandEnabled(int id);
void appendRecentToMenus();
void addRecentFile(const char* path);
void applyAlwaysOnTop();
void openBrowser();            // the browser window comes with its own window class
void runSlideShowFile(const char* path);
bool closeAllChildren();       // false when a child refused to close
HWND activeChild();
void setStatusText(int part, const char* text);

// ---- Image window (imagewnd.cpp) ----
bool registerImageWindowClass();
HWND openImageWindow(const char* path, int formatIndex, const std::vector<std::string>* list);

// ---- Dialogs ----
void showOptionsDialog(HWND owner, int category);
void showInstallDialog(HWND owner);
void showAboutDialog(HWND owner);
void showFormatsDialog(HWND owner);
void showCommandLineHelp(HWND owner);
void centreDialog(HWND dialog);

// ---- Registry and shell integration (install.cpp) ----
bool isAssociated(const char* extension);
bool associateExtension(const char* extension);
bool restoreExtension(const char* extension);
bool registerImageClass();
bool addBrowseWithVerb();
bool removeBrowseWithVerb();
bool hasBrowseWithVerb();
void createShortcuts(int which);
// "\"program path\" \"%1\"": the open command of the file class and of the folder verb.
std::string openCommandText();

// ---- Texts (text.cpp) ----
std::string loadText(UINT id);
// The French message of a failed load or save ("%s" filled with the path).
std::string statusMessage(int status, const char* path, const char* readerMessage);
void showStatusError(HWND owner, int status, const char* path, const char* readerMessage);
// A heap copy of a path for WM_OPEN_FILE / WM_OPEN_HEXA (freed by the handler).
char* heapCopy(const char* text);
// Copies at most size - 1 bytes and terminates.
void copyText(char* dst, size_t size, const char* src);
void heapFree(void* p);
// The Unix path the library opens for a Windows path (empty when none).
std::string libraryPath(const char* windowsPath);
