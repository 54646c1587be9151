// kaleocmd: the command-line converter. Runs the one-line scripts the viewer
// exports and batch conversions from the shell; kaleocmd -help explains it.
#include <cstdio>
#include <string>

#include "cmdline.h"
#include "convert.h"

int main(int argc, char** argv) {
    CmdJob job;
    std::string error;
    if (!parseCommandLine(argc, argv, &job, &error)) {
        fprintf(stderr, "kaleocmd: %s\n", error.c_str());
        fprintf(stderr, "Try kaleocmd -help.\n");
        return 2;
    }
    if (job.help) {
        fputs(helpText(), stdout);
        return 0;
    }
    if (job.list) {
        printFormatList();
        return 0;
    }
    if (job.sources.empty()) {
        fputs(helpText(), stderr);
        return 2;
    }
    if (job.info) return printFileInfo(job) ? 1 : 0;
    if (job.outFormat < 0 && !job.check) {
        fprintf(stderr, "kaleocmd: -out FORMAT is required to convert\n");
        return 2;
    }
    std::vector<CmdTask> tasks = planTasks(job);
    if (!job.dest.empty() && job.dest.back() == '/') {
        std::string mk = "mkdir -p '" + job.dest + "'";
        if (system(mk.c_str()) != 0) {
            fprintf(stderr, "kaleocmd: cannot create %s\n", job.dest.c_str());
            return 1;
        }
    }
    return runTasks(job, tasks) ? 1 : 0;
}
