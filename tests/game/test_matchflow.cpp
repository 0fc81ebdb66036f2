#include "game/MatchFlow.h"

#include <QStringList>
#include <QTest>

#include <deque>
#include <functional>
#include <utility>

namespace {

const QStringList kStates{"none", "over", "local", "remote"};
const QString kQuitQuestion = QStringLiteral("Etes-vous certain que vous voulez quitter votre jeu?");
using TPacket = std::function<void(TMatchFlow&)>;  // empty: the connection closes

// Stands in for the window and the connection: logs each call as a word, runs InBox inside the
// next box (packets handled in its nested loop) and answers it with Answer. What a fake sends
// waits in its peer's inbox until the peer calls Deliver().
class TFakeHost : public TMatchHost
{
public:
    TMatchFlow Flow{*this};
    QStringList Log;
    bool Connected = true;
    bool Answer = true;
    std::function<void()> InBox;
    TFakeHost* Peer = nullptr;
    std::deque<TPacket> Inbox;

    void RepaintBoard() override { Log << "paint"; }
    void DrawWinLine(int c, int r, int c2, int r2) override { Log << QString::asprintf("line%d%d-%d%d", c, r, c2, r2); }
    void UpdateStatus() override
    {
        Log << kStates.at(Flow.GameState);
        if (!Connected)  // as the window does: scores last as long as the connection
            Flow.LocalScore = Flow.RemoteScore = 0;
    }
    void ShowMessage(const QString& text) override { Box(text == u"Vous avez gagné!" ? "WIN" : text); }
    bool AskYesNo(const QString& text) override { return Box(text == kQuitQuestion ? "ask" : text); }
    bool AskPlayAgain(const QString& text) override { return Box(text == u"Vous avez perdu" ? "LOST" : text); }
    bool IsConnected() const override { return Connected; }
    void SendMove(int c) override { Send(QString::asprintf("send%d", c), [c](auto& f) { f.ApplyRemoteMove(c); }); }
    void SendNewGame() override { Send("new", &TMatchFlow::ApplyRemoteNewGame); }
    void Disconnect1Click() override
    {
        Send("bye", {});
        Closed();
    }

    void Closed()
    {
        Peer = nullptr;
        Connected = false;
        Flow.GameState = gsNone;
        UpdateStatus();
    }
    // Pops before handling: a packet's box may deliver the rest itself.
    void Deliver()
    {
        while (!Inbox.empty()) {
            const TPacket packet = std::move(Inbox.front());
            Inbox.pop_front();
            packet ? packet(Flow) : Closed();
        }
    }
    // "remote 1:0 7": the state, the scores and the number of pieces on the board.
    QString Summary() const
    {
        int pieces = 0;
        for (int cell = 0; cell < kColumns * kRows; ++cell)
            pieces += Flow.Board.Cell(cell / kRows + 1, cell % kRows + 1) != cvEmpty;
        return kStates.at(Flow.GameState) + QString::asprintf(" %d:%d %d", Flow.LocalScore, Flow.RemoteScore, pieces);
    }

private:
    bool Box(const QString& word)
    {
        Log << word;
        if (auto run = std::exchange(InBox, {}))
            run();
        return Answer;
    }
    void Send(const QString& word, TPacket packet)
    {
        Log << word;
        if (Peer)
            Peer->Inbox.push_back(std::move(packet));
    }
};

}  // namespace

class TestMatchFlow : public QObject
{
    Q_OBJECT

private slots:
    // The row's name is the case: state, moves of the position, action, and "no" to refuse a box.
    void transitions_data()
    {
        QTest::addColumn<QString>("outcome");  // the calls, then => the summary
        QTest::newRow("local 33 new-offline") << "=> local 0:0 2";
        QTest::newRow("none 33 new no") << "new paint local => local 0:0 0";
        QTest::newRow("local 33 new") << "ask new paint local => local 0:0 0";
        QTest::newRow("local 33 new no") << "ask => local 0:0 2";
        QTest::newRow("remote 33 new no") << "ask => remote 0:0 2";
        QTest::newRow("local 33 press 3 3") << "paint send3 remote => remote 0:0 3";
        QTest::newRow("local 33 press 3 4") << "=> local 0:0 2";
        for (const char* state : {"none", "over", "remote"})
            QTest::addRow("%s 33 press 3 3", state) << QString("=> %1 0:0 2").arg(state);
        QTest::newRow("local 112233 press 4 1") << "paint send4 remote line11-41 over WIN => over 1:0 7";
        QTest::newRow("local 11223355 press 4 1") << "paint send4 remote line11-41 line21-51 over WIN => over 1:0 9";
        for (const char* state : {"none", "over", "local", "remote"}) {
            QTest::addRow("%s 33 peer-new", state) << "paint remote => remote 0:0 0";
            QTest::addRow("%s 33 peer 6", state) << "paint local => local 0:0 3";
        }
        QTest::newRow("remote 515253 peer 4") << "paint local line11-41 over LOST new paint local => local 0:1 0";
        QTest::newRow("remote 515253 peer 4 no") << "paint local line11-41 over LOST bye none => none 0:0 7";
        for (const char* col : {"0", "8", "-2147483648"})
            QTest::addRow("remote 33 peer %s", col) << "=> remote 0:0 2";
    }
    void transitions()
    {
        const QStringList words = QString::fromLatin1(QTest::currentDataTag()).split(u' ');
        TFakeHost host;
        host.Connected = words[2] != "new-offline";
        host.Answer = words.last() != "no";
        host.Flow.GameState = TGameState(kStates.indexOf(words[0]));
        host.Flow.Board = TBoard::FromMoves(words[1].toStdString());
        if (words[2].startsWith("new"))
            host.Flow.New1Click();
        else if (words[2] == "peer-new")
            host.Flow.ApplyRemoteNewGame();
        else if (words[2] == "press")
            host.Flow.PlayLocalMove(words[3].toInt(), words[4].toInt());
        else
            host.Flow.ApplyRemoteMove(words[3].toInt());
        QTEST((host.Log << "=>" << host.Summary()).join(u' '), "outcome");
    }

    // a opened the game and b received it; the row's name lists the steps. "a:<columns>" presses
    // them, a first; "a:new", "a:bye" choose New or Disconnect; "a:no" answers no from then on;
    // "read" lets both read. Inside a's next box, "a:box-read" lets b then a read, "a:box-bye" has
    // b disconnect and a read.
    void conversation_data()
    {
        QTest::addColumn<QString>("result");  // a's summary, then b's
        QTest::newRow("a:4 a:new b:new read b:new read b:3") << "local 0:0 1 | remote 0:0 1";
        QTest::newRow("a:335436335145221263644662511546412177257777") << "local 0:0 42 | remote 0:0 42";
        QTest::newRow("a:1122334 b:1122334 a:1122334") << "remote 2:1 0 | local 1:2 0";
        QTest::newRow("a:1122334 b:1122334 a:1122334 a:new read") << "local 2:1 0 | remote 1:2 0";
        QTest::newRow("a:1122334 a:bye read") << "none 0:0 0 | none 0:0 0";
        QTest::newRow("a:112233 a:box-read a:4") << "remote 1:0 0 | local 0:1 0";
        QTest::newRow("a:112233 b:box-bye a:4") << "none 0:0 7 | local 0:0 0";
        QTest::newRow("a:112233 b:box-bye b:no a:4") << "none 0:0 7 | none 0:0 7";
    }
    void conversation()
    {
        TFakeHost a, b;
        QCOMPARE(a.Flow.RemoteName, "aucun");
        a.Peer = &b;
        b.Peer = &a;
        a.Flow.StartNewGame();
        b.Deliver();
        for (const QString& step : QString::fromLatin1(QTest::currentDataTag()).split(u' ')) {
            TFakeHost* side = step.startsWith(u'a') ? &a : &b;
            TFakeHost* other = side == &a ? &b : &a;
            const QString what = step.mid(2);
            if (step == "read") {
                a.Deliver();
                b.Deliver();
            } else if (what == "new") {
                side->Flow.New1Click();
            } else if (what == "bye") {
                side->Disconnect1Click();
            } else if (what == "no") {
                side->Answer = false;
            } else if (what == "box-read") {
                side->InBox = [=] { other->Deliver(); side->Deliver(); };
            } else if (what == "box-bye") {
                side->InBox = [=] { other->Disconnect1Click(); side->Deliver(); };
            } else {
                // Each press on the lowest empty cell; both sides read before the next.
                for (const QChar c : what) {
                    int row = 1;
                    while (row < kRows && !side->Flow.Board.CanPlace(c.digitValue(), row))
                        ++row;
                    side->Flow.PlayLocalMove(c.digitValue(), row);
                    std::swap(side, other);
                    side->Deliver();
                    other->Deliver();
                }
            }
        }
        QTEST(a.Summary() + " | " + b.Summary(), "result");
    }
};

QTEST_GUILESS_MAIN(TestMatchFlow)
#include "test_matchflow.moc"
