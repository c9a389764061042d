// RegKey. QueryString asks for the size first and reads only when the whole value fits, so the
// destination is never overrun whatever another program stored.
#include "stamp/reg_key.h"

#include <cstring>

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
    DWORD size = static_cast<DWORD>(std::strlen(text) + 1);
    return RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size) == ERROR_SUCCESS ? 1 : 0;
}

namespace {
// One body for both widths (charSize 1 or 2): the program is size-bound.
LONG QueryValue(HKEY key, const void* name, std::size_t charSize, DWORD* type, BYTE* data, DWORD* size) {
    if (charSize == 1) return RegQueryValueExA(key, static_cast<const char*>(name), nullptr, type, data, size);
    return RegQueryValueExW(key, static_cast<const wchar_t*>(name), nullptr, type, data, size);
}

bool CharIsZero(const BYTE* at, std::size_t charSize) {
    for (std::size_t k = 0; k < charSize; ++k) {
        if (at[k] != 0) return false;
    }
    return true;
}

int QueryText(HKEY key, void* destination, std::size_t capacity, std::size_t charSize, const void* name) {
    BYTE* out = static_cast<BYTE*>(destination);
    if (capacity == 0) return 0;
    const std::size_t bytes = capacity * charSize;
    std::memset(out, 0, charSize);
    if (key == nullptr) return 0;
    DWORD type = 0;
    DWORD size = 0;
    if (QueryValue(key, name, charSize, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
    if (size > bytes) return 0;
    DWORD read = size;
    if (QueryValue(key, name, charSize, &type, out, &read) != ERROR_SUCCESS || read > size) {
        std::memset(out, 0, charSize);
        return 0;
    }
    // Stored data need not end with a NUL: terminate it, and refuse data that fills the whole
    // destination without one.
    std::size_t count = read / charSize;
    if (count < capacity) {
        std::memset(out + count * charSize, 0, charSize);
    } else if (!CharIsZero(out + bytes - charSize, charSize)) {
        std::memset(out, 0, charSize);
        return 0;
    }
    return 1;
}
}  // namespace

int RegKey::QueryString(char* destination, std::size_t capacity, const char* name) {
    return QueryText(key_, destination, capacity, sizeof(char), name);
}

int RegKey::QueryWideString(wchar_t* destination, std::size_t capacity, const wchar_t* name) {
    return QueryText(key_, destination, capacity, sizeof(wchar_t), name);
}

LONG RegKey::Close() {
    if (key_ == nullptr) return 0;
    LONG status = RegCloseKey(key_);
    key_ = nullptr;
    return status;
}
