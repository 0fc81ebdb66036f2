#pragma once

#include "session/SessionWindow.h"

#include <QStringList>

#include <array>
#include <functional>

struct TShownBox
{
    QString Text;
    QString Caption;
    unsigned Flags = 0;
};

// A window for the session core that records what it is shown and answers boxes on cue, from
// handlers that may run code "inside" the box (a nested loop with RunModalUntil, so socket
// events keep flowing); else OK, No to a Yes/No question, or Cancel to play again.
class TFakeWindow : public TSessionWindow
{
public:
    void RepaintBoard() override { ++Repaints; }
    void DrawWinLine(int col1, int row1, int col2, int row2) override { WinLines.append({col1, row1, col2, row2}); }
    void ShowStatus(const TStatusTexts& status) override { Status = status, Log << "status: " + status.Panel0; }
    void InsertChatLine(const QString& line) override { ChatLines.prepend(line), Log << "chat: " + line; }
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override
    {
        Boxes.append({text, caption, flags});
        return OnBox ? OnBox(Boxes.last()) : IsYesNo(flags) ? IDNO : IDOK;
    }
    int ShowPlayAgain(const QString& message) override
    {
        PlayAgainMessages.append(message);
        return OnPlayAgain ? OnPlayAgain(message) : IDCANCEL;
    }

    QStringList Log;        // "chat: " and "status: " entries, in the order shown
    QStringList ChatLines;  // newest first, as the chat log shows them
    TStatusTexts Status;
    QList<TShownBox> Boxes;
    QStringList PlayAgainMessages;
    QList<std::array<int, 4>> WinLines;
    int Repaints = 0;

    std::function<int(const TShownBox&)> OnBox;
    std::function<int(const QString&)> OnPlayAgain;
};
