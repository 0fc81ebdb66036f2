#include "net/SocketLayer.h"

#include "net/SocketEntry.h"
#include "net/SocketErrors.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Every packet is one complete write, and a move should not wait for the acknowledgement of
// the chat line before it: small packets go out at once.
void SendWithoutDelay(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}


// Handles are never reused in the process, so an event still queued for a closed socket can
// never be mistaken for one of a newer socket.
std::atomic<TSocket> NextHandle{1};

constexpr qsizetype kReadChunk = 64 * 1024;

}  // namespace

TSocketLayer::TSocketLayer()
    : Receiver(std::make_unique<QObject>())
{
    Reserve();
}

TSocketLayer::~TSocketLayer()
{
    ReleaseReserve();
    Sockets.clear();
    // Deletes every socket object, lingering ones included, and drops their queued events.
    Receiver.reset();
}

TSocket TSocketLayer::socket(int family, int type, int protocol)
{
    const int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno(errno);
        return INVALID_SOCKET;
    }
    if (type == SOCK_STREAM)
        SendWithoutDelay(fd);
    const TSocket handle = NextHandle++;
    auto* entry = new TSocketEntry(fd, handle, Receiver.get());
    Watch(*entry);
    Sockets.emplace(handle, entry);
    return handle;
}

int TSocketLayer::bind(TSocket s, const TSocketAddress& address)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (::bind(entry->Fd, address.Data(), address.Length()) != 0)
        return FailErrno(errno);
    return 0;
}

int TSocketLayer::listen(TSocket s, int backlog)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (entry->Phase != TSocketEntry::spOpen && entry->Phase != TSocketEntry::spListening)
        return Fail(WSAEISCONN);
    if (::listen(entry->Fd, backlog) != 0)
        return FailErrno(errno);
    entry->Phase = TSocketEntry::spListening;
    Rearm(*entry);
    return 0;
}

TSocket TSocketLayer::accept(TSocket s, TSocketAddress* address)
{
    TSocketEntry* listener = FindOrFail(s);
    if (!listener)
        return INVALID_SOCKET;
    if (listener->Phase != TSocketEntry::spListening) {
        Fail(WSAEINVAL);
        return INVALID_SOCKET;
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listener->Fd, reinterpret_cast<sockaddr*>(&peer), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int err = errno;
    // As with WSAAsyncSelect, accept() is what re-enables FD_ACCEPT. A failure other than "no
    // connection waiting" leaves the connection in the queue: without a rest FD_ACCEPT would
    // come again at once, for as long as the cause lasts.
    listener->AcceptPending = false;
    if (fd < 0 && err != EAGAIN && err != EINTR)
        listener->AcceptPause.start(kAcceptPauseMilliseconds);
    if (fd < 0 && (err == EMFILE || err == ENFILE))
        ReleaseReserve();
    Rearm(*listener);
    if (fd < 0) {
        FailErrno(err);
        return INVALID_SOCKET;
    }
    Reserve();  // as far as there is room again
    if (address)
        *address = TSocketAddress::FromSystem(reinterpret_cast<const sockaddr*>(&peer), length);
    SendWithoutDelay(fd);
    const TSocket handle = NextHandle++;
    auto* entry = new TSocketEntry(fd, handle, Receiver.get());
    Watch(*entry);
    // The accepted socket inherits the listening socket's selection.
    entry->Phase = TSocketEntry::spConnected;
    entry->Sink = listener->Sink;
    entry->Mask = listener->Mask;
    Sockets.emplace(handle, entry);
    Rearm(*entry);
    return handle;
}

int TSocketLayer::connect(TSocket s, const TSocketAddress& address)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    switch (entry->Phase) {
    case TSocketEntry::spOpen:
        break;
    case TSocketEntry::spConnecting:
        return Fail(WSAEALREADY);
    case TSocketEntry::spConnected:
        return Fail(WSAEISCONN);
    default:
        return Fail(WSAEINVAL);
    }
    const int result = ::connect(entry->Fd, address.Data(), address.Length());
    const int err = errno;
    if (result == 0 || err == EINPROGRESS || err == EINTR) {
        // Even an immediate success is reported through FD_CONNECT, like a pending one.
        entry->Phase = TSocketEntry::spConnecting;
        Rearm(*entry);
        return result == 0 ? 0 : Fail(WSAEWOULDBLOCK);
    }
    // On a TCP connect, EAGAIN means no local port is free, not "try again later".
    return err == EAGAIN ? Fail(WSAEADDRNOTAVAIL) : FailErrno(err);
}

int TSocketLayer::setsockopt(TSocket s, int level, int option, int value)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (::setsockopt(entry->Fd, level, option, &value, sizeof value) != 0)
        return FailErrno(errno);
    return 0;
}

int TSocketLayer::send(TSocket s, QByteArrayView bytes)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (entry->Phase != TSocketEntry::spConnected)
        return Fail(WSAENOTCONN);
    if (entry->Aborted)
        return Fail(WSAECONNABORTED);
    qsizetype sent = 0;
    if (entry->QueuedBytes() == 0) {
        while (sent < bytes.size()) {
            const ssize_t n = ::send(entry->Fd, bytes.data() + sent, static_cast<size_t>(bytes.size() - sent),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += n;
            } else if (errno == EAGAIN) {
                break;
            } else if (errno != EINTR) {
                return FailErrno(errno);
            }
        }
    }
    if (sent < bytes.size()) {
        if (entry->QueuedBytes() + (bytes.size() - sent) > kSendQueueLimit) {
            Abort(*entry);
            return Fail(WSAECONNABORTED);
        }
        // Whatever the kernel does not take now leaves later, in order, behind what is queued.
        entry->Enqueue(bytes.sliced(sent));
        Rearm(*entry);
    }
    return static_cast<int>(std::min<qsizetype>(bytes.size(), INT_MAX));
}

QByteArray TSocketLayer::recv(TSocket s, qsizetype maxBytes)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return {};
    QByteArray bytes = entry->TakeInbox(maxBytes);
    if (entry->InboxBytes() > 0)
        PostRead(*entry);
    if (bytes.isEmpty() && !entry->EndOfStream)
        Fail(WSAEWOULDBLOCK);
    Rearm(*entry);  // reading may have paused at the inbox limit
    return bytes;
}

int TSocketLayer::RequestRead(TSocket s)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (entry->Phase != TSocketEntry::spConnected)
        return Fail(WSAENOTCONN);
    PostRead(*entry);
    return 0;
}

int TSocketLayer::closesocket(TSocket s)
{
    const auto it = Sockets.find(s);
    if (it == Sockets.end())
        return Fail(WSAENOTSOCK);
    TSocketEntry& entry = *it->second;
    Sockets.erase(it);
    entry.Sink = nullptr;
    entry.Mask = 0;
    entry.ClearInbox();
    const bool finished = entry.EndOfStream && entry.QueuedBytes() == 0;
    if (entry.Phase == TSocketEntry::spConnected && !finished)
        BeginLinger(entry);
    else
        Destroy(entry);
    return 0;
}

int TSocketLayer::AsyncSelect(TSocket s, TSocketEventSink* sink, std::uint32_t mask)
{
    TSocketEntry* entry = FindOrFail(s);
    if (!entry)
        return SOCKET_ERROR;
    if (mask != 0 && !sink)
        return Fail(WSAEINVAL);
    entry->Sink = mask != 0 ? sink : nullptr;
    entry->Mask = mask;
    Rearm(*entry);
    if (entry->Phase == TSocketEntry::spConnected)
        PostDue(*entry);
    return 0;
}

std::uint16_t TSocketLayer::LocalPort(TSocket s) const
{
    const TSocketEntry* entry = Find(s);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (!entry || getsockname(entry->Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return TSocketAddress::FromSystem(reinterpret_cast<const sockaddr*>(&address), length).Port();
}

int TSocketLayer::LingeringSockets() const
{
    const auto entries = Receiver->findChildren<TSocketEntry*>(Qt::FindDirectChildrenOnly);
    return static_cast<int>(std::count_if(entries.begin(), entries.end(), [](const TSocketEntry* entry) {
        return entry->Phase == TSocketEntry::spLingering;
    }));
}

qsizetype TSocketLayer::QueuedBytes(TSocket s) const
{
    const TSocketEntry* entry = Find(s);
    return entry ? entry->QueuedBytes() : 0;
}

qsizetype TSocketLayer::InboxBytes(TSocket s) const
{
    const TSocketEntry* entry = Find(s);
    return entry ? entry->InboxBytes() : 0;
}

qsizetype TSocketLayer::UnreadBytes(TSocket s) const
{
    const TSocketEntry* entry = Find(s);
    if (!entry)
        return 0;
    int inKernel = 0;
    if (entry->Fd < 0 || ::ioctl(entry->Fd, FIONREAD, &inKernel) != 0)
        inKernel = 0;
    return entry->InboxBytes() + inKernel;
}

TSocketEntry* TSocketLayer::Find(TSocket s) const
{
    const auto it = Sockets.find(s);
    return it == Sockets.end() ? nullptr : it->second;
}

TSocketEntry* TSocketLayer::FindOrFail(TSocket s)
{
    TSocketEntry* entry = Find(s);
    if (!entry)
        LastError = WSAENOTSOCK;
    return entry;
}

int TSocketLayer::Fail(int code)
{
    LastError = code;
    return SOCKET_ERROR;
}

int TSocketLayer::FailErrno(int err)
{
    return Fail(WsaErrorFromErrno(err));
}

void TSocketLayer::Watch(TSocketEntry& entry)
{
    // The entry is the context: once it is deleted, none of these can fire.
    QObject::connect(&entry.ReadNotifier, &QSocketNotifier::activated, &entry, [this, &entry] { OnReadable(entry); });
    QObject::connect(&entry.WriteNotifier, &QSocketNotifier::activated, &entry, [this, &entry] { OnWritable(entry); });
    QObject::connect(&entry.LingerTimer, &QTimer::timeout, &entry, [this, &entry] { Destroy(entry); });
    QObject::connect(&entry.AcceptPause, &QTimer::timeout, &entry, [this, &entry] { Rearm(entry); });
}

void TSocketLayer::Rearm(TSocketEntry& entry)
{
    if (entry.Fd < 0)
        return;
    bool read = false;
    bool write = false;
    switch (entry.Phase) {
    case TSocketEntry::spListening:
        read = (entry.Mask & FD_ACCEPT) && !entry.AcceptPending && !entry.AcceptPause.isActive();
        break;
    case TSocketEntry::spConnecting:
        write = true;
        break;
    case TSocketEntry::spConnected:
        read = !entry.EndOfStream && entry.InboxBytes() < kInboxLimit;
        write = entry.QueuedBytes() > 0;
        break;
    case TSocketEntry::spLingering:
        read = !entry.EndOfStream;
        write = entry.QueuedBytes() > 0;
        break;
    default:
        break;
    }
    entry.SetWatching(read, write);
}

void TSocketLayer::OnReadable(TSocketEntry& entry)
{
    ++WakeupCount;
    switch (entry.Phase) {
    case TSocketEntry::spListening:
        AcceptReady(entry);
        break;
    case TSocketEntry::spConnected:
        Drain(entry);
        PostDue(entry);
        Rearm(entry);
        break;
    case TSocketEntry::spLingering:
        Drain(entry);
        entry.ClearInbox();  // nobody will read it any more
        AdvanceLinger(entry);
        break;
    default:
        Rearm(entry);
        break;
    }
}

void TSocketLayer::OnWritable(TSocketEntry& entry)
{
    ++WakeupCount;
    switch (entry.Phase) {
    case TSocketEntry::spConnecting:
        ConnectFinished(entry);
        break;
    case TSocketEntry::spConnected:
        Flush(entry);
        Rearm(entry);
        break;
    case TSocketEntry::spLingering:
        if (Flush(entry))
            AdvanceLinger(entry);
        else
            Destroy(entry);
        break;
    default:
        Rearm(entry);
        break;
    }
}

void TSocketLayer::AcceptReady(TSocketEntry& entry)
{
    // Reading stays off until accept() is called: a listening socket cannot be drained,
    // and a level-triggered notifier would spin.
    if (!entry.AcceptPending && (entry.Mask & FD_ACCEPT)) {
        entry.AcceptPending = true;
        Post(entry, FD_ACCEPT, 0);
    }
    Rearm(entry);
}

void TSocketLayer::ConnectFinished(TSocketEntry& entry)
{
    int err = 0;
    socklen_t length = sizeof err;
    if (getsockopt(entry.Fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
        err = errno;
    entry.Phase = err == 0 ? TSocketEntry::spConnected : TSocketEntry::spFailed;
    Rearm(entry);
    if (entry.Mask & FD_CONNECT)
        Post(entry, FD_CONNECT, err == 0 ? 0 : WsaErrorFromErrno(err));
}

void TSocketLayer::Drain(TSocketEntry& entry)
{
    qsizetype budget = kReadBudget;
    while (budget > 0 && !entry.EndOfStream && entry.InboxBytes() < kInboxLimit) {
        const ssize_t n = entry.ReceiveIntoInbox(std::min(budget, kReadChunk));
        const int err = errno;
        if (n > 0) {
            budget -= n;
        } else if (n < 0 && err == EAGAIN) {
            break;
        } else if (n == 0) {
            entry.EndOfStream = true;
        } else if (err != EINTR) {
            EndAbruptly(entry, WsaErrorFromErrno(err));
        }
    }
}

bool TSocketLayer::Flush(TSocketEntry& entry)
{
    while (entry.QueuedBytes() > 0) {
        const QByteArrayView queued = entry.Queued();
        const ssize_t n = ::send(entry.Fd, queued.data(), static_cast<size_t>(queued.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            entry.Consume(n);
        } else if (errno == EAGAIN) {
            return true;
        } else if (errno != EINTR) {
            // The connection is broken; its read side reports the close.
            entry.DropQueue();
            return false;
        }
    }
    return true;
}

void TSocketLayer::PostDue(TSocketEntry& entry)
{
    if (entry.InboxBytes() > 0)
        PostRead(entry);
    PostCloseIfDue(entry);
}

void TSocketLayer::PostRead(TSocketEntry& entry)
{
    if (!entry.ReadPending && (entry.Mask & FD_READ)) {
        entry.ReadPending = true;
        Post(entry, FD_READ, 0);
    }
}

void TSocketLayer::PostCloseIfDue(TSocketEntry& entry)
{
    // Bytes that came before an orderly close are handled before the close: while an FD_READ
    // is on its way, the close waits for it (and for any its handler asks for) to be delivered.
    // After a reset nothing is worth waiting for.
    const bool due = entry.EndedAbruptly() || (entry.EndOfStream && !entry.ReadPending);
    if (due && !entry.ClosePosted && (entry.Mask & FD_CLOSE)) {
        entry.ClosePosted = true;
        Post(entry, FD_CLOSE, entry.CloseError);
    }
}

void TSocketLayer::Abort(TSocketEntry& entry)
{
    // Queuing without end for a peer that takes nothing would only hide that it is gone. What
    // was queued is dropped, the descriptor will close with a reset, and the program hears of
    // it as of any other end of the connection.
    entry.Aborted = true;
    entry.DropQueue();
    EndAbruptly(entry, WSAECONNABORTED);
    const linger abortive{1, 0};
    ::setsockopt(entry.Fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    Rearm(entry);
    PostDue(entry);
}

// The peer has gone (it reset the connection, or we gave it up): the work its unread bytes
// would cause is for nobody, and the program hears of the end before any of it.
void TSocketLayer::EndAbruptly(TSocketEntry& entry, int error)
{
    entry.EndOfStream = true;
    entry.CloseError = error;
    entry.ClearInbox();
}

void TSocketLayer::Post(TSocketEntry& entry, std::uint32_t event, int error)
{
    const TSocket s = entry.Handle;
    TSocketEventSink* sink = entry.Sink;
    const std::uint32_t lParam = WSAMakeSelectReply(event, error);
    // A queued call is a posted event: delivered in posting order, nested loops included.
    QMetaObject::invokeMethod(
        Receiver.get(), [this, s, sink, lParam] { Deliver(s, sink, lParam); }, Qt::QueuedConnection);
}

void TSocketLayer::Deliver(TSocket s, TSocketEventSink* sink, std::uint32_t lParam)
{
    TSocketEntry* entry = Find(s);
    if (!entry)
        return;
    const std::uint32_t event = WSAGetSelectEvent(lParam);
    if (event == FD_READ)
        entry->ReadPending = false;
    if (entry->Sink != sink || !(entry->Mask & event)) {
        // Stale: the selection changed since posting. Whatever is still due goes to the current one.
        if (event == FD_ACCEPT)
            entry->AcceptPending = false;
        if (event == FD_CLOSE)
            entry->ClosePosted = false;
        if (entry->Phase == TSocketEntry::spConnected)
            PostDue(*entry);
        Rearm(*entry);
        return;
    }
    // The handler may close the socket, and its entry goes with it: it is looked up again after.
    sink->WMSocketEvent(s, lParam);
    if (TSocketEntry* after = Find(s); after && after->Phase == TSocketEntry::spConnected)
        PostCloseIfDue(*after);
}

void TSocketLayer::BeginLinger(TSocketEntry& entry)
{
    entry.Phase = TSocketEntry::spLingering;
    entry.LingerTimer.start(kLingerMilliseconds);
    AdvanceLinger(entry);
}

void TSocketLayer::AdvanceLinger(TSocketEntry& entry)
{
    // Graceful close: send what is queued, then our FIN, then wait for the peer's, discarding
    // what it still sends, so that closing never resets the connection under our last bytes.
    if (entry.QueuedBytes() == 0 && !entry.WriteShut) {
        ::shutdown(entry.Fd, SHUT_WR);
        entry.WriteShut = true;
    }
    if (entry.WriteShut && entry.EndOfStream)
        Destroy(entry);
    else
        Rearm(entry);
}

void TSocketLayer::Reserve()
{
    while (Reserved.size() < kReservedDescriptors) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        Reserved.push_back(fd);
    }
}

void TSocketLayer::ReleaseReserve()
{
    for (const int fd : Reserved)
        ::close(fd);
    Reserved.clear();
}

void TSocketLayer::Destroy(TSocketEntry& entry)
{
    entry.LingerTimer.stop();
    entry.CloseDescriptor();
    entry.Phase = TSocketEntry::spClosed;
    entry.deleteLater();
}
