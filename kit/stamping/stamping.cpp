// Stamping shared by the kit's commands.
#include "stamping/stamping.h"

#include "stamp/signed_program.h"
#include "stamp/stamp_view.h"
#include "util/text_encoding.h"

#include <cstdio>

std::string Printable(const std::string& s, bool utf8) {
    std::string out;
    char hex[8];
    for (unsigned char c : s) {
        if ((c >= 32 && c < 127 && c != '\\') || (utf8 && c >= 128)) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

bool EncodeStampNames(StampFields& f, const char* const labels[3], std::string& error) {
    std::string* fields[3] = {&f.name, &f.address, &f.company};
    for (int k = 0; k < 3; ++k) {
        std::string encoded;
        if (!FromUtf8(*fields[k], kNamesCodePage, encoded, error)) {
            error = std::string(labels[k]) + ": " + error;
            return false;
        }
        *fields[k] = encoded;
    }
    return true;
}

std::string StampProgram(std::vector<unsigned char>& program, const StampFields& f, bool replace) {
    SignatureLayout layout;
    std::string why = ReadSignatureLayout(program, layout);
    if (!why.empty()) return why;
    StampView existing = ViewStamp(program);
    if (existing.stampSize > 0) {
        if (!replace)
            return "it already carries a stamp (tag '" + Printable(existing.tag) +
                   "'); 'loaderkit stamp --replace' removes it first";
        why = RemoveStamp(program, existing.stampSize);
        if (!why.empty()) return why;
    }
    std::vector<unsigned char> stamp;
    why = BuildStamp(f, stamp);
    return why.empty() ? PlaceStamp(program, stamp) : why;
}
