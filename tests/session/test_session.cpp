#include "net/SocketErrors.h"
#include "support/Players.h"

#include <QTest>
#include <QTimer>

#include <linux/capability.h>
#include <memory>
#include <sys/syscall.h>
#include <tuple>
#include <unistd.h>

namespace {

const QString kNotConnected = "Status: pas connecté";

// A press on the lowest free cell of a column, and the wait until the other side applied it.
bool Play(TPlayer& mover, TPlayer& other, int column)
{
    int row = 1;
    while (mover.Match().Board.Cell(column, row) != cvEmpty)
        ++row;
    const int repaints = other.Window.Repaints;
    mover.Session.PlayLocalMove(column, row);
    return RunModalUntil([&] { return other.Window.Repaints > repaints; });
}

bool Connect(TPlayer& listener, TPlayer& connector, const QString& address = "127.0.0.1")
{
    listener.Session.Listen1Click("0");
    connector.Session.Connect1Click(address, QString::number(listener.Net().LocalPort()));
    return RunModalUntil([&] {
        return listener.Match().GameState == gsRemoteTurn && listener.Match().RemoteName == connector.Match().LocalName
            && connector.Match().RemoteName == listener.Match().LocalName;
    });
}

// Alice moves first and wins in column 1 while Bob fills column 2.
bool AliceWins(TPlayer& alice, TPlayer& bob)
{
    for (int i = 0; i < 3; ++i)
        if (!Play(alice, bob, 1) || !Play(bob, alice, 2))
            return false;
    return Play(alice, bob, 1);
}

// Binding a port below 1024 needs this capability; without it bind fails as for any user.
bool SetBindCapability(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bit = 1u << CAP_NET_BIND_SERVICE;
    data[0].effective = on ? (data[0].effective | (data[0].permitted & bit)) : (data[0].effective & ~bit);
    return syscall(SYS_capset, &header, data) == 0;
}

QString FirstBox(const TPlayer& player) { return player.Box().Caption + ": " + player.Box().Text; }

}  // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void wholeConversation()
    {
        TPlayer bob("Bob"), alice("Alice");
        QVERIFY(Connect(bob, alice, "127.1"));
        QCOMPARE(alice.Window.ChatLines.value(0), ":: Vous avez connecté à Bob");
        QCOMPARE(alice.Window.Status().Panel0, "Status: Connecté à 127.0.0.1 sûr Port " + alice.Net().PortText + " - Votre tour");
        QCOMPARE(bob.Window.Status().Panel1, "Bob 0 - Alice 0");

        bob.Window.PlayAgainAnswers = {IDOK};
        QVERIFY(AliceWins(alice, bob));
        QCOMPARE(FirstBox(alice), "Tessaro: Vous avez gagné!");
        QCOMPARE(bob.Window.PlayAgainMessages, QStringList{"Vous avez perdu"});
        QCOMPARE(bob.Window.WinLines, (QList<std::array<int, 4>>{{1, 1, 1, 4}}));

        // Bob played again, so he moves first and Alice waits on an empty board.
        QVERIFY(RunModalUntil([&] { return alice.Match().GameState == gsRemoteTurn; }));
        QCOMPARE(alice.Match().Board, TBoard());
        QCOMPARE(alice.Window.Status().Panel1, "Alice 1 - Bob 0");
        QVERIFY(Play(bob, alice, 4));

        alice.Session.EnterChatText("salut");
        QCOMPARE(alice.Window.ChatLines.value(0), "Alice: salut");
        QVERIFY(RunModalUntil([&] { return bob.Window.ChatLines.value(0) == "Alice: salut"; }));

        // After the close the pieces and the opponent's name stay; address and port do not.
        alice.Session.Disconnect1Click();
        QVERIFY(RunModalUntil([&] { return alice.Idle() && bob.Idle(); }));
        QVERIFY(bob.Window.Log.indexOf("chat: :: Alice a deconnecté") < bob.Window.Log.lastIndexOf("status: " + kNotConnected));
        for (TPlayer* p : {&alice, &bob}) {
            QCOMPARE(p->Window.Status().Panel0, kNotConnected);
            QCOMPARE(p->Match().Board.Cell(4, 1), p == &bob ? cvLocal : cvRemote);
            QCOMPARE(p->Match().RemoteName, p == &bob ? "Alice" : "Bob");
            QCOMPARE(p->Net().PortText + p->Net().PeerAddress, "");
        }
        QCOMPARE(bob.Window.Boxes.size(), 0);
    }

    void peerLeavesUnderPlayAgainBox_data()
    {
        QTest::addColumn<bool>("goodbye");
        QTest::addColumn<int>("answer");
        QTest::newRow("goodbye, quit") << true << int(IDCANCEL);
        QTest::newRow("program ends, no goodbye, play again") << false << int(IDOK);
    }

    // The close runs inside the box's nested loop, under the interrupted packet handling.
    void peerLeavesUnderPlayAgainBox()
    {
        QFETCH(bool, goodbye);
        QFETCH(int, answer);
        TPlayer bob("Bob");
        auto alice = std::make_unique<TPlayer>("Alice");
        QVERIFY(Connect(bob, *alice));
        bool closedUnderTheBox = false;
        bob.Window.OnPlayAgain = [&](const QString&) {
            goodbye ? alice->Session.Disconnect1Click() : QTimer::singleShot(0, [&] { alice.reset(); });
            closedUnderTheBox = RunModalUntil([&] { return bob.Net().ConnectionState == csNone; });
            return answer;
        };
        QVERIFY(AliceWins(*alice, bob));
        QVERIFY(RunModalUntil([&] { return closedUnderTheBox; }));
        QCOMPARE(bob.Window.ChatLines.value(0) == ":: Alice a deconnecté", goodbye);
        // Playing again without a connection: a local game whose packets go nowhere.
        QCOMPARE(bob.Match().GameState, answer == IDOK ? gsLocalTurn : gsNone);
        QVERIFY(bob.Idle() && bob.Window.Boxes.isEmpty());
    }

    // The declined play-again closes the connection in the middle of one read: the packets
    // behind the losing move are still handled.
    void declinedRematchDoesNotEndTheBatch()
    {
        TPlayer bob("Bob");
        TRawPeer peer = ConnectRawPeer(bob);
        QVERIFY(peer.SendAll(Encoded(pkNewGame) + Encoded(pkMove, 1).repeated(4) + Encoded(pkChat, 0, "après")));
        QVERIFY(RunModalUntil([&] { return bob.Window.ChatLines.value(0) == "après"; }));
        QCOMPARE(bob.Window.PlayAgainMessages, QStringList{"Vous avez perdu"});
        QVERIFY(bob.Idle());
    }

    void stopListeningAndPortInUse()
    {
        TPlayer bob("Bob"), carol("Carol");
        bob.Session.Listen1Click("0");
        const std::uint16_t port = bob.Net().LocalPort();
        carol.Session.Listen1Click(QString::number(port));
        QCOMPARE(FirstBox(carol), "Tessaro: Ce port est déja utilisé. Essayez d'ecouter sur un autre port");
        QVERIFY(carol.Idle());
        bob.Session.StopListening1Click();
        QVERIFY(bob.Idle());
        QCOMPARE(bob.Window.Status().Panel0, kNotConnected);
        QVERIFY(!TRawPeer::ConnectTo(port).IsOpen());
    }

    void refusals_data()
    {
        QTest::addColumn<int>("call");  // 0 connect, 1 listen, 2 listen without the bind capability, 3 close
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");  // <refused>: a port where connects are refused
        QTest::addColumn<QString>("box");   // caption: text
        QTest::newRow("empty port") << 0 << "127.0.0.1" << "" << "Tessaro: Le port n'est pas specifié";
        QTest::newRow("empty address") << 0 << "" << "1024" << "Tessaro: L'adresse n'est pas specifiée";
        QTest::newRow("unknown host") << 0 << QString(64, 'x') + ".invalid" << "1024" << "Tessaro: Incapable de resoudre le hote";
        QTest::newRow("port not a number") << 0 << "127.0.0.1" << "1x" << "Tessaro: '1x' is not a valid integer value.";
        QTest::newRow("listen, empty port") << 1 << "" << "" << "Tessaro: Le port n'est pas specifié";
        QTest::newRow("listen, not a number") << 1 << "" << "port" << "Tessaro: 'port' is not a valid integer value.";
        // Each failing call with its own label and number.
        QTest::newRow("bind") << 2 << "" << "1" << "Winsock Error: Error 10013 in function Listen(Bind)\r\nPermission denied";
        QTest::newRow("connect") << 0 << "127.0.0.1" << "<refused>"
                                 << "Winsock Error: Error 10061 in function Connect(Connect)\r\nConnection refused";
        QTest::newRow("close") << 3 << "" << ""
                               << "Winsock Error: Error 10038 in function Disconnect (closesocket)\r\nSocket operation on non-socket";
    }

    // Every refusal is one box, and leaves the program with no connection.
    void refusals()
    {
        QFETCH(int, call);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, box);
        TPlayer alice("Alice");
        TRawPeer refusing = TRawPeer::BoundNotListening(), peer;
        port.replace("<refused>", QString::number(refusing.Port()));
        QVERIFY(SetBindCapability(call != 2));
        if (call == 0) {
            alice.Session.Connect1Click(address, port);
        } else if (call == 3) {
            peer = ConnectRawPeer(alice);
            alice.Net().Sock += 1000;  // a handle the socket layer never gave out
            alice.Session.Disconnect1Click();
        } else {
            alice.Session.Listen1Click(port);
        }
        SetBindCapability(true);
        QVERIFY(RunModalUntil([&] { return !alice.Window.Boxes.isEmpty(); }));
        QCOMPARE(FirstBox(alice), box);
        QCOMPARE(alice.Window.Boxes.size(), 1);
        QCOMPARE(alice.Box().Flags, unsigned(box.startsWith("Tessaro") ? MB_ICONERROR : MB_OK));
        QCOMPARE(alice.Net().ConnectionState, csNone);
        QCOMPARE(alice.Window.Status().Panel0, kNotConnected);
    }

    void status_data()
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

    void status()
    {
        QFETCH(int, connection);
        QFETCH(int, game);
        TPlayer alice("Alice");
        TConnectionManager& net = alice.Net();
        std::tie(net.ConnectionState, net.PeerAddress, net.PortText, net.ListenStatusText)
            = std::tuple(TConnectionState(connection), "10.1.2.3", "1024", "Status:Ecoute: x");
        // A placeholder in a name is text, not a slot.
        std::tie(alice.Match().GameState, alice.Match().RemoteName, alice.Match().LocalScore, alice.Match().RemoteScore)
            = std::tuple(TGameState(game), "Ma%1rie", 3, 2);
        alice.Session.UpdateStatus();
        const TStatusTexts s = alice.Window.Status();
        QString flags;
        for (bool on : {s.ConnectEnabled, s.DisconnectEnabled, s.ListenEnabled, s.StopListeningEnabled})
            flags += on ? '+' : '-';
        QTEST(flags + ' ' + s.Panel0, "shown");
        // Scores show only while connected.
        QCOMPARE(s.Panel1, connection == csConnected ? "Alice 3 - Ma%1rie 2" : "");
        net.ConnectionState = csNone;  // nothing real to close
    }

    void dispatch_data()
    {
        QTest::addColumn<TDataPacket>("packet");
        QTest::addColumn<QString>("chatLine");  // empty: no line added
        QTest::addColumn<int>("gameState");
        QTest::addColumn<QString>("score");     // the score panel afterwards, empty: not refreshed
        const QString score = "Alice 0 - aucun 0";
        QTest::newRow("name") << MakePacket(pkName, "Marie") << ":: Vous avez connecté à Marie" << int(gsNone)
                              << "Alice 0 - Marie 0";
        QTest::newRow("bye before a name") << MakePacket(pkBye) << ":: aucun a deconnecté" << int(gsNone) << "";
        QTest::newRow("chat") << MakePacket(pkChat, "%1 %2") << "%1 %2" << int(gsNone) << "";
        QTest::newRow("move") << MakePacket(pkMove, {}, 4) << "" << int(gsLocalTurn) << score;
        QTest::newRow("move, column 8") << MakePacket(pkMove, {}, 8) << "" << int(gsNone) << "";
        QTest::newRow("new game") << MakePacket(pkNewGame) << "" << int(gsRemoteTurn) << score;
        QTest::newRow("kind 5") << MakePacket(5, "x", 4) << "" << int(gsNone) << "";
    }

    void dispatch()
    {
        QFETCH(TDataPacket, packet);
        QFETCH(int, gameState);
        TPlayer alice("Alice");
        alice.Net().ConnectionState = csConnected;  // nothing real is behind it
        alice.Net().DispatchPacket(packet);
        alice.Net().ConnectionState = csNone;
        QTEST(alice.Window.ChatLines.join('|'), "chatLine");
        QCOMPARE(int(alice.Match().GameState), gameState);
        QCOMPARE(alice.Match().Board.Cell(4, 1) != cvEmpty, gameState == gsLocalTurn);
        QTEST(alice.Window.Status().Panel1, "score");
    }

    void addressAndPort_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("resolved");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("number");  // -1: not a port
        QTest::newRow("short dotted, 70000") << "127.1" << "127.0.0.1" << "70000" << 4464;
        QTest::newRow("single number, -1") << "16909060" << "1.2.3.4" << "-1" << 65535;
        QTest::newRow("host name, 1024") << "localhost" << "127.0.0.1" << "1024" << 1024;
        QTest::newRow("service name") << "x.invalid" << "x.invalid" << "http" << 80;
        QTest::newRow("beyond int") << "10.0.0.1" << "10.0.0.1" << "2147483648" << -1;
        QTest::newRow("trailing letters") << "10.0.0.1" << "10.0.0.1" << "12abc" << -1;
    }

    void addressAndPort()
    {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QTEST(TConnectionManager::ResolveAddress(address), "resolved");
        const std::optional<std::uint16_t> number = TConnectionManager::PortFromText(port);
        QTEST(number ? int(*number) : -1, "number");
    }

    // Nothing leaves before a connection; then every packet carries exactly its own fields.
    void sentPackets()
    {
        TPlayer bob("Bob");
        bob.Session.EnterChatText("seul");
        bob.Session.SendMove(3);
        bob.Session.Listen1Click("0");
        bob.Session.EnterChatText("en attente");
        TRawPeer peer = TRawPeer::ConnectTo(bob.Net().LocalPort());
        QVERIFY(RunModalUntil([&] { return bob.Net().ConnectionState == csConnected; }));
        bob.Session.New1Click();
        bob.Session.PlayLocalMove(3, 1);
        bob.Session.EnterChatText("là");
        bob.Session.Disconnect1Click();
        QByteArray received;
        QVERIFY(RunModalUntil([&] { received += peer.ReadAvailable(); return peer.SawEndOfStream(); }));
        QCOMPARE(received, Encoded(pkName, 0, "Bob") + Encoded(pkNewGame) + Encoded(pkMove, 3) + Encoded(pkChat, 0, "Bob: là")
                               + Encoded(pkBye));
    }

    void newConnectionStartsFreshStream()
    {
        TPlayer bob("Bob");
        const QByteArray chat = Encoded(pkChat, 0, "Paul: salut");
        TRawPeer first = ConnectRawPeer(bob);
        QVERIFY(first.SendAll(chat.left(10)));
        QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(bob.Net().Sock) == 0; }));
        first.Close();
        QVERIFY(RunModalUntil([&] { return bob.Idle(); }));

        TRawPeer second = ConnectRawPeer(bob);
        QVERIFY(second.SendAll(chat + QByteArray("\x01garbage", 8) + chat + Encoded(pkBye)));
        second.ShutdownWrite();
        QVERIFY(RunModalUntil([&] { return bob.Idle(); }));
        QCOMPARE(bob.Window.ChatLines.value(0), "Paul: salut");  // everything from the flaw on is dropped
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
