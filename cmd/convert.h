// Running a kaleocmd job: naming the outputs, loading, applying the operations,
// converting to a kind the output format accepts, saving, deleting originals.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline.h"
#include "kaleocore.h"

// One unit of work: a source (and page) and where it goes.
struct CmdTask {
    std::string source;      // "-" is standard input
    int page = 0;            // page to load
    std::string destStem;    // output path without its extension (extension added after conversion)
    std::string destExact;   // an exact output path (a file name given with -o; "-" standard output), else empty
    std::string error;       // set when the task cannot run (reported, counted as a failure)
};

// Expands sources, sequences and pages into tasks with their destinations.
// Later tasks whose output would collide with an earlier one, or whose output
// could replace another input of the run, get an error.
std::vector<CmdTask> planTasks(const CmdJob& job);

// The tasks of a job in input order, one at a time: a list of files is
// planned (and checked) whole; a numbered sequence is produced as it goes,
// so a range of any length takes no memory.
struct TaskFeed {
    const CmdJob* job = nullptr;
    std::vector<CmdTask> planned;
    size_t nextPlanned = 0;
    int64_t nextNumber = 0;  // sequences
    bool sequenceDone = false;
    std::vector<CmdTask> pages;  // the rest of the current source's pages
    size_t nextPage = 0;
    int64_t total = -1;      // tasks (or sequence sources) to come, -1 when unknown
};
void startFeed(TaskFeed* feed, const CmdJob& job);
bool nextTask(TaskFeed* feed, CmdTask* task);

// The names a task's output may get (one per extension its format writes).
std::vector<std::string> outputCandidates(const CmdJob& job, const CmdTask& task);

// Chooses the conversion (a target and method of convertImage) that makes image
// acceptable to the format; false when the format accepts it as it is.
bool chooseConversion(int formatIndex, const Image* image, int* target, int* method);

// Runs the job's tasks on job.threads threads; returns the number of failures.
int runJob(const CmdJob& job);

// Prints the list of formats (-l) and the file examination (-info).
void printFormatList();
int printFileInfo(const CmdJob& job);

// A string as a JSON string literal; bytes that are not UTF-8 become
// \udcXX escapes (as Python's surrogateescape reads them back).
std::string jsonString(const std::string& s);
