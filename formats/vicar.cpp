// VICAR images (reader only).
//
// A text label of KEY=value items (integers, reals, 'quoted strings',
// (lists)) starting with LBLSIZE, the label's length; the system items come
// first and end at the first TASK item. After the label and NLB binary header
// records come fixed-length records of RECSIZE bytes, each starting with NBB
// binary prefix bytes: one record per line of one band (BSQ: band after band;
// BIL: bands of a line after one another) or per line of all bands (BIP).
// Samples are BYTE, HALF (16-bit), FULL (32-bit) integers, REAL or DOUB
// floats, little-endian unless INTFMT='HIGH' / REALFMT='IEEE' (REALFMT='VAX',
// the default, gives VAX F floats). Wider samples are spread over 0..255
// between their smallest and largest values. One band is grey; three or more
// give red, green and blue from the first three.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec.h"
#include "codecs.h"
#include "kaleocore.h"
#include "rowkit.h"
#include "stream.h"

namespace {

const char MSG_BAD_FORMAT[] = "VICAR : Unsupported format !";
const char MSG_BAD_LABEL[] = "VICAR : Bad label !";

constexpr int64_t MAX_LABEL_READ = 1 << 18;  // the system items come well before this

enum SampleKind { S_BYTE, S_HALF, S_FULL, S_REAL, S_DOUB };
enum Organisation { ORG_BSQ, ORG_BIL, ORG_BIP };

struct VicarLabel {
    int64_t lblsize = -1;
    int64_t nl = -1, ns = -1, nb = -1, n1 = -1, n2 = -1, n3 = -1;
    int64_t recsize = -1, nbb = 0, nlb = 0;
    char format[8] = "BYTE";
    char org[8] = "BSQ";
    char intfmt[8] = "LOW";
    char realfmt[8] = "VAX";
};

bool keyChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

void copyValue(char (&dst)[8], const char* v, size_t n) {
    n = n < sizeof dst - 1 ? n : sizeof dst - 1;
    memcpy(dst, v, n);
    dst[n] = '\0';
}

bool parseInteger(const char* v, size_t n, int64_t* out) {
    if (n == 0 || n > 18) return false;
    int64_t x = 0;
    size_t i = 0;
    const bool negative = v[0] == '-';
    if (v[0] == '-' || v[0] == '+') ++i;
    if (i == n) return false;
    for (; i < n; ++i) {
        if (v[i] < '0' || v[i] > '9') return false;
        x = x * 10 + (v[i] - '0');
    }
    *out = negative ? -x : x;
    return true;
}

// Parses the items of text[0, n) into the label; false when the text is not
// a run of items.
bool parseLabel(const char* text, size_t n, VicarLabel* l) {
    size_t i = 0;
    bool first = true;
    while (i < n) {
        while (i < n && text[i] == ' ') ++i;
        if (i == n || text[i] == '\0') break;
        const size_t k0 = i;
        while (i < n && keyChar(text[i])) ++i;
        const size_t k1 = i;
        while (i < n && text[i] == ' ') ++i;
        if (k1 == k0 || i == n || text[i] != '=') return !first;
        ++i;
        while (i < n && text[i] == ' ') ++i;
        size_t v0 = i, v1;
        if (i < n && text[i] == '\'') {
            v0 = ++i;
            while (i < n && !(text[i] == '\'' && (i + 1 == n || text[i + 1] != '\''))) i += text[i] == '\'' ? 2 : 1;
            v1 = i < n ? i : n;
            if (i < n) ++i;
        } else if (i < n && text[i] == '(') {
            while (i < n && text[i] != ')') ++i;
            v1 = i;
            if (i < n) ++i;
        } else {
            while (i < n && text[i] != ' ' && text[i] != '\0') ++i;
            v1 = i;
        }
        const char* key = text + k0;
        const size_t kn = k1 - k0;
        auto is = [&](const char* name) { return kn == strlen(name) && memcmp(key, name, kn) == 0; };
        const char* v = text + v0;
        const size_t vn = v1 - v0;
        if (first && !is("LBLSIZE")) return false;
        first = false;
        if (is("TASK")) break;  // history items follow
        int64_t x;
        if (is("LBLSIZE") && parseInteger(v, vn, &x)) l->lblsize = x;
        else if (is("NL") && parseInteger(v, vn, &x)) l->nl = x;
        else if (is("NS") && parseInteger(v, vn, &x)) l->ns = x;
        else if (is("NB") && parseInteger(v, vn, &x)) l->nb = x;
        else if (is("N1") && parseInteger(v, vn, &x)) l->n1 = x;
        else if (is("N2") && parseInteger(v, vn, &x)) l->n2 = x;
        else if (is("N3") && parseInteger(v, vn, &x)) l->n3 = x;
        else if (is("RECSIZE") && parseInteger(v, vn, &x)) l->recsize = x;
        else if (is("NBB") && parseInteger(v, vn, &x)) l->nbb = x;
        else if (is("NLB") && parseInteger(v, vn, &x)) l->nlb = x;
        else if (is("FORMAT")) copyValue(l->format, v, vn);
        else if (is("ORG")) copyValue(l->org, v, vn);
        else if (is("INTFMT")) copyValue(l->intfmt, v, vn);
        else if (is("REALFMT")) copyValue(l->realfmt, v, vn);
    }
    return !first;
}

// Lines and samples, from NL/NS or else the dimensions they stand for.
void dimensions(const VicarLabel& l, int64_t* lines, int64_t* samples, int64_t* bands) {
    const bool bip = strcmp(l.org, "BIP") == 0, bil = strcmp(l.org, "BIL") == 0;
    *samples = l.ns > 0 ? l.ns : bip ? l.n2 : l.n1;
    *lines = l.nl > 0 ? l.nl : bip ? l.n3 : bil ? l.n3 : l.n2;
    *bands = l.nb > 0 ? l.nb : bip ? l.n1 : bil ? l.n2 : l.n3;
    if (*bands < 1) *bands = 1;
}

struct VicarDecoder {
    SampleKind kind;
    int size;
    bool bigInts;
    int realForm;  // 0 little-endian IEEE, 1 big-endian IEEE, 2 VAX
    double low = 0, span = 0;
};

double sampleAt(const VicarDecoder& d, const uint8_t* p) {
    switch (d.kind) {
        case S_BYTE:
            return p[0];
        case S_HALF:
            return static_cast<int16_t>(d.bigInts ? loadU16BE(p) : loadU16LE(p));
        case S_FULL:
            return static_cast<int32_t>(d.bigInts ? loadU32BE(p) : loadU32LE(p));
        case S_REAL: {
            uint32_t u;
            if (d.realForm == 2) u = (static_cast<uint32_t>(p[1]) << 24) | (p[0] << 16) | (p[3] << 8) | p[2];
            else u = d.realForm == 1 ? loadU32BE(p) : loadU32LE(p);
            float f;
            memcpy(&f, &u, sizeof f);
            if (d.realForm == 2) return ((u >> 23) & 0xFF) == 0 ? 0.0 : f / 4.0;
            return f;
        }
        default: {
            const uint64_t hi = d.realForm == 1 ? loadU32BE(p) : loadU32LE(p + 4);
            const uint64_t lo = d.realForm == 1 ? loadU32BE(p + 4) : loadU32LE(p);
            const uint64_t u = (hi << 32) | lo;
            double v;
            memcpy(&v, &u, sizeof v);
            return v;
        }
    }
}

}  // namespace

bool acceptVicar(const uint8_t* head, size_t n, int64_t fileSize) {
    VicarLabel l;
    if (n < 16 || memcmp(head, "LBLSIZE", 7) != 0) return false;
    if (!parseLabel(reinterpret_cast<const char*>(head), n, &l)) return false;
    int64_t lines, samples, bands;
    dimensions(l, &lines, &samples, &bands);
    return l.lblsize >= 16 && l.lblsize <= fileSize && lines >= 1 && samples >= 1;
}

Status readVicar(FILE* stream, LoadRequest* request) {
    char head[16];
    if (!readBlock(stream, head, sizeof head) || memcmp(head, "LBLSIZE", 7) != 0) return ST_UNKNOWN_FORMAT;
    VicarLabel l;
    {
        // The label as far as its items go, LBLSIZE giving its length.
        int64_t lblsize;
        size_t i = 7;
        while (i < sizeof head && (head[i] == ' ' || head[i] == '=')) ++i;
        size_t j = i;
        while (j < sizeof head && head[j] >= '0' && head[j] <= '9') ++j;
        if (!parseInteger(head + i, j - i, &lblsize) || lblsize < 16) return ST_UNKNOWN_FORMAT;
        const int64_t read = lblsize < MAX_LABEL_READ ? lblsize : MAX_LABEL_READ;
        Buffer text = allocBuffer(static_cast<uint64_t>(read));
        if (!text) return ST_NO_MEMORY;
        memcpy(text.get(), head, sizeof head);
        if (!readBlock(stream, text.get() + sizeof head, static_cast<size_t>(read - 16))) return ST_READ_ERROR;
        if (!parseLabel(reinterpret_cast<const char*>(text.get()), static_cast<size_t>(read), &l))
            return ST_UNKNOWN_FORMAT;
    }
    int64_t lines, samples, bands;
    dimensions(l, &lines, &samples, &bands);

    VicarDecoder d;
    static const struct {
        const char* name;
        SampleKind kind;
        int size;
    } kFormats[] = {{"BYTE", S_BYTE, 1}, {"HALF", S_HALF, 2}, {"WORD", S_HALF, 2}, {"FULL", S_FULL, 4},
                    {"LONG", S_FULL, 4}, {"REAL", S_REAL, 4}, {"DOUB", S_DOUB, 8}};
    d.size = 0;
    for (const auto& f : kFormats) {
        if (strcmp(l.format, f.name) == 0) {
            d.kind = f.kind;
            d.size = f.size;
        }
    }
    d.bigInts = strcmp(l.intfmt, "HIGH") == 0;
    d.realForm = strcmp(l.realfmt, "IEEE") == 0 ? 1 : strcmp(l.realfmt, "RIEEE") == 0 ? 0 : 2;
    const Organisation org = strcmp(l.org, "BIL") == 0 ? ORG_BIL : strcmp(l.org, "BIP") == 0 ? ORG_BIP : ORG_BSQ;
    if (d.size == 0 || (d.kind == S_DOUB && d.realForm == 2) || (strcmp(l.org, "BSQ") != 0 && org == ORG_BSQ)) {
        setReaderMessage(request, MSG_BAD_FORMAT);
        return ST_BAD_FILE;
    }
    const int64_t side = MAX_IMAGE_SIDE;
    if (lines < 1 || samples < 1 || lines > side || samples > side || bands > 65535 || l.nbb < 0 || l.nlb < 0 ||
        l.nbb > (1 << 20) || l.nlb > (1 << 20)) {
        setReaderMessage(request, MSG_BAD_LABEL);
        return ST_BAD_FILE;
    }
    const int64_t lineBytes = samples * d.size * (org == ORG_BIP ? bands : 1);
    const int64_t recsize = l.recsize > 0 ? l.recsize : l.nbb + lineBytes;
    if (recsize < l.nbb + lineBytes || recsize > (int64_t(1) << 24)) {
        setReaderMessage(request, MSG_BAD_LABEL);
        return ST_BAD_FILE;
    }
    if (lineBytes > request->fileSize) return ST_READ_ERROR;  // not even one record
    const bool rgb = bands >= 3;
    const int shown = rgb ? 3 : 1;

    RasterHeader rh{};
    rh.layout = rgb ? PL_CHANNEL_PLANES : PL_BYTE_PIXELS;
    rh.channels = 1;
    rh.width = static_cast<int32_t>(samples);
    rh.height = static_cast<int32_t>(lines);
    rh.planes = static_cast<int16_t>(shown);
    rh.bitsPerPlane = 8;
    rh.bytesPerPlane = rh.width;
    char name[32];
    snprintf(name, sizeof name, "VICAR (%s)", l.format);
    setRasterName(rh.name, name);
    Status st = beginImage(&rh);
    if (st != ST_OK) return st;

    const uint64_t dataStart = static_cast<uint64_t>(l.lblsize) + static_cast<uint64_t>(l.nlb) * recsize;
    // Offset of the record holding line y of band b, and of band b's first sample in it.
    auto recordOf = [&](int64_t y, int64_t b) -> uint64_t {
        const int64_t r = org == ORG_BSQ ? b * lines + y : org == ORG_BIL ? y * bands + b : y;
        return dataStart + static_cast<uint64_t>(r) * recsize + l.nbb;
    };
    Buffer record = allocBuffer(static_cast<uint64_t>(lineBytes));
    Buffer out = allocBuffer(static_cast<uint64_t>(samples));
    if (!record || !out) st = ST_NO_MEMORY;
    const int64_t step = org == ORG_BIP ? bands * d.size : d.size;
    const int64_t bandOffset = org == ORG_BIP ? d.size : 0;  // for BIP, within the record
    // Every (band, line) in file order: band-major for BSQ, line-major otherwise.
    const int64_t total = shown * lines;
    auto visit = [&](int64_t i, int64_t* y, int64_t* b) {
        if (org == ORG_BSQ) *b = i / lines, *y = i % lines;
        else *y = i / shown, *b = i % shown;
    };
    if (st == ST_OK && d.kind != S_BYTE) {
        // First pass: the range of the values shown (what there is of a cut file).
        bool any = false;
        double lo = 0, hi = 0;
        for (int64_t i = 0; i < total; ++i) {
            int64_t y, b;
            visit(i, &y, &b);
            const uint64_t at = recordOf(y, org == ORG_BIP ? 0 : b);
            if (!seekTo(stream, at) || !readBlock(stream, record.get(), static_cast<size_t>(lineBytes))) break;
            for (int64_t x = 0; x < samples; ++x) {
                const double v = sampleAt(d, record.get() + x * step + (org == ORG_BIP ? b * bandOffset : 0));
                if (!std::isfinite(v)) continue;
                if (!any || v < lo) lo = v;
                if (!any || v > hi) hi = v;
                any = true;
            }
        }
        d.low = lo;
        d.span = hi - lo;
    }
    for (int64_t i = 0; st == ST_OK && i < total; ++i) {
        int64_t y, b;
        visit(i, &y, &b);
        const uint64_t at = recordOf(y, org == ORG_BIP ? 0 : b);
        if (!seekTo(stream, at) || !readBlock(stream, record.get(), static_cast<size_t>(lineBytes))) {
            st = ST_READ_ERROR;
            break;
        }
        uint8_t* o = out.get();
        for (int64_t x = 0; x < samples; ++x) {
            const uint8_t* p = record.get() + x * step + (org == ORG_BIP ? b * bandOffset : 0);
            if (d.kind == S_BYTE) {
                o[x] = *p;
                continue;
            }
            const double v = sampleAt(d, p);
            if (!std::isfinite(v)) o[x] = 0;
            else if (d.span <= 0) o[x] = v > 0 ? 255 : 0;
            else {
                const double s = std::floor((v - d.low) / d.span * 255.0);
                o[x] = static_cast<uint8_t>(s < 0 ? 0 : s > 255 ? 255 : s);
            }
        }
        st = deliverRow(o, samples, static_cast<int32_t>(y), rgb ? static_cast<int>(b) : -1);
    }
    endImage(0, 0, nullptr);
    return st;
}
