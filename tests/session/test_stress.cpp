#include "support/FourReference.h"
#include "support/Players.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <netinet/tcp.h>
#include <atomic>
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
    void Turn()
    {
        if (!Ends[0].IsOpen() || (Shut[0] && Shut[1])) {
            if (TRawPeer incoming = Listener.Accept(); incoming.IsOpen()) {
                Ends[0] = std::move(incoming), Ends[1] = TRawPeer::ConnectTo(Target);
                const int on = 1;  // pieces leave at once, not when Nagle and delayed ACKs allow
                for (const TRawPeer& end : Ends)
                    ::setsockopt(end.Descriptor(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                Pending[0].clear(), Pending[1].clear(), Shut[0] = Shut[1] = false;
            }
            return;
        }
        for (const int from : {0, 1}) {
            QByteArray& pending = Pending[from] += Ends[from].ReadAvailable();
            const qsizetype size = std::min<qsizetype>(pending.size(), Random.bounded(3) ? Random.bounded(1, 12) : 1);
            pending.remove(0, Ends[1 - from].Send(QByteArrayView(pending).first(size)));
            if (pending.isEmpty() && Ends[from].SawEndOfStream() && !Shut[from])
                Ends[1 - from].ShutdownWrite(), Shut[from] = true;
        }
    }

    QRandomGenerator Random;
    TRawPeer Listener, Ends[2];  // the connecting player's end, the listening player's
    QByteArray Pending[2];       // read from that end, not yet passed on
    bool Shut[2] = {};           // that end's half-close passed on
    QTimer Pump;
};

}  // namespace

class TestStress : public QObject
{
    Q_OBJECT

private slots:
    // Random games and chat lines through the chopping relay. A sixth of the games end with a
    // declined rematch and a sixth with the winner leaving while the loser's play-again box is
    // open: 100 games make about 35 goodbyes, the rarest packet, which is about what it takes
    // for every kind to be cut at every position. After every move both boards match a reference.
    void soak()
    {
        const int games = qEnvironmentVariableIsSet("TESSARO_SOAK_GAMES") ? qEnvironmentVariableIntValue("TESSARO_SOAK_GAMES") : 100;
        QRandomGenerator random(20240611);
        TRelay relay(7);
        TPlayer alice("Alice"), bob("Bob");
        QStringList sent[2];
        int wins[2] = {0, 0};
        TBoard view[2];  // each player's
        for (int game = 0; game < games;) {
            if (alice.Net().State() != csConnected) {
                QVERIFY(RunModalUntil([&] { return alice.Idle() && bob.Idle(); }));
                QCOMPARE(bob.Window.ChatLines.filter(QRegularExpression("^Alice: ")), sent[0]);
                QCOMPARE(alice.Window.ChatLines.filter(QRegularExpression("^Bob: ")), sent[1]);
                alice.Window = bob.Window = TFakeWindow();
                sent[0].clear(), sent[1].clear(), wins[0] = wins[1] = 0, view[0] = view[1] = TBoard();
                bob.Session.Listen("0");
                relay.Target = bob.Net().LocalPort();
                alice.Session.Connect("127.0.0.1", QString::number(relay.Port()));
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
                sent[m].prepend(mover.Match().LocalName + ": " + text);  // newest first, as the chat log shows them
            }
            QList<int> open;
            for (int col = 1; col <= kColumns; ++col)
                if (view[0].Cell(col, kRows) == cvEmpty)
                    open << col;
            if (open.isEmpty()) {  // a drawn game is abandoned for a new one
                mover.Window.OnBox = [](const TShownBox&) { return int(IDYES); };
                mover.Session.New1Click();
                mover.Window.OnBox = nullptr, view[0] = view[1] = TBoard();
                QVERIFY(RunModalUntil([&] { return other.Match().Board == TBoard() && other.Match().GameState == gsRemoteTurn; }));
                continue;
            }
            const int col = open[random.bounded(int(open.size()))];
            const int row = view[m].Drop(col, cvLocal);
            view[1 - m].Drop(col, cvRemote);
            const bool won = !ReferenceFours(view[m], cvLocal).empty();
            const int ending = random.bounded(6);  // 0: the loser declines, 1: the winner leaves, else a rematch
            const bool rematch = ending > 1;
            bool seenAlike = false;  // by the loser, while the play-again box is open
            other.Window.OnPlayAgain = [&, view](const QString&) {
                seenAlike = alice.Match().Board == view[0] && bob.Match().Board == view[1];
                if (ending == 1)  // the close is handled under the interrupted packet handling
                    mover.Session.Disconnect(), seenAlike &= RunModalUntil([&] { return other.Net().Socket() == 0; });
                return rematch ? IDOK : IDCANCEL;
            };
            mover.Session.PlayLocalMove(col, row);
            if (!won) {
                QVERIFY(RunModalUntil([&] { return other.Match().GameState == gsLocalTurn; }));
                QCOMPARE(other.Match().Board, view[1 - m]);
                continue;
            }
            ++game, ++wins[m], view[0] = view[1] = TBoard();
            QVERIFY(RunModalUntil([&] { return rematch ? mover.Match().GameState == gsRemoteTurn : alice.Idle() && bob.Idle(); }));
            QVERIFY(seenAlike);
            QVERIFY(!rematch || (alice.Match().LocalScore == wins[0] && alice.Match().RemoteScore == wins[1]
                                 && bob.Match().LocalScore == wins[1]));
        }
    }

    void hostilePeer_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<int>("trickle");  // single bytes after it, a millisecond apart
        QByteArray random(4 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(50).fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
        QTest::newRow("4 MB of random bytes") << random << 0;
        // A chat packet that declares a 2 GiB text: nothing may wait for or hold it.
        QTest::newRow("a 2 GiB string, then a trickle") << Encoded(pkChat).first(17) + QByteArray::fromHex("0cffffff7f") << 100;
    }

    // Whatever the peer sends, the program keeps its connection, shows nothing, and plays on.
    void hostilePeer()
    {
        QFETCH(QByteArray, start);
        QFETCH(int, trickle);
        TPlayer bob("Bob");
        TRawPeer peer = ConnectRawPeer(bob);
        const TSocket sock = bob.Net().Socket();
        qsizetype largestInbox = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] { largestInbox = std::max(largestInbox, bob.Sockets().InboxBytes(sock)); });
        sampler.start(1);
        // The peer may block on a full connection, so it sends from a thread of its own.
        std::atomic<int> sent = -1;
        std::thread attack([&] {
            bool ok = peer.SendAll(start);
            for (int i = 0; i < trickle && ok; ++i)
                ok = peer.SendAll("x"), std::this_thread::sleep_for(std::chrono::milliseconds(1));
            sent = ok;
        });
        const bool finished = RunModalUntil([&] { return sent >= 0; });
        attack.join();
        QVERIFY2(finished && sent == 1, "the program stopped taking bytes");
        QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(sock) == 0; }));
        QVERIFY(peer.SendAll(QByteArray(16, char(0xFF))));  // any packet still pending is a flaw now
        QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(sock) == 0; }));
        QCOMPARE(bob.Net().State(), csConnected);
        QVERIFY(bob.Window.ChatLines.isEmpty() && bob.Window.Boxes.isEmpty());
        QVERIFY(largestInbox <= TSocketLayer::kInboxLimit + 64 * 1024);
        QVERIFY(MoveIsApplied(bob, peer));
    }

    // Queuing without end for a peer that reads nothing would only hide that it is gone.
    void peerThatNeverReadsIsGivenUp()
    {
        TPlayer bob("Bob");
        TRawPeer peer = ConnectRawPeer(bob);
        const QString line(1000, QChar(u'é'));
        for (int lines = 0; bob.Net().State() == csConnected && lines < 200000; ++lines) {
            bob.Session.SendChatLine(line);
            QVERIFY(bob.Sockets().QueuedBytes(bob.Net().Socket()) <= TSocketLayer::kSendQueueLimit);
            if (lines % 64 == 0)
                QCoreApplication::processEvents();
        }
        QCOMPARE(bob.Net().State(), csNone);
        QVERIFY(bob.Window.Boxes.isEmpty());
        QVERIFY(RunModalUntil([&] { return bob.Sockets().OpenSockets() == 0 && bob.Sockets().LingeringSockets() == 0; }));
        QVERIFY(RunModalUntil([&] { peer.ReadAvailable(); return peer.SawEndOfStream(); }));
        TRawPeer next = ConnectRawPeer(bob);
        QVERIFY(MoveIsApplied(bob, next));
    }
};

QTEST_GUILESS_MAIN(TestStress)
#include "test_stress.moc"
