// Stamps on signed program files. An Authenticode signature hashes everything but the checksum,
// the certificate table's directory entry and the table itself, so a stamp placed inside the
// last certificate entry keeps the signature valid while its last byte stays the file's last
// byte, where the loader reads it. Used by loaderkit and its tests; the loader never writes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class StampSource;

// Where a PE program keeps its checksum and its certificate table.
struct SignatureLayout {
    std::size_t checksumAt = 0;       // file offset of the optional header's CheckSum
    std::size_t directoryAt = 0;      // file offset of the certificate table's directory entry
    std::uint32_t tableOffset = 0;    // the table's file offset, 0 when unsigned
    std::uint32_t tableSize = 0;      // the table's size, 0 when unsigned
    std::size_t lastEntryAt = 0;      // file offset of the table's last WIN_CERTIFICATE entry
    bool isSigned() const { return tableSize != 0; }
    // Bytes that follow the table, 0 when it is the last thing in the file.
    std::size_t trailingBytes = 0;
};

// Reads the layout of a PE program. Returns an empty text, or why the file is not a PE program
// or its certificate table cannot be used (outside the file, not fitting it, broken entries).
// Reads through source only the headers and the table's entry headers.
std::string ReadSignatureLayout(StampSource& source, SignatureLayout& out);
std::string ReadSignatureLayout(const std::vector<unsigned char>& file, SignatureLayout& out);

// The PE checksum of file with the checksum field at checksumAt counted as zero.
std::uint32_t PeChecksum(const std::vector<unsigned char>& file, std::size_t checksumAt);

// True when the last stampSize bytes of a signed file lie inside its certificate table, after
// the signature itself.
bool StampInsideCertificateTable(StampSource& source, const SignatureLayout& layout, std::size_t stampSize);

// Removes the stamp of stampSize bytes that ends program: from inside the certificate table of
// a signed program (with the padding in front of it), or from its end. Returns why it cannot.
std::string RemoveStamp(std::vector<unsigned char>& program, std::size_t stampSize);

// Adds stamp bytes to a PE program: inside the last certificate entry of a signed one (zero
// padding in front keeps the table a multiple of 8 bytes, the checksum is recomputed), appended
// to an unsigned one. Returns why it cannot; program is unchanged then.
std::string PlaceStamp(std::vector<unsigned char>& program, const std::vector<unsigned char>& stamp);
