// SPDX-License-Identifier: MIT
// What does not depend on the library that hashes.
#include "sha256.h"

std::string Sha256::HexDigest()
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : Finish()) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string Sha256Hex(const uint8_t* data, size_t size)
{
    Sha256 h;
    h.Add(data, size);
    return h.HexDigest();
}
