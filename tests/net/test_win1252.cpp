#include "net/Win1252.h"

#include <QTest>

class TestWin1252 : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsEveryByte();
    void mapsText_data();
    void mapsText();
};

void TestWin1252::roundTripsEveryByte()
{
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(static_cast<char>(byte));
    const QString text = FromWin1252(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(ToWin1252(text).toHex(' '), all.toHex(' '));
}

void TestWin1252::mapsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("euro") << QStringLiteral("€") << QByteArray("\x80");
    QTest::newRow("undefined 81") << QString(QChar(0x0081)) << QByteArray("\x81");
    QTest::newRow("oe") << QStringLiteral("œ") << QByteArray("\x9C");
    QTest::newRow("accents") << QStringLiteral("àéûÿ") << QByteArray("\xE0\xE9\xFB\xFF");
    // What Windows-1252 cannot hold goes out as '?', one per character.
    QTest::newRow("C1 control with a Windows-1252 letter") << QString(QChar(0x0080)) << QByteArray("?");
    QTest::newRow("Greek") << QStringLiteral("αβ") << QByteArray("??");
    QTest::newRow("CJK in a line") << QStringLiteral("Li: 你好.") << QByteArray("Li: ??.");
    QTest::newRow("emoji is one character") << QStringLiteral("a😀b") << QByteArray("a?b");
    QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + u'x' << QByteArray("?x");
}

void TestWin1252::mapsText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ToWin1252(text).toHex(' '), bytes.toHex(' '));
    if (!bytes.contains('?'))
        QCOMPARE(FromWin1252(bytes), text);
}

QTEST_GUILESS_MAIN(TestWin1252)
#include "test_win1252.moc"
