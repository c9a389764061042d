// Notice box helpers, below the download window so that the notice text and the hand-over
// need nothing from the window itself.
#include "ui/notice_box.h"

#include <cstring>

#include "base/languages.h"
#include "base/loader_state.h"
#include "base/text.h"

HINSTANCE AppInstance;
HWND NoticeBox;

namespace {
constexpr std::size_t kUiStringBufferSize = 512;
wchar_t UiStringBuffer[kUiStringBufferSize];

// String id of the string table held for language, into UiStringBuffer; false when that table,
// or the string in it, is missing or empty.
bool LoadStringOf(UINT id, unsigned short language) {
    HRSRC found = FindResourceExW(AppInstance, reinterpret_cast<LPCWSTR>(RT_STRING),
                                  MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = found != nullptr ? LoadResource(AppInstance, found) : nullptr;
    const void* block = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (block == nullptr) return false;
    std::size_t length = 0;
    const std::uint16_t* text = StringInBlock(static_cast<const std::uint16_t*>(block),
                                              SizeofResource(AppInstance, found) / 2, id % 16, &length);
    if (text == nullptr || length == 0 || length >= kUiStringBufferSize) return false;
    std::memcpy(UiStringBuffer, text, length * 2);
    UiStringBuffer[length] = 0;
    return true;
}
}  // namespace

const wchar_t* LoadUiString(UINT id) {
    // Not the thread's UI language, which follows the system: the language the player chose,
    // with English for a text that the chosen language lacks.
    UiStringBuffer[0] = 0;
    int chosen = SelectedLanguageIndex >= 0 ? SelectedLanguageIndex : kEnglishIndex;
    if (!LoadStringOf(id, Languages[chosen].langId)) LoadStringOf(id, Languages[kEnglishIndex].langId);
    return UiStringBuffer;
}

void ShowStatus(UINT id) { SetWindowTextW(NoticeBox, LoadUiString(id)); }

void ParkFocus(HWND hwnd) {
    HWND notice = GetDlgItem(hwnd, IDC_NOTICE);
    HWND sink = GetDlgItem(hwnd, IDC_FOCUS_SINK);
    PostMessageA(notice, WM_KILLFOCUS, reinterpret_cast<WPARAM>(sink), 0);
    PostMessageA(sink, WM_SETFOCUS, reinterpret_cast<WPARAM>(notice), 0);
    SetActiveWindow(sink);
}
