#pragma once

#include "card_server.hpp"

#include <string>
#include <vector>

namespace cardfs {

// Mounts `server` read-only at `mountpoint` as the single file "card" and
// serves it until unmounted or signalled. `fuse_args` go to libfuse as given.
// Returns the process exit status.
int run_card_fs(CardServer& server, const std::string& program, const std::string& mountpoint,
                const std::vector<std::string>& fuse_args);

}  // namespace cardfs
