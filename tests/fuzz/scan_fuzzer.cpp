// Hostile card data: the bytes of block headers as they might lie on a card,
// fed through the header decoding and the card walk. The walk must end,
// never read outside what it asks for, and leave a table whose bounds make
// sense, whatever the card holds.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "card/card_device.hpp"
#include "scan/card_scan.hpp"

namespace {

using namespace quilbex;

// A card of blockCount blocks whose first bytes come from the fuzzer input;
// every other byte is zero. Reads past the card's end deliver nothing.
class FuzzCard final : public platform::RawDevice {
public:
    FuzzCard(const uint8_t* headers, size_t headerBytes, int64_t size)
        : headers_(headers, headers + headerBytes), size_(size) {}

    platform::SeekResult seek(int64_t offset) override {
        position_ = offset;
        return {offset, {}};
    }

    platform::ReadResult read(std::byte* destination, uint32_t length) override {
        const int64_t available = std::max<int64_t>(0, size_ - position_);
        const auto count = static_cast<uint32_t>(std::min<int64_t>(length, available));
        std::memset(destination, 0, count);
        const int64_t block = position_ / scan::blockSize;
        const int64_t within = position_ % scan::blockSize;
        const size_t headerSlot = static_cast<size_t>(block) * headerSlotSize;
        for (uint32_t i = 0; i < count; ++i) {
            const int64_t at = within + i;
            if (at < headerSlotSize && headerSlot + static_cast<size_t>(at) < headers_.size())
                destination[i] = std::byte{headers_[headerSlot + static_cast<size_t>(at)]};
        }
        position_ += count;
        return {true, count, {}};
    }

    size_t bufferAlignment() const override { return 64; }

    static constexpr int64_t headerSlotSize = 12;

private:
    std::vector<uint8_t> headers_;
    int64_t size_;
    int64_t position_ = 0;
};

void checkTable(const scan::ScanResult& result, int64_t blockCount) {
    const auto& table = result.table;
    const int64_t examinable = std::max<int64_t>(1, blockCount);
    if (table.recordingCount < 0 || table.recordingCount > examinable) std::abort();
    for (int32_t k = 0; k < table.recordingCount; ++k) {
        if (table.firstBlock(k) >= table.endBlock(k)) std::abort();
        if (table.endBlock(k) > examinable) std::abort();
    }
    if (result.badBlockCount > 5) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // First byte: the sector size (tiny ones included); two more: trailing bytes.
    const uint32_t sectorSizes[] = {512, 4096, 1024, 12, 11, 0, 2048, 520};
    const uint32_t sectorSize = sectorSizes[data[0] % 8];
    const int64_t trailing = (int64_t{data[1]} << 8 | data[2]) * 4099;
    data += 3;
    size -= 3;
    const int64_t blockCount = static_cast<int64_t>(size / FuzzCard::headerSlotSize) + 1;
    const int64_t cardSize = blockCount * scan::blockSize + trailing;

    FILE* sink = std::fopen("/dev/null", "w");
    platform::Console console(sink, sink);
    const platform::DiagnosticLog log(console, true);
    card::CardDevice card(std::make_unique<FuzzCard>(data, size, cardSize), log);
    const auto result = scan::walkCard(card, console, log, sectorSize, cardSize);
    checkTable(result, cardSize / scan::blockSize);
    std::fclose(sink);
    return 0;
}
