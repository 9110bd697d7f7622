// SPDX-License-Identifier: MIT
// Win32 backend of the port seam: a COM port driven through the
// communications calls of kernel32.
//
// The port is opened exclusively (share mode 0) and synchronously; the
// driver's own time-outs keep every call short: a read returns as soon as
// the line pauses for 1 ms, a write of n bytes gives up after 50 n + 500 ms.
// MARBRIX_TRACE=1 traces every platform call to standard error.
#include "port_trace.h"
#include "serial_port.h"
#include "system_text.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The errors a COM handle gives once its device is gone: a pulled USB
// adapter (usbser and the common vendor drivers answer with one of these),
// or, under Wine, a pty whose other end was closed (ERROR_NOT_READY).
bool IsGone(DWORD code)
{
    switch (code) {
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case 433:  // ERROR_NO_SUCH_DEVICE, missing from older headers
    case ERROR_FILE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

class Win32Line final : public PortLine {
public:
    explicit Win32Line(HANDLE h) : m_h(h) {}
    ~Win32Line() override
    {
        PORT_TRACE("CloseHandle");
        CloseHandle(m_h);
    }

    bool QueueStatus(PortQueueStatus* st) override
    {
        DWORD errors = 0;
        COMSTAT cs{};
        if (!ClearCommError(m_h, &errors, &cs))
            return Failed("ClearCommError");
        m_lost = nullptr;
        st->cbInQue = cs.cbInQue;
        st->cbOutQue = cs.cbOutQue;
        PORT_TRACE("status in=%lu out=%lu errors=%lx", (unsigned long)cs.cbInQue, (unsigned long)cs.cbOutQue,
                   (unsigned long)errors);
        return true;
    }

    bool Read(uint8_t* buf, uint32_t count, uint32_t* got) override
    {
        DWORD n = 0;
        *got = 0;
        if (!ReadFile(m_h, buf, count, &n, nullptr))
            return Failed("ReadFile(" + std::to_string(count) + ")");
        m_lost = nullptr;
        *got = n;
        PORT_TRACE("ReadFile(%u) = %lu", count, (unsigned long)n);
        return true;
    }

    // One WriteFile: the driver's write time-out (50 ms a byte plus 500 ms)
    // bounds it. A stop request cannot cut a synchronous call short; the
    // engine's writes are one byte (YMODEM) or one 256-byte piece.
    bool Write(const uint8_t* buf, uint32_t count, uint32_t* put) override
    {
        DWORD n = 0;
        *put = 0;
        if (!WriteFile(m_h, buf, count, &n, nullptr))
            return Failed("WriteFile(" + std::to_string(count) + ")");
        *put = n;
        // A time-out writes short but succeeds: not all of it went out.
        if (n < count) {
            PORT_TRACE("WriteFile(%u) timed out after %lu", count, (unsigned long)n);
            return false;
        }
        m_lost = nullptr;
        PORT_TRACE("WriteFile(%u) = %lu", count, (unsigned long)n);
        return true;
    }

    // A tick that ends soon after a byte arrives, as the POSIX one does:
    // the read time-outs (set at open) make ReadFile wait up to a tick and
    // return a millisecond after the line falls quiet. What it brings goes
    // into the read-ahead, where the serial link looks first. With bytes
    // already held, or on a failing port, the tick is slept out.
    void SleepTick() override
    {
        ReadAheadBuffer& ra = ReadAhead();
        if (ra.head != ra.tail) {
            Sleep(10);
            return;
        }
        const auto from = std::chrono::steady_clock::now();
        DWORD n = 0;
        if (!ReadFile(m_h, ra.bytes, ReadAheadBuffer::kSize, &n, nullptr)) {
            Failed("ReadFile(tick)");
        } else if (n > 0) {
            m_lost = nullptr;
            ra.head = 0;
            ra.tail = n;
            PORT_TRACE("tick read %lu", (unsigned long)n);
            return;
        }
        // Nothing came. A read that returned early (a failing port, or a
        // hung-up line that reads as its end) must not shorten the tick:
        // the engine's time-outs are counted in ticks.
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - from).count();
        if (spent < 10)
            Sleep(DWORD(10 - spent));
    }

    // Sleep takes whole milliseconds, and the system's timer may round them
    // up further: the time that really passed is what counts.
    int64_t SleepShort(int64_t us) override
    {
        const auto from = std::chrono::steady_clock::now();
        Sleep(DWORD((us + 999) / 1000));
        const auto slept =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - from).count();
        return slept > 0 ? int64_t(slept) : 1;
    }

    const char* LostReason() const override { return m_lost; }

private:
    // The call that just failed: traced, and noted should the device be
    // gone. Always false, the failed call's own result.
    bool Failed(const std::string& call)
    {
        const DWORD e = GetLastError();
        PORT_TRACE("%s failed: %lu", call.c_str(), (unsigned long)e);
        NoteFailure(e);
        return false;
    }

    void NoteFailure(DWORD code)
    {
        if (!IsGone(code))
            return;
        // The text is kept for the line's life: the engine copies it once
        // it calls the port lost.
        if (code != m_lostCode || !m_lostText[0]) {
            snprintf(m_lostText, sizeof m_lostText, "%s", SystemText(code).c_str());
            m_lostCode = code;
        }
        m_lost = m_lostText;
    }

    HANDLE m_h;
    const char* m_lost = nullptr;
    DWORD m_lostCode = 0;
    char m_lostText[160] = {0};
};

void SetError(PortOpenError* e, DWORD code, const std::string& what)
{
    if (!e)
        return;
    e->code = int(code);
    e->text = what + ": " + SystemText(code);
}

// "COM7" from "\\.\COM7", "COM7" or "com7"; empty for anything else.
std::string ComName(const std::string& nameOrPath)
{
    std::string s = nameOrPath;
    if (s.compare(0, 4, "\\\\.\\") == 0)
        s = s.substr(4);
    if (s.size() < 4 || s.size() > 6 || _strnicmp(s.c_str(), "COM", 3) != 0)
        return "";
    int n = 0;
    for (size_t i = 3; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return "";
        n = n * 10 + (s[i] - '0');
    }
    if (s[3] == '0' || n < 1 || n > 256)
        return "";
    return "COM" + std::to_string(n);
}

}  // namespace

PortHandle PortOpenDevice(const char* path, uint32_t baud, PortOpenError* error)
{
    if (!PortBaudSupported(baud)) {
        SetError(error, ERROR_INVALID_PARAMETER, "unsupported baud rate " + std::to_string(baud));
        return nullptr;
    }
    // Share mode 0: a port another program holds is refused (ERROR_ACCESS_DENIED).
    HANDLE h =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        PORT_TRACE("CreateFileA(%s) failed: %lu", path, (unsigned long)e);
        SetError(error, e, std::string("cannot open ") + path);
        return nullptr;
    }
    PORT_TRACE("CreateFileA(%s) ok", path);
    SetupComm(h, 1024, 1024);
    // A read of bytes the driver reports returns at once. A read with
    // nothing there (the tick's, SleepTick) waits up to a tick in all, and
    // returns once the line has been quiet for a millisecond after its
    // first byte. The documented wait for the first byte alone (MAXDWORD,
    // MAXDWORD, constant) is not kept by Wine, which waits the whole
    // constant; the gap between bytes works on both.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 1;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 10;
    t.WriteTotalTimeoutMultiplier = 50;
    t.WriteTotalTimeoutConstant = 500;
    SetCommTimeouts(h, &t);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        DWORD e = GetLastError();
        CloseHandle(h);
        SetError(error, e, std::string(path) + " is not a serial port");
        return nullptr;
    }
    // DCB takes the rate as the number itself (CBR_115200 is 115200); whether
    // the driver can run the line at it is its own answer at SetCommState.
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // Binary and no flow control of any kind, whatever the previous program
    // left: XON/XOFF would swallow the bytes 0x11 and 0x13 of an image, and
    // a handshake line nobody drives would stall the transfer.
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE)
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // A rate the driver refuses is an open failure, not a port that then
    // talks at whatever rate it had.
    if (!SetCommState(h, &dcb)) {
        DWORD e = GetLastError();
        CloseHandle(h);
        SetError(error, e, std::string("cannot set ") + path + " to 8N1 at " + std::to_string(baud));
        return nullptr;
    }
    PORT_TRACE("configured %s at %u 8N1", path, baud);
    Win32Line* line = new Win32Line(h);
    line->SetBaud(baud);
    return line;
}

void PortCloseDevice(PortHandle port)
{
    delete port;
}

// Nothing to drop short of closing: the handle itself is the exclusive claim,
// and the system closes it when the process ends.
void PortReleaseDevice(PortHandle) {}

std::string PortDevicePath(const std::string& name)
{
    // Always through \\.\ : plain "COM10" and above name no device.
    std::string com = ComName(name);
    return com.empty() ? name : "\\\\.\\" + com;
}

std::string PortShortName(const std::string& nameOrPath)
{
    std::string com = ComName(nameOrPath);
    return com.empty() ? nameOrPath : com;
}
