#include "bot/BotWindow.h"

#include "bot/Thinker.h"

#include <cstdio>

namespace {

constexpr QStringView kGreeting = u"Bonne partie !";

TPosition PositionOf(const TBoard& board)
{
    return TPosition::FromCells([&board](int column, int row) { return board.Cell(column + 1, row + 1); },
                                cvLocal);
}

}  // namespace

TBotWindow::TBotWindow(const QString& name, TLevel level, const TOpeningBook& book, std::uint64_t seed,
                       bool loopbackOnly, QObject* parent)
    : QObject(parent)
    , Session_(std::make_unique<TSession>(*this, TSessionOptions{.Connection = {.LoopbackOnly = loopbackOnly}}))
    , Thinker(new TThinker(level, book, seed, this))
{
    Session_->Match.LocalName = name;
    connect(Thinker, &TThinker::Finished, this, &TBotWindow::MoveFound);
    NextGameTimer.setSingleShot(true);
    NextGameTimer.setInterval(kNextGameDelayMs);
    connect(&NextGameTimer, &QTimer::timeout, this, [this] { Session_->New1Click(); });
}

TBotWindow::~TBotWindow()
{
    // The session's sockets go before the rest: nothing may call back into a half-gone window.
    Session_.reset();
}

std::optional<std::uint16_t> TBotWindow::Listen(const QString& port)
{
    Session_->Listen(port);
    if (Session_->State() != csListening)
        return std::nullopt;
    return Session_->LocalPort();
}

bool TBotWindow::Connect(const QString& host, const QString& port)
{
    Session_->Connect(host, port);
    return Session_->State() != csNone;
}

void TBotWindow::ShowStatus(const TStatusTexts&)
{
    ScheduleReview();
}

int TBotWindow::MessageBox(const QString& text, const QString&, unsigned flags)
{
    // Boxes during a game are the game's own (a win, the New question); others are failures.
    const bool failure = (flags & MB_ICONERROR) || Session_->State() != csConnected;
    if (failure)
        std::fprintf(stderr, "tessaro-bot: %s\n", qUtf8Printable(text));
    return IsYesNo(flags) ? IDYES : IDOK;
}

int TBotWindow::ShowPlayAgain(const QString&)
{
    return IDOK;
}

void TBotWindow::PeerSaidGoodbye()
{
    // Not from inside the dispatch of the packet: the rest of its batch still runs there.
    QMetaObject::invokeMethod(this, &TBotWindow::CloseAfterGoodbye, Qt::QueuedConnection);
}

void TBotWindow::CloseAfterGoodbye()
{
    if (Session_->State() != csNone)
        Session_->CloseConnection();
}

// The session calls the window in the middle of its work; the bot acts once that work is done.
void TBotWindow::ScheduleReview()
{
    if (ReviewPending)
        return;
    ReviewPending = true;
    QMetaObject::invokeMethod(this, &TBotWindow::Review, Qt::QueuedConnection);
}

void TBotWindow::Review()
{
    ReviewPending = false;
    switch (Session_->State()) {
    case csNone:
        Thinker->Abandon();
        NextGameTimer.stop();
        if (!HasEnded) {
            HasEnded = true;
            emit Ended(WasConnected ? 0 : 1);
        }
        return;
    case csConnected:
        WasConnected = true;
        if (!Greeted) {
            Greeted = true;
            Session_->EnterChatText(kGreeting.toString());
        }
        FollowGame();
        return;
    default:
        return;
    }
}

void TBotWindow::FollowGame()
{
    const TMatchFlow& match = Session_->Match;
    const bool running = match.GameState == gsLocalTurn || match.GameState == gsRemoteTurn;
    const bool finished = running && BoardFinished();
    if (!finished)
        NextGameTimer.stop();
    else if (!NextGameTimer.isActive())
        NextGameTimer.start();

    const bool ourMove = match.GameState == gsLocalTurn && !finished;
    if (Thinker->IsBusy()) {
        if (!ourMove || match.Board != SearchedBoard)
            Thinker->Abandon();
        return;
    }
    if (ourMove) {
        SearchedBoard = match.Board;
        Thinker->Start(PositionOf(match.Board));
    }
}

void TBotWindow::MoveFound(int column)
{
    const TMatchFlow& match = Session_->Match;
    const bool current = Session_->State() == csConnected && match.GameState == gsLocalTurn
                         && match.Board == SearchedBoard;
    if (current && column >= 0 && column < kColumns) {
        if (const int row = match.Board.FreeRow(column + 1))
            Session_->PlayLocalMove(column + 1, row);
    }
    // A stale search may have been waited for: the present position may need one of its own.
    ScheduleReview();
}

// A full board, or a four that the peer played on after: no move of ours makes sense.
bool TBotWindow::BoardFinished() const
{
    const TBoard& board = Session_->Match.Board;
    return board.IsFull() || board.HasFourInRow(cvLocal) || board.HasFourInRow(cvRemote);
}
