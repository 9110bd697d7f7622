// SPDX-License-Identifier: MIT
// The box's side of a served download: start handshake, then requests for
// stretches of the file by offset and length, with time requests in between.
#pragma once
#include "faults.h"
#include "line.h"
#include "options.h"

namespace stbsim {

// Returns the exit status: 0 when the file arrived whole and identical.
int RunServedSession(Line& line, Faults& faults, const Options& opt);

}  // namespace stbsim
