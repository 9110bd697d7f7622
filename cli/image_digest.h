// SPDX-License-Identifier: MIT
// The SHA-256 that names the image an event speaks of.
#pragma once

#include <cstdint>
#include <string>

// The padded image's digest in lower-case hexadecimal; empty when a stop
// (or --timeout) came first.
std::string ImageDigest(const uint8_t* image, uint32_t size);
