// SPDX-License-Identifier: MIT
#include "log_file_device.h"

#include "write_all_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A device (a terminal held by XOFF, a slow pipe behind a character device)
// gets this long to take a line before the line counts as lost: the log
// must never hold up a download.
constexpr int kDeviceStallMs = 1000;

bool RefusedKind(mode_t mode, std::string* why)
{
    if (S_ISDIR(mode)) {
        *why = strerror(EISDIR);
        return true;
    }
    if (S_ISREG(mode) || S_ISCHR(mode) || S_ISBLK(mode))
        return false;
    *why = std::string("not a regular file or a device (") + (S_ISFIFO(mode) ? "a FIFO" : "a socket") +
           " would leave the download waiting for its reader)";
    return true;
}

}  // namespace

int LogDeviceOpen(const std::string& path, std::string* why)
{
    // Looked at before the open: opening a FIFO that has no reader fails
    // with words that would not say why it is refused.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && RefusedKind(st.st_mode, why))
        return -1;
    // Non-blocking, so the open itself can never wait.
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    // Whatever the path named by the time it was opened.
    if (fstat(fd, &st) < 0) {
        *why = strerror(errno);
        close(fd);
        return -1;
    }
    if (RefusedKind(st.st_mode, why)) {
        close(fd);
        return -1;
    }
    // A file on a disk takes its lines whole; a device stays non-blocking
    // and gets a bounded wait in LogDeviceWrite.
    if (S_ISREG(st.st_mode))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool LogDeviceWrite(int fd, const std::string& bytes, std::string* why)
{
    switch (WriteAll(fd, bytes.data(), bytes.size(), kDeviceStallMs)) {
    case WriteAllEnd::Done:
        return true;
    case WriteAllEnd::Stalled:
        *why = "it took nothing for " + std::to_string(kDeviceStallMs / 1000) + " s";
        return false;
    case WriteAllEnd::TookNothing:
        *why = "it took nothing";
        return false;
    case WriteAllEnd::Failed:
        break;
    }
    *why = strerror(errno);
    return false;
}
