// The viewer's Win32 layer: process-wide state of the frame and the functions
// its windows and dialogs share.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>

#include <string>
#include <vector>

#include "display.h"
#include "image.h"
#include "kaleocore.h"
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
// Posted to the frame when the library is free again: opens the files that
// arrived while a load or save was pumping messages.
constexpr UINT WM_APP_OPEN_PENDING = WM_APP + 5;

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
    HIMAGELIST greyedToolImages;  // the tool bar's disabled images, released with the frame
    DisplayTables* displayTables;
    int displayBits;          // bits per pixel of the screen
};

extern FrameState g_frame;
extern Settings g_settings;

// The load options the reading settings give: damaged files accepted, the
// Photo CD resolution, the GROB depth and the raw geometry (settingsfile.cpp).
IoOptions settingsLoadOptions(int formatIndex, int page);

// ---- Start-up and shutdown (startup.cpp) ----
// Steps of the entry point up to the message loop. Returns false when the
// program must end at once, with *exitCode set (forwarded to a running
// instance, or a fatal failure).
bool startKaleos(HINSTANCE instance, const char* commandLine, int show, int* exitCode);
int runMessageLoop();
// The frame's part of each message of the loop: the multiple-document and
// accelerator keys. True when the message was handled so.
bool translateFrameMessage(MSG* msg);
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

// ---- Tool bar images (toolimages.cpp) ----
// Greyed copies of the glyphs of a tool bar bitmap resource, the button face
// transparent; null when the bitmap cannot be read.
HIMAGELIST createGreyedToolImages(int bitmapId, int imageWidth, int imageHeight);

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

// What an image window holds, for the frame and the GUI test.
struct ImageWindowState {
    const Image* image;
    const Image* undoImage;      // null when there is none
    const Image* shown;          // the picture on screen: a preview of "Vue Auto." or the image
    bool modified, fitToWindow, fullScreen, hasSelection;
    int zoom;
    int32_t displayWidth, displayHeight;  // the displayed picture
    int32_t bufferWidth, bufferHeight;    // the screen copy (what the window shows)
    int32_t offsetX, offsetY;
    int currentPage, pageCount, formatIndex;
    std::string path;
    RECT selection;
};
// False when hwnd is not an image window.
bool imageWindowState(HWND hwnd, ImageWindowState* state);
// "Sauver S&ous..." without the file dialog. Returns 0 when saved.
int imageWindowSaveAs(HWND hwnd, const char* path, int formatIndex);
// Sets the rubber-band selection (picture coordinates).
void imageWindowSelect(HWND hwnd, const RECT& selection);

// ---- Progress window and busy state (progress.cpp) ----
struct Progress;
// Opens "KaleoProgress" over owner (disabled meanwhile) with the title and
// text; "Annuler" is hidden unless allowStop. Null when it cannot be created.
Progress* openProgress(HWND owner, const char* title, const char* text, bool allowStop);
void progressSetText(Progress* p, const char* text);
void progressSetTotal(Progress* p, int total);
void progressStep(Progress* p);
// Dispatches every pending message; returns the stop flag and clears it.
bool progressPump(Progress* p);
void closeProgress(Progress* p);
// The library's progress callback; datum is the Progress. Nonzero stops.
int progressCallback(int32_t row, int32_t total, void* datum);
// While a load or save runs it may pump messages: nothing else may enter the
// library then. Timers skip their tick and open requests wait in a queue.
struct BusyScope {
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};
bool libraryBusy();
void queueOpenRequest(const char* path, int formatIndex);
void openPendingRequests();

// ---- Save pipeline (saveconv.cpp) ----
constexpr int SAVE_CANCELLED = 255;
// Saves image to path in the format: chooses the write variant, asks for a
// conversion when none accepts the image (interactive saves always ask,
// batch saves reuse the code chosen earlier in the run), resizes to a fixed
// size, shows the progress window with `progress`, reports failures. With
// setExtension the path's extension becomes the format's and `path` (of
// FILE_NAME_LEN bytes) receives the final name. Returns 0 on success,
// SAVE_CANCELLED, or the library status.
int saveConverted(HWND owner, char* path, int formatIndex, const Image* image, bool setExtension, bool batch,
                  bool progress);
// Forgets the conversion code chosen earlier (at every interactive save).
void resetRememberedConversion();
// The conversion code chosen earlier in this run of the program (0: none), and choosing one.
int rememberedConversion();
void rememberConversion(int code);
// The groups of "KaleoConv" (ConversionGroups) that a format can write.
unsigned conversionGroupsOf(int formatIndex);

// ---- Hexadecimal dump window (dumpwnd.cpp) ----
// Opens a "VdumpClass" child showing the file as hexadecimal lines; null when
// the file cannot be read (nothing is shown then).
// The open dialog (explorer style) with its "Informations sur l'image"
// panel and "Preview" check box (opendlg.cpp).
BOOL runOpenDialog(OPENFILENAMEA* ofn);
HWND openDumpWindow(const char* path);
// A key the dump window (the message's target) handles itself, ahead of
// the accelerators.
bool dumpWindowTakesKey(const MSG& msg);
extern const char DUMP_CLASS[];  // "VdumpClass"
// Sent to a dump window, to read back what it shows. WM_APP_DUMP_STATE:
// wParam 0 the first visible line, 1 the whole lines of a page, 2 the line
// count. WM_APP_DUMP_ROW: wParam a visible row (0 at the top), lParam a
// char[HEX_LINE_MAX + 1] receiving that row's text; returns its length (0 when
// no line shows there).
constexpr UINT WM_APP_DUMP_STATE = WM_APP + 0x190;
constexpr UINT WM_APP_DUMP_ROW = WM_APP + 0x191;

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

// ---- Slide show (slideshow.cpp, slidedlg.cpp) ----
struct SlideList;
// The dialog "KaleoSlideShow" with a first list of files (may be empty).
void runSlideShowDialog(HWND owner, const std::vector<std::string>& initial);
// Starts a show of the list (its own window); null when nothing started.
HWND startSlideShow(const SlideList& list);
// Reads a ".sld" (a message when it cannot be opened); false without its header.
bool readSlideFile(HWND owner, const char* path, SlideList* list);
bool writeSlideFile(HWND owner, const char* path, const SlideList& list);
// The show started last while its window lives, and what it shows.
HWND slideShowWindow();
struct SlideShowState {
    int shown;          // index of the file whose image is shown, -1 before the first
    int loads;          // files loaded so far (successfully or not)
    int32_t imageWidth, imageHeight;
    bool timerRunning, cursorHidden;
};
bool slideShowState(SlideShowState* state);

// ---- Clipboard, capture, wallpaper (tools.cpp) ----
// An image window for a picture without a file; takes the pixels of *image.
HWND openImageWindowFromImage(Image* image, const char* name, const char* title);
bool clipboardHasBitmap();
// "Importation Clipboard": the window created, or null.
HWND importClipboard();
void runCaptureDialog(HWND owner);
// mode: IDC_CAPTURE_DESKTOP, IDC_CAPTURE_WINDOW or IDC_CAPTURE_CLIENT.
HWND captureScreen(int mode, HWND window);
// command: CMD_WALLPAPER_CENTRE, CMD_WALLPAPER_TILE (image needed) or CMD_WALLPAPER_PREVIOUS.
bool setWallpaper(HWND owner, const Image* image, int command);

// ---- Printing (print.cpp) ----
// "Imprimer...": the options dialog, the system's print dialog, one page.
void printPicture(HWND owner, const Image& image, const char* fileName);
// One page on a printer's device context with the stored options; output
// names a file to print to (null: the printer's own port).
bool printPictureOn(HWND owner, HDC dc, const Image& image, const char* fileName, const char* output);

// ---- HTML thumbnail page (htmlmake.cpp) ----
struct BrowserEntry;
void runThumbnailPageDialog(HWND owner, const std::string& folder, const std::vector<BrowserEntry>& selected);
bool makeThumbnailPage(HWND owner, const std::string& title, const std::string& sourceFolder,
                       const std::vector<BrowserEntry>& selected);
