// SPDX-License-Identifier: MIT
// Windows: the C runtime's descriptors. A named pipe is refused as a FIFO is
// on POSIX; NUL and the console are character devices and are taken.
#include "log_file_device.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

int LogDeviceOpen(const std::string& path, std::string* why)
{
    int fd = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    struct _stat64 st {};
    if (_fstat64(fd, &st) < 0) {
        *why = strerror(errno);
        _close(fd);
        return -1;
    }
    if (st.st_mode & _S_IFDIR) {
        *why = strerror(EISDIR);
        _close(fd);
        return -1;
    }
    if (!(st.st_mode & (_S_IFREG | _S_IFCHR))) {
        *why = "not a regular file or a device (a pipe would leave the download waiting for its reader)";
        _close(fd);
        return -1;
    }
    return fd;
}

bool LogDeviceWrite(int fd, const std::string& bytes, std::string* why)
{
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        int n = _write(fd, p, unsigned(left));
        if (n <= 0) {
            *why = n == 0 ? "it took nothing" : strerror(errno);
            return false;
        }
        p += n;
        left -= size_t(n);
    }
    return true;
}
