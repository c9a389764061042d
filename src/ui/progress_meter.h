// The segmented progress meter drawn off-screen into MeterBitmap for the IDC_METER control, and
// the meter's name, which tells the same progress as text to a screen reader.
#pragma once
#include <windows.h>

extern HBITMAP MeterBitmap;

// Redraws the IDC_METER control of window from ReceivedBytes and TotalBytes, and names it with
// the whole percentage received when that changed.
void RefreshProgressMeter(HWND window);
// Draws the meter into MeterBitmap (created at the first call, cx x cy) and repaints meter.
void DrawProgressMeter(HWND meter, int cx, int cy);
// Takes the percentage out of the meter's name (a final message: the download is over).
void ClearProgressMeterName(HWND window);
// Whether the player has high contrast on (SPI_GETHIGHCONTRAST).
bool HighContrastOn();
// Chooses the segments' colour, the system's highlight where highContrast, and repaints a meter
// already drawn whole, its background in the current button face included.
void RecolourProgressMeter(HWND window, bool highContrast);
// Deletes MeterBitmap (at WM_DESTROY).
void ReleaseProgressMeter();
