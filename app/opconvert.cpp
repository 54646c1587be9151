// "Opérations avancées" ("KaleoOpConvert"): the 53 operations of the batch
// table on the left, the job list on the right, and the parameters of the
// selected job entry, stored into it at every change. The mapping between
// controls and parameters lives in app/logic/opconvlogic.h.
#include "app.h"
#include "batch.h"
#include "menuops.h"
#include "opconvlogic.h"

namespace {

std::vector<OpInstance> g_jobs;

struct OpState {
    int selected = -1;
    bool filling = false;  // controls being set by the program, not the user
};

// UTF-8 text of the table in the program's code page, for the dialog's ANSI controls.
std::string ansi(const char* utf8) {
    WCHAR wide[256];
    char text[512];
    if (!utf8 || !MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 256) ||
        !WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr))
        return std::string();
    return text;
}

void fillJobs(HWND d, int select) {
    HWND list = GetDlgItem(d, IDC_OPC_JOBS);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const OpInstance& op : g_jobs)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ansi(opJobLine(op).c_str()).c_str()));
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(select), 0);
}

void radio(HWND d, int first, int count, int choice) {
    CheckRadioButton(d, first, first + count - 1, first + (choice >= 0 && choice < count ? choice : 0));
}

void setScrollRow(HWND d, const OpInstance& op, int row) {
    OpRow r = opRow(op, row);
    HWND bar = GetDlgItem(d, IDC_OPC_ROW_FIRST + 3 * row + 1);
    SetScrollRange(bar, SB_CTL, r.minimum, r.maximum, FALSE);
    SetScrollPos(bar, SB_CTL, opRowPosition(op, row), TRUE);
    SetDlgItemTextA(d, IDC_OPC_ROW_FIRST + 3 * row, ansi(r.label).c_str());
    SetDlgItemTextA(d, IDC_OPC_ROW_FIRST + 3 * row + 2, opRowText(op, row).c_str());
}

void showParameters(HWND d, OpState* s) {
    s->filling = true;
    for (int id : opParameterControls()) ShowWindow(GetDlgItem(d, id), SW_HIDE);
    if (s->selected >= 0 && s->selected < static_cast<int>(g_jobs.size())) {
        const OpInstance& op = g_jobs[static_cast<size_t>(s->selected)];
        const OpEntry* e = opEntry(op.index);
        for (int id : opShownControls(op)) ShowWindow(GetDlgItem(d, id), SW_SHOW);
        switch (e->kind) {
        case OPK_BINARY: radio(d, IDC_OPC_BINARY_FIRST, 4, binaryChoiceOf(op)); break;
        case OPK_COLOURS:
        case OPK_GREY:
            for (int c = 0; c < OPC_COUNT_CHOICES; ++c)
                EnableWindow(GetDlgItem(d, IDC_OPC_COUNT_FIRST + c), countChoiceEnabled(e->kind, c));
            radio(d, IDC_OPC_COUNT_FIRST, OPC_COUNT_CHOICES, countChoiceOf(op));
            CheckDlgButton(d, IDC_OPC_DITHER, op.ints[1] ? BST_CHECKED : BST_UNCHECKED);
            break;
        case OPK_FILTER_SIZE: radio(d, IDC_OPC_SIZE_FIRST, FILTER_SIZE_COUNT, filterSizeIndex(op.ints[0])); break;
        case OPK_CHANNELS: radio(d, IDC_OPC_SWAP_FIRST, 5, op.ints[0]); break;
        case OPK_RESIZE:
        case OPK_CANVAS:
            CheckRadioButton(d, IDC_OPC_PIXELS, IDC_OPC_PERCENT, op.percent ? IDC_OPC_PERCENT : IDC_OPC_PIXELS);
            for (int id : {IDC_OPC_WIDTH, IDC_OPC_HEIGHT, IDC_OPC_WIDTH_PERCENT, IDC_OPC_HEIGHT_PERCENT})
                SetDlgItemTextA(d, id, opFieldText(op, id).c_str());
            CheckDlgButton(d, IDC_OPC_RATIO, op.keepRatio ? BST_CHECKED : BST_UNCHECKED);
            SendDlgItemMessageA(d, IDC_OPC_METHOD, CB_SETCURSEL, op.method == RESAMPLE_AREA ? 1 : 0, 0);
            CheckDlgButton(d, IDC_OPC_ONLY_SMALLER, op.onlySmaller ? BST_CHECKED : BST_UNCHECKED);
            CheckDlgButton(d, IDC_OPC_ONLY_LARGER, op.onlyLarger ? BST_CHECKED : BST_UNCHECKED);
            break;
        case OPK_RECT:
            for (int id : {IDC_OPC_X, IDC_OPC_Y, IDC_OPC_RWIDTH, IDC_OPC_RHEIGHT})
                SetDlgItemTextA(d, id, opFieldText(op, id).c_str());
            break;
        default:
            for (int row = 0; row < opRowCount(op); ++row) setScrollRow(d, op, row);
            break;
        }
    }
    s->filling = false;
}

OpInstance* current(OpState* s) {
    return s->selected >= 0 && s->selected < static_cast<int>(g_jobs.size()) ? &g_jobs[static_cast<size_t>(s->selected)]
                                                                              : nullptr;
}

void addSelected(HWND d, OpState* s) {
    HWND table = GetDlgItem(d, IDC_OPC_TABLE);
    int n = static_cast<int>(SendMessageA(table, LB_GETSELCOUNT, 0, 0));
    if (n <= 0) return;
    std::vector<int> picked(static_cast<size_t>(n));
    n = static_cast<int>(SendMessageA(table, LB_GETSELITEMS, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(picked.data())));
    for (int i = 0; i < n; ++i) {
        OpInstance op;
        if (initOpInstance(&op, picked[static_cast<size_t>(i)])) g_jobs.push_back(op);
    }
    s->selected = static_cast<int>(g_jobs.size()) - 1;
    fillJobs(d, s->selected);
    showParameters(d, s);
}

void onScroll(HWND d, OpState* s, HWND bar, int request) {
    OpInstance* op = current(s);
    if (!op) return;
    int row = (GetDlgCtrlID(bar) - IDC_OPC_ROW_FIRST - 1) / 3;
    if (row < 0 || row >= opRowCount(*op)) return;
    OpRow r = opRow(*op, row);
    int range = r.maximum - r.minimum + 1;
    int position = opRowPosition(*op, row) - r.minimum;
    switch (request) {
    case SB_LINELEFT: position = steppedPosition(position, range, STEP_LINE_UP); break;
    case SB_LINERIGHT: position = steppedPosition(position, range, STEP_LINE_DOWN); break;
    case SB_PAGELEFT: position = steppedPosition(position, range, STEP_PAGE_UP); break;
    case SB_PAGERIGHT: position = steppedPosition(position, range, STEP_PAGE_DOWN); break;
    case SB_LEFT: position = 0; break;
    case SB_RIGHT: position = range - 1; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_TRACKPOS;
        if (GetScrollInfo(bar, SB_CTL, &si)) position = si.nTrackPos - r.minimum;
        break;
    }
    default: return;
    }
    setOpRowPosition(op, row, position + r.minimum);
    SetScrollPos(bar, SB_CTL, opRowPosition(*op, row), TRUE);
    SetDlgItemTextA(d, IDC_OPC_ROW_FIRST + 3 * row + 2, opRowText(*op, row).c_str());
}

void onCommand(HWND d, OpState* s, int id, int code) {
    OpInstance* op = current(s);
    switch (id) {
    case IDOK:
    case IDCANCEL: EndDialog(d, id); return;
    case IDC_OPC_ADD: addSelected(d, s); return;
    case IDC_OPC_REMOVE:
        if (!op) return;
        g_jobs.erase(g_jobs.begin() + s->selected);
        if (s->selected >= static_cast<int>(g_jobs.size())) s->selected = static_cast<int>(g_jobs.size()) - 1;
        fillJobs(d, s->selected);
        showParameters(d, s);
        return;
    case IDC_OPC_REMOVE_ALL:
        g_jobs.clear();
        s->selected = -1;
        fillJobs(d, -1);
        showParameters(d, s);
        return;
    case IDC_OPC_JOBS:
        if (code == LBN_SELCHANGE) {
            s->selected = static_cast<int>(SendDlgItemMessageA(d, IDC_OPC_JOBS, LB_GETCURSEL, 0, 0));
            showParameters(d, s);
        }
        return;
    }
    if (!op || s->filling) return;
    if (code == EN_CHANGE) {
        char text[32];
        GetDlgItemTextA(d, id, text, sizeof text);
        setOpField(op, id, text);
        return;
    }
    if (id == IDC_OPC_METHOD && code == CBN_SELCHANGE) {
        op->method = SendDlgItemMessageA(d, IDC_OPC_METHOD, CB_GETCURSEL, 0, 0) == 1 ? RESAMPLE_AREA : RESAMPLE_NEAREST;
        return;
    }
    if (code != BN_CLICKED) return;
    if (id >= IDC_OPC_BINARY_FIRST && id < IDC_OPC_BINARY_FIRST + 4) setBinaryChoice(op, id - IDC_OPC_BINARY_FIRST);
    else if (id >= IDC_OPC_COUNT_FIRST && id < IDC_OPC_COUNT_FIRST + OPC_COUNT_CHOICES)
        setCountChoice(op, id - IDC_OPC_COUNT_FIRST);
    else if (id == IDC_OPC_DITHER) op->ints[1] = IsDlgButtonChecked(d, id) == BST_CHECKED ? 1 : 0;
    else if (id >= IDC_OPC_SIZE_FIRST && id < IDC_OPC_SIZE_FIRST + FILTER_SIZE_COUNT)
        op->ints[0] = filterSizeAt(id - IDC_OPC_SIZE_FIRST);
    else if (id >= IDC_OPC_SWAP_FIRST && id < IDC_OPC_SWAP_FIRST + 5) op->ints[0] = id - IDC_OPC_SWAP_FIRST;
    else if (id == IDC_OPC_RATIO) op->keepRatio = IsDlgButtonChecked(d, id) == BST_CHECKED ? 1 : 0;
    else if (id == IDC_OPC_ONLY_SMALLER) op->onlySmaller = IsDlgButtonChecked(d, id) == BST_CHECKED ? 1 : 0;
    else if (id == IDC_OPC_ONLY_LARGER) op->onlyLarger = IsDlgButtonChecked(d, id) == BST_CHECKED ? 1 : 0;
    else if (id == IDC_OPC_PIXELS || id == IDC_OPC_PERCENT) {
        int16_t percent = id == IDC_OPC_PERCENT ? 1 : 0;
        if (percent == op->percent) return;
        // A change of unit starts again from 100 % or the entry's default size.
        const OpEntry* e = opEntry(op->index);
        op->percent = percent;
        op->ints[0] = percent ? 100 : e->ints[0];
        op->ints[1] = percent ? 100 : e->ints[1];
        showParameters(d, s);
    }
}

INT_PTR CALLBACK opProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam) {
    OpState* s = reinterpret_cast<OpState*>(GetWindowLongPtrA(d, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(d, DWLP_USER, lParam);
        s = reinterpret_cast<OpState*>(lParam);
        centreDialog(d);
        HWND table = GetDlgItem(d, IDC_OPC_TABLE);
        for (int i = 0; i < OP_COUNT; ++i)
            SendMessageA(table, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ansi(opLabel(i)).c_str()));
        SendDlgItemMessageA(d, IDC_OPC_METHOD, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Rapide"));
        SendDlgItemMessageA(d, IDC_OPC_METHOD, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ansi("Lin\u00e9aire").c_str()));
        s->selected = g_jobs.empty() ? -1 : 0;
        fillJobs(d, s->selected);
        showParameters(d, s);
        return TRUE;
    }
    case WM_HSCROLL:
        if (s) onScroll(d, s, reinterpret_cast<HWND>(lParam), LOWORD(wParam));
        return TRUE;
    case WM_COMMAND:
        if (s) onCommand(d, s, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

std::vector<OpInstance>& batchJobList() { return g_jobs; }

void showOperationsDialog(HWND owner) {
    OpState s;
    DialogBoxParamA(g_frame.instance ? g_frame.instance : GetModuleHandleA(nullptr), "KaleoOpConvert", owner, opProc,
                    reinterpret_cast<LPARAM>(&s));
}
