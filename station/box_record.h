// SPDX-License-Identifier: MIT
// The record a station keeps of every box it counted: one JSON object per
// line in the results file (results_file.h), so that a shift's boxes can be
// traced later to the port, the adapter and the exact image each one got.
#pragma once

#include <cstdint>
#include <string>

struct BoxRecord {
    std::string time;     // the box's end: local ISO 8601 with its offset (event_time.h)
    std::string port;     // as the operator named it
    std::string adapter;  // the USB adapter's usb:VID:PID[:SERIAL]; empty when unknown
    std::string file;     // the download file as given
    std::string sha256;   // of the image as sent (the payload with its 0xFF padding)
    std::string reason;   // in the words of marbrix-cli's result event, or "stopped"
    int box = 0;          // its number on its lane: 1, 2, ...
    uint64_t bytes = 0;   // of the image as sent
    double seconds = 0;   // from the box's first word to its end
    bool ok = false;
    int exitCode = 0;  // marbrix-cli's exit code for the box's download
};

// The reason recorded for a box the operator (Stop all, closing the window,
// SIGTERM) stopped after it had begun.
extern const char kBoxStoppedReason[];

// The record's line, without its line break. The members come in a fixed
// order (time, port, adapter, box, file, sha256, bytes, seconds, ok, reason,
// exit_code) so that the file reads the same line after line; adapter is
// left out when it is not known. Strings keep every byte (JsonQuote).
std::string BoxRecordLine(const BoxRecord& record);
