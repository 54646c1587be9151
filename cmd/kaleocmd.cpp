// kaleocmd: converts image files with Kaleocore from the command line.
//
//   kaleocmd [-in FORMAT] [-out FORMAT] [-o DEST] [-v] [-progress] [-rle]
//            [-thumb WxH] [-truecolour] FILE...
//   kaleocmd -info FILE...      examine files without decoding them
//   kaleocmd -formats           list the formats
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaleocore.h"

namespace {

struct Job {
    int inFormat = -1;
    int outFormat = -1;
    std::string dest;
    uint16_t flags = 0;
    int16_t compression = 0;
    int32_t maxWidth = 0, maxHeight = 0;
    std::vector<std::string> files;
};

int usage() {
    fprintf(stderr,
            "usage: kaleocmd [-in FORMAT] [-out FORMAT] [-o DEST] [-v] [-progress] [-rle]\n"
            "                [-thumb WxH] [-truecolour] FILE...\n"
            "       kaleocmd -info FILE...\n"
            "       kaleocmd -formats\n");
    return 2;
}

int formatByName(const char* name) {
    int i = findFormat(name);
    if (i < 0) fprintf(stderr, "kaleocmd: unknown format \"%s\"\n", name);
    return i;
}

bool isFolder(const std::string& path) {
    struct stat sb;
    return (!path.empty() && path.back() == '/') || (stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode));
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void listFormats() {
    for (int i = 0; i < formatCount(); ++i) {
        FormatInfo fi;
        if (getFormatInfo(i, &fi) != 0) continue;
        std::string exts;
        for (int e = 0; e < MAX_EXTENSIONS && fi.extensions[e][0]; ++e) exts += std::string(" ") + fi.extensions[e];
        printf("%3d %-8s %c%c %-36s%s\n", i, fi.shortName, fi.capabilities & CAP_READ ? 'r' : '-',
               fi.capabilities & CAP_WRITE ? 'w' : '-', fi.description, exts.c_str());
    }
}

const char* statusText(Status st, const char* message) {
    if (st == ST_BAD_FILE && message && *message) return message;
    return statusName(st);
}

int showInfo(const std::vector<std::string>& files, int inFormat) {
    int failures = 0;
    for (const std::string& f : files) {
        FileInfo fi;
        Status st = readImageInfo(f.c_str(), inFormat, 0, &fi);
        if (st != ST_OK) {
            fprintf(stderr, "%s: %s\n", f.c_str(), statusText(st, fi.message));
            ++failures;
            continue;
        }
        FormatInfo fmt;
        getFormatInfo(fi.formatIndex, &fmt);
        printf("%s: %s (%s) %dx%d, %d plane(s) of %d bit(s), %d page(s)\n", f.c_str(), fi.formatName,
               fmt.shortName, fi.width, fi.height, fi.planes, fi.bitsPerPlane, fi.pageCount);
    }
    return failures ? 1 : 0;
}

std::string destinationFor(const Job& job, const std::string& source, const char* ext) {
    std::string base = baseName(source);
    size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    std::string name = base + "." + ext;
    if (job.dest.empty()) {
        size_t slash = source.find_last_of('/');
        return slash == std::string::npos ? name : source.substr(0, slash + 1) + name;
    }
    if (isFolder(job.dest)) return job.dest + (job.dest.back() == '/' ? "" : "/") + name;
    return job.dest;
}

int convert(const Job& job) {
    if (job.outFormat < 0) return usage();
    if (!job.dest.empty() && job.dest.back() == '/') {
        std::string mk = "mkdir -p '" + job.dest + "'";
        if (system(mk.c_str()) != 0) return 1;
    }
    int failures = 0;
    for (const std::string& f : job.files) {
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(job.inFormat);
        o.flags = job.flags;
        o.maxWidth = job.maxWidth;
        o.maxHeight = job.maxHeight;
        OwnedImage img;
        FileInfo fi;
        Status st = loadImage(f.c_str(), &img, &o, &fi);
        if (st != ST_OK) {
            fprintf(stderr, "kaleocmd: %s: %s\n", f.c_str(), statusText(st, fi.message));
            ++failures;
            continue;
        }
        const FormatRecord* rec = formatRecord(job.outFormat);
        const WriteVariant* variant = nullptr;
        findWriteVariant(job.outFormat, &img, &variant);
        const char* ext = variant && variant->extension ? variant->extension
                          : rec->extensions[0]          ? rec->extensions[0]
                                                        : "out";
        char out[FILE_NAME_LEN];
        snprintf(out, sizeof out, "%s", destinationFor(job, f, ext).c_str());
        IoOptions so = defaultIoOptions();
        so.formatIndex = static_cast<int16_t>(job.outFormat);
        so.flags = static_cast<uint16_t>(job.flags & (OPT_VERBOSE | OPT_PROGRESS_BAR));
        so.writerOption1 = job.compression;
        st = saveImage(out, &img, &so);
        if (st != ST_OK) {
            fprintf(stderr, "kaleocmd: %s: %s\n", out, statusName(st));
            ++failures;
            continue;
        }
        if (strcmp(out, "stdout") != 0) printf("%s -> %s\n", f.c_str(), out);
    }
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    Job job;
    bool info = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "-formats") {
            listFormats();
            return 0;
        } else if (a == "-info") {
            info = true;
        } else if (a == "-in" && more) {
            if ((job.inFormat = formatByName(argv[++i])) < 0) return 2;
        } else if (a == "-out" && more) {
            if ((job.outFormat = formatByName(argv[++i])) < 0) return 2;
        } else if (a == "-o" && more) {
            job.dest = argv[++i];
        } else if (a == "-v") {
            job.flags |= OPT_VERBOSE;
        } else if (a == "-progress") {
            job.flags |= OPT_PROGRESS_BAR;
        } else if (a == "-truecolour") {
            job.flags |= OPT_TRUECOLOUR;
        } else if (a == "-rle") {
            job.compression = 1;
        } else if (a == "-thumb" && more) {
            if (sscanf(argv[++i], "%dx%d", &job.maxWidth, &job.maxHeight) != 2 || job.maxWidth < 1 ||
                job.maxHeight < 1)
                return usage();
        } else if (!a.empty() && a[0] == '-' && a != "-" && a != "stdin") {
            return usage();
        } else {
            job.files.push_back(a);
        }
    }
    if (job.files.empty()) return usage();
    return info ? showInfo(job.files, job.inFormat) : convert(job);
}
