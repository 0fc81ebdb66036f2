#pragma once

#include "net/SocketEventSink.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <sys/types.h>

// The state of one socket of TSocketLayer. The layer decides; this object only holds the
// descriptor, its notifiers and its buffers, and closes the descriptor when it is destroyed.
// Destruction is always deferred (deleteLater), so a notifier never dies inside its own signal.
class TSocketEntry : public QObject
{
    Q_OBJECT

public:
    enum TPhase { spOpen, spListening, spConnecting, spConnected, spFailed, spLingering, spClosed };

    TSocketEntry(int fd, TSocket handle, QObject* parent);
    ~TSocketEntry() override;

    void CloseDescriptor();
    void SetWatching(bool read, bool write);

    // Bytes queued for sending, in order.
    qsizetype QueuedBytes() const { return Outbox.size() - OutboxPos; }
    QByteArrayView Queued() const { return QByteArrayView(Outbox).sliced(OutboxPos); }
    void Enqueue(QByteArrayView bytes) { Outbox.append(bytes.data(), bytes.size()); }
    void Consume(qsizetype count);
    void DropQueue();

    // Bytes received and not yet taken, in order. They are held in chunks of a fixed size, so
    // a full inbox never has to be moved or grown in one piece.
    qsizetype InboxBytes() const { return InboxSize; }
    ssize_t ReceiveIntoInbox(qsizetype count);  // recv's result; errno as recv left it
    QByteArray TakeInbox(qsizetype maxBytes);
    void ClearInbox();

    int Fd;
    const TSocket Handle;
    TPhase Phase = spOpen;
    TSocketEventSink* Sink = nullptr;
    std::uint32_t Mask = 0;

    bool ReadPending = false;    // an FD_READ is posted and not yet delivered
    bool AcceptPending = false;  // an FD_ACCEPT is posted and accept() has not been called since
    bool ClosePosted = false;
    bool EndOfStream = false;    // EOF or a read error: nothing more will be read
    int CloseError = 0;
    bool WriteShut = false;
    bool Aborted = false;        // given up on a peer that took nothing: no more sends
    bool EndedAbruptly() const { return EndOfStream && CloseError != 0; }

    QSocketNotifier ReadNotifier;
    QSocketNotifier WriteNotifier;
    QTimer LingerTimer;
    QTimer AcceptPause;  // while it runs, a listener whose accept failed is not watched

private:
    QByteArray Outbox;
    qsizetype OutboxPos = 0;
    std::deque<QByteArray> Inbox;
    qsizetype InboxFront = 0;  // bytes of the first chunk already taken
    qsizetype InboxSize = 0;
};
