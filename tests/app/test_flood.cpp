// The real main window, offscreen, under a peer that sends a million chat packets as fast as
// it can: the window must stay responsive (no single handling of a socket event may take
// 50 ms), keep only the newest chat lines, and still apply a move afterwards.

#include "app/Unit1.h"
#include "net/DataPacket.h"
#include "net/SocketLayer.h"
#include "support/ModalLoop.h"
#include "support/PeerThread.h"
#include "support/RawPeer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kPatience = 600000;
constexpr qint64 kMaxHandlingNs = 50 * 1000 * 1000;
constexpr int kDefaultPackets = 1000000;
constexpr int kPacketsPerSend = 4096;

int PacketCount()
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("TESSARO_FLOOD_PACKETS", &ok);
    return ok && value > 0 ? value : kDefaultPackets;
}

QByteArray Encoded(std::int32_t kind, std::int32_t column = 0, const QString& text = {})
{
    TDataPacket packet;
    packet.Kind = kind;
    packet.Column = column;
    packet.Text = text;
    return EncodePacket(packet);
}

QString ChatLine(int i)
{
    return QStringLiteral("Mallory: ligne %1").arg(i);
}

// The name prompt of start-up, answered from inside its own modal loop as a user would.
void AnswerNamePrompt(const QString& name)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, name] {
        QWidget* prompt = QApplication::activeModalWidget();
        if (!prompt)
            return;
        poll->deleteLater();
        prompt->findChild<QLineEdit*>()->setText(name);
        prompt->findChild<QPushButton*>()->click();
    });
    poll->start(10);
}

QStringList ChatLog(const TForm1& form)
{
    QStringList lines;
    for (QTextBlock block = form.Memo2->document()->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    return lines;
}

}  // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private slots:
    void flood_data();
    void flood();
};

void TestFlood::flood_data()
{
    QTest::addColumn<bool>("moves");
    QTest::addColumn<int>("packets");
    QTest::newRow("chat lines") << false << PacketCount();
    QTest::newRow("moves and new games") << true << 100000;
}

void TestFlood::flood()
{
    QFETCH(bool, moves);
    QFETCH(int, packets);
    AnswerNamePrompt(QStringLiteral("Eve"));
    TForm1 form;
    form.show();
    TSession& session = form.Session();
    QCOMPARE(session.Match.LocalName, QStringLiteral("Eve"));
    session.Listen1Click(QStringLiteral("0"));
    form.Memo2->clear();  // the addresses to hand out
    TRawPeer peer = TRawPeer::ConnectTo(session.Connection.LocalPort());
    QVERIFY(RunModalUntil([&] { return session.Connection.ConnectionState == csConnected; }, kPatience));
    TSocketLayer& sockets = session.SocketLayer();
    sockets.ResetLongestHandling();

    // Moves come three to a game, so no four ever closes one with a box.
    const auto packet = [moves](int i) {
        if (!moves)
            return Encoded(pkChat, 0, ChatLine(i));
        return i % 4 == 0 ? Encoded(pkNewGame) : Encoded(pkMove, i % kColumns + 1);
    };
    QElapsedTimer clock;
    clock.start();
    TPeerThread flood(std::move(peer), [packets, packet](TRawPeer& far) {
        QByteArray batch;
        for (int i = 0; i <= packets; ++i) {
            batch += i < packets ? packet(i) : Encoded(pkChat, 0, ChatLine(i));
            if ((i + 1) % kPacketsPerSend == 0 || i == packets) {
                if (!far.SendAll(batch))
                    return false;
                batch.clear();
            }
        }
        return true;
    });
    // A last chat line follows the flood; the test stays in the event loop until it is on top.
    const QString last = ChatLine(packets);
    QVERIFY(RunModalUntil([&] { return form.Memo2->document()->firstBlock().text() == last; }, kPatience));
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    QVERIFY(RunModalUntil([&] { return flood.Finished(); }, kPatience));
    QVERIFY(flood.Succeeded());
    const qint64 longest = sockets.LongestHandlingNanoseconds();
    qInfo("%s: %d packets in %.1f s (%.0f packets/s); longest handling of a socket event %.2f ms",
          QTest::currentDataTag(), packets, seconds, packets / seconds, double(longest) / 1e6);

    // The newest lines, newest on top, and no more than the log keeps.
    const QStringList log = ChatLog(form);
    const int first = moves ? packets : 0;
    const int kept = std::min(packets + 1 - first, TForm1::kMaxChatLines);
    QCOMPARE(log.size(), kept);
    for (int i = 0; i < kept; ++i) {
        if (log[i] != ChatLine(packets - i))
            QFAIL(qPrintable(QStringLiteral("line %1 of the log is %2").arg(i).arg(log[i])));
    }
    // A document that keeps the history of its edits keeps every line ever shown in it.
    QCOMPARE(form.Memo2->document()->availableUndoSteps(), 0);
    QVERIFY2(longest < kMaxHandlingNs, "one socket event held the window for 50 ms or more");
    QCOMPARE(session.Connection.ConnectionState, csConnected);

    QVERIFY(flood.Peer().SendAll(Encoded(pkNewGame) + Encoded(pkMove, 4)));
    QVERIFY(RunModalUntil([&] { return session.Match.Board.Cell(4, 1) == cvRemote; }, kPatience));
    QCOMPARE(session.Match.GameState, gsLocalTurn);
    QCOMPARE(session.Match.RemoteScore, 0);
}

QTEST_MAIN(TestFlood)
#include "test_flood.moc"
