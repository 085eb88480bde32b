#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "item.hpp"

namespace mkcard {

enum class PayloadMode { Chirp, Field, Zero, Sparse };

struct Options {
    std::string output;
    std::vector<Item> items;
    std::uint64_t seed = 1;
    PayloadMode payload = PayloadMode::Chirp;
    bool junk_noise = false;
    std::uint64_t trailing = 0;
    std::optional<std::uint64_t> size;
    std::string payload_out;
    bool list = false;
    bool help = false;
};

Options parse_options(std::span<char* const> args);

const char* usage_text();

}  // namespace mkcard
