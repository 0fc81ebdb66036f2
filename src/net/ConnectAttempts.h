#pragma once

#include "net/SocketAddress.h"
#include "net/SocketEventSink.h"

#include <QList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TSocketLayer;

// Connecting to a peer that has several addresses, as RFC 8305 ("Happy Eyeballs") does it, so
// an address that never answers costs a quarter of a second instead of the kernel's two minutes:
// IPv6 and IPv4 take turns, a new attempt starts every kStaggerMilliseconds, or at once when
// the newest one failed, every attempt runs until one completes or its time is up, and the
// first to complete wins. The others are closed at once, most of them before their handshake
// is done. Destroying the attempts closes every socket and stops every timer they hold.
class TConnectAttempts : public TSocketEventSink
{
public:
    enum TStep { asSocket, asSelect, asConnect };  // the call that failed

    // The winner's socket, now the receiver's to select and to close.
    using TWon = std::function<void(TSocket s, const TSocketAddress& address)>;
    // Every attempt failed; the last failure. The attempts may be destroyed inside either call.
    using TLost = std::function<void(TStep step, int error)>;

    static constexpr int kStaggerMilliseconds = 250;
    static constexpr int kAttemptMilliseconds = 10000;

    TConnectAttempts(TSocketLayer& sockets, TWon won, TLost lost);
    ~TConnectAttempts() override;
    TConnectAttempts(const TConnectAttempts&) = delete;
    TConnectAttempts& operator=(const TConnectAttempts&) = delete;

    // Starts the first attempt. False when every address failed at once: then the last failure
    // is in LastStep and LastError, and TLost is not called.
    bool Start(const QList<TSocketAddress>& addresses, std::uint16_t port, int protocol,
               int attemptMilliseconds = kAttemptMilliseconds);
    TStep LastStep() const { return FailedStep; }
    int LastError() const { return FailedError; }

    // IPv6 first, then the families take turns, each in the given order.
    static QList<TSocketAddress> Interleave(const QList<TSocketAddress>& addresses);

    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override;

private:
    struct TAttempt
    {
        TSocket Sock = 0;
        TSocketAddress Address;
        std::unique_ptr<QTimer> Deadline;
    };

    void StartNext();
    bool StartOne(const TSocketAddress& address);
    void Fail(TStep step, int error);
    void Failed(TSocket s, int error);
    void Won(TSocket s);
    void CloseAll();

    TSocketLayer& Sockets;
    TWon OnWon;
    TLost OnLost;
    QList<TSocketAddress> Waiting;
    std::vector<TAttempt> Running;  // oldest first
    QTimer Stagger;
    int Protocol = 0;
    int AttemptMilliseconds = kAttemptMilliseconds;
    TStep FailedStep = asConnect;
    int FailedError = 0;
};
