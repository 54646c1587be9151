// The slide show under Wine (timer, keys and clicks, loop, random order,
// unreadable files, full screen, ".sld" files and "-slide", its dialog), the
// clipboard import of bitmaps placed by the test, the screen capture, the web
// page with its thumbnails, the wallpaper values, and the print dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "browse_gui.h"
#include "gui.h"
#include "resource.h"
#include "show_gui.h"
#include "slidelogic.h"

namespace {

constexpr int CANCEL = 2;  // CANCEL

class Show : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        ini = folder + "k.ini";
        ASSERT_TRUE(gui::writeText(ini, ""));
        files = {gui::writeBitmap(folder, "a.bmp", 240, 180), gui::writeBitmap(folder, "b.bmp", 300, 100),
                 gui::writeBitmap(folder, "c.bmp", 150, 250), gui::writeBitmap(folder, "d.bmp", 200, 200)};
        for (const std::string& f : files) ASSERT_FALSE(f.empty());
    }
    void TearDown() override {
        if (showgui::show().exists) showgui::key(showgui::KEY_ESCAPE);
        if (gui::frameAlive()) EXPECT_TRUE(gui::closeFrame());
    }
    bool start() { return gui::start("-ini \"" + ini + "\""); }
    std::vector<std::string> firstThree() const { return {files[0], files[1], files[2]}; }
    // Pumps until the show shows `index` (or ends, for -1), up to the time limit.
    bool waitFor(int index, int milliseconds) {
        for (int t = 0; t < milliseconds; t += 50) {
            showgui::Show s = showgui::show();
            if (index < 0 ? !s.exists : s.shown == index) return true;
            gui::pump(50);
        }
        return false;
    }

    std::string folder, ini;
    std::vector<std::string> files;
};

TEST_F(Show, TimerAdvancesAndTheEndOfTheListEndsTheShow) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(showgui::startShow(firstThree(), SLIDE_TIMER | SLIDE_CENTRE, 1));
    showgui::Show s = showgui::show();
    EXPECT_EQ(s.shown, 0);
    EXPECT_EQ(s.title, files[0]);
    EXPECT_EQ(s.imageWidth, 240);
    EXPECT_TRUE(s.timerRunning);
    // Outside full screen the client area takes the picture's size.
    EXPECT_EQ(s.clientWidth, 240);
    EXPECT_EQ(s.clientHeight, 180);
    gui::screenshot("slide-show-window");
    ASSERT_TRUE(waitFor(1, 4000));
    s = showgui::show();
    EXPECT_EQ(s.title, files[1]);
    EXPECT_EQ(s.imageWidth, 300);
    EXPECT_EQ(s.clientWidth, 300);
    ASSERT_TRUE(waitFor(2, 4000));
    EXPECT_EQ(showgui::show().imageHeight, 250);
    // Without loop the next tick ends the show.
    EXPECT_TRUE(waitFor(-1, 4000));
}

TEST_F(Show, KeysAndClicksStepBothWaysAndLoopWraps) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(showgui::startShow(firstThree(), SLIDE_LOOP, 1));
    EXPECT_FALSE(showgui::show().timerRunning);
    struct Step {
        int key;   // 0: right click, 1: left click
        int shown;
    } steps[] = {
        {showgui::KEY_RIGHT, 1}, {showgui::KEY_LEFT, 0}, {showgui::KEY_LEFT, 2}, {showgui::KEY_SPACE, 0},
        {0, 1},                  {1, 0},
    };
    for (const Step& st : steps) {
        if (st.key > 1) showgui::key(st.key);
        else showgui::click(st.key == 1);
        EXPECT_EQ(showgui::show().shown, st.shown) << st.key;
    }
    showgui::key(showgui::KEY_ESCAPE);
    EXPECT_FALSE(showgui::show().exists);
}

TEST_F(Show, WithoutLoopTheRightArrowOnTheLastFileEnds) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(showgui::startShow(firstThree(), 0, 1));
    showgui::key(showgui::KEY_RIGHT);
    showgui::key(showgui::KEY_RIGHT);
    EXPECT_EQ(showgui::show().shown, 2);
    showgui::key(showgui::KEY_RIGHT);
    EXPECT_FALSE(showgui::show().exists);
}

TEST_F(Show, RandomOrderWithLoopShowsEveryFileOnceARound) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(showgui::startShow(files, SLIDE_RANDOM | SLIDE_LOOP, 1));
    std::vector<int> shown = {showgui::show().shown};
    for (int i = 1; i < 12; ++i) {
        showgui::key(showgui::KEY_RIGHT);
        shown.push_back(showgui::show().shown);
    }
    for (int round = 0; round < 3; ++round) {
        std::set<int> seen(shown.begin() + round * 4, shown.begin() + round * 4 + 4);
        EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3})) << "round " << round;
    }
}

TEST_F(Show, AnUnreadableFileKeepsThePreviousImage) {
    ASSERT_TRUE(start());
    std::string text = folder + "notes.txt";
    ASSERT_TRUE(gui::writeText(text, "not a picture"));
    ASSERT_TRUE(showgui::startShow({files[0], text, files[1]}, SLIDE_SKIP_ERRORS, 1));
    showgui::key(showgui::KEY_RIGHT);
    showgui::Show s = showgui::show();
    EXPECT_EQ(s.loads, 2);
    EXPECT_EQ(s.shown, 0);         // the picture of a.bmp stays
    EXPECT_EQ(s.imageWidth, 240);
    EXPECT_EQ(s.title, text);
    showgui::key(showgui::KEY_RIGHT);
    EXPECT_EQ(showgui::show().shown, 2);
}

TEST_F(Show, FullScreenWithoutTitleBarIsAPopupOverTheScreen) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(showgui::startShow(firstThree(), SLIDE_FULL_SCREEN | SLIDE_NO_TITLE | SLIDE_FIT_ALL | SLIDE_HIDE_MOUSE, 1));
    showgui::Show s = showgui::show();
    EXPECT_TRUE(s.popup);
    EXPECT_FALSE(s.caption);
    EXPECT_TRUE(s.cursorHidden);
    EXPECT_EQ(s.clientWidth, 1024);
    EXPECT_EQ(s.clientHeight, 768);
    gui::screenshot("slide-show-full-screen");
    showgui::key(showgui::KEY_ESCAPE);
    ASSERT_TRUE(showgui::startShow(firstThree(), SLIDE_FULL_SCREEN, 1));
    EXPECT_TRUE(showgui::show().caption);
}

TEST_F(Show, SlideFilesRunDirectly) {
    std::string sld = folder + "show.sld";
    ASSERT_TRUE(gui::writeText(sld, "# Slide Show Sequence\r\nLoop = 1\r\n\"" + files[2] + "\"\r\n\"" + files[0] + "\"\r\n"));
    ASSERT_TRUE(gui::start("-ini \"" + ini + "\" -slide \"" + sld + "\""));
    gui::pump(200);
    showgui::Show s = showgui::show();
    ASSERT_TRUE(s.exists);
    EXPECT_EQ(s.title, files[2]);
    showgui::key(showgui::KEY_RIGHT);
    showgui::key(showgui::KEY_RIGHT);
    EXPECT_EQ(showgui::show().title, files[2]);  // looped
    showgui::key(showgui::KEY_ESCAPE);
    // Without its header line the file holds no list: nothing starts.
    std::string bare = folder + "bare.sld";
    ASSERT_TRUE(gui::writeText(bare, "Loop = 1\r\n\"" + files[0] + "\"\r\n"));
    showgui::runSlideFile(bare);
    EXPECT_FALSE(showgui::show().exists);
}

TEST_F(Show, SlideFilesWrittenAndReadBack) {
    ASSERT_TRUE(start());
    std::string sld = folder + "round.sld";
    const uint16_t flags = SLIDE_TIMER | SLIDE_LOOP | SLIDE_RANDOM | SLIDE_HIDE_MOUSE;
    ASSERT_TRUE(showgui::writeSlideFile(sld, files, flags, 7));
    std::vector<std::string> back;
    uint16_t backFlags = 0;
    int seconds = 0;
    ASSERT_TRUE(showgui::readSlideFile(sld, &back, &backFlags, &seconds));
    EXPECT_EQ(back, files);
    EXPECT_EQ(backFlags, flags);
    EXPECT_EQ(seconds, 7);
    EXPECT_EQ(browsegui::readFile(sld).rfind("# Slide Show Sequence\r\nTimer = 7\r\n", 0), 0u);
    // A file that cannot be created or opened: the message, titled "Warning".
    std::string missing = folder + "no such folder\\x.sld";
    gui::answerNextMessageBox("Warning", 1);
    EXPECT_FALSE(showgui::writeSlideFile(missing, files, flags, 7));
    gui::answerNextMessageBox("Warning", 1);
    EXPECT_FALSE(showgui::readSlideFile(missing, &back, &backFlags, &seconds));
    EXPECT_TRUE(back.empty());
}

struct DialogSeen {
    bool viewBefore = true, noTitleBefore = true, viewAfter = false, timerChecked = false;
    std::string firstListed;
};

void inspectSlideDialog(void* dialog, void* datum) {
    DialogSeen* seen = static_cast<DialogSeen*>(datum);
    gui::setChecked(dialog, IDC_SLIDE_FULL_SCREEN, false);
    gui::clickItem(dialog, IDC_SLIDE_FULL_SCREEN);
    seen->viewBefore = browsegui::itemEnabled(dialog, IDC_SLIDE_FIT_ALL);
    seen->noTitleBefore = browsegui::itemEnabled(dialog, IDC_SLIDE_NO_TITLE);
    gui::setChecked(dialog, IDC_SLIDE_FULL_SCREEN, true);
    gui::clickItem(dialog, IDC_SLIDE_FULL_SCREEN);
    seen->viewAfter = browsegui::itemEnabled(dialog, IDC_SLIDE_FIT_ALL);
    seen->timerChecked = gui::itemChecked(dialog, IDC_SLIDE_USE_TIMER);
    gui::screenshot("slide-show-dialog");
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Show, DialogEnablesTheFullScreenChoicesWithFullScreen) {
    ASSERT_TRUE(start());
    DialogSeen seen;
    ASSERT_TRUE(gui::withDialog(CMD_SLIDE_SHOW, "Slide Show", inspectSlideDialog, &seen));
    EXPECT_FALSE(seen.viewBefore);
    EXPECT_FALSE(seen.noTitleBefore);
    EXPECT_TRUE(seen.viewAfter);
    EXPECT_TRUE(seen.timerChecked);
    EXPECT_FALSE(showgui::show().exists);  // "Annuler" starts nothing
}

struct ListSeen {
    std::vector<std::string> rows;
};

void launchFromDialog(void* dialog, void* datum) {
    static_cast<ListSeen*>(datum)->rows = showgui::listRows(dialog, IDC_SLIDE_LIST);
    gui::setChecked(dialog, IDC_SLIDE_USE_TIMER, false);
    gui::setChecked(dialog, IDC_SLIDE_USE_KEYS, true);
    gui::setChecked(dialog, IDC_SLIDE_FULL_SCREEN, false);
    gui::clickItem(dialog, 1);  // "Lancer"
}

TEST_F(Show, BrowserSelectionStartsTheDialogAndTheShow) {
    std::string bare = folder.substr(0, folder.size() - 1);
    ASSERT_TRUE(gui::start("-ini \"" + ini + "\" \"" + bare + "\""));
    gui::pump(200);
    ASSERT_TRUE(browsegui::state().exists);
    ASSERT_TRUE(browsegui::waitForThumbnails(20000));
    browsegui::select({browsegui::positionOf("b.bmp"), browsegui::positionOf("c.bmp")});
    EXPECT_TRUE(gui::menuItemEnabled(CMD_BROWSER_SLIDE_SHOW));
    ListSeen seen;
    ASSERT_TRUE(gui::withDialog(CMD_BROWSER_SLIDE_SHOW, "Slide Show", launchFromDialog, &seen));
    EXPECT_EQ(seen.rows, (std::vector<std::string>{files[1], files[2]}));
    showgui::Show s = showgui::show();
    ASSERT_TRUE(s.exists);
    EXPECT_EQ(s.title, files[1]);
    EXPECT_FALSE(s.timerRunning);
    // "Lancer" kept the options.
    EXPECT_EQ(gui::settingInt("Slide", "Full"), 0);
    showgui::key(showgui::KEY_RIGHT);
    EXPECT_EQ(showgui::show().title, files[2]);
}

// ---- Clipboard, capture, web page, wallpaper, printing ----

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> dibHeader(int32_t w, int32_t h, int bpp, uint32_t compression, size_t extra) {
    std::vector<uint8_t> b(40 + extra, 0);
    put32(b, 0, 40);
    put32(b, 4, static_cast<uint32_t>(w));
    put32(b, 8, static_cast<uint32_t>(h));
    b[12] = 1;
    b[14] = static_cast<uint8_t>(bpp);
    put32(b, 16, compression);
    return b;
}

class Tools : public Show {};

TEST_F(Tools, ClipboardImportOfBitmapsPlacedByTheTest) {
    ASSERT_TRUE(start());
    // 8 bits, bottom-up, two colours used of a 2-entry table.
    std::vector<uint8_t> pal = dibHeader(3, 2, 8, 0, 8 + 2 * 4);
    put32(pal, 32, 2);
    const uint8_t table[8] = {0, 0, 255, 0, 255, 0, 0, 0};  // red, blue (B, G, R, 0)
    std::copy(table, table + 8, pal.begin() + 40);
    const uint8_t rows[8] = {1, 1, 1, 0, 0, 1, 0, 0};  // bottom row (blue), then top row (red, blue, red)
    std::copy(rows, rows + 8, pal.begin() + 48);
    ASSERT_TRUE(showgui::putDib(pal));
    EXPECT_TRUE(showgui::clipboardHasBitmap());
    EXPECT_TRUE(gui::menuItemEnabled(CMD_IMPORT_CLIPBOARD));
    gui::sendCommand(CMD_IMPORT_CLIPBOARD, 200);
    showgui::Picture p = showgui::activePicture();
    ASSERT_TRUE(p.exists);
    EXPECT_EQ(p.title, "<Clipboard>");
    EXPECT_EQ(p.formatIndex, -1);
    ASSERT_EQ(p.width, 3);
    ASSERT_EQ(p.height, 2);
    const std::vector<uint8_t> expected = {255, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255};
    EXPECT_EQ(p.rgb, expected);
    gui::screenshot("clipboard-import");

    // 32 bits with bit fields, top-down.
    std::vector<uint8_t> bf = dibHeader(2, -1, 32, 3, 12 + 8);
    put32(bf, 40, 0x000000FF);
    put32(bf, 44, 0x0000FF00);
    put32(bf, 48, 0x00FF0000);
    put32(bf, 52, 0x00302010);
    put32(bf, 56, 0x00000080);
    ASSERT_TRUE(showgui::putDib(bf));
    gui::sendCommand(CMD_IMPORT_CLIPBOARD, 200);
    p = showgui::activePicture();
    EXPECT_EQ(p.rgb, (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x80, 0, 0}));
    int children = gui::childCount();

    // Blocks that lie about their size or kind create nothing.
    std::vector<uint8_t> truncated = dibHeader(100, 100, 24, 0, 16);
    std::vector<uint8_t> rle = dibHeader(4, 4, 8, 1, 1024 + 64);
    std::vector<uint8_t> tall = dibHeader(4, 0, 24, 0, 64);
    for (const auto* bad : {&truncated, &rle, &tall}) {
        ASSERT_TRUE(showgui::putDib(*bad));
        gui::sendCommand(CMD_IMPORT_CLIPBOARD, 100);
        EXPECT_EQ(gui::childCount(), children);
    }
    showgui::emptyClipboard();
    EXPECT_FALSE(gui::menuItemEnabled(CMD_IMPORT_CLIPBOARD));
}

TEST_F(Tools, CaptureOfTheWholeScreen) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(showgui::captureDesktop());
    showgui::Picture p = showgui::activePicture();
    ASSERT_TRUE(p.exists);
    EXPECT_EQ(p.title, "<Desktop>");
    EXPECT_EQ(p.width, 1024);
    EXPECT_EQ(p.height, 768);
    EXPECT_EQ(p.formatIndex, -1);
}

TEST_F(Tools, CaptureOfAClientArea) {
    ASSERT_TRUE(start());
    int w = 0, h = 0;
    ASSERT_TRUE(showgui::captureFrameClient(&w, &h));
    showgui::Picture p = showgui::activePicture();
    ASSERT_TRUE(p.exists);
    EXPECT_EQ(p.title, "Kaleos v1.12 Fr");
    EXPECT_EQ(p.width, w);
    EXPECT_EQ(p.height, h);
}

void closeDialogAfterShot(void* dialog, void* datum) {
    gui::screenshot(static_cast<const char*>(datum));
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Tools, CaptureDialogShows) {
    ASSERT_TRUE(start());
    EXPECT_TRUE(gui::withDialog(CMD_CAPTURE, "Configuration Capture", closeDialogAfterShot,
                                const_cast<char*>("capture-dialog")));
}

struct ThumbSeen {
    bool interlacedShown = false, qualityShown = true, qualityAfter = false;
};

void inspectThumbDialog(void* dialog, void* datum) {
    ThumbSeen* seen = static_cast<ThumbSeen*>(datum);
    gui::setChecked(dialog, IDC_THUMB_JPEG, false);
    gui::setChecked(dialog, IDC_THUMB_GIF, true);
    gui::clickItem(dialog, IDC_THUMB_GIF);
    seen->interlacedShown = gui::itemVisible(dialog, IDC_THUMB_INTERLACED);
    seen->qualityShown = gui::itemVisible(dialog, IDC_THUMB_QUALITY);
    gui::screenshot("web-page-dialog");
    gui::setChecked(dialog, IDC_THUMB_GIF, false);
    gui::setChecked(dialog, IDC_THUMB_JPEG, true);
    gui::clickItem(dialog, IDC_THUMB_JPEG);
    seen->qualityAfter = gui::itemVisible(dialog, IDC_THUMB_QUALITY);
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Tools, WebPageDialogShowsTheControlsOfItsFormat) {
    ASSERT_TRUE(start());
    ThumbSeen seen;
    ASSERT_TRUE(gui::withDialogWhile(showgui::runPageDialog, nullptr, "Creation de catalogue", inspectThumbDialog, &seen));
    EXPECT_TRUE(seen.interlacedShown);
    EXPECT_FALSE(seen.qualityShown);
    EXPECT_TRUE(seen.qualityAfter);
}

TEST_F(Tools, WebPageWithThumbnailsOriginalsAndUnreadableFiles) {
    ASSERT_TRUE(start());
    std::string accented = "\xe9t\xe9 & co.bmp";  // "été & co.bmp" in the Windows code page
    ASSERT_FALSE(gui::writeBitmap(folder, accented, 90, 45).empty());
    ASSERT_TRUE(gui::writeText(folder + "notes.txt", "not a picture"));
    gui::setSettingValue("Html", "TableColumns", 2);
    gui::setSettingValue("Html", "ThumbWidth", 30);
    gui::setSettingValue("Html", "ThumbHeight", 30);
    gui::setSettingValue("Html", "Format", 0);
    gui::setSettingValue("Html", "Display", 0x1F);
    gui::setSettingValue("Html", "Sort", 0);
    std::string out = gui::tempFolder() + "web";
    gui::answerNextMessageBox("Warning", 1);  // the unreadable file: go on
    ASSERT_TRUE(showgui::makePage(folder, {"b.bmp", "a.bmp", accented, "notes.txt"}, "Mes <images>", out));
    std::string page = browsegui::readFile(out + "\\Page.html");
    ASSERT_FALSE(page.empty());
    EXPECT_NE(page.find("charset=utf-8"), std::string::npos);
    EXPECT_NE(page.find("<title>Mes &lt;images&gt;</title>"), std::string::npos);
    // Sorted by name: a, b, été, notes; two to a row.
    size_t pa = page.find("href=\"original/a.bmp\""), pb = page.find("href=\"original/b.bmp\"");
    size_t pe = page.find("href=\"original/%C3%A9t%C3%A9%20%26%20co.bmp\"");
    size_t pn = page.find("href=\"original/notes.txt\"");
    ASSERT_NE(pa, std::string::npos);
    ASSERT_NE(pb, std::string::npos);
    ASSERT_NE(pe, std::string::npos) << page;
    ASSERT_NE(pn, std::string::npos);
    EXPECT_LT(pa, pb);
    EXPECT_LT(pb, pn);
    size_t rowBreak = page.find("\t</TR>\n\t<TR>\n");
    EXPECT_GT(rowBreak, pb);
    EXPECT_LT(rowBreak, pn);
    EXPECT_NE(page.find("<IMG src=\"thumb/t_a.gif\" border=\"0\" alt=\"a.bmp\" width=\"30\" height=\"23\">"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<BR>\xc3\xa9t\xc3\xa9 &amp; co.bmp</A>"), std::string::npos);
    EXPECT_NE(page.find("<BR>90x45,16M"), std::string::npos);
    // The unreadable file: its link and name, no image.
    size_t cellEnd = page.find("</TD>", pn);
    EXPECT_EQ(page.substr(pn, cellEnd - pn).find("<IMG"), std::string::npos);
    EXPECT_TRUE(gui::fileExists(out + "\\thumb\\t_a.gif"));
    EXPECT_TRUE(gui::fileExists(out + "\\thumb\\t_\xe9t\xe9 & co.gif"));
    EXPECT_TRUE(gui::fileExists(out + "\\original\\notes.txt"));
    EXPECT_EQ(browsegui::fileSize(out + "\\original\\b.bmp"), browsegui::fileSize(files[1]));
}

TEST_F(Tools, WebPageUsesASmallJpegAsItsOwnThumbnail) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(showgui::writeJpeg(folder + "small.jpg", 20, 10));
    gui::setSettingValue("Html", "ThumbWidth", 64);
    gui::setSettingValue("Html", "ThumbHeight", 64);
    gui::setSettingValue("Html", "Format", 1);
    gui::setSettingValue("Html", "UseOriginalIfSmaller", 1);
    gui::setSettingValue("Html", "TableColumns", 0);  // kept at 1 at least
    std::string out = gui::tempFolder() + "web";
    ASSERT_TRUE(showgui::makePage(folder, {"small.jpg", "a.bmp"}, "", out));
    std::string page = browsegui::readFile(out + "\\Page.html");
    EXPECT_NE(page.find("<IMG src=\"original/small.jpg\" border=\"0\" alt=\"small.jpg\" width=\"20\" height=\"10\">"),
              std::string::npos)
        << page;
    EXPECT_FALSE(gui::fileExists(out + "\\thumb\\t_small.jpg"));
    // The larger bitmap gets a JPEG thumbnail, in a row of its own.
    EXPECT_NE(page.find("<IMG src=\"thumb/t_a.jpg\" border=\"0\" alt=\"a.bmp\" width=\"64\" height=\"48\">"),
              std::string::npos);
    EXPECT_TRUE(gui::fileExists(out + "\\thumb\\t_a.jpg"));
    EXPECT_NE(page.find("\t</TR>\n\t<TR>\n"), std::string::npos);
}

TEST_F(Tools, WallpaperKeepsTheUsersBitmapAsPrevious) {
    ASSERT_TRUE(start());
    showgui::setDesktopValue("Wallpaper", "C:\\sea.bmp");
    showgui::setDesktopValue("TileWallpaper", "1");
    showgui::setWallpaper(CMD_WALLPAPER_CENTRE, 16, 8);
    std::string own = showgui::windowsFolder() + "\\kaleos wallpaper.bmp";
    EXPECT_TRUE(gui::fileExists(own));
    EXPECT_EQ(showgui::desktopValue("PrevWallpaper"), "C:\\sea.bmp");
    EXPECT_EQ(showgui::desktopValue("PrevTileWallpaper"), "1");
    EXPECT_EQ(showgui::desktopValue("TileWallpaper"), "0");
    // The second picture in a row: the user's bitmap stays the previous one.
    showgui::setDesktopValue("Wallpaper", own);
    showgui::setWallpaper(CMD_WALLPAPER_TILE, 16, 8);
    EXPECT_EQ(showgui::desktopValue("PrevWallpaper"), "C:\\sea.bmp");
    EXPECT_EQ(showgui::desktopValue("TileWallpaper"), "1");
    showgui::setDesktopValue("TileWallpaper", "0");
    showgui::setWallpaper(CMD_WALLPAPER_PREVIOUS, 0, 0);
    EXPECT_EQ(showgui::desktopValue("TileWallpaper"), "1");
}

struct PrintSeen {
    bool scalesBefore = true, scalesAfter = false;
};

void inspectPrintDialog(void* dialog, void* datum) {
    PrintSeen* seen = static_cast<PrintSeen*>(datum);
    gui::setChecked(dialog, IDC_PRINT_SCALE, false);
    gui::setChecked(dialog, IDC_PRINT_FIT_PAGE, false);
    gui::setChecked(dialog, IDC_PRINT_BEST, true);
    gui::clickItem(dialog, IDC_PRINT_BEST);
    seen->scalesBefore = browsegui::itemEnabled(dialog, IDC_PRINT_X_SCALE);
    gui::setChecked(dialog, IDC_PRINT_BEST, false);
    gui::setChecked(dialog, IDC_PRINT_SCALE, true);
    gui::clickItem(dialog, IDC_PRINT_SCALE);
    seen->scalesAfter = browsegui::itemEnabled(dialog, IDC_PRINT_Y_SCALE);
    gui::screenshot("print-dialog");
    gui::clickItem(dialog, CANCEL);
}

TEST_F(Tools, PrintDialogEnablesTheScalesWithScaling) {
    ASSERT_TRUE(start());
    PrintSeen seen;
    ASSERT_TRUE(gui::withDialogWhile(showgui::runPrintDialog, nullptr, "Imprimer", inspectPrintDialog, &seen));
    EXPECT_FALSE(seen.scalesBefore);
    EXPECT_TRUE(seen.scalesAfter);
}

// The red part of a raster: its bounding box.
struct RedBox {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};

RedBox findRed(int w, int h, const std::vector<uint8_t>& rgb) {
    RedBox b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            if (p[0] > 200 && p[1] < 80 && p[2] < 80) {
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.right = std::max(b.right, x + 1);
                b.bottom = std::max(b.bottom, y + 1);
            }
        }
    return b;
}

TEST_F(Tools, PrintsThroughWinesPostScriptDriverWhereTheOptionsSay) {
    ASSERT_TRUE(start());
    std::string dir = gui::tempFolder();
    if (!showgui::installTestPrinter(dir)) GTEST_SKIP() << "Wine's PostScript printer could not be installed";
    struct Case {
        int option, w, h, xs, ys;
    } cases[] = {{0, 40, 20, 1, 1}, {0, 20, 200, 1, 1}, {1, 40, 20, 10, 5}, {2, 30, 30, 1, 1}};
    int n = 0;
    for (const Case& c : cases) {
        std::string ps = dir + "page" + std::to_string(n) + ".ps";
        std::string ppm = dir + "page" + std::to_string(n++) + ".ppm";
        showgui::PrintedPage page = showgui::printToFile(ps, c.option, c.w, c.h, c.xs, c.ys);
        ASSERT_GT(page.width, 0) << "no device context for the test printer";
        ASSERT_TRUE(page.ok) << c.option;
        // The expected rectangle in device pixels.
        long long ow = page.width, oh = page.height;
        if (c.option == 0) oh = static_cast<long long>(c.h) * page.width * page.dpiY / (static_cast<long long>(c.w) * page.dpiX);
        if (c.option == 1) {
            ow = c.w * c.xs;
            oh = c.h * c.ys;
        }
        long long left = (page.width - ow) / 2, top = (page.height - oh) / 2;
        // Ghostscript draws the page at a sixth of the printer's resolution.
        int dpi = page.dpiX / 6;
        showgui::runUnix("Z:\\usr\\bin\\gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r" +
                                  std::to_string(dpi) + " -sOutputFile=" + showgui::unixPathOf(ppm) + " " +
                                  showgui::unixPathOf(ps));
        // Wine starts the Unix program without waiting for it: its picture tells when it is done.
        int w = 0, h = 0;
        std::vector<uint8_t> rgb;
        bool drawn = false;
        for (int wait = 0; wait < 150 && !drawn; ++wait) {
            drawn = showgui::loadRgb(ppm, &w, &h, &rgb);
            if (!drawn) gui::pump(200);
        }
        if (!drawn) GTEST_SKIP() << "Ghostscript could not run";
        RedBox b = findRed(w, h, rgb);
        double scale = static_cast<double>(dpi) / page.dpiX;
        // Within the page only (a picture taller than the page runs off it).
        double eTop = std::max(0.0, top * scale), eBottom = std::min<double>(h, (top + oh) * scale);
        EXPECT_NEAR(b.left, left * scale, 2.0) << "option " << c.option;
        EXPECT_NEAR(b.right, (left + ow) * scale, 2.0) << "option " << c.option;
        EXPECT_NEAR(b.top, eTop, 2.0) << "option " << c.option;
        EXPECT_NEAR(b.bottom, eBottom, 2.0) << "option " << c.option;
    }
}

}  // namespace
