// SPDX-License-Identifier: MIT
// `marbrix-cli inspect`: the engine's view of an image file, without a box.
#include "exit_codes.h"
#include "image_tools.h"

#include "file_position.h"
#include "image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

int InspectImage(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        fprintf(stderr, "%s: cannot open: %s\n", path.c_str(), strerror(errno));
        return EXIT_FILE;
    }
    struct stat st {};
    if (fstat(fileno(f), &st) < 0 || !S_ISREG(st.st_mode)) {
        fprintf(stderr, "%s: not a regular file\n", path.c_str());
        fclose(f);
        return EXIT_FILE;
    }
    // The length through a 64-bit position: stat's size is 32 bits on Windows.
    FileSeek(f, 0, SEEK_END);
    const int64_t end = FileTell(f);
    FileSeek(f, 0, SEEK_SET);
    uint64_t length = end > 0 ? uint64_t(end) : 0;
    uint8_t header[IMAGE_HEADER_SIZE] = {};
    fread(header, 1, sizeof header, f);
    bool readError = ferror(f) != 0;
    fclose(f);
    if (readError) {
        fprintf(stderr, "%s: read error\n", path.c_str());
        return EXIT_FILE;
    }

    printf("file: %s\n", path.c_str());
    printf("file size: %llu bytes\n", (unsigned long long)length);
    // The engine's own rules, in the engine's order.
    switch (ImageCheck(length, header)) {
    case IMAGE_NO_PAYLOAD:
        printf("valid image: no (%s)\n",
               length < IMAGE_HEADER_SIZE ? "shorter than the 15-byte header" : "no payload after the header");
        return EXIT_REJECTED;
    case IMAGE_BAD_MAGIC:
        printf("valid image: no (the magic does not decode to %s with mask key 0x%02X)\n", IMAGE_MAGIC, header[0]);
        return EXIT_REJECTED;
    case IMAGE_TOO_LARGE:
        printf("valid image: no (padded size %llu is above the largest image, %llu)\n",
               (unsigned long long)ImagePaddedSize(length), (unsigned long long)IMAGE_MAX_SIZE);
        return EXIT_REJECTED;
    case IMAGE_ACCEPTED:
        break;
    }
    const uint64_t padded = ImagePaddedSize(length);
    printf("valid image: yes\n");
    printf("mask key: 0x%02X\n", header[0]);
    const uint8_t* version = header + IMAGE_VERSION_OFFSET;
    const uint8_t* word = header + IMAGE_SERVICE_OFFSET;
    printf("version: %d.%d\n", int(int8_t(version[0])), int(int8_t(version[1])));
    printf("service word: %02X%02X%02X%02X\n", word[0], word[1], word[2], word[3]);
    printf("payload: %llu bytes\n", (unsigned long long)(length - IMAGE_HEADER_SIZE));
    printf("image size: %llu bytes (padded with 0xFF to whole KiB)\n", (unsigned long long)padded);
    printf("ymodem blocks: %llu\n", (unsigned long long)(padded / 1024));
    return 0;
}
