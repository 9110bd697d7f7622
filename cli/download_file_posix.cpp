// SPDX-License-Identifier: MIT
#include "download_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Opens the download file without ever waiting: a FIFO or a socket would block
// open() or the engine's reads on a writer that may never come, so only
// regular files and devices are taken. The descriptor stays non-blocking; a
// device with nothing to give reads short instead of stopping the worker.
FILE* OpenDownloadFile(const std::string& name, uint64_t* size, bool* regular, std::string* why)
{
    struct stat st {};
    int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return nullptr;
    }
    if (fstat(fd, &st) < 0) {
        *why = strerror(errno);
        close(fd);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        *why = strerror(EISDIR);
        close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode)) {
        *why = std::string("not a regular file or a device (") + (S_ISFIFO(st.st_mode) ? "a FIFO" : "a socket") +
               " would leave the download waiting for its writer)";
        close(fd);
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        *why = strerror(errno);
        close(fd);
        return nullptr;
    }
    *size = uint64_t(st.st_size);
    *regular = S_ISREG(st.st_mode);
    return file;
}
