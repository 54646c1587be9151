// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file inside the folders named there, goes once through the target.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool readWhole(const std::string& path, std::vector<uint8_t>* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

bool collect(const std::string& path, std::vector<std::string>* files) {
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0) return false;
    if (!S_ISDIR(sb.st_mode)) {
        files->push_back(path);
        return true;
    }
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    std::vector<std::string> found;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string full = path + "/" + name;
        if (stat(full.c_str(), &sb) == 0 && S_ISREG(sb.st_mode)) found.push_back(full);
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (!collect(argv[i], &files)) {
            fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 1;
        }
    }
    if (files.empty()) {
        fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    std::vector<uint8_t> data;
    for (const std::string& path : files) {
        if (!readWhole(path, &data)) {
            fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 1;
        }
        fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), data.size());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    fprintf(stderr, "replay: %zu inputs passed\n", files.size());
    return 0;
}
