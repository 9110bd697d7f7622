// SPDX-License-Identifier: MIT
// Connect and DisConnect on a pty (also at the rates above 115200), the
// failures of a missing and a busy port with the reason, the text
// colours of the indicator and the status line, and an image the engine
// rejects (it touches no byte of the line, so a silent pty serves).
#include "console_test_support.h"

#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "qt_backend.h"
#include "resource.h"
#include "serial_port.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <termios.h>

class TestPort : public QObject {
    Q_OBJECT
private slots:
    void init() { ResetConsoleGlobals(); }

    void comPortsNameTheFirstFourDevices()
    {
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(QString::fromStdString(dlg.PortPathAt(i)), QString("/dev/ttyS%1").arg(i));
        // After them the machine's other serial ports, then added paths.
        auto* combo = Combo(dlg, IDC_PORT);
        const int before = combo->count();
        QCOMPARE(dlg.AddPortPath("/dev/pts/77"), before);
        QCOMPARE(combo->itemText(before), QStringLiteral("pts/77"));
        QCOMPARE(combo->currentIndex(), before);
        QCOMPARE(dlg.AddPortPath("/dev/pts/77"), before);  // not twice
        QCOMPARE(combo->count(), before + 1);
        QCOMPARE(dlg.AddPortPath("/dev/ttyS2"), 2);  // COM3 itself
    }

    // Open at the chosen rate, then close; the log lines, the buttons, the
    // lists and the indicator follow.
    void connectAndDisconnect_data()
    {
        QTest::addColumn<int>("baudIndex");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("speed");
        QTest::newRow("115200 (default)") << 7 << 115200 << int(B115200);
        QTest::newRow("9600") << 2 << 9600 << int(B9600);
        QTest::newRow("2400") << 0 << 2400 << int(B2400);
        // The rates after the template's eight.
        QTest::newRow("230400") << 8 << 230400 << int(B230400);
        QTest::newRow("460800") << 9 << 460800 << int(B460800);
        QTest::newRow("921600") << 10 << 921600 << int(B921600);
    }
    void connectAndDisconnect()
    {
        QFETCH(int, baudIndex);
        QFETCH(int, baud);
        QFETCH(int, speed);
        TestPty pty;
        QVERIFY(pty.ok());
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        dlg.AddPortPath(FromQString(pty.path()));
        Combo(dlg, IDC_BAUD)->setCurrentIndex(baudIndex);
        const QString name = ShortName(pty.path());

        dlg.OnConnect();
        LogLine open = FindLogLine(dlg, "Open Successful!");
        QCOMPARE(open.text.mid(10), QString("%1:%2-8-1 Open Successful!").arg(name).arg(baud));
        QCOMPARE(open.color, QColor(0, 123, 22));
        QCOMPARE(int(g_bConnected), 1);
        QCOMPARE(Text(dlg, IDC_CONNECT), QStringLiteral("DisConnect"));
        QVERIFY(!QtControl(dlg, IDC_PORT)->isEnabled());
        QVERIFY(!QtControl(dlg, IDC_BAUD)->isEnabled());
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("OK"));
        QCOMPARE(DrawnColour(dlg, IDC_LINK), QColor(0, 128, 0));
        // The line really is at that rate, 8N1, and raw.
        termios t;
        QCOMPARE(tcgetattr(pty.slaveFd(), &t), 0);
        QCOMPARE(int(cfgetospeed(&t)), speed);
        QCOMPARE(int(t.c_cflag & CSIZE), int(CS8));
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(!(t.c_cflag & CSTOPB));
        // The port is held exclusively.
        PortHandle other = PortOpenDevice(pty.path().toLocal8Bit().constData(), 9600, nullptr);
        QVERIFY(other == nullptr);

        dlg.OnConnect();
        const auto lines = LogLines(dlg);
        QCOMPARE(int(lines.size()), 2);
        QCOMPARE(lines[1].text.mid(10), name + " Close!");
        QCOMPARE(lines[1].color, QColor(0, 123, 22));
        QCOMPARE(int(g_bConnected), 0);
        QCOMPARE(Text(dlg, IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(QtControl(dlg, IDC_PORT)->isEnabled());
        QVERIFY(QtControl(dlg, IDC_BAUD)->isEnabled());
        QCOMPARE(Text(dlg, IDC_LINK), QString());
        // Released: another open succeeds now.
        other = PortOpenDevice(pty.path().toLocal8Bit().constData(), 9600, nullptr);
        QVERIFY(other != nullptr);
        PortCloseDevice(other);
    }

    // A missing port: "ERR" in red and the failure line; button and lists as
    // they were; "ERR" stays until a successful open replaces it with "OK".
    void missingPortThenGoodPort()
    {
        QTemporaryDir dir;
        TestPty pty;
        QVERIFY(pty.ok());
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        const QString missing = dir.filePath("ttyMISSING");
        dlg.AddPortPath(FromQString(missing));
        Combo(dlg, IDC_BAUD)->setCurrentIndex(2);
        dlg.OnConnect();
        LogLine failed = FindLogLine(dlg, "Open failed!");
        QCOMPARE(failed.text.mid(10), missing + ":9600-8-1 Open failed!");
        QCOMPARE(failed.color, QColor(255, 0, 0));
        QCOMPARE(LogLines(dlg).back().text.mid(10), "No such device: " + missing + ".");
        QCOMPARE(LogLines(dlg).back().color, QColor(255, 0, 0));
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("ERR"));
        QCOMPARE(DrawnColour(dlg, IDC_LINK), QColor(255, 0, 0));
        QCOMPARE(Text(dlg, IDC_CONNECT), QStringLiteral("Connect"));
        QVERIFY(QtControl(dlg, IDC_PORT)->isEnabled());
        QCOMPARE(int(g_bConnected), 0);

        dlg.OnConnect();  // tries again with the same selection
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("ERR"));
        dlg.AddPortPath(FromQString(pty.path()));
        dlg.OnConnect();
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("OK"));
        QCOMPARE(DrawnColour(dlg, IDC_LINK), QColor(0, 128, 0));
    }

    // A port another program holds: the failure line, then in red that it
    // is busy and who holds it, as far as the system lets us see. The same
    // when the holder is this program itself (no name to give then).
    void busyPortSaysWhoHoldsIt_data()
    {
        QTest::addColumn<bool>("otherProgram");
        QTest::newRow("held by another program") << true;
        QTest::newRow("held by this one") << false;
    }
    void busyPortSaysWhoHoldsIt()
    {
        QFETCH(bool, otherProgram);
        TestPty pty;
        QVERIFY(pty.ok());
        QProcess holder;
        PortHandle ours = nullptr;
        if (otherProgram) {
            // `sleep` reads nothing, but has the device open as its input
            // and took neither the lock nor the exclusive flag.
            holder.setStandardInputFile(pty.path());
            holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
            QVERIFY(holder.waitForStarted(10000));
        } else {
            ours = PortOpenDevice(pty.path().toLocal8Bit().constData(), 115200, nullptr);
            QVERIFY(ours);
        }
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        dlg.AddPortPath(FromQString(pty.path()));
        // The holder opened the device before it started `sleep`.
        dlg.OnConnect();
        QCOMPARE(int(g_bConnected), 0);
        const auto lines = LogLines(dlg);
        QVERIFY(lines.size() >= 2);
        QCOMPARE(lines[lines.size() - 2].text.mid(10), ShortName(pty.path()) + ":115200-8-1 Open failed!");
        const LogLine why = lines.back();
        QCOMPARE(why.color, QColor(255, 0, 0));
        QVERIFY2(why.text.mid(10).startsWith(pty.path() + " is busy: another program holds it open"),
                 qPrintable(why.text));
        if (otherProgram)
            QVERIFY2(why.text.contains(QString("sleep (pid %1)").arg(holder.processId())), qPrintable(why.text));
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("ERR"));
        if (otherProgram) {
            holder.kill();
            holder.waitForFinished(5000);
        } else {
            PortCloseDevice(ours);
        }
    }

    void statusLineIsDarkRedWhateverTheState()
    {
        TestPty pty;
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        dlg.m_strStatus = "===>>  \"x\"";
        dlg.UpdateData(false);
        QCOMPARE(DrawnColour(dlg, IDC_STATUS), QColor(200, 0, 0));
        dlg.AddPortPath(FromQString(pty.path()));
        dlg.OnConnect();
        QCOMPARE(DrawnColour(dlg, IDC_STATUS), QColor(200, 0, 0));
    }

    // A header the engine rejects: Start opens the closed port in the same
    // press, then the console returns to Idle by itself, the rejection in
    // red, the file closed.
    void rejectedImageReturnsToIdle_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("wrong magic") << ImageFileBytes(QByteArray(2000, 'p'), 0x20, false);
        QTest::newRow("shorter than the header") << QByteArray("\x00VELTO", 6);
        QTest::newRow("header only") << ImageFileBytes(QByteArray(), 0x00);
    }
    void rejectedImageReturnsToIdle()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString file = dir.filePath("bad.dat");
        QVERIFY(WriteFile(file, content));
        TestPty pty;
        QVERIFY(pty.ok());
        CLoaderDlg dlg;
        ShowReadyToStart(dlg, pty.path(), file);
        QCOMPARE(int(g_bImageMode), 1);
        dlg.OnStart();
        QCOMPARE(FindLogLine(dlg, "Open Successful!").color, QColor(0, 123, 22));
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Abort"));
        QCOMPARE(Text(dlg, IDC_STATUS), "===>>  \"" + file + "\"");
        QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "BadFile Type! Abort Download"), 20000);
        QCOMPARE(FindLogLine(dlg, "BadFile Type! Abort Download").color, QColor(255, 0, 0));
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
        QCOMPARE(Text(dlg, IDC_STATUS), QString());
        QCOMPARE(int(g_bDownloading), 0);
        QCOMPARE(FindLogLine(dlg, "Velto File Download!").color, QColor(0, 123, 22));
        QTRY_VERIFY_WITH_TIMEOUT(!FileOpenInProcess(file), 20000);
        QVERIFY(dlg.NothingPendingClose());
        QCOMPARE(int(g_bConnected), 1);  // the port stays open
    }
};

QTEST_MAIN(TestPort)
#include "tst_port.moc"
