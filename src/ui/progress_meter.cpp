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

// A pen, brush or bitmap, deleted when it leaves scope: after the memory DC that had it selected,
// or once it is no longer selected.
class GdiObject {
public:
    explicit GdiObject(HGDIOBJ h) : h_(h) {}
    [[gnu::noinline]] ~GdiObject() { DeleteObject(h_); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    HGDIOBJ get() const { return h_; }

private:
    HGDIOBJ h_;
};

// Every selection, system colour and rectangle goes through these, out of line, as every
// deletion goes through ~GdiObject: one call of each GDI function instead of one at each place
// that uses it, which keeps the program's code and relocations small.
[[gnu::noinline]] void Select(HDC mem, HGDIOBJ object) { SelectObject(mem, object); }
[[gnu::noinline]] void SelectStock(HDC mem, int object) { Select(mem, GetStockObject(object)); }
[[gnu::noinline]] COLORREF SystemColour(int index) { return GetSysColor(index); }
[[gnu::noinline]] void Box(HDC mem, int left, int top, int right, int bottom) { Rectangle(mem, left, top, right, bottom); }

void PaintBackground(HDC mem, int cx, int cy) {
    GdiObject background(CreateSolidBrush(SystemColour(COLOR_BTNFACE)));
    SelectStock(mem, NULL_PEN);
    Select(mem, background.get());
    Box(mem, 0, 1, cx - 2, cy);
    SelectStock(mem, NULL_BRUSH);
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

// Makes MeterBitmap, paints its background and hands it to the control; the bitmap, or null.
HBITMAP CreateMeterBitmap(HDC dc, HDC mem, int cx, int cy, HWND meter) {
    HighlightSegments = HighContrastOn();
    HBITMAP bitmap = CreateCompatibleBitmap(dc, cx, cy);
    MeterBitmap = bitmap;
    if (bitmap == nullptr) return nullptr;
    Select(mem, bitmap);
    PaintBackground(mem, cx, cy);
    PostMessageA(meter, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
    return bitmap;
}

// The segments that the counts call for, then both frames over them, into bitmap selected into
// mem. The last pen is put back to a stock one, so that no object is deleted while selected.
void DrawSegmentsAndFrames(HDC mem, HBITMAP bitmap, int cx, int cy) {
    Select(mem, bitmap);
    int segW = MeterSegmentWidth(cx);
    int count = MeterSegmentCount(ReceivedBytes.load(), TotalBytes, cx);
    if (count < DrawnSegments) PaintBackground(mem, cx, cy);
    DrawnSegments = count;
    GdiObject segments(CreateSolidBrush(HighlightSegments ? SystemColour(COLOR_HIGHLIGHT) : kSegmentColour));
    Select(mem, segments.get());
    SelectStock(mem, NULL_PEN);
    for (int k = 0, left = 2; k < count; ++k, left += segW) Box(mem, left, 2, left + segW, cy - 1);
    SelectStock(mem, BLACK_PEN);
    SelectStock(mem, NULL_BRUSH);
    Box(mem, 0, 0, cx - 2, cy);
    GdiObject inner(CreatePen(PS_SOLID, 1, SystemColour(COLOR_BTNFACE)));
    Select(mem, inner.get());
    Box(mem, 1, 1, cx - 2, cy - 1);
    SelectStock(mem, NULL_PEN);
}
}  // namespace

void DrawProgressMeter(HWND meter, int cx, int cy) {
    HDC dc = GetDC(meter);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bitmap = MeterBitmap;
    if (bitmap == nullptr) bitmap = CreateMeterBitmap(dc, mem, cx, cy, meter);
    ReleaseDC(meter, dc);
    if (bitmap != nullptr) DrawSegmentsAndFrames(mem, bitmap, cx, cy);
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
    // Deleting no bitmap is harmless; the next bitmap's background resets the segment count.
    GdiObject bitmap(MeterBitmap);
    MeterBitmap = nullptr;
    NamedPercentPlusOne = 0;
}
