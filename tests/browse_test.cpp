// The browser's window-free rules: order of the entries, "descript.ion"
// reading and rewriting, path comparison, sequence rename, layouts, cell texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browselogic.h"
#include "descript.h"

namespace {

BrowserEntry file(const std::string& name, uint64_t size = 0, uint64_t time = 0, const std::string& format = "") {
    BrowserEntry e;
    e.name = name;
    e.size = size;
    e.lastWrite = time;
    if (!format.empty()) {
        e.formatIndex = 1;
        e.formatName = format;
        e.flags |= ENTRY_INFO;
    }
    return e;
}

BrowserEntry folder(const std::string& name) {
    BrowserEntry e;
    e.name = name;
    e.flags = ENTRY_FOLDER;
    return e;
}

std::vector<std::string> namesInOrder(const std::vector<BrowserEntry>& entries, int arrangeBy) {
    std::vector<std::string> names;
    for (int i : sortedOrder(entries, arrangeBy)) names.push_back(entries[static_cast<size_t>(i)].name);
    return names;
}

TEST(BrowseSort, EveryKeyKeepsFoldersFirstAndParentOnTop) {
    const std::vector<BrowserEntry> entries = {
        file("b.png", 300, 5, "PNG"), file("README", 10, 9), folder("zdir"), file("a.tif", 20, 7, "TIFF"),
        file("c.bmp", 20, 1, "BMP"),  folder(".."),          folder("adir"), file("B.gif", 5, 3, "GIF"),
    };
    struct Case {
        int arrangeBy;
        std::vector<std::string> order;
    } cases[] = {
        // Exact comparison: capitals before small letters.
        {ARRANGE_NAME, {"..", "adir", "zdir", "B.gif", "README", "a.tif", "b.png", "c.bmp"}},
        {ARRANGE_NAME | ARRANGE_REVERSE, {"..", "adir", "zdir", "c.bmp", "b.png", "a.tif", "README", "B.gif"}},
        // Names without extension after all others; reversed, before them.
        {ARRANGE_EXTENSION, {"..", "adir", "zdir", "c.bmp", "B.gif", "b.png", "a.tif", "README"}},
        {ARRANGE_EXTENSION | ARRANGE_REVERSE, {"..", "adir", "zdir", "README", "a.tif", "b.png", "B.gif", "c.bmp"}},
        {ARRANGE_DATE, {"..", "adir", "zdir", "c.bmp", "B.gif", "b.png", "a.tif", "README"}},
        // Equal sizes fall back on the name.
        {ARRANGE_SIZE, {"..", "adir", "zdir", "B.gif", "README", "a.tif", "c.bmp", "b.png"}},
        // Unidentified files after the identified ones.
        {ARRANGE_TYPE, {"..", "adir", "zdir", "c.bmp", "B.gif", "b.png", "a.tif", "README"}},
    };
    for (const Case& c : cases) EXPECT_EQ(namesInOrder(entries, c.arrangeBy), c.order) << c.arrangeBy;
}

TEST(BrowseSort, ExtensionTiesGoByWholeName) {
    std::vector<BrowserEntry> entries = {file("z.jpg"), file("a.b.jpg"), file("m.jpeg"), file("k.jpg")};
    EXPECT_EQ(namesInOrder(entries, ARRANGE_EXTENSION), (std::vector<std::string>{"m.jpeg", "a.b.jpg", "k.jpg", "z.jpg"}));
}

TEST(BrowseSort, ColumnHeadingsChooseTheirKey) {
    struct Case {
        int column, arrangeBy, expected;
    } cases[] = {
        {0, ARRANGE_DATE, ARRANGE_NAME},
        {COLUMN_DESCRIPTION, ARRANGE_SIZE | ARRANGE_REVERSE, ARRANGE_NAME | ARRANGE_REVERSE},
        {COLUMN_SIZE, ARRANGE_NAME, ARRANGE_SIZE},
        {COLUMN_PROPERTIES, ARRANGE_NAME, ARRANGE_TYPE},
        {COLUMN_TYPE, ARRANGE_NAME, ARRANGE_TYPE},
        {COLUMN_DATE, ARRANGE_NAME | ARRANGE_REVERSE, ARRANGE_DATE | ARRANGE_REVERSE},
    };
    for (const Case& c : cases) EXPECT_EQ(arrangeForColumn(c.column, c.arrangeBy), c.expected) << c.column;
    EXPECT_EQ(detailColumns(0x1F), (std::vector<int>{0, COLUMN_SIZE, COLUMN_PROPERTIES, COLUMN_TYPE, COLUMN_DATE,
                                                       COLUMN_DESCRIPTION}));
    EXPECT_EQ(detailColumns(COLUMN_DATE | COLUMN_TYPE), (std::vector<int>{0, COLUMN_TYPE, COLUMN_DATE}));
}

// ---- descript.ion ----

TEST(Descript, ReadsQuotedAndPlainNames) {
    const std::string bytes =
        "plain.jpg First picture\r\n"
        "\"with space.png\" Second\tone\r\n"
        "tabbed.gif\tthird\n"
        "\"unclosed.bmp no end\r\n"
        "nosep.tif\r\n"
        "after.bmp still read\r\n"
        "last.pcx no final break";
    std::vector<DescriptLine> lines = parseDescript(bytes);
    ASSERT_EQ(lines.size(), 7u);
    struct Case {
        const char* name;
        const char* text;  // null: not described
    } cases[] = {
        {"plain.jpg", "First picture"}, {"with space.png", "Second\tone"}, {"tabbed.gif", "third"},
        {"after.bmp", "still read"},    {"last.pcx", "no final break"},    {"PLAIN.JPG", nullptr},
        {"unclosed.bmp", nullptr},      {"nosep.tif", nullptr},            {"with", nullptr},
    };
    for (const Case& c : cases) {
        const std::string* found = findDescription(lines, c.name);
        if (c.text) {
            ASSERT_NE(found, nullptr) << c.name;
            EXPECT_EQ(*found, c.text) << c.name;
        } else {
            EXPECT_EQ(found, nullptr) << c.name;
        }
    }
    EXPECT_FALSE(lines[3].parsed);
    EXPECT_FALSE(lines[4].parsed);
}

TEST(Descript, RewriteKeepsUnlistedLinesVerbatim) {
    const std::string before =
        "other.jpg kept as it is\r\n"
        "\"a b.png\" old text\r\n"
        "\"broken line\n"
        "c.gif old c\r\n"
        "c.gif second line of c\r\n"
        "hidden.bmp  two spaces kept\r\n";
    std::vector<DescriptLine> lines = parseDescript(before);
    struct Case {
        std::vector<std::pair<std::string, std::string>> listed;
        std::string after;
    } cases[] = {
        // Nothing listed: the file comes back byte for byte.
        {{}, before},
        // A changed description replaces its line in place.
        {{{"a b.png", "new text"}},
         "other.jpg kept as it is\r\n\"a b.png\" new text\r\n\"broken line\nc.gif old c\r\nc.gif second line of c\r\n"
         "hidden.bmp  two spaces kept\r\n"},
        // An emptied one goes, with its duplicate; a new name is appended quoted.
        {{{"c.gif", ""}, {"new.tif", "fresh\r\nline"}},
         "other.jpg kept as it is\r\n\"a b.png\" old text\r\n\"broken line\nhidden.bmp  two spaces kept\r\n"
         "\"new.tif\" fresh  line\r\n"},
        // A listed name is rewritten once, with the name quoted.
        {{{"c.gif", "one c"}},
         "other.jpg kept as it is\r\n\"a b.png\" old text\r\n\"broken line\n\"c.gif\" one c\r\n"
         "hidden.bmp  two spaces kept\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(rewriteDescript(lines, c.listed), c.after);
}

TEST(Descript, LastLineWithoutBreakGetsOneBeforeAnAppendedLine) {
    std::vector<DescriptLine> lines = parseDescript("x.jpg text");
    EXPECT_EQ(rewriteDescript(lines, {{"y.jpg", "why"}}), "x.jpg text\r\n\"y.jpg\" why\r\n");
    EXPECT_EQ(rewriteDescript(parseDescript(""), {{"y.jpg", "why"}}), "\"y.jpg\" why\r\n");
}

TEST(Descript, RoundTripOfWrittenLines) {
    std::string written = rewriteDescript({}, {{"a.jpg", "alpha"}, {"name with  spaces.png", "beta gamma"}});
    std::vector<DescriptLine> lines = parseDescript(written);
    ASSERT_NE(findDescription(lines, "name with  spaces.png"), nullptr);
    EXPECT_EQ(*findDescription(lines, "name with  spaces.png"), "beta gamma");
    EXPECT_EQ(*findDescription(lines, "a.jpg"), "alpha");
}

// ---- Paths and selection ----

TEST(BrowsePaths, SameFileIgnoresCaseSeparatorsAndDots) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"C:\\Photos\\a.jpg", "c:\\photos\\A.JPG", true},
        {"C:\\Photos\\a.jpg", "C:/Photos//a.jpg", true},
        {"C:\\Photos\\sub\\..\\a.jpg", "C:\\Photos\\.\\a.jpg", true},
        {"C:\\Photos\\", "C:\\Photos", true},
        {"C:\\Photos\\a.jpg.", "C:\\Photos\\a.jpg", true},
        {"C:\\Photos\\a.jpg", "D:\\Photos\\a.jpg", false},
        {"C:\\Photos\\a.jpg", "C:\\Photos\\a.jpeg", false},
        {"C:\\..\\a.jpg", "C:\\a.jpg", true},
        {"\\\\server\\share\\x", "\\\\SERVER\\share\\x", true},
    };
    for (const Case& c : cases) EXPECT_EQ(samePath(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(joinPath("C:\\dest\\", "a.jpg"), "C:\\dest\\a.jpg");
    EXPECT_EQ(joinPath("C:\\dest", "a.jpg"), "C:\\dest\\a.jpg");
    EXPECT_EQ(parentFolder("C:\\a\\b\\"), "C:\\a\\");
    EXPECT_EQ(parentFolder("C:\\a\\"), "C:\\");
    EXPECT_EQ(parentFolder("C:\\"), "C:\\");
}

TEST(BrowseSelection, OperationsSkipParentAndFolders) {
    std::vector<BrowserEntry> entries = {folder(".."), folder("sub"), file("a.jpg"), file("b.jpg")};
    EXPECT_EQ(operableEntries(entries, {3, 0, 1, 2, 7, -1}), (std::vector<int>{3, 2}));
    bool expected[] = {false, false, true, true};
    for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(selectedByAll(entries[i]), expected[i]) << i;
}

// ---- Sequence rename ----

TEST(SequenceRename, TemplatesMakeNames) {
    struct Case {
        const char* pattern;
        long number;
        const char* name;
    } cases[] = {
        {"name.#", 1, "name.1"},         {"img###.bmp", 7, "img007.bmp"}, {"img", 7, "img7"},
        {"a##b##.c", 3, "a03b##.c"},     {"x#.jpg", 123, "x123.jpg"},     {"#", 0, "0"},
        {"pic####", -5, "pic-005"},
    };
    for (const Case& c : cases) EXPECT_EQ(sequenceName(c.pattern, c.number), c.name) << c.pattern;
}

TEST(SequenceRename, PlansDirectOrThroughTemporaryNames) {
    // Plain: each file to its number, start and step applied.
    RenamePlan plain = planSequenceRename({"x.jpg", "y.jpg", "z.jpg"}, "p##.jpg", 5, 10, {"other.txt"});
    ASSERT_EQ(plain.steps.size(), 3u);
    EXPECT_EQ(plain.steps[0].to, "p05.jpg");
    EXPECT_EQ(plain.steps[2].from, "z.jpg");
    EXPECT_EQ(plain.steps[2].to, "p25.jpg");
    EXPECT_TRUE(plain.clashes.empty());
    EXPECT_FALSE(plain.duplicate);

    // 1 → 2 and 2 → 3: renaming in place would overwrite, so via temporary names.
    RenamePlan chain = planSequenceRename({"f1", "f2"}, "f#", 2, 1, {"f3.keep"});
    ASSERT_EQ(chain.steps.size(), 4u);
    EXPECT_EQ(chain.steps[0].from, "f1");
    EXPECT_EQ(chain.steps[2].from, chain.steps[0].to);
    EXPECT_EQ(chain.steps[2].to, "f2");
    EXPECT_EQ(chain.steps[3].to, "f3");
    EXPECT_NE(chain.steps[0].to, "f3.keep");

    // A name taken by a file outside the selection, in any case, is reported.
    RenamePlan clash = planSequenceRename({"a.jpg"}, "B#", 1, 1, {"b1", "c"});
    EXPECT_EQ(clash.clashes, (std::vector<std::string>{"b1"}));
    // A step of 0 gives every file the same name.
    EXPECT_TRUE(planSequenceRename({"a", "b"}, "n#", 1, 0, {}).duplicate);
    // A file that already has its new name is left alone.
    EXPECT_TRUE(planSequenceRename({"n1"}, "n#", 1, 1, {}).steps.empty());
}

// ---- Texts ----

TEST(BrowseTexts, CellsAndStatus) {
    BrowserEntry e = file("a.gif", 1234, 0, "GIF");
    e.width = 640;
    e.height = 480;
    struct Props {
        int bits;
        const char* text;
    } props[] = {{1, "640x480,2"}, {8, "640x480,256"}, {16, "640x480,65536"}, {24, "640x480,16M"}, {32, "640x480,16M"}};
    for (const Props& p : props) {
        e.bitsPerPixel = p.bits;
        EXPECT_EQ(propertiesText(e), p.text) << p.bits;
    }
    BrowserEntry unread = file("b.gif");
    EXPECT_EQ(propertiesText(unread), "");
    EXPECT_EQ(propertiesText(folder("sub")), "");

    EXPECT_EQ(dateText({2026, 12, 9, 14, 5, 7}), "09/12/26 14:05:07");
    EXPECT_EQ(dateText({2001, 1, 2, 0, 0, 0}), "02/01/01");
    EXPECT_EQ(dateText({2001, 1, 2, 0, 0, 1}), "02/01/01 00:00:01");

    struct Space {
        uint64_t bytes;
        const char* text;
    } spaces[] = {{0, "0 octets"},          {1023, "1023 octets"},          {1024, "1.00 Kb"},
                  {1048575, "1024.00 Kb"},  {1048576, "1.00 Mb"},           {1073741823, "1024.00 Mb"},
                  {1073741824, "1.00 Gb"},  {5ull << 40, "5120.00 Gb"}};
    for (const Space& s : spaces) EXPECT_EQ(freeSpaceText(s.bytes), s.text) << s.bytes;
    EXPECT_EQ(sizeText(5000000000ull), "5000000000");
}

TEST(BrowseTexts, ListingColumns) {
    std::string text = listingText({{"a.jpg", 1234, "640x480,16M", "Plage"}, {"long-name.png", 5, "", ""}});
    // Name column: longest name + 2 = 15 characters.
    const std::string expected =
        "Nom                    Taille  Propri\xe9tes" + std::string(50, ' ') + "  Description\r\n"
        "---                    ------  ----------" + std::string(50, ' ') + "  -----------\r\n"
        "a.jpg                    1234  640x480,16M" + std::string(49, ' ') + "  Plage\r\n"
        "long-name.png               5  " + std::string(60, ' ') + "  \r\n";
    EXPECT_EQ(text, expected);
}

TEST(BrowseThumbs, SizesOfTheMenu) {
    EXPECT_EQ(thumbSizeIndex(32, 32), 0);
    EXPECT_EQ(thumbSizeIndex(92, 69), 6);
    EXPECT_EQ(thumbSizeIndex(192, 144), 8);
    EXPECT_EQ(thumbSizeIndex(80, 80), -1);
}

// ---- Layouts ----

bool inside(const PaneRect& r, int w, int h) { return r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h; }

bool overlap(const PaneRect& a, const PaneRect& b) {
    return !a.empty() && !b.empty() && a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST(BrowseLayout, PanesTileTheWindowAndKeepTheirMinimum) {
    for (int layout = 1; layout <= 5; ++layout) {
        for (int shown = 0; shown < 4; ++shown) {
            for (int wanted : {0, 150, 5000}) {
                LayoutInput in = {layout, 800, 600, wanted, wanted, wanted, wanted, (shown & 1) != 0, (shown & 2) != 0};
                BrowserLayout out = computeLayout(in);
                SCOPED_TRACE(testing::Message() << "layout " << layout << " shown " << shown << " wanted " << wanted);
                EXPECT_FALSE(out.list.empty());
                EXPECT_EQ(out.tree.empty(), !in.showTree);
                EXPECT_EQ(out.preview.empty(), !in.showPreview);
                long area = 0;
                std::vector<PaneRect> parts = {out.tree, out.list, out.preview};
                for (const Splitter& s : out.splitters) parts.push_back(s.rect);
                for (size_t i = 0; i < parts.size(); ++i) {
                    EXPECT_TRUE(inside(parts[i], 800, 600));
                    if (!parts[i].empty()) area += long(parts[i].width()) * parts[i].height();
                    for (size_t j = i + 1; j < parts.size(); ++j) EXPECT_FALSE(overlap(parts[i], parts[j])) << i << j;
                }
                EXPECT_EQ(area, 800L * 600);
                for (const PaneRect& p : {out.tree, out.list, out.preview})
                    if (!p.empty()) EXPECT_GE(std::min(p.width(), p.height()), PANE_MIN);
                EXPECT_EQ(out.splitters.size(), size_t((in.showTree ? 1 : 0) + (in.showPreview ? 1 : 0)));
            }
        }
    }
}

TEST(BrowseLayout, EachLayoutPlacesItsPanes) {
    const int W = 800, H = 600;
    // Layout 1: tree and list side by side in a band 200 high, preview below on the full width.
    BrowserLayout l1 = computeLayout({1, W, H, 150, 200, 300, 250, true, true});
    EXPECT_EQ(l1.tree.right, 150);
    EXPECT_EQ(l1.tree.bottom, 200);
    EXPECT_EQ(l1.list.left, 154);
    EXPECT_EQ(l1.preview.top, 204);
    EXPECT_EQ(l1.preview.width(), W);
    // Layout 2: tree over list on the left, preview on the full height.
    BrowserLayout l2 = computeLayout({2, W, H, 150, 200, 300, 250, true, true});
    EXPECT_EQ(l2.list.top, 204);
    EXPECT_EQ(l2.list.right, 150);
    EXPECT_EQ(l2.preview.height(), H);
    // Layout 3 without preview: the tree takes the left column's full height.
    BrowserLayout l3 = computeLayout({3, W, H, 150, 200, 300, 250, true, false});
    EXPECT_EQ(l3.tree.height(), H);
    EXPECT_EQ(l3.list.left, 154);
    // Layout 4: list 250 high over the preview, right of the tree.
    BrowserLayout l4 = computeLayout({4, W, H, 150, 200, 300, 250, true, true});
    EXPECT_EQ(l4.list.height(), 250);
    EXPECT_EQ(l4.preview.left, 154);
    EXPECT_EQ(l4.tree.height(), H);
    // Layout 5: three columns 150, 300 and the rest.
    BrowserLayout l5 = computeLayout({5, W, H, 150, 200, 300, 250, true, true});
    EXPECT_EQ(l5.list.width(), 300);
    EXPECT_EQ(l5.preview.left, 458);
    ASSERT_EQ(l5.splitters.size(), 2u);
    EXPECT_EQ(l5.splitters[1].key, SPLIT_ICON_WIDTH);
    EXPECT_EQ(l5.splitters[1].origin, 154);
    // A remembered position beyond the window comes back clamped.
    BrowserLayout far = computeLayout({5, W, H, 5000, 200, 5000, 250, true, true});
    EXPECT_EQ(far.dirListWidth, W - 2 * SPLITTER_SIZE - 2 * PANE_MIN);
    EXPECT_EQ(far.list.width(), PANE_MIN);
}

}  // namespace
