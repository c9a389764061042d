// Notice text: the page's first line announces the installer size, the rest rotates line by
// line in the notice box every 500 ms while the installer downloads. Each view is shown as wide
// text, decoded from the chosen language's code page, so that it reads right on any system.
#include "ui/notice_text.h"

#include "ui/notice_box.h"
#include "base/languages.h"
#include "base/loader_state.h"
#include "net/download_worker.h"
#include "net/page_fetch.h"
#include "ui/notice_format.h"

#include <cstring>

char* NoticeStart;
char* NoticeCursor;
UINT_PTR NoticeTimerId;

namespace {
// The code page of the notice's bytes: the chosen language's, whatever the system's.
unsigned NoticeCodePage;
// The notice box's own font, where it needs one; deleted with the window.
HFONT NoticeFont;

bool PrepareNotice() {
    if (!FetchPage(WorkBuffer) || ReplyBuffer == nullptr) return false;
    char* lf = std::strchr(ReplyBuffer, '\n');
    if (lf == nullptr) return false;
    *lf = 0;
    // The text stays where the fetch put it, in ReplyBuffer: no page is fetched after it.
    NoticeStart = lf + 1;
    NoticeCursor = NoticeStart;
    TotalBytes = ParseSizeLine(ReplyBuffer);
    return TotalBytes > 0;
}
}  // namespace

// The dialog's font shows the system's code page only. Where the chosen language (its statuses,
// final messages and notice), or a name from the stamp, is in another one, the box takes the
// same font made for the language's character set: the font mapper then picks a face that has
// its script (and the Latin letters of the names).
void ChooseNoticeFont() {
    NoticeCodePage = Languages[SelectedLanguageIndex >= 0 ? SelectedLanguageIndex : kEnglishIndex].codePage;
    unsigned system = GetACP();
    // Each name's code page: 0 (the system's) or the stamp's.
    auto foreign = [system](unsigned codePage) { return codePage != 0 && codePage != system; };
    if (NoticeCodePage == system && !foreign(CasinoNameCodePage) && !foreign(CasinoAddressCodePage)) return;
    LOGFONTA font;
    CHARSETINFO charset;
    HGDIOBJ dialogFont = reinterpret_cast<HGDIOBJ>(SendMessageA(NoticeBox, WM_GETFONT, 0, 0));
    if (GetObjectA(dialogFont, sizeof font, &font) != sizeof font ||
        !TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(NoticeCodePage)), &charset,
                              TCI_SRCCODEPAGE))
        return;
    font.lfCharSet = static_cast<BYTE>(charset.ciCharset);
    font.lfFaceName[0] = 0;
    NoticeFont = CreateFontIndirectA(&font);
    if (NoticeFont != nullptr) SendMessageA(NoticeBox, WM_SETFONT, reinterpret_cast<WPARAM>(NoticeFont), FALSE);
}

namespace {

std::size_t DecodeCodePage(unsigned codePage, const char* text, std::size_t n, wchar_t* out, std::size_t cap) {
    return static_cast<std::size_t>(
        MultiByteToWideChar(codePage, 0, text, static_cast<int>(n), out, static_cast<int>(cap)));
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
    if (NoticeTimerId == 0 || timerId != NoticeTimerId || NoticeStart == nullptr) return;
    // The view's bytes, and the wide text they are shown as: kept for the program's life, as
    // the view is composed twice a second.
    static char view[kNoticeTextSize];
    static wchar_t shown[kNoticeTextSize];
    ComposeNoticeView(NoticeStart, NoticeCursor, view, kNoticeTextSize);
    ExpandNoticeText(view, NoticeCodePage, {CasinoName, CasinoNameCodePage}, {CasinoAddress, CasinoAddressCodePage},
                     DecodeCodePage, shown, kNoticeTextSize);
    SetWindowTextW(NoticeBox, shown);
    NoticeCursor = const_cast<char*>(AdvanceNoticeCursor(NoticeStart, NoticeCursor));
    ParkFocus(window);
}

void StopNoticeRotation(HWND window) {
    if (NoticeTimerId != 0) KillTimer(window, NoticeTimerId);
    NoticeTimerId = 0;
}

void ReleaseNoticeText() {
    if (NoticeFont != nullptr) DeleteObject(NoticeFont);
    NoticeFont = nullptr;
    NoticeStart = nullptr;
    NoticeCursor = nullptr;
}
