#include "net/SocketErrors.h"

#include <QTest>

#include <cerrno>
#include <netdb.h>

class TestSocketErrors : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void tableHasFiftyCodes();
    void format();
    void translate_data();
    void translate();
};

void TestSocketErrors::text_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("first") << 10004 << "Interrupted system call";
    QTest::newRow("apostrophe") << 10049 << "Can't assign requested address";
    QTest::newRow("in use") << 10048 << "Address already in use";
    QTest::newRow("refused") << 10061 << "Connection refused";
    QTest::newRow("last of 100xx") << 10071 << "Too many levels of remote in path";
    QTest::newRow("dll") << 10092 << "WinSock DLL cannot support this application";
    QTest::newRow("host not found") << 11001 << "Host not found";
    QTest::newRow("last") << 11004 << "No Data";
    for (const int code : {0, -1, -10061, 10003, 10072, 10090, 10094, 11000, 11005})
        QTest::addRow("default %d", code) << code << "Not a WinSock error";
}

void TestSocketErrors::text()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(SocketErrorText(code), text);
}

void TestSocketErrors::tableHasFiftyCodes()
{
    int codes = 0;
    for (int code = 9000; code <= 12000; ++code)
        codes += SocketErrorText(code) != QLatin1String("Not a WinSock error");
    QCOMPARE(codes, 50);
}

void TestSocketErrors::format()
{
    QCOMPARE(FormatSocketError(10061, "Connect(Connect)"), "Error 10061 in function Connect(Connect)\r\nConnection refused");
    QCOMPARE(FormatSocketError(-5, "%1 %2"), "Error -5 in function %1 %2\r\nNot a WinSock error");
}

void TestSocketErrors::translate_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("expected");
    QTest::newRow("refused") << WsaErrorFromErrno(ECONNREFUSED) << 10061;
    QTest::newRow("in use") << WsaErrorFromErrno(EADDRINUSE) << 10048;
    QTest::newRow("would block") << WsaErrorFromErrno(EAGAIN) << 10035;
    QTest::newRow("reset") << WsaErrorFromErrno(ECONNRESET) << 10054;
    QTest::newRow("no counterpart kept") << WsaErrorFromErrno(EIO) << int(EIO);
    QTest::newRow("host not found") << WsaErrorFromResolver(EAI_NONAME) << 11001;
    QTest::newRow("resolver no data") << WsaErrorFromResolver(EAI_NODATA) << 11004;
    QTest::newRow("resolver system") << WsaErrorFromResolver(EAI_SYSTEM, ECONNREFUSED) << 10061;
}

void TestSocketErrors::translate()
{
    QFETCH(int, code);
    QFETCH(int, expected);
    QCOMPARE(code, expected);
}

QTEST_GUILESS_MAIN(TestSocketErrors)
#include "test_socketerrors.moc"
