// SPDX-License-Identifier: MIT
#include "faults.h"

namespace stbsim {

namespace {
// n bytes of the text, over and over.
std::string Repeated(const std::string& text, std::size_t n)
{
    std::string s;
    s.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        s += text[i % text.size()];
    return s;
}
}  // namespace

std::string Chatter(std::size_t n)
{
    return Repeated("STB boot: loader v1.0 ready, waiting for host... ", n);
}

std::string JunkNotC(std::size_t n)
{
    return Repeated("junk", n);
}

std::uint8_t BitErrors::Apply(std::uint8_t b)
{
    if (rate_ <= 0.0)
        return b;
    for (int bit = 0; bit < 8; ++bit) {
        if (uni_(rng_) < rate_) {
            b ^= static_cast<std::uint8_t>(1u << bit);
            ++flips_;
        }
    }
    return b;
}

}  // namespace stbsim
