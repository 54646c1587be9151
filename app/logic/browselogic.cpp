// The browser's window-free rules.
#include "browselogic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

int compareText(const std::string& a, const std::string& b) {
    int c = strcmp(a.c_str(), b.c_str());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

template <typename T>
int compareNumbers(T a, T b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The files' own order, before the reverse bit.
int compareFiles(const BrowserEntry& a, const BrowserEntry& b, int key) {
    int c = 0;
    if (key & ARRANGE_EXTENSION) {
        std::string ea = nameExtension(a.name), eb = nameExtension(b.name);
        bool hasA = a.name.find('.') != std::string::npos, hasB = b.name.find('.') != std::string::npos;
        if (hasA != hasB) return hasA ? -1 : 1;  // names without extension after all others
        c = compareText(ea, eb);
    } else if (key & ARRANGE_DATE) {
        c = compareNumbers(a.lastWrite, b.lastWrite);
    } else if (key & ARRANGE_SIZE) {
        c = compareNumbers(a.size, b.size);
    } else if (key & ARRANGE_TYPE) {
        bool knownA = a.formatIndex >= 0, knownB = b.formatIndex >= 0;
        if (knownA != knownB) return knownA ? -1 : 1;  // unidentified files last
        c = compareText(a.formatName, b.formatName);
    }
    return c != 0 ? c : compareText(a.name, b.name);
}

// Splits r across (vertical: a bar between left and right parts) at the
// wanted size of the first part, clamped so that both parts keep PANE_MIN
// where r allows it.
// secondMin: what the second part needs (more than PANE_MIN when it is split
// again along the same axis).
int splitRect(const PaneRect& r, bool vertical, int wanted, PaneRect* first, PaneRect* bar, PaneRect* second,
              int secondMin = PANE_MIN) {
    int total = vertical ? r.width() : r.height();
    int lo = PANE_MIN, hi = total - SPLITTER_SIZE - secondMin;
    int size = wanted;
    if (hi < lo) {
        size = std::max(0, (total - SPLITTER_SIZE) / 2);
    } else {
        size = std::min(std::max(size, lo), hi);
    }
    *first = *bar = *second = r;
    if (vertical) {
        first->right = r.left + size;
        bar->left = first->right;
        bar->right = std::min(r.right, bar->left + SPLITTER_SIZE);
        second->left = bar->right;
    } else {
        first->bottom = r.top + size;
        bar->top = first->bottom;
        bar->bottom = std::min(r.bottom, bar->top + SPLITTER_SIZE);
        second->top = bar->bottom;
    }
    return size;
}

}  // namespace

bool isParentEntry(const BrowserEntry& e) { return e.name == ".."; }
bool isFolderEntry(const BrowserEntry& e) { return (e.flags & ENTRY_FOLDER) != 0; }

std::string nameExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

int compareEntries(const BrowserEntry& a, const BrowserEntry& b, int arrangeBy) {
    bool parentA = isParentEntry(a), parentB = isParentEntry(b);
    if (parentA || parentB) return parentA == parentB ? 0 : parentA ? -1 : 1;
    bool folderA = isFolderEntry(a), folderB = isFolderEntry(b);
    if (folderA != folderB) return folderA ? -1 : 1;
    if (folderA) return compareText(a.name, b.name);
    int c = compareFiles(a, b, arrangeBy & 0x7F);
    return (arrangeBy & ARRANGE_REVERSE) ? -c : c;
}

std::vector<int> sortedOrder(const std::vector<BrowserEntry>& entries, int arrangeBy) {
    std::vector<int> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int x, int y) { return compareEntries(entries[x], entries[y], arrangeBy) < 0; });
    return order;
}

int arrangeForColumn(int columnBit, int arrangeBy) {
    int key = ARRANGE_NAME;
    switch (columnBit) {
    case COLUMN_SIZE: key = ARRANGE_SIZE; break;
    case COLUMN_PROPERTIES:
    case COLUMN_TYPE: key = ARRANGE_TYPE; break;
    case COLUMN_DATE: key = ARRANGE_DATE; break;
    default: key = ARRANGE_NAME; break;  // "Nom" and "Description"
    }
    return key | (arrangeBy & ARRANGE_REVERSE);
}

std::string dateText(const LocalTime& t) {
    char text[64];
    if (t.hour == 0 && t.minute == 0 && t.second == 0)
        snprintf(text, sizeof text, "%02d/%02d/%02d", t.day, t.month, t.year % 100);
    else
        snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", t.day, t.month, t.year % 100, t.hour, t.minute,
                 t.second);
    return text;
}

std::string sizeText(uint64_t size) { return std::to_string(size); }

std::string propertiesText(const BrowserEntry& e) {
    if (isFolderEntry(e) || !(e.flags & ENTRY_INFO) || e.formatIndex < 0) return std::string();
    char text[80];
    if (e.bitsPerPixel >= 24 || e.bitsPerPixel <= 0)
        snprintf(text, sizeof text, "%dx%d,16M", e.width, e.height);
    else
        snprintf(text, sizeof text, "%dx%d,%ld", e.width, e.height, 1L << e.bitsPerPixel);
    return text;
}

std::string freeSpaceText(uint64_t bytes) {
    char text[64];
    if (bytes > 1073741823ull)
        snprintf(text, sizeof text, "%.2lf Gb", static_cast<double>(bytes) / 1073741824.0);
    else if (bytes > 1048575ull)
        snprintf(text, sizeof text, "%.2lf Mb", static_cast<double>(bytes) / 1048576.0);
    else if (bytes > 1023ull)
        snprintf(text, sizeof text, "%.2lf Kb", static_cast<double>(bytes) / 1024.0);
    else
        snprintf(text, sizeof text, "%d octets", static_cast<int>(bytes));
    return text;
}

std::vector<int> detailColumns(int viewColumn) {
    std::vector<int> columns = {0};
    for (int bit : {COLUMN_SIZE, COLUMN_PROPERTIES, COLUMN_TYPE, COLUMN_DATE, COLUMN_DESCRIPTION})
        if (viewColumn & bit) columns.push_back(bit);
    return columns;
}

const ThumbSize* thumbSizes() {
    static const ThumbSize SIZES[THUMB_SIZE_COUNT] = {{32, 32}, {48, 48}, {64, 48},  {64, 64},  {85, 64},
                                                      {85, 85}, {92, 69}, {100, 100}, {192, 144}};
    return SIZES;
}

int thumbSizeIndex(int width, int height) {
    for (int i = 0; i < THUMB_SIZE_COUNT; ++i)
        if (thumbSizes()[i].width == width && thumbSizes()[i].height == height) return i;
    return -1;
}

BrowserLayout computeLayout(const LayoutInput& in) {
    BrowserLayout out;
    out.dirListWidth = in.dirListWidth;
    out.dirListHeight = in.dirListHeight;
    out.iconListWidth = in.iconListWidth;
    out.iconListHeight = in.iconListHeight;
    PaneRect client;
    client.right = std::max(0, in.width);
    client.bottom = std::max(0, in.height);
    PaneRect a, bar, b;
    auto split = [&](const PaneRect& r, bool vertical, int* position, SplitKey key, int secondMin = PANE_MIN) {
        *position = splitRect(r, vertical, *position, &a, &bar, &b, secondMin);
        out.splitters.push_back({bar, key, vertical, vertical ? r.left : r.top});
    };
    bool tree = in.showTree, preview = in.showPreview;
    switch (in.layout) {
    case 2: {
        PaneRect left = client;
        if (preview) {
            split(client, true, &out.dirListWidth, SPLIT_DIR_WIDTH);
            left = a;
            out.preview = b;
        }
        if (tree) {
            split(left, false, &out.dirListHeight, SPLIT_DIR_HEIGHT);
            out.tree = a;
            out.list = b;
        } else {
            out.list = left;
        }
        break;
    }
    case 3: {
        if (!tree && !preview) {
            out.list = client;
            break;
        }
        split(client, true, &out.dirListWidth, SPLIT_DIR_WIDTH);
        PaneRect left = a;
        out.list = b;
        if (tree && preview) {
            split(left, false, &out.dirListHeight, SPLIT_DIR_HEIGHT);
            out.tree = a;
            out.preview = b;
        } else if (tree) {
            out.tree = left;
        } else {
            out.preview = left;
        }
        break;
    }
    case 4: {
        PaneRect right = client;
        if (tree) {
            split(client, true, &out.dirListWidth, SPLIT_DIR_WIDTH);
            out.tree = a;
            right = b;
        }
        if (preview) {
            split(right, false, &out.iconListHeight, SPLIT_ICON_HEIGHT);
            out.list = a;
            out.preview = b;
        } else {
            out.list = right;
        }
        break;
    }
    case 5: {
        PaneRect rest = client;
        if (tree) {
            split(client, true, &out.dirListWidth, SPLIT_DIR_WIDTH,
                  preview ? 2 * PANE_MIN + SPLITTER_SIZE : PANE_MIN);
            out.tree = a;
            rest = b;
        }
        if (preview) {
            split(rest, true, &out.iconListWidth, SPLIT_ICON_WIDTH);
            out.list = a;
            out.preview = b;
        } else {
            out.list = rest;
        }
        break;
    }
    default: {  // 1
        PaneRect band = client;
        if (preview) {
            split(client, false, &out.dirListHeight, SPLIT_DIR_HEIGHT);
            band = a;
            out.preview = b;
        }
        if (tree) {
            split(band, true, &out.dirListWidth, SPLIT_DIR_WIDTH);
            out.tree = a;
            out.list = b;
        } else {
            out.list = band;
        }
        break;
    }
    }
    return out;
}

std::vector<int> operableEntries(const std::vector<BrowserEntry>& entries, const std::vector<int>& selectedInOrder) {
    std::vector<int> out;
    for (int i : selectedInOrder) {
        if (i < 0 || static_cast<size_t>(i) >= entries.size()) continue;
        const BrowserEntry& e = entries[static_cast<size_t>(i)];
        if (!isParentEntry(e) && !isFolderEntry(e)) out.push_back(i);
    }
    return out;
}

bool selectedByAll(const BrowserEntry& e) { return !isParentEntry(e) && !isFolderEntry(e); }

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    char last = folder.back();
    return folder + (last == '\\' || last == '/' ? "" : "\\") + name;
}

std::string comparablePath(const std::string& path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    std::string prefix;
    size_t pos = 0;
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        prefix = "\\\\";
        pos = 2;
    } else if (p.size() >= 2 && p[1] == ':') {
        prefix = p.substr(0, 2) + "\\";
        pos = 2;
    } else if (!p.empty() && p[0] == '\\') {
        prefix = "\\";
        pos = 1;
    }
    std::vector<std::string> parts;
    while (pos <= p.size()) {
        size_t next = p.find('\\', pos);
        if (next == std::string::npos) next = p.size();
        std::string part = p.substr(pos, next - pos);
        // Trailing dots and spaces do not count in a Windows name.
        while (!part.empty() && part != "." && part != ".." && (part.back() == '.' || part.back() == ' '))
            part.pop_back();
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = next + 1;
    }
    std::string out = prefix;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
    return lowerAscii(out);
}

bool samePath(const std::string& a, const std::string& b) { return comparablePath(a) == comparablePath(b); }

std::string parentFolder(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '\\') f.pop_back();
    size_t slash = f.rfind('\\');
    if (slash == std::string::npos) return folder;
    return f.substr(0, slash + 1);
}

std::string sequenceName(const std::string& pattern, long number) {
    size_t first = pattern.find('#');
    if (first == std::string::npos) return pattern + std::to_string(number);
    size_t end = first;
    while (end < pattern.size() && pattern[end] == '#') ++end;
    char digits[64];
    snprintf(digits, sizeof digits, "%0*ld", static_cast<int>(std::min<size_t>(end - first, 40)), number);
    return pattern.substr(0, first) + digits + pattern.substr(end);
}

RenamePlan planSequenceRename(const std::vector<std::string>& names, const std::string& pattern, long start,
                              long step, const std::vector<std::string>& existing) {
    RenamePlan plan;
    std::vector<std::string> targets;
    std::set<std::string> oldNames, newNames;
    for (const std::string& n : names) oldNames.insert(lowerAscii(n));
    for (size_t i = 0; i < names.size(); ++i) {
        std::string to = sequenceName(pattern, start + static_cast<long>(i) * step);
        if (!newNames.insert(lowerAscii(to)).second) plan.duplicate = true;
        targets.push_back(to);
    }
    for (const std::string& e : existing) {
        std::string key = lowerAscii(e);
        if (newNames.count(key) && !oldNames.count(key)) plan.clashes.push_back(e);
    }
    bool chained = false;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string key = lowerAscii(targets[i]);
        if (oldNames.count(key) && key != lowerAscii(names[i])) chained = true;
    }
    if (!chained) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] != targets[i]) plan.steps.push_back({names[i], targets[i]});
        return plan;
    }
    // Through temporary names, none of which is a name of the folder.
    std::set<std::string> taken = oldNames;
    for (const std::string& e : existing) taken.insert(lowerAscii(e));
    std::vector<std::string> temps;
    for (size_t i = 0; i < names.size(); ++i) {
        std::string temp;
        for (int n = 0;; ++n) {
            temp = "~kaleos" + std::to_string(i) + (n ? "_" + std::to_string(n) : "") + ".tmp";
            if (!taken.count(lowerAscii(temp)) && !newNames.count(lowerAscii(temp))) break;
        }
        taken.insert(lowerAscii(temp));
        temps.push_back(temp);
        plan.steps.push_back({names[i], temp});
    }
    for (size_t i = 0; i < names.size(); ++i) plan.steps.push_back({temps[i], targets[i]});
    return plan;
}

std::string listingText(const std::vector<ListingRow>& rows) {
    size_t longest = 0;
    for (const ListingRow& r : rows) longest = std::max(longest, r.name.size());
    int width = static_cast<int>(std::min<size_t>(longest + 2, 4000));
    std::string out;
    auto line = [&](const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
        std::vector<char> text(a.size() + b.size() + c.size() + d.size() + static_cast<size_t>(width) + 100);
        snprintf(text.data(), text.size(), "%-*s  %12s  %-60s  %s\r\n", width, a.c_str(), b.c_str(), c.c_str(),
                 d.c_str());
        out += text.data();
    };
    line("Nom", "Taille", "Propri\xe9tes", "Description");
    line("---", "------", "----------", "-----------");
    for (const ListingRow& r : rows) line(r.name, " " + std::to_string(r.size), r.properties, r.description);
    return out;
}
