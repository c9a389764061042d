// The language chooser (LANGCHOOSER dialog).
#pragma once
#include <windows.h>

INT_PTR CALLBACK LanguageChooserProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Disables the Hebrew and Arabic buttons below Windows 2000 unless the system speaks them.
void RestrictRtlChoices(HWND hwnd, unsigned primaryLanguage);
