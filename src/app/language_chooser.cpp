// Language chooser: pre-selects the system's language and records the player's choice.
#include "app/language_chooser.h"

#include "app/language_table.h"
#include "base/loader_state.h"
#include "res/resource_ids.h"
#if LOADER_REPORT
#include "net/report.h"
#endif

void RestrictRtlChoices(HWND hwnd, unsigned primaryLanguage) {
    if (!ShouldRestrictRtlChoices(static_cast<unsigned>(GetVersion()), primaryLanguage)) return;
    EnableWindow(GetDlgItem(hwnd, IDC_LANG_HEB), FALSE);
    EnableWindow(GetDlgItem(hwnd, IDC_LANG_ARA), FALSE);
}

namespace {
BOOL OnInitDialog(HWND hwnd) {
    LANGID langid = GetSystemDefaultLangID();
    RestrictRtlChoices(hwnd, PrimaryLanguage(langid));
    LanguagePick pick = PickLanguageForSystem(langid);
    if (pick.index >= 0) {
#if LOADER_REPORT
        LanguageCode = Languages[pick.index].code;  // the system's, which a cancel reports
#endif
        HWND button = GetDlgItem(hwnd, IDC_LANG_FIRST + pick.index);
        if (pick.caption != nullptr) SetWindowTextA(button, pick.caption);
        SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0);
    }
    return TRUE;
}

void OnOk(HWND hwnd) {
    int i = 0;
    for (; i < kLanguageCount; ++i) {
        LRESULT state = SendMessageA(GetDlgItem(hwnd, IDC_LANG_FIRST + i), BM_GETSTATE, 0, 0);
        if (state & BST_CHECKED) {
            SelectedLanguageIndex = i;
            break;
        }
    }
    LanguageCode = Languages[i < kLanguageCount ? i : kEnglishIndex].code;
    EndDialog(hwnd, 1);
}
}  // namespace

INT_PTR CALLBACK LanguageChooserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOk(hwnd);
            break;
        case IDCANCEL:
#if LOADER_REPORT
            ReportCancelled();
#endif
            EndDialog(hwnd, 0);
            break;
        }
        return FALSE;
    }
    return FALSE;
}
