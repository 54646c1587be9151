// Printing: the dialog "KaleoPrint" (size options), the printer chosen in the
// system's print dialog, and one page with the picture placed and sized as
// the options say, while "KaleoPrintAbort" offers to cancel.
#include <cstdio>
#include <cstring>

#include "app.h"
#include "printlogic.h"

namespace {

HWND g_abortDialog = nullptr;
bool g_cancelled = false;

void warn(HWND owner, UINT id) {
    std::string text = loadText(id);
    MessageBoxA(owner, text.c_str(), "Warning", MB_OK | MB_ICONERROR);
}

void enableScales(HWND dialog) {
    BOOL on = IsDlgButtonChecked(dialog, IDC_PRINT_SCALE) == BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_PRINT_X_SCALE), on);
    EnableWindow(GetDlgItem(dialog, IDC_PRINT_Y_SCALE), on);
}

INT_PTR CALLBACK printDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        int button = g_settings.printOption == PRINT_BEST_SIZE ? IDC_PRINT_BEST
                     : g_settings.printOption == PRINT_SCALE   ? IDC_PRINT_SCALE
                                                               : IDC_PRINT_FIT_PAGE;
        CheckRadioButton(dialog, IDC_PRINT_BEST, IDC_PRINT_SCALE, button);
        SetDlgItemInt(dialog, IDC_PRINT_X_SCALE, static_cast<UINT>(g_settings.printXScale), FALSE);
        SetDlgItemInt(dialog, IDC_PRINT_Y_SCALE, static_cast<UINT>(g_settings.printYScale), FALSE);
        CheckDlgButton(dialog, IDC_PRINT_CENTRE, g_settings.printCenterOnPage ? BST_CHECKED : BST_UNCHECKED);
        enableScales(dialog);
        centreDialog(dialog);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PRINT_BEST:
        case IDC_PRINT_FIT_PAGE:
        case IDC_PRINT_SCALE: enableScales(dialog); return TRUE;
        case IDOK: {
            g_settings.printOption = IsDlgButtonChecked(dialog, IDC_PRINT_BEST)    ? PRINT_BEST_SIZE
                                     : IsDlgButtonChecked(dialog, IDC_PRINT_SCALE) ? PRINT_SCALE
                                                                                   : PRINT_FIT_PAGE;
            BOOL ok = FALSE;
            UINT x = GetDlgItemInt(dialog, IDC_PRINT_X_SCALE, &ok, FALSE);
            setSettingInt(&g_settings, "Print", "XScale", 0, ok ? static_cast<int32_t>(x) : 1);
            UINT y = GetDlgItemInt(dialog, IDC_PRINT_Y_SCALE, &ok, FALSE);
            setSettingInt(&g_settings, "Print", "YScale", 0, ok ? static_cast<int32_t>(y) : 1);
            g_settings.printCenterOnPage = IsDlgButtonChecked(dialog, IDC_PRINT_CENTRE) == BST_CHECKED;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

INT_PTR CALLBACK abortDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: centreDialog(dialog); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            g_cancelled = true;
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// Lets pending messages through to the abort dialog; FALSE once cancelled.
BOOL CALLBACK abortProc(HDC, int) {
    MSG msg;
    while (!g_cancelled && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!g_abortDialog || !IsDialogMessageA(g_abortDialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return !g_cancelled;
}

void setAbortText(const std::string& text) {
    if (g_abortDialog) SetDlgItemTextA(g_abortDialog, IDC_PRINT_ABORT_TEXT, text.c_str());
}

struct Header {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

bool drawRegion(HDC dc, const DibBuffer& dib, const PrintRect& output, const PrintRect& region) {
    PrintRect d, s;
    if (!printRegionPart(output, region, dib.width, dib.height, &d, &s)) return true;
    Header bmi;
    memset(&bmi, 0, sizeof bmi);
    bmi.header.biSize = sizeof bmi.header;
    bmi.header.biWidth = dib.width;
    bmi.header.biHeight = dib.height;
    bmi.header.biPlanes = 1;
    bmi.header.biBitCount = static_cast<WORD>(dib.bitsPerPixel);
    bmi.header.biCompression = BI_RGB;
    bmi.header.biClrUsed = static_cast<DWORD>(dib.colourCount);
    for (int i = 0; i < dib.colourCount; ++i) {
        bmi.colours[i].rgbBlue = dib.colours[i][0];
        bmi.colours[i].rgbGreen = dib.colours[i][1];
        bmi.colours[i].rgbRed = dib.colours[i][2];
    }
    // The rows are bottom-up: the source rectangle's y counts from the bottom.
    int sourceY = dib.height - s.top - s.height;
    return StretchDIBits(dc, d.left, d.top, d.width, d.height, s.left, sourceY, s.width, s.height,
                         dib.pixels.get(), reinterpret_cast<BITMAPINFO*>(&bmi), DIB_RGB_COLORS,
                         SRCCOPY) != static_cast<int>(GDI_ERROR);
}

}  // namespace

bool printPictureOn(HWND owner, HDC dc, const Image& image, const char* fileName, const char* output) {
    DibBuffer dib;
    if (!g_frame.displayTables || !buildDib(image, 24, *g_frame.displayTables, &dib)) {
        warn(owner, IDS_PRINT_NO_MEMORY);
        return false;
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    PrintPage page = {GetDeviceCaps(dc, HORZRES), GetDeviceCaps(dc, VERTRES), GetDeviceCaps(dc, LOGPIXELSX),
                      GetDeviceCaps(dc, LOGPIXELSY)};
    PrintRect outputRect =
        printOutputRect(g_settings.printOption, image.width, image.height, page, g_settings.printXScale,
                        g_settings.printYScale);

    g_cancelled = false;
    g_abortDialog = CreateDialogParamA(g_frame.instance, "KaleoPrintAbort", owner, abortDialogProc, 0);
    char shortName[32];
    copyText(shortName, sizeof shortName, fileName);
    char text[128];
    snprintf(text, sizeof text, loadText(IDS_PRINT_PRINTING).c_str(), shortName);
    setAbortText(text);
    EnableWindow(owner, FALSE);
    SetAbortProc(dc, abortProc);

    DOCINFOA doc;
    memset(&doc, 0, sizeof doc);
    doc.cbSize = sizeof doc;
    doc.lpszDocName = fileName;
    doc.lpszOutput = output;
    bool ok = StartDocA(dc, &doc) > 0;
    if (ok) {
        ok = StartPage(dc) > 0;
        setAbortText(loadText(IDS_PRINT_SENDING));
        PrintRect whole = {0, 0, page.width, page.height};
        if (ok && !g_cancelled) ok = drawRegion(dc, dib, outputRect, whole);
        if (ok && !g_cancelled) ok = EndPage(dc) > 0;
        if (g_cancelled) AbortDoc(dc);
        else if (EndDoc(dc) <= 0) ok = false;
    }
    EnableWindow(owner, TRUE);
    if (g_abortDialog) DestroyWindow(g_abortDialog);
    g_abortDialog = nullptr;
    if (!ok && !g_cancelled) warn(owner, IDS_PRINT_PROBLEM);
    return ok && !g_cancelled;
}

void printPicture(HWND owner, const Image& image, const char* fileName) {
    if (DialogBoxParamA(g_frame.instance, "KaleoPrint", owner, printDialogProc, 0) != IDOK) return;
    PRINTDLGA pd;
    memset(&pd, 0, sizeof pd);
    pd.lStructSize = sizeof pd;
    pd.hwndOwner = owner;
    pd.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION;
    pd.nCopies = 1;
    if (!PrintDlgA(&pd)) {
        // Cancelled ends quietly; a failure of the dialog itself is the printer's.
        if (CommDlgExtendedError() != 0) warn(owner, IDS_PRINT_PROBLEM);
        return;
    }
    if (pd.hDC) {
        printPictureOn(owner, pd.hDC, image, fileName, nullptr);
        DeleteDC(pd.hDC);
    }
    if (pd.hDevMode) GlobalFree(pd.hDevMode);
    if (pd.hDevNames) GlobalFree(pd.hDevNames);
}
