// Peers that flood, never finish a string, say nothing, never read or outpace the reader: no
// handling of a socket event may take 50 ms, memory stays bounded, and a surviving connection
// still applies a well-formed move afterwards.

#include "net/PacketSamples.h"
#include "session/Session.h"
#include "net/SocketLayer.h"
#include "support/FakeWindow.h"
#include "support/ModalLoop.h"
#include "support/PeerThread.h"
#include "support/RawPeer.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <thread>

namespace {

constexpr int kPatience = 60000;
constexpr qint64 kMaxHandlingNs = 50 * 1000 * 1000;
constexpr qsizetype kChunk = 64 * 1024;
// Drain stops before a read that would start at the limit; one read is at most this long.
constexpr qsizetype kInboxCeiling = TSocketLayer::kInboxLimit + kChunk;

class TPlayer
{
public:
    explicit TPlayer(const QString& name)
    {
        Session.Match.LocalName = name;
        Session.UpdateStatus();
    }

    TConnectionManager& Net() { return Session.Connection; }
    TMatchFlow& Match() { return Session.Match; }
    TSocketLayer& Sockets() { return Session.SocketLayer(); }

    TFakeWindow Window;
    TSession Session{Window};
};

// The player listens and a raw peer connects; invalid when that fails.
TRawPeer ConnectPeer(TPlayer& player)
{
    player.Session.Listen1Click(QStringLiteral("0"));
    TRawPeer peer = TRawPeer::ConnectTo(player.Net().LocalPort());
    if (!RunModalUntil([&] { return player.Net().ConnectionState == csConnected; }, kPatience))
        peer.Close();
    return peer;
}

QByteArray Encoded(std::int32_t kind, std::int32_t column = 0, const QString& text = {})
{
    return EncodePacket(PacketSamples::MakePacket(kind, text, column));
}

// The proof that the connection still works: a new game and a move in column 4.
bool MoveIsApplied(TPlayer& player, TRawPeer& peer)
{
    const auto applied = [&] { return player.Match().Board.Cell(4, 1) == cvRemote && player.Match().GameState == gsLocalTurn; };
    return peer.SendAll(Encoded(pkNewGame) + Encoded(pkMove, 4)) && RunModalUntil(applied, kPatience);
}

bool SendRandomBytes(TRawPeer& peer)
{
    constexpr qsizetype kTotal = 50 * 1000 * 1000;
    QRandomGenerator random(50);
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (qsizetype sent = 0; sent < kTotal; sent += chunk.size()) {
        random.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        if (!peer.SendAll(chunk))
            return false;
    }
    return true;
}

bool DeclareHugeStringThenTrickle(TRawPeer& peer)
{
    // A chat packet up to its text, whose length says 2 GiB - 1 bytes follow.
    const QByteArray start = Encoded(pkChat).first(17) + QByteArray::fromHex("0cffffff7f");
    if (!peer.SendAll(start))
        return false;
    for (int i = 0; i < 400; ++i) {
        if (!peer.SendAll("x"))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool StaySilent(TRawPeer&)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return true;
}

QByteArray Pattern(qsizetype offset, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(((offset + i) * 31 + (offset + i) / 4093) & 0xFF);
    return bytes;
}

struct TIgnoringSink : TSocketEventSink
{
    void WMSocketEvent(TSocket, std::uint32_t lParam) override { Events << WSAGetSelectEvent(lParam); }
    QList<std::uint32_t> Events;
};

sockaddr_in Loopback()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void hostilePeer_data();
    void hostilePeer();
    void peerThatNeverReadsIsGivenUp();
    void readingPausesAtTheInboxLimit();
    void burstBeforeACloseIsHandledWhole();
};

void TestHostile::hostilePeer_data()
{
    QTest::addColumn<int>("script");
    QTest::newRow("50 MB of random bytes") << 0;
    QTest::newRow("a 2 GiB string, then a trickle") << 1;
    QTest::newRow("connects and says nothing") << 2;
}

void TestHostile::hostilePeer()
{
    QFETCH(int, script);
    const TPeerThread::TScript scripts[] = {SendRandomBytes, DeclareHugeStringThenTrickle, StaySilent};
    TPlayer bob(QStringLiteral("Bob"));
    TRawPeer peer = ConnectPeer(bob);
    QVERIFY(peer.IsOpen());
    const TSocket sock = bob.Net().Sock;
    const QStringList chat = bob.Window.ChatLines;
    const int repaints = bob.Window.Repaints;
    bob.Sockets().ResetLongestHandling();
    qsizetype largestInbox = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { largestInbox = std::max(largestInbox, bob.Sockets().InboxBytes(sock)); });
    sampler.start(1);

    TPeerThread attack(std::move(peer), scripts[script]);
    QVERIFY(RunModalUntil([&] { return attack.Finished(); }, kPatience));
    QVERIFY2(attack.Succeeded(), "the program stopped taking bytes");
    QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(sock) == 0; }, kPatience));
    // Garbage may end in what looks like the start of a packet, which would swallow the next
    // one. Bytes that cannot start anything close it, as they would for any decoder.
    QVERIFY(attack.Peer().SendAll(QByteArray(16, char(0xFF))));
    QVERIFY(RunModalUntil([&] { return bob.Sockets().UnreadBytes(sock) == 0; }, kPatience));
    const qint64 longest = bob.Sockets().LongestHandlingNanoseconds();
    qInfo("%s: longest handling of a socket event %.2f ms, %llu wakeups, largest inbox %lld bytes",
          QTest::currentDataTag(), double(longest) / 1e6, static_cast<unsigned long long>(bob.Sockets().Wakeups()),
          static_cast<long long>(largestInbox));

    QCOMPARE(bob.Net().ConnectionState, csConnected);
    QCOMPARE(bob.Window.ChatLines, chat);
    QCOMPARE(bob.Window.Repaints, repaints);
    QVERIFY(bob.Window.Boxes.isEmpty());
    QVERIFY(largestInbox <= kInboxCeiling);
    QVERIFY2(longest < kMaxHandlingNs, "one socket event held the thread for 50 ms or more");
    QVERIFY(MoveIsApplied(bob, attack.Peer()));
}

void TestHostile::peerThatNeverReadsIsGivenUp()
{
    TPlayer bob(QStringLiteral("Bob"));
    TRawPeer peer = ConnectPeer(bob);
    QVERIFY(peer.IsOpen());
    const TSocket sock = bob.Net().Sock;

    // About a kilobyte a line, to a peer that reads nothing: sending must never block, and
    // the queue must end at its limit with the connection, not grow with the lines.
    const QString line(1000, QChar(u'é'));
    const qsizetype lineBytes = Encoded(pkChat, 0, line).size();
    constexpr int kMostLines = 200000;
    int lines = 0;
    qsizetype largestQueue = 0;
    while (bob.Net().ConnectionState == csConnected && lines < kMostLines) {
        bob.Session.SendChatLine(line);
        ++lines;
        largestQueue = std::max(largestQueue, bob.Sockets().QueuedBytes(sock));
        if (lines % 64 == 0)
            QCoreApplication::processEvents();
    }
    qInfo("connection given up after %d lines (%lld bytes), largest send queue %lld bytes", lines,
          static_cast<long long>(lines * lineBytes), static_cast<long long>(largestQueue));
    QCOMPARE(bob.Net().ConnectionState, csNone);
    QVERIFY(lines * lineBytes > TSocketLayer::kSendQueueLimit);
    QVERIFY(largestQueue <= TSocketLayer::kSendQueueLimit);
    QCOMPARE(bob.Match().GameState, gsNone);
    QCOMPARE(bob.Window.Status().Panel0, QStringLiteral("Status: pas connecté"));
    QVERIFY(bob.Window.Boxes.isEmpty());
    QVERIFY(RunModalUntil(
        [&] { return bob.Sockets().OpenSockets() == 0 && bob.Sockets().LingeringSockets() == 0; }, kPatience));

    // The peer learns of the end once it reads what had reached it.
    QVERIFY(RunModalUntil([&] { peer.ReadAvailable(16 * kChunk); return peer.SawEndOfStream(); }, kPatience));

    // The program is free to play again.
    TRawPeer next = ConnectPeer(bob);
    QVERIFY(next.IsOpen());
    QVERIFY(MoveIsApplied(bob, next));
}

void TestHostile::readingPausesAtTheInboxLimit()
{
    TSocketLayer layer;
    TIgnoringSink sink;
    const TSocket listener = layer.socket(AF_INET, SOCK_STREAM, 0);
    QCOMPARE(layer.bind(listener, Loopback()), 0);
    QCOMPARE(layer.listen(listener, 1), 0);
    QCOMPARE(layer.AsyncSelect(listener, &sink, FD_READ | FD_ACCEPT | FD_CLOSE), 0);
    TRawPeer peer = TRawPeer::ConnectTo(layer.LocalPort(listener));
    QVERIFY(RunModalUntil([&] { return sink.Events.contains(FD_ACCEPT); }, kPatience));
    const TSocket sock = layer.accept(listener, nullptr);
    QVERIFY(sock > 0);

    // More than the inbox and both kernel buffers hold, while the program takes nothing.
    constexpr qsizetype kTotal = 48 * 1024 * 1024;
    TPeerThread flood(std::move(peer), [](TRawPeer& far) {
        for (qsizetype sent = 0; sent < kTotal; sent += kChunk) {
            if (!far.SendAll(Pattern(sent, kChunk)))
                return false;
        }
        return true;
    });
    QVERIFY(RunModalUntil([&] { return layer.InboxBytes(sock) >= TSocketLayer::kInboxLimit; }, kPatience));
    const std::uint64_t wakeups = layer.Wakeups();
    QTest::qWait(200);  // room for reads that should not happen
    QVERIFY(layer.InboxBytes(sock) <= kInboxCeiling);
    QCOMPARE(layer.Wakeups(), wakeups);
    QVERIFY2(!flood.Finished(), "the sender was not held back");

    QByteArray received;
    QVERIFY(RunModalUntil([&] { return (received += layer.recv(sock)).size() >= kTotal; }, kPatience));
    QVERIFY(RunModalUntil([&] { return flood.Finished(); }, kPatience));
    QVERIFY(flood.Succeeded());
    QCOMPARE(received.size(), kTotal);
    QVERIFY(received == Pattern(0, kTotal));
    QCOMPARE(sink.Events.count(FD_CLOSE), 0);
}

void TestHostile::burstBeforeACloseIsHandledWhole()
{
    // Far more packets than one read event dispatches, and the close right behind them: the
    // close must wait until the last of them has been handled.
    TPlayer bob(QStringLiteral("Bob"));
    TRawPeer peer = ConnectPeer(bob);
    QVERIFY(peer.IsOpen());
    bob.Window.ChatLines.clear();  // the addresses to hand out
    constexpr int kLines = 5000;
    QByteArray burst = Encoded(pkName, 0, QStringLiteral("Zoé"));
    QStringList expected{QStringLiteral(":: Vous avez connecté à Zoé")};
    for (int i = 0; i < kLines; ++i) {
        burst += Encoded(pkChat, 0, QString::number(i));
        expected.prepend(QString::number(i));
    }
    burst += Encoded(pkBye);
    expected.prepend(QStringLiteral(":: Zoé a deconnecté"));
    QVERIFY(peer.SendAll(burst));
    peer.ShutdownWrite();  // a plain close would reset, as the peer never read our name

    QVERIFY(RunModalUntil([&] { return bob.Net().ConnectionState == csNone; }, kPatience));
    QCOMPARE(bob.Window.ChatLines, expected);
}

QTEST_GUILESS_MAIN(TestHostile)
#include "test_hostile.moc"
