// The download window's procedure driven with real messages, in this process, from the same
// MANAGER template the loader carries.
#include "app/download_window.h"

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

TEST_F(DownloadWindowTest, ProgressRedrawsTheMeterIntoItsBitmap) {
    TotalBytes = 100;
    ReceivedBytes = 50;
    SendMessageA(hwnd_, WM_DOWNLOAD_PROGRESS, 1, 0);
    EXPECT_NE(MeterBitmap, nullptr);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message != WM_BEGIN_DOWNLOAD) DispatchMessageA(&m);  // no discovery here
    }
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendDlgItemMessageA(hwnd_, IDC_METER, STM_GETIMAGE, IMAGE_BITMAP, 0)),
              MeterBitmap);
    DestroyWindow(hwnd_);
    EXPECT_EQ(MeterBitmap, nullptr) << "the bitmap is deleted with the window";
}

TEST(DownloadWindowHelpers, StringsAndLayoutToggle) {
    AppInstance = GetModuleHandleA(nullptr);
    EXPECT_STREQ(LoadUiString(IDS_PREPARING), "Preparing to run installation...");
    EXPECT_STREQ(LoadUiString(99), "") << "a missing string id yields the empty text";
    HWND w = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    LONG before = GetWindowLongA(w, GWL_EXSTYLE);
    ToggleRtlLayout(w);
    EXPECT_EQ(GetWindowLongA(w, GWL_EXSTYLE), before ^ WS_EX_LAYOUTRTL);
    ToggleRtlLayout(w);
    EXPECT_EQ(GetWindowLongA(w, GWL_EXSTYLE), before);
    ToggleRtlLayout(nullptr);
    DestroyWindow(w);
}
