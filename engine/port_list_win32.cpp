// SPDX-License-Identifier: MIT
// The COM ports of a Windows machine: every name the serial drivers have
// registered under HARDWARE\DEVICEMAP\SERIALCOMM, with the friendly name
// Device Manager shows ("USB Serial Port (COM7)") and a USB adapter's
// identity where SetupAPI knows the device.
#include "port_list.h"

#include "usb_device_id.h"

#include <windows.h>
// After windows.h: GUID_DEVCLASS_PORTS is defined here, not only declared.
#include <initguid.h>
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

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

// A device property that is one string, or several (REG_MULTI_SZ).
std::vector<std::string> DeviceStrings(HDEVINFO set, SP_DEVINFO_DATA* dev, DWORD property)
{
    std::vector<std::string> strings;
    char buf[1024];
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, dev, property, nullptr, reinterpret_cast<BYTE*>(buf), sizeof buf - 2,
                                           &size))
        return strings;
    buf[std::min<DWORD>(size, sizeof buf - 2)] = 0;
    buf[std::min<DWORD>(size, sizeof buf - 2) + 1] = 0;
    for (const char* s = buf; *s; s += strlen(s) + 1)
        strings.emplace_back(s);
    return strings;
}

std::string InstanceId(DEVINST node)
{
    char id[MAX_DEVICE_ID_LEN + 1];
    return CM_Get_Device_IDA(node, id, sizeof id, 0) == CR_SUCCESS ? std::string(id) : std::string();
}

// The identity -p usb: finds the port by (usb_device_id.h). A composite
// device's serial number belongs to the device, not to its interface that
// carries the port: asked of the parent when the port's own ids lack it.
std::string UsbIdentity(HDEVINFO set, SP_DEVINFO_DATA* dev)
{
    std::string identity = UsbIdentityFromInstanceId(InstanceId(dev->DevInst));
    if (identity.empty())
        identity = UsbIdentityFromHardwareIds(DeviceStrings(set, dev, SPDRP_HARDWAREID));
    DEVINST parent = 0;
    if (!identity.empty() && std::count(identity.begin(), identity.end(), ':') == 2 &&
        CM_Get_Parent(&parent, dev->DevInst, 0) == CR_SUCCESS) {
        const std::string up = UsbIdentityFromInstanceId(InstanceId(parent));
        if (up.compare(0, identity.size() + 1, identity + ":") == 0)
            identity = up;
    }
    return identity;
}

struct PortDevice {
    std::string friendly;  // "USB Serial Port (COM7)", or empty
    std::string usbIdentity;
};

// "COM7" -> what SetupAPI knows of the ports class device present now.
std::map<std::string, PortDevice> PortDevices()
{
    std::map<std::string, PortDevice> devices;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return devices;
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
        PortDevice& d = devices[port];
        const std::vector<std::string> friendly = DeviceStrings(set, &dev, SPDRP_FRIENDLYNAME);
        d.friendly = friendly.empty() ? "" : friendly.front();
        d.usbIdentity = UsbIdentity(set, &dev);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

}  // namespace

std::vector<PortInfo> ListSerialPorts()
{
    std::map<std::string, std::string> found = SerialCommNames();
    const std::map<std::string, PortDevice> devices = PortDevices();
    for (const auto& [com, d] : devices)
        if (!d.friendly.empty() || !found.count(com))
            found[com] = d.friendly;
    std::vector<PortInfo> result;
    for (const auto& [com, description] : found) {
        auto d = devices.find(com);
        result.push_back(PortInfo{com, com, description, d == devices.end() ? std::string() : d->second.usbIdentity});
    }
    // COM2 before COM10.
    std::sort(result.begin(), result.end(),
              [](const PortInfo& a, const PortInfo& b) { return ComNumber(a.path) < ComNumber(b.path); });
    return result;
}
