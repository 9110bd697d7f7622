// SPDX-License-Identifier: MIT
// SHA-256 through Windows' CNG primitives (bcrypt.dll).
#include "sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

namespace {

// Only a failed allocation gets here; there is no digest to go on with.
void Check(NTSTATUS status)
{
    if (!BCRYPT_SUCCESS(status))
        throw std::runtime_error("SHA-256: bcrypt failed");
}

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State()
    {
        if (hash)
            BCryptDestroyHash(hash);
        if (alg)
            BCryptCloseAlgorithmProvider(alg, 0);
    }
};

Sha256::Sha256() : state(std::make_unique<State>())
{
    Check(BCryptOpenAlgorithmProvider(&state->alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    // No buffer of ours for the hash object: CNG keeps it (Windows 7 on).
    Check(BCryptCreateHash(state->alg, &state->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

void Sha256::Add(const uint8_t* data, size_t size)
{
    // CNG counts in ULONG: a larger piece goes in parts.
    constexpr size_t kMost = 1u << 30;
    while (size > 0) {
        const size_t take = std::min(size, kMost);
        Check(BCryptHashData(state->hash, const_cast<PUCHAR>(data), ULONG(take), 0));
        data += take;
        size -= take;
    }
}

std::array<uint8_t, 32> Sha256::Finish()
{
    std::array<uint8_t, 32> digest{};
    Check(BCryptFinishHash(state->hash, digest.data(), ULONG(digest.size()), 0));
    return digest;
}
