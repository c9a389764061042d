// Stand-in installer that the test site serves: records that it ran, with its command line and
// working directory, in "installer-record.txt" of its working directory, and exits.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
    char cwd[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, cwd);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (FILE* f = std::fopen("installer-record.txt", "w")) {
        std::fprintf(f, "ran=1\nargs=%s\ncwd=%s\nself=%s\n", lpCmdLine, cwd, self);
        std::fclose(f);
    }
    return 0;
}
