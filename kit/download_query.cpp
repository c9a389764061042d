// Query reading without percent-decoding, so escapes never smuggle a character past the check.
#include "download_query.h"

bool TagCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// The tag from the query, or an empty string with *why set. Nothing is percent-decoded: an
// escape is not a tag character, so "%00", "%2F" and the like are refused as they stand.
std::string TagFromQuery(const std::string& query, std::string* why) {
    if (query.size() > kMostQueryBytes) {
        *why = "query over 1 KB";
        return "";
    }
    std::string tag;
    int found = 0;
    std::size_t at = 0;
    while (at <= query.size()) {
        std::size_t end = query.find('&', at);
        if (end == std::string::npos) end = query.size();
        std::string pair = query.substr(at, end - at);
        std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) == "tag") {
            ++found;
            tag = eq == std::string::npos ? "" : pair.substr(eq + 1);
        }
        at = end + 1;
    }
    if (found == 0) *why = "missing tag";
    else if (found > 1) *why = "tag given more than once";
    else if (tag.empty()) *why = "empty tag";
    else if (tag.size() > kMostTagBytes) *why = "tag over 11 bytes";
    else {
        for (char c : tag) {
            if (!TagCharacter(c)) {
                *why = "tag may hold letters, digits and '-' only";
                break;
            }
        }
    }
    return why->empty() ? tag : "";
}
