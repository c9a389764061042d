// Progress meter. The background is painted when the bitmap is made, and again only when the
// count goes back (a download that starts over from its first byte); otherwise segments only
// grow, so each draw adds segments and repaints the two frames over them.
#include "ui/progress_meter.h"

#include "base/loader_state.h"
#include "res/resource_ids.h"
#include "ui/meter_geometry.h"

HBITMAP MeterBitmap;

namespace {
constexpr COLORREF kSegmentColour = 0x800000;
// The segments in MeterBitmap.
int DrawnSegments;

// A pen or brush, deleted when it leaves scope: after the memory DC that had it selected.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ h) : h_(h) {}
    ~GdiObject() { DeleteObject(h_); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    HGDIOBJ get() const { return h_; }

private:
    HGDIOBJ h_;
};

void PaintBackground(HDC mem, int cx, int cy) {
    GdiObject background(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
    SelectObject(mem, GetStockObject(NULL_PEN));
    SelectObject(mem, background.get());
    Rectangle(mem, 0, 1, cx - 2, cy);
    SelectObject(mem, GetStockObject(NULL_BRUSH));
    DrawnSegments = 0;
}

void CreateMeterBitmap(HDC dc, HDC mem, int cx, int cy, HWND meter) {
    MeterBitmap = CreateCompatibleBitmap(dc, cx, cy);
    if (MeterBitmap == nullptr) return;
    SelectObject(mem, MeterBitmap);
    PaintBackground(mem, cx, cy);
    PostMessageA(meter, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(MeterBitmap));
}
}  // namespace

void DrawProgressMeter(HWND meter, int cx, int cy) {
    HDC dc = GetDC(meter);
    HDC mem = CreateCompatibleDC(dc);
    if (MeterBitmap == nullptr) CreateMeterBitmap(dc, mem, cx, cy, meter);
    ReleaseDC(meter, dc);
    if (MeterBitmap == nullptr) {
        DeleteDC(mem);
        return;
    }
    SelectObject(mem, MeterBitmap);
    int segW = MeterSegmentWidth(cx);
    int count = MeterSegmentCount(ReceivedBytes.load(), TotalBytes, cx);
    if (count < DrawnSegments) PaintBackground(mem, cx, cy);
    DrawnSegments = count;
    GdiObject segments(CreateSolidBrush(kSegmentColour));
    SelectObject(mem, segments.get());
    SelectObject(mem, GetStockObject(NULL_PEN));
    for (int k = 0, left = 2; k < count; ++k, left += segW) Rectangle(mem, left, 2, left + segW, cy - 1);
    SelectObject(mem, GetStockObject(BLACK_PEN));
    SelectObject(mem, GetStockObject(NULL_BRUSH));
    Rectangle(mem, 0, 0, cx - 2, cy);
    GdiObject inner(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE)));
    SelectObject(mem, inner.get());
    Rectangle(mem, 1, 1, cx - 2, cy - 1);
    // The DC goes first, so that neither object is deleted while selected into it.
    DeleteDC(mem);
    InvalidateRect(meter, nullptr, FALSE);
}

void RefreshProgressMeter(HWND window) {
    HWND meter = GetDlgItem(window, IDC_METER);
    RECT client;
    GetClientRect(meter, &client);
    DrawProgressMeter(meter, client.right, client.bottom);
}

void ReleaseProgressMeter() {
    if (MeterBitmap != nullptr) DeleteObject(MeterBitmap);
    MeterBitmap = nullptr;
    DrawnSegments = 0;
}
