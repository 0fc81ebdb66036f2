#include "support/FakeWindow.h"

namespace {

int Answer(std::deque<int>& answers, const auto& handler, const auto& shown, int fallback)
{
    if (answers.empty())
        return handler ? handler(shown) : fallback;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

}  // namespace

void TFakeWindow::ShowStatus(const TStatusTexts& status)
{
    LastStatus = status;
    Log << "status: " + status.Panel0;
}

void TFakeWindow::InsertChatLine(const QString& line)
{
    ChatLines.prepend(line);
    Log << "chat: " + line;
}

int TFakeWindow::MessageBox(const QString& text, const QString& caption, unsigned flags)
{
    Boxes.append({text, caption, flags});
    return Answer(BoxAnswers, OnBox, Boxes.last(), (flags & MB_YESNO) ? IDNO : IDOK);
}

int TFakeWindow::ShowPlayAgain(const QString& message)
{
    PlayAgainMessages.append(message);
    return Answer(PlayAgainAnswers, OnPlayAgain, message, IDCANCEL);
}
