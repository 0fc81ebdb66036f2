#pragma once

#include "session/SessionWindow.h"

#include <QList>
#include <QString>
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

// A window for the session core that records what it is shown and answers boxes on cue:
// from a queue of answers, else from a handler that may run code "inside" the box (spin a
// nested event loop with RunModalUntil of ModalLoop.h, so socket events keep flowing), else by default
// (OK, or No for a Yes/No question, or Cancel for the play-again dialog).
class TFakeWindow : public TSessionWindow
{
public:
    void RepaintBoard() override;
    void DrawWinLine(int col1, int row1, int col2, int row2) override;
    void ShowStatus(const TStatusTexts& status) override;
    void InsertChatLine(const QString& line) override;
    int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
    int ShowPlayAgain(const QString& message) override;

    TStatusTexts Status() const { return Statuses.isEmpty() ? TStatusTexts{} : Statuses.last(); }
    bool HasBoxWith(const QString& text) const;

    QStringList Log;        // "chat: ", "status: ", "box: ", "again: " entries, in the order shown
    QStringList ChatLines;  // newest first, as the chat log shows them
    QList<TStatusTexts> Statuses;
    QList<TShownBox> Boxes;
    QStringList PlayAgainMessages;
    QList<std::array<int, 4>> WinLines;
    int Repaints = 0;
    int OpenBoxes = 0;  // boxes open right now, nested ones included

    std::deque<int> BoxAnswers;
    std::deque<int> PlayAgainAnswers;
    std::function<int(const TShownBox&)> OnBox;
    std::function<int(const QString&)> OnPlayAgain;
};
