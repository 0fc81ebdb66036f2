// Two session cores over loopback, IPv4 and IPv6, and raw peers: conversations, refusals,
// status texts, the packets sent and received, and the addresses a listening player hands out.

#include "net/HostLookup.h"
#include "support/Players.h"

#include <QSysInfo>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QString kNotConnected = "Status: pas connecté";

TSocketAddress Address(const char* text) { return *TResolver::AddressLiteral(QString::fromLatin1(text)); }

// A resolver that answers every name with the given addresses.
THostLookup::TResolve Answer(QList<TSocketAddress> list) { return [list](const QString&, int*) { return list; }; }

// A press on the lowest free cell of a column, and the wait until the other side applied it.
bool Play(TPlayer& mover, TPlayer& other, int column)
{
    const int repaints = other.Window.Repaints;
    mover.Session.PlayLocalMove(column, TBoard(mover.Match().Board).Drop(column, cvLocal));
    return RunModalUntil([&] { return other.Window.Repaints > repaints; });
}

// Each side learns the other's name: packets went both ways.
bool Connect(TPlayer& listener, TPlayer& connector, const QString& address = "127.0.0.1")
{
    listener.Session.Listen("0");
    connector.Session.Connect(address, QString::number(listener.Net().LocalPort()));
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

// Listening on [::1] at the port with room for one waiting connection, which the second socket
// takes: the kernel drops every handshake after it, so a connect there is never answered.
std::array<TRawPeer, 2> Unanswered(std::uint16_t port)
{
    const sockaddr_in6 address{AF_INET6, htons(port), 0, in6addr_loopback, 0};
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    std::array<TRawPeer, 2> peers{TRawPeer(::socket(AF_INET6, SOCK_STREAM, 0)), TRawPeer(::socket(AF_INET6, SOCK_STREAM, 0))};
    if (::bind(peers[0].Descriptor(), raw, sizeof address) != 0 || ::listen(peers[0].Descriptor(), 0) != 0
        || ::connect(peers[1].Descriptor(), raw, sizeof address) != 0)
        qFatal("no unanswered listener at [::1]:%u", port);
    return peers;
}

QString FirstBox(const TPlayer& p) { return p.Window.Boxes.value(0).Caption + ": " + p.Window.Boxes.value(0).Text; }

}  // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void wholeConversation()
    {
        TPlayer bob("Bob"), alice("Alice");
        // Stopping to listen leaves nothing that takes connections.
        bob.Session.Listen("0");
        const std::uint16_t port = bob.Net().LocalPort();
        bob.Session.StopListening();
        QVERIFY(bob.Idle() && !TRawPeer::ConnectTo(port).IsOpen());
        QVERIFY(Connect(bob, alice, "127.1"));
        QCOMPARE(alice.Window.ChatLines.value(0), ":: Vous avez connecté à Bob");
        QCOMPARE(alice.Window.Status.Panel0, "Status: Connecté à 127.0.0.1 sûr Port " + alice.Net().PortText() + " - Votre tour");
        // Alice named herself before she opened the game.
        QCOMPARE(bob.Window.Log.filter("'s tour").value(0), "status: Status: Connecté à 127.0.0.1 sûr Port 0 - Alice's tour");

        bob.Window.OnPlayAgain = [](const QString&) { return int(IDOK); };
        QVERIFY(AliceWins(alice, bob));
        QCOMPARE(FirstBox(alice), "Tessaro: Vous avez gagné!");
        QCOMPARE(bob.Window.PlayAgainMessages, QStringList{"Vous avez perdu"});
        QCOMPARE(bob.Window.WinLines, (QList<std::array<int, 4>>{{1, 1, 1, 4}}));

        // Bob played again, so he moves first and Alice waits on an empty board.
        QVERIFY(RunModalUntil([&] { return alice.Match().GameState == gsRemoteTurn; }));
        QCOMPARE(alice.Match().Board, TBoard());
        QCOMPARE(alice.Window.Status.Panel1, "Alice 1 - Bob 0");
        QVERIFY(Play(bob, alice, 4));

        alice.Session.EnterChatText("salut");
        QCOMPARE(alice.Window.ChatLines.value(0), "Alice: salut");
        QVERIFY(RunModalUntil([&] { return bob.Window.ChatLines.value(0) == "Alice: salut"; }));

        // After the close the pieces and the opponent's name stay; address and port do not.
        alice.Session.Disconnect();
        QVERIFY(RunModalUntil([&] { return alice.Idle() && bob.Idle(); }));
        QVERIFY(bob.Window.Log.indexOf("chat: :: Alice a deconnecté") < bob.Window.Log.lastIndexOf("status: " + kNotConnected));
        for (TPlayer* p : {&alice, &bob}) {
            QCOMPARE(p->Window.Status.Panel0 + p->Window.Status.Panel1, kNotConnected);
            QCOMPARE(p->Match().Board.Cell(4, 1), p == &bob ? cvLocal : cvRemote);
            QCOMPARE(p->Match().RemoteName, p == &bob ? "Alice" : "Bob");
            QCOMPARE(p->Net().PortText() + p->Net().PeerAddress(), "");
            QCOMPARE(p->Window.Boxes.size(), p == &bob ? 0 : 1);
        }
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

    void refusals_data()
    {
        QTest::addColumn<int>("call");  // 0 connect, 1 listen, 2 listen without the bind capability, 3 close
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");  // <bound>: a port that is bound, where connects are refused
        QTest::addColumn<QString>("box");   // caption: text
        QTest::newRow("empty port") << 0 << "127.0.0.1" << "" << "Tessaro: Le port n'est pas specifié";
        QTest::newRow("empty address") << 0 << "" << "1024" << "Tessaro: L'adresse n'est pas specifiée";
        QTest::newRow("unknown host") << 0 << QString(64, 'x') + ".invalid" << "1024" << "Tessaro: Incapable de resoudre le hote";
        QTest::newRow("port not a number") << 0 << "127.0.0.1" << "1x" << "Tessaro: '1x' is not a valid integer value.";
        QTest::newRow("listen, empty port") << 1 << "" << "" << "Tessaro: Le port n'est pas specifié";
        QTest::newRow("listen, not a number") << 1 << "" << "port" << "Tessaro: 'port' is not a valid integer value.";
        QTest::newRow("listen, port in use") << 1 << "" << "<bound>"
                                             << "Tessaro: Ce port est déja utilisé. Essayez d'ecouter sur un autre port";
        // Each failing call with its own label and number.
        QTest::newRow("bind") << 2 << "" << "1" << "Winsock Error: Error 10013 in function Listen(Bind)\r\nPermission denied";
        QTest::newRow("connect") << 0 << "127.0.0.1" << "<bound>"
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
        TRawPeer bound = TRawPeer::BoundNotListening(), peer;
        port.replace("<bound>", QString::number(bound.Port()));
        QVERIFY(SetBindCapability(call != 2));
        if (call == 0) {
            alice.Session.Connect(address, port);
        } else if (call == 3) {
            peer = ConnectRawPeer(alice);
            alice.Sockets().closesocket(alice.Net().Socket());  // behind the session's back
            alice.Session.Disconnect();
        } else {
            alice.Session.Listen(port);
        }
        SetBindCapability(true);
        QVERIFY(RunModalUntil([&] { return !alice.Window.Boxes.isEmpty(); }));
        QCOMPARE(FirstBox(alice), box);
        QCOMPARE(alice.Window.Boxes.size(), 1);
        QVERIFY(alice.Net().State() == csNone && (call == 3 || alice.Sockets().OpenSockets() == 0));
        QCOMPARE(alice.Window.Status.Panel0, kNotConnected);
    }

    // Nothing leaves before a connection; then every packet carries exactly its own fields.
    void sentPackets()
    {
        TPlayer bob("Bob");
        bob.Session.EnterChatText("seul");
        bob.Session.SendMove(3);
        bob.Session.Listen("0");
        bob.Session.EnterChatText("en attente");
        TRawPeer peer = TRawPeer::ConnectTo(bob.Net().LocalPort());
        QVERIFY(RunModalUntil([&] { return bob.Net().State() == csConnected; }));
        bob.Session.New1Click();
        bob.Session.PlayLocalMove(3, 1);
        bob.Session.EnterChatText("là");
        bob.Session.Disconnect();
        QByteArray received;
        QVERIFY(RunModalUntil([&] { received += peer.ReadAvailable(); return peer.SawEndOfStream(); }));
        QCOMPARE(received, Encoded(pkName, 0, "Bob") + Encoded(pkNewGame) + Encoded(pkMove, 3) + Encoded(pkChat, 0, "Bob: là")
                               + Encoded(pkBye));
    }

    // A new connection starts a fresh stream, and the score panel names the new opponent. It
    // calls at the port of the last connection, which this side closed (TIME_WAIT), while no
    // descriptor is left (RLIMIT_NOFILE at the lowest free number): one box, with descriptors
    // handed back for it, held open while the listener rests with none left again, and the peer
    // is taken behind it once descriptors are free.
    void newConnectionStartsFreshStream()
    {
        TPlayer bob("Bob");
        const QByteArray chat = Encoded(pkChat, 0, "Paul: %1 %2");
        TRawPeer first = ConnectRawPeer(bob);
        const QString port = QString::number(bob.Sockets().LocalPort(bob.Net().Socket()));
        QVERIFY(first.SendAll(chat.left(10)));
        QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(bob.Net().Socket()) == 0; }));
        bob.Session.Disconnect();
        QVERIFY(RunModalUntil([&] { first.ReadAvailable(); return first.SawEndOfStream(); }));
        first.Close();
        QVERIFY(RunModalUntil([&] { return bob.Sockets().LingeringSockets() == 0; }));  // its descriptor freed
        bob.Session.Listen(port);
        bob.Window.ChatLines.clear();
        TRawPeer second = TRawPeer::ConnectTo(port.toUShort());
        rlimit saved{}, none{rlim_t(::dup(0)), 0};
        ::close(int(none.rlim_cur)), getrlimit(RLIMIT_NOFILE, &saved), none.rlim_max = saved.rlim_max;
        QVERIFY(setrlimit(RLIMIT_NOFILE, &none) == 0);
        std::uint64_t wakeups = 0;
        int spare = -1;
        bob.Window.OnBox = [&](const TShownBox&) {
            if (bob.Window.Boxes.size() > 1)  // a box over the box: failed below
                return int(IDOK);
            ::close(spare = ::dup(0)), none.rlim_cur = rlim_t(spare), setrlimit(RLIMIT_NOFILE, &none);
            wakeups = bob.Sockets().Wakeups();
            RunModalUntil([] { return false; }, 500);  // a resting listener tries a few times
            wakeups = bob.Sockets().Wakeups() - wakeups;
            setrlimit(RLIMIT_NOFILE, &saved);
            return RunModalUntil([&] { return bob.Net().State() == csConnected; }), int(IDOK);
        };
        QVERIFY(second.SendAll(Encoded(pkName, 0, "Zoé")));
        QVERIFY(RunModalUntil([&] { return bob.Window.Status.Panel1 == "Bob 0 - Zoé 0"; }));
        setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(FirstBox(bob) + QString::number(bob.Window.Boxes.size()), "Tessaro: Unable to accept connection1");
        QVERIFY2(spare >= 0 && wakeups < 20, qPrintable(QString::number(wakeups)));  // a listener that never rests: thousands
        QVERIFY(MoveIsApplied(bob, second));
        QVERIFY(second.SendAll(chat + QByteArray("\x01garbage", 8) + chat + Encoded(pkBye)));
        second.ShutdownWrite();
        QVERIFY(RunModalUntil([&] { return bob.Idle(); }));
        // Everything from the flaw on is dropped.
        QCOMPARE(bob.Window.ChatLines, (QStringList{"Paul: %1 %2", ":: Vous avez connecté à Zoé"}));
    }

    void playOverEitherFamily_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");  // on both sides
        QTest::newRow("::1") << "::1" << "::1";
        QTest::newRow("in brackets") << "[::1]" << "::1";
        QTest::newRow("IPv4 peer") << "127.0.0.1" << "127.0.0.1";
        QTest::newRow("IPv4 in brackets") << "[127.0.0.1]" << "127.0.0.1";
        QTest::newRow("v4-mapped") << "::ffff:127.0.0.1" << "127.0.0.1";
        QTest::newRow("name with an IPv6 address") << "jeu.test" << "::1";
    }

    void playOverEitherFamily()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        TPlayer bob("Bob"), alice("Alice", {.Connection = {.LookUpHost = Answer({Address("::1")})}});
        QVERIFY(Connect(bob, alice, typed));
        QCOMPARE(alice.Window.Status.Panel0, "Status: Connecté à " + shown + " sûr Port " + alice.Net().PortText() + " - Votre tour");
        QCOMPARE(bob.Window.Status.Panel0, "Status: Connecté à " + shown + " sûr Port 0 - Alice's tour");
        QVERIFY(alice.Window.Boxes.isEmpty() && bob.Window.Boxes.isEmpty());
    }

    // The peer's program listens on 127.0.0.1, where ::1 at its port refuses or never answers;
    // or on both.
    void severalAddresses_data()
    {
        QTest::addColumn<QString>("addresses");  // in the resolver's order
        QTest::addColumn<int>("ipv6");           // at ::1: 0 a refusal, 1 no answer, 2 the peer
        QTest::addColumn<int>("cut");          // 0 none, 1 Disconnect, 2 quit, before the second attempt
        QTest::addColumn<QString>("outcome");  // the address connected to, or the box
        QTest::newRow("first refuses") << "::1 127.0.0.1" << 0 << 0 << "127.0.0.1";
        QTest::newRow("first never answers") << "::1 127.0.0.1" << 1 << 0 << "127.0.0.1";
        QTest::newRow("IPv6 first") << "127.0.0.1 ::1" << 2 << 0 << "::1";
        QTest::newRow("all fail, a timeout last") << "::1 127.0.0.2" << 1 << 0
                                                  << "Winsock Error: Error 10060 in function Connect(Connect)\r\nConnection timed out";
        QTest::newRow("Disconnect") << "::1 127.0.0.1" << 1 << 1 << "";
        QTest::newRow("quit") << "::1 127.0.0.1" << 1 << 2 << "";
    }

    void severalAddresses()
    {
        QFETCH(QString, addresses);
        QFETCH(int, ipv6);
        QFETCH(int, cut);
        QFETCH(QString, outcome);
        const QList<TSocketAddress> v4{Address("192.0.2.1"), Address("192.0.2.2")},
            v6{Address("2001:db8::1"), Address("2001:db8::2"), Address("2001:db8::3")};
        QCOMPARE(TConnectAttempts::Interleave(v4 + v6), (QList{v6[0], v4[0], v6[1], v4[1], v6[2]}));
        TPlayer bob("Bob", {.Connection = {.LoopbackOnly = ipv6 != 2}});
        bob.Session.Listen("0");
        const std::uint16_t port = bob.Net().LocalPort();
        const auto blackHole = ipv6 == 1 ? Unanswered(port) : std::array<TRawPeer, 2>{};
        QList<TSocketAddress> list;
        for (const QString& address : addresses.split(' '))
            list.append(Address(qPrintable(address)));
        const bool fails = outcome.startsWith("Winsock");
        const int timeout = fails ? 1000 : TConnectAttempts::kAttemptMilliseconds;
        auto alice = std::make_unique<TPlayer>(
            "Alice", TSessionOptions{.Connection = {.LookUpHost = Answer(list), .ConnectTimeoutMilliseconds = timeout}});
        alice->Session.Connect("jeu.test", QString::number(port));
        QCOMPARE(alice->Window.Status.Panel0, "Status: Attente de connection");
        QVERIFY(alice->Window.Status.DisconnectEnabled && !alice->Window.Status.ConnectEnabled);
        if (cut != 0) {
            QVERIFY(RunModalUntil([&] { return alice->Sockets().OpenSockets() == 1; }));
            cut == 1 ? alice->Session.Disconnect() : alice.reset();
            QTest::qWait(400);
            QVERIFY(bob.Net().State() == csListening && (!alice || (alice->Idle() && alice->Window.Boxes.isEmpty())));
            return;
        }
        // Long before the kernel, or the 10 s limit, gives up on ::1.
        QVERIFY(RunModalUntil([&] { return alice->Net().State() == csConnected || !alice->Window.Boxes.isEmpty(); }, 5000));
        QCOMPARE(fails ? FirstBox(*alice) : alice->Net().PeerAddress(), outcome);
        // The loser is gone, and the peer's program saw one connection.
        QVERIFY(fails ? alice->Idle() && bob.Net().State() == csListening
                      : alice->Sockets().OpenSockets() == 1 && RunModalUntil([&] { return bob.Match().RemoteName == "Alice"; }));
    }

    // The lookup answers, with a peer that would accept, after the player gave up by Disconnect
    // or by ending the program: nothing connects, and nothing touches the freed session.
    void lookupAbandoned()
    {
        // Earlier listeners looked up this machine's name, on threads that count here too.
        RunModalUntil([] { return THostLookup::Running() == 0; });
        for (const bool quit : {false, true}) {
            TRawPeer peer = TRawPeer::Listener();
            auto release = std::make_shared<std::atomic<bool>>(false);
            const THostLookup::TResolve slow = [release](const QString&, int*) {
                while (!*release)
                    QThread::msleep(5);
                return QList<TSocketAddress>{Address("127.0.0.1")};
            };
            auto alice = std::make_unique<TPlayer>("Alice", TSessionOptions{.Connection = {.LookUpHost = slow}});
            alice->Session.Connect("lent.test", QString::number(peer.Port()));
            quit ? alice.reset() : alice->Session.Disconnect();
            *release = true;
            QVERIFY(RunModalUntil([] { return THostLookup::Running() == 0; }));
            QTest::qWait(50);
            QVERIFY(!peer.Accept().IsOpen());
            QVERIFY(quit || (alice->Idle() && alice->Window.Boxes.isEmpty()));
        }
    }

    // Of the interfaces, those the other player can reach, IPv4 first, each once; the status
    // names the first IPv4 one only when the host name is on loopback.
    void addressesToHandOut()
    {
        TInterfaceList interfaces;
        // One is down; one is there twice.
        for (const char* text : {"127.0.0.1", "::1", "10.9.9.9", "fe80::fc:ff:fe00:1", "2a01:e0a:1f2:3b40::12",
                                 "192.168.1.20", "169.254.3.4", "fd00::2", "10.0.0.7", "2a01:e0a:1f2:3b40::12"})
            interfaces.append({Address(text), text != QLatin1String("10.9.9.9"), Address(text).IsLoopback()});
        QCOMPARE(TSession::ListenAddress("127.0.1.1", interfaces), "192.168.1.20");
        QCOMPARE(TSession::ListenAddress("192.168.1.7", interfaces), "192.168.1.7");
        // A host entry the resolver takes its time over: the window does not wait for it.
        TSessionOptions options;
        options.LookUpHostEntry = [](const QString&) {
            QThread::msleep(300);
            return std::optional<THostEntry>({"jeu.test", {*TResolver::InetAddr("192.0.2.7")}});
        };
        options.ListInterfaces = [interfaces] { return interfaces; };
        TPlayer bob("Bob", options);
        bob.Session.Listen("0");
        QCOMPARE(bob.Window.ChatLines.join('|'), ":: Adresses: 192.168.1.20, 10.0.0.7, 2a01:e0a:1f2:3b40::12, fd00::2");
        const QString status = "Status:Ecoute pour connection: %1 (%2) sur Port 0";
        QCOMPARE(bob.Window.Status.Panel0, status.arg(*TResolver::GetHostName(), "192.168.1.20"));
        QVERIFY(RunModalUntil([&] { return bob.Window.Status.Panel0 == status.arg("jeu.test", "192.0.2.7"); }));
    }

    // This machine's own host name and interfaces, as a player here would see them.
    void realListeningStatus()
    {
        TPlayer bob("Bob");
        bob.Session.Listen("0");
        const QString status = bob.Window.Status.Panel0;
        const QString start = "Status:Ecoute pour connection: " + QSysInfo::machineHostName().section('.', 0, 0);
        QVERIFY2(status.startsWith(start) && status.endsWith(") sur Port 0"), qPrintable(status));
        bool reachable = false;
        for (const TInterfaceAddress& interface : TResolver::InterfaceAddresses())
            reachable |= interface.Up && !interface.Loopback && interface.Address.Family() == AF_INET;
        QVERIFY2(!reachable || !status.section('(', 1).startsWith("127."), qPrintable(status));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
