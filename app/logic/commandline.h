// The viewer's command line: tokens, and what they ask for as a list of
// actions that the Win32 layer carries out in order.
#pragma once
#include <string>
#include <vector>

#include "settings.h"

// Splits a command line (without the program name). Spaces separate tokens;
// a double quote opens and closes a quoted stretch wherever it stands, inside
// which spaces belong to the token. Empty tokens ("") are dropped.
std::vector<std::string> tokenizeCommandLine(const char* line);

// The token after the first "-ini", or "" when there is none (a trailing
// "-ini" has no argument) or when it is longer than MAX_PATH_CHARS.
std::string findIniOption(const std::vector<std::string>& tokens);
// True when the exact (case-sensitive) option appears anywhere.
bool hasOption(const std::vector<std::string>& tokens, const char* option);

enum ActionKind {
    ACT_OPEN_FILE,        // open one file in an image window (WM_USER+1, automatic format)
    ACT_OPEN_LIST,        // open the first of several files, keeping them for stepping
    ACT_SET_BROWSE_PATH,  // store a folder as PathBrowse
    ACT_OPEN_BROWSER,
    ACT_RUN_SLIDE_SHOW,   // run the slide show dialog on a .sld file
    ACT_FULL_SCREEN,      // command 140 to the target frame
    ACT_FORWARD_PATH,     // WM_COPYDATA with the path to the running instance
};

struct Action {
    ActionKind kind;
    std::vector<std::string> paths;  // one path, or the list of ACT_OPEN_LIST
};

enum CommandLineMode { MODE_NORMAL, MODE_FORWARD };

struct CommandLinePlan {
    std::vector<Action> actions;
    std::vector<std::string> refused;  // tokens too long to be a path
};

// isFolder answers whether a path exists with the directory attribute.
using FolderProbe = bool (*)(const char* path, void* datum);

CommandLinePlan interpretCommandLine(const std::vector<std::string>& tokens, CommandLineMode mode,
                                     bool launchBrowserAtStartup, FolderProbe isFolder, void* datum);
