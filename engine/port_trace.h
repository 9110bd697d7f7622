// SPDX-License-Identifier: MIT
// MARBRIX_TRACE=1 makes the port backends tell every system call they make
// on standard error, each line starting "marbrix-port: ", so a port that
// misbehaves on a bench can be followed call by call.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

inline bool PortTraceOn()
{
    static const bool on = [] {
        const char* v = getenv("MARBRIX_TRACE");
        return v && *v && strcmp(v, "0") != 0;
    }();
    return on;
}

#define PORT_TRACE(...)                                    \
    do {                                                   \
        if (PortTraceOn()) {                               \
            fprintf(stderr, "marbrix-port: " __VA_ARGS__); \
            fputc('\n', stderr);                           \
        }                                                  \
    } while (0)
