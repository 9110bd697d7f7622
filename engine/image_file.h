// SPDX-License-Identifier: MIT
// The image download file: a 15-byte header (mask key, masked magic, version,
// service word) and the payload, loaded padded with 0xFF to whole KiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

constexpr size_t IMAGE_HEADER_SIZE = 15;
constexpr size_t IMAGE_VERSION_OFFSET = 9;   // major, then minor
constexpr size_t IMAGE_SERVICE_OFFSET = 11;  // four bytes, passed on in file order
constexpr char IMAGE_MAGIC[] = "VELTOWDL";   // eight characters, XORed with the mask key
// Larger images cannot be announced in YMODEM's decimal size field.
constexpr uint64_t IMAGE_MAX_SIZE = 0x7FFFFC00u;

struct ImageLoad {
    uint8_t* buffer;         // image size bytes, payload then 0xFF; malloc'ed
    uint32_t size;           // payload length rounded up to a multiple of 1024
    uint8_t serviceWord[4];  // file offsets 11..14, in file order
};

// Whether a file is sent as an image rather than served, from its name alone:
// the text after the last dot of the file name (not of a folder) begins with
// D, A, T in any case (.dat, .DAT, .data). The folder separators are the
// platform's own: a backslash separates only on Windows.
bool IsImageFileName(const std::filesystem::path& file);

// Payload length rounded up to whole KiB: (file length + 1008) & ~1023.
uint64_t ImagePaddedSize(uint64_t fileLength);
// True when the nine header bytes at offset 0 carry the masked magic.
bool ImageMagicValid(const uint8_t header[9]);

// What the loader makes of a file from its length and its first nine bytes.
enum ImageVerdict {
    IMAGE_ACCEPTED,
    IMAGE_NO_PAYLOAD,  // the header alone, or less
    IMAGE_BAD_MAGIC,
    IMAGE_TOO_LARGE,  // padded size above IMAGE_MAX_SIZE
};
ImageVerdict ImageCheck(uint64_t fileLength, const uint8_t header[9]);

// The 15 header bytes of an image file with this mask key, version and service word.
void ImageMakeHeader(uint8_t maskKey, uint8_t major, uint8_t minor, const uint8_t serviceWord[4],
                     uint8_t header[IMAGE_HEADER_SIZE]);

// Checks and loads g_engineFile. 0: accepted, *image filled (caller frees the
// buffer). 1: refused or unreadable; its outcome is set and its LOG_DONE line
// has been written.
int LoadImageFile(ImageLoad* image);
