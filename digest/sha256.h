// SPDX-License-Identifier: MIT
// SHA-256 from the platform's own cryptography (OpenSSL's libcrypto on
// Linux, CNG's bcrypt on Windows), so that an event or a report line can
// name exactly the bytes that were sent or arrived. Those libraries use the
// processor's SHA instructions where it has them: a large image hashes at
// memory speed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Any number of times, in pieces of any size.
    void Add(const uint8_t* data, size_t size);
    // Lower-case hexadecimal digest; the object is spent afterwards.
    std::string HexDigest();

private:
    // The library's hashing state, one per platform file.
    struct State;
    std::array<uint8_t, 32> Finish();
    std::unique_ptr<State> state;
};

// The digest of one piece of memory, in lower-case hexadecimal.
std::string Sha256Hex(const uint8_t* data, size_t size);
