#include "net/ChoppingRelay.h"
#include "net/PacketSamples.h"
#include "session/Session.h"
#include "net/SocketLayer.h"
#include "support/FakeWindow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>

#include <functional>

// Two sessions play thousands of random games through a relay that cuts the stream into random
// pieces: moves, chat bursts, new games from either side, and now and then a loser who declines
// to play again, which ends the connection until the players reconnect. Chat travels alongside
// the moves and is checked line by line; everything else completes before the next action.

namespace {

constexpr int kDefaultGames = 10000;
constexpr int kPatience = 20000;
constexpr quint32 kDefaultSeed = 20240611;

int EnvironmentNumber(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

TBoard Mirror(const TBoard& board)
{
    TBoard mirrored;
    for (int col = 1; col <= kColumns; ++col) {
        for (int row = 1; row <= kRows; ++row) {
            const std::int32_t cell = board.Cell(col, row);
            mirrored.SetCell(col, row, cell == cvLocal ? cvRemote : cell == cvRemote ? cvLocal : cell);
        }
    }
    return mirrored;
}

int LowestEmptyRow(const TBoard& board, int column)
{
    int row = 1;
    while (row <= kRows && board.Cell(column, row) != cvEmpty)
        ++row;
    return row <= kRows ? row : 0;
}

class TPlayer
{
public:
    explicit TPlayer(const QString& name)
        : Name(name)
    {
        Session.Match.LocalName = name;
        Session.UpdateStatus();
    }

    TConnectionManager& Net() { return Session.Connection; }
    TMatchFlow& Match() { return Session.Match; }
    TSocketLayer& Sockets() { return Session.SocketLayer(); }
    bool Closed() { return Net().ConnectionState == csNone && Sockets().OpenSockets() == 0 && Sockets().LingeringSockets() == 0; }

    // Forgets what the window recorded, so a long run keeps its memory flat.
    void Tidy()
    {
        const TStatusTexts last = Window.Status();
        Window.Log.clear();
        Window.Statuses = {last};
        Window.Boxes.clear();
        Window.WinLines.clear();
        Window.PlayAgainMessages.clear();
    }

    const QString Name;
    TFakeWindow Window;
    TSession Session{Window};
    QStringList ChatSent;  // lines sent and not yet checked at the other end, oldest first
};

class TSoak
{
public:
    explicit TSoak(quint32 seed)
        : Random(seed)
        , Relay(seed + 1)
    {
        for (TPlayer* player : {&Alice, &Bob}) {
            player->Window.OnBox = [this, player](const TShownBox& box) { return AnswerBox(*player, box); };
            player->Window.OnPlayAgain = [this, player](const QString& message) { return AnswerPlayAgain(*player, message); };
        }
        Watchdog.start(50);
    }

    void Run(int games)
    {
        Connect();
        while (Failure.isEmpty() && Games < games)
            Step();
        if (Failure.isEmpty())
            SettleChats();
        CheckScores();
    }

    QString Failure;
    int Games = 0;
    int Moves = 0;
    int ChatLines = 0;
    int NewGames = 0;
    int Connections = 0;
    qint64 Pieces() const { return Relay.Pieces(); }
    quint64 Wakeups() { return Alice.Sockets().Wakeups() + Bob.Sockets().Wakeups(); }

private:
    bool Check(bool condition, const QString& what)
    {
        if (!condition && Failure.isEmpty())
            Failure = QStringLiteral("game %1, move %2: %3").arg(Games).arg(Moves).arg(what);
        return condition;
    }

    bool WaitUntil(const std::function<bool()>& done, const QString& what)
    {
        const QDeadlineTimer deadline(kPatience);
        while (!done()) {
            if (!Check(!deadline.hasExpired(), QStringLiteral("no sign of ") + what))
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        return true;
    }

    TPlayer& Other(const TPlayer& player) { return &player == &Alice ? Bob : Alice; }
    TPlayer& AnyPlayer() { return Random.bounded(2) == 0 ? Alice : Bob; }
    int& WinsOf(const TPlayer& player) { return &player == &Alice ? AliceWins : BobWins; }

    void Connect()
    {
        if (!WaitUntil([this] { return Relay.Idle() && Alice.Closed() && Bob.Closed(); }, "both ends closing"))
            return;
        for (TPlayer* player : {&Alice, &Bob}) {
            player->Window.ChatLines.clear();
            player->Tidy();
        }
        Bob.Session.Listen1Click(QStringLiteral("0"));
        Bob.Window.ChatLines.clear();  // the addresses to hand out
        Relay.SetTarget(Bob.Net().LocalPort());
        Alice.Session.Connect1Click(QStringLiteral("127.0.0.1"), QString::number(Relay.Port()));
        const auto introduced = [](TPlayer& player) {
            return player.Net().ConnectionState == csConnected && player.Window.ChatLines.size() == 1
                && player.Window.ChatLines.first().startsWith(":: Vous avez connecté à ");
        };
        if (!WaitUntil([&] { return introduced(Alice) && introduced(Bob) && Bob.Match().GameState == gsRemoteTurn; },
                       QStringLiteral("the connection")))
            return;
        ++Connections;
        AliceWins = 0;
        BobWins = 0;
        Check(Alice.Match().GameState == gsLocalTurn, QStringLiteral("the connecting side moves first"));
        Check(Alice.Match().Board == TBoard() && Bob.Match().Board == TBoard(), QStringLiteral("empty boards"));
        CheckScores();
        Alice.Window.ChatLines.clear();
        Bob.Window.ChatLines.clear();
    }

    void Step()
    {
        if (Alice.Net().ConnectionState != csConnected || Bob.Net().ConnectionState != csConnected) {
            Connect();
            return;
        }
        const int roll = Random.bounded(100);
        if (roll < 8)
            Chat();
        else if (roll < 11)
            NewGame(AnyPlayer(), Random.bounded(2) == 0);
        else
            Move();
    }

    void Move()
    {
        TPlayer& mover = Alice.Match().GameState == gsLocalTurn ? Alice : Bob;
        TPlayer& other = Other(mover);
        if (!Check(mover.Match().GameState == gsLocalTurn && other.Match().GameState == gsRemoteTurn,
                   QStringLiteral("exactly one side is to move")))
            return;
        QList<int> open;
        for (int col = 1; col <= kColumns; ++col) {
            if (LowestEmptyRow(mover.Match().Board, col) > 0)
                open << col;
        }
        if (open.isEmpty()) {
            // A full board ends nothing; someone has to start the next game.
            NewGame(AnyPlayer(), true);
            return;
        }
        const int col = open[Random.bounded(int(open.size()))];
        const int row = LowestEmptyRow(mover.Match().Board, col);
        TBoard after = mover.Match().Board;
        after.SetCell(col, row, cvLocal);
        const bool wins = after.HasFourInRow(cvLocal);
        if (wins)
            ++WinsOf(mover);
        ++Moves;
        mover.Session.PlayLocalMove(col, row);
        if (wins) {
            AfterWin(mover, other);
            return;
        }
        if (!WaitUntil([&] { return other.Match().Board == Mirror(mover.Match().Board); }, QStringLiteral("the move")))
            return;
        Check(mover.Match().GameState == gsRemoteTurn && other.Match().GameState == gsLocalTurn,
              QStringLiteral("the turn passes with the move"));
        SettleChats();
    }

    // The winner's box has been answered by now; the loser's answer was carried out behind it.
    void AfterWin(TPlayer& winner, TPlayer& loser)
    {
        if (winner.Net().ConnectionState == csConnected) {
            Check(loser.Match().GameState == gsLocalTurn && winner.Match().GameState == gsRemoteTurn,
                  QStringLiteral("the loser opens the next game"));
            Check(loser.Match().Board == TBoard() && winner.Match().Board == TBoard(), QStringLiteral("both boards cleared"));
            CheckScores();
            SettleChats();
        } else {
            // Everything sent before the goodbye arrives before the close: no chat line may be missing.
            Check(ChatsDelivered(), QStringLiteral("chat lines before the goodbye"));
            CheckChats();
            Check(winner.Window.Log.contains(QStringLiteral("chat: :: %1 a deconnecté").arg(loser.Name)),
                  QStringLiteral("the goodbye line"));
            WaitUntil([&] { return Relay.Idle() && winner.Closed() && loser.Closed(); }, QStringLiteral("both ends closing"));
            Check(winner.Match().LocalScore == 0 && loser.Match().RemoteScore == 0, QStringLiteral("scores end with the connection"));
        }
        winner.Tidy();
        loser.Tidy();
    }

    void NewGame(TPlayer& starter, bool answerYes)
    {
        TPlayer& other = Other(starter);
        const TGameState before = starter.Match().GameState;
        const bool asks = before == gsLocalTurn || before == gsRemoteTurn;
        const TBoard board = starter.Match().Board;
        const qsizetype boxes = starter.Window.Boxes.size();
        const int repaints = other.Window.Repaints;
        AnswerYes = answerYes;
        starter.Session.New1Click();
        Check(starter.Window.Boxes.size() == boxes + (asks ? 1 : 0), QStringLiteral("the question comes while a game runs"));
        if (asks && !answerYes) {
            Check(starter.Match().Board == board && starter.Match().GameState == before, QStringLiteral("No changes nothing"));
            return;
        }
        ++NewGames;
        Check(starter.Match().GameState == gsLocalTurn && starter.Match().Board == TBoard(),
              QStringLiteral("the starter moves first on an empty board"));
        // The board is repainted when the new game arrives; nothing else travels that way now.
        WaitUntil([&] { return other.Window.Repaints > repaints; }, QStringLiteral("the new game"));
        Check(other.Match().GameState == gsRemoteTurn && other.Match().Board == TBoard(),
              QStringLiteral("the other side waits on an empty board"));
        starter.Tidy();
        other.Tidy();
    }

    void Chat()
    {
        TPlayer& sender = AnyPlayer();
        const int lines = Random.bounded(1, 4);
        for (int i = 0; i < lines; ++i) {
            // Mostly short lines, some beyond 255 bytes, which travel as long strings.
            const int length = Random.bounded(5) == 0 ? Random.bounded(200, 400) : Random.bounded(40);
            const QString text = PacketSamples::SampleText(Random, length);
            sender.Session.EnterChatText(text);
            sender.ChatSent << sender.Name + QStringLiteral(": ") + text;
            ++ChatLines;
        }
    }

    int AnswerBox(TPlayer& self, const TShownBox& box)
    {
        if (box.Flags & MB_YESNO) {
            Check(box.Text == "Etes-vous certain que vous voulez quitter votre jeu?", "the question: " + box.Text);
            return AnswerYes ? IDYES : IDNO;
        }
        if (!Check(box.Text == "Vous avez gagné!", "an unexpected box: " + box.Text))
            return IDOK;
        // The box stays open until the loser has answered, so that answer lands behind it.
        WaitUntil([&] { return self.Match().GameState == gsRemoteTurn || self.Net().ConnectionState == csNone; },
                  QStringLiteral("the loser's answer"));
        return IDOK;
    }

    int AnswerPlayAgain(TPlayer& loser, const QString& message)
    {
        TPlayer& winner = Other(loser);
        Check(message == "Vous avez perdu", "the play-again text: " + message);
        Check(loser.Match().Board == Mirror(winner.Match().Board), QStringLiteral("the boards of the finished game mirror"));
        Check(!loser.Window.WinLines.isEmpty() && loser.Window.WinLines == winner.Window.WinLines,
              QStringLiteral("both sides mark the same four"));
        CheckScores();
        ++Games;
        return Random.bounded(100) < 5 ? IDCANCEL : IDOK;  // declining ends the connection
    }

    QStringList LinesFrom(TPlayer& receiver, const TPlayer& sender)
    {
        QStringList lines;
        const QString prefix = sender.Name + QStringLiteral(": ");
        for (const QString& line : receiver.Window.ChatLines) {
            if (line.startsWith(prefix))
                lines.prepend(line);  // the log is newest first
        }
        return lines;
    }

    bool ChatsDelivered()
    {
        return LinesFrom(Bob, Alice).size() >= Alice.ChatSent.size() && LinesFrom(Alice, Bob).size() >= Bob.ChatSent.size();
    }

    void CheckChats()
    {
        for (TPlayer* sender : {&Alice, &Bob}) {
            TPlayer& receiver = Other(*sender);
            Check(LinesFrom(receiver, *sender) == sender->ChatSent,
                  QStringLiteral("the chat lines of %1 arrived as sent").arg(sender->Name));
            sender->ChatSent.clear();
        }
        Alice.Window.ChatLines.clear();
        Bob.Window.ChatLines.clear();
    }

    // Waits for every chat line sent so far, then checks them.
    void SettleChats()
    {
        if (WaitUntil([this] { return ChatsDelivered(); }, "chat lines"))
            CheckChats();
    }

    void CheckScores()
    {
        Check(Alice.Match().LocalScore == AliceWins && Bob.Match().RemoteScore == AliceWins
                  && Bob.Match().LocalScore == BobWins && Alice.Match().RemoteScore == BobWins,
              QStringLiteral("scores %1-%2 / %3-%4, expected %5-%6")
                  .arg(Alice.Match().LocalScore).arg(Alice.Match().RemoteScore).arg(Bob.Match().LocalScore)
                  .arg(Bob.Match().RemoteScore).arg(AliceWins).arg(BobWins));
    }

    QRandomGenerator Random;
    TPlayer Alice{QStringLiteral("Alice")};  // connects, through the relay
    TPlayer Bob{QStringLiteral("Bob")};      // listens
    TChoppingRelay Relay;
    QTimer Watchdog;  // wakes the waiting loop now and then, so a stall ends in a report
    bool AnswerYes = false;
    int AliceWins = 0;  // on the current connection
    int BobWins = 0;
};

}  // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void gamesThroughAChoppingRelay();
};

void TestSoak::gamesThroughAChoppingRelay()
{
    const int games = EnvironmentNumber("TESSARO_SOAK_GAMES", kDefaultGames);
    const auto seed = quint32(EnvironmentNumber("TESSARO_SOAK_SEED", int(kDefaultSeed)));
    TSoak soak(seed);
    QElapsedTimer clock;
    clock.start();
    soak.Run(games);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    qInfo("soak (seed %u): %d games, %d moves, %d chat lines, %d new games, %d connections, %lld relay pieces, "
          "%llu socket wakeups in %.1f s: %.0f games/s",
          seed, soak.Games, soak.Moves, soak.ChatLines, soak.NewGames, soak.Connections, soak.Pieces(),
          soak.Wakeups(), seconds, soak.Games / seconds);
    QVERIFY2(soak.Failure.isEmpty(), qPrintable(soak.Failure));
    QVERIFY(soak.Games >= games);
}

QTEST_GUILESS_MAIN(TestSoak)
#include "test_soak.moc"
