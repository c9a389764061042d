// iconv conversion, strict: no transliteration and no skipping. UTF-8 is checked here first,
// so that iconv's one error (EILSEQ) can only mean a character the code page lacks.
#include "util/text_encoding.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace {
std::string CodePageName(unsigned codePage) { return "CP" + std::to_string(codePage); }

// The length of the valid UTF-8 sequence at text[at] (shortest forms only, no surrogates, at
// most U+10FFFF), or 0.
std::size_t Utf8Length(const std::string& text, std::size_t at, unsigned* codePoint) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    std::size_t left = text.size() - at;
    unsigned c = p[0];
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || n > left) return 0;
    unsigned v = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
        v = v << 6 | (p[k] & 0x3F);
    }
    static const unsigned kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kLeast[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *codePoint = v;
    return n;
}

// ASCII is the same in UTF-8 and in every code page here, and needs no conversion (nor the
// loading of iconv's tables, which a stamp per download would pay every time).
bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

std::size_t LineAt(const std::string& text, std::size_t at) {
    std::size_t line = 1;
    for (std::size_t k = 0; k < at; ++k) line += text[k] == '\n';
    return line;
}

// Converts all of `in`; on EILSEQ, *stoppedAt is the offset of the character that stopped it.
bool Convert(const std::string& in, const std::string& from, const std::string& to, std::string& out,
             std::size_t* stoppedAt) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = &out[0];
    std::size_t dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<std::size_t>(-1);
    if (!ok && stoppedAt != nullptr) *stoppedAt = static_cast<std::size_t>(src - in.data());
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return ok;
}
}  // namespace

bool FromUtf8(const std::string& utf8, unsigned codePage, std::string& out, std::string& error) {
    std::string text = utf8.compare(0, 3, "\xEF\xBB\xBF") == 0 ? utf8.substr(3) : utf8;
    if (IsAscii(text)) {
        out = text;
        return true;
    }
    unsigned codePoint = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t n = Utf8Length(text, at, &codePoint);
        if (n == 0) {
            error = "line " + std::to_string(LineAt(text, at)) + " is not UTF-8";
            return false;
        }
        at += n;
    }
    std::size_t stoppedAt = 0;
    if (Convert(text, "UTF-8", CodePageName(codePage), out, &stoppedAt)) return true;
    if (stoppedAt >= text.size() || Utf8Length(text, stoppedAt, &codePoint) == 0) {
        error = "cannot convert to code page " + std::to_string(codePage);
        return false;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", codePoint);
    error = "line " + std::to_string(LineAt(text, stoppedAt)) + ": '" +
            text.substr(stoppedAt, Utf8Length(text, stoppedAt, &codePoint)) + "' (" + hex +
            ") cannot be shown in code page " + std::to_string(codePage);
    return false;
}

bool ToUtf8(const std::string& text, unsigned codePage, std::string& out) {
    if (IsAscii(text)) {
        out = text;
        return true;
    }
    return Convert(text, CodePageName(codePage), "UTF-8", out, nullptr);
}
