// SPDX-License-Identifier: MIT
#include "console_test_support.h"

#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "qt_backend.h"
#include "resource.h"
#include "serial_port.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextEdit>

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

TestPty::TestPty()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        close(m_master);
        m_master = -1;
        return;
    }
    m_path = QString::fromLocal8Bit(ptsname(m_master));
    m_slave = open(ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave >= 0) {
        termios t;
        if (tcgetattr(m_slave, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(m_slave, TCSANOW, &t);
        }
    }
}

TestPty::~TestPty()
{
    if (m_slave >= 0)
        close(m_slave);
    closeMaster();
}

void TestPty::closeMaster()
{
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

QString StbSimPath()
{
#ifdef STBSIM_PATH
    return QStringLiteral(STBSIM_PATH);
#else
    return QString();
#endif
}

StbSim::StbSim(const QStringList& args)
{
    const QString exe = StbSimPath();
    if (exe.isEmpty())
        return;
    m_proc.setProcessChannelMode(QProcess::SeparateChannels);
    m_proc.start(exe, args);
    if (!m_proc.waitForStarted(10000))
        return;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        if (m_proc.canReadLine() || m_proc.waitForReadyRead(200)) {
            while (m_proc.canReadLine()) {
                const QString line = QString::fromLocal8Bit(m_proc.readLine());
                m_out += line;
                if (line.startsWith(QLatin1String("stbsim: pty "))) {
                    m_pty = line.mid(12).trimmed();
                    return;
                }
            }
        }
        if (m_proc.state() == QProcess::NotRunning)
            return;
    }
}

StbSim::~StbSim()
{
    kill();
}

void StbSim::kill()
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.kill();
        m_proc.waitForFinished(5000);
    }
}

int StbSim::waitExit(int timeoutMs)
{
    if (m_proc.state() != QProcess::NotRunning && !m_proc.waitForFinished(timeoutMs))
        return -1;
    output();
    return m_proc.exitStatus() == QProcess::NormalExit ? m_proc.exitCode() : -1;
}

QString StbSim::output()
{
    m_out += QString::fromLocal8Bit(m_proc.readAllStandardOutput());
    return m_out;
}

bool StbSim::waitForOutput(const QString& needle, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!output().contains(needle)) {
        if (t.elapsed() > timeoutMs || m_proc.state() == QProcess::NotRunning)
            return output().contains(needle);
        m_proc.waitForReadyRead(100);
    }
    return true;
}

std::vector<LogLine> LogLines(CLoaderDlg& dlg)
{
    std::vector<LogLine> lines;
    QTextDocument* doc = LogEdit(dlg)->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        LogLine line;
        line.text = b.text();
        if (line.text.isEmpty() && !b.next().isValid())
            break;  // the empty block after the last break
        // The colour at the text after "hh:mm:ss  ".
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            QTextFragment f = it.fragment();
            if (f.position() + f.length() > b.position() + 10) {
                line.color = f.charFormat().foreground().color();
                break;
            }
        }
        lines.push_back(line);
    }
    return lines;
}

LogLine FindLogLine(CLoaderDlg& dlg, const QString& needle)
{
    LogLine found;
    for (const LogLine& l : LogLines(dlg))
        if (l.text.contains(needle))
            found = l;
    return found;
}

bool LogHas(CLoaderDlg& dlg, const QString& needle)
{
    return LogEdit(dlg)->toPlainText().contains(needle);
}

bool FileOpenInProcess(const QString& path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        const QString link = QFile::symLinkTarget(fds.filePath(fd));
        if (!link.isEmpty() && link == target)
            return true;
    }
    return false;
}

int DescriptorsOnDevice(const QString& path)
{
    const QByteArray want = QFile::encodeName(path);
    int n = 0;
    QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        char link[PATH_MAX];
        const ssize_t len = readlink(QFile::encodeName(fds.filePath(fd)).constData(), link, sizeof link);
        if (len <= 0)
            continue;
        const QByteArray target(link, int(len));
        if (target == want || target == want + " (deleted)")
            ++n;
    }
    return n;
}

QByteArray ImageFileBytes(const QByteArray& payload, uint8_t maskKey, bool validMagic)
{
    QByteArray f;
    f.append(char(maskKey));
    const char magic[] = "VELTOWDL";
    for (int i = 0; i < 8; ++i) {
        char c = magic[i];
        if (!validMagic && i == 3)
            c = 'X';
        f.append(char(uint8_t(c) ^ maskKey));
    }
    f.append(char(1));
    f.append(char(2));
    f.append("\x11\x22\x33\x44", 4);
    f.append(payload);
    return f;
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool ChooserStub::cancel = false;
QString ChooserStub::next;
QString ChooserStub::lastFilter;
QString ChooserStub::lastExt;
QString ChooserStub::lastInitial;

bool ChooserStub::Choose(const FileChooserRequest& request, CString* path)
{
    lastFilter = ToQString(request.filter);
    lastExt = ToQString(request.defaultExt);
    lastInitial = ToQString(request.initialName);
    if (cancel)
        return false;
    *path = FromQString(next);
    return true;
}

void ShowReadyToStart(CLoaderDlg& dlg, const QString& port, const QString& file)
{
    QtWindow(dlg)->show();
    dlg.AddPortPath(FromQString(port));
    ChooserStub::next = file;
    dlg.OnBrowse();
}

void ResetConsoleGlobals()
{
    EngineWaitIdle(10000);
    g_hPort = nullptr;
    g_bConnected = 0;
    g_bDownloading = 0;
    g_pDownloadFile = nullptr;
    g_bImageMode = 0;
    g_pfnChooseFile = ChooserStub::Choose;
    ChooserStub::cancel = false;
    ChooserStub::next.clear();
}

QTextEdit* LogEdit(CLoaderDlg& d)
{
    return qobject_cast<QTextEdit*>(QtControl(d, IDC_LOG));
}

QProgressBar* ProgressBar(CLoaderDlg& d)
{
    return qobject_cast<QProgressBar*>(QtControl(d, IDC_PROGRESS));
}

QComboBox* Combo(CLoaderDlg& d, int id)
{
    return qobject_cast<QComboBox*>(QtControl(d, id));
}

// Read from the widget itself: what the operator sees, not what the layer
// says it wrote.
QString Text(CLoaderDlg& d, int id)
{
    QWidget* w = QtControl(d, id);
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<QTextEdit*>(w))
        return e->toPlainText();
    return QStringLiteral("<no text control %1>").arg(id);
}

QColor DrawnColour(CLoaderDlg& d, int id)
{
    QWidget* w = QtControl(d, id);
    w->grab();  // draws it, as the screen would
    return w->palette().color(QPalette::WindowText);
}

QString ShortName(const QString& path)
{
    return QString::fromStdString(PortShortName(path.toStdString()));
}
