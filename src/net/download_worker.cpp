// Download worker. Two checks beyond a plain read loop keep an error page or a cut-off transfer
// from being reported as a good installer: an HTTP status outside 2xx fails the download before
// the first read, and fewer bytes than a declared Content-Length fail it at the end. A build
// with LOADER_RESILIENT_DOWNLOAD resumes such a transfer instead, within a bound.
#include "net/download_worker.h"

#include <windows.h>
#include <wininet.h>
#include <mmsystem.h>
#include <process.h>

#include "base/loader_state.h"
#include "base/system_library.h"
#include "base/text.h"
#include "net/internet.h"
#if LOADER_RESILIENT_DOWNLOAD
#include "net/range_request.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#endif
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
#if !LOADER_RESILIENT_DOWNLOAD
bool StatusIsSuccess(HINTERNET page) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinInet()->HttpQueryInfoA(page, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) return true;
    return status >= 200 && status <= 299;
}
#endif

bool DeclaredLength(HINTERNET page, DWORD* length) {
    DWORD size = sizeof *length;
    return WinInet()->HttpQueryInfoA(page, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length, &size, nullptr) != FALSE;
}

#if LOADER_RESILIENT_DOWNLOAD
// A download for today's lines: 64 KB reads at line speed, a stall noticed, and a cut or
// stalled transfer resumed with a range request; the file that runs is still exactly what the
// server sent, whole.
constexpr DWORD kReadSize = 64 * 1024;
#ifndef LOADER_RECEIVE_TIMEOUT_MS
#define LOADER_RECEIVE_TIMEOUT_MS 30000
#endif
constexpr DWORD kReceiveTimeoutMs = LOADER_RECEIVE_TIMEOUT_MS;
constexpr DWORD kWatchPeriodMs = 100;
// Attempts in a row that bring no new byte before the download fails; the pauses between
// them double from 1 s (1, 2, 4, 8 s).
constexpr int kMostFruitlessAttempts = 5;
constexpr DWORD kFirstRetryPauseMs = 1000;
// The meter and the notice need no more: a message per read would flood the window's queue.
constexpr DWORD kProgressPeriodMs = 50;

enum class Attempt { kDone, kCut, kFailed };

// The body is read and written on a reader thread of the attempt, which the worker watches:
// WinInet's own receive time-out does not end a read of the body everywhere (not under Wine,
// nor in older WinInet versions). A read that brings nothing for kReceiveTimeoutMs is a stall:
// the worker leaves the reader behind and closes the request, which cancels the read where
// WinInet can. A left reader never touches the file again: before each write it must move its
// state from reading to writing, and the worker leaves it only by moving it from reading to
// left. The reader's block is freed by whichever of the two lets go of it last.
enum ReaderState : int { kReading, kWriting, kLeft, kFinished };

struct Transfer;
struct Reader {
    Transfer* t;
    HINTERNET request;
    HANDLE finished;  // set once the reader has ended the body, well or not
    int result;       // an Attempt, once finished
    std::atomic<int> state;
    std::atomic<DWORD> lastByteTick;
    std::atomic<int> holders;
    char buffer[kReadSize];
};

// What the first whole answer said of the file, and what has reached it since.
struct Transfer {
    HWND window;
    HANDLE file;
    DWORD have;         // bytes in the file
    DWORD total;        // the declared length of the whole file
    bool hasTotal;
    bool progressed;    // the current attempt brought bytes
    DWORD lastPost;     // GetTickCount of the last progress message
    char validator[128];  // the ETag, else the Last-Modified, of that answer; empty for none
};

bool TextHeader(HINTERNET page, DWORD what, char* out, DWORD cap) {
    DWORD size = cap - 1;
    out[0] = 0;
    if (!WinInet()->HttpQueryInfoA(page, what, out, &size, nullptr) || size >= cap) {
        out[0] = 0;
        return false;
    }
    out[size] = 0;
    return true;
}

// The file starts again from its first byte: a whole answer replaces whatever was written.
bool StartOver(Transfer& t, HINTERNET page) {
    t.have = 0;
    ReceivedBytes.store(0);
    t.hasTotal = DeclaredLength(page, &t.total);
    if (!TextHeader(page, HTTP_QUERY_ETAG, t.validator, sizeof t.validator))
        TextHeader(page, HTTP_QUERY_LAST_MODIFIED, t.validator, sizeof t.validator);
    return SetFilePointer(t.file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(t.file);
}

void PostProgress(Transfer& t, bool always) {
    DWORD now = GetTickCount();
    if (!always && now - t.lastPost < kProgressPeriodMs) return;
    t.lastPost = now;
    PostMessageA(t.window, WM_DOWNLOAD_PROGRESS, 1, 0);
}

void LetGo(Reader* r) {
    if (r->holders.fetch_sub(1) != 1) return;
    if (r->finished != nullptr) CloseHandle(r->finished);
    std::free(r);
}

Attempt ReadBody(Transfer& t, Reader* r);

unsigned __stdcall RunReader(void* argument) {
    Reader* r = static_cast<Reader*>(argument);
    r->result = static_cast<int>(ReadBody(*r->t, r));
    int reading = kReading;
    // Left behind meanwhile: the worker has gone on without this result.
    if (r->state.compare_exchange_strong(reading, kFinished)) SetEvent(r->finished);
    LetGo(r);
    return 0;
}

// The body of an accepted answer into the file, read by read, on the reader's thread.
Attempt ReadBody(Transfer& t, Reader* r) {
    for (;;) {
        DWORD count = 0;
        BOOL ok = WinInet()->InternetReadFile(r->request, r->buffer, kReadSize, &count);
        int reading = kReading;
        if (!r->state.compare_exchange_strong(reading, kWriting)) return Attempt::kCut;  // left behind
        Attempt end = Attempt::kCut;
        bool more = false;
        DWORD written = 0;
        if (count > kReadSize || (t.hasTotal && ok && count > t.total - t.have)) {
            end = Attempt::kFailed;  // more than asked for, or than declared
        } else if (!ok) {
            end = Attempt::kCut;  // a drop
        } else if (count == 0) {
            end = t.hasTotal && t.have < t.total ? Attempt::kCut : Attempt::kDone;
        } else if (!WriteFile(t.file, r->buffer, count, &written, nullptr) || written != count) {
            end = Attempt::kFailed;
        } else {
            more = true;
            t.have += count;
            t.progressed = true;
            ReceivedBytes.store(static_cast<std::int32_t>(t.have));
            r->lastByteTick.store(GetTickCount());
            PostProgress(t, false);
        }
        r->state.store(kReading);
        if (!more) return end;
    }
}

// Runs the reader of one accepted answer to its end, or until it stalls.
Attempt WatchReader(Transfer& t, HINTERNET request) {
    Reader* r = static_cast<Reader*>(std::calloc(1, sizeof(Reader)));
    if (r == nullptr) return Attempt::kFailed;
    r->t = &t;
    r->request = request;
    r->lastByteTick.store(GetTickCount());
    r->holders.store(2);
    r->finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = r->finished != nullptr
                        ? reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunReader, r, 0, nullptr))
                        : nullptr;
    if (thread == nullptr) {
        r->holders.store(1);
        LetGo(r);
        return Attempt::kFailed;
    }
    CloseHandle(thread);
    Attempt result = Attempt::kCut;
    for (;;) {
        if (WaitForSingleObject(r->finished, kWatchPeriodMs) == WAIT_OBJECT_0) {
            result = static_cast<Attempt>(r->result);
            break;
        }
        int reading = kReading;
        if (GetTickCount() - r->lastByteTick.load() >= kReceiveTimeoutMs &&
            r->state.compare_exchange_strong(reading, kLeft))
            break;  // a stall: the reader is left behind
    }
    LetGo(r);
    return result;
}

// One request: the whole file, or (once a part is in the file and the first answer named both
// a length and a validator) the rest of it.
Attempt RunAttempt(Transfer& t, HINTERNET internet) {
    const WinInetCalls* net = WinInet();
    char headers[200];
    bool ranged = t.have > 0 && t.hasTotal && t.validator[0] != 0 &&
                  BuildRangeHeaders(t.have, t.validator, headers, sizeof headers);
    InternetHandle page(net->InternetOpenUrlA(internet, InstallerUrl, ranged ? headers : nullptr,
                                              ranged ? static_cast<DWORD>(-1) : 0, kInternetOpenUrlFlags, 0));
    if (!page) return Attempt::kCut;
    if (!AnswerKeptHttps(InstallerUrl, page.get())) return Attempt::kFailed;
    // An answer without a status line (a connection that dropped before it) is a cut too.
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!net->HttpQueryInfoA(page.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status == 0)
        return Attempt::kCut;
    if (ranged && status == 206) {
        // Appended only where it continues this file: from its end, and of the same total.
        char range[64];
        std::uint32_t first = 0;
        std::uint32_t total = 0;
        if (!TextHeader(page.get(), HTTP_QUERY_CONTENT_RANGE, range, sizeof range) ||
            !ParseContentRange(range, &first, &total) || first != t.have || total != t.total)
            return Attempt::kFailed;
    } else if (status < 200 || status > 299 || (ranged && status != 200) || !StartOver(t, page.get())) {
        return Attempt::kFailed;
    }
    // Closed after the reader's end or stall: a read still blocked on it is cancelled.
    return WatchReader(t, page.get());
}

Attempt RunAttempts(Transfer& t, HINTERNET internet) {
    Attempt result = Attempt::kFailed;
    for (int fruitless = 0;;) {
        t.progressed = false;
        result = RunAttempt(t, internet);
        if (result != Attempt::kCut) break;
        fruitless = t.progressed ? 0 : fruitless + 1;
        if (fruitless == kMostFruitlessAttempts) break;
        Sleep(kFirstRetryPauseMs << (fruitless > 0 ? fruitless - 1 : 0));
    }
    return result;
}

int Download(HWND window, HANDLE file) {
    const WinInetCalls* net = WinInet();
    if (net == nullptr) return 0;
    InternetHandle internet(net->InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    if (!AppendText(InstallerUrl, kUrlBufferSize, InstallerFileName)) return 0;
    Transfer t;
    std::memset(&t, 0, sizeof t);
    t.window = window;
    t.file = file;
    t.lastPost = GetTickCount() - kProgressPeriodMs;
    Attempt result = RunAttempts(t, internet.get());
    PostProgress(t, true);  // the last count, once at the end
    return result == Attempt::kDone ? 1 : 0;
}
#else
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

#endif

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
#if !LOADER_RESILIENT_DOWNLOAD
    LoadSystemFunctions("winmm.dll\0timeBeginPeriod\0timeEndPeriod\0", &WinMm);
#endif
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
