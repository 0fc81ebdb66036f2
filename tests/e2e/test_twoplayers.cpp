// Two real programs on a private X server, played by mouse and keyboard as two people would:
// one listens, the other connects over IPv6 (::1) through a relay that records the bytes, a
// game is won, the loser plays again, a chat line goes each way, and one side disconnects.

#include "e2e/RecordingRelay.h"
#include "e2e/VirtualDisplay.h"
#include "net/DataPacket.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr int kStepTimeoutMs = 20000;
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kRed = qRgb(255, 0, 0);

QList<TDataPacket> Decode(const QByteArray& bytes)
{
    TPacketDecoder decoder;
    decoder.Append(bytes);
    QList<TDataPacket> packets;
    while (std::optional<TDataPacket> packet = decoder.Next())
        packets.append(*packet);
    return packets;
}

QList<int> Kinds(const QByteArray& bytes)
{
    QList<int> kinds;
    for (const TDataPacket& packet : Decode(bytes))
        kinds.append(packet.Kind);
    return kinds;
}

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The board is the one pure-blue area of a window.
QRect FindBoard(const QImage& screen, const QRect& window)
{
    QRect board;
    for (int y = window.top(); y <= window.bottom() && y < screen.height(); ++y)
        for (int x = window.left(); x <= window.right() && x < screen.width(); ++x)
            if (screen.pixel(x, y) == kBlue)
                board |= QRect(x, y, 1, 1);
    return board;
}

int RoundHalfEven(int numerator, int denominator)
{
    const int quotient = numerator / denominator;
    const int twice = 2 * (numerator % denominator);
    if (twice > denominator || (twice == denominator && quotient % 2 == 1))
        return quotient + 1;
    return quotient;
}

QPoint CellCentre(const QRect& board, int column, int row)
{
    const int cellWidth = RoundHalfEven(board.width() - 5, 7);
    const int cellHeight = RoundHalfEven(board.height() - 5, 6);
    const int left = (column - 1) * cellWidth + 5;
    const int top = (6 - row) * cellHeight + 5;
    return board.topLeft() + QPoint(left + (cellWidth - 5) / 2, top + (cellHeight - 5) / 2);
}

struct TPlayer
{
    QString Name;
    std::unique_ptr<QProcess> Process;
    QString MainWindow;
    QRect Geometry;
    QRect Board;
};

}  // namespace

class TestTwoPlayers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void wholeGameByClicks();
    void gameAgainstComputer();

private:
    void StartPlayer(TPlayer& player, QPoint position);
    // A window showing exactly this title, as a window manager reads it.
    QString WaitForWindow(const QString& title, const TPlayer& player, const QString& except = {});
    void ConnectTo(TPlayer& player, quint16 port);
    void UseMenu(TPlayer& player, const QString& menuKey, const QString& itemKey);
    void Play(TPlayer& player, int column, int row);
    void LocateBoards();
    void CheckCell(const TPlayer& player, int column, int row, QRgb colour);
    void CheckDesktopIdentity(const QString& window);

    TVirtualDisplay Display;
    QString Program;
    TPlayer Alice{QStringLiteral("Alice"), {}, {}, {}, {}};
    TPlayer Bob{QStringLiteral("Bob"), {}, {}, {}, {}};
};

void TestTwoPlayers::initTestCase()
{
    QString missing;
    if (!TVirtualDisplay::ToolsAvailable(&missing))
        QSKIP(qPrintable(QStringLiteral("%1 is not installed; the end-to-end test needs it").arg(missing)));
    QString error;
    if (!Display.Start(&error))
        QSKIP(qPrintable(QStringLiteral("no X server could start here: %1").arg(error)));
    Program = QString::fromLocal8Bit(TESSARO_PROGRAM);
    QVERIFY2(QFile::exists(Program), qPrintable(Program));
}

void TestTwoPlayers::cleanupTestCase()
{
    for (TPlayer* player : {&Alice, &Bob}) {
        if (player->Process && player->Process->state() != QProcess::NotRunning) {
            player->Process->terminate();
            if (!player->Process->waitForFinished(5000))
                player->Process->kill();
        }
    }
}

QString TestTwoPlayers::WaitForWindow(const QString& title, const TPlayer& player, const QString& except)
{
    const QString pattern = QLatin1Char('^') + QString(title).replace(u'.', QStringLiteral("\\.")) + u'$';
    const QString shown = QStringLiteral(" = \"%1\"").arg(title);  // as xprop prints either property
    QDeadlineTimer deadline(kStepTimeoutMs);
    while (!deadline.hasExpired()) {
        for (const QString& window : Display.FindWindows(pattern, player.Process->processId()))
            if (window != except && Display.Property(window, QStringLiteral("_NET_WM_NAME")).endsWith(shown)
                && Display.Property(window, QStringLiteral("WM_NAME")).endsWith(shown))
                return window;
        QTest::qWait(100);
    }
    qWarning("no window titled %s appeared", qPrintable(title));
    return {};
}

void TestTwoPlayers::StartPlayer(TPlayer& player, QPoint position)
{
    player.Process = std::make_unique<QProcess>();
    player.Process->setProcessEnvironment(Display.Environment());
    player.Process->setProcessChannelMode(QProcess::ForwardedChannels);
    player.Process->start(Program, {});
    QVERIFY(player.Process->waitForStarted(10000));

    // The name prompt comes before the main window: select-all is done, typing replaces it.
    const QString prompt = WaitForWindow(QStringLiteral("Nom"), player);
    QVERIFY(!prompt.isEmpty());
    CheckDesktopIdentity(prompt);
    Display.Focus(prompt);
    Display.Type(player.Name);
    Display.Key(QStringLiteral("Return"));

    player.MainWindow = WaitForWindow(QStringLiteral("Tessaro"), player);

    QVERIFY(!player.MainWindow.isEmpty());
    CheckDesktopIdentity(player.MainWindow);
    Display.XDoTool({QStringLiteral("windowmove"), QStringLiteral("--sync"), player.MainWindow,
                     QString::number(position.x()), QString::number(position.y())});
    QTRY_COMPARE_WITH_TIMEOUT(Display.WindowGeometry(player.MainWindow).topLeft(), position, kStepTimeoutMs);
    player.Geometry = Display.WindowGeometry(player.MainWindow);
}

void TestTwoPlayers::UseMenu(TPlayer& player, const QString& menuKey, const QString& itemKey)
{
    Display.Focus(player.MainWindow);
    Display.Key(QStringLiteral("alt+%1").arg(menuKey));
    QTest::qWait(300);
    Display.Key(itemKey);
}

// "&Connecte..." shares its letter with "&Cessez d'écouter", so the letter only selects;
// it is the first item, which a menu opened from the keyboard already has selected.
void TestTwoPlayers::ConnectTo(TPlayer& player, quint16 port)
{
    UseMenu(player, QStringLiteral("c"), QStringLiteral("Return"));
    const QString connect = WaitForWindow(QStringLiteral("Connectez..."), player);
    QVERIFY(!connect.isEmpty());
    Display.Focus(connect);
    Display.Type(QStringLiteral("::1"));
    Display.Key(QStringLiteral("Tab"));
    Display.Type(QString::number(port));
    Display.Key(QStringLiteral("Return"));
}

void TestTwoPlayers::LocateBoards()
{
    const QImage screen = Display.Screenshot();
    QVERIFY(!screen.isNull());
    for (TPlayer* player : {&Alice, &Bob}) {
        player->Board = FindBoard(screen, player->Geometry);
        QVERIFY2(player->Board.width() > 100 && player->Board.height() > 100,
                 qPrintable(QStringLiteral("no board found for %1").arg(player->Name)));
    }
}

void TestTwoPlayers::Play(TPlayer& player, int column, int row)
{
    Display.Click(CellCentre(player.Board, column, row));
}

// Every window carries our icon and the class that names the desktop entry, tessaro.desktop.
void TestTwoPlayers::CheckDesktopIdentity(const QString& window)
{
    QCOMPARE(Display.Property(window, QStringLiteral("WM_CLASS")),
             QStringLiteral("WM_CLASS(STRING) = \"tessaro\", \"tessaro\""));
    QVERIFY(Display.Property(window, QStringLiteral("_NET_WM_ICON")).contains(QLatin1String("Icon (16 x 16)")));
}

void TestTwoPlayers::CheckCell(const TPlayer& player, int column, int row, QRgb colour)
{
    const QImage screen = Display.Screenshot();
    const QPoint centre = CellCentre(player.Board, column, row);
    QCOMPARE(QColor(screen.pixel(centre)).name(), QColor(colour).name());
}

void TestTwoPlayers::wholeGameByClicks()
{
    StartPlayer(Alice, QPoint(0, 0));
    QVERIFY(!QTest::currentTestFailed());
    StartPlayer(Bob, QPoint(585, 0));
    QVERIFY(!QTest::currentTestFailed());
    LocateBoards();
    QVERIFY(!QTest::currentTestFailed());

    // Alice listens; Bob connects through the relay.
    const quint16 port = FreePort();
    TRecordingRelay relay(port);
    UseMenu(Alice, QStringLiteral("c"), QStringLiteral("e"));
    const QString listen = WaitForWindow(QStringLiteral("Ecoutez"), Alice);
    QVERIFY(!listen.isEmpty());
    Display.Focus(listen);
    Display.Type(QString::number(port));
    Display.Key(QStringLiteral("Return"));
    QTest::qWait(500);

    // Bob first tries a port where nothing listens: the socket error box.
    ConnectTo(Bob, FreePort());
    const QString refused = WaitForWindow(QStringLiteral("Winsock Error"), Bob);
    QVERIFY(!refused.isEmpty());
    Display.Focus(refused);
    Display.Key(QStringLiteral("Return"));
    ConnectTo(Bob, relay.Port());

    // Names both ways; the connecting side opens the first game.
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromConnector), (QList<int>{pkName, pkNewGame}), kStepTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromListener), (QList<int>{pkName}), kStepTimeoutMs);
    QCOMPARE(Decode(relay.FromConnector).at(0).Text, Bob.Name);
    QCOMPARE(Decode(relay.FromListener).at(0).Text, Alice.Name);

    // Bob fills column 1, Alice column 2; Bob's fourth piece wins.
    int moves = 0;
    for (int row = 1; row <= 3; ++row) {
        Play(Bob, 1, row);
        QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromConnector).size(), 3 + moves / 2, kStepTimeoutMs);
        ++moves;
        Play(Alice, 2, row);
        QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromListener).size(), 1 + (moves + 1) / 2, kStepTimeoutMs);
        ++moves;
    }
    QTest::qWait(300);
    for (int row = 1; row <= 3; ++row) {
        CheckCell(Bob, 1, row, kYellow);
        CheckCell(Bob, 2, row, kRed);
        CheckCell(Alice, 1, row, kRed);
        CheckCell(Alice, 2, row, kYellow);
    }
    // TESSARO_SCREENSHOT=file.png keeps this picture of both windows mid-game (the README's).
    if (const QString path = qEnvironmentVariable("TESSARO_SCREENSHOT"); !path.isEmpty())
        Display.Screenshot().copy(Alice.Geometry.united(Bob.Geometry)).save(path);

    Play(Bob, 1, 4);
    QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromConnector).size(), 6, kStepTimeoutMs);
    QCOMPARE(Decode(relay.FromConnector).last().Column, 1);

    // The winner sees the win box, the loser the play-again dialog; the loser plays again.
    const QString won = WaitForWindow(QStringLiteral("Tessaro"), Bob, Bob.MainWindow);
    QVERIFY(!won.isEmpty());
    const QString again = WaitForWindow(QStringLiteral("Jouez encore une fois"), Alice);
    QVERIFY(!again.isEmpty());
    Display.Focus(again);
    Display.Key(QStringLiteral("Return"));
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromListener).last(), int(pkNewGame), kStepTimeoutMs);
    Display.Focus(won);
    Display.Key(QStringLiteral("Return"));
    QTRY_VERIFY_WITH_TIMEOUT(Display.FindWindows(QStringLiteral("^Tessaro$"), Bob.Process->processId()).size() == 1,
                             kStepTimeoutMs);

    // The loser moves first in the new game, on an emptied board.
    QTest::qWait(300);
    CheckCell(Alice, 1, 1, qRgb(255, 255, 255));
    Play(Alice, 4, 1);
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromListener).last(), int(pkMove), kStepTimeoutMs);
    QTest::qWait(300);
    CheckCell(Alice, 4, 1, kYellow);
    CheckCell(Bob, 4, 1, kRed);

    // Bob answers from the keyboard: Tab from the chat input to the board, then a column's digit.
    const QPoint bobInput(Bob.Geometry.right() - 80, Bob.Board.bottom() - 25);
    Display.Focus(Bob.MainWindow);
    Display.Click(bobInput);
    Display.Key(QStringLiteral("Tab 5"));
    QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromConnector).last().Column, 5, kStepTimeoutMs);
    QTest::qWait(300);
    CheckCell(Alice, 5, 1, kRed);

    // A chat line each way, typed into the input under the log and sent with Enter.
    const QPoint aliceInput(Alice.Geometry.right() - 80, Alice.Board.bottom() - 25);
    Display.Click(aliceInput);
    Display.Focus(Alice.MainWindow);
    Display.Click(aliceInput);
    Display.Type(QStringLiteral("bonjour"));
    Display.Key(QStringLiteral("Return"));
    QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromListener).last().Text, QStringLiteral("Alice: bonjour"), kStepTimeoutMs);

    UseMenu(Bob, QStringLiteral("c"), QStringLiteral("d"));
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromConnector).last(), int(pkBye), kStepTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(relay.ClosedByConnector(), kStepTimeoutMs);
    QTest::qWait(500);
    QCOMPARE(Alice.Process->state(), QProcess::Running);
    QCOMPARE(Bob.Process->state(), QProcess::Running);

}

// Alice, alone now, plays the computer from the Jeu menu until one side wins, then quits.
void TestTwoPlayers::gameAgainstComputer()
{
    if (!Alice.Process || Alice.Board.isEmpty())
        QSKIP("Alice's window did not come up");
    UseMenu(Alice, QStringLiteral("j"), QStringLiteral("c"));
    const QString dialog = WaitForWindow(QStringLiteral("Contre l'ordinateur"), Alice);
    QVERIFY(!dialog.isEmpty());
    Display.Focus(dialog);
    Display.Key(QStringLiteral("Return"));
    const auto childIds = [&] {
        QProcess pgrep;
        pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-P"), QString::number(Alice.Process->processId())});
        pgrep.waitForFinished();
        return QString::fromLatin1(pgrep.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    };
    QTRY_COMPARE_WITH_TIMEOUT(childIds().size(), 1, kStepTimeoutMs);
    const qint64 bot = childIds().first().toLongLong();

    // The lowest hole of the first column that has one, centre first; a press out of turn does nothing.
    QString end;
    for (int press = 0; press < 200 && end.isEmpty(); ++press) {
        const QImage screen = Display.Screenshot();
        const auto hole = [&](int column, int row) {
            return screen.pixel(CellCentre(Alice.Board, column, row)) == qRgb(255, 255, 255);
        };
        for (int column : {4, 3, 5, 2, 6, 1, 7}) {
            int row = 1;
            while (row <= 6 && !hole(column, row))
                ++row;
            if (row <= 6) {
                Play(Alice, column, row);
                break;
            }
        }
        QTest::qWait(500);
        QStringList boxes = Display.FindWindows(QStringLiteral("^(Tessaro|Jouez encore une fois)$"), Alice.Process->processId());
        boxes.removeAll(Alice.MainWindow);
        end = boxes.value(0);
    }
    QVERIFY2(!end.isEmpty(), "the game against the computer did not end");
    Display.Focus(end);
    Display.Key(QStringLiteral("Return"));
    UseMenu(Alice, QStringLiteral("j"), QStringLiteral("q"));
    QVERIFY(Alice.Process->waitForFinished(kStepTimeoutMs));
    QTRY_VERIFY_WITH_TIMEOUT(kill(pid_t(bot), 0) != 0, kStepTimeoutMs);
}

QTEST_GUILESS_MAIN(TestTwoPlayers)
#include "test_twoplayers.moc"
