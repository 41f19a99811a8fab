// What the demo host's exit code tells its caller.
#pragma once

enum ExitCode : int {
    ExitSuccess = 0,    // a signature was captured and both images written
    ExitUsage = 1,      // the command line is wrong
    ExitRecording = 2,  // the recording is missing or malformed
    ExitControl = 3,    // the control could not be registered or created
    ExitLoad = 4,       // the control's Load failed: no pad, or it did not open
    ExitCapture = 5,    // no signature was completed with the pad's "ok" button
    ExitImage = 6,      // the images could not be written
};
