#pragma once
// The tool's fixed texts, each in one place.

#include <string>
#include <string_view>

#include "platform/console.hpp"
#include "platform/system_error.hpp"

namespace quilbex::app {

extern const std::string_view usageText;
extern const std::string_view hintText;
// -z given without -g.
extern const std::string_view offsetWithoutGuanoText;
// After a card read failed with a device error, when -r was not given.
extern const std::string_view rescueHintText;

// "Give options one at a time: -d -g" for the argument "-dg".
std::string combinedOptionsText(std::string_view argument);

// "Invalid value for -s: 1.5": an option's value as typed, empty when missing.
std::string invalidValueText(char option, std::string_view value);

// "2.2.3b": the version as the version line gives it.
std::string versionText();
// "Error: Can't write the report page report.html: No space left on device"
std::string reportFailedText(const std::string& path, platform::SystemError error);

void printUsage(platform::Console& console);    // standard error
void printVersion(platform::Console& console);  // standard output
void printHint(platform::Console& console);     // standard error
// With -r -V, when the card could not be read past the system's cache.
void printCachedReadsNote(platform::Console& console);  // standard output

}  // namespace quilbex::app
