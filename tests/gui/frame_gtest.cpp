// The viewer's frame under Wine: classes and title, menus and tool bar
// contexts, the recent-file list, the command line, the dialogs reading and
// writing the settings, "kaleos.ini" on exit, the registry integration and a
// second instance handing its file to the first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "gui.h"
#include "menuops.h"
#include "resource.h"

namespace {

constexpr int BUTTON_OK = 1;
constexpr int BUTTON_CANCEL = 2;
constexpr int BUTTON_NO = 7;

// Texts as the ANSI functions return them (Windows-1252).
const std::string DEFAULT_MENUS = "&Fichier|&Affichage|F&en\xeatre|I&nfo";
const std::string IMAGE_MENUS = "&Fichier|&Image|Fi&ltre|&Affichage|F&en\xeatre|I&nfo";

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

std::set<int> asSet(const std::vector<int>& v) { return std::set<int>(v.begin(), v.end()); }

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        ini = folder + "k.ini";
        ASSERT_TRUE(gui::writeText(ini, ""));
        a = gui::writeBitmap(folder, "a.bmp", 40, 30);
        b = gui::writeBitmap(folder, "b.bmp", 7, 5);
        c = gui::writeBitmap(folder, "c.bmp", 300, 20);
        ASSERT_FALSE(a.empty());
        ASSERT_FALSE(c.empty());
    }
    void TearDown() override {
        if (gui::frameAlive()) EXPECT_TRUE(gui::closeFrame());
    }
    bool startWith(const std::string& arguments) { return gui::start("-ini " + inQuotes(ini) + " " + arguments); }

    std::string folder, ini, a, b, c;
};

TEST_F(Frame, ClassTitleMenusToolBarAndClock) {
    ASSERT_TRUE(startWith(""));
    EXPECT_EQ(gui::frameClass(), "VmainClass");
    EXPECT_EQ(gui::frameTitle(), "Kaleos v1.12 Fr");
    EXPECT_EQ(gui::settingsPath(), ini);
    EXPECT_EQ(gui::menuBar(), DEFAULT_MENUS);
    EXPECT_EQ(gui::toolbarContext(), 0);
    EXPECT_EQ(asSet(gui::visibleToolButtons()), (std::set<int>{4, 1, 15, 16, 13, 183, 191, 1000, 1001}));
    EXPECT_TRUE(gui::toolButtonEnabled(CMD_OPEN));
    EXPECT_TRUE(gui::toolButtonEnabled(CMD_BROWSE));
    gui::pump(1200);
    EXPECT_TRUE(std::regex_match(gui::statusText(1), std::regex("[0-9]{1,2}:[0-9]{2}:[0-9]{2}"))) << gui::statusText(1);

    struct Item {
        int id;
        bool enabled;
    } items[] = {{CMD_OPEN, true},         {CMD_OPEN_ALL, true},        {CMD_VIEW_HEX, true},
                 {CMD_BROWSE, true},       {CMD_IMPORT_CLIPBOARD, false}, {CMD_CONVERT_SEQUENCE, true},
                 {CMD_SLIDE_SHOW, true},   {CMD_QUIT, true},            {CMD_STATUS_BAR, true},
                 {CMD_OPTIONS, true},      {CMD_INSTALL, true},         {CMD_CASCADE, false},
                 {CMD_CLOSE_ALL, false},   {CMD_ABOUT, true},           {CMD_FORMATS, true}};
    for (const Item& i : items) EXPECT_EQ(gui::menuItemEnabled(i.id), i.enabled) << i.id;

    EXPECT_TRUE(gui::menuItemChecked(CMD_STATUS_BAR));
    gui::sendCommand(CMD_STATUS_BAR);
    EXPECT_EQ(gui::settingInt("View", "StatusBar"), 0);
    EXPECT_FALSE(gui::menuItemChecked(CMD_STATUS_BAR));
    gui::sendCommand(CMD_STATUS_BAR);
    gui::sendCommand(CMD_TOOL_BAR);
    EXPECT_FALSE(gui::toolBarVisible());
    gui::sendCommand(CMD_TOOL_BAR);
    EXPECT_TRUE(gui::toolBarVisible());
    gui::sendCommand(CMD_STATUS_BAR);
    gui::screenshot("frame");

    ASSERT_TRUE(gui::closeFrame());
    struct Key {
        const char* section;
        const char* key;
        const char* value;
    } keys[] = {{"View", "StatusBar", "0"},      {"View", "ToolBar", "1"},        {"Save", "JpegQuality", "100"},
                {"Browser", "FullRowSelect", "0"}, {"Browser", "IconWidth", "48"}, {"Process", "LastValue_24", "-1"},
                {"Rename", "Template", "name.#"}, {"Kaleos", "PathLoad", ""},     {"Kaleos", "FileName_0", "<missing>"},
                {"Start", "Width", "-1"},         {"Convert", "HideError", "0"}};
    for (const Key& k : keys) EXPECT_EQ(gui::profileString(ini, k.section, k.key), k.value) << k.section << "/" << k.key;
}

TEST_F(Frame, ImageWindowsSwitchMenusToolBarAndRecentFiles) {
    ASSERT_TRUE(startWith(""));
    gui::openFile(a);
    ASSERT_EQ(gui::childCount(), 1);
    EXPECT_EQ(gui::childTitles()[0], "a.bmp");
    EXPECT_EQ(gui::menuBar(), IMAGE_MENUS);
    EXPECT_EQ(gui::toolbarContext(), 1);
    EXPECT_EQ(asSet(gui::visibleToolButtons()),
              (std::set<int>{4, 1, 7, 21, 20, 143, 144, 23, 22, 27, 26, 140, 11, 15, 16, 1002, 1003, 1004, 13, 183, 191,
                             1000, 1001}));
    EXPECT_NE(gui::statusText(0).find("40x30"), std::string::npos) << gui::statusText(0);
    EXPECT_EQ(gui::recentFile(0), a);
    std::string items = gui::filePopupItems();
    EXPECT_NE(items.find("|-|&1. " + a), std::string::npos) << items;
    // The image commands that apply now are enabled, the others greyed.
    EXPECT_TRUE(gui::menuItemEnabled(CMD_ZOOM_IN));
    EXPECT_TRUE(gui::menuItemEnabled(CMD_SAVE_AS));
    EXPECT_TRUE(gui::toolButtonEnabled(CMD_ZOOM_IN));
    EXPECT_FALSE(gui::menuItemEnabled(CMD_UNDO));
    EXPECT_FALSE(gui::toolButtonEnabled(CMD_NEXT_PAGE));
    EXPECT_TRUE(gui::menuItemEnabled(CMD_CLOSE));
    EXPECT_TRUE(gui::menuItemEnabled(CMD_CASCADE));

    gui::openFile(a);  // already listed: the list does not change
    EXPECT_EQ(gui::recentFile(1), "");
    gui::openFile(b);
    EXPECT_EQ(gui::recentFile(1), b);
    EXPECT_EQ(gui::childCount(), 3);
    gui::sendCommand(CMD_CASCADE);
    gui::screenshot("images");

    gui::sendCommand(CMD_CLOSE_ALL);
    gui::pump(100);
    EXPECT_EQ(gui::childCount(), 0);
    EXPECT_EQ(gui::menuBar(), DEFAULT_MENUS);
    EXPECT_EQ(gui::toolbarContext(), 0);
    items = gui::filePopupItems();
    EXPECT_NE(items.find("&1. " + a + "|&2. " + b), std::string::npos) << items;

    // The recent-file commands reopen their file.
    gui::sendCommand(CMD_RECENT_FIRST + 1);
    ASSERT_EQ(gui::childCount(), 1);
    EXPECT_EQ(gui::childTitles()[0], "b.bmp");
    ASSERT_TRUE(gui::closeFrame());
    EXPECT_EQ(gui::profileString(ini, "Kaleos", "FileName_0"), a);
    EXPECT_EQ(gui::profileString(ini, "Kaleos", "FileName_1"), b);
    EXPECT_EQ(gui::profileString(ini, "Kaleos", "FileName_2"), "<missing>");
}

TEST_F(Frame, MissingFileIsReportedAndNotListed) {
    ASSERT_TRUE(startWith(""));
    gui::answerNextMessageBox("Warning", BUTTON_OK);
    gui::openFile(folder + "absent.bmp");
    EXPECT_EQ(gui::childCount(), 0);
    EXPECT_EQ(gui::recentFile(0), "");
    EXPECT_TRUE(gui::frameAlive());
}

TEST_F(Frame, CommandLineForms) {
    struct Case {
        std::string arguments;
        std::vector<std::string> titles;
    } cases[] = {
        {inQuotes(a) + " " + inQuotes(b) + " " + inQuotes(c), {"a.bmp"}},
        {"-all " + inQuotes(a) + " " + inQuotes(b), {"a.bmp", "b.bmp"}},
        {inQuotes(a) + " -all " + inQuotes(b), {"a.bmp", "b.bmp"}},
        {"-full " + inQuotes(c), {"c.bmp"}},
        {"-ini", {}},
    };
    for (const Case& k : cases) {
        ASSERT_TRUE(startWith(k.arguments)) << k.arguments;
        std::vector<std::string> titles = gui::childTitles();
        std::sort(titles.begin(), titles.end());
        EXPECT_EQ(titles, k.titles) << k.arguments;
        ASSERT_TRUE(gui::closeFrame());
    }
    // A folder opens in the browser and is remembered as its folder.
    std::string bare = folder.substr(0, folder.size() - 1);
    ASSERT_TRUE(startWith(inQuotes(bare)));
    EXPECT_EQ(gui::browsePath(), folder);
    EXPECT_EQ(gui::childTitles(), std::vector<std::string>{"Browser [" + folder + "]"});
    ASSERT_TRUE(gui::closeFrame());
    EXPECT_EQ(gui::profileString(ini, "Kaleos", "PathBrowse"), folder);
}

TEST_F(Frame, EscapeClosesTheImageThenTheProgram) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    ASSERT_EQ(gui::childCount(), 1);
    gui::sendCommand(CMD_ESCAPE);
    EXPECT_EQ(gui::childCount(), 0);
    EXPECT_TRUE(gui::frameAlive());
    gui::sendCommand(CMD_ESCAPE);
    EXPECT_FALSE(gui::frameAlive());
    EXPECT_TRUE(gui::closeFrame());
    EXPECT_EQ(gui::profileString(ini, "Kaleos", "FileName_0"), a);
}

TEST_F(Frame, ClosingStopsWhenAnImageWindowAnswersCancel) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    gui::setActiveChildModified();
    gui::answerNextMessageBox("Warning", BUTTON_CANCEL);
    gui::sendCommand(CMD_QUIT);
    EXPECT_TRUE(gui::frameAlive());
    EXPECT_EQ(gui::childCount(), 1);
    gui::answerNextMessageBox("Warning", BUTTON_NO);
    EXPECT_TRUE(gui::closeFrame());
}

TEST_F(Frame, SessionEndAsksAboutChangedImages) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    EXPECT_TRUE(gui::queryEndSession());
    gui::setActiveChildModified();
    gui::answerNextMessageBox("Warning", BUTTON_CANCEL);
    EXPECT_FALSE(gui::queryEndSession());
    gui::answerNextMessageBox("Warning", BUTTON_NO);
    EXPECT_TRUE(gui::queryEndSession());
    gui::answerNextMessageBox("Warning", BUTTON_NO);  // closing asks once more
}

TEST_F(Frame, CopyDataTakesExactlyItsBytes) {
    ASSERT_TRUE(startWith(""));
    EXPECT_EQ(gui::sendCopyData(a), 1);  // not terminated: the byte after the block is not read
    EXPECT_EQ(gui::childTitles(), std::vector<std::string>{"a.bmp"});
    EXPECT_EQ(gui::sendCopyData(std::string(300, 'x')), 0);  // longer than a path
    EXPECT_EQ(gui::sendCopyData(""), 0);
    EXPECT_EQ(gui::childCount(), 1);
    std::string bare = folder.substr(0, folder.size() - 1);
    EXPECT_EQ(gui::sendCopyData(bare + std::string(1, '\0') + "junk"), 1);  // a folder: the browser's
    EXPECT_EQ(gui::browsePath(), folder);
}

TEST_F(Frame, SavedPositionIsTheRestoredRectangle) {
    ASSERT_TRUE(gui::writeText(ini, "[Start]\r\nSavePosition=1\r\n"));
    ASSERT_TRUE(startWith(""));
    gui::moveFrame(30, 40, 420, 310);
    gui::minimizeFrame();
    ASSERT_TRUE(gui::closeFrame());
    EXPECT_EQ(gui::profileString(ini, "Start", "X"), "30");
    EXPECT_EQ(gui::profileString(ini, "Start", "Y"), "40");
    EXPECT_EQ(gui::profileString(ini, "Start", "Width"), "420");
    EXPECT_EQ(gui::profileString(ini, "Start", "Height"), "310");
}

TEST_F(Frame, ViewOnlyModeStripsTheImageMenu) {
    ASSERT_TRUE(startWith("-view " + inQuotes(a)));
    ASSERT_EQ(gui::childCount(), 1);
    EXPECT_EQ(gui::menuBar(), "&Fichier|&Image|&Affichage|F&en\xeatre|I&nfo");
    EXPECT_EQ(gui::filePopupItems(), "Imprimer...\tCtrl+P|-|&Quitter\tCtrl+Q");
    EXPECT_FALSE(gui::toolBarVisible());
    EXPECT_EQ(gui::recentFile(0), "");  // the recent-file list is frozen
}

// Every command, with no image and with a 3 x 2 image: nothing crashes or
// closes, and exactly the commands that work are enabled in the menus.
TEST_F(Frame, EveryCommandIsSafeAndGreyedUnlessItWorks) {
    // The browser opens a window of its own: its commands have their own test.
    const std::set<int> modalOrClosing = {CMD_OPEN, CMD_OPEN_ALL, CMD_VIEW_HEX, CMD_BROWSE, CMD_CLOSE, CMD_CLOSE_ALL, CMD_ESCAPE,
                                          CMD_QUIT, CMD_OPTIONS, CMD_INSTALL, CMD_ABOUT, CMD_FORMATS,
                                          CMD_COMMAND_LINE_HELP, CMD_CONVERT_SEQUENCE, CMD_CONVERT_MULTIPLE,
                                          // image commands that ask something
                                          CMD_SAVE, CMD_SAVE_AS, CMD_COUNT_COLOURS, CMD_NEXT_FILE, CMD_PREV_FILE,
                                          CMD_FIRST_FILE, CMD_LAST_FILE, CMD_REOPEN, CMD_FULL_SCREEN,
                                          // dialogs, and the desktop's wallpaper
                                          CMD_PRINT, CMD_CAPTURE, CMD_SLIDE_SHOW, CMD_WALLPAPER_CENTRE,
                                          CMD_WALLPAPER_TILE, CMD_WALLPAPER_PREVIOUS};
    const std::set<int> alwaysEnabled = {CMD_OPEN, CMD_OPEN_ALL, CMD_VIEW_HEX, CMD_BROWSE, CMD_QUIT, CMD_STATUS_BAR, CMD_TOOL_BAR,
                                         CMD_OPTIONS, CMD_INSTALL, CMD_ABOUT, CMD_FORMATS, CMD_COMMAND_LINE_HELP,
                                         CMD_CAPTURE, CMD_SLIDE_SHOW, CMD_CONVERT_SEQUENCE, CMD_CONVERT_MULTIPLE};
    std::set<int> withImage = {CMD_CLOSE, CMD_CLOSE_ALL, CMD_CASCADE, CMD_TILE, CMD_ARRANGE, CMD_MINIMIZE_ALL,
                               CMD_RESTORE_ALL, CMD_REOPEN, CMD_SAVE, CMD_SAVE_AS, CMD_NEXT_FILE, CMD_PREV_FILE,
                               CMD_FIRST_FILE, CMD_LAST_FILE, CMD_COUNT_COLOURS, CMD_UNDO, CMD_PRINT,
                               CMD_WALLPAPER_CENTRE, CMD_WALLPAPER_TILE, CMD_WALLPAPER_PREVIOUS};
    for (int id = CMD_REDUCE_FIRST; id <= CMD_WAVES; ++id) withImage.insert(id);
    for (int id = CMD_FULL_SCREEN; id <= CMD_ZOOM_LAST; ++id) withImage.insert(id);
    std::string tiny = gui::writeBitmap(folder, "tiny.bmp", 3, 2);
    ASSERT_TRUE(startWith(""));
    for (int round = 0; round < 2; ++round) {
        if (round == 1) gui::openFile(tiny);
        const int children = round;
        ASSERT_EQ(gui::childCount(), children);
        for (int id = 1; id < IDC_FIRST_CHILD; ++id) {
            if (modalOrClosing.count(id) || (id >= CMD_RECENT_FIRST && id <= CMD_RECENT_LAST)) continue;
            if (menuOpDialog(id) != MENU_DIALOG_NONE) continue;  // parameter dialogs: their own tests
            gui::sendCommand(id, 0);
            ASSERT_TRUE(gui::frameAlive()) << "command " << id;
        }
        gui::pump(100);
        EXPECT_EQ(gui::childCount(), children);
        std::vector<int> ids = gui::menuCommandIds();
        EXPECT_GT(ids.size(), round == 0 ? 20u : 140u);
        for (int id : ids) {
            if (id >= CMD_RECENT_FIRST) continue;  // recent files and the window list
            bool expected = alwaysEnabled.count(id) || (round == 1 && withImage.count(id));
            EXPECT_EQ(gui::menuItemEnabled(id), expected) << "round " << round << ", command " << id;
        }
    }
    gui::answerNextMessageBox("Warning", BUTTON_NO);  // the operations changed the picture
}

// ---- Dialogs ----

struct OptionsSeen {
    bool miscShown = false, writeHiddenFirst = false, writeShownAfter = false, miscHiddenAfter = false;
    std::string jpeg, jpegAfterSpin, pngAfterSpin;
};

void actOnOptions(void* d, void* datum) {
    auto* seen = static_cast<OptionsSeen*>(datum);
    seen->miscShown = gui::itemVisible(d, IDC_OPT_ALWAYS_ON_TOP);
    seen->writeHiddenFirst = !gui::itemVisible(d, IDC_OPT_GIF_INTERLACED);
    seen->jpeg = gui::itemText(d, IDC_OPT_JPEG_QUALITY);
    gui::spin(d, IDC_OPT_JPEG_SPIN, 1);
    seen->jpegAfterSpin = gui::itemText(d, IDC_OPT_JPEG_QUALITY);
    gui::spin(d, IDC_OPT_PNG_SPIN, 1);  // at 100 already
    seen->pngAfterSpin = gui::itemText(d, IDC_OPT_PNG_QUALITY);
    gui::setChecked(d, IDC_OPT_ALWAYS_ON_TOP, true);
    gui::setChecked(d, IDC_OPT_ONLY_ONE_INSTANCE, true);
    gui::screenshot("options-misc");
    gui::selectCategory(d, 0);
    seen->writeShownAfter = gui::itemVisible(d, IDC_OPT_GIF_INTERLACED);
    seen->miscHiddenAfter = !gui::itemVisible(d, IDC_OPT_ALWAYS_ON_TOP);
    gui::setChecked(d, IDC_OPT_BMP_COMPRESS, true);
    gui::screenshot("options-writing");
    gui::clickItem(d, BUTTON_OK);
}

TEST_F(Frame, OptionsDialogReadsAndWritesTheSettings) {
    ASSERT_TRUE(startWith(""));
    ASSERT_TRUE(gui::setSettingValue("Save", "JpegQuality", 42));
    EXPECT_FALSE(gui::frameTopMost());
    OptionsSeen seen;
    ASSERT_TRUE(gui::withDialog(CMD_OPTIONS, "Options", actOnOptions, &seen));
    EXPECT_TRUE(seen.miscShown);
    EXPECT_TRUE(seen.writeHiddenFirst);
    EXPECT_EQ(seen.jpeg, "42");
    EXPECT_EQ(seen.jpegAfterSpin, "43");
    EXPECT_EQ(seen.pngAfterSpin, "61");  // the default 60, one step up
    EXPECT_TRUE(seen.writeShownAfter);
    EXPECT_TRUE(seen.miscHiddenAfter);
    EXPECT_EQ(gui::settingInt("Save", "JpegQuality"), 43);
    EXPECT_EQ(gui::settingInt("Save", "BmpCompress"), 1);
    EXPECT_EQ(gui::settingInt("Start", "AlwaysOnTop"), 1);
    EXPECT_EQ(gui::settingInt("Start", "OnlyOneInstance"), 1);
    EXPECT_TRUE(gui::frameTopMost());
    ASSERT_TRUE(gui::closeFrame());
    EXPECT_EQ(gui::profileString(ini, "Save", "JpegQuality"), "43");
    EXPECT_EQ(gui::profileString(ini, "Start", "OnlyOneInstance"), "1");
}

struct FormatsSeen {
    int columns = 0, rows = 0, rowsByName = 0;
    std::string first, read, extensions;
    bool sortedByName = true;
};

void actOnFormats(void* d, void* datum) {
    auto* seen = static_cast<FormatsSeen*>(datum);
    seen->columns = gui::listViewColumns(d, IDC_HELP_LIST);
    seen->rows = gui::listViewCount(d, IDC_HELP_LIST);
    seen->first = gui::listViewText(d, IDC_HELP_LIST, 0, 0);
    seen->read = gui::listViewText(d, IDC_HELP_LIST, 0, 1);
    seen->extensions = gui::listViewText(d, IDC_HELP_LIST, 0, 3);
    gui::screenshot("formats");
    gui::setChecked(d, IDC_HELP_SORT_BY_ID, false);
    gui::clickItem(d, IDC_HELP_SORT_BY_ID);
    seen->rowsByName = gui::listViewCount(d, IDC_HELP_LIST);
    for (int i = 1; i < seen->rowsByName; ++i)
        if (lower(gui::listViewText(d, IDC_HELP_LIST, i - 1, 0)) > lower(gui::listViewText(d, IDC_HELP_LIST, i, 0)))
            seen->sortedByName = false;
    gui::clickItem(d, BUTTON_OK);
}

TEST_F(Frame, FormatsDialogListsTheRegistry) {
    ASSERT_TRUE(startWith(""));
    FormatsSeen seen;
    ASSERT_TRUE(gui::withDialog(CMD_FORMATS, "Formats support\xe9s", actOnFormats, &seen));
    EXPECT_EQ(seen.columns, 4);
    EXPECT_EQ(seen.rows, 124);
    EXPECT_EQ(seen.first, "JPEG v6.0");
    EXPECT_EQ(seen.read, "Oui");
    EXPECT_EQ(seen.extensions, "jpg,jpeg,jif,jfif,J");
    EXPECT_EQ(seen.rowsByName, 124);
    EXPECT_TRUE(seen.sortedByName);
}

struct AboutSeen {
    std::string version, library;
};

void actOnAbout(void* d, void* datum) {
    auto* seen = static_cast<AboutSeen*>(datum);
    seen->version = gui::itemText(d, IDC_ABOUT_VERSION);
    seen->library = gui::itemText(d, IDC_ABOUT_LIBRARY);
    gui::clickItem(d, BUTTON_OK);
}

void closeDialog(void* d, void*) { gui::clickItem(d, BUTTON_OK); }

TEST_F(Frame, AboutAndCommandLineHelp) {
    ASSERT_TRUE(startWith(""));
    AboutSeen seen;
    ASSERT_TRUE(gui::withDialog(CMD_ABOUT, "A propos de KAleos", actOnAbout, &seen));
    EXPECT_EQ(seen.version, "Version 1.12 (Dec 16 1999)");
    EXPECT_EQ(seen.library, "Kaleocore Version 2.90");
    EXPECT_TRUE(gui::withDialog(CMD_COMMAND_LINE_HELP, "Aide sur ligne de commande", closeDialog, nullptr));
}

struct InstallSeen {
    int byName = 0, byExtension = 0;
    bool nameRadio = false;
    std::string extension, afterCheck, backup, afterUncheck, backupAfter;
    bool checked = false, uncheckedAgain = false, verbAdded = false, verbRemoved = false;
};

void actOnInstall(void* d, void* datum) {
    auto* seen = static_cast<InstallSeen*>(datum);
    seen->byName = gui::listViewCount(d, IDC_CFG_LIST);
    seen->nameRadio = gui::itemChecked(d, IDC_CFG_BY_NAME);
    gui::setChecked(d, IDC_CFG_BY_NAME, false);
    gui::setChecked(d, IDC_CFG_BY_EXTENSION, true);
    gui::clickItem(d, IDC_CFG_BY_EXTENSION);
    seen->byExtension = gui::listViewCount(d, IDC_CFG_LIST);
    // The first extension gets a previous class, is associated and restored.
    seen->extension = gui::listViewText(d, IDC_CFG_LIST, 0, 0);
    gui::deleteClassesKey("." + seen->extension);
    gui::setClassesDefault("." + seen->extension, "kaltest.Previous");
    gui::clickListViewCheck(d, IDC_CFG_LIST, 0);
    seen->checked = gui::listViewChecked(d, IDC_CFG_LIST, 0);
    seen->afterCheck = gui::classesDefault("." + seen->extension);
    seen->backup = gui::classesDefault("." + seen->extension + "\\Kaleos.bak");
    gui::screenshot("install");
    gui::clickListViewCheck(d, IDC_CFG_LIST, 0);
    seen->uncheckedAgain = !gui::listViewChecked(d, IDC_CFG_LIST, 0);
    seen->afterUncheck = gui::classesDefault("." + seen->extension);
    seen->backupAfter = gui::classesDefault("." + seen->extension + "\\Kaleos.bak");
    gui::deleteClassesKey("." + seen->extension);
    gui::setChecked(d, IDC_CFG_BROWSE_VERB, true);
    gui::clickItem(d, IDC_CFG_BROWSE_VERB);
    seen->verbAdded = gui::hasVerb();
    gui::setChecked(d, IDC_CFG_BROWSE_VERB, false);
    gui::clickItem(d, IDC_CFG_BROWSE_VERB);
    seen->verbRemoved = !gui::hasVerb();
    gui::clickItem(d, BUTTON_CANCEL);
}

TEST_F(Frame, InstallationDialogAssociatesAndRestores) {
    ASSERT_TRUE(startWith(""));
    InstallSeen seen;
    ASSERT_TRUE(gui::withDialog(CMD_INSTALL, "Installation", actOnInstall, &seen));
    EXPECT_EQ(gui::classesDefault("Kaleos.Image"), "Kaleos Image");  // written when the dialog opens
    EXPECT_EQ(seen.byName, 124);
    EXPECT_TRUE(seen.nameRadio);
    EXPECT_GT(seen.byExtension, 124);
    EXPECT_EQ(gui::settingInt("Install", "ViewAsName"), 0);
    EXPECT_TRUE(seen.checked) << seen.extension;
    EXPECT_EQ(seen.afterCheck, "Kaleos.Image");
    EXPECT_EQ(seen.backup, "kaltest.Previous");
    EXPECT_TRUE(seen.uncheckedAgain);
    EXPECT_EQ(seen.afterUncheck, "kaltest.Previous");
    EXPECT_EQ(seen.backupAfter, "<none>");
    EXPECT_TRUE(seen.verbAdded);
    EXPECT_TRUE(seen.verbRemoved);
}

// ---- Registry and shell integration without the dialog ----

TEST(ViewerRegistry, AssociationKeepsTheFirstBackupAndRestores) {
    gui::deleteClassesKey(".kaltest");
    gui::deleteClassesKey(".kalnone");
    gui::setClassesDefault(".kaltest", "Other.Class");
    ASSERT_TRUE(gui::registerImageClass());
    const std::string command = gui::classesDefault("Kaleos.Image\\shell\\open\\command");
    EXPECT_EQ(command, gui::openCommand());
    // The program path is quoted: folders with spaces keep working.
    EXPECT_EQ(command.substr(0, 4), "\"Z:\\") << command;
    EXPECT_NE(command.find("kaleosgui.exe"), std::string::npos) << command;
    EXPECT_EQ(command.substr(command.size() - 6), "\" \"%1\"") << command;
    std::string icon = gui::classesDefault("Kaleos.Image\\DefaultIcon");
    EXPECT_EQ(icon.substr(icon.size() - 2), ",0");

    EXPECT_FALSE(gui::isAssociated("kaltest"));
    EXPECT_TRUE(gui::associate("kaltest"));
    EXPECT_TRUE(gui::isAssociated("kaltest"));
    EXPECT_EQ(gui::classesDefault(".kaltest\\Kaleos.bak"), "Other.Class");
    EXPECT_TRUE(gui::associate("kaltest"));  // twice: the first back-up stays
    EXPECT_EQ(gui::classesDefault(".kaltest\\Kaleos.bak"), "Other.Class");
    EXPECT_TRUE(gui::restore("kaltest"));
    EXPECT_EQ(gui::classesDefault(".kaltest"), "Other.Class");
    EXPECT_EQ(gui::classesDefault(".kaltest\\Kaleos.bak"), "<none>");
    EXPECT_FALSE(gui::isAssociated("kaltest"));
    EXPECT_FALSE(gui::restore("kaltest"));

    // No previous class: no back-up, and restoring leaves the association.
    EXPECT_TRUE(gui::associate("kalnone"));
    EXPECT_EQ(gui::classesDefault(".kalnone\\Kaleos.bak"), "<none>");
    EXPECT_FALSE(gui::restore("kalnone"));
    EXPECT_TRUE(gui::isAssociated("kalnone"));
    gui::deleteClassesKey(".kaltest");
    gui::deleteClassesKey(".kalnone");

    gui::removeVerb();
    EXPECT_FALSE(gui::hasVerb());
    EXPECT_TRUE(gui::addVerb());
    EXPECT_TRUE(gui::hasVerb());
    EXPECT_EQ(gui::classesDefault("Directory\\shell\\Browse with Kaleos\\command"), gui::openCommand());
    EXPECT_TRUE(gui::removeVerb());
    EXPECT_FALSE(gui::hasVerb());

    std::string link;
    EXPECT_TRUE(gui::createDesktopShortcut(&link)) << link;
}

// ---- A second instance ----

TEST(ViewerSecondInstance, HandsItsFileToTheRunningFrame) {
    ASSERT_FALSE(gui::frameAlive());
    std::string folder = gui::tempFolder();
    std::string ini = folder + "single.ini";
    ASSERT_TRUE(gui::writeText(ini, "[Start]\r\nOnlyOneInstance=1\r\n"));
    std::string first = gui::writeBitmap(folder, "first.bmp", 16, 16);
    std::string second = gui::writeBitmap(folder, "second.bmp", 16, 16);
    int running = gui::launch("-ini " + inQuotes(ini) + " " + inQuotes(first));
    ASSERT_GT(running, 0);
    ASSERT_TRUE(gui::waitForOtherFrame(30000));
    for (int i = 0; i < 100 && gui::otherFrameChildTitles().empty(); ++i) gui::pump(100);
    EXPECT_EQ(gui::otherFrameChildTitles(), std::vector<std::string>{"first.bmp"});

    int handing = gui::launch("-ini " + inQuotes(ini) + " " + inQuotes(second));
    ASSERT_GT(handing, 0);
    EXPECT_EQ(gui::waitExit(handing, 30000), 0);
    std::vector<std::string> titles;
    for (int i = 0; i < 100; ++i) {
        titles = gui::otherFrameChildTitles();
        if (titles.size() == 2) break;
        gui::pump(100);
    }
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, (std::vector<std::string>{"first.bmp", "second.bmp"}));

    gui::closeOtherFrame();
    EXPECT_EQ(gui::waitExit(running, 30000), 1);  // the quit message's code
    EXPECT_EQ(gui::profileString(ini, "Kaleos", "FileName_0"), first);
    EXPECT_EQ(gui::profileString(ini, "Kaleos", "FileName_1"), second);
    EXPECT_EQ(gui::profileString(ini, "Start", "OnlyOneInstance"), "1");
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
