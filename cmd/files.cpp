#include "files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

// The temporaries being written, in fixed slots that a signal handler can walk.
constexpr int TEMP_SLOTS = 512;
constexpr size_t TEMP_NAME = 4096;
char g_tempNames[TEMP_SLOTS][TEMP_NAME];
std::atomic<int> g_tempUsed[TEMP_SLOTS];
mode_t g_newFileMode = 0644;

void removeTemporariesAndDie(int sig) {
    for (int i = 0; i < TEMP_SLOTS; ++i)
        if (g_tempUsed[i].load()) unlink(g_tempNames[i]);
    signal(sig, SIG_DFL);
    raise(sig);
}

int remember(const std::string& path) {
    if (path.size() >= TEMP_NAME) return -1;
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        int expected = 0;
        if (g_tempUsed[i].compare_exchange_strong(expected, 2)) {  // 2: being filled
            memcpy(g_tempNames[i], path.c_str(), path.size() + 1);
            g_tempUsed[i].store(1);
            return i;
        }
    }
    return -1;
}

// Holds back the signals that remove the temporaries while a temporary is
// being made and remembered, so that none exists unremembered when they come.
struct SignalsHeld {
    sigset_t old;
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set, &old);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old, nullptr); }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

bool copyStream(int from, int to, std::string* reason) {
    char buf[65536];
    for (;;) {
        ssize_t n = read(from, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *reason = systemReason(errno);
            return false;
        }
        if (n == 0) return true;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(to, buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                *reason = systemReason(w < 0 ? errno : EIO);
                return false;
            }
            done += w;
        }
    }
}

}  // namespace

bool makeFolders(const std::string& folder, std::string* reason) {
    if (folder.empty() || isFolder(folder)) return true;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder), ec);
    if (ec && !isFolder(folder)) {
        *reason = ec.message();
        return false;
    }
    return true;
}

std::string systemReason(int err) {
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

void installSignalHandlers() {
    mode_t old = umask(0);
    umask(old);
    g_newFileMode = static_cast<mode_t>(0666 & ~old);
    signal(SIGINT, removeTemporariesAndDie);
    signal(SIGTERM, removeTemporariesAndDie);
    signal(SIGHUP, removeTemporariesAndDie);
    signal(SIGXFSZ, SIG_IGN);
}

bool createTemporary(const std::string& folder, std::string* path, std::string* reason) {
    std::string name = (folder.empty() ? std::string("./") : folder) + ".kaleocmd-XXXXXX";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    SignalsHeld held;
    int fd = mkstemp(buf.data());
    if (fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    close(fd);
    *path = buf.data();
    if (remember(*path) < 0) {
        unlink(path->c_str());
        *reason = "too many outputs at once";
        return false;
    }
    return true;
}

void releaseTemporary(const std::string& path, bool remove) {
    for (int i = 0; i < TEMP_SLOTS; ++i) {
        if (g_tempUsed[i].load() == 1 && path == g_tempNames[i]) {
            if (remove) unlink(path.c_str());
            g_tempUsed[i].store(0);
            return;
        }
    }
    if (remove) unlink(path.c_str());
}

CommitResult commitOutput(const std::string& temp, const std::string& output, bool replace, bool sync,
                          std::string* reason) {
    {
        FdCloser f{open(temp.c_str(), O_RDONLY | O_NOFOLLOW)};
        if (f.fd < 0 || fchmod(f.fd, g_newFileMode) != 0 || (sync && fsync(f.fd) != 0)) {
            *reason = systemReason(errno);
            return COMMIT_FAILED;
        }
    }
    if (replace) {
        if (rename(temp.c_str(), output.c_str()) == 0) return COMMIT_DONE;
        *reason = systemReason(errno);
        return COMMIT_FAILED;
    }
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, output.c_str(), RENAME_NOREPLACE) == 0) return COMMIT_DONE;
    if (errno == EEXIST) return COMMIT_EXISTS;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        *reason = systemReason(errno);
        return COMMIT_FAILED;
    }
    // A file system without the no-replace rename: a hard link is exclusive too.
    if (link(temp.c_str(), output.c_str()) == 0) {
        unlink(temp.c_str());
        return COMMIT_DONE;
    }
    if (errno == EEXIST) return COMMIT_EXISTS;
    *reason = systemReason(errno);
    return COMMIT_FAILED;
}

bool copyToStdout(const std::string& path, std::string* reason) {
    FdCloser f{open(path.c_str(), O_RDONLY)};
    if (f.fd < 0) {
        *reason = systemReason(errno);
        return false;
    }
    fflush(stdout);
    return copyStream(f.fd, STDOUT_FILENO, reason);
}

FILE* bufferStdin(int64_t* size, std::string* reason) {
    FILE* f = tmpfile();
    if (!f) {
        *reason = systemReason(errno);
        return nullptr;
    }
    fflush(f);
    if (!copyStream(STDIN_FILENO, fileno(f), reason)) {
        fclose(f);
        return nullptr;
    }
    off_t end = lseek(fileno(f), 0, SEEK_END);
    lseek(fileno(f), 0, SEEK_SET);
    rewind(f);
    *size = end < 0 ? 0 : static_cast<int64_t>(end);
    return f;
}

bool readNameList(const std::string& file, bool nul, std::vector<std::string>* names, std::string* reason) {
    FILE* f = file == "-" ? stdin : fopen(file.c_str(), "rb");
    if (!f) {
        *reason = systemReason(errno);
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> closer(f == stdin ? nullptr : f, fclose);
    std::string name;
    const int end = nul ? '\0' : '\n';
    for (int c; (c = fgetc(f)) != EOF;) {
        if (c != end) {
            name += static_cast<char>(c);
            continue;
        }
        if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
        if (!name.empty()) names->push_back(name);
        name.clear();
    }
    if (ferror(f)) {
        *reason = systemReason(errno);
        return false;
    }
    if (!nul && !name.empty() && name.back() == '\r') name.pop_back();
    if (!name.empty()) names->push_back(name);
    return true;
}

bool pathExists(const std::string& path) {
    struct stat sb;
    return lstat(path.c_str(), &sb) == 0;
}

bool isFolder(const std::string& path) {
    struct stat sb;
    return stat(path.c_str(), &sb) == 0 && S_ISDIR(sb.st_mode);
}

std::string canonicalPath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char buf[PATH_MAX];
    if (!realpath(folder.c_str(), buf)) return path;
    std::string f = buf;
    return (f.back() == '/' ? f : f + "/") + name;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return canonicalPath(a) == canonicalPath(b);
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

int64_t modifiedNs(const std::string& path) {
    struct stat sb;
    if (stat(path.c_str(), &sb) != 0) return -1;
    return static_cast<int64_t>(sb.st_mtim.tv_sec) * 1000000000 + sb.st_mtim.tv_nsec;
}
