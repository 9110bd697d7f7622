// SPDX-License-Identifier: MIT
// The exit codes of marbrix-cli; scripts, the tests and the station
// controller (which reads its children's) rely on them.
#pragma once

enum CliExit {
    EXIT_SENT = 0,         // image sent, or a served download stopped by signal/--timeout
    EXIT_USAGE = 1,        // bad command line
    EXIT_REJECTED = 2,     // the image file was rejected (or inspect: not a valid image)
    EXIT_PORT = 3,         // the serial port could not be opened, or was lost during the download
    EXIT_FILE = 4,         // the download file could not be opened / read / written
    EXIT_INCOMPLETE = 5,   // an image download stopped before the image was sent
    EXIT_SOME_FAILED = 6,  // several ports or --loop: some port or some box did not succeed
};

// What the exit codes mean, in the words of the result event and the summary.
const char* ExitReason(int exitCode, bool image);
