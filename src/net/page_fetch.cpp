// Page fetch. One read only: configuration replies and notice texts are small, and whatever
// that read delivers is the page. The status is not examined; an error body is a page too.
#include "net/page_fetch.h"

#include "base/loader_state.h"
#include "base/system_library.h"
#include "net/internet_handle.h"

namespace {
WinInetCalls WinInetLoaded;
// 0 untried, 1 loaded, 2 missing: a missing library is not looked for again.
int WinInetState;
}  // namespace

const WinInetCalls* WinInet() {
    if (WinInetState == 0) {
        bool loaded = LoadSystemFunctions(
            "wininet.dll\0InternetOpenA\0InternetOpenUrlA\0InternetReadFile\0InternetCloseHandle\0HttpQueryInfoA\0"
            "InternetQueryOptionA\0",
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

int FetchPage(const char* url) {
    const WinInetCalls* net = WinInet();
    if (ReplyBuffer == nullptr || net == nullptr) return 0;
    InternetHandle internet(net->InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    InternetHandle page(net->InternetOpenUrlA(internet.get(), url, nullptr, 0, kInternetOpenUrlFlags, 0));
    if (!page || !AnswerKeptHttps(url, page.get())) return 0;
    ReplyBuffer[0] = 0;
    DWORD count = 0;
    BOOL ok = net->InternetReadFile(page.get(), ReplyBuffer, static_cast<DWORD>(kReplyReadSize), &count);
    page.Close();
    internet.Close();
    if (count > kReplyReadSize) count = 0;
    ReplyBuffer[count] = 0;
    return ok ? 1 : 0;
}
