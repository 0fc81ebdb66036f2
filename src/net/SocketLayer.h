#pragma once

#include "net/SocketAddress.h"
#include "net/SocketEventSink.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <vector>

class TSocketEntry;

inline constexpr TSocket INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// Our stand-in for Windows Sockets 1.1 with WSAAsyncSelect, on non-blocking POSIX sockets.
//
// Handles are small positive numbers never reused within the process (0 means "no socket").
// Events are posted to the event queue and reach the sink's WMSocketEvent in posting order,
// also inside nested event loops (modal boxes). An event whose socket was closed, or whose
// selection was cancelled, before it is delivered is dropped.
//
// Where it differs from Windows Sockets, it is on the side of not losing data: send() never takes less
// than it is given (the kernel's refusals are queued and flushed in order), and closesocket()
// on a connection closes gracefully in the background, so bytes sent just before it still
// leave. A connect that fails reports FD_CONNECT with its error in the high 16 bits.
// After an orderly end, FD_CLOSE comes only after every FD_READ before it has been handled, so
// no byte received before the close can be stranded behind it. An abortive end (a reset, a
// peer given up) is reported at once: what was received and not yet taken is dropped, as the
// kernel drops what it held, and FD_CLOSE waits for no FD_READ. Both queues are bounded:
// reading pauses while kInboxLimit bytes wait to be taken, and a peer that leaves more than
// kSendQueueLimit bytes queued for it is given up: its connection is reset and reported by
// FD_CLOSE with WSAECONNABORTED, like any other end of a connection.
//
// A failed accept() (out of descriptors, say) leaves the connection waiting, so the listener
// would be ready again at once: FD_ACCEPT then rests for kAcceptPauseMilliseconds. The layer
// holds kReservedDescriptors back for the process running out: a failure for want of one hands
// them over, so that the report of it can open what it needs (a box is a new window, whose
// buffer comes as a descriptor), and the next try can take the peer.
class TSocketLayer
{
public:
    TSocketLayer();
    ~TSocketLayer();
    TSocketLayer(const TSocketLayer&) = delete;
    TSocketLayer& operator=(const TSocketLayer&) = delete;

    TSocket socket(int family, int type, int protocol);
    int bind(TSocket s, const TSocketAddress& address);
    int listen(TSocket s, int backlog);
    TSocket accept(TSocket s, TSocketAddress* address);
    int connect(TSocket s, const TSocketAddress& address);
    int setsockopt(TSocket s, int level, int option, int value);
    int send(TSocket s, QByteArrayView bytes);
    // At most maxBytes of what was received, oldest first; empty when nothing is waiting.
    // Bytes left behind are announced by another FD_READ, as recv re-enables FD_READ in Windows Sockets.
    QByteArray recv(TSocket s, qsizetype maxBytes = kAllBytes);
    // For a reader that stopped with received bytes still in its own hands: FD_READ comes
    // again, and FD_CLOSE waits behind it.
    int RequestRead(TSocket s);
    int closesocket(TSocket s);
    int AsyncSelect(TSocket s, TSocketEventSink* sink, std::uint32_t mask);  // mask 0 cancels

    int WSAGetLastError() const { return LastError; }

    std::uint16_t LocalPort(TSocket s) const;  // host byte order; 0 when unknown

    // For tests and diagnostics.
    int OpenSockets() const { return static_cast<int>(Sockets.size()); }
    int LingeringSockets() const;
    std::uint64_t Wakeups() const { return WakeupCount; }
    qsizetype QueuedBytes(TSocket s) const;
    qsizetype InboxBytes(TSocket s) const;   // read from the kernel and not yet taken by recv
    qsizetype UnreadBytes(TSocket s) const;  // the same, with what the kernel still holds

    // How long a closed connection may take to hand over its last bytes.
    static constexpr int kLingerMilliseconds = 10000;
    // Bytes read per notification, so a flood cannot hold the thread.
    static constexpr qsizetype kReadBudget = 256 * 1024;
    // Received bytes the program has not taken yet beyond which reading pauses; the kernel
    // holds the rest.
    static constexpr qsizetype kInboxLimit = 4 * kReadBudget;
    // Bytes queued for a peer beyond which it counts as gone.
    static constexpr qsizetype kSendQueueLimit = 16 * 1024 * 1024;
    // How long a listener whose accept() failed stays unwatched.
    static constexpr int kAcceptPauseMilliseconds = 200;
    static constexpr int kReservedDescriptors = 4;
    static constexpr qsizetype kAllBytes = std::numeric_limits<qsizetype>::max();

private:
    TSocketEntry* Find(TSocket s) const;
    TSocketEntry* FindOrFail(TSocket s);
    int Fail(int code);
    int FailErrno(int err);

    void Watch(TSocketEntry& entry);
    void Rearm(TSocketEntry& entry);
    void OnReadable(TSocketEntry& entry);
    void OnWritable(TSocketEntry& entry);
    void AcceptReady(TSocketEntry& entry);
    void ConnectFinished(TSocketEntry& entry);
    void Drain(TSocketEntry& entry);
    bool Flush(TSocketEntry& entry);
    void PostDue(TSocketEntry& entry);
    void PostRead(TSocketEntry& entry);
    void PostCloseIfDue(TSocketEntry& entry);
    void EndAbruptly(TSocketEntry& entry, int error);
    void Abort(TSocketEntry& entry);
    void Post(TSocketEntry& entry, std::uint32_t event, int error);
    void Deliver(TSocket s, TSocketEventSink* sink, std::uint32_t lParam);
    void BeginLinger(TSocketEntry& entry);
    void AdvanceLinger(TSocketEntry& entry);
    void Destroy(TSocketEntry& entry);
    void Reserve();
    void ReleaseReserve();

    // Parent of every socket object and receiver of the posted events: when it goes, both go.
    std::unique_ptr<QObject> Receiver;
    std::map<TSocket, TSocketEntry*> Sockets;
    std::vector<int> Reserved;
    int LastError = 0;
    std::uint64_t WakeupCount = 0;
};
