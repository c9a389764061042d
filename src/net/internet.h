// WinInet, loaded from the system folder when first needed, the owner of one WinInet handle
// (closed on every path out of the operation that opened it), and what every request shares.
#pragma once
#include <windows.h>
#include <wininet.h>

struct WinInetCalls {
    decltype(&::InternetOpenA) InternetOpenA;
    decltype(&::InternetOpenUrlA) InternetOpenUrlA;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA;
    decltype(&::InternetQueryOptionA) InternetQueryOptionA;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
};
// The WinInet calls, or null when the library cannot be had: then no server is reachable.
const WinInetCalls* WinInet();

// False when url asked for HTTPS and the answer in `page` came over anything else: WinInet
// follows a redirect from https:// to http:// on its own (silently where the zone setting that
// warns of it is off, and always under Wine), and such an answer counts as no answer at all.
bool AnswerKeptHttps(const char* url, HINTERNET page);
// The Content-Length of an HTTP answer; false when it has none (or the scheme has no headers).
bool DeclaredLength(HINTERNET page, DWORD* length);

class InternetHandle {
public:
    // h comes from a WinInet() that answered, so closing it can use the same calls.
    explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
    ~InternetHandle() { Close(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void Close() {
        if (h_ != nullptr) WinInet()->InternetCloseHandle(h_);
        h_ = nullptr;
    }

private:
    HINTERNET h_;
};

// The agent name and open flags of every request the loader makes.
inline constexpr char kInternetAgent[] = "Quillmoor";
constexpr DWORD kInternetOpenUrlFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
