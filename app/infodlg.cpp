// The dialogs of the "I&nfo" menu: About, the formats list and the
// command-line help.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "formatrows.h"
#include "kaleocore.h"

namespace {

INT_PTR CALLBACK aboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        centreDialog(dialog);
        char text[64];
        snprintf(text, sizeof text, "Version 1.12 (%s)", "Dec 16 1999");
        SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, text);
        SetDlgItemTextA(dialog, IDC_ABOUT_LIBRARY, libraryVersion());
        // The counts of the registry as it is, as the formats dialog lists it.
        FormatCounts counts = countFormats();
        snprintf(text, sizeof text, loadText(IDS_ABOUT_FORMATS).c_str(), counts.readers, counts.writers);
        SetDlgItemTextA(dialog, IDC_ABOUT_FORMATS, text);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void fillFormats(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_HELP_LIST);
    bool byId = IsDlgButtonChecked(dialog, IDC_HELP_SORT_BY_ID) == BST_CHECKED;
    std::string yes = loadText(IDS_YES), no = loadText(IDS_NO);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    std::vector<FormatRow> rows = buildFormatRows(byId);
    for (size_t i = 0; i < rows.size(); ++i) {
        LVITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<char*>(rows[i].name.c_str());
        int at = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        const std::string* columns[3] = {rows[i].canRead ? &yes : &no, rows[i].canWrite ? &yes : &no,
                                         &rows[i].extensions};
        for (int c = 0; c < 3; ++c) {
            LVITEMA sub;
            memset(&sub, 0, sizeof sub);
            sub.iSubItem = c + 1;
            sub.pszText = const_cast<char*>(columns[c]->c_str());
            SendMessageA(list, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&sub));
        }
    }
    // Each column as wide as its widest text, heading included.
    const UINT headings[4] = {IDS_COL_NAME, IDS_COL_READ, IDS_COL_WRITE, IDS_COL_EXTENSION};
    for (int c = 0; c < 4; ++c) {
        SendMessageA(list, LVM_SETCOLUMNWIDTH, c, LVSCW_AUTOSIZE);
        int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
        std::string heading = loadText(headings[c]);
        int headingWidth =
            static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(heading.c_str()))) + 16;
        if (headingWidth > width) SendMessageA(list, LVM_SETCOLUMNWIDTH, c, headingWidth);
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

INT_PTR CALLBACK formatsProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        centreDialog(dialog);
        HWND list = GetDlgItem(dialog, IDC_HELP_LIST);
        const UINT headings[4] = {IDS_COL_NAME, IDS_COL_READ, IDS_COL_WRITE, IDS_COL_EXTENSION};
        for (int c = 0; c < 4; ++c) {
            std::string text = loadText(headings[c]);
            LVCOLUMNA column;
            memset(&column, 0, sizeof column);
            column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            column.pszText = const_cast<char*>(text.c_str());
            column.cx = 60;
            column.iSubItem = c;
            SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column));
        }
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
        CheckDlgButton(dialog, IDC_HELP_SORT_BY_ID, BST_CHECKED);
        fillFormats(dialog);
        // The same counts as the About box: what the library really reads and writes.
        const FormatCounts counts = countFormats();
        char text[64];
        snprintf(text, sizeof text, loadText(IDS_ABOUT_FORMATS).c_str(), counts.readers, counts.writers);
        SetDlgItemTextA(dialog, IDC_HELP_COUNTS, text);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_HELP_SORT_BY_ID: fillFormats(dialog); return TRUE;
        case IDOK:
        case IDCANCEL: EndDialog(dialog, IDOK); return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK commandHelpProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: centreDialog(dialog); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void showAboutDialog(HWND owner) { DialogBoxParamA(g_frame.instance, "KaleoAbout", owner, aboutProc, 0); }
void showFormatsDialog(HWND owner) { DialogBoxParamA(g_frame.instance, "KaleoHelp", owner, formatsProc, 0); }
void showCommandLineHelp(HWND owner) { DialogBoxParamA(g_frame.instance, "KaleoCmd", owner, commandHelpProc, 0); }
