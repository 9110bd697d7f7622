// SPDX-License-Identifier: MIT
// The fuzz targets assert what must hold for every input, not only that
// nothing crashes: a broken rule prints what was seen and aborts, which
// libFuzzer records as a finding and the seed replay as a failed test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void FuzzFail(const char* file, int line, const std::string& what)
{
    fprintf(stderr, "\nfuzz rule broken at %s:%d: %s\n", file, line, what.c_str());
    fflush(stderr);
    abort();
}

#define FUZZ_CHECK(cond, what)                    \
    do {                                          \
        if (!(cond))                              \
            FuzzFail(__FILE__, __LINE__, (what)); \
    } while (0)
