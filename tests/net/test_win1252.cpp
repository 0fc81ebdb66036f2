#include "net/Win1252.h"

#include <QTest>

class TestWin1252 : public QObject
{
    Q_OBJECT

private slots:
    void roundTripsEveryByte();
    void mapsCharacter_data();
    void mapsCharacter();
    void sendsQuestionMarkForUnmappable_data();
    void sendsQuestionMarkForUnmappable();
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

void TestWin1252::mapsCharacter_data()
{
    QTest::addColumn<char16_t>("character");
    QTest::addColumn<uchar>("byte");
    QTest::newRow("euro") << char16_t(u'€') << uchar(0x80);
    QTest::newRow("undefined 81") << char16_t(0x0081) << uchar(0x81);
    QTest::newRow("oe") << char16_t(u'œ') << uchar(0x9C);
    QTest::newRow("a grave") << char16_t(u'à') << uchar(0xE0);
    QTest::newRow("e acute") << char16_t(u'é') << uchar(0xE9);
    QTest::newRow("u circumflex") << char16_t(u'û') << uchar(0xFB);
    QTest::newRow("y diaeresis") << char16_t(u'ÿ') << uchar(0xFF);
}

void TestWin1252::mapsCharacter()
{
    QFETCH(char16_t, character);
    QFETCH(uchar, byte);
    const QString text(QChar{character});
    const QByteArray bytes(1, static_cast<char>(byte));
    QCOMPARE(ToWin1252(text).toHex(), bytes.toHex());
    QCOMPARE(FromWin1252(bytes), text);
}

void TestWin1252::sendsQuestionMarkForUnmappable_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("C1 control with a Windows-1252 letter") << QString(QChar(0x0080)) << QByteArray("?");
    QTest::newRow("Greek") << QStringLiteral("αβ") << QByteArray("??");
    QTest::newRow("CJK in a line") << QStringLiteral("Li: 你好.") << QByteArray("Li: ??.");
    QTest::newRow("emoji is one character") << QStringLiteral("a😀b") << QByteArray("a?b");
    QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + u'x' << QByteArray("?x");
}

void TestWin1252::sendsQuestionMarkForUnmappable()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ToWin1252(text).toHex(' '), bytes.toHex(' '));
}

QTEST_GUILESS_MAIN(TestWin1252)
#include "test_win1252.moc"
