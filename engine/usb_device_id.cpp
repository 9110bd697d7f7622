// SPDX-License-Identifier: MIT
#include "usb_device_id.h"

#include <cctype>

namespace {

std::vector<std::string> Split(const std::string& text, const char* separators)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (std::string(separators).find(c) != std::string::npos)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

bool SameLetters(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (toupper(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    return i == a.size() && !b[i];
}

// "VID_0403" with tag "VID_" -> "0403"; empty unless four hex digits follow.
std::string HexId(const std::string& token, const char* tag)
{
    if (token.size() != 8 || !SameLetters(token.substr(0, 4), tag))
        return "";
    std::string id;
    for (size_t i = 4; i < 8; ++i) {
        if (!isxdigit(static_cast<unsigned char>(token[i])))
            return "";
        id += char(tolower(static_cast<unsigned char>(token[i])));
    }
    return id;
}

// The VID_ and PID_ among the tokens: "usb:0403:6001", or empty.
std::string VidPid(const std::vector<std::string>& tokens)
{
    std::string vid, pid;
    for (const std::string& t : tokens) {
        if (vid.empty())
            vid = HexId(t, "VID_");
        if (pid.empty())
            pid = HexId(t, "PID_");
    }
    return vid.empty() || pid.empty() ? "" : "usb:" + vid + ":" + pid;
}

// A serial number the adapter reported, not one Windows made up from where
// it is plugged in.
bool RealSerial(const std::string& s)
{
    return !s.empty() && s.find('&') == std::string::npos;
}

}  // namespace

std::string UsbIdentityFromInstanceId(const std::string& instanceId)
{
    const std::vector<std::string> parts = Split(instanceId, "\\");
    if (parts.size() != 3)
        return "";
    if (SameLetters(parts[0], "USB")) {
        const std::vector<std::string> tokens = Split(parts[1], "&");
        const std::string ids = VidPid(tokens);
        if (ids.empty())
            return "";
        // One interface of a composite device ("&MI_00"): its last part is
        // always Windows' own; the serial belongs to the parent device.
        for (const std::string& t : tokens)
            if (t.size() == 5 && SameLetters(t.substr(0, 3), "MI_"))
                return ids;
        return RealSerial(parts[2]) ? ids + ":" + parts[2] : ids;
    }
    if (SameLetters(parts[0], "FTDIBUS")) {
        const std::vector<std::string> tokens = Split(parts[1], "+");
        if (tokens.size() != 3)
            return "";
        const std::string ids = VidPid({tokens[0], tokens[1]});
        if (ids.empty())
            return "";
        return RealSerial(tokens[2]) ? ids + ":" + tokens[2] : ids;
    }
    return "";
}

std::string UsbIdentityFromHardwareIds(const std::vector<std::string>& hardwareIds)
{
    for (const std::string& id : hardwareIds) {
        const std::string ids = VidPid(Split(id, "\\&+"));
        if (!ids.empty())
            return ids;
    }
    return "";
}
