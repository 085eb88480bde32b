#pragma once
// zlib's inflate as the judge of deflate data the export writes.

#include <zlib.h>

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace quilbex::testing {

// What the raw deflate stream inflates to; nothing when zlib rejects it, or
// when it does not end with its final block exactly at its last byte.
inline std::optional<std::vector<std::byte>> inflateRaw(std::span<const std::byte> deflated) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) return std::nullopt;
    std::vector<std::byte> out;
    std::vector<unsigned char> buffer(65536);
    stream.next_in = reinterpret_cast<unsigned char*>(const_cast<std::byte*>(deflated.data()));
    stream.avail_in = static_cast<uInt>(deflated.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        status = inflate(&stream, Z_NO_FLUSH);
        const auto* produced = reinterpret_cast<const std::byte*>(buffer.data());
        out.insert(out.end(), produced, produced + (buffer.size() - stream.avail_out));
    }
    const bool whole = status == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!whole) return std::nullopt;
    return out;
}

}  // namespace quilbex::testing
