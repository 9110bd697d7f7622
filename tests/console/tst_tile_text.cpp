// SPDX-License-Identifier: MIT
// Fitting a tile's text to its width (the Win32 tiles' own cutting, GDI
// having none but at the end), measured here in a made-up face: narrow
// letters take 3 pixels, every other character 7. Each case checks what the
// operator relies on: the result fits, nothing that would also fit was cut
// away, and the part that tells adapters apart (the end) survives.
#include "tile_text_fit.h"

#include <QTest>

#include <string>
#include <vector>

namespace {

int Measure(const std::wstring& s)
{
    int w = 0;
    for (wchar_t c : s)
        w += std::wstring(L"il.:1 ").find(c) != std::wstring::npos ? 3 : 7;
    return w;
}

QString Q(const std::wstring& s)
{
    return QString::fromStdWString(s);
}

}  // namespace

class TestTileText : public QObject {
    Q_OBJECT
private slots:
    void elideMiddle_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fits") << "COM7" << 100 << "COM7";
        QTest::newRow("exactly fits") << "COM7" << Measure(L"COM7") << "COM7";
        // 130 pixels of text in 120: the serial at the end stays whole.
        QTest::newRow("identity keeps its serial") << "usb:0403:6001:A10K3B01" << 120 << "usb:0403:...1:A10K3B01";
        // Five kept characters (AB...DEF) would take 44 pixels.
        QTest::newRow("one pixel short") << "ABCDEF" << Measure(L"ABCDEF") - 1 << "AB...EF";
        QTest::newRow("room for the dots only") << "ABCDEF" << Measure(L"...") << "...";
    }
    void elideMiddle()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, expected);
        const std::wstring got = ElideMiddle(text.toStdWString(), width, Measure);
        QCOMPARE(Q(got), expected);
        QVERIFY(Measure(got) <= width || got == kTileEllipsis);
    }

    // Whatever the width, the cut keeps the most characters that fit, and
    // the end never has fewer than the start.
    void elideMiddleKeepsAllThatFits()
    {
        const std::wstring text = L"usb:0403:6001:A10K3B01";
        for (int width = Measure(L"..."); width < Measure(text); ++width) {
            const std::wstring got = ElideMiddle(text, width, Measure);
            QVERIFY2(Measure(got) <= width, qPrintable(Q(got)));
            const size_t dots = got.find(kTileEllipsis);
            QVERIFY(dots != std::wstring::npos);
            const size_t head = dots, tail = got.size() - dots - 3;
            QVERIFY(tail == head || tail == head + 1);
            QCOMPARE(Q(got.substr(0, head)), Q(text.substr(0, head)));
            QCOMPARE(Q(got.substr(dots + 3)), Q(text.substr(text.size() - tail)));
            // One more character kept would not fit.
            const size_t keep = head + tail + 1;
            const std::wstring more =
                text.substr(0, keep / 2) + kTileEllipsis + text.substr(text.size() - (keep - keep / 2));
            QVERIFY2(Measure(more) > width, qPrintable(Q(more)));
        }
    }

    void wrapTwoRows_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QStringList>("rows");
        const QString reason = "line lost during the transfer";
        QTest::newRow("fits in one") << reason << Measure(reason.toStdWString()) << QStringList{reason};
        QTest::newRow("the longest first row that fits")
            << reason << Measure(L"line lost during the") << QStringList{"line lost during the", "transfer"};
        QTest::newRow("one pixel less moves a word down")
            << reason << Measure(L"line lost during the") - 1 << QStringList{"line lost during", "the transfer"};
        QTest::newRow("second row too long is the caller's to cut")
            << reason << Measure(L"line lost") << QStringList{"line lost", "during the transfer"};
        QTest::newRow("no space to split at")
            << "/dev/serial/by-id/usb-FTDI" << 40 << QStringList{"/dev/serial/by-id/usb-FTDI"};
        QTest::newRow("first word alone too wide")
            << "Transmission stopped" << 20 << QStringList{"Transmission stopped"};
        QTest::newRow("runs of spaces are not drawn")
            << "port  lost:   waiting" << Measure(L"port  lost:") << QStringList{"port  lost:", "waiting"};
        QTest::newRow("leading space is no split") << " waiting" << 10 << QStringList{" waiting"};
    }
    void wrapTwoRows()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QStringList, rows);
        QStringList got;
        for (const std::wstring& row : WrapTwoRows(text.toStdWString(), width, Measure))
            got << Q(row);
        QCOMPARE(got, rows);
    }
};

QTEST_MAIN(TestTileText)
#include "tst_tile_text.moc"
