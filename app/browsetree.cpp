// The browser's folder tree: one item per drive, sub-folders listed when an
// item opens for the first time, and the way down to the current folder.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "browse.h"

namespace browse {

namespace {

constexpr int TREE_ICON_FOLDER = 4;
constexpr int TREE_ICON_OPEN = 5;

}  // namespace

// ---- Folder tree ----------------------------------------------------------------------------

HTREEITEM addTreeItem(Browser* b, HTREEITEM parent, const std::string& path, const std::string& text, int image,
                      int selectedImage) {
    b->treePaths.push_back(path);
    TVINSERTSTRUCTA ins;
    memset(&ins, 0, sizeof ins);
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    ins.item.pszText = const_cast<char*>(text.c_str());
    ins.item.lParam = static_cast<LPARAM>(b->treePaths.size() - 1);
    ins.item.cChildren = 1;
    ins.item.iImage = image;
    ins.item.iSelectedImage = selectedImage;
    return reinterpret_cast<HTREEITEM>(SendMessageA(b->tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
}

std::string treePathOf(const Browser* b, HTREEITEM item) {
    TVITEMA it;
    memset(&it, 0, sizeof it);
    it.mask = TVIF_PARAM;
    it.hItem = item;
    if (!SendMessageA(b->tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&it))) return std::string();
    size_t i = static_cast<size_t>(it.lParam);
    return i < b->treePaths.size() ? b->treePaths[i] : std::string();
}

void fillDrives(Browser* b) {
    DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) continue;
        char root[8];
        snprintf(root, sizeof root, "%c:\\", 'A' + i);
        char label[MAX_PATH + 1] = "";
        UINT type = GetDriveTypeA(root);
        std::string text = root;
        if (type != DRIVE_REMOVABLE && GetVolumeInformationA(root, label, sizeof label, nullptr, nullptr, nullptr,
                                                             nullptr, 0) && label[0]) {
            char shown[MAX_PATH + 16];
            snprintf(shown, sizeof shown, "%c: [%s]", 'A' + i, label);
            text = shown;
        }
        int image = type == DRIVE_REMOVABLE ? 1 : type == DRIVE_CDROM ? 2 : type == DRIVE_REMOTE ? 3 : 0;
        addTreeItem(b, TVI_ROOT, root, text, image, image);
    }
}

// The sub-folders of an item, listed when it opens for the first time.
void expandTreeItem(Browser* b, HTREEITEM item) {
    if (SendMessageA(b->tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))) return;
    std::string path = treePathOf(b, item);
    if (path.empty()) return;
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "*.*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
            if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, "..")) continue;
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) && !g_settings.showHiddenFile) continue;
            names.push_back(fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    std::sort(names.begin(), names.end(), [](const std::string& x, const std::string& y) {
        return lstrcmpiA(x.c_str(), y.c_str()) < 0;
    });
    for (const std::string& n : names) addTreeItem(b, item, path + n + "\\", n, TREE_ICON_FOLDER, TREE_ICON_OPEN);
    if (names.empty()) {
        TVITEMA it;
        memset(&it, 0, sizeof it);
        it.mask = TVIF_CHILDREN;
        it.hItem = item;
        it.cChildren = 0;
        SendMessageA(b->tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&it));
    }
}

// Opens the tree down to the folder and selects its item.
void showFolderInTree(Browser* b, const std::string& folder) {
    HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageA(b->tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    HTREEITEM found = nullptr;
    while (item) {
        std::string path = treePathOf(b, item);
        if (path.size() <= folder.size() && lstrcmpiA(path.c_str(), folder.substr(0, path.size()).c_str()) == 0) {
            found = item;
            if (path.size() == folder.size()) break;
            expandTreeItem(b, item);
            SendMessageA(b->tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
            item = reinterpret_cast<HTREEITEM>(SendMessageA(b->tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                            reinterpret_cast<LPARAM>(item)));
            continue;
        }
        item = reinterpret_cast<HTREEITEM>(SendMessageA(b->tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                        reinterpret_cast<LPARAM>(item)));
    }
    if (!found) return;
    b->fillingTree = true;
    SendMessageA(b->tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found));
    SendMessageA(b->tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(found));
    b->fillingTree = false;
}

}  // namespace browse
