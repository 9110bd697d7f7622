// SPDX-License-Identifier: MIT
#include "stdout_end.h"

#include "child_process.h"
#include "json_events.h"
#include "log_file.h"
#include "log_output.h"
#include "stdout_writer.h"
#include "stop_events.h"

#include "engine.h"

#include <cstdio>
#include <string>

namespace {

// After the production line's stop, what its children's results still get.
constexpr int kLineStoppedGraceMs = 1000;

std::string LossText(bool json, const StdoutLoss& lost, const char* whose)
{
    char text[160];
    if (json)
        snprintf(text, sizeof text, "%llu events were dropped: standard output did not take them.",
                 (unsigned long long)lost.pieces);
    else
        snprintf(text, sizeof text, "%llu bytes of %s output were dropped: standard output did not take them.",
                 (unsigned long long)lost.bytes, whose);
    return text;
}

}  // namespace

void EndPortOutput(int exitCode, int graceMs, bool stopped)
{
    const bool json = JsonEventsEnabled();
    JsonEmitResult(exitCode);
    const StdoutLoss lost = StdoutFinish(graceMs, [stopped] { return !stopped && !StopSignalled(); });
    // After the result: on standard error (and in --log) only.
    if (lost.pieces > 0)
        LogWrite((LossText(json, lost, "the box's") + "\n").c_str(), LOG_NOTICE);
}

void EndLineOutput(bool json)
{
    if (json)
        JsonEmitLineDropped(StdoutDropped().pieces);
    const StdoutLoss lost =
        StdoutFinish(StopRequested() ? kLineStoppedGraceMs : kStdoutGraceMs, [] { return !StopRequested(); });
    if (lost.pieces == 0)
        return;
    const std::string text = LossText(json, lost, "the boxes'");
    fprintf(stderr, "%s\n", text.c_str());
    LogFileWrite("-", text);
}
