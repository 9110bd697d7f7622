// SPDX-License-Identifier: MIT
#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace stbsim {

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data, std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    data.clear();
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad)
        error = "cannot read " + path;
    return !bad;
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& data, std::string& error)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    // An empty vector may have no buffer at all, and fwrite must not see a null pointer.
    const bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0 || !ok) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ExpectImage(const std::vector<std::uint8_t>& file, ExpectedImage& img, std::string& error)
{
    constexpr std::size_t kHeader = 15;
    if (file.size() < kHeader) {
        error = "the image file is shorter than its 15-byte header";
        return false;
    }
    static const char kMagic[] = "VELTOWDL";
    img.magicValid = true;
    for (int i = 0; i < 8; ++i)
        if ((file[1 + i] ^ file[0]) != static_cast<std::uint8_t>(kMagic[i]))
            img.magicValid = false;
    for (int i = 0; i < 4; ++i)
        img.serviceWord[i] = file[11 + i];
    const std::size_t payload = file.size() - kHeader;
    const std::size_t padded = (payload + 1023) / 1024 * 1024;
    img.padded.assign(padded, 0xFF);
    std::copy(file.begin() + kHeader, file.end(), img.padded.begin());
    return true;
}

}  // namespace stbsim
