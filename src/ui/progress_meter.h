// The segmented progress meter drawn off-screen into MeterBitmap for the IDC_METER control.
#pragma once
#include <windows.h>

extern HBITMAP MeterBitmap;

// Redraws the IDC_METER control of window from ReceivedBytes and TotalBytes.
void RefreshProgressMeter(HWND window);
// Draws the meter into MeterBitmap (created at the first call, cx x cy) and repaints meter.
void DrawProgressMeter(HWND meter, int cx, int cy);
// Deletes MeterBitmap (at WM_DESTROY).
void ReleaseProgressMeter();
