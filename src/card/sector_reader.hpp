#pragma once
// Reading whole sectors from the card's current position, with the bit order
// of every byte restored.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "card/card_device.hpp"
#include "platform/system_error.hpp"

namespace quilbex::card {

// The platform's read failed (or delivered nothing before the count was met):
// the bytes that failing read reported, and the platform's error.
struct ReadFailure {
    uint32_t reportedBytes = 0;
    platform::SystemError error;
};

// The largest single platform read: one card block.
inline constexpr uint32_t maxReadLength = 4194304;

// Fills the destination from the current position, reading the rest after a
// short read, then restores the bit order. The destination must be aligned
// for the device. Nothing on success; the failure otherwise.
std::optional<ReadFailure> readSectors(platform::RawDevice& device, std::span<std::byte> destination);

// The fatal read messages: the system error text on standard output, then
// "Read failed N" on standard error.
void reportReadFailure(Console& console, const ReadFailure& failure);

// Whether the read failed on the card's sectors, which the rescue can read
// past: not at the end of an image, nor because the card is gone.
bool failedOnSectors(const ReadFailure& failure);

}  // namespace quilbex::card
