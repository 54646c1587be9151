// The image window in the real frame: opening, zoom and fit, scrolling,
// operations with undo, crop, saving, pages, stepping through a folder, the
// dump window for unreadable files, full screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dither.h"
#include "gui.h"
#include "imagewnd_gui.h"
#include "resource.h"

namespace {

constexpr int BUTTON_OK = 1;
constexpr int BUTTON_CANCEL = 2;
constexpr int BUTTON_NO = 7;
constexpr int KEY_ESCAPE = 0x1B, KEY_END = 0x23, KEY_HOME = 0x24, KEY_RIGHT = 0x27;

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

std::vector<uint8_t> negated(std::vector<uint8_t> v) {
    for (uint8_t& b : v) b = static_cast<uint8_t>(255 - b);
    return v;
}

class ImageWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        ini = folder + "k.ini";
        ASSERT_TRUE(gui::writeText(ini, ""));
        small = gui::writeBitmap(folder, "a.bmp", 40, 30);
        ASSERT_FALSE(small.empty());
    }
    void TearDown() override {
        if (gui::frameAlive()) {
            gui::answerNextMessageBox("Warning", BUTTON_NO);
            EXPECT_TRUE(gui::closeFrame());
        }
    }
    bool startWith(const std::string& arguments) { return gui::start("-ini " + inQuotes(ini) + " " + arguments); }

    std::string folder, ini, small;
};

TEST_F(ImageWindowTest, OpensAtOneToOneAndShowsThePixels) {
    ASSERT_TRUE(startWith(inQuotes(small)));
    gui::ImageState s = gui::activeImage();
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(gui::activeChildTitle(), "a.bmp");
    EXPECT_EQ(s.zoom, 1);
    EXPECT_FALSE(s.fit);
    EXPECT_EQ(s.displayW, 40);
    EXPECT_EQ(s.displayH, 30);
    // A picture smaller than the client area gets a window of its size (a
    // child window keeps room for its caption buttons: the picture is
    // centred in what remains).
    EXPECT_EQ(s.clientH, 30);
    EXPECT_GE(s.clientW, 40);
    EXPECT_EQ(s.offsetX, -((s.clientW - 40) / 2));
    EXPECT_EQ(s.offsetY, 0);
    std::vector<uint8_t> pixels = gui::filePixels(small);
    EXPECT_EQ(gui::activePixels(), pixels);
    for (int y : {0, 13, 29})
        for (int x : {0, 21, 39}) {
            const uint8_t* p = &pixels[(static_cast<size_t>(y) * 40 + x) * 3];
            uint32_t expected = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
            EXPECT_EQ(gui::shownColour(x - s.offsetX, y - s.offsetY), expected) << x << "," << y;
        }
    gui::screenshot("image-window-normal");
}

TEST_F(ImageWindowTest, ZoomStepsPresetsAndFit) {
    std::string big = gui::writeBitmap(folder, "big.bmp", 900, 700);
    ASSERT_TRUE(startWith(inQuotes(big)));
    gui::restoreActive();
    gui::resizeActive(400, 300);
    struct Step {
        int command, zoom, displayW, displayH;
    } steps[] = {
        {CMD_ZOOM_OUT, -2, 450, 350}, {CMD_ZOOM_IN, -1, 900, 700}, {CMD_ZOOM_IN, 2, 1800, 1400},
        {CMD_ZOOM_FIRST, 16, 14400, 11200}, {CMD_ZOOM_LAST, -16, 56, 43}, {CMD_ZOOM_FIRST + 4, 1, 900, 700},
    };
    for (const Step& st : steps) {
        gui::sendCommand(st.command);
        gui::ImageState s = gui::activeImage();
        EXPECT_EQ(s.zoom, st.zoom) << st.command;
        EXPECT_EQ(s.displayW, st.displayW) << st.command;
        EXPECT_EQ(s.displayH, st.displayH) << st.command;
        gui::shownColour(1, 1);  // paints: the screen copy holds only what the window shows
        s = gui::activeImage();
        EXPECT_LE(s.bufferW, s.clientW) << st.command;
        EXPECT_LE(s.bufferH, s.clientH) << st.command;
        EXPECT_GT(s.bufferW, 0) << st.command;
    }
    gui::sendCommand(CMD_ZOOM_IN);
    gui::screenshot("image-window-zoomed");
    // Fit: the largest size of the picture's shape inside the client area.
    gui::sendCommand(CMD_FIT_TO_WINDOW);
    gui::ImageState s = gui::activeImage();
    EXPECT_TRUE(s.fit);
    EXPECT_TRUE(gui::menuItemChecked(CMD_FIT_TO_WINDOW));
    EXPECT_TRUE(s.displayW == s.clientW || s.displayH == s.clientH);
    EXPECT_LE(s.displayW, s.clientW);
    EXPECT_LE(s.displayH, s.clientH);
    EXPECT_NEAR(static_cast<double>(s.displayW) / s.displayH, 900.0 / 700.0, 0.02);
    EXPECT_EQ(gui::settingInt("View", "FitToWindow"), 1);
    gui::screenshot("image-window-fitted");
    gui::resizeActive(300, 500);  // resizing refits
    s = gui::activeImage();
    EXPECT_EQ(s.displayW, s.clientW);
    EXPECT_LE(s.displayH, s.clientH);
    gui::sendCommand(CMD_ZOOM_IN);  // a zoom leaves fit mode
    EXPECT_FALSE(gui::activeImage().fit);
    EXPECT_EQ(gui::settingInt("View", "FitToWindow"), 1);  // only the fit command stores it
}

TEST_F(ImageWindowTest, KeysScrollWithinTheRange) {
    std::string big = gui::writeBitmap(folder, "big.bmp", 900, 700);
    ASSERT_TRUE(startWith(inQuotes(big)));
    gui::restoreActive();
    gui::resizeActive(400, 300);
    gui::sendCommand(CMD_ZOOM_FIRST + 4);  // 1:1
    gui::ImageState s = gui::activeImage();
    EXPECT_EQ(s.offsetX, 0);
    EXPECT_EQ(s.offsetY, 0);
    gui::keyToActive(KEY_END);
    s = gui::activeImage();
    EXPECT_EQ(s.offsetY, 700 - s.clientH);
    gui::keyToActive(KEY_RIGHT);
    EXPECT_EQ(gui::activeImage().offsetX, 16);
    gui::keyToActive(KEY_HOME);
    EXPECT_EQ(gui::activeImage().offsetY, 0);
    // The copy follows the scroll: the colour shown is the picture's there.
    std::vector<uint8_t> pixels = gui::filePixels(big);
    const uint8_t* p = &pixels[(static_cast<size_t>(10) * 900 + 16 + 5) * 3];
    EXPECT_EQ(gui::shownColour(5, 10), (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]);
}

TEST_F(ImageWindowTest, OperationsUndoAndCrop) {
    ASSERT_TRUE(startWith(inQuotes(small)));
    std::vector<uint8_t> original = gui::activePixels();
    ASSERT_EQ(original.size(), 40u * 30u * 3u);
    EXPECT_FALSE(gui::menuItemEnabled(CMD_UNDO));
    gui::sendCommand(CMD_NEGATE);
    gui::ImageState s = gui::activeImage();
    EXPECT_TRUE(s.modified);
    EXPECT_TRUE(s.hasUndo);
    EXPECT_EQ(gui::activePixels(), negated(original));
    EXPECT_EQ(gui::activeUndoPixels(), original);
    EXPECT_TRUE(gui::menuItemEnabled(CMD_UNDO));
    gui::sendCommand(CMD_UNDO);
    EXPECT_EQ(gui::activePixels(), original);
    gui::sendCommand(CMD_UNDO);  // undo twice: the result again
    EXPECT_EQ(gui::activePixels(), negated(original));

    // Quarter turn: the sizes swap and the display follows.
    gui::sendCommand(CMD_ROTATE_RIGHT);
    s = gui::activeImage();
    EXPECT_EQ(s.imageW, 30);
    EXPECT_EQ(s.imageH, 40);
    EXPECT_EQ(s.displayW, 30);
    gui::sendCommand(CMD_UNDO);

    // Crop to a selection drawn with the mouse.
    EXPECT_FALSE(gui::menuItemEnabled(CMD_CROP));
    s = gui::activeImage();
    gui::dragActive(5 - s.offsetX, 4 - s.offsetY, 25 - s.offsetX, 14 - s.offsetY);  // client points of the picture's
    s = gui::activeImage();
    ASSERT_TRUE(s.hasSelection);
    EXPECT_TRUE(gui::menuItemEnabled(CMD_CROP));
    std::vector<uint8_t> before = gui::activePixels();
    gui::sendCommand(CMD_CROP);
    s = gui::activeImage();
    EXPECT_EQ(s.imageW, 20);
    EXPECT_EQ(s.imageH, 10);
    EXPECT_FALSE(s.hasSelection);
    std::vector<uint8_t> cropped = gui::activePixels();
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(cropped[(static_cast<size_t>(y) * 20 + x) * 3 + c],
                          before[(static_cast<size_t>(y + 4) * 40 + x + 5) * 3 + c]);
    gui::sendCommand(CMD_UNDO);
    EXPECT_EQ(gui::activePixels(), before);

    // A colour reduction without dialog: 2 grey levels (code 1, black and white).
    gui::sendCommand(CMD_REDUCE_FIRST);
    for (uint8_t b : gui::activePixels()) ASSERT_TRUE(b == 0 || b == 255);
}

TEST_F(ImageWindowTest, SaveAsAnotherFormatReadsBackAndSaveReplaces) {
    ASSERT_TRUE(startWith(inQuotes(small)));
    gui::sendCommand(CMD_NEGATE);
    std::vector<uint8_t> shown = gui::activePixels();
    std::string png = folder + "neg.png";
    ASSERT_EQ(gui::saveActiveAs(png, "png"), 0);
    EXPECT_EQ(gui::filePixels(png), shown);
    gui::ImageState s = gui::activeImage();
    EXPECT_FALSE(s.modified);
    EXPECT_EQ(s.path, png);
    EXPECT_EQ(gui::recentFile(1), png);  // appended after the opened file

    // "&Sauver" asks, then replaces the file through a temporary one.
    gui::sendCommand(CMD_FLIP_VERTICAL);
    std::vector<uint8_t> flipped = gui::activePixels();
    ASSERT_NE(flipped, shown);
    gui::answerNextMessageBox("Save As", BUTTON_CANCEL);
    gui::sendCommand(CMD_SAVE);
    EXPECT_EQ(gui::filePixels(png), shown);
    EXPECT_TRUE(gui::activeImage().modified);
    gui::answerNextMessageBox("Save As", BUTTON_OK);
    gui::sendCommand(CMD_SAVE);
    EXPECT_EQ(gui::filePixels(png), flipped);
    EXPECT_FALSE(gui::activeImage().modified);
    std::vector<std::string> entries = gui::folderEntries(folder);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"a.bmp", "k.ini", "neg.png"}));  // no temporary left
    // The PNG opens in a window of its own with the same pixels.
    gui::openFile(png);
    EXPECT_EQ(gui::childCount(), 2);
    EXPECT_EQ(gui::activeChildTitle(), "neg.png");
    EXPECT_EQ(gui::activePixels(), flipped);
}

struct SaveDialogRun {
    std::string name;
    bool hasOptions = false;
};

void actOnSaveDialog(void* dialog, void* datum) {
    auto* run = static_cast<SaveDialogRun*>(datum);
    run->hasOptions = gui::dialogHasItem(dialog, IDC_SAVE_OPTIONS);
    gui::screenshot("image-window-save-dialog");
    gui::typeFileNameAndAccept(dialog, run->name);
}

TEST_F(ImageWindowTest, SaveDialogNamesTheFileInTheCurrentFormat) {
    ASSERT_TRUE(startWith(inQuotes(small)));
    gui::sendCommand(CMD_FLIP_HORIZONTAL);
    SaveDialogRun run;
    run.name = folder + "copy";  // no extension: the format's is added
    ASSERT_TRUE(gui::withDialog(CMD_SAVE_AS, "Sauver l'image", actOnSaveDialog, &run));
    gui::pump(200);
    EXPECT_TRUE(run.hasOptions);
    std::string saved = folder + "copy.bmp";
    ASSERT_TRUE(gui::fileExists(saved));
    EXPECT_EQ(gui::filePixels(saved), gui::activePixels());
    EXPECT_EQ(gui::activeImage().path, saved);
    EXPECT_FALSE(gui::activeImage().modified);
}

// Saving a true-colour picture as GIF asks for a conversion ("KaleoConv",
// titled "Sauver sous...") and saves a converted copy; the window keeps its
// true-colour picture.
struct GifSave {
    std::string path;
    int result = -1;
};

void saveAsGif(void* datum) {
    auto* run = static_cast<GifSave*>(datum);
    run->result = gui::saveActiveAs(run->path, "gif");
}

void chooseGreyLevels(void* dialog, void*) {
    gui::setChecked(dialog, IDC_CONV_GREY_FIRST + 6, true);  // 256 levels
    gui::clickItem(dialog, IDC_CONV_GREY_FIRST + 6);
    gui::clickItem(dialog, BUTTON_OK);
}

void cancelConversion(void* dialog, void*) { gui::clickItem(dialog, BUTTON_CANCEL); }

TEST_F(ImageWindowTest, SavingTrueColourAsGifAsksForAConversion) {
    ASSERT_TRUE(startWith(inQuotes(small)));
    std::vector<uint8_t> original = gui::activePixels();
    GifSave cancelled{folder + "c.gif"};
    ASSERT_TRUE(gui::withDialogWhile(saveAsGif, &cancelled, "Sauver sous...", cancelConversion, nullptr));
    EXPECT_EQ(cancelled.result, 255);
    EXPECT_FALSE(gui::fileExists(cancelled.path));
    GifSave grey{folder + "g.gif"};
    ASSERT_TRUE(gui::withDialogWhile(saveAsGif, &grey, "Sauver sous...", chooseGreyLevels, nullptr));
    ASSERT_EQ(grey.result, 0);
    std::vector<uint8_t> saved = gui::filePixels(grey.path);
    ASSERT_EQ(saved.size(), original.size());
    for (size_t i = 0; i < saved.size(); i += 3) {
        EXPECT_EQ(saved[i], saved[i + 1]);  // grey
        int expected = (77 * original[i] + 150 * original[i + 1] + 29 * original[i + 2]) >> 8;
        ASSERT_NEAR(saved[i], expected, 1) << i / 3;
    }
    EXPECT_EQ(gui::activePixels(), original);
}

TEST_F(ImageWindowTest, PagesStepExtractAndBecomeTheUndoImage) {
    std::string tiff = folder + "pages.tif";
    ASSERT_TRUE(gui::writeGreyTiff(tiff, 3, 12, 9));
    ASSERT_TRUE(startWith(inQuotes(tiff)));
    gui::ImageState s = gui::activeImage();
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.pageCount, 3);
    EXPECT_EQ(gui::activePixels()[0], 40);
    EXPECT_FALSE(gui::menuItemEnabled(CMD_PREV_PAGE));
    gui::sendCommand(CMD_NEXT_PAGE);
    EXPECT_EQ(gui::activeImage().page, 1);
    EXPECT_EQ(gui::activePixels()[0], 100);
    EXPECT_EQ(gui::activeUndoPixels()[0], 40);  // the previous page is the undo image
    gui::sendCommand(CMD_LAST_PAGE);
    EXPECT_EQ(gui::activeImage().page, 2);
    EXPECT_EQ(gui::activePixels()[0], 160);
    gui::sendCommand(CMD_NEXT_PAGE);  // at the last page: nothing
    EXPECT_EQ(gui::activeImage().page, 2);
    gui::sendCommand(CMD_FIRST_PAGE);
    EXPECT_EQ(gui::activeImage().page, 0);
    EXPECT_EQ(gui::activePixels()[0], 40);
    // Every other page in a window of its own.
    gui::sendCommand(CMD_EXTRACT_PAGES, 200);
    EXPECT_EQ(gui::childCount(), 3);
    s = gui::activeImage();
    EXPECT_EQ(s.pageCount, 1);
    EXPECT_EQ(gui::activePixels()[0], 160);
}

TEST_F(ImageWindowTest, SteppingFollowsTheFolderAndSkipsUnreadableFiles) {
    std::string sub = gui::tempFolder();
    ASSERT_FALSE(gui::writeBitmap(sub, "one.bmp", 4, 3).empty());
    ASSERT_TRUE(gui::writeText(sub + "notes.txt", "not a picture at all, just words"));
    ASSERT_FALSE(gui::writeBitmap(sub, "two.bmp", 5, 3).empty());
    ASSERT_FALSE(gui::writeBitmap(sub, "three.bmp", 6, 3).empty());
    std::vector<std::string> order = gui::folderEntries(sub);
    std::vector<std::string> readable;
    for (const std::string& n : order)
        if (n != "notes.txt") readable.push_back(n);
    ASSERT_EQ(readable.size(), 3u);
    ASSERT_TRUE(startWith(inQuotes(sub + readable[0])));
    for (size_t i = 1; i < readable.size(); ++i) {
        gui::sendCommand(CMD_NEXT_FILE);
        EXPECT_EQ(gui::activeImage().path, sub + readable[i]);
        EXPECT_EQ(gui::activeChildTitle(), sub + readable[i]);
    }
    gui::sendCommand(CMD_NEXT_FILE);  // the last file stays
    EXPECT_EQ(gui::activeImage().path, sub + readable[2]);
    gui::sendCommand(CMD_FIRST_FILE);
    EXPECT_EQ(gui::activeImage().path, sub + readable[0]);
    gui::sendCommand(CMD_LAST_FILE);
    EXPECT_EQ(gui::activeImage().path, sub + readable[2]);
    gui::sendCommand(CMD_PREV_FILE);
    EXPECT_EQ(gui::activeImage().path, sub + readable[1]);

    // A changed picture asks first; "Annuler" keeps it, "Non" goes on.
    gui::sendCommand(CMD_NEGATE);
    gui::answerNextMessageBox("Warning", BUTTON_CANCEL);
    gui::sendCommand(CMD_NEXT_FILE);
    EXPECT_EQ(gui::activeImage().path, sub + readable[1]);
    EXPECT_TRUE(gui::activeImage().modified);
    gui::answerNextMessageBox("Warning", BUTTON_NO);
    gui::sendCommand(CMD_NEXT_FILE);
    gui::ImageState s = gui::activeImage();
    EXPECT_EQ(s.path, sub + readable[2]);
    EXPECT_FALSE(s.modified);
    EXPECT_FALSE(s.hasUndo);
}

TEST_F(ImageWindowTest, UnreadableFileOpensTheDumpWindowWhenAsked) {
    std::string text = folder + "words.txt";
    ASSERT_TRUE(gui::writeText(text, "hello"));
    ASSERT_TRUE(startWith(""));
    ASSERT_TRUE(gui::setSettingValue("View", "OpenHexaViewIfNotPicture", 0));
    gui::answerNextMessageBox("Warning", BUTTON_OK);
    gui::openFile(text);
    EXPECT_EQ(gui::childCount(), 0);  // the error only
    ASSERT_TRUE(gui::setSettingValue("View", "OpenHexaViewIfNotPicture", 1));
    gui::answerNextMessageBox("Warning", BUTTON_OK);
    gui::openFile(text);
    EXPECT_EQ(gui::childCount(), 1);
    EXPECT_EQ(gui::activeChildClass(), "VdumpClass");
}

// The brightness dialog ("Luminosité") on the window's picture: "Vue Auto."
// previews on the window, "Annuler" puts the picture back exactly, and
// "Appliquer" makes the previewed result the picture with the undo image.
struct BrightnessRun {
    int position;
    bool apply;
    std::vector<uint8_t> previewed;
    std::string label;
};

void actOnBrightness(void* dialog, void* datum) {
    auto* run = static_cast<BrightnessRun*>(datum);
    gui::setChecked(dialog, IDC_VALUE_AUTO, true);
    gui::clickItem(dialog, IDC_VALUE_AUTO);
    gui::setScrollPosition(dialog, IDC_VALUE_SCROLL, run->position);
    run->label = gui::itemText(dialog, IDC_VALUE_CURRENT);
    run->previewed = gui::activeShownPixels();
    gui::screenshot("image-window-value-dialog");
    gui::clickItem(dialog, run->apply ? BUTTON_OK : BUTTON_CANCEL);
}

TEST_F(ImageWindowTest, ValueDialogPreviewsCancelsAndApplies) {
    ASSERT_TRUE(startWith(inQuotes(small)));
    std::vector<uint8_t> original = gui::activePixels();
    const std::string title = "Luminosit\xe9";
    BrightnessRun cancel{255 + 60, false, {}, {}};
    ASSERT_TRUE(gui::withDialog(CMD_BRIGHTNESS, title, actOnBrightness, &cancel));
    EXPECT_EQ(cancel.label, "60");
    ASSERT_EQ(cancel.previewed.size(), original.size());
    EXPECT_NE(cancel.previewed, original);  // shown while the dialog was open
    EXPECT_EQ(gui::activePixels(), original);
    EXPECT_EQ(gui::activeShownPixels(), original);
    EXPECT_FALSE(gui::activeImage().modified);
    EXPECT_FALSE(gui::activeImage().hasUndo);

    BrightnessRun apply{255 + 60, true, {}, {}};
    ASSERT_TRUE(gui::withDialog(CMD_BRIGHTNESS, title, actOnBrightness, &apply));
    EXPECT_EQ(gui::activePixels(), apply.previewed);
    for (size_t i = 0; i < original.size(); ++i) ASSERT_EQ(apply.previewed[i], std::min(255, original[i] + 60)) << i;
    EXPECT_TRUE(gui::activeImage().modified);
    EXPECT_EQ(gui::activeUndoPixels(), original);
    EXPECT_EQ(gui::settingInt("Process", "LastValue"), 255 + 60);  // the slot remembers the position
}

// The strings of the conversion codes are the labels of the menu commands
// (in the ANSI code page: "é" is 0xE9).
TEST(ViewerStrings, ConversionCodesNameTheMenuConversions) {
    for (int code = 1; code <= 32; ++code) {
        std::string label = conversionLabel(code);
        std::string ansi;
        for (size_t i = 0; i < label.size(); ++i) {
            if (static_cast<unsigned char>(label[i]) == 0xC3 && i + 1 < label.size()) {
                ansi.push_back(static_cast<char>(static_cast<unsigned char>(label[++i]) + 0x40));
            } else {
                ansi.push_back(label[i]);
            }
        }
        EXPECT_EQ(gui::resourceString(4300 + code), ansi) << code;
    }
}

TEST_F(ImageWindowTest, FilesArrivingDuringALoadWaitForIt) {
    ASSERT_TRUE(startWith(""));
    EXPECT_EQ(gui::openWhileBusy(small), 0);  // nothing enters the library meanwhile
    gui::pump(200);
    EXPECT_EQ(gui::childCount(), 1);  // served once the library is free
    EXPECT_EQ(gui::activeChildTitle(), "a.bmp");
}

TEST_F(ImageWindowTest, FullScreenAndBack) {
    ASSERT_TRUE(startWith(inQuotes(small)));
    gui::sendCommand(CMD_FULL_SCREEN);
    gui::ImageState s = gui::activeImage();
    EXPECT_TRUE(s.fullScreen);
    EXPECT_FALSE(gui::toolBarVisible());
    EXPECT_EQ(gui::menuBar(), "");
    gui::keyToActive(KEY_ESCAPE);
    s = gui::activeImage();
    EXPECT_FALSE(s.fullScreen);
    EXPECT_TRUE(gui::toolBarVisible());
    EXPECT_NE(gui::menuBar(), "");
    // Closing in full screen only leaves it.
    gui::sendCommand(CMD_FULL_SCREEN);
    gui::sendCommand(CMD_CLOSE);
    EXPECT_EQ(gui::childCount(), 1);
    EXPECT_FALSE(gui::activeImage().fullScreen);
}

}  // namespace
