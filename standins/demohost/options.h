// The demo host's command line.
#pragma once

#include <string>

struct Options {
    std::string recording;      // empty: the recording shipped beside the host
    std::string outFolder;      // empty: the current folder
    bool showSettings = false;  // show the settings sheet before capturing
    bool registerComponents = false;  // true: regsvr32 and the registry, not the manifest
    bool plugInPad = true;      // false leaves the virtual pad unplugged
    bool window = false;        // sign in a window that shows the ink live
    bool help = false;
};

// Reads the arguments after the program name. Returns false, with error
// saying why, when they make no sense.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);

extern const char usageText[];
