// The notice text fetched beside the installer: its size line, expansion and rotation.
#pragma once
#include <windows.h>

#include <cstdint>

constexpr unsigned kNoticeTextSize = 22000;

extern char* NoticeText;
extern char* NoticeStart;
extern char* NoticeCursor;
extern UINT_PTR NoticeTimerId;  // 0 while no timer is set (SetTimer also answers 0 on failure)
// Set when a download's end is due (a worker started, or its failure to start posted), so
// that the window takes exactly one WM_DOWNLOAD_DONE.
extern bool DownloadEndDue;

// Fetches the notice from WorkBuffer, sets TotalBytes, and starts the worker and the timer.
// Returns true when the download started; otherwise shows final message 4.
bool LoadNoticeText(HWND window);
// A new NoticeText buffer holding text with its placeholders expanded, or nullptr.
char* ExpandPlaceholders(const char* text);
// Shows the next view on ticks of NoticeTimerId while that timer is set and the text exists;
// a tick posted from outside while none is set changes nothing.
void RotateNotice(HWND window, UINT timerId);
// Frees the notice text (at WM_DESTROY).
void ReleaseNoticeText();
