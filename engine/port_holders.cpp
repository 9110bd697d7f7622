// SPDX-License-Identifier: MIT
#include "port_holders.h"

#ifdef __linux__
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#ifdef __linux__

namespace {

// Unix98 pty slaves: majors 136..143.
bool IsPtySlave(dev_t rdev)
{
    return major(rdev) >= 136 && major(rdev) <= 143;
}

bool AllDigits(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s)
        if (!isdigit(static_cast<unsigned char>(*s)))
            return false;
    return true;
}

std::string CommandName(const std::string& procDir)
{
    FILE* f = fopen((procDir + "/comm").c_str(), "re");
    if (!f)
        return "";
    char buf[64] = {0};
    if (!fgets(buf, sizeof buf, f))
        buf[0] = 0;
    fclose(f);
    size_t n = strlen(buf);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r'))
        buf[--n] = 0;
    return buf;
}

bool HoldsDevice(const std::string& procDir, dev_t rdev, dev_t fsDev)
{
    std::string fdDir = procDir + "/fd";
    DIR* d = opendir(fdDir.c_str());
    if (!d)
        return false;  // gone, or not ours to look at
    bool found = false;
    while (dirent* e = readdir(d)) {
        if (!AllDigits(e->d_name))
            continue;
        std::string link = fdDir + "/" + e->d_name;
        // Only device nodes are stat'ed: a descriptor on a stalled network
        // or FUSE file could make stat wait, a readlink never does.
        char target[PATH_MAX];
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n < 5 || memcmp(target, "/dev/", 5) != 0)
            continue;
        struct stat st {};
        if (stat(link.c_str(), &st) < 0 || !S_ISCHR(st.st_mode) || st.st_rdev != rdev)
            continue;
        if (IsPtySlave(rdev) && st.st_dev != fsDev)
            continue;
        found = true;
        break;
    }
    closedir(d);
    return found;
}

}  // namespace

std::vector<PortHolder> PortFindHolders(dev_t rdev, dev_t fsDev)
{
    std::vector<PortHolder> holders;
    DIR* proc = opendir("/proc");
    if (!proc)
        return holders;
    const pid_t self = getpid();
    while (dirent* e = readdir(proc)) {
        if (!AllDigits(e->d_name))
            continue;
        pid_t pid = pid_t(strtol(e->d_name, nullptr, 10));
        if (pid == self)
            continue;
        std::string dir = std::string("/proc/") + e->d_name;
        if (HoldsDevice(dir, rdev, fsDev))
            holders.push_back({pid, CommandName(dir)});
    }
    closedir(proc);
    return holders;
}

#else

std::vector<PortHolder> PortFindHolders(dev_t, dev_t)
{
    return {};
}

#endif

std::string PortDescribeHolders(const std::vector<PortHolder>& holders)
{
    std::string text;
    for (const PortHolder& h : holders) {
        if (!text.empty())
            text += ", ";
        text += (h.name.empty() ? std::string("a program") : h.name) + " (pid " + std::to_string(h.pid) + ")";
    }
    return text;
}
