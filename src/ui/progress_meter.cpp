// Progress meter. The background is painted when the bitmap is made, and again only when the
// count goes back (a download that starts over from its first byte); otherwise segments only
// grow, so each draw adds segments and repaints the two frames over them.
//
// The meter's name is its window text, which is what a screen reader reads from a static
// control. A bitmap static takes a WM_SETTEXT as the name of a bitmap resource to show instead
// of MeterBitmap, so the text is stored by the default window procedure, past the control's own,
// and the name change is announced to accessibility clients by the meter itself.
#include "ui/progress_meter.h"

#include "base/loader_state.h"
#include "res/resource_ids.h"
#include "ui/meter_geometry.h"
#include "ui/notice_box.h"

HBITMAP MeterBitmap;

namespace {
constexpr COLORREF kSegmentColour = 0x800000;
// Whether the segments take the system's highlight colour: high contrast was on when the bitmap
// was made or when the system's colours or settings last changed.
bool HighlightSegments;
// The segments in MeterBitmap.
int DrawnSegments;
// The percentage that the meter's name holds, plus one; 0 while it holds none.
int NamedPercentPlusOne;

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

// Names meter with percent as the chosen language writes a percentage; percent -1 empties the
// name.
void NameMeter(HWND meter, int percent) {
    if (percent + 1 == NamedPercentPlusOne) return;
    NamedPercentPlusOne = percent + 1;
    wchar_t name[1025];  // the most that wsprintfW ever writes, with its NUL
    name[0] = 0;
    if (percent >= 0) wsprintfW(name, LoadUiString(IDS_PERCENT_FORMAT), percent);
    DefWindowProcW(meter, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name));
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, meter, OBJID_WINDOW, CHILDID_SELF);
}

void CreateMeterBitmap(HDC dc, HDC mem, int cx, int cy, HWND meter) {
    HighlightSegments = HighContrastOn();
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
    GdiObject segments(CreateSolidBrush(HighlightSegments ? GetSysColor(COLOR_HIGHLIGHT) : kSegmentColour));
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
    NameMeter(meter, MeterPercent(ReceivedBytes.load(), TotalBytes));
}

void ClearProgressMeterName(HWND window) { NameMeter(GetDlgItem(window, IDC_METER), -1); }

bool HighContrastOn() {
    HIGHCONTRASTA contrast;
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void RecolourProgressMeter(HWND window, bool highContrast) {
    HighlightSegments = highContrast;
    if (MeterBitmap == nullptr) return;  // the bitmap's creation reads the setting itself
    DrawnSegments = 0x7FFFFFFF;          // more than any count: the next draw paints the background
    RefreshProgressMeter(window);
}

void ReleaseProgressMeter() {
    if (MeterBitmap != nullptr) DeleteObject(MeterBitmap);
    MeterBitmap = nullptr;
    DrawnSegments = 0;
    NamedPercentPlusOne = 0;
}
