// SPDX-License-Identifier: MIT
// The identities the Windows listing reads from its devices' ids. Plain
// text: run on Linux and, cross-built, under Wine.
#include "usb_device_id.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(UsbDeviceId, FromInstanceIds)
{
    struct Case {
        const char* instanceId;
        const char* identity;
    } cases[] = {
        // A USB class or vendor driver: the last part is the serial number.
        {"USB\\VID_0403&PID_6001\\A10K3B", "usb:0403:6001:A10K3B"},
        {"USB\\VID_10C4&PID_EA60\\0001", "usb:10c4:ea60:0001"},
        {"usb\\vid_2341&pid_0043\\75833353035351A0E1E1", "usb:2341:0043:75833353035351A0E1E1"},
        // No serial number: Windows makes the last part up, with '&' in it.
        {"USB\\VID_1A86&PID_7523\\5&2F9A1D0&0&2", "usb:1a86:7523"},
        // One interface of a composite device: never a serial of its own.
        {"USB\\VID_2341&PID_8036&MI_00\\6&3A12C0B&0&0000", "usb:2341:8036"},
        {"USB\\VID_2341&PID_8036&MI_00\\LOOKSLIKEASERIAL", "usb:2341:8036"},
        // FTDI's own driver: the chip's serial with the port's letter.
        {"FTDIBUS\\VID_0403+PID_6001+A10K3BA\\0000", "usb:0403:6001:A10K3BA"},
        {"FTDIBUS\\VID_0403+PID_6010+FT5XQ2PHB\\0000", "usb:0403:6010:FT5XQ2PHB"},
        {"FTDIBUS\\VID_0403+PID_6001+6&2A0CA8A&0&2\\0000", "usb:0403:6001"},
        {"FTDIBUS\\VID_0403+PID_6001+\\0000", "usb:0403:6001"},
        // Not on USB, or ids that cannot be read: no identity.
        {"ACPI\\PNP0501\\1", ""},
        {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1B2C3D&0&000000000000_00000000", ""},
        {"USB\\VID_403&PID_6001\\A1", ""},
        {"USB\\VID_04G3&PID_6001\\A1", ""},
        {"USB\\PID_6001\\A1", ""},
        {"USB\\VID_0403&PID_6001", ""},
        {"FTDIBUS\\VID_0403+PID_6001\\0000", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UsbIdentityFromInstanceId(c.instanceId), c.identity) << c.instanceId;
}

TEST(UsbDeviceId, FromHardwareIdsTheFirstWithBothIds)
{
    EXPECT_EQ(UsbIdentityFromHardwareIds({"USB\\VID_0403&PID_6001&REV_0600", "USB\\VID_0403&PID_6001"}),
              "usb:0403:6001");
    EXPECT_EQ(UsbIdentityFromHardwareIds({"FTDIBUS\\COMPORT&VID_0403&PID_6015"}), "usb:0403:6015");
    EXPECT_EQ(UsbIdentityFromHardwareIds({"SOMEBUS\\VID_1234", "SOMEBUS\\VID_10C4&PID_EA60"}), "usb:10c4:ea60");
    EXPECT_EQ(UsbIdentityFromHardwareIds({"ACPI\\PNP0501", "*PNP0501"}), "");
    EXPECT_EQ(UsbIdentityFromHardwareIds({}), "");
}

}  // namespace
