// The registry's machinery: identification, dispatch to readers and writers,
// and the three library entry points.
#include <sys/stat.h>

#include <cctype>
#include <cstring>

#include "codecs.h"
#include "context.h"
#include "rowconv.h"
#include "stream.h"

namespace {

thread_local IoContext g_context;

void copyText(char* dst, size_t size, const char* src) {
    if (size == 0) return;
    size_t n = src ? strnlen(src, size - 1) : 0;
    if (n) memcpy(dst, src, n);
    dst[n] = '\0';
}

const char* lastExtension(const char* name) {
    const char* dot = strrchr(name, '.');
    if (!dot) return nullptr;
    // A dot inside a folder name is no extension.
    if (strchr(dot, '/') || strchr(dot, '\\')) return nullptr;
    return dot + 1;
}

bool isPlaceholder(const FormatRecord& r) { return r.reader == placeholderReader; }
bool hasRealWriter(const FormatRecord& r) { return r.writer && r.writer != placeholderWriter; }

void storeOutcome(int index, const LoadRequest* request) {
    FileInfo* info = g_context.info;
    if (!info) return;
    info->formatIndex = static_cast<int16_t>(index);
    copyText(info->message, sizeof info->message, request->message);
}

// Whether the format's identification test takes the file's first bytes
// (formats without one leave it to their reader). The stream is rewound.
bool accepted(FILE* stream, const FormatRecord& r, const LoadRequest* request) {
    if (!r.accept) return true;
    uint8_t head[ACCEPT_HEAD_BYTES];
    const size_t n = fread(head, 1, sizeof head, stream);
    const bool yes = r.accept(head, n, request->fileSize > 0 ? request->fileSize : 0);
    clearerr(stream);
    return fseek(stream, 0, SEEK_SET) == 0 && yes;
}

// Runs one reader on a rewound stream, when its identification test takes the
// file. A reader that refuses after allocating (it should not) must not leave
// pixels behind for the next one.
Status runReader(FILE* stream, int index, LoadRequest* request) {
    if (fseek(stream, 0, SEEK_SET) != 0) return ST_READ_ERROR;
    clearerr(stream);
    request->message[0] = '\0';
    if (!accepted(stream, FORMAT_TABLE[index], request)) return ST_UNKNOWN_FORMAT;
    g_context.fileSize = request->fileSize > 0 ? request->fileSize : 0;
    g_context.maxRatio = FORMAT_TABLE[index].maxRatio ? FORMAT_TABLE[index].maxRatio : RATIO_RUNS;
    Status st = FORMAT_TABLE[index].reader(stream, request);
    abandonConversion();
    if (st == ST_UNKNOWN_FORMAT && g_context.image && !g_context.examine) freeImage(g_context.image);
    return st;
}

// The 16-bit fields of the request hold the image's values clamped to their range.
int16_t clamp16(int32_t v) { return static_cast<int16_t>(v < INT16_MIN ? INT16_MIN : v > INT16_MAX ? INT16_MAX : v); }

LoadRequest makeLoadRequest(const char* fileName, const IoOptions& o) {
    LoadRequest r;
    memset(&r, 0, sizeof r);
    copyText(r.fileName, sizeof r.fileName, fileName);
    r.flags = o.flags;
    r.readerParameter1 = o.readerParameter1;
    r.readerParameter2 = o.readerParameter2;
    r.rawParameter = o.rawParameter;
    r.rawLayout = o.rawLayout;
    r.rawWidth = o.rawWidth;
    r.rawHeight = o.rawHeight;
    r.rawOffset = o.rawOffset;
    r.pageIndex = o.pageIndex;
    r.pageCount = 1;
    return r;
}

// Identification by extension, then by trial.
Status identifyAndRead(FILE* stream, int index, bool scan, LoadRequest* request) {
    Status st = tryReaders(stream, index, request);
    if (st == ST_UNKNOWN_FORMAT && index < 0 && scan) {
        for (int i = 0; i < FORMAT_COUNT; ++i) {
            const FormatRecord& r = FORMAT_TABLE[i];
            if (!r.reader || r.trial != 1 || isPlaceholder(r)) continue;
            st = tryReaders(stream, i, request);
            if (st != ST_UNKNOWN_FORMAT) break;
        }
    }
    return st;
}

// Reads the whole standard input into memory so that readers can rewind it.
FILE* slurpStdin(Buffer* storage, int64_t* size) {
    size_t cap = 1 << 16, len = 0;
    Buffer buf = allocBuffer(cap);
    if (!buf) return nullptr;
    for (;;) {
        if (len == cap) {
            if (cap > (SIZE_MAX >> 2)) return nullptr;
            Buffer bigger = allocBuffer(cap * 2);
            if (!bigger) return nullptr;
            memcpy(bigger.get(), buf.get(), len);
            buf = std::move(bigger);
            cap *= 2;
        }
        size_t n = fread(buf.get() + len, 1, cap - len, stdin);
        if (n == 0) break;
        len += n;
    }
    *size = static_cast<int64_t>(len);
    if (len == 0) return nullptr;
    FILE* f = fmemopen(buf.get(), len, "rb");
    *storage = std::move(buf);
    return f;
}

Status finishLoad(Status st, Image* image, const IoOptions& o, const LoadRequest& request, FileInfo* info) {
    if (info) info->pageCount = request.pageCount;
    if ((st == ST_READ_ERROR || st == ST_CORRUPT) && (o.flags & OPT_ACCEPT_DAMAGED) && image->pixels) {
        if (o.flags & OPT_VERBOSE)
            fputs(st == ST_READ_ERROR ? " *** WARNING: File Not complete ... ***\n"
                                      : " *** WARNING: Corrupt File ... ***\n",
                  stderr);
        return ST_OK;
    }
    // A reader that claims success must have built the picture.
    if (st == ST_OK && !image->pixels) st = ST_CORRUPT;
    if (st != ST_OK) freeImage(image);
    return st;
}

}  // namespace

IoContext& ioContext() { return g_context; }

namespace {
thread_local WarningHandler t_warningHandler = nullptr;
thread_local void* t_warningDatum = nullptr;
}  // namespace

void setWarningHandler(WarningHandler handler, void* datum) {
    t_warningHandler = handler;
    t_warningDatum = datum;
}

void reportWarning(const char* message) {
    const char* name = g_context.fileName ? g_context.fileName : "";
    if (t_warningHandler) t_warningHandler(name, message ? message : "", t_warningDatum);
    else fprintf(stderr, "%s: %s\n", name, message ? message : "");
}

bool savedImageHasAlpha() {
    const Image* img = g_context.image;
    if (!img || g_context.examine || !(img->kind & IMG_32BIT)) return false;
    // The answer looks at every row.
    return gateRows(img->height) && imageHasAlpha(img);
}

IoScope::IoScope(Image* image, const IoOptions* options, FileInfo* info, const char* fileName, bool examine) {
    abandonConversion();
    g_context.options = options ? *options : defaultIoOptions();
    g_context.image = image;
    g_context.info = info;
    g_context.fileName = fileName ? fileName : "";
    g_context.examine = examine;
    g_context.stop = false;
    g_context.fileSize = 0;
    g_context.maxRatio = RATIO_RUNS;
}

IoScope::~IoScope() {
    abandonConversion();
    followEnd();
    g_context = IoContext{};
}

IoOptions defaultIoOptions() {
    IoOptions o;
    memset(&o, 0, sizeof o);
    o.formatIndex = -1;
    o.rowAlignment = 1;
    return o;
}

void setReaderMessage(LoadRequest* request, const char* message) {
    copyText(request->message, sizeof request->message, message);
}

const char* libraryVersion() { return "Kaleocore Version 2.90"; }

int formatCount() { return FORMAT_COUNT; }

const FormatRecord* formatRecord(int index) {
    if (index < 0 || index >= FORMAT_COUNT) return nullptr;
    return &FORMAT_TABLE[index];
}

bool formatReaderIsPlaceholder(int index) {
    const FormatRecord* r = formatRecord(index);
    return r && isPlaceholder(*r);
}

int getFormatInfo(int index, FormatInfo* info) {
    int16_t i16 = static_cast<int16_t>(index);
    if (i16 < 0 || i16 >= FORMAT_COUNT) return -1;
    const FormatRecord& r = FORMAT_TABLE[i16];
    memset(info, 0, sizeof *info);
    copyText(info->shortName, sizeof info->shortName, r.shortName);
    info->index = i16;
    // Formats still on the placeholder, or whose reader only recognises its
    // files, are not offered as readable; placeholders not as writable either.
    info->capabilities = static_cast<uint16_t>((r.reader && !isPlaceholder(r) && r.decodes ? CAP_READ : 0) |
                                               (hasRealWriter(r) ? CAP_WRITE : 0));
    copyText(info->description, sizeof info->description, r.description);
    for (int e = 0; e < MAX_EXTENSIONS && r.extensions[e]; ++e)
        copyText(info->extensions[e], sizeof info->extensions[e], r.extensions[e]);
    memcpy(info->modes, r.modes, sizeof info->modes);
    return 0;
}

int findFormat(const char* shortName) {
    if (!shortName) return -1;
    for (int i = 0; i < FORMAT_COUNT; ++i)
        if (strcmp(FORMAT_TABLE[i].shortName, shortName) == 0) return i;
    return -1;
}

int findWriteVariant(int index, const Image* image, const WriteVariant** variant) {
    *variant = nullptr;
    const FormatRecord* r = formatRecord(index);
    if (!r) return 0;
    for (int i = 0; i < MAX_WRITE_VARIANTS; ++i) {
        const WriteVariant& v = r->modes[i];
        if (v.kindMask == WV_END) return i == 0 ? 1 : 0;
        if (!(v.kindMask & image->kind)) continue;
        if ((v.kindMask & (IMG_PALETTE | IMG_GREY)) && v.maxColours != -1 && v.maxColours < image->colours) continue;
        *variant = &v;
        return 1;
    }
    return 0;
}

Status tryReaders(FILE* stream, int index, LoadRequest* request) {
    if (index < 0) {
        const char* ext = lastExtension(request->fileName);
        if (ext) {
            char lower[32];
            size_t n = strnlen(ext, sizeof lower - 1);
            for (size_t i = 0; i < n; ++i)
                lower[i] = (ext[i] >= 'A' && ext[i] <= 'Z') ? static_cast<char>(ext[i] - 'A' + 'a') : ext[i];
            lower[n] = '\0';
            if (ext[n] == '\0') {  // longer extensions match nothing
                for (int i = 0; i < FORMAT_COUNT; ++i) {
                    const FormatRecord& r = FORMAT_TABLE[i];
                    for (int e = 0; e < MAX_EXTENSIONS && r.extensions[e]; ++e) {
                        if (strcmp(r.extensions[e], lower) != 0) continue;
                        Status st = runReader(stream, i, request);
                        if (st != ST_UNKNOWN_FORMAT) {
                            storeOutcome(i, request);
                            return st;
                        }
                    }
                }
            }
        }
    }
    if (index < 0 || index >= FORMAT_COUNT) return ST_UNKNOWN_FORMAT;
    Status st = runReader(stream, index, request);
    storeOutcome(index, request);
    return st;
}

Status loadImageFromStream(FILE* stream, const char* fileName, int64_t fileSize, Image* image,
                           const IoOptions* options, FileInfo* info) {
    IoOptions o = options ? *options : defaultIoOptions();
    memset(image, 0, sizeof *image);
    if (info) memset(info, 0, sizeof *info);
    IoScope scope(image, &o, info, fileName, false);
    LoadRequest request = makeLoadRequest(fileName, o);
    request.fileSize = fileSize;
    if (fileSize == 0) return finishLoad(ST_UNKNOWN_FORMAT, image, o, request, info);
    Status st = identifyAndRead(stream, o.formatIndex, !(o.flags & OPT_NO_SCAN), &request);
    return finishLoad(st, image, o, request, info);
}

Status loadImage(const char* fileName, Image* image, const IoOptions* options, FileInfo* info) {
    IoOptions o = options ? *options : defaultIoOptions();
    memset(image, 0, sizeof *image);
    if (info) memset(info, 0, sizeof *info);
    if (!fileName) return ST_CANNOT_OPEN;

    Buffer streamBuffer;  // outlives the stream that uses it
    if (o.streamBufferSize > 0) streamBuffer = allocBuffer(static_cast<uint64_t>(o.streamBufferSize));
    Buffer stdinData;
    int64_t size = 0;
    StreamPtr stream;
    if (strcmp(fileName, "stdin") == 0) {
        stream.reset(slurpStdin(&stdinData, &size));
        if (!stream) return size == 0 ? ST_UNKNOWN_FORMAT : ST_NO_MEMORY;
    } else {
        stream.reset(openStream(fileName, "rb", reinterpret_cast<char*>(streamBuffer.get()),
                                streamBuffer ? static_cast<size_t>(o.streamBufferSize) : 0));
        if (!stream) return ST_CANNOT_OPEN;
        struct stat sb;
        if (fstat(fileno(stream.get()), &sb) != 0 || S_ISDIR(sb.st_mode)) return ST_CANNOT_OPEN;
        size = static_cast<int64_t>(sb.st_size);
    }
    return loadImageFromStream(stream.get(), fileName, size, image, &o, info);
}

Status readImageInfo(const char* fileName, int formatIndex, int scanFlag, FileInfo* info) {
    if (info) memset(info, 0, sizeof *info);
    if (!fileName) return ST_CANNOT_OPEN;
    StreamPtr stream(openStream(fileName, "rb", nullptr, 0));
    if (!stream) return ST_CANNOT_OPEN;
    struct stat sb;
    if (fstat(fileno(stream.get()), &sb) != 0 || S_ISDIR(sb.st_mode)) return ST_CANNOT_OPEN;
    if (sb.st_size == 0 && stream.get() != stdin) return ST_UNKNOWN_FORMAT;

    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(formatIndex);
    Image scratch{};
    IoScope scope(&scratch, &o, info, fileName, true);
    LoadRequest request = makeLoadRequest(fileName, o);
    request.fileSize = static_cast<int64_t>(sb.st_size);
    Status st = identifyAndRead(stream.get(), formatIndex, scanFlag != OPT_NO_SCAN, &request);
    if (info) info->pageCount = request.pageCount;
    freeImage(&scratch);  // a reader that ignored examination mode must not leak
    return st == ST_INFO_ONLY ? ST_OK : st;
}

// Replaces the extension of name (at most FILE_NAME_LEN bytes) by ext.
void setFileExtension(char* name, const char* ext) {
    char* dot = strrchr(name, '.');
    const char* slash = strrchr(name, '\\');
    const char* fslash = strrchr(name, '/');
    if (fslash && (!slash || fslash > slash)) slash = fslash;
    const char* base = slash ? slash + 1 : name;
    if (dot && dot > base && !(dot[1] >= '0' && dot[1] <= '9'))
        *dot = '\0';
    if (!ext) return;
    size_t len = strlen(name), extLen = strlen(ext);
    if (len + 1 + extLen >= FILE_NAME_LEN) return;
    name[len] = '.';
    memcpy(name + len + 1, ext, extLen + 1);
}

namespace {

// Copies a finished temporary file to the standard output.
bool copyToStdout(FILE* tmp) {
    if (fflush(tmp) != 0 || fseek(tmp, 0, SEEK_SET) != 0) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, tmp)) > 0)
        if (fwrite(buf, 1, n, stdout) != n) return false;
    return fflush(stdout) == 0;
}

}  // namespace

namespace {

// Writes image to an open stream (or, without one, to the file name) in the
// options' format; the name is the one the writer records in the file.
Status saveTo(FILE* open, char* fileName, Image* image, const IoOptions* options) {
    IoOptions o = options ? *options : defaultIoOptions();
    if (!fileName || !image) return ST_CANNOT_OPEN;
    char privateName[FILE_NAME_LEN];
    char* name = fileName;
    if (!(o.flags & OPT_NAME_IN_PLACE)) {
        copyText(privateName, sizeof privateName, fileName);
        name = privateName;
    }
    int index = o.formatIndex;
    const FormatRecord* record = formatRecord(index);
    if (!record || !hasRealWriter(*record)) return ST_NO_WRITER;
    if (!image->pixels || image->width < 1 || image->height < 1) return ST_KIND_REFUSED;
    // What the file will hold: the picture, or the picture turned a quarter.
    const Image shape = saveTurn(o.flags) ? quarterTurnedShape(*image) : *image;
    const WriteVariant* variant = nullptr;
    if (!findWriteVariant(index, &shape, &variant)) return ST_KIND_REFUSED;

    if (o.flags & OPT_SET_EXTENSION) {
        const char* ext = variant && variant->extension ? variant->extension : record->extensions[0];
        setFileExtension(name, ext);
    }

    IoScope scope(image, &o, nullptr, name, false);
    SaveRequest request;
    memset(&request, 0, sizeof request);
    copyText(request.fileName, sizeof request.fileName, name);
    request.kind = (image->kind & IMG_TRUECOLOUR) ? KIND_ANY_TRUECOLOUR : image->kind;
    request.bitsPerPixel = static_cast<int16_t>((image->kind & IMG_32BIT) ? 32 : (image->kind & IMG_24BIT) ? 24 : 8);
    request.width = shape.width;
    request.height = shape.height;
    request.colours = clamp16(image->colours);
    request.xdpi = clamp16(shape.xdpi);
    request.ydpi = clamp16(shape.ydpi);
    request.flags = o.flags;
    request.writerOption1 = o.writerOption1;
    request.writerOption2 = o.writerOption2;
    request.writerOption3 = o.writerOption3;
    request.variant = variant;

    Buffer streamBuffer;
    if (o.streamBufferSize > 0) streamBuffer = allocBuffer(static_cast<uint64_t>(o.streamBufferSize));
    if (open) {
        Status st = record->writer(open, &request);
        abandonConversion();
        if (st == ST_OK && (ferror(open) || fflush(open) != 0)) st = ST_WRITE_ERROR;
        return st;
    }
    bool toStdout = strcmp(name, "stdout") == 0;
    // Writers seek back to patch their headers, so standard output is written
    // through a temporary file.
    StreamPtr stream(toStdout ? tmpfile()
                              : openStream(name, "wb", reinterpret_cast<char*>(streamBuffer.get()),
                                           streamBuffer ? static_cast<size_t>(o.streamBufferSize) : 0));
    if (!stream) return ST_CANNOT_OPEN;
    Status st = record->writer(stream.get(), &request);
    abandonConversion();
    // Writers that write through putc learn of a full disk only here.
    if (st == ST_OK && (ferror(stream.get()) || fflush(stream.get()) != 0)) st = ST_WRITE_ERROR;
    if (st == ST_OK && toStdout && !copyToStdout(stream.get())) st = ST_WRITE_ERROR;
    FILE* f = stream.release();
    if (fclose(f) != 0 && st == ST_OK) st = ST_WRITE_ERROR;
    return st;
}

}  // namespace

Status saveImage(char* fileName, Image* image, const IoOptions* options) {
    return saveTo(nullptr, fileName, image, options);
}

Status saveImageToStream(FILE* stream, const char* fileName, Image* image, const IoOptions* options) {
    if (!stream || !fileName) return ST_CANNOT_OPEN;
    char name[FILE_NAME_LEN];
    copyText(name, sizeof name, fileName);
    IoOptions o = options ? *options : defaultIoOptions();
    o.flags = static_cast<uint16_t>(o.flags & ~(OPT_SET_EXTENSION | OPT_NAME_IN_PLACE));
    return saveTo(stream, name, image, &o);
}
