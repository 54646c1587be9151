// GUI test helpers of the image window (no Win32 types: the GoogleTest cases
// that include this are compiled as plain Linux C++).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace gui {

struct ImageState {
    bool ok = false;  // the active child is an image window
    int zoom = 0;
    bool fit = false, fullScreen = false, modified = false, hasUndo = false, hasSelection = false;
    int displayW = 0, displayH = 0, bufferW = 0, bufferH = 0, offsetX = 0, offsetY = 0;
    int clientW = 0, clientH = 0;
    int page = 0, pageCount = 0, format = -1;
    int imageW = 0, imageH = 0;
    std::string path, title;
};

ImageState activeImage();
std::string activeChildClass();
std::string activeChildTitle();
// The active image window's picture as R, G, B bytes (empty when none).
std::vector<uint8_t> activePixels();
// Its undo image as R, G, B bytes (empty when none).
std::vector<uint8_t> activeUndoPixels();
// "Sauver S&ous..." without the file dialog; returns 0 when saved.
int saveActiveAs(const std::string& path, const std::string& formatShortName);
// Loads a file with the library and returns its pixels as R, G, B.
std::vector<uint8_t> filePixels(const std::string& path, int* width = nullptr, int* height = nullptr);
// A grey TIFF of `pages` pages, page p filled with the value 40 + 60 p.
bool writeGreyTiff(const std::string& path, int pages, int width, int height);
// Entries of a folder in the order the system lists them ("." and ".." left out).
std::vector<std::string> folderEntries(const std::string& folder);
void selectActive(int left, int top, int right, int bottom);
// Resizes the active child's window (outer size).
void resizeActive(int width, int height);
void restoreActive();
// Sends a key press to the active child.
void keyToActive(int virtualKey);
// A click (button 0 left, 1 right) at a client point of the active child.
void clickActive(int button, int x, int y);
// A left-button drag between two client points of the active child.
void dragActive(int x0, int y0, int x1, int y1);
// The colour shown at a client point of the active child, as 0xRRGGBB.
uint32_t shownColour(int x, int y);

}  // namespace gui

namespace gui {
// Opens a file while the library counts as busy (a load pumping messages):
// returns the number of children right after the request, before the
// queue is served.
int openWhileBusy(const std::string& path);
}  // namespace gui

namespace gui {
// Moves a dialog's horizontal scroll-bar control to a position as a drag of
// its thumb would.
void setScrollPosition(void* dialog, int id, int position);
// The picture the active image window shows now (its preview while a
// dialog's "Vue Auto." is on), as R, G, B.
std::vector<uint8_t> activeShownPixels();
}  // namespace gui

namespace gui {
// In a file dialog: types a name in the file name field and presses OK.
void typeFileNameAndAccept(void* dialog, const std::string& name);
// Whether a dialog holds a control with this id (the file dialog's own part included).
bool dialogHasItem(void* dialog, int id);
}  // namespace gui

namespace gui {
// A string of the program's resources (as the ANSI functions return it).
std::string resourceString(int id);
}  // namespace gui
