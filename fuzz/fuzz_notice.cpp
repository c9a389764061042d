// Notice texts: the size line, placeholder expansion into a small buffer, and the rotation.
#include "ui/notice_format.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string page(reinterpret_cast<const char*>(data), size);
    page = page.substr(0, page.find('\0'));
    std::size_t lf = page.find('\n');
    ParseSizeLine(page.substr(0, lf).c_str());
    std::string text = lf == std::string::npos ? page : page.substr(lf + 1);
    const std::size_t cap = 512;
    std::vector<char> expanded(cap + 16, 'G');
    std::size_t n = ExpandNoticePlaceholders(text.c_str(), "[CASINO_ADDRESS] name", "addr[CASINO_NAME]",
                                             expanded.data(), cap);
    if (n >= cap || expanded[n] != 0 || expanded[cap] != 'G') __builtin_trap();
    const char* start = expanded.data();
    const char* cursor = start;
    std::vector<char> view(cap);
    for (int tick = 0; tick < 8; ++tick) {
        ComposeNoticeView(start, cursor, view.data(), view.size());
        if (std::strlen(view.data()) != n) __builtin_trap();
        cursor = AdvanceNoticeCursor(start, cursor);
        if (cursor < start || cursor > start + n) __builtin_trap();
    }
    return 0;
}
