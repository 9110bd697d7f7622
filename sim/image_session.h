// SPDX-License-Identifier: MIT
// The box's side of an image download: start handshake, service request,
// the service word, the YMODEM-1K batch, and the check of what arrived.
#pragma once
#include "faults.h"
#include "line.h"
#include "options.h"

namespace stbsim {

// Returns the exit status: 0 when the image arrived whole and identical.
int RunImageSession(Line& line, Faults& faults, const Options& opt);

}  // namespace stbsim
