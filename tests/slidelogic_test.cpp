// Slide-show files (reading, writing, hostile lines) and the order of slides.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "slidelogic.h"

namespace {

SlideList parse(const std::string& text, bool* ok = nullptr) {
    SlideList list;
    bool r = parseSlideText(text.data(), text.size(), &list);
    if (ok) *ok = r;
    return list;
}

TEST(SlideFile, RoundTripKeepsEveryOptionAndFile) {
    const uint16_t optionSets[] = {
        0,
        SLIDE_TIMER | SLIDE_LOOP,
        SLIDE_FULL_SCREEN | SLIDE_NO_TITLE | SLIDE_FIT_LARGER | SLIDE_RANDOM,
        SLIDE_TIMER | SLIDE_FIT_ALL | SLIDE_CENTRE | SLIDE_SKIP_ERRORS | SLIDE_HIDE_MOUSE,
        SLIDE_TIMER | SLIDE_LOOP | SLIDE_FULL_SCREEN | SLIDE_CENTRE | SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS |
            SLIDE_HIDE_MOUSE | SLIDE_RANDOM | SLIDE_FIT_LARGER,
    };
    for (uint16_t flags : optionSets) {
        SlideList list;
        list.flags = flags;
        list.timerSeconds = (flags & SLIDE_TIMER) ? 17 : 1;
        list.files = {"C:\\images\\a.gif", "D:\\x y\\\xe9t\xe9.bmp", "\"quoted\" name.png"};
        std::string text = slideFileText(list);
        bool ok = false;
        SlideList back = parse(text, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(back.flags, flags) << text;
        EXPECT_EQ(back.timerSeconds, list.timerSeconds);
        EXPECT_EQ(back.files, list.files);
    }
}

TEST(SlideFile, WrittenLinesInOrder) {
    SlideList list;
    list.flags = SLIDE_TIMER | SLIDE_FULL_SCREEN | SLIDE_FIT_ALL;
    list.timerSeconds = 5;
    list.files = {"C:\\a.bmp"};
    EXPECT_EQ(slideFileText(list),
              "# Slide Show Sequence\r\nTimer = 5\r\nLoop = 0\r\nFullScreen = 1\r\nTitleBar = 1\r\nView = 2\r\n"
              "CenterWindow = 0\r\nReadErrors = 1\r\nHideMouse = 0\r\nRandomOrder = 0\r\n\"C:\\a.bmp\"\r\n");
    list.flags = 0;  // no timer: no "Timer" line
    EXPECT_EQ(slideFileText(list).find("Timer"), std::string::npos);
}

TEST(SlideFile, MissingHeaderGivesEmptyList) {
    bool ok = true;
    SlideList list = parse("Timer = 3\n\"C:\\a.bmp\"\n", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(list.files.empty());
    EXPECT_FALSE(list.flags & SLIDE_TIMER);
    parse("", &ok);
    EXPECT_FALSE(ok);
}

TEST(SlideFile, DefaultsBeforeLines) {
    // Title bar 0 and no "ReadErrors": no title bar, unreadable files skipped.
    SlideList list = parse("# Slide Show Sequence\nTitleBar = 0\n\"C:\\a.bmp\"\n");
    EXPECT_EQ(list.flags, SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS);
    EXPECT_EQ(list.timerSeconds, 1);
    list = parse("# Slide Show Sequence extra text\nTitleBar = 1\nReadErrors = 1\nView = 1\n");
    EXPECT_EQ(list.flags, SLIDE_FIT_LARGER);
}

TEST(SlideFile, HostileLines) {
    const std::string header = "# Slide Show Sequence\r\n";
    struct Case {
        std::string lines;
        std::vector<std::string> files;
        uint16_t flags;
        int timer;
    } cases[] = {
        // A lone quote, an unclosed quote and an empty name are not files.
        {"\"\n\"C:\\open.bmp\n\"\"\n", {}, SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        // The name runs to the last quote on the line.
        {"\"C:\\a\"b.bmp\" trailing\n", {"C:\\a\"b.bmp"}, SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        // A path of 258 characters is kept, one of 259 skipped.
        {"\"" + std::string(258, 'p') + "\"\n\"" + std::string(259, 'q') + "\"\n", {std::string(258, 'p')},
         SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        // Keys longer than 32 characters are ignored, not cut.
        {std::string(40, 'K') + "Timer = 9\n" + std::string(32, 'K') + " = 4\n", {},
         SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        // Timer values outside 1…3600 are brought within.
        {"Timer = 0\n", {}, SLIDE_TIMER | SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        {"Timer = -5\n", {}, SLIDE_TIMER | SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        {"Timer = 99999999999999999999\n", {}, SLIDE_TIMER | SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 3600},
        // Spacing around "=" varies; missing numbers and unknown keys do nothing.
        {"Loop=1\nFullScreen   =   2\nRandomOrder =\nWhatever = 1\nHideMouse x 1\n", {},
         SLIDE_LOOP | SLIDE_FULL_SCREEN | SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        // A line longer than 512 bytes is skipped whole (no tail read as a line).
        {"\"" + std::string(600, 'z') + "\n\"C:\\ok.bmp\"\n", {"C:\\ok.bmp"}, SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        {std::string(520, ' ') + "Loop = 1\n", {}, SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
        // Embedded zero bytes and a last line without its end.
        {std::string("\"C:\\a\0b.bmp\"\n", 13) + "\"C:\\last.bmp\"", {"C:\\last.bmp"},
         SLIDE_NO_TITLE | SLIDE_SKIP_ERRORS, 1},
    };
    for (const Case& c : cases) {
        bool ok = false;
        SlideList list = parse(header + c.lines, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(list.files, c.files) << c.lines.substr(0, 80);
        EXPECT_EQ(list.flags, c.flags) << c.lines.substr(0, 80);
        EXPECT_EQ(list.timerSeconds, c.timer) << c.lines.substr(0, 80);
    }
}

TEST(SlideFile, ExtensionAddedOnlyWhenMissing) {
    EXPECT_EQ(withSlideExtension("C:\\shows\\holiday"), "C:\\shows\\holiday.sld");
    EXPECT_EQ(withSlideExtension("C:\\shows\\holiday.txt"), "C:\\shows\\holiday.txt");
    EXPECT_EQ(withSlideExtension("C:\\my.shows\\holiday"), "C:\\my.shows\\holiday.sld");
}

std::vector<int> run(int count, uint16_t flags, const std::vector<int>& directions, uint32_t seed = 1) {
    SlideCursor cursor;
    std::vector<int> shown;
    uint32_t r = seed;
    for (int d : directions) {
        r = r * 1103515245u + 12345u;
        int i = nextSlide(&cursor, count, flags, d, r >> 8);
        shown.push_back(i);
        if (i < 0) break;
    }
    return shown;
}

TEST(SlideOrder, ForwardBackwardLoopAndEnd) {
    struct Case {
        int count;
        uint16_t flags;
        std::vector<int> directions, shown;
    } cases[] = {
        {3, 0, {0, 1, 1, 1}, {0, 1, 2, -1}},                  // the end of the list ends the show
        {3, SLIDE_LOOP, {0, 1, 1, 1, 1}, {0, 1, 2, 0, 1}},    // loop wraps forward
        {3, SLIDE_LOOP, {0, -1, -1}, {0, 2, 1}},              // and backward
        {3, 0, {0, -1}, {0, -1}},                             // back from the first without loop
        {3, 0, {0, 1, -1, 1, 1, 1}, {0, 1, 0, 1, 2, -1}},
        {0, SLIDE_LOOP, {0}, {-1}},                           // nothing to show
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.count, c.flags, c.directions), c.shown);
}

TEST(SlideOrder, RandomWithLoopShowsEachFileOncePerRound) {
    const int count = 7;
    for (uint32_t seed : {1u, 2u, 99u, 12345u}) {
        std::vector<int> shown = run(count, SLIDE_RANDOM | SLIDE_LOOP, std::vector<int>(count * 3, 1), seed);
        ASSERT_EQ(shown.size(), static_cast<size_t>(count * 3));
        for (int round = 0; round < 3; ++round) {
            std::set<int> seen(shown.begin() + round * count, shown.begin() + (round + 1) * count);
            EXPECT_EQ(seen.size(), static_cast<size_t>(count)) << "seed " << seed << " round " << round;
            EXPECT_EQ(*seen.begin(), 0);
            EXPECT_EQ(*seen.rbegin(), count - 1);
        }
    }
    // Without loop, every file once and then the end.
    std::vector<int> once = run(count, SLIDE_RANDOM, std::vector<int>(count + 1, 1), 7);
    ASSERT_EQ(once.size(), static_cast<size_t>(count + 1));
    EXPECT_EQ(once.back(), -1);
    EXPECT_EQ(std::set<int>(once.begin(), once.end() - 1).size(), static_cast<size_t>(count));
}

TEST(SlideOrder, RandomChoiceTakesFirstUnmarkedFromR) {
    SlideCursor cursor;
    EXPECT_EQ(nextSlide(&cursor, 5, SLIDE_RANDOM | SLIDE_LOOP, 1, 3), 3);
    EXPECT_EQ(nextSlide(&cursor, 5, SLIDE_RANDOM | SLIDE_LOOP, 1, 3), 4);   // 3 taken: the next after it
    EXPECT_EQ(nextSlide(&cursor, 5, SLIDE_RANDOM | SLIDE_LOOP, 1, 8), 0);   // 8 mod 5 = 3, 3 and 4 taken: wrap
    EXPECT_EQ(nextSlide(&cursor, 5, SLIDE_RANDOM | SLIDE_LOOP, 1, 4), 1);
}

TEST(SlideGeometry, FitModes) {
    struct Case {
        int32_t iw, ih;
        uint16_t flags;
        SlideRect r;
    } cases[] = {
        {100, 50, 0, {350, 275, 100, 50}},                 // 1:1, centred in 800 x 600
        {100, 50, SLIDE_FIT_LARGER, {350, 275, 100, 50}},  // smaller than the screen: 1:1
        {100, 50, SLIDE_FIT_ALL, {0, 100, 800, 400}},
        {2000, 500, SLIDE_FIT_LARGER, {0, 200, 800, 200}},
        {2000, 500, 0, {-600, 50, 2000, 500}},
    };
    for (const Case& c : cases) {
        SlideRect r = slideImageRect(c.iw, c.ih, 800, 600, 800, 600, c.flags);
        EXPECT_EQ(r.left, c.r.left);
        EXPECT_EQ(r.top, c.r.top);
        EXPECT_EQ(r.width, c.r.width);
        EXPECT_EQ(r.height, c.r.height);
    }
}

}  // namespace
