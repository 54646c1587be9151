// The browser's file operations: copy, move and delete with the operation
// window, renaming (one file or a numbered sequence), descriptions in
// "descript.ion", properties, the names on the clipboard, the listing file
// and new folders.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "browse.h"
#include "kaleocore.h"

namespace browse {

namespace {

constexpr DWORD COPY_CHUNK = 256 * 1024;
constexpr DWORD WRITABLE_MASK = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM;

void problem(HWND owner, const std::string& text) {
    MessageBoxA(owner, text.c_str(), loadText(IDS_PROBLEM).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// A failure in the middle of an operation: true when the user stops it.
bool askStop(HWND owner, UINT textId, const std::string& path) {
    std::string text = loadText(textId) + "\n\n" + path;
    return MessageBoxA(owner, text.c_str(), loadText(IDS_PROBLEM).c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::string fullPathOf(const std::string& path) {
    char full[MAX_PATH + 1];
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full) : path;
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether two paths open the same file: the same full path, ignoring case,
// or, when both exist, the same file of the same volume.
bool sameFile(const std::string& a, const std::string& b) {
    if (samePath(fullPathOf(a), fullPathOf(b))) return true;
    HANDLE ha = CreateFileA(a.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (ha == INVALID_HANDLE_VALUE) return false;
    HANDLE hb = CreateFileA(b.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    bool same = false;
    if (hb != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION ia, ib;
        if (GetFileInformationByHandle(ha, &ia) && GetFileInformationByHandle(hb, &ib))
            same = ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
                   ia.nFileIndexLow == ib.nFileIndexLow && (ia.nFileIndexHigh || ia.nFileIndexLow);
        CloseHandle(hb);
    }
    CloseHandle(ha);
    return same;
}

// ---- The operation window ---------------------------------------------------------------------

struct Operation {
    HWND dialog = nullptr;
    HWND owner = nullptr;
    bool cancelled = false;
};

INT_PTR CALLBACK operationProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreDialog(dialog);
        return TRUE;
    }
    if (msg == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        Operation* op = reinterpret_cast<Operation*>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (op) op->cancelled = true;
        return TRUE;
    }
    return FALSE;
}

void openOperation(Operation* op, HWND owner, UINT titleId, int total) {
    op->owner = owner;
    op->dialog = CreateDialogParamA(g_frame.instance, "KaleoOperation", g_frame.frame, operationProc,
                                    reinterpret_cast<LPARAM>(op));
    if (!op->dialog) return;
    SetWindowTextA(op->dialog, loadText(titleId).c_str());
    SendDlgItemMessageA(op->dialog, IDC_OP_PROGRESS, PBM_SETRANGE32, 0, std::max(1, total));
    ShowWindow(op->dialog, SW_SHOW);
    EnableWindow(g_frame.frame, FALSE);
}

void operationStep(Operation* op, const std::string& from, const std::string& to, int index) {
    if (!op->dialog) return;
    SetDlgItemTextA(op->dialog, IDC_OP_FROM, from.c_str());
    SetDlgItemTextA(op->dialog, IDC_OP_TO, to.c_str());
    SendDlgItemMessageA(op->dialog, IDC_OP_PROGRESS, PBM_SETPOS, index, 0);
}

// Lets the operation window draw and its "Annuler" work.
bool pumpOperation(Operation* op) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            op->cancelled = true;
            break;
        }
        if (op->dialog && IsDialogMessageA(op->dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return op->cancelled;
}

void closeOperation(Operation* op) {
    EnableWindow(g_frame.frame, TRUE);
    if (op->dialog) DestroyWindow(op->dialog);
    op->dialog = nullptr;
    if (op->owner && IsWindow(op->owner)) SetFocus(op->owner);
}

enum CopyResult { COPY_OK, COPY_NO_SOURCE, COPY_NO_DESTINATION, COPY_READ_ERROR, COPY_WRITE_ERROR, COPY_CANCELLED };

// Copies the bytes, the last-write time and the attributes; a destination
// left incomplete is removed.
CopyResult copyFileBytes(const std::string& from, const std::string& to, Operation* op) {
    HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE) return COPY_NO_SOURCE;
    DWORD attributes = GetFileAttributesA(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(to.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return COPY_NO_DESTINATION;
    }
    std::vector<char> buffer(COPY_CHUNK);
    CopyResult result = COPY_OK;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer.data(), COPY_CHUNK, &got, nullptr)) {
            result = COPY_READ_ERROR;
            break;
        }
        if (got == 0) break;
        DWORD put = 0;
        if (!WriteFile(out, buffer.data(), got, &put, nullptr) || put != got) {
            result = COPY_WRITE_ERROR;
            break;
        }
        if (pumpOperation(op)) {
            result = COPY_CANCELLED;
            break;
        }
    }
    FILETIME created, accessed, written;
    if (result == COPY_OK && GetFileTime(in, &created, &accessed, &written)) SetFileTime(out, nullptr, nullptr, &written);
    CloseHandle(in);
    if (!CloseHandle(out) && result == COPY_OK) result = COPY_WRITE_ERROR;
    if (result != COPY_OK) {
        DeleteFileA(to.c_str());
        return result;
    }
    DWORD sourceAttributes = GetFileAttributesA(from.c_str());
    if (sourceAttributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(to.c_str(), sourceAttributes);
    return COPY_OK;
}

UINT messageOf(CopyResult r) {
    switch (r) {
    case COPY_NO_SOURCE: return IDS_OP_CANNOT_OPEN_SOURCE;
    case COPY_NO_DESTINATION: return IDS_OP_CANNOT_OPEN_DEST;
    case COPY_READ_ERROR: return IDS_OP_READ_ERROR;
    default: return IDS_OP_WRITE_ERROR;
    }
}

// ---- Files read and written whole ----

bool readWhole(const std::string& path, std::string* bytes) {
    bytes->clear();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0, low = GetFileSize(h, &high);
    bool ok = high == 0 && low != INVALID_FILE_SIZE && low < (64u << 20);
    if (ok) {
        bytes->resize(low);
        DWORD got = 0;
        ok = low == 0 || (ReadFile(h, &(*bytes)[0], low, &got, nullptr) && got == low);
    }
    CloseHandle(h);
    return ok;
}

bool writeWhole(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = bytes.empty() ||
              (WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size());
    return CloseHandle(h) && ok;
}

// Rewrites the lines of some names in the folder's descript.ion.
bool rewriteDescriptions(HWND owner, const std::string& folder,
                         const std::vector<std::pair<std::string, std::string>>& listed, bool report) {
    std::string path = folder + DESCRIPT_NAME;
    std::string bytes;
    bool existed = readWhole(path, &bytes);
    std::string after = rewriteDescript(parseDescript(bytes), listed);
    if (existed && after == bytes) return true;
    if (!existed && after.empty()) return true;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (report) problem(owner, loadText(IDS_DESCRIPT_WRITE_FAILED) + path);
        return false;
    }
    // The file is hidden (and may be read-only): writable while it is written.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & WRITABLE_MASK))
        SetFileAttributesA(path.c_str(), attributes & ~WRITABLE_MASK);
    bool ok = after.empty() ? DeleteFileA(path.c_str()) != 0 : writeWhole(path, after);
    if (!after.empty()) {
        DWORD keep = attributes != INVALID_FILE_ATTRIBUTES ? attributes : FILE_ATTRIBUTE_ARCHIVE;
        SetFileAttributesA(path.c_str(), keep | FILE_ATTRIBUTE_HIDDEN);
    }
    if (!ok && report) problem(owner, loadText(IDS_DESCRIPT_WRITE_FAILED) + path);
    return ok;
}

bool validName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("\\/:*?\"<>|") == std::string::npos;
}

std::string timeText(const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return std::string();
    char text[64];
    snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", st.wDay, st.wMonth, st.wYear % 100, st.wHour,
             st.wMinute, st.wSecond);
    return text;
}

// ---- Sequence rename dialog ----

struct RenameDialog {
    Browser* b;
    std::vector<std::string> names;
};

std::string itemText(HWND dialog, int id) {
    char text[512];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

long itemNumber(HWND dialog, int id) { return strtol(itemText(dialog, id).c_str(), nullptr, 10); }

void fillRenameList(HWND dialog, const RenameDialog* r) {
    HWND list = GetDlgItem(dialog, IDC_RENAME_LIST);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    std::string pattern = itemText(dialog, IDC_RENAME_TEMPLATE);
    long start = itemNumber(dialog, IDC_RENAME_START), step = itemNumber(dialog, IDC_RENAME_STEP);
    for (size_t i = 0; i < r->names.size(); ++i) {
        std::string to = sequenceName(pattern, start + static_cast<long>(i) * step);
        LVITEMA it;
        memset(&it, 0, sizeof it);
        it.mask = LVIF_TEXT;
        it.iItem = static_cast<int>(i);
        it.pszText = const_cast<char*>(r->names[i].c_str());
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&it));
        it.iSubItem = 1;
        it.pszText = const_cast<char*>(to.c_str());
        SendMessageA(list, LVM_SETITEMTEXTA, i, reinterpret_cast<LPARAM>(&it));
    }
}

INT_PTR CALLBACK renameProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    RenameDialog* r = reinterpret_cast<RenameDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG: {
        r = reinterpret_cast<RenameDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreDialog(dialog);
        HWND list = GetDlgItem(dialog, IDC_RENAME_LIST);
        for (int c = 0; c < 2; ++c) {
            std::string title = loadText(IDS_RENAME_OLD + c);
            LVCOLUMNA col;
            memset(&col, 0, sizeof col);
            col.mask = LVCF_TEXT | LVCF_WIDTH;
            col.cx = 180;
            col.pszText = const_cast<char*>(title.c_str());
            SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&col));
        }
        SetDlgItemTextA(dialog, IDC_RENAME_TEMPLATE, g_settings.renameTemplate);
        SetDlgItemInt(dialog, IDC_RENAME_START, static_cast<UINT>(g_settings.renameStart), TRUE);
        SetDlgItemInt(dialog, IDC_RENAME_STEP, static_cast<UINT>(g_settings.renameStep), TRUE);
        fillRenameList(dialog, r);
        return TRUE;
    }
    case WM_COMMAND:
        if (!r) return FALSE;
        if (HIWORD(wParam) == EN_CHANGE) {
            fillRenameList(dialog, r);
            return TRUE;
        }
        if (LOWORD(wParam) == IDOK) {
            copyText(g_settings.renameTemplate, TEMPLATE_SIZE, itemText(dialog, IDC_RENAME_TEMPLATE).c_str());
            g_settings.renameStart = static_cast<int16_t>(itemNumber(dialog, IDC_RENAME_START));
            g_settings.renameStep = static_cast<int16_t>(itemNumber(dialog, IDC_RENAME_STEP));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// ---- Description and new-folder dialogs ----

struct TextDialog {
    std::string label, text;
    int labelId, textId;
};

INT_PTR CALLBACK textProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    TextDialog* t = reinterpret_cast<TextDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        t = reinterpret_cast<TextDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreDialog(dialog);
        if (t->labelId) SetDlgItemTextA(dialog, t->labelId, t->label.c_str());
        SetDlgItemTextA(dialog, t->textId, t->text.c_str());
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && t) {
            std::vector<char> text(4096);
            GetDlgItemTextA(dialog, t->textId, text.data(), static_cast<int>(text.size()));
            t->text = text.data();
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// ---- Properties dialog ----

struct PropDialog {
    std::string path;
    DWORD attributes;
};

bool applyAttributes(HWND dialog, PropDialog* p) {
    DWORD a = p->attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN);
    if (IsDlgButtonChecked(dialog, IDC_PROP_READ_ONLY) == BST_CHECKED) a |= FILE_ATTRIBUTE_READONLY;
    if (IsDlgButtonChecked(dialog, IDC_PROP_ARCHIVE) == BST_CHECKED) a |= FILE_ATTRIBUTE_ARCHIVE;
    if (IsDlgButtonChecked(dialog, IDC_PROP_HIDDEN) == BST_CHECKED) a |= FILE_ATTRIBUTE_HIDDEN;
    if (a == p->attributes) return true;
    if (!SetFileAttributesA(p->path.c_str(), a ? a : FILE_ATTRIBUTE_NORMAL)) {
        problem(dialog, loadText(IDS_ATTRIBUTES_FAILED));
        return false;
    }
    p->attributes = a;
    return true;
}

INT_PTR CALLBACK propProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    PropDialog* p = reinterpret_cast<PropDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG: {
        p = reinterpret_cast<PropDialog*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreDialog(dialog);
        WIN32_FILE_ATTRIBUTE_DATA data;
        memset(&data, 0, sizeof data);
        GetFileAttributesExA(p->path.c_str(), GetFileExInfoStandard, &data);
        p->attributes = data.dwFileAttributes;
        size_t slash = p->path.find_last_of('\\');
        SetDlgItemTextA(dialog, IDC_PROP_NAME, p->path.substr(slash + 1).c_str());
        SetDlgItemTextA(dialog, IDC_PROP_FOLDER, p->path.substr(0, slash + 1).c_str());
        std::string type = loadText(IDS_TYPE_UNKNOWN);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            type = loadText(IDS_TYPE_FOLDER);
        } else {
            std::string unixPath = libraryPath(p->path.c_str());
            FileInfo info;
            BusyScope busy;
            if (!unixPath.empty() && readImageInfo(unixPath.c_str(), -1, 0, &info) == ST_OK) type = info.formatName;
        }
        SetDlgItemTextA(dialog, IDC_PROP_TYPE, type.c_str());
        uint64_t size = (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        SetDlgItemTextA(dialog, IDC_PROP_SIZE, (sizeText(size) + " octets").c_str());
        char shortName[MAX_PATH + 1] = "";
        if (GetShortPathNameA(p->path.c_str(), shortName, sizeof shortName))
            SetDlgItemTextA(dialog, IDC_PROP_SHORT, baseName(shortName).c_str());
        SetDlgItemTextA(dialog, IDC_PROP_CREATED, timeText(data.ftCreationTime).c_str());
        SetDlgItemTextA(dialog, IDC_PROP_MODIFIED, timeText(data.ftLastWriteTime).c_str());
        SetDlgItemTextA(dialog, IDC_PROP_ACCESSED, timeText(data.ftLastAccessTime).c_str());
        CheckDlgButton(dialog, IDC_PROP_READ_ONLY, (p->attributes & FILE_ATTRIBUTE_READONLY) ? BST_CHECKED : 0);
        CheckDlgButton(dialog, IDC_PROP_ARCHIVE, (p->attributes & FILE_ATTRIBUTE_ARCHIVE) ? BST_CHECKED : 0);
        CheckDlgButton(dialog, IDC_PROP_HIDDEN, (p->attributes & FILE_ATTRIBUTE_HIDDEN) ? BST_CHECKED : 0);
        CheckDlgButton(dialog, IDC_PROP_SYSTEM, (p->attributes & FILE_ATTRIBUTE_SYSTEM) ? BST_CHECKED : 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (!p) return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_PROP_APPLY: applyAttributes(dialog, p); return TRUE;
        case IDOK:
            if (applyAttributes(dialog, p)) EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

int CALLBACK folderPickerProc(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED && data) SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, data);
    return 0;
}

std::vector<std::string> selectedFilePaths(Browser* b) {
    std::vector<std::string> paths;
    for (int i : operableEntries(b->entries, selectedEntries(b))) paths.push_back(entryPath(b, i));
    return paths;
}

}  // namespace

int copyOrMoveFiles(HWND owner, const std::vector<std::string>& sources, const std::string& destination, bool move) {
    if (sources.empty()) return 0;
    Operation op;
    openOperation(&op, owner, move ? IDS_OP_MOVING : IDS_OP_COPYING, static_cast<int>(sources.size()));
    int done = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        const std::string& from = sources[i];
        std::string to = joinPath(destination, baseName(from));
        operationStep(&op, from, destination, static_cast<int>(i));
        if (pumpOperation(&op)) break;
        // A destination that is the source itself would be emptied by the copy.
        if (sameFile(from, to)) {
            if (askStop(owner, IDS_OP_SAME_FILE, to)) break;
            continue;
        }
        bool exists = GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (exists) {
            std::string text = loadText(IDS_OVERWRITE) + "\n\n" + to;
            int answer = MessageBoxA(owner, text.c_str(), loadText(IDS_PROBLEM).c_str(), MB_YESNOCANCEL | MB_ICONQUESTION);
            if (answer == IDCANCEL) break;
            if (answer != IDYES) continue;
        }
        // A move within a volume is a rename: nothing is copied.
        if (move && !exists && MoveFileA(from.c_str(), to.c_str())) {
            ++done;
            continue;
        }
        CopyResult r = copyFileBytes(from, to, &op);
        if (r == COPY_CANCELLED) break;
        if (r != COPY_OK) {
            if (askStop(owner, messageOf(r), r == COPY_NO_SOURCE || r == COPY_READ_ERROR ? from : to)) break;
            continue;
        }
        // The source goes only once its copy is complete.
        if (move && !DeleteFileA(from.c_str())) {
            if (askStop(owner, IDS_OP_DELETE_FAILED, from)) break;
            continue;
        }
        ++done;
    }
    closeOperation(&op);
    return done;
}

void copyOrMove(Browser* b, bool move) {
    std::vector<std::string> sources = selectedFilePaths(b);
    if (sources.empty()) return;
    char chosen[MAX_PATH + 1] = "";
    BROWSEINFOA bi;
    memset(&bi, 0, sizeof bi);
    bi.hwndOwner = g_frame.frame;
    bi.pszDisplayName = chosen;
    bi.lpszTitle = "Output Directory";
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = folderPickerProc;
    bi.lParam = reinterpret_cast<LPARAM>(b->folder.c_str());
    LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
    if (!pidl) return;
    bool ok = SHGetPathFromIDListA(pidl, chosen) != FALSE;
    CoTaskMemFree(pidl);
    if (!ok || !chosen[0]) return;
    copyOrMoveFiles(b->hwnd, sources, chosen, move);
    refreshAfterChange(b);
}

void deleteSelection(Browser* b, bool ask) {
    std::vector<std::string> paths = selectedFilePaths(b);
    if (paths.empty()) return;
    if (ask && MessageBoxA(g_frame.frame, "Delete all selected files ?", "Confirm", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    Operation op;
    openOperation(&op, b->hwnd, IDS_OP_DELETING, static_cast<int>(paths.size()));
    for (size_t i = 0; i < paths.size(); ++i) {
        operationStep(&op, paths[i], "", static_cast<int>(i));
        if (pumpOperation(&op)) break;
        if (!DeleteFileA(paths[i].c_str()) && askStop(b->hwnd, IDS_OP_DELETE_FAILED, paths[i])) break;
    }
    closeOperation(&op);
    refreshAfterChange(b);
}

void renameSequence(Browser* b) {
    RenameDialog r;
    r.b = b;
    std::vector<int> files = operableEntries(b->entries, selectedEntries(b));
    for (int i : files) r.names.push_back(b->entries[static_cast<size_t>(i)].name);
    if (r.names.empty()) return;
    if (DialogBoxParamA(g_frame.instance, "KaleoRename", g_frame.frame, renameProc, reinterpret_cast<LPARAM>(&r)) !=
        IDOK)
        return;
    // Every name of the folder, the hidden ones too, may be in the way.
    std::vector<std::string> existing;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((b->folder + "*.*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do existing.push_back(fd.cFileName);
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RenamePlan plan = planSequenceRename(r.names, g_settings.renameTemplate, g_settings.renameStart,
                                         g_settings.renameStep, existing);
    if (plan.duplicate || !plan.clashes.empty()) {
        std::string name = plan.clashes.empty() ? sequenceName(g_settings.renameTemplate, g_settings.renameStart)
                                                : plan.clashes[0];
        problem(g_frame.frame, loadText(IDS_RENAME_CLASH) + name);
        return;
    }
    for (const RenameStep& s : plan.steps) {
        if (!MoveFileA((b->folder + s.from).c_str(), (b->folder + s.to).c_str())) {
            problem(g_frame.frame, loadText(IDS_CANNOT_RENAME) + s.from);
            break;
        }
    }
    refreshAfterChange(b);
}

void readDescriptions(Browser* b) {
    std::string bytes;
    readWhole(b->folder + DESCRIPT_NAME, &bytes);
    std::vector<DescriptLine> lines = parseDescript(bytes);
    for (BrowserEntry& e : b->entries) {
        const std::string* d = findDescription(lines, e.name);
        e.hasDescription = d != nullptr;
        e.description = d ? *d : std::string();
    }
}

bool writeDescription(Browser* b, int entry, bool report) {
    const BrowserEntry& e = b->entries[static_cast<size_t>(entry)];
    return rewriteDescriptions(b->hwnd, b->folder, {{e.name, e.hasDescription ? e.description : std::string()}},
                               report);
}

void describeSelection(Browser* b) {
    std::vector<int> files = operableEntries(b->entries, selectedEntries(b));
    if (files.size() != 1) return;
    BrowserEntry& e = b->entries[static_cast<size_t>(files[0])];
    TextDialog t = {e.name, e.description, IDC_DESC_NAME, IDC_DESC_TEXT};
    if (DialogBoxParamA(g_frame.instance, "KaleoFileDesc", g_frame.frame, textProc, reinterpret_cast<LPARAM>(&t)) !=
        IDOK)
        return;
    e.description = t.text;
    e.hasDescription = !t.text.empty();
    writeDescription(b, files[0], true);
    readDescriptions(b);
    refreshListItems(b);
}

bool renameEntry(Browser* b, int entry, const std::string& newName, bool report) {
    BrowserEntry& e = b->entries[static_cast<size_t>(entry)];
    if (newName == e.name) return true;
    std::string from = b->folder + e.name, to = b->folder + newName;
    bool ok = validName(newName) && !isParentEntry(e) && (samePath(from, to) || GetFileAttributesA(to.c_str()) ==
                                                                                   INVALID_FILE_ATTRIBUTES) &&
              MoveFileA(from.c_str(), to.c_str());
    if (!ok) {
        if (report) problem(g_frame.frame, loadText(IDS_CANNOT_RENAME) + e.name);
        return false;
    }
    // The description follows the file.
    if (e.hasDescription)
        rewriteDescriptions(b->hwnd, b->folder, {{e.name, std::string()}, {newName, e.description}}, report);
    refreshAfterChange(b);
    return true;
}

void showProperties(Browser* b) {
    std::vector<int> sel = selectedEntries(b);
    if (sel.size() != 1 || isParentEntry(b->entries[static_cast<size_t>(sel[0])])) return;
    PropDialog p = {entryPath(b, sel[0]), 0};
    DialogBoxParamA(g_frame.instance, "KaleoProp", g_frame.frame, propProc, reinterpret_cast<LPARAM>(&p));
    refreshAfterChange(b);
}

void copyNames(Browser* b) {
    std::string text;
    for (const std::string& p : selectedFilePaths(b)) text += p + "\r\n";
    if (text.empty() || !OpenClipboard(g_frame.frame)) return;
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (mem) {
        memcpy(GlobalLock(mem), text.c_str(), text.size() + 1);
        GlobalUnlock(mem);
        if (!SetClipboardData(CF_TEXT, mem)) GlobalFree(mem);
    }
    CloseClipboard();
}

void writeListing(Browser* b) {
    std::vector<ListingRow> rows;
    for (int i : operableEntries(b->entries, selectedEntries(b))) {
        BrowserEntry& e = b->entries[static_cast<size_t>(i)];
        if (!(e.flags & (ENTRY_INFO | ENTRY_FAILED))) {
            std::string unixPath = libraryPath(entryPath(b, i).c_str());
            FileInfo info;
            BusyScope busy;
            if (!unixPath.empty() && readImageInfo(unixPath.c_str(), -1, 0, &info) == ST_OK) {
                e.flags |= ENTRY_INFO;
                e.formatIndex = info.formatIndex;
                e.formatName = info.formatName;
                e.width = info.width;
                e.height = info.height;
                e.bitsPerPixel = info.planes * info.bitsPerPlane;
            }
        }
        rows.push_back({e.name, e.size, propertiesText(e), e.description});
    }
    const char* temp = getenv("TEMP");
    char tempPath[MAX_PATH + 1];
    std::string folder = temp && *temp ? temp : (GetTempPathA(sizeof tempPath, tempPath) ? tempPath : "C:\\");
    std::string path = joinPath(folder, "listing.txt");
    if (!writeWhole(path, listingText(rows))) {
        showStatusError(g_frame.frame, ST_WRITE_ERROR, path.c_str(), nullptr);
        return;
    }
    const char* windir = getenv("windir");
    std::string command = (windir && *windir ? std::string(windir) + "\\notepad.exe" : std::string("notepad.exe")) +
                          " \"" + path + "\"";
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

void newFolder(Browser* b) {
    TextDialog t = {"", "", 0, IDC_NEW_FOLDER_NAME};
    if (DialogBoxParamA(g_frame.instance, "KaleoNewFolder", g_frame.frame, textProc, reinterpret_cast<LPARAM>(&t)) !=
        IDOK)
        return;
    if (!validName(t.text) || !CreateDirectoryA((b->folder + t.text).c_str(), nullptr)) {
        problem(g_frame.frame, loadText(IDS_NEW_FOLDER_FAILED) + t.text);
        return;
    }
    refreshAfterChange(b);
}

}  // namespace browse
