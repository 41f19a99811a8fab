// The properties component's settings file: a small, versioned text file with
// one line per property. Plain C++ without Windows calls, so that it can also
// be built natively and fuzzed.
//
//   PrelvaneSettings 1
//   pad width=1 16 00000000000011400000000000000000
//   pen width=4 4 02000000
//   End 2 5A0C3E71
//
// The first line names the format and its version. A property line holds the
// property's name, '=', its type code, its byte count and its bytes in
// hexadecimal, in memory order. In a name, '%', '=' and every byte outside
// printable ASCII are written as %XX (names are UTF-8). The closing line
// repeats the number of properties and holds the CRC-32 of every byte before
// it, so a truncated, cut or damaged file is recognised as a whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace settingsfile {

struct Entry {
    std::string name;               // UTF-8
    int32_t typeCode = 0;
    std::vector<uint8_t> bytes;

    bool operator==(const Entry& other) const
    {
        return name == other.name && typeCode == other.typeCode && bytes == other.bytes;
    }
};

constexpr int formatVersion = 1;
constexpr size_t maxEntries = 64;
constexpr size_t maxNameSize = 256;         // bytes, before escaping
constexpr size_t maxValueSize = 4096;       // bytes of one property
// Larger than any file of maxEntries entries within the limits above.
constexpr size_t maxFileSize = 1024 * 1024;

// Whether an entry can be written: a name of 1 to maxNameSize bytes and 1 to
// maxValueSize bytes of value.
bool withinLimits(const Entry& entry);

// The file's text. Every entry must be within the limits, names unique and
// at most maxEntries of them; the result then parses back to the same
// entries and is never longer than maxFileSize.
std::string format(const std::vector<Entry>& entries);

// Reads a whole file. A wrong header or version, a malformed, duplicated or
// oversized entry, a wrong count or checksum, a missing closing line or
// anything after it rejects the file as a whole: the result is false and
// entries is left empty.
bool parse(const char* text, size_t size, std::vector<Entry>& entries);

// The CRC-32 (IEEE 802.3) of a block of bytes.
uint32_t crc32(const char* data, size_t size);

} // namespace settingsfile
