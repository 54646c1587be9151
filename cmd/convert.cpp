#include "convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "dither.h"
#include "effects.h"
#include "files.h"
#include "follow.h"
#include "geometry.h"
#include "opsupport.h"
#include "optable.h"
#include "stream.h"
#include "writeoptions.h"

namespace {

const char* statusText(Status st, const char* message) {
    if (st == ST_BAD_FILE && message && *message) return message;
    switch (st) {
    case ST_NO_MEMORY: return "not enough memory (or more pixels than the limit)";
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

// What became of one task.
struct Outcome {
    bool ok = false;
    bool skipped = false;      // -resume: the output was up to date
    int status = ST_OK;        // a library status (ST_WRITE_ERROR for refused outputs)
    std::string message;       // the reason of a failure
    std::string output;
    std::string info;          // -check: what the decoded picture is
    std::vector<std::string> warnings;  // the library's, about this file
    long ms = 0;
};

// Collects the library's warnings about the file a worker is converting.
void collectWarning(const char*, const char* message, void* datum) {
    static_cast<std::vector<std::string>*>(datum)->push_back(message);
}

// Per-file lines leave in input order, whatever thread finished first.
struct OrderedLog {
    std::mutex lock;
    std::condition_variable moved;
    uint64_t next = 0;
    std::map<uint64_t, std::pair<std::string, std::string>> waiting;  // index -> (stderr, stdout)

    // A worker may run at most this far ahead of the oldest line not yet out.
    void waitForRoom(uint64_t index, uint64_t window) {
        std::unique_lock<std::mutex> g(lock);
        moved.wait(g, [&] { return index < next + window; });
    }
    void put(uint64_t index, std::string err, std::string out) {
        std::lock_guard<std::mutex> g(lock);
        waiting[index] = {std::move(err), std::move(out)};
        for (auto it = waiting.find(next); it != waiting.end(); it = waiting.find(next)) {
            fputs(it->second.first.c_str(), stderr);
            fputs(it->second.second.c_str(), stdout);
            waiting.erase(it);
            ++next;
        }
        fflush(stdout);
        fflush(stderr);
        moved.notify_all();
    }
};

std::mutex g_stdoutLock;  // a picture written to standard output goes out whole

// The bar of one big picture, redrawn on a terminal as its rows go by.
struct Bar {
    std::string name;
    int shown = -1;
};

int drawBar(int32_t row, int32_t total, void* datum) {
    Bar* bar = static_cast<Bar*>(datum);
    if (total < 1024) return 0;
    int step = static_cast<int>(int64_t(row + 1) * 40 / total);
    if (step == bar->shown) return 0;
    bar->shown = step;
    fprintf(stderr, "\r%s [%-40s] %d/%d rows", bar->name.c_str(), std::string(step, '#').c_str(), row + 1, total);
    if (row + 1 >= total) fputs("\r\033[K", stderr);
    fflush(stderr);
    return 0;
}

// Stream buffers of kaleocmd's files: the runtime's 4 KiB made one system call
// per row of a large picture. Seeks within the buffer keep it, so readers that
// jump around pay at most one refill of this size per jump.
constexpr int32_t READ_BUFFER_BYTES = 128 << 10;
constexpr size_t WRITE_BUFFER_BYTES = 256 << 10;

IoOptions loadOptions(const CmdJob& job, int page) {
    IoOptions o = defaultIoOptions();
    o.streamBufferSize = READ_BUFFER_BYTES;
    o.formatIndex = static_cast<int16_t>(job.inFormat);
    o.pageIndex = page;
    o.rawWidth = job.rawWidth;
    o.rawHeight = job.rawHeight;
    o.rawOffset = job.rawOffset;
    o.rawParameter = job.channelOrder;
    o.rawLayout = job.channelType;
    o.readerParameter1 = job.pcdBase;
    if (job.verbose) o.flags |= OPT_VERBOSE;
    return o;
}

const char* kindName(const Image& img) {
    return (img.kind & IMG_TRUECOLOUR) ? "true colour"
           : img.kind == IMG_PALETTE   ? "palette"
           : img.kind == IMG_GREY      ? "grey"
                                       : "black and white";
}

Outcome fail(int status, const std::string& message) {
    Outcome o;
    o.status = status;
    o.message = message;
    return o;
}

// The size a picture of width x height takes to fit in w x h (never larger),
// as a bounded load gives it.
void fitInside(int64_t width, int64_t height, int64_t w, int64_t h, int32_t* outW, int32_t* outH) {
    int64_t ow = width, oh = height;
    if (w < width || h < height) {
        ow = w;
        oh = w * height / width;
        if (oh > h) {
            oh = h;
            ow = h * width / height;
        }
    }
    *outW = static_cast<int32_t>(ow < 1 ? 1 : ow);
    *outH = static_cast<int32_t>(oh < 1 ? 1 : oh);
}

// A JPEG decodes at a reduced scale when its load is bounded: a thumbnail of it
// loads bounded to eight times its size (each pixel then already the average
// of its block) and the Lanczos filter makes the last step. Other readers
// shrink a bounded load by keeping one pixel in n, which aliases: their
// thumbnails load whole and are filtered from the full picture.
bool thumbnailLoadsBounded(const CmdJob& job, const CmdTask& task) {
    if (task.source == "-") return true;
    FileInfo info{};
    return readImageInfo(task.source.c_str(), job.inFormat, 0, &info) == ST_OK && info.formatIndex == findFormat("jpeg");
}

Status finishThumbnail(Image* img, const FileInfo& fi, int32_t w, int32_t h) {
    const int64_t fullW = fi.width > 0 ? fi.width : img->width;
    const int64_t fullH = fi.height > 0 ? fi.height : img->height;
    int32_t tw, th;
    fitInside(fullW, fullH, w, h, &tw, &th);
    if (img->width <= tw && img->height <= th) return ST_OK;
    return resizeSmooth(img, nullptr, tw, th);
}

// Where one task's output goes, and the temporary file it is written to first.
struct Destination {
    std::string out;
    std::string temp;
    bool toStdout = false;
};

// Names the output, checks that it may be written and creates its temporary file.
Outcome prepareOutput(const CmdJob& job, const CmdTask& task, const WriteVariant* variant, Destination* d) {
    Outcome o;
    o.output = task.destExact;
    if (o.output.empty()) {
        const FormatRecord* r = formatRecord(job.outFormat);
        const char* ext = variant && variant->extension ? variant->extension : r->extensions[0];
        o.output = task.destStem + (ext ? std::string(".") + ext : "");
    }
    const std::string& out = o.output;
    const bool toStdout = out == "-";
    if (!toStdout) {
        if (task.source != "-" && sameFile(task.source, out))
            return fail(ST_WRITE_ERROR, "the output " + out + " is the input itself");
        if (!job.overwrite && pathExists(out))
            return fail(ST_WRITE_ERROR, "cannot write " + out + ": it exists (use -overwrite to replace it)");
    }
    std::string folder;
    if (toStdout) {
        const char* t = getenv("TMPDIR");
        folder = t && *t ? std::string(t) : "/tmp";
        if (folder.back() != '/') folder += '/';
    } else {
        size_t slash = out.find_last_of('/');
        folder = slash == std::string::npos ? "" : out.substr(0, slash + 1);
        std::string why;
        if (!makeFolders(folder, &why)) return fail(ST_WRITE_ERROR, "cannot create the folder " + folder + ": " + why);
    }
    std::string why;
    if (!createTemporary(folder, &d->temp, &why))
        return fail(ST_WRITE_ERROR, "cannot write " + (toStdout ? std::string("standard output") : out) + ": " + why);
    if (d->temp.size() >= FILE_NAME_LEN) {
        releaseTemporary(d->temp, true);
        return fail(ST_WRITE_ERROR, "cannot write " + out + ": name too long");
    }
    d->out = out;
    d->toStdout = toStdout;
    o.ok = true;
    return o;
}

// Writes the picture to the destination's temporary file (released on failure).
Outcome writeOutput(const CmdJob& job, const Destination& d, Image* img, uint16_t turn = 0) {
    IoOptions so = defaultIoOptions();
    so.formatIndex = static_cast<int16_t>(job.outFormat);
    so.flags = static_cast<uint16_t>((job.verbose ? OPT_VERBOSE : 0) | turn);
    clearWriterSlots(&so);
    if (job.compression >= 0) setWriterSlot(&so, WRITER_SLOT_COMPRESSION, static_cast<int16_t>(job.compression));
    // Without -q the format's own default quality (PNG: zlib's default level).
    const WriterOption* quality = findWriterOption(formatRecord(job.outFormat)->shortName, WRITER_SLOT_QUALITY);
    if (job.quality >= 0) setWriterSlot(&so, WRITER_SLOT_QUALITY, static_cast<int16_t>(job.quality));
    else if (quality) setWriterSlot(&so, WRITER_SLOT_QUALITY, quality->defaultValue);
    if (job.interlace) setWriterSlot(&so, WRITER_SLOT_PROGRESSIVE, 1);
    char name[FILE_NAME_LEN];
    snprintf(name, sizeof name, "%s", d.temp.c_str());
    errno = 0;
    Status st;
    if (d.toStdout) {
        st = saveImage(name, img, &so);
    } else {
        // The file records its output name, not the temporary one.
        FILE* f = fopen(d.temp.c_str(), "w+b");
        streamOfOneThread(f);  // the save's alone, on one thread at a time
        std::unique_ptr<char[]> buffer(f ? new (std::nothrow) char[WRITE_BUFFER_BYTES] : nullptr);
        if (buffer) setvbuf(f, buffer.get(), _IOFBF, WRITE_BUFFER_BYTES);
        st = f ? saveImageToStream(f, d.out.c_str(), img, &so) : ST_CANNOT_OPEN;
        if (f && fclose(f) != 0 && st == ST_OK) st = ST_WRITE_ERROR;
    }
    const int saveErrno = errno;
    if (st != ST_OK) {
        releaseTemporary(d.temp, true);
        std::string reason = st == ST_WRITE_ERROR && saveErrno ? systemReason(saveErrno) : statusText(st, nullptr);
        return fail(st, "cannot write " + d.out + ": " + reason);
    }
    Outcome o;
    o.ok = true;
    return o;
}

// Puts the written temporary file in its place (or copies it to standard
// output), then deletes the original when asked.
Outcome commitDestination(const CmdJob& job, const CmdTask& task, const Destination& d) {
    Outcome o;
    o.output = d.out;
    std::string why;
    if (d.toStdout) {
        std::lock_guard<std::mutex> g(g_stdoutLock);
        bool copied = copyToStdout(d.temp, &why);
        releaseTemporary(d.temp, true);
        if (!copied) return fail(ST_WRITE_ERROR, "cannot write standard output: " + why);
        o.ok = true;
        return o;
    }
    const std::string& out = d.out;
    CommitResult c = commitOutput(d.temp, out, job.overwrite, job.deleteOriginal, &why);
    releaseTemporary(d.temp, c != COMMIT_DONE);
    if (c == COMMIT_EXISTS) return fail(ST_WRITE_ERROR, "cannot write " + out + ": it exists (use -overwrite to replace it)");
    if (c == COMMIT_FAILED) return fail(ST_WRITE_ERROR, "cannot write " + out + ": " + why);
    o.ok = true;
    // The original goes only once its output is complete, and never when it is the output.
    const bool fromStdin = task.source == "-";
    if (job.deleteOriginal && !fromStdin && !sameFile(task.source, out) && unlink(task.source.c_str()) != 0)
        o.message = "cannot delete the original: " + systemReason(errno);
    return o;
}

// A picture loaded to be written as it is (no operation, no conversion, no
// resizing) may be written beside its load. The save then runs on its own
// thread; whatever stops it (a picture the format does not take as it is, a
// failed load, a write error) leaves the task to the ordinary path.
struct BesideSave {
    const CmdJob& job;
    const CmdTask& task;
    Destination dest;
    std::vector<std::string> warnings;
    bool prepared = false;

    bool operator()(Image* picture) {
        const WriteVariant* variant = nullptr;
        if (!findWriteVariant(job.outFormat, picture, &variant)) return false;
        if (variant && variant->width > 0 && variant->height > 0 &&
            (picture->width != variant->width || picture->height != variant->height))
            return false;
        if (!prepareOutput(job, task, variant, &dest).ok) return false;
        prepared = true;
        setWarningHandler(collectWarning, &warnings);
        const bool ok = writeOutput(job, dest, picture).ok;
        setWarningHandler(nullptr, nullptr);
        prepared = ok;  // a failed write released its file
        return ok;
    }
};

bool writesBeside(const CmdJob& job, bool follow) {
    return follow && !job.check && job.ops.empty() && !(job.thumbWidth > 0 && job.thumbHeight > 0) && !job.verbose;
}

// The save flag of an operation that is a quarter turn, 0 for any other.
uint16_t quarterTurn(const OpInstance& op) {
    const OpEntry* e = opEntry(op.index);
    if (!e || e->run != opRotate || !opInstanceValid(op)) return 0;
    const int a = ((op.ints[0] % 360) + 360) % 360;
    return a == 90 ? OPT_TURN_RIGHT : a == 270 ? OPT_TURN_LEFT : 0;
}

// The save flag of a quarter turn that ends the operations (0 when they end
// otherwise, or when the turn would refuse the picture).
uint16_t savedTurn(const std::vector<OpInstance>& ops, const Image* img) {
    return ops.empty() || !opImageValid(img) ? 0 : quarterTurn(ops.back());
}

// Whether the turned picture goes to the output as it is: no conversion to
// what the format takes, no resizing to a fixed size of the format.
bool turnFitsOutput(const CmdJob& job, const Image& img, uint16_t turn) {
    if (!turn) return false;
    Image turned = quarterTurnedShape(img);
    int target = 0, method = 0;
    if (chooseConversion(job.outFormat, &turned, &target, &method)) return false;
    const WriteVariant* variant = nullptr;
    return findWriteVariant(job.outFormat, &turned, &variant) && !(variant && variant->width > 0 && variant->height > 0);
}

// Runs the operation on the picture; a failure gives the outcome naming it.
bool applyOp(Image* img, const OpInstance& op, Outcome* failed) {
    const Status st = runOp(img, op);
    if (st == ST_OK) return true;
    const OpEntry* e = opEntry(op.index);
    *failed = fail(st, std::string(e ? e->option : "?") + ": " + opStatusText(st));
    return false;
}

Outcome writeConverted(const CmdJob& job, const CmdTask& task, OwnedImage* picture, uint16_t turn);

// Loads, applies the operations, converts and writes one task.
Outcome convertOne(const CmdJob& job, const CmdTask& task, Bar* bar, bool follow) {
    if (!task.error.empty()) return fail(ST_WRITE_ERROR, task.error);
    const bool fromStdin = task.source == "-";
    if (job.resume && !job.check && !fromStdin) {
        int64_t input = modifiedNs(task.source);
        for (const std::string& c : outputCandidates(job, task)) {
            if (c == "-" || input < 0 || modifiedNs(c) <= input) continue;
            Outcome o;
            o.ok = o.skipped = true;
            o.output = c;
            return o;
        }
    }
    IoOptions lo = loadOptions(job, task.page);
    // A picture stored plain is taken from its file's pages rather than copied
    // when nothing writes to it: a task lasts only while its output is
    // written, and a page written would be copied then, one fault at a time.
    if (job.ops.empty() || (job.ops.size() == 1 && quarterTurn(job.ops[0])))
        lo.flags |= OPT_MAP_FILE;
    if (job.thumbWidth > 0 && job.thumbHeight > 0 && thumbnailLoadsBounded(job, task)) {
        lo.maxWidth = job.thumbWidth * 8;
        lo.maxHeight = job.thumbHeight * 8;
    }
    if (bar) {
        lo.progressCallback = drawBar;
        lo.callbackDatum = bar;
    }
    OwnedImage img;
    FileInfo fi{};
    Status st;
    BesideSave besideSave{job, task, {}, {}, false};
    std::unique_ptr<SaveBeside> beside;
    if (writesBeside(job, follow)) {
        beside.reset(new SaveBeside([&besideSave](Image* picture) { return besideSave(picture); }));
        beside->attach();
    }
    if (fromStdin) {
        int64_t size = 0;
        std::string why;
        std::unique_ptr<FILE, int (*)(FILE*)> in(bufferStdin(&size, &why), fclose);
        if (!in) return fail(ST_READ_ERROR, "cannot read standard input: " + why);
        st = loadImageFromStream(in.get(), "stdin", size, &img, &lo, &fi);
    } else {
        int fd = open(task.source.c_str(), O_RDONLY);
        if (fd < 0) return fail(ST_CANNOT_OPEN, std::string("cannot open the file: ") + systemReason(errno));
        close(fd);
        if (isFolder(task.source)) return fail(ST_CANNOT_OPEN, "is a folder");
        if (task.page > 0) {
            FileInfo pi{};
            if (readImageInfo(task.source.c_str(), job.inFormat, 0, &pi) == ST_OK && task.page >= pi.pageCount)
                return fail(ST_BAD_FILE, "page " + std::to_string(task.page) + " does not exist: the file has " +
                                             std::to_string(pi.pageCount) + " page(s), 0 to " +
                                             std::to_string(pi.pageCount - 1));
        }
        st = loadImage(task.source.c_str(), &img, &lo, &fi);
    }
    if (beside) {
        if (beside->finish(st, img)) {
            Outcome o = commitDestination(job, task, besideSave.dest);
            o.warnings = std::move(besideSave.warnings);
            return o;
        }
        if (besideSave.prepared) releaseTemporary(besideSave.dest.temp, true);
    }
    if (st != ST_OK) return fail(st, statusText(st, fi.message));
    if (job.thumbWidth > 0 && job.thumbHeight > 0) {
        st = finishThumbnail(&img, fi, job.thumbWidth, job.thumbHeight);
        if (st != ST_OK) return fail(st, std::string("-thumb: ") + opStatusText(st));
    }
    // A quarter turn that ends the operations is made by the save, when the
    // picture goes to the file as it is: no turned copy of the whole picture.
    uint16_t turn = job.check ? 0 : savedTurn(job.ops, &img);
    Outcome failed;
    for (size_t i = 0; i < job.ops.size() - (turn ? 1 : 0); ++i)
        if (!applyOp(&img, job.ops[i], &failed)) return failed;
    if (turn && !turnFitsOutput(job, img, turn)) {
        if (!applyOp(&img, job.ops.back(), &failed)) return failed;
        turn = 0;
    }
    if (job.check) {
        Outcome o;
        o.ok = true;
        o.info = std::to_string(img.width) + "x" + std::to_string(img.height) + ", " + kindName(img);
        return o;
    }
    return writeConverted(job, task, &img, turn);
}

// Converts the picture to what the output format takes and writes it (turned
// a quarter as the save's turn flag says).
Outcome writeConverted(const CmdJob& job, const CmdTask& task, OwnedImage* picture, uint16_t turn) {
    OwnedImage& img = *picture;
    Status st;
    int target = 0, method = 0;
    if (chooseConversion(job.outFormat, &img, &target, &method)) {
        // The viewer's conversion code when the format takes what it makes.
        const Conversion* c = conversionByCode(job.conversionCode);
        OwnedImage coded;
        const WriteVariant* fits = nullptr;
        if (c && convertImage(&img, &coded, c->target, c->method) == ST_OK &&
            findWriteVariant(job.outFormat, &coded, &fits)) {
            Image old = img;
            static_cast<Image&>(img) = coded;
            static_cast<Image&>(coded) = old;  // released with coded
        } else {
            st = convertImage(&img, nullptr, target, method);
            if (st != ST_OK) return fail(st, "Error converting picture !!");
        }
    }
    const WriteVariant* variant = nullptr;
    if (!findWriteVariant(job.outFormat, &img, &variant)) return fail(ST_KIND_REFUSED, statusText(ST_KIND_REFUSED, nullptr));
    // A variant of one fixed size takes the picture resized to it.
    if (variant && variant->width > 0 && variant->height > 0 &&
        (img.width != variant->width || img.height != variant->height)) {
        st = resizeImage(&img, nullptr, variant->width, variant->height, RESAMPLE_AREA);
        if (st != ST_OK) return fail(st, std::string("resizing to the format's size: ") + opStatusText(st));
    }
    Destination d;
    Outcome o = prepareOutput(job, task, variant, &d);
    if (!o.ok) return o;
    o = writeOutput(job, d, &img, turn);
    if (!o.ok) return o;
    return commitDestination(job, task, d);
}

std::string displayName(const std::string& source) { return source == "-" ? "(standard input)" : source; }

// The lines of one task: log and progress on standard error, JSON on standard output.
std::pair<std::string, std::string> linesOf(const CmdJob& job, const CmdTask& task, const Outcome& o,
                                            uint64_t index, int64_t total) {
    std::string err, out;
    const std::string src = displayName(task.source);
    for (const std::string& w : o.warnings) err += "kaleocmd: " + src + ": warning: " + w + "\n";
    const std::string dst = o.output == "-" ? "(standard output)" : o.output;
    if (job.progress) {
        err += std::to_string(index + 1) + "/" + (total >= 0 ? std::to_string(total) : "?") + " " + src + " " +
               std::to_string(o.ms) + " ms ";
        if (o.skipped) err += "skipped (" + dst + " is up to date)";
        else if (!o.ok) err += "FAILED: " + o.message;
        else if (job.check) err += "ok " + o.info;
        else err += "ok -> " + dst;
        err += "\n";
        if (o.ok && !o.message.empty()) err += "kaleocmd: " + src + ": " + o.message + "\n";
    } else {
        if (!o.ok || !o.message.empty()) err += "kaleocmd: " + src + ": " + o.message + "\n";
        if (o.ok && !job.quiet && !job.check && !job.json) {
            if (o.skipped) err += src + ": " + dst + " is up to date\n";
            else if (o.output != "-") err += src + " -> " + dst + "\n";
        }
    }
    if (job.check && o.ok && !job.quiet && !job.json) out += src + ": " + o.info + "\n";
    if (job.json) {
        out += "{\"input\":" + jsonString(task.source);
        if (job.allPages) out += ",\"page\":" + std::to_string(task.page);
        if (!job.check) out += ",\"output\":" + (o.output.empty() ? std::string("null") : jsonString(o.output));
        out += ",\"status\":" + std::to_string(o.ok ? 0 : o.status) +
               ",\"message\":" + jsonString(o.ok ? (o.skipped ? "skipped" : (job.check ? o.info : "ok")) : o.message) +
               ",\"ms\":" + std::to_string(o.ms);
        if (!o.warnings.empty()) {
            out += ",\"warnings\":[";
            for (size_t i = 0; i < o.warnings.size(); ++i) out += (i ? "," : "") + jsonString(o.warnings[i]);
            out += "]";
        }
        out += "}\n";
    }
    return {err, out};
}

}  // namespace

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

int runFeed(const CmdJob& job, TaskFeed* feed) {
    if (job.seedSet) setEffectSeed(job.seed);
    unsigned threads = job.threads > 0 ? static_cast<unsigned>(job.threads) : std::thread::hardware_concurrency();
    if (threads < 1) threads = 1;
    // Deleting originals and the library's trace stay on one thread.
    if (job.deleteOriginal || job.verbose) threads = 1;
    if (feed->total >= 0 && threads > feed->total) threads = static_cast<unsigned>(feed->total > 0 ? feed->total : 1);
    // Files converted side by side already keep every processor busy: the
    // operations then stay on their file's thread.
    setOperationThreads(threads > 1 ? 1 : 0);
    const bool bars = job.progress && threads == 1 && isatty(STDERR_FILENO);
    std::mutex feedLock;
    uint64_t handed = 0;
    std::atomic<int> failures{0};
    OrderedLog log;
    const uint64_t window = 64 * threads;
    auto worker = [&]() {
        if (job.pixelLimit) setPixelLimit(job.pixelLimit);
        for (;;) {
            CmdTask task;
            uint64_t index;
            {
                std::lock_guard<std::mutex> g(feedLock);
                if (!nextTask(feed, &task)) return;
                index = handed++;
            }
            log.waitForRoom(index, window);
            Bar bar{displayName(task.source)};
            auto start = std::chrono::steady_clock::now();
            std::vector<std::string> warnings;
            setWarningHandler(collectWarning, &warnings);
            Outcome o = convertOne(job, task, bars ? &bar : nullptr, threads == 1);
            setWarningHandler(nullptr, nullptr);
            // The load's warnings come before those of a save written beside it.
            warnings.insert(warnings.end(), o.warnings.begin(), o.warnings.end());
            o.warnings = std::move(warnings);
            o.ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
            if (!o.ok) ++failures;
            auto lines = linesOf(job, task, o, index, feed->total);
            log.put(index, std::move(lines.first), std::move(lines.second));
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    return failures;
}

}  // namespace

int runJob(const CmdJob& job) {
    TaskFeed feed;
    startFeed(&feed, job);
    // A plan that would write over an input or write one output twice is
    // reported whole before anything is written.
    int refused = 0;
    for (const CmdTask& t : feed.planned)
        if (!t.error.empty()) {
            fprintf(stderr, "kaleocmd: %s: %s\n", displayName(t.source).c_str(), t.error.c_str());
            ++refused;
        }
    if (job.sequence && !job.check && !job.dest.empty() && job.dest != "-" && job.dest.back() != '/' &&
        !isFolder(job.dest) && job.dest.find('#') == std::string::npos && feed.total != 1) {
        fprintf(stderr, "kaleocmd: -o names one file but the sequence has several inputs\n");
        return 1;
    }
    if (refused) {
        fprintf(stderr, "kaleocmd: nothing was written\n");
        return refused;
    }
    return runFeed(job, &feed);
}

void printFormatList() {
    for (int i = 0; i < formatCount(); ++i) {
        FormatInfo fi;
        if (getFormatInfo(i, &fi) != 0) continue;
        std::string exts;
        for (int e = 0; e < MAX_EXTENSIONS && fi.extensions[e][0]; ++e) exts += std::string(" ") + fi.extensions[e];
        bool placeholder = formatReaderIsPlaceholder(i);
        printf("%3d %-8s %c%c%c %-36s%s\n", i, fi.shortName, fi.capabilities & CAP_READ ? 'r' : '-',
               placeholder ? '?' : ' ', fi.capabilities & CAP_WRITE ? 'w' : '-', fi.description, exts.c_str());
    }
    printf("r? = recognised but not decoded yet\n");
}

int printFileInfo(const CmdJob& job) {
    int failures = 0;
    for (const std::string& f : job.sources) {
        FileInfo fi{};
        Status st = f == "-" ? ST_CANNOT_OPEN : readImageInfo(f.c_str(), job.inFormat, 0, &fi);
        if (st != ST_OK) {
            std::string why = statusText(st, fi.message);
            fprintf(stderr, "kaleocmd: %s: %s\n", f.c_str(), why.c_str());
            if (job.json)
                printf("{\"input\":%s,\"status\":%d,\"message\":%s}\n", jsonString(f).c_str(), st,
                       jsonString(why).c_str());
            ++failures;
            continue;
        }
        FormatInfo fmt{};
        getFormatInfo(fi.formatIndex, &fmt);
        const char* compression = fi.compression[0] ? fi.compression : "none";
        if (job.json) {
            printf("{\"input\":%s,\"status\":0,\"format\":%s,\"description\":%s,\"variant\":%s,\"width\":%d,"
                   "\"height\":%d,\"bits\":%d,\"planes\":%d,\"pages\":%d,\"compression\":%s}\n",
                   jsonString(f).c_str(), jsonString(fmt.shortName).c_str(), jsonString(fmt.description).c_str(),
                   jsonString(fi.formatName).c_str(), fi.width, fi.height, fi.planes * fi.bitsPerPlane, fi.planes,
                   fi.pageCount, jsonString(compression).c_str());
        } else {
            printf("%s: %s (%s) %dx%d, %d plane(s) of %d bit(s), %d page(s), compression %s\n", f.c_str(),
                   fi.formatName, fmt.shortName, fi.width, fi.height, fi.planes, fi.bitsPerPlane, fi.pageCount,
                   compression);
        }
    }
    return failures;
}

std::string jsonString(const std::string& s) {
    std::string j = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        char esc[16];
        if (c == '"' || c == '\\') {
            j += '\\';
            j += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            snprintf(esc, sizeof esc, "\\u%04x", c);
            j += esc;
            ++i;
        } else if (c < 0x80) {
            j += static_cast<char>(c);
            ++i;
        } else {
            // A well-formed UTF-8 sequence passes; any other byte is escaped alone.
            size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
            bool good = len && i + len <= n;
            for (size_t k = 1; good && k < len; ++k) good = (p[i + k] & 0xC0) == 0x80;
            if (good && len == 3) {
                unsigned cp = ((c & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6);
                good = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
            }
            if (good && len == 4) {
                unsigned cp = ((c & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12);
                good = cp >= 0x10000 && cp <= 0x10FFFF;
            }
            if (good) {
                j.append(s, i, len);
                i += len;
            } else {
                snprintf(esc, sizeof esc, "\\udc%02x", c);
                j += esc;
                ++i;
            }
        }
    }
    return j + "\"";
}
