// Format lists for the formats and installation dialogs.
#include "formatrows.h"

#include <algorithm>
#include <cctype>

#include "kaleocore.h"

namespace {

std::string lowered(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return r;
}

bool lessNoCase(const std::string& a, const std::string& b) { return lowered(a) < lowered(b); }

}  // namespace

FormatCounts countFormats() {
    FormatCounts counts{0, 0};
    for (const FormatRow& row : buildFormatRows(true)) {
        counts.readers += row.canRead ? 1 : 0;
        counts.writers += row.canWrite ? 1 : 0;
    }
    return counts;
}

std::vector<FormatRow> buildFormatRows(bool sortById) {
    std::vector<FormatRow> rows;
    const int n = formatCount();
    rows.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        FormatInfo info;
        if (getFormatInfo(i, &info) != 0) continue;
        FormatRow row{i, info.description, (info.capabilities & CAP_READ) != 0,
                      (info.capabilities & CAP_WRITE) != 0, std::string()};
        for (int e = 0; e < MAX_EXTENSIONS && info.extensions[e][0]; ++e) {
            if (!row.extensions.empty()) row.extensions += ",";
            row.extensions += info.extensions[e];
        }
        rows.push_back(row);
    }
    if (!sortById)
        std::stable_sort(rows.begin(), rows.end(),
                         [](const FormatRow& a, const FormatRow& b) { return lessNoCase(a.name, b.name); });
    return rows;
}

std::vector<AssociationRow> buildAssociationRows(bool byName) {
    std::vector<AssociationRow> rows;
    const int n = formatCount();
    if (byName) {
        for (int i = 0; i < n; ++i) {
            FormatInfo info;
            if (getFormatInfo(i, &info) != 0) continue;
            AssociationRow row;
            row.label = info.description;
            for (int e = 0; e < MAX_EXTENSIONS && info.extensions[e][0]; ++e) {
                if (!row.detail.empty()) row.detail += ",";
                row.detail += info.extensions[e];
                row.extensions.push_back(info.extensions[e]);
            }
            rows.push_back(row);
        }
        return rows;
    }
    // Distinct extensions, the first spelling met in registry order kept.
    std::vector<int> lastFormat;  // per row: the format that last added to it
    std::vector<bool> full;       // per row: a description no longer fitted
    for (int i = 0; i < n; ++i) {
        FormatInfo info;
        if (getFormatInfo(i, &info) != 0) continue;
        for (int e = 0; e < MAX_EXTENSIONS && info.extensions[e][0]; ++e) {
            const std::string ext = lowered(info.extensions[e]);
            size_t r = 0;
            while (r < rows.size() && lowered(rows[r].label) != ext) ++r;
            if (r == rows.size()) {
                AssociationRow row;
                row.label = info.extensions[e];
                row.extensions.push_back(info.extensions[e]);
                rows.push_back(row);
                lastFormat.push_back(-1);
                full.push_back(false);
            }
            if (lastFormat[r] == i || full[r]) continue;  // one format listing two spellings
            lastFormat[r] = i;
            const std::string description = info.description;
            std::string joined = rows[r].detail.empty() ? description : rows[r].detail + " | " + description;
            if (joined.size() < ASSOCIATION_DETAIL_LIMIT)
                rows[r].detail = joined;
            else
                full[r] = true;
        }
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const AssociationRow& a, const AssociationRow& b) { return lessNoCase(a.label, b.label); });
    return rows;
}
