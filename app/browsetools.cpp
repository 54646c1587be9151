// The browser's selection handed to the tools of other windows: printing and
// the wallpaper (one file, loaded first), the slide show and the web page.
#include "browse.h"
#include "imagewnd.h"

namespace browse {

void runSelectionTool(Browser* b, int id) {
    std::vector<int> files = operableEntries(b->entries, selectedEntries(b));
    switch (id) {
    case CMD_BROWSER_SLIDE_SHOW: {
        std::vector<std::string> paths;
        for (int i : files) paths.push_back(entryPath(b, i));
        runSlideShowDialog(g_frame.frame, paths);
        return;
    }
    case CMD_WEB_PAGE: {
        std::vector<BrowserEntry> entries;
        for (int i : files) entries.push_back(b->entries[static_cast<size_t>(i)]);
        if (!entries.empty()) runThumbnailPageDialog(g_frame.frame, b->folder, entries);
        return;
    }
    case CMD_WALLPAPER_PREVIOUS: setWallpaper(g_frame.frame, nullptr, id); return;
    default: break;
    }
    // Printing and the wallpaper take the single selected file.
    if (files.size() != 1) return;
    const BrowserEntry& e = b->entries[static_cast<size_t>(files[0])];
    std::string path = entryPath(b, files[0]);
    OwnedImage image;
    FileInfo info;
    Status st = imagewnd::loadPicture(path.c_str(), -1, 0, &image, &info, nullptr);
    if (st != ST_OK) {
        if (st != ST_STOPPED) showStatusError(g_frame.frame, st, path.c_str(), info.message);
        return;
    }
    if (id == CMD_PRINT) printPicture(g_frame.frame, image, e.name.c_str());
    else setWallpaper(g_frame.frame, &image, id);
}

}  // namespace browse
