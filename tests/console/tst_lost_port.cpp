// SPDX-License-Identifier: MIT
// The port goes away under a download (a pulled cable; here the pty's master
// closes): the console returns to Idle by itself, closes the port, shows
// "ERR" and says why; a later Connect on another port works.
#include "console_test_support.h"

#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "qt_backend.h"
#include "resource.h"
#include "serial_port.h"

#include <QDialog>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <cstdio>
#include <memory>
#include <thread>

namespace {

const char kLostLine[] = "Serial port lost! Abort Download";

QString Log(CLoaderDlg& d)
{
    return LogEdit(d)->toPlainText();
}

// The lost-port ending as the log must show it: the engine's line, the
// system's words for the port, then the close; red, red, green.
void CheckLostLines(CLoaderDlg& dlg, const QString& name, const QString& reason)
{
    const auto lines = LogLines(dlg);
    size_t at = lines.size();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].text.mid(10) == QLatin1String(kLostLine))
            at = i;
    QVERIFY2(at + 2 < lines.size(), qPrintable(Log(dlg)));
    QCOMPARE(lines[at].color, QColor(255, 0, 0));
    QCOMPARE(lines[at + 1].text.mid(10), name + ": " + reason);
    QCOMPARE(lines[at + 1].color, QColor(255, 0, 0));
    QCOMPARE(lines[at + 2].text.mid(10), name + " Close!");
    QCOMPARE(lines[at + 2].color, QColor(0, 123, 22));
}

// Idle and closed, "ERR" in red, the lists free for another choice.
void CheckIdleAndClosed(CLoaderDlg& dlg)
{
    QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
    QCOMPARE(Text(dlg, IDC_CONNECT), QStringLiteral("Connect"));
    QCOMPARE(Text(dlg, IDC_STATUS), QString());
    QCOMPARE(int(g_bDownloading), 0);
    QCOMPARE(int(g_bConnected), 0);
    QVERIFY(g_hPort == nullptr);
    QVERIFY(QtControl(dlg, IDC_PORT)->isEnabled());
    QVERIFY(QtControl(dlg, IDC_BAUD)->isEnabled());
    QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("ERR"));
    QCOMPARE(DrawnColour(dlg, IDC_LINK), QColor(255, 0, 0));
}

// After a lost port the console connects to a working one as usual.
void CheckFreshConnect(CLoaderDlg& dlg)
{
    TestPty fresh;
    QVERIFY(fresh.ok());
    // The number may be the dead pty's again while the test still holds that.
    const int held = DescriptorsOnDevice(fresh.path());
    dlg.AddPortPath(FromQString(fresh.path()));
    dlg.OnConnect();
    QCOMPARE(FindLogLine(dlg, "Open Successful!").text.mid(10),
             ShortName(fresh.path()) + ":115200-8-1 Open Successful!");
    QCOMPARE(int(g_bConnected), 1);
    QCOMPARE(Text(dlg, IDC_CONNECT), QStringLiteral("DisConnect"));
    QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("OK"));
    QCOMPARE(DrawnColour(dlg, IDC_LINK), QColor(0, 128, 0));
    dlg.OnConnect();
    QCOMPARE(int(g_bConnected), 0);
    QCOMPARE(DescriptorsOnDevice(fresh.path()), held);
}

}  // namespace

class TestLostPort : public QObject {
    Q_OBJECT
private slots:
    void init() { ResetConsoleGlobals(); }
    void cleanup() { g_bEngineLineLost.store(0); }

    // The dialog's reaction to the engine's notifications alone, sent as the
    // worker sends them. If the operator pressed Abort just before the
    // lost-port ending arrived, the ending must not start a new download on
    // the dead port.
    void lostPortNotifications_data()
    {
        QTest::addColumn<bool>("abortedMeanwhile");
        QTest::newRow("download running") << false;
        QTest::newRow("operator aborted meanwhile") << true;
    }
    void lostPortNotifications()
    {
        QFETCH(bool, abortedMeanwhile);
        QTemporaryDir dir;
        const QString file = dir.filePath("app.sdl");
        QVERIFY(WriteFile(file, QByteArray(100, 'x')));
        TestPty pty;
        QVERIFY(pty.ok());
        CLoaderDlg dlg;
        ShowReadyToStart(dlg, pty.path(), file);
        dlg.OnConnect();
        QCOMPARE(int(g_bConnected), 1);
        // As a running download leaves it, without a worker.
        g_pDownloadFile = fopen(QFile::encodeName(file).constData(), "rb");
        QVERIFY(g_pDownloadFile);
        g_bDownloading = 1;
        dlg.SetDlgItemText(IDC_START, "Abort");
        if (abortedMeanwhile)
            dlg.OnStart();

        std::thread worker([] {
            EngineMarkLineLost("Input/output error");
            ConsoleLogSink("Serial port lost! Abort Download\n", LOG_DONE);
            ConsoleProgressSink(0);
        });
        worker.join();
        QCoreApplication::sendPostedEvents();

        CheckIdleAndClosed(dlg);
        CheckLostLines(dlg, ShortName(pty.path()), "Input/output error");
        QVERIFY2(!Log(dlg).contains("System is busy"), qPrintable(Log(dlg)));
        QVERIFY(g_pDownloadFile == nullptr);
        QVERIFY(!FileOpenInProcess(file));
        QVERIFY(dlg.NothingPendingClose());
        QCOMPARE(DescriptorsOnDevice(pty.path()), 1);  // the test's own end only
        QCOMPARE(ProgressBar(dlg)->value(), 0);
    }

    // The whole way with the engine: a served download listening on a pty
    // whose master the test closes, and an image download in the middle of
    // its transfer when the simulated box goes away with its pty.
    void portLostDuringDownload_data()
    {
        QTest::addColumn<bool>("image");
        QTest::newRow("served, listening; master closed") << false;
        QTest::newRow("image, mid-transfer; box killed") << true;
    }
    void portLostDuringDownload()
    {
        QFETCH(bool, image);
        QTemporaryDir dir;
        const QString file = dir.filePath(image ? "app.dat" : "app.sdl");
        QVERIFY(WriteFile(file, image ? ImageFileBytes(QByteArray(150 * 1024, 'i'), 0x33) : QByteArray(5000, 's')));
        TestPty pty;
        QVERIFY(pty.ok());
        std::unique_ptr<StbSim> sim;
        if (image) {
            if (StbSimPath().isEmpty())
                QSKIP("stbsim is not built");
            sim.reset(new StbSim({"--mode", "image", "--expect", file, "--pace", "115200", "--timeout", "90"}));
            QVERIFY2(sim->started(), qPrintable(sim->output()));
        }
        const QString port = image ? sim->pty() : pty.path();
        const int heldByTest = DescriptorsOnDevice(port);

        CLoaderDlg dlg;
        ShowReadyToStart(dlg, port, file);
        dlg.OnStart();
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Abort"));
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("OK"));
        if (image) {
            QTRY_VERIFY_WITH_TIMEOUT(ProgressBar(dlg)->value() > 0, 60000);
            QVERIFY(ProgressBar(dlg)->value() < 100);
            sim->kill();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "Start Download Service"), 20000);
            pty.closeMaster();
        }

        QTRY_VERIFY2_WITH_TIMEOUT(Text(dlg, IDC_CONNECT) == QLatin1String("Connect"), qPrintable(Log(dlg)), 30000);
        CheckIdleAndClosed(dlg);
        const QString reason = QString::fromLocal8Bit(EngineLineLostReason());
        QVERIFY(!reason.isEmpty());
        CheckLostLines(dlg, ShortName(port), reason);
        QVERIFY2(!Log(dlg).contains("Velto file send OK!"), qPrintable(Log(dlg)));
        // Released once the worker has let go: the file, the port handle.
        QTRY_VERIFY_WITH_TIMEOUT(!FileOpenInProcess(file), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(dlg.NothingPendingClose(), 20000);
        QCOMPARE(DescriptorsOnDevice(port), heldByTest);
        QTRY_COMPARE_WITH_TIMEOUT(ProgressBar(dlg)->value(), 0, 10000);
        QCOMPARE(int(g_bEngineBusy.load()), 0);

        CheckFreshConnect(dlg);
    }
};

QTEST_MAIN(TestLostPort)
#include "tst_lost_port.moc"
