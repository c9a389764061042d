// Download window: a message switch whose cases hand over to the subsystems. Its messages, in the
// order they come, and where each is handled:
//   WM_INITDIALOG         here: the stamp and the registry records (stamp/), the title, the
//                         right-to-left layout, "Initializing..."; posts WM_BEGIN_DOWNLOAD.
//   WM_BEGIN_DOWNLOAD     here, once: discovery (net/discovery.cpp), the package's names
//                         (net/package_selection.cpp), then the notice page, which starts the
//                         worker (net/download_worker.cpp) and the notice timer (ui/notice_text.cpp).
//   WM_TIMER 123          ui/notice_text.cpp: the notice's next line, every 500 ms.
//   WM_DOWNLOAD_PROGRESS  ui/progress_meter.cpp: the meter and its name, after the worker's
//                         reads; taken only while the download runs.
//   WM_SYSCOLORCHANGE, WM_SETTINGCHANGE
//                         ui/progress_meter.cpp: the meter's colours read again (high contrast).
//   WM_DOWNLOAD_DONE      here, once: the worker's end, then the installer's start (ui/handover.cpp).
//   WM_TIMER 124          ui/handover.cpp: every 50 ms until the installer is ready for input;
//                         then here, the old installation moves aside and the window ends.
//   WM_COMMAND IDOK       here: ends the window only while a final message is shown.
//   WM_DESTROY            here: each subsystem releases what it made.
// Every failure ends in one of four final messages, chosen in ShowFailure. The window can be
// left only through that OK or by the installer's start.
#include "app/download_window.h"

#include "base/languages.h"
#include "base/loader_state.h"
#include "base/text.h"
#include "net/discovery.h"
#include "net/download_worker.h"
#include "net/package_selection.h"
#include "stamp/registry_records.h"
#include "stamp/stamp_reader.h"
#include "ui/handover.h"
#include "ui/notice_box.h"
#include "ui/notice_text.h"
#include "ui/progress_meter.h"
#if LOADER_REPORT
#include "net/report.h"
#endif

#include <cstring>

WindowPhase DownloadWindowPhase;

void ToggleRtlLayout(HWND h) {
    if (h == nullptr) return;
    SetWindowLongA(h, GWL_EXSTYLE, GetWindowLongA(h, GWL_EXSTYLE) ^ WS_EX_LAYOUTRTL);
    InvalidateRect(h, nullptr, TRUE);
}

namespace {
// The four ways the download can fail, each named by the final message it shows.
enum class Failure : UINT {
    kNoDownloadSite = IDS_CONNECT_FAILED,
    kNoticeUnusable = IDS_PARSING_ERROR,
    kDownloadFailed = IDS_NETWORK_ERROR,
    kInstallerNotStarted = IDS_START_FAILED,
};

// Shows the failure's final message with the OK button, focused; the player's OK ends the window.
BOOL ShowFailure(HWND hwnd, Failure failure) {
    DownloadWindowPhase = WindowPhase::kFinalMessage;
    ShowStatus(static_cast<UINT>(failure));
    ClearProgressMeterName(hwnd);
    HWND ok = GetDlgItem(hwnd, IDOK);
    ShowWindow(ok, SW_SHOW);
    SetFocus(ok);
#if LOADER_REPORT
    ReportEnd(static_cast<UINT>(failure));  // after the message is shown: it never holds it back
#endif
    return TRUE;
}

bool RightToLeftLanguageChosen() {
    return SelectedLanguageIndex == kHebrewIndex || SelectedLanguageIndex == kArabicIndex;
}

BOOL OnInitDialog(HWND hwnd) {
    DownloadWindowPhase = WindowPhase::kInitializing;
    LoadNameOverrides();
    char tag[kStampTagBufferSize];
    BrandingRecord branding;
    std::memset(tag, 0, sizeof tag);
    std::memset(&branding, 0, sizeof branding);
    if (ReadDistributionStamp(tag, &branding) != 0) WriteTrackingRecord(tag, &branding);
    // The title is English in every language: other copies find the window by it.
    SetWindowTextA(hwnd, DOWNLOAD_WINDOW_CAPTION);
    NoticeBox = GetDlgItem(hwnd, IDC_NOTICE);
    ChooseNoticeFont();
    if (RightToLeftLanguageChosen()) {
        ToggleRtlLayout(hwnd);
        ToggleRtlLayout(NoticeBox);
        ToggleRtlLayout(GetDlgItem(hwnd, IDC_METER));
    }
    ShowStatus(IDS_INITIALIZING);
#if LOADER_REPORT
    ReportChosen();
#endif
    PostMessageA(NoticeBox, EM_SETSEL, static_cast<WPARAM>(-1), 0);
    ParkFocus(hwnd);
    PostMessageA(hwnd, WM_BEGIN_DOWNLOAD, 0, 0);
    return TRUE;
}

BOOL OnBeginDownload(HWND hwnd) {
    // FALSE lets the default dialog procedure treat the message as what its number also means.
    if (DownloadWindowPhase != WindowPhase::kInitializing) return FALSE;
    DownloadWindowPhase = WindowPhase::kDiscovering;
#if LOADER_REPORT
    Clock(kDiscoverMs);
    int found = DiscoverDownloadSite();
    if (found == 0) NoteError();
    Clock(kDiscoverMs);
    Clock(kDownloadMs);
    if (found == 0) return ShowFailure(hwnd, Failure::kNoDownloadSite);
#else
    if (DiscoverDownloadSite() == 0) return ShowFailure(hwnd, Failure::kNoDownloadSite);
#endif
    CopyText(InstallerUrl, kUrlBufferSize, WorkBuffer);
    SelectPackage(WorkBuffer, InstallerFileName);
    if (!LoadNoticeText(hwnd)) return ShowFailure(hwnd, Failure::kNoticeUnusable);
    DownloadWindowPhase = WindowPhase::kDownloading;
    return FALSE;
}

void OnInstallerWaitTick(HWND hwnd) {
    if (!InstallerReady(hwnd)) return;
    DownloadWindowPhase = WindowPhase::kEnded;
    RetireOldInstallation();
    EndDialog(hwnd, 1);
}

BOOL OnDownloadDone(HWND hwnd, WPARAM wParam) {
    // Its number is also DM_REPOSITION's: only the end of the running download counts.
    if (DownloadWindowPhase != WindowPhase::kDownloading) return FALSE;
    DownloadWindowPhase = WindowPhase::kHandingOver;
    EndDownloadWorker();
    StopNoticeRotation(hwnd);
#if LOADER_REPORT
    Clock(kDownloadMs);  // from the end of the discovery
#endif
    if (LOWORD(wParam) != 1) return ShowFailure(hwnd, Failure::kDownloadFailed);
    if (!BeginHandover(hwnd)) {
#if LOADER_REPORT
        NoteError();
#endif
        return ShowFailure(hwnd, Failure::kInstallerNotStarted);
    }
#if LOADER_REPORT
    ReportEnd(0);
#endif
    DownloadWindowPhase = WindowPhase::kWaitingForInstaller;
    OnInstallerWaitTick(hwnd);
    return TRUE;
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
    ReleaseDiscoveryBuffers();
    ReleaseNoticeText();
    ReleaseInstallerFile();
    ReleaseProgressMeter();
}
}  // namespace

INT_PTR CALLBACK DownloadWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog(hwnd);
    case WM_BEGIN_DOWNLOAD:
        return OnBeginDownload(hwnd);
    case WM_TIMER:
        if (wParam == HANDOVER_TIMER_ID) {
            if (DownloadWindowPhase == WindowPhase::kWaitingForInstaller) OnInstallerWaitTick(hwnd);
        } else if (DownloadWindowPhase == WindowPhase::kDownloading) {
            RotateNotice(hwnd, LOWORD(wParam));
        }
        return FALSE;
    case WM_DOWNLOAD_PROGRESS:
        // The worker posts its progress before its end: one that comes later, or before the
        // download, is another program's, and would put a percentage beside a final message.
        if (DownloadWindowPhase == WindowPhase::kDownloading) RefreshProgressMeter(hwnd);
        SetActiveWindow(GetDlgItem(hwnd, IDC_FOCUS_SINK));
        return FALSE;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
        RecolourProgressMeter(hwnd, HighContrastOn());
        return FALSE;
    case WM_DOWNLOAD_DONE:
        return OnDownloadDone(hwnd, wParam);
    case WM_COMMAND:
        // IDCANCEL (Escape, Alt+F4, the close box) is ignored on purpose: the window stays.
        // IDOK before a final message (Enter, or one posted from outside) would end the
        // program under a running worker: only the shown OK button ends the window.
        if (LOWORD(wParam) == IDOK && DownloadWindowPhase == WindowPhase::kFinalMessage) EndDialog(hwnd, 1);
        return FALSE;
    case WM_SYSCOMMAND:
        return OnSysCommand(hwnd, wParam);
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    }
    return FALSE;
}
