#include "net/SocketEntry.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Consumed bytes at the front of the send queue are dropped once they are this many and at
// least half of it, so sending a long queue piece by piece costs linear time in total.
constexpr qsizetype kCompactAt = 1024 * 1024;
constexpr qsizetype kInboxChunk = 64 * 1024;

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
    AcceptPause.setSingleShot(true);
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
    if (Inbox.empty() || Inbox.back().size() == kInboxChunk) {
        Inbox.emplace_back();
        Inbox.back().reserve(kInboxChunk);
    }
    QByteArray& tail = Inbox.back();
    const qsizetype held = tail.size();
    const qsizetype room = std::min(count, kInboxChunk - held);
    tail.resize(held + room);
    const ssize_t n = ::recv(Fd, tail.data() + held, static_cast<size_t>(room), MSG_DONTWAIT);
    const int err = errno;
    tail.resize(held + std::max<qsizetype>(n, 0));
    InboxSize += std::max<qsizetype>(n, 0);
    errno = err;
    return n;
}

QByteArray TSocketEntry::TakeInbox(qsizetype maxBytes)
{
    const qsizetype count = std::clamp<qsizetype>(maxBytes, 0, InboxSize);
    if (count == 0)
        return {};
    InboxSize -= count;
    if (InboxFront == 0 && Inbox.front().size() == count) {
        QByteArray bytes = std::move(Inbox.front());
        Inbox.pop_front();
        return bytes;
    }
    QByteArray bytes;
    bytes.reserve(count);
    while (bytes.size() < count) {
        const QByteArray& front = Inbox.front();
        const qsizetype part = std::min(count - bytes.size(), front.size() - InboxFront);
        bytes.append(front.constData() + InboxFront, part);
        InboxFront += part;
        if (InboxFront == front.size()) {
            Inbox.pop_front();
            InboxFront = 0;
        }
    }
    return bytes;
}

void TSocketEntry::ClearInbox()
{
    Inbox.clear();
    InboxFront = 0;
    InboxSize = 0;
}
