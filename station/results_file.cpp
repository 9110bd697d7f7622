// SPDX-License-Identifier: MIT
#include "results_file.h"

#include "results_device.h"

#include <filesystem>
#include <system_error>

ResultsFile::~ResultsFile()
{
    if (m_device >= 0)
        ResultsDeviceClose(m_device);
}

bool ResultsFile::Open(const std::string& path, std::string* why)
{
    if (path.empty()) {
        *why = "no file name (and no home folder to keep the results in)";
        return false;
    }
    const intptr_t device = ResultsDeviceOpen(path, why);
    if (device < 0)
        return false;
    if (m_device >= 0)
        ResultsDeviceClose(m_device);
    m_device = device;
    m_path = path;
    return true;
}

bool ResultsFile::Append(const BoxRecord& record, std::string* why)
{
    if (m_device < 0) {
        *why = "the results file is not open";
        return false;
    }
    return ResultsDeviceAppend(m_device, BoxRecordLine(record) + "\n", why);
}

std::string DefaultResultsPath()
{
    const std::string utf8 = ResultsFolder();
    if (utf8.empty())
        return std::string();  // Open says there is no file name
    // UTF-8 both ways, whatever the platform's own encoding of paths.
    const std::filesystem::path folder(std::u8string(utf8.begin(), utf8.end()));
    std::error_code ignored;  // Open reports a folder that is not there
    std::filesystem::create_directories(folder, ignored);
    const std::u8string path = (folder / "results.jsonl").u8string();
    return std::string(path.begin(), path.end());
}
