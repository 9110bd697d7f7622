// SPDX-License-Identifier: MIT
// A box that is switched off: it says nothing and keeps what arrives until
// the run's deadline, so a test can show that a program sent nothing.
#pragma once

#include "line.h"
#include "options.h"

namespace stbsim {

// Always 0: the count of bytes is the result ("stbsim: listened: N byte(s)").
int Listen(Line& line, const Options& opt);

}  // namespace stbsim
