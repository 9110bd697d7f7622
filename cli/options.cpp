#include "options.h"

#include "serial_port.h"

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

// Splits "--name=value" and fetches a separate value where needed.
struct ArgReader {
    const std::vector<std::string>& args;
    size_t i = 0;
    std::string error;

    bool Value(const std::string& arg, const std::string& name, std::string* value)
    {
        if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
            *value = arg.substr(name.size() + 1);
            return true;
        }
        if (i + 1 >= args.size()) {
            error = "option " + name + " needs a value";
            return false;
        }
        *value = args[++i];
        return true;
    }
};

bool Matches(const std::string& arg, const char* shortName, const char* longName)
{
    std::string l = longName;
    if (arg == l || (arg.size() > l.size() && arg.compare(0, l.size(), l) == 0 && arg[l.size()] == '='))
        return true;
    return shortName && arg == shortName;
}

ParseResult Fail(const std::string& why)
{
    ParseResult r;
    r.ok = false;
    r.error = why;
    return r;
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
    bool haveVersion = false, haveService = false;
    ArgReader rd{args, 0, {}};
    for (rd.i = 1; rd.i < args.size(); ++rd.i) {
        const std::string a = args[rd.i];
        std::string v;
        if (Matches(a, nullptr, "--version")) {
            if (!rd.Value(a, "--version", &v))
                return Fail(rd.error);
            size_t dot = v.find('.');
            if (dot == std::string::npos || !ParseVersionPart(v.substr(0, dot), &p.major) ||
                !ParseVersionPart(v.substr(dot + 1), &p.minor))
                return Fail("--version wants MAJOR.MINOR, each -128..255: " + v);
            haveVersion = true;
        } else if (Matches(a, nullptr, "--service-word")) {
            if (!rd.Value(a, "--service-word", &v))
                return Fail(rd.error);
            if (!ParseHexBytes(v, p.serviceWord, 4))
                return Fail("--service-word wants 8 hex digits (the four bytes in file order): " + v);
            haveService = true;
        } else if (Matches(a, nullptr, "--mask-key")) {
            if (!rd.Value(a, "--mask-key", &v))
                return Fail(rd.error);
            if (!ParseHexBytes(v, &p.maskKey, 1))
                return Fail("--mask-key wants 2 hex digits: " + v);
        } else if (Matches(a, "-o", "--output")) {
            if (!rd.Value(a, a == "-o" ? "-o" : "--output", &v))
                return Fail(rd.error);
            p.out = v;
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail("unknown pack option " + a);
        } else {
            if (!p.payload.empty())
                return Fail("pack takes one PAYLOAD file");
            p.payload = a;
        }
    }
    if (!haveVersion || !haveService)
        return Fail("pack needs --version and --service-word");
    if (p.payload.empty() || p.out.empty())
        return Fail("pack needs a PAYLOAD file and -o OUT");
    r.ok = true;
    return r;
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
            *why = "--port wants a device path or COM1..COM4";
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

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args)
{
    if (args.size() >= 1 && args[0] == "inspect")
        return ParseInspect(args);
    if (args.size() >= 1 && args[0] == "pack")
        return ParsePack(args);

    ParseResult r;
    DownloadOptions& d = r.options.download;
    bool image = false, served = false, listPorts = false;
    ArgReader rd{args, 0, {}};
    for (rd.i = 0; rd.i < args.size(); ++rd.i) {
        const std::string a = args[rd.i];
        std::string v;
        if (a == "-h" || a == "--help") {
            r.options.command = CliCommand::Help;
            r.ok = true;
            return r;
        } else if (a == "-V" || a == "--version") {
            r.options.command = CliCommand::Version;
            r.ok = true;
            return r;
        } else if (Matches(a, "-p", "--port")) {
            if (!rd.Value(a, a == "-p" ? "-p" : "--port", &v))
                return Fail(rd.error);
            if (v.empty())
                return Fail("--port wants a device path or COM1..COM4");
            std::string why;
            if (!AddPorts(v, &d.ports, &why))
                return Fail(why);
        } else if (Matches(a, "-b", "--baud")) {
            if (!rd.Value(a, a == "-b" ? "-b" : "--baud", &v))
                return Fail(rd.error);
            uint64_t baud = 0;
            if (!ParseUnsigned(v, &baud) || baud > UINT32_MAX || !PortBaudSupported(uint32_t(baud)))
                return Fail("unsupported baud rate '" + v + "'; the rates are: " + RateList());
            d.baud = uint32_t(baud);
        } else if (a == "--image") {
            image = true;
        } else if (a == "--served") {
            served = true;
        } else if (Matches(a, nullptr, "--timeout")) {
            if (!rd.Value(a, "--timeout", &v))
                return Fail(rd.error);
            char* end = nullptr;
            errno = 0;
            double t = strtod(v.c_str(), &end);
            if (v.empty() || errno || *end || !std::isfinite(t) || t <= 0 || t > 1e7)
                return Fail("--timeout wants a positive number of seconds: " + v);
            d.timeoutSec = t;
        } else if (a == "--list-ports") {
            listPorts = true;
        } else if (a == "--loop") {
            d.loop = true;
        } else if (a == "--json") {
            d.json = true;
        } else if (Matches(a, nullptr, "--log")) {
            if (!rd.Value(a, "--log", &v))
                return Fail(rd.error);
            if (v.empty())
                return Fail("--log wants a FILE name");
            d.logFile = v;
        } else if (Matches(a, nullptr, "--wait-port")) {
            if (!rd.Value(a, "--wait-port", &v))
                return Fail(rd.error);
            char* end = nullptr;
            errno = 0;
            double t = strtod(v.c_str(), &end);
            if (v.empty() || errno || *end || !std::isfinite(t) || t <= 0 || t > 1e7)
                return Fail("--wait-port wants a positive number of seconds: " + v);
            d.waitPortSec = t;
        } else if (a == "--") {
            for (++rd.i; rd.i < args.size(); ++rd.i) {
                if (!d.file.empty())
                    return Fail("only one download FILE");
                d.file = args[rd.i];
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return Fail("unknown option " + a);
        } else {
            if (!d.file.empty())
                return Fail("only one download FILE");
            d.file = a;
        }
    }
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
           "on request until the download is stopped (Ctrl-C, SIGTERM or --timeout).\n"
           "\n"
           "Options:\n"
           "  -p, --port PORT      device path (/dev/ttyUSB0, /dev/serial/by-id/...) or\n"
           "                       COM1..COM4 (= /dev/ttyS0../dev/ttyS3); default COM2\n"
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
           "  4  download file could not be opened (inspect: unreadable; pack: payload\n"
           "     unreadable or output not writable)\n"
           "  5  an image download stopped before the image was sent (signal, --timeout,\n"
           "     the engine could not start, or its worker did not end in time)\n"
           "  6  several ports or --loop: some port or some box failed (the summary\n"
           "     says which)\n";
}
