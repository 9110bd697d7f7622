// SPDX-License-Identifier: MIT
// pack: builds an image file the engine accepts from a raw payload.
#include "exit_codes.h"
#include "image_tools.h"
#include "output_file.h"

#include "image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

int PackImage(const PackOptions& o)
{
    FILE* in = fopen(o.payload.c_str(), "rb");
    if (!in) {
        fprintf(stderr, "%s: cannot open the payload: %s\n", o.payload.c_str(), strerror(errno));
        return EXIT_FILE;
    }
    std::vector<uint8_t> payload;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) {
        payload.insert(payload.end(), buf, buf + n);
        if (payload.size() > IMAGE_MAX_SIZE)
            break;
    }
    bool readError = ferror(in) != 0;
    fclose(in);
    if (readError) {
        fprintf(stderr, "%s: read error\n", o.payload.c_str());
        return EXIT_FILE;
    }
    if (payload.empty()) {
        fprintf(stderr, "%s: empty payload; the engine rejects an image without one\n", o.payload.c_str());
        return EXIT_REJECTED;
    }
    if (ImagePaddedSize(payload.size() + IMAGE_HEADER_SIZE) > IMAGE_MAX_SIZE) {
        fprintf(stderr, "%s: payload too large for one image\n", o.payload.c_str());
        return EXIT_REJECTED;
    }

    uint8_t header[IMAGE_HEADER_SIZE];
    ImageMakeHeader(o.maskKey, o.major, o.minor, o.serviceWord, header);

    // A temp file beside the target, renamed over it at the end, so a reader
    // never sees half an image and a failure leaves the old file alone.
    size_t slash = o.out.find_last_of(kPathSeparators);
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : o.out.substr(0, slash));
    std::string base = slash == std::string::npos ? o.out : o.out.substr(slash + 1);
    std::string tmpl = dir + "/." + base + ".XXXXXX";
    std::vector<char> tmp(tmpl.begin(), tmpl.end());
    tmp.push_back('\0');
    int fd = mkstemp(tmp.data());
    if (fd < 0) {
        fprintf(stderr, "%s: cannot create a file in %s: %s\n", o.out.c_str(), dir.c_str(), strerror(errno));
        return EXIT_FILE;
    }
    OutputFileUsualMode(fd);
    bool ok = WriteAll(fd, header, sizeof header) && WriteAll(fd, payload.data(), payload.size()) &&
              OutputFileSync(fd) == 0;
    int err = errno;
    ok = (close(fd) == 0) && ok;
    if (ok && OutputFileReplace(tmp.data(), o.out.c_str()) != 0) {
        err = errno;
        ok = false;
    }
    if (!ok) {
        unlink(tmp.data());
        fprintf(stderr, "%s: cannot write: %s\n", o.out.c_str(), strerror(err));
        return EXIT_FILE;
    }
    printf("%s: %zu bytes of payload, version %d.%d, image size %llu\n", o.out.c_str(), payload.size(),
           int(int8_t(o.major)), int(int8_t(o.minor)),
           (unsigned long long)ImagePaddedSize(payload.size() + IMAGE_HEADER_SIZE));
    return 0;
}
