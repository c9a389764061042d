// Notice box helpers, below the download window so that the notice text and the hand-over
// need nothing from the window itself.
#include "ui/notice_box.h"

HINSTANCE AppInstance;
HWND NoticeBox;

namespace {
constexpr int kUiStringBufferSize = 1024;
char UiStringBuffer[kUiStringBufferSize];
}  // namespace

char* LoadUiString(UINT id) {
    UiStringBuffer[0] = 0;
    LoadStringA(AppInstance, id, UiStringBuffer, kUiStringBufferSize);
    return UiStringBuffer;
}

void ShowStatus(UINT id) { SetWindowTextA(NoticeBox, LoadUiString(id)); }

void ParkFocus(HWND hwnd) {
    HWND notice = GetDlgItem(hwnd, IDC_NOTICE);
    HWND sink = GetDlgItem(hwnd, IDC_FOCUS_SINK);
    PostMessageA(notice, WM_KILLFOCUS, reinterpret_cast<WPARAM>(sink), 0);
    PostMessageA(sink, WM_SETFOCUS, reinterpret_cast<WPARAM>(notice), 0);
    SetActiveWindow(sink);
}
