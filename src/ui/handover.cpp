// Installer hand-over. The uninstall key is named after the built-in product, never the
// overridable casino name, so a rebranded copy still finds the client it replaces.
#include "ui/handover.h"

#include "ui/notice_box.h"
#include "base/loader_state.h"
#include "net/download_worker.h"
#if LOADER_PUBLISHER_CHECK
#include "net/builtin_config.h"
#include "net/scrambler.h"
#include "ui/publisher_check.h"
#endif
#include "stamp/reg_key.h"
#include "ui/notice_text.h"
#include "ui/uninstall_path.h"

#include <cstdlib>
#include <cstring>

const char kUninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

namespace {
constexpr int kRetireAttempts = 25;
constexpr std::size_t kPathBufferSize = 1040;
constexpr std::size_t kNewNameBufferSize = 1300;
}  // namespace

// The folder is read and renamed through the wide calls, so a name that the ANSI code page
// cannot spell is moved aside too.
void RetireOldInstallation() {
    char keyPath[kPathBufferSize];
    keyPath[0] = 0;
    AppendText(keyPath, sizeof keyPath, kUninstallKeyPrefix);
    AppendText(keyPath, sizeof keyPath, "\\");
    AppendText(keyPath, sizeof keyPath, kProductName);
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath)) {
        wchar_t path[kPathBufferSize];
        path[0] = 0;
        key.QueryWideString(path, kPathBufferSize, L"UninstallString");
        wchar_t* folder = path[0] != 0 ? CutUninstallFolder(path) : nullptr;
        std::size_t length = folder != nullptr ? static_cast<std::size_t>(lstrlenW(folder)) : 0;
        if (folder != nullptr && length < kNewNameBufferSize) {
            wchar_t newName[kNewNameBufferSize];
            lstrcpyW(newName, folder);
            for (int attempt = 0; attempt < kRetireAttempts && length + 4 < kNewNameBufferSize; ++attempt) {
                lstrcpyW(newName + length, L".old");
                length += 4;
                if (MoveFileW(folder, newName)) break;
            }
        }
    }
    key.Close();
}

namespace {
#if LOADER_PUBLISHER_CHECK
// The held file is checked, so what was verified is what starts. A file that fails is deleted,
// so that nobody starts the unverified program by hand.
bool VerifiedInstaller() {
    char* publisher = UnscrambledCopy(InstallerPublisher);
    bool ok = publisher != nullptr && InstallerFile != nullptr &&
              InstallerFromPublisher(InstallerFile, InstallerPath, publisher);
    std::free(publisher);
    if (!ok) {
        ReleaseInstallerFile();
        DeleteFileW(InstallerPath);
    }
    return ok;
}
#else
bool VerifiedInstaller() { return true; }
#endif
}  // namespace

// Starts exactly InstallerPath, quoted, from the file that the worker holds, then lets it go.
bool StartInstaller() {
    if (!VerifiedInstaller()) return false;
    wchar_t commandLine[kInstallerPathSize + 2];
    commandLine[0] = L'"';
    lstrcpynW(commandLine + 1, InstallerPath, kInstallerPathSize);
    lstrcatW(commandLine, L"\"");
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    bool started = InstallerFile != nullptr &&
                   CreateProcessW(InstallerPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process) != FALSE;
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    ReleaseInstallerFile();
    return started;
}

BOOL HandleDownloadDone(HWND window, WPARAM wParam) {
    if (NoticeTimerId != 0) KillTimer(window, NoticeTimerId);
    if (LOWORD(wParam) != 1) {
        ShowFinalMessage(window, NoticeBox, IDS_NETWORK_ERROR);
        return TRUE;
    }
    ShowStatus(IDS_PREPARING);
    UpdateWindow(NoticeBox);
    Sleep(1000);
    if (StartInstaller()) {
        RetireOldInstallation();
        EndDialog(window, 1);
        return FALSE;
    }
    ShowFinalMessage(window, NoticeBox, IDS_START_FAILED);
    return TRUE;
}
