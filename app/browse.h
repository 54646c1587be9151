// The browser "VbrowseClass": its record and the functions its parts share:
// the window, tree, list and commands (browse.cpp), the thumbnails built by a
// worker thread (browsethumb.cpp), the file operations and their dialogs
// (browseops.cpp), the preview pane and the hover window (browsepreview.cpp).
#pragma once
#include <string>
#include <vector>

#include "app.h"
#include "browselogic.h"
#include "descript.h"

namespace browse {

constexpr UINT_PTR THUMB_TIMER = 501;
constexpr UINT_PTR HOVER_TIMER = 502;
constexpr UINT_PTR PREVIEW_TIMER = 503;
// Posted by the thumbnail worker: wParam the generation, lParam a ThumbResult*.
constexpr UINT WM_APP_THUMB = WM_APP + 0x1A0;

struct ThumbWorker;

struct Browser {
    HWND hwnd = nullptr, tree = nullptr, list = nullptr;
    HWND previewImage = nullptr, previewDump = nullptr;  // "VprevBmpClass", "VprevDumpClass"
    std::string folder;                  // ends with "\"
    std::vector<BrowserEntry> entries;
    std::vector<int> order;              // list position → entry
    HIMAGELIST largeImages = nullptr, smallImages = nullptr, treeImages = nullptr;
    HMENU popupNone = nullptr, popupSelection = nullptr;
    HBITMAP layoutBitmaps[5] = {};
    HCURSOR splitH = nullptr, splitV = nullptr;
    BrowserLayout layout;
    int dragSplitter = -1;
    std::vector<std::string> treePaths;  // lParam of a tree item → its folder
    bool fillingTree = false;            // selection changes made by the program
    // Thumbnails.
    ThumbWorker* worker = nullptr;
    int generation = 0;
    bool building = false;
    int handled = 0;                     // entries handled in this building
    // Preview and hover.
    int previewEntry = -1;
    int hoverEntry = -1;
    HWND bubble = nullptr;
    // Drag of entries out of the list.
    bool draggingOut = false;
};

inline Browser* browserData(HWND hwnd) { return reinterpret_cast<Browser*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }
std::string entryPath(const Browser* b, int entry);

// ---- browse.cpp ----
// Reads the folder again into the list and starts the thumbnails.
void fillList(Browser* b);
void setFolder(Browser* b, const std::string& folder);
// Entries (indexes) of the selected list positions, in list order.
std::vector<int> selectedEntries(const Browser* b);
void updateStatus(Browser* b);
void refreshListItems(Browser* b);

std::vector<int> shownColumns();
void insertColumns(Browser* b);
void applyListStyle(Browser* b);
void applyLayout(Browser* b);
// Sorts the list again, keeping the selected entries selected.
void resort(Browser* b);
int focusedPosition(const Browser* b);

// ---- browsecmd.cpp ----
bool commandAvailable(const Browser* b, int id);
void onCommand(Browser* b, int id);
void onInitMenu(Browser* b, HMENU menu);
void openSelection(Browser* b, bool eachInOwnWindow);
std::string cellText(const BrowserEntry& e, int bit);
// Reads the folder again; with keep, files that look unchanged keep what
// was read of them.
void fillListKeeping(Browser* b, bool keep);
void openPosition(Browser* b, int position);

// ---- browsetree.cpp ----
void fillDrives(Browser* b);
void expandTreeItem(Browser* b, HTREEITEM item);
std::string treePathOf(const Browser* b, HTREEITEM item);
// Opens the tree down to the folder and selects its item.
void showFolderInTree(Browser* b, const std::string& folder);

// ---- browsethumb.cpp ----
void createImageLists(Browser* b);
void destroyImageLists(Browser* b);
// Starts building thumbnails for the current entries (a new generation:
// whatever was pending is dropped).
void startThumbnails(Browser* b);
void stopThumbnails(Browser* b);
void onThumbResult(Browser* b, WPARAM generation, LPARAM result);
void onThumbTimer(Browser* b);
void shutdownWorker(Browser* b);
int imageIndexOf(const Browser* b, const BrowserEntry& e);

// ---- browseops.cpp ----
void copyOrMove(Browser* b, bool move);
// The copy/move loop of files (full paths) into a folder; returns the
// number of files done.
int copyOrMoveFiles(HWND owner, const std::vector<std::string>& sources, const std::string& destination, bool move);
void deleteSelection(Browser* b, bool ask);
void renameSequence(Browser* b);
void describeSelection(Browser* b);
// Rewrites descript.ion for one entry's description. False (and a message)
// when it cannot be written.
bool writeDescription(Browser* b, int entry, bool report);
void showProperties(Browser* b);
void copyNames(Browser* b);
void writeListing(Browser* b);
void newFolder(Browser* b);
// Printing, wallpaper, slide show and web page of the selection (browsetools.cpp).
void runSelectionTool(Browser* b, int id);
bool renameEntry(Browser* b, int entry, const std::string& newName, bool report);
void readDescriptions(Browser* b);
// Rebuilds the list after the folder changed on disk, keeping what is known.
void refreshAfterChange(Browser* b);

// ---- browsepreview.cpp ----
bool registerPreviewClasses();
void createPreviewPanes(Browser* b);
void showPreviewOf(Browser* b, int entry);
void placePreview(Browser* b, const PaneRect& r);
// The zoom commands (143-153) on the previewed picture.
bool previewHasPicture(const Browser* b);
void zoomPreview(Browser* b, int id);
// The displayed size of the previewed picture and its zoom (zeros without one).
void previewDisplay(const Browser* b, int* width, int* height, int* zoom);
void hoverAt(Browser* b, int entry);
void hideBubble(Browser* b);
void onHoverTimer(Browser* b);

}  // namespace browse

// ---- For the frame and the GUI test --------------------------------------------------
// The browser's state, read back (false when there is no browser).
struct BrowserState {
    std::string folder;
    std::vector<std::string> names;   // in list order
    std::vector<int> largeThumb, smallThumb;  // image list index per list position, -1 when none
    std::vector<uint8_t> flags;
    std::vector<std::string> descriptions;
    std::vector<std::string> columnTexts;  // of the first row, in column order (details view)
    int viewStyle;                    // LVS_ICON, LVS_REPORT, LVS_LIST...
    int selectedCount;
    bool building;
    int handled;
    RECT tree, list, preview;         // in the browser's client area; empty when hidden
    int previewEntry;
    std::string bubbleText;           // the hover window's text while it shows
    int previewWidth, previewHeight, previewZoom;  // the previewed picture as displayed
};
bool browserState(BrowserState* state);
// Selects exactly the list positions given.
void browserSelect(const std::vector<int>& positions);
// Copies or moves the selection into a folder without the folder picker.
int browserCopyTo(const std::string& destination, bool move);
bool browserRename(int position, const std::string& newName);
bool browserDescribe(int position, const std::string& text);
void browserOpenPosition(int position);
// A drag of the selection out of the list, released at a point of the screen.
void browserDragOut(int screenX, int screenY);
// The pointer moving over a list position (-1: off the entries).
void browserHover(int position);
