// Reading and rewriting "descript.ion".
#include "descript.h"

#include <map>

namespace {

// The line without its break (CR LF, LF or a lone CR at the end).
std::string bodyOf(const std::string& raw) {
    size_t n = raw.size();
    while (n > 0 && (raw[n - 1] == '\n' || raw[n - 1] == '\r')) --n;
    return raw.substr(0, n);
}

void parseLine(DescriptLine* line) {
    std::string body = bodyOf(line->raw);
    size_t afterName;
    if (!body.empty() && body[0] == '"') {
        size_t close = body.find('"', 1);
        if (close == std::string::npos || close == 1) return;
        line->name = body.substr(1, close - 1);
        afterName = close + 1;
    } else {
        afterName = body.find_first_of(" \t");
        if (afterName == std::string::npos || afterName == 0) return;
        line->name = body.substr(0, afterName);
    }
    if (afterName >= body.size() || (body[afterName] != ' ' && body[afterName] != '\t')) {
        line->name.clear();
        return;
    }
    line->text = body.substr(afterName + 1);
    line->parsed = true;
}

}  // namespace

std::vector<DescriptLine> parseDescript(const std::string& bytes) {
    std::vector<DescriptLine> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        end = end == std::string::npos ? bytes.size() : end + 1;
        DescriptLine line;
        line.raw = bytes.substr(start, end - start);
        parseLine(&line);
        lines.push_back(std::move(line));
        start = end;
    }
    return lines;
}

const std::string* findDescription(const std::vector<DescriptLine>& lines, const std::string& name) {
    for (const DescriptLine& l : lines)
        if (l.parsed && l.name == name) return &l.text;
    return nullptr;
}

std::string rewriteDescript(const std::vector<DescriptLine>& old,
                            const std::vector<std::pair<std::string, std::string>>& listed) {
    std::map<std::string, const std::string*> wanted;  // name → its new description
    for (const auto& p : listed) wanted.emplace(p.first, &p.second);
    std::map<std::string, bool> written;
    auto lineFor = [](const std::string& name, std::string text) {
        // A description is one line: breaks typed into it become spaces.
        for (char& c : text)
            if (c == '\r' || c == '\n') c = ' ';
        return "\"" + name + "\" " + text + "\r\n";
    };
    std::string out;
    for (const DescriptLine& l : old) {
        auto it = l.parsed ? wanted.find(l.name) : wanted.end();
        if (it == wanted.end()) {
            out += l.raw;
            // A last line without a break gets one when more lines follow.
            if (!out.empty() && out.back() != '\n') out += "\r\n";
            continue;
        }
        if (written[l.name]) continue;  // a second line of the same name goes
        written[l.name] = true;
        if (!it->second->empty()) out += lineFor(l.name, *it->second);
    }
    for (const auto& p : listed) {
        if (written[p.first] || p.second.empty()) continue;
        written[p.first] = true;
        out += lineFor(p.first, p.second);
    }
    return out;
}
