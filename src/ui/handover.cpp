// Installer hand-over. The uninstall key is named after the built-in product, never the
// overridable casino name, so a rebranded copy still finds the client it replaces.
#include "ui/handover.h"

#include "app/download_window.h"
#include "app/loader_state.h"
#include "stamp/reg_key.h"
#include "ui/notice_text.h"
#include "ui/uninstall_path.h"

#include <cstring>

const char kUninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

namespace {
constexpr int kRetireAttempts = 25;
constexpr std::size_t kPathBufferSize = 1040;
constexpr std::size_t kNewNameBufferSize = 1300;
}  // namespace

void RetireOldInstallation() {
    char path[kPathBufferSize];
    path[0] = 0;
    AppendText(path, sizeof path, kUninstallKeyPrefix);
    AppendText(path, sizeof path, "\\");
    AppendText(path, sizeof path, kProductName);
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path)) {
        path[0] = 0;
        key.QueryString(path, sizeof path, "UninstallString");
        char* folder = path[0] != 0 ? CutUninstallFolder(path) : nullptr;
        if (folder != nullptr) {
            char newName[kNewNameBufferSize];
            CopyText(newName, sizeof newName, folder);
            for (int attempt = 0; attempt < kRetireAttempts; ++attempt) {
                if (!AppendText(newName, sizeof newName, ".old")) break;
                if (MoveFileA(folder, newName)) break;
            }
        }
    }
    key.Close();
}

BOOL HandleDownloadDone(HWND window, WPARAM wParam) {
    if (NoticeTimerId != static_cast<UINT_PTR>(-1)) KillTimer(window, NoticeTimerId);
    if (LOWORD(wParam) != 1) {
        ShowFinalMessage(window, NoticeBox, IDS_NETWORK_ERROR);
        return TRUE;
    }
    ShowStatus(IDS_PREPARING);
    UpdateWindow(NoticeBox);
    Sleep(1000);
    UINT started = WinExec("cinstall.exe", SW_SHOW);
    if (started > 31) {
        RetireOldInstallation();
        EndDialog(window, 1);
        return FALSE;
    }
    ShowFinalMessage(window, NoticeBox, IDS_START_FAILED);
    return TRUE;
}
