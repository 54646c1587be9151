// kaleocmd: the command-line converter. Runs the one-line scripts the viewer
// exports and batch conversions from the shell; kaleocmd -help explains it.
// Exit status: 0 every file converted, 1 some failed, 2 a usage error.
#include <cstdio>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <string>
#include <vector>

#include "cmdline.h"
#include "convert.h"
#include "files.h"

namespace {

int usage(const std::string& error) {
    fprintf(stderr, "kaleocmd: %s\n", error.c_str());
    fprintf(stderr, "Try kaleocmd -help.\n");
    return 2;
}

// Runs one parsed command line.
int runCommand(CmdJob& job) {
    if (job.help) {
        fputs(job.helpFormat >= 0 ? formatHelpText(job.helpFormat).c_str() : helpText().c_str(), stdout);
        return 0;
    }
    if (job.list) {
        printFormatList();
        return 0;
    }
    if (!job.script.empty()) return usage("-script takes no other options or files");
    if (!job.listFile.empty()) {
        if (job.sequence) return usage("-@ and -n cannot be combined");
        std::string why;
        if (!readNameList(job.listFile, job.listNul, &job.sources, &why))
            return usage("cannot read the list " + job.listFile + ": " + why);
    }
    int fromStdin = 0;
    for (const std::string& s : job.sources) fromStdin += s == "-";
    if (fromStdin > 1 || (fromStdin && job.listFile == "-"))
        return usage("standard input (-) can be read only once");
    if (job.sequence && fromStdin) return usage("-n takes a pattern, not standard input");
    if (job.sources.empty()) {
        if (!job.listFile.empty()) return 0;  // an empty list: nothing to do
        fputs(helpText().c_str(), stderr);
        return 2;
    }
    if (job.info) return printFileInfo(job) ? 1 : 0;
    if (job.outFormat < 0 && !job.check)
        return usage("-out FORMAT (or an -o name with a known extension) is required to convert");
    return runJob(job) ? 1 : 0;
}

// Runs the kaleocmd lines of a script: the first word of a line may be
// "kaleocmd"; the worst exit status of its lines is the script's.
int runScript(const std::string& file) {
    std::vector<std::string> lines;
    std::string why;
    if (!readNameList(file, false, &lines, &why)) return usage("cannot read " + file + ": " + why);
    int worst = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
        std::vector<std::string> words;
        if (!splitScriptLine(lines[n], &words, &why)) {
            fprintf(stderr, "kaleocmd: %s:%zu: %s\n", file.c_str(), n + 1, why.c_str());
            worst = 2;
            continue;
        }
        if (words.empty()) continue;
        if (words[0] != "kaleocmd" && words[0].find("/kaleocmd") == std::string::npos) words.insert(words.begin(), "kaleocmd");
        std::vector<const char*> argv;
        for (const std::string& w : words) argv.push_back(w.c_str());
        CmdJob job;
        int rc;
        if (!parseCommandLine(static_cast<int>(argv.size()), argv.data(), &job, &why)) {
            fprintf(stderr, "kaleocmd: %s:%zu: %s\n", file.c_str(), n + 1, why.c_str());
            rc = 2;
        } else if (!job.script.empty()) {
            fprintf(stderr, "kaleocmd: %s:%zu: a script cannot run another script\n", file.c_str(), n + 1);
            rc = 2;
        } else {
            rc = runCommand(job);
        }
        if (rc > worst) worst = rc;
    }
    return worst;
}

}  // namespace

int main(int argc, char** argv) {
    installSignalHandlers();
#if defined(__GLIBC__)
    // A batch allocates and frees the same few megabytes for every file: they
    // stay in the process (up to 32 MiB a block, 256 MiB kept free) instead of
    // going back to the system and faulting in again, cleared, for the next.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
    CmdJob job;
    std::string error;
    if (!parseCommandLine(argc, argv, &job, &error)) return usage(error);
    if (!job.script.empty()) {
        if (!job.sources.empty() || job.help || job.list) return usage("-script takes no other options or files");
        return runScript(job.script);
    }
    return runCommand(job);
}
