// SPDX-License-Identifier: MIT
// Faults the box can inject, and the noise generators behind them. The block
// faults are meant to make one transfer fail or stumble, so they act on the
// first transfer only; a --retries attempt then shows that the engine recovers.
#pragma once
#include <cstdint>
#include <random>
#include <string>

#include "options.h"

namespace stbsim {

// The fault knobs are the options themselves; what changes during a run
// lives here.
struct Faults {
    explicit Faults(const Options& options) : opt(options), badEtxPending(options.badEtx) {}

    const Options& opt;
    bool badEtxPending;         // cleared once the bad frame has gone out
    bool firstTransfer = true;  // block faults apply while this holds
};

// Printable console chatter, as a booting box prints it, that never holds
// an STX or ETX.
std::string Chatter(std::size_t n);

// Bytes for the engine to drop while it waits for 'C': none of them is 'C'.
std::string JunkNotC(std::size_t n);

// Flips each bit of a byte independently with the given probability.
class BitErrors {
public:
    BitErrors(double rate, std::uint64_t seed) : rate_(rate), rng_(seed), uni_(0.0, 1.0) {}
    std::uint8_t Apply(std::uint8_t b);
    std::uint64_t Flips() const { return flips_; }
    bool Active() const { return rate_ > 0.0; }

private:
    double rate_;
    std::mt19937_64 rng_;
    std::uniform_real_distribution<double> uni_;
    std::uint64_t flips_ = 0;
};

}  // namespace stbsim
