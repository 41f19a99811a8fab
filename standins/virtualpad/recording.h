// Recorded pad input, as replayed by vpad_replay_file.
//
// A recording is a small text file, one item per line:
//
//     tallowmark-pad-recording 1
//     # drawn on an ST-1500, 2 strokes
//     range 15360 9600
//     0 pen down 2210 4810
//     6 pen down 2236 4790
//     ...
//     3420 pen up 9120 5530
//     3900 button ok
//     3950 report 7
//
// - The first line is exactly the header "tallowmark-pad-recording 1".
// - Blank lines and lines whose first non-blank character is '#' are skipped.
// - "range <width> <height>" (each 1..65535) may appear once, before the
//   first event; replay then gives the pad that coordinate range and extent.
// - Every other line is an event: "<ms> <what> ...", where ms (0..86400000)
//   is the time since the start of the recording and never decreases.
//     <ms> pen down|up <x> <y>    a pen report (type 1), x and y 0..65535
//     <ms> button <name>          a button report (type 253), name 1..31
//                                 printable characters without blanks
//     <ms> report <type>          a report of that type code (0..2147483647)
//                                 with a zero payload
// - Words are separated by spaces or tabs; lines end in LF or CR LF and hold
//   at most 256 characters. At least one event is required.
//
// The parser is plain C++ with no Windows calls, so it is unit-tested and
// fuzzed on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vpad {

enum class EventKind : uint8_t { Pen, Button, Report };

struct RecordedEvent {
    uint32_t ms = 0;
    EventKind kind = EventKind::Report;
    bool contact = false;   // pen
    uint16_t x = 0;         // pen
    uint16_t y = 0;         // pen
    int32_t type = 0;       // report
    char button[32] = {};   // button, zero-terminated
};

struct Recording {
    bool hasRange = false;
    uint16_t width = 0;
    uint16_t height = 0;
    std::vector<RecordedEvent> events;
};

constexpr size_t maxRecordingLine = 256;
constexpr uint32_t maxRecordingMs = 86400000;

// Parses a whole recording into result. Returns an empty string on success,
// else what is wrong, starting with "line <n>: " (result is then empty).
std::string parseRecording(std::string_view text, Recording& result);

} // namespace vpad
