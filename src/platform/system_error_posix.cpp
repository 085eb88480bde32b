#include <cstring>

#include "platform/system_error.hpp"

namespace quilbex::platform {

std::string systemErrorText(int errorCode) {
    std::string text = "\n";
    text += std::strerror(errorCode);
    text += "\n";
    return text;
}

}  // namespace quilbex::platform
