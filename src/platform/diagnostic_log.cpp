#include "platform/diagnostic_log.hpp"

#include <string>

namespace quilbex::platform {

void DiagnosticLog::write(std::string_view functionName, int line, std::string_view message) const {
    if (!enabled_) return;
    std::string entry(functionName);
    entry.append("(").append(std::to_string(line)).append("): ").append(message);
    console_.errLine(entry);
}

}  // namespace quilbex::platform
