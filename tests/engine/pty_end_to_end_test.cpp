// SPDX-License-Identifier: MIT
// The engine over a real pseudo-terminal pair: the engine opens the slave
// with PortOpenDevice, a scripted box drives the master side from a thread.
// Every read of the box is bounded, so a silent engine fails the test
// instead of hanging it.
#include "engine_fixture.h"
#include "serial_port.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace etest;

namespace {

time_t FixedClock(time_t* t)
{
    const time_t v = 1709251199;  // 2024-02-29 23:59:59 UTC
    if (t)
        *t = v;
    return v;
}

// Pause while the master has no peer: poll answers at once then.
constexpr int kNoPeerPauseMs = 5;

// The master side of a pty pair. The slave is set raw and closed again, as a
// serial port nobody holds; the engine opens it in SetUp.
struct Pty {
    int master = -1;
    std::string slave;
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            return;
        const char* name = ptsname(master);
        if (!name)
            return;
        const int fd = open(name, O_RDWR | O_NOCTTY);
        if (fd < 0)
            return;
        termios t;
        const bool raw = tcgetattr(fd, &t) == 0 && (cfmakeraw(&t), tcsetattr(fd, TCSANOW, &t) == 0);
        close(fd);
        if (raw)
            slave = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        if (master >= 0)
            close(master);
    }
    bool Ok() const { return master >= 0 && !slave.empty(); }
};

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point t)
{
    return int(
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count()));
}

// The box: bounded reads and writes on the master, failures kept as text for
// the test thread to report. A master whose slave nobody holds (EIO, a
// hang-up) counts as a quiet line until the wait runs out.
class Box {
public:
    explicit Box(int fd) : m_fd(fd) {}
    std::string error;

    bool Send(const Bytes& b, int ms = 10000)
    {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        size_t done = 0;
        while (done < b.size()) {
            ssize_t n = write(m_fd, b.data() + done, b.size() - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                return Fail("write failed: " + std::string(strerror(errno)));
            if (MsUntil(until) == 0)
                return Fail("the line took " + std::to_string(done) + " of " + std::to_string(b.size()) + " bytes");
            pollfd p = {m_fd, POLLOUT, 0};
            if (poll(&p, 1, std::min(MsUntil(until), 50)) > 0 && !(p.revents & POLLOUT))
                std::this_thread::sleep_for(std::chrono::milliseconds(kNoPeerPauseMs));
        }
        return true;
    }

    // Exactly n bytes, each within `ms`.
    bool Read(size_t n, Bytes* out, int ms = 5000)
    {
        out->clear();
        auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (out->size() < n) {
            const int left = MsUntil(until);
            if (left == 0)
                return Fail("nothing from the engine after " + std::to_string(out->size()) + " of " +
                            std::to_string(n) + " bytes");
            pollfd p = {m_fd, POLLIN, 0};
            const int r = poll(&p, 1, left);
            if (r > 0 && (p.revents & POLLIN)) {
                uint8_t buf[2048];
                ssize_t got = read(m_fd, buf, std::min(sizeof buf, n - out->size()));
                if (got > 0) {
                    out->insert(out->end(), buf, buf + got);
                    until = Clock::now() + std::chrono::milliseconds(ms);
                    continue;
                }
                if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                    return Fail("read failed: " + std::string(strerror(errno)));
            }
            if (r > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(kNoPeerPauseMs));
        }
        return true;
    }

    bool Expect(const Bytes& want, const char* what)
    {
        Bytes got;
        if (!Read(want.size(), &got))
            return Fail(std::string(what) + ": " + error);
        if (got != want)
            return Fail(std::string(what) + ": got " + Hex(got) + ", want " + Hex(want));
        return true;
    }

    // One YMODEM block as a receiver checks it: header, number, complement, CRC.
    bool ReadBlock(uint8_t header, uint8_t number, Bytes* data)
    {
        const size_t len = header == YM_SOH ? 128 : 1024;
        Bytes b;
        if (!Read(len + 5, &b))
            return false;
        if (b[0] != header || b[1] != number || b[2] != uint8_t(255 - number))
            return Fail("bad block head " + Hex(Bytes(b.begin(), b.begin() + 3)));
        data->assign(b.begin() + 3, b.begin() + 3 + long(len));
        const uint16_t crc = uint16_t((b[3 + len] << 8) | b[4 + len]);
        if (crc != Crc16(data->data(), len))
            return Fail("bad CRC in block " + std::to_string(number));
        return true;
    }

private:
    bool Fail(const std::string& e)
    {
        if (error.empty())
            error = e;
        return false;
    }
    int m_fd;
};

class PtyEndToEnd : public ::testing::Test {
protected:
    Pty pty;
    PortHandle port = nullptr;
    CDownloadEngine engine;

    void SetUp() override
    {
        ClearJournal();
        if (!pty.Ok())
            GTEST_SKIP() << "no pseudo-terminals here";
        PortOpenError err;
        port = PortOpenDevice(pty.slave.c_str(), 115200, &err);
        ASSERT_NE(port, nullptr) << err.text;
        engine.SetLogSink(CaptureLog);
        engine.SetProgressSink(CaptureProgress);
        m_savedClock = g_pfnEngineClock;
        g_pfnEngineClock = FixedClock;
    }

    void TearDown() override
    {
        engine.Abort();
        EXPECT_TRUE(EngineWaitIdle(30000));
        if (port)
            PortCloseDevice(port);
        g_pfnLogSink = nullptr;
        g_pfnProgressSink = nullptr;
        g_pfnEngineClock = m_savedClock;
        g_enginePort = nullptr;
        g_engineFile = nullptr;
    }

private:
    time_t (*m_savedClock)(time_t*) = nullptr;
};

TEST_F(PtyEndToEnd, ImageDownload)
{
    const Bytes payload = Pattern(2500, 21);
    TempFile file(ImageFileBytes(payload));
    Bytes padded = payload;
    padded.resize(3072, 0xFF);

    Box box(pty.master);
    Bytes received;
    std::thread boxThread([&] {
        Bytes d;
        if (!box.Send({0x02, 0xAA, 0x03}) || !box.Expect({0x02, 0xAB, 0xAC, 0x03}, "handshake"))
            return;
        if (!box.Send({0x02, 0xB0, 0x03}) ||
            !box.Expect(Bytes(kServiceWord.begin(), kServiceWord.end()), "service word"))
            return;
        if (!box.Send({YM_CRC}) || !box.ReadBlock(YM_SOH, 0, &d))
            return;
        if (memcmp(d.data(),
                   "VELTO\0"
                   "3072\0",
                   11) != 0) {
            box.error = "bad block 0: " + Hex(d, 16);
            return;
        }
        box.Send({YM_ACK, YM_CRC});
        for (uint8_t n = 1; n <= 3; ++n) {
            if (!box.ReadBlock(YM_STX, n, &d))
                return;
            received.insert(received.end(), d.begin(), d.end());
            box.Send({YM_ACK});
        }
        if (!box.Expect({YM_EOT}, "EOT"))
            return;
        box.Send({YM_ACK, YM_CRC});
        if (!box.ReadBlock(YM_SOH, 0, &d))
            return;
        if (d != Bytes(128, 0) && !(d[0] == 0 && d[1] == '0' && d[2] == 0)) {
            box.error = "bad closing block 0";
            return;
        }
        box.Send({YM_ACK, YM_CRC});
    });

    ASSERT_EQ(engine.Start(port, file.f, 1), 0);
    boxThread.join();
    EXPECT_EQ(box.error, "");
    EXPECT_TRUE(EngineWaitIdle(30000));
    EXPECT_TRUE(received == padded);
    EXPECT_EQ(LogLines(), (std::vector<Entry>{
                              Log("Velto File Download!\n", LOG_INFO),
                              Log("VUMO 0.2 STB DownLoad Software.\r\n", LOG_INFO),
                              Log("Start Download Service\r\n", LOG_INFO),
                              Log("Download File is valid, DL Version:1.2\n", LOG_INFO),
                              Log("==>DATA_DL_START\r\n", LOG_INFO),
                              Log("<== DATA_DL_START\r\n", LOG_INFO),
                              Log("Start Service......\n", LOG_INFO),
                              Log("Velto file send OK!\n", LOG_DONE),
                          }));
    EXPECT_EQ(ProgressValues(), (std::vector<int>{33, 66, 100, 0}));
}

TEST_F(PtyEndToEnd, ServedDownloadUntilAbort)
{
    const Bytes data = Pattern(10000, 22);
    TempFile file(data);
    Box box(pty.master);
    std::atomic<bool> done{false};
    std::thread boxThread([&] {
        if (!box.Send({0x02, 0x01, 0x03}) || !box.Expect({0x02, 0x01, 0x0A, 0x03}, "start"))
            return;
        // 256 at 4096, then 300 running across the end of the file.
        if (!box.Send({0x02, 0x02, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00, 0x03}) ||
            !box.Expect(Bytes(data.begin() + 4096, data.begin() + 4352), "chunk at 4096"))
            return;
        if (!box.Send({0x02, 0x02, 0x2C, 0x01, 0x10, 0x26, 0x00, 0x00, 0x03}) ||
            !box.Expect(Bytes(data.begin() + 0x2610, data.end()), "chunk across the end"))
            return;
        if (!box.Send({0x02, 0x03, 0x03}) ||
            !box.Expect({0x02, 0x03, 0xEB, 0xD1, 0x23, 0x59, 0x59, 0x03}, "time reply"))
            return;
        done = true;
    });
    ASSERT_EQ(engine.Start(port, file.f, 0), 0);
    boxThread.join();
    EXPECT_EQ(box.error, "");
    EXPECT_TRUE(done.load());
    // The time lines come after the reply went out; give the worker its
    // bounded moment to write them, then stop it.
    for (int i = 0; i < 2000 && LogLines().size() < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    engine.Abort();
    ASSERT_TRUE(EngineWaitIdle(30000));
    EXPECT_EQ(LogLines(), (std::vector<Entry>{
                              Log("VUMO 0.2 STB DownLoad Software.\r\n", LOG_INFO),
                              Log("Start Download Service\r\n", LOG_INFO),
                              Log("[VUMO] => STB_START\r\n", LOG_INFO),
                              Log("[VUMO] <= VUMO_START\r\n", LOG_INFO),
                              Log("[VUMO] => STB_TIME_REQ\r\n", LOG_INFO),
                              Log("[VUMO] <= VUMO_TIME_REP\r\n", LOG_INFO),
                              Log("[VUMO] User break off\r\n", LOG_NOTICE),
                          }));
    EXPECT_EQ(ProgressValues(), (std::vector<int>{0}));
    // Nothing more came out than the box asked for.
    pollfd p = {pty.master, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
}

TEST(PortOpen, FailuresCarryTheirReason)
{
    PortOpenError err;
    EXPECT_EQ(PortOpenDevice("/nonexistent/marbrix-tty", 115200, &err), nullptr);
    EXPECT_EQ(err.code, ENOENT);
    EXPECT_NE(err.text.find(strerror(ENOENT)), std::string::npos) << err.text;

    Pty pty;
    if (!pty.Ok())
        GTEST_SKIP() << "no pseudo-terminals here";
    PortOpenError bad;
    EXPECT_EQ(PortOpenDevice(pty.slave.c_str(), 12345, &bad), nullptr);
    EXPECT_EQ(bad.code, EINVAL);

    PortHandle first = PortOpenDevice(pty.slave.c_str(), 115200, nullptr);
    ASSERT_NE(first, nullptr);
    PortOpenError busy;
    PortHandle second = PortOpenDevice(pty.slave.c_str(), 115200, &busy);
    EXPECT_EQ(second, nullptr) << "the port was opened twice";
    EXPECT_NE(busy.code, 0);
    if (second)
        PortCloseDevice(second);
    PortCloseDevice(first);
    // Closed, it can be had again.
    PortHandle again = PortOpenDevice(pty.slave.c_str(), 115200, nullptr);
    EXPECT_NE(again, nullptr);
    if (again)
        PortCloseDevice(again);
}

// A wait on a real line sleeps its ticks in one go: it must still end on
// the first byte, on a stop from another thread, and otherwise not before
// its ticks are over. The bounds are generous on purpose (a loaded machine
// only makes waits longer, and a wait that slept through its end would take
// the whole 20 s).
TEST(PtyWait, EndsOnAByteAStopOrItsTicks)
{
    Pty pty;
    if (!pty.Ok())
        GTEST_SKIP() << "no pseudo-terminals here";
    PortHandle port = PortOpenDevice(pty.slave.c_str(), 921600, nullptr);
    ASSERT_NE(port, nullptr);
    CDownloadEngine engine;
    // No session runs: clear what an earlier test's session may have left.
    g_engineState.store(0);
    g_bEngineLineLost.store(0);
    auto msSince = [](Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
    };

    {  // a byte 100 ms into a 20 s wait
        std::thread box([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const uint8_t ack = 0x06;
            EXPECT_EQ(write(pty.master, &ack, 1), 1);
        });
        const auto from = Clock::now();
        EXPECT_EQ(PortReceiveByte(port, 2000), 0x06);
        EXPECT_LT(msSince(from), 10000);
        box.join();
    }
    {  // the operator's stop 100 ms into a 20 s wait
        std::thread stop([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            engine.Abort();
        });
        const auto from = Clock::now();
        EXPECT_EQ(PortWaitFor(port, 0x06, 2000), 0);
        EXPECT_LT(msSince(from), 10000);
        EXPECT_TRUE(PortInterrupted());
        stop.join();
    }
    // As Start does for the next session. A wake left over from a stop
    // must not cut the next wait short.
    g_engineState.store(0);
    PortWakeWaits();
    {  // silence: 30 ticks are at least 300 ms
        const auto from = Clock::now();
        uint8_t b = 0;
        g_enginePort = port;
        EXPECT_NE(PortGetByte(&b, 30), 0);
        g_enginePort = nullptr;
        EXPECT_GE(msSince(from), 300);
    }
    {  // the box's end closed 100 ms into a 20 s wait: the port is lost
        PortResetLostWatch();
        std::thread box([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            close(pty.master);
            pty.master = -1;
        });
        const auto from = Clock::now();
        EXPECT_EQ(PortReceiveByte(port, 2000), 0);
        EXPECT_LT(msSince(from), 10000);
        EXPECT_NE(g_bEngineLineLost.load(), 0);
        box.join();
        g_bEngineLineLost.store(0);
    }
    PortCloseDevice(port);
}

}  // namespace
