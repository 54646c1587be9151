// The HTML thumbnail page without windows: the page's text (head, cells,
// rows, tail) with every text escaped and every link percent-encoded, the
// thumbnails' sizes and file names, and the checks of the page's options.
// Texts are UTF-8 here; the page declares that character set.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "browselogic.h"

// Display bits of the cells.
constexpr int HTML_SHOW_NAME = 0x01;
constexpr int HTML_SHOW_SIZE = 0x02;
constexpr int HTML_SHOW_DIMENSIONS = 0x04;
constexpr int HTML_SHOW_DATE = 0x08;
constexpr int HTML_SHOW_DESCRIPTION = 0x10;

constexpr int HTML_SORT_REVERSE = 0x100;
constexpr int HTML_FORMAT_GIF = 0;
constexpr int HTML_FORMAT_JPEG = 1;

extern const char HTML_PAGE_VERSION[];    // "1.12"
extern const char HTML_PAGE_NAME[];       // "Page.html"
extern const char HTML_THUMB_FOLDER[];    // "thumb"
extern const char HTML_ORIGINAL_FOLDER[]; // "original"

// "&", "<", ">", '"' and "'" as character references.
std::string htmlEscape(const std::string& text);
// Every byte but the unreserved characters (letters, digits, "-._~") and "/"
// as "%XX" (the bytes of the UTF-8 text).
std::string hrefEncode(const std::string& path);

// Everything up to the first row's opening (doctype, character set, title,
// the centred title and the table with its border).
std::string htmlPageHead(const std::string& title, int border);
// Closes a row and opens the next.
std::string htmlRowBreak();
// Closes the last row, the table and the page (with the generator line).
std::string htmlPageTail();

struct HtmlCell {
    std::string name;            // the file name (links to "original/" + name)
    bool loaded = false;         // the image could be read: it shows
    std::string imageFolder;     // "thumb" or "original"
    std::string imageName;
    int32_t imageWidth = 0, imageHeight = 0;   // the thumbnail's size
    uint64_t fileSize = 0;
    int32_t width = 0, height = 0;             // the picture's size
    int bitsPerPixel = 0;
    bool hasDate = false;
    LocalTime date{};
    bool hasDescription = false;
    std::string description;
};
// One table cell, as Display asks.
std::string htmlCellText(const HtmlCell& cell, int display);

// The cell position after which a row ends (TableColumns at least 1).
bool htmlRowEndsBefore(int cellIndex, int columns);

// The largest size with the picture's aspect ratio within maxW x maxH (each
// at least 1), rounded; at least 1 x 1. Computed in 64 bits.
void htmlThumbnailSize(int32_t width, int32_t height, int32_t maxW, int32_t maxH, int32_t* thumbW,
                       int32_t* thumbH);

// "t_" + the name with its extension replaced by `extension` (without dot).
// Two sources that would get the same name (ignoring ASCII case, as Windows
// folders do) are told apart by "_2", "_3"... before the extension.
std::vector<std::string> htmlThumbnailNames(const std::vector<std::string>& names, const std::string& extension);

// The list order of the page: Sort 0-4 (name, extension, date, type, size),
// reversed with 0x100.
std::vector<int> htmlPageOrder(const std::vector<BrowserEntry>& entries, int sort);

// Values read back from the dialog kept within their ranges.
struct HtmlLimits {
    static constexpr int COLUMNS_MIN = 1, COLUMNS_MAX = 64;
    static constexpr int BORDER_MIN = 0, BORDER_MAX = 100;
    static constexpr int THUMB_MIN = 1, THUMB_MAX = 1024;
    static constexpr int QUALITY_MIN = 1, QUALITY_MAX = 100;
};
int htmlClamp(int value, int minimum, int maximum);

// The output folder with "\" appended when missing; empty (refused) when the
// folder is empty or too long for a path with room for the names under it.
std::string htmlOutputFolder(const std::string& folder);
