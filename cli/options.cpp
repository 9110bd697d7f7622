// SPDX-License-Identifier: MIT
#include "options.h"

#include "serial_port.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

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

#ifdef _WIN32
const char kEmptyPort[] = "--port wants a COM port (COM1..COM256)";
#else
const char kEmptyPort[] = "--port wants a device path or COM1..COM4";
#endif

// One -p value: a port, or several separated by commas. A port named twice
// would have two downloads fight over one line.
bool AddPorts(const std::string& value, std::vector<std::string>* ports, std::string* why)
{
    size_t from = 0;
    for (;;) {
        size_t comma = value.find(',', from);
        std::string one = value.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        if (one.empty()) {
            *why = kEmptyPort;
            return false;
        }
        for (const std::string& p : *ports)
            if (p == one || (PortDevicePath(p) == PortDevicePath(one))) {
                *why = "port " + one + " is given twice";
                return false;
            }
        ports->push_back(one);
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

// CLI11 does the reading of the command line; the rules and the words of
// every message stay this program's own. Help and version are ours too.
void Configure(CLI::App& app)
{
    app.set_help_flag();
    app.allow_extras(true);  // reported below as "unknown option"
    // An option given twice: the last one counts, as it always has.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.positionals_at_end(false);
}

// CLI11's own complaints, in this program's words.
std::string Explain(const CLI::ParseError& e, const char* unknownWhat)
{
    std::string what = e.what();
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && what.find("required") != std::string::npos)
        return "option " + what.substr(0, what.find(':')) + " needs a value";
    if (dynamic_cast<const CLI::ExtrasError*>(&e))
        return std::string(unknownWhat) + " " + what;
    return what;
}

// Anything left over that looks like an option is one this program lacks.
std::string Unknown(const std::vector<std::string>& rest)
{
    for (const std::string& a : rest)
        if (a.size() > 1 && a[0] == '-')
            return a;
    return std::string();
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
    std::string version, service, mask, out;
    std::vector<std::string> payloads;
    CLI::Option* versionOpt = app.add_option("--version", version);
    CLI::Option* serviceOpt = app.add_option("--service-word", service);
    CLI::Option* maskOpt = app.add_option("--mask-key", mask);
    app.add_option("-o,--output", out);
    app.add_option("payload", payloads);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return Fail(Explain(e, "unknown pack option"));
    }
    std::string unknown = Unknown(app.remaining());
    if (!unknown.empty())
        return Fail("unknown pack option " + unknown);
    if (*versionOpt) {
        size_t dot = version.find('.');
        if (dot == std::string::npos || !ParseVersionPart(version.substr(0, dot), &p.major) ||
            !ParseVersionPart(version.substr(dot + 1), &p.minor))
            return Fail("--version wants MAJOR.MINOR, each -128..255: " + version);
    }
    if (*serviceOpt && !ParseHexBytes(service, p.serviceWord, 4))
        return Fail("--service-word wants 8 hex digits (the four bytes in file order): " + service);
    if (*maskOpt && !ParseHexBytes(mask, &p.maskKey, 1))
        return Fail("--mask-key wants 2 hex digits: " + mask);
    std::vector<std::string> rest = app.remaining();
    payloads.insert(payloads.end(), rest.begin(), rest.end());
    if (payloads.size() > 1)
        return Fail("pack takes one PAYLOAD file");
    if (!*versionOpt || !*serviceOpt)
        return Fail("pack needs --version and --service-word");
    p.payload = payloads.empty() ? "" : payloads[0];
    p.out = out;
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
    std::vector<std::string> ports, files;
    std::string baud, timeout, waitPort, logFile;
    bool image = false, served = false, listPorts = false;
    // One value per -p; a list goes in one value, with commas.
    app.add_option("-p,--port", ports)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    CLI::Option* baudOpt = app.add_option("-b,--baud", baud);
    app.add_flag("--image", image);
    app.add_flag("--served", served);
    CLI::Option* timeoutOpt = app.add_option("--timeout", timeout);
    app.add_flag("--list-ports", listPorts);
    app.add_flag("--loop", d.loop);
    app.add_flag("--json", d.json);
    CLI::Option* logOpt = app.add_option("--log", logFile);
    CLI::Option* waitOpt = app.add_option("--wait-port", waitPort);
    app.add_option("file", files);
    // After "--" everything is a file name, even one that starts with '-'.
    std::vector<std::string> before = args, after;
    for (size_t i = 0; i < args.size(); ++i)
        if (args[i] == "--") {
            before.assign(args.begin(), args.begin() + long(i));
            after.assign(args.begin() + long(i) + 1, args.end());
            break;
        }
    try {
        // CLI11 takes its arguments last first.
        std::vector<std::string> reversed(before.rbegin(), before.rend());
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        return Fail(Explain(e, "unknown option"));
    }
    std::string unknown = Unknown(app.remaining());
    if (!unknown.empty())
        return Fail("unknown option " + unknown);
    std::vector<std::string> rest = app.remaining();
    files.insert(files.end(), rest.begin(), rest.end());
    files.insert(files.end(), after.begin(), after.end());

    for (const std::string& v : ports) {
        if (v.empty())
            return Fail(kEmptyPort);
        std::string why;
        if (!AddPorts(v, &d.ports, &why))
            return Fail(why);
    }
    if (*baudOpt) {
        uint64_t b = 0;
        if (!ParseUnsigned(baud, &b) || b > UINT32_MAX || !PortBaudSupported(uint32_t(b)))
            return Fail("unsupported baud rate '" + baud + "'; the rates are: " + RateList());
        d.baud = uint32_t(b);
    }
    auto seconds = [](const std::string& v, double* out) {
        char* end = nullptr;
        errno = 0;
        double t = strtod(v.c_str(), &end);
        if (v.empty() || errno || *end || !std::isfinite(t) || t <= 0 || t > 1e7)
            return false;
        *out = t;
        return true;
    };
    if (*timeoutOpt && !seconds(timeout, &d.timeoutSec))
        return Fail("--timeout wants a positive number of seconds: " + timeout);
    if (*waitOpt && !seconds(waitPort, &d.waitPortSec))
        return Fail("--wait-port wants a positive number of seconds: " + waitPort);
    if (*logOpt) {
        if (logFile.empty())
            return Fail("--log wants a FILE name");
        d.logFile = logFile;
    }
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

bool ExtensionSelectsImage(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot + 1);
    static const char kDat[] = "dat";
    for (size_t i = 0; i < 3; ++i)
        if (i >= ext.size() || tolower(static_cast<unsigned char>(ext[i])) != kDat[i])
            return false;
    return true;
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
    return ExtensionSelectsImage(options.file);
}

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
#ifdef _WIN32
           "on request until the download is stopped (Ctrl-C, Ctrl-Break, closing the\n"
           "console window, or --timeout).\n"
           "\n"
           "Options:\n"
           "  -p, --port PORT      COM port, COM1..COM256 (see --list-ports); default COM2\n"
#else
           "on request until the download is stopped (Ctrl-C, SIGTERM or --timeout).\n"
           "\n"
           "Options:\n"
           "  -p, --port PORT      device path (/dev/ttyUSB0, /dev/serial/by-id/...) or\n"
           "                       COM1..COM4 (= /dev/ttyS0../dev/ttyS3); default COM2\n"
#endif
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
           "                       progress, box-output, result) and nothing else there\n"
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
