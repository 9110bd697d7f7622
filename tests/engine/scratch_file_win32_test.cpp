// SPDX-License-Identifier: MIT
// Scratch files made by several processes at once, as ctest makes them when
// it runs the engine's test programs side by side in one Wine prefix: each
// process gets files of its own, every time.
#include "test_platform.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kFiles = 800;
constexpr int kPeers = 2;
const char kPeerEnv[] = "MARBRIX_SCRATCH_PEER";

// Makes kFiles scratch files one after the other, each holding a text of its
// own for a moment; the count that were not made or held other bytes.
int FilesNotOurOwn(const char* who)
{
    int wrong = 0;
    for (int i = 0; i < kFiles; ++i) {
        FILE* f = etest::OpenScratchFile();
        if (!f) {
            ++wrong;
            continue;
        }
        char mine[64];
        const int n = snprintf(mine, sizeof mine, "%s %lu %d", who, GetCurrentProcessId(), i);
        fwrite(mine, 1, size_t(n), f);
        fflush(f);
        Sleep(1);  // while another process may be making its own
        rewind(f);
        char back[64] = {};
        if (fread(back, 1, size_t(n), f) != size_t(n) || memcmp(back, mine, size_t(n)) != 0)
            ++wrong;
        fclose(f);
    }
    return wrong;
}

// The other processes' part; skipped unless the test below started it.
TEST(ScratchFileWin32, PeerProcess)
{
    if (!getenv(kPeerEnv))
        GTEST_SKIP() << "started by ScratchFilesOfProcessesSideBySideAreTheirOwn";
    EXPECT_EQ(FilesNotOurOwn("peer"), 0);
}

TEST(ScratchFileWin32, ScratchFilesOfProcessesSideBySideAreTheirOwn)
{
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    SetEnvironmentVariableA(kPeerEnv, "1");
    std::vector<HANDLE> peers;
    for (int i = 0; i < kPeers; ++i) {
        std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=ScratchFileWin32.PeerProcess";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            ADD_FAILURE() << "cannot start a peer: error " << GetLastError();
            break;
        }
        CloseHandle(info.hThread);
        peers.push_back(info.hProcess);
    }
    SetEnvironmentVariableA(kPeerEnv, nullptr);
    EXPECT_EQ(FilesNotOurOwn("driver"), 0);
    for (HANDLE peer : peers) {
        DWORD code = 1;
        EXPECT_EQ(WaitForSingleObject(peer, 120000), WAIT_OBJECT_0);
        GetExitCodeProcess(peer, &code);
        EXPECT_EQ(code, 0u) << "a peer got no file, or read bytes that were not its own";
        CloseHandle(peer);
    }
}

}  // namespace
