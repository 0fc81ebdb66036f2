// The packet codec and Windows-1252 against references written here, and the socket layer
// against raw loopback peers.

#include "net/DataPacket.h"
#include "net/PacketSamples.h"
#include "net/SocketErrors.h"
#include "net/SocketLayer.h"
#include "net/Win1252.h"
#include "support/ModalLoop.h"
#include "support/RawPeer.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <limits>
#include <memory>
#include <ranges>

using PacketSamples::MakePacket;

namespace {

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

// The wire format written out a second way, byte by byte, for texts of Latin-1 letters.
QByteArray Int(std::int32_t v)
{
    QByteArray out;
    const int width = v >= -128 && v <= 127 ? 1 : v >= -32768 && v <= 32767 ? 2 : 4;
    out += char(width == 1 ? 2 : width == 2 ? 3 : 4);
    for (int i = 0; i < width; ++i)
        out += char((std::uint32_t(v) >> (8 * i)) & 0xFF);
    return out;
}

QByteArray Str(const QByteArray& s)
{
    if (s.size() < 256)
        return char(6) + QByteArray(1, char(s.size())) + s;
    return char(12) + Int(int(s.size())).mid(1).leftJustified(4, '\0') + s;
}

QByteArray Reference(const TDataPacket& p)
{
    return char(1) + Str("TSRO1000") + Int(0) + Int(p.Kind) + Int(0) + Str(p.Text.toLatin1()) + Int(p.Column) + char(0);
}

std::int32_t RandomInteger(QRandomGenerator& random)
{
    const std::int32_t edges[] = {0, 1, 7, 127, 128, -1, -128, -129, 32767, 32768, -32768, -32769,
                                  std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    return random.bounded(2) ? edges[random.bounded(14)] : std::int32_t(random.generate());
}

QString RandomLatin1(QRandomGenerator& random)
{
    const int lengths[] = {0, 1, 3, 254, 255, 256, 257, 300, 70000};
    QString text(lengths[random.bounded(9)], Qt::Uninitialized);
    for (QChar& c : text)
        c = QChar(random.bounded(2) ? random.bounded(0x20, 0x7F) : random.bounded(0xA0, 0x100));
    return text;
}

QList<TDataPacket> Drain(TPacketDecoder& decoder)
{
    QList<TDataPacket> packets;
    while (std::optional<TDataPacket> packet = decoder.Next())
        packets.append(*packet);
    return packets;
}

const QByteArray kHeader = Hex("01 06 08 54 53 52 4F 31 30 30 30 02 00");

QByteArray Packet(const char* kind, const char* text, const char* column, const char* end = "00")
{
    return kHeader + Hex(kind) + Hex("02 00") + Hex(text) + Hex(column) + Hex(end);
}

// The layer's events, each with its error; Handler, when set, acts on each.
struct TRecorder : TSocketEventSink
{
    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override
    {
        Events.append({WSAGetSelectEvent(lParam), WSAGetSelectError(lParam)});
        if (Handler)
            Handler(socket, WSAGetSelectEvent(lParam));
    }
    int Count(std::uint32_t event) const { return int(std::ranges::count(Events | std::views::keys, event)); }

    QList<std::pair<std::uint32_t, int>> Events;
    std::function<void(TSocket, std::uint32_t)> Handler;
};

// Every byte depends on its position, so loss, duplication or reordering shows.
QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

}  // namespace

class TestNet : public QObject
{
    Q_OBJECT

private slots:
    void init() { layer = std::make_unique<TSocketLayer>(), sink = {}, peer = {}; }

private:
    // The connection's near end belongs to the layer, its far end is a raw peer.
    bool ConnectToRaw()
    {
        TRawPeer listener = TRawPeer::Listener();
        nearEnd = layer->socket(AF_INET, SOCK_STREAM, 0);
        layer->AsyncSelect(nearEnd, &sink, FD_READ | FD_CONNECT | FD_CLOSE);
        layer->connect(nearEnd, LoopbackAddress(listener.Port()));
        return RunModalUntil([&] {
            if (!peer.IsOpen())
                peer = listener.Accept();
            return peer.IsOpen() && sink.Count(FD_CONNECT) > 0;
        });
    }

    TRecorder sink;  // outlives the layer, which may still report to it
    std::unique_ptr<TSocketLayer> layer;
    TSocket nearEnd = 0;
    TRawPeer peer;

private slots:
    // Random packets, each encoded as the reference does, decoded from random pieces; now and then
    // the next pieces are fed and drained from inside a packet's handling, as a modal box does.
    void randomStreams()
    {
        QRandomGenerator random(1);
        QList<TDataPacket> sent;
        QByteArray stream;
        for (int i = 0; i < 1200; ++i) {
            sent << MakePacket(random.bounded(3) ? random.bounded(5) : RandomInteger(random),
                               random.bounded(4) ? QString() : RandomLatin1(random), RandomInteger(random));
            const QByteArray bytes = EncodePacket(sent.last());
            QCOMPARE(bytes.toHex(' '), Reference(sent.last()).toHex(' '));
            stream += bytes;
        }
        TPacketDecoder decoder;
        QList<TDataPacket> received;
        qsizetype pos = 0;
        const auto feed = [&] {
            const qsizetype size = std::min<qsizetype>(random.bounded(3) ? random.bounded(1, 30) : 5000, stream.size() - pos);
            decoder.Append(QByteArrayView(stream).sliced(pos, size));
            pos += size;
        };
        std::function<void()> drain = [&] {
            while (std::optional<TDataPacket> packet = decoder.Next()) {
                received << *packet;
                if (pos < stream.size() && random.bounded(8) == 0) {
                    feed();
                    drain();
                }
            }
        };
        while (pos < stream.size()) {
            feed();
            drain();
        }
        QCOMPARE(received, sent);
        QCOMPARE(decoder.Pending(), 0);
    }

    void dropsFromFlawOn_data()
    {
        QTest::addColumn<QByteArray>("flawed");
        QTest::addColumn<int>("returned");
        QTest::newRow("no list tag") << Hex("02") + Packet("02 00", "06 00", "02 00").mid(1) << 0;
        QTest::newRow("magic other letters") << Hex("01 06 08") + "TSRO1001" + Packet("02 00", "06 00", "02 00").mid(11) << 0;
        QTest::newRow("kind as string") << Packet("06 00", "06 00", "02 00") << 0;
        QTest::newRow("negative long length") << Packet("02 03", "0C FF FF FF FF 61", "02 00") << 0;
        QTest::newRow("2 GiB length, no body yet") << kHeader + Hex("02 03 02 00 0C FF FF FF 7F") << 0;
        QTest::newRow("end tag 01") << Packet("02 00", "06 00", "02 04", "01") << 1;
    }

    // A flaw drops everything received from it on, at once; new bytes start afresh.
    void dropsFromFlawOn()
    {
        QFETCH(QByteArray, flawed);
        QFETCH(int, returned);
        const TDataPacket good = MakePacket(pkName, "Marie"), after = MakePacket(pkChat, "Paul: salut");
        TPacketDecoder decoder;
        decoder.Append(EncodePacket(good) + flawed + (returned ? EncodePacket(after) : QByteArray()));
        const QList<TDataPacket> packets = Drain(decoder);
        QCOMPARE(packets.size(), 1 + returned);
        QCOMPARE(packets.first(), good);
        QCOMPARE(decoder.Pending(), 0);
        decoder.Append(EncodePacket(after));
        QCOMPARE(Drain(decoder), QList{after});
    }

    void windows1252_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        // The letters of 0x80..0x9F as the code chart shows them; the five holes keep their C1 control.
        QTest::newRow("0x80-0x9F") << QString::fromUtf8("€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ")
                                   << Hex("808182838485868788898A8B8C8D8E8F909192939495969798999A9B9C9D9E9F");
        QTest::newRow("accents") << "àéûÿ" << Hex("E0 E9 FB FF");
        QTest::newRow("C1 control with a Windows-1252 letter") << QString(QChar(0x0080)) << QByteArray("?");
        QTest::newRow("emoji is one character") << "a😀b" << QByteArray("a?b");
        QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + u'x' << QByteArray("?x");
    }

    void windows1252()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(ToWin1252(text).toHex(' '), bytes.toHex(' '));
        if (!bytes.contains('?'))
            QCOMPARE(FromWin1252(bytes), text);
        QByteArray all(256, Qt::Uninitialized);
        for (int byte = 0; byte < 256; ++byte)
            all[byte] = char(byte);
        QCOMPARE(ToWin1252(FromWin1252(all)).toHex(' '), all.toHex(' '));
    }

    // Beside a refused connect, whose box a session test shows, the failures players meet: from
    // the system's own error to the number and the text of the box.
    void errorTexts()
    {
        QStringList shown;
        for (const int code : {WsaErrorFromErrno(ETIMEDOUT), WsaErrorFromErrno(EHOSTUNREACH), WsaErrorFromErrno(ENETUNREACH), int(WSAHOST_NOT_FOUND)})
            shown << QString::number(code) + ' ' + SocketErrorText(code);
        QCOMPARE(shown.join(", "), "10060 Connection timed out, 10065 No route to host, 10051 Network is unreachable, 11001 Host not found");
    }

    // Undrained data must not keep the notifier firing.
    void idleConnectionIsQuiet()
    {
        QVERIFY(ConnectToRaw());
        peer.SendAll("ping");
        QVERIFY(RunModalUntil([&] { return sink.Count(FD_READ) == 1; }));
        QTest::qWait(20);
        const std::uint64_t wakeups = layer->Wakeups();
        QTest::qWait(300);
        QCOMPARE(layer->Wakeups(), wakeups);
        QCOMPARE(sink.Events.size(), 2);
    }

    void closeComesAfterData_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<bool>("reset");  // while the layer holds all of it, unread
        QTest::newRow("large, orderly") << qsizetype(TSocketLayer::kReadBudget * 2 + 7) << false;
        QTest::newRow("reset") << qsizetype(TSocketLayer::kReadBudget * 2) << true;
    }

    // After an orderly close every byte came first. After a reset what is left is dropped (the
    // peer has gone, and the kernel drops its part too), and the close waits for no read,
    // though the reader keeps asking for more as one with a backlog of its own does.
    void closeComesAfterData()
    {
        QFETCH(qsizetype, size);
        QFETCH(bool, reset);
        QVERIFY(ConnectToRaw());
        QByteArray received;
        qsizetype atClose = -1;
        // A little at a time, so the rest is left for reads the layer posts later.
        sink.Handler = [&](TSocket s, std::uint32_t event) {
            if (event == FD_READ)
                reset ? void(layer->RequestRead(s)) : void(received += layer->recv(s, 4096));
            else if (event == FD_CLOSE)
                atClose = received.size();
        };
        QVERIFY(peer.SendAll(Pattern(size)));
        QVERIFY(!reset || RunModalUntil([&] { return layer->InboxBytes(nearEnd) == size; }));
        reset ? peer.Reset() : peer.Close();
        QVERIFY(RunModalUntil([&] { return sink.Count(FD_CLOSE) == 1; }));
        QCOMPARE(layer->InboxBytes(nearEnd), 0);
        QVERIFY(sink.Events.contains(std::pair<std::uint32_t, int>(FD_CLOSE, reset ? WSAECONNRESET : 0)));
        QCOMPARE(atClose, reset ? 0 : size);
        QCOMPARE(received, Pattern(size).first(atClose));
    }

    // Megabytes the kernel cannot take at once are queued, not blocked on, and still leave
    // in order after the close.
    void sendQueueAndGracefulClose()
    {
        QVERIFY(ConnectToRaw());
        const QByteArray sent = Pattern(16 * 1024 * 1024) + "bye";
        QCOMPARE(layer->send(nearEnd, QByteArrayView(sent).chopped(3)), int(sent.size() - 3));
        QCOMPARE(layer->send(nearEnd, "bye"), 3);
        QCOMPARE(layer->closesocket(nearEnd), 0);
        QCOMPARE(layer->LingeringSockets(), 1);
        QByteArray received;
        QVERIFY(RunModalUntil([&] { received += peer.ReadAvailable(); return peer.SawEndOfStream(); }, 60000));
        QVERIFY(received == sent);
        peer.Close();
        QVERIFY(RunModalUntil([&] { return layer->LingeringSockets() == 0; }));
        QCOMPARE(sink.Count(FD_CLOSE) + sink.Count(FD_READ), 0);
    }

};

QTEST_GUILESS_MAIN(TestNet)
#include "test_net.moc"
