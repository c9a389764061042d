// Download worker. Two checks beyond a plain read loop keep an error page or a cut-off transfer
// from being reported as a good installer: an HTTP status outside 2xx fails the download before
// the first read, and fewer bytes than a declared Content-Length fail it at the end.
#include "net/download_worker.h"

#include <windows.h>
#include <wininet.h>
#include <mmsystem.h>
#include <process.h>

#include "base/loader_state.h"
#include "base/system_library.h"
#include "base/text.h"
#include "net/internet.h"
#include "res/resource_ids.h"

namespace {
constexpr unsigned kChunkSize = 4096;
// ProcessPowerThrottling and PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, which older
// headers lack.
constexpr int kProcessPowerThrottling = 4;
constexpr ULONG kIgnoreTimerResolution = 4;
constexpr int kReopenAttempts = 30;
constexpr DWORD kReopenPauseMs = 100;

struct WinMmCalls {
    decltype(&::timeBeginPeriod) timeBeginPeriod;
    decltype(&::timeEndPeriod) timeEndPeriod;
};
// Loaded by the thread that starts the worker, so that no library is ever loaded for the first
// time on the worker's own thread; null members when winmm cannot be had.
WinMmCalls WinMm;
// The running or finished worker thread, until EndDownloadWorker has seen it end.
HANDLE WorkerThread;

// Sleep(1) waits for the next scheduler tick, 15.6 ms by default; one millisecond resolution
// for the worker's lifetime keeps the pause between chunks near 1 ms. Without winmm the pauses
// run at the default resolution: slower, never failed.
// Windows 11 stops honouring the resolution once the process's windows are minimized or
// covered, unless the process opts out: then the pause is a whole tick again and the download
// a fifteenth as fast. Systems before Windows 11 lack that class and refuse the call, which
// changes nothing.
class TimerResolution {
public:
    TimerResolution() {
        struct PowerThrottlingState {  // PROCESS_POWER_THROTTLING_STATE
            ULONG Version, ControlMask, StateMask;
        };
        static const PowerThrottlingState kKeepResolution = {1, kIgnoreTimerResolution, 0};
        typedef BOOL(WINAPI * SetProcessInformationFn)(HANDLE, int, const void*, DWORD);
        SetProcessInformationFn set =
            reinterpret_cast<SetProcessInformationFn>(KernelFunction("SetProcessInformation"));
        // The current process's pseudo handle, which GetCurrentProcess returns too.
        if (set != nullptr)
            set(reinterpret_cast<HANDLE>(-1), kProcessPowerThrottling, &kKeepResolution, sizeof kKeepResolution);
        active_ = WinMm.timeBeginPeriod != nullptr && WinMm.timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    ~TimerResolution() {
        if (active_) WinMm.timeEndPeriod(1);
    }
    TimerResolution(const TimerResolution&) = delete;
    TimerResolution& operator=(const TimerResolution&) = delete;

private:
    bool active_;
};

// HTTP status and declared length; other schemes report neither and are not checked.
bool StatusIsSuccess(HINTERNET page) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinInet()->HttpQueryInfoA(page, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return true;
    return status >= 200 && status <= 299;
}

bool DeclaredLength(HINTERNET page, DWORD* length) {
    DWORD size = sizeof *length;
    return WinInet()->HttpQueryInfoA(page, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length, &size, nullptr) != FALSE;
}

int Download(HWND window, HANDLE file) {
    TimerResolution resolution;
    const WinInetCalls* net = WinInet();
    if (net == nullptr) return 0;
    InternetHandle internet(net->InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    if (!AppendText(InstallerUrl, kUrlBufferSize, InstallerFileName)) return 0;
    InternetHandle page(net->InternetOpenUrlA(internet.get(), InstallerUrl, nullptr, 0, kInternetOpenUrlFlags, 0));
    if (!page || !AnswerKeptHttps(InstallerUrl, page.get()) || !StatusIsSuccess(page.get())) return 0;
    DWORD declared = 0;
    bool hasDeclared = DeclaredLength(page.get(), &declared);
    unsigned long long received = 0;
    char chunk[kChunkSize];
    DWORD count = 0;
    int ok = 0;
    do {
        count = 0;
        ok = net->InternetReadFile(page.get(), chunk, kChunkSize, &count) ? 1 : 0;
        if (count > kChunkSize) count = 0;
        Sleep(1);
        DWORD written = 0;
        if (count > 0 && (!WriteFile(file, chunk, count, &written, nullptr) || written != count)) ok = 0;
        received += count;
        ReceivedBytes.fetch_add(static_cast<std::int32_t>(count));
        PostMessageA(window, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(ok), 0);
    } while (count != 0 && ok == 1);
    if (ok == 1 && hasDeclared && received < declared) ok = 0;
    return ok;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow;
}

// The writing handle must go before the installer can start (a program held open for writing
// cannot run), so the file is reopened read-only at once. Identity and size must be those the
// worker wrote: a file swapped in between the two opens is refused.
HANDLE HoldWrittenFile(HANDLE writer) {
    BY_HANDLE_FILE_INFORMATION written;
    bool known = GetFileInformationByHandle(writer, &written) != FALSE;
    CloseHandle(writer);
    if (!known) return INVALID_HANDLE_VALUE;
    // A virus scanner may open the new file the moment the writer lets go, sharing nothing;
    // the download is good, so the reopen waits for it, up to 3 s.
    HANDLE reader;
    for (int attempt = 0;; ++attempt) {
        reader = CreateFileW(InstallerPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (reader != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
            attempt == kReopenAttempts)
            break;
        Sleep(kReopenPauseMs);
    }
    BY_HANDLE_FILE_INFORMATION held;
    if (reader != INVALID_HANDLE_VALUE && (!GetFileInformationByHandle(reader, &held) || !SameFile(written, held))) {
        CloseHandle(reader);
        reader = INVALID_HANDLE_VALUE;
    }
    return reader;
}
}  // namespace

wchar_t InstallerPath[kInstallerPathSize];
HANDLE InstallerFile;

bool FixInstallerPath() {
    // ASCII, widened as it is appended: half the bytes of a wide literal in the program.
    static const char kName[] = "\\cinstall.exe";
    constexpr DWORD kNameLength = sizeof kName - 1;
    InstallerPath[0] = 0;
    DWORD n = GetCurrentDirectoryW(kInstallerPathSize, InstallerPath);
    if (n == 0 || n + kNameLength >= kInstallerPathSize) {
        InstallerPath[0] = 0;
        return false;
    }
    // A drive root already ends with its separator.
    const char* name = InstallerPath[n - 1] == L'\\' ? kName + 1 : kName;
    do InstallerPath[n++] = static_cast<unsigned char>(*name); while (*name++ != 0);
    return true;
}

void ReleaseInstallerFile() {
    if (InstallerFile != nullptr) CloseHandle(InstallerFile);
    InstallerFile = nullptr;
}

unsigned __stdcall DownloadWorker(void* window) {
    HWND hwnd = static_cast<HWND>(window);
    int ok = 0;
    if (InstallerPath[0] != 0) {
        // Only reading is shared while the download writes: nobody changes the file meanwhile.
        HANDLE file = CreateFileW(InstallerPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ok = Download(hwnd, file);
            if (ok == 1) {
                HANDLE held = HoldWrittenFile(file);
                if (held == INVALID_HANDLE_VALUE) ok = 0;
                InstallerFile = held != INVALID_HANDLE_VALUE ? held : nullptr;
            } else {
                CloseHandle(file);
            }
        }
    }
    PostMessageA(hwnd, WM_DOWNLOAD_DONE, static_cast<WPARAM>(ok), 0);
    return 0;
}

bool StartDownloadWorker(void* window) {
    LoadSystemFunctions("winmm.dll\0timeBeginPeriod\0timeEndPeriod\0", &WinMm);
    WorkerThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, DownloadWorker, window, 0, nullptr));
    return WorkerThread != nullptr;
}

// After its last message the worker only returns, which still runs every library's
// thread-detach code; the program must not end (and tear those libraries down) meanwhile.
void EndDownloadWorker() {
    if (WorkerThread == nullptr) return;
    WaitForSingleObject(WorkerThread, INFINITE);
    CloseHandle(WorkerThread);
    WorkerThread = nullptr;
}
