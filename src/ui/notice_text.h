// The notice text fetched beside the installer: its size line, expansion and rotation.
#pragma once
#include <windows.h>

#include <cstddef>

#include "base/loader_state.h"

// Each view of the text, and the wide text it is shown as, are bounded like the page.
constexpr std::size_t kNoticeTextSize = kPageSize;

extern char* NoticeStart;   // the text after the size line, in ReplyBuffer, or null
extern char* NoticeCursor;  // where the next view begins
extern UINT_PTR NoticeTimerId;  // 0 while no timer is set (SetTimer also answers 0 on failure)

// Gives the notice box a font of the chosen language's script where the dialog's font lacks it
// (or a stamped name's), and fixes the code page the notice is read in. Once, before the first
// status.
void ChooseNoticeFont();
// Fetches the notice from WorkBuffer and sets TotalBytes from its size line. False when the page
// cannot be had or its size line is not positive. Otherwise starts the worker and the notice
// timer and returns true: the download's end is then due, since a path that does not fit or a
// worker that does not start is posted at once as a failed download's end.
bool LoadNoticeText(HWND window);
// Shows the next view on ticks of NoticeTimerId while that timer is set and the text exists;
// a tick posted from outside while none is set changes nothing.
void RotateNotice(HWND window, UINT timerId);
// Kills the notice timer, if set: the rotation ends with the download.
void StopNoticeRotation(HWND window);
// Forgets the notice text (at WM_DESTROY, where ReplyBuffer goes too).
void ReleaseNoticeText();
