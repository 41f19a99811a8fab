// Parser of recorded pad input; the format is described in recording.h.
#include "recording.h"

#include <cstring>
#include <utility>

namespace vpad {

namespace {

constexpr std::string_view header = "tallowmark-pad-recording 1";
constexpr size_t maxWords = 6;

struct Words {
    std::string_view word[maxWords];
    size_t count = 0;
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Splits a line at blanks; false when it holds more than maxWords words.
bool split(std::string_view line, Words& words)
{
    size_t i = 0;
    while (i < line.size()) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (words.count == maxWords)
            return false;
        words.word[words.count++] = line.substr(start, i - start);
    }
    return true;
}

// A plain decimal number no larger than max; no sign, no leading blanks.
bool parseNumber(std::string_view word, uint32_t max, uint32_t& value)
{
    if (word.empty() || word.size() > 10)
        return false;
    uint64_t result = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + static_cast<unsigned>(c - '0');
    }
    if (result > max)
        return false;
    value = static_cast<uint32_t>(result);
    return true;
}

std::string lineError(size_t line, std::string_view what)
{
    std::string message = "line " + std::to_string(line) + ": ";
    message += what;
    return message;
}

std::string quoted(std::string_view word)
{
    std::string text = "'";
    text += word;
    text += "'";
    return text;
}

// Parses one event line into event; returns what is wrong, or "".
std::string parseEvent(const Words& words, RecordedEvent& event)
{
    uint32_t ms;
    if (!parseNumber(words.word[0], maxRecordingMs, ms))
        return "expected a time in milliseconds (0.." + std::to_string(maxRecordingMs) + "), found " + quoted(words.word[0]);
    event.ms = ms;
    if (words.count < 2)
        return "missing event after the time";
    std::string_view what = words.word[1];

    if (what == "pen") {
        if (words.count != 5)
            return "expected '<ms> pen down|up <x> <y>'";
        if (words.word[2] == "down")
            event.contact = true;
        else if (words.word[2] != "up")
            return "pen state must be 'down' or 'up', found " + quoted(words.word[2]);
        uint32_t x, y;
        if (!parseNumber(words.word[3], 65535, x))
            return "x must be 0..65535, found " + quoted(words.word[3]);
        if (!parseNumber(words.word[4], 65535, y))
            return "y must be 0..65535, found " + quoted(words.word[4]);
        event.kind = EventKind::Pen;
        event.x = static_cast<uint16_t>(x);
        event.y = static_cast<uint16_t>(y);
        return {};
    }
    if (what == "button") {
        if (words.count != 3)
            return "expected '<ms> button <name>'";
        std::string_view name = words.word[2];
        if (name.size() >= sizeof event.button)
            return "button name longer than " + std::to_string(sizeof event.button - 1) + " characters";
        event.kind = EventKind::Button;
        std::memcpy(event.button, name.data(), name.size());
        return {};
    }
    if (what == "report") {
        uint32_t type;
        if (words.count != 3)
            return "expected '<ms> report <type>'";
        if (!parseNumber(words.word[2], 2147483647u, type))
            return "report type must be 0..2147483647, found " + quoted(words.word[2]);
        event.kind = EventKind::Report;
        event.type = static_cast<int32_t>(type);
        return {};
    }
    return "unknown event " + quoted(what) + " (expected pen, button or report)";
}

} // namespace

std::string parseRecording(std::string_view text, Recording& result)
{
    // Built aside so that a failed parse leaves result empty.
    result = Recording();
    Recording out;
    if (text.empty())
        return lineError(1, "empty recording, expected the header " + quoted(header));

    size_t lineNumber = 0;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(position, end - position);
        position = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        if (line.size() > maxRecordingLine)
            return lineError(lineNumber, "line longer than " + std::to_string(maxRecordingLine) + " characters");
        if (lineNumber == 1) {
            if (line != header)
                return lineError(1, "expected the header " + quoted(header));
            continue;
        }

        size_t first = 0;
        while (first < line.size() && isBlank(line[first]))
            ++first;
        if (first == line.size() || line[first] == '#')
            continue;
        for (char c : line) {
            auto byte = static_cast<unsigned char>(c);
            if (!isBlank(c) && (byte < 0x21 || byte > 0x7e))
                return lineError(lineNumber, "unexpected character code " + std::to_string(byte));
        }

        Words words;
        if (!split(line, words))
            return lineError(lineNumber, "too many words");

        if (words.word[0] == "range") {
            if (out.hasRange || !out.events.empty())
                return lineError(lineNumber, "'range' may appear once, before the first event");
            uint32_t width, height;
            if (words.count != 3 || !parseNumber(words.word[1], 65535, width) || !parseNumber(words.word[2], 65535, height)
                || width == 0 || height == 0)
                return lineError(lineNumber, "expected 'range <width> <height>', each 1..65535");
            out.hasRange = true;
            out.width = static_cast<uint16_t>(width);
            out.height = static_cast<uint16_t>(height);
            continue;
        }

        RecordedEvent event;
        std::string problem = parseEvent(words, event);
        if (!problem.empty())
            return lineError(lineNumber, problem);
        if (!out.events.empty() && event.ms < out.events.back().ms)
            return lineError(lineNumber, "time " + std::to_string(event.ms) + " is before the previous event's "
                + std::to_string(out.events.back().ms));
        out.events.push_back(event);
    }

    if (out.events.empty())
        return lineError(lineNumber, "the recording holds no events");
    result = std::move(out);
    return {};
}

} // namespace vpad
