// Download worker. Two checks beyond a plain read loop keep an error page or a cut-off transfer
// from being reported as a good installer: an HTTP status outside 2xx fails the download before
// the first read, and fewer bytes than a declared Content-Length fail it at the end.
#include "net/download_worker.h"

#include <windows.h>
#include <wininet.h>
#include <mmsystem.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include "app/loader_state.h"
#include "net/internet_handle.h"
#include "res/resource_ids.h"

namespace {
constexpr unsigned kChunkSize = 4096;

// Sleep(1) waits for the next scheduler tick, 15.6 ms by default; one millisecond resolution
// for the worker's lifetime keeps the pause between chunks near 1 ms.
class TimerResolution {
public:
    TimerResolution() : active_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
    ~TimerResolution() {
        if (active_) timeEndPeriod(1);
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
    if (!HttpQueryInfoA(page, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return true;
    return status >= 200 && status <= 299;
}

bool DeclaredLength(HINTERNET page, DWORD* length) {
    DWORD size = sizeof *length;
    return HttpQueryInfoA(page, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length, &size, nullptr) != FALSE;
}

int Download(HWND window, int file) {
    TimerResolution resolution;
    InternetHandle internet(InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    if (!AppendText(InstallerUrl, kUrlBufferSize, InstallerFileName)) return 0;
    InternetHandle page(InternetOpenUrlA(internet.get(), InstallerUrl, nullptr, 0, kInternetOpenUrlFlags, 0));
    if (!page || !StatusIsSuccess(page.get())) return 0;
    DWORD declared = 0;
    bool hasDeclared = DeclaredLength(page.get(), &declared);
    unsigned long long received = 0;
    char chunk[kChunkSize];
    DWORD count = 0;
    int ok = 0;
    do {
        count = 0;
        ok = InternetReadFile(page.get(), chunk, kChunkSize, &count) ? 1 : 0;
        if (count > kChunkSize) count = 0;
        Sleep(1);
        if (_write(file, chunk, count) != static_cast<int>(count)) ok = 0;
        received += count;
        ReceivedBytes.fetch_add(static_cast<std::int32_t>(count));
        PostMessageA(window, WM_DOWNLOAD_PROGRESS, static_cast<WPARAM>(ok), 0);
    } while (count != 0 && ok == 1);
    if (ok == 1 && hasDeclared && received < declared) ok = 0;
    return ok;
}
}  // namespace

void __cdecl DownloadWorker(void* window) {
    HWND hwnd = static_cast<HWND>(window);
    int file = _open("cinstall.exe", _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    int ok = 0;
    if (file != -1) {
        ok = Download(hwnd, file);
        _close(file);
    }
    PostMessageA(hwnd, WM_DOWNLOAD_DONE, static_cast<WPARAM>(ok), 0);
    _endthread();
}

bool StartDownloadWorker(void* window) { return _beginthread(DownloadWorker, 0, window) != static_cast<uintptr_t>(-1); }
