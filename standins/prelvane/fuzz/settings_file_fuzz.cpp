// Fuzz target of the settings file reader. Whatever the input, the reader
// either refuses it whole or returns entries within the limits that write
// back to a file which reads the same. Inputs are tried as they are and as
// the body of a file closed with a correct count and checksum, so that the
// fuzzer also reaches past the checksum.
#include "../settings_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

void check(const std::string& text)
{
    std::vector<settingsfile::Entry> entries;
    if (!settingsfile::parse(text.data(), text.size(), entries)) {
        if (!entries.empty())
            abort();
        return;
    }
    if (entries.size() > settingsfile::maxEntries)
        abort();
    for (const settingsfile::Entry& entry : entries)
        if (!settingsfile::withinLimits(entry))
            abort();
    std::string written = settingsfile::format(entries);
    if (written.size() > settingsfile::maxFileSize)
        abort();
    std::vector<settingsfile::Entry> again;
    if (!settingsfile::parse(written.data(), written.size(), again) || again != entries)
        abort();
}

std::string closed(const std::string& body)
{
    size_t lines = static_cast<size_t>(std::count(body.begin(), body.end(), '\n'));
    char closing[32];
    snprintf(closing, sizeof closing, "End %zu %08X\n", lines ? lines - 1 : 0,
             static_cast<unsigned>(settingsfile::crc32(body.data(), body.size())));
    return body + closing;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    check(text);
    check(closed(text));
    return 0;
}
