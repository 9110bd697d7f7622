// SPDX-License-Identifier: MIT
#include "wait_port.h"

#include "port_open_failure.h"
#include "serial_port.h"

#include <windows.h>

// A COM name can outlive its device: an unplugged adapter's driver keeps the
// name and answers the open with its own error (ERROR_DEVICE_NOT_CONNECTED,
// ERROR_GEN_FAILURE, ERROR_FILE_NOT_FOUND, ERROR_OPERATION_ABORTED while it
// goes), and under Wine a port mapped to a device node that is gone opens
// and then fails GetCommState (ERROR_INVALID_FUNCTION). Which of those a
// driver picks is its own choice, so only a port that opens as a serial
// device counts as there; every other failure is "not there yet", except
// one another program holds (ERROR_ACCESS_DENIED): that wants the operator,
// and the open that follows reports it. The probe opens the port for a
// moment, as the download's own open then does again.
bool PortPathPresent(const std::string& path)
{
    const std::string device = PortDevicePath(path);
    // A name no driver has defined is not opened at all.
    const std::string name = device.compare(0, 4, "\\\\.\\") == 0 ? device.substr(4) : device;
    char target[512];
    if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0)
        return false;
    HANDLE h = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        PortOpenError error;
        error.code = int(GetLastError());
        return PortHeldByAnother(error);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool serial = GetCommState(h, &dcb) != 0;
    CloseHandle(h);
    return serial;
}
