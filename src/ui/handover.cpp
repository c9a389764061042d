// Installer hand-over: the installer held since its download is checked (in a build with a
// publisher check), started directly or, where it needs elevation, through the shell, and
// waited for until it is ready for input; then the previous installation's folder, found
// through its uninstall key, is moved aside.
#include "ui/handover.h"

#include "ui/notice_box.h"
#include "base/loader_state.h"
#include "base/system_library.h"
#include "base/text.h"
#include "net/download_worker.h"
#if LOADER_PUBLISHER_CHECK
#include "net/builtin_config.h"
#include "net/scrambler.h"
#include "ui/publisher_check.h"
#endif
#include "stamp/reg_key.h"
#include "ui/uninstall_path.h"

#include <cstdlib>
#include <cstring>

namespace {
const char kUninstallKeyPrefix[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr int kRetireAttempts = 25;
constexpr std::size_t kPathBufferSize = 1040;
constexpr std::size_t kNewNameBufferSize = 1300;
}  // namespace

// The uninstall key is named after the built-in product, never the overridable casino name, so a
// rebranded copy still finds the client it replaces. The folder is read and renamed through the
// wide calls, so a name that the ANSI code page
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
            lstrcpynW(newName, folder, kNewNameBufferSize);
            for (int attempt = 0; attempt < kRetireAttempts && length + 4 < kNewNameBufferSize; ++attempt) {
                lstrcpynW(newName + length, L".old", 5);
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
        // Deleted when this handle closes; through the open that the program already uses.
        HANDLE doomed = CreateFileW(InstallerPath, DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (doomed != INVALID_HANDLE_VALUE) CloseHandle(doomed);
    }
    return ok;
}
#else
bool VerifiedInstaller() { return true; }
#endif
}  // namespace

StartStep NextStartStep(DWORD error, bool throughShell) {
    // ERROR_ELEVATION_REQUIRED, which the headers name only for newer Windows targets.
    constexpr DWORD kElevationRequired = 740;
    if (error == 0) return StartStep::kWaitForInput;
    return error == kElevationRequired && !throughShell ? StartStep::kStartThroughShell : StartStep::kFail;
}

namespace {
// From the installer's start to the window's end: its process (none after a start through the
// shell that names none) until it is ready for input; a tick every 50 ms, at most 600 of them.
HANDLE InstallerProcess;
unsigned InputWaitTicks;
constexpr unsigned kInputWaitMostTicks = 600;

DWORD StartDirectly(HANDLE* process) {
    wchar_t commandLine[kInstallerPathSize + 2];
    commandLine[0] = L'"';
    lstrcpynW(commandLine + 1, InstallerPath, kInstallerPathSize);
    int end = 1 + lstrlenW(commandLine + 1);
    commandLine[end] = L'"';
    commandLine[end + 1] = 0;
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION started;
    if (!CreateProcessW(InstallerPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return GetLastError();
    CloseHandle(started.hThread);
    *process = started.hProcess;
    return 0;
}

// The shell asks the player for consent where the installer needs administrator rights; it
// gets the same absolute path, so still no search order applies.
DWORD StartThroughShell(HWND window, HANDLE* process) {
    struct ShellCalls {
        decltype(&::ShellExecuteExW) ShellExecuteExW;
    } shell;
    if (!LoadSystemFunctions("shell32.dll\0ShellExecuteExW\0", &shell)) return ERROR_MOD_NOT_FOUND;
    SHELLEXECUTEINFOW info;
    std::memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = window;
    info.lpFile = InstallerPath;
    info.nShow = SW_SHOW;
    if (!shell.ShellExecuteExW(&info)) return GetLastError();
    *process = info.hProcess;
    return 0;
}
}  // namespace

bool StartInstaller(HWND window, HANDLE* process) {
    *process = nullptr;
    if (!VerifiedInstaller()) return false;
    DWORD error = InstallerFile != nullptr ? StartDirectly(process) : ERROR_INVALID_HANDLE;
    StartStep step = NextStartStep(error, false);
    if (step == StartStep::kStartThroughShell) step = NextStartStep(StartThroughShell(window, process), true);
    ReleaseInstallerFile();
    return step == StartStep::kWaitForInput;
}

// The window stays, answering, with its status until the installer is ready for input (as long
// as that takes, at most 30 s): the old folder moves only then, and a second copy started
// meanwhile still finds this window and defers to it.
bool InstallerReady(HWND window) {
    if (InstallerProcess != nullptr && WaitForInputIdle(InstallerProcess, 0) == WAIT_TIMEOUT &&
        ++InputWaitTicks < kInputWaitMostTicks)
        return false;
    KillTimer(window, HANDOVER_TIMER_ID);
    if (InstallerProcess != nullptr) CloseHandle(InstallerProcess);
    InstallerProcess = nullptr;
    return true;
}

bool BeginHandover(HWND window) {
    ShowStatus(IDS_PREPARING);
    UpdateWindow(NoticeBox);
    Sleep(1000);
    HANDLE process = nullptr;
    if (!StartInstaller(window, &process)) return false;
    InstallerProcess = process;
    InputWaitTicks = 0;
    // Without a process to wait for, or a timer to wait with, the wait ends at its first tick.
    if (process == nullptr || SetTimer(window, HANDOVER_TIMER_ID, HANDOVER_TIMER_PERIOD_MS, nullptr) == 0)
        InputWaitTicks = kInputWaitMostTicks;
    return true;
}
