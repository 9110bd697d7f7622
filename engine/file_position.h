// SPDX-License-Identifier: MIT
// 64-bit positions in the download file on every platform: a long is 32 bits
// on Windows, and images and served files may pass 2 GiB.
#pragma once

#include <cstdint>
#include <cstdio>

inline int FileSeek(FILE* f, int64_t offset, int whence)
{
#ifdef _WIN32
    return _fseeki64(f, offset, whence);
#else
    return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

// -1 on failure.
inline int64_t FileTell(FILE* f)
{
#ifdef _WIN32
    return _ftelli64(f);
#else
    return static_cast<int64_t>(ftello(f));
#endif
}
