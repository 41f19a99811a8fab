// Drives the virtual pad through its control interface.
#include "virtual_pad_input.h"

#include <windows.h>

#include <fstream>

#include "virtualpad.h"

namespace {
constexpr std::streamoff largestRecording = 16 * 1024 * 1024;
}

bool VirtualPadInput::load(const std::string& recordingPath, std::string& error)
{
    std::ifstream file(recordingPath, std::ios::binary);
    if (!file) {
        error = "cannot open the recording " + recordingPath;
        return false;
    }
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    file.seekg(0, std::ios::beg);
    if (size < 0 || size > largestRecording) {
        error = "the recording " + recordingPath + " is not a readable file of at most 16 MiB";
        return false;
    }
    std::string text(static_cast<size_t>(size), '\0');
    if (!file.read(&text[0], size)) {
        error = "cannot read the recording " + recordingPath;
        return false;
    }
    std::string problem = vpad::parseRecording(text, recording);
    if (!problem.empty()) {
        error = "the recording " + recordingPath + " is malformed: " + problem;
        return false;
    }
    path = recordingPath;
    return true;
}

void VirtualPadInput::plugIn()
{
    if (recording.hasRange) {
        vpad_set_coordinate_range(recording.width, recording.height);
        vpad_set_device_extent(recording.width, recording.height);
    }
    vpad_connect(nullptr);
}

bool VirtualPadInput::startWriting(std::string& error)
{
    if (vpad_replay_file(path.c_str(), 1) < 0) {
        error = vpad_last_error();
        return false;
    }
    return true;
}

bool VirtualPadInput::finished() const
{
    return vpad_wait_idle(0) != 0;
}

uint32_t VirtualPadInput::durationMs() const
{
    return recording.events.empty() ? 0 : recording.events.back().ms;
}
