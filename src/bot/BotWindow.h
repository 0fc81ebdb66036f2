#pragma once

#include "engine/Engine.h"
#include "game/Board.h"
#include "session/Session.h"
#include "session/SessionWindow.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>

class TThinker;

// The computer opponent's side of a connection: the session core with a "window" that
// answers every box as a player would and, when it is its turn, thinks on another thread.
// It keeps nothing of what it is shown, so a talkative peer cannot grow its memory.
class TBotWindow : public QObject, public TSessionWindow
{
    Q_OBJECT

public:
    // How long a full board without four waits for the peer to start the next game.
    static constexpr int kNextGameDelayMs = 3000;

    // `book` serves the thinking thread and must outlive the window. A loopback-only bot
    // listens for this machine alone.
    TBotWindow(const QString& name, TLevel level, const TOpeningBook& book, std::uint64_t seed,
               bool loopbackOnly = false, QObject* parent = nullptr);
    ~TBotWindow() override;

    TSession& Session() { return *Session_; }

    // The port listened on; nothing when listening failed (the reason went to stderr).
    std::optional<std::uint16_t> Listen(const QString& port);
    // False when the attempt failed at once (the reason went to stderr).
    bool Connect(const QString& host, const QString& port);

    // TSessionWindow
    void RepaintBoard() override {}
    void DrawWinLine(int, int, int, int) override {}
    void ShowStatus(const TStatusTexts& status) override;
    void InsertChatLine(const QString&) override {}
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
    int ShowPlayAgain(const QString& message) override;
    void PeerSaidGoodbye() override;

signals:
    // The connection is over: 0 after it stood, 1 when it never did.
    void Ended(int exitCode);

private:
    void ScheduleReview();
    void Review();
    void FollowGame();
    void MoveFound(int column);
    bool BoardFinished() const;
    void CloseAfterGoodbye();

    std::unique_ptr<TSession> Session_;
    TThinker* Thinker;
    QTimer NextGameTimer;
    TBoard SearchedBoard;
    bool ReviewPending = false;
    bool WasConnected = false;
    bool Greeted = false;
    bool HasEnded = false;
};
