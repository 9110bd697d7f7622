// SPDX-License-Identifier: MIT
#include "child_command.h"

#include <cstdio>

void ChildCommand(const ChildJob& job, const std::string& port, int box, std::vector<std::string>* argv,
                  std::vector<std::string>* env)
{
    *argv = {job.executable, "-p", port, "-b", std::to_string(job.baud), job.image ? "--image" : "--served"};
    char num[32];
    // In station mode the time limit is the box's, from its first word: the
    // station keeps that clock itself (a port may wait long for its next box).
    if (job.timeoutSec > 0 && !job.loop) {
        snprintf(num, sizeof num, "%.17g", job.timeoutSec);
        argv->insert(argv->end(), {"--timeout", num});
    }
    // In station mode the station itself waits for a port to come back.
    if (job.waitPortSec > 0 && !job.loop) {
        snprintf(num, sizeof num, "%.17g", job.waitPortSec);
        argv->insert(argv->end(), {"--wait-port", num});
    }
    argv->insert(argv->end(), {"--json", "--", job.file});
    *env = {std::string(kChildEnv) + "=1"};
    if (job.loop)
        env->push_back(std::string(kBoxEnv) + "=" + std::to_string(box));
}
