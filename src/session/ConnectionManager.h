#pragma once

#include "net/ConnectAttempts.h"
#include "net/DataPacket.h"
#include "net/HostLookup.h"
#include "net/Resolver.h"
#include "net/SocketAddress.h"
#include "net/SocketEventSink.h"
#include "session/SessionWindow.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class TSession;
class TSocketLayer;

enum TConnectionState : std::int32_t { csNone = 0, csConnected = 1, csListening = 2, csConnecting = 3 };

// The one TCP connection to the other instance: connect, listen, accept, close, the socket
// events and the packets that travel on it.
class TConnectionManager : public TSocketEventSink
{
public:
    TConnectionManager(TSession& session, TSocketLayer& sockets);
    ~TConnectionManager() override;
    TConnectionManager(const TConnectionManager&) = delete;
    TConnectionManager& operator=(const TConnectionManager&) = delete;

    TConnectionState ConnectionState = csNone;
    TSocket Sock = 0;
    TSocketAddress SockAddr;
    QString PeerAddress;
    QString PortText;
    QString ListenStatusText;
    // Listen for connections from this machine only: the window's own computer opponent.
    bool LoopbackOnly = false;

    // The system's services by default; a test gives its own answers. The lookups run on a
    // thread of their own.
    THostLookup::TResolve LookUpHost = TResolver::LookUpHost;
    THostLookup::TResolveEntry LookUpHostEntry = [](const QString& name) { return TResolver::GetHostByName(name); };
    std::function<TInterfaceList()> ListInterfaces = TResolver::InterfaceAddresses;
    // How long each address of the peer may take to answer; tests shorten it.
    int ConnectTimeoutMilliseconds = TConnectAttempts::kAttemptMilliseconds;

    void ConnectToPeer();
    void StartListening();
    void AcceptPeer();
    void ConnectCompleted();
    void ConnectFailed(TConnectAttempts::TStep step, int error);
    void PeerClosed();
    void CloseConnection();
    void Disconnect1Click();
    void StopListening1Click();

    void WMSocketEvent(TSocket socket, std::uint32_t lParam) override;
    void ReceivePackets(TSocket socket);
    void SendPacket(TSocket socket, const TDataPacket& packet);
    void DispatchPacket(const TDataPacket& packet);
    void SendName();

    // The bound port while listening (tests listen on "0" for a free one), else 0.
    std::uint16_t LocalPort() const;

    // The listening status's address: the host name's, unless that is not known yet or a
    // loopback address the other player cannot reach; then the first IPv4 address of an
    // interface that is up.
    static QString ListenAddress(const QString& hostAddress, const TInterfaceList& interfaces);
    // The chat notice of the addresses the other player can use, IPv4 first.
    static QString AddressNotice(const TInterfaceList& interfaces, bool withIPv6);
    // A TCP service name, else a decimal 32-bit integer cut to its low 16 bits; else nullopt.
    static std::optional<std::uint16_t> PortFromText(const QString& text);
    // The four connection menu items of a state (the texts are left empty).
    static TStatusTexts ConnectionMenu(TConnectionState state);

private:
    void NameResolved(const QList<TSocketAddress>& addresses);
    void ConnectTo(const QList<TSocketAddress>& addresses);
    void AttemptWon(TSocket s, const TSocketAddress& address);
    void GiveUpConnecting(QStringView label);
    TSocket OpenListener(std::uint16_t port);
    void CloseKeepingError(TSocket s);
    void Abandon(TSocket s, QStringView label);
    void ReportPortText();
    void LookUpListenStatus();
    QString ListenStatus(const QString& hostName, const QString& dotted) const;
    void BeginConnection(TSocket s);
    void EndListening();

    TSession& Session;
    TSocketLayer& Sockets;
    TPacketDecoder Decoder;
    // The peer's name while connecting, this machine's while listening.
    std::unique_ptr<THostLookup> Lookup;
    std::unique_ptr<TConnectAttempts> Attempts;
    std::uint16_t PeerPort = 0;
    bool AcceptFailureShown = false;  // since listening began
};
