#include "cmdline.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include "kaleocore.h"
#include "optable.h"
#include "writeoptions.h"

namespace {

const char* const CTYPES[] = {"grey", "rgb", "bgr", "rgba", "abgr", "cmy", "cmyk"};
const char* const CORDERS[] = {"inter", "seq", "sep"};
const char* const SWAPS[] = {"rbg", "bgr", "brg", "grb", "gbr"};
// Colour counts of the colour targets 12..18 and grey levels of the grey targets 2..9.
const int COLOUR_COUNTS[] = {8, 16, 32, 64, 128, 216, 256};
const int GREY_LEVELS[] = {4, 8, 16, 32, 64, 128, 0, 256};  // target 8 does not exist

bool parseInt(const char* s, long lo, long hi, int* out) {
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(s, &end, 10);
    if (errno || *end || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

bool parseReal(const char* s, double* out) {
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    double v = strtod(s, &end);
    if (errno || *end || v != v) return false;
    *out = v;
    return true;
}

int wordIndex(const char* s, const char* const* words, int n) {
    for (int i = 0; i < n; ++i)
        if (s && strcmp(s, words[i]) == 0) return i;
    return -1;
}

// "640" or "50%"; *percent tells which.
bool parseSize(const char* s, int* value, bool* percent) {
    if (!s) return false;
    std::string t = s;
    *percent = !t.empty() && t.back() == '%';
    if (*percent) t.pop_back();
    return parseInt(t.c_str(), 1, *percent ? 100000 : MAX_IMAGE_SIDE, value);
}

struct Parser {
    int argc;
    const char* const* argv;
    int i = 1;
    CmdJob* job;
    std::string* error;
    bool ratio = false, dither = false, rtypeSet = false;
    bool onlySmaller = false, onlyLarger = false;  // -onlysmaller, -onlylarger: limits of the next -resize
    int16_t method = RESAMPLE_NEAREST;

    const char* next() { return i + 1 < argc ? argv[++i] : nullptr; }
    bool fail(const std::string& why) {
        *error = why;
        return false;
    }

    bool format(int* out, bool forWriting) {
        const char* name = next();
        if (!name) return fail(std::string(argv[i]) + " needs a format name");
        *out = lookupFormat(name, forWriting);
        if (*out < 0) {
            if (forWriting && lookupFormat(name, false) >= 0)
                return fail(std::string("format \"") + name + "\" cannot be written; writable formats: " +
                            writableFormats());
            return fail(std::string("unknown format \"") + name + "\"; kaleocmd -l lists them");
        }
        if (!forWriting && formatReaderIsPlaceholder(*out))
            return fail(std::string("format \"") + name + "\" is recognised but cannot be decoded yet");
        return true;
    }

    bool integer(const char* what, long lo, long hi, int* out) {
        const char* s = next();
        if (!parseInt(s, lo, hi, out)) return fail(std::string(what) + " needs a number from " + std::to_string(lo) +
                                                   " to " + std::to_string(hi));
        return true;
    }

    bool operation(int index, int words) {
        const OpEntry* e = opEntry(index);
        std::string name = e->option;
        OpInstance op;
        initOpInstance(&op, index);
        i += words - 1;
        auto badValue = [&]() { return fail("bad value for " + name); };
        switch (e->kind) {
        case OPK_NONE:
        case OPK_TRUECOLOUR:
            break;
        case OPK_INT:
            if (!parseInt(next(), e->params[0].minimum, e->params[0].maximum, &op.ints[0]))
                return fail(name + " takes " + std::to_string(e->params[0].minimum) + " to " +
                            std::to_string(e->params[0].maximum));
            break;
        case OPK_LEVELS:
        case OPK_FILTER_SIZE:
            if (!parseInt(next(), -1000000, 1000000, &op.ints[0])) return badValue();
            break;
        case OPK_HUNDREDTHS:
            if (!parseReal(next(), &op.reals[0])) return badValue();
            break;
        case OPK_THREE_REALS:
            for (int k = 0; k < 3; ++k)
                if (!parseReal(next(), &op.reals[k])) return badValue();
            break;
        case OPK_THREE_INTS:
            for (int k = 0; k < 3; ++k)
                if (!parseInt(next(), -1000000, 1000000, &op.ints[k])) return badValue();
            break;
        case OPK_RECT:
            for (int k = 0; k < 4; ++k)
                if (!parseInt(next(), -1000000, 1000000, &op.ints[k])) return badValue();
            break;
        case OPK_RESIZE:
        case OPK_CANVAS: {
            bool pw = false, ph = false;
            if (!parseSize(next(), &op.ints[0], &pw) || !parseSize(next(), &op.ints[1], &ph) || pw != ph)
                return badValue();
            op.percent = pw ? 1 : 0;
            op.keepRatio = ratio ? 1 : 0;
            if (e->kind == OPK_RESIZE) {
                op.method = method;
                op.onlySmaller = onlySmaller ? 1 : 0;
                op.onlyLarger = onlyLarger ? 1 : 0;
                onlySmaller = onlyLarger = false;
            }
            ratio = rtypeSet = false;
            method = RESAMPLE_NEAREST;
            break;
        }
        case OPK_COLOURS: {
            int n = 0;
            if (!parseInt(next(), 1, 256, &n)) return badValue();
            int k = 0;
            while (k < 7 && COLOUR_COUNTS[k] != n) ++k;
            if (k == 7) return fail(name + " takes 8, 16, 32, 64, 128, 216 or 256 colours");
            op.ints[0] = 12 + k;
            op.ints[1] = dither ? 1 : 0;
            dither = false;
            break;
        }
        case OPK_GREY: {
            int n = 0;
            if (!parseInt(next(), 1, 256, &n)) return badValue();
            int k = 0;
            while (k < 8 && GREY_LEVELS[k] != n) ++k;
            if (k == 8) return fail(name + " takes 4, 8, 16, 32, 64, 128 or 256 levels");
            op.ints[0] = 2 + k;
            op.ints[1] = dither ? 1 : 0;
            dither = false;
            break;
        }
        case OPK_BINARY: {
            const char* m = next();
            static const char* const METHODS[] = {"pattern", "halft45", "halft90", "floyd"};
            static const int CODES[] = {1, 2, 3, 5};
            int k = wordIndex(m, METHODS, 4);
            if (k < 0) return fail(name + " takes pattern, halft45, halft90 or floyd");
            op.ints[0] = CODES[k];
            break;
        }
        case OPK_CHANNELS: {
            int k = wordIndex(next(), SWAPS, 5);
            if (k < 0) return fail(name + " takes rbg, bgr, brg, grb or gbr");
            op.ints[0] = k;
            break;
        }
        default:
            return fail("cannot parse " + name);
        }
        if (!opInstanceValid(op)) return fail("parameter out of range for " + name);
        job->ops.push_back(op);
        return true;
    }

    bool run() {
        bool optionsEnded = false;
        for (; i < argc; ++i) {
            std::string a = argv[i];
            if (optionsEnded || a == "-" || a.empty() || a[0] != '-') {
                // The library's names of the standard streams mean what "-" means.
                job->sources.push_back(a == "stdin" ? "-" : a);
            } else if (a == "--") {
                optionsEnded = true;
            } else if (a == "-help" || a == "-h" || a == "--help") {
                job->help = true;
                if (i + 1 < argc && argv[i + 1][0] != '-') {
                    job->helpFormat = lookupFormat(argv[i + 1], false);
                    if (job->helpFormat < 0) return fail(std::string("unknown format \"") + argv[i + 1] + "\"");
                    ++i;
                }
            } else if (a == "-npcd") {
                int v;
                if (!integer("-npcd", 0, 32767, &v)) return false;
                job->pcdBase = static_cast<int16_t>(v);
            } else if (a == "-size") {
                const char* s = next();
                int w, h, o, n = 0;
                if (!s || sscanf(s, "%dx%d+%d%n", &w, &h, &o, &n) != 3 || s[n] || w < 0 || h < 0 || o < 0)
                    return fail("-size needs WIDTHxHEIGHT+OFFSET");
                job->rawWidth = w;
                job->rawHeight = h;
                job->rawOffset = o;
            } else if (a == "-ctype") {
                int k = wordIndex(next(), CTYPES, 7);
                if (k < 0) return fail("-ctype takes grey, rgb, bgr, rgba, abgr, cmy or cmyk");
                job->channelType = static_cast<int16_t>(k);
            } else if (a == "-corder") {
                int k = wordIndex(next(), CORDERS, 3);
                if (k < 0) return fail("-corder takes inter, seq or sep");
                job->channelOrder = static_cast<int16_t>(k);
            } else if (a == "-in") {
                if (!format(&job->inFormat, false)) return false;
            } else if (a == "-out") {
                if (!format(&job->outFormat, true)) return false;
            } else if (a == "-n") {
                job->sequence = true;
                if (!integer("-n", -1000000000, 1000000000, &job->seqStart) ||
                    !integer("-n", -1000000000, 1000000000, &job->seqEnd) ||
                    !integer("-n", -1000000000, 1000000000, &job->seqStep))
                    return false;
            } else if (a == "-D") {
                job->deleteOriginal = true;
            } else if (a == "-o") {
                const char* d = next();
                if (!d || !*d) return fail("-o needs a destination");
                job->dest = strcmp(d, "stdout") == 0 ? "-" : d;
            } else if (a == "-ratio") {
                ratio = true;
            } else if (a == "-onlysmaller") {
                onlySmaller = true;
            } else if (a == "-onlylarger") {
                onlyLarger = true;
            } else if (a == "-conv") {
                if (!integer("-conv", 1, 32, &job->conversionCode)) return false;
            } else if (a == "-dither") {
                dither = true;
            } else if (a == "-rtype") {
                const char* t = next();
                if (t && strcmp(t, "linear") == 0) method = RESAMPLE_AREA;
                else if (t && strcmp(t, "quick") == 0) method = RESAMPLE_NEAREST;
                else return fail("-rtype takes linear or quick");
                rtypeSet = true;
            } else if (a == "-info") {
                job->info = true;
            } else if (a == "-check") {
                job->check = true;
            } else if (a == "-l") {
                job->list = true;
            } else if (a == "-q") {
                if (!integer("-q", 0, 100, &job->quality)) return false;
            } else if (a == "-c") {
                if (!integer("-c", 0, 32767, &job->compression)) return false;
            } else if (a == "-i") {
                job->interlace = true;
            } else if (a == "-page") {
                if (!integer("-page", 0, 1000000, &job->page)) return false;
            } else if (a == "-xall") {
                job->allPages = true;
            } else if (a == "-v") {
                job->verbose = true;
            } else if (a == "-progress") {
                job->progress = true;
            } else if (a == "-overwrite") {
                job->overwrite = true;
            } else if (a == "-quiet") {
                job->quiet = true;
            } else if (a == "-j") {
                if (!integer("-j", 1, 256, &job->threads)) return false;
            } else if (a == "-thumb") {
                const char* t = next();
                int w, h, n = 0;
                if (!t || sscanf(t, "%dx%d%n", &w, &h, &n) != 2 || t[n] || w < 1 || h < 1)
                    return fail("-thumb needs WIDTHxHEIGHT");
                job->thumbWidth = w;
                job->thumbHeight = h;
            } else if (a == "-seed") {
                int v;
                if (!integer("-seed", 0, 2147483647, &v)) return false;
                job->seedSet = true;
                job->seed = static_cast<uint32_t>(v);
            } else if (a == "-json") {
                job->json = true;
            } else if (a == "-resume") {
                job->resume = true;
            } else if (a == "-0") {
                job->listNul = true;
            } else if (a == "-@") {
                const char* f = next();
                if (!f || !*f) return fail("-@ needs a list file (or - for standard input)");
                job->listFile = f;
            } else if (a == "-script") {
                const char* f = next();
                if (!f || !*f) return fail("-script needs a file");
                job->script = f;
            } else if (a == "-limit") {
                const char* s = next();
                char* end = nullptr;
                errno = 0;
                unsigned long long v = s && *s >= '0' && *s <= '9' ? strtoull(s, &end, 10) : 0;
                if (!v || errno || *end) return fail("-limit needs a number of pixels (at least 1)");
                job->pixelLimit = v;
            } else {
                int words = 0;
                int index = findOpWords(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, &words);
                if (index < 0) return fail("unknown option " + a);
                if (!operation(index, words)) return false;
            }
        }
        if (ratio || rtypeSet) return fail("-ratio and -rtype must come before -resize or -canvas");
        if (onlySmaller || onlyLarger) return fail("-onlysmaller and -onlylarger must come before -resize");
        if (dither) return fail("-dither must come before -colors or -grey");
        if (!outputFormatFromName()) return false;
        if (job->listNul && job->listFile.empty()) return fail("-0 applies to the list of -@");
        return writerSwitchesFit();
    }

    // "-o out.png" names the format when -out does not; a -out that the
    // name's extension contradicts is a mistake.
    bool outputFormatFromName() {
        const std::string& d = job->dest;
        size_t slash = d.find_last_of('/');
        size_t dot = d.find_last_of('.');
        if (d.empty() || d == "-" || d.back() == '/' || dot == std::string::npos ||
            (slash != std::string::npos && dot < slash) || dot + 1 == d.size())
            return true;
        struct stat sb;
        if (stat(d.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode)) return true;
        std::string ext = d.substr(dot + 1);
        if (job->outFormat < 0) {
            job->outFormat = lookupFormat(ext, true);
            if (job->outFormat < 0 && lookupFormat(ext, false) >= 0)
                return fail("format of \"" + d + "\" cannot be written; writable formats: " + writableFormats());
            return true;
        }
        int named = lookupFormat(ext, true);
        if (named < 0 || named == job->outFormat) return true;
        const FormatRecord* r = formatRecord(job->outFormat);
        for (int e = 0; r && e < MAX_EXTENSIONS && r->extensions[e]; ++e)
            if (strcasecmp(r->extensions[e], ext.c_str()) == 0) return true;
        return fail("-out " + std::string(r ? r->shortName : "?") + " contradicts the extension of " + d);
    }

    // -c, -q and -i against the options of the output format's writer: a value
    // out of range, or a switch that the writer does not read, is refused.
    bool writerSwitchesFit() {
        const FormatRecord* r = job->outFormat >= 0 ? formatRecord(job->outFormat) : nullptr;
        const struct {
            WriterSlot slot;
            const char* flag;
            int value;  // -1: not given
        } given[] = {
            {WRITER_SLOT_COMPRESSION, "-c", job->compression},
            {WRITER_SLOT_QUALITY, "-q", job->quality},
            {WRITER_SLOT_PROGRESSIVE, "-i", job->interlace ? 1 : -1},
        };
        for (const auto& g : given) {
            if (g.value < 0) continue;
            if (!r) return fail(std::string(g.flag) + " applies to an output format (-out)");
            const WriterOption* w = findWriterOption(r->shortName, g.slot);
            if (!w)
                return fail(std::string(r->shortName) + " has no " + g.flag + " option; kaleocmd -help " +
                            r->shortName + " lists its options");
            if (writerOptionInRange(*w, g.value)) continue;
            char text[160];
            writerRangeMessage(*w, g.flag, g.value, text, sizeof text);
            return fail(text);
        }
        return true;
    }
};

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, CmdJob* job, std::string* error) {
    *job = CmdJob{};
    error->clear();
    Parser p{argc, argv, 1, job, error};
    return p.run();
}

std::string sequenceName(const std::string& pattern, int number) {
    size_t hash = pattern.find('#');
    if (hash == std::string::npos) return pattern + std::to_string(number);
    size_t run = 0;
    while (hash + run < pattern.size() && pattern[hash + run] == '#') ++run;
    char digits[32];
    snprintf(digits, sizeof digits, "%0*d", static_cast<int>(run), number);
    return pattern.substr(0, hash) + digits + pattern.substr(hash + run);
}

std::string formatScript(const CmdJob& job) {
    std::string s = "kaleocmd ";
    auto item = [&s](const std::string& t) { s += t + " "; };
    if (job.pcdBase) item("-npcd " + std::to_string(job.pcdBase));
    item("-size " + std::to_string(job.rawWidth) + "x" + std::to_string(job.rawHeight) + "+" +
         std::to_string(job.rawOffset));
    item(std::string("-ctype ") + CTYPES[job.channelType >= 0 && job.channelType < 7 ? job.channelType : 1]);
    item(std::string("-corder ") + CORDERS[job.channelOrder >= 0 && job.channelOrder < 3 ? job.channelOrder : 0]);
    FormatInfo fi;
    if (job.sequence) {
        if (job.inFormat >= 0 && getFormatInfo(job.inFormat, &fi) == 0) item(std::string("-in ") + fi.shortName);
        item("-n " + std::to_string(job.seqStart) + " " + std::to_string(job.seqEnd) + " " +
             std::to_string(job.seqStep));
    }
    if (job.outFormat >= 0 && getFormatInfo(job.outFormat, &fi) == 0) item(std::string("-out ") + fi.shortName);
    if (job.deleteOriginal) item("-D");
    if (!job.dest.empty()) item("-o " + scriptWord(job.dest));
    const std::string ops = scriptOperations(job.ops);
    if (!ops.empty()) item(ops);
    bool dashed = false;
    for (const std::string& src : job.sources) dashed = dashed || (!src.empty() && src[0] == '-');
    if (dashed) item("--");
    for (const std::string& src : job.sources) item(scriptWord(src));
    s.pop_back();
    return s;
}

int lookupFormat(const std::string& name, bool forWriting) {
    if (name.empty()) return -1;
    for (int i = 0; i < formatCount(); ++i) {
        const FormatRecord* r = formatRecord(i);
        if (r && strcasecmp(r->shortName, name.c_str()) == 0) return !forWriting || r->writer ? i : -1;
    }
    for (int i = 0; i < formatCount(); ++i) {
        const FormatRecord* r = formatRecord(i);
        if (!r || (forWriting && !r->writer)) continue;
        for (int e = 0; e < MAX_EXTENSIONS && r->extensions[e]; ++e)
            if (strcasecmp(r->extensions[e], name.c_str()) == 0) return i;
    }
    return -1;
}

std::string writableFormats() {
    std::string names;
    for (int i = 0; i < formatCount(); ++i) {
        const FormatRecord* r = formatRecord(i);
        if (r && r->writer) names += (names.empty() ? "" : " ") + std::string(r->shortName);
    }
    return names;
}

bool splitScriptLine(const std::string& line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    std::string text = line;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    size_t k = text.find_first_not_of(" \t");
    if (k == std::string::npos || text[k] == '#') return true;
    std::string word;
    bool inWord = false;
    for (size_t p = 0; p < text.size(); ++p) {
        char c = text[p];
        if (c == ' ' || c == '\t') {
            if (inWord) words->push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '"' || c == '\'') {
            inWord = true;
            size_t q = p + 1;
            for (; q < text.size() && text[q] != c; ++q) {
                if (c == '"' && text[q] == '\\' && q + 1 < text.size() && (text[q + 1] == '"' || text[q + 1] == '\\'))
                    ++q;
                word += text[q];
            }
            if (q >= text.size()) {
                *error = "unterminated quote";
                return false;
            }
            p = q;
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord) words->push_back(word);
    return true;
}

std::string helpText() {
    // The ranges come from the operation table itself, so help and checks agree.
    std::string ranges;
    size_t lineStart = 0;
    auto add = [&](const std::string& item) {
        if (ranges.size() - lineStart + item.size() > 96) {
            ranges += "\n";
            lineStart = ranges.size();
        }
        ranges += (ranges.size() == lineStart ? "  " : ", ") + item;
    };
    auto hundredths = [](int v) {
        char b[32];
        snprintf(b, sizeof b, "%.2f", v / 100.0);
        return std::string(b);
    };
    for (int k = 0; opEntry(k); ++k) {
        const OpEntry* e = opEntry(k);
        if (e->kind == OPK_INT || e->kind == OPK_THREE_INTS)
            add(std::string(e->option) + " " + std::to_string(e->params[0].minimum) + ".." +
                std::to_string(e->params[0].maximum) + (e->kind == OPK_THREE_INTS ? " each" : ""));
        else if (e->kind == OPK_HUNDREDTHS)
            add(std::string(e->option) + " " + hundredths(e->params[0].minimum) + ".." +
                hundredths(e->params[0].maximum));
        else if (e->kind == OPK_THREE_REALS)
            add(std::string(e->option) + " " + hundredths(e->params[0].minimum) + ".." +
                hundredths(e->params[0].maximum) + " " + hundredths(e->params[1].minimum) + ".." +
                hundredths(e->params[1].maximum) + " " + hundredths(e->params[2].minimum) + ".." +
                hundredths(e->params[2].maximum));
    }
    return std::string("kaleocmd, with ") + libraryVersion() + "\n" +
           "usage: kaleocmd [options] [operations] [--] FILE...\n"
           "       kaleocmd [options] -n START END STEP [operations] [--] FOLDER/PATTERN\n"
           "       kaleocmd -script FILE      run the kaleocmd lines of a script exported by the viewer\n"
           "Converts image files with Kaleocore. Options end at --: every word after it is a file.\n"
           "A file named - (or stdin) is standard input; -o - (or -o stdout) is standard output.\n"
           "Exit status: 0 every file converted, 1 some failed, 2 usage error.\n"
           "\n"
           "Examples:\n"
           "  kaleocmd in.jpg -o out.png                    format from the output's extension\n"
           "  kaleocmd -out png -o converted/ -- *.gif      a folder (created when missing)\n"
           "  cat a.gif | kaleocmd -out png - -o - > b.png  standard input to standard output\n"
           "  find . -name '*.tif' -print0 | kaleocmd -out jpeg -q 85 -json -@ - -0\n"
           "  kaleocmd -out bmp -n 1 100 1 -o out/img###.bmp scans/scan###.tga\n"
           "\n"
           "Reading:\n"
           "  -in FORMAT          read with this format (short name or extension) instead of identifying\n"
           "  -npcd N             Photo CD resolution: 0 base, 1 base/4, 2 base/16\n"
           "  -size WxH+OFFSET    geometry of headerless raw and YUV files\n"
           "  -ctype T            raw channels: grey, rgb, bgr, rgba, abgr, cmy, cmyk\n"
           "  -corder O           raw channel order: inter, seq, sep\n"
           "  -page N             load page N (0 = first) of a multi-image file\n"
           "  -xall               convert every page (outputs NAME-1, NAME-2 ...)\n"
           "  -thumb WxH          thumbnail fitting in W x H, Lanczos-filtered (JPEG decodes reduced)\n"
           "  -limit PIXELS       refuse pictures of more pixels (width x height) than this\n"
           "  -n START END STEP   numbered sequence: '#' marks in the pattern stand for the number\n"
           "  -@ FILE             read more inputs from FILE, one per line (- = standard input)\n"
           "  -0                  the -@ list is separated by NUL bytes (find -print0)\n"
           "Writing:\n"
           "  -out FORMAT         output format (short name or extension, any case); else from -o's extension\n"
           "  -o DEST             a folder (existing, or ending in /), a file name for one input, - for\n"
           "                      standard output, or a pattern with '#' numbering; default: beside the source\n"
           "                      (scan.001 gives scan.001.bmp: an extension of digits is kept)\n"
           "  -q N  -c N  -i      the writer's quality, compression and progressive/interlace options;\n"
           "                      kaleocmd -help FORMAT shows which a format has and their ranges\n"
           "  -overwrite          replace existing outputs (otherwise an existing output is an error)\n"
           "  -resume             skip inputs whose output exists and is newer than the input\n"
           "  -D                  delete the original once its output is complete (never the output itself)\n"
           "  -conv CODE          the viewer's conversion code (1..32) for pictures the format cannot store\n"
           "                      as they are, when the format takes its result (else the automatic choice)\n"
           "Outputs are written to a temporary name beside them and renamed into place when complete.\n"
           "\n"
           "Operations (applied in command-line order):\n"
           "  -truecolors  -colors 8|16|32|64|128|216|256  -grey 4|8|16|32|64|128|256\n"
           "  -binary pattern|halft45|halft90|floyd   -dither (dither the next -colors or -grey)\n"
           "  [-ratio] [-rtype linear|quick] -resize W H | W% H%   -crop X Y W H   [-ratio] -canvas W H\n"
           "  -onlysmaller / -onlylarger before -resize: resize only pictures smaller / larger than W x H\n"
           "  -xflip -yflip -rotate A -negate -brightness N -contrast N -gamma G -balance R G B\n"
           "  -log -solarize N -posterize N -normalize -equalize -swap rbg|bgr|brg|grb|gbr\n"
           "  -edetail -efocus -eedge -frestore -edgedetect light|medium|heavy -emboss -embossmore\n"
           "  -average N -soften N -blur N -gauss N -maximum N -minimum N -medianb N -medianc N\n"
           "  -sharpen N -noise reduce|uniform V|gaussian V|laplacian V|poisson V -mosaic N\n"
           "  -slice -tile N -shear -oil N -swirl N -spread N -lens N -waves LENGTH PHASE AMPLITUDE\n"
           "Ranges:\n" +
           ranges +
           "\n  filter sizes (-average ... -medianc) 3, 5, 7, 9, 11, 13; -posterize 2, 4, 8 ... 256\n"
           "\n"
           "Other:\n"
           "  -info               print what each file is without decoding it\n"
           "  -check              decode each file (and apply the operations) without writing anything\n"
           "  -l                  list the formats (index, name, read/write, description, extensions);\n"
           "                      'r?' marks formats recognised but not yet decoded\n"
           "  -help FORMAT        a format's extensions, the pictures it writes and its writer options\n"
           "  -json               one JSON object per file on standard output (with -info too)\n"
           "  -progress           a line per file (i/n, name, time, result) and a bar for big pictures\n"
           "  -v                  the library's trace\n"
           "  -j N                worker threads (default: every core)\n"
           "  -seed N             seed of the random effects, for reproducible results\n"
           "  -quiet              no line per converted file\n"
           "Diagnostics, progress and the per-file log go to standard error.\n";
}

std::string formatHelpText(int formatIndex) {
    const FormatRecord* r = formatRecord(formatIndex);
    if (!r) return "";
    std::string t = std::string(r->shortName) + ": " + r->description + "\n  extensions:";
    for (int e = 0; e < MAX_EXTENSIONS && r->extensions[e]; ++e) t += std::string(" ") + r->extensions[e];
    t += "\n  reading: ";
    t += formatReaderIsPlaceholder(formatIndex) ? "recognised, not decoded yet\n"
         : !r->decodes                          ? "recognised and refused: no public description of its pixels\n"
                                                : "yes\n";
    if (!r->writer) return t + "  writing: no\n";
    t += "  writes:";
    for (int m = 0; m < MAX_WRITE_VARIANTS && r->modes[m].kindMask != WV_END; ++m) {
        const WriteVariant& v = r->modes[m];
        t += (v.kindMask & KIND_ANY_TRUECOLOUR) ? " true-colour"
             : (v.kindMask & IMG_PALETTE)      ? " palette"
             : (v.kindMask & IMG_GREY)         ? " grey"
                                               : " black-and-white";
        if (v.maxColours > 0 && !(v.kindMask & (KIND_ANY_TRUECOLOUR | IMG_BINARY)))
            t += "(" + std::to_string(v.maxColours) + ")";
        if (v.width > 0) t += "[" + std::to_string(v.width) + "x" + std::to_string(v.height) + " only]";
    }
    if (r->modes[0].kindMask == WV_END) t += " any picture";
    t += "\n  (other pictures are converted to the nearest kind it writes)\n  options:";
    static const char* const FLAGS[] = {"", "-c", "-q", "-i"};
    bool any = false;
    for (int slot = WRITER_SLOT_COMPRESSION; slot <= WRITER_SLOT_PROGRESSIVE; ++slot) {
        const WriterOption* w = findWriterOption(r->shortName, slot);
        if (!w) continue;
        any = true;
        t += std::string("\n    ") + FLAGS[slot] + " " + std::to_string(w->minimum) + ".." +
             std::to_string(w->maximum) + " (" + w->name + ", default " + std::to_string(w->defaultValue) +
             "): " + w->meaning;
        for (int c = 0; c < WRITER_OPTION_MAX_CHOICES && w->choices[c]; ++c)
            t += "\n        " + std::to_string(w->minimum + c) + " = " + w->choices[c];
    }
    t += any ? "\n" : " none (-c, -q and -i are refused)\n";
    return t;
}
