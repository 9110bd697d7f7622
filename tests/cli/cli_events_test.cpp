// SPDX-License-Identifier: MIT
// The pieces of the --json events in-process: quoting every byte, reading
// the lines back as the production line's parent does, and the digest.
#include "event_fields.h"
#include "json_check.h"
#include "json_events.h"
#include "sha256.h"

#include <gtest/gtest.h>
#include <regex>

namespace {

TEST(CliEvents, EveryByteSurvivesQuotingAndReadingBack)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    const std::string line = "{\"event\":\"box-output\",\"data\":" + JsonQuote(all) + ",\"n\":3,\"ok\":true}";
    std::map<std::string, std::string> strict, fields;
    ASSERT_TRUE(JsonCheck::Object(line, &strict)) << line;
    EXPECT_EQ(strict["data"], all);
    ASSERT_TRUE(ParseEventFields(line, &fields));
    EXPECT_EQ(fields["data"], all);
    EXPECT_EQ(fields["n"], "3");
    EXPECT_EQ(fields["ok"], "true");
    // Printable ASCII only on the wire.
    for (char c : JsonQuote(all))
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << int(c);
    for (const char* bad : {"", "{", "{\"a\":}", "{\"a\":\"x}", "{\"a\":1} x", "[1]"}) {
        std::map<std::string, std::string> f;
        EXPECT_FALSE(ParseEventFields(bad, &f)) << bad;
    }
}

TEST(CliEvents, TimeIsIsoWithOffset)
{
    EXPECT_TRUE(std::regex_match(IsoTimeNow(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
        << IsoTimeNow();
}

TEST(CliEvents, Sha256KnownDigests)
{
    const struct {
        std::string data;
        const char* hex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        Sha256 whole;
        whole.Add(reinterpret_cast<const uint8_t*>(c.data.data()), c.data.size());
        EXPECT_EQ(whole.HexDigest(), c.hex) << c.data.size();
        // Fed in uneven pieces, the same.
        Sha256 pieces;
        for (size_t at = 0, step = 1; at < c.data.size(); at += step, step = step * 3 % 97 + 1)
            pieces.Add(reinterpret_cast<const uint8_t*>(c.data.data()) + at, std::min(step, c.data.size() - at));
        EXPECT_EQ(pieces.HexDigest(), c.hex) << c.data.size();
    }
}

}  // namespace
