// SPDX-License-Identifier: MIT
#include "line_relay.h"

#include "bench_proc.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace bench {

constexpr int64_t kSpinNs = 200000;

void RunRelay(RelayRun* run, int senderMaster, int toReceiverFd, int fromReceiverFd, int timeoutMs)
{
    const int64_t deadline = MonoNs() + int64_t(timeoutMs) * 1000000;
    uint8_t buf[65536];
    bool senderGone = false;
    int64_t senderGoneAt = -1;
    for (;;) {
        int64_t now = MonoNs();
        if (now >= deadline) {
            run->error = "timed out";
            return;
        }
        if (run->receiverEnded && run->toReceiver.Empty() && run->toSender.Empty())
            return;
        int64_t wake = senderGone ? std::min(deadline, now + 10000000) : deadline;
        bool exact = false;
        for (const PacedLine* l : {&run->toReceiver, &run->toSender}) {
            bool e = false;
            const int64_t d = l->NextDue(now, &e);
            if (d >= 0 && d <= wake) {
                exact = d < wake ? e : exact || e;
                wake = d;
            }
        }
        pollfd fds[2] = {{senderGone ? -1 : senderMaster, POLLIN, 0},
                         {run->receiverEnded ? -1 : fromReceiverFd, POLLIN, 0}};
        // Even a real-time task wakes some 50 us late on a virtual machine,
        // and twice per block that is 1 % at 921600 bit/s: the end of a
        // burst is waited for in a sleep that ends early and a short spin.
        const int64_t early = exact ? kSpinNs : 0;
        const int64_t waitNs = std::max<int64_t>(0, wake - early - now);
        timespec ts = {time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
        int ready = ppoll(fds, 2, &ts, nullptr);
        while (ready == 0 && exact && MonoNs() < wake) {
            timespec zero = {0, 0};
            ready = ppoll(fds, 2, &zero, nullptr);
        }
        now = MonoNs();
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(senderMaster, buf, sizeof buf);
            if (n > 0)
                run->toReceiver.Arrive(buf, size_t(n), now);
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Nobody holds the pty's slave any more: the sender has ended.
            senderGone = true;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = read(fromReceiverFd, buf, sizeof buf);
            if (n > 0)
                run->toSender.Arrive(buf, size_t(n), now);
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                run->receiverEnded = true;
        }
        if (!run->toReceiver.Deliver(toReceiverFd, now)) {
            run->error = "the receiver's input closed";
            return;
        }
        if (senderGone) {
            // A sender that has ended takes no more bytes. The receiver may
            // still be finishing; one that waits on for long never will.
            run->toSender.Drop();
            if (senderGoneAt < 0)
                senderGoneAt = now;
            if (run->toReceiver.Empty() && now - senderGoneAt > 5000000000LL) {
                run->error = "the sender ended before the receiver";
                return;
            }
        } else if (!run->toSender.Deliver(senderMaster, now)) {
            run->error = "the sender's line closed";
            return;
        }
    }
}

}  // namespace bench
