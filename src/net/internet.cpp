// WinInet from the system folder, and the check that an HTTPS answer stayed HTTPS.
#include "net/internet.h"

#include "base/system_library.h"

namespace {
WinInetCalls WinInetLoaded;
// 0 untried, 1 loaded, 2 missing: a missing library is not looked for again.
int WinInetState;
}  // namespace

const WinInetCalls* WinInet() {
    if (WinInetState == 0) {
        bool loaded = LoadSystemFunctions(
            "wininet.dll\0InternetOpenA\0InternetOpenUrlA\0InternetReadFile\0InternetCloseHandle\0HttpQueryInfoA\0"
            "InternetQueryOptionA\0InternetQueryDataAvailable\0",
            &WinInetLoaded);
        WinInetState = loaded ? 1 : 2;
    }
    return WinInetState == 1 ? &WinInetLoaded : nullptr;
}

bool AnswerKeptHttps(const char* url, HINTERNET page) {
    // The scheme, as WinInet reads it: letters in any case.
    static const char kSecureScheme[] = "https:";
    for (int i = 0; i < 6; ++i)
        if ((url[i] | 0x20) != kSecureScheme[i]) return true;
    // The connection that delivered this answer, after every redirect WinInet followed.
    DWORD flags = 0;
    DWORD size = sizeof flags;
    return WinInet()->InternetQueryOptionA(page, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
           (flags & SECURITY_FLAG_SECURE) != 0;
}

bool DeclaredLength(HINTERNET page, DWORD* length) {
    DWORD size = sizeof *length;
    return WinInet()->HttpQueryInfoA(page, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, length, &size, nullptr) != FALSE;
}
