// SPDX-License-Identifier: MIT
// A plain reading of the command line, enough for the window to be started
// by tests and kiosk set-ups.
#include "station_options.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] = "usage: marbrix-station [-p PORT]... [--port A,B,...] [-b RATE] [--results FILE] [--once] "
                      "[--start] [FILE]\n";

void AddPorts(const std::string& list, std::vector<std::string>* ports)
{
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = list.find(',', from);
        const std::string one = list.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (!one.empty())
            ports->push_back(one);
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
}

}  // namespace

bool ReadStationOptions(int argc, char** argv, StationOptions* o, std::string* message)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc)
                return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            o->help = true;
            *message = kUsage;
        } else if (a == "-V" || a == "--version") {
            o->version = true;
        } else if ((a == "-p" || a == "--port") && value(&v)) {
            AddPorts(v, &o->ports);
        } else if (a.rfind("--port=", 0) == 0) {
            AddPorts(a.substr(7), &o->ports);
        } else if ((a == "-b" || a == "--baud") && value(&v)) {
            char* end = nullptr;
            const unsigned long rate = strtoul(v.c_str(), &end, 10);
            if (v.empty() || *end || rate == 0) {
                *message = "marbrix-station: -b: not a rate: " + v + "\n" + kUsage;
                return false;
            }
            o->baud = uint32_t(rate);
        } else if (a == "--results" && value(&v)) {
            o->results = v;
        } else if (a == "--once") {
            o->once = true;
        } else if (a == "--start") {
            o->start = true;
        } else if (!a.empty() && a[0] != '-' && o->file.empty()) {
            o->file = a;
        } else {
            *message = "marbrix-station: unknown argument '" + a + "'\n" + kUsage;
            return false;
        }
    }
    return true;
}
