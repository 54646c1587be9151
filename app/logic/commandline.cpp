// Tokenising and interpreting the viewer's command line.
#include "commandline.h"

#include <cstring>

std::vector<std::string> tokenizeCommandLine(const char* line) {
    std::vector<std::string> tokens;
    if (!line) return tokens;
    std::string token;
    bool inToken = false;
    bool quoted = false;
    for (const char* p = line; *p; ++p) {
        char c = *p;
        if (c == '"') {
            quoted = !quoted;
            inToken = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inToken && !token.empty()) tokens.push_back(token);
            token.clear();
            inToken = false;
        } else {
            token.push_back(c);
            inToken = true;
        }
    }
    if (inToken && !token.empty()) tokens.push_back(token);
    return tokens;
}

std::string findIniOption(const std::vector<std::string>& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i] != "-ini") continue;
        if (i + 1 >= tokens.size()) return std::string();
        if (tokens[i + 1].size() > static_cast<size_t>(MAX_PATH_CHARS)) return std::string();
        return tokens[i + 1];
    }
    return std::string();
}

bool hasOption(const std::vector<std::string>& tokens, const char* option) {
    for (const std::string& t : tokens)
        if (t == option) return true;
    return false;
}

namespace {

Action makeAction(ActionKind kind, const std::string& path = std::string()) {
    Action a{kind, {}};
    if (!path.empty()) a.paths.push_back(path);
    return a;
}

bool tooLong(const std::string& s) { return s.size() > static_cast<size_t>(MAX_PATH_CHARS); }

}  // namespace

CommandLinePlan interpretCommandLine(const std::vector<std::string>& tokens, CommandLineMode mode,
                                     bool launchBrowserAtStartup, FolderProbe isFolder, void* datum) {
    CommandLinePlan plan;
    bool full = false;
    bool all = false;
    std::vector<std::string> list;
    const bool forward = mode == MODE_FORWARD;

    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        if (t == "-ini") {
            ++i;  // its argument was used before the frame existed
        } else if (t == "-full") {
            full = true;
        } else if (t == "-view") {
            // taken before the frame is created
        } else if (t == "-all") {
            all = true;
        } else if (t == "-browser") {
            // A second instance has no frame of its own: the option is not forwarded.
            if (!forward) plan.actions.push_back(makeAction(ACT_OPEN_BROWSER));
        } else if (t == "-slide") {
            if (i + 1 >= tokens.size()) break;  // no slide-show file follows
            const std::string& file = tokens[++i];
            if (tooLong(file)) {
                plan.refused.push_back(file);
            } else if (!forward) {
                plan.actions.push_back(makeAction(ACT_RUN_SLIDE_SHOW, file));
            }
        } else if (tooLong(t)) {
            plan.refused.push_back(t);
        } else if (forward) {
            // Files and folders alike: the running instance opens a folder in its browser.
            plan.actions.push_back(makeAction(ACT_FORWARD_PATH, t));
        } else if (isFolder && isFolder(t.c_str(), datum)) {
            plan.actions.push_back(makeAction(ACT_SET_BROWSE_PATH, t));
            if (!launchBrowserAtStartup) plan.actions.push_back(makeAction(ACT_OPEN_BROWSER));
        } else if (all) {
            plan.actions.push_back(makeAction(ACT_OPEN_FILE, t));
        } else {
            list.push_back(t);
        }
    }

    if (list.size() == 1) {
        plan.actions.push_back(makeAction(ACT_OPEN_FILE, list[0]));
    } else if (list.size() > 1) {
        Action a{ACT_OPEN_LIST, list};
        plan.actions.push_back(a);
    }
    if (full) plan.actions.push_back(makeAction(ACT_FULL_SCREEN));
    return plan;
}
