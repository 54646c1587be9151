// The sequence and multiple conversion dialogs: their controls, the run
// (one file at a time, "KaleoProgress" with "Annuler") and "Sauver script...".
// Naming, refusals, converting a file and the script text come from
// app/logic/batchlogic.h.
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "batch.h"
#include "batchlogic.h"
#include "opdialogs.h"
#include "optiontable.h"

namespace {

HINSTANCE instance() { return g_frame.instance ? g_frame.instance : GetModuleHandleA(nullptr); }

// What the dialogs showed last, for the next opening (this run of the program).
struct Remembered {
    std::string folder, seqFolder, seqPattern, seqOutPattern;
    int format = -1, seqFormat = -1;
    int start = 0, end = 0, step = 1;
};
Remembered g_last;
BatchRunReport g_report;

struct DialogState {
    bool sequence;
    std::vector<std::string> files;  // initial list
};

std::string fieldText(HWND d, int id) {
    char text[PATH_SIZE * 2];
    int n = GetDlgItemTextA(d, id, text, sizeof text);
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

bool isChecked(HWND d, int id) { return IsDlgButtonChecked(d, id) == BST_CHECKED; }

void addComboUtf8(HWND combo, const char* text, LPARAM data) {
    WCHAR wide[160];
    if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 160)) wide[0] = 0;
    LRESULT at = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide));
    if (at >= 0) SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), data);
}

// The registry's formats in a list: writable ones for the output, readable
// ones after "Automatic" for a sequence's source.
void fillFormats(HWND d, int id, bool output, int selected) {
    HWND combo = GetDlgItem(d, id);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    if (!output) addComboUtf8(combo, "Automatic", -1);
    int pick = 0;
    for (int i = 0; i < formatCount(); ++i) {
        const FormatRecord* r = formatRecord(i);
        FormatInfo fi;
        if (!r || (output && (getFormatInfo(i, &fi) != 0 || !(fi.capabilities & CAP_WRITE)))) continue;
        if (i == selected) pick = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
        addComboUtf8(combo, r->description, i);
    }
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(pick), 0);
}

int selectedFormat(HWND d, int id) {
    HWND combo = GetDlgItem(d, id);
    LRESULT at = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (at < 0) return -1;
    return static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, static_cast<WPARAM>(at), 0));
}

std::vector<std::string> listedFiles(HWND d) {
    std::vector<std::string> files;
    HWND list = GetDlgItem(d, IDC_MUL_LIST);
    int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        int len = static_cast<int>(SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0));
        if (len <= 0) continue;
        std::string text(static_cast<size_t>(len) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(len));
        files.push_back(text);
    }
    return files;
}

void addListed(HWND d, const std::string& path) {
    HWND list = GetDlgItem(d, IDC_MUL_LIST);
    if (SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(path.c_str())) !=
        LB_ERR)
        return;  // listed already
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path.c_str()));
}

bool pickFolder(HWND owner, const char* title, std::string* folder) {
    char chosen[MAX_PATH] = "";
    BROWSEINFOA bi{};
    bi.hwndOwner = owner;
    bi.pszDisplayName = chosen;
    bi.lpszTitle = title;
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
    if (!pidl) return false;
    bool ok = SHGetPathFromIDListA(pidl, chosen) != FALSE;
    CoTaskMemFree(pidl);
    if (!ok || !chosen[0]) return false;
    *folder = withSeparator(chosen);
    return true;
}

void addFromFileDialog(HWND d) {
    std::vector<char> buffer(32768, '\0');
    std::string title = loadText(IDS_OPEN_PICTURES);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = d;
    ofn.lpstrFilter = "Tous Fichiers\0*.*\0";
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return;
    // One name: the whole path. Several: the folder, then the names, each ending with a zero.
    const char* p = buffer.data();
    std::string first = p;
    p += first.size() + 1;
    if (!*p) {
        addListed(d, first);
        return;
    }
    std::string folder = withSeparator(first);
    for (; *p; p += strlen(p) + 1) addListed(d, folder + p);
}

void addFolderFiles(HWND d) {
    std::string folder;
    if (!pickFolder(d, "Output Directory", &folder)) return;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) addListed(d, folder + fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

void removeSelected(HWND d) {
    HWND list = GetDlgItem(d, IDC_MUL_LIST);
    for (int i = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)) - 1; i >= 0; --i)
        if (SendMessageA(list, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0)
            SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(i), 0);
}

// ---- The library's paths ----

// The Unix path of a folder, ending with "/" (empty when it has none).
std::string libraryFolder(const std::string& windowsFolder) {
    std::string f = libraryPath(withSeparator(windowsFolder).c_str());
    if (f.empty()) return f;
    return f.back() == '/' ? f : f + "/";
}

// ---- Script ----

ScriptJob scriptOf(HWND d, const DialogState& s) {
    ScriptJob job;
    job.sequence = s.sequence;
    job.pcdBase = g_settings.pcdBase;
    job.rawWidth = g_settings.rawWidth;
    job.rawHeight = g_settings.rawHeight;
    job.rawOffset = g_settings.rawOffset;
    job.channelType = g_settings.channelType;
    job.channelOrder = g_settings.channelOrder;
    job.outFormat = selectedFormat(d, IDC_BATCH_FORMAT);
    job.deleteOriginal = isChecked(d, IDC_BATCH_DELETE);
    job.ops = batchJobList();
    const FormatRecord* out = formatRecord(job.outFormat);
    if (out) {
        IoOptions o = defaultIoOptions();
        writerOptionsFromSettings(g_settings, out->shortName, &o);
        scriptWriterSwitches(o, &job);
    }
    int code = rememberedConversion();
    if (code && codeFitsFormat(job.outFormat, code)) job.conversionCode = code;
    std::string folder = fieldText(d, IDC_BATCH_FOLDER);
    if (!s.sequence) {
        if (!folder.empty()) job.dest = libraryFolder(folder);
        for (const std::string& f : listedFiles(d)) {
            std::string unix = libraryPath(f.c_str());
            job.sources.push_back(unix.empty() ? f : unix);
        }
        return job;
    }
    job.inFormat = selectedFormat(d, IDC_SEQ_IN_FORMAT);
    job.seqStart = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_START, nullptr, TRUE));
    job.seqEnd = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_END, nullptr, TRUE));
    job.seqStep = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_STEP, nullptr, TRUE));
    std::string source = fieldText(d, IDC_SEQ_IN_FOLDER), pattern = fieldText(d, IDC_SEQ_IN_PATTERN);
    std::string outPattern = fieldText(d, IDC_SEQ_OUT_PATTERN);
    if (pattern.empty()) return job;
    if (folder.empty()) folder = source;
    job.sources.push_back(libraryFolder(source) + markedPattern(pattern));
    if (!outPattern.empty() && out)
        job.dest = libraryFolder(folder) + markedPattern(replaceExtension(outPattern, out->extensions[0]));
    return job;
}

bool writeScriptFile(HWND d, const DialogState& s, const char* path) {
    std::string text = exportScript(scriptOf(d, s));
    if (text.empty()) return false;
    text.insert(text.size() - 1, "\r");  // a text file of Windows
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        showStatusError(d, ST_CANNOT_OPEN, path, nullptr);
        return false;
    }
    DWORD done = 0;
    bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) && done == text.size();
    ok = CloseHandle(h) && ok;
    if (!ok) showStatusError(d, ST_WRITE_ERROR, path, nullptr);
    return ok;
}

void saveScript(HWND d, const DialogState& s) {
    if (scriptOf(d, s).sources.empty()) return;  // nothing to write
    char path[PATH_SIZE] = "";
    std::string title = loadText(IDS_SAVE_PICTURE);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = d;
    ofn.lpstrFilter = "Tous Fichiers\0*.*\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    if (GetSaveFileNameA(&ofn)) writeScriptFile(d, s, path);
}

// ---- The run ----

struct Run {
    HWND owner;
    Progress* progress;
    int format;
    bool hideErrors;
    bool deleteOriginal;
    std::string currentName;
};

// The conversion code of a picture the format refuses: the one chosen
// earlier when the format takes its result, else asked (offering the
// choice kaleocmd makes by itself), again until the answer fits or is "Annuler".
int chooseCode(void* datum, const Image* image) {
    Run* run = static_cast<Run*>(datum);
    int code = rememberedConversion();
    if (code >= 1 && code <= 32 && codeFitsFormat(run->format, code)) return code;
    do {
        code = runConversionChoiceDialog(run->owner, run->currentName.c_str(), conversionGroupsOf(run->format),
                                         automaticCode(run->format, image));
    } while (code && !codeFitsFormat(run->format, code));
    rememberConversion(code);
    return code;
}

void tell(Run* run, const std::string& text, const char* title, UINT icon) {
    g_report.messages.push_back(text);
    if (!run->hideErrors) MessageBoxA(run->owner, text.c_str(), title, MB_OK | icon);
}

std::string formatted(UINT id, const std::string& a, const std::string& b = "") {
    char text[1200];
    snprintf(text, sizeof text, loadText(id).c_str(), a.c_str(), b.c_str());
    return text;
}

// The library's callback during a run: lets messages through (so "Annuler"
// is seen) without moving the bar, which counts files.
int batchCallback(int32_t row, int32_t total, void* datum) {
    static DWORD lastPump = 0;
    DWORD now = GetTickCount();
    if (row + 1 < total && now - lastPump < 30) return 0;
    lastPump = now;
    return progressPump(static_cast<Progress*>(datum)) ? 1 : 0;
}

IoOptions batchLoadOptions(int formatIndex) { return settingsLoadOptions(formatIndex, 0); }

// Converts one file; false when the run must stop.
bool convertOne(Run* run, const std::string& source, const std::string& stem, int inFormat) {
    std::string converting = loadText(IDS_CONVERTING);
    progressSetText(run->progress,
                    (converting + "\n    " + folderOfPath(source) + "\n    " + nameOfPath(source)).c_str());
    run->currentName = nameOfPath(source);
    BatchFile file;
    file.source = libraryPath(source.c_str());
    file.stem = libraryPath(stem.c_str());
    if (file.stem.empty()) {
        CreateDirectoryA(folderOfPath(stem).c_str(), nullptr);
        file.stem = libraryPath(stem.c_str());
    }
    if (file.source.empty() || file.stem.empty()) {
        tell(run, statusMessage(ST_CANNOT_OPEN, file.source.empty() ? source.c_str() : stem.c_str(), nullptr),
             "Warning", MB_ICONWARNING);
        ++g_report.failed;
        return run->hideErrors;
    }
    file.formatIndex = run->format;
    file.load = batchLoadOptions(inFormat);
    file.load.progressCallback = batchCallback;
    file.load.callbackDatum = run->progress;
    file.save = defaultIoOptions();
    writerOptionsFromSettings(g_settings, formatRecord(run->format)->shortName, &file.save);
    file.save.progressCallback = batchCallback;
    file.save.callbackDatum = run->progress;
    file.ops = &batchJobList();
    file.deleteOriginal = run->deleteOriginal;
    file.choose = chooseCode;
    file.chooseDatum = run;
    BatchResult r;
    for (;;) {
        {
            BusyScope busy;
            r = convertBatchFile(file);
        }
        if (r.step != STEP_EXISTS || file.replaceExisting) break;
        std::string question = r.output + "\n" + loadText(IDS_OVERWRITE);
        if (MessageBoxA(run->owner, question.c_str(), "Save As", MB_YESNO | MB_ICONQUESTION) != IDYES) break;
        file.replaceExisting = true;
    }
    switch (r.step) {
    case STEP_DONE:
        ++g_report.written;
        if (r.deleteFailed) tell(run, statusMessage(ST_WRITE_ERROR, source.c_str(), nullptr), "Warning", MB_ICONWARNING);
        return true;
    case STEP_EXISTS:
        ++g_report.refused;
        return true;  // kept, as asked
    case STEP_CANCELLED:
        g_report.stopped = true;
        return false;
    case STEP_LOAD_FAILED:
        ++g_report.failed;
        g_report.messages.push_back(statusMessage(r.status, source.c_str(), r.readerMessage.c_str()));
        if (run->hideErrors) return true;
        showStatusError(run->owner, r.status, source.c_str(), r.readerMessage.c_str());
        return false;
    case STEP_OP_FAILED:
    case STEP_CONVERT_FAILED:
        ++g_report.failed;
        g_report.messages.push_back("Error converting picture !!");
        MessageBoxA(run->owner, "Error converting picture !!", "Error", MB_OK | MB_ICONERROR);
        return false;
    case STEP_SAVE_FAILED:
        ++g_report.failed;
        g_report.messages.push_back(statusMessage(r.status, stem.c_str(), nullptr));
        showStatusError(run->owner, r.status, stem.c_str(), nullptr);
        return false;
    }
    return false;
}

void startRun(Run* run, HWND d, int total) {
    g_report = BatchRunReport{};
    run->owner = d;
    run->format = selectedFormat(d, IDC_BATCH_FORMAT);
    run->hideErrors = isChecked(d, IDC_BATCH_HIDE_ERRORS);
    run->deleteOriginal = isChecked(d, IDC_BATCH_DELETE);
    g_settings.hideError = run->hideErrors ? 1 : 0;
    std::string converting = loadText(IDS_CONVERTING);
    run->progress = openProgress(d, (converting + "...").c_str(), converting.c_str(), true);
    progressSetTotal(run->progress, total);
}

void runMultiple(HWND d) {
    std::vector<std::string> files = listedFiles(d);
    Run run{};
    if (files.empty() || selectedFormat(d, IDC_BATCH_FORMAT) < 0) return;
    startRun(&run, d, static_cast<int>(files.size()));
    std::vector<BatchItem> plan = planMultiple(files, fieldText(d, IDC_BATCH_FOLDER), run.format);
    for (const BatchItem& item : plan) {
        if (progressPump(run.progress)) {
            g_report.stopped = true;
            break;
        }
        bool go = true;
        switch (item.refusal) {
        case BATCH_GO: go = convertOne(&run, item.source, item.stem, -1); break;
        case BATCH_NAME_TOO_LONG:
            ++g_report.refused;
            tell(&run, formatted(IDS_BATCH_TOO_LONG, item.source), "Warning", MB_ICONWARNING);
            break;
        case BATCH_SAME_OUTPUT:
            ++g_report.refused;
            tell(&run, formatted(IDS_BATCH_SAME_OUTPUT, files[static_cast<size_t>(item.earlier)], item.source),
                 "Warning", MB_ICONWARNING);
            break;
        case BATCH_REPLACES_INPUT:
            ++g_report.refused;
            tell(&run, formatted(IDS_BATCH_REPLACES_INPUT, item.source, files[static_cast<size_t>(item.earlier)]),
                 "Warning", MB_ICONWARNING);
            break;
        }
        progressStep(run.progress);
        if (!go) break;
    }
    closeProgress(run.progress);
    SetActiveWindow(d);  // the dialog stays open for the next run
}

void runSequence(HWND d) {
    std::string pattern = fieldText(d, IDC_SEQ_IN_PATTERN), outPattern = fieldText(d, IDC_SEQ_OUT_PATTERN);
    if (pattern.empty() || outPattern.empty()) {
        MessageBoxA(d, loadText(pattern.empty() ? IDS_INPUT_MISSING : IDS_OUTPUT_MISSING).c_str(), "Error",
                    MB_OK | MB_ICONERROR);
        return;
    }
    if (selectedFormat(d, IDC_BATCH_FORMAT) < 0) return;
    std::string source = withSeparator(fieldText(d, IDC_SEQ_IN_FOLDER));
    std::string dest = fieldText(d, IDC_BATCH_FOLDER);
    dest = dest.empty() ? source : withSeparator(dest);
    const int inFormat = selectedFormat(d, IDC_SEQ_IN_FORMAT);
    const int start = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_START, nullptr, TRUE));
    const int end = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_END, nullptr, TRUE));
    const int step = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_STEP, nullptr, TRUE));
    const bool literal = end < start || step < 1;
    Run run{};
    startRun(&run, d, literal ? 1 : static_cast<int>((static_cast<int64_t>(end) - start) / step + 1));
    const size_t extension = longestOutputExtension(run.format);
    const bool frameWasEnabled = IsWindowEnabled(g_frame.frame) != 0;
    EnableWindow(g_frame.frame, FALSE);
    for (int64_t n = start; literal || n <= end; n += step) {
        if (progressPump(run.progress)) {
            g_report.stopped = true;
            break;
        }
        std::string from = source + (literal ? pattern : sequenceFileName(pattern, static_cast<int>(n)));
        std::string to = literal ? outPattern : sequenceFileName(outPattern, static_cast<int>(n));
        std::string stem = dest + nameWithoutExtension(nameOfPath(to));
        stem = folderOfPath(dest + to) + nameOfPath(stem);
        bool go = true;
        if (stem.size() + extension > BATCH_MAX_PATH) {
            ++g_report.refused;
            tell(&run, formatted(IDS_BATCH_TOO_LONG, from), "Warning", MB_ICONWARNING);
        } else {
            go = convertOne(&run, from, stem, inFormat);
        }
        progressStep(run.progress);
        if (!go || literal) break;
    }
    if (frameWasEnabled) EnableWindow(g_frame.frame, TRUE);
    closeProgress(run.progress);
    SetActiveWindow(d);  // the dialog stays open for the next run
}

// ---- The dialog ----

void remember(HWND d, const DialogState& s) {
    g_last.folder = fieldText(d, IDC_BATCH_FOLDER);
    g_last.format = selectedFormat(d, IDC_BATCH_FORMAT);
    g_settings.hideError = isChecked(d, IDC_BATCH_HIDE_ERRORS) ? 1 : 0;
    if (!s.sequence) return;
    g_last.seqFolder = fieldText(d, IDC_SEQ_IN_FOLDER);
    g_last.seqPattern = fieldText(d, IDC_SEQ_IN_PATTERN);
    g_last.seqOutPattern = fieldText(d, IDC_SEQ_OUT_PATTERN);
    g_last.seqFormat = selectedFormat(d, IDC_SEQ_IN_FORMAT);
    g_last.start = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_START, nullptr, TRUE));
    g_last.end = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_END, nullptr, TRUE));
    g_last.step = static_cast<int>(GetDlgItemInt(d, IDC_SEQ_STEP, nullptr, TRUE));
}

void initDialog(HWND d, const DialogState& s) {
    centreDialog(d);
    fillFormats(d, IDC_BATCH_FORMAT, true, g_last.format);
    SetDlgItemTextA(d, IDC_BATCH_FOLDER, g_last.folder.c_str());
    // "Effacer l'original" starts unchecked at every opening: originals go only when asked each time.
    CheckDlgButton(d, IDC_BATCH_DELETE, BST_UNCHECKED);
    CheckDlgButton(d, IDC_BATCH_HIDE_ERRORS, g_settings.hideError ? BST_CHECKED : BST_UNCHECKED);
    SendDlgItemMessageA(d, IDC_BATCH_FOLDER, EM_LIMITTEXT, MAX_PATH_CHARS, 0);
    if (!s.sequence) {
        SendDlgItemMessageA(d, IDC_MUL_LIST, LB_SETHORIZONTALEXTENT, 1600, 0);
        for (const std::string& f : s.files) addListed(d, f);
        return;
    }
    fillFormats(d, IDC_SEQ_IN_FORMAT, false, g_last.seqFormat);
    SetDlgItemTextA(d, IDC_SEQ_IN_FOLDER, g_last.seqFolder.c_str());
    SetDlgItemTextA(d, IDC_SEQ_IN_PATTERN, g_last.seqPattern.c_str());
    SetDlgItemTextA(d, IDC_SEQ_OUT_PATTERN, g_last.seqOutPattern.c_str());
    SetDlgItemInt(d, IDC_SEQ_START, static_cast<UINT>(g_last.start), TRUE);
    SetDlgItemInt(d, IDC_SEQ_END, static_cast<UINT>(g_last.end), TRUE);
    SetDlgItemInt(d, IDC_SEQ_STEP, static_cast<UINT>(g_last.step), TRUE);
}

INT_PTR CALLBACK batchProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam) {
    DialogState* s = reinterpret_cast<DialogState*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        initDialog(d, *reinterpret_cast<DialogState*>(lParam));
        return TRUE;
    case WM_COMMAND: {
        if (!s || HIWORD(wParam) != BN_CLICKED) break;
        std::string folder;
        switch (LOWORD(wParam)) {
        case IDOK: s->sequence ? runSequence(d) : runMultiple(d); return TRUE;
        case IDCANCEL:
            remember(d, *s);
            EndDialog(d, 0);
            return TRUE;
        case IDC_MUL_ADD: addFromFileDialog(d); return TRUE;
        case IDC_MUL_ADD_FOLDER: addFolderFiles(d); return TRUE;
        case IDC_MUL_REMOVE: removeSelected(d); return TRUE;
        case IDC_MUL_REMOVE_ALL: SendDlgItemMessageA(d, IDC_MUL_LIST, LB_RESETCONTENT, 0, 0); return TRUE;
        case IDC_BATCH_BROWSE:
            if (pickFolder(d, "Output Directory", &folder)) SetDlgItemTextA(d, IDC_BATCH_FOLDER, folder.c_str());
            return TRUE;
        case IDC_SEQ_IN_BROWSE:
            if (pickFolder(d, "Output Directory", &folder)) SetDlgItemTextA(d, IDC_SEQ_IN_FOLDER, folder.c_str());
            return TRUE;
        case IDC_BATCH_OPERATIONS: showOperationsDialog(d); return TRUE;
        case IDC_BATCH_SCRIPT: saveScript(d, *s); return TRUE;
        case IDC_BATCH_OPTIONS: showOptionsDialog(d, 0); return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

}  // namespace

void showMultipleConversion(HWND owner, const std::vector<std::string>& files) {
    DialogState s{false, files};
    DialogBoxParamA(instance(), "KaleoMulConvert", owner, batchProc, reinterpret_cast<LPARAM>(&s));
}

void showSequenceConversion(HWND owner) {
    DialogState s{true, {}};
    DialogBoxParamA(instance(), "KaleoSeqConvert", owner, batchProc, reinterpret_cast<LPARAM>(&s));
}

void batchAddFiles(HWND dialog, const std::vector<std::string>& files) {
    for (const std::string& f : files) addListed(dialog, f);
}

bool batchWriteScript(HWND dialog, const char* path) {
    DialogState* s = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    return s && writeScriptFile(dialog, *s, path);
}

std::vector<int> batchOutputFormats(HWND dialog) {
    std::vector<int> formats;
    HWND combo = GetDlgItem(dialog, IDC_BATCH_FORMAT);
    int n = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i)
        formats.push_back(static_cast<int>(SendMessageA(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)));
    return formats;
}

const BatchRunReport& lastBatchRun() { return g_report; }
