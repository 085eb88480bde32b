#pragma once
// SHA-256 of a stream of bytes, by the system's library: OpenSSL's libcrypto
// on Linux (the processor's SHA instructions where it has them), CNG on
// Windows. The export hashes each file as it writes it, and the check hashes
// it again as it reads it back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quilbex::platform {

using Sha256Digest = std::array<uint8_t, 32>;

// Not for concurrent use; one object per thread that hashes.
class Sha256 {
public:
    Sha256();  // throws std::bad_alloc when the library has no state to give
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(std::span<const std::byte> bytes);
    // The digest of the bytes added since the last one (or since the
    // object was made); the next byte starts a new stream.
    Sha256Digest finish();

private:
    void* state_;  // the library's hash context
};

// 64 lowercase hex digits, as checksum lists hold them.
std::string hexDigest(const Sha256Digest& digest);

}  // namespace quilbex::platform
