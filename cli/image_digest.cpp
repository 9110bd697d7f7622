// SPDX-License-Identifier: MIT
#include "image_digest.h"

#include "sha256.h"

#include "engine.h"

std::string ImageDigest(const uint8_t* image, uint32_t size)
{
    // Taken on the worker, before it answers the box: at most a few seconds
    // for the largest image, and a stop (or --timeout) cuts it short.
    constexpr uint32_t kSlice = 1u << 20;
    Sha256 h;
    for (uint32_t at = 0; at < size; at += kSlice) {
        if (EngineStopRequested())
            return {};
        h.Add(image + at, size - at < kSlice ? size - at : kSlice);
    }
    return h.HexDigest();
}
