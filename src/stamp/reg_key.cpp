// RegKey. QueryString asks for the size first and reads only when the whole value fits, so the
// destination is never overrun whatever another program stored.
#include "stamp/reg_key.h"

// A failed open or create leaves the holder empty, whatever the call wrote into the handle.
int RegKey::Open(HKEY parent, const char* path) {
    if (RegOpenKeyA(parent, path, &key_) == ERROR_SUCCESS) return 1;
    key_ = nullptr;
    return 0;
}

int RegKey::Create(HKEY parent, const char* path) {
    if (RegCreateKeyA(parent, path, &key_) == ERROR_SUCCESS) return 1;
    key_ = nullptr;
    return 0;
}

int RegKey::SetString(const char* text, const char* name) {
    if (key_ == nullptr) return 0;
    DWORD size = static_cast<DWORD>(lstrlenA(text) + 1);
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS ? 1 : 0;
}

namespace {
LONG QueryValue(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, type, data, size);
}
LONG QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) {
    return RegQueryValueExW(key, name, nullptr, type, data, size);
}

template <typename Char>
int QueryText(HKEY key, Char* destination, std::size_t capacity, const Char* name) {
    if (capacity == 0) return 0;
    destination[0] = 0;
    if (key == nullptr) return 0;
    const std::size_t bytes = capacity * sizeof(Char);
    DWORD type = 0;
    DWORD size = 0;
    if (QueryValue(key, name, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
    if (size > bytes) return 0;
    DWORD read = size;
    if (QueryValue(key, name, &type, reinterpret_cast<BYTE*>(destination), &read) != ERROR_SUCCESS || read > size) {
        destination[0] = 0;
        return 0;
    }
    // Stored data need not end with a NUL: terminate it, and refuse data that fills the whole
    // destination without one.
    std::size_t count = read / sizeof(Char);
    if (count < capacity) {
        destination[count] = 0;
    } else if (destination[capacity - 1] != 0) {
        destination[0] = 0;
        return 0;
    }
    return 1;
}
}  // namespace

int RegKey::QueryString(char* destination, std::size_t capacity, const char* name) {
    return QueryText(key_, destination, capacity, name);
}

int RegKey::QueryWideString(wchar_t* destination, std::size_t capacity, const wchar_t* name) {
    return QueryText(key_, destination, capacity, name);
}

LONG RegKey::Close() {
    if (key_ == nullptr) return 0;
    LONG status = RegCloseKey(key_);
    key_ = nullptr;
    return status;
}
