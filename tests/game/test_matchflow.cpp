#include "game/MatchFlow.h"

#include <QStringList>
#include <QTest>

#include <climits>
#include <deque>
#include <functional>
#include <string_view>
#include <utility>

namespace {

const QString kWin = QStringLiteral("ShowMessage:Vous avez gagné!");
const QString kLoss = QStringLiteral("AskPlayAgain:Vous avez perdu");
const QString kQuestion =
    QStringLiteral("AskYesNo:Etes-vous certain que vous voulez quitter votre jeu?");
const char* const kDrawnGame = "335436335145221263644662511546412177257777";

QString Status(TGameState state)
{
    static const char* const names[] = {"gsNone", "gsOver", "gsLocalTurn", "gsRemoteTurn"};
    return QStringLiteral("UpdateStatus(%1)").arg(QLatin1String(names[state]));
}

const QStringList kStartCalls = {QStringLiteral("SendNewGame"), QStringLiteral("RepaintBoard"),
                                 Status(gsLocalTurn)};

// Stands in for the main window and the connection: records every call in order, answers the
// boxes as told, and runs OnBox inside the next box, as packets handled in its nested loop.
// Two fakes can be wired so that what one sends waits in the other's inbox until delivered.
class TFakeHost : public TMatchHost
{
public:
    TMatchFlow Flow{*this};
    QStringList Calls;
    bool Connected = true;
    bool YesAnswer = true;
    bool PlayAgainAnswer = true;
    std::function<void()> OnBox;

    void RepaintBoard() override { Calls << QStringLiteral("RepaintBoard"); }
    void DrawWinLine(int c1, int r1, int c2, int r2) override
    {
        Calls << QStringLiteral("DrawWinLine(%1,%2,%3,%4)").arg(c1).arg(r1).arg(c2).arg(r2);
    }
    void UpdateStatus() override
    {
        Calls << Status(Flow.GameState);
        // As the window does: scores only live as long as a connection.
        if (!Connected)
            Flow.LocalScore = Flow.RemoteScore = 0;
    }
    void ShowMessage(const QString& text) override
    {
        Calls << QStringLiteral("ShowMessage:") + text;
        RunBox();
    }
    bool AskYesNo(const QString& text) override
    {
        Calls << QStringLiteral("AskYesNo:") + text;
        RunBox();
        return YesAnswer;
    }
    bool AskPlayAgain(const QString& message) override
    {
        Calls << QStringLiteral("AskPlayAgain:") + message;
        RunBox();
        return PlayAgainAnswer;
    }
    bool IsConnected() const override { return Connected; }
    void SendMove(int column) override
    {
        Calls << QStringLiteral("SendMove(%1)").arg(column);
        Post({TPacket::Move, column});
    }
    void SendNewGame() override
    {
        Calls << QStringLiteral("SendNewGame");
        Post({TPacket::NewGame, 0});
    }
    void Disconnect1Click() override
    {
        Calls << QStringLiteral("Disconnect1Click");
        Post({TPacket::Close, 0});
        ConnectionEnded();
    }

    void ConnectionEnded()
    {
        Peer = nullptr;
        Connected = false;
        Flow.GameState = gsNone;
        UpdateStatus();
    }

    void Deliver()
    {
        while (!Inbox.empty()) {
            const TPacket packet = Inbox.front();
            Inbox.pop_front();
            if (packet.Kind == TPacket::Move)
                Flow.ApplyRemoteMove(packet.Column);
            else if (packet.Kind == TPacket::NewGame)
                Flow.ApplyRemoteNewGame();
            else
                ConnectionEnded();
        }
    }

    static void Wire(TFakeHost& a, TFakeHost& b)
    {
        a.Peer = &b;
        b.Peer = &a;
    }

    QStringList TakeCalls() { return std::exchange(Calls, {}); }

private:
    struct TPacket
    {
        enum { Move, NewGame, Close } Kind;
        int Column;
    };

    void Post(TPacket packet)
    {
        if (Peer)
            Peer->Inbox.push_back(packet);
    }
    void RunBox()
    {
        if (auto box = std::exchange(OnBox, {}))
            box();
    }

    TFakeHost* Peer = nullptr;
    std::deque<TPacket> Inbox;
};

QString Score(const TFakeHost& host)
{
    return QStringLiteral("%1:%2").arg(host.Flow.LocalScore).arg(host.Flow.RemoteScore);
}

int LowestEmptyRow(const TBoard& board, int col)
{
    for (int row = 1; row <= kRows; ++row)
        if (board.CanPlace(col, row))
            return row;
    return 0;
}

// A press on the lowest empty cell of a column, then both sides handle what was sent.
void Press(TFakeHost& player, TFakeHost& peer, int col)
{
    player.Flow.PlayLocalMove(col, LowestEmptyRow(player.Flow.Board, col));
    peer.Deliver();
    player.Deliver();
}

// Alternating presses, the first by `first`: "1122" is first 1, second 1, first 2, second 2.
void PlayMoves(TFakeHost& first, TFakeHost& second, std::string_view columns)
{
    bool firstToMove = true;
    for (char c : columns) {
        if (firstToMove)
            Press(first, second, c - '0');
        else
            Press(second, first, c - '0');
        firstToMove = !firstToMove;
    }
}

bool Mirrored(const TBoard& a, const TBoard& b)
{
    for (int col = 1; col <= kColumns; ++col)
        for (int row = 1; row <= kRows; ++row)
            if (a.Cell(col, row) != (b.Cell(col, row) == cvEmpty ? 0 : 3 - b.Cell(col, row)))
                return false;
    return true;
}

// The connecting side A has opened the first game and B has received it.
void Connect(TFakeHost& a, TFakeHost& b)
{
    TFakeHost::Wire(a, b);
    a.Flow.StartNewGame();
    b.Deliver();
    a.TakeCalls();
    b.TakeCalls();
}

}  // namespace

class TestMatchFlow : public QObject
{
    Q_OBJECT

private slots:
    void startValues();
    void startNewGame();
    void applyRemoteNewGame_data();
    void applyRemoteNewGame();
    void new1Click_data();
    void new1Click();
    void playLocalMove_data();
    void playLocalMove();
    void localWin_data();
    void localWin();
    void applyRemoteMove_data();
    void applyRemoteMove();
    void remoteWin_data();
    void remoteWin();
    void outOfRangeColumn_data();
    void outOfRangeColumn();
    void peerNewGameWhileWinBoxOpen();
    void connectionEndsWhilePlayAgainOpen_data();
    void connectionEndsWhilePlayAgainOpen();
    void peerNewGameWhilePlayAgainOpen();
    void bothStartNewGameAtOnce();
    void fullBoardHasNoDraw();
    void scoresAcrossGames();
};

void TestMatchFlow::startValues()
{
    TFakeHost host;
    QCOMPARE(host.Flow.RemoteName, QStringLiteral("aucun"));
    QVERIFY(host.Flow.LocalName.isEmpty());
    QCOMPARE(host.Flow.GameState, gsNone);
    QCOMPARE(host.Flow.LocalScore, 0);
    QCOMPARE(host.Flow.RemoteScore, 0);
    QCOMPARE(host.Flow.Board, TBoard());
    QVERIFY(host.Calls.isEmpty());
}

void TestMatchFlow::startNewGame()
{
    TFakeHost a, b;
    TFakeHost::Wire(a, b);
    a.Flow.Board = TBoard::FromMoves("4455");
    a.Flow.GameState = gsOver;
    a.Flow.LocalScore = 3;

    a.Flow.StartNewGame();
    QCOMPARE(a.Calls, kStartCalls);
    QCOMPARE(a.Flow.Board, TBoard());
    QCOMPARE(a.Flow.GameState, gsLocalTurn);
    QCOMPARE(a.Flow.LocalScore, 3);

    b.Flow.Board = TBoard::FromMoves("123");
    b.Deliver();
    QCOMPARE(b.Flow.GameState, gsRemoteTurn);
    QCOMPARE(b.Flow.Board, TBoard());
}

void TestMatchFlow::applyRemoteNewGame_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("/flow/remote-new-game/none") << int(gsNone);
    QTest::newRow("/flow/remote-new-game/over") << int(gsOver);
    QTest::newRow("/flow/remote-new-game/local-turn") << int(gsLocalTurn);
    QTest::newRow("/flow/remote-new-game/remote-turn") << int(gsRemoteTurn);
}

void TestMatchFlow::applyRemoteNewGame()
{
    QFETCH(int, state);
    TFakeHost host;
    host.Flow.Board = TBoard::FromMoves("4455");
    host.Flow.GameState = TGameState(state);
    host.Flow.RemoteScore = 2;

    host.Flow.ApplyRemoteNewGame();
    QCOMPARE(host.Calls, (QStringList{QStringLiteral("RepaintBoard"), Status(gsRemoteTurn)}));
    QCOMPARE(host.Flow.Board, TBoard());
    QCOMPARE(host.Flow.GameState, gsRemoteTurn);
    QCOMPARE(host.Flow.RemoteScore, 2);
}

void TestMatchFlow::new1Click_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<bool>("starts");

    QTest::newRow("/flow/new/offline/none") << false << int(gsNone) << true << false << false;
    QTest::newRow("/flow/new/offline/over") << false << int(gsOver) << true << false << false;
    QTest::newRow("/flow/new/offline/local-turn")
        << false << int(gsLocalTurn) << true << false << false;
    QTest::newRow("/flow/new/offline/remote-turn")
        << false << int(gsRemoteTurn) << true << false << false;
    QTest::newRow("/flow/new/none") << true << int(gsNone) << false << false << true;
    QTest::newRow("/flow/new/over") << true << int(gsOver) << false << false << true;
    QTest::newRow("/flow/new/local-turn/yes") << true << int(gsLocalTurn) << true << true << true;
    QTest::newRow("/flow/new/local-turn/no") << true << int(gsLocalTurn) << false << true << false;
    QTest::newRow("/flow/new/remote-turn/yes")
        << true << int(gsRemoteTurn) << true << true << true;
    QTest::newRow("/flow/new/remote-turn/no")
        << true << int(gsRemoteTurn) << false << true << false;
}

void TestMatchFlow::new1Click()
{
    QFETCH(bool, connected);
    QFETCH(int, state);
    QFETCH(bool, answer);
    QFETCH(bool, asks);
    QFETCH(bool, starts);

    TFakeHost host;
    host.Connected = connected;
    host.YesAnswer = answer;
    host.Flow.GameState = TGameState(state);
    host.Flow.Board = TBoard::FromMoves("44556");
    const TBoard before = host.Flow.Board;

    host.Flow.New1Click();

    QStringList expected;
    if (asks)
        expected << kQuestion;
    if (starts)
        expected << kStartCalls;
    QCOMPARE(host.Calls, expected);
    QCOMPARE(host.Flow.GameState, starts ? gsLocalTurn : TGameState(state));
    QCOMPARE(host.Flow.Board, starts ? TBoard() : before);
}

void TestMatchFlow::playLocalMove_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("accepted");

    // On the position "33": column 3 holds pieces in rows 1 and 2.
    QTest::newRow("/flow/press/on-top") << int(gsLocalTurn) << 3 << 3 << true;
    QTest::newRow("/flow/press/empty-column") << int(gsLocalTurn) << 6 << 1 << true;
    QTest::newRow("/flow/press/above-gap") << int(gsLocalTurn) << 3 << 4 << false;
    QTest::newRow("/flow/press/occupied") << int(gsLocalTurn) << 3 << 2 << false;
    QTest::newRow("/flow/press/column-0") << int(gsLocalTurn) << 0 << 1 << false;
    QTest::newRow("/flow/press/column-8") << int(gsLocalTurn) << 8 << 1 << false;
    QTest::newRow("/flow/press/row-7") << int(gsLocalTurn) << 3 << 7 << false;
    QTest::newRow("/flow/press/remote-turn") << int(gsRemoteTurn) << 3 << 3 << false;
    QTest::newRow("/flow/press/over") << int(gsOver) << 3 << 3 << false;
    QTest::newRow("/flow/press/none") << int(gsNone) << 3 << 3 << false;
}

void TestMatchFlow::playLocalMove()
{
    QFETCH(int, state);
    QFETCH(int, col);
    QFETCH(int, row);
    QFETCH(bool, accepted);

    TFakeHost host;
    host.Flow.Board = TBoard::FromMoves("33");
    host.Flow.GameState = TGameState(state);
    const TBoard before = host.Flow.Board;

    host.Flow.PlayLocalMove(col, row);

    if (!accepted) {
        QVERIFY(host.Calls.isEmpty());
        QCOMPARE(host.Flow.Board, before);
        QCOMPARE(host.Flow.GameState, TGameState(state));
        return;
    }
    QCOMPARE(host.Calls, (QStringList{QStringLiteral("RepaintBoard"),
                                      QStringLiteral("SendMove(%1)").arg(col),
                                      Status(gsRemoteTurn)}));
    QCOMPARE(host.Flow.Board.Cell(col, row), cvLocal);
    QCOMPARE(host.Flow.GameState, gsRemoteTurn);
}

void TestMatchFlow::localWin_data()
{
    QTest::addColumn<QByteArray>("moves");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("/flow/win/one-line") << QByteArray("112233")
                                        << QStringList{QStringLiteral("DrawWinLine(1,1,4,1)")};
    QTest::newRow("/flow/win/two-lines")
        << QByteArray("11223355")
        << QStringList{QStringLiteral("DrawWinLine(1,1,4,1)"),
                       QStringLiteral("DrawWinLine(2,1,5,1)")};
}

void TestMatchFlow::localWin()
{
    QFETCH(QByteArray, moves);
    QFETCH(QStringList, lines);

    TFakeHost host;
    host.Flow.Board = TBoard::FromMoves(moves.toStdString());
    host.Flow.GameState = gsLocalTurn;
    host.Flow.RemoteScore = 4;

    host.Flow.PlayLocalMove(4, 1);

    // The winning move goes out before the win is found; the win itself is never sent.
    const QStringList expected = QStringList{QStringLiteral("RepaintBoard"),
                                             QStringLiteral("SendMove(4)"), Status(gsRemoteTurn)}
                                 + lines + QStringList{Status(gsOver), kWin};
    QCOMPARE(host.Calls, expected);
    QCOMPARE(host.Flow.GameState, gsOver);
    QCOMPARE(host.Flow.LocalScore, 1);
    QCOMPARE(host.Flow.RemoteScore, 4);
    QCOMPARE(host.Flow.Board.Cell(4, 1), cvLocal);
}

void TestMatchFlow::applyRemoteMove_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("col");

    // On the position "444444": column 4 is full, column 6 empty.
    QTest::newRow("/flow/remote-move/remote-turn") << int(gsRemoteTurn) << 6;
    QTest::newRow("/flow/remote-move/local-turn") << int(gsLocalTurn) << 6;
    QTest::newRow("/flow/remote-move/over") << int(gsOver) << 6;
    QTest::newRow("/flow/remote-move/none") << int(gsNone) << 6;
    QTest::newRow("/flow/remote-move/full-column") << int(gsRemoteTurn) << 4;
}

void TestMatchFlow::applyRemoteMove()
{
    QFETCH(int, state);
    QFETCH(int, col);

    TFakeHost host;
    host.Flow.Board = TBoard::FromMoves("444444");
    host.Flow.GameState = TGameState(state);
    TBoard expected = host.Flow.Board;
    expected.Drop(col, cvRemote);

    host.Flow.ApplyRemoteMove(col);

    QCOMPARE(host.Calls, (QStringList{QStringLiteral("RepaintBoard"), Status(gsLocalTurn)}));
    QCOMPARE(host.Flow.Board, expected);
    QCOMPARE(host.Flow.GameState, gsLocalTurn);
}

void TestMatchFlow::remoteWin_data()
{
    QTest::addColumn<bool>("again");
    QTest::addColumn<QStringList>("tail");

    QTest::newRow("/flow/loss/play-again") << true << kStartCalls;
    QTest::newRow("/flow/loss/disconnect")
        << false << QStringList{QStringLiteral("Disconnect1Click"), Status(gsNone)};
}

void TestMatchFlow::remoteWin()
{
    QFETCH(bool, again);
    QFETCH(QStringList, tail);

    TFakeHost host;
    host.PlayAgainAnswer = again;
    host.Flow.Board = TBoard::FromMoves("515253");
    host.Flow.GameState = gsRemoteTurn;
    host.Flow.LocalScore = 1;
    int scoresInBox = -1;
    host.OnBox = [&] { scoresInBox = host.Flow.LocalScore * 10 + host.Flow.RemoteScore; };

    host.Flow.ApplyRemoteMove(4);

    const QStringList expected =
        QStringList{QStringLiteral("RepaintBoard"), Status(gsLocalTurn),
                    QStringLiteral("DrawWinLine(1,1,4,1)"), Status(gsOver), kLoss}
        + tail;
    QCOMPARE(host.Calls, expected);
    QCOMPARE(scoresInBox, 11);
    if (again) {
        QCOMPARE(host.Flow.GameState, gsLocalTurn);
        QCOMPARE(host.Flow.Board, TBoard());
        QCOMPARE(host.Flow.RemoteScore, 1);
        return;
    }
    QCOMPARE(host.Flow.GameState, gsNone);
    QCOMPARE(host.Flow.Board.Cell(4, 1), cvRemote);
    QCOMPARE(host.Flow.LocalScore + host.Flow.RemoteScore, 0);
}

void TestMatchFlow::outOfRangeColumn_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("col");

    QTest::newRow("/flow/bad-column/0") << int(gsRemoteTurn) << 0;
    QTest::newRow("/flow/bad-column/8") << int(gsRemoteTurn) << 8;
    QTest::newRow("/flow/bad-column/-1") << int(gsRemoteTurn) << -1;
    QTest::newRow("/flow/bad-column/int-min") << int(gsRemoteTurn) << INT_MIN;
    QTest::newRow("/flow/bad-column/int-max") << int(gsRemoteTurn) << INT_MAX;
    QTest::newRow("/flow/bad-column/in-none") << int(gsNone) << 8;
    QTest::newRow("/flow/bad-column/in-over") << int(gsOver) << 0;
}

void TestMatchFlow::outOfRangeColumn()
{
    QFETCH(int, state);
    QFETCH(int, col);

    TFakeHost host;
    host.Flow.Board = TBoard::FromMoves("515253");
    host.Flow.GameState = TGameState(state);
    const TBoard before = host.Flow.Board;

    host.Flow.ApplyRemoteMove(col);

    QVERIFY(host.Calls.isEmpty());
    QCOMPARE(host.Flow.Board, before);
    QCOMPARE(host.Flow.GameState, TGameState(state));
    QCOMPARE(host.Flow.RemoteScore, 0);
}

void TestMatchFlow::peerNewGameWhileWinBoxOpen()
{
    TFakeHost a, b;
    Connect(a, b);
    PlayMoves(a, b, "112233");
    a.TakeCalls();
    b.TakeCalls();
    // The loser answers "play again" while the winner's box is still open.
    a.OnBox = [&] {
        b.Deliver();
        a.Deliver();
    };

    a.Flow.PlayLocalMove(4, 1);

    const QString line = QStringLiteral("DrawWinLine(1,1,4,1)");
    const QStringList winner{QStringLiteral("RepaintBoard"), QStringLiteral("SendMove(4)"),
                             Status(gsRemoteTurn), line, Status(gsOver), kWin,
                             QStringLiteral("RepaintBoard"), Status(gsRemoteTurn)};
    const QStringList loser = QStringList{QStringLiteral("RepaintBoard"), Status(gsLocalTurn),
                                          line, Status(gsOver), kLoss}
                              + kStartCalls;
    QCOMPARE(a.Calls, winner);
    QCOMPARE(b.Calls, loser);
    QCOMPARE(a.Flow.GameState, gsRemoteTurn);
    QCOMPARE(b.Flow.GameState, gsLocalTurn);
    QCOMPARE(a.Flow.Board, TBoard());
    QCOMPARE(b.Flow.Board, TBoard());
    QCOMPARE(Score(a), QStringLiteral("1:0"));
    QCOMPARE(Score(b), QStringLiteral("0:1"));

    Press(b, a, 5);
    QCOMPARE(a.Flow.GameState, gsLocalTurn);
    QVERIFY(Mirrored(a.Flow.Board, b.Flow.Board));
}

void TestMatchFlow::connectionEndsWhilePlayAgainOpen_data()
{
    QTest::addColumn<bool>("again");
    QTest::newRow("/flow/loss/closed-then-play-again") << true;
    QTest::newRow("/flow/loss/closed-then-disconnect") << false;
}

void TestMatchFlow::connectionEndsWhilePlayAgainOpen()
{
    QFETCH(bool, again);

    TFakeHost a, b;
    Connect(a, b);
    PlayMoves(a, b, "112233");
    b.PlayAgainAnswer = again;
    // The winner disconnects while the loser's play-again box is open.
    b.OnBox = [&] {
        a.Disconnect1Click();
        b.Deliver();
    };
    a.Flow.PlayLocalMove(4, 1);
    b.TakeCalls();
    b.Deliver();

    QCOMPARE(a.Flow.GameState, gsNone);
    QCOMPARE(b.Calls.mid(4, 2), (QStringList{kLoss, Status(gsNone)}));
    const QStringList answer =
        again ? kStartCalls : QStringList{QStringLiteral("Disconnect1Click"), Status(gsNone)};
    QCOMPARE(b.Calls.mid(6), answer);
    QVERIFY(!b.Connected);
    QCOMPARE(b.Flow.LocalScore + b.Flow.RemoteScore, 0);
    if (!again) {
        QCOMPARE(b.Flow.GameState, gsNone);
        QCOMPARE(b.Flow.Board.Cell(4, 1), cvRemote);
        return;
    }
    // A game without a peer: one local move lands, then nothing can follow.
    QCOMPARE(b.Flow.GameState, gsLocalTurn);
    QCOMPARE(b.Flow.Board, TBoard());
    b.Flow.PlayLocalMove(4, 1);
    QCOMPARE(b.Flow.Board.Cell(4, 1), cvLocal);
    QCOMPARE(b.Flow.GameState, gsRemoteTurn);
    b.Flow.PlayLocalMove(4, 2);
    QCOMPARE(b.Flow.Board.Cell(4, 2), cvEmpty);
}

void TestMatchFlow::peerNewGameWhilePlayAgainOpen()
{
    TFakeHost host;
    host.Flow.Board = TBoard::FromMoves("515253");
    host.Flow.GameState = gsRemoteTurn;
    host.OnBox = [&] { host.Flow.ApplyRemoteNewGame(); };

    host.Flow.ApplyRemoteMove(4);

    QCOMPARE(host.Calls.mid(4), QStringList({kLoss, QStringLiteral("RepaintBoard"),
                                             Status(gsRemoteTurn)})
                                    + kStartCalls);
    QCOMPARE(host.Flow.GameState, gsLocalTurn);
    QCOMPARE(host.Flow.Board, TBoard());
    QCOMPARE(host.Flow.RemoteScore, 1);
}

void TestMatchFlow::bothStartNewGameAtOnce()
{
    TFakeHost a, b;
    Connect(a, b);
    Press(a, b, 4);
    a.Flow.New1Click();
    b.Flow.New1Click();
    a.Deliver();
    b.Deliver();

    QCOMPARE(a.Flow.GameState, gsRemoteTurn);
    QCOMPARE(b.Flow.GameState, gsRemoteTurn);
    a.TakeCalls();
    a.Flow.PlayLocalMove(4, 1);
    b.Flow.PlayLocalMove(4, 1);
    QVERIFY(a.TakeCalls().isEmpty());

    // Stuck until one side asks again.
    b.YesAnswer = true;
    b.Flow.New1Click();
    a.Deliver();
    QCOMPARE(b.Flow.GameState, gsLocalTurn);
    QCOMPARE(a.Flow.GameState, gsRemoteTurn);
    Press(b, a, 3);
    QCOMPARE(a.Flow.GameState, gsLocalTurn);
    QVERIFY(Mirrored(a.Flow.Board, b.Flow.Board));
}

void TestMatchFlow::fullBoardHasNoDraw()
{
    TFakeHost a, b;
    Connect(a, b);
    PlayMoves(a, b, kDrawnGame);

    QVERIFY(Mirrored(a.Flow.Board, b.Flow.Board));
    QVERIFY(!a.Flow.Board.HasFourInRow(cvLocal) && !a.Flow.Board.HasFourInRow(cvRemote));
    QCOMPARE(a.Flow.GameState, gsLocalTurn);
    QCOMPARE(b.Flow.GameState, gsRemoteTurn);
    for (int col = 1; col <= kColumns; ++col) {
        QCOMPARE(LowestEmptyRow(a.Flow.Board, col), 0);
        a.Flow.PlayLocalMove(col, kRows);
    }
    QVERIFY(!a.Calls.contains(kWin) && !b.Calls.contains(kLoss));
    QCOMPARE(a.Flow.LocalScore + a.Flow.RemoteScore, 0);

    // The game still runs, so starting another asks first.
    a.TakeCalls();
    a.YesAnswer = false;
    a.Flow.New1Click();
    QCOMPARE(a.TakeCalls(), QStringList{kQuestion});
    QCOMPARE(a.Flow.GameState, gsLocalTurn);
}

void TestMatchFlow::scoresAcrossGames()
{
    TFakeHost a, b;
    Connect(a, b);
    a.Flow.RemoteName = QStringLiteral("Marie");

    PlayMoves(a, b, "1122334");  // A wins; B plays again and moves first
    QCOMPARE(b.Flow.GameState, gsLocalTurn);
    QCOMPARE(a.Flow.GameState, gsRemoteTurn);
    PlayMoves(b, a, "1122334");  // B wins; A plays again
    PlayMoves(a, b, "1122334");  // A wins again

    QCOMPARE(Score(a), QStringLiteral("2:1"));
    QCOMPARE(Score(b), QStringLiteral("1:2"));

    a.Flow.New1Click();
    QCOMPARE(Score(a), QStringLiteral("2:1"));

    a.Disconnect1Click();
    b.Deliver();
    QCOMPARE(Score(a), QStringLiteral("0:0"));
    QCOMPARE(Score(b), QStringLiteral("0:0"));
    QCOMPARE(b.Flow.GameState, gsNone);
    QCOMPARE(a.Flow.RemoteName, QStringLiteral("Marie"));
}

QTEST_GUILESS_MAIN(TestMatchFlow)
#include "test_matchflow.moc"
