#pragma once
// The tool's fixed texts, each in one place.

#include <string>
#include <string_view>

#include "platform/console.hpp"

namespace quilbex::app {

extern const std::string_view usageText;
extern const std::string_view hintText;

// "Invalid value for -s: 1.5": an option's value as typed, empty when missing.
std::string invalidValueText(char option, std::string_view value);

void printUsage(platform::Console& console);    // standard error
void printVersion(platform::Console& console);  // standard output
void printHint(platform::Console& console);     // standard error

}  // namespace quilbex::app
