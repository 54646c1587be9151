// The test kit's peer oracles and picture helpers.
#include "kit.h"

#include <cctype>

namespace testutil {

// A raw P4, P5 or P6 of any maximum as R,G,B triplets: samples scaled as
// value x 255 / maximum, P4 bits 1 black. Used as the oracle for files that
// peers write or convert; shared with the SGI and Sun raster tests.
bool readPeerPnm(const std::string& path, Rgb* out, unsigned* maxvalOut) {
    std::vector<uint8_t> b;
    if (!readFile(path, &b) || b.size() < 3 || b[0] != 'P' || b[1] < '4' || b[1] > '6') return false;
    const char type = static_cast<char>(b[1]);
    size_t pos = 2;
    // Numbers after white space and comments.
    auto token = [&](unsigned long* v) {
        while (pos < b.size()) {
            if (isspace(b[pos])) ++pos;
            else if (b[pos] == '#') while (pos < b.size() && b[pos] != '\n') ++pos;
            else break;
        }
        if (pos >= b.size() || !isdigit(b[pos])) return false;
        *v = 0;
        while (pos < b.size() && isdigit(b[pos])) *v = *v * 10 + (b[pos++] - '0');
        return true;
    };
    unsigned long w, h, maxval = 1;
    if (!token(&w) || !token(&h) || (type != '4' && !token(&maxval)) || w == 0 || h == 0 || maxval == 0) return false;
    ++pos;
    out->width = static_cast<int>(w);
    out->height = static_cast<int>(h);
    out->pixels.assign(w * h * 3, 0);
    if (maxvalOut) *maxvalOut = static_cast<unsigned>(maxval);
    const int channels = type == '6' ? 3 : 1;
    const int sampleBytes = maxval > 255 ? 2 : 1;
    const size_t rowBytes = type == '4' ? (w + 7) / 8 : w * channels * sampleBytes;
    if (b.size() < pos + rowBytes * h) return false;
    for (size_t y = 0; y < h; ++y) {
        const uint8_t* row = &b[pos + y * rowBytes];
        for (size_t x = 0; x < w; ++x) {
            uint8_t* d = &out->pixels[(y * w + x) * 3];
            if (type == '4') {
                d[0] = d[1] = d[2] = (row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                size_t i = x * channels + (channels == 3 ? c : 0);
                unsigned long v = sampleBytes == 2 ? (row[2 * i] << 8 | row[2 * i + 1]) : row[i];
                d[c] = static_cast<uint8_t>(v >= maxval ? 255 : v * 255 / maxval);
            }
        }
    }
    return true;
}

// A deterministic picture with many colours, as a P6 with maximum 255 written here.
std::vector<uint8_t> patternP6(int w, int h) {
    std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> f(head.begin(), head.end());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            f.push_back(static_cast<uint8_t>(x * 255 / (w - 1)));
            f.push_back(static_cast<uint8_t>((x * 7 + y * 13) & 255));
            f.push_back(static_cast<uint8_t>(y * 255 / (h - 1) ^ (x & 8 ? 0x55 : 0)));
        }
    return f;
}

// The image's bytes row after row, without the row padding.
std::vector<uint8_t> pixelsOf(const Image& img) {
    std::vector<uint8_t> v;
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* r = img.pixels + static_cast<size_t>(y) * img.stride;
        v.insert(v.end(), r, r + static_cast<size_t>(img.width) * img.bytesPerPixel);
    }
    return v;
}

// The fourth byte of every pixel of a 4-byte image, as a grey picture.
Rgb alphaOf(const Image& img) {
    Rgb a;
    a.width = img.width;
    a.height = img.height;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            uint8_t v = imageRow(&img, y)[4 * x + (img.kind == IMG_BGR32 ? 0 : 3)];
            a.pixels.insert(a.pixels.end(), {v, v, v});
        }
    return a;
}

// A shell command with its placeholders replaced, in order; errors go nowhere.
std::string shell(std::string cmd, const std::vector<std::pair<std::string, std::string>>& names) {
    for (const auto& kv : names)
        for (size_t at; (at = cmd.find(kv.first)) != std::string::npos;) cmd.replace(at, kv.first.size(), kv.second);
    return cmd + " 2>/dev/null";
}


Status saveWithOptions(Image* image, const std::string& path, const char* shortName, IoOptions options) {
    options.formatIndex = static_cast<int16_t>(findFormat(shortName));
    std::vector<char> name(path.begin(), path.end());
    name.resize(FILE_NAME_LEN, '\0');
    return saveImage(name.data(), image, &options);
}

Status saveAs(Image* image, const std::string& path, const char* shortName, int16_t option1, int16_t option2,
              int16_t option3) {
    IoOptions o = defaultIoOptions();
    o.writerOption1 = option1;
    o.writerOption2 = option2;
    o.writerOption3 = option3;
    return saveWithOptions(image, path, shortName, o);
}

Status roundTrip(Image* image, const char* shortName, Image* back, int16_t option1, int16_t option2, int16_t option3) {
    static int counter = 0;
    const std::string path = tempPath(std::string("roundtrip") + std::to_string(counter++) + "." + shortName);
    Status st = saveAs(image, path, shortName, option1, option2, option3);
    if (st != ST_OK) return st;
    freeImage(back);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat(shortName));
    return loadImage(path.c_str(), back, &o, nullptr);
}

void putLE16(std::vector<uint8_t>* v, uint32_t x) {
    v->push_back(static_cast<uint8_t>(x));
    v->push_back(static_cast<uint8_t>(x >> 8));
}
void putLE32(std::vector<uint8_t>* v, uint32_t x) {
    putLE16(v, x & 0xFFFF);
    putLE16(v, x >> 16);
}
void putBE16(std::vector<uint8_t>* v, uint32_t x) {
    v->push_back(static_cast<uint8_t>(x >> 8));
    v->push_back(static_cast<uint8_t>(x));
}
void putBE32(std::vector<uint8_t>* v, uint32_t x) {
    putBE16(v, x >> 16);
    putBE16(v, x & 0xFFFF);
}

bool corpusPresent() {
    FILE* f = fopen((std::string(KALEO_CORPUS_DIR) + "/MANIFEST.md").c_str(), "rb");
    if (!f) return false;
    fclose(f);
    return true;
}

std::string corpusPath(const std::string& rel) { return std::string(KALEO_CORPUS_DIR) + "/" + rel; }

bool havePillow() {
    return haveProgram("/usr/bin/python3") && run("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
}

}  // namespace testutil
