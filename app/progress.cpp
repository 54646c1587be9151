// The progress window "KaleoProgress" shared by loads, saves and batch runs,
// and the busy state of the library while one of them pumps messages.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app.h"

#include <commctrl.h>

struct Progress {
    HWND dialog = nullptr;
    HWND owner = nullptr;
    bool ownerWasEnabled = false;
    bool stop = false;
    int total = 0;
    int position = 0;
    DWORD lastPump = 0;
};

namespace {

int g_busyDepth = 0;

struct PendingOpen {
    std::string path;
    int formatIndex;
};
std::vector<PendingOpen> g_pendingOpens;

INT_PTR CALLBACK progressProc(HWND dialog, UINT msg, WPARAM, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreDialog(dialog);
        return TRUE;
    case WM_COMMAND: {
        // Any command of the dialog ("Annuler", or Esc) asks the operation to stop.
        Progress* p = reinterpret_cast<Progress*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (p) p->stop = true;
        return TRUE;
    }
    case WM_CLOSE: {
        Progress* p = reinterpret_cast<Progress*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (p) p->stop = true;
        return TRUE;
    }
    }
    return FALSE;
}

}  // namespace

Progress* openProgress(HWND owner, const char* title, const char* text, bool allowStop) {
    Progress* p = new (std::nothrow) Progress;
    if (!p) return nullptr;
    p->owner = owner;
    p->dialog = CreateDialogParamA(g_frame.instance, "KaleoProgress", owner, progressProc, reinterpret_cast<LPARAM>(p));
    if (!p->dialog) {
        delete p;
        return nullptr;
    }
    if (title) SetWindowTextA(p->dialog, title);
    if (text) SetDlgItemTextA(p->dialog, IDC_PROGRESS_TEXT, text);
    if (!allowStop) ShowWindow(GetDlgItem(p->dialog, IDCANCEL), SW_HIDE);
    ShowWindow(p->dialog, SW_SHOW);
    UpdateWindow(p->dialog);
    if (owner) {
        p->ownerWasEnabled = !EnableWindow(owner, FALSE);
    }
    p->stop = false;
    return p;
}

void progressSetText(Progress* p, const char* text) {
    if (p && p->dialog) SetDlgItemTextA(p->dialog, IDC_PROGRESS_TEXT, text);
}

void progressSetTotal(Progress* p, int total) {
    if (!p || !p->dialog) return;
    p->total = total > 0 ? total : 0;
    p->position = 0;
    HWND bar = GetDlgItem(p->dialog, IDC_PROGRESS_BAR);
    SendMessageA(bar, PBM_SETRANGE32, 0, p->total);
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
}

void progressStep(Progress* p) {
    if (!p || !p->dialog) return;
    ++p->position;
    SendMessageA(GetDlgItem(p->dialog, IDC_PROGRESS_BAR), PBM_STEPIT, 0, 0);
}

bool progressPump(Progress* p) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT) break;  // left for the main loop
        if (!GetMessageA(&msg, nullptr, 0, 0)) break;
        if (p && p->dialog && IsDialogMessageA(p->dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (!p) return false;
    bool stop = p->stop;
    p->stop = false;
    return stop;
}

void closeProgress(Progress* p) {
    if (!p) return;
    if (p->owner && p->ownerWasEnabled) EnableWindow(p->owner, TRUE);
    if (p->dialog) DestroyWindow(p->dialog);
    if (p->owner && IsWindow(p->owner)) SetActiveWindow(g_frame.frame);
    delete p;
}

bool progressVisible(const Progress* p) { return p && p->dialog && IsWindowVisible(p->dialog); }

int progressCallback(int32_t row, int32_t total, void* datum) {
    Progress* p = static_cast<Progress*>(datum);
    if (!p || !p->dialog) return 0;
    if (total != p->total) progressSetTotal(p, total);
    // The bar and the queue at most every 30 ms, and always at the end.
    DWORD now = GetTickCount();
    if (row + 1 < total && now - p->lastPump < 30) return 0;
    p->lastPump = now;
    SendMessageA(GetDlgItem(p->dialog, IDC_PROGRESS_BAR), PBM_SETPOS, row + 1, 0);
    return progressPump(p) ? 1 : 0;
}

// ---- Busy state ---------------------------------------------------------------------------

BusyScope::BusyScope() { ++g_busyDepth; }

BusyScope::~BusyScope() {
    if (--g_busyDepth == 0 && !g_pendingOpens.empty() && g_frame.frame)
        PostMessageA(g_frame.frame, WM_APP_OPEN_PENDING, 0, 0);
}

bool libraryBusy() { return g_busyDepth > 0; }

void queueOpenRequest(const char* path, int formatIndex) {
    if (path) g_pendingOpens.push_back({path, formatIndex});
}

void openPendingRequests() {
    while (!libraryBusy() && !g_pendingOpens.empty()) {
        PendingOpen next = g_pendingOpens.front();
        g_pendingOpens.erase(g_pendingOpens.begin());
        openImageWindow(next.path.c_str(), next.formatIndex, nullptr);
    }
}
