// SPDX-License-Identifier: MIT
#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace stbsim {

const char* UsageText()
{
    return "usage: stbsim --mode image|served|listen [options]\n"
           "A set-top box on a serial line: it leads the download protocol and checks what arrives.\n"
           "--mode listen says nothing and counts what arrives until --timeout (a box that is off:\n"
           "shows that a program sent nothing); --out keeps the bytes.\n"
           "  --port PATH         speak on an existing serial device instead of creating a pty\n"
           "  --link PATH         also make PATH a symlink to the created pty's slave (removed at exit)\n"
           "  --out FILE          write what was received (image mode: the whole padded image; served: the file)\n"
           "  --expect FILE       image mode: the image file (.dat with its 15-byte header) that is being sent:\n"
           "                      check the four service-word bytes, the payload, and the 0xFF padding up to a\n"
           "                      multiple of 1024, and that block 0 announced that padded size;\n"
           "                      served mode: the file being served (gives the length to request, and the\n"
           "                      content to compare). Served mode needs --expect or --size.\n"
           "  --size N            served mode without --expect: the length to request\n"
           "  --chunk N           served: bytes per request, 1..65535 (default 4096)\n"
           "  --shuffle[=SEED]    served: request the chunks in a shuffled order\n"
           "  --time-every N      served: a time request (02 03 03) after every N chunks (default 8; 0: none)\n"
           "  --request OFF:LEN   served: ask only for this range (repeatable; offsets up to 2^32-1, LEN up\n"
           "                      to 65535) and check it against --expect read at that offset: the bytes up\n"
           "                      to the end of the file must come, none beyond it\n"
           "  --edge-every N      served: after every N chunks, a request that runs past the end of the file\n"
           "                      (only the bytes up to the end may come) and one wholly past it (none may\n"
           "                      come), each checked by a time request; offsets up to 2^32-1 (default 0: none)\n"
           "  --timeout SEC       bound on the whole run (default 120); on expiry: FAIL, exit 1\n"
           "  --pace BAUD         bytes move no faster than an 8N1 line at BAUD (10 bits per byte), both ways\n"
           "  --nak-block K[:N]   image: NAK data block K (1-based, counted as received) N times (default 1)\n"
           "  --can-block K       image: answer block K with a single CAN (the transfer then fails)\n"
           "  --silent-block K    image: give no answer to block K (the sender gives up)\n"
           "  --hang-up-block K   image: close the line when block K arrives, before answering it\n"
           "                      (a box that loses power: the sender must see the line go)\n"
           "  --dup-ack-block K   image: send an extra ACK right behind the answer to block K-1 (block 0's\n"
           "                      ACK and 'C' for K=1), as a noisy return line does, then NAK block K once\n"
           "                      (it arrived damaged): a sender that takes the stale ACK for block K's\n"
           "                      answer leaves the box one block short\n"
           "  --restart-block K   image: reboot when data block K arrives, without answering it: start over\n"
           "                      with the start frame (02 AA 03) once a second until answered, then run the\n"
           "                      whole download again\n"
           "  --restart-at-c open|close\n"
           "                      image: reboot as above instead of sending the 'C' that opens the batch\n"
           "                      (after the service word) or the 'C' that asks for the closing block 0\n"
           "  --pause-block K:SEC image: hold data block K for SEC seconds (1..600) before answering it; the\n"
           "                      NAKs the 5 s receive time-out would have sent meanwhile (SEC/5 of them) go\n"
           "                      out in one burst with the ACK, as a paused sender finds them on resuming\n"
           "  --nak-block0        image: NAK the first block 0 once\n"
           "  --junk-before-c N   image: N junk bytes (not 'C') before the first 'C'\n"
           "  --junk-before-stx N N bytes of console chatter (printable text) before each frame's STX\n"
           "  --bad-etx           the first frame ends in a wrong byte (0x04), then is sent again correctly\n"
           "  --ber RATE          flip bits in every byte received from the engine at this bit-error rate\n"
           "  --seed N            seed for --shuffle and --ber (default 1)\n"
           "  --retries N         image: after a failed transfer start again from 02 AA 03 up to N times (default "
           "0);\n"
           "                      a reboot asked for above always starts over and is not counted\n"
           "  --help              print this text\n"
           "Exit status: 0 when everything sent arrived whole and identical, 1 on a failure or time-out,\n"
           "2 on a usage error.\n";
}

namespace {

bool ToLong(const std::string& s, long lo, long hi, long& v)
{
    if (s.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long x = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || x < lo || x > hi)
        return false;
    v = static_cast<long>(x);
    return true;
}

bool ToU64(const std::string& s, std::uint64_t& v)
{
    if (s.empty() || s[0] == '-')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long x = std::strtoull(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    v = x;
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& opt, std::string& error)
{
    bool gotImageOnly = false, gotServedOnly = false;
    const long kMax = 2000000000L;
    // Options that take a value; each setter returns false on a bad value.
    const std::map<std::string, std::function<bool(const std::string&)>> valued = {
        {"--mode",
         [&](const std::string& v) {
             if (v == "image")
                 opt.mode = Mode::Image;
             else if (v == "served")
                 opt.mode = Mode::Served;
             else if (v == "listen")
                 opt.mode = Mode::Listen;
             else
                 return false;
             return true;
         }},
        {"--port",
         [&](const std::string& v) {
             opt.port = v;
             return !v.empty();
         }},
        {"--link",
         [&](const std::string& v) {
             opt.link = v;
             return !v.empty();
         }},
        {"--out",
         [&](const std::string& v) {
             opt.out = v;
             return !v.empty();
         }},
        {"--expect",
         [&](const std::string& v) {
             opt.expect = v;
             return !v.empty();
         }},
        {"--size",
         [&](const std::string& v) {
             long x;
             gotServedOnly = true;
             if (!ToLong(v, 0, 0x7FFFFFFFL, x))
                 return false;
             opt.size = x;
             return true;
         }},
        {"--chunk",
         [&](const std::string& v) {
             gotServedOnly = true;
             return ToLong(v, 1, 65535, opt.chunk);
         }},
        {"--time-every",
         [&](const std::string& v) {
             gotServedOnly = true;
             return ToLong(v, 0, kMax, opt.timeEvery);
         }},
        {"--request",
         [&](const std::string& v) {
             gotServedOnly = true;
             const auto colon = v.find(':');
             long off = 0, len = 0;
             if (colon == std::string::npos || !ToLong(v.substr(0, colon), 0, 0xFFFFFFFFL, off) ||
                 !ToLong(v.substr(colon + 1), 1, 65535, len))
                 return false;
             opt.requests.emplace_back(static_cast<std::uint32_t>(off), static_cast<std::uint32_t>(len));
             return true;
         }},
        {"--edge-every",
         [&](const std::string& v) {
             gotServedOnly = true;
             return ToLong(v, 0, kMax, opt.edgeEvery);
         }},
        {"--timeout", [&](const std::string& v) { return ToLong(v, 1, 86400 * 7, opt.timeoutSec); }},
        {"--pace", [&](const std::string& v) { return ToLong(v, 1, 100000000L, opt.pace); }},
        {"--nak-block",
         [&](const std::string& v) {
             gotImageOnly = true;
             const auto colon = v.find(':');
             if (!ToLong(v.substr(0, colon), 1, kMax, opt.nakBlock))
                 return false;
             if (colon == std::string::npos) {
                 opt.nakCount = 1;
                 return true;
             }
             return ToLong(v.substr(colon + 1), 1, kMax, opt.nakCount);
         }},
        {"--can-block",
         [&](const std::string& v) {
             gotImageOnly = true;
             return ToLong(v, 1, kMax, opt.canBlock);
         }},
        {"--silent-block",
         [&](const std::string& v) {
             gotImageOnly = true;
             return ToLong(v, 1, kMax, opt.silentBlock);
         }},
        {"--hang-up-block",
         [&](const std::string& v) {
             gotImageOnly = true;
             return ToLong(v, 1, kMax, opt.hangUpBlock);
         }},
        {"--dup-ack-block",
         [&](const std::string& v) {
             gotImageOnly = true;
             return ToLong(v, 1, kMax, opt.dupAckBlock);
         }},
        {"--restart-block",
         [&](const std::string& v) {
             gotImageOnly = true;
             return ToLong(v, 1, kMax, opt.restartBlock);
         }},
        {"--restart-at-c",
         [&](const std::string& v) {
             gotImageOnly = true;
             if (v == "open")
                 opt.restartAtC = RestartAt::Open;
             else if (v == "close")
                 opt.restartAtC = RestartAt::Close;
             else
                 return false;
             return true;
         }},
        {"--pause-block",
         [&](const std::string& v) {
             gotImageOnly = true;
             const auto colon = v.find(':');
             if (colon == std::string::npos)
                 return false;
             return ToLong(v.substr(0, colon), 1, kMax, opt.pauseBlock) &&
                    ToLong(v.substr(colon + 1), 1, 600, opt.pauseSec);
         }},
        {"--junk-before-c",
         [&](const std::string& v) {
             gotImageOnly = true;
             return ToLong(v, 0, kMax, opt.junkBeforeC);
         }},
        {"--junk-before-stx", [&](const std::string& v) { return ToLong(v, 0, 1000000L, opt.junkBeforeStx); }},
        {"--ber",
         [&](const std::string& v) {
             if (v.empty())
                 return false;
             char* end = nullptr;
             const double x = std::strtod(v.c_str(), &end);
             if (*end != '\0' || !(x >= 0.0 && x <= 1.0))
                 return false;
             opt.ber = x;
             return true;
         }},
        {"--seed", [&](const std::string& v) { return ToU64(v, opt.seed); }},
        {"--retries",
         [&](const std::string& v) {
             gotImageOnly = true;
             return ToLong(v, 0, 1000, opt.retries);
         }},
    };

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        if (arg == "--help" || arg == "-h") {
            opt.help = true;
            continue;
        }
        if (arg == "--shuffle") {
            gotServedOnly = true;
            opt.shuffle = true;
            if (hasValue) {
                if (!ToU64(value, opt.shuffleSeed)) {
                    error = "bad value for --shuffle: " + value;
                    return false;
                }
                opt.shuffleSeedGiven = true;
            }
            continue;
        }
        const bool isFlag = arg == "--nak-block0" || arg == "--bad-etx" || arg == "--ymodem-only";
        if (isFlag) {
            if (hasValue) {
                error = arg + " takes no value";
                return false;
            }
            if (arg == "--nak-block0") {
                opt.nakBlock0 = true;
                gotImageOnly = true;
            } else if (arg == "--bad-etx")
                opt.badEtx = true;
            else
                opt.ymodemOnly = true;
            continue;
        }
        const auto it = valued.find(arg);
        if (it == valued.end()) {
            error = "unknown option " + std::string(argv[i]);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (!it->second(value)) {
            error = "bad value for " + arg + ": " + value;
            return false;
        }
    }
    if (opt.help)
        return true;

    if (opt.ymodemOnly) {
        if (opt.mode == Mode::Served) {
            error = "--ymodem-only receives an image transfer";
            return false;
        }
        if (opt.restartBlock > 0 || opt.restartAtC != RestartAt::None) {
            error = "a restart runs the whole session again; --ymodem-only has none";
            return false;
        }
        opt.mode = Mode::Image;
    }
    if (opt.mode == Mode::None) {
        error = "--mode image|served is required";
        return false;
    }
    if (opt.mode == Mode::Listen && (gotServedOnly || gotImageOnly)) {
        error = "--mode listen takes no download options";
        return false;
    }
    if (opt.mode == Mode::Image && gotServedOnly) {
        error = "--size, --chunk, --shuffle, --time-every and --edge-every belong to served mode";
        return false;
    }
    if (opt.mode == Mode::Served && gotImageOnly) {
        error = "block faults, --junk-before-c and --retries belong to image mode";
        return false;
    }
    if (!opt.requests.empty() && opt.expect.empty()) {
        error = "--request checks against --expect";
        return false;
    }
    if (opt.mode == Mode::Served && opt.expect.empty() && opt.size < 0) {
        error = "served mode needs --expect or --size";
        return false;
    }
    if (opt.mode == Mode::Served && !opt.expect.empty() && opt.size >= 0) {
        error = "--size and --expect exclude each other";
        return false;
    }
    if (!opt.port.empty() && !opt.link.empty()) {
        error = "--link names the created pty; it has no use with --port";
        return false;
    }
    if (!opt.shuffleSeedGiven)
        opt.shuffleSeed = opt.seed;
    return true;
}

}  // namespace stbsim
