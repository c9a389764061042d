// Entry point and shared helpers of the Win32 tests.
#include "base/loader_state.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

std::string SiteUrl(const std::string& path) {
    const char* port = std::getenv("LOADER_SITE_PORT");
    return std::string("http://127.0.0.1:") + (port ? port : "9") + path;
}

std::string MakeScratchFolder(const std::string& name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string base = std::string(temp) + "loader-tests";
    CreateDirectoryA(base.c_str(), nullptr);
    std::string path = base + "\\" + name;
    std::string command = "cmd /c rmdir /s /q \"" + path + "\" 2>nul";
    // Folders from an earlier run are removed so each test starts empty.
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 20000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

std::string ReadWholeFile(const std::string& path, bool* exists) {
    std::string data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (exists) *exists = f != nullptr;
    if (!f) return data;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
    std::fclose(f);
    return data;
}

void WriteWholeFile(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

std::string PatternBytes(std::size_t n, unsigned seed) {
    std::string out(n, '\0');
    unsigned x = seed;
    for (std::size_t i = 0; i < n; ++i) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        out[i] = static_cast<char>((x >> 16) & 0xFF);
    }
    return out;
}

void DeleteRegistryTree(HKEY root, const char* path) {
    RegDeleteTreeA(root, path);  // the values and subkeys
    RegDeleteKeyA(root, path);   // the key itself
}

MessageSink::MessageSink() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "LoaderTestSink";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowA("LoaderTestSink", "sink", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
}

MessageSink::~MessageSink() { DestroyWindow(hwnd_); }

LRESULT CALLBACK MessageSink::Proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

bool MessageSink::PumpUntil(UINT msg, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG m;
        while (PeekMessageA(&m, hwnd_, 0, 0, PM_REMOVE)) {
            if (m.message >= WM_USER) messages.push_back({m.message, m.wParam});
            if (m.message == msg) return true;
            DispatchMessageA(&m);
        }
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    ResetLoaderState();
    return RUN_ALL_TESTS();
}
