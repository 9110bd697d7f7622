// SPDX-License-Identifier: MIT
// The image loader on arbitrary file contents.
//
// Input: a byte giving where the file is positioned before the load (the
// loader must not care), then the file's contents.
//
// Rules: the file is taken exactly when it holds more than the 15-byte
// header and the magic unmasks; the loaded image is the payload followed
// by 0xFF up to whole KiB, the service word the header's last four bytes;
// a refused file writes exactly one line that ends the download.
#include "fuzz_check.h"
#include "fuzz_input.h"

#include "engine.h"
#include "image_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_doneLines = 0;
int g_lines = 0;

int CountLog(const char*, int level)
{
    ++g_lines;
    if (level == LOG_DONE)
        ++g_doneLines;
    return 0;
}

FILE* Scratch()
{
    static FILE* f = tmpfile();
    if (!f)
        abort();
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t position = in.Byte();
    const std::vector<uint8_t> bytes = in.Rest();

    FILE* f = Scratch();
    if (ftruncate(fileno(f), 0) != 0)
        abort();
    rewind(f);
    if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
        abort();
    fflush(f);
    fseek(f, long(position % (bytes.size() + 1)), SEEK_SET);

    g_engineFile = f;
    g_pfnLogSink = CountLog;
    g_doneLines = g_lines = 0;
    ImageLoad image{};
    const int r = LoadImageFile(&image);
    g_engineFile = nullptr;

    bool magic = bytes.size() >= 9;
    for (int i = 0; magic && i < 8; ++i)
        magic = uint8_t(bytes[1 + size_t(i)] ^ bytes[0]) == uint8_t("VELTOWDL"[i]);
    const bool take = bytes.size() > 15 && magic;
    FUZZ_CHECK((r == 0) == take, std::string("a file of ") + std::to_string(bytes.size()) + " bytes " +
                                     (take ? "refused" : "taken") + (magic ? " (magic valid)" : " (magic broken)"));
    if (r != 0) {
        FUZZ_CHECK(g_doneLines == 1, "a refused file wrote " + std::to_string(g_doneLines) + " ending lines");
        return 0;
    }

    const size_t payload = bytes.size() - 15;
    const size_t padded = (payload + 1023) / 1024 * 1024;
    FUZZ_CHECK(image.size == padded,
               "image of " + std::to_string(image.size) + " bytes for a payload of " + std::to_string(payload));
    FUZZ_CHECK(g_doneLines == 0, "an accepted file wrote an ending line");
    FUZZ_CHECK(memcmp(image.buffer, bytes.data() + 15, payload) == 0, "payload not loaded as it stands");
    for (size_t i = payload; i < padded; ++i)
        FUZZ_CHECK(image.buffer[i] == 0xFF, "padding byte " + std::to_string(i) + " is not 0xFF");
    FUZZ_CHECK(memcmp(image.serviceWord, bytes.data() + 11, 4) == 0, "service word not taken from offsets 11..14");
    free(image.buffer);
    return 0;
}
