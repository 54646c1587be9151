// The hexadecimal dump window under Wine: opened by the frame's request and by
// "Voir en &hexa...", its title and lines, scrolling by keys, wheel and thumb
// (scaled for long files), the default menu while it is active, and the files
// it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dump_gui.h"
#include "gui.h"
#include "resource.h"

namespace {

const std::string DEFAULT_MENUS = "&Fichier|&Affichage|F&en\xeatre|I&nfo";
const std::string IMAGE_MENUS = "&Fichier|&Image|Fi&ltre|&Affichage|F&en\xeatre|I&nfo";

std::string spaces(size_t n) { return std::string(n, ' '); }

// The hexadecimal column of n zero bytes.
std::string zeroPairs(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "00 ";
    return s;
}

// The offset column a line starting at byte `offset` shows.
std::string offsetColumn(long long offset) {
    char text[32];
    snprintf(text, sizeof text, "%08llx: ", offset);
    return text;
}

// n bytes counting up from 0 (wrapping at 256).
std::string countingBytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i & 0xFF);
    return s;
}

class Dump : public ::testing::Test {
protected:
    void SetUp() override {
        folder = gui::tempFolder();
        ini = folder + "k.ini";
        ASSERT_TRUE(gui::writeText(ini, ""));
    }
    void TearDown() override {
        if (gui::frameAlive()) EXPECT_TRUE(gui::closeFrame());
    }
    bool start() { return gui::start("-ini \"" + ini + "\""); }
    std::string file(const std::string& name, const std::string& bytes) {
        std::string path = folder + name;
        EXPECT_TRUE(gui::writeText(path, bytes)) << path;
        return path;
    }

    std::string folder, ini;
};

TEST_F(Dump, FiveByteFileShowsOneLine) {
    std::string path = file("five.bin", std::string("AB\x01yz", 5));
    ASSERT_TRUE(start());
    dumpgui::postOpenHexa(path);
    ASSERT_EQ(dumpgui::dumpWindowCount(), 1);
    EXPECT_EQ(dumpgui::activeChildClass(), "VdumpClass");
    EXPECT_EQ(dumpgui::activeChildTitle(), "Dump: " + path);
    EXPECT_EQ(dumpgui::lineCount(), 1);
    EXPECT_EQ(dumpgui::visibleLines(),
              std::vector<std::string>{"00000000: 41 42 01 79 7a " + spaces(33) + "AB.yz" + spaces(11)});
    EXPECT_EQ(dumpgui::scrollPosition(), 0);
    EXPECT_EQ(dumpgui::scrollLimit(), 0);  // nothing to scroll
    gui::screenshot("dump-five");
}

TEST_F(Dump, ShowsTheFileFromItsFirstLineWithTheDefaultMenu) {
    std::string path = file("counting.bin", countingBytes(100));
    std::string picture = gui::writeBitmap(folder, "p.bmp", 8, 8);
    ASSERT_FALSE(picture.empty());
    ASSERT_TRUE(start());
    gui::openFile(picture);
    EXPECT_EQ(gui::menuBar(), IMAGE_MENUS);
    EXPECT_EQ(gui::toolbarContext(), 1);
    dumpgui::postOpenHexa(path);
    ASSERT_EQ(dumpgui::dumpWindowCount(), 1);
    EXPECT_EQ(gui::childCount(), 2);
    EXPECT_EQ(dumpgui::activeChildTitle(), "Dump: " + path);
    EXPECT_TRUE(dumpgui::dumpWindowHasFocus());
    // A dump is no image: the default menu, the tool bar of no image, its command enabled.
    EXPECT_EQ(gui::menuBar(), DEFAULT_MENUS);
    EXPECT_EQ(gui::toolbarContext(), 0);
    EXPECT_TRUE(gui::menuItemEnabled(CMD_VIEW_HEX));
    EXPECT_TRUE(gui::menuItemEnabled(CMD_CLOSE_ALL));
    std::vector<std::string> lines = dumpgui::visibleLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "00000000: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ................");
    EXPECT_EQ(lines[2], "00000020: 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f  !\"#$%&'()*+,-./");
    EXPECT_EQ(lines[6], "00000060: 60 61 62 63 " + spaces(36) + "`abc" + spaces(12));
    gui::screenshot("dump-counting");

    // Closing it brings back the image window's menu; closing is never refused.
    EXPECT_TRUE(gui::queryEndSession());
    gui::sendCommand(CMD_CLOSE, 100);
    EXPECT_EQ(dumpgui::dumpWindowCount(), 0);
    EXPECT_EQ(gui::childCount(), 1);
    EXPECT_EQ(gui::menuBar(), IMAGE_MENUS);
}

TEST_F(Dump, KeysWheelAndThumbMoveTheFirstLine) {
    const long long total = 1000;
    std::string path = file("thousand.bin", countingBytes(16 * total));
    ASSERT_TRUE(start());
    dumpgui::postOpenHexa(path);
    ASSERT_EQ(dumpgui::lineCount(), total);
    const long long page = dumpgui::pageLines();
    ASSERT_GT(page, 2);
    ASSERT_LT(page, 200);
    const long long last = total - page;
    const long long wheel = dumpgui::wheelLines();
    EXPECT_EQ(dumpgui::scrollLimit(), last);  // one scroll unit a line

    enum Action { KEY, WHEEL, THUMB };
    struct Step {
        Action action;
        int value;
        long long expected;
    } steps[] = {
        {KEY, dumpgui::KEY_DOWN, 1},
        {KEY, dumpgui::KEY_DOWN, 2},
        {KEY, dumpgui::KEY_UP, 1},
        {KEY, dumpgui::KEY_PAGE_DOWN, 1 + page},
        {KEY, dumpgui::KEY_PAGE_UP, 1},
        {KEY, dumpgui::KEY_PAGE_UP, 0},
        {KEY, dumpgui::KEY_UP, 0},
        {KEY, dumpgui::KEY_END, last},
        {KEY, dumpgui::KEY_DOWN, last},
        {KEY, dumpgui::KEY_PAGE_DOWN, last},
        {KEY, dumpgui::KEY_PAGE_UP, last - page},
        {KEY, dumpgui::KEY_HOME, 0},
        {WHEEL, -120, wheel},         // towards the user: down the file
        {WHEEL, -60, wheel},          // half a notch waits for the other half
        {WHEEL, -60, 2 * wheel},
        {WHEEL, 360, 0},
        {THUMB, 500, 500},
        {THUMB, 0, 0},
        {THUMB, static_cast<int>(last), last},
    };
    for (const Step& s : steps) {
        switch (s.action) {
        case KEY: dumpgui::pressKey(static_cast<dumpgui::Key>(s.value)); break;
        case WHEEL: dumpgui::turnWheel(s.value); break;
        case THUMB: dumpgui::dragThumb(s.value); break;
        }
        SCOPED_TRACE(::testing::Message() << "action " << s.action << " " << s.value);
        ASSERT_EQ(dumpgui::firstLine(), s.expected);
        EXPECT_EQ(dumpgui::scrollPosition(), s.expected);
        std::vector<std::string> lines = dumpgui::visibleLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].substr(0, 10), offsetColumn(16 * s.expected));
        // The window is full down to the last line of the file, never past it
        // (a partly visible row at the bottom counts).
        const long long shown = static_cast<long long>(lines.size());
        EXPECT_GE(shown, std::min(page, total - s.expected));
        EXPECT_LE(shown, std::min(page + 1, total - s.expected));
    }
    gui::screenshot("dump-end");
}

// 4 MB: 262144 lines, more than a 16-bit scroll position counts: the thumb
// still goes line by line, its position read in full.
TEST_F(Dump, LongFilesScrollLineByLine) {
    const long long total = 262144;
    std::string path = file("long.bin", countingBytes(16 * total));
    ASSERT_TRUE(start());
    dumpgui::postOpenHexa(path);
    ASSERT_EQ(dumpgui::lineCount(), total);
    const long long last = total - dumpgui::pageLines();
    const int limit = dumpgui::scrollLimit();
    EXPECT_EQ(limit, last);
    dumpgui::pressKey(dumpgui::KEY_END);
    EXPECT_EQ(dumpgui::firstLine(), last);
    EXPECT_EQ(dumpgui::scrollPosition(), limit);
    std::vector<std::string> lines = dumpgui::visibleLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().substr(0, 10), offsetColumn(16 * (total - 1)));
    dumpgui::pressKey(dumpgui::KEY_UP);
    EXPECT_EQ(dumpgui::firstLine(), last - 1);
    const int positions[] = {70000, 65536, 131071, limit / 2};
    for (int p : positions) {
        dumpgui::dragThumb(p);
        EXPECT_EQ(dumpgui::firstLine(), p) << p;
        EXPECT_EQ(dumpgui::scrollPosition(), p) << p;
        lines = dumpgui::visibleLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].substr(0, 10), offsetColumn(16LL * p)) << p;
    }
    dumpgui::pressKey(dumpgui::KEY_HOME);
    EXPECT_EQ(dumpgui::firstLine(), 0);
    EXPECT_EQ(dumpgui::scrollPosition(), 0);
}

// 32 GB (more than this machine's memory, a hole on disk): the window opens at
// once, reading only the lines it shows; 2^31 lines scale the scroll bar.
TEST_F(Dump, HugeFilesOpenAtOnceAndScale) {
    const long long size = 1LL << 35, total = size / 16;
    std::string path = folder + "huge.bin";
    ASSERT_TRUE(dumpgui::writeSparse(path, size, "END"));
    ASSERT_TRUE(start());
    dumpgui::postOpenHexa(path);
    ASSERT_EQ(dumpgui::dumpWindowCount(), 1);
    ASSERT_EQ(dumpgui::lineCount(), total);
    std::vector<std::string> lines = dumpgui::visibleLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "00000000: " + zeroPairs(16) + std::string(16, '.'));
    const int limit = dumpgui::scrollLimit();
    EXPECT_GT(limit, 65535);
    EXPECT_LT(limit, total);
    dumpgui::pressKey(dumpgui::KEY_END);
    EXPECT_EQ(dumpgui::firstLine(), total - dumpgui::pageLines());
    EXPECT_EQ(dumpgui::scrollPosition(), limit);
    lines = dumpgui::visibleLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "7fffffff0: " + zeroPairs(13) + "45 4e 44 " + std::string(13, '.') + "END");
    dumpgui::dragThumb(limit / 2);
    // The middle of the thumb's travel is the middle of the lines that can come first.
    const double middle = static_cast<double>(total - dumpgui::pageLines()) / 2;
    EXPECT_NEAR(static_cast<double>(dumpgui::firstLine()), middle, 4.0);
    EXPECT_EQ(dumpgui::scrollPosition(), limit / 2);
}

// In a small frame the first window takes the client's width, not more.
TEST_F(Dump, FirstWindowFitsASmallFrame) {
    std::string path = file("small.bin", countingBytes(64));
    ASSERT_TRUE(start());
    gui::moveFrame(0, 0, 360, 300);
    dumpgui::postOpenHexa(path);
    int left = -1, right = -1, width = -1;
    ASSERT_TRUE(dumpgui::activeChildSpan(&left, &right, &width));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(right, width);
}

TEST_F(Dump, UnreadableFilesOpenNoWindow) {
    std::string empty = file("empty.bin", "");
    ASSERT_TRUE(start());
    const std::string refused[] = {folder + "missing.bin", folder.substr(0, folder.size() - 1), folder + "no\\such.bin"};
    for (const std::string& path : refused) {
        dumpgui::postOpenHexa(path);  // a message box here would never return
        EXPECT_EQ(gui::childCount(), 0) << path;
    }
    // An empty file can be read: a window without lines.
    dumpgui::postOpenHexa(empty);
    ASSERT_EQ(dumpgui::dumpWindowCount(), 1);
    EXPECT_EQ(dumpgui::lineCount(), 0);
    EXPECT_TRUE(dumpgui::visibleLines().empty());
    dumpgui::pressKey(dumpgui::KEY_END);
    dumpgui::turnWheel(-120);
    EXPECT_EQ(dumpgui::firstLine(), 0);
}

TEST_F(Dump, MaximisedWhenTheActiveChildIs) {
    std::string one = file("one.bin", "one");
    std::string two = file("two.bin", "two");
    ASSERT_TRUE(start());
    dumpgui::postOpenHexa(one);
    EXPECT_FALSE(dumpgui::activeChildMaximized());
    dumpgui::maximizeActiveChild();
    ASSERT_TRUE(dumpgui::activeChildMaximized());
    dumpgui::postOpenHexa(two);
    EXPECT_EQ(dumpgui::activeChildTitle(), "Dump: " + two);
    EXPECT_TRUE(dumpgui::activeChildMaximized());
    EXPECT_EQ(gui::menuBar(), DEFAULT_MENUS);
}

TEST_F(Dump, ViewHexCommandAsksWithTheOpenDialog) {
    std::string path = file("asked.bin", "0123456789abcdefXYZ");
    ASSERT_TRUE(start());
    ASSERT_TRUE(dumpgui::viewHexThroughOpenDialog(path));
    ASSERT_EQ(dumpgui::dumpWindowCount(), 1);
    EXPECT_EQ(dumpgui::activeChildTitle(), "Dump: " + path);
    std::vector<std::string> lines = dumpgui::visibleLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "00000010: 58 59 5a " + spaces(39) + "XYZ" + spaces(13));
}

}  // namespace
