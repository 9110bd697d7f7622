// SPDX-License-Identifier: MIT
#include "listen.h"

#include <vector>

#include "files.h"
#include "report.h"

namespace stbsim {

int Listen(Line& line, const Options& opt)
{
    std::vector<std::uint8_t> got;
    try {
        for (;;) {
            const int b = line.Get(1000);
            if (b >= 0)
                got.push_back(static_cast<std::uint8_t>(b));
        }
    } catch (const DeadlineExpired&) {
    }
    if (!opt.out.empty()) {
        std::string err;
        if (!WriteWholeFile(opt.out, got, err)) {
            Report("FAIL: " + err);
            return 1;
        }
    }
    Report("listened: " + std::to_string(got.size()) + " byte(s)" +
           (got.empty() ? "" : ", starting " + Hex(got.data(), got.size() < 16 ? got.size() : 16)));
    return 0;
}

}  // namespace stbsim
