#include "support/FakeWindow.h"

#include <algorithm>

namespace {

// Keeps the count of open boxes right however the answer is produced.
class TBoxScope
{
public:
    explicit TBoxScope(int& open)
        : Open(open)
    {
        ++Open;
    }
    ~TBoxScope() { --Open; }
    TBoxScope(const TBoxScope&) = delete;
    TBoxScope& operator=(const TBoxScope&) = delete;

private:
    int& Open;
};

int TakeFront(std::deque<int>& answers)
{
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

}  // namespace

void TFakeWindow::RepaintBoard()
{
    ++Repaints;
}

void TFakeWindow::DrawWinLine(int col1, int row1, int col2, int row2)
{
    WinLines.append({col1, row1, col2, row2});
}

void TFakeWindow::ShowStatus(const TStatusTexts& status)
{
    Statuses.append(status);
    Log << QStringLiteral("status: ") + status.Panel0;
}

void TFakeWindow::InsertChatLine(const QString& line)
{
    ChatLines.prepend(line);
    Log << QStringLiteral("chat: ") + line;
}

int TFakeWindow::MessageBox(const QString& text, const QString& caption, unsigned flags)
{
    const TShownBox box{text, caption, flags};
    Boxes.append(box);
    Log << QStringLiteral("box: ") + text;
    const TBoxScope scope(OpenBoxes);
    if (!BoxAnswers.empty())
        return TakeFront(BoxAnswers);
    if (OnBox)
        return OnBox(box);
    return (flags & MB_YESNO) ? IDNO : IDOK;
}

int TFakeWindow::ShowPlayAgain(const QString& message)
{
    PlayAgainMessages.append(message);
    Log << QStringLiteral("again: ") + message;
    const TBoxScope scope(OpenBoxes);
    if (!PlayAgainAnswers.empty())
        return TakeFront(PlayAgainAnswers);
    if (OnPlayAgain)
        return OnPlayAgain(message);
    return IDCANCEL;
}

bool TFakeWindow::HasBoxWith(const QString& text) const
{
    return std::any_of(Boxes.begin(), Boxes.end(), [&text](const TShownBox& box) { return box.Text == text; });
}
