// SPDX-License-Identifier: MIT
#include "port_open_failure.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>

namespace {

// The group a user must join to open the device: the one that owns it.
std::string OwnerGroup(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) < 0)
        return "";
    group* g = getgrgid(st.st_gid);
    return g ? std::string(g->gr_name) : std::to_string(st.st_gid);
}

}  // namespace

bool PortHeldByAnother(const PortOpenError& e)
{
    return e.code == EBUSY;
}

std::string PortOpenFailureReason(const std::string& path, const PortOpenError& e, const char* missingHint)
{
    if (PortHeldByAnother(e)) {
        if (!e.holders.empty())
            return path + " is busy: another program holds it open: " + e.holders + " (close it first).";
        return path + " is busy: another program holds it open (close that program first).";
    }
    switch (e.code) {
    case EACCES:
    case EPERM: {
        std::string group = OwnerGroup(path);
        if (group.empty())
            group = "dialout";
        return "Permission denied on " + path + ": the user needs to be in the group '" + group +
               "' that owns the device (sudo usermod -aG " + group + " $USER, then log in again).";
    }
    case ENOENT:
    case ENODEV:
    case ENXIO:
        if (missingHint && *missingHint)
            return "No such device: " + path + " (" + missingHint + ").";
        return "No such device: " + path + ".";
    default:
        return (e.text.empty() ? std::string("cannot open ") + path : e.text) + ".";
    }
}
