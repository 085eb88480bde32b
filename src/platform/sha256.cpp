#include "platform/sha256.hpp"

namespace quilbex::platform {

std::string hexDigest(const Sha256Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (const uint8_t byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

}  // namespace quilbex::platform
