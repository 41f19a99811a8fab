// The demo host's command line.
#include "options.h"

#include <cstring>

const char usageText[] =
    "Usage: demohost [options] [recording]\n"
    "\n"
    "Captures a signature through the Tallowmark signature pad control and writes it as\n"
    "signature.svg and signature.png. The virtual pad replays the recording at its recorded\n"
    "pace (by default recordings\\signature.txt beside demohost.exe).\n"
    "\n"
    "Options:\n"
    "  --window         sign in a window that shows the ink as it is written; OK saves\n"
    "                   the images, closing the window ends the program\n"
    "  --out FOLDER     write the images into FOLDER (default: the current folder)\n"
    "  --settings       show the control's settings sheet before capturing\n"
    "  --register       register the control and the properties component with regsvr32\n"
    "                   and find them through the registry, instead of through the host's\n"
    "                   own manifest (demohost.manifest), which needs no registration\n"
    "  --no-pad         leave the virtual pad unplugged (Load then fails)\n"
    "  --help           show this text\n"
    "\n"
    "Exit codes: 0 captured, 1 bad command line, 2 bad recording, 3 control not found (its\n"
    "manifests missing, or not registered) or not creatable, 4 Load failed, 5 no signature\n"
    "completed with \"ok\" (with --window: none saved before the window was closed), 6 images\n"
    "not written.\n";

bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error)
{
    options = Options();
    bool recordingGiven = false;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i];
        if (!strcmp(argument, "--help") || !strcmp(argument, "-h") || !strcmp(argument, "/?")) {
            options.help = true;
        } else if (!strcmp(argument, "--window")) {
            options.window = true;
        } else if (!strcmp(argument, "--settings")) {
            options.showSettings = true;
        } else if (!strcmp(argument, "--register")) {
            options.registerComponents = true;
        } else if (!strcmp(argument, "--no-pad")) {
            options.plugInPad = false;
        } else if (!strcmp(argument, "--out")) {
            if (i + 1 == argc || !argv[i + 1][0]) {
                error = "--out needs a folder";
                return false;
            }
            options.outFolder = argv[++i];
        } else if (argument[0] == '-' && argument[1] == '-') {
            error = std::string("unknown option ") + argument;
            return false;
        } else if (recordingGiven) {
            error = std::string("only one recording can be named; ") + argument + " is one too many";
            return false;
        } else if (!argument[0]) {
            error = "the recording's name is empty";
            return false;
        } else {
            options.recording = argument;
            recordingGiven = true;
        }
    }
    return true;
}
