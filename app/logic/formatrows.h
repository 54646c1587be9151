// Rows of the formats dialog and of the installation dialog's list, built
// from the format registry.
#pragma once
#include <string>
#include <vector>

struct FormatRow {
    int index;               // registry index
    std::string name;        // the format's description
    bool canRead;
    bool canWrite;
    std::string extensions;  // joined by ","
};

// One row per format, in registry order, or sorted by name (case-insensitive,
// registry order between equal names) when sortById is false.
std::vector<FormatRow> buildFormatRows(bool sortById);

// How many formats of the registry read files, and how many write them.
struct FormatCounts {
    int readers;
    int writers;
};
FormatCounts countFormats();

struct AssociationRow {
    std::string label;                    // column 0
    std::string detail;                   // column 1
    std::vector<std::string> extensions;  // what the row's check box associates
};

// By name: one row per format in registry order (description; extensions
// joined by ","). By extension: one row per distinct extension (compared
// without regard to case, as the registry does) sorted by extension; the
// descriptions of the formats using it joined by " | ", each appended only
// while the text stays under 512 characters.
std::vector<AssociationRow> buildAssociationRows(bool byName);

constexpr size_t ASSOCIATION_DETAIL_LIMIT = 512;
