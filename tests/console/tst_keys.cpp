// SPDX-License-Identifier: MIT
// Escape, Enter and the close box, while idle and while a download runs (a
// served download listening on a pty): no keystroke ends a running
// download, and the close box asks before it aborts one.
#include "console_test_support.h"

#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "resource.h"

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

namespace {

int g_asked = 0;
bool g_answerYes = false;

bool Answer(QWidget*)
{
    ++g_asked;
    return g_answerYes;
}

}  // namespace

class TestKeys : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        ResetConsoleGlobals();
        g_pfnAskAbortAndQuit = Answer;
        g_asked = 0;
        g_answerYes = false;
    }

    void keysAndCloseBox_data()
    {
        QTest::addColumn<bool>("downloading");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<bool>("stillOpen");
        QTest::addColumn<bool>("stillDownloading");
        QTest::addColumn<int>("asked");
        // While idle: Esc and the close box end the program at once.
        QTest::newRow("idle: Esc") << false << "esc log" << false << false << false << 0;
        QTest::newRow("idle: Esc on the port list") << false << "esc port" << false << false << false << 0;
        QTest::newRow("idle: close box") << false << "close" << false << false << false << 0;
        QTest::newRow("idle: Enter on the port list") << false << "enter port" << false << true << false << 0;
        QTest::newRow("idle: Enter in the log") << false << "enter log" << false << true << false << 0;
        QTest::newRow("idle: Enter on Connect presses it") << false << "enter connect" << false << true << false << 0;
        // While a download runs.
        QTest::newRow("download: Esc") << true << "esc log" << false << true << true << 0;
        QTest::newRow("download: Enter in the log") << true << "enter log" << false << true << true << 0;
        QTest::newRow("download: Enter on Abort presses it") << true << "enter start" << false << true << false << 0;
        QTest::newRow("download: close box, No") << true << "close" << false << true << true << 1;
        QTest::newRow("download: close box, Yes") << true << "close" << true << false << false << 1;
    }
    void keysAndCloseBox()
    {
        QFETCH(bool, downloading);
        QFETCH(QString, action);
        QFETCH(bool, answerYes);
        QFETCH(bool, stillOpen);
        QFETCH(bool, stillDownloading);
        QFETCH(int, asked);
        g_answerYes = answerYes;

        QTemporaryDir dir;
        const QString file = dir.filePath("app.sdl");
        QVERIFY(WriteFile(file, QByteArray(5000, 's')));
        TestPty pty;
        QVERIFY(pty.ok());
        const int heldByTest = DescriptorsOnDevice(pty.path());

        CLoaderDlg dlg;
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        dlg.AddPortPath(pty.path());
        ChooserStub::next = file;
        dlg.OnBrowse();
        if (downloading) {
            dlg.OnStart();
            QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Abort"));
            QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "Start Download Service"), 20000);
        }

        const QStringList parts = action.split(' ');
        QWidget* target = nullptr;
        if (parts.size() > 1) {
            const QString on = parts[1];
            target = on == "port" ? dlg.GetDlgItem(IDC_PORT)
                     : on == "log" ? static_cast<QWidget*>(dlg.m_log)
                     : on == "connect" ? dlg.GetDlgItem(IDC_CONNECT)
                                       : dlg.GetDlgItem(IDC_START);
            target->setFocus();
        }
        if (parts[0] == "esc")
            QTest::keyClick(target, Qt::Key_Escape);
        else if (parts[0] == "enter")
            QTest::keyClick(target, Qt::Key_Return);
        else
            dlg.close();

        QCOMPARE(g_asked, asked);
        QCOMPARE(dlg.isVisible(), stillOpen);
        QCOMPARE(int(g_bDownloading), int(stillDownloading));
        QCOMPARE(Text(dlg, IDC_START), stillDownloading ? QStringLiteral("Abort") : QStringLiteral("Start"));
        if (stillDownloading)
            QVERIFY(g_bEngineBusy.load());
        if (!stillOpen) {
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
            // Quitting waited for the worker and let go of port and file.
            QCOMPARE(int(g_bEngineBusy.load()), 0);
            QCOMPARE(DescriptorsOnDevice(pty.path()), heldByTest);
            QVERIFY(!FileOpenInProcess(file));
        }
        if (action == "enter port")
            QCOMPARE(qobject_cast<QComboBox*>(dlg.GetDlgItem(IDC_PORT))->currentText(), ShortName(pty.path()));
        if (action == "enter connect")
            QCOMPARE(int(g_bConnected), 1);
        if (action == "enter start")
            QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "[VUMO] User break off"), 20000);
    }
};

QTEST_MAIN(TestKeys)
#include "tst_keys.moc"
