// Stands in for the signer and the pad's cable: plugs in the virtual pad and
// writes a recorded signature on it at its recorded pace. With a real pad
// connected this part of the host does not exist; the control sees the same
// pad library either way.
#pragma once

#include <cstdint>
#include <string>

#include "recording.h"

class VirtualPadInput {
public:
    // Reads and checks a recording before anything else starts. False, with
    // error saying what is wrong (and on which line), when it cannot be used.
    bool load(const std::string& path, std::string& error);

    // Plugs in the pad, with the recording's coordinate range if it names one,
    // so that the control's Load finds it.
    void plugIn();
    // Starts writing the signature; the control must have been started.
    bool startWriting(std::string& error);
    // True once every report of the recording reached the control and the
    // control's input callback has returned.
    bool finished() const;

    uint32_t durationMs() const;

private:
    std::string path;
    vpad::Recording recording;
};
