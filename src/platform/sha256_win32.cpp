#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <limits>
#include <new>

#include "platform/sha256.hpp"

namespace quilbex::platform {
namespace {

// The algorithm's provider, opened once for the process.
BCRYPT_ALG_HANDLE provider() {
    static const BCRYPT_ALG_HANDLE opened = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) throw std::bad_alloc();
        return handle;
    }();
    return opened;
}

BCRYPT_HASH_HANDLE start() {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(provider(), &hash, nullptr, 0, nullptr, 0, 0) != 0) throw std::bad_alloc();
    return hash;
}

BCRYPT_HASH_HANDLE handleOf(void* state) { return static_cast<BCRYPT_HASH_HANDLE>(state); }

}  // namespace

Sha256::Sha256() : state_(start()) {}

Sha256::~Sha256() { BCryptDestroyHash(handleOf(state_)); }

void Sha256::add(std::span<const std::byte> bytes) {
    constexpr size_t largest = std::numeric_limits<ULONG>::max();
    while (!bytes.empty()) {
        const size_t piece = std::min(bytes.size(), largest);
        BCryptHashData(handleOf(state_), reinterpret_cast<PUCHAR>(const_cast<std::byte*>(bytes.data())),
                       static_cast<ULONG>(piece), 0);
        bytes = bytes.subspan(piece);
    }
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    BCryptFinishHash(handleOf(state_), digest.data(), static_cast<ULONG>(digest.size()), 0);
    BCryptDestroyHash(handleOf(state_));
    state_ = start();
    return digest;
}

}  // namespace quilbex::platform
