// SPDX-License-Identifier: MIT
#include "cli_path.h"

#include "child_process.h"

#include <filesystem>
#include <system_error>

std::string CliExecutable()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path beside = fs::path(SelfExecutable()).parent_path() / MARBRIX_CLI_NAME;
    if (fs::exists(beside, ec))
        return beside.string();
    return MARBRIX_CLI_BUILD_PATH;
}
