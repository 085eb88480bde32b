#pragma once

#include <stdexcept>
#include <string>

namespace mkcard {

// Anything the user can fix: reported as one line on stderr, exit status 1.
struct Error : std::runtime_error {
    explicit Error(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace mkcard
