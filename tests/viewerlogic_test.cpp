// The viewer's window-free logic: settings table and "kaleos.ini" text,
// command line, recent files, display tables, tool bar contexts and routing,
// format lists and the options dialog table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "commandline.h"
#include "display.h"
#include "formatrows.h"
#include "frametables.h"
#include "kaleocore.h"
#include "optiontable.h"
#include "recent.h"
#include "settings.h"
#include "testutil.h"
#include "writeoptions.h"

namespace {

// A profile file in memory that answers as the Windows profile functions do:
// integers are the leading decimal number of the text (0 when there is none),
// strings are cut to the caller's buffer.
class MemoryProfile : public ProfileStore {
public:
    std::map<std::string, std::string> values;  // "Section/Key" → text
    std::vector<std::string> writes;            // "Section/Key" in write order

    void set(const std::string& section, const std::string& key, const std::string& value) {
        values[section + "/" + key] = value;
    }
    bool has(const std::string& section, const std::string& key) const {
        return values.count(section + "/" + key) != 0;
    }
    std::string get(const std::string& section, const std::string& key) const {
        auto it = values.find(section + "/" + key);
        return it == values.end() ? std::string("<missing>") : it->second;
    }

    int32_t getInt(const char* section, const char* key, int32_t def) override {
        auto it = values.find(std::string(section) + "/" + key);
        if (it == values.end()) return def;
        const char* p = it->second.c_str();
        while (*p == ' ') ++p;
        bool negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        long long v = 0;
        while (*p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
        return static_cast<int32_t>(negative ? -v : v);
    }
    void getString(const char* section, const char* key, char* out, size_t size) override {
        auto it = values.find(std::string(section) + "/" + key);
        std::string v = it == values.end() ? std::string() : it->second;
        size_t n = v.size() < size - 1 ? v.size() : size - 1;
        memcpy(out, v.data(), n);
        out[n] = '\0';
    }
    void putString(const char* section, const char* key, const char* value) override {
        std::string k = std::string(section) + "/" + key;
        values[k] = value;
        writes.push_back(k);
    }
};

// ---- Settings ---------------------------------------------------------------------

TEST(ViewerSettings, DefaultsOfTheTable) {
    Settings s;
    MemoryProfile empty;
    memset(&s, 0x5A, sizeof s);
    loadSettingsFrom(&empty, &s);
    struct Case {
        const char* section;
        const char* key;
        int32_t expected;
    } cases[] = {
        {"Start", "X", -1},          {"Start", "Width", -1},         {"Start", "SavePosition", 0},
        {"View", "OpenHexaViewIfNotPicture", 1}, {"View", "StatusBar", 1}, {"View", "HideMouse", 1},
        {"Resize", "Resample", 1},   {"Browser", "Layout", 1},       {"Browser", "IconWidth", 48},
        {"Browser", "ArrangeBy", 1}, {"Browser", "ViewColumn", 255}, {"Browser", "ShowParentDir", 1},
        {"Save", "JpegQuality", 100}, {"Save", "SoftCompress", 1},   {"Save", "RgbCompress", 1},
        {"Save", "TiffCompress", 0}, {"Load", "Width", 256},         {"Load", "ChannelType", 1},
        {"Slide", "Timer", 5},       {"Slide", "Loop", 1},           {"Rename", "Step", 1},
        {"Html", "TableColumns", 4}, {"Html", "TableBorder", 2},     {"Html", "ThumbWidth", 32},
        {"Html", "QualityJpeg", 100}, {"Html", "Display", 1},        {"Print", "XScale", 1},
        {"Install", "ViewAsName", 1}, {"Convert", "HideError", 0},
    };
    for (const Case& c : cases) {
        int32_t v = 12345;
        ASSERT_TRUE(getSettingInt(s, c.section, c.key, 0, &v)) << c.section << "/" << c.key;
        EXPECT_EQ(v, c.expected) << c.section << "/" << c.key;
    }
    for (int i = 0; i < LAST_VALUE_COUNT; ++i) EXPECT_EQ(s.lastValue[i], -1) << i;
    for (int i = 0; i < RECENT_COUNT; ++i) EXPECT_STREQ(s.recentFiles[i], "") << i;
    EXPECT_STREQ(s.renameTemplate, "name.#");
    EXPECT_STREQ(s.pathLoad, "");
}

TEST(ViewerSettings, EveryKeyIsInTheTableOnceAndFieldsDoNotOverlap) {
    size_t count = 0;
    const SettingEntry* table = settingsTable(&count);
    std::set<std::string> keys;
    std::vector<std::pair<size_t, size_t>> spans;
    for (size_t i = 0; i < count; ++i) {
        const SettingEntry& e = table[i];
        EXPECT_TRUE(keys.insert(std::string(e.section) + "/" + e.key).second) << e.key;
        size_t width = e.count > 1 ? e.size * e.count : e.size;
        EXPECT_LE(e.offset + width, sizeof(Settings)) << e.key;
        spans.push_back({e.offset, e.offset + width});
        if (e.type != SET_STRING) {
            EXPECT_LE(e.minimum, e.defaultValue) << e.key;
            EXPECT_GE(e.maximum, e.defaultValue) << e.key;
        }
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i) EXPECT_LE(spans[i - 1].second, spans[i].first);
    // 9 recent files + 3 paths, 4+5 [Start], 8 [View], 1, 10+14 [Browser], 11 [Save], 9 [Load],
    // 9 [Slide], 3 [Rename], 12 [Html], 4 [Print], 1 + 25 [Process], 1, 1.
    size_t keyCount = 0;
    for (size_t i = 0; i < count; ++i) keyCount += table[i].count;
    EXPECT_EQ(keyCount, 12u + 9 + 8 + 1 + 24 + 11 + 9 + 9 + 3 + 12 + 4 + 26 + 1 + 1);
}

TEST(ViewerSettings, ValuesOutsideTheirRangeAreClampedOrFallBack) {
    struct Case {
        const char* section;
        const char* key;
        const char* text;
        int32_t expected;
    } cases[] = {
        {"Save", "JpegQuality", "150", 100},      // clamped
        {"Save", "JpegQuality", "-3", 0},
        {"Save", "JpegQuality", "75", 75},
        {"Save", "TiffCompress", "7", 0},         // enumeration: default
        {"Load", "GrobBpp", "3", 0},              // a table index
        {"Load", "Width", "0", 1},                // raw width is a divisor
        {"Load", "Width", "junk", 1},             // not a number reads as 0
        {"Load", "Height", "70000", 32767},
        {"Browser", "Layout", "0", 1},
        {"Browser", "Layout", "5", 5},
        {"Browser", "IconWidth", "0", 8},
        {"Browser", "Viewas", "9", 0},
        {"Slide", "Timer", "0", 1},
        {"Html", "TableColumns", "0", 1},
        {"Html", "Sort", "259", 259},             // 0x103: type, reversed
        {"Html", "Sort", "5", 0},                 // no sort key 5
        {"Html", "Sort", "512", 0},
        {"View", "StatusBar", "2", 1},            // a flag outside 0/1: default
        {"View", "StatusBar", "0", 0},
        {"Print", "XScale", "0", 1},
        {"Process", "LastValue_3", "-7", -1},
        {"Process", "LastValue_3", "40", 40},
        {"Start", "X", "-40000", -32768},
        {"Start", "Width", "-5", -1},
    };
    for (const Case& c : cases) {
        MemoryProfile p;
        p.set(c.section, c.key, c.text);
        Settings s;
        loadSettingsFrom(&p, &s);
        std::string key = c.key;
        int index = 0;
        size_t underscore = key.find('_');
        if (underscore != std::string::npos) {
            index = atoi(key.c_str() + underscore + 1);
            key = key.substr(0, underscore);
        }
        int32_t v = 0;
        ASSERT_TRUE(getSettingInt(s, c.section, key.c_str(), index, &v)) << c.key;
        EXPECT_EQ(v, c.expected) << c.section << "/" << c.key << "=" << c.text;
    }
}

TEST(ViewerSettings, SavingTruncatesEveryNumberTo16Bits) {
    struct Case {
        int32_t value;
        const char* text;
    } cases[] = {{0, "0"}, {-1, "-1"}, {32767, "32767"}, {32768, "-32768"}, {65536, "0"}, {70000, "4464"},
                 {-32769, "32767"}};
    for (const Case& c : cases) {
        char text[16];
        formatProfileInt(c.value, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.value;
    }
    Settings s;
    setDefaultSettings(&s);
    s.rawOffset = 40000;  // set behind the validation, as a caller could
    MemoryProfile p;
    saveSettingsTo(s, &p);
    EXPECT_EQ(p.get("Load", "Offset"), "-25536");
}

TEST(ViewerSettings, RoundTripKeepsEveryValue) {
    Settings a;
    setDefaultSettings(&a);
    snprintf(a.recentFiles[0], PATH_SIZE, "C:\\images\\un.bmp");
    snprintf(a.recentFiles[1], PATH_SIZE, "C:\\images\\deux été.gif");
    snprintf(a.pathLoad, PATH_SIZE, "C:\\images\\");
    snprintf(a.htmlOutputDirectory, PATH_SIZE, "D:\\web\\");
    snprintf(a.renameTemplate, TEMPLATE_SIZE, "vacances##");
    a.x = 12;
    a.y = -4;
    a.width = 640;
    a.height = 480;
    a.alwaysOnTop = 1;
    a.fullRowSelect = 1;
    a.jpegQuality = 42;
    a.tiffCompress = TIFF_SAVE_LZW_PREDICTOR;
    a.lastValue[24] = 99;
    a.htmlSort = 0x102;
    MemoryProfile p;
    saveSettingsTo(a, &p);
    EXPECT_EQ(p.get("Browser", "FullRowSelect"), "1");
    EXPECT_EQ(p.get("Kaleos", "FileName_1"), "C:\\images\\deux été.gif");
    EXPECT_FALSE(p.has("Kaleos", "FileName_2"));
    Settings b;
    loadSettingsFrom(&p, &b);
    EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);
}

TEST(ViewerSettings, ShrunkRecentListLeavesHigherKeysInTheFile) {
    MemoryProfile p;
    p.set("Kaleos", "FileName_0", "a.bmp");
    p.set("Kaleos", "FileName_1", "b.bmp");
    p.set("Kaleos", "FileName_2", "c.bmp");
    Settings s;
    loadSettingsFrom(&p, &s);
    EXPECT_STREQ(s.recentFiles[2], "c.bmp");
    s.recentFiles[1][0] = '\0';  // the list now ends after slot 0
    p.writes.clear();
    saveSettingsTo(s, &p);
    EXPECT_EQ(std::count(p.writes.begin(), p.writes.end(), "Kaleos/FileName_0"), 1);
    EXPECT_EQ(std::count(p.writes.begin(), p.writes.end(), "Kaleos/FileName_1"), 0);
    EXPECT_EQ(std::count(p.writes.begin(), p.writes.end(), "Kaleos/FileName_2"), 0);
    EXPECT_EQ(p.get("Kaleos", "FileName_2"), "c.bmp");
    // The first key written is the list, then the paths, in table order.
    ASSERT_GE(p.writes.size(), 4u);
    EXPECT_EQ(p.writes[0], "Kaleos/FileName_0");
    EXPECT_EQ(p.writes[1], "Kaleos/PathLoad");
    EXPECT_EQ(p.writes[3], "Kaleos/PathBrowse");
}

TEST(ViewerSettings, GapInRecentEntriesEndsTheList) {
    MemoryProfile p;
    p.set("Kaleos", "FileName_0", "a.bmp");
    p.set("Kaleos", "FileName_2", "c.bmp");
    Settings s;
    loadSettingsFrom(&p, &s);
    EXPECT_EQ(recentCount(s.recentFiles), 1);
}

TEST(ViewerSettings, LongStringsAreCutToTheirBuffers) {
    MemoryProfile p;
    p.set("Kaleos", "PathLoad", std::string(400, 'x'));
    p.set("Rename", "Template", std::string(100, 'y'));
    Settings s;
    loadSettingsFrom(&p, &s);
    EXPECT_EQ(strlen(s.pathLoad), static_cast<size_t>(MAX_PATH_CHARS));
    EXPECT_EQ(strlen(s.renameTemplate), static_cast<size_t>(TEMPLATE_SIZE - 1));
}

TEST(ViewerSettings, SetSettingValidatesLikeLoading) {
    Settings s;
    setDefaultSettings(&s);
    EXPECT_TRUE(setSettingInt(&s, "Save", "PngQuality", 0, 101));
    EXPECT_EQ(s.pngQuality, 100);
    EXPECT_TRUE(setSettingInt(&s, "Load", "ChannelType", 0, 9));
    EXPECT_EQ(s.channelType, 1);
    EXPECT_FALSE(setSettingInt(&s, "Kaleos", "PathLoad", 0, 1));   // a string
    EXPECT_FALSE(setSettingInt(&s, "Process", "LastValue", 25, 1));  // past the family
    EXPECT_FALSE(setSettingInt(&s, "Save", "NoSuchKey", 0, 1));
}

struct ProbeFiles {
    std::map<std::string, PathKind> kinds;
};

PathKind probe(const char* path, void* datum) {
    auto* files = static_cast<ProbeFiles*>(datum);
    auto it = files->kinds.find(path);
    return it == files->kinds.end() ? PATH_MISSING : it->second;
}

TEST(ViewerSettings, ChoosingTheSettingsFile) {
    const char* module = "C:\\Program Files\\Kaleos\\kaleos.exe";
    struct Case {
        const char* name;
        const char* given;
        std::map<std::string, PathKind> files;
        const char* expected;
    } cases[] = {
        {"given file", "D:\\conf\\my.ini", {{"D:\\conf\\my.ini", PATH_FILE}}, "D:\\conf\\my.ini"},
        {"given folder falls back", "D:\\conf", {{"D:\\conf", PATH_FOLDER}}, "kaleos.ini"},
        {"given missing, next to program",
         "D:\\none.ini",
         {{"C:\\Program Files\\Kaleos\\kaleos.ini", PATH_FILE}},
         "C:\\Program Files\\Kaleos\\kaleos.ini"},
        {"nothing anywhere", "", {}, "kaleos.ini"},
        {"folder named kaleos.ini", nullptr, {{"C:\\Program Files\\Kaleos\\kaleos.ini", PATH_FOLDER}}, "kaleos.ini"},
    };
    for (auto& c : cases) {
        ProbeFiles files{c.files};
        char out[PATH_SIZE];
        chooseSettingsPath(c.given, module, probe, &files, out);
        EXPECT_STREQ(out, c.expected) << c.name;
    }
    // A program folder too long for a 259-byte path is not used.
    std::string deep = "C:\\" + std::string(250, 'd') + "\\kaleos.exe";
    ProbeFiles files;
    files.kinds["C:\\" + std::string(250, 'd') + "\\kaleos.ini"] = PATH_FILE;
    char out[PATH_SIZE];
    chooseSettingsPath(nullptr, deep.c_str(), probe, &files, out);
    EXPECT_STREQ(out, "kaleos.ini");
    std::string longGiven(300, 'g');
    files.kinds[longGiven] = PATH_FILE;
    chooseSettingsPath(longGiven.c_str(), "kaleos.exe", probe, &files, out);
    EXPECT_STREQ(out, "kaleos.ini");
}

// ---- Command line -------------------------------------------------------------------

TEST(ViewerCommandLine, Tokens) {
    using V = std::vector<std::string>;
    struct Case {
        const char* line;
        V expected;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"a.bmp", {"a.bmp"}},
        {"  a.bmp   b.gif ", {"a.bmp", "b.gif"}},
        {"\"C:\\My Pictures\\a.jpg\"", {"C:\\My Pictures\\a.jpg"}},
        {"-full \"C:\\My Pictures\\a.jpg\"", {"-full", "C:\\My Pictures\\a.jpg"}},
        {"\"a b.bmp\" -full \"c d.bmp\"", {"a b.bmp", "-full", "c d.bmp"}},
        {"\"a b.bmp\"\"c.bmp\"", {"a b.bmpc.bmp"}},
        {"x\"y z\"w", {"xy zw"}},
        {"\"\" a", {"a"}},
        {"\"unterminated quote", {"unterminated quote"}},
        {"-ini\tk.ini", {"-ini", "k.ini"}},
    };
    for (const Case& c : cases) EXPECT_EQ(tokenizeCommandLine(c.line), c.expected) << "[" << c.line << "]";
}

TEST(ViewerCommandLine, IniAndViewOptions) {
    using V = std::vector<std::string>;
    EXPECT_EQ(findIniOption(V{"a.bmp", "-ini", "k.ini", "b.bmp"}), "k.ini");
    EXPECT_EQ(findIniOption(V{"a.bmp", "-ini"}), "");
    EXPECT_EQ(findIniOption(V{"-INI", "k.ini"}), "");  // options are case-sensitive
    EXPECT_EQ(findIniOption(V{"-ini", std::string(259, 'k')}), "");
    EXPECT_EQ(findIniOption(V{"-ini", std::string(258, 'k')}), std::string(258, 'k'));
    EXPECT_TRUE(hasOption(V{"a", "-view"}, "-view"));
    EXPECT_FALSE(hasOption(V{"a", "-View"}, "-view"));
}

bool folderProbe(const char* path, void*) { return strcmp(path, "C:\\photos") == 0 || strcmp(path, "D:\\") == 0; }

// A plan written as text: "open a | list a,b | browse | path X | slide s | full | forward a".
std::string describe(const CommandLinePlan& plan) {
    std::string s;
    for (const Action& a : plan.actions) {
        if (!s.empty()) s += " | ";
        switch (a.kind) {
        case ACT_OPEN_FILE: s += "open " + a.paths[0]; break;
        case ACT_OPEN_LIST: {
            s += "list ";
            for (size_t i = 0; i < a.paths.size(); ++i) s += (i ? "," : "") + a.paths[i];
            break;
        }
        case ACT_SET_BROWSE_PATH: s += "path " + a.paths[0]; break;
        case ACT_OPEN_BROWSER: s += "browse"; break;
        case ACT_RUN_SLIDE_SHOW: s += "slide " + a.paths[0]; break;
        case ACT_FULL_SCREEN: s += "full"; break;
        case ACT_FORWARD_PATH: s += "forward " + a.paths[0]; break;
        }
    }
    return s;
}

TEST(ViewerCommandLine, Interpretation) {
    struct Case {
        const char* line;
        CommandLineMode mode;
        bool browserAtStartup;
        const char* expected;
    } cases[] = {
        {"a.bmp", MODE_NORMAL, false, "open a.bmp"},
        {"a.bmp b.bmp c.bmp", MODE_NORMAL, false, "list a.bmp,b.bmp,c.bmp"},
        {"-all a.bmp b.bmp", MODE_NORMAL, false, "open a.bmp | open b.bmp"},
        {"a.bmp -all b.bmp", MODE_NORMAL, false, "open b.bmp | open a.bmp"},
        {"C:\\photos", MODE_NORMAL, false, "path C:\\photos | browse"},
        {"C:\\photos", MODE_NORMAL, true, "path C:\\photos"},
        {"-browser", MODE_NORMAL, false, "browse"},
        {"-full a.bmp", MODE_NORMAL, false, "open a.bmp | full"},
        {"-slide show.sld a.bmp", MODE_NORMAL, false, "slide show.sld | open a.bmp"},
        {"a.bmp -slide", MODE_NORMAL, false, "open a.bmp"},
        {"-ini k.ini a.bmp", MODE_NORMAL, false, "open a.bmp"},
        {"a.bmp -ini", MODE_NORMAL, false, "open a.bmp"},
        {"-view a.bmp", MODE_NORMAL, false, "open a.bmp"},
        {"-Full a.bmp", MODE_NORMAL, false, "list -Full,a.bmp"},
        {"\"a b.bmp\" -full \"c d.bmp\"", MODE_NORMAL, false, "list a b.bmp,c d.bmp | full"},
        {"a.bmp C:\\photos", MODE_FORWARD, false, "forward a.bmp | forward C:\\photos"},
        {"-full a.bmp", MODE_FORWARD, false, "forward a.bmp | full"},
        {"-browser -slide s.sld -all a.bmp", MODE_FORWARD, false, "forward a.bmp"},
        {"", MODE_NORMAL, false, ""},
    };
    for (const Case& c : cases) {
        CommandLinePlan plan =
            interpretCommandLine(tokenizeCommandLine(c.line), c.mode, c.browserAtStartup, folderProbe, nullptr);
        EXPECT_EQ(describe(plan), c.expected) << "[" << c.line << "] mode " << c.mode;
        EXPECT_TRUE(plan.refused.empty()) << c.line;
    }
}

TEST(ViewerCommandLine, OverlongTokensAreRefused) {
    std::string longName(259, 'n');
    std::vector<std::string> tokens = {"a.bmp", longName, "-slide", longName, "b.bmp"};
    for (CommandLineMode mode : {MODE_NORMAL, MODE_FORWARD}) {
        CommandLinePlan plan = interpretCommandLine(tokens, mode, false, folderProbe, nullptr);
        EXPECT_EQ(plan.refused.size(), 2u);
        EXPECT_EQ(describe(plan), mode == MODE_NORMAL ? "list a.bmp,b.bmp" : "forward a.bmp | forward b.bmp");
    }
    std::vector<std::string> fits = {std::string(258, 'n')};
    EXPECT_EQ(interpretCommandLine(fits, MODE_NORMAL, false, folderProbe, nullptr).actions.size(), 1u);
}

// ---- Recent files ----------------------------------------------------------------------

TEST(ViewerRecentFiles, AddingMovingAndRefusing) {
    char slots[RECENT_COUNT][PATH_SIZE] = {};
    RecentResult r = addRecentFile(slots, "C:\\a.bmp");
    EXPECT_EQ(r.change, RECENT_APPENDED);
    EXPECT_EQ(r.slot, 0);
    EXPECT_TRUE(r.separatorFirst);
    r = addRecentFile(slots, "C:\\b.bmp");
    EXPECT_EQ(r.slot, 1);
    EXPECT_FALSE(r.separatorFirst);
    EXPECT_EQ(addRecentFile(slots, "C:\\a.bmp").change, RECENT_UNCHANGED);  // already listed: stays put
    EXPECT_EQ(addRecentFile(slots, "c:\\A.BMP").change, RECENT_APPENDED);   // case-sensitive comparison
    EXPECT_EQ(addRecentFile(slots, "").change, RECENT_UNCHANGED);
    EXPECT_EQ(addRecentFile(slots, std::string(259, 'p').c_str()).change, RECENT_UNCHANGED);
    EXPECT_EQ(recentCount(slots), 3);
    EXPECT_STREQ(slots[0], "C:\\a.bmp");
}

TEST(ViewerRecentFiles, TenthFileGoesFirstAndDropsTheLast) {
    char slots[RECENT_COUNT][PATH_SIZE] = {};
    for (int i = 0; i < RECENT_COUNT; ++i) {
        std::string p = "f" + std::to_string(i);
        EXPECT_EQ(addRecentFile(slots, p.c_str()).change, RECENT_APPENDED);
    }
    RecentResult r = addRecentFile(slots, "new");
    EXPECT_EQ(r.change, RECENT_SHIFTED);
    EXPECT_EQ(r.slot, 0);
    const char* expected[RECENT_COUNT] = {"new", "f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7"};
    for (int i = 0; i < RECENT_COUNT; ++i) EXPECT_STREQ(slots[i], expected[i]) << i;
    EXPECT_EQ(addRecentFile(slots, "f8").change, RECENT_SHIFTED);  // f8 had been dropped
    EXPECT_EQ(addRecentFile(slots, "f3").change, RECENT_UNCHANGED);
}

TEST(ViewerRecentFiles, MenuLabels) {
    char label[300];
    recentMenuLabel(0, "C:\\a.bmp", label, sizeof label);
    EXPECT_STREQ(label, "&1. C:\\a.bmp");
    recentMenuLabel(8, "z", label, sizeof label);
    EXPECT_STREQ(label, "&9. z");
}

// ---- Display tables ----------------------------------------------------------------------

TEST(ViewerDisplay, CubeLevelsAndFractions) {
    DisplayTables t;
    buildDisplayTables(&t);
    struct Case {
        int v, fraction, lowerRed, upperBlue;
    } cases[] = {
        {0, 0, 0, 1},       {50, 61, 0, 1},   {51, 0, 36, 2},    {101, 61, 36, 2}, {102, 0, 72, 3},
        {204, 0, 144, 5},   {254, 61, 144, 5}, {255, 63, 144, 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t.fraction[0][c.v], c.fraction) << c.v;
        EXPECT_EQ(t.lower[0][c.v], c.lowerRed) << c.v;
        EXPECT_EQ(t.upper[2][c.v], c.upperBlue) << c.v;
        EXPECT_EQ(t.upper[1][c.v], t.lower[1][c.v] + 6) << c.v;
    }
    // The upper level only where the fraction exceeds the matrix.
    EXPECT_FALSE(t.useUpper[0][0][0]);
    EXPECT_TRUE(t.useUpper[0][0][1]);
    EXPECT_FALSE(t.useUpper[0][7][50]);
    EXPECT_TRUE(t.useUpper[0][7][51]);
    EXPECT_TRUE(t.useUpper[7][7][17]);
    EXPECT_FALSE(t.useUpper[7][7][16]);
}

TEST(ViewerDisplay, CubeIndexOfPureColoursAndDitheredGrey) {
    DisplayTables t;
    buildDisplayTables(&t);
    uint8_t rgb[3];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(cubeIndex(t, 0, 0, 0, x, y), 0);
            EXPECT_EQ(cubeIndex(t, 255, 255, 255, x, y), 215);
            EXPECT_EQ(cubeIndex(t, 255, 0, 0, x, y), 180);
            EXPECT_EQ(cubeIndex(t, 0, 102, 0, x, y), 12);
        }
    cubeColour(215, rgb);
    EXPECT_EQ(rgb[0], 255);
    cubeColour(36 * 2 + 6 * 3 + 4, rgb);
    EXPECT_EQ(rgb[0], 102);
    EXPECT_EQ(rgb[1], 153);
    EXPECT_EQ(rgb[2], 204);
    // A grey halfway between two levels takes the upper one on about half the cells.
    int upper = 0;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) upper += cubeIndex(t, 76, 76, 76, x, y) != 43;
    EXPECT_GT(upper, 16);
    EXPECT_LT(upper, 48);
}

TEST(ViewerDisplay, DibOfEachKind) {
    DisplayTables t;
    buildDisplayTables(&t);
    struct Case {
        const char* name;
        uint16_t kind;
        int colours;
        std::vector<uint8_t> pixels;  // 3 x 1
        std::vector<uint8_t> bgr;     // the 24-bit result
    } cases[] = {
        {"binary", IMG_BINARY, 2, {0, 1, 0}, {0, 0, 0, 255, 255, 255, 0, 0, 0}},
        {"grey 4 levels", IMG_GREY, 4, {0, 3, 1}, {0, 0, 0, 255, 255, 255, 85, 85, 85}},
        {"grey with no count", IMG_GREY, 0, {0, 255, 128}, {0, 0, 0, 255, 255, 255, 128, 128, 128}},
        {"grey one level", IMG_GREY, 1, {0, 255, 7}, {0, 0, 0, 255, 255, 255, 7, 7, 7}},
        {"rgb", IMG_RGB, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {3, 2, 1, 6, 5, 4, 9, 8, 7}},
        {"bgr", IMG_BGR, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"rgb32", IMG_RGB32, 0, {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}, {3, 2, 1, 6, 5, 4, 9, 8, 7}},
        {"bgr32", IMG_BGR32, 0, {0, 1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
    };
    for (const Case& c : cases) {
        OwnedImage img;
        ASSERT_TRUE(createImage(&img, c.kind, 1, 3, 1)) << c.name;
        img.colours = c.colours;
        memcpy(img.pixels, c.pixels.data(), c.pixels.size());
        DibBuffer dib;
        ASSERT_TRUE(buildDib(img, 24, t, &dib)) << c.name;
        EXPECT_EQ(dib.stride, 12) << c.name;
        EXPECT_EQ(std::vector<uint8_t>(dib.pixels.get(), dib.pixels.get() + 9), c.bgr) << c.name;
    }
}

TEST(ViewerDisplay, DibRowsAreBottomUpAndPadded) {
    DisplayTables t;
    buildDisplayTables(&t);
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_PALETTE, 1, 5, 2));
    if (!img.palette) img.palette = static_cast<uint8_t*>(calloc(PALETTE_BYTES, 1));
    ASSERT_NE(img.palette, nullptr);
    memset(img.palette, 0, PALETTE_BYTES);
    img.palette[3] = 200;           // red of entry 3
    img.palette[256 + 3] = 100;     // green
    img.palette[512 + 3] = 50;      // blue
    img.colours = 256;
    imageRow(&img, 0)[4] = 3;
    DibBuffer dib;
    ASSERT_TRUE(buildDib(img, 8, t, &dib));
    EXPECT_EQ(dib.bitsPerPixel, 8);
    EXPECT_EQ(dib.stride, 8);
    EXPECT_EQ(dib.colourCount, 256);
    EXPECT_EQ(dib.pixels[8 + 4], 3);  // image row 0 is the last DIB row
    EXPECT_EQ(dib.pixels[4], 0);
    EXPECT_EQ(dib.colours[3][0], 50);
    EXPECT_EQ(dib.colours[3][2], 200);
    ASSERT_TRUE(buildDib(img, 32, t, &dib));
    EXPECT_EQ(dib.stride, 16);
    EXPECT_EQ(dib.pixels[16 + 12], 50);
    EXPECT_EQ(dib.pixels[16 + 14], 200);
}

TEST(ViewerDisplay, TrueColourOn256ColoursUsesTheCube) {
    DisplayTables t;
    buildDisplayTables(&t);
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 1, 2, 1));
    uint8_t px[6] = {255, 0, 0, 255, 255, 255};
    memcpy(img.pixels, px, 6);
    DibBuffer dib;
    ASSERT_TRUE(buildDib(img, 8, t, &dib));
    EXPECT_EQ(dib.colourCount, 216);
    EXPECT_EQ(dib.pixels[0], 180);
    EXPECT_EQ(dib.pixels[1], 215);
    EXPECT_EQ(dib.colours[180][2], 255);  // red
    EXPECT_EQ(dib.colours[180][1], 0);
}

TEST(ViewerDisplay, EmptyOrInconsistentImagesAreRefused) {
    DisplayTables t;
    buildDisplayTables(&t);
    DibBuffer dib;
    Image none{};
    EXPECT_FALSE(buildDib(none, 24, t, &dib));
    OwnedImage img;
    ASSERT_TRUE(createImage(&img, IMG_RGB, 1, 4, 4));
    img.stride = 3;  // shorter than a row
    EXPECT_FALSE(buildDib(img, 24, t, &dib));
}

// ---- Tool bar, routing, view-only -----------------------------------------------------

TEST(ViewerFrameTables, ToolBarButtonsAndImages) {
    size_t count = 0;
    const ToolButton* b = toolbarButtons(&count);
    ASSERT_EQ(count, 34u);
    int separators = 0;
    for (size_t i = 0; i < count; ++i) {
        if (b[i].image < 0) {
            ++separators;
            EXPECT_GE(b[i].command, TB_SEP_FIRST);
            EXPECT_LE(b[i].command, TB_SEP_LAST);
        } else {
            EXPECT_LT(b[i].image, TOOLBAR_IMAGE_COUNT) << "button " << i;
        }
    }
    EXPECT_EQ(separators, 7);
    EXPECT_EQ(b[0].command, CMD_BROWSE);
    EXPECT_EQ(b[25].image, 24);  // "Création de vignette" uses the 25th image
    EXPECT_EQ(b[33].command, CMD_ABOUT);
}

TEST(ViewerFrameTables, ToolBarContexts) {
    size_t count = 0;
    const ToolButton* b = toolbarButtons(&count);
    struct Case {
        ToolbarContext context;
        std::set<int> shown;
    } cases[] = {
        {CONTEXT_NONE, {4, 1, 15, 16, 13, 183, 191, 1000, 1001}},
        {CONTEXT_IMAGE, {4, 1, 7, 21, 20, 143, 144, 23, 22, 27, 26, 140, 11, 15, 16, 1002, 1003, 1004, 13, 183,
                         191, 1000, 1001}},
        {CONTEXT_BROWSER, {4, 201, 240, 205, 206, 207, 208, 11, 221, 222, 223, 1005, 13, 183, 191, 1000, 1001}},
    };
    for (const Case& c : cases) {
        std::set<int> shown;
        for (size_t i = 0; i < count; ++i)
            if (toolbarButtonShown(c.context, b[i].command)) shown.insert(b[i].command);
        EXPECT_EQ(shown, c.shown) << "context " << c.context;
    }
}

TEST(ViewerFrameTables, CommandRoutes) {
    struct Case {
        int id;
        CommandRoute route;
    } cases[] = {
        {1, ROUTE_FRAME},   {4, ROUTE_FRAME},   {5, ROUTE_CHILD},   {7, ROUTE_CHILD},   {8, ROUTE_FRAME},
        {9, ROUTE_FRAME},   {10, ROUTE_CHILD},  {11, ROUTE_CHILD},  {12, ROUTE_FRAME},  {17, ROUTE_FRAME},
        {18, ROUTE_FRAME},  {19, ROUTE_NONE},   {20, ROUTE_CHILD},  {30, ROUTE_CHILD},  {31, ROUTE_NONE},
        {50, ROUTE_CHILD},  {153, ROUTE_CHILD}, {154, ROUTE_NONE},  {164, ROUTE_CHILD}, {180, ROUTE_CHILD},
        {181, ROUTE_FRAME}, {183, ROUTE_FRAME}, {184, ROUTE_NONE},  {185, ROUTE_FRAME}, {193, ROUTE_FRAME},
        {194, ROUTE_NONE},  {200, ROUTE_CHILD}, {255, ROUTE_CHILD}, {279, ROUTE_NONE},  {280, ROUTE_RECENT},
        {288, ROUTE_RECENT}, {289, ROUTE_NONE}, {300, ROUTE_NONE},  {0, ROUTE_NONE},
    };
    for (const Case& c : cases) EXPECT_EQ(commandRoute(c.id), c.route) << c.id;
}

TEST(ViewerFrameTables, ViewOnlyRemovals) {
    std::set<int> removed;
    for (int id = 0; id < 300; ++id)
        if (removedInViewOnly(id)) removed.insert(id);
    std::set<int> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 15, 16, 182, 183, 185};
    EXPECT_EQ(removed, expected);
}

// ---- Format lists --------------------------------------------------------------------------

TEST(ViewerFormatRows, RegistryOrderAndNameOrder) {
    std::vector<FormatRow> byId = buildFormatRows(true);
    ASSERT_EQ(byId.size(), static_cast<size_t>(formatCount()));
    for (size_t i = 0; i < byId.size(); ++i) EXPECT_EQ(byId[i].index, static_cast<int>(i));
    EXPECT_EQ(byId[0].name, "JPEG v6.0");
    EXPECT_EQ(byId[0].extensions, "jpg,jpeg,jif,jfif,J");
    int bmp = findFormat("bmp");
    ASSERT_GE(bmp, 0);
    EXPECT_TRUE(byId[bmp].canRead);
    EXPECT_TRUE(byId[bmp].canWrite);
    std::vector<FormatRow> byName = buildFormatRows(false);
    ASSERT_EQ(byName.size(), byId.size());
    for (size_t i = 1; i < byName.size(); ++i) {
        std::string a = byName[i - 1].name, b = byName[i].name;
        for (char& ch : a) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        for (char& ch : b) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        EXPECT_LE(a, b) << i;
    }
}

TEST(ViewerFormatRows, AssociationRows) {
    std::vector<AssociationRow> byName = buildAssociationRows(true);
    ASSERT_EQ(byName.size(), static_cast<size_t>(formatCount()));
    EXPECT_EQ(byName[0].label, "JPEG v6.0");
    EXPECT_EQ(byName[0].detail, "jpg,jpeg,jif,jfif,J");
    EXPECT_EQ(byName[0].extensions.size(), 5u);

    std::vector<AssociationRow> byExt = buildAssociationRows(false);
    std::set<std::string> seen;
    for (size_t i = 0; i < byExt.size(); ++i) {
        std::string lower = byExt[i].label;
        for (char& ch : lower) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(seen.insert(lower).second) << "twice: " << byExt[i].label;
        EXPECT_LT(byExt[i].detail.size(), ASSOCIATION_DETAIL_LIMIT);
        EXPECT_FALSE(byExt[i].detail.empty()) << byExt[i].label;
        ASSERT_EQ(byExt[i].extensions.size(), 1u);
        if (i > 0) {
            std::string prev = byExt[i - 1].label;
            for (char& ch : prev) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
            EXPECT_LT(prev, lower);
        }
    }
    // "yuv" is shared by several formats: their descriptions are joined.
    auto yuv = std::find_if(byExt.begin(), byExt.end(), [](const AssociationRow& r) { return r.label == "yuv"; });
    ASSERT_NE(yuv, byExt.end());
    EXPECT_NE(yuv->detail.find(" | "), std::string::npos);
    // "J" (JPEG) and "jpg" are distinct extensions, but "j" only once whatever its case.
    EXPECT_EQ(seen.count("j"), 1u);
}

// ---- Options dialog table ------------------------------------------------------------------

TEST(ViewerOptions, ControlsMapToKeysInTheirCategory) {
    size_t count = 0;
    const OptionControl* controls = optionControls(&count);
    std::set<int> ids;
    Settings s;
    setDefaultSettings(&s);
    for (size_t i = 0; i < count; ++i) {
        const OptionControl& c = controls[i];
        EXPECT_TRUE(ids.insert(c.control).second) << c.control;
        int32_t v;
        EXPECT_TRUE(getSettingInt(s, c.section, c.key, 0, &v)) << c.section << "/" << c.key;
        EXPECT_GE(optionCategoryOf(c.control), 0) << c.control;
    }
    struct Case {
        int control;
        int category;
    } cases[] = {{2000, 0}, {2001, 0}, {2016, 0}, {2017, 1}, {2032, 1}, {2033, 2},
                 {2043, 2}, {2044, 3}, {2052, 3}, {2053, -1}, {1999, -1}};
    for (const Case& c : cases) EXPECT_EQ(optionCategoryOf(c.control), c.category) << c.control;
    EXPECT_EQ(optionCategoryOf(IDC_OPT_ONLY_ONE_INSTANCE), OPTION_CATEGORY_MISC);
    EXPECT_EQ(optionCategoryOf(IDC_OPT_FULL_ROW_SELECT), OPTION_CATEGORY_BROWSER);
}

TEST(ViewerOptions, QualitySpin) {
    struct Case {
        int value, delta, expected;
    } cases[] = {{50, 1, 51}, {50, -1, 49}, {100, 1, 100}, {0, -1, 0}, {99, 1, 100}, {1, -1, 0}, {150, -1, 100}};
    for (const Case& c : cases) EXPECT_EQ(stepQuality(c.value, c.delta), c.expected) << c.value << " " << c.delta;
}

TEST(ViewerOptions, WriterOptionsComeFromTheirSaveKeys) {
    // Every [Save] key is a writer option with the same range and default.
    size_t keyCount = 0, saveKeys = 0;
    const SettingEntry* table = settingsTable(&keyCount);
    for (size_t i = 0; i < keyCount; ++i) {
        if (strcmp(table[i].section, "Save") != 0) continue;
        ++saveKeys;
        const WriterOption* w = writerOptionOfSetting(table[i].key);
        ASSERT_NE(w, nullptr) << table[i].key;
        EXPECT_EQ(table[i].minimum, w->minimum) << table[i].key;
        EXPECT_EQ(table[i].maximum, w->maximum) << table[i].key;
        EXPECT_EQ(table[i].defaultValue, w->defaultValue) << table[i].key;
    }
    size_t optionCount = 0;
    const WriterOption* options = writerOptions(&optionCount);
    EXPECT_EQ(saveKeys, optionCount);

    // Each option reaches its own slot; the other slots carry the unused values.
    std::vector<uint8_t> rc;
    ASSERT_TRUE(testutil::readFile(std::string(KALEO_SOURCE_DIR) + "/resources/kaleos.rc", &rc));
    const std::string resources(rc.begin(), rc.end());
    for (size_t i = 0; i < optionCount; ++i) {
        const WriterOption& w = options[i];
        SCOPED_TRACE(w.settingsKey);
        Settings s;
        setDefaultSettings(&s);
        ASSERT_TRUE(setSettingInt(&s, "Save", w.settingsKey, 0, w.maximum));
        IoOptions o = defaultIoOptions();
        writerOptionsFromSettings(s, w.format, &o);
        for (int slot = 1; slot <= WRITER_SLOT_COUNT; ++slot) {
            const WriterOption* other = findWriterOption(w.format, slot);
            int32_t expected = slot == 1 ? WRITER_UNUSED_COMPRESSION : slot == 2 ? WRITER_UNUSED_QUALITY
                                                                                  : WRITER_UNUSED_PROGRESSIVE;
            if (other == &w) expected = w.maximum;
            else if (other) expected = other->defaultValue;
            EXPECT_EQ(writerSlotValue(o, slot), expected) << slot;
        }
        // The options dialog shows it under its label, on a control of the writing category.
        bool shown = false;
        size_t controlCount = 0;
        const OptionControl* controls = optionControls(&controlCount);
        for (size_t k = 0; k < controlCount; ++k)
            if (strcmp(controls[k].key, w.settingsKey) == 0) {
                shown = true;
                EXPECT_EQ(optionCategoryOf(controls[k].control), 0);
                EXPECT_EQ(controls[k].kind == OPT_LIST, writerOptionChoices(w.settingsKey) != nullptr);
            }
        EXPECT_TRUE(shown);
        ASSERT_NE(w.label, nullptr);
        EXPECT_NE(resources.find(std::string("\"") + w.label + "\""), std::string::npos) << w.label;
    }
    // A format without options gets the unused values only.
    Settings s;
    setDefaultSettings(&s);
    IoOptions o = defaultIoOptions();
    writerOptionsFromSettings(s, "pnm", &o);
    EXPECT_EQ(o.writerOption1, WRITER_UNUSED_COMPRESSION);
    EXPECT_EQ(o.writerOption2, WRITER_UNUSED_QUALITY);
    EXPECT_EQ(o.writerOption3, WRITER_UNUSED_PROGRESSIVE);
}

}  // namespace
