// SPDX-License-Identifier: MIT
#include "box_record.h"

#include "json_encoding.h"

#include <nlohmann/json.hpp>

const char kBoxStoppedReason[] = "stopped";

std::string BoxRecordLine(const BoxRecord& r)
{
    EventObject line;
    line["time"] = r.time;
    line["port"] = r.port;
    if (!r.adapter.empty())
        line["adapter"] = r.adapter;
    line["box"] = r.box;
    line["file"] = r.file;
    line["sha256"] = r.sha256;
    line["bytes"] = r.bytes;
    line["seconds"] = r.seconds;
    line["ok"] = r.ok;
    line["reason"] = r.reason;
    line["exit_code"] = r.exitCode;
    return EventText(line);
}
