// The browser's state read back and its commands driven without dialogs,
// for the GUI test.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "browse.h"

using namespace browse;

// ---- For the GUI test ---------------------------------------------------------------------------

bool browserState(BrowserState* s) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (!b) return false;
    s->folder = b->folder;
    s->names.clear();
    s->largeThumb.clear();
    s->smallThumb.clear();
    s->flags.clear();
    s->descriptions.clear();
    for (int i : b->order) {
        const BrowserEntry& e = b->entries[static_cast<size_t>(i)];
        s->names.push_back(e.name);
        s->largeThumb.push_back(e.largeThumb);
        s->smallThumb.push_back(e.smallThumb);
        s->flags.push_back(e.flags);
        s->descriptions.push_back(e.description);
    }
    s->columnTexts.clear();
    if (!b->order.empty())
        for (int bit : shownColumns()) s->columnTexts.push_back(cellText(b->entries[b->order[0]], bit));
    s->viewStyle = GetWindowLongA(b->list, GWL_STYLE) & LVS_TYPEMASK;
    s->selectedCount = static_cast<int>(selectedEntries(b).size());
    s->building = b->building;
    s->handled = b->handled;
    auto rectOf = [b](HWND w) {
        RECT r = {0, 0, 0, 0};
        if (w && IsWindowVisible(w)) {
            GetWindowRect(w, &r);
            MapWindowPoints(nullptr, b->hwnd, reinterpret_cast<POINT*>(&r), 2);
        }
        return r;
    };
    s->tree = rectOf(b->tree);
    s->list = rectOf(b->list);
    s->preview = rectOf(IsWindowVisible(b->previewImage) ? b->previewImage : b->previewDump);
    if (!g_settings.showPreview) s->preview = RECT{0, 0, 0, 0};
    s->previewEntry = b->previewEntry;
    previewDisplay(b, &s->previewWidth, &s->previewHeight, &s->previewZoom);
    s->bubbleText.clear();
    if (b->bubble && IsWindowVisible(b->bubble)) {
        char text[2048];
        int n = GetWindowTextA(b->bubble, text, sizeof text);
        s->bubbleText.assign(text, n > 0 ? static_cast<size_t>(n) : 0);
    }
    return true;
}

void browserSelect(const std::vector<int>& positions) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (!b) return;
    LVITEMA none;
    memset(&none, 0, sizeof none);
    none.stateMask = LVIS_SELECTED;
    SendMessageA(b->list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    for (int p : positions) {
        LVITEMA it;
        memset(&it, 0, sizeof it);
        it.stateMask = it.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(b->list, LVM_SETITEMSTATE, static_cast<WPARAM>(p), reinterpret_cast<LPARAM>(&it));
    }
    updateStatus(b);
}

int browserCopyTo(const std::string& destination, bool move) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (!b) return -1;
    std::vector<std::string> files;
    for (int i : operableEntries(b->entries, selectedEntries(b))) files.push_back(entryPath(b, i));
    int done = copyOrMoveFiles(b->hwnd, files, destination, move);
    fillListKeeping(b, true);
    return done;
}

bool browserRename(int position, const std::string& newName) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (!b || position < 0 || static_cast<size_t>(position) >= b->order.size()) return false;
    return renameEntry(b, b->order[static_cast<size_t>(position)], newName, true);
}

bool browserDescribe(int position, const std::string& text) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (!b || position < 0 || static_cast<size_t>(position) >= b->order.size()) return false;
    int entry = b->order[static_cast<size_t>(position)];
    b->entries[static_cast<size_t>(entry)].description = text;
    b->entries[static_cast<size_t>(entry)].hasDescription = !text.empty();
    bool ok = writeDescription(b, entry, true);
    refreshListItems(b);
    return ok;
}

void browserOpenPosition(int position) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (b) openPosition(b, position);
}

void browserDragOut(int screenX, int screenY) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (!b) return;
    NMLISTVIEW nm;
    memset(&nm, 0, sizeof nm);
    nm.hdr.hwndFrom = b->list;
    nm.hdr.idFrom = IDC_BROWSE_LIST;
    nm.hdr.code = LVN_BEGINDRAG;
    nm.iItem = focusedPosition(b);
    SendMessageA(b->hwnd, WM_NOTIFY, IDC_BROWSE_LIST, reinterpret_cast<LPARAM>(&nm));
    POINT pt = {screenX, screenY};
    ScreenToClient(b->hwnd, &pt);
    SendMessageA(b->hwnd, WM_LBUTTONUP, 0, MAKELPARAM(pt.x, pt.y));
}

void browserHover(int position) {
    Browser* b = g_frame.browser ? browserData(g_frame.browser) : nullptr;
    if (b) hoverAt(b, position >= 0 && static_cast<size_t>(position) < b->order.size() ? b->order[position] : -1);
}
