// SPDX-License-Identifier: MIT
// What the production-line tests share: stbsim boxes on linked ptys, the
// CLI's children, and reading the summary and the events back.
#pragma once

#include "json_check.h"
#include "test_support.h"

#include <dirent.h>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#ifndef STBSIM
#error "STBSIM must name the stbsim binary"
#endif

inline const std::string kSim = STBSIM;
constexpr int kExitSomeFailed = 6;

// Starts stbsim (an image box unless `extra` says otherwise) on a pty reached
// through `link`, and waits until the link is there.
inline bool StartBox(Child* sim, const std::string& image, const std::string& link,
                     const std::vector<std::string>& extra = {})
{
    std::vector<std::string> argv = {kSim, "--mode", "image", "--expect", image, "--timeout", "120", "--link", link};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return sim->Spawn(argv) && sim->WaitForOutput(false, "stbsim: link ", 10000);
}

// `count` boxes expecting `image`, on links dir/box0, dir/box1, ...; the
// links in order, or empty (with the failing box's error recorded) when one
// did not start.
inline std::vector<std::string> StartBoxes(Child* boxes, int count, const std::string& dir, const std::string& image,
                                           const std::vector<std::string>& extra = {})
{
    std::vector<std::string> links;
    for (int i = 0; i < count; ++i) {
        links.push_back(dir + "/box" + std::to_string(i));
        if (!StartBox(&boxes[i], image, links.back(), extra)) {
            ADD_FAILURE() << links.back() << ": " << boxes[i].err;
            return {};
        }
    }
    return links;
}

// A box that is switched on but says nothing: the port is there, no transfer begins.
inline bool StartSilentBox(Child* sim, const std::string& link)
{
    return sim->Spawn({kSim, "--mode", "listen", "--timeout", "120", "--link", link}) &&
           sim->WaitForOutput(false, "stbsim: link ", 10000);
}

// The digest stbsim prints for what it received.
inline std::string SimSha(const Child& sim)
{
    std::smatch m;
    static const std::regex kPass("stbsim: PASS .* sha256 ([0-9a-f]{64})");
    return std::regex_search(sim.out, m, kPass) ? m[1].str() : std::string();
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        lines.push_back(l);
    return lines;
}

// The summary row of a port: "  PORT  ...".
inline std::string SummaryRow(const std::string& err, const std::string& port)
{
    size_t at = err.find("Summary:");
    if (at == std::string::npos)
        return "";
    for (const std::string& l : Lines(err.substr(at)))
        if (l.compare(0, port.size() + 2, "  " + port) == 0 && l.size() > port.size() + 2 &&
            l[port.size() + 2] == ' ')
            return l;
    return "";
}

// The events of one kind on standard output, each as its members.
inline std::vector<std::map<std::string, std::string>> Events(const std::string& out, const std::string& kind)
{
    std::vector<std::map<std::string, std::string>> found;
    for (const std::string& line : Lines(out)) {
        std::map<std::string, std::string> m;
        if (JsonCheck::Object(line, &m) && m["event"] == kind)
            found.push_back(m);
    }
    return found;
}

// The process ids whose parent is `parent` (the production line's children).
inline std::vector<pid_t> ChildrenOf(pid_t parent)
{
    std::vector<pid_t> kids;
    DIR* proc = opendir("/proc");
    if (!proc)
        return kids;
    while (dirent* e = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(e->d_name, &end, 10);
        if (pid <= 0 || *end)
            continue;
        std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
        size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 1));
        std::string state;
        long ppid = 0;
        if (rest >> state >> ppid && ppid == parent)
            kids.push_back(pid_t(pid));
    }
    closedir(proc);
    return kids;
}
