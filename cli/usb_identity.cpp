// SPDX-License-Identifier: MIT
#include "usb_identity.h"

#include "serial_port.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Identity {
    std::string vid, pid, serial;  // ids in lower case; serial as given, may be empty
};

bool Split(const std::string& text, Identity* id)
{
    if (text.compare(0, 4, "usb:") != 0)
        return false;
    std::string rest = text.substr(4);
    size_t a = rest.find(':');
    if (a == std::string::npos)
        return false;
    id->vid = Lower(rest.substr(0, a));
    std::string after = rest.substr(a + 1);
    size_t b = after.find(':');
    id->pid = Lower(after.substr(0, b));
    id->serial = b == std::string::npos ? "" : after.substr(b + 1);
    auto hex4 = [](const std::string& s) {
        if (s.empty() || s.size() > 4)
            return false;
        for (char c : s)
            if (!isxdigit(static_cast<unsigned char>(c)))
                return false;
        return true;
    };
    if (!hex4(id->vid) || !hex4(id->pid))
        return false;
    // "usb:403:6001" and "usb:0403:6001" are the same adapter.
    id->vid.insert(0, 4 - id->vid.size(), '0');
    id->pid.insert(0, 4 - id->pid.size(), '0');
    return true;
}

// How close an adapter's serial number is to the one asked for; lower is
// closer, kNoMatch not at all. Only the closest adapters are taken, so a
// serial that is written exactly is never ambiguous with a looser one.
enum SerialMatch { kExact, kIgnoringCase, kFtdiPortOf, kNoMatch };

SerialMatch MatchSerial(const std::string& want, const std::string& have)
{
    if (want.empty() || want == have)
        return kExact;
    if (Lower(want) == Lower(have))
        return kIgnoringCase;
    // FTDI's driver on Windows: the chip's serial and the port's letter.
    const char letter = have.empty() ? 0 : char(toupper(static_cast<unsigned char>(have.back())));
    if (have.size() == want.size() + 1 && letter >= 'A' && letter <= 'D' &&
        Lower(have.substr(0, want.size())) == Lower(want))
        return kFtdiPortOf;
    return kNoMatch;
}

}  // namespace

bool IsUsbIdentity(const std::string& port)
{
    return port.compare(0, 4, "usb:") == 0;
}

bool SameUsbIdentity(const std::string& a, const std::string& b)
{
    Identity x, y;
    if (!Split(a, &x) || !Split(b, &y))
        return a == b;
    return x.vid == y.vid && x.pid == y.pid && x.serial == y.serial;
}

std::vector<PortInfo> CurrentPortListing()
{
    const char* file = getenv("MARBRIX_PORT_LISTING");
    if (!file || !*file)
        return ListSerialPorts();
    std::vector<PortInfo> result;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        // A listing written on Windows may end its lines with CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t tab = line.find('\t');
        if (line.empty() || tab == std::string::npos)
            continue;
        PortInfo p;
        p.path = line.substr(0, tab);
        p.shortName = PortShortName(p.path);
        p.usbIdentity = line.substr(tab + 1);
        p.description = "USB serial adapter";
        result.push_back(p);
    }
    return result;
}

bool ResolveUsbPort(const std::string& port, std::string* path, std::string* why)
{
    if (!IsUsbIdentity(port)) {
        *path = PortDevicePath(port);
        return true;
    }
    Identity want;
    if (!Split(port, &want)) {
        *why = "--port " + port + ": a USB identity is usb:VID:PID or usb:VID:PID:SERIAL (VID and PID in hex)";
        return false;
    }
    std::vector<PortInfo> ports = CurrentPortListing();
    std::vector<const PortInfo*> matches;
    SerialMatch best = kNoMatch;
    std::string candidates;
    for (const PortInfo& p : ports) {
        Identity have;
        if (!Split(p.usbIdentity, &have))
            continue;
        candidates += "\n  " + p.usbIdentity + "  " + p.path;
        if (have.vid != want.vid || have.pid != want.pid)
            continue;
        const SerialMatch match = MatchSerial(want.serial, have.serial);
        if (match < best) {
            best = match;
            matches.clear();
        }
        if (match == best && match != kNoMatch)
            matches.push_back(&p);
    }
    if (matches.size() == 1) {
        *path = matches[0]->path;
        return true;
    }
    if (matches.empty()) {
        *why = "no USB serial adapter matches " + port +
               (candidates.empty() ? std::string("; none is connected") : "; the adapters are:" + candidates);
        return false;
    }
    *why = std::to_string(matches.size()) + " USB serial adapters match " + port +
           "; add the serial number (usb:VID:PID:SERIAL) to pick one:";
    for (const PortInfo* p : matches)
        *why += "\n  " + p->usbIdentity + "  " + p->path;
    return false;
}

std::string ResolvePortPath(const std::string& port)
{
    std::string path, why;
    return ResolveUsbPort(port, &path, &why) ? path : std::string();
}
