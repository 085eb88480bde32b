#pragma once
// One run of the tool, from the command line to the elapsed time.

#include <string>

#include "platform/console.hpp"

namespace quilbex::app {

// The exit status of the run.
int runQuilbex(int argc, const char* const* argv, platform::Console& console);

// Asks whether an existing archive may be replaced: only "y" or "Y" may.
bool confirmOverwrite(platform::Console& console);

}  // namespace quilbex::app
