#pragma once
// The command line: the only configuration the tool has.

#include <string>

#include "platform/console.hpp"

namespace quilbex::app {

struct Options {
    std::string drive;    // first positional argument, as typed
    std::string zipPath;  // second positional argument, as typed
    bool pairGiven = false;  // exactly two positionals and no stopping option; with list, one will do
    bool verbose = false;
    bool showElapsedTime = false;
    bool rescue = false;  // go on past unreadable sectors
    bool list = false;    // list the card's recordings and write nothing: zipPath is not used
};

// Fills the options, or shows the usage, version or drive report and stops
// there. False when the command line is unusable: the caller prints the hint.
bool parseCommandLine(int argc, const char* const* argv, Options& options, platform::Console& console);

}  // namespace quilbex::app
