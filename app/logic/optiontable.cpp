// Controls and categories of the options dialog.
#include "optiontable.h"

#include "resource.h"

namespace {

const OptionControl CONTROLS[] = {
    {IDC_OPT_GIF_INTERLACED, OPT_CHECK, "Save", "GifInterlaced", 0},
    {IDC_OPT_JPEG_PROGRESSIVE, OPT_CHECK, "Save", "JpegProgressive", 0},
    {IDC_OPT_IFF_COMPRESS, OPT_CHECK, "Save", "IffCompress", 0},
    {IDC_OPT_PCX_COMPRESS, OPT_CHECK, "Save", "PcxCompress", 0},
    {IDC_OPT_TGA_COMPRESS, OPT_CHECK, "Save", "TgaCompress", 0},
    {IDC_OPT_SOFT_COMPRESS, OPT_CHECK, "Save", "SoftCompress", 0},
    {IDC_OPT_RGB_COMPRESS, OPT_CHECK, "Save", "RgbCompress", 0},
    {IDC_OPT_BMP_COMPRESS, OPT_CHECK, "Save", "BmpCompress", 0},
    {IDC_OPT_TIFF, OPT_LIST, "Save", "TiffCompress", 0},
    {IDC_OPT_JPEG_QUALITY, OPT_NUMBER, "Save", "JpegQuality", 0},
    {IDC_OPT_PNG_QUALITY, OPT_NUMBER, "Save", "PngQuality", 0},

    {IDC_OPT_PCD, OPT_LIST, "Load", "PcdBase", 0},
    {IDC_OPT_GROB, OPT_LIST, "Load", "GrobBpp", 0},
    {IDC_OPT_IGNORE_ERRORS, OPT_CHECK, "Load", "IgnoreError", 0},
    {IDC_OPT_RAW_WIDTH, OPT_NUMBER, "Load", "Width", 0},
    {IDC_OPT_RAW_HEIGHT, OPT_NUMBER, "Load", "Height", 0},
    {IDC_OPT_RAW_OFFSET, OPT_NUMBER, "Load", "Offset", 0},
    {IDC_OPT_RAW_ORDER, OPT_LIST, "Load", "ChannelOrder", 0},
    {IDC_OPT_RAW_TYPE, OPT_LIST, "Load", "ChannelType", 0},

    {IDC_OPT_SAVE_POSITION, OPT_CHECK, "Start", "SavePosition", 0},
    {IDC_OPT_MAXIMIZE_KALEOS, OPT_CHECK, "Start", "MaximizeKaleosAtStartup", 0},
    {IDC_OPT_MAXIMIZE_VIEWS, OPT_CHECK, "View", "MaximizeViewWhenOpen", 0},
    {IDC_OPT_HEXA_IF_NOT_PICTURE, OPT_CHECK, "View", "OpenHexaViewIfNotPicture", 0},
    {IDC_OPT_SHOW_FILENAME, OPT_CHECK, "View", "ShowFilename", 0},
    {IDC_OPT_MOUSE_NAVIGATION, OPT_CHECK, "View", "MouseNavigation", 0},
    {IDC_OPT_HIDE_MOUSE, OPT_CHECK, "View", "HideMouse", 0},
    {IDC_OPT_ALWAYS_ON_TOP, OPT_CHECK, "Start", "AlwaysOnTop", 0},
    {IDC_OPT_ONLY_ONE_INSTANCE, OPT_CHECK, "Start", "OnlyOneInstance", 0},

    {IDC_OPT_BROWSER_AT_STARTUP, OPT_CHECK, "Start", "LaunchBrowserAtStartup", 0},
    {IDC_OPT_START_IN_PREV_DIR, OPT_CHECK, "Browser", "StartInPrevDir", 0},
    {IDC_OPT_RECOGNIZE_BY_EXT, OPT_CHECK, "Browser", "RecognizeByExt", 0},
    {IDC_OPT_GRID_LINES, OPT_CHECK, "Browser", "ShowGridLines", 0},
    {IDC_OPT_FULL_ROW_SELECT, OPT_CHECK, "Browser", "FullRowSelect", 0},
    {IDC_OPT_FIT_LARGER, OPT_RADIO, "Browser", "FitWindowOption", 0},
    {IDC_OPT_FIT_ALL, OPT_RADIO, "Browser", "FitWindowOption", 1},
};

const OptionCategory CATEGORIES[OPTION_CATEGORY_COUNT] = {
    {IDS_OPT_WRITING, IDC_OPT_WRITE_FIRST, IDC_OPT_WRITE_LAST},
    {IDS_OPT_READING, IDC_OPT_READ_FIRST, IDC_OPT_READ_LAST},
    {IDS_OPT_MISC, IDC_OPT_MISC_FIRST, IDC_OPT_MISC_LAST},
    {IDS_OPT_BROWSER, IDC_OPT_BROWSER_FIRST, IDC_OPT_BROWSER_LAST},
};

}  // namespace

const OptionControl* optionControls(size_t* count) {
    *count = sizeof CONTROLS / sizeof CONTROLS[0];
    return CONTROLS;
}

const OptionCategory* optionCategories() { return CATEGORIES; }

int optionCategoryOf(int control) {
    for (int i = 0; i < OPTION_CATEGORY_COUNT; ++i)
        if (control >= CATEGORIES[i].firstControl && control <= CATEGORIES[i].lastControl) return i;
    return -1;
}

int stepQuality(int value, int delta) {
    int v = value + delta;
    if (v > 100) v = 100;
    if (v < 0) v = 0;
    return v;
}

void writerOptionsFromSettings(const Settings& s, const char* shortName, IoOptions* options) {
    clearWriterSlots(options);
    for (int slot = 1; slot <= WRITER_SLOT_COUNT; ++slot) {
        const WriterOption* w = findWriterOption(shortName, slot);
        int32_t value = 0;
        if (w && w->settingsKey && getSettingInt(s, "Save", w->settingsKey, 0, &value))
            setWriterSlot(options, slot, static_cast<int16_t>(value));
    }
}

const char* const* writerOptionChoices(const char* settingsKey) {
    const WriterOption* w = writerOptionOfSetting(settingsKey);
    return w && w->choices[0] ? w->choices : nullptr;
}
