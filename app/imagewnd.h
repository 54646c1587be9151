// The image window's own record and the functions that its three parts
// share: the window and its messages (imagewnd.cpp), the menu commands
// (imagecmd.cpp), and the screen copy, palette and painting (imagepaint.cpp).
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "app.h"
#include "kaleocore.h"
#include "viewlayout.h"

namespace imagewnd {

constexpr int LINE_STEP = 16;      // pixels of a scroll-bar arrow or an arrow key
constexpr int HANDLE_SIZE = 4;     // half the side of a selection handle, in pixels

enum DragMode { DRAG_NONE, DRAG_SELECT, DRAG_RESIZE, DRAG_PAN };

struct ImageWindow {
    bool modified = false;
    bool fitToWindow = false;
    char folder[MAX_PATH + 1] = {};    // full paths: at least 260 bytes
    char name[MAX_PATH + 1] = {};
    int formatIndex = -1;
    int currentPage = 0;
    int pageCount = 1;
    bool singlePage = false;            // a page extracted from a multi-page file
    OwnedImage image;
    OwnedImage undoImage;
    // "Vue Auto.": the operation previewed on the image while a dialog is open.
    OwnedImage preview;
    bool showingPreview = false;
    // The screen copy and the displayed size.
    DibBuffer display;
    bool displayValid = false;
    int32_t displayW = 1, displayH = 1;
    HPALETTE palette = nullptr;
    int zoom = 1;
    int32_t offsetX = 0, offsetY = 0;
    int32_t scrollMaxX = 0, scrollMaxY = 0;
    int32_t clientW = 0, clientH = 0;
    bool layingOut = false;
    // Selection in picture coordinates (right and bottom exclusive).
    RECT selection = {};
    bool hasSelection = false;
    DragMode drag = DRAG_NONE;
    int dragHandle = -1;
    POINT dragAnchor = {};              // picture point (select) or client point (pan)
    int32_t dragOffsetX = 0, dragOffsetY = 0;
    bool dragMoved = false;
    // Full screen.
    bool fullScreen = false;
    bool wasMaximized = false;
    HMENU savedMenu = nullptr;
    LONG savedStyle = 0;
    WINDOWPLACEMENT savedFrame = {};
    bool cursorHidden = false;
    std::vector<std::string> fileList;  // the files it was opened with, for stepping
    char formatName[96] = {};
    char description[160] = {};
};

inline ImageWindow* windowData(HWND hwnd) {
    return reinterpret_cast<ImageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}
// The picture on screen: the "Vue Auto." preview while a dialog shows one.
inline const Image& shownImage(const ImageWindow* w) { return w->showingPreview ? w->preview : w->image; }
inline std::string windowPath(const ImageWindow* w) { return std::string(w->folder) + w->name; }
inline void swapImages(Image* a, Image* b) { std::swap(*a, *b); }

// ---- Window (imagewnd.cpp) ----
// Loads one page of a file (Windows path) into *image, which holds no pixels.
Status loadPicture(const char* path, int formatIndex, int page, Image* image, FileInfo* info, Progress* progress);
// The status bar text: format, size and page. A new file or page gives its
// format name; operations keep it.
void describe(ImageWindow* w, const FileInfo* info = nullptr);
void showStatus(HWND hwnd);
void normaliseSelection(ImageWindow* w);
// Creates the MDI child for a loaded picture (takes ownership of w).
HWND createChild(ImageWindow* w, const char* title);

// ---- Painting (imagepaint.cpp) ----
void releasePalette(ImageWindow* w);
// Computes the displayed size and the scroll bars for the client area.
void layout(HWND hwnd, ImageWindow* w);
// The picture changed (operation, undo, page, preview): rebuild everything.
void refreshDisplay(HWND hwnd, ImageWindow* w);
RECT selectionOnScreen(const ImageWindow* w);
void paint(HWND hwnd);
BOOL eraseBackground(HWND hwnd, HDC dc);
// Selects and realises the window's palette in its device context and, when
// colours of the system palette changed, repaints; true in that case.
bool realisePalette(HWND hwnd, const ImageWindow* w);

// ---- Commands (imagecmd.cpp) ----
bool commandAvailable(const ImageWindow* w, int id);
void onCommand(HWND hwnd, ImageWindow* w, int id);
void stepFile(HWND hwnd, ImageWindow* w, NavKind kind);
void leaveFullScreen(HWND hwnd, ImageWindow* w);
// Asks about unsaved changes: false when the user cancels or a wanted save fails.
bool confirmDiscard(HWND hwnd, ImageWindow* w);
int saveAs(HWND hwnd, ImageWindow* w, const char* path, int formatIndex);

}  // namespace imagewnd
