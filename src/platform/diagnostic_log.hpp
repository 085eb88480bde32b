#pragma once
// The diagnostic log: "name(line): message" on standard error. It is switched
// off in every run of the tool; tests switch it on to see what the call sites
// would report.

#include <string_view>

#include "platform/console.hpp"

namespace quilbex::platform {

class DiagnosticLog {
public:
    explicit DiagnosticLog(Console& console, bool enabled = false) : console_(console), enabled_(enabled) {}

    void write(std::string_view functionName, int line, std::string_view message) const;

private:
    Console& console_;
    bool enabled_;
};

}  // namespace quilbex::platform
