// The parameter dialogs of the image window's operations and the conversion
// choice dialog "KaleoConv". The numbers behind them (positions to values,
// resize arithmetic, conversion codes) come from app/logic/menuops.h; this
// file only moves them between the controls, the settings and the preview.
#include "opdialogs.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app.h"
#include "effects.h"
#include "geometry.h"

namespace {

HINSTANCE dialogInstance() { return g_frame.instance ? g_frame.instance : GetModuleHandleA(nullptr); }

std::string resourceText(UINT id) {
    char buffer[256];
    int n = LoadStringA(dialogInstance(), id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

int clampTo(int64_t v, int lo, int hi) { return static_cast<int>(v < lo ? lo : v > hi ? hi : v); }

bool checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void setCheck(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }

void setCurrentSize(HWND dialog, int id, const Image& image) {
    char text[128];
    snprintf(text, sizeof text, resourceText(IDS_CURRENT_SIZE).c_str(), static_cast<int>(image.width),
             static_cast<int>(image.height));
    SetDlgItemTextA(dialog, id, text);
}

// ---- Scroll bars: positions 0 .. range - 1 ----

void setupScrollBar(HWND dialog, int id, int range, int position) {
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_POS | SIF_PAGE;
    si.nMin = 0;
    si.nMax = range - 1;
    si.nPage = 0;
    si.nPos = position;
    SetScrollInfo(GetDlgItem(dialog, id), SB_CTL, &si, TRUE);
}

void setScrollPosition(HWND dialog, int id, int position) {
    SCROLLINFO si;
    memset(&si, 0, sizeof si);
    si.cbSize = sizeof si;
    si.fMask = SIF_POS;
    si.nPos = position;
    SetScrollInfo(GetDlgItem(dialog, id), SB_CTL, &si, TRUE);
}

// What a WM_HSCROLL asks of a bar at `position`: the new position, or -1 for
// nothing. *tracking is set while the thumb is dragged (label only, no preview).
int scrollTarget(WPARAM wParam, int position, int range, bool* tracking) {
    *tracking = false;
    switch (LOWORD(wParam)) {
    case SB_LINELEFT: return steppedPosition(position, range, STEP_LINE_UP);
    case SB_LINERIGHT: return steppedPosition(position, range, STEP_LINE_DOWN);
    case SB_PAGELEFT: return steppedPosition(position, range, STEP_PAGE_UP);
    case SB_PAGERIGHT: return steppedPosition(position, range, STEP_PAGE_DOWN);
    case SB_LEFT: return steppedPosition(position, range, STEP_FIRST);
    case SB_RIGHT: return steppedPosition(position, range, STEP_LAST);
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        // Every bar of these dialogs has fewer than 65536 positions: the
        // message's 16-bit position is exact.
        *tracking = LOWORD(wParam) == SB_THUMBTRACK;
        return clampTo(HIWORD(wParam), 0, range - 1);
    }
    }
    return -1;
}

// ---- "Vue Auto." ----

struct Preview {
    const OpPreview* hooks = nullptr;
    int commandId = 0;
    bool shownCurrent = false;  // the window shows the dialog's current parameters
    bool shownAny = false;      // the window has shown something other than the original

    // Shows the parameters when "Vue Auto." (the check box autoId) is on.
    void change(HWND dialog, int autoId, const MenuOpParams& params) {
        shownCurrent = false;
        if (!hooks || !checked(dialog, autoId)) return;
        shownAny = true;
        HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        shownCurrent = hooks->show(hooks->context, commandId, params);
        SetCursor(old);
    }
    void restore() {
        if (hooks && shownAny) hooks->restore(hooks->context);
        shownAny = shownCurrent = false;
    }
    // The check box was clicked: store AutoView, show or take back the preview.
    void toggled(HWND dialog, int autoId, const MenuOpParams& params) {
        g_settings.autoView = checked(dialog, autoId) ? 1 : 0;
        if (g_settings.autoView)
            change(dialog, autoId, params);
        else
            restore();
    }
    void init(HWND dialog, int autoId) {
        setCheck(dialog, autoId, g_settings.autoView != 0);
        EnableWindow(GetDlgItem(dialog, autoId), hooks != nullptr);
    }
    OpDialogResult applied() const { return shownCurrent ? OPDLG_SHOWN : OPDLG_APPLY; }
};

struct DialogState {
    int commandId;
    const Image* image;
    MenuOpParams* params;
    Preview preview;
    bool updating = false;  // fields are being written by the dialog itself
    // Value dialog.
    const ValueRow* row = nullptr;
    int position = 0;
    // Resize dialog.
    ResizeFields fields{};
    // Colour balance: positions 0..2 x BALANCE_LIMIT.
    int balance[3] = {BALANCE_LIMIT, BALANCE_LIMIT, BALANCE_LIMIT};
    // Waves: positions of the three bars.
    int waves[3] = {0, 0, 0};
};

DialogState* stateOf(HWND dialog) { return reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

DialogState* attach(HWND dialog, LPARAM lParam) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    centreDialog(dialog);
    return reinterpret_cast<DialogState*>(lParam);
}

// ---- Value dialog "KaleoValue" ----

void valueSetPosition(HWND dialog, DialogState* s, int position, bool show) {
    s->position = clampTo(position, 0, s->row->range - 1);
    setScrollPosition(dialog, IDC_VALUE_SCROLL, s->position);
    char label[32];
    valueLabel(*s->row, s->position, label, sizeof label);
    SetDlgItemTextA(dialog, IDC_VALUE_CURRENT, label);
    s->params->value = valueAtPosition(*s->row, s->position);
    if (show) s->preview.change(dialog, IDC_VALUE_AUTO, *s->params);
}

INT_PTR CALLBACK valueProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG: {
        s = attach(dialog, lParam);
        SetWindowTextA(dialog, resourceText(static_cast<UINT>(s->row->titleString)).c_str());
        char label[32];
        valueLabel(*s->row, 0, label, sizeof label);
        SetDlgItemTextA(dialog, IDC_VALUE_MIN, label);
        valueLabel(*s->row, s->row->range - 1, label, sizeof label);
        SetDlgItemTextA(dialog, IDC_VALUE_MAX, label);
        setupScrollBar(dialog, IDC_VALUE_SCROLL, s->row->range, s->row->neutral);
        s->preview.init(dialog, IDC_VALUE_AUTO);
        valueSetPosition(dialog, s, s->row->neutral, false);
        return TRUE;
    }
    case WM_HSCROLL: {
        if (!s) break;
        bool tracking = false;
        int target = scrollTarget(wParam, s->position, s->row->range, &tracking);
        if (target >= 0 && (target != s->position || LOWORD(wParam) == SB_THUMBPOSITION))
            valueSetPosition(dialog, s, target, !tracking);
        return TRUE;
    }
    case WM_COMMAND:
        if (!s) break;
        switch (LOWORD(wParam)) {
        case IDC_VALUE_AUTO: s->preview.toggled(dialog, IDC_VALUE_AUTO, *s->params); return TRUE;
        case IDC_VALUE_ZERO: valueSetPosition(dialog, s, s->row->neutral, true); return TRUE;
        case IDC_VALUE_PREVIOUS:
            valueSetPosition(dialog, s, rememberedPosition(*s->row, g_settings.lastValue[s->row->slot]), true);
            return TRUE;
        case IDOK:
            g_settings.lastValue[s->row->slot] = s->position;
            s->params->value = valueAtPosition(*s->row, s->position);
            EndDialog(dialog, s->preview.applied());
            return TRUE;
        case IDCANCEL:
            s->preview.restore();
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Resize dialog "KaleoResize" ----

struct FieldControl {
    int edit;
    ResizeField field;
};
const FieldControl RESIZE_FIELDS[] = {
    {IDC_RESIZE_WIDTH, FIELD_WIDTH},
    {IDC_RESIZE_HEIGHT, FIELD_HEIGHT},
    {IDC_RESIZE_WIDTH_PERCENT, FIELD_WIDTH_PERCENT},
    {IDC_RESIZE_HEIGHT_PERCENT, FIELD_HEIGHT_PERCENT},
};

int32_t fieldValue(const ResizeFields& f, ResizeField field) {
    switch (field) {
    case FIELD_WIDTH: return f.width;
    case FIELD_HEIGHT: return f.height;
    case FIELD_WIDTH_PERCENT: return f.widthPercent;
    case FIELD_HEIGHT_PERCENT: return f.heightPercent;
    }
    return 0;
}

// Writes every field but `except` (the one the user is typing in, or -1);
// the change notifications these writes cause are ignored.
void resizeWriteFields(HWND dialog, DialogState* s, int except) {
    s->updating = true;
    for (const FieldControl& c : RESIZE_FIELDS)
        if (c.edit != except) SetDlgItemInt(dialog, c.edit, static_cast<UINT>(fieldValue(s->fields, c.field)), FALSE);
    s->updating = false;
}

INT_PTR CALLBACK resizeProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG: {
        s = attach(dialog, lParam);
        setCurrentSize(dialog, IDC_RESIZE_CURRENT, *s->image);
        HWND list = GetDlgItem(dialog, IDC_RESIZE_PRESET);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(resourceText(IDS_RESIZE_PRESET).c_str()));
        for (int i = 0; i < RESIZE_PRESET_COUNT; ++i)
            SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(resizePresets()[i].label));
        SendMessageA(list, CB_SETCURSEL, 0, 0);
        SendDlgItemMessageA(dialog, IDC_RESIZE_WIDTH_SPIN, UDM_SETRANGE32, 1, RESIZE_MAX_PIXELS);
        SendDlgItemMessageA(dialog, IDC_RESIZE_HEIGHT_SPIN, UDM_SETRANGE32, 1, RESIZE_MAX_PIXELS);
        SendDlgItemMessageA(dialog, IDC_RESIZE_WIDTH_PERCENT_SPIN, UDM_SETRANGE32, 1, RESIZE_MAX_PERCENT);
        SendDlgItemMessageA(dialog, IDC_RESIZE_HEIGHT_PERCENT_SPIN, UDM_SETRANGE32, 1, RESIZE_MAX_PERCENT);
        HWND method = GetDlgItem(dialog, IDC_RESIZE_METHOD);
        SendMessageA(method, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(resourceText(IDS_RESIZE_NEAREST).c_str()));
        SendMessageA(method, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(resourceText(IDS_RESIZE_BILINEAR).c_str()));
        SendMessageA(method, CB_SETCURSEL, g_settings.resample == RESAMPLE_AREA ? 1 : 0, 0);
        setCheck(dialog, IDC_RESIZE_RATIO, true);
        s->fields = resizeFieldsFor(s->image->width, s->image->height);
        resizeWriteFields(dialog, s, -1);
        return TRUE;
    }
    case WM_COMMAND: {
        if (!s) break;
        int id = LOWORD(wParam);
        if (id == IDC_RESIZE_PRESET && HIWORD(wParam) == CBN_SELCHANGE) {
            int index = static_cast<int>(SendDlgItemMessageA(dialog, IDC_RESIZE_PRESET, CB_GETCURSEL, 0, 0));
            if (applyResizePreset(index, s->image->width, s->image->height, &s->fields)) resizeWriteFields(dialog, s, -1);
            return TRUE;
        }
        for (const FieldControl& c : RESIZE_FIELDS) {
            if (id != c.edit || HIWORD(wParam) != EN_CHANGE) continue;
            if (s->updating) return TRUE;
            BOOL ok = FALSE;
            UINT value = GetDlgItemInt(dialog, c.edit, &ok, FALSE);
            if (!ok) return TRUE;  // empty while the user types
            editResizeField(c.field, clampTo(value, 0, INT32_MAX), checked(dialog, IDC_RESIZE_RATIO), s->image->width,
                            s->image->height, &s->fields);
            resizeWriteFields(dialog, s, c.edit);
            SendDlgItemMessageA(dialog, IDC_RESIZE_PRESET, CB_SETCURSEL, 0, 0);
            return TRUE;
        }
        if (id == IDOK) {
            if (!resizeFieldsInRange(s->fields)) {
                char text[160];
                snprintf(text, sizeof text, resourceText(IDS_RESIZE_RANGE).c_str(), 1, RESIZE_MAX_PIXELS);
                MessageBoxA(dialog, text, "Error", MB_OK | MB_ICONERROR);
                bool widthOut = s->fields.width < 1 || s->fields.width > RESIZE_MAX_PIXELS;
                SetFocus(GetDlgItem(dialog, widthOut ? IDC_RESIZE_WIDTH : IDC_RESIZE_HEIGHT));
                return TRUE;
            }
            int method = static_cast<int>(SendDlgItemMessageA(dialog, IDC_RESIZE_METHOD, CB_GETCURSEL, 0, 0));
            s->params->method = method == 1 ? RESAMPLE_AREA : RESAMPLE_NEAREST;
            g_settings.resample = static_cast<int16_t>(s->params->method);
            s->params->width = clampTo(s->fields.width, 1, MENU_MAX_SIDE);
            s->params->height = clampTo(s->fields.height, 1, MENU_MAX_SIDE);
            EndDialog(dialog, OPDLG_APPLY);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

// ---- Canvas size dialog "KaleoCanvas" ----

INT_PTR CALLBACK canvasProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG:
        s = attach(dialog, lParam);
        setCurrentSize(dialog, IDC_CANVAS_CURRENT, *s->image);
        SendDlgItemMessageA(dialog, IDC_CANVAS_WIDTH_SPIN, UDM_SETRANGE32, 1, MENU_MAX_SIDE);
        SendDlgItemMessageA(dialog, IDC_CANVAS_HEIGHT_SPIN, UDM_SETRANGE32, 1, MENU_MAX_SIDE);
        s->updating = true;
        SetDlgItemInt(dialog, IDC_CANVAS_WIDTH, static_cast<UINT>(s->image->width), FALSE);
        SetDlgItemInt(dialog, IDC_CANVAS_HEIGHT, static_cast<UINT>(s->image->height), FALSE);
        s->updating = false;
        s->params->width = s->image->width;
        s->params->height = s->image->height;
        return TRUE;
    case WM_COMMAND: {
        if (!s) break;
        int id = LOWORD(wParam);
        if ((id == IDC_CANVAS_WIDTH || id == IDC_CANVAS_HEIGHT) && HIWORD(wParam) == EN_CHANGE) {
            if (s->updating) return TRUE;
            BOOL ok = FALSE;
            UINT value = GetDlgItemInt(dialog, id, &ok, FALSE);
            if (!ok) return TRUE;
            int32_t v = clampTo(value, 0, INT32_MAX);
            bool width = id == IDC_CANVAS_WIDTH;
            (width ? s->params->width : s->params->height) = v;
            if (checked(dialog, IDC_CANVAS_RATIO)) {
                int32_t other = width ? keepRatioSide(v, s->image->width, s->image->height)
                                      : keepRatioSide(v, s->image->height, s->image->width);
                (width ? s->params->height : s->params->width) = other;
                s->updating = true;
                SetDlgItemInt(dialog, width ? IDC_CANVAS_HEIGHT : IDC_CANVAS_WIDTH, static_cast<UINT>(other), FALSE);
                s->updating = false;
            }
            return TRUE;
        }
        if (id == IDOK) {
            s->params->width = clampTo(s->params->width, 1, MENU_MAX_SIDE);
            s->params->height = clampTo(s->params->height, 1, MENU_MAX_SIDE);
            EndDialog(dialog, OPDLG_APPLY);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

// ---- Colour balance "KaleoBalance" ----

const int BALANCE_BARS[3] = {IDC_BALANCE_RED, IDC_BALANCE_GREEN, IDC_BALANCE_BLUE};
const int BALANCE_VALUES[3] = {IDC_BALANCE_RED_VALUE, IDC_BALANCE_GREEN_VALUE, IDC_BALANCE_BLUE_VALUE};
const int BALANCE_SLOTS[3] = {SLOT_BALANCE_RED, SLOT_BALANCE_GREEN, SLOT_BALANCE_BLUE};
constexpr int BALANCE_RANGE = 2 * BALANCE_LIMIT + 1;

void balanceSet(HWND dialog, DialogState* s, int channel, int position) {
    s->balance[channel] = clampTo(position, 0, BALANCE_RANGE - 1);
    setScrollPosition(dialog, BALANCE_BARS[channel], s->balance[channel]);
    SetDlgItemInt(dialog, BALANCE_VALUES[channel], static_cast<UINT>(s->balance[channel] - BALANCE_LIMIT), TRUE);
    s->params->red = s->balance[0] - BALANCE_LIMIT;
    s->params->green = s->balance[1] - BALANCE_LIMIT;
    s->params->blue = s->balance[2] - BALANCE_LIMIT;
}

void balanceSetAll(HWND dialog, DialogState* s, const int positions[3]) {
    for (int c = 0; c < 3; ++c) balanceSet(dialog, s, c, positions[c]);
    s->preview.change(dialog, IDC_BALANCE_AUTO, *s->params);
}

INT_PTR CALLBACK balanceProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG:
        s = attach(dialog, lParam);
        for (int c = 0; c < 3; ++c) {
            setupScrollBar(dialog, BALANCE_BARS[c], BALANCE_RANGE, BALANCE_LIMIT);
            balanceSet(dialog, s, c, BALANCE_LIMIT);
        }
        s->preview.init(dialog, IDC_BALANCE_AUTO);
        return TRUE;
    case WM_HSCROLL: {
        if (!s) break;
        int channel = -1;
        for (int c = 0; c < 3; ++c)
            if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dialog, BALANCE_BARS[c])) channel = c;
        if (channel < 0) break;
        bool tracking = false;
        int target = scrollTarget(wParam, s->balance[channel], BALANCE_RANGE, &tracking);
        if (target < 0 || (target == s->balance[channel] && LOWORD(wParam) != SB_THUMBPOSITION)) return TRUE;
        balanceSet(dialog, s, channel, target);
        if (!tracking) s->preview.change(dialog, IDC_BALANCE_AUTO, *s->params);
        return TRUE;
    }
    case WM_COMMAND:
        if (!s) break;
        switch (LOWORD(wParam)) {
        case IDC_BALANCE_AUTO: s->preview.toggled(dialog, IDC_BALANCE_AUTO, *s->params); return TRUE;
        case IDC_BALANCE_ZERO: {
            const int neutral[3] = {BALANCE_LIMIT, BALANCE_LIMIT, BALANCE_LIMIT};
            balanceSetAll(dialog, s, neutral);
            return TRUE;
        }
        case IDC_BALANCE_PREVIOUS: {
            int remembered[3];
            for (int c = 0; c < 3; ++c) {
                int32_t v = g_settings.lastValue[BALANCE_SLOTS[c]];
                remembered[c] = v >= 0 && v < BALANCE_RANGE ? v : BALANCE_LIMIT;  // never set: no offset
            }
            balanceSetAll(dialog, s, remembered);
            return TRUE;
        }
        case IDOK:
            for (int c = 0; c < 3; ++c) g_settings.lastValue[BALANCE_SLOTS[c]] = s->balance[c];
            EndDialog(dialog, s->preview.applied());
            return TRUE;
        case IDCANCEL:
            s->preview.restore();
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Filter size "KaleoFilterSize" ----

INT_PTR CALLBACK filterSizeProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG: {
        s = attach(dialog, lParam);
        int index = filterSizeIndex(g_settings.lastValue[SLOT_FILTER_SIZE]);
        if (index < 0) index = 0;
        CheckRadioButton(dialog, IDC_FILTER_SIZE_FIRST, IDC_FILTER_SIZE_LAST, IDC_FILTER_SIZE_FIRST + index);
        s->params->filterSize = filterSizeAt(index);
        return TRUE;
    }
    case WM_COMMAND:
        if (!s) break;
        if (LOWORD(wParam) == IDOK) {
            for (int i = 0; i < FILTER_SIZE_COUNT; ++i)
                if (checked(dialog, IDC_FILTER_SIZE_FIRST + i)) s->params->filterSize = filterSizeAt(i);
            g_settings.lastValue[SLOT_FILTER_SIZE] = s->params->filterSize;
            EndDialog(dialog, OPDLG_APPLY);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- De-interlacing "KaleoDeinterlace" ----

INT_PTR CALLBACK deinterlaceProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG: {
        s = attach(dialog, lParam);
        int32_t remembered = g_settings.lastValue[SLOT_DEINTERLACE];
        if (remembered < 0 || remembered > 3) remembered = 0;
        s->params->keptParity = remembered & 1;
        s->params->fill = remembered >> 1;
        // The dialog names the rows that are dropped: keeping the odd rows drops the even ones.
        CheckRadioButton(dialog, IDC_DEINTERLACE_EVEN, IDC_DEINTERLACE_ODD,
                         s->params->keptParity == 1 ? IDC_DEINTERLACE_EVEN : IDC_DEINTERLACE_ODD);
        CheckRadioButton(dialog, IDC_DEINTERLACE_DUPLICATE, IDC_DEINTERLACE_INTERPOLATE,
                         s->params->fill == DEINTERLACE_INTERPOLATE ? IDC_DEINTERLACE_INTERPOLATE
                                                                    : IDC_DEINTERLACE_DUPLICATE);
        return TRUE;
    }
    case WM_COMMAND:
        if (!s) break;
        if (LOWORD(wParam) == IDOK) {
            s->params->keptParity = checked(dialog, IDC_DEINTERLACE_EVEN) ? 1 : 0;
            s->params->fill = checked(dialog, IDC_DEINTERLACE_INTERPOLATE) ? DEINTERLACE_INTERPOLATE : DEINTERLACE_DUPLICATE;
            g_settings.lastValue[SLOT_DEINTERLACE] = s->params->keptParity + 2 * s->params->fill;
            EndDialog(dialog, OPDLG_APPLY);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- User filter "KaleoUserFilter" ----

// The kernel last applied in this run of the program, shown again next time.
UserKernel g_lastKernel = {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 0};
bool g_lastKernelIs5x5 = false;

bool outerRing(int i) { return i / 5 == 0 || i / 5 == 4 || i % 5 == 0 || i % 5 == 4; }

void userShowSize(HWND dialog, bool five) {
    for (int i = 0; i < 25; ++i)
        if (outerRing(i)) EnableWindow(GetDlgItem(dialog, IDC_USER_WEIGHT_FIRST + i), five);
}

INT_PTR CALLBACK userFilterProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG:
        s = attach(dialog, lParam);
        for (int i = 0; i < 25; ++i)
            SetDlgItemInt(dialog, IDC_USER_WEIGHT_FIRST + i, static_cast<UINT>(g_lastKernel.weights[i]), TRUE);
        SetDlgItemInt(dialog, IDC_USER_DIVISOR, static_cast<UINT>(g_lastKernel.divisor), TRUE);
        SetDlgItemInt(dialog, IDC_USER_BIAS, static_cast<UINT>(g_lastKernel.bias), TRUE);
        CheckRadioButton(dialog, IDC_USER_3X3, IDC_USER_5X5, g_lastKernelIs5x5 ? IDC_USER_5X5 : IDC_USER_3X3);
        userShowSize(dialog, g_lastKernelIs5x5);
        return TRUE;
    case WM_COMMAND: {
        if (!s) break;
        int id = LOWORD(wParam);
        if ((id == IDC_USER_3X3 || id == IDC_USER_5X5) && HIWORD(wParam) == BN_CLICKED) {
            userShowSize(dialog, checked(dialog, IDC_USER_5X5));
            return TRUE;
        }
        if (id == IDOK) {
            bool five = checked(dialog, IDC_USER_5X5);
            UserKernel k;
            memset(&k, 0, sizeof k);
            for (int i = 0; i < 25; ++i) {
                BOOL ok = FALSE;
                int v = static_cast<int>(GetDlgItemInt(dialog, IDC_USER_WEIGHT_FIRST + i, &ok, TRUE));
                k.weights[i] = ok && (five || !outerRing(i)) ? v : 0;
            }
            BOOL ok = FALSE;
            k.divisor = static_cast<int32_t>(GetDlgItemInt(dialog, IDC_USER_DIVISOR, &ok, TRUE));
            if (!ok || k.divisor == 0) {
                MessageBoxA(dialog, resourceText(IDS_USER_FILTER_ZERO).c_str(), "Error", MB_OK | MB_ICONERROR);
                SetFocus(GetDlgItem(dialog, IDC_USER_DIVISOR));
                return TRUE;
            }
            k.bias = static_cast<int32_t>(GetDlgItemInt(dialog, IDC_USER_BIAS, &ok, TRUE));
            if (!ok) k.bias = 0;
            s->params->kernel = k;
            g_lastKernel = k;
            g_lastKernelIs5x5 = five;
            EndDialog(dialog, OPDLG_APPLY);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

// ---- Waves "KaleoWaves" ----

struct WaveBar {
    int bar;
    int label;
    int minimum;  // in the bar's units
    int maximum;
    int scale;    // 100: hundredths, 1: whole degrees
};
const WaveBar WAVE_BARS[3] = {
    {IDC_WAVES_LENGTH, IDC_WAVES_LENGTH_VALUE, WAVE_LENGTH_MIN, WAVE_LENGTH_MAX, 100},
    {IDC_WAVES_AMPLITUDE, IDC_WAVES_AMPLITUDE_VALUE, 0, WAVE_AMPLITUDE_MAX, 100},
    {IDC_WAVES_PHASE, IDC_WAVES_PHASE_VALUE, 0, WAVE_PHASE_MAX, 1},
};

// The waves last applied in this run of the program.
double g_lastWave[3] = {-1.0, -1.0, -1.0};

void waveSet(HWND dialog, DialogState* s, int i, int position) {
    const WaveBar& b = WAVE_BARS[i];
    s->waves[i] = clampTo(position, 0, b.maximum - b.minimum);
    setScrollPosition(dialog, b.bar, s->waves[i]);
    int v = s->waves[i] + b.minimum;
    char label[32];
    if (b.scale == 100)
        snprintf(label, sizeof label, "%d.%02d", v / 100, v % 100);
    else
        snprintf(label, sizeof label, "%d", v);
    SetDlgItemTextA(dialog, b.label, label);
    double value = static_cast<double>(v) / b.scale;
    (i == 0 ? s->params->waveLength : i == 1 ? s->params->waveAmplitude : s->params->wavePhase) = value;
}

INT_PTR CALLBACK wavesProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState* s = stateOf(dialog);
    switch (msg) {
    case WM_INITDIALOG: {
        s = attach(dialog, lParam);
        const double start[3] = {g_lastWave[0] >= 0 ? g_lastWave[0] : s->params->waveLength,
                                 g_lastWave[1] >= 0 ? g_lastWave[1] : s->params->waveAmplitude,
                                 g_lastWave[2] >= 0 ? g_lastWave[2] : s->params->wavePhase};
        for (int i = 0; i < 3; ++i) {
            const WaveBar& b = WAVE_BARS[i];
            int position = clampTo(static_cast<int64_t>(start[i] * b.scale + 0.5) - b.minimum, 0, b.maximum - b.minimum);
            setupScrollBar(dialog, b.bar, b.maximum - b.minimum + 1, position);
            waveSet(dialog, s, i, position);
        }
        s->preview.init(dialog, IDC_WAVES_AUTO);
        return TRUE;
    }
    case WM_HSCROLL: {
        if (!s) break;
        for (int i = 0; i < 3; ++i) {
            if (reinterpret_cast<HWND>(lParam) != GetDlgItem(dialog, WAVE_BARS[i].bar)) continue;
            bool tracking = false;
            int range = WAVE_BARS[i].maximum - WAVE_BARS[i].minimum + 1;
            int target = scrollTarget(wParam, s->waves[i], range, &tracking);
            if (target < 0 || (target == s->waves[i] && LOWORD(wParam) != SB_THUMBPOSITION)) return TRUE;
            waveSet(dialog, s, i, target);
            if (!tracking) s->preview.change(dialog, IDC_WAVES_AUTO, *s->params);
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        if (!s) break;
        switch (LOWORD(wParam)) {
        case IDC_WAVES_AUTO: s->preview.toggled(dialog, IDC_WAVES_AUTO, *s->params); return TRUE;
        case IDOK:
            g_lastWave[0] = s->params->waveLength;
            g_lastWave[1] = s->params->waveAmplitude;
            g_lastWave[2] = s->params->wavePhase;
            EndDialog(dialog, s->preview.applied());
            return TRUE;
        case IDCANCEL:
            s->preview.restore();
            EndDialog(dialog, OPDLG_CANCELLED);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// ---- Conversion choice "KaleoConv" ----

struct ConvState {
    const char* fileName;
    unsigned groups;
    int preferredCode;
};

bool isConvChoice(int id) { return conversionGroupOfControl(id) != 0; }

void convSelect(HWND dialog, int choice) {
    for (int id = IDC_CONV_BINARY_FIRST; id <= IDC_CONV_TRUE_COLOUR; ++id)
        if (isConvChoice(id)) setCheck(dialog, id, id == choice);
}

INT_PTR CALLBACK convProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreDialog(dialog);
        const ConvState* s = reinterpret_cast<const ConvState*>(lParam);
        std::string line = std::string("Convert \"") + (s->fileName ? s->fileName : "") + "\"";
        SetDlgItemTextA(dialog, IDC_CONV_TEXT, line.c_str());
        struct Extra {
            int id;
            unsigned group;
        } const extras[] = {{IDC_CONV_BINARY_GROUP, CONV_GROUP_BINARY},    {IDC_CONV_GREY_GROUP, CONV_GROUP_GREY},
                            {IDC_CONV_GREY_DITHER, CONV_GROUP_GREY},        {IDC_CONV_COLOUR_GROUP, CONV_GROUP_COLOURS},
                            {IDC_CONV_COLOUR_DITHER, CONV_GROUP_COLOURS},   {IDC_CONV_TRUE_GROUP, CONV_GROUP_TRUE_COLOUR}};
        for (const Extra& e : extras) EnableWindow(GetDlgItem(dialog, e.id), (s->groups & e.group) != 0);
        for (int id = IDC_CONV_BINARY_FIRST; id <= IDC_CONV_TRUE_COLOUR; ++id)
            if (isConvChoice(id)) EnableWindow(GetDlgItem(dialog, id), (s->groups & conversionGroupOfControl(id)) != 0);
        // The richest choice the format can write.
        const int preferred[] = {IDC_CONV_TRUE_COLOUR, IDC_CONV_COLOUR_LAST, IDC_CONV_GREY_LAST,
                                 IDC_CONV_BINARY_FIRST + 1};
        int choice = 0;
        for (int id : preferred)
            if (!choice && (s->groups & conversionGroupOfControl(id))) choice = id;
        // A preferred code whose choice is enabled goes first, with its "Tramé" box.
        for (int id = IDC_CONV_BINARY_FIRST; s->preferredCode && id <= IDC_CONV_TRUE_COLOUR; ++id) {
            if (!isConvChoice(id) || !(s->groups & conversionGroupOfControl(id))) continue;
            for (int dithered = 0; dithered < 2 && choice != id; ++dithered)
                if (conversionCodeOfControl(id, dithered != 0, dithered != 0) == s->preferredCode) {
                    choice = id;
                    if (dithered) setCheck(dialog, id < IDC_CONV_COLOUR_FIRST ? IDC_CONV_GREY_DITHER : IDC_CONV_COLOUR_DITHER, true);
                }
        }
        convSelect(dialog, choice);
        EnableWindow(GetDlgItem(dialog, IDOK), choice != 0);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (isConvChoice(id) && HIWORD(wParam) == BN_CLICKED) {
            if (IsWindowEnabled(GetDlgItem(dialog, id))) convSelect(dialog, id);
            return TRUE;
        }
        if (id == IDOK) {
            int code = 0;
            for (int c = IDC_CONV_BINARY_FIRST; c <= IDC_CONV_TRUE_COLOUR && !code; ++c)
                if (isConvChoice(c) && checked(dialog, c) && IsWindowEnabled(GetDlgItem(dialog, c)))
                    code = conversionCodeOfControl(c, checked(dialog, IDC_CONV_GREY_DITHER),
                                                   checked(dialog, IDC_CONV_COLOUR_DITHER));
            if (code) EndDialog(dialog, code);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        break;
    }
    }
    return FALSE;
}

}  // namespace

OpDialogResult runOperationDialog(HWND owner, int commandId, const Image& image, const OpPreview* preview,
                                  MenuOpParams* params) {
    defaultMenuOpParams(commandId, &image, params);
    MenuDialog kind = menuOpDialog(commandId);
    if (kind == MENU_DIALOG_NONE) return isMenuOperation(commandId) ? OPDLG_APPLY : OPDLG_CANCELLED;
    DialogState state;
    state.commandId = commandId;
    state.image = &image;
    state.params = params;
    state.preview.hooks = preview;
    state.preview.commandId = commandId;
    const char* name = nullptr;
    DLGPROC proc = nullptr;
    switch (kind) {
    case MENU_DIALOG_VALUE:
        state.row = valueRow(commandId);
        name = "KaleoValue";
        proc = valueProc;
        break;
    case MENU_DIALOG_RESIZE: name = "KaleoResize", proc = resizeProc; break;
    case MENU_DIALOG_CANVAS: name = "KaleoCanvas", proc = canvasProc; break;
    case MENU_DIALOG_BALANCE: name = "KaleoBalance", proc = balanceProc; break;
    case MENU_DIALOG_FILTER_SIZE: name = "KaleoFilterSize", proc = filterSizeProc; break;
    case MENU_DIALOG_DEINTERLACE: name = "KaleoDeinterlace", proc = deinterlaceProc; break;
    case MENU_DIALOG_USER_FILTER: name = "KaleoUserFilter", proc = userFilterProc; break;
    case MENU_DIALOG_WAVES: name = "KaleoWaves", proc = wavesProc; break;
    case MENU_DIALOG_NONE: break;
    }
    INT_PTR result = DialogBoxParamA(dialogInstance(), name, owner, proc, reinterpret_cast<LPARAM>(&state));
    if (result == OPDLG_APPLY || result == OPDLG_SHOWN) return static_cast<OpDialogResult>(result);
    return OPDLG_CANCELLED;
}

int runConversionChoiceDialog(HWND owner, const char* fileName, unsigned groups, int preferredCode) {
    ConvState state{fileName, groups, preferredCode};
    INT_PTR code = DialogBoxParamA(dialogInstance(), "KaleoConv", owner, convProc, reinterpret_cast<LPARAM>(&state));
    return code >= 1 && code <= 32 ? static_cast<int>(code) : 0;
}
