// Benchmark: downloads an installer from the local site with the real worker and prints the
// throughput and the ratio of the elapsed time to the pacing floor (one 1 ms pause per chunk).
// --smoke downloads a small body so the test command can run it quickly.
#include "base/loader_state.h"
#include "net/download_worker.h"
#include "res/resource_ids.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    HWND sink = CreateWindowA("STATIC", "bench", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    StartDownloadWorker(sink);
    long chunks = 0;
    WPARAM result = 0;
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        if (m.message == WM_DOWNLOAD_PROGRESS) ++chunks;
        if (m.message == WM_DOWNLOAD_DONE) {
            result = m.wParam;
            break;
        }
        DispatchMessageA(&m);
    }
    QueryPerformanceCounter(&end);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    double bytes = static_cast<double>(ReceivedBytes.load());
    double floorSeconds = chunks * 0.001;
    std::printf("download_bench: result=%d bytes=%.0f reads=%ld seconds=%.3f bytes_per_second=%.0f "
                "pacing_floor_seconds=%.3f ratio_to_floor=%.2f\n",
                static_cast<int>(result), bytes, chunks, seconds, bytes / seconds, floorSeconds, seconds / floorSeconds);
    ReleaseInstallerFile();
    DeleteFileA("cinstall.exe");
    return result == 1 ? 0 : 1;
}
