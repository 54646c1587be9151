// The table of "kaleos.ini" and the loading and saving that walk it.
#include "settings.h"

#include <cstdio>
#include <cstring>

#include "writeoptions.h"

namespace {

constexpr int32_t I16_MIN = -32768;
constexpr int32_t I16_MAX = 32767;

bool validHtmlSort(int32_t v) {
    // Low byte: 0 name, 1 extension, 2 date, 3 type, 4 size; 0x100 reverses.
    return (v & ~0x1FF) == 0 && (v & 0xFF) <= 4;
}

#define FIELD(f) offsetof(Settings, f), sizeof(Settings::f)
#define FAMILY(f) offsetof(Settings, f), sizeof(Settings::f[0])

// Strings, numbers with a range to clamp to, and enumerations whose stray
// values fall back to the default.
#define STR(sec, key, f) {sec, key, SET_STRING, 1, FIELD(f), 0, "", 0, 0, false, nullptr}
#define FLAG(sec, key, f, def) {sec, key, SET_FLAG, 1, FIELD(f), def, nullptr, 0, 1, false, nullptr}
#define ENUM32(sec, key, f, def, lo, hi) {sec, key, SET_INT, 1, FIELD(f), def, nullptr, lo, hi, false, nullptr}
#define ENUM16(sec, key, f, def, lo, hi) {sec, key, SET_INT16, 1, FIELD(f), def, nullptr, lo, hi, false, nullptr}
#define CLAMP32(sec, key, f, def, lo, hi) {sec, key, SET_INT, 1, FIELD(f), def, nullptr, lo, hi, true, nullptr}
#define CLAMP16(sec, key, f, def, lo, hi) {sec, key, SET_INT16, 1, FIELD(f), def, nullptr, lo, hi, true, nullptr}

const SettingEntry TABLE[] = {
    {"Kaleos", "FileName", SET_STRING, RECENT_COUNT, FAMILY(recentFiles), 0, "", 0, 0, false, nullptr},
    STR("Kaleos", "PathLoad", pathLoad),
    STR("Kaleos", "PathSave", pathSave),
    STR("Kaleos", "PathBrowse", pathBrowse),

    CLAMP32("Start", "X", x, -1, I16_MIN, I16_MAX),
    CLAMP32("Start", "Y", y, -1, I16_MIN, I16_MAX),
    CLAMP32("Start", "Width", width, -1, -1, I16_MAX),
    CLAMP32("Start", "Height", height, -1, -1, I16_MAX),
    FLAG("Start", "SavePosition", savePosition, 0),
    FLAG("Start", "LaunchBrowserAtStartup", launchBrowserAtStartup, 0),
    FLAG("Start", "MaximizeKaleosAtStartup", maximizeKaleosAtStartup, 0),
    FLAG("Start", "AlwaysOnTop", alwaysOnTop, 0),
    FLAG("Start", "OnlyOneInstance", onlyOneInstance, 0),

    FLAG("View", "MaximizeViewWhenOpen", maximizeViewWhenOpen, 0),
    FLAG("View", "OpenHexaViewIfNotPicture", openHexaViewIfNotPicture, 1),
    FLAG("View", "FitToWindow", fitToWindow, 0),
    FLAG("View", "StatusBar", statusBar, 1),
    FLAG("View", "ToolBar", toolBar, 1),
    FLAG("View", "ShowFilename", showFilename, 1),
    FLAG("View", "MouseNavigation", mouseNavigation, 1),
    FLAG("View", "HideMouse", hideMouse, 1),

    ENUM16("Resize", "Resample", resample, 1, 0, 1),

    ENUM32("Browser", "Layout", layout, 1, 1, 5),
    CLAMP32("Browser", "DirListWidth", dirListWidth, 100, 10, 8000),
    CLAMP32("Browser", "DirListHeight", dirListHeight, 100, 10, 8000),
    CLAMP32("Browser", "IconListWidth", iconListWidth, 100, 10, 8000),
    CLAMP32("Browser", "IconListHeight", iconListHeight, 100, 10, 8000),
    CLAMP32("Browser", "IconWidth", iconWidth, 48, 8, 512),
    CLAMP32("Browser", "IconHeight", iconHeight, 48, 8, 512),
    ENUM32("Browser", "Viewas", viewAs, 0, 0, 3),
    ENUM32("Browser", "ArrangeBy", arrangeBy, 1, 0, 0xFF),
    ENUM32("Browser", "ViewColumn", viewColumn, 255, 0, 0xFF),
    FLAG("Browser", "ShowDirList", showDirList, 1),
    FLAG("Browser", "HideNonImageFile", hideNonImageFile, 0),
    FLAG("Browser", "ShowDirInBrowser", showDirInBrowser, 0),
    FLAG("Browser", "ShowParentDir", showParentDir, 1),
    FLAG("Browser", "ShowHiddenFile", showHiddenFile, 1),
    FLAG("Browser", "ShowPreview", showPreview, 1),
    FLAG("Browser", "FitPreviewWindow", fitPreviewWindow, 0),
    FLAG("Browser", "ShowContent", showContent, 1),
    FLAG("Browser", "ShowInAscii", showInAscii, 0),
    FLAG("Browser", "StartInPrevDir", startInPrevDir, 0),
    FLAG("Browser", "RecognizeByExt", recognizeByExt, 0),
    FLAG("Browser", "ShowGridLines", showGridLines, 0),
    FLAG("Browser", "FullRowSelect", fullRowSelect, 0),
    FLAG("Browser", "FitWindowOption", fitWindowOption, 0),

    CLAMP16("Save", "JpegQuality", jpegQuality, 100, 0, 100),
    CLAMP16("Save", "PngQuality", pngQuality, 60, 0, 100),
    ENUM16("Save", "GifInterlaced", gifInterlaced, 0, 0, 1),
    ENUM16("Save", "JpegProgressive", jpegProgressive, 0, 0, 1),
    ENUM16("Save", "IffCompress", iffCompress, 0, 0, 1),
    ENUM16("Save", "PcxCompress", pcxCompress, 0, 0, 1),
    ENUM16("Save", "TgaCompress", tgaCompress, 0, 0, 1),
    ENUM16("Save", "TiffCompress", tiffCompress, TIFF_SAVE_NONE, TIFF_SAVE_NONE, TIFF_SAVE_LZW_PREDICTOR),
    ENUM16("Save", "SoftCompress", softCompress, 1, 0, 1),
    ENUM16("Save", "RgbCompress", rgbCompress, 1, 0, 1),
    ENUM16("Save", "BmpCompress", bmpCompress, 0, 0, 1),

    ENUM16("Load", "PcdBase", pcdBase, 0, 0, 2),
    ENUM16("Load", "GrobBpp", grobBpp, 0, 0, 2),
    ENUM16("Load", "IgnoreError", ignoreError, 0, 0, 1),
    CLAMP32("Load", "Width", rawWidth, 256, 1, I16_MAX),
    CLAMP32("Load", "Height", rawHeight, 256, 1, I16_MAX),
    CLAMP32("Load", "Offset", rawOffset, 0, 0, I16_MAX),
    ENUM16("Load", "ChannelOrder", channelOrder, 0, 0, 2),
    ENUM16("Load", "ChannelType", channelType, 1, 0, 6),
    FLAG("Load", "Preview", preview, 0),

    CLAMP16("Slide", "Timer", slideTimer, 5, 1, 3600),
    ENUM16("Slide", "Loop", slideLoop, 1, 0, 1),
    ENUM16("Slide", "Full", slideFull, 1, 0, 1),
    ENUM16("Slide", "Center", slideCenter, 1, 0, 1),
    ENUM16("Slide", "Random", slideRandom, 0, 0, 1),
    ENUM16("Slide", "FitToWindow", slideFitToWindow, 0, 0, 2),
    ENUM16("Slide", "NoTitle", slideNoTitle, 0, 0, 1),
    ENUM16("Slide", "NoError", slideNoError, 0, 0, 1),
    ENUM16("Slide", "HideMouse", slideHideMouse, 0, 0, 1),

    CLAMP16("Rename", "Start", renameStart, 0, I16_MIN, I16_MAX),
    CLAMP16("Rename", "Step", renameStep, 1, 1, I16_MAX),
    {"Rename", "Template", SET_STRING, 1, FIELD(renameTemplate), 0, "name.#", 0, 0, false, nullptr},

    CLAMP32("Html", "TableColumns", htmlTableColumns, 4, 1, 64),
    CLAMP32("Html", "TableBorder", htmlTableBorder, 2, 0, 100),
    CLAMP32("Html", "ThumbWidth", htmlThumbWidth, 32, 8, 1024),
    CLAMP32("Html", "ThumbHeight", htmlThumbHeight, 32, 8, 1024),
    ENUM16("Html", "Format", htmlFormat, 0, 0, 1),
    FLAG("Html", "InterlacedGif", htmlInterlacedGif, 1),
    FLAG("Html", "ProgressiveJpeg", htmlProgressiveJpeg, 1),
    CLAMP32("Html", "QualityJpeg", htmlQualityJpeg, 100, 0, 100),
    ENUM16("Html", "UseOriginalIfSmaller", htmlUseOriginalIfSmaller, 1, 0, 1),
    ENUM16("Html", "Display", htmlDisplay, 1, 0, 0x1F),
    {"Html", "Sort", SET_INT16, 1, FIELD(htmlSort), 0, nullptr, 0, 0x104, false, validHtmlSort},
    STR("Html", "OutputDirectory", htmlOutputDirectory),

    ENUM16("Print", "Option", printOption, 0, 0, 2),
    ENUM16("Print", "CenterOnPage", printCenterOnPage, 0, 0, 1),
    CLAMP32("Print", "XScale", printXScale, 1, 1, 100),
    CLAMP32("Print", "YScale", printYScale, 1, 1, 100),

    FLAG("Process", "AutoView", autoView, 0),
    {"Process", "LastValue", SET_INT, LAST_VALUE_COUNT, FAMILY(lastValue), -1, nullptr, -1, I16_MAX, false, nullptr},

    FLAG("Install", "ViewAsName", viewAsName, 1),

    FLAG("Convert", "HideError", hideError, 0),
};

#undef FIELD
#undef FAMILY
#undef STR
#undef FLAG
#undef ENUM32
#undef ENUM16
#undef CLAMP32
#undef CLAMP16

constexpr size_t TABLE_COUNT = sizeof TABLE / sizeof TABLE[0];

void copyText(char* dst, size_t size, const char* src) {
    if (size == 0) return;
    size_t n = src ? strnlen(src, size - 1) : 0;
    if (n) memcpy(dst, src, n);
    dst[n] = '\0';
}

uint8_t* fieldAddress(Settings* s, const SettingEntry& e, int index) {
    return reinterpret_cast<uint8_t*>(s) + e.offset + static_cast<size_t>(index) * e.size;
}

const uint8_t* fieldAddress(const Settings& s, const SettingEntry& e, int index) {
    return reinterpret_cast<const uint8_t*>(&s) + e.offset + static_cast<size_t>(index) * e.size;
}

void storeInt(Settings* s, const SettingEntry& e, int index, int32_t v) {
    uint8_t* p = fieldAddress(s, e, index);
    switch (e.type) {
    case SET_FLAG: *p = static_cast<uint8_t>(v != 0); break;
    case SET_INT16: {
        int16_t w = static_cast<int16_t>(v);
        memcpy(p, &w, sizeof w);
        break;
    }
    case SET_INT: memcpy(p, &v, sizeof v); break;
    case SET_STRING: break;
    }
}

int32_t fetchInt(const Settings& s, const SettingEntry& e, int index) {
    const uint8_t* p = fieldAddress(s, e, index);
    switch (e.type) {
    case SET_FLAG: return *p;
    case SET_INT16: {
        int16_t w;
        memcpy(&w, p, sizeof w);
        return w;
    }
    case SET_INT: {
        int32_t v;
        memcpy(&v, p, sizeof v);
        return v;
    }
    case SET_STRING: break;
    }
    return 0;
}

// "FileName_3" for families, the bare key otherwise.
void keyName(const SettingEntry& e, int index, char* out, size_t size) {
    if (e.count > 1)
        snprintf(out, size, "%s_%d", e.key, index);
    else
        snprintf(out, size, "%s", e.key);
}

}  // namespace

const SettingEntry* settingsTable(size_t* count) {
    *count = TABLE_COUNT;
    return TABLE;
}

const SettingEntry* findSetting(const char* section, const char* key) {
    if (!section || !key) return nullptr;
    for (const SettingEntry& e : TABLE)
        if (strcmp(e.section, section) == 0 && strcmp(e.key, key) == 0) return &e;
    return nullptr;
}

int32_t validatedValue(const SettingEntry& e, int32_t value) {
    if (e.type == SET_STRING) return 0;
    if (value < e.minimum || value > e.maximum) {
        if (!e.clampToRange) return e.defaultValue;
        value = value < e.minimum ? e.minimum : e.maximum;
    }
    if (e.valid && !e.valid(value)) return e.defaultValue;
    return value;
}

void setDefaultSettings(Settings* s) {
    memset(s, 0, sizeof *s);
    for (const SettingEntry& e : TABLE) {
        for (int i = 0; i < e.count; ++i) {
            if (e.type == SET_STRING)
                copyText(reinterpret_cast<char*>(fieldAddress(s, e, i)), e.size, e.defaultText);
            else
                storeInt(s, e, i, e.defaultValue);
        }
    }
}

void loadSettingsFrom(ProfileStore* store, Settings* s) {
    setDefaultSettings(s);
    char key[64];
    for (const SettingEntry& e : TABLE) {
        for (int i = 0; i < e.count; ++i) {
            keyName(e, i, key, sizeof key);
            if (e.type == SET_STRING) {
                char* field = reinterpret_cast<char*>(fieldAddress(s, e, i));
                char buffer[PATH_SIZE];
                buffer[0] = '\0';
                store->getString(e.section, key, buffer, sizeof buffer);
                buffer[sizeof buffer - 1] = '\0';
                // A missing key keeps the default ("name.#" for the template).
                if (buffer[0]) copyText(field, e.size, buffer);
            } else {
                int32_t v = store->getInt(e.section, key, e.defaultValue);
                storeInt(s, e, i, validatedValue(e, v));
            }
        }
    }
}

void formatProfileInt(int32_t value, char* out, size_t size) {
    snprintf(out, size, "%d", static_cast<int>(static_cast<int16_t>(value)));
}

void saveSettingsTo(const Settings& s, ProfileStore* store) {
    char key[64];
    char text[16];
    for (const SettingEntry& e : TABLE) {
        for (int i = 0; i < e.count; ++i) {
            keyName(e, i, key, sizeof key);
            if (e.type == SET_STRING) {
                const char* field = reinterpret_cast<const char*>(fieldAddress(s, e, i));
                // The recent-file list ends at its first empty slot; the keys
                // of higher numbers are left as they are in the file.
                if (e.count > 1 && field[0] == '\0') break;
                char buffer[PATH_SIZE];
                copyText(buffer, sizeof buffer < e.size ? sizeof buffer : e.size, field);
                store->putString(e.section, key, buffer);
            } else {
                formatProfileInt(fetchInt(s, e, i), text, sizeof text);
                store->putString(e.section, key, text);
            }
        }
    }
}

bool getSettingInt(const Settings& s, const char* section, const char* key, int index, int32_t* value) {
    const SettingEntry* e = findSetting(section, key);
    if (!e || e->type == SET_STRING || index < 0 || index >= e->count) return false;
    *value = fetchInt(s, *e, index);
    return true;
}

bool setSettingInt(Settings* s, const char* section, const char* key, int index, int32_t value) {
    const SettingEntry* e = findSetting(section, key);
    if (!e || e->type == SET_STRING || index < 0 || index >= e->count) return false;
    storeInt(s, *e, index, validatedValue(*e, value));
    return true;
}

void chooseSettingsPath(const char* given, const char* moduleFile, PathProbe probe, void* datum,
                        char out[PATH_SIZE]) {
    static const char INI_NAME[] = "kaleos.ini";
    // 1. The path after "-ini", when it names an existing file.
    if (given && given[0] && strlen(given) <= MAX_PATH_CHARS && probe(given, datum) == PATH_FILE) {
        copyText(out, PATH_SIZE, given);
        return;
    }
    // 2. "kaleos.ini" in the program's own folder.
    if (moduleFile) {
        const char* slash = strrchr(moduleFile, '\\');
        if (slash) {
            size_t folder = static_cast<size_t>(slash - moduleFile) + 1;
            if (folder + sizeof INI_NAME - 1 <= MAX_PATH_CHARS) {
                char candidate[PATH_SIZE];
                memcpy(candidate, moduleFile, folder);
                memcpy(candidate + folder, INI_NAME, sizeof INI_NAME);
                if (probe(candidate, datum) == PATH_FILE) {
                    copyText(out, PATH_SIZE, candidate);
                    return;
                }
            }
        }
    }
    // 3. The bare name: the profile functions put it in the Windows folder.
    copyText(out, PATH_SIZE, INI_NAME);
}
