#include "support/FourReference.h"
#include "support/PeerThread.h"
#include "support/Players.h"

#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <chrono>
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
                for (const TRawPeer* peer : {&Client, &Server}) {
                    const int on = 1;  // pieces leave at once, not when Nagle and delayed ACKs allow
                    ::setsockopt(peer->Descriptor(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                }
                Ways[0] = {&Client, &Server, {}};
                Ways[1] = {&Server, &Client, {}};
            }
            return;
        }
        for (TWay& way : Ways) {
            way.Pending += way.From->ReadAvailable();
            const qsizetype size = std::min<qsizetype>(way.Pending.size(), Random.bounded(3) ? Random.bounded(1, 12) : 1);
            way.Pending.remove(0, way.To->Send(QByteArrayView(way.Pending).first(size)));
            if (way.Pending.isEmpty() && way.From->SawEndOfStream() && !way.Shut) {
                way.To->ShutdownWrite();
                way.Shut = true;
            }
        }
    }

    QRandomGenerator Random;
    TRawPeer Listener, Client, Server;
    TWay Ways[2] = {{&Client, &Server, {}}, {&Server, &Client, {}}};
    QTimer Pump;
};

TBoard Mirror(const TBoard& board)
{
    TBoard mirrored;
    for (int col = 1; col <= kColumns; ++col)
        for (int row = 1; row <= kRows; ++row)
            mirrored.SetCell(col, row, board.Cell(col, row) ? 3 - board.Cell(col, row) : cvEmpty);
    return mirrored;
}

// The chat lines a receiver shows from one sender, oldest first.
QStringList LinesFrom(const TPlayer& receiver, const QString& sender)
{
    QStringList lines;
    for (const QString& line : receiver.Window.ChatLines)
        if (line.startsWith(sender + ": "))
            lines.prepend(line);
    return lines;
}

bool SendRandomBytes(TRawPeer& peer)
{
    QRandomGenerator random(50);
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    for (int i = 0; i < 64; ++i) {
        random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        if (!peer.SendAll(chunk))
            return false;
    }
    return true;
}

// A chat packet that declares a 2 GiB text, then a trickle: nothing may wait for or hold it.
bool DeclareHugeStringThenTrickle(TRawPeer& peer)
{
    if (!peer.SendAll(Encoded(pkChat).first(17) + QByteArray::fromHex("0cffffff7f")))
        return false;
    for (int i = 0; i < 100; ++i) {
        if (!peer.SendAll("x"))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool StaySilent(TRawPeer&)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return true;
}

}  // namespace

class TestStress : public QObject
{
    Q_OBJECT

private slots:
    void soak();
    void hostilePeer_data();
    void hostilePeer();
    void peerThatNeverReadsIsGivenUp();
    void burstBeforeACloseIsHandledWhole();
};

// Random games, chat lines and declined rematches through the chopping relay; 120 games make
// about 20 connections, so names and goodbyes are cut at many places too. After every move
// both boards match a reference, and every win is the reference's.
void TestStress::soak()
{
    const int games = qEnvironmentVariableIsSet("TESSARO_SOAK_GAMES") ? qEnvironmentVariableIntValue("TESSARO_SOAK_GAMES") : 120;
    QRandomGenerator random(20240611);
    TRelay relay(7);
    TPlayer alice("Alice"), bob("Bob");
    QStringList sent[2];
    int wins[2] = {0, 0};
    TBoard reference;  // Alice's view
    for (int game = 0; game < games;) {
        if (alice.Net().ConnectionState != csConnected) {
            QVERIFY(RunModalUntil([&] { return alice.Idle() && bob.Idle(); }));
            QCOMPARE(LinesFrom(bob, "Alice"), sent[0]);
            QCOMPARE(LinesFrom(alice, "Bob"), sent[1]);
            for (TPlayer* p : {&alice, &bob})
                p->Window = TFakeWindow();
            sent[0].clear(), sent[1].clear(), wins[0] = wins[1] = 0, reference = TBoard();
            bob.Session.Listen1Click("0");
            relay.Target = bob.Net().LocalPort();
            alice.Session.Connect1Click("127.0.0.1", QString::number(relay.Port()));
            QVERIFY(RunModalUntil([&] { return bob.Match().GameState == gsRemoteTurn && bob.Match().RemoteName == "Alice"; }));
            QVERIFY(RunModalUntil([&] { return alice.Match().RemoteName == "Bob"; }));
        }
        const bool aliceMoves = alice.Match().GameState == gsLocalTurn;
        TPlayer& mover = aliceMoves ? alice : bob;
        TPlayer& other = aliceMoves ? bob : alice;
        QCOMPARE(other.Match().GameState, gsRemoteTurn);
        if (random.bounded(6) == 0) {
            const QString text = PacketSamples::SampleText(random, random.bounded(2) ? random.bounded(240, 300) : 8);
            mover.Session.EnterChatText(text);
            sent[aliceMoves ? 0 : 1] << mover.Match().LocalName + ": " + text;
        }
        QList<int> open;
        for (int col = 1; col <= kColumns; ++col)
            if (reference.Cell(col, kRows) == cvEmpty)
                open << col;
        if (open.isEmpty()) {
            mover.Window.BoxAnswers = {IDYES};  // a drawn game is abandoned for a new one
            mover.Session.New1Click();
            reference = TBoard();
            QVERIFY(RunModalUntil([&] { return other.Match().Board == TBoard() && other.Match().GameState == gsRemoteTurn; }));
            continue;
        }
        const int col = open[random.bounded(int(open.size()))];
        const int row = reference.Drop(col, aliceMoves ? cvLocal : cvRemote);
        const auto fours = ReferenceFours(reference, aliceMoves ? cvLocal : cvRemote);
        const bool rematch = random.bounded(6) != 0;
        bool seenAlike = false;  // by the loser, while the play-again box is open
        other.Window.OnPlayAgain = [&, reference](const QString&) {
            std::vector lines(alice.Window.WinLines.begin(), alice.Window.WinLines.end());
            std::sort(lines.begin(), lines.end());
            seenAlike = alice.Match().Board == reference && bob.Match().Board == Mirror(reference) && lines == fours
                && bob.Window.WinLines == alice.Window.WinLines;
            return rematch ? IDOK : IDCANCEL;
        };
        alice.Window.WinLines.clear(), bob.Window.WinLines.clear();
        mover.Session.PlayLocalMove(col, row);
        if (fours.empty()) {
            QVERIFY(RunModalUntil([&] { return other.Match().GameState == gsLocalTurn; }));
            QCOMPARE(other.Match().Board, aliceMoves ? Mirror(reference) : reference);
            QCOMPARE(mover.Match().GameState, gsRemoteTurn);
            continue;
        }
        ++game, ++wins[aliceMoves ? 0 : 1], reference = TBoard();
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

void TestStress::hostilePeer_data()
{
    QTest::addColumn<int>("script");
    QTest::newRow("4 MB of random bytes") << 0;
    QTest::newRow("a 2 GiB string, then a trickle") << 1;
    QTest::newRow("connects and says nothing") << 2;
}

// Whatever the peer sends, the program keeps its connection, shows nothing, and plays on.
void TestStress::hostilePeer()
{
    QFETCH(int, script);
    const TPeerThread::TScript scripts[] = {SendRandomBytes, DeclareHugeStringThenTrickle, StaySilent};
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
    QCOMPARE(bob.Window.ChatLines.size(), 0);
    QVERIFY(bob.Window.Boxes.isEmpty());
    QVERIFY(largestInbox <= TSocketLayer::kInboxLimit + 64 * 1024);
    QVERIFY(MoveIsApplied(bob, attack.Peer()));
}

// Queuing without end for a peer that reads nothing would only hide that it is gone.
void TestStress::peerThatNeverReadsIsGivenUp()
{
    TPlayer bob("Bob");
    TRawPeer peer = ConnectRawPeer(bob);
    const QString line(1000, QChar(u'é'));
    int lines = 0;
    for (; bob.Net().ConnectionState == csConnected && lines < 200000; ++lines) {
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
void TestStress::burstBeforeACloseIsHandledWhole()
{
    TPlayer bob("Bob");
    TRawPeer peer = ConnectRawPeer(bob);
    QByteArray burst = Encoded(pkName, 0, "Zoé");
    QStringList expected{":: Vous avez connecté à Zoé"};
    for (int i = 0; i < 2000; ++i) {
        burst += Encoded(pkChat, 0, QString::number(i));
        expected.prepend(QString::number(i));
    }
    expected.prepend(":: Zoé a deconnecté");
    QVERIFY(peer.SendAll(burst + Encoded(pkBye)));
    peer.ShutdownWrite();  // a plain close would reset, as the peer never read our name
    QVERIFY(RunModalUntil([&] { return bob.Net().ConnectionState == csNone; }));
    QCOMPARE(bob.Window.ChatLines, expected);
}

QTEST_GUILESS_MAIN(TestStress)
#include "test_stress.moc"
