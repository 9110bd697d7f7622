// SPDX-License-Identifier: MIT
// marbrix-station.exe under Wine: two stbsim boxes on COM7 and COM8 (mapped
// by scripts/test-windows.sh), every lane started at once, one box each.
// The window itself is not read here: each box's line in the results file
// says what its tile shows. Without the mapping the test is skipped.
#include "line_support.h"
#include "wine_port_fixture.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using wine::LineComs;
using wine::LinkOf;
using wine::WinPath;

class WineStation : public wine::PortFixture {
protected:
    void SetUp() override
    {
        CheckPort(!wine::Env("MARBRIX_STATION_EXE").empty() && LineComs().size() >= 2,
                  "MARBRIX_STATION_EXE, MARBRIX_LINE_COMS, MARBRIX_COM_DIR, STBSIM, WINEPREFIX");
        for (size_t i = 0; i < 2; ++i)
            ASSERT_NO_FATAL_FAILURE(CheckMapped(LineComs()[i], LinkOf(LineComs()[i])));
    }
    TempDir dir;
};

std::vector<std::string> FileLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

TEST_F(WineStation, TwoComPortsStartedOnceBothPassWithTheirLines)
{
    const std::vector<std::string> coms = {LineComs()[0], LineComs()[1]};
    const std::string image = dir / "img.dat";
    ASSERT_TRUE(WriteFile(image, MakeImage(RandomBytes(16 * 1024, 41))));
    Child boxes[2];
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_FATAL_FAILURE(
            StartSimOn(LinkOf(coms[i]), &boxes[i], {"--mode", "image", "--expect", image, "--timeout", "120"}));

    Child station;
    SpawnOptions o;
    o.env = {"WINEDEBUG=-all"};
    const std::string results = dir / "results.jsonl";
    ASSERT_TRUE(station.Spawn({"wine", wine::Env("MARBRIX_STATION_EXE"), "-p", coms[0], "-p", coms[1], "--results",
                               WinPath(results), "--once", "--start", WinPath(image)},
                              o));
    // --once keeps the window open with the results: done when both boxes
    // have their lines.
    std::vector<std::string> lines;
    for (int waited = 0; waited < 120000 && lines.size() < 2; waited += 200) {
        usleep(200 * 1000);
        lines = FileLines(results);
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(coms[i]);
        ExpectSimPass(boxes[i], 30000);
    }
    ASSERT_EQ(lines.size(), 2u) << station.err;
    std::vector<std::string> ports;
    for (const std::string& line : lines) {
        std::map<std::string, std::string> m;
        ASSERT_TRUE(JsonCheck::Object(line, &m)) << line;
        EXPECT_EQ(m["ok"], "true") << line;
        EXPECT_EQ(m["box"], "1") << line;
        ports.push_back(m["port"]);
    }
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports, coms);
    station.Kill();
    station.Wait(10000);
}

}  // namespace
