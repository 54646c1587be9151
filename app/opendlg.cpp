// The open dialog's own part (template "2000"): "Informations sur l'image"
// describes the selected file from its header, without decoding it, and
// "Preview" (the [Load] Preview setting) shows it as a small picture decoded
// at a bounded size.
#include <windows.h>
#include <commdlg.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app.h"
#include "display.h"
#include "kaleocore.h"

namespace {

// What the panel shows; one open dialog at a time.
struct OpenPanel {
    std::string path;
    DibBuffer dib;
    bool hasPicture = false;
};
OpenPanel* g_panel = nullptr;

std::string colourText(const FileInfo& info) {
    int bits = info.planes * info.bitsPerPlane;
    if (bits <= 0) return "?";
    if (bits >= 24) return loadText(IDS_OPEN_TRUE_COLOUR);
    return std::to_string(1L << bits);
}

void setText(HWND panel, int id, const std::string& text) { SetDlgItemTextA(panel, id, text.c_str()); }

// A small copy of the file for the preview, bounded while decoding.
void loadPreview(HWND panel, const std::string& unixPath) {
    g_panel->hasPicture = false;
    RECT box;
    GetClientRect(GetDlgItem(panel, IDC_OPEN_THUMBNAIL), &box);
    if (box.right < 4 || box.bottom < 4 || !g_frame.displayTables) return;
    IoOptions options = defaultIoOptions();
    options.maxWidth = box.right - 2;
    options.maxHeight = box.bottom - 2;
    Image image;
    FileInfo info;
    Status st;
    {
        BusyScope busy;
        st = loadImage(unixPath.c_str(), &image, &options, &info);
    }
    if (st == ST_OK) g_panel->hasPicture = buildDib(image, 24, *g_frame.displayTables, &g_panel->dib);
    freeImage(&image);
}

void describeSelection(HWND panel) {
    char path[PATH_SIZE] = {};
    LRESULT n = SendMessageA(GetParent(panel), CDM_GETFILEPATH, sizeof path, reinterpret_cast<LPARAM>(path));
    std::string chosen = n > 0 && static_cast<size_t>(n) <= sizeof path ? path : "";
    if (chosen == g_panel->path) return;
    g_panel->path = chosen;
    g_panel->hasPicture = false;
    std::string format, size, colours;
    if (!chosen.empty() && probePath(chosen.c_str()) == PATH_FILE) {
        std::string unixPath = libraryPath(chosen.c_str());
        FileInfo info;
        Status st = ST_CANNOT_OPEN;
        if (!unixPath.empty()) {
            BusyScope busy;
            st = readImageInfo(unixPath.c_str(), -1, 0, &info);
        }
        char text[640];
        if (st == ST_OK) {
            snprintf(text, sizeof text, loadText(IDS_OPEN_INFO_FORMAT).c_str(), info.formatName);
            format = text;
            snprintf(text, sizeof text, loadText(IDS_OPEN_INFO_SIZE).c_str(), info.width, info.height);
            size = text;
            snprintf(text, sizeof text, loadText(IDS_OPEN_INFO_COLOURS).c_str(), colourText(info).c_str());
            colours = text;
            if (g_settings.preview) loadPreview(panel, unixPath);
        } else {
            format = loadText(IDS_OPEN_NOT_PICTURE);
        }
    }
    setText(panel, IDC_OPEN_INFO_NAME, format);
    setText(panel, IDC_OPEN_INFO_SIZE, size);
    setText(panel, IDC_OPEN_INFO_COLOURS, colours);
    InvalidateRect(GetDlgItem(panel, IDC_OPEN_THUMBNAIL), nullptr, TRUE);
}

// The preview, centred in its box at its decoded size.
void drawPreview(const DRAWITEMSTRUCT* item) {
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
    if (!g_panel || !g_panel->hasPicture || !g_settings.preview) return;
    const DibBuffer& d = g_panel->dib;
    BITMAPINFO bi;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = d.width;
    bi.bmiHeader.biHeight = d.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(d.bitsPerPixel);
    bi.bmiHeader.biCompression = BI_RGB;
    int x = item->rcItem.left + (item->rcItem.right - item->rcItem.left - d.width) / 2;
    int y = item->rcItem.top + (item->rcItem.bottom - item->rcItem.top - d.height) / 2;
    StretchDIBits(item->hDC, x, y, d.width, d.height, 0, 0, d.width, d.height, d.pixels.get(), &bi, DIB_RGB_COLORS,
                  SRCCOPY);
}

UINT_PTR CALLBACK openHook(HWND panel, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        CheckDlgButton(panel, IDC_OPEN_PREVIEW, g_settings.preview ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == CDN_SELCHANGE || header->code == CDN_FOLDERCHANGE) describeSelection(panel);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_OPEN_PREVIEW) {
            g_settings.preview = IsDlgButtonChecked(panel, IDC_OPEN_PREVIEW) == BST_CHECKED ? 1 : 0;
            g_panel->path.clear();  // described again, with or without its picture
            describeSelection(panel);
            return TRUE;
        }
        break;
    case WM_DRAWITEM:
        if (wParam == IDC_OPEN_THUMBNAIL) {
            drawPreview(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    }
    return 0;
}

}  // namespace

BOOL runOpenDialog(OPENFILENAMEA* ofn) {
    OpenPanel panel;
    g_panel = &panel;
    if (ofn->Flags & OFN_EXPLORER) {
        ofn->Flags |= OFN_ENABLETEMPLATE | OFN_ENABLEHOOK;
        ofn->hInstance = g_frame.instance;
        ofn->lpTemplateName = MAKEINTRESOURCEA(2000);
        ofn->lpfnHook = openHook;
    }
    BOOL chosen = GetOpenFileNameA(ofn);
    g_panel = nullptr;
    return chosen;
}
