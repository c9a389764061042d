// Stand-in installer that the test site serves: records that it ran, with its command line and
// working directory, in "installer-record.txt" of its working directory, and exits. When that
// folder holds "installer-delay.txt" (milliseconds), it first waits that long without taking
// any input, then shows a window captioned "Stand-in installer" for five seconds, as a slow
// real installer would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (FILE* f = std::fopen("installer-record.txt", "w")) {
        std::fprintf(f, "ran=1\nargs=%s\ncwd=%s\nself=%s\n", lpCmdLine, cwd, self);
        std::fclose(f);
    }
    FILE* delay = std::fopen("installer-delay.txt", "r");
    if (delay == nullptr) return 0;
    int ms = 0;
    if (std::fscanf(delay, "%d", &ms) != 1) ms = 0;
    std::fclose(delay);
    Sleep(static_cast<DWORD>(ms));
    HWND window = CreateWindowA("STATIC", "Stand-in installer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 120,
                                nullptr, nullptr, nullptr, nullptr);
    SetTimer(nullptr, 0, 5000, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER) DispatchMessageA(&msg);
    DestroyWindow(window);
    return 0;
}
