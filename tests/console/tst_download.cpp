// SPDX-License-Identifier: MIT
// Whole downloads driven through the dialog against the simulated box on a
// pty: an image download to its end, a served download with Abort and an
// immediate new Start, DisConnect and closing the dialog while a download
// runs.
#include "console_test_support.h"

#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "qt_backend.h"
#include "resource.h"
#include "serial_port.h"

#include <QDialog>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

#include <atomic>

namespace {

QByteArray RandomBytes(int n, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char(gen.generate() & 0xFF);
    return b;
}

// A progress sink that can hold the worker at the end of its session (the
// abort ending reports progress 0 after its line), so a Start pressed at
// once after Abort surely meets a worker that is still running.
std::atomic<bool> g_holdWorker{false};
QSemaphore g_release;
void HoldingProgressSink(int percent)
{
    if (g_holdWorker.load() && percent == 0)
        g_release.tryAcquire(1, 15000);
    ConsoleProgressSink(percent);
}

}  // namespace

class TestDownload : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        ResetConsoleGlobals();
        g_holdWorker = false;
    }

    void imageDownloadToTheEnd_data()
    {
        QTest::addColumn<int>("payload");
        QTest::newRow("several blocks, padded") << 5000;
        QTest::newRow("whole KiB") << 3072;
    }
    void imageDownloadToTheEnd()
    {
        QFETCH(int, payload);
        QTemporaryDir dir;
        const QString file = dir.filePath("app.dat");
        const QString out = dir.filePath("received.bin");
        const QByteArray data = RandomBytes(payload, quint32(payload));
        QVERIFY(WriteFile(file, ImageFileBytes(data, 0x5A)));
        StbSim sim({"--mode", "image", "--expect", file, "--out", out, "--timeout", "90"});
        QVERIFY2(sim.started(), qPrintable(sim.output()));

        CLoaderDlg dlg;
        ShowReadyToStart(dlg, sim.pty(), file);
        QList<int> positions;
        connect(ProgressBar(dlg), &QProgressBar::valueChanged, [&](int v) { positions << v; });

        dlg.OnStart();
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Abort"));
        QCOMPARE(Text(dlg, IDC_STATUS), "===>>  \"" + file + "\"");
        QCOMPARE(int(g_bDownloading), 1);
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("OK"));

        QTRY_VERIFY_WITH_TIMEOUT(Text(dlg, IDC_START) == QStringLiteral("Start"), 90000);
        QVERIFY2(LogHas(dlg, "Velto file send OK!"), qPrintable(LogEdit(dlg)->toPlainText()));
        QCOMPARE(FindLogLine(dlg, "Velto file send OK!").color, QColor(255, 0, 0));
        QCOMPARE(FindLogLine(dlg, "Download File is valid, DL Version:1.2").color, QColor(0, 123, 22));
        QCOMPARE(Text(dlg, IDC_STATUS), QString());
        QCOMPARE(int(g_bDownloading), 0);
        QTRY_COMPARE_WITH_TIMEOUT(ProgressBar(dlg)->value(), 0, 10000);
        QVERIFY2(positions.contains(100), qPrintable(QString::number(positions.size())));
        QTRY_VERIFY_WITH_TIMEOUT(!FileOpenInProcess(file), 10000);

        QCOMPARE(sim.waitExit(30000), 0);
        QVERIFY2(sim.output().contains("stbsim: PASS"), qPrintable(sim.output()));
        QByteArray padded = data;
        padded.append(QByteArray((1024 - payload % 1024) % 1024, char(0xFF)));
        QCOMPARE(ReadFile(out), padded);
    }

    // Abort of a served download: orange break-off line, Idle at once; a
    // Start pressed at once meets the stopping worker, gets the busy line
    // and stays Idle with the new file closed again.
    void servedAbortThenImmediateStart()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("app.sdl");
        const QByteArray data = RandomBytes(20000, 7);
        QVERIFY(WriteFile(file, data));
        StbSim sim({"--mode", "served", "--expect", file, "--chunk", "1000", "--timeout", "90"});
        QVERIFY2(sim.started(), qPrintable(sim.output()));

        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        // After the dialog has installed its own sinks.
        g_pEngine->SetProgressSink(HoldingProgressSink);
        dlg.AddPortPath(FromQString(sim.pty()));
        ChooserStub::next = file;
        dlg.OnBrowse();
        QCOMPARE(int(g_bImageMode), 0);
        dlg.OnStart();
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Abort"));
        QVERIFY2(sim.waitForOutput("stbsim: PASS", 60000), qPrintable(sim.output()));
        QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "VUMO_TIME_REP"), 10000);

        g_holdWorker = true;
        dlg.OnStart();  // Abort
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
        QCOMPARE(Text(dlg, IDC_STATUS), QString());
        QCOMPARE(int(g_bDownloading), 0);
        QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "[VUMO] User break off"), 20000);
        QCOMPARE(FindLogLine(dlg, "[VUMO] User break off").color, QColor(255, 128, 0));
        QVERIFY(g_bEngineBusy.load());
        QVERIFY(FileOpenInProcess(file));  // the worker may still read it

        dlg.OnStart();  // again, at once
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
        QCOMPARE(int(g_bDownloading), 0);
        QCOMPARE(Text(dlg, IDC_STATUS), "===>>  \"" + file + "\"");
        QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "System is busy now! Please wait..."), 10000);
        QCOMPARE(FindLogLine(dlg, "System is busy now! Please wait...").color, QColor(255, 0, 0));

        g_holdWorker = false;
        g_release.release();
        QTRY_VERIFY_WITH_TIMEOUT(!FileOpenInProcess(file), 20000);
        QVERIFY(dlg.NothingPendingClose());
        QCOMPARE(sim.waitExit(30000), 0);
        g_pEngine->SetProgressSink(ConsoleProgressSink);
    }

    // DisConnect during a download aborts it and waits for the worker
    // before the handle is closed; closing the dialog does the same and
    // releases port and file.
    void disconnectOrCloseDuringDownload_data()
    {
        QTest::addColumn<bool>("closeDialog");
        QTest::newRow("DisConnect") << false;
        QTest::newRow("close the dialog") << true;
    }
    void disconnectOrCloseDuringDownload()
    {
        QFETCH(bool, closeDialog);
        QTemporaryDir dir;
        const QString file = dir.filePath("app.dnl");
        QVERIFY(WriteFile(file, RandomBytes(50000, 3)));
        StbSim sim({"--mode", "served", "--expect", file, "--chunk", "512", "--pace", "115200", "--timeout", "90"});
        QVERIFY2(sim.started(), qPrintable(sim.output()));
        const QString pty = sim.pty();
        {
            CLoaderDlg dlg;
            ShowReadyToStart(dlg, pty, file);
            dlg.OnStart();
            QCOMPARE(int(g_bDownloading), 1);
            QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "VUMO_START"), 30000);
            if (closeDialog)
                QtWindow(dlg)->done(0);
            else
                dlg.OnConnect();
            // The worker has ended before the press (or the close) returned.
            QCOMPARE(int(g_bEngineBusy.load()), 0);
            if (!closeDialog) {
                QVERIFY(LogHas(dlg, QString::fromStdString(PortShortName(pty.toStdString())) + " Close!"));
                QCOMPARE(Text(dlg, IDC_CONNECT), QStringLiteral("Connect"));
                QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
                QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "[VUMO] User break off"), 10000);
            }
            QCOMPARE(int(g_bConnected), 0);
            QCOMPARE(int(g_bDownloading), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!FileOpenInProcess(file), 10000);
        }
        // The port is free again.
        PortHandle again = PortOpenDevice(pty.toLocal8Bit().constData(), 115200, nullptr);
        QVERIFY(again != nullptr);
        PortCloseDevice(again);
    }
};

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
