// SPDX-License-Identifier: MIT
// The box's end of the serial line: a pty it creates (or a device it is
// given), with every wait bounded by the run's deadline, optional pacing to
// the speed of a real 8N1 line, and optional bit errors on what it receives.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "faults.h"

namespace stbsim {

// Thrown by any wait that reaches the run's deadline.
struct DeadlineExpired {};

class Line {
public:
    using Clock = std::chrono::steady_clock;

    Line() = default;
    ~Line();
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    // Creates a pty and sets its slave raw, then closes the slave again: a
    // program that checks whether anyone else holds its port must find it free.
    // Until a peer opens the slave (and after it closes it) the master reads
    // fail and poll reports a hang-up; the waits here take that as a quiet line.
    bool OpenPty(std::string& slaveName, std::string& error);
    // Opens an existing serial device raw 8N1 (at baud, when it is a standard rate).
    bool OpenDevice(const std::string& path, long baud, std::string& error);

    void SetDeadline(Clock::time_point t) { deadline_ = t; }
    void SetPace(long baud);
    void SetBitErrors(BitErrors* ber) { ber_ = ber; }

    // Next byte, or -1 when none arrives within timeoutMs.
    int Get(int timeoutMs);
    void Put(const std::uint8_t* data, std::size_t len);
    void Put(std::uint8_t b) { Put(&b, 1); }
    void Put(const std::string& s) { Put(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }
    // Sends bytes that reach the peer together: the line time of all of them
    // passes first, then they go out in one write, so that a reader finds
    // them all waiting at once (a UART's FIFO emptied after a stall).
    void PutBurst(const std::vector<std::uint8_t>& bytes);
    // Stops listening for ms, as a busy box does: what arrives meanwhile
    // waits on the line and is read afterwards.
    void Hold(int ms);
    // Waits until a peer has the pty slave open (at once for a device), so that
    // whatever the box says first is not written into a line nobody holds.
    void WaitForPeer();
    // Reads and drops bytes until quietMs pass without one, at most maxMs in all.
    std::size_t DrainQuiet(int quietMs, int maxMs);
    // Waits, dropping whatever arrives, for ms.
    std::size_t Linger(int ms);
    // Closes the box's end for good, as a box that loses power does; the
    // sender then sees its port hang up.
    void Close();

private:
    bool FillFor(int timeoutMs);  // false on time-out
    // Moves a pacing cursor on by one byte (throws past the deadline);
    // PaceUntil also sleeps until that byte is through.
    void Advance(Clock::time_point& cursor, Clock::time_point from);
    void PaceUntil(Clock::time_point& cursor, Clock::time_point from);
    // Sleeps until the last byte taken has been carried by the line.
    void CatchUp();
    // When a reply may start: now, or once that last byte is through.
    Clock::time_point ReplyFrom() const;
    int RemainingMs() const;

    bool PeerHolds() const;   // false while a pty's slave is open nowhere
    static void Nap(int ms);  // the bounded pause on a line without a peer

    int fd_ = -1;  // where the box speaks: the pty master or the device
    bool isPty_ = false;
    Clock::time_point deadline_ = Clock::time_point::max();
    Clock::duration byteTime_{0};
    Clock::time_point rxCursor_{}, txCursor_{};
    Clock::time_point filledAt_{};  // when the bytes in in_ were read
    BitErrors* ber_ = nullptr;
    std::deque<std::uint8_t> in_;
};

}  // namespace stbsim
