// SPDX-License-Identifier: MIT
// Reading the file a test says is being sent, and writing what arrived.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace stbsim {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data, std::string& error);
bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data, std::string& error);

// What the box should receive for an image file: its service word and the
// payload padded with 0xFF to a multiple of 1024.
struct ExpectedImage {
    std::uint8_t serviceWord[4] = {0, 0, 0, 0};
    std::vector<std::uint8_t> padded;
    bool magicValid = false;
};
bool ExpectImage(const std::vector<std::uint8_t>& file, ExpectedImage& img, std::string& error);

}  // namespace stbsim
