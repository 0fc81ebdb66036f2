#include "support/FourReference.h"
#include "support/PeerThread.h"
#include "support/Players.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <netinet/tcp.h>
#include <thread>

namespace {

// A loopback relay that passes each direction on in pieces of random size, single bytes
// among them, one piece per direction per turn of the event loop: the receiving program
// meets packets cut at every place. A half-close is passed on behind the bytes before it.
class TRelay
{
public:
    explicit TRelay(quint32 seed) : Random(seed), Listener(TRawPeer::Listener())
    {
        QObject::connect(&Pump, &QTimer::timeout, &Pump, [this] { Turn(); });
        Pump.start(0);
    }
    std::uint16_t Port() const { return Listener.Port(); }
    std::uint16_t Target = 0;

private:
    struct TWay { TRawPeer* From; TRawPeer* To; QByteArray Pending; bool Shut = false; };

    void Turn()
    {
        if (!Client.IsOpen() || (Ways[0].Shut && Ways[1].Shut)) {
            if (TRawPeer incoming = Listener.Accept(); incoming.IsOpen()) {
                Client = std::move(incoming);
                Server = TRawPeer::ConnectTo(Target);
                const int on = 1;  // pieces leave at once, not when Nagle and delayed ACKs allow
                for (const TRawPeer* peer : {&Client, &Server})
                    ::setsockopt(peer->Descriptor(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                Ways[0] = {&Client, &Server, {}};
                Ways[1] = {&Server, &Client, {}};
            }
            return;
        }
        for (TWay& way : Ways) {
            way.Pending += way.From->ReadAvailable();
            const qsizetype size = std::min<qsizetype>(way.Pending.size(), Random.bounded(3) ? Random.bounded(1, 12) : 1);
            way.Pending.remove(0, way.To->Send(QByteArrayView(way.Pending).first(size)));
            if (way.Pending.isEmpty() && way.From->SawEndOfStream() && !way.Shut)
                way.To->ShutdownWrite(), way.Shut = true;
        }
    }

    QRandomGenerator Random;
    TRawPeer Listener, Client, Server;
    TWay Ways[2];
    QTimer Pump;
};

// The chat lines a receiver shows from one sender, oldest first.
QStringList LinesFrom(const TPlayer& receiver, const QString& sender)
{
    QStringList lines = receiver.Window.ChatLines.filter(QRegularExpression("^" + sender + ": "));
    std::reverse(lines.begin(), lines.end());
    return lines;
}

}  // namespace

class TestStress : public QObject
{
    Q_OBJECT

private slots:
    // Random games, chat lines and declined rematches through the chopping relay; 120 games make
    // about 20 connections, so names and goodbyes are cut at many places too. After every move
    // both boards match a reference, and every win is the reference's.
    void soak()
    {
        const int games = qEnvironmentVariableIsSet("TESSARO_SOAK_GAMES") ? qEnvironmentVariableIntValue("TESSARO_SOAK_GAMES") : 120;
        QRandomGenerator random(20240611);
        TRelay relay(7);
        TPlayer alice("Alice"), bob("Bob");
        QStringList sent[2];
        int wins[2] = {0, 0};
        TBoard reference[2];  // each player's view
        for (int game = 0; game < games;) {
            if (alice.Net().ConnectionState != csConnected) {
                QVERIFY(RunModalUntil([&] { return alice.Idle() && bob.Idle(); }));
                QCOMPARE(LinesFrom(bob, "Alice"), sent[0]);
                QCOMPARE(LinesFrom(alice, "Bob"), sent[1]);
                alice.Window = bob.Window = TFakeWindow();
                sent[0].clear(), sent[1].clear(), wins[0] = wins[1] = 0, reference[0] = reference[1] = TBoard();
                bob.Session.Listen1Click("0");
                relay.Target = bob.Net().LocalPort();
                alice.Session.Connect1Click("127.0.0.1", QString::number(relay.Port()));
                QVERIFY(RunModalUntil([&] {
                    return bob.Match().GameState == gsRemoteTurn && bob.Match().RemoteName == "Alice" && alice.Match().RemoteName == "Bob";
                }));
            }
            const int m = alice.Match().GameState == gsLocalTurn ? 0 : 1;  // the mover: 0 Alice, 1 Bob
            TPlayer& mover = m ? bob : alice;
            TPlayer& other = m ? alice : bob;
            QCOMPARE(other.Match().GameState, gsRemoteTurn);
            if (random.bounded(6) == 0) {
                const QString text = PacketSamples::SampleText(random, random.bounded(2) ? random.bounded(240, 300) : 8);
                mover.Session.EnterChatText(text);
                sent[m] << mover.Match().LocalName + ": " + text;
            }
            QList<int> open;
            for (int col = 1; col <= kColumns; ++col)
                if (reference[0].Cell(col, kRows) == cvEmpty)
                    open << col;
            if (open.isEmpty()) {
                mover.Window.BoxAnswers = {IDYES};  // a drawn game is abandoned for a new one
                mover.Session.New1Click();
                reference[0] = reference[1] = TBoard();
                QVERIFY(RunModalUntil([&] { return other.Match().Board == TBoard() && other.Match().GameState == gsRemoteTurn; }));
                continue;
            }
            const int col = open[random.bounded(int(open.size()))];
            const int row = reference[m].Drop(col, cvLocal);
            reference[1 - m].Drop(col, cvRemote);
            const auto fours = ReferenceFours(reference[m], cvLocal);
            const bool rematch = random.bounded(6) != 0;
            bool seenAlike = false;  // by the loser, while the play-again box is open
            other.Window.OnPlayAgain = [&, reference](const QString&) {
                std::vector lines(alice.Window.WinLines.begin(), alice.Window.WinLines.end());
                std::sort(lines.begin(), lines.end());
                seenAlike = alice.Match().Board == reference[0] && bob.Match().Board == reference[1] && lines == fours
                    && bob.Window.WinLines == alice.Window.WinLines;
                return rematch ? IDOK : IDCANCEL;
            };
            alice.Window.WinLines.clear(), bob.Window.WinLines.clear();
            mover.Session.PlayLocalMove(col, row);
            if (fours.empty()) {
                QVERIFY(RunModalUntil([&] { return other.Match().GameState == gsLocalTurn; }));
                QCOMPARE(other.Match().Board, reference[1 - m]);
                QCOMPARE(mover.Match().GameState, gsRemoteTurn);
                continue;
            }
            ++game, ++wins[m], reference[0] = reference[1] = TBoard();
            QVERIFY(RunModalUntil([&] { return rematch ? mover.Match().GameState == gsRemoteTurn : alice.Idle() && bob.Idle(); }));
            QVERIFY(seenAlike);
            if (!rematch)
                continue;
            QCOMPARE(alice.Match().Board, TBoard());
            QCOMPARE(other.Match().GameState, gsLocalTurn);
            QCOMPARE(alice.Match().LocalScore, wins[0]);
            QCOMPARE(bob.Match().LocalScore, wins[1]);
            QCOMPARE(alice.Match().RemoteScore, wins[1]);
        }
    }

    void hostilePeer_data()
    {
        QTest::addColumn<int>("script");
        QTest::newRow("4 MB of random bytes") << 0;
        QTest::newRow("a 2 GiB string, then a trickle") << 1;
        QTest::newRow("connects and says nothing") << 2;
    }

    // Whatever the peer sends, the program keeps its connection, shows nothing, and plays on.
    void hostilePeer()
    {
        QFETCH(int, script);
        const TPeerThread::TScript scripts[] = {
            [](TRawPeer& peer) {
                QRandomGenerator random(50);
                QByteArray chunk(64 * 1024, Qt::Uninitialized);
                bool ok = true;
                for (int i = 0; i < 64 && ok; ++i)
                    random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4), ok = peer.SendAll(chunk);
                return ok;
            },
            // A chat packet that declares a 2 GiB text, then a trickle: nothing may wait for or hold it.
            [](TRawPeer& peer) {
                bool ok = peer.SendAll(Encoded(pkChat).first(17) + QByteArray::fromHex("0cffffff7f"));
                for (int i = 0; i < 100 && ok; ++i)
                    ok = peer.SendAll("x"), std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return ok;
            },
            [](TRawPeer&) { return std::this_thread::sleep_for(std::chrono::milliseconds(100)), true; }};
        TPlayer bob("Bob");
        TRawPeer peer = ConnectRawPeer(bob);
        QVERIFY(peer.IsOpen());
        const TSocket sock = bob.Net().Sock;
        qsizetype largestInbox = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] { largestInbox = std::max(largestInbox, bob.Sockets().InboxBytes(sock)); });
        sampler.start(1);
        TPeerThread attack(std::move(peer), scripts[script]);
        QVERIFY(RunModalUntil([&] { return attack.Finished(); }));
        QVERIFY2(attack.Succeeded(), "the program stopped taking bytes");
        QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(sock) == 0; }));
        QVERIFY(attack.Peer().SendAll(QByteArray(16, char(0xFF))));  // any packet still pending is a flaw now
        QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(sock) == 0; }));
        QCOMPARE(bob.Net().ConnectionState, csConnected);
        QVERIFY(bob.Window.ChatLines.isEmpty() && bob.Window.Boxes.isEmpty());
        QVERIFY(largestInbox <= TSocketLayer::kInboxLimit + 64 * 1024);
        QVERIFY(MoveIsApplied(bob, attack.Peer()));
    }

    // Queuing without end for a peer that reads nothing would only hide that it is gone.
    void peerThatNeverReadsIsGivenUp()
    {
        TPlayer bob("Bob");
        TRawPeer peer = ConnectRawPeer(bob);
        const QString line(1000, QChar(u'é'));
        for (int lines = 0; bob.Net().ConnectionState == csConnected && lines < 200000; ++lines) {
            bob.Session.SendChatLine(line);
            QVERIFY(bob.Sockets().QueuedBytes(bob.Net().Sock) <= TSocketLayer::kSendQueueLimit);
            if (lines % 64 == 0)
                QCoreApplication::processEvents();
        }
        QCOMPARE(bob.Net().ConnectionState, csNone);
        QVERIFY(bob.Window.Boxes.isEmpty());
        QVERIFY(RunModalUntil([&] { return bob.Sockets().OpenSockets() == 0 && bob.Sockets().LingeringSockets() == 0; }));
        QVERIFY(RunModalUntil([&] { peer.ReadAvailable(); return peer.SawEndOfStream(); }));
        TRawPeer next = ConnectRawPeer(bob);
        QVERIFY(MoveIsApplied(bob, next));
    }

    // Thousands of packets and a goodbye arrive before the close: all are shown, in order.
    void burstBeforeACloseIsHandledWhole()
    {
        TPlayer bob("Bob");
        TRawPeer peer = ConnectRawPeer(bob);
        QByteArray burst = Encoded(pkName, 0, "Zoé");
        QStringList expected{":: Zoé a deconnecté", ":: Vous avez connecté à Zoé"};
        for (int i = 0; i < 2000; ++i)
            burst += Encoded(pkChat, 0, QString::number(i)), expected.insert(1, QString::number(i));
        QVERIFY(peer.SendAll(burst + Encoded(pkBye)));
        peer.ShutdownWrite();  // a plain close would reset, as the peer never read our name
        QVERIFY(RunModalUntil([&] { return bob.Net().ConnectionState == csNone; }));
        QCOMPARE(bob.Window.ChatLines, expected);
    }
};

QTEST_GUILESS_MAIN(TestStress)
#include "test_stress.moc"
