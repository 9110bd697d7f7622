// SPDX-License-Identifier: MIT
// The COM ports of a Windows machine: every name the serial drivers have
// registered under HARDWARE\DEVICEMAP\SERIALCOMM, with the friendly name
// Device Manager shows ("USB Serial Port (COM7)") where SetupAPI knows one.
#include "port_list.h"

#include <windows.h>
// After windows.h: GUID_DEVCLASS_PORTS is defined here, not only declared.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

// 7 for "COM7"; 0 for anything that is not a COM name.
int ComNumber(const std::string& name)
{
    if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0)
        return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + (name[i] - '0');
        if (n > 9999)
            return 0;
    }
    return n;
}

// "COM7" -> the device behind it ("\Device\VCP0"), as the drivers registered it.
std::map<std::string, std::string> SerialCommNames()
{
    std::map<std::string, std::string> names;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        char value[256];
        BYTE data[256];
        DWORD valueLen = sizeof value, dataLen = sizeof data - 1, type = 0;
        LONG r = RegEnumValueA(key, i, value, &valueLen, nullptr, &type, data, &dataLen);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataLen] = 0;
        std::string com(reinterpret_cast<char*>(data));
        if (ComNumber(com) > 0)
            names[com] = std::string(value, valueLen);
    }
    RegCloseKey(key);
    return names;
}

// "COM7" -> "USB Serial Port (COM7)" for the ports class devices present now.
std::map<std::string, std::string> FriendlyNames()
{
    std::map<std::string, std::string> names;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return names;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        char port[64];
        DWORD len = sizeof port - 1, type = 0;
        LONG r = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(port), &len);
        RegCloseKey(key);
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        port[len] = 0;
        if (ComNumber(port) == 0)
            continue;  // a printer port (LPT1) of the same class
        char friendly[256];
        DWORD size = 0;
        if (SetupDiGetDeviceRegistryPropertyA(set, &dev, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(friendly), sizeof friendly - 1, &size)) {
            friendly[std::min<DWORD>(size, sizeof friendly - 1)] = 0;
            names[port] = friendly;
        } else {
            names[port] = "";
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return names;
}

}  // namespace

std::vector<PortInfo> ListSerialPorts()
{
    std::map<std::string, std::string> found = SerialCommNames();
    for (const auto& [com, friendly] : FriendlyNames())
        if (!friendly.empty() || !found.count(com))
            found[com] = friendly;
    std::vector<PortInfo> result;
    for (const auto& [com, description] : found)
        result.push_back(PortInfo{com, com, description, std::string()});
    // COM2 before COM10.
    std::sort(result.begin(), result.end(),
              [](const PortInfo& a, const PortInfo& b) { return ComNumber(a.path) < ComNumber(b.path); });
    return result;
}
