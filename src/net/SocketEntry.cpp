#include "net/SocketEntry.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Consumed bytes at the front of a buffer are dropped once they are this many and at least
// half of it, so taking a buffer piece by piece costs linear time in total.
constexpr qsizetype kCompactAt = 1024 * 1024;

}  // namespace

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
    } else if (OutboxPos >= kCompactAt && OutboxPos * 2 >= Outbox.size()) {
        Outbox.remove(0, OutboxPos);
        OutboxPos = 0;
    }
}

void TSocketEntry::DropQueue()
{
    Outbox.clear();
    OutboxPos = 0;
}

ssize_t TSocketEntry::ReceiveIntoInbox(qsizetype count)
{
    const qsizetype held = Inbox.size();
    Inbox.resize(held + count);
    const ssize_t n = ::recv(Fd, Inbox.data() + held, static_cast<size_t>(count), MSG_DONTWAIT);
    const int err = errno;
    Inbox.resize(held + std::max<qsizetype>(n, 0));
    errno = err;
    return n;
}

QByteArray TSocketEntry::TakeInbox(qsizetype maxBytes)
{
    const qsizetype count = std::clamp<qsizetype>(maxBytes, 0, InboxBytes());
    if (InboxPos == 0 && count == Inbox.size())
        return std::exchange(Inbox, QByteArray());
    QByteArray bytes = Inbox.sliced(InboxPos, count);
    InboxPos += count;
    if (InboxPos == Inbox.size()) {
        ClearInbox();
    } else if (InboxPos >= kCompactAt && InboxPos * 2 >= Inbox.size()) {
        Inbox.remove(0, InboxPos);
        InboxPos = 0;
    }
    return bytes;
}

void TSocketEntry::ClearInbox()
{
    Inbox.clear();
    InboxPos = 0;
}
