// The installation dialog "KaleoConfig" and the registry and shell
// integration it performs: file class, associations with their back-up key,
// the folder verb and the shortcuts.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "app.h"
#include "formatrows.h"

namespace {

const char IMAGE_CLASS[] = "Kaleos.Image";
const char BACKUP_KEY[] = "Kaleos.bak";
const char VERB_KEY[] = "Directory\\shell\\Browse with Kaleos";

std::string modulePath() {
    char module[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(nullptr, module, sizeof module);
    if (n == 0 || n >= sizeof module) return std::string();
    return module;
}

// The default value of a key under HKEY_CLASSES_ROOT.
bool readDefault(const std::string& key, std::string* value) {
    char buffer[1024];
    LONG size = sizeof buffer;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), buffer, &size) != ERROR_SUCCESS) return false;
    buffer[sizeof buffer - 1] = '\0';
    *value = buffer;
    return true;
}

bool writeDefault(const std::string& key, const std::string& value) {
    return RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(), static_cast<DWORD>(value.size())) ==
           ERROR_SUCCESS;
}

}  // namespace

std::string openCommandText() { return "\"" + modulePath() + "\" \"%1\""; }

bool registerImageClass() {
    bool ok = writeDefault(IMAGE_CLASS, "Kaleos Image");
    ok = writeDefault(std::string(IMAGE_CLASS) + "\\shell\\open\\command", openCommandText()) && ok;
    ok = writeDefault(std::string(IMAGE_CLASS) + "\\DefaultIcon", modulePath() + ",0") && ok;
    return ok;
}

bool isAssociated(const char* extension) {
    std::string value;
    if (!readDefault(IMAGE_CLASS, &value)) return false;
    return readDefault(std::string(".") + extension, &value) && value == IMAGE_CLASS;
}

bool associateExtension(const char* extension) {
    const std::string key = std::string(".") + extension;
    std::string previous;
    if (readDefault(key, &previous) && !previous.empty() && previous != IMAGE_CLASS)
        writeDefault(key + "\\" + BACKUP_KEY, previous);
    return writeDefault(key, IMAGE_CLASS);
}

bool restoreExtension(const char* extension) {
    const std::string key = std::string(".") + extension;
    std::string current, backup;
    if (!readDefault(key, &current) || !readDefault(key + "\\" + BACKUP_KEY, &backup)) return false;
    if (!writeDefault(key, backup)) return false;
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (key + "\\" + BACKUP_KEY).c_str());
    return true;
}

bool addBrowseWithVerb() { return writeDefault(std::string(VERB_KEY) + "\\command", openCommandText()); }

bool removeBrowseWithVerb() {
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(VERB_KEY) + "\\command").c_str());
    return RegDeleteKeyA(HKEY_CLASSES_ROOT, VERB_KEY) == ERROR_SUCCESS;
}

bool hasBrowseWithVerb() {
    std::string value;
    return readDefault(VERB_KEY, &value);
}

void createShortcuts(int which) {
    static const int FOLDERS[3][2] = {{1, CSIDL_DESKTOP}, {2, CSIDL_PROGRAMS}, {4, CSIDL_COMMON_STARTMENU}};
    const std::string target = modulePath();
    CoInitialize(nullptr);
    for (const auto& folder : FOLDERS) {
        if (!(which & folder[0])) continue;
        bool done = false;
        LPITEMIDLIST pidl = nullptr;
        char path[MAX_PATH + 1];
        if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, folder[1], &pidl)) && SHGetPathFromIDListA(pidl, path)) {
            std::string link = std::string(path) + "\\KAleos.lnk";
            IShellLinkA* shellLink = nullptr;
            if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           reinterpret_cast<void**>(&shellLink)))) {
                shellLink->SetPath(target.c_str());
                shellLink->SetDescription("");
                IPersistFile* file = nullptr;
                if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
                    WCHAR wide[MAX_PATH + 1];
                    if (MultiByteToWideChar(CP_ACP, 0, link.c_str(), -1, wide, MAX_PATH + 1))
                        done = SUCCEEDED(file->Save(wide, TRUE));
                    file->Release();
                }
                shellLink->Release();
            }
        }
        if (pidl) CoTaskMemFree(pidl);
        if (!done) MessageBoxA(g_frame.frame, "Error CreateOneLink", "error", MB_OK | MB_ICONERROR);
    }
    CoUninitialize();
}

// ---- The dialog -------------------------------------------------------------------

namespace {

constexpr UINT STATE_UNCHECKED = 1;
constexpr UINT STATE_CHECKED = 2;

struct ConfigState {
    std::vector<AssociationRow> rows;
};

bool rowAssociated(const AssociationRow& row) {
    if (row.extensions.empty()) return false;
    for (const std::string& ext : row.extensions)
        if (!isAssociated(ext.c_str())) return false;
    return true;
}

bool rowChecked(HWND list, int item) {
    UINT state = static_cast<UINT>(SendMessageA(list, LVM_GETITEMSTATE, item, LVIS_STATEIMAGEMASK));
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(STATE_CHECKED);
}

void setChecked(HWND list, int item, bool checked) {
    LVITEMA lv;
    memset(&lv, 0, sizeof lv);
    lv.stateMask = LVIS_STATEIMAGEMASK;
    lv.state = INDEXTOSTATEIMAGEMASK(checked ? STATE_CHECKED : STATE_UNCHECKED);
    SendMessageA(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&lv));
}

void addColumn(HWND list, int index, UINT textId, int width) {
    std::string text = loadText(textId);
    LVCOLUMNA column;
    memset(&column, 0, sizeof column);
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(text.c_str());
    column.cx = width;
    column.iSubItem = index;
    SendMessageA(list, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void fillList(HWND dialog, ConfigState* state) {
    HWND list = GetDlgItem(dialog, IDC_CFG_LIST);
    bool byName = g_settings.viewAsName != 0;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageA(list, LVM_DELETECOLUMN, 0, 0)) {
    }
    addColumn(list, 0, byName ? IDS_COL_NAME : IDS_COL_EXTENSION, byName ? 190 : 80);
    addColumn(list, 1, byName ? IDS_COL_EXTENSION : IDS_COL_NAME, byName ? 120 : 300);
    state->rows = buildAssociationRows(byName);
    for (size_t i = 0; i < state->rows.size(); ++i) {
        const AssociationRow& row = state->rows[i];
        LVITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = LVIF_TEXT | LVIF_STATE | LVIF_PARAM;
        item.iItem = static_cast<int>(i);
        item.pszText = const_cast<char*>(row.label.c_str());
        item.lParam = static_cast<LPARAM>(i);
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(rowAssociated(row) ? STATE_CHECKED : STATE_UNCHECKED);
        int at = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        LVITEMA sub;
        memset(&sub, 0, sizeof sub);
        sub.iSubItem = 1;
        sub.pszText = const_cast<char*>(row.detail.c_str());
        SendMessageA(list, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&sub));
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// Associates (checked) or restores (unchecked) a row; true when every
// extension of the row succeeded.
bool applyRow(const AssociationRow& row, bool associate) {
    bool all = true;
    for (const std::string& ext : row.extensions)
        all = (associate ? associateExtension(ext.c_str()) : restoreExtension(ext.c_str())) && all;
    return all;
}

void toggleRow(HWND list, ConfigState* state, int item) {
    if (item < 0 || static_cast<size_t>(item) >= state->rows.size()) return;
    if (rowChecked(list, item)) {
        if (applyRow(state->rows[item], false)) setChecked(list, item, false);
    } else {
        setChecked(list, item, applyRow(state->rows[item], true));
    }
}

void applyAll(HWND dialog, ConfigState* state, bool associate) {
    HWND list = GetDlgItem(dialog, IDC_CFG_LIST);
    for (size_t i = 0; i < state->rows.size(); ++i) {
        int item = static_cast<int>(i);
        if (rowChecked(list, item) == associate) continue;
        if (applyRow(state->rows[i], associate)) setChecked(list, item, associate);
    }
}

INT_PTR CALLBACK configProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    ConfigState* state = reinterpret_cast<ConfigState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<ConfigState*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        centreDialog(dialog);
        registerImageClass();
        CheckDlgButton(dialog, IDC_CFG_BROWSE_VERB, hasBrowseWithVerb() ? BST_CHECKED : BST_UNCHECKED);
        CheckRadioButton(dialog, IDC_CFG_BY_NAME, IDC_CFG_BY_EXTENSION,
                         g_settings.viewAsName ? IDC_CFG_BY_NAME : IDC_CFG_BY_EXTENSION);
        HWND list = GetDlgItem(dialog, IDC_CFG_LIST);
        HIMAGELIST images = ImageList_LoadImageA(g_frame.instance, "ConfigIcon", 16, 0, RGB(255, 0, 0), IMAGE_BITMAP,
                                                 LR_CREATEDIBSECTION);
        if (images) SendMessageA(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(images));
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
        fillList(dialog, state);
        return TRUE;
    }
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_CFG_LIST && header->code == NM_CLICK && state) {
            LVHITTESTINFO hit;
            memset(&hit, 0, sizeof hit);
            hit.pt = reinterpret_cast<NMITEMACTIVATE*>(lParam)->ptAction;
            int item = static_cast<int>(SendMessageA(header->hwndFrom, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
            if (item >= 0 && (hit.flags & LVHT_ONITEMSTATEICON)) toggleRow(header->hwndFrom, state, item);
        }
        break;
    }
    case WM_COMMAND:
        if (!state) break;
        switch (LOWORD(wParam)) {
        case IDC_CFG_ADD_ALL: applyAll(dialog, state, true); return TRUE;
        case IDC_CFG_RESTORE_ALL: applyAll(dialog, state, false); return TRUE;
        case IDC_CFG_BROWSE_VERB:
            if (IsDlgButtonChecked(dialog, IDC_CFG_BROWSE_VERB) == BST_CHECKED)
                addBrowseWithVerb();
            else
                removeBrowseWithVerb();
            return TRUE;
        case IDC_CFG_BY_NAME:
        case IDC_CFG_BY_EXTENSION: {
            uint8_t byName = IsDlgButtonChecked(dialog, IDC_CFG_BY_NAME) == BST_CHECKED;
            if (byName != g_settings.viewAsName) {
                g_settings.viewAsName = byName;
                fillList(dialog, state);
            }
            return TRUE;
        }
        case IDC_CFG_DESKTOP_ICON: createShortcuts(1); return TRUE;
        case IDC_CFG_PROGRAMS_MENU: createShortcuts(2); return TRUE;
        case IDC_CFG_START_MENU: createShortcuts(4); return TRUE;
        case IDOK:
        case IDCANCEL: EndDialog(dialog, IDOK); return TRUE;
        }
        break;
    }
    return FALSE;
}

}  // namespace

void showInstallDialog(HWND owner) {
    ConfigState state;
    DialogBoxParamA(g_frame.instance, "KaleoConfig", owner, configProc, reinterpret_cast<LPARAM>(&state));
}
