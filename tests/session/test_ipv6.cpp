// Play over IPv6 and over the dual-stack listener, names with several addresses, lookups
// abandoned half-way, and the addresses the listening player is told to hand out.

#include "net/HostLookup.h"
#include "support/Players.h"

#include <QSysInfo>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <atomic>
#include <memory>

namespace {

TSocketAddress Address(const char* text) { return *TResolver::AddressLiteral(QString::fromLatin1(text)); }

// A resolver that answers every name with the given addresses.
THostLookup::TResolve Answer(QList<TSocketAddress> list) { return [list](const QString&, int*) { return list; }; }

TInterfaceList Interfaces(std::initializer_list<std::pair<const char*, bool>> addresses)
{
    TInterfaceList list;
    for (const auto& [text, up] : addresses)
        list.append({Address(text), up, Address(text).IsLoopback()});
    return list;
}

}  // namespace

Q_DECLARE_METATYPE(TInterfaceAddress)

class TestIPv6 : public QObject
{
    Q_OBJECT

private slots:
    void playOverEitherFamily_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");  // on both sides
        QTest::newRow("::1") << "::1" << "::1";
        QTest::newRow("in brackets") << "[::1]" << "::1";
        QTest::newRow("IPv4 peer, short form") << "127.1" << "127.0.0.1";
        QTest::newRow("IPv4 in brackets") << "[127.0.0.1]" << "127.0.0.1";
        QTest::newRow("v4-mapped") << "::ffff:127.0.0.1" << "127.0.0.1";
        QTest::newRow("name with an IPv6 address") << "jeu.test" << "::1";
    }

    // Each side learns the other's name: packets went both ways.
    void playOverEitherFamily()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        TPlayer bob("Bob"), alice("Alice");
        alice.Net().LookUpHost = Answer({Address("::1")});
        bob.Session.Listen1Click("0");
        const QString port = QString::number(bob.Net().LocalPort());
        alice.Session.Connect1Click(typed, port);
        QVERIFY(RunModalUntil([&] { return bob.Match().RemoteName == "Alice" && alice.Match().RemoteName == "Bob"; }));
        QCOMPARE(alice.Window.Status().Panel0, "Status: Connecté à " + shown + " sûr Port " + port + " - Votre tour");
        QCOMPARE(bob.Window.Status().Panel0, "Status: Connecté à " + shown + " sûr Port 0 - Alice's tour");
        QVERIFY(alice.Window.Boxes.isEmpty() && bob.Window.Boxes.isEmpty());
    }

    void severalAddresses_data()
    {
        QTest::addColumn<bool>("secondListens");
        QTest::newRow("first refuses, second answers") << true;
        QTest::newRow("both refuse") << false;
    }

    // ::1 has no listener at the port; 127.0.0.1 has one or not.
    void severalAddresses()
    {
        QFETCH(bool, secondListens);
        TRawPeer peer = secondListens ? TRawPeer::Listener() : TRawPeer::BoundNotListening();
        TPlayer alice("Alice");
        alice.Net().LookUpHost = Answer({Address("::1"), Address("127.0.0.1")});
        alice.Session.Connect1Click("jeu.test", QString::number(peer.Port()));
        QCOMPARE(alice.Window.Status().Panel0, "Status: Attente de connection");
        QVERIFY(RunModalUntil([&] { return alice.Net().ConnectionState == (secondListens ? csConnected : csNone); }));
        QTest::qWait(50);
        QCOMPARE(alice.Net().PeerAddress, secondListens ? "127.0.0.1" : "");
        QCOMPARE(alice.Window.Boxes.size(), secondListens ? 0 : 1);
        QCOMPARE(alice.Box().Text, secondListens ? "" : "Error 10061 in function Connect(Connect)\r\nConnection refused");
    }

    // The answer comes after the player gave up (Disconnect, or the program ends), and names a
    // peer that would accept.
    void lookupAbandoned()
    {
        for (const bool quit : {false, true}) {
            TRawPeer peer = TRawPeer::Listener();
            auto alice = std::make_unique<TPlayer>("Alice");
            auto release = std::make_shared<std::atomic<bool>>(false);
            alice->Net().LookUpHost = [release](const QString&, int*) {
                for (int i = 0; i < 1000 && !*release; ++i)
                    QThread::msleep(10);
                return QList<TSocketAddress>{Address("127.0.0.1")};
            };
            alice->Session.Connect1Click("lent.test", QString::number(peer.Port()));
            QCOMPARE(alice->Net().ConnectionState, csConnecting);
            quit ? alice.reset() : alice->Session.Disconnect1Click();
            *release = true;
            QVERIFY(RunModalUntil([] { return THostLookup::Running() == 0; }));
            QTest::qWait(50);
            QVERIFY(!peer.Accept().IsOpen());
            QVERIFY(quit || (alice->Net().ConnectionState == csNone && alice->Window.Boxes.isEmpty()));
        }
    }

    void garbageOverIPv6IsDropped()
    {
        TPlayer bob("Bob");
        bob.Session.Listen1Click("0");
        const sockaddr_in6 address{AF_INET6, htons(bob.Net().LocalPort()), 0, in6addr_loopback, 0};
        TRawPeer peer(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        QCOMPARE(::connect(peer.Descriptor(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        QVERIFY(RunModalUntil([&] { return bob.Net().ConnectionState == csConnected; }));
        QVERIFY(peer.SendAll(QByteArray(4096, '\x01') + "TSRO1000"));
        QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(bob.Net().Sock) == 0; }));
        QVERIFY(peer.SendAll(Encoded(pkChat, 0, "Paul: salut")));
        QVERIFY(RunModalUntil([&] { return bob.Window.ChatLines.first() == "Paul: salut"; }));
        QCOMPARE(bob.Window.ChatLines.size(), 2);  // the addresses, then the line
        QCOMPARE(bob.Net().ConnectionState, csConnected);
    }

    void addressesToHandOut_data()
    {
        QTest::addColumn<TInterfaceList>("interfaces");
        QTest::addColumn<QString>("hostAddress");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("notice");
        const TInterfaceList loopback = Interfaces({{"127.0.0.1", true}, {"::1", true}});
        const TInterfaceList lan = loopback + Interfaces({{"192.168.1.20", true}});
        const TInterfaceList several = loopback
            + Interfaces({{"10.9.9.9", false}, {"fe80::fc:ff:fe00:1", true}, {"2a01:e0a:1f2:3b40::12", true},
                          {"192.168.1.20", true}, {"169.254.3.4", true}, {"fd00::2", true}, {"10.0.0.7", true},
                          {"2a01:e0a:1f2:3b40::12", true}});
        QTest::newRow("loopback only") << loopback << "127.0.1.1" << "127.0.1.1" << ":: Adresses: aucune";
        QTest::newRow("loopback and a LAN address") << lan << "127.0.0.1" << "192.168.1.20" << ":: Adresses: 192.168.1.20";
        QTest::newRow("host name not on loopback") << lan << "192.168.1.7" << "192.168.1.7" << ":: Adresses: 192.168.1.20";
        QTest::newRow("several") << several << "127.0.1.1" << "192.168.1.20"
                                 << ":: Adresses: 192.168.1.20, 10.0.0.7, 2a01:e0a:1f2:3b40::12, fd00::2";
    }

    // The status's address, and the chat notice as the log shows it on listening.
    void addressesToHandOut()
    {
        QFETCH(TInterfaceList, interfaces);
        QFETCH(QString, hostAddress);
        QTEST(TConnectionManager::ListenAddress(hostAddress, interfaces), "shown");
        TPlayer bob("Bob");
        bob.Net().ListInterfaces = [interfaces] { return interfaces; };
        bob.Session.Listen1Click("0");
        QTEST(bob.Window.ChatLines.join('|'), "notice");
    }

    // This machine's own host name and interfaces, as a player here would see them.
    void realListeningStatus()
    {
        TPlayer bob("Bob");
        bob.Session.Listen1Click("0");
        const QString status = bob.Window.Status().Panel0;
        const QString start = "Status:Ecoute pour connection: " + QSysInfo::machineHostName().section('.', 0, 0);
        QVERIFY2(status.startsWith(start) && status.endsWith(") sur Port 0"), qPrintable(status));
        bool reachable = false;
        for (const TInterfaceAddress& interface : TResolver::InterfaceAddresses())
            reachable |= interface.Up && !interface.Loopback && interface.Address.Family() == AF_INET;
        QVERIFY2(!reachable || !status.section('(', 1).startsWith("127."), qPrintable(status));
    }
};

QTEST_GUILESS_MAIN(TestIPv6)
#include "test_ipv6.moc"
