// SPDX-License-Identifier: MIT
// The station window on the offscreen platform: how its tiles lay out and
// select, and whole stations run against stbsim boxes through marbrix-cli.
#include "lane_tile.h"
#include "qt_backend.h"
#include "qt_controls.h"
#include "qt_tile_grid.h"
#include "serial_port.h"
#include "station_dlg.h"
#include "station_resource.h"
#include "test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#include <utility>

#ifdef STBSIM
#include "line_support.h"
#endif

namespace {

TileGridWidget* GridOf(const CDialog& dlg)
{
    return qobject_cast<TileGridWidget*>(QtControl(dlg, IDC_ST_TILES));
}

std::vector<std::string> Ports(int count)
{
    std::vector<std::string> ports;
    for (int i = 0; i < count; ++i)
        ports.push_back("/nonexistent/box" + std::to_string(i));
    return ports;
}

// The results file's lines, each as its members.
std::vector<std::map<std::string, std::string>> Records(const std::string& path)
{
    std::vector<std::map<std::string, std::string>> records;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::map<std::string, std::string> m;
        EXPECT_TRUE(JsonCheck::Object(line, &m)) << line;
        records.push_back(m);
    }
    return records;
}

// A window shown modeless, sized as the operator's screen.
std::unique_ptr<CStationDlg> Show(const StationOptions& options, int width, int height)
{
    auto dlg = std::make_unique<CStationDlg>(options);
    EXPECT_TRUE(dlg->Create());
    QtWindow(*dlg)->resize(width, height);
    QApplication::processEvents();
    return dlg;
}

}  // namespace

TEST(StationWindow, ThirtyTwoTilesFitAt1280x800AndReflowWhenNarrower)
{
    StationOptions options;
    options.ports = Ports(32);
    auto dlg = Show(options, 1280, 800);
    EXPECT_EQ(QtWindow(*dlg)->windowTitle(), QStringLiteral("Marbrix Station"));
    TileGridWidget* grid = GridOf(*dlg);
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->TileCount(), 32);
    // Every tile inside the visible part: nothing to scroll.
    const QRect visible(QPoint(0, 0), grid->viewport()->size());
    for (int i = 0; i < 32; ++i)
        EXPECT_TRUE(visible.contains(grid->TileRect(i))) << "tile " << i << " columns " << grid->Columns();

    const int wide = grid->Columns();
    QtWindow(*dlg)->resize(QtWindow(*dlg)->minimumWidth(), 800);
    QApplication::processEvents();
    EXPECT_LT(grid->Columns(), wide);
    QtWindow(*dlg)->resize(1600, 900);
    QApplication::processEvents();
    EXPECT_GT(grid->Columns(), wide);
    for (int i = 0; i < 32; ++i)
        EXPECT_LE(grid->TileRect(i).right(), grid->viewport()->width()) << "tile " << i;
}

TEST(StationWindow, ClickingATileSelectsItsLaneAndShowsItsLog)
{
    StationOptions options;
    options.ports = Ports(3);
    auto dlg = Show(options, 1280, 800);
    TileGridWidget* grid = GridOf(*dlg);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(dlg->m_tiles.GetCurSel(), 0);
    QTest::mouseClick(grid->widget(), Qt::LeftButton, Qt::NoModifier, grid->TileRect(2).center());
    EXPECT_EQ(dlg->m_tiles.GetCurSel(), 2);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_ST_LOG_LABEL).Str(), "Log of /nonexistent/box2");
    // Between tiles: the selection stays.
    QTest::mouseClick(grid->widget(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
    EXPECT_EQ(dlg->m_tiles.GetCurSel(), 2);
}

TEST(StationWindow, AnUnchangedTileIsNotDrawnAgain)
{
    StationOptions options;
    options.ports = Ports(4);
    auto dlg = Show(options, 1280, 800);
    TileGridWidget* grid = GridOf(*dlg);
    ASSERT_NE(grid, nullptr);
    QApplication::processEvents();
    TileContent t = grid->Tile(1);
    EXPECT_FALSE(grid->SetTile(1, t));
    t.word = "PASS";
    EXPECT_TRUE(grid->SetTile(1, t));
    EXPECT_EQ(dlg->m_tiles.GetTile(1).word.Str(), "PASS");
}

// Each lane state reads as one word, the colour going with it.
TEST(StationWindow, LaneStatesReadAsOneWord)
{
    struct Case {
        LaneState state;
        bool lastOk;
        const char* word;
    } cases[] = {
        {LaneState::WaitingForBox, false, "WAITING"},
        {LaneState::Sending, false, "SENDING"},
        {LaneState::Passed, true, "PASS"},
        {LaneState::Failed, false, "FAIL"},
        {LaneState::Ended, true, "PASS"},
        {LaneState::Ended, false, "FAIL"},
        {LaneState::WaitingForPort, false, "NO PORT"},
        {LaneState::FailedWaitingForPort, false, "NO PORT"},
    };
    for (const Case& c : cases) {
        Lane lane;
        lane.port = "/dev/ttyUSB3";
        lane.state = c.state;
        lane.lastOk = c.lastOk;
        lane.lastReason = "timeout";
        lane.adapter = "usb:0403:6001";
        const TileContent t = LaneTile(lane);
        EXPECT_EQ(t.word.Str(), c.word) << int(c.state);
        EXPECT_EQ(t.title.Str(), "ttyUSB3");
        EXPECT_EQ(t.subtitle.Str(), "usb:0403:6001");
        if (std::string(c.word) == "FAIL") {
            EXPECT_EQ(t.lines.at(0).Str(), "timeout");
        }
    }
}

// The program's own answers to its command line, before any window: the
// exit codes and streams are marbrix-cli's, so one script handles both.
TEST(StationWindow, CommandLineIsAnsweredAsMarbrixCliAnswersIt)
{
    std::string cliOut, cliErr;
    ASSERT_EQ(RunCommand({kCli, "--version"}, &cliOut, &cliErr), 0);
    const std::string version = cliOut.substr(cliOut.find(' '));  // " 1.2.3\n"

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out, errBegins;
    };
    const Case cases[] = {
        {{"--bogus", "fw.dat"}, 1, "", "marbrix-station: unknown option --bogus\n"},
        {{"-b", "12345", "fw.dat"}, 1, "", "marbrix-station: unsupported baud rate '12345'"},
        {{"--start", "fw.dat"}, 1, "", "marbrix-station: --start needs the ports"},
        {{"--help"}, 0, StationUsageText(), ""},
        {{"-p", "/dev/pts/1", "--version"}, 0, "marbrix-station" + version, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> argv = {MARBRIX_STATION};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string out, err;
        // No display: these are answered before the window system starts.
        EXPECT_EQ(RunCommand(argv, &out, &err), c.code) << err;
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err.rfind(c.errBegins, 0), 0u) << err;
        if (c.code != 0) {
            EXPECT_NE(err.find("Run 'marbrix-station --help'"), std::string::npos) << err;
        }
    }
}

#ifdef STBSIM

TEST(StationWindow, FourBoxesStartedOnceAllPass)
{
    TempDir dir;
    const std::string payload = RandomBytes(24 * 1024, 31);
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(payload)));
    Child boxes[4];
    const std::vector<std::string> links = StartBoxes(boxes, 4, dir.path, dir / "img.dat");
    ASSERT_EQ(links.size(), 4u);

    StationOptions options;
    options.ports = links;
    options.file = dir / "img.dat";
    options.results = dir / "results.jsonl";
    options.baud = 921600;
    options.once = true;
    options.start = true;
    auto dlg = Show(options, 1280, 800);
    const bool ended = QTest::qWaitFor([&] { return !dlg->Active(); }, 120000);
    ASSERT_TRUE(ended) << dlg->GetDlgItemText(IDC_ST_STATUS).Str();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dlg->m_tiles.GetTile(i).word.Str(), "PASS")
            << links[i] << " " << dlg->m_tiles.GetTile(i).lines[0].Str();
    std::map<std::string, std::string> simSha;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(boxes[i].Wait(20000).has_value());
        simSha[links[i]] = SimSha(boxes[i]);
        EXPECT_FALSE(simSha[links[i]].empty()) << boxes[i].err;
    }
    // One line per box, each with the digest the box computed of what it got.
    const auto records = Records(dir / "results.jsonl");
    ASSERT_EQ(records.size(), 4u);
    for (const auto& r : records) {
        EXPECT_EQ(r.at("ok"), "true");
        EXPECT_EQ(r.at("box"), "1");
        EXPECT_EQ(r.at("sha256"), simSha[r.at("port")]) << r.at("port");
    }
    EXPECT_EQ(QtWindow(*dlg)->windowTitle(), QStringLiteral("Marbrix Station"));
    EXPECT_TRUE(QtWindow(*dlg)->isVisible()) << "--once keeps the window open with the results";
    // The totals stay as the station ended: its pace does not sink while
    // the window stays open (the status line is redrawn four times a second).
    const std::string status = dlg->GetDlgItemText(IDC_ST_STATUS).Str();
    EXPECT_EQ(status.rfind("Boxes 4   passed 4   failed 0   ", 0), 0u) << status;
    QTest::qWait(800);
    EXPECT_EQ(dlg->GetDlgItemText(IDC_ST_STATUS).Str(), status);
}

namespace {

int g_asked = 0;
int g_askedRunning = 0;
bool g_answer = false;

bool CountedAnswer(CDialog*, int running)
{
    ++g_asked;
    g_askedRunning = running;
    return g_answer;
}

// The box's own end of its line: its pty, behind the link.
std::string PtyOf(const std::string& link)
{
    char buf[256];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// Whether a process has that device open.
bool Holds(pid_t pid, const std::string& device)
{
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(fds.c_str());
    if (!d)
        return false;
    bool held = false;
    while (dirent* e = readdir(d)) {
        char buf[256];
        const ssize_t n = readlink((fds + "/" + e->d_name).c_str(), buf, sizeof buf - 1);
        held = held || (n > 0 && std::string(buf, size_t(n)) == device);
    }
    closedir(d);
    return held;
}

bool ProcessGone(pid_t pid)
{
    for (int i = 0; i < 100; ++i) {
        if (kill(pid, 0) != 0)
            return true;
        usleep(50 * 1000);
    }
    return false;
}

}  // namespace

// A transfer long enough to be interrupted: 300 KiB on a line paced at
// 115200 takes about half a minute.
TEST(StationWindow, ClosingWhileSendingAsksAndYesStopsEveryDownload)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(300 * 1024, 32))));
    Child boxes[2];
    const std::vector<std::string> links = StartBoxes(boxes, 2, dir.path, dir / "img.dat", {"--pace", "115200"});
    ASSERT_EQ(links.size(), 2u);
    const std::string ptys[2] = {PtyOf(links[0]), PtyOf(links[1])};

    StationOptions options;
    options.ports = links;
    options.file = dir / "img.dat";
    options.results = dir / "results.jsonl";
    options.once = true;
    options.start = true;
    auto dlg = Show(options, 1280, 800);
    // Blocks are going: a stop now cuts a transfer short.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return dlg->Lanes().size() == 2 && dlg->Lanes()[0].percent > 0 && dlg->Lanes()[1].percent > 0; },
        60000));
    std::vector<pid_t> downloads;
    for (pid_t pid : ChildrenOf(getpid()))
        if (pid != boxes[0].pid && pid != boxes[1].pid)
            downloads.push_back(pid);
    EXPECT_EQ(downloads.size(), 2u);

    g_pfnAskStopAndQuit = CountedAnswer;
    g_asked = 0;
    g_answer = false;
    QtWindow(*dlg)->close();
    QApplication::processEvents();
    EXPECT_EQ(g_asked, 1);
    EXPECT_EQ(g_askedRunning, 2);
    EXPECT_EQ(StopAndQuitText(2), "2 downloads are running. Stop them and quit?");
    EXPECT_TRUE(QtWindow(*dlg)->isVisible()) << "No keeps the window and its downloads";
    EXPECT_EQ(dlg->SendingCount(), 2);
    // Stop all asks the same.
    qobject_cast<QAbstractButton*>(QtControl(*dlg, IDC_ST_STOP))->click();
    EXPECT_EQ(g_asked, 2);
    EXPECT_EQ(dlg->SendingCount(), 2);

    g_answer = true;
    QtWindow(*dlg)->close();
    EXPECT_EQ(g_asked, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QtWindow(*dlg)->isVisible(); }, 20000));
    EXPECT_FALSE(dlg->Active());
    for (pid_t pid : downloads)
        EXPECT_TRUE(ProcessGone(pid)) << "download process " << pid << " outlived the station";
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(boxes[i].Wait(20000).has_value());
        EXPECT_NE(boxes[i].out.find("sender cancelled"), std::string::npos) << boxes[i].out << boxes[i].err;
        EXPECT_FALSE(Holds(getpid(), ptys[i])) << ptys[i];
    }
    // Both boxes had begun: each has its line, as stopped.
    const auto records = Records(dir / "results.jsonl");
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_EQ(r.at("ok"), "false");
        EXPECT_EQ(r.at("reason"), "stopped");
    }
    g_pfnAskStopAndQuit = AskStopAndQuitWithBox;
}

// SIGTERM from a service manager: no question, every lane stopped, and the
// program gone within a few seconds (the time it took is printed; the bound
// is generous for a shared machine).
TEST(StationWindow, SigtermStopsEveryLaneAndQuitsWithoutAsking)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(300 * 1024, 33))));
    Child boxes[2];
    const std::vector<std::string> links = StartBoxes(boxes, 2, dir.path, dir / "img.dat", {"--pace", "115200"});
    ASSERT_EQ(links.size(), 2u);

    Child station;
    SpawnOptions env;
    env.env = {"QT_QPA_PLATFORM=offscreen"};
    ASSERT_TRUE(station.Spawn({MARBRIX_STATION, "-p", links[0], "-p", links[1], "--results", dir / "results.jsonl",
                               "--once", "--start", dir / "img.dat"},
                              env));
    for (Child& box : boxes)
        ASSERT_TRUE(box.WaitForOutput(false, "block 0: name", 60000)) << box.out << box.err;
    usleep(1000 * 1000);
    const std::vector<pid_t> downloads = ChildrenOf(station.pid);
    EXPECT_EQ(downloads.size(), 2u);

    const auto signalled = std::chrono::steady_clock::now();
    station.Signal(SIGTERM);
    const std::optional<int> rc = station.Wait(15000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    ASSERT_TRUE(rc.has_value()) << station.err;
    printf("SIGTERM to exit: %.2f s, exit status %d\n", seconds, *rc);
    for (pid_t pid : downloads)
        EXPECT_TRUE(ProcessGone(pid)) << "download process " << pid << " outlived the station";
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(boxes[i].Wait(20000).has_value()) << boxes[i].out << boxes[i].err << station.err;
        EXPECT_NE(boxes[i].out.find("sender cancelled"), std::string::npos) << boxes[i].out << boxes[i].err;
    }
    EXPECT_EQ(Records(dir / "results.jsonl").size(), 2u) << "each stopped box has its line";
}

// One of the ports is not there: its tile waits amber, the others pass, and
// the missing one writes no line.
TEST(StationWindow, AMissingPortWaitsAmberWhileTheOthersPass)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(8 * 1024, 35))));
    Child boxes[3];
    std::vector<std::string> links = StartBoxes(boxes, 3, dir.path, dir / "img.dat");
    ASSERT_EQ(links.size(), 3u);
    links.insert(links.begin() + 1, dir / "absent");

    StationOptions options;
    options.ports = links;
    options.file = dir / "img.dat";
    options.results = dir / "results.jsonl";
    options.once = true;
    options.start = true;
    auto dlg = Show(options, 1280, 800);
    auto word = [&](int i) { return dlg->m_tiles.GetTile(i).word.Str(); };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return word(0) == "PASS" && word(2) == "PASS" && word(3) == "PASS" && word(1) == "NO PORT"; }, 60000))
        << word(0) << " " << word(1) << " " << word(2) << " " << word(3);
    EXPECT_EQ(dlg->m_tiles.GetTile(1).back, RGB(245, 170, 0));
    EXPECT_TRUE(dlg->Active()) << "the missing port is waited for";
    EXPECT_EQ(Records(dir / "results.jsonl").size(), 3u);
    dlg->StopAndQuit();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QtWindow(*dlg)->isVisible(); }, 20000));
    EXPECT_EQ(Records(dir / "results.jsonl").size(), 3u) << "a port that never came is no box";
}

// Station mode on one lane whose port is missing at the start: the tile is
// amber and the lane waits; each box that appears on the port is flashed,
// and the port going away between boxes is no box.
TEST(StationWindow, StationModeWaitsForThePortAndFlashesBoxAfterBox)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(6 * 1024, 34))));
    const std::string link = dir / "box0";
    StationOptions options;
    options.ports = {link};
    options.file = dir / "img.dat";
    options.results = dir / "results.jsonl";
    options.start = true;
    auto dlg = Show(options, 1280, 800);
    auto word = [&] { return dlg->m_tiles.GetTile(0).word.Str(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return word() == "NO PORT"; }, 20000)) << word();
    EXPECT_EQ(dlg->m_tiles.GetTile(0).back, RGB(245, 170, 0));

    for (int box = 1; box <= 3; ++box) {
        Child sim;
        ASSERT_TRUE(StartBox(&sim, dir / "img.dat", link)) << sim.err;
        ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Lanes().at(0).passed == box; }, 60000))
            << "box " << box << ": " << word();
        ASSERT_TRUE(sim.Wait(20000).has_value());
        EXPECT_FALSE(SimSha(sim).empty()) << sim.out;
        // Gone with its box: the lane waits for the next one.
        ASSERT_TRUE(QTest::qWaitFor([&] { return word() == "NO PORT"; }, 20000)) << word();
    }
    const Lane& lane = dlg->Lanes().at(0);
    EXPECT_EQ(lane.failed, 0);
    EXPECT_EQ(lane.boxes, 3);
    EXPECT_TRUE(dlg->Active()) << "station mode keeps the lane waiting for its next box";
    const auto records = Records(dir / "results.jsonl");
    ASSERT_EQ(records.size(), 3u) << "a port gone between boxes is no box";
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i].at("box"), std::to_string(i + 1));
    dlg->StopAndQuit();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QtWindow(*dlg)->isVisible(); }, 20000));
}

namespace {

using MenuShown = std::vector<std::pair<std::string, bool>>;  // each item's text and tick

// Opens the Ports menu as the operator does and chooses the item whose text
// begins with `name`; what the menu showed.
MenuShown ChoosePort(CStationDlg& dlg, const std::string& name)
{
    MenuShown shown;
    auto* button = qobject_cast<MenuPushButton*>(QtControl(dlg, IDC_ST_PORTS));
    if (!button || !button->isEnabled()) {
        ADD_FAILURE() << "no Ports button to press";
        return shown;
    }
    QTimer::singleShot(0, button, [&] {
        QAction* pick = nullptr;
        for (QAction* a : button->Menu()->actions()) {
            shown.emplace_back(a->text().toStdString(), a->isChecked());
            if (!pick && a->text().startsWith(QString::fromStdString(name)))
                pick = a;
        }
        // As a click on the item: the menu closes, then the item fires.
        button->Menu()->hide();
        if (pick)
            pick->trigger();
    });
    button->showMenu();
    QApplication::processEvents();
    return shown;
}

// The port listing the window reads, replaced for one test.
struct ListingFile {
    explicit ListingFile(const std::string& path) : path(path) { setenv("MARBRIX_PORT_LISTING", path.c_str(), 1); }
    ~ListingFile() { unsetenv("MARBRIX_PORT_LISTING"); }
    void Write(const std::vector<std::pair<std::string, std::string>>& ports) const
    {
        std::string text;
        for (const auto& [port, usb] : ports)
            text += port + "\t" + usb + "\n";
        ASSERT_TRUE(WriteFile(path, text));
    }
    std::string path;
};

}  // namespace

// Started without ports: the operator ticks them in the Ports menu, which
// shows the listing as it is each time it opens; the ticked ports are the
// lanes, and they flash their boxes.
TEST(StationWindow, PortsTickedInTheWindowAreTheLanes)
{
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "img.dat", MakeImage(RandomBytes(16 * 1024, 36))));
    Child boxes[2];
    const std::vector<std::string> links = StartBoxes(boxes, 2, dir.path, dir / "img.dat");
    ASSERT_EQ(links.size(), 2u);
    const std::string spare = dir / "spare";
    const std::string usb0 = "usb:0403:6001:BENCH0", usb1 = "usb:0403:6001:BENCH1", usbSpare = "usb:0403:6001:SPARE";
    ListingFile listing(dir / "listing");
    listing.Write({{links[0], usb0}, {spare, usbSpare}});

    StationOptions options;
    options.file = dir / "img.dat";
    options.results = dir / "results.jsonl";
    options.baud = 921600;
    options.once = true;
    auto dlg = Show(options, 1280, 800);
    EXPECT_EQ(dlg->m_tiles.GetTileCount(), 0);
    EXPECT_FALSE(dlg->IsDlgItemEnabled(IDC_ST_START));

    // Each port by the name its tile has, the adapter in the second column.
    const std::string box0 = PortShortName(links[0]), box1 = PortShortName(links[1]), other = PortShortName(spare);
    EXPECT_EQ(ChoosePort(*dlg, box0), (MenuShown{{box0 + "\t" + usb0, false}, {other + "\t" + usbSpare, false}}));
    ChoosePort(*dlg, other);
    EXPECT_EQ(dlg->m_tiles.GetTileCount(), 2);
    EXPECT_EQ(dlg->m_tiles.GetCurSel(), 1) << "the lane just ticked is selected";
    // The second box's adapter is plugged in and the spare one pulled out:
    // the menu shows so the next time, the gone port still ticked.
    listing.Write({{links[0], usb0}, {links[1], usb1}});
    EXPECT_EQ(
        ChoosePort(*dlg, box1),
        (MenuShown{{box0 + "\t" + usb0, true}, {box1 + "\t" + usb1, false}, {other + "\tnot found now", true}}));
    // Unticked: its lane goes, the others keep their order.
    ChoosePort(*dlg, other);
    ASSERT_EQ(dlg->m_tiles.GetTileCount(), 2);
    EXPECT_EQ(dlg->m_tiles.GetTile(0).title.Str(), box0);
    EXPECT_EQ(dlg->m_tiles.GetTile(1).title.Str(), box1);
    EXPECT_EQ(dlg->m_tiles.GetTile(1).subtitle.Str(), usb1);

    qobject_cast<QAbstractButton*>(QtControl(*dlg, IDC_ST_START))->click();
    EXPECT_FALSE(dlg->IsDlgItemEnabled(IDC_ST_PORTS)) << "no lane changes while the station runs";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dlg->Active(); }, 120000)) << dlg->GetDlgItemText(IDC_ST_STATUS).Str();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(dlg->m_tiles.GetTile(i).word.Str(), "PASS") << dlg->m_tiles.GetTile(i).lines[0].Str();
    const auto records = Records(dir / "results.jsonl");
    ASSERT_EQ(records.size(), 2u);
    std::map<std::string, std::string> adapters;
    for (const auto& r : records) {
        EXPECT_EQ(r.at("ok"), "true");
        adapters[r.at("port")] = r.at("adapter");
    }
    EXPECT_EQ(adapters, (std::map<std::string, std::string>{{links[0], usb0}, {links[1], usb1}}));
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_ST_PORTS)) << "the run has ended";
}

#endif

int main(int argc, char** argv)
{
    // The test lister runs it at build time, without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
