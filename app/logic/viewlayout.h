// The geometry of an image window: zoom steps, displayed sizes, fitting,
// scroll layout and the part of the picture that the window shows (its
// screen copy is built by display.h); and the choice of the next file or
// page when the user steps through a folder or a document.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "display.h"
#include "image.h"

// ---- Zoom ----
// zoom >= 1 magnifies, zoom <= -1 reduces (-1 shows 1:1 like 1).
constexpr int ZOOM_MAX = 16;
int zoomIn(int zoom);   // "Zoom +"
int zoomOut(int zoom);  // "Zoom -"
// The zoom of the commands "16:1" ... "1:16" (145-153), or 0 for any other id.
int zoomPreset(int commandId);
// Displayed size of a w x h picture at the zoom, at least 1 x 1 and at most
// INT32_MAX / 2 in each direction.
void zoomedSize(int32_t w, int32_t h, int zoom, int32_t* dw, int32_t* dh);
// Largest size with the picture's aspect ratio inside the client area (both
// enlarging and reducing); at least 1 x 1.
void fitSize(int32_t w, int32_t h, int32_t clientW, int32_t clientH, int32_t* dw, int32_t* dh);

// ---- Layout ----
// One direction of the window: whether a scroll bar is shown, its maximum
// position and page, and the offset of the displayed picture at the client
// edge (the scroll position, or negative to centre a smaller picture).
struct AxisLayout {
    bool bar = false;
    int32_t client = 0;    // client extent once the bars are placed
    int32_t offset = 0;
    int32_t maxPosition = 0;
};
struct ViewLayout {
    AxisLayout x, y;
};
// areaW/areaH: the client area without any scroll bar; barW/barH: width of a
// vertical bar and height of a horizontal one. No bars in full screen or fit
// mode (noBars). Scroll positions are kept within their new range.
ViewLayout layoutView(int32_t displayW, int32_t displayH, int32_t areaW, int32_t areaH, int32_t barW, int32_t barH,
                      bool noBars, int32_t scrollX, int32_t scrollY);
// A new scroll position clamped to 0 ... maxPosition.
int32_t clampScroll(int32_t position, int32_t maxPosition);

// ---- Visible part ----
// The region a window of clientW x clientH shows at the offsets (empty when
// the client area is).
ViewRegion visibleRegion(int32_t displayW, int32_t displayH, int32_t clientW, int32_t clientH, int32_t offsetX,
                         int32_t offsetY);

// ---- Stepping ----
enum NavKind { NAV_NEXT, NAV_PREVIOUS, NAV_FIRST, NAV_LAST };
// The first candidate of a step from `position` (count when the current file
// is not in the list) in a list of count entries; -1 when there is none.
int stepTarget(NavKind kind, int position, int count);
// The direction in which a step goes on when a candidate fails: +1 or -1.
int stepDirection(NavKind kind);
// Position of path in the list by exact comparison, or list.size().
int findInList(const std::vector<std::string>& list, const std::string& path);
// The page of the commands "Suivante", "Précédente", "Première", "Dernière"
// clamped to 0 ... pageCount - 1.
int pageTarget(NavKind kind, int current, int pageCount);
