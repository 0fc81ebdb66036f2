#include "game/MatchFlow.h"

namespace {

// Views, not QStrings, so no static initialisation order can bite a flow built early.
constexpr QStringView kWinText = u"Vous avez gagné!";
constexpr QStringView kLossText = u"Vous avez perdu";
constexpr QStringView kQuitQuestion = u"Etes-vous certain que vous voulez quitter votre jeu?";
constexpr QStringView kNoOpponent = u"aucun";

TBoard::WinLineSink MarkOn(TMatchHost& host)
{
    return [&host](int col1, int row1, int col2, int row2) {
        host.DrawWinLine(col1, row1, col2, row2);
    };
}

}  // namespace

TMatchFlow::TMatchFlow(TMatchHost& host)
    : RemoteName(NoOpponentName())
    , Host(host)
{
}

QString TMatchFlow::NoOpponentName()
{
    return kNoOpponent.toString();
}

void TMatchFlow::StartNewGame()
{
    // The peer hears of the game before our board clears, so both start from the same point.
    Host.SendNewGame();
    ResetBoard();
    GameState = gsLocalTurn;
    Host.UpdateStatus();
}

void TMatchFlow::ApplyRemoteNewGame()
{
    ResetBoard();
    GameState = gsRemoteTurn;
    Host.UpdateStatus();
}

void TMatchFlow::PlayLocalMove(int column, int row)
{
    if (GameState != gsLocalTurn || !Board.CanPlace(column, row))
        return;
    Board.SetCell(column, row, cvLocal);
    Host.RepaintBoard();
    Host.SendMove(column);
    GameState = gsRemoteTurn;
    Host.UpdateStatus();

    // A win is never announced: the peer finds the same line on its own board.
    if (!Board.HasFourInRow(cvLocal, MarkOn(Host)))
        return;
    ++LocalScore;
    GameState = gsOver;
    Host.UpdateStatus();
    // Packets keep arriving while the box is open; whatever they change stands.
    Host.ShowMessage(kWinText.toString());
}

void TMatchFlow::ApplyRemoteMove(int column)
{
    // A peer that sends a column we do not have gets no effect at all, not even a turn.
    if (column < 1 || column > kColumns)
        return;
    Board.Drop(column, cvRemote);
    Host.RepaintBoard();
    GameState = gsLocalTurn;
    Host.UpdateStatus();

    if (!Board.HasFourInRow(cvRemote, MarkOn(Host)))
        return;
    ++RemoteScore;
    GameState = gsOver;
    Host.UpdateStatus();
    // The connection may end while the box is open; the answer is still carried out.
    if (Host.AskPlayAgain(kLossText.toString()))
        StartNewGame();
    else
        Host.Disconnect();
}

void TMatchFlow::New1Click()
{
    if (!Host.IsConnected())
        return;
    if (GameState == gsNone || GameState == gsOver) {
        StartNewGame();
        return;
    }
    if (Host.AskYesNo(kQuitQuestion.toString()))
        StartNewGame();
}

void TMatchFlow::ResetBoard()
{
    Board.Clear();
    Host.RepaintBoard();
}
