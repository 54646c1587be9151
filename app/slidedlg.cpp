// The dialog "KaleoSlideShow": the list of files of a show and its options,
// read from and written to ".sld" files, and "Lancer".
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "slidelogic.h"

std::vector<std::string> askPicturesToOpen(HWND owner);

namespace {

struct SlideDialog {
    std::vector<std::string> initial;
    SlideList chosen;
};

void addPath(HWND dialog, const std::string& path) {
    if (path.empty() || path.size() > MAX_PATH_CHARS) return;
    SendDlgItemMessageA(dialog, IDC_SLIDE_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
}

std::vector<std::string> listedPaths(HWND dialog) {
    std::vector<std::string> paths;
    LRESULT n = SendDlgItemMessageA(dialog, IDC_SLIDE_LIST, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        LRESULT length = SendDlgItemMessageA(dialog, IDC_SLIDE_LIST, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length <= 0) continue;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        SendDlgItemMessageA(dialog, IDC_SLIDE_LIST, LB_GETTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(&text[0]));
        text.resize(strlen(text.c_str()));
        paths.push_back(text);
    }
    return paths;
}

bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
void check(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }

// The "Voir" choices and "Pas de barre de titre" apply to full screen only.
void enableFullScreenOptions(HWND dialog) {
    bool full = checked(dialog, IDC_SLIDE_FULL_SCREEN);
    for (int id : {IDC_SLIDE_NORMAL_SIZE, IDC_SLIDE_FIT_LARGER, IDC_SLIDE_FIT_ALL, IDC_SLIDE_NO_TITLE})
        EnableWindow(GetDlgItem(dialog, id), full);
}

void showOptions(HWND dialog, const SlideList& list, bool timerSelected) {
    check(dialog, IDC_SLIDE_USE_TIMER, timerSelected);
    check(dialog, IDC_SLIDE_USE_KEYS, !timerSelected);
    SetDlgItemInt(dialog, IDC_SLIDE_SECONDS, static_cast<UINT>(list.timerSeconds), FALSE);
    check(dialog, IDC_SLIDE_FULL_SCREEN, list.flags & SLIDE_FULL_SCREEN);
    check(dialog, IDC_SLIDE_NO_TITLE, list.flags & SLIDE_NO_TITLE);
    int view = (list.flags & SLIDE_FIT_ALL) ? 2 : (list.flags & SLIDE_FIT_LARGER) ? 1 : 0;
    CheckRadioButton(dialog, IDC_SLIDE_NORMAL_SIZE, IDC_SLIDE_FIT_ALL, IDC_SLIDE_NORMAL_SIZE + view);
    check(dialog, IDC_SLIDE_CENTRE, list.flags & SLIDE_CENTRE);
    check(dialog, IDC_SLIDE_LOOP, list.flags & SLIDE_LOOP);
    check(dialog, IDC_SLIDE_RANDOM, list.flags & SLIDE_RANDOM);
    check(dialog, IDC_SLIDE_NO_ERRORS, list.flags & SLIDE_SKIP_ERRORS);
    check(dialog, IDC_SLIDE_HIDE_MOUSE, list.flags & SLIDE_HIDE_MOUSE);
    enableFullScreenOptions(dialog);
}

SlideList readOptions(HWND dialog) {
    SlideList list;
    list.flags = 0;
    BOOL ok = FALSE;
    UINT seconds = GetDlgItemInt(dialog, IDC_SLIDE_SECONDS, &ok, FALSE);
    if (!ok || seconds < SLIDE_TIMER_MIN) seconds = SLIDE_TIMER_MIN;
    if (seconds > SLIDE_TIMER_MAX) seconds = SLIDE_TIMER_MAX;
    list.timerSeconds = static_cast<int>(seconds);
    if (checked(dialog, IDC_SLIDE_USE_TIMER)) list.flags |= SLIDE_TIMER;
    if (checked(dialog, IDC_SLIDE_LOOP)) list.flags |= SLIDE_LOOP;
    if (checked(dialog, IDC_SLIDE_FULL_SCREEN)) {
        list.flags |= SLIDE_FULL_SCREEN;
        if (checked(dialog, IDC_SLIDE_NO_TITLE)) list.flags |= SLIDE_NO_TITLE;
        if (checked(dialog, IDC_SLIDE_FIT_LARGER)) list.flags |= SLIDE_FIT_LARGER;
        if (checked(dialog, IDC_SLIDE_FIT_ALL)) list.flags |= SLIDE_FIT_ALL;
    }
    if (checked(dialog, IDC_SLIDE_CENTRE)) list.flags |= SLIDE_CENTRE;
    if (checked(dialog, IDC_SLIDE_RANDOM)) list.flags |= SLIDE_RANDOM;
    if (checked(dialog, IDC_SLIDE_NO_ERRORS)) list.flags |= SLIDE_SKIP_ERRORS;
    if (checked(dialog, IDC_SLIDE_HIDE_MOUSE)) list.flags |= SLIDE_HIDE_MOUSE;
    list.files = listedPaths(dialog);
    return list;
}

void storeOptions(const SlideList& list) {
    g_settings.slideTimer = static_cast<int16_t>(list.timerSeconds);
    g_settings.slideLoop = (list.flags & SLIDE_LOOP) ? 1 : 0;
    g_settings.slideFull = (list.flags & SLIDE_FULL_SCREEN) ? 1 : 0;
    g_settings.slideNoTitle = (list.flags & SLIDE_NO_TITLE) ? 1 : 0;
    g_settings.slideCenter = (list.flags & SLIDE_CENTRE) ? 1 : 0;
    g_settings.slideFitToWindow = (list.flags & SLIDE_FIT_ALL) ? 2 : (list.flags & SLIDE_FIT_LARGER) ? 1 : 0;
    g_settings.slideRandom = (list.flags & SLIDE_RANDOM) ? 1 : 0;
    g_settings.slideNoError = (list.flags & SLIDE_SKIP_ERRORS) ? 1 : 0;
    g_settings.slideHideMouse = (list.flags & SLIDE_HIDE_MOUSE) ? 1 : 0;
}

SlideList optionsFromSettings() {
    SlideList list;
    list.flags = 0;
    list.timerSeconds = g_settings.slideTimer;
    if (g_settings.slideLoop) list.flags |= SLIDE_LOOP;
    if (g_settings.slideFull) list.flags |= SLIDE_FULL_SCREEN;
    if (g_settings.slideNoTitle) list.flags |= SLIDE_NO_TITLE;
    if (g_settings.slideCenter) list.flags |= SLIDE_CENTRE;
    if (g_settings.slideFitToWindow == 1) list.flags |= SLIDE_FIT_LARGER;
    if (g_settings.slideFitToWindow == 2) list.flags |= SLIDE_FIT_ALL;
    if (g_settings.slideRandom) list.flags |= SLIDE_RANDOM;
    if (g_settings.slideNoError) list.flags |= SLIDE_SKIP_ERRORS;
    if (g_settings.slideHideMouse) list.flags |= SLIDE_HIDE_MOUSE;
    return list;
}

std::string slideFilter() {
    std::string f = loadText(IDS_SLIDE_FILTER);
    f.push_back('\0');
    f += "*.sld";
    f.push_back('\0');
    f.push_back('\0');
    return f;
}

// The open or save dialog for a ".sld"; empty when cancelled.
std::string askSlideFile(HWND dialog, bool save) {
    char path[PATH_SIZE] = "";
    std::string filter = slideFilter();
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrInitialDir = g_settings.pathLoad[0] ? g_settings.pathLoad : nullptr;
    ofn.lpstrDefExt = "sld";
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (g_frame.hasNewShell) ofn.Flags |= OFN_EXPLORER;
    BOOL ok = save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!ok || !path[0]) return "";
    std::string chosen = withSlideExtension(path);
    return chosen.size() > MAX_PATH_CHARS ? "" : chosen;
}

void addFolder(HWND dialog) {
    char chosen[MAX_PATH + 1] = "";
    BROWSEINFOA bi;
    memset(&bi, 0, sizeof bi);
    bi.hwndOwner = dialog;
    bi.pszDisplayName = chosen;
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
    if (!pidl) return;
    bool ok = SHGetPathFromIDListA(pidl, chosen) != FALSE;
    CoTaskMemFree(pidl);
    if (!ok || !chosen[0]) return;
    std::string folder = chosen;
    if (folder.back() != '\\') folder += '\\';
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) addPath(dialog, folder + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void removeSelected(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_SLIDE_LIST);
    for (LRESULT i = SendMessageA(list, LB_GETCOUNT, 0, 0) - 1; i >= 0; --i)
        if (SendMessageA(list, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0)
            SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(i), 0);
}

INT_PTR CALLBACK slideDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        SlideDialog* d = reinterpret_cast<SlideDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        showOptions(dialog, optionsFromSettings(), true);
        for (const std::string& p : d->initial) addPath(dialog, p);
        centreDialog(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_SLIDE_FULL_SCREEN: enableFullScreenOptions(dialog); return TRUE;
        case IDC_SLIDE_ADD:
            for (const std::string& p : askPicturesToOpen(dialog)) addPath(dialog, p);
            return TRUE;
        case IDC_SLIDE_ADD_FOLDER: addFolder(dialog); return TRUE;
        case IDC_SLIDE_REMOVE: removeSelected(dialog); return TRUE;
        case IDC_SLIDE_REMOVE_ALL: SendDlgItemMessageA(dialog, IDC_SLIDE_LIST, LB_RESETCONTENT, 0, 0); return TRUE;
        case IDC_SLIDE_OPEN: {
            std::string path = askSlideFile(dialog, false);
            SlideList list;
            if (path.empty() || !readSlideFile(dialog, path.c_str(), &list)) return TRUE;
            SendDlgItemMessageA(dialog, IDC_SLIDE_LIST, LB_RESETCONTENT, 0, 0);
            for (const std::string& p : list.files) addPath(dialog, p);
            showOptions(dialog, list, (list.flags & SLIDE_TIMER) != 0);
            return TRUE;
        }
        case IDC_SLIDE_SAVE: {
            SlideList list = readOptions(dialog);
            if (list.files.empty()) return TRUE;  // nothing is written for an empty list
            std::string path = askSlideFile(dialog, true);
            if (!path.empty()) writeSlideFile(dialog, path.c_str(), list);
            return TRUE;
        }
        case IDOK: {
            SlideDialog* d = reinterpret_cast<SlideDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
            d->chosen = readOptions(dialog);
            storeOptions(d->chosen);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void runSlideShowDialog(HWND owner, const std::vector<std::string>& initial) {
    SlideDialog d;
    d.initial = initial;
    INT_PTR r =
        DialogBoxParamA(g_frame.instance, "KaleoSlideShow", owner, slideDialogProc, reinterpret_cast<LPARAM>(&d));
    // An empty list starts nothing.
    if (r == IDOK && !d.chosen.files.empty()) startSlideShow(d.chosen);
}
