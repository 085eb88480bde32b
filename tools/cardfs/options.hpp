#pragma once

#include "read_plan.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace cardfs {

struct Options {
    std::string image;
    std::string mountpoint;
    std::optional<double> rate_mbps;
    std::chrono::milliseconds delay{0};
    std::vector<ByteRange> failing;
    std::optional<std::uint64_t> max_chunk;
    std::optional<std::uint64_t> eof_at;
    std::optional<std::uint64_t> gone_at;
    std::optional<std::string> log_path;
    std::vector<std::string> fuse_args;  // -f, -s, -d, -o OPTS: handed to libfuse
    bool help = false;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws UsageError naming the offending argument.
Options parse_options(int argc, char** argv);

std::string usage_text(const std::string& program);

}  // namespace cardfs
