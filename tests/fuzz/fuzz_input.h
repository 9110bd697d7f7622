// SPDX-License-Identifier: MIT
// Reads a fuzz input front to back. Past its end every read gives zero, so
// a short input is still a whole, valid script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_p(data), m_left(size) {}

    bool Empty() const { return m_left == 0; }
    size_t Left() const { return m_left; }

    uint8_t Byte()
    {
        if (m_left == 0)
            return 0;
        --m_left;
        return *m_p++;
    }
    uint16_t U16()
    {
        const uint16_t lo = Byte();
        return uint16_t(lo | (Byte() << 8));
    }
    // Up to n bytes (fewer at the end of the input).
    std::vector<uint8_t> Take(size_t n)
    {
        if (n > m_left)
            n = m_left;
        std::vector<uint8_t> out(m_p, m_p + n);
        m_p += n;
        m_left -= n;
        return out;
    }
    std::vector<uint8_t> Rest() { return Take(m_left); }

private:
    const uint8_t* m_p;
    size_t m_left;
};
