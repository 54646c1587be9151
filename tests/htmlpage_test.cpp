// The HTML thumbnail page: escaping, links, cells and rows, thumbnail names and
// sizes; a whole page checked by Python's HTML parser and Debian's tidy, and
// rendered by chromium headless to a screenshot where the thumbnails must show.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "htmlpage.h"
#include "kit.h"
#include "testpictures.h"
#include "testutil.h"

namespace {

using testutil::Rgb;

TEST(HtmlPage, EscapingAndLinks) {
    EXPECT_EQ(htmlEscape("a<b>&\"c\"'d'"), "a&lt;b&gt;&amp;&quot;c&quot;&#39;d&#39;");
    EXPECT_EQ(htmlEscape("\xc3\xa9t\xc3\xa9"), "\xc3\xa9t\xc3\xa9");  // UTF-8 stays
    EXPECT_EQ(hrefEncode("original/my file#1?.gif"), "original/my%20file%231%3F.gif");
    EXPECT_EQ(hrefEncode("thumb/\xc3\xa9t\xc3\xa9.jpg"), "thumb/%C3%A9t%C3%A9.jpg");
    EXPECT_EQ(hrefEncode("a\"b<c>&d%e"), "a%22b%3Cc%3E%26d%25e");
}

TEST(HtmlPage, HeadDeclaresUtf8AndEscapesTitle) {
    std::string head = htmlPageHead("Vacances <\xc3\xa9t\xc3\xa9> & \"amis\"", 2);
    EXPECT_NE(head.find("charset=utf-8"), std::string::npos);
    EXPECT_NE(head.find("<title>Vacances &lt;\xc3\xa9t\xc3\xa9&gt; &amp; &quot;amis&quot;</title>"), std::string::npos);
    EXPECT_NE(head.find("<TABLE border=\"2\">\n\t<TR>\n"), std::string::npos);
    EXPECT_EQ(head.find("<\xc3\xa9"), std::string::npos);
    EXPECT_EQ(head.rfind("<!doctype html public", 0), 0u);
    EXPECT_NE(htmlPageHead("t", -4).find("border=\"0\""), std::string::npos);
}

TEST(HtmlPage, CellsFollowDisplayBits) {
    HtmlCell c;
    c.name = "a&b.gif";
    c.loaded = true;
    c.imageFolder = "thumb";
    c.imageName = "t_a&b.jpg";
    c.imageWidth = 80;
    c.imageHeight = 60;
    c.fileSize = 5000;
    c.width = 640;
    c.height = 480;
    c.bitsPerPixel = 8;
    c.hasDate = true;
    c.date = {2026, 3, 7, 0, 0, 0};
    c.hasDescription = true;
    c.description = "<script>x</script>";
    struct Case {
        int display;
        std::string text;
    } cases[] = {
        {0, "\t\t<TD align=\"center\"><A href=\"original/a%26b.gif\"><IMG src=\"thumb/t_a%26b.jpg\" border=\"0\" "
            "alt=\"a&amp;b.gif\" width=\"80\" height=\"60\"></A>\n\t\t</TD>\n"},
        {HTML_SHOW_NAME | HTML_SHOW_SIZE | HTML_SHOW_DIMENSIONS | HTML_SHOW_DATE | HTML_SHOW_DESCRIPTION,
         "\t\t<TD align=\"center\"><A href=\"original/a%26b.gif\"><IMG src=\"thumb/t_a%26b.jpg\" border=\"0\" "
         "alt=\"a&amp;b.gif\" width=\"80\" height=\"60\"><BR>a&amp;b.gif</A><BR>4 Kb<BR>640x480,256<BR>07/03/26"
         "<BR>&lt;script&gt;x&lt;/script&gt;\n\t\t</TD>\n"},
    };
    for (const Case& k : cases) EXPECT_EQ(htmlCellText(c, k.display), k.text);
    // True colour and a time of day; an unreadable file has no image and no dimensions.
    c.bitsPerPixel = 24;
    c.date = {2026, 3, 7, 14, 5, 9};
    EXPECT_NE(htmlCellText(c, HTML_SHOW_DIMENSIONS | HTML_SHOW_DATE).find("<BR>640x480,16M<BR>07/03/26 14:05:09"),
              std::string::npos);
    c.loaded = false;
    std::string cell = htmlCellText(c, HTML_SHOW_NAME | HTML_SHOW_DIMENSIONS);
    EXPECT_EQ(cell.find("<IMG"), std::string::npos);
    EXPECT_EQ(cell.find("640x480"), std::string::npos);
    EXPECT_NE(cell.find("<BR>a&amp;b.gif</A>"), std::string::npos);
}

TEST(HtmlPage, RowsOfTableColumns) {
    struct Case {
        int columns, cells;
        std::vector<int> rows;
    } cases[] = {{4, 9, {4, 4, 1}}, {1, 3, {1, 1, 1}}, {0, 2, {1, 1}}, {-3, 2, {1, 1}}, {5, 5, {5}}};
    for (const Case& c : cases) {
        std::vector<int> rows = {0};
        for (int i = 0; i < c.cells; ++i) {
            if (htmlRowEndsBefore(i, c.columns)) rows.push_back(0);
            ++rows.back();
        }
        EXPECT_EQ(rows, c.rows) << c.columns;
    }
}

TEST(HtmlPage, ThumbnailSizes) {
    struct Case {
        int32_t w, h, mw, mh, tw, th;
    } cases[] = {
        {640, 480, 80, 80, 80, 60},     {480, 640, 80, 80, 60, 80},     {100, 100, 80, 60, 60, 60},
        {1, 1000, 80, 80, 1, 80},       {1000, 1, 80, 80, 80, 1},       {300, 200, 0, -5, 1, 1},
        {2000000000, 2000000000, 1024, 1000, 1000, 1000},               {3, 2, 1024, 1024, 1024, 683},
    };
    for (const Case& c : cases) {
        int32_t tw = 0, th = 0;
        htmlThumbnailSize(c.w, c.h, c.mw, c.mh, &tw, &th);
        EXPECT_EQ(tw, c.tw) << c.w << "x" << c.h;
        EXPECT_EQ(th, c.th) << c.w << "x" << c.h;
    }
}

TEST(HtmlPage, ThumbnailNamesStayUnique) {
    std::vector<std::string> names = {"a.bmp", "A.png", "a.gif", "t.tar.gz", "noext", "a_2.tif"};
    std::vector<std::string> thumbs = htmlThumbnailNames(names, "gif");
    EXPECT_EQ(thumbs, (std::vector<std::string>{"t_a.gif", "t_A_2.gif", "t_a_3.gif", "t_t.tar.gif", "t_noext.gif",
                                                 "t_a_2_2.gif"}));
}

TEST(HtmlPage, OutputFolderAndClamps) {
    EXPECT_EQ(htmlOutputFolder(""), "");
    EXPECT_EQ(htmlOutputFolder("C:\\web"), "C:\\web\\");
    EXPECT_EQ(htmlOutputFolder("C:\\web\\"), "C:\\web\\");
    EXPECT_EQ(htmlOutputFolder(std::string(255, 'x')), "");
    EXPECT_EQ(htmlClamp(0, HtmlLimits::COLUMNS_MIN, HtmlLimits::COLUMNS_MAX), 1);
    EXPECT_EQ(htmlClamp(-7, HtmlLimits::THUMB_MIN, HtmlLimits::THUMB_MAX), 1);
    EXPECT_EQ(htmlClamp(5000, HtmlLimits::THUMB_MIN, HtmlLimits::THUMB_MAX), 1024);
}

TEST(HtmlPage, OrderFollowsSort) {
    std::vector<BrowserEntry> e(3);
    e[0].name = "b.png";
    e[0].size = 10;
    e[1].name = "a.tif";
    e[1].size = 30;
    e[2].name = "c.bmp";
    e[2].size = 20;
    EXPECT_EQ(htmlPageOrder(e, 0), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(htmlPageOrder(e, 1), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(htmlPageOrder(e, 4), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(htmlPageOrder(e, 4 | HTML_SORT_REVERSE), (std::vector<int>{1, 2, 0}));
}

// ---- A whole page ----

struct Colour {
    uint8_t r, g, b;
};

// Writes a solid picture as a JPEG thumbnail with our writer.
bool writeSolid(const std::string& path, Colour c, int w, int h) {
    OwnedImage img;
    if (!createImage(&img, IMG_RGB, 4, w, h)) return false;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = imageRow(&img, y) + x * 3;
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    return testutil::saveAs(&img, path, "jpeg", 0, 95) == ST_OK;
}

struct PageFile {
    std::string name;   // UTF-8
    Colour colour;
};

// Builds a page of solid thumbnails in `folder` (two columns) and returns its path.
std::string buildPage(const std::string& folder, const std::vector<PageFile>& files) {
    mkdir(folder.c_str(), 0755);
    mkdir((folder + "/thumb").c_str(), 0755);
    mkdir((folder + "/original").c_str(), 0755);
    std::vector<std::string> names;
    for (const PageFile& f : files) names.push_back(f.name);
    std::vector<std::string> thumbs = htmlThumbnailNames(names, "jpg");
    std::string page = htmlPageHead("Le <titre> & \xc3\xa9t\xc3\xa9", 1);
    for (size_t i = 0; i < files.size(); ++i) {
        if (htmlRowEndsBefore(static_cast<int>(i), 2)) page += htmlRowBreak();
        EXPECT_TRUE(writeSolid(folder + "/thumb/" + thumbs[i], files[i].colour, 64, 48));
        EXPECT_TRUE(writeSolid(folder + "/original/" + files[i].name, files[i].colour, 64, 48));
        HtmlCell c;
        c.name = files[i].name;
        c.loaded = true;
        c.imageFolder = "thumb";
        c.imageName = thumbs[i];
        c.imageWidth = 64;
        c.imageHeight = 48;
        c.hasDescription = true;
        c.description = "desc <b>" + std::to_string(i) + "</b>";
        page += htmlCellText(c, HTML_SHOW_NAME | HTML_SHOW_DESCRIPTION);
    }
    page += htmlPageTail();
    std::string path = folder + "/Page.html";
    EXPECT_TRUE(testutil::writeFile(path, std::vector<uint8_t>(page.begin(), page.end())));
    return path;
}

const std::vector<PageFile> PAGE_FILES = {
    {"rouge.jpg", {255, 0, 0}},
    {"vert & co.jpg", {0, 255, 0}},
    {"\xc3\xa9t\xc3\xa9 #1.jpg", {255, 0, 255}},   // "été #1.jpg"
    {"jaune'<x>.jpg", {255, 255, 0}},
};

TEST(HtmlPage, PythonParserReadsNamesBackAndTagsNest) {
    if (!testutil::haveProgram("python3")) GTEST_SKIP() << "python3 missing";
    std::string folder = testutil::tempPath("htmlparse");
    std::string page = buildPage(folder, PAGE_FILES);
    // Collects text, alt and href values, checks that every element opened is
    // closed in order (void elements aside) and prints what it read.
    std::string script = testutil::tempPath("htmlcheck.py");
    const std::string py =
        "import sys, html.parser, urllib.parse\n"
        "VOID = {'meta', 'br', 'img'}\n"
        "class P(html.parser.HTMLParser):\n"
        "    def __init__(self):\n"
        "        super().__init__(convert_charrefs=True); self.stack = []; self.out = []; self.bad = 0\n"
        "    def handle_starttag(self, tag, attrs):\n"
        "        a = dict(attrs)\n"
        "        if tag == 'img': self.out.append('alt=' + a['alt']); "
        "self.out.append('src=' + urllib.parse.unquote(a['src']))\n"
        "        if tag == 'a': self.out.append('href=' + urllib.parse.unquote(a['href']))\n"
        "        if tag not in VOID: self.stack.append(tag)\n"
        "    def handle_endtag(self, tag):\n"
        "        if not self.stack or self.stack.pop() != tag: self.bad += 1\n"
        "    def handle_data(self, d):\n"
        "        if d.strip(): self.out.append('text=' + d.strip())\n"
        "p = P(); p.feed(open(sys.argv[1], encoding='utf-8').read()); p.close()\n"
        "open(sys.argv[2], 'w', encoding='utf-8').write('\\n'.join(p.out) + '\\n')\n"
        "sys.exit(1 if p.bad or p.stack else 0)\n";
    ASSERT_TRUE(testutil::writeFile(script, std::vector<uint8_t>(py.begin(), py.end())));
    std::string out = testutil::tempPath("htmlcheck.txt");
    ASSERT_EQ(testutil::run("python3 '" + script + "' '" + page + "' '" + out + "'"), 0);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(testutil::readFile(out, &bytes));
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("text=Le <titre> & \xc3\xa9t\xc3\xa9\n"), std::string::npos) << text;
    for (size_t i = 0; i < PAGE_FILES.size(); ++i) {
        const std::string& n = PAGE_FILES[i].name;
        EXPECT_NE(text.find("href=original/" + n + "\n"), std::string::npos) << n;
        EXPECT_NE(text.find("alt=" + n + "\n"), std::string::npos) << n;
        EXPECT_NE(text.find("text=" + n + "\n"), std::string::npos) << n;
        EXPECT_NE(text.find("text=desc <b>" + std::to_string(i) + "</b>\n"), std::string::npos) << text;
    }
}

TEST(HtmlPage, TidyFindsNoErrors) {
    if (!testutil::haveProgram("tidy")) GTEST_SKIP() << "tidy missing";
    std::string page = buildPage(testutil::tempPath("htmltidy"), PAGE_FILES);
    // 0: clean, 1: warnings only, 2: errors.
    int rc = testutil::run("tidy -q -e -utf8 '" + page + "' >/dev/null 2>&1");
    EXPECT_GE(rc, 0);
    EXPECT_LT(rc, 2);
}

// The bounding box of the pixels close to a colour.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int count = 0;
};

Box findColour(const Rgb& shot, Colour c) {
    Box b;
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const uint8_t* p = &shot.pixels[(static_cast<size_t>(y) * shot.width + x) * 3];
            if (abs(p[0] - c.r) < 24 && abs(p[1] - c.g) < 24 && abs(p[2] - c.b) < 24) {
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.right = std::max(b.right, x);
                b.bottom = std::max(b.bottom, y);
                ++b.count;
            }
        }
    return b;
}

TEST(HtmlPage, ChromiumShowsEveryThumbnailInItsCell) {
    if (!testutil::haveProgram("chromium")) GTEST_SKIP() << "chromium missing";
    std::string folder = testutil::tempPath("htmlshot");
    std::string page = buildPage(folder, PAGE_FILES);
    std::string shot = folder + "/shot.png";
    int rc = testutil::run("cd '" + folder + "' && HOME='" + folder +
                           "' timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars "
                           "--window-size=800,600 --screenshot='" + shot + "' 'file://" + page +
                           "' >/dev/null 2>&1");
    if (rc != 0 || testutil::run("test -s '" + shot + "'") != 0) GTEST_SKIP() << "chromium could not run here";
    OwnedImage img;
    ASSERT_EQ(testutil::load(shot, &img), ST_OK);
    Rgb rgb = testutil::toRgb(img);
    std::vector<Box> boxes;
    for (const PageFile& f : PAGE_FILES) {
        Box b = findColour(rgb, f.colour);
        // Each thumbnail shows whole, 64 x 48.
        EXPECT_GE(b.count, 64 * 48 * 9 / 10) << f.name;
        EXPECT_EQ(b.right - b.left + 1, 64) << f.name;
        EXPECT_EQ(b.bottom - b.top + 1, 48) << f.name;
        boxes.push_back(b);
    }
    // Two columns: 0 1 on the first row, 2 3 below them.
    EXPECT_LT(boxes[0].right, boxes[1].left);
    EXPECT_EQ(boxes[0].top, boxes[1].top);
    EXPECT_LT(boxes[0].bottom, boxes[2].top);
    EXPECT_EQ(boxes[2].top, boxes[3].top);
    EXPECT_LT(boxes[2].right, boxes[3].left);
}

}  // namespace
