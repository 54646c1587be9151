// The save pipeline shared by the image window and the batch conversions:
// the write variant, a conversion when the format refuses the picture, a
// fixed size, the writer switches from the settings, the progress window.
#include <cstdio>
#include <cstring>

#include "app.h"
#include "batchlogic.h"
#include "dither.h"
#include "geometry.h"
#include "kaleocore.h"
#include "opdialogs.h"
#include "optiontable.h"

namespace {

// The conversion code chosen earlier in this run of the program (0: none).
int g_rememberedCode = 0;

unsigned writableGroups(int formatIndex) {
    const FormatRecord* r = formatRecord(formatIndex);
    unsigned groups = 0;
    for (int i = 0; r && i < MAX_WRITE_VARIANTS && r->modes[i].kindMask != WV_END; ++i) {
        uint16_t m = r->modes[i].kindMask;
        if (m & IMG_BINARY) groups |= CONV_GROUP_BINARY;
        if (m & IMG_GREY) groups |= CONV_GROUP_GREY;
        if (m & IMG_PALETTE) groups |= CONV_GROUP_COLOURS;
        if (m & IMG_TRUECOLOUR) groups |= CONV_GROUP_TRUE_COLOUR;
    }
    return groups;
}

const char* baseName(const char* path) {
    const char* slash = strrchr(path, '\\');
    const char* other = strrchr(path, '/');
    if (other > slash) slash = other;
    return slash ? slash + 1 : path;
}

// Replaces the extension of a Windows path by that of the library's final name.
void takeExtension(char* windowsPath, const char* finalName) {
    const char* ext = strrchr(baseName(finalName), '.');
    char* base = const_cast<char*>(baseName(windowsPath));
    char* dot = strrchr(base, '.');
    if (dot) *dot = '\0';
    if (ext && strlen(windowsPath) + strlen(ext) < PATH_SIZE) strcat(windowsPath, ext);
}

}  // namespace

void resetRememberedConversion() { g_rememberedCode = 0; }
int rememberedConversion() { return g_rememberedCode; }
void rememberConversion(int code) { g_rememberedCode = code >= 1 && code <= 32 ? code : 0; }
unsigned conversionGroupsOf(int formatIndex) { return writableGroups(formatIndex); }

int saveConverted(HWND owner, char* path, int formatIndex, const Image* image, bool setExtension, bool batch,
                  bool progress) {
    if (!image || !image->pixels) return ST_CORRUPT;
    const FormatRecord* record = formatRecord(formatIndex);
    if (!record || !record->writer) {
        showStatusError(owner, ST_NO_WRITER, path, nullptr);
        return ST_NO_WRITER;
    }
    OwnedImage converted;
    const Image* toSave = image;

    // 1-3. A variant that takes the picture, else a conversion.
    const WriteVariant* variant = nullptr;
    if (!findWriteVariant(formatIndex, image, &variant)) {
        if (!batch) g_rememberedCode = 0;
        int code = g_rememberedCode;
        // A code remembered for another format is asked again when this one cannot take its result.
        if (code < 1 || code > 32 || !codeFitsFormat(formatIndex, code)) {
            code = runConversionChoiceDialog(owner, baseName(path), writableGroups(formatIndex));
            g_rememberedCode = code;
        }
        if (code < 1 || code > 32) return SAVE_CANCELLED;
        HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        Status st = convertWithCode(const_cast<Image*>(image), &converted, code);
        SetCursor(old);
        if (st != ST_OK) {
            MessageBoxA(owner, "Error converting picture !!", "Error", MB_OK | MB_ICONERROR);
            return st;
        }
        toSave = &converted;
        if (!findWriteVariant(formatIndex, toSave, &variant)) {
            showStatusError(owner, ST_KIND_REFUSED, path, nullptr);
            return ST_KIND_REFUSED;
        }
    }

    // 2. A variant of fixed size: the picture is resized to it.
    OwnedImage resized;
    if (variant && variant->width > 0 && variant->height > 0 &&
        (toSave->width != variant->width || toSave->height != variant->height)) {
        char text[128];
        snprintf(text, sizeof text, loadText(IDS_RESIZE_TO).c_str(), variant->width, variant->height);
        MessageBoxA(owner, text, "Warning", MB_OK | MB_ICONWARNING);
        Status st = resizeImage(const_cast<Image*>(toSave), &resized, variant->width, variant->height, RESAMPLE_AREA);
        if (st != ST_OK) {
            showStatusError(owner, st, path, nullptr);
            return st;
        }
        toSave = &resized;
    }

    // 4-5. Options and the save itself.
    std::string unixPath = libraryPath(path);
    if (unixPath.empty() || unixPath.size() >= FILE_NAME_LEN) {
        showStatusError(owner, ST_CANNOT_OPEN, path, nullptr);
        return ST_CANNOT_OPEN;
    }
    char fileName[FILE_NAME_LEN];
    copyText(fileName, sizeof fileName, unixPath.c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(formatIndex);
    if (setExtension) o.flags |= OPT_SET_EXTENSION | OPT_NAME_IN_PLACE;
    writerOptionsFromSettings(g_settings, record->shortName, &o);
    Progress* window = nullptr;
    if (progress) {
        std::string saving = loadText(IDS_SAVING);
        window = openProgress(owner, (saving + "...").c_str(), (saving + "\n    " + baseName(path)).c_str(), true);
        if (window) {
            o.progressCallback = progressCallback;
            o.callbackDatum = window;
        }
    }
    HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    Status st;
    {
        BusyScope busy;
        st = saveImage(fileName, const_cast<Image*>(toSave), &o);
    }
    SetCursor(old);
    closeProgress(window);
    if (st == ST_OK && setExtension) takeExtension(path, fileName);
    if (st != ST_OK && st != ST_STOPPED) showStatusError(owner, st, path, nullptr);
    return st;
}
