// SPDX-License-Identifier: MIT
// The simulator's command line: what a test or a demo asks the box to do.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace stbsim {

enum class Mode { None, Image, Served, Listen };

// Which of the YMODEM receiver's 'C' waits a reboot replaces.
enum class RestartAt { None, Open, Close };

struct Options {
    Mode mode = Mode::None;
    std::string port;     // existing serial device; empty: create a pty
    std::string link;     // symlink to the pty's slave
    std::string out;      // where to write what was received
    std::string expect;   // the file being sent
    long long size = -1;  // served: length to request without --expect
    long chunk = 4096;
    bool shuffle = false;
    std::uint64_t shuffleSeed = 0;
    bool shuffleSeedGiven = false;
    long timeEvery = 8;
    long timeoutSec = 120;
    long pace = 0;  // 0: no pacing
    long nakBlock = 0;
    long nakCount = 1;
    long canBlock = 0;
    long silentBlock = 0;
    long hangUpBlock = 0;   // image: close the line when block K arrives
    long dupAckBlock = 0;   // image: an extra ACK behind the answer to block K-1, then block K NAKed once
    long restartBlock = 0;  // image: reboot when block K arrives and run the download again
    RestartAt restartAtC = RestartAt::None;  // image: reboot instead of sending the opening or closing 'C'
    long pauseBlock = 0;                     // image: hold block K for pauseSec before answering it
    long pauseSec = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> requests;  // served: only these (offset, length)
    long edgeEvery = 0;  // served: requests at and past the file's end every N chunks
    bool nakBlock0 = false;
    long junkBeforeC = 0;
    long junkBeforeStx = 0;
    bool badEtx = false;
    double ber = 0.0;
    std::uint64_t seed = 1;
    long retries = 0;
    bool ymodemOnly = false;  // hidden: receive one YMODEM batch, nothing else
    bool help = false;
};

// Parses argv. Returns false with a message on a usage error.
bool ParseOptions(int argc, char** argv, Options& opt, std::string& error);

// The usage text that --help prints.
const char* UsageText();

}  // namespace stbsim
