// Page fetch. One read only: configuration replies and notice texts are small, and whatever
// that read delivers is the page. The status is not examined; an error body is a page too.
#include "net/page_fetch.h"

#include "base/loader_state.h"
#include "net/internet_handle.h"

int FetchPage(const char* url) {
    if (ReplyBuffer == nullptr) return 0;
    InternetHandle internet(InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    InternetHandle page(InternetOpenUrlA(internet.get(), url, nullptr, 0, kInternetOpenUrlFlags, 0));
    if (!page) return 0;
    ReplyBuffer[0] = 0;
    DWORD count = 0;
    BOOL ok = InternetReadFile(page.get(), ReplyBuffer, static_cast<DWORD>(kReplyReadSize), &count);
    page.Close();
    internet.Close();
    if (count > kReplyReadSize) count = 0;
    ReplyBuffer[count] = 0;
    return ok ? 1 : 0;
}
