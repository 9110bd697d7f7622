// SPDX-License-Identifier: MIT
// The image download file: checked and loaded whole before the engine
// answers the box, so a failed transfer can be repeated from memory.
#include "image_file.h"

#include "engine.h"
#include "file_position.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

bool IsImageFileName(const std::filesystem::path& file)
{
    // The native string: no conversion to the narrow code page on Windows.
    const std::filesystem::path name = file.filename();
    const auto& text = name.native();
    const size_t dot = text.rfind('.');
    if (dot == text.npos || text.size() - dot - 1 < 3)
        return false;
    static const char kLower[] = "dat";
    static const char kUpper[] = "DAT";
    for (size_t i = 0; i < 3; ++i) {
        const auto c = text[dot + 1 + i];
        if (c != kLower[i] && c != kUpper[i])
            return false;
    }
    return true;
}

uint64_t ImagePaddedSize(uint64_t fileLength)
{
    // The payload starts at offset 15: 15 + 1008 = 1023, so this rounds the
    // payload length up to whole KiB.
    return (fileLength + 1008) & ~uint64_t(1023);
}

bool ImageMagicValid(const uint8_t header[9])
{
    const uint8_t key = header[0];
    for (int i = 0; i < 8; ++i)
        if (uint8_t(header[1 + i] ^ key) != uint8_t(IMAGE_MAGIC[i]))
            return false;
    return true;
}

ImageVerdict ImageCheck(uint64_t fileLength, const uint8_t header[9])
{
    // No payload, no image: a header alone (or less) would announce an
    // empty transfer the box cannot take.
    if (fileLength <= IMAGE_HEADER_SIZE)
        return IMAGE_NO_PAYLOAD;
    if (!ImageMagicValid(header))
        return IMAGE_BAD_MAGIC;
    if (ImagePaddedSize(fileLength) > IMAGE_MAX_SIZE)
        return IMAGE_TOO_LARGE;
    return IMAGE_ACCEPTED;
}

void ImageMakeHeader(uint8_t maskKey, uint8_t major, uint8_t minor, const uint8_t serviceWord[4],
                     uint8_t header[IMAGE_HEADER_SIZE])
{
    header[0] = maskKey;
    for (int i = 0; i < 8; ++i)
        header[1 + i] = uint8_t(IMAGE_MAGIC[i] ^ maskKey);
    header[IMAGE_VERSION_OFFSET] = major;
    header[IMAGE_VERSION_OFFSET + 1] = minor;
    memcpy(header + IMAGE_SERVICE_OFFSET, serviceWord, 4);
}

static int Reject()
{
    EngineSetOutcome(EngineOutcome::Rejected);
    EngineLog(LOG_DONE, "BadFile Type! Abort Download\n");
    return 1;
}

// A read the system failed (an I/O error, a stream not open for reading):
// what is in memory is not the file, and must never reach the box.
static int Unreadable()
{
    EngineSetOutcome(EngineOutcome::FileError);
    EngineLog(LOG_DONE, "Can't read the download file! Abort Download\n");
    return 1;
}

int LoadImageFile(ImageLoad* image)
{
    FILE* f = g_engineFile;
    *image = ImageLoad{};

    FileSeek(f, 0, SEEK_END);
    const int64_t end = FileTell(f);
    FileSeek(f, 0, SEEK_SET);
    const uint64_t fileLength = end > 0 ? uint64_t(end) : 0;

    // Magic bytes the file does not hold stay 0.
    uint8_t header[9] = {0};
    fread(header, 1, sizeof header, f);
    const ImageVerdict verdict = ImageCheck(fileLength, header);
    // Without a payload it is no image, read or not (a device has no
    // length); past that a failed read says nothing about the magic.
    if (verdict == IMAGE_NO_PAYLOAD)
        return Reject();
    if (ferror(f))
        return Unreadable();
    if (verdict == IMAGE_BAD_MAGIC)
        return Reject();
    // Told as what it is, before anything calls the file valid.
    if (verdict == IMAGE_TOO_LARGE) {
        EngineSetOutcome(EngineOutcome::TooLarge);
        EngineLog(LOG_DONE, "Image too large to send: %llu bytes padded, at most %llu. Abort Download\n",
                  (unsigned long long)ImagePaddedSize(fileLength), (unsigned long long)IMAGE_MAX_SIZE);
        return 1;
    }

    uint8_t version[2] = {0};
    fread(version, 2, 1, f);
    EngineLog(LOG_INFO, "Download File is valid, DL Version:%d.%d\n", int(int8_t(version[0])),
              int(int8_t(version[1])));

    fread(image->serviceWord, 4, 1, f);

    const uint64_t size = ImagePaddedSize(fileLength);
    uint8_t* buffer = static_cast<uint8_t*>(malloc(size_t(size)));
    if (!buffer) {
        EngineSetOutcome(EngineOutcome::NoMemory);
        EngineLog(LOG_DONE, "Not enough memory for the image! Abort Download\n");
        return 1;
    }
    memset(buffer, 0xFF, size_t(size));
    // Short of a whole KiB the read stops at the end of the file; the tail
    // keeps its 0xFF.
    fread(buffer, 1, size_t(size), f);
    if (ferror(f)) {
        free(buffer);
        return Unreadable();
    }
    image->buffer = buffer;
    image->size = uint32_t(size);
    return 0;
}
