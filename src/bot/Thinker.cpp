#include "bot/Thinker.h"

TThinker::TThinker(TLevel level, const TOpeningBook& book, std::uint64_t seed, QObject* parent)
    : QObject(parent)
    , Engine(std::make_unique<TEngine>(level, book, seed))
{
}

TThinker::~TThinker()
{
    Stop = true;
    if (Worker.joinable())
        Worker.join();
}

void TThinker::Start(const TPosition& position)
{
    if (Busy)
        return;
    // The previous worker has already posted its move, so this join does not wait.
    if (Worker.joinable())
        Worker.join();
    Stop = false;
    Busy = true;
    Worker = std::thread([this, position] {
        const int column = Engine->ChooseMove(position, Stop);
        // Dropped unread if this object is gone by then: its posted calls die with it.
        QMetaObject::invokeMethod(this, [this, column] { Done(column); }, Qt::QueuedConnection);
    });
}

void TThinker::Abandon()
{
    Stop = true;
}

void TThinker::Done(int column)
{
    Busy = false;
    emit Finished(Stop ? -1 : column);
}
