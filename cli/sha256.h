// SPDX-License-Identifier: MIT
// SHA-256, so that an event can name exactly the image a box was sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    void Add(const uint8_t* data, size_t size);
    // Lower-case hexadecimal digest; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* p);
    uint32_t m_h[8];
    uint8_t m_buf[64];
    size_t m_fill = 0;
    uint64_t m_total = 0;
};
