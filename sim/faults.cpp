// SPDX-License-Identifier: MIT
#include "faults.h"

namespace stbsim {

std::string Chatter(std::size_t n) {
  static const std::string kText = "STB boot: loader v1.0 ready, waiting for host... ";
  std::string s;
  s.reserve(n);
  for (std::size_t i = 0; i < n; ++i) s += kText[i % kText.size()];
  return s;
}

std::string JunkNotC(std::size_t n) {
  static const std::string kJunk = "junk";
  std::string s;
  s.reserve(n);
  for (std::size_t i = 0; i < n; ++i) s += kJunk[i % kJunk.size()];
  return s;
}

std::uint8_t BitErrors::Apply(std::uint8_t b) {
  if (rate_ <= 0.0) return b;
  for (int bit = 0; bit < 8; ++bit) {
    if (uni_(rng_) < rate_) {
      b ^= static_cast<std::uint8_t>(1u << bit);
      ++flips_;
    }
  }
  return b;
}

}  // namespace stbsim
