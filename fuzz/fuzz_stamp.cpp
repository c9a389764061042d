// Distribution stamps: the whole reader over the input as the end of a program file, and the
// writer's output read back.
#include "stamp/stamp_layout.h"
#include "stamp/stamp_view.h"
#include "stamp/stamp_writer.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> file(data, data + size);
    StampView view = ViewStamp(file);
    if (view.tag.size() > stamp::kMaxTagLength || view.name.size() > 80 || view.stampSize > size) __builtin_trap();
    IsPlainFileNameTag(view.tag.c_str());
    if (size >= stamp::kNamesAreaSize) {
        NamesSplit s = SplitNamesArea(data);
        if (s.company.offset + s.company.length > 80 || s.address.offset + s.address.length > 80) __builtin_trap();
    }
    // The first bytes choose the names; writing them and reading them back must agree.
    if (size >= 3) {
        StampFields f;
        std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
        std::size_t a = data[0] % (rest.size() + 1);
        std::size_t b = data[1] % (rest.size() - a + 1);
        f.versionTag = "V";
        f.hasNames = true;
        f.name = rest.substr(0, a);
        f.address = rest.substr(a, b);
        f.company = (data[2] & 1) && !f.address.empty() ? rest.substr(a + b) : "";
        std::vector<unsigned char> out(10, 'P');
        if (BuildStamp(f, out).empty()) {
            StampView back = ViewStamp(out);
            if (back.name != f.name || back.address != f.address || back.company != f.company) __builtin_trap();
        }
    }
    return 0;
}
