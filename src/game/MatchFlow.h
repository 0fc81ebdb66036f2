#pragma once

#include "game/Board.h"

#include <QString>

#include <cstdint>

enum TGameState : std::int32_t { gsNone = 0, gsOver = 1, gsLocalTurn = 2, gsRemoteTurn = 3 };

// What the match flow needs of its owner: the board view, the status bar, the boxes
// and the connection. The owner is the main window in the program, a fake in tests.
class TMatchHost
{
public:
    virtual ~TMatchHost() = default;

    virtual void RepaintBoard() = 0;  // repaint at once, so a win line lands on the new picture
    virtual void DrawWinLine(int col1, int row1, int col2, int row2) = 0;
    virtual void UpdateStatus() = 0;
    virtual void ShowMessage(const QString& text) = 0;    // OK box captioned with the title
    virtual bool AskYesNo(const QString& text) = 0;       // Yes/No box with the stop icon
    virtual bool AskPlayAgain(const QString& message) = 0;  // the play-again dialog; true on OK

    virtual bool IsConnected() const = 0;
    virtual void SendMove(int column) = 0;
    virtual void SendNewGame() = 0;
    virtual void Disconnect() = 0;
};

// The games of one connection: turns, wins, scores and names.
class TMatchFlow
{
public:
    explicit TMatchFlow(TMatchHost& host);

    // The opponent's name before any peer has named itself.
    static QString NoOpponentName();

    void StartNewGame();
    void ApplyRemoteNewGame();
    void PlayLocalMove(int column, int row);
    void ApplyRemoteMove(int column);
    void New1Click();
    void ResetBoard();

    TBoard Board;
    TGameState GameState = gsNone;
    std::int32_t LocalScore = 0;
    std::int32_t RemoteScore = 0;
    QString LocalName;
    QString RemoteName;

private:
    TMatchHost& Host;
};
