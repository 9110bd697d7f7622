// SPDX-License-Identifier: MIT
#include "write_all_posix.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

WriteAllEnd WriteAll(int fd, const char* data, size_t size, int stallMs)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The description was made non-blocking by us or by whoever
            // shares it: wait for room.
            pollfd p = {fd, POLLOUT, 0};
            if (stallMs < 0) {
                poll(&p, 1, 100);
                continue;
            }
            int r = poll(&p, 1, stallMs);
            if (r > 0 && !(p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                continue;
            if (r < 0 && errno == EINTR)
                continue;
            return WriteAllEnd::Stalled;
        }
        return n == 0 ? WriteAllEnd::TookNothing : WriteAllEnd::Failed;
    }
    return WriteAllEnd::Done;
}
