// A file read back a buffer ahead: the reads stop at the end the caller
// allows (the bytes after it may still be written) and go on from there
// once it is moved, and the bytes come in order, whole, whatever the
// buffer's size.

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>

#include "platform/read_ahead.hpp"
#include "test_support.hpp"

namespace quilbex::platform {
namespace {

std::string readUpTo(ReadAhead& file, uint64_t end) {
    file.allow(end);
    std::string got;
    for (std::span<const std::byte> bytes{};;) {
        EXPECT_FALSE(file.next(bytes).any());
        if (bytes.empty()) return got;
        got.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
}

TEST(ReadAhead, stops_at_the_allowed_end_and_goes_on_from_it) {
    testing::TempDir dir;
    std::string content;
    for (int i = 0; content.size() < 30000; ++i) content += std::to_string(i) + ",";
    const std::string path = dir.write("file", content);
    // (buffer size, allowed ends in turn)
    const struct {
        size_t buffer;
        std::vector<uint64_t> ends;
    } cases[] = {{4096, {8192, 8192, 12288, UINT64_MAX}}, {65536, {4096, UINT64_MAX}}, {8192, {UINT64_MAX}}};
    for (const auto& [buffer, ends] : cases) {
        ReadAhead file(buffer);
        ASSERT_FALSE(file.open(path).any());
        size_t at = 0;
        for (const uint64_t end : ends) {
            const size_t expected = static_cast<size_t>(std::min<uint64_t>(end, content.size())) - at;
            EXPECT_EQ(readUpTo(file, end), content.substr(at, expected)) << buffer << " up to " << end;
            at += expected;
        }
    }
}

}  // namespace
}  // namespace quilbex::platform
