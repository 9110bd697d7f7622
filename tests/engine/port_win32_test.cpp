// SPDX-License-Identifier: MIT
// The Win32 backend's names and open failures. Nothing here opens a port
// that exists: COM256 is left unmapped (and under Wine, COM1..COM4 would
// lead to the machine's own /dev/ttyS*).
#include "serial_port.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(PortWin32, NamesAlwaysGoThroughTheDevicePrefix)
{
    struct Case {
        const char* given;
        const char* path;
        const char* shortName;
    } cases[] = {
        {"COM1", "\\\\.\\COM1", "COM1"},
        {"com7", "\\\\.\\COM7", "COM7"},
        {"COM10", "\\\\.\\COM10", "COM10"},  // plain "COM10" names no device
        {"COM256", "\\\\.\\COM256", "COM256"},
        {"\\\\.\\COM12", "\\\\.\\COM12", "COM12"},
        // Not a COM port number: passed on untouched, for the open to refuse.
        {"COM0", "COM0", "COM0"},
        {"COM257", "COM257", "COM257"},
        {"COM07", "COM07", "COM07"},
        {"COMX", "COMX", "COMX"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given);
        EXPECT_EQ(PortDevicePath(c.given), c.path);
        EXPECT_EQ(PortShortName(c.given), c.shortName);
    }
}

TEST(PortWin32, MissingPortFailsWithTheSystemsWords)
{
    PortOpenError e;
    EXPECT_EQ(PortOpenDevice(PortDevicePath("COM256").c_str(), 115200, &e), nullptr);
    EXPECT_EQ(e.code, ERROR_FILE_NOT_FOUND) << e.text;
    const std::string head = "cannot open \\\\.\\COM256: ";
    ASSERT_EQ(e.text.compare(0, head.size(), head), 0) << e.text;
    EXPECT_GT(e.text.size(), head.size() + 5) << e.text;
    EXPECT_NE(e.text.back(), '\n') << "the line break of FormatMessage stays out";
}

TEST(PortWin32, RateOffTheListIsRefusedBeforeOpening)
{
    PortOpenError e;
    EXPECT_EQ(PortOpenDevice(PortDevicePath("COM256").c_str(), 12345, &e), nullptr);
    EXPECT_EQ(e.code, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(e.text.compare(0, 26, "unsupported baud rate 1234"), 0) << e.text;
}

}  // namespace
