#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>

namespace mkcard {

// An output file written by offset, so untouched ranges stay holes.
// Writes reaching past `limit` are clipped, which is how a card image is
// cut short.
class SparseFile {
public:
    SparseFile(const std::string& path,
               std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());
    ~SparseFile();
    SparseFile(const SparseFile&) = delete;
    SparseFile& operator=(const SparseFile&) = delete;

    void write_at(std::span<const std::uint8_t> bytes, std::uint64_t offset);

    // Sets the final length (extending with a hole if needed) and closes.
    void finish(std::uint64_t length);

private:
    [[noreturn]] void fail(const std::string& what) const;

    std::string path_;
    std::uint64_t limit_;
    int fd_ = -1;
};

}  // namespace mkcard
