// The segmented progress meter drawn off-screen into MeterBitmap for control 1003.
#pragma once
#include <windows.h>

extern HBITMAP MeterBitmap;

// Redraws control 1003 of window from ReceivedBytes and TotalBytes.
void RefreshProgressMeter(HWND window);
// Draws the meter into MeterBitmap (created at the first call, cx x cy) and repaints meter.
void DrawProgressMeter(HWND meter, int cx, int cy);
