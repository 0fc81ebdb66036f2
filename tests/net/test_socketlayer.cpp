#include "net/SocketErrors.h"
#include "net/SocketLayer.h"
#include "support/RawPeer.h"

#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

constexpr int kPatience = 20000;  // generous: a loaded machine must not fail a sound run

struct TRecorder : TSocketEventSink
{
    struct TEvent
    {
        std::uint32_t Event;
        int Error;
    };

    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override
    {
        Events.append({WSAGetSelectEvent(lParam), WSAGetSelectError(lParam)});
        if (Handler)
            Handler(socket, WSAGetSelectEvent(lParam));
    }
    int Count(std::uint32_t event) const
    {
        return int(std::count_if(Events.begin(), Events.end(), [event](const TEvent& e) { return e.Event == event; }));
    }

    QList<TEvent> Events;
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

class TestSocketLayer : public QObject
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
        return QTest::qWaitFor([&] {
            if (!peer.IsOpen())
                peer = listener.Accept();
            return peer.IsOpen() && sink.Count(FD_CONNECT) > 0;
        }, kPatience);
    }

    TRecorder sink;  // outlives the layer, which may still report to it
    std::unique_ptr<TSocketLayer> layer;
    TSocket nearEnd = 0;
    TRawPeer peer;

private slots:
    // Undrained data must not keep the notifier firing.
    void idleConnectionIsQuiet()
    {
        QVERIFY(ConnectToRaw());
        peer.SendAll("ping");
        QTRY_COMPARE_WITH_TIMEOUT(sink.Count(FD_READ), 1, kPatience);
        QTest::qWait(20);
        const std::uint64_t wakeups = layer->Wakeups();
        QTest::qWait(300);
        QCOMPARE(layer->Wakeups(), wakeups);
        QCOMPARE(sink.Events.size(), 2);
    }

    void closeComesAfterData_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<bool>("reset");
        QTest::newRow("large, orderly") << qsizetype(TSocketLayer::kReadBudget * 2 + 7) << false;
        QTest::newRow("small, reset") << qsizetype(25) << true;
    }

    void closeComesAfterData()
    {
        QFETCH(qsizetype, size);
        QFETCH(bool, reset);
        QVERIFY(ConnectToRaw());
        QByteArray received;
        sink.Handler = [&](TSocket s, std::uint32_t event) {
            if (event == FD_READ)
                received += layer->recv(s);
        };
        QVERIFY(peer.SendAll(Pattern(size)));
        if (reset) {
            // A reset would discard bytes still in the kernel.
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), size, kPatience);
            peer.Reset();
        } else {
            peer.Close();
        }
        QTRY_COMPARE_WITH_TIMEOUT(sink.Count(FD_CLOSE), 1, kPatience);
        QCOMPARE(sink.Events.last().Error, reset ? int(WSAECONNRESET) : 0);
        QCOMPARE(received, Pattern(size));
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
        QTimer reader;
        QObject::connect(&reader, &QTimer::timeout, [&] { received += peer.ReadAvailable(); });
        reader.start(0);
        QTRY_VERIFY_WITH_TIMEOUT(peer.SawEndOfStream(), kPatience * 3);
        QVERIFY(received == sent);
        peer.Close();
        QTRY_COMPARE_WITH_TIMEOUT(layer->LingeringSockets(), 0, kPatience);
        QCOMPARE(sink.Count(FD_CLOSE) + sink.Count(FD_READ), 0);
    }

    void failedConnectsLeaveNoDescriptors()
    {
        const TRawPeer closedPort = TRawPeer::BoundNotListening();
        QTest::qWait(10);
        const int before = OpenDescriptorCount();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const TSocket s = layer->socket(AF_INET, SOCK_STREAM, 0);
            layer->AsyncSelect(s, &sink, FD_READ | FD_CONNECT | FD_CLOSE);
            if (layer->connect(s, LoopbackAddress(closedPort.Port())) == 0 || layer->WSAGetLastError() == WSAEWOULDBLOCK) {
                // A loop of our own: qWaitFor would sleep between polls, a hundred times over.
                QEventLoop wait;
                sink.Handler = [&](TSocket, std::uint32_t) { wait.quit(); };
                QTimer::singleShot(kPatience, &wait, &QEventLoop::quit);
                wait.exec();
                QCOMPARE(sink.Events.size(), 1);
                QCOMPARE(sink.Events.takeLast().Error, int(WSAECONNREFUSED));
            } else {
                QCOMPARE(layer->WSAGetLastError(), int(WSAECONNREFUSED));
            }
            layer->closesocket(s);
        }
        QTest::qWait(10);
        QCOMPARE(OpenDescriptorCount(), before);
        QCOMPARE(layer->OpenSockets(), 0);
    }
};

QTEST_MAIN(TestSocketLayer)
#include "test_socketlayer.moc"
