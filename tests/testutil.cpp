#include "testutil.h"
#include "kit.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testutil {

static std::string tempDir() {
    static std::string dir;
    if (dir.empty()) {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kaleotest.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data())) dir = buf.data();
        else dir = "/tmp";
    }
    return dir;
}

std::string tempPath(const std::string& name) { return tempDir() + "/" + name; }

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
    fclose(f);
    return true;
}

int run(const std::string& command) {
    int rc = system(command.c_str());
    if (rc == -1) return -1;
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

bool haveProgram(const std::string& name) {
    return run("command -v " + name + " >/dev/null 2>&1") == 0;
}

bool readPnmReference(const std::string& path, Rgb* out) {
    std::vector<uint8_t> b;
    if (!readFile(path, &b) || b.size() < 3 || b[0] != 'P' || (b[1] != '5' && b[1] != '6')) return false;
    unsigned maxval = 0;
    return readPeerPnm(path, out, &maxval) && maxval == 255;
}

Rgb toRgb(const Image& image) {
    Rgb out;
    out.width = image.width;
    out.height = image.height;
    out.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* row = image.pixels + static_cast<size_t>(y) * image.stride;
        for (int x = 0; x < image.width; ++x) {
            uint8_t* d = &out.pixels[(static_cast<size_t>(y) * image.width + x) * 3];
            switch (image.kind) {
            case IMG_BINARY: d[0] = d[1] = d[2] = row[x] ? 255 : 0; break;
            case IMG_GREY: {
                int c = image.colours > 1 ? image.colours : 256;
                uint8_t v = static_cast<uint8_t>(row[x] * 255 / (c - 1));
                d[0] = d[1] = d[2] = v;
                break;
            }
            case IMG_PALETTE:
                d[0] = image.palette[row[x]];
                d[1] = image.palette[256 + row[x]];
                d[2] = image.palette[512 + row[x]];
                break;
            case IMG_RGB: memcpy(d, row + x * 3, 3); break;
            case IMG_BGR: d[0] = row[x * 3 + 2]; d[1] = row[x * 3 + 1]; d[2] = row[x * 3]; break;
            case IMG_RGB32: memcpy(d, row + x * 4, 3); break;
            case IMG_BGR32: d[0] = row[x * 4 + 3]; d[1] = row[x * 4 + 2]; d[2] = row[x * 4 + 1]; break;
            default: break;
            }
        }
    }
    return out;
}

long compareRgb(const Rgb& a, const Rgb& b, int tolerance) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return -1;
    long diff = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) diff += std::abs(a.pixels[i] - b.pixels[i]) > tolerance;
    return diff;
}

Status load(const std::string& path, Image* image, uint16_t flags, FileInfo* info) {
    IoOptions o = defaultIoOptions();
    o.flags = flags;
    return loadImage(path.c_str(), image, &o, info);
}

Status loadBytesNamed(const char* shortName, const std::string& name, const std::vector<uint8_t>& bytes, Image* image,
                      FileInfo* info, int page) {
    static int counter = 0;
    const std::string path = tempPath("hand" + std::to_string(counter++) + name);
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    freeImage(image);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat(shortName));
    o.pageIndex = page;
    return loadImage(path.c_str(), image, &o, info);
}

Status loadBytesAs(const char* shortName, const std::vector<uint8_t>& bytes, Image* image, uint16_t flags,
                   FileInfo* info) {
    static int counter = 0;
    const int index = findFormat(shortName);
    std::string path = tempPath("hand" + std::to_string(counter++) + "." + shortName);
    if (!writeFile(path, bytes)) return ST_CANNOT_OPEN;
    freeImage(image);
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(index);
    o.flags = flags;
    return loadImage(path.c_str(), image, &o, info);
}

}  // namespace testutil
