// Two real programs on a private X server, played by mouse and keyboard as two people would:
// one listens, the other connects over IPv6 (::1) through a relay that records the bytes, a
// game is won, the loser plays again, a chat line is sent, and one side disconnects.

#include "e2e/RecordingRelay.h"
#include "e2e/VirtualDisplay.h"
#include "net/DataPacket.h"

#include <QDeadlineTimer>
#include <QTest>

#include <csignal>

namespace {

constexpr int kStep = 20000;
const QRgb kYellow = qRgb(255, 255, 0), kRed = qRgb(255, 0, 0), kWhite = qRgb(255, 255, 255);

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

struct TPlayer
{
    explicit TPlayer(const char* name) : Name(QString::fromLatin1(name)) {}

    QString Name;
    QProcess Process;
    QString MainWindow;
    QRect Geometry, Board;

    // Cells split the board's blue area (a 5-pixel frame and gaps) in sevenths and sixths.
    QPoint Cell(int column, int row) const
    {
        const int w = qRound((Board.width() - 5) / 7.0), h = qRound((Board.height() - 5) / 6.0);
        return Board.topLeft() + QPoint((column - 1) * w + 5 + (w - 5) / 2, (6 - row) * h + 5 + (h - 5) / 2);
    }
};

}  // namespace

class TestTwoPlayers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wholeGameByClicks();
    void gameAgainstComputer();

private:
    QString WaitForWindow(const QString& title, const TPlayer& player, const QString& except = {});
    bool Answer(const QString& title, const TPlayer& player, const QString& text, const QString& keys = "Return");
    bool StartPlayer(TPlayer& player, QPoint position);
    bool LocateBoards();
    void UseMenu(const TPlayer& player, const QString& keys);
    void CheckCells(const TPlayer& player, const QList<std::tuple<int, int, QRgb>>& cells);

    TVirtualDisplay Display;
    TPlayer Alice{"Alice"}, Bob{"Bob"};
};

void TestTwoPlayers::initTestCase()
{
    QString error;
    if (!Display.Start(&error))
        QSKIP(qPrintable("the end-to-end test needs an X server: " + error));
}

// A window showing exactly this title as a window manager reads it, carrying our icon and the
// class that names the desktop entry, tessaro.desktop.
QString TestTwoPlayers::WaitForWindow(const QString& title, const TPlayer& player, const QString& except)
{
    const QString shown = QStringLiteral(" = \"%1\"").arg(title);  // as xprop prints either property
    for (QDeadlineTimer deadline(kStep); !deadline.hasExpired(); QTest::qWait(100))
        for (const QString& w : Display.FindWindows('^' + QString(title).replace(".", "\\.") + '$', player.Process.processId()))
            if (w != except && Display.Property(w, "_NET_WM_NAME").endsWith(shown) && Display.Property(w, "WM_NAME").endsWith(shown)
                && Display.Property(w, "WM_CLASS") == "WM_CLASS(STRING) = \"tessaro\", \"tessaro\""
                && Display.Property(w, "_NET_WM_ICON").contains("Icon (16 x 16)"))
                return w;
    qWarning("no window titled %s with our class and icon appeared", qPrintable(title));
    return {};
}

bool TestTwoPlayers::Answer(const QString& title, const TPlayer& player, const QString& text, const QString& keys)
{
    const QString window = WaitForWindow(title, player);
    if (window.isEmpty())
        return false;
    Display.Focus(window);
    if (!text.isEmpty())
        Display.Type(text);
    Display.Key(keys);
    return true;
}

// The name prompt comes before the main window: select-all is done, typing replaces it.
bool TestTwoPlayers::StartPlayer(TPlayer& player, QPoint position)
{
    player.Process.setProcessEnvironment(Display.Environment());
    player.Process.setProcessChannelMode(QProcess::ForwardedChannels);
    player.Process.start(QString::fromLocal8Bit(TESSARO_PROGRAM), {});
    if (!player.Process.waitForStarted(10000) || !Answer("Nom", player, player.Name))
        return false;
    player.MainWindow = WaitForWindow("Tessaro", player);
    Display.XDoTool({"windowmove", "--sync", player.MainWindow, QString::number(position.x()), QString::number(position.y())});
    if (!QTest::qWaitFor([&] { return Display.WindowGeometry(player.MainWindow).topLeft() == position; }, kStep))
        return false;
    player.Geometry = Display.WindowGeometry(player.MainWindow);
    return true;
}

// The board is the one pure-blue area of a window, once both windows are drawn where they stand.
bool TestTwoPlayers::LocateBoards()
{
    QTest::qWait(500);
    const QImage screen = Display.Screenshot();
    for (TPlayer* player : {&Alice, &Bob})
        for (int y = player->Geometry.top(); y <= player->Geometry.bottom(); ++y)
            for (int x = player->Geometry.left(); x <= player->Geometry.right(); ++x)
                if (screen.valid(x, y) && screen.pixel(x, y) == qRgb(0, 0, 255))
                    player->Board |= QRect(x, y, 1, 1);
    return Alice.Board.width() > 100 && Bob.Board.height() > 100;
}

void TestTwoPlayers::UseMenu(const TPlayer& player, const QString& keys)
{
    Display.Focus(player.MainWindow);
    Display.Key("alt+" + keys.section(u' ', 0, 0));
    QTest::qWait(300);
    Display.Key(keys.section(u' ', 1));
}

void TestTwoPlayers::CheckCells(const TPlayer& player, const QList<std::tuple<int, int, QRgb>>& cells)
{
    QTest::qWait(300);
    const QImage screen = Display.Screenshot();
    for (const auto& [column, row, colour] : cells)
        QCOMPARE(QColor(screen.pixel(player.Cell(column, row))).name(), QColor(colour).name());
}

void TestTwoPlayers::wholeGameByClicks()
{
    QVERIFY(StartPlayer(Alice, QPoint(0, 0)));
    QVERIFY(StartPlayer(Bob, QPoint(585, 0)));
    QVERIFY(LocateBoards());

    // Alice listens; Bob first tries a port where nothing listens (the socket error box), then
    // connects through the relay. "&Connectez..." shares its letter with "&Cessez d'écouter", so
    // the letter only selects; it is the first item, already selected in a menu opened by keys.
    const quint16 port = FreePort();
    TRecordingRelay relay(port);
    UseMenu(Alice, "c e");
    QVERIFY(Answer("Ecoutez", Alice, QString::number(port)));
    QTest::qWait(500);
    for (const quint16 target : {FreePort(), relay.Port()}) {
        UseMenu(Bob, "c Return");
        QVERIFY(Answer("Connectez...", Bob, "::1", "Tab"));
        Display.Type(QString::number(target));
        Display.Key("Return");
        if (target != relay.Port())
            QVERIFY(Answer("Winsock Error", Bob, {}));
    }

    // Names both ways; the connecting side opens the first game.
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromConnector), (QList<int>{pkName, pkNewGame}), kStep);
    QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromListener).value(0).Text, Alice.Name, kStep);
    QCOMPARE(Decode(relay.FromConnector).at(0).Text, Bob.Name);

    // Bob fills column 1, Alice column 2; Bob's fourth piece wins, sent as these very bytes.
    for (int row = 1; row <= 3; ++row) {
        Display.Click(Bob.Cell(1, row));
        QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromConnector).size(), 2 + row, kStep);
        Display.Click(Alice.Cell(2, row));
        QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromListener).size(), 1 + row, kStep);
    }
    for (int row = 1; row <= 3; ++row) {
        CheckCells(Bob, {{1, row, kYellow}, {2, row, kRed}});
        CheckCells(Alice, {{1, row, kRed}, {2, row, kYellow}});
    }
    // TESSARO_SCREENSHOT=file.png keeps this picture of both windows mid-game (the README's).
    if (const QString path = qEnvironmentVariable("TESSARO_SCREENSHOT"); !path.isEmpty())
        Display.Screenshot().copy(Alice.Geometry.united(Bob.Geometry)).save(path);
    Display.Click(Bob.Cell(1, 4));
    QTRY_VERIFY_WITH_TIMEOUT(relay.FromConnector.endsWith(QByteArray::fromHex(
        "01 06 08 54 53 52 4F 31 30 30 30 02 00 02 00 02 00 06 00 02 01 00")), kStep);

    // The winner sees the win box, the loser the play-again dialog; the loser plays again.
    const QString won = WaitForWindow("Tessaro", Bob, Bob.MainWindow);
    QVERIFY(!won.isEmpty());
    QVERIFY(Answer("Jouez encore une fois", Alice, {}));
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromListener).last(), int(pkNewGame), kStep);
    Display.Focus(won);
    Display.Key("Return");
    QTRY_COMPARE_WITH_TIMEOUT(Display.FindWindows("^Tessaro$", Bob.Process.processId()).size(), 1, kStep);

    // The loser moves first in the new game, on an emptied board.
    CheckCells(Alice, {{1, 1, kWhite}});
    Display.Click(Alice.Cell(4, 1));
    QTRY_COMPARE_WITH_TIMEOUT(Kinds(relay.FromListener).last(), int(pkMove), kStep);
    CheckCells(Alice, {{4, 1, kYellow}});
    CheckCells(Bob, {{4, 1, kRed}});

    // Bob answers from the keyboard: Tab from the chat input to the board, then a column's digit.
    Display.Focus(Bob.MainWindow);
    Display.Click(QPoint(Bob.Geometry.right() - 80, Bob.Board.bottom() - 25));
    Display.Key("Tab 5");
    QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromConnector).last().Column, 5, kStep);
    CheckCells(Alice, {{5, 1, kRed}});

    // A chat line typed into the input under the log and sent with Enter.
    const QPoint aliceInput(Alice.Geometry.right() - 80, Alice.Board.bottom() - 25);
    Display.Click(aliceInput);
    Display.Focus(Alice.MainWindow);
    Display.Click(aliceInput);
    Display.Type("bonjour");
    Display.Key("Return");
    QTRY_COMPARE_WITH_TIMEOUT(Decode(relay.FromListener).last().Text, QStringLiteral("Alice: bonjour"), kStep);

    // Disconnect says goodbye, then closes; both programs stay up.
    UseMenu(Bob, "c d");
    QTRY_VERIFY_WITH_TIMEOUT(relay.ConnectorClosed, kStep);
    QCOMPARE(Kinds(relay.FromConnector).last(), int(pkBye));
    QTest::qWait(500);
    QCOMPARE(Alice.Process.state(), QProcess::Running);
    QCOMPARE(Bob.Process.state(), QProcess::Running);
}

// Alice, alone now, plays the computer from the Jeu menu until one side wins, then quits.
void TestTwoPlayers::gameAgainstComputer()
{
    if (Alice.Board.isEmpty())
        QSKIP("Alice's window did not come up");
    UseMenu(Alice, "j c");
    QVERIFY(Answer("Contre l'ordinateur", Alice, {}));
    QProcess pgrep;
    QTRY_VERIFY_WITH_TIMEOUT((pgrep.start("pgrep", {"-P", QString::number(Alice.Process.processId())}),
                              pgrep.waitForFinished(), pgrep.exitCode() == 0), kStep);
    const pid_t bot = pid_t(pgrep.readAllStandardOutput().trimmed().toLongLong());

    // The lowest hole of the first column that has one, centre first; a press out of turn does nothing.
    QStringList boxes;
    for (int press = 0; press < 200 && boxes.isEmpty(); ++press) {
        const QImage screen = Display.Screenshot();
        for (int column : {4, 3, 5, 2, 6, 1, 7}) {
            int row = 1;
            while (row <= 6 && screen.pixel(Alice.Cell(column, row)) != kWhite)
                ++row;
            if (row <= 6) {
                Display.Click(Alice.Cell(column, row));
                break;
            }
        }
        QTest::qWait(500);
        boxes = Display.FindWindows("^(Tessaro|Jouez encore une fois)$", Alice.Process.processId());
        boxes.removeAll(Alice.MainWindow);
    }
    QVERIFY2(!boxes.isEmpty(), "the game against the computer did not end");
    Display.Focus(boxes.first());
    Display.Key("Return");
    UseMenu(Alice, "j q");
    QVERIFY(Alice.Process.waitForFinished(kStep));
    QTRY_VERIFY_WITH_TIMEOUT(kill(bot, 0) != 0, kStep);
}

QTEST_GUILESS_MAIN(TestTwoPlayers)
#include "test_twoplayers.moc"
