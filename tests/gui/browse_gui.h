// Helpers of the browser's GUI test (browse_win.cpp). Like gui.h, this header
// names no Win32 type.
#pragma once
#include <string>
#include <vector>

namespace browsegui {

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
};

struct State {
    bool exists = false;
    std::string folder, title;
    std::vector<std::string> names;       // in list order
    std::vector<int> largeThumb, smallThumb;
    std::vector<int> flags;
    std::vector<std::string> descriptions;
    std::vector<std::string> firstRow;    // cell texts of the first row
    std::string viewStyle;                // "icon", "report", "list", "small"
    int selected = 0;
    bool building = false;
    Box tree, list, preview;
    int previewEntry = -1;
    std::string bubble;                   // the hover window's text while it shows
    int previewWidth = 0, previewHeight = 0, previewZoom = 0;
};

State state();
// Pumps until the thumbnails are built (or the time is up); true when done.
bool waitForThumbnails(int milliseconds);
void select(const std::vector<int>& positions);
int positionOf(const std::string& name);   // -1 when not listed
int copyTo(const std::string& folder, bool move);
bool rename(int position, const std::string& name);
bool describe(int position, const std::string& text);
void open(int position);
std::string readFile(const std::string& path);
long long fileSize(const std::string& path);
bool setHidden(const std::string& path);
// The browser's column headings (report views).
std::vector<std::string> headings();
std::string statusText();
// Files dropped on the browser from a file manager.
void dropOnBrowser(const std::vector<std::string>& paths);
// The selection dragged out of the list and released over the frame's tool bar.
void dragOutToToolBar();
void hover(int position);
// Links `count` names "pNNN.bmp" in the folder to one file (hard links).
bool linkCopies(const std::string& file, const std::string& folder, int count);
bool makeFolder(const std::string& path);
// Opens the current folder's item in the tree and selects its child named so.
bool selectInTree(const std::string& name);
std::string treeSelectionText();
bool isReadOnly(const std::string& path);
bool isHidden(const std::string& path);
bool itemEnabled(void* dialog, int id);
// The Windows path of a Unix path (empty when none).
std::string windowsPathOf(const std::string& unixPath);
void setItemText(void* dialog, int id, const std::string& text);

}  // namespace browsegui
