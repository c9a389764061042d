// Page fetch. One read only: configuration replies and notice texts are small, and whatever
// that read delivers is the page. The status is not examined; an error body is a page too.
#include "net/page_fetch.h"

#include "base/loader_state.h"
#include "net/internet.h"

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
