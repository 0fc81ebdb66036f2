#pragma once

#include "game/MatchFlow.h"
#include "session/ConnectionManager.h"
#include "session/SessionWindow.h"

#include <QString>

#include <memory>

class TSocketLayer;

// The whole logic of one running program minus its widgets: the games, the connection and
// the texts of the status bar. The window shows what it is told and answers the boxes.
class TSession : public TMatchHost
{
public:
    explicit TSession(TSessionWindow& window);
    ~TSession() override;
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

private:
    // Declared first: the members below hold on to both.
    TSessionWindow& Window;
    std::unique_ptr<TSocketLayer> Sockets;

public:
    TMatchFlow Match;
    TConnectionManager Connection;

    // Entry points the window calls after its dialogs. Commands that the current connection
    // state does not allow are ignored, as the menu would not offer them.
    void Connect1Click(const QString& address, const QString& port);
    void Listen1Click(const QString& port);
    void Disconnect1Click() override;
    void StopListening1Click();
    void New1Click();
    void PlayLocalMove(int column, int row);

    // The Enter key in the chat input: "name: text" goes on top of the log and to the peer.
    void EnterChatText(const QString& typed);
    void SendChatLine(const QString& line);
    void InsertChatLine(const QString& line);

    void UpdateStatus() override;
    TStatusTexts StatusTexts() const;
    QString GameText() const;

    void ShowError(const QString& message);
    void ReportSocketError(const QString& label);
    static QString ApplicationTitle();

    TSocketLayer& SocketLayer() { return *Sockets; }
    TSessionWindow& SessionWindow() { return Window; }

    // TMatchHost
    void RepaintBoard() override;
    void DrawWinLine(int col1, int row1, int col2, int row2) override;
    void ShowMessage(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    bool AskPlayAgain(const QString& message) override;
    bool IsConnected() const override;
    void SendMove(int column) override;
    void SendNewGame() override;
};
