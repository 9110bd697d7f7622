// SPDX-License-Identifier: MIT
#include "download_file.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

// Opens the download file for binary reading; only regular files are taken.
FILE* OpenDownloadFile(const std::string& name, uint64_t* size, bool* regular, std::string* why)
{
    FILE* file = fopen(name.c_str(), "rb");
    if (!file) {
        *why = strerror(errno);
        return nullptr;
    }
    struct _stat64 st {};
    if (_fstat64(_fileno(file), &st) < 0 || !(st.st_mode & _S_IFREG)) {
        *why = (st.st_mode & _S_IFDIR) ? strerror(EISDIR) : "not a regular file";
        fclose(file);
        return nullptr;
    }
    *size = uint64_t(st.st_size);
    *regular = true;
    return file;
}
