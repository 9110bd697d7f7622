// SPDX-License-Identifier: MIT
#include "results_device.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Refused(mode_t mode, std::string* why)
{
    if (S_ISDIR(mode)) {
        *why = strerror(EISDIR);
        return true;
    }
    // A record that sits in a pipe is no record: only a file on a disk
    // (or /dev/null, for a test that wants none) is taken.
    if (S_ISREG(mode) || S_ISCHR(mode))
        return false;
    *why = "not a regular file";
    return true;
}

}  // namespace

intptr_t ResultsDeviceOpen(const std::string& path, std::string* why)
{
    // Looked at first, so that a FIFO without a reader cannot hold the open.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && Refused(st.st_mode, why))
        return -1;
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    if (fstat(fd, &st) < 0) {
        *why = strerror(errno);
        close(fd);
        return -1;
    }
    if (Refused(st.st_mode, why)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ResultsDeviceAppend(intptr_t device, const std::string& bytes, std::string* why)
{
    const int fd = int(device);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *why = n == 0 ? "it took nothing" : strerror(errno);
            return false;
        }
        done += size_t(n);
    }
    // On the disk, not only in the page cache: the record must outlive a
    // power cut at the bench. A device such as /dev/null cannot sync and
    // need not.
    if (fsync(fd) < 0 && errno != EINVAL && errno != EROFS) {
        *why = strerror(errno);
        return false;
    }
    return true;
}

void ResultsDeviceClose(intptr_t device)
{
    close(int(device));
}

std::string ResultsFolder()
{
    // The XDG base directories: an empty or relative value is to be ignored.
    const char* data = getenv("XDG_DATA_HOME");
    if (data && data[0] == '/')
        return std::string(data) + "/marbrix";
    const char* home = getenv("HOME");
    if (home && home[0])
        return std::string(home) + "/.local/share/marbrix";
    return std::string();
}
