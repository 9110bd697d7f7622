// SPDX-License-Identifier: MIT
#include "file_position.h"

#include <sys/types.h>

int FileSeek(FILE* f, int64_t offset, int whence)
{
    return fseeko(f, static_cast<off_t>(offset), whence);
}

int64_t FileTell(FILE* f)
{
    return static_cast<int64_t>(ftello(f));
}
