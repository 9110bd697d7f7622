// SPDX-License-Identifier: MIT
#include "station_options.h"

#include "options.h"

#include "image_file.h"

#include <CLI/CLI.hpp>

namespace {

const char kProgram[] = "marbrix-station";

bool Fail(const std::string& why, std::string* message)
{
    *message = std::string(kProgram) + ": " + why + "\nRun '" + kProgram + " --help' for the options.\n";
    return false;
}

// The ports and the rate through marbrix-cli's own reading of them: the
// forms a port may take, a port given twice, the rates a port can do, and
// the words for each mistake live there once.
bool ReadPortsAndRate(const std::vector<std::string>& portValues, const std::string& rate, StationOptions* o,
                      std::string* message)
{
    std::vector<std::string> args;
    for (const std::string& v : portValues)
        args.insert(args.end(), {"-p", v});
    if (!rate.empty())
        args.insert(args.end(), {"-b", rate});
    // A stand-in image file: the station's own FILE is checked apart.
    args.insert(args.end(), {"--image", "--", "station.dat"});
    const ParseResult cli = ParseCommandLine(args);
    if (!cli.ok)
        return Fail(cli.error, message);
    if (!portValues.empty())
        o->ports = cli.options.download.ports;
    o->baud = cli.options.download.baud;
    return true;
}

}  // namespace

bool ReadStationOptions(int argc, char** argv, StationOptions* o, std::string* message)
{
    message->clear();
    // Help and version win over everything else on the line, as in marbrix-cli.
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--")
            break;
        if (a == "-h" || a == "--help") {
            o->help = true;
            *message = StationUsageText();
            return true;
        }
        if (a == "-V" || a == "--version") {
            o->version = true;
            return true;
        }
    }

    CLI::App app(kProgram, kProgram);
    app.set_help_flag();
    app.allow_extras(true);  // reported below as "unknown option"
    app.positionals_at_end(false);
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::vector<std::string> portValues, files;
    std::string rate;
    bool resultsGiven = false;
    app.add_option("-p,--port", portValues)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("-b,--baud", rate);
    app.add_option_function<std::string>("--results", [&](const std::string& v) {
        o->results = v;
        resultsGiven = true;
    });
    app.add_flag("--once", o->once);
    app.add_flag("--start", o->start);
    app.add_option("file", files);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const std::string what = e.what();
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && what.find("required") != std::string::npos)
            return Fail("option " + what.substr(0, what.find(':')) + " needs a value", message);
        return Fail(what, message);
    }
    for (const std::string& a : app.remaining())
        if (a.size() > 1 && a[0] == '-' && a != "--")
            return Fail("unknown option " + a, message);
    if (files.size() > 1)
        return Fail("only one download FILE", message);
    if (!files.empty())
        o->file = files[0];
    if (resultsGiven && o->results.empty())
        return Fail("--results wants a FILE name", message);
    // A station flashes images, box after box; a served download has no end
    // of its own to count a box by.
    if (!o->file.empty() && !IsImageFileName(o->file))
        return Fail("the station sends image files (an extension that begins with \"dat\"): " + o->file, message);
    if (!ReadPortsAndRate(portValues, rate, o, message))
        return false;
    if (o->start && o->ports.empty())
        return Fail("--start needs the ports (-p or --port)", message);
    if (o->start && o->file.empty())
        return Fail("--start needs the download FILE", message);
    return true;
}

// clang-format off
std::string StationUsageText()
{
    return std::string("Usage: ") + kProgram + " [-p PORT]... [--port A,B,...] [-b RATE] [--results FILE]\n"
           "                       [--once] [--start] [FILE]\n"
           "\n"
           "Flashes many set-top boxes at once, one tile per port in one window, and\n"
           "keeps a record of every box.\n"
           "\n"
           "Options:\n"
           "  -p, --port PORT      a port, as marbrix-cli takes it (device path, COMn,\n"
           "                       usb:VID:PID[:SERIAL]); again, or A,B,C, for more.\n"
           "                       Without ports they are ticked in the window.\n"
           "  -b, --baud RATE      default 115200\n"
           "      --results FILE   append one JSON line per box to FILE (default:\n"
           "                       $XDG_DATA_HOME/marbrix/results.jsonl;\n"
           "                       %LOCALAPPDATA%\\Marbrix\\results.jsonl on Windows)\n"
           "      --once           each port flashes one box and stops; the window\n"
           "                       stays open with every result (default: box after box)\n"
           "      --start          start every port at once (needs the ports and FILE)\n"
           "  -h, --help           this text\n"
           "  -V, --version        the program's version\n"
           "\n"
           "FILE is an image file (an extension that begins with \"dat\").\n";
}
// clang-format on
