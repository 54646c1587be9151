// Folder descriptions, "descript.ion": one line per described file, the
// name (in double quotes when it holds spaces), one separator, the text.
// The file is read into lines that remember their own bytes, so that a
// rewrite changes only the lines of the names the browser shows and keeps
// every other line (other programs' names, lines it cannot parse) as it was.
#pragma once
#include <string>
#include <utility>
#include <vector>

constexpr const char DESCRIPT_NAME[] = "descript.ion";

struct DescriptLine {
    std::string raw;       // the line as read, its line break included
    bool parsed = false;   // a name and a description were found
    std::string name;
    std::string text;      // the description, without the line break
};

// Splits the file's bytes into lines. A name in double quotes runs to the
// closing quote, any other name to the first space or tab; the description
// is the rest of the line after one separator. A line without a closing
// quote or without a separator after the name is kept unparsed.
std::vector<DescriptLine> parseDescript(const std::string& bytes);

// The description of a name (exact comparison, the first line wins), or
// null when no line describes it.
const std::string* findDescription(const std::vector<DescriptLine>& lines, const std::string& name);

// The new file: every line of the old one in its place, except the lines of
// the listed names, which carry the listed description (or go when it is
// empty); listed names that had no line are appended, one per line as
// "\"name\" description" with a CR LF line break.
std::string rewriteDescript(const std::vector<DescriptLine>& old,
                            const std::vector<std::pair<std::string, std::string>>& listed);
