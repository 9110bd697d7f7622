// SPDX-License-Identifier: MIT
// The record of a box as a line of the results file, and the file itself:
// appended, never rewritten, and a file that cannot take its lines says why.
#include "host_support.h"
#include "results_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

BoxRecord Passed()
{
    BoxRecord r;
    r.time = "2026-12-10T10:41:03.052+01:00";
    r.port = "/dev/ttyUSB0";
    r.adapter = "usb:0403:6001:A10K3B";
    r.box = 3;
    r.file = "fw.dat";
    r.sha256 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    r.bytes = 262144;
    r.seconds = 24.25;
    r.ok = true;
    r.reason = "sent";
    r.exitCode = 0;
    return r;
}

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(StationResults, RecordLineHasTheMembersInOrder)
{
    struct Case {
        const char* what;
        void (*change)(BoxRecord&);
        const char* line;
    };
    // clang-format off
    const Case cases[] = {
        {"a box that passed", [](BoxRecord&) {},
         R"({"time":"2026-12-10T10:41:03.052+01:00","port":"/dev/ttyUSB0","adapter":"usb:0403:6001:A10K3B","box":3,)"
         R"("file":"fw.dat","sha256":"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",)"
         R"("bytes":262144,"seconds":24.250,"ok":true,"reason":"sent","exit_code":0})"},
        {"no adapter known: the member is left out",
         [](BoxRecord& r) { r.adapter.clear(); r.port = "COM7"; r.ok = false; r.reason = "stopped"; r.exitCode = 5; },
         R"({"time":"2026-12-10T10:41:03.052+01:00","port":"COM7","box":3,)"
         R"("file":"fw.dat","sha256":"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08",)"
         R"("bytes":262144,"seconds":24.250,"ok":false,"reason":"stopped","exit_code":5})"},
        {"names are escaped, UTF-8 kept, a stray byte kept as \\u00XX",
         [](BoxRecord& r) { r.file = "C:\\fw\\\"neu\"\tä\n\xff.dat"; r.adapter.clear(); r.sha256.clear(); r.bytes = 0;
                            r.seconds = 0.0004; },
         R"({"time":"2026-12-10T10:41:03.052+01:00","port":"/dev/ttyUSB0","box":3,)"
         R"("file":"C:\\fw\\\"neu\"\tä\n\u00ff.dat","sha256":"",)"
         R"("bytes":0,"seconds":0.000,"ok":true,"reason":"sent","exit_code":0})"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoxRecord r = Passed();
        c.change(r);
        EXPECT_EQ(BoxRecordLine(r), c.line);
    }
}

class ResultsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_tmp.path.empty()); }
    host::TempDir m_tmp;
    const fs::path m_dir{m_tmp.path};
};

TEST_F(ResultsFileTest, AppendsAndNeverRewrites)
{
    const fs::path path = m_dir / "results.jsonl";
    const std::string earlier = "{\"an\":\"earlier shift\"}\n";
    std::ofstream(path, std::ios::binary) << earlier;

    BoxRecord first = Passed(), second = Passed();
    second.box = 4;
    second.ok = false;
    second.reason = "rejected";
    second.exitCode = 2;
    {
        ResultsFile file;
        std::string why;
        ASSERT_TRUE(file.Open(path.string(), &why)) << why;
        EXPECT_EQ(file.Path(), path.string());
        ASSERT_TRUE(file.Append(first, &why)) << why;
        // On the disk as Append returns, read by another reader.
        EXPECT_EQ(Slurp(path), earlier + BoxRecordLine(first) + "\n");
        ASSERT_TRUE(file.Append(second, &why)) << why;
    }
    // A station started again adds to the same file.
    ResultsFile again;
    std::string why;
    ASSERT_TRUE(again.Open(path.string(), &why)) << why;
    ASSERT_TRUE(again.Append(first, &why)) << why;
    EXPECT_EQ(Slurp(path),
              earlier + BoxRecordLine(first) + "\n" + BoxRecordLine(second) + "\n" + BoxRecordLine(first) + "\n");
}

TEST_F(ResultsFileTest, AFileThatCannotBeWrittenSaysWhy)
{
    ASSERT_EQ(mkfifo((m_dir / "fifo").c_str(), 0600), 0);
    fs::create_directory(m_dir / "locked");
    fs::permissions(m_dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    struct Case {
        std::string path;
        const char* why;
        bool skipForRoot;  // root writes where the permissions say no
    };
    const Case cases[] = {
        {(m_dir / "no-such-folder" / "results.jsonl").string(), "No such file or directory", false},
        {m_dir.string(), "Is a directory", false},
        {(m_dir / "fifo").string(), "not a regular file", false},
        {(m_dir / "locked" / "results.jsonl").string(), "Permission denied", true},
        {"", "no file name", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.skipForRoot && geteuid() == 0)
            continue;
        ResultsFile file;
        std::string why;
        EXPECT_FALSE(file.Open(c.path, &why));
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        EXPECT_FALSE(file.IsOpen());
        EXPECT_FALSE(file.Append(Passed(), &why));
    }

    // A disk that fills up during the shift: the open works, the line does not.
    ResultsFile full;
    std::string why;
    ASSERT_TRUE(full.Open("/dev/full", &why)) << why;
    EXPECT_FALSE(full.Append(Passed(), &why));
    EXPECT_EQ(why, "No space left on device");
}

TEST_F(ResultsFileTest, DefaultPathFollowsTheDataHome)
{
    const char* savedHome = getenv("HOME");
    const char* savedData = getenv("XDG_DATA_HOME");
    const std::string home = savedHome ? savedHome : "", data = savedData ? savedData : "";
    setenv("HOME", (m_dir / "home").c_str(), 1);
    struct Case {
        const char* dataHome;  // nullptr: unset
        fs::path expected;
    };
    const std::string dataHome = (m_dir / "data").string();
    const Case cases[] = {
        {dataHome.c_str(), m_dir / "data" / "marbrix" / "results.jsonl"},
        {nullptr, m_dir / "home" / ".local" / "share" / "marbrix" / "results.jsonl"},
        {"relative/data", m_dir / "home" / ".local" / "share" / "marbrix" / "results.jsonl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.string());
        if (c.dataHome)
            setenv("XDG_DATA_HOME", c.dataHome, 1);
        else
            unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(DefaultResultsPath(), c.expected.string());
        EXPECT_TRUE(fs::is_directory(c.expected.parent_path()));  // made for the file
    }
    savedHome ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
    savedData ? setenv("XDG_DATA_HOME", data.c_str(), 1) : unsetenv("XDG_DATA_HOME");
}

}  // namespace
