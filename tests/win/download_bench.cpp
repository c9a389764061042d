// Benchmark: downloads an installer from the local site with the real worker and prints the
// throughput and the ratio of the elapsed time to the pacing floor: one pause per read, first as
// measured here (4096 one-millisecond pauses at the worker's timer resolution), then nominal
// (1 ms each). --smoke downloads a small body and measures 64 pauses, for the test command.
// Built with LOADER_RESILIENT_DOWNLOAD, it instead times an unpaced WinInet loop with 64 KB reads
// over the same body in the same run, and prints the worker's time against it.
#include "base/loader_state.h"
#include "base/text.h"
#include "net/download_worker.h"
#include "net/internet.h"
#include "res/resource_ids.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One download through the real worker, as the window sees it: its seconds from the start to
// WM_DOWNLOAD_DONE, the progress messages on the way, and the result; transfer, if given, gets
// the seconds to the last progress message, when the last byte is in the file (the worker then
// checks the file it holds against what it wrote before it reports).
double RunWorker(HWND sink, long* progress, WPARAM* result, double* transfer = nullptr) {
    LARGE_INTEGER start, end, last;
    *progress = 0;
    *result = 0;
    QueryPerformanceCounter(&start);
    last = start;
    StartDownloadWorker(sink);
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_DOWNLOAD_PROGRESS) {
            ++*progress;
            QueryPerformanceCounter(&last);
        }
        if (m.message == WM_DOWNLOAD_DONE) {
            *result = m.wParam;
            break;
        }
        DispatchMessageA(&m);
    }
    QueryPerformanceCounter(&end);
    EndDownloadWorker();
    if (transfer != nullptr) *transfer = Seconds(start, last);
    return Seconds(start, end);
}
#if LOADER_RESILIENT_DOWNLOAD
// The body at url through WinInet with 64 KB reads and no pause, into a file.
DWORD WINAPI UnpacedLoop(void* url) {
    static char buffer[64 * 1024];
    InternetHandle internet(WinInet()->InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    InternetHandle page(WinInet()->InternetOpenUrlA(internet.get(), static_cast<const char*>(url), nullptr, 0,
                                                    kInternetOpenUrlFlags, 0));
    HANDLE file = CreateFileA("loop.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD count = 0;
    DWORD written = 0;
    while (page && WinInet()->InternetReadFile(page.get(), buffer, sizeof buffer, &count) && count > 0 &&
           WriteFile(file, buffer, count, &written, nullptr)) {
    }
    CloseHandle(file);
    DeleteFileA("loop.bin");
    return 0;
}
#endif
}  // namespace

int main(int argc, char** argv) {
    ResetLoaderState();
    bool smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    const char* port = std::getenv("LOADER_SITE_PORT");
    if (port == nullptr) {
        std::fprintf(stderr, "download_bench: run under tests/support/scripted_site.py --fixtures --exec\n");
        return 2;
    }
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    SetCurrentDirectoryA(folder);
    FixInstallerPath();
    std::snprintf(InstallerUrl, kUrlBufferSize, "http://127.0.0.1:%s/", port);
    CopyText(InstallerFileName, kUrlBufferSize, smoke ? "bytes/70000" : "bench");
    LARGE_INTEGER start, end;
    HWND sink = CreateWindowA("STATIC", "bench", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    // As in the loader, where discovery has loaded WinInet on this thread before any worker runs.
    if (WinInet() == nullptr) return 1;
#if LOADER_RESILIENT_DOWNLOAD
    // The line's own speed here: the same body through WinInet with 64 KB reads and no pause,
    // into a file, as a download writes it; on a thread of its own, as the worker must run off
    // the window's thread (under Wine the same loop on the first thread is about three times
    // faster, so that figure is printed too). Each takes tens of milliseconds on loopback, so
    // all three run five times, in turns, and their medians are compared.
    const char* body = smoke ? "bytes/70000" : "bench";
    char base[kUrlBufferSize];
    CopyText(base, sizeof base, InstallerUrl);
    char url[kUrlBufferSize];
    std::snprintf(url, sizeof url, "%s%s", base, body);
    double threaded[5], first[5], workers[5], transfers[5];
    WPARAM result = 1;
    long chunks = 0;
    for (int round = 0; round < 5; ++round) {
        QueryPerformanceCounter(&start);
        HANDLE loop = CreateThread(nullptr, 0, UnpacedLoop, url, 0, nullptr);
        WaitForSingleObject(loop, INFINITE);
        CloseHandle(loop);
        QueryPerformanceCounter(&end);
        threaded[round] = Seconds(start, end);
        QueryPerformanceCounter(&start);
        UnpacedLoop(url);
        QueryPerformanceCounter(&end);
        first[round] = Seconds(start, end);
        CopyText(InstallerUrl, kUrlBufferSize, base);
        ReceivedBytes.store(0);
        workers[round] = RunWorker(sink, &chunks, &result, &transfers[round]);
        ReleaseInstallerFile();
        DeleteFileA("cinstall.exe");
        if (result != 1) break;
    }
    std::sort(threaded, threaded + 5);
    std::sort(first, first + 5);
    std::sort(workers, workers + 5);
    std::sort(transfers, transfers + 5);
    std::printf("download_bench: resilient result=%d bytes=%d worker_median_seconds=%.3f (%.3f to %.3f) "
                "of_which_transfer_median_seconds=%.3f unpaced_loop_median_seconds=%.3f (%.3f to %.3f) "
                "transfer_ratio=%.2f first_thread_loop_median_seconds=%.3f ratio_to_first_thread=%.2f "
                "progress_messages=%ld\n",
                static_cast<int>(result), ReceivedBytes.load(), workers[2], workers[0], workers[4], transfers[2],
                threaded[2], threaded[0], threaded[4], transfers[2] / threaded[2], first[2],
                transfers[2] / first[2], chunks);
    return result == 1 ? 0 : 1;
#else
    // What one Sleep(1) between reads really costs here, at the resolution the worker sets.
    int pauses = smoke ? 64 : 4096;
    timeBeginPeriod(1);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < pauses; ++i) Sleep(1);
    QueryPerformanceCounter(&end);
    timeEndPeriod(1);
    double pauseSeconds = Seconds(start, end) / pauses;
    long chunks = 0;
    WPARAM result = 0;
    double seconds = 0;
    double total = RunWorker(sink, &chunks, &result, &seconds);
    double bytes = static_cast<double>(ReceivedBytes.load());
    double nominalFloor = chunks * 0.001;
    double measuredFloor = chunks * pauseSeconds;
    std::printf("download_bench: result=%d bytes=%.0f reads=%ld seconds=%.3f bytes_per_second=%.0f "
                "pause_ms=%.3f measured_floor_seconds=%.3f ratio_to_measured_floor=%.2f "
                "nominal_floor_seconds=%.3f ratio_to_nominal_floor=%.2f with_held_file_check_seconds=%.3f\n",
                static_cast<int>(result), bytes, chunks, seconds, bytes / seconds, pauseSeconds * 1000.0,
                measuredFloor, seconds / measuredFloor, nominalFloor, seconds / nominalFloor, total);
    ReleaseInstallerFile();
    DeleteFileA("cinstall.exe");
    return result == 1 ? 0 : 1;
#endif
}
