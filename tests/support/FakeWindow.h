#pragma once

#include "session/SessionWindow.h"

#include <QStringList>

#include <array>
#include <deque>
#include <functional>

struct TShownBox
{
    QString Text;
    QString Caption;
    unsigned Flags = 0;
};

// A window for the session core that records what it is shown and answers boxes on cue: the
// play-again box from a queue of answers, then from a handler that may run code "inside" the
// box (a nested loop with RunModalUntil, so socket events keep flowing), else Cancel; a
// message box from its handler, else OK, or No to a Yes/No question.
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
        return OnBox ? OnBox(Boxes.last()) : (flags & MB_YESNO) ? IDNO : IDOK;
    }
    int ShowPlayAgain(const QString& message) override
    {
        PlayAgainMessages.append(message);
        if (PlayAgainAnswers.empty())
            return OnPlayAgain ? OnPlayAgain(message) : IDCANCEL;
        const int answer = PlayAgainAnswers.front();
        PlayAgainAnswers.pop_front();
        return answer;
    }

    QStringList Log;        // "chat: " and "status: " entries, in the order shown
    QStringList ChatLines;  // newest first, as the chat log shows them
    TStatusTexts Status;
    QList<TShownBox> Boxes;
    QStringList PlayAgainMessages;
    QList<std::array<int, 4>> WinLines;
    int Repaints = 0;

    std::deque<int> PlayAgainAnswers;
    std::function<int(const TShownBox&)> OnBox;
    std::function<int(const QString&)> OnPlayAgain;
};
