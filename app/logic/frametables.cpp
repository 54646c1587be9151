// Tool bar, command routing and view-only tables of the frame.
#include "frametables.h"

namespace {

const ToolButton BUTTONS[] = {
    {17, CMD_BROWSE},
    {18, CMD_BROWSER_OPEN},
    {23, CMD_REFRESH},
    {-1, 1000},
    {0, CMD_OPEN},
    {1, CMD_SAVE_AS},
    {-1, 1001},
    {2, CMD_CROP},
    {3, CMD_UNDO},
    {-1, 1002},
    {4, CMD_ZOOM_IN},
    {5, CMD_ZOOM_OUT},
    {-1, 1003},
    {6, CMD_PREV_FILE},
    {7, CMD_NEXT_FILE},
    {8, CMD_PREV_PAGE},
    {9, CMD_NEXT_PAGE},
    {-1, 1004},
    {10, CMD_FULL_SCREEN},
    {11, CMD_PRINT},
    {12, CMD_CONVERT_MULTIPLE},
    {12, CMD_BROWSER_CONVERT},
    {13, CMD_CAPTURE},
    {14, CMD_SLIDE_SHOW},
    {14, CMD_BROWSER_SLIDE_SHOW},
    {24, CMD_WEB_PAGE},
    {-1, 1005},
    {19, CMD_VIEW_ICONS},
    {20, CMD_VIEW_SMALL_ICONS},
    {21, CMD_VIEW_LIST},
    {22, CMD_VIEW_DETAILS},
    {-1, 1005},
    {15, CMD_OPTIONS},
    {16, CMD_ABOUT},
};

const int ALWAYS[] = {CMD_CAPTURE, CMD_OPTIONS, CMD_ABOUT, 1000, 1001};
const int IN_NONE[] = {CMD_BROWSE, CMD_OPEN, CMD_CONVERT_MULTIPLE, CMD_SLIDE_SHOW};
const int IN_IMAGE[] = {CMD_BROWSE, CMD_OPEN, CMD_SAVE_AS, CMD_CROP, CMD_UNDO, CMD_ZOOM_IN, CMD_ZOOM_OUT,
                        CMD_PREV_FILE, CMD_NEXT_FILE, CMD_PREV_PAGE, CMD_NEXT_PAGE, CMD_FULL_SCREEN,
                        CMD_PRINT, CMD_CONVERT_MULTIPLE, CMD_SLIDE_SHOW, 1002, 1003, 1004};
const int IN_BROWSER[] = {CMD_BROWSE, CMD_BROWSER_OPEN, CMD_REFRESH, CMD_VIEW_ICONS, CMD_VIEW_SMALL_ICONS,
                          CMD_VIEW_LIST, CMD_VIEW_DETAILS, CMD_PRINT, CMD_BROWSER_CONVERT,
                          CMD_BROWSER_SLIDE_SHOW, CMD_WEB_PAGE, 1005};

template <size_t N>
bool contains(const int (&list)[N], int id) {
    for (int v : list)
        if (v == id) return true;
    return false;
}

bool inRange(int id, int first, int last) { return id >= first && id <= last; }

}  // namespace

const ToolButton* toolbarButtons(size_t* count) {
    *count = sizeof BUTTONS / sizeof BUTTONS[0];
    return BUTTONS;
}

bool toolbarButtonShown(ToolbarContext context, int command) {
    if (contains(ALWAYS, command)) return true;
    switch (context) {
    case CONTEXT_NONE: return contains(IN_NONE, command);
    case CONTEXT_IMAGE: return contains(IN_IMAGE, command);
    case CONTEXT_BROWSER: return contains(IN_BROWSER, command);
    }
    return false;
}

CommandRoute commandRoute(int id) {
    if (inRange(id, CMD_RECENT_FIRST, CMD_RECENT_LAST)) return ROUTE_RECENT;
    if (inRange(id, 1, 4) || inRange(id, 8, 9) || inRange(id, 12, 18)) return ROUTE_FRAME;
    if (id == CMD_STATUS_BAR || id == CMD_TOOL_BAR || id == CMD_OPTIONS || inRange(id, 185, 193))
        return ROUTE_FRAME;
    if (inRange(id, 5, 7) || id == 10 || id == 11 || inRange(id, 20, 30) || inRange(id, 50, 153) ||
        id == 164 || id == 165 || id == 180 || inRange(id, 200, 256))
        return ROUTE_CHILD;
    return ROUTE_NONE;
}

bool removedInViewOnly(int id) {
    return inRange(id, 1, 10) || inRange(id, 12, 16) || id == CMD_TOOL_BAR || id == CMD_OPTIONS ||
           id == CMD_INSTALL;
}
