// Test robot: a long-running Windows program that the end-to-end tests drive over stdin.
// One command per line, fields separated by tabs; one answer line per command, "ok ..." or
// "err ...". It finds windows by caption, reads control texts and states, clicks, sends keys
// and system commands, waits with a bound, and reads and writes the registry under HKLM.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return out;
}

// Bytes outside printable ASCII travel as \xNN so that any code page survives the pipe.
std::string Escape(const std::string& s) {
    std::string out;
    char hex[8];
    for (unsigned char c : s) {
        if (c >= 32 && c < 127 && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() + 0 && s[i + 1] == 'x') {
            out += static_cast<char>(std::strtol(s.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

HWND FindTop(const std::string& caption) { return FindWindowA(nullptr, caption.c_str()); }

HWND Target(const std::vector<std::string>& a, std::size_t at) {
    HWND top = FindTop(a.at(at));
    if (top == nullptr) return nullptr;
    if (a.size() <= at + 1) return top;
    int id = std::atoi(a[at + 1].c_str());
    return id == 0 ? top : GetDlgItem(top, id);
}

// Control texts travel as UTF-8, read as Unicode so that a caption set in another code page
// (a Japanese button on a Japanese system) arrives as the characters the player sees.
std::string GetText(HWND h) {
    static wchar_t wide[32768];
    wide[0] = 0;
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, 32768, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG, 5000, &got);
    if (got >= 32768) got = 0;
    static char utf8[4 * 32768];
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(got), utf8, sizeof utf8, nullptr, nullptr);
    return std::string(utf8, n > 0 ? n : 0);
}

HWND FocusOf(HWND h) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(h, nullptr);
    if (!GetGUIThreadInfo(thread, &info)) return nullptr;
    return info.hwndFocus;
}

void SendKey(WORD vk, bool alt) {
    std::vector<INPUT> inputs;
    auto push = [&](WORD key, bool up) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key;
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(in);
    };
    if (alt) push(VK_MENU, false);
    push(vk, false);
    push(vk, true);
    if (alt) push(VK_MENU, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

HKEY RootOf(const std::string& name) { return name == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

std::string Run(const std::vector<std::string>& a) {
    const std::string& cmd = a[0];
    if (cmd == "find") {
        HWND h = Target(a, 1);
        return h ? "ok 1" : "ok 0";
    }
    if (cmd == "wait" || cmd == "gone") {
        DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(a.at(2).c_str()));
        bool wantPresent = cmd == "wait";
        for (;;) {
            // A dialog counts as present once it is shown, that is after its initialisation.
            HWND w = FindTop(a[1]);
            bool present = w != nullptr && (!wantPresent || IsWindowVisible(w));
            if (present == wantPresent) return "ok 1";
            if (static_cast<LONG>(GetTickCount() - deadline) > 0) return "ok 0";
            Sleep(20);
        }
    }
    if (cmd == "waittext") {  // caption id text ms: until the control's text contains text
        DWORD deadline = GetTickCount() + static_cast<DWORD>(std::atoi(a.at(4).c_str()));
        std::string want = Unescape(a.at(3));
        for (;;) {
            HWND h = Target(a, 1);
            if (h != nullptr) {
                std::string t = GetText(h);
                if (t.find(want) != std::string::npos) return "ok " + Escape(t);
            }
            if (static_cast<LONG>(GetTickCount() - deadline) > 0) return "err timeout";
            Sleep(10);
        }
    }
    if (cmd == "fg") {
        char title[256] = {};
        GetWindowTextA(GetForegroundWindow(), title, sizeof title);
        return "ok " + Escape(title);
    }
    if (cmd == "count") {  // caption: top-level windows with that caption
        int n = 0;
        for (HWND w = FindWindowExA(nullptr, nullptr, nullptr, a.at(1).c_str()); w != nullptr;
             w = FindWindowExA(nullptr, w, nullptr, a.at(1).c_str()))
            ++n;
        return "ok " + std::to_string(n);
    }
    HWND h = nullptr;
    if (cmd.rfind("reg", 0) != 0) {
        h = Target(a, 1);
        if (h == nullptr) return "err no window";
    }
    if (cmd == "text") return "ok " + Escape(GetText(h));
    if (cmd == "name") {  // caption id: the window text as stored, read without asking the window's
                          // thread, so even while that thread is busy (as an accessibility client can)
        wchar_t wide[256];
        int got = InternalGetWindowText(h, wide, 256);
        char utf8[4 * 256];
        int n = WideCharToMultiByte(CP_UTF8, 0, wide, got, utf8, sizeof utf8, nullptr, nullptr);
        return "ok " + Escape(std::string(utf8, n > 0 ? n : 0));
    }
    if (cmd == "info") {
        HWND top = FindTop(a[1]);
        char line[256];
        std::snprintf(line, sizeof line, "ok visible=%d enabled=%d checked=%d focused=%d style=%08lx exstyle=%08lx iconic=%d",
                      IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0,
                      static_cast<int>(SendMessageA(h, BM_GETCHECK, 0, 0)), FocusOf(top) == h ? 1 : 0,
                      static_cast<unsigned long>(GetWindowLongA(h, GWL_STYLE)),
                      static_cast<unsigned long>(GetWindowLongA(h, GWL_EXSTYLE)), IsIconic(h) ? 1 : 0);
        return line;
    }
    if (cmd == "rect") {  // caption id: the window's rectangle on the screen
        RECT r;
        GetWindowRect(h, &r);
        char line[96];
        std::snprintf(line, sizeof line, "ok %ld %ld %ld %ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
        return line;
    }
    if (cmd == "navy") {  // caption id: navy pixels of the control as shown on the screen
        RECT r;
        GetWindowRect(h, &r);
        int w = r.right - r.left;
        int ht = r.bottom - r.top;
        if (w <= 0 || ht <= 0) return "ok 0";
        HDC screen = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, w, ht);
        HGDIOBJ old = SelectObject(mem, bmp);
        BitBlt(mem, 0, 0, w, ht, screen, r.left, r.top, SRCCOPY);
        SelectObject(mem, old);
        std::vector<unsigned> px(static_cast<std::size_t>(w) * ht);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -ht;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        GetDIBits(mem, bmp, 0, ht, px.data(), &info, DIB_RGB_COLORS);
        DeleteObject(bmp);
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
        int n = 0;
        for (unsigned p : px) n += (p & 0xFFFFFF) == 0x000080;
        return "ok " + std::to_string(n);
    }
    if (cmd == "kill") {  // caption: ends the process that owns the window
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (process == nullptr) return "err cannot open process";
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
        return "ok";
    }
    if (cmd == "click") {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(h, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        return "ok";
    }
    if (cmd == "post") {  // caption id msg wparam: a message posted to the window, as any program can
        PostMessageA(h, static_cast<UINT>(std::strtoul(a[a.size() - 2].c_str(), nullptr, 0)),
                     static_cast<WPARAM>(std::strtoul(a.back().c_str(), nullptr, 0)), 0);
        return "ok";
    }
    if (cmd == "syscmd") {  // caption id command
        PostMessageA(h, WM_SYSCOMMAND, static_cast<WPARAM>(std::strtoul(a.back().c_str(), nullptr, 0)), 0);
        return "ok";
    }
    if (cmd == "key" || cmd == "altkey") {  // caption id vk: real key strokes to the foreground window
        SetForegroundWindow(h);
        Sleep(100);
        SendKey(static_cast<WORD>(std::strtoul(a.back().c_str(), nullptr, 0)), cmd == "altkey");
        return "ok";
    }
    if (cmd == "regget") {  // root path name
        HKEY key;
        if (RegOpenKeyExA(RootOf(a.at(1)), a.at(2).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "ok nokey";
        char data[4096];
        DWORD size = sizeof data;
        DWORD type = 0;
        LONG rc = RegQueryValueExA(key, a.at(3).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) return "ok novalue";
        char head[64];
        std::snprintf(head, sizeof head, "ok value %lu %lu ", static_cast<unsigned long>(type), static_cast<unsigned long>(size));
        return head + Escape(std::string(data, size));
    }
    if (cmd == "regset") {  // root path name data (the data is stored as REG_SZ with its NUL)
        HKEY key;
        if (RegCreateKeyA(RootOf(a.at(1)), a.at(2).c_str(), &key) != ERROR_SUCCESS) return "err create";
        std::string data = Unescape(a.at(4));
        LONG rc = RegSetValueExA(key, a.at(3).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                 static_cast<DWORD>(data.size() + 1));
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? "ok" : "err set";
    }
    if (cmd == "regdel") {  // root path: the key and everything under it
        LONG rc = RegDeleteTreeA(RootOf(a.at(1)), a.at(2).c_str());
        if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) RegDeleteKeyA(RootOf(a.at(1)), a.at(2).c_str());
        return "ok";
    }
    return "err unknown command";
}
}  // namespace

int main() {
    char line[65536];
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("ready\n");
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (s.empty()) continue;
        if (s == "quit") break;
        std::vector<std::string> a = Split(s);
        std::string answer;
        try {
            answer = Run(a);
        } catch (const std::exception&) {
            answer = "err bad arguments";
        }
        std::printf("%s\n", answer.c_str());
    }
    return 0;
}
