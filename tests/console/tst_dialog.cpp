// SPDX-License-Identifier: MIT
// The main dialog without a box: start-up state, layout, the About box, the
// log's line format, colours and spacing, the notifications' order, the file
// chooser, the start failures that need no port, long paths, the enlarged
// window and the port list brought up to date as it drops down.
#include "console_test_support.h"

#include "app_icon_qt.h"
#include "console_globals.h"
#include "dialog_template.h"
#include "engine.h"
#include "loader_dlg.h"
#include "qt_backend.h"
#include "qt_controls.h"
#include "resource.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGlyphRun>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRawFont>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>

#include <atomic>
#include <thread>

namespace {

LogTime FixedClock()
{
    return LogTime{0, 1, 5};
}

// The console's own clock, as the program starts with it.
const LogClock kLocalClock = g_pfnLogClock;

}  // namespace

class TestDialog : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        ResetConsoleGlobals();
        g_pfnLogClock = kLocalClock;
        g_pfnListPorts = [] { return std::vector<std::string>(); };
    }

    void startUpState()
    {
        CLoaderDlg dlg;
        QDialog* w = QtWindow(dlg);
        w->show();
        QCOMPARE(w->windowTitle(), QStringLiteral("Marbrix"));
        QCOMPARE(Combo(dlg, IDC_PORT)->currentText(), QStringLiteral("COM2"));
        QCOMPARE(Combo(dlg, IDC_BAUD)->currentText(), QStringLiteral("115200"));
        QStringList ports, bauds;
        for (int i = 0; i < 4; ++i)
            ports << Combo(dlg, IDC_PORT)->itemText(i);
        for (int i = 0; i < Combo(dlg, IDC_BAUD)->count(); ++i)
            bauds << Combo(dlg, IDC_BAUD)->itemText(i);
        QCOMPARE(ports, QStringList({"COM1", "COM2", "COM3", "COM4"}));
        // The eight of the template keep their indexes; the faster rates follow.
        QCOMPARE(bauds, QStringList({"2400", "4800", "9600", "14400", "19200", "38400", "57600", "115200", "230400",
                                     "460800", "921600"}));
        QCOMPARE(Combo(dlg, IDC_BAUD)->currentIndex(), 7);
        // The first data exchange replaces the template's texts.
        QCOMPARE(Text(dlg, IDC_FILE), QString());
        QCOMPARE(Text(dlg, IDC_LINK), QString());
        QCOMPARE(Text(dlg, IDC_STATUS), QString());
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
        QCOMPARE(Text(dlg, IDC_CONNECT), QStringLiteral("Connect"));
        QCOMPARE(Text(dlg, IDC_BROWSE), QString::fromUtf8("…"));
        QCOMPARE(ProgressBar(dlg)->value(), 0);
        QCOMPARE(ProgressBar(dlg)->minimum(), 0);
        QCOMPARE(ProgressBar(dlg)->maximum(), 100);
        QVERIFY(LogEdit(dlg)->isReadOnly());
        QVERIFY(LogEdit(dlg)->toPlainText().isEmpty());
        QVERIFY(g_pEngine != nullptr);
        QVERIFY(g_pfnLogSink == ConsoleLogSink);
        QVERIFY(g_pfnProgressSink == ConsoleProgressSink);
        QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QList<QSize> sizes = w->windowIcon().availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)));
        QVERIFY(sizes.contains(QSize(16, 16)));
        QCOMPARE(MainFrameImage(32).size(), QSize(32, 32));
        QCOMPARE(MainFrameImage(16).size(), QSize(16, 16));
    }

    // Every control at its template rectangle in pixels, the client area
    // 320 x 227 units, and the tab order of the template.
    void layoutFollowsTemplate()
    {
        CLoaderDlg dlg;
        QDialog* w = QtWindow(dlg);
        w->show();
        const DlgBaseUnits u = BaseUnitsOf(w->font());
        QVERIFY(u.cx > 0 && u.cy > 0);
        QCOMPARE(QtBaseUnits(dlg).cx, u.cx);
        QCOMPARE(QtBaseUnits(dlg).cy, u.cy);
        QCOMPARE(w->size(), DlgToPixels(QRect(0, 0, 320, 227), u).size());
        const DlgTemplate& t = MainDialogTemplate();
        QCOMPARE(int(t.items.size()), 11);
        for (size_t i = 0; i < t.items.size(); ++i) {
            const DlgItemTemplate& it = t.items[i];
            QRect want = DlgToPixels(QRect(it.x, it.y, it.cx, it.cy), u);
            QRect got = QtControls(dlg)[i]->geometry();
            if (it.cls == DlgClass::ComboBox)
                want.setHeight(got.height());  // 49 units is the dropped list
            QCOMPARE(got, want);
        }
        QList<int> chain;
        QWidget* c = QtControl(dlg, IDC_PORT);
        for (int n = 0; n < 6; ++n) {
            chain << c->objectName().mid(3).toInt();
            do
                c = c->nextInFocusChain();
            while (c->focusPolicy() == Qt::NoFocus || !c->objectName().startsWith(QLatin1String("ctl")));
        }
        QCOMPARE(chain, QList<int>({IDC_PORT, IDC_BAUD, IDC_CONNECT, IDC_LOG, IDC_START, IDC_BROWSE}));
    }

    void dialogUnitConversion_data()
    {
        QTest::addColumn<int>("cx");
        QTest::addColumn<int>("cy");
        QTest::addColumn<QRect>("dlu");
        QTest::addColumn<QRect>("px");
        QTest::newRow("6x12 font") << 6 << 12 << QRect(221, 7, 92, 61) << QRect(332, 11, 138, 92);
        QTest::newRow("7x16 font") << 7 << 16 << QRect(7, 92, 306, 128) << QRect(12, 184, 536, 256);
        QTest::newRow("client") << 6 << 12 << QRect(0, 0, 320, 227) << QRect(0, 0, 480, 341);
    }
    void dialogUnitConversion()
    {
        QFETCH(int, cx);
        QFETCH(int, cy);
        QFETCH(QRect, dlu);
        QFETCH(QRect, px);
        QCOMPARE(DlgToPixels(dlu, DlgBaseUnits{cx, cy}), px);
    }

    // The About entry (window-menu command 0x0010..0x001F) opens the box;
    // its OK button closes it and the main dialog is as it was.
    void aboutBox_data()
    {
        QTest::addColumn<unsigned>("command");
        QTest::addColumn<bool>("opens");
        QTest::newRow("IDM_ABOUTBOX") << 0x0010u << true;
        QTest::newRow("low bits ignored") << 0x001Fu << true;
        QTest::newRow("other command") << 0xF060u << false;
    }
    void aboutBox()
    {
        QFETCH(unsigned, command);
        QFETCH(bool, opens);
        CLoaderDlg dlg;
        QDialog* w = QtWindow(dlg);
        w->show();
        QString caption, texts;
        bool hadIcon = false, seen = false;
        QTimer::singleShot(0, w, [&] {  // dropped with the dialog if no box came
            QWidget* box = QApplication::activeModalWidget();
            if (!box || box == w)
                return;
            seen = true;
            caption = box->windowTitle();
            for (QLabel* l : box->findChildren<QLabel*>()) {
                texts += l->text();
                hadIcon = hadIcon || !l->pixmap().isNull();
            }
            for (QPushButton* b : box->findChildren<QPushButton*>())
                if (b->text() == QString::fromUtf8("确定"))
                    b->click();
        });
        // Whatever happens, no modal box outlives the test.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [&] {
            if (QWidget* box = QApplication::activeModalWidget(); box && box != w)
                box->close();
        });
        guard.start(10000);
        dlg.OnSysCommand(command, 0);
        QCOMPARE(seen, opens);
        if (opens) {
            QCOMPARE(caption, QString::fromUtf8("关于 Marbrix"));
            QVERIFY(texts.contains(QString::fromUtf8("Marbrix 1.0 版")));
            QVERIFY(hadIcon);
        }
        QVERIFY(w->isVisible());
        QCOMPARE(Combo(dlg, IDC_PORT)->currentText(), QStringLiteral("COM2"));
        QCOMPARE(QString::fromUtf8(LoadResourceString(IDS_ABOUTBOX)), QString::fromUtf8("关于 Marbrix(&A)..."));
    }

    // The stamp, two blanks and the text as given; the colour by level.
    void logLineFormatAndColour_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("error") << "No download file!\r\n" << 1 << "00:01:05  No download file!" << QColor(255, 0, 0);
        QTest::newRow("notice") << "[VUMO] User break off\r\n"
                                << 2 << "00:01:05  [VUMO] User break off" << QColor(255, 128, 0);
        QTest::newRow("info") << "Start Download Service\r\n"
                              << 0 << "00:01:05  Start Download Service" << QColor(0, 123, 22);
        QTest::newRow("bare newline") << "Velto File Download!\n"
                                      << 0 << "00:01:05  Velto File Download!" << QColor(0, 123, 22);
        QTest::newRow("unknown level") << "x\n" << 9 << "00:01:05  x" << QColor(0, 123, 22);
    }
    void logLineFormatAndColour()
    {
        QFETCH(QString, text);
        QFETCH(int, level);
        QFETCH(QString, shown);
        QFETCH(QColor, colour);
        g_pfnLogClock = FixedClock;
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        dlg.AppendLog(FromQString(text), uint8_t(level));
        const auto lines = LogLines(dlg);
        QCOMPARE(int(lines.size()), 1);
        QCOMPARE(lines[0].text, shown);
        QCOMPARE(lines[0].color, colour);
        QCOMPARE(LogEdit(dlg)->toPlainText(), shown + "\n");
    }

    // A text without a break is followed on the same line by the next stamp;
    // each part keeps its own colour. The operator cannot type into the log,
    // but can select and copy; new lines still go to the end.
    void logWithoutLineBreak()
    {
        g_pfnLogClock = FixedClock;
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        QTextEdit* log = LogEdit(dlg);
        dlg.AppendLog("abc", 1);
        dlg.AppendLog("def\r\n", 2);
        log->setFocus();
        log->moveCursor(QTextCursor::Start);
        QTest::keyClicks(log, "typed ");
        QTest::keyClick(log, Qt::Key_Delete);
        QTest::keyClick(log, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(log, Qt::Key_End, Qt::ShiftModifier);  // selects the first line
        QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("00:01:05  abc00:01:05  def"));
        dlg.AppendLog("ghi\n", 0);
        const auto lines = LogLines(dlg);
        QCOMPARE(int(lines.size()), 2);
        QCOMPARE(lines[0].text, QStringLiteral("00:01:05  abc00:01:05  def"));
        QCOMPARE(lines[1].text, QStringLiteral("00:01:05  ghi"));
        QCOMPARE(lines[1].color, QColor(0, 123, 22));
        QTextCursor c(log->document());
        c.setPosition(QStringLiteral("00:01:05  abc00:01:05  d").size());
        QCOMPARE(c.charFormat().foreground().color(), QColor(255, 128, 0));
        c.setPosition(QStringLiteral("00:01:05  ab").size());
        QCOMPARE(c.charFormat().foreground().color(), QColor(255, 0, 0));
    }

    // Lines logged on another thread arrive whole, once each and in order;
    // a LOG_DONE line ends the download before it is shown, in red.
    void notificationsFromWorkerThread()
    {
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        g_bDownloading = 1;
        dlg.SetDlgItemText(IDC_START, "Abort");
        int downloadingWhenShown = -1;
        QTextEdit* log = LogEdit(dlg);
        connect(log, &QTextEdit::textChanged, [&] {
            if (downloadingWhenShown < 0 && log->toPlainText().contains("Velto file send OK!"))
                downloadingWhenShown = g_bDownloading;
        });
        std::thread worker([] {
            for (int i = 0; i < 300; ++i)
                ConsoleLogSink(QString::asprintf("line %03d\r\n", i).toLatin1().constData(), LOG_INFO);
            ConsoleProgressSink(42);
            ConsoleLogSink("Velto file send OK!\n", LOG_DONE);
            ConsoleProgressSink(0);
        });
        worker.join();
        QCOMPARE(ProgressBar(dlg)->value(), 0);  // nothing shown before the events run
        QCoreApplication::sendPostedEvents();
        const auto lines = LogLines(dlg);
        QCOMPARE(int(lines.size()), 301);
        for (int i = 0; i < 300; ++i)
            QVERIFY2(lines[size_t(i)].text.endsWith(QString::asprintf("  line %03d", i)),
                     qPrintable(lines[size_t(i)].text));
        QVERIFY(lines[300].text.endsWith("  Velto file send OK!"));
        QCOMPARE(lines[300].color, QColor(255, 0, 0));
        QCOMPARE(downloadingWhenShown, 0);
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
        QCOMPARE(ProgressBar(dlg)->value(), 0);
        QCOMPARE(int(dlg.OnEngineProgress(100, 0)), 0);
        QCOMPARE(ProgressBar(dlg)->value(), 100);
    }

    // The dialog goes while a worker still logs into it and its lines wait
    // in the mailbox: they go with it (the sink refuses once it is gone),
    // and the next dialog shows its own lines only. Under the sanitizers
    // this is also the dialog's end with messages still on their way.
    void pendingLinesGoWithTheDialog()
    {
        std::atomic<bool> stop{false};
        std::atomic<int> posted{0}, refused{0};
        std::thread worker;
        {
            CLoaderDlg first;
            QtWindow(first)->show();
            worker = std::thread([&] {
                for (int i = 0; !stop.load(); ++i) {
                    if (ConsoleLogSink(QString::asprintf("first %d\r\n", i).toLatin1().constData(), LOG_INFO))
                        ++posted;
                    else
                        ++refused;
                    ConsoleProgressSink(i % 100);
                }
            });
            while (posted.load() < 200)
                std::this_thread::yield();
        }
        // Until the worker has met the sink's refusal, or has gone on
        // posting to a dialog that is gone.
        const int postedWhenGone = posted.load();
        while (refused.load() == 0 && posted.load() < postedWhenGone + 200)
            std::this_thread::yield();
        stop = true;
        worker.join();
        QVERIFY(refused.load() > 0);
        QCOMPARE(ConsoleLogSink("late\r\n", LOG_INFO), 0);

        CLoaderDlg second;
        QtWindow(second)->show();
        std::thread([] {
            for (int i = 0; i < 3; ++i)
                ConsoleLogSink(QString::asprintf("second %d\r\n", i).toLatin1().constData(), LOG_INFO);
        }).join();
        QCoreApplication::sendPostedEvents();
        const auto lines = LogLines(second);
        QCOMPARE(int(lines.size()), 3);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(lines[size_t(i)].text.endsWith(QString::asprintf("  second %d", i)),
                     qPrintable(lines[size_t(i)].text));
        QCOMPARE(ProgressBar(second)->value(), 0);
    }

    // Image mode by the chosen file's extension; the file field shows the
    // path; the chooser is asked with the filter, suffix and name.
    void extensionChoosesMode_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("image");
        QTest::newRow("app.DAT") << "/tmp/app.DAT" << 1;
        QTest::newRow("app.dat") << "/tmp/app.dat" << 1;
        QTest::newRow("app.Dat") << "/tmp/app.Dat" << 1;
        QTest::newRow("app.data") << "/tmp/app.data" << 1;
        QTest::newRow("app.da") << "/tmp/app.da" << 0;
        QTest::newRow("app.sdl") << "/tmp/app.sdl" << 0;
        QTest::newRow("app.dnl") << "/tmp/app.dnl" << 0;
        QTest::newRow("app.vdl") << "/tmp/app.vdl" << 0;
        QTest::newRow("app.bin") << "/tmp/app.bin" << 0;
        QTest::newRow("no extension") << "/tmp/app" << 0;
        QTest::newRow("dot in folder only") << "/tmp/x.dat/app" << 0;
        QTest::newRow("last dot counts") << "/tmp/app.dat.sdl" << 0;
        QTest::newRow("trailing dot") << "/tmp/app." << 0;
    }
    void extensionChoosesMode()
    {
        QFETCH(QString, path);
        QFETCH(int, image);
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        g_bImageMode = image ? 0 : 1;  // the opposite, so the choice must set it
        ChooserStub::next = path;
        dlg.OnBrowse();
        QCOMPARE(int(g_bImageMode), image);
        QCOMPARE(ToQString(dlg.m_strFile), path);
        QCOMPARE(Text(dlg, IDC_FILE), path);
        QCOMPARE(ChooserStub::lastFilter,
                 QStringLiteral("SDL files(*.SDL)|*.SDL|dnl Files(*.dnl)|*.dnl|VDL Files(*.VDL)|*.VDL|dat "
                                "Files(*.dat)|*.dat|All files(*.*)|*.*||"));
        QCOMPARE(ChooserStub::lastExt, QStringLiteral("SDL"));
        QCOMPARE(ChooserStub::lastInitial, QStringLiteral("*.SDL"));
    }

    void cancelledChooserKeepsPathAndMode()
    {
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        ChooserStub::next = "/tmp/first.dat";
        dlg.OnBrowse();
        ChooserStub::cancel = true;
        ChooserStub::next = "/tmp/second.sdl";
        dlg.OnBrowse();
        QCOMPARE(ToQString(dlg.m_strFile), QStringLiteral("/tmp/first.dat"));
        QCOMPARE(Text(dlg, IDC_FILE), QStringLiteral("/tmp/first.dat"));
        QCOMPARE(int(g_bImageMode), 1);
    }

    // The window system's own file dialog, as the operator gets it: the five
    // filters by their labels and SDL as the default suffix; the file picked
    // there is the one shown, and a cancelled dialog changes nothing.
    void fileDialogOffersTheDownloadFilters()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("app.dat");
        QVERIFY(WriteFile(file, QByteArray(10, 'x')));
        g_pfnChooseFile = ChooseFileWithDialog;
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        QStringList filters;
        QString suffix;
        bool pick = true;
        auto answer = [&] {
            auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!fd)
                return;
            filters = fd->nameFilters();
            suffix = fd->defaultSuffix();
            if (pick) {
                fd->selectFile(file);
                static_cast<QDialog*>(fd)->accept();  // as its Open button
            } else {
                fd->reject();
            }
        };
        // Whatever happens, no modal box outlives the test.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [&] {
            if (QWidget* box = QApplication::activeModalWidget(); box && box != QtWindow(dlg))
                box->close();
        });

        // Picked, then cancelled: the same offer both times, and the cancel
        // keeps the file picked before.
        for (const bool picked : {true, false}) {
            pick = picked;
            filters.clear();
            guard.start(10000);
            QTimer::singleShot(0, QtWindow(dlg), answer);
            dlg.OnBrowse();
            QCOMPARE(filters, QStringList({"SDL files(*.SDL)", "dnl Files(*.dnl)", "VDL Files(*.VDL)",
                                           "dat Files(*.dat)", "All files(*.*)"}));
            QCOMPARE(suffix, QStringLiteral("SDL"));
            QCOMPARE(ToQString(dlg.m_strFile), file);
            QCOMPARE(Text(dlg, IDC_FILE), file);
            QCOMPARE(int(g_bImageMode), 1);
        }
    }

    // Start that cannot begin: one red line each (a port that does not open
    // also says why), the console stays Idle,
    // nothing stays open.
    void startFailures()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("app.sdl");
        QVERIFY(WriteFile(file, QByteArray(100, 'x')));
        g_pfnLogClock = FixedClock;
        CLoaderDlg dlg;
        QtWindow(dlg)->show();

        dlg.OnStart();
        QCOMPARE(LogEdit(dlg)->toPlainText(), QStringLiteral("00:01:05  No download file!\n"));
        QCOMPARE(FindLogLine(dlg, "No download file!").color, QColor(255, 0, 0));

        ChooserStub::next = dir.filePath("missing.sdl");
        dlg.OnBrowse();
        dlg.OnStart();
        QCOMPARE(FindLogLine(dlg, "Can't open the download file!").color, QColor(255, 0, 0));

        const QString missingPort = dir.filePath("no-such-port");
        dlg.AddPortPath(FromQString(missingPort));
        ChooserStub::next = file;
        dlg.OnBrowse();
        dlg.OnStart();
        const auto lines = LogLines(dlg);
        QCOMPARE(int(lines.size()), 5);
        QCOMPARE(lines[2].text, "00:01:05  " + missingPort + ":115200-8-1 Open failed!");
        QCOMPARE(lines[2].color, QColor(255, 0, 0));
        QCOMPARE(lines[3].text, "00:01:05  No such device: " + missingPort + ".");
        QCOMPARE(lines[3].color, QColor(255, 0, 0));
        QCOMPARE(lines[4].text, QStringLiteral("00:01:05  Can't open serial port!"));
        QCOMPARE(lines[4].color, QColor(255, 0, 0));
        QCOMPARE(Text(dlg, IDC_LINK), QStringLiteral("ERR"));
        QCOMPARE(Text(dlg, IDC_START), QStringLiteral("Start"));
        QCOMPARE(Text(dlg, IDC_STATUS), QString());
        QCOMPARE(int(g_bDownloading), 0);
        QVERIFY(!FileOpenInProcess(file));
        QVERIFY(g_pDownloadFile == nullptr);
    }
    // No glyph of a log line reaches out of that line's box, or the next
    // line's drawing wipes it (an underscore read as a blank): Latin with
    // underscores and descenders, Chinese, and both on one line.
    void logLinesKeepTheirInk()
    {
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        QCOMPARE(LogEdit(dlg)->font().pointSize(), 9);
        dlg.AppendLog("==>DATA_DL_START\r\n", 0);
        dlg.AppendLog("<== DATA_DL_START\r\n", 0);
        dlg.AppendLog("关于 Marbrix 串口 gjpqy_|\r\n", 1);
        dlg.AppendLog("[VUMO] User break off\r\n", 2);
        // Each line is one block here. A block is drawn again from its top
        // when it changes, so its ink must lie between its own top and the
        // top of the block after it.
        QTextDocument* doc = LogEdit(dlg)->document();
        int glyphs = 0;
        for (QTextBlock b = doc->begin(); b.isValid() && b.next().isValid(); b = b.next()) {
            QRectF box = doc->documentLayout()->blockBoundingRect(b);
            box.setBottom(doc->documentLayout()->blockBoundingRect(b.next()).top());
            QTextLayout* layout = b.layout();
            QVERIFY(layout->lineCount() <= 1);
            for (int i = 0; i < layout->lineCount(); ++i) {
                for (const QGlyphRun& run : layout->lineAt(i).glyphRuns()) {
                    const QRawFont font = run.rawFont();
                    const QList<quint32> indexes = run.glyphIndexes();
                    const QList<QPointF> positions = run.positions();
                    for (int g = 0; g < indexes.size(); ++g) {
                        const QRectF ink =
                            font.boundingRect(indexes[g]).translated(positions[g] + layout->position());
                        if (ink.isEmpty())
                            continue;
                        ++glyphs;
                        QVERIFY2(ink.top() >= box.top() - 0.01 && ink.bottom() <= box.bottom() + 0.01,
                                 qPrintable(QString("%1: glyph %2 of %3 at %4..%5, line %6..%7")
                                                .arg(b.text())
                                                .arg(g)
                                                .arg(font.familyName())
                                                .arg(ink.top())
                                                .arg(ink.bottom())
                                                .arg(box.top())
                                                .arg(box.bottom())));
                    }
                }
            }
        }
        QVERIFY(glyphs > 60);
    }

    // A long path loses its middle, never its file name, and is whole in the
    // tooltip and in what the dialog reads back; a short one shows as it is.
    void longPathsKeepTheFileName_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("path");
        const QString deep = "/home/operator/firmware/releases/2026-12/main-board/stb-main-board-v1.2.dat";
        QTest::newRow("file field, short") << IDC_FILE << QStringLiteral("/tmp/app.dat");
        QTest::newRow("file field, long") << IDC_FILE << deep;
        QTest::newRow("status line, long") << IDC_STATUS << QString("===>>  \"" + deep + "\"");
        QTest::newRow("file name longer than the field")
            << IDC_FILE << QString("/tmp/" + QString(120, QLatin1Char('n')) + ".dat");
    }
    void longPathsKeepTheFileName()
    {
        QFETCH(int, id);
        QFETCH(QString, path);
        CLoaderDlg dlg;
        QDialog* w = QtWindow(dlg);
        w->show();
        if (id == IDC_FILE)
            dlg.m_strFile = FromQString(path);
        else
            dlg.m_strStatus = FromQString(path);
        dlg.UpdateData(false);
        auto* label = qobject_cast<PathLabel*>(QtControl(dlg, id));
        QVERIFY(label);
        const QString shown = label->ShownText();
        const QString name = path.mid(path.lastIndexOf('/'));
        QVERIFY2(label->fontMetrics().horizontalAdvance(shown) <= label->contentsRect().width(), qPrintable(shown));
        if (label->fontMetrics().horizontalAdvance(path) <= label->contentsRect().width()) {
            QCOMPARE(shown, path);
        } else if (label->fontMetrics().horizontalAdvance(QString::fromUtf8("…") + name) <=
                   label->contentsRect().width()) {
            QVERIFY2(shown.endsWith(name), qPrintable(shown));
            QVERIFY2(shown.startsWith(path.left(4)), qPrintable(shown));
            QVERIFY(shown.contains(QString::fromUtf8("…")));
        } else {
            QVERIFY2(shown.startsWith(path.left(4)) && shown.endsWith(path.right(4)), qPrintable(shown));
        }
        QCOMPARE(label->toolTip(), path);
        dlg.UpdateData(true);
        QCOMPARE(ToQString(id == IDC_FILE ? dlg.m_strFile : dlg.m_strStatus), path);
        // Wider, more of it shows; still the file name at the end.
        w->resize(w->width() + 300, w->height());
        if (shown != path) {
            QVERIFY(label->ShownText().size() > shown.size());
            QVERIFY(label->ShownText().endsWith(path.right(4)));
        }
    }

    // The dialog opens at the template's size and can only grow: the log
    // takes the extra height, the full-width controls the extra width, and
    // Com Setup keeps to the right edge.
    void enlargedWindowLayout()
    {
        CLoaderDlg dlg;
        QDialog* w = QtWindow(dlg);
        w->show();
        const DlgBaseUnits u = BaseUnitsOf(w->font());
        const QSize base = DlgToPixels(QRect(0, 0, 320, 227), u).size();
        QCOMPARE(w->size(), base);
        QCOMPARE(w->minimumSize(), base);
        QVERIFY(w->maximumSize().width() > base.width() && w->maximumSize().height() > base.height());
        std::vector<QRect> before;
        for (QWidget* c : QtControls(dlg))
            before.push_back(c->geometry());

        const int dx = 240, dy = 180;
        w->resize(base + QSize(dx, dy));
        QCOMPARE(w->size(), base + QSize(dx, dy));
        auto now = [&](int id) { return QtControl(dlg, id)->geometry(); };
        auto was = [&](int id) {
            const auto& items = MainDialogTemplate().items;
            for (size_t i = 0; i < items.size(); ++i)
                if (items[i].id == id)
                    return before[i];
            return QRect();
        };
        QCOMPARE(now(IDC_LOG), was(IDC_LOG).adjusted(0, 0, dx, dy));
        for (int id : {IDC_FILE, IDC_START, IDC_PROGRESS, IDC_STATUS})
            QCOMPARE(now(id), was(id).adjusted(0, 0, dx, 0));
        for (int id : {IDC_BROWSE, IDC_PORT, IDC_BAUD, IDC_CONNECT, IDC_LINK})
            QCOMPARE(now(id), was(id).translated(dx, 0));
        QWidget* group = QtControls(dlg)[0];
        QCOMPARE(group->geometry(), before[0].translated(dx, 0));
        QCOMPARE(w->width() - group->geometry().right(), base.width() - before[0].right());

        // Never below the template: shrinking stops there, and every control
        // is back in its place.
        w->resize(base - QSize(100, 100));
        QCOMPARE(w->size(), base);
        for (size_t i = 0; i < before.size(); ++i)
            QCOMPARE(QtControls(dlg)[i]->geometry(), before[i]);
    }

    // The port list is read again each time it drops down: COM1..COM4 first,
    // then the ports found now, then added paths; the selection stays, and a
    // selected port that vanished stays listed until another is chosen.
    void portListRefreshKeepsSelection()
    {
        static std::vector<std::string> found;
        found = {"/dev/ttyUSB3"};
        g_pfnListPorts = [] { return found; };
        CLoaderDlg dlg;
        QtWindow(dlg)->show();
        QComboBox* port = Combo(dlg, IDC_PORT);
        auto items = [port] {
            QStringList l;
            for (int i = 0; i < port->count(); ++i)
                l << port->itemText(i);
            return l;
        };
        auto dropDown = [port] {
            port->showPopup();
            port->hidePopup();
        };
        QCOMPARE(items(), QStringList({"COM1", "COM2", "COM3", "COM4", "ttyUSB3"}));
        dlg.AddPortPath("/dev/pts/77");
        port->setCurrentIndex(4);  // ttyUSB3

        found = {"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyUSB3"};  // two plugged in
        dropDown();
        QCOMPARE(items(), QStringList({"COM1", "COM2", "COM3", "COM4", "ttyACM0", "ttyUSB1", "ttyUSB3", "pts/77"}));
        QCOMPARE(port->currentText(), QStringLiteral("ttyUSB3"));
        QCOMPARE(dlg.PortPathAt(port->currentIndex()), std::string("/dev/ttyUSB3"));

        found = {"/dev/ttyACM0", "/dev/ttyUSB1"};  // the selected one pulled
        dropDown();
        QCOMPARE(items(), QStringList({"COM1", "COM2", "COM3", "COM4", "ttyACM0", "ttyUSB1", "ttyUSB3", "pts/77"}));
        QCOMPARE(port->currentText(), QStringLiteral("ttyUSB3"));

        port->setCurrentIndex(5);  // the operator picks ttyUSB1
        dropDown();
        QCOMPARE(items(), QStringList({"COM1", "COM2", "COM3", "COM4", "ttyACM0", "ttyUSB1", "pts/77"}));
        QCOMPARE(port->currentText(), QStringLiteral("ttyUSB1"));
        dlg.UpdateData(true);
        QCOMPARE(dlg.PortPathAt(dlg.m_nPort), std::string("/dev/ttyUSB1"));

        found.clear();  // everything unplugged; the added pty stays
        port->setCurrentIndex(1);
        dropDown();
        QCOMPARE(items(), QStringList({"COM1", "COM2", "COM3", "COM4", "pts/77"}));
        QCOMPARE(port->currentText(), QStringLiteral("COM2"));

        // A port given by name (--port COM3) is the entry the list has for
        // its device, not a second one that opens nothing.
        QCOMPARE(dlg.AddPortPath("COM3"), 2);
        QCOMPARE(items(), QStringList({"COM1", "COM2", "COM3", "COM4", "pts/77"}));
        QCOMPARE(dlg.PortPathAt(port->currentIndex()), std::string("/dev/ttyS2"));
    }
};

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
