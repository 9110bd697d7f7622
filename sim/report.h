// SPDX-License-Identifier: MIT
// Report lines on standard output, each beginning "stbsim: " and flushed at
// once, so that a test reading the pipe sees them as they happen.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

namespace stbsim {

void Report(const std::string& text);
// A line written just before the PASS or FAIL verdict (the bit-error count).
void SetVerdictPreamble(std::function<std::string()> preamble);
std::string Hex(const unsigned char* data, std::size_t len);

}  // namespace stbsim
