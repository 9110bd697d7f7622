// The box's end of the serial line: a pty it creates (or a device it is
// given), with every wait bounded by the run's deadline, optional pacing to
// the speed of a real 8N1 line, and optional bit errors on what it receives.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

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

  // Creates a pty; the slave is opened here, set raw and kept open, so that a
  // peer that opens and closes it never hangs the master up.
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
  // Reads and drops bytes until quietMs pass without one, at most maxMs in all.
  std::size_t DrainQuiet(int quietMs, int maxMs);
  // Waits, dropping whatever arrives, for ms.
  std::size_t Linger(int ms);

 private:
  bool FillFor(int timeoutMs);  // false on time-out
  void PaceUntil(Clock::time_point& cursor);
  int RemainingMs() const;

  int fd_ = -1;     // where the box speaks: the pty master or the device
  int slave_ = -1;  // the pty slave, held open for the whole run
  Clock::time_point deadline_ = Clock::time_point::max();
  Clock::duration byteTime_{0};
  Clock::time_point rxCursor_{}, txCursor_{};
  BitErrors* ber_ = nullptr;
  std::deque<std::uint8_t> in_;
};

}  // namespace stbsim
