// SPDX-License-Identifier: MIT
// Windows: each download is a child process of this program started with
// CreateProcessW, its standard output an anonymous pipe to the parent, its
// standard error the parent's. Every child is the root of a process group of
// its own (Ctrl-Break can be sent to it alone) and a member of one Job
// object that ends them all when the parent ends, however it ends: the Job
// closes with the parent's last handle, and the system then terminates what
// is in it, so no child is left holding a port.
#include "child_process.h"
#include "console_stop.h"
#include "system_text.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace {

// An anonymous pipe has nothing to wait on for "data ready": ChildrenWait
// looks at the pipes in slices this long, and wakes at once for a child's
// end or the operator's stop. Measured under Wine with four children waiting
// for their boxes the parent spent 2.7 % of a core at 10 ms, 1.6 % at 20 ms; the
// events lose nothing by a 20 ms delay (the live lines redraw every 200 ms,
// and the pipe's buffer holds far more than a port brings in that time).
constexpr DWORD kPeekSliceMs = 20;
// The pipe's buffer: a child's writer never waits on a parent between looks.
constexpr DWORD kPipeBytes = 64 * 1024;
// A closing console window gives this process about 5 s before the system
// ends it: the children get most of it to wind up, the rest is for the
// summary.
constexpr DWORD kCloseChildrenMs = 3500;
constexpr DWORD kCloseTotalMs = 4500;
// A child ended by TerminateProcess or by an exception (an NTSTATUS exit
// code) is reported as a POSIX parent reports one killed by SIGKILL.
constexpr UINT kKilledExit = 128 + 9;

std::atomic<bool> g_stop{false};
HANDLE g_wake = nullptr;  // auto-reset: one ChildrenWait cut short per stop
HANDLE g_job = nullptr;
// The stop events of the children not yet reaped, for the closing console's
// handler, which runs on a thread of its own.
std::mutex g_liveMutex;
std::vector<HANDLE> g_liveStops;

// The program's strings are in the ANSI code page: that is how its main()
// receives its arguments, and how a child's main() will receive them back.
std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return {};
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// One argument as the C runtime's parser splits the command line again:
// quotes around anything with blanks or quotes, a quote inside escaped, and
// the backslashes before a quote (or before the closing one) doubled.
std::wstring QuoteArgument(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

// The name of "NAME=VALUE"; the system's "=C:=C:\dir" entries start with '='.
std::wstring EntryName(const std::wstring& entry)
{
    size_t eq = entry.find(L'=', 1);
    return entry.substr(0, eq);
}

// This process's environment with `extra` added; an extra entry replaces one
// of the same name (names are not case sensitive on Windows).
std::vector<wchar_t> EnvironmentBlock(const std::vector<std::string>& extra)
{
    std::vector<std::wstring> added;
    for (const std::string& e : extra)
        added.push_back(Wide(e));
    std::vector<std::wstring> entries;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* e = block; e && *e; e += wcslen(e) + 1) {
        const std::wstring entry = e;
        const std::wstring name = EntryName(entry);
        bool replaced = std::any_of(added.begin(), added.end(), [&](const std::wstring& a) {
            const std::wstring other = EntryName(a);
            return CompareStringOrdinal(name.c_str(), int(name.size()), other.c_str(), int(other.size()), TRUE) ==
                   CSTR_EQUAL;
        });
        if (!replaced)
            entries.push_back(entry);
    }
    if (block)
        FreeEnvironmentStringsW(block);
    entries.insert(entries.end(), added.begin(), added.end());
    std::vector<wchar_t> out;
    for (const std::wstring& e : entries) {
        out.insert(out.end(), e.begin(), e.end());
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    if (entries.empty())
        out.push_back(L'\0');
    return out;
}

// The Job every child joins. Without one (the system refused it) the children
// still run; they then end on their own once their stop comes.
void JobCreateOnce()
{
    if (g_job)
        return;
    g_job = CreateJobObjectW(nullptr, nullptr);
    if (!g_job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(g_job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(g_job);
        g_job = nullptr;
    }
}

bool JobIsEmpty()
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
    if (!g_job || !QueryInformationJobObject(g_job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr))
        return true;
    return info.ActiveProcesses == 0;
}

void ForgetStop(ChildHandle* child)
{
    if (!child->stop)
        return;
    std::lock_guard<std::mutex> lock(g_liveMutex);
    g_liveStops.erase(std::remove(g_liveStops.begin(), g_liveStops.end(), child->stop), g_liveStops.end());
    CloseHandle(child->stop);
    child->stop = nullptr;
}

BOOL WINAPI OnStopControl(DWORD type)
{
    const ConsoleStop stop = ConsoleStopOf(type);
    if (stop == ConsoleStop::None)
        return FALSE;
    g_stop = true;
    SetEvent(g_wake);
    if (stop == ConsoleStop::Keys)
        return TRUE;
    // The console is going away, and this process with it once the handler
    // returns. The children (on the same console) have had the event too;
    // their stop events reach those that are not. The main thread may be
    // anywhere: this thread sees the ending through by itself.
    const ULONGLONG start = GetTickCount64();
    {
        std::lock_guard<std::mutex> lock(g_liveMutex);
        for (HANDLE stop : g_liveStops)
            SetEvent(stop);
    }
    while (!JobIsEmpty() && GetTickCount64() - start < kCloseChildrenMs)
        Sleep(50);
    if (g_job)
        TerminateJobObject(g_job, kKilledExit);
    // The main thread writes the summary and ends the process itself.
    const ULONGLONG spent = GetTickCount64() - start;
    if (spent < kCloseTotalMs)
        Sleep(DWORD(kCloseTotalMs - spent));
    return TRUE;
}

}  // namespace

std::string SelfExecutable()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
        if (n == 0)
            return "marbrix-cli.exe";
        if (n < path.size()) {
            path.resize(n);
            return Narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

bool ChildSpawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, ChildHandle* child,
                std::string* why)
{
    if (argv.empty()) {
        *why = "no program to start";
        return false;
    }
    JobCreateOnce();
    // Everything the child inherits is made inheritable here and closed (or
    // made private again) right after the start: the next child must not
    // inherit this one's pipe, or the parent would never see its end.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, kPipeBytes)) {
        *why = SystemText(GetLastError());
        return false;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE stop = CreateEventW(&inherit, TRUE, FALSE, nullptr);
    HANDLE errCopy = nullptr;
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err && err != INVALID_HANDLE_VALUE)
        DuplicateHandle(GetCurrentProcess(), err, GetCurrentProcess(), &errCopy, 0, TRUE, DUPLICATE_SAME_ACCESS);
    // The operator's keyboard stays with the parent.
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

    std::vector<std::string> env = extraEnv;
    if (stop)
        env.push_back(std::string(kChildStopEventEnv) + "=" + std::to_string(uintptr_t(stop)));
    std::vector<wchar_t> block = EnvironmentBlock(env);
    std::wstring commandLine;
    for (const std::string& a : argv)
        commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(Wide(a));
    const std::wstring program = Wide(argv[0]);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul == INVALID_HANDLE_VALUE ? nullptr : nul;
    startup.hStdOutput = writeEnd;
    startup.hStdError = errCopy;
    // Suspended until it is in the Job, so that not even its first moment is
    // outside it. A parent without a console (a window) must not give each
    // child a console window of its own.
    DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
    if (!GetConsoleWindow())
        flags |= CREATE_NO_WINDOW;
    PROCESS_INFORMATION info{};
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags, block.data(),
                                        nullptr, &startup, &info);
    const DWORD startError = GetLastError();
    CloseHandle(writeEnd);
    if (errCopy)
        CloseHandle(errCopy);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!started) {
        CloseHandle(readEnd);
        if (stop)
            CloseHandle(stop);
        *why = SystemText(startError);
        return false;
    }
    if (stop)
        SetHandleInformation(stop, HANDLE_FLAG_INHERIT, 0);
    // Refused only where Jobs cannot nest (Windows 7 inside a Job of its own
    // caller): the child then runs without that guard.
    if (g_job)
        AssignProcessToJobObject(g_job, info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    child->id = long(info.dwProcessId);
    child->process = info.hProcess;
    child->output = readEnd;
    child->stop = stop;
    if (stop) {
        std::lock_guard<std::mutex> lock(g_liveMutex);
        g_liveStops.push_back(stop);
    }
    return true;
}

void ChildAskToStop(const ChildHandle& child)
{
    if (!child.process)
        return;
    // Ctrl-Break reaches the child's group when it shares this console (a
    // child's Ctrl-C is off in a group of its own); the event reaches it in
    // any case. The child takes either as the operator's Abort, and a second
    // one does no harm.
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(child.id));
    if (child.stop)
        SetEvent(child.stop);
}

void ChildKill(const ChildHandle& child)
{
    if (child.process)
        TerminateProcess(child.process, kKilledExit);
}

int ChildPoll(ChildHandle* child)
{
    if (!child->process)
        return -1;
    const DWORD state = WaitForSingleObject(child->process, 0);
    if (state == WAIT_TIMEOUT)
        return -1;
    DWORD code = kKilledExit;
    if (state != WAIT_OBJECT_0 || !GetExitCodeProcess(child->process, &code) || code > 255)
        code = kKilledExit;
    CloseHandle(child->process);
    child->process = nullptr;
    child->id = -1;
    ForgetStop(child);
    return int(code);
}

long ChildRead(ChildHandle* child, char* buffer, size_t size)
{
    if (!child->output)
        return 0;
    DWORD waiting = 0;
    if (PeekNamedPipe(child->output, nullptr, 0, nullptr, &waiting, nullptr)) {
        if (waiting == 0)
            return -1;
        DWORD n = 0;
        const DWORD want = DWORD(std::min<size_t>(size, waiting));
        if (ReadFile(child->output, buffer, want, &n, nullptr) && n > 0)
            return long(n);
    }
    // The pipe is broken: the child (the only writer) has closed its end and
    // everything it wrote has been read.
    CloseHandle(child->output);
    child->output = nullptr;
    return 0;
}

void ChildrenWait(const std::vector<ChildHandle*>& children, int timeoutMs)
{
    const ULONGLONG until = GetTickCount64() + ULONGLONG(std::max(timeoutMs, 0));
    std::vector<HANDLE> handles;
    if (g_wake)
        handles.push_back(g_wake);
    for (ChildHandle* c : children)
        if (c->process && handles.size() < MAXIMUM_WAIT_OBJECTS)
            handles.push_back(c->process);
    for (;;) {
        for (ChildHandle* c : children) {
            DWORD waiting = 0;
            if (c->output && (!PeekNamedPipe(c->output, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0))
                return;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= until)
            return;
        const DWORD slice = DWORD(std::min<ULONGLONG>(kPeekSliceMs, until - now));
        const DWORD r = handles.empty() ? (Sleep(slice), WAIT_TIMEOUT)
                                        : WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, slice);
        if (r != WAIT_TIMEOUT)
            return;
    }
}

bool StopSignalsInstall()
{
    g_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return g_wake && SetConsoleCtrlHandler(OnStopControl, TRUE);
}

bool StopRequested()
{
    return g_stop.load();
}
