// Reports, each a GET on a thread of its own: WinInet's calls block, and under Wine no time-out
// or close from another thread ends them, so the program never waits on one; at its end it
// gives them 2 s, then ends, and a report still under way ends with it. An https report URL
// stays https: no redirect is followed.
#include "net/report.h"

#include <windows.h>

#include <process.h>
#include <wininet.h>

#include "base/loader_state.h"
#include "base/system_library.h"
#include "base/text.h"
#include "net/builtin_config.h"
#include "net/internet.h"
#include "net/report_fields.h"
#include "net/scrambler.h"
#include "stamp/stamp_reader.h"

std::uint32_t Facts[kFactCount];

namespace {
constexpr DWORD kReportBudgetMs = 2000;
constexpr int kMostReports = 2;
// The query's fields are short and bounded; the URL holds at most 2047 characters.
constexpr std::size_t kReportUrlSize = kUrlBufferSize + 512;

char Urls[kMostReports][kReportUrlSize];
HANDLE Threads[kMostReports];
int Sent;
bool Ended;

unsigned __stdcall Get(void* url) {
    const WinInetCalls* net = WinInet();
    InternetHandle internet(net->InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    InternetHandle answer(net->InternetOpenUrlA(internet.get(), static_cast<const char*>(url), nullptr, 0,
                                                kInternetOpenUrlFlags | INTERNET_FLAG_NO_AUTO_REDIRECT |
                                                    INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI,
                                                0));
    return 0;
}

void Send(const char* event, const char* outcome, bool last) {
    if (Ended || Sent == kMostReports) return;
    Ended = last;
    if (WinInet() == nullptr) return;  // loaded here, on the UI thread, before any report thread
    char url[kUrlBufferSize];
    CopyText(url, sizeof url, ReportUrl);
    UnscrambleInPlace(url);
    // Read again, without storing anything: the cancelled report comes before the download
    // window has read the stamp.
    char tag[kStampTagBufferSize];
    ReadDistributionStamp(tag, nullptr);
    // GetVersion's low word: major and minor; its high word: the build, on NT.
    DWORD version = GetVersion();
    BOOL wow64 = FALSE;
    BOOL(WINAPI * isWow64)(HANDLE, PBOOL);
    *reinterpret_cast<void**>(&isWow64) = KernelFunction("IsWow64Process");  // not on Windows 2000
    // GetCurrentProcess() is this constant, the pseudo-handle of the calling process.
    if (isWow64 != nullptr && !isWow64(reinterpret_cast<HANDLE>(-1), &wow64)) wow64 = FALSE;
    ReportFields f{event, outcome, tag, LanguageCode, {version & 0xFF, (version >> 8) & 0xFF, version >> 16 & 0x7FFF},
                   wow64 != FALSE,
#if LOADER_REPORT_RESILIENT
                   true,
#else
                   false,
#endif
                   static_cast<std::uint32_t>(ReceivedBytes.load()), static_cast<std::uint32_t>(TotalBytes), Facts};
    char* slot = Urls[Sent];
    if (!BuildReportUrl(url, f, slot, kReportUrlSize)) return;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Get, slot, 0, nullptr));
    if (thread != nullptr) Threads[Sent++] = thread;
}
}  // namespace

void ReportChosen() { Send("chosen", nullptr, false); }

void ReportCancelled() { Send("cancelled", nullptr, true); }

void ReportEnd(unsigned message) {
    char outcome[] = "message-0";
    outcome[8] = static_cast<char>('0' + message);
    Send("end", message == 0 ? "installer-started" : outcome, true);
}

void Clock(Fact which) { Facts[which] = GetTickCount() - Facts[which]; }

void NoteError() { Facts[kError] = GetLastError(); }

void FinishReports() {
    if (Sent > 0) WaitForMultipleObjects(static_cast<DWORD>(Sent), Threads, TRUE, kReportBudgetMs);
}
