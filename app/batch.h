// The batch conversions: the sequence conversion "KaleoSeqConvert", the
// multiple conversion "KaleoMulConvert", the operations dialog
// "KaleoOpConvert" that edits their shared job list, and the script export.
// The window-free part lives in app/logic/batchlogic.h and opconvlogic.h.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "optable.h"

// Opens "Conversion multiple" over owner, its list filled with files (Windows paths).
void showMultipleConversion(HWND owner, const std::vector<std::string>& files);
// Opens "Conversion de séquence" over owner.
void showSequenceConversion(HWND owner);
// Opens "Opérations avancées" over owner on the shared job list.
void showOperationsDialog(HWND owner);

// The job list shared by both dialogs; it lives until the program ends.
std::vector<OpInstance>& batchJobList();

// For the GUI test, on an open batch dialog: adds files to the multiple
// conversion's list, and writes the script to path without the save
// dialog (false when nothing was written).
void batchAddFiles(HWND dialog, const std::vector<std::string>& files);
bool batchWriteScript(HWND dialog, const char* path);
// The formats of a dialog's output list, in list order (registry indices).
std::vector<int> batchOutputFormats(HWND dialog);
// What the last run did: files written, refused or failed.
struct BatchRunReport {
    int written = 0;
    int refused = 0;
    int failed = 0;
    bool stopped = false;
    std::vector<std::string> messages;  // the texts shown (or skipped with the errors)
};
const BatchRunReport& lastBatchRun();
