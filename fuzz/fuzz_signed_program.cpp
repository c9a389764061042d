// Program files that operators receive from elsewhere: the PE and certificate-table reading of
// the kit, and a stamp placed, read back and removed again wherever a file is accepted.
#include "stamp/signed_program.h"
#include "stamp/stamp_view.h"
#include "stamp/stamp_writer.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<unsigned char> file(data, data + size);
    SignatureLayout layout;
    if (!ReadSignatureLayout(file, layout).empty()) return 0;
    if (layout.isSigned() && static_cast<std::uint64_t>(layout.tableOffset) + layout.tableSize > size) __builtin_trap();
    StampView existing = ViewStamp(file);
    MemorySource source(file);
    StampInsideCertificateTable(source, layout, existing.stampSize);
    if (existing.stampSize > 0 && !RemoveStamp(file, existing.stampSize).empty()) return 0;
    StampFields f;
    f.versionTag = "FZ";
    f.hasNames = true;
    f.name = "N";
    std::vector<unsigned char> stamp;
    BuildStamp(f, stamp);
    std::vector<unsigned char> placed = file;
    if (!PlaceStamp(placed, stamp).empty()) return 0;
    StampView back = ViewStamp(placed);
    if (back.tag != "FZ" || back.name != "N" || back.stampSize != stamp.size()) __builtin_trap();
    SignatureLayout after;
    if (!ReadSignatureLayout(placed, after).empty() || after.isSigned() != layout.isSigned()) __builtin_trap();
    MemorySource placedSource(placed);
    if (after.isSigned() && !StampInsideCertificateTable(placedSource, after, stamp.size())) __builtin_trap();
    if (!RemoveStamp(placed, stamp.size()).empty()) __builtin_trap();
    return 0;
}
