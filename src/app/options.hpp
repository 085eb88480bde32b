#pragma once
// The command line: the only configuration the tool has.

#include <cstdint>
#include <optional>
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
    bool folder = false;  // WAV files into the folder zipPath names instead of a zip
    uint32_t secondsPerFile = 0;  // 1 to 86400: cut recordings into pieces; 0: whole recordings
    bool guano = false;  // a GUANO chunk in every WAV file
    std::optional<int> utcOffsetMinutes;  // -12:00 to +14:00 in quarter hours, for GUANO
    bool list = false;    // list the card's recordings and write nothing: zipPath is not used
    bool check = false;   // read every file back from the disk and compare it with the card
    std::string mirror;   // with -m: the second copy's zip, or with -d folder, as typed; empty without
    std::string namePrefix;  // names PREFIX_YYYYMMDD_HHMMSS.wav; empty: the card's own names
    std::string reportPath;  // -R: where the report page goes; empty without
};

// Fills the options, or shows the usage, version or drive report and stops
// there. False when the command line is unusable: the caller prints the hint.
bool parseCommandLine(int argc, const char* const* argv, Options& options, platform::Console& console);

}  // namespace quilbex::app
