// SPDX-License-Identifier: MIT
// The pieces of the --json events in-process: quoting every byte, reading
// the lines back as the production line's parent does.
#include "event_fields.h"
#include "json_check.h"
#include "json_events.h"
#include "stdout_writer.h"
#include "transfer_rate.h"

#include "engine.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

// Strict UTF-8 (RFC 3629) by decoding each code point: no overlong form, no
// surrogate, nothing past U+10FFFF, no sequence cut short.
bool ValidUtf8(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        const int more = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
        if (more < 0 || i + size_t(more) >= s.size())
            return false;
        uint32_t cp = more == 0 ? b : b & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            const unsigned char c = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (c & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kLeast[more] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += size_t(more) + 1;
    }
    return true;
}

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
    // No raw control byte on the wire, and nothing a strict UTF-8 reader
    // would refuse.
    const std::string quoted = JsonQuote(all);
    for (char c : quoted)
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20) << int(c);
    EXPECT_TRUE(ValidUtf8(quoted)) << quoted;
    for (const char* bad : {"", "{", "{\"a\":}", "{\"a\":\"x}", "{\"a\":1} x", "[1]"}) {
        std::map<std::string, std::string> f;
        EXPECT_FALSE(ParseEventFields(bad, &f)) << bad;
    }
}

// Text as it is when it is UTF-8; each byte that belongs to no valid
// sequence escaped on its own, so every byte still comes back.
TEST(CliEvents, QuotingKeepsUtf8AndEscapesTheRest)
{
    const struct {
        const char* name;
        std::string raw;
        std::string quoted;
    } cases[] = {
        {"Chinese file name", "\xE5\x9B\xBA\xE4\xBB\xB6.sdl", "\"\xE5\x9B\xBA\xE4\xBB\xB6.sdl\""},
        {"two bytes", "caf\xC3\xA9", "\"caf\xC3\xA9\""},
        {"four bytes", "\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
        {"highest code point", "\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\""},
        {"Latin-1 byte", "caf\xE9", "\"caf\\u00e9\""},
        {"lone continuation",
         "a\x80"
         "b",
         "\"a\\u0080b\""},
        {"overlong slash", "\xC0\xAF", "\"\\u00c0\\u00af\""},
        {"overlong three bytes", "\xE0\x80\xAF", "\"\\u00e0\\u0080\\u00af\""},
        {"surrogate", "\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
        {"cut short",
         "\xE5\x9B"
         "x",
         "\"\\u00e5\\u009bx\""},
        {"cut at the end", "ok \xE5\x9B", "\"ok \\u00e5\\u009b\""},
        {"JSON's own escapes", "\"\\\n\r\t\x01\x1F", "\"\\\"\\\\\\n\\r\\t\\u0001\\u001f\""},
        {"DEL as it is", "a\x7F", "\"a\x7F\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(JsonQuote(c.raw), c.quoted);
        const std::string line = "{\"event\":\"log\",\"text\":" + JsonQuote(c.raw) + "}";
        std::map<std::string, std::string> strict, fields;
        ASSERT_TRUE(JsonCheck::Object(line, &strict)) << line;
        EXPECT_EQ(strict["text"], c.raw);
        ASSERT_TRUE(ParseEventFields(line, &fields)) << line;
        EXPECT_EQ(fields["text"], c.raw);
        EXPECT_EQ(EventKind(line), "log");
    }
}

// The library holds the event; its text keeps the order the members were
// set in, three decimals for a time in seconds and the byte rule for
// strings, where the library's own dump would write 1.5 and \b, and refuse
// the byte that is not UTF-8.
TEST(CliEvents, EventTextKeepsTheWireFormat)
{
    EventObject e;
    e["event"] = "result";
    e["port"] = "COM\xE9";
    e["ok"] = false;
    e["exit_code"] = 5;
    e["seconds"] = 1.5;
    e["dropped"] = uint64_t(18446744073709551615ull);
    e["text"] = "\b\f";
    EXPECT_EQ(EventText(e), R"({"event":"result","port":"COM\u00e9","ok":false,"exit_code":5,"seconds":1.500,)"
                            R"("dropped":18446744073709551615,"text":"\u0008\u000c"})");
}

// One report per acknowledged block, with the bytes the engine counted:
// never past the image, and a count no higher than the last starts over,
// also when the percentage stays the same.
TEST(CliEvents, TransferRateCountsBlocksAndStartsOver)
{
    TransferRate r;
    EXPECT_TRUE(r.Acknowledged(1, 1024));
    EXPECT_FALSE(r.Acknowledged(1, 2048)) << "the same percentage";
    EXPECT_TRUE(r.Acknowledged(2, 3072));
    EXPECT_EQ(r.Now(0).bytes, 3072u);
    EXPECT_EQ(r.Now(2500).bytes, 2500u) << "the last block is short";
    EXPECT_EQ(r.Now(0).secondsLeft, -1) << "no size, no time left";
    EXPECT_TRUE(r.Acknowledged(1, 1024)) << "the box started again";
    EXPECT_EQ(r.Now(0).bytes, 1024u);
    EXPECT_FALSE(r.Acknowledged(1, 2048));
    EXPECT_TRUE(r.Acknowledged(1, 1024)) << "started again at the same percentage";
    EXPECT_EQ(r.Now(0).bytes, 1024u);
    r.Reset();
    EXPECT_TRUE(r.Acknowledged(1, 1024));
    EXPECT_EQ(r.Now(0).bytes, 1024u);
    r.Reset();
    EXPECT_FALSE(r.Acknowledged(0, 1024)) << "below 1 %: counted, no new percentage";
    EXPECT_TRUE(r.Acknowledged(1, 2048));
    EXPECT_EQ(r.Now(0).bytes, 2048u);
}

// The offset in effect, to the second when it has seconds (local mean time,
// as some zones keep for old dates).
TEST(CliEvents, TimeIsIsoWithTheWholeOffset)
{
    const struct {
        const char* tz;
        const char* offset;
    } cases[] = {
        {"UTC0", "+00:00"}, {"IST-5:30", "+05:30"},       {"NPT-5:45", "+05:45"},
        {"EST5", "-05:00"}, {"LMT-0:53:28", "+00:53:28"}, {"XMT+3:25:07", "-03:25:07"},
    };
    const char* was = getenv("TZ");
    const std::string saved = was ? was : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz);
        setenv("TZ", c.tz, 1);
        tzset();
        const std::string t = IsoTimeNow();
        EXPECT_TRUE(std::regex_match(t, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d(:\d\d)?)")))
            << t;
        EXPECT_EQ(t.substr(23), c.offset) << t;
    }
    if (was)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

// Standard output is a pipe nobody reads while the download makes its
// events; read afterwards, it holds every log line and the result, and what
// is missing is commentary, counted in the result. The writer is this
// process's own, so this is its only test.
TEST(CliEvents, StalledReaderLosesCommentaryNeverTheRecord)
{
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    fflush(stdout);
    const int console = dup(STDOUT_FILENO);
    ASSERT_GE(console, 0);
    // From here to the restore nothing may print: gtest writes to fd 1.
    dup2(out[1], STDOUT_FILENO);
    close(out[1]);
    StdoutWriterStart();
    JsonEventsEnable("/dev/ttyUSB0", 0, true);
    auto echo = [](const std::string& bytes) {
        JsonEchoSink(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    };
    // A character the log line cuts in two stays one character.
    echo("boot \xE5\x9B");
    JsonLogTap("first\r\n", LOG_INFO);
    echo("\xBA ok\n");
    // Three times what the writer holds for a slow reader, 256 bytes an event.
    constexpr int kRuns = 3 * 4096;
    for (int i = 0; i < kRuns; ++i)
        echo(std::string(256, char('a' + i % 26)));
    JsonLogTap("second\n", LOG_NOTICE);
    JsonEmitResult(0);

    std::string got;
    std::thread reader([&got, fd = out[0]] {
        char buf[65536];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            got.append(buf, size_t(n));
    });
    const StdoutLoss lost = StdoutFinish(300, [] { return true; });
    dup2(console, STDOUT_FILENO);
    close(console);
    reader.join();
    close(out[0]);

    std::vector<std::map<std::string, std::string>> events;
    std::istringstream lines(got);
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> m;
        ASSERT_TRUE(JsonCheck::Object(line, &m)) << line;
        events.push_back(m);
    }
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events[0]["data"], "boot ");
    EXPECT_EQ(events[1]["text"], "first");
    EXPECT_EQ(events[2]["data"], "\xE5\x9B\xBA ok\n");
    EXPECT_NE(got.find("\"data\":\"\xE5\x9B\xBA ok\\n\""), std::string::npos) << "UTF-8 as it is on the wire";
    const auto& result = events.back();
    EXPECT_EQ(result.at("event"), "result");
    EXPECT_EQ(events[events.size() - 2].at("text"), "second");
    int boxOutput = 0;
    for (const auto& e : events)
        boxOutput += e.at("event") == "box-output";
    const unsigned long long dropped = strtoull(result.at("dropped").c_str(), nullptr, 10);
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(boxOutput + dropped, kRuns + 2u);
    EXPECT_EQ(lost.pieces, dropped) << "all that was kept has been written";
}

}  // namespace
