// The browser under Wine, on a folder of generated pictures: its window and
// menus, the thumbnails, the view modes and layouts, sorting, opening, and
// the file operations acting on the selected files only (refusing a
// destination that is the source itself), descriptions kept in
// "descript.ion" with the lines of other names untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "browse_gui.h"
#include "gui.h"
#include "imagewnd_gui.h"
#include "resource.h"

namespace {

const std::string BROWSER_MENUS = "&Fichier|&Edition|&Affichage|F&en\xeatre|I&nfo";
const std::string PROBLEM = "Probl\xe8me";
constexpr int YES = 6;  // IDYES
constexpr int OK = 1;   // IDOK

class Browse : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        settings = gui::tempFolder();
        ini = settings + "k.ini";
        a = gui::writeBitmap(folder, "a.bmp", 40, 30);
        b = gui::writeBitmap(folder, "b.bmp", 200, 100);
        c = gui::writeBitmap(folder, "c.bmp", 20, 60);
        ASSERT_FALSE(a.empty() || b.empty() || c.empty());
        ASSERT_TRUE(gui::writeText(folder + "notes.txt", "hello"));
    }
    void TearDown() override {
        if (gui::frameAlive()) EXPECT_TRUE(gui::closeFrame());
    }
    // Starts on the folder with the [Browser] keys given.
    bool start(const std::string& browserKeys = "") {
        if (!gui::writeText(ini, "[Browser]\r\n" + browserKeys)) return false;
        std::string bare = folder.substr(0, folder.size() - 1);
        if (!gui::start("-ini \"" + ini + "\" \"" + bare + "\"")) return false;
        gui::moveFrame(0, 0, 1000, 740);
        gui::pump(100);
        return browsegui::state().exists;
    }
    int at(const std::string& name) { return browsegui::positionOf(name); }

    std::string folder, settings, ini, a, b, c;
};

TEST_F(Browse, OpensOnTheFolderWithThumbnails) {
    ASSERT_TRUE(start());
    browsegui::State s = browsegui::state();
    EXPECT_EQ(s.folder, folder);
    EXPECT_EQ(s.title, "Browser [" + folder + "]");
    EXPECT_EQ(gui::menuBar(), BROWSER_MENUS);
    EXPECT_EQ(gui::toolbarContext(), 2);
    EXPECT_TRUE(gui::toolButtonEnabled(CMD_BROWSE));
    EXPECT_EQ(s.viewStyle, "icon");
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    s = browsegui::state();
    // Folders are not shown among the files by default; ".." is.
    EXPECT_EQ(s.names, (std::vector<std::string>{"..", "a.bmp", "b.bmp", "c.bmp", "notes.txt"}));
    std::set<int> thumbs;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
        int p = at(name);
        ASSERT_GE(p, 0) << name;
        EXPECT_GE(s.largeThumb[p], 3) << name;  // after the three fixed images
        EXPECT_EQ(s.flags[p] & 0x01, 0) << name;
        thumbs.insert(s.largeThumb[p]);
    }
    EXPECT_EQ(thumbs.size(), 3u);
    // A file that is not a picture gets the failure mark, not a thumbnail.
    EXPECT_EQ(s.flags[at("notes.txt")] & 0x01, 0x01);
    EXPECT_EQ(s.largeThumb[at("notes.txt")], -1);
    EXPECT_EQ(browsegui::statusText(), "5 object(s)");
    gui::screenshot("browser-icons");
    // The browser command brings the same window back.
    gui::sendCommand(CMD_BROWSE, 100);
    EXPECT_EQ(gui::childCount(), 1);
}

TEST_F(Browse, TreeAndListMoveThroughFolders) {
    ASSERT_TRUE(browsegui::makeFolder(folder + "sub"));
    ASSERT_FALSE(gui::writeBitmap(folder + "sub\\", "in.bmp", 12, 12).empty());
    ASSERT_TRUE(start());
    std::string name = folder.substr(0, folder.size() - 1);
    name = name.substr(name.rfind('\\') + 1);
    EXPECT_EQ(browsegui::treeSelectionText(), name);
    // Selecting a folder of the tree makes it the current folder.
    ASSERT_TRUE(browsegui::selectInTree("sub"));
    browsegui::State s = browsegui::state();
    EXPECT_EQ(s.folder, folder + "sub\\");
    EXPECT_EQ(s.names, (std::vector<std::string>{"..", "in.bmp"}));
    EXPECT_EQ(gui::browsePath(), folder + "sub\\");
    // ".." goes up again, and the tree follows.
    browsegui::open(0);
    EXPECT_EQ(browsegui::state().folder, folder);
    EXPECT_EQ(browsegui::treeSelectionText(), name);
    // Folders shown among the files open the same way.
    gui::sendCommand(CMD_SHOW_DIRS, 100);
    browsegui::open(at("sub"));
    EXPECT_EQ(browsegui::state().folder, folder + "sub\\");
    EXPECT_EQ(browsegui::treeSelectionText(), "sub");
}

TEST_F(Browse, LongNamesAreKeptWhole) {
    const std::string longName = std::string(150, 'n') + ".bmp";
    std::string path = gui::writeBitmap(folder, longName, 9, 9);
    ASSERT_FALSE(path.empty());
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    ASSERT_GE(at(longName), 0);
    std::string dest = gui::tempFolder();
    browsegui::select({at(longName)});
    EXPECT_EQ(browsegui::copyTo(dest, false), 1);
    EXPECT_EQ(browsegui::readFile(dest + longName), browsegui::readFile(path));
    const std::string renamed = std::string(180, 'r') + ".bmp";
    EXPECT_TRUE(browsegui::rename(at(longName), renamed));
    EXPECT_TRUE(gui::fileExists(folder + renamed));
    EXPECT_TRUE(browsegui::describe(at(renamed), "long"));
    EXPECT_EQ(browsegui::readFile(folder + "descript.ion"), "\"" + renamed + "\" long\r\n");
}

TEST_F(Browse, CommandsWithoutTheirDialogsStayGreyed) {
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    struct Item {
        int id;
        bool none, one;  // enabled with no selection, with one file selected
    } items[] = {
        {CMD_SELECT_ALL, true, true},        {CMD_BROWSER_OPEN, false, true},  {CMD_BROWSER_HEX, false, true},
        {CMD_BROWSER_PROPERTIES, false, true}, {CMD_DESCRIBE, false, true},    {CMD_COPY_TO, false, true},
        {CMD_MOVE_TO, false, true},          {CMD_RENAME_SEQUENCE, false, true}, {CMD_DELETE, false, true},
        {CMD_COPY_NAMES, false, true},       {CMD_FILE_LISTING, false, true},  {CMD_REFRESH, true, true},
        {CMD_PRINT, false, true},            {CMD_BROWSER_CONVERT, false, true},
        {CMD_BROWSER_SLIDE_SHOW, false, true}, {CMD_WEB_PAGE, false, true}, {CMD_WALLPAPER_CENTRE, false, true},
        {CMD_STOP_THUMBNAILS, false, false},
    };
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    for (const Item& i : items) EXPECT_EQ(gui::menuItemEnabled(i.id), i.none) << i.id;
    browsegui::select({at("a.bmp")});
    for (const Item& i : items) EXPECT_EQ(gui::menuItemEnabled(i.id), i.one) << i.id;
    // The commands that ask nothing run without harm; twice, the toggles
    // come back as they were, the last sort (size, reversed) stays.
    for (int round = 0; round < 2; ++round) {
        for (int id = CMD_VIEW_ICONS; id <= CMD_LAYOUT_LAST; ++id) {
            if (id == CMD_COPY_TO || id == CMD_MOVE_TO || id == CMD_RENAME_SEQUENCE || id == CMD_DELETE ||
                id == CMD_FILE_LISTING || id == CMD_BROWSER_CONVERT || id == CMD_BROWSER_SLIDE_SHOW ||
                id == CMD_WEB_PAGE)
                continue;
            gui::sendCommand(id, 0);
            ASSERT_TRUE(gui::frameAlive()) << id;
        }
    }
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    EXPECT_EQ(browsegui::state().names, (std::vector<std::string>{"b.bmp", "c.bmp", "a.bmp", "notes.txt"}));
    EXPECT_TRUE(gui::fileExists(a) && gui::fileExists(b) && gui::fileExists(c));
    gui::screenshot("browser-after-every-command");
}

TEST_F(Browse, ViewModesSwitch) {
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));

    gui::sendCommand(CMD_VIEW_SMALL_ICONS, 100);
    EXPECT_EQ(browsegui::state().viewStyle, "report");
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    browsegui::State s = browsegui::state();
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) EXPECT_GE(s.smallThumb[at(name)], 3) << name;
    EXPECT_TRUE(gui::menuItemChecked(CMD_VIEW_SMALL_ICONS));
    gui::screenshot("browser-small-icons");

    // The list with its detail columns: the file information is read.
    gui::sendCommand(CMD_VIEW_LIST, 100);
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    s = browsegui::state();
    EXPECT_EQ(s.viewStyle, "report");
    EXPECT_EQ(browsegui::headings(), (std::vector<std::string>{"Nom", "Taille", "Propri\xe9t\xe9s", "Type", "Date",
                                                                "Description"}));
    ASSERT_EQ(s.firstRow.size(), 6u);
    EXPECT_EQ(s.firstRow[0], "a.bmp");
    EXPECT_EQ(s.firstRow[1], std::to_string(browsegui::fileSize(a)));
    EXPECT_EQ(s.firstRow[2], "40x30,16M");
    EXPECT_FALSE(s.firstRow[3].empty());
    EXPECT_NE(s.firstRow[3], "Inconnu");
    EXPECT_TRUE(std::regex_match(s.firstRow[4], std::regex("[0-9]{2}/[0-9]{2}/[0-9]{2}( [0-9]{2}:[0-9]{2}:[0-9]{2})?")))
        << s.firstRow[4];
    gui::screenshot("browser-details");

    // A column switched off goes from the headings.
    gui::sendCommand(CMD_COLUMN_FIRST + 1, 100);  // "Propriétés"
    EXPECT_EQ(browsegui::headings(), (std::vector<std::string>{"Nom", "Taille", "Type", "Date", "Description"}));

    // The name list reads nothing.
    gui::sendCommand(CMD_VIEW_DETAILS, 100);
    s = browsegui::state();
    EXPECT_EQ(s.viewStyle, "list");
    EXPECT_FALSE(s.building);
    gui::screenshot("browser-columns");

    // Back to large thumbnails, now 92 x 69.
    gui::sendCommand(CMD_THUMB_SIZE_FIRST + 6, 100);
    gui::sendCommand(CMD_VIEW_ICONS, 100);
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    EXPECT_EQ(gui::settingInt("Browser", "IconWidth"), 92);
    EXPECT_EQ(gui::settingInt("Browser", "IconHeight"), 69);
    EXPECT_TRUE(gui::menuItemChecked(CMD_THUMB_SIZE_FIRST + 6));
    EXPECT_GE(browsegui::state().largeThumb[at("b.bmp")], 3);
    gui::screenshot("browser-icons-92");
}

TEST_F(Browse, LayoutsPlaceTheirPanes) {
    ASSERT_TRUE(start("DirListWidth=200\r\nDirListHeight=180\r\nIconListWidth=300\r\nIconListHeight=200\r\n"));
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    browsegui::select({at("b.bmp")});
    for (int layout = 1; layout <= 5; ++layout) {
        gui::sendCommand(CMD_LAYOUT_FIRST + layout - 1, 150);
        browsegui::State s = browsegui::state();
        SCOPED_TRACE(layout);
        ASSERT_FALSE(s.tree.empty() || s.list.empty() || s.preview.empty());
        EXPECT_TRUE(gui::menuItemChecked(CMD_LAYOUT_FIRST + layout - 1));
        switch (layout) {
        case 1:  // tree and list side by side over the preview
            EXPECT_LE(s.tree.right, s.list.left);
            EXPECT_EQ(s.tree.top, s.list.top);
            EXPECT_GE(s.preview.top, s.list.bottom);
            EXPECT_EQ(s.preview.left, s.tree.left);
            EXPECT_EQ(s.preview.right, s.list.right);
            break;
        case 2:  // tree over list on the left, preview on the right
            EXPECT_LE(s.tree.bottom, s.list.top);
            EXPECT_EQ(s.tree.left, s.list.left);
            EXPECT_GE(s.preview.left, s.list.right);
            EXPECT_EQ(s.preview.top, s.tree.top);
            break;
        case 3:  // tree over preview on the left, list on the right
            EXPECT_LE(s.tree.bottom, s.preview.top);
            EXPECT_GE(s.list.left, s.tree.right);
            EXPECT_EQ(s.list.top, s.tree.top);
            break;
        case 4:  // tree on the left, list over preview on the right
            EXPECT_LE(s.tree.right, s.list.left);
            EXPECT_LE(s.list.bottom, s.preview.top);
            EXPECT_EQ(s.tree.bottom, s.preview.bottom);
            break;
        case 5:  // three columns
            EXPECT_LE(s.tree.right, s.list.left);
            EXPECT_LE(s.list.right, s.preview.left);
            EXPECT_EQ(s.tree.top, s.preview.top);
            EXPECT_EQ(s.list.right - s.list.left, 300);
            break;
        }
        gui::screenshot("browser-layout-" + std::to_string(layout));
    }
    // Hidden panes give their room to the others.
    gui::sendCommand(CMD_SHOW_PREVIEW, 100);
    browsegui::State s = browsegui::state();
    EXPECT_TRUE(s.preview.empty());
    EXPECT_FALSE(s.tree.empty());
    gui::sendCommand(CMD_SHOW_DIR_LIST, 100);
    s = browsegui::state();
    EXPECT_TRUE(s.tree.empty());
    EXPECT_EQ(s.list.left, 0);
    EXPECT_EQ(s.list.top, 0);
    gui::screenshot("browser-list-only");
}

TEST_F(Browse, PreviewShowsTheSelectedPicture) {
    ASSERT_TRUE(start("ShowParentDir=0\r\nLayout=2\r\n"));
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    browsegui::select({at("b.bmp")});
    browsegui::State s = browsegui::state();
    EXPECT_GE(s.previewEntry, 0);
    EXPECT_EQ(s.selected, 1);
    EXPECT_EQ(browsegui::statusText(), "4 objet(s) / 1 fichier(s) s\xe9lectionn\xe9s");
    EXPECT_EQ(s.previewWidth, 200);
    EXPECT_EQ(s.previewHeight, 100);
    gui::screenshot("browser-preview-picture");
    // The zoom commands act on the preview; fitting leaves the zoom aside.
    struct Zoom {
        int command, zoom, width, height;
    } zooms[] = {{CMD_ZOOM_IN, 2, 400, 200}, {CMD_ZOOM_OUT, 1, 200, 100}, {CMD_ZOOM_OUT, -2, 100, 50},
                 {CMD_ZOOM_FIRST + 6, -4, 50, 25}};
    for (const Zoom& z : zooms) {
        gui::sendCommand(z.command, 50);
        s = browsegui::state();
        EXPECT_EQ(s.previewZoom, z.zoom) << z.command;
        EXPECT_EQ(s.previewWidth, z.width) << z.command;
        EXPECT_EQ(s.previewHeight, z.height) << z.command;
    }
    gui::sendCommand(CMD_FIT_PREVIEW, 100);
    s = browsegui::state();
    EXPECT_EQ(s.previewWidth, 200);  // larger pictures only: this one fits as it is
    gui::sendCommand(CMD_ZOOM_IN, 100);
    EXPECT_FALSE(gui::menuItemChecked(CMD_FIT_PREVIEW));
    EXPECT_EQ(browsegui::state().previewWidth, 400);
    // A file that is not a picture shows its bytes.
    browsegui::select({at("notes.txt")});
    gui::screenshot("browser-preview-dump");
    browsegui::select({});
    EXPECT_EQ(browsegui::state().previewEntry, -1);
}

TEST_F(Browse, SortingFollowsTheMenu) {
    ASSERT_TRUE(browsegui::makeFolder(folder + "sub"));
    ASSERT_TRUE(gui::writeText(folder + "sub.txt", ""));
    ASSERT_TRUE(start("ShowParentDir=0\r\nShowDirInBrowser=1\r\n"));
    // a.bmp and c.bmp have the same size: the name decides.
    struct Step {
        int command;
        std::vector<std::string> order;
    } steps[] = {
        {CMD_ARRANGE_FIRST + 4, {"sub", "sub.txt", "notes.txt", "a.bmp", "c.bmp", "b.bmp"}},
        {CMD_ARRANGE_REVERSE, {"sub", "b.bmp", "c.bmp", "a.bmp", "notes.txt", "sub.txt"}},
        {CMD_ARRANGE_FIRST + 1, {"sub", "sub.txt", "notes.txt", "c.bmp", "b.bmp", "a.bmp"}},
        {CMD_ARRANGE_NORMAL, {"sub", "a.bmp", "b.bmp", "c.bmp", "notes.txt", "sub.txt"}},
    };
    for (const Step& st : steps) {
        gui::sendCommand(st.command, 100);
        EXPECT_EQ(browsegui::state().names, st.order) << st.command;
    }
    EXPECT_TRUE(gui::menuItemChecked(CMD_ARRANGE_FIRST + 1));
    EXPECT_TRUE(gui::menuItemChecked(CMD_ARRANGE_NORMAL));
    EXPECT_FALSE(gui::menuItemChecked(CMD_ARRANGE_REVERSE));
    EXPECT_EQ(gui::settingInt("Browser", "ArrangeBy"), 0x02);
}

TEST_F(Browse, OpenStepsThroughTheBrowsersOrder) {
    ASSERT_TRUE(start("ShowParentDir=0\r\nArrangeBy=8\r\n"));  // by size: notes, a, c, b
    browsegui::open(at("c.bmp"));
    ASSERT_EQ(gui::childCount(), 2);
    EXPECT_EQ(gui::activeImage().path, c);
    gui::sendCommand(CMD_NEXT_FILE, 200);
    EXPECT_EQ(gui::activeImage().path, b);
    gui::sendCommand(CMD_PREV_FILE, 200);
    gui::sendCommand(CMD_PREV_FILE, 200);
    EXPECT_EQ(gui::activeImage().path, a);
}

TEST_F(Browse, CopyAndMoveActOnTheSelectionAndRefuseTheSourceItself) {
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    std::string dest = gui::tempFolder();
    std::string bytesA = browsegui::readFile(a), bytesB = browsegui::readFile(b), bytesC = browsegui::readFile(c);

    browsegui::select({at("b.bmp")});
    EXPECT_EQ(browsegui::copyTo(dest, false), 1);
    EXPECT_EQ(browsegui::readFile(dest + "b.bmp"), bytesB);
    EXPECT_FALSE(gui::fileExists(dest + "a.bmp"));
    EXPECT_FALSE(gui::fileExists(dest + "c.bmp"));

    // The destination is the source: in the same folder, in other case and
    // spelling, for a copy and for a move. The user stops; nothing changes.
    std::string upper = folder;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    std::string slashes = folder;
    std::replace(slashes.begin(), slashes.end(), '\\', '/');
    const std::string targets[] = {folder, upper, slashes + "./"};
    for (const std::string& target : targets) {
        for (bool move : {false, true}) {
            browsegui::select({at("a.bmp")});
            gui::answerNextMessageBox(PROBLEM, YES);
            EXPECT_EQ(browsegui::copyTo(target, move), 0) << target << " " << move;
            EXPECT_EQ(browsegui::readFile(a), bytesA) << target << " " << move;
        }
    }

    browsegui::select({at("c.bmp"), at("a.bmp")});
    EXPECT_EQ(browsegui::copyTo(dest, true), 2);
    EXPECT_FALSE(gui::fileExists(c));
    EXPECT_FALSE(gui::fileExists(a));
    EXPECT_EQ(browsegui::readFile(dest + "c.bmp"), bytesC);
    EXPECT_EQ(browsegui::readFile(dest + "a.bmp"), bytesA);
    EXPECT_EQ(browsegui::readFile(b), bytesB);
    EXPECT_EQ(browsegui::state().names, (std::vector<std::string>{"b.bmp", "notes.txt"}));
}

TEST_F(Browse, RenameSelectAllAndDeleteActOnTheRightFiles) {
    ASSERT_TRUE(browsegui::makeFolder(folder + "sub"));
    ASSERT_TRUE(start("ShowDirInBrowser=1\r\n"));
    std::string bytesA = browsegui::readFile(a);
    EXPECT_TRUE(browsegui::rename(at("a.bmp"), "renamed.bmp"));
    EXPECT_EQ(browsegui::readFile(folder + "renamed.bmp"), bytesA);
    EXPECT_FALSE(gui::fileExists(a));
    // A name that is taken is refused; both files stay.
    gui::answerNextMessageBox(PROBLEM, OK);
    EXPECT_FALSE(browsegui::rename(at("b.bmp"), "c.bmp"));
    EXPECT_TRUE(gui::fileExists(b));
    EXPECT_TRUE(gui::fileExists(c));

    // "Tout Sélectionner" takes the files, not ".." nor the folders.
    gui::sendCommand(CMD_SELECT_ALL, 100);
    EXPECT_EQ(browsegui::state().selected, 4);

    browsegui::select({at(".."), at("notes.txt"), at("c.bmp")});
    gui::answerNextMessageBox("Confirm", YES);
    gui::sendCommand(CMD_DELETE, 300);
    EXPECT_FALSE(gui::fileExists(folder + "notes.txt"));
    EXPECT_FALSE(gui::fileExists(c));
    EXPECT_TRUE(gui::fileExists(b));
    EXPECT_TRUE(gui::fileExists(folder + "renamed.bmp"));
    EXPECT_TRUE(gui::fileExists(folder + "sub"));
    EXPECT_EQ(browsegui::state().names, (std::vector<std::string>{"..", "sub", "b.bmp", "renamed.bmp"}));
}

struct RenameRun {
    std::string firstNew, lastNew;
};

void fillRenameDialog(void* dialog, void* datum) {
    RenameRun* run = static_cast<RenameRun*>(datum);
    browsegui::setItemText(dialog, IDC_RENAME_TEMPLATE, "pic##.bmp");
    browsegui::setItemText(dialog, IDC_RENAME_START, "1");
    browsegui::setItemText(dialog, IDC_RENAME_STEP, "2");
    run->firstNew = gui::listViewText(dialog, IDC_RENAME_LIST, 0, 1);
    run->lastNew = gui::listViewText(dialog, IDC_RENAME_LIST, 2, 1);
    gui::screenshot("browser-rename");
    gui::clickItem(dialog, OK);
}

TEST_F(Browse, SequenceRenameNumbersTheSelectionInListOrder) {
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    std::string bytesA = browsegui::readFile(a), bytesC = browsegui::readFile(c);
    browsegui::select({at("c.bmp"), at("a.bmp"), at("b.bmp")});
    RenameRun run;
    ASSERT_TRUE(gui::withDialog(CMD_RENAME_SEQUENCE, "Renommer la s\xe9quence", fillRenameDialog, &run));
    gui::pump(200);
    EXPECT_EQ(run.firstNew, "pic01.bmp");
    EXPECT_EQ(run.lastNew, "pic05.bmp");
    EXPECT_EQ(browsegui::readFile(folder + "pic01.bmp"), bytesA);
    EXPECT_EQ(browsegui::readFile(folder + "pic05.bmp"), bytesC);
    EXPECT_FALSE(gui::fileExists(a));
    EXPECT_TRUE(gui::fileExists(folder + "notes.txt"));
    EXPECT_EQ(gui::settingInt("Rename", "Step"), 2);
    EXPECT_EQ(browsegui::state().names,
              (std::vector<std::string>{"notes.txt", "pic01.bmp", "pic03.bmp", "pic05.bmp"}));
}

struct DialogRun {
    std::string name, size, type;
    bool systemEnabled = true;
};

void readOnlyThroughProperties(void* dialog, void* datum) {
    DialogRun* run = static_cast<DialogRun*>(datum);
    run->name = gui::itemText(dialog, IDC_PROP_NAME);
    run->size = gui::itemText(dialog, IDC_PROP_SIZE);
    run->type = gui::itemText(dialog, IDC_PROP_TYPE);
    run->systemEnabled = browsegui::itemEnabled(dialog, IDC_PROP_SYSTEM);
    gui::setChecked(dialog, IDC_PROP_READ_ONLY, true);
    gui::screenshot("browser-properties");
    gui::clickItem(dialog, OK);
}

void typeDescription(void* dialog, void*) {
    browsegui::setItemText(dialog, IDC_DESC_TEXT, "typed in the dialog");
    gui::screenshot("browser-describe");
    gui::clickItem(dialog, OK);
}

void nameNewFolder(void* dialog, void*) {
    browsegui::setItemText(dialog, IDC_NEW_FOLDER_NAME, "made here");
    gui::clickItem(dialog, OK);
}

TEST_F(Browse, DescriptionThatCannotBeWrittenIsReported) {
    // A folder where the file should be: the write fails and says so.
    ASSERT_TRUE(browsegui::makeFolder(folder + "descript.ion"));
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    gui::answerNextMessageBox(PROBLEM, OK);
    EXPECT_FALSE(browsegui::describe(at("a.bmp"), "lost"));
    EXPECT_TRUE(gui::fileExists(folder + "descript.ion\\"));
    EXPECT_TRUE(gui::frameAlive());
}

TEST_F(Browse, PropertiesDescribeAndNewFolderDialogs) {
    ASSERT_TRUE(start("ShowParentDir=0\r\nShowDirInBrowser=1\r\n"));
    browsegui::select({at("b.bmp")});
    DialogRun run;
    ASSERT_TRUE(gui::withDialog(CMD_BROWSER_PROPERTIES, "Propri\xe9t\xe9s", readOnlyThroughProperties, &run));
    EXPECT_EQ(run.name, "b.bmp");
    EXPECT_EQ(run.size, std::to_string(browsegui::fileSize(b)) + " octets");
    EXPECT_FALSE(run.type.empty());
    EXPECT_FALSE(run.systemEnabled);
    EXPECT_TRUE(browsegui::isReadOnly(b));

    browsegui::select({at("c.bmp")});
    ASSERT_TRUE(gui::withDialog(CMD_DESCRIBE, "Description", typeDescription, nullptr));
    EXPECT_EQ(browsegui::readFile(folder + "descript.ion"), "\"c.bmp\" typed in the dialog\r\n");
    EXPECT_EQ(browsegui::state().descriptions[at("c.bmp")], "typed in the dialog");

    ASSERT_TRUE(gui::withDialog(CMD_NEW_FOLDER, "Nouveau r\xe9pertoire", nameNewFolder, nullptr));
    EXPECT_TRUE(gui::fileExists(folder + "made here"));
    EXPECT_EQ(at("made here"), 0);  // folders first
}

TEST_F(Browse, DescriptionsRewriteOnlyTheirOwnLines) {
    const std::string before = "zzz.jpg kept as it was\r\n\"a.bmp\" first picture\r\n\"broken\r\n";
    std::string descript = folder + "descript.ion";
    ASSERT_TRUE(gui::writeText(descript, before));
    browsegui::setHidden(descript);
    ASSERT_TRUE(start("ShowParentDir=0\r\nShowHiddenFile=0\r\n"));
    browsegui::State s = browsegui::state();
    EXPECT_EQ(s.names, (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp", "notes.txt"}));
    EXPECT_EQ(s.descriptions[at("a.bmp")], "first picture");

    bool hiddenKept = browsegui::isHidden(descript);  // where the file system keeps the attribute
    EXPECT_TRUE(browsegui::describe(at("b.bmp"), "second"));
    EXPECT_EQ(browsegui::readFile(descript), before + "\"b.bmp\" second\r\n");
    if (hiddenKept) EXPECT_TRUE(browsegui::isHidden(descript));
    EXPECT_TRUE(browsegui::describe(at("a.bmp"), ""));
    EXPECT_EQ(browsegui::readFile(descript), "zzz.jpg kept as it was\r\n\"broken\r\n\"b.bmp\" second\r\n");
    // A renamed file takes its description along.
    EXPECT_TRUE(browsegui::rename(at("b.bmp"), "b2.bmp"));
    EXPECT_EQ(browsegui::readFile(descript), "zzz.jpg kept as it was\r\n\"broken\r\n\"b2.bmp\" second\r\n");
    EXPECT_EQ(browsegui::state().descriptions[at("b2.bmp")], "second");
    gui::sendCommand(CMD_VIEW_LIST, 100);
    browsegui::waitForThumbnails(20000);
    gui::screenshot("browser-descriptions");
}

}  // namespace

namespace {

// The benchmark's measure (bench/cases/browser.sh), not part of the test run:
// the browser fills the thumbnails of the folder named by KALEO_BENCH_FOLDER.
TEST(BrowseBench, DISABLED_FillThumbnails) {
    const char* unixFolder = getenv("KALEO_BENCH_FOLDER");
    ASSERT_NE(unixFolder, nullptr);
    std::string folder = browsegui::windowsPathOf(unixFolder);
    ASSERT_FALSE(folder.empty());
    std::string ini = gui::tempFolder() + "k.ini";
    ASSERT_TRUE(gui::writeText(ini, "[Browser]\r\nIconWidth=92\r\nIconHeight=69\r\nShowPreview=0\r\n"));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(gui::start("-ini \"" + ini + "\" \"" + folder + "\""));
    ASSERT_TRUE(browsegui::waitForThumbnails(600000));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    browsegui::State s = browsegui::state();
    int thumbnails = 0;
    for (int t : s.largeThumb) thumbnails += t >= 3;
    EXPECT_EQ(thumbnails, static_cast<int>(s.names.size()) - 1);  // every file but ".."
    printf("thumbnails filled in %.3f s\n", seconds);
    EXPECT_TRUE(gui::closeFrame());
}

}  // namespace

namespace {

class BrowseMore : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        ini = gui::tempFolder() + "k.ini";
    }
    void TearDown() override {
        if (gui::frameAlive()) EXPECT_TRUE(gui::closeFrame());
    }
    bool start(const std::string& keys) {
        if (!gui::writeText(ini, "[Browser]\r\n" + keys)) return false;
        if (!gui::start("-ini \"" + ini + "\" \"" + folder.substr(0, folder.size() - 1) + "\"")) return false;
        gui::moveFrame(0, 0, 1000, 740);
        gui::pump(50);
        return browsegui::state().exists;
    }
    std::string folder, ini;
};

int thumbnailCount() {
    int n = 0;
    for (int t : browsegui::state().largeThumb) n += t >= 3;
    return n;
}

TEST_F(BrowseMore, StopEndsTheBuildingAndAChangeOfFolderDropsThePendingWork) {
    std::string big = gui::writeBitmap(gui::tempFolder(), "big.bmp", 2400, 1800);
    ASSERT_FALSE(big.empty());
    ASSERT_TRUE(browsegui::linkCopies(big, folder, 300));
    ASSERT_TRUE(gui::writeText(ini, "[Browser]\r\nShowParentDir=0\r\nShowPreview=0\r\n"));
    ASSERT_TRUE(gui::start("-ini \"" + ini + "\" \"" + folder.substr(0, folder.size() - 1) + "\""));
    // The listing is there at once, before the thumbnails.
    EXPECT_EQ(browsegui::state().names.size(), 300u);
    gui::sendCommand(CMD_STOP_THUMBNAILS, 0);
    browsegui::State s = browsegui::state();
    EXPECT_FALSE(s.building);
    int built = thumbnailCount();
    EXPECT_LT(built, 300);
    gui::pump(800);
    EXPECT_EQ(thumbnailCount(), built);  // nothing more arrives
    EXPECT_EQ(browsegui::statusText(), "300 object(s)");

    // Building again, then another folder: only its own entry and thumbnail.
    gui::sendCommand(CMD_QUICK_REFRESH, 0);
    EXPECT_TRUE(browsegui::state().building);
    std::string other = gui::tempFolder();
    ASSERT_FALSE(gui::writeBitmap(other, "only.bmp", 8, 8).empty());
    EXPECT_EQ(gui::sendCopyData(other.substr(0, other.size() - 1)), 1);
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    gui::pump(300);
    s = browsegui::state();
    EXPECT_EQ(s.folder, other);
    ASSERT_EQ(s.names, std::vector<std::string>{"only.bmp"});
    EXPECT_EQ(s.largeThumb, std::vector<int>{3});
}

TEST_F(BrowseMore, DropsCopyInAndDragsOutOpen) {
    std::string elsewhere = gui::tempFolder();
    std::string x = gui::writeBitmap(elsewhere, "x.bmp", 30, 20);
    std::string y = gui::writeBitmap(folder, "y.bmp", 10, 10);
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    // Dropped files are copied into the folder; one of its own is refused.
    gui::answerNextMessageBox(PROBLEM, 7);  // IDNO: go on with the others
    browsegui::dropOnBrowser({y, x});
    EXPECT_EQ(browsegui::readFile(folder + "x.bmp"), browsegui::readFile(x));
    EXPECT_TRUE(gui::fileExists(x));
    EXPECT_EQ(browsegui::state().names, (std::vector<std::string>{"x.bmp", "y.bmp"}));
    EXPECT_EQ(browsegui::fileSize(y), browsegui::fileSize(folder + "y.bmp"));
    EXPECT_GT(browsegui::fileSize(y), 0);

    // The selection dragged onto the frame opens there.
    browsegui::select({browsegui::positionOf("x.bmp")});
    browsegui::dragOutToToolBar();
    EXPECT_EQ(gui::childCount(), 2);
    EXPECT_EQ(gui::activeImage().path, folder + "x.bmp");
}

TEST_F(BrowseMore, HoverWindowDescribesTheEntry) {
    ASSERT_FALSE(gui::writeBitmap(folder, "h.bmp", 64, 32).empty());
    ASSERT_TRUE(start("ShowParentDir=0\r\n"));
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    browsegui::hover(0);
    gui::pump(900);
    std::string text = browsegui::state().bubble;
    EXPECT_EQ(text.rfind("h.bmp, " + std::to_string(browsegui::fileSize(folder + "h.bmp")) + " octets, ", 0), 0u)
        << text;
    EXPECT_NE(text.find("\n64 x 32, # Couleurs: 16 Millions\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Bits Par Plan: 24, # Plans: 1"), std::string::npos) << text;
    gui::screenshot("browser-hover");
    browsegui::hover(-1);
    gui::pump(100);
    EXPECT_EQ(browsegui::state().bubble, "");
}

}  // namespace
