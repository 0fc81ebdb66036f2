#include "net/SocketEntry.h"

#include <unistd.h>

TSocketEntry::TSocketEntry(int fd, TSocket handle, QObject* parent)
    : QObject(parent)
    , Fd(fd)
    , Handle(handle)
    , ReadNotifier(fd, QSocketNotifier::Read)
    , WriteNotifier(fd, QSocketNotifier::Write)
{
    ReadNotifier.setEnabled(false);
    WriteNotifier.setEnabled(false);
    LingerTimer.setSingleShot(true);
}

TSocketEntry::~TSocketEntry()
{
    CloseDescriptor();
}

void TSocketEntry::CloseDescriptor()
{
    if (Fd < 0)
        return;
    // Notifiers must let go of a descriptor before it is closed and its number reused.
    SetWatching(false, false);
    ::close(Fd);
    Fd = -1;
}

void TSocketEntry::SetWatching(bool read, bool write)
{
    if (ReadNotifier.isEnabled() != read)
        ReadNotifier.setEnabled(read);
    if (WriteNotifier.isEnabled() != write)
        WriteNotifier.setEnabled(write);
}

void TSocketEntry::Consume(qsizetype count)
{
    OutboxPos += count;
    if (OutboxPos == Outbox.size()) {
        DropQueue();
    } else if (OutboxPos >= 1024 * 1024 && OutboxPos * 2 >= Outbox.size()) {
        // Compact now and then, so a long queue costs linear time in total.
        Outbox.remove(0, OutboxPos);
        OutboxPos = 0;
    }
}

void TSocketEntry::DropQueue()
{
    Outbox.clear();
    OutboxPos = 0;
}
