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
    void tableHasFiftyRows();
    void format_data();
    void format();
    void fromErrno_data();
    void fromErrno();
    void fromResolver_data();
    void fromResolver();
};

void TestSocketErrors::text_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    const struct
    {
        int Code;
        const char* Text;
    } rows[] = {
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission denied"},
        {10014, "Bad address"},
        {10022, "Invalid argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on non-socket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Can't assign requested address"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection on reset"},
        {10053, "Software caused connection abort"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disc quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network sub-system is unusable"},
        {10092, "WinSock DLL cannot support this application"},
        {10093, "WinSock not initialized"},
        {11001, "Host not found"},
        {11002, "Non-authoritative host not found"},
        {11003, "Non-recoverable error"},
        {11004, "No Data"},
    };
    for (const auto& row : rows)
        QTest::addRow("%d", row.Code) << row.Code << QString::fromLatin1(row.Text);

    const QString none = QStringLiteral("Not a WinSock error");
    for (const int code : {0, 1, -1, -10061, 10000, 10003, 10005, 10072, 10090, 10094, 11000, 11005, 20061, 0x7fffffff})
        QTest::addRow("default %d", code) << code << none;
}

void TestSocketErrors::text()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(SocketErrorText(code), text);
}

void TestSocketErrors::tableHasFiftyRows()
{
    int rows = 0;
    for (int code = 9000; code <= 12000; ++code)
        rows += SocketErrorText(code) != QLatin1String("Not a WinSock error");
    QCOMPARE(rows, 50);
}

void TestSocketErrors::format_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("message");

    QTest::newRow("refused") << 10061 << "Connect(Connect)"
                             << "Error 10061 in function Connect(Connect)\r\nConnection refused";
    QTest::newRow("zero") << 0 << "Listen(Bind)" << "Error 0 in function Listen(Bind)\r\nNot a WinSock error";
    QTest::newRow("label kept as given") << 10022 << "Liten(WSAASyncSelect)"
                                         << "Error 10022 in function Liten(WSAASyncSelect)\r\nInvalid argument";
    QTest::newRow("negative") << -5 << "Disconnect (closesocket)"
                              << "Error -5 in function Disconnect (closesocket)\r\nNot a WinSock error";
    QTest::newRow("placeholders in the label stay") << 10048 << "%1 %2"
                                                    << "Error 10048 in function %1 %2\r\nAddress already in use";
}

void TestSocketErrors::format()
{
    QFETCH(int, code);
    QFETCH(QString, label);
    QFETCH(QString, message);
    QCOMPARE(FormatSocketError(code, label), message);
}

void TestSocketErrors::fromErrno_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("code");

    QTest::newRow("ECONNREFUSED") << ECONNREFUSED << 10061;
    QTest::newRow("EADDRINUSE") << EADDRINUSE << 10048;
    QTest::newRow("EAGAIN") << EAGAIN << 10035;
    QTest::newRow("EINPROGRESS") << EINPROGRESS << 10036;
    QTest::newRow("ECONNRESET") << ECONNRESET << 10054;
    QTest::newRow("ETIMEDOUT") << ETIMEDOUT << 10060;
    QTest::newRow("ENETUNREACH") << ENETUNREACH << 10051;
    QTest::newRow("EHOSTUNREACH") << EHOSTUNREACH << 10065;
    QTest::newRow("EADDRNOTAVAIL") << EADDRNOTAVAIL << 10049;
    QTest::newRow("EACCES") << EACCES << 10013;
    QTest::newRow("EPERM") << EPERM << 10013;
    QTest::newRow("EMFILE") << EMFILE << 10024;
    QTest::newRow("ENFILE") << ENFILE << 10024;
    QTest::newRow("ENOTSOCK") << ENOTSOCK << 10038;
    QTest::newRow("ENOTCONN") << ENOTCONN << 10057;
    QTest::newRow("EPIPE") << EPIPE << 10058;
    QTest::newRow("EAFNOSUPPORT") << EAFNOSUPPORT << 10047;
    QTest::newRow("ENOBUFS") << ENOBUFS << 10055;
    // No counterpart: the system's number is shown as it is, with the default text.
    QTest::newRow("EIO") << EIO << EIO;
    QTest::newRow("ENOENT") << ENOENT << ENOENT;
}

void TestSocketErrors::fromErrno()
{
    QFETCH(int, err);
    QFETCH(int, code);
    QCOMPARE(WsaErrorFromErrno(err), code);
}

void TestSocketErrors::fromResolver_data()
{
    QTest::addColumn<int>("gaiError");
    QTest::addColumn<int>("err");
    QTest::addColumn<int>("code");

    QTest::newRow("no name") << int(EAI_NONAME) << 0 << 11001;
    QTest::newRow("again") << int(EAI_AGAIN) << 0 << 11002;
    QTest::newRow("fail") << int(EAI_FAIL) << 0 << 11003;
    QTest::newRow("no data") << int(EAI_NODATA) << 0 << 11004;
    QTest::newRow("memory") << int(EAI_MEMORY) << 0 << 10055;
    QTest::newRow("system") << int(EAI_SYSTEM) << int(ECONNREFUSED) << 10061;
    QTest::newRow("success") << 0 << 0 << 0;
}

void TestSocketErrors::fromResolver()
{
    QFETCH(int, gaiError);
    QFETCH(int, err);
    QFETCH(int, code);
    QCOMPARE(WsaErrorFromResolver(gaiError, err), code);
    QVERIFY(code == 0 || SocketErrorText(code) != QLatin1String("Not a WinSock error"));
}

QTEST_GUILESS_MAIN(TestSocketErrors)
#include "test_socketerrors.moc"
