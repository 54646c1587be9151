// The options dialog "KaleoOption": four categories of controls over the
// settings record, read back on "OK".
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "app.h"
#include "optiontable.h"

namespace {

struct ListChoices {
    int control;
    const char* items[8];
};

// The lists of the reading options; the writer options' lists come from the
// writer option table.
const ListChoices LISTS[] = {
    {IDC_OPT_PCD, {"Base (768x512)", "Base/4 (384x256)", "Base/16 (192x128)", nullptr}},
    {IDC_OPT_GROB, {"2", "4", "8", nullptr}},
    {IDC_OPT_RAW_ORDER, {"Interleaved", "Sequential", "Separate", nullptr}},
    {IDC_OPT_RAW_TYPE, {"Greyscale", "RGB", "BGR", "RGBA", "ABGR", "CMY", "CMYK", nullptr}},
};

// The quality fields and their spin buttons.
struct QualitySpin {
    int spin;
    int edit;
    const char* key;
};
const QualitySpin QUALITY_SPINS[] = {
    {IDC_OPT_JPEG_SPIN, IDC_OPT_JPEG_QUALITY, "JpegQuality"},
    {IDC_OPT_PNG_SPIN, IDC_OPT_PNG_QUALITY, "PngQuality"},
};

void showCategory(HWND dialog, int category) {
    const OptionCategory* categories = optionCategories();
    if (category < 0 || category >= OPTION_CATEGORY_COUNT) category = OPTION_CATEGORY_MISC;
    for (int id = IDC_OPT_WRITE_FIRST; id <= IDC_OPT_BROWSER_LAST; ++id) {
        HWND item = GetDlgItem(dialog, id);
        if (!item) continue;
        bool mine = id >= categories[category].firstControl && id <= categories[category].lastControl;
        ShowWindow(item, mine ? SW_SHOW : SW_HIDE);
    }
    SendDlgItemMessageA(dialog, IDC_OPT_CATEGORIES, LB_SETCURSEL, category, 0);
}

void fillControls(HWND dialog) {
    for (const ListChoices& list : LISTS)
        for (int i = 0; list.items[i]; ++i)
            SendDlgItemMessageA(dialog, list.control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(list.items[i]));
    size_t count = 0;
    const OptionControl* controls = optionControls(&count);
    for (size_t i = 0; i < count; ++i) {
        const OptionControl& c = controls[i];
        if (const char* const* choices = c.kind == OPT_LIST ? writerOptionChoices(c.key) : nullptr)
            for (int k = 0; choices[k]; ++k)
                SendDlgItemMessageA(dialog, c.control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choices[k]));
    }
    for (const QualitySpin& q : QUALITY_SPINS) {
        const WriterOption* w = writerOptionOfSetting(q.key);
        if (w) SendDlgItemMessageA(dialog, q.spin, UDM_SETRANGE32, w->minimum, w->maximum);
    }
    for (size_t i = 0; i < count; ++i) {
        const OptionControl& c = controls[i];
        int32_t value = 0;
        if (!getSettingInt(g_settings, c.section, c.key, 0, &value)) continue;
        switch (c.kind) {
        case OPT_CHECK: CheckDlgButton(dialog, c.control, value ? BST_CHECKED : BST_UNCHECKED); break;
        case OPT_RADIO: CheckDlgButton(dialog, c.control, value == c.radioValue ? BST_CHECKED : BST_UNCHECKED); break;
        case OPT_LIST: SendDlgItemMessageA(dialog, c.control, CB_SETCURSEL, value, 0); break;
        case OPT_NUMBER: SetDlgItemInt(dialog, c.control, static_cast<UINT>(value), TRUE); break;
        }
    }
}

void readControls(HWND dialog) {
    size_t count = 0;
    const OptionControl* controls = optionControls(&count);
    for (size_t i = 0; i < count; ++i) {
        const OptionControl& c = controls[i];
        switch (c.kind) {
        case OPT_CHECK:
            setSettingInt(&g_settings, c.section, c.key, 0, IsDlgButtonChecked(dialog, c.control) == BST_CHECKED);
            break;
        case OPT_RADIO:
            if (IsDlgButtonChecked(dialog, c.control) == BST_CHECKED)
                setSettingInt(&g_settings, c.section, c.key, 0, c.radioValue);
            break;
        case OPT_LIST: {
            LRESULT index = SendDlgItemMessageA(dialog, c.control, CB_GETCURSEL, 0, 0);
            if (index != CB_ERR) setSettingInt(&g_settings, c.section, c.key, 0, static_cast<int32_t>(index));
            break;
        }
        case OPT_NUMBER: {
            BOOL ok = FALSE;
            int value = static_cast<int>(GetDlgItemInt(dialog, c.control, &ok, TRUE));
            if (ok) setSettingInt(&g_settings, c.section, c.key, 0, value);
            break;
        }
        }
    }
}

const QualitySpin* qualitySpin(UINT_PTR id) {
    for (const QualitySpin& q : QUALITY_SPINS)
        if (static_cast<UINT_PTR>(q.spin) == id) return &q;
    return nullptr;
}

// A quality spin: one step per click within 0…100, whatever the control would do.
void onSpin(HWND dialog, const QualitySpin& q, NMUPDOWN* spin) {
    BOOL ok = FALSE;
    int value = static_cast<int>(GetDlgItemInt(dialog, q.edit, &ok, TRUE));
    if (!ok) value = 0;
    SetDlgItemInt(dialog, q.edit, static_cast<UINT>(stepQuality(value, spin->iDelta > 0 ? 1 : -1)), TRUE);
}

INT_PTR CALLBACK optionsProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        centreDialog(dialog);
        const OptionCategory* categories = optionCategories();
        for (int i = 0; i < OPTION_CATEGORY_COUNT; ++i)
            SendDlgItemMessageA(dialog, IDC_OPT_CATEGORIES, LB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(loadText(categories[i].nameString).c_str()));
        fillControls(dialog);
        showCategory(dialog, static_cast<int>(lParam));
        return TRUE;
    }
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        const QualitySpin* q = header->code == UDN_DELTAPOS ? qualitySpin(header->idFrom) : nullptr;
        if (q) {
            onSpin(dialog, *q, reinterpret_cast<NMUPDOWN*>(lParam));
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);  // the control changes nothing itself
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OPT_CATEGORIES:
            if (HIWORD(wParam) == LBN_SELCHANGE)
                showCategory(dialog, static_cast<int>(SendDlgItemMessageA(dialog, IDC_OPT_CATEGORIES, LB_GETCURSEL, 0, 0)));
            return TRUE;
        case IDOK:
            readControls(dialog);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void showOptionsDialog(HWND owner, int category) {
    // The top-most state applies once the dialog is gone: a window with a
    // visible owned pop-up does not change its z-order band.
    if (DialogBoxParamA(g_frame.instance, "KaleoOption", owner, optionsProc, category) == IDOK) applyAlwaysOnTop();
    // Focus and z-order go back to the owner (the save dialog when the
    // options were opened from it), never to the frame behind it.
    if (owner && owner != g_frame.frame && IsWindow(owner)) {
        SetWindowPos(owner, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetActiveWindow(owner);
    }
}

void centreDialog(HWND dialog) {
    HWND owner = GetWindow(dialog, GW_OWNER);
    RECT outer, me;
    if (!owner || !GetWindowRect(owner, &outer)) {
        outer.left = outer.top = 0;
        outer.right = GetSystemMetrics(SM_CXSCREEN);
        outer.bottom = GetSystemMetrics(SM_CYSCREEN);
    }
    GetWindowRect(dialog, &me);
    int w = me.right - me.left, h = me.bottom - me.top;
    int x = outer.left + (outer.right - outer.left - w) / 2;
    int y = outer.top + (outer.bottom - outer.top - h) / 2;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
