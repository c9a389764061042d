// Query reading without percent-decoding, so escapes never smuggle a character past the check.
#include "endpoint/download_query.h"

// The tag from the query, or an empty string with *why set. Nothing is percent-decoded: an
// escape is not a tag character, so "%00", "%2F" and the like are refused as they stand.
std::string TagFromQuery(const std::string& query, std::string* why) {
    if (query.size() > kMostQueryBytes) {
        *why = "query over 1 KB";
        return "";
    }
    std::string tag;
    int found = 0;
    ForEachQueryField(query, [&](const std::string& name, const std::string& value, bool) {
        if (name == "tag") {
            ++found;
            tag = value;
        }
        return true;
    });
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

bool ForEachQueryField(const std::string& query,
                       const std::function<bool(const std::string&, const std::string&, bool)>& each) {
    std::size_t at = 0;
    while (at <= query.size()) {
        std::size_t end = query.find('&', at);
        if (end == std::string::npos) end = query.size();
        std::size_t eq = query.find('=', at);
        bool hasValue = eq < end;
        if (!each(query.substr(at, (hasValue ? eq : end) - at), hasValue ? query.substr(eq + 1, end - eq - 1) : "",
                  hasValue))
            return false;
        at = end + 1;
    }
    return true;
}
