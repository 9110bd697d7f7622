// SPDX-License-Identifier: MIT
// The YMODEM-1K sender against a scripted receiver on the virtual line.
#include "engine_fixture.h"

#include <deque>

using namespace etest;

namespace {

const char kFailed[] = "Send File Failed!!\r\n";

// A case's own line and receiver, the line as the engine's port.
class Ymodem : public EngineFixture {
protected:
    int Send(const Bytes& data) { return YmodemSendFile("VELTO", data.data(), uint32_t(data.size())); }

    std::vector<RxBlock> DataBlocks() const { return DataBlocks(rx); }
    static std::vector<RxBlock> DataBlocks(const YmodemReceiver& r)
    {
        std::vector<RxBlock> out;
        for (const RxBlock& b : r.blocks)
            if (b.header == YM_STX)
                out.push_back(b);
        return out;
    }
};

TEST_F(Ymodem, CrcCheckValue)
{
    uint32_t crc = 0;
    for (const char* p = "123456789"; *p; ++p)
        crc = Crc16Update(uint8_t(*p), crc);
    EXPECT_EQ(crc & 0xFFFF, 0x31C3u);
    // Only the low eight bits of the byte count.
    EXPECT_EQ(Crc16Update(0x131, 0) & 0xFFFF, Crc16Update(0x31, 0) & 0xFFFF);
}

TEST_F(Ymodem, MakeBlockHeaders)
{
    const Bytes src = Pattern(1024);
    struct Case {
        int length;
        uint8_t number;
        Bytes head;
    };
    // clang-format off
    const Case cases[] = {
        {1024, 7, {YM_STX, 7, 248}},
        {128, 0, {YM_SOH, 0, 255}},
        {1024, 255, {YM_STX, 255, 0}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        uint8_t block[1027] = {};
        EXPECT_EQ(YmodemMakeBlock(src.data(), block, c.length, c.number), 0);
        EXPECT_EQ(Bytes(block, block + 3), c.head);
        EXPECT_TRUE(std::equal(src.begin(), src.begin() + c.length, block + 3));
    }
    uint8_t eot[4] = {0, 0x55, 0x55, 0x55};
    YmodemMakeBlock(src.data(), eot, 0, 9);
    EXPECT_EQ(Bytes(eot, eot + 4), (Bytes{YM_EOT, 0x55, 0x55, 0x55}));
}

TEST_F(Ymodem, ByTheBookTransferOf3072Bytes)
{
    const Bytes data = Pattern(3072, 9);
    rx.Arm();
    EXPECT_EQ(Send(data), 0);

    ASSERT_EQ(rx.blocks.size(), 5u);
    // Opening block 0: "VELTO", NUL, "3072", NUL, then zeros.
    Bytes b0(128, 0);
    memcpy(b0.data(),
           "VELTO\0"
           "3072",
           10);
    EXPECT_EQ(rx.blocks[0].header, YM_SOH);
    EXPECT_EQ(rx.blocks[0].number, 0);
    EXPECT_EQ(rx.blocks[0].complement, 0xFF);
    EXPECT_EQ(rx.blocks[0].data, b0);
    EXPECT_TRUE(rx.blocks[0].crcOk);
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rx.blocks[i].header, YM_STX);
        EXPECT_EQ(rx.blocks[i].number, i);
        EXPECT_EQ(rx.blocks[i].complement, 255 - i);
        EXPECT_TRUE(rx.blocks[i].crcOk);
    }
    EXPECT_TRUE(rx.file == data);
    EXPECT_EQ(rx.eots, 1);
    // Closing block 0: the empty name and the size 0.
    Bytes close(128, 0);
    close[1] = '0';
    EXPECT_EQ(rx.blocks[4].header, YM_SOH);
    EXPECT_EQ(rx.blocks[4].data, close);
    EXPECT_TRUE(rx.blocks[4].crcOk);
    EXPECT_TRUE(rx.closed);
    EXPECT_TRUE(rx.stray.empty()) << Hex(rx.stray);
    EXPECT_EQ(rx.cans, 0);
    EXPECT_EQ(Journal(), (std::vector<Entry>{Prog(33), Prog(66), Prog(100)}));
    // Each block goes out in one write, header to CRC; EOT on its own.
    std::vector<size_t> writes;
    for (const Bytes& call : line.WriteCalls())
        writes.push_back(call.size());
    EXPECT_EQ(writes, (std::vector<size_t>{133, 1029, 1029, 1029, 1, 133}));
}

TEST_F(Ymodem, NaksOfOneBlock)
{
    struct Case {
        int naks;
        int result;
        int sendings;
        bool cancelled;
    };
    const Case cases[] = {{4, 0, 5, false}, {5, 1, 5, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.naks);
        CaseLine own;
        VirtualLine& l = own.line;
        YmodemReceiver& r = own.rx;
        r.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
            if (ev.kind == RxKind::Data && ev.number == 2 && ev.sendCount <= c.naks)
                return Bytes{YM_NAK};
            return std::nullopt;
        };
        r.Arm();
        const Bytes data = Pattern(4096, 2);
        EXPECT_EQ(YmodemSendFile("VELTO", data.data(), 4096), c.result);
        int second = 0;
        for (const RxBlock& b : r.blocks)
            second += b.header == YM_STX && b.number == 2 && b.crcOk;
        EXPECT_EQ(second, c.sendings);
        if (c.cancelled) {
            EXPECT_EQ(r.cans, 2);
            const Bytes w = l.Written();
            ASSERT_GE(w.size(), 2u);
            EXPECT_EQ(Bytes(w.end() - 2, w.end()), (Bytes{YM_CAN, YM_CAN}));
            EXPECT_EQ(Journal(), (std::vector<Entry>{Prog(25), Log(kFailed, LOG_ERROR)}));
            EXPECT_EQ(r.eots, 0);
        } else {
            EXPECT_EQ(r.cans, 0);
            EXPECT_TRUE(r.file == data);
            EXPECT_TRUE(r.closed);
            EXPECT_EQ(ProgressValues(), (std::vector<int>{25, 50, 75, 100}));
        }
    }
}

TEST_F(Ymodem, DataBlockAnswersThatEndTheTransfer)
{
    struct Case {
        const char* name;
        Bytes reply;
        int64_t ticksAfterBlock;  // from the block's last byte to the end
    };
    // clang-format off
    const Case cases[] = {
        {"single CAN", {YM_CAN}, 0},
        {"silence", {}, 2000},
        {"some other byte", {'x'}, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaseLine own;
        VirtualLine& l = own.line;
        YmodemReceiver& r = own.rx;
        r.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
            if (ev.kind == RxKind::Data && ev.number == 1)
                return c.reply;
            return std::nullopt;
        };
        r.Arm();
        const Bytes data = Pattern(2048);
        const int64_t before = l.Now();
        EXPECT_EQ(YmodemSendFile("VELTO", data.data(), 2048), 1);
        ASSERT_EQ(r.blocks.size(), 2u);
        EXPECT_EQ(r.blocks[1].number, 1);  // sent once, not again
        EXPECT_EQ(l.Now() - r.blocks[1].at, c.ticksAfterBlock);
        EXPECT_EQ(r.blocks[1].at, before);  // no time spent before it
        EXPECT_EQ(r.cans, 0) << "CAN sent back";
        EXPECT_EQ(r.eots, 0);
        EXPECT_EQ(Journal(), (std::vector<Entry>{Log(kFailed, LOG_ERROR)}));
    }
}

TEST_F(Ymodem, JunkBeforeTheReceiversCUsesUpTries)
{
    struct Case {
        int junk;
        bool sent;
    };
    const Case cases[] = {{99, true}, {100, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.junk);
        VirtualLine l;
        g_enginePort = &l;
        Bytes in(size_t(c.junk), 'x');
        in.push_back(YM_CRC);
        l.Feed(in);
        // The receiver answers block 0 once it has it.
        l.OnWrite([](VirtualLine& line, const uint8_t*, uint32_t n) {
            if (n == 133)
                line.Feed({YM_ACK, YM_CRC});
        });
        const int r = YmodemSendHeader("VELTO", 1024);
        EXPECT_EQ(r, c.sent ? 0 : 1);
        EXPECT_EQ(l.Sleeps(), 0);
        EXPECT_EQ(l.Written().size(), c.sent ? 133u : 0u);
        EXPECT_EQ(PortInQueue(&l), c.sent ? 0u : 1u);
    }
}

// A reply belongs to the send it follows. Bytes already on the line when a
// block 0, a data block or an EOT goes out (a second ACK from a noisy
// return line, a stray NAK, 'C' or CAN, the NAKs a receiver sent on its own
// time-outs while this host was paused) are not its answer. Here the send
// behind such bytes is refused once and must go out again; the transfer
// may only count as sent when the receiver holds every block and closed
// the batch.
TEST_F(Ymodem, BytesWaitingBeforeASendAreNotItsAnswer)
{
    enum class Before { Open, Data, Eot, Close };
    struct Case {
        const char* name;
        Before before;
        Bytes stray;
    };
    std::vector<Case> cases;
    const struct {
        const char* name;
        Before before;
    } sends[] = {{"block 0", Before::Open},
                 {"data block 2", Before::Data},
                 {"EOT", Before::Eot},
                 {"closing block 0", Before::Close}};
    const struct {
        const char* name;
        Bytes bytes;
    } strays[] = {{"ACK", {YM_ACK}},
                  {"NAK", {YM_NAK}},
                  {"C", {YM_CRC}},
                  {"CAN", {YM_CAN}},
                  {"paused host: time-out NAKs in a burst", {YM_NAK, YM_NAK, YM_NAK, YM_NAK}}};
    for (const auto& at : sends)
        for (const auto& st : strays)
            cases.push_back({at.name, at.before, st.bytes});

    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " after " + Hex(c.stray));
        CaseLine own;
        VirtualLine& l = own.line;
        YmodemReceiver& r = own.rx;
        auto behind = [&](Bytes reply) {
            reply.insert(reply.end(), c.stray.begin(), c.stray.end());
            return reply;
        };
        r.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
            switch (c.before) {
            case Before::Open:
                if (ev.kind == RxKind::Header && ev.sendCount == 1) {
                    l.Feed({YM_CRC}, l.Now() + 50);
                    return Bytes{YM_NAK};
                }
                break;
            case Before::Data:
                if (ev.kind == RxKind::Data && ev.dataIndex == 1)
                    return behind({YM_ACK});
                if (ev.kind == RxKind::Data && ev.dataIndex == 2 && ev.sendCount == 1)
                    return Bytes{YM_NAK};
                break;
            case Before::Eot:
                if (ev.kind == RxKind::Data && ev.dataIndex == 3)
                    return behind({YM_ACK});
                if (ev.kind == RxKind::Eot && ev.sendCount == 1)
                    return Bytes{YM_NAK};
                break;
            case Before::Close:
                if (ev.kind == RxKind::Eot)
                    return behind({YM_ACK, YM_CRC});
                break;
            }
            return std::nullopt;
        };
        r.Arm();
        if (c.before == Before::Open)
            l.Feed(c.stray);
        const Bytes data = Pattern(3072, 6);
        EXPECT_EQ(YmodemSendFile("VELTO", data.data(), uint32_t(data.size())), 0);
        EXPECT_TRUE(r.file == data) << "the receiver holds " << r.file.size() << " bytes";
        EXPECT_TRUE(r.closed);
        EXPECT_EQ(r.cans, 0);
        int second = 0;
        for (const RxBlock& b : r.blocks)
            second += b.header == YM_STX && b.number == 2;
        EXPECT_EQ(second, c.before == Before::Data ? 2 : 1);
        EXPECT_EQ(r.eots, c.before == Before::Eot ? 2 : 1);
        EXPECT_TRUE(LogLines().empty());
    }
}

// The same noise with every data block: a receiver that answers each block
// with ACK and then a second ACK (or its time-out NAKs) is still answered
// block by block, and a refusal among them is never covered by a stale ACK.
TEST_F(Ymodem, AStaleAckNeverCoversARefusedBlock)
{
    const Bytes trailers[] = {{YM_ACK}, {YM_NAK, YM_NAK}, {YM_ACK, YM_NAK, YM_CRC}};
    for (const Bytes& trailer : trailers) {
        SCOPED_TRACE(Hex(trailer));
        CaseLine own;
        YmodemReceiver& r = own.rx;
        r.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
            if (ev.kind != RxKind::Data)
                return std::nullopt;
            // Every third block arrives damaged once.
            if (ev.dataIndex % 3 == 0 && ev.sendCount == 1)
                return Bytes{YM_NAK};
            Bytes reply{YM_ACK};
            reply.insert(reply.end(), trailer.begin(), trailer.end());
            return reply;
        };
        r.Arm();
        const Bytes data = Pattern(10 * 1024, 8);
        EXPECT_EQ(YmodemSendFile("VELTO", data.data(), uint32_t(data.size())), 0);
        EXPECT_TRUE(r.file == data) << "the receiver holds " << r.file.size() << " bytes";
        EXPECT_EQ(DataBlocks(r).size(), 13u);  // 10 blocks, 3 of them twice
        EXPECT_TRUE(r.closed);
    }
}

// The receiver's time-out NAK crosses block 2 on the line, so block 2 goes
// out twice and the receiver acknowledges both copies, the second ACK
// arriving only once that copy has crossed a line of 115 bytes a tick.
// That late ACK must not answer block 3, which the receiver refuses once.
TEST_F(Ymodem, TheSecondCopysAckDoesNotAnswerTheNextBlock)
{
    line.SetTransmitRate(115);
    // The tick at which the receiver has all that is queued now.
    auto received = [&] {
        PortQueueStatus st{};
        line.QueueStatus(&st);
        return line.Now() + st.cbOutQue / 115 + 1;
    };
    int copies = 0;
    rx.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
        if (ev.kind != RxKind::Data)
            return std::nullopt;
        if (ev.dataIndex == 2) {
            if (++copies == 1)
                line.Feed({YM_NAK});  // sent before the block reached it
            line.Feed({YM_ACK}, received());
            return Bytes{};
        }
        if (ev.dataIndex == 3 && ev.sendCount == 1) {
            line.Feed({YM_NAK}, received());
            return Bytes{};
        }
        return std::nullopt;
    };
    rx.Arm();
    const Bytes data = Pattern(4096, 12);
    EXPECT_EQ(Send(data), 0);
    EXPECT_EQ(copies, 2);
    int third = 0;
    for (const RxBlock& b : DataBlocks())
        third += b.number == 3;
    EXPECT_EQ(third, 2) << "block 3 was taken as acknowledged by the late ACK of block 2";
}

TEST_F(Ymodem, NakedBlockZeroWaitsForANewC)
{
    rx.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
        if (ev.kind == RxKind::Header && ev.sendCount == 1) {
            Feed({YM_CRC}, line.Now() + 50);
            return Bytes{YM_NAK};
        }
        return std::nullopt;
    };
    rx.Arm();
    const Bytes data = Pattern(1024);
    EXPECT_EQ(Send(data), 0);
    ASSERT_GE(rx.blocks.size(), 2u);
    EXPECT_EQ(rx.blocks[0].header, YM_SOH);
    EXPECT_EQ(rx.blocks[1].header, YM_SOH);
    EXPECT_GE(rx.blocks[1].at - rx.blocks[0].at, 50) << "block 0 sent again without a new 'C'";
    EXPECT_TRUE(rx.file == data);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(Ymodem, BlockNumbersWrapAt256)
{
    const Bytes data = Pattern(257 * 1024, 5);
    rx.Arm();
    EXPECT_EQ(Send(data), 0);
    const auto blocks = DataBlocks();
    ASSERT_EQ(blocks.size(), 257u);
    EXPECT_EQ(blocks[254].number, 255);
    EXPECT_EQ(blocks[255].number, 0);
    EXPECT_EQ(blocks[255].complement, 255);
    EXPECT_EQ(blocks[256].number, 1);
    EXPECT_EQ(blocks[256].complement, 254);
    EXPECT_TRUE(rx.file == data);
    EXPECT_EQ(rx.size, "263168");
    const auto p = ProgressValues();
    ASSERT_FALSE(p.empty());
    EXPECT_EQ(p.back(), 100);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
}

TEST_F(Ymodem, EotIsRepeatedNineTimesAtMost)
{
    rx.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
        if (ev.kind == RxKind::Eot)
            return ev.sendCount < 9 ? Bytes{YM_NAK} : Bytes{YM_NAK, YM_CRC};
        return std::nullopt;
    };
    rx.Arm();
    EXPECT_EQ(Send(Pattern(1024)), 0);
    EXPECT_EQ(rx.eots, 9);
    // The close phase begins all the same: the closing block 0 follows.
    ASSERT_EQ(rx.blocks.size(), 3u);
    EXPECT_EQ(rx.blocks[2].header, YM_SOH);
    EXPECT_EQ(rx.blocks[2].data[1], '0');
}

TEST_F(Ymodem, StopRequestBetweenBlocks)
{
    struct Case {
        const char* name;
        int stopAt;  // data block during whose exchange the stop comes
        int result;
        int blocks;
        bool closed;
        int cans;
    };
    // clang-format off
    const Case cases[] = {
        // The receiver is told at once with CAN CAN; no EOT follows.
        {"block 5 of 10", 5, 1, 5, false, 2},
        // Every reply is already waiting when the stop is seen: they are
        // read, as bytes already waiting always are, and the batch closes.
        {"last block, answered at once", 10, 0, 10, true, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaseLine own;
        YmodemReceiver& r = own.rx;
        r.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
            if (ev.kind == RxKind::Data && ev.dataIndex == c.stopAt)
                g_engineState = ENGINE_ABORT;
            return std::nullopt;
        };
        r.Arm();
        const Bytes data = Pattern(10240, 6);
        EXPECT_EQ(YmodemSendFile("VELTO", data.data(), 10240), c.result);
        int blocks = 0;
        for (const RxBlock& b : r.blocks)
            blocks += b.header == YM_STX;
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_EQ(r.closed, c.closed);
        EXPECT_EQ(r.eots, c.closed ? 1 : 0);
        EXPECT_EQ(r.cans, c.cans);
        EXPECT_TRUE(LogLines().empty());
        const auto p = ProgressValues();
        ASSERT_EQ(p.size(), size_t(c.blocks));
        EXPECT_EQ(p.back(), c.blocks * 10);
    }
    g_engineState = 0;
}

// Wherever the receiver leaves the sender waiting, a stop is seen within a
// tick (never more than 50): the receiver gets CAN CAN, the result is 1 and
// no failure line is written, since the session tells the stop itself.
TEST_F(Ymodem, StopRequestIsSeenInEveryWait)
{
    struct Case {
        const char* name;
        bool arm;  // the receiver starts with its 'C'
        std::function<std::optional<Bytes>(const RxEvent&)> fault;
    };
    const auto silentAt = [](RxKind kind, Bytes instead = {}) {
        return [kind, instead](const RxEvent& ev) -> std::optional<Bytes> {
            if (ev.kind == kind)
                return instead;
            return std::nullopt;
        };
    };
    // clang-format off
    const Case cases[] = {
        {"waiting for the first 'C'", false, nullptr},
        {"waiting for the ACK of block 0", true, silentAt(RxKind::Header)},
        {"waiting for 'C' after the ACK of block 0", true, silentAt(RxKind::Header, {YM_ACK})},
        {"waiting for a data block's reply", true,
         [](const RxEvent& ev) -> std::optional<Bytes> {
             if (ev.kind == RxKind::Data && ev.dataIndex == 2)
                 return Bytes{};
             return std::nullopt;
         }},
        {"waiting for the EOT's reply", true, silentAt(RxKind::Eot)},
        {"waiting for 'C' before the closing block", true, silentAt(RxKind::Eot, {YM_ACK})},
        {"waiting for the ACK of the closing block", true, silentAt(RxKind::Close)},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaseLine own;
        VirtualLine& l = own.line;
        YmodemReceiver& r = own.rx;
        r.fault = c.fault;
        int64_t lastWrite = 0;
        l.OnWrite([&](VirtualLine& v, const uint8_t* d, uint32_t n) {
            lastWrite = v.Now();
            r.OnBytes(d, n);
        });
        // The stop comes 300 ticks into a wait with nothing on the line.
        int64_t stopAt = -1;
        l.OnSleep([&](VirtualLine& v) {
            if (stopAt < 0 && v.Now() - lastWrite == 300 && v.Pending() == 0) {
                stopAt = v.Now();
                g_engineState = ENGINE_ABORT;
            }
        });
        if (c.arm)
            r.Arm();
        const Bytes data = Pattern(3072, 4);
        EXPECT_EQ(YmodemSendFile("VELTO", data.data(), 3072), 1);
        ASSERT_GE(stopAt, 0);
        EXPECT_LE(l.Now() - stopAt, 50);
        const Bytes w = l.Written();
        ASSERT_GE(w.size(), 2u);
        EXPECT_EQ(Bytes(w.end() - 2, w.end()), (Bytes{YM_CAN, YM_CAN}));
        EXPECT_TRUE(LogLines().empty());
    }
    g_engineState = 0;
}

// The end of the batch: a box that refuses the image after its last block
// fails the transfer; the tolerance for NAKed or unanswered EOTs stays; a
// closing block the box NAKs is sent again at its next 'C'.
TEST_F(Ymodem, EndPhaseAnswers)
{
    using Fault = std::function<std::optional<Bytes>(VirtualLine&, const RxEvent&)>;
    struct Case {
        const char* name;
        Fault fault;
        int result;
        int closingBlocks;  // sendings of the closing block 0
    };
    const auto onEot = [](std::function<Bytes(VirtualLine&, int)> answer) -> Fault {
        return [answer](VirtualLine& l, const RxEvent& ev) -> std::optional<Bytes> {
            if (ev.kind == RxKind::Eot)
                return answer(l, ev.sendCount);
            return std::nullopt;
        };
    };
    const auto onClose = [](std::function<std::optional<Bytes>(int)> answer) -> Fault {
        return [answer](VirtualLine&, const RxEvent& ev) -> std::optional<Bytes> {
            if (ev.kind == RxKind::Close)
                return answer(ev.sendCount);
            return std::nullopt;
        };
    };
    // clang-format off
    const Case cases[] = {
        {"CAN CAN in reply to EOT", onEot([](VirtualLine&, int) { return Bytes{YM_CAN, YM_CAN}; }), 1, 0},
        {"CAN instead of the closing 'C'", onEot([](VirtualLine&, int) { return Bytes{YM_ACK, YM_CAN}; }), 1, 0},
        {"CAN in reply to the closing block", onClose([](int) { return Bytes{YM_CAN, YM_CAN}; }), 1, 1},
        {"NAK NAK ACK on EOT",
         onEot([](VirtualLine&, int n) { return n < 3 ? Bytes{YM_NAK} : Bytes{YM_ACK, YM_CRC}; }), 0, 1},
        {"EOT unanswered, then 'C'",
         onEot([](VirtualLine& l, int) {
             l.Feed({YM_CRC}, l.Now() + 1500);
             return Bytes{};
         }),
         0, 1},
        {"closing block NAKed twice, then acknowledged",
         onClose([](int n) -> std::optional<Bytes> {
             if (n < 3)
                 return Bytes{YM_NAK, YM_CRC};
             return std::nullopt;
         }),
         0, 3},
        {"closing block answered with a garbled byte, then acknowledged",
         onClose([](int n) -> std::optional<Bytes> {
             if (n == 1)
                 return Bytes{0x86, YM_CRC};
             return std::nullopt;
         }),
         0, 2},
        {"closing block NAKed every time", onClose([](int) { return Bytes{YM_NAK, YM_CRC}; }), 1, 10},
        {"closing block unanswered", onClose([](int) { return Bytes{}; }), 0, 1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaseLine own;
        VirtualLine& l = own.line;
        YmodemReceiver& r = own.rx;
        r.fault = [&](const RxEvent& ev) { return c.fault(l, ev); };
        r.Arm();
        const Bytes data = Pattern(2048, 3);
        EXPECT_EQ(YmodemSendFile("VELTO", data.data(), 2048), c.result);
        EXPECT_TRUE(r.file == data);
        EXPECT_EQ(r.CountHeaders() - 1, c.closingBlocks);
        EXPECT_EQ(r.cans, 0) << "the sender cancelled a transfer the box ended";
        if (c.result == 0)
            EXPECT_TRUE(LogLines().empty());
        else
            EXPECT_EQ(LogLines(), (std::vector<Entry>{Log(kFailed, LOG_ERROR)}));
    }
}

TEST_F(Ymodem, AcknowledgedClosingBlockEndsTheBatchAtOnce)
{
    // A standard receiver sends no 'C' after the closing block 0.
    rx.closingC = false;
    int64_t closedAt = -1;
    rx.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
        if (ev.kind == RxKind::Close)
            closedAt = line.Now();
        return std::nullopt;
    };
    rx.Arm();
    EXPECT_EQ(Send(Pattern(1024)), 0);
    ASSERT_GE(closedAt, 0);
    EXPECT_EQ(line.Now(), closedAt);
    EXPECT_TRUE(rx.closed);
}

// A port that goes away ends the transfer without a word to the box and
// without a failure line: the session tells the lost port once.
TEST_F(Ymodem, LostPortEndsEveryPhaseQuietly)
{
    struct Case {
        const char* name;
        RxKind kind;
        int dataIndex;
    };
    // clang-format off
    const Case cases[] = {
        {"block 0", RxKind::Header, 0},
        {"a data block", RxKind::Data, 2},
        {"EOT", RxKind::Eot, 0},
        {"the closing block", RxKind::Close, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLine l;
        UseLine(l);
        YmodemReceiver r(l);
        l.OnWrite([&](VirtualLine&, const uint8_t* d, uint32_t n) { r.OnBytes(d, n); });
        int64_t lostAt = -1;
        r.fault = [&](const RxEvent& ev) -> std::optional<Bytes> {
            if (lostAt < 0 && ev.kind == c.kind && (c.dataIndex == 0 || ev.dataIndex == c.dataIndex)) {
                lostAt = l.Now();
                l.LoseLine("Input/output error");
                return Bytes{};
            }
            return std::nullopt;
        };
        r.Arm();
        EXPECT_EQ(YmodemSendFile("VELTO", Pattern(3072).data(), 3072), 1);
        ASSERT_GE(lostAt, 0);
        EXPECT_EQ(g_bEngineLineLost.load(), 1);
        EXPECT_STREQ(EngineLineLostReason(), "Input/output error");
        EXPECT_EQ(l.Now() - lostAt, PORT_LOST_TICKS);
        EXPECT_EQ(r.cans, 0);
        EXPECT_TRUE(LogLines().empty());
    }
    g_bEngineLineLost = 0;
}

// A receiver that acknowledges every block at once and records nothing, for
// transfers too long to keep on the virtual line.
class AckingLine : public PortLine {
public:
    bool QueueStatus(PortQueueStatus* st) override
    {
        st->cbInQue = uint32_t(m_in.size());
        st->cbOutQue = 0;
        return true;
    }
    bool Read(uint8_t* buf, uint32_t count, uint32_t* got) override
    {
        *got = 0;
        while (*got < count && !m_in.empty()) {
            buf[(*got)++] = m_in.front();
            m_in.pop_front();
        }
        return true;
    }
    bool Write(const uint8_t* buf, uint32_t count, uint32_t* put) override
    {
        for (uint32_t i = 0; i < count; ++i) {
            if (m_left == 0) {
                if (buf[i] == YM_SOH)
                    m_left = 132;
                else if (buf[i] == YM_STX)
                    m_left = 1028;
                else if (buf[i] == YM_EOT)
                    Say({YM_ACK, YM_CRC});
                continue;
            }
            if (--m_left == 0)
                Say(m_headerNext ? std::initializer_list<uint8_t>{YM_ACK, YM_CRC}
                                 : std::initializer_list<uint8_t>{YM_ACK});
            // The first SOH block is followed by data blocks; after EOT the
            // next SOH block closes the batch.
            if (m_left == 0)
                m_headerNext = false;
        }
        *put = count;
        return true;
    }
    void SleepTick() override { ++sleeps; }
    void Start() { Say({YM_CRC}); }
    void ExpectHeader() { m_headerNext = true; }
    int64_t sleeps = 0;

private:
    void Say(std::initializer_list<uint8_t> b) { m_in.insert(m_in.end(), b); }
    std::deque<uint8_t> m_in;
    int m_left = 0;
    bool m_headerNext = true;
};

std::vector<int> g_bigProgress;
void BigProgress(int v)
{
    g_bigProgress.push_back(v);
}

TEST_F(Ymodem, ProgressStaysRightBeyond41943Blocks)
{
    // 41944 blocks: blocks x 102400 no longer fits 32 bits.
    const uint32_t size = 41944u * 1024u;
    std::vector<uint8_t> data(size, 0x5A);
    AckingLine acking;
    acking.Start();
    g_enginePort = &acking;
    g_bigProgress.clear();
    g_bigProgress.reserve(41944);
    g_pfnProgressSink = BigProgress;
    EXPECT_EQ(YmodemSendFile("VELTO", data.data(), size), 0);
    ASSERT_EQ(g_bigProgress.size(), 41944u);
    EXPECT_TRUE(std::is_sorted(g_bigProgress.begin(), g_bigProgress.end())) << "progress went backwards";
    EXPECT_EQ(g_bigProgress.back(), 100);
    EXPECT_EQ(g_bigProgress[41942], int(41943ull * 102400 / size));
}

}  // namespace
