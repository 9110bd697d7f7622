// SPDX-License-Identifier: MIT
// SHA-256, so that a report line can name exactly what arrived.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace stbsim {

// Lower-case hexadecimal digest of the bytes.
std::string Sha256Hex(const std::uint8_t* data, std::size_t len);

}  // namespace stbsim
