// Holder of one open registry key; every registry access of the loader goes through it.
#pragma once
#include <windows.h>

#include <cstddef>

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // RegOpenKeyA; 1 on success. Call on an empty holder.
    int Open(HKEY parent, const char* path);
    // RegCreateKeyA, creating missing keys on the path; 1 on success.
    int Create(HKEY parent, const char* path);
    // REG_SZ with its terminating NUL; 1 on success.
    int SetString(const char* text, const char* name);
    // Reads the value into destination (capacity bytes). 1 when the value exists and fits;
    // a value larger than the destination is reported as absent: 0 and an empty destination.
    int QueryString(char* destination, std::size_t capacity, const char* name);
    // The same through the wide call; capacity counts wide characters.
    int QueryWideString(wchar_t* destination, std::size_t capacity, const wchar_t* name);
    // RegCloseKey's status, or 0 when no key is held.
    LONG Close();
    // The held key, or null.
    HKEY handle() const { return key_; }

private:
    HKEY key_ = nullptr;
};
