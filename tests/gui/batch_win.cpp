// Win32 side of the batch conversions' GUI test helpers.
#include <windows.h>

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>

#include "app.h"
#include "batch.h"
#include "batch_gui.h"
#include "kaleocore.h"
#include "gui.h"

extern char** environ;

namespace batchgui {

namespace {
HWND asWindow(void* dialog) { return static_cast<HWND>(dialog); }
}  // namespace

std::string unixPathOf(const std::string& windowsPath) { return libraryPath(windowsPath.c_str()); }

bool moveFolder(const std::string& from, const std::string& to) { return MoveFileA(from.c_str(), to.c_str()) != 0; }

std::string writePicture(const std::string& folder, const std::string& name, const char* format, int kind, int width,
                         int height) {
    static const uint16_t KINDS[] = {IMG_BINARY, IMG_GREY, IMG_PALETTE, IMG_RGB};
    OwnedImage image;
    if (kind < 0 || kind > 3 || !createImage(&image, KINDS[kind], 4, width, height)) return std::string();
    for (int y = 0; y < height; ++y) {
        uint8_t* row = imageRow(&image, y);
        for (int x = 0; x < width * image.bytesPerPixel; ++x) {
            uint8_t v = static_cast<uint8_t>((x * 13 + y * 7 + (x / 3) * (y % 5) * 11) & 0xFF);
            row[x] = kind == 0 ? (v >> 3) & 1 : v;
        }
    }
    if (kind == 2) {
        for (int i = 0; i < 256; ++i) {
            image.palette[i] = static_cast<uint8_t>(i);
            image.palette[256 + i] = static_cast<uint8_t>(255 - i);
            image.palette[512 + i] = static_cast<uint8_t>(i * 5);
        }
        image.colours = 256;
    }
    if (kind == 1) image.colours = 256;
    if (kind == 0) image.colours = 2;
    std::string path = folder + name;
    std::string unixPath = libraryPath(path.c_str());
    char file[FILE_NAME_LEN];
    copyText(file, sizeof file, unixPath.c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(findFormat(format));
    return !unixPath.empty() && saveImage(file, &image, &o) == ST_OK ? path : std::string();
}

bool writesEveryKindItClaims(int formatIndex, const std::string& folder) {
    static const uint16_t KINDS[] = {IMG_BINARY, IMG_GREY, IMG_PALETTE, IMG_RGB};
    for (uint16_t kind : KINDS) {
        OwnedImage image;
        if (!createImage(&image, kind, 4, 16, 16)) return false;
        image.colours = kind == IMG_BINARY ? 2 : 256;
        const WriteVariant* v = nullptr;
        if (!findWriteVariant(formatIndex, &image, &v) || (v && v->width > 0)) continue;
        std::string unixPath = libraryPath((folder + "probe").c_str());
        char file[FILE_NAME_LEN];
        copyText(file, sizeof file, unixPath.c_str());
        IoOptions o = defaultIoOptions();
        o.formatIndex = static_cast<int16_t>(formatIndex);
        Status st = saveImage(file, &image, &o);
        DeleteFileA((folder + "probe").c_str());
        if (st != ST_OK) return false;
    }
    return true;
}

bool samePicture(const std::string& a, const std::string& b) {
    OwnedImage x, y;
    IoOptions o = defaultIoOptions();
    FileInfo fi;
    if (loadImage(libraryPath(a.c_str()).c_str(), &x, &o, &fi) != ST_OK) return false;
    if (loadImage(libraryPath(b.c_str()).c_str(), &y, &o, &fi) != ST_OK) return false;
    if (x.kind != y.kind || x.width != y.width || x.height != y.height) return false;
    if ((x.palette != nullptr) != (y.palette != nullptr) || (x.palette && memcmp(x.palette, y.palette, 768) != 0))
        return false;
    size_t row = static_cast<size_t>(x.width) * x.bytesPerPixel;
    for (int32_t r = 0; r < x.height; ++r)
        if (memcmp(imageRow(&x, r), imageRow(&y, r), row) != 0) return false;
    return true;
}

std::vector<std::string> folderFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && fd.cFileName[0] != '.') names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

int temporariesIn(const std::string& folder) {
    int n = 0;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        if (strncmp(fd.cFileName, ".kaleos-", 8) == 0 || strncmp(fd.cFileName, ".KALEOS-", 8) == 0) ++n;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return n;
}

void setJobs(const std::vector<OpInstance>& list) { batchJobList() = list; }
std::vector<OpInstance> jobs() { return batchJobList(); }
void forgetConversionCode() { resetRememberedConversion(); }
int conversionCode() { return rememberedConversion(); }

void addFiles(void* dialog, const std::vector<std::string>& files) { batchAddFiles(asWindow(dialog), files); }
std::vector<int> outputFormats(void* dialog) { return batchOutputFormats(asWindow(dialog)); }

namespace {
bool selectByData(HWND combo, int data) {
    int n = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i)
        if (static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)) == data) {
            SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            return true;
        }
    return false;
}
}  // namespace

bool selectOutputFormat(void* dialog, int formatIndex) {
    return selectByData(GetDlgItem(asWindow(dialog), IDC_BATCH_FORMAT), formatIndex);
}
bool selectSourceFormat(void* dialog, int formatIndex) {
    return selectByData(GetDlgItem(asWindow(dialog), IDC_SEQ_IN_FORMAT), formatIndex);
}
bool writeScript(void* dialog, const std::string& windowsPath) {
    return batchWriteScript(asWindow(dialog), windowsPath.c_str());
}

int listCount(void* dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(asWindow(dialog), id, LB_GETCOUNT, 0, 0));
}

std::string comboText(void* dialog, int id) {
    HWND combo = GetDlgItem(asWindow(dialog), id);
    LRESULT at = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    char text[256] = "";
    if (at >= 0) SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(text));
    return text;
}

void selectTableEntries(void* dialog, const std::vector<int>& indices) {
    HWND list = GetDlgItem(asWindow(dialog), IDC_OPC_TABLE);
    SendMessageA(list, LB_SETSEL, FALSE, -1);
    for (int i : indices) SendMessageA(list, LB_SETSEL, TRUE, i);
}

void selectJob(void* dialog, int position) {
    HWND d = asWindow(dialog);
    HWND list = GetDlgItem(d, IDC_OPC_JOBS);
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(position), 0);
    SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_OPC_JOBS, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

bool itemEnabled(void* dialog, int id) { return IsWindowEnabled(GetDlgItem(asWindow(dialog), id)) != 0; }

void selectMethod(void* dialog, int method) {
    HWND d = asWindow(dialog);
    HWND combo = GetDlgItem(d, IDC_OPC_METHOD);
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(method), 0);
    SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_OPC_METHOD, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void scroll(void* dialog, int barId, int request) {
    HWND d = asWindow(dialog);
    SendMessageA(d, WM_HSCROLL, MAKEWPARAM(request, 0), reinterpret_cast<LPARAM>(GetDlgItem(d, barId)));
}

int scrollPosition(void* dialog, int barId) { return GetScrollPos(GetDlgItem(asWindow(dialog), barId), SB_CTL); }

namespace {
void openOperations(void*) { showOperationsDialog(g_frame.frame); }
}  // namespace

bool withOperationsDialog(void (*act)(void*, void*), void* datum) {
    return gui::withDialogWhile(openOperations, nullptr, "Op\xe9rations avanc\xe9""es", act, datum);
}

Report lastRun() {
    const BatchRunReport& r = lastBatchRun();
    Report out;
    out.written = r.written;
    out.refused = r.refused;
    out.failed = r.failed;
    out.stopped = r.stopped;
    out.messages = r.messages;
    return out;
}

int runKaleocmd(const std::vector<std::string>& words) {
    std::string program = std::string(KALEO_BUILD_DIR) + "/kaleocmd";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace batchgui
