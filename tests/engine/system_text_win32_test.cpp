// SPDX-License-Identifier: MIT
// The system's words for an error code, as the port backend and the
// production line's children put them into their messages.
#include "system_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(SystemTextWin32, WordsWithoutTheLineBreakOrTheCodeWhenThereAreNone)
{
    for (DWORD code : {DWORD(ERROR_FILE_NOT_FOUND), DWORD(ERROR_ACCESS_DENIED), DWORD(ERROR_NOT_READY)}) {
        SCOPED_TRACE(code);
        const std::string text = SystemText(code);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        EXPECT_NE(text.back(), ' ') << text;
        EXPECT_NE(text.rfind("error ", 0), 0u) << "the system has words for " << code;
    }
    // A code of the application range that no message table knows.
    EXPECT_EQ(SystemText(0x2000ABCDu), "error 536914893");
}

}  // namespace
