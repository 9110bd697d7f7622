// SPDX-License-Identifier: MIT
#include "output_file.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

const char kPathSeparators[] = "/";

void OutputFileUsualMode(int fd)
{
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

int OutputFileSync(int fd)
{
    return fsync(fd);
}

int OutputFileReplace(const char* from, const char* to)
{
    return rename(from, to);
}
