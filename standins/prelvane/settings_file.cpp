#include "settings_file.h"

#include <algorithm>

namespace settingsfile {

namespace {

const char headerPrefix[] = "PrelvaneSettings ";
const char closingPrefix[] = "End ";
const char hexDigits[] = "0123456789ABCDEF";

// Hexadecimal digits are read as they are written, in upper case only: any
// change to a file's text is a change to what it says.
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool writtenAsIs(unsigned char c)
{
    return c >= 0x20 && c <= 0x7E && c != '%' && c != '=';
}

void appendHex(std::string& text, unsigned char byte)
{
    text += hexDigits[byte >> 4];
    text += hexDigits[byte & 0x0F];
}

// A piece of the text being read; never reaches past the end of the file.
struct Cursor {
    const char* at;
    const char* end;

    bool atEnd() const { return at == end; }
    bool take(char expected)
    {
        if (at == end || *at != expected)
            return false;
        ++at;
        return true;
    }
    bool take(const char* expected)
    {
        const char* p = at;
        for (; *expected; ++expected, ++p)
            if (p == end || *p != *expected)
                return false;
        at = p;
        return true;
    }
};

// A decimal number without sign or leading zeros, at most `limit`.
bool takeDecimal(Cursor& cursor, uint64_t limit, uint64_t& value)
{
    const char* start = cursor.at;
    value = 0;
    while (!cursor.atEnd() && *cursor.at >= '0' && *cursor.at <= '9') {
        value = value * 10 + static_cast<unsigned>(*cursor.at - '0');
        if (value > limit)
            return false;
        ++cursor.at;
    }
    size_t digits = static_cast<size_t>(cursor.at - start);
    return digits > 0 && (digits == 1 || *start != '0');
}

bool takeTypeCode(Cursor& cursor, int32_t& typeCode)
{
    bool negative = cursor.take('-');
    uint64_t magnitude = 0;
    if (!takeDecimal(cursor, negative ? 2147483648u : 2147483647u, magnitude))
        return false;
    if (negative && magnitude == 0)
        return false;
    typeCode = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

bool takeName(Cursor& cursor, std::string& name)
{
    name.clear();
    while (!cursor.atEnd() && *cursor.at != '=') {
        unsigned char c = static_cast<unsigned char>(*cursor.at++);
        if (c == '%') {
            if (cursor.end - cursor.at < 2)
                return false;
            int high = hexValue(cursor.at[0]);
            int low = hexValue(cursor.at[1]);
            if (high < 0 || low < 0)
                return false;
            cursor.at += 2;
            c = static_cast<unsigned char>(high * 16 + low);
        } else if (!writtenAsIs(c)) {
            return false;
        }
        if (name.size() == maxNameSize)
            return false;
        name += static_cast<char>(c);
    }
    return !name.empty() && cursor.take('=');
}

bool takeBytes(Cursor& cursor, size_t count, std::vector<uint8_t>& bytes)
{
    if (static_cast<size_t>(cursor.end - cursor.at) < 2 * count)
        return false;
    bytes.resize(count);
    for (size_t i = 0; i < count; ++i) {
        int high = hexValue(cursor.at[2 * i]);
        int low = hexValue(cursor.at[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
    }
    cursor.at += 2 * count;
    return true;
}

// "name=type count hex\n"
bool takeEntry(Cursor& cursor, Entry& entry)
{
    uint64_t count = 0;
    return takeName(cursor, entry.name) && takeTypeCode(cursor, entry.typeCode) && cursor.take(' ') &&
           takeDecimal(cursor, maxValueSize, count) && count > 0 && cursor.take(' ') &&
           takeBytes(cursor, static_cast<size_t>(count), entry.bytes) && cursor.take('\n');
}

// "End count crc\n", the last line of the file.
bool takeClosingLine(Cursor& cursor, size_t entryCount, uint32_t checksum)
{
    uint64_t count = 0;
    if (!cursor.take(closingPrefix) || !takeDecimal(cursor, maxEntries, count) || count != entryCount ||
        !cursor.take(' ') || cursor.end - cursor.at < 8)
        return false;
    uint32_t stored = 0;
    for (int i = 0; i < 8; ++i) {
        int digit = hexValue(*cursor.at++);
        if (digit < 0)
            return false;
        stored = stored * 16 + static_cast<uint32_t>(digit);
    }
    return stored == checksum && cursor.take('\n') && cursor.atEnd();
}

bool parseEntries(const char* text, size_t size, std::vector<Entry>& entries)
{
    Cursor cursor{text, text + size};
    uint64_t version = 0;
    if (!cursor.take(headerPrefix) || !takeDecimal(cursor, 1000000, version) ||
        version != static_cast<uint64_t>(formatVersion) || !cursor.take('\n'))
        return false;

    // Every property line holds a '=' (names escape theirs); the closing
    // line holds none.
    for (;;) {
        const char* lineEnd = std::find(cursor.at, cursor.end, '\n');
        if (std::find(cursor.at, lineEnd, '=') == lineEnd)
            break;
        if (entries.size() == maxEntries)
            return false;
        Entry entry;
        if (!takeEntry(cursor, entry))
            return false;
        auto sameName = [&entry](const Entry& other) { return other.name == entry.name; };
        if (std::any_of(entries.begin(), entries.end(), sameName))
            return false;
        entries.push_back(std::move(entry));
    }
    uint32_t checksum = crc32(text, static_cast<size_t>(cursor.at - text));
    return takeClosingLine(cursor, entries.size(), checksum);
}

} // namespace

bool withinLimits(const Entry& entry)
{
    return !entry.name.empty() && entry.name.size() <= maxNameSize && !entry.bytes.empty() &&
           entry.bytes.size() <= maxValueSize;
}

uint32_t crc32(const char* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= static_cast<unsigned char>(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string format(const std::vector<Entry>& entries)
{
    std::string text = headerPrefix + std::to_string(formatVersion) + "\n";
    for (const Entry& entry : entries) {
        for (char c : entry.name) {
            unsigned char byte = static_cast<unsigned char>(c);
            if (writtenAsIs(byte)) {
                text += c;
            } else {
                text += '%';
                appendHex(text, byte);
            }
        }
        text += '=' + std::to_string(entry.typeCode) + ' ' + std::to_string(entry.bytes.size()) + ' ';
        for (uint8_t byte : entry.bytes)
            appendHex(text, byte);
        text += '\n';
    }
    uint32_t checksum = crc32(text.data(), text.size());
    text += closingPrefix + std::to_string(entries.size()) + ' ';
    for (int shift = 28; shift >= 0; shift -= 4)
        text += hexDigits[(checksum >> shift) & 0x0F];
    text += '\n';
    return text;
}

bool parse(const char* text, size_t size, std::vector<Entry>& entries)
{
    entries.clear();
    if (!text || size > maxFileSize || !parseEntries(text, size, entries)) {
        entries.clear();
        return false;
    }
    return true;
}

} // namespace settingsfile
