// SPDX-License-Identifier: MIT
#include "output_file.h"

#include <windows.h>
#include <cerrno>
#include <io.h>

const char kPathSeparators[] = "/\\";

// The file's permissions follow its folder's; nothing to give.
void OutputFileUsualMode(int) {}

int OutputFileSync(int fd)
{
    return _commit(fd);
}

// rename() does not replace an existing file on Windows.
int OutputFileReplace(const char* from, const char* to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    errno = EACCES;
    return -1;
}
