// Win32 side of the operation dialog helpers: a plain owner window, fake
// preview hooks, and a thread timer that finds the modal dialog and drives it.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "app.h"
#include "gui.h"
#include "opdialogs.h"
#include "opdialogs_gui.h"

namespace opgui {

namespace {

HWND asWindow(Dialog d) { return static_cast<HWND>(d); }

// The owner of the dialog being run: a plain window made for each run and
// destroyed after it, so that nothing stays behind for the frame's tests.
HWND g_owner = nullptr;

HWND ownerWindow() { return g_owner; }

void makeOwner() {
    if (!g_frame.instance) g_frame.instance = GetModuleHandleA(nullptr);
    g_owner = CreateWindowA("STATIC", "Kaleos dialog owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 320, 200,
                            nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void dropOwner() {
    if (g_owner) DestroyWindow(g_owner);
    g_owner = nullptr;
}

struct Job {
    Act act;
    void* datum;
    bool done;
};
Job g_job;

struct FindData {
    HWND found;
};

BOOL CALLBACK findDialog(HWND w, LPARAM lParam) {
    char name[16];
    if (GetClassNameA(w, name, sizeof name) && strcmp(name, "#32770") == 0 && IsWindowVisible(w) &&
        GetWindow(w, GW_OWNER) == ownerWindow()) {
        reinterpret_cast<FindData*>(lParam)->found = w;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK jobTimer(HWND, UINT, UINT_PTR id, DWORD) {
    if (g_job.done) {
        KillTimer(nullptr, id);
        return;
    }
    FindData data{nullptr};
    EnumThreadWindows(GetCurrentThreadId(), findDialog, reinterpret_cast<LPARAM>(&data));
    if (!data.found) return;
    g_job.done = true;
    KillTimer(nullptr, id);
    g_job.act(data.found, g_job.datum);
}

bool runJob(Act act, void* datum) {
    g_job = Job{act, datum, false};
    SetTimer(nullptr, 0, 50, jobTimer);
    return true;
}

bool fakeShow(void* context, int commandId, const MenuOpParams& params) {
    PreviewLog* log = static_cast<PreviewLog*>(context);
    ++log->shows;
    log->lastCommand = commandId;
    log->last = params;
    return !log->failShows;
}

void fakeRestore(void* context) { ++static_cast<PreviewLog*>(context)->restores; }

}  // namespace

int runOperation(int command, int width, int height, PreviewLog* preview, Act act, void* datum,
                 MenuOpParams* params) {
    OwnedImage image;
    if (!createImage(&image, IMG_RGB, 4, width, height)) return -1;
    OpPreview hooks{preview, &image, fakeShow, fakeRestore};
    makeOwner();
    runJob(act, datum);
    int result = runOperationDialog(ownerWindow(), command, image, preview ? &hooks : nullptr, params);
    bool shown = g_job.done;
    g_job.done = true;
    gui::pump(20);
    dropOwner();
    return shown ? result : -1;
}

int runConversion(const std::string& fileName, unsigned groups, Act act, void* datum) {
    makeOwner();
    runJob(act, datum);
    int code = runConversionChoiceDialog(ownerWindow(), fileName.c_str(), groups);
    bool shown = g_job.done;
    g_job.done = true;
    gui::pump(20);
    dropOwner();
    return shown ? code : -1;
}

std::string title(Dialog d) {
    char buffer[256];
    int n = GetWindowTextA(asWindow(d), buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string text(Dialog d, int id) {
    char buffer[256];
    int n = GetDlgItemTextA(asWindow(d), id, buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}

bool enabled(Dialog d, int id) { return IsWindowEnabled(GetDlgItem(asWindow(d), id)) != 0; }

bool checked(Dialog d, int id) { return IsDlgButtonChecked(asWindow(d), id) == BST_CHECKED; }

void click(Dialog d, int id) { SendMessageA(GetDlgItem(asWindow(d), id), BM_CLICK, 0, 0); }

void scroll(Dialog d, int id, ScrollAction action, int position) {
    static const int CODES[] = {SB_LINELEFT, SB_LINERIGHT, SB_PAGELEFT, SB_PAGERIGHT, SB_THUMBTRACK, SB_THUMBPOSITION};
    HWND bar = GetDlgItem(asWindow(d), id);
    SendMessageA(asWindow(d), WM_HSCROLL, MAKEWPARAM(CODES[action], position), reinterpret_cast<LPARAM>(bar));
    SendMessageA(asWindow(d), WM_HSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), reinterpret_cast<LPARAM>(bar));
}

int scrollPosition(Dialog d, int id) { return GetScrollPos(GetDlgItem(asWindow(d), id), SB_CTL); }

int scrollMaximum(Dialog d, int id) {
    int lo = 0, hi = 0;
    GetScrollRange(GetDlgItem(asWindow(d), id), SB_CTL, &lo, &hi);
    return hi;
}

void type(Dialog d, int id, const std::string& value) { SetDlgItemTextA(asWindow(d), id, value.c_str()); }

void arrowUp(Dialog d, int editId) {
    HWND edit = GetDlgItem(asWindow(d), editId);
    SetFocus(edit);
    SendMessageA(edit, WM_KEYDOWN, VK_UP, 0);
    SendMessageA(edit, WM_KEYUP, VK_UP, 0);
}

int comboCount(Dialog d, int id) { return static_cast<int>(SendDlgItemMessageA(asWindow(d), id, CB_GETCOUNT, 0, 0)); }

int comboSelection(Dialog d, int id) {
    return static_cast<int>(SendDlgItemMessageA(asWindow(d), id, CB_GETCURSEL, 0, 0));
}

std::string comboText(Dialog d, int id, int index) {
    char buffer[256] = {};
    LRESULT n = SendDlgItemMessageA(asWindow(d), id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer));
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

void chooseCombo(Dialog d, int id, int index) {
    HWND combo = GetDlgItem(asWindow(d), id);
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    SendMessageA(asWindow(d), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
}

void answerNextBox(const std::string& boxTitle, int button) { gui::answerNextMessageBox(boxTitle, button); }

int lastValue(int slot) { return slot >= 0 && slot < LAST_VALUE_COUNT ? g_settings.lastValue[slot] : 0; }

void setLastValue(int slot, int value) {
    if (slot >= 0 && slot < LAST_VALUE_COUNT) g_settings.lastValue[slot] = value;
}

bool autoView() { return g_settings.autoView != 0; }

void setAutoView(bool on) { g_settings.autoView = on ? 1 : 0; }

int resample() { return g_settings.resample; }

void setResample(int method) { g_settings.resample = static_cast<int16_t>(method); }

}  // namespace opgui
