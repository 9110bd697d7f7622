// SPDX-License-Identifier: MIT
// The log view and the engine's notifications: the two sinks the engine
// calls on its worker thread, and the handlers that show their lines and
// move the progress bar on the user-interface thread.
#include "console_globals.h"
#include "engine.h"
#include "engine_events.h"
#include "loader_dlg.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTime>

#include <cmath>

LogClock g_pfnLogClock = [] { return QTime::currentTime(); };

QColor LogLevelColor(uint8_t level)
{
    switch (level) {
    case 1:
        return QColor(255, 0, 0);
    case 2:
        return QColor(255, 128, 0);
    default:
        return QColor(0, 123, 22);
    }
}

// A LOG_DONE line first tells the dialog the download has ended, then
// arrives itself as an error line; each line travels with its own event.
// The engine marks the port lost before it logs that ending, so the verdict
// read here belongs to this line.
QFont LogFont(int pointSize)
{
    // Latin in a face made for the screen (the Song faces draw small Latin
    // letters thin and their underscores below the line), Chinese in the
    // Song-style faces; Qt takes each character from the first face that
    // has it.
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Consolas"),
                      QStringLiteral("Liberation Mono"), QStringLiteral("Courier New"),
                      QString::fromUtf8("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Source Han Serif SC")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(pointSize);
    return font;
}

// A line is as tall as the largest ascent plus the largest descent of the
// faces it uses; some faces draw glyphs beyond those (UMing's underscore and
// its Chinese characters hang below its descent), and what hangs out of a
// line is wiped when the line below it is drawn. Every log line carries a
// time stamp, so the Latin face's metrics always count.
qreal LogLinePadding(const QFont& font)
{
    static const QString probe = QString::fromUtf8("_gjpqy|()[]{}QÅ数据下载宋体串口");
    const QFontMetricsF latin(font);
    qreal below = 0, above = 0;
    QStringList faces = font.families();
    for (const QString& face : faces) {
        QFont f(font);
        f.setFamilies({face});
        const QFontMetricsF fm(f);
        for (const QChar c : probe) {
            if (!fm.inFont(c))
                continue;
            const QRectF ink = fm.boundingRect(c);
            below = qMax(below, ink.bottom() - latin.descent());
            above = qMax(above, -ink.top() - latin.ascent());
        }
    }
    // What reaches above a line is covered by the padding of the one before.
    return std::ceil(below + above) + 1;
}

void CLoaderDlg::SetUpLogView()
{
    // Read-only for the operator, who can still select and copy.
    m_log->setReadOnly(true);
    m_log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    const QFont font = LogFont(Template().pointSize);
    m_log->setFont(font);
    m_log->document()->setDefaultFont(font);
    QTextBlockFormat block;
    block.setLineHeight(LogLinePadding(font), QTextBlockFormat::LineDistanceHeight);
    QTextCursor(m_log->document()).setBlockFormat(block);
}

int ConsoleLogSink(const char* text, int level)
{
    uint8_t lvl = uint8_t(level & 0xFF);
    std::lock_guard<std::mutex> lock(g_mainWndLock);
    if (!g_hMainWnd)
        return 0;
    bool lost = false;
    if (lvl == LOG_DONE) {
        lost = g_bEngineLineLost.load() != 0;
        QCoreApplication::postEvent(g_hMainWnd, new EngineDoneEvent(lost));
        lvl = LOG_ERROR;
    }
    auto* e = new EngineLogEvent(QString::fromLocal8Bit(text), lvl);
    if (lost) {
        e->m_bPortLost = true;
        e->m_strLostReason = QString::fromLocal8Bit(EngineLineLostReason());
    }
    QCoreApplication::postEvent(g_hMainWnd, e);
    return 1;
}

void ConsoleProgressSink(int percent)
{
    std::lock_guard<std::mutex> lock(g_mainWndLock);
    if (g_hMainWnd)
        QCoreApplication::postEvent(g_hMainWnd, new EngineProgressEvent(percent));
}

LRESULT CLoaderDlg::OnEngineLog(const QString& text, uint8_t level)
{
    AppendLog(text, level);
    return 1;
}

LRESULT CLoaderDlg::OnEngineProgress(WPARAM wParam, LPARAM)
{
    const int previous = m_progress->value();
    m_progress->setValue(int(wParam));
    return previous;
}

void CLoaderDlg::AppendLog(QString text, uint8_t level)
{
    const QTime now = g_pfnLogClock();
    QString line = QString::asprintf("%02d:%02d:%02d  ", now.hour(), now.minute(), now.second()) + text;
    // The line keeps the break its text carries; "\r\n" (and a lone "\r")
    // is one line break in the view.
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    line.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    // Always at the end, whatever the operator typed or selected.
    QTextCursor cursor(m_log->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(LogLevelColor(level));
    cursor.insertText(line, format);

    m_log->setTextCursor(cursor);
    m_log->verticalScrollBar()->setValue(m_log->verticalScrollBar()->maximum());
}
