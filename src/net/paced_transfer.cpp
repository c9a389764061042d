// The paced transfer: 4096-byte reads with a millisecond's pause after each, and no retry. Two
// checks beyond a plain read loop keep an error page or a cut-off transfer from being reported
// as a good installer: an HTTP status outside 2xx fails the download before the first read, and
// fewer bytes than a declared Content-Length fail it at the end.
#include "net/transfer.h"
#if LOADER_REPORT
#include "net/report.h"
#endif

#include <windows.h>
#include <wininet.h>
#include <mmsystem.h>

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

struct WinMmCalls {
    decltype(&::timeBeginPeriod) timeBeginPeriod;
    decltype(&::timeEndPeriod) timeEndPeriod;
};
// Loaded by PrepareTransfer; null members when winmm cannot be had.
WinMmCalls WinMm;

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

// The HTTP status; other schemes report none and are not checked.
bool StatusIsSuccess(HINTERNET page) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinInet()->HttpQueryInfoA(page, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return true;
#if LOADER_REPORT
    if (status < 200 || status > 299) Facts[kHttp] = status;
#endif
    return status >= 200 && status <= 299;
}
}  // namespace

void PrepareTransfer() {
    LoadSystemFunctions("winmm.dll\0timeBeginPeriod\0timeEndPeriod\0", &WinMm);
}

int TransferInstaller(HWND window, HANDLE file) {
    TimerResolution resolution;
    const WinInetCalls* net = WinInet();
    if (net == nullptr) return 0;
    InternetHandle internet(net->InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    if (!AppendText(InstallerUrl, kUrlBufferSize, InstallerFileName)) return 0;
#if LOADER_REPORT
    Facts[kAttempts] = 1;
#endif
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
