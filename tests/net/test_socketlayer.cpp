#include "net/SocketErrors.h"
#include "net/SocketLayer.h"
#include "support/ModalLoop.h"
#include "support/RawPeer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>
#include <functional>
#include <memory>

namespace {

constexpr int kPatience = 20000;  // generous: a loaded machine must not fail a sound run

struct TRecorder : TSocketEventSink
{
    struct TEvent
    {
        TSocket Socket;
        std::uint32_t Event;
        int Error;
    };

    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override
    {
        Events.append({socket, WSAGetSelectEvent(lParam), WSAGetSelectError(lParam)});
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
    void routesEvents();
    void drainsReads();
    void idleConnectionIsQuiet();
    void closeComesAfterData_data();
    void closeComesAfterData();
    void eventsReachAModalBox();
    void closeInsideNestedLoop();
    void sendQueueAndGracefulClose();
    void failedConnectsLeaveNoDescriptors();
    void init();
    void cleanup();

private:
    bool ConnectToRaw();

    // The connection's near end belongs to the layer, its far end is a raw peer.
    std::unique_ptr<TSocketLayer> layer;
    TRecorder sink;
    TSocket nearEnd = 0;
    TRawPeer peer;
};

void TestSocketLayer::init()
{
    layer = std::make_unique<TSocketLayer>();
    sink = {};
}

void TestSocketLayer::cleanup()
{
    layer.reset();
    peer = {};
}

bool TestSocketLayer::ConnectToRaw()
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

void TestSocketLayer::routesEvents()
{
    TRecorder server;
    TRecorder client;
    const TSocket listener = layer->socket(AF_INET, SOCK_STREAM, 0);
    QCOMPARE(layer->bind(listener, LoopbackAddress(0)), 0);
    QCOMPARE(layer->listen(listener, 5), 0);
    layer->AsyncSelect(listener, &server, FD_READ | FD_ACCEPT | FD_CLOSE);
    const TSocket outgoing = layer->socket(AF_INET, SOCK_STREAM, 0);
    layer->AsyncSelect(outgoing, &client, FD_READ | FD_CONNECT | FD_CLOSE);
    layer->connect(outgoing, LoopbackAddress(layer->LocalPort(listener)));

    QTRY_COMPARE_WITH_TIMEOUT(client.Count(FD_CONNECT), 1, kPatience);
    QCOMPARE(client.Events.first().Socket, outgoing);
    QTRY_COMPARE_WITH_TIMEOUT(server.Count(FD_ACCEPT), 1, kPatience);
    QCOMPARE(server.Events.first().Socket, listener);
    const TSocket accepted = layer->accept(listener, nullptr);
    QVERIFY(accepted > 0);

    QCOMPARE(layer->send(outgoing, "hello"), 5);
    QTRY_COMPARE_WITH_TIMEOUT(server.Count(FD_READ), 1, kPatience);
    QCOMPARE(server.Events.last().Socket, accepted);  // the selection was inherited
    QCOMPARE(layer->recv(accepted), QByteArray("hello"));
    QCOMPARE(layer->send(accepted, "back"), 4);
    QTRY_COMPARE_WITH_TIMEOUT(client.Count(FD_READ), 1, kPatience);
    QCOMPARE(layer->recv(outgoing), QByteArray("back"));

    layer->closesocket(accepted);
    QTRY_COMPARE_WITH_TIMEOUT(client.Count(FD_CLOSE), 1, kPatience);
    QCOMPARE(client.Events.last().Socket, outgoing);
    QCOMPARE(server.Count(FD_CONNECT) + client.Count(FD_ACCEPT), 0);
}

// Nobody takes the bytes at first: one FD_READ stands for all of them, none piles up.
void TestSocketLayer::drainsReads()
{
    QVERIFY(ConnectToRaw());
    const QByteArray sent = Pattern(3 * TSocketLayer::kReadBudget + 123);
    for (qsizetype done = 0; done < sent.size(); QTest::qWait(1))
        done += peer.Send(QByteArrayView(sent).sliced(done));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += layer->recv(nearEnd)).size() == sent.size(), kPatience);
    QCOMPARE(received, sent);
    QVERIFY(sink.Count(FD_READ) >= 1);
    QVERIFY2(std::uint64_t(sink.Count(FD_READ)) <= layer->Wakeups(), "more FD_READ events than reads");
}

void TestSocketLayer::idleConnectionIsQuiet()
{
    QVERIFY(ConnectToRaw());
    peer.SendAll("ping");
    QTRY_COMPARE_WITH_TIMEOUT(sink.Count(FD_READ), 1, kPatience);
    // Undrained data must not keep the notifier firing.
    QTest::qWait(20);
    const std::uint64_t wakeups = layer->Wakeups();
    const qsizetype events = sink.Events.size();
    QTest::qWait(300);
    QCOMPARE(layer->Wakeups(), wakeups);
    QCOMPARE(sink.Events.size(), events);
}

void TestSocketLayer::closeComesAfterData_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("reset");
    QTest::newRow("small, orderly") << qsizetype(22) << false;
    QTest::newRow("large, orderly") << qsizetype(TSocketLayer::kReadBudget * 2 + 7) << false;
    QTest::newRow("small, reset") << qsizetype(25) << true;
}

void TestSocketLayer::closeComesAfterData()
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

void TestSocketLayer::eventsReachAModalBox()
{
    QVERIFY(ConnectToRaw());
    QByteArray behindTheBox;
    bool boxOpen = false;
    sink.Handler = [&](TSocket s, std::uint32_t event) {
        const QByteArray bytes = event == FD_READ ? layer->recv(s) : QByteArray("<close>");
        if (boxOpen) {
            behindTheBox += bytes;
            return;
        }
        QMessageBox box(QMessageBox::Information, "Tessaro", "Vous avez gagné!", QMessageBox::Ok);
        QTimer::singleShot(0, [&] {
            peer.SendAll("chat line");
            peer.Close();
        });
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, &box, [&] {
            if (behindTheBox.endsWith("<close>"))
                box.button(QMessageBox::Ok)->click();
        });
        answer.start(5);
        boxOpen = true;
        box.exec();
        boxOpen = false;
    };
    peer.SendAll("move");
    QTRY_VERIFY_WITH_TIMEOUT(!behindTheBox.isEmpty() && !boxOpen, kPatience);
    QCOMPARE(behindTheBox, QByteArray("chat line<close>"));
}

// The peer leaves while a handler waits in a box; the close frees the socket under it.
void TestSocketLayer::closeInsideNestedLoop()
{
    QVERIFY(ConnectToRaw());
    int sendAfterClose = 0;
    sink.Handler = [&](TSocket s, std::uint32_t event) {
        if (event == FD_CLOSE) {
            layer->closesocket(s);
        } else if (event == FD_READ && layer->recv(s) == "open a box") {
            QTimer::singleShot(0, [&] { peer.Close(); });
            RunModalUntil([&] { return layer->OpenSockets() == 0; });
            sendAfterClose = layer->send(s, "late");
            layer->recv(s);
        }
    };
    peer.SendAll("open a box");
    QTRY_COMPARE_WITH_TIMEOUT(sendAfterClose, SOCKET_ERROR, kPatience);
    QCOMPARE(layer->WSAGetLastError(), int(WSAENOTSOCK));
    QTest::qWait(20);  // let deferred deletions run
}

// Megabytes the kernel cannot take at once are queued, not blocked on, and still leave
// in order after the close.
void TestSocketLayer::sendQueueAndGracefulClose()
{
    QVERIFY(ConnectToRaw());
    const QByteArray sent = Pattern(16 * 1024 * 1024) + "bye";
    QCOMPARE(layer->send(nearEnd, QByteArrayView(sent).chopped(3)), int(sent.size() - 3));
    QCOMPARE(layer->send(nearEnd, "bye"), 3);
    QVERIFY(layer->QueuedBytes(nearEnd) > 0);
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

void TestSocketLayer::failedConnectsLeaveNoDescriptors()
{
    const TRawPeer closedPort = TRawPeer::BoundNotListening();
    QTest::qWait(10);
    const int before = OpenDescriptorCount();
    int refused = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const TSocket s = layer->socket(AF_INET, SOCK_STREAM, 0);
        layer->AsyncSelect(s, &sink, FD_READ | FD_CONNECT | FD_CLOSE);
        if (layer->connect(s, LoopbackAddress(closedPort.Port())) == 0 || layer->WSAGetLastError() == WSAEWOULDBLOCK) {
            // A loop of our own: qWaitFor would sleep between polls, a thousand times over.
            const qsizetype seen = sink.Events.size();
            QEventLoop wait;
            sink.Handler = [&](TSocket, std::uint32_t) { wait.quit(); };
            QTimer::singleShot(kPatience, &wait, &QEventLoop::quit);
            wait.exec();
            QCOMPARE(sink.Events.size(), seen + 1);
            refused += sink.Events.last().Event == FD_CONNECT && sink.Events.last().Error == WSAECONNREFUSED;
        } else {
            refused += layer->WSAGetLastError() == WSAECONNREFUSED;
        }
        layer->closesocket(s);
    }
    QCOMPARE(refused, 100);
    QTest::qWait(10);
    QCOMPARE(OpenDescriptorCount(), before);
    QCOMPARE(layer->OpenSockets(), 0);
}

QTEST_MAIN(TestSocketLayer)
#include "test_socketlayer.moc"
