// Helpers shared by the Win32 tests: the scripted site's address, scratch folders, a window
// that collects the messages the loader posts, and registry clean-up.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// http://127.0.0.1:<port><path> of the site started around this test program.
std::string SiteUrl(const std::string& path);
// A fresh empty folder under the temp directory; its path ends without a separator.
std::string MakeScratchFolder(const std::string& name);
std::string ReadWholeFile(const std::string& path, bool* exists = nullptr);
void WriteWholeFile(const std::string& path, const std::string& data);
// The same deterministic bytes the site serves for /bytes/<n>.
std::string PatternBytes(std::size_t n, unsigned seed = 7);
void DeleteRegistryTree(HKEY root, const char* path);

struct PostedMessage {
    UINT msg;
    WPARAM wParam;
};

// A hidden top-level window that records every message posted to it.
class MessageSink {
public:
    MessageSink();
    ~MessageSink();
    HWND hwnd() const { return hwnd_; }
    // Pumps until a message msg arrives or timeoutMs passes; true when it arrived.
    bool PumpUntil(UINT msg, DWORD timeoutMs);
    std::vector<PostedMessage> messages;

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND hwnd_;
};
