#include "batchlogic.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "browselogic.h"
#include "dither.h"
#include "geometry.h"
#include "writeoptions.h"

// ---- Numbered names ----

namespace {

// Where a pattern without "#" takes its number: before the extension of its name.
size_t numberPlace(const std::string& pattern) {
    size_t slash = pattern.find_last_of("\\/");
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = pattern.find_last_of('.');
    return dot != std::string::npos && dot > start ? dot : pattern.size();
}

}  // namespace

std::string sequenceFileName(const std::string& pattern, int number) {
    size_t first = pattern.find('#');
    if (first == std::string::npos) {
        size_t at = numberPlace(pattern);
        return pattern.substr(0, at) + std::to_string(number) + pattern.substr(at);
    }
    size_t end = first;
    while (end < pattern.size() && pattern[end] == '#') ++end;
    char digits[64];
    snprintf(digits, sizeof digits, "%0*d", static_cast<int>(end - first < 40 ? end - first : 40), number);
    return pattern.substr(0, first) + digits + pattern.substr(end);
}

std::string markedPattern(const std::string& pattern) {
    if (pattern.find('#') != std::string::npos) return pattern;
    size_t at = numberPlace(pattern);
    return pattern.substr(0, at) + "#" + pattern.substr(at);
}

// ---- Destinations ----

std::string withSeparator(const std::string& folder) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder;
    return folder + "\\";
}

std::string folderOfPath(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string nameOfPath(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string nameWithoutExtension(const std::string& name) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return name;
    if (name.find_first_not_of("0123456789", dot + 1) == std::string::npos) return name;
    return name.substr(0, dot);
}

std::string replaceExtension(const std::string& path, const char* ext) {
    std::string folder = folderOfPath(path);
    std::string stem = folder + nameWithoutExtension(nameOfPath(path));
    return ext && *ext ? stem + "." + ext : stem;
}

const char* outputExtension(int formatIndex, const Image* image) {
    const FormatRecord* r = formatRecord(formatIndex);
    if (!r) return nullptr;
    const WriteVariant* v = nullptr;
    if (image && findWriteVariant(formatIndex, image, &v) && v && v->extension) return v->extension;
    return r->extensions[0];
}

size_t longestOutputExtension(int formatIndex) {
    const FormatRecord* r = formatRecord(formatIndex);
    if (!r) return 0;
    size_t longest = r->extensions[0] ? strlen(r->extensions[0]) + 1 : 0;
    for (int m = 0; m < MAX_WRITE_VARIANTS && r->modes[m].kindMask != WV_END; ++m)
        if (r->modes[m].extension && strlen(r->modes[m].extension) + 1 > longest)
            longest = strlen(r->modes[m].extension) + 1;
    return longest;
}

std::vector<BatchItem> planMultiple(const std::vector<std::string>& sources, const std::string& destFolder,
                                    int formatIndex) {
    std::vector<BatchItem> items;
    const size_t extension = longestOutputExtension(formatIndex);
    std::map<std::string, int> inputs;   // comparable source path -> position
    for (size_t i = 0; i < sources.size(); ++i) inputs.emplace(comparablePath(sources[i]), static_cast<int>(i));
    std::map<std::string, int> claimed;  // comparable destination stem -> position
    const FormatRecord* r = formatRecord(formatIndex);
    for (size_t i = 0; i < sources.size(); ++i) {
        BatchItem item;
        item.source = sources[i];
        std::string folder = destFolder.empty() ? folderOfPath(sources[i]) : withSeparator(destFolder);
        item.stem = folder + nameWithoutExtension(nameOfPath(sources[i]));
        if (item.stem.size() + extension > BATCH_MAX_PATH) item.refusal = BATCH_NAME_TOO_LONG;
        // An output name that is another file of the run would replace it.
        for (int e = -1; item.refusal == BATCH_GO && r && e < MAX_WRITE_VARIANTS; ++e) {
            const char* ext = e < 0 ? r->extensions[0] : nullptr;
            if (e >= 0) {
                if (r->modes[e].kindMask == WV_END) break;
                ext = r->modes[e].extension;
            }
            if (!ext) continue;
            auto other = inputs.find(comparablePath(item.stem + "." + ext));
            if (other != inputs.end() && other->second != static_cast<int>(i)) {
                item.refusal = BATCH_REPLACES_INPUT;
                item.earlier = other->second;
            }
        }
        // Two files of the run never write one name: the later one is refused.
        if (item.refusal == BATCH_GO) {
            auto seen = claimed.emplace(comparablePath(item.stem), static_cast<int>(i));
            if (!seen.second) {
                item.refusal = BATCH_SAME_OUTPUT;
                item.earlier = seen.first->second;
            }
        }
        items.push_back(item);
    }
    return items;
}

bool sameOriginal(const std::string& windowsA, const std::string& windowsB, const std::string& unixA,
                  const std::string& unixB) {
    if (!windowsA.empty() && samePath(windowsA, windowsB)) return true;
    if (unixA.empty() || unixB.empty()) return false;
    if (strcasecmp(unixA.c_str(), unixB.c_str()) == 0) return true;
    struct stat a, b;
    return stat(unixA.c_str(), &a) == 0 && stat(unixB.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// ---- Conversion codes ----

bool codeFitsFormat(int formatIndex, int code) {
    const Conversion* c = conversionByCode(code);
    const FormatRecord* r = formatRecord(formatIndex);
    if (!c || !r) return false;
    int levels = targetLevels(c->target);
    for (int i = 0; i < MAX_WRITE_VARIANTS; ++i) {
        const WriteVariant& v = r->modes[i];
        if (v.kindMask == WV_END) return i == 0;
        bool fits;
        if (c->target == CT_TRUECOLOUR) fits = (v.kindMask & IMG_TRUECOLOUR) != 0;
        else if (c->target == CT_BINARY) fits = (v.kindMask & IMG_BINARY) != 0;
        else if (c->target >= CT_COLOURS8) fits = (v.kindMask & IMG_PALETTE) != 0;
        else fits = (v.kindMask & IMG_GREY) != 0;
        if (fits && c->target != CT_TRUECOLOUR && c->target != CT_BINARY && v.maxColours != -1 &&
            v.maxColours < levels)
            fits = false;
        if (fits) return true;
    }
    return false;
}

int automaticCode(int formatIndex, const Image* image) {
    const WriteVariant* found = nullptr;
    if (!image || findWriteVariant(formatIndex, image, &found)) return 0;
    const FormatRecord* r = formatRecord(formatIndex);
    const bool colour = (image->kind & (IMG_TRUECOLOUR | IMG_PALETTE)) != 0;
    static const int COUNTS[] = {256, 216, 128, 64, 32, 16, 8};
    static const int COLOUR_CODES[] = {24, 23, 22, 21, 20, 19, 18};
    static const int GREY_CODES[] = {11, 10, 9, 8, 7, 6, 5};  // 256 ... 4 levels
    int best = 1 << 30, code = 0;
    for (int i = 0; r && i < MAX_WRITE_VARIANTS && r->modes[i].kindMask != WV_END; ++i) {
        const WriteVariant& m = r->modes[i];
        int score, c;
        int limit = m.maxColours < 0 ? 256 : m.maxColours;
        int k = 0;
        if (m.kindMask & IMG_TRUECOLOUR) {
            score = 0;
            c = 32;
        } else if (m.kindMask & IMG_PALETTE) {
            while (k < 6 && COUNTS[k] > limit) ++k;
            if (COUNTS[k] > limit) continue;
            score = 10 + (256 - COUNTS[k]);
            c = COLOUR_CODES[k];
        } else if (m.kindMask & IMG_GREY) {
            static const int LEVELS[] = {256, 128, 64, 32, 16, 8, 4};
            while (k < 6 && LEVELS[k] > limit) ++k;
            if (LEVELS[k] > limit) continue;
            score = (colour ? 1000 : 10) + (256 - LEVELS[k]);
            c = GREY_CODES[k];
        } else if (m.kindMask & IMG_BINARY) {
            score = 5000;
            c = 2;  // Floyd-Steinberg
        } else {
            continue;
        }
        if (score < best) {
            best = score;
            code = c;
        }
    }
    return code;
}

// ---- Converting one file ----

namespace {

// Creates an empty private file in folder to write into, open; null when none can be made.
FILE* makeTemporary(const std::string& folder, std::string* path) {
    std::string pattern = (folder.empty() ? std::string("./") : folder) + ".kaleos-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return nullptr;
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    *path = name.data();
    FILE* f = fdopen(fd, "w+b");
    if (!f) close(fd);
    return f;
}

bool existsAsAnything(const std::string& path) {
    struct stat sb;
    return lstat(path.c_str(), &sb) == 0;
}

}  // namespace

BatchResult convertBatchFile(const BatchFile& file) {
    BatchResult result;
    OwnedImage img;
    FileInfo info{};
    IoOptions load = file.load;
    Status st = loadImage(file.source.c_str(), &img, &load, &info);
    if (st != ST_OK) {
        result.step = st == ST_STOPPED ? STEP_CANCELLED : STEP_LOAD_FAILED;
        result.status = st;
        result.readerMessage = info.message;
        return result;
    }
    if (file.ops) {
        for (const OpInstance& op : *file.ops) {
            st = runOp(&img, op);
            if (st != ST_OK) {
                result.step = STEP_OP_FAILED;
                result.status = st;
                return result;
            }
        }
    }
    const WriteVariant* variant = nullptr;
    if (!findWriteVariant(file.formatIndex, &img, &variant)) {
        int code = file.choose ? file.choose(file.chooseDatum, &img) : automaticCode(file.formatIndex, &img);
        if (code < 1 || code > CONVERSION_COUNT) {
            result.step = STEP_CANCELLED;
            result.status = ST_STOPPED;
            return result;
        }
        result.code = code;
        st = convertWithCode(&img, nullptr, code);
        if (st != ST_OK || !findWriteVariant(file.formatIndex, &img, &variant)) {
            result.step = STEP_CONVERT_FAILED;
            result.status = st != ST_OK ? st : ST_KIND_REFUSED;
            return result;
        }
    }
    if (variant && variant->width > 0 && variant->height > 0 &&
        (img.width != variant->width || img.height != variant->height)) {
        st = resizeImage(&img, nullptr, variant->width, variant->height, RESAMPLE_AREA);
        if (st != ST_OK) {
            result.step = STEP_CONVERT_FAILED;
            result.status = st;
            return result;
        }
    }
    const FormatRecord* r = formatRecord(file.formatIndex);
    const char* ext = variant && variant->extension ? variant->extension : r->extensions[0];
    result.output = file.stem + (ext ? std::string(".") + ext : "");
    const bool ownSource = sameOriginal("", "", file.source, result.output);
    if (!file.replaceExisting && !ownSource && existsAsAnything(result.output)) {
        result.step = STEP_EXISTS;
        result.status = ST_WRITE_ERROR;
        return result;
    }
    std::string temp;
    FILE* stream = result.output.size() < FILE_NAME_LEN ? makeTemporary(folderOfPath(result.output), &temp) : nullptr;
    if (!stream) {
        result.step = STEP_SAVE_FAILED;
        result.status = ST_CANNOT_OPEN;
        return result;
    }
    IoOptions save = file.save;
    save.formatIndex = static_cast<int16_t>(file.formatIndex);
    save.flags = 0;
    // The file records its own name, not the temporary one.
    st = saveImageToStream(stream, result.output.c_str(), &img, &save);
    if (fclose(stream) != 0 && st == ST_OK) st = ST_WRITE_ERROR;
    if (st != ST_OK) {
        unlink(temp.c_str());
        result.step = st == ST_STOPPED ? STEP_CANCELLED : STEP_SAVE_FAILED;
        result.status = st;
        return result;
    }
    // Into place: without leave to replace, a name that appeared meanwhile stays.
    bool placed;
    if (file.replaceExisting || ownSource) {
        placed = rename(temp.c_str(), result.output.c_str()) == 0;
    } else {
        placed = link(temp.c_str(), result.output.c_str()) == 0;
        if (!placed && errno != EEXIST) placed = !existsAsAnything(result.output) &&
                                                 rename(temp.c_str(), result.output.c_str()) == 0;
        if (placed) unlink(temp.c_str());
        else if (errno == EEXIST || existsAsAnything(result.output)) {
            unlink(temp.c_str());
            result.step = STEP_EXISTS;
            result.status = ST_WRITE_ERROR;
            return result;
        }
    }
    if (!placed) {
        unlink(temp.c_str());
        result.step = STEP_SAVE_FAILED;
        result.status = ST_WRITE_ERROR;
        return result;
    }
    if (file.deleteOriginal && !sameOriginal("", "", file.source, result.output))
        result.deleteFailed = unlink(file.source.c_str()) != 0;
    return result;
}

// ---- Script export ----

void scriptWriterSwitches(const IoOptions& save, ScriptJob* job) {
    job->compression = job->quality = job->progressive = -1;
    const FormatRecord* r = formatRecord(job->outFormat);
    if (!r) return;
    if (findWriterOption(r->shortName, WRITER_SLOT_COMPRESSION))
        job->compression = writerSlotValue(save, WRITER_SLOT_COMPRESSION);
    if (findWriterOption(r->shortName, WRITER_SLOT_QUALITY)) job->quality = writerSlotValue(save, WRITER_SLOT_QUALITY);
    if (findWriterOption(r->shortName, WRITER_SLOT_PROGRESSIVE))
        job->progressive = writerSlotValue(save, WRITER_SLOT_PROGRESSIVE);
}

std::string exportScript(const ScriptJob& job) {
    if (job.sources.empty()) return "";
    static const char* const CTYPES[] = {"grey", "rgb", "bgr", "rgba", "abgr", "cmy", "cmyk"};
    static const char* const CORDERS[] = {"inter", "seq", "sep"};
    std::string s = "kaleocmd ";
    auto item = [&s](const std::string& t) { s += t + " "; };
    if (job.pcdBase) item("-npcd " + std::to_string(job.pcdBase));
    item("-size " + std::to_string(job.rawWidth) + "x" + std::to_string(job.rawHeight) + "+" +
         std::to_string(job.rawOffset));
    item(std::string("-ctype ") + CTYPES[job.channelType >= 0 && job.channelType < 7 ? job.channelType : 1]);
    item(std::string("-corder ") + CORDERS[job.channelOrder >= 0 && job.channelOrder < 3 ? job.channelOrder : 0]);
    if (job.sequence) {
        const FormatRecord* in = formatRecord(job.inFormat);
        if (in) item(std::string("-in ") + in->shortName);
        item("-n " + std::to_string(job.seqStart) + " " + std::to_string(job.seqEnd) + " " +
             std::to_string(job.seqStep));
    }
    const FormatRecord* out = formatRecord(job.outFormat);
    if (out) item(std::string("-out ") + out->shortName);
    // The writer switches and the conversion code of the viewer's save, so
    // that the script writes what the dialog writes.
    if (job.compression >= 0) item("-c " + std::to_string(job.compression));
    if (job.quality >= 0) item("-q " + std::to_string(job.quality));
    if (job.progressive > 0) item("-i");
    if (job.conversionCode > 0) item("-conv " + std::to_string(job.conversionCode));
    if (job.deleteOriginal) item("-D");
    if (!job.dest.empty()) item("-o " + scriptWord(job.dest));
    std::string ops = scriptOperations(job.ops);
    if (!ops.empty()) item(ops);
    bool dashed = false;
    for (const std::string& src : job.sources) dashed = dashed || (!src.empty() && src[0] == '-');
    if (dashed) item("--");
    for (const std::string& src : job.sources) item(scriptWord(src));
    s.back() = '\n';
    return s;
}
