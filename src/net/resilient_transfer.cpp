// The resilient transfer, an operator's build option for large installers on today's lines:
// reads at line speed, a stall noticed, and a cut or stalled transfer resumed with a range
// request within a bound; the file that runs is still exactly what the server sent, whole.
#include "net/transfer.h"
#if LOADER_REPORT
#include "net/report.h"
#endif

#include <windows.h>
#include <wininet.h>
#include <process.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/loader_state.h"
#include "base/text.h"
#include "net/internet.h"
#include "net/range_request.h"
#include "res/resource_ids.h"

namespace {
// The most one read asks for: what a fast line brings in a moment.
constexpr DWORD kReadSize = 64 * 1024;
#ifndef LOADER_RECEIVE_TIMEOUT_MS
#define LOADER_RECEIVE_TIMEOUT_MS 30000
#endif
constexpr DWORD kReceiveTimeoutMs = LOADER_RECEIVE_TIMEOUT_MS;
constexpr DWORD kWatchPeriodMs = 100;
// The meter and the notice need no more: a message per read would flood the window's queue.
constexpr DWORD kProgressPeriodMs = 50;

enum class Attempt { kDone, kCut, kFailed };

// The body is read and written on a reader thread of the attempt, which the worker watches:
// WinInet's own receive time-out does not end a read of the body everywhere (not under Wine,
// nor in older WinInet versions). A read that brings nothing for kReceiveTimeoutMs is a stall:
// the worker leaves the reader behind and closes the request, which cancels the read where
// WinInet can. A left reader never touches the file again: before each write it must move its
// state from reading to writing, and the worker leaves it only by moving it from reading to
// left. The reader's block is freed by whichever of the two lets go of it last.
enum ReaderState : int { kReading, kWriting, kLeft, kFinished };

struct Transfer;
struct Reader {
    Transfer* t;
    HINTERNET request;
    HANDLE finished;  // set once the reader has ended the body, well or not
    int result;       // an Attempt, once finished
    std::atomic<int> state;
    std::atomic<DWORD> lastByteTick;
    std::atomic<int> holders;
    char buffer[kReadSize];
};

// What the first whole answer said of the file, and what has reached it since.
struct Transfer {
    HWND window;
    HANDLE file;
    DWORD have;         // bytes in the file
    DWORD total;        // the declared length of the whole file
    bool hasTotal;
    DWORD lastPost;     // GetTickCount of the last progress message
    char validator[128];  // the ETag, else the Last-Modified, of that answer; empty for none
};

bool TextHeader(HINTERNET page, DWORD what, char* out, DWORD cap) {
    DWORD size = cap - 1;
    out[0] = 0;
    if (!WinInet()->HttpQueryInfoA(page, what, out, &size, nullptr) || size >= cap) {
        out[0] = 0;
        return false;
    }
    out[size] = 0;
    return true;
}

void PostProgress(Transfer& t, bool always) {
    DWORD now = GetTickCount();
    if (!always && now - t.lastPost < kProgressPeriodMs) return;
    t.lastPost = now;
    PostMessageA(t.window, WM_DOWNLOAD_PROGRESS, 1, 0);
}

// The file starts again from its first byte: a whole answer replaces whatever was written, and
// the meter goes back with it. A weak ETag names an equivalent file, not the same bytes, so it
// may not vouch for a range (If-Range takes a strong one): the Last-Modified date serves then.
bool StartOver(Transfer& t, HINTERNET page) {
    t.have = 0;
    ReceivedBytes.store(0);
    PostProgress(t, true);
    t.hasTotal = DeclaredLength(page, &t.total);
    if (!TextHeader(page, HTTP_QUERY_ETAG, t.validator, sizeof t.validator) || IsWeakValidator(t.validator))
        TextHeader(page, HTTP_QUERY_LAST_MODIFIED, t.validator, sizeof t.validator);
    return SetFilePointer(t.file, 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(t.file);
}

void LetGo(Reader* r) {
    if (r->holders.fetch_sub(1) != 1) return;
    if (r->finished != nullptr) CloseHandle(r->finished);
    std::free(r);
}

Attempt ReadBody(Transfer& t, Reader* r);

unsigned __stdcall RunReader(void* argument) {
    Reader* r = static_cast<Reader*>(argument);
    r->result = static_cast<int>(ReadBody(*r->t, r));
    int reading = kReading;
    // Left behind meanwhile: the worker has gone on without this result.
    if (r->state.compare_exchange_strong(reading, kFinished)) SetEvent(r->finished);
    LetGo(r);
    return 0;
}

// How much the next read asks for. A synchronous read returns only once its buffer is full or
// the body ends, so a 64 KB read on a line of 2 KB/s would bring nothing for half a minute and
// be taken for a stall. So a read asks for what has already arrived, or for what the line
// brings in a quarter of the stall time-out at its pace so far in this attempt, whichever is
// more: a slow line that still delivers shows progress well within the time-out, and a fast one
// is read in large pieces (asking only for what has arrived would mean reads of a few KB, each
// a round of calls). A line that slows sharply in the middle of a large read is a stall, resumed.
// MulDiv keeps the product's 64 bits without the 64-bit division that the compiler would take
// from its runtime; it answers -1 where the quotient passes 2^31, which is more than a read.
DWORD NextReadSize(DWORD available, DWORD bytes, DWORD elapsedMs) {
    if (available == 0) return kReadSize;  // the end, which a read confirms
    int paced = elapsedMs == 0 ? 0 : MulDiv(static_cast<int>(bytes), kReceiveTimeoutMs / 4, static_cast<int>(elapsedMs));
    DWORD ask = paced < 0 ? kReadSize : static_cast<DWORD>(paced);
    if (ask < available) ask = available;
    return ask < kReadSize ? ask : kReadSize;
}

// The body of an accepted answer into the file, read by read, on the reader's thread.
Attempt ReadBody(Transfer& t, Reader* r) {
    const WinInetCalls* net = WinInet();
    const DWORD started = GetTickCount();
    DWORD bytes = 0;  // read in this attempt
    for (;;) {
        DWORD count = 0;
        DWORD ask = kReadSize;
        BOOL ok = TRUE;
        // Once this attempt has brought a whole read's worth, at a pace that brings the next
        // within a quarter of the stall time-out, the read returns soon by itself: asking first
        // what has arrived would cost a call per read and bring nothing. Before that (a first
        // burst of a few KB says nothing of the line), and on a slower line, it asks, and reads
        // what has arrived; the pace then counts the wait for it.
        if (bytes < kReadSize || NextReadSize(1, bytes, GetTickCount() - started) < kReadSize) {
            ok = net->InternetQueryDataAvailable(r->request, &ask, 0, 0);
            if (ok) ask = NextReadSize(ask, bytes, GetTickCount() - started);
        }
        if (ok) ok = net->InternetReadFile(r->request, r->buffer, ask, &count);
        bytes += count;
        int reading = kReading;
        if (!r->state.compare_exchange_strong(reading, kWriting)) return Attempt::kCut;  // left behind
        Attempt end = Attempt::kCut;
        bool more = false;
        DWORD written = 0;
        if (count > ask || (t.hasTotal && ok && count > t.total - t.have)) {
            end = Attempt::kFailed;  // more than asked for, or than declared
        } else if (!ok) {
            end = Attempt::kCut;  // a drop
        } else if (count == 0) {
            end = t.hasTotal && t.have < t.total ? Attempt::kCut : Attempt::kDone;
        } else if (!WriteFile(t.file, r->buffer, count, &written, nullptr) || written != count) {
            end = Attempt::kFailed;
        } else {
            more = true;
            t.have += count;
            ReceivedBytes.store(static_cast<std::int32_t>(t.have));
            r->lastByteTick.store(GetTickCount());
            PostProgress(t, false);
        }
        r->state.store(kReading);
        if (!more) return end;
    }
}

// Runs the reader of one accepted answer to its end, or until it stalls.
Attempt WatchReader(Transfer& t, HINTERNET request) {
    Reader* r = static_cast<Reader*>(std::calloc(1, sizeof(Reader)));
    if (r == nullptr) return Attempt::kFailed;
    r->t = &t;
    r->request = request;
    r->lastByteTick.store(GetTickCount());
    r->holders.store(2);
    r->finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = r->finished != nullptr
                        ? reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunReader, r, 0, nullptr))
                        : nullptr;
    if (thread == nullptr) {
        r->holders.store(1);
        LetGo(r);
        return Attempt::kFailed;
    }
    CloseHandle(thread);
    Attempt result = Attempt::kCut;
    for (;;) {
        if (WaitForSingleObject(r->finished, kWatchPeriodMs) == WAIT_OBJECT_0) {
            result = static_cast<Attempt>(r->result);
            break;
        }
        int reading = kReading;
        if (GetTickCount() - r->lastByteTick.load() >= kReceiveTimeoutMs &&
            r->state.compare_exchange_strong(reading, kLeft))
            break;  // a stall: the reader is left behind
    }
    LetGo(r);
    return result;
}

// One request: the whole file, or (once a part is in the file and the first answer named both
// a length and a validator) the rest of it.
Attempt RunAttempt(Transfer& t, HINTERNET internet) {
    const WinInetCalls* net = WinInet();
    char headers[200];
    bool ranged = t.have > 0 && t.hasTotal && t.validator[0] != 0 &&
                  BuildRangeHeaders(t.have, t.validator, headers, sizeof headers);
    InternetHandle page(net->InternetOpenUrlA(internet, InstallerUrl, ranged ? headers : nullptr,
                                              ranged ? static_cast<DWORD>(-1) : 0, kInternetOpenUrlFlags, 0));
    if (!page) return Attempt::kCut;
    if (!AnswerKeptHttps(InstallerUrl, page.get())) return Attempt::kFailed;
    // An answer without a status line (a connection that dropped before it) is a cut too.
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!net->HttpQueryInfoA(page.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
        status == 0)
        return Attempt::kCut;
    if (ranged && status == 206) {
        // Appended only where it continues this file: from its end, and of the same total.
        char range[64];
        std::uint32_t first = 0;
        std::uint32_t total = 0;
        if (!TextHeader(page.get(), HTTP_QUERY_CONTENT_RANGE, range, sizeof range) ||
            !ParseContentRange(range, &first, &total) || first != t.have || total != t.total)
            return Attempt::kFailed;
    } else if (status < 200 || status > 299 || (ranged && status != 200) || !StartOver(t, page.get())) {
#if LOADER_REPORT
        Facts[kHttp] = status;
#endif
        return Attempt::kFailed;
    }
    // Closed after the reader's end or stall: a read still blocked on it is cancelled.
    return WatchReader(t, page.get());
}

Attempt RunAttempts(Transfer& t, HINTERNET internet) {
    RetryState retry = {};
    for (;;) {
#if LOADER_REPORT
        ++Facts[kAttempts];
#endif
        Attempt result = RunAttempt(t, internet);
        if (result != Attempt::kCut) return result;
        std::uint32_t pause = 0;
        switch (NextAfterCut(retry, t.have, t.hasTotal, t.total, &pause)) {
        case AfterCut::kFinish: return Attempt::kDone;
        case AfterCut::kGiveUp: return Attempt::kCut;
        case AfterCut::kRetry: Sleep(pause);
        }
    }
}
}  // namespace

void PrepareTransfer() {}

int TransferInstaller(HWND window, HANDLE file) {
    const WinInetCalls* net = WinInet();
    if (net == nullptr) return 0;
    InternetHandle internet(net->InternetOpenA(kInternetAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!internet) return 0;
    if (!AppendText(InstallerUrl, kUrlBufferSize, InstallerFileName)) return 0;
    Transfer t;
    std::memset(&t, 0, sizeof t);
    t.window = window;
    t.file = file;
    t.lastPost = GetTickCount() - kProgressPeriodMs;
    Attempt result = RunAttempts(t, internet.get());
    PostProgress(t, true);  // the last count, once at the end
    return result == Attempt::kDone ? 1 : 0;
}
