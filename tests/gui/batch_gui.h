// Helpers of the batch conversions' GUI test (batch_win.cpp). Like gui.h,
// this header names no Win32 type.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "optable.h"

namespace batchgui {

// Writes a picture of a kind (0 black and white, 1 grey, 2 palette, 3 true
// colour) in a format (short name) with our own writers; returns its Windows path.
std::string writePicture(const std::string& folder, const std::string& name, const char* format, int kind,
                         int width, int height);
// Whether the format's writer takes a small picture of every kind that its
// record says it takes (a probe save into the folder, removed afterwards).
bool writesEveryKindItClaims(int formatIndex, const std::string& folder);
// Whether two files decode to the same picture (kind, size, palette, pixels).
bool samePicture(const std::string& a, const std::string& b);
// The files of a folder (Windows path ending with "\"), names in sorted order, dot files left out.
std::vector<std::string> folderFiles(const std::string& folder);
// Names in the folder that a run must never leave behind (its temporaries).
int temporariesIn(const std::string& folder);
std::string unixPathOf(const std::string& windowsPath);
// Renames a file or a folder (Windows paths).
bool moveFolder(const std::string& from, const std::string& to);

// The shared job list of "Opérations avancées".
void setJobs(const std::vector<OpInstance>& jobs);
std::vector<OpInstance> jobs();
void forgetConversionCode();
int conversionCode();

// On an open batch dialog.
void addFiles(void* dialog, const std::vector<std::string>& files);
std::vector<int> outputFormats(void* dialog);  // registry indices, in list order
bool selectOutputFormat(void* dialog, int formatIndex);
bool selectSourceFormat(void* dialog, int formatIndex);  // -1: "Automatic"
bool writeScript(void* dialog, const std::string& windowsPath);
int listCount(void* dialog, int id);
std::string comboText(void* dialog, int id);

// On "KaleoOpConvert".
void selectTableEntries(void* dialog, const std::vector<int>& indices);
void selectJob(void* dialog, int position);
bool itemEnabled(void* dialog, int id);
void selectMethod(void* dialog, int method);  // 0 quick, 1 linear
void scroll(void* dialog, int barId, int request);  // SB_* request
int scrollPosition(void* dialog, int barId);

// Runs the operations dialog over the frame; `act` acts on it as gui::withDialog does.
bool withOperationsDialog(void (*act)(void* dialog, void* datum), void* datum);

struct Report {
    int written = 0, refused = 0, failed = 0;
    bool stopped = false;
    std::vector<std::string> messages;
};
Report lastRun();

// Runs kaleocmd (native, from the build folder) with the words; its exit status, -1 when it cannot run.
int runKaleocmd(const std::vector<std::string>& words);

}  // namespace batchgui
