// The browser without windows: its entries, their order, the texts of the
// detail columns and of the status line, the panes of the five layouts,
// which entries the selection commands act on, path comparisons, the names
// of the sequence rename and the listing file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kaleocore.h"

// Entry flags.
constexpr uint8_t ENTRY_FAILED = 0x01;   // reading failed
constexpr uint8_t ENTRY_INFO = 0x02;     // the file information is known
constexpr uint8_t ENTRY_HANDLED = 0x04;  // a folder, nothing to read
constexpr uint8_t ENTRY_FOLDER = 0x10;

// ArrangeBy bits.
constexpr int ARRANGE_NAME = 0x01;
constexpr int ARRANGE_EXTENSION = 0x02;
constexpr int ARRANGE_DATE = 0x04;
constexpr int ARRANGE_SIZE = 0x08;
constexpr int ARRANGE_TYPE = 0x10;
constexpr int ARRANGE_REVERSE = 0x80;

// ViewColumn bits.
constexpr int COLUMN_DATE = 0x01;
constexpr int COLUMN_SIZE = 0x02;
constexpr int COLUMN_PROPERTIES = 0x04;
constexpr int COLUMN_TYPE = 0x08;
constexpr int COLUMN_DESCRIPTION = 0x10;

// View modes (Viewas).
constexpr int VIEWAS_ICONS = 0;
constexpr int VIEWAS_SMALL_ICONS = 1;
constexpr int VIEWAS_DETAILS = 2;
constexpr int VIEWAS_COLUMNS = 3;

struct BrowserEntry {
    uint32_t attributes = 0;
    uint8_t flags = 0;
    std::string name;            // the whole name
    uint64_t size = 0;
    uint64_t lastWrite = 0;      // 100 ns units since 1601, as the file system keeps it
    bool hasDescription = false;
    std::string description;
    int largeThumb = -1;
    int smallThumb = -1;
    int32_t width = 0, height = 0;
    int formatIndex = -1;        // identified format, -1 while unknown or unreadable
    int bitsPerPixel = 0;        // planes × bits per plane
    int planes = 0, bitsPerPlane = 0;
    std::string formatName;      // the format's description once identified
};

bool isParentEntry(const BrowserEntry& e);  // ".."
bool isFolderEntry(const BrowserEntry& e);

// Negative, zero or positive as a sorts before, with or after b under
// ArrangeBy: ".." first, then the folders by name, then the files by the key
// (ties by name); the reverse bit turns the order of the files only.
int compareEntries(const BrowserEntry& a, const BrowserEntry& b, int arrangeBy);
// The list order: indexes of entries sorted as compareEntries says.
std::vector<int> sortedOrder(const std::vector<BrowserEntry>& entries, int arrangeBy);
// The text after the last "." of a name ("" when none).
std::string nameExtension(const std::string& name);

// The sort key a click on a column heading chooses (ViewColumn order: name,
// then the enabled detail columns); the reverse bit is kept.
int arrangeForColumn(int columnBit, int arrangeBy);

// ---- Cell and status texts ----

struct LocalTime {
    int year, month, day, hour, minute, second;
};
// "%02d/%02d/%02d %02d:%02d:%02d" (day/month/two-digit year), or the date
// alone when the time is exactly midnight.
std::string dateText(const LocalTime& t);
std::string sizeText(uint64_t size);
// "%dx%d,%d" (colours 2^bits) below 24 bits, "%dx%d,16M" from 24 on; empty
// for folders and unread files.
std::string propertiesText(const BrowserEntry& e);
// Free space: "%.2lf Kb/Mb/Gb" from 1024 bytes on, "%d octets" below.
std::string freeSpaceText(uint64_t bytes);
// The detail columns enabled by ViewColumn, in their order (bits; the name column is 0).
std::vector<int> detailColumns(int viewColumn);

// ---- Thumbnail sizes ("Taille vignette", commands 242-250) ----
struct ThumbSize {
    int width, height;
};
constexpr int THUMB_SIZE_COUNT = 9;
const ThumbSize* thumbSizes();
// Index of a size, or -1.
int thumbSizeIndex(int width, int height);

// ---- Layouts ----

constexpr int SPLITTER_SIZE = 4;
constexpr int PANE_MIN = 48;

struct PaneRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
};

// Which remembered position a splitter moves.
enum SplitKey { SPLIT_DIR_WIDTH, SPLIT_DIR_HEIGHT, SPLIT_ICON_WIDTH, SPLIT_ICON_HEIGHT };

struct Splitter {
    PaneRect rect;
    SplitKey key;
    bool vertical;  // a vertical bar, dragged left and right
    int origin;     // the position is the pointer's x (or y) minus this
};

struct LayoutInput {
    int layout;           // 1-5
    int width, height;    // the client area
    int dirListWidth, dirListHeight, iconListWidth, iconListHeight;
    bool showTree, showPreview;
};

struct BrowserLayout {
    PaneRect tree, list, preview;  // empty when hidden
    std::vector<Splitter> splitters;
    // The positions after clamping (each pane at least PANE_MIN where the
    // window allows it).
    int dirListWidth, dirListHeight, iconListWidth, iconListHeight;
};

BrowserLayout computeLayout(const LayoutInput& in);

// ---- Selection and paths ----

// The entries the file operations act on: selected, not "..", not folders,
// in list order.
std::vector<int> operableEntries(const std::vector<BrowserEntry>& entries, const std::vector<int>& selectedInOrder);
// Whether "Tout Sélectionner" selects the entry.
bool selectedByAll(const BrowserEntry& e);

// folder (ending with "\" or not) + "\" + name.
std::string joinPath(const std::string& folder, const std::string& name);
// A Windows path reduced for comparison: "/" as "\", "." and ".." parts
// resolved, repeated separators and a final one removed, ASCII letters in
// lower case.
std::string comparablePath(const std::string& path);
// Whether two full paths name the same file, ignoring case.
bool samePath(const std::string& a, const std::string& b);
// The parent of a folder path ending with "\" ("C:\a\b\" → "C:\a\"); the
// path itself for a drive root.
std::string parentFolder(const std::string& folder);

// ---- Sequence rename ----

// A run of "#" stands for the number padded with zeros to its length; a
// pattern without "#" gets the number appended.
std::string sequenceName(const std::string& pattern, long number);

struct RenameStep {
    std::string from, to;
};
struct RenamePlan {
    std::vector<RenameStep> steps;   // in order; may go through temporary names
    std::vector<std::string> clashes;  // new names that exist outside the renamed files
    bool duplicate = false;          // two files would get the same new name
};
// Renames names[i] to sequenceName(pattern, start + i × step). When a new
// name is the old name of another renamed file, every file goes first to a
// temporary name. `existing` lists the other names of the folder.
RenamePlan planSequenceRename(const std::vector<std::string>& names, const std::string& pattern, long start,
                              long step, const std::vector<std::string>& existing);

// ---- Listing file ----

struct ListingRow {
    std::string name;
    uint64_t size;
    std::string properties, description;
};
std::string listingText(const std::vector<ListingRow>& rows);
