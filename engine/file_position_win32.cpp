// SPDX-License-Identifier: MIT
#include "file_position.h"

int FileSeek(FILE* f, int64_t offset, int whence)
{
    return _fseeki64(f, offset, whence);
}

int64_t FileTell(FILE* f)
{
    return _ftelli64(f);
}
