#pragma once

#include "net/ConnectAttempts.h"
#include "net/DataPacket.h"
#include "net/HostLookup.h"
#include "net/Resolver.h"
#include "net/SocketAddress.h"
#include "net/SocketEventSink.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>

class TSocketLayer;

enum TConnectionState : std::int32_t { csNone = 0, csConnected = 1, csListening = 2, csConnecting = 3 };

// What the connection tells its owner. A handler may open a modal box, whose nested loop
// delivers further socket events meanwhile.
class TConnectionEvents
{
public:
    virtual ~TConnectionEvents() = default;
    // A name is being resolved: the state went to csConnecting.
    virtual void ConnectStarted() = 0;
    // The state is csConnected, by our connect or by a peer taken from the listener.
    virtual void ConnectCompleted() = 0;
    virtual void PeerAccepted() = 0;
    virtual void DispatchPacket(const TDataPacket& packet) = 0;
    // The state is back to csNone; the socket itself is closed right after.
    virtual void Closed(bool wasListening) = 0;
    // A socket call failed: its label and Windows Sockets error code.
    virtual void SocketFailed(QStringView label, int error) = 0;
    virtual void NameNotFound() = 0;
    // accept() failed for another reason than the peer having gone; it is tried again later.
    virtual void AcceptFailed() = 0;
};

struct TConnectionOptions
{
    // Listen for connections from this machine only: the window's own computer opponent.
    bool LoopbackOnly = false;
    // The system's resolver by default; a test gives its own answers. It runs on a thread.
    THostLookup::TResolve LookUpHost = TResolver::LookUpHost;
    // How long each address of the peer may take to answer.
    int ConnectTimeoutMilliseconds = TConnectAttempts::kAttemptMilliseconds;
};

enum TListenResult { lrListening, lrPortInUse, lrFailed };

// The one TCP connection to the other instance: connect, listen, accept, close, and the
// packets that travel on it. What the packets mean is the owner's business.
class TConnection : public TSocketEventSink
{
public:
    TConnection(TConnectionEvents& events, TSocketLayer& sockets, TConnectionOptions options = {});
    ~TConnection() override;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // An address literal is tried at once; a name is resolved first, off the window's thread.
    void Connect(const QString& address, std::uint16_t port);
    TListenResult Listen(std::uint16_t port);
    // Drops a lookup or attempts under way, and closes what is open.
    void CloseConnection();

    void SendPacket(const TDataPacket& packet);
    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override;

    TConnectionState State() const { return ConnectionState; }
    TSocket Socket() const { return Sock; }
    // As typed until connected, then as the socket has it; empty without a connection.
    const QString& PeerAddress() const { return Peer; }
    // The bound port while listening (tests listen on 0 for a free one), else 0.
    std::uint16_t LocalPort() const;
    bool ListensOnIPv6() const;

private:
    void ReceivePackets(TSocket socket);
    void AcceptPeer();
    void PeerClosed();
    void NameResolved(const QList<TSocketAddress>& addresses);
    void ConnectTo(const QList<TSocketAddress>& addresses);
    void AttemptWon(TSocket s, const TSocketAddress& address);
    void ConnectFailed(TConnectAttempts::TStep step, int error);
    TSocket OpenListener(std::uint16_t port);
    void Abandon(TSocket s, QStringView label);
    void BeginConnection(TSocket s);

    TConnectionEvents& Events;
    TSocketLayer& Sockets;
    const TConnectionOptions Options;
    TConnectionState ConnectionState = csNone;
    TSocket Sock = 0;
    TSocketAddress SockAddr;
    QString Peer;
    TPacketDecoder Decoder;
    std::unique_ptr<THostLookup> Lookup;
    std::unique_ptr<TConnectAttempts> Attempts;
    std::uint16_t PeerPort = 0;
};
