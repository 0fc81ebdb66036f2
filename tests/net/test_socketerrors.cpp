#include "net/SocketErrors.h"

#include <QTest>

#include <cerrno>
#include <netdb.h>

class TestSocketErrors : public QObject
{
    Q_OBJECT

private slots:
    void report_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("refused") << WsaErrorFromErrno(ECONNREFUSED) << "10061 Connection refused";
        QTest::newRow("apostrophe") << WsaErrorFromErrno(EADDRNOTAVAIL) << "10049 Can't assign requested address";
        QTest::newRow("reset") << WsaErrorFromErrno(ECONNRESET) << "10054 Connection reset by peer";
        QTest::newRow("first") << 10004 << "10004 Interrupted system call";
        QTest::newRow("last of 100xx") << 10071 << "10071 Too many levels of remote in path";
        QTest::newRow("dll") << 10092 << "10092 WinSock DLL cannot support this application";
        QTest::newRow("host not found") << WsaErrorFromResolver(EAI_NONAME) << "11001 Host not found";
        QTest::newRow("resolver no data") << WsaErrorFromResolver(EAI_NODATA) << "11004 No Data";
        QTest::newRow("resolver system") << WsaErrorFromResolver(EAI_SYSTEM, ECONNREFUSED) << "10061 Connection refused";
        QTest::newRow("no counterpart kept") << WsaErrorFromErrno(EIO) << "5 Not a WinSock error";
        for (const int code : {0, -1, 10003, 10072, 10090, 10094, 11000, 11005})
            QTest::addRow("default %d", code) << code << QString::number(code) + " Not a WinSock error";
    }
    void report()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(FormatSocketError(code, "%1 f(x)"), "Error " + text.section(' ', 0, 0) + " in function %1 f(x)\r\n" + text.section(' ', 1));
    }
};

QTEST_GUILESS_MAIN(TestSocketErrors)
#include "test_socketerrors.moc"
