#pragma once

#include "net/SocketEventSink.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>

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

    int Fd;
    const TSocket Handle;
    TPhase Phase = spOpen;
    TSocketEventSink* Sink = nullptr;
    std::uint32_t Mask = 0;

    QByteArray Inbox;
    bool ReadPending = false;    // an FD_READ is posted and not yet delivered
    bool AcceptPending = false;  // an FD_ACCEPT is posted and accept() has not been called since
    bool ClosePosted = false;
    bool EndOfStream = false;    // EOF or a read error: nothing more will be read
    int CloseError = 0;
    bool WriteShut = false;

    QSocketNotifier ReadNotifier;
    QSocketNotifier WriteNotifier;
    QTimer LingerTimer;

private:
    QByteArray Outbox;
    qsizetype OutboxPos = 0;
};
