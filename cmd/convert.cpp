#include "convert.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "dither.h"
#include "effects.h"
#include "optable.h"
#include "writeoptions.h"

namespace {

std::mutex g_printLock;

void report(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_printLock);
    fprintf(stderr, "%s\n", line.c_str());
}

bool isFolder(const std::string& path) {
    struct stat sb;
    return stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

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

std::string withoutExtension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// A path as the file system sees it, for comparisons: the real folder and the name.
std::string canonical(const std::string& path) {
    std::string folder = folderOf(path);
    char buf[PATH_MAX];
    if (realpath(folder.empty() ? "." : folder.c_str(), buf)) return withSlash(buf) + fileName(path);
    return path;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return canonical(a) == canonical(b);
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

const char* statusText(Status st, const char* message) {
    if (st == ST_BAD_FILE && message && *message) return message;
    switch (st) {
    case ST_NO_MEMORY: return "not enough memory";
    case ST_UNKNOWN_FORMAT: return "unknown format";
    case ST_READ_ERROR: return "cannot read the file";
    case ST_CANNOT_OPEN: return "cannot open the file";
    case ST_WRITE_ERROR: return "cannot write the file";
    case ST_KIND_REFUSED: return "the format cannot store this kind of image";
    case ST_NO_WRITER: return "the format cannot be written";
    case ST_BAD_FILE: return "bad file format";
    case ST_CORRUPT: return "corrupt file";
    case ST_JPEG_ERROR: return "JPEG error";
    case ST_STOPPED: return "stopped";
    default: return opStatusText(st);
    }
}

IoOptions loadOptions(const CmdJob& job, int page) {
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(job.inFormat);
    o.pageIndex = page;
    o.rawWidth = job.rawWidth;
    o.rawHeight = job.rawHeight;
    o.rawOffset = job.rawOffset;
    o.rawParameter = job.channelOrder;
    o.rawLayout = job.channelType;
    o.readerParameter1 = job.pcdBase;
    o.maxWidth = job.thumbWidth;
    o.maxHeight = job.thumbHeight;
    if (job.verbose) o.flags |= OPT_VERBOSE;
    if (job.progress) o.flags |= OPT_PROGRESS_BAR;
    return o;
}

int pageCountOf(const CmdJob& job, const std::string& source) {
    FileInfo fi;
    if (readImageInfo(source.c_str(), job.inFormat, 0, &fi) != ST_OK || fi.pageCount < 1) return 1;
    return fi.pageCount;
}

}  // namespace

std::vector<CmdTask> planTasks(const CmdJob& job) {
    std::vector<std::pair<std::string, int>> sources;  // (file, number for '#' outputs)
    if (job.sequence) {
        std::string pattern;
        for (const std::string& s : job.sources) pattern += (pattern.empty() || pattern.back() == '/') ? s : "/" + s;
        if (job.seqEnd < job.seqStart || job.seqStep < 1) {
            sources.push_back({pattern, job.seqStart});
        } else {
            for (long n = job.seqStart; n <= job.seqEnd; n += job.seqStep)
                sources.push_back({sequenceName(pattern, static_cast<int>(n)), static_cast<int>(n)});
        }
    } else {
        int n = 1;
        for (const std::string& s : job.sources) sources.push_back({s, n++});
    }

    bool destFolder = !job.dest.empty() && (job.dest.back() == '/' || isFolder(job.dest));
    bool destPattern = !destFolder && job.dest.find('#') != std::string::npos;
    bool destFile = !job.dest.empty() && !destFolder && !destPattern;

    std::vector<CmdTask> tasks;
    for (const auto& src : sources) {
        int pages = job.allPages ? pageCountOf(job, src.first) : 1;
        for (int p = 0; p < pages; ++p) {
            CmdTask t;
            t.source = src.first;
            t.page = job.allPages ? p : job.page;
            std::string pageSuffix = job.allPages && pages > 1 ? "-" + std::to_string(p + 1) : "";
            std::string base = withoutExtension(fileName(src.first)) + pageSuffix;
            if (destFolder) {
                t.destStem = withSlash(job.dest) + base;
            } else if (destPattern) {
                std::string name = sequenceName(job.dest, src.second);
                size_t slash = name.find_last_of('/');
                size_t dot = name.find_last_of('.');
                bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
                if (hasExt && pageSuffix.empty()) t.destExact = name;
                else t.destStem = (hasExt ? name.substr(0, dot) : name) + pageSuffix;
            } else if (destFile) {
                if (pageSuffix.empty()) {
                    t.destExact = job.dest;
                } else {
                    std::string d = withoutExtension(job.dest);
                    t.destExact = d + pageSuffix + job.dest.substr(d.size());
                }
            } else {
                t.destStem = folderOf(src.first) + base;
            }
            tasks.push_back(t);
        }
    }
    if (job.check) return tasks;  // nothing is written
    if (destFile && tasks.size() > 1 && !job.allPages) {
        for (size_t i = 1; i < tasks.size(); ++i) tasks[i].error = "-o names one file but there are several inputs";
    }
    // Two tasks must never write the same output: the later one is an error.
    std::set<std::string> claimed;
    for (CmdTask& t : tasks) {
        if (!t.error.empty()) continue;
        std::string key = canonical(t.destExact.empty() ? t.destStem : t.destExact);
        if (!claimed.insert(key).second) t.error = "would overwrite the output of an earlier file";
    }
    return tasks;
}

bool chooseConversion(int formatIndex, const Image* image, int* target, int* method) {
    const WriteVariant* v = nullptr;
    if (findWriteVariant(formatIndex, image, &v)) return false;
    const FormatRecord* r = formatRecord(formatIndex);
    bool colour = (image->kind & (IMG_TRUECOLOUR | IMG_PALETTE)) != 0;
    int bestScore = 1 << 30;
    for (int i = 0; r && i < MAX_WRITE_VARIANTS && r->modes[i].kindMask != WV_END; ++i) {
        const WriteVariant& m = r->modes[i];
        int score, t, me;
        if (m.kindMask & IMG_TRUECOLOUR) {
            score = 0;
            t = CT_TRUECOLOUR;
            me = DM_NONE;
        } else if (m.kindMask & IMG_PALETTE) {
            int limit = m.maxColours < 0 ? 256 : m.maxColours;
            static const int COUNTS[] = {256, 216, 128, 64, 32, 16, 8};
            static const int TARGETS[] = {CT_COLOURS256, CT_COLOURS216, CT_COLOURS128, CT_COLOURS64,
                                          CT_COLOURS32, CT_COLOURS16, CT_COLOURS8};
            int k = 0;
            while (k < 6 && COUNTS[k] > limit) ++k;
            if (COUNTS[k] > limit) continue;
            score = 10 + (256 - COUNTS[k]);
            t = TARGETS[k];
            me = DM_NONE;
        } else if (m.kindMask & IMG_GREY) {
            int limit = m.maxColours < 0 ? 256 : m.maxColours;
            static const int LEVELS[] = {256, 128, 64, 32, 16, 8, 4};
            static const int TARGETS[] = {CT_GREY256, CT_GREY128, CT_GREY64, CT_GREY32, CT_GREY16, CT_GREY8, CT_GREY4};
            int k = 0;
            while (k < 6 && LEVELS[k] > limit) ++k;
            if (LEVELS[k] > limit) continue;
            score = (colour ? 1000 : 10) + (256 - LEVELS[k]);
            t = TARGETS[k];
            me = LEVELS[k] < 256 ? DM_DIFFUSION : DM_NONE;
        } else if (m.kindMask & IMG_BINARY) {
            score = 5000;
            t = CT_BINARY;
            me = DM_DIFFUSION;
        } else {
            continue;
        }
        if (score < bestScore) {
            bestScore = score;
            *target = t;
            *method = me;
        }
    }
    return bestScore != (1 << 30);
}

namespace {

// Converts one task; returns true on success.
bool runTask(const CmdJob& job, const CmdTask& task) {
    if (!task.error.empty()) {
        report("kaleocmd: " + task.source + ": " + task.error);
        return false;
    }
    IoOptions lo = loadOptions(job, task.page);
    OwnedImage img;
    FileInfo fi;
    Status st = loadImage(task.source.c_str(), &img, &lo, &fi);
    if (st != ST_OK) {
        report("kaleocmd: " + task.source + ": " + statusText(st, fi.message));
        return false;
    }
    for (const OpInstance& op : job.ops) {
        st = runOp(&img, op);
        if (st != ST_OK) {
            const OpEntry* e = opEntry(op.index);
            report("kaleocmd: " + task.source + ": " + (e ? e->option : "?") + ": " + opStatusText(st));
            return false;
        }
    }
    if (job.check) {
        if (!job.quiet) {
            std::lock_guard<std::mutex> lock(g_printLock);
            printf("%s: %dx%d, %s\n", task.source.c_str(), img.width, img.height,
                   (img.kind & IMG_TRUECOLOUR) ? "true colour"
                   : img.kind == IMG_PALETTE    ? "palette"
                   : img.kind == IMG_GREY       ? "grey"
                                                : "black and white");
        }
        return true;
    }
    int target = 0, method = 0;
    if (chooseConversion(job.outFormat, &img, &target, &method)) {
        st = convertImage(&img, nullptr, target, method);
        if (st != ST_OK) {
            report("kaleocmd: " + task.source + ": Error converting picture !!");
            return false;
        }
    }
    const WriteVariant* variant = nullptr;
    if (!findWriteVariant(job.outFormat, &img, &variant)) {
        report("kaleocmd: " + task.source + ": " + statusText(ST_KIND_REFUSED, nullptr));
        return false;
    }
    std::string out = task.destExact;
    if (out.empty()) {
        const FormatRecord* r = formatRecord(job.outFormat);
        const char* ext = variant && variant->extension ? variant->extension : r->extensions[0];
        out = task.destStem + (ext ? std::string(".") + ext : "");
    }
    bool toStdout = out == "stdout";
    if (!toStdout && !job.overwrite && access(out.c_str(), F_OK) == 0) {
        report("kaleocmd: " + out + ": exists (use -overwrite to replace it)");
        return false;
    }
    IoOptions so = defaultIoOptions();
    so.formatIndex = static_cast<int16_t>(job.outFormat);
    so.flags = static_cast<uint16_t>(lo.flags & (OPT_VERBOSE | OPT_PROGRESS_BAR));
    clearWriterSlots(&so);
    if (job.compression >= 0) setWriterSlot(&so, WRITER_SLOT_COMPRESSION, static_cast<int16_t>(job.compression));
    if (job.quality >= 0) setWriterSlot(&so, WRITER_SLOT_QUALITY, static_cast<int16_t>(job.quality));
    if (job.interlace) setWriterSlot(&so, WRITER_SLOT_PROGRESSIVE, 1);
    char name[FILE_NAME_LEN];
    if (out.size() >= sizeof name) {
        report("kaleocmd: " + out + ": name too long");
        return false;
    }
    snprintf(name, sizeof name, "%s", out.c_str());
    st = saveImage(name, &img, &so);
    if (st != ST_OK) {
        report("kaleocmd: " + out + ": " + statusText(st, nullptr));
        return false;
    }
    if (!job.quiet && !toStdout) {
        std::lock_guard<std::mutex> lock(g_printLock);
        printf("%s -> %s\n", task.source.c_str(), out.c_str());
        fflush(stdout);
    }
    // The original goes only when it is not the file just written.
    if (job.deleteOriginal && task.source != "stdin" && !toStdout && !sameFile(task.source, out)) {
        if (unlink(task.source.c_str()) != 0) report("kaleocmd: " + task.source + ": cannot delete the original");
    }
    return true;
}

}  // namespace

int runTasks(const CmdJob& job, const std::vector<CmdTask>& tasks) {
    if (job.seedSet) setEffectSeed(job.seed);
    unsigned threads = job.threads > 0 ? static_cast<unsigned>(job.threads) : std::thread::hardware_concurrency();
    if (threads < 1) threads = 1;
    // Deleting originals, page splitting of one file and the progress bar stay on one thread.
    if (job.deleteOriginal || job.progress || job.verbose) threads = 1;
    if (threads > tasks.size()) threads = static_cast<unsigned>(tasks.size() ? tasks.size() : 1);
    std::vector<char> ok(tasks.size(), 0);
    std::atomic<size_t> next{0};
    auto worker = [&]() {
        for (size_t i; (i = next.fetch_add(1)) < tasks.size();) ok[i] = runTask(job, tasks[i]) ? 1 : 0;
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    int failures = 0;
    for (char c : ok) failures += !c;
    return failures;
}

void printFormatList() {
    for (int i = 0; i < formatCount(); ++i) {
        FormatInfo fi;
        if (getFormatInfo(i, &fi) != 0) continue;
        std::string exts;
        for (int e = 0; e < MAX_EXTENSIONS && fi.extensions[e][0]; ++e) exts += std::string(" ") + fi.extensions[e];
        printf("%3d %-8s %c%c %-36s%s\n", i, fi.shortName, fi.capabilities & CAP_READ ? 'r' : '-',
               fi.capabilities & CAP_WRITE ? 'w' : '-', fi.description, exts.c_str());
    }
}

int printFileInfo(const CmdJob& job) {
    int failures = 0;
    for (const std::string& f : job.sources) {
        FileInfo fi;
        Status st = readImageInfo(f.c_str(), job.inFormat, 0, &fi);
        if (st != ST_OK) {
            report(f + ": " + statusText(st, fi.message));
            ++failures;
            continue;
        }
        FormatInfo fmt;
        getFormatInfo(fi.formatIndex, &fmt);
        printf("%s: %s (%s) %dx%d, %d plane(s) of %d bit(s), %d page(s)\n", f.c_str(), fi.formatName, fmt.shortName,
               fi.width, fi.height, fi.planes, fi.bitsPerPlane, fi.pageCount);
    }
    return failures;
}
