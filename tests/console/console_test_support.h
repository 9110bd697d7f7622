// SPDX-License-Identifier: MIT
// Helpers the console's tests share: the Qt widgets behind the dialog, a pty
// to connect to, the simulated box as a child process, the log view read back
// with its colours, test files.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class CLoaderDlg;
class QComboBox;
class QProgressBar;
class QTextEdit;

// The widgets the operator sees: the log, the progress bar, a combo box.
QTextEdit* LogEdit(CLoaderDlg& d);
QProgressBar* ProgressBar(CLoaderDlg& d);
QComboBox* Combo(CLoaderDlg& d, int id);

// A control's text, and its text colour as drawn.
QString Text(CLoaderDlg& d, int id);
QColor DrawnColour(CLoaderDlg& d, int id);
// The name the log uses for a port path ("pts/3").
QString ShortName(const QString& path);

// A pseudo-terminal whose far end the test holds: the slave path is a port
// the dialog can open. The test keeps one slave descriptor itself so the
// dialog's open and close never hang the master up. Both ends are
// close-on-exec: a simulator started meanwhile must not hold them.
class TestPty {
public:
    TestPty();
    ~TestPty();
    bool ok() const { return m_master >= 0; }
    QString path() const { return m_path; }
    int slaveFd() const { return m_slave; }
    // The far end goes away, as a pulled cable: every slave descriptor, the
    // test's own included, sees the hang-up (reads end, writes and queue
    // queries fail with EIO) and the path disappears.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// stbsim on a pty of its own; killed when the object goes.
class StbSim {
public:
    explicit StbSim(const QStringList& args);
    ~StbSim();
    bool started() const { return !m_pty.isEmpty(); }
    QString pty() const { return m_pty; }
    // Waits (bounded) for the end; -1 when it did not end in time.
    int waitExit(int timeoutMs);
    // Kills it at once (its pty's master closes with it) and waits, bounded.
    void kill();
    // Everything it printed so far (reads what is waiting).
    QString output();
    bool waitForOutput(const QString& needle, int timeoutMs);

private:
    QProcess m_proc;
    QString m_pty;
    QString m_out;
};
QString StbSimPath();  // empty when the simulator is not built

struct LogLine {
    QString text;  // the whole line as shown, without its break
    QColor color;  // colour of the text after the time stamp
};
std::vector<LogLine> LogLines(CLoaderDlg& dlg);
// The last line whose text contains needle; an empty LogLine if none.
LogLine FindLogLine(CLoaderDlg& dlg, const QString& needle);
bool LogHas(CLoaderDlg& dlg, const QString& needle);

// Whether this process holds a descriptor open on the file.
bool FileOpenInProcess(const QString& path);
// How many descriptors of this process are open on a device path, also
// after the device has gone (the link then reads "PATH (deleted)").
int DescriptorsOnDevice(const QString& path);

QByteArray ImageFileBytes(const QByteArray& payload, uint8_t maskKey, bool validMagic = true);
bool WriteFile(const QString& path, const QByteArray& data);
QByteArray ReadFile(const QString& path);

// The file chooser the tests put in place of the modal dialog.
struct ChooserStub {
    static bool cancel;
    static QString next;
    static QString lastFilter, lastExt, lastInitial;
    static bool Choose(const struct FileChooserRequest& request, class CString* path);
};

// Shows the dialog with `port` added to its list and `file` chosen as the
// download file, as an operator sets it up before Connect or Start.
void ShowReadyToStart(CLoaderDlg& dlg, const QString& port, const QString& file);

// Resets the console's process-wide state between dialogs.
void ResetConsoleGlobals();
