// SPDX-License-Identifier: MIT
// SHA-256 through OpenSSL's EVP interface (libcrypto).
#include "sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

struct Sha256::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

namespace {

// Only a failed allocation gets here; there is no digest to go on with.
void Check(int ok)
{
    if (ok != 1)
        throw std::runtime_error("SHA-256: libcrypto failed");
}

}  // namespace

Sha256::Sha256() : state(std::make_unique<State>())
{
    Check(state->ctx != nullptr);
    Check(EVP_DigestInit_ex(state->ctx, EVP_sha256(), nullptr));
}

Sha256::~Sha256() = default;

void Sha256::Add(const uint8_t* data, size_t size)
{
    Check(EVP_DigestUpdate(state->ctx, data, size));
}

std::array<uint8_t, 32> Sha256::Finish()
{
    std::array<uint8_t, 32> digest{};
    unsigned int length = 0;
    Check(EVP_DigestFinal_ex(state->ctx, digest.data(), &length));
    Check(length == digest.size());
    return digest;
}
