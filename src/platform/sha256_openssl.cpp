#include <openssl/evp.h>

#include <new>

#include "platform/sha256.hpp"

namespace quilbex::platform {
namespace {

EVP_MD_CTX* contextOf(void* state) { return static_cast<EVP_MD_CTX*>(state); }

// The digest's fetch and the context's state are the only things that can
// fail, both for want of memory.
void start(EVP_MD_CTX* context) {
    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

}  // namespace

Sha256::Sha256() : state_(EVP_MD_CTX_new()) {
    if (state_ == nullptr) throw std::bad_alloc();
    start(contextOf(state_));
}

Sha256::~Sha256() { EVP_MD_CTX_free(contextOf(state_)); }

void Sha256::add(std::span<const std::byte> bytes) { EVP_DigestUpdate(contextOf(state_), bytes.data(), bytes.size()); }

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    EVP_DigestFinal_ex(contextOf(state_), digest.data(), nullptr);
    start(contextOf(state_));
    return digest;
}

}  // namespace quilbex::platform
