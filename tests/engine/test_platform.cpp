// SPDX-License-Identifier: MIT
#include "test_platform.h"

namespace etest {

StdoutCapture::StdoutCapture()
{
    fflush(stdout);
    sink = OpenScratchFile();
    if (sink)
        saved = RedirectStdout(sink);
}

StdoutCapture::~StdoutCapture()
{
    Take();
}

std::string StdoutCapture::Take()
{
    fflush(stdout);
    if (saved >= 0) {
        RestoreStdout(saved);
        saved = -1;
    }
    std::string text;
    if (!sink)
        return text;
    rewind(sink);
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, sink)) > 0;)
        text.append(buf, n);
    fclose(sink);
    sink = nullptr;
    return text;
}

}  // namespace etest
