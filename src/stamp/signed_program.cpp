// Portable PE reading for stamps on signed programs. Every offset comes from the file, so each
// one is checked against the file's size before it is used.
#include "stamp/signed_program.h"

#include "stamp/stamp_layout.h"
#include "stamp/stamp_view.h"

namespace {
constexpr std::size_t kEntryHeaderSize = 8;  // WIN_CERTIFICATE: dwLength, wRevision, wCertificateType
constexpr std::uint64_t kMaxU32 = 0xFFFFFFFFu;

void PutLe32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<unsigned char>(v >> (8 * k));
}

std::uint64_t AlignUp8(std::uint64_t n) { return (n + 7) & ~static_cast<std::uint64_t>(7); }

// Little-endian fields at absolute offsets of a stamp source; a field outside the file reads 0.
class FileBytes {
public:
    explicit FileBytes(StampSource& source) : source_(source), size_(static_cast<std::uint64_t>(source.Size())) {}
    std::uint64_t size() const { return size_; }
    bool Get(std::uint64_t at, unsigned char* buffer, std::size_t n) {
        if (at > size_ || n > size_ - at) return false;
        if (!source_.SeekFromEnd(static_cast<std::int64_t>(size_ - at), true)) return false;
        return source_.Read(buffer, n) == n;
    }
    std::uint32_t Le(std::uint64_t at, int bytes) {
        unsigned char field[4] = {0, 0, 0, 0};
        if (!Get(at, field, static_cast<std::size_t>(bytes))) return 0;
        std::uint32_t v = 0;
        for (int k = bytes - 1; k >= 0; --k) v = (v << 8) | field[k];
        return v;
    }

private:
    StampSource& source_;
    std::uint64_t size_;
};

// Length of the DER SEQUENCE (the PKCS#7 signature) that starts at 'at', or 0 when the bytes
// up to limit bytes do not hold a whole definite-length one. Only the header is read from b, of
// which 'have' bytes are present from 'at'.
std::size_t DerSequenceLength(const std::vector<unsigned char>& b, std::size_t at, std::size_t have,
                              std::uint64_t limit) {
    if (have < 2 || limit < 2 || b[at] != 0x30) return 0;
    std::size_t header = 2;
    std::uint64_t length = b[at + 1];
    if (length & 0x80) {
        std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || 2 + count > have) return 0;
        length = 0;
        for (std::size_t k = 0; k < count; ++k) length = (length << 8) | b[at + 2 + k];
        header += count;
    }
    if (header > limit || length > limit - header) return 0;
    return header + static_cast<std::size_t>(length);
}

// Where the signature in the last entry ends when only zeros follow it up to end; else end.
// Zeros after the signature are padding, ours or the signer's, and can be rewritten.
std::size_t TrimmedSignatureEnd(const std::vector<unsigned char>& b, std::size_t entryAt, std::size_t end) {
    std::size_t blobAt = entryAt + kEntryHeaderSize;
    if (blobAt > end) return end;
    std::size_t der = DerSequenceLength(b, blobAt, end - blobAt, end - blobAt);
    if (der == 0) return end;
    std::size_t sigEnd = entryAt + kEntryHeaderSize + der;
    for (std::size_t k = sigEnd; k < end; ++k) {
        if (b[k] != 0) return end;
    }
    return sigEnd;
}

// Makes the last entry end at newEnd: the entry's length, the directory's size and the checksum.
std::string CloseTable(std::vector<unsigned char>& b, const SignatureLayout& layout, std::size_t newEnd) {
    if (newEnd - layout.lastEntryAt > kMaxU32 || newEnd - layout.tableOffset > kMaxU32)
        return "the certificate table would grow beyond 4 GiB";
    b.resize(newEnd);
    PutLe32(b, layout.lastEntryAt, static_cast<std::uint32_t>(newEnd - layout.lastEntryAt));
    PutLe32(b, layout.directoryAt + 4, static_cast<std::uint32_t>(newEnd - layout.tableOffset));
    PutLe32(b, layout.checksumAt, PeChecksum(b, layout.checksumAt));
    return "";
}
}  // namespace

std::string ReadSignatureLayout(StampSource& source, SignatureLayout& out) {
    out = SignatureLayout();
    FileBytes b(source);
    const std::uint64_t size = b.size();
    unsigned char mz[2] = {0, 0};
    if (size < 0x40 || !b.Get(0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z') return "not a PE program (no MZ header)";
    std::uint64_t pe = b.Le(0x3C, 4);
    unsigned char sig[4] = {0, 0, 0, 0};
    if (pe + 24 > size || !b.Get(pe, sig, 4) || sig[0] != 'P' || sig[1] != 'E' || sig[2] != 0 || sig[3] != 0)
        return "not a PE program (no PE signature where the MZ header points)";
    std::uint64_t opt = pe + 24;
    std::uint64_t optSize = b.Le(pe + 20, 2);
    if (optSize < 2 || opt + optSize > size) return "not a PE program (optional header outside the file)";
    std::uint32_t magic = b.Le(opt, 2);
    if (magic != 0x10B && magic != 0x20B) return "not a PE program (unknown optional header magic)";
    std::uint64_t countAt = opt + (magic == 0x10B ? 92 : 108);
    std::uint64_t dirs = countAt + 4;
    if (dirs > opt + optSize) return "not a PE program (optional header too short)";
    out.checksumAt = static_cast<std::size_t>(opt + 64);
    // Index 4 of the data directories is the certificate table; without it nothing is signed.
    if (b.Le(countAt, 4) <= 4 || dirs + 5 * 8 > opt + optSize) return "";
    out.directoryAt = static_cast<std::size_t>(dirs + 4 * 8);
    std::uint32_t offset = b.Le(out.directoryAt, 4);
    std::uint32_t length = b.Le(out.directoryAt + 4, 4);
    if (length == 0) return "";
    if (offset == 0 || offset >= size)
        return "the certificate table's directory entry points outside the file (offset " + std::to_string(offset) +
               ", file " + std::to_string(size) + " bytes)";
    std::uint64_t end = static_cast<std::uint64_t>(offset) + length;
    if (end > size)
        return "the certificate table (" + std::to_string(length) + " bytes at " + std::to_string(offset) +
               ") does not fit the " + std::to_string(size) + "-byte file";
    for (std::uint64_t at = offset;;) {
        std::uint64_t entry = at + kEntryHeaderSize <= end ? b.Le(at, 4) : 0;
        if (entry < kEntryHeaderSize || at + entry > end)
            return "the certificate table's entries do not fit the table (entry at " + std::to_string(at) + ")";
        out.lastEntryAt = static_cast<std::size_t>(at);
        at = AlignUp8(at + entry);
        if (at >= end) break;
    }
    out.tableOffset = offset;
    out.tableSize = length;
    out.trailingBytes = static_cast<std::size_t>(size - end);
    return "";
}

std::string ReadSignatureLayout(const std::vector<unsigned char>& file, SignatureLayout& out) {
    MemorySource source(file);
    return ReadSignatureLayout(source, out);
}

std::uint32_t PeChecksum(const std::vector<unsigned char>& b, std::size_t checksumAt) {
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < b.size(); at += 2) {
        if (at == checksumAt || at == checksumAt + 2) continue;
        std::uint32_t word = b[at];
        if (at + 1 < b.size()) word |= static_cast<std::uint32_t>(b[at + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + b.size());
}

bool StampInsideCertificateTable(StampSource& source, const SignatureLayout& layout, std::size_t stampSize) {
    std::uint64_t size = static_cast<std::uint64_t>(source.Size());
    if (!layout.isSigned() || layout.trailingBytes != 0 || stampSize == 0 || stampSize > size) return false;
    // The DER header alone tells where the signature ends: tag, and at most five length bytes.
    std::uint64_t blobAt = layout.lastEntryAt + kEntryHeaderSize;
    if (blobAt > size) return false;
    std::vector<unsigned char> header(6, 0);
    FileBytes b(source);
    std::size_t have = blobAt + header.size() <= size ? header.size() : static_cast<std::size_t>(size - blobAt);
    if (!b.Get(blobAt, header.data(), have)) return false;
    std::size_t der = DerSequenceLength(header, 0, have, size - blobAt);
    return size - stampSize >= blobAt + der;
}

std::string RemoveStamp(std::vector<unsigned char>& b, std::size_t stampSize) {
    SignatureLayout layout;
    std::string why = ReadSignatureLayout(b, layout);
    if (!why.empty()) return why;
    if (stampSize > b.size()) return "the stamp is larger than the file";
    if (!layout.isSigned() || layout.trailingBytes >= stampSize) {
        // Unsigned, or a stamp appended after the table by an earlier kit: it is only bytes at the end.
        b.resize(b.size() - stampSize);
        return "";
    }
    if (layout.trailingBytes != 0) return "the stamp straddles the end of the certificate table";
    MemorySource source(b);
    if (!StampInsideCertificateTable(source, layout, stampSize)) return "the stamp overlaps the signature";
    std::size_t end = TrimmedSignatureEnd(b, layout.lastEntryAt, b.size() - stampSize);
    std::size_t aligned = layout.lastEntryAt + AlignUp8(end - layout.lastEntryAt);
    b.resize(end);
    b.resize(aligned, 0);
    return CloseTable(b, layout, aligned);
}

namespace {
// The reader finds each block by its magic at a fixed distance from the end, so bytes of the
// program just before a short stamp could pass for a longer one's magic.
std::string ReadsBackWhole(const std::vector<unsigned char>& b, const std::vector<unsigned char>& stamp) {
    if (ViewStamp(b).stampSize == stamp.size()) return "";
    return "the program's own last bytes would be read as part of the stamp; add a longer stamp (--name or --image)";
}
}  // namespace

std::string PlaceStamp(std::vector<unsigned char>& b, const std::vector<unsigned char>& stamp) {
    SignatureLayout layout;
    std::string why = ReadSignatureLayout(b, layout);
    if (!why.empty()) return why;
    if (!layout.isSigned()) {
        std::vector<unsigned char> copy(b);
        copy.insert(copy.end(), stamp.begin(), stamp.end());
        why = ReadsBackWhole(copy, stamp);
        if (why.empty()) b.swap(copy);
        return why;
    }
    if (layout.trailingBytes != 0)
        return "the signed file has " + std::to_string(layout.trailingBytes) +
               " bytes after its certificate table; a stamp there would break the signature";
    // A signature that claims more bytes than its entry holds would swallow the stamp.
    std::size_t blobAt = layout.lastEntryAt + kEntryHeaderSize;
    std::size_t headerBytes = b.size() - blobAt < 6 ? b.size() - blobAt : 6;
    if (DerSequenceLength(b, blobAt, headerBytes, ~static_cast<std::uint64_t>(0)) > b.size() - blobAt)
        return "the signature claims more bytes than its certificate entry holds";
    std::size_t sigEnd = TrimmedSignatureEnd(b, layout.lastEntryAt, b.size());
    std::size_t pad = (8 - (sigEnd - layout.lastEntryAt + stamp.size()) % 8) % 8;
    std::vector<unsigned char> copy(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(sigEnd));
    copy.resize(sigEnd + pad, 0);
    copy.insert(copy.end(), stamp.begin(), stamp.end());
    why = CloseTable(copy, layout, copy.size());
    if (why.empty()) why = ReadsBackWhole(copy, stamp);
    if (why.empty()) b.swap(copy);
    return why;
}
