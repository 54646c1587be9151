// The viewer's preferences: one record, described by a table of keys of
// "kaleos.ini" (section, key, type, default, range). Plain C++: the profile
// file itself is reached through ProfileStore, which the Win32 layer
// implements with the private-profile functions.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int PATH_SIZE = 259;      // 258 characters and the terminating zero
constexpr int MAX_PATH_CHARS = PATH_SIZE - 1;
constexpr int RECENT_COUNT = 9;
constexpr int LAST_VALUE_COUNT = 25;
constexpr int TEMPLATE_SIZE = 64;

struct Settings {
    // [Kaleos]
    char recentFiles[RECENT_COUNT][PATH_SIZE];
    char pathLoad[PATH_SIZE];
    char pathSave[PATH_SIZE];
    char pathBrowse[PATH_SIZE];
    // [Start]
    int32_t x, y, width, height;
    uint8_t savePosition;
    uint8_t launchBrowserAtStartup;
    uint8_t maximizeKaleosAtStartup;
    uint8_t alwaysOnTop;
    uint8_t onlyOneInstance;
    // [View]
    uint8_t maximizeViewWhenOpen;
    uint8_t openHexaViewIfNotPicture;
    uint8_t fitToWindow;
    uint8_t statusBar;
    uint8_t toolBar;
    uint8_t showFilename;
    uint8_t mouseNavigation;
    uint8_t hideMouse;
    // [Resize]
    int16_t resample;
    // [Browser]
    int32_t layout;
    int32_t dirListWidth, dirListHeight;
    int32_t iconListWidth, iconListHeight;
    int32_t iconWidth, iconHeight;
    int32_t viewAs;
    int32_t arrangeBy;
    int32_t viewColumn;
    uint8_t showDirList;
    uint8_t hideNonImageFile;
    uint8_t showDirInBrowser;
    uint8_t showParentDir;
    uint8_t showHiddenFile;
    uint8_t showPreview;
    uint8_t fitPreviewWindow;
    uint8_t showContent;
    uint8_t showInAscii;
    uint8_t startInPrevDir;
    uint8_t recognizeByExt;
    uint8_t showGridLines;
    uint8_t fullRowSelect;
    uint8_t fitWindowOption;
    // [Save]
    int16_t jpegQuality;
    int16_t pngQuality;
    int16_t gifInterlaced;
    int16_t jpegProgressive;
    int16_t iffCompress;
    int16_t pcxCompress;
    int16_t tgaCompress;
    int16_t tiffCompress;
    int16_t softCompress;
    int16_t rgbCompress;
    int16_t bmpCompress;
    // [Load]
    int16_t pcdBase;
    int16_t grobBpp;
    int16_t ignoreError;
    int32_t rawWidth, rawHeight;
    int32_t rawOffset;
    int16_t channelOrder;
    int16_t channelType;
    uint8_t preview;
    // [Slide]
    int16_t slideTimer;
    int16_t slideLoop;
    int16_t slideFull;
    int16_t slideCenter;
    int16_t slideRandom;
    int16_t slideFitToWindow;
    int16_t slideNoTitle;
    int16_t slideNoError;
    int16_t slideHideMouse;
    // [Rename]
    int16_t renameStart;
    int16_t renameStep;
    char renameTemplate[TEMPLATE_SIZE];
    // [Html]
    int32_t htmlTableColumns;
    int32_t htmlTableBorder;
    int32_t htmlThumbWidth, htmlThumbHeight;
    int16_t htmlFormat;
    uint8_t htmlInterlacedGif;
    uint8_t htmlProgressiveJpeg;
    int32_t htmlQualityJpeg;
    int16_t htmlUseOriginalIfSmaller;
    int16_t htmlDisplay;
    int16_t htmlSort;
    char htmlOutputDirectory[PATH_SIZE];
    // [Print]
    int16_t printOption;
    int16_t printCenterOnPage;
    int32_t printXScale, printYScale;
    // [Process]
    uint8_t autoView;
    int32_t lastValue[LAST_VALUE_COUNT];
    // [Install]
    uint8_t viewAsName;
    // [Convert]
    uint8_t hideError;
};

enum SettingType : uint8_t { SET_STRING, SET_INT, SET_INT16, SET_FLAG };

// One key (or a numbered family of keys "Key_0" … when count > 1).
struct SettingEntry {
    const char* section;
    const char* key;
    SettingType type;
    uint16_t count;       // 1, or the number of numbered keys
    size_t offset;        // of the field (of element 0 for families)
    size_t size;          // string buffer size, or the element stride of a family
    int32_t defaultValue;
    const char* defaultText;
    int32_t minimum;      // integers outside [minimum, maximum] are clamped or
    int32_t maximum;      // replaced by the default, as clampToRange says
    bool clampToRange;
    bool (*valid)(int32_t value);  // extra check, null when the range suffices
};

// The keys in the order in which they are read and written.
const SettingEntry* settingsTable(size_t* count);
const SettingEntry* findSetting(const char* section, const char* key);

// Where the profile file is read and written.
class ProfileStore {
public:
    virtual ~ProfileStore() = default;
    // As GetPrivateProfileIntA: the default when the key is missing, the
    // leading decimal number otherwise (0 when the text is not a number).
    virtual int32_t getInt(const char* section, const char* key, int32_t def) = 0;
    // As GetPrivateProfileStringA with the default "": truncates to size - 1.
    virtual void getString(const char* section, const char* key, char* out, size_t size) = 0;
    virtual void putString(const char* section, const char* key, const char* value) = 0;
};

// Every field at its default, the recent-file list empty.
void setDefaultSettings(Settings* s);
// Defaults first, then every key of the table from the store; numbers outside
// their range are clamped or fall back to the default.
void loadSettingsFrom(ProfileStore* store, Settings* s);
// Writes every key back: the recent files up to the first empty slot, the
// strings as text, every number as the decimal text of its 16-bit truncation.
void saveSettingsTo(const Settings& s, ProfileStore* store);

// The decimal text of value truncated to a signed 16-bit number.
void formatProfileInt(int32_t value, char* out, size_t size);
// The value a number read for the entry ends up as (range, extra check).
int32_t validatedValue(const SettingEntry& e, int32_t value);

// Integer fields by key (element index for families): used by the dialogs so
// that every value they store goes through the same validation.
bool getSettingInt(const Settings& s, const char* section, const char* key, int index, int32_t* value);
bool setSettingInt(Settings* s, const char* section, const char* key, int index, int32_t value);

// Choosing the settings file. probe answers 0 (missing), 1 (file), 2 (folder).
enum PathKind { PATH_MISSING = 0, PATH_FILE = 1, PATH_FOLDER = 2 };
using PathProbe = PathKind (*)(const char* path, void* datum);
// given: the path after "-ini" (null or empty when none); moduleFile: the
// program's own file name. Writes a path of at most MAX_PATH_CHARS characters.
void chooseSettingsPath(const char* given, const char* moduleFile, PathProbe probe, void* datum,
                        char out[PATH_SIZE]);
