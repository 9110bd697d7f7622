// SPDX-License-Identifier: MIT
#include "options.h"

#include "platform_words.h"
#include "usb_identity.h"

#include "image_file.h"
#include "port_name_key.h"
#include "serial_port.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace {

bool ParseUnsigned(const std::string& s, uint64_t* value)
{
    if (s.empty() || !isdigit(static_cast<unsigned char>(s[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(s.c_str(), &end, 10);
    if (errno || *end)
        return false;
    *value = v;
    return true;
}

bool ParseHexBytes(const std::string& s, uint8_t* out, size_t count)
{
    std::string digits = s;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.size() != 2 * count)
        return false;
    for (size_t i = 0; i < count; ++i) {
        unsigned v = 0;
        for (size_t k = 0; k < 2; ++k) {
            char c = digits[2 * i + k];
            if (!isxdigit(static_cast<unsigned char>(c)))
                return false;
            v = v * 16 + unsigned(isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(c) - 'a' + 10));
        }
        out[i] = uint8_t(v);
    }
    return true;
}

// One version part: -128..255, stored as the byte the engine prints signed.
bool ParseVersionPart(const std::string& s, uint8_t* out)
{
    if (s.empty())
        return false;
    bool negative = s[0] == '-';
    uint64_t v = 0;
    if (!ParseUnsigned(negative ? s.substr(1) : s, &v))
        return false;
    if (negative ? v > 128 : v > 255)
        return false;
    *out = uint8_t(negative ? -int(v) : int(v));
    return true;
}

std::string RateList()
{
    size_t n = 0;
    const uint32_t* rates = PortBaudRates(&n);
    std::string list;
    for (size_t i = 0; i < n; ++i)
        list += (i ? " " : "") + std::to_string(rates[i]);
    return list;
}

ParseResult Fail(const std::string& why)
{
    ParseResult r;
    r.ok = false;
    r.error = why;
    return r;
}

// Two names of one port: usb: identities by the adapter they name, the rest
// by the platform's rule (port_name_key.h).
bool SamePort(const std::string& a, const std::string& b)
{
    if (IsUsbIdentity(a) || IsUsbIdentity(b))
        return SameUsbIdentity(a, b);
    return PortNameKey(a) == PortNameKey(b);
}

// One -p value: a port, or several separated by commas. A port named twice
// would have two downloads fight over one line.
bool AddPorts(const std::string& value, std::vector<std::string>* ports, std::string* why)
{
    size_t from = 0;
    for (;;) {
        size_t comma = value.find(',', from);
        std::string one = value.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (one.empty()) {
            *why = kPortWantedText;
            return false;
        }
        for (const std::string& p : *ports)
            if (SamePort(p, one)) {
                *why = "port " + one + " is given twice";
                return false;
            }
        ports->push_back(one);
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

// A value this program turns down, in its own words. Thrown from an option's
// callback: CLI11 runs those in the order the options are added, so the
// first refused value in that order is the one reported.
struct Refused {
    std::string why;
};

// An option with one value, taken by `take`, which returns why it refuses
// it ("" to accept). Of several, the last counts.
CLI::Option* AddValue(CLI::App& app, const std::string& names, std::function<std::string(const std::string&)> take)
{
    return app.add_option_function<std::string>(names, [take](const std::string& value) {
        std::string why = take(value);
        if (!why.empty())
            throw Refused{why};
    });
}

bool ParseSeconds(const std::string& v, double* out)
{
    char* end = nullptr;
    errno = 0;
    double t = strtod(v.c_str(), &end);
    if (v.empty() || errno || *end || !std::isfinite(t) || t <= 0 || t > 1e7)
        return false;
    *out = t;
    return true;
}

// CLI11 does the reading of the command line; the rules and the words of
// every message stay this program's own. Help and version are ours too.
void Configure(CLI::App& app)
{
    app.set_help_flag();
    app.allow_extras(true);  // reported by Read as "unknown option"
    // An option given twice: the last one counts, as it always has.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.positionals_at_end(false);
}

// Anything left over that looks like an option is one this program lacks.
// CLI11 leaves the "--" that ends the options there too; only the download's
// command line has ever taken it.
std::string Unknown(const std::vector<std::string>& rest, bool takesEndOfOptions)
{
    for (const std::string& a : rest)
        if (a.size() > 1 && a[0] == '-' && !(takesEndOfOptions && a == "--"))
            return a;
    return std::string();
}

// Reads the arguments into the options added to `app`; "" when they are
// all taken, else what is wrong in this program's words. A missing value
// comes first, then an option this program lacks, then a refused value.
std::string Read(CLI::App& app, const std::vector<std::string>& args, const char* unknownWhat, bool takesEndOfOptions)
{
    std::vector<const char*> argv = {app.get_name().c_str()};
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    std::string refused;
    try {
        app.parse(int(argv.size()), argv.data());
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && what.find("required") != std::string::npos)
            return "option " + what.substr(0, what.find(':')) + " needs a value";
        return what;
    } catch (const Refused& r) {
        refused = r.why;
    }
    std::string unknown = Unknown(app.remaining(), takesEndOfOptions);
    if (!unknown.empty())
        return std::string(unknownWhat) + " " + unknown;
    return refused;
}

ParseResult ParseInspect(const std::vector<std::string>& args)
{
    ParseResult r;
    r.options.command = CliCommand::Inspect;
    if (args.size() != 2 || args[1].empty() || (args[1][0] == '-' && args[1] != "-"))
        return Fail("inspect takes exactly one FILE");
    r.options.inspectFile = args[1];
    r.ok = true;
    return r;
}

ParseResult ParsePack(const std::vector<std::string>& args)
{
    ParseResult r;
    r.options.command = CliCommand::Pack;
    PackOptions& p = r.options.pack;
    CLI::App app("pack", "pack");
    Configure(app);
    std::vector<std::string> payloads;
    CLI::Option* versionOpt = AddValue(app, "--version", [&p](const std::string& v) {
        size_t dot = v.find('.');
        if (dot == std::string::npos || !ParseVersionPart(v.substr(0, dot), &p.major) ||
            !ParseVersionPart(v.substr(dot + 1), &p.minor))
            return "--version wants MAJOR.MINOR, each -128..255: " + v;
        return std::string();
    });
    CLI::Option* serviceOpt = AddValue(app, "--service-word", [&p](const std::string& v) {
        if (!ParseHexBytes(v, p.serviceWord, 4))
            return "--service-word wants 8 hex digits (the four bytes in file order): " + v;
        return std::string();
    });
    AddValue(app, "--mask-key", [&p](const std::string& v) {
        if (!ParseHexBytes(v, &p.maskKey, 1))
            return "--mask-key wants 2 hex digits: " + v;
        return std::string();
    });
    app.add_option("-o,--output", p.out);
    app.add_option("payload", payloads);
    std::string why = Read(app, std::vector<std::string>(args.begin() + 1, args.end()), "unknown pack option", false);
    if (!why.empty())
        return Fail(why);
    if (payloads.size() > 1)
        return Fail("pack takes one PAYLOAD file");
    if (!*versionOpt || !*serviceOpt)
        return Fail("pack needs --version and --service-word");
    p.payload = payloads.empty() ? "" : payloads[0];
    if (p.payload.empty() || p.out.empty())
        return Fail("pack needs a PAYLOAD file and -o OUT");
    r.ok = true;
    return r;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args)
{
    if (args.size() >= 1 && args[0] == "inspect")
        return ParseInspect(args);
    if (args.size() >= 1 && args[0] == "pack")
        return ParsePack(args);

    ParseResult r;
    DownloadOptions& d = r.options.download;
    // Help and version win over everything else on the line, as they always have.
    for (const std::string& a : args) {
        if (a == "--")
            break;
        if (a == "-h" || a == "--help" || a == "-V" || a == "--version") {
            r.options.command = (a == "-h" || a == "--help") ? CliCommand::Help : CliCommand::Version;
            r.ok = true;
            return r;
        }
    }

    CLI::App app("marbrix-cli", "marbrix-cli");
    Configure(app);
    std::vector<std::string> files;
    bool image = false, served = false, listPorts = false;
    // One value per -p; a list goes in one value, with commas.
    app.add_option_function<std::vector<std::string>>("-p,--port",
                                                      [&d](const std::vector<std::string>& values) {
                                                          std::string why;
                                                          for (const std::string& v : values)
                                                              if (!AddPorts(v, &d.ports, &why))
                                                                  throw Refused{why};
                                                      })
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    AddValue(app, "-b,--baud", [&d](const std::string& v) {
        uint64_t b = 0;
        if (!ParseUnsigned(v, &b) || b > UINT32_MAX || !PortBaudSupported(uint32_t(b)))
            return "unsupported baud rate '" + v + "'; the rates are: " + RateList();
        d.baud = uint32_t(b);
        return std::string();
    });
    AddValue(app, "--timeout", [&d](const std::string& v) {
        return ParseSeconds(v, &d.timeoutSec) ? std::string() : "--timeout wants a positive number of seconds: " + v;
    });
    AddValue(app, "--wait-port", [&d](const std::string& v) {
        return ParseSeconds(v, &d.waitPortSec) ? std::string()
                                               : "--wait-port wants a positive number of seconds: " + v;
    });
    AddValue(app, "--log", [&d](const std::string& v) {
        d.logFile = v;
        return v.empty() ? "--log wants a FILE name" : "";
    });
    app.add_flag("--image", image);
    app.add_flag("--served", served);
    app.add_flag("--list-ports", listPorts);
    app.add_flag("--loop", d.loop);
    app.add_flag("--json", d.json);
    // After "--" everything is a file name, even one that starts with '-'.
    app.add_option("file", files);
    std::string why = Read(app, args, "unknown option", true);
    if (!why.empty())
        return Fail(why);
    if (files.size() > 1)
        return Fail("only one download FILE");
    if (!files.empty())
        d.file = files[0];

    if (image && served)
        return Fail("--image and --served exclude each other");
    d.mode = image ? ModeChoice::Image : served ? ModeChoice::Served : ModeChoice::ByExtension;
    if (listPorts) {
        r.options.command = CliCommand::ListPorts;
        r.ok = true;
        return r;
    }
    if (d.file.empty())
        return Fail("no download FILE given");
    if (d.ports.empty())
        d.ports.push_back(d.port);
    d.port = d.ports.front();
    if (d.loop && !DownloadIsImage(d))
        return Fail("--loop needs an image download (a served download has no end of its own)");
    r.options.command = CliCommand::Download;
    r.ok = true;
    return r;
}

bool DownloadIsImage(const DownloadOptions& options)
{
    switch (options.mode) {
    case ModeChoice::Image:
        return true;
    case ModeChoice::Served:
        return false;
    case ModeChoice::ByExtension:
        break;
    }
    return IsImageFileName(options.file);
}

// clang-format off
std::string UsageText(const char* program)
{
    std::string p = program;
    return "Usage: " + p + " [OPTIONS] FILE\n"
           "       " + p + " --list-ports\n"
           "       " + p + " inspect FILE\n"
           "       " + p + " pack --version MAJOR.MINOR --service-word HEX8 [--mask-key HEX2] PAYLOAD -o OUT.dat\n"
           "\n"
           "Sends FILE to a set-top box over a serial line. The box leads the exchange.\n"
           "A file whose extension begins with \"dat\" (any case: .dat, .DAT, .data) is an\n"
           "image download, sent once with YMODEM-1K; any other file is served to the box\n"
           + kUsageStopAndPortText +
           "  -b, --baud RATE      default 115200; one of: " + RateList() + "\n"
           "      --image          image download whatever the extension\n"
           "      --served         served download whatever the extension\n"
           "      --timeout SEC    stop the download after SEC seconds, like Ctrl-C\n"
           "      --list-ports     list this machine's serial ports and exit\n"
           "                       (USB adapters with their usb:VID:PID:SERIAL identity)\n"
           "  -h, --help           this text\n"
           "  -V, --version        the program's version\n"
           "\n"
           "Production line:\n"
           "  -p A -p B ..., --port A,B,C\n"
           "                       one download per port at the same time, each in its\n"
           "                       own process; a live line per port on a terminal, log\n"
           "                       lines prefixed with the port in a pipe, a summary at\n"
           "                       the end; exit 6 when some port failed\n"
           "  -p usb:VID:PID[:SERIAL]\n"
           "                       the USB serial adapter with this identity (hex ids)\n"
           "      --loop           station mode (images only): after each box the port\n"
           "                       waits for the next one, until Ctrl-C or SIGTERM; one\n"
           "                       result line per box and running counts per port\n"
           "      --json           one JSON event per line on standard output (start, log,\n"
           "                       stage, progress, box-output, result) and nothing else\n"
           "                       there\n"
           "      --log FILE       append every log line to FILE as\n"
           "                       \"YYYY-MM-DD HH:MM:SS PORT text\"\n"
           "      --wait-port SEC  wait up to SEC seconds for a missing port to appear\n"
           "\n"
           "The log goes to standard error; the box's own console output, as the engine\n"
           "sees it between frames, goes to standard output unchanged.\n"
           "\n"
           "Exit codes:\n"
           "  0  image sent (\"Velto file send OK!\"), or a served download stopped by\n"
           "     signal or --timeout; inspect: a valid image; pack: image written\n"
           "  1  usage error\n"
           "  2  image file rejected by the engine (bad header, empty or too large);\n"
           "     inspect: not a valid image; pack: empty or too large payload\n"
           "  3  serial port could not be opened (missing, held by another program,\n"
           "     permission), or was lost during the download (unplugged, hung up)\n"
           "  4  download file or --log file could not be opened, or is a FIFO or socket\n"
           "     (inspect: unreadable; pack: payload unreadable or output not writable)\n"
           "  5  an image download stopped before the image was sent (signal, --timeout,\n"
           "     the engine could not start, or its worker did not end in time)\n"
           "  6  several ports or --loop: some port or some box failed (the summary\n"
           "     says which), or a station's --log file failed\n";
}
// clang-format on
