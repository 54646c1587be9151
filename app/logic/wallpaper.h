// The desktop wallpaper values of "Control Panel\Desktop" that "Placer comme
// Papier-Peint" changes, worked out without the registry.
#pragma once
#include <string>
#include <vector>

enum WallpaperMode { WALLPAPER_CENTRE, WALLPAPER_TILE, WALLPAPER_PREVIOUS };

extern const char WALLPAPER_FILE_NAME[];  // "kaleos wallpaper.bmp"

// A value as read: missing or a string.
struct DesktopValue {
    bool present = false;
    std::string text;
};

struct DesktopValues {
    DesktopValue wallpaper, tileWallpaper, prevWallpaper, prevTileWallpaper;
};

struct WallpaperWrite {
    std::string name, value;
};

struct WallpaperPlan {
    std::vector<WallpaperWrite> writes;  // in order
    std::string apply;                   // the bitmap path handed to the system
};

// The program's bitmap in the Windows folder ("C:\WINDOWS" → "C:\WINDOWS\kaleos wallpaper.bmp").
std::string wallpaperBitmapPath(const std::string& windowsFolder);

// Centre or tile: the current values become the previous ones (unless the
// current wallpaper is already the program's own bitmap, whose "previous"
// would otherwise be lost), the tile value becomes "1" or "0", and the
// program's bitmap is applied. Previous: the previous bitmap (empty when
// missing) is applied and its tile value written back.
WallpaperPlan planWallpaper(WallpaperMode mode, const DesktopValues& current, const std::string& ownBitmap);
