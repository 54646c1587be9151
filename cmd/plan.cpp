// Planning a kaleocmd job: which file goes where, checked before anything is written.
#include <set>

#include "convert.h"
#include "files.h"

namespace {

std::string withSlash(const std::string& folder) {
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

std::string fileName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The name without its extension; an extension of digits only is a number
// (scan.001) and stays, so numbered files keep their numbers.
std::string withoutExtension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return name;
    if (name.find_first_not_of("0123456789", dot + 1) == std::string::npos) return name;
    return name.substr(0, dot);
}

struct Layout {
    bool folder = false, pattern = false, file = false;
};

Layout layoutOf(const CmdJob& job) {
    Layout l;
    l.folder = !job.dest.empty() && job.dest != "-" && (job.dest.back() == '/' || isFolder(job.dest));
    l.pattern = !l.folder && job.dest.find('#') != std::string::npos;
    l.file = !job.dest.empty() && !l.folder && !l.pattern;
    return l;
}

int pageCountOf(const CmdJob& job, const std::string& source) {
    FileInfo fi;
    if (source == "-" || readImageInfo(source.c_str(), job.inFormat, 0, &fi) != ST_OK || fi.pageCount < 1) return 1;
    return fi.pageCount;
}

void tasksOfSource(const CmdJob& job, const Layout& layout, const std::string& source, int64_t number,
                   std::vector<CmdTask>* out) {
    int pages = job.allPages ? pageCountOf(job, source) : 1;
    for (int p = 0; p < pages; ++p) {
        CmdTask t;
        t.source = source;
        t.page = job.allPages ? p : job.page;
        std::string pageSuffix = job.allPages && pages > 1 ? "-" + std::to_string(p + 1) : "";
        std::string base = withoutExtension(fileName(source)) + pageSuffix;
        if (layout.folder) {
            t.destStem = withSlash(job.dest) + (source == "-" ? "stdin" + pageSuffix : base);
        } else if (layout.pattern) {
            std::string name = sequenceName(job.dest, static_cast<int>(number));
            size_t slash = name.find_last_of('/');
            size_t dot = name.find_last_of('.');
            bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
            if (hasExt && pageSuffix.empty()) t.destExact = name;
            else t.destStem = (hasExt ? name.substr(0, dot) : name) + pageSuffix;
        } else if (layout.file) {
            if (pageSuffix.empty() || job.dest == "-") {
                t.destExact = job.dest;
            } else {
                std::string d = withoutExtension(job.dest);
                t.destExact = d + pageSuffix + job.dest.substr(d.size());
            }
        } else if (source == "-") {
            t.destExact = "-";  // standard input goes to standard output unless -o says otherwise
        } else {
            t.destStem = folderOf(source) + base;
        }
        out->push_back(t);
    }
}

int64_t sequenceCount(const CmdJob& job) {
    if (job.seqEnd < job.seqStart || job.seqStep < 1) return 1;
    return (static_cast<int64_t>(job.seqEnd) - job.seqStart) / job.seqStep + 1;
}

std::string sequencePattern(const CmdJob& job) {
    std::string pattern;
    for (const std::string& s : job.sources) pattern += (pattern.empty() || pattern.back() == '/') ? s : "/" + s;
    return pattern;
}

// Whether name is one of the inputs of the job's sequence.
bool isSequenceInput(const CmdJob& job, const std::string& pattern, const std::string& name) {
    if (job.seqEnd < job.seqStart || job.seqStep < 1) return canonicalPath(pattern) == canonicalPath(name);
    size_t hash = pattern.find('#');
    std::string prefix = hash == std::string::npos ? pattern : pattern.substr(0, hash);
    size_t run = 0;
    while (hash != std::string::npos && hash + run < pattern.size() && pattern[hash + run] == '#') ++run;
    std::string suffix = hash == std::string::npos ? "" : pattern.substr(hash + run);
    if (prefix.find('/') != std::string::npos || suffix.find('/') != std::string::npos) {
        // Compare in the resolved folder of the pattern.
        if (folderOf(canonicalPath(prefix + "0")) != folderOf(canonicalPath(name))) return false;
        prefix = fileName(prefix + "0");
        prefix.pop_back();
    } else if (folderOf(canonicalPath(name)) != folderOf(canonicalPath("x"))) {
        return false;
    }
    std::string n = fileName(name);
    if (n.size() <= prefix.size() + suffix.size() || n.compare(0, prefix.size(), prefix) != 0 ||
        n.compare(n.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::string digits = n.substr(prefix.size(), n.size() - prefix.size() - suffix.size());
    if (digits.size() > 11 || digits.find_first_not_of("-0123456789") != std::string::npos) return false;
    int64_t v = strtoll(digits.c_str(), nullptr, 10);
    if (v < job.seqStart || v > job.seqEnd || (v - job.seqStart) % job.seqStep != 0) return false;
    return fileName(sequenceName(prefix + std::string(run, '#') + suffix, static_cast<int>(v))) == n;
}

}  // namespace

std::vector<std::string> outputCandidates(const CmdJob& job, const CmdTask& task) {
    if (!task.destExact.empty()) return {task.destExact};
    std::vector<std::string> names;
    const FormatRecord* r = formatRecord(job.outFormat);
    if (!r) return names;
    auto add = [&](const char* ext) {
        std::string n = task.destStem + (ext ? std::string(".") + ext : "");
        for (const std::string& o : names)
            if (o == n) return;
        names.push_back(n);
    };
    add(r->extensions[0]);
    for (int m = 0; m < MAX_WRITE_VARIANTS && r->modes[m].kindMask != WV_END; ++m)
        if (r->modes[m].extension) add(r->modes[m].extension);
    return names;
}

// Why a task may not write: one of its outputs is its own input or, as
// otherInput says, another input of the run. Empty when it may.
template <typename OtherInput>
std::string outputRefusal(const CmdJob& job, const CmdTask& t, OtherInput otherInput) {
    for (const std::string& c : outputCandidates(job, t)) {
        if (c == "-") break;
        if (t.source != "-" && (canonicalPath(c) == canonicalPath(t.source) || sameFile(c, t.source)))
            return "the output " + c + " is the input itself";
        if (otherInput(c)) return "the output " + c + " would replace another input of this run";
    }
    return "";
}

std::vector<CmdTask> planTasks(const CmdJob& job) {
    Layout layout = layoutOf(job);
    std::vector<CmdTask> tasks;
    if (job.sequence) {
        TaskFeed feed;
        startFeed(&feed, job);
        for (CmdTask t; nextTask(&feed, &t);) tasks.push_back(t);
        return tasks;
    }
    int64_t n = 1;
    for (const std::string& s : job.sources) tasksOfSource(job, layout, s, n++, &tasks);
    if (job.check) return tasks;  // nothing is written
    if (layout.file && tasks.size() > 1 && !job.allPages) {
        for (size_t i = 1; i < tasks.size(); ++i) tasks[i].error = "-o names one file but there are several inputs";
    }
    // Two tasks must never write the same output, and no output may replace
    // an input of the run: the later task is an error, found before anything is written.
    std::set<std::string> inputs;
    for (const std::string& s : job.sources)
        if (s != "-") inputs.insert(canonicalPath(s));
    std::set<std::string> claimed;
    for (CmdTask& t : tasks) {
        if (!t.error.empty() || t.destExact == "-") continue;
        std::string key = canonicalPath(t.destExact.empty() ? t.destStem : t.destExact);
        if (!claimed.insert(key).second) {
            t.error = "would overwrite the output of an earlier file";
            continue;
        }
        t.error = outputRefusal(job, t, [&](const std::string& c) { return inputs.count(canonicalPath(c)) > 0; });
    }
    return tasks;
}

void startFeed(TaskFeed* feed, const CmdJob& job) {
    *feed = TaskFeed{};
    feed->job = &job;
    if (job.sequence) {
        feed->nextNumber = job.seqStart;
        feed->total = job.allPages ? -1 : sequenceCount(job);
    } else {
        feed->planned = planTasks(job);
        feed->total = static_cast<int64_t>(feed->planned.size());
    }
}

bool nextTask(TaskFeed* feed, CmdTask* task) {
    const CmdJob& job = *feed->job;
    if (!job.sequence) {
        if (feed->nextPlanned >= feed->planned.size()) return false;
        *task = feed->planned[feed->nextPlanned++];
        return true;
    }
    while (feed->nextPage >= feed->pages.size()) {
        if (feed->sequenceDone) return false;
        feed->pages.clear();
        feed->nextPage = 0;
        std::string pattern = sequencePattern(job);
        int64_t n = feed->nextNumber;
        bool literal = job.seqEnd < job.seqStart || job.seqStep < 1;
        tasksOfSource(job, layoutOf(job), literal ? pattern : sequenceName(pattern, static_cast<int>(n)), n,
                      &feed->pages);
        feed->nextNumber += job.seqStep;
        if (literal || feed->nextNumber > job.seqEnd) feed->sequenceDone = true;
        if (job.check) continue;
        for (CmdTask& t : feed->pages) {
            if (layoutOf(job).file && (n != job.seqStart) && t.destExact != "-")
                t.error = "-o names one file but there are several inputs";
            if (t.error.empty())
                t.error = outputRefusal(job, t, [&](const std::string& c) { return isSequenceInput(job, pattern, c); });
        }
    }
    *task = feed->pages[feed->nextPage++];
    return true;
}
