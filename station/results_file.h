// SPDX-License-Identifier: MIT
// The station's results file: one line per box (box_record.h), appended and
// on the disk before the next box can end, so that a power cut loses at most
// the box being flashed. Lines already written are never touched again.
#pragma once

#include "box_record.h"

#include <cstdint>
#include <string>

class ResultsFile {
public:
    ResultsFile() = default;
    ~ResultsFile();
    ResultsFile(const ResultsFile&) = delete;
    ResultsFile& operator=(const ResultsFile&) = delete;

    // Opens (creates) the file for appending; false with the system's words
    // when it cannot be written. A FIFO or a directory is refused.
    bool Open(const std::string& path, std::string* why);
    // Writes the record's line and waits until it is on the disk (fsync,
    // FlushFileBuffers). False with the reason when it could not be: the
    // station must then stop, as a line must not run without its record.
    bool Append(const BoxRecord& record, std::string* why);
    const std::string& Path() const { return m_path; }
    bool IsOpen() const { return m_device >= 0; }

private:
    intptr_t m_device = -1;
    std::string m_path;
};

// Where the results go unless the operator names a file:
// $XDG_DATA_HOME/marbrix/results.jsonl (~/.local/share when unset) on Linux,
// %LOCALAPPDATA%\Marbrix\results.jsonl on Windows. The folder is created;
// when it cannot be, ResultsFile::Open says why.
std::string DefaultResultsPath();
