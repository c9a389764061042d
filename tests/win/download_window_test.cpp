// The download window's procedure driven with real messages, in this process, from the same
// MANAGER template the loader carries.
#include "app/download_window.h"

#include "base/languages.h"
#include "base/loader_state.h"
#include "ui/notice_text.h"
#include "ui/progress_meter.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Text(HWND h) {
    char buffer[512];
    GetWindowTextA(h, buffer, sizeof buffer);
    return buffer;
}

class DownloadWindowTest : public testing::Test {
protected:
    void SetUp() override {
        AppInstance = GetModuleHandleA(nullptr);
        SelectedLanguageIndex = -1;
        NoticeTimerId = 0;
        hwnd_ = CreateDialogParamA(AppInstance, "MANAGER", nullptr, DownloadWindowProc, 0);
        ASSERT_NE(hwnd_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
        SelectedLanguageIndex = -1;
    }
    HWND hwnd_ = nullptr;
};
}  // namespace

TEST_F(DownloadWindowTest, OpensWithTitleStatusAndAPostedBeginDownload) {
    EXPECT_EQ(Text(hwnd_), "Downloading...");
    EXPECT_EQ(Text(GetDlgItem(hwnd_, IDC_NOTICE)), "Initializing...");
    EXPECT_EQ(NoticeBox, GetDlgItem(hwnd_, IDC_NOTICE));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd_, IDOK)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd_, IDCANCEL)));
    EXPECT_EQ(SendDlgItemMessageA(hwnd_, IDC_METER, STM_GETIMAGE, IMAGE_BITMAP, 0), 0) << "no meter image yet";
    MSG m;
    EXPECT_TRUE(PeekMessageA(&m, hwnd_, WM_BEGIN_DOWNLOAD, WM_BEGIN_DOWNLOAD, PM_NOREMOVE));
    EXPECT_EQ(GetWindowLongA(hwnd_, GWL_EXSTYLE) & WS_EX_LAYOUTRTL, 0);
}

TEST_F(DownloadWindowTest, CloseRequestsAndStrayTimersChangeNothing) {
    SendMessageA(hwnd_, WM_COMMAND, IDCANCEL, 0);
    SendMessageA(hwnd_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindowVisible(hwnd_)) << "IDCANCEL does not end the window";
    EXPECT_EQ(SendMessageA(hwnd_, WM_SYSCOMMAND, SC_MAXIMIZE, 0), 0);
    EXPECT_FALSE(IsZoomed(hwnd_));
    SendMessageA(hwnd_, WM_TIMER, NOTICE_TIMER_ID, 0);
    SendMessageA(hwnd_, WM_TIMER, 77, 0);
    EXPECT_EQ(Text(NoticeBox), "Initializing...") << "no tick acts before the notice text exists";
}

TEST_F(DownloadWindowTest, FailedDownloadShowsMessage5WithFocusedOk) {
    SendMessageA(hwnd_, WM_DOWNLOAD_DONE, 0, 0);
    EXPECT_EQ(Text(NoticeBox), "Initializing...") << "no download is running: a stray DM_REPOSITION";
    DownloadWindowPhase = WindowPhase::kDownloading;
    SendMessageA(hwnd_, WM_DOWNLOAD_DONE, 0x10000, 0);  // low 16 bits are not 1: a failure
    EXPECT_EQ(Text(NoticeBox),
              "A network error occured while downloading software.\r\nPlease try again later...");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(hwnd_, IDOK)));
    EXPECT_EQ(GetFocus(), GetDlgItem(hwnd_, IDOK));
    // Ticks posted from outside after the final message, with notice text at hand: no timer is
    // set any more (0 is "none"), so neither rotation nor the installer's wait may act.
    static char text[] = "notice line\r\n";
    NoticeStart = NoticeCursor = text;
    for (WPARAM id : {WPARAM{0}, WPARAM{NOTICE_TIMER_ID}, WPARAM{HANDOVER_TIMER_ID}}) SendMessageA(hwnd_, WM_TIMER, id, 0);
    NoticeStart = NoticeCursor = nullptr;
    EXPECT_EQ(Text(NoticeBox),
              "A network error occured while downloading software.\r\nPlease try again later...");
    EXPECT_TRUE(IsWindow(hwnd_));
}

TEST(DownloadWindowLanguage, StatusAndFinalMessageReadInTheLanguageChosen) {
    // Korean chosen: a script that an English system's code page cannot show, read back wide.
    AppInstance = GetModuleHandleA(nullptr);
    SelectedLanguageIndex = 7;
    HWND hwnd = CreateDialogParamW(AppInstance, L"MANAGER", nullptr, DownloadWindowProc, 0);
    ASSERT_NE(hwnd, nullptr);
    wchar_t text[256];
    GetWindowTextW(NoticeBox, text, 256);
    EXPECT_STREQ(text, L"\ucd08\uae30\ud654\ud558\ub294 \uc911...");
    GetWindowTextW(hwnd, text, 256);
    EXPECT_STREQ(text, L"Downloading...") << "the title stays English: other copies find the window by it";
    DownloadWindowPhase = WindowPhase::kDownloading;
    SendMessageA(hwnd, WM_DOWNLOAD_DONE, 0, 0);
    GetWindowTextW(NoticeBox, text, 256);
    EXPECT_STREQ(text, L"\uc18c\ud504\ud2b8\uc6e8\uc5b4\ub97c \ub2e4\uc6b4\ub85c\ub4dc\ud558\ub294 \uc911 "
                       L"\ub124\ud2b8\uc6cc\ud06c \uc624\ub958\uac00\r\n\ubc1c\uc0dd\ud588\uc2b5\ub2c8\ub2e4. "
                       L"\ub098\uc911\uc5d0 \ub2e4\uc2dc \uc2dc\ub3c4\ud558\uc2ed\uc2dc\uc624...");
    DestroyWindow(hwnd);
    SelectedLanguageIndex = -1;
}

// The meter's pixel at (x, y).
COLORREF MeterPixel(int x, int y) {
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, MeterBitmap);
    COLORREF c = GetPixel(mem, x, y);
    SelectObject(mem, old);
    DeleteDC(mem);
    return c;
}

TEST_F(DownloadWindowTest, ProgressRedrawsAndNamesTheMeterOnlyWhileTheDownloadRuns) {
    HWND meter = GetDlgItem(hwnd_, IDC_METER);
    TotalBytes = 100;
    ReceivedBytes = 50;
    SendMessageA(hwnd_, WM_DOWNLOAD_PROGRESS, 1, 0);
    EXPECT_EQ(MeterBitmap, nullptr) << "no download runs yet: another program's message";
    EXPECT_EQ(Text(meter), "");
    DownloadWindowPhase = WindowPhase::kDownloading;
    SendMessageA(hwnd_, WM_DOWNLOAD_PROGRESS, 1, 0);
    EXPECT_NE(MeterBitmap, nullptr);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message != WM_BEGIN_DOWNLOAD) DispatchMessageA(&m);  // no discovery here
    }
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendDlgItemMessageA(hwnd_, IDC_METER, STM_GETIMAGE, IMAGE_BITMAP, 0)),
              MeterBitmap);
    EXPECT_EQ(Text(meter), "50%");
    // High contrast chosen, then the system's settings change: read again (off under Wine), the
    // segments are navy again at once.
    RecolourProgressMeter(hwnd_, true);
    EXPECT_EQ(MeterPixel(2, 5), GetSysColor(COLOR_HIGHLIGHT));
    for (UINT msg : {UINT{WM_SYSCOLORCHANGE}, UINT{WM_SETTINGCHANGE}}) {
        RecolourProgressMeter(hwnd_, true);
        SendMessageA(hwnd_, msg, 0, 0);
        EXPECT_EQ(MeterPixel(2, 5), COLORREF{0x800000}) << "navy, message " << msg;
    }
    // The download fails: the final message takes the percentage away, and a progress message
    // that comes after it brings none back.
    SendMessageA(hwnd_, WM_DOWNLOAD_DONE, 0, 0);
    EXPECT_EQ(Text(meter), "");
    ReceivedBytes = 70;
    SendMessageA(hwnd_, WM_DOWNLOAD_PROGRESS, 1, 0);
    EXPECT_EQ(Text(meter), "");
    DestroyWindow(hwnd_);
    EXPECT_EQ(MeterBitmap, nullptr) << "the bitmap is deleted with the window";
}

TEST(DownloadWindowHelpers, StringsAndLayoutToggle) {
    AppInstance = GetModuleHandleA(nullptr);
    // The language chosen picks the table, whatever the thread's; English where none was chosen
    // or the chosen table lacks the string (the title), and nothing for a missing id.
    const struct {
        int language;
        UINT id;
        const wchar_t* text;
    } cases[] = {
        {-1, IDS_PREPARING, L"Preparing to run installation..."},
        {kEnglishIndex, IDS_START_FAILED, L"Error starting casino installation. Please contact\r\nus if this error persists."},
        {6, IDS_PREPARING, L"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u306e\u6e96\u5099\u3092\u3057\u3066\u3044\u307e\u3059..."},
        {1, IDS_INITIALIZING, L"Initialisierung..."},
        {6, IDS_TITLE, L"Downloading..."},
        {1, IDS_PERCENT_FORMAT, L"%d\u00a0%%"},  // a no-break space before the sign in German
        {6, IDS_PERCENT_FORMAT, L"%d%%"},
        {6, 99, L""},
    };
    for (const auto& c : cases) {
        SelectedLanguageIndex = c.language;
        EXPECT_STREQ(LoadUiString(c.id), c.text) << "language " << c.language << ", string " << c.id;
    }
    SelectedLanguageIndex = -1;
    HWND w = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    LONG before = GetWindowLongA(w, GWL_EXSTYLE);
    ToggleRtlLayout(w);
    EXPECT_EQ(GetWindowLongA(w, GWL_EXSTYLE), before ^ WS_EX_LAYOUTRTL);
    ToggleRtlLayout(w);
    EXPECT_EQ(GetWindowLongA(w, GWL_EXSTYLE), before);
    ToggleRtlLayout(nullptr);
    DestroyWindow(w);
}
