// SPDX-License-Identifier: MIT
// A USB serial adapter's identity ("usb:0403:6001:A10K3B", as -p takes it)
// from the ids Windows gives the adapter's port device. Plain text work, so
// it is built and tested on every platform; the Windows listing uses it.
#pragma once

#include <string>
#include <vector>

// From a device instance id, the ids lower-case hex like the Linux listing's:
//   "USB\VID_0403&PID_6001\A10K3B"          -> "usb:0403:6001:A10K3B"
//     (a device driven by a USB class or vendor driver: the last part is the
//     adapter's serial number, unless Windows made one up because the
//     adapter has none: those contain '&', "5&2F9A1D0&0&2");
//   "FTDIBUS\VID_0403+PID_6001+A10K3BA\0000" -> "usb:0403:6001:A10K3BA"
//     (FTDI's own driver: its serial is the chip's with the port's letter
//     appended, A for a one-port chip, A..D on the multi-port ones; kept, so
//     every port of a multi-port chip has an identity of its own).
// Empty for a device that is not on USB, or ids it cannot read.
std::string UsbIdentityFromInstanceId(const std::string& instanceId);
// "usb:VID:PID" from the first of a device's hardware ids that names both
// ("USB\VID_0403&PID_6001&REV_0600", "FTDIBUS\COMPORT&VID_0403&PID_6001"),
// for a device whose instance id does not; empty if none does.
std::string UsbIdentityFromHardwareIds(const std::vector<std::string>& hardwareIds);
