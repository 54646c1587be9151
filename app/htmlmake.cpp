// "Page Web...": the dialog "KaleoThumb" and the catalogue it builds, a folder
// with "Page.html", the originals under "original\" and the thumbnails under
// "thumb\". The page is written in UTF-8 (and says so), whatever the code
// page of the names.
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "descript.h"
#include "dither.h"
#include "geometry.h"
#include "htmlpage.h"

namespace {

// Text of the system's code page as UTF-8.
std::string utf8Of(const std::string& ansi) {
    if (ansi.empty()) return ansi;
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), nullptr, 0);
    if (n <= 0) return ansi;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), &wide[0], n);
    int m = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), n, nullptr, 0, nullptr, nullptr);
    if (m <= 0) return ansi;
    std::string out(static_cast<size_t>(m), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), n, &out[0], m, nullptr, nullptr);
    return out;
}

std::string formatText(UINT id, const std::string& a, const std::string& b = "") {
    std::string pattern = loadText(id);
    std::vector<char> text(pattern.size() + a.size() + b.size() + 16);
    snprintf(text.data(), text.size(), pattern.c_str(), a.c_str(), b.c_str());
    return text.data();
}

bool isFolder(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Asks whether to go on after a failure of one file; false stops the build.
bool askContinue(HWND owner, const std::string& text, const char* title) {
    return MessageBoxA(owner, text.c_str(), title, MB_OKCANCEL | MB_ICONWARNING) == IDOK;
}

struct PageWriter {
    HANDLE file = INVALID_HANDLE_VALUE;
    bool ok = true;
    void write(const std::string& s) {
        DWORD done = 0;
        if (!WriteFile(file, s.data(), static_cast<DWORD>(s.size()), &done, nullptr) || done != s.size()) ok = false;
    }
};

// Loads a file no larger than needed for its thumbnail (the reader shrinks
// while decoding); info receives the file's own size.
Status loadBounded(const std::string& path, int32_t maxW, int32_t maxH, Image* image, FileInfo* info) {
    std::string unixPath = libraryPath(path.c_str());
    if (unixPath.empty()) return ST_CANNOT_OPEN;
    IoOptions o = settingsLoadOptions(-1, 0);
    o.maxWidth = maxW;
    o.maxHeight = maxH;
    BusyScope busy;
    Status st = loadImage(unixPath.c_str(), image, &o, info);
    if (st != ST_OK) freeImage(image);
    return st;
}

// Saves the thumbnail in the page's format with the page's own writer options.
Status saveThumbnail(Image* image, const std::string& path, int format) {
    int index = findFormat(format == HTML_FORMAT_JPEG ? "jpeg" : "gif");
    OwnedImage converted;
    Image* toSave = image;
    const WriteVariant* variant = nullptr;
    if (!findWriteVariant(index, image, &variant)) {
        // GIF: 216 colours, dithered; JPEG: true colour.
        Status st = convertWithCode(image, &converted, format == HTML_FORMAT_JPEG ? 32 : 30);
        if (st != ST_OK) return st;
        toSave = &converted;
    }
    std::string unixPath = libraryPath(path.c_str());
    if (unixPath.empty() || unixPath.size() >= FILE_NAME_LEN) return ST_CANNOT_OPEN;
    char fileName[FILE_NAME_LEN];
    copyText(fileName, sizeof fileName, unixPath.c_str());
    IoOptions o = defaultIoOptions();
    o.formatIndex = static_cast<int16_t>(index);
    if (format == HTML_FORMAT_JPEG) {
        o.writerOption2 = static_cast<int16_t>(htmlClamp(g_settings.htmlQualityJpeg, 1, 100));
        o.writerOption3 = g_settings.htmlProgressiveJpeg ? 1 : 0;
    } else {
        o.writerOption3 = g_settings.htmlInterlacedGif ? 1 : 0;
    }
    BusyScope busy;
    return saveImage(fileName, toSave, &o);
}

bool sameExtension(const std::string& name, int format) {
    std::string e = nameExtension(name);
    for (char& c : e) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (format == HTML_FORMAT_JPEG) return e == "jpg" || e == "jpeg" || e == "jpe" || e == "jfif";
    return e == "gif";
}

}  // namespace

bool makeThumbnailPage(HWND owner, const std::string& title, const std::string& sourceFolder,
                       const std::vector<BrowserEntry>& selected) {
    std::string out = htmlOutputFolder(g_settings.htmlOutputDirectory);
    if (out.empty()) {
        MessageBoxA(owner, loadText(IDS_HTML_NO_FOLDER).c_str(), "Warning", MB_OK | MB_ICONWARNING);
        return false;
    }
    const int columns = htmlClamp(g_settings.htmlTableColumns, HtmlLimits::COLUMNS_MIN, HtmlLimits::COLUMNS_MAX);
    const int32_t thumbW = htmlClamp(g_settings.htmlThumbWidth, HtmlLimits::THUMB_MIN, HtmlLimits::THUMB_MAX);
    const int32_t thumbH = htmlClamp(g_settings.htmlThumbHeight, HtmlLimits::THUMB_MIN, HtmlLimits::THUMB_MAX);
    const int format = g_settings.htmlFormat == HTML_FORMAT_JPEG ? HTML_FORMAT_JPEG : HTML_FORMAT_GIF;
    const int display = g_settings.htmlDisplay;

    // 1. The page's order.
    std::vector<int> order = htmlPageOrder(selected, g_settings.htmlSort);
    std::vector<std::string> names;
    for (int i : order) names.push_back(selected[static_cast<size_t>(i)].name);
    std::vector<std::string> thumbNames = htmlThumbnailNames(names, format == HTML_FORMAT_JPEG ? "jpg" : "gif");

    // 2. The folders and the page.
    for (const std::string& f : {out, out + HTML_THUMB_FOLDER, out + HTML_ORIGINAL_FOLDER}) {
        CreateDirectoryA(f.c_str(), nullptr);
        if (!isFolder(f)) {
            MessageBoxA(owner, formatText(IDS_HTML_CANNOT_CREATE, f).c_str(), "Error", MB_OK | MB_ICONERROR);
            return false;
        }
    }
    PageWriter page;
    page.file = CreateFileA((out + HTML_PAGE_NAME).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (page.file == INVALID_HANDLE_VALUE) {
        showStatusError(owner, ST_CANNOT_OPEN, (out + HTML_PAGE_NAME).c_str(), nullptr);
        return false;
    }

    // 3. Progress and descriptions.
    std::string creating = loadText(IDS_HTML_CREATING);
    Progress* progress = openProgress(owner, creating.c_str(), creating.c_str(), true);
    progressSetTotal(progress, static_cast<int>(names.size()));

    // 4-6. Head, one cell per file, tail.
    page.write(htmlPageHead(utf8Of(title), g_settings.htmlTableBorder));
    for (size_t k = 0; k < names.size(); ++k) {
        const BrowserEntry& e = selected[static_cast<size_t>(order[k])];
        const std::string source = sourceFolder + e.name;
        progressSetText(progress, formatText(IDS_HTML_LOADING, e.name).c_str());
        if (progressPump(progress) &&
            MessageBoxA(owner, loadText(IDS_HTML_STOP).c_str(), "Question", MB_OKCANCEL | MB_ICONQUESTION) == IDOK)
            break;
        if (htmlRowEndsBefore(static_cast<int>(k), columns)) page.write(htmlRowBreak());

        HtmlCell cell;
        cell.name = utf8Of(e.name);
        cell.fileSize = e.size;
        OwnedImage image;
        FileInfo info;
        memset(&info, 0, sizeof info);
        Status st = loadBounded(source, thumbW, thumbH, &image, &info);
        bool stop = false;
        if (st != ST_OK) {
            if (st == ST_STOPPED) break;
            std::string why = statusMessage(st, source.c_str(), info.message);
            stop = !askContinue(owner, formatText(IDS_HTML_LOAD_FAILED, why), "Warning");
        }
        progressSetText(progress, formatText(IDS_HTML_COPYING, e.name).c_str());
        std::string copy = out + HTML_ORIGINAL_FOLDER + "\\" + e.name;
        if (!stop && !CopyFileA(source.c_str(), copy.c_str(), FALSE))
            stop = !askContinue(owner, formatText(IDS_HTML_COPY_FAILED, source, copy), "Warning");
        if (!stop && st == ST_OK) {
            int32_t fullW = info.width > 0 ? info.width : image.width;
            int32_t fullH = info.height > 0 ? info.height : image.height;
            cell.width = fullW;
            cell.height = fullH;
            cell.bitsPerPixel = info.planes * info.bitsPerPlane;
            bool useOriginal = g_settings.htmlUseOriginalIfSmaller && fullW <= thumbW && fullH <= thumbH &&
                               sameExtension(e.name, format);
            if (useOriginal) {
                cell.loaded = true;
                cell.imageFolder = HTML_ORIGINAL_FOLDER;
                cell.imageName = cell.name;
                cell.imageWidth = fullW;
                cell.imageHeight = fullH;
            } else {
                progressSetText(progress, formatText(IDS_HTML_RESIZING, e.name).c_str());
                int32_t tw, th;
                htmlThumbnailSize(fullW, fullH, thumbW, thumbH, &tw, &th);
                OwnedImage reduced;
                Image* thumb = &image;
                if (image.width != tw || image.height != th) {
                    if (resizeImage(&image, &reduced, tw, th, RESAMPLE_AREA) == ST_OK) thumb = &reduced;
                }
                progressSetText(progress, formatText(IDS_HTML_CONVERTING, e.name).c_str());
                progressSetText(progress, formatText(IDS_HTML_SAVING, e.name).c_str());
                std::string thumbPath = out + HTML_THUMB_FOLDER + "\\" + thumbNames[k];
                Status saved = saveThumbnail(thumb, thumbPath, format);
                if (saved == ST_OK) {
                    cell.loaded = true;
                    cell.imageFolder = HTML_THUMB_FOLDER;
                    cell.imageName = utf8Of(thumbNames[k]);
                    cell.imageWidth = thumb->width;
                    cell.imageHeight = thumb->height;
                } else {
                    std::string why = statusMessage(saved, thumbPath.c_str(), nullptr);
                    stop = !askContinue(owner, formatText(IDS_HTML_SAVE_FAILED, why), "Error");
                }
            }
        }
        if (e.lastWrite) {
            FILETIME utc, local;
            utc.dwLowDateTime = static_cast<DWORD>(e.lastWrite);
            utc.dwHighDateTime = static_cast<DWORD>(e.lastWrite >> 32);
            SYSTEMTIME t;
            if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &t)) {
                cell.hasDate = true;
                cell.date = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
            }
        }
        cell.hasDescription = e.hasDescription && !e.description.empty();
        cell.description = utf8Of(e.description);
        page.write(htmlCellText(cell, display));
        progressStep(progress);
        if (stop) break;
    }
    page.write(htmlPageTail());
    bool ok = page.ok;
    if (!CloseHandle(page.file)) ok = false;
    closeProgress(progress);
    if (!ok) showStatusError(owner, ST_WRITE_ERROR, (out + HTML_PAGE_NAME).c_str(), nullptr);
    return ok;
}

// ---- The dialog "KaleoThumb" ---------------------------------------------------------------

namespace {

struct ThumbDialog {
    std::string title;
};

void showFormatControls(HWND dialog) {
    bool jpeg = IsDlgButtonChecked(dialog, IDC_THUMB_JPEG) == BST_CHECKED;
    ShowWindow(GetDlgItem(dialog, IDC_THUMB_INTERLACED), jpeg ? SW_HIDE : SW_SHOW);
    for (int id : {IDC_THUMB_PROGRESSIVE, IDC_THUMB_QUALITY, IDC_THUMB_QUALITY_SPIN, IDC_THUMB_QUALITY_LABEL})
        ShowWindow(GetDlgItem(dialog, id), jpeg ? SW_SHOW : SW_HIDE);
}

void initSpin(HWND dialog, int id, int low, int high, int value) {
    SendDlgItemMessageA(dialog, id, UDM_SETRANGE32, static_cast<WPARAM>(low), high);
    SendDlgItemMessageA(dialog, id, UDM_SETPOS32, 0, value);
}

int32_t readNumber(HWND dialog, int id, int32_t fallback) {
    BOOL ok = FALSE;
    UINT v = GetDlgItemInt(dialog, id, &ok, FALSE);
    return ok ? static_cast<int32_t>(v > 0x7FFFFFFF ? 0x7FFFFFFF : v) : fallback;
}

void browseFolder(HWND dialog) {
    char chosen[MAX_PATH + 1] = "";
    BROWSEINFOA bi;
    memset(&bi, 0, sizeof bi);
    bi.hwndOwner = dialog;
    bi.pszDisplayName = chosen;
    bi.lpszTitle = "Output Directory";
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
    if (!pidl) return;
    if (SHGetPathFromIDListA(pidl, chosen) && chosen[0]) SetDlgItemTextA(dialog, IDC_THUMB_FOLDER, chosen);
    CoTaskMemFree(pidl);
}

// Stores every field; false when the output folder is refused.
bool storeFields(HWND dialog, ThumbDialog* d) {
    char text[PATH_SIZE];
    GetDlgItemTextA(dialog, IDC_THUMB_TITLE, text, sizeof text);
    d->title = text;
    setSettingInt(&g_settings, "Html", "TableColumns", 0, readNumber(dialog, IDC_THUMB_COLUMNS, 1));
    setSettingInt(&g_settings, "Html", "TableBorder", 0, readNumber(dialog, IDC_THUMB_BORDER, 0));
    setSettingInt(&g_settings, "Html", "ThumbWidth", 0, readNumber(dialog, IDC_THUMB_WIDTH, 1));
    setSettingInt(&g_settings, "Html", "ThumbHeight", 0, readNumber(dialog, IDC_THUMB_HEIGHT, 1));
    setSettingInt(&g_settings, "Html", "QualityJpeg", 0, readNumber(dialog, IDC_THUMB_QUALITY, 75));
    g_settings.htmlFormat = IsDlgButtonChecked(dialog, IDC_THUMB_JPEG) == BST_CHECKED ? 1 : 0;
    g_settings.htmlInterlacedGif = IsDlgButtonChecked(dialog, IDC_THUMB_INTERLACED) == BST_CHECKED;
    g_settings.htmlProgressiveJpeg = IsDlgButtonChecked(dialog, IDC_THUMB_PROGRESSIVE) == BST_CHECKED;
    g_settings.htmlUseOriginalIfSmaller = IsDlgButtonChecked(dialog, IDC_THUMB_USE_ORIGINAL) == BST_CHECKED;
    int displayBits = 0;
    for (int i = 0; i < 5; ++i)
        if (IsDlgButtonChecked(dialog, IDC_THUMB_SHOW_FIRST + i) == BST_CHECKED) displayBits |= 1 << i;
    g_settings.htmlDisplay = static_cast<int16_t>(displayBits);
    int sort = 0;
    for (int i = 0; i < 5; ++i)
        if (IsDlgButtonChecked(dialog, IDC_THUMB_SORT_FIRST + i) == BST_CHECKED) sort = i;
    if (IsDlgButtonChecked(dialog, IDC_THUMB_REVERSE) == BST_CHECKED) sort |= HTML_SORT_REVERSE;
    g_settings.htmlSort = static_cast<int16_t>(sort);
    GetDlgItemTextA(dialog, IDC_THUMB_FOLDER, text, sizeof text);
    std::string folder = htmlOutputFolder(text);
    if (folder.empty()) {
        MessageBoxA(dialog, loadText(IDS_HTML_NO_FOLDER).c_str(), "Warning", MB_OK | MB_ICONWARNING);
        return false;
    }
    copyText(g_settings.htmlOutputDirectory, PATH_SIZE, folder.c_str());
    return true;
}

INT_PTR CALLBACK thumbDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgItemTextA(dialog, IDC_THUMB_TITLE, reinterpret_cast<ThumbDialog*>(lParam)->title.c_str());
        initSpin(dialog, IDC_THUMB_COLUMNS_SPIN, 1, 64, g_settings.htmlTableColumns);
        initSpin(dialog, IDC_THUMB_BORDER_SPIN, 0, 100, g_settings.htmlTableBorder);
        initSpin(dialog, IDC_THUMB_QUALITY_SPIN, 1, 100, g_settings.htmlQualityJpeg);
        SetDlgItemInt(dialog, IDC_THUMB_WIDTH, static_cast<UINT>(g_settings.htmlThumbWidth), FALSE);
        SetDlgItemInt(dialog, IDC_THUMB_HEIGHT, static_cast<UINT>(g_settings.htmlThumbHeight), FALSE);
        CheckRadioButton(dialog, IDC_THUMB_GIF, IDC_THUMB_JPEG,
                         g_settings.htmlFormat == HTML_FORMAT_JPEG ? IDC_THUMB_JPEG : IDC_THUMB_GIF);
        CheckDlgButton(dialog, IDC_THUMB_INTERLACED, g_settings.htmlInterlacedGif ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, IDC_THUMB_PROGRESSIVE, g_settings.htmlProgressiveJpeg ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, IDC_THUMB_USE_ORIGINAL,
                       g_settings.htmlUseOriginalIfSmaller ? BST_CHECKED : BST_UNCHECKED);
        for (int i = 0; i < 5; ++i)
            CheckDlgButton(dialog, IDC_THUMB_SHOW_FIRST + i,
                           (g_settings.htmlDisplay & (1 << i)) ? BST_CHECKED : BST_UNCHECKED);
        int sort = g_settings.htmlSort & 0xFF;
        CheckRadioButton(dialog, IDC_THUMB_SORT_FIRST, IDC_THUMB_SORT_LAST,
                         IDC_THUMB_SORT_FIRST + (sort <= 4 ? sort : 0));
        CheckDlgButton(dialog, IDC_THUMB_REVERSE, (g_settings.htmlSort & HTML_SORT_REVERSE) ? BST_CHECKED : BST_UNCHECKED);
        SetDlgItemTextA(dialog, IDC_THUMB_FOLDER, g_settings.htmlOutputDirectory);
        showFormatControls(dialog);
        centreDialog(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_THUMB_GIF:
        case IDC_THUMB_JPEG: showFormatControls(dialog); return TRUE;
        case IDC_THUMB_BROWSE: browseFolder(dialog); return TRUE;
        case IDOK:
            if (storeFields(dialog, reinterpret_cast<ThumbDialog*>(GetWindowLongPtrA(dialog, DWLP_USER))))
                EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void runThumbnailPageDialog(HWND owner, const std::string& folder, const std::vector<BrowserEntry>& selected) {
    ThumbDialog d;
    if (DialogBoxParamA(g_frame.instance, "KaleoThumb", owner, thumbDialogProc, reinterpret_cast<LPARAM>(&d)) != IDOK)
        return;
    makeThumbnailPage(owner, d.title, folder, selected);
}
