// SPDX-License-Identifier: MIT
// marbrix-cli: sends a download file to a set-top box from the command line.
#include "exit_codes.h"
#include "image_tools.h"
#include "log_output.h"
#include "options.h"
#include "single_port.h"
#include "std_streams.h"
#include "usb_identity.h"

#include <cstdio>
#include <string>
#include <vector>

#ifndef MARBRIX_VERSION
#define MARBRIX_VERSION "unknown"
#endif

int main(int argc, char** argv)
{
    // What the commands print goes out at once. The box's console bytes take
    // their own path to fd 1 (stdout_writer.h), never through stdio.
    setvbuf(stdout, nullptr, _IONBF, 0);
    StdStreamsPrepare();
    LogOutputInit();

    const char* program = "marbrix-cli";
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = ParseCommandLine(args);
    if (!parsed.ok) {
        fprintf(stderr, "%s: %s\nRun '%s --help' for the options and exit codes.\n", program, parsed.error.c_str(),
                program);
        return EXIT_USAGE;
    }
    const CliOptions& o = parsed.options;
    switch (o.command) {
    case CliCommand::Help:
        fputs(UsageText(program).c_str(), stdout);
        return 0;
    case CliCommand::Version:
        printf("%s %s\n", program, MARBRIX_VERSION);
        return 0;
    case CliCommand::ListPorts:
        // A USB adapter's identity comes last, ready to paste after -p.
        for (const PortInfo& p : CurrentPortListing())
            printf("%s\t%s\t%s%s%s\n", p.path.c_str(), p.shortName.c_str(), p.description.c_str(),
                   p.usbIdentity.empty() ? "" : "\t", p.usbIdentity.c_str());
        return 0;
    case CliCommand::Inspect:
        return InspectImage(o.inspectFile);
    case CliCommand::Pack:
        return PackImage(o.pack);
    case CliCommand::Download:
        break;
    }
    return RunDownloads(o.download);
}
