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

namespace {

constexpr int kPatience = 20000;  // generous: a loaded machine must not fail a sound run

struct TRecordedEvent
{
    TSocket Socket;
    std::uint32_t Event;
    int Error;
};

class TRecorder : public TSocketEventSink
{
public:
    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override
    {
        Events.append({socket, WSAGetSelectEvent(lParam), WSAGetSelectError(lParam)});
        if (Handler)
            Handler(socket, WSAGetSelectEvent(lParam));
    }

    int Count(std::uint32_t event) const
    {
        return static_cast<int>(std::count_if(Events.begin(), Events.end(),
                                              [event](const TRecordedEvent& e) { return e.Event == event; }));
    }

    QList<TRecordedEvent> Events;
    std::function<void(TSocket, std::uint32_t)> Handler;
};

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A pattern in which every byte depends on its position, so loss, duplication or reordering shows.
QByteArray Pattern(qsizetype offset, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        const qsizetype at = offset + i;
        bytes[i] = static_cast<char>((at * 7 + at / 251) & 0xFF);
    }
    return bytes;
}

// A connection whose near end belongs to the layer and whose far end is a raw peer.
struct TLayerToRaw
{
    TSocket Near = 0;
    TRawPeer Far;
    bool Ok = false;
};

TLayerToRaw ConnectToRaw(TSocketLayer& layer, TRecorder& sink, std::uint32_t mask = FD_READ | FD_CONNECT | FD_CLOSE)
{
    TRawPeer listener = TRawPeer::Listener();
    TLayerToRaw pair;
    pair.Near = layer.socket(AF_INET, SOCK_STREAM, 0);
    layer.AsyncSelect(pair.Near, &sink, mask);
    layer.connect(pair.Near, Loopback(listener.Port()));
    pair.Ok = QTest::qWaitFor([&] { return (pair.Far = listener.Accept()).IsOpen(); }, kPatience)
        && QTest::qWaitFor([&] { return sink.Count(FD_CONNECT) > 0; }, kPatience);
    return pair;
}

// A layer listener accepting one raw peer: the accepted handle inherits the listener's sink.
struct TRawToLayer
{
    TSocket Listener = 0;
    TSocket Near = 0;
    TRawPeer Far;
    bool Ok = false;
};

TRawToLayer AcceptFromRaw(TSocketLayer& layer, TRecorder& sink)
{
    TRawToLayer pair;
    pair.Listener = layer.socket(AF_INET, SOCK_STREAM, 0);
    layer.bind(pair.Listener, Loopback(0));
    layer.listen(pair.Listener, 5);
    layer.AsyncSelect(pair.Listener, &sink, FD_READ | FD_ACCEPT | FD_CLOSE);
    pair.Far = TRawPeer::ConnectTo(layer.LocalPort(pair.Listener));
    pair.Ok = QTest::qWaitFor([&] { return sink.Count(FD_ACCEPT) > 0; }, kPatience);
    pair.Near = layer.accept(pair.Listener, nullptr);
    pair.Ok = pair.Ok && pair.Near > 0;
    return pair;
}

}  // namespace

class TestSocketLayer : public QObject
{
    Q_OBJECT

private slots:
    void handlesArePositiveAndNeverReused();
    void connectAcceptAndRoute();
    void refusedConnectReportsItsError();
    void secondListenerOnAPortIsAddressInUse();
    void readsAreDrainedAndCoalesced();
    void idleConnectionCausesNoWakeups();
    void closeComesAfterTheData_data();
    void closeComesAfterTheData();
    void eventsArriveInsideAMessageBox();
    void staleEventsAreDropped_data();
    void staleEventsAreDropped();
    void closingInsideANestedLoopIsSafe();
    void closeHandsOverQueuedBytes();
    void sendWithoutConnectionFails_data();
    void sendWithoutConnectionFails();
    void failedConnectsLeaveNoDescriptors();
    void backlogOfTwoGivesTwoAccepts();
};

void TestSocketLayer::handlesArePositiveAndNeverReused()
{
    TSocketLayer layer;
    TSocketLayer other;
    QSet<TSocket> seen;
    for (int i = 0; i < 50; ++i) {
        TSocketLayer& owner = i % 2 ? layer : other;
        const TSocket s = owner.socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(s > 0);
        QVERIFY2(!seen.contains(s), "a handle came back");
        seen.insert(s);
        QCOMPARE(owner.closesocket(s), 0);
        QCOMPARE(owner.closesocket(s), SOCKET_ERROR);
        QCOMPARE(owner.WSAGetLastError(), int(WSAENOTSOCK));
    }
    QCOMPARE(layer.closesocket(0), SOCKET_ERROR);
    QCOMPARE(layer.OpenSockets(), 0);
}

void TestSocketLayer::connectAcceptAndRoute()
{
    TSocketLayer layer;
    TRecorder server;
    TRecorder client;
    const TSocket listener = layer.socket(AF_INET, SOCK_STREAM, 0);
    QCOMPARE(layer.bind(listener, Loopback(0)), 0);
    QCOMPARE(layer.listen(listener, 5), 0);
    QCOMPARE(layer.AsyncSelect(listener, &server, FD_READ | FD_ACCEPT | FD_CLOSE), 0);
    const std::uint16_t port = layer.LocalPort(listener);
    QVERIFY(port != 0);

    const TSocket outgoing = layer.socket(AF_INET, SOCK_STREAM, 0);
    QCOMPARE(layer.AsyncSelect(outgoing, &client, FD_READ | FD_CONNECT | FD_CLOSE), 0);
    const int started = layer.connect(outgoing, Loopback(port));
    QVERIFY(started == 0 || layer.WSAGetLastError() == WSAEWOULDBLOCK);

    QTRY_COMPARE_WITH_TIMEOUT(client.Count(FD_CONNECT), 1, kPatience);
    QCOMPARE(client.Events.first().Socket, outgoing);
    QCOMPARE(client.Events.first().Error, 0);
    QTRY_COMPARE_WITH_TIMEOUT(server.Count(FD_ACCEPT), 1, kPatience);
    QCOMPARE(server.Events.first().Socket, listener);

    sockaddr_in peer{};
    const TSocket accepted = layer.accept(listener, &peer);
    QVERIFY(accepted > 0);
    QCOMPARE(ntohl(peer.sin_addr.s_addr), quint32(INADDR_LOOPBACK));

    QCOMPARE(layer.send(outgoing, "hello"), 5);
    QTRY_COMPARE_WITH_TIMEOUT(server.Count(FD_READ), 1, kPatience);
    QCOMPARE(server.Events.last().Socket, accepted);  // the selection was inherited
    QCOMPARE(layer.recv(accepted), QByteArray("hello"));
    QCOMPARE(layer.recv(accepted), QByteArray());
    QCOMPARE(layer.WSAGetLastError(), int(WSAEWOULDBLOCK));

    QCOMPARE(layer.send(accepted, "back"), 4);
    QTRY_COMPARE_WITH_TIMEOUT(client.Count(FD_READ), 1, kPatience);
    QCOMPARE(layer.recv(outgoing), QByteArray("back"));
    QCOMPARE(server.Count(FD_CONNECT) + client.Count(FD_ACCEPT), 0);
}

void TestSocketLayer::refusedConnectReportsItsError()
{
    TSocketLayer layer;
    TRecorder sink;
    const TRawPeer closedPort = TRawPeer::BoundNotListening();
    const TSocket s = layer.socket(AF_INET, SOCK_STREAM, 0);
    layer.AsyncSelect(s, &sink, FD_READ | FD_CONNECT | FD_CLOSE);
    if (layer.connect(s, Loopback(closedPort.Port())) == 0 || layer.WSAGetLastError() == WSAEWOULDBLOCK) {
        QTRY_COMPARE_WITH_TIMEOUT(sink.Events.size(), 1, kPatience);
        QCOMPARE(sink.Events.first().Event, quint32(FD_CONNECT));
        QCOMPARE(sink.Events.first().Error, int(WSAECONNREFUSED));
    } else {
        QCOMPARE(layer.WSAGetLastError(), int(WSAECONNREFUSED));
    }
    // A refused attempt is finished: no close or read event follows, and sending fails.
    QTest::qWait(50);
    QCOMPARE(sink.Count(FD_CLOSE) + sink.Count(FD_READ), 0);
    QCOMPARE(layer.send(s, "x"), SOCKET_ERROR);
    QCOMPARE(layer.WSAGetLastError(), int(WSAENOTCONN));
}

void TestSocketLayer::secondListenerOnAPortIsAddressInUse()
{
    TSocketLayer layer;
    const TSocket first = layer.socket(AF_INET, SOCK_STREAM, 0);
    QCOMPARE(layer.bind(first, Loopback(0)), 0);
    QCOMPARE(layer.listen(first, 5), 0);
    const TSocket second = layer.socket(AF_INET, SOCK_STREAM, 0);
    QCOMPARE(layer.bind(second, Loopback(layer.LocalPort(first))), SOCKET_ERROR);
    QCOMPARE(layer.WSAGetLastError(), int(WSAEADDRINUSE));
}

void TestSocketLayer::readsAreDrainedAndCoalesced()
{
    TSocketLayer layer;
    TRecorder sink;
    TRawToLayer pair = AcceptFromRaw(layer, sink);
    QVERIFY(pair.Ok);
    layer.AsyncSelect(pair.Listener, &sink, 0);

    // Nobody takes the bytes: events must not pile up, one FD_READ stands for all of them.
    const qsizetype total = 3 * TSocketLayer::kReadBudget + 123;
    qsizetype sent = 0;
    QByteArray received;
    while (sent < total) {
        sent += pair.Far.Send(Pattern(sent, std::min<qsizetype>(total - sent, 65536)));
        QTest::qWait(1);
    }
    QTRY_VERIFY_WITH_TIMEOUT((received += layer.recv(pair.Near)).size() == total, kPatience);
    QCOMPARE(received, Pattern(0, total));
    QVERIFY(sink.Count(FD_READ) >= 1);
    QVERIFY2(std::uint64_t(sink.Count(FD_READ)) <= layer.Wakeups(), "more FD_READ events than reads");
}

void TestSocketLayer::idleConnectionCausesNoWakeups()
{
    TSocketLayer layer;
    TRecorder sink;
    TLayerToRaw pair = ConnectToRaw(layer, sink);
    QVERIFY(pair.Ok);
    pair.Far.SendAll("ping");
    QTRY_COMPARE_WITH_TIMEOUT(sink.Count(FD_READ), 1, kPatience);
    // Leave the bytes unread: undrained data must not keep the notifier firing.
    QTest::qWait(20);
    const std::uint64_t wakeups = layer.Wakeups();
    const qsizetype events = sink.Events.size();
    QTest::qWait(300);
    QCOMPARE(layer.Wakeups(), wakeups);
    QCOMPARE(sink.Events.size(), events);
    QCOMPARE(layer.recv(pair.Near), QByteArray("ping"));
}

void TestSocketLayer::closeComesAfterTheData_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("reset");
    QTest::newRow("small, orderly close") << qsizetype(22) << false;
    QTest::newRow("large, orderly close") << qsizetype(TSocketLayer::kReadBudget * 2 + 7) << false;
    QTest::newRow("small, then reset") << qsizetype(25) << true;
}

void TestSocketLayer::closeComesAfterTheData()
{
    QFETCH(qsizetype, size);
    QFETCH(bool, reset);
    TSocketLayer layer;
    TRecorder sink;
    TLayerToRaw pair = ConnectToRaw(layer, sink);
    QVERIFY(pair.Ok);
    QByteArray received;
    sink.Handler = [&](TSocket s, std::uint32_t event) {
        if (event == FD_READ)
            received += layer.recv(s);
    };
    QVERIFY(pair.Far.SendAll(Pattern(0, size)));
    if (reset) {
        // Let the bytes land before the reset, which would otherwise discard them in the kernel.
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), size, kPatience);
        pair.Far.Reset();
    } else {
        pair.Far.Close();
    }
    QTRY_COMPARE_WITH_TIMEOUT(sink.Count(FD_CLOSE), 1, kPatience);
    QCOMPARE(sink.Events.last().Event, quint32(FD_CLOSE));
    QCOMPARE(sink.Events.last().Error, reset ? int(WSAECONNRESET) : 0);
    QCOMPARE(received, Pattern(0, size));
    QTest::qWait(50);
    QCOMPARE(sink.Count(FD_CLOSE), 1);
}

void TestSocketLayer::eventsArriveInsideAMessageBox()
{
    TSocketLayer layer;
    TRecorder sink;
    TLayerToRaw pair = ConnectToRaw(layer, sink);
    QVERIFY(pair.Ok);
    QByteArray behindTheBox;
    bool boxOpen = false;
    sink.Handler = [&](TSocket s, std::uint32_t event) {
        if (event == FD_CLOSE && boxOpen)
            behindTheBox += "<close>";
        if (event != FD_READ)
            return;
        const QByteArray bytes = layer.recv(s);
        if (boxOpen) {
            behindTheBox += bytes;
            return;
        }
        QMessageBox box(QMessageBox::Information, "Tessaro", "Vous avez gagné!", QMessageBox::Ok);
        QTimer::singleShot(0, [&] {
            pair.Far.SendAll("chat line");
            pair.Far.Close();
        });
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, &box, [&] {
            if (behindTheBox.endsWith("<close>"))
                box.button(QMessageBox::Ok)->click();
        });
        answer.start(5);
        QTimer::singleShot(kPatience, &box, [&] { box.button(QMessageBox::Ok)->click(); });
        boxOpen = true;
        box.exec();
        boxOpen = false;
    };
    pair.Far.SendAll("move");
    QTRY_VERIFY_WITH_TIMEOUT(!behindTheBox.isEmpty() && !boxOpen, kPatience);
    QCOMPARE(behindTheBox, QByteArray("chat line<close>"));
}

void TestSocketLayer::staleEventsAreDropped_data()
{
    QTest::addColumn<int>("change");
    QTest::newRow("closed before delivery") << 0;
    QTest::newRow("selection cancelled before delivery") << 1;
    QTest::newRow("selection moved to another sink") << 2;
}

void TestSocketLayer::staleEventsAreDropped()
{
    QFETCH(int, change);
    TSocketLayer layer;
    TRecorder first;
    TRecorder second;
    TRecorder third;
    TLayerToRaw pair = ConnectToRaw(layer, first);
    QVERIFY(pair.Ok);
    pair.Far.SendAll("waiting");
    QTRY_COMPARE_WITH_TIMEOUT(first.Count(FD_READ), 1, kPatience);

    // Selecting again with bytes waiting posts FD_READ at once; then the selection changes.
    layer.AsyncSelect(pair.Near, &second, FD_READ | FD_CLOSE);
    if (change == 0)
        layer.closesocket(pair.Near);
    else if (change == 1)
        layer.AsyncSelect(pair.Near, &second, 0);
    else
        layer.AsyncSelect(pair.Near, &third, FD_READ | FD_CLOSE);
    QTest::qWait(100);
    QCOMPARE(second.Events.size(), 0);
    QCOMPARE(third.Count(FD_READ), change == 2 ? 1 : 0);
    QCOMPARE(first.Count(FD_READ), 1);
}

void TestSocketLayer::closingInsideANestedLoopIsSafe()
{
    TSocketLayer layer;
    TRecorder sink;
    TLayerToRaw pair = ConnectToRaw(layer, sink);
    QVERIFY(pair.Ok);
    bool outerResumed = false;
    int sendAfterClose = 0;
    sink.Handler = [&](TSocket s, std::uint32_t event) {
        if (event == FD_CLOSE) {
            layer.closesocket(s);
            return;
        }
        if (event != FD_READ || layer.recv(s) != "open a box")
            return;
        // The peer leaves while this handler waits in a box; the close frees the socket.
        QTimer::singleShot(0, [&] { pair.Far.Close(); });
        RunModalUntil([&] { return layer.OpenSockets() == 0; });
        // Back in the interrupted handler: the handle is dead, nothing it touches is freed.
        sendAfterClose = layer.send(s, "late");
        layer.recv(s);
        outerResumed = true;
    };
    pair.Far.SendAll("open a box");
    QTRY_VERIFY_WITH_TIMEOUT(outerResumed, kPatience);
    QCOMPARE(sendAfterClose, SOCKET_ERROR);
    QCOMPARE(layer.WSAGetLastError(), int(WSAENOTSOCK));
    QTest::qWait(20);  // let deferred deletions run
}

void TestSocketLayer::closeHandsOverQueuedBytes()
{
    TSocketLayer layer;
    TRecorder sink;
    TLayerToRaw pair = ConnectToRaw(layer, sink);
    QVERIFY(pair.Ok);
    constexpr qsizetype kTotal = 16 * 1024 * 1024;
    QCOMPARE(layer.send(pair.Near, Pattern(0, kTotal)), int(kTotal));
    const QByteArray bye("bye");
    layer.send(pair.Near, bye);
    QVERIFY(layer.QueuedBytes(pair.Near) > 0);
    QCOMPARE(layer.closesocket(pair.Near), 0);
    QCOMPARE(layer.LingeringSockets(), 1);
    QCOMPARE(layer.OpenSockets(), 0);

    QByteArray received;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] { received += pair.Far.ReadAvailable(); });
    reader.start(0);
    QTRY_VERIFY_WITH_TIMEOUT(pair.Far.SawEndOfStream(), kPatience * 3);
    QCOMPARE(received.size(), kTotal + bye.size());
    QVERIFY(received == Pattern(0, kTotal) + bye);
    pair.Far.Close();
    QTRY_COMPARE_WITH_TIMEOUT(layer.LingeringSockets(), 0, kPatience);
    QCOMPARE(sink.Count(FD_CLOSE) + sink.Count(FD_READ), 0);  // no events after the close
}

void TestSocketLayer::sendWithoutConnectionFails_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("error");
    QTest::newRow("no socket") << 0 << int(WSAENOTSOCK);
    QTest::newRow("fresh socket") << 1 << int(WSAENOTCONN);
    QTest::newRow("listening socket") << 2 << int(WSAENOTCONN);
}

void TestSocketLayer::sendWithoutConnectionFails()
{
    QFETCH(int, state);
    QFETCH(int, error);
    TSocketLayer layer;
    TSocket s = 0;
    if (state >= 1)
        s = layer.socket(AF_INET, SOCK_STREAM, 0);
    if (state == 2) {
        layer.bind(s, Loopback(0));
        layer.listen(s, 5);
    }
    QCOMPARE(layer.send(s, "lost"), SOCKET_ERROR);
    QCOMPARE(layer.WSAGetLastError(), error);
    QCOMPARE(layer.QueuedBytes(s), 0);
}

void TestSocketLayer::failedConnectsLeaveNoDescriptors()
{
    TSocketLayer layer;
    TRecorder sink;
    const TRawPeer closedPort = TRawPeer::BoundNotListening();
    QTest::qWait(10);
    const int before = OpenDescriptorCount();
    int refused = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const TSocket s = layer.socket(AF_INET, SOCK_STREAM, 0);
        layer.AsyncSelect(s, &sink, FD_READ | FD_CONNECT | FD_CLOSE);
        if (layer.connect(s, Loopback(closedPort.Port())) == 0 || layer.WSAGetLastError() == WSAEWOULDBLOCK) {
            const qsizetype seen = sink.Events.size();
            QEventLoop wait;
            sink.Handler = [&](TSocket, std::uint32_t) { wait.quit(); };
            QTimer::singleShot(kPatience, &wait, &QEventLoop::quit);
            wait.exec();
            QCOMPARE(sink.Events.size(), seen + 1);
            refused += sink.Events.last().Error == WSAECONNREFUSED;
        } else {
            refused += layer.WSAGetLastError() == WSAECONNREFUSED;
        }
        layer.closesocket(s);
    }
    QCOMPARE(refused, 1000);
    QTest::qWait(10);
    QCOMPARE(OpenDescriptorCount(), before);
    QCOMPARE(layer.OpenSockets(), 0);
}

void TestSocketLayer::backlogOfTwoGivesTwoAccepts()
{
    TSocketLayer layer;
    TRecorder sink;
    const TSocket listener = layer.socket(AF_INET, SOCK_STREAM, 0);
    layer.bind(listener, Loopback(0));
    layer.listen(listener, 5);
    QList<TSocket> accepted;
    sink.Handler = [&](TSocket s, std::uint32_t event) {
        if (event == FD_ACCEPT)
            accepted << layer.accept(s, nullptr);
    };
    layer.AsyncSelect(listener, &sink, FD_READ | FD_ACCEPT | FD_CLOSE);
    const TRawPeer a = TRawPeer::ConnectTo(layer.LocalPort(listener));
    const TRawPeer b = TRawPeer::ConnectTo(layer.LocalPort(listener));
    QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 2, kPatience);
    QVERIFY(accepted[0] > 0 && accepted[1] > 0 && accepted[0] != accepted[1]);
}

QTEST_MAIN(TestSocketLayer)
#include "test_socketlayer.moc"
