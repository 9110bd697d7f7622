// SPDX-License-Identifier: MIT
#include "host_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <termios.h>
#include <unistd.h>

namespace host {

Pty::~Pty()
{
    if (master >= 0)
        close(master);
}

bool Pty::Open()
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0)
        return false;
    const char* name = ptsname(master);
    if (!name)
        return false;
    slavePath = name;
    // Raw before the program opens it (the setting stays with the pty), so
    // bytes sent early are neither echoed nor translated.
    int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0)
        return false;
    termios t;
    bool raw = tcgetattr(slave, &t) == 0;
    if (raw) {
        cfmakeraw(&t);
        raw = tcsetattr(slave, TCSANOW, &t) == 0;
    }
    close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return raw;
}

std::string MakeTempDir()
{
    char tmpl[] = "/tmp/marbrix-test.XXXXXX";
    const char* d = mkdtemp(tmpl);
    return d ? d : "";
}

void RemoveTree(const std::string& dir)
{
    std::error_code ec;
    if (!dir.empty())
        std::filesystem::remove_all(dir, ec);
}

bool WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream f(path, std::ios::binary);
    f.write(data.data(), std::streamsize(data.size()));
    return bool(f);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string RandomBytes(size_t count, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(count, '\0');
    for (char& c : s)
        c = char(gen() & 0xFF);
    return s;
}

}  // namespace host
