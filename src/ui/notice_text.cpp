// Notice text: the page's first line announces the installer size, the rest rotates line by
// line in the notice box every 500 ms while the installer downloads.
#include "ui/notice_text.h"

#include "ui/notice_box.h"
#include "base/loader_state.h"
#include "net/download_worker.h"
#include "net/page_fetch.h"
#include "ui/notice_format.h"

#include <cstdlib>
#include <cstring>

char* NoticeStart;
char* NoticeCursor;
UINT_PTR NoticeTimerId;

namespace {
// A new buffer holding text with its placeholders expanded, or nullptr.
char* ExpandPlaceholders(const char* text) {
    char* buffer = static_cast<char*>(std::malloc(kNoticeTextSize));
    if (buffer == nullptr) return nullptr;
    ExpandNoticePlaceholders(text, CasinoName, CasinoAddress, buffer, kNoticeTextSize);
    return buffer;
}

bool PrepareNotice() {
    if (!FetchPage(WorkBuffer) || ReplyBuffer == nullptr) return false;
    char* lf = std::strchr(ReplyBuffer, '\n');
    if (lf == nullptr) return false;
    *lf = 0;
    ReleaseNoticeText();
    NoticeStart = ExpandPlaceholders(lf + 1);
    if (NoticeStart == nullptr) return false;
    NoticeCursor = NoticeStart;
    TotalBytes = ParseSizeLine(ReplyBuffer);
    return TotalBytes > 0;
}
}  // namespace

bool LoadNoticeText(HWND window) {
    if (!PrepareNotice()) return false;
    bool started = FixInstallerPath() && StartDownloadWorker(window);
    NoticeTimerId = SetTimer(window, NOTICE_TIMER_ID, NOTICE_TIMER_PERIOD_MS, nullptr);
    // Without a worker no progress and no end would ever come: report it as the failed
    // download it is, whose end also stops the timer.
    if (!started) PostMessageA(window, WM_DOWNLOAD_DONE, 0, 0);
    return true;
}

void RotateNotice(HWND window, UINT timerId) {
    if (NoticeTimerId == 0 || timerId != NoticeTimerId || NoticeStart == nullptr || NoticeCursor == nullptr) return;
    char* view = static_cast<char*>(std::calloc(kNoticeTextSize, 1));
    if (view == nullptr) return;
    ComposeNoticeView(NoticeStart, NoticeCursor, view, kNoticeTextSize);
    SetWindowTextA(NoticeBox, view);
    std::free(view);
    NoticeCursor = const_cast<char*>(AdvanceNoticeCursor(NoticeStart, NoticeCursor));
    ParkFocus(window);
}

void StopNoticeRotation(HWND window) {
    if (NoticeTimerId != 0) KillTimer(window, NoticeTimerId);
    NoticeTimerId = 0;
}

void ReleaseNoticeText() {
    std::free(NoticeStart);
    NoticeStart = nullptr;
    NoticeCursor = nullptr;
}
