// Notice texts: the size line, the rotation, and each view expanded into a small wide buffer;
// and the same bytes as a string-table block, from which the box's statuses are taken.
#include "base/text.h"
#include "ui/notice_format.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {
// Double-byte decoding as code page 932 does it: a lead byte takes the byte after it along.
std::size_t Decode(unsigned codePage, const char* text, std::size_t n, wchar_t* out, std::size_t cap) {
    if (n > cap) __builtin_trap();
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; ++w) {
        unsigned char b = static_cast<unsigned char>(text[i++]);
        if (codePage == 932 && b >= 0x81 && i < n) ++i;
        out[w] = b;
    }
    return w;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint16_t> block(size / 2);
    if (!block.empty()) std::memcpy(block.data(), data, block.size() * 2);
    for (unsigned index = 0; index < 16; ++index) {
        std::size_t length = 0;
        const std::uint16_t* s = StringInBlock(block.data(), block.size(), index, &length);
        if (s != nullptr && (s < block.data() || s + length > block.data() + block.size())) __builtin_trap();
    }
    std::string page(reinterpret_cast<const char*>(data), size);
    page = page.substr(0, page.find('\0'));
    std::size_t lf = page.find('\n');
    ParseSizeLine(page.substr(0, lf).c_str());
    std::string text = lf == std::string::npos ? page : page.substr(lf + 1);
    const std::size_t cap = 512;
    text = text.substr(0, cap - 1);
    const char* start = text.c_str();
    const char* cursor = start;
    std::vector<char> view(cap);
    std::vector<wchar_t> shown(cap + 16, L'G');
    for (int tick = 0; tick < 8; ++tick) {
        ComposeNoticeView(start, cursor, view.data(), view.size());
        if (std::strlen(view.data()) != text.size()) __builtin_trap();
        std::size_t n = ExpandNoticeText(view.data(), 932, {"[CASINO_ADDRESS] name", 1252}, {"addr[CASINO_NAME]", 0},
                                         Decode, shown.data(), cap);
        if (n >= cap || shown[n] != 0 || shown[cap] != L'G') __builtin_trap();
        cursor = AdvanceNoticeCursor(start, cursor);
        if (cursor < start || cursor > start + text.size()) __builtin_trap();
    }
    return 0;
}
