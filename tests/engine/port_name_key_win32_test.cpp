// SPDX-License-Identifier: MIT
// When two port names are one port on Windows: the names ignore case and
// may carry the "\\.\" prefix. Names only; nothing is opened.
#include "port_name_key.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PortNameKeyWin32, OnePortUnderItsSeveralNames)
{
    struct Case {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"COM7", "COM7", true},          {"COM7", "\\\\.\\COM7", true},
        {"com7", "COM7", true},          {"\\\\.\\com7", "Com7", true},
        {"COM12", "\\\\.\\COM12", true}, {"\\\\.\\CNCA0", "cnca0", true},
        {"COM7", "COM17", false},        {"COM7", "COM8", false},
        {"COM1", "\\\\.\\COM10", false}, {"\\\\.\\CNCA0", "\\\\.\\CNCB0", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortNameKey(c.a) == PortNameKey(c.b), c.same) << c.a << " / " << c.b;
}

}  // namespace
