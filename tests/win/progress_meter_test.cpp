// The meter's pixels, read back with GetDIBits from a 312 x 26 client area, in today's colours
// and in high contrast's; and its name, the percentage that a screen reader reads.
#include "ui/progress_meter.h"

#include "base/loader_state.h"
#include "res/resource_ids.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
constexpr int kCx = 312;
constexpr int kCy = 26;

class MeterWindow {
public:
    MeterWindow() {
        parent_ = CreateWindowA("STATIC", "meter parent", WS_POPUP, 0, 0, 400, 100, nullptr, nullptr, nullptr, nullptr);
        meter_ = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 10, 10, kCx, kCy, parent_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_METER)), nullptr, nullptr);
    }
    ~MeterWindow() {
        DestroyWindow(parent_);
        ReleaseProgressMeter();
    }
    HWND parent() const { return parent_; }
    HWND meter() const { return meter_; }

private:
    HWND parent_;
    HWND meter_;
};

// Pixels of MeterBitmap as 0xRRGGBB, row 0 at the top.
std::vector<unsigned> ReadPixels() {
    std::vector<unsigned> pixels(kCx * kCy);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kCx;
    info.bmiHeader.biHeight = -kCy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    int rows = GetDIBits(dc, MeterBitmap, 0, kCy, pixels.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(rows, kCy);
    for (unsigned& p : pixels) p &= 0xFFFFFF;
    return pixels;
}

unsigned Rgb(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

std::wstring Name(HWND h) {
    wchar_t text[64];
    GetWindowTextW(h, text, 64);
    return text;
}

// Counts the name changes that accessibility clients are told of; they arrive through the
// message queue, so each count pumps it first.
class NameChangeCounter {
public:
    NameChangeCounter() {
        count_ = 0;
        hook_ = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, OnEvent, 0, 0,
                                WINEVENT_OUTOFCONTEXT);
    }
    ~NameChangeCounter() { UnhookWinEvent(hook_); }
    int count() {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
        return count_;
    }

private:
    static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD, HWND h, LONG object, LONG, DWORD, DWORD) {
        if (object == OBJID_WINDOW && GetDlgCtrlID(h) == IDC_METER) ++count_;
    }
    static int count_;
    HWINEVENTHOOK hook_;
};
int NameChangeCounter::count_;

constexpr unsigned kNavy = 0x000080;
constexpr unsigned kBlack = 0x000000;
}  // namespace

TEST(ProgressMeterTest, SegmentsAndFramesLandOnTheirColumnsAndTheNameTellsThePercentage) {
    // Wine's SPI_GETHIGHCONTRAST always answers "off": high contrast is chosen for the meter as a
    // change of the system's settings would choose it, after the bitmap is made.
    for (bool highContrast : {false, true}) {
        SCOPED_TRACE(highContrast ? "high contrast" : "today's colours");
        MeterWindow w;
        NameChangeCounter names;
        const unsigned face = Rgb(GetSysColor(COLOR_BTNFACE));
        const unsigned segment = highContrast ? Rgb(GetSysColor(COLOR_HIGHLIGHT)) : kNavy;
        if (highContrast) ASSERT_NE(segment, kNavy) << "the highlight colour must differ from navy to tell";
        TotalBytes = 2100;
        ReceivedBytes = 0;
        RefreshProgressMeter(w.parent());
        ASSERT_NE(MeterBitmap, nullptr);
        if (highContrast) RecolourProgressMeter(w.parent(), true);
        EXPECT_EQ(Name(w.meter()), L"0%");
        EXPECT_EQ(names.count(), 1);
        EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageA(w.meter(), STM_GETIMAGE, IMAGE_BITMAP, 0)), MeterBitmap)
            << "naming the meter leaves its picture";
        std::vector<unsigned> px = ReadPixels();
        auto at = [&](int x, int y) { return px[y * kCx + x]; };
        for (int x = 0; x < kCx; ++x)
            for (int y = 0; y < kCy; ++y) EXPECT_NE(at(x, y), segment) << "no segment at 0 bytes, x=" << x << " y=" << y;
        EXPECT_EQ(at(150, 12), face) << "background";
        EXPECT_EQ(at(0, 12), kBlack) << "outer frame left";
        EXPECT_EQ(at(150, 0), kBlack) << "outer frame top";
        EXPECT_EQ(at(150, kCy - 1), kBlack) << "outer frame bottom";
        EXPECT_EQ(at(kCx - 3, 0), kBlack) << "outer frame right edge on cx - 3";
        EXPECT_EQ(at(kCx - 3, 12), face) << "inner frame right edge on cx - 3 too";

        ReceivedBytes = 1000;  // 10 segments
        RefreshProgressMeter(w.parent());
        ReceivedBytes = 1004;  // still 47 %: the name stays, and no change is told
        RefreshProgressMeter(w.parent());
        EXPECT_EQ(Name(w.meter()), L"47%");
        EXPECT_EQ(names.count(), 2);
        px = ReadPixels();
        for (int k = 0; k < 10; ++k) {
            int left = 2 + 15 * k;
            EXPECT_EQ(at(left, 12), segment) << "segment " << k << " starts at x=" << left;
            EXPECT_EQ(at(left + 13, 12), segment) << "segment " << k << " ends at x=" << left + 13;
            EXPECT_EQ(at(left + 14, 12), face) << "one-column gap after segment " << k;
            EXPECT_EQ(at(left, 2), segment);
            EXPECT_EQ(at(left, kCy - 3), segment);
            EXPECT_EQ(at(left, 1), face) << "inner frame above the segments";
            EXPECT_EQ(at(left, kCy - 2), face) << "inner frame below the segments";
        }
        EXPECT_EQ(at(2 + 15 * 10, 12), face) << "the eleventh segment is not drawn yet";

        ReceivedBytes = 2100;  // complete: 21 segments, the last cut at the bitmap's edge
        RefreshProgressMeter(w.parent());
        EXPECT_EQ(Name(w.meter()), L"100%");
        px = ReadPixels();
        EXPECT_EQ(at(287, 12), segment);
        EXPECT_EQ(at(300, 12), segment) << "twentieth segment ends at x=300";
        EXPECT_EQ(at(302, 12), segment) << "twenty-first segment starts at x=302";
        EXPECT_EQ(at(kCx - 3, 12), face) << "the frames are drawn over the twenty-first segment";
        EXPECT_EQ(at(kCx - 2, 12), segment) << "the twenty-first segment runs on past the frame to the edge";
        EXPECT_EQ(at(kCx - 1, 12), segment);

        ReceivedBytes = 300;  // a download that started over: the meter goes back to 3 segments
        RefreshProgressMeter(w.parent());
        EXPECT_EQ(Name(w.meter()), L"14%");
        px = ReadPixels();
        EXPECT_EQ(at(2 + 15 * 2, 12), segment) << "the third segment stays";
        EXPECT_EQ(at(2 + 15 * 3, 12), face) << "the fourth segment is gone";
        EXPECT_EQ(at(300, 12), face) << "the twentieth segment is gone";
        EXPECT_EQ(at(0, 12), kBlack) << "the frame is drawn again";

        // The settings change back: the whole meter is repainted in the other colours at once.
        RecolourProgressMeter(w.parent(), !highContrast);
        px = ReadPixels();
        const unsigned other = highContrast ? kNavy : Rgb(GetSysColor(COLOR_HIGHLIGHT));
        EXPECT_EQ(at(2, 12), other);
        EXPECT_EQ(at(2 + 15 * 2, 12), other);
        EXPECT_EQ(at(2 + 15 * 3, 12), face);
        EXPECT_EQ(at(0, 12), kBlack);

        ClearProgressMeterName(w.parent());
        EXPECT_EQ(Name(w.meter()), L"");
        EXPECT_EQ(names.count(), 5) << "0, 47, 100, 14 and none";
        EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageA(w.meter(), STM_GETIMAGE, IMAGE_BITMAP, 0)), MeterBitmap);
    }
}

TEST(ProgressMeterTest, OversizedCountsDrawAFullMeterWithoutWrapping) {
    MeterWindow w;
    TotalBytes = 1;
    ReceivedBytes = 0x7FFFFFFF;
    RefreshProgressMeter(w.parent());
    std::vector<unsigned> px = ReadPixels();
    EXPECT_EQ(px[12 * kCx + 2], kNavy);
    EXPECT_EQ(px[12 * kCx + 300], kNavy);
    EXPECT_EQ(px[0], kBlack);
    EXPECT_EQ(Name(w.meter()), L"") << "more than the announced size arrived: no percentage holds";
}
