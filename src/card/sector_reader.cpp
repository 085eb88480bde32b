#include "card/sector_reader.hpp"

#include <algorithm>
#include <string>

#include "card/bit_order.hpp"
#include "platform/raw_device.hpp"
#include "platform/system_error.hpp"

namespace quilbex::card {

std::optional<ReadFailure> readSectors(platform::RawDevice& device, std::span<std::byte> destination) {
    size_t done = 0;
    while (done < destination.size()) {
        const auto chunk = static_cast<uint32_t>(std::min<size_t>(destination.size() - done, maxReadLength));
        const auto result = device.read(destination.data() + done, chunk);
        if (!result.ok) return ReadFailure{result.bytes, result.error};
        // Nothing more to read before the count is met: the card ended early.
        if (result.bytes == 0) return ReadFailure{0, platform::endOfDataError()};
        done += result.bytes;
    }
    restoreBitOrder(destination.data(), destination.size());
    return std::nullopt;
}

void reportReadFailure(Console& console, const ReadFailure& failure) {
    platform::printSystemError(console, failure.error);
    console.errLine("Read failed " + std::to_string(failure.reportedBytes));
}

bool failedOnSectors(const ReadFailure& failure) {
    return failure.error != platform::endOfDataError() && !platform::meansCardGone(failure.error);
}

}  // namespace quilbex::card
