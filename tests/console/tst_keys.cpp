// SPDX-License-Identifier: MIT
// Escape, Enter, the close box and the About box (F1, the context menu),
// while idle and while a download runs (a served download listening on a
// pty), all as real key, mouse and window events on the dialog: no
// keystroke ends a running download, and the close box asks before it
// aborts one.
#include "console_test_support.h"

#include "console_globals.h"
#include "engine.h"
#include "loader_dlg.h"
#include "qt_backend.h"
#include "resource.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>

namespace {

int g_asked = 0;
CDialog* g_askedParent = nullptr;
bool g_answerYes = false;

bool Answer(CDialog* parent)
{
    ++g_asked;
    g_askedParent = parent;
    return g_answerYes;
}

// Opens the About box the way the operator does, through the window menu's
// entry: F1, or a right click on the dialog and the entry of its context
// menu. The box is dismissed with a key, Enter (its OK button has the focus)
// or Esc. Returns the box's caption, empty if no box came.
QString OpenAndDismissAboutBox(QDialog* main, const QString& how, Qt::Key dismiss, QWidget* focused)
{
    QString caption;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions())
                if (a->text() == QString::fromUtf8(LoadResourceString(IDS_ABOUTBOX))) {
                    menu->setActiveAction(a);
                    QTest::keyClick(menu, Qt::Key_Return);
                    return;
                }
            menu->close();
            return;
        }
        QWidget* box = QApplication::activeModalWidget();
        if (!box || box == main || !caption.isEmpty())
            return;
        caption = box->windowTitle();
        QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, dismiss);
    });
    // Whatever happens, no box outlives the test.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        if (QWidget* box = QApplication::activeModalWidget(); box && box != main)
            box->close();
    });
    poll.start();
    guard.start(10000);
    if (how == QLatin1String("f1"))
        QTest::keyClick(focused, Qt::Key_F1);
    else  // a right click on the dialog's face, off every control
        QTest::mouseClick(main->windowHandle(), Qt::RightButton, Qt::NoModifier, QPoint(2, 2));
    return caption;
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
        g_askedParent = nullptr;
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
        QTest::newRow("idle: close box") << false << "close box" << false << false << false << 0;
        QTest::newRow("idle: closed by the program") << false << "close widget" << false << false << false << 0;
        QTest::newRow("idle: Enter on the port list") << false << "enter port" << false << true << false << 0;
        QTest::newRow("idle: Enter in the log") << false << "enter log" << false << true << false << 0;
        QTest::newRow("idle: Enter on Connect presses it") << false << "enter connect" << false << true << false << 0;
        // The About box opens and closes over the dialog, which stays.
        QTest::newRow("idle: F1, About closed by Enter") << false << "about f1 enter" << false << true << false << 0;
        QTest::newRow("idle: context menu, About closed by Esc")
            << false << "about menu esc" << false << true << false << 0;
        // While a download runs.
        QTest::newRow("download: Esc") << true << "esc log" << false << true << true << 0;
        QTest::newRow("download: Enter in the log") << true << "enter log" << false << true << true << 0;
        QTest::newRow("download: Enter on Abort presses it") << true << "enter start" << false << true << false << 0;
        QTest::newRow("download: close box, No") << true << "close box" << false << true << true << 1;
        QTest::newRow("download: close box, Yes") << true << "close box" << true << false << false << 1;
        QTest::newRow("download: closed by the program, No") << true << "close widget" << false << true << true << 1;
        QTest::newRow("download: closed by the program, Yes")
            << true << "close widget" << true << false << false << 1;
        QTest::newRow("download: F1, About closed by Esc") << true << "about f1 esc" << false << true << true << 0;
        QTest::newRow("download: context menu, About closed by Enter")
            << true << "about menu enter" << false << true << true << 0;
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
        QDialog* w = QtWindow(dlg);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        dlg.AddPortPath(FromQString(pty.path()));
        ChooserStub::next = file;
        dlg.OnBrowse();
        if (downloading) {
            dlg.OnStart();
            QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Abort"));
            QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "Start Download Service"), 20000);
        }

        const QStringList parts = action.split(' ');
        QWidget* target = LogEdit(dlg);
        if (parts[0] == "esc" || parts[0] == "enter") {
            const QString on = parts[1];
            target = on == "port"      ? QtControl(dlg, IDC_PORT)
                     : on == "log"     ? LogEdit(dlg)
                     : on == "connect" ? QtControl(dlg, IDC_CONNECT)
                                       : QtControl(dlg, IDC_START);
        }
        target->setFocus();
        if (parts[0] == "esc") {
            QTest::keyClick(target, Qt::Key_Escape);
        } else if (parts[0] == "enter") {
            QTest::keyClick(target, Qt::Key_Return);
        } else if (action == "close box") {
            // As the window manager's close box: through the window system.
            QVERIFY(w->windowHandle());
            w->windowHandle()->close();
        } else if (action == "close widget") {
            w->close();
        } else {
            const QString caption =
                OpenAndDismissAboutBox(w, parts[1], parts[2] == "esc" ? Qt::Key_Escape : Qt::Key_Return, target);
            QCOMPARE(caption, QString::fromUtf8("关于 Marbrix"));
            QVERIFY(QApplication::activeModalWidget() == nullptr);
            QVERIFY(QApplication::activePopupWidget() == nullptr);
        }

        QCOMPARE(g_asked, asked);
        if (asked)
            QVERIFY(g_askedParent == &dlg);
        QCOMPARE(w->isVisible(), stillOpen);
        QCOMPARE(int(g_bDownloading), int(stillDownloading));
        QCOMPARE(Text(dlg, IDC_START), stillDownloading ? QStringLiteral("Abort") : QStringLiteral("Start"));
        if (stillDownloading)
            QVERIFY(g_bEngineBusy.load());
        if (!stillOpen) {
            // As a Windows dialog ends on Esc and on its close box.
            QCOMPARE(w->result(), IDCANCEL);
            // Quitting waited for the worker and let go of port and file.
            QCOMPARE(int(g_bEngineBusy.load()), 0);
            QCOMPARE(DescriptorsOnDevice(pty.path()), heldByTest);
            QVERIFY(!FileOpenInProcess(file));
        }
        if (action == "enter port")
            QCOMPARE(Combo(dlg, IDC_PORT)->currentText(), ShortName(pty.path()));
        if (action == "enter connect")
            QCOMPARE(int(g_bConnected), 1);
        if (action == "enter start")
            QTRY_VERIFY_WITH_TIMEOUT(LogHas(dlg, "[VUMO] User break off"), 20000);
    }
};

QTEST_MAIN(TestKeys)
#include "tst_keys.moc"
