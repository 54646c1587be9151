// Wallpaper values.
#include "wallpaper.h"

const char WALLPAPER_FILE_NAME[] = "kaleos wallpaper.bmp";

namespace {

std::string comparable(const std::string& path) {
    std::string r;
    for (char c : path) {
        if (c == '/') c = '\\';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '\\' && !r.empty() && r.back() == '\\') continue;
        r += c;
    }
    return r;
}

// The tile value as one character.
std::string oneCharacter(const std::string& text) { return text.empty() ? "0" : text.substr(0, 1); }

}  // namespace

std::string wallpaperBitmapPath(const std::string& windowsFolder) {
    std::string f = windowsFolder;
    if (f.empty() || (f.back() != '\\' && f.back() != '/')) f += '\\';
    return f + WALLPAPER_FILE_NAME;
}

WallpaperPlan planWallpaper(WallpaperMode mode, const DesktopValues& current, const std::string& ownBitmap) {
    WallpaperPlan plan;
    if (mode == WALLPAPER_PREVIOUS) {
        plan.apply = current.prevWallpaper.present ? current.prevWallpaper.text : "";
        if (current.prevTileWallpaper.present)
            plan.writes.push_back({"TileWallpaper", oneCharacter(current.prevTileWallpaper.text)});
        return plan;
    }
    bool alreadyOurs = current.wallpaper.present && !ownBitmap.empty() &&
                       comparable(current.wallpaper.text) == comparable(ownBitmap);
    if (!alreadyOurs) {
        plan.writes.push_back({"PrevWallpaper", current.wallpaper.present ? current.wallpaper.text : ""});
        plan.writes.push_back({"PrevTileWallpaper",
                               current.tileWallpaper.present ? oneCharacter(current.tileWallpaper.text) : "0"});
    }
    plan.writes.push_back({"TileWallpaper", mode == WALLPAPER_TILE ? "1" : "0"});
    plan.apply = ownBitmap;
    return plan;
}
