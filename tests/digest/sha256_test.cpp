// SPDX-License-Identifier: MIT
// SHA-256's published test vectors, and the same digests when the bytes come
// in uneven pieces, as the image digest feeds them.
#include "sha256.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Sha256, KnownDigestsWholeAndInPieces)
{
    std::string pattern;  // every byte value, past several blocks
    for (int i = 0; i < 300; ++i)
        for (int b = 0; b < 256; ++b)
            pattern += char(b);
    const struct {
        std::string data;
        const char* hex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 448 bits: the padding needs a block of its own.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {pattern, "f8b0585eb91f58c007a5634362c9f90d8543822c113f702523bc7b73408a9392"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.size());
        const auto* bytes = reinterpret_cast<const uint8_t*>(c.data.data());
        EXPECT_EQ(Sha256Hex(bytes, c.data.size()), c.hex);
        Sha256 pieces;
        for (size_t at = 0, step = 1; at < c.data.size(); at += step, step = step * 3 % 97 + 1)
            pieces.Add(bytes + at, std::min(step, c.data.size() - at));
        EXPECT_EQ(pieces.HexDigest(), c.hex);
    }
}

}  // namespace
