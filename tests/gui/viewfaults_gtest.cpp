// The frame as a user meets it: full screen from the command line, the
// frame's layout as bars come and go, the tool bar's greyed buttons, the
// save dialog's options, the counts of the About box, the status bar after
// saving, the resize dialog's range, the open dialog's information panel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui.h"
#include "dither.h"
#include "imagewnd_gui.h"
#include "kaleocore.h"
#include "resource.h"
#include "viewfaults_gui.h"

namespace {

constexpr int KEY_ESCAPE = 0x1B;
const std::string IMAGE_MENUS = "&Fichier|&Image|Fi&ltre|&Affichage|F&en\xeatre|I&nfo";

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

class ViewFaults : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        ini = folder + "k.ini";
        ASSERT_TRUE(gui::writeText(ini, ""));
        a = gui::writeBitmap(folder, "a.bmp", 227, 149);
        ASSERT_FALSE(a.empty());
    }
    void TearDown() override {
        if (gui::frameAlive()) {
            gui::answerNextMessageBox("Warning", 7);
            EXPECT_TRUE(gui::closeFrame());
        }
    }
    bool startWith(const std::string& arguments) { return gui::start("-ini " + inQuotes(ini) + " " + arguments); }

    std::string folder, ini, a;
};

// Full screen covers the whole screen: no menu, no bar, no border.
void expectWholeScreen(const char* how) {
    EXPECT_TRUE(gui::activeImage().fullScreen) << how;
    EXPECT_EQ(gui::menuBar(), "") << how;
    EXPECT_FALSE(gui::toolBarVisible()) << how;
    viewgui::Box child = viewgui::activeChildOnScreen();
    EXPECT_EQ(child.left, 0) << how;
    EXPECT_EQ(child.top, 0) << how;
    EXPECT_EQ(child.right, viewgui::screenWidth()) << how;
    EXPECT_EQ(child.bottom, viewgui::screenHeight()) << how;
}

TEST_F(ViewFaults, FullScreenFromTheCommandLineIsTheSameAsTheCommand) {
    ASSERT_TRUE(startWith("-full " + inQuotes(a)));
    gui::pump(100);
    expectWholeScreen("-full");
    gui::screenshot("fullscreen");
    gui::keyToActive(KEY_ESCAPE);
    EXPECT_FALSE(gui::activeImage().fullScreen);
    EXPECT_EQ(gui::menuBar(), IMAGE_MENUS);  // "Image" and "Filtre" within reach
    EXPECT_TRUE(gui::toolBarVisible());
    EXPECT_TRUE(viewgui::clientHasEdge());
    ASSERT_TRUE(gui::closeFrame());

    ASSERT_TRUE(startWith(inQuotes(a)));
    gui::sendCommand(CMD_FULL_SCREEN);
    expectWholeScreen("command");
    gui::keyToActive(KEY_ESCAPE);
    EXPECT_EQ(gui::menuBar(), IMAGE_MENUS);
}

// The client area sits between the bars that are shown, however often they
// come and go.
void expectClientBetweenBars(const char* when) {
    viewgui::Box area = viewgui::clientArea(), frame = viewgui::frameClient();
    int top = viewgui::toolBarHeight(), bottom = frame.bottom - viewgui::statusBarHeight();
    EXPECT_EQ(area.top, top) << when;
    EXPECT_EQ(area.bottom, bottom) << when;
    EXPECT_EQ(area.width(), frame.width()) << when;
}

TEST_F(ViewFaults, ClientAreaFollowsTheBars) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    expectClientBetweenBars("at start");
    const int barHeight = viewgui::toolBarHeight(), statusHeight = viewgui::statusBarHeight();
    EXPECT_GT(barHeight, 0);
    struct Step {
        int command;
        const char* when;
    } steps[] = {{CMD_TOOL_BAR, "tool bar hidden"},  {CMD_TOOL_BAR, "tool bar shown"},
                 {CMD_STATUS_BAR, "status hidden"},  {CMD_TOOL_BAR, "both hidden"},
                 {CMD_STATUS_BAR, "status shown"},   {CMD_TOOL_BAR, "both shown"}};
    for (const Step& s : steps) {
        gui::sendCommand(s.command);
        gui::pump(100);
        // The client's top shows what the client paints (its background
        // right of the image window), not a band left by the bar.
        viewgui::Box area = viewgui::clientArea();
        int x = area.right - 30;
        EXPECT_EQ(viewgui::frameColour(x, area.top + 6), viewgui::frameColour(x, area.top + 80)) << s.when;
        expectClientBetweenBars(s.when);
        // A bar shown again takes the height it had, no more.
        if (viewgui::toolBarHeight()) EXPECT_EQ(viewgui::toolBarHeight(), barHeight) << s.when;
        if (viewgui::statusBarHeight()) EXPECT_EQ(viewgui::statusBarHeight(), statusHeight) << s.when;
    }
    gui::screenshot("frame-bars-again");
    gui::sendCommand(CMD_FULL_SCREEN);
    gui::keyToActive(KEY_ESCAPE);
    expectClientBetweenBars("after full screen");
}

TEST_F(ViewFaults, GreyedToolButtonsHaveGreyedImages) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    ASSERT_EQ(gui::toolbarContext(), 1);
    EXPECT_TRUE(gui::toolButtonEnabled(CMD_BROWSE));
    int images = viewgui::toolBarImageCount();
    EXPECT_GE(images, 24);
    EXPECT_EQ(viewgui::toolBarDisabledImageCount(), images);
}

struct OptionsRun {
    bool sawOptions = false;
    bool onTop = false;
};

void pressOk(void* dialog, void*) { gui::clickItem(dialog, 1); }

void pressOptions(void* dialog) { viewgui::pressButton(dialog, IDC_SAVE_OPTIONS); }

void optionsThenCancel(void* dialog, void* datum) {
    auto* run = static_cast<OptionsRun*>(datum);
    run->sawOptions = gui::withDialogWhile(pressOptions, dialog, "Options", pressOk, nullptr);
    gui::pump(100);
    run->onTop = viewgui::dialogOnTop(dialog);
    gui::screenshot("save-dialog-after-options");
    gui::clickItem(dialog, 2);
}

TEST_F(ViewFaults, OptionsGiveTheSaveDialogBackItsPlace) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    OptionsRun run;
    ASSERT_TRUE(gui::withDialog(CMD_SAVE_AS, "Sauver l'image", optionsThenCancel, &run));
    EXPECT_TRUE(run.sawOptions);
    EXPECT_TRUE(run.onTop);
}

struct AboutRun {
    std::string counts;
    std::vector<std::string> clipped;
};

void readAbout(void* dialog, void* datum) {
    auto* run = static_cast<AboutRun*>(datum);
    run->counts = gui::itemText(dialog, IDC_ABOUT_FORMATS);
    run->clipped = viewgui::clippedLabels(dialog);
    gui::screenshot("about");
    gui::clickItem(dialog, 1);
}

TEST_F(ViewFaults, AboutStatesTheRegistrysCountsOnLinesThatFit) {
    int readers = 0, writers = 0;
    for (int i = 0; i < formatCount(); ++i) {
        FormatInfo info;
        ASSERT_EQ(getFormatInfo(i, &info), 0);
        readers += (info.capabilities & CAP_READ) ? 1 : 0;
        writers += (info.capabilities & CAP_WRITE) ? 1 : 0;
    }
    ASSERT_TRUE(startWith(""));
    AboutRun run;
    ASSERT_TRUE(gui::withDialog(CMD_ABOUT, "A propos de KAleos", readAbout, &run));
    EXPECT_EQ(run.counts, std::to_string(readers) + " formats en lecture, " + std::to_string(writers) +
                              " en \xe9" "criture.");
    EXPECT_EQ(run.clipped, std::vector<std::string>());

    // The formats dialog states the same counts.
    AboutRun formats;
    ASSERT_TRUE(gui::withDialog(CMD_FORMATS, "Formats support\xe9s",
                                [](void* dialog, void* datum) {
                                    auto* seen = static_cast<AboutRun*>(datum);
                                    seen->counts = gui::itemText(dialog, IDC_HELP_COUNTS);
                                    seen->clipped = viewgui::clippedLabels(dialog);
                                    gui::screenshot("formats-counts");
                                    gui::clickItem(dialog, 1);
                                },
                                &formats));
    EXPECT_EQ(formats.counts, run.counts);
    EXPECT_EQ(formats.clipped, std::vector<std::string>());
}

void readOptionLabels(void* dialog, void* datum) {
    gui::selectCategory(dialog, 1);  // reading
    gui::screenshot("options-reading");
    *static_cast<std::vector<std::string>*>(datum) = viewgui::clippedLabels(dialog);
    gui::clickItem(dialog, 2);
}

TEST_F(ViewFaults, OptionLabelsFit) {
    ASSERT_TRUE(startWith(""));
    std::vector<std::string> clipped;
    ASSERT_TRUE(gui::withDialog(CMD_OPTIONS, "Options", readOptionLabels, &clipped));
    EXPECT_EQ(clipped, std::vector<std::string>());
}

TEST_F(ViewFaults, StatusBarNamesTheSavedFormat) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    FormatInfo bmp, png;
    ASSERT_EQ(getFormatInfo(findFormat("bmp"), &bmp), 0);
    ASSERT_EQ(getFormatInfo(findFormat("png"), &png), 0);
    ASSERT_EQ(gui::statusText(0).find("227x149"), gui::statusText(0).size() - 7) << gui::statusText(0);
    ASSERT_EQ(gui::saveActiveAs(folder + "a.png", "png"), 0);
    gui::pump(50);
    EXPECT_EQ(gui::statusText(0), std::string(png.description) + " - 227x149");
    EXPECT_EQ(gui::statusText(0).find(bmp.description), std::string::npos);
}

TEST_F(ViewFaults, ViewOnlyFileMenuListsNoRecentFiles) {
    ASSERT_TRUE(gui::writeText(ini, "[Kaleos]\r\nFileName_0=" + a + "\r\n"));
    ASSERT_TRUE(startWith("-view"));
    EXPECT_EQ(gui::recentFile(0), a);  // read, but not listed
    EXPECT_EQ(gui::filePopupItems().find("&1."), std::string::npos) << gui::filePopupItems();
    ASSERT_TRUE(gui::closeFrame());
    ASSERT_TRUE(startWith(""));
    EXPECT_NE(gui::filePopupItems().find("&1. " + a), std::string::npos) << gui::filePopupItems();
}

// The colour reductions of the menu read as the conversion table names them.
TEST_F(ViewFaults, ColourReductionLabelsAreTheConversionTables) {
    ASSERT_TRUE(startWith(""));
    for (int code = 1; code < CONVERSION_COUNT; ++code)
        EXPECT_EQ(viewgui::imageMenuText(50 + code), conversionLabel(code)) << code;
    EXPECT_EQ(viewgui::imageMenuText(82), "Convertir en &Vraies couleurs");
}

// The system's own dialogs speak French, as on a French Windows.
void readCancelAndClose(void* dialog, void* datum) {
    *static_cast<std::string*>(datum) = gui::itemText(dialog, 2);
    gui::screenshot("save-dialog-french");
    gui::clickItem(dialog, 2);
}

TEST_F(ViewFaults, FileDialogsSpeakFrench) {
    ASSERT_TRUE(startWith(inQuotes(a)));
    std::string cancel;
    ASSERT_TRUE(gui::withDialog(CMD_SAVE_AS, "Sauver l'image", readCancelAndClose, &cancel));
    EXPECT_EQ(cancel, "Annuler");
}

TEST_F(ViewFaults, DroppedFilesOpenAsOnTheCommandLine) {
    std::string b = gui::writeBitmap(folder, "b.bmp", 7, 5);
    ASSERT_TRUE(startWith(""));
    EXPECT_TRUE(viewgui::frameAcceptsFiles());
    viewgui::dropOnFrame({a});
    ASSERT_EQ(gui::childCount(), 1);
    EXPECT_EQ(gui::activeChildTitle(), "a.bmp");
    // Several files: the first opens with the others to step through.
    viewgui::dropOnFrame({b, a});
    ASSERT_EQ(gui::childCount(), 2);
    EXPECT_EQ(gui::activeChildTitle(), "b.bmp");
    gui::sendCommand(CMD_NEXT_FILE, 200);
    EXPECT_EQ(gui::activeImage().path, a);
    // A folder goes to the browser, which opens on it.
    viewgui::dropOnFrame({folder.substr(0, folder.size() - 1)});
    EXPECT_EQ(gui::childCount(), 3);
    EXPECT_EQ(gui::browsePath(), folder);
    EXPECT_EQ(gui::activeChildTitle(), "Browser [" + folder + "]");
}

struct OpenRun {
    std::string group, format, size, colours, unknown;
    bool previewShown = false, previewChecked = false;
};

void describeInOpenDialog(void* dialog, void* datum) {
    auto* run = static_cast<OpenRun*>(datum);
    run->group = viewgui::controlText(dialog, IDC_OPEN_INFO_GROUP);
    run->previewShown = gui::dialogHasItem(dialog, IDC_OPEN_PREVIEW);
    viewgui::pressButton(dialog, IDC_OPEN_PREVIEW);  // on, and remembered
    run->previewChecked = viewgui::controlChecked(dialog, IDC_OPEN_PREVIEW);
    viewgui::selectInOpenDialog(dialog, "a.bmp");
    run->format = viewgui::controlText(dialog, IDC_OPEN_INFO_NAME);
    run->size = viewgui::controlText(dialog, IDC_OPEN_INFO_SIZE);
    run->colours = viewgui::controlText(dialog, IDC_OPEN_INFO_COLOURS);
    gui::screenshot("open-dialog");
    viewgui::selectInOpenDialog(dialog, "k.ini");
    run->unknown = viewgui::controlText(dialog, IDC_OPEN_INFO_NAME);
    gui::clickItem(dialog, 2);
}

TEST_F(ViewFaults, OpenDialogDescribesTheSelectedPicture) {
    ASSERT_TRUE(gui::writeText(ini, "[Kaleos]\r\nPathLoad=" + folder + "\r\n"));
    ASSERT_TRUE(startWith(""));
    OpenRun run;
    ASSERT_TRUE(gui::withDialog(CMD_OPEN, "Ouvrir plusieurs images", describeInOpenDialog, &run));
    EXPECT_EQ(run.group, "Informations sur l'image");
    EXPECT_TRUE(run.previewShown);
    EXPECT_TRUE(run.previewChecked);
    FormatInfo bmp;
    ASSERT_EQ(getFormatInfo(findFormat("bmp"), &bmp), 0);
    EXPECT_EQ(run.format.find("Format : "), 0u) << run.format;
    EXPECT_EQ(run.size, "Taille : 227 x 149");
    EXPECT_EQ(run.colours, "Couleurs : Vraies couleurs");
    EXPECT_EQ(run.unknown, "Format inconnu");
    EXPECT_EQ(gui::settingInt("Load", "Preview"), 1);
}

}  // namespace
