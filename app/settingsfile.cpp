// "kaleos.ini" through the private-profile functions.
#include <cstdio>

#include "app.h"

Settings g_settings;

namespace {

class PrivateProfile : public ProfileStore {
public:
    explicit PrivateProfile(const char* path) : path_(path) {}
    int32_t getInt(const char* section, const char* key, int32_t def) override {
        return static_cast<int32_t>(GetPrivateProfileIntA(section, key, def, path_));
    }
    void getString(const char* section, const char* key, char* out, size_t size) override {
        GetPrivateProfileStringA(section, key, "", out, static_cast<DWORD>(size), path_);
    }
    void putString(const char* section, const char* key, const char* value) override {
        WritePrivateProfileStringA(section, key, value, path_);
    }

private:
    const char* path_;
};

PathKind probeForChoice(const char* path, void*) { return probePath(path); }

}  // namespace

PathKind probePath(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PATH_MISSING;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PATH_FOLDER : PATH_FILE;
}

void loadSettings(const char* path) {
    char module[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
    if (n == 0 || n >= sizeof module) module[0] = '\0';
    chooseSettingsPath(path, module, probeForChoice, nullptr, g_frame.settingsPath);
    PrivateProfile profile(g_frame.settingsPath);
    loadSettingsFrom(&profile, &g_settings);
    g_frame.settingsSaved = false;
}

void saveSettings() {
    PrivateProfile profile(g_frame.settingsPath);
    saveSettingsTo(g_settings, &profile);
    // Flush the profile cache so that the file is complete on disk.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, g_frame.settingsPath);
    g_frame.settingsSaved = true;
}

IoOptions settingsLoadOptions(int formatIndex, int page) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(formatIndex);
    o.pageIndex = page;
    if (g_settings.ignoreError) o.flags |= OPT_ACCEPT_DAMAGED;
    o.readerParameter1 = g_settings.pcdBase;
    o.readerParameter2 = static_cast<int16_t>(g_settings.grobBpp + 1);
    o.rawWidth = g_settings.rawWidth;
    o.rawHeight = g_settings.rawHeight;
    o.rawOffset = g_settings.rawOffset;
    o.rawParameter = g_settings.channelOrder;  // interleaved, sequential, separate
    o.rawLayout = g_settings.channelType;      // grey, RGB, BGR, RGBA, ABGR, CMY, CMYK
    return o;
}
