// SPDX-License-Identifier: MIT
#include "stdout_put.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool StdoutPut(const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(STDOUT_FILENO, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // stdout's description may have been made non-blocking by
            // whoever shares it.
            pollfd p = {STDOUT_FILENO, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        return false;
    }
    return true;
}
