#include "net/PacketSamples.h"
#include "session/Session.h"
#include "net/SocketLayer.h"
#include "support/FakeWindow.h"
#include "support/ModalLoop.h"
#include "support/RawPeer.h"

#include <QTest>
#include <QTimer>

#include <memory>
#include <tuple>
#include <sys/resource.h>
#include <unistd.h>

using PacketSamples::MakePacket;

namespace {

constexpr int kPatience = 20000;
const QString kNotConnected = QStringLiteral("Status: pas connecté");
const QString kRefused = QStringLiteral("Error 10061 in function Connect(Connect)\r\nConnection refused");

// One running program: the core and a fake window that records and answers.
struct TPlayer
{
    explicit TPlayer(const QString& name)
    {
        Session.Match.LocalName = name;
        Session.UpdateStatus();
    }
    TConnectionManager& Net() { return Session.Connection; }
    TMatchFlow& Match() { return Session.Match; }
    TShownBox Box() const { return Window.Boxes.value(0); }

    TFakeWindow Window;
    TSession Session{Window};
};

// A press on the lowest free cell of a column, and the wait until the other side applied it.
bool Play(TPlayer& mover, TPlayer& other, int column)
{
    int row = 1;
    while (mover.Match().Board.Cell(column, row) != cvEmpty)
        ++row;
    const int repaints = other.Window.Repaints;
    mover.Session.PlayLocalMove(column, row);
    return QTest::qWaitFor([&] { return other.Window.Repaints > repaints; }, kPatience);
}

bool Connect(TPlayer& listener, TPlayer& connector, const QString& address = QStringLiteral("127.0.0.1"))
{
    listener.Session.Listen1Click(QStringLiteral("0"));
    connector.Session.Connect1Click(address, QString::number(listener.Net().LocalPort()));
    return QTest::qWaitFor([&] {
        return connector.Net().ConnectionState == csConnected && listener.Match().GameState == gsRemoteTurn
            && listener.Match().RemoteName == connector.Match().LocalName
            && connector.Match().RemoteName == listener.Match().LocalName;
    }, kPatience);
}

// Alice moves first and wins in column 1 while Bob fills column 2.
bool AliceWins(TPlayer& alice, TPlayer& bob)
{
    for (int i = 0; i < 3; ++i) {
        if (!Play(alice, bob, 1) || !Play(bob, alice, 2))
            return false;
    }
    return Play(alice, bob, 1);
}

bool Idle(TPlayer& player)
{
    return player.Net().ConnectionState == csNone && player.Net().Sock == 0
        && player.Session.SocketLayer().OpenSockets() == 0;
}

}  // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void wholeConversation();
    void peerLeavesUnderPlayAgainBox_data();
    void peerLeavesUnderPlayAgainBox();
    void stopListening();
    void secondPeerRefused();
    void disconnectWhileConnecting();
    void unableToAccept();
    void failures_data();
    void failures();
    void status_data();
    void status();
    void dispatch_data();
    void dispatch();
    void addressAndPort_data();
    void addressAndPort();
    void nothingSentWithoutConnection();
    void newConnectionStartsFreshStream();
};

void TestSession::wholeConversation()
{
    TPlayer bob("Bob");
    TPlayer alice("Alice");
    QVERIFY(Connect(bob, alice, "127.1"));
    const QString connected = "Status: Connecté à 127.0.0.1 sûr Port ";
    QCOMPARE(alice.Window.ChatLines.first(), ":: Vous avez connecté à Bob");
    QCOMPARE(bob.Window.ChatLines.first(), ":: Vous avez connecté à Alice");
    QCOMPARE(alice.Window.Status().Panel0, connected + alice.Net().PortText + " - Votre tour");
    QCOMPARE(bob.Window.Status().Panel0, connected + "0 - Alice's tour");
    QCOMPARE(bob.Window.Status().Panel1, "Bob 0 - Alice 0");

    bob.Window.PlayAgainAnswers = {IDOK};
    QVERIFY(AliceWins(alice, bob));
    QCOMPARE(alice.Window.Boxes.size(), 1);
    QCOMPARE(alice.Box().Text, "Vous avez gagné!");
    QCOMPARE(alice.Box().Caption, "Tessaro");
    QCOMPARE(alice.Box().Flags, unsigned(MB_OK));
    QCOMPARE(bob.Window.PlayAgainMessages, QStringList{"Vous avez perdu"});
    QVERIFY(!bob.Window.WinLines.isEmpty());

    // Bob played again, so he moves first and Alice waits on an empty board.
    QTRY_COMPARE_WITH_TIMEOUT(alice.Match().GameState, gsRemoteTurn, kPatience);
    QCOMPARE(bob.Match().GameState, gsLocalTurn);
    QCOMPARE(alice.Match().Board, TBoard());
    QCOMPARE(alice.Window.Status().Panel1, "Alice 1 - Bob 0");

    alice.Session.EnterChatText("salut");
    QCOMPARE(alice.Window.ChatLines.first(), "Alice: salut");
    QTRY_COMPARE_WITH_TIMEOUT(bob.Window.ChatLines.first(), "Alice: salut", kPatience);
    bob.Session.EnterChatText("ça va");
    QTRY_COMPARE_WITH_TIMEOUT(alice.Window.ChatLines.first(), "Bob: ça va", kPatience);

    alice.Session.Disconnect1Click();
    QVERIFY(Idle(alice));
    QCOMPARE(alice.Window.Status().Panel0, kNotConnected);
    QTRY_VERIFY_WITH_TIMEOUT(Idle(bob), kPatience);
    const qsizetype bye = bob.Window.Log.lastIndexOf("chat: :: Alice a deconnecté");
    QVERIFY(bye >= 0 && bye < bob.Window.Log.lastIndexOf("status: " + kNotConnected));
    QCOMPARE(bob.Match().GameState, gsNone);
    QCOMPARE(bob.Window.Status(), alice.Window.Status());
    QVERIFY(bob.Window.Boxes.isEmpty());
}

void TestSession::peerLeavesUnderPlayAgainBox_data()
{
    QTest::addColumn<bool>("goodbye");
    QTest::addColumn<int>("answer");
    QTest::newRow("goodbye, quit") << true << int(IDCANCEL);
    QTest::newRow("goodbye, play again") << true << int(IDOK);
    QTest::newRow("program ends, no goodbye, quit") << false << int(IDCANCEL);
    QTest::newRow("program ends, no goodbye, play again") << false << int(IDOK);
}

// The close runs inside the box's nested loop, under the interrupted packet handling.
void TestSession::peerLeavesUnderPlayAgainBox()
{
    QFETCH(bool, goodbye);
    QFETCH(int, answer);
    TPlayer bob("Bob");
    auto alice = std::make_unique<TPlayer>("Alice");
    QVERIFY(Connect(bob, *alice));
    bool closedUnderTheBox = false;
    bob.Window.OnPlayAgain = [&](const QString&) {
        if (goodbye)
            alice->Session.Disconnect1Click();
        else
            QTimer::singleShot(0, [&] { alice.reset(); });
        closedUnderTheBox = RunModalUntil([&] { return bob.Net().ConnectionState == csNone; });
        return answer;
    };
    QVERIFY(AliceWins(*alice, bob));
    QTRY_VERIFY_WITH_TIMEOUT(closedUnderTheBox, kPatience);
    QCOMPARE(bob.Window.ChatLines.first() == ":: Alice a deconnecté", goodbye);
    if (answer == IDOK) {
        // Playing again without a connection: a local game whose packets go nowhere.
        QCOMPARE(bob.Match().GameState, gsLocalTurn);
        bob.Session.PlayLocalMove(5, 1);
        QCOMPARE(bob.Match().Board.Cell(5, 1), cvLocal);
    } else {
        QCOMPARE(bob.Match().GameState, gsNone);
    }
    QVERIFY(Idle(bob));
    QVERIFY(bob.Window.Boxes.isEmpty());
    QTest::qWait(20);
}

void TestSession::stopListening()
{
    TPlayer bob("Bob");
    TPlayer carol("Carol");
    bob.Session.Listen1Click("0");
    const std::uint16_t port = bob.Net().LocalPort();
    carol.Session.Listen1Click(QString::number(port));
    QCOMPARE(carol.Box().Text, "Ce port est déja utilisé. Essayez d'ecouter sur un autre port");
    QCOMPARE(carol.Box().Caption, "Tessaro");
    QVERIFY(Idle(carol));
    QCOMPARE(bob.Net().ConnectionState, csListening);
    bob.Session.StopListening1Click();
    QVERIFY(Idle(bob));
    QCOMPARE(bob.Window.Status().Panel0, kNotConnected);
    QVERIFY(!TRawPeer::ConnectTo(port).IsOpen());
}

// Also the refused connect: reported, and back to no connection.
void TestSession::secondPeerRefused()
{
    TPlayer bob("Bob");
    TPlayer alice("Alice");
    TPlayer carol("Carol");
    QVERIFY(Connect(bob, alice));
    carol.Session.Connect1Click("127.0.0.1", alice.Net().PortText);
    QTRY_COMPARE_WITH_TIMEOUT(carol.Window.Boxes.size(), 1, kPatience);
    QCOMPARE(carol.Box().Text, kRefused);
    QCOMPARE(carol.Box().Caption, "Winsock Error");
    QVERIFY(Idle(carol));
    QCOMPARE(carol.Window.Status().Panel0, kNotConnected);
    QCOMPARE(bob.Net().ConnectionState, csConnected);
}

void TestSession::disconnectWhileConnecting()
{
    TPlayer alice("Alice");
    TRawPeer listener = TRawPeer::Listener();
    alice.Session.Connect1Click("127.0.0.1", QString::number(listener.Port()));
    QCOMPARE(alice.Net().ConnectionState, csConnecting);
    alice.Session.Disconnect1Click();
    QVERIFY(Idle(alice));
    QTest::qWait(100);
    QVERIFY(alice.Window.Boxes.isEmpty());
    QCOMPARE(alice.Match().GameState, gsNone);
}

void TestSession::unableToAccept()
{
    TPlayer bob("Bob");
    bob.Session.Listen1Click("0");
    TRawPeer peer = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QVERIFY(peer.IsOpen());
    // The limit is on descriptor numbers: none is left for accept() until the box is shown.
    const int lowestFree = ::dup(STDERR_FILENO);
    ::close(lowestFree);
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
    TConnectionState underTheBox = csNone;
    bob.Window.OnBox = [&](const TShownBox&) {
        underTheBox = bob.Net().ConnectionState;
        setrlimit(RLIMIT_NOFILE, &saved);
        return int(IDOK);
    };
    QTRY_VERIFY_WITH_TIMEOUT(!bob.Window.Boxes.isEmpty(), kPatience);
    setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(bob.Box().Text, "Unable to accept connection");
    QCOMPARE(underTheBox, csListening);
    QTRY_COMPARE_WITH_TIMEOUT(bob.Net().ConnectionState, csConnected, kPatience);
}

void TestSession::failures_data()
{
    QTest::addColumn<bool>("listen");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    const QString unresolved = "Incapable de resoudre le hote";
    const QString longPort(10000, '7');
    QTest::newRow("empty port") << false << "127.0.0.1" << "" << "Le port n'est pas specifié";
    QTest::newRow("empty address") << false << "" << "1024" << "L'adresse n'est pas specifiée";
    QTest::newRow("unknown host") << false << QString(64, 'x') + ".invalid" << "1024" << unresolved;
    QTest::newRow("10000-character address") << false << QString(10000, 'a') << "1024" << unresolved;
    QTest::newRow("port not a number") << false << "127.0.0.1" << "1x" << "'1x' is not a valid integer value.";
    QTest::newRow("10000-character port") << false << "127.0.0.1" << longPort
                                          << "'" + longPort + "' is not a valid integer value.";
    QTest::newRow("listen, empty port") << true << "" << "" << "Le port n'est pas specifié";
    QTest::newRow("listen, not a number") << true << "" << "port" << "'port' is not a valid integer value.";
}

void TestSession::failures()
{
    QFETCH(bool, listen);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, message);
    TPlayer alice("Alice");
    if (listen)
        alice.Session.Listen1Click(port);
    else
        alice.Session.Connect1Click(address, port);
    QTRY_COMPARE_WITH_TIMEOUT(alice.Window.Boxes.size(), 1, kPatience);  // a name is looked up off the thread
    QCOMPARE(alice.Box().Text, message);
    QCOMPARE(alice.Box().Caption, "Tessaro");
    QCOMPARE(alice.Box().Flags, unsigned(MB_ICONERROR));
    QVERIFY(Idle(alice));
}

void TestSession::status_data()
{
    QTest::addColumn<int>("connection");
    QTest::addColumn<int>("game");
    // The menu (Connect, Disconnect, Listen, Stop listening) and then the first panel.
    QTest::addColumn<QString>("shown");
    const QString on = "-+-- Status: Connecté à 10.1.2.3 sûr Port 1024 - ";
    QTest::newRow("none") << int(csNone) << int(gsOver) << "+-+- " + kNotConnected;
    QTest::newRow("no game") << int(csConnected) << int(gsNone) << on + "Il n'y a pas de jeu";
    QTest::newRow("over") << int(csConnected) << int(gsOver) << on + "Le jeu est fini";
    QTest::newRow("our turn") << int(csConnected) << int(gsLocalTurn) << on + "Votre tour";
    QTest::newRow("their turn") << int(csConnected) << int(gsRemoteTurn) << on + "Ma%1rie's tour";
    QTest::newRow("listening") << int(csListening) << int(gsNone) << "---+ Status:Ecoute: x";
    QTest::newRow("connecting") << int(csConnecting) << int(gsNone) << "-+-- Status: Attente de connection";
}

void TestSession::status()
{
    QFETCH(int, connection);
    QFETCH(int, game);
    QFETCH(QString, shown);
    TPlayer alice("Alice");
    TConnectionManager& net = alice.Net();
    std::tie(net.ConnectionState, net.PeerAddress, net.PortText, net.ListenStatusText)
        = std::tuple(TConnectionState(connection), "10.1.2.3", "1024", "Status:Ecoute: x");
    // A placeholder in a name is text, not a slot.
    std::tie(alice.Match().GameState, alice.Match().RemoteName, alice.Match().LocalScore, alice.Match().RemoteScore)
        = std::tuple(TGameState(game), "Ma%1rie", 3, 2);
    alice.Session.UpdateStatus();
    const TStatusTexts status = alice.Window.Status();
    const QString flags = QString(status.ConnectEnabled ? '+' : '-') + (status.DisconnectEnabled ? '+' : '-')
        + (status.ListenEnabled ? '+' : '-') + (status.StopListeningEnabled ? '+' : '-');
    QCOMPARE(flags + ' ' + status.Panel0, shown);
    // Scores show, and survive, only while connected.
    QCOMPARE(status.Panel1, connection == csConnected ? "Alice 3 - Ma%1rie 2" : "");
    QCOMPARE(alice.Match().LocalScore, connection == csConnected ? 3 : 0);
    alice.Net().ConnectionState = csNone;  // nothing real to close
}

void TestSession::dispatch_data()
{
    QTest::addColumn<TDataPacket>("packet");
    QTest::addColumn<QString>("chatLine");  // empty: no line added
    QTest::addColumn<int>("gameState");
    QTest::newRow("name") << MakePacket(pkName, "Marie") << ":: Vous avez connecté à Marie" << int(gsNone);
    QTest::newRow("bye before a name") << MakePacket(pkBye) << ":: aucun a deconnecté" << int(gsNone);
    QTest::newRow("chat") << MakePacket(pkChat, "%1 %2") << "%1 %2" << int(gsNone);
    QTest::newRow("move") << MakePacket(pkMove, {}, 4) << "" << int(gsLocalTurn);
    QTest::newRow("move, column 8") << MakePacket(pkMove, {}, 8) << "" << int(gsNone);
    QTest::newRow("new game") << MakePacket(pkNewGame) << "" << int(gsRemoteTurn);
    QTest::newRow("kind 5") << MakePacket(5, "x", 4) << "" << int(gsNone);
}

void TestSession::dispatch()
{
    QFETCH(TDataPacket, packet);
    QFETCH(QString, chatLine);
    QFETCH(int, gameState);
    TPlayer alice("Alice");
    alice.Net().DispatchPacket(packet);
    QCOMPARE(alice.Window.ChatLines, chatLine.isEmpty() ? QStringList() : QStringList{chatLine});
    QCOMPARE(int(alice.Match().GameState), gameState);
    QCOMPARE(alice.Match().Board.Cell(4, 1) != cvEmpty, gameState == gsLocalTurn);
}

void TestSession::addressAndPort_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("resolved");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("number");  // -1: not a port
    QTest::newRow("short dotted, 70000") << "127.1" << "127.0.0.1" << "70000" << 4464;
    QTest::newRow("single number, -1") << "16909060" << "1.2.3.4" << "-1" << 65535;
    QTest::newRow("host name, 1024") << "localhost" << "127.0.0.1" << "1024" << 1024;
    QTest::newRow("unresolvable, beyond int") << "x.invalid" << "x.invalid" << "2147483648" << -1;
    QTest::newRow("10000 characters") << QString(10000, '9') << QString(10000, '9') << QString(10000, '1') << -1;
    QTest::newRow("trailing letters") << "10.0.0.1" << "10.0.0.1" << "12abc" << -1;
    QTest::newRow("empty port") << "10.0.0.1" << "10.0.0.1" << "" << -1;
}

void TestSession::addressAndPort()
{
    QFETCH(QString, address);
    QFETCH(QString, resolved);
    QFETCH(QString, port);
    QFETCH(int, number);
    QCOMPARE(TConnectionManager::ResolveAddress(address), resolved);
    const std::optional<std::uint16_t> result = TConnectionManager::PortFromText(port);
    QCOMPARE(result ? int(*result) : -1, number);
}

void TestSession::nothingSentWithoutConnection()
{
    TPlayer bob("Bob");
    bob.Session.EnterChatText("seul");
    bob.Session.SendMove(3);
    bob.Session.SendNewGame();
    QCOMPARE(bob.Window.ChatLines, QStringList{"Bob: seul"});
    bob.Session.Listen1Click("0");
    bob.Session.EnterChatText("en attente");
    bob.Session.SendMove(3);

    // The first bytes a peer gets are the name sent on accepting, and nothing else.
    TRawPeer peer = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QTRY_COMPARE_WITH_TIMEOUT(bob.Net().ConnectionState, csConnected, kPatience);
    const QByteArray name = EncodePacket(MakePacket(pkName, "Bob"));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += peer.ReadAvailable()).size() >= name.size(), kPatience);
    QTest::qWait(50);
    QCOMPARE(received + peer.ReadAvailable(), name);
}

void TestSession::newConnectionStartsFreshStream()
{
    TPlayer bob("Bob");
    const QByteArray chat = EncodePacket(MakePacket(pkChat, "Paul: salut"));
    bob.Session.Listen1Click("0");
    TRawPeer first = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QVERIFY(first.SendAll(chat.left(10)));
    QTest::qWait(50);
    first.Close();
    QTRY_VERIFY_WITH_TIMEOUT(Idle(bob), kPatience);

    bob.Session.Listen1Click("0");
    bob.Window.ChatLines.clear();  // the addresses to hand out
    TRawPeer second = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QVERIFY(second.SendAll(chat + QByteArray("\x01garbage", 8) + chat));
    QTRY_COMPARE_WITH_TIMEOUT(bob.Window.ChatLines.size(), 1, kPatience);
    QCOMPARE(bob.Window.ChatLines.first(), "Paul: salut");
    QTest::qWait(50);
    QCOMPARE(bob.Window.ChatLines.size(), 1);  // everything from the flaw on is dropped
}

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
