// The commands of "BrowserMenu" in the browser: which are available, what
// they do, and their check marks.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "batch.h"
#include "browse.h"

namespace browse {

// ---- Commands ---------------------------------------------------------------------------------

void openSelection(Browser* b, bool eachInOwnWindow) {
    std::vector<int> files = operableEntries(b->entries, selectedEntries(b));
    if (files.empty()) {
        std::vector<int> sel = selectedEntries(b);
        if (sel.size() == 1) {
            for (size_t p = 0; p < b->order.size(); ++p)
                if (b->order[p] == sel[0]) openPosition(b, static_cast<int>(p));
        }
        return;
    }
    if (files.size() == 1) {
        for (size_t p = 0; p < b->order.size(); ++p)
            if (b->order[p] == files[0]) openPosition(b, static_cast<int>(p));
        return;
    }
    std::vector<std::string> paths;
    for (int i : files) paths.push_back(entryPath(b, i));
    if (eachInOwnWindow) {
        for (const std::string& p : paths) openImageWindow(p.c_str(), -1, nullptr);
    } else {
        openImageWindow(paths[0].c_str(), -1, &paths);
    }
}

void selectAll(Browser* b) {
    for (size_t p = 0; p < b->order.size(); ++p) {
        LVITEMA it;
        memset(&it, 0, sizeof it);
        it.stateMask = LVIS_SELECTED;
        it.state = selectedByAll(b->entries[static_cast<size_t>(b->order[p])]) ? LVIS_SELECTED : 0;
        SendMessageA(b->list, LVM_SETITEMSTATE, p, reinterpret_cast<LPARAM>(&it));
    }
    updateStatus(b);
}

void setView(Browser* b, int viewAs) {
    g_settings.viewAs = viewAs;
    applyListStyle(b);
    fillListKeeping(b, true);
}

void setThumbSize(Browser* b, int index) {
    const ThumbSize& s = thumbSizes()[index];
    g_settings.iconWidth = s.width;
    g_settings.iconHeight = s.height;
    destroyImageLists(b);
    createImageLists(b);
    for (BrowserEntry& e : b->entries) e.largeThumb = e.smallThumb = -1;
    fillListKeeping(b, true);
}

constexpr int COLUMN_OF_COMMAND[5] = {COLUMN_SIZE, COLUMN_PROPERTIES, COLUMN_TYPE, COLUMN_DATE, COLUMN_DESCRIPTION};
constexpr int ARRANGE_OF_COMMAND[5] = {ARRANGE_NAME, ARRANGE_EXTENSION, ARRANGE_DATE, ARRANGE_TYPE, ARRANGE_SIZE};

uint8_t* toggleOf(int id) {
    switch (id) {
    case CMD_SHOW_DIR_LIST: return &g_settings.showDirList;
    case CMD_SHOW_DIRS: return &g_settings.showDirInBrowser;
    case CMD_SHOW_PARENT_DIR: return &g_settings.showParentDir;
    case CMD_HIDE_NON_IMAGES: return &g_settings.hideNonImageFile;
    case CMD_SHOW_HIDDEN: return &g_settings.showHiddenFile;
    case CMD_SHOW_PREVIEW: return &g_settings.showPreview;
    case CMD_FIT_PREVIEW: return &g_settings.fitPreviewWindow;
    case CMD_SHOW_CONTENT: return &g_settings.showContent;
    case CMD_SHOW_IN_ASCII: return &g_settings.showInAscii;
    }
    return nullptr;
}

bool commandAvailable(const Browser* b, int id) {
    std::vector<int> selected = selectedEntries(b);
    std::vector<int> files = operableEntries(b->entries, selected);
    switch (id) {
    case CMD_BROWSER_OPEN:
    case CMD_BROWSER_OPEN_ALL: return !selected.empty();
    case CMD_BROWSER_HEX:
    case CMD_DESCRIBE: return files.size() == 1;
    case CMD_BROWSER_PROPERTIES: return selected.size() == 1 && !isParentEntry(b->entries[selected[0]]);
    case CMD_COPY_NAMES:
    case CMD_FILE_LISTING:
    case CMD_COPY_TO:
    case CMD_MOVE_TO:
    case CMD_RENAME_SEQUENCE:
    case CMD_DELETE:
    case CMD_BROWSER_CONVERT: return !files.empty();
    case CMD_PRINT:
    case CMD_WALLPAPER_CENTRE:
    case CMD_WALLPAPER_TILE: return files.size() == 1;
    case CMD_WALLPAPER_PREVIOUS: return true;
    case CMD_BROWSER_SLIDE_SHOW:
    case CMD_WEB_PAGE: return !files.empty();
    case CMD_STOP_THUMBNAILS: return b->building;
    }
    if (id >= CMD_ZOOM_IN && id <= CMD_ZOOM_LAST) return previewHasPicture(b);
    if (id >= 200 && id <= 256) return true;
    return false;
}

void onCommand(Browser* b, int id) {
    if (!commandAvailable(b, id)) return;
    if (id >= CMD_ZOOM_IN && id <= CMD_ZOOM_LAST) {
        zoomPreview(b, id);
        return;
    }
    if (uint8_t* flag = toggleOf(id)) {
        *flag = !*flag;
        switch (id) {
        case CMD_SHOW_DIR_LIST:
        case CMD_SHOW_PREVIEW: applyLayout(b); break;
        case CMD_FIT_PREVIEW:
        case CMD_SHOW_CONTENT:
        case CMD_SHOW_IN_ASCII: {
            int entry = b->previewEntry;
            b->previewEntry = -1;
            showPreviewOf(b, entry);
            break;
        }
        case CMD_SHOW_HIDDEN:
            TreeView_DeleteAllItems(b->tree);
            b->treePaths.clear();
            fillDrives(b);
            showFolderInTree(b, b->folder);
            fillListKeeping(b, true);
            break;
        default: fillListKeeping(b, true); break;
        }
        return;
    }
    if (id >= CMD_VIEW_ICONS && id <= CMD_VIEW_DETAILS) {
        setView(b, id - CMD_VIEW_ICONS);
    } else if (id >= CMD_ARRANGE_FIRST && id < CMD_ARRANGE_NORMAL) {
        g_settings.arrangeBy = ARRANGE_OF_COMMAND[id - CMD_ARRANGE_FIRST] | (g_settings.arrangeBy & ARRANGE_REVERSE);
        resort(b);
    } else if (id == CMD_ARRANGE_NORMAL || id == CMD_ARRANGE_REVERSE) {
        g_settings.arrangeBy = (g_settings.arrangeBy & 0x7F) | (id == CMD_ARRANGE_REVERSE ? ARRANGE_REVERSE : 0);
        resort(b);
    } else if (id >= CMD_COLUMN_FIRST && id <= CMD_COLUMN_LAST) {
        g_settings.viewColumn ^= COLUMN_OF_COMMAND[id - CMD_COLUMN_FIRST];
        insertColumns(b);
        refreshListItems(b);
    } else if (id >= CMD_THUMB_SIZE_FIRST && id <= CMD_THUMB_SIZE_LAST) {
        setThumbSize(b, id - CMD_THUMB_SIZE_FIRST);
    } else if (id >= CMD_LAYOUT_FIRST && id <= CMD_LAYOUT_LAST) {
        g_settings.layout = id - CMD_LAYOUT_FIRST + 1;
        applyLayout(b);
    } else {
        switch (id) {
        case CMD_SELECT_ALL: selectAll(b); break;
        case CMD_BROWSER_OPEN: openSelection(b, false); break;
        case CMD_BROWSER_OPEN_ALL: openSelection(b, true); break;
        case CMD_BROWSER_HEX: {
            std::vector<int> files = operableEntries(b->entries, selectedEntries(b));
            if (!files.empty()) openDumpWindow(entryPath(b, files[0]).c_str());
            break;
        }
        case CMD_BROWSER_PROPERTIES: showProperties(b); break;
        case CMD_DESCRIBE: describeSelection(b); break;
        case CMD_COPY_NAMES: copyNames(b); break;
        case CMD_FILE_LISTING: writeListing(b); break;
        case CMD_COPY_TO: copyOrMove(b, false); break;
        case CMD_MOVE_TO: copyOrMove(b, true); break;
        case CMD_RENAME_SEQUENCE: renameSequence(b); break;
        case CMD_DELETE: deleteSelection(b, true); break;
        case CMD_BROWSER_CONVERT: {
            std::vector<std::string> paths;
            for (int i : operableEntries(b->entries, selectedEntries(b))) paths.push_back(entryPath(b, i));
            showMultipleConversion(g_frame.frame, paths);
            break;
        }
        case CMD_QUICK_REFRESH: fillListKeeping(b, true); break;
        case CMD_REFRESH:
            destroyImageLists(b);
            createImageLists(b);
            fillListKeeping(b, false);
            break;
        case CMD_STOP_THUMBNAILS: stopThumbnails(b); break;
        case CMD_NEW_FOLDER: newFolder(b); break;
        case CMD_PRINT:
        case CMD_WALLPAPER_CENTRE:
        case CMD_WALLPAPER_TILE:
        case CMD_WALLPAPER_PREVIOUS:
        case CMD_BROWSER_SLIDE_SHOW:
        case CMD_WEB_PAGE: runSelectionTool(b, id); break;
        }
    }
}

void onInitMenu(Browser*, HMENU menu) {
    auto check = [menu](int id, bool on) {
        CheckMenuItem(menu, static_cast<UINT>(id), MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    };
    for (int v = 0; v < 4; ++v) check(CMD_VIEW_ICONS + v, g_settings.viewAs == v);
    for (int i = 0; i < 5; ++i) check(CMD_ARRANGE_FIRST + i, (g_settings.arrangeBy & 0x7F) == ARRANGE_OF_COMMAND[i]);
    check(CMD_ARRANGE_NORMAL, !(g_settings.arrangeBy & ARRANGE_REVERSE));
    check(CMD_ARRANGE_REVERSE, (g_settings.arrangeBy & ARRANGE_REVERSE) != 0);
    for (int i = 0; i < 5; ++i) check(CMD_COLUMN_FIRST + i, (g_settings.viewColumn & COLUMN_OF_COMMAND[i]) != 0);
    for (int id = CMD_SHOW_DIR_LIST; id <= CMD_SHOW_IN_ASCII; ++id) check(id, *toggleOf(id) != 0);
    int size = thumbSizeIndex(g_settings.iconWidth, g_settings.iconHeight);
    for (int i = 0; i < THUMB_SIZE_COUNT; ++i) check(CMD_THUMB_SIZE_FIRST + i, i == size);
    for (int i = 0; i < 5; ++i) check(CMD_LAYOUT_FIRST + i, g_settings.layout == i + 1);
}

}  // namespace browse
