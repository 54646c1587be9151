// kaleodoc: writes kaleocmd's manual page and its bash completion from what
// kaleocmd itself prints, so that neither can drift from the program.
//   kaleodoc man HELP LIST > kaleocmd.1
//   kaleodoc completion HELP LIST > kaleocmd.bash
// HELP is the output of `kaleocmd -help`, LIST that of `kaleocmd -l`.
//
// The help is read as the program lays it out: a version line, usage lines,
// free text, then sections headed "Name:" at the margin. Inside a section an
// entry is "  ITEM  description" with the description at column 18 or later
// (continued on deeper-indented lines); a section any of whose indented lines
// is not such an entry is kept as preformatted text.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool readLines(const char* path, std::vector<std::string>* lines) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) lines->push_back(line);
    return true;
}

bool startsWith(const std::string& s, const char* prefix) { return s.compare(0, strlen(prefix), prefix) == 0; }

size_t indentOf(const std::string& s) {
    size_t n = 0;
    while (n < s.size() && s[n] == ' ') ++n;
    return n;
}

std::string trim(const std::string& s) {
    size_t b = indentOf(s), e = s.size();
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

std::vector<std::string> words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

// A section header: "Reading:", "Operations (applied in command-line order):".
bool isHeader(const std::string& s) {
    return !s.empty() && std::isupper(static_cast<unsigned char>(s[0])) && s.back() == ':' &&
           s.find(": ") == std::string::npos;
}

// Splits an indented entry into its item and description: the description is
// the text after the first run of two or more spaces that ends at column 18
// or later and does not start another option.
bool splitEntry(const std::string& s, std::string* item, std::string* text) {
    size_t start = indentOf(s);
    if (start != 2) return false;
    for (size_t i = start; i + 1 < s.size(); ++i) {
        if (s[i] != ' ' || s[i + 1] != ' ') continue;
        size_t j = i;
        while (j < s.size() && s[j] == ' ') ++j;
        if (j >= s.size()) return false;
        if (j >= 18 && s[j] != '-' && s[j] != '[' && s[j] != '|') {
            *item = s.substr(start, i - start);
            *text = s.substr(j);
            return true;
        }
        i = j - 1;
    }
    return false;
}

// Text for roff: backslashes escaped, option dashes as minus signs, no
// control character at the start of a line.
std::string roff(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-' && (i == 0 || std::strchr(" [(|-", s[i - 1]))) {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
    return out;
}

struct Section {
    std::string title;
    std::string note;                 // the parenthesis of the header, if any
    std::vector<std::string> lines;
};

void writeSection(const Section& sec) {
    std::string title = sec.title;
    for (char& c : title) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    printf(".SH %s\n", title.find(' ') == std::string::npos ? title.c_str() : ("\"" + title + "\"").c_str());
    if (!sec.note.empty()) printf("%s\n", roff(sec.note).c_str());
    bool entries = true;
    std::string item, text;
    for (const std::string& l : sec.lines)
        if (indentOf(l) == 2 && !splitEntry(l, &item, &text)) entries = false;
    bool pre = false;
    for (const std::string& l : sec.lines) {
        if (trim(l).empty()) continue;
        bool indented = indentOf(l) > 0;
        if (indented && !entries) {
            if (!pre) printf(".PP\n.RS 2\n.nf\n");
            pre = true;
            printf("%s\n", roff(l.substr(2)).c_str());
            continue;
        }
        if (pre) printf(".fi\n.RE\n");
        pre = false;
        if (indented && splitEntry(l, &item, &text)) {
            printf(".TP\n\\fB%s\\fR\n%s\n", roff(item).c_str(), roff(text).c_str());
        } else if (indented) {
            printf("%s\n", roff(trim(l)).c_str());  // continues the entry above
        } else {
            printf(".PP\n%s\n", roff(l).c_str());
        }
    }
    if (pre) printf(".fi\n.RE\n");
}

int writeManual(const std::vector<std::string>& help, const std::vector<std::string>& list) {
    if (help.empty()) return 1;
    std::string version = help[0];
    size_t comma = version.find(", with ");
    if (comma != std::string::npos) version = version.substr(comma + 7);
    printf(".\\\" Generated by kaleodoc from kaleocmd -help and kaleocmd -l; do not edit.\n");
    printf(".TH KALEOCMD 1 \"\" \"%s\" \"User Commands\"\n", roff(version).c_str());
    printf(".SH NAME\nkaleocmd \\- convert image files with Kaleocore\n");
    size_t n = 1;
    printf(".SH SYNOPSIS\n.nf\n");
    std::vector<std::string> remarks;  // a usage line may end with what it does
    for (; n < help.size() && (startsWith(help[n], "usage: ") || startsWith(help[n], "       ")); ++n) {
        std::string usage = trim(startsWith(help[n], "usage: ") ? help[n].substr(7) : help[n]);
        size_t gap = usage.find("   ");
        if (gap != std::string::npos) {
            std::string form = trim(usage.substr(0, gap));
            remarks.push_back(".TP\n\\fB" + roff(form.substr(form.find(' ') + 1)) + "\\fR\n" + roff(trim(usage.substr(gap))));
            usage = form;
        }
        printf("%s\n", roff(usage).c_str());
    }
    printf(".fi\n.SH DESCRIPTION\n");
    for (const std::string& r : remarks) printf("%s\n", r.c_str());
    if (!remarks.empty()) printf(".PP\n");
    std::vector<Section> sections;
    for (; n < help.size(); ++n) {
        const std::string& l = help[n];
        if (isHeader(l)) {
            Section s;
            s.title = l.substr(0, l.size() - 1);
            size_t paren = s.title.find(" (");
            if (paren != std::string::npos && s.title.back() == ')') {
                s.note = s.title.substr(paren + 2, s.title.size() - paren - 3);
                s.note[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s.note[0])));
                s.note += ".";
                s.title = s.title.substr(0, paren);
            }
            sections.push_back(s);
        } else if (!sections.empty()) {
            sections.back().lines.push_back(l);
        } else if (!trim(l).empty()) {
            printf("%s\n", roff(l).c_str());
        }
    }
    for (const Section& s : sections) writeSection(s);
    printf(".SH FORMATS\nThe formats of the library, as kaleocmd \\-l lists them (index, short name, "
           "read and write, description, extensions):\n.PP\n.RS 2\n.nf\n");
    for (const std::string& l : list) printf("%s\n", roff(l).c_str());
    printf(".fi\n.RE\n.SH \"SEE ALSO\"\nkaleocmd \\-help \\fIFORMAT\\fR for the writer options of a format.\n");
    return 0;
}

bool isOption(const std::string& w) {
    if (w.size() < 2 || w[0] != '-') return false;
    if (!std::isalnum(static_cast<unsigned char>(w[1])) && w[1] != '@') return false;
    for (size_t i = 2; i < w.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(w[i]))) return false;
    return true;
}

// A word naming an argument: FORMAT, N, WxH+OFFSET.
bool isPlaceholder(const std::string& w) {
    bool upper = false;
    for (char c : w) upper |= std::isupper(static_cast<unsigned char>(c)) != 0;
    return upper && w[0] != '-';
}

std::string strip(std::string w) {
    while (!w.empty() && std::strchr("[(", w[0])) w.erase(0, 1);
    while (!w.empty() && std::strchr("]),;", w.back())) w.pop_back();
    return w;
}

bool isChoiceWord(const std::string& w) {
    if (w.empty()) return false;
    for (char c : w)
        if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string joined(const std::set<std::string>& s) {
    std::string out;
    for (const std::string& w : s) out += (out.empty() ? "" : " ") + w;
    return out;
}

int writeCompletion(const std::vector<std::string>& help, const std::vector<std::string>& list) {
    std::set<std::string> options;
    std::map<std::string, std::string> placeholder;          // option -> its first argument word
    std::map<std::string, std::set<std::string>> choices;    // option -> the words it takes
    std::set<std::string> outputOptions;                     // options whose argument is an output format
    for (const std::string& line : help) {
        std::string item, text;
        bool entry = splitEntry(line, &item, &text);
        std::vector<std::string> ws = words(entry ? item : line);
        // Example command lines name other programs' options (find -print0).
        if (indentOf(line) == 2 && !ws.empty() && ws[0][0] != '-' && ws[0][0] != '[') continue;
        for (size_t i = 0; i < ws.size(); ++i) {
            std::string w = strip(ws[i]);
            if (!isOption(w)) continue;
            options.insert(w);
            if (i + 1 >= ws.size()) continue;
            std::string next = strip(ws[i + 1]);
            if (isPlaceholder(next) && !placeholder.count(w)) placeholder[w] = next;
            if (entry && next == "FORMAT" && text.find("output") != std::string::npos) outputOptions.insert(w);
            // -binary pattern|halft45|halft90|floyd, -noise reduce|uniform V|gaussian V ...
            for (size_t k = i + 1; k < ws.size() && ws[k].find('|') != std::string::npos; ++k) {
                std::string part;
                std::istringstream alts(strip(ws[k]));
                while (std::getline(alts, part, '|'))
                    if (isChoiceWord(part)) choices[w].insert(part);
            }
            // -ctype T            raw channels: grey, rgb, bgr ...
            size_t colon = text.rfind(": ");
            if (entry && ws.size() == 2 && i == 0 && colon != std::string::npos) {
                std::set<std::string> listed;
                std::istringstream in(text.substr(colon + 2));
                std::string part;
                bool plain = true;
                while (std::getline(in, part, ',')) {
                    part = trim(part);
                    if (!isChoiceWord(part)) plain = false;
                    listed.insert(part);
                }
                if (plain && listed.size() > 1) choices[w] = listed;
            }
        }
    }
    std::set<std::string> all, readable, writable;
    for (const std::string& l : list) {
        std::istringstream in(l);
        int index;
        std::string name;
        if (!(in >> index >> name)) continue;
        size_t at = l.find(name) + name.size();
        while (at < l.size() && l[at] == ' ') ++at;
        if (at + 3 > l.size()) continue;
        all.insert(name);
        if (l[at] == 'r') readable.insert(name);
        if (l[at + 2] == 'w') writable.insert(name);
    }
    if (options.empty() || all.empty()) return 1;

    printf("# bash completion for kaleocmd, generated by kaleodoc from kaleocmd -help and kaleocmd -l.\n");
    printf("_kaleocmd() {\n");
    printf("    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n");
    printf("    [ \"$COMP_CWORD\" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD-1]}\n");
    printf("    local IFS=$'\\n'\n");
    printf("    case $prev in\n");
    for (const auto& p : placeholder) {
        const std::string& opt = p.first;
        const std::string& arg = p.second;
        std::string reply;
        if (choices.count(opt)) {
            reply = "compgen -W \"" + joined(choices[opt]) + "\" -- \"$cur\"";
        } else if (arg == "FORMAT") {
            const std::set<std::string>& names = outputOptions.count(opt) ? writable : opt == "-in" ? readable : all;
            reply = "compgen -W \"" + joined(names) + "\" -- \"$cur\"";
        } else if (arg == "FILE" || arg == "DEST" || arg == "FOLDER") {
            reply = "compgen -f -- \"$cur\"";
        } else {
            printf("        %s) COMPREPLY=(); return ;;\n", opt.c_str());
            continue;
        }
        printf("        %s) COMPREPLY=($(IFS=' '; %s)); return ;;\n", opt.c_str(), reply.c_str());
    }
    for (const auto& c : choices)
        if (!placeholder.count(c.first))
            printf("        %s) COMPREPLY=($(IFS=' '; compgen -W \"%s\" -- \"$cur\")); return ;;\n", c.first.c_str(),
                   joined(c.second).c_str());
    printf("    esac\n");
    printf("    case $cur in\n");
    printf("        -*) COMPREPLY=($(IFS=' '; compgen -W \"%s\" -- \"$cur\")) ;;\n", joined(options).c_str());
    printf("        *) COMPREPLY=($(compgen -f -- \"$cur\")) ;;\n");
    printf("    esac\n");
    printf("}\n");
    printf("complete -o filenames -F _kaleocmd kaleocmd\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> help, list;
    if (argc != 4 || !readLines(argv[2], &help) || !readLines(argv[3], &list)) {
        fprintf(stderr, "usage: kaleodoc man|completion HELP LIST\n");
        return 2;
    }
    std::string mode = argv[1];
    if (mode == "man") return writeManual(help, list);
    if (mode == "completion") return writeCompletion(help, list);
    fprintf(stderr, "kaleodoc: unknown mode %s\n", argv[1]);
    return 2;
}
