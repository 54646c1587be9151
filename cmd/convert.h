// Running a kaleocmd job: naming the outputs, loading, applying the operations,
// converting to a kind the output format accepts, saving, deleting originals.
#pragma once
#include <string>
#include <vector>

#include "cmdline.h"
#include "kaleocore.h"

// One unit of work: a source (and page) and where it goes.
struct CmdTask {
    std::string source;
    int page = 0;            // page to load
    std::string destStem;    // output path without its extension (extension added after conversion)
    std::string destExact;   // an exact output path (a file name given with -o), else empty
    std::string error;       // set when the task cannot run (reported, counted as a failure)
};

// Expands sources, sequences and pages into tasks with their destinations.
// Later tasks whose output would collide with an earlier one get an error.
std::vector<CmdTask> planTasks(const CmdJob& job);

// Chooses the conversion (a target and method of convertImage) that makes image
// acceptable to the format; false when the format accepts it as it is.
bool chooseConversion(int formatIndex, const Image* image, int* target, int* method);

// Runs the tasks on job.threads threads; returns the number of failures.
int runTasks(const CmdJob& job, const std::vector<CmdTask>& tasks);

// Prints the list of formats (-l) and the file examination (-info).
void printFormatList();
int printFileInfo(const CmdJob& job);
