// SPDX-License-Identifier: MIT
// Which other processes have a serial device open. A port opened by a
// program that takes neither the advisory lock nor the exclusive flag (a
// terminal emulator, `cat`, a shell redirect) would otherwise be shared, and
// both programs would lose bytes to each other.
//
// Linux only, through /proc; elsewhere the lists are empty. Only what the
// system lets us see is found: other users' processes need root, and
// processes in another pid namespace are not in our /proc at all.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct PortHolder {
    pid_t pid = 0;
    std::string name;  // the program's command name ("cat"), may be empty
};

// Processes other than this one with a descriptor on the character device
// `dev` names (its st_rdev; for a pty slave also its devpts instance,
// `fsDev`, since every instance numbers its slaves from 0). Processes that
// vanish or deny access are skipped.
std::vector<PortHolder> PortFindHolders(dev_t rdev, dev_t fsDev);

// "cat (pid 1234), minicom (pid 99)"; empty for an empty list.
std::string PortDescribeHolders(const std::vector<PortHolder>& holders);
