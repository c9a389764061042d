// Download window: a message switch whose cases hand over to the subsystems. It can be left
// only through OK (shown with a final message) or by the installer's start.
#include "app/download_window.h"

#include "app/language_table.h"
#include "base/loader_state.h"
#include "net/discovery.h"
#include "net/download_worker.h"
#include "net/package_selection.h"
#include "stamp/registry_records.h"
#include "stamp/stamp_reader.h"
#include "ui/handover.h"
#include "ui/notice_box.h"
#include "ui/notice_text.h"
#include "ui/progress_meter.h"

#include <cstdlib>
#include <cstring>

namespace {
// Set by the first begin-download: later messages under its number are someone else's.
bool DownloadBegun;
}  // namespace

void ToggleRtlLayout(HWND h) {
    if (h == nullptr) return;
    SetWindowLongA(h, GWL_EXSTYLE, GetWindowLongA(h, GWL_EXSTYLE) ^ WS_EX_LAYOUTRTL);
    InvalidateRect(h, nullptr, TRUE);
}

namespace {
bool RightToLeftLanguageChosen() {
    return SelectedLanguageIndex == kHebrewIndex || SelectedLanguageIndex == kArabicIndex;
}

BOOL OnInitDialog(HWND hwnd) {
    FinalMessageShown = false;
    DownloadBegun = false;
    DownloadEndDue = false;
    LoadNameOverrides();
    char tag[260];
    BrandingRecord branding;
    std::memset(tag, 0, sizeof tag);
    std::memset(&branding, 0, sizeof branding);
    if (ReadDistributionStamp(tag, &branding) != 0) WriteTrackingRecord(tag, &branding);
    SetWindowTextA(hwnd, LoadUiString(IDS_TITLE));
    NoticeBox = GetDlgItem(hwnd, IDC_NOTICE);
    if (RightToLeftLanguageChosen()) {
        ToggleRtlLayout(hwnd);
        ToggleRtlLayout(NoticeBox);
        ToggleRtlLayout(GetDlgItem(hwnd, IDC_METER));
    }
    ShowStatus(IDS_INITIALIZING);
    PostMessageA(NoticeBox, EM_SETSEL, static_cast<WPARAM>(-1), 0);
    ParkFocus(hwnd);
    PostMessageA(hwnd, WM_BEGIN_DOWNLOAD, 0, 0);
    return TRUE;
}

BOOL OnBeginDownload(HWND hwnd) {
    // FALSE lets the default dialog procedure treat the message as what its number also means.
    if (DownloadBegun) return FALSE;
    DownloadBegun = true;
    if (DiscoverDownloadSite() == 0) {
        ShowFinalMessage(hwnd, NoticeBox, IDS_CONNECT_FAILED);
        return TRUE;
    }
    CopyText(InstallerUrl, kUrlBufferSize, WorkBuffer);
    SelectPackage(WorkBuffer, InstallerFileName);
    return LoadNoticeText(hwnd) ? FALSE : TRUE;
}

BOOL OnSysCommand(HWND hwnd, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case SC_MAXIMIZE:
        ShowWindow(hwnd, SW_SHOWNORMAL);
        return TRUE;
    case SC_RESTORE:
        ShowWindow(hwnd, SW_RESTORE);
        PostMessageA(NoticeBox, EM_SETSEL, static_cast<WPARAM>(-1), 0);
        ParkFocus(hwnd);
        return TRUE;
    }
    return FALSE;
}

void OnDestroy() {
    std::free(WorkBuffer);
    WorkBuffer = nullptr;
    std::free(ReplyBuffer);
    ReplyBuffer = nullptr;
    ReleaseNoticeText();
    ReleaseInstallerFile();
    if (MeterBitmap != nullptr) {
        DeleteObject(MeterBitmap);
        MeterBitmap = nullptr;
    }
}
}  // namespace

INT_PTR CALLBACK DownloadWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_BEGIN_DOWNLOAD:
        return OnBeginDownload(hwnd);
    case WM_TIMER:
        if (wParam == HANDOVER_TIMER_ID) HandleInputWaitTick(hwnd);
        else RotateNotice(hwnd, LOWORD(wParam));
        return FALSE;
    case WM_DOWNLOAD_PROGRESS:
        RefreshProgressMeter(hwnd);
        SetActiveWindow(GetDlgItem(hwnd, IDC_FOCUS_SINK));
        return FALSE;
    case WM_DOWNLOAD_DONE:
        // Its number is also DM_REPOSITION's: only the end of the running download counts.
        if (!DownloadEndDue) return FALSE;
        DownloadEndDue = false;
        return HandleDownloadDone(hwnd, wParam);
    case WM_COMMAND:
        // IDCANCEL (Escape, Alt+F4, the close box) is ignored on purpose: the window stays.
        // IDOK before a final message (Enter, or one posted from outside) would end the
        // program under a running worker: only the shown OK button ends the window.
        if (LOWORD(wParam) == IDOK && FinalMessageShown) EndDialog(hwnd, 1);
        return FALSE;
    case WM_SYSCOMMAND:
        return OnSysCommand(hwnd, wParam);
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    }
    return FALSE;
}
